#include "report_format.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace onvif_events
{

namespace
{

// Local wall-clock time of day, HH:MM:SS.mmm, for the table lines.
std::string timeOfDay(std::chrono::system_clock::time_point at)
{
    std::time_t t = std::chrono::system_clock::to_time_t(at);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()) % 1000;
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    char out[40];
    std::snprintf(out, sizeof out, "%s.%03d", buf, static_cast<int>(ms.count()));
    return out;
}

// UTC date and time, e.g. 2026-12-10T01:02:03.456Z, for JSON lines that are kept and compared
// across days and machines.
std::string utcTimestamp(std::chrono::system_clock::time_point at)
{
    std::time_t t = std::chrono::system_clock::to_time_t(at);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()) % 1000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", buf, static_cast<int>(ms.count()));
    return out;
}

} // namespace

bool isInactive(uint32_t code)
{
    return code >= VEK_ALARM_INACTIVE_OFFSET && code != VEK_ALARM_FACE_ATTRIBUTES;
}

uint32_t baseCode(uint32_t code)
{
    return isInactive(code) ? code - VEK_ALARM_INACTIVE_OFFSET : code;
}

std::string alarmName(uint32_t code)
{
    switch (baseCode(code)) {
    case VEK_ALARM_MOTION:
        return "motion";
    case VEK_ALARM_TAMPER:
        return "tampering";
    case VEK_ALARM_DIGITAL_INPUT:
        return "digital input";
    case VEK_ALARM_SOUND:
        return "sound";
    case VEK_ALARM_LINE_CROSSED:
        return "line crossed";
    case VEK_ALARM_FACE_RECOGNISED:
        return "face recognised";
    case VEK_ALARM_OBJECTS_INSIDE:
        return "objects inside";
    case VEK_ALARM_IMAGE_BLURRY:
        return "image too blurry";
    case VEK_ALARM_SCENE_CHANGE_ANALYTICS:
        return "scene change";
    case VEK_ALARM_SMART_TRACKING:
        return "smart tracking";
    case VEK_ALARM_CARE_ARTICLE:
        return "care article";
    case VEK_ALARM_REMAIN_ARTICLE:
        return "remain article";
    case VEK_ALARM_HUMAN_SHAPE:
        return "human shape";
    case VEK_ALARM_DOORBELL:
        return "doorbell";
    case VEK_ALARM_NO_MASK:
        return "no mask";
    case VEK_ALARM_ABNORMAL_TEMPERATURE:
        return "abnormal temperature";
    case VEK_ALARM_ILLEGAL_LOGIN:
        return "illegal login";
    case VEK_ALARM_ANALYTICS_CONFIG:
        return "analytics configuration";
    case VEK_ALARM_FACE_ATTRIBUTES:
        return "face attributes";
    default:
        return "unknown";
    }
}

std::string resultText(uint32_t result)
{
    const char *text = "unknown";
    switch (result) {
    case VEK_ONVIF_OK:
        text = "ok";
        break;
    case VEK_ONVIF_ERR_SHA1:
        text = "SHA-1 state corrupted";
        break;
    case VEK_ONVIF_ERR_SOAP:
        text = "SOAP exchange failed";
        break;
    case VEK_ONVIF_ERR_NULL:
        text = "null argument";
        break;
    case VEK_ONVIF_ERR_PARAM:
        text = "invalid argument";
        break;
    case VEK_ONVIF_ERR_NOMEM:
        text = "out of memory";
        break;
    case VEK_ONVIF_ERR_FAIL:
        text = "failed";
        break;
    default:
        break;
    }
    return std::to_string(result) + " " + text;
}

ReportView viewOf(const OnvifAlarmReport &report)
{
    ReportView view;
    view.received = std::chrono::system_clock::now();
    view.channel = report.Channel;
    view.code = report.AlarmType;
    view.objectValue = report.ObjectValue;
    view.extensionValue = report.ExtensionValue;
    view.flags = report.AttributeFlags;
    return view;
}

std::string formatReport(const ReportView &r)
{
    std::string flags;
    if ((r.flags & VEK_ALARM_FLAG_NO_MASK) != 0) {
        flags += "no-mask";
    }
    if ((r.flags & VEK_ALARM_FLAG_ABNORMAL_TEMPERATURE) != 0) {
        flags += flags.empty() ? "abnormal-temp" : "+abnormal-temp";
    }
    char line[200];
    std::snprintf(line, sizeof line, "%s  ch %-2u  %-22s %5u  %-8s  object %-4d  flags %s",
                  timeOfDay(r.received).c_str(), r.channel, alarmName(r.code).c_str(), r.code,
                  isInactive(r.code) ? "inactive" : "active", r.objectValue,
                  flags.empty() ? "-" : flags.c_str());
    std::string text = line;
    if (r.extensionValue != 0) {
        text += "  extension " + std::to_string(r.extensionValue);
    }
    return text;
}

std::string reportJson(const ReportView &r, const std::string &via, const std::string &url,
                       const std::string &camera)
{
    nlohmann::json j;
    j["time"] = utcTimestamp(r.received);
    j["camera"] = camera;
    j["url"] = url;
    j["via"] = via;
    j["channel"] = r.channel;
    j["code"] = r.code;
    j["alarm"] = alarmName(r.code);
    j["active"] = !isInactive(r.code);
    j["object"] = r.objectValue;
    j["extension"] = r.extensionValue;
    j["flags"] = r.flags;
    j["no_mask"] = (r.flags & VEK_ALARM_FLAG_NO_MASK) != 0;
    j["abnormal_temperature"] = (r.flags & VEK_ALARM_FLAG_ABNORMAL_TEMPERATURE) != 0;
    return j.dump();
}

} // namespace onvif_events
