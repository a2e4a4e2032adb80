// Internal steps of the subscription operations (not exported).
#ifndef VEK_SUBSCRIPTION_INTERNAL_H
#define VEK_SUBSCRIPTION_INTERNAL_H

#include <cstdint>

#include "listener_defences.h"
#include "vek_onvif_event.h"

struct _ns7__SubscribeResponse;

namespace vek
{
// Size of every text member of OnvifSubInfo.
constexpr size_t kSubTextSize = 128;
} // namespace vek

namespace vek
{
class Exchange;

// Copies a Subscribe answer's manager address and first reference
// parameter into the two 128-byte members.
uint32_t parseSubscribeResponse(struct _ns7__SubscribeResponse *rsp, char *subAddr, char *subRef);
// Puts the security (when a user name is given) and addressing headers of a
// Subscribe request on the exchange.
uint32_t addSubscribeHeaders(Exchange &exchange, const OnvifDevAccess *access);
// One Unsubscribe request over the exchange.
uint32_t unsubscribeOnce(Exchange &exchange, const char *subAddr, const char *subRef,
                         const char *user, const char *password);
} // namespace vek

#endif // VEK_SUBSCRIPTION_INTERNAL_H
