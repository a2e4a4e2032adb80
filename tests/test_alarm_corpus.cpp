// Alarms of real camera messages, end to end: the simulated camera serves a
// topic set, the recorder discovers its templates, the camera pushes the
// message to the recorder's listener over loopback and the listener
// translates it. Each case runs a message in its active and its inactive
// state.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camsim.h"
#include "discovery_expect.h"
#include "test_support.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{

constexpr uint16_t kOff = VEK_ALARM_INACTIVE_OFFSET;

struct Report {
    uint32_t code;
    uint32_t channel;
    int32_t object;
};

// Text replacements that turn a corpus message into the one a case sends.
using Edits = std::vector<std::pair<std::string, std::string>>;

// Initial states are dropped by design; the same message as a change.
const std::pair<std::string, std::string> kAsChange = {"\"Initialized\"", "\"Changed\""};
// The examples of the ONVIF documents hold a "..." placeholder between the holder's
// elements; cases about other things leave it out.
const std::pair<std::string, std::string> kNoPlaceholder = {"\n  ...\n", "\n"};

std::string applyEdits(std::string text, const Edits &edits)
{
    for (const auto &[from, to] : edits) {
        const size_t at = text.find(from);
        EXPECT_NE(std::string::npos, at) << "no \"" << from << "\" in the message";
        if (at != std::string::npos) {
            text.replace(at, from.size(), to);
        }
    }
    return text;
}

std::string notifyMessage(const std::string &file, const Edits &edits)
{
    const std::vector<std::string> messages =
        camsim::loadNotificationMessages(vekfix::fixturePath("corpus/notify/" + file), "");
    EXPECT_EQ(1u, messages.size()) << file;
    return messages.empty() ? std::string() : applyEdits(messages[0], edits);
}

// Message index (from 0) of a file that holds several.
std::string nthMessage(const std::string &file, size_t index, const Edits &edits)
{
    const std::vector<std::string> messages =
        camsim::loadNotificationMessages(vekfix::fixturePath("corpus/notify/" + file), "");
    EXPECT_LT(index, messages.size()) << file;
    return index < messages.size() ? applyEdits(messages[index], edits) : std::string();
}

// ---- Topic sets -------------------------------------------------------------

std::string desc(const char *name, const char *type)
{
    return std::string("<tt:SimpleItemDescription Name=\"") + name + "\" Type=\"" + type + "\"/>";
}

