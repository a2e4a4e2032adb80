// Capability discovery from a topic-set text: the walk over root topics,
// the count that sizes the template array, the smart-report capabilities,
// and the templates built from message descriptions.
#include <gtest/gtest.h>
#include <mxml.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery_expect.h"
#include "test_support.h"
#include "vek_log.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{

using vek::kLevelError;
using vek::kLevelInfo;

using vektest::Cfg;
using vektest::Expected;
using vektest::expectTemplates;
using vektest::Item;

const Item kStr(const char *name)
{
    return {name, "common_string", 0, 0};
}
const Item kBool(const char *name)
{
    return {name, "common_boolean", 0, 0};
}
const Item kInt(const char *name, int32_t index = 0)
{
    return {name, "common_int", 1, index};
}

// A message description with one Source item "Src" and one Data item
// "State" (boolean).
std::string md(const std::string &extra = "")
{
    return "<MessageDescription><Source><SimpleItemDescription Name=\"Src\" "
           "Type=\"tt:ReferenceToken\"/></Source>" +
           extra +
           "<Data><SimpleItemDescription Name=\"State\" Type=\"xs:boolean\"/></Data>"
           "</MessageDescription>";
}

std::string topicSet(const std::string &roots)
{
    return "<Message>" + roots + "</Message>";
}

// ---- The walk over root topics -----------------------------------------

// Each template names its topic path below the topic set (the tool shows
// it); a template that is not built leaves no trace of its topic.
TEST(TopicWalkTopics, TemplatesNameTheirTopicPath)
{
    Cfg cfg;
    std::string text = topicSet("<RuleEngine><CellMotionDetector><Motion>" + md() +
                                "</Motion></CellMotionDetector></RuleEngine>"
                                "<VideoSource><A><B><MotionAlarm>" +
                                md() + "</MotionAlarm></B></A></VideoSource>");
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &cfg.cfg));
    expectTemplates(
        {{1, {kStr("Src")}, {}, {kBool("State")}, "RuleEngine/CellMotionDetector/Motion"},
         {1, {kStr("Src")}, {}, {kBool("State")}, "VideoSource/A/B/MotionAlarm"}},
        cfg.cfg);
}

struct WalkCase {
    const char *name;
    std::string roots;
    std::vector<uint32_t> codes; // templates in order
    uint32_t counted;            // rows counted, the size of the array
};

class TopicWalk : public ::testing::TestWithParam<WalkCase>
{
};

