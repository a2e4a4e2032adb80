// The Notify hub's exported functions: one listening port for every
// camera, the subscription operations that point the cameras at it, and the
// poll that serves it.
#include <cstring>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "error_record.h"
#include "exchange.h"
#include "hub_cameras.h"
#include "hub_loop.h"
#include "hub_request.h"
#include "soapH.h"
#include "translate_notify.h"
#include "vek_hub_internal.h"
#include "vek_log.h"
#include "vek_onvif_event_soap.h"
#include "vek_subscription_internal.h"

namespace
{

constexpr const char *kPollFunc = "VEK_Onvif_Hub_Poll";
constexpr size_t kLocalAddrSize = 64;

// A random token that tells this hub's consumer addresses from those of an
// earlier run of the recorder.
std::string newGeneration()
{
    uint64_t token = 0;
    try {
        std::random_device device;
        token = (static_cast<uint64_t>(device()) << 32) | device();
    } catch (...) {
    }
    if (token == 0) {
        std::mt19937_64 fallback(
            static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
        token = fallback();
    }
    char text[17];
    (void)ZU_snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(token));
    return text;
}

} // namespace

struct OnvifNotifyHub final : vek::hub::RequestHandler {
    explicit OnvifNotifyHub(const char *ip)
        : address(ip != nullptr ? ip : ""), cameras(newGeneration())
    {
    }

    void serve(const vek::hub::Peer &peer, const vek::hub::RequestFrame &frame,
               std::string_view request, Reply &reply) override;
    void refused(const vek::hub::Peer &peer, const vek::hub::RequestFrame &frame,
                 vek::NotifyRefusal why) override;

    // The consumer address of a camera, with host as its host.
    std::string consumerAddress(const std::string &host, uint32_t id) const;

    const std::string address; // empty: every address of the recorder
    vek::hub::Loop loop;
    vek::hub::CameraTable cameras;
    vek::hub::RefusalLog refusalLog;
    // Reads each complete request; one context for every request of the hub.
    vek::hub::BufferedNotify reader{std::string_view()};
    // The reports of the poll in progress.
    std::vector<OnvifHubReport> reports;
};

// ---- Serving -----------------------------------------------------------------------------

void OnvifNotifyHub::serve(const vek::hub::Peer &peer, const vek::hub::RequestFrame &frame,
                           std::string_view request, Reply &reply)
{
    using vek::hub::Route;
    const auto now = std::chrono::steady_clock::now();
    const std::string &path = frame.path();
    vek::hub::Lease lease;
    Route route = cameras.route(path, peer.address, lease);
    if (route != Route::Camera) {
        if (refusalLog.shouldLog(path, now)) {
            const char *why = route == Route::OtherRun      ? "of an earlier run"
                              : route == Route::WrongSender ? "of another camera's address"
                                                            : "of no camera";
            VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kPollFunc,
                    "Notify refused: path %.256s is %s, from %s", path.c_str(), why, peer.text);
        }
        reply.send(vek::faultAnswer(vek::NotifyFault::UnknownPath, false), false);
        return;
    }
    vek::hub::BufferedNotify &parsed = reader;
    struct Release {
        vek::hub::BufferedNotify &reader;
        ~Release() { reader.release(); }
    } release{parsed};
    _ns7__Notify *notify = parsed.read(request);
    if (notify == nullptr) {
        if (refusalLog.shouldLog(path, now)) {
            VEK_SOAP_PUB_LogPrintImp(parsed.get(), vek::kEventSource, __LINE__, kPollFunc,
                                     "[Soap err:%ld]LogPrint: Failed to read a Notify, Path:%.256s",
                                     static_cast<long>(parsed.get()->error), path.c_str());
        }
        reply.send(vek::faultAnswer(vek::NotifyFault::NotNotify, false), false);
        return;
    }
    // The camera has delivered: it is answered before the translation,
    // whatever the messages give.
    reply.send(vek::acceptedAnswer(frame.keepAlive()), frame.keepAlive());
    const vek::hub::Camera &camera = *lease.camera();
    uint32_t count = 0;
    OnvifAlarmReport *translated = vek::alarm::translateNotify(camera.cfg, camera.inputs, notify,
                                                               &count, camera.initialStates);
    for (uint32_t i = 0; i < count; ++i) {
        OnvifHubReport report;
        report.ulCameraId = camera.id;
        report.stReport = translated[i];
        reports.push_back(report);
    }
    VEK_FREE(&translated);
}

