#include "watch_session.h"

#include <algorithm>
#include <thread>

#include "report_format.h"
#include "request_runner.h"
#include "step_failure.h"
#include "vek_platform.h"

namespace onvif_events
{

namespace
{

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kRequestLimit{15}; // well beyond the library's own time-out
constexpr std::chrono::seconds kUnsubscribeLimit{2};

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

[[noreturn]] void stoppedWaiting(FILE *status, const char *operation, int exitStatus)
{
    std::fprintf(status, "stopped while waiting for the answer to %s\n", operation);
    leaveNow(exitStatus);
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
    // Smart data alone has no listening socket of the tool's.
    if (camera.listeningPort() > 0) {
        text += ", listening on port " + std::to_string(camera.listeningPort());
    }
    return text;
}

// Where the camera sends smart data: the library subscribes the recorder's own device port for
// it, a port this tool does not serve.
std::string smartDataDestination()
{
    VEK_PUB_DevPortInfo ports{};
    std::string port = VEK_PUB_GetDevPortInfo(&ports) == 0 ? std::to_string(ports.usPort) : "?";
    return "smart data goes to the recorder's device port " + port +
           " (/onvif_notify_server), which this tool does not serve: no smart-data reports "
           "show here";
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

Clock::duration fromSeconds(double value)
{
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

} // namespace

WatchSession::WatchSession(const WatchOptions &options)
    : options_(options), status_(options.json ? stderr : stdout),
      via_(options.pull ? "pull" : "notify"),
      create_(options.pull ? "CreatePullPointSubscription" : "Subscribe"),
      recovery_(options.pull ? "pull point" : "subscription", status_)
{
}

// ---- start ----------------------------------------------------------------------------------

int WatchSession::start()
{
    if (options_.listenPort > 0) {
        gS32AlarmDftPort = options_.listenPort;
    }
    auto onWorker = [this](const std::function<uint32_t()> &call) {
        std::optional<uint32_t> done = request("GetEventProperties", status_, call);
        if (!done) {
            stoppedWaiting(status_, "GetEventProperties", kExitOk);
        }
        return *done;
    };
    if (int exit = openCamera("watch", options_.camera, onWorker, opened_); exit != kExitOk) {
        return exit;
    }
    const Camera &camera = *opened_.camera;
    std::fprintf(status_, "discovered %u alarm templates at %s\n", camera.config().PropeAlarmCount,
                 options_.camera.url.c_str());
    if (camera.config().PropeAlarmCount == 0) {
        std::fprintf(status_, "warning: no known alarm topic; messages will not match\n");
    }
    if (int exit = subscribe(); exit != kExitOk) {
        return exit;
    }
    std::fprintf(
        status_, "watching%s; Ctrl-C ends\n",
        options_.duration > 0
            ? (" for " + std::to_string(static_cast<int>(options_.duration)) + " s").c_str()
            : "");
    std::fflush(status_);
    deadline_ = Clock::now() + fromSeconds(options_.duration);
    renewEvery_ = fromSeconds(options_.renewInterval);
    nextRenew_ = renewalDue();
    return kExitOk;
}

uint32_t WatchSession::makeSubscription()
{
    return options_.pull ? opened_.camera->createPullPoint()
                         : opened_.camera->subscribe(scopeValue(options_.scope));
}

// The first subscription (or pull point); kExitOk, or the exit status after saying why.
int WatchSession::subscribe()
{
    const LogCapture &logs = *opened_.logs;
    mark_ = logs.count();
    auto asked = Clock::now();
    std::optional<uint32_t> done = request(create_, status_, [this] { return makeSubscription(); });
    if (!done) {
        stoppedWaiting(status_, create_, kExitOk);
    }
    uint32_t result = *done;
    if (result != VEK_ONVIF_OK) {
        if (auto exit = silentCamera("watch", create_, opened_.endpoint, failureReason(logs, mark_),
                                     Clock::now() - asked)) {
            return *exit;
        }
    }
    if (options_.pull) {
        if (result != VEK_ONVIF_OK) {
            return explainFailure("watch", create_, result, options_.camera, logs, mark_);
        }
        std::fprintf(status_, "pull point %s\n", opened_.camera->pullPoint().c_str());
        return kExitOk;
    }
    if (result != VEK_ONVIF_OK || !opened_.camera->subscribed()) {
        return explainPushFailure(result);
    }
    printSubscribed();
    return kExitOk;
}

int WatchSession::explainPushFailure(uint32_t result)
{
    if (opened_.logs->hasText("soap_bind", mark_)) {
        printFailure("watch", "no free port to listen on from " + std::to_string(gS32AlarmDftPort));
        return kExitUnreachable;
    }
    if (result == VEK_ONVIF_OK) {
        printFailure("watch", "the camera offers no smart-data reports to subscribe to");
        return kExitCamera;
    }
    return explainFailure("watch", create_, result, options_.camera, *opened_.logs, mark_);
}

void WatchSession::printSubscribed() const
{
    const OnvifSubInfo &sub = opened_.camera->subscription();
    if (sub.ulCommonAlarmSub == 1) {
        std::fprintf(status_, "listening on port %d\n", opened_.camera->listeningPort());
        std::fprintf(status_, "subscribed (common alarms): %s\n", sub.szCommonSubAddr);
    }
    if (sub.ulSmartDataSub == 1) {
        std::fprintf(status_, "subscribed (smart data): %s\n%s\n", sub.szSmartSubAddr,
                     smartDataDestination().c_str());
    } else if (options_.scope == "both") {
        std::fprintf(status_, "no smart-data subscription: %s\n",
                     opened_.camera->config().stSmartCaps.ulSupportSmartData == 1
                         ? "the camera refused it (see --verbose)"
                         : "the camera offers no smart-data reports");
    }
}

// A pull point is renewed at half the termination time the camera granted, when that is sooner
// than the renewal interval.
WatchSession::Clock::time_point WatchSession::renewalDue() const
{
    auto every = renewEvery_;
    if (options_.pull) {
        every = std::min<Clock::duration>(every, opened_.camera->pullPointLifetime() / 2);
    }
    return Clock::now() + std::max<Clock::duration>(every, std::chrono::seconds(1));
}

// ---- step -----------------------------------------------------------------------------------

bool WatchSession::running() const
{
    return !stopRequested() && !outputClosed_ &&
           (options_.duration <= 0 || Clock::now() < deadline_);
}

bool WatchSession::step()
{
    if (recovery_.pending()) {
        recover();
        return true;
    }
    std::vector<OnvifAlarmReport> reports;
    if (options_.pull) {
        if (!pull(reports)) {
            return false;
        }
    } else {
        receive(reports);
    }
    print(reports);
    if (!recovery_.pending() && Clock::now() >= nextRenew_ && !renew()) {
        return false;
    }
    std::fflush(status_);
    return true;
}

// A new attempt at the lost subscription (or pull point) once its time has come.
void WatchSession::recover()
{
    if (!recovery_.due()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return;
    }
    Camera &camera = *opened_.camera;
    mark_ = opened_.logs->count();
    std::optional<uint32_t> done = request(create_, status_, [this] { return makeSubscription(); });
    if (!done) {
        stoppedWaiting(status_, create_, kExitFailed);
    }
    if (*done == VEK_ONVIF_OK && (options_.pull || camera.subscribed())) {
        recovery_.recovered(options_.pull ? camera.pullPoint() : subscriptionText(camera));
        renewFailing_ = false;
        pullFailing_ = false;
        nextRenew_ = renewalDue();
        return;
    }
    if (!options_.pull) {
        camera.forgetSubscription();
    }
    recovery_.attemptFailed(reasonText(*opened_.logs, mark_, *done));
}

bool WatchSession::pull(std::vector<OnvifAlarmReport> &reports)
{
    const LogCapture &logs = *opened_.logs;
    mark_ = logs.count();
    std::optional<uint32_t> done =
        longPoll(*opened_.camera, pulled_,
                 options_.duration > 0 ? std::min(nextRenew_, deadline_) : nextRenew_);
    if (!done) {
        stoppedIn_ = "PullMessages";
        return false;
    }
    uint32_t result = *done;
    reports = std::move(pulled_);
    pullFailing_ = result != VEK_ONVIF_OK;
    if (pullFailing_) {
        ++failedPulls_;
        FailureReason why = failureReason(logs, mark_);
        std::fprintf(status_, "pull failed: %s\n", reasonText(logs, mark_, result).c_str());
        // The pull point family says 112 when the camera no longer knows the pull point.
        if (result == VEK_ONVIF_ERR_FAIL || why.subscriptionGone()) {
            opened_.camera->forgetPullPoint();
            recovery_.lost(why.text());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return true;
}

void WatchSession::receive(std::vector<OnvifAlarmReport> &reports)
{
    if (opened_.camera->listeningSocket() < 0) { // smart data only: nothing comes to the tool
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return;
    }
    bool connected = false;
    reports = opened_.camera->receive(connected);
    if (!connected) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void WatchSession::print(const std::vector<OnvifAlarmReport> &reports)
{
    for (const OnvifAlarmReport &report : reports) {
        ReportView view = viewOf(report);
        std::printf("%s\n",
                    options_.json ? reportJson(view, via_).c_str() : formatReport(view).c_str());
        ++reportCount_;
    }
    // The reader went away (`watch | head`): nobody takes the reports any more. A failed write
    // of a status line to stdout counts too (the error stays set).
    std::fflush(stdout);
    if (std::ferror(stdout) != 0 && !outputClosed_) {
        outputClosed_ = true;
        std::fprintf(stderr, "the output was closed; ending the watch\n");
    }
}

bool WatchSession::renew()
{
    Camera &camera = *opened_.camera;
    const LogCapture &logs = *opened_.logs;
    mark_ = logs.count();
    std::optional<uint32_t> done = request("Renew", status_, [this, &camera] {
        return options_.pull ? camera.renewPullPoint() : camera.renew();
    });
    if (!done) {
        stoppedIn_ = "Renew";
        return false;
    }
    renewFailing_ = *done != VEK_ONVIF_OK;
    if (renewFailing_) {
        FailureReason why = failureReason(logs, mark_);
        std::string text = reasonText(logs, mark_, *done);
        std::fprintf(status_, "renew failed: %s\n", text.c_str());
        // An unrenewed subscription ends at its termination time: make a new one. A pull point
        // is made again only when the camera says it is gone.
        if (!options_.pull) {
            camera.forgetSubscription();
            recovery_.lost(text);
        } else if (why.subscriptionGone()) {
            camera.forgetPullPoint();
            recovery_.lost(text);
        }
    } else {
        std::fprintf(status_, "renew -> %s\n", resultText(*done).c_str());
    }
    nextRenew_ = renewalDue();
    return true;
}

// ---- finish ---------------------------------------------------------------------------------

int WatchSession::finish()
{
    if (stoppedIn_ != nullptr) {
        std::fprintf(status_, "stopped while waiting for the answer to %s\n", stoppedIn_);
    }
    bool failed = recovery_.pending() || pullFailing_ || renewFailing_;
    std::string ended = unsubscribe();
    failed = failed || unsubscribeFailed_;
    std::fprintf(
        status_, "%s; %zu report(s)%s; %zu library log line(s)\n", ended.c_str(), reportCount_,
        failedPulls_ > 0 ? (", " + std::to_string(failedPulls_) + " failed pull(s)").c_str() : "",
        opened_.logs->count());
    int exitStatus = failed ? kExitFailed : kExitOk;
    if (stoppedIn_ != nullptr || abandoned_) {
        leaveNow(exitStatus); // a request is still running on its own thread
    }
    return exitStatus;
}

// Ends what is held; the summary's opening words.
std::string WatchSession::unsubscribe()
{
    Camera &camera = *opened_.camera;
    bool held = options_.pull ? !camera.pullPoint().empty() : camera.subscribed();
    if (!held) {
        return "nothing to unsubscribe";
    }
    mark_ = opened_.logs->count();
    std::optional<uint32_t> done = request(
        "Unsubscribe", status_,
        [this, &camera] {
            return options_.pull ? camera.closePullPoint()
                                 : camera.unsubscribe(VEK_ONVIF_SCOPE_BOTH);
        },
        false, kUnsubscribeLimit);
    if (!done) {
        abandoned_ = true;
        unsubscribeFailed_ = true;
        return "unsubscribe: no answer within " + std::to_string(kUnsubscribeLimit.count()) +
               " s; the camera ends the subscription at its termination time";
    }
    if (*done != VEK_ONVIF_OK) {
        unsubscribeFailed_ = true;
        std::fprintf(status_, "unsubscribe failed: %s\n",
                     reasonText(*opened_.logs, mark_, *done).c_str());
    }
    return "unsubscribed -> " + resultText(*done);
}

} // namespace onvif_events
