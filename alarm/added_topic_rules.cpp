// The process-wide table of added topic rules and the matching of topics
// against them.
#include "added_topic_rules.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "alarm_internal.h"
#include "vek_log.h"

namespace vek::alarm
{

namespace
{

constexpr const char *kAddFunc = "VEK_Onvif_AddTopicRule";
// Longest topic accepted: what an alarm's parsed topic keeps.
constexpr std::size_t kRuleTopicLength = kTopicKeep;

struct RuleTable {
    std::mutex mutex;
    std::vector<AddedTopicRule> rules;
    // The number of rules, written under the mutex: matching, which asks
    // for every template a message is tried with, skips the lock while the
    // table is empty.
    std::atomic<std::size_t> size{0};
};

RuleTable &ruleTable()
{
    static RuleTable table;
    return table;
}

std::string_view trimmed(std::string_view text)
{
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) {
        return {};
    }
    const std::size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(begin, end - begin + 1);
}

bool validCode(uint32_t code)
{
    // The inactive form (code + 1000) must stay a code of its own.
    return code != 0 && code < VEK_ALARM_INACTIVE_OFFSET;
}

} // namespace

std::string_view localSegment(std::string_view segment)
{
    const std::size_t colon = segment.rfind(':');
    return colon == std::string_view::npos ? segment : segment.substr(colon + 1);
}

std::vector<std::string_view> topicSegments(std::string_view topic)
{
    std::vector<std::string_view> segments;
    topic = trimmed(topic);
    if (topic.empty()) {
        return segments;
    }
    std::size_t at = 0;
    while (true) {
        const std::size_t slash = topic.find('/', at);
        const std::string_view segment =
            localSegment(topic.substr(at, slash == std::string_view::npos ? slash : slash - at));
        if (segment.empty() || segment.find_first_of(" \t\r\n") != std::string_view::npos) {
            return {};
        }
        segments.push_back(segment);
        if (slash == std::string_view::npos) {
            return segments;
        }
        at = slash + 1;
    }
}

namespace
{

// The next segment of a topic from at on, without its prefix; at moves past
// it. False at the end of the text.
bool nextSegment(std::string_view topic, std::size_t &at, std::string_view &segment)
{
    if (at > topic.size()) {
        return false;
    }
    const std::size_t slash = std::min(topic.find('/', at), topic.size());
    segment = localSegment(topic.substr(at, slash - at));
    at = slash + 1;
    return true;
}

} // namespace

// Walks both topics segment by segment without allocating: matching runs
// for every template a message is tried with.
bool topicMatches(std::string_view ruleTopic, std::string_view topic)
{
    ruleTopic = trimmed(ruleTopic);
    topic = trimmed(topic);
    if (ruleTopic.empty() || topic.empty()) {
        return false;
    }
    std::size_t ruleAt = 0;
    std::size_t at = 0;
    std::string_view ruleSegment;
    std::string_view segment;
    while (true) {
        const bool ruleMore = nextSegment(ruleTopic, ruleAt, ruleSegment);
        const bool more = nextSegment(topic, at, segment);
        if (!ruleMore || !more) {
            return ruleMore == more;
        }
        if (ruleSegment.empty() || segment.empty() ||
            (ruleSegment != "*" && ruleSegment != segment)) {
            return false;
        }
    }
}

std::optional<AddedTopicRule> addedRuleFor(std::string_view topic)
{
    RuleTable &table = ruleTable();
    if (table.size.load(std::memory_order_acquire) == 0) {
        return std::nullopt;
    }
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const AddedTopicRule &rule : table.rules) {
        if (topicMatches(rule.topic, topic)) {
            return rule;
        }
    }
    return std::nullopt;
}

std::vector<AddedTopicRule> addedRules()
{
    RuleTable &table = ruleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.rules;
}

} // namespace vek::alarm

extern "C" {

VEK_ONVIF_API uint32_t VEK_Onvif_AddTopicRule(const char *pszTopic, uint32_t ulAlarmType,
                                              const char *pszStateItem)
{
    using namespace vek::alarm;
    if (pszTopic == nullptr || strnlen(pszTopic, kRuleTopicLength + 1) > kRuleTopicLength ||
        topicSegments(pszTopic).empty() || !validCode(ulAlarmType)) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_PARAM, kAddFunc, "Invalid topic rule[%s] code %u.",
                pszTopic != nullptr ? pszTopic : "(null)", ulAlarmType);
        return VEK_ONVIF_ERR_PARAM;
    }
    AddedTopicRule rule{std::string(trimmed(pszTopic)), ulAlarmType,
                        pszStateItem != nullptr ? std::string(pszStateItem) : std::string()};
    RuleTable &table = ruleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    // The same topic added again replaces its rule.
    auto same = std::find_if(table.rules.begin(), table.rules.end(), [&](const AddedTopicRule &r) {
        return topicSegments(r.topic) == topicSegments(rule.topic);
    });
    if (same != table.rules.end()) {
        *same = std::move(rule);
        return VEK_ONVIF_OK;
    }
    if (table.rules.size() >= kAddedTopicRuleLimit) {
        VEK_LOG(vek::kLevelError, VEK_ONVIF_ERR_FAIL, kAddFunc,
                "The topic rule table is full (%u rules).",
                static_cast<unsigned>(kAddedTopicRuleLimit));
        return VEK_ONVIF_ERR_FAIL;
    }
    table.rules.push_back(std::move(rule));
    table.size.store(table.rules.size(), std::memory_order_release);
    return VEK_ONVIF_OK;
}

VEK_ONVIF_API void VEK_Onvif_ClearTopicRules(void)
{
    vek::alarm::RuleTable &table = vek::alarm::ruleTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.rules.clear();
    table.size.store(0, std::memory_order_release);
}

} // extern "C"
