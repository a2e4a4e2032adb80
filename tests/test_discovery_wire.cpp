// GetEventProperties against a loopback camera: the request on the wire,
// the failure paths, the corpus of real topic sets and memory across
// repeated discoveries.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery_expect.h"
#include "discovery_internal.h"
#include "test_support.h"
#include "vek_log.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{

using vek::kLevelError;
constexpr const char *kFunc = "VEK_Onvif_GetEventProperties";

using vektest::Cfg;
using vektest::Expected;
using vektest::expectTemplates;
using vektest::Item;

const Item S(const char *name)
{
    return {name, "common_string", 0};
}
const Item B(const char *name)
{
    return {name, "common_boolean", 0};
}
const Item I(const char *name)
{
    return {name, "common_int", 1};
}

std::string envelope(const std::string &topicSetChildren)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" "
           "xmlns:wstop=\"http://docs.oasis-open.org/wsn/t-1\" "
           "xmlns:tns1=\"http://www.onvif.org/ver10/topics\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\">"
           "<env:Body><tev:GetEventPropertiesResponse>" +
           topicSetChildren + "</tev:GetEventPropertiesResponse></env:Body></env:Envelope>";
}

std::string withTopicSet(const std::string &children)
{
    return envelope("<wstop:TopicSet>" + children + "</wstop:TopicSet>");
}

// The body fragment of topicset-02 declares none of its prefixes.
std::string fragmentEnvelope(const std::string &fragment)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://www.w3.org/2003/05/soap-envelope\" "
           "xmlns:tev=\"http://www.onvif.org/ver10/events/wsdl\" "
           "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\" "
           "xmlns:wstop=\"http://docs.oasis-open.org/wsn/t-1\" "
           "xmlns:tns1=\"http://www.onvif.org/ver10/topics\" "
           "xmlns:tt=\"http://www.onvif.org/ver10/schema\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:tnsexample=\"http://www.example.com/2011/event/topics\">"
           "<SOAP-ENV:Body>" +
           fragment + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

const char *kMotion =
    "<tns1:VideoSource><MotionAlarm><tt:MessageDescription><tt:Source>"
    "<tt:SimpleItemDescription Name=\"Source\" Type=\"tt:ReferenceToken\"/></tt:Source><tt:Data>"
    "<tt:SimpleItemDescription Name=\"State\" Type=\"xs:boolean\"/></tt:Data>"
    "</tt:MessageDescription></MotionAlarm></tns1:VideoSource>";

// ---- Real topic sets ----------------------------------------------------

// Worked out from the files: the table's rows that each root offers, in
// table order within a root, roots in document order. Rows whose data part
// lists only ElementItemDescriptions (Configuration/VideoAnalytics-
// Configuration) are counted but give no template.
// "VideoAnalyticsConfigurationToken" has 32 characters; names keep 31.
const std::vector<Item> kRuleSource = {S("VideoSourceConfigurationToken"),
                                       S("VideoAnalyticsConfigurationToke"), S("Rule")};
const std::vector<Expected> kFullCamera = {
    {1, {S("Source")}, {}, {B("State")}},               // VideoSource/MotionAlarm
    {1, kRuleSource, {}, {B("IsMotion")}},              // CellMotionDetector/Motion
    {8, kRuleSource, {I("ObjectId")}, {B("IsInside")}}, // FieldDetector/ObjectsInside
    {3, kRuleSource, {}, {B("IsTamper")}},              // TamperDetector/Tamper
    {6, kRuleSource, {}, {I("ObjectId")}},              // LineDetector/Crossed
};

// The camera of topicset-01 also reports a picture too dark.
const std::vector<Expected> kFullCameraTooDark = [] {
    std::vector<Expected> expected = kFullCamera;
    expected.insert(expected.begin() + 1, {3, {S("Source")}, {}, {B("State")}});
    return expected;
}();

struct CorpusCase {
    const char *file;
    bool fragment;
    std::vector<Expected> expected;
};

class Corpus : public ::testing::TestWithParam<CorpusCase>
{
};

TEST_P(Corpus, YieldsTheTemplatesTheTableImplies)
{
    const CorpusCase &c = GetParam();
    std::string body = vektest::readFixture(std::string("corpus/properties/") + c.file);
    vektest::LoopbackPeer peer(c.fragment ? fragmentEnvelope(body) : body);
    Cfg cfg;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetEventProperties(peer.url().c_str(), "", "", &cfg.cfg));
    expectTemplates(c.expected, cfg.cfg);
}

