#include "demo_tally.h"

#include <cstdio>

#include "report_format.h"

namespace onvif_events
{

void step(const char *title)
{
    std::printf("\n== %s\n", title);
}

void judge(Tally &tally, const DemoEvent &event, const std::vector<OnvifAlarmReport> &reports)
{
    tally.reportsExpected += static_cast<int>(event.expected.size());
    tally.reportsReceived += static_cast<int>(reports.size());
    for (const OnvifAlarmReport &report : reports) {
        std::printf("     report  %s\n", formatReport(viewOf(report)).c_str());
    }
    bool ok = matchesExpected(reports, event.expected);
    if (!ok) {
        ++tally.eventsWrong;
    }
    std::printf("     %s (expected %s)\n", ok ? "ok" : "MISMATCH",
                describeExpected(event.expected).c_str());
}

void checkStep(Tally &tally, const char *what, uint32_t result)
{
    std::printf("  %s -> %s\n", what, resultText(result).c_str());
    if (result != VEK_ONVIF_OK) {
        ++tally.stepsFailed;
    }
}

} // namespace onvif_events
