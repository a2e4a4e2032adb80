#include "camera_opening.h"

#include <chrono>
#include <optional>
#include <string>

#include "step_failure.h"

namespace onvif_events
{

namespace
{

CameraTables tablesFrom(const CameraOptions &options)
{
    CameraTables tables;
    for (const std::string &entry : options.channelTokens) {
        size_t comma = entry.find(',');
        tables.channels.emplace_back(entry.substr(0, comma),
                                     comma == std::string::npos ? "" : entry.substr(comma + 1));
    }
    tables.inputs = options.inputTokens;
    return tables;
}

// URL shape and reachability; an exit status when the camera cannot be used.
std::optional<int> checkCamera(const char *command, const CameraOptions &options,
                               Endpoint *endpoint)
{
    std::string why;
    std::optional<Endpoint> parsed = parseEventUrl(options.url, &why);
    if (!parsed) {
        printFailure(command, "bad URL '" + options.url + "': " + why);
        return kExitUsage;
    }
    *endpoint = *parsed;
    std::string unreachable = probeConnect(*endpoint, 3000);
    if (!unreachable.empty()) {
        printFailure(command, "cannot reach camera at " + endpoint->host + ":" + endpoint->port +
                                  ": " + unreachable);
        return kExitUnreachable;
    }
    return std::nullopt;
}

} // namespace

int openCamera(const char *command, const CameraOptions &options, const DiscoveryRunner &run,
               OpenedCamera &opened)
{
    if (auto status = checkCamera(command, options, &opened.endpoint)) {
        return *status;
    }
    opened.logs = std::make_unique<LogCapture>(options.verbose);
    opened.camera =
        std::make_unique<Camera>(options.url, options.user, options.password, tablesFrom(options));
    Camera &camera = *opened.camera;
    auto asked = std::chrono::steady_clock::now();
    uint32_t result = run([&camera] { return camera.discover(); });
    if (result == VEK_ONVIF_OK) {
        return kExitOk;
    }
    if (auto exit = silentCamera(command, "GetEventProperties", opened.endpoint,
                                 failureReason(*opened.logs, 0),
                                 std::chrono::steady_clock::now() - asked)) {
        return *exit;
    }
    return explainFailure(command, "GetEventProperties", result, options, *opened.logs, 0);
}

} // namespace onvif_events
