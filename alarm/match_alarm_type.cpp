// Matching of a parsed alarm against the camera's templates: the first
// template that the alarm fits decides the report's code, channel and the
// values some alarm kinds carry.
#include <algorithm>
#include <array>

#include "added_topic_rules.h"
#include "alarm_internal.h"
#include "match_alarm.h"
#include "topic_rules.h"
#include "vek_log.h"

namespace
{
using namespace vek::alarm;

constexpr const char *kMatchFunc = "VEK_Onvif_Event_MatchAlarmType";

constexpr std::string_view kObjectIdName = "ObjectId";
constexpr std::string_view kHasMaskName = "HasMask";
constexpr std::string_view kNoMaskValues[] = {"NoMask", "Unknown"};
// Cameras abbreviate the name; its first 11 characters are what counts.
constexpr std::string_view kTemperatureStateName =
    std::string_view("TemperatureState").substr(0, 11);
constexpr std::string_view kAbnormalValue = "AbNormal";

// Reserved field of every report: all bits one.
constexpr uint32_t kReservedValue = UINT32_MAX;

bool carriesObjectId(uint32_t code)
{
    return code == VEK_ALARM_LINE_CROSSED || code == VEK_ALARM_OBJECTS_INSIDE;
}

bool isObjectId(const OnvifSimpleItem &item)
{
    return startsWith(fieldText(item.Name), kObjectIdName);
}

// Reads what a face-attribute item says into the report.
void readFaceAttribute(const OnvifSimpleItem &item, OnvifAlarmReport &report)
{
    const std::string_view name = fieldText(item.Name);
    const std::string_view value = fieldText(item.Value);
    if (startsWith(name, kObjectIdName)) {
        report.ObjectValue = readNumber(value);
    }
    if (startsWith(name, kHasMaskName) &&
        std::any_of(std::begin(kNoMaskValues), std::end(kNoMaskValues),
                    [value](std::string_view word) { return startsWith(value, word); })) {
        report.AttributeFlags |= VEK_ALARM_FLAG_NO_MASK;
    }
    if (startsWith(name, kTemperatureStateName) && startsWith(value, kAbnormalValue)) {
        report.AttributeFlags |= VEK_ALARM_FLAG_ABNORMAL_TEMPERATURE;
    }
}

// The template's Data item of that name, or null. Alarms whose Data values
// are read rather than compared (object ids, face attributes) must still
// carry only items their template knows: otherwise a template of one rule
// (objects inside a field) would take the messages of every other rule that
// shares its Source items (a tamper detector's, for one).
const OnvifSimpleItem *describedDataItem(const OnvifAlarmTemplate &templ,
                                         const OnvifSimpleItem &item)
{
    const std::string_view name = fieldText(item.Name);
    for (uint32_t i = 0; i < templ.DataCount && templ.DataItems != nullptr; ++i) {
        if (fieldText(templ.DataItems[i].Name) == name) {
            return &templ.DataItems[i];
        }
    }
    return nullptr;
}

// A Data item the template types as boolean is the alarm's state, whatever
// else the alarm's Data items carry: it sets the code to the active code of
// the alarm or to its inactive form.
void applyBooleanState(const OnvifSimpleItem &described, const OnvifSimpleItem &item,
                       uint32_t activeCode, uint32_t &code)
{
    if (fieldText(described.Value) != kTypeBoolean) {
        return;
    }
    const std::string_view value = fieldText(item.Value);
    if (isActiveWord(value)) {
        code = activeCode;
    } else if (isInactiveWord(value)) {
        code = activeCode + VEK_ALARM_INACTIVE_OFFSET;
    }
}

// The state a topic's rule names: the Data item of that name, or the first
// whose value is a state word. Sets the code and tells whether one was read.
bool applyRuleState(const TopicReading &reading, const OnvifAlarmTemplate &alarm,
                    uint32_t activeCode, uint32_t &code)
{
    for (uint32_t i = 0; i < alarm.DataCount && alarm.DataItems != nullptr; ++i) {
        const OnvifSimpleItem &item = alarm.DataItems[i];
        const std::string_view value = fieldText(item.Value);
        if (!reading.stateItem.empty() && fieldText(item.Name) != reading.stateItem) {
            continue;
        }
        if (isActiveWord(value)) {
            code = activeCode;
            return true;
        }
        if (isInactiveWord(value)) {
            code = activeCode + VEK_ALARM_INACTIVE_OFFSET;
            return true;
        }
    }
    return false;
}

// Whether a Data item the template types as boolean carries a state word.
bool templateStateRead(const OnvifAlarmTemplate &templ, const OnvifAlarmTemplate &alarm)
{
    for (uint32_t i = 0; i < alarm.DataCount && alarm.DataItems != nullptr; ++i) {
        const OnvifSimpleItem &item = alarm.DataItems[i];
        const OnvifSimpleItem *described = describedDataItem(templ, item);
        const std::string_view value = fieldText(item.Value);
        if (described != nullptr && fieldText(described->Value) == kTypeBoolean &&
            (isActiveWord(value) || isInactiveWord(value))) {
            return true;
        }
    }
    return false;
}

// The code of an object-detection alarm, from the classes it lists.
uint32_t objectClassCode(const OnvifAlarmTemplate &alarm, std::string_view topic)
{
    std::string_view classes;
    for (uint32_t i = 0; i < alarm.DataCount && alarm.DataItems != nullptr; ++i) {
        if (fieldText(alarm.DataItems[i].Name) == kClassTypesItem) {
            classes = fieldText(alarm.DataItems[i].Value);
        }
    }
    const uint32_t code = codeForObjectClasses(classes);
    VEK_LOG(vek::kLevelInfo, VEK_ONVIF_OK, kMatchFunc,
            "Object classes[%.*s] on topic[%.*s] give alarm %u.", static_cast<int>(classes.size()),
            classes.data(), static_cast<int>(topic.size()), topic.data(), code);
    return code;
}

// Tries one template. On 0 the working code holds the alarm's code.
uint32_t tryTemplate(OnvifAlarmTemplate &templ, std::string_view topic,
                     const OnvifAlarmInputList *inputs, OnvifAlarmTemplate &alarm,
                     OnvifAlarmReport &report, uint32_t &channel, uint32_t &code,
                     MatchOutcome &outcome)
{
    // The template of an added rule takes only messages of the rule's topic.
    if (const std::optional<AddedTopicRule> owner = addedRuleFor(fieldText(templ.Topic));
        owner.has_value() && !topicMatches(owner->topic, topic)) {
        return VEK_ONVIF_ERR_FAIL;
    }
    uint32_t found = 0;
    const TopicReading reading = readingForTopic(topic, templ.AlarmType);
    code = reading.code;

    uint32_t result = VEK_ONVIF_OK;
    // A message without Source items is compared on its other parts, and
    // only with a template of its own topic: its Data items alone say too
    // little about which alarm it is.
    if (alarm.SourceCount == 0 && !topicMatches(fieldText(templ.Topic), topic)) {
        return VEK_ONVIF_ERR_FAIL;
    }
    if (alarm.SourceCount > 0) {
        result = VEK_Onvif_Event_CompareSourceItem(&templ, inputs, &alarm, &found, &channel);
        if (result != VEK_ONVIF_OK) {
            return result;
        }
    }
    result = VEK_Onvif_Event_CompareKeyItem(&templ, inputs, &alarm, &found, &channel);
    if (result != VEK_ONVIF_OK) {
        return result;
    }

    // The kind of alarm is settled before a state item shifts the code.
    const uint32_t activeCode = code;
    const bool faceAttributes = code == VEK_ALARM_FACE_ATTRIBUTES;
    const bool objectId = carriesObjectId(code);
    for (uint32_t i = 0; i < alarm.DataCount && alarm.DataItems != nullptr; ++i) {
        OnvifSimpleItem &item = alarm.DataItems[i];
        if (faceAttributes || objectId) {
            const OnvifSimpleItem *described = describedDataItem(templ, item);
            if (described == nullptr) {
                return VEK_ONVIF_ERR_SOAP;
            }
            applyBooleanState(*described, item, activeCode, code);
        }
        if (faceAttributes) {
            readFaceAttribute(item, report);
        } else if (objectId) {
            if (isObjectId(item)) {
                report.ObjectValue = readNumber(fieldText(item.Value));
            }
        } else {
            // Every other alarm needs each Data item described by the
            // template; state items turn the code active or inactive.
            result =
                VEK_Onvif_Event_SimpleItemCompare(VEK_ONVIF_COMPARE_MODE_KEY_DATA, templ.DataCount,
                                                  templ.DataItems, inputs, &item, &code);
            if (result != VEK_ONVIF_OK) {
                return result;
            }
        }
    }
    // A Key item names the object more reliably than a Data item.
    for (uint32_t i = 0; i < alarm.KeyCount && alarm.KeyItems != nullptr; ++i) {
        if (objectId && isObjectId(alarm.KeyItems[i])) {
            report.ObjectValue = readNumber(fieldText(alarm.KeyItems[i].Value));
        }
    }
    outcome.stateRead = reading.stateFromRule ? applyRuleState(reading, alarm, activeCode, code)
                                              : templateStateRead(templ, alarm);
    if (reading.objectClasses) {
        code = objectClassCode(alarm, topic);
    }
    return VEK_ONVIF_OK;
}

// Whether some Source item of the alarm names a source.
bool hasUsableSource(const OnvifAlarmTemplate &alarm)
{
    for (uint32_t i = 0; i < alarm.SourceCount && alarm.SourceItems != nullptr; ++i) {
        if (!namesNoSource(fieldText(alarm.SourceItems[i].Value))) {
            return true;
        }
    }
    return false;
}

// The camera's video sources as the channel token table knows them.
uint32_t videoSourceCount(const OnvifAlarmCfg &cfg)
{
    uint32_t count = 0;
    for (const OnvifChannelToken &entry : cfg.ChannelTokens) {
        if (!fieldText(entry.PrimaryToken).empty() || !fieldText(entry.SecondaryToken).empty()) {
            ++count;
        }
    }
    return count;
}

bool fewerItems(const OnvifAlarmTemplate &templ, const OnvifAlarmTemplate &alarm)
{
    return templ.SourceCount < alarm.SourceCount || templ.KeyCount < alarm.KeyCount ||
           templ.DataCount < alarm.DataCount;
}
// Tries the discovered templates, then the ones the caller placed, until
// one matches. On VEK_ONVIF_OK report, channel and code are the match's;
// otherwise the failure of the last template tried (VEK_ONVIF_ERR_FAIL
// when none was).
uint32_t matchTemplates(OnvifAlarmCfg &cfg, std::string_view topic,
                        const OnvifAlarmInputList *inputs, OnvifAlarmTemplate &alarm,
                        OnvifAlarmReport &report, uint32_t &channel, uint32_t &code,
                        MatchOutcome &outcome)
{
    const std::array<std::pair<OnvifAlarmTemplate *, uint32_t>, 2> sequences = {{
        {cfg.pstPropeAlarmInfo, cfg.pstPropeAlarmInfo != nullptr ? cfg.PropeAlarmCount : 0},
        {cfg.PresetAlarms, cfg.PresetAlarms != nullptr ? cfg.PresetAlarmCount : 0},
    }};
    uint32_t result = VEK_ONVIF_ERR_FAIL;
    // Templates of the message's own topic first: templates of other topics
    // may describe the same items.
    for (const bool ownTopic : {true, false}) {
        for (const auto &[templates, count] : sequences) {
            for (uint32_t p = 0; p < count; ++p) {
                OnvifAlarmTemplate &templ = templates[p];
                if (fewerItems(templ, alarm) ||
                    topicMatches(fieldText(templ.Topic), topic) != ownTopic) {
                    continue;
                }
                // The values a template reads go into the report only when it
                // matches: one that fails half-way leaves nothing behind.
                OnvifAlarmReport attempt = report;
                result = tryTemplate(templ, topic, inputs, alarm, attempt, channel, code, outcome);
                if (result != VEK_ONVIF_OK) {
                    continue;
                }
                report = attempt;
                VEK_Onvif_Event_GetAlarmChl(&alarm, &cfg, kChannelTokenEntries, &channel);
                if (hasUsableSource(alarm)) {
                    return VEK_ONVIF_OK;
                }
                // Without a source the alarm is the camera's only video source,
                // if it has one; of several, which one is unknown.
                const uint32_t sources = videoSourceCount(cfg);
                if (sources > 1) {
                    VEK_LOG(
                        vek::kLevelInfo, VEK_ONVIF_ERR_FAIL, kMatchFunc,
                        "Alarm on topic[%.*s] names no source of the %u video sources, dropped.",
                        static_cast<int>(topic.size()), topic.data(), sources);
                    outcome.dropped = true;
                    return VEK_ONVIF_ERR_FAIL;
                }
                channel = 1;
                return VEK_ONVIF_OK;
            }
        }
    }
    return result;
}
} // namespace

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetAlarmChl(const OnvifAlarmTemplate *alarm,
                                                   const OnvifAlarmCfg *cfg, uint32_t entries,
                                                   uint32_t *channel)
{
    if (alarm == nullptr || cfg == nullptr || channel == nullptr) {
        return VEK_ONVIF_ERR_PARAM;
    }
    if (alarm->SourceCount == 0 || alarm->SourceItems == nullptr) {
        return VEK_ONVIF_OK;
    }
    const std::string_view token = fieldText(alarm->SourceItems[0].Value);
    // An empty token would equal the start of every entry.
    if (token.empty()) {
        return VEK_ONVIF_OK;
    }
    const uint32_t searched = std::min(entries, kChannelTokenEntries);
    for (uint32_t k = 0; k < searched; ++k) {
        const OnvifChannelToken &entry = cfg->ChannelTokens[k];
        // The incoming token may be the start of a longer table token.
        if (startsWith(fieldText(entry.PrimaryToken), token) ||
            startsWith(fieldText(entry.SecondaryToken), token)) {
            *channel = k + 1;
            break;
        }
    }
    return VEK_ONVIF_OK;
}

