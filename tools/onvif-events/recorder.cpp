#include "recorder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "report_format.h"
#include "vek_platform.h"

namespace onvif_events
{

namespace
{

template <size_t N> void copyText(char (&field)[N], const std::string &text)
{
    std::snprintf(field, N, "%s", text.c_str());
}

void freeBlock(void *block)
{
    ZU_MEM_FreeEx(&block, "onvif-events", __LINE__);
}

// Takes over a report array handed out by the library.
std::vector<OnvifAlarmReport> adopt(OnvifAlarmReport *array, uint32_t count)
{
    std::vector<OnvifAlarmReport> out;
    if (array != nullptr) {
        out.assign(array, array + count);
        freeBlock(array);
    }
    return out;
}

std::string itemsText(const OnvifSimpleItem *items, uint32_t count)
{
    std::string text;
    for (uint32_t i = 0; i < count && items != nullptr; ++i) {
        if (!text.empty()) {
            text += ", ";
        }
        text += items[i].Name;
        std::string type = items[i].Value;
        if (type.rfind("common_", 0) == 0) {
            type = type.substr(7);
        }
        if (!type.empty()) {
            text += ":" + type;
        }
    }
    return text.empty() ? "-" : text;
}

} // namespace

// ---- Camera ------------------------------------------------------------------------------------

Camera::Camera(std::string url, std::string user, std::string password, const CameraTables &tables)
    : url_(std::move(url)), user_(std::move(user)), password_(std::move(password))
{
    copyText(access_.szEventUrl, url_);
    copyText(access_.szUserName, user_);
    copyText(access_.szPassword, password_);
    for (size_t k = 0; k < tables.channels.size() && k < 16; ++k) {
        copyText(cfg_.ChannelTokens[k].PrimaryToken, tables.channels[k].first);
        copyText(cfg_.ChannelTokens[k].SecondaryToken, tables.channels[k].second);
    }
    inputs_.resize(tables.inputs.size());
    for (size_t n = 0; n < tables.inputs.size(); ++n) {
        inputs_[n] = OnvifAlarmInput{};
        copyText(inputs_[n].Token, tables.inputs[n]);
    }
    inputList_.InputCount = static_cast<uint32_t>(inputs_.size());
    inputList_.Inputs = inputs_.empty() ? nullptr : inputs_.data();
}

Camera::~Camera()
{
    if (subscribed()) {
        unsubscribe(VEK_ONVIF_SCOPE_BOTH);
    }
    if (!pullPoint_.empty()) {
        closePullPoint();
    }
    forgetPullPoint();
    if (hub_ != nullptr) {
        VEK_Onvif_Hub_RemoveCamera(hub_, hubId_);
    }
    VEK_Onvif_Event_Destroy(&pullContext_);
    VEK_Onvif_Event_FreePropeAlarm(&cfg_);
}

uint32_t Camera::discover()
{
    return VEK_Onvif_GetEventProperties(url_.c_str(), user_.c_str(), password_.c_str(), &cfg_);
}

uint32_t Camera::useTopicTable()
{
    return VEK_Onvif_Event_TemplatesFromTable(&cfg_);
}

std::string Camera::templateTable() const
{
    std::ostringstream out;
    char line[64];
    std::snprintf(line, sizeof line, "  %-5s %-22s ", "code", "alarm");
    out << line << "Source items | Key items | Data items\n";
    for (uint32_t i = 0; i < cfg_.PropeAlarmCount; ++i) {
        const OnvifAlarmTemplate &t = cfg_.pstPropeAlarmInfo[i];
        std::snprintf(line, sizeof line, "  %-5u %-22s ", t.AlarmType,
                      alarmName(t.AlarmType).c_str());
        out << line << itemsText(t.SourceItems, t.SourceCount) << " | "
            << itemsText(t.KeyItems, t.KeyCount) << " | " << itemsText(t.DataItems, t.DataCount)
            << "\n";
    }
    const OnvifSmartCaps &c = cfg_.stSmartCaps;
    auto yes = [](uint32_t v) { return v == 1 ? "yes" : "no"; };
    out << "  smart HTTP reports: " << yes(c.ulSupportSmartData) << " (line detector "
        << yes(c.ulLineDetector) << ", field detector " << yes(c.ulFieldDetector)
        << ", face detector " << yes(c.ulFaceDetector) << ", count aggregation "
        << yes(c.ulCountAggregation) << ")\n";
    return out.str();
}

std::string Camera::templateJson() const
{
    auto items = [](const OnvifSimpleItem *list, uint32_t count) {
        nlohmann::json out = nlohmann::json::array();
        for (uint32_t i = 0; i < count && list != nullptr; ++i) {
            out.push_back({{"name", list[i].Name}, {"type", list[i].Value}});
        }
        return out;
    };
    nlohmann::json templates = nlohmann::json::array();
    for (uint32_t i = 0; i < cfg_.PropeAlarmCount; ++i) {
        const OnvifAlarmTemplate &t = cfg_.pstPropeAlarmInfo[i];
        nlohmann::json entry = {{"code", t.AlarmType},
                                {"alarm", alarmName(t.AlarmType)},
                                {"source", items(t.SourceItems, t.SourceCount)},
                                {"key", items(t.KeyItems, t.KeyCount)},
                                {"data", items(t.DataItems, t.DataCount)}};
        // Only a topic the library gives: an empty text would read as a topic of its own.
        if (t.Topic[0] != '\0') {
            entry["topic"] = t.Topic;
        }
        templates.push_back(entry);
    }
    const OnvifSmartCaps &c = cfg_.stSmartCaps;
    nlohmann::json smart = {{"reports", c.ulSupportSmartData == 1},
                            {"line_detector", c.ulLineDetector == 1},
                            {"field_detector", c.ulFieldDetector == 1},
                            {"face_detector", c.ulFaceDetector == 1},
                            {"count_aggregation", c.ulCountAggregation == 1}};
    nlohmann::json out = {{"url", url_}, {"templates", templates}, {"smart", smart}};
    return out.dump();
}

uint32_t Camera::useHub(OnvifNotifyHub *hub, const std::string &hubUrl)
{
    uint32_t flags = initialStates_ ? VEK_ONVIF_HUB_INITIAL_STATES : 0;
    uint32_t result =
        VEK_Onvif_Hub_AddCamera(hub, hubUrl.c_str(), &cfg_, &inputList_, flags, &hubId_);
    if (result == VEK_ONVIF_OK) {
        hub_ = hub;
    }
    return result;
}

uint32_t Camera::subscribe(uint32_t scope)
{
    OnvifSmartCaps caps = cfg_.stSmartCaps;
    if (hub_ != nullptr) {
        return VEK_Onvif_Hub_Subscribe(hub_, hubId_, scope, &access_, &caps, &sub_);
    }
    return VEK_Onvif_Subscribe(access_.szEventUrl, scope, &access_, &caps, &fd_, &sub_);
}

int Camera::listeningPort() const
{
    if (hub_ != nullptr) {
        return sub_.ulCommonAlarmSub == 1 ? VEK_Onvif_Hub_GetPort(hub_) : -1;
    }
    if (fd_ < 0) {
        return -1;
    }
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        return -1;
    }
    if (addr.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<sockaddr_in6 *>(&addr)->sin6_port);
    }
    return ntohs(reinterpret_cast<sockaddr_in *>(&addr)->sin_port);
}

