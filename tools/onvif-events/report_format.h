// The tool's words for the library's codes and its report lines: alarm names, status texts,
// one report as a table line or as a JSON object.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "vek_onvif_event.h"

namespace onvif_events
{

// Name of an alarm type code without its inactive offset ("motion" for 1 and 1001).
std::string alarmName(uint32_t code);
// True for the inactive form of a code (code + 1000).
bool isInactive(uint32_t code);
uint32_t baseCode(uint32_t code);
// Short text of a status code ("0 ok", "100 SOAP exchange failed", ...).
std::string resultText(uint32_t result);

// One report as the tool prints it.
struct ReportView {
    std::chrono::system_clock::time_point received; // when the tool received the report
    uint32_t channel = 0;
    uint32_t code = 0; // as reported (inactive forms included)
    int32_t objectValue = 0;
    int32_t extensionValue = 0;
    uint32_t flags = 0;
};
ReportView viewOf(const OnvifAlarmReport &report);
std::string formatReport(const ReportView &report);
// One JSON object: the UTC time the report was received, the camera's event-service URL and its
// name (camera: the name given, else the URL), how it came (via "notify" or "pull") and the
// report's fields.
std::string reportJson(const ReportView &report, const std::string &via, const std::string &url,
                       const std::string &camera);

} // namespace onvif_events
