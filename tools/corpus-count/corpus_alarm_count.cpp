// corpus-alarm-count: how many notification messages of a directory of
// captured payloads become alarm reports when each camera advertises the
// message's own topic. For every message the program builds the topic set
// such a camera would serve (the topic path, and a message description with
// the message's Source, Key and Data items), runs discovery on it, pushes
// the message to the recorder's listener on loopback (initial states sent
// as changes, since the listener drops them) and counts the reports.
// With --initial-states every message goes as it is through a pull point
// of the camera simulator made with VEK_ONVIF_PULL_INITIAL_STATES, as a
// recorder that reports initial states receives it.
//
// Item types are what the values suggest: a Data value true/false, or 0/1
// in an item named State, active or Is..., is xs:boolean; other integers
// are xs:int; Source and Key items named ...Token are tt:ReferenceToken;
// the rest xs:string.
//
// Usage: corpus-alarm-count [--initial-states] DIR
//        (one line per message, then the total)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "camsim.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{

std::string lastLog;

void keepLog(int32_t, uint32_t, const char *, const char *, const char *text, void *)
{
    lastLog = text != nullptr ? text : "";
}

bool isInteger(const std::string &v)
{
    return !v.empty() && std::all_of(v.begin() + (v[0] == '-' ? 1 : 0), v.end(), [](char c) {
        return c >= '0' && c <= '9';
    }) && v != "-";
}

std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string typeOf(const std::string &part, const std::string &name, const std::string &value)
{
    if (part == "Data") {
        const std::string n = lower(name);
        if (lower(value) == "true" || lower(value) == "false" ||
            ((value == "0" || value == "1") &&
             (n == "state" || n == "active" || name.rfind("Is", 0) == 0))) {
            return "xs:boolean";
        }
        return isInteger(value) ? "xs:int" : "xs:string";
    }
    if (name.find("Token") != std::string::npos) {
        return "tt:ReferenceToken";
    }
    return isInteger(value) ? "xs:int" : "xs:string";
}

std::string attribute(const std::string &attrs, const char *name)
{
    std::smatch m;
    const std::regex re(std::string("(^|\\s)") + name + "\\s*=\\s*\"([^\"]*)\"");
    return std::regex_search(attrs, m, re) ? m[2].str() : std::string();
}

