// Simple item descriptions of one part (Source, Key or Data) of a message
// description, turned into template items with a value type.
#include <cstring>

#include "alarm_internal.h"
#include "discovery_internal.h"
#include "vek_log.h"

namespace
{

constexpr const char *kFunc = "VEK_Onvif_Event_GetPropeData";
constexpr const char *kItemElement = "SimpleItemDescription";

bool contains(const char *text, const char *word)
{
    return ZU_strnstr(text, word, std::strlen(word)) != nullptr;
}

// Which parts of a message description a value-type rule applies to.
enum class Parts { Any, DataOnly, SourceOrKey };

struct ValueTypeRule {
    const char *word;   // appears in the declared type; null: any type
    Parts parts;        // parts the rule applies to
    uint32_t alarmType; // the only alarm it applies to; 0: any alarm
    std::string_view valueType;
    bool indexed; // the value is a channel or input index
};

// The first rule that applies wins. Source and Key items of digital-input
// alarms name an input, so they are indexes whatever their declared type.
constexpr ValueTypeRule kValueTypeRules[] = {
    {"int", Parts::Any, 0, vek::alarm::kTypeInt, true},
    {"boolean", Parts::DataOnly, 0, vek::alarm::kTypeBoolean, false},
    {nullptr, Parts::DataOnly, 0, vek::alarm::kTypeString, false},
    {nullptr, Parts::SourceOrKey, VEK_ALARM_DIGITAL_INPUT, vek::alarm::kTypeInt, true},
    {nullptr, Parts::Any, 0, vek::alarm::kTypeString, false},
};

bool ruleApplies(const ValueTypeRule &rule, const char *type, uint32_t isData, uint32_t alarmType)
{
    bool partFits = rule.parts == Parts::Any || (rule.parts == Parts::DataOnly) == (isData != 0);
    return partFits && (rule.alarmType == 0 || rule.alarmType == alarmType) &&
           (rule.word == nullptr || contains(type, rule.word));
}

// Integers carry an index: illegal-login inputs count from 1, all other
// channels and inputs from 0.
void applyValueType(OnvifSimpleItem *item, const char *type, uint32_t isData, uint32_t alarmType)
{
    for (const ValueTypeRule &rule : kValueTypeRules) {
        if (!ruleApplies(rule, type, isData, alarmType)) {
            continue;
        }
        if (rule.indexed) {
            item->ValueHasIndex = 1;
            item->ValueIndex = alarmType == VEK_ALARM_ILLEGAL_LOGIN ? 1 : 0;
        }
        ZU_snprintf(item->Value, sizeof item->Value, "%.*s",
                    static_cast<int>(rule.valueType.size()), rule.valueType.data());
        return;
    }
}

void fillItem(mxml_node_t *element, uint32_t isData, uint32_t alarmType, OnvifSimpleItem *item)
{
    int attributes = mxmlElementGetAttrCount(element);
    for (int i = 0; i < attributes; ++i) {
        const char *name = nullptr;
        const char *value = mxmlElementGetAttrByIndex(element, i, &name);
        if (name == nullptr || value == nullptr) {
            continue;
        }
        if (std::strcmp(name, "Name") == 0) {
            ZU_snprintf(item->Name, sizeof item->Name, "%s", value);
        } else if (std::strcmp(name, "Type") == 0) {
            applyValueType(item, value, isData, alarmType);
        }
    }
}

} // namespace

namespace vek
{

uint32_t readItemDescriptions(mxml_node_t *part, uint32_t isData, uint32_t alarmType, uint32_t room,
                              uint32_t *count, OnvifSimpleItem *items)
{
    if (part == nullptr || count == nullptr || items == nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Input para is NULL");
        return VEK_ONVIF_ERR_PARAM;
    }
    mxml_node_t *element =
        mxmlFindElement(part, part, kItemElement, nullptr, nullptr, MXML_DESCEND);
    if (element == nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "can not find SimpleItemDescription.");
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t filled = 0;
    for (; element != nullptr && filled < room;
         element = mxmlFindElement(element, part, kItemElement, nullptr, nullptr, MXML_DESCEND)) {
        fillItem(element, isData, alarmType, &items[filled]);
        ++filled;
    }
    *count = filled;
    return VEK_ONVIF_OK;
}

} // namespace vek

extern "C" {

// The array holds one item per SimpleItemDescription below part, as
// VEK_CFG_GetChildrenNodeCount counts them.
VEK_ONVIF_API uint32_t VEK_Onvif_Event_GetPropeData(mxml_node_t *part, uint32_t isData,
                                                    uint32_t alarmType, uint32_t *count,
                                                    OnvifSimpleItem *items)
{
    uint32_t room = VEK_CFG_GetChildrenNodeCount(part, kItemElement);
    return vek::readItemDescriptions(part, isData, alarmType, room, count, items);
}

} // extern "C"
