// The fleet's hot paths, each repeated a given number of times, for
// counting instructions (scripts/hot_paths.sh runs it under callgrind,
// collecting inside VEK_Onvif_Recv_Notify or VEK_Onvif_Hub_Poll only):
//   vek_hot_paths idle K         K polls of a listening socket with nothing waiting
//   vek_hot_paths deliver K      K one-message Notify requests, each turned into a report
//   vek_hot_paths hub-idle K     K Poll(0) of a hub of 1,024 cameras with nothing waiting
//   vek_hot_paths hub-deliver K  the same Notify K times at that hub, each on its connection
// The client side of a delivery (connect, send, close) runs outside the
// collected function.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_inputs.h"
#include "vek_hub_internal.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{
int listenLoopback(uint16_t *port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), len) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    *port = ntohs(addr.sin_port);
    return fd;
}

int connectAndSend(uint16_t port, const std::string &bytes)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
        std::perror("send");
        std::exit(1);
    }
    return fd;
}

// The hub's paths; the number of reports.
long hubPath(bool deliver, long count, vekbench::Camera &camera, const std::string &message)
{
    OnvifNotifyHub *hub = nullptr;
    if (VEK_Onvif_Hub_Create("127.0.0.1", 0, &hub) != VEK_ONVIF_OK) {
        std::exit(1);
    }
    uint32_t id = 0;
    for (int i = 0; i < 1024; ++i) {
        (void)VEK_Onvif_Hub_AddCamera(hub, "http://127.0.0.1:80/onvif/event_service", &camera.cfg,
                                      &camera.inputs, 0, &id);
    }
    const std::string post =
        vekbench::notifyPost(vek::hub::consumerAddress(hub, "127.0.0.1", id), {message});
    long reports = 0;
    for (long i = 0; i < count; ++i) {
        int client = deliver ? connectAndSend(VEK_Onvif_Hub_GetPort(hub), post) : -1;
        uint32_t n = 0;
        OnvifHubReport *r = nullptr;
        for (int tries = 0; tries < (deliver ? 100 : 1) && r == nullptr; ++tries) {
            r = VEK_Onvif_Hub_Poll(hub, deliver ? 100 : 0, &n);
        }
        reports += r != nullptr ? n : 0;
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&r), "hot_paths", __LINE__);
        if (client >= 0) {
            close(client);
        }
    }
    VEK_Onvif_Hub_Destroy(&hub);
    return reports;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: vek_hot_paths idle|deliver|hub-idle|hub-deliver COUNT\n");
        return 2;
    }
    const std::string path = argv[1];
    const long count = std::atol(argv[2]);
    VEK_PLAT_SetLogSink([](int32_t, uint32_t, const char *, const char *, const char *, void *) {},
                        nullptr);
    vekbench::Camera camera(vekbench::largestTopicSetFile());
    const std::string message = vekbench::corpusMessages({"motion-changed-01.xml"}).at(1);
    if (path == "hub-idle" || path == "hub-deliver") {
        const bool deliver = path == "hub-deliver";
        const long reports = hubPath(deliver, count, camera, message);
        std::printf("%s: %ld calls, %ld reports\n", path.c_str(), count, reports);
        return deliver && reports != count ? 1 : 0;
    }
    uint16_t port = 0;
    const int fd = listenLoopback(&port);
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/onvif/notify";
    const std::string post = vekbench::notifyPost(url, {message});
    long reports = 0;
    for (long i = 0; i < count; ++i) {
        int client = path == "deliver" ? connectAndSend(port, post) : -1;
        uint32_t n = 0;
        uint32_t connected = 0;
        OnvifAlarmReport *r =
            VEK_Onvif_Recv_Notify(fd, &camera.cfg, &camera.inputs, url.c_str(), &n, &connected);
        if (r != nullptr) {
            reports += n;
        }
        ZU_MEM_FreeEx(reinterpret_cast<void **>(&r), "hot_paths", __LINE__);
        if (client >= 0) {
            close(client);
        }
    }
    close(fd);
    std::printf("%s: %ld calls, %ld reports\n", path.c_str(), count, reports);
    return path == "deliver" && reports != count ? 1 : 0;
}