TEST_P(TopicWalk, BuildsTheTemplatesOfTheTableInOrder)
{
    const WalkCase &c = GetParam();
    std::string text = topicSet(c.roots);

    // The count the walk sizes its array with.
    mxml_node_t *doc = mxmlLoadString(nullptr, text.c_str(), MXML_NO_CALLBACK);
    ASSERT_NE(nullptr, doc);
    uint32_t counted = 99;
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetAlarmNum(doc, &counted));
    mxmlDelete(doc);
    EXPECT_EQ(c.counted, counted);

    Cfg cfg;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &cfg.cfg));
    ASSERT_EQ(c.codes.size(), cfg.cfg.PropeAlarmCount);
    for (size_t i = 0; i < c.codes.size(); ++i) {
        EXPECT_EQ(c.codes[i], cfg.cfg.pstPropeAlarmInfo[i].AlarmType) << "template " << i;
    }
    // Counted rows that could not be built leave zeroed spare records at
    // the end of the array (read under ASan: they must exist).
    for (uint32_t i = cfg.cfg.PropeAlarmCount; i < counted; ++i) {
        EXPECT_EQ(0u, cfg.cfg.pstPropeAlarmInfo[i].AlarmType);
        EXPECT_EQ(nullptr, cfg.cfg.pstPropeAlarmInfo[i].SourceItems);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TopicWalk,
    ::testing::Values(
        WalkCase{"NestedTwoLevels",
                 "<VideoSource><A><B><MotionAlarm>" + md() + "</MotionAlarm></B></A></VideoSource>",
                 {1},
                 1},
        WalkCase{"CountedButNotBuiltLeavesSpare",
                 "<VideoSource><GlobalSceneChange><ImagingService>" + md() +
                     "</ImagingService></GlobalSceneChange><Other><AnalyticsService>" + md() +
                     "</AnalyticsService></Other></VideoSource>",
                 {3},
                 2},
        WalkCase{"TableOrderNotDocumentOrder",
                 "<RuleEngine><LineDetector><Crossed>" + md() +
                     "</Crossed></LineDetector><CellMotionDetector><Motion>" + md() +
                     "</Motion></CellMotionDetector><TamperDetector><Tamper>" + md() +
                     "</Tamper></TamperDetector><FieldDetector><ObjectsInside>" + md() +
                     "</ObjectsInside></FieldDetector></RuleEngine>",
                 {1, 8, 3, 6},
                 // CellMotionDetector/Tamper is counted (both names are
                 // below the root) but has no Tamper below its start.
                 5},
        WalkCase{"FaceRecognitionTwoTemplates",
                 "<RuleEngine><FaceRecognitionDetector><ObjectAttribute>" + md() +
                     "</ObjectAttribute><ObjectIsRecognized>" + md() +
                     "</ObjectIsRecognized></FaceRecognitionDetector></RuleEngine>",
                 {7, 2000},
                 2},
        WalkCase{"DeviceTriggerAndPort",
                 "<Device><IO><Port>" + md() + "</Port></IO><Trigger><DigitalInput>" + md() +
                     "</DigitalInput></Trigger></Device>",
                 {4, 4},
                 2},
        WalkCase{"TwoRootsOfOneName",
                 "<VideoSource><Tampering>" + md() +
                     "</Tampering></VideoSource><Media/><VideoSource><MotionAlarm>" + md() +
                     "</MotionAlarm><DoorbellAlarm>" + md() + "</DoorbellAlarm></VideoSource>",
                 {3, 1, 22},
                 3},
        WalkCase{"EveryVideoSourceRow",
                 "<VideoSource><DoorbellAlarm>" + md() + "</DoorbellAlarm><ImageTooBlurry>" +
                     "<AnalyticsService>" + md() +
                     "</AnalyticsService></ImageTooBlurry><GlobalSceneChange><AnalyticsService>" +
                     md() + "</AnalyticsService><ImagingService>" + md() +
                     "</ImagingService></GlobalSceneChange><SmartTracking>" + md() +
                     "</SmartTracking><Tampering>" + md() + "</Tampering><MotionAlarm>" + md() +
                     "</MotionAlarm></VideoSource>",
                 {1, 3, 11, 3, 10, 9, 22},
                 // ImageTooBlurry/ImagingService counted, not built.
                 8},
        WalkCase{"AnalyticsAudioConfiguration",
                 "<VideoAnalytics><MotionDetector><FigureChanged>" + md() +
                     "</FigureChanged></MotionDetector><MotionAlarm>" + md() +
                     "</MotionAlarm><MotionDetection>" + md() +
                     "</MotionDetection></VideoAnalytics><AudioAnalytics><Audio><DetectedSound>" +
                     md() + "</DetectedSound></Audio></AudioAnalytics><Configuration>" +
                     "<VideoAnalyticsConfiguration>" + md() +
                     "</VideoAnalyticsConfiguration></Configuration>",
                 {1, 1, 1, 5, 418},
                 5},
        WalkCase{"UserAlarmBothLoginSpellingsAndIva",
                 "<UserAlarm><CareArticle>" + md() + "</CareArticle><RemainArticle>" + md() +
                     "</RemainArticle><IVA><HumanShapeDetect>" + md() +
                     "</HumanShapeDetect></IVA><IlleggalLogin>" + md() +
                     "</IlleggalLogin><IllegalLogin>" + md() + "</IllegalLogin></UserAlarm>",
                 {404, 404, 21, 16, 15},
                 5},
        WalkCase{"ArticlesWithoutIvaIgnored",
                 "<UserAlarm><RemainArticle>" + md() + "</RemainArticle><CareArticle>" + md() +
                     "</CareArticle></UserAlarm>",
                 {},
                 0},
        WalkCase{"CaseAndPrefixMatter",
                 "<videosource><MotionAlarm>" + md() + "</MotionAlarm></videosource>" +
                     "<tns1:VideoSource><MotionAlarm>" + md() + "</MotionAlarm></tns1:VideoSource>",
                 {},
                 0},
        WalkCase{"RootItselfIsNotItsOwnDescendant",
                 "<VideoSource><Tampering>" + md() + "</Tampering></VideoSource>" +
                     "<MotionAlarm>" + md() + "</MotionAlarm>",
                 {3},
                 1}),
    [](const ::testing::TestParamInfo<WalkCase> &info) { return info.param.name; });

