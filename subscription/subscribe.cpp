// Subscribe: subscribes the recorder at the camera, for common alarms on a
// listening socket it binds, and for the smart-analytics reports the camera
// offers on the recorder's own port. Both scopes are one exchange that
// differs only in the row of kScopes that drives it.
#include <cstring>
#include <string>

#include "error_record.h"
#include "exchange.h"
#include "pull_point_reference.h"
#include "response_capture.h"
#include "smart_reports.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_subscription_internal.h"
#include "vek_text.h"
#include "zeroed_record.h"

namespace
{

constexpr int kBindTries = 1000;
constexpr int kPortStep = 2;
constexpr int kFirstPort = 1;
constexpr int kLastPort = 65535;
constexpr int kBacklog = 128;
constexpr size_t kLocalAddrSize = 64;
// Room for the longest local address, bracketed when it is IPv6.
constexpr size_t kConsumerSize = 128;
constexpr size_t kTerminationSize = 32;
constexpr size_t kTopicFilterSize = 512;

using SubText = char[vek::kSubTextSize];

// The header lines of both scopes: Subscribe's header step logs under a
// name of its own.
constexpr vek::HeaderFailureLog kSubscribeHeaderFailure = {
    "Failed to call VEK_Onvif_EncryptHeader.", "Failed to subscribe author.", true,
    "__VEK_Onvif_SubscribeAuth"};

constexpr vek::RequestRow subscribeRow(const char *func, const char *callFailed)
{
    return {func,
            vek::Action::Subscribe,
            vek::Security::WhenUserGiven,
            vek::ReferenceKind::None,
            kSubscribeHeaderFailure,
            nullptr,
            {callFailed, vek::CallFailureLog::Form::RuntimeWithError},
            {VEK_ONVIF_ERR_FAIL, 0}};
}

// What tells the two subscriptions apart. Log texts are fixed: recorders
// and tests search for them.
struct ScopeSpec {
    vek::RequestRow row;
    const char *authFailed;
    const char *parseFailed;
    const char *termination;
    bool listens;  // binds the listening socket and hands it to the caller
    bool filtered; // carries the topic filter of the offered smart reports
    uint32_t OnvifSubInfo::*flag;
    SubText OnvifSubInfo::*address;
    SubText OnvifSubInfo::*reference;
};

enum Scope { kCommon, kSmart };

constexpr ScopeSpec kScopes[] = {
    {
        subscribeRow("__VEK_Onvif_CommonAlarmSubscribe",
                     "[Soap err:%ld]LogPrint: Failed to Subscribe ComonAlarm, Url:%s"),
        "Failed to common alarm subscribe author.",
        "Failed to parse common alarm subscribe response.",
        "PT1M",
        true,
        false,
        &OnvifSubInfo::ulCommonAlarmSub,
        &OnvifSubInfo::szCommonSubAddr,
        &OnvifSubInfo::szCommonSubRef,
    },
    {
        subscribeRow("__VEK_Onvif_SmartDataSubscribe",
                     "[Soap err:%ld]LogPrint: Failed to Subscribe SmartAlarm Url:%s"),
        "Failed to smart data subscribe author.",
        "Failed to param smart data subscribe response.",
        "PT30S",
        false,
        true,
        &OnvifSubInfo::ulSmartDataSub,
        &OnvifSubInfo::szSmartSubAddr,
        &OnvifSubInfo::szSmartSubRef,
    },
};

vek::RequestTarget subscribeTarget(const OnvifDevAccess *access)
{
    return {access->szEventUrl, access->szUserName, access->szPassword};
}

// A context copy of the consumer address "http://host:port/onvif_notify_server";
// an IPv6 host is bracketed so that the address stays a valid URL.
char *consumerAddress(struct soap *soap, const char *localAddr, int port)
{
    char address[kConsumerSize] = {0};
    const char *format = std::strchr(localAddr, ':') != nullptr
                             ? "http://[%s]:%d/onvif_notify_server"
                             : "http://%s:%d/onvif_notify_server";
    (void)ZU_snprintf(address, sizeof address, format, localAddr, port);
    return soap_strdup(soap, address);
}

char *terminationTime(struct soap *soap, const char *duration)
{
    char text[kTerminationSize] = {0};
    (void)ZU_snprintf(text, sizeof text, "%s", duration);
    return soap_strdup(soap, text);
}

// Binds the context's listening socket at the first free port from the
// recorder's default, stepping by two.
uint32_t bindListener(struct soap *soap, const char *localAddr, int *port, const char *func)
{
    // A port left in TIME_WAIT by an earlier subscription may be reused; a
    // port another socket listens on may not.
    soap->bind_flags |= SO_REUSEADDR;
    *port = vek::firstFreePort([&](int candidate) {
        return soap_valid_socket(soap_bind(soap, localAddr, candidate, kBacklog));
    });
    if (*port != 0) {
        return VEK_ONVIF_OK;
    }
    VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, func, "Failed to soap_bind, ipaddr: %s.",
            localAddr);
    vek::noteFailure(VEK_ONVIF_FAIL_LOCAL,
                     std::string("no free port to listen on at ") + localAddr);
    return VEK_ONVIF_ERR_FAIL;
}

