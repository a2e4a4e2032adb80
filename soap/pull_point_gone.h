// Whether a failed call says that the camera no longer holds the pull point
// (or subscription) it was sent to: expired, ended, or never known.
#ifndef VEK_PULL_POINT_GONE_H
#define VEK_PULL_POINT_GONE_H

struct soap;

namespace vek
{

// HTTP 404, or a fault naming an unknown resource or an invalid argument
// (what cameras answer for a pull point they no longer hold).
bool pullPointGone(struct soap *soap);

} // namespace vek

#endif // VEK_PULL_POINT_GONE_H
