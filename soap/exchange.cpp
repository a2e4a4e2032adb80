#include "exchange.h"

#include "reference_blocks.h"
#include "soapH.h"
#include "vek_log.h"
#include "vek_onvif_event.h"

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

uint32_t Exchange::addHeaders(const char *user, const char *password, Security security,
                              uint32_t action, const char *url, const HeaderFailureLog &log)
{
    // The only way a frame lacks its context is an allocation that failed.
    if (soap_ == nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_NOMEM, log.func, "Failed to init event soap.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    user_ = user;
    password_ = password;
    secured_ = security == Security::Always || (user != nullptr && user[0] != '\0');
    return addRequestHeaders(soap_, user, password, security, action, url, log);
}

bool Exchange::addReferenceParameter(const char *reference)
{
    auto *header = soap_->header;
    auto *parameters = newRecord<wsa5__EndpointReferenceType>();
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
    auto *parameters = newRecord<wsa5__EndpointReferenceType>();
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

void Exchange::logFailure(const CallFailureLog &log, const char *url) const
{
    switch (log.form) {
    case CallFailureLog::Form::RuntimeWithError:
        VEK_SOAP_PUB_LogPrintImp(soap_, kEventSource, __LINE__, log.func, log.format,
                                 static_cast<long>(soap_->error), url);
        break;
    case CallFailureLog::Form::RuntimeUrlOnly:
        VEK_SOAP_PUB_LogPrintImp(soap_, kEventSource, __LINE__, log.func, log.format, url);
        break;
    case CallFailureLog::Form::Plain:
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, log.func, log.format, url);
        break;
    }
}

} // namespace vek
