// The pull-point family against the camera simulator, in the styles
// cameras answer with: a distinct address per pull point, and one address
// for all of them with the pull point named by a SubscriptionId reference
// parameter (declared on the element or on the envelope).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <future>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "context_fixture.h"
#include "discovery_expect.h"
#include "reference_blocks.h"
#include "soapH.h"
#include "test_support.h"
#include "vek_onvif_event.h"

namespace
{

using vektest::LogCapture;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Style {
    const char *name;
    bool shared; // one address, SubscriptionId reference parameter
    camsim::IdDeclaration declaration;
};

void PrintTo(const Style &style, std::ostream *out)
{
    *out << style.name;
}

const Style kStyles[] = {
    {"DistinctAddresses", false, camsim::IdDeclaration::OnElement},
    {"SharedAddressIdDeclaredOnElement", true, camsim::IdDeclaration::OnElement},
    {"SharedAddressIdDeclaredOnEnvelope", true, camsim::IdDeclaration::OnEnvelope},
};

std::string motion(const char *operation, const char *state, const char *source = "vs1")
{
    return camsim::makeNotificationMessage("tns1:VideoSource/MotionAlarm",
                                           camsim::makeSimpleMessage("2026-12-10T01:00:00Z",
                                                                     operation, "Source", source,
                                                                     "State", state));
}

class PullPointFamily : public vektest::ContextFixture<::testing::TestWithParam<Style>>
{
  protected:
    void TearDown() override
    {
        VEK_Onvif_PullPoint_Free(&pullPoint_);
        sim_.reset();
        ContextFixture::TearDown();
    }

    camsim::Config config() const
    {
        camsim::Config config;
        config.sharedPullPointAddress = GetParam().shared;
        config.pullPoint.referenceParameters = GetParam().shared;
        config.pullPoint.idDeclaration = GetParam().declaration;
        config.pullPoint.padId = GetParam().shared;
        return config;
    }

    void startCamera(camsim::Config config)
    {
        sim_ = std::make_unique<camsim::CameraSim>(std::move(config));
        sim_->start();
    }

    uint32_t create(uint32_t seconds = 60)
    {
        return VEK_Onvif_PullPoint_Create(soap_, sim_->eventServiceUrl().c_str(), "admin", "secret",
                                          seconds, &pullPoint_);
    }

    // One pull; the reports' codes in order.
    uint32_t pull(std::vector<int> &codes, uint32_t limit = 64, uint32_t timeout = 0)
    {
        OnvifPullResult result{};
        uint32_t code = VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, "admin", "secret", limit,
                                                 timeout, &motion_.inputs, &motion_.cfg, &result);
        codes.clear();
        for (uint32_t i = 0; i < result.ulAlarmCount; ++i) {
            codes.push_back(static_cast<int>(result.pstAlarmReports[i].AlarmType));
        }
        if (result.pstAlarmReports != nullptr) {
            ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
        }
        return code;
    }

    // Every request after the create carries the pull point's reference
    // parameter as a marked header block of its own, or none at all.
    void expectReferenceHeader(const camsim::RecordedRequest &request) const
    {
        SCOPED_TRACE(request.operation);
        EXPECT_TRUE(request.authenticated);
        EXPECT_EQ(pullPoint_.pszAddress, request.wsaTo);
        if (!GetParam().shared) {
            EXPECT_TRUE(request.referenceParameters.empty());
            return;
        }
        ASSERT_EQ(1u, request.referenceParameters.size());
        const camsim::HeaderElement &id = request.referenceParameters[0];
        EXPECT_EQ("SubscriptionId", id.localName);
        EXPECT_EQ(sim_->config().idNamespace, id.namespaceUri);
        EXPECT_NE(std::string::npos, id.xml.find("IsReferenceParameter=\"true\"")) << id.xml;
    }

    std::unique_ptr<camsim::CameraSim> sim_;
    vektest::MotionConfig motion_;
    OnvifPullPoint pullPoint_{};
};

