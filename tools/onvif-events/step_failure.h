// What discover and watch say when a step against the camera fails: one line on stderr naming
// the command, and the exit status that goes with the kind of failure.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "commands.h"
#include "endpoint.h"
#include "failure.h"

namespace onvif_events
{

// The library's own time-out of an exchange.
constexpr int kLibraryTimeoutSeconds = 5;

// "onvif-events COMMAND: TEXT" on stderr.
void printFailure(const char *command, const std::string &text);

// After a failed exchange: refused credentials (kExitAuth), a refused TLS certificate or some
// other answer (kExitCamera). Judged from the log lines since logMark; the camera is not asked
// again.
int explainFailure(const char *command, const char *operation, uint32_t result,
                   const CameraOptions &options, const LogCapture &logs, size_t logMark);

// A camera that took the connection and never answered: kExitUnreachable, with what was waited
// for. Known from the runtime's report, or, where the library's failure line carries none, from a
// failure without any answer that came only when the request time-out had passed.
std::optional<int> silentCamera(const char *command, const char *operation,
                                const Endpoint &endpoint, const FailureReason &reason,
                                std::chrono::steady_clock::duration waited);

// The reason of the failure logged since mark, or "result N text" when the log tells none.
std::string reasonText(const LogCapture &logs, size_t mark, uint32_t result);

} // namespace onvif_events
