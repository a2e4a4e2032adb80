// The library's cost against its floor. Every library benchmark "<name>/lib"
// has a floor "<name>/floor" measured in the same run on the same input;
// scripts/bench.sh prints the ratios. Library benchmarks also report the
// peak heap and the number of allocations of one call (counters heap_peak_B
// and heap_allocs) and the listener its stack depth (stack_B).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mxml.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "alloc_counter.h"
#include "bench_inputs.h"
#include "camsim.h"
#include "listener_defences.h"
#include "vek_hub_internal.h"
#include "vek_platform_ctl.h"

namespace
{
using vekbench::Camera;
using vekbench::HeapScope;
using vekbench::HeapUse;
using vekbench::NotifyRecord;

// The camera every benchmark works for: templates discovered from the
// largest topic set of the corpus.
const std::string &topicSetFile()
{
    static const std::string file = vekbench::largestTopicSetFile();
    return file;
}

Camera &camera()
{
    static Camera cam(topicSetFile());
    return cam;
}

// One alarm: a motion detector reporting motion (the most frequent push).
std::vector<std::string> oneMessage()
{
    std::vector<std::string> all = vekbench::corpusMessages({"motion-changed-01.xml"});
    return {all.at(1)};
}

// Ten alarms of a busy Notify: changed properties of several detectors.
std::vector<std::string> tenMessages()
{
    std::vector<std::string> all =
        vekbench::corpusMessages({"motion-changed-01.xml", "tamper-01.xml", "intrusion-01.xml",
                                  "line-crossed-01.xml", "objects-inside-02.xml", "people-01.xml",
                                  "line-cross-vendor-01.xml", "object-class-01.xml"});
    all.resize(10);
    return all;
}

NotifyRecord &record(std::size_t messages)
{
    static NotifyRecord one(vekbench::parseNotify(oneMessage()));
    static NotifyRecord ten(vekbench::parseNotify(tenMessages()));
    return messages == 1 ? one : ten;
}

// Log lines go to a sink that only counts them: the benchmarks measure the
// library, not the console.
std::atomic<uint64_t> g_logLines{0};
void countLine(int32_t, uint32_t, const char *, const char *, const char *, void *)
{
    ++g_logLines;
}
struct QuietLog {
    QuietLog() { VEK_PLAT_SetLogSink(countLine, nullptr); }
};
const QuietLog g_quietLog;

void reportHeap(benchmark::State &state, const HeapUse &use)
{
    state.counters["heap_peak_B"] = static_cast<double>(use.peakBytes);
    state.counters["heap_allocs"] = static_cast<double>(use.allocations);
}

void freeReports(OnvifAlarmReport *reports)
{
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), __FILE__, __LINE__);
}

// ---- Loopback sockets --------------------------------------------------------

int listenLoopback(bool nonBlocking, uint16_t *port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || listen(fd, 128) != 0) {
        throw std::runtime_error("bench: cannot listen on loopback");
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    *port = ntohs(addr.sin_port);
    if (nonBlocking) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return fd;
}

// A client connection that resets on close, so that no connection of the
// loop lingers in TIME_WAIT.
int connectLoopback(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    linger reset{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        close(fd);
        throw std::runtime_error("bench: cannot connect");
    }
    return fd;
}

void sendAll(int fd, const std::string &bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            throw std::runtime_error("bench: send failed");
        }
        sent += static_cast<std::size_t>(n);
    }
}

