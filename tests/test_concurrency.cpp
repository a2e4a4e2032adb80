// Several recorder threads calling the library at once, each with cameras of
// its own (configurations, sockets, contexts), as a recorder does: discovery,
// Subscribe, Notify, Renew, the pull point and Unsubscribe against the camera
// simulator over loopback, while every thread's log lines go to the one
// platform log sink; and several threads calling one camera that asks for
// HTTP Digest, sharing what is kept of its host. No event may be lost or
// doubled; built with ThreadSanitizer (scripts/tsan.sh) a data race
// anywhere fails the run.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "camera_hosts.h"
#include "camsim.h"
#include "test_support.h"
#include "vek_onvif_event.h"

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 4;
constexpr int kCamerasPerThread = 8;
constexpr int kRounds = 3;
constexpr uint16_t kOn = VEK_ALARM_MOTION;
constexpr uint16_t kOff = VEK_ALARM_MOTION + VEK_ALARM_INACTIVE_OFFSET;

std::string motion(const char *state)
{
    return camsim::makeNotificationMessage(
        "tns1:VideoSource/MotionAlarm",
        camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed", "Source", "VideoSourceToken_1",
                                  "State", state));
}

// One camera of a recorder thread, with everything the recorder keeps for it.
struct Camera {
    std::unique_ptr<camsim::CameraSim> sim;
    vektest::MotionConfig motion; // a caller-placed template; discovery adds the camera's own
    OnvifDevAccess access{};
    OnvifSmartCaps caps{};
    OnvifSubInfo sub{};
    int32_t fd = -1;
    std::string consumer;
    std::vector<uint16_t> pushed;   // alarm types the camera's requests must give, in order
    std::vector<uint16_t> reported; // alarm types the listener gave, in order
    std::vector<uint16_t> pulled;
};

// What one thread saw; checked by the main thread after the join.
struct Outcome {
    std::vector<std::string> failures;
    size_t pushed = 0;
    size_t reported = 0;
    size_t pulled = 0;
};

class Recorder
{
  public:
    Recorder(int index, std::atomic<int> &ready) : index_(index), ready_(ready) {}

    void run()
    {
        for (int c = 0; c < kCamerasPerThread; ++c) {
            cameras_.push_back(std::make_unique<Camera>());
            startCamera(*cameras_.back());
        }
        // Every thread starts its calls at the same moment.
        ready_.fetch_add(1);
        while (ready_.load() < kThreads) {
            std::this_thread::yield();
        }
        for (auto &camera : cameras_) {
            discover(*camera);
            subscribe(*camera);
        }
        // Mini-XML reports a broken text through the library's error
        // routing, on every thread at once.
        OnvifAlarmCfg broken{};
        expect(VEK_Onvif_Event_ParsePropeMsg("<Message><Topic>", &broken) == VEK_ONVIF_ERR_FAIL,
               "a broken topic set is refused");
        for (int round = 0; round < kRounds; ++round) {
            for (auto &camera : cameras_) {
                push(*camera);
            }
            for (auto &camera : cameras_) {
                expect(VEK_Onvif_Renew(camera->sub.szCommonSubAddr, camera->sub.szCommonSubRef,
                                       "admin", "secret") == VEK_ONVIF_OK,
                       "renew");
            }
            receive();
        }
        for (auto &camera : cameras_) {
            pull(*camera);
            expect(VEK_Onvif_Unsubscribe(&camera->fd, "admin", "secret", VEK_ONVIF_SCOPE_COMMON,
                                         &camera->sub) == VEK_ONVIF_OK &&
                       camera->fd == -1,
                   "unsubscribe");
            VEK_Onvif_Event_FreePropeAlarm(&camera->motion.cfg);
            camera->sim->stop();
            outcome_.pushed += camera->pushed.size();
            outcome_.reported += camera->reported.size();
            outcome_.pulled += camera->pulled.size();
            expect(camera->reported == camera->pushed, "the pushed alarms, each once, in order");
            expect(camera->pulled == std::vector<uint16_t>({kOn, kOff}), "the pulled alarms");
        }
    }

    const Outcome &outcome() const { return outcome_; }

  private:
    void expect(bool ok, const std::string &what)
    {
        if (!ok) {
            outcome_.failures.push_back("thread " + std::to_string(index_) + ": " + what);
        }
    }

