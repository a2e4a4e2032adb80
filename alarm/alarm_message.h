// One notification message parsed into a parsed alarm, with what its
// property operation says about the alarm's state.
#ifndef VEK_ALARM_MESSAGE_H
#define VEK_ALARM_MESSAGE_H

#include <cstdint>

#include "vek_onvif_event.h"

namespace vek::alarm
{

// How a message is read.
struct ParseOptions {
    // A message whose PropertyOperation is "Initialized" (a property's state
    // when the subscription starts) is read like a change instead of being
    // refused.
    bool initialStates = false;
};

// Fills the item arrays and counts of alarm from the message text as
// VEK_Onvif_Event_ParseAlarmMsg does, with the same results (but for
// initial states when options ask for them). deleted tells whether the
// message reports a property instance that no longer exists (the tracked
// object is gone, the rule was removed): such an alarm is over, whatever
// its state items say. initialized tells whether it reports a property's
// initial state.
uint32_t parseAlarmMessage(const char *msg, const ParseOptions &options, OnvifAlarmTemplate &alarm,
                           bool &deleted, bool &initialized);

} // namespace vek::alarm

#endif // VEK_ALARM_MESSAGE_H