TEST_P(PullPointFamily, CreateKeepsTheWholeReferenceAndTheCameraTimes)
{
    camsim::Config cfg = config();
    cfg.clockOffset = 3600s;
    startCamera(cfg);
    pullPoint_.ulFlags = VEK_ONVIF_PULL_INITIAL_STATES;
    ASSERT_EQ(VEK_ONVIF_OK, create(90));
    EXPECT_EQ(sim_->baseUrl() + (GetParam().shared ? "/onvif/services" : "/onvif/pullpoint/1"),
              pullPoint_.pszAddress);
    if (GetParam().shared) {
        // Declared on the element whichever way the camera declared it;
        // the padding inside the id is the camera's and stays.
        ASSERT_NE(nullptr, pullPoint_.pszReference);
        EXPECT_EQ("<dom0:SubscriptionId xmlns:dom0=\"" + sim_->config().idNamespace +
                      "\">\n        1   \n      </dom0:SubscriptionId>",
                  pullPoint_.pszReference);
    } else {
        EXPECT_EQ(nullptr, pullPoint_.pszReference);
    }
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    EXPECT_NEAR(3600, pullPoint_.s64ClockOffset, 2);
    EXPECT_NEAR(now + 3600 + 90, pullPoint_.s64TerminationTime, 3);
    EXPECT_EQ(VEK_ONVIF_PULL_INITIAL_STATES, pullPoint_.ulFlags);
    EXPECT_EQ(nullptr, soap_->header); // the context was cleaned

    auto creates = sim_->requests("CreatePullPointSubscription");
    ASSERT_EQ(1u, creates.size());
    EXPECT_EQ("PT90S", creates[0].body.at("InitialTerminationTime"));
    EXPECT_EQ("http://www.onvif.org/ver10/events/wsdl/EventPortType/"
              "CreatePullPointSubscriptionRequest",
              creates[0].wsaAction);

    // No termination asked for: none sent, the camera's default applies.
    OnvifPullPoint second{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Create(soap_, sim_->eventServiceUrl().c_str(),
                                                       "admin", "secret", 0, &second));
    EXPECT_EQ(
        0u, sim_->requests("CreatePullPointSubscription")[1].body.count("InitialTerminationTime"));
    VEK_Onvif_PullPoint_Free(&second);
    EXPECT_EQ(nullptr, second.pszAddress);
}

TEST_P(PullPointFamily, BurstComesInBatchesOfTheMessageLimit)
{
    startCamera(config());
    ASSERT_EQ(VEK_ONVIF_OK, create());
    for (int i = 0; i < 50; ++i) {
        sim_->queueMessage(motion("Changed", i % 2 == 0 ? "true" : "false"));
    }
    std::vector<int> first, second, third;
    ASSERT_EQ(VEK_ONVIF_OK, pull(first, 30));
    ASSERT_EQ(VEK_ONVIF_OK, pull(second, 30));
    EXPECT_EQ(30u, first.size());
    EXPECT_EQ(20u, second.size());
    EXPECT_EQ(1, first.front());
    EXPECT_EQ(1001, second.back());
    // Nothing left: success without reports.
    ASSERT_EQ(VEK_ONVIF_OK, pull(third, 30));
    EXPECT_TRUE(third.empty());

    auto pulls = sim_->requests("PullMessages");
    ASSERT_EQ(3u, pulls.size());
    for (const auto &request : pulls) {
        EXPECT_EQ("30", request.body.at("MessageLimit"));
        EXPECT_EQ("PT0S", request.body.at("Timeout"));
        EXPECT_EQ("http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/"
                  "PullMessagesRequest",
                  request.wsaAction);
        expectReferenceHeader(request);
    }
}

