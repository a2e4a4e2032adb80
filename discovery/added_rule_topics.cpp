// The elements of a topic set that added topic rules name.
#include "discovery_internal.h"

namespace
{

using vek::alarm::localSegment;

// Depth-first: the first element below node whose names, from here on,
// match segments from index on.
mxml_node_t *findSegments(mxml_node_t *node, const std::vector<std::string_view> &segments,
                          std::size_t index)
{
    for (mxml_node_t *child = mxmlGetFirstChild(node); child != nullptr;
         child = mxmlGetNextSibling(child)) {
        const char *name = mxmlGetType(child) == MXML_ELEMENT ? mxmlGetElement(child) : nullptr;
        if (name == nullptr || (segments[index] != "*" && localSegment(name) != segments[index])) {
            continue;
        }
        if (index + 1 == segments.size()) {
            return child;
        }
        if (mxml_node_t *found = findSegments(child, segments, index + 1)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace

mxml_node_t *vek::addedRuleElement(mxml_node_t *message, const alarm::AddedTopicRule &rule)
{
    const std::vector<std::string_view> segments = alarm::topicSegments(rule.topic);
    return segments.empty() ? nullptr : findSegments(message, segments, 0);
}

bool vek::takenByAddedRule(mxml_node_t *element, const std::vector<alarm::AddedTopicRule> &rules)
{
    if (element == nullptr || rules.empty()) {
        return false;
    }
    const std::string path = topicPathOf(element);
    for (const alarm::AddedTopicRule &rule : rules) {
        if (alarm::topicMatches(rule.topic, path)) {
            return true;
        }
    }
    return false;
}
