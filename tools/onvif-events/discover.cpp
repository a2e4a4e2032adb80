// onvif-events discover: the alarm templates of a real camera's topic set.
#include <cstdio>

#include "camera_opening.h"
#include "commands.h"

namespace onvif_events
{

int runDiscover(const DiscoverOptions &discover)
{
    const CameraOptions &options = discover.camera;
    OpenedCamera opened;
    auto atOnce = [](const std::function<uint32_t()> &request) {
        return std::optional<Outcome>(outcomeOf(request()));
    };
    if (int status = openCamera("discover", options, atOnce, opened); status != kExitOk) {
        return status;
    }
    const Camera &camera = *opened.camera;
    if (!opened.topicTableLine.empty()) {
        std::fprintf(discover.json ? stderr : stdout, "%s\n", opened.topicTableLine.c_str());
    }
    if (discover.json) {
        std::printf("%s\n", camera.templateJson().c_str());
    } else {
        std::printf("%s: %u alarm templates\n%s", options.url.c_str(),
                    camera.config().PropeAlarmCount, camera.templateTable().c_str());
    }
    return kExitOk;
}

} // namespace onvif_events
