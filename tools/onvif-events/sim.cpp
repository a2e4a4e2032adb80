// onvif-events sim: the camera simulator as a standalone camera on 127.0.0.1.
//
// Events file: any XML text; every wsnt:NotificationMessage element in it, from its start tag to
// its end tag, is one event, in file order (a Notify capture, a PullMessages answer or a plain
// list all work). A file without any, holding a bare tt:Message, is one event on the topic
// tns1:VideoSource/MotionAlarm. Without --topics the camera advertises the topics of these
// events, each described by the items of its first message. Each push subscriber receives the
// events one Notify each, one every --interval seconds; each new pull point gets them all queued.
//
// With --cameras N the port serves N cameras, camera k under /camera/k, each with subscriptions,
// pull points and requests of its own; camera k's stream starts at its k-th event (wrapping), so
// that the streams tell the cameras apart.
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "camsim.h"
#include "commands.h"
#include "demo_camera.h"

namespace onvif_events
{

namespace
{

using Clock = std::chrono::steady_clock;

// A push subscriber: the next event to send and when.
struct Pusher {
    size_t next = 0;
    Clock::time_point due;
};

// One camera as the sim serves it: its events in its order, what it has shown and pushed. The
// label starts each of its lines ("" for a sim of one camera).
struct ServedCamera {
    camsim::CameraSim *sim = nullptr;
    std::string label;
    std::vector<std::string> events;
    std::map<int, Pusher> pushers;
    std::set<int> seen;
    size_t requestsShown = 0;
};

// The events to serve: the demo camera's, or those of the events file. False when the file
// cannot be used (reported on stderr).
bool loadEvents(const SimOptions &options, std::vector<std::string> &events)
{
    if (options.eventsFile.empty()) {
        for (const DemoEvent &event :
             demoEvents(camsim::formatTime(std::chrono::system_clock::now()))) {
            events.push_back(event.notificationMessage);
        }
        return true;
    }
    try {
        events =
            camsim::loadNotificationMessages(options.eventsFile, "tns1:VideoSource/MotionAlarm");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "onvif-events sim: %s\n", e.what());
        return false;
    }
    return true;
}

camsim::Config simConfig(const SimOptions &options, const std::vector<std::string> &events)
{
    camsim::Config config;
    config.port = options.port;
    config.user = options.user;
    config.password = options.password;
    config.requireAuth = !options.noAuth;
    config.createdWindow = std::chrono::seconds(5);
    config.clockOffset = std::chrono::seconds(options.clockOffset);
    config.httpDigest = options.httpDigest;
    config.digestAlgorithm = options.digestAlgorithm;
    if (options.tls) {
        config.tls = camsim::makeIdentity({});
    }
    // Without --topics the camera advertises what it sends: the demo's topic set, or the topics
    // of the events file described by their own items.
    if (!options.topicsFile.empty()) {
        config.topicSetFile = options.topicsFile;
    } else if (!options.eventsFile.empty()) {
        config.topicSetXml = camsim::topicSetOfMessages(events);
    } else {
        config.topicSetXml = demoTopicSet();
    }
    return config;
}

void printBanner(const std::vector<ServedCamera> &cameras, const SimOptions &options,
                 size_t eventCount)
{
    for (const ServedCamera &camera : cameras) {
        std::printf("%scamera event service %s\n", camera.label.c_str(),
                    camera.sim->eventServiceUrl().c_str());
    }
    const camsim::Config &config = cameras.front().sim->config();
    if (config.tls) {
        std::printf("self-signed certificate, SHA-256 %s\n", config.tls->fingerprint.c_str());
    }
    if (options.noAuth) {
        std::printf("no authentication required\n");
    } else {
        std::printf("user %s, password %s\n", options.user.c_str(), options.password.c_str());
    }
    if (options.clockOffset != 0) {
        std::printf("camera clock %+lld s off\n", options.clockOffset);
    }
    if (options.httpDigest) {
        std::printf("HTTP digest (%s) required\n", options.digestAlgorithm.c_str());
    }
    std::printf("%zu event(s) for each subscriber; Ctrl-C ends\n", eventCount);
    std::fflush(stdout);
}

// One line for each request recorded since the last call.
void printNewRequests(ServedCamera &camera)
{
    std::vector<camsim::RecordedRequest> requests = camera.sim->requests();
    for (; camera.requestsShown < requests.size(); ++camera.requestsShown) {
        const camsim::RecordedRequest &r = requests[camera.requestsShown];
        std::printf(
            "%srequest %-28s %-24s %s%s\n", camera.label.c_str(), r.operation.c_str(),
            r.path.c_str(),
            r.hasSecurity ? (r.authenticated ? "authenticated" : "REFUSED") : "no credentials",
            r.responseStatus != 200 ? (" -> HTTP " + std::to_string(r.responseStatus)).c_str()
                                    : "");
    }
}

// Each new pull point gets every event queued; each new push subscription without a topic
// filter starts receiving them one per interval.
void serveNewSubscriptions(ServedCamera &camera, Clock::duration interval)
{
    const char *label = camera.label.c_str();
    for (const camsim::Subscription &s : camera.sim->subscriptions()) {
        if (!camera.seen.insert(s.id).second) {
            continue;
        }
        if (s.pullPoint) {
            for (const std::string &event : camera.events) {
                camera.sim->queueMessage(s.id, event);
            }
            std::printf("%spull point %d: %zu event(s) queued\n", label, s.id,
                        camera.events.size());
        } else if (s.topicFilter.empty()) {
            camera.pushers[s.id] = Pusher{0, Clock::now() + interval};
            std::printf("%ssubscription %d: pushing to %s\n", label, s.id,
                        s.consumerAddress.c_str());
        } else {
            std::printf("%ssubscription %d (filter %s): nothing to push\n", label, s.id,
                        s.topicFilter.c_str());
        }
    }
}

// Pushes the next event to every subscriber whose turn has come.
void pushDueEvents(ServedCamera &camera, Clock::duration interval)
{
    const std::vector<std::string> &events = camera.events;
    for (auto &[id, pusher] : camera.pushers) {
        if (pusher.next >= events.size() || Clock::now() < pusher.due ||
            !camera.sim->subscription(id)) {
            continue;
        }
        camsim::SendOptions send;
        send.connectTimeout = std::chrono::milliseconds(1000);
        send.ioTimeout = std::chrono::milliseconds(2000);
        camsim::SendResult sent = camera.sim->notify(id, {events[pusher.next]}, send);
        std::printf("%ssubscription %d: event %zu/%zu %s\n", camera.label.c_str(), id,
                    pusher.next + 1, events.size(),
                    sent.sent ? "pushed" : ("not delivered: " + sent.error).c_str());
        ++pusher.next;
        pusher.due = Clock::now() + interval;
    }
}

} // namespace

