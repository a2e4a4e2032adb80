// The fleet benchmark: one recorder process serving N simulated cameras over
// loopback, each with its own subscription and listening socket, polled by T
// recorder threads the way the README's recorder loop does (every socket with
// VEK_Onvif_Recv_Notify, a short sleep after a pass that found nothing, Renew
// every 20 s). Sender threads push Notify requests at an aggregate rate R,
// one corpus message each that the camera's configuration turns into
// alarms, some in bursts; hostile sources (slow, oversized, wrong source
// address) may join them. Per setting it measures events sent, reports
// received, lost and doubled reports, the latency from send to report, the
// CPU time of the recorder threads per delivered event and per idle
// camera-poll, and where loss or p99 > 100 ms starts (saturation).
//
// In the same run, the hub mode: one Notify hub (one port, one polling
// thread) with N registered cameras, each pushing to its own path; its
// hostile sources also push to a path of an earlier run (stale generation).
// Then 4,096 cameras are registered at one hub and pushed to.
//
// Usage: vek_fleet [--cameras 16,64,256|-] [--threads 1,2] [--rates 0,500,2000]
//                  [--hub-cameras 256,1024|-] [--hub-rates 0,2000,8000] [--register 4096]
//                  [--seconds 2] [--hostile 0.1] [--push-floor-ns X] [--push-lib-ns X]
//                  [--idle-lib-ns X] [--data FILE]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_inputs.h"
#include "camsim.h"
#include "fixture_files.h"
#include "vek_hub_internal.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{

using Clock = std::chrono::steady_clock;

// ---- Settings ------------------------------------------------------------------------

struct Options {
    std::vector<int> cameras{16, 64, 256};
    std::vector<int> threads{1, 2};
    std::vector<double> rates{0, 500, 2000, 8000};
    std::vector<int> hubCameras{256, 1024};
    std::vector<double> hubRates{0, 500, 2000, 4000, 8000, 16000};
    int registerCameras = 4096;
    double seconds = 2.0;
    double hostileShare = 0.1;
    double pushFloorNs = 0;
    double pushLibNs = 0;
    double idleLibNs = 0;
    std::string dataFile;
};

constexpr int kCamerasPerSim = 16;
constexpr int32_t kFirstListenPort = 40000;
constexpr int kSenderThreads = 4;
constexpr int kBurstLength = 5;
constexpr double kBurstShare = 0.1; // share of pushes that start a burst
constexpr auto kRenewInterval = std::chrono::seconds(20);
constexpr auto kIdleSleep = std::chrono::milliseconds(2);
constexpr auto kDrainTime = std::chrono::milliseconds(2500);
constexpr double kSaturationP99Ms = 100.0;

std::vector<double> numberList(const char *text)
{
    std::vector<double> out;
    if (std::string(text) == "-") {
        return out;
    }
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        out.push_back(std::stod(item));
    }
    return out;
}

Options parseOptions(int argc, char **argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string key = argv[i];
        const char *value = argv[i + 1];
        if (key == "--cameras" || key == "--threads" || key == "--hub-cameras") {
            std::vector<int> list;
            for (double v : numberList(value)) {
                list.push_back(static_cast<int>(v));
            }
            (key == "--cameras" ? o.cameras : key == "--threads" ? o.threads : o.hubCameras) = list;
        } else if (key == "--rates") {
            o.rates = numberList(value);
        } else if (key == "--hub-rates") {
            o.hubRates = numberList(value);
        } else if (key == "--register") {
            o.registerCameras = std::stoi(value);
        } else if (key == "--seconds") {
            o.seconds = std::stod(value);
        } else if (key == "--hostile") {
            o.hostileShare = std::stod(value);
        } else if (key == "--push-floor-ns") {
            o.pushFloorNs = std::stod(value);
        } else if (key == "--push-lib-ns") {
            o.pushLibNs = std::stod(value);
        } else if (key == "--idle-lib-ns") {
            o.idleLibNs = std::stod(value);
        } else if (key == "--data") {
            o.dataFile = value;
        } else {
            throw std::runtime_error("unknown option " + key);
        }
    }
    return o;
}

// ---- The message mix -----------------------------------------------------------------

// A Notify body of one corpus message and the number of reports it gives.
struct Message {
    std::string name;
    std::string notificationMessage;
    uint32_t reports = 0;
};

// A kind of camera: its topic set and the messages that give alarms on it.
struct Kind {
    std::string topicSet;
    std::vector<Message> mix;
};

