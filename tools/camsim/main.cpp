// Standalone camera simulator: serves the event service on 127.0.0.1 until SIGINT/SIGTERM.
#include "camsim.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <pthread.h>
#include <string>

namespace
{

void usage(const char *argv0)
{
    std::cerr << "usage: " << argv0
              << " [--port N] [--user U] [--password P] [--no-auth] [--topics FILE]"
                 " [--events FILE]\n"
                 "  --topics FILE  GetEventProperties answer (envelope, response element or"
                 " TopicSet content)\n"
                 "  --events FILE  NotificationMessage elements queued for PullMessages\n";
}

} // namespace

int main(int argc, char **argv)
{
    camsim::Config config;
    std::string eventsFile;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "camsim: " << arg << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--port") {
            std::string v = value();
            char *end = nullptr;
            long port = std::strtol(v.c_str(), &end, 10);
            if (!end || *end || port < 0 || port > 65535) {
                std::cerr << "camsim: bad port '" << v << "'\n";
                return 2;
            }
            config.port = static_cast<int>(port);
        } else if (arg == "--user") {
            config.user = value();
        } else if (arg == "--password") {
            config.password = value();
        } else if (arg == "--no-auth") {
            config.requireAuth = false;
        } else if (arg == "--topics") {
            config.topicSetFile = value();
        } else if (arg == "--events") {
            eventsFile = value();
        } else if (arg == "--help" || arg == "-h") {
            usage(argv[0]);
            return 0;
        } else {
            std::cerr << "camsim: unknown option '" << arg << "'\n";
            usage(argv[0]);
            return 2;
        }
    }

    // Block the stop signals in every thread; the main thread waits for them below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        camsim::CameraSim sim(config);
        if (!eventsFile.empty())
            for (const auto &m : camsim::loadNotificationMessages(eventsFile))
                sim.queueMessage(m);
        sim.start();
        std::cout << sim.eventServiceUrl() << std::endl;
        int sig = 0;
        sigwait(&stopSignals, &sig);
        sim.stop();
        std::cerr << "camsim: stopped (" << sig << "), " << sim.requests().size()
                  << " requests served\n";
    } catch (const std::exception &e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