VEK_ONVIF_API uint32_t VEK_Onvif_Event_MatchAlarmType(OnvifAlarmCfg *cfg,
                                                      const OnvifAlarmInputList *inputs,
                                                      OnvifAlarmTemplate *alarm,
                                                      OnvifAlarmReport *report)
{
    if (cfg == nullptr || inputs == nullptr || alarm == nullptr || report == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kMatchFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    vek::alarm::MatchOutcome outcome;
    return vek::alarm::matchAlarm(*cfg, *inputs, *alarm, *report, outcome);
}

} // extern "C"

uint32_t vek::alarm::matchAlarm(OnvifAlarmCfg &cfg, const OnvifAlarmInputList &inputs,
                                OnvifAlarmTemplate &alarmRef, OnvifAlarmReport &reportRef,
                                MatchOutcome &outcome)
{
    OnvifAlarmTemplate *alarm = &alarmRef;
    OnvifAlarmReport *report = &reportRef;
    const std::string_view topic = fieldText(alarm->Topic);
    if (isRefusedTopic(topic)) {
        VEK_LOG(vek::kLevelInfo, VEK_ONVIF_ERR_FAIL, kMatchFunc,
                "Donot to Match AccessZone LeaveZone CountAggregation");
        return VEK_ONVIF_ERR_FAIL;
    }

    // The channel carries over from template to template: an index read by
    // a template that then failed stays unless a later one reads another.
    uint32_t channel = 0;
    uint32_t code = 0;
    const uint32_t result =
        matchTemplates(cfg, topic, &inputs, *alarm, *report, channel, code, outcome);
    if (result != VEK_ONVIF_OK) {
        if (!outcome.dropped) {
            VEK_LOG(vek::kLevelInfo, result, kMatchFunc,
                    "Failed to match alarm report on alram template, alarm topic is: %.*s.",
                    static_cast<int>(topic.size()), topic.data());
        }
        return result;
    }

    report->Reserved = kReservedValue;
    report->AlarmType = static_cast<uint16_t>(code);
    if (report->AlarmType == VEK_ALARM_FACE_RECOGNISED && alarm->DataCount > 0 &&
        alarm->DataItems != nullptr) {
        report->ObjectValue = readNumber(fieldText(alarm->DataItems[0].Value));
    }
    // No index found, or one before the template's first channel.
    report->Channel = channel != 0 ? channel : 1;
    return VEK_ONVIF_OK;
}
