// The camera table of a hub, the routing of a request by its path and
// sender, and the rate of refusal log lines.
#include "hub_cameras.h"

#include <limits>

namespace vek::hub
{
namespace
{

constexpr std::chrono::minutes kRefusalLogPeriod{1};
// Paths remembered for the rate of log lines, and the length kept of each.
constexpr size_t kRefusalLogPaths = 4096;
constexpr size_t kRefusalLogKey = 256;

// The camera id of "<id>/<generation>", or 0; the generation in rest.
uint32_t cameraIdOf(std::string_view path, std::string_view &rest)
{
    size_t slash = path.find('/');
    if (slash == 0 || slash == std::string_view::npos || slash > 10) {
        return 0;
    }
    uint64_t id = 0;
    for (char digit : path.substr(0, slash)) {
        if (digit < '0' || digit > '9') {
            return 0;
        }
        id = id * 10 + static_cast<uint64_t>(digit - '0');
    }
    if (id > std::numeric_limits<uint32_t>::max()) {
        return 0;
    }
    rest = path.substr(slash + 1);
    return static_cast<uint32_t>(id);
}

} // namespace

Lease::~Lease()
{
    if (table_ != nullptr) {
        table_->release(*camera_);
    }
}

uint32_t CameraTable::add(const char *eventUrl, OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                          bool initialStates, uint32_t *id)
{
    auto camera = std::make_shared<Camera>();
    if (!numericAddress(urlHost(eventUrl), camera->sender)) {
        return VEK_ONVIF_ERR_PARAM;
    }
    camera->eventUrl = eventUrl;
    camera->cfg = cfg;
    camera->inputs = inputs;
    camera->initialStates = initialStates;
    std::lock_guard<std::mutex> guard(lock_);
    if (lastId_ == std::numeric_limits<uint32_t>::max()) {
        return VEK_ONVIF_ERR_FAIL;
    }
    camera->id = ++lastId_;
    cameras_.emplace(camera->id, camera);
    *id = camera->id;
    return VEK_ONVIF_OK;
}

bool CameraTable::remove(uint32_t id)
{
    std::unique_lock<std::mutex> guard(lock_);
    auto found = cameras_.find(id);
    if (found == cameras_.end()) {
        return false;
    }
    std::shared_ptr<Camera> camera = found->second;
    cameras_.erase(found);
    released_.wait(guard, [&] { return camera->users == 0; });
    return true;
}

Route CameraTable::route(std::string_view path, const Address &sender, Lease &lease)
{
    if (path.substr(0, kNotifyPathPrefix.size()) != kNotifyPathPrefix) {
        return Route::NoCamera;
    }
    std::string_view generation;
    uint32_t id = cameraIdOf(path.substr(kNotifyPathPrefix.size()), generation);
    if (id == 0) {
        return Route::NoCamera;
    }
    if (generation != generation_) {
        return Route::OtherRun;
    }
    std::lock_guard<std::mutex> guard(lock_);
    auto found = cameras_.find(id);
    if (found == cameras_.end()) {
        return Route::NoCamera;
    }
    if (!(found->second->sender == sender)) {
        return Route::WrongSender;
    }
    ++found->second->users;
    lease.table_ = this;
    lease.camera_ = found->second;
    return Route::Camera;
}

void CameraTable::release(Camera &camera)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        --camera.users;
    }
    released_.notify_all();
}

bool CameraTable::kept(uint32_t id, std::string &eventUrl, KeptSubscription (&kept)[2]) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = cameras_.find(id);
    if (found == cameras_.end()) {
        return false;
    }
    eventUrl = found->second->eventUrl;
    kept[kKeptCommon] = found->second->kept[kKeptCommon];
    kept[kKeptSmart] = found->second->kept[kKeptSmart];
    return true;
}

bool CameraTable::keep(uint32_t id, const KeptSubscription (&kept)[2])
{
    std::lock_guard<std::mutex> guard(lock_);
    auto found = cameras_.find(id);
    if (found == cameras_.end()) {
        return false;
    }
    found->second->kept[kKeptCommon] = kept[kKeptCommon];
    found->second->kept[kKeptSmart] = kept[kKeptSmart];
    return true;
}

bool RefusalLog::shouldLog(std::string_view path, std::chrono::steady_clock::time_point now)
{
    std::string key(path.substr(0, kRefusalLogKey));
    auto found = lastLine_.find(key);
    if (found != lastLine_.end()) {
        if (now - found->second < kRefusalLogPeriod) {
            return false;
        }
        found->second = now;
        return true;
    }
    if (lastLine_.size() >= kRefusalLogPaths) {
        for (auto it = lastLine_.begin(); it != lastLine_.end();) {
            it = now - it->second >= kRefusalLogPeriod ? lastLine_.erase(it) : std::next(it);
        }
        if (lastLine_.size() >= kRefusalLogPaths) {
            // Many paths at once: their lines are held back until the
            // oldest have aged, rather than let the table grow.
            return false;
        }
    }
    lastLine_.emplace(std::move(key), now);
    return true;
}

} // namespace vek::hub
