// Whether a failed call says that the camera no longer holds the pull point
// (or subscription) it was sent to: expired, ended, or never known.
#ifndef VEK_PULL_POINT_GONE_H
#define VEK_PULL_POINT_GONE_H

struct soap;

namespace vek
{

// As saysPullPointGone (base/pull_point_gone_rule.h) reads the context's
// failure.
bool pullPointGone(struct soap *soap);

} // namespace vek

#endif // VEK_PULL_POINT_GONE_H
