// Templates for a camera that does not describe its events: one per row of
// the topic table and per added topic rule, each with the Source, Key and
// Data items cameras commonly send for its kind of alarm.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "alarm_internal.h"
#include "alarm_topic_table.h"
#include "discovery_internal.h"
#include "vek_log.h"

namespace
{

constexpr const char *kFunc = "VEK_Onvif_Event_TemplatesFromTable";

struct ItemShape {
    std::string_view name;
    std::string_view type;
    bool indexed;
};

// Alarms of video sources and analytics rules.
constexpr ItemShape kVideoSource[] = {
    {"VideoSourceConfigurationToken", vek::alarm::kTypeString, false},
    {"VideoAnalyticsConfigurationToken", vek::alarm::kTypeString, false},
    {"Rule", vek::alarm::kTypeString, false},
    {"VideoSourceToken", vek::alarm::kTypeString, false},
    {"Source", vek::alarm::kTypeString, false},
    {"sensor", vek::alarm::kTypeString, false},
};
constexpr ItemShape kVideoKey[] = {{"ObjectId", vek::alarm::kTypeInt, true}};
constexpr ItemShape kVideoData[] = {
    {"State", vek::alarm::kTypeBoolean, false},
    {"IsMotion", vek::alarm::kTypeBoolean, false},
    {"IsTamper", vek::alarm::kTypeBoolean, false},
    {"IsInside", vek::alarm::kTypeBoolean, false},
    {"IsPeople", vek::alarm::kTypeBoolean, false},
    {"IsLineCross", vek::alarm::kTypeBoolean, false},
    {"IsIntrusion", vek::alarm::kTypeBoolean, false},
    {"IsSoundDetected", vek::alarm::kTypeBoolean, false},
    {"state", vek::alarm::kTypeBoolean, false},
    {"Value", vek::alarm::kTypeBoolean, false},
    {"ObjectId", vek::alarm::kTypeInt, true},
    {"ClassTypes", vek::alarm::kTypeString, false},
};
// Alarm inputs: the Source names an input, counted from 0. An input the
// recorder does not know is read from the last Source item only, so each
// input topic has the one item its messages carry.
constexpr ItemShape kInputSource[] = {{"InputToken", vek::alarm::kTypeInt, true}};
constexpr ItemShape kPortSource[] = {{"port", vek::alarm::kTypeInt, true}};
constexpr ItemShape kInputData[] = {
    {"LogicalState", vek::alarm::kTypeBoolean, false},
    {"State", vek::alarm::kTypeBoolean, false},
    {"state", vek::alarm::kTypeBoolean, false},
};

// Any item: the template of an added rule takes only messages of its own
// topic, whatever items they carry (its rule says where the state is).
constexpr ItemShape kAnyItem = {"", "", false};
constexpr std::size_t kAnyItems = 4;

struct TableTemplate {
    std::string topic;
    uint32_t code;
    bool added;
};

bool endsWith(const std::string &text, std::string_view end)
{
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

template <std::size_t N> std::vector<ItemShape> shapes(const ItemShape (&items)[N])
{
    return std::vector<ItemShape>(std::begin(items), std::end(items));
}

// Allocates and fills one item array; false when out of memory.
bool fillItems(const std::vector<ItemShape> &shapes, uint32_t &count, OnvifSimpleItem *&items)
{
    const std::size_t bytes = sizeof(OnvifSimpleItem) * shapes.size();
    items = static_cast<OnvifSimpleItem *>(VEK_ALLOC(bytes));
    if (items == nullptr) {
        return false;
    }
    std::memset(items, 0, bytes);
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        vek::alarm::copyText(items[i].Name, sizeof items[i].Name,
                             std::string(shapes[i].name).c_str());
        vek::alarm::copyText(items[i].Value, sizeof items[i].Value,
                             std::string(shapes[i].type).c_str());
        items[i].ValueHasIndex = shapes[i].indexed ? 1 : 0;
        // An item without a name takes any name.
        items[i].NameHasIndex = shapes[i].name.empty() ? 1 : 0;
    }
    count = static_cast<uint32_t>(shapes.size());
    return true;
}

uint32_t buildTemplate(const TableTemplate &entry, OnvifAlarmTemplate &templ)
{
    std::memset(&templ, 0, sizeof templ);
    templ.AlarmType = entry.code;
    vek::alarm::copyText(templ.Topic, sizeof templ.Topic, entry.topic.c_str());
    const bool input = entry.code == VEK_ALARM_DIGITAL_INPUT;
    const std::vector<ItemShape> any(kAnyItems, kAnyItem);
    const std::vector<ItemShape> source = !input                           ? shapes(kVideoSource)
                                          : endsWith(entry.topic, "/Port") ? shapes(kPortSource)
                                                                           : shapes(kInputSource);
    const bool filled =
        entry.added ? fillItems(any, templ.SourceCount, templ.SourceItems) &&
                          fillItems(any, templ.KeyCount, templ.KeyItems) &&
                          fillItems(any, templ.DataCount, templ.DataItems)
                    : fillItems(source, templ.SourceCount, templ.SourceItems) &&
                          (input || fillItems(shapes(kVideoKey), templ.KeyCount, templ.KeyItems)) &&
                          fillItems(input ? shapes(kInputData) : shapes(kVideoData),
                                    templ.DataCount, templ.DataItems);
    if (!filled) {
        vek::releaseTemplateItems(&templ);
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, kFunc, "malloc fail.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    return VEK_ONVIF_OK;
}

// The table's rows and the added rules; a row whose topic an added rule
// has gives way to it.
std::vector<TableTemplate> tableTemplates()
{
    const std::vector<vek::alarm::AddedTopicRule> rules = vek::alarm::addedRules();
    std::vector<TableTemplate> entries;
    for (const vek::alarm::AddedTopicRule &rule : rules) {
        entries.push_back({rule.topic, rule.code, true});
    }
    for (const vek::AlarmTopicRow &row : vek::kAlarmTopicTable) {
        std::string topic = std::string("tns1:") + row.root + "/";
        if (row.start != nullptr) {
            topic += std::string(row.start) + "/";
        }
        topic += row.topic;
        const bool taken = std::any_of(rules.begin(), rules.end(), [&](const auto &rule) {
            return vek::alarm::topicMatches(rule.topic, topic);
        });
        if (!taken) {
            entries.push_back({topic, row.alarmType, false});
        }
    }
    return entries;
}

} // namespace

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_Event_TemplatesFromTable(OnvifAlarmCfg *pstCfg)
{
    if (pstCfg == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    VEK_Onvif_Event_FreePropeAlarm(pstCfg);
    const std::vector<TableTemplate> entries = tableTemplates();
    const std::size_t bytes = sizeof(OnvifAlarmTemplate) * entries.size();
    auto *templates = static_cast<OnvifAlarmTemplate *>(VEK_ALLOC(bytes));
    if (templates == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, kFunc,
                "Failed to malloc pstPropeAlarmInfo memory.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    std::memset(templates, 0, bytes);
    pstCfg->pstPropeAlarmInfo = templates;
    for (const TableTemplate &entry : entries) {
        const uint32_t result =
            buildTemplate(entry, pstCfg->pstPropeAlarmInfo[pstCfg->PropeAlarmCount]);
        if (result != VEK_ONVIF_OK) {
            VEK_Onvif_Event_FreePropeAlarm(pstCfg);
            return result;
        }
        ++pstCfg->PropeAlarmCount;
    }
    return VEK_ONVIF_OK;
}

} // extern "C"
