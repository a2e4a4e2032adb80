// Translation of the messages of a Notify into the report array.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "soapH.h"
#include "test_support.h"
#include "translate_notify.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{

constexpr const char *kTransFunc = "VEK_Onvif_TransAlarmType";

using Items = std::vector<OnvifSimpleItem>;

using vektest::item;
using vektest::valueIndexed;

// A camera configuration whose templates the caller placed.
struct Camera {
    std::deque<Items> items;
    std::vector<OnvifAlarmTemplate> templates;
    std::unique_ptr<OnvifAlarmCfg> cfg = std::make_unique<OnvifAlarmCfg>();
    OnvifAlarmInputList inputs{0, nullptr};

    void add(uint32_t code, Items source, Items key, Items data)
    {
        OnvifAlarmTemplate t{};
        t.AlarmType = code;
        auto keep = [this](Items part, uint32_t &count) -> OnvifSimpleItem * {
            count = static_cast<uint32_t>(part.size());
            if (part.empty()) {
                return nullptr;
            }
            items.push_back(std::move(part));
            return items.back().data();
        };
        t.SourceItems = keep(std::move(source), t.SourceCount);
        t.KeyItems = keep(std::move(key), t.KeyCount);
        t.DataItems = keep(std::move(data), t.DataCount);
        templates.push_back(t);
        cfg->PresetAlarmCount = static_cast<uint32_t>(templates.size());
        cfg->PresetAlarms = templates.data();
    }
};

// A Notify record as the listener receives it. A null topic leaves the
// holder without a topic record; a null message leaves it without text.
class Notify
{
  public:
    Notify &add(const char *topic, const char *message)
    {
        ns7__NotificationMessageHolderType holder;
        if (topic != nullptr) {
            texts_.emplace_back(topic);
            topics_.emplace_back();
            topics_.back().__any = texts_.back().data();
            holder.Topic = &topics_.back();
        }
        if (message != nullptr) {
            texts_.emplace_back(message);
            holder.Message.__any = texts_.back().data();
        }
        holders_.push_back(holder);
        return *this;
    }

    // A holder whose topic record carries no text.
    Notify &addEmptyTopic(const char *message)
    {
        add(nullptr, message);
        topics_.emplace_back();
        holders_.back().Topic = &topics_.back();
        return *this;
    }

    _ns7__Notify *get()
    {
        notify_.__sizeNotificationMessage = static_cast<int>(holders_.size());
        notify_.NotificationMessage = holders_.data();
        return &notify_;
    }

  private:
    std::deque<std::string> texts_;
    std::deque<ns7__TopicExpressionType> topics_;
    std::vector<ns7__NotificationMessageHolderType> holders_;
    _ns7__Notify notify_;
};

// The reports of one translation, given back to the platform afterwards.
struct Reports {
    OnvifAlarmReport *array = nullptr;
    uint32_t count = 0x5a5a;

    ~Reports() { ZU_MEM_FreeEx(reinterpret_cast<void **>(&array), __FILE__, __LINE__); }
    const OnvifAlarmReport &operator[](uint32_t i) const { return array[i]; }
};

void translate(Camera &cam, Notify &notify, Reports &out)
{
    out.array = VEK_Onvif_TransAlarmType(cam.cfg.get(), &cam.inputs, notify.get(), &out.count);
}

// Templates of a line-crossing camera.
void addLineCrossing(Camera &cam)
{
    cam.add(VEK_ALARM_LINE_CROSSED,
            {item("VideoSourceConfigurationToken", "common_string"), item("Rule", "common_string")},
            {}, {valueIndexed("ObjectId", "common_int", 0)});
}

std::string lineMessage(const std::string &token, const std::string &objectId)
{
    return R"(<tt:Message UtcTime="2024-01-01T00:00:00Z"><tt:Source>)"
           R"(<tt:SimpleItem Name="VideoSourceConfigurationToken" Value=")" +
           token +
           R"("/><tt:SimpleItem Name="Rule" Value="Fence"/></tt:Source><tt:Data>)"
           R"(<tt:SimpleItem Name="ObjectId" Value=")" +
           objectId + R"("/></tt:Data></tt:Message>)";
}