// Every corpus notification message that the discovered configuration turns
// into at least one alarm, with the number of reports it gives.
std::vector<Message> alarmMessages(const std::string &topicSetFile)
{
    static const char *kFiles[] = {
        "alarm-input-vendor-01.xml",
        "audio-level-01.xml",
        "cell-motion-01.xml",
        "digital-input-01.xml",
        "global-scene-change-01.xml",
        "intrusion-01.xml",
        "line-cross-vendor-01.xml",
        "line-crossed-01.xml",
        "line-crossed-02.xml",
        "motion-changed-01.xml",
        "motion-region-01.xml",
        "motion-vendor-app-01.xml",
        "motion-vendor-rule-01.xml",
        "motion-vendor-segment-01.xml",
        "motion-vendor-topic-01.xml",
        "objects-inside-01.xml",
        "objects-inside-02.xml",
        "objects-inside-03.xml",
        "people-01.xml",
        "pir-sensor-01.xml",
        "pir-sensor-02.xml",
        "smart-event-01.xml",
        "tamper-01.xml",
        "video-cover-01.xml",
        "io-port-01.xml",
        "io-port-02.xml",
        "relay-01.xml",
    };
    vekbench::Camera camera(topicSetFile);
    std::vector<Message> out;
    for (const char *file : kFiles) {
        std::vector<std::string> messages;
        try {
            messages = vekbench::corpusMessages({file});
        } catch (const std::exception &) {
            continue;
        }
        for (const std::string &raw : messages) {
            vekbench::NotifyRecord record(vekbench::parseNotify({raw}));
            record.refresh();
            uint32_t count = 0;
            OnvifAlarmReport *reports =
                VEK_Onvif_TransAlarmType(&camera.cfg, &camera.inputs, record.get(), &count);
            if (reports != nullptr && count > 0) {
                out.push_back({file, raw, count});
            }
            ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "fleet", __LINE__);
        }
    }
    return out;
}

// ---- Cameras -------------------------------------------------------------------------

// One push on its way: when it was started and the reports it must give.
struct Pending {
    Clock::time_point sent;
    uint32_t reports;
    uint64_t id;
};

struct Camera {
    OnvifAlarmCfg cfg{};
    OnvifAlarmInput inputList[2]{};
    OnvifAlarmInputList inputs{};
    OnvifDevAccess access{};
    OnvifSmartCaps caps{};
    OnvifSubInfo sub{};
    int32_t fd = -1;
    int port = 0;
    std::string url; // where its Notify goes
    // The address it sends from (host order). At a hub each camera has its
    // own, as on a real network: on one port, connections of a single
    // source address would soon find every 4-tuple in TIME_WAIT.
    uint32_t source = INADDR_LOOPBACK;
    // The records its reports are read with: its own, or at a hub those of
    // its kind.
    OnvifAlarmCfg *useCfg = &cfg;
    OnvifAlarmInputList *useInputs = &inputs;
    const std::vector<Message> *mix = nullptr; // the messages of this camera's kind
    std::vector<std::string> posts;            // HTTP bytes of each message of the mix
    Clock::time_point nextRenew;

    std::mutex lock; // pushes in flight, between its sender and its recorder thread
    std::deque<Pending> inFlight;
};

int boundPort(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    return ntohs(addr.sin_port);
}

// ---- Sending -------------------------------------------------------------------------

enum class Hostile { None, Slow, Oversized, WrongSource, StaleGeneration };

