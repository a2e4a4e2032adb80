// A listening TCP socket on 127.0.0.1, for the fixtures that play the
// recorder's listener or a camera.
#ifndef VEK_FIXTURE_LOOPBACK_H
#define VEK_FIXTURE_LOOPBACK_H

#include <cstdint>

namespace vekfix
{

// A socket listening on 127.0.0.1 at a port the system picks, with the
// given backlog; its port goes to *port. -1 (nothing left open) when it
// cannot be made. The caller closes it.
int loopbackListener(int backlog, uint16_t *port);

} // namespace vekfix

#endif // VEK_FIXTURE_LOOPBACK_H