// Nested topic elements around one message description: path "A/B/C".
std::string topicSet(const std::string &path, const std::string &source, const std::string &key,
                     const std::string &data)
{
    std::vector<std::string> names;
    for (size_t at = 0; at <= path.size();) {
        const size_t slash = std::min(path.find('/', at), path.size());
        names.push_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    // No Source text: a description without a Source part.
    std::string text = "<tt:MessageDescription IsProperty=\"true\">" +
                       (source.empty() ? "" : "<tt:Source>" + source + "</tt:Source>") +
                       (key.empty() ? "" : "<tt:Key>" + key + "</tt:Key>") + "<tt:Data>" + data +
                       "</tt:Data></tt:MessageDescription>";
    for (size_t i = names.size(); i-- > 0;) {
        const std::string name = (i == 0 ? "tns1:" : "") + names[i];
        text = "<" + name + " wstop:topic=\"true\">" + text + "</" + name + ">";
    }
    return text;
}

// The Source of analytics rules as the messages carry it.
std::string ruleSource()
{
    return desc("VideoSourceConfigurationToken", "tt:ReferenceToken") +
           desc("VideoAnalyticsConfigurationToken", "tt:ReferenceToken") +
           desc("Rule", "xs:string");
}

// The corpus holds no topic set that describes these topics: each is the
// smallest one a camera sending the message would advertise, its Source and
// Data items and their types as in the message.
std::string ruleTopic(const char *path, const char *stateItem)
{
    return topicSet(path, ruleSource(), "", desc(stateItem, "xs:boolean"));
}

std::string corpusTopicSet(const char *file)
{
    return vekfix::readFixture(std::string("corpus/properties/") + file);
}

// ---- The recorder -------------------------------------------------------------

// The recorder's side of one camera: templates discovered from the camera,
// and a listening socket on loopback.
class Recorder
{
  public:
    explicit Recorder(const std::string &topicSetXml)
    {
        camsim::Config config;
        config.topicSetXml = topicSetXml;
        camsim::CameraSim sim(config);
        sim.start();
        discovered_ = VEK_Onvif_GetEventProperties(sim.eventServiceUrl().c_str(), "admin", "secret",
                                                   &cfg_.cfg);
        // Channel 2 is the video source the analytics rules name.
        std::snprintf(cfg_.cfg.ChannelTokens[1].PrimaryToken,
                      sizeof cfg_.cfg.ChannelTokens[1].PrimaryToken, "%s", "vsconf");

        listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 &&
            listen(listenFd_, 4) == 0) {
            socklen_t length = sizeof addr;
            getsockname(listenFd_, reinterpret_cast<sockaddr *>(&addr), &length);
            port_ = ntohs(addr.sin_port);
        }
    }
    ~Recorder() { close(listenFd_); }
    Recorder(const Recorder &) = delete;
    Recorder &operator=(const Recorder &) = delete;

    uint32_t discovered() const { return discovered_; }
    // Templates from the topic table instead of the camera's.
    uint32_t useTableTemplates() { return VEK_Onvif_Event_TemplatesFromTable(&cfg_.cfg); }
    // Entry index of the channel token table (channel index + 1).
    void setChannelToken(size_t index, const char *token)
    {
        std::snprintf(cfg_.cfg.ChannelTokens[index].PrimaryToken,
                      sizeof cfg_.cfg.ChannelTokens[index].PrimaryToken, "%s", token);
    }
    uint32_t templates() const { return cfg_.cfg.PropeAlarmCount; }

    // The reports of one Notify carrying these notification messages.
    std::vector<Report> receive(const std::vector<std::string> &messages)
    {
        camsim::SendResult pushed;
        const std::string url =
            "http://127.0.0.1:" + std::to_string(port_) + "/onvif_notify_server";
        std::thread camera([&] { pushed = camsim::pushNotify(url, messages); });
        uint32_t count = 0;
        uint32_t connected = 0;
        OnvifAlarmReport *reports =
            vektest::receiveNotify(listenFd_, &cfg_.cfg, &inputs_,
                                   "http://127.0.0.1/onvif/event_service", &count, &connected);
        camera.join();
        EXPECT_TRUE(pushed.sent) << pushed.error;
        EXPECT_EQ(1u, connected);
        std::vector<Report> out;
        for (uint32_t i = 0; reports != nullptr && i < count; ++i) {
            out.push_back({reports[i].AlarmType, reports[i].Channel, reports[i].ObjectValue});
        }
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), __FILE__, __LINE__);
        return out;
    }

  private:
    vektest::Cfg cfg_;
    OnvifAlarmInputList inputs_{0, nullptr};
    uint32_t discovered_ = 0;
    int listenFd_ = -1;
    uint16_t port_ = 0;
};

void expectReports(const std::vector<Report> &expected, const std::vector<Report> &got)
{
    ASSERT_EQ(expected.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].code, got[i].code);
        EXPECT_EQ(expected[i].channel, got[i].channel);
        EXPECT_EQ(expected[i].object, got[i].object);
    }
}

// ---- One message per alarm kind, active and inactive ---------------------------

struct Case {
    const char *name;
    std::string topicSet;
    const char *file;
    Edits active;
    Report activeReport;
    Edits inactive;
    Report inactiveReport;
};

void PrintTo(const Case &c, std::ostream *out)
{
    *out << c.name;
}

class CorpusAlarm : public ::testing::TestWithParam<Case>
{
};

TEST_P(CorpusAlarm, ReportsTheStateTheMessageCarries)
{
    const Case &c = GetParam();
    Recorder recorder(c.topicSet);
    ASSERT_EQ(0u, recorder.discovered());
    ASSERT_GE(recorder.templates(), 1u);
    {
        SCOPED_TRACE("active");
        expectReports({c.activeReport}, recorder.receive({notifyMessage(c.file, c.active)}));
    }
    {
        SCOPED_TRACE("inactive");
        expectReports({c.inactiveReport}, recorder.receive({notifyMessage(c.file, c.inactive)}));
    }
}

const std::pair<std::string, std::string> kTrueToFalse = {"Value=\"true\"", "Value=\"false\""};

