#include "step_failure.h"

#include <cstdio>
#include <cstdlib>

#include "report_format.h"

namespace onvif_events
{

namespace
{

// A WS-Security token is judged against the camera's clock: worth saying when it is far off.
constexpr int64_t kClockWorthSaying = 5;

std::string credentialsText(const Outcome &outcome, const CameraOptions &options)
{
    if (options.user.empty()) {
        return "camera requires credentials (--user/--password or ONVIF_USER/ONVIF_PASSWORD)";
    }
    std::string text =
        "camera refused authentication for user '" + options.user + "' (" + outcome.text() + ")";
    int64_t offset = outcome.why.s64ClockOffset;
    if (std::llabs(offset) >= kClockWorthSaying) {
        text += "; its clock is " + std::to_string(std::llabs(offset)) + " s " +
                (offset > 0 ? "ahead" : "behind");
    }
    return text;
}

std::string tlsText(const Outcome &outcome)
{
    std::string text = outcome.why.szReason;
    if (outcome.why.szTlsFingerprint[0] != '\0') {
        text += std::string(", SHA-256 ") + outcome.why.szTlsFingerprint;
    }
    return text + "; see the fingerprint command, --ca-file, --pin and --insecure";
}

} // namespace

void printFailure(const char *command, const std::string &text)
{
    std::fprintf(stderr, "onvif-events %s: %s\n", command, text.c_str());
}

int exitStatusOf(const Outcome &outcome)
{
    switch (outcome.kind()) {
    case VEK_ONVIF_FAIL_NOT_AUTHORIZED:
        return kExitAuth;
    case VEK_ONVIF_FAIL_RESOLVE:
    case VEK_ONVIF_FAIL_CONNECT:
    case VEK_ONVIF_FAIL_TIMEOUT:
        return kExitUnreachable;
    case VEK_ONVIF_FAIL_ARGUMENT:
        return kExitUsage;
    case VEK_ONVIF_FAIL_MEMORY:
    case VEK_ONVIF_FAIL_LOCAL:
        return kExitFailed;
    default: // HTTP, a fault, an answer that is not SOAP, too large, a refused certificate
        return kExitCamera;
    }
}

std::string stepFailureText(const char *operation, const Outcome &outcome)
{
    switch (outcome.kind()) {
    case VEK_ONVIF_FAIL_TIMEOUT:
        return std::string("no answer to ") + operation + " (" + outcome.why.szReason + ")";
    case VEK_ONVIF_FAIL_RESOLVE:
    case VEK_ONVIF_FAIL_CONNECT:
    case VEK_ONVIF_FAIL_TLS:
        return outcome.why.szReason;
    default:
        return outcome.text();
    }
}

int explainFailure(const char *command, const char *operation, const Outcome &outcome,
                   const CameraOptions &options, const Endpoint &endpoint)
{
    std::string text;
    switch (outcome.kind()) {
    case VEK_ONVIF_FAIL_NOT_AUTHORIZED:
        text = credentialsText(outcome, options);
        break;
    case VEK_ONVIF_FAIL_RESOLVE:
    case VEK_ONVIF_FAIL_CONNECT:
        text = std::string("camera unreachable: ") + outcome.why.szReason;
        break;
    case VEK_ONVIF_FAIL_TIMEOUT:
        text = "camera at " + endpoint.host + ":" + endpoint.port + " sent no answer to " +
               operation + " (" + outcome.why.szReason + ")";
        break;
    case VEK_ONVIF_FAIL_TLS:
        text = tlsText(outcome);
        break;
    case VEK_ONVIF_FAIL_HTTP:
        text = std::string(operation) + " failed: the camera answered " + outcome.text() +
               "; is the URL its event service?";
        break;
    case VEK_ONVIF_FAIL_BAD_ANSWER:
        text = std::string(operation) + " failed: " + outcome.text() +
               "; is the URL its event service?";
        break;
    case VEK_ONVIF_FAIL_FAULT:
    case VEK_ONVIF_FAIL_TOO_LARGE:
        text = std::string(operation) + " failed: " + outcome.text();
        break;
    default:
        text = std::string(operation) + " failed (result " + resultText(outcome.result) + ")" +
               (outcome.why.szReason[0] != '\0' ? ": " + std::string(outcome.why.szReason) : "");
        break;
    }
    printFailure(command, text);
    return exitStatusOf(outcome);
}

} // namespace onvif_events
