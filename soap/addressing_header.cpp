// WS-Addressing header of every request: destination, a fixed message id,
// an anonymous reply address and the action URI selected by an index.
#include <cstring>

#include "context_registry.h"
#include "request_headers.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event.h"

namespace
{

constexpr const char *kAnonymous = "http://www.w3.org/2005/08/addressing/anonymous";
constexpr const char *kMessageId = "urn:uuid:7d75ebd2-2000-4c30-a7c1-70f042cef82c";

// Indexed by the action index callers pass.
constexpr const char *kActions[] = {
    "http://www.onvif.org/ver10/events/wsdl/EventPortType/GetEventPropertiesRequest",
    "http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeRequest",
    "http://docs.oasis-open.org/wsn/bw-2/NotificationConsumer/Notify",
    "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest",
    "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeRequest",
    "http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionRequest",
    "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesRequest",
};
constexpr uint32_t kActionCount = sizeof kActions / sizeof kActions[0];
static_assert(kActionCount == VEK_ONVIF_ACTION_PULL_MESSAGES + 1, "one URI per action index");

template <typename T> T *zeroedInContext(struct soap *soap)
{
    void *block = soap_malloc(soap, sizeof(T));
    if (block != nullptr) {
        std::memset(block, 0, sizeof(T));
    }
    return static_cast<T *>(block);
}

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_HeaderEnc(uint32_t action, const char *url,
                                                      struct soap *soap)
{
    if (!vek::acceptCallerContext(soap, "VEK_Onvif_HeaderEnc")) {
        return VEK_ONVIF_ERR_PARAM;
    }
    return vek::writeAddressingHeader(action, url, soap);
}

uint32_t vek::writeAddressingHeader(uint32_t action, const char *url, struct soap *soap)
{
    constexpr const char *kFunc = "VEK_Onvif_HeaderEnc";
    if (url == nullptr || url[0] == '\0' || soap == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    if (soap->header == nullptr) {
        soap->header = zeroedInContext<SOAP_ENV__Header>(soap);
        if (soap->header == nullptr) {
            return VEK_ONVIF_ERR_NOMEM;
        }
    }
    SOAP_ENV__Header *header = soap->header;
    if (header->wsa5__ReplyTo == nullptr) {
        header->wsa5__ReplyTo = zeroedInContext<wsa5__EndpointReferenceType>(soap);
        if (header->wsa5__ReplyTo == nullptr) {
            return VEK_ONVIF_ERR_NOMEM;
        }
    }
    header->wsa5__To = soap_strdup(soap, url);
    header->wsa5__ReplyTo->Address = soap_strdup(soap, kAnonymous);
    header->wsa5__MessageID = soap_strdup(soap, kMessageId);
    if (action >= kActionCount) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    header->wsa5__Action = soap_strdup(soap, kActions[action]);
    if (header->wsa5__To == nullptr || header->wsa5__Action == nullptr ||
        header->wsa5__ReplyTo->Address == nullptr || header->wsa5__MessageID == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "soap_strdup failed.");
        return VEK_ONVIF_ERR_FAIL;
    }
    return VEK_ONVIF_OK;
}