INSTANTIATE_TEST_SUITE_P(
    Rows, CorpusAlarm,
    ::testing::Values(
        // State is 0 or 1; the rule's name holds a blank.
        Case{"MotionRegion",
             topicSet("RuleEngine/MotionRegionDetector/Motion",
                      desc("VideoSource", "tt:ReferenceToken") + desc("RuleName", "xs:string"), "",
                      desc("State", "xs:boolean")),
             "motion-region-01.xml",
             {kAsChange, {"Name=\"State\" Value=\"0\"", "Name=\"State\" Value=\"1\""}},
             {VEK_ALARM_MOTION, 1, 0},
             {kAsChange},
             {VEK_ALARM_MOTION + kOff, 1, 0}},
        Case{"CellMotionTamper",
             ruleTopic("RuleEngine/CellMotionDetector/Tamper", "IsTamper"),
             "tamper-01.xml",
             {},
             {VEK_ALARM_TAMPER, 2, 0},
             {kTrueToFalse},
             {VEK_ALARM_TAMPER + kOff, 2, 0}},
        Case{"CellMotionLineCross",
             ruleTopic("RuleEngine/CellMotionDetector/LineCross", "IsLineCross"),
             "line-cross-vendor-01.xml",
             {},
             {VEK_ALARM_LINE_CROSSED, 2, 0},
             {kTrueToFalse},
             {VEK_ALARM_LINE_CROSSED + kOff, 2, 0}},
        Case{"CellMotionIntrusion",
             ruleTopic("RuleEngine/CellMotionDetector/Intrusion", "IsIntrusion"),
             "intrusion-01.xml",
             {},
             {VEK_ALARM_OBJECTS_INSIDE, 2, 0},
             {kTrueToFalse},
             {VEK_ALARM_OBJECTS_INSIDE + kOff, 2, 0}},
        Case{"People",
             ruleTopic("RuleEngine/PeopleDetector/People", "IsPeople"),
             "people-01.xml",
             {},
             {VEK_ALARM_HUMAN_SHAPE, 2, 0},
             {kTrueToFalse},
             {VEK_ALARM_HUMAN_SHAPE + kOff, 2, 0}},
        // No capture of this topic: the scene-change capture of the imaging
        // service has its shape, sent under the blurry-image topic.
        Case{"ImageTooBlurryImagingService",
             topicSet("VideoSource/ImageTooBlurry/ImagingService",
                      desc("Source", "tt:ReferenceToken"), "", desc("State", "xs:boolean")),
             "global-scene-change-01.xml",
             {kAsChange,
              {"GlobalSceneChange/ImagingService", "ImageTooBlurry/ImagingService"},
              {"Name=\"State\" Value=\"0\"", "Name=\"State\" Value=\"1\""}},
             {VEK_ALARM_IMAGE_BLURRY, 1, 0},
             {kAsChange, {"GlobalSceneChange/ImagingService", "ImageTooBlurry/ImagingService"}},
             {VEK_ALARM_IMAGE_BLURRY + kOff, 1, 0}},
        // A package left behind, below whatever rule reports it.
        Case{"Package",
             topicSet("RuleEngine/MyRuleDetector/Package", desc("Source", "tt:ReferenceToken"), "",
                      desc("State", "xs:boolean")),
             "package-01.xml",
             {kAsChange},
             {VEK_ALARM_REMAIN_ARTICLE, 1, 0},
             {kAsChange, kTrueToFalse},
             {VEK_ALARM_REMAIN_ARTICLE + kOff, 1, 0}},
        Case{"VideoCover",
             topicSet("UserAlarm/VideoCover", desc("VideoSourceToken", "tt:ReferenceToken"), "",
                      desc("State", "xs:boolean")),
             "video-cover-01.xml",
             {kAsChange, {"Value=\"FALSE\"", "Value=\"TRUE\""}},
             {VEK_ALARM_TAMPER, 1, 0},
             {kAsChange},
             {VEK_ALARM_TAMPER + kOff, 1, 0}},
        // The state of a PIR sensor is 0 or 1, typed as a boolean by some
        // cameras and as a number by others.
        Case{"PirSensorBooleanState",
             topicSet("Device/Sensor/PIR", desc("sensor", "xs:int"), "",
                      desc("state", "xs:boolean")),
             "pir-sensor-02.xml",
             {},
             {VEK_ALARM_MOTION, 1, 0},
             {{"Name=\"state\" Value=\"1\"", "Name=\"state\" Value=\"0\""}},
             {VEK_ALARM_MOTION + kOff, 1, 0}},
        Case{"PirSensorNumberState",
             topicSet("Device/Sensor/PIR", desc("sensor", "xs:int"), "", desc("state", "xs:int")),
             "pir-sensor-01.xml",
             {kAsChange, {"Name=\"state\" Value=\"0\"", "Name=\"state\" Value=\"1\""}},
             {VEK_ALARM_MOTION, 1, 0},
             {kAsChange},
             {VEK_ALARM_MOTION + kOff, 1, 0}},
        // An object leaving the field ends the alarm (the camera's own
        // topic set, with the object id as Key).
        Case{"ObjectsInside",
             corpusTopicSet("topicset-01.xml"),
             "objects-inside-01.xml",
             {kAsChange, kNoPlaceholder, {"Value=\"false\"", "Value=\"true\""}},
             {VEK_ALARM_OBJECTS_INSIDE, 1, 5},
             {kAsChange, kNoPlaceholder},
             {VEK_ALARM_OBJECTS_INSIDE + kOff, 1, 5}}),
    [](const ::testing::TestParamInfo<Case> &info) { return std::string(info.param.name); });

