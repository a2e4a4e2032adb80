// The onvif-events program as a user runs it: the demo, watch against a camera on loopback (in
// this process, or the program's own sim in a second process), and the error exits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "fixture_files.h"

extern char **environ;

namespace
{

#ifndef ONVIF_EVENTS_BIN
#define ONVIF_EVENTS_BIN ""
#endif
#ifndef ONVIF_EVENTS_EMULATOR
#define ONVIF_EVENTS_EMULATOR ""
#endif

using Clock = std::chrono::steady_clock;

struct ToolRun {
    int status = -1; // exit status; -1 when killed at the deadline
    std::string out;
    std::string err;
    double seconds = 0;
    double interruptedAt = -1; // seconds after the start when SIGINT was sent; -1: never
};

// In place of a signal: the reader of the program's stdout goes away (`watch | head`).
constexpr int kCloseOutput = -1;

// Runs the program with the arguments (and extra NAME=VALUE environment entries), killing it
// after timeoutSeconds. When interruptWhen is given, it is asked every tenth of a second and
// the program gets the signal (Ctrl-C unless told) the first time it answers true.
ToolRun runTool(const std::vector<std::string> &args, double timeoutSeconds,
                const std::vector<std::string> &env = {},
                const std::function<bool()> &interruptWhen = {}, int signal = SIGINT)
{
    std::vector<std::string> argvText = {ONVIF_EVENTS_BIN};
    if (std::strlen(ONVIF_EVENTS_EMULATOR) != 0) {
        argvText.insert(argvText.begin(), ONVIF_EVENTS_EMULATOR);
    }
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argvText) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> envText;
    for (char **e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        if (entry.rfind("ONVIF_", 0) != 0) { // the caller decides the credentials
            envText.push_back(entry);
        }
    }
    envText.insert(envText.end(), env.begin(), env.end());
    std::vector<char *> envp;
    for (std::string &e : envText) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    ToolRun run;
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    pid_t pid = -1;
    auto started = Clock::now();
    int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return run;
    }
    auto deadline = started + std::chrono::duration_cast<Clock::duration>(
                                  std::chrono::duration<double>(timeoutSeconds));
    bool killed = false;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    while (open > 0) {
        if (!killed && Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            killed = true;
        }
        if (interruptWhen && run.interruptedAt < 0 && interruptWhen()) {
            if (signal == kCloseOutput) {
                close(fds[0].fd);
                fds[0].fd = -1;
                --open;
            } else {
                kill(pid, signal);
            }
            run.interruptedAt = std::chrono::duration<double>(Clock::now() - started).count();
        }
        if (poll(fds, 2, 100) <= 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? run.out : run.err).append(buf, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    run.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    run.status = (!killed && WIFEXITED(wstatus)) ? WEXITSTATUS(wstatus) : -1;
    return run;
}

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

// A loopback port that is bound but not listening: connections to it are refused.
struct ClosedPort {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    ClosedPort()
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~ClosedPort() { close(fd); }
};

std::string listenPortArg()
{
    // Distinct first ports for parallel test processes (the library steps by 2 when taken).
    return std::to_string(30000 + (getpid() % 2000) * 4);
}

std::string motion(const char *state)
{
    return camsim::makeNotificationMessage(
        "tns1:VideoSource/MotionAlarm",
        "<tt:Message UtcTime=\"2026-12-10T01:00:00Z\" PropertyOperation=\"Changed\"><tt:Source>"
        "<tt:SimpleItem Name=\"Source\" Value=\"VideoSource_1\"/></tt:Source><tt:Data>"
        "<tt:SimpleItem Name=\"State\" Value=\"" +
            std::string(state) + "\"/></tt:Data></tt:Message>");
}

// The built-in camera's topic set as the library sees a small real one: motion only.
constexpr const char *kMotionTopics =
    R"(<tns1:VideoSource wstop:topic="true"><MotionAlarm wstop:topic="true">)"
    R"(<tt:MessageDescription IsProperty="true"><tt:Source>)"
    R"(<tt:SimpleItemDescription Name="Source" Type="tt:ReferenceToken"/></tt:Source><tt:Data>)"
    R"(<tt:SimpleItemDescription Name="State" Type="xs:boolean"/></tt:Data>)"
    R"(</tt:MessageDescription></MotionAlarm></tns1:VideoSource>)";

// The codes watch reports for the demo camera's events (as the sim sends them, without the
// demo's channel tables), in order: the second event is the initial state of a motion alarm
// (ended), which watch reports.
const std::vector<int> kDemoEventCodes = {1,    1001, 3,  6, 4, 23,   24,  8,
                                          1008, 6,    21, 9, 1, 1003, 1001};

TEST(ToolDemo, RunsTheWholeLifeAndPasses)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ToolRun run = runTool({"demo"}, 30);
    ASSERT_EQ(0, run.status) << run.out << run.err;
    EXPECT_LT(run.seconds, 15.0);
    for (const char *step : {"1. Discovery", "2. Subscribe", "3. The camera pushes", "4. Renew",
                             "5. The same events through a pull point", "6. Unsubscribe",
                             "7. Three cameras on one port, their events through one Notify hub"}) {
        EXPECT_NE(std::string::npos, run.out.find(step)) << step;
    }
    // Both delivery paths give every expected report: 14 per path, 16 events per path; then
    // three cameras push one event each through the hub, each report under its camera's id.
    EXPECT_NE(std::string::npos, run.out.find("events sent 35, reports expected 31, reports "
                                              "received 31, events with wrong reports 0, failed "
                                              "steps 0"))
        << run.out;
    EXPECT_NE(std::string::npos, run.out.find("the cameras hold 0 subscription(s)")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("result: PASS"));
    EXPECT_EQ(std::string::npos, run.out.find("MISMATCH"));
    // The face-attribute message gives a no-mask and an abnormal-temperature report.
    EXPECT_NE(std::string::npos, run.out.find("no mask                   23"));
    EXPECT_NE(std::string::npos, run.out.find("abnormal temperature      24"));
    EXPECT_NE(std::string::npos, run.out.find("camera holds 0 subscription(s)"));
    // The library's log lines are counted, not shown.
    EXPECT_EQ("", run.err);
    EXPECT_EQ(std::string::npos, run.out.find("[lib"));

    ToolRun verbose = runTool({"demo", "--verbose"}, 30);
    EXPECT_EQ(0, verbose.status);
    EXPECT_NE(std::string::npos, verbose.err.find("alarm PropertyOperation is:Initialized"));
}

class ToolWatch : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_STRNE("", ONVIF_EVENTS_BIN);
        camsim::Config config;
        config.topicSetXml = kMotionTopics;
        sim_ = std::make_unique<camsim::CameraSim>(config);
        sim_->start();
    }

    std::unique_ptr<camsim::CameraSim> sim_;
};

TEST_F(ToolWatch, PushedEventsAreReportedAndTheSubscriptionEnds)
{
    auto watch = std::async(std::launch::async, [&] {
        return runTool({"watch", sim_->eventServiceUrl(), "--duration", "6", "--json",
                        "--listen-port", listenPortArg()},
                       20, {"ONVIF_USER=admin", "ONVIF_PASSWORD=secret"});
    });
    ASSERT_TRUE(sim_->waitForRequests(2, std::chrono::seconds(10)));
    auto subscribes = sim_->requests("Subscribe");
    ASSERT_EQ(1u, subscribes.size());
    EXPECT_TRUE(subscribes[0].authenticated);
    camsim::SendResult first = sim_->notify(1, {motion("true")});
    camsim::SendResult second = sim_->notify(1, {motion("false")});
    EXPECT_TRUE(first.sent && second.sent) << first.error << second.error;

    ToolRun run = watch.get();
    ASSERT_EQ(0, run.status) << run.out << run.err;
    std::vector<std::string> reports = lines(run.out);
    ASSERT_EQ(2u, reports.size()) << run.out;
    auto a = nlohmann::json::parse(reports[0]);
    auto b = nlohmann::json::parse(reports[1]);
    EXPECT_EQ(1, a["code"]);
    EXPECT_EQ(true, a["active"]);
    EXPECT_EQ(1001, b["code"]);
    EXPECT_EQ(false, b["active"]);
    EXPECT_EQ("motion", b["alarm"]);
    EXPECT_EQ("notify", b["via"]);
    // Each line names its camera and carries the UTC date and time it was received.
    EXPECT_EQ(sim_->eventServiceUrl(), b["url"]);
    std::string time = b["time"];
    EXPECT_EQ(camsim::formatTime(std::chrono::system_clock::now()).substr(0, 10),
              time.substr(0, 10));
    EXPECT_EQ(24u, time.size()) << time; // 2026-12-10T01:02:03.456Z
    EXPECT_EQ('Z', time.back()) << time;
    // Status lines stay off stdout; the subscription is ended with its reference.
    EXPECT_NE(std::string::npos, run.err.find("unsubscribed -> 0"));
    auto unsubscribes = sim_->requests("Unsubscribe");
    ASSERT_EQ(1u, unsubscribes.size());
    ASSERT_EQ(1u, unsubscribes[0].referenceParameters.size());
    EXPECT_EQ("1", unsubscribes[0].referenceParameters[0].text);
    EXPECT_TRUE(sim_->subscriptions().empty());
}

