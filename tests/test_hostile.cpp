// Hostile input against the Notify listener and the parsers: every case
// must end in bounded time and memory, leave no block and no descriptor
// behind, say what happened in the log, and leave the listener able to
// translate the next genuine Notify.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camsim.h"
#include "context_fixture.h"
#include "fixture_loopback.h"
#include "reference_compact.h"
#include "soapH.h"
#include "test_support.h"
#include "vek_onvif_event.h"
#include "vek_subscription_internal.h"

namespace
{

using Clock = std::chrono::steady_clock;
using vektest::LogCapture;

constexpr size_t kItems = 100000;
constexpr size_t kMessages = 100000;
constexpr size_t kMiB = 1024 * 1024;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident size of the process so far, in KiB.
long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

std::string repeat(const std::string &part, size_t times)
{
    std::string text;
    text.reserve(part.size() * times);
    for (size_t i = 0; i < times; ++i) {
        text += part;
    }
    return text;
}

std::string nested(size_t depth)
{
    return repeat("<a>", depth) + "deep" + repeat("</a>", depth);
}

// An internal DTD subset whose last entity expands to 10^9 "lol"s.
std::string billionLaughs()
{
    std::string dtd = "<!DOCTYPE m [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        dtd += "<!ENTITY l" + std::to_string(i) + " \"" +
               repeat("&l" + std::to_string(i - 1) + ";", 10) + "\">";
    }
    return dtd + "]>";
}

std::string motionItems(const std::string &token, const std::string &state,
                        const std::string &extraData = "", const std::string &attributes = "")
{
    return "<tt:Message UtcTime=\"2026-12-10T01:00:00Z\" PropertyOperation=\"Changed\"" +
           attributes + "><tt:Source><tt:SimpleItem Name=\"Source\" Value=\"" + token +
           "\"/></tt:Source><tt:Data><tt:SimpleItem Name=\"State\" Value=\"" + state + "\"/>" +
           extraData + "</tt:Data></tt:Message>";
}

std::string motionNotification(const std::string &messageXml)
{
    return camsim::makeNotificationMessage("tns1:VideoSource/MotionAlarm", messageXml);
}

std::string genuineMotion()
{
    return motionNotification(motionItems("VideoSourceToken_1", "true"));
}

using vektest::MotionConfig;

int listeningSocket(int backlog, int &port)
{
    uint16_t bound = 0;
    int fd = vekfix::loopbackListener(backlog, &bound);
    port = bound;
    return fd;
}

// Every line logged, shortened, for failure messages.
std::string logged(const LogCapture &log)
{
    std::string text;
    for (const auto &line : log.lines()) {
        text += line.func + ": " + line.text.substr(0, 160) + "\n";
    }
    return text;
}

// ---- The listener -----------------------------------------------------------

struct ListenerCase {
    const char *name;
    // The bytes a hostile camera sends to the consumer address.
    std::function<std::string(const std::string &url)> request;
    camsim::SendOptions send;
    uint32_t reports;  // reports the listener hands out
    const char *log;   // fragment of a log line the case must leave
    double maxSeconds; // the one Recv_Notify call that serves it
};

std::string post(const std::string &url, const std::vector<std::string> &messages,
                 const camsim::HttpPostOptions &options = {})
{
    return camsim::buildHttpPost(url, camsim::buildNotifyEnvelope(messages, url), options);
}

camsim::SendOptions halfClosed()
{
    camsim::SendOptions options;
    options.shutdownWrite = true;
    options.readResponse = false;
    return options;
}

// A sender that writes one byte every delay, for at most maxDuration, and
// does not wait for the answer.
camsim::SendOptions bytePerDelay(std::chrono::milliseconds delay,
                                 std::chrono::milliseconds maxDuration)
{
    camsim::SendOptions options;
    options.chunkSize = 1;
    options.delayPerChunk = delay;
    options.maxDuration = maxDuration;
    options.readResponse = false;
    return options;
}

const char *const kFailedLine = "LogPrint: Failed to VEK_Onvif_Recv_Notify, Url:http://camera/";
const char *const kUnparsedLine = "Failed to parse alarm message";
const char *const kRefusedLine = "Notify refused: larger than 1048576 bytes";

void appendLengthAndTimeCases(std::vector<ListenerCase> &cases);

