// Long-run soundness: the recorder's loop against the camera simulator for
// VEK_SOAK_SECONDS (default 120) — Subscribe, Notify requests good and bad,
// Renew every few seconds, Unsubscribe and Subscribe again, discovery
// repeated. At the end nothing has grown: platform blocks, descriptors,
// resident memory; and every genuine event was reported exactly once.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "test_support.h"
#include "vek_onvif_event.h"

#if defined(__SANITIZE_ADDRESS__)
#define VEK_SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEK_SOAK_ASAN 1
#endif
#endif

namespace
{

using Clock = std::chrono::steady_clock;

int soakSeconds()
{
    const char *text = std::getenv("VEK_SOAK_SECONDS");
    int seconds = text != nullptr ? std::atoi(text) : 0;
    return seconds > 0 ? seconds : 120;
}

long residentKiB()
{
    long pages = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

std::string motion(const std::string &state, const std::string &operation = "Changed")
{
    return camsim::makeNotificationMessage(
        "tns1:VideoSource/MotionAlarm",
        camsim::makeSimpleMessage("2026-12-10T01:00:00Z", operation, "Source", "VideoSourceToken_1",
                                  "State", state));
}

std::string unknownTopic()
{
    return camsim::makeNotificationMessage("tns1:Monitoring/ProcessorUsage",
                                           camsim::makeSimpleMessage("2026-12-10T01:00:00Z",
                                                                     "Changed", "Source", "CPU",
                                                                     "Value", "75"));
}

// One request the camera sends, and the alarm types it must give.
struct Push {
    std::string bytes;
    std::vector<uint16_t> expected;
};

// The mix the camera cycles through: genuine alarms, alarms among messages
// the recorder does not know, and requests that must give nothing.
Push push(const std::string &url, uint64_t i)
{
    constexpr uint16_t kOn = VEK_ALARM_MOTION;
    constexpr uint16_t kOff = VEK_ALARM_MOTION + VEK_ALARM_INACTIVE_OFFSET;
    auto envelope = [&](const std::vector<std::string> &messages) {
        return camsim::buildHttpPost(url, camsim::buildNotifyEnvelope(messages, url));
    };
    switch (i % 8) {
    case 0:
        return {envelope({motion("true")}), {kOn}};
    case 1:
        return {envelope({motion("false")}), {kOff}};
    case 2:
        return {envelope({unknownTopic(), motion("true"), motion("false")}), {kOn, kOff}};
    case 3:
        return {envelope({motion("true", "Initialized")}), {}};
    case 4:
        return {camsim::buildHttpPost(url, "<not a notify"), {}};
    case 5: {
        std::string bytes = envelope({motion("true")});
        return {bytes.substr(0, bytes.size() * 2 / 3), {}};
    }
    case 6:
        return {envelope({unknownTopic()}), {}};
    default: {
        camsim::HttpPostOptions chunked;
        chunked.chunked = true;
        return {camsim::buildHttpPost(url, camsim::buildNotifyEnvelope({motion("false")}, url),
                                      chunked),
                {kOff}};
    }
    }
}

TEST(Soak, RecorderLoopAgainstTheSimulator)
{
    const int seconds = soakSeconds();
    gS32AlarmDftPort = 26000 + static_cast<int32_t>(getpid() % 2000) * 2;
    const uint32_t blocksAtStart = VEK_PLAT_GetLiveBlocks();
    const int descriptorsAtStart = vektest::openDescriptorCount();

    camsim::Config config;
    config.topicSetFile = vektest::fixturePath("corpus/properties/topicset-01.xml");
    camsim::CameraSim sim(config);
    sim.start();
    const std::string eventUrl = sim.eventServiceUrl();

    OnvifDevAccess access{};
    vekfix::copyText(access.szEventUrl, eventUrl);
    vekfix::copyText(access.szUserName, "admin");
    vekfix::copyText(access.szPassword, "secret");
    OnvifSmartCaps caps{};
    OnvifSubInfo sub{};
    int32_t listenFd = -1;

    // A caller-placed motion template; discovery adds the camera's own.
    vektest::MotionConfig preset;
    OnvifAlarmCfg &cfg = preset.cfg;
    OnvifAlarmInputList &inputs = preset.inputs;

    vektest::LogCapture log; // the bad requests are logged, not printed
    std::string consumer;
    auto subscribe = [&] {
        sub = OnvifSubInfo{};
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Subscribe(access.szEventUrl, VEK_ONVIF_SCOPE_COMMON,
                                                    &access, &caps, &listenFd, &sub));
        auto subscriptions = sim.subscriptions();
        ASSERT_FALSE(subscriptions.empty());
        consumer = subscriptions.back().consumerAddress;
    };
    subscribe();

    uint64_t pushes = 0;
    uint64_t genuine = 0;
    uint64_t reported = 0;
    uint64_t mismatched = 0;
    int renewals = 0;
    int resubscriptions = 0;
    int discoveries = 0;
    camsim::SendOptions send;
    send.shutdownWrite = true;
    send.readResponse = false;

    const auto start = Clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    auto nextRenew = start + std::chrono::seconds(3);
    auto nextResubscribe = start + std::chrono::seconds(15);
    auto nextDiscovery = start;
    // Measured once everything has run at least once.
    const auto warmedUp = start + std::chrono::seconds(seconds / 5 > 5 ? seconds / 5 : 5);
    bool measured = false;
    uint32_t blocksWarm = 0;
    int descriptorsWarm = 0;
    long residentWarm = 0;

    while (Clock::now() < end && !HasFatalFailure()) {
        const auto now = Clock::now();
        if (now >= nextDiscovery) {
            ASSERT_EQ(VEK_ONVIF_OK,
                      VEK_Onvif_GetEventProperties(eventUrl.c_str(), "admin", "secret", &cfg));
            ASSERT_GT(cfg.PropeAlarmCount, 0u);
            ++discoveries;
            nextDiscovery = now + std::chrono::seconds(10);
        }
        if (now >= nextRenew) {
            EXPECT_EQ(VEK_ONVIF_OK,
                      VEK_Onvif_Renew(sub.szCommonSubAddr, sub.szCommonSubRef, "admin", "secret"));
            ++renewals;
            nextRenew = now + std::chrono::seconds(3);
        }
        if (now >= nextResubscribe) {
            ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Unsubscribe(&listenFd, "admin", "secret",
                                                          VEK_ONVIF_SCOPE_COMMON, &sub));
            subscribe();
            ++resubscriptions;
            nextResubscribe = now + std::chrono::seconds(15);
        }
        if (!measured && now >= warmedUp) {
            measured = true;
            blocksWarm = VEK_PLAT_GetLiveBlocks();
            descriptorsWarm = vektest::openDescriptorCount();
            residentWarm = residentKiB();
        }

        // The camera's request waits in the listening socket's queue; the
        // recorder's next call takes it.
        Push p = push(consumer, pushes++);
        camsim::SendResult sent = camsim::sendRaw(consumer, p.bytes, send);
        ASSERT_TRUE(sent.sent) << sent.error;
        genuine += p.expected.size();
        uint32_t count = 0;
        uint32_t connected = 0;
        OnvifAlarmReport *reports = nullptr;
        for (int i = 0; i < 200 && connected == 0; ++i) {
            reports = VEK_Onvif_Recv_Notify(listenFd, &cfg, &inputs, access.szEventUrl, &count,
                                            &connected);
            if (connected == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        ASSERT_EQ(1u, connected) << "request " << pushes;
        reported += count;
        std::vector<uint16_t> got;
        for (uint32_t i = 0; i < count; ++i) {
            got.push_back(reports[i].AlarmType);
        }
        if (got != p.expected) {
            ++mismatched;
        }
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "soak", __LINE__);
        log.clear(); // kept lines would be the test's own growth
        // Pace the camera: a few hundred requests a second.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(measured);
    const uint32_t blocksEnd = VEK_PLAT_GetLiveBlocks();
    const int descriptorsEnd = vektest::openDescriptorCount();
    const long residentEnd = residentKiB();

    EXPECT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Unsubscribe(&listenFd, "admin", "secret", VEK_ONVIF_SCOPE_COMMON, &sub));
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
    sim.stop();

    std::printf("soak: %d s, %llu requests, %llu genuine events, %llu reported, %d renewals, "
                "%d resubscriptions, %d discoveries; live blocks %u -> %u, descriptors %d -> %d, "
                "resident %ld -> %ld KiB\n",
                seconds, static_cast<unsigned long long>(pushes),
                static_cast<unsigned long long>(genuine), static_cast<unsigned long long>(reported),
                renewals, resubscriptions, discoveries, blocksWarm, blocksEnd, descriptorsWarm,
                descriptorsEnd, residentWarm, residentEnd);
    RecordProperty("requests", std::to_string(pushes));
    RecordProperty("residentGrowthKiB", std::to_string(residentEnd - residentWarm));

    EXPECT_GT(pushes, 1000u);
    EXPECT_EQ(0u, mismatched);
    EXPECT_EQ(genuine, reported);
    EXPECT_GE(renewals, seconds / 3 - 1);
    EXPECT_GE(resubscriptions, seconds / 15 - 1);
    // The discovered templates are in both counts (rebuilt, never added
    // up); the same number of descriptors is open.
    EXPECT_EQ(blocksWarm, blocksEnd);
    EXPECT_EQ(descriptorsWarm, descriptorsEnd);
    EXPECT_EQ(blocksAtStart, VEK_PLAT_GetLiveBlocks());
    EXPECT_EQ(descriptorsAtStart, vektest::openDescriptorCount());
#ifndef VEK_SOAK_ASAN
    // AddressSanitizer's quarantine keeps freed memory resident on purpose.
    EXPECT_LT(residentEnd - residentWarm, 4 * 1024);
#endif
}

} // namespace
