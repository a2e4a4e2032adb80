// The recorder's side of one camera, driven through the library's public C interface only:
// discovery, the push subscription with its listening socket, the pull point, and the
// report records that come out of them. Also the log capture and the report formatting.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "vek_onvif_event.h"

namespace onvif_events
{

// One library log line as the platform's log sink received it.
struct LogLine {
    int32_t level = 0;
    uint32_t code = 0;
    std::string func;
    std::string text;
};

// Takes over the platform's log sink for its lifetime. Lines are kept (for error diagnosis and
// the count in summaries) and, when echo is on, printed to stderr as they come.
class LogCapture
{
  public:
    explicit LogCapture(bool echo);
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    size_t count() const;
    std::vector<LogLine> since(size_t first) const;
    bool containsSince(size_t first, const std::string &word) const;

  private:
    static void sink(int32_t level, uint32_t code, const char *file, const char *func,
                     const char *text, void *user);
    bool echo_;
    mutable std::mutex lock_;
    std::vector<LogLine> lines_;
};

// Name of an alarm type code without its inactive offset ("motion" for 1 and 1001).
std::string alarmName(uint32_t code);
// True for the inactive form of a code (code + 1000).
bool isInactive(uint32_t code);
uint32_t baseCode(uint32_t code);
// Short text of a status code ("0 ok", "100 SOAP exchange failed", ...).
std::string resultText(uint32_t result);

// One report as the tool prints it.
struct ReportView {
    std::string time; // local wall-clock time the report was received, HH:MM:SS.mmm
    uint32_t channel = 0;
    uint32_t code = 0; // as reported (inactive forms included)
    int32_t objectValue = 0;
    int32_t extensionValue = 0;
    uint32_t flags = 0;
};
ReportView viewOf(const OnvifAlarmReport &report);
std::string formatReport(const ReportView &report);
std::string reportJson(const ReportView &report, const std::string &via);

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
    const OnvifAlarmCfg &config() const { return cfg_; }
    // Human-readable table of the templates and the smart-report capabilities.
    std::string templateTable() const;
    // The same as one JSON object: url, templates (code, alarm, topic, source, key, data items
    // with their value types) and smart (the smart-report capabilities).
    std::string templateJson() const;

    uint32_t subscribe(uint32_t scope);
    const OnvifSubInfo &subscription() const { return sub_; }
    int32_t listeningSocket() const { return fd_; }
    int listeningPort() const;
    // One VEK_Onvif_Recv_Notify call: takes at most one waiting Notify.
    std::vector<OnvifAlarmReport> receive(bool &connected);
    // Renews the subscriptions that are held; the first failure's code, else 0.
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
    struct soap *pullContext_ = nullptr;
    OnvifPullPoint pullPointRecord_{};
    uint32_t pullTermination_ = kPullTermination;
    std::string pullPoint_;
};

} // namespace onvif_events
