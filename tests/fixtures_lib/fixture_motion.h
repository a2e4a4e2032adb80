// The motion configuration of the listener and pull-point fixtures: one
// caller-placed motion template, Source "Source" (string), Data "State"
// (boolean), code VEK_ALARM_MOTION.
#ifndef VEK_FIXTURE_MOTION_H
#define VEK_FIXTURE_MOTION_H

#include "vek_onvif_event.h"

namespace vekfix
{

struct MotionConfig {
    MotionConfig();
    MotionConfig(const MotionConfig &) = delete;
    MotionConfig &operator=(const MotionConfig &) = delete;

    OnvifSimpleItem source{};
    OnvifSimpleItem data{};
    OnvifAlarmTemplate templ{};
    OnvifAlarmCfg cfg{};
    OnvifAlarmInputList inputs{};
};

} // namespace vekfix

#endif // VEK_FIXTURE_MOTION_H
