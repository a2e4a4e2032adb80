// Translation of the notification messages of one Notify (or one
// PullMessages answer) into the report array handed to the recorder.
#include <cstdint>
#include <cstring>

#include "alarm_internal.h"
#include "alarm_message.h"
#include "holder_content.h"
#include "match_alarm.h"
#include "soapH.h"
#include "translate_notify.h"
#include "vek_log.h"

namespace
{
using namespace vek::alarm;

constexpr const char *kTransFunc = "VEK_Onvif_TransAlarmType";

// A parsed message whose item arrays live as long as the message is
// worked on.
class ParsedAlarm
{
  public:
    ParsedAlarm() { std::memset(&alarm_, 0, sizeof(alarm_)); }
    ~ParsedAlarm()
    {
        VEK_FREE(&alarm_.SourceItems);
        VEK_FREE(&alarm_.KeyItems);
        VEK_FREE(&alarm_.DataItems);
        VEK_FREE(&alarm_.ExtensionItems);
    }
    ParsedAlarm(const ParsedAlarm &) = delete;
    ParsedAlarm &operator=(const ParsedAlarm &) = delete;

    OnvifAlarmTemplate &get() { return alarm_; }

  private:
    OnvifAlarmTemplate alarm_;
};

// The report array: one slot per message to begin with, grown one slot at
// a time when a message gives more than one report. Released unless handed
// to the caller.
class ReportArray
{
  public:
    ReportArray(const ReportArray &) = delete;
    ReportArray &operator=(const ReportArray &) = delete;
    explicit ReportArray(uint32_t slots) : slots_(slots)
    {
        // On a 32-bit recorder the size of a huge count would wrap.
        if (slots > SIZE_MAX / sizeof(OnvifAlarmReport)) {
            return;
        }
        const std::size_t size = sizeof(OnvifAlarmReport) * slots;
        reports_ = static_cast<OnvifAlarmReport *>(VEK_ALLOC(size));
        if (reports_ != nullptr) {
            std::memset(reports_, 0, size);
        }
    }
    ~ReportArray() { VEK_FREE(&reports_); }

    bool valid() const { return reports_ != nullptr; }
    uint32_t count() const { return count_; }

    void append(const OnvifAlarmReport &report)
    {
        if (count_ == slots_) {
            const std::size_t size =
                sizeof(OnvifAlarmReport) * (static_cast<std::size_t>(count_) + 1);
            void *grown =
                ZU_MEM_RallocEx(ghVekMgrModHdl, reports_, size, vek::kEventSource, __LINE__);
            if (grown == nullptr) {
                VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, kTransFunc,
                        "Faile to realloc Memory size =%u", static_cast<unsigned>(size));
                return;
            }
            reports_ = static_cast<OnvifAlarmReport *>(grown);
            ++slots_;
        }
        ZU_memcpy(&reports_[count_], &report, sizeof(report));
        ++count_;
    }

    OnvifAlarmReport *release()
    {
        OnvifAlarmReport *reports = reports_;
        reports_ = nullptr;
        return reports;
    }

  private:
    OnvifAlarmReport *reports_ = nullptr;
    uint32_t slots_ = 0;
    uint32_t count_ = 0;
};

void copyTopic(const ns7__NotificationMessageHolderType &holder, OnvifAlarmTemplate &alarm)
{
    if (holder.Topic == nullptr || holder.Topic->__any == nullptr) {
        return;
    }
    const char *topic = holder.Topic->__any;
    if (strnlen(topic, kTopicKeep + 1) > kTopicKeep) {
        VEK_LOG(vek::kLevelInfo, VEK_ONVIF_ERR_PARAM, kTransFunc,
                "The alarm topic[%s] is too long.", topic);
    }
    copyText(alarm.Topic, kTopicKeep + 1, topic);
}

