// WS-Addressing header of every request: destination, a message id of its
// own, an anonymous reply address and the action URI.
#include <openssl/rand.h>

#include <cstdio>

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
constexpr size_t kMessageIdSize = sizeof "urn:uuid:xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx";

} // namespace

char *vek::newMessageId(struct soap *soap)
{
    // A random (version 4) UUID: cameras that keep the ids they have seen,
    // to refuse a request played again, refuse a repeated one.
    unsigned char bytes[16] = {0};
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return nullptr;
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
    char text[kMessageIdSize];
    std::snprintf(text, sizeof text,
                  "urn:uuid:%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7],
                  bytes[8], bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14],
                  bytes[15]);
    return soap_strdup(soap, text);
}

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
    header->wsa5__MessageID = newMessageId(soap);
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
