#include "exchange.h"

#include "error_record.h"
#include "exchange_failure.h"

#include "pull_point_gone.h"
#include "reference_blocks.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event.h"
#include "zeroed_record.h"

namespace vek
{

Exchange::Exchange() : owned_(true)
{
    VEK_Onvif_Event_Init(&soap_);
}

Exchange::Exchange(struct soap *borrowed) : soap_(borrowed) {}

Exchange::~Exchange()
{
    if (soap_ == nullptr) {
        return;
    }
    if (owned_) {
        VEK_Onvif_Event_Destroy(&soap_);
        return;
    }
    // The managed records the stubs made and all data they hold go; the
    // context itself stays the caller's.
    soap_delete(soap_, nullptr);
    soap_end(soap_);
}

uint32_t Exchange::prepare(const RequestRow &row, const RequestTarget &target)
{
    const char *headerFunc = row.headerFailure.func != nullptr ? row.headerFailure.func : row.func;
    // The only way a frame lacks its context is an allocation that failed.
    if (soap_ == nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_NOMEM, headerFunc, "Failed to init event soap.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    user_ = target.user;
    password_ = target.password;
    secured_ = row.security == Security::Always || (user_ != nullptr && user_[0] != '\0');
    uint32_t code = addRequestHeaders(soap_, headerFunc, target.user, target.password, row.security,
                                      row.action, target.url, row.headerFailure);
    if (code != VEK_ONVIF_OK || row.references == ReferenceKind::None ||
        target.reference == nullptr) {
        return code;
    }
    bool added = row.references == ReferenceKind::StoredBlock
                     ? addReferenceParameter(target.reference)
                     : addReferenceParameters(target.reference);
    if (added) {
        return VEK_ONVIF_OK;
    }
    if (row.referenceFailure != nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_NOMEM, row.func, "%s", row.referenceFailure);
    }
    return VEK_ONVIF_ERR_NOMEM;
}

bool Exchange::addReferenceParameter(const char *reference)
{
    auto *header = soap_->header;
    auto *parameters = zeroedRecord<wsa5__EndpointReferenceType>(soap_);
    auto **elements = static_cast<char **>(soap_malloc(soap_, sizeof(char *)));
    if (header == nullptr || parameters == nullptr || elements == nullptr) {
        return false;
    }
    elements[0] = const_cast<char *>(reference);
    parameters->__size = 1;
    parameters->__any = elements;
    header->wsa__sub = parameters;
    return true;
}

bool Exchange::addReferenceParameters(const char *references)
{
    std::optional<std::vector<std::string>> blocks = markedReferenceBlocks(references);
    auto *header = soap_->header;
    if (!blocks || header == nullptr) {
        return false;
    }
    auto *parameters = zeroedRecord<wsa5__EndpointReferenceType>(soap_);
    auto **elements =
        static_cast<char **>(soap_malloc(soap_, sizeof(char *) * (blocks->size() + 1)));
    if (parameters == nullptr || elements == nullptr) {
        return false;
    }
    for (size_t i = 0; i < blocks->size(); ++i) {
        elements[i] = soap_strdup(soap_, (*blocks)[i].c_str());
        if (elements[i] == nullptr) {
            return false;
        }
    }
    parameters->__size = static_cast<int>(blocks->size());
    parameters->__any = elements;
    header->wsa__sub = parameters;
    return true;
}

void Exchange::startRecord()
{
    startExchangeRecord();
    answerClock_.reset();
}

void Exchange::endRecord(uint32_t sent, int code, const ExchangeBounds &bounds)
{
    noteAttempts(sent);
    if (answerClock_) {
        noteClockOffset(*answerClock_);
    }
    if (code != SOAP_OK) {
        noteExchangeFailure(soap_, bounds);
    }
}

uint32_t Exchange::failed(const RequestRow &row, const char *url,
                          const ExchangeBounds &bounds) const
{
    if (bounds.deadlinePassed() || bounds.answerTooLarge()) {
        if (bounds.deadlinePassed()) {
            VEK_LOG(kLevelError, VEK_ONVIF_ERR_SOAP, row.func,
                    "No complete answer within %lld s, url:%s.",
                    static_cast<long long>(bounds.limits().deadline.count()), url);
        } else {
            VEK_LOG(kLevelError, VEK_ONVIF_ERR_SOAP, row.func,
                    "The answer is larger than %zu bytes, url:%s.", bounds.limits().maxAnswerBytes,
                    url);
        }
        logFailure(row, url);
        return VEK_ONVIF_ERR_SOAP;
    }
    noteRefusal(row.func);
    logFailure(row, url);
    if (row.onFailure.whenGone != 0 && pullPointGone(soap_)) {
        return row.onFailure.whenGone;
    }
    return row.onFailure.code;
}

void Exchange::logFailure(const RequestRow &row, const char *url) const
{
    const CallFailureLog &log = row.callFailure;
    switch (log.form) {
    case CallFailureLog::Form::RuntimeWithError:
        VEK_SOAP_PUB_LogPrintImp(soap_, kEventSource, __LINE__, row.func, log.format,
                                 static_cast<long>(soap_->error), url);
        break;
    case CallFailureLog::Form::RuntimeUrlOnly:
        VEK_SOAP_PUB_LogPrintImp(soap_, kEventSource, __LINE__, row.func, log.format, url);
        break;
    case CallFailureLog::Form::Plain:
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, row.func, log.format, url);
        break;
    }
}

} // namespace vek