std::vector<ListenerCase> listenerCases()
{
    std::vector<ListenerCase> cases;
    // 100,000 levels (what fits in the size bound), in a header the
    // runtime skips and in the message text it hands over, which Mini-XML
    // loads without recursion: translated either way.
    cases.push_back({"DeepNestingInHeader",
                     [](const std::string &url) {
                         std::string body = camsim::buildNotifyEnvelope({genuineMotion()}, url);
                         size_t header = body.find('>', body.find("Header")) + 1;
                         body.insert(header, nested(100000));
                         return camsim::buildHttpPost(url, body);
                     },
                     halfClosed(), 1, "", 2.0});
    cases.push_back({"DeepNestingInMessage",
                     [](const std::string &url) {
                         return post(url, {motionNotification(motionItems(
                                              "VideoSourceToken_1", "true", nested(100000)))});
                     },
                     halfClosed(), 1, "", 2.0});
    cases.push_back({"EntityDeclaration",
                     [](const std::string &url) {
                         std::string body = camsim::buildNotifyEnvelope(
                             {motionNotification(motionItems("&l9;", "true"))}, url);
                         body.insert(body.find("?>") + 2, billionLaughs());
                         return camsim::buildHttpPost(url, body);
                     },
                     halfClosed(), 0, kUnparsedLine, 1.0});
    cases.push_back({"HundredThousandItems",
                     [](const std::string &url) {
                         return post(
                             url, {motionNotification(motionItems(
                                      "VideoSourceToken_1", "true",
                                      repeat("<tt:SimpleItem Name=\"n\" Value=\"1\"/>", kItems)))});
                     },
                     halfClosed(), 0, kRefusedLine, 2.0});
    cases.push_back({"HundredThousandMessages",
                     [](const std::string &url) {
                         return post(url, std::vector<std::string>(kMessages, genuineMotion()));
                     },
                     halfClosed(), 0, kRefusedLine, 2.0});
    cases.push_back({"OverTheSizeBound",
                     [](const std::string &url) {
                         return post(url, {motionNotification(
                                              motionItems(std::string(kMiB + 4096, 't'), "true"))});
                     },
                     halfClosed(), 0, kRefusedLine, 2.0});
    // Just under the size bound. The runtime drops an attribute value this
    // long from the message text it hands over ("Junk>"), so the message
    // is refused as malformed, with a log line.
    cases.push_back({"MegabyteAttribute",
                     [](const std::string &url) {
                         return post(url, {motionNotification(motionItems(
                                              "VideoSourceToken_1", "true", "",
                                              " Junk=\"" + std::string(kMiB - 8192, 'j') + "\""))});
                     },
                     halfClosed(), 0, kUnparsedLine, 2.0});
    cases.push_back({"NulByte",
                     [](const std::string &url) {
                         std::string bytes = post(url, {genuineMotion()});
                         bytes[bytes.find("VideoSourceToken_1")] = '\0';
                         return bytes;
                     },
                     halfClosed(), 0, "to xml.", 1.0});
    cases.push_back({"InvalidUtf8",
                     [](const std::string &url) {
                         return post(url, {motionNotification(motionItems(
                                              "Video\xff\xfe\xc3(\xed\xa0\x80", "true"))});
                     },
                     halfClosed(), 1, "", 1.0});
    cases.push_back({"TruncatedRequest",
                     [](const std::string &url) {
                         std::string bytes = post(url, {genuineMotion()});
                         return bytes.substr(0, bytes.size() / 2);
                     },
                     halfClosed(), 0, kFailedLine, 1.0});
    // The runtime reads the envelope to its end tag, whatever length the
    // header declares or however the chunk sizes are spelled: translated.
    cases.push_back({"ContentLengthShort",
                     [](const std::string &url) {
                         camsim::HttpPostOptions options;
                         options.contentLength = "300";
                         return post(url, {genuineMotion()}, options);
                     },
                     halfClosed(), 1, "", 1.0});
    cases.push_back({"ContentLengthBeyondEnd",
                     [](const std::string &url) {
                         camsim::HttpPostOptions options;
                         options.contentLength = "100000";
                         return post(url, {genuineMotion()}, options);
                     },
                     halfClosed(), 1, "", 1.0});
    {
        // The sender waits for an answer without closing: the read
        // time-out ends it.
        camsim::SendOptions open;
        open.readResponse = true;
        open.ioTimeout = std::chrono::milliseconds(4000);
        cases.push_back({"ContentLengthBeyondEndConnectionHeld",
                         [](const std::string &url) {
                             camsim::HttpPostOptions options;
                             options.contentLength = "100000";
                             return post(url, {genuineMotion()}, options);
                         },
                         open, 1, "", 2.5});
    }
    cases.push_back({"Chunked",
                     [](const std::string &url) {
                         camsim::HttpPostOptions options;
                         options.chunked = true;
                         options.chunkSize = 100;
                         return post(url, {genuineMotion(), genuineMotion()}, options);
                     },
                     halfClosed(), 2, "", 1.0});
    cases.push_back({"ChunkSizeNotHex",
                     [](const std::string &url) {
                         camsim::HttpPostOptions options;
                         options.chunked = true;
                         std::string bytes = post(url, {genuineMotion()}, options);
                         size_t body = bytes.find("\r\n\r\n") + 4;
                         return bytes.substr(0, body) + "zz\r\n" + bytes.substr(body);
                     },
                     halfClosed(), 1, "", 1.0});
    cases.push_back({"OneBytePerHalfSecond",
                     [](const std::string &url) { return post(url, {genuineMotion()}); },
                     bytePerDelay(std::chrono::milliseconds(500), std::chrono::milliseconds(8000)),
                     0, kFailedLine, 4.5});
    appendLengthAndTimeCases(cases);
    return cases;
}

// ---- Declared lengths and slow senders ----
// A declared length that is no size up to the bound is refused before the
// runtime sizes anything from it; a request that takes longer than a
// second from the accept is given up, however steadily its bytes trickle.
const char *const kBadLengthLine = "Notify refused: Content-Length is not a size in bytes";

// The request that fuzzing found: a garbage request line and a negative
// Content-Length.
std::string fuzzSeed(const char *name)
{
    return vektest::readFixture(std::string("../../fuzz/seeds/listener/") + name);
}

std::string declaredLength(const std::string &url, const char *length)
{
    camsim::HttpPostOptions options;
    options.contentLength = length;
    return post(url, {genuineMotion()}, options);
}

void appendLengthAndTimeCases(std::vector<ListenerCase> &cases)
{
    cases.push_back({"ContentLengthNegativeFromFuzzing",
                     [](const std::string &) { return fuzzSeed("negative-content-length"); },
                     halfClosed(), 0, kBadLengthLine, 1.0});
    cases.push_back({"ContentLengthNegative",
                     [](const std::string &url) { return declaredLength(url, "-1792"); },
                     halfClosed(), 0, kBadLengthLine, 1.0});
    // The runtime takes any character between "Content" and "Length".
    cases.push_back({"ContentLengthNegativeOddSeparator",
                     [](const std::string &url) {
                         camsim::HttpPostOptions options;
                         options.omitContentLength = true;
                         options.extraHeaders = {{"Content_Length", "-1792"}};
                         return post(url, {genuineMotion()}, options);
                     },
                     halfClosed(), 0, kBadLengthLine, 1.0});
    cases.push_back({"ContentLengthNotANumber",
                     [](const std::string &url) { return declaredLength(url, "12ab"); },
                     halfClosed(), 0, kBadLengthLine, 1.0});
    cases.push_back({"ContentLengthAboveTheBound",
                     [](const std::string &url) { return declaredLength(url, "1048577"); },
                     halfClosed(), 0, kRefusedLine, 1.0});
    cases.push_back(
        {"ContentLengthHuge",
         [](const std::string &url) { return declaredLength(url, "18446744073709549848"); },
         halfClosed(), 0, kRefusedLine, 1.0});
    // Each byte comes well within the read time-out; the request as a
    // whole does not.
    cases.push_back({"OneBytePerTenthOfASecond",
                     [](const std::string &url) { return post(url, {genuineMotion()}); },
                     bytePerDelay(std::chrono::milliseconds(100), std::chrono::milliseconds(6000)),
                     0, kFailedLine, 1.3});
}

