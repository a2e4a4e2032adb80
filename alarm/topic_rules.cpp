#include "topic_rules.h"

#include <algorithm>
#include <array>

#include "alarm_internal.h"

namespace vek::alarm
{

namespace
{
constexpr std::array<std::string_view, 3> kRefusedWords = {"AccessZone", "LeaveZone",
                                                           "CountAggregation"};

// Marks a rule that settles the code by leaving it as it is.
constexpr uint32_t kKeepCode = UINT32_MAX;

// A rule applies when the topic contains all of its words (empty words are
// unused slots). The first rule that applies decides. Catch-all rules with
// kKeepCode close a family of topics, so that a topic of one family never
// falls through to the rules of a later one.
struct TopicRule {
    std::array<std::string_view, 3> words;
    uint32_t code;
};

constexpr TopicRule kTopicRules[] = {
    {{"RuleEngine", "LineDetector", "Crossed"}, VEK_ALARM_LINE_CROSSED},
    {{"RuleEngine", "FieldDetector", "ObjectsInside"}, VEK_ALARM_OBJECTS_INSIDE},
    // Attribute reports of the face detector are told apart from
    // recognitions by their ObjectAttribute word, which wins over the other.
    {{"RuleEngine", "FaceRecognitionDetector", "ObjectAttribute"}, VEK_ALARM_FACE_ATTRIBUTES},
    {{"RuleEngine", "FaceRecognitionDetector", "ObjectIsRecognized"}, VEK_ALARM_FACE_RECOGNISED},
    {{"RuleEngine"}, kKeepCode},
    {{"VideoSource", "MotionAlarm"}, VEK_ALARM_MOTION},
    {{"VideoSource", "GlobalSceneChange", "ImagingService"}, VEK_ALARM_TAMPER},
    {{"VideoSource", "GlobalSceneChange", "AnalyticsService"}, VEK_ALARM_SCENE_CHANGE_ANALYTICS},
    {{"VideoSource", "GlobalSceneChange"}, kKeepCode},
    {{"VideoSource", "ImageTooBlurry", "AnalyticsService"}, VEK_ALARM_IMAGE_BLURRY},
    // Shaped like motion and scene-change messages (a Source and a State),
    // so the template that takes it may be theirs.
    {{"VideoSource", "ImageTooBlurry", "ImagingService"}, VEK_ALARM_IMAGE_BLURRY},
    {{"VideoSource", "SmartTracking"}, VEK_ALARM_SMART_TRACKING},
    {{"VideoSource", "DoorbellAlarm"}, VEK_ALARM_DOORBELL},
    {{"VideoSource"}, kKeepCode},
    {{"UserAlarm", "IVA", "RemainArticle"}, VEK_ALARM_REMAIN_ARTICLE},
    {{"UserAlarm", "IVA", "CareArticle"}, VEK_ALARM_CARE_ARTICLE},
};

bool applies(const TopicRule &rule, std::string_view topic)
{
    return std::all_of(rule.words.begin(), rule.words.end(), [topic](std::string_view word) {
        return word.empty() || contains(topic, word);
    });
}
} // namespace

bool isRefusedTopic(std::string_view topic)
{
    return std::any_of(kRefusedWords.begin(), kRefusedWords.end(),
                       [topic](std::string_view word) { return contains(topic, word); });
}

uint32_t codeForTopic(std::string_view topic, uint32_t templateCode)
{
    for (const TopicRule &rule : kTopicRules) {
        if (applies(rule, topic)) {
            return rule.code == kKeepCode ? templateCode : rule.code;
        }
    }
    return templateCode;
}

} // namespace vek::alarm