void OnvifNotifyHub::refused(const vek::hub::Peer &peer, const vek::hub::RequestFrame &frame,
                             vek::NotifyRefusal why)
{
    // Before its request line is read a request has no path: its sender
    // stands in. Each kind of refusal has its line.
    const std::string key =
        (frame.path().empty() ? std::string("from ") + peer.text : frame.path()) + " " +
        std::to_string(static_cast<int>(why));
    if (!refusalLog.shouldLog(key, std::chrono::steady_clock::now())) {
        return;
    }
    switch (why) {
    case vek::NotifyRefusal::Oversized:
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kPollFunc,
                "Notify refused: larger than %u bytes, from %s",
                static_cast<unsigned>(vek::kNotifyMaxBytes), peer.text);
        break;
    case vek::NotifyRefusal::BadLength:
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kPollFunc,
                "Notify refused: Content-Length or chunk size is not a size in bytes, from %s",
                peer.text);
        break;
    case vek::NotifyRefusal::TooSlow:
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kPollFunc,
                "Notify refused: not complete within %d s, from %s", vek::kNotifyTimeoutSeconds,
                peer.text);
        break;
    case vek::NotifyRefusal::None:
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kPollFunc,
                "Notify refused: not an HTTP request, from %s", peer.text);
        break;
    }
}

std::string OnvifNotifyHub::consumerAddress(const std::string &host, uint32_t id) const
{
    const bool v6 = host.find(':') != std::string::npos;
    return std::string("http://") + (v6 ? "[" : "") + host + (v6 ? "]" : "") + ":" +
           std::to_string(loop.port()) + std::string(vek::hub::kNotifyPathPrefix) +
           std::to_string(id) + "/" + cameras.generation();
}

void vek::hub::setLimits(OnvifNotifyHub *hub, const LoopLimits &limits)
{
    hub->loop.setLimits(limits);
}

size_t vek::hub::openConnections(const OnvifNotifyHub *hub)
{
    return hub->loop.openConnections();
}

std::string vek::hub::consumerAddress(const OnvifNotifyHub *hub, const std::string &host,
                                      uint32_t id)
{
    return hub->consumerAddress(host, id);
}

// ---- Subscription through the hub -------------------------------------------------------

namespace
{

// The recorder's address that the camera is given: the hub's own, or,
// when the hub listens on every address, the one the recorder reaches the
// camera from.
uint32_t localAddressFor(const OnvifNotifyHub *hub, const std::string &eventUrl, std::string &local,
                         const char *func)
{
    if (!hub->address.empty()) {
        local = hub->address;
        return VEK_ONVIF_OK;
    }
    char text[kLocalAddrSize];
    std::memset(text, 0, sizeof text);
    uint32_t code = TAV_GetLocalSockAddr(const_cast<char *>(eventUrl.c_str()), text);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, func, "Failed to get LocalAddr.");
        vek::noteFailure(VEK_ONVIF_FAIL_LOCAL,
                         "the recorder's address towards the camera is not known");
        return code;
    }
    text[kLocalAddrSize - 1] = '\0';
    local = text;
    return VEK_ONVIF_OK;
}

uint32_t noSuchCamera(uint32_t id, const char *func)
{
    VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, func, "No camera %u at this hub.",
            static_cast<unsigned>(id));
    return VEK_ONVIF_ERR_PARAM;
}

// The checks Renew and Unsubscribe share: the arguments, then what the hub
// kept of the camera's subscriptions. 0, or the code to return.
uint32_t keptForRequest(OnvifNotifyHub *hub, uint32_t id, const char *user, const char *password,
                        uint32_t scope, bool argumentsValid, const char *func,
                        vek::KeptSubscription (&kept)[2])
{
    if (!argumentsValid || hub == nullptr || user == nullptr || password == nullptr ||
        scope > VEK_ONVIF_SCOPE_SMART) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, func, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    std::string eventUrl;
    return hub->cameras.kept(id, eventUrl, kept) ? VEK_ONVIF_OK : noSuchCamera(id, func);
}

bool wantsScope(uint32_t scope, size_t which)
{
    return scope == VEK_ONVIF_SCOPE_BOTH ||
           scope == (which == vek::kKeptCommon ? VEK_ONVIF_SCOPE_COMMON : VEK_ONVIF_SCOPE_SMART);
}

