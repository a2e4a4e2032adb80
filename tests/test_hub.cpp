// The Notify hub on a loopback port: cameras of the simulator subscribed
// through it, Notifies pushed by them and by raw senders, and the defences
// of each connection.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "discovery_expect.h"
#include "fixture_files.h"
#include "notify_helpers.h"
#include "test_support.h"
#include "vek_hub_internal.h"
#include "vek_onvif_event.h"

namespace
{

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using vektest::LogCapture;
using vektest::motionMessage;

// An event URL at the simulator's address; nothing listens there.
constexpr const char *kLoopbackCamera = "http://127.0.0.1:1/onvif/event_service";

struct Report {
    uint32_t camera;
    uint16_t alarm;
    bool operator==(const Report &other) const
    {
        return camera == other.camera && alarm == other.alarm;
    }
};

std::ostream &operator<<(std::ostream &out, const Report &report)
{
    return out << "{camera " << report.camera << ", alarm " << report.alarm << "}";
}

int connectTo(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool readable(int fd, int timeoutMs)
{
    pollfd waiting{fd, POLLIN, 0};
    return poll(&waiting, 1, timeoutMs) == 1;
}

// The head of one answer on a kept connection (its body is empty or read
// with it); empty when none came within a second.
std::string readAnswer(int fd)
{
    std::string answer;
    char byte;
    while (answer.find("\r\n\r\n") == std::string::npos && readable(fd, 1000) &&
           recv(fd, &byte, 1, 0) == 1) {
        answer += byte;
    }
    return answer;
}

// True when the peer has closed the connection (within a second).
bool closedByPeer(int fd)
{
    char buffer[4096];
    while (readable(fd, 1000)) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            return true;
        }
    }
    return false;
}

// The first chunk's size line made no number.
std::string spoilChunkSize(std::string request)
{
    size_t body = request.find("\r\n\r\n") + 4;
    return request.replace(body, request.find("\r\n", body) - body, "zz");
}

// The first chunk-size line of a chunked request, lengthened by an extension
// of extra characters.
std::string lengthenChunkLine(std::string request, size_t extra)
{
    size_t body = request.find("\r\n\r\n") + 4;
    return request.insert(request.find("\r\n", body), ";" + std::string(extra, 'x'));
}

std::string notifyBody(const std::vector<std::string> &messages, const std::string &to)
{
    return camsim::buildNotifyEnvelope(messages, to);
}

class HubTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        // Spread parallel test processes over distinct port ranges.
        gS32AlarmDftPort = 20001 + static_cast<int32_t>(getpid() % 4000) * 2;
        descriptors_ = vektest::openDescriptorCount();
        blocks_ = VEK_PLAT_GetLiveBlocks();
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_Create("127.0.0.1", 0, &hub_));
        port_ = VEK_Onvif_Hub_GetPort(hub_);
    }

    void TearDown() override
    {
        VEK_Onvif_Hub_Destroy(&hub_);
        EXPECT_EQ(nullptr, hub_);
        sims_.clear();
        EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks());
        EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    }

    uint32_t addCamera(const std::string &url, uint32_t flags = 0)
    {
        uint32_t id = 0;
        EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_AddCamera(hub_, url.c_str(), &motion_.cfg,
                                                        &motion_.inputs, flags, &id));
        return id;
    }

    std::string consumer(uint32_t id) const
    {
        return vek::hub::consumerAddress(hub_, "127.0.0.1", id);
    }

    camsim::CameraSim &startCamera(camsim::Config config = {})
    {
        sims_.push_back(std::make_unique<camsim::CameraSim>(std::move(config)));
        sims_.back()->start();
        return *sims_.back();
    }

    // Polls until at least n reports came or the time passed.
    std::vector<Report> pollFor(size_t n, milliseconds time = milliseconds(3000))
    {
        std::vector<Report> reports;
        const auto until = Clock::now() + time;
        while (reports.size() < n && Clock::now() < until) {
            uint32_t count = 99;
            OnvifHubReport *got = VEK_Onvif_Hub_Poll(hub_, 20, &count);
            if (got == nullptr) {
                EXPECT_EQ(0u, count);
                continue;
            }
            for (uint32_t i = 0; i < count; ++i) {
                reports.push_back({got[i].ulCameraId, got[i].stReport.AlarmType});
            }
            ZU_MEM_FreeEx(reinterpret_cast<void **>(&got), "test", __LINE__);
        }
        return reports;
    }

    // Sends bytes from a sender thread while polling; the sender's result.
    camsim::SendResult sendWhilePolling(const std::string &url, const std::string &bytes,
                                        std::vector<Report> *reports = nullptr, size_t expected = 0)
    {
        camsim::SendResult sent;
        std::atomic<bool> done{false};
        std::thread sender([&] {
            sent = camsim::sendRaw(url, bytes);
            done = true;
        });
        std::vector<Report> got;
        while (!done || got.size() < expected) {
            std::vector<Report> more = pollFor(expected == 0 ? 1 : expected, milliseconds(50));
            got.insert(got.end(), more.begin(), more.end());
            if (done && expected == 0) {
                break;
            }
        }
        sender.join();
        // Whatever came after the answer.
        std::vector<Report> late = pollFor(expected + 1, milliseconds(100));
        got.insert(got.end(), late.begin(), late.end());
        if (reports != nullptr) {
            *reports = got;
        }
        return sent;
    }

    camsim::SendResult pushWhilePolling(const std::string &url,
                                        const std::vector<std::string> &messages,
                                        std::vector<Report> *reports, size_t expected)
    {
        return sendWhilePolling(url, camsim::buildHttpPost(url, notifyBody(messages, url)), reports,
                                expected);
    }

    OnvifNotifyHub *hub_ = nullptr;
    uint16_t port_ = 0;
    vektest::MotionConfig motion_;
    std::vector<std::unique_ptr<camsim::CameraSim>> sims_;
    int descriptors_ = 0;
    uint32_t blocks_ = 0;
};

OnvifDevAccess accessOf(const camsim::CameraSim &sim)
{
    OnvifDevAccess access{};
    std::snprintf(access.szEventUrl, sizeof access.szEventUrl, "%s", sim.eventServiceUrl().c_str());
    std::strcpy(access.szUserName, "admin");
    std::strcpy(access.szPassword, "secret");
    return access;
}

TEST_F(HubTest, SubscribesEachCameraAtItsOwnPathAndReportsCarryItsId)
{
    camsim::CameraSim &first = startCamera();
    camsim::CameraSim &second = startCamera();
    const uint32_t ids[2] = {addCamera(first.eventServiceUrl()),
                             addCamera(second.eventServiceUrl())};
    EXPECT_NE(ids[0], ids[1]);
    OnvifSmartCaps caps{};
    OnvifSubInfo subs[2] = {};
    std::string generation;
    camsim::CameraSim *sims[2] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        OnvifDevAccess access = accessOf(*sims[i]);
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_Subscribe(hub_, ids[i], VEK_ONVIF_SCOPE_COMMON,
                                                        &access, &caps, &subs[i]));
        EXPECT_EQ(1u, subs[i].ulCommonAlarmSub);
        EXPECT_EQ(sims[i]->baseUrl() + "/onvif/subscription/1",
                  std::string(subs[i].szCommonSubAddr));
        auto requests = sims[i]->requests("Subscribe");
        ASSERT_EQ(1u, requests.size());
        EXPECT_TRUE(requests[0].authenticated);
        EXPECT_EQ("PT1M", requests[0].body.at("InitialTerminationTime"));
        const std::string address = requests[0].body.at("ConsumerReference/Address");
        std::smatch parts;
        const std::regex shape("http://127\\.0\\.0\\.1:" + std::to_string(port_) +
                               "/onvif_notify_server/" + std::to_string(ids[i]) +
                               "/([0-9a-f]{16})");
        ASSERT_TRUE(std::regex_match(address, parts, shape)) << address;
        if (i == 1) {
            EXPECT_EQ(generation, parts[1].str()) << "one generation per hub";
        }
        generation = parts[1].str();
    }

    std::vector<Report> reports;
    std::thread cameras([&] {
        EXPECT_EQ(202, first.notify(1, {motionMessage("true")}).status);
        EXPECT_EQ(202, second.notify(1, {motionMessage("false")}).status);
    });
    reports = pollFor(2);
    cameras.join();
    EXPECT_EQ((std::vector<Report>{{ids[0], VEK_ALARM_MOTION},
                                   {ids[1], VEK_ALARM_MOTION + VEK_ALARM_INACTIVE_OFFSET}}),
              reports);

    // Another hub has another generation: a camera still pushing to this
    // one's addresses is refused there.
    OnvifNotifyHub *other = nullptr;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_Create("127.0.0.1", 0, &other));
    EXPECT_NE(consumer(ids[0]).substr(consumer(ids[0]).rfind('/')),
              vek::hub::consumerAddress(other, "127.0.0.1", ids[0])
                  .substr(vek::hub::consumerAddress(other, "127.0.0.1", ids[0]).rfind('/')));
    VEK_Onvif_Hub_Destroy(&other);
}