void PrintTo(const ListenerCase &c, std::ostream *os)
{
    *os << c.name;
}

class HostileListener : public ::testing::TestWithParam<ListenerCase>
{
  protected:
    void SetUp() override
    {
        listenFd_ = listeningSocket(16, port_);
        ASSERT_GE(listenFd_, 0);
        consumer_ = "http://127.0.0.1:" + std::to_string(port_) + "/onvif_notify_server";
        descriptors_ = vektest::openDescriptorCount();
        blocks_ = VEK_PLAT_GetLiveBlocks();
    }
    void TearDown() override { close(listenFd_); }

    // Calls the listener until it takes a connection (bounded); returns the
    // reports and the time of the call that took it.
    OnvifAlarmReport *serveOne(uint32_t &count, double &seconds)
    {
        uint32_t connected = 0;
        OnvifAlarmReport *reports = nullptr;
        for (int i = 0; i < 500 && connected == 0; ++i) {
            auto start = Clock::now();
            reports = VEK_Onvif_Recv_Notify(listenFd_, &motion_.cfg, &motion_.inputs,
                                            "http://camera/", &count, &connected);
            seconds = secondsSince(start);
            if (connected == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        EXPECT_EQ(1u, connected);
        return reports;
    }

    int listenFd_ = -1;
    int port_ = 0;
    std::string consumer_;
    MotionConfig motion_;
    int descriptors_ = 0;
    uint32_t blocks_ = 0;
};

TEST_P(HostileListener, BoundedLoggedAndStillServing)
{
    const ListenerCase &c = GetParam();
    const std::string bytes = c.request(consumer_);
    const long peakBefore = peakResidentKiB();
    LogCapture log;
    camsim::SendResult sent;
    std::thread camera([&] { sent = camsim::sendRaw(consumer_, bytes, c.send); });
    uint32_t count = 0;
    double seconds = 0;
    OnvifAlarmReport *reports = serveOne(count, seconds);
    camera.join();
    EXPECT_TRUE(sent.connected) << sent.error;

    EXPECT_EQ(c.reports, count);
    EXPECT_EQ(c.reports != 0, reports != nullptr);
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(VEK_ALARM_MOTION, reports[i].AlarmType);
    }
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
    EXPECT_LT(seconds, c.maxSeconds);
    // Memory: the request is at most 1 MiB; what reading it costs stays
    // within a small multiple of that.
    EXPECT_LT(peakResidentKiB() - peakBefore, 64 * 1024);
    EXPECT_TRUE(c.log[0] == '\0' || log.hasText(c.log)) << "no log line with: " << c.log << "\n"
                                                        << logged(log);
    EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks());
    EXPECT_EQ(descriptors_, vektest::openDescriptorCount());

    // The next genuine Notify is translated.
    std::thread next([&] { sent = camsim::pushNotify(consumer_, {genuineMotion()}); });
    reports = serveOne(count, seconds);
    next.join();
    ASSERT_NE(nullptr, reports);
    EXPECT_EQ(1u, count);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
    EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks());
    EXPECT_EQ(descriptors_, vektest::openDescriptorCount());
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileListener, ::testing::ValuesIn(listenerCases()),
                         [](const ::testing::TestParamInfo<ListenerCase> &info) {
                             return std::string(info.param.name);
                         });

// 500 connections are opened at once, each sends its Notify and shuts its
// write side down; only then does the listener run, one connection per
// call. Every Notify is translated once, no call waits for a time-out.
// (The socket Subscribe binds queues 128 connections; a larger flood is
// left to the senders' TCP retries, so this socket queues all 500.)
TEST(HostileListenerLoad, FiveHundredConnectionsServedOnePerCall)
{
    constexpr int kConnections = 500;
    const int descriptors = vektest::openDescriptorCount();
    const uint32_t blocks = VEK_PLAT_GetLiveBlocks();
    int port = 0;
    int listenFd = listeningSocket(kConnections + 12, port);
    ASSERT_GE(listenFd, 0);
    const std::string consumer =
        "http://127.0.0.1:" + std::to_string(port) + "/onvif_notify_server";
    const std::string request = post(consumer, {genuineMotion()});
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int> clients;
    for (int i = 0; i < kConnections; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr)) << i;
        ASSERT_EQ(static_cast<ssize_t>(request.size()),
                  send(fd, request.data(), request.size(), MSG_NOSIGNAL));
        shutdown(fd, SHUT_WR);
        clients.push_back(fd);
    }

    MotionConfig motion;
    LogCapture log;
    int served = 0;
    uint32_t reported = 0;
    double slowest = 0;
    auto start = Clock::now();
    for (int call = 0; call < kConnections + 1; ++call) {
        uint32_t count = 0;
        uint32_t connected = 0;
        auto begin = Clock::now();
        OnvifAlarmReport *reports = VEK_Onvif_Recv_Notify(listenFd, &motion.cfg, &motion.inputs,
                                                          "http://camera/", &count, &connected);
        slowest = std::max(slowest, secondsSince(begin));
        served += static_cast<int>(connected);
        reported += count;
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
    }
    const double total = secondsSince(start);
    EXPECT_EQ(kConnections, served); // the last call found nothing waiting
    EXPECT_EQ(static_cast<uint32_t>(kConnections), reported);
    EXPECT_TRUE(log.lines().empty()) << logged(log);
    EXPECT_LT(slowest, 0.5);
    EXPECT_LT(total, 20.0);
    RecordProperty("seconds", std::to_string(total));
    for (int fd : clients) {
        close(fd);
    }
    close(listenFd);
    EXPECT_EQ(blocks, VEK_PLAT_GetLiveBlocks());
    EXPECT_EQ(descriptors, vektest::openDescriptorCount());
}

// ---- The parsers ------------------------------------------------------------------

