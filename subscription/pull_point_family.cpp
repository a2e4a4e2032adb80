// The pull point with its whole subscription reference: create, pull in
// batches with a long-poll wait, renew, unsubscribe, synchronization point,
// free. Every request to the pull point carries the reference parameters
// as header blocks; every call works in the caller's context and cleans it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "context_registry.h"
#include "date_time.h"
#include "exchange.h"
#include "pull_point_reference.h"
#include "response_capture.h"
#include "soapH.h"
#include "translate_notify.h"
#include "vek_log.h"
#include "vek_onvif_event.h"
#include "vek_text.h"

namespace
{

constexpr uint32_t kMaxMessageLimit = 1024;
constexpr uint32_t kMaxPullTimeout = 3600;
// Time allowed beyond the long-poll wait for the answer to arrive.
constexpr int kReceiveMargin = 10;
// Bytes of the CreatePullPointSubscription answer kept for reading the
// namespaces the reference parameters inherit.
constexpr size_t kCaptureLimit = 1024 * 1024;
constexpr const char *kSyncAction =
    "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/SetSynchronizationPointRequest";

// An xsd:duration of whole seconds, in the context.
char *durationText(struct soap *soap, uint32_t seconds)
{
    char text[24];
    std::snprintf(text, sizeof text, "PT%uS", static_cast<unsigned>(seconds));
    return soap_strdup(soap, text);
}

// A copy of text on the platform heap; null when the heap is exhausted.
char *heapCopy(std::string_view text)
{
    auto *copy = static_cast<char *>(VEK_ALLOC(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.data(), text.size());
        copy[text.size()] = '\0';
    }
    return copy;
}

bool mentions(const char *text, const char *word)
{
    return text != nullptr && std::strstr(text, word) != nullptr;
}

// Whether a failed call means the pull point is gone at the camera: HTTP
// 404, or a fault naming an unknown resource or an invalid argument (what
// cameras answer for a pull point they no longer hold).
bool pullPointGone(struct soap *soap)
{
    if (soap->error == 404) {
        return true;
    }
    const char *texts[] = {soap_fault_subcode(soap), soap_fault_detail(soap),
                           soap_fault_string(soap)};
    for (const char *text : texts) {
        if (mentions(text, "ResourceUnknown") || mentions(text, "InvalidArgVal")) {
            return true;
        }
    }
    return false;
}

bool validPullPoint(const OnvifPullPoint *pullPoint)
{
    return pullPoint != nullptr && pullPoint->pszAddress != nullptr &&
           pullPoint->pszAddress[0] != '\0';
}

// The frame of a request to the pull point: the headers of action and the
// reference parameters. 0 or the code to return.
uint32_t frameAtPullPoint(vek::Exchange &exchange, const OnvifPullPoint *pullPoint,
                          const char *user, const char *password, uint32_t action, const char *func)
{
    uint32_t code = exchange.addHeaders(
        user, password, vek::Security::Always, action, pullPoint->pszAddress,
        {func, "VEK_Onvif_EncryptHeader is failed.", "VEK_Onvif_HeaderEnc is failed.", true});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    if (pullPoint->pszReference != nullptr &&
        !exchange.addReferenceParameters(pullPoint->pszReference)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, func,
                "Failed to add the reference parameters.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    return VEK_ONVIF_OK;
}

// Calls the stub at the pull point: 0, 112 when the camera says the pull
// point is gone, else 100.
template <typename Stub>
uint32_t callPullPoint(vek::Exchange &exchange, Stub &stub, const vek::CallFailureLog &log,
                       const char *address)
{
    if (exchange.call(stub, log, address) == SOAP_OK) {
        return VEK_ONVIF_OK;
    }
    return pullPointGone(exchange.soap()) ? VEK_ONVIF_ERR_FAIL : VEK_ONVIF_ERR_SOAP;
}

// The arguments every request to an existing pull point needs; a refusal
// is logged for func.
bool acceptedArguments(struct soap *soap, const OnvifPullPoint *pullPoint, const char *user,
                       const char *password, const char *func)
{
    if (soap == nullptr || !validPullPoint(pullPoint) || user == nullptr || password == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, func, "Invalid input Param.");
        return false;
    }
    return true;
}

// Raises the context's receive time-out to at least seconds for one call
// and restores it. (A negative time-out counts microseconds.)
class ReceiveTimeout
{
  public:
    ReceiveTimeout(struct soap *soap, int seconds) : soap_(soap), saved_(soap->recv_timeout)
    {
        soap_->recv_timeout = std::max(saved_, seconds);
    }
    ~ReceiveTimeout() { soap_->recv_timeout = saved_; }
    ReceiveTimeout(const ReceiveTimeout &) = delete;
    ReceiveTimeout &operator=(const ReceiveTimeout &) = delete;

