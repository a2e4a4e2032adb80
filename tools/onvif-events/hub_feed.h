// The Notify hub of a watch: one listening port for every pushing camera. A thread of its own
// polls the hub and hands each camera's reports to that camera's watch, which takes them when it
// is ready.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "failure.h"
#include "vek_onvif_event.h"

namespace onvif_events
{

class HubFeed
{
  public:
    HubFeed() = default;
    ~HubFeed();
    HubFeed(const HubFeed &) = delete;
    HubFeed &operator=(const HubFeed &) = delete;

    // Listens on every address of the recorder, at the first free port from
    // gS32AlarmDftPort up, and starts polling.
    Outcome open();
    OnvifNotifyHub *hub() const { return hub_; }
    int port() const;

    // Reports of the camera come to take() once it is registered.
    void expect(uint32_t cameraId);
    // The camera's reports that came, waiting up to `wait` for the first.
    std::vector<OnvifAlarmReport> take(uint32_t cameraId, std::chrono::milliseconds wait);

  private:
    void pollLoop();

    OnvifNotifyHub *hub_ = nullptr;
    std::thread poller_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::map<uint32_t, std::deque<OnvifAlarmReport>> waiting_; // by camera id
    bool stopping_ = false;
};

// The event URL with its host name resolved to a numeric address, as the hub wants it (the
// address the camera's Notifies must come from); the URL as it is when the host is numeric or
// does not resolve.
std::string numericEventUrl(const std::string &url);

} // namespace onvif_events
