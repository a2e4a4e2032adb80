// Subscribe, Renew and Unsubscribe against the camera simulator over
// loopback, and the subscription record's internal steps.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "exchange.h"
#include "notify_helpers.h"
#include "reference_compact.h"
#include "reference_namespaces.h"
#include "soapH.h"
#include "test_support.h"
#include "vek_onvif_event.h"
#include "vek_subscription_internal.h"

namespace
{

using vektest::boundPort;
using vektest::LogCapture;
using vektest::motionMessage;

bool isOpen(int fd)
{
    int type = 0;
    socklen_t len = sizeof type;
    return fd >= 0 && getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0;
}

class SubscriptionTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Spread parallel test processes over distinct port ranges.
        gS32AlarmDftPort = 20000 + static_cast<int32_t>(getpid() % 4000) * 2;
        std::strcpy(access_.szUserName, "admin");
        std::strcpy(access_.szPassword, "secret");
        descriptors_ = vektest::openDescriptorCount();
        blocks_ = VEK_PLAT_GetLiveBlocks();
        startCamera();
    }

    // Every socket the library opened is closed again, every block freed.
    void TearDown() override
    {
        sim_.reset();
        EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks());
        EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    }

    void startCamera(camsim::Config config = {})
    {
        sim_.reset();
        sim_ = std::make_unique<camsim::CameraSim>(std::move(config));
        sim_->start();
        std::snprintf(access_.szEventUrl, sizeof access_.szEventUrl, "%s",
                      sim_->eventServiceUrl().c_str());
    }

    uint32_t subscribe(uint32_t scope)
    {
        return VEK_Onvif_Subscribe(access_.szEventUrl, scope, &access_, &caps_, &fd_, &sub_);
    }

    std::unique_ptr<camsim::CameraSim> sim_;
    OnvifDevAccess access_{};
    OnvifSmartCaps caps_{};
    OnvifSubInfo sub_{};
    int32_t fd_ = -7;
    int descriptors_ = 0;
    uint32_t blocks_ = 0;
};

TEST_F(SubscriptionTest, PushPathEndToEnd)
{
    ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_COMMON));
    ASSERT_TRUE(isOpen(fd_));
    EXPECT_EQ(1u, sub_.ulCommonAlarmSub);
    EXPECT_EQ(0u, sub_.ulSmartDataSub);
    EXPECT_EQ(sim_->baseUrl() + "/onvif/subscription/1", std::string(sub_.szCommonSubAddr));
    EXPECT_NE(nullptr, std::strstr(sub_.szCommonSubRef, "SubscriptionId"));

    auto requests = sim_->requests("Subscribe");
    ASSERT_EQ(1u, requests.size());
    const camsim::RecordedRequest &request = requests[0];
    EXPECT_TRUE(request.authenticated);
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(boundPort(fd_)) + "/onvif_notify_server",
              request.body.at("ConsumerReference/Address"));
    EXPECT_EQ("PT1M", request.body.at("InitialTerminationTime"));
    EXPECT_EQ(0u, request.body.count("Filter/TopicExpression"));
    EXPECT_EQ(std::string::npos, request.rawBody.find("Filter"));
    EXPECT_EQ("http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeRequest",
              request.wsaAction);
    EXPECT_EQ(sim_->eventServiceUrl(), request.wsaTo);
    EXPECT_EQ(0u, request.wsaMessageId.rfind("urn:uuid:", 0)) << request.wsaMessageId;
    EXPECT_EQ(45u, request.wsaMessageId.size()) << request.wsaMessageId;
    EXPECT_EQ("http://www.w3.org/2005/08/addressing/anonymous", request.wsaReplyTo);

    // The camera pushes three messages, two of which fit the template.
    vektest::MotionConfig motion;
    std::vector<std::string> messages = {
        motionMessage("true"),
        camsim::makeNotificationMessage("tns1:Device/Trigger/Relay",
                                        camsim::makeSimpleMessage("2026-12-10T01:00:01Z", "Changed",
                                                                  "RelayToken", "1", "LogicalState",
                                                                  "active")),
        motionMessage("false"),
    };
    camsim::SendResult pushed;
    std::thread camera([&] { pushed = sim_->notify(1, messages); });
    uint32_t count = 0;
    uint32_t connected = 0;
    OnvifAlarmReport *reports = vektest::receiveNotify(fd_, &motion.cfg, &motion.inputs,
                                                       access_.szEventUrl, &count, &connected);
    camera.join();
    EXPECT_TRUE(pushed.sent) << pushed.error;
    ASSERT_EQ(1u, connected);
    ASSERT_NE(nullptr, reports);
    ASSERT_EQ(2u, count);
    EXPECT_EQ(1, reports[0].AlarmType);
    EXPECT_EQ(1001, reports[1].AlarmType);
    EXPECT_EQ(1u, reports[0].Channel);
    EXPECT_EQ(0xffffffffu, reports[0].Reserved);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);

    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Renew(sub_.szCommonSubAddr, sub_.szCommonSubRef, "admin", "secret"));
    auto renews = sim_->requests("Renew");
    ASSERT_EQ(1u, renews.size());
    EXPECT_EQ(200, renews[0].responseStatus);
    EXPECT_EQ("PT1M", renews[0].body.at("TerminationTime"));
    ASSERT_EQ(1u, renews[0].referenceParameters.size());
    EXPECT_EQ("1", renews[0].referenceParameters[0].text);

    int listening = fd_;
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_BOTH, &sub_));
    EXPECT_EQ(-1, fd_);
    EXPECT_FALSE(isOpen(listening));
    EXPECT_EQ(1u, sub_.ulCommonAlarmSub); // never cleared by the library
    ASSERT_EQ(1u, sim_->requests("Unsubscribe").size());
    EXPECT_EQ(200, sim_->requests("Unsubscribe")[0].responseStatus);
    EXPECT_TRUE(sim_->subscriptions().empty());
}

