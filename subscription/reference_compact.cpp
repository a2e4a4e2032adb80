#include "reference_compact.h"

#include <map>
#include <vector>

namespace vek
{

namespace
{

// Deeper fragments are left as they are; they are far too long to be
// stored in any case.
constexpr int kMaxDepth = 64;

struct Attribute {
    std::string name;
    std::string value; // with its quotes, as written
};

struct Node {
    enum class Kind { Element, Text, Verbatim };
    Kind kind = Kind::Text;
    std::string name;                  // Element
    std::vector<Attribute> attributes; // Element
    std::vector<Node> children;        // Element
    std::string text;                  // Text (character data) or Verbatim (comment, CDATA, PI)
};

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameEnd(char c)
{
    return isSpace(c) || c == '/' || c == '>' || c == '=' || c == '<';
}

bool isNameChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == ':' || static_cast<unsigned char>(c) >= 0x80;
}

bool onlySpace(std::string_view text)
{
    for (char c : text) {
        if (!isSpace(c)) {
            return false;
        }
    }
    return true;
}

std::string_view prefixOf(std::string_view qname)
{
    size_t colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}

// For a namespace declaration attribute: true, and the declared prefix
// ("" for the default namespace).
bool declaredPrefix(std::string_view attribute, std::string_view &prefix)
{
    if (attribute == "xmlns") {
        prefix = {};
        return true;
    }
    if (attribute.substr(0, 6) == "xmlns:") {
        prefix = attribute.substr(6);
        return true;
    }
    return false;
}

std::string_view unquoted(std::string_view value)
{
    return value.size() >= 2 ? value.substr(1, value.size() - 2) : value;
}

class Reader
{
  public:
    explicit Reader(std::string_view xml) : xml_(xml) {}

    bool readFragment(std::vector<Node> &nodes)
    {
        if (!readContent(nodes, {}, 0)) {
            return false;
        }
        for (const Node &node : nodes) {
            if (node.kind == Node::Kind::Text && !onlySpace(node.text)) {
                return false; // character data outside every element
            }
        }
        return true;
    }

  private:
    bool startsWith(std::string_view text) const { return xml_.substr(pos_, text.size()) == text; }

    void skipSpace()
    {
        while (pos_ < xml_.size() && isSpace(xml_[pos_])) {
            ++pos_;
        }
    }

    std::string_view readName()
    {
        size_t start = pos_;
        while (pos_ < xml_.size() && !isNameEnd(xml_[pos_])) {
            ++pos_;
        }
        return xml_.substr(start, pos_ - start);
    }

    // Copies up to and including the terminator into a verbatim node.
    bool readVerbatim(std::string_view terminator, std::vector<Node> &nodes)
    {
        size_t end = xml_.find(terminator, pos_);
        if (end == std::string_view::npos) {
            return false;
        }
        end += terminator.size();
        Node node;
        node.kind = Node::Kind::Verbatim;
        node.text = std::string(xml_.substr(pos_, end - pos_));
        nodes.push_back(std::move(node));
        pos_ = end;
        return true;
    }

    // Reads nodes until the end tag of `parent` (or the end of the text when
    // parent is empty).
    bool readContent(std::vector<Node> &nodes, std::string_view parent, int depth)
    {
        while (pos_ < xml_.size()) {
            if (xml_[pos_] != '<') {
                size_t end = xml_.find('<', pos_);
                if (end == std::string_view::npos) {
                    end = xml_.size();
                }
                Node node;
                node.text = std::string(xml_.substr(pos_, end - pos_));
                nodes.push_back(std::move(node));
                pos_ = end;
            } else if (startsWith("</")) {
                pos_ += 2;
                std::string_view name = readName();
                skipSpace();
                if (parent.empty() || name != parent || pos_ >= xml_.size() || xml_[pos_] != '>') {
                    return false;
                }
                ++pos_;
                return true;
            } else if (startsWith("<!--")) {
                if (!readVerbatim("-->", nodes)) {
                    return false;
                }
            } else if (startsWith("<![CDATA[")) {
                if (!readVerbatim("]]>", nodes)) {
                    return false;
                }
            } else if (startsWith("<?")) {
                if (!readVerbatim("?>", nodes)) {
                    return false;
                }
            } else if (startsWith("<!")) {
                return false;
            } else if (!readElement(nodes, depth + 1)) {
                return false;
            }
        }
        return parent.empty();
    }

