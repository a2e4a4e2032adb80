// Renew and Unsubscribe: both address the subscription manager stored by
// Subscribe and send the subscription's reference parameter back in the
// SOAP header.
#include <cstring>

#include "request_headers.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_soap_context.h"
#include "vek_subscription_internal.h"

namespace
{

constexpr const char *kRenewDuration = "PT1M";
constexpr uint32_t kRenewAction = VEK_ONVIF_ACTION_RENEW;
constexpr uint32_t kUnsubscribeAction = VEK_ONVIF_ACTION_UNSUBSCRIBE;

// Points the header's subscription-reference field at the caller's text:
// one extension element, sent back as it was received. False when the
// context cannot hold the record.
bool setReferenceHeader(struct soap *soap, const char *subRef)
{
    auto *reference = static_cast<wsa5__EndpointReferenceType *>(
        soap_malloc(soap, sizeof(wsa5__EndpointReferenceType)));
    auto **elements = static_cast<char **>(soap_malloc(soap, sizeof(char *)));
    if (reference == nullptr || elements == nullptr) {
        return false;
    }
    std::memset(static_cast<void *>(reference), 0, sizeof *reference);
    elements[0] = const_cast<char *>(subRef);
    reference->__size = 1;
    reference->__any = elements;
    soap->header->wsa__sub = reference;
    return true;
}

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Renew(const char *subAddr, const char *subRef,
                                                  const char *user, const char *password)
{
    constexpr const char *kFunc = "VEK_Onvif_Renew";
    if (subAddr == nullptr || subAddr[0] == '\0' || user == nullptr || password == nullptr) {
        VEK_LOG(vek::kLevelError, 112, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::EventContext context;
    struct soap *soap = context.get();
    uint32_t code = vek::addRequestHeaders(
        soap, user, password, vek::Security::WhenUserGiven, kRenewAction, subAddr,
        {kFunc, "VEK_Onvif_EncryptHeader is failed.", "VEK_Onvif_HeaderEnc is failed.", false});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns7__Renew request;
    _ns7__RenewResponse response;
    request.TerminationTime = soap_strdup(soap, kRenewDuration);
    if (subRef != nullptr && !setReferenceHeader(soap, subRef)) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    long soapCode = soap_call___ns13__Renew(soap, subAddr, nullptr, &request, &response);
    if (soapCode != SOAP_OK) {
        VEK_SOAP_PUB_LogPrintImp(soap, vek::kEventSource, __LINE__, kFunc,
                                 "[Soap err:%ld]LogPrint: Failed to Renew, Url:%s", soapCode,
                                 subAddr);
        return VEK_ONVIF_ERR_SOAP;
    }
    return VEK_ONVIF_OK;
}

extern "C" uint32_t __VEK_Onvif_Unsubscribe(struct soap *soap, const char *subAddr,
                                            const char *subRef, const char *user,
                                            const char *password)
{
    constexpr const char *kFunc = "__VEK_Onvif_Unsubscribe";
    if (subAddr == nullptr || subAddr[0] == '\0' || soap == nullptr || user == nullptr ||
        password == nullptr) {
        VEK_LOG(vek::kLevelError, 102, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t code = vek::addRequestHeaders(
        soap, user, password, vek::Security::WhenUserGiven, kUnsubscribeAction, subAddr,
        {kFunc, "VEK_Onvif_EncryptHeader failed.", "VEK_Onvif_HeaderEnc is failed.", true});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns7__Unsubscribe request;
    _ns7__UnsubscribeResponse response;
    if (subRef != nullptr && !setReferenceHeader(soap, subRef)) {
        VEK_LOG(vek::kLevelError, 104, kFunc, "Failed to soap malloc wsa__sub.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    int soapCode = soap_call___ns13__Unsubscribe(soap, subAddr, nullptr, &request, &response);
    if (soapCode != SOAP_OK) {
        VEK_SOAP_PUB_LogPrintImp(soap, vek::kEventSource, __LINE__, kFunc,
                                 "[Soap err:%d]LogPrint: Failed to Unsubscribe, Url:%s", soapCode,
                                 subAddr);
        return VEK_ONVIF_ERR_FAIL;
    }
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Unsubscribe(int32_t *sockFd, const char *user,
                                                        const char *password, uint32_t scope,
                                                        OnvifSubInfo *subInfo)
{
    if (user == nullptr || password == nullptr || scope > VEK_ONVIF_SCOPE_SMART ||
        subInfo == nullptr || (subInfo->ulCommonAlarmSub == 0 && subInfo->ulSmartDataSub == 0)) {
        VEK_LOG(vek::kLevelError, 102, "VEK_Onvif_Unsubscribe", "Invalid input Param,fd[%d]",
                sockFd != nullptr ? *sockFd : -1);
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t result = VEK_ONVIF_ERR_FAIL;
    bool common = scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_COMMON;
    if (subInfo->ulCommonAlarmSub == 1 && common && sockFd != nullptr) {
        vek::EventContext context;
        struct soap *soap = context.get();
        if (soap != nullptr) {
            // The context owns the listening socket from here on: destroying
            // it closes the socket whatever the camera answers.
            soap->master = *sockFd;
        } else if (*sockFd >= 0) {
            __wrap_close(*sockFd);
        }
        result = __VEK_Onvif_Unsubscribe(soap, subInfo->szCommonSubAddr, subInfo->szCommonSubRef,
                                         user, password);
        *sockFd = -1;
    }
    bool smart = scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_SMART;
    if (subInfo->ulSmartDataSub == 1 && smart) {
        vek::EventContext context;
        result = __VEK_Onvif_Unsubscribe(context.get(), subInfo->szSmartSubAddr,
                                         subInfo->szSmartSubRef, user, password);
    }
    return result;
}
