// Getting a lost subscription (or pull point) back as a recorder does: after the camera dropped
// it (a reboot, an expiry, a fault saying it is unknown), new attempts 1, 2, 4 ... 60 s apart,
// with a status line for each. The push path of watch uses it; the pull path calls lost() when
// the camera says a pull point is gone and makes a new one whenever due() says so.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace onvif_events
{

class Recovery
{
  public:
    // what: "subscription" or "pull point"; lines go to status.
    Recovery(const char *what, FILE *status) : what_(what), status_(status) {}

    // The camera no longer serves it: prints why and when the first new attempt comes.
    void lost(const std::string &why);
    // A lost one waits for an attempt whose time has come.
    bool due() const;
    // Lost and not yet made again (a failure not recovered, when the watch ends now).
    bool pending() const { return pending_; }
    // The attempt failed: prints why and the next, doubled, delay (at most 60 s).
    void attemptFailed(const std::string &why);
    // The attempt succeeded: prints it and starts the next loss at 1 s again.
    void recovered(const std::string &detail);

    // The delay before the next attempt.
    std::chrono::seconds delay() const { return delay_; }

  private:
    void schedule();
    const char *what_;
    FILE *status_;
    bool pending_ = false;
    std::chrono::seconds delay_{1};
    std::chrono::steady_clock::time_point due_{};
};

} // namespace onvif_events
