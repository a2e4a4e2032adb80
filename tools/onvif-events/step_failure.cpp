#include "step_failure.h"

#include <cstdio>

#include "report_format.h"

namespace onvif_events
{

void printFailure(const char *command, const std::string &text)
{
    std::fprintf(stderr, "onvif-events %s: %s\n", command, text.c_str());
}

int explainFailure(const char *command, const char *operation, uint32_t result,
                   const CameraOptions &options, const LogCapture &logs, size_t logMark)
{
    FailureReason why = failureReason(logs, logMark);
    std::string detail = why.text();
    bool refused = logs.hasText("NotAuthorized", logMark) || why.notAuthorized();
    if (refused && options.user.empty()) {
        printFailure(command, "camera requires credentials (--user/--password or "
                              "ONVIF_USER/ONVIF_PASSWORD)");
        return kExitAuth;
    }
    if (refused) {
        printFailure(command, "camera refused authentication for user '" + options.user + "'" +
                                  (detail.empty() ? "" : " (" + detail + ")"));
        return kExitAuth;
    }
    if (!why.certificate.empty()) {
        printFailure(command,
                     "the camera's TLS certificate was refused (" + why.certificate +
                         "); see the fingerprint command, --ca-file, --pin and --insecure");
        return kExitCamera;
    }
    printFailure(command, std::string(operation) + " failed (result " + resultText(result) + ")" +
                              (detail.empty() ? "" : ", camera answered " + detail));
    return kExitCamera;
}

std::optional<int> silentCamera(const char *command, const char *operation,
                                const Endpoint &endpoint, const FailureReason &reason,
                                std::chrono::steady_clock::duration waited)
{
    bool timedOutUnreported = reason.httpStatus == 0 && reason.subcode.empty() &&
                              waited >= std::chrono::milliseconds(kLibraryTimeoutSeconds * 900);
    if (!reason.timedOut && !timedOutUnreported) {
        return std::nullopt;
    }
    printFailure(command, "camera at " + endpoint.host + ":" + endpoint.port +
                              " accepted the connection but sent no answer to " + operation +
                              " within " + std::to_string(kLibraryTimeoutSeconds) + " s");
    return kExitUnreachable;
}

std::string reasonText(const LogCapture &logs, size_t mark, uint32_t result)
{
    std::string text = failureReason(logs, mark).text();
    return text.empty() ? "result " + resultText(result) : text;
}

} // namespace onvif_events
