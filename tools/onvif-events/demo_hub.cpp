#include "demo_hub.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <memory>

#include "recorder.h"
#include "vek_platform.h"

namespace onvif_events
{

namespace
{

using Clock = std::chrono::steady_clock;

constexpr size_t kCameras = 3;
// The events the three cameras push: motion, tampering, line crossed (one report each).
constexpr size_t kEventOfCamera[kCameras] = {0, 2, 3};

// Polls the hub until `count` reports came or 3 s passed; the reports by camera id.
std::map<uint32_t, std::vector<OnvifAlarmReport>> pollReports(OnvifNotifyHub *hub, size_t count)
{
    std::map<uint32_t, std::vector<OnvifAlarmReport>> byCamera;
    size_t got = 0;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    while (got < count && Clock::now() < deadline) {
        uint32_t n = 0;
        OnvifHubReport *reports = VEK_Onvif_Hub_Poll(hub, 50, &n);
        for (uint32_t i = 0; reports != nullptr && i < n; ++i) {
            byCamera[reports[i].ulCameraId].push_back(reports[i].stReport);
            ++got;
        }
        void *block = reports;
        ZU_MEM_FreeEx(&block, "onvif-events", __LINE__);
    }
    return byCamera;
}

} // namespace

void threeCamerasThroughOneHub(Tally &tally, const camsim::Config &camera,
                               const std::vector<DemoEvent> &events)
{
    step("7. Three cameras on one port, their events through one Notify hub");
    camsim::CameraGroup group(std::vector<camsim::Config>(kCameras, camera));
    OnvifNotifyHub *hub = nullptr;
    try {
        group.start();
    } catch (const std::exception &e) {
        std::printf("  cannot start the cameras: %s\n", e.what());
        ++tally.stepsFailed;
        return;
    }
    checkStep(tally, "VEK_Onvif_Hub_Create", VEK_Onvif_Hub_Create("127.0.0.1", 0, &hub));
    if (hub == nullptr) {
        return;
    }
    std::printf("  hub listening on port %u\n", VEK_Onvif_Hub_GetPort(hub));
    std::vector<std::unique_ptr<Camera>> cameras;
    for (size_t k = 0; k < kCameras; ++k) {
        const std::string url = group.camera(k).eventServiceUrl();
        auto recorder = std::make_unique<Camera>(url, camera.user, camera.password, demoTables());
        std::printf("  camera %zu  %s\n", k + 1, url.c_str());
        checkStep(tally, "VEK_Onvif_GetEventProperties", recorder->discover());
        checkStep(tally, "VEK_Onvif_Hub_AddCamera", recorder->useHub(hub, url));
        checkStep(tally, "VEK_Onvif_Hub_Subscribe", recorder->subscribe(VEK_ONVIF_SCOPE_COMMON));
        for (const camsim::Subscription &s : group.camera(k).subscriptions()) {
            std::printf("  camera %zu holds subscription %d: consumer %s\n", k + 1, s.id,
                        s.consumerAddress.c_str());
        }
        cameras.push_back(std::move(recorder));
    }
    // The three push at the same moment; the hub serves them all on its one port.
    std::vector<std::future<camsim::SendResult>> pushes;
    size_t expected = 0;
    for (size_t k = 0; k < kCameras; ++k) {
        const DemoEvent &event = events.at(kEventOfCamera[k]);
        expected += event.expected.size();
        std::printf("  camera %zu: %s\n", k + 1, event.description.c_str());
        pushes.push_back(std::async(std::launch::async, [&group, k, &event] {
            return group.camera(k).notify(1, {event.notificationMessage});
        }));
    }
    std::map<uint32_t, std::vector<OnvifAlarmReport>> byCamera = pollReports(hub, expected);
    for (size_t k = 0; k < kCameras; ++k) {
        camsim::SendResult sent = pushes[k].get();
        if (!sent.sent) {
            std::printf("     camera %zu: push failed: %s\n", k + 1, sent.error.c_str());
        }
        ++tally.eventsSent;
        std::printf("  reports with the hub id of camera %zu (%u):\n", k + 1, cameras[k]->hubId());
        judge(tally, events.at(kEventOfCamera[k]), byCamera[cameras[k]->hubId()]);
    }
    for (size_t k = 0; k < kCameras; ++k) {
        const std::string what = "VEK_Onvif_Hub_Unsubscribe (camera " + std::to_string(k + 1) + ")";
        checkStep(tally, what.c_str(), cameras[k]->unsubscribe(VEK_ONVIF_SCOPE_BOTH));
    }
    size_t held = 0;
    for (size_t k = 0; k < kCameras; ++k) {
        held += group.camera(k).subscriptions().size();
    }
    std::printf("  the cameras hold %zu subscription(s)\n", held);
    cameras.clear(); // each leaves the hub before it ends
    VEK_Onvif_Hub_Destroy(&hub);
    group.stop();
}

} // namespace onvif_events