struct ParserCase {
    const char *name;
    std::string body;        // Data content of a message / message description
    uint32_t messageStatus;  // VEK_Onvif_Event_ParseAlarmMsg
    uint32_t topicSetStatus; // VEK_Onvif_Event_ParsePropeMsg
    const char *log;         // fragment of the parse error logged, "" for none
};

// Wraps the body into a notification message (prefixes as cameras send them).
std::string messageText(const ParserCase &c)
{
    return "<tt:Message UtcTime=\"2026-12-10T01:00:00Z\"><tt:Source><tt:SimpleItem "
           "Name=\"Source\" Value=\"1\"/></tt:Source><tt:Data>" +
           c.body + "</tt:Data></tt:Message>";
}

std::string topicSetText(const ParserCase &c)
{
    return "<Message><VideoSource><MotionAlarm><MessageDescription IsProperty=\"true\"><Source>"
           "<SimpleItemDescription Name=\"Source\" Type=\"tt:ReferenceToken\"/></Source><Data>" +
           c.body + "</Data></MessageDescription></MotionAlarm></VideoSource></Message>";
}

std::vector<ParserCase> parserCases()
{
    const std::string item = "<tt:SimpleItem Name=\"State\" Value=\"true\"/>";
    return {
        {"DeepNesting", nested(100000), 0, 0, ""},
        {"EntityDeclaration", billionLaughs() + item, 100, 112, "XML parse error"},
        {"EntityUse", "<tt:SimpleItem Name=\"State\" Value=\"&l9;\"/>", 100, 112, "Entity name"},
        {"HundredThousandItems", repeat(item, kItems), 0, 0, ""},
        {"MegabyteAttribute",
         "<tt:SimpleItem Name=\"State\" Value=\"" + std::string(kMiB, 'v') + "\"/>", 0, 0, ""},
        {"MegabyteName", "<tt:SimpleItem Name=\"" + std::string(kMiB, 'n') + "\" Value=\"1\"/>", 0,
         0, ""},
        {"InvalidUtf8", "<tt:SimpleItem Name=\"State\" Value=\"\xff\xfe\xc3(\xed\xa0\x80\"/>", 100,
         112, "load alarm string fail"},
    };
}

void PrintTo(const ParserCase &c, std::ostream *os)
{
    *os << c.name;
}

class HostileParser : public ::testing::TestWithParam<ParserCase>
{
  protected:
    void SetUp() override { blocks_ = VEK_PLAT_GetLiveBlocks(); }
    void TearDown() override { EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks()); }
    uint32_t blocks_ = 0;
};

TEST_P(HostileParser, BoundedAndLeakFree)
{
    const ParserCase &c = GetParam();
    LogCapture log;
    const long peakBefore = peakResidentKiB();
    auto start = Clock::now();

    std::string message = messageText(c);
    ASSERT_EQ(0u, VEK_PUB_DeleteNodeProperty(&message[0]));
    OnvifAlarmTemplate alarm{};
    EXPECT_EQ(c.messageStatus, VEK_Onvif_Event_ParseAlarmMsg(
                                   message.c_str(), &alarm.SourceCount, &alarm.KeyCount,
                                   &alarm.DataCount, &alarm.ExtensionCount, &alarm.SourceItems,
                                   &alarm.KeyItems, &alarm.DataItems, &alarm.ExtensionItems));
    if (c.messageStatus == 0) {
        MotionConfig motion;
        OnvifAlarmReport report{};
        VEK_Onvif_Event_MatchAlarmType(&motion.cfg, &motion.inputs, &alarm, &report);
        for (auto **items :
             {&alarm.SourceItems, &alarm.KeyItems, &alarm.DataItems, &alarm.ExtensionItems}) {
            ZU_MEM_FreeEx(reinterpret_cast<void **>(items), "test", __LINE__);
        }
    }

    OnvifAlarmCfg cfg{};
    EXPECT_EQ(c.topicSetStatus, VEK_Onvif_Event_ParsePropeMsg(topicSetText(c).c_str(), &cfg));
    VEK_Onvif_Event_FreePropeAlarm(&cfg);

    EXPECT_LT(secondsSince(start), 10.0 * vektest::kSanitizerSlowdown);
    EXPECT_LT(peakResidentKiB() - peakBefore, 256 * 1024);
    EXPECT_TRUE(c.log[0] == '\0' || log.hasText(c.log)) << "no log line with: " << c.log << "\n"
                                                        << logged(log);
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileParser, ::testing::ValuesIn(parserCases()),
                         [](const ::testing::TestParamInfo<ParserCase> &info) {
                             return std::string(info.param.name);
                         });

// A NUL byte ends a text the C interface takes: what follows is not seen,
// and the cut message is refused as malformed.
TEST(HostileParserText, NulByteEndsTheText)
{
    const uint32_t blocks = VEK_PLAT_GetLiveBlocks();
    LogCapture log;
    const char message[] = "<Message><Source><SimpleItem Name=\"Source\" Val\0ue=\"1\"/></Source>"
                           "</Message>";
    OnvifSimpleItem *arrays[4] = {};
    uint32_t counts[4] = {};
    EXPECT_NE(VEK_ONVIF_OK,
              VEK_Onvif_Event_ParseAlarmMsg(message, &counts[0], &counts[1], &counts[2], &counts[3],
                                            &arrays[0], &arrays[1], &arrays[2], &arrays[3]));
    EXPECT_FALSE(log.lines().empty());
    EXPECT_EQ(blocks, VEK_PLAT_GetLiveBlocks());
}