// Reads until `total` bytes arrived or the peer closed; returns the count.
std::size_t readBytes(int fd, char *buf, std::size_t room, std::size_t total)
{
    std::size_t got = 0;
    while (got < total) {
        ssize_t n = recv(fd, buf + got % room, std::min(room - got % room, total - got), 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// Length of an HTTP message (head and body) at the start of text, or 0 when
// it is not complete yet.
std::size_t httpMessageLength(const std::string &text)
{
    std::size_t head = text.find("\r\n\r\n");
    if (head == std::string::npos) {
        return 0;
    }
    head += 4;
    std::size_t at = text.find("Content-Length:");
    if (at == std::string::npos || at > head) {
        at = text.find("content-length:");
    }
    if (at == std::string::npos || at > head) {
        return head;
    }
    std::size_t body = std::strtoul(text.c_str() + at + 15, nullptr, 10);
    return text.size() >= head + body ? head + body : 0;
}

std::string readHttpMessage(int fd)
{
    std::string text;
    char buf[4096];
    while (httpMessageLength(text) == 0) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

// ---- Translation ------------------------------------------------------------

void translate(benchmark::State &state, NotifyRecord &rec)
{
    Camera &cam = camera();
    uint32_t count = 0;
    {
        rec.refresh();
        HeapScope scope;
        freeReports(VEK_Onvif_TransAlarmType(&cam.cfg, &cam.inputs, rec.get(), &count));
        reportHeap(state, scope.finish());
        state.counters["reports"] = count;
    }
    for (auto _ : state) {
        rec.refresh();
        OnvifAlarmReport *reports =
            VEK_Onvif_TransAlarmType(&cam.cfg, &cam.inputs, rec.get(), &count);
        benchmark::DoNotOptimize(reports);
        freeReports(reports);
    }
}

void translateFloorOf(benchmark::State &state, NotifyRecord &rec)
{
    for (auto _ : state) {
        rec.refresh();
        for (std::size_t i = 0; i < rec.size(); ++i) {
            mxml_node_t *doc = mxmlNewXML("1.0");
            benchmark::DoNotOptimize(mxmlLoadString(doc, rec.messageText(i), MXML_NO_CALLBACK));
            mxmlDelete(doc);
        }
    }
}

template <std::size_t messages> void translateLib(benchmark::State &state)
{
    translate(state, record(messages));
}

template <std::size_t messages> void translateFloor(benchmark::State &state)
{
    translateFloorOf(state, record(messages));
}

// A motion alarm followed by Source elements nested in one another as deep
// as the listener's 1 MiB bound on a Notify allows, the innermost holding
// the one item: what a hostile host may send. Its cost must stay that of a
// flat text of the same size.
std::vector<vekbench::MessageText> nestedMessage()
{
    const std::string open = "<tt:Source>";
    const std::string close = "</tt:Source>";
    const std::string item = "<tt:SimpleItem Name=\"Source\" Value=\"VideoSourceToken_1\"/>";
    const std::size_t depth = (1024 * 1024 - 16 * 1024) / (open.size() + close.size());
    std::string message =
        "<tt:Message UtcTime=\"2026-12-10T01:00:00Z\" PropertyOperation=\"Changed\">"
        "<tt:Source>" +
        item + "</tt:Source><tt:Data><tt:SimpleItem Name=\"State\" Value=\"true\"/></tt:Data>";
    message.reserve(message.size() + depth * (open.size() + close.size()) + item.size() + 16);
    for (std::size_t i = 0; i < depth; ++i) {
        message += open;
    }
    message += item;
    for (std::size_t i = 0; i < depth; ++i) {
        message += close;
    }
    message += "</tt:Message>";
    return vekbench::parseNotify(
        {camsim::makeNotificationMessage("tns1:VideoSource/MotionAlarm", message)});
}

NotifyRecord &nestedRecord()
{
    static NotifyRecord rec(nestedMessage());
    return rec;
}

void translateNestedLib(benchmark::State &state)
{
    translate(state, nestedRecord());
}

void translateNestedFloor(benchmark::State &state)
{
    translateFloorOf(state, nestedRecord());
}

// ---- Discovery walk ---------------------------------------------------------

const std::string &largestTopicSetText()
{
    static const std::string text = vekbench::topicSetText(topicSetFile());
    return text;
}

void discoveryLib(benchmark::State &state)
{
    const std::string &text = largestTopicSetText();
    OnvifAlarmCfg cfg{};
    {
        HeapScope scope;
        VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &cfg);
        reportHeap(state, scope.finish());
        state.counters["templates"] = cfg.PropeAlarmCount;
        state.counters["text_B"] = static_cast<double>(text.size());
    }
    // Each walk first releases the templates of the previous one, as a
    // repeated discovery does.
    for (auto _ : state) {
        benchmark::DoNotOptimize(VEK_Onvif_Event_ParsePropeMsg(text.c_str(), &cfg));
    }
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
}

void discoveryFloor(benchmark::State &state)
{
    const std::string &text = largestTopicSetText();
    for (auto _ : state) {
        mxml_node_t *doc = mxmlNewXML("1.0");
        benchmark::DoNotOptimize(mxmlLoadString(doc, text.c_str(), MXML_NO_CALLBACK));
        mxmlDelete(doc);
    }
}

// ---- Idle listener poll -----------------------------------------------------

struct Listener {
    Listener()
    {
        fd = listenLoopback(true, &port);
        url = "http://127.0.0.1:" + std::to_string(port) + "/onvif/notify";
    }
    ~Listener() { close(fd); }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;
    int fd = -1;
    uint16_t port = 0;
    std::string url;
};

void idleLib(benchmark::State &state)
{
    Camera &cam = camera();
    Listener listener;
    uint32_t count = 0;
    uint32_t connected = 0;
    {
        HeapScope scope;
        VEK_Onvif_Recv_Notify(listener.fd, &cam.cfg, &cam.inputs, listener.url.c_str(), &count,
                              &connected);
        reportHeap(state, scope.finish());
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(VEK_Onvif_Recv_Notify(listener.fd, &cam.cfg, &cam.inputs,
                                                       listener.url.c_str(), &count, &connected));
    }
    if (connected != 0) {
        state.SkipWithError("a connection was accepted");
    }
}

void idleFloor(benchmark::State &state)
{
    Listener listener;
    for (auto _ : state) {
        int fd = accept(listener.fd, nullptr, nullptr);
        if (fd >= 0 || errno != EAGAIN) {
            state.SkipWithError("accept did not answer EAGAIN");
            break;
        }
    }
}

// ---- Push delivery ----------------------------------------------------------

// Stack used by fn on a thread whose stack was filled with a pattern first,
// minus what a thread doing nothing uses (thread start, thread control
// block and static TLS that glibc places on a caller-supplied stack).
template <class Fn> std::size_t stackUse(Fn fn)
{
    constexpr std::size_t kStack = 4u << 20;
    constexpr unsigned char kPattern = 0xA5;
    auto used = [&](void (*body)(void *), void *arg) {
        void *stack =
            mmap(nullptr, kStack, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        std::memset(stack, kPattern, kStack);
        struct Call {
            void (*body)(void *);
            void *arg;
        } call{body, arg};
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstack(&attr, stack, kStack);
        pthread_t thread;
        pthread_create(
            &thread, &attr,
            [](void *p) -> void * {
                auto *c = static_cast<Call *>(p);
                c->body(c->arg);
                return nullptr;
            },
            &call);
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attr);
        const auto *bytes = static_cast<const unsigned char *>(stack);
        std::size_t untouched = 0;
        while (untouched < kStack && bytes[untouched] == kPattern) {
            ++untouched;
        }
        munmap(stack, kStack);
        return kStack - untouched;
    };
    std::size_t base = used([](void *) {}, nullptr);
    std::size_t withCall = used([](void *f) { (*static_cast<Fn *>(f))(); }, &fn);
    return withCall > base ? withCall - base : 0;
}

void pushLib(benchmark::State &state)
{
    Camera &cam = camera();
    Listener listener;
    const std::string post = vekbench::notifyPost(listener.url, oneMessage());
    uint32_t count = 0;
    uint32_t connected = 0;
    auto deliver = [&]() {
        int client = connectLoopback(listener.port);
        sendAll(client, post);
        OnvifAlarmReport *reports = VEK_Onvif_Recv_Notify(listener.fd, &cam.cfg, &cam.inputs,
                                                          listener.url.c_str(), &count, &connected);
        benchmark::DoNotOptimize(reports);
        freeReports(reports);
        close(client);
    };
    {
        int client = connectLoopback(listener.port);
        sendAll(client, post);
        HeapScope scope;
        freeReports(VEK_Onvif_Recv_Notify(listener.fd, &cam.cfg, &cam.inputs, listener.url.c_str(),
                                          &count, &connected));
        reportHeap(state, scope.finish());
        close(client);
        state.counters["reports"] = count;
        state.counters["request_B"] = static_cast<double>(post.size());
        state.counters["stack_B"] = static_cast<double>(stackUse(deliver));
    }
    for (auto _ : state) {
        deliver();
    }
    if (count != 1 || connected != 1) {
        state.SkipWithError("the Notify gave no report");
    }
}

void pushFloor(benchmark::State &state)
{
    Listener listener;
    const std::string post = vekbench::notifyPost(listener.url, oneMessage());
    std::vector<char> buf(65536);
    for (auto _ : state) {
        int client = connectLoopback(listener.port);
        sendAll(client, post);
        int server = accept(listener.fd, nullptr, nullptr);
        if (server < 0) {
            state.SkipWithError("accept failed");
            close(client);
            break;
        }
        benchmark::DoNotOptimize(readBytes(server, buf.data(), buf.size(), post.size()));
        close(server);
        close(client);
    }
}

// ---- Notify hub -------------------------------------------------------------

struct Hub {
    Hub()
    {
        if (VEK_Onvif_Hub_Create("127.0.0.1", 0, &hub) != VEK_ONVIF_OK) {
            throw std::runtime_error("bench: no hub");
        }
        port = VEK_Onvif_Hub_GetPort(hub);
    }
    ~Hub() { VEK_Onvif_Hub_Destroy(&hub); }
    Hub(const Hub &) = delete;
    Hub &operator=(const Hub &) = delete;

    // Registers a camera at 127.0.0.1 with the benchmark camera's records.
    uint32_t add()
    {
        Camera &cam = camera();
        uint32_t id = 0;
        if (VEK_Onvif_Hub_AddCamera(hub, "http://127.0.0.1:8080/onvif/event_service", &cam.cfg,
                                    &cam.inputs, 0, &id) != VEK_ONVIF_OK) {
            throw std::runtime_error("bench: AddCamera failed");
        }
        return id;
    }
    std::string url(uint32_t id) const { return vek::hub::consumerAddress(hub, "127.0.0.1", id); }

    OnvifNotifyHub *hub = nullptr;
    uint16_t port = 0;
};

void freeHubReports(OnvifHubReport *reports)
{
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), __FILE__, __LINE__);
}

// Poll(0) with nothing pending, with `cameras` registered.
template <int cameras> void hubIdle(benchmark::State &state)
{
    Hub hub;
    for (int i = 0; i < cameras; ++i) {
        hub.add();
    }
    uint32_t count = 0;
    {
        HeapScope scope;
        freeHubReports(VEK_Onvif_Hub_Poll(hub.hub, 0, &count));
        reportHeap(state, scope.finish());
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(VEK_Onvif_Hub_Poll(hub.hub, 0, &count));
    }
    if (count != 0) {
        state.SkipWithError("an idle poll gave reports");
    }
}

// Reads until the peer closes.
void readToEnd(int fd)
{
    char buf[1024];
    while (recv(fd, buf, sizeof buf, 0) > 0) {
    }
}

// One Notify over a connection of its own (Connection: close): connect,
// send, Poll until its report, read the answer, close.
void hubPushLib(benchmark::State &state)
{
    Hub hub;
    const uint32_t id = hub.add();
    const std::string post = vekbench::notifyPost(hub.url(id), oneMessage());
    uint32_t count = 0;
    auto deliver = [&]() {
        int client = connectLoopback(hub.port);
        sendAll(client, post);
        OnvifHubReport *reports = nullptr;
        for (int tries = 0; reports == nullptr && tries < 100; ++tries) {
            reports = VEK_Onvif_Hub_Poll(hub.hub, 100, &count);
        }
        benchmark::DoNotOptimize(reports);
        freeHubReports(reports);
        readToEnd(client);
        close(client);
    };
    {
        HeapScope scope;
        deliver();
        reportHeap(state, scope.finish());
        state.counters["reports"] = count;
        state.counters["request_B"] = static_cast<double>(post.size());
    }
    for (auto _ : state) {
        deliver();
    }
    if (count != 1) {
        state.SkipWithError("the Notify gave no report");
    }
}

// The same client; the server accepts, reads the same bytes, writes the
// same 202 answer and closes.
void hubPushFloor(benchmark::State &state)
{
    Listener listener;
    const std::string post = vekbench::notifyPost(listener.url, oneMessage());
    const std::string answer = vek::acceptedAnswer(false);
    std::vector<char> buf(65536);
    fcntl(listener.fd, F_SETFL, fcntl(listener.fd, F_GETFL) & ~O_NONBLOCK);
    for (auto _ : state) {
        int client = connectLoopback(listener.port);
        sendAll(client, post);
        int server = accept(listener.fd, nullptr, nullptr);
        if (server < 0) {
            state.SkipWithError("accept failed");
            close(client);
            break;
        }
        benchmark::DoNotOptimize(readBytes(server, buf.data(), buf.size(), post.size()));
        sendAll(server, answer);
        close(server);
        readToEnd(client);
        close(client);
    }
}

// The hub's own heap per registered camera (its record, its copy of the
// event URL, its entry in the table; the caller's configuration and inputs
// are not counted), over 4,096 AddCamera calls.
void hubCameraBytes(benchmark::State &state)
{
    constexpr int kCameras = 4096;
    for (auto _ : state) {
        Hub hub;
        HeapScope scope;
        for (int i = 0; i < kCameras; ++i) {
            hub.add();
        }
        const HeapUse use = scope.finish();
        state.counters["camera_B"] = static_cast<double>(use.liveBytes) / kCameras;
        state.counters["camera_peak_B"] = static_cast<double>(use.peakBytes) / kCameras;
    }
}

// The hub's own heap per idle kept-alive connection: connections that each
// delivered one Notify with keep-alive and stay open, net of the heap before
// them (the kernel's socket buffers are not counted).
void hubConnectionBytes(benchmark::State &state)
{
    constexpr int kConnections = 200; // below the hub's bound of 256
    for (auto _ : state) {
        Hub hub;
        const uint32_t id = hub.add();
        camsim::HttpPostOptions keepAlive;
        keepAlive.connectionClose = false;
        const std::string url = hub.url(id);
        const std::string post =
            camsim::buildHttpPost(url, camsim::buildNotifyEnvelope(oneMessage(), url), keepAlive);
        uint32_t count = 0;
        // A first delivery warms what the hub keeps across connections.
        std::vector<int> clients;
        auto deliverOne = [&]() {
            int client = connectLoopback(hub.port);
            sendAll(client, post);
            OnvifHubReport *reports = nullptr;
            for (int tries = 0; reports == nullptr && tries < 100; ++tries) {
                reports = VEK_Onvif_Hub_Poll(hub.hub, 100, &count);
            }
            freeHubReports(reports);
            (void)readHttpMessage(client);
            clients.push_back(client);
        };
        deliverOne();
        HeapScope scope;
        for (int i = 0; i < kConnections; ++i) {
            deliverOne();
        }
        const HeapUse use = scope.finish();
        const size_t open = vek::hub::openConnections(hub.hub);
        for (int fd : clients) {
            close(fd);
        }
        if (open != static_cast<size_t>(kConnections) + 1) {
            state.SkipWithError("the kept-alive connections did not stay open");
            break;
        }
        state.counters["connection_B"] = static_cast<double>(use.liveBytes) / kConnections;
        state.counters["request_B"] = static_cast<double>(post.size());
    }
}

// ---- Request building -------------------------------------------------------

constexpr const char *kRenewResponse =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\" "
    "xmlns:wsa5=\"http://www.w3.org/2005/08/addressing\" "
    "xmlns:wsnt=\"http://docs.oasis-open.org/wsn/b-2\"><env:Header>"
    "<wsa5:Action>http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewResponse"
    "</wsa5:Action></env:Header><env:Body><wsnt:RenewResponse>"
    "<wsnt:TerminationTime>2026-12-10T02:01:00Z</wsnt:TerminationTime>"
    "<wsnt:CurrentTime>2026-12-10T02:00:00Z</wsnt:CurrentTime>"
    "</wsnt:RenewResponse></env:Body></env:Envelope>\n";

constexpr const char *kSubscriptionRef =
    "<dom0:SubscriptionId xmlns:dom0=\"http://www.example.com/onvif/subscription\">1"
    "</dom0:SubscriptionId>";

// A camera's subscription manager that answers every request at once with
// a canned RenewResponse, then waits for the client to close.
class RenewPeer
{
  public:
    RenewPeer()
    {
        fd_ = listenLoopback(false, &port_);
        const std::string body = kRenewResponse;
        response_ = "HTTP/1.1 200 OK\r\nServer: bench\r\n"
                    "Content-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
                    std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        thread_ = std::thread([this] { serve(); });
    }
    ~RenewPeer()
    {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        thread_.join();
        close(fd_);
    }
    RenewPeer(const RenewPeer &) = delete;
    RenewPeer &operator=(const RenewPeer &) = delete;

    std::string url() const
    {
        return "http://127.0.0.1:" + std::to_string(port_) + "/onvif/subscription/1";
    }
    uint16_t port() const { return port_; }
    std::string firstRequest()
    {
        std::lock_guard<std::mutex> guard(lock_);
        return first_;
    }
    const std::string &response() const { return response_; }

  private:
    void serve()
    {
        while (!stop_) {
            int fd = accept(fd_, nullptr, nullptr);
            if (fd < 0) {
                continue;
            }
            std::string request = readHttpMessage(fd);
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (first_.empty()) {
                    first_ = request;
                }
            }
            send(fd, response_.data(), response_.size(), MSG_NOSIGNAL);
            char rest[256];
            while (recv(fd, rest, sizeof rest, 0) > 0) {
            }
            close(fd);
        }
    }

    int fd_ = -1;
    uint16_t port_ = 0;
    std::string response_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::string first_;
};

