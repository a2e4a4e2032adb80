#include "endpoint.h"

namespace onvif_events
{

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

} // namespace onvif_events
