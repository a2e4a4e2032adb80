// Topic rules a recorder adds at run time (VEK_Onvif_AddTopicRule): a
// process-wide, bounded table read by discovery and translation alike.
#ifndef VEK_ALARM_ADDED_TOPIC_RULES_H
#define VEK_ALARM_ADDED_TOPIC_RULES_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vek::alarm
{

constexpr std::size_t kAddedTopicRuleLimit = 256;

struct AddedTopicRule {
    std::string topic; // as added, e.g. "tns1:Device/tnsexample:Sensor/*"
    uint32_t code;
    // The Data item read as the state; empty: the first item whose value is
    // a state word.
    std::string stateItem;
};

// Whether a topic ("a:B/c:D/...", blanks around it ignored) matches a rule's
// topic: the same number of segments, each equal without regard to its
// namespace prefix, a rule segment "*" matching any one segment.
bool topicMatches(std::string_view ruleTopic, std::string_view topic);

// The segments of a rule topic without their prefixes; empty when the topic
// is not usable (no text, an empty segment).
std::vector<std::string_view> topicSegments(std::string_view topic);

// The segment without its namespace prefix.
std::string_view localSegment(std::string_view segment);

// The added rule for a message topic, if one matches (the first added).
std::optional<AddedTopicRule> addedRuleFor(std::string_view topic);

// A copy of the table, in the order the rules were added.
std::vector<AddedTopicRule> addedRules();

} // namespace vek::alarm

#endif // VEK_ALARM_ADDED_TOPIC_RULES_H