INSTANTIATE_TEST_SUITE_P(
    Files, Corpus,
    ::testing::Values(
        CorpusCase{"topicset-01.xml", false, kFullCameraTooDark},
        CorpusCase{"topicset-02.xml",
                   true,
                   {{1, kRuleSource, {}, {B("IsMotion")}}, {3, kRuleSource, {}, {B("IsTamper")}}}},
        // Vendor IO has VirtualInput/VirtualPort, no Port; the vendor
        // MotionDetection below VideoAnalytics is the one alarm.
        CorpusCase{"topicset-04.xml", false, {{1, {I("window")}, {}, {B("motion")}}}},
        CorpusCase{"topicset-05.xml",
                   false,
                   {{1, {S("Source")}, {}, {B("State")}},
                    {1, kRuleSource, {}, {B("IsMotion")}},
                    {3, kRuleSource, {}, {B("IsTamper")}},
                    {4, {I("InputToken")}, {}, {B("LogicalState")}}}},
        CorpusCase{"topicset-06.xml",
                   false,
                   {{4, {I("InputToken")}, {}, {B("LogicalState")}},
                    {1, {S("VideoAnalyticsConfiguration")}, {}, {S("Event"), B("Value")}}}},
        CorpusCase{"topicset-07.xml", false, kFullCamera}),
    [](const ::testing::TestParamInfo<CorpusCase> &info) {
        std::string name = info.param.file;
        return name.substr(9, 2);
    });

TEST(CorpusMalformed, TopicSetThatIsNotWellFormedGivesNothing)
{
    // The TopicSet of this example carries xmlns= with typographic quotes;
    // the runtime keeps none of its elements.
    vektest::LoopbackPeer peer(vektest::readFixture("corpus/properties/topicset-03.xml"));
    vektest::LogCapture log;
    Cfg cfg;
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetEventProperties(peer.url().c_str(), "", "", &cfg.cfg));
    expectTemplates({}, cfg.cfg);
    EXPECT_TRUE(
        log.has(kLevelError, 112, kFunc,
                "stGetEventPropertiesResponse.ns8__TopicSet is NULL, url:" + peer.url() + "."));
}

// ---- The request ---------------------------------------------------------

TEST(Request, AddressingAndSecurityHeaders)
{
    for (const char *user : {"", "admin"}) {
        SCOPED_TRACE(user);
        vektest::LoopbackPeer peer(withTopicSet(kMotion));
        Cfg cfg;
        // An empty password still gives a token when a user is named.
        ASSERT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_GetEventProperties(peer.url().c_str(), user, "", &cfg.cfg));
        std::string body = peer.lastBody();
        EXPECT_EQ("http://www.onvif.org/ver10/events/wsdl/EventPortType/GetEventPropertiesRequest",
                  vektest::elementText(body, "Action"));
        EXPECT_EQ(peer.url(), vektest::elementText(body, "To"));
        EXPECT_FALSE(vektest::elementXml(body, "GetEventProperties").empty());
        bool named = user[0] != '\0';
        EXPECT_EQ(named, !vektest::elementXml(body, "Security").empty());
        if (named) {
            EXPECT_EQ("admin", vektest::elementText(body, "Username"));
        }
        expectTemplates({{1, {S("Source")}, {}, {B("State")}}}, cfg.cfg);
    }
}

// ---- Failures --------------------------------------------------------------

// Fills cfg with one discovered template so that emptying shows.
void discoverOne(OnvifAlarmCfg *cfg)
{
    vektest::LoopbackPeer peer(withTopicSet(kMotion));
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetEventProperties(peer.url().c_str(), "", "", cfg));
    ASSERT_EQ(1u, cfg->PropeAlarmCount);
}

TEST(Failures, BadArgumentsEmptyTheConfiguration)
{
    vektest::LogCapture log;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_GetEventProperties("http://127.0.0.1:1/", "", "", nullptr));
    EXPECT_TRUE(log.has(kLevelError, 112, kFunc, "Invalid input Param."));

    uint32_t before = VEK_PLAT_GetLiveBlocks();
    struct {
        const char *url;
        const char *user;
        const char *password;
    } cases[] = {
        {nullptr, "", ""}, {"", "", ""}, {"http://x/", nullptr, ""}, {"http://x/", "", nullptr}};
    for (const auto &c : cases) {
        Cfg cfg;
        discoverOne(&cfg.cfg);
        log.clear();
        EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
                  VEK_Onvif_GetEventProperties(c.url, c.user, c.password, &cfg.cfg));
        EXPECT_TRUE(log.has(kLevelError, 112, kFunc, "Invalid input Param."));
        EXPECT_EQ(0u, cfg.cfg.PropeAlarmCount);
        EXPECT_EQ(nullptr, cfg.cfg.pstPropeAlarmInfo);
        EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
    }
}

uint16_t closedPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    close(fd); // bound, never listened: connections are refused
    return ntohs(addr.sin_port);
}

