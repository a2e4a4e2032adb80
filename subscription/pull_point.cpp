// The pull point with its whole subscription reference: create, pull in
// batches with a long-poll wait, renew, unsubscribe, synchronization point,
// free. Every request to the pull point carries the reference parameters
// as header blocks; every call works in the caller's context and cleans it.
#include <cstring>

#include "context_registry.h"
#include "date_time.h"
#include "error_record.h"
#include "exchange.h"
#include "pull_point_steps.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event.h"

namespace
{

constexpr uint32_t kMaxMessageLimit = 1024;
constexpr uint32_t kMaxPullTimeout = 3600;
// Time allowed beyond the long-poll wait for the answer to arrive.
constexpr int kReceiveMargin = 10;

constexpr vek::HeaderFailureLog kHeaderFailure = {"VEK_Onvif_EncryptHeader is failed.",
                                                  vek::kHeaderEncFailed, true};
constexpr const char *kReferenceFailure = "Failed to add the reference parameters.";
// A call at the pull point fails with 112 when the camera says it is gone.
constexpr vek::FailureCodes kGoneIs112 = {VEK_ONVIF_ERR_SOAP, VEK_ONVIF_ERR_FAIL};

enum Operation { kCreate, kPull, kRenew, kUnsubscribe, kSynchronize };

constexpr vek::RequestRow kRows[] = {
    {"VEK_Onvif_PullPoint_Create",
     vek::Action::CreatePullPoint,
     vek::Security::Always,
     vek::ReferenceKind::None,
     kHeaderFailure,
     nullptr,
     {"Failed to create pull point subscription, url:%s.", vek::CallFailureLog::Form::Plain},
     {VEK_ONVIF_ERR_SOAP, 0}},
    {"VEK_Onvif_PullPoint_Pull",
     vek::Action::PullMessages,
     vek::Security::Always,
     vek::ReferenceKind::MarkedBlocks,
     kHeaderFailure,
     kReferenceFailure,
     {"Failed to pull messages, url:%s.", vek::CallFailureLog::Form::RuntimeUrlOnly},
     kGoneIs112},
    {"VEK_Onvif_PullPoint_Renew",
     vek::Action::Renew,
     vek::Security::Always,
     vek::ReferenceKind::MarkedBlocks,
     kHeaderFailure,
     kReferenceFailure,
     {"[Soap err:%ld]LogPrint: Failed to Renew, Url:%s",
      vek::CallFailureLog::Form::RuntimeWithError},
     kGoneIs112},
    {"VEK_Onvif_PullPoint_Unsubscribe",
     vek::Action::Unsubscribe,
     vek::Security::Always,
     vek::ReferenceKind::MarkedBlocks,
     kHeaderFailure,
     kReferenceFailure,
     {"[Soap err:%ld]LogPrint: Failed to Unsubscribe, Url:%s",
      vek::CallFailureLog::Form::RuntimeWithError},
     kGoneIs112},
    {"VEK_Onvif_PullPoint_SetSynchronizationPoint",
     vek::Action::SetSynchronizationPoint,
     vek::Security::Always,
     vek::ReferenceKind::MarkedBlocks,
     kHeaderFailure,
     kReferenceFailure,
     {"Failed to set a synchronization point, url:%s.", vek::CallFailureLog::Form::RuntimeUrlOnly},
     kGoneIs112},
};

constexpr vek::PullPointCreation kCreation = {
    &kRows[kCreate],
    true,
    true,
    "The answer names no pull point, url:%s.",
    VEK_ONVIF_ERR_SOAP,
    VEK_ONVIF_ERR_NOMEM,
    VEK_ONVIF_ERR_NOMEM,
};

const char *addressOf(const OnvifPullPoint *pullPoint)
{
    return pullPoint != nullptr ? pullPoint->pszAddress : nullptr;
}

// The context and arguments of a request to an existing pull point; others
// is what the operation adds.
bool acceptedAtPullPoint(struct soap *soap, const OnvifPullPoint *pullPoint, const char *user,
                         const char *password, bool others, const char *func)
{
    return vek::acceptCallerContext(soap, func) &&
           vek::acceptedPullArguments(soap, addressOf(pullPoint), user, password, others, func,
                                      VEK_ONVIF_ERR_PARAM);
}

// A request to the pull point whose records need nothing in the context.
template <typename Call>
uint32_t sendToPullPoint(struct soap *soap, const vek::RequestRow &row,
                         const OnvifPullPoint *pullPoint, const char *user, const char *password,
                         Call call)
{
    vek::Exchange exchange(soap);
    const char *address = pullPoint->pszAddress;
    return exchange.send(row, {address, user, password, pullPoint->pszReference},
                         [&](struct soap *s) { return call(s, address); });
}

} // namespace

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Create(struct soap *soap, const char *url,
                                                             const char *user, const char *password,
                                                             uint32_t terminationSeconds,
                                                             OnvifPullPoint *pullPoint)
{
    vek::OperationRecord record("VEK_Onvif_PullPoint_Create");
    const char *func = kRows[kCreate].func;
    if (!vek::acceptCallerContext(soap, func) ||
        !vek::acceptedPullArguments(soap, url, user, password, pullPoint != nullptr, func,
                                    VEK_ONVIF_ERR_PARAM)) {
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    return record.finish(vek::createPullPoint(soap, kCreation, {url, user, password},
                                              {nullptr, terminationSeconds}, pullPoint));
}

extern "C" VEK_ONVIF_API uint32_t
VEK_Onvif_PullPoint_Pull(struct soap *soap, const OnvifPullPoint *pullPoint, const char *user,
                         const char *password, uint32_t messageLimit, uint32_t timeoutSeconds,
                         OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg, OnvifPullResult *result)
{
    vek::OperationRecord record("VEK_Onvif_PullPoint_Pull");
    const vek::RequestRow &row = kRows[kPull];
    if (result != nullptr) {
        result->pstAlarmReports = nullptr;
        result->ulAlarmCount = 0;
    }
    bool others = inputs != nullptr && cfg != nullptr && result != nullptr && messageLimit >= 1 &&
                  messageLimit <= kMaxMessageLimit && timeoutSeconds <= kMaxPullTimeout;
    if (!acceptedAtPullPoint(soap, pullPoint, user, password, others, row.func)) {
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    vek::PullRequest pull = {pullPoint,
                             user,
                             password,
                             messageLimit,
                             {nullptr, timeoutSeconds},
                             static_cast<int>(timeoutSeconds) + kReceiveMargin};
    return record.finish(vek::pullMessages(soap, row, pull, inputs, cfg, result));
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Renew(struct soap *soap,
                                                            OnvifPullPoint *pullPoint,
                                                            const char *user, const char *password,
                                                            uint32_t terminationSeconds)
{
    vek::OperationRecord record("VEK_Onvif_PullPoint_Renew");
    const vek::RequestRow &row = kRows[kRenew];
    if (!acceptedAtPullPoint(soap, pullPoint, user, password, terminationSeconds != 0, row.func)) {
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    vek::Exchange exchange(soap);
    const char *address = pullPoint->pszAddress;
    uint32_t code = exchange.prepare(row, {address, user, password, pullPoint->pszReference});
    if (code != VEK_ONVIF_OK) {
        return record.finish(code);
    }
    _ns7__Renew request;
    _ns7__RenewResponse response;
    if ((request.TerminationTime = vek::durationIn(soap, {nullptr, terminationSeconds})) ==
        nullptr) {
        return record.finish(VEK_ONVIF_ERR_NOMEM);
    }
    code = exchange.run(row, address, [&](struct soap *s) {
        return soap_call___ns13__Renew(s, address, nullptr, &request, &response);
    });
    if (code != VEK_ONVIF_OK) {
        return record.finish(code);
    }
    if (std::optional<int64_t> termination = vek::parseDateTime(response.TerminationTime)) {
        pullPoint->s64TerminationTime = *termination;
    }
    if (response.CurrentTime != nullptr && vek::parseDateTime(response.CurrentTime)) {
        pullPoint->s64ClockOffset = vek::clockOffsetOf(response.CurrentTime);
    }
    return record.finish(VEK_ONVIF_OK);
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_Unsubscribe(struct soap *soap,
                                                                  OnvifPullPoint *pullPoint,
                                                                  const char *user,
                                                                  const char *password)
{
    vek::OperationRecord record("VEK_Onvif_PullPoint_Unsubscribe");
    const vek::RequestRow &row = kRows[kUnsubscribe];
    if (!acceptedAtPullPoint(soap, pullPoint, user, password, true, row.func)) {
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    _ns7__Unsubscribe request;
    _ns7__UnsubscribeResponse response;
    return record.finish(sendToPullPoint(
        soap, row, pullPoint, user, password, [&](struct soap *s, const char *address) {
            return soap_call___ns13__Unsubscribe(s, address, nullptr, &request, &response);
        }));
}

extern "C" VEK_ONVIF_API uint32_t VEK_Onvif_PullPoint_SetSynchronizationPoint(
    struct soap *soap, const OnvifPullPoint *pullPoint, const char *user, const char *password)
{
    vek::OperationRecord record("VEK_Onvif_PullPoint_SetSynchronizationPoint");
    const vek::RequestRow &row = kRows[kSynchronize];
    if (!acceptedAtPullPoint(soap, pullPoint, user, password, true, row.func)) {
        return record.finish(VEK_ONVIF_ERR_PARAM);
    }
    _ns1__SetSynchronizationPoint request;
    _ns1__SetSynchronizationPointResponse response;
    return record.finish(sendToPullPoint(soap, row, pullPoint, user, password,
                                         [&](struct soap *s, const char *address) {
                                             return soap_call___ns11__SetSynchronizationPoint(
                                                 s, address, nullptr, &request, &response);
                                         }));
}

extern "C" VEK_ONVIF_API void VEK_Onvif_PullPoint_Free(OnvifPullPoint *pullPoint)
{
    if (pullPoint == nullptr) {
        return;
    }
    if (pullPoint->pszAddress != nullptr) {
        VEK_FREE(&pullPoint->pszAddress);
    }
    if (pullPoint->pszReference != nullptr) {
        VEK_FREE(&pullPoint->pszReference);
    }
    std::memset(pullPoint, 0, sizeof(*pullPoint));
}
