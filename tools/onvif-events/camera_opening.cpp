#include "camera_opening.h"

#include <optional>
#include <string>

#include "discovery_fallback.h"
#include "report_format.h"
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

} // namespace

int openCamera(const char *command, const CameraOptions &options, const DiscoveryRunner &run,
               OpenedCamera &opened, bool captureLogs)
{
    std::string why;
    std::optional<Endpoint> endpoint = parseEventUrl(options.url, &why);
    if (!endpoint) {
        printFailure(command, "bad URL '" + options.url + "': " + why);
        return kExitUsage;
    }
    opened.endpoint = *endpoint;
    if (captureLogs) {
        opened.logs = std::make_unique<veklog::LogCapture>(options.verbose);
    }
    opened.camera =
        std::make_unique<Camera>(options.url, options.user, options.password, tablesFrom(options));
    Camera &camera = *opened.camera;
    std::optional<Outcome> done = run([&camera] { return camera.discover(); });
    if (!done) {
        return kExitOk;
    }
    const Outcome &outcome = *done;
    std::string reason = topicTableReason(outcome, camera.config());
    if (!reason.empty()) {
        uint32_t result = camera.useTopicTable();
        if (result != VEK_ONVIF_OK) {
            printFailure(command, "GetEventProperties " + reason +
                                      "; the topic table's templates cannot be made (result " +
                                      resultText(result) + ")");
            return kExitFailed;
        }
        opened.topicTableLine =
            "GetEventProperties " + reason +
            "; using the topic table instead: " + std::to_string(camera.config().PropeAlarmCount) +
            " alarm templates";
        return kExitOk;
    }
    if (outcome.ok()) {
        return kExitOk;
    }
    return explainFailure(command, "GetEventProperties", outcome, options, opened.endpoint);
}

} // namespace onvif_events
