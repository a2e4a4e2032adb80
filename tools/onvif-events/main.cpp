// onvif-events: drives libvek_onvif_event as a network video recorder does, against a real
// camera or against the built-in camera simulator.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "commands.h"

using namespace onvif_events;

namespace
{

void addCameraOptions(CLI::App *command, CameraOptions &options)
{
    command->add_option("url", options.url, "Camera event service, http://HOST[:PORT]/PATH")
        ->required();
    command->add_option("--user", options.user, "User name (default: $ONVIF_USER)")
        ->envname("ONVIF_USER");
    command->add_option("--password", options.password, "Password (default: $ONVIF_PASSWORD)")
        ->envname("ONVIF_PASSWORD");
    command
        ->add_option("--channel-token", options.channelTokens,
                     "Channel table entry VIDEO_SOURCE[,CONFIGURATION] (repeat per channel, "
                     "channel 1 first)")
        ->allow_extra_args(false);
    command
        ->add_option("--input-token", options.inputTokens,
                     "Alarm input token (repeat per input, input 1 first)")
        ->allow_extra_args(false);
    command->add_flag("-v,--verbose", options.verbose, "Show the library's log lines");
}

} // namespace

int main(int argc, char **argv)
{
    CLI::App app{"onvif-events: receive camera alarms through the ONVIF event service, as a "
                 "network video recorder does with libvek_onvif_event"};
    app.require_subcommand(1);

    DemoOptions demo;
    CLI::App *demoCommand = app.add_subcommand(
        "demo", "Run a simulated camera on 127.0.0.1 through discovery, subscription, pushed "
                "events, renewal, a pull point and unsubscription; exit 0 when every expected "
                "report arrived");
    demoCommand->add_flag("-v,--verbose", demo.verbose, "Show the library's log lines");

    CameraOptions discover;
    CLI::App *discoverCommand =
        app.add_subcommand("discover", "Show the alarm templates a camera's topic set gives");
    addCameraOptions(discoverCommand, discover);

    WatchOptions watch;
    CLI::App *watchCommand = app.add_subcommand(
        "watch", "Subscribe (or pull) and print alarm reports until Ctrl-C or the duration ends");
    addCameraOptions(watchCommand, watch.camera);
    watchCommand->add_flag("--pull", watch.pull, "Use a pull point instead of pushed Notify");
    watchCommand->add_option("--scope", watch.scope, "Subscriptions to make (push only)")
        ->check(CLI::IsMember({"common", "smart", "both"}))
        ->capture_default_str();
    watchCommand->add_option("--duration", watch.duration, "Seconds to watch (0: until Ctrl-C)")
        ->check(CLI::NonNegativeNumber);
    watchCommand->add_flag("--json", watch.json, "One JSON object per report on stdout");
    watchCommand
        ->add_option("--listen-port", watch.listenPort,
                     "First port tried for the Notify listener (the library steps by 2)")
        ->check(CLI::Range(1, 65535));
    watchCommand
        ->add_option("--renew-interval", watch.renewInterval,
                     "Seconds between renewals (subscriptions end after one minute)")
        ->check(CLI::Range(1.0, 50.0))
        ->capture_default_str();

    SimOptions sim;
    CLI::App *simCommand = app.add_subcommand(
        "sim", "Serve a simulated camera on 127.0.0.1 that pushes (or queues) events to every "
               "subscriber");
    simCommand->add_option("--port", sim.port, "Port (0: any free port)")
        ->check(CLI::Range(0, 65535));
    simCommand->add_option("--user", sim.user, "User name the camera accepts")
        ->envname("ONVIF_USER")
        ->capture_default_str();
    simCommand->add_option("--password", sim.password, "Password the camera accepts")
        ->envname("ONVIF_PASSWORD")
        ->capture_default_str();
    simCommand->add_flag("--no-auth", sim.noAuth, "Accept requests without credentials");
    simCommand->add_option("--clock-offset", sim.clockOffset,
                           "Seconds the camera's clock is ahead (negative: behind); it refuses "
                           "a token created more than 5 s off its clock");
    simCommand->add_flag("--http-digest", sim.httpDigest,
                         "Require HTTP Digest authentication (401 challenge) as well");
    simCommand
        ->add_option("--digest-algorithm", sim.digestAlgorithm, "Algorithm of the digest challenge")
        ->check(CLI::IsMember({"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"}))
        ->capture_default_str();
    simCommand->add_option("--topics", sim.topicsFile,
                           "GetEventProperties answer to serve (envelope, response element or "
                           "TopicSet content; default: the demo camera's topic set)");
    simCommand->add_option("--events", sim.eventsFile,
                           "XML file whose wsnt:NotificationMessage elements are the events "
                           "(default: the demo camera's events)");
    simCommand->add_option("--interval", sim.interval, "Seconds between pushed events")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    simCommand->add_option("--duration", sim.duration, "Seconds to serve (0: until Ctrl-C)")
        ->check(CLI::NonNegativeNumber);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return kExitUsage;
    }

    if (*demoCommand) {
        return runDemo(demo);
    }
    if (*discoverCommand) {
        return runDiscover(discover);
    }
    if (*watchCommand) {
        installStopSignals();
        return runWatch(watch);
    }
    return runSim(sim);
}