TEST_P(PullPointFamily, LongPollAnswersAsSoonAsAnEventIsQueued)
{
    camsim::Config cfg = config();
    cfg.maxPullWait = 20s;
    startCamera(cfg);
    ASSERT_EQ(VEK_ONVIF_OK, create());
    // The caller's receive time-out is shorter than the wait: the call
    // raises it for itself and gives it back.
    soap_->recv_timeout = 1;

    // Idle camera: the whole wait, then success without reports.
    std::vector<int> codes;
    auto started = Clock::now();
    ASSERT_EQ(VEK_ONVIF_OK, pull(codes, 64, 2));
    EXPECT_GE(Clock::now() - started, 1900ms);
    EXPECT_TRUE(codes.empty());
    EXPECT_EQ(1, soap_->recv_timeout);

    // An event queued during a long wait ends it at once.
    started = Clock::now();
    auto pulled = std::async(std::launch::async, [&] { return pull(codes, 64, 15); });
    std::this_thread::sleep_for(300ms);
    sim_->queueMessage(motion("Changed", "true"));
    ASSERT_EQ(std::future_status::ready, pulled.wait_for(5s));
    EXPECT_EQ(0u, pulled.get());
    EXPECT_LT(Clock::now() - started, 3s);
    EXPECT_EQ(std::vector<int>{1}, codes);
    EXPECT_EQ("PT15S", sim_->requests("PullMessages").back().body.at("Timeout"));
    EXPECT_EQ(1, soap_->recv_timeout);
}

TEST_P(PullPointFamily, RenewExtendsAndUnsubscribeEnds)
{
    startCamera(config());
    ASSERT_EQ(VEK_ONVIF_OK, create(30));
    const int64_t created = pullPoint_.s64TerminationTime;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Renew(soap_, &pullPoint_, "admin", "secret", 600));
    EXPECT_NEAR(created + 570, pullPoint_.s64TerminationTime, 2);
    auto renews = sim_->requests("Renew");
    ASSERT_EQ(1u, renews.size());
    EXPECT_EQ("PT600S", renews[0].body.at("TerminationTime"));
    EXPECT_EQ("http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest",
              renews[0].wsaAction);
    expectReferenceHeader(renews[0]);
    ASSERT_EQ(1u, sim_->subscriptions().size());
    EXPECT_EQ(1, sim_->subscriptions()[0].renewCount);

    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Unsubscribe(soap_, &pullPoint_, "admin", "secret"));
    auto unsubscribes = sim_->requests("Unsubscribe");
    ASSERT_EQ(1u, unsubscribes.size());
    EXPECT_EQ("http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeRequest",
              unsubscribes[0].wsaAction);
    expectReferenceHeader(unsubscribes[0]);
    EXPECT_TRUE(sim_->subscriptions().empty());
    // The record stays until freed; the camera no longer knows it.
    ASSERT_NE(nullptr, pullPoint_.pszAddress);
    std::vector<int> codes;
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, pull(codes));
}

TEST_P(PullPointFamily, ExpiredPullPointIsReportedGoneAndReplaced)
{
    startCamera(config());
    ASSERT_EQ(VEK_ONVIF_OK, create(1));
    std::this_thread::sleep_for(1200ms);
    std::vector<int> codes;
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, pull(codes));
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL,
              VEK_Onvif_PullPoint_Renew(soap_, &pullPoint_, "admin", "secret", 60));
    EXPECT_TRUE(sim_->subscriptions().empty());

    VEK_Onvif_PullPoint_Free(&pullPoint_);
    ASSERT_EQ(VEK_ONVIF_OK, create());
    sim_->queueMessage(motion("Changed", "true"));
    ASSERT_EQ(VEK_ONVIF_OK, pull(codes));
    EXPECT_EQ(std::vector<int>{1}, codes);
}

