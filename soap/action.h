// The requests the library sends, each with its WS-Addressing action URI.
#ifndef VEK_ACTION_H
#define VEK_ACTION_H

#include <cstdint>
#include <optional>

namespace vek
{

// The first seven keep the order of the interface's VEK_ONVIF_ACTION_*
// numbers, which VEK_Onvif_HeaderEnc takes.
enum class Action {
    GetEventProperties,
    Subscribe,
    Notify,
    Renew,
    Unsubscribe,
    CreatePullPoint,
    PullMessages,
    SetSynchronizationPoint,
};

const char *actionUri(Action action);

// The action of an interface number; nullopt for a number the interface
// does not define.
std::optional<Action> interfaceAction(uint32_t number);

} // namespace vek

#endif // VEK_ACTION_H