// Connects to 127.0.0.1:port from the camera's own address (from 127.0.0.2
// for a wrong source), writes the
// bytes (a slow sender in small pieces over two seconds), half-closes and
// closes without waiting for the answer. True when every byte was written.
bool sendRequest(int port, const std::string &bytes, Hostile kind, uint32_t from)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    timeval timeout{3, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (kind == Hostile::WrongSource || from != INADDR_LOOPBACK) {
        sockaddr_in source{};
        source.sin_family = AF_INET;
        source.sin_addr.s_addr = htonl(kind == Hostile::WrongSource ? 0x7f000002 : from);
        bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    const size_t piece = kind == Hostile::Slow ? 64 : bytes.size();
    const auto pause = kind == Hostile::Slow
                           ? std::chrono::microseconds(2000000 / (bytes.size() / piece + 1))
                           : std::chrono::microseconds(0);
    for (size_t at = 0; ok && at < bytes.size();) {
        ssize_t n = send(fd, bytes.data() + at, std::min(piece, bytes.size() - at), MSG_NOSIGNAL);
        if (n <= 0) {
            ok = false;
            break;
        }
        at += static_cast<size_t>(n);
        if (pause.count() > 0) {
            std::this_thread::sleep_for(pause);
        }
    }
    shutdown(fd, SHUT_WR);
    close(fd);
    return ok;
}

// ---- One setting ---------------------------------------------------------------------

struct Result {
    bool hub = false;
    int cameras = 0;
    int threads = 0;
    double rate = 0;
    double hostile = 0;
    double achieved = 0; // genuine pushes per second actually sent
    uint64_t sent = 0;   // genuine pushes
    uint64_t failed = 0; // genuine pushes whose connection failed
    uint64_t expected = 0;
    uint64_t received = 0;
    uint64_t lost = 0;
    uint64_t duplicated = 0;
    uint64_t hostileSent = 0;
    double p50 = 0, p99 = 0, max = 0; // ms
    double cpuSeconds = 0;            // recorder threads, the whole run
    double cpuPerEventUs = 0;         // beyond the idle polls: (cpu - polls x idle cost) / reports
    double cpuPerPollNs = 0;          // all of the CPU over all polls (meaningful when idle)
    uint64_t polls = 0;
    bool saturated = false;
    bool sweep = false; // one of the ascending rates (not a rerun at half the knee)
};

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double percentile(std::vector<double> &values, double p)
{
    if (values.empty()) {
        return 0;
    }
    size_t index = static_cast<size_t>(std::ceil(p * static_cast<double>(values.size()))) - 1;
    index = std::min(index, values.size() - 1);
    std::nth_element(values.begin(), values.begin() + static_cast<long>(index), values.end());
    return values[index];
}

class Fleet
{
  public:
    // Simulator s serves kCamerasPerSim cameras of kind s % kinds.size().
    // With hub, the cameras are registered at one hub instead: no simulator,
    // no subscription, the records of their kind.
    Fleet(int cameras, const std::vector<Kind> &kinds, bool hub)
    {
        if (hub) {
            setUpHub(cameras, kinds);
            return;
        }
        for (int s = 0; s < (cameras + kCamerasPerSim - 1) / kCamerasPerSim; ++s) {
            camsim::Config config;
            config.topicSetFile = vekfix::fixturePath(
                "corpus/" + kinds[static_cast<size_t>(s) % kinds.size()].topicSet);
            sims_.push_back(std::make_unique<camsim::CameraSim>(config));
            sims_.back()->start();
        }
        for (int c = 0; c < cameras; ++c) {
            // Subscribe tries at most 1000 ports from gS32AlarmDftPort: a
            // recorder with more cameras than that moves the first port on
            // for each block of cameras.
            gS32AlarmDftPort = kFirstListenPort + (c / 500) * 2000;
            const size_t s = static_cast<size_t>(c / kCamerasPerSim);
            cameras_.push_back(std::make_unique<Camera>());
            setUp(*cameras_.back(), *sims_[s], kinds[s % kinds.size()].mix);
        }
    }

    ~Fleet()
    {
        if (hub_ != nullptr) {
            VEK_Onvif_Hub_Destroy(&hub_);
            return;
        }
        for (auto &camera : cameras_) {
            VEK_Onvif_Unsubscribe(&camera->fd, "admin", "secret", VEK_ONVIF_SCOPE_COMMON,
                                  &camera->sub);
            VEK_Onvif_Event_FreePropeAlarm(&camera->cfg);
        }
        for (auto &sim : sims_) {
            sim->stop();
        }
    }

    // idlePollNs: CPU of one idle camera-poll at this camera and thread
    // count, taken off before the CPU per event is worked out.
    Result run(int threads, double rate, double seconds, double hostileShare, double idlePollNs);

  private:
    void setUp(Camera &camera, camsim::CameraSim &sim, const std::vector<Message> &mix)
    {
        camera.mix = &mix;
        std::snprintf(camera.access.szEventUrl, sizeof camera.access.szEventUrl, "%s",
                      sim.eventServiceUrl().c_str());
        std::strcpy(camera.access.szUserName, "admin");
        std::strcpy(camera.access.szPassword, "secret");
        std::snprintf(camera.cfg.ChannelTokens[0].PrimaryToken,
                      sizeof camera.cfg.ChannelTokens[0].PrimaryToken, "%s", "VideoSourceToken");
        std::snprintf(camera.inputList[0].Token, sizeof camera.inputList[0].Token, "AlarmIn_1");
        std::snprintf(camera.inputList[1].Token, sizeof camera.inputList[1].Token, "AlarmIn_2");
        camera.inputs.InputCount = 2;
        camera.inputs.Inputs = camera.inputList;
        if (VEK_Onvif_GetEventProperties(camera.access.szEventUrl, "admin", "secret",
                                         &camera.cfg) != VEK_ONVIF_OK ||
            VEK_Onvif_Subscribe(camera.access.szEventUrl, VEK_ONVIF_SCOPE_COMMON, &camera.access,
                                &camera.caps, &camera.fd, &camera.sub) != VEK_ONVIF_OK) {
            throw std::runtime_error("discovery or Subscribe failed");
        }
        camera.port = boundPort(camera.fd);
        camera.nextRenew = Clock::now() + kRenewInterval;
        camera.url = "http://127.0.0.1:" + std::to_string(camera.port) + "/onvif_notify_server";
        for (const Message &m : mix) {
            camera.posts.push_back(vekbench::notifyPost(camera.url, {m.notificationMessage}));
        }
    }

    void setUpHub(int cameras, const std::vector<Kind> &kinds)
    {
        if (VEK_Onvif_Hub_Create("127.0.0.1", 0, &hub_) != VEK_ONVIF_OK) {
            throw std::runtime_error("no hub");
        }
        for (const Kind &kind : kinds) {
            kindRecords_.push_back(std::make_unique<vekbench::Camera>(kind.topicSet));
        }
        byId_.push_back(nullptr);
        for (int c = 0; c < cameras; ++c) {
            const size_t k = static_cast<size_t>(c / kCamerasPerSim) % kinds.size();
            cameras_.push_back(std::make_unique<Camera>());
            Camera &camera = *cameras_.back();
            camera.mix = &kinds[k].mix;
            camera.useCfg = &kindRecords_[k]->cfg;
            camera.useInputs = &kindRecords_[k]->inputs;
            // 127.1.x.y: 250 cameras to each x.
            camera.source = 0x7f010000u + (static_cast<uint32_t>(c / 250) << 8) +
                            static_cast<uint32_t>(c % 250) + 1;
            const std::string eventUrl = "http://127.1." + std::to_string(c / 250) + "." +
                                         std::to_string(c % 250 + 1) + ":80/onvif/event_service";
            uint32_t id = 0;
            if (VEK_Onvif_Hub_AddCamera(hub_, eventUrl.c_str(), camera.useCfg, camera.useInputs, 0,
                                        &id) != VEK_ONVIF_OK ||
                id != byId_.size()) {
                throw std::runtime_error("AddCamera failed");
            }
            byId_.push_back(&camera);
            camera.port = VEK_Onvif_Hub_GetPort(hub_);
            camera.url = vek::hub::consumerAddress(hub_, "127.0.0.1", id);
            for (const Message &m : *camera.mix) {
                camera.posts.push_back(vekbench::notifyPost(camera.url, {m.notificationMessage}));
            }
        }
    }

    void recorder(int index, int threads, const std::atomic<bool> &stop, Result &out,
                  std::vector<double> &latencies, std::mutex &merge);
    void hubRecorder(const std::atomic<bool> &stop, Result &out, std::vector<double> &latencies,
                     std::mutex &merge);
    void sender(int index, double rate, double seconds, Result &out, std::mutex &merge);
    void hostileSource(int index, double rate, double seconds, std::atomic<uint64_t> &count);

    std::vector<std::unique_ptr<camsim::CameraSim>> sims_;
    std::vector<std::unique_ptr<Camera>> cameras_;
    OnvifNotifyHub *hub_ = nullptr;
    std::vector<std::unique_ptr<vekbench::Camera>> kindRecords_;
    std::vector<Camera *> byId_; // the hub's camera ids (from 1) to their cameras
};

// The hub's polling thread: Poll with a short timeout, the reports of each
// camera matched to its pushes in order.
void Fleet::hubRecorder(const std::atomic<bool> &stop, Result &out, std::vector<double> &latencies,
                        std::mutex &merge)
{
    std::vector<double> lat;
    uint64_t received = 0, lost = 0, duplicated = 0, polls = 0;
    const double cpuStart = threadCpuSeconds();
    while (!stop.load(std::memory_order_relaxed)) {
        uint32_t count = 0;
        OnvifHubReport *reports = VEK_Onvif_Hub_Poll(hub_, 10, &count);
        const auto now = Clock::now();
        if (count == 0) {
            ++polls;
        }
        received += count;
        // The reports of one request are together; a group of one camera's
        // reports may hold several of its requests.
        for (uint32_t i = 0; i < count;) {
            const uint32_t id = reports[i].ulCameraId;
            uint32_t end = i;
            while (end < count && reports[end].ulCameraId == id) {
                ++end;
            }
            uint32_t group = end - i;
            i = end;
            Camera *camera = id < byId_.size() ? byId_[id] : nullptr;
            if (camera == nullptr) {
                duplicated += group;
                continue;
            }
            std::lock_guard<std::mutex> guard(camera->lock);
            while (group > 0) {
                if (camera->inFlight.empty()) {
                    duplicated += group;
                    break;
                }
                Pending p = camera->inFlight.front();
                camera->inFlight.pop_front();
                lat.push_back(std::chrono::duration<double, std::milli>(now - p.sent).count());
                if (group >= p.reports) {
                    group -= p.reports;
                } else {
                    lost += p.reports - group;
                    group = 0;
                }
            }
        }
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "fleet", __LINE__);
    }
    const double cpu = threadCpuSeconds() - cpuStart;
    std::lock_guard<std::mutex> guard(merge);
    out.received += received;
    out.lost += lost;
    out.duplicated += duplicated;
    out.polls += polls;
    out.cpuSeconds += cpu;
    latencies.insert(latencies.end(), lat.begin(), lat.end());
}