// Appends the reports one matched message gives: a face-attribute alarm
// becomes a no-mask report, an abnormal-temperature report, both or none,
// each in the state the face-attribute alarm was in.
void appendReports(OnvifAlarmReport &report, ReportArray &reports)
{
    const bool inactive = report.AlarmType == VEK_ALARM_FACE_ATTRIBUTES + VEK_ALARM_INACTIVE_OFFSET;
    if (report.AlarmType != VEK_ALARM_FACE_ATTRIBUTES && !inactive) {
        reports.append(report);
        return;
    }
    const uint16_t offset = inactive ? VEK_ALARM_INACTIVE_OFFSET : 0;
    if ((report.AttributeFlags & VEK_ALARM_FLAG_NO_MASK) != 0) {
        report.AlarmType = VEK_ALARM_NO_MASK + offset;
        reports.append(report);
    }
    if ((report.AttributeFlags & VEK_ALARM_FLAG_ABNORMAL_TEMPERATURE) != 0) {
        report.AlarmType = VEK_ALARM_ABNORMAL_TEMPERATURE + offset;
        reports.append(report);
    }
}

void translateMessage(OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                      const ns7__NotificationMessageHolderType &holder, ReportArray &reports,
                      bool initialStates)
{
    ParsedAlarm parsed;
    OnvifAlarmTemplate &alarm = parsed.get();
    copyTopic(holder, alarm);

    char *text = holder.Message.__any;
    if (text == nullptr) {
        return;
    }
    uint32_t result = VEK_PUB_DeleteNodeProperty(text);
    if (result != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelInfo, result, kTransFunc, "Failed to trans alarm message[%s] to xml.",
                text);
        return;
    }
    bool deleted = false;
    bool initialized = false;
    result = parseAlarmMessage(text, ParseOptions{initialStates}, alarm, deleted, initialized);
    if (result != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelInfo, result, kTransFunc, "Failed to parse alarm message[%s] info.",
                text);
        return;
    }
    const int32_t extensionValue =
        alarm.ExtensionCount == 1 ? readNumber(fieldText(alarm.ExtensionItems[0].Value)) : 0;

    OnvifAlarmReport report;
    std::memset(&report, 0, sizeof(report));
    MatchOutcome outcome;
    result = matchAlarm(*cfg, *inputs, alarm, report, outcome);
    report.ExtensionValue = extensionValue;
    if (result != VEK_ONVIF_OK) {
        if (!outcome.dropped) {
            VEK_LOG(vek::kLevelInfo, result, kTransFunc, "Do not find Alarm[%s] on alarmcfg.",
                    text);
        }
        return;
    }
    // An initial state is only one for an alarm that has a state: the
    // initial message of an event (a line crossing) reports nothing.
    if (initialized && !outcome.stateRead) {
        VEK_LOG(vek::kLevelInfo, VEK_ONVIF_ERR_PARAM, kTransFunc,
                "Initialized alarm[%s] carries no state, dropped.", text);
        return;
    }
    // Face attributes (2000) are an active code above the offset.
    if (deleted && (report.AlarmType < VEK_ALARM_INACTIVE_OFFSET ||
                    report.AlarmType == VEK_ALARM_FACE_ATTRIBUTES)) {
        report.AlarmType += VEK_ALARM_INACTIVE_OFFSET;
    }
    appendReports(report, reports);
}
} // namespace

OnvifAlarmReport *vek::alarm::translateNotify(OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                                              struct _ns7__Notify *notify, uint32_t *count,
                                              bool initialStates)
{
    if (notify == nullptr || notify->NotificationMessage == nullptr || count == nullptr ||
        inputs == nullptr || cfg == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NULL, kTransFunc, "Invalid input Param.");
        return nullptr;
    }
    *count = 0;
    // A negative message count is no messages, not a huge one.
    if (notify->__sizeNotificationMessage <= 0) {
        return nullptr;
    }
    const auto messages = static_cast<uint32_t>(notify->__sizeNotificationMessage);
    ReportArray reports(messages);
    if (!reports.valid()) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, kTransFunc,
                "Fail to malloc pstAlmOut memory.");
        return nullptr;
    }
    for (uint32_t i = 0; i < messages; ++i) {
        const HolderContent content(notify->NotificationMessage[i]);
        translateMessage(cfg, inputs, content.holder(), reports, initialStates);
    }
    if (reports.count() == 0) {
        return nullptr;
    }
    *count = reports.count();
    return reports.release();
}

extern "C" {

VEK_ONVIF_API OnvifAlarmReport *VEK_Onvif_TransAlarmType(OnvifAlarmCfg *cfg,
                                                         OnvifAlarmInputList *inputs,
                                                         struct _ns7__Notify *notify,
                                                         uint32_t *count)
{
    return vek::alarm::translateNotify(cfg, inputs, notify, count, false);
}

} // extern "C"