// What a recorder runs for a new camera: discovery builds the templates, the
// subscription delivers real camera messages, and the translation reports
// them with the codes the discovered templates give.
TEST_F(SubscriptionTest, NewCameraFromDiscoveryToReports)
{
    camsim::Config config;
    config.topicSetFile = vektest::fixturePath("corpus/properties/topicset-01.xml");
    startCamera(config);
    OnvifAlarmCfg cfg{};
    OnvifAlarmInputList inputs{};
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_GetEventProperties(access_.szEventUrl, "admin", "secret", &cfg));
    // VideoSource/MotionAlarm and ImageTooDark, then the RuleEngine rows in
    // table order.
    ASSERT_GE(cfg.PropeAlarmCount, 6u);
    const uint32_t codes[] = {1, 3, 1, 8, 3, 6};
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_EQ(codes[i], cfg.pstPropeAlarmInfo[i].AlarmType) << i;
    }

    ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_COMMON));
    const std::string notify = vektest::fixturePath("corpus/notify/");
    std::vector<std::string> messages;
    for (const auto &[file, topic] : std::vector<std::pair<std::string, std::string>>{
             {"tamper-01.xml", ""},
             {"objects-inside-02.xml", ""},
             {"line-crossed-02.xml", "tns1:RuleEngine/LineDetector/Crossed"}}) {
        for (std::string message : camsim::loadNotificationMessages(notify + file, topic)) {
            // The objects-inside example holds a "..." placeholder as text of
            // its own; no camera sends that between the holder's elements.
            size_t placeholder = message.find("\n  ...\n");
            if (placeholder != std::string::npos) {
                message.erase(placeholder, 6);
            }
            messages.push_back(message);
        }
    }
    // Cell motion on the analytics rule, as the second message of this capture.
    messages.push_back(camsim::extractNotificationMessages(
        vektest::readFixture("corpus/notify/motion-changed-01.xml"))[1]);
    ASSERT_EQ(4u, messages.size());

    camsim::SendResult pushed;
    std::thread camera([&] { pushed = sim_->notify(1, messages); });
    uint32_t count = 0;
    uint32_t connected = 0;
    OnvifAlarmReport *reports =
        vektest::receiveNotify(fd_, &cfg, &inputs, access_.szEventUrl, &count, &connected);
    camera.join();
    ASSERT_NE(nullptr, reports);
    // Tamper (3), objects inside with the Key's object id (8, 5), the
    // initial line-crossing state dropped, cell motion (1).
    ASSERT_EQ(3u, count);
    EXPECT_EQ(3, reports[0].AlarmType);
    EXPECT_EQ(8, reports[1].AlarmType);
    EXPECT_EQ(5, reports[1].ObjectValue);
    EXPECT_EQ(1, reports[2].AlarmType);
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(1u, reports[i].Channel);
    }
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_COMMON, &sub_));
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
}