uint32_t hubSubscribe(OnvifNotifyHub *hub, uint32_t id, uint32_t scope, OnvifDevAccess *access,
                      OnvifSmartCaps *caps, OnvifSubInfo *subInfo)
{
    constexpr const char *kFunc = "VEK_Onvif_Hub_Subscribe";
    if (hub == nullptr || access == nullptr || caps == nullptr || subInfo == nullptr ||
        !vek::validAccess(access)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    std::string eventUrl;
    vek::KeptSubscription kept[2];
    if (!hub->cameras.kept(id, eventUrl, kept)) {
        return noSuchCamera(id, kFunc);
    }
    std::string local;
    uint32_t code = localAddressFor(hub, eventUrl, local, kFunc);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    const std::string consumer = hub->consumerAddress(local, id);
    vek::SubscribeConsumer target;
    target.localAddr = local.c_str();
    target.hubAddress = consumer.c_str();
    target.kept = kept;
    code = vek::subscribeScopes(kFunc, target, scope, access, caps, subInfo);
    (void)hub->cameras.keep(id, kept);
    return code;
}

uint32_t hubRenew(OnvifNotifyHub *hub, uint32_t id, const char *user, const char *password,
                  uint32_t scope)
{
    constexpr const char *kFunc = "VEK_Onvif_Hub_Renew";
    vek::KeptSubscription kept[2];
    if (uint32_t code = keptForRequest(hub, id, user, password, scope, true, kFunc, kept)) {
        return code;
    }
    // Scope by scope, the common alarms first; the first failure ends it.
    bool renewed = false;
    for (size_t which : {vek::kKeptCommon, vek::kKeptSmart}) {
        if (!wantsScope(scope, which) || kept[which].address.empty()) {
            continue;
        }
        renewed = true;
        uint32_t code = vek::renewOnce(kept[which].address.c_str(), kept[which].reference.c_str(),
                                       user, password);
        if (code != VEK_ONVIF_OK) {
            return code;
        }
    }
    if (!renewed) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc,
                "No subscription of camera %u to renew.", static_cast<unsigned>(id));
        vek::noteFailure(VEK_ONVIF_FAIL_ARGUMENT, "no kept subscription of that scope to renew");
        return VEK_ONVIF_ERR_FAIL;
    }
    return VEK_ONVIF_OK;
}

uint32_t hubUnsubscribe(OnvifNotifyHub *hub, uint32_t id, const char *user, const char *password,
                        uint32_t scope, OnvifSubInfo *subInfo)
{
    constexpr const char *kFunc = "VEK_Onvif_Hub_Unsubscribe";
    const bool flagged =
        subInfo != nullptr && (subInfo->ulCommonAlarmSub != 0 || subInfo->ulSmartDataSub != 0);
    vek::KeptSubscription kept[2];
    if (uint32_t code = keptForRequest(hub, id, user, password, scope, flagged, kFunc, kept)) {
        return code;
    }
    uint32_t result = VEK_ONVIF_ERR_FAIL;
    vek::noteFailure(VEK_ONVIF_FAIL_ARGUMENT, "no flagged subscription of that scope to end");
    const uint32_t flags[2] = {subInfo->ulCommonAlarmSub, subInfo->ulSmartDataSub};
    for (size_t which : {vek::kKeptCommon, vek::kKeptSmart}) {
        if (!wantsScope(scope, which) || flags[which] != 1 || kept[which].address.empty()) {
            continue;
        }
        vek::Exchange exchange;
        result = vek::unsubscribeOnce(exchange, kept[which].address.c_str(),
                                      kept[which].reference.c_str(), user, password);
        // Whatever the camera answered, the hub keeps it no longer.
        kept[which] = {};
    }
    (void)hub->cameras.keep(id, kept);
    return result;
}

} // namespace

// ---- The interface -----------------------------------------------------------------------

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Hub_Create(const char *pszIpAddr, uint16_t usPort,
                                                       OnvifNotifyHub **ppHub)
{
    constexpr const char *kFunc = "VEK_Onvif_Hub_Create";
    vek::OperationRecord record(kFunc);
    if (ppHub == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    auto *hub = new (std::nothrow) OnvifNotifyHub(pszIpAddr);
    if (hub == nullptr) {
        return record.finish(VEK_ONVIF_ERR_NOMEM);
    }
    if (!hub->loop.open(pszIpAddr, usPort)) {
        const char *where = pszIpAddr != nullptr ? pszIpAddr : "every address";
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Failed to listen at %s, port %u.",
                where, static_cast<unsigned>(usPort));
        vek::noteFailure(VEK_ONVIF_FAIL_LOCAL, std::string("no port to listen on at ") + where);
        delete hub;
        return record.finish(VEK_ONVIF_ERR_FAIL);
    }
    *ppHub = hub;
    return record.finish(VEK_ONVIF_OK);
}

extern "C" VEK_ONVIF_API uint16_t VEK_Onvif_Hub_GetPort(const OnvifNotifyHub *pHub)
{
    return pHub != nullptr ? pHub->loop.port() : 0;
}