uint32_t recorderPort(int *port, const char *func)
{
    VEK_PUB_DevPortInfo ports;
    std::memset(&ports, 0, sizeof ports);
    uint32_t code = VEK_PUB_GetDevPortInfo(&ports);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, func, "Failed to get device ports info.");
        vek::noteFailure(VEK_ONVIF_FAIL_LOCAL, "the recorder's device port is not known");
        return code;
    }
    *port = ports.usPort;
    return VEK_ONVIF_OK;
}

// The topic filter of the smart reports the camera offers, concatenated in
// the order of kSmartReportKinds.
uint32_t addTopicFilter(struct soap *soap, const OnvifSmartCaps *caps, _ns7__Subscribe *request)
{
    request->Filter = vek::zeroedRecord<ns7__FilterType>(soap);
    if (request->Filter == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, "__VEK_Onvif_ExplicitSubscribe",
                "Failed to malloc stSubscribe.Filter memory.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    constexpr const char *kTopicFunc = "__VEK_Onvif_SupportSmartAlarmDataSub";
    request->Filter->TopicExpression = vek::zeroedRecord<ns7__TopicExpressionType>(soap);
    if (request->Filter->TopicExpression == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, kTopicFunc,
                "Failed to malloc ns7__TopicExpression memory.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    char topics[kTopicFilterSize] = {0};
    size_t length = 0;
    for (const vek::SmartReportKind &kind : vek::kSmartReportKinds) {
        if (caps->*kind.flag != 1) {
            continue;
        }
        int written = ZU_snprintf(topics + length, kTopicFilterSize - length, "%s%s/",
                                  vek::kSmartReportTopicPrefix, kind.name);
        if (written < 0) {
            VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kTopicFunc,
                    "Failed to call ZU_snprintf, possible string is too long.");
            return VEK_ONVIF_ERR_FAIL;
        }
        length += static_cast<size_t>(written);
    }
    request->Filter->TopicExpression->__mixed = soap_strdup(soap, topics);
    return VEK_ONVIF_OK;
}

// The text under which the subscription's first reference parameter is
// stored and sent back: the namespace declarations it inherited from the
// answer's envelope added, then as compact as it can be. Empty when the
// answer names no subscription or has no reference parameter.
std::string storedReference(const _ns7__SubscribeResponse &response, std::string_view rawAnswer)
{
    const wsa5__EndpointReferenceType *reference = response.SubscriptionReference;
    if (reference == nullptr || reference->Address == nullptr) {
        return {};
    }
    return vek::storedReferenceParameters(reference->ReferenceParameters, rawAnswer, 1);
}

// A reference parameter that does not fit its member cannot be sent back
// whole, so the subscription could be neither renewed nor ended later. It
// is ended at once, while its whole reference is still at hand, and the
// subscription counts as failed.
uint32_t refuseUnstorableReference(const OnvifDevAccess *access,
                                   const _ns7__SubscribeResponse &response,
                                   const std::string &reference, const char *func)
{
    if (reference.size() < vek::kSubTextSize) {
        return VEK_ONVIF_OK;
    }
    VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, func,
            "Subscription reference of %zu characters does not fit in %zu; ending the "
            "subscription.",
            reference.size(), vek::kSubTextSize - 1);
    std::string manager(vek::trimXmlSpace(response.SubscriptionReference->Address));
    vek::Exchange exchange;
    (void)vek::unsubscribeOnce(exchange, manager.c_str(), reference.c_str(), access->szUserName,
                               access->szPassword);
    // What the Unsubscribe gave is not why the call failed.
    vek::startExchangeRecord();
    vek::noteFailure(VEK_ONVIF_FAIL_LOCAL, "the subscription reference of " +
                                               std::to_string(reference.size()) +
                                               " characters does not fit its field");
    return VEK_ONVIF_ERR_FAIL;
}

