#include "recovery.h"

#include <algorithm>

namespace onvif_events
{

namespace
{
constexpr std::chrono::seconds kFirstDelay{1};
constexpr std::chrono::seconds kLongestDelay{60};

long long secondsOf(std::chrono::seconds value)
{
    return static_cast<long long>(value.count());
}
} // namespace

void Recovery::start(const char *step, const std::string &line)
{
    pending_ = true;
    step_ = step;
    failedAttempts_ = 0;
    delay_ = kFirstDelay;
    since_ = Clock::now();
    due_ = since_ + delay_;
    std::fprintf(status_, "%s%s\n", prefix_.c_str(), line.c_str());
    std::fflush(status_);
}

void Recovery::lost(const std::string &why)
{
    start(nullptr, std::string(what_) + " lost (" + why + "); making a new one in " +
                       std::to_string(secondsOf(kFirstDelay)) + " s");
}

void Recovery::stalled(const char *step, const std::string &why)
{
    start(step, std::string(step) + " failed (" + why + "); next try in " +
                    std::to_string(secondsOf(kFirstDelay)) + " s");
}

bool Recovery::due() const
{
    return pending_ && Clock::now() >= due_;
}

void Recovery::attemptFailed(const std::string &why)
{
    ++failedAttempts_;
    delay_ = std::min(delay_ * 2, kLongestDelay);
    due_ = Clock::now() + delay_;
    if (step_ != nullptr) {
        std::fprintf(status_, "%s%s failed again (%s); next try in %lld s\n", prefix_.c_str(),
                     step_, why.c_str(), secondsOf(delay_));
    } else {
        std::fprintf(status_, "%snew %s failed (%s); next try in %lld s\n", prefix_.c_str(), what_,
                     why.c_str(), secondsOf(delay_));
    }
    std::fflush(status_);
}

std::string Recovery::summary() const
{
    auto took = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - since_);
    return std::to_string(failedAttempts_ + 1) + " attempt(s) in " +
           std::to_string(secondsOf(took)) + " s";
}

void Recovery::recovered(const std::string &detail)
{
    if (step_ != nullptr) {
        std::fprintf(status_, "%s%s works again after %s: %s\n", prefix_.c_str(), step_,
                     summary().c_str(), detail.c_str());
    } else {
        std::fprintf(status_, "%snew %s: %s (after %s)\n", prefix_.c_str(), what_, detail.c_str(),
                     summary().c_str());
    }
    std::fflush(status_);
    pending_ = false;
    step_ = nullptr;
    delay_ = kFirstDelay;
}

} // namespace onvif_events