// 100,000 notification messages in one Notify (as the SOAP layer hands
// them over): one report each, in bounded time.
TEST(HostileTranslation, HundredThousandMessages)
{
    const uint32_t blocks = VEK_PLAT_GetLiveBlocks();
    MotionConfig motion;
    struct soap *soap = soap_new();
    _ns7__Notify notify;
    notify.__sizeNotificationMessage = static_cast<int>(kMessages);
    notify.NotificationMessage =
        soap_new_ns7__NotificationMessageHolderType(soap, static_cast<int>(kMessages));
    std::vector<std::string> texts(kMessages);
    std::string topic = "tns1:VideoSource/MotionAlarm";
    for (size_t i = 0; i < kMessages; ++i) {
        texts[i] = motionItems("VideoSourceToken_1", i % 2 == 0 ? "true" : "false");
        auto &holder = notify.NotificationMessage[i];
        holder.Topic = soap_new_ns7__TopicExpressionType(soap);
        holder.Topic->__any = &topic[0];
        holder.Message.__any = &texts[i][0];
    }
    LogCapture log;
    uint32_t count = 0;
    auto start = Clock::now();
    OnvifAlarmReport *reports =
        VEK_Onvif_TransAlarmType(&motion.cfg, &motion.inputs, &notify, &count);
    EXPECT_LT(secondsSince(start), 30.0);
    ASSERT_NE(nullptr, reports);
    ASSERT_EQ(kMessages, count);
    EXPECT_EQ(VEK_ALARM_MOTION, reports[0].AlarmType);
    EXPECT_EQ(VEK_ALARM_MOTION + VEK_ALARM_INACTIVE_OFFSET, reports[kMessages - 1].AlarmType);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
    soap_destroy(soap);
    soap_end(soap);
    soap_free(soap);
    EXPECT_EQ(blocks, VEK_PLAT_GetLiveBlocks());
}

// ---- Deeply nested part elements -------------------------------------------
// Source, Key, Data or Extension elements nested in one another as deep as
// the Notify size bound allows: in a message the innermost decides its part,
// in a message description each item is read once, and either text takes
// about as long as a flat text of the same size.

constexpr double kNestedPartSeconds = 5.0;
// Room left for the envelope and the rest of the message.
constexpr size_t kNestingBytes = kMiB - 16 * 1024;

// Elements open ... close nested as deep as bytes allow, inner at the bottom.
std::string nestedElements(const std::string &open, const std::string &close, size_t bytes,
                           const std::string &inner)
{
    const size_t depth = (bytes - inner.size()) / (open.size() + close.size());
    return repeat(open, depth) + inner + repeat(close, depth);
}

// What the innermost element holds: an item the motion template accepts
// (none for Key, which the template does not have).
std::string innermostItem(const std::string &part)
{
    if (part == "Source") {
        return "<tt:SimpleItem Name=\"Source\" Value=\"VideoSourceToken_1\"/>";
    }
    if (part == "Data") {
        return "<tt:SimpleItem Name=\"State\" Value=\"true\"/>";
    }
    if (part == "Extension") {
        return "<tt:SimpleItem Name=\"Level\" Value=\"17\"/>";
    }
    return "";
}

// A motion message followed by the nested elements of one part.
std::string nestedPartMessage(const std::string &part)
{
    return "<tt:Message UtcTime=\"2026-12-10T01:00:00Z\" PropertyOperation=\"Changed\">"
           "<tt:Source><tt:SimpleItem Name=\"Source\" Value=\"VideoSourceToken_1\"/></tt:Source>"
           "<tt:Data><tt:SimpleItem Name=\"State\" Value=\"true\"/></tt:Data>" +
           nestedElements("<tt:" + part + ">", "</tt:" + part + ">", kNestingBytes,
                          innermostItem(part)) +
           "</tt:Message>";
}

// A motion topic whose message description has the elements of one part
// nested (an Extension is no part of a description and is passed over).
std::string nestedPartTopicSet(const std::string &part)
{
    const auto element = [&part](const std::string &name, const std::string &items) {
        const std::string open = "<" + name + ">";
        const std::string close = "</" + name + ">";
        return name == part ? nestedElements(open, close, kNestingBytes, items)
                            : open + items + close;
    };
    std::string text =
        "<Message><VideoSource><MotionAlarm><MessageDescription IsProperty=\"true\">" +
        element("Source", "<SimpleItemDescription Name=\"Source\" Type=\"tt:ReferenceToken\"/>");
    if (part == "Key" || part == "Extension") {
        text += element(part, "<SimpleItemDescription Name=\"Rule\" Type=\"xs:string\"/>");
    }
    return text + element("Data", "<SimpleItemDescription Name=\"State\" Type=\"xs:boolean\"/>") +
           "</MessageDescription></MotionAlarm></VideoSource></Message>";
}

const char *const kNestedParts[] = {"Source", "Key", "Data", "Extension"};