// Initialized messages: the state at the start of the pull point (or after
// a synchronization point). Only a pull point that asks for them reports
// them; changes are reported either way.
TEST_P(PullPointFamily, InitialStatesOnlyWithTheFlag)
{
    struct Case {
        const char *what;
        uint32_t flags;
        std::vector<int> atStart;
        std::vector<int> afterSynchronization;
    };
    const Case cases[] = {
        {"without the flag", 0, {}, {}},
        {"with the flag", VEK_ONVIF_PULL_INITIAL_STATES, {1, 1001}, {1, 1001}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        camsim::Config cfg = config();
        cfg.initialStatesOnCreate = true;
        startCamera(cfg);
        // vs1 is active, vs2 inactive, before any pull point exists.
        sim_->setPropertyState("tns1:VideoSource/MotionAlarm",
                               camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed",
                                                         "Source", "vs1", "State", "true"));
        sim_->setPropertyState("tns1:VideoSource/MotionAlarm",
                               camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed",
                                                         "Source", "vs2", "State", "false"));
        pullPoint_.ulFlags = c.flags;
        ASSERT_EQ(VEK_ONVIF_OK, create());
        std::vector<int> codes;
        ASSERT_EQ(VEK_ONVIF_OK, pull(codes));
        EXPECT_EQ(c.atStart, codes);

        // A change to vs2 is always reported, and becomes its state.
        sim_->queueMessage(motion("Changed", "true", "vs2"));
        ASSERT_EQ(VEK_ONVIF_OK, pull(codes));
        EXPECT_EQ(std::vector<int>{1}, codes);

        ASSERT_EQ(
            0u, VEK_Onvif_PullPoint_SetSynchronizationPoint(soap_, &pullPoint_, "admin", "secret"));
        auto syncs = sim_->requests("SetSynchronizationPoint");
        ASSERT_EQ(1u, syncs.size());
        EXPECT_EQ("http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/"
                  "SetSynchronizationPointRequest",
                  syncs[0].wsaAction);
        EXPECT_EQ(syncs[0].wsaAction, syncs[0].httpAction);
        expectReferenceHeader(syncs[0]);
        EXPECT_EQ(2u, sim_->queuedMessages());
        ASSERT_EQ(VEK_ONVIF_OK, pull(codes));
        std::vector<int> expected = c.afterSynchronization;
        if (!expected.empty()) {
            expected = {1, 1}; // vs1 still active, vs2 now active
        }
        EXPECT_EQ(expected, codes);

        VEK_Onvif_PullPoint_Free(&pullPoint_);
        EXPECT_EQ(0u, pullPoint_.ulFlags);
        sim_.reset();
    }
}

// After a synchronization point the camera sends every property's state
// again; only alarms that have a state report theirs: the initial message
// of a line-crossing rule (an event, no state) reports nothing.
TEST_P(PullPointFamily, InitialStatesOnlyForAlarmsWithAState)
{
    vektest::Cfg cfg;
    ASSERT_EQ(
        VEK_ONVIF_OK,
        VEK_Onvif_Event_ParsePropeMsg(
            "<Message><RuleEngine><LineDetector><Crossed><MessageDescription><Source>"
            "<SimpleItemDescription Name=\"VideoSourceConfigurationToken\" "
            "Type=\"tt:ReferenceToken\"/></Source><Data><SimpleItemDescription "
            "Name=\"ObjectId\" Type=\"xs:integer\"/></Data></MessageDescription></Crossed>"
            "</LineDetector></RuleEngine><VideoSource><MotionAlarm><MessageDescription><Source>"
            "<SimpleItemDescription Name=\"Source\" Type=\"tt:ReferenceToken\"/></Source>"
            "<Data><SimpleItemDescription Name=\"State\" Type=\"xs:boolean\"/></Data>"
            "</MessageDescription></MotionAlarm></VideoSource></Message>",
            &cfg.cfg));
    ASSERT_EQ(2u, cfg.cfg.PropeAlarmCount);
    startCamera(config());
    sim_->setPropertyState("tns1:RuleEngine/LineDetector/Crossed",
                           camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed",
                                                     "VideoSourceConfigurationToken", "vs1",
                                                     "ObjectId", "0"));
    sim_->setPropertyState("tns1:VideoSource/MotionAlarm",
                           camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed", "Source",
                                                     "vs1", "State", "true"));
    pullPoint_.ulFlags = VEK_ONVIF_PULL_INITIAL_STATES;
    ASSERT_EQ(VEK_ONVIF_OK, create());
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_PullPoint_SetSynchronizationPoint(soap_, &pullPoint_, "admin", "secret"));
    EXPECT_EQ(2u, sim_->queuedMessages());
    OnvifPullResult result{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, "admin", "secret", 64, 0,
                                                     &motion_.inputs, &cfg.cfg, &result));
    std::vector<int> codes;
    for (uint32_t i = 0; i < result.ulAlarmCount; ++i) {
        codes.push_back(static_cast<int>(result.pstAlarmReports[i].AlarmType));
    }
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
    EXPECT_EQ(std::vector<int>{VEK_ALARM_MOTION}, codes);
}

