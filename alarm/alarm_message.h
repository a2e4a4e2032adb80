// One notification message parsed into a parsed alarm, with what its
// property operation says about the alarm's state.
#ifndef VEK_ALARM_MESSAGE_H
#define VEK_ALARM_MESSAGE_H

#include <cstdint>

#include "vek_onvif_event.h"

namespace vek::alarm
{

// Fills the item arrays and counts of alarm from the message text as
// VEK_Onvif_Event_ParseAlarmMsg does, with the same results. deleted tells
// whether the message reports a property instance that no longer exists
// (the tracked object is gone, the rule was removed): such an alarm is
// over, whatever its state items say.
uint32_t parseAlarmMessage(const char *msg, OnvifAlarmTemplate &alarm, bool &deleted);

} // namespace vek::alarm

#endif // VEK_ALARM_MESSAGE_H