TEST(TopicWalkLog, UnknownRootsAndEmptySets)
{
    vektest::LogCapture log;
    Cfg cfg;
    // Text and comment nodes between roots are passed over.
    std::string text = "<Message>\n  <!-- c --><Monitoring><MotionAlarm>" + md() +
                       "</MotionAlarm></Monitoring> x <VideoSource><MotionAlarm>" + md() +
                       "</MotionAlarm></VideoSource></Message>";
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &cfg.cfg));
    EXPECT_TRUE(log.has(kLevelInfo, 102, "VEK_Onvif_GetAlarmNum",
                        "The node[Monitoring] do not be concerned."));
    EXPECT_TRUE(log.has(kLevelInfo, 102, "VEK_Onvif_Event_ParsePropeMsg",
                        "The node[Monitoring] do not be concerned."));
    expectTemplates({{1, {kStr("Src")}, {}, {kBool("State")}}}, cfg.cfg);

    // Only roots outside the table: counted as nothing, no array.
    log.clear();
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_ParsePropeMsg(
                  "<Message><Monitoring><MotionAlarm/></Monitoring></Message>", &cfg.cfg));
    EXPECT_TRUE(log.has(kLevelInfo, 102, "VEK_Onvif_GetAlarmNum",
                        "The node[Monitoring] do not be concerned."));
    EXPECT_TRUE(log.has(kLevelInfo, 0, "VEK_Onvif_Event_ParsePropeMsg", "Find no alarm on XML."));
    expectTemplates({}, cfg.cfg);

    log.clear();
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_ParsePropeMsg("<Message/>", &cfg.cfg));
    EXPECT_TRUE(log.has(kLevelInfo, 0, "VEK_Onvif_Event_ParsePropeMsg", "Find no alarm on XML."));
    expectTemplates({}, cfg.cfg);
}

TEST(TopicWalkLog, KnownTopicWithoutUsableDescriptionFreesTheArray)
{
    vektest::LogCapture log;
    uint32_t before = VEK_PLAT_GetLiveBlocks();
    Cfg cfg;
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_ParsePropeMsg(
                  "<Message><VideoSource><MotionAlarm/></VideoSource></Message>", &cfg.cfg));
    EXPECT_TRUE(log.has(kLevelError, 112, "VEK_Onvif_GetPropeAlarm", "can not find message node."));
    expectTemplates({}, cfg.cfg);
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
}

struct ParseFailure {
    const char *name;
    const char *text;
    bool nullCfg;
    int32_t level;
    uint32_t code;
    const char *log;
    uint32_t result;
};

class TopicWalkFailure : public ::testing::TestWithParam<ParseFailure>
{
};

TEST_P(TopicWalkFailure, LeavesTheConfigurationEmpty)
{
    const ParseFailure &c = GetParam();
    vektest::LogCapture log;
    Cfg cfg;
    EXPECT_EQ(c.result, VEK_Onvif_Event_ParsePropeMsg(c.text, c.nullCfg ? nullptr : &cfg.cfg));
    EXPECT_TRUE(log.has(c.level, c.code, "VEK_Onvif_Event_ParsePropeMsg", c.log));
    expectTemplates({}, cfg.cfg);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TopicWalkFailure,
    ::testing::Values(ParseFailure{"NullText", nullptr, false, kLevelError, VEK_ONVIF_ERR_PARAM,
                                   "Invalid input Param.", VEK_ONVIF_ERR_PARAM},
                      ParseFailure{"NullCfg", "<Message/>", true, kLevelError, VEK_ONVIF_ERR_PARAM,
                                   "Invalid input Param.", VEK_ONVIF_ERR_PARAM},
                      ParseFailure{"NotXml", "<Message><VideoSource></Message>", false, kLevelError,
                                   VEK_ONVIF_ERR_FAIL, "Failed to load alarm string.",
                                   VEK_ONVIF_ERR_FAIL},
                      ParseFailure{"NoMessage", "<TopicSet><VideoSource/></TopicSet>", false,
                                   kLevelError, VEK_ONVIF_ERR_FAIL, "Find no node[Message].",
                                   VEK_ONVIF_ERR_FAIL}),
    [](const ::testing::TestParamInfo<ParseFailure> &info) { return info.param.name; });

