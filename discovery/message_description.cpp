// One alarm topic of a topic set into one alarm template: its message
// description's Source, Key and Data items, appended to the configuration.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "alarm_topic_table.h"
#include "discovery_internal.h"
#include "vek_log.h"

namespace
{

constexpr const char *kFunc = "VEK_Onvif_GetPropeAlarm";
constexpr const char *kItemElement = "SimpleItemDescription";

// Parts are looked up inside the message description only, so that a
// topic whose description lacks a part never borrows it from the
// description of a topic nested below it.
mxml_node_t *findPart(mxml_node_t *description, mxml_node_t *from, const char *name)
{
    return mxmlFindElement(from, description, name, nullptr, nullptr, MXML_DESCEND);
}

// The Source element after source and its content: a Source nested in
// another is read with the outer one, so each item is counted and read once
// and the work stays linear however deeply Source elements are nested.
mxml_node_t *nextSource(mxml_node_t *description, mxml_node_t *source)
{
    for (mxml_node_t *node = source; node != nullptr && node != description;
         node = mxmlGetParent(node)) {
        mxml_node_t *next = mxmlGetNextSibling(node);
        if (next == nullptr) {
            continue;
        }
        const char *name = mxmlGetType(next) == MXML_ELEMENT ? mxmlGetElement(next) : nullptr;
        if (name != nullptr && std::strcmp(name, "Source") == 0) {
            return next;
        }
        return findPart(description, next, "Source");
    }
    return nullptr;
}

OnvifSimpleItem *allocItems(uint32_t count)
{
    size_t bytes = sizeof(OnvifSimpleItem) * count;
    auto *items = static_cast<OnvifSimpleItem *>(VEK_ALLOC(bytes));
    if (items != nullptr) {
        std::memset(items, 0, bytes);
    }
    return items;
}

// Reads the items of every Source element into templ->SourceItems.
void readSourceItems(mxml_node_t *description, mxml_node_t *source, OnvifAlarmTemplate *templ)
{
    uint32_t filled = 0;
    for (; source != nullptr && filled < templ->SourceCount;
         source = nextSource(description, source)) {
        uint32_t read = 0;
        if (vek::readItemDescriptions(source, 0, templ->AlarmType, templ->SourceCount - filled,
                                      &read, templ->SourceItems + filled) != VEK_ONVIF_OK) {
            VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc,
                    "VEK_Onvif_Event_GetPropeData fail.");
            continue;
        }
        filled += read;
    }
}

// The parts of one message description.
struct Parts {
    mxml_node_t *description = nullptr;
    mxml_node_t *firstSource = nullptr;
    mxml_node_t *key = nullptr;
    mxml_node_t *data = nullptr;
};

uint32_t findDataPart(OnvifAlarmTemplate *templ, Parts &parts);

// Finds the parts of the topic's message description and counts their
// items into templ. A missing description, Source or Data part, or one
// without items, is logged: VEK_ONVIF_ERR_PARAM.
uint32_t findParts(mxml_node_t *topic, OnvifAlarmTemplate *templ, Parts &parts)
{
    parts.description = vek::findDescendant(topic, "MessageDescription");
    if (parts.description == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "can not find message node.");
        return VEK_ONVIF_ERR_PARAM;
    }
    // A description without a Source part describes messages without
    // Source items (which are matched on their topic and Data).
    parts.firstSource = findPart(parts.description, parts.description, "Source");
    templ->SourceCount = 0;
    if (parts.firstSource == nullptr) {
        return findDataPart(templ, parts);
    }
    for (mxml_node_t *source = parts.firstSource; source != nullptr;
         source = nextSource(parts.description, source)) {
        templ->SourceCount += VEK_CFG_GetChildrenNodeCount(source, kItemElement);
    }
    if (templ->SourceCount == 0) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Source Item num is 0.");
        return VEK_ONVIF_ERR_PARAM;
    }
    return findDataPart(templ, parts);
}

// The Key and Data parts of the description, counted into templ.
uint32_t findDataPart(OnvifAlarmTemplate *templ, Parts &parts)
{
    parts.key = findPart(parts.description, parts.description, "Key");
    templ->KeyCount =
        parts.key != nullptr ? VEK_CFG_GetChildrenNodeCount(parts.key, kItemElement) : 0;
    parts.data = findPart(parts.description, parts.description, "Data");
    if (parts.data == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "can not find DataNode.");
        return VEK_ONVIF_ERR_PARAM;
    }
    templ->DataCount = VEK_CFG_GetChildrenNodeCount(parts.data, kItemElement);
    if (templ->DataCount == 0) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Data Item num is 0.");
        return VEK_ONVIF_ERR_PARAM;
    }
    return VEK_ONVIF_OK;
}

