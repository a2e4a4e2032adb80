// Runs one library request on a worker thread while the calling thread stays responsive: it
// notices Ctrl-C within a tenth of a second and shows a progress line while the camera is slow.
// The library's error record belongs to the worker thread: it is copied there, right after the
// request, and comes back with the result.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "failure.h"

namespace onvif_events
{

struct RequestWait {
    const char *what = "";                                     // the operation waited for ("Renew")
    FILE *progress = nullptr;                                  // progress lines; null: none
    const char *prefix = "";                                   // before each progress line
    bool interruptible = true;                                 // give up when Ctrl-C arrives
    std::chrono::milliseconds limit{std::chrono::seconds(30)}; // give up after this long
};

// The request's outcome, or nothing when Ctrl-C (if interruptible) or the limit came first. The
// request then goes on running on its own thread: the caller must not touch what it uses and
// ends the process with leaveNow().
std::optional<Outcome> runRequest(const std::function<uint32_t()> &request,
                                  const RequestWait &wait);

// Flushes the standard streams and ends the process with status, without waiting for a request
// left running.
[[noreturn]] void leaveNow(int status);

} // namespace onvif_events
