// The demo's last step: three simulated cameras behind one port and one Notify hub of the
// recorder's for all of them.
#pragma once

#include <vector>

#include "camsim.h"
#include "demo_camera.h"
#include "demo_tally.h"

namespace onvif_events
{

// Each camera is discovered, subscribed through the hub and pushes an event of its own at the
// same moment; each report must come back with the hub id of the camera that sent it. camera
// gives the cameras' credentials and topic set.
void threeCamerasThroughOneHub(Tally &tally, const camsim::Config &camera,
                               const std::vector<DemoEvent> &events);

} // namespace onvif_events