TEST(AlarmNum, NullArguments)
{
    vektest::LogCapture log;
    uint32_t count = 7;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_GetAlarmNum(nullptr, &count));
    EXPECT_EQ(7u, count);
    mxml_node_t *doc = mxmlLoadString(nullptr, "<Message/>", MXML_NO_CALLBACK);
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_GetAlarmNum(doc, nullptr));
    mxmlDelete(doc);
    EXPECT_TRUE(log.has(kLevelError, 102, "VEK_Onvif_GetAlarmNum", "Invalid input Param."));
}

TEST(TopicWalkMemory, TemplateArrayNotAllocated)
{
    vektest::LogCapture log;
    Cfg cfg;
    std::string text =
        topicSet("<VideoSource><MotionAlarm>" + md() + "</MotionAlarm></VideoSource>");
    uint32_t before = VEK_PLAT_GetLiveBlocks();
    VEK_PLAT_FailAllocAfter(0);
    uint32_t result = VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &cfg.cfg);
    VEK_PLAT_FailAllocAfter(-1);
    EXPECT_EQ(VEK_ONVIF_ERR_NOMEM, result);
    EXPECT_TRUE(log.has(kLevelError, 104, "VEK_Onvif_Event_ParsePropeMsg",
                        "Failed to malloc pstPropeAlarmInfo memory."));
    expectTemplates({}, cfg.cfg);
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
}

TEST(TopicWalkMemory, WalkingAgainReplacesTheTemplates)
{
    std::string text = topicSet("<RuleEngine><FieldDetector><ObjectsInside>" +
                                md("<Key><SimpleItemDescription Name=\"ObjectId\" "
                                   "Type=\"xs:integer\"/></Key>") +
                                "</ObjectsInside></FieldDetector></RuleEngine>");
    uint32_t before = VEK_PLAT_GetLiveBlocks();
    {
        Cfg cfg;
        for (int round = 0; round < 3; ++round) {
            ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &cfg.cfg));
            expectTemplates({{8, {kStr("Src")}, {kInt("ObjectId")}, {kBool("State")}}}, cfg.cfg);
        }
        // Array and three item arrays.
        EXPECT_EQ(before + 4, VEK_PLAT_GetLiveBlocks());
    }
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
}

// ---- Smart-report capabilities -------------------------------------------

TEST(SmartReportCaps, SetByUserAlarmAndOtherwiseLeftAlone)
{
    const OnvifSmartCaps preset{7, 7, 7, 7, 7};
    struct Case {
        const char *name;
        const char *userAlarm;
        OnvifSmartCaps expected;
    } cases[] = {
        {"FieldAndCount",
         "<UserAlarm><SmartHttpReport><FieldDetector/><CountAggregation/></SmartHttpReport>"
         "</UserAlarm>",
         {1, 7, 1, 7, 1}},
        {"KindsSearchedInTheWholeRoot",
         "<UserAlarm><SmartHttpReport/><X><LineDetector/><FaceDetector/></X></UserAlarm>",
         {1, 1, 7, 1, 7}},
        {"NoKind", "<UserAlarm><SmartHttpReport/></UserAlarm>", {0, 7, 7, 7, 7}},
        {"BesideAlarmTopics",
         "<UserAlarm><IllegalLogin><MessageDescription><Source><SimpleItemDescription Name=\"A\" "
         "Type=\"xs:int\"/></Source><Data><SimpleItemDescription Name=\"B\" "
         "Type=\"xs:boolean\"/></Data></MessageDescription></IllegalLogin><SmartHttpReport>"
         "<LineDetector/></SmartHttpReport></UserAlarm>",
         {1, 1, 7, 7, 7}},
        {"NoSmartHttpReport", "<UserAlarm><LineDetector/></UserAlarm>", {7, 7, 7, 7, 7}},
        {"OnlyUnderUserAlarm",
         "<RuleEngine><SmartHttpReport><LineDetector/></SmartHttpReport></RuleEngine>",
         {7, 7, 7, 7, 7}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Cfg cfg;
        cfg.cfg.stSmartCaps = preset;
        ASSERT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Event_ParsePropeMsg(topicSet(c.userAlarm).c_str(), &cfg.cfg));
        EXPECT_EQ(0, std::memcmp(&c.expected, &cfg.cfg.stSmartCaps, sizeof c.expected));
    }
}

