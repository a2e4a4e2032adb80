// Subscribe: binds the recorder's listening socket and subscribes it at the
// camera for common alarms; subscribes the recorder's own port for the
// smart-analytics reports the camera offers.
#include <cstring>
#include <string>

#include "reference_compact.h"
#include "reference_namespaces.h"
#include "response_capture.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_soap_context.h"
#include "vek_subscription_internal.h"
#include "vek_text.h"

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
constexpr const char *kCommonTermination = "PT1M";
constexpr const char *kSmartTermination = "PT30S";

struct SmartTopic {
    uint32_t OnvifSmartCaps::*flag;
    const char *topic;
};
// In the order the topics are concatenated into the filter.
constexpr SmartTopic kSmartTopics[] = {
    {&OnvifSmartCaps::ulLineDetector, "tns1:UserAlarm/tns1:SmartHttpReport/tns1:LineDetector/"},
    {&OnvifSmartCaps::ulFieldDetector, "tns1:UserAlarm/tns1:SmartHttpReport/tns1:FieldDetector/"},
    {&OnvifSmartCaps::ulFaceDetector, "tns1:UserAlarm/tns1:SmartHttpReport/tns1:FaceDetector/"},
    {&OnvifSmartCaps::ulCountAggregation,
     "tns1:UserAlarm/tns1:SmartHttpReport/tns1:CountAggregation/"},
};

template <typename T> T *newZeroed(struct soap *soap)
{
    void *block = soap_malloc(soap, sizeof(T));
    if (block != nullptr) {
        std::memset(block, 0, sizeof(T));
    }
    return static_cast<T *>(block);
}

// Sets a context copy of the consumer address "http://host:port/onvif_notify_server";
// an IPv6 host is bracketed so that the address stays a valid URL.
void setConsumerAddress(struct soap *soap, wsa5__EndpointReferenceType *consumer,
                        const char *localAddr, int port)
{
    char address[kConsumerSize] = {0};
    const char *format = std::strchr(localAddr, ':') != nullptr
                             ? "http://[%s]:%d/onvif_notify_server"
                             : "http://%s:%d/onvif_notify_server";
    (void)ZU_snprintf(address, sizeof address, format, localAddr, port);
    consumer->Address = soap_strdup(soap, address);
}

char *terminationTime(struct soap *soap, const char *duration)
{
    char text[kTerminationSize] = {0};
    (void)ZU_snprintf(text, sizeof text, "%s", duration);
    return soap_strdup(soap, text);
}

// The text under which the subscription's first reference parameter is
// stored and sent back: the namespace declarations it inherited from the
// answer's envelope added, then as compact as it can be. Empty when the
// answer names no subscription or has no reference parameter.
std::string storedReference(const _ns7__SubscribeResponse &response, std::string_view rawAnswer)
{
    const wsa5__EndpointReferenceType *reference = response.SubscriptionReference;
    if (reference == nullptr || reference->Address == nullptr ||
        reference->ReferenceParameters == nullptr ||
        reference->ReferenceParameters->__any == nullptr ||
        reference->ReferenceParameters->__size < 1 ||
        reference->ReferenceParameters->__any[0] == nullptr) {
        return {};
    }
    return vek::compactReference(
        vek::declareInheritedNamespaces(reference->ReferenceParameters->__any[0], rawAnswer));
}

// A reference parameter that does not fit its member cannot be sent back
// whole, so the subscription could be neither renewed nor ended later. It
// is ended at once, while its whole reference is still at hand, and the
// subscription counts as failed.
uint32_t refuseUnstorableReference(OnvifDevAccess *access, const _ns7__SubscribeResponse &response,
                                   const std::string &reference, const char *func)
{
    if (reference.size() < vek::kSubTextSize) {
        return VEK_ONVIF_OK;
    }
    VEK_LOG(vek::kLevelError, 112, func,
            "Subscription reference of %zu characters does not fit in %zu; ending the "
            "subscription.",
            reference.size(), vek::kSubTextSize - 1);
    std::string manager(vek::trimXmlSpace(response.SubscriptionReference->Address));
    vek::EventContext context;
    (void)__VEK_Onvif_Unsubscribe(context.get(), manager.c_str(), reference.c_str(),
                                  access->szUserName, access->szPassword);
    return VEK_ONVIF_ERR_FAIL;
}

