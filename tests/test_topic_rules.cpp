// The process-wide table of added topic rules: its arguments, its bound,
// its use from many threads, and templates built from the table alone.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "discovery_expect.h"
#include "vek_onvif_event.h"

namespace
{

class TopicRules : public ::testing::Test
{
  protected:
    void SetUp() override { VEK_Onvif_ClearTopicRules(); }
    void TearDown() override { VEK_Onvif_ClearTopicRules(); }

    // Templates the table gives: its rows and the added rules.
    uint32_t tableTemplates()
    {
        EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_TemplatesFromTable(&cfg_.cfg));
        return cfg_.cfg.PropeAlarmCount;
    }

    const OnvifAlarmTemplate *templateOf(const std::string &topic) const
    {
        for (uint32_t i = 0; i < cfg_.cfg.PropeAlarmCount; ++i) {
            if (topic == cfg_.cfg.pstPropeAlarmInfo[i].Topic) {
                return &cfg_.cfg.pstPropeAlarmInfo[i];
            }
        }
        return nullptr;
    }

    vektest::Cfg cfg_;
};

TEST_F(TopicRules, RefusesBadTopicsAndCodes)
{
    const std::string tooLong = "tns1:" + std::string(251, 'a');
    struct Bad {
        const char *topic;
        uint32_t code;
    };
    const Bad cases[] = {
        {nullptr, 1},         {"", 1},          {"  ", 1},
        {"tns1:A//B", 1},     {"/A", 1},        {"A/", 1},
        {"tns1:", 1},         {"A/tns1:/B", 1}, {"A B/C", 1},
        {tooLong.c_str(), 1}, {"tns1:A/B", 0},  {"tns1:A/B", 1000},
        {"tns1:A/B", 2000},
    };
    const uint32_t base = tableTemplates();
    for (const Bad &c : cases) {
        SCOPED_TRACE(c.topic != nullptr ? c.topic : "(null)");
        EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_AddTopicRule(c.topic, c.code, nullptr));
    }
    EXPECT_EQ(base, tableTemplates());
    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_AddTopicRule(("tns1:" + std::string(250, 'a')).c_str(), 999, "x"));
    EXPECT_EQ(base + 1, tableTemplates());
}

TEST_F(TopicRules, HoldsAtMost256AndReplacesTheSameTopic)
{
    const uint32_t base = tableTemplates();
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_AddTopicRule(
                                    ("tns1:Vendor/Rule" + std::to_string(i)).c_str(), 1, nullptr));
    }
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, VEK_Onvif_AddTopicRule("tns1:Vendor/One/More", 1, nullptr));
    // The same topic (whatever its prefixes) replaces its rule, full or not.
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_AddTopicRule("other:Vendor/x:Rule7", 3, "State"));
    EXPECT_EQ(base + 256, tableTemplates());
    const OnvifAlarmTemplate *replaced = templateOf("other:Vendor/x:Rule7");
    ASSERT_NE(nullptr, replaced);
    EXPECT_EQ(3u, replaced->AlarmType);

    VEK_Onvif_ClearTopicRules();
    EXPECT_EQ(base, tableTemplates());
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_AddTopicRule("tns1:Vendor/One/More", 1, nullptr));
}

TEST_F(TopicRules, ManyThreadsFillTheTableExactly)
{
    const uint32_t base = tableTemplates();
    std::atomic<int> added{0};
    std::atomic<int> full{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &added, &full] {
            for (int i = 0; i < 100; ++i) {
                const std::string topic =
                    "tns1:Vendor/T" + std::to_string(t) + "/R" + std::to_string(i);
                const uint32_t result = VEK_Onvif_AddTopicRule(topic.c_str(), 1, nullptr);
                (result == VEK_ONVIF_OK ? added : full)++;
                EXPECT_TRUE(result == VEK_ONVIF_OK || result == VEK_ONVIF_ERR_FAIL) << result;
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(256, added.load());
    EXPECT_EQ(144, full.load());
    EXPECT_EQ(base + 256, tableTemplates());
}

// A rule for a row's topic takes the row's place in the table's templates.
TEST_F(TopicRules, RuleTakesTheRowOfItsTopic)
{
    const uint32_t base = tableTemplates();
    const OnvifAlarmTemplate *row = templateOf("tns1:VideoSource/MotionAlarm");
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(VEK_ALARM_MOTION, row->AlarmType);
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_AddTopicRule("x:VideoSource/y:MotionAlarm", 22, nullptr));
    EXPECT_EQ(base, tableTemplates());
    EXPECT_EQ(nullptr, templateOf("tns1:VideoSource/MotionAlarm"));
    const OnvifAlarmTemplate *rule = templateOf("x:VideoSource/y:MotionAlarm");
    ASSERT_NE(nullptr, rule);
    EXPECT_EQ(22u, rule->AlarmType);
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Event_TemplatesFromTable(nullptr));
}

} // namespace