// ---- Message descriptions into templates -------------------------------

// A configuration with room for a few templates, as the walk prepares it.
struct RoomyCfg : Cfg {
    RoomyCfg()
    {
        cfg.pstPropeAlarmInfo = static_cast<OnvifAlarmTemplate *>(
            ZU_MEM_MallocEx(ghVekMgrModHdl, 4 * sizeof(OnvifAlarmTemplate), __FILE__, __LINE__));
        std::memset(cfg.pstPropeAlarmInfo, 0, 4 * sizeof(OnvifAlarmTemplate));
    }
};

// Builds the template of topic "T" below <Start> from the description xml.
uint32_t buildOne(const std::string &description, uint32_t code, OnvifAlarmCfg *cfg)
{
    std::string text = "<Start><T>" + description + "</T></Start>";
    mxml_node_t *doc = mxmlLoadString(nullptr, text.c_str(), MXML_NO_CALLBACK);
    uint32_t result = VEK_Onvif_GetAlarmNode(doc, "T", code, cfg);
    mxmlDelete(doc);
    return result;
}

std::string sid(const char *name, const char *type)
{
    return std::string("<SimpleItemDescription Name=\"") + name + "\" Type=\"" + type + "\"/>";
}

struct DescriptionCase {
    const char *name;
    uint32_t code;
    std::string description;
    Expected expected;
};

class Description : public ::testing::TestWithParam<DescriptionCase>
{
};

