// The pull point against the camera simulator: creating it, pulling with
// and without messages, the caller's context reused across pulls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "camsim.h"
#include "context_fixture.h"
#include "soapH.h"
#include "test_support.h"
#include "vek_onvif_event.h"

namespace
{

using vektest::LogCapture;

class PullPointTest : public vektest::ContextFixture<>
{
  protected:
    void TearDown() override
    {
        sim_.reset();
        ContextFixture::TearDown();
    }

    void startCamera(camsim::Config config = {})
    {
        sim_ = std::make_unique<camsim::CameraSim>(std::move(config));
        sim_->start();
    }

    // Creates the pull point; the address is freed by the caller.
    std::string create(const char *user = "admin", const char *password = "secret")
    {
        char *address = nullptr;
        EXPECT_EQ(VEK_ONVIF_OK,
                  VEK_Onvif_CreatePullPointSubscription(soap_, sim_->eventServiceUrl().c_str(),
                                                        user, password, &address));
        std::string text = address != nullptr ? address : "";
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&address), "test", __LINE__);
        return text;
    }

    static std::string motion(const char *state)
    {
        return camsim::makeNotificationMessage("tns1:VideoSource/MotionAlarm",
                                               camsim::makeSimpleMessage("2026-12-10T01:00:00Z",
                                                                         "Changed", "Source", "vs1",
                                                                         "State", state));
    }

    std::unique_ptr<camsim::CameraSim> sim_;
    vektest::MotionConfig motion_;
    OnvifAlarmCfg &cfg_ = motion_.cfg;
    OnvifAlarmInputList &inputs_ = motion_.inputs;
};

TEST_F(PullPointTest, CreateAndPullSeries)
{
    startCamera();
    std::string address = create();
    EXPECT_EQ(sim_->baseUrl() + "/onvif/pullpoint/1", address);
    auto creates = sim_->requests("CreatePullPointSubscription");
    ASSERT_EQ(1u, creates.size());
    EXPECT_EQ("PT2M", creates[0].body.at("InitialTerminationTime"));
    EXPECT_TRUE(creates[0].authenticated);
    EXPECT_EQ("http://www.onvif.org/ver10/events/wsdl/EventPortType/"
              "CreatePullPointSubscriptionRequest",
              creates[0].wsaAction);
    EXPECT_EQ(nullptr, soap_->header); // the context was cleaned

    sim_->queueMessage(motion("true"));
    sim_->queueMessage(motion("false"));
    const int expected[] = {1, 1001};
    // One context for the whole series; each pull asks for one message.
    for (int expectedType : expected) {
        OnvifPullResult result{};
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullMessages(soap_, address.c_str(), "admin", "secret",
                                                       &inputs_, &cfg_, &result));
        ASSERT_EQ(1u, result.ulAlarmCount);
        ASSERT_NE(nullptr, result.pstAlarmReports);
        EXPECT_EQ(expectedType, result.pstAlarmReports[0].AlarmType);
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
    }
    // Nothing left: success without reports.
    OnvifPullResult empty{reinterpret_cast<OnvifAlarmReport *>(&cfg_), 9};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullMessages(soap_, address.c_str(), "admin", "secret",
                                                   &inputs_, &cfg_, &empty));
    EXPECT_EQ(nullptr, empty.pstAlarmReports);
    EXPECT_EQ(0u, empty.ulAlarmCount);

    auto pulls = sim_->requests("PullMessages");
    ASSERT_EQ(3u, pulls.size());
    for (const auto &pull : pulls) {
        EXPECT_EQ("PT1S", pull.body.at("Timeout"));
        EXPECT_EQ("1", pull.body.at("MessageLimit"));
        EXPECT_TRUE(pull.authenticated);
        EXPECT_EQ(address, pull.wsaTo);
    }
}

TEST_F(PullPointTest, EmptyUserNameStillCarriesAToken)
{
    camsim::Config config;
    config.requireAuth = false;
    startCamera(config);
    std::string address = create("", "");
    auto create = sim_->requests("CreatePullPointSubscription").at(0);
    EXPECT_TRUE(create.hasSecurity);
    EXPECT_EQ("", create.username);
    OnvifPullResult result{};
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_PullMessages(soap_, address.c_str(), "", "", &inputs_, &cfg_, &result));
    EXPECT_TRUE(sim_->requests("PullMessages").at(0).hasSecurity);
}

TEST_F(PullPointTest, LongAddressIsCopiedWhole)
{
    camsim::Config config;
    config.pullPoint.longAddress = true;
    startCamera(config);
    std::string address = create();
    EXPECT_GT(address.size(), 300u);
    EXPECT_EQ(0u, address.rfind(sim_->baseUrl() + "/onvif/pullpoint/1", 0));
    OnvifPullResult result{};
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullMessages(soap_, address.c_str(), "admin", "secret",
                                                   &inputs_, &cfg_, &result));
    EXPECT_EQ(address, sim_->requests("PullMessages").at(0).wsaTo);
}

