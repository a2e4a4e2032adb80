// The walk over a topic-set text: counts the known alarm topics, sizes the
// configuration's template array and builds one template per topic found,
// reading the smart-report capabilities on the way.
#include <cstring>

#include "alarm_topic_table.h"
#include "discovery_internal.h"
#include "message_element.h"
#include "vek_log.h"

namespace
{

constexpr const char *kFunc = "VEK_Onvif_Event_ParsePropeMsg";
constexpr vek::MessageLoadLog kLoadLog = {kFunc, "Failed to create xml.",
                                          "Failed to load alarm string.", "Find no node[Message].",
                                          nullptr};

// Builds the templates of every table row of one root topic, in table
// order. capacity is the size of the template array.
void buildRootTemplates(mxml_node_t *root, OnvifAlarmCfg *cfg, uint32_t capacity,
                        const std::vector<vek::alarm::AddedTopicRule> &rules)
{
    const char *name = mxmlGetElement(root);
    for (const vek::AlarmTopicRow &row : vek::kAlarmTopicTable) {
        if (std::strcmp(row.root, name) != 0) {
            continue;
        }
        mxml_node_t *start = row.start != nullptr ? vek::findDescendant(root, row.start) : root;
        if (start == nullptr || (row.guard != nullptr && vek::hasSubNode(root, row.guard) == 0)) {
            continue;
        }
        // The count bounds the appends; never write past the array.
        if (cfg->PropeAlarmCount >= capacity) {
            return;
        }
        // An added rule for the same topic built it already.
        if (vek::takenByAddedRule(vek::findDescendant(start, row.topic), rules)) {
            continue;
        }
        // A topic whose template cannot be built is simply missing.
        (void)VEK_Onvif_GetAlarmNode(start, row.topic, row.alarmType, cfg);
    }
}

// The templates of the added rules whose topics the topic set has.
void buildAddedRuleTemplates(mxml_node_t *message, OnvifAlarmCfg *cfg, uint32_t capacity,
                             const std::vector<vek::alarm::AddedTopicRule> &rules)
{
    for (const vek::alarm::AddedTopicRule &rule : rules) {
        mxml_node_t *element = vek::addedRuleElement(message, rule);
        if (element == nullptr) {
            continue;
        }
        if (cfg->PropeAlarmCount >= capacity) {
            return;
        }
        (void)vek::buildTemplateAt(element, rule.code, cfg);
    }
}

// A topic set without alarms: only the smart reports the camera offers,
// which do not depend on its alarms.
void readSmartReportsOnly(mxml_node_t *message, OnvifAlarmCfg *cfg)
{
    vek::forEachRootTopic(message, [&](mxml_node_t *root) {
        if (std::strcmp(mxmlGetElement(root), vek::kSmartReportRoot) == 0) {
            vek::readSmartReportCaps(root, &cfg->stSmartCaps);
        }
    });
}

// Room for count templates in cfg, then the templates and smart reports of
// every root topic the table knows.
uint32_t buildTemplates(mxml_node_t *message, OnvifAlarmCfg *cfg, uint32_t count)
{
    size_t bytes = sizeof(OnvifAlarmTemplate) * count;
    auto *templates = static_cast<OnvifAlarmTemplate *>(VEK_ALLOC(bytes));
    if (templates == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_NOMEM, kFunc,
                "Failed to malloc pstPropeAlarmInfo memory.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    std::memset(templates, 0, bytes);
    cfg->pstPropeAlarmInfo = templates;

    // Added rules first: they take precedence over the table's rows.
    const std::vector<vek::alarm::AddedTopicRule> rules = vek::alarm::addedRules();
    buildAddedRuleTemplates(message, cfg, count, rules);
    vek::forEachTableRootTopic(message, kFunc, [&](mxml_node_t *root, const char *name) {
        if (std::strcmp(name, vek::kSmartReportRoot) == 0) {
            vek::readSmartReportCaps(root, &cfg->stSmartCaps);
        }
        buildRootTemplates(root, cfg, count, rules);
    });

    if (cfg->PropeAlarmCount == 0) {
        VEK_FREE(&cfg->pstPropeAlarmInfo);
    }
    return VEK_ONVIF_OK;
}

} // namespace

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_Event_ParsePropeMsg(const char *topicSet, OnvifAlarmCfg *cfg)
{
    if (topicSet == nullptr || cfg == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    // Templates of an earlier walk are replaced, not appended to.
    VEK_Onvif_Event_FreePropeAlarm(cfg);

    vek::XmlDocument doc(kFunc);
    mxml_node_t *message = vek::loadMessageElement(doc, topicSet, kLoadLog);
    if (message == nullptr) {
        return VEK_ONVIF_ERR_FAIL;
    }
    uint32_t count = 0;
    uint32_t result = VEK_Onvif_GetAlarmNum(message, &count);
    if (result != VEK_ONVIF_OK) {
        VEK_LOG(vek::kLevelError, result, kFunc, "Failed to get alarm num on XML.");
        return result;
    }
    if (count == 0) {
        VEK_LOG(vek::kLevelInfo, VEK_ONVIF_OK, kFunc, "Find no alarm on XML.");
        readSmartReportsOnly(message, cfg);
        return VEK_ONVIF_OK;
    }
    return buildTemplates(message, cfg, count);
}

} // extern "C"
