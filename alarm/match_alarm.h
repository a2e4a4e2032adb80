// Matching of one parsed alarm with what the translation needs to know
// beyond the report (internal).
#ifndef VEK_ALARM_MATCH_ALARM_H
#define VEK_ALARM_MATCH_ALARM_H

#include <cstdint>

#include "vek_onvif_event.h"

namespace vek::alarm
{

struct MatchOutcome {
    // A Data item of the alarm was read as its state.
    bool stateRead = false;
    // The alarm matched but was dropped (and logged): it names no source
    // and the camera has several.
    bool dropped = false;
};

// As VEK_Onvif_Event_MatchAlarmType, arguments checked by the caller.
uint32_t matchAlarm(OnvifAlarmCfg &cfg, const OnvifAlarmInputList &inputs,
                    OnvifAlarmTemplate &alarm, OnvifAlarmReport &report, MatchOutcome &outcome);

} // namespace vek::alarm

#endif // VEK_ALARM_MATCH_ALARM_H