TEST(Failures, ExchangeFailures)
{
    std::string refused = "http://127.0.0.1:" + std::to_string(closedPort()) + "/onvif/event";
    vektest::LoopbackPeer fault(
        envelope("").replace(envelope("").find("<tev:GetEventPropertiesResponse>"),
                             std::strlen("<tev:GetEventPropertiesResponse>"
                                         "</tev:GetEventPropertiesResponse>"),
                             "<env:Fault><env:Code><env:Value>env:Receiver</env:Value></env:Code>"
                             "<env:Reason><env:Text xml:lang=\"en\">no</env:Text></env:Reason>"
                             "</env:Fault>"),
        500);
    vektest::LoopbackPeer notSoap("<html>hello</html>");
    for (const std::string &url : {refused, fault.url(), notSoap.url()}) {
        SCOPED_TRACE(url);
        vektest::LogCapture log;
        Cfg cfg;
        discoverOne(&cfg.cfg);
        EXPECT_EQ(VEK_ONVIF_ERR_SOAP, VEK_Onvif_GetEventProperties(url.c_str(), "", "", &cfg.cfg));
        EXPECT_TRUE(log.has(kLevelError, 112, kFunc,
                            "Failed to get device event information, url:" + url + "."));
        expectTemplates({}, cfg.cfg);
    }
}

TEST(Failures, AnswersWithoutUsableTopics)
{
    struct Case {
        const char *name;
        std::string body;
        const char *log;
    } cases[] = {
        {"NoTopicSet", envelope(""), "stGetEventPropertiesResponse.ns8__TopicSet is NULL, url:"},
        {"TopicSetWithoutElements", withTopicSet(" <!-- none --> "),
         "stGetEventPropertiesResponse.ns8__TopicSet is NULL, url:"},
        {"OnlyRootsOutsideTheTable",
         withTopicSet("<tns1:Monitoring><ProcessorUsage/>"
                      "</tns1:Monitoring>"),
         "The node[Monitoring] do not be concerned."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        vektest::LoopbackPeer peer(c.body);
        vektest::LogCapture log;
        Cfg cfg;
        discoverOne(&cfg.cfg);
        EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetEventProperties(peer.url().c_str(), "", "", &cfg.cfg));
        EXPECT_TRUE(log.hasText(c.log));
        expectTemplates({}, cfg.cfg);
    }
}

TEST(Failures, ElementThatCannotBeCleanedIsLeftOut)
{
    // The runtime hands attribute values back unescaped: &quot; inside a
    // double-quoted value leaves a tag that never ends.
    vektest::LoopbackPeer peer(withTopicSet(
        "<tns1:RuleEngine note=\"&quot;\"><CellMotionDetector><Motion/></CellMotionDetector>"
        "</tns1:RuleEngine>" +
        std::string(kMotion)));
    vektest::LogCapture log;
    Cfg cfg;
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetEventProperties(peer.url().c_str(), "", "", &cfg.cfg));
    EXPECT_TRUE(log.has(kLevelError, 112, kFunc,
                        "VEK_PUB_DeleteNodeProperty fail , ulIndex:0, errorcode is 112."));
    expectTemplates({{1, {S("Source")}, {}, {B("State")}}}, cfg.cfg);
}

TEST(TopicSetText, CleansJoinsAndSkips)
{
    vektest::LogCapture log;
    std::string a = "<tns1:VideoSource><x:MotionAlarm/></tns1:VideoSource>";
    std::string bad = "<a:X><!-- open";
    std::string c = "<Device/>";
    std::vector<char *> elements = {&a[0], nullptr, &bad[0], &c[0]};
    char *text = nullptr;
    uint32_t before = VEK_PLAT_GetLiveBlocks();
    ASSERT_EQ(VEK_ONVIF_OK, vek::assembleTopicSetText(4, elements.data(), &text));
    EXPECT_STREQ("<Message><VideoSource><MotionAlarm/></VideoSource><Device/></Message>", text);
    EXPECT_TRUE(log.has(kLevelError, 112, kFunc,
                        "VEK_PUB_DeleteNodeProperty fail , ulIndex:2, errorcode is 112."));
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&text), __FILE__, __LINE__);

    ASSERT_EQ(VEK_ONVIF_OK, vek::assembleTopicSetText(0, nullptr, &text));
    EXPECT_STREQ("<Message></Message>", text);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&text), __FILE__, __LINE__);

    VEK_PLAT_FailAllocAfter(0);
    EXPECT_EQ(VEK_ONVIF_ERR_NOMEM, vek::assembleTopicSetText(0, nullptr, &text));
    VEK_PLAT_FailAllocAfter(-1);
    EXPECT_TRUE(log.has(kLevelError, 112, kFunc, "Failed to alloc memory."));
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
}

// ---- Memory ---------------------------------------------------------------

TEST(Memory, RepeatedDiscoveriesLeakNothing)
{
    vektest::LoopbackPeer peer(vektest::readFixture("corpus/properties/topicset-01.xml"));
    uint32_t before = VEK_PLAT_GetLiveBlocks();
    OnvifAlarmCfg cfg{};
    for (int round = 0; round < 4; ++round) {
        ASSERT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_GetEventProperties(peer.url().c_str(), "admin", "pw", &cfg));
        expectTemplates(kFullCameraTooDark, cfg);
        // The array and the item arrays of six templates, one with a Key.
        EXPECT_EQ(before + 1 + 13, VEK_PLAT_GetLiveBlocks());
    }
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
    EXPECT_EQ(nullptr, cfg.pstPropeAlarmInfo);
    EXPECT_EQ(0u, cfg.PropeAlarmCount);
    EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
}

} // namespace