// Camera k's events: the list turned to start at its k-th event.
std::vector<std::string> eventsOfCamera(const std::vector<std::string> &events, size_t k)
{
    std::vector<std::string> turned;
    for (size_t i = 0; i < events.size(); ++i) {
        turned.push_back(events[(k + i) % events.size()]);
    }
    return turned;
}

int runSim(const SimOptions &options)
{
    std::vector<std::string> events;
    if (!loadEvents(options, events)) {
        return kExitUsage;
    }
    if (!options.topicsFile.empty()) {
        try {
            camsim::readFile(options.topicsFile);
        } catch (const std::exception &e) {
            std::fprintf(stderr, "onvif-events sim: --topics: %s\n", e.what());
            return kExitUsage;
        }
    }
    // One camera on its own, or a group behind the one port.
    std::unique_ptr<camsim::CameraSim> single;
    std::unique_ptr<camsim::CameraGroup> group;
    std::vector<ServedCamera> cameras;
    try {
        if (options.cameras <= 1) {
            single = std::make_unique<camsim::CameraSim>(simConfig(options, events));
            single->start();
            cameras.push_back(ServedCamera{single.get(), "", events, {}, {}, 0});
        } else {
            group = std::make_unique<camsim::CameraGroup>(std::vector<camsim::Config>(
                static_cast<size_t>(options.cameras), simConfig(options, events)));
            group->start();
            for (size_t k = 0; k < group->size(); ++k) {
                cameras.push_back(ServedCamera{&group->camera(k),
                                               "camera " + std::to_string(k + 1) + ": ",
                                               eventsOfCamera(events, k),
                                               {},
                                               {},
                                               0});
            }
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "onvif-events sim: cannot serve on 127.0.0.1:%d: %s\n", options.port,
                     e.what());
        return kExitUnreachable;
    }
    installStopSignals();
    printBanner(cameras, options, events.size());

    auto started = Clock::now();
    auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.interval));
    while (!stopRequested() &&
           (options.duration <= 0 ||
            Clock::now() - started < std::chrono::duration<double>(options.duration))) {
        for (ServedCamera &camera : cameras) {
            printNewRequests(camera);
            serveNewSubscriptions(camera, interval);
            pushDueEvents(camera, interval);
        }
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (group) {
        group->stop();
    } else {
        single->stop();
    }
    size_t served = 0;
    for (const ServedCamera &camera : cameras) {
        served += camera.sim->requests().size();
    }
    std::printf("camera%s stopped, %zu request(s) served\n", cameras.size() > 1 ? "s" : "", served);
    return kExitOk;
}

} // namespace onvif_events
