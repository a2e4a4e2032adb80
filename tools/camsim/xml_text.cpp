#include "xml_text.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <regex>

namespace camsim::detail
{

std::string trim(std::string_view s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return std::string(s.substr(b, e - b));
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

std::string escapeXml(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
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
    for (size_t i = lt + 1; i < xml.size(); ++i) {
        char c = xml[i];
        if (quote) {
            if (c == quote)
                quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return std::string::npos;
}

// Skip a comment, CDATA section or processing instruction starting at lt; npos if none.
size_t skipSpecial(const std::string &xml, size_t lt)
{
    auto skipTo = [&](const char *end) {
        size_t p = xml.find(end, lt);
        return p == std::string::npos ? xml.size() : p + std::strlen(end);
    };
    if (xml.compare(lt, 4, "<!--") == 0)
        return skipTo("-->");
    if (xml.compare(lt, 9, "<![CDATA[") == 0)
        return skipTo("]]>");
    if (xml.compare(lt, 2, "<?") == 0)
        return skipTo("?>");
    if (xml.compare(lt, 2, "<!") == 0)
        return skipTo(">");
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
        size_t n = pos + 1;
        while (n < xml.size() && isNameChar(xml[n]))
            ++n;
        std::string qname = xml.substr(pos + 1, n - pos - 1);
        if (qname.empty() || localName(qname) != local) {
            pos = n;
            continue;
        }
        size_t gt = tagEnd(xml, pos);
        if (gt == std::string::npos)
            return std::nullopt;
        Span span{pos, gt, gt, qname};
        if (!wholeElement || xml[gt - 2] == '/')
            return span;
        // Find the matching end tag, counting nested elements of the same name.
        int depth = 1;
        size_t p = gt;
        while ((p = xml.find('<', p)) != std::string::npos) {
            if (size_t next = skipSpecial(xml, p); next != std::string::npos) {
                p = next;
                continue;
            }
            bool closing = p + 1 < xml.size() && xml[p + 1] == '/';
            size_t s = p + (closing ? 2 : 1);
            size_t e = s;
            while (e < xml.size() && isNameChar(xml[e]))
                ++e;
            size_t end = tagEnd(xml, p);
            if (end == std::string::npos)
                return std::nullopt;
            if (xml.compare(s, e - s, qname) == 0 && e - s == qname.size()) {
                if (closing) {
                    if (--depth == 0) {
                        span.end = end;
                        return span;
                    }
                } else if (xml[end - 2] != '/') {
                    ++depth;
                }
            }
            p = end;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> namespaceAttributes(std::string_view startTag)
{
    static const std::regex re(R"re(xmlns(?::([A-Za-z_][\w.\-]*))?\s*=\s*("[^"]*"|'[^']*'))re");
    std::vector<std::pair<std::string, std::string>> out;
    std::string tag(startTag);
    for (auto it = std::sregex_iterator(tag.begin(), tag.end(), re); it != std::sregex_iterator();
         ++it) {
        // Only attributes: the match must follow whitespace.
        auto at = static_cast<size_t>(it->position(0));
        if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1])))
            continue;
        out.emplace_back((*it)[1].str(), (*it)[2].str());
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
    if (!node || mxmlGetType(node) != MXML_ELEMENT)
        return false;
    const char *name = mxmlGetElement(node);
    return name && name[0] != '?' && name[0] != '!';
}

mxml_node_t *firstChildElement(mxml_node_t *node)
{
    mxml_node_t *c = node ? mxmlGetFirstChild(node) : nullptr;
    while (c && !isElement(c))
        c = mxmlGetNextSibling(c);
    return c;
}

mxml_node_t *nextElement(mxml_node_t *node)
{
    mxml_node_t *c = node ? mxmlGetNextSibling(node) : nullptr;
    while (c && !isElement(c))
        c = mxmlGetNextSibling(c);
    return c;
}

std::string nodeLocalName(mxml_node_t *node)
{
    return isElement(node) ? localName(mxmlGetElement(node)) : std::string();
}

mxml_node_t *childByLocal(mxml_node_t *node, std::string_view local)
{
    for (mxml_node_t *c = firstChildElement(node); c; c = nextElement(c))
        if (nodeLocalName(c) == local)
            return c;
    return nullptr;
}

mxml_node_t *findDescendantByLocal(mxml_node_t *node, std::string_view local)
{
    for (mxml_node_t *c = firstChildElement(node); c; c = nextElement(c)) {
        if (nodeLocalName(c) == local)
            return c;
        if (mxml_node_t *d = findDescendantByLocal(c, local))
            return d;
    }
    return nullptr;
}

std::string textOf(mxml_node_t *node)
{
    std::string out;
    for (mxml_node_t *c = node ? mxmlGetFirstChild(node) : nullptr; c; c = mxmlGetNextSibling(c)) {
        if (mxmlGetType(c) == MXML_OPAQUE) {
            if (const char *t = mxmlGetOpaque(c))
                out += t;
        } else if (mxmlGetType(c) == MXML_ELEMENT) {
            std::string_view name = mxmlGetElement(c);
            if (name.rfind("![CDATA[", 0) == 0) {
                name.remove_prefix(8);
                if (name.size() >= 2 && name.substr(name.size() - 2) == "]]")
                    name.remove_suffix(2);
                out += name;
            }
        }
    }
    return out;
}

std::string attrByLocal(mxml_node_t *node, std::string_view local)
{
    int count = mxmlElementGetAttrCount(node);
    for (int i = 0; i < count; ++i) {
        const char *name = nullptr;
        const char *value = mxmlElementGetAttrByIndex(node, i, &name);
        if (name && localName(name) == local && std::string_view(name).rfind("xmlns", 0) != 0)
            return value ? value : "";
    }
    return {};
}

std::string namespaceOf(mxml_node_t *node)
{
    if (!isElement(node))
        return {};
    std::string prefix = prefixOf(mxmlGetElement(node));
    std::string attr = prefix.empty() ? "xmlns" : "xmlns:" + prefix;
    for (mxml_node_t *n = node; n && mxmlGetType(n) == MXML_ELEMENT; n = mxmlGetParent(n)) {
        if (const char *v = mxmlElementGetAttr(n, attr.c_str()))
            return v;
    }
    return {};
}

std::string serialize(mxml_node_t *node)
{
    mxmlSetWrapMargin(0);
    char *s = mxmlSaveAllocString(node, MXML_NO_CALLBACK);
    std::string out = s ? s : "";
    std::free(s);
    return trim(out);
}

} // namespace camsim::detail
