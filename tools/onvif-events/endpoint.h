// The shape of a camera's event-service URL, checked before the library is asked anything, so
// that a typo gets a clear reason and the host and port can be named in messages.
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

} // namespace onvif_events