constexpr const char *kLineTopic = "tns1:RuleEngine/LineDetector/Crossed";

class AlarmTranslate : public ::testing::Test
{
  protected:
    void SetUp() override { liveBlocks_ = VEK_PLAT_GetLiveBlocks(); }
    void TearDown() override
    {
        VEK_PLAT_FailAllocAfter(-1);
        EXPECT_EQ(liveBlocks_, VEK_PLAT_GetLiveBlocks()) << "blocks left allocated";
    }

    size_t transLines() const
    {
        size_t n = 0;
        for (const vektest::LogLine &line : log_.lines()) {
            n += line.func == kTransFunc ? 1 : 0;
        }
        return n;
    }

    vektest::LogCapture log_;

  private:
    uint32_t liveBlocks_ = 0;
};

TEST_F(AlarmTranslate, OnlyTheFittingMessageGivesAReport)
{
    Camera cam;
    addLineCrossing(cam);
    const char *unmatched =
        R"(<tt:Message><tt:Source><tt:SimpleItem Name="Other" Value="x"/></tt:Source></tt:Message>)";
    Notify notify;
    notify.add(kLineTopic, unmatched)
        .add(kLineTopic, lineMessage("003", "15").c_str())
        .add(kLineTopic, unmatched);
    Reports out;
    translate(cam, notify, out);
    ASSERT_EQ(1u, out.count);
    ASSERT_NE(nullptr, out.array);
    EXPECT_EQ(6u, out[0].AlarmType);
    EXPECT_EQ(3u, out[0].Channel);
    EXPECT_EQ(15, out[0].ObjectValue);
    EXPECT_EQ(0xFFFFFFFFu, out[0].Reserved);
    EXPECT_EQ(0, out[0].ExtensionValue);
    EXPECT_TRUE(log_.has(
        1, 100, kTransFunc,
        R"(Do not find Alarm[<Message><Source><SimpleItem Name="Other" Value="x"/></Source></Message>] on alarmcfg.)"));
    EXPECT_EQ(2u, transLines());
}

TEST_F(AlarmTranslate, MessagesThatAllFailGiveNoArray)
{
    Camera cam;
    addLineCrossing(cam);
    Notify notify;
    notify.add(kLineTopic, "<tt:Message><tt:Source")
        .add(kLineTopic, R"(<tt:Message PropertyOperation="Initialized"><tt:Source>)"
                         R"(<tt:SimpleItem Name="Rule" Value="r"/></tt:Source></tt:Message>)")
        .add(kLineTopic, "<tt:Message><tt:Source/></tt:Message>")
        .add("tns1:RuleEngine/LeaveZone", lineMessage("1", "2").c_str());
    Reports out;
    translate(cam, notify, out);
    EXPECT_EQ(nullptr, out.array);
    EXPECT_EQ(0u, out.count);
    EXPECT_TRUE(log_.has(1, VEK_ONVIF_ERR_FAIL, kTransFunc,
                         "Failed to trans alarm message[<tt:Message><tt:Source] to xml."));
    EXPECT_TRUE(
        log_.has(1, VEK_ONVIF_ERR_PARAM, kTransFunc,
                 R"(Failed to parse alarm message[<Message PropertyOperation="Initialized">)"
                 R"(<Source><SimpleItem Name="Rule" Value="r"/></Source></Message>] info.)"));
    EXPECT_TRUE(log_.has(1, VEK_ONVIF_ERR_SOAP, kTransFunc,
                         "Failed to parse alarm message[<Message><Source/></Message>] info."));
    std::string stripped = lineMessage("1", "2");
    for (size_t at = stripped.find("tt:"); at != std::string::npos; at = stripped.find("tt:")) {
        stripped.erase(at, 3);
    }
    EXPECT_TRUE(log_.has(1, VEK_ONVIF_ERR_FAIL, kTransFunc,
                         "Do not find Alarm[" + stripped + "] on alarmcfg."));
    EXPECT_EQ(4u, transLines());
}