TEST_F(SubscriptionTest, ReferenceDeclaredOnEnvelopeGoesBackWellFormed)
{
    for (bool padded : {false, true}) {
        camsim::Config config;
        config.subscribe.idDeclaration = camsim::IdDeclaration::OnEnvelope;
        config.subscribe.padId = padded;
        startCamera(config);
        sub_ = OnvifSubInfo{};
        ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_COMMON));
        EXPECT_NE(nullptr, std::strstr(sub_.szCommonSubRef,
                                       "xmlns:dom0=\"http://www.example.com/onvif/subscription\""))
            << sub_.szCommonSubRef;
        ASSERT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Renew(sub_.szCommonSubAddr, sub_.szCommonSubRef, "admin", "secret"));
        auto renew = sim_->requests("Renew").at(0);
        ASSERT_EQ(1u, renew.referenceParameters.size());
        EXPECT_EQ("http://www.example.com/onvif/subscription",
                  renew.referenceParameters[0].namespaceUri);
        EXPECT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_COMMON, &sub_));
        EXPECT_EQ(200, sim_->requests("Unsubscribe").at(0).responseStatus);
    }
}

// Quotes and angle brackets in an attribute of the reference are stored
// escaped: Renew and Unsubscribe send it well-formed, with the value the
// camera gave.
TEST_F(SubscriptionTest, EscapedReferenceValueGoesBackEscaped)
{
    camsim::Config config;
    config.subscribe.idTagExtra = " dom0:x=\"&quot;&lt;\"";
    startCamera(config);
    ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_COMMON));
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Renew(sub_.szCommonSubAddr, sub_.szCommonSubRef, "admin", "secret"));
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_COMMON, &sub_));
    for (const char *operation : {"Renew", "Unsubscribe"}) {
        SCOPED_TRACE(operation);
        auto request = sim_->requests(operation).at(0);
        ASSERT_TRUE(request.wellFormed);
        ASSERT_EQ(1u, request.referenceParameters.size());
        EXPECT_EQ("\"<", request.referenceParameters[0].attributes.at("dom0:x"));
        EXPECT_EQ(200, request.responseStatus);
    }
}

// The stored reference is the shortest well-formed equivalent of what the
// camera sent. One that does not fit even so would be stored cut and could be
// neither renewed nor ended: the subscription is ended at once and fails.
TEST_F(SubscriptionTest, ReferenceIsStoredWholeOrTheSubscriptionEnded)
{
    caps_ = OnvifSmartCaps{1, 1, 0, 0, 0};
    VEK_PLAT_SetDevPort(8123, 0);
    // "<dom0:SubscriptionId xmlns:dom0=\"NS\">1</dom0:SubscriptionId>" is 58
    // characters besides the namespace.
    auto namespaceFor = [](size_t referenceLength) {
        return "urn:" + std::string(referenceLength - 58 - 4, 'n');
    };
    struct Case {
        const char *what;
        size_t compactLength;
        std::string tagExtra; // what the camera adds that the compact form leaves out
        camsim::IdDeclaration declaration;
        uint32_t scope;
    };
    const Case cases[] = {
        {"fits once compact", 127, "  xmlns:tt=\"http://www.onvif.org/ver10/schema\"\n ",
         camsim::IdDeclaration::OnElement, VEK_ONVIF_SCOPE_COMMON},
        {"fits with the declaration from the envelope", 127, "", camsim::IdDeclaration::OnEnvelope,
         VEK_ONVIF_SCOPE_SMART},
        {"one character too long, common alarms", 128, " xmlns:tt=\"urn:tt\"",
         camsim::IdDeclaration::OnElement, VEK_ONVIF_SCOPE_COMMON},
        {"one character too long, smart data", 128, "", camsim::IdDeclaration::OnEnvelope,
         VEK_ONVIF_SCOPE_SMART},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        camsim::Config config;
        config.idNamespace = namespaceFor(c.compactLength);
        config.subscribe.idDeclaration = c.declaration;
        config.subscribe.idTagExtra = c.tagExtra;
        startCamera(config);
        sub_ = OnvifSubInfo{};
        fd_ = -7;
        const std::string compact = "<dom0:SubscriptionId xmlns:dom0=\"" + config.idNamespace +
                                    "\">1</dom0:SubscriptionId>";
        ASSERT_EQ(c.compactLength, compact.size());
        const bool common = c.scope == VEK_ONVIF_SCOPE_COMMON;
        const char *storedRef = common ? sub_.szCommonSubRef : sub_.szSmartSubRef;
        const char *storedAddr = common ? sub_.szCommonSubAddr : sub_.szSmartSubAddr;
        const uint32_t &flag = common ? sub_.ulCommonAlarmSub : sub_.ulSmartDataSub;

        LogCapture log;
        uint32_t result = subscribe(c.scope);
        if (c.compactLength < sizeof sub_.szCommonSubRef) {
            ASSERT_EQ(VEK_ONVIF_OK, result);
            EXPECT_EQ(1u, flag);
            EXPECT_EQ(compact, storedRef);
            // The camera takes the stored text back as the subscription's reference.
            EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Renew(storedAddr, storedRef, "admin", "secret"));
            EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", c.scope, &sub_));
            EXPECT_TRUE(sim_->subscriptions().empty());
        } else {
            const char *func =
                common ? "__VEK_Onvif_CommonAlarmSubscribe" : "__VEK_Onvif_SmartDataSubscribe";
            const char *failed = common ? "Faied to subscribe CommonAlarm data."
                                        : "Faied to subscribe smartalarm data.";
            EXPECT_EQ(common ? 112u : 0u, result);
            EXPECT_EQ(0u, flag);
            EXPECT_EQ(std::string(), storedRef);
            EXPECT_EQ(std::string(), storedAddr);
            EXPECT_EQ(-7, fd_);
            EXPECT_TRUE(log.has(1, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_Subscribe", failed));
            bool logged = false;
            for (const auto &line : log.lines()) {
                logged |= line.level == 4 && line.code == 112 && line.func == func &&
                          line.text.find("128") != std::string::npos;
            }
            EXPECT_TRUE(logged);
            // Ended with the whole reference: the camera knew it and holds nothing.
            auto unsubscribes = sim_->requests("Unsubscribe");
            EXPECT_EQ(1u, unsubscribes.size());
            for (const auto &unsubscribe : unsubscribes) {
                EXPECT_EQ(200, unsubscribe.responseStatus);
            }
            EXPECT_TRUE(sim_->subscriptions().empty());
        }
    }
    VEK_PLAT_SetDevPort(80, 0);
}

TEST_F(SubscriptionTest, RefusedAuthenticationClosesTheBoundSocket)
{
    std::strcpy(access_.szPassword, "wrong");
    LogCapture log;
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, subscribe(VEK_ONVIF_SCOPE_BOTH));
    EXPECT_EQ(-7, fd_);
    EXPECT_EQ(0u, sub_.ulCommonAlarmSub);
    EXPECT_EQ(std::string(), sub_.szCommonSubAddr);
    EXPECT_TRUE(log.hasText("[Soap err:"));
    EXPECT_TRUE(
        log.hasText("LogPrint: Failed to Subscribe ComonAlarm, Url:" + sim_->eventServiceUrl()));
    EXPECT_TRUE(log.has(1, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_Subscribe",
                        "Faied to subscribe CommonAlarm data."));
    auto requests = sim_->requests("Subscribe");
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("ter:NotAuthorized", requests[0].faultSubcode);
}

