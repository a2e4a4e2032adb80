// Getting a lost subscription (or pull point) back as a recorder does: after the camera dropped
// it (a reboot, an expiry, a fault saying it is unknown), new attempts 1, 2, 4 ... 60 s apart,
// with a status line for each. The same back-off paces a step the camera failed while what it
// serves may still stand (a pull during an outage): the step is tried again on that schedule,
// never faster, and a summary line says when it works again.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>

namespace onvif_events
{

class Recovery
{
  public:
    // what: "subscription" or "pull point"; lines go to status, each after prefix.
    Recovery(const char *what, FILE *status, std::string prefix = "")
        : what_(what), status_(status), prefix_(std::move(prefix))
    {
    }

    // The camera no longer serves it: prints why and when the first new attempt comes.
    void lost(const std::string &why);
    // The camera failed step ("pull") while what it serves may still stand: prints why and when
    // the step is tried again. While stalled, due() paces the step itself.
    void stalled(const char *step, const std::string &why);
    // A lost one, or a stalled step, waits for an attempt whose time has come.
    bool due() const;
    // Lost (or stalled) and not yet back (a failure not recovered, when the watch ends now).
    bool pending() const { return pending_; }
    // The attempts make a new one (lost), rather than repeat a stalled step.
    bool makesNew() const { return pending_ && step_ == nullptr; }
    // The attempt failed: prints why and the next, doubled, delay (at most 60 s).
    void attemptFailed(const std::string &why);
    // The attempt succeeded: prints it, with the attempts and time it took, and starts the next
    // loss at 1 s again.
    void recovered(const std::string &detail);

    // The delay before the next attempt.
    std::chrono::seconds delay() const { return delay_; }

  private:
    using Clock = std::chrono::steady_clock;
    void start(const char *step, const std::string &line);
    std::string summary() const;

    const char *what_;
    FILE *status_;
    std::string prefix_;
    const char *step_ = nullptr; // the stalled step; null when lost
    bool pending_ = false;
    int failedAttempts_ = 0;
    std::chrono::seconds delay_{1};
    Clock::time_point due_{};
    Clock::time_point since_{};
};

} // namespace onvif_events
