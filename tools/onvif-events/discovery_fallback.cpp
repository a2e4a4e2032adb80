#include "discovery_fallback.h"

#include <cstring>

namespace onvif_events
{

namespace
{

constexpr uint32_t kNotImplemented = 501;

// The subcode without its namespace prefix ("ActionNotSupported" of "ter:ActionNotSupported").
std::string localName(const char *subcode)
{
    const char *colon = std::strrchr(subcode, ':');
    return colon != nullptr ? colon + 1 : subcode;
}

} // namespace

std::string topicTableReason(const Outcome &discovery, const OnvifAlarmCfg &cfg)
{
    if (discovery.ok()) {
        return cfg.PropeAlarmCount == 0 ? "gave no known alarm topic" : "";
    }
    const OnvifErrorInfo &why = discovery.why;
    if (why.ulKind != VEK_ONVIF_FAIL_HTTP && why.ulKind != VEK_ONVIF_FAIL_FAULT) {
        return "";
    }
    if (localName(why.szFaultSubcode) == "ActionNotSupported") {
        return std::string("answered ") + why.szFaultSubcode;
    }
    if (why.ulHttpStatus == kNotImplemented) {
        return "answered HTTP 501";
    }
    return "";
}

} // namespace onvif_events
