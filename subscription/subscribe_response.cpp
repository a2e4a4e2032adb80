// The subscription record: storing a Subscribe answer, and the headers of a
// Subscribe request.
#include <cstring>

#include "soapH.h"
#include "vek_log.h"
#include "vek_subscription_internal.h"

namespace
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Copies at most kSubTextSize - 1 characters of text and a terminating NUL.
void copyBounded(char *member, const char *text, size_t length)
{
    size_t n = length + 1 < vek::kSubTextSize ? length + 1 : vek::kSubTextSize;
    std::memset(member, 0, n);
    std::memcpy(member, text, n - 1);
    member[n - 1] = '\0';
}

} // namespace

extern "C" uint32_t __VEK_Onvif_ParseSubscribeRsp(struct _ns7__SubscribeResponse *rsp,
                                                  char *subAddr, char *subRef)
{
    constexpr const char *kFunc = "__VEK_Onvif_ParseSubscribeRsp";
    if (rsp == nullptr || subAddr == nullptr || subRef == nullptr) {
        VEK_LOG(vek::kLevelError, 102, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    const wsa5__EndpointReferenceType *reference = rsp->SubscriptionReference;
    if (reference == nullptr || reference->Address == nullptr) {
        VEK_LOG(vek::kLevelInfo, 112, kFunc,
                "Succeed to get subscribe response, but the rsp is null.");
        return VEK_ONVIF_ERR_FAIL;
    }
    // Pretty-printed answers wrap the address in whitespace; it is a URL the
    // next requests go to, so only the address itself is kept.
    const char *address = reference->Address;
    size_t length = std::strlen(address);
    while (length > 0 && isBlank(*address)) {
        ++address;
        --length;
    }
    while (length > 0 && isBlank(address[length - 1])) {
        --length;
    }
    copyBounded(subAddr, address, length);

    const wsa5__ReferenceParametersType *params = reference->ReferenceParameters;
    if (params == nullptr || params->__any == nullptr || params->__size < 1 ||
        params->__any[0] == nullptr) {
        return VEK_ONVIF_OK;
    }
    copyBounded(subRef, params->__any[0], std::strlen(params->__any[0]));
    return VEK_ONVIF_OK;
}

extern "C" uint32_t __VEK_Onvif_SubscribeAuth(OnvifDevAccess *access, struct soap *soap)
{
    constexpr const char *kFunc = "__VEK_Onvif_SubscribeAuth";
    if (access == nullptr || soap == nullptr) {
        return VEK_ONVIF_ERR_NULL;
    }
    if (access->szUserName[0] != '\0') {
        uint32_t code = VEK_Onvif_EncryptHeader(access->szUserName, access->szPassword, soap);
        if (code != VEK_ONVIF_OK) {
            VEK_LOG(vek::kLevelError, code, kFunc, "Failed to call VEK_Onvif_EncryptHeader.");
            return code;
        }
    }
    uint32_t code = VEK_Onvif_HeaderEnc(1, access->szEventUrl, soap);
    if (code != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, code, kFunc, "Failed to subscribe author.");
        return code;
    }
    return VEK_ONVIF_OK;
}
