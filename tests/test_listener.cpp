// The Notify listener (VEK_Onvif_Recv_Notify) on a loopback socket, fed by
// the camera simulator's push and by raw connections.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "listener_defences.h"
#include "notify_helpers.h"
#include "test_support.h"
#include "vek_onvif_event.h"
#include "vek_subscription_internal.h"

namespace
{

using vektest::boundPort;
using vektest::LogCapture;
using vektest::motionMessage;

// Connects to the listening socket; true when the connection was accepted
// into the backlog.
int connectTo(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// ---- The listener ---------------------------------------------------------------

class ListenerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(0, bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr));
        ASSERT_EQ(0, listen(listenFd_, 16));
        port_ = boundPort(listenFd_);
        consumer_ = "http://127.0.0.1:" + std::to_string(port_) + "/onvif_notify_server";
        descriptors_ = vektest::openDescriptorCount();
        blocks_ = VEK_PLAT_GetLiveBlocks();
    }
    void TearDown() override
    {
        close(listenFd_);
        EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks());
    }

    OnvifAlarmReport *receive(uint32_t &count, uint32_t &connected)
    {
        return VEK_Onvif_Recv_Notify(listenFd_, &motion_.cfg, &motion_.inputs, "http://camera/",
                                     &count, &connected);
    }

    // Serves the next connection that comes within about three seconds.
    OnvifAlarmReport *receiveNext(uint32_t &count, uint32_t &connected)
    {
        return vektest::receiveNotify(listenFd_, &motion_.cfg, &motion_.inputs, "http://camera/",
                                      &count, &connected);
    }

    // The next genuine Notify still comes through.
    void expectStillServing()
    {
        camsim::SendResult pushed;
        std::thread camera(
            [&] { pushed = camsim::pushNotify(consumer_, {motionMessage("true")}); });
        uint32_t count = 0;
        uint32_t connected = 0;
        OnvifAlarmReport *reports = receiveNext(count, connected);
        camera.join();
        ASSERT_NE(nullptr, reports);
        EXPECT_EQ(1u, count);
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
    }

    int listenFd_ = -1;
    int port_ = 0;
    std::string consumer_;
    vektest::MotionConfig motion_;
    int descriptors_ = 0;
    uint32_t blocks_ = 0;
};

TEST_F(ListenerTest, NoConnectionReturnsAtOnce)
{
    uint32_t count = 99;
    uint32_t connected = 99;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(nullptr, receive(count, connected));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(0u, connected);
    EXPECT_EQ(99u, count);
    EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
}

TEST_F(ListenerTest, SilentConnectionIsClosed)
{
    int client = connectTo(port_);
    ASSERT_GE(client, 0);
    uint32_t count = 99;
    uint32_t connected = 0;
    LogCapture log;
    EXPECT_EQ(nullptr, receive(count, connected));
    EXPECT_EQ(1u, connected);
    EXPECT_EQ(99u, count);
    char byte;
    EXPECT_EQ(0, recv(client, &byte, 1, 0)); // the listener closed its end
    close(client);
    EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    expectStillServing();
}

TEST_F(ListenerTest, NotSoapIsLogged)
{
    camsim::SendResult pushed;
    std::thread camera([&] {
        pushed = camsim::sendRaw(consumer_, camsim::buildHttpPost(consumer_, "hello, not xml"));
    });
    uint32_t count = 99;
    uint32_t connected = 0;
    LogCapture log;
    OnvifAlarmReport *reports = receiveNext(count, connected);
    camera.join();
    EXPECT_EQ(nullptr, reports);
    EXPECT_EQ(1u, connected);
    EXPECT_TRUE(log.hasText("LogPrint: Failed to VEK_Onvif_Recv_Notify, Url:http://camera/"));
    EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    expectStillServing();
}

TEST_F(ListenerTest, OversizedNotifyIsRefused)
{
    std::string huge(static_cast<size_t>(vek::kNotifyMaxBytes) + 4096, 'x');
    std::vector<std::string> messages = {motionMessage(huge.c_str())};
    camsim::SendResult pushed;
    std::thread camera([&] { pushed = camsim::pushNotify(consumer_, messages); });
    uint32_t count = 0;
    uint32_t connected = 0;
    LogCapture log;
    EXPECT_EQ(nullptr, receiveNext(count, connected));
    camera.join();
    EXPECT_EQ(1u, connected);
    EXPECT_TRUE(log.hasText("Notify refused: larger than 1048576 bytes"));
    EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    expectStillServing();
}

