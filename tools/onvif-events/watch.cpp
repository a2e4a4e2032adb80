// onvif-events watch: one camera or several, driven as a recorder drives them, until Ctrl-C or
// the end of the duration. Each camera is watched on a thread of its own, so that a slow or
// failing camera delays no other; pushed common alarms of every camera come through one Notify
// hub. A camera whose watch ends (it cannot be opened, it refused the credentials) leaves the
// others watching; the exit status is that of the first camera, in the order given, whose watch
// did not end well.
#include <cstdio>
#include <exception>
#include <memory>
#include <thread>

#include "commands.h"
#include "hub_feed.h"
#include "request_runner.h"
#include "step_failure.h"
#include "vek_platform.h"
#include "watch_session.h"

namespace onvif_events
{

namespace
{

int watchOne(WatchSession &session)
{
    if (int status = session.start(); status != kExitOk || session.mustLeave()) {
        return status;
    }
    // An error that ends the watch still ends the subscription: the camera would otherwise go on
    // pushing to the port until the subscription runs out, and the next watch on that port would
    // report those events too.
    try {
        while (session.running() && session.step()) {
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "onvif-events watch: %s\n", e.what());
        session.finish();
        return kExitFailed;
    }
    return session.finish();
}

// Push subscriptions for common alarms need the hub; smart data alone and pull points do not.
bool needsHub(const WatchOptions &options)
{
    return !options.pull && options.scope != "smart";
}

} // namespace

int runWatch(const WatchOptions &options)
{
    if (options.listenPort > 0) {
        gS32AlarmDftPort = options.listenPort;
    }
    // One log capture for every camera: the platform has one log sink.
    veklog::LogCapture logs(options.camera.verbose);
    HubFeed hub; // outlives every camera record that uses it
    WatchShared shared;
    shared.logs = &logs;
    shared.labelled = options.cameras.size() > 1;
    if (needsHub(options)) {
        Outcome opened = hub.open();
        if (!opened.ok()) {
            printFailure("watch",
                         "cannot listen for Notify on the recorder's side: " + opened.text());
            return kExitUnreachable;
        }
        shared.hub = &hub;
    }
    std::vector<std::unique_ptr<WatchSession>> sessions;
    for (const CameraOptions &camera : options.cameras) {
        sessions.push_back(std::make_unique<WatchSession>(options, camera, shared));
    }
    std::vector<int> statuses(sessions.size(), kExitOk);
    if (sessions.size() == 1) {
        statuses[0] = watchOne(*sessions[0]);
    } else {
        std::vector<std::thread> threads;
        for (size_t i = 0; i < sessions.size(); ++i) {
            threads.emplace_back([&, i] { statuses[i] = watchOne(*sessions[i]); });
        }
        for (std::thread &thread : threads) {
            thread.join();
        }
    }
    int status = kExitOk;
    bool leave = false;
    for (size_t i = 0; i < sessions.size(); ++i) {
        status = status != kExitOk ? status : statuses[i];
        leave = leave || sessions[i]->mustLeave();
    }
    if (leave) {
        leaveNow(status); // a request still runs on its own thread with a camera record
    }
    return status;
}

} // namespace onvif_events