TEST_F(SubscriptionTest, EmptyUserNameSendsNoSecurityHeader)
{
    camsim::Config config;
    config.requireAuth = false;
    config.subscribe.referenceParameters = false; // the path alone names the subscription
    startCamera(config);
    access_.szUserName[0] = '\0';
    ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_COMMON));
    EXPECT_FALSE(sim_->requests("Subscribe").at(0).hasSecurity);
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Renew(sub_.szCommonSubAddr, nullptr, "", "x"));
    auto renew = sim_->requests("Renew").at(0);
    EXPECT_FALSE(renew.hasSecurity);
    EXPECT_TRUE(renew.referenceParameters.empty()); // null reference: no header block
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Unsubscribe(&fd_, "", "x", VEK_ONVIF_SCOPE_COMMON, &sub_));
    EXPECT_FALSE(sim_->requests("Unsubscribe").at(0).hasSecurity);
}

TEST_F(SubscriptionTest, SmartDataSubscriptionFilterAndPort)
{
    caps_ = OnvifSmartCaps{1, 1, 1, 1, 1};
    VEK_PLAT_SetDevPort(8123, 0);
    ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_SMART));
    EXPECT_EQ(-7, fd_); // no socket bound for smart data
    EXPECT_EQ(0u, sub_.ulCommonAlarmSub);
    EXPECT_EQ(1u, sub_.ulSmartDataSub);
    auto request = sim_->requests("Subscribe").at(0);
    const std::string expected = "tns1:UserAlarm/tns1:SmartHttpReport/tns1:LineDetector/"
                                 "tns1:UserAlarm/tns1:SmartHttpReport/tns1:FieldDetector/"
                                 "tns1:UserAlarm/tns1:SmartHttpReport/tns1:FaceDetector/"
                                 "tns1:UserAlarm/tns1:SmartHttpReport/tns1:CountAggregation/";
    EXPECT_EQ(221u, expected.size());
    EXPECT_EQ(expected, request.body.at("Filter/TopicExpression"));
    EXPECT_EQ("http://127.0.0.1:8123/onvif_notify_server",
              request.body.at("ConsumerReference/Address"));
    EXPECT_EQ("PT30S", request.body.at("InitialTerminationTime"));

    // Only the value 1 counts; with no rule the filter is empty.
    sub_ = OnvifSubInfo{};
    caps_ = OnvifSmartCaps{1, 2, 0, 0, 0};
    sim_->clearRequests();
    ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_SMART));
    auto bare = sim_->requests("Subscribe").at(0);
    ASSERT_EQ(1u, bare.body.count("Filter/TopicExpression"));
    EXPECT_EQ("", bare.body.at("Filter/TopicExpression"));
    VEK_PLAT_SetDevPort(80, 0);
}