TEST_F(HubTest, RenewAndUnsubscribeUseTheWholeKeptReference)
{
    camsim::Config config;
    // A reference parameter of some 250 characters: longer than its field.
    config.subscribe.idTagExtra = " note=\"" + std::string(200, 'n') + "\"";
    camsim::CameraSim &sim = startCamera(config);
    const uint32_t id = addCamera(sim.eventServiceUrl());
    OnvifDevAccess access = accessOf(sim);
    OnvifSmartCaps caps{};
    OnvifSubInfo sub{};
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Hub_Subscribe(hub_, id, VEK_ONVIF_SCOPE_COMMON, &access, &caps, &sub));
    EXPECT_EQ(1u, sub.ulCommonAlarmSub);
    EXPECT_STREQ("", sub.szCommonSubRef);
    EXPECT_EQ(sim.baseUrl() + "/onvif/subscription/1", std::string(sub.szCommonSubAddr));
    ASSERT_EQ(1u, sim.subscriptions().size());

    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_Renew(hub_, id, "admin", "secret", VEK_ONVIF_SCOPE_BOTH));
    auto renewals = sim.requests("Renew");
    ASSERT_EQ(1u, renewals.size());
    EXPECT_EQ(200, renewals[0].responseStatus);
    EXPECT_EQ("/onvif/subscription/1", renewals[0].path);
    ASSERT_EQ(1u, renewals[0].referenceParameters.size());
    EXPECT_NE(std::string::npos,
              renewals[0].referenceParameters[0].xml.find(std::string(200, 'n')));
    EXPECT_EQ(1, sim.subscription(1)->renewCount);

    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Hub_Unsubscribe(hub_, id, "admin", "secret", VEK_ONVIF_SCOPE_BOTH, &sub));
    auto ended = sim.requests("Unsubscribe");
    ASSERT_EQ(1u, ended.size());
    EXPECT_EQ(200, ended[0].responseStatus);
    EXPECT_TRUE(sim.subscriptions().empty());

    // Nothing is kept any more.
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL,
              VEK_Onvif_Hub_Renew(hub_, id, "admin", "secret", VEK_ONVIF_SCOPE_COMMON));
    OnvifErrorInfo error{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_GetLastError(&error));
    EXPECT_STREQ("VEK_Onvif_Hub_Renew", error.szOperation);
    EXPECT_EQ(1u, sim.requests("Renew").size());
    // Nor for a camera the hub does not know.
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Hub_Subscribe(hub_, id + 1, VEK_ONVIF_SCOPE_COMMON, &access, &caps, &sub));
}