std::vector<OnvifAlarmReport> Camera::receive(bool &connected)
{
    uint32_t count = 0;
    uint32_t accepted = 0;
    OnvifAlarmReport *reports =
        VEK_Onvif_Recv_Notify(fd_, &cfg_, &inputList_, url_.c_str(), &count, &accepted);
    connected = accepted == 1;
    return adopt(reports, count);
}

uint32_t Camera::renew()
{
    // A failed renewal ends both subscriptions for the tool, which makes new ones: the other is
    // not renewed, and the error record of the calling thread stays the failed call's.
    if (hub_ != nullptr) {
        uint32_t scope = sub_.ulCommonAlarmSub == 1 && sub_.ulSmartDataSub == 1
                             ? VEK_ONVIF_SCOPE_BOTH
                         : sub_.ulCommonAlarmSub == 1 ? VEK_ONVIF_SCOPE_COMMON
                                                      : VEK_ONVIF_SCOPE_SMART;
        return VEK_Onvif_Hub_Renew(hub_, hubId_, user_.c_str(), password_.c_str(), scope);
    }
    uint32_t result = VEK_ONVIF_OK;
    if (sub_.ulCommonAlarmSub == 1) {
        result = VEK_Onvif_Renew(sub_.szCommonSubAddr, sub_.szCommonSubRef, user_.c_str(),
                                 password_.c_str());
    }
    if (result == VEK_ONVIF_OK && sub_.ulSmartDataSub == 1) {
        result = VEK_Onvif_Renew(sub_.szSmartSubAddr, sub_.szSmartSubRef, user_.c_str(),
                                 password_.c_str());
    }
    return result;
}

