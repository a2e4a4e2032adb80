// Topic words that decide an alarm's code whatever its template says, and
// topics that are never matched.
#ifndef VEK_ALARM_TOPIC_RULES_H
#define VEK_ALARM_TOPIC_RULES_H

#include <cstdint>
#include <string_view>

namespace vek::alarm
{

// True for zone-access and counting topics, which are not reported.
bool isRefusedTopic(std::string_view topic);

// The code an alarm on this topic is reported with, given the code of the
// template it is compared with.
uint32_t codeForTopic(std::string_view topic, uint32_t templateCode);

} // namespace vek::alarm

#endif // VEK_ALARM_TOPIC_RULES_H
