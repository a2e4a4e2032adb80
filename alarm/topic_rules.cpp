#include "topic_rules.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "added_topic_rules.h"
#include "alarm_internal.h"

namespace vek::alarm
{

namespace
{
constexpr std::array<std::string_view, 3> kRefusedWords = {"AccessZone", "LeaveZone",
                                                           "CountAggregation"};

// Marks a rule that settles the code by leaving it as it is.
constexpr uint32_t kKeepCode = UINT32_MAX;
// Marks the rule whose code follows the object classes of the message.
constexpr uint32_t kClassCode = UINT32_MAX - 1;

// A rule applies when the topic contains all of its words (empty words are
// unused slots). The first rule that applies decides. Catch-all rules with
// kKeepCode close a family of topics, so that a topic of one family never
// falls through to the rules of a later one.
struct TopicRule {
    std::array<std::string_view, 3> words;
    uint32_t code;
    // The Data item read as the state, whatever type the camera gives it.
    std::string_view stateItem = {};
};

constexpr TopicRule kTopicRules[] = {
    {{"RuleEngine", "LineDetector", "Crossed"}, VEK_ALARM_LINE_CROSSED},
    {{"RuleEngine", "FieldDetector", "ObjectsInside"}, VEK_ALARM_OBJECTS_INSIDE},
    // Attribute reports of the face detector are told apart from
    // recognitions by their ObjectAttribute word, which wins over the other.
    {{"RuleEngine", "FaceRecognitionDetector", "ObjectAttribute"}, VEK_ALARM_FACE_ATTRIBUTES},
    {{"RuleEngine", "FaceRecognitionDetector", "ObjectIsRecognized"}, VEK_ALARM_FACE_RECOGNISED},
    {{"RuleEngine", "ObjectDetection", "Object"}, kClassCode},
    // An object left behind, whichever rule saw it.
    {{"RuleEngine", "Package"}, VEK_ALARM_REMAIN_ARTICLE},
    {{"RuleEngine"}, kKeepCode},
    {{"VideoSource", "MotionAlarm"}, VEK_ALARM_MOTION},
    {{"VideoSource", "GlobalSceneChange", "ImagingService"}, VEK_ALARM_TAMPER},
    {{"VideoSource", "GlobalSceneChange", "AnalyticsService"}, VEK_ALARM_SCENE_CHANGE_ANALYTICS},
    {{"VideoSource", "GlobalSceneChange"}, kKeepCode},
    {{"VideoSource", "ImageTooBlurry", "AnalyticsService"}, VEK_ALARM_IMAGE_BLURRY},
    // Shaped like motion and scene-change messages (a Source and a State),
    // so the template that takes it may be theirs.
    {{"VideoSource", "ImageTooBlurry", "ImagingService"}, VEK_ALARM_IMAGE_BLURRY},
    // A picture too dark or too bright is as good as covered.
    {{"VideoSource", "ImageTooDark"}, VEK_ALARM_TAMPER},
    {{"VideoSource", "ImageTooBright"}, VEK_ALARM_TAMPER},
    {{"VideoSource", "SmartTracking"}, VEK_ALARM_SMART_TRACKING},
    {{"VideoSource", "DoorbellAlarm"}, VEK_ALARM_DOORBELL},
    {{"VideoSource"}, kKeepCode},
    {{"UserAlarm", "IVA", "RemainArticle"}, VEK_ALARM_REMAIN_ARTICLE},
    {{"UserAlarm", "IVA", "CareArticle"}, VEK_ALARM_CARE_ARTICLE},
    {{"UserAlarm", "VideoCover"}, VEK_ALARM_TAMPER},
    // A passive infrared sensor sees movement; cameras type its state as a
    // number as often as a boolean.
    {{"Device", "Sensor", "PIR"}, VEK_ALARM_MOTION, "state"},
};

constexpr std::string_view kPersonWords[] = {"human", "person", "people"};

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
    return readingForTopic(topic, templateCode).code;
}

TopicReading readingForTopic(std::string_view topic, uint32_t templateCode)
{
    TopicReading reading;
    reading.code = templateCode;
    if (std::optional<AddedTopicRule> added = addedRuleFor(topic)) {
        reading.code = added->code;
        reading.stateFromRule = true;
        reading.stateItem = added->stateItem;
        return reading;
    }
    for (const TopicRule &rule : kTopicRules) {
        if (!applies(rule, topic)) {
            continue;
        }
        if (rule.code == kClassCode) {
            reading.objectClasses = true;
        } else if (rule.code != kKeepCode) {
            reading.code = rule.code;
        }
        if (!rule.stateItem.empty()) {
            reading.stateFromRule = true;
            reading.stateItem = std::string(rule.stateItem);
        }
        break;
    }
    return reading;
}

uint32_t codeForObjectClasses(std::string_view classes)
{
    std::string lower(classes);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const bool person =
        std::any_of(std::begin(kPersonWords), std::end(kPersonWords),
                    [&lower](std::string_view word) { return contains(lower, word); });
    return person ? VEK_ALARM_HUMAN_SHAPE : VEK_ALARM_MOTION;
}

} // namespace vek::alarm