INSTANTIATE_TEST_SUITE_P(Styles, PullPointFamily, ::testing::ValuesIn(kStyles),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- One style is enough for what follows --------------------------------

// The start of a camera's answer up to its Body, with the namespaces the
// answers use and extra declarations of the test's own.
std::string envelopeStart(const std::string &extra)
{
    return R"(<?xml version="1.0"?><s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" )"
           R"(xmlns:wsa5="http://www.w3.org/2005/08/addressing" )"
           R"(xmlns:tev="http://www.onvif.org/ver10/events/wsdl" )"
           R"(xmlns:wsnt="http://docs.oasis-open.org/wsn/b-2" )" +
           extra + "><s:Body>";
}

class PullPointFamilyEdges : public vektest::ContextFixture<>
{
  protected:
    void TearDown() override
    {
        VEK_PLAT_FailAllocAfter(-1);
        VEK_Onvif_PullPoint_Free(&pullPoint_);
        sim_.reset();
        ContextFixture::TearDown();
    }

    std::unique_ptr<camsim::CameraSim> sim_;
    vektest::MotionConfig motion_;
    OnvifPullPoint pullPoint_{};
};

// A camera whose reference parameters are several elements, hundreds of
// characters long, with namespaces declared on the envelope: each goes
// back as a header block of its own, well-formed with its namespaces.
TEST_F(PullPointFamilyEdges, SeveralLongReferenceParametersGoBackAsBlocks)
{
    const std::string longValue(400, 'k');
    camsim::Config config;
    config.interceptor =
        [&](const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
        const std::string envelope =
            envelopeStart(R"(xmlns:a="urn:example:a" xmlns:b="urn:example:b")");
        if (request.operation == "CreatePullPointSubscription") {
            return camsim::Reply{
                200, envelope +
                         "<tev:CreatePullPointSubscriptionResponse><tev:SubscriptionReference>"
                         "<wsa5:Address>\n  http://127.0.0.1:" +
                         std::to_string(sim_->port()) +
                         "/onvif/services  \n</wsa5:Address><wsa5:ReferenceParameters>\n"
                         "  <a:Id>7</a:Id>\n  <b:Token b:kind=\"x\"><b:Part>" +
                         longValue +
                         "</b:Part><b:Empty/></b:Token>\n"
                         "</wsa5:ReferenceParameters></tev:SubscriptionReference>"
                         "<wsnt:CurrentTime>2026-12-10T01:02:03.250</wsnt:CurrentTime>"
                         "<wsnt:TerminationTime>2026-12-10T03:02:03+02:00</wsnt:TerminationTime>"
                         "</tev:CreatePullPointSubscriptionResponse></s:Body></s:Envelope>"};
        }
        return camsim::Reply{200, envelope + "<tev:PullMessagesResponse/></s:Body></s:Envelope>"};
    };
    sim_ = std::make_unique<camsim::CameraSim>(config);
    sim_->start();
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Create(soap_, sim_->eventServiceUrl().c_str(),
                                                       "admin", "secret", 60, &pullPoint_));
    EXPECT_EQ(sim_->baseUrl() + "/onvif/services", pullPoint_.pszAddress);
    ASSERT_NE(nullptr, pullPoint_.pszReference);
    EXPECT_GT(std::strlen(pullPoint_.pszReference), 400u);
    // A zone offset is applied; a time without one is UTC, its fraction dropped.
    EXPECT_EQ(1796864523, pullPoint_.s64TerminationTime);
    EXPECT_NEAR(1796864523 - static_cast<int64_t>(std::time(nullptr)), pullPoint_.s64ClockOffset,
                2);

    OnvifPullResult result{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, "admin", "secret", 1, 0,
                                                     &motion_.inputs, &motion_.cfg, &result));
    EXPECT_EQ(nullptr, result.pstAlarmReports);
    auto pulls = sim_->requests("PullMessages");
    ASSERT_EQ(1u, pulls.size());
    ASSERT_TRUE(pulls[0].wellFormed);
    const auto &blocks = pulls[0].referenceParameters;
    ASSERT_EQ(2u, blocks.size());
    EXPECT_EQ("Id", blocks[0].localName);
    EXPECT_EQ("urn:example:a", blocks[0].namespaceUri);
    EXPECT_EQ("7", blocks[0].text);
    EXPECT_EQ("Token", blocks[1].localName);
    EXPECT_EQ("urn:example:b", blocks[1].namespaceUri);
    EXPECT_NE(std::string::npos, blocks[1].xml.find(longValue));
    EXPECT_NE(std::string::npos, blocks[1].xml.find("kind=\"x\""));
    for (const auto &block : blocks) {
        EXPECT_NE(std::string::npos, block.xml.find("IsReferenceParameter=\"true\"")) << block.xml;
    }
}

