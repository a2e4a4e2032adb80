// The opening that discover and watch share: the URL's shape checked, the library's log
// captured, the camera record made with the channel and input tables, and GetEventProperties run
// with its failure explained, or the topic table's templates taken when the camera's discovery
// gives none. The camera is not probed beforehand: the library's error record of
// GetEventProperties tells an unreachable camera from the others.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "endpoint.h"
#include "failure.h"
#include "log_capture.h"
#include "recorder.h"

namespace onvif_events
{

// The camera as the opening leaves it. The log capture (for -v and the line count) outlives the
// camera record; it is the caller's (and null here) when the caller holds one for several
// cameras.
struct OpenedCamera {
    Endpoint endpoint;
    std::unique_ptr<veklog::LogCapture> logs;
    std::unique_ptr<Camera> camera;
    // One line when the topic table stands in for the camera's discovery (see
    // discovery_fallback.h), to be said by the command; empty otherwise.
    std::string topicTableLine;
};

// How the opening runs the discovery request: at once, or on a worker thread that Ctrl-C can
// leave behind (nothing then: the request still runs, and the runner's owner ends the process
// itself). Either way the outcome carries the error record of the thread that made the request.
using DiscoveryRunner = std::function<std::optional<Outcome>(const std::function<uint32_t()> &)>;

// kExitOk with opened filled and the templates discovered (or, when the runner gave nothing, the
// request left running), or the exit status after saying why on stderr. captureLogs false: the
// caller holds the process's one log capture.
int openCamera(const char *command, const CameraOptions &options, const DiscoveryRunner &run,
               OpenedCamera &opened, bool captureLogs = true);

} // namespace onvif_events
