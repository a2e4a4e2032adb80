#include "endpoint.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "camsim.h"

namespace onvif_events
{

namespace
{

// Connected, blocking-with-timeouts socket, or -1 with *why set.
int connectTo(const Endpoint &endpoint, int timeoutMs, std::string *why)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    int rc = getaddrinfo(endpoint.host.c_str(), endpoint.port.c_str(), &hints, &found);
    if (rc != 0 || found == nullptr) {
        *why = std::string("cannot resolve host: ") + gai_strerror(rc);
        return -1;
    }
    int result = -1;
    *why = "no address";
    for (addrinfo *a = found; a != nullptr && result < 0; a = a->ai_next) {
        int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            *why = std::strerror(errno);
            continue;
        }
        int flags = fcntl(fd, F_GETFL, 0);
        fcntl(fd, F_SETFL, flags | O_NONBLOCK);
        int c = connect(fd, a->ai_addr, a->ai_addrlen);
        if (c != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (poll(&p, 1, timeoutMs) == 1) {
                int err = 0;
                socklen_t len = sizeof err;
                getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
                c = err == 0 ? 0 : -1;
                errno = err;
            } else {
                c = -1;
                errno = ETIMEDOUT;
            }
        }
        if (c == 0) {
            fcntl(fd, F_SETFL, flags);
            timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
            setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            result = fd;
        } else {
            *why = errno == ETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms"
                                      : std::strerror(errno);
            close(fd);
        }
    }
    freeaddrinfo(found);
    return result;
}

} // namespace

std::optional<Endpoint> parseEventUrl(const std::string &url, std::string *why)
{
    auto fail = [&](const std::string &reason) -> std::optional<Endpoint> {
        *why = reason;
        return std::nullopt;
    };
    Endpoint e;
    e.secure = url.rfind("https://", 0) == 0;
    const std::string scheme = e.secure ? "https://" : "http://";
    if (url.rfind(scheme, 0) != 0) {
        return fail("expected http(s)://HOST[:PORT]/PATH");
    }
    std::string rest = url.substr(scheme.size());
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    e.path = slash == std::string::npos ? "/" : rest.substr(slash);
    e.port = e.secure ? "443" : "80";
    if (!authority.empty() && authority[0] == '[') {
        size_t close = authority.find(']');
        if (close == std::string::npos) {
            return fail("unterminated IPv6 address");
        }
        e.host = authority.substr(1, close - 1);
        std::string tail = authority.substr(close + 1);
        if (!tail.empty()) {
            if (tail[0] != ':') {
                return fail("unexpected text after the host");
            }
            e.port = tail.substr(1);
        }
    } else {
        size_t colon = authority.find(':');
        e.host = authority.substr(0, colon);
        if (colon != std::string::npos) {
            e.port = authority.substr(colon + 1);
        }
    }
    if (e.host.empty()) {
        return fail("no host");
    }
    if (e.host.find_first_of(" \t@") != std::string::npos) {
        return fail("bad host '" + e.host + "'");
    }
    if (e.port.empty() || e.port.size() > 5 ||
        e.port.find_first_not_of("0123456789") != std::string::npos || std::stoi(e.port) < 1 ||
        std::stoi(e.port) > 65535) {
        return fail("bad port '" + e.port + "'");
    }
    return e;
}

std::string probeConnect(const Endpoint &endpoint, int timeoutMs)
{
    std::string why;
    int fd = connectTo(endpoint, timeoutMs, &why);
    if (fd < 0) {
        return why;
    }
    close(fd);
    return {};
}

} // namespace onvif_events