TEST_F(SubscriptionTest, SmartFailureStillSucceedsWithCommonSubscription)
{
    caps_ = OnvifSmartCaps{1, 1, 0, 0, 0};
    VEK_PLAT_SetDevPort(80, 77);
    LogCapture log;
    EXPECT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_BOTH));
    VEK_PLAT_SetDevPort(80, 0);
    EXPECT_EQ(1u, sub_.ulCommonAlarmSub);
    EXPECT_EQ(0u, sub_.ulSmartDataSub);
    EXPECT_TRUE(isOpen(fd_));
    EXPECT_TRUE(
        log.has(4, 77, "__VEK_Onvif_SmartDataSubscribe", "Failed to get device ports info."));
    EXPECT_TRUE(log.has(1, 77, "VEK_Onvif_Subscribe", "Faied to subscribe smartalarm data."));
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_BOTH, &sub_));
}

TEST_F(SubscriptionTest, ScopesAndFlagsDecideWhatIsDone)
{
    caps_ = OnvifSmartCaps{1, 0, 0, 0, 0};
    // Scope 3: nothing is subscribed, yet the call succeeds.
    EXPECT_EQ(VEK_ONVIF_OK, subscribe(3));
    EXPECT_TRUE(sim_->requests().empty());
    EXPECT_EQ(-7, fd_);

    // Common subscription already made: only the smart one is added.
    sub_.ulCommonAlarmSub = 1;
    EXPECT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_BOTH));
    EXPECT_EQ(-7, fd_);
    EXPECT_EQ(1u, sim_->requests("Subscribe").size());
    EXPECT_EQ(1u, sub_.ulSmartDataSub);

    // Both flags set: a second call does nothing.
    EXPECT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_BOTH));
    EXPECT_EQ(1u, sim_->requests("Subscribe").size());
}

TEST_F(SubscriptionTest, BindLoopSkipsTakenPorts)
{
    int blocker = socket(AF_INET, SOCK_STREAM, 0);
    int reuse = 1; // an earlier test may have left the port in TIME_WAIT
    setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(gS32AlarmDftPort));
    ASSERT_EQ(0, bind(blocker, reinterpret_cast<sockaddr *>(&addr), sizeof addr));
    ASSERT_EQ(0, listen(blocker, 1));

    ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_COMMON));
    int port = boundPort(fd_);
    EXPECT_EQ(0, (port - gS32AlarmDftPort) % 2);
    EXPECT_GT(port, gS32AlarmDftPort);
    EXPECT_EQ("http://127.0.0.1:" + std::to_string(port) + "/onvif_notify_server",
              sim_->requests("Subscribe").at(0).body.at("ConsumerReference/Address"));
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_COMMON, &sub_));
    close(blocker);
}

// A port is 16 bits: a candidate past 65535 (or below 1) would be cut by the
// socket layer to some other port while the camera is told the uncut one.
TEST_F(SubscriptionTest, BindLoopStaysWithinThePortRange)
{
    struct Case {
        int32_t firstPort;
        bool blockFirst;
    };
    const Case cases[] = {{65534, true}, {65535, true}, {0, false}, {-1, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.firstPort);
        gS32AlarmDftPort = c.firstPort;
        int blocker = -1;
        if (c.blockFirst) {
            blocker = socket(AF_INET, SOCK_STREAM, 0);
            int reuse = 1;
            setsockopt(blocker, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<uint16_t>(c.firstPort));
            // When another program listens there already, the port is taken all the same.
            if (bind(blocker, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
                ASSERT_EQ(0, listen(blocker, 1));
            }
        }
        LogCapture log;
        EXPECT_EQ(VEK_ONVIF_ERR_FAIL, subscribe(VEK_ONVIF_SCOPE_COMMON));
        EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "__VEK_Onvif_CommonAlarmSubscribe",
                            "Failed to soap_bind, ipaddr: 127.0.0.1."));
        EXPECT_TRUE(log.has(1, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_Subscribe",
                            "Faied to subscribe CommonAlarm data."));
        EXPECT_EQ(0u, sub_.ulCommonAlarmSub);
        EXPECT_EQ(-7, fd_);
        EXPECT_TRUE(sim_->requests("Subscribe").empty());
        if (fd_ != -7) { // the old loop handed out a socket: do not leak it into the next case
            VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_COMMON, &sub_);
            fd_ = -7;
        }
        sub_ = OnvifSubInfo{};
        sim_->clearRequests();
        if (blocker >= 0) {
            close(blocker);
        }
    }
}

