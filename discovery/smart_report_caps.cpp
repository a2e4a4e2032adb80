// The smart-analytics HTTP reports a camera offers, read from the
// SmartHttpReport element of its UserAlarm root topic.
#include "alarm_topic_table.h"
#include "discovery_internal.h"
#include "smart_reports.h"

namespace vek
{

void readSmartReportCaps(mxml_node_t *userAlarm, OnvifSmartCaps *caps)
{
    if (userAlarm == nullptr || caps == nullptr || hasSubNode(userAlarm, "SmartHttpReport") == 0) {
        return;
    }
    // A kind the camera does not list keeps whatever its flag held.
    caps->ulSupportSmartData = 0;
    for (const SmartReportKind &kind : kSmartReportKinds) {
        if (hasSubNode(userAlarm, kind.name) == 1) {
            caps->*kind.flag = 1;
            caps->ulSupportSmartData = 1;
        }
    }
}

} // namespace vek
