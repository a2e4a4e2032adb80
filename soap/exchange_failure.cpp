#include "exchange_failure.h"

#include <cstring>

#include "error_record.h"
#include "soapH.h"

namespace vek
{
namespace
{

struct NamespacePrefix {
    std::string_view uri;
    std::string_view prefix;
};

// The prefixes cameras use for the namespaces of fault subcodes.
constexpr NamespacePrefix kFaultNamespaces[] = {
    {"http://www.onvif.org/ver10/error", "ter"},
    {"http://docs.oasis-open.org/wsn/b-2", "wsnt"},
    {"http://docs.oasis-open.org/wsrf/r-2", "wsrf-r"},
    {"http://docs.oasis-open.org/wsrf/rw-2", "wsrf-rw"},
    {"http://www.w3.org/2005/08/addressing", "wsa"},
    {"http://www.w3.org/2003/05/soap-envelope", "env"},
};

bool isHttpStatus(int value)
{
    return value >= 100 && value <= 599;
}

const SOAP_ENV__Fault *receivedFault(const struct soap *soap)
{
    // The runtime also fills the fault record for failures of its own;
    // only a parsed answer's fault counts.
    bool parsed =
        soap->error == SOAP_FAULT || soap->error == SOAP_CLI_FAULT || soap->error == SOAP_SVR_FAULT;
    return parsed ? soap->fault : nullptr;
}

// The innermost subcode (SOAP 1.2), or the fault code (SOAP 1.1).
std::string faultSubcode(const SOAP_ENV__Fault *fault)
{
    const char *innermost = nullptr;
    int depth = 0;
    if (fault->SOAP_ENV__Code != nullptr) {
        for (const SOAP_ENV__Code *code = fault->SOAP_ENV__Code->SOAP_ENV__Subcode;
             code != nullptr && depth < 8; code = code->SOAP_ENV__Subcode, ++depth) {
            if (code->SOAP_ENV__Value != nullptr) {
                innermost = code->SOAP_ENV__Value;
            }
        }
    } else if (fault->faultcode != nullptr) {
        innermost = fault->faultcode;
    }
    return innermost != nullptr ? receivedQName(innermost) : std::string();
}

std::string_view faultReason(const SOAP_ENV__Fault *fault)
{
    if (fault->SOAP_ENV__Reason != nullptr && fault->SOAP_ENV__Reason->SOAP_ENV__Text != nullptr) {
        return fault->SOAP_ENV__Reason->SOAP_ENV__Text;
    }
    return fault->faultstring != nullptr ? fault->faultstring : "";
}

std::string seconds(std::chrono::seconds value)
{
    return std::to_string(static_cast<long long>(value.count())) + " s";
}

std::string hostOf(const struct soap *soap)
{
    return std::string(soap->host) + ":" + std::to_string(soap->port);
}

void noteWithoutAnswer(const struct soap *soap, const ExchangeBounds &bounds)
{
    switch (soap->error) {
    case SOAP_SSL_ERROR:
        noteFailure(VEK_ONVIF_FAIL_TLS, "TLS handshake with " + hostOf(soap) + " failed");
        return;
    case SOAP_TCP_ERROR: {
        std::string reason = "cannot connect to " + hostOf(soap);
        if (soap->errnum != 0) {
            reason += ": ";
            reason += std::strerror(soap->errnum);
        }
        noteFailure(VEK_ONVIF_FAIL_CONNECT, reason);
        return;
    }
    case SOAP_EOM:
        noteFailure(VEK_ONVIF_FAIL_MEMORY, "no memory for the exchange");
        return;
    case SOAP_EOF:
        if (bounds.readTimedOut()) {
            noteFailure(VEK_ONVIF_FAIL_TIMEOUT, "no answer from " + hostOf(soap) + " in time");
        } else {
            noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER,
                        "the camera closed the connection without a complete answer");
        }
        return;
    default:
        // The runtime gives the HTTP status as the error of an answer that
        // is no SOAP message (a web page, plain text).
        noteFailure(VEK_ONVIF_FAIL_BAD_ANSWER,
                    isHttpStatus(soap->error)
                        ? std::string("the answer is not SOAP")
                        : "the answer is not SOAP (error " + std::to_string(soap->error) + ")");
        return;
    }
}

} // namespace