TEST_F(AlarmTranslate, NoMessagesAndInvalidArguments)
{
    Camera cam;
    for (int size : {0, -3}) {
        Notify notify;
        _ns7__Notify *record = notify.get();
        ns7__NotificationMessageHolderType holder;
        record->NotificationMessage = &holder;
        record->__sizeNotificationMessage = size;
        uint32_t count = 7;
        EXPECT_EQ(nullptr, VEK_Onvif_TransAlarmType(cam.cfg.get(), &cam.inputs, record, &count));
        EXPECT_EQ(0u, count);
    }
    EXPECT_TRUE(log_.lines().empty());

    Notify notify;
    notify.add(kLineTopic, lineMessage("1", "2").c_str());
    _ns7__Notify withoutHolders;
    withoutHolders.__sizeNotificationMessage = 1;
    uint32_t count = 7;
    EXPECT_EQ(nullptr, VEK_Onvif_TransAlarmType(nullptr, &cam.inputs, notify.get(), &count));
    EXPECT_EQ(nullptr, VEK_Onvif_TransAlarmType(cam.cfg.get(), nullptr, notify.get(), &count));
    EXPECT_EQ(nullptr, VEK_Onvif_TransAlarmType(cam.cfg.get(), &cam.inputs, nullptr, &count));
    EXPECT_EQ(nullptr,
              VEK_Onvif_TransAlarmType(cam.cfg.get(), &cam.inputs, &withoutHolders, &count));
    EXPECT_EQ(nullptr, VEK_Onvif_TransAlarmType(cam.cfg.get(), &cam.inputs, notify.get(), nullptr));
    EXPECT_EQ(7u, count);
    EXPECT_TRUE(log_.has(4, VEK_ONVIF_ERR_NULL, kTransFunc, "Invalid input Param."));
    EXPECT_EQ(5u, transLines());
}

TEST_F(AlarmTranslate, ReportArrayAllocationFailure)
{
    Camera cam;
    addLineCrossing(cam);
    Notify notify;
    notify.add(kLineTopic, lineMessage("1", "2").c_str());
    VEK_PLAT_FailAllocAfter(0);
    Reports out;
    translate(cam, notify, out);
    EXPECT_EQ(nullptr, out.array);
    EXPECT_EQ(0u, out.count);
    EXPECT_TRUE(log_.has(4, VEK_ONVIF_ERR_NOMEM, kTransFunc, "Fail to malloc pstAlmOut memory."));
}

// ---- Face attributes --------------------------------------------------

constexpr const char *kFaceTopic = "tns1:RuleEngine/FaceRecognitionDetector/ObjectAttribute";

void addFaceAttributes(Camera &cam)
{
    cam.add(VEK_ALARM_FACE_ATTRIBUTES, {item("VideoSourceToken", "common_string")}, {},
            {item("ObjectId", "common_int"), item("HasMask", "common_string"),
             item("TemperatureState", "common_string")});
}

std::string faceMessage(const std::string &objectId, const std::string &mask,
                        const std::string &temperature)
{
    return R"(<tt:Message><tt:Source><tt:SimpleItem Name="VideoSourceToken" Value="002"/>)"
           R"(</tt:Source><tt:Data><tt:SimpleItem Name="ObjectId" Value=")" +
           objectId + R"("/><tt:SimpleItem Name="HasMask" Value=")" + mask +
           R"("/><tt:SimpleItem Name="TemperatureState" Value=")" + temperature +
           R"("/></tt:Data></tt:Message>)";
}