extern "C" VEK_ONVIF_API int32_t VEK_Onvif_Hub_GetFd(const OnvifNotifyHub *pHub)
{
    return pHub != nullptr ? pHub->loop.fd() : -1;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Hub_AddCamera(OnvifNotifyHub *pHub,
                                                          const char *pszEventUrl,
                                                          OnvifAlarmCfg *pstCfg,
                                                          OnvifAlarmInputList *pstInputs,
                                                          uint32_t ulFlags, uint32_t *pulCameraId)
{
    constexpr const char *kFunc = "VEK_Onvif_Hub_AddCamera";
    if (pHub == nullptr || pszEventUrl == nullptr || pstCfg == nullptr || pstInputs == nullptr ||
        pulCameraId == nullptr || (ulFlags & ~VEK_ONVIF_HUB_INITIAL_STATES) != 0) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t code = pHub->cameras.add(pszEventUrl, pstCfg, pstInputs,
                                      (ulFlags & VEK_ONVIF_HUB_INITIAL_STATES) != 0, pulCameraId);
    if (code == VEK_ONVIF_ERR_PARAM) {
        VEK_LOG(vek::kLevelError, code, kFunc,
                "The camera's event URL %.256s names no numeric address.", pszEventUrl);
    } else if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "No camera id is left at this hub.");
    }
    return code;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Hub_RemoveCamera(OnvifNotifyHub *pHub,
                                                             uint32_t ulCameraId)
{
    constexpr const char *kFunc = "VEK_Onvif_Hub_RemoveCamera";
    if (pHub == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    return pHub->cameras.remove(ulCameraId) ? VEK_ONVIF_OK : noSuchCamera(ulCameraId, kFunc);
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Hub_Subscribe(OnvifNotifyHub *pHub, uint32_t ulCameraId,
                                                          uint32_t ulScope,
                                                          OnvifDevAccess *pstAccess,
                                                          OnvifSmartCaps *pstCaps,
                                                          OnvifSubInfo *pstSub)
{
    vek::OperationRecord record("VEK_Onvif_Hub_Subscribe");
    return record.finish(hubSubscribe(pHub, ulCameraId, ulScope, pstAccess, pstCaps, pstSub));
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Hub_Renew(OnvifNotifyHub *pHub, uint32_t ulCameraId,
                                                      const char *pszUser, const char *pszPassword,
                                                      uint32_t ulScope)
{
    vek::OperationRecord record("VEK_Onvif_Hub_Renew");
    return record.finish(hubRenew(pHub, ulCameraId, pszUser, pszPassword, ulScope));
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Hub_Unsubscribe(OnvifNotifyHub *pHub,
                                                            uint32_t ulCameraId,
                                                            const char *pszUser,
                                                            const char *pszPassword,
                                                            uint32_t ulScope, OnvifSubInfo *pstSub)
{
    vek::OperationRecord record("VEK_Onvif_Hub_Unsubscribe");
    return record.finish(hubUnsubscribe(pHub, ulCameraId, pszUser, pszPassword, ulScope, pstSub));
}

extern "C" VEK_ONVIF_API OnvifHubReport *
VEK_Onvif_Hub_Poll(OnvifNotifyHub *pHub, int32_t s32TimeoutMs, uint32_t *pulReportCount)
{
    if (pHub == nullptr || pulReportCount == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kPollFunc, "Invalid input Param.");
        return nullptr;
    }
    *pulReportCount = 0;
    pHub->reports.clear();
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(s32TimeoutMs > 0 ? s32TimeoutMs : 0);
    pHub->loop.run(until, *pHub, [&] { return !pHub->reports.empty(); });
    if (pHub->reports.empty()) {
        return nullptr;
    }
    auto *array =
        static_cast<OnvifHubReport *>(VEK_ALLOC(pHub->reports.size() * sizeof(OnvifHubReport)));
    if (array == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, kPollFunc,
                "Failed to allocate %zu reports; they are lost.", pHub->reports.size());
        return nullptr;
    }
    std::memcpy(array, pHub->reports.data(), pHub->reports.size() * sizeof(OnvifHubReport));
    *pulReportCount = static_cast<uint32_t>(pHub->reports.size());
    pHub->reports.clear();
    return array;
}

extern "C" VEK_ONVIF_API void VEK_Onvif_Hub_Destroy(OnvifNotifyHub **ppHub)
{
    if (ppHub == nullptr || *ppHub == nullptr) {
        return;
    }
    delete *ppHub;
    *ppHub = nullptr;
}