TEST_F(HubTest, RequestsOfNoCameraOfThisHubAreRefused)
{
    const uint32_t camera = addCamera(kLoopbackCamera);
    // A camera at another address: the simulator's pushes come from 127.0.0.1.
    const uint32_t elsewhere = addCamera("http://127.0.0.2/onvif/event_service");
    const std::string prefix = "http://127.0.0.1:" + std::to_string(port_) + "/onvif_notify_server";
    const std::string own = consumer(camera);
    const std::string generation = own.substr(own.rfind('/') + 1);
    struct Case {
        const char *name;
        std::string url;
    };
    const Case cases[] = {
        {"earlier run", prefix + "/" + std::to_string(camera) + "/" +
                            std::string(generation.size(), generation[0] == '0' ? '1' : '0')},
        {"unknown camera", prefix + "/" + std::to_string(elsewhere + 1) + "/" + generation},
        {"camera id 0", prefix + "/0/" + generation},
        {"wrong sender", consumer(elsewhere)},
        {"bare path", prefix},
        {"other path", "http://127.0.0.1:" + std::to_string(port_) + "/onvif/event_service"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::vector<Report> reports;
            camsim::SendResult sent = pushWhilePolling(c.url, {motionMessage("true")}, &reports, 0);
            EXPECT_EQ(404, sent.status);
            EXPECT_NE(std::string::npos, sent.response.find("SOAP-ENV:Fault"));
            EXPECT_TRUE(reports.empty());
        }
        // One line for the path, whatever its repetitions.
        size_t lines = 0;
        for (const auto &line : log.lines()) {
            lines += line.text.find("Notify refused: path") != std::string::npos;
        }
        EXPECT_EQ(1u, lines);
    }
    // The camera itself still delivers.
    std::vector<Report> reports;
    EXPECT_EQ(202, pushWhilePolling(own, {motionMessage("true")}, &reports, 1).status);
    EXPECT_EQ((std::vector<Report>{{camera, VEK_ALARM_MOTION}}), reports);
}

TEST_F(HubTest, KeptAliveConnectionCarriesSeveralNotifies)
{
    const uint32_t camera = addCamera(kLoopbackCamera);
    const std::string url = consumer(camera);
    int fd = connectTo(port_);
    ASSERT_GE(fd, 0);
    camsim::HttpPostOptions keep;
    keep.connectionClose = false;
    const char *states[] = {"true", "false", "true"};
    for (const char *state : states) {
        const std::string request =
            camsim::buildHttpPost(url, notifyBody({motionMessage(state)}, url), keep);
        ASSERT_EQ(static_cast<ssize_t>(request.size()),
                  send(fd, request.data(), request.size(), MSG_NOSIGNAL));
        EXPECT_EQ(1u, pollFor(1).size());
        const std::string answer = readAnswer(fd);
        EXPECT_EQ(0u, answer.rfind("HTTP/1.1 202 Accepted\r\n", 0)) << answer;
        EXPECT_EQ(std::string::npos, answer.find("Connection: close")) << answer;
        EXPECT_EQ(1u, vek::hub::openConnections(hub_));
    }
    // Two requests in one write are both served.
    std::string twice = camsim::buildHttpPost(url, notifyBody({motionMessage("true")}, url), keep);
    twice += twice;
    ASSERT_EQ(static_cast<ssize_t>(twice.size()), send(fd, twice.data(), twice.size(), 0));
    EXPECT_EQ(2u, pollFor(2).size());
    EXPECT_NE("", readAnswer(fd));
    EXPECT_NE("", readAnswer(fd));
    // A camera that asks to close is answered so and closed.
    const std::string last = camsim::buildHttpPost(url, notifyBody({motionMessage("false")}, url));
    ASSERT_EQ(static_cast<ssize_t>(last.size()), send(fd, last.data(), last.size(), 0));
    EXPECT_EQ(1u, pollFor(1).size());
    EXPECT_NE(std::string::npos, readAnswer(fd).find("Connection: close"));
    EXPECT_TRUE(closedByPeer(fd));
    close(fd);
}

TEST_F(HubTest, IdleConnectionsCloseOldestFirstAndAfterTheirTime)
{
    vek::hub::LoopLimits limits;
    limits.connections = 2;
    limits.idle = milliseconds(400);
    vek::hub::setLimits(hub_, limits);
    const uint32_t camera = addCamera(kLoopbackCamera);
    const std::string url = consumer(camera);
    camsim::HttpPostOptions keep;
    keep.connectionClose = false;
    const std::string request =
        camsim::buildHttpPost(url, notifyBody({motionMessage("true")}, url), keep);
    int fds[3];
    for (int &fd : fds) {
        fd = connectTo(port_);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(static_cast<ssize_t>(request.size()),
                  send(fd, request.data(), request.size(), 0));
        EXPECT_EQ(1u, pollFor(1).size());
        EXPECT_NE("", readAnswer(fd));
    }
    // The third took the place of the first, the oldest idle one.
    EXPECT_TRUE(closedByPeer(fds[0]));
    EXPECT_FALSE(readable(fds[1], 0));
    EXPECT_EQ(2u, vek::hub::openConnections(hub_));
    // Then the idle time runs out for the others.
    (void)pollFor(1, milliseconds(600));
    EXPECT_EQ(0u, vek::hub::openConnections(hub_));
    EXPECT_TRUE(closedByPeer(fds[1]));
    EXPECT_TRUE(closedByPeer(fds[2]));
    for (int fd : fds) {
        close(fd);
    }
}

