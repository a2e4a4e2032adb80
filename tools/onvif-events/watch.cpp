// onvif-events discover / watch: a real camera, driven as a recorder drives it.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <thread>

#include "commands.h"
#include "endpoint.h"
#include "failure.h"
#include "log_capture.h"
#include "recorder.h"
#include "recovery.h"
#include "report_format.h"
#include "request_runner.h"
#include "vek_platform.h"

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
                   const CameraOptions &options, const LogCapture &logs, size_t logMark)
{
    // Judged from what the library saw: the camera is not asked again.
    FailureReason why = failureReason(logs, logMark);
    std::string detail = why.text();
    bool refused = logs.hasText("NotAuthorized", logMark) || why.notAuthorized();
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
    if (!why.certificate.empty()) {
        fail(command, "the camera's TLS certificate was refused (" + why.certificate +
                          "); see the fingerprint command, --ca-file, --pin and --insecure");
        return kExitCamera;
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

namespace
{

constexpr std::chrono::seconds kRequestLimit{15}; // well beyond the library's own time-out
constexpr std::chrono::seconds kUnsubscribeLimit{2};
constexpr int kLibraryTimeoutSeconds = 5;

// One library request as watch makes it: on a worker thread, with progress lines on long
// waits; nothing when Ctrl-C came first (or, not interruptible, the limit passed).
std::optional<uint32_t> request(const char *what, FILE *status,
                                const std::function<uint32_t()> &call, bool interruptible = true,
                                std::chrono::milliseconds limit = kRequestLimit)
{
    RequestWait wait;
    wait.what = what;
    wait.progress = status;
    wait.interruptible = interruptible;
    wait.limit = limit;
    return runRequest(call, wait);
}

// A camera that took the connection and never answered: unreachable, with what was waited for.
// Known from the runtime's report, or, where the library's failure line carries none, from a
// failure without any answer that came only when the request time-out had passed.
std::optional<int> silentCamera(const char *command, const char *operation,
                                const Endpoint &endpoint, const FailureReason &reason,
                                Clock::duration waited)
{
    bool timedOutUnreported = reason.httpStatus == 0 && reason.subcode.empty() &&
                              waited >= std::chrono::milliseconds(kLibraryTimeoutSeconds * 900);
    if (!reason.timedOut && !timedOutUnreported) {
        return std::nullopt;
    }
    fail(command, "camera at " + endpoint.host + ":" + endpoint.port +
                      " accepted the connection but sent no answer to " + operation + " within " +
                      std::to_string(kLibraryTimeoutSeconds) + " s");
    return kExitUnreachable;
}

std::string reasonText(const LogCapture &logs, size_t mark, uint32_t result)
{
    std::string text = failureReason(logs, mark).text();
    return text.empty() ? "result " + resultText(result) : text;
}

[[noreturn]] void stoppedWaiting(FILE *status, const char *operation, int exitStatus)
{
    std::fprintf(status, "stopped while waiting for the answer to %s\n", operation);
    leaveNow(exitStatus);
}

std::string subscriptionText(const Camera &camera)
{
    const OnvifSubInfo &sub = camera.subscription();
    std::string text;
    if (sub.ulCommonAlarmSub == 1) {
        text += std::string("common alarms at ") + sub.szCommonSubAddr;
    }
    if (sub.ulSmartDataSub == 1) {
        text += std::string(text.empty() ? "" : ", ") + "smart data at " + sub.szSmartSubAddr;
    }
    return text + ", listening on port " + std::to_string(camera.listeningPort());
}

// One long poll of the pull point: waits at the camera until a message comes, the next renewal
// or the end of the watch (1 to 10 s), on a worker thread so that Ctrl-C is seen at once.
std::optional<uint32_t> longPoll(Camera &camera, std::vector<OnvifAlarmReport> &pulled,
                                 Clock::time_point until)
{
    constexpr std::chrono::seconds kLongestWait{10};
    auto left = std::chrono::ceil<std::chrono::seconds>(until - Clock::now());
    auto wait = std::clamp<std::chrono::seconds>(left, std::chrono::seconds(1), kLongestWait);
    RequestWait how;
    how.what = "PullMessages";
    how.limit = wait + kRequestLimit;
    return runRequest([&camera, &pulled,
                       wait] { return camera.pull(pulled, static_cast<uint32_t>(wait.count())); },
                      how);
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

int runDiscover(const DiscoverOptions &discover)
{
    const CameraOptions &options = discover.camera;
    Endpoint endpoint;
    if (auto status = checkCamera("discover", options, &endpoint)) {
        return *status;
    }
    LogCapture logs(options.verbose);
    Camera camera(options.url, options.user, options.password, tablesFrom(options));
    auto started = Clock::now();
    uint32_t result = camera.discover();
    if (result != VEK_ONVIF_OK) {
        if (auto exit = silentCamera("discover", "GetEventProperties", endpoint,
                                     failureReason(logs, 0), Clock::now() - started)) {
            return *exit;
        }
        return explainFailure("discover", "GetEventProperties", result, options, logs, 0);
    }
    if (discover.json) {
        std::printf("%s\n", camera.templateJson().c_str());
    } else {
        std::printf("%s: %u alarm templates\n%s", options.url.c_str(),
                    camera.config().PropeAlarmCount, camera.templateTable().c_str());
    }
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
    auto asked = Clock::now();
    std::optional<uint32_t> done =
        request("GetEventProperties", status, [&] { return camera.discover(); });
    if (!done) {
        stoppedWaiting(status, "GetEventProperties", kExitOk);
    }
    if (*done != VEK_ONVIF_OK) {
        if (auto exit = silentCamera("watch", "GetEventProperties", endpoint,
                                     failureReason(logs, 0), Clock::now() - asked)) {
            return *exit;
        }
        return explainFailure("watch", "GetEventProperties", *done, cam, logs, 0);
    }
    std::fprintf(status, "discovered %u alarm templates at %s\n", camera.config().PropeAlarmCount,
                 cam.url.c_str());
    if (camera.config().PropeAlarmCount == 0) {
        std::fprintf(status, "warning: no known alarm topic; messages will not match\n");
    }

    size_t mark = logs.count();
    const char *via = options.pull ? "pull" : "notify";
    const char *create = options.pull ? "CreatePullPointSubscription" : "Subscribe";
    auto makeSubscription = [&] {
        return options.pull ? camera.createPullPoint()
                            : camera.subscribe(scopeValue(options.scope));
    };
    asked = Clock::now();
    done = request(create, status, makeSubscription);
    if (!done) {
        stoppedWaiting(status, create, kExitOk);
    }
    uint32_t result = *done;
    if (result != VEK_ONVIF_OK) {
        if (auto exit = silentCamera("watch", create, endpoint, failureReason(logs, mark),
                                     Clock::now() - asked)) {
            return *exit;
        }
    }
    if (options.pull) {
        if (result != VEK_ONVIF_OK) {
            return explainFailure("watch", create, result, cam, logs, mark);
        }
        std::fprintf(status, "pull point %s\n", camera.pullPoint().c_str());
    } else {
        if (result != VEK_ONVIF_OK || !camera.subscribed()) {
            if (logs.hasText("soap_bind", mark)) {
                fail("watch", "no free port to listen on from " + std::to_string(gS32AlarmDftPort));
                return kExitUnreachable;
            }
            if (result == VEK_ONVIF_OK) {
                fail("watch", "the camera offers no smart-data reports to subscribe to");
                return kExitCamera;
            }
            return explainFailure("watch", create, result, cam, logs, mark);
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
    // A pull point is renewed at half the termination time the camera granted, when that is
    // sooner than the renewal interval.
    auto renewalDue = [&] {
        auto every = renewEvery;
        if (options.pull) {
            every = std::min<Clock::duration>(every, camera.pullPointLifetime() / 2);
        }
        return Clock::now() + std::max<Clock::duration>(every, std::chrono::seconds(1));
    };
    auto nextRenew = renewalDue();
    std::vector<OnvifAlarmReport> pulled; // outlives a pull that Ctrl-C cut short
    size_t reportCount = 0;
    int failedPulls = 0;
    bool pullFailing = false;        // the last pull failed
    bool renewFailing = false;       // the last renewal failed and nothing was made again
    const char *stoppedIn = nullptr; // the request Ctrl-C interrupted
    Recovery recovery(options.pull ? "pull point" : "subscription", status);
    while (!stopRequested() && (options.duration <= 0 || Clock::now() < deadline)) {
        if (recovery.pending()) {
            if (!recovery.due()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            mark = logs.count();
            done = request(create, status, makeSubscription);
            if (!done) {
                stoppedWaiting(status, create, kExitFailed);
            }
            if (*done == VEK_ONVIF_OK && (options.pull || camera.subscribed())) {
                recovery.recovered(options.pull ? camera.pullPoint() : subscriptionText(camera));
                renewFailing = false;
                pullFailing = false;
                nextRenew = renewalDue();
            } else {
                if (!options.pull) {
                    camera.forgetSubscription();
                }
                recovery.attemptFailed(reasonText(logs, mark, *done));
            }
            continue;
        }
        std::vector<OnvifAlarmReport> reports;
        if (options.pull) {
            mark = logs.count();
            done = longPoll(camera, pulled,
                            options.duration > 0 ? std::min(nextRenew, deadline) : nextRenew);
            if (!done) {
                stoppedIn = "PullMessages";
                break;
            }
            result = *done;
            reports = std::move(pulled);
            pullFailing = result != VEK_ONVIF_OK;
            if (pullFailing) {
                ++failedPulls;
                FailureReason why = failureReason(logs, mark);
                std::fprintf(status, "pull failed: %s\n", reasonText(logs, mark, result).c_str());
                // The pull point family says 112 when the camera no longer knows the pull point.
                if (result == VEK_ONVIF_ERR_FAIL || why.subscriptionGone()) {
                    camera.forgetPullPoint();
                    recovery.lost(why.text());
                }
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
        if (!recovery.pending() && Clock::now() >= nextRenew) {
            mark = logs.count();
            done = request("Renew", status,
                           [&] { return options.pull ? camera.renewPullPoint() : camera.renew(); });
            if (!done) {
                stoppedIn = "Renew";
                break;
            }
            renewFailing = *done != VEK_ONVIF_OK;
            if (renewFailing) {
                FailureReason why = failureReason(logs, mark);
                std::string text = reasonText(logs, mark, *done);
                std::fprintf(status, "renew failed: %s\n", text.c_str());
                // An unrenewed subscription ends at its termination time: make a new one. A pull
                // point is made again only when the camera says it is gone.
                if (!options.pull) {
                    camera.forgetSubscription();
                    recovery.lost(text);
                } else if (why.subscriptionGone()) {
                    camera.forgetPullPoint();
                    recovery.lost(text);
                }
            } else {
                std::fprintf(status, "renew -> %s\n", resultText(*done).c_str());
            }
            nextRenew = renewalDue();
        }
        std::fflush(status);
    }
    if (stoppedIn != nullptr) {
        std::fprintf(status, "stopped while waiting for the answer to %s\n", stoppedIn);
    }

    bool failed = recovery.pending() || pullFailing || renewFailing;
    bool held = options.pull ? !camera.pullPoint().empty() : camera.subscribed();
    std::string ended = "nothing to unsubscribe";
    bool abandoned = false;
    if (held) {
        mark = logs.count();
        done = request(
            "Unsubscribe", status,
            [&] {
                return options.pull ? camera.closePullPoint()
                                    : camera.unsubscribe(VEK_ONVIF_SCOPE_BOTH);
            },
            false, kUnsubscribeLimit);
        if (!done) {
            abandoned = true;
            failed = true;
            ended = "unsubscribe: no answer within " + std::to_string(kUnsubscribeLimit.count()) +
                    " s; the camera ends the subscription at its termination time";
        } else {
            ended = "unsubscribed -> " + resultText(*done);
            if (*done != VEK_ONVIF_OK) {
                failed = true;
                std::fprintf(status, "unsubscribe failed: %s\n",
                             reasonText(logs, mark, *done).c_str());
            }
        }
    }
    std::fprintf(
        status, "%s; %zu report(s)%s; %zu library log line(s)\n", ended.c_str(), reportCount,
        failedPulls > 0 ? (", " + std::to_string(failedPulls) + " failed pull(s)").c_str() : "",
        logs.count());
    int exitStatus = failed ? kExitFailed : kExitOk;
    if (stoppedIn != nullptr || abandoned) {
        leaveNow(exitStatus); // a request is still running on its own thread
    }
    return exitStatus;
}

} // namespace onvif_events
