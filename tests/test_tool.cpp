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
#include <chrono>
#include <cstring>
#include <future>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"

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
};

// Runs the program with the arguments (and extra NAME=VALUE environment entries), killing it
// after timeoutSeconds.
ToolRun runTool(const std::vector<std::string> &args, double timeoutSeconds,
                const std::vector<std::string> &env = {})
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

TEST(ToolDemo, RunsTheWholeLifeAndPasses)
{
    ASSERT_STRNE("", ONVIF_EVENTS_BIN);
    ToolRun run = runTool({"demo"}, 30);
    ASSERT_EQ(0, run.status) << run.out << run.err;
    EXPECT_LT(run.seconds, 15.0);
    for (const char *step : {"1. Discovery", "2. Subscribe", "3. The camera pushes", "4. Renew",
                             "5. The same events through a pull point", "6. Unsubscribe"}) {
        EXPECT_NE(std::string::npos, run.out.find(step)) << step;
    }
    // Both delivery paths give every expected report: 14 per path, 16 events per path.
    EXPECT_NE(std::string::npos, run.out.find("events sent 32, reports expected 28, reports "
                                              "received 28, events with wrong reports 0, failed "
                                              "steps 0"))
        << run.out;
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
    EXPECT_NE(std::string::npos, run.out.find("pull point gone; new pull point " + sim.baseUrl() +
                                              "/onvif/pullpoint/2 -> 0 ok"))
        << run.out;
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
    // The demo camera's events without the demo's channel tables: the codes in order.
    EXPECT_EQ((std::vector<int>{1, 3, 6, 4, 23, 24, 8, 1008, 6, 21, 9, 1, 1003, 1001}), codes)
        << watch.out;
    EXPECT_NE(std::string::npos, camera.out.find("event 16/16 pushed")) << camera.out;
    EXPECT_NE(std::string::npos, camera.out.find("Unsubscribe"));
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
    const Case cases[] = {
        {{"watch", "ftp://127.0.0.1/onvif"}, 2, "bad URL 'ftp://127.0.0.1/onvif'"},
        {{"discover", "http://127.0.0.1:70000/x"}, 2, "bad port '70000'"},
        {{"watch", "http:///onvif"}, 2, "no host"},
        {{"watch", closedUrl, "--duration", "1"}, 3, "cannot reach camera at 127.0.0.1:"},
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
         "camera answered HTTP 404"},
        {{"sim", "--port", std::to_string(camera.port()), "--duration", "1"},
         3,
         "cannot serve on 127.0.0.1:" + std::to_string(camera.port())},
        {{"watch", url, "--scope", "all"}, 2, "--scope"},
        {{"sim", "--events", "/nonexistent/events.xml", "--duration", "1"}, 2, "events.xml"},
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
        if (c.status != 2 || joined.rfind("--scope") == std::string::npos) {
            EXPECT_EQ(1u, lines(run.err).size()) << run.err;
        }
        EXPECT_LT(run.seconds, 15.0);
    }
    // The refused credentials never reached a subscription.
    EXPECT_TRUE(camera.subscriptions().empty());
}

} // namespace
