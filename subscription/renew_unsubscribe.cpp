// Renew and Unsubscribe: both address the subscription manager stored by
// Subscribe and send the subscription's reference parameter back in the
// SOAP header.
#include "error_record.h"
#include "exchange.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_subscription_internal.h"

namespace
{

constexpr const char *kRenewDuration = "PT1M";

enum Operation { kRenew, kUnsubscribe };

constexpr vek::RequestRow kRows[] = {
    {"VEK_Onvif_Renew",
     vek::Action::Renew,
     vek::Security::WhenUserGiven,
     vek::ReferenceKind::StoredBlock,
     {"VEK_Onvif_EncryptHeader is failed.", vek::kHeaderEncFailed, false},
     nullptr,
     {"[Soap err:%ld]LogPrint: Failed to Renew, Url:%s",
      vek::CallFailureLog::Form::RuntimeWithError},
     {VEK_ONVIF_ERR_SOAP, 0}},
    {"__VEK_Onvif_Unsubscribe",
     vek::Action::Unsubscribe,
     vek::Security::WhenUserGiven,
     vek::ReferenceKind::StoredBlock,
     {"VEK_Onvif_EncryptHeader failed.", vek::kHeaderEncFailed, true},
     "Failed to soap malloc wsa__sub.",
     {"[Soap err:%ld]LogPrint: Failed to Unsubscribe, Url:%s",
      vek::CallFailureLog::Form::RuntimeWithError},
     {VEK_ONVIF_ERR_FAIL, 0}},
};

} // namespace

uint32_t vek::unsubscribeOnce(Exchange &exchange, const char *subAddr, const char *subRef,
                              const char *user, const char *password)
{
    const RequestRow &row = kRows[kUnsubscribe];
    if (subAddr == nullptr || subAddr[0] == '\0' || !exchange.ok() || user == nullptr ||
        password == nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_PARAM, row.func, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    _ns7__Unsubscribe request;
    _ns7__UnsubscribeResponse response;
    return exchange.send(row, {subAddr, user, password, subRef}, [&](struct soap *soap) {
        return soap_call___ns13__Unsubscribe(soap, subAddr, nullptr, &request, &response);
    });
}

uint32_t vek::renewOnce(const char *subAddr, const char *subRef, const char *user,
                        const char *password)
{
    const vek::RequestRow &row = kRows[kRenew];
    if (subAddr == nullptr || subAddr[0] == '\0' || user == nullptr || password == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, row.func, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange;
    _ns7__Renew request;
    _ns7__RenewResponse response;
    // Read only by the serializer; no copy in the context is needed.
    request.TerminationTime = const_cast<char *>(kRenewDuration);
    return exchange.send(row, {subAddr, user, password, subRef}, [&](struct soap *soap) {
        return soap_call___ns13__Renew(soap, subAddr, nullptr, &request, &response);
    });
}

namespace
{

uint32_t unsubscribe(int32_t *sockFd, const char *user, const char *password, uint32_t scope,
                     OnvifSubInfo *subInfo)
{
    if (user == nullptr || password == nullptr || scope > VEK_ONVIF_SCOPE_SMART ||
        subInfo == nullptr || (subInfo->ulCommonAlarmSub == 0 && subInfo->ulSmartDataSub == 0)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, "VEK_Onvif_Unsubscribe",
                "Invalid input Param,fd[%d]", sockFd != nullptr ? *sockFd : -1);
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t result = VEK_ONVIF_ERR_FAIL;
    vek::noteFailure(VEK_ONVIF_FAIL_ARGUMENT, "no flagged subscription of that scope to end");
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

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Renew(const char *subAddr, const char *subRef,
                                                  const char *user, const char *password)
{
    vek::OperationRecord record("VEK_Onvif_Renew");
    return record.finish(vek::renewOnce(subAddr, subRef, user, password));
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_Unsubscribe(int32_t *sockFd, const char *user,
                                                        const char *password, uint32_t scope,
                                                        OnvifSubInfo *subInfo)
{
    vek::OperationRecord record("VEK_Onvif_Unsubscribe");
    return record.finish(unsubscribe(sockFd, user, password, scope, subInfo));
}
