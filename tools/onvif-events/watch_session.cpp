#include "watch_session.h"

#include <algorithm>
#include <cstdarg>
#include <thread>

#include "hub_feed.h"
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
constexpr std::chrono::milliseconds kPullSpacing{500};

// One library request as watch makes it: on a worker thread, with progress lines on long
// waits; nothing when Ctrl-C came first (or, not interruptible, the limit passed).
std::optional<Outcome> request(const char *what, FILE *status, const std::string &prefix,
                               const std::function<uint32_t()> &call, bool interruptible = true,
                               std::chrono::milliseconds limit = kRequestLimit)
{
    RequestWait wait;
    wait.what = what;
    wait.progress = status;
    wait.prefix = prefix.c_str();
    wait.interruptible = interruptible;
    wait.limit = limit;
    return runRequest(call, wait);
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
std::optional<Outcome> longPoll(Camera &camera, std::vector<OnvifAlarmReport> &pulled,
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

WatchSession::WatchSession(const WatchOptions &options, const CameraOptions &camera,
                           WatchShared &shared)
    : options_(options), camera_(camera), shared_(shared),
      label_(camera.name.empty() ? camera.url : camera.name),
      prefix_(shared.labelled ? "[" + label_ + "] " : ""),
      command_(shared.labelled ? "watch [" + label_ + "]" : "watch"),
      status_(options.json ? stderr : stdout), via_(options.pull ? "pull" : "notify"),
      create_(options.pull ? "CreatePullPointSubscription" : "Subscribe"),
      recovery_(options.pull ? "pull point" : "subscription", status_, prefix_)
{
}

void WatchSession::say(const char *format, ...) const
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, again);
    va_end(again);
    // One write per line, so that the lines of several cameras do not mix.
    std::fprintf(status_, "%s%s", prefix_.c_str(), line.c_str());
}

// Ctrl-C came while a request of the opening ran: the request goes on on its own thread and the
// process ends once every camera's watch is over.
int WatchSession::stoppedWaiting(const char *operation, int exitStatus)
{
    say("stopped while waiting for the answer to %s\n", operation);
    mustLeave_ = true;
    return exitStatus;
}

// ---- start ----------------------------------------------------------------------------------

int WatchSession::start()
{
    bool stopped = false;
    auto onWorker = [this, &stopped](const std::function<uint32_t()> &call) {
        std::optional<Outcome> done = request("GetEventProperties", status_, prefix_, call);
        stopped = !done;
        return done;
    };
    int exit = openCamera(command_.c_str(), camera_, onWorker, opened_, false);
    if (stopped) {
        return stoppedWaiting("GetEventProperties", kExitOk);
    }
    if (exit != kExitOk) {
        return exit;
    }
    const Camera &camera = *opened_.camera;
    if (opened_.topicTableLine.empty()) {
        say("discovered %u alarm templates at %s\n", camera.config().PropeAlarmCount,
            camera_.url.c_str());
    } else {
        say("%s\n", opened_.topicTableLine.c_str());
    }
    opened_.camera->reportInitialStates(options_.initialStates);
    if (int exit = subscribe(); exit != kExitOk || mustLeave_) {
        return exit;
    }
    say("watching%s; Ctrl-C ends\n",
        options_.duration > 0
            ? (" for " + std::to_string(static_cast<int>(options_.duration)) + " s").c_str()
            : "");
    std::fflush(status_);
    deadline_ = Clock::now() + fromSeconds(options_.duration);
    renewEvery_ = fromSeconds(options_.renewInterval);
    nextRenew_ = renewalDue();
    return kExitOk;
}

// Push subscriptions for common alarms come to the watch's hub.
int WatchSession::joinHub()
{
    Camera &camera = *opened_.camera;
    uint32_t result = camera.useHub(shared_.hub->hub(), numericEventUrl(camera_.url));
    if (result != VEK_ONVIF_OK) {
        printFailure(command_.c_str(), "the Notify hub takes no camera at " + camera_.url + " (" +
                                           resultText(result) + ")");
        return kExitUsage;
    }
    shared_.hub->expect(camera.hubId());
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
    if (shared_.hub != nullptr) {
        if (int exit = joinHub(); exit != kExitOk) {
            return exit;
        }
    }
    std::optional<Outcome> done =
        request(create_, status_, prefix_, [this] { return makeSubscription(); });
    if (!done) {
        return stoppedWaiting(create_, kExitOk);
    }
    const Outcome &outcome = *done;
    if (options_.pull) {
        if (!outcome.ok()) {
            return explainFailure(command_.c_str(), create_, outcome, camera_, opened_.endpoint);
        }
        say("pull point %s\n", opened_.camera->pullPoint().c_str());
        return kExitOk;
    }
    if (!outcome.ok() || !opened_.camera->subscribed()) {
        return explainPushFailure(outcome);
    }
    printSubscribed();
    return kExitOk;
}

