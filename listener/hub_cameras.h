// The cameras of a hub and the routing of a request to one of them by its
// path, "/onvif_notify_server/<camera id>/<generation>", and its sender.
// The table is shared by the polling thread and the threads that add,
// remove and subscribe cameras; one mutex guards it.
#ifndef VEK_HUB_CAMERAS_H
#define VEK_HUB_CAMERAS_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "listener_defences.h"
#include "vek_onvif_event.h"
#include "vek_subscription_internal.h"

namespace vek::hub
{

// The path below which a hub's cameras deliver.
constexpr std::string_view kNotifyPathPrefix = "/onvif_notify_server/";

struct Camera {
    uint32_t id = 0;
    std::string eventUrl;
    Address sender; // the only address that may deliver for the camera
    OnvifAlarmCfg *cfg = nullptr;
    OnvifAlarmInputList *inputs = nullptr;
    bool initialStates = false;
    // Guarded by the table's mutex.
    KeptSubscription kept[2];
    unsigned users = 0; // leases of its records held by a Poll
};

// What the routing of a request found.
enum class Route {
    Camera,     // the camera of the path, and the sender is that camera
    NoCamera,   // not a path of this hub, or of no camera registered now
    OtherRun,   // a path of another generation: a subscription of an earlier run
    WrongSender // the path's camera is at another address
};

class CameraTable;

// The records of one camera, in use until the lease ends: the camera may
// be removed meanwhile, but its remover waits for the lease.
class Lease
{
  public:
    Lease() = default;
    ~Lease();
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;

    const Camera *camera() const { return camera_.get(); }

  private:
    friend class CameraTable;
    CameraTable *table_ = nullptr;
    std::shared_ptr<Camera> camera_;
};

class CameraTable
{
  public:
    explicit CameraTable(std::string generation) : generation_(std::move(generation)) {}

    const std::string &generation() const { return generation_; }

    // Registers a camera under a new id. VEK_ONVIF_ERR_PARAM when the host of
    // eventUrl is not a numeric address; VEK_ONVIF_ERR_FAIL when the ids are
    // used up.
    uint32_t add(const char *eventUrl, OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                 bool initialStates, uint32_t *id);
    // False when no camera has the id. Returns once no lease of its records
    // is held.
    bool remove(uint32_t id);

    // The camera of the path when the sender is that camera; a lease of its
    // records with it.
    Route route(std::string_view path, const Address &sender, Lease &lease);

    // Copies of a camera's event URL and kept subscriptions; false when no
    // camera has the id.
    bool kept(uint32_t id, std::string &eventUrl, KeptSubscription (&kept)[2]) const;
    // Replaces them; false when the camera is gone.
    bool keep(uint32_t id, const KeptSubscription (&kept)[2]);

  private:
    friend class Lease;
    void release(Camera &camera);

    const std::string generation_;
    mutable std::mutex lock_;
    std::condition_variable released_;
    std::unordered_map<uint32_t, std::shared_ptr<Camera>> cameras_;
    uint32_t lastId_ = 0;
};

// At most one log line per path and minute: a subscription left pushing at
// a hub, or a sender probing it, fills no log.
class RefusalLog
{
  public:
    bool shouldLog(std::string_view path, std::chrono::steady_clock::time_point now);

  private:
    std::unordered_map<std::string, std::chrono::steady_clock::time_point> lastLine_;
};

} // namespace vek::hub

#endif // VEK_HUB_CAMERAS_H