TEST_P(Description, BuildsItemsAndValueTypes)
{
    const DescriptionCase &c = GetParam();
    RoomyCfg cfg;
    ASSERT_EQ(VEK_ONVIF_OK, buildOne(c.description, c.code, &cfg.cfg));
    expectTemplates({c.expected}, cfg.cfg);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Description,
    ::testing::Values(
        DescriptionCase{"MotionValueTypes",
                        1,
                        "<MessageDescription><Source>" + sid("Tok", "tt:ReferenceToken") +
                            sid("Flag", "xs:boolean") + sid("Ch", "xs:int") + "</Source><Key>" +
                            sid("K", "xs:integer") + sid("KB", "xs:boolean") + "</Key><Data>" +
                            sid("On", "xs:boolean") + sid("N", "xsd:int") + sid("S", "xs:string") +
                            "</Data></MessageDescription>",
                        {1,
                         {kStr("Tok"), kStr("Flag"), kInt("Ch")},
                         {kInt("K"), kStr("KB")},
                         {kBool("On"), kInt("N"), kStr("S")}}},
        DescriptionCase{"IllegalLoginCountsFromOne",
                        404,
                        "<MessageDescription><Source>" + sid("User", "xs:string") +
                            sid("No", "xs:int") + "</Source><Data>" + sid("Port", "xs:int") +
                            sid("On", "xs:boolean") + "</Data></MessageDescription>",
                        {404, {kStr("User"), kInt("No", 1)}, {}, {kInt("Port", 1), kBool("On")}}},
        DescriptionCase{
            "DigitalInputSourceAndKeyAreIndexes",
            4,
            "<MessageDescription><Source>" + sid("InputToken", "tt:ReferenceToken") +
                "</Source><Key>" + sid("K", "xs:string") + "</Key><Data>" +
                sid("LogicalState", "xs:boolean") + sid("Why", "xs:string") +
                "</Data></MessageDescription>",
            {4, {kInt("InputToken")}, {kInt("K")}, {kBool("LogicalState"), kStr("Why")}}},
        DescriptionCase{"IntAnywhereInTheTypeName",
                        1,
                        "<MessageDescription><Source>" + sid("P", "tt:Point") +
                            sid("U", "xs:unsignedInt") + sid("B", "tt:Boolean") +
                            "</Source><Data>" + sid("Q", "tt:Point") + sid("C", "xs:Boolean") +
                            "</Data></MessageDescription>",
                        {1, {kInt("P"), kStr("U"), kStr("B")}, {}, {kInt("Q"), kStr("C")}}},
        DescriptionCase{"TwoSourceElementsInDocumentOrder",
                        1,
                        "<MessageDescription><Source>" + sid("A", "xs:string") +
                            "</Source><Source>" + sid("B", "xs:string") + sid("C", "xs:int") +
                            "</Source><Data>" + sid("On", "xs:boolean") +
                            "</Data></MessageDescription>",
                        {1, {kStr("A"), kStr("B"), kInt("C")}, {}, {kBool("On")}}},
        // A Source inside another is read with the outer one: every item
        // once, in document order.
        DescriptionCase{"NestedSourceElementsReadOnce",
                        1,
                        "<MessageDescription><Source><Source>" + sid("A", "xs:string") +
                            "</Source><Source><Source>" + sid("B", "xs:int") +
                            "</Source></Source></Source><Source>" + sid("C", "xs:string") +
                            "</Source><Data>" + sid("On", "xs:boolean") +
                            "</Data></MessageDescription>",
                        {1, {kStr("A"), kInt("B"), kStr("C")}, {}, {kBool("On")}}},
        DescriptionCase{"NameCutTo31AndMissingAttributes",
                        1,
                        "<MessageDescription><Source><SimpleItemDescription "
                        "Name=\"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn\" Type=\"xs:string\"/>"
                        "<SimpleItemDescription Name=\"NoType\"/><SimpleItemDescription/>"
                        "<SimpleItemDescription Type=\"xs:int\" Other=\"x\" Name=\"Late\"/>"
                        "</Source><Data>" +
                            sid("On", "xs:boolean") + "</Data></MessageDescription>",
                        {1,
                         {kStr("ABCDEFGHIJKLMNOPQRSTUVWXYZabcde"),
                          {"NoType", "", 0, 0},
                          {"", "", 0, 0},
                          kInt("Late")},
                         {},
                         {kBool("On")}}},
        DescriptionCase{
            "KeyWithoutItemsIsNoKey", 1, md("<Key/>"), {1, {kStr("Src")}, {}, {kBool("State")}}},
        DescriptionCase{"ItemsAtAnyDepthOfAPart",
                        1,
                        "<MessageDescription><Source><G>" + sid("Deep", "xs:string") +
                            "</G></Source><Data>" + sid("On", "xs:boolean") +
                            "</Data></MessageDescription>",
                        {1, {kStr("Deep")}, {}, {kBool("On")}}},
        // Parts belong to the message description they sit in: a nested
        // topic's Key, Data or Source is not borrowed.
        DescriptionCase{"PartsOfANestedTopicAreNotBorrowed",
                        1,
                        md() + "<Nested><MessageDescription><Source>" + sid("X", "xs:string") +
                            "</Source><Key>" + sid("Y", "xs:int") + "</Key><Data>" +
                            sid("Z", "xs:int") + "</Data></MessageDescription></Nested>",
                        {1, {kStr("Src")}, {}, {kBool("State")}}}),
    [](const ::testing::TestParamInfo<DescriptionCase> &info) { return info.param.name; });

