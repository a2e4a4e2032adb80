// watch --pull: the pull point of the reference-parameter family, driven as a recorder drives
// it: long polls, renewal at half the termination time, a new pull point when the camera says
// the old one is gone, Unsubscribe at the end.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "recorder.h"
#include "vek_onvif_event.h"

namespace onvif_events
{

class PullWatch
{
  public:
    // Each long poll waits up to kWait for the first message and takes up to kBatch.
    static constexpr std::chrono::seconds kWait{10};
    static constexpr uint32_t kBatch = 64;
    // Termination asked for at creation and on each renewal.
    static constexpr uint32_t kTerminationSeconds = 60;

    // Status lines (renewals, replaced pull points) go to status.
    PullWatch(Camera &camera, std::string user, std::string password, FILE *status);
    ~PullWatch();
    PullWatch(const PullWatch &) = delete;
    PullWatch &operator=(const PullWatch &) = delete;

    uint32_t open();
    std::string address() const;
    // One long poll of at most wait (at least one second, ending by the next renewal); renews
    // first when due and opens a new pull point when the camera no longer knows this one.
    uint32_t pull(std::chrono::seconds wait, std::vector<OnvifAlarmReport> &reports);
    // Unsubscribe; the pull point is forgotten whatever the camera answers.
    uint32_t close();

  private:
    using Clock = std::chrono::steady_clock;
    void scheduleRenewal();
    uint32_t renewIfDue();

    Camera &camera_;
    std::string user_, password_;
    FILE *status_;
    struct soap *soap_ = nullptr;
    OnvifPullPoint pullPoint_{};
    bool open_ = false;
    Clock::time_point renewAt_{};
};

} // namespace onvif_events