    bool readElement(std::vector<Node> &nodes, int depth)
    {
        if (depth > kMaxDepth) {
            return false;
        }
        ++pos_;
        Node element;
        element.kind = Node::Kind::Element;
        element.name = std::string(readName());
        if (element.name.empty()) {
            return false;
        }
        while (true) {
            skipSpace();
            if (pos_ >= xml_.size()) {
                return false;
            }
            if (startsWith("/>")) {
                pos_ += 2;
                nodes.push_back(std::move(element));
                return true;
            }
            if (xml_[pos_] == '>') {
                ++pos_;
                if (!readContent(element.children, element.name, depth)) {
                    return false;
                }
                nodes.push_back(std::move(element));
                return true;
            }
            Attribute attribute;
            attribute.name = std::string(readName());
            skipSpace();
            if (attribute.name.empty() || pos_ >= xml_.size() || xml_[pos_] != '=') {
                return false;
            }
            ++pos_;
            skipSpace();
            if (pos_ >= xml_.size() || (xml_[pos_] != '"' && xml_[pos_] != '\'')) {
                return false;
            }
            size_t close = xml_.find(xml_[pos_], pos_ + 1);
            if (close == std::string_view::npos) {
                return false;
            }
            attribute.value = std::string(xml_.substr(pos_, close + 1 - pos_));
            pos_ = close + 1;
            element.attributes.push_back(std::move(attribute));
        }
    }

    std::string_view xml_;
    size_t pos_ = 0;
};

// True when text holds prefix as the start of a qualified name ("p:x"), as
// in a QName-valued attribute or element content.
bool mentionsPrefix(std::string_view text, std::string_view prefix)
{
    std::string key = std::string(prefix) + ":";
    for (size_t at = text.find(key); at != std::string_view::npos; at = text.find(key, at + 1)) {
        if (at == 0 || !isNameChar(text[at - 1])) {
            return true;
        }
    }
    return false;
}

bool redeclares(const Node &element, std::string_view prefix)
{
    for (const Attribute &attribute : element.attributes) {
        std::string_view declared;
        if (declaredPrefix(attribute.name, declared) && declared == prefix) {
            return true;
        }
    }
    return false;
}

// True when the element or its content relies on the binding of prefix
// ("" standing for the default namespace) that is in scope at the element.
bool usesPrefix(const Node &element, std::string_view prefix)
{
    if (prefixOf(element.name) == prefix) {
        return true;
    }
    if (!prefix.empty()) {
        for (const Attribute &attribute : element.attributes) {
            std::string_view declared;
            if (declaredPrefix(attribute.name, declared)) {
                continue;
            }
            if (prefixOf(attribute.name) == prefix || mentionsPrefix(attribute.value, prefix)) {
                return true;
            }
        }
    }
    for (const Node &child : element.children) {
        if (child.kind == Node::Kind::Element) {
            if (!redeclares(child, prefix) && usesPrefix(child, prefix)) {
                return true;
            }
        } else if (!prefix.empty() && mentionsPrefix(child.text, prefix)) {
            return true;
        }
    }
    return false;
}

using Scope = std::map<std::string, std::string, std::less<>>;

bool preservesSpace(const Node &element, bool inherited)
{
    for (const Attribute &attribute : element.attributes) {
        if (attribute.name == "xml:space") {
            return unquoted(attribute.value) == "preserve";
        }
    }
    return inherited;
}

void write(const Node &node, const Scope &outer, bool preserve, std::string &out);

void writeElement(const Node &element, const Scope &outer, bool preserve, std::string &out)
{
    Scope scope = outer;
    preserve = preservesSpace(element, preserve);
    out += '<';
    out += element.name;
    for (const Attribute &attribute : element.attributes) {
        std::string_view prefix;
        if (declaredPrefix(attribute.name, prefix)) {
            std::string_view uri = unquoted(attribute.value);
            auto bound = scope.find(prefix);
            bool alreadyBound = bound != scope.end() && bound->second == uri;
            if (alreadyBound || !usesPrefix(element, prefix)) {
                continue;
            }
            scope[std::string(prefix)] = std::string(uri);
        }
        out += ' ';
        out += attribute.name;
        out += '=';
        out += attribute.value;
    }
    std::string content;
    for (const Node &child : element.children) {
        write(child, scope, preserve, content);
    }
    if (content.empty()) {
        out += "/>";
        return;
    }
    out += '>';
    out += content;
    out += "</";
    out += element.name;
    out += '>';
}

void write(const Node &node, const Scope &outer, bool preserve, std::string &out)
{
    switch (node.kind) {
    case Node::Kind::Element:
        writeElement(node, outer, preserve, out);
        break;
    case Node::Kind::Text:
        if (preserve || !onlySpace(node.text)) {
            out += node.text;
        }
        break;
    case Node::Kind::Verbatim:
        out += node.text;
        break;
    }
}

} // namespace

std::string compactReference(std::string_view fragment)
{
    std::vector<Node> nodes;
    if (!Reader(fragment).readFragment(nodes)) {
        return std::string(fragment);
    }
    std::string out;
    for (const Node &node : nodes) {
        if (node.kind != Node::Kind::Text) {
            write(node, Scope(), false, out);
        }
    }
    return out;
}

} // namespace vek