TEST(DescriptionLog, OneSourceWithoutItemsIsSkipped)
{
    vektest::LogCapture log;
    RoomyCfg cfg;
    ASSERT_EQ(VEK_ONVIF_OK, buildOne("<MessageDescription><Source/><Source>" + sid("A", "xs:int") +
                                         "</Source><Data>" + sid("On", "xs:boolean") +
                                         "</Data></MessageDescription>",
                                     1, &cfg.cfg));
    EXPECT_TRUE(log.has(kLevelError, 112, "VEK_Onvif_Event_GetPropeData",
                        "can not find SimpleItemDescription."));
    EXPECT_TRUE(
        log.has(kLevelError, 112, "VEK_Onvif_GetPropeAlarm", "VEK_Onvif_Event_GetPropeData fail."));
    expectTemplates({{1, {kInt("A")}, {}, {kBool("On")}}}, cfg.cfg);
}

struct Rejected {
    const char *name;
    std::string description;
    const char *log;
};

class DescriptionRejected : public ::testing::TestWithParam<Rejected>
{
};

TEST_P(DescriptionRejected, AppendsNothing)
{
    const Rejected &c = GetParam();
    vektest::LogCapture log;
    RoomyCfg cfg;
    uint32_t before = VEK_PLAT_GetLiveBlocks();
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, buildOne(c.description, 1, &cfg.cfg));
    EXPECT_TRUE(log.has(kLevelError, 112, "VEK_Onvif_GetPropeAlarm", c.log));
    EXPECT_EQ(0u, cfg.cfg.PropeAlarmCount);
    EXPECT_EQ(0u, cfg.cfg.pstPropeAlarmInfo[0].AlarmType);
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptionRejected,
    ::testing::Values(
        Rejected{"NoMessageDescription", "<Source/>", "can not find message node."},
        Rejected{"SourceWithoutItems",
                 "<MessageDescription><Source/><Source><X/></Source><Data>" +
                     sid("On", "xs:boolean") + "</Data></MessageDescription>",
                 "Source Item num is 0."},
        Rejected{"NoData",
                 "<MessageDescription><Source>" + sid("A", "xs:int") +
                     "</Source></MessageDescription>",
                 "can not find DataNode."},
        Rejected{"DataWithoutItems",
                 "<MessageDescription><Source>" + sid("A", "xs:int") +
                     "</Source><Data><ElementItemDescription Name=\"C\" Type=\"tt:Profile\"/>"
                     "</Data></MessageDescription>",
                 "Data Item num is 0."}),
    [](const ::testing::TestParamInfo<Rejected> &info) { return info.param.name; });

// A description without a Source part describes messages without Source
// items: a template without them.
TEST(DescriptionSteps, NoSourcePartGivesNoSourceItems)
{
    vektest::LogCapture log;
    RoomyCfg cfg;
    ASSERT_EQ(VEK_ONVIF_OK, buildOne("<MessageDescription><Data>" + sid("On", "xs:boolean") +
                                         "</Data></MessageDescription>",
                                     1, &cfg.cfg));
    ASSERT_EQ(1u, cfg.cfg.PropeAlarmCount);
    const OnvifAlarmTemplate &templ = cfg.cfg.pstPropeAlarmInfo[0];
    EXPECT_EQ(0u, templ.SourceCount);
    EXPECT_EQ(nullptr, templ.SourceItems);
    ASSERT_EQ(1u, templ.DataCount);
    EXPECT_STREQ("On", templ.DataItems[0].Name);
    EXPECT_TRUE(log.lines().empty());
}

TEST(DescriptionSteps, AbsentTopicAndNullArguments)
{
    vektest::LogCapture log;
    RoomyCfg cfg;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, buildOne(md(), 1, nullptr));
    EXPECT_TRUE(log.has(kLevelError, 112, "VEK_Onvif_GetAlarmNode", "Invalid input Param."));

    log.clear();
    mxml_node_t *doc = mxmlLoadString(nullptr, "<Start><U/></Start>", MXML_NO_CALLBACK);
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetAlarmNode(doc, "T", 1, &cfg.cfg));
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(0u, cfg.cfg.PropeAlarmCount);

    OnvifAlarmTemplate templ{};
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_GetPropeAlarm(doc, nullptr, &templ));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_GetPropeAlarm(doc, &cfg.cfg, nullptr));
    EXPECT_TRUE(log.has(kLevelError, 112, "VEK_Onvif_GetPropeAlarm", "Invalid input Param."));

    uint32_t count = 5;
    OnvifSimpleItem item{};
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_GetPropeData(nullptr, 0, 1, &count, &item));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_GetPropeData(doc, 0, 1, nullptr, &item));
    EXPECT_TRUE(log.has(kLevelError, 112, "VEK_Onvif_Event_GetPropeData", "Input para is NULL"));
    // A part without items: refused, count not written.
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_GetPropeData(doc, 0, 1, &count, &item));
    EXPECT_EQ(5u, count);

    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_AddToCFGAlarm(nullptr, &cfg.cfg));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_AddToCFGAlarm(&templ, nullptr));
    EXPECT_TRUE(log.has(kLevelError, 112, "VEK_Onvif_AddToCFGAlarm", "Invalid input Param."));
    mxmlDelete(doc);
}