RenewPeer &renewPeer()
{
    static RenewPeer peer;
    return peer;
}

void renewLib(benchmark::State &state)
{
    RenewPeer &peer = renewPeer();
    const std::string url = peer.url();
    uint32_t result = 0;
    {
        HeapScope scope;
        result = VEK_Onvif_Renew(url.c_str(), kSubscriptionRef, "admin", "secret");
        reportHeap(state, scope.finish());
    }
    for (auto _ : state) {
        result = VEK_Onvif_Renew(url.c_str(), kSubscriptionRef, "admin", "secret");
        benchmark::DoNotOptimize(result);
    }
    if (result != 0) {
        state.SkipWithError("Renew failed");
    }
}

void renewFloor(benchmark::State &state)
{
    RenewPeer &peer = renewPeer();
    const std::string url = peer.url();
    if (peer.firstRequest().empty()) {
        VEK_Onvif_Renew(url.c_str(), kSubscriptionRef, "admin", "secret");
    }
    const std::string request = peer.firstRequest();
    const std::size_t answer = peer.response().size();
    std::vector<char> buf(answer);
    state.counters["request_B"] = static_cast<double>(request.size());
    for (auto _ : state) {
        int fd = connectLoopback(peer.port());
        sendAll(fd, request);
        if (readBytes(fd, buf.data(), buf.size(), answer) != answer) {
            state.SkipWithError("short answer");
        }
        close(fd);
    }
}

} // namespace