uint32_t commonAlarmSubscribe(OnvifDevAccess *access, const char *localAddr, int32_t *sockFd,
                              OnvifSubInfo *subInfo)
{
    constexpr const char *kFunc = "__VEK_Onvif_CommonAlarmSubscribe";
    int port = gS32AlarmDftPort;
    vek::EventContext context;
    struct soap *soap = context.get();
    if (soap == nullptr) {
        VEK_LOG(vek::kLevelError, 104, kFunc, "Failed to init event soap.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    uint32_t code = __VEK_Onvif_SubscribeAuth(access, soap);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "Failed to common alarm subscribe author.");
        return code;
    }

    // A port left in TIME_WAIT by an earlier subscription may be reused; a
    // port another socket listens on may not.
    soap->bind_flags |= SO_REUSEADDR;
    // A port outside 1..65535 would be cut to 16 bits by the socket layer
    // (a port of 0 or 65536 binds an ephemeral port), and the camera would
    // be told a port nobody listens on: such candidates end the search.
    bool bound = false;
    for (int attempt = 0; attempt < kBindTries && !bound && port >= kFirstPort && port <= kLastPort;
         ++attempt) {
        if (soap_valid_socket(soap_bind(soap, localAddr, port, kBacklog))) {
            bound = true;
        } else {
            port += kPortStep;
        }
    }
    if (!bound) {
        VEK_LOG(vek::kLevelError, 112, kFunc, "Failed to soap_bind, ipaddr: %s.", localAddr);
        return VEK_ONVIF_ERR_FAIL;
    }

    _ns7__Subscribe request;
    _ns7__SubscribeResponse response;
    request.InitialTerminationTime = terminationTime(soap, kCommonTermination);
    request.ConsumerReference = newZeroed<wsa5__EndpointReferenceType>(soap);
    if (request.ConsumerReference == nullptr) {
        VEK_LOG(vek::kLevelError, 102, kFunc,
                "Fail to malloc stSubscribe.ConsumerReference memory.");
        return VEK_ONVIF_ERR_PARAM;
    }
    setConsumerAddress(soap, request.ConsumerReference, localAddr, port);

    vek::ResponseCapture capture(soap);
    int soapCode =
        soap_call___ns14__Subscribe(soap, access->szEventUrl, nullptr, &request, &response);
    if (soapCode != SOAP_OK) {
        VEK_SOAP_PUB_LogPrintImp(soap, vek::kEventSource, __LINE__, kFunc,
                                 "[Soap err:%d]LogPrint: Failed to Subscribe ComonAlarm, Url:%s",
                                 soapCode, access->szEventUrl);
        return VEK_ONVIF_ERR_FAIL;
    }
    std::string reference = storedReference(response, capture.text());
    code = refuseUnstorableReference(access, response, reference, kFunc);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    code =
        __VEK_Onvif_ParseSubscribeRsp(&response, subInfo->szCommonSubAddr, subInfo->szCommonSubRef);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "Failed to parse common alarm subscribe response.");
        return code;
    }
    // The camera's own text, copied above, gives way to the stored form.
    if (!reference.empty()) {
        std::memcpy(subInfo->szCommonSubRef, reference.c_str(), reference.size() + 1);
    }
    subInfo->ulCommonAlarmSub = 1;
    // The listening socket now belongs to the caller; destroying the context
    // must leave it open.
    *sockFd = static_cast<int32_t>(soap->master);
    soap->master = SOAP_INVALID_SOCKET;
    return VEK_ONVIF_OK;
}