// A picture too dark or too bright is reported like a covered lens, from
// the imaging service or the analytics service.
TEST(CorpusAlarmPicture, TooDarkAndTooBrightAreTamper)
{
    for (const char *topic :
         {"VideoSource/ImageTooDark/ImagingService", "VideoSource/ImageTooDark/AnalyticsService",
          "VideoSource/ImageTooBright/ImagingService",
          "VideoSource/ImageTooBright/AnalyticsService"}) {
        SCOPED_TRACE(topic);
        Recorder recorder(
            topicSet(topic, desc("Source", "tt:ReferenceToken"), "", desc("State", "xs:boolean")));
        ASSERT_EQ(0u, recorder.discovered());
        const std::pair<std::string, std::string> asTopic = {
            "VideoSource/ImageTooDark/ImagingService",
            std::string("VideoSource/") + (std::strchr(topic, '/') + 1)};
        const std::string inactive =
            nthMessage("pull-initial-state-01.xml", 3, {kAsChange, asTopic});
        const std::string active = applyEdits(inactive, {{"Value=\"false\"", "Value=\"true\""}});
        expectReports({{VEK_ALARM_TAMPER, 1, 0}, {VEK_ALARM_TAMPER + kOff, 1, 0}},
                      recorder.receive({active, inactive}));
    }
}

// The classes of a detected object decide its code: a person is a human
// shape, anything else motion (so that the recorder records).
TEST(CorpusAlarmObjectClasses, PersonIsHumanShapeAnythingElseMotion)
{
    vektest::LogCapture log;
    Recorder recorder(
        topicSet("RuleEngine/ObjectDetection/Object",
                 desc("VideoSourceToken", "tt:ReferenceToken") + desc("Rule", "xs:string"), "",
                 desc("ClassTypes", "xs:string")));
    ASSERT_EQ(0u, recorder.discovered());
    struct ClassCase {
        const char *classes;
        uint32_t code;
    };
    const ClassCase cases[] = {
        {"Human Animal", VEK_ALARM_HUMAN_SHAPE}, {"Vehicle Person", VEK_ALARM_HUMAN_SHAPE},
        {"people", VEK_ALARM_HUMAN_SHAPE},       {"Animal", VEK_ALARM_MOTION},
        {"Vehicle Bike", VEK_ALARM_MOTION},
    };
    for (const ClassCase &c : cases) {
        SCOPED_TRACE(c.classes);
        log.clear();
        const std::string message = notifyMessage(
            "object-class-01.xml", {{"\"Human Animal\"", std::string("\"") + c.classes + "\""},
                                    {"Value=\"9c756e1c82d0-0\"", "Value=\"vsconf\""}});
        expectReports({{c.code, 2, 0}}, recorder.receive({message}));
        EXPECT_TRUE(log.has(1, 0, "VEK_Onvif_Event_MatchAlarmType",
                            std::string("Object classes[") + c.classes +
                                "] on topic[tns1:RuleEngine/ObjectDetection/Object] give alarm " +
                                std::to_string(c.code) + "."));
    }
}