// The recorder's loop over the cameras of thread index: camera c belongs to
// thread c % threads.
void Fleet::recorder(int index, int threads, const std::atomic<bool> &stop, Result &out,
                     std::vector<double> &latencies, std::mutex &merge)
{
    std::vector<Camera *> mine;
    for (size_t c = static_cast<size_t>(index); c < cameras_.size();
         c += static_cast<size_t>(threads)) {
        mine.push_back(cameras_[c].get());
    }
    std::vector<double> lat;
    uint64_t received = 0, lost = 0, duplicated = 0, polls = 0;
    const double cpuStart = threadCpuSeconds();
    while (!stop.load(std::memory_order_relaxed)) {
        bool served = false;
        for (Camera *camera : mine) {
            uint32_t count = 0;
            uint32_t connected = 0;
            OnvifAlarmReport *reports =
                VEK_Onvif_Recv_Notify(camera->fd, camera->useCfg, camera->useInputs,
                                      camera->access.szEventUrl, &count, &connected);
            const auto now = Clock::now();
            if (connected == 0) {
                ++polls;
            } else {
                served = true;
            }
            if (reports != nullptr && count > 0) {
                received += count;
                std::lock_guard<std::mutex> guard(camera->lock);
                if (camera->inFlight.empty()) {
                    duplicated += count;
                } else {
                    Pending p = camera->inFlight.front();
                    camera->inFlight.pop_front();
                    lat.push_back(std::chrono::duration<double, std::milli>(now - p.sent).count());
                    if (count < p.reports) {
                        lost += p.reports - count;
                    } else {
                        duplicated += count - p.reports;
                    }
                }
            }
            ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), "fleet", __LINE__);
            if (now >= camera->nextRenew) {
                VEK_Onvif_Renew(camera->sub.szCommonSubAddr, camera->sub.szCommonSubRef, "admin",
                                "secret");
                camera->nextRenew = now + kRenewInterval;
            }
        }
        if (!served) {
            std::this_thread::sleep_for(kIdleSleep);
        }
    }
    const double cpu = threadCpuSeconds() - cpuStart;
    std::lock_guard<std::mutex> guard(merge);
    out.received += received;
    out.lost += lost;
    out.duplicated += duplicated;
    out.polls += polls;
    out.cpuSeconds += cpu;
    latencies.insert(latencies.end(), lat.begin(), lat.end());
}

