// Reference parameters are stored as literal XML and sent back in a SOAP
// header. A camera may declare the namespace of such an element on an
// ancestor (often the envelope); the stored fragment then uses a prefix it
// does not declare and would go out malformed. These helpers add the missing
// declarations, read from the raw answer, to the fragment's start tag.
#ifndef VEK_REFERENCE_NAMESPACES_H
#define VEK_REFERENCE_NAMESPACES_H

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vek
{

// The namespace bindings in scope at one element: prefix -> the URI as
// written ("" standing for the default namespace).
using NamespaceScope = std::unordered_map<std::string, std::string>;

// The bindings in scope at the first start tag in rawAnswer whose local name
// is localName, its own declarations included; when there is none, those of
// the elements still open where the text ends. One pass over the text.
NamespaceScope namespacesInScopeAt(std::string_view rawAnswer, std::string_view localName);

// The direct child elements, whole and as written, of the first element in
// xml whose local name is localName; none when there is no such element.
std::vector<std::string_view> childElementsOf(std::string_view xml, std::string_view localName);

// Prefixes used in element or attribute names of the fragment that the
// fragment itself does not declare ("xml" and "xmlns" excepted), in the
// order of their first use.
std::vector<std::string> undeclaredPrefixes(std::string_view fragment);

// The fragment with a declaration added to its root start tag for every
// undeclared prefix that scope binds, the prefix of an xsi:type value
// included, and for the default namespace when an unprefixed element or
// xsi:type value relies on it; the fragment unchanged when nothing is
// missing or found.
std::string declareNamespaces(std::string_view fragment, const NamespaceScope &scope);

} // namespace vek

#endif // VEK_REFERENCE_NAMESPACES_H
