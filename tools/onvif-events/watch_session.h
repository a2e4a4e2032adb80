// One watch of one camera, as a recorder runs it. start: discovery, then the push subscription
// (with its listening socket) or the pull point. step: receive or pull once, print the reports,
// renew when due, and make a lost subscription again when its time has come. finish:
// unsubscribe and print the summary.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "camera_opening.h"
#include "commands.h"
#include "failure.h"
#include "recovery.h"

namespace onvif_events
{

class WatchSession
{
  public:
    explicit WatchSession(const WatchOptions &options);

    // kExitOk when the session watches, else the exit status (said why on stderr).
    int start();
    // Neither Ctrl-C (or SIGTERM, SIGHUP), a closed output nor the end of the duration has come.
    bool running() const;
    // One step; false when Ctrl-C cut a request short and the watch must end.
    bool step();
    // Unsubscribes, prints the summary and gives the exit status (or ends the process when a
    // request is still running on its own thread).
    int finish();

  private:
    using Clock = std::chrono::steady_clock;

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
    FILE *status_; // status lines: stderr when stdout carries JSON
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
    bool pullFailing_ = false;        // the last pull failed
    bool renewFailing_ = false;       // the last renewal failed and nothing was made again
    bool unsubscribeFailed_ = false;  // unsubscribing failed or was given up
    bool refused_ = false;            // the camera refused the credentials: the watch ends
    bool abandoned_ = false;          // a request was left running on its own thread
    bool outputClosed_ = false;       // stdout's reader went away
    const char *stoppedIn_ = nullptr; // the request Ctrl-C interrupted
};

} // namespace onvif_events