// Genuine pushes to the cameras of sender index at rate pushes per second.
void Fleet::sender(int index, double rate, double seconds, Result &out, std::mutex &merge)
{
    std::vector<Camera *> mine;
    for (size_t c = static_cast<size_t>(index); c < cameras_.size(); c += kSenderThreads) {
        mine.push_back(cameras_[c].get());
    }
    if (mine.empty() || rate <= 0) {
        return;
    }
    std::mt19937 random(static_cast<unsigned>(1234 + index));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    const auto step = std::chrono::duration<double>(1.0 / rate);
    auto next = start;
    uint64_t sent = 0, failed = 0, expected = 0, pushId = 0;
    while (Clock::now() < end) {
        Camera *camera = mine[random() % mine.size()];
        const int burst = unit(random) < kBurstShare ? kBurstLength : 1;
        for (int b = 0; b < burst; ++b) {
            std::this_thread::sleep_until(next);
            next += std::chrono::duration_cast<Clock::duration>(step);
            const size_t m = random() % camera->mix->size();
            const uint32_t reports = (*camera->mix)[m].reports;
            const uint64_t id = ++pushId;
            {
                std::lock_guard<std::mutex> guard(camera->lock);
                camera->inFlight.push_back({Clock::now(), reports, id});
            }
            if (sendRequest(camera->port, camera->posts[m], Hostile::None, camera->source)) {
                ++sent;
                expected += reports;
            } else {
                // Not every byte went out: no report is due, unless the
                // recorder already took it.
                ++failed;
                std::lock_guard<std::mutex> guard(camera->lock);
                auto &queue = camera->inFlight;
                queue.erase(std::remove_if(queue.begin(), queue.end(),
                                           [id](const Pending &p) { return p.id == id; }),
                            queue.end());
            }
        }
    }
    std::lock_guard<std::mutex> guard(merge);
    out.sent += sent;
    out.failed += failed;
    out.expected += expected;
}

// One hostile source: a request at a time, to a random camera, cycling
// through a slow sender, an oversized request and a wrong source address.
void Fleet::hostileSource(int index, double rate, double seconds, std::atomic<uint64_t> &count)
{
    std::mt19937 random(static_cast<unsigned>(99 + index));
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    const auto step = std::chrono::duration<double>(rate > 0 ? 1.0 / rate : 1.0);
    // A stale generation only where the path has one: at the hub.
    const Hostile kinds[] = {Hostile::Slow, Hostile::Oversized, Hostile::WrongSource,
                             Hostile::StaleGeneration};
    const uint64_t kindCount = hub_ != nullptr ? 4 : 3;
    for (uint64_t i = static_cast<uint64_t>(index); Clock::now() < end; ++i) {
        Camera *camera = cameras_[random() % cameras_.size()].get();
        const Hostile kind = kinds[i % kindCount];
        std::string url = camera->url;
        if (kind == Hostile::StaleGeneration) {
            url.replace(url.rfind('/') + 1, std::string::npos, "00000000deadbeef");
        }
        const Message &message = (*camera->mix)[random() % camera->mix->size()];
        const std::string body = camsim::buildNotifyEnvelope({message.notificationMessage}, url);
        camsim::HttpPostOptions options;
        std::string padding;
        if (kind == Hostile::Oversized) {
            // Declares 2 MiB and sends 64 KiB of it.
            options.contentLength = "2097152";
            padding.assign(65536, ' ');
        }
        std::string bytes = camsim::buildHttpPost(url, padding + body, options);
        if (kind == Hostile::Slow) {
            // Two thirds of the request, trickled: however late the
            // recorder takes it, it never completes.
            bytes.resize(bytes.size() * 2 / 3);
        }
        sendRequest(camera->port, bytes, kind, camera->source);
        ++count;
        std::this_thread::sleep_for(step);
    }
}