TEST_F(SubscriptionTest, InvalidArgumentsAndLocalAddressFailure)
{
    LogCapture log;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Subscribe(nullptr, 0, &access_, &caps_, &fd_, &sub_));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Subscribe(access_.szEventUrl, 0, &access_, nullptr, &fd_, &sub_));
    OnvifDevAccess empty{};
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Subscribe(access_.szEventUrl, 0, &empty, &caps_, &fd_, &sub_));
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_PARAM, "VEK_Onvif_Subscribe", "Invalid input Param."));

    VEK_PLAT_SetLocalAddr("x", 42);
    EXPECT_EQ(42u, subscribe(VEK_ONVIF_SCOPE_COMMON));
    VEK_PLAT_SetLocalAddr(nullptr, 0);
    EXPECT_TRUE(log.has(4, 42, "VEK_Onvif_Subscribe", "Failed to get LocalAddr."));
    EXPECT_TRUE(sim_->requests().empty());
}

TEST_F(SubscriptionTest, AnswerWithoutReferenceClosesSocket)
{
    camsim::Config config;
    config.subscribe.omitAddress = true;
    startCamera(config);
    LogCapture log;
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, subscribe(VEK_ONVIF_SCOPE_COMMON));
    EXPECT_TRUE(log.has(1, VEK_ONVIF_ERR_FAIL, "__VEK_Onvif_ParseSubscribeRsp",
                        "Succeed to get subscribe response, but the rsp is null."));
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "__VEK_Onvif_CommonAlarmSubscribe",
                        "Failed to parse common alarm subscribe response."));
    EXPECT_EQ(-7, fd_);
}

TEST_F(SubscriptionTest, UnsubscribeSelectsParts)
{
    LogCapture log;
    sub_.ulSmartDataSub = 1;
    std::strcpy(sub_.szSmartSubAddr, (sim_->baseUrl() + "/onvif/subscription/9").c_str());
    // Scope 1 with only smart data flagged: nothing sent, 112, descriptor kept.
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_COMMON, &sub_));
    EXPECT_EQ(-7, fd_);
    EXPECT_TRUE(sim_->requests().empty());
    // Scope above 2 and nothing flagged are refused.
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", 3, &sub_));
    OnvifSubInfo none{};
    none.ulCommonAlarmSub = 2; // not 1: selects nothing, but passes the check
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_BOTH, &none));
    none.ulCommonAlarmSub = 0;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_BOTH, &none));
    EXPECT_TRUE(
        log.has(4, VEK_ONVIF_ERR_PARAM, "VEK_Onvif_Unsubscribe", "Invalid input Param,fd[-7]"));
    // The unknown smart subscription fails at the camera: 112.
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_SMART, &sub_));
    EXPECT_TRUE(log.hasText("LogPrint: Failed to Unsubscribe, Url:"));
}

TEST_F(SubscriptionTest, BothPartsReturnTheSmartResult)
{
    caps_ = OnvifSmartCaps{1, 1, 0, 0, 0};
    ASSERT_EQ(VEK_ONVIF_OK, subscribe(VEK_ONVIF_SCOPE_BOTH));
    ASSERT_EQ(1u, sub_.ulSmartDataSub);
    // The common subscription is gone at the camera; the smart one is not.
    std::strcpy(sub_.szCommonSubAddr, (sim_->baseUrl() + "/onvif/subscription/99").c_str());
    int listening = fd_;
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Unsubscribe(&fd_, "admin", "secret", VEK_ONVIF_SCOPE_BOTH, &sub_));
    EXPECT_EQ(-1, fd_);
    EXPECT_FALSE(isOpen(listening));
    EXPECT_EQ(2u, sim_->requests("Unsubscribe").size());
}

TEST_F(SubscriptionTest, RenewFailures)
{
    LogCapture log;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Renew("", nullptr, "a", "b"));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Renew("http://x/", nullptr, nullptr, "b"));
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_Renew", "Invalid input Param."));
    std::string gone = sim_->baseUrl() + "/onvif/subscription/5";
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
              VEK_Onvif_Renew(gone.c_str(), "<a:Id xmlns:a=\"urn:a\">5</a:Id>", "admin", "secret"));
    EXPECT_TRUE(log.hasText("[Soap err:"));
    EXPECT_TRUE(log.hasText("LogPrint: Failed to Renew, Url:" + gone));
}

