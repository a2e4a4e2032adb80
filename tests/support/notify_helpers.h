// Small helpers of the push-path tests: the port a socket is bound to and a
// motion Notify message as the camera simulator sends it.
#ifndef VEK_NOTIFY_HELPERS_H
#define VEK_NOTIFY_HELPERS_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

#include "camsim.h"

namespace vektest
{

inline int boundPort(int fd)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    return ntohs(addr.sin_port);
}

inline std::string motionMessage(const char *state, const char *token = "VideoSourceToken_1")
{
    return camsim::makeNotificationMessage(
        "tns1:VideoSource/MotionAlarm", camsim::makeSimpleMessage("2026-12-10T01:00:00Z", "Changed",
                                                                  "Source", token, "State", state));
}

} // namespace vektest

#endif // VEK_NOTIFY_HELPERS_H
