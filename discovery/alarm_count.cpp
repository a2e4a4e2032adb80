// Counting the alarm topics of a topic set that the recorder knows: the
// number of templates the walk may append, used to size the template array.
#include "alarm_topic_table.h"
#include "discovery_internal.h"
#include "vek_log.h"

namespace
{

// A row counts when every name it involves is found below the root.
bool rowCounts(mxml_node_t *root, const vek::AlarmTopicRow &row)
{
    return (row.start == nullptr || vek::hasSubNode(root, row.start) == 1) &&
           (row.guard == nullptr || vek::hasSubNode(root, row.guard) == 1) &&
           vek::hasSubNode(root, row.topic) == 1;
}

} // namespace

uint32_t vek::hasSubNode(mxml_node_t *node, const char *name)
{
    if (node == nullptr || name == nullptr) {
        return 0;
    }
    return vek::findDescendant(node, name) != nullptr ? 1 : 0;
}

bool vek::isConcernedRoot(mxml_node_t *root, const char *func)
{
    const char *name = mxmlGetElement(root);
    if (vek::isTableRoot(name)) {
        return true;
    }
    VEK_LOG(vek::kLevelInfo, VEK_ONVIF_ERR_PARAM, func, "The node[%s] do not be concerned.", name);
    return false;
}

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_GetAlarmNum(mxml_node_t *message, uint32_t *count)
{
    constexpr const char *kFunc = "VEK_Onvif_GetAlarmNum";
    if (message == nullptr || count == nullptr) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kFunc, "Invalid input Param.");
        return VEK_ONVIF_ERR_PARAM;
    }
    uint32_t total = 0;
    vek::forEachTableRootTopic(message, kFunc, [&](mxml_node_t *root, const char *name) {
        for (const vek::AlarmTopicRow &row : vek::kAlarmTopicTable) {
            if (std::strcmp(row.root, name) == 0 && rowCounts(root, row)) {
                ++total;
            }
        }
    });
    for (const vek::alarm::AddedTopicRule &rule : vek::alarm::addedRules()) {
        if (vek::addedRuleElement(message, rule) != nullptr) {
            ++total;
        }
    }
    *count = total;
    return VEK_ONVIF_OK;
}

} // extern "C"
