// The simulator's authentication beyond the WS-Security digest: the camera's
// clock (Created judged against it, the HTTP Date it answers with) and HTTP
// Digest authentication (the 401 challenge and the check of the answer)
// (internal).
#pragma once

#include "camsim.h"

#include <chrono>
#include <optional>
#include <string>

namespace camsim::detail
{

// The camera's clock: ours shifted by Config::clockOffset.
std::chrono::system_clock::time_point cameraClock(const Config &config);

// An IMF-fixdate, e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string httpDate(std::chrono::system_clock::time_point time);

// The time of an xsd:dateTime "YYYY-MM-DDThh:mm:ss[.fff](Z|+hh:mm)", or nullopt.
std::optional<std::chrono::system_clock::time_point> parseDateTime(const std::string &text);

// Whether Created lies within Config::createdWindow of the camera's clock.
bool createdInWindow(const std::string &created, const Config &config);

// The WWW-Authenticate value of the challenge (Config::digestChallenge when set), with
// stale=true when the refused answer was right but for a used-up nonce.
std::string digestChallenge(const Config &config, const std::string &nonce, bool stale = false);

// Whether an Authorization header answers the challenge with the configured credentials
// for a POST to path.
bool digestMatches(const std::string &authorization, const Config &config, const std::string &nonce,
                   const std::string &path);

// A fresh server nonce (hex).
std::string makeServerNonce();

} // namespace camsim::detail