TEST_F(ListenerTest, InvalidArguments)
{
    LogCapture log;
    uint32_t count = 0;
    uint32_t connected = 5;
    EXPECT_EQ(nullptr, VEK_Onvif_Recv_Notify(listenFd_, &motion_.cfg, &motion_.inputs, "", &count,
                                             &connected));
    EXPECT_EQ(nullptr, VEK_Onvif_Recv_Notify(listenFd_, nullptr, &motion_.inputs, "http://c/",
                                             &count, &connected));
    EXPECT_EQ(5u, connected);
    EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_PARAM, "VEK_Onvif_Recv_Notify", "Invalid input Param."));
}

// Sends bytes as a camera does and reads the listener's answer, with the
// process's standard output redirected to a file while the listener runs.
struct Answered {
    camsim::SendResult sent;
    OnvifAlarmReport *reports = nullptr;
    uint32_t count = 0;
    uint32_t connected = 0;
    std::string printed; // what reached standard output
};

TEST_F(ListenerTest, EveryRequestIsAnsweredOnItsOwnConnection)
{
    const std::string relay = camsim::makeNotificationMessage(
        "tns1:Device/Trigger/Relay",
        camsim::makeSimpleMessage("2026-12-10T01:00:01Z", "Changed", "RelayToken", "1",
                                  "LogicalState", "active"));
    const std::string renew =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope "
        "xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
        "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\"><s:Body><wsnt:Renew>"
        "<wsnt:TerminationTime>PT1M</wsnt:TerminationTime></wsnt:Renew></s:Body></s:Envelope>";
    struct Case {
        const char *name;
        std::string body;
        bool connectionClose; // the camera asks to close; otherwise keep-alive
        int status;
        uint32_t reports;
    };
    const std::vector<Case> cases = {
        {"matching, keep-alive", camsim::buildNotifyEnvelope({motionMessage("true")}, consumer_),
         false, 202, 1},
        {"matching, close", camsim::buildNotifyEnvelope({motionMessage("true")}, consumer_), true,
         202, 1},
        {"no template fits", camsim::buildNotifyEnvelope({relay}, consumer_), true, 202, 0},
        {"not a Notify", renew, true, 400, 0},
        {"not SOAP", "hello, not xml", false, 400, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        camsim::HttpPostOptions options;
        options.connectionClose = c.connectionClose;
        const std::string bytes = camsim::buildHttpPost(consumer_, c.body, options);
        Answered a;
        std::thread camera([&] { a.sent = camsim::sendRaw(consumer_, bytes); });
        fflush(stdout);
        char path[] = "/tmp/vek_stdout_XXXXXX";
        int file = mkstemp(path);
        ASSERT_GE(file, 0);
        int saved = dup(STDOUT_FILENO);
        dup2(file, STDOUT_FILENO);
        a.reports = receiveNext(a.count, a.connected);
        fflush(stdout);
        dup2(saved, STDOUT_FILENO);
        close(saved);
        camera.join();
        a.printed.resize(static_cast<size_t>(lseek(file, 0, SEEK_END)));
        EXPECT_EQ(static_cast<ssize_t>(a.printed.size()),
                  pread(file, &a.printed[0], a.printed.size(), 0));
        close(file);
        unlink(path);

        EXPECT_EQ(1u, a.connected);
        EXPECT_EQ(c.reports, a.reports == nullptr ? 0u : a.count);
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&a.reports), "test", __LINE__);
        EXPECT_EQ(c.status, a.sent.status) << a.sent.response << a.sent.error;
        if (c.status == 202) {
            EXPECT_NE(std::string::npos, a.sent.response.find("\r\nContent-Length: 0\r\n"));
        } else {
            EXPECT_NE(std::string::npos, a.sent.response.find(":Fault>")) << a.sent.response;
        }
        EXPECT_EQ("", a.printed);
        EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    }
}

