// The event SOAP context: a gSOAP context with the library's time-outs,
// modes and namespace table, allocated from the platform heap.
#include <cstring>

#include "context_registry.h"
#include "runtime_start.h"
#include "soapH.h"
#include "tls_trust.h"
#include "vek_log.h"
#include "vek_onvif_event_soap.h"
#include "vek_soap_context.h"

extern "C" {

VEK_ONVIF_API struct Namespace eventNamespaces[] = {
    {"SOAP-ENV", "http://www.w3.org/2003/05/soap-envelope",
     "http://www.w3.org/2003/05/soap-envelope", nullptr},
    {"SOAP-ENC", "http://www.w3.org/2003/05/soap-encoding",
     "http://www.w3.org/2003/05/soap-encoding", nullptr},
    {"xsi", "http://www.w3.org/2001/XMLSchema-instance", "http://www.w3.org/*/XMLSchema-instance",
     nullptr},
    {"xsd", "http://www.w3.org/2001/XMLSchema", "http://www.w3.org/*/XMLSchema", nullptr},
    {"c14n", "http://www.w3.org/2001/10/xml-exc-c14n#", nullptr, nullptr},
    {"wsu", "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd",
     nullptr, nullptr},
    {"ds", "http://www.w3.org/2000/09/xmldsig#", nullptr, nullptr},
    {"wsse", "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-secext-1.0.xsd",
     nullptr, nullptr},
    {"wsa", "http://schemas.xmlsoap.org/ws/2004/08/addressing", nullptr, nullptr},
    {"wsa5", "http://www.w3.org/2005/08/addressing", nullptr, nullptr},
    {"ns5", "http://docs.oasis-open.org/wsrf/bf-2", nullptr, nullptr},
    {"ns8", "http://docs.oasis-open.org/wsn/t-1", nullptr, nullptr},
    {"ns9", "http://www.onvif.org/ver10/schema", nullptr, nullptr},
    {"ns10", "http://www.w3.org/2005/05/xmlmime", nullptr, nullptr},
    {"ns4", "http://docs.oasis-open.org/wsrf/r-2", nullptr, nullptr},
    {"ns11", "http://www.onvif.org/ver10/events/wsdl/PullPointSubscriptionBinding", nullptr,
     nullptr},
    {"ns12", "http://www.onvif.org/ver10/events/wsdl/EventBinding", nullptr, nullptr},
    {"ns1", "http://www.onvif.org/ver10/events/wsdl", nullptr, nullptr},
    {"ns13", "http://www.onvif.org/ver10/events/wsdl/SubscriptionManagerBinding", nullptr, nullptr},
    {"ns14", "http://www.onvif.org/ver10/events/wsdl/NotificationProducerBinding", nullptr,
     nullptr},
    {"ns15", "http://www.onvif.org/ver10/events/wsdl/NotificationConsumerBinding", nullptr,
     nullptr},
    {"ns16", "http://www.onvif.org/ver10/events/wsdl/PullPointBinding", nullptr, nullptr},
    {"ns17", "http://www.onvif.org/ver10/events/wsdl/CreatePullPointBinding", nullptr, nullptr},
    {"ns18", "http://www.onvif.org/ver10/events/wsdl/PausableSubscriptionManagerBinding", nullptr,
     nullptr},
    {"ns7", "http://docs.oasis-open.org/wsn/b-2", nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

// The runtime refers to a global table named "namespaces"; every context of
// this library registers eventNamespaces instead, so this one stays empty.
// Hidden, like the runtime: a recorder's own table is never touched.
struct Namespace namespaces[] = {{nullptr, nullptr, nullptr, nullptr}};

VEK_ONVIF_API void VEK_Onvif_Event_Init(struct soap **ctx)
{
    constexpr const char *kFunc = "VEK_Onvif_Event_Init";
    if (ctx == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return;
    }
    auto *soap = static_cast<struct soap *>(VEK_ALLOC(sizeof(struct soap)));
    if (soap == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Fail to malloc memory");
        return;
    }
    std::memset(static_cast<void *>(soap), 0, sizeof(struct soap));
    vek::startRuntime();
    soap_init(soap);
    if (!vek::registerContext(soap)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Too many live contexts.");
        soap_done(soap);
        VEK_FREE(&soap);
        return;
    }
    vek::applyEventSettings(soap, vek::kEventTimeoutSeconds);
    vek::tls::attach(soap);
    *ctx = soap;
}

VEK_ONVIF_API void VEK_Onvif_Event_Destroy(struct soap **ctx)
{
    if (ctx == nullptr || *ctx == nullptr) {
        return;
    }
    // Only a context of this library is released; anything else is left as it is.
    if (!vek::unregisterContext(*ctx)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, "VEK_Onvif_Event_Destroy",
                "Not a context of this library.");
        return;
    }
    soap_delete(*ctx, nullptr);
    soap_end(*ctx);
    soap_done(*ctx);
    VEK_FREE(ctx);
    *ctx = nullptr;
}

} // extern "C"