// Builds the smart-data topic filter into the request.
uint32_t explicitSubscribe(struct soap *soap, const OnvifSmartCaps *caps, _ns7__Subscribe *request)
{
    request->Filter = newZeroed<ns7__FilterType>(soap);
    if (request->Filter == nullptr) {
        VEK_LOG(vek::kLevelError, 104, "__VEK_Onvif_ExplicitSubscribe",
                "Failed to malloc stSubscribe.Filter memory.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    constexpr const char *kTopicFunc = "__VEK_Onvif_SupportSmartAlarmDataSub";
    request->Filter->TopicExpression = newZeroed<ns7__TopicExpressionType>(soap);
    if (request->Filter->TopicExpression == nullptr) {
        VEK_LOG(vek::kLevelError, 104, kTopicFunc, "Failed to malloc ns7__TopicExpression memory.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    char topics[kTopicFilterSize] = {0};
    size_t length = 0;
    for (const SmartTopic &entry : kSmartTopics) {
        if (caps->*entry.flag != 1) {
            continue;
        }
        int written = ZU_snprintf(topics + length, kTopicFilterSize - length, "%s", entry.topic);
        if (written < 0) {
            VEK_LOG(vek::kLevelError, 112, kTopicFunc,
                    "Failed to call ZU_snprintf, possible string is too long.");
            return VEK_ONVIF_ERR_FAIL;
        }
        length += static_cast<size_t>(written);
    }
    request->Filter->TopicExpression->__mixed = soap_strdup(soap, topics);
    return VEK_ONVIF_OK;
}

uint32_t smartDataSubscribe(OnvifDevAccess *access, const char *localAddr,
                            const OnvifSmartCaps *caps, OnvifSubInfo *subInfo)
{
    constexpr const char *kFunc = "__VEK_Onvif_SmartDataSubscribe";
    vek::EventContext context;
    struct soap *soap = context.get();
    uint32_t code = __VEK_Onvif_SubscribeAuth(access, soap);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "Failed to smart data subscribe author.");
        return code;
    }
    VEK_PUB_DevPortInfo ports;
    std::memset(&ports, 0, sizeof ports);
    code = VEK_PUB_GetDevPortInfo(&ports);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "Failed to get device ports info.");
        return code;
    }

    _ns7__Subscribe request;
    _ns7__SubscribeResponse response;
    request.InitialTerminationTime = terminationTime(soap, kSmartTermination);
    request.ConsumerReference = newZeroed<wsa5__EndpointReferenceType>(soap);
    if (request.ConsumerReference == nullptr) {
        VEK_LOG(vek::kLevelError, 102, kFunc,
                "Fail to malloc stSubscribe.ConsumerReference memory.");
        return VEK_ONVIF_ERR_PARAM;
    }
    setConsumerAddress(soap, request.ConsumerReference, localAddr, ports.usPort);
    code = explicitSubscribe(soap, caps, &request);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelInfo, code, kFunc, "Failed to alarm explicit subscribe.");
        return code;
    }

    vek::ResponseCapture capture(soap);
    int soapCode =
        soap_call___ns14__Subscribe(soap, access->szEventUrl, nullptr, &request, &response);
    if (soapCode != SOAP_OK) {
        VEK_SOAP_PUB_LogPrintImp(soap, vek::kEventSource, __LINE__, kFunc,
                                 "[Soap err:%d]LogPrint: Failed to Subscribe SmartAlarm Url:%s",
                                 soapCode, access->szEventUrl);
        return VEK_ONVIF_ERR_FAIL;
    }
    std::string reference = storedReference(response, capture.text());
    code = refuseUnstorableReference(access, response, reference, kFunc);
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    code =
        __VEK_Onvif_ParseSubscribeRsp(&response, subInfo->szSmartSubAddr, subInfo->szSmartSubRef);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "Failed to param smart data subscribe response.");
        return code;
    }
    // The camera's own text, copied above, gives way to the stored form.
    if (!reference.empty()) {
        std::memcpy(subInfo->szSmartSubRef, reference.c_str(), reference.size() + 1);
    }
    subInfo->ulSmartDataSub = 1;
    return VEK_ONVIF_OK;
}

// A caller's fixed-width text without its NUL would be read past its end.
template <size_t N> bool isTerminated(const char (&text)[N])
{
    return std::memchr(text, '\0', N) != nullptr;
}

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Subscribe(void *localKey, uint32_t scope,
                                                      OnvifDevAccess *access, OnvifSmartCaps *caps,
                                                      int32_t *sockFd, OnvifSubInfo *subInfo)
{
    constexpr const char *kFunc = "VEK_Onvif_Subscribe";
    if (localKey == nullptr || access == nullptr || caps == nullptr || sockFd == nullptr ||
        subInfo == nullptr || access->szEventUrl[0] == '\0' || !isTerminated(access->szEventUrl) ||
        !isTerminated(access->szUserName) || !isTerminated(access->szPassword)) {
        VEK_LOG(vek::kLevelError, 102, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    char localAddr[kLocalAddrSize];
    std::memset(localAddr, 0, sizeof localAddr);
    uint32_t code = TAV_GetLocalSockAddr(localKey, localAddr);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "Failed to get LocalAddr.");
        return code;
    }
    localAddr[kLocalAddrSize - 1] = '\0';

    bool wantsCommon = scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_COMMON;
    bool wantsSmart = scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_SMART;
    if (subInfo->ulCommonAlarmSub == 0 && wantsCommon) {
        code = commonAlarmSubscribe(access, localAddr, sockFd, subInfo);
        if (code != VEK_ONVIF_OK) {
            VEK_LOG(vek::kLevelInfo, code, kFunc, "Faied to subscribe CommonAlarm data.");
            return code;
        }
    }
    if (subInfo->ulSmartDataSub != 0 || caps->ulSupportSmartData != 1 || !wantsSmart) {
        return VEK_ONVIF_OK;
    }
    code = smartDataSubscribe(access, localAddr, caps, subInfo);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelInfo, code, kFunc, "Faied to subscribe smartalarm data.");
    }
    return VEK_ONVIF_OK;
}