// ---- Messages without a usable source -----------------------------------------

// Port -1 is any port: no input is read from it, and the alarm goes where
// a message without Source items goes.
TEST(CorpusAlarmSource, AnyPortIsNoInput)
{
    const std::string ioPort =
        topicSet("Device/IO/Port", desc("port", "xs:int"), "", desc("state", "xs:boolean"));
    Recorder recorder(ioPort);
    ASSERT_EQ(0u, recorder.discovered());
    const std::pair<std::string, std::string> on = {"Name=\"state\" Value=\"0\"",
                                                    "Name=\"state\" Value=\"1\""};
    expectReports({{VEK_ALARM_DIGITAL_INPUT, 2, 0},
                   {VEK_ALARM_DIGITAL_INPUT, 1, 0},
                   {VEK_ALARM_DIGITAL_INPUT + kOff, 1, 0}},
                  recorder.receive({notifyMessage("io-port-01.xml", {kAsChange, on}),
                                    notifyMessage("io-port-02.xml", {kAsChange, on}),
                                    notifyMessage("io-port-02.xml", {kAsChange})}));

    // Of several video sources, which one is unknown.
    vektest::LogCapture log;
    recorder.setChannelToken(0, "vs0");
    expectReports({{VEK_ALARM_DIGITAL_INPUT, 2, 0}},
                  recorder.receive({notifyMessage("io-port-01.xml", {kAsChange, on}),
                                    notifyMessage("io-port-02.xml", {kAsChange, on})}));
    EXPECT_TRUE(log.hasText("Alarm on topic[tns1:Device/tnsexample:IO/Port] names no source of "
                            "the 2 video sources, dropped."));
}

// A message without Source items is the camera's only video source; with
// several it is dropped.
TEST(CorpusAlarmSource, MessageWithoutSourceItems)
{
    const std::string cellMotion =
        topicSet("RuleEngine/CellMotionDetector/Motion", "", "", desc("Value", "xs:boolean"));
    Recorder recorder(cellMotion);
    ASSERT_EQ(0u, recorder.discovered());
    ASSERT_EQ(1u, recorder.templates());
    const std::string active = nthMessage("pull-initial-state-05.xml", 5, {kAsChange});
    const std::string inactive = applyEdits(active, {{"Value=\"True\"", "Value=\"False\""}});
    expectReports({{VEK_ALARM_MOTION, 1, 0}, {VEK_ALARM_MOTION + kOff, 1, 0}},
                  recorder.receive({active, inactive}));

    vektest::LogCapture log;
    recorder.setChannelToken(0, "vs0");
    expectReports({}, recorder.receive({active}));
    EXPECT_TRUE(log.hasText("names no source of the 2 video sources, dropped."));
    EXPECT_EQ(1u, log.lines().size());
}

// Without Source items only a template of the message's own topic takes it.
TEST(CorpusAlarmSource, MessageWithoutSourceItemsNeedsItsTopic)
{
    Recorder recorder(
        topicSet("RuleEngine/MotionRegionDetector/Motion", "", "", desc("Value", "xs:boolean")));
    ASSERT_EQ(1u, recorder.templates());
    expectReports({}, recorder.receive({nthMessage("pull-initial-state-05.xml", 5, {kAsChange})}));
}

// ---- Topic rules added at run time ----------------------------------------------

class CorpusAlarmAddedRule : public ::testing::Test
{
  protected:
    void TearDown() override { VEK_Onvif_ClearTopicRules(); }
};