  private:
    struct soap *soap_;
    int saved_;
};

int64_t clockOffset(const char *currentTime)
{
    std::optional<int64_t> camera = vek::parseDateTime(currentTime);
    return camera ? *camera - static_cast<int64_t>(std::time(nullptr)) : 0;
}

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Create(struct soap *soap, const char *url,
                                                             const char *user, const char *password,
                                                             uint32_t terminationSeconds,
                                                             OnvifPullPoint *pullPoint)
{
    constexpr const char *kFunc = "VEK_Onvif_PullPoint_Create";
    if (!vek::acceptCallerContext(soap, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    if (soap == nullptr || url == nullptr || url[0] == '\0' || user == nullptr ||
        password == nullptr || pullPoint == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange(soap);
    uint32_t code = exchange.addHeaders(
        user, password, vek::Security::Always, VEK_ONVIF_ACTION_CREATE_PULL_POINT, url,
        {kFunc, "VEK_Onvif_EncryptHeader is failed.", "VEK_Onvif_HeaderEnc is failed.", true});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns1__CreatePullPointSubscription request;
    _ns1__CreatePullPointSubscriptionResponse response;
    if (terminationSeconds != 0 &&
        (request.InitialTerminationTime = durationText(soap, terminationSeconds)) == nullptr) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    vek::ResponseCapture capture(soap, kCaptureLimit);
    auto stub = [&](struct soap *s) {
        return soap_call___ns12__CreatePullPointSubscription(s, url, nullptr, &request, &response);
    };
    if (exchange.call(stub,
                      {kFunc, "Failed to create pull point subscription, url:%s.",
                       vek::CallFailureLog::Form::Plain},
                      url) != SOAP_OK) {
        return VEK_ONVIF_ERR_SOAP;
    }
    const wsa5__EndpointReferenceType *reference = response.SubscriptionReference;
    std::string_view address = reference != nullptr && reference->Address != nullptr
                                   ? vek::trimXmlSpace(reference->Address)
                                   : std::string_view();
    if (address.empty()) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_SOAP, kFunc,
                "The answer names no pull point, url:%s.", url);
        return VEK_ONVIF_ERR_SOAP;
    }
    std::string parameters =
        vek::pullPointReference(reference->ReferenceParameters, capture.text());
    if (parameters.size() > vek::kMaxPullPointReference) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc,
                "The pull point's reference is too long: %zu bytes (at most %zu).",
                parameters.size(), vek::kMaxPullPointReference);
        return VEK_ONVIF_ERR_FAIL;
    }
    OnvifPullPoint created{};
    created.pszAddress = heapCopy(address);
    created.pszReference = parameters.empty() ? nullptr : heapCopy(parameters);
    if (created.pszAddress == nullptr || (!parameters.empty() && created.pszReference == nullptr)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, kFunc, "fail to malloc.");
        VEK_Onvif_PullPoint_Free(&created);
        return VEK_ONVIF_ERR_NOMEM;
    }
    created.s64TerminationTime = vek::parseDateTime(response.ns7__TerminationTime).value_or(0);
    created.s64ClockOffset = clockOffset(response.ns7__CurrentTime);
    created.ulFlags = pullPoint->ulFlags;
    *pullPoint = created;
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API uint32_t
VEK_Onvif_PullPoint_Pull(struct soap *soap, const OnvifPullPoint *pullPoint, const char *user,
                         const char *password, uint32_t messageLimit, uint32_t timeoutSeconds,
                         OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg, OnvifPullResult *result)
{
    constexpr const char *kFunc = "VEK_Onvif_PullPoint_Pull";
    if (result != nullptr) {
        result->pstAlarmReports = nullptr;
        result->ulAlarmCount = 0;
    }
    if (!vek::acceptCallerContext(soap, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    if (soap == nullptr || !validPullPoint(pullPoint) || user == nullptr || password == nullptr ||
        inputs == nullptr || cfg == nullptr || result == nullptr || messageLimit < 1 ||
        messageLimit > kMaxMessageLimit || timeoutSeconds > kMaxPullTimeout) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange(soap);
    uint32_t code = frameAtPullPoint(exchange, pullPoint, user, password,
                                     VEK_ONVIF_ACTION_PULL_MESSAGES, kFunc);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns1__PullMessages request;
    _ns1__PullMessagesResponse response;
    request.MessageLimit = static_cast<int>(messageLimit);
    if ((request.Timeout = durationText(soap, timeoutSeconds)) == nullptr) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    ReceiveTimeout wait(soap, static_cast<int>(timeoutSeconds) + kReceiveMargin);
    const char *address = pullPoint->pszAddress;
    auto stub = [&](struct soap *s) {
        return soap_call___ns11__PullMessages(s, address, nullptr, &request, &response);
    };
    if ((code = callPullPoint(
             exchange, stub,
             {kFunc, "Failed to pull messages, url:%s.", vek::CallFailureLog::Form::RuntimeUrlOnly},
             address)) != VEK_ONVIF_OK) {
        return code;
    }
    if (response.ns7__NotificationMessage == nullptr || response.__sizeNotificationMessage <= 0) {
        return VEK_ONVIF_OK;
    }
    _ns7__Notify notify;
    notify.__sizeNotificationMessage = response.__sizeNotificationMessage;
    notify.NotificationMessage = response.ns7__NotificationMessage;
    uint32_t count = 0;
    OnvifAlarmReport *reports = vek::alarm::translateNotify(
        cfg, inputs, &notify, &count, (pullPoint->ulFlags & VEK_ONVIF_PULL_INITIAL_STATES) != 0);
    result->pstAlarmReports = reports;
    result->ulAlarmCount = reports != nullptr ? count : 0;
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Renew(struct soap *soap,
                                                            OnvifPullPoint *pullPoint,
                                                            const char *user, const char *password,
                                                            uint32_t terminationSeconds)
{
    constexpr const char *kFunc = "VEK_Onvif_PullPoint_Renew";
    if (!vek::acceptCallerContext(soap, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    if (soap == nullptr || !validPullPoint(pullPoint) || user == nullptr || password == nullptr ||
        terminationSeconds == 0) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange(soap);
    uint32_t code =
        frameAtPullPoint(exchange, pullPoint, user, password, VEK_ONVIF_ACTION_RENEW, kFunc);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns7__Renew request;
    _ns7__RenewResponse response;
    if ((request.TerminationTime = durationText(soap, terminationSeconds)) == nullptr) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    const char *address = pullPoint->pszAddress;
    auto stub = [&](struct soap *s) {
        return soap_call___ns13__Renew(s, address, nullptr, &request, &response);
    };
    if ((code = callPullPoint(exchange, stub,
                              {kFunc, "[Soap err:%ld]LogPrint: Failed to Renew, Url:%s",
                               vek::CallFailureLog::Form::RuntimeWithError},
                              address)) != VEK_ONVIF_OK) {
        return code;
    }
    if (std::optional<int64_t> termination = vek::parseDateTime(response.TerminationTime)) {
        pullPoint->s64TerminationTime = *termination;
    }
    if (response.CurrentTime != nullptr && vek::parseDateTime(response.CurrentTime)) {
        pullPoint->s64ClockOffset = clockOffset(response.CurrentTime);
    }
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Unsubscribe(struct soap *soap,
                                                                  OnvifPullPoint *pullPoint,
                                                                  const char *user,
                                                                  const char *password)
{
    constexpr const char *kFunc = "VEK_Onvif_PullPoint_Unsubscribe";
    if (!vek::acceptCallerContext(soap, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    if (!acceptedArguments(soap, pullPoint, user, password, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange(soap);
    uint32_t code =
        frameAtPullPoint(exchange, pullPoint, user, password, VEK_ONVIF_ACTION_UNSUBSCRIBE, kFunc);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns7__Unsubscribe request;
    _ns7__UnsubscribeResponse response;
    const char *address = pullPoint->pszAddress;
    auto stub = [&](struct soap *s) {
        return soap_call___ns13__Unsubscribe(s, address, nullptr, &request, &response);
    };
    if ((code = callPullPoint(exchange, stub,
                              {kFunc, "[Soap err:%ld]LogPrint: Failed to Unsubscribe, Url:%s",
                               vek::CallFailureLog::Form::RuntimeWithError},
                              address)) != VEK_ONVIF_OK) {
        return code;
    }
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_SetSynchronizationPoint(
    struct soap *soap, const OnvifPullPoint *pullPoint, const char *user, const char *password)
{
    constexpr const char *kFunc = "VEK_Onvif_PullPoint_SetSynchronizationPoint";
    if (!vek::acceptCallerContext(soap, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    if (!acceptedArguments(soap, pullPoint, user, password, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange(soap);
    // The addressing header is written for the pull point's PullMessages
    // action, then given the action of this request.
    uint32_t code = frameAtPullPoint(exchange, pullPoint, user, password,
                                     VEK_ONVIF_ACTION_PULL_MESSAGES, kFunc);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    if ((soap->header->wsa5__Action = soap_strdup(soap, kSyncAction)) == nullptr) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    _ns1__SetSynchronizationPoint request;
    _ns1__SetSynchronizationPointResponse response;
    const char *address = pullPoint->pszAddress;
    auto stub = [&](struct soap *s) {
        return soap_call___ns11__SetSynchronizationPoint(s, address, nullptr, &request, &response);
    };
    if ((code = callPullPoint(exchange, stub,
                              {kFunc, "Failed to set a synchronization point, url:%s.",
                               vek::CallFailureLog::Form::RuntimeUrlOnly},
                              address)) != VEK_ONVIF_OK) {
        return code;
    }
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API void VEK_Onvif_PullPoint_Free(OnvifPullPoint *pullPoint)
{
    if (pullPoint == nullptr) {
        return;
    }
    if (pullPoint->pszAddress != nullptr) {
        VEK_FREE(&pullPoint->pszAddress);
    }
    if (pullPoint->pszReference != nullptr) {
        VEK_FREE(&pullPoint->pszReference);
    }
    std::memset(pullPoint, 0, sizeof(*pullPoint));
}