BENCHMARK(translateLib<1>)->Name("translate_1msg/lib");
BENCHMARK(translateFloor<1>)->Name("translate_1msg/floor");
BENCHMARK(translateLib<10>)->Name("translate_10msg/lib");
BENCHMARK(translateFloor<10>)->Name("translate_10msg/floor");
BENCHMARK(translateNestedLib)->Name("translate_nested_1MiB/lib");
BENCHMARK(translateNestedFloor)->Name("translate_nested_1MiB/floor");
BENCHMARK(discoveryLib)->Name("discovery_walk/lib");
BENCHMARK(discoveryFloor)->Name("discovery_walk/floor");
BENCHMARK(idleLib)->Name("idle_poll/lib");
BENCHMARK(idleFloor)->Name("idle_poll/floor");
BENCHMARK(pushLib)->Name("push_delivery/lib");
BENCHMARK(pushFloor)->Name("push_delivery/floor");
BENCHMARK(hubIdle<1>)->Name("hub_idle_poll_1");
BENCHMARK(hubIdle<1024>)->Name("hub_idle_poll_1024");
BENCHMARK(hubPushLib)->Name("hub_push_delivery/lib");
BENCHMARK(hubPushFloor)->Name("hub_push_delivery/floor");
BENCHMARK(hubCameraBytes)->Name("hub_memory_camera")->Iterations(1);
BENCHMARK(hubConnectionBytes)->Name("hub_memory_connection")->Iterations(1);
BENCHMARK(renewLib)->Name("renew_request/lib")->UseRealTime();
BENCHMARK(renewFloor)->Name("renew_request/floor")->UseRealTime();

BENCHMARK_MAIN();
