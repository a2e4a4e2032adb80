#include "recovery.h"

#include <algorithm>

namespace onvif_events
{

namespace
{
constexpr std::chrono::seconds kFirstDelay{1};
constexpr std::chrono::seconds kLongestDelay{60};
} // namespace

void Recovery::schedule()
{
    due_ = std::chrono::steady_clock::now() + delay_;
}

void Recovery::lost(const std::string &why)
{
    pending_ = true;
    delay_ = kFirstDelay;
    schedule();
    std::fprintf(status_, "%s lost (%s); making a new one in %lld s\n", what_, why.c_str(),
                 static_cast<long long>(delay_.count()));
    std::fflush(status_);
}

bool Recovery::due() const
{
    return pending_ && std::chrono::steady_clock::now() >= due_;
}

void Recovery::attemptFailed(const std::string &why)
{
    delay_ = std::min(delay_ * 2, kLongestDelay);
    schedule();
    std::fprintf(status_, "new %s failed (%s); next try in %lld s\n", what_, why.c_str(),
                 static_cast<long long>(delay_.count()));
    std::fflush(status_);
}

void Recovery::recovered(const std::string &detail)
{
    pending_ = false;
    delay_ = kFirstDelay;
    std::fprintf(status_, "new %s: %s\n", what_, detail.c_str());
    std::fflush(status_);
}

} // namespace onvif_events