    static void startCamera(Camera &camera)
    {
        camsim::Config config;
        config.topicSetFile = vekfix::fixturePath("corpus/properties/topicset-01.xml");
        camera.sim = std::make_unique<camsim::CameraSim>(config);
        camera.sim->start();
        std::snprintf(camera.access.szEventUrl, sizeof camera.access.szEventUrl, "%s",
                      camera.sim->eventServiceUrl().c_str());
        std::strcpy(camera.access.szUserName, "admin");
        std::strcpy(camera.access.szPassword, "secret");
    }

    void discover(Camera &camera)
    {
        expect(VEK_Onvif_GetEventProperties(camera.access.szEventUrl, "admin", "secret",
                                            &camera.motion.cfg) == VEK_ONVIF_OK &&
                   camera.motion.cfg.PropeAlarmCount > 0,
               "discovery");
    }

    void subscribe(Camera &camera)
    {
        bool ok =
            VEK_Onvif_Subscribe(camera.access.szEventUrl, VEK_ONVIF_SCOPE_COMMON, &camera.access,
                                &camera.caps, &camera.fd, &camera.sub) == VEK_ONVIF_OK;
        auto subscriptions = camera.sim->subscriptions();
        ok = ok && !subscriptions.empty();
        expect(ok, "subscribe");
        if (ok) {
            camera.consumer = subscriptions.back().consumerAddress;
        }
    }

    // Three requests wait in the camera's listening queue: an alarm, a
    // request that is no Notify (logged), the alarm ending.
    void push(Camera &camera)
    {
        if (camera.consumer.empty()) {
            return;
        }
        camsim::SendOptions send;
        send.shutdownWrite = true;
        send.readResponse = false;
        const std::string &url = camera.consumer;
        const std::string requests[] = {
            camsim::buildHttpPost(url, camsim::buildNotifyEnvelope({motion("true")}, url)),
            camsim::buildHttpPost(url, "<not a notify"),
            camsim::buildHttpPost(url, camsim::buildNotifyEnvelope({motion("false")}, url)),
        };
        for (const std::string &bytes : requests) {
            expect(camsim::sendRaw(url, bytes, send).sent, "push");
        }
        camera.pushed.push_back(kOn);
        camera.pushed.push_back(kOff);
        waiting_ += 3;
    }

    // The recorder's loop: poll every camera's socket until each request
    // waiting was served, bounded in time.
    void receive()
    {
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (waiting_ > 0 && Clock::now() < deadline) {
            bool any = false;
            for (auto &camera : cameras_) {
                uint32_t count = 0;
                uint32_t connected = 0;
                OnvifAlarmReport *reports =
                    VEK_Onvif_Recv_Notify(camera->fd, &camera->motion.cfg, &camera->motion.inputs,
                                          camera->access.szEventUrl, &count, &connected);
                if (connected == 0) {
                    continue;
                }
                any = true;
                --waiting_;
                for (uint32_t i = 0; reports != nullptr && i < count; ++i) {
                    camera->reported.push_back(reports[i].AlarmType);
                }
                ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
            }
            if (!any) {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        }
        expect(waiting_ == 0, "every request served");
        waiting_ = 0;
    }

    void pull(Camera &camera)
    {
        struct soap *soap = nullptr;
        VEK_Onvif_Event_Init(&soap);
        char *address = nullptr;
        bool ok = soap != nullptr &&
                  VEK_Onvif_CreatePullPointSubscription(soap, camera.access.szEventUrl, "admin",
                                                        "secret", &address) == VEK_ONVIF_OK &&
                  address != nullptr;
        expect(ok, "create pull point");
        if (ok) {
            camera.sim->queueMessage(motion("true"));
            camera.sim->queueMessage(motion("false"));
            for (int i = 0; i < 2; ++i) {
                OnvifPullResult result{};
                expect(VEK_Onvif_PullMessages(soap, address, "admin", "secret",
                                              &camera.motion.inputs, &camera.motion.cfg,
                                              &result) == VEK_ONVIF_OK,
                       "pull");
                for (uint32_t r = 0; r < result.ulAlarmCount; ++r) {
                    camera.pulled.push_back(result.pstAlarmReports[r].AlarmType);
                }
                ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
            }
        }
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&address), "test", __LINE__);
        VEK_Onvif_Event_Destroy(&soap);
    }

    int index_;
    std::atomic<int> &ready_;
    std::vector<std::unique_ptr<Camera>> cameras_;
    int waiting_ = 0;
    Outcome outcome_;
};