TEST_F(AlarmTranslate, FaceAttributesSplitIntoMaskAndTemperatureReports)
{
    Camera cam;
    addFaceAttributes(cam);
    Notify notify;
    // Two slots to begin with; the second message's reports each grow the
    // array by one.
    notify.add(kFaceTopic, faceMessage("7", "NoMask", "AbNormal").c_str())
        .add(kFaceTopic, faceMessage("8", "Unknown", "AbNormal").c_str());
    Reports out;
    translate(cam, notify, out);
    ASSERT_EQ(4u, out.count);
    const uint16_t codes[] = {23, 24, 23, 24};
    const int32_t objects[] = {7, 7, 8, 8};
    for (uint32_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(codes[i], out[i].AlarmType);
        EXPECT_EQ(objects[i], out[i].ObjectValue);
        EXPECT_EQ(2u, out[i].Channel);
        EXPECT_EQ(3u, out[i].AttributeFlags);
        EXPECT_EQ(0xFFFFFFFFu, out[i].Reserved);
    }
}

TEST_F(AlarmTranslate, FaceAttributesWithOneOrNoCondition)
{
    struct Case {
        const char *mask;
        const char *temperature;
        std::vector<uint16_t> codes;
    };
    const Case cases[] = {
        {"NoMask", "Normal", {23}},
        {"Mask", "AbNormal", {24}},
        {"Mask", "Normal", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.mask) + "/" + c.temperature);
        Camera cam;
        addFaceAttributes(cam);
        Notify notify;
        notify.add(kFaceTopic, faceMessage("1", c.mask, c.temperature).c_str());
        Reports out;
        translate(cam, notify, out);
        ASSERT_EQ(c.codes.size(), out.count);
        EXPECT_EQ(c.codes.empty(), out.array == nullptr);
        for (uint32_t i = 0; i < out.count; ++i) {
            EXPECT_EQ(c.codes[i], out[i].AlarmType);
        }
    }
}

TEST_F(AlarmTranslate, FailedGrowthDropsOnlyThatReport)
{
    Camera cam;
    addFaceAttributes(cam);
    Notify notify;
    notify.add(kFaceTopic, faceMessage("7", "NoMask", "AbNormal").c_str());
    // The report array and the message's Source and Data arrays succeed.
    VEK_PLAT_FailAllocAfter(3);
    Reports out;
    translate(cam, notify, out);
    ASSERT_EQ(1u, out.count);
    EXPECT_EQ(23u, out[0].AlarmType);
    EXPECT_EQ(7, out[0].ObjectValue);
    EXPECT_TRUE(
        log_.has(4, VEK_ONVIF_ERR_NOMEM, kTransFunc,
                 "Faile to realloc Memory size =" + std::to_string(2 * sizeof(OnvifAlarmReport))));
}

// ---- Message fields ---------------------------------------------------

TEST_F(AlarmTranslate, ExtensionValueOfASingleExtensionItem)
{
    Camera cam;
    cam.add(VEK_ALARM_MOTION, {item("Token", "")}, {}, {});
    const std::string source = R"(<tt:Source><tt:SimpleItem Name="Token" Value="t"/></tt:Source>)";
    Notify notify;
    notify
        .add(
            "tns1:VideoSource/MotionAlarm",
            ("<tt:Message>" + source +
             R"(<tt:Extension><tt:SimpleItem Name="Level" Value="17"/></tt:Extension></tt:Message>)")
                .c_str())
        .add("tns1:VideoSource/MotionAlarm", ("<tt:Message>" + source + "</tt:Message>").c_str())
        .add(
            "tns1:VideoSource/MotionAlarm",
            ("<tt:Message>" + source +
             R"(<tt:Extension><tt:SimpleItem Name="A" Value="3"/><tt:SimpleItem Name="B" Value="4"/>)"
             R"(</tt:Extension></tt:Message>)")
                .c_str());
    Reports out;
    translate(cam, notify, out);
    ASSERT_EQ(3u, out.count);
    EXPECT_EQ(17, out[0].ExtensionValue);
    EXPECT_EQ(0, out[1].ExtensionValue);
    EXPECT_EQ(0, out[2].ExtensionValue);
}

