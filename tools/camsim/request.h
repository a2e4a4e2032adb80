// Reading the simulator's requests: the SOAP envelope into a RecordedRequest, the request's
// path and the values carried in its body (internal).
#pragma once

#include "camsim.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace camsim::detail
{

// Fills the parsed parts of a request whose path, contentType and rawBody are set: the
// Content-Type action, the WS-Addressing and WS-Security headers, the other header elements,
// the operation and its body fields, and whether the credentials match the configuration.
void parseRequest(RecordedRequest &request, const Config &config);

// action="..." parameter of a Content-Type ("" when absent).
std::string actionParameter(const std::string &contentType);

// xsd:duration (PnDTnHnMnS, fractions of seconds allowed) in seconds.
std::optional<std::chrono::seconds> parseDuration(const std::string &text);

// A recorded body field, or empty; never adds the key to the record.
std::string bodyField(const RecordedRequest &request, const char *key);

// Id from a path "<prefix><n>" (at most 9 digits); -1 when the path does not match.
int pathId(const std::string &path, std::string_view prefix);

} // namespace camsim::detail
