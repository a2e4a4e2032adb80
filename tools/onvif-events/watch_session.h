// One watch of one camera, as a recorder runs it. start: discovery, then the push subscription
// (through the watch's Notify hub, or, for smart data alone, with no socket of the tool's) or the
// pull point. step: receive or pull once, print the reports,
// renew when due, and make a lost subscription again when its time has come. finish:
// unsubscribe and print the summary.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "camera_opening.h"
#include "commands.h"
#include "failure.h"
#include "hub_feed.h"
#include "log_capture.h"
#include "recovery.h"

namespace onvif_events
{

// What the watches of several cameras share.
struct WatchShared {
    HubFeed *hub = nullptr;             // push of common alarms; null for pull or smart data alone
    veklog::LogCapture *logs = nullptr; // the library's lines of every camera
    bool labelled = false;              // several cameras: every line names its camera
    std::mutex printing;                // report lines of one camera stay together
    std::atomic<bool> outputClosed{false};
};

class WatchSession
{
  public:
    WatchSession(const WatchOptions &options, const CameraOptions &camera, WatchShared &shared);

    // kExitOk when the session watches, else the exit status (said why on stderr).
    int start();
    // Neither Ctrl-C (or SIGTERM, SIGHUP), a closed output nor the end of the duration has come.
    bool running() const;
    // One step; false when Ctrl-C cut a request short and the watch must end.
    bool step();
    // Unsubscribes, prints the summary and gives the exit status.
    int finish();
    // A request was left running on its own thread (Ctrl-C came first): once every watch is
    // over, the process ends without its exit handlers (leaveNow).
    bool mustLeave() const { return mustLeave_; }

  private:
    using Clock = std::chrono::steady_clock;

    void say(const char *format, ...) const __attribute__((format(printf, 2, 3)));
    int stoppedWaiting(const char *operation, int exitStatus);
    int joinHub();
    uint32_t makeSubscription();
    int subscribe();
    int explainPushFailure(const Outcome &outcome);
    void printSubscribed() const;
    Clock::time_point renewalDue() const;
    bool refusedCredentials(const char *operation, const Outcome &outcome);
    void recover();
    bool pull(std::vector<OnvifAlarmReport> &reports);
    void receive(std::vector<OnvifAlarmReport> &reports);
    void print(const std::vector<OnvifAlarmReport> &reports);
    bool renew();
    std::string unsubscribe();

    const WatchOptions &options_;
    const CameraOptions &camera_;
    WatchShared &shared_;
    std::string label_;   // the camera's name, or its URL
    std::string prefix_;  // "[label] " before its lines when several cameras are watched
    std::string command_; // "watch", or "watch [label]", in failure lines
    FILE *status_;        // status lines: stderr when stdout carries JSON
    const char *via_;
    const char *create_;
    OpenedCamera opened_;
    Recovery recovery_;
    Clock::time_point deadline_{};
    Clock::duration renewEvery_{};
    Clock::time_point nextRenew_{};
    Clock::time_point lastPull_{};         // start of the last pull
    std::vector<OnvifAlarmReport> pulled_; // outlives a pull that Ctrl-C cut short
    size_t reportCount_ = 0;
    int failedPulls_ = 0;
    bool pullFailing_ = false;       // the last pull failed
    bool renewFailing_ = false;      // the last renewal failed and nothing was made again
    bool unsubscribeFailed_ = false; // unsubscribing failed or was given up
    bool refused_ = false;           // the camera refused the credentials: the watch ends
    bool abandoned_ = false;         // a request was left running on its own thread
    bool stoppedCreating_ = false;   // Ctrl-C interrupted a new subscription (or pull point)
    bool mustLeave_ = false;
    const char *stoppedIn_ = nullptr; // the request Ctrl-C interrupted
};

} // namespace onvif_events