Result Fleet::run(int threads, double rate, double seconds, double hostileShare, double idlePollNs)
{
    Result r;
    r.hub = hub_ != nullptr;
    r.cameras = static_cast<int>(cameras_.size());
    r.threads = threads;
    r.rate = rate;
    r.hostile = hostileShare;
    std::atomic<bool> stop{false};
    std::mutex merge;
    std::vector<double> latencies;
    std::vector<std::thread> recorders;
    for (int t = 0; t < threads; ++t) {
        recorders.emplace_back([&, t] {
            if (hub_ != nullptr) {
                hubRecorder(stop, r, latencies, merge);
            } else {
                recorder(t, threads, stop, r, latencies, std::ref(merge));
            }
        });
    }
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenderThreads; ++s) {
        senders.emplace_back([&, s] { sender(s, rate / kSenderThreads, seconds, r, merge); });
    }
    std::atomic<uint64_t> hostileCount{0};
    const int hostileSources =
        hostileShare > 0 ? std::max(1, static_cast<int>(std::lround(hostileShare * r.cameras))) : 0;
    for (int h = 0; h < hostileSources; ++h) {
        // Each source at the rate of one camera.
        senders.emplace_back([&, h] {
            hostileSource(h, rate / static_cast<double>(r.cameras), seconds, hostileCount);
        });
    }
    const auto start = Clock::now();
    // The genuine senders' time: a slow hostile source may end later.
    for (int s = 0; s < kSenderThreads; ++s) {
        senders[static_cast<size_t>(s)].join();
    }
    const double sendSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (size_t s = kSenderThreads; s < senders.size(); ++s) {
        senders[s].join();
    }
    // Give the recorder the listener's own bound and more to take what waits.
    const auto drainEnd = Clock::now() + kDrainTime;
    while (Clock::now() < drainEnd) {
        bool empty = true;
        for (auto &camera : cameras_) {
            std::lock_guard<std::mutex> guard(camera->lock);
            empty = empty && camera->inFlight.empty();
        }
        if (empty) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double runSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    for (std::thread &t : recorders) {
        t.join();
    }
    for (auto &camera : cameras_) {
        for (const Pending &p : camera->inFlight) {
            r.lost += p.reports;
        }
        camera->inFlight.clear();
    }
    r.cpuPerPollNs = r.polls > 0 ? r.cpuSeconds * 1e9 / static_cast<double>(r.polls) : 0;
    if (r.received > 0) {
        const double idle = static_cast<double>(r.polls) * idlePollNs * 1e-9;
        r.cpuPerEventUs =
            std::max(0.0, r.cpuSeconds - idle) * 1e6 / static_cast<double>(r.received);
    }
    r.hostileSent = hostileCount.load();
    r.achieved = static_cast<double>(r.sent) / sendSeconds;
    r.p50 = percentile(latencies, 0.50);
    r.p99 = percentile(latencies, 0.99);
    r.max = latencies.empty() ? 0 : *std::max_element(latencies.begin(), latencies.end());
    r.saturated = rate > 0 && (r.lost > 0 || r.p99 > kSaturationP99Ms || r.failed > 0 ||
                               r.achieved < 0.9 * rate);
    (void)runSeconds;
    return r;
}

// ---- Report --------------------------------------------------------------------------