TEST_F(HubTest, SlowSenderDelaysNoOtherCamera)
{
    const uint32_t slowCamera = addCamera(kLoopbackCamera);
    const uint32_t camera = addCamera(kLoopbackCamera);
    const std::string slowUrl = consumer(slowCamera);
    const std::string request =
        camsim::buildHttpPost(slowUrl, notifyBody({motionMessage("true")}, slowUrl));
    // Half a request, then nothing.
    int slow = connectTo(port_);
    ASSERT_GE(slow, 0);
    ASSERT_GT(send(slow, request.data(), request.size() / 2, 0), 0);
    LogCapture log;
    (void)pollFor(1, milliseconds(100));

    const auto start = Clock::now();
    camsim::SendResult sent;
    std::thread other(
        [&] { sent = camsim::pushNotify(consumer(camera), {motionMessage("true")}); });
    std::vector<Report> reports = pollFor(1);
    const auto delay = Clock::now() - start;
    other.join();
    EXPECT_EQ(202, sent.status) << sent.error;
    EXPECT_EQ((std::vector<Report>{{camera, VEK_ALARM_MOTION}}), reports);
    EXPECT_LT(delay, milliseconds(50));

    // The slow request runs out of time: answered with a fault and closed.
    (void)pollFor(1, milliseconds(1200));
    EXPECT_TRUE(closedByPeer(slow));
    EXPECT_TRUE(log.hasText("Notify refused: not complete within 1 s, from 127.0.0.1"));
    close(slow);
}

TEST_F(HubTest, SizeAndFramingRefusals)
{
    const uint32_t camera = addCamera(kLoopbackCamera);
    const std::string url = consumer(camera);
    const std::string body = notifyBody({motionMessage("true")}, url);
    // Each case at a camera of its own: its path has its own log line.
    std::vector<std::string> urls;
    auto post = [&](auto change) {
        camsim::HttpPostOptions options;
        change(options);
        urls.push_back(consumer(addCamera(kLoopbackCamera)));
        return camsim::buildHttpPost(urls.back(), body, options);
    };
    struct Case {
        const char *name;
        std::string bytes;
        const char *logged;
        // The sender may see the connection reset before it reads the
        // answer when the hub closes with the rest of the body unread.
        bool answerRead = true;
    };
    const Case cases[] = {
        {"declared too large",
         post([](auto &o) { o.contentLength = std::to_string(vek::kNotifyMaxBytes + 1); }),
         "larger than 1048576 bytes"},
        {"negative length", post([](auto &o) { o.contentLength = "-1"; }), "not a size in bytes"},
        {"length not a number", post([](auto &o) { o.contentLength = "12abc"; }),
         "not a size in bytes"},
        {"two lengths", post([&](auto &o) {
             o.extraHeaders = {{"Content-Length", std::to_string(body.size() + 1)}};
         }),
         "not a size in bytes"},
        {"unread transfer coding", post([](auto &o) {
             o.extraHeaders = {{"Transfer-Encoding", "gzip"}};
         }),
         "not a size in bytes"},
        {"bad chunk size", spoilChunkSize(post([](auto &o) { o.chunked = true; })),
         "not a size in bytes"},
        // Refused alike whether the line arrives whole or in pieces.
        {"chunk-size line past its bound",
         lengthenChunkLine(post([](auto &o) { o.chunked = true; }), 2000), "not a size in bytes"},
        {"body beyond the bound without a length",
         post([](auto &o) { o.omitContentLength = true; }) +
             std::string(static_cast<size_t>(vek::kNotifyMaxBytes), ' '),
         "larger than 1048576 bytes", false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name);
        LogCapture log;
        std::vector<Report> reports;
        camsim::SendResult sent = sendWhilePolling(urls[i], c.bytes, &reports);
        if (c.answerRead) {
            EXPECT_EQ(400, sent.status) << sent.response.substr(0, 200);
            EXPECT_NE(std::string::npos, sent.response.find("Not a Notify request"));
        }
        EXPECT_TRUE(reports.empty());
        EXPECT_TRUE(log.hasText(c.logged));
    }
    // A chunked Notify is read.
    camsim::HttpPostOptions chunked;
    chunked.chunked = true;
    chunked.chunkSize = 100;
    std::vector<Report> reports;
    EXPECT_EQ(202,
              sendWhilePolling(url, camsim::buildHttpPost(url, body, chunked), &reports, 1).status);
    EXPECT_EQ((std::vector<Report>{{camera, VEK_ALARM_MOTION}}), reports);
}

