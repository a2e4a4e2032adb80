// onvif-events sim: the camera simulator as a standalone camera on 127.0.0.1.
//
// Events file: any XML text; every wsnt:NotificationMessage element in it, from its start tag to
// its end tag, is one event, in file order (a Notify capture, a PullMessages answer or a plain
// list all work). A file without any, holding a bare tt:Message, is one event on the topic
// tns1:VideoSource/MotionAlarm. Without --topics the camera advertises the topics of these
// events, each described by the items of its first message. Each push subscriber receives the
// events one Notify each, one every --interval seconds; each new pull point gets them all queued.
#include <chrono>
#include <cstdio>
#include <map>
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

void printBanner(const camsim::CameraSim &sim, const SimOptions &options, size_t eventCount)
{
    std::printf("camera event service %s\n", sim.eventServiceUrl().c_str());
    if (sim.config().tls) {
        std::printf("self-signed certificate, SHA-256 %s\n", sim.config().tls->fingerprint.c_str());
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
void printNewRequests(const camsim::CameraSim &sim, size_t &requestsShown)
{
    std::vector<camsim::RecordedRequest> requests = sim.requests();
    for (; requestsShown < requests.size(); ++requestsShown) {
        const camsim::RecordedRequest &r = requests[requestsShown];
        std::printf(
            "request %-28s %-24s %s%s\n", r.operation.c_str(), r.path.c_str(),
            r.hasSecurity ? (r.authenticated ? "authenticated" : "REFUSED") : "no credentials",
            r.responseStatus != 200 ? (" -> HTTP " + std::to_string(r.responseStatus)).c_str()
                                    : "");
    }
}

// Each new pull point gets every event queued; each new push subscription without a topic
// filter starts receiving them one per interval.
void serveNewSubscriptions(camsim::CameraSim &sim, const std::vector<std::string> &events,
                           Clock::duration interval, std::set<int> &seen,
                           std::map<int, Pusher> &pushers)
{
    for (const camsim::Subscription &s : sim.subscriptions()) {
        if (!seen.insert(s.id).second) {
            continue;
        }
        if (s.pullPoint) {
            for (const std::string &event : events) {
                sim.queueMessage(s.id, event);
            }
            std::printf("pull point %d: %zu event(s) queued\n", s.id, events.size());
        } else if (s.topicFilter.empty()) {
            pushers[s.id] = Pusher{0, Clock::now() + interval};
            std::printf("subscription %d: pushing to %s\n", s.id, s.consumerAddress.c_str());
        } else {
            std::printf("subscription %d (filter %s): nothing to push\n", s.id,
                        s.topicFilter.c_str());
        }
    }
}

// Pushes the next event to every subscriber whose turn has come.
void pushDueEvents(const camsim::CameraSim &sim, const std::vector<std::string> &events,
                   Clock::duration interval, std::map<int, Pusher> &pushers)
{
    for (auto &[id, pusher] : pushers) {
        if (pusher.next >= events.size() || Clock::now() < pusher.due || !sim.subscription(id)) {
            continue;
        }
        camsim::SendOptions send;
        send.connectTimeout = std::chrono::milliseconds(1000);
        send.ioTimeout = std::chrono::milliseconds(2000);
        camsim::SendResult sent = sim.notify(id, {events[pusher.next]}, send);
        std::printf("subscription %d: event %zu/%zu %s\n", id, pusher.next + 1, events.size(),
                    sent.sent ? "pushed" : ("not delivered: " + sent.error).c_str());
        ++pusher.next;
        pusher.due = Clock::now() + interval;
    }
}

} // namespace

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
    camsim::CameraSim sim(simConfig(options, events));
    try {
        sim.start();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "onvif-events sim: cannot serve on 127.0.0.1:%d: %s\n", options.port,
                     e.what());
        return kExitUnreachable;
    }
    installStopSignals();
    printBanner(sim, options, events.size());

    auto started = Clock::now();
    auto interval = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.interval));
    std::map<int, Pusher> pushers;
    std::set<int> seen;
    size_t requestsShown = 0;
    while (!stopRequested() &&
           (options.duration <= 0 ||
            Clock::now() - started < std::chrono::duration<double>(options.duration))) {
        printNewRequests(sim, requestsShown);
        serveNewSubscriptions(sim, events, interval, seen, pushers);
        pushDueEvents(sim, events, interval, pushers);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    sim.stop();
    std::printf("camera stopped, %zu request(s) served\n", sim.requests().size());
    return kExitOk;
}

} // namespace onvif_events
