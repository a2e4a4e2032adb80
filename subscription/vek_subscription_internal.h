// Internal steps of the subscription operations (not exported).
#ifndef VEK_SUBSCRIPTION_INTERNAL_H
#define VEK_SUBSCRIPTION_INTERNAL_H

#include <cstdint>
#include <functional>
#include <string>

#include "vek_onvif_event.h"

struct _ns7__SubscribeResponse;

namespace vek
{
// Size of every text member of OnvifSubInfo.
constexpr size_t kSubTextSize = 128;

// What a hub keeps of one subscription, whole: the manager's address and
// the reference parameter in the form it is sent back.
struct KeptSubscription {
    std::string address;
    std::string reference;
};
// Index of each scope in an array of two kept subscriptions.
constexpr size_t kKeptCommon = 0;
constexpr size_t kKeptSmart = 1;

// Where the camera is told to push. Socket mode (sockFd set): the common
// alarms go to a listening socket bound at localAddr and handed out through
// sockFd. Hub mode: they go to hubAddress, and the whole answer of each
// scope is kept in kept[kKeptCommon] and kept[kKeptSmart].
struct SubscribeConsumer {
    const char *localAddr = nullptr; // the recorder's address towards the camera
    int32_t *sockFd = nullptr;
    const char *hubAddress = nullptr;
    KeptSubscription *kept = nullptr;
};
} // namespace vek

namespace vek
{
class Exchange;

// Copies a Subscribe answer's manager address and first reference
// parameter into the two 128-byte members.
uint32_t parseSubscribeResponse(struct _ns7__SubscribeResponse *rsp, char *subAddr, char *subRef);
// The subscriptions of scope (VEK_ONVIF_SCOPE_*) as VEK_Onvif_Subscribe
// makes them once its arguments are checked; func names the operation in
// the log.
uint32_t subscribeScopes(const char *func, const SubscribeConsumer &consumer, uint32_t scope,
                         const OnvifDevAccess *access, const OnvifSmartCaps *caps,
                         OnvifSubInfo *subInfo);
// Every text of the access record is terminated and the URL is not empty.
bool validAccess(const OnvifDevAccess *access);
// Tries the ports from the recorder's default (gS32AlarmDftPort), stepping
// by two, until tryBind takes one; that port, or 0 when none was taken.
int firstFreePort(const std::function<bool(int)> &tryBind);
// One Renew request for the subscription at subAddr.
uint32_t renewOnce(const char *subAddr, const char *subRef, const char *user, const char *password);
// Puts the security (when a user name is given) and addressing headers of a
// Subscribe request on the exchange.
uint32_t addSubscribeHeaders(Exchange &exchange, const OnvifDevAccess *access);
// One Unsubscribe request over the exchange.
uint32_t unsubscribeOnce(Exchange &exchange, const char *subAddr, const char *subRef,
                         const char *user, const char *password);
} // namespace vek

#endif // VEK_SUBSCRIPTION_INTERNAL_H