// ---- Internal steps -------------------------------------------------------------------

TEST(ParseSubscribeRsp, CopiesBoundedTexts)
{
    LogCapture log;
    char addr[128];
    char ref[128];
    std::memset(ref, 'k', sizeof ref);
    ref[127] = '\0';
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, vek::parseSubscribeResponse(nullptr, addr, ref));
    EXPECT_TRUE(
        log.has(4, VEK_ONVIF_ERR_PARAM, "__VEK_Onvif_ParseSubscribeRsp", "Invalid input Param."));

    _ns7__SubscribeResponse rsp;
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, vek::parseSubscribeResponse(&rsp, addr, ref));
    wsa5__EndpointReferenceType reference;
    rsp.SubscriptionReference = &reference;
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, vek::parseSubscribeResponse(&rsp, addr, ref));
    EXPECT_TRUE(log.has(1, VEK_ONVIF_ERR_FAIL, "__VEK_Onvif_ParseSubscribeRsp",
                        "Succeed to get subscribe response, but the rsp is null."));

    std::string exact(127, 'a');
    reference.Address = &exact[0];
    ASSERT_EQ(VEK_ONVIF_OK, vek::parseSubscribeResponse(&rsp, addr, ref));
    EXPECT_EQ(exact, std::string(addr));
    EXPECT_EQ(std::string(127, 'k'), std::string(ref)); // no reference parameters: untouched

    std::string longer = "\n  " + std::string(200, 'b') + "  ";
    reference.Address = &longer[0];
    wsa5__ReferenceParametersType params;
    char first[] = "<a:Id xmlns:a=\"urn:a\">1</a:Id>";
    char second[] = "<b:Other/>";
    char *elements[] = {first, second};
    params.__size = 2;
    params.__any = elements;
    reference.ReferenceParameters = &params;
    ASSERT_EQ(VEK_ONVIF_OK, vek::parseSubscribeResponse(&rsp, addr, ref));
    EXPECT_EQ(std::string(127, 'b'), std::string(addr));
    EXPECT_STREQ(first, ref);
}

TEST(SubscribeAuth, MissingAccessOrContextIsRefused)
{
    LogCapture log;
    OnvifDevAccess access{};
    vek::Exchange withContext;
    EXPECT_EQ(VEK_ONVIF_ERR_NULL, vek::addSubscribeHeaders(withContext, nullptr));
    EXPECT_TRUE(log.lines().empty());

    // A frame whose context could not be allocated says so once, with 104.
    VEK_PLAT_FailAllocAfter(0);
    vek::Exchange withoutContext;
    VEK_PLAT_FailAllocAfter(-1);
    ASSERT_FALSE(withoutContext.ok());
    EXPECT_EQ(VEK_ONVIF_ERR_NOMEM, vek::addSubscribeHeaders(withoutContext, &access));
    EXPECT_TRUE(
        log.has(4, VEK_ONVIF_ERR_NOMEM, "__VEK_Onvif_SubscribeAuth", "Failed to init event soap."));
}

// The fragment with the declarations in scope at raw's ReferenceParameters
// (or where raw ends) added.
std::string inherited(std::string_view fragment, std::string_view raw)
{
    return vek::declareNamespaces(fragment, vek::namespacesInScopeAt(raw, "ReferenceParameters"));
}

