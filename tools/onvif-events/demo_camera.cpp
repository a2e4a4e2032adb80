#include "demo_camera.h"

#include <utility>

#include "camsim.h"

namespace onvif_events
{

namespace
{

// A tt:SimpleItemDescription.
std::string itemDesc(const char *name, const char *type)
{
    return std::string("<tt:SimpleItemDescription Name=\"") + name + "\" Type=\"" + type + "\"/>";
}

std::string part(const char *element, const std::string &items)
{
    return std::string("<tt:") + element + ">" + items + "</tt:" + element + ">";
}

// A topic element holding one message description.
std::string topic(const char *name, const std::string &source, const std::string &key,
                  const std::string &data, bool isProperty = true)
{
    return std::string("<") + name + " wstop:topic=\"true\"><tt:MessageDescription IsProperty=\"" +
           (isProperty ? "true" : "false") + "\">" + part("Source", source) +
           (key.empty() ? "" : part("Key", key)) + part("Data", data) +
           "</tt:MessageDescription></" + name + ">";
}

std::string group(const char *name, const std::string &children)
{
    return std::string("<") + name + " wstop:topic=\"true\">" + children + "</" + name + ">";
}

std::string ruleSource()
{
    return itemDesc("VideoSourceConfigurationToken", "tt:ReferenceToken") +
           itemDesc("VideoAnalyticsConfigurationToken", "tt:ReferenceToken") +
           itemDesc("Rule", "xs:string");
}

std::string buildTopicSet()
{
    std::string videoSource =
        topic("MotionAlarm", itemDesc("Source", "tt:ReferenceToken"), "",
              itemDesc("State", "xs:boolean")) +
        group("GlobalSceneChange", topic("ImagingService", itemDesc("Source", "tt:ReferenceToken"),
                                         "", itemDesc("State", "xs:boolean"))) +
        group("ImageTooBlurry", topic("ImagingService", itemDesc("Source", "tt:ReferenceToken"), "",
                                      itemDesc("State", "xs:boolean")));
    std::string ruleEngine =
        group("CellMotionDetector",
              topic("Motion", ruleSource(), "", itemDesc("IsMotion", "xs:boolean")) +
                  topic("Intrusion", ruleSource(), "", itemDesc("IsIntrusion", "xs:boolean")) +
                  topic("LineCross", ruleSource(), "", itemDesc("IsLineCross", "xs:boolean"))) +
        group("PeopleDetector",
              topic("People", ruleSource(), "", itemDesc("IsPeople", "xs:boolean"))) +
        group("FieldDetector",
              topic("ObjectsInside", ruleSource(), itemDesc("ObjectId", "xs:integer"),
                    itemDesc("IsInside", "xs:boolean"))) +
        // Tampering comes as VideoSource/GlobalSceneChange/ImagingService: a code-8 template
        // (FieldDetector, built before TamperDetector) takes any Data items, so a
        // RuleEngine/TamperDetector/Tamper message with the same Source items would be reported
        // as objects inside.
        group("TamperDetector",
              topic("Tamper", ruleSource(), "", itemDesc("IsTamper", "xs:boolean"))) +
        group("LineDetector",
              topic("Crossed", ruleSource(), "", itemDesc("ObjectId", "xs:integer"), false)) +
        group("FaceRecognitionDetector",
              topic("ObjectAttribute", ruleSource(), "",
                    itemDesc("ObjectId", "xs:integer") + itemDesc("Gender", "xs:string") +
                        itemDesc("HasMask", "xs:string") +
                        itemDesc("TemperatureState", "xs:string"),
                    false));
    std::string device =
        group("Trigger", topic("DigitalInput", itemDesc("InputToken", "tt:ReferenceToken"), "",
                               itemDesc("LogicalState", "xs:boolean")));
    // Smart HTTP reports the camera can post to the recorder's own port, and a login alarm.
    std::string userAlarm =
        group("SmartHttpReport",
              topic("LineDetector", ruleSource(), "", itemDesc("ObjectId", "xs:integer"), false) +
                  topic("FieldDetector", ruleSource(), "", itemDesc("ObjectId", "xs:integer"),
                        false) +
                  topic("FaceDetector", ruleSource(), "", itemDesc("ObjectId", "xs:integer"),
                        false)) +
        topic("IllegalLogin", itemDesc("User", "xs:string"), "", itemDesc("Times", "xs:int"),
              false);
    // A root the recorder has no alarm for.
    std::string monitoring =
        group("ProcessorUsage", "<tt:MessageDescription IsProperty=\"true\">" +
                                    part("Source", itemDesc("Token", "tt:ReferenceToken")) +
                                    part("Data", itemDesc("Value", "xs:float")) +
                                    "</tt:MessageDescription>");
    return "<tns1:VideoSource wstop:topic=\"true\">" + videoSource + "</tns1:VideoSource>" +
           "<tns1:RuleEngine wstop:topic=\"true\">" + ruleEngine + "</tns1:RuleEngine>" +
           "<tns1:Device wstop:topic=\"true\">" + device + "</tns1:Device>" +
           "<tns1:UserAlarm wstop:topic=\"true\">" + userAlarm + "</tns1:UserAlarm>" +
           "<tns1:Monitoring wstop:topic=\"true\">" + monitoring + "</tns1:Monitoring>";
}

using Items = std::vector<std::pair<std::string, std::string>>;

std::string simpleItems(const char *element, const Items &items)
{
    if (items.empty()) {
        return {};
    }
    std::string text = std::string("<tt:") + element + ">";
    for (const auto &item : items) {
        text += "<tt:SimpleItem Name=\"" + item.first + "\" Value=\"" + item.second + "\"/>";
    }
    return text + "</tt:" + element + ">";
}

std::string message(const std::string &utcTime, const char *operation, const Items &source,
                    const Items &key, const Items &data)
{
    return "<tt:Message UtcTime=\"" + utcTime + "\" PropertyOperation=\"" + operation + "\">" +
           simpleItems("Source", source) + simpleItems("Key", key) + simpleItems("Data", data) +
           "</tt:Message>";
}

Items rule(const char *channel, const char *ruleName)
{
    return {{"VideoSourceConfigurationToken", std::string("VideoSourceConfig_") + channel},
            {"VideoAnalyticsConfigurationToken", std::string("VideoAnalyticsConfig_") + channel},
            {"Rule", ruleName}};
}

// One scripted event: what the camera sends (the key part is always empty) and the reports the
// recorder should make of it.
struct ScriptedEvent {
    const char *description;
    const char *topic;
    const char *operation;
    Items source;
    Items data;
    std::vector<ExpectedReport> expected;
};

constexpr uint32_t kBothFlags = VEK_ALARM_FLAG_NO_MASK | VEK_ALARM_FLAG_ABNORMAL_TEMPERATURE;

// The demonstration's events, in the order the camera sends them.
const ScriptedEvent kScript[] = {
    {"motion starts on VideoSource_1",
     "tns1:VideoSource/MotionAlarm",
     "Changed",
     {{"Source", "VideoSource_1"}},
     {{"State", "true"}},
     {{VEK_ALARM_MOTION, 1, 0, 0}}},
    {"initial state of motion (Initialized, dropped)",
     "tns1:VideoSource/MotionAlarm",
     "Initialized",
     {{"Source", "VideoSource_2"}},
     {{"State", "false"}},
     {}},
    {"tampering (global scene change) on VideoSource_1",
     "tns1:VideoSource/GlobalSceneChange/ImagingService",
     "Changed",
     {{"Source", "VideoSource_1"}},
     {{"State", "true"}},
     {{VEK_ALARM_TAMPER, 1, 0, 0}}},
    {"line crossed on channel 2 by object 42",
     "tns1:RuleEngine/LineDetector/Crossed",
     "Changed",
     rule("2", "MyLineDetectorRule"),
     {{"ObjectId", "42"}},
     {{VEK_ALARM_LINE_CROSSED, 2, 42, 0}}},
    {"digital input 2 closes",
     "tns1:Device/Trigger/DigitalInput",
     "Changed",
     {{"InputToken", "DigitalInput_2"}},
     {{"LogicalState", "true"}},
     {{VEK_ALARM_DIGITAL_INPUT, 2, 0, 0}}},
    {"face without mask and with abnormal temperature (object 7)",
     "tns1:RuleEngine/FaceRecognitionDetector/ObjectAttribute",
     "Changed",
     rule("1", "MyFaceRule"),
     {{"ObjectId", "7"}, {"HasMask", "NoMask"}, {"TemperatureState", "AbNormal"}},
     {{VEK_ALARM_NO_MASK, 1, 7, kBothFlags}, {VEK_ALARM_ABNORMAL_TEMPERATURE, 1, 7, kBothFlags}}},
    {"face with mask and normal temperature (no report)",
     "tns1:RuleEngine/FaceRecognitionDetector/ObjectAttribute",
     "Changed",
     rule("2", "MyFaceRule"),
     {{"ObjectId", "8"}, {"HasMask", "Mask"}, {"TemperatureState", "Normal"}},
     {}},
    {"processor usage (no template matches)",
     "tns1:Monitoring/ProcessorUsage",
     "Changed",
     {{"Token", "Processor"}},
     {{"Value", "37.5"}},
     {}},
    {"intrusion on channel 1 (cell motion detector)",
     "tns1:RuleEngine/CellMotionDetector/Intrusion",
     "Changed",
     rule("1", "MyIntrusionRule"),
     {{"IsIntrusion", "true"}},
     {{VEK_ALARM_OBJECTS_INSIDE, 1, 0, 0}}},
    {"intrusion over on channel 1",
     "tns1:RuleEngine/CellMotionDetector/Intrusion",
     "Changed",
     rule("1", "MyIntrusionRule"),
     {{"IsIntrusion", "false"}},
     {{VEK_ALARM_OBJECTS_INSIDE + VEK_ALARM_INACTIVE_OFFSET, 1, 0, 0}}},
    {"line crossed on channel 2 (cell motion detector)",
     "tns1:RuleEngine/CellMotionDetector/LineCross",
     "Changed",
     rule("2", "MyLineCrossRule"),
     {{"IsLineCross", "true"}},
     {{VEK_ALARM_LINE_CROSSED, 2, 0, 0}}},
    {"people on channel 2",
     "tns1:RuleEngine/PeopleDetector/People",
     "Changed",
     rule("2", "MyPeopleRule"),
     {{"IsPeople", "true"}},
     {{VEK_ALARM_HUMAN_SHAPE, 2, 0, 0}}},
    {"image too blurry on VideoSource_2 (imaging service)",
     "tns1:VideoSource/ImageTooBlurry/ImagingService",
     "Changed",
     {{"Source", "VideoSource_2"}},
     {{"State", "true"}},
     {{VEK_ALARM_IMAGE_BLURRY, 2, 0, 0}}},
    {"motion starts on VideoSource_2",
     "tns1:VideoSource/MotionAlarm",
     "Changed",
     {{"Source", "VideoSource_2"}},
     {{"State", "true"}},
     {{VEK_ALARM_MOTION, 2, 0, 0}}},
    {"tampering over on VideoSource_1",
     "tns1:VideoSource/GlobalSceneChange/ImagingService",
     "Changed",
     {{"Source", "VideoSource_1"}},
     {{"State", "false"}},
     {{VEK_ALARM_TAMPER + VEK_ALARM_INACTIVE_OFFSET, 1, 0, 0}}},
    {"motion ends on VideoSource_1",
     "tns1:VideoSource/MotionAlarm",
     "Changed",
     {{"Source", "VideoSource_1"}},
     {{"State", "false"}},
     {{VEK_ALARM_MOTION + VEK_ALARM_INACTIVE_OFFSET, 1, 0, 0}}},
};

} // namespace

const std::string &demoTopicSet()
{
    static const std::string text = buildTopicSet();
    return text;
}

CameraTables demoTables()
{
    CameraTables tables;
    tables.channels = {{"VideoSource_1", "VideoSourceConfig_1"},
                       {"VideoSource_2", "VideoSourceConfig_2"}};
    tables.inputs = {"DigitalInput_1", "DigitalInput_2"};
    return tables;
}

std::vector<DemoEvent> demoEvents(const std::string &t)
{
    std::vector<DemoEvent> events;
    for (const ScriptedEvent &event : kScript) {
        events.push_back(
            {event.description,
             camsim::makeNotificationMessage(
                 event.topic, message(t, event.operation, event.source, {}, event.data)),
             event.expected});
    }
    return events;
}

std::string describeExpected(const std::vector<ExpectedReport> &expected)
{
    if (expected.empty()) {
        return "no report";
    }
    std::string text;
    for (const ExpectedReport &e : expected) {
        if (!text.empty()) {
            text += ", ";
        }
        text += std::to_string(e.code) + " ch " + std::to_string(e.channel);
        if (e.object != 0) {
            text += " object " + std::to_string(e.object);
        }
    }
    return text;
}

bool matchesExpected(const std::vector<OnvifAlarmReport> &reports,
                     const std::vector<ExpectedReport> &expected)
{
    if (reports.size() != expected.size()) {
        return false;
    }
    for (size_t i = 0; i < reports.size(); ++i) {
        const OnvifAlarmReport &r = reports[i];
        const ExpectedReport &e = expected[i];
        if (r.AlarmType != e.code || r.Channel != e.channel || r.ObjectValue != e.object ||
            r.AttributeFlags != e.flags) {
            return false;
        }
    }
    return true;
}

} // namespace onvif_events