TEST_F(AlarmTranslate, LongTopicIsMatchedOnItsFirst255Characters)
{
    Camera cam;
    cam.add(VEK_ALARM_MOTION,
            {item("VideoSourceConfigurationToken", "common_string"), item("Rule", "common_string")},
            {}, {valueIndexed("ObjectId", "common_int", 0)});
    // The refused word lies beyond the part that is kept.
    std::string topic = "tns1:RuleEngine/LineDetector/Crossed/";
    topic += std::string(291 - topic.size(), 'x') + "LeaveZone";
    ASSERT_EQ(300u, topic.size());
    std::string exact = kLineTopic;
    exact += "/" + std::string(255 - exact.size() - 1, 'y');
    ASSERT_EQ(255u, exact.size());

    Notify notify;
    notify.add(topic.c_str(), lineMessage("1", "4").c_str())
        .add(exact.c_str(), lineMessage("1", "5").c_str());
    Reports out;
    translate(cam, notify, out);
    ASSERT_EQ(2u, out.count);
    EXPECT_EQ(6u, out[0].AlarmType);
    EXPECT_EQ(4, out[0].ObjectValue);
    EXPECT_EQ(6u, out[1].AlarmType);
    EXPECT_TRUE(log_.has(1, VEK_ONVIF_ERR_PARAM, kTransFunc,
                         "The alarm topic[" + topic + "] is too long."));
    EXPECT_EQ(1u, transLines());
}

TEST_F(AlarmTranslate, HoldersWithoutTopicOrMessage)
{
    Camera cam;
    cam.add(VEK_ALARM_SOUND, {item("Token", "")}, {}, {});
    const char *message =
        R"(<tt:Message><tt:Source><tt:SimpleItem Name="Token" Value="t"/></tt:Source></tt:Message>)";
    Notify notify;
    notify.add(nullptr, message).add(kLineTopic, nullptr).addEmptyTopic(message);
    Reports out;
    translate(cam, notify, out);
    ASSERT_EQ(2u, out.count);
    // Without a topic no rule applies: the template's own code.
    EXPECT_EQ(5u, out[0].AlarmType);
    EXPECT_EQ(5u, out[1].AlarmType);
    EXPECT_EQ(0u, transLines());
}

// ---- Camera payloads --------------------------------------------------

// The topic text and inner message element of every notification message
// of a payload, as the listener's Notify record holds them.
std::vector<std::pair<std::string, std::string>> notificationMessages(const std::string &xml)
{
    std::vector<std::pair<std::string, std::string>> messages;
    auto between = [&xml](size_t from, const std::string &open, const std::string &close,
                          bool inner) -> std::pair<std::string, size_t> {
        const size_t start = xml.find(open, from);
        if (start == std::string::npos) {
            return {"", std::string::npos};
        }
        const size_t end = xml.find(close, start);
        const size_t textStart = inner ? xml.find('>', start) + 1 : start;
        const size_t textEnd = inner ? end : end + close.size();
        return {xml.substr(textStart, textEnd - textStart), end};
    };
    size_t at = 0;
    while (true) {
        auto [topic, topicEnd] = between(at, "<wsnt:Topic", "</wsnt:Topic>", true);
        if (topicEnd == std::string::npos) {
            break;
        }
        auto [message, messageEnd] = between(topicEnd, "<tt:Message ", "</tt:Message>", false);
        messages.emplace_back(topic, message);
        at = messageEnd;
    }
    return messages;
}

