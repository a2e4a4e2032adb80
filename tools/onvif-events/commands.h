// The tool's subcommands and their exit statuses.
#pragma once

#include <string>
#include <vector>

namespace onvif_events
{

// Exit statuses shared by all subcommands.
enum Exit : int {
    kExitOk = 0,
    kExitFailed = 1,      // demo: an expected report did not arrive; watch: a failed step that
                          // was not recovered (renewal, new subscription, pull, unsubscribe)
    kExitUsage = 2,       // bad option, bad URL, unreadable file
    kExitUnreachable = 3, // nothing accepts connections at the camera's address, or the camera
                          // accepted one and sent no answer in time; sim: the port is taken
    kExitAuth = 4,        // the camera refused the credentials
    kExitCamera = 5,      // the camera answered, but not as an ONVIF event service should
};

struct DemoOptions {
    bool verbose = false;
};

// Trust in an https:// camera's certificate (applied process-wide before the first request).
struct TrustOptions {
    std::string caFile;
    bool insecure = false;
    std::string pin; // SHA-256 fingerprint for the URL's host
};

struct CameraOptions {
    std::string url;
    std::string name; // names the camera in watch's lines; empty: the URL does
    TrustOptions trust;
    std::string user;
    std::string password;
    bool verbose = false;
    std::vector<std::string> channelTokens; // "VIDEO_SOURCE_TOKEN[,CONFIG_TOKEN]" per channel
    std::vector<std::string> inputTokens;
};

struct DiscoverOptions {
    CameraOptions camera;
    bool json = false;
    std::string topicRules; // --topic-rules FILE
};

struct WatchOptions {
    CameraOptions camera;                // the positional URL, and what every camera shares
    std::vector<std::string> cameraUrls; // --camera, repeated
    std::string camerasFile;             // --cameras
    std::vector<CameraOptions> cameras;  // all of them, in this order; filled before runWatch
    bool pull = false;
    std::string scope = "common";
    double duration = 0; // seconds; 0 = until Ctrl-C
    bool json = false;
    int listenPort = 0; // 0 = the platform's default first port
    double renewInterval = 20;
    bool initialStates = true; // report the states the camera holds when subscribed to
    std::string topicRules;    // --topic-rules FILE
};

struct SimOptions {
    int port = 0;
    std::string user = "admin";
    std::string password = "secret";
    bool noAuth = false;
    long long clockOffset = 0; // seconds the camera's clock is ahead
    bool httpDigest = false;
    std::string digestAlgorithm = "MD5";
    std::string topicsFile;
    std::string eventsFile;
    double interval = 0.5; // seconds between pushed events
    double duration = 0;   // seconds; 0 = until Ctrl-C
    bool tls = false;      // serve HTTPS with a self-signed certificate made at start
    int cameras = 1;       // cameras behind the port, camera k under /camera/k when more than one
};

struct FingerprintOptions {
    std::string url;
};

int runDemo(const DemoOptions &options);
int runDiscover(const DiscoverOptions &options);
int runWatch(const WatchOptions &options);
int runSim(const SimOptions &options);
int runFingerprint(const FingerprintOptions &options);

// Applies the trust options for the camera at url; kExitOk or kExitUsage (said why on stderr).
int applyTrust(const char *command, const std::string &url, const TrustOptions &trust);

// Stops the running loop of watch and sim (set by SIGINT, SIGTERM and SIGHUP); SIGPIPE ignored.
void installStopSignals();
bool stopRequested();

} // namespace onvif_events