TEST_F(HubTest, PollZeroNeverWaits)
{
    (void)addCamera(kLoopbackCamera);
    // A silent connection and one that sent half a head.
    int silent = connectTo(port_);
    int half = connectTo(port_);
    ASSERT_GE(silent, 0);
    ASSERT_GE(half, 0);
    ASSERT_EQ(10, send(half, "POST /onv", 10, 0));
    uint32_t count = 99;
    const auto start = Clock::now();
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(nullptr, VEK_Onvif_Hub_Poll(hub_, 0, &count));
        EXPECT_EQ(0u, count);
    }
    EXPECT_LT(Clock::now() - start, milliseconds(200));
    EXPECT_EQ(2u, vek::hub::openConnections(hub_));
    // A time-out is waited for, and no more.
    const auto waited = Clock::now();
    EXPECT_EQ(nullptr, VEK_Onvif_Hub_Poll(hub_, 60, &count));
    EXPECT_GE(Clock::now() - waited, milliseconds(55));
    EXPECT_LT(Clock::now() - waited, milliseconds(500));
    close(silent);
    close(half);
}

double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

TEST_F(HubTest, OutOfDescriptorsThePollWaitsInsteadOfSpinning)
{
    const uint32_t id = addCamera(kLoopbackCamera);
    const std::string url = consumer(id);
    int client = connectTo(port_); // waits in the listening queue
    ASSERT_GE(client, 0);
    // Every descriptor of the process in use: the accept fails.
    rlimit saved{};
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
    const int highest = dup(0);
    ASSERT_GE(highest, 0);
    close(highest);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(highest) + 8;
    std::vector<int> filler;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &low));
    for (int fd = 0; fd >= 0;) {
        fd = dup(0);
        filler.push_back(fd);
    }
    uint32_t count = 99;
    const double cpu = threadCpuMs();
    const auto waited = Clock::now();
    OnvifHubReport *got = VEK_Onvif_Hub_Poll(hub_, 300, &count);
    const double used = threadCpuMs() - cpu;
    const auto elapsed = Clock::now() - waited;
    for (int fd : filler) {
        if (fd >= 0) {
            close(fd);
        }
    }
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &saved));
    EXPECT_EQ(nullptr, got);
    EXPECT_GE(elapsed, milliseconds(290));
    EXPECT_LT(used, 100.0) << "the poll spun on the listening socket";
    // With descriptors again, the waiting connection is served.
    const std::string post = camsim::buildHttpPost(url, notifyBody({motionMessage("true")}, url));
    ASSERT_EQ(static_cast<ssize_t>(post.size()), send(client, post.data(), post.size(), 0));
    EXPECT_EQ(1u, pollFor(1).size());
    close(client);
}

TEST_F(HubTest, DescriptorIsReadableWhenPollHasWork)
{
    const int fd = VEK_Onvif_Hub_GetFd(hub_);
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(readable(fd, 0));
    int client = connectTo(port_);
    ASSERT_GE(client, 0);
    EXPECT_TRUE(readable(fd, 1000)) << "a connection waits";
    uint32_t count = 0;
    (void)VEK_Onvif_Hub_Poll(hub_, 0, &count);
    EXPECT_FALSE(readable(fd, 0)) << "accepted, nothing sent";
    EXPECT_TRUE(readable(fd, 1500)) << "the request's time runs out";
    (void)VEK_Onvif_Hub_Poll(hub_, 0, &count);
    EXPECT_TRUE(closedByPeer(client));
    close(client);
}

