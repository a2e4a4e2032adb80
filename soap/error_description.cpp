// What a context of the library knows about its last failure, in words: a
// recorder's platform log reads it through this function, never from the
// context, whose layout is the library's own runtime's.
#include <cstdio>
#include <cstring>
#include <string>

#include "context_registry.h"
#include "stdsoap2.h"
#include "vek_log.h"
#include "vek_onvif_event.h"

namespace
{
// "error N | <the runtime's fault report on one line>[ | HTTP S]", or ""
// when the context holds no error.
std::string describe(struct soap *soap)
{
    if (soap->error == SOAP_OK) {
        return {};
    }
    char fault[512];
    soap_sprint_fault(soap, fault, sizeof fault);
    // The runtime's report spans lines; keep it to one.
    for (char *p = fault; *p != '\0'; ++p) {
        if (*p == '\n' || *p == '\r') {
            *p = ' ';
        }
    }
    std::string text = "error " + std::to_string(soap->error) + " | " + fault;
    // The HTTP status of the camera's answer, when one arrived (a fault's body hides it).
    if (soap->status >= 100 && soap->status <= 599) {
        text += " | HTTP " + std::to_string(soap->status);
    }
    return text;
}
} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Event_DescribeError(struct soap *soap, char *pszText,
                                                                uint32_t ulSize)
{
    constexpr const char *kFunc = "VEK_Onvif_Event_DescribeError";
    if (soap == nullptr || pszText == nullptr || ulSize == 0) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    pszText[0] = '\0';
    if (!vek::acceptCallerContext(soap, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    std::string text = describe(soap);
    size_t length = text.size() < ulSize ? text.size() : ulSize - 1;
    std::memcpy(pszText, text.data(), length);
    pszText[length] = '\0';
    return VEK_ONVIF_OK;
}
