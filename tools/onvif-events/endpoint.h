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
    std::string port; // always set ("80" when the URL names none)
    std::string path;
};

// Accepts http://HOST[:PORT][/PATH]; on failure returns nothing and says why in *why.
std::optional<Endpoint> parseEventUrl(const std::string &url, std::string *why);

// Opens and closes a TCP connection, bounded by timeoutMs; "" on success, else the reason.
std::string probeConnect(const Endpoint &endpoint, int timeoutMs);

enum class Refusal {
    None,           // the camera accepted the credentials (or did not say)
    Authentication, // HTTP 401 or an ONVIF NotAuthorized / FailedAuthentication fault
};

// Sends one GetEventProperties request with the credentials' UsernameToken (plain HTTP, bounded
// in time) and tells whether the camera refused them. *detail receives a short description of
// the answer ("HTTP 400, ter:NotAuthorized").
Refusal diagnoseCredentials(const Endpoint &endpoint, const std::string &user,
                            const std::string &password, std::string *detail);

} // namespace onvif_events
