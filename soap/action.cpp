#include "action.h"

#include "vek_onvif_event.h"

namespace vek
{
namespace
{

struct ActionRow {
    Action action;
    const char *uri;
};

constexpr ActionRow kActions[] = {
    {Action::GetEventProperties,
     "http://www.onvif.org/ver10/events/wsdl/EventPortType/GetEventPropertiesRequest"},
    {Action::Subscribe,
     "http://docs.oasis-open.org/wsn/bw-2/NotificationProducer/SubscribeRequest"},
    {Action::Notify, "http://docs.oasis-open.org/wsn/bw-2/NotificationConsumer/Notify"},
    {Action::Renew, "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/RenewRequest"},
    {Action::Unsubscribe,
     "http://docs.oasis-open.org/wsn/bw-2/SubscriptionManager/UnsubscribeRequest"},
    {Action::CreatePullPoint,
     "http://www.onvif.org/ver10/events/wsdl/EventPortType/CreatePullPointSubscriptionRequest"},
    {Action::PullMessages,
     "http://www.onvif.org/ver10/events/wsdl/PullPointSubscription/PullMessagesRequest"},
    {Action::SetSynchronizationPoint, "http://www.onvif.org/ver10/events/wsdl/"
                                      "PullPointSubscription/SetSynchronizationPointRequest"},
};

constexpr bool rowsInActionOrder()
{
    for (size_t i = 0; i < sizeof kActions / sizeof kActions[0]; ++i) {
        if (static_cast<size_t>(kActions[i].action) != i) {
            return false;
        }
    }
    return true;
}
static_assert(rowsInActionOrder(), "one row per action, in the order of Action");
constexpr bool interfaceNumbersInActionOrder()
{
    constexpr uint32_t kNumbers[] = {
        VEK_ONVIF_ACTION_GET_EVENT_PROPERTIES,
        VEK_ONVIF_ACTION_SUBSCRIBE,
        VEK_ONVIF_ACTION_NOTIFY,
        VEK_ONVIF_ACTION_RENEW,
        VEK_ONVIF_ACTION_UNSUBSCRIBE,
        VEK_ONVIF_ACTION_CREATE_PULL_POINT,
        VEK_ONVIF_ACTION_PULL_MESSAGES,
    };
    for (uint32_t i = 0; i < sizeof kNumbers / sizeof kNumbers[0]; ++i) {
        if (kNumbers[i] != i) {
            return false;
        }
    }
    return static_cast<uint32_t>(Action::PullMessages) == VEK_ONVIF_ACTION_PULL_MESSAGES;
}
static_assert(interfaceNumbersInActionOrder(), "the interface's numbers name the same actions");

} // namespace

const char *actionUri(Action action)
{
    return kActions[static_cast<size_t>(action)].uri;
}

std::optional<Action> interfaceAction(uint32_t number)
{
    if (number > VEK_ONVIF_ACTION_PULL_MESSAGES) {
        return std::nullopt;
    }
    return static_cast<Action>(number);
}

} // namespace vek