uint32_t Camera::unsubscribe(uint32_t scope)
{
    OnvifSubInfo record = sub_;
    int32_t fd = fd_;
    uint32_t result = hub_ != nullptr ? VEK_Onvif_Hub_Unsubscribe(hub_, hubId_, user_.c_str(),
                                                                  password_.c_str(), scope, &record)
                                      : VEK_Onvif_Unsubscribe(&fd, user_.c_str(), password_.c_str(),
                                                              scope, &record);
    fd_ = fd;
    // The record's flags stay 1 after Unsubscribe; a recorder that subscribes again clears it.
    if (scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_COMMON) {
        sub_.ulCommonAlarmSub = 0;
    }
    if (scope == VEK_ONVIF_SCOPE_BOTH || scope == VEK_ONVIF_SCOPE_SMART) {
        sub_.ulSmartDataSub = 0;
    }
    return result;
}

void Camera::forgetSubscription()
{
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
    sub_ = OnvifSubInfo{};
}

uint32_t Camera::createPullPoint(uint32_t terminationSeconds)
{
    if (pullContext_ == nullptr) {
        VEK_Onvif_Event_Init(&pullContext_);
        if (pullContext_ == nullptr) {
            return VEK_ONVIF_ERR_NOMEM;
        }
    }
    forgetPullPoint();
    pullPointRecord_.ulFlags = initialStates_ ? VEK_ONVIF_PULL_INITIAL_STATES : 0;
    pullTermination_ = terminationSeconds;
    uint32_t result =
        VEK_Onvif_PullPoint_Create(pullContext_, url_.c_str(), user_.c_str(), password_.c_str(),
                                   terminationSeconds, &pullPointRecord_);
    if (result == VEK_ONVIF_OK && pullPointRecord_.pszAddress != nullptr) {
        pullPoint_ = pullPointRecord_.pszAddress;
    }
    return result;
}

std::chrono::seconds Camera::pullPointLifetime() const
{
    if (pullPointRecord_.s64TerminationTime == 0) {
        return std::chrono::seconds(pullTermination_);
    }
    auto cameraNow = static_cast<int64_t>(std::time(nullptr)) + pullPointRecord_.s64ClockOffset;
    return std::chrono::seconds(
        std::max<int64_t>(0, pullPointRecord_.s64TerminationTime - cameraNow));
}

uint32_t Camera::pull(std::vector<OnvifAlarmReport> &reports, uint32_t waitSeconds)
{
    OnvifPullResult result{};
    uint32_t status =
        VEK_Onvif_PullPoint_Pull(pullContext_, &pullPointRecord_, user_.c_str(), password_.c_str(),
                                 kPullBatch, waitSeconds, &inputList_, &cfg_, &result);
    reports = adopt(result.pstAlarmReports, result.ulAlarmCount);
    return status;
}

uint32_t Camera::renewPullPoint()
{
    return VEK_Onvif_PullPoint_Renew(pullContext_, &pullPointRecord_, user_.c_str(),
                                     password_.c_str(), pullTermination_);
}

uint32_t Camera::closePullPoint()
{
    struct soap *context = nullptr;
    VEK_Onvif_Event_Init(&context);
    if (context == nullptr) {
        return VEK_ONVIF_ERR_NOMEM;
    }
    uint32_t result = VEK_Onvif_PullPoint_Unsubscribe(context, &pullPointRecord_, user_.c_str(),
                                                      password_.c_str());
    VEK_Onvif_Event_Destroy(&context);
    // The texts stay until forgetPullPoint: a pull cut short by Ctrl-C may still read them.
    pullPoint_.clear();
    return result;
}

void Camera::forgetPullPoint()
{
    VEK_Onvif_PullPoint_Free(&pullPointRecord_);
    pullPoint_.clear();
}

} // namespace onvif_events