// Copies text into a member of the record when it fits; empties the member
// when it does not.
void copyWhenFits(SubText &member, const std::string &text)
{
    if (text.size() < sizeof member) {
        std::memcpy(member, text.c_str(), text.size() + 1);
    } else {
        member[0] = '\0';
    }
}

// Stores the answer into the scope's members of the record. A hub keeps the
// whole answer itself: a text that does not fit its member leaves the
// member empty and is no failure there.
uint32_t storeSubscription(const ScopeSpec &scope, const OnvifDevAccess *access,
                           _ns7__SubscribeResponse &response, std::string_view rawAnswer,
                           vek::KeptSubscription *kept, OnvifSubInfo *subInfo)
{
    std::string reference = storedReference(response, rawAnswer);
    uint32_t code = kept != nullptr
                        ? VEK_ONVIF_OK
                        : refuseUnstorableReference(access, response, reference, scope.row.func);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    code =
        vek::parseSubscribeResponse(&response, subInfo->*scope.address, subInfo->*scope.reference);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, scope.row.func, "%s", scope.parseFailed);
        vek::noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER, "the answer names no subscription address");
        return code;
    }
    if (kept != nullptr) {
        kept->address = vek::trimXmlSpace(response.SubscriptionReference->Address);
        kept->reference = reference;
        copyWhenFits(subInfo->*scope.address, kept->address);
        copyWhenFits(subInfo->*scope.reference, reference);
    } else if (!reference.empty()) {
        // The camera's own text, copied above, gives way to the stored form.
        std::memcpy(subInfo->*scope.reference, reference.c_str(), reference.size() + 1);
    }
    subInfo->*scope.flag = 1;
    return VEK_ONVIF_OK;
}

uint32_t subscribeScope(Scope which, const vek::SubscribeConsumer &consumer,
                        const OnvifDevAccess *access, const OnvifSmartCaps *caps,
                        OnvifSubInfo *subInfo)
{
    const ScopeSpec &scope = kScopes[which];
    const char *localAddr = consumer.localAddr;
    // A hub listens already: its address is the consumer of the common
    // alarms, and no socket is bound here.
    const bool binds = scope.listens && consumer.hubAddress == nullptr;
    vek::Exchange exchange;
    uint32_t code = exchange.prepare(scope.row, subscribeTarget(access));
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, scope.row.func, "%s", scope.authFailed);
        return code;
    }
    struct soap *soap = exchange.soap();
    int port = 0;
    if (binds) {
        code = bindListener(soap, localAddr, &port, scope.row.func);
    } else if (!scope.listens) {
        code = recorderPort(&port, scope.row.func);
    }
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns7__Subscribe request;
    _ns7__SubscribeResponse response;
    request.InitialTerminationTime = terminationTime(soap, scope.termination);
    request.ConsumerReference = vek::zeroedRecord<wsa5__EndpointReferenceType>(soap);
    if (request.ConsumerReference == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, scope.row.func,
                "Fail to malloc stSubscribe.ConsumerReference memory.");
        return VEK_ONVIF_ERR_PARAM;
    }
    request.ConsumerReference->Address = scope.listens && !binds
                                             ? soap_strdup(soap, consumer.hubAddress)
                                             : consumerAddress(soap, localAddr, port);
    if (scope.filtered && (code = addTopicFilter(soap, caps, &request)) != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelInfo, code, scope.row.func, "Failed to alarm explicit subscribe.");
        return code;
    }
    const char *url = access->szEventUrl;
    vek::ResponseCapture capture(soap);
    auto stub = [&](struct soap *s) {
        return soap_call___ns14__Subscribe(s, url, nullptr, &request, &response);
    };
    if ((code = exchange.run(scope.row, url, stub)) != VEK_ONVIF_OK) {
        return code;
    }
    vek::KeptSubscription *kept = consumer.kept != nullptr ? &consumer.kept[which] : nullptr;
    code = storeSubscription(scope, access, response, capture.text(), kept, subInfo);
    if (code == VEK_ONVIF_OK && binds) {
        // The listening socket now belongs to the caller; the teardown must
        // leave it open.
        *consumer.sockFd = static_cast<int32_t>(soap->master);
        soap->master = SOAP_INVALID_SOCKET;
    }
    return code;
}

