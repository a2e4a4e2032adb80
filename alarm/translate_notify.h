// The translation of a Notify or PullMessages answer, with the choice of
// reporting the initial states of properties (internal).
#ifndef VEK_ALARM_TRANSLATE_NOTIFY_H
#define VEK_ALARM_TRANSLATE_NOTIFY_H

#include <cstdint>

#include "vek_onvif_event.h"

struct _ns7__Notify;

namespace vek::alarm
{

// As VEK_Onvif_TransAlarmType; with initialStates a message whose
// PropertyOperation is "Initialized" is translated as a "Changed" one
// instead of being dropped.
OnvifAlarmReport *translateNotify(OnvifAlarmCfg *cfg, OnvifAlarmInputList *inputs,
                                  struct _ns7__Notify *notify, uint32_t *count, bool initialStates);

} // namespace vek::alarm

#endif // VEK_ALARM_TRANSLATE_NOTIFY_H
