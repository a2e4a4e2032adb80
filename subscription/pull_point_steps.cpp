#include "pull_point_steps.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "date_time.h"
#include "error_record.h"
#include "exchange.h"
#include "pull_point_reference.h"
#include "response_capture.h"
#include "soapH.h"
#include "translate_notify.h"
#include "vek_log.h"
#include "vek_text.h"

namespace vek
{
namespace
{

// Bytes of the CreatePullPointSubscription answer kept for reading the
// namespaces the reference parameters inherit.
constexpr size_t kCaptureLimit = 1024 * 1024;

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

// Raises the context's receive time-out to at least seconds (when given)
// for one call and restores it. (A negative time-out counts microseconds.)
class ReceiveTimeout
{
  public:
    ReceiveTimeout(struct soap *soap, int seconds) : soap_(soap), saved_(soap->recv_timeout)
    {
        if (seconds > 0) {
            soap_->recv_timeout = std::max(saved_, seconds);
        }
    }
    ~ReceiveTimeout() { soap_->recv_timeout = saved_; }
    ReceiveTimeout(const ReceiveTimeout &) = delete;
    ReceiveTimeout &operator=(const ReceiveTimeout &) = delete;

  private:
    struct soap *soap_;
    int saved_;
};

// Copies the pull point the answer names into created; 0 or the code.
uint32_t keepPullPoint(const PullPointCreation &how, const char *url,
                       const _ns1__CreatePullPointSubscriptionResponse &response,
                       std::string_view rawAnswer, OnvifPullPoint *created)
{
    const char *func = how.row->func;
    const wsa5__EndpointReferenceType *reference = response.SubscriptionReference;
    bool named = reference != nullptr && reference->Address != nullptr;
    std::string_view address = named ? trimXmlSpace(reference->Address) : std::string_view();
    if (!named || (how.emptyAddressIsNone && address.empty())) {
        VEK_LOG(kLevelError, how.noPullPointLogCode, func, how.noPullPointText, url);
        noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER, "the answer names no pull point address");
        return VEK_ONVIF_ERR_SOAP;
    }
    std::string parameters = how.keepsReference
                                 ? pullPointReference(reference->ReferenceParameters, rawAnswer)
                                 : std::string();
    if (parameters.size() > kMaxPullPointReference) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, func,
                "The pull point's reference is too long: %zu bytes (at most %zu).",
                parameters.size(), kMaxPullPointReference);
        noteFailure(VEK_ONVIF_FAIL_TOO_LARGE, "the pull point's reference of " +
                                                  std::to_string(parameters.size()) +
                                                  " bytes is longer than the bound");
        return VEK_ONVIF_ERR_FAIL;
    }
    OnvifPullPoint kept{};
    kept.pszAddress = heapCopy(address);
    kept.pszReference = parameters.empty() ? nullptr : heapCopy(parameters);
    if (kept.pszAddress == nullptr || (!parameters.empty() && kept.pszReference == nullptr)) {
        VEK_LOG(kLevelError, how.noMemoryLogCode, func, "fail to malloc.");
        VEK_Onvif_PullPoint_Free(&kept);
        return how.noMemoryCode;
    }
    kept.s64TerminationTime = parseDateTime(response.ns7__TerminationTime).value_or(0);
    kept.s64ClockOffset = clockOffsetOf(response.ns7__CurrentTime);
    kept.ulFlags = created->ulFlags;
    *created = kept;
    return VEK_ONVIF_OK;
}

// How many of the messages a pull answer holds are translated: no more
// than were asked for; the excess is logged once.
int keptMessages(const char *func, int received, uint32_t limit)
{
    if (static_cast<uint32_t>(received) <= limit) {
        return received;
    }
    VEK_LOG(kLevelInfo, VEK_ONVIF_ERR_SOAP, func,
            "The camera sent %d messages where %u were asked for; the %d more are dropped.",
            received, limit, received - static_cast<int>(limit));
    return static_cast<int>(limit);
}

} // namespace

char *durationIn(struct soap *soap, DurationText duration)
{
    return duration.fixed != nullptr ? const_cast<char *>(duration.fixed)
                                     : durationText(soap, duration.seconds);
}

bool acceptedPullArguments(const struct soap *soap, const char *address, const char *user,
                           const char *password, bool others, const char *func, uint32_t logCode)
{
    if (soap == nullptr || address == nullptr || address[0] == '\0' || user == nullptr ||
        password == nullptr || !others) {
        VEK_LOG(kLevelError, logCode, func, "Invalid input Param.");
        return false;
    }
    return true;
}

uint32_t createPullPoint(struct soap *soap, const PullPointCreation &how,
                         const RequestTarget &target, DurationText termination,
                         OnvifPullPoint *created)
{
    Exchange exchange(soap);
    uint32_t code = exchange.prepare(*how.row, target);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns1__CreatePullPointSubscription request;
    _ns1__CreatePullPointSubscriptionResponse response;
    if ((termination.fixed != nullptr || termination.seconds != 0) &&
        (request.InitialTerminationTime = durationIn(soap, termination)) == nullptr) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    ResponseCapture capture(soap, kCaptureLimit);
    const char *url = target.url;
    code = exchange.run(*how.row, url, [&](struct soap *s) {
        return soap_call___ns12__CreatePullPointSubscription(s, url, nullptr, &request, &response);
    });
    return code != VEK_ONVIF_OK ? code : keepPullPoint(how, url, response, capture.text(), created);
}

uint32_t pullMessages(struct soap *soap, const RequestRow &row, const PullRequest &pull,
                      OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg, OnvifPullResult *result)
{
    const OnvifPullPoint *pullPoint = pull.pullPoint;
    const char *address = pullPoint->pszAddress;
    Exchange exchange(soap);
    uint32_t code =
        exchange.prepare(row, {address, pull.user, pull.password, pullPoint->pszReference});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns1__PullMessages request;
    _ns1__PullMessagesResponse response;
    request.MessageLimit = static_cast<int>(pull.messageLimit);
    if ((request.Timeout = durationIn(soap, pull.timeout)) == nullptr) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    ReceiveTimeout wait(soap, pull.receiveSeconds);
    // The camera may hold the answer for the whole wait asked for.
    exchange.setLimits(
        {kExchangeDeadline + std::chrono::seconds(pull.timeout.seconds), kMaxAnswerBytes});
    auto stub = [&](struct soap *s) {
        return soap_call___ns11__PullMessages(s, address, nullptr, &request, &response);
    };
    if ((code = exchange.run(row, address, stub)) != VEK_ONVIF_OK) {
        return code;
    }
    if (response.ns7__NotificationMessage == nullptr || response.__sizeNotificationMessage <= 0) {
        return VEK_ONVIF_OK;
    }
    _ns7__Notify notify;
    notify.__sizeNotificationMessage =
        keptMessages(row.func, response.__sizeNotificationMessage, pull.messageLimit);
    notify.NotificationMessage = response.ns7__NotificationMessage;
    uint32_t count = 0;
    OnvifAlarmReport *reports = vek::alarm::translateNotify(
        cfg, inputs, &notify, &count, (pullPoint->ulFlags & VEK_ONVIF_PULL_INITIAL_STATES) != 0);
    result->pstAlarmReports = reports;
    result->ulAlarmCount = reports != nullptr ? count : 0;
    return VEK_ONVIF_OK;
}

} // namespace vek