TEST(Concurrency, RecorderThreadsWithCamerasOfTheirOwn)
{
    // The threads' listening sockets come from one shared port range.
    gS32AlarmDftPort = 30000 + static_cast<int32_t>(getpid() % 2000) * 2;
    const uint32_t blocks = VEK_PLAT_GetLiveBlocks();
    const int descriptors = vektest::openDescriptorCount();
    vektest::LogCapture log;

    std::atomic<int> ready{0};
    std::vector<std::unique_ptr<Recorder>> recorders;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        recorders.push_back(std::make_unique<Recorder>(t, ready));
    }
    for (auto &recorder : recorders) {
        threads.emplace_back([&recorder] { recorder->run(); });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }

    size_t pushed = 0;
    size_t reported = 0;
    size_t pulled = 0;
    for (auto &recorder : recorders) {
        for (const std::string &failure : recorder->outcome().failures) {
            ADD_FAILURE() << failure;
        }
        pushed += recorder->outcome().pushed;
        reported += recorder->outcome().reported;
        pulled += recorder->outcome().pulled;
    }
    constexpr size_t kCameras = kThreads * kCamerasPerThread;
    EXPECT_EQ(kCameras * kRounds * 2, pushed);
    EXPECT_EQ(pushed, reported);
    EXPECT_EQ(kCameras * 2, pulled);

    // Every thread's lines reached the sink whole: one per request that was
    // no Notify, and Mini-XML's report of each broken topic set.
    size_t notNotify = 0;
    size_t parseErrors = 0;
    for (const vektest::LogLine &line : log.lines()) {
        notNotify += line.text.find("Failed to VEK_Onvif_Recv_Notify") != std::string::npos;
        parseErrors += line.text.find("XML parse error") != std::string::npos;
    }
    EXPECT_EQ(kCameras * kRounds, notNotify);
    EXPECT_GE(parseErrors, static_cast<size_t>(kThreads));

    EXPECT_EQ(blocks, VEK_PLAT_GetLiveBlocks());
    EXPECT_EQ(descriptors, vektest::openDescriptorCount());
}

// Threads calling one digest camera (its clock an hour off) at once share
// its host's entry: every call succeeds, and a thread pays the extra
// request at most once, on its first call.
TEST(Concurrency, ThreadsShareOneDigestCamera)
{
    using namespace std::chrono_literals;
    constexpr int kCallers = 6;
    constexpr int kCalls = 5;
    vek::cameraHosts().clear();
    const uint32_t blocks = VEK_PLAT_GetLiveBlocks();
    camsim::Config config;
    config.user = "operator";
    config.password = "digest-pw";
    config.httpDigest = true;
    config.digestAlgorithm = "SHA-256";
    config.clockOffset = 3600s;
    config.createdWindow = 5s;
    camsim::CameraSim sim(config);
    sim.start();
    const std::string url = sim.eventServiceUrl();

    std::atomic<int> ready{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kCallers; ++t) {
        threads.emplace_back([&] {
            ready.fetch_add(1);
            while (ready.load() < kCallers) {
                std::this_thread::yield();
            }
            for (int i = 0; i < kCalls; ++i) {
                OnvifAlarmCfg cfg{};
                if (VEK_Onvif_GetEventProperties(url.c_str(), "operator", "digest-pw", &cfg) !=
                    VEK_ONVIF_OK) {
                    failed.fetch_add(1);
                }
                VEK_Onvif_Event_FreePropeAlarm(&cfg);
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0, failed.load());
    size_t requests = sim.requests("GetEventProperties").size();
    EXPECT_LE(static_cast<size_t>(kCallers * kCalls), requests);
    EXPECT_GE(static_cast<size_t>(kCallers * (kCalls + 1)), requests);
    EXPECT_EQ(1u, vek::cameraHosts().size());
    sim.stop();
    EXPECT_EQ(blocks, VEK_PLAT_GetLiveBlocks());
}

} // namespace