TEST_F(ToolWatch, PullPointReportsQueuedEventsAndIsClosed)
{
    sim_->queueMessage(motion("true"));
    ToolRun run = runTool({"watch", sim_->eventServiceUrl(), "--pull", "--duration", "2", "--user",
                           "admin", "--password", "secret"},
                          20);
    ASSERT_EQ(0, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos,
              run.out.find("pull point " + sim_->baseUrl() + "/onvif/pullpoint/1"));
    EXPECT_NE(std::string::npos, run.out.find("motion                     1  active")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("unsubscribed -> 0 ok; 1 report(s)"));
    EXPECT_FALSE(sim_->requests("PullMessages").empty());
    EXPECT_EQ(1u, sim_->requests("Unsubscribe").size());
    EXPECT_TRUE(sim_->subscriptions().empty());
}

// watch --pull long-polls: an idle camera is asked once per wait, at its one shared address
// with the pull point's reference parameter, and the pull point is ended with it.
TEST(ToolWatchPull, IdleCameraIsAskedOncePerWait)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    camsim::Config config;
    config.topicSetXml = kMotionTopics;
    config.maxPullWait = std::chrono::seconds(20);
    config.sharedPullPointAddress = true;
    config.pullPoint.referenceParameters = true;
    camsim::CameraSim sim(config);
    sim.start();
    ToolRun run = runTool({"watch", sim.eventServiceUrl(), "--pull", "--duration", "4", "--user",
                           "admin", "--password", "secret"},
                          30);
    ASSERT_EQ(0, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.out.find("pull point " + sim.baseUrl() + "/onvif/services"));
    auto pulls = sim.requests("PullMessages");
    ASSERT_EQ(1u, pulls.size());
    EXPECT_EQ("64", pulls[0].body.at("MessageLimit"));
    EXPECT_EQ("PT4S", pulls[0].body.at("Timeout"));
    ASSERT_EQ(1u, pulls[0].referenceParameters.size());
    auto unsubscribes = sim.requests("Unsubscribe");
    ASSERT_EQ(1u, unsubscribes.size());
    EXPECT_EQ(1u, unsubscribes[0].referenceParameters.size());
    EXPECT_TRUE(sim.subscriptions().empty());
    EXPECT_NE(std::string::npos, run.out.find("unsubscribed -> 0 ok; 0 report(s)")) << run.out;
}

// A camera that grants only a short termination time: watch --pull renews at half of it,
// its long polls ending in time; a camera that no longer knows the pull point gets a new one.
TEST(ToolWatchPull, RenewsAtHalfTheTerminationAndReplacesAGonePullPoint)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    std::atomic<int> pulls{0};
    camsim::Config config;
    config.topicSetXml = kMotionTopics;
    config.maxPullWait = std::chrono::seconds(20);
    config.maxTermination = std::chrono::seconds(4);
    config.interceptor =
        [&](const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
        if (request.operation != "PullMessages" || pulls++ != 0) {
            return std::nullopt;
        }
        return camsim::Reply{
            400,
            R"(<?xml version="1.0"?><s:Envelope xmlns:s="http://www.w3.org/2003/05/soap-envelope" )"
            R"(xmlns:ter="http://www.onvif.org/ver10/error"><s:Body><s:Fault><s:Code>)"
            R"(<s:Value>s:Sender</s:Value><s:Subcode><s:Value>ter:InvalidArgVal</s:Value>)"
            R"(</s:Subcode></s:Code><s:Reason><s:Text xml:lang="en">gone</s:Text></s:Reason>)"
            R"(</s:Fault></s:Body></s:Envelope>)"};
    };
    camsim::CameraSim sim(config);
    sim.start();
    ToolRun run = runTool({"watch", sim.eventServiceUrl(), "--pull", "--duration", "6", "--user",
                           "admin", "--password", "secret"},
                          30);
    ASSERT_EQ(0, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos,
              run.out.find("new pull point: " + sim.baseUrl() + "/onvif/pullpoint/2"));
    EXPECT_EQ(2u, sim.requests("CreatePullPointSubscription").size());
    auto renews = sim.requests("Renew");
    EXPECT_GE(renews.size(), 2u) << run.out;
    for (const auto &renew : renews) {
        EXPECT_EQ(sim.baseUrl() + "/onvif/pullpoint/2", renew.wsaTo);
        EXPECT_EQ(200, renew.responseStatus);
    }
    EXPECT_EQ(std::string::npos, run.out.find("renew -> 112")) << run.out;
    auto unsubscribes = sim.requests("Unsubscribe");
    ASSERT_EQ(1u, unsubscribes.size());
    EXPECT_EQ(200, unsubscribes[0].responseStatus);
}

// A file in the test's temporary directory, written with the text; its path.
std::string writeTempFile(const std::string &name, const std::string &text)
{
    std::string path =
        ::testing::TempDir() + "onvif-events-" + std::to_string(getpid()) + "-" + name;
    FILE *file = std::fopen(path.c_str(), "w");
    if (file != nullptr) {
        std::fputs(text.c_str(), file);
        std::fclose(file);
    }
    return path;
}

// Three cameras behind one port, watched at once: pushed through the one Notify hub of the watch
// (the cameras given in a --cameras file, with names, one of them with a password the camera
// refuses), or pulled from each camera's own pull point (given with --camera). Every report
// names the camera that sent it; a camera that refuses the credentials ends its own watch only.
TEST(ToolWatchCameras, EachReportNamesTheCameraThatSentIt)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    struct Case {
        const char *what;
        bool pull;
        bool file;
        int refusing; // camera (from 1) whose password is wrong; 0: none
        int status;
    };
    const Case cases[] = {
        {"push through one hub, cameras from a file", false, true, 0, 0},
        {"pull, cameras from --camera", true, false, 0, 0},
        {"push, the second camera refuses the password", false, true, 2, 4},
    };
    // Camera k's events: motion starts and, from camera 2 on, ends; camera 3 twice.
    const std::vector<std::vector<std::string>> events = {
        {motion("true")},
        {motion("true"), motion("false")},
        {motion("false"), motion("true"), motion("false")}};
    const std::vector<std::vector<int>> codes = {{1}, {1, 1001}, {1001, 1, 1001}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        camsim::Config config;
        config.topicSetXml = kMotionTopics;
        camsim::CameraGroup group(std::vector<camsim::Config>(3, config));
        group.start();
        std::vector<std::string> names;
        std::vector<std::string> args = {"watch",  "--json", "--duration", "4",
                                         "--user", "admin",  "--password", "secret"};
        nlohmann::json list = nlohmann::json::array();
        for (size_t k = 0; k < group.size(); ++k) {
            const std::string url = group.camera(k).eventServiceUrl();
            names.push_back(c.file ? "cam-" + std::to_string(k + 1) : url);
            nlohmann::json entry = {{"url", url}, {"name", names.back()}};
            if (c.refusing == static_cast<int>(k + 1)) {
                entry["password"] = "wrong";
            }
            list.push_back(entry);
            if (!c.file) {
                args.insert(args.end(), {"--camera", url});
            }
            if (c.pull) {
                for (const std::string &event : events[k]) {
                    group.camera(k).queueMessage(event);
                }
            }
        }
        if (c.file) {
            args.insert(args.end(), {"--cameras", writeTempFile("cameras.json", list.dump())});
        }
        if (c.pull) {
            args.push_back("--pull");
        } else {
            args.insert(args.end(), {"--listen-port", listenPortArg()});
        }
        auto watch = std::async(std::launch::async, [&] { return runTool(args, 30); });
        if (!c.pull) {
            for (size_t k = 0; k < group.size(); ++k) {
                if (c.refusing == static_cast<int>(k + 1)) {
                    continue;
                }
                auto until = Clock::now() + std::chrono::seconds(10);
                while (!group.camera(k).subscription(1) && Clock::now() < until) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
                for (const std::string &event : events[k]) {
                    EXPECT_TRUE(group.camera(k).notify(1, {event}).sent) << k;
                }
            }
        }
        ToolRun run = watch.get();
        EXPECT_EQ(c.status, run.status) << run.out << run.err;
        std::map<std::string, std::vector<int>> got; // by the camera the line names
        for (const std::string &line : lines(run.out)) {
            auto json = nlohmann::json::parse(line);
            got[json["camera"]].push_back(json["code"]);
            EXPECT_EQ(c.pull ? "pull" : "notify", json["via"]);
        }
        std::set<std::string> consumerPorts;
        std::set<std::string> consumerAddresses;
        for (size_t k = 0; k < group.size(); ++k) {
            SCOPED_TRACE(names[k]);
            bool refused = c.refusing == static_cast<int>(k + 1);
            EXPECT_EQ(refused ? std::vector<int>{} : codes[k], got[names[k]]) << run.out;
            for (const camsim::RecordedRequest &r : group.camera(k).requests("Subscribe")) {
                std::string address = r.body.at("ConsumerReference/Address");
                // One port for all; each camera a path of its own (its id at the hub).
                consumerPorts.insert(address.substr(0, address.find("/onvif_notify_server/")));
                consumerAddresses.insert(address);
            }
            EXPECT_EQ(refused ? 0u : 1u, group.camera(k).requests("Unsubscribe").size());
            EXPECT_TRUE(group.camera(k).subscriptions().empty());
        }
        EXPECT_EQ(c.pull ? 0u : 1u, consumerPorts.size());
        EXPECT_EQ(c.pull ? 0u : c.refusing > 0 ? 2u : 3u, consumerAddresses.size());
        if (c.refusing > 0) {
            EXPECT_NE(std::string::npos,
                      run.err.find("onvif-events watch [cam-2]: camera refused authentication"))
                << run.err;
        }
    }
}