std::vector<ListenerCase> nestedPartListenerCases()
{
    const std::pair<const char *, const char *> parts[] = {{"Source", "NestedSource"},
                                                           {"Key", "NestedKey"},
                                                           {"Data", "NestedData"},
                                                           {"Extension", "NestedExtension"}};
    std::vector<ListenerCase> cases;
    for (const auto &[part, name] : parts) {
        cases.push_back({name,
                         [part = std::string(part)](const std::string &url) {
                             return post(url, {motionNotification(nestedPartMessage(part))});
                         },
                         halfClosed(), 1, "", kNestedPartSeconds});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(NestedParts, HostileListener,
                         ::testing::ValuesIn(nestedPartListenerCases()),
                         [](const ::testing::TestParamInfo<ListenerCase> &info) {
                             return std::string(info.param.name);
                         });

class HostileNestedParts : public ::testing::TestWithParam<const char *>
{
  protected:
    void SetUp() override { blocks_ = VEK_PLAT_GetLiveBlocks(); }
    void TearDown() override { EXPECT_EQ(blocks_, VEK_PLAT_GetLiveBlocks()); }
    uint32_t blocks_ = 0;
};

TEST_P(HostileNestedParts, MessageParsedAndTranslatedInBoundedTime)
{
    const std::string part = GetParam();
    const std::string text = nestedPartMessage(part);
    std::string stripped = text;
    ASSERT_EQ(0u, VEK_PUB_DeleteNodeProperty(&stripped[0]));

    auto start = Clock::now();
    OnvifAlarmTemplate alarm{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_ParseAlarmMsg(
                                stripped.c_str(), &alarm.SourceCount, &alarm.KeyCount,
                                &alarm.DataCount, &alarm.ExtensionCount, &alarm.SourceItems,
                                &alarm.KeyItems, &alarm.DataItems, &alarm.ExtensionItems));
    const double parseSeconds = secondsSince(start);
    EXPECT_EQ(1u, alarm.SourceCount);
    EXPECT_EQ(0u, alarm.KeyCount);
    EXPECT_EQ(1u, alarm.DataCount);
    EXPECT_EQ(part == "Extension" ? 1u : 0u, alarm.ExtensionCount);
    for (auto **items :
         {&alarm.SourceItems, &alarm.KeyItems, &alarm.DataItems, &alarm.ExtensionItems}) {
        ZU_MEM_FreeEx(reinterpret_cast<void **>(items), "test", __LINE__);
    }
    EXPECT_LT(parseSeconds, kNestedPartSeconds);

    // The whole translation, as the listener hands a Notify over.
    MotionConfig motion;
    struct soap *soap = soap_new();
    _ns7__Notify notify;
    notify.__sizeNotificationMessage = 1;
    notify.NotificationMessage = soap_new_ns7__NotificationMessageHolderType(soap, 1);
    std::string topic = "tns1:VideoSource/MotionAlarm";
    std::string message = text;
    notify.NotificationMessage[0].Topic = soap_new_ns7__TopicExpressionType(soap);
    notify.NotificationMessage[0].Topic->__any = &topic[0];
    notify.NotificationMessage[0].Message.__any = &message[0];
    uint32_t count = 0;
    start = Clock::now();
    OnvifAlarmReport *reports =
        VEK_Onvif_TransAlarmType(&motion.cfg, &motion.inputs, &notify, &count);
    EXPECT_LT(secondsSince(start), kNestedPartSeconds);
    ASSERT_EQ(1u, count);
    EXPECT_EQ(VEK_ALARM_MOTION, reports[0].AlarmType);
    EXPECT_EQ(part == "Extension" ? 17 : 0, reports[0].ExtensionValue);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "test", __LINE__);
    soap_destroy(soap);
    soap_end(soap);
    soap_free(soap);
}

TEST_P(HostileNestedParts, TopicSetReadInBoundedTime)
{
    const std::string part = GetParam();
    OnvifAlarmCfg cfg{};
    auto start = Clock::now();
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_Event_ParsePropeMsg(nestedPartTopicSet(part).c_str(), &cfg));
    EXPECT_LT(secondsSince(start), kNestedPartSeconds);
    ASSERT_EQ(1u, cfg.PropeAlarmCount);
    // Each item once, however many elements of its part enclose it.
    EXPECT_EQ(1u, cfg.pstPropeAlarmInfo[0].SourceCount);
    EXPECT_EQ(part == "Key" ? 1u : 0u, cfg.pstPropeAlarmInfo[0].KeyCount);
    EXPECT_EQ(1u, cfg.pstPropeAlarmInfo[0].DataCount);
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
}

INSTANTIATE_TEST_SUITE_P(Parts, HostileNestedParts, ::testing::ValuesIn(kNestedParts),
                         [](const ::testing::TestParamInfo<const char *> &info) {
                             return std::string(info.param);
                         });

} // namespace

// ---- Hostile answers to the client ----------------------------------------------
// A camera's answer to CreatePullPointSubscription with many reference
// parameters: read in time linear in the answer, and a reference beyond what
// a pull point may carry refused with its size.

namespace
{

struct AnswerCase {
    const char *name;
    size_t children;
    bool declaredOnEnvelope; // the children's prefix declared on the envelope, else nowhere
    const char *value;       // of each child's attribute n, as written; null: the child's number
    uint32_t status;
    const char *log; // fragment of the line logged, "" for none
};

std::string pullPointAnswer(const AnswerCase &c, uint16_t port)
{
    std::string answer =
        R"(<?xml version="1.0"?><s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" )"
        R"(xmlns:wsa5="http://www.w3.org/2005/08/addressing" )"
        R"(xmlns:tev="http://www.onvif.org/ver10/events/wsdl" )"
        R"(xmlns:wsnt="http://docs.oasis-open.org/wsn/b-2")";
    answer += c.declaredOnEnvelope ? R"( xmlns:a="urn:example:a">)" : ">";
    answer += "<s:Body><tev:CreatePullPointSubscriptionResponse><tev:SubscriptionReference>"
              "<wsa5:Address>http://127.0.0.1:" +
              std::to_string(port) + "/onvif/pullpoint</wsa5:Address><wsa5:ReferenceParameters>";
    for (size_t i = 0; i < c.children; ++i) {
        // Each child a name of its own, so that no search for one ends early.
        const std::string name = "a:Id" + std::to_string(i);
        const std::string value = c.value != nullptr ? c.value : std::to_string(i);
        answer += "<" + name + " n=\"" + value + "\">1</" + name + ">\n";
    }
    answer += "</wsa5:ReferenceParameters></tev:SubscriptionReference>"
              "<wsnt:CurrentTime>2026-12-10T01:02:03Z</wsnt:CurrentTime>"
              "<wsnt:TerminationTime>2026-12-10T03:02:03Z</wsnt:TerminationTime>"
              "</tev:CreatePullPointSubscriptionResponse></s:Body></s:Envelope>";
    return answer;
}

class HostileAnswer : public vektest::ContextFixture<::testing::TestWithParam<AnswerCase>>
{
  protected:
    void TearDown() override
    {
        VEK_Onvif_PullPoint_Free(&pullPoint_);
        sim_.reset();
        ContextFixture::TearDown();
    }

    std::unique_ptr<camsim::CameraSim> sim_;
    OnvifPullPoint pullPoint_{};
};

