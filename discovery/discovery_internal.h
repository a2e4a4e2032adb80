// Steps of capability discovery shared between its sources (and reachable
// from the tests through the internal archive); none is exported.
#ifndef VEK_DISCOVERY_INTERNAL_H
#define VEK_DISCOVERY_INTERNAL_H

#include <mxml.h>

#include <cstdint>
#include <string>
#include <vector>

#include "added_topic_rules.h"

#include "vek_onvif_event.h"

namespace vek
{

// Reads which smart-analytics HTTP reports a UserAlarm root topic offers
// into caps. Without a SmartHttpReport element caps is left untouched.
void readSmartReportCaps(mxml_node_t *userAlarm, OnvifSmartCaps *caps);

// Fills at most room items from the SimpleItemDescription elements below
// part, in document order, and stores how many were filled. 0, or 102 when
// an argument is null or part has no SimpleItemDescription.
uint32_t readItemDescriptions(mxml_node_t *part, uint32_t isData, uint32_t alarmType, uint32_t room,
                              uint32_t *count, OnvifSimpleItem *items);

// Releases the four item arrays of a template and zeroes their counts.
void releaseTemplateItems(OnvifAlarmTemplate *templ);

// Builds the topic-set text "<Message>...</Message>" from the element texts
// of a GetEventProperties answer, in order. Each text is cleaned in place
// with VEK_PUB_DeleteNodeProperty first; a text that cannot be cleaned is
// logged and left out, a null entry is skipped. *text receives a block from
// the platform heap. 0, or 104 when the block cannot be allocated.
uint32_t assembleTopicSetText(uint32_t count, char **elements, char **text);

// The topic of a topic-set element as notifications name it: the element
// names from the root topic down to element, joined by '/', prefixes as the
// camera wrote them.
std::string topicPathOf(mxml_node_t *element);

// Builds the template of the topic element with that code and appends it
// to cfg (room checked by the caller), as VEK_Onvif_GetAlarmNode does.
uint32_t buildTemplateAt(mxml_node_t *element, uint32_t alarmType, OnvifAlarmCfg *cfg);

// The first element below message whose path matches an added rule's
// topic, or null.
mxml_node_t *addedRuleElement(mxml_node_t *message, const alarm::AddedTopicRule &rule);

// Whether an added rule takes the topic of this element from the built-in
// table.
bool takenByAddedRule(mxml_node_t *element, const std::vector<alarm::AddedTopicRule> &rules);

} // namespace vek

#endif // VEK_DISCOVERY_INTERNAL_H
