// Textual and Mini-XML helpers shared by the simulator sources.
#include "xml_text.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <regex>

namespace camsim::detail
{

std::string trim(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin]))) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1]))) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

std::string localName(std::string_view qname)
{
    size_t colon = qname.rfind(':');
    return std::string(colon == std::string_view::npos ? qname : qname.substr(colon + 1));
}

std::string prefixOf(std::string_view qname)
{
    size_t colon = qname.find(':');
    return colon == std::string_view::npos ? std::string() : std::string(qname.substr(0, colon));
}

std::string escapeXml(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

namespace
{

bool isNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '_' || c == '-' ||
           c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// Position one past the '>' closing the tag that starts at lt (quotes respected), or npos.
size_t tagEnd(const std::string &xml, size_t lt)
{
    char quote = 0;
    for (size_t index = lt + 1; index < xml.size(); ++index) {
        char c = xml[index];
        if (quote) {
            if (c == quote) {
                quote = 0;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return index + 1;
        }
    }
    return std::string::npos;
}

// Skip a comment, CDATA section or processing instruction starting at lt; npos if none.
size_t skipSpecial(const std::string &xml, size_t lt)
{
    auto skipTo = [&](const char *end) {
        size_t found = xml.find(end, lt);
        return found == std::string::npos ? xml.size() : found + std::strlen(end);
    };
    if (xml.compare(lt, 4, "<!--") == 0) {
        return skipTo("-->");
    }
    if (xml.compare(lt, 9, "<![CDATA[") == 0) {
        return skipTo("]]>");
    }
    if (xml.compare(lt, 2, "<?") == 0) {
        return skipTo("?>");
    }
    if (xml.compare(lt, 2, "<!") == 0) {
        return skipTo(">");
    }
    return std::string::npos;
}

// One past the last name character at or after pos.
size_t nameEnd(const std::string &xml, size_t pos)
{
    while (pos < xml.size() && isNameChar(xml[pos])) {
        ++pos;
    }
    return pos;
}

// One past the end tag matching the start tag of qname that ends at startTagEnd, counting
// nested elements of the same name; npos if there is none.
size_t matchingEndTag(const std::string &xml, const std::string &qname, size_t startTagEnd)
{
    int depth = 1;
    size_t pos = startTagEnd;
    while ((pos = xml.find('<', pos)) != std::string::npos) {
        if (size_t next = skipSpecial(xml, pos); next != std::string::npos) {
            pos = next;
            continue;
        }
        bool closing = pos + 1 < xml.size() && xml[pos + 1] == '/';
        size_t nameBegin = pos + (closing ? 2 : 1);
        size_t nameLength = nameEnd(xml, nameBegin) - nameBegin;
        size_t end = tagEnd(xml, pos);
        if (end == std::string::npos) {
            return std::string::npos;
        }
        if (xml.compare(nameBegin, nameLength, qname) == 0 && nameLength == qname.size()) {
            if (closing) {
                if (--depth == 0) {
                    return end;
                }
            } else if (xml[end - 2] != '/') {
                ++depth;
            }
        }
        pos = end;
    }
    return std::string::npos;
}

} // namespace

std::optional<Span> findElement(const std::string &xml, std::string_view local, size_t pos,
                                bool wholeElement)
{
    while ((pos = xml.find('<', pos)) != std::string::npos) {
        if (size_t next = skipSpecial(xml, pos); next != std::string::npos) {
            pos = next;
            continue;
        }
        if (pos + 1 < xml.size() && xml[pos + 1] == '/') {
            ++pos;
            continue;
        }
        size_t end = nameEnd(xml, pos + 1);
        std::string qname = xml.substr(pos + 1, end - pos - 1);
        if (qname.empty() || localName(qname) != local) {
            pos = end;
            continue;
        }
        size_t startTagEnd = tagEnd(xml, pos);
        if (startTagEnd == std::string::npos) {
            return std::nullopt;
        }
        Span span{pos, startTagEnd, startTagEnd, qname};
        if (!wholeElement || xml[startTagEnd - 2] == '/') {
            return span;
        }
        span.end = matchingEndTag(xml, qname, startTagEnd);
        if (span.end == std::string::npos) {
            return std::nullopt;
        }
        return span;
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> namespaceAttributes(std::string_view startTag)
{
    static const std::regex declaration(
        R"re(xmlns(?::([A-Za-z_][\w.\-]*))?\s*=\s*("[^"]*"|'[^']*'))re");
    std::vector<std::pair<std::string, std::string>> out;
    std::string tag(startTag);
    for (auto match = std::sregex_iterator(tag.begin(), tag.end(), declaration);
         match != std::sregex_iterator(); ++match) {
        // Only attributes: the match must follow whitespace.
        auto at = static_cast<size_t>(match->position(0));
        if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1]))) {
            continue;
        }
        out.emplace_back((*match)[1].str(), (*match)[2].str());
    }
    return out;
}

namespace
{
void quietErrors(const char *) {}
} // namespace

XmlTree::XmlTree(const std::string &text)
{
    mxmlSetErrorCallback(quietErrors); // Mini-XML keeps this per thread
    top_ = mxmlNewElement(MXML_NO_PARENT, "camsim-top");
    ok_ = mxmlLoadString(top_, text.c_str(), MXML_OPAQUE_CALLBACK) != nullptr &&
          firstChildElement(top_) != nullptr;
}

XmlTree::~XmlTree()
{
    mxmlDelete(top_);
}

bool isElement(mxml_node_t *node)
{
    if (!node || mxmlGetType(node) != MXML_ELEMENT) {
        return false;
    }
    const char *name = mxmlGetElement(node);
    return name && name[0] != '?' && name[0] != '!';
}

mxml_node_t *firstChildElement(mxml_node_t *node)
{
    mxml_node_t *child = node ? mxmlGetFirstChild(node) : nullptr;
    while (child && !isElement(child)) {
        child = mxmlGetNextSibling(child);
    }
    return child;
}

mxml_node_t *nextElement(mxml_node_t *node)
{
    mxml_node_t *sibling = node ? mxmlGetNextSibling(node) : nullptr;
    while (sibling && !isElement(sibling)) {
        sibling = mxmlGetNextSibling(sibling);
    }
    return sibling;
}

std::string nodeLocalName(mxml_node_t *node)
{
    return isElement(node) ? localName(mxmlGetElement(node)) : std::string();
}

mxml_node_t *childByLocal(mxml_node_t *node, std::string_view local)
{
    for (mxml_node_t *child = firstChildElement(node); child; child = nextElement(child)) {
        if (nodeLocalName(child) == local) {
            return child;
        }
    }
    return nullptr;
}

mxml_node_t *findDescendantByLocal(mxml_node_t *node, std::string_view local)
{
    for (mxml_node_t *child = firstChildElement(node); child; child = nextElement(child)) {
        if (nodeLocalName(child) == local) {
            return child;
        }
        if (mxml_node_t *found = findDescendantByLocal(child, local)) {
            return found;
        }
    }
    return nullptr;
}

std::string textOf(mxml_node_t *node)
{
    std::string out;
    for (mxml_node_t *child = node ? mxmlGetFirstChild(node) : nullptr; child;
         child = mxmlGetNextSibling(child)) {
        if (mxmlGetType(child) == MXML_OPAQUE) {
            if (const char *text = mxmlGetOpaque(child)) {
                out += text;
            }
        } else if (mxmlGetType(child) == MXML_ELEMENT) {
            std::string_view name = mxmlGetElement(child);
            if (name.rfind("![CDATA[", 0) == 0) {
                name.remove_prefix(8);
                if (name.size() >= 2 && name.substr(name.size() - 2) == "]]") {
                    name.remove_suffix(2);
                }
                out += name;
            }
        }
    }
    return out;
}

std::string attrByLocal(mxml_node_t *node, std::string_view local)
{
    int count = mxmlElementGetAttrCount(node);
    for (int index = 0; index < count; ++index) {
        const char *name = nullptr;
        const char *value = mxmlElementGetAttrByIndex(node, index, &name);
        if (name && localName(name) == local && std::string_view(name).rfind("xmlns", 0) != 0) {
            return value ? value : "";
        }
    }
    return {};
}

std::string namespaceOf(mxml_node_t *node)
{
    if (!isElement(node)) {
        return {};
    }
    std::string prefix = prefixOf(mxmlGetElement(node));
    std::string attribute = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
    for (mxml_node_t *element = node; element && mxmlGetType(element) == MXML_ELEMENT;
         element = mxmlGetParent(element)) {
        if (const char *uri = mxmlElementGetAttr(element, attribute.c_str())) {
            return uri;
        }
    }
    return {};
}

std::string serialize(mxml_node_t *node)
{
    mxmlSetWrapMargin(0);
    char *saved = mxmlSaveAllocString(node, MXML_NO_CALLBACK);
    std::string out = saved ? saved : "";
    std::free(saved);
    return trim(out);
}

} // namespace camsim::detail
