// The subscription record: storing a Subscribe answer.
#include <cstring>

#include "soapH.h"
#include "vek_log.h"
#include "vek_subscription_internal.h"
#include "vek_text.h"

namespace
{

// Copies at most kSubTextSize - 1 characters of text and a terminating NUL.
void copyBounded(char *member, const char *text, size_t length)
{
    size_t n = length + 1 < vek::kSubTextSize ? length + 1 : vek::kSubTextSize;
    std::memset(member, 0, n);
    std::memcpy(member, text, n - 1);
    member[n - 1] = '\0';
}

} // namespace

uint32_t vek::parseSubscribeResponse(struct _ns7__SubscribeResponse *rsp, char *subAddr,
                                     char *subRef)
{
    constexpr const char *kFunc = "__VEK_Onvif_ParseSubscribeRsp";
    if (rsp == nullptr || subAddr == nullptr || subRef == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    const wsa5__EndpointReferenceType *reference = rsp->SubscriptionReference;
    if (reference == nullptr || reference->Address == nullptr) {
        VEK_LOG(vek::kLevelInfo, VEK_ONVIF_ERR_FAIL, kFunc,
                "Succeed to get subscribe response, but the rsp is null.");
        return VEK_ONVIF_ERR_FAIL;
    }
    std::string_view address = vek::trimXmlSpace(reference->Address);
    copyBounded(subAddr, address.data(), address.size());

    const wsa5__ReferenceParametersType *params = reference->ReferenceParameters;
    if (params == nullptr || params->__any == nullptr || params->__size < 1 ||
        params->__any[0] == nullptr) {
        return VEK_ONVIF_OK;
    }
    copyBounded(subRef, params->__any[0], std::strlen(params->__any[0]));
    return VEK_ONVIF_OK;
}
