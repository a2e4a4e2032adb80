// Topic words that decide an alarm's code whatever its template says, and
// topics that are never matched.
#ifndef VEK_ALARM_TOPIC_RULES_H
#define VEK_ALARM_TOPIC_RULES_H

#include <cstdint>
#include <string>
#include <string_view>

namespace vek::alarm
{

// True for zone-access and counting topics, which are not reported.
bool isRefusedTopic(std::string_view topic);

// The code an alarm on this topic is reported with, given the code of the
// template it is compared with.
uint32_t codeForTopic(std::string_view topic, uint32_t templateCode);

// How an alarm on a topic is read: its code, and where its state is.
struct TopicReading {
    uint32_t code = 0;
    // The rule names where the state is: the Data item stateItem, or (empty)
    // the first Data item whose value is a state word. Otherwise the state
    // is in the Data items the template types as boolean.
    bool stateFromRule = false;
    std::string stateItem;
    // The code follows the object classes the message lists.
    bool objectClasses = false;
};

// The reading of a topic: an added rule for it first, then the built-in
// rules (as codeForTopic).
TopicReading readingForTopic(std::string_view topic, uint32_t templateCode);

// Name of the Data item that lists an object's classes.
constexpr std::string_view kClassTypesItem = "ClassTypes";

// The code of an object of these classes (a blank-separated list): a
// person gives the human-shape code, anything else motion.
uint32_t codeForObjectClasses(std::string_view classes);

} // namespace vek::alarm

#endif // VEK_ALARM_TOPIC_RULES_H