TEST_F(AlarmTranslate, CorpusPayloads)
{
    struct Expected {
        uint16_t code;
        uint32_t channel;
        int32_t objectValue;
    };
    struct Case {
        const char *file;
        void (*setUp)(Camera &);
        std::vector<Expected> reports;
    };
    const Case cases[] = {
        {"line-crossed-01.xml",
         [](Camera &cam) {
             cam.add(1,
                     {item("VideoSource", "common_string"),
                      item("AnalyticsConfiguration", "common_string"),
                      item("Rule", "common_string")},
                     {}, {valueIndexed("ObjectId", "common_int", 0)});
             std::snprintf(cam.cfg->ChannelTokens[1].SecondaryToken, 128, "%s", "1");
         },
         {{6, 2, 15}, {6, 2, 19}}},
        {"objects-inside-02.xml",
         [](Camera &cam) {
             cam.add(8,
                     {item("VideoSourceConfigurationToken", "common_string"),
                      item("VideoAnalyticsConfigurationToke", "common_string"),
                      item("Rule", "common_string")},
                     {valueIndexed("ObjectId", "common_int", 0)},
                     {item("IsInside", "common_boolean")});
         },
         {{8, 1, 5}}},
        {"motion-changed-01.xml",
         [](Camera &cam) {
             cam.add(1, {item("VideoSourceConfigurationToken", "common_string")}, {},
                     {item("IsMotion", "common_boolean")});
         },
         {{1, 1, 0}, {1, 1, 0}}},
        {"pull-initial-state-04.xml",
         [](Camera &cam) {
             cam.add(1, {item("VideoSourceConfigurationToken", "common_string")}, {},
                     {item("IsMotion", "common_boolean")});
         },
         {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        Camera cam;
        c.setUp(cam);
        Notify notify;
        const auto messages =
            notificationMessages(vektest::readFixture(std::string("corpus/notify/") + c.file));
        ASSERT_FALSE(messages.empty());
        for (const auto &[topic, message] : messages) {
            notify.add(topic.c_str(), message.c_str());
        }
        Reports out;
        translate(cam, notify, out);
        ASSERT_EQ(c.reports.size(), out.count);
        for (uint32_t i = 0; i < out.count; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(c.reports[i].code, out[i].AlarmType);
            EXPECT_EQ(c.reports[i].channel, out[i].Channel);
            EXPECT_EQ(c.reports[i].objectValue, out[i].ObjectValue);
        }
    }
}

// The pull point's initial states: an "Initialized" message is reported
// like a change only when asked for, however its attribute is written.
// An initial state is one only for an alarm that has a state: the initial
// message of a line crossing (an event) reports nothing, even when asked.
TEST_F(AlarmTranslate, InitialStatesOnlyWhenAskedAndOnlyWithAState)
{
    const char *operations[] = {
        R"(PropertyOperation="Initialized")",
        R"(PropertyOperation='Initialized')",
        R"(PropertyOperation = "Initialized")",
    };
    Camera cam;
    addLineCrossing(cam);
    cam.add(VEK_ALARM_MOTION, {item("Source", "common_string")}, {},
            {item("State", "common_boolean")});
    for (const char *operation : operations) {
        std::string line = lineMessage("003", "15");
        line.insert(line.find(" UtcTime"), std::string(" ") + operation);
        std::string motion = R"(<tt:Message UtcTime="2024-01-01T00:00:00Z"><tt:Source>)"
                             R"(<tt:SimpleItem Name="Source" Value="002"/></tt:Source><tt:Data>)"
                             R"(<tt:SimpleItem Name="State" Value="true"/></tt:Data></tt:Message>)";
        motion.insert(motion.find(" UtcTime"), std::string(" ") + operation);
        for (const bool initialStates : {false, true}) {
            SCOPED_TRACE(std::string(operation) + (initialStates ? " with" : " without") +
                         " initial states");
            log_.clear();
            Notify notify;
            notify.add(kLineTopic, line.c_str());
            notify.add("tns1:VideoSource/MotionAlarm", motion.c_str());
            Reports out;
            out.array = vek::alarm::translateNotify(cam.cfg.get(), &cam.inputs, notify.get(),
                                                    &out.count, initialStates);
            if (initialStates) {
                ASSERT_EQ(1u, out.count);
                EXPECT_EQ(VEK_ALARM_MOTION, out[0].AlarmType);
                EXPECT_EQ(2u, out[0].Channel);
                EXPECT_TRUE(log_.hasText("ObjectId\" Value=\"15\"/></Data></Message>] carries no "
                                         "state, dropped."));
            } else {
                EXPECT_EQ(0u, out.count);
                EXPECT_EQ(nullptr, out.array);
                EXPECT_TRUE(log_.hasText("alarm PropertyOperation is:Initialized"));
            }
        }
    }
}

} // namespace