TEST_F(HubTest, CreateRefusesWhatCannotBeBound)
{
    OnvifNotifyHub *other = nullptr;
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, VEK_Onvif_Hub_Create("127.0.0.1", port_, &other));
    EXPECT_EQ(VEK_ONVIF_ERR_FAIL, VEK_Onvif_Hub_Create("camera.example", 0, &other));
    EXPECT_EQ(nullptr, other);
    // Port 0: the recorder's first free port, in its steps.
    EXPECT_EQ(gS32AlarmDftPort, static_cast<int32_t>(port_));
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_Create("127.0.0.1", 0, &other));
    EXPECT_EQ(port_ + 2, VEK_Onvif_Hub_GetPort(other));
    VEK_Onvif_Hub_Destroy(&other);
    uint32_t id = 0;
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM,
              VEK_Onvif_Hub_AddCamera(hub_, "http://camera.example/onvif/event_service",
                                      &motion_.cfg, &motion_.inputs, 0, &id));
}

TEST_F(HubTest, InitialStatesOnlyForCamerasThatAskForThem)
{
    const uint32_t plain = addCamera(kLoopbackCamera);
    const uint32_t initial = addCamera(kLoopbackCamera, VEK_ONVIF_HUB_INITIAL_STATES);
    const std::string message = camsim::makeNotificationMessage(
        "tns1:VideoSource/MotionAlarm",
        camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Initialized", "Source",
                                  "VideoSourceToken_1", "State", "true"));
    std::vector<Report> reports;
    EXPECT_EQ(202, pushWhilePolling(consumer(plain), {message}, &reports, 0).status);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(202, pushWhilePolling(consumer(initial), {message}, &reports, 1).status);
    EXPECT_EQ((std::vector<Report>{{initial, VEK_ALARM_MOTION}}), reports);
}

// An initial state is one only for an alarm that has a state: the initial
// message of a line-crossing rule (an event) reports nothing.
TEST_F(HubTest, InitialStatesOnlyForAlarmsWithAState)
{
    vektest::Cfg cfg;
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Event_ParsePropeMsg(
                  "<Message><RuleEngine><LineDetector><Crossed><MessageDescription><Source>"
                  "<SimpleItemDescription Name=\"VideoSourceConfigurationToken\" "
                  "Type=\"tt:ReferenceToken\"/><SimpleItemDescription "
                  "Name=\"VideoAnalyticsConfigurationToken\" Type=\"tt:ReferenceToken\"/>"
                  "<SimpleItemDescription Name=\"Rule\" Type=\"xs:string\"/></Source><Data>"
                  "<SimpleItemDescription Name=\"ObjectId\" Type=\"xs:integer\"/></Data>"
                  "</MessageDescription></Crossed></LineDetector></RuleEngine><VideoSource>"
                  "<MotionAlarm><MessageDescription><Source><SimpleItemDescription Name=\"Source\" "
                  "Type=\"tt:ReferenceToken\"/></Source><Data><SimpleItemDescription "
                  "Name=\"State\" Type=\"xs:boolean\"/></Data></MessageDescription></MotionAlarm>"
                  "</VideoSource></Message>",
                  &cfg.cfg));
    ASSERT_EQ(2u, cfg.cfg.PropeAlarmCount);
    uint32_t id = 0;
    ASSERT_EQ(VEK_ONVIF_OK,
              VEK_Onvif_Hub_AddCamera(hub_, kLoopbackCamera, &cfg.cfg, &motion_.inputs,
                                      VEK_ONVIF_HUB_INITIAL_STATES, &id));
    const std::vector<std::string> crossed = camsim::loadNotificationMessages(
        vekfix::fixturePath("corpus/notify/line-crossed-02.xml"), "");
    ASSERT_EQ(1u, crossed.size());
    const std::string motion = camsim::makeNotificationMessage(
        "tns1:VideoSource/MotionAlarm",
        camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Initialized", "Source", "vs1", "State",
                                  "false"));
    std::vector<Report> reports;
    EXPECT_EQ(202, pushWhilePolling(consumer(id), {crossed[0], motion}, &reports, 1).status);
    EXPECT_EQ((std::vector<Report>{{id, VEK_ALARM_MOTION + VEK_ALARM_INACTIVE_OFFSET}}), reports);
    // The same crossing as a change is reported.
    std::string changed = crossed[0];
    changed.replace(changed.find("\"Initialized\""), 13, "\"Changed\"");
    EXPECT_EQ(202, pushWhilePolling(consumer(id), {changed}, &reports, 1).status);
    EXPECT_EQ((std::vector<Report>{{id, VEK_ALARM_LINE_CROSSED}}), reports);
}