// A vendor topic the table does not know, its state in a number the camera
// types as such: the rule names the state item, or leaves it to the first
// item whose value is a state word. Prefixes do not matter, "*" is any
// segment.
TEST_F(CorpusAlarmAddedRule, VendorTopicBecomesAnAlarm)
{
    const std::string vmd = topicSet("RuleEngine/tnsexample:VMD3/vmd3_video_1",
                                     desc("areaid", "xs:int"), "", desc("active", "xs:int"));
    const std::string inactive = notifyMessage("motion-vendor-rule-01.xml", {kAsChange});
    const std::string active =
        applyEdits(inactive, {{"Value=\"0\"/></tt:Data>", "Value=\"1\"/></tt:Data>"}});
    {
        Recorder without(vmd);
        EXPECT_EQ(0u, without.templates());
    }
    for (const char *stateItem : {"active", static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(stateItem != nullptr ? stateItem : "(first state word)");
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_AddTopicRule("tns1:RuleEngine/vendor:VMD3/*",
                                                       VEK_ALARM_MOTION, stateItem));
        Recorder recorder(vmd);
        ASSERT_EQ(1u, recorder.templates());
        expectReports({{VEK_ALARM_MOTION, 1, 0}, {VEK_ALARM_MOTION + kOff, 1, 0}},
                      recorder.receive({active, inactive}));
        VEK_Onvif_ClearTopicRules();
    }
}

// A rule for a topic of the built-in table takes precedence over its row.
TEST_F(CorpusAlarmAddedRule, RuleOverridesTheBuiltInRow)
{
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_AddTopicRule("tns1:RuleEngine/CellMotionDetector/Tamper",
                                                   VEK_ALARM_MOTION, "IsTamper"));
    Recorder recorder(ruleTopic("RuleEngine/CellMotionDetector/Tamper", "IsTamper"));
    ASSERT_EQ(1u, recorder.templates());
    expectReports({{VEK_ALARM_MOTION, 2, 0}, {VEK_ALARM_MOTION + kOff, 2, 0}},
                  recorder.receive({notifyMessage("tamper-01.xml", {}),
                                    notifyMessage("tamper-01.xml", {kTrueToFalse})}));
}

// A camera that describes none of its events: templates from the table
// alone take the common messages, and those of an added rule only its own.
TEST_F(CorpusAlarmAddedRule, TemplatesFromTheTableAlone)
{
    Recorder recorder(topicSet("Unknown/Topic", desc("A", "xs:int"), "", desc("B", "xs:int")));
    ASSERT_EQ(0u, recorder.templates());
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_AddTopicRule("tns1:Device/tnsexample:Light/Status",
                                                   VEK_ALARM_DOORBELL, "state"));
    ASSERT_EQ(VEK_ONVIF_OK, recorder.useTableTemplates());
    const uint32_t templates = recorder.templates();
    EXPECT_GT(templates, 30u);
    // Called again, it replaces them.
    ASSERT_EQ(VEK_ONVIF_OK, recorder.useTableTemplates());
    EXPECT_EQ(templates, recorder.templates());

    const std::string light = notifyMessage("light-status-01.xml", {kAsChange});
    expectReports(
        {{VEK_ALARM_TAMPER, 2, 0},
         {VEK_ALARM_DIGITAL_INPUT + kOff, 3, 0},
         {VEK_ALARM_MOTION, 1, 0},
         {VEK_ALARM_MOTION, 1, 0},
         {VEK_ALARM_DOORBELL, 1, 0},
         {VEK_ALARM_DOORBELL + kOff, 1, 0}},
        recorder.receive(
            {notifyMessage("tamper-01.xml", {}), notifyMessage("digital-input-01.xml", {kAsChange}),
             nthMessage("motion-changed-01.xml", 0, {}), nthMessage("motion-changed-01.xml", 1, {}),
             applyEdits(light, {{"Value=\"OFF\"", "Value=\"true\""}}),
             applyEdits(light, {{"Value=\"OFF\"", "Value=\"false\""}}),
             // Not the rule's topic, though its items are any items.
             applyEdits(light,
                        {{"Light/Status", "Light/Mode"}, {"Value=\"OFF\"", "Value=\"true\""}}),
             notifyMessage("processor-usage-01.xml", {})}));
}

// ---- States that do not come from a state item ---------------------------------

// A deleted property instance (the object is gone, the rule removed) ends
// the alarm, whatever state items the message still carries.
TEST(CorpusAlarmState, DeletedPropertyIsInactive)
{
    Recorder recorder(corpusTopicSet("topicset-01.xml"));
    ASSERT_EQ(0u, recorder.discovered());
    const std::string deleted = notifyMessage("objects-inside-03.xml", {kNoPlaceholder});
    const std::string deletedInside = notifyMessage(
        "objects-inside-03.xml",
        {kNoPlaceholder,
         {"</tt:Key>",
          "</tt:Key><tt:Data><tt:SimpleItem Name=\"IsInside\" Value=\"true\"/></tt:Data>"}});
    expectReports(
        {{VEK_ALARM_OBJECTS_INSIDE + kOff, 1, 5}, {VEK_ALARM_OBJECTS_INSIDE + kOff, 1, 5}},
        recorder.receive({deleted, deletedInside}));
}

