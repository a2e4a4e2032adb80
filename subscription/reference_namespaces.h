// Reference parameters are stored as literal XML and sent back in a SOAP
// header. A camera may declare the namespace of such an element on an
// ancestor (often the envelope); the stored fragment then uses a prefix it
// does not declare and would go out malformed. These helpers add the missing
// declarations, found in the raw answer, to the fragment's start tag.
#ifndef VEK_REFERENCE_NAMESPACES_H
#define VEK_REFERENCE_NAMESPACES_H

#include <string>
#include <string_view>
#include <vector>

namespace vek
{

// Prefixes used in element or attribute names of the fragment that the
// fragment itself does not declare ("xml" and "xmlns" excepted).
std::vector<std::string> undeclaredPrefixes(std::string_view fragment);

// The fragment with a declaration added to its root start tag for every
// undeclared prefix whose binding the raw answer gives before the fragment's
// root element; the fragment unchanged when nothing is missing or found.
std::string declareInheritedNamespaces(std::string_view fragment, std::string_view rawAnswer);

} // namespace vek

#endif // VEK_REFERENCE_NAMESPACES_H
