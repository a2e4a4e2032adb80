// The two headers every request carries: the WS-Security token (when a user
// name is given, or always) and then the WS-Addressing header of the
// request's action. Each operation logs a failure in its own words.
#ifndef VEK_REQUEST_HEADERS_H
#define VEK_REQUEST_HEADERS_H

#include <cstdint>

#include "action.h"
#include "stdsoap2.h"

namespace vek
{

enum class Security {
    WhenUserGiven, // only for a non-empty user name
    Always,        // also for an empty one
};

// The addressing step's failure line most operations log.
constexpr const char *kHeaderEncFailed = "VEK_Onvif_HeaderEnc is failed.";

// How an operation reports a failed header step.
struct HeaderFailureLog {
    const char *securityText;
    const char *addressingText;
    // Log with the failed step's code (true) or with 112 (false).
    bool logStepCode;
    // The name the lines carry when it is not the operation's own.
    const char *func = nullptr;
};

// The interface's two header steps (VEK_Onvif_HeaderEnc,
// VEK_Onvif_EncryptHeader) without the check of a caller's context, for the
// library's own contexts; same results and log lines. A null actionUri is
// refused as an invalid action, after To, ReplyTo and MessageID are set.
uint32_t writeAddressingHeader(const char *actionUri, const char *url, struct soap *soap);
// A new message id ("urn:uuid:" and a random UUID) in the context; null
// when it cannot be made or copied.
char *newMessageId(struct soap *soap);
uint32_t writeSecurityHeader(const char *user, const char *password, struct soap *soap);

// 0, or the code of the header step that failed (logged at level 4 for func).
uint32_t addRequestHeaders(struct soap *soap, const char *func, const char *user,
                           const char *password, Security security, Action action, const char *url,
                           const HeaderFailureLog &log);

} // namespace vek

#endif // VEK_REQUEST_HEADERS_H