TEST_P(HostileAnswer, PullPointReferenceReadInTime)
{
    const AnswerCase &c = GetParam();
    camsim::Config config;
    std::string answer;
    config.interceptor = [&](const camsim::RecordedRequest &) -> std::optional<camsim::Reply> {
        return camsim::Reply{200, answer};
    };
    sim_ = std::make_unique<camsim::CameraSim>(config);
    sim_->start();
    answer = pullPointAnswer(c, sim_->port());
    LogCapture log;
    auto start = Clock::now();
    EXPECT_EQ(c.status, VEK_Onvif_PullPoint_Create(soap_, sim_->eventServiceUrl().c_str(), "admin",
                                                   "secret", 60, &pullPoint_));
    EXPECT_LT(secondsSince(start), 5.0 * vektest::kSanitizerSlowdown) << answer.size() << " bytes";
    EXPECT_TRUE(c.log[0] == '\0' || log.hasText(c.log)) << "no log line with: " << c.log << "\n"
                                                        << logged(log);
    if (c.status == VEK_ONVIF_OK) {
        ASSERT_NE(nullptr, pullPoint_.pszReference);
        // Every child declares the prefix it uses.
        const std::string reference = pullPoint_.pszReference;
        size_t declarations = 0;
        for (size_t at = reference.find("xmlns:a="); at != std::string::npos;
             at = reference.find("xmlns:a=", at + 1)) {
            ++declarations;
        }
        EXPECT_EQ(c.children, declarations);
        // Values go back as the camera wrote them, escaped.
        EXPECT_TRUE(c.value == nullptr ||
                    reference.find(std::string("n=\"") + c.value + "\"") != std::string::npos);
        EXPECT_EQ(std::string::npos, reference.find("n=\"\"<"));
    } else {
        EXPECT_EQ(nullptr, pullPoint_.pszReference);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileAnswer,
    ::testing::Values(
        AnswerCase{"FiveHundredChildren", 500, true, nullptr, VEK_ONVIF_OK, ""},
        // Quotes and '<' in every child's value: each stored escaped.
        AnswerCase{"FiveHundredEscapedValues", 500, true, "&quot;&lt;&amp;", VEK_ONVIF_OK, ""},
        AnswerCase{"TwentyThousandChildren", 20000, true, nullptr, VEK_ONVIF_ERR_FAIL,
                   "The pull point's reference is too long: "},
        AnswerCase{"TwentyThousandUndeclared", 20000, false, nullptr, VEK_ONVIF_ERR_FAIL,
                   "The pull point's reference is too long: "},
        // Over a megabyte: the answer itself is refused, unread past the bound.
        AnswerCase{"SixtyFourThousandChildren", 64000, true, nullptr, VEK_ONVIF_ERR_SOAP,
                   "The answer is larger than 1048576 bytes, url:"}),
    [](const ::testing::TestParamInfo<AnswerCase> &info) { return std::string(info.param.name); });

// Compaction reads a fragment once: a root with thousands of declarations
// over thousands of children is no longer a product of the two.
TEST(HostileReference, CompactionIsLinear)
{
    std::string fragment = "<R";
    for (int i = 0; i < 10000; ++i) {
        fragment += " xmlns:p" + std::to_string(i) + "=\"urn:p" + std::to_string(i) + "\"";
    }
    fragment += ">";
    for (int i = 0; i < 10000; ++i) {
        fragment += "<p" + std::to_string(i) + ":C xmlns:q=\"urn:q\"><q:D/></p" +
                    std::to_string(i) + ":C>\n";
    }
    fragment += "</R>";
    auto start = Clock::now();
    std::string compact = vek::compactReference(fragment);
    EXPECT_LT(secondsSince(start), 2.0 * vektest::kSanitizerSlowdown)
        << fragment.size() << " bytes";
    EXPECT_NE(std::string::npos, compact.find("xmlns:p9999=\"urn:p9999\""));
    EXPECT_EQ(std::string::npos, compact.find('\n'));
}

} // namespace

// A pull answered with thousands of messages where ten were asked for: ten
// are translated, in bounded time, and the excess said once.
TEST(HostileAnswerPull, ThousandsOfMessagesWhereTenWereAskedFor)
{
    const uint32_t blocks = VEK_PLAT_GetLiveBlocks();
    camsim::Config config;
    config.ignoreMessageLimit = true;
    camsim::CameraSim sim(config);
    sim.start();
    struct soap *soap = nullptr;
    VEK_Onvif_Event_Init(&soap);
    OnvifPullPoint pullPoint{};
    ASSERT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Create(soap, sim.eventServiceUrl().c_str(), "admin",
                                                       "secret", 60, &pullPoint));
    const std::string message = camsim::makeNotificationMessage(
        "tns1:VideoSource/MotionAlarm",
        camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed", "Source", "vs1", "State",
                                  "true"));
    for (int i = 0; i < 2000; ++i) {
        sim.queueMessage(message);
    }
    MotionConfig motion;
    LogCapture log;
    OnvifPullResult result{};
    auto start = Clock::now();
    EXPECT_EQ(VEK_ONVIF_OK, VEK_Onvif_PullPoint_Pull(soap, &pullPoint, "admin", "secret", 10, 0,
                                                     &motion.inputs, &motion.cfg, &result));
    EXPECT_LT(secondsSince(start), 5.0 * vektest::kSanitizerSlowdown);
    EXPECT_EQ(10u, result.ulAlarmCount);
    EXPECT_TRUE(log.hasText("The camera sent 2000 messages where 10 were asked for"))
        << logged(log);
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&result.pstAlarmReports), "test", __LINE__);
    VEK_Onvif_PullPoint_Free(&pullPoint);
    VEK_Onvif_Event_Destroy(&soap);
    EXPECT_EQ(blocks, VEK_PLAT_GetLiveBlocks());
}

// ---- A camera that trickles its answer ----------------------------------------
// It answers every request with a head that promises a long body and then
// one byte a second: each read ends well within the per-read time-out, so
// only the deadline of the whole exchange ends the call.

namespace
{

class TricklingCamera
{
  public:
    TricklingCamera()
    {
        fd_ = vekfix::loopbackListener(8, &port_);
        thread_ = std::thread([this] { serve(); });
    }
    ~TricklingCamera()
    {
        stop_ = true;
        thread_.join();
        close(fd_);
    }
    std::string url(const char *path) const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    void serve()
    {
        std::vector<std::thread> connections;
        while (!stop_) {
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, 50) != 1) {
                continue;
            }
            int connection = accept(fd_, nullptr, nullptr);
            if (connection >= 0) {
                connections.emplace_back([this, connection] { trickle(connection); });
            }
        }
        for (std::thread &connection : connections) {
            connection.join();
        }
    }
    void trickle(int connection)
    {
        char request[65536];
        recv(connection, request, sizeof request, 0); // the request, unread further
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml\r\n"
                                 "Content-Length: 100000\r\n\r\n<";
        bool open = send(connection, head.data(), head.size(), MSG_NOSIGNAL) > 0;
        for (int i = 0; open && !stop_ && i < 40; ++i) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            open = send(connection, " ", 1, MSG_NOSIGNAL) == 1;
        }
        close(connection);
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

