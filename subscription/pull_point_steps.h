// The steps of the pull-point requests shared by both interfaces to them:
// VEK_Onvif_PullPoint_* (whole subscription reference, batches, long polls)
// and the older VEK_Onvif_CreatePullPointSubscription and
// VEK_Onvif_PullMessages (address only, one message, one second). Each
// interface passes its own rows, texts and codes (internal).
#ifndef VEK_PULL_POINT_STEPS_H
#define VEK_PULL_POINT_STEPS_H

#include <cstdint>

#include "request_row.h"
#include "vek_onvif_event.h"

namespace vek
{

// An xsd:duration of a request: a fixed text, or else whole seconds written
// into the context.
struct DurationText {
    const char *fixed;
    uint32_t seconds;
};

// The text of duration for a request record: a fixed text as it is (the
// serializer only reads it), seconds as a copy in the context; null when
// the context cannot hold it.
char *durationIn(struct soap *soap, DurationText duration);

// How an interface creates a pull point and reads the answer.
struct PullPointCreation {
    const RequestRow *row;
    bool keepsReference;         // reads and keeps the reference parameters
    bool emptyAddressIsNone;     // an address of only whitespace names no pull point
    const char *noPullPointText; // format; takes the url
    uint32_t noPullPointLogCode;
    uint32_t noMemoryLogCode; // the copies on the platform heap failed
    uint32_t noMemoryCode;
};

// What one pull asks for.
struct PullRequest {
    const OnvifPullPoint *pullPoint;
    const char *user;
    const char *password;
    uint32_t messageLimit;
    DurationText timeout;
    // The receive time-out the call needs at least; 0 leaves the context's.
    int receiveSeconds;
};

// The arguments every pull-point request needs: a context, an address, a
// user and a password; others is what the operation adds. A refusal is
// logged ("Invalid input Param.") for func with logCode.
bool acceptedPullArguments(const struct soap *soap, const char *address, const char *user,
                           const char *password, bool others, const char *func, uint32_t logCode);

// Creates a pull point at target.url; on success fills created (its
// ulFlags kept) with copies on the platform heap. termination: none when
// neither fixed nor seconds are given.
uint32_t createPullPoint(struct soap *soap, const PullPointCreation &how,
                         const RequestTarget &target, DurationText termination,
                         OnvifPullPoint *created);

// Pulls from the pull point and translates what arrives into result.
uint32_t pullMessages(struct soap *soap, const RequestRow &row, const PullRequest &pull,
                      OnvifAlarmInputList *inputs, OnvifAlarmCfg *cfg, OnvifPullResult *result);

} // namespace vek

#endif // VEK_PULL_POINT_STEPS_H
