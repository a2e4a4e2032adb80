// The demo's running account: what was sent, expected and received, and the lines that show
// each step and its outcome.
#pragma once

#include <cstdint>
#include <vector>

#include "demo_camera.h"
#include "vek_onvif_event.h"

namespace onvif_events
{

struct Tally {
    int eventsSent = 0;
    int reportsExpected = 0;
    int reportsReceived = 0;
    int eventsWrong = 0;
    int stepsFailed = 0;
};

// "== title", a step's heading.
void step(const char *title);
// Prints the reports of one event and checks them against what it should have given.
void judge(Tally &tally, const DemoEvent &event, const std::vector<OnvifAlarmReport> &reports);
// Prints a call's result; a failure counts as a failed step.
void checkStep(Tally &tally, const char *what, uint32_t result);

} // namespace onvif_events