// A caller's fixed-width text without its NUL would be read past its end.
template <size_t N> bool isTerminated(const char (&text)[N])
{
    return std::memchr(text, '\0', N) != nullptr;
}

} // namespace

bool vek::validAccess(const OnvifDevAccess *access)
{
    return access->szEventUrl[0] != '\0' && isTerminated(access->szEventUrl) &&
           isTerminated(access->szUserName) && isTerminated(access->szPassword);
}

// A port outside 1..65535 would be cut to 16 bits by the socket layer (0 or
// 65536 binds an ephemeral port) and the camera told a port nobody listens
// on: such candidates end the search.
int vek::firstFreePort(const std::function<bool(int)> &tryBind)
{
    int candidate = gS32AlarmDftPort;
    for (int attempt = 0; attempt < kBindTries && candidate >= kFirstPort && candidate <= kLastPort;
         ++attempt, candidate += kPortStep) {
        if (tryBind(candidate)) {
            return candidate;
        }
    }
    return 0;
}

uint32_t vek::subscribeScopes(const char *func, const SubscribeConsumer &consumer, uint32_t scope,
                              const OnvifDevAccess *access, const OnvifSmartCaps *caps,
                              OnvifSubInfo *subInfo)
{
    bool wantsCommon = scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_COMMON;
    bool wantsSmart = scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_SMART;
    if (subInfo->ulCommonAlarmSub == 0 && wantsCommon) {
        uint32_t code = subscribeScope(kCommon, consumer, access, caps, subInfo);
        if (code != VEK_ONVIF_OK) {
            VEK_LOG(vek::kLevelInfo, code, func, "Faied to subscribe CommonAlarm data.");
            return code;
        }
    }
    if (subInfo->ulSmartDataSub != 0 || caps->ulSupportSmartData != 1 || !wantsSmart) {
        return VEK_ONVIF_OK;
    }
    uint32_t code = subscribeScope(kSmart, consumer, access, caps, subInfo);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelInfo, code, func, "Faied to subscribe smartalarm data.");
    }
    return VEK_ONVIF_OK;
}

uint32_t vek::addSubscribeHeaders(Exchange &exchange, const OnvifDevAccess *access)
{
    if (access == nullptr) {
        return VEK_ONVIF_ERR_NULL;
    }
    // The header step is the same for both scopes.
    return exchange.prepare(kScopes[kCommon].row, subscribeTarget(access));
}

namespace
{

uint32_t subscribe(void *localKey, uint32_t scope, OnvifDevAccess *access, OnvifSmartCaps *caps,
                   int32_t *sockFd, OnvifSubInfo *subInfo)
{
    constexpr const char *kFunc = "VEK_Onvif_Subscribe";
    if (localKey == nullptr || access == nullptr || caps == nullptr || sockFd == nullptr ||
        subInfo == nullptr || !vek::validAccess(access)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    char localAddr[kLocalAddrSize];
    std::memset(localAddr, 0, sizeof localAddr);
    uint32_t code = TAV_GetLocalSockAddr(localKey, localAddr);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "Failed to get LocalAddr.");
        vek::noteFailure(VEK_ONVIF_FAIL_LOCAL,
                         "the recorder's address towards the camera is not known");
        return code;
    }
    localAddr[kLocalAddrSize - 1] = '\0';
    vek::SubscribeConsumer consumer;
    consumer.localAddr = localAddr;
    consumer.sockFd = sockFd;
    return vek::subscribeScopes(kFunc, consumer, scope, access, caps, subInfo);
}

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Subscribe(void *localKey, uint32_t scope,
                                                      OnvifDevAccess *access, OnvifSmartCaps *caps,
                                                      int32_t *sockFd, OnvifSubInfo *subInfo)
{
    vek::OperationRecord record("VEK_Onvif_Subscribe");
    return record.finish(subscribe(localKey, scope, access, caps, sockFd, subInfo));
}