std::string trim(const std::string &s)
{
    const size_t b = s.find_first_not_of(" \t\r\n");
    const size_t e = s.find_last_not_of(" \t\r\n");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// The topic set a camera sending this message would advertise, as the
// library reads it (prefixes stripped).
std::string topicSetFor(const std::string &message, std::string &topic)
{
    std::smatch m;
    std::regex_search(message, m,
                      std::regex("<(\\w+:)?Topic\\b[^>]*>([\\s\\S]*?)</(\\w+:)?Topic>"));
    topic = trim(m.size() > 2 ? m[2].str() : "");
    std::string description = "<MessageDescription>";
    for (const char *part : {"Source", "Key", "Data"}) {
        std::smatch p;
        const std::regex partRe(std::string("<(\\w+:)?") + part +
                                "\\b[^>]*?(/>|>([\\s\\S]*?)</(\\w+:)?" + part + ">)");
        if (!std::regex_search(message, p, partRe)) {
            continue;
        }
        const std::string body = p[3].str();
        description += std::string("<") + part + ">";
        const std::regex itemRe("<(\\w+:)?SimpleItem\\b([^>]*?)/?>");
        for (auto it = std::sregex_iterator(body.begin(), body.end(), itemRe);
             it != std::sregex_iterator(); ++it) {
            const std::string attrs = (*it)[2].str();
            const std::string name = attribute(attrs, "Name");
            description += "<SimpleItemDescription Name=\"" + name + "\" Type=\"" +
                           typeOf(part, name, attribute(attrs, "Value")) + "\"/>";
        }
        description += std::string("</") + part + ">";
    }
    description += "</MessageDescription>";
    std::vector<std::string> names;
    size_t at = 0;
    while (at <= topic.size()) {
        size_t slash = std::min(topic.find('/', at), topic.size());
        std::string name = topic.substr(at, slash - at);
        const size_t colon = name.find(':');
        names.push_back(colon == std::string::npos ? name : name.substr(colon + 1));
        at = slash + 1;
    }
    std::string text = description;
    for (size_t i = names.size(); i-- > 0;) {
        text = "<" + names[i] + ">" + text + "</" + names[i] + ">";
    }
    return "<Message>" + text + "</Message>";
}

std::vector<std::filesystem::path> corpusFiles(const char *folder)
{
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".xml") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A loopback listening socket and the consumer address on it; -1 on failure.
int openListener(std::string &url)
{
    int listenFd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    if (bind(listenFd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        listen(listenFd, 4) != 0 ||
        getsockname(listenFd, reinterpret_cast<sockaddr *>(&addr), &length) != 0) {
        std::perror("listen");
        return -1;
    }
    url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/onvif_notify_server";
    return listenFd;
}

// Pushes message to the listener and returns what it reported.
OnvifAlarmReport *deliver(int listenFd, const std::string &url, const std::string &message,
                          OnvifAlarmCfg &cfg, uint32_t &count)
{
    camsim::SendResult pushed;
    std::thread camera([&] { pushed = camsim::pushNotify(url, {message}); });
    OnvifAlarmInputList inputs{0, nullptr};
    uint32_t connected = 0;
    OnvifAlarmReport *reports = nullptr;
    for (int tries = 0; connected == 0 && tries < 300; ++tries) {
        reports = VEK_Onvif_Recv_Notify(listenFd, &cfg, &inputs,
                                        "http://127.0.0.1/onvif/event_service", &count, &connected);
        if (connected == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    camera.join();
    return reports;
}

// Queues message at the simulated camera, pulls it through a pull point that
// reports initial states and returns what the pull reported.
OnvifAlarmReport *pullOnce(camsim::CameraSim &camera, const std::string &message,
                           OnvifAlarmCfg &cfg, uint32_t &count)
{
    camera.queueMessage(message); // for the next pull point made
    struct soap *context = nullptr;
    VEK_Onvif_Event_Init(&context);
    OnvifPullPoint pullPoint{};
    pullPoint.ulFlags = VEK_ONVIF_PULL_INITIAL_STATES;
    OnvifPullResult result{};
    OnvifAlarmInputList inputs{0, nullptr};
    if (VEK_Onvif_PullPoint_Create(context, camera.eventServiceUrl().c_str(), "", "", 60,
                                   &pullPoint) == VEK_ONVIF_OK) {
        VEK_Onvif_PullPoint_Pull(context, &pullPoint, "", "", 16, 1, &inputs, &cfg, &result);
        VEK_Onvif_PullPoint_Unsubscribe(context, &pullPoint, "", "");
    }
    VEK_Onvif_PullPoint_Free(&pullPoint);
    VEK_Onvif_Event_Destroy(&context);
    count = result.ulAlarmCount;
    return result.pstAlarmReports;
}

// How the messages reach the recorder: pushed to its listener, or pulled
// from a simulated camera with initial states reported.
struct Delivery {
    int listenFd = -1;
    std::string url;
    camsim::CameraSim *camera = nullptr; // --initial-states
};

// One corpus message, translated with a template made from its own topic:
// its line of the table; true when it gave an alarm.
bool countMessage(const Delivery &delivery, const std::string &name, std::string message)
{
    const size_t initialized = message.find("\"Initialized\"");
    if (delivery.camera == nullptr && initialized != std::string::npos) {
        message.replace(initialized, 13, "\"Changed\"");
    }
    std::string topic;
    const std::string topicSet = topicSetFor(message, topic);
    OnvifAlarmCfg cfg{};
    VEK_Onvif_Event_ParsePropeMsg(topicSet.c_str(), &cfg);
    const uint32_t templates = cfg.PropeAlarmCount;
    lastLog.clear();
    uint32_t count = 0;
    OnvifAlarmReport *reports = delivery.camera != nullptr
                                    ? pullOnce(*delivery.camera, message, cfg, count)
                                    : deliver(delivery.listenFd, delivery.url, message, cfg, count);
    std::string codes;
    for (uint32_t r = 0; reports != nullptr && r < count; ++r) {
        codes += (codes.empty() ? "" : ",") + std::to_string(reports[r].AlarmType) + "@ch" +
                 std::to_string(reports[r].Channel);
    }
    const bool alarm = reports != nullptr && count > 0;
    // Why there is none: the last log line, on one line.
    std::string why = lastLog.substr(0, 90);
    std::replace_if(
        why.begin(), why.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    if (codes.empty()) {
        codes = templates == 0 ? "none (no template)" : "none: " + why;
    }
    std::printf("%s\t%s\ttemplates %u\t%s\n", name.c_str(), topic.c_str(), templates,
                codes.c_str());
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), __FILE__, __LINE__);
    VEK_Onvif_Event_FreePropeAlarm(&cfg);
    return alarm;
}

} // namespace

int main(int argc, char **argv)
{
    const bool initialStates = argc == 3 && std::string(argv[1]) == "--initial-states";
    if (argc != 2 && !initialStates) {
        std::fprintf(stderr, "usage: corpus-alarm-count [--initial-states] DIR\n");
        return 2;
    }
    const char *folder = argv[argc - 1];
    Delivery delivery;
    camsim::Config config;
    config.requireAuth = false;
    camsim::CameraSim camera(config);
    if (initialStates) {
        camera.start();
        delivery.camera = &camera;
    } else {
        delivery.listenFd = openListener(delivery.url);
        if (delivery.listenFd < 0) {
            return 1;
        }
    }
    VEK_PLAT_SetLogSink(keepLog, nullptr);
    int messages = 0;
    int alarms = 0;
    for (const auto &file : corpusFiles(folder)) {
        const std::vector<std::string> found =
            camsim::extractNotificationMessages(camsim::readFile(file.string()));
        for (size_t i = 0; i < found.size(); ++i) {
            ++messages;
            std::string name = file.filename().string() + "#" + std::to_string(i + 1);
            alarms += countMessage(delivery, name, found[i]) ? 1 : 0;
        }
    }
    if (delivery.listenFd >= 0) {
        close(delivery.listenFd);
    }
    camera.stop();
    std::printf("messages %d, alarms %d\n", messages, alarms);
    return 0;
}