// Every request operation against the trickling camera returns 100 within
// its deadline and a second, and says which bound ended it.
TEST(HostileAnswerTime, TricklingCameraHeldToTheDeadline)
{
    const uint32_t blocks = VEK_PLAT_GetLiveBlocks();
    TricklingCamera camera;
    const std::string service = camera.url("/onvif/event_service");
    const std::string pullAddress = camera.url("/onvif/pullpoint");
    const std::string subscription = camera.url("/onvif/subscription");
    struct Operation {
        const char *func; // as the failure is logged
        double deadline;
        const std::string &url; // as the failure names it
        std::function<uint32_t(struct soap *)> call;
    };
    OnvifPullPoint pullPoint{const_cast<char *>(pullAddress.c_str()), nullptr, 0, 0, 0};
    vektest::MotionConfig motion;
    const std::vector<Operation> operations = {
        {"VEK_Onvif_GetEventProperties", 10, service,
         [&](struct soap *) {
             OnvifAlarmCfg cfg{};
             uint32_t code = VEK_Onvif_GetEventProperties(service.c_str(), "admin", "pw", &cfg);
             VEK_Onvif_Event_FreePropeAlarm(&cfg);
             return code;
         }},
        {"VEK_Onvif_Renew", 10, subscription,
         [&](struct soap *) {
             return VEK_Onvif_Renew(subscription.c_str(), nullptr, "admin", "pw");
         }},
        {"__VEK_Onvif_CommonAlarmSubscribe", 10, service,
         [&](struct soap *) {
             OnvifDevAccess access{};
             std::snprintf(access.szEventUrl, sizeof access.szEventUrl, "%s", service.c_str());
             OnvifSmartCaps caps{};
             OnvifSubInfo sub{};
             int32_t fd = -1;
             uint32_t code = VEK_Onvif_Subscribe(access.szEventUrl, VEK_ONVIF_SCOPE_COMMON, &access,
                                                 &caps, &fd, &sub);
             if (fd >= 0) {
                 close(fd);
             }
             return code;
         }},
        {"__VEK_Onvif_Unsubscribe", 10, subscription,
         [&](struct soap *) {
             OnvifSubInfo sub{};
             std::snprintf(sub.szCommonSubAddr, sizeof sub.szCommonSubAddr, "%s",
                           subscription.c_str());
             sub.ulCommonAlarmSub = 1;
             int32_t fd = -1;
             return VEK_Onvif_Unsubscribe(&fd, "admin", "pw", VEK_ONVIF_SCOPE_COMMON, &sub);
         }},
        {"VEK_Onvif_CreatePullPointSubscription", 10, service,
         [&](struct soap *soap) {
             char *address = nullptr;
             return VEK_Onvif_CreatePullPointSubscription(soap, service.c_str(), "admin", "pw",
                                                          &address);
         }},
        {"VEK_Onvif_PullMessages", 10, pullAddress,
         [&](struct soap *soap) {
             OnvifPullResult result{};
             return VEK_Onvif_PullMessages(soap, pullAddress.c_str(), "admin", "pw", &motion.inputs,
                                           &motion.cfg, &result);
         }},
        {"VEK_Onvif_PullPoint_Create", 10, service,
         [&](struct soap *soap) {
             OnvifPullPoint created{};
             return VEK_Onvif_PullPoint_Create(soap, service.c_str(), "admin", "pw", 60, &created);
         }},
        {"VEK_Onvif_PullPoint_Pull", 12, pullAddress,
         [&](struct soap *soap) {
             OnvifPullResult result{};
             return VEK_Onvif_PullPoint_Pull(soap, &pullPoint, "admin", "pw", 1, 2, &motion.inputs,
                                             &motion.cfg, &result);
         }},
        {"VEK_Onvif_PullPoint_Renew", 10, pullAddress,
         [&](struct soap *soap) {
             return VEK_Onvif_PullPoint_Renew(soap, &pullPoint, "admin", "pw", 60);
         }},
        {"VEK_Onvif_PullPoint_Unsubscribe", 10, pullAddress,
         [&](struct soap *soap) {
             return VEK_Onvif_PullPoint_Unsubscribe(soap, &pullPoint, "admin", "pw");
         }},
        {"VEK_Onvif_PullPoint_SetSynchronizationPoint", 10, pullAddress,
         [&](struct soap *soap) {
             return VEK_Onvif_PullPoint_SetSynchronizationPoint(soap, &pullPoint, "admin", "pw");
         }},
    };
    LogCapture log;
    std::vector<std::thread> threads;
    std::vector<uint32_t> codes(operations.size(), 0);
    std::vector<double> seconds(operations.size(), 0);
    for (size_t i = 0; i < operations.size(); ++i) {
        threads.emplace_back([&, i] {
            struct soap *soap = nullptr;
            VEK_Onvif_Event_Init(&soap);
            auto start = Clock::now();
            codes[i] = operations[i].call(soap);
            seconds[i] = secondsSince(start);
            VEK_Onvif_Event_Destroy(&soap);
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    for (size_t i = 0; i < operations.size(); ++i) {
        const Operation &operation = operations[i];
        SCOPED_TRACE(operation.func);
        EXPECT_EQ(VEK_ONVIF_ERR_SOAP, codes[i]);
        EXPECT_GE(seconds[i], operation.deadline - 0.5);
        EXPECT_LT(seconds[i], operation.deadline + 1.0);
        const std::string line = "No complete answer within " +
                                 std::to_string(static_cast<int>(operation.deadline)) +
                                 " s, url:" + operation.url + ".";
        EXPECT_TRUE(log.has(4, VEK_ONVIF_ERR_SOAP, operation.func, line)) << logged(log);
    }
    EXPECT_EQ(blocks, VEK_PLAT_GetLiveBlocks());
}
