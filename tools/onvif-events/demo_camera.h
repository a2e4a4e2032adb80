// The demonstration camera: a realistic topic set, the channel and input tables that go with it,
// and a scripted sequence of real-world-shaped events with the alarm reports each should give.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "recorder.h"

namespace onvif_events
{

// Content of the wstop:TopicSet element (tns1:, tt:, wstop: and xs: prefixes).
const std::string &demoTopicSet();

// Channels 1 and 2 (video source and its configuration) and two alarm inputs.
CameraTables demoTables();

struct ExpectedReport {
    uint32_t code = 0;
    uint32_t channel = 0;
    int32_t object = 0;
    uint32_t flags = 0;
};

struct DemoEvent {
    std::string description;
    std::string notificationMessage; // wsnt:NotificationMessage text as a camera sends it
    std::vector<ExpectedReport> expected;
};

// The scripted events; utcTime is written into each message.
std::vector<DemoEvent> demoEvents(const std::string &utcTime);

std::string describeExpected(const std::vector<ExpectedReport> &expected);
// True when the reports are exactly the expected ones, in order.
bool matchesExpected(const std::vector<OnvifAlarmReport> &reports,
                     const std::vector<ExpectedReport> &expected);

} // namespace onvif_events