// A camera that answers a pull with more messages than were asked for:
// only the limit is translated, and the excess is said once.
TEST_F(PullPointFamilyEdges, PullTranslatesNoMoreThanItsLimit)
{
    camsim::Config config;
    config.ignoreMessageLimit = true;
    sim_ = std::make_unique<camsim::CameraSim>(config);
    sim_->start();
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Create(soap_, sim_->eventServiceUrl().c_str(),
                                                       "admin", "secret", 60, &pullPoint_));
    for (int i = 0; i < 50; ++i) {
        sim_->queueMessage(motion("Changed", i % 2 == 0 ? "true" : "false"));
    }
    LogCapture log;
    OnvifPullResult result{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, "admin", "secret", 10, 0,
                                                     &motion_.inputs, &motion_.cfg, &result));
    EXPECT_EQ(0u, sim_->queuedMessages()); // the camera sent all 50
    EXPECT_EQ(10u, result.ulAlarmCount);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
    // Camera content, not a failure: said at the info level.
    EXPECT_TRUE(log.has(1, VEK_ONVIF_ERR_SOAP, "VEK_Onvif_PullPoint_Pull",
                        "The camera sent 50 messages where 10 were asked for; the 40 more are "
                        "dropped."));
    EXPECT_EQ(1u, log.lines().size());
}

// Quotes and angle brackets in a reference's attribute values and text
// are stored escaped: every later request at the pull point goes out
// well-formed, with the values the camera gave.
TEST_F(PullPointFamilyEdges, EscapedReferenceValuesStayEscaped)
{
    camsim::Config config;
    config.interceptor =
        [&](const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
        const std::string envelope = envelopeStart(R"(xmlns:a="urn:example:a")");
        if (request.operation == "CreatePullPointSubscription") {
            return camsim::Reply{
                200, envelope +
                         "<tev:CreatePullPointSubscriptionResponse><tev:SubscriptionReference>"
                         "<wsa5:Address>http://127.0.0.1:" +
                         std::to_string(sim_->port()) +
                         "/onvif/services</wsa5:Address><wsa5:ReferenceParameters>"
                         "<a:Id a:x=\"q&quot;&lt;&amp;&gt;'\" a:y='s&apos;\"'>7&lt;8&amp;9</a:Id>"
                         "</wsa5:ReferenceParameters></tev:SubscriptionReference>"
                         "<wsnt:CurrentTime>2026-12-10T01:02:03Z</wsnt:CurrentTime>"
                         "<wsnt:TerminationTime>2026-12-10T03:02:03Z</wsnt:TerminationTime>"
                         "</tev:CreatePullPointSubscriptionResponse></s:Body></s:Envelope>"};
        }
        if (request.operation == "PullMessages") {
            return camsim::Reply{200,
                                 envelope + "<tev:PullMessagesResponse/></s:Body></s:Envelope>"};
        }
        return camsim::Reply{200,
                             envelope + "<" + request.operation + "Response xmlns=\"" +
                                 "http://docs.oasis-open.org/wsn/b-2\"/></s:Body></s:Envelope>"};
    };
    sim_ = std::make_unique<camsim::CameraSim>(config);
    sim_->start();
    ASSERT_EQ(0u, VEK_Onvif_PullPoint_Create(soap_, sim_->eventServiceUrl().c_str(), "admin",
                                             "secret", 60, &pullPoint_));
    ASSERT_NE(nullptr, pullPoint_.pszReference);
    OnvifPullResult result{};
    EXPECT_EQ(0u, VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, "admin", "secret", 1, 0,
                                           &motion_.inputs, &motion_.cfg, &result));
    EXPECT_EQ(0u, VEK_Onvif_PullPoint_Renew(soap_, &pullPoint_, "admin", "secret", 60));
    EXPECT_EQ(0u, VEK_Onvif_PullPoint_Unsubscribe(soap_, &pullPoint_, "admin", "secret"));
    for (const char *operation : {"PullMessages", "Renew", "Unsubscribe"}) {
        SCOPED_TRACE(operation);
        auto requests = sim_->requests(operation);
        ASSERT_EQ(1u, requests.size());
        ASSERT_TRUE(requests[0].wellFormed);
        ASSERT_EQ(1u, requests[0].referenceParameters.size());
        const camsim::HeaderElement &block = requests[0].referenceParameters[0];
        EXPECT_EQ("7<8&9", block.text);
        EXPECT_EQ("urn:example:a", block.namespaceUri);
        EXPECT_EQ("q\"<&>'", block.attributes.at("a:x")) << block.xml;
        EXPECT_EQ("s'\"", block.attributes.at("a:y")) << block.xml;
    }
}

