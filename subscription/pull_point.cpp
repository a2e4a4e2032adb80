// The pull point: CreatePullPointSubscription hands back the pull point's
// address; PullMessages fetches from it and translates what it gets. Both
// work in the caller's context and clean it before they return.
#include <cstring>

#include "request_headers.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event.h"
#include "vek_text.h"

namespace
{

constexpr const char *kPullPointTermination = "PT2M";
constexpr const char *kPullTimeout = "PT1S";
constexpr int kPullMessageLimit = 1;
constexpr uint32_t kCreatePullPointAction = VEK_ONVIF_ACTION_CREATE_PULL_POINT;
constexpr uint32_t kPullMessagesAction = VEK_ONVIF_ACTION_PULL_MESSAGES;

// Cleans the caller's context on every way out: the managed records the
// stubs made and all data they hold. The context itself stays the caller's.
class ContextCleaner
{
  public:
    explicit ContextCleaner(struct soap *soap) : soap_(soap) {}
    ~ContextCleaner()
    {
        soap_delete(soap_, nullptr);
        soap_end(soap_);
    }
    ContextCleaner(const ContextCleaner &) = delete;
    ContextCleaner &operator=(const ContextCleaner &) = delete;

  private:
    struct soap *soap_;
};

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_CreatePullPointSubscription(struct soap *soap,
                                                                        const char *url,
                                                                        const char *user,
                                                                        const char *password,
                                                                        char **pullPointAddr)
{
    constexpr const char *kFunc = "VEK_Onvif_CreatePullPointSubscription";
    if (url == nullptr || url[0] == '\0' || soap == nullptr || pullPointAddr == nullptr ||
        password == nullptr || user == nullptr) {
        VEK_LOG(vek::kLevelError, 112, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    ContextCleaner cleaner(soap);
    uint32_t code = vek::addRequestHeaders(soap, user, password, vek::Security::Always,
                                           kCreatePullPointAction, url,
                                           {kFunc, "VEK_Onvif_Event_EncryptHeader is failed.",
                                            "VEK_Onvif_HeaderEnc is failed.", false});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns1__CreatePullPointSubscription request;
    _ns1__CreatePullPointSubscriptionResponse response;
    request.InitialTerminationTime = soap_strdup(soap, kPullPointTermination);
    if (soap_call___ns12__CreatePullPointSubscription(soap, url, nullptr, &request, &response) !=
        SOAP_OK) {
        VEK_LOG(vek::kLevelError, 112, kFunc, "Failed to create pull point subscription, url:%s.",
                url);
        return VEK_ONVIF_ERR_SOAP;
    }
    if (response.SubscriptionReference == nullptr ||
        response.SubscriptionReference->Address == nullptr) {
        VEK_LOG(vek::kLevelError, 112, kFunc, "fail to get stCreatePullPointSubscriptionResponse.");
        return VEK_ONVIF_ERR_SOAP;
    }
    // The address is where every pull goes: whitespace around it is not
    // part of it.
    std::string_view address = vek::trimXmlSpace(response.SubscriptionReference->Address);
    size_t length = address.size();
    auto *copy = static_cast<char *>(VEK_ALLOC(length + 1));
    if (copy == nullptr) {
        VEK_LOG(vek::kLevelError, 112, kFunc, "fail to malloc.");
        return VEK_ONVIF_ERR_SOAP;
    }
    std::memset(copy, 0, length + 1);
    std::memcpy(copy, address.data(), length);
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
        VEK_LOG(vek::kLevelError, 112, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    // A pull that ends without reports leaves none behind: a record reused
    // from an earlier pull must not keep pointing at that pull's array.
    result->pstAlarmReports = nullptr;
    result->ulAlarmCount = 0;
    ContextCleaner cleaner(soap);
    uint32_t code = vek::addRequestHeaders(
        soap, user, password, vek::Security::Always, kPullMessagesAction, pullPointAddr,
        {kFunc, "VEK_Onvif_EncryptHeader is failed.", "VEK_Onvif_HeaderEnc is failed.", false});
    if (code != VEK_ONVIF_OK) {
        return code;
    }
    _ns1__PullMessages request;
    _ns1__PullMessagesResponse response;
    request.Timeout = soap_strdup(soap, kPullTimeout);
    request.MessageLimit = kPullMessageLimit;
    if (soap_call___ns11__PullMessages(soap, pullPointAddr, nullptr, &request, &response) !=
        SOAP_OK) {
        VEK_SOAP_PUB_LogPrintImp(soap, vek::kEventSource, __LINE__, kFunc,
                                 "Failed to VEK_Onvif_PullMessages, url:%s.", pullPointAddr);
        return VEK_ONVIF_ERR_SOAP;
    }
    OnvifAlarmReport *reports = nullptr;
    uint32_t count = 0;
    if (response.ns7__NotificationMessage != nullptr) {
        _ns7__Notify notify;
        notify.__sizeNotificationMessage = response.__sizeNotificationMessage;
        notify.NotificationMessage = response.ns7__NotificationMessage;
        reports = VEK_Onvif_TransAlarmType(cfg, inputs, &notify, &count);
    }
    result->pstAlarmReports = reports;
    result->ulAlarmCount = reports != nullptr ? count : 0;
    return VEK_ONVIF_OK;
}