TEST_F(HubTest, ManyCamerasOnOnePort)
{
    constexpr uint32_t kCameras = 4096;
    std::vector<uint32_t> ids;
    for (uint32_t i = 0; i < kCameras; ++i) {
        ids.push_back(addCamera(kLoopbackCamera));
    }
    const uint32_t chosen[] = {ids[0], ids[1], ids[2047], ids[4094], ids[4095]};
    std::vector<Report> expected;
    std::thread cameras([&] {
        for (uint32_t id : chosen) {
            EXPECT_EQ(202, camsim::pushNotify(consumer(id), {motionMessage("true")}).status);
        }
    });
    for (uint32_t id : chosen) {
        expected.push_back({id, VEK_ALARM_MOTION});
    }
    std::vector<Report> reports = pollFor(expected.size());
    cameras.join();
    EXPECT_EQ(expected, reports);
    for (uint32_t id : ids) {
        ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_RemoveCamera(hub_, id));
    }
    EXPECT_EQ(VEK_ONVIF_ERR_PARAM, VEK_Onvif_Hub_RemoveCamera(hub_, ids[0]));
    // Ids are not given again.
    EXPECT_EQ(kCameras + 1, addCamera(kLoopbackCamera));
}

TEST_F(HubTest, RemoveCameraWhilePollRuns)
{
    // The removed camera's records die right after RemoveCamera returns.
    auto doomed = std::make_unique<vektest::MotionConfig>();
    uint32_t removed = 0;
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_AddCamera(hub_, kLoopbackCamera, &doomed->cfg,
                                                    &doomed->inputs, 0, &removed));
    const uint32_t staying = addCamera(kLoopbackCamera);

    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<Report> reports;
    std::thread poller([&] {
        while (!stop) {
            uint32_t count = 0;
            OnvifHubReport *got = VEK_Onvif_Hub_Poll(hub_, 10, &count);
            std::lock_guard<std::mutex> guard(lock);
            for (uint32_t i = 0; i < count; ++i) {
                reports.push_back({got[i].ulCameraId, got[i].stReport.AlarmType});
            }
            ZU_MEM_FreeEx(reinterpret_cast<void **>(&got), "test", __LINE__);
        }
    });
    std::atomic<int> lastStatus{0};
    std::thread camera([&] {
        while (!stop) {
            lastStatus = camsim::pushNotify(consumer(removed), {motionMessage("true")}).status;
        }
    });
    auto reportsOf = [&](uint32_t id) {
        std::lock_guard<std::mutex> guard(lock);
        return std::count_if(reports.begin(), reports.end(),
                             [&](const Report &r) { return r.camera == id; });
    };
    const auto until = Clock::now() + milliseconds(3000);
    while (reportsOf(removed) < 3 && Clock::now() < until) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    EXPECT_GE(reportsOf(removed), 3);
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Hub_RemoveCamera(hub_, removed));
    doomed.reset();
    // Its pushes are refused from now on; the other camera still delivers.
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(404, lastStatus.load());
    EXPECT_EQ(202, camsim::pushNotify(consumer(staying), {motionMessage("true")}).status);
    const auto later = Clock::now() + milliseconds(3000);
    while (reportsOf(staying) < 1 && Clock::now() < later) {
        std::this_thread::sleep_for(milliseconds(5));
    }
    stop = true;
    camera.join();
    poller.join();
    EXPECT_EQ(1, reportsOf(staying));
}

} // namespace