std::string fixed(double value, int decimals)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void printRow(const Result &r)
{
    const bool some = r.received > 0;
    const std::string rate = fixed(r.rate, 0) + (r.hostile > 0 ? " +hostile" : "");
    const std::string p50 = some ? fixed(r.p50, 2) : "-";
    const std::string p99 = some ? fixed(r.p99, 2) : "-";
    const std::string max = some ? fixed(r.max, 1) : "-";
    const std::string cpuEvent = some ? fixed(r.cpuPerEventUs, 0) + " us" : "-";
    const std::string cpuPoll = r.rate == 0 ? fixed(r.cpuPerPollNs, 0) + " ns" : "-";
    std::printf(
        "| %s | %d | %d | %s | %.0f | %llu | %llu | %llu | %llu | %llu | %s | %s | %s | %s | %s "
        "|%s |\n",
        r.hub ? "hub" : "per camera", r.cameras, r.threads, rate.c_str(), r.achieved,
        static_cast<unsigned long long>(r.sent), static_cast<unsigned long long>(r.expected),
        static_cast<unsigned long long>(r.received), static_cast<unsigned long long>(r.lost),
        static_cast<unsigned long long>(r.duplicated), p50.c_str(), p99.c_str(), max.c_str(),
        cpuEvent.c_str(), cpuPoll.c_str(), r.saturated ? " saturated" : "");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "vek_fleet: %s\n", e.what());
        return 2;
    }
    // Log lines of refused requests would flood the console: count them.
    static std::atomic<uint64_t> logLines{0};
    VEK_PLAT_SetLogSink(
        [](int32_t, uint32_t, const char *, const char *, const char *, void *) { ++logLines; },
        nullptr);

    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }

    // The cameras are of several kinds: each corpus topic set on which some
    // corpus message gives an alarm.
    std::vector<Kind> kinds;
    for (int k = 1; k <= 7; ++k) {
        char file[64];
        std::snprintf(file, sizeof file, "properties/topicset-%02d.xml", k);
        std::vector<Message> mix;
        try {
            mix = alarmMessages(file);
        } catch (const std::exception &) {
            continue;
        }
        if (!mix.empty()) {
            std::printf("Kind %s: %zu corpus messages give alarms:", file, mix.size());
            for (const Message &m : mix) {
                std::printf(" %s", m.name.c_str());
            }
            std::printf("\n");
            kinds.push_back({file, std::move(mix)});
        }
    }
    if (kinds.empty()) {
        std::fprintf(stderr, "vek_fleet: no corpus message gives an alarm\n");
        return 1;
    }
    std::printf("%d cameras per simulator; bursts of %d pushes on %.0f %% of pushes; descriptor "
                "limit %llu; recorder sleeps %lld ms after a pass that found nothing.\n\n",
                kCamerasPerSim, kBurstLength, kBurstShare * 100,
                static_cast<unsigned long long>(limit.rlim_cur),
                static_cast<long long>(kIdleSleep.count()));
    std::printf("| mode | cameras | threads | rate /s | sent /s | events | reports expected | "
                "received | lost | duplicated | p50 ms | p99 ms | max ms | CPU per event beyond "
                "polling | CPU per idle poll | |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");

    std::vector<Result> all;
    struct Knee {
        bool hub;
        int cameras, threads;
        double saturation; // first saturated rate, 0 when none
        double sustained;  // largest rate below it
    };
    std::vector<Knee> knees;
    // The rates in turn up to the first saturated one, then half of that
    // alone and with hostile sources.
    auto sweep = [&](Fleet &fleet, bool hub, int n, int t, const std::vector<double> &rates) {
        Knee knee{hub, n, t, 0, 0};
        double idlePollNs = 0;
        for (double rate : rates) {
            Result r = fleet.run(t, rate, options.seconds, 0, idlePollNs);
            if (rate == 0) {
                idlePollNs = r.cpuPerPollNs;
            }
            r.sweep = true;
            printRow(r);
            all.push_back(r);
            if (r.saturated) {
                knee.saturation = rate;
                break;
            }
            knee.sustained = rate;
        }
        knees.push_back(knee);
        double half = (knee.saturation > 0 ? knee.saturation : knee.sustained) / 2;
        if (half > 0) {
            Result r = fleet.run(t, half, options.seconds, 0, idlePollNs);
            printRow(r);
            all.push_back(r);
            if (options.hostileShare > 0) {
                Result h = fleet.run(t, half, options.seconds, options.hostileShare, idlePollNs);
                printRow(h);
                all.push_back(h);
            }
        }
    };
    for (int n : options.cameras) {
        // Every camera needs its listening socket, and the pushes in flight theirs.
        if (static_cast<rlim_t>(n) * 2 + 256 > limit.rlim_cur) {
            std::printf(
                "| per camera | %d | - | skipped: descriptor limit %llu | | | | | | | | | | "
                "| | |\n",
                n, static_cast<unsigned long long>(limit.rlim_cur));
            continue;
        }
        std::unique_ptr<Fleet> fleet;
        try {
            fleet = std::make_unique<Fleet>(n, kinds, false);
        } catch (const std::exception &e) {
            std::printf("| per camera | %d | - | set-up failed: %s | | | | | | | | | | | | |\n", n,
                        e.what());
            continue;
        }
        for (int t : options.threads) {
            sweep(*fleet, false, n, t, options.rates);
        }
    }
    for (int n : options.hubCameras) {
        try {
            Fleet fleet(n, kinds, true);
            sweep(fleet, true, n, 1, options.hubRates);
        } catch (const std::exception &e) {
            std::printf("| hub | %d | - | set-up failed: %s | | | | | | | | | | | | |\n", n,
                        e.what());
        }
    }
    // Many cameras registered at one port: pushes spread over all of them.
    Result registered;
    if (options.registerCameras > 0) {
        try {
            Fleet fleet(options.registerCameras, kinds, true);
            registered = fleet.run(1, 2000, options.seconds, 0, 0);
            printRow(registered);
        } catch (const std::exception &e) {
            std::printf("| hub | %d | - | set-up failed: %s | | | | | | | | | | | | |\n",
                        options.registerCameras, e.what());
        }
    }

    std::printf("\nSaturation (first rate with loss, p99 > %.0f ms, less than 90 %% of the rate "
                "sent, or pushes refused):\n",
                kSaturationP99Ms);
    const double floorRate = options.pushFloorNs > 0 ? 1e9 / options.pushFloorNs : 0;
    double bestPerCamera = 0;
    double largestOneThread = 0; // per camera, the largest count, one thread
    double largestOneThreadSustained = 0;
    bool largestOneThreadReached = false;
    int perCameraLargest = 0;
    double hubSustained = 0;
    double hubAtMost = 0; // hub saturation at the largest camera count
    bool hubReached = false;
    int hubLargest = 0;
    for (const Knee &k : knees) {
        const char *mode = k.hub ? "hub" : "per camera";
        const double s = k.saturation > 0 ? k.saturation : k.sustained;
        if (k.saturation > 0) {
            std::printf("- %s, %d cameras, %d thread(s): %.0f /s", mode, k.cameras, k.threads,
                        k.saturation);
        } else {
            std::printf("- %s, %d cameras, %d thread(s): not reached up to %.0f /s", mode,
                        k.cameras, k.threads, k.sustained);
        }
        if (floorRate > 0) {
            std::printf(" = %.3f of the push-delivery floor's %.0f /s", s / floorRate, floorRate);
        }
        std::printf("\n");
        if (!k.hub) {
            bestPerCamera = std::max(bestPerCamera, k.sustained);
            if (k.threads == 1 && k.cameras >= perCameraLargest) {
                perCameraLargest = k.cameras;
                largestOneThread = s;
                largestOneThreadSustained = k.sustained;
                largestOneThreadReached = k.saturation > 0;
            }
        } else if (k.cameras >= hubLargest) {
            hubLargest = k.cameras;
            hubAtMost = s;
            hubSustained = k.sustained;
            hubReached = k.saturation > 0;
        }
    }

    // Targets.
    std::printf("\nTargets:\n");
    auto verdict = [](bool ok) { return ok ? "met" : "MISSED"; };
    for (bool hub : {false, true}) {
        bool lossFree = true;
        double worstCpu = 0, worstPoll = 0, p99Half = -1, hostileP99 = 0;
        bool hostileLoss = false, any = false;
        for (size_t i = 0; i < all.size(); ++i) {
            const Result &r = all[i];
            if (r.hub != hub) {
                continue;
            }
            any = true;
            if (!r.saturated && r.hostile == 0 && (r.lost > 0 || r.duplicated > 0)) {
                lossFree = false;
            }
            if (!r.saturated && r.hostile == 0 && r.received > 0) {
                worstCpu = std::max(worstCpu, r.cpuPerEventUs);
            }
            if (r.rate == 0) {
                worstPoll = std::max(worstPoll, r.cpuPerPollNs);
            }
            if (r.hostile > 0) {
                hostileLoss = hostileLoss || r.lost > 0 || r.duplicated > 0;
                hostileP99 = std::max(hostileP99, r.p99);
            }
            // The rerun at half the knee follows the last rate of a sweep.
            const bool largest = hub ? r.cameras == hubLargest : r.cameras == 256;
            if (largest && r.hostile == 0 && !r.sweep && i > 0 && all[i - 1].sweep) {
                p99Half = std::max(p99Half, r.p99);
            }
        }
        if (!any) {
            continue;
        }
        std::printf("%s:\n", hub ? "Hub (one port, one thread)" : "Per-camera listeners");
        std::printf("- 0 lost, 0 duplicated below saturation: %s\n", verdict(lossFree));
        if (!hub && options.pushLibNs > 0) {
            std::printf("- CPU per delivered event <= 2 x push_delivery (%.1f us): worst %.1f us "
                        "(%.2f x): %s\n",
                        options.pushLibNs / 1000, worstCpu, worstCpu * 1000 / options.pushLibNs,
                        verdict(worstCpu * 1000 <= 2 * options.pushLibNs));
        }
        if (hub) {
            std::printf("- CPU per delivered event below saturation: worst %.1f us\n", worstCpu);
        }
        if (!hub && options.idleLibNs > 0) {
            std::printf(
                "- CPU per idle camera-poll <= 2 x idle_poll (%.0f ns): worst %.0f ns (%.2f x): "
                "%s\n",
                options.idleLibNs, worstPoll, worstPoll / options.idleLibNs,
                verdict(worstPoll <= 2 * options.idleLibNs));
        }
        const double p99Target = hub ? 10 : 20;
        const double hostileTarget = hub ? 20 : 1100;
        const int at = hub ? hubLargest : 256;
        if (p99Half >= 0) {
            std::printf("- p99 at %d cameras, 50 %% of saturation < %.0f ms: %.2f ms: %s\n", at,
                        p99Target, p99Half, verdict(p99Half < p99Target));
        } else {
            std::printf("- p99 at %d cameras, 50 %% of saturation: not run\n", at);
        }
        if (options.hostileShare > 0) {
            std::printf("- with %.0f %% hostile sources, genuine reports neither lost nor doubled "
                        "and p99 < %.0f ms: %s, worst p99 %.1f ms: %s\n",
                        options.hostileShare * 100, hostileTarget,
                        hostileLoss ? "some lost or doubled" : "none lost or doubled", hostileP99,
                        verdict(!hostileLoss && hostileP99 < hostileTarget));
        }
    }
    if (hubLargest > 0 && largestOneThread > 0) {
        // Set against each other: the largest rates each mode sustained.
        std::printf("- hub at %d cameras sustains >= 2 x the per-camera mode's rate at %d cameras, "
                    "one thread: %.0f /s against %.0f /s (%.2f x): %s\n",
                    hubLargest, perCameraLargest, hubSustained, largestOneThreadSustained,
                    hubSustained / largestOneThreadSustained,
                    largestOneThreadReached ? verdict(hubSustained >= 2 * largestOneThreadSustained)
                                            : "not shown (the per-camera mode did not saturate "
                                              "within the rates run)");
        std::printf("  (first saturated rates: hub %s%.0f /s, per camera %s%.0f /s; the "
                    "per-camera mode's best sustained rate, any count and threads: %.0f /s)\n",
                    hubReached ? "" : "none up to ", hubAtMost,
                    largestOneThreadReached ? "" : "none up to ", largestOneThread, bestPerCamera);
    }
    if (registered.cameras > 0) {
        std::printf("- %d cameras registered at one port: %llu of %llu reports, %llu lost, %llu "
                    "doubled, p99 %.2f ms: %s\n",
                    registered.cameras, static_cast<unsigned long long>(registered.received),
                    static_cast<unsigned long long>(registered.expected),
                    static_cast<unsigned long long>(registered.lost),
                    static_cast<unsigned long long>(registered.duplicated), registered.p99,
                    verdict(registered.received == registered.expected && registered.lost == 0 &&
                            registered.duplicated == 0 && registered.expected > 0));
    }
    std::printf("(%llu log lines counted, from the refused requests.)\n",
                static_cast<unsigned long long>(logLines.load()));

    if (!options.dataFile.empty()) {
        std::ofstream data(options.dataFile);
        data << "# cameras threads rate hostile achieved p50_ms p99_ms max_ms cpu_us_per_event "
                "saturated sweep hub\n";
        for (const Result &r : all) {
            data << r.cameras << ' ' << r.threads << ' ' << r.rate << ' ' << r.hostile << ' '
                 << r.achieved << ' ' << r.p50 << ' ' << r.p99 << ' ' << r.max << ' '
                 << r.cpuPerEventUs << ' ' << (r.saturated ? 1 : 0) << ' ' << (r.sweep ? 1 : 0)
                 << ' ' << (r.hub ? 1 : 0) << '\n';
        }
    }
    return 0;
}