TEST_F(PullPointFamilyEdges, InvalidArgumentsAndFailuresTellApart)
{
    sim_ = std::make_unique<camsim::CameraSim>();
    sim_->start();
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Create(soap_, sim_->eventServiceUrl().c_str(),
                                                       "admin", "secret", 60, &pullPoint_));
    struct Case {
        const char *what;
        uint32_t limit;
        uint32_t timeout;
        bool nullResult;
    };
    const Case invalid[] = {
        {"no messages asked for", 0, 1, false},
        {"too many messages", 1025, 1, false},
        {"too long a wait", 1, 3601, false},
        {"no result record", 1, 1, true},
    };
    for (const Case &c : invalid) {
        SCOPED_TRACE(c.what);
        OnvifPullResult result{reinterpret_cast<OnvifAlarmReport *>(&pullPoint_), 7};
        EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
                  VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, "admin", "secret", c.limit,
                                           c.timeout, &motion_.inputs, &motion_.cfg,
                                           c.nullResult ? nullptr : &result));
        if (!c.nullResult) {
            EXPECT_EQ(nullptr, result.pstAlarmReports);
            EXPECT_EQ(0u, result.ulAlarmCount);
        }
    }
    OnvifPullPoint empty{};
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_PullPoint_Renew(soap_, &empty, "admin", "secret", 60));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_PullPoint_Unsubscribe(soap_, nullptr, "admin", "secret"));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_PullPoint_SetSynchronizationPoint(nullptr, &pullPoint_, "a", "b"));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_PullPoint_Create(soap_, "", "admin", "secret", 60, &empty));
    VEK_Onvif_PullPoint_Free(nullptr);
    VEK_Onvif_PullPoint_Free(&empty);

    // Gone (112) against other failures (100).
    struct Failure {
        const char *what;
        std::string address;
        const char *password;
        uint32_t expected;
    };
    const Failure failures[] = {
        {"unknown pull point", sim_->baseUrl() + "/onvif/pullpoint/42", "secret",
         VEK_ONVIF_ERR_FAIL},
        {"HTTP 404", sim_->baseUrl() + "/no/such/path", "secret", VEK_ONVIF_ERR_FAIL},
        {"refused credentials", pullPoint_.pszAddress, "wrong", VEK_ONVIF_ERR_SOAP},
    };
    for (const Failure &f : failures) {
        SCOPED_TRACE(f.what);
        OnvifPullPoint other{};
        other.pszAddress = const_cast<char *>(f.address.c_str());
        OnvifPullResult result{};
        EXPECT_EQ(f.expected, VEK_Onvif_PullPoint_Pull(soap_, &other, "admin", f.password, 1, 0,
                                                       &motion_.inputs, &motion_.cfg, &result));
    }
    sim_->stop();
    OnvifPullResult result{};
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
              VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, "admin", "secret", 1, 0, &motion_.inputs,
                                       &motion_.cfg, &result));
}

