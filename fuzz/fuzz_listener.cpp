// The Notify listener: the input is written as-is to a loopback connection
// (then the write side is shut down) and VEK_Onvif_Recv_Notify reads it.
// One listening socket serves every input.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fixture_loopback.h"
#include "fixture_motion.h"
#include "support.h"
#include "vek_onvif_event.h"
#include "vek_platform_ctl.h"

namespace
{
int g_listenFd = -1;
sockaddr_in g_address{};
// The motion configuration the listener tests use.
vekfix::MotionConfig g_motion;

[[noreturn]] void fail(const char *what)
{
    std::perror(what);
    std::abort();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    vekfuzz::silenceLog();
    uint16_t port = 0;
    g_listenFd = vekfix::loopbackListener(4, &port);
    if (g_listenFd < 0) {
        fail("listening socket");
    }
    g_address.sin_family = AF_INET;
    g_address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    g_address.sin_port = htons(port);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint32_t before = VEK_PLAT_GetLiveBlocks();
    int client = socket(AF_INET, SOCK_STREAM, 0);
    if (client < 0) {
        fail("client socket");
    }
    // Large enough for the whole input: the write below must not wait for
    // a reader that only runs afterwards.
    int buffer = 4 * 1024 * 1024;
    setsockopt(client, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    // Close with a reset: no TIME_WAIT pile-up over millions of inputs.
    linger noLinger{1, 0};
    setsockopt(client, SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
    // The fuzzer's own timer signal may interrupt the connect; it then
    // completes in the background.
    while (connect(client, reinterpret_cast<sockaddr *>(&g_address), sizeof g_address) != 0) {
        if (errno == EISCONN) {
            break;
        }
        if (errno != EINTR && errno != EALREADY) {
            fail("connect");
        }
    }
    size_t sent = 0;
    while (sent < size) {
        ssize_t n = send(client, data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0) {
            break; // what did not fit is cut off, as by a sender that gave up
        }
        sent += static_cast<size_t>(n);
    }
    shutdown(client, SHUT_WR);

    uint32_t count = 0;
    uint32_t connected = 0;
    OnvifAlarmReport *reports = VEK_Onvif_Recv_Notify(g_listenFd, &g_motion.cfg, &g_motion.inputs,
                                                      "http://127.0.0.1/fuzz", &count, &connected);
    if (connected != 1 || (reports == nullptr) != (count == 0)) {
        std::fprintf(stderr, "connected %u, reports %p, count %u\n", connected,
                     static_cast<void *>(reports), count);
        std::abort();
    }
    // Every report carries a code: the template's, or the one its topic
    // gives (a doorbell topic matched by the motion template is 22).
    for (uint32_t i = 0; i < count; ++i) {
        if (reports[i].AlarmType == 0) {
            std::abort();
        }
    }
    ZU_MEM_FreeEx(reinterpret_cast<void **>(&reports), __FILE__, __LINE__);
    close(client);
    vekfuzz::expectLiveBlocks(before, "VEK_Onvif_Recv_Notify");
    return 0;
}
