// What the hub's tests reach beyond the interface (not exported): its
// connection bounds, made small to be seen at work, its connections, and
// the consumer addresses it gives.
#ifndef VEK_HUB_INTERNAL_H
#define VEK_HUB_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "hub_loop.h"
#include "vek_onvif_event.h"

namespace vek::hub
{
void setLimits(OnvifNotifyHub *hub, const LoopLimits &limits);
size_t openConnections(const OnvifNotifyHub *hub);
// The consumer address of camera id at the hub listening on host.
std::string consumerAddress(const OnvifNotifyHub *hub, const std::string &host, uint32_t id);
} // namespace vek::hub

#endif // VEK_HUB_INTERNAL_H
