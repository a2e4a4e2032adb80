// onvif-events demo: the whole life of a camera against the simulator on loopback.
#include <chrono>
#include <cstdio>
#include <future>
#include <iostream>
#include <thread>

#include "camsim.h"
#include "commands.h"
#include "demo_camera.h"
#include "demo_hub.h"
#include "demo_tally.h"
#include "log_capture.h"
#include "recorder.h"
#include "report_format.h"

namespace onvif_events
{

namespace
{

using Clock = std::chrono::steady_clock;

int pushSubscriptionId(const camsim::CameraSim &sim)
{
    for (const camsim::Subscription &s : sim.subscriptions()) {
        if (!s.pullPoint && s.topicFilter.empty()) {
            return s.id;
        }
    }
    return -1;
}

void discoverTemplates(Tally &tally, Camera &camera)
{
    step("1. Discovery: GetEventProperties");
    checkStep(tally, "VEK_Onvif_GetEventProperties", camera.discover());
    std::printf("  %u alarm templates built\n%s", camera.config().PropeAlarmCount,
                camera.templateTable().c_str());
    if (camera.config().PropeAlarmCount == 0) {
        ++tally.stepsFailed;
    }
}

// Subscribes both scopes; the camera's id of the push subscription for common alarms, or -1.
int subscribeBoth(Tally &tally, Camera &camera, const camsim::CameraSim &sim)
{
    step("2. Subscribe (common alarms and smart data)");
    checkStep(tally, "VEK_Onvif_Subscribe", camera.subscribe(VEK_ONVIF_SCOPE_BOTH));
    const OnvifSubInfo &sub = camera.subscription();
    for (const camsim::Subscription &s : sim.subscriptions()) {
        std::printf("  camera holds subscription %d: consumer %s%s%s\n", s.id,
                    s.consumerAddress.c_str(), s.topicFilter.empty() ? "" : ", filter ",
                    s.topicFilter.c_str());
    }
    std::printf("  listening socket  port %d\n", camera.listeningPort());
    std::printf("  common alarms     %s\n                    reference %s\n", sub.szCommonSubAddr,
                sub.szCommonSubRef);
    std::printf("  smart data        %s\n                    reference %s\n", sub.szSmartSubAddr,
                sub.szSmartSubRef);
    return pushSubscriptionId(sim);
}

// The camera pushes one event while the recorder polls its listening socket for up to 3 s.
std::vector<OnvifAlarmReport> pushAndReceive(Camera &camera, camsim::CameraSim &sim, int pushId,
                                             const DemoEvent &event)
{
    auto pushed = std::async(std::launch::async, [&sim, pushId, &event] {
        return sim.notify(pushId, {event.notificationMessage});
    });
    std::vector<OnvifAlarmReport> reports;
    bool connected = false;
    auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!connected && Clock::now() < deadline) {
        reports = camera.receive(connected);
        if (!connected) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    camsim::SendResult sent = pushed.get();
    if (!sent.sent) {
        std::printf("     push failed: %s\n", sent.error.c_str());
    }
    return reports;
}

void pushEvents(Tally &tally, Camera &camera, camsim::CameraSim &sim, int pushId,
                const std::vector<DemoEvent> &events)
{
    step("3. The camera pushes events (one Notify each)");
    for (size_t i = 0; pushId > 0 && i < events.size(); ++i) {
        const DemoEvent &event = events[i];
        std::printf("  %2zu. camera: %s\n", i + 1, event.description.c_str());
        ++tally.eventsSent;
        judge(tally, event, pushAndReceive(camera, sim, pushId, event));
    }
    if (pushId < 0) {
        std::printf("  no push subscription at the camera\n");
        ++tally.stepsFailed;
    }
}

void renewBoth(Tally &tally, Camera &camera, const camsim::CameraSim &sim)
{
    step("4. Renew");
    checkStep(tally, "VEK_Onvif_Renew (both subscriptions)", camera.renew());
    for (const camsim::Subscription &s : sim.subscriptions()) {
        std::printf("  subscription %d renewed %d time(s), terminates %s\n", s.id, s.renewCount,
                    s.terminationTime.c_str());
    }
}

void pullEvents(Tally &tally, Camera &camera, camsim::CameraSim &sim,
                const std::vector<DemoEvent> &events)
{
    step("5. The same events through a pull point");
    checkStep(tally, "VEK_Onvif_CreatePullPointSubscription", camera.createPullPoint());
    std::printf("  pull point %s\n", camera.pullPoint().c_str());
    for (size_t i = 0; !camera.pullPoint().empty() && i < events.size(); ++i) {
        const DemoEvent &event = events[i];
        std::printf("  %2zu. camera queues: %s\n", i + 1, event.description.c_str());
        ++tally.eventsSent;
        sim.queueMessage(event.notificationMessage);
        std::vector<OnvifAlarmReport> reports;
        uint32_t result = camera.pull(reports);
        if (result != VEK_ONVIF_OK) {
            std::printf("     VEK_Onvif_PullMessages -> %s\n", resultText(result).c_str());
            ++tally.stepsFailed;
        }
        judge(tally, event, reports);
    }
    if (!camera.pullPoint().empty()) {
        checkStep(tally, "VEK_Onvif_Renew (pull point)", camera.renewPullPoint());
        checkStep(tally, "VEK_Onvif_Unsubscribe (pull point)", camera.closePullPoint());
    }
}

void unsubscribeBoth(Tally &tally, Camera &camera, const camsim::CameraSim &sim)
{
    step("6. Unsubscribe");
    checkStep(tally, "VEK_Onvif_Unsubscribe (both subscriptions)",
              camera.unsubscribe(VEK_ONVIF_SCOPE_BOTH));
    std::printf("  listening socket closed: %s; camera holds %zu subscription(s)\n",
                camera.listeningSocket() < 0 ? "yes" : "no", sim.subscriptions().size());
}

// The summary lines; kExitOk when every step succeeded and every event gave its reports.
int summarize(const Tally &tally, size_t logLines, bool verbose, Clock::time_point started)
{
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    bool ok = tally.eventsWrong == 0 && tally.stepsFailed == 0 &&
              tally.reportsExpected == tally.reportsReceived;
    std::printf("\n== Summary\n");
    std::printf("  events sent %d, reports expected %d, reports received %d, events with wrong "
                "reports %d, failed steps %d\n",
                tally.eventsSent, tally.reportsExpected, tally.reportsReceived, tally.eventsWrong,
                tally.stepsFailed);
    std::printf("  library log lines %zu%s, %.2f s\n", logLines,
                verbose ? "" : " (shown with --verbose)", seconds);
    std::printf("  result: %s\n", ok ? "PASS" : "FAIL");
    return ok ? kExitOk : kExitFailed;
}

} // namespace

int runDemo(const DemoOptions &options)
{
    auto started = Clock::now();
    veklog::LogCapture logs(options.verbose);
    Tally tally;

    camsim::Config config;
    config.topicSetXml = demoTopicSet();
    config.user = "admin";
    config.password = "demo-secret";
    camsim::CameraSim sim(config);
    try {
        sim.start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "onvif-events demo: cannot start the camera simulator: %s\n",
                     e.what());
        return kExitUnreachable;
    }
    std::printf("onvif-events demo: recorder and simulated camera on 127.0.0.1\n");
    std::printf("  camera event service  %s  (user %s)\n", sim.eventServiceUrl().c_str(),
                config.user.c_str());

    Camera camera(sim.eventServiceUrl(), config.user, config.password, demoTables());
    std::vector<DemoEvent> events =
        demoEvents(camsim::formatTime(std::chrono::system_clock::now()));
    discoverTemplates(tally, camera);
    int pushId = subscribeBoth(tally, camera, sim);
    pushEvents(tally, camera, sim, pushId, events);
    renewBoth(tally, camera, sim);
    pullEvents(tally, camera, sim, events);
    unsubscribeBoth(tally, camera, sim);
    sim.stop();
    threeCamerasThroughOneHub(tally, config, events);
    return summarize(tally, logs.count(), options.verbose, started);
}

} // namespace onvif_events
