// One camera's session with the event library against the camera simulator.
#include "library_session.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "vek_onvif_event.h"
#include "vek_platform.h"

namespace coexist
{
namespace
{

constexpr const char *kUser = "admin";
constexpr const char *kPassword = "secret";

// Cell motion on an analytics rule, as the simulator's topic set describes it.
std::string cellMotion(const char *state)
{
    return camsim::makeNotificationMessage(
        "tns1:RuleEngine/CellMotionDetector/Motion",
        std::string("<tt:Message UtcTime=\"2026-12-10T01:00:00Z\" PropertyOperation=\"Changed\">"
                    "<tt:Source>"
                    "<tt:SimpleItem Name=\"VideoSourceConfigurationToken\" Value=\"vsc1\"/>"
                    "<tt:SimpleItem Name=\"VideoAnalyticsConfigurationToken\" Value=\"vac1\"/>"
                    "<tt:SimpleItem Name=\"Rule\" Value=\"MotionRule\"/>"
                    "</tt:Source><tt:Data><tt:SimpleItem Name=\"IsMotion\" Value=\"") +
            state + "\"/></tt:Data></tt:Message>");
}

std::string codes(const OnvifAlarmReport *reports, uint32_t count)
{
    std::string text;
    for (uint32_t i = 0; i < count; ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(reports[i].AlarmType);
    }
    return "[" + text + "]";
}

// Frees the reports; empty when they are exactly one motion alarm.
std::string expectOneMotion(OnvifAlarmReport *reports, uint32_t count)
{
    std::string failure;
    if (reports == nullptr || count != 1 || reports[0].AlarmType != VEK_ALARM_MOTION) {
        failure = "expected one motion report, got " +
                  (reports == nullptr ? std::string("none") : codes(reports, count));
    }
    if (reports != nullptr) {
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), __FILE__, __LINE__);
    }
    return failure;
}

std::string status(const char *step, uint32_t code)
{
    return std::string(step) + " returned " + std::to_string(code);
}

// Subscribe, the camera pushes one Notify, the listener translates it,
// Unsubscribe.
std::string pushPath(camsim::CameraSim &camera, OnvifAlarmCfg &cfg)
{
    OnvifDevAccess access{};
    std::snprintf(access.szEventUrl, sizeof access.szEventUrl, "%s",
                  camera.eventServiceUrl().c_str());
    std::snprintf(access.szUserName, sizeof access.szUserName, "%s", kUser);
    std::snprintf(access.szPassword, sizeof access.szPassword, "%s", kPassword);
    OnvifSmartCaps caps{};
    OnvifSubInfo sub{};
    int32_t fd = -1;
    uint32_t code =
        VEK_Onvif_Subscribe(access.szEventUrl, VEK_ONVIF_SCOPE_COMMON, &access, &caps, &fd, &sub);
    if (code != VEK_ONVIF_OK || sub.ulCommonAlarmSub != 1 || fd < 0) {
        return status("Subscribe", code) + " (subscribed " + std::to_string(sub.ulCommonAlarmSub) +
               ", socket " + std::to_string(fd) + ")";
    }

    camsim::SendResult pushed;
    std::thread push([&] { pushed = camera.notify(1, {cellMotion("true")}); });
    OnvifAlarmInputList inputs{};
    OnvifAlarmReport *reports = nullptr;
    uint32_t count = 0;
    uint32_t connected = 0;
    // The listener never waits for a connection: poll for about three seconds.
    for (int i = 0; i < 300 && connected == 0; ++i) {
        reports = VEK_Onvif_Recv_Notify(fd, &cfg, &inputs, access.szEventUrl, &count, &connected);
        if (connected == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    push.join();
    std::string failure;
    if (connected != 1) {
        failure = "Recv_Notify: no connection (" + pushed.error + ")";
    } else if (pushed.status != 202) {
        failure = "Notify answered HTTP " + std::to_string(pushed.status);
    }
    std::string reportFailure = expectOneMotion(reports, count);
    if (failure.empty() && !reportFailure.empty()) {
        failure = "Recv_Notify: " + reportFailure;
    }
    code = VEK_Onvif_Unsubscribe(&fd, kUser, kPassword, VEK_ONVIF_SCOPE_COMMON, &sub);
    if (failure.empty() && code != VEK_ONVIF_OK) {
        failure = status("Unsubscribe", code);
    }
    return failure;
}

// A pull point: create, the camera queues one message, one pull.
std::string pullPath(camsim::CameraSim &camera, OnvifAlarmCfg &cfg)
{
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);
    if (soap == nullptr) {
        return "Event_Init made no context";
    }
    OnvifPullPoint pullPoint{};
    uint32_t code = VEK_Onvif_PullPoint_Create(soap, camera.eventServiceUrl().c_str(), kUser,
                                               kPassword, 60, &pullPoint);
    std::string failure;
    if (code != VEK_ONVIF_OK || pullPoint.pszAddress == nullptr) {
        failure = status("PullPoint_Create", code);
    } else {
        camera.queueMessage(cellMotion("true"));
        OnvifAlarmInputList inputs{};
        OnvifPullResult result{};
        code = VEK_Onvif_PullPoint_Pull(soap, &pullPoint, kUser, kPassword, 10, 1, &inputs, &cfg,
                                        &result);
        std::string reportFailure = expectOneMotion(result.pstAlarmReports, result.ulAlarmCount);
        if (code != VEK_ONVIF_OK) {
            failure = status("PullPoint_Pull", code);
        } else if (!reportFailure.empty()) {
            failure = "PullPoint_Pull: " + reportFailure;
        } else if ((code = VEK_Onvif_PullPoint_Unsubscribe(soap, &pullPoint, kUser, kPassword)) !=
                   VEK_ONVIF_OK) {
            failure = status("PullPoint_Unsubscribe", code);
        }
    }
    VEK_Onvif_PullPoint_Free(&pullPoint);
    VEK_Onvif_Event_Destroy(&soap);
    return failure;
}

} // namespace

std::string runLibrarySession()
{
    camsim::CameraSim camera;
    try {
        camera.start();
    } catch (const std::exception &error) {
        return std::string("camera simulator: ") + error.what();
    }
    OnvifAlarmCfg cfg{};
    uint32_t code =
        VEK_Onvif_GetEventProperties(camera.eventServiceUrl().c_str(), kUser, kPassword, &cfg);
    std::string failure;
    if (code != VEK_ONVIF_OK || cfg.PropeAlarmCount == 0) {
        failure = status("GetEventProperties", code) + " with " +
                  std::to_string(cfg.PropeAlarmCount) + " templates";
    }
    if (failure.empty()) {
        failure = pushPath(camera, cfg);
    }
    if (failure.empty()) {
        failure = pullPath(camera, cfg);
    }
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
    if (!failure.empty()) {
        // What the camera answered, for the report.
        for (const camsim::RecordedRequest &request : camera.requests()) {
            failure += "\n  camera: " + request.operation + " -> HTTP " +
                       std::to_string(request.responseStatus) +
                       (request.faultSubcode.empty() ? "" : " " + request.faultSubcode);
        }
    }
    return failure;
}

} // namespace coexist
