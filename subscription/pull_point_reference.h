// Reading a pull point's reference parameters from the camera's answer,
// kept whole (internal).
#ifndef VEK_PULL_POINT_REFERENCE_H
#define VEK_PULL_POINT_REFERENCE_H

#include <cstddef>
#include <string>
#include <string_view>

struct wsa5__ReferenceParametersType;

namespace vek
{

// The longest reference a pull point may carry: every later request sends
// it back whole.
constexpr size_t kMaxPullPointReference = 64 * 1024;

// Every child of parameters, in order, each with the namespace declarations
// it inherited in rawAnswer added and in compact form. Empty when there are
// none.
// The first maxChildren children of parameters, in order, each with the
// namespace declarations it inherited in rawAnswer (the bytes received,
// HTTP head included) added, in compact form, and with its values escaped
// as the answer wrote them. Empty when there are none.
std::string storedReferenceParameters(const wsa5__ReferenceParametersType *parameters,
                                      std::string_view rawAnswer, size_t maxChildren);

// All of them, for a pull point.
std::string pullPointReference(const wsa5__ReferenceParametersType *parameters,
                               std::string_view rawAnswer);

} // namespace vek

#endif // VEK_PULL_POINT_REFERENCE_H
