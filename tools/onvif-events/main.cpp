// onvif-events: drives libvek_onvif_event as a network video recorder does, against a real
// camera or against the built-in camera simulator.
#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "commands.h"
#include "log_capture.h"
#include "topic_rules.h"
#include "vek_onvif_event.h"
#include "vek_platform.h"
#include "watch_cameras.h"

using namespace onvif_events;

namespace
{

constexpr double kLongestDuration = 366.0 * 24 * 3600; // a year

// The camera's URL; watch also takes it through --camera and --cameras.
void addCameraUrl(CLI::App *command, CameraOptions &options, bool required)
{
    CLI::Option *url =
        command->add_option("url", options.url, "Camera event service, http(s)://HOST[:PORT]/PATH");
    if (required) {
        url->required();
    }
}

void addCameraOptions(CLI::App *command, CameraOptions &options)
{
    command->add_option("--ca-file", options.trust.caFile,
                        "https: trust the CAs of this PEM file instead of the system's");
    command->add_flag("--insecure", options.trust.insecure,
                      "https: encrypt without checking the camera's certificate");
    command->add_option("--pin", options.trust.pin,
                        "https: accept exactly the certificate with this SHA-256 fingerprint "
                        "(see the fingerprint command)");
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
    command->add_flag("-v,--verbose", options.verbose,
                      "Show the library's log lines (on stderr; otherwise only counted)");
}

void addTopicRulesOption(CLI::App *command, std::string &file)
{
    command
        ->add_option("--topic-rules", file,
                     "Extra topics that give alarms, one 'topic code [state-item]' a line "
                     "(# starts a comment line)")
        ->type_name("FILE");
}

// Seconds from lowest to highest; the message names the bounds, not a long number given.
CLI::Validator secondsBetween(double lowest, double highest)
{
    char bounds[64];
    std::snprintf(bounds, sizeof bounds, "%.0f to %.0f seconds", lowest, highest);
    std::string range = bounds;
    return CLI::Validator(
        [lowest, highest, range](std::string &text) -> std::string {
            double value = 0;
            size_t used = 0;
            try {
                value = std::stod(text, &used);
            } catch (const std::exception &) {
                used = 0;
            }
            if (used != text.size() || !std::isfinite(value) || value < lowest || value > highest) {
                return "must be " + range;
            }
            return std::string();
        },
        "SECONDS in " + range);
}

constexpr const char *kExitStatuses =
    "Exit statuses: 0 ok; 1 a step failed and was not recovered (demo: a report missing); 2 bad "
    "option, URL or file; 3 camera unreachable or silent, or port taken; 4 authentication "
    "refused; 5 the camera answered, but not as an event service should.";

// A pull point has no push subscriptions to choose; empty when the options fit together.
std::string watchConflict(const CLI::App &watch)
{
    if (watch.count("--pull") > 0 && watch.count("--scope") > 0) {
        return "--scope chooses push subscriptions and does not apply to --pull; give one of "
               "them";
    }
    return "";
}

void addCommonParts(CLI::App &app)
{
    app.require_subcommand(1);
    const std::string version = std::string("onvif-events ") + VEK_ONVIF_EVENT_VERSION +
                                " (library " + VEK_Onvif_GetVersion() + ")";
    app.set_version_flag("--version", version, "Show the version of the tool and the library");
    app.footer(kExitStatuses);
    // Every refused option is one line, as every other error of the tool.
    app.failure_message([](const CLI::App *, const CLI::Error &e) {
        return "onvif-events: " + std::string(e.what()) + " (--help shows the options)\n";
    });
}

CLI::App *addDemoCommand(CLI::App &app, DemoOptions &demo)
{
    CLI::App *command = app.add_subcommand(
        "demo", "Run a simulated camera on 127.0.0.1 through discovery, subscription, pushed "
                "events, renewal, a pull point and unsubscription, then three cameras on one port "
                "through one Notify hub; exit 0 when every expected report arrived");
    command->add_flag("-v,--verbose", demo.verbose, "Show the library's log lines");
    command->footer(kExitStatuses);
    return command;
}

CLI::App *addDiscoverCommand(CLI::App &app, DiscoverOptions &discover)
{
    CLI::App *command =
        app.add_subcommand("discover", "Show the alarm templates a camera's topic set gives");
    addCameraUrl(command, discover.camera, true);
    addCameraOptions(command, discover.camera);
    command->add_flag("--json", discover.json, "The templates as one JSON object");
    addTopicRulesOption(command, discover.topicRules);
    command->footer(kExitStatuses);
    return command;
}

CLI::App *addWatchCommand(CLI::App &app, WatchOptions &watch)
{
    CLI::App *command = app.add_subcommand(
        "watch", "Subscribe (or pull) and print alarm reports of one camera or several until "
                 "Ctrl-C or the duration ends");
    addCameraUrl(command, watch.camera, false);
    command
        ->add_option("--camera", watch.cameraUrls,
                     "One more camera's event service (repeat per camera; --user and --password "
                     "serve them all)")
        ->type_name("URL")
        ->allow_extra_args(false);
    command
        ->add_option("--cameras", watch.camerasFile,
                     "JSON file listing cameras: [{\"url\": ..., \"user\": ..., "
                     "\"password\": ..., \"name\": ...}, ...] (user, password and name "
                     "optional)")
        ->type_name("FILE");
    addCameraOptions(command, watch.camera);
    command->add_flag("--pull", watch.pull, "Use a pull point instead of pushed Notify");
    command->add_flag_callback(
        "--no-initial-states", [&watch] { watch.initialStates = false; },
        "Do not report the states the camera holds when subscribed to (an alarm input already "
        "active); only changes");
    addTopicRulesOption(command, watch.topicRules);
    command->add_option("--scope", watch.scope, "Subscriptions to make (push only)")
        ->check(CLI::IsMember({"common", "smart", "both"}))
        ->capture_default_str();
    command->add_option("--duration", watch.duration, "Seconds to watch (0: until Ctrl-C)")
        ->check(secondsBetween(0, kLongestDuration));
    command->add_flag("--json", watch.json,
                      "One JSON object per report on stdout, naming its camera");
    command
        ->add_option("--listen-port", watch.listenPort,
                     "First port tried for the Notify hub, 1 to 65535 (default " +
                         std::to_string(gS32AlarmDftPort) +
                         "; the library steps by 2 while a port is taken)")
        ->check(CLI::Range(1, 65535));
    command
        ->add_option("--renew-interval", watch.renewInterval,
                     "Seconds between renewals (a subscription ends after one minute; a pull "
                     "point is renewed sooner, at half its termination time, when that is "
                     "shorter)")
        ->check(secondsBetween(1, 50))
        ->capture_default_str();
    command->footer(std::string(kExitStatuses) +
                    "\nA renewal that fails makes a new subscription 1, 2, 4 ... 60 s "
                    "later; Ctrl-C ends the watch at any moment and unsubscribes (waiting "
                    "at most 2 s for the camera). Pushed events of every camera come to one "
                    "port. With several cameras each line starts with [the camera's name or "
                    "URL]; a camera whose watch ends leaves the others watching, and the exit "
                    "status is that of the first camera whose watch did not end well.");
    return command;
}

CLI::App *addSimCommand(CLI::App &app, SimOptions &sim)
{
    CLI::App *command = app.add_subcommand(
        "sim", "Serve a simulated camera (or several, --cameras) on 127.0.0.1 that pushes (or "
               "queues) events to every subscriber");
    command->add_option("--port", sim.port, "Port (0: any free port)")->check(CLI::Range(0, 65535));
    command->add_option("--user", sim.user, "User name the camera accepts")
        ->envname("ONVIF_USER")
        ->capture_default_str();
    command->add_option("--password", sim.password, "Password the camera accepts")
        ->envname("ONVIF_PASSWORD")
        ->capture_default_str();
    command->add_flag("--no-auth", sim.noAuth, "Accept requests without credentials");
    command->add_option("--clock-offset", sim.clockOffset,
                        "Seconds the camera's clock is ahead (negative: behind); it refuses "
                        "a token created more than 5 s off its clock");
    command->add_flag("--http-digest", sim.httpDigest,
                      "Require HTTP Digest authentication (401 challenge) as well");
    command
        ->add_option("--digest-algorithm", sim.digestAlgorithm, "Algorithm of the digest challenge")
        ->check(CLI::IsMember({"MD5", "MD5-sess", "SHA-256", "SHA-256-sess"}))
        ->capture_default_str();
    command->add_option("--topics", sim.topicsFile,
                        "GetEventProperties answer to serve (envelope, response element or "
                        "TopicSet content; default: the topics of --events described by their "
                        "messages' items, or the demo camera's topic set)");
    command->add_option("--events", sim.eventsFile,
                        "XML file whose wsnt:NotificationMessage elements are the events "
                        "(default: the demo camera's events)");
    command->add_option("--interval", sim.interval, "Seconds between pushed events")
        ->check(secondsBetween(0, 3600))
        ->capture_default_str();
    command->add_option("--duration", sim.duration, "Seconds to serve (0: until Ctrl-C)")
        ->check(secondsBetween(0, kLongestDuration));
    command
        ->add_option("--cameras", sim.cameras,
                     "Cameras served on the one port, 1 to 64; with more than one, camera k's "
                     "event service is at /camera/k/onvif/event_service, with subscriptions, "
                     "pull points and an event stream of its own")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    command->add_flag("--tls", sim.tls,
                      "Serve HTTPS with a self-signed certificate made at start (its "
                      "SHA-256 fingerprint is printed)");
    command->footer(kExitStatuses);
    return command;
}

CLI::App *addFingerprintCommand(CLI::App &app, FingerprintOptions &fingerprint)
{
    CLI::App *command = app.add_subcommand(
        "fingerprint", "Print the SHA-256 fingerprint of an https:// camera's certificate, "
                       "unchecked, to compare and give to --pin");
    command->add_option("url", fingerprint.url, "https://HOST[:PORT]/PATH")->required();
    command->footer(kExitStatuses);
    return command;
}

// A first word that names no command: CLI11 would only say that a command is required.
bool unknownCommand(const CLI::App &app, int argc, char **argv)
{
    if (argc < 2 || argv[1][0] == '-') {
        return false;
    }
    std::string names;
    for (const CLI::App *command : app.get_subcommands(nullptr)) {
        if (command->check_name(argv[1])) {
            return false;
        }
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    std::fprintf(stderr, "onvif-events: unknown command '%s' (commands: %s; --help shows them)\n",
                 argv[1], names.c_str());
    return true;
}

// The rules of --topic-rules, added before any camera is asked anything; kExitOk or kExitUsage.
// The library's line about a rule it refuses is shown only with --verbose: the tool's says it.
int addRulesFile(const char *command, const std::string &file, bool verbose)
{
    if (file.empty()) {
        return kExitOk;
    }
    veklog::LogCapture logs(verbose);
    if (std::string wrong = addTopicRules(file); !wrong.empty()) {
        std::fprintf(stderr, "onvif-events %s: %s\n", command, wrong.c_str());
        return kExitUsage;
    }
    return kExitOk;
}

int startDiscover(const DiscoverOptions &discover)
{
    if (int code = addRulesFile("discover", discover.topicRules, discover.camera.verbose)) {
        return code;
    }
    if (int code = applyTrust("discover", discover.camera.url, discover.camera.trust)) {
        return code;
    }
    return runDiscover(discover);
}

int startWatch(const CLI::App &command, WatchOptions &watch)
{
    if (std::string conflict = watchConflict(command); !conflict.empty()) {
        std::fprintf(stderr, "onvif-events watch: %s\n", conflict.c_str());
        return kExitUsage;
    }
    if (std::string wrong = collectCameras(watch); !wrong.empty()) {
        std::fprintf(stderr, "onvif-events watch: %s\n", wrong.c_str());
        return kExitUsage;
    }
    if (int code = addRulesFile("watch", watch.topicRules, watch.camera.verbose)) {
        return code;
    }
    if (int code = applyTrust("watch", watch.cameras.front().url, watch.camera.trust)) {
        return code;
    }
    installStopSignals();
    return runWatch(watch);
}

} // namespace

int main(int argc, char **argv)
{
    CLI::App app{"onvif-events: receive camera alarms through the ONVIF event service, as a "
                 "network video recorder does with libvek_onvif_event"};
    addCommonParts(app);
    DemoOptions demo;
    DiscoverOptions discover;
    WatchOptions watch;
    SimOptions sim;
    FingerprintOptions fingerprint;
    CLI::App *demoCommand = addDemoCommand(app, demo);
    CLI::App *discoverCommand = addDiscoverCommand(app, discover);
    CLI::App *watchCommand = addWatchCommand(app, watch);
    addSimCommand(app, sim);
    CLI::App *fingerprintCommand = addFingerprintCommand(app, fingerprint);
    if (unknownCommand(app, argc, argv)) {
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) { // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return kExitUsage;
    }
    if (*demoCommand) {
        return runDemo(demo);
    }
    if (*discoverCommand) {
        return startDiscover(discover);
    }
    if (*fingerprintCommand) {
        return runFingerprint(fingerprint);
    }
    if (*watchCommand) {
        return startWatch(*watchCommand, watch);
    }
    return runSim(sim);
}