TEST(ReferenceNamespaces, AddsOnlyMissingDeclarations)
{
    const std::string raw =
        "<e:Envelope xmlns:e=\"urn:env\" xmlns:dom0=\"urn:sub\" xmlns:w='urn:w'><e:Body>"
        "<dom0:SubscriptionId w:IsReferenceParameter=\"true\">3</dom0:SubscriptionId>";
    EXPECT_EQ(
        "<dom0:SubscriptionId xmlns:dom0=\"urn:sub\" xmlns:w=\"urn:w\" "
        "w:IsReferenceParameter=\"true\">3</dom0:SubscriptionId>",
        inherited("<dom0:SubscriptionId w:IsReferenceParameter=\"true\">3</dom0:SubscriptionId>",
                  raw));
    const std::string declared = "<x:Id xmlns:x=\"urn:x\" a=\"1>2\">4</x:Id>";
    EXPECT_EQ(declared, inherited(declared, raw));
    EXPECT_TRUE(vek::undeclaredPrefixes("<Id>5</Id>").empty());
    EXPECT_EQ(std::vector<std::string>{"q"}, vek::undeclaredPrefixes("<q:Id><q:x/></q:Id>"));
    // A type name in xsi:type, and an unprefixed name, rely on declarations too.
    const std::string typed = "<e:Envelope xmlns:e=\"urn:env\" xmlns=\"urn:d\" xmlns:xs=\"urn:xs\" "
                              "xmlns:xsi=\"urn:xsi\"><e:Body><w:ReferenceParameters "
                              "xmlns:w=\"urn:w\">";
    EXPECT_EQ("<Id xmlns=\"urn:d\" xmlns:xsi=\"urn:xsi\" xmlns:xs=\"urn:xs\" "
              "xsi:type=\"xs:string\">1</Id>",
              inherited("<Id xsi:type=\"xs:string\">1</Id>", typed));
    EXPECT_EQ("<w:Id xmlns=\"urn:d\" xmlns:w=\"urn:w\" xmlns:xsi=\"urn:xsi\" xsi:type=\"Kind\"/>",
              inherited("<w:Id xsi:type=\"Kind\"/>", typed));
    // Nothing to be found: the fragment stays as it is.
    EXPECT_EQ("<z:Id>1</z:Id>", inherited("<z:Id>1</z:Id>", raw));
}

TEST(ReferenceCompact, ShortestEquivalentFragment)
{
    struct Case {
        const char *received;
        const char *stored;
    };
    const Case cases[] = {
        // Whitespace between tags goes, character data stays as it is.
        {"<a:R xmlns:a=\"urn:a\">\n  <a:Id> 7 </a:Id>\n  <a:S>x <a:B/> y</a:S>\n</a:R>",
         "<a:R xmlns:a=\"urn:a\"><a:Id> 7 </a:Id><a:S>x <a:B/> y</a:S></a:R>"},
        // Spacing inside tags; a declaration nothing uses.
        {"<a:Id  xmlns:a = \"urn:a\"\n xmlns:b='urn:b' >1</a:Id >",
         "<a:Id xmlns:a=\"urn:a\">1</a:Id>"},
        // A prefix used only in an attribute name or a qualified-name value.
        {"<Id xmlns:w=\"urn:w\" xmlns:t=\"urn:t\" w:Is=\"true\" kind=\"t:Main\">1</Id>",
         "<Id xmlns:w=\"urn:w\" xmlns:t=\"urn:t\" w:Is=\"true\" kind=\"t:Main\">1</Id>"},
        // A redeclaration with the same namespace goes, one with another stays.
        {"<a:R xmlns:a=\"urn:a\"><a:Id xmlns:a=\"urn:a\">1</a:Id>"
         "<a:Id xmlns:a=\"urn:o\">2</a:Id></a:R>",
         "<a:R xmlns:a=\"urn:a\"><a:Id>1</a:Id><a:Id xmlns:a=\"urn:o\">2</a:Id></a:R>"},
        // Declared on the root but needed only below a redeclaration: not needed.
        {"<R xmlns:a=\"urn:a\"><a:Id xmlns:a=\"urn:o\">1</a:Id></R>",
         "<R><a:Id xmlns:a=\"urn:o\">1</a:Id></R>"},
        // The default namespace counts for unprefixed elements only.
        {"<Id xmlns=\"urn:d\">1</Id>", "<Id xmlns=\"urn:d\">1</Id>"},
        {"<a:Id xmlns=\"urn:d\" xmlns:a=\"urn:a\" n=\"1\"/>", "<a:Id xmlns:a=\"urn:a\" n=\"1\"/>"},
        {"<a:R xmlns:a=\"urn:a\"><a:Flag>\n</a:Flag></a:R>",
         "<a:R xmlns:a=\"urn:a\"><a:Flag/></a:R>"},
        // Kept: whitespace under xml:space="preserve", comments, CDATA, references.
        {"<R xml:space=\"preserve\"> <B/> </R>", "<R xml:space=\"preserve\"> <B/> </R>"},
        {"<R>\n<!-- c -->\n<![CDATA[ <x> ]]>&amp;</R>", "<R><!-- c --><![CDATA[ <x> ]]>&amp;</R>"},
        // Not XML: left alone.
        {"<a:Id>1</a:Other>", "<a:Id>1</a:Other>"},
        {"<a:Id>1", "<a:Id>1"},
        {"<a x=\"1\"y=\"2\"/>", "<a x=\"1\"y=\"2\"/>"},
        {"plain 1", "plain 1"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(c.stored, vek::compactReference(c.received)) << c.received;
    }
}

} // namespace
