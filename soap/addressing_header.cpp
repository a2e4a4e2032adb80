// WS-Addressing header of every request: destination, a fixed message id,
// an anonymous reply address and the action URI.
#include "action.h"
#include "context_registry.h"
#include "request_headers.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event.h"
#include "zeroed_record.h"

namespace
{

constexpr const char *kAnonymous = "http://www.w3.org/2005/08/addressing/anonymous";
constexpr const char *kMessageId = "urn:uuid:7d75ebd2-2000-4c30-a7c1-70f042cef82c";

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_HeaderEnc(uint32_t action, const char *url,
                                                      struct soap *soap)
{
    if (!vek::acceptCallerContext(soap, "VEK_Onvif_HeaderEnc")) {
        return VEK_ONVIF_ERR_PARAM;
    }
    std::optional<vek::Action> known = vek::interfaceAction(action);
    return vek::writeAddressingHeader(known ? vek::actionUri(*known) : nullptr, url, soap);
}

uint32_t vek::writeAddressingHeader(const char *actionUri, const char *url, struct soap *soap)
{
    constexpr const char *kFunc = "VEK_Onvif_HeaderEnc";
    if (url == nullptr || url[0] == '\0' || soap == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    if (!ensureRecord(soap, soap->header) || !ensureRecord(soap, soap->header->wsa5__ReplyTo)) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    SOAP_ENV__Header *header = soap->header;
    header->wsa5__To = soap_strdup(soap, url);
    header->wsa5__ReplyTo->Address = soap_strdup(soap, kAnonymous);
    header->wsa5__MessageID = soap_strdup(soap, kMessageId);
    if (actionUri == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    header->wsa5__Action = soap_strdup(soap, actionUri);
    if (header->wsa5__To == nullptr || header->wsa5__Action == nullptr ||
        header->wsa5__ReplyTo->Address == nullptr || header->wsa5__MessageID == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "soap_strdup failed.");
        return VEK_ONVIF_ERR_FAIL;
    }
    return VEK_ONVIF_OK;
}
