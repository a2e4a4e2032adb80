// A pull point's reference parameters are kept as one text holding every
// child of the ReferenceParameters element. Each child goes back to the
// camera as a header block of its own, marked as a reference parameter
// (WS-Addressing 1.0, section 3.3 of the SOAP binding).
#ifndef VEK_REFERENCE_BLOCKS_H
#define VEK_REFERENCE_BLOCKS_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vek
{

// The attribute every reference-parameter header block carries; the wsa5
// prefix is declared on every envelope the library writes.
constexpr std::string_view kIsReferenceParameter = "wsa5:IsReferenceParameter=\"true\"";

// The top-level elements of reference, each with the attribute added to its
// start tag (unless it already carries one of that local name), in order.
// Comments, processing instructions and whitespace between them are left
// out. Nullopt when the text is not a sequence of whole elements.
std::optional<std::vector<std::string>> markedReferenceBlocks(std::string_view reference);

} // namespace vek

#endif // VEK_REFERENCE_BLOCKS_H
