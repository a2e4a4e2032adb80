// Renew and Unsubscribe: both address the subscription manager stored by
// Subscribe and send the subscription's reference parameter back in the
// SOAP header.
#include "exchange.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_subscription_internal.h"

namespace
{

constexpr const char *kRenewDuration = "PT1M";

} // namespace

uint32_t vek::unsubscribeOnce(Exchange &exchange, const char *subAddr, const char *subRef,
                              const char *user, const char *password)
{
    constexpr const char *kFunc = "__VEK_Onvif_Unsubscribe";
    if (subAddr == nullptr || subAddr[0] == '\0' || !exchange.ok() || user == nullptr ||
        password == nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t code = exchange.addHeaders(
        user, password, Security::WhenUserGiven, VEK_ONVIF_ACTION_UNSUBSCRIBE, subAddr,
        {kFunc, "VEK_Onvif_EncryptHeader failed.", "VEK_Onvif_HeaderEnc is failed.", true});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns7__Unsubscribe request;
    _ns7__UnsubscribeResponse response;
    if (subRef != nullptr && !exchange.addReferenceParameter(subRef)) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_NOMEM, kFunc, "Failed to soap malloc wsa__sub.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    auto stub = [&](struct soap *soap) {
        return soap_call___ns13__Unsubscribe(soap, subAddr, nullptr, &request, &response);
    };
    if (exchange.call(stub,
                      {kFunc, "[Soap err:%ld]LogPrint: Failed to Unsubscribe, Url:%s",
                       CallFailureLog::Form::RuntimeWithError},
                      subAddr) != SOAP_OK) {
        return VEK_ONVIF_ERR_FAIL;
    }
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Renew(const char *subAddr, const char *subRef,
                                                  const char *user, const char *password)
{
    constexpr const char *kFunc = "VEK_Onvif_Renew";
    if (subAddr == nullptr || subAddr[0] == '\0' || user == nullptr || password == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange;
    uint32_t code = exchange.addHeaders(
        user, password, vek::Security::WhenUserGiven, VEK_ONVIF_ACTION_RENEW, subAddr,
        {kFunc, "VEK_Onvif_EncryptHeader is failed.", "VEK_Onvif_HeaderEnc is failed.", false});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns7__Renew request;
    _ns7__RenewResponse response;
    request.TerminationTime = soap_strdup(exchange.soap(), kRenewDuration);
    if (subRef != nullptr && !exchange.addReferenceParameter(subRef)) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    auto stub = [&](struct soap *soap) {
        return soap_call___ns13__Renew(soap, subAddr, nullptr, &request, &response);
    };
    if (exchange.call(stub,
                      {kFunc, "[Soap err:%ld]LogPrint: Failed to Renew, Url:%s",
                       vek::CallFailureLog::Form::RuntimeWithError},
                      subAddr) != SOAP_OK) {
        return VEK_ONVIF_ERR_SOAP;
    }
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Unsubscribe(int32_t *sockFd, const char *user,
                                                        const char *password, uint32_t scope,
                                                        OnvifSubInfo *subInfo)
{
    if (user == nullptr || password == nullptr || scope > VEK_ONVIF_SCOPE_SMART ||
        subInfo == nullptr || (subInfo->ulCommonAlarmSub == 0 && subInfo->ulSmartDataSub == 0)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, "VEK_Onvif_Unsubscribe",
                "Invalid input Param,fd[%d]", sockFd != nullptr ? *sockFd : -1);
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t result = VEK_ONVIF_ERR_FAIL;
    bool common = scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_COMMON;
    if (subInfo->ulCommonAlarmSub == 1 && common && sockFd != nullptr) {
        vek::Exchange exchange;
        if (exchange.ok()) {
            // The context owns the listening socket from here on: the
            // teardown closes it whatever the camera answers.
            exchange.soap()->master = *sockFd;
        } else if (*sockFd >= 0) {
            __wrap_close(*sockFd);
        }
        result = vek::unsubscribeOnce(exchange, subInfo->szCommonSubAddr, subInfo->szCommonSubRef,
                                      user, password);
        *sockFd = -1;
    }
    bool smart = scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_SMART;
    if (subInfo->ulSmartDataSub == 1 && smart) {
        vek::Exchange exchange;
        result = vek::unsubscribeOnce(exchange, subInfo->szSmartSubAddr, subInfo->szSmartSubRef,
                                      user, password);
    }
    return result;
}