int WatchSession::explainPushFailure(const Outcome &outcome)
{
    if (outcome.ok()) {
        printFailure(command_.c_str(), "the camera offers no smart-data reports to subscribe to");
        return kExitCamera;
    }
    // On the recorder's side a subscription needs its listening socket: a port taken counts as
    // unreachable, as for the sim.
    if (outcome.kind() == VEK_ONVIF_FAIL_LOCAL) {
        printFailure(command_.c_str(), std::string("Subscribe failed on the recorder's side: ") +
                                           outcome.why.szReason);
        return kExitUnreachable;
    }
    return explainFailure(command_.c_str(), create_, outcome, camera_, opened_.endpoint);
}

void WatchSession::printSubscribed() const
{
    const OnvifSubInfo &sub = opened_.camera->subscription();
    if (sub.ulCommonAlarmSub == 1) {
        say("listening on port %d\n", opened_.camera->listeningPort());
        say("subscribed (common alarms): %s\n", sub.szCommonSubAddr);
    }
    if (sub.ulSmartDataSub == 1) {
        say("subscribed (smart data): %s\n%s\n", sub.szSmartSubAddr,
            smartDataDestination().c_str());
    } else if (options_.scope == "both") {
        say("no smart-data subscription: %s\n",
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
    return !stopRequested() && !shared_.outputClosed &&
           (options_.duration <= 0 || Clock::now() < deadline_);
}

bool WatchSession::step()
{
    if (recovery_.pending() && !recovery_.due()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return true;
    }
    if (recovery_.makesNew()) {
        recover();
        return !refused_ && !stoppedCreating_;
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
    // No renewal while pulls fail: the camera is not answering, and the pull that works again
    // comes first.
    if (!recovery_.pending() && !refused_ && Clock::now() >= nextRenew_ && !renew()) {
        return false;
    }
    std::fflush(status_);
    return !refused_;
}

// Credentials the camera refuses are never tried again: cameras lock an account out after a few
// failures. The watch ends at once.
bool WatchSession::refusedCredentials(const char *operation, const Outcome &outcome)
{
    if (!outcome.notAuthorized()) {
        return false;
    }
    refused_ = true;
    explainFailure(command_.c_str(), operation, outcome, camera_, opened_.endpoint);
    // Nor are they used to unsubscribe: the camera ends what it holds at its termination time.
    opened_.camera->forgetSubscription();
    opened_.camera->forgetPullPoint();
    return true;
}

// A new attempt at the lost subscription (or pull point); its time has come.
void WatchSession::recover()
{
    Camera &camera = *opened_.camera;
    std::optional<Outcome> done =
        request(create_, status_, prefix_, [this] { return makeSubscription(); });
    if (!done) {
        // What the request makes is not known: nothing is unsubscribed, and the watch fails.
        stoppedIn_ = create_;
        stoppedCreating_ = true;
        return;
    }
    if (done->ok() && (options_.pull || camera.subscribed())) {
        recovery_.recovered(options_.pull ? camera.pullPoint() : subscriptionText(camera));
        renewFailing_ = false;
        pullFailing_ = false;
        nextRenew_ = renewalDue();
        return;
    }
    if (!options_.pull) {
        camera.forgetSubscription();
    }
    if (refusedCredentials(create_, *done)) {
        return;
    }
    recovery_.attemptFailed(stepFailureText(create_, *done));
}

bool WatchSession::pull(std::vector<OnvifAlarmReport> &reports)
{
    // However fast the camera answers (some ignore the wait), no more than two pulls a second.
    auto allowed = lastPull_ + kPullSpacing;
    if (Clock::now() < allowed) {
        std::this_thread::sleep_for(
            std::min<Clock::duration>(allowed - Clock::now(), kPullSpacing));
        return true;
    }
    lastPull_ = Clock::now();
    std::optional<Outcome> done =
        longPoll(*opened_.camera, pulled_,
                 options_.duration > 0 ? std::min(nextRenew_, deadline_) : nextRenew_);
    if (!done) {
        stoppedIn_ = "PullMessages";
        return false;
    }
    const Outcome &outcome = *done;
    reports = std::move(pulled_);
    pullFailing_ = !outcome.ok();
    if (!pullFailing_) {
        if (recovery_.pending()) {
            recovery_.recovered("pull point " + opened_.camera->pullPoint());
        }
        return true;
    }
    ++failedPulls_;
    if (refusedCredentials("PullMessages", outcome)) {
        return true;
    }
    std::string why = stepFailureText("PullMessages", outcome);
    // The pull point family says 112 when the camera no longer knows the pull point.
    if (outcome.result == VEK_ONVIF_ERR_FAIL || outcome.subscriptionGone()) {
        say("pull failed: %s\n", why.c_str());
        opened_.camera->forgetPullPoint();
        recovery_.lost(outcome.text());
    } else if (recovery_.pending()) {
        recovery_.attemptFailed(why);
    } else {
        recovery_.stalled("pull", why);
    }
    return true;
}

void WatchSession::receive(std::vector<OnvifAlarmReport> &reports)
{
    if (opened_.camera->throughHub()) {
        reports = shared_.hub->take(opened_.camera->hubId(), std::chrono::milliseconds(50));
        return;
    }
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
    if (reports.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(shared_.printing);
    for (const OnvifAlarmReport &report : reports) {
        ReportView view = viewOf(report);
        std::printf("%s\n", options_.json ? reportJson(view, via_, camera_.url, label_).c_str()
                                          : (prefix_ + formatReport(view)).c_str());
        ++reportCount_;
    }
    // The reader went away (`watch | head`): nobody takes the reports any more. A failed write
    // of a status line to stdout counts too (the error stays set).
    std::fflush(stdout);
    if (std::ferror(stdout) != 0 && !shared_.outputClosed) {
        shared_.outputClosed = true;
        std::fprintf(stderr, "the output was closed; ending the watch\n");
    }
}

bool WatchSession::renew()
{
    Camera &camera = *opened_.camera;
    std::optional<Outcome> done = request("Renew", status_, prefix_, [this, &camera] {
        return options_.pull ? camera.renewPullPoint() : camera.renew();
    });
    if (!done) {
        stoppedIn_ = "Renew";
        return false;
    }
    const Outcome &outcome = *done;
    renewFailing_ = !outcome.ok();
    nextRenew_ = renewalDue();
    if (!renewFailing_) {
        say("renew -> %s\n", resultText(outcome.result).c_str());
        return true;
    }
    if (refusedCredentials("Renew", outcome)) {
        return true;
    }
    std::string text = stepFailureText("Renew", outcome);
    say("renew failed: %s\n", text.c_str());
    // An unrenewed subscription ends at its termination time: make a new one. A pull point is
    // made again only when the camera says it is gone.
    if (!options_.pull) {
        camera.forgetSubscription();
        recovery_.lost(text);
    } else if (outcome.subscriptionGone()) {
        camera.forgetPullPoint();
        recovery_.lost(text);
    }
    return true;
}

// ---- finish ---------------------------------------------------------------------------------

int WatchSession::finish()
{
    if (stoppedIn_ != nullptr) {
        say("stopped while waiting for the answer to %s\n", stoppedIn_);
        mustLeave_ = true;
    }
    if (stoppedCreating_) {
        return kExitFailed;
    }
    bool failed = recovery_.pending() || pullFailing_ || renewFailing_;
    std::string ended = unsubscribe();
    failed = failed || unsubscribeFailed_;
    say("%s; %zu report(s)%s; %zu library log line(s)\n", ended.c_str(), reportCount_,
        failedPulls_ > 0 ? (", " + std::to_string(failedPulls_) + " failed pull(s)").c_str() : "",
        shared_.logs->count());
    mustLeave_ = mustLeave_ || abandoned_; // a request is still running on its own thread
    return refused_ ? kExitAuth : failed ? kExitFailed : kExitOk;
}

// Ends what is held; the summary's opening words.
std::string WatchSession::unsubscribe()
{
    Camera &camera = *opened_.camera;
    bool held = options_.pull ? !camera.pullPoint().empty() : camera.subscribed();
    if (!held) {
        return "nothing to unsubscribe";
    }
    std::optional<Outcome> done = request(
        "Unsubscribe", status_, prefix_,
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
    if (!done->ok()) {
        unsubscribeFailed_ = true;
        say("unsubscribe failed: %s\n", stepFailureText("Unsubscribe", *done).c_str());
    }
    return "unsubscribed -> " + resultText(done->result);
}

} // namespace onvif_events