// Whether a fault code or subcode names NotAuthorized, in any prefix (the
// error namespace is not among the context's own).
static bool namesNotAuthorized(std::string_view subcode)
{
    constexpr std::string_view kName = "NotAuthorized";
    return subcode.size() >= kName.size() &&
           subcode.substr(subcode.size() - kName.size()) == kName &&
           (subcode.size() == kName.size() || subcode[subcode.size() - kName.size() - 1] == ':');
}

bool faultNotAuthorized(const struct soap *soap)
{
    const SOAP_ENV__Fault *fault = soap->fault;
    if (fault == nullptr) {
        return false;
    }
    if (fault->faultcode != nullptr && namesNotAuthorized(fault->faultcode)) {
        return true;
    }
    int depth = 0;
    for (const SOAP_ENV__Code *code = fault->SOAP_ENV__Code; code != nullptr && depth < 8;
         code = code->SOAP_ENV__Subcode, ++depth) {
        if (code->SOAP_ENV__Value != nullptr && namesNotAuthorized(code->SOAP_ENV__Value)) {
            return true;
        }
    }
    return false;
}

std::string receivedQName(std::string_view value)
{
    if (value.empty() || value.front() != '"') {
        return std::string(value);
    }
    size_t close = value.find("\":", 1);
    if (close == std::string_view::npos) {
        return std::string(value);
    }
    std::string_view uri = value.substr(1, close - 1);
    std::string_view name = value.substr(close + 2);
    for (const NamespacePrefix &known : kFaultNamespaces) {
        if (known.uri == uri) {
            return std::string(known.prefix) + ":" + std::string(name);
        }
    }
    return std::string(value);
}

void noteExchangeFailure(const struct soap *soap, const ExchangeBounds &bounds)
{
    int status = isHttpStatus(soap->status) ? soap->status : 0;
    if (status != 0) {
        noteHttpStatus(static_cast<uint32_t>(status));
    }
    const SOAP_ENV__Fault *fault = receivedFault(soap);
    std::string subcode = fault != nullptr ? faultSubcode(fault) : std::string();
    if (fault != nullptr) {
        noteFault(subcode, faultReason(fault));
    }
    if (bounds.resolveFailed()) {
        noteFailure(VEK_ONVIF_FAIL_RESOLVE, std::string("host name not resolved: ") + soap->host);
    } else if (bounds.deadlinePassed()) {
        noteFailure(VEK_ONVIF_FAIL_TIMEOUT,
                    "no complete answer within " + seconds(bounds.limits().deadline));
    } else if (bounds.answerTooLarge()) {
        noteFailure(VEK_ONVIF_FAIL_TOO_LARGE, "the answer is larger than " +
                                                  std::to_string(bounds.limits().maxAnswerBytes) +
                                                  " bytes");
    } else if (soap->error == 401 || (fault != nullptr && faultNotAuthorized(soap))) {
        noteFailure(VEK_ONVIF_FAIL_NOT_AUTHORIZED,
                    fault != nullptr ? std::string(faultReason(fault))
                                     : std::string("the camera refused the credentials"));
    } else if (fault != nullptr) {
        noteFailure(VEK_ONVIF_FAIL_FAULT, faultReason(fault));
    } else if (int shown = status != 0 ? status : (isHttpStatus(soap->error) ? soap->error : 0);
               shown != 0 && (shown < 200 || shown > 299)) {
        noteFailure(VEK_ONVIF_FAIL_HTTP, "HTTP status " + std::to_string(shown));
    } else {
        noteWithoutAnswer(soap, bounds);
    }
}

} // namespace vek
