#include "fixture_motion.h"

#include "fixture_files.h"

namespace vekfix
{

MotionConfig::MotionConfig()
{
    copyText(source.Name, "Source");
    copyText(source.Value, "common_string");
    copyText(data.Name, "State");
    copyText(data.Value, "common_boolean");
    templ.AlarmType = VEK_ALARM_MOTION;
    templ.SourceCount = 1;
    templ.SourceItems = &source;
    templ.DataCount = 1;
    templ.DataItems = &data;
    cfg.PresetAlarmCount = 1;
    cfg.PresetAlarms = &templ;
}

} // namespace vekfix
