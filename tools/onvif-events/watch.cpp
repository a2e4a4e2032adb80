// onvif-events discover / watch: a real camera, driven as a recorder drives it.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <thread>

#include "commands.h"
#include "endpoint.h"
#include "recorder.h"
#include "vek_platform.h"
#include "watch_pull.h"

namespace onvif_events
{

namespace
{

using Clock = std::chrono::steady_clock;

std::atomic<bool> g_stop{false};

void onStopSignal(int)
{
    g_stop = true;
}

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

void fail(const char *command, const std::string &text)
{
    std::fprintf(stderr, "onvif-events %s: %s\n", command, text.c_str());
}

// URL shape and reachability; an exit status when the camera cannot be used.
std::optional<int> checkCamera(const char *command, const CameraOptions &options,
                               Endpoint *endpoint)
{
    std::string why;
    std::optional<Endpoint> parsed = parseEventUrl(options.url, &why);
    if (!parsed) {
        fail(command, "bad URL '" + options.url + "': " + why);
        return kExitUsage;
    }
    *endpoint = *parsed;
    std::string unreachable = probeConnect(*endpoint, 3000);
    if (!unreachable.empty()) {
        fail(command, "cannot reach camera at " + endpoint->host + ":" + endpoint->port + ": " +
                          unreachable);
        return kExitUnreachable;
    }
    return std::nullopt;
}

// After a failed exchange: refused credentials, or some other answer.
int explainFailure(const char *command, const char *operation, uint32_t result,
                   const Endpoint &endpoint, const CameraOptions &options, const LogCapture &logs,
                   size_t logMark)
{
    std::string detail;
    bool refused = logs.containsSince(logMark, "NotAuthorized") ||
                   diagnoseCredentials(endpoint, options.user, options.password, &detail) ==
                       Refusal::Authentication;
    if (refused && options.user.empty()) {
        fail(command,
             "camera requires credentials (--user/--password or ONVIF_USER/ONVIF_PASSWORD)");
        return kExitAuth;
    }
    if (refused) {
        fail(command, "camera refused authentication for user '" + options.user + "'" +
                          (detail.empty() ? "" : " (" + detail + ")"));
        return kExitAuth;
    }
    fail(command, std::string(operation) + " failed (result " + resultText(result) + ")" +
                      (detail.empty() ? "" : ", camera answered " + detail));
    return kExitCamera;
}

uint32_t scopeValue(const std::string &scope)
{
    if (scope == "smart") {
        return VEK_ONVIF_SCOPE_SMART;
    }
    if (scope == "both") {
        return VEK_ONVIF_SCOPE_BOTH;
    }
    return VEK_ONVIF_SCOPE_COMMON;
}

} // namespace

void installStopSignals()
{
    struct sigaction action {
    };
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested()
{
    return g_stop;
}

int runDiscover(const CameraOptions &options)
{
    Endpoint endpoint;
    if (auto status = checkCamera("discover", options, &endpoint)) {
        return *status;
    }
    LogCapture logs(options.verbose);
    Camera camera(options.url, options.user, options.password, tablesFrom(options));
    uint32_t result = camera.discover();
    if (result != VEK_ONVIF_OK) {
        return explainFailure("discover", "GetEventProperties", result, endpoint, options, logs, 0);
    }
    std::printf("%s: %u alarm templates\n%s", options.url.c_str(), camera.config().PropeAlarmCount,
                camera.templateTable().c_str());
    return kExitOk;
}

int runWatch(const WatchOptions &options)
{
    const CameraOptions &cam = options.camera;
    Endpoint endpoint;
    if (auto status = checkCamera("watch", cam, &endpoint)) {
        return *status;
    }
    // Status lines go to stderr when stdout carries JSON.
    FILE *status = options.json ? stderr : stdout;
    LogCapture logs(cam.verbose);
    if (options.listenPort > 0) {
        gS32AlarmDftPort = options.listenPort;
    }
    Camera camera(cam.url, cam.user, cam.password, tablesFrom(cam));
    uint32_t result = camera.discover();
    if (result != VEK_ONVIF_OK) {
        return explainFailure("watch", "GetEventProperties", result, endpoint, cam, logs, 0);
    }
    std::fprintf(status, "discovered %u alarm templates at %s\n", camera.config().PropeAlarmCount,
                 cam.url.c_str());
    if (camera.config().PropeAlarmCount == 0) {
        std::fprintf(status, "warning: no known alarm topic; messages will not match\n");
    }

    size_t mark = logs.count();
    const char *via = options.pull ? "pull" : "notify";
    std::optional<PullWatch> pullWatch;
    if (options.pull) {
        pullWatch.emplace(camera, cam.user, cam.password, status);
        result = pullWatch->open();
        if (result != VEK_ONVIF_OK) {
            return explainFailure("watch", "CreatePullPointSubscription", result, endpoint, cam,
                                  logs, mark);
        }
        std::fprintf(status, "pull point %s\n", pullWatch->address().c_str());
    } else {
        result = camera.subscribe(scopeValue(options.scope));
        if (result != VEK_ONVIF_OK || !camera.subscribed()) {
            if (logs.containsSince(mark, "soap_bind")) {
                fail("watch", "no free port to listen on from " + std::to_string(gS32AlarmDftPort));
                return kExitUnreachable;
            }
            if (result == VEK_ONVIF_OK) {
                fail("watch", "the camera offers no smart-data reports to subscribe to");
                return kExitCamera;
            }
            return explainFailure("watch", "Subscribe", result, endpoint, cam, logs, mark);
        }
        const OnvifSubInfo &sub = camera.subscription();
        std::fprintf(status, "listening on port %d\n", camera.listeningPort());
        if (sub.ulCommonAlarmSub == 1) {
            std::fprintf(status, "subscribed (common alarms): %s\n", sub.szCommonSubAddr);
        }
        if (sub.ulSmartDataSub == 1) {
            std::fprintf(status, "subscribed (smart data): %s\n", sub.szSmartSubAddr);
        }
    }
    std::fprintf(status, "watching%s; Ctrl-C ends\n",
                 options.duration > 0
                     ? (" for " + std::to_string(static_cast<int>(options.duration)) + " s").c_str()
                     : "");
    std::fflush(status);

    auto started = Clock::now();
    auto deadline = started + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(options.duration));
    auto renewEvery = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.renewInterval));
    auto nextRenew = started + renewEvery;
    size_t reportCount = 0;
    int failedPulls = 0;
    while (!stopRequested() && (options.duration <= 0 || Clock::now() < deadline)) {
        std::vector<OnvifAlarmReport> reports;
        if (options.pull) {
            // A long poll, cut short by the end of the watch.
            auto wait = PullWatch::kWait;
            if (options.duration > 0) {
                wait = std::min(wait,
                                std::chrono::ceil<std::chrono::seconds>(deadline - Clock::now()));
            }
            result = pullWatch->pull(wait, reports);
            if (result != VEK_ONVIF_OK) {
                ++failedPulls;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
            }
        } else {
            bool connected = false;
            reports = camera.receive(connected);
            if (!connected) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        for (const OnvifAlarmReport &report : reports) {
            ReportView view = viewOf(report);
            std::printf("%s\n",
                        options.json ? reportJson(view, via).c_str() : formatReport(view).c_str());
            ++reportCount;
        }
        std::fflush(stdout);
        if (!options.pull && Clock::now() >= nextRenew) {
            result = camera.renew();
            std::fprintf(status, "renew -> %s\n", resultText(result).c_str());
            nextRenew = Clock::now() + renewEvery;
        }
    }
    if (options.pull) {
        result = pullWatch->close();
    } else {
        result = camera.unsubscribe(VEK_ONVIF_SCOPE_BOTH);
    }
    std::fprintf(status, "unsubscribed -> %s; %zu report(s)%s; %zu library log line(s)\n",
                 resultText(result).c_str(), reportCount,
                 failedPulls > 0 ? (", " + std::to_string(failedPulls) + " failed pull(s)").c_str()
                                 : "",
                 logs.count());
    return kExitOk;
}

} // namespace onvif_events
