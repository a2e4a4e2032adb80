// Textual and Mini-XML helpers shared by the simulator sources (internal).
#pragma once

#include <mxml.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace camsim::detail
{

std::string trim(std::string_view text);
std::string localName(std::string_view qname);
std::string prefixOf(std::string_view qname);
std::string escapeXml(std::string_view text);

// Span [begin, end) of an element found in raw text, with its qualified name.
struct Span {
    size_t begin = 0;
    size_t end = 0;
    size_t startTagEnd = 0; // one past the '>' of the start tag
    std::string qname;
};

// The next start tag at or after pos whose local name is `local` (comments, CDATA,
// processing instructions skipped). When `wholeElement`, also finds the matching end tag and
// returns nullopt if it is missing.
std::optional<Span> findElement(const std::string &xml, std::string_view local, size_t pos,
                                bool wholeElement = true);

// xmlns and xmlns:p attributes of a start tag text, in order: (prefix or "", raw quoted value).
std::vector<std::pair<std::string, std::string>> namespaceAttributes(std::string_view startTag);

// An owned Mini-XML tree; root() is a synthetic parent of the document's top-level nodes.
class XmlTree
{
  public:
    explicit XmlTree(const std::string &text);
    ~XmlTree();
    XmlTree(const XmlTree &) = delete;
    XmlTree &operator=(const XmlTree &) = delete;
    bool ok() const { return ok_; }
    mxml_node_t *root() const { return top_; }

  private:
    mxml_node_t *top_ = nullptr;
    bool ok_ = false;
};

bool isElement(mxml_node_t *node);
mxml_node_t *firstChildElement(mxml_node_t *node);
mxml_node_t *nextElement(mxml_node_t *node);
mxml_node_t *childByLocal(mxml_node_t *node, std::string_view local);
mxml_node_t *findDescendantByLocal(mxml_node_t *node, std::string_view local);
std::string nodeLocalName(mxml_node_t *node);
std::string textOf(mxml_node_t *node); // direct text children, untrimmed
std::string attrByLocal(mxml_node_t *node, std::string_view local);
// Namespace URI bound to the element's prefix, looked up on it and its ancestors.
std::string namespaceOf(mxml_node_t *node);
std::string serialize(mxml_node_t *node);

} // namespace camsim::detail