TEST(DescriptionSteps, AppendNeedsATemplateArray)
{
    // A configuration that discovery has not sized: refused rather than
    // written through a null array, and the item arrays are given back.
    vektest::LogCapture log;
    Cfg cfg;
    uint32_t before = VEK_PLAT_GetLiveBlocks();
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, buildOne(md(), 1, &cfg.cfg));
    EXPECT_TRUE(log.has(kLevelError, 112, "VEK_Onvif_AddToCFGAlarm", "Invalid input Param."));
    EXPECT_EQ(0u, cfg.cfg.PropeAlarmCount);
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
}

TEST(DescriptionSteps, AllocationFailuresAppendNothingAndLeakNothing)
{
    const std::string description =
        md("<Key>" + sid("K", "xs:int") + "</Key>"); // record, Source, Key, Data
    struct Case {
        int32_t allowed;
        const char *func;
        const char *log;
    } cases[] = {
        {0, "VEK_Onvif_GetAlarmNode", "Malloc fail!"},
        {1, "VEK_Onvif_GetPropeAlarm", "malloc fail."},
        {2, "VEK_Onvif_GetPropeAlarm", "malloc fail."},
        {3, "VEK_Onvif_GetPropeAlarm", "malloc fail."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.allowed);
        vektest::LogCapture log;
        RoomyCfg cfg;
        uint32_t before = VEK_PLAT_GetLiveBlocks();
        VEK_PLAT_FailAllocAfter(c.allowed);
        uint32_t result = buildOne(description, 1, &cfg.cfg);
        VEK_PLAT_FailAllocAfter(-1);
        EXPECT_EQ(VEK_ONVIF_ERR_NOMEM, result);
        EXPECT_TRUE(log.has(kLevelError, 112, c.func, c.log));
        EXPECT_EQ(0u, cfg.cfg.PropeAlarmCount);
        EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
    }
}

TEST(FreePropeAlarm, ReleasesTemplatesAndLeavesPresetsAlone)
{
    uint32_t before = VEK_PLAT_GetLiveBlocks();
    OnvifAlarmTemplate preset{};
    preset.AlarmType = 99;
    OnvifAlarmCfg cfg{};
    cfg.PresetAlarmCount = 1;
    cfg.PresetAlarms = &preset;
    std::string text = topicSet("<VideoSource><MotionAlarm>" + md() + "</MotionAlarm><Tampering>" +
                                md() + "</Tampering></VideoSource>");
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &cfg));
    ASSERT_EQ(2u, cfg.PropeAlarmCount);
    EXPECT_EQ(before + 5, VEK_PLAT_GetLiveBlocks());

    VEK_Onvif_Event_FreePropeAlarm(&cfg);
    EXPECT_EQ(0u, cfg.PropeAlarmCount);
    EXPECT_EQ(nullptr, cfg.pstPropeAlarmInfo);
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
    EXPECT_EQ(&preset, cfg.PresetAlarms);
    EXPECT_EQ(1u, cfg.PresetAlarmCount);
    EXPECT_EQ(99u, preset.AlarmType);

    VEK_Onvif_Event_FreePropeAlarm(&cfg); // twice: nothing left to do
    VEK_Onvif_Event_FreePropeAlarm(nullptr);
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
}

} // namespace
