// The older pull-point pair: CreatePullPointSubscription hands back only the
// pull point's address; PullMessages fetches one message from it, waiting
// one second, and translates what it gets. Both are the pull-point steps
// with their own log texts and codes; both work in the caller's context
// and clean it before they return.
#include "context_registry.h"
#include "error_record.h"
#include "pull_point_steps.h"
#include "vek_log.h"
#include "vek_onvif_event.h"

namespace
{

constexpr const char *kPullPointTermination = "PT2M";
constexpr const char *kPullTimeout = "PT1S";
constexpr uint32_t kPullMessageLimit = 1;

enum Operation { kCreate, kPull };

constexpr vek::RequestRow kRows[] = {
    {"VEK_Onvif_CreatePullPointSubscription",
     vek::Action::CreatePullPoint,
     vek::Security::Always,
     vek::ReferenceKind::None,
     {"VEK_Onvif_Event_EncryptHeader is failed.", vek::kHeaderEncFailed, false},
     nullptr,
     {"Failed to create pull point subscription, url:%s.", vek::CallFailureLog::Form::Plain},
     {VEK_ONVIF_ERR_SOAP, 0}},
    {"VEK_Onvif_PullMessages",
     vek::Action::PullMessages,
     vek::Security::Always,
     vek::ReferenceKind::None,
     {"VEK_Onvif_EncryptHeader is failed.", vek::kHeaderEncFailed, false},
     nullptr,
     {"Failed to VEK_Onvif_PullMessages, url:%s.", vek::CallFailureLog::Form::RuntimeUrlOnly},
     {VEK_ONVIF_ERR_SOAP, 0}},
};

// Only the address is kept; an address of only whitespace is handed back
// empty.
constexpr vek::PullPointCreation kCreation = {
    &kRows[kCreate],
    false,
    false,
    "fail to get stCreatePullPointSubscriptionResponse.",
    VEK_ONVIF_ERR_FAIL,
    VEK_ONVIF_ERR_FAIL,
    VEK_ONVIF_ERR_SOAP,
};

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_CreatePullPointSubscription(struct soap *soap,
                                                                        const char *url,
                                                                        const char *user,
                                                                        const char *password,
                                                                        char **pullPointAddr)
{
    vek::OperationRecord record("VEK_Onvif_CreatePullPointSubscription");
    const char *func = kRows[kCreate].func;
    if (!vek::acceptCallerContext(soap, func) ||
        !vek::acceptedPullArguments(soap, url, user, password, pullPointAddr != nullptr, func,
                                    VEK_ONVIF_ERR_FAIL)) {
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    OnvifPullPoint created{};
    uint32_t code = vek::createPullPoint(soap, kCreation, {url, user, password},
                                         {kPullPointTermination, 0}, &created);
    if (code == VEK_ONVIF_OK) {
        *pullPointAddr = created.pszAddress;
    }
    return record.finish(code);
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullMessages(
    struct soap *soap, const char *pullPointAddr, const char *user, const char *password,
    OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg, OnvifPullResult *result)
{
    vek::OperationRecord record("VEK_Onvif_PullMessages");
    const vek::RequestRow &row = kRows[kPull];
    if (!vek::acceptedPullArguments(soap, pullPointAddr, user, password,
                                    result != nullptr && cfg != nullptr && inputs != nullptr,
                                    row.func, VEK_ONVIF_ERR_FAIL)) {
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    // A pull that ends without reports leaves none behind: a record reused
    // from an earlier pull must not keep pointing at that pull's array.
    result->pstAlarmReports = nullptr;
    result->ulAlarmCount = 0;
    if (!vek::acceptCallerContext(soap, row.func)) {
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    OnvifPullPoint pullPoint{};
    pullPoint.pszAddress = const_cast<char *>(pullPointAddr);
    vek::PullRequest pull = {&pullPoint, user, password, kPullMessageLimit, {kPullTimeout, 0}, 0};
    return record.finish(vek::pullMessages(soap, row, pull, inputs, cfg, result));
}