// Face attributes read their values, but a boolean state item still says
// whether the condition holds: no camera of the corpus sends these, so the
// message is written here.
TEST(CorpusAlarmState, FaceAttributesFollowTheirStateItem)
{
    Recorder recorder(topicSet("RuleEngine/FaceRecognitionDetector/ObjectAttribute", ruleSource(),
                               "",
                               desc("ObjectId", "xs:integer") + desc("HasMask", "xs:string") +
                                   desc("State", "xs:boolean")));
    ASSERT_EQ(0u, recorder.discovered());
    auto message = [](const char *state) {
        return camsim::makeNotificationMessage(
            "tns1:RuleEngine/FaceRecognitionDetector/ObjectAttribute",
            std::string("<tt:Message UtcTime=\"2025-01-05T21:01:05Z\" PropertyOperation="
                        "\"Changed\"><tt:Source><tt:SimpleItem "
                        "Name=\"VideoSourceConfigurationToken\" Value=\"vsconf\"/><tt:SimpleItem "
                        "Name=\"VideoAnalyticsConfigurationToken\" Value=\"a\"/><tt:SimpleItem "
                        "Name=\"Rule\" Value=\"Face\"/></tt:Source><tt:Data><tt:SimpleItem "
                        "Name=\"ObjectId\" Value=\"7\"/><tt:SimpleItem Name=\"HasMask\" "
                        "Value=\"NoMask\"/><tt:SimpleItem Name=\"State\" Value=\"") +
                state + "\"/></tt:Data></tt:Message>");
    };
    expectReports({{VEK_ALARM_NO_MASK, 2, 7}, {VEK_ALARM_NO_MASK + kOff, 2, 7}},
                  recorder.receive({message("true"), message("false")}));
}

// ---- Stray text between a holder's elements --------------------------------------

TEST(CorpusAlarmStrayText, MessageIsTranslatedAsIfTheTextWereNotThere)
{
    vektest::LogCapture log;
    Recorder recorder(corpusTopicSet("topicset-01.xml"));
    ASSERT_EQ(0u, recorder.discovered());
    // The example as published: "..." before the topic.
    const std::string message = notifyMessage("objects-inside-02.xml", {});
    ASSERT_NE(std::string::npos, message.find("..."));
    // Text after the message, and text between the topic and the message.
    const std::string after =
        applyEdits(message, {kNoPlaceholder, {"</wsnt:Message>", "</wsnt:Message>tail"}});
    const std::string between =
        applyEdits(message, {kNoPlaceholder, {"<wsnt:Message>", "x <wsnt:Message>"}});
    expectReports({{VEK_ALARM_OBJECTS_INSIDE, 1, 5},
                   {VEK_ALARM_OBJECTS_INSIDE, 1, 5},
                   {VEK_ALARM_OBJECTS_INSIDE, 1, 5}},
                  recorder.receive({message, after, between}));
    EXPECT_FALSE(log.hasText("Stray text"));
}

TEST(CorpusAlarmStrayText, MessageThatCannotBeKeptIsLoggedWithItsTopic)
{
    vektest::LogCapture log;
    Recorder recorder(corpusTopicSet("topicset-01.xml"));
    ASSERT_EQ(0u, recorder.discovered());
    const std::string empty =
        "<wsnt:NotificationMessage>stray<wsnt:Topic Dialect=\"http://www.onvif.org/ver10/tev/"
        "topicExpression/ConcreteSet\">tns1:RuleEngine/FieldDetector/ObjectsInside</wsnt:Topic>"
        "<wsnt:Message></wsnt:Message></wsnt:NotificationMessage>";
    expectReports({}, recorder.receive({empty}));
    EXPECT_TRUE(log.hasText(
        "Stray text in the notification of topic[tns1:RuleEngine/FieldDetector/ObjectsInside]"));
}

} // namespace