// Two processes, as two terminals: the program's own sim and a watch against it.
TEST(ToolSim, ServesItsEventsToAWatchingRecorder)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ClosedPort reserved; // a free port number for the sim
    std::string port = std::to_string(reserved.port);
    close(reserved.fd);
    reserved.fd = -1;
    auto sim = std::async(std::launch::async, [&] {
        return runTool({"sim", "--port", port, "--interval", "0.05", "--duration", "6"}, 20);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ToolRun watch = runTool({"watch", "http://127.0.0.1:" + port + "/onvif/event_service", "--user",
                             "admin", "--password", "secret", "--duration", "3", "--json",
                             "--listen-port", listenPortArg()},
                            20);
    ToolRun camera = sim.get();
    ASSERT_EQ(0, watch.status) << watch.out << watch.err << camera.out << camera.err;
    EXPECT_EQ(0, camera.status) << camera.err;
    std::vector<int> codes;
    for (const std::string &line : lines(watch.out)) {
        codes.push_back(nlohmann::json::parse(line)["code"]);
    }
    EXPECT_EQ(kDemoEventCodes, codes) << watch.out;
    EXPECT_NE(std::string::npos, camera.out.find("event 16/16 pushed")) << camera.out;
    EXPECT_NE(std::string::npos, camera.out.find("Unsubscribe"));
}

// A topic capture given as the sim's events, without a topic set of its own: the sim advertises
// the capture's topics, so the recorder reports its events (the README's example).
TEST(ToolSim, AnEventsFileBringsItsOwnTopics)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ClosedPort reserved;
    std::string port = std::to_string(reserved.port);
    close(reserved.fd);
    reserved.fd = -1;
    auto sim = std::async(std::launch::async, [&] {
        return runTool({"sim", "--port", port, "--events",
                        vekfix::fixturePath("corpus/notify/line-crossed-01.xml"), "--interval",
                        "0.05", "--duration", "5"},
                       20);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ToolRun watch = runTool({"watch", "http://127.0.0.1:" + port + "/onvif/event_service", "--user",
                             "admin", "--password", "secret", "--duration", "2", "--json",
                             "--listen-port", listenPortArg()},
                            20);
    ToolRun camera = sim.get();
    ASSERT_EQ(0, watch.status) << watch.out << watch.err << camera.out << camera.err;
    std::vector<std::pair<int, int>> reports; // code, object
    for (const std::string &line : lines(watch.out)) {
        auto json = nlohmann::json::parse(line);
        reports.emplace_back(json["code"], json["object"]);
    }
    EXPECT_EQ((std::vector<std::pair<int, int>>{{6, 15}, {6, 19}}), reports) << watch.out;
}

// Smart data goes to the recorder's own device port, not to the tool: watch says so, and holds
// no listening socket when only smart data is asked for.
TEST(ToolSim, SmartDataScopesSayWhereTheDataGoes)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ClosedPort reserved;
    std::string port = std::to_string(reserved.port);
    close(reserved.fd);
    reserved.fd = -1;
    auto sim = std::async(std::launch::async, [&] {
        return runTool({"sim", "--port", port, "--duration", "7"}, 20);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string smartLine = "smart data goes to the recorder's device port 80 "
                                  "(/onvif_notify_server), which this tool does not serve";
    for (const char *scope : {"smart", "both"}) {
        SCOPED_TRACE(scope);
        ToolRun watch = runTool({"watch", "http://127.0.0.1:" + port + "/onvif/event_service",
                                 "--user", "admin", "--password", "secret", "--duration", "1",
                                 "--scope", scope, "--listen-port", listenPortArg()},
                                20);
        EXPECT_EQ(0, watch.status) << watch.out << watch.err;
        EXPECT_NE(std::string::npos, watch.out.find(smartLine)) << watch.out;
        EXPECT_EQ(std::string::npos, watch.out.find("port -1")) << watch.out;
        EXPECT_EQ(std::string(scope) == "both",
                  watch.out.find("listening on port ") != std::string::npos)
            << watch.out;
        EXPECT_NE(std::string::npos, watch.out.find("unsubscribed -> 0 ok")) << watch.out;
    }
    EXPECT_EQ(0, sim.get().status);
}

// A camera an hour behind that wants HTTP Digest as well: the recorder's
// pull point works through both, and the password shows nowhere in what it
// prints.
TEST(ToolSim, ClockOffsetAndHttpDigest)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ClosedPort reserved;
    std::string port = std::to_string(reserved.port);
    close(reserved.fd);
    reserved.fd = -1;
    const std::string password = "pw-7f3a9c-not-in-output";
    auto sim = std::async(std::launch::async, [&] {
        return runTool({"sim", "--port", port, "--password", password, "--clock-offset", "-3600",
                        "--http-digest", "--digest-algorithm", "SHA-256", "--duration", "5"},
                       20);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ToolRun watch =
        runTool({"watch", "http://127.0.0.1:" + port + "/onvif/event_service", "--pull", "--user",
                 "admin", "--password", password, "--duration", "2", "--json"},
                20);
    ToolRun camera = sim.get();
    ASSERT_EQ(0, watch.status) << watch.out << watch.err << camera.out << camera.err;
    EXPECT_FALSE(lines(watch.out).empty()) << watch.out;
    EXPECT_NE(std::string::npos, camera.out.find("camera clock -3600 s off")) << camera.out;
    EXPECT_NE(std::string::npos, camera.out.find("HTTP digest (SHA-256) required"));
    EXPECT_NE(std::string::npos, camera.out.find("-> HTTP 401")) << camera.out;
    EXPECT_EQ(std::string::npos, (watch.out + watch.err).find(password));
}

TEST(ToolErrors, OneLineAndADistinctExitStatus)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    camsim::CameraSim camera;
    camera.start();
    ClosedPort closed;
    const std::string url = camera.eventServiceUrl();
    const std::string closedUrl =
        "http://127.0.0.1:" + std::to_string(closed.port) + "/onvif/event_service";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    auto camerasFile = [](const char *name, const std::string &text) {
        return writeTempFile(name, text);
    };
    const std::string notJson = camerasFile("not-json.json", "[{\"url\": ");
    const std::string noUrl = camerasFile("no-url.json", R"([{"user": "admin"}])");
    const std::string urlNumber = camerasFile("url-number.json", R"([{"url": 7}])");
    const std::string notList = camerasFile("not-list.json", R"({"url": "http://127.0.0.1/x"})");
    const std::string twice = camerasFile("twice.json", "[{\"url\": \"" + url + "\"}]");
    const std::string badUrl = camerasFile("bad-url.json", R"([{"url": "ftp://127.0.0.1/x"}])");
    const Case cases[] = {
        {{"watch", "ftp://127.0.0.1/onvif"}, 2, "bad URL 'ftp://127.0.0.1/onvif'"},
        {{"watch"}, 2, "no camera: give its URL, --camera URL or --cameras FILE"},
        {{"watch", "--cameras", "/nonexistent/cameras.json"},
         2,
         "--cameras: cannot read /nonexistent/cameras.json"},
        {{"watch", "--cameras", notJson}, 2, "not-json.json is not JSON"},
        {{"watch", "--cameras", notList}, 2, "expected a list of cameras"},
        {{"watch", "--cameras", noUrl}, 2, "entry 1 has no \"url\""},
        {{"watch", "--cameras", urlNumber}, 2, "entry 1: \"url\" is not a text"},
        {{"watch", url, "--cameras", twice}, 2, "camera " + url + " given twice"},
        {{"watch", "--camera", url, "--cameras", badUrl, "--duration", "1"},
         2,
         "bad URL 'ftp://127.0.0.1/x'"},
        {{"watch", url, "--camera", closedUrl, "--pin", std::string(64, 'a')},
         2,
         "--pin names one camera's certificate"},
        {{"discover", "http://127.0.0.1:70000/x"}, 2, "bad port '70000'"},
        {{"watch", "http:///onvif"}, 2, "no host"},
        {{"watch", closedUrl, "--duration", "1"},
         3,
         "camera unreachable: cannot connect to 127.0.0.1:"},
        {{"discover", closedUrl}, 3, "Connection refused"},
        {{"discover", url, "--user", "admin", "--password", "wrong"},
         4,
         "camera refused authentication for user 'admin'"},
        {{"watch", url, "--user", "admin", "--password", "wrong", "--duration", "1"},
         4,
         "camera refused authentication for user 'admin'"},
        {{"watch", url, "--pull", "--user", "admin", "--password", "wrong", "--duration", "1"},
         4,
         "camera refused authentication for user 'admin'"},
        {{"discover", url}, 4, "camera requires credentials"},
        {{"discover", camera.baseUrl() + "/no/service", "--user", "admin", "--password", "secret"},
         5,
         "GetEventProperties failed: the camera answered HTTP 404"},
        // The library's lines shown do not take the explanation's place.
        {{"discover", camera.baseUrl() + "/no/service", "--user", "admin", "--password", "secret",
          "-v"},
         5,
         "GetEventProperties failed: the camera answered HTTP 404"},
        {{"bogus"}, 2, "unknown command 'bogus'"},
        {{"sim", "--port", std::to_string(camera.port()), "--duration", "1"},
         3,
         "cannot serve on 127.0.0.1:" + std::to_string(camera.port())},
        {{"watch", url, "--scope", "all"}, 2, "--scope"},
        {{"sim", "--events", "/nonexistent/events.xml", "--duration", "1"}, 2, "events.xml"},
        {{"sim", "--topics", "/nonexistent/topics.xml", "--duration", "1"}, 2, "topics.xml"},
        {{"watch", url, "--pull", "--scope", "smart"}, 2, "--scope chooses push subscriptions"},
        {{"watch", url, "--listen-port", "0"}, 2, "--listen-port"},
        {{"watch", url, "--listen-port", "65536"}, 2, "--listen-port"},
        {{"watch", url, "--duration", "1e300"}, 2, "--duration: must be 0 to 31622400 seconds"},
        {{"watch", url, "--duration", std::string(300, '9')}, 2, "--duration: must be 0 to"},
        {{"watch", url, "--renew-interval", "0.5"}, 2, "--renew-interval: must be 1 to 50"},
        {{"sim", "--interval", "nan"}, 2, "--interval: must be 0 to 3600 seconds"},
    };
    for (const Case &c : cases) {
        std::string joined;
        for (const std::string &a : c.args) {
            joined += a + " ";
        }
        SCOPED_TRACE(joined);
        ToolRun run = runTool(c.args, 20);
        EXPECT_EQ(c.status, run.status) << run.out << run.err;
        EXPECT_NE(std::string::npos, run.err.find(c.message)) << run.err;
        // The tool's own lines, without the library's that -v shows.
        std::vector<std::string> own;
        for (const std::string &line : lines(run.err)) {
            if (line.rfind("  [lib ", 0) != 0) {
                own.push_back(line);
            }
        }
        if (c.status != 2 || joined.rfind("--scope") == std::string::npos) {
            ASSERT_EQ(1u, own.size()) << run.err;
            // A refused value is named by its bounds, never echoed at length.
            EXPECT_LT(own[0].size(), 200u) << run.err;
        }
        EXPECT_LT(run.seconds, 15.0);
    }
    // The refused credentials never reached a subscription.
    EXPECT_TRUE(camera.subscriptions().empty());

    // A wrong password costs the camera one request: the tool explains the refusal from what
    // the library saw and asks nothing more.
    camera.clearRequests();
    ToolRun refused = runTool({"discover", url, "--user", "admin", "--password", "wrong"}, 20);
    EXPECT_EQ(4, refused.status) << refused.err;
    EXPECT_EQ(1u, camera.requests().size());
    EXPECT_EQ(std::string::npos, (refused.out + refused.err).find("wrong"));
}

// A SOAP 1.2 Sender fault as a camera answers it.
camsim::Reply senderFault(int status, const std::string &subcode, const std::string &reason)
{
    return camsim::Reply{
        status, std::string("<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"") +
                    camsim::ns::kSoapEnv + "\" xmlns:ter=\"" + camsim::ns::kTer +
                    "\"><s:Body><s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>" +
                    subcode + "</s:Value></s:Subcode></s:Code><s:Reason><s:Text xml:lang=\"en\">" +
                    reason + "</s:Text></s:Reason></s:Fault></s:Body></s:Envelope>"};
}

// A camera that fails chosen requests: the n-th request (counted from 1) of an operation at a
// path prefix gets a fault while n is in [first, last].
struct FailRule {
    std::string operation;
    std::string pathPrefix;
    int first = 1;
    int last = 1000;
    int status = 400;
    std::string subcode;
    std::string reason;
};

// Renewals, new subscriptions, pulls and the unsubscription that fail: each failure is reported
// with the camera's reason, a lost subscription or pull point is made again with growing delays,
// and the exit status says whether a failure was left unrecovered.
TEST(ToolRecovery, FailedStepsAreExplainedRecoveredOrCounted)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    const FailRule goneRenew{"Renew",
                             "/onvif/subscription/1",
                             1,
                             1000,
                             400,
                             "ter:ResourceUnknown",
                             "no such subscription"};
    struct Case {
        const char *what;
        std::vector<FailRule> rules;
        std::vector<std::string> extraArgs;
        int status;
        std::vector<std::string> statusLines; // in this order
        std::string unsubscribedPath;         // "" when nothing is left to unsubscribe
        int pushTo;                           // subscription to push one motion event to
    };
    const Case cases[] = {
        {"the camera dropped the subscription; the second new one works",
         {goneRenew, {"Subscribe", "/onvif/event_service", 2, 2, 500, "ter:Busy", "rebooting"}},
         {"--renew-interval", "1", "--duration", "7"},
         0,
         {"renew failed: HTTP 400, ter:ResourceUnknown: no such subscription",
          "subscription lost (HTTP 400, ter:ResourceUnknown: no such subscription); making a new "
          "one in 1 s",
          "new subscription failed (HTTP 500, ter:Busy: rebooting); next try in 2 s",
          "new subscription: common alarms at "},
         "/onvif/subscription/2",
         2},
        {"the camera takes no new subscription",
         {goneRenew, {"Subscribe", "/onvif/event_service", 2, 1000, 500, "ter:Busy", "rebooting"}},
         {"--renew-interval", "1", "--duration", "5"},
         1,
         {"renew failed: HTTP 400, ter:ResourceUnknown", "next try in 2 s",
          "nothing to unsubscribe"},
         "",
         0},
        {"the unsubscription is refused",
         {{"Unsubscribe", "/onvif/subscription/", 1, 1000, 400, "ter:InvalidArgVal", "busy"}},
         {"--duration", "2"},
         1,
         {"unsubscribe failed: HTTP 400, ter:InvalidArgVal: busy", "unsubscribed -> 112"},
         "/onvif/subscription/1",
         0},
        {"the camera says the pull point is gone",
         {{"PullMessages", "/onvif/pullpoint/1", 1, 1000, 400, "ter:ResourceUnknown",
           "no such pull point"}},
         {"--pull", "--duration", "4"},
         0,
         {"pull failed: HTTP 400, ter:ResourceUnknown: no such pull point",
          "pull point lost (HTTP 400, ter:ResourceUnknown: no such pull point); making a new one "
          "in 1 s",
          "new pull point: http://127.0.0.1:"},
         "/onvif/pullpoint/2",
         0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto counts = std::make_shared<std::map<std::string, int>>();
        auto countLock = std::make_shared<std::mutex>();
        camsim::Config config;
        config.topicSetXml = kMotionTopics;
        std::vector<FailRule> rules = c.rules;
        config.interceptor =
            [=](const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
            for (const FailRule &rule : rules) {
                if (request.operation != rule.operation ||
                    request.path.rfind(rule.pathPrefix, 0) != 0) {
                    continue;
                }
                std::lock_guard<std::mutex> guard(*countLock);
                int n = ++(*counts)[rule.operation + rule.pathPrefix];
                if (n >= rule.first && n <= rule.last) {
                    return senderFault(rule.status, rule.subcode, rule.reason);
                }
            }
            return std::nullopt;
        };
        camsim::CameraSim sim(config);
        sim.start();
        std::vector<std::string> args = {"watch", sim.eventServiceUrl(), "--listen-port",
                                         listenPortArg()};
        args.insert(args.end(), c.extraArgs.begin(), c.extraArgs.end());
        auto watch = std::async(std::launch::async, [&] {
            return runTool(args, 30, {"ONVIF_USER=admin", "ONVIF_PASSWORD=secret"});
        });
        if (c.pushTo > 0) {
            auto until = Clock::now() + std::chrono::seconds(10);
            while (!sim.subscription(c.pushTo) && Clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            EXPECT_TRUE(sim.subscription(c.pushTo).has_value());
            EXPECT_TRUE(sim.notify(c.pushTo, {motion("true")}).sent);
        }
        ToolRun run = watch.get();
        EXPECT_EQ(c.status, run.status) << run.out << run.err;
        size_t at = 0;
        for (const std::string &line : c.statusLines) {
            size_t found = run.out.find(line, at);
            EXPECT_NE(std::string::npos, found) << line << "\n" << run.out;
            at = found == std::string::npos ? at : found;
        }
        if (c.pushTo > 0) {
            EXPECT_NE(std::string::npos, run.out.find("motion                     1  active"))
                << run.out;
        }
        auto unsubscribes = sim.requests("Unsubscribe");
        if (c.unsubscribedPath.empty()) {
            EXPECT_TRUE(unsubscribes.empty());
        } else {
            ASSERT_EQ(1u, unsubscribes.size());
            EXPECT_EQ(c.unsubscribedPath, unsubscribes[0].path);
        }
    }
}

// watch --pull never floods a camera: at most about two pulls a second when the camera answers
// at once, and pulls it fails are tried again 1, 2, 4 ... s apart, one line each, with a line
// when they work again.
TEST(ToolWatchPull, PacedAndBackedOffWhenTheCameraFails)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    struct Case {
        const char *what;
        int failedPulls;  // the first n pulls get HTTP 503
        size_t mostPulls; // in the 5 s watch
        int status;
        std::vector<std::string> statusLines; // in this order
    };
    const Case cases[] = {
        {"the camera answers every pull at once", 0, 12, 0, {}},
        {"the camera fails every pull",
         1000,
         4,
         1,
         {"pull failed (HTTP 503", "next try in 1 s", "pull failed again (HTTP 503",
          "next try in 2 s"}},
        {"the camera fails two pulls",
         2,
         10,
         0,
         {"pull failed (HTTP 503", "pull failed again (HTTP 503", "next try in 2 s",
          "pull works again after 2 attempt(s)"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto pulls = std::make_shared<std::atomic<int>>(0);
        camsim::Config config;
        config.topicSetXml = kMotionTopics;
        config.maxPullWait = std::chrono::milliseconds(0); // ignores the pull's wait
        config.interceptor =
            [pulls, failing = c.failedPulls](
                const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
            if (request.operation == "PullMessages" && ++*pulls <= failing) {
                return camsim::Reply{503, "busy", "text/plain"};
            }
            return std::nullopt;
        };
        camsim::CameraSim sim(config);
        sim.start();
        ToolRun run = runTool({"watch", sim.eventServiceUrl(), "--pull", "--duration", "5",
                               "--user", "admin", "--password", "secret"},
                              30);
        EXPECT_EQ(c.status, run.status) << run.out << run.err;
        size_t count = sim.requests("PullMessages").size();
        EXPECT_GE(count, 2u) << run.out;
        EXPECT_LE(count, c.mostPulls) << run.out;
        size_t at = 0;
        for (const std::string &line : c.statusLines) {
            size_t found = run.out.find(line, at);
            EXPECT_NE(std::string::npos, found) << line << "\n" << run.out;
            at = found == std::string::npos ? at : found;
        }
    }
}

// One camera of a watch drops its subscription: that camera alone makes a new one (its lines
// say so, under its name) and its events come through the hub again; the other camera's watch
// goes on untouched.
TEST(ToolWatchCameras, ACameraThatDropsItsSubscriptionRecoversAlone)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    camsim::Config steady;
    steady.topicSetXml = kMotionTopics;
    camsim::Config dropping = steady;
    dropping.interceptor =
        [](const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
        if (request.operation == "Renew" &&
            request.path == camsim::CameraGroup::pathPrefix(1) + "/onvif/subscription/1") {
            return senderFault(400, "ter:ResourceUnknown", "no such subscription");
        }
        return std::nullopt;
    };
    camsim::CameraGroup group({steady, dropping});
    group.start();
    const std::string first = group.camera(0).eventServiceUrl();
    const std::string second = group.camera(1).eventServiceUrl();
    auto watch = std::async(std::launch::async, [&] {
        return runTool({"watch", "--camera", first, "--camera", second, "--renew-interval", "1",
                        "--duration", "5", "--listen-port", listenPortArg()},
                       30, {"ONVIF_USER=admin", "ONVIF_PASSWORD=secret"});
    });
    auto until = Clock::now() + std::chrono::seconds(10);
    while (!group.camera(1).subscription(2) && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(group.camera(1).notify(2, {motion("true")}).sent);
    ToolRun run = watch.get();
    EXPECT_EQ(0, run.status) << run.out << run.err;
    size_t lost = run.out.find("[" + second +
                               "] subscription lost (HTTP 400, ter:ResourceUnknown: no such "
                               "subscription); making a new one in 1 s");
    EXPECT_NE(std::string::npos, lost) << run.out;
    EXPECT_NE(std::string::npos,
              run.out.find("[" + second + "] new subscription: common alarms at " +
                               group.camera(1).baseUrl() + "/camera/2/onvif/subscription/2",
                           lost == std::string::npos ? 0 : lost))
        << run.out;
    bool motionOfSecond = false;
    for (const std::string &line : lines(run.out)) {
        motionOfSecond = motionOfSecond ||
                         (line.rfind("[" + second + "] ", 0) == 0 &&
                          line.find("motion                     1  active") != std::string::npos);
        EXPECT_EQ(std::string::npos, line.find("[" + first + "] subscription lost")) << line;
    }
    EXPECT_TRUE(motionOfSecond) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("[" + first + "] renew -> 0 ok")) << run.out;
    EXPECT_EQ(1u, group.camera(0).requests("Subscribe").size());
    EXPECT_EQ(2u, group.camera(1).requests("Subscribe").size());
    auto unsubscribes = group.camera(1).requests("Unsubscribe");
    ASSERT_EQ(1u, unsubscribes.size());
    EXPECT_EQ("/camera/2/onvif/subscription/2", unsubscribes[0].path);
    EXPECT_TRUE(group.camera(0).subscriptions().empty());
}

// A camera that goes away (switched off) and comes back without its pull points: the pulls in
// between are backed off, and a new pull point is made once it answers again.
TEST(ToolWatchPull, CameraThatGoesAwayAndComesBack)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    camsim::Config config;
    config.topicSetXml = kMotionTopics;
    auto sim = std::make_unique<camsim::CameraSim>(config);
    sim->start();
    config.port = sim->port();
    auto watch = std::async(std::launch::async, [&] {
        return runTool({"watch", sim->eventServiceUrl(), "--pull", "--duration", "8", "--user",
                        "admin", "--password", "secret"},
                       30);
    });
    auto until = Clock::now() + std::chrono::seconds(10);
    while (sim->requests("PullMessages").empty() && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    sim->stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    camsim::CameraSim back(config);
    back.start();
    ToolRun run = watch.get();
    EXPECT_EQ(0, run.status) << run.out << run.err;
    size_t failed = 0;
    for (const std::string &line : lines(run.out)) {
        failed += line.find("pull failed") != std::string::npos ? 1 : 0;
    }
    // Tries at 0, 1 and 3 s of the outage, the last one finding the pull point gone.
    EXPECT_GE(failed, 2u) << run.out;
    EXPECT_LE(failed, 4u) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("pull failed (cannot connect to 127.0.0.1:"))
        << run.out;
    EXPECT_NE(std::string::npos, run.out.find("new pull point: " + back.baseUrl())) << run.out;
    EXPECT_EQ(1u, back.requests("CreatePullPointSubscription").size());
    EXPECT_EQ(1u, back.requests("Unsubscribe").size());
}

// The password was changed at the camera during a watch: the watch ends at once with status 4,
// and the refused credentials are not tried again (cameras lock an account out after a few
// failures), not even to unsubscribe.
TEST(ToolCredentials, RefusedDuringAWatchEndItAtOnce)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    struct Case {
        const char *what;
        std::vector<std::string> args;
        const char *lastAccepted; // requests after this one are refused
    };
    const Case cases[] = {
        {"push", {"--renew-interval", "1", "--listen-port", listenPortArg()}, "Subscribe"},
        {"pull", {"--pull"}, "PullMessages"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto changed = std::make_shared<std::atomic<bool>>(false);
        auto refused = std::make_shared<std::atomic<int>>(0);
        camsim::Config config;
        config.topicSetXml = kMotionTopics;
        config.interceptor =
            [=](const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
            if (*changed) {
                ++*refused;
                return senderFault(400, "ter:NotAuthorized", "Sender not Authorized");
            }
            *changed = request.operation == c.lastAccepted;
            return std::nullopt;
        };
        camsim::CameraSim sim(config);
        sim.start();
        std::vector<std::string> args = {
            "watch", sim.eventServiceUrl(), "--duration", "20", "--user",
            "admin", "--password",          "secret"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolRun run = runTool(args, 30);
        EXPECT_EQ(4, run.status) << run.out << run.err;
        EXPECT_NE(std::string::npos, run.err.find("camera refused authentication for user 'admin'"))
            << run.err;
        EXPECT_LT(run.seconds, 10.0);
        // One refused request: the camera's clock agrees, so the library has no reason to retry.
        EXPECT_EQ(1, *refused) << run.out << run.err;
        EXPECT_TRUE(sim.requests("Unsubscribe").empty());
    }
}

// A listening socket whose connections the kernel accepts and nobody ever answers.
struct SilentCamera {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    SilentCamera()
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        listen(fd, 8);
        socklen_t len = sizeof addr;
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
        port = ntohs(addr.sin_port);
    }
    ~SilentCamera() { close(fd); }
    // Connections made so far: each waits in the accept queue, also after its client left.
    int connections()
    {
        int count = 0;
        for (;;) {
            int c = accept4(fd, nullptr, nullptr, SOCK_NONBLOCK);
            if (c < 0 && errno != EINTR) {
                return count;
            }
            if (c >= 0) {
                close(c);
                ++count;
            }
        }
    }
    std::string url() const
    {
        return "http://127.0.0.1:" + std::to_string(port) + "/onvif/event_service";
    }
};

TEST(ToolSilentCamera, ReportedUnreachableAfterTheRequestTimeOutWithProgress)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    SilentCamera camera;
    fcntl(camera.fd, F_SETFL, O_NONBLOCK);
    ToolRun run = runTool({"watch", camera.url(), "--user", "admin", "--password", "secret"}, 20);
    EXPECT_EQ(3, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos, run.err.find("camera at 127.0.0.1:" + std::to_string(camera.port) +
                                              " sent no answer to GetEventProperties ("))
        << run.err;
    // The request's own connection only: no probe before it.
    EXPECT_EQ(1, camera.connections());
    EXPECT_NE(std::string::npos,
              run.out.find("waiting for the camera's answer to GetEventProperties (2 s)"))
        << run.out;
    EXPECT_GT(run.seconds, 4.5);
    EXPECT_LT(run.seconds, 9.0);
}

// Ctrl-C ends the watch within a second whatever it waits for; a subscription it holds is still
// ended.
TEST(ToolCtrlC, EndsWithinASecondAlsoDuringARequest)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    SilentCamera silent;
    ToolRun waiting = runTool({"watch", silent.url(), "--user", "admin", "--password", "secret"},
                              20, {}, [started = Clock::now()] {
                                  return Clock::now() - started > std::chrono::milliseconds(1500);
                              });
    ASSERT_GE(waiting.interruptedAt, 0);
    EXPECT_LT(waiting.seconds - waiting.interruptedAt, 1.0) << waiting.out << waiting.err;
    EXPECT_EQ(0, waiting.status) << waiting.out << waiting.err;
    EXPECT_NE(std::string::npos,
              waiting.out.find("stopped while waiting for the answer to GetEventProperties"));

    // A camera that holds every Renew for four seconds (requests are recorded once answered).
    auto renewArrived = std::make_shared<std::atomic<bool>>(false);
    camsim::Config config;
    config.topicSetXml = kMotionTopics;
    config.interceptor =
        [renewArrived](const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
        if (request.operation == "Renew") {
            *renewArrived = true;
            std::this_thread::sleep_for(std::chrono::seconds(4));
        }
        return std::nullopt;
    };
    camsim::CameraSim sim(config);
    sim.start();
    ToolRun renewing =
        runTool({"watch", sim.eventServiceUrl(), "--user", "admin", "--password", "secret",
                 "--renew-interval", "1", "--listen-port", listenPortArg()},
                20, {}, [renewArrived] { return renewArrived->load(); });
    ASSERT_GE(renewing.interruptedAt, 0);
    EXPECT_LT(renewing.seconds - renewing.interruptedAt, 1.0) << renewing.out << renewing.err;
    EXPECT_EQ(0, renewing.status) << renewing.out << renewing.err;
    EXPECT_NE(std::string::npos,
              renewing.out.find("stopped while waiting for the answer to Renew"));
    EXPECT_NE(std::string::npos, renewing.out.find("unsubscribed -> 0 ok"));
    EXPECT_EQ(1u, sim.requests("Unsubscribe").size());
    EXPECT_TRUE(sim.subscriptions().empty());
}

// Ctrl-C during a watch of several cameras, one of them silent: the watch still ends within a
// second, each camera that was subscribed is unsubscribed (however slowly it answers), and the
// silent one says what it was waiting for.
TEST(ToolCtrlC, EveryCameraOfAWatchIsUnsubscribed)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    SilentCamera silent;
    camsim::Config config;
    config.topicSetXml = kMotionTopics;
    config.interceptor =
        [](const camsim::RecordedRequest &request) -> std::optional<camsim::Reply> {
        if (request.operation == "Unsubscribe") {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
        }
        return std::nullopt;
    };
    camsim::CameraGroup group(std::vector<camsim::Config>(2, config));
    group.start();
    ToolRun run = runTool({"watch", "--camera", group.camera(0).eventServiceUrl(), "--camera",
                           silent.url(), "--camera", group.camera(1).eventServiceUrl(), "--user",
                           "admin", "--password", "secret", "--listen-port", listenPortArg()},
                          20, {}, [&group] {
                              return group.camera(0).subscription(1).has_value() &&
                                     group.camera(1).subscription(1).has_value();
                          });
    ASSERT_GE(run.interruptedAt, 0);
    EXPECT_LT(run.seconds - run.interruptedAt, 1.0) << run.out << run.err;
    EXPECT_EQ(0, run.status) << run.out << run.err;
    EXPECT_NE(std::string::npos,
              run.out.find("[" + silent.url() +
                           "] stopped while waiting for the answer to GetEventProperties"))
        << run.out;
    for (size_t k = 0; k < group.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_NE(std::string::npos,
                  run.out.find("[" + group.camera(k).eventServiceUrl() + "] unsubscribed -> 0 ok"))
            << run.out;
        EXPECT_EQ(1u, group.camera(k).requests("Unsubscribe").size());
        EXPECT_TRUE(group.camera(k).subscriptions().empty());
    }
}

// Every way out of watch that the program can catch ends what it holds at the camera: killed
// without it, the camera would go on pushing to the port until the subscription runs out, and
// the next watch on that port would report those events as well.
TEST(ToolStop, EveryCaughtWayOutUnsubscribes)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    struct Case {
        const char *what;
        int signal;
        bool pull;
    };
    const Case cases[] = {
        {"SIGTERM, push", SIGTERM, false},
        {"SIGHUP (terminal closed), push", SIGHUP, false},
        {"SIGHUP, pull point", SIGHUP, true},
        {"the output's reader went away, push", kCloseOutput, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        camsim::Config config;
        config.topicSetXml = kMotionTopics;
        camsim::CameraSim sim(config);
        sim.start();
        std::vector<std::string> args = {"watch", sim.eventServiceUrl(), "--user",
                                         "admin", "--password",          "secret"};
        if (c.pull) {
            args.push_back("--pull");
        } else {
            args.insert(args.end(), {"--listen-port", listenPortArg()});
        }
        auto stopped = std::make_shared<std::atomic<bool>>(false);
        auto watch = std::async(std::launch::async, [&] {
            return runTool(
                args, 20, {},
                [&sim, stopped] {
                    *stopped = !sim.subscriptions().empty();
                    return stopped->load();
                },
                c.signal);
        });
        if (c.signal == kCloseOutput) {
            // The next report cannot be written: that ends the watch.
            auto until = Clock::now() + std::chrono::seconds(10);
            while (!*stopped && Clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            for (int i = 0; i < 2; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                sim.notify(1, {motion("true")});
            }
        }
        ToolRun run = watch.get();
        ASSERT_GE(run.interruptedAt, 0);
        EXPECT_EQ(0, run.status) << run.out << run.err;
        EXPECT_LT(run.seconds - run.interruptedAt, 3.0);
        auto unsubscribes = sim.requests("Unsubscribe");
        ASSERT_EQ(1u, unsubscribes.size()) << run.out << run.err;
        EXPECT_EQ(200, unsubscribes[0].responseStatus);
        EXPECT_TRUE(sim.subscriptions().empty());
    }
}

TEST(ToolOptions, VersionHelpAndDiscoverJson)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ToolRun version = runTool({"--version"}, 10);
    EXPECT_EQ(0, version.status);
    EXPECT_EQ(0u, version.out.rfind("onvif-events 1.", 0)) << version.out;
    EXPECT_NE(std::string::npos, version.out.find("(library 1.")) << version.out;

    ToolRun help = runTool({"watch", "--help"}, 10);
    EXPECT_EQ(0, help.status);
    for (const char *text :
         {"Exit statuses: 0 ok;", "3 camera unreachable or silent", "(default 23000;",
          "--renew-interval FLOAT:SECONDS in 1 to 50 "
          "seconds=20"}) {
        EXPECT_NE(std::string::npos, help.out.find(text)) << text << "\n" << help.out;
    }

    camsim::Config config;
    config.topicSetXml = kMotionTopics;
    camsim::CameraSim sim(config);
    sim.start();
    ToolRun discover = runTool(
        {"discover", sim.eventServiceUrl(), "--json", "--user", "admin", "--password", "secret"},
        10);
    ASSERT_EQ(0, discover.status) << discover.err;
    auto json = nlohmann::json::parse(discover.out);
    EXPECT_EQ(sim.eventServiceUrl(), json["url"]);
    ASSERT_EQ(1u, json["templates"].size());
    EXPECT_EQ(1, json["templates"][0]["code"]);
    EXPECT_EQ("motion", json["templates"][0]["alarm"]);
    EXPECT_EQ("Source", json["templates"][0]["source"][0]["name"]);
    // The topic path as the camera's topic set names it.
    EXPECT_EQ("VideoSource/MotionAlarm", json["templates"][0].value("topic", "(none)"));
    EXPECT_EQ(false, json["smart"]["reports"]);
}

// The simulator as clients other than the library use it: a Renew and an Unsubscribe without the
// subscription id header at the subscription's own address.
TEST(ToolSim, ServesClientsThatDoNotEchoReferenceParameters)
{
    camsim::CameraSim sim;
    sim.start();
    auto post = [&](const std::string &path, const std::string &body) {
        std::string envelope = std::string("<s:Envelope xmlns:s=\"") + camsim::ns::kSoapEnv +
                               "\" xmlns:wsnt=\"" + camsim::ns::kWsnt + "\" xmlns:wsa5=\"" +
                               camsim::ns::kWsa5 + "\"><s:Header>" +
                               camsim::securityHeader("admin", "secret") + "</s:Header><s:Body>" +
                               body + "</s:Body></s:Envelope>";
        std::string url = sim.baseUrl() + path;
        return camsim::sendRaw(url, camsim::buildHttpPost(url, envelope)).status;
    };
    ASSERT_EQ(200, post("/onvif/event_service",
                        "<wsnt:Subscribe><wsnt:ConsumerReference><wsa5:Address>http://"
                        "127.0.0.1:9/</wsa5:Address></wsnt:ConsumerReference></wsnt:Subscribe>"));
    ASSERT_TRUE(sim.subscription(1).has_value());
    ASSERT_TRUE(sim.subscription(1)->hasReferenceParameters);
    EXPECT_EQ(200, post("/onvif/subscription/1",
                        "<wsnt:Renew><wsnt:TerminationTime>PT60S</wsnt:TerminationTime>"
                        "</wsnt:Renew>"));
    EXPECT_EQ(1, sim.subscription(1)->renewCount);
    EXPECT_EQ(200, post("/onvif/subscription/1", "<wsnt:Unsubscribe/>"));
    EXPECT_TRUE(sim.subscriptions().empty());
}

// sim --cameras 3: one port, three cameras, each at its own paths with its own pull points and
// its own event stream (camera k's starting at its k-th event).
TEST(ToolSim, SeveralCamerasOnOnePortEachAtItsOwnPaths)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ClosedPort reserved;
    std::string port = std::to_string(reserved.port);
    close(reserved.fd);
    reserved.fd = -1;
    auto sim = std::async(std::launch::async, [&] {
        return runTool({"sim", "--cameras", "3", "--port", port, "--duration", "6"}, 20);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string base = "http://127.0.0.1:" + port;
    std::vector<std::string> urls;
    for (int k = 1; k <= 3; ++k) {
        urls.push_back(base + "/camera/" + std::to_string(k) + "/onvif/event_service");
    }
    ToolRun watch =
        runTool({"watch", "--pull", "--camera", urls[0], "--camera", urls[1], "--camera", urls[2],
                 "--user", "admin", "--password", "secret", "--duration", "2", "--json"},
                20);
    ToolRun camera = sim.get();
    ASSERT_EQ(0, watch.status) << watch.out << watch.err << camera.out << camera.err;
    EXPECT_EQ(0, camera.status) << camera.err;
    std::map<std::string, std::vector<int>> codes;
    for (const std::string &line : lines(watch.out)) {
        auto json = nlohmann::json::parse(line);
        codes[json["camera"]].push_back(json["code"]);
    }
    // Camera 1 sends the events of a sim of one camera; camera 2 starts at the second event (an
    // initial state), camera 3 at the third.
    const std::vector<int> &first = kDemoEventCodes;
    EXPECT_EQ(first, codes[urls[0]]) << watch.out;
    std::vector<int> second(first.begin() + 1, first.end());
    second.push_back(1);
    EXPECT_EQ(second, codes[urls[1]]) << watch.out;
    ASSERT_FALSE(codes[urls[2]].empty()) << watch.out;
    EXPECT_EQ(std::vector<int>(first.begin() + 2, first.begin() + 4),
              std::vector<int>(codes[urls[2]].begin(), codes[urls[2]].begin() + 2));
    // The banner names each camera's URL; each camera sees only requests at its own paths.
    for (int k = 1; k <= 3; ++k) {
        const std::string label = "camera " + std::to_string(k) + ": ";
        EXPECT_NE(std::string::npos, camera.out.find(label + "camera event service " + urls[k - 1]))
            << camera.out;
        size_t requests = 0;
        for (const std::string &line : lines(camera.out)) {
            if (line.rfind(label + "request ", 0) == 0) {
                ++requests;
                EXPECT_NE(std::string::npos, line.find(" /camera/" + std::to_string(k) + "/onvif/"))
                    << line;
            }
        }
        EXPECT_GE(requests, 4u) << camera.out; // properties, pull point, pulls, unsubscribe
        EXPECT_NE(std::string::npos, camera.out.find(label + "pull point 1: 16 event(s) queued"))
            << camera.out;
    }
}

// Two recorders pull from the program's own sim at the same time: each pull point has its own
// queue, so each gets every event once and in order.
TEST(ToolSim, EachPullPointGetsEveryEvent)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ClosedPort reserved;
    std::string port = std::to_string(reserved.port);
    close(reserved.fd);
    reserved.fd = -1;
    auto sim = std::async(std::launch::async, [&] {
        return runTool({"sim", "--port", port, "--duration", "8"}, 20);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto pull = [&] {
        return runTool({"watch", "http://127.0.0.1:" + port + "/onvif/event_service", "--user",
                        "admin", "--password", "secret", "--pull", "--duration", "5", "--json"},
                       20);
    };
    auto first = std::async(std::launch::async, pull);
    auto second = std::async(std::launch::async, pull);
    for (ToolRun run : {first.get(), second.get()}) {
        ASSERT_EQ(0, run.status) << run.out << run.err;
        std::vector<int> codes;
        for (const std::string &line : lines(run.out)) {
            codes.push_back(nlohmann::json::parse(line)["code"]);
        }
        EXPECT_EQ(kDemoEventCodes, codes) << run.out;
    }
    EXPECT_EQ(0, sim.get().status);
}

} // namespace

// An https:// camera with a self-signed certificate: refused as it is, accepted when pinned to
// the fingerprint the fingerprint command shows (trust on first use) or with --insecure.
TEST(ToolTls, FingerprintPinAndInsecure)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    camsim::Config config;
    config.tls = camsim::makeIdentity({});
    camsim::CameraSim camera(config);
    camera.start();
    const std::string url = camera.eventServiceUrl();

    ToolRun fingerprint = runTool({"fingerprint", url}, 20);
    ASSERT_EQ(0, fingerprint.status) << fingerprint.err;
    EXPECT_EQ(config.tls->fingerprint + "\n", fingerprint.out);

    const std::vector<std::string> credentials = {"--user", "admin", "--password", "secret"};
    auto discover = [&](std::vector<std::string> extra) {
        std::vector<std::string> args = {"discover", url};
        args.insert(args.end(), credentials.begin(), credentials.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args, 20);
    };
    ToolRun refused = discover({});
    EXPECT_EQ(5, refused.status);
    EXPECT_NE(std::string::npos,
              refused.err.find("TLS certificate of 127.0.0.1 refused (unknown issuer), SHA-256 " +
                               config.tls->fingerprint))
        << refused.err;
    EXPECT_EQ(1u, lines(refused.err).size()) << refused.err;
    EXPECT_TRUE(camera.requests().empty());

    ToolRun pinned = discover({"--pin", config.tls->fingerprint});
    EXPECT_EQ(0, pinned.status) << pinned.err;
    EXPECT_NE(std::string::npos, pinned.out.find("alarm templates")) << pinned.out;
    ToolRun insecure = discover({"--insecure"});
    EXPECT_EQ(0, insecure.status) << insecure.err;

    ToolRun badPin = discover({"--pin", "12:34"});
    EXPECT_EQ(2, badPin.status);
    EXPECT_NE(std::string::npos, badPin.err.find("--pin")) << badPin.err;
    ToolRun plainUrl = runTool({"fingerprint", camera.baseUrl().replace(0, 5, "http")}, 20);
    EXPECT_EQ(2, plainUrl.status);
}

namespace
{

// A camera's message with the given operation ("Changed", "Initialized"), Source and Data items
// written as NAME=VALUE pairs.
std::string cameraMessage(const std::string &topic, const char *operation,
                          const std::vector<std::pair<std::string, std::string>> &source,
                          const std::vector<std::pair<std::string, std::string>> &data)
{
    auto items = [](const std::vector<std::pair<std::string, std::string>> &list) {
        std::string text;
        for (const auto &[name, value] : list) {
            text += "<tt:SimpleItem Name=\"" + name + "\" Value=\"" + value + "\"/>";
        }
        return text;
    };
    return camsim::makeNotificationMessage(
        topic, std::string("<tt:Message UtcTime=\"2026-12-10T01:00:00Z\" PropertyOperation=\"") +
                   operation + "\"><tt:Source>" + items(source) + "</tt:Source><tt:Data>" +
                   items(data) + "</tt:Data></tt:Message>");
}

// The JSON report lines of a watch.
std::vector<nlohmann::json> jsonReports(const ToolRun &run)
{
    std::vector<nlohmann::json> reports;
    for (const std::string &line : lines(run.out)) {
        reports.push_back(nlohmann::json::parse(line));
    }
    return reports;
}

} // namespace

// A camera whose alarm input is already active and which has a line-crossing rule when the
// recorder subscribes sends both as "Initialized" messages: pushed right after Subscribe, or
// queued for the new pull point. watch reports the input's state and not the line crossing (a
// crossing has no state to report); with --no-initial-states neither.
TEST(ToolInitialStates, AnInputActiveAtSubscriptionIsReported)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    const std::vector<std::string> initial = {
        cameraMessage("tns1:Device/Trigger/DigitalInput", "Initialized", {{"InputToken", "DI_1"}},
                      {{"LogicalState", "true"}}),
        cameraMessage("tns1:RuleEngine/LineDetector/Crossed", "Initialized",
                      {{"VideoSourceConfigurationToken", "VideoSourceConfig_1"},
                       {"VideoAnalyticsConfigurationToken", "VideoAnalyticsConfig_1"},
                       {"Rule", "Line_1"}},
                      {{"ObjectId", "15"}}),
    };
    struct Case {
        const char *what;
        bool pull;
        bool initialStates;
    };
    const Case cases[] = {
        {"pull", true, true},
        {"push", false, true},
        {"pull, --no-initial-states", true, false},
        {"push, --no-initial-states", false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        camsim::Config config;
        config.topicSetXml = camsim::topicSetOfMessages(initial);
        camsim::CameraSim sim(config);
        sim.start();
        std::vector<std::string> args = {
            "watch", sim.eventServiceUrl(), "--duration", "4", "--json", "--user",
            "admin", "--password",          "secret"};
        if (c.pull) {
            args.push_back("--pull");
            for (const std::string &message : initial) {
                sim.queueMessage(message);
            }
        } else {
            args.insert(args.end(), {"--listen-port", listenPortArg()});
        }
        if (!c.initialStates) {
            args.push_back("--no-initial-states");
        }
        auto watch = std::async(std::launch::async, [&] { return runTool(args, 20); });
        if (!c.pull) {
            ASSERT_TRUE(sim.waitForRequests(2, std::chrono::seconds(10)));
            ASSERT_EQ(1u, sim.requests("Subscribe").size());
            camsim::SendResult pushed = sim.notify(1, initial);
            EXPECT_EQ(202, pushed.status) << pushed.error;
        }
        ToolRun run = watch.get();
        ASSERT_EQ(0, run.status) << run.out << run.err;
        std::vector<nlohmann::json> reports = jsonReports(run);
        ASSERT_EQ(c.initialStates ? 1u : 0u, reports.size()) << run.out << run.err;
        if (c.initialStates) {
            EXPECT_EQ(4, reports[0]["code"]);
            EXPECT_EQ(true, reports[0]["active"]);
            EXPECT_EQ(2, reports[0]["channel"]); // DI_1: the number in the token plus 1
            EXPECT_EQ(c.pull ? "pull" : "notify", reports[0]["via"]);
        }
    }
}

// A vendor's topic that the built-in table lacks gives alarms through --topic-rules: discover
// shows its template and watch reports its messages; without the rule they give nothing. A file
// the tool cannot use is refused, naming the line, before the camera is asked anything.
TEST(ToolTopicRules, AVendorTopicBecomesAnAlarmAndABadFileIsRefused)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    const std::string light = cameraMessage("tns1:Device/tnsexample:Light/Status", "Changed",
                                            {{"Token", "Light_1"}}, {{"state", "1"}});
    camsim::Config config;
    config.topicSetXml = camsim::topicSetOfMessages({light});
    camsim::CameraSim sim(config);
    sim.start();
    const std::string rules =
        writeTempFile("rules", "# topic                              code  state item\n"
                               "\n"
                               "tns1:Device/tnsexample:Light/Status    1     state\n"
                               "tnsexample:Storage/Alert               418\n");
    const std::vector<std::string> credentials = {"--user", "admin", "--password", "secret"};
    auto pullWatch = [&](const std::vector<std::string> &extra) {
        sim.queueMessage(light);
        std::vector<std::string> args = {
            "watch", sim.eventServiceUrl(), "--pull", "--duration", "2", "--json"};
        args.insert(args.end(), credentials.begin(), credentials.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args, 20);
    };
    ToolRun without = pullWatch({});
    ASSERT_EQ(0, without.status) << without.err;
    EXPECT_TRUE(jsonReports(without).empty()) << without.out;
    ToolRun with = pullWatch({"--topic-rules", rules});
    ASSERT_EQ(0, with.status) << with.err;
    std::vector<nlohmann::json> reports = jsonReports(with);
    ASSERT_EQ(1u, reports.size()) << with.out << with.err;
    EXPECT_EQ(1, reports[0]["code"]);
    EXPECT_EQ(true, reports[0]["active"]);

    ToolRun discover = runTool({"discover", sim.eventServiceUrl(), "--json", "--topic-rules", rules,
                                "--user", "admin", "--password", "secret"},
                               20);
    ASSERT_EQ(0, discover.status) << discover.err;
    auto templates = nlohmann::json::parse(discover.out)["templates"];
    ASSERT_EQ(1u, templates.size()) << discover.out;
    EXPECT_EQ(1, templates[0]["code"]);

    struct Bad {
        const char *what;
        std::string text;
        std::string says;
    };
    const Bad bads[] = {
        {"a topic without a code", "# vendor\ntns1:Device/Light\n", "line 2: expected"},
        {"a code out of range", "tns1:A/B 1\n\ntns1:A/C 1000 state\n", "line 3: code '1000'"},
        {"a code that is no number", "tns1:A/B motion\n", "line 1: code 'motion'"},
        {"a field too many", "tns1:A/B 1 state extra\n", "line 1: expected"},
        {"a topic the library refuses", "tns1:A/B 1\ntns1://B 1\n", "line 2: the library refuses"},
    };
    size_t asked = sim.requests().size();
    for (const Bad &bad : bads) {
        SCOPED_TRACE(bad.what);
        std::string path = writeTempFile("bad-rules", bad.text);
        for (const char *command : {"watch", "discover"}) {
            ToolRun refused = runTool({command, sim.eventServiceUrl(), "--topic-rules", path}, 10);
            EXPECT_EQ(2, refused.status) << refused.err;
            EXPECT_NE(std::string::npos, refused.err.find(path + " " + bad.says)) << refused.err;
            EXPECT_EQ(1u, lines(refused.err).size()) << refused.err;
        }
    }
    ToolRun missing =
        runTool({"watch", sim.eventServiceUrl(), "--topic-rules", rules + ".none"}, 10);
    EXPECT_EQ(2, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("cannot read")) << missing.err;
    EXPECT_EQ(asked, sim.requests().size());
}

// A camera that answers GetEventProperties with HTTP 501 or an ActionNotSupported fault, or
// advertises an empty topic set: its alarms are matched with the topic table's templates, said in
// one line, and its motion is reported.
TEST(ToolTopicTable, CameraWithoutEventPropertiesFallsBackToTheTable)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    const std::string emptyTopicSet =
        std::string("<?xml version=\"1.0\"?><s:Envelope xmlns:s=\"") + camsim::ns::kSoapEnv +
        "\" xmlns:tev=\"" + camsim::ns::kTev + "\" xmlns:wsnt=\"" + camsim::ns::kWsnt +
        "\" xmlns:wstop=\"" + camsim::ns::kWstop +
        "\"><s:Body><tev:GetEventPropertiesResponse><tev:TopicNamespaceLocation>"
        "http://www.onvif.org/onvif/ver10/topics/topicns.xml</tev:TopicNamespaceLocation>"
        "<wsnt:FixedTopicSet>true</wsnt:FixedTopicSet><wstop:TopicSet/>"
        "<wsnt:TopicExpressionDialect>" +
        camsim::ns::kTopicDialectConcrete +
        "</wsnt:TopicExpressionDialect></tev:GetEventPropertiesResponse></s:Body></s:Envelope>";
    struct Case {
        const char *what;
        camsim::Reply answer;
        std::string line;
    };
    const Case cases[] = {
        {"HTTP 501", camsim::Reply{501, "", "text/plain"}, "GetEventProperties answered HTTP 501"},
        {"ActionNotSupported", senderFault(400, "ter:ActionNotSupported", "not supported"),
         "GetEventProperties answered ter:ActionNotSupported"},
        {"an empty topic set", camsim::Reply{200, emptyTopicSet},
         "GetEventProperties gave no known alarm topic"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        camsim::Config config;
        config.interceptor = [&c](const camsim::RecordedRequest &request) {
            return request.operation == "GetEventProperties" ? std::optional(c.answer)
                                                             : std::nullopt;
        };
        camsim::CameraSim sim(config);
        sim.start();
        sim.queueMessage(motion("true"));
        const std::string line = c.line + "; using the topic table instead: ";
        ToolRun run = runTool({"watch", sim.eventServiceUrl(), "--pull", "--duration", "2",
                               "--user", "admin", "--password", "secret"},
                              20);
        ASSERT_EQ(0, run.status) << run.out << run.err;
        size_t said = run.out.find(line);
        EXPECT_NE(std::string::npos, said) << run.out;
        EXPECT_EQ(std::string::npos, run.out.find(line, said + 1)) << run.out;
        EXPECT_NE(std::string::npos, run.out.find("motion                     1  active"))
            << run.out;
        EXPECT_EQ(1u, sim.requests("GetEventProperties").size());

        ToolRun discover = runTool(
            {"discover", sim.eventServiceUrl(), "--user", "admin", "--password", "secret"}, 20);
        ASSERT_EQ(0, discover.status) << discover.err;
        EXPECT_EQ(0u, discover.out.find(line)) << discover.out;
        EXPECT_NE(std::string::npos, discover.out.find("motion")) << discover.out;
    }
}
