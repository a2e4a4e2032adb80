// The pull point: CreatePullPointSubscription hands back the pull point's
// address; PullMessages fetches from it and translates what it gets. Both
// work in the caller's context and clean it before they return.
#include <cstring>

#include "context_registry.h"
#include "exchange.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event.h"
#include "vek_text.h"

namespace
{

constexpr const char *kPullPointTermination = "PT2M";
constexpr const char *kPullTimeout = "PT1S";
constexpr int kPullMessageLimit = 1;

// A copy of the address on the platform heap, whitespace around it left
// out: it is where every pull goes. Null when the heap is exhausted.
char *copyAddress(const char *address)
{
    std::string_view trimmed = vek::trimXmlSpace(address);
    auto *copy = static_cast<char *>(VEK_ALLOC(trimmed.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, trimmed.data(), trimmed.size());
        copy[trimmed.size()] = '\0';
    }
    return copy;
}

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_CreatePullPointSubscription(struct soap *soap,
                                                                        const char *url,
                                                                        const char *user,
                                                                        const char *password,
                                                                        char **pullPointAddr)
{
    constexpr const char *kFunc = "VEK_Onvif_CreatePullPointSubscription";
    if (!vek::acceptCallerContext(soap, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    if (url == nullptr || url[0] == '\0' || soap == nullptr || pullPointAddr == nullptr ||
        password == nullptr || user == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange(soap);
    uint32_t code = exchange.addHeaders(user, password, vek::Security::Always,
                                        VEK_ONVIF_ACTION_CREATE_PULL_POINT, url,
                                        {kFunc, "VEK_Onvif_Event_EncryptHeader is failed.",
                                         "VEK_Onvif_HeaderEnc is failed.", false});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns1__CreatePullPointSubscription request;
    _ns1__CreatePullPointSubscriptionResponse response;
    request.InitialTerminationTime = soap_strdup(soap, kPullPointTermination);
    auto stub = [&](struct soap *s) {
        return soap_call___ns12__CreatePullPointSubscription(s, url, nullptr, &request, &response);
    };
    if (exchange.call(stub,
                      {kFunc, "Failed to create pull point subscription, url:%s.",
                       vek::CallFailureLog::Form::Plain},
                      url) != SOAP_OK) {
        return VEK_ONVIF_ERR_SOAP;
    }
    if (response.SubscriptionReference == nullptr ||
        response.SubscriptionReference->Address == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc,
                "fail to get stCreatePullPointSubscriptionResponse.");
        return VEK_ONVIF_ERR_SOAP;
    }
    char *copy = copyAddress(response.SubscriptionReference->Address);
    if (copy == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "fail to malloc.");
        return VEK_ONVIF_ERR_SOAP;
    }
    *pullPointAddr = copy;
    return VEK_ONVIF_OK;
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullMessages(
    struct soap *soap, const char *pullPointAddr, const char *user, const char *password,
    OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg, OnvifPullResult *result)
{
    constexpr const char *kFunc = "VEK_Onvif_PullMessages";
    if (pullPointAddr == nullptr || pullPointAddr[0] == '\0' || soap == nullptr ||
        result == nullptr || password == nullptr || user == nullptr || cfg == nullptr ||
        inputs == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    // A pull that ends without reports leaves none behind: a record reused
    // from an earlier pull must not keep pointing at that pull's array.
    result->pstAlarmReports = nullptr;
    result->ulAlarmCount = 0;
    if (!vek::acceptCallerContext(soap, kFunc)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::Exchange exchange(soap);
    uint32_t code = exchange.addHeaders(
        user, password, vek::Security::Always, VEK_ONVIF_ACTION_PULL_MESSAGES, pullPointAddr,
        {kFunc, "VEK_Onvif_EncryptHeader is failed.", "VEK_Onvif_HeaderEnc is failed.", false});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns1__PullMessages request;
    _ns1__PullMessagesResponse response;
    request.Timeout = soap_strdup(soap, kPullTimeout);
    request.MessageLimit = kPullMessageLimit;
    auto stub = [&](struct soap *s) {
        return soap_call___ns11__PullMessages(s, pullPointAddr, nullptr, &request, &response);
    };
    if (exchange.call(stub,
                      {kFunc, "Failed to VEK_Onvif_PullMessages, url:%s.",
                       vek::CallFailureLog::Form::RuntimeUrlOnly},
                      pullPointAddr) != SOAP_OK) {
        return VEK_ONVIF_ERR_SOAP;
    }
    if (response.ns7__NotificationMessage != nullptr) {
        _ns7__Notify notify;
        notify.__sizeNotificationMessage = response.__sizeNotificationMessage;
        notify.NotificationMessage = response.ns7__NotificationMessage;
        uint32_t count = 0;
        OnvifAlarmReport *reports = VEK_Onvif_TransAlarmType(cfg, inputs, &notify, &count);
        result->pstAlarmReports = reports;
        result->ulAlarmCount = reports != nullptr ? count : 0;
    }
    return VEK_ONVIF_OK;
}
