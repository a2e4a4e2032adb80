// The smart-analytics HTTP reports a camera may offer under its UserAlarm
// root topic: the element that names each in a topic set and the flag of
// OnvifSmartCaps that records it, in the order they are subscribed.
#ifndef VEK_SMART_REPORTS_H
#define VEK_SMART_REPORTS_H

#include "vek_onvif_event.h"

namespace vek
{

struct SmartReportKind {
    const char *name;
    uint32_t OnvifSmartCaps::*flag;
};

constexpr SmartReportKind kSmartReportKinds[] = {
    {"LineDetector", &OnvifSmartCaps::ulLineDetector},
    {"FieldDetector", &OnvifSmartCaps::ulFieldDetector},
    {"FaceDetector", &OnvifSmartCaps::ulFaceDetector},
    {"CountAggregation", &OnvifSmartCaps::ulCountAggregation},
};

// The topic of a report kind in a Subscribe filter is this prefix, the
// kind's name and a slash.
constexpr const char *kSmartReportTopicPrefix = "tns1:UserAlarm/tns1:SmartHttpReport/tns1:";

} // namespace vek

#endif // VEK_SMART_REPORTS_H
