// Why a call into the library failed, as the library's error record of the calling thread tells
// it (VEK_Onvif_GetLastError). The record is per thread and cleared by the next operation, so it
// is copied on the thread that made the call, right after the call, and carried back with the
// result.
#pragma once

#include <cstdint>
#include <string>

#include "vek_onvif_event.h"

namespace onvif_events
{

struct Outcome {
    uint32_t result = VEK_ONVIF_OK;
    OnvifErrorInfo why{}; // all zero when the call succeeded

    bool ok() const { return result == VEK_ONVIF_OK; }
    uint32_t kind() const { return why.ulKind; }
    // What the camera answered or what failed, e.g. "HTTP 400, ter:ResourceUnknown: no such
    // subscription"; the result code's text when the record tells nothing.
    std::string text() const;
    // The camera no longer holds the subscription (or pull point) the request addressed.
    bool subscriptionGone() const;
    // The camera refused the credentials; asking again only brings a lockout nearer.
    bool notAuthorized() const { return why.ulKind == VEK_ONVIF_FAIL_NOT_AUTHORIZED; }
    // Nothing answered: the name did not resolve, nothing took the connection, or no answer came.
    bool noAnswer() const;
};

// The result of a call just made on this thread, with this thread's record.
Outcome outcomeOf(uint32_t result);

} // namespace onvif_events
