// A reference parameter is stored in a member of fixed size, so its text is
// kept as short as an equivalent well-formed fragment can be: no whitespace
// between tags, no namespace declaration that nothing in it needs, no
// redundant spacing inside tags, empty elements closed in their start tag.
#ifndef VEK_REFERENCE_COMPACT_H
#define VEK_REFERENCE_COMPACT_H

#include <string>
#include <string_view>

namespace vek
{

// The compact form of an XML fragment (one or more elements). Text that is
// not only whitespace, attribute values, comments, CDATA sections and
// processing instructions are kept byte for byte. A fragment that cannot be
// read as XML is returned unchanged.
std::string compactReference(std::string_view fragment);

// Whether fragment reads as XML: one or more elements, well nested, each
// attribute value quoted.
bool readsAsXmlFragment(std::string_view fragment);

} // namespace vek

#endif // VEK_REFERENCE_COMPACT_H
