// watch --pull with the pull-point family.
#include "watch_pull.h"

#include <algorithm>
#include <ctime>

#include "vek_platform.h"

namespace onvif_events
{

namespace
{

std::vector<OnvifAlarmReport> adoptReports(OnvifPullResult &result)
{
    std::vector<OnvifAlarmReport> reports(result.pstAlarmReports,
                                          result.pstAlarmReports + result.ulAlarmCount);
    if (result.pstAlarmReports != nullptr) {
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "onvif-events", __LINE__);
    }
    return reports;
}

} // namespace

PullWatch::PullWatch(Camera &camera, std::string user, std::string password, FILE *status)
    : camera_(camera), user_(std::move(user)), password_(std::move(password)), status_(status)
{
}

PullWatch::~PullWatch()
{
    if (open_) {
        close();
    }
    VEK_Onvif_PullPoint_Free(&pullPoint_);
    VEK_Onvif_Event_Destroy(&soap_);
}

uint32_t PullWatch::open()
{
    if (soap_ == nullptr) {
        VEK_Onvif_Event_Init(&soap_);
        if (soap_ == nullptr) {
            return VEK_ONVIF_ERR_NOMEM;
        }
    }
    VEK_Onvif_PullPoint_Free(&pullPoint_);
    uint32_t result =
        VEK_Onvif_PullPoint_Create(soap_, camera_.url().c_str(), user_.c_str(), password_.c_str(),
                                   kTerminationSeconds, &pullPoint_);
    open_ = result == VEK_ONVIF_OK;
    if (open_) {
        scheduleRenewal();
    }
    return result;
}

std::string PullWatch::address() const
{
    return pullPoint_.pszAddress != nullptr ? pullPoint_.pszAddress : "";
}

// Renewal at half the time the camera gave (on its clock), or at half the time asked for
// when it gave none.
void PullWatch::scheduleRenewal()
{
    int64_t left = kTerminationSeconds;
    if (pullPoint_.s64TerminationTime != 0) {
        int64_t cameraNow = static_cast<int64_t>(std::time(nullptr)) + pullPoint_.s64ClockOffset;
        left = std::max<int64_t>(pullPoint_.s64TerminationTime - cameraNow, 2);
    }
    renewAt_ = Clock::now() + std::chrono::seconds(left / 2);
}

uint32_t PullWatch::renewIfDue()
{
    if (Clock::now() < renewAt_) {
        return VEK_ONVIF_OK;
    }
    uint32_t result = VEK_Onvif_PullPoint_Renew(soap_, &pullPoint_, user_.c_str(),
                                                password_.c_str(), kTerminationSeconds);
    std::fprintf(status_, "renew -> %s\n", resultText(result).c_str());
    if (result == VEK_ONVIF_OK) {
        scheduleRenewal();
    }
    return result;
}

uint32_t PullWatch::pull(std::chrono::seconds wait, std::vector<OnvifAlarmReport> &reports)
{
    reports.clear();
    if (!open_) {
        return VEK_ONVIF_ERR_FAIL;
    }
    uint32_t result = renewIfDue();
    OnvifPullResult pulled{};
    if (result == VEK_ONVIF_OK) {
        // The wait ends in time for the next renewal.
        auto untilRenewal = std::chrono::ceil<std::chrono::seconds>(renewAt_ - Clock::now());
        auto seconds = static_cast<uint32_t>(
            std::clamp<int64_t>(std::min(wait, untilRenewal).count(), 1, kWait.count()));
        result = VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, user_.c_str(), password_.c_str(),
                                          kBatch, seconds, &camera_.translationInputs(),
                                          &camera_.translationConfig(), &pulled);
        reports = adoptReports(pulled);
    }
    if (result == VEK_ONVIF_ERR_FAIL) {
        // The camera no longer holds the pull point: a new one takes its place.
        open_ = false;
        uint32_t created = open();
        std::fprintf(status_, "pull point gone; new pull point %s -> %s\n", address().c_str(),
                     resultText(created).c_str());
    }
    return result;
}

uint32_t PullWatch::close()
{
    if (!open_) {
        return VEK_ONVIF_ERR_FAIL;
    }
    open_ = false;
    return VEK_Onvif_PullPoint_Unsubscribe(soap_, &pullPoint_, user_.c_str(), password_.c_str());
}

} // namespace onvif_events