// Allocates *items for count items (logged: VEK_ONVIF_ERR_NOMEM).
uint32_t allocPartItems(uint32_t count, OnvifSimpleItem **items)
{
    *items = allocItems(count);
    if (*items == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "malloc fail.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    return VEK_ONVIF_OK;
}

// Allocates *items and reads the count items of the Key or Data part into
// them; a failed read is logged: VEK_ONVIF_ERR_FAIL.
uint32_t readPartItems(mxml_node_t *part, uint32_t isData, uint32_t count,
                       OnvifAlarmTemplate *templ, OnvifSimpleItem **items)
{
    uint32_t result = allocPartItems(count, items);
    if (result != VEK_ONVIF_OK) {
        return result;
    }
    uint32_t read = 0;
    if (vek::readItemDescriptions(part, isData, templ->AlarmType, count, &read, *items) !=
        VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "VEK_Onvif_Event_GetPropeData fail.");
        return VEK_ONVIF_ERR_FAIL;
    }
    return VEK_ONVIF_OK;
}

// Reads the Source, Key and Data items of the counted parts into templ.
uint32_t readParts(const Parts &parts, OnvifAlarmTemplate *templ)
{
    uint32_t result = VEK_ONVIF_OK;
    if (templ->SourceCount > 0) {
        result = allocPartItems(templ->SourceCount, &templ->SourceItems);
        if (result != VEK_ONVIF_OK) {
            return result;
        }
        readSourceItems(parts.description, parts.firstSource, templ);
    }
    if (templ->KeyCount > 0) {
        result = readPartItems(parts.key, 0, templ->KeyCount, templ, &templ->KeyItems);
        if (result != VEK_ONVIF_OK) {
            return result;
        }
    }
    return readPartItems(parts.data, 1, templ->DataCount, templ, &templ->DataItems);
}

// Whether node holds no part of a topic: the topic set's wrapper
// ("Message", any prefix) or a document node.
bool outsideTopic(mxml_node_t *node)
{
    const char *name = mxmlGetElement(node);
    if (name == nullptr || name[0] == '?') {
        return true;
    }
    std::string_view text(name);
    size_t colon = text.find(':');
    return (colon == std::string_view::npos ? text : text.substr(colon + 1)) == "Message";
}

// The topic of element as notifications name it, cut to the field.
void writeTopicPath(mxml_node_t *element, char (&topic)[sizeof OnvifAlarmTemplate::Topic])
{
    const std::string path = vek::topicPathOf(element);
    size_t length = std::min(path.size(), sizeof topic - 1);
    std::memcpy(topic, path.data(), length);
    topic[length] = '\0';
}

} // namespace

std::string vek::topicPathOf(mxml_node_t *element)
{
    std::string path;
    for (mxml_node_t *node = element; node != nullptr && !outsideTopic(node);
         node = mxmlGetParent(node)) {
        path.insert(0, path.empty() ? std::string(mxmlGetElement(node))
                                    : std::string(mxmlGetElement(node)) + "/");
    }
    return path;
}

uint32_t vek::buildTemplateAt(mxml_node_t *element, uint32_t alarmType, OnvifAlarmCfg *cfg)
{
    auto *templ = static_cast<OnvifAlarmTemplate *>(VEK_ALLOC(sizeof(OnvifAlarmTemplate)));
    if (templ == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_GetAlarmNode", "Malloc fail!");
        return VEK_ONVIF_ERR_NOMEM;
    }
    std::memset(templ, 0, sizeof *templ);
    templ->AlarmType = alarmType;
    // For the recorder's eyes only: matching never reads a template's topic.
    writeTopicPath(element, templ->Topic);
    uint32_t result = VEK_Onvif_GetPropeAlarm(element, cfg, templ);
    VEK_FREE(&templ);
    return result;
}

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_GetPropeAlarm(mxml_node_t *topic, OnvifAlarmCfg *cfg,
                                               OnvifAlarmTemplate *templ)
{
    if (cfg == nullptr || topic == nullptr || templ == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    Parts parts;
    uint32_t result = findParts(topic, templ, parts);
    if (result != VEK_ONVIF_OK) {
        return result;
    }
    result = readParts(parts, templ);
    if (result == VEK_ONVIF_OK) {
        result = VEK_Onvif_AddToCFGAlarm(templ, cfg);
    }
    if (result != VEK_ONVIF_OK) {
        vek::releaseTemplateItems(templ);
    }
    return result;
}

VEK_ONVIF_API uint32_t VEK_Onvif_GetAlarmNode(mxml_node_t *start, const char *topic,
                                              uint32_t alarmType, OnvifAlarmCfg *cfg)
{
    if (start == nullptr || topic == nullptr || cfg == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_GetAlarmNode",
                "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    mxml_node_t *element = vek::findDescendant(start, topic);
    if (element == nullptr) {
        return VEK_ONVIF_OK;
    }
    return vek::buildTemplateAt(element, alarmType, cfg);
}

} // extern "C"
