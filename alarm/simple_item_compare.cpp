// Comparison of incoming simple items with the items of a template part:
// whether an item matches, the index it carries in its name or value, and
// the active or inactive state it reports.
#include <algorithm>
#include <climits>

#include "alarm_internal.h"
#include "vek_log.h"

namespace
{
using namespace vek::alarm;

constexpr const char *kCompareFunc = "VEK_Onvif_Event_SimpleItemCompare";
// Mode of a Source comparison; any other mode compares Key or Data items.
constexpr uint32_t kSourceMode = VEK_ONVIF_COMPARE_MODE_SOURCE;
// The index of a "common_string" Source value is read from this many
// leading characters.
constexpr std::size_t kStringIndexDigits = 3;

bool isDigitalInput(uint32_t code)
{
    return code == VEK_ALARM_DIGITAL_INPUT ||
           code == VEK_ALARM_DIGITAL_INPUT + VEK_ALARM_INACTIVE_OFFSET;
}

void shiftToActive(uint32_t &code)
{
    if (static_cast<int32_t>(code) >= kInactiveOffset) {
        code -= VEK_ALARM_INACTIVE_OFFSET;
    }
}

void shiftToInactive(uint32_t &code)
{
    if (static_cast<int32_t>(code) < kInactiveOffset) {
        code += VEK_ALARM_INACTIVE_OFFSET;
    }
}

// A state word moves the code to its active or inactive form. False when
// the value is no state word.
bool applyState(std::string_view value, uint32_t &code)
{
    if (isActiveWord(value)) {
        shiftToActive(code);
        return true;
    }
    if (isInactiveWord(value)) {
        shiftToInactive(code);
        return true;
    }
    return false;
}

// Index next to a pattern in text: the number right after it when the text
// begins with it, else the number the text before it starts with. Empty
// when the pattern does not occur.
bool indexAroundPattern(std::string_view text, std::string_view pattern, int32_t &index)
{
    const std::size_t at = text.find(pattern);
    if (at == std::string_view::npos) {
        return false;
    }
    index = at == 0 ? readNumber(text.substr(pattern.size())) : readNumber(text.substr(0, at));
    return true;
}

bool nameStep(const OnvifSimpleItem &templ, OnvifSimpleItem &item)
{
    const std::string_view name = fieldText(item.Name);
    const std::string_view templName = fieldText(templ.Name);
    if (templ.NameHasIndex == 1) {
        if (templName.empty()) {
            item.NameHasIndex = 1;
            item.NameIndex = readNumber(name);
            return true;
        }
        int32_t index = 0;
        if (!indexAroundPattern(name, templName.substr(0, kPatternLength), index)) {
            return false;
        }
        item.NameHasIndex = 1;
        item.NameIndex = index;
        return true;
    }
    return name.substr(0, kNameCompareLength) == templName.substr(0, kNameCompareLength);
}

void recordValueIndex(OnvifSimpleItem &item, int32_t index)
{
    item.ValueHasIndex = 1;
    item.ValueIndex = index;
}

int32_t offsetIndex(int32_t origin, uint32_t position)
{
    const int64_t index = static_cast<int64_t>(origin) + position;
    return static_cast<int32_t>(std::min<int64_t>(index, INT32_MAX));
}

// Outcome of matching an alarm-input token against the camera's inputs.
enum class InputToken { kRecorded, kUnknown };

InputToken alarmInputIndex(const OnvifSimpleItem *templ, const OnvifAlarmInputList &inputs,
                           OnvifSimpleItem &item)
{
    // The origin is always that of the part's first template item.
    const int32_t origin = templ[0].ValueIndex;
    if (inputs.InputCount == 1) {
        recordValueIndex(item, origin);
        return InputToken::kRecorded;
    }
    if (inputs.InputCount > 1 && inputs.Inputs != nullptr) {
        const std::string_view value = fieldText(item.Value);
        for (uint32_t k = 0; k < inputs.InputCount; ++k) {
            const std::string_view token = fieldText(inputs.Inputs[k].Token);
            if (token.substr(0, kInputTokenCompareLength) ==
                value.substr(0, kInputTokenCompareLength)) {
                recordValueIndex(item, offsetIndex(origin, k));
                return InputToken::kRecorded;
            }
        }
    }
    return InputToken::kUnknown;
}

// Value step of a template item whose value carries an index.
bool indexedValueStep(const OnvifSimpleItem &templ, OnvifSimpleItem &item)
{
    const std::string_view value = fieldText(item.Value);
    const std::string_view type = fieldText(templ.Value);
    if (type.empty()) {
        recordValueIndex(item, readNumber(value));
        return true;
    }
    if (type == kTypeInt) {
        // A single digit: the last character preferred, else the first.
        const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
        if (!value.empty() && isDigit(value.back())) {
            recordValueIndex(item, value.back() - '0');
        } else if (!value.empty() && isDigit(value.front())) {
            recordValueIndex(item, value.front() - '0');
        }
        return true;
    }
    int32_t index = 0;
    if (!indexAroundPattern(value, type.substr(0, kPatternLength), index)) {
        return false;
    }
    recordValueIndex(item, index);
    return true;
}

// Value step of a template item whose value carries no index.
bool plainValueStep(uint32_t mode, const OnvifSimpleItem &templ, OnvifSimpleItem &item,
                    uint32_t &code)
{
    const std::string_view value = fieldText(item.Value);
    const std::string_view type = fieldText(templ.Value);
    if (type == kTypeString) {
        if (mode == kSourceMode) {
            // Tokens such as "001" number the channel from 1. A negative
            // number is no channel number: it reads as none, like letters.
            const int32_t number = std::max(readNumber(value.substr(0, kStringIndexDigits)), 0);
            recordValueIndex(item, number != 0 ? number - 1 : 0);
        } else {
            applyState(value, code);
        }
        return true;
    }
    if (type == kTypeBoolean && applyState(value, code)) {
        return true;
    }
    // A template item without a type accepts any value.
    return contains(value, type);
}

bool valueStep(uint32_t mode, uint32_t position, uint32_t count, const OnvifSimpleItem *templ,
               const OnvifAlarmInputList &inputs, OnvifSimpleItem &item, uint32_t &code)
{
    const OnvifSimpleItem &t = templ[position];
    if (t.ValueHasIndex != 1) {
        return plainValueStep(mode, t, item, code);
    }
    // No index is read from a value that names no source, and no input
    // stands in for it.
    if (mode == kSourceMode && namesNoSource(fieldText(item.Value))) {
        return true;
    }
    if (mode == kSourceMode && isDigitalInput(code)) {
        if (alarmInputIndex(templ, inputs, item) == InputToken::kRecorded) {
            return true;
        }
        // An unknown input is accepted by any template item but the last,
        // which reads the value like any other indexed value.
        if (position + 1 < count) {
            return true;
        }
    }
    return indexedValueStep(t, item);
}

// The channel the first indexed item of a part denotes, relative to the
// origin of the template item at the same position. Below 1 the index lies
// before the template's first channel: that is no channel, recorded as 0
// (reported as channel 1 unless the channel token table names one) rather
// than a wrapped-around number far beyond any real channel.
uint32_t channelOf(int32_t index, int32_t origin)
{
    const int64_t channel = static_cast<int64_t>(index) - origin + 1;
    return channel >= 1 && channel <= INT32_MAX ? static_cast<uint32_t>(channel) : 0;
}

uint32_t comparePart(uint32_t mode, OnvifAlarmTemplate &templ, uint32_t templCount,
                     const OnvifSimpleItem *templItems, const OnvifAlarmInputList *inputs,
                     uint32_t count, OnvifSimpleItem *items, uint32_t &found, uint32_t &channel)
{
    // Each incoming item's index is measured against the template item at
    // its own position; a template with fewer items cannot describe it.
    if (count > templCount) {
        return VEK_ONVIF_ERR_SOAP;
    }
    for (uint32_t i = 0; i < count; ++i) {
        OnvifSimpleItem &item = items[i];
        const uint32_t result = VEK_Onvif_Event_SimpleItemCompare(mode, templCount, templItems,
                                                                  inputs, &item, &templ.AlarmType);
        if (result != VEK_ONVIF_OK) {
            return result;
        }
        if (found == 1) {
            continue;
        }
        if (item.NameHasIndex == 1) {
            channel = channelOf(item.NameIndex, templItems[i].NameIndex);
            found = 1;
        } else if (item.ValueHasIndex == 1) {
            channel = channelOf(item.ValueIndex, templItems[i].ValueIndex);
            found = 1;
        }
    }
    return VEK_ONVIF_OK;
}
} // namespace

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_Event_SimpleItemCompare(uint32_t mode, uint32_t count,
                                                         const OnvifSimpleItem *templ,
                                                         const OnvifAlarmInputList *inputs,
                                                         OnvifSimpleItem *item, uint32_t *alarmType)
{
    if (inputs == nullptr || templ == nullptr || item == nullptr || alarmType == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kCompareFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    for (uint32_t i = 0; i < count; ++i) {
        // The index fields describe what the matching template item read,
        // never what an item tried before it left behind.
        item->NameHasIndex = 0;
        item->ValueHasIndex = 0;
        item->NameIndex = 0;
        item->ValueIndex = 0;
        if (nameStep(templ[i], *item) &&
            valueStep(mode, i, count, templ, *inputs, *item, *alarmType)) {
            return VEK_ONVIF_OK;
        }
    }
    item->NameHasIndex = 0;
    item->ValueHasIndex = 0;
    item->NameIndex = 0;
    item->ValueIndex = 0;
    return VEK_ONVIF_ERR_SOAP;
}

VEK_ONVIF_API uint32_t VEK_Onvif_Event_CompareSourceItem(OnvifAlarmTemplate *templ,
                                                         const OnvifAlarmInputList *inputs,
                                                         OnvifAlarmTemplate *alarm, uint32_t *found,
                                                         uint32_t *channel)
{
    if (templ == nullptr || templ->SourceItems == nullptr || inputs == nullptr ||
        alarm == nullptr || found == nullptr || channel == nullptr) {
        return VEK_ONVIF_ERR_NULL;
    }
    if (alarm->SourceCount == 0) {
        return VEK_ONVIF_ERR_FAIL;
    }
    if (alarm->SourceItems == nullptr) {
        return VEK_ONVIF_ERR_NULL;
    }
    return comparePart(kSourceMode, *templ, templ->SourceCount, templ->SourceItems, inputs,
                       alarm->SourceCount, alarm->SourceItems, *found, *channel);
}

VEK_ONVIF_API uint32_t VEK_Onvif_Event_CompareKeyItem(OnvifAlarmTemplate *templ,
                                                      const OnvifAlarmInputList *inputs,
                                                      OnvifAlarmTemplate *alarm, uint32_t *found,
                                                      uint32_t *channel)
{
    if (templ == nullptr || inputs == nullptr || alarm == nullptr || found == nullptr ||
        channel == nullptr) {
        return VEK_ONVIF_ERR_NULL;
    }
    if (alarm->KeyCount == 0) {
        return VEK_ONVIF_OK;
    }
    if (alarm->KeyItems == nullptr) {
        return VEK_ONVIF_ERR_NULL;
    }
    return comparePart(VEK_ONVIF_COMPARE_MODE_KEY_DATA, *templ, templ->KeyCount, templ->KeyItems,
                       inputs, alarm->KeyCount, alarm->KeyItems, *found, *channel);
}

} // extern "C"
