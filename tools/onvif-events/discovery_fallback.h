// Cameras whose discovery gives no templates: some answer GetEventProperties with HTTP 501 or an
// ActionNotSupported fault, or advertise no topic the library knows. Their alarms are matched
// with the templates of the library's topic table instead, decided from the error record.
#pragma once

#include <string>

#include "failure.h"
#include "vek_onvif_event.h"

namespace onvif_events
{

// Why the topic table stands in for the camera's discovery ("answered HTTP 501", "answered
// ter:ActionNotSupported", "gave no known alarm topic"); empty when discovery gave templates or
// failed otherwise.
std::string topicTableReason(const Outcome &discovery, const OnvifAlarmCfg &cfg);

} // namespace onvif_events