// How the stored reference is cut into marked header blocks: only
// top-level elements count, quotes and self-closed tags are honoured, a
// block already marked stays as it is, and a text that is not whole
// elements is refused.
TEST(ReferenceBlocks, EachTopLevelElementIsMarkedOnce)
{
    struct Case {
        const char *reference;
        std::optional<std::vector<std::string>> blocks;
    };
    const std::string mark = " wsa5:IsReferenceParameter=\"true\"";
    const Case cases[] = {
        {"<a:Id xmlns:a=\"u\">7</a:Id>", {{"<a:Id xmlns:a=\"u\"" + mark + ">7</a:Id>"}}},
        {" <a:E x='1>2'/>\n<!-- c --><b:F>t<b:F/><b:G/></b:F> ",
         {{"<a:E x='1>2'" + mark + "/>", "<b:F" + mark + ">t<b:F/><b:G/></b:F>"}}},
        {"<a:Id wsa5:IsReferenceParameter=\"1\">7</a:Id>",
         {{"<a:Id wsa5:IsReferenceParameter=\"1\">7</a:Id>"}}},
        {"", std::vector<std::string>{}},
        {"7", std::nullopt},
        {"<a:Id>7", std::nullopt},
        {"</a:Id>", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reference);
        EXPECT_EQ(c.blocks, vek::markedReferenceBlocks(c.reference));
    }
}

// Every allocation of a create and of a pull fails in turn: the call fails
// (or reports nothing) and leaves nothing allocated, the record untouched.
TEST_F(PullPointFamilyEdges, AllocationFailureAtEachStepLeavesNothing)
{
    camsim::Config config;
    config.sharedPullPointAddress = true;
    config.pullPoint.referenceParameters = true;
    sim_ = std::make_unique<camsim::CameraSim>(config);
    sim_->start();
    bool created = false;
    for (int32_t n = 0; n < 50 && !created; ++n) {
        SCOPED_TRACE(n);
        const uint32_t before = VEK_PLAT_GetLiveBlocks();
        VEK_PLAT_FailAllocAfter(n);
        uint32_t code = VEK_Onvif_PullPoint_Create(soap_, sim_->eventServiceUrl().c_str(), "admin",
                                                   "secret", 60, &pullPoint_);
        VEK_PLAT_FailAllocAfter(-1);
        created = code == VEK_ONVIF_OK;
        if (!created) {
            EXPECT_EQ(VEK_ONVIF_ERR_NOMEM, code);
            EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
            EXPECT_EQ(nullptr, pullPoint_.pszAddress);
        }
    }
    ASSERT_TRUE(created);
    ASSERT_NE(nullptr, pullPoint_.pszReference);

    bool reported = false;
    for (int32_t n = 0; n < 50 && !reported; ++n) {
        SCOPED_TRACE(n);
        sim_->queueMessage(motion("Changed", "true"));
        const uint32_t before = VEK_PLAT_GetLiveBlocks();
        OnvifPullResult result{};
        VEK_PLAT_FailAllocAfter(n);
        uint32_t code = VEK_Onvif_PullPoint_Pull(soap_, &pullPoint_, "admin", "secret", 8, 0,
                                                 &motion_.inputs, &motion_.cfg, &result);
        VEK_PLAT_FailAllocAfter(-1);
        EXPECT_EQ(VEK_ONVIF_OK, code);
        reported = result.ulAlarmCount == 1;
        if (reported) {
            ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
        } else {
            EXPECT_EQ(nullptr, result.pstAlarmReports);
            EXPECT_EQ(before, VEK_PLAT_GetLiveBlocks());
        }
    }
    EXPECT_TRUE(reported);
    // The other steps allocate nothing on the platform heap: with every
    // allocation failing they still work.
    VEK_PLAT_FailAllocAfter(0);
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Renew(soap_, &pullPoint_, "admin", "secret", 60));
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_PullPoint_SetSynchronizationPoint(soap_, &pullPoint_, "admin", "secret"));
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Unsubscribe(soap_, &pullPoint_, "admin", "secret"));
    VEK_PLAT_FailAllocAfter(-1);
}

} // namespace
