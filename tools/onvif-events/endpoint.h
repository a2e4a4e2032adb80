// Checks around a camera's event-service URL that give the user a clear reason when the library
// reports a failed exchange: the URL's shape, whether anything listens there, and (after a
// failure) whether the camera refused the credentials.
#pragma once

#include <optional>
#include <string>

namespace onvif_events
{

struct Endpoint {
    std::string host;
    std::string port; // always set ("80", or "443" for https, when the URL names none)
    std::string path;
    bool secure = false; // https://
};

// Accepts http://HOST[:PORT][/PATH] and https://...; on failure returns nothing and says why in
// *why.
std::optional<Endpoint> parseEventUrl(const std::string &url, std::string *why);

// Opens and closes a TCP connection, bounded by timeoutMs; "" on success, else the reason.
std::string probeConnect(const Endpoint &endpoint, int timeoutMs);

} // namespace onvif_events
