// The recorder's network view: its local address towards a camera, its
// port record, and socket closing.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "vek_platform_ctl.h"

namespace
{
constexpr uint32_t kBadKey = 102;
constexpr uint32_t kNoRoute = 112;

std::mutex g_overrideLock;
bool g_localAddrOverride = false;
std::string g_localAddr;
uint32_t g_localAddrResult = 0;
uint16_t g_devPort = 80;
uint32_t g_devPortResult = 0;

// Splits "http://host:port/path" (host may be a bracketed IPv6 literal).
bool splitUrl(const char *url, std::string &host, std::string &port)
{
    std::string text(url);
    size_t start = text.find("://");
    start = (start == std::string::npos) ? 0 : start + 3;
    size_t end = text.find_first_of("/?#", start);
    std::string authority = text.substr(start, end == std::string::npos ? end : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        authority.erase(0, at + 1);
    }
    port = "80";
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos) {
            return false;
        }
        host = authority.substr(1, close - 1);
        if (close + 1 < authority.size() && authority[close + 1] == ':') {
            port = authority.substr(close + 2);
        }
    } else {
        size_t colon = authority.find(':');
        host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            port = authority.substr(colon + 1);
        }
    }
    return !host.empty() && !port.empty();
}

uint32_t routeLookup(const char *url, char *addr64)
{
    std::string host;
    std::string port;
    if (!splitUrl(url, host, port)) {
        return kBadKey;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || found == nullptr) {
        return kNoRoute;
    }
    uint32_t result = kNoRoute;
    int fd = socket(found->ai_family, SOCK_DGRAM, 0);
    if (fd >= 0) {
        sockaddr_storage local{};
        socklen_t len = sizeof local;
        if (connect(fd, found->ai_addr, found->ai_addrlen) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr *>(&local), &len) == 0) {
            const void *raw =
                local.ss_family == AF_INET6
                    ? static_cast<const void *>(
                          &reinterpret_cast<sockaddr_in6 *>(&local)->sin6_addr)
                    : static_cast<const void *>(&reinterpret_cast<sockaddr_in *>(&local)->sin_addr);
            if (inet_ntop(local.ss_family, raw, addr64, 64) != nullptr) {
                result = 0;
            }
        }
        close(fd);
    }
    freeaddrinfo(found);
    return result;
}
} // namespace

extern "C" {

int32_t gS32AlarmDftPort = 23000;

uint32_t TAV_GetLocalSockAddr(void *key, char *addr64)
{
    if (addr64 == nullptr) {
        return kBadKey;
    }
    {
        std::lock_guard<std::mutex> guard(g_overrideLock);
        if (g_localAddrOverride) {
            if (g_localAddrResult == 0) {
                std::snprintf(addr64, 64, "%s", g_localAddr.c_str());
            }
            return g_localAddrResult;
        }
    }
    if (key == nullptr) {
        return kBadKey;
    }
    return routeLookup(static_cast<const char *>(key), addr64);
}

uint32_t VEK_PUB_GetDevPortInfo(VEK_PUB_DevPortInfo *info)
{
    if (info == nullptr) {
        return kBadKey;
    }
    std::lock_guard<std::mutex> guard(g_overrideLock);
    if (g_devPortResult == 0) {
        info->usPort = g_devPort;
    }
    return g_devPortResult;
}

int __wrap_close(int fd)
{
    return close(fd);
}

void VEK_PLAT_SetLocalAddr(const char *addr, uint32_t result)
{
    std::lock_guard<std::mutex> guard(g_overrideLock);
    g_localAddrOverride = addr != nullptr;
    g_localAddr = addr != nullptr ? addr : "";
    g_localAddrResult = result;
}

void VEK_PLAT_SetDevPort(uint16_t port, uint32_t result)
{
    std::lock_guard<std::mutex> guard(g_overrideLock);
    g_devPort = port;
    g_devPortResult = result;
}

} // extern "C"