TEST_F(PullPointTest, FailuresLeaveOutValuesAlone)
{
    camsim::Config config;
    config.pullPoint.omitAddress = true;
    startCamera(config);
    LogCapture log;
    char *address = reinterpret_cast<char *>(&cfg_);
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
              VEK_Onvif_CreatePullPointSubscription(soap_, sim_->eventServiceUrl().c_str(), "admin",
                                                    "secret", &address));
    EXPECT_EQ(reinterpret_cast<char *>(&cfg_), address);
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_CreatePullPointSubscription",
                        "fail to get stCreatePullPointSubscriptionResponse."));

    EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
              VEK_Onvif_CreatePullPointSubscription(soap_, sim_->eventServiceUrl().c_str(), "admin",
                                                    "wrong", &address));
    EXPECT_TRUE(
        log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_CreatePullPointSubscription",
                "Failed to create pull point subscription, url:" + sim_->eventServiceUrl() + "."));

    OnvifPullResult result{};
    std::string gone = sim_->baseUrl() + "/onvif/pullpoint/42";
    EXPECT_EQ(VEK_ONVIF_ERR_SOAP, VEK_Onvif_PullMessages(soap_, gone.c_str(), "admin", "secret",
                                                         &inputs_, &cfg_, &result));
    EXPECT_TRUE(log.hasText("Failed to VEK_Onvif_PullMessages, url:" + gone + "."));
    EXPECT_EQ(nullptr, result.pstAlarmReports);

    log.clear();
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_CreatePullPointSubscription(soap_, "", "a", "b", &address));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_CreatePullPointSubscription(nullptr, "http://x/", "a", "b", &address));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_PullMessages(soap_, "http://x/", "a", "b", &inputs_, &cfg_, nullptr));
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_PullMessages(soap_, "http://x/", nullptr, "b", &inputs_, &cfg_, &result));
    EXPECT_EQ(4u, log.lines().size());
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_PullMessages", "Invalid input Param."));
}

// A caller keeps one result record for all its pulls and frees what each
// pull hands over. A failed pull must not leave the previous array in it.
TEST_F(PullPointTest, FailedPullLeavesNoReportsInAReusedRecord)
{
    startCamera();
    std::string address = create();
    std::string gone = sim_->baseUrl() + "/onvif/pullpoint/42";
    struct Failure {
        const char *what;
        std::string address;
        const char *password;
    };
    const Failure failures[] = {
        {"unknown pull point", gone, "secret"},
        {"refused credentials", address, "wrong"},
    };
    OnvifPullResult result{};
    for (const Failure &failure : failures) {
        SCOPED_TRACE(failure.what);
        sim_->queueMessage(motion("true"));
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullMessages(soap_, address.c_str(), "admin", "secret",
                                                       &inputs_, &cfg_, &result));
        ASSERT_EQ(1u, result.ulAlarmCount);
        OnvifAlarmReport *handedOver = result.pstAlarmReports;
        ASSERT_NE(nullptr, handedOver);
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&handedOver), "test", __LINE__);

        EXPECT_EQ(VEK_ONVIF_ERR_SOAP,
                  VEK_Onvif_PullMessages(soap_, failure.address.c_str(), "admin", failure.password,
                                         &inputs_, &cfg_, &result));
        EXPECT_EQ(nullptr, result.pstAlarmReports);
        EXPECT_EQ(0u, result.ulAlarmCount);
    }
}

TEST_F(PullPointTest, RealMessagesFromTheCorpus)
{
    startCamera();
    std::string address = create();
    // Eight initial-state messages: all "Initialized", so none is reported.
    for (const std::string &message : camsim::extractNotificationMessages(
             vektest::readFixture("corpus/notify/pull-initial-state-01.xml"))) {
        sim_->queueMessage(message);
    }
    // Two changed messages: motion on the video source, then cell motion.
    for (const std::string &message : camsim::extractNotificationMessages(
             vektest::readFixture("corpus/notify/motion-changed-01.xml"))) {
        sim_->queueMessage(message);
    }
    size_t queued = sim_->queuedMessages();
    ASSERT_EQ(10u, queued);

    // Templates of the kinds the messages carry (as discovery builds them).
    OnvifSimpleItem vsSource{};
    std::strcpy(vsSource.Name, "Source");
    std::strcpy(vsSource.Value, "common_string");
    OnvifSimpleItem vsData{};
    std::strcpy(vsData.Name, "State");
    std::strcpy(vsData.Value, "common_boolean");
    OnvifSimpleItem cellSource[3] = {};
    std::strcpy(cellSource[0].Name, "VideoSourceConfigurationToken");
    std::strcpy(cellSource[1].Name, "VideoAnalyticsConfigurationToken");
    std::strcpy(cellSource[2].Name, "Rule");
    for (OnvifSimpleItem &item : cellSource) {
        std::strcpy(item.Value, "common_string");
    }
    OnvifSimpleItem cellData{};
    std::strcpy(cellData.Name, "IsMotion");
    std::strcpy(cellData.Value, "common_boolean");
    OnvifAlarmTemplate templates[2] = {};
    templates[0].AlarmType = 1;
    templates[0].SourceCount = 1;
    templates[0].SourceItems = &vsSource;
    templates[0].DataCount = 1;
    templates[0].DataItems = &vsData;
    templates[1].AlarmType = 1;
    templates[1].SourceCount = 3;
    templates[1].SourceItems = cellSource;
    templates[1].DataCount = 1;
    templates[1].DataItems = &cellData;
    cfg_.PresetAlarmCount = 2;
    cfg_.PresetAlarms = templates;

    std::vector<int> reported;
    for (size_t i = 0; i < queued; ++i) {
        OnvifPullResult result{};
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullMessages(soap_, address.c_str(), "admin", "secret",
                                                       &inputs_, &cfg_, &result));
        for (uint32_t r = 0; r < result.ulAlarmCount; ++r) {
            reported.push_back(result.pstAlarmReports[r].AlarmType);
        }
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
    }
    EXPECT_EQ(std::vector<int>({1, 1}), reported);
}

} // namespace