// When the event-service URL names the camera by a numeric address, only
// that address may deliver; a host name lets any sender through. The
// sender here is always 127.0.0.1.
TEST_F(ListenerTest, OnlyTheCameraAddressMayDeliver)
{
    struct Case {
        std::string url;
        bool served;
        const char *camera; // as logged when refused
    };
    const std::string port = std::to_string(port_);
    const std::vector<Case> cases = {
        {"http://127.0.0.1:" + port + "/onvif/event_service", true, ""},
        {"http://admin@127.0.0.1/onvif/event_service", true, ""},
        {"http://[::ffff:127.0.0.1]:80/onvif/event_service", true, ""},
        {"http://localhost:" + port + "/onvif/event_service", true, ""},
        {"http://127.0.0.2:" + port + "/onvif/event_service", false, "127.0.0.2"},
        {"http://192.0.2.10/onvif/event_service", false, "192.0.2.10"},
        {"http://[::1]:" + port + "/onvif/event_service", false, "::1"},
        // Every numeric spelling the resolver reads as an address is one.
        {"http://2130706433:" + port + "/onvif/event_service", true, ""},
        {"http://127.1/onvif/event_service", true, ""},
        {"http://2130706434/onvif/event_service", false, "2130706434"},
        {"http://127.2/onvif/event_service", false, "127.2"},
        {"http://127.000.000.002/onvif/event_service", false, "127.000.000.002"},
        {"http://0x7f.0.0.2/onvif/event_service", false, "0x7f.0.0.2"},
        {"http://127.0.0.2./onvif/event_service", false, "127.0.0.2."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.url);
        camsim::SendResult pushed;
        std::thread camera(
            [&] { pushed = camsim::pushNotify(consumer_, {motionMessage("true")}); });
        LogCapture log;
        uint32_t count = 0;
        uint32_t connected = 0;
        OnvifAlarmReport *reports = nullptr;
        double seconds = 0;
        for (int i = 0; i < 300 && connected == 0; ++i) {
            auto start = std::chrono::steady_clock::now();
            reports = VEK_Onvif_Recv_Notify(listenFd_, &motion_.cfg, &motion_.inputs, c.url.c_str(),
                                            &count, &connected);
            seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (connected == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        camera.join();
        EXPECT_EQ(1u, connected);
        EXPECT_EQ(c.served, reports != nullptr);
        if (c.served) {
            EXPECT_EQ(202, pushed.status);
            EXPECT_FALSE(log.hasText("Notify refused"));
        } else {
            EXPECT_EQ(0, pushed.status); // closed unanswered
            EXPECT_TRUE(
                log.has(4, VEK_ONVIF_ERR_FAIL, "VEK_Onvif_Recv_Notify",
                        std::string("Notify refused: from 127.0.0.1, the camera is ") + c.camera));
            EXPECT_LT(seconds, 0.1); // not read
        }
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
        EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
    }
}

// A sender that trickles its request holds the listener for at most the
// one second from the accept; a genuine Notify half a second behind it is
// reported within about a second.
TEST_F(ListenerTest, TricklingSenderDoesNotHoldBackTheNextAlarm)
{
    camsim::SendOptions trickle;
    trickle.chunkSize = 1;
    trickle.delayPerChunk = std::chrono::milliseconds(200);
    trickle.maxDuration = std::chrono::milliseconds(8000);
    trickle.readResponse = false;
    const std::string slowBytes = camsim::buildHttpPost(
        consumer_, camsim::buildNotifyEnvelope({motionMessage("false")}, consumer_));
    std::thread slow([&] { camsim::sendRaw(consumer_, slowBytes, trickle); });
    std::chrono::steady_clock::time_point genuineStart;
    std::thread genuine([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        genuineStart = std::chrono::steady_clock::now();
        camsim::pushNotify(consumer_, {motionMessage("true")});
    });

    // The recorder's poll loop, until the genuine alarm is reported.
    OnvifAlarmReport *reports = nullptr;
    uint32_t count = 0;
    auto begin = std::chrono::steady_clock::now();
    while (reports == nullptr &&
           std::chrono::steady_clock::now() - begin < std::chrono::seconds(8)) {
        uint32_t connected = 0;
        reports = receive(count, connected);
        if (connected == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    auto reported = std::chrono::steady_clock::now();
    genuine.join();
    slow.join();
    ASSERT_NE(nullptr, reports);
    EXPECT_EQ(1u, count);
    EXPECT_EQ(VEK_ALARM_MOTION, reports[0].AlarmType); // the genuine "true", not the slow "false"
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
    double delay = std::chrono::duration<double>(reported - genuineStart).count();
    RecordProperty("genuine_delay_ms", std::to_string(static_cast<int>(delay * 1000)));
    EXPECT_LT(delay, 1.1);
    EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
}

} // namespace
