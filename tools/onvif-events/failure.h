// Why an exchange with the camera failed, read from the library's own failure log lines (the
// runtime's fault report and the HTTP status of the answer), without asking the camera again.
#pragma once

#include <cstddef>
#include <string>

#include "log_capture.h"

namespace onvif_events
{

using veklog::LogCapture;
using veklog::LogLine;

struct FailureReason {
    int httpStatus = 0;      // status of the camera's answer; 0 when none arrived
    std::string subcode;     // fault subcode, e.g. "ter:ResourceUnknown"; "" when none
    std::string reason;      // the fault's reason text (or the runtime's error text)
    bool timedOut = false;   // the connection was made but no answer came in time
    bool refused = false;    // nothing accepted the connection
    std::string certificate; // why the library refused the camera's TLS certificate; "" when not

    // "HTTP 400, ter:ResourceUnknown: no such subscription"; "" when nothing is known.
    std::string text() const;
    // The camera no longer holds the subscription (or pull point) the request addressed.
    bool subscriptionGone() const;
    // The camera refused the credentials.
    bool notAuthorized() const;
};

// The reason the last failure line of the library since line `first` gives.
FailureReason failureReason(const LogCapture &logs, size_t first);

} // namespace onvif_events
