// The recorder's side of one camera, driven through the library's public C interface only:
// discovery, the push subscription with its listening socket, the pull point, and the
// report records that come out of them.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "vek_onvif_event.h"

namespace onvif_events
{

// Channel and alarm-input tables a recorder would fill from the camera's media and device
// services.
struct CameraTables {
    // Channel k + 1: {video source token, video source configuration token}.
    std::vector<std::pair<std::string, std::string>> channels;
    // Alarm input n + 1: its token.
    std::vector<std::string> inputs;
};

class Camera
{
  public:
    Camera(std::string url, std::string user, std::string password,
           const CameraTables &tables = {});
    ~Camera();
    Camera(const Camera &) = delete;
    Camera &operator=(const Camera &) = delete;

    const std::string &url() const { return url_; }

    // GetEventProperties; replaces the templates.
    uint32_t discover();
    // Replaces the templates with those of the library's topic table, for a camera whose
    // discovery gives none.
    uint32_t useTopicTable();
    // Initial states ("Initialized" messages) are reported by the pull points and the hub
    // registration made from here on (off until asked, as in the library).
    void reportInitialStates(bool on) { initialStates_ = on; }
    const OnvifAlarmCfg &config() const { return cfg_; }
    // Human-readable table of the templates and the smart-report capabilities.
    std::string templateTable() const;
    // The same as one JSON object: url, templates (code, alarm, topic when the library gives one,
    // source, key, data items with their value types) and smart (the smart-report capabilities).
    std::string templateJson() const;

    // From here on the common alarms come through the hub (registered with hubUrl, the event URL
    // with a numeric host): subscribe, renew and unsubscribe go through it, and the hub's port is
    // the listening port. The hub must outlive the camera record.
    uint32_t useHub(OnvifNotifyHub *hub, const std::string &hubUrl);
    bool throughHub() const { return hub_ != nullptr; }
    uint32_t hubId() const { return hubId_; }

    uint32_t subscribe(uint32_t scope);
    const OnvifSubInfo &subscription() const { return sub_; }
    int32_t listeningSocket() const { return fd_; }
    // The tool's port for the common alarms: its own socket's, or the hub's; -1 when none.
    int listeningPort() const;
    // One VEK_Onvif_Recv_Notify call: takes at most one waiting Notify.
    std::vector<OnvifAlarmReport> receive(bool &connected);
    // Renews the subscriptions that are held, stopping at the first failure; its code, else 0.
    uint32_t renew();
    // Ends the subscriptions of scope and closes the listening socket. Works on a copy of the
    // record, so a renewal still running on another thread reads a stable one.
    uint32_t unsubscribe(uint32_t scope);
    // Forgets a subscription the camera no longer holds and closes the listening socket, so
    // that subscribe() can start again.
    void forgetSubscription();
    bool subscribed() const { return sub_.ulCommonAlarmSub == 1 || sub_.ulSmartDataSub == 1; }

    // A pull point of the reference-parameter family, asked to live terminationSeconds.
    uint32_t createPullPoint(uint32_t terminationSeconds = kPullTermination);
    const std::string &pullPoint() const { return pullPoint_; }
    // Seconds the camera still grants the pull point (its termination time on its own clock), or
    // the asked termination when it gave none.
    std::chrono::seconds pullPointLifetime() const;
    // One long poll: waits up to waitSeconds at the camera for the first message, takes up to
    // kPullBatch. 112: the camera no longer knows the pull point.
    uint32_t pull(std::vector<OnvifAlarmReport> &reports, uint32_t waitSeconds = 1);
    uint32_t renewPullPoint();
    // Unsubscribe in a context of its own (a pull may still run on another thread).
    uint32_t closePullPoint();
    // Forgets a pull point the camera no longer holds, so that createPullPoint() can start again.
    void forgetPullPoint();

    static constexpr uint32_t kPullTermination = 60;
    static constexpr uint32_t kPullBatch = 64;

    // The templates and alarm inputs the translation of reports reads.
    OnvifAlarmCfg &translationConfig() { return cfg_; }
    OnvifAlarmInputList &translationInputs() { return inputList_; }

  private:
    std::string url_, user_, password_;
    OnvifAlarmCfg cfg_{};
    std::vector<OnvifAlarmInput> inputs_;
    OnvifAlarmInputList inputList_{};
    OnvifDevAccess access_{};
    OnvifSubInfo sub_{};
    int32_t fd_ = -1;
    OnvifNotifyHub *hub_ = nullptr;
    uint32_t hubId_ = 0;
    bool initialStates_ = false;
    struct soap *pullContext_ = nullptr;
    OnvifPullPoint pullPointRecord_{};
    uint32_t pullTermination_ = kPullTermination;
    std::string pullPoint_;
};

} // namespace onvif_events
