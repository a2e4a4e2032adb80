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
    bool used = false; // a declaration something in its scope relies on
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
            // Attributes stand apart: a value runs straight into the next
            // name only in text that is no XML.
            if (pos_ < xml_.size() && !isSpace(xml_[pos_]) && xml_[pos_] != '/' &&
                xml_[pos_] != '>') {
                return false;
            }
            element.attributes.push_back(std::move(attribute));
        }
    }

    std::string_view xml_;
    size_t pos_ = 0;
};

constexpr std::string_view kSchemaInstance = "http://www.w3.org/2001/XMLSchema-instance";

// Every prefix text mentions as the start of a qualified name ("p:x", as
// in a QName-valued attribute or element content), each given to onPrefix.
template <typename OnPrefix> void forEachMentionedPrefix(std::string_view text, OnPrefix onPrefix)
{
    size_t at = 0;
    while (at < text.size()) {
        if (!isNameChar(text[at])) {
            ++at;
            continue;
        }
        size_t start = at;
        while (at < text.size() && isNameChar(text[at])) {
            ++at;
        }
        std::string_view run = text.substr(start, at - start);
        size_t colon = run.find(':');
        if (colon != std::string_view::npos && colon > 0) {
            onPrefix(run.substr(0, colon));
        }
    }
}

// Marks, in one walk of the tree, each namespace declaration that
// something in its scope relies on: an element or attribute name with its
// prefix, a qualified name in an attribute value or in text, and for the
// default namespace an unprefixed element name or xsi:type value.
class UseMarker
{
  public:
    void mark(std::vector<Node> &nodes)
    {
        for (Node &node : nodes) {
            if (node.kind == Node::Kind::Element) {
                markElement(node);
            }
        }
    }

  private:
    void use(std::string_view prefix)
    {
        auto found = scope_.find(prefix);
        if (found != scope_.end() && !found->second.empty()) {
            found->second.back()->used = true;
        }
    }

    bool isSchemaInstanceType(std::string_view name)
    {
        std::string_view prefix = prefixOf(name);
        if (prefix.empty() || name.substr(prefix.size() + 1) != "type") {
            return false;
        }
        auto found = scope_.find(prefix);
        if (found == scope_.end() || found->second.empty()) {
            return prefix == "xsi";
        }
        return unquoted(found->second.back()->value) == kSchemaInstance;
    }

    void markAttribute(const Attribute &attribute)
    {
        std::string_view prefix = prefixOf(attribute.name);
        if (!prefix.empty()) {
            use(prefix);
        }
        std::string_view value = unquoted(attribute.value);
        forEachMentionedPrefix(value, [&](std::string_view mentioned) { use(mentioned); });
        if (isSchemaInstanceType(attribute.name) && value.find(':') == std::string_view::npos) {
            use({}); // an unprefixed type name is in the default namespace
        }
    }

    void markElement(Node &element)
    {
        std::vector<std::string_view> declared;
        for (Attribute &attribute : element.attributes) {
            std::string_view prefix;
            if (declaredPrefix(attribute.name, prefix)) {
                scope_[std::string(prefix)].push_back(&attribute);
                declared.push_back(prefix);
            }
        }
        use(prefixOf(element.name));
        for (const Attribute &attribute : element.attributes) {
            std::string_view prefix;
            if (!declaredPrefix(attribute.name, prefix)) {
                markAttribute(attribute);
            }
        }
        for (Node &child : element.children) {
            if (child.kind == Node::Kind::Element) {
                markElement(child);
            } else {
                forEachMentionedPrefix(child.text, [&](std::string_view prefix) { use(prefix); });
            }
        }
        for (std::string_view prefix : declared) {
            scope_.find(prefix)->second.pop_back();
        }
    }

    std::map<std::string, std::vector<Attribute *>, std::less<>> scope_;
};

bool preservesSpace(const Node &element, bool inherited)
{
    for (const Attribute &attribute : element.attributes) {
        if (attribute.name == "xml:space") {
            return unquoted(attribute.value) == "preserve";
        }
    }
    return inherited;
}

// Writes the tree, each declaration only where it is used and not already
// in force with the same namespace.
class Writer
{
  public:
    explicit Writer(std::string &out) : out_(out) {}

    void write(const Node &node, bool preserve)
    {
        switch (node.kind) {
        case Node::Kind::Element:
            writeElement(node, preserve);
            break;
        case Node::Kind::Text:
            if (preserve || !onlySpace(node.text)) {
                out_ += node.text;
            }
            break;
        case Node::Kind::Verbatim:
            out_ += node.text;
            break;
        }
    }

  private:
    bool inForce(std::string_view prefix, std::string_view uri) const
    {
        auto found = emitted_.find(prefix);
        return found != emitted_.end() && !found->second.empty() && found->second.back() == uri;
    }

    void writeElement(const Node &element, bool preserve)
    {
        preserve = preservesSpace(element, preserve);
        std::vector<std::string_view> declared;
        out_ += '<';
        out_ += element.name;
        for (const Attribute &attribute : element.attributes) {
            std::string_view prefix;
            if (declaredPrefix(attribute.name, prefix)) {
                std::string_view uri = unquoted(attribute.value);
                if (!attribute.used || inForce(prefix, uri)) {
                    continue;
                }
                emitted_[std::string(prefix)].push_back(uri);
                declared.push_back(prefix);
            }
            out_ += ' ';
            out_ += attribute.name;
            out_ += '=';
            out_ += attribute.value;
        }
        size_t startTagEnd = out_.size();
        out_ += '>';
        for (const Node &child : element.children) {
            write(child, preserve);
        }
        if (out_.size() == startTagEnd + 1) {
            out_.replace(startTagEnd, 1, "/>");
        } else {
            out_ += "</";
            out_ += element.name;
            out_ += '>';
        }
        for (std::string_view prefix : declared) {
            emitted_.find(prefix)->second.pop_back();
        }
    }

    std::string &out_;
    std::map<std::string, std::vector<std::string_view>, std::less<>> emitted_;
};

} // namespace

bool readsAsXmlFragment(std::string_view fragment)
{
    std::vector<Node> nodes;
    return Reader(fragment).readFragment(nodes);
}

std::string compactReference(std::string_view fragment)
{
    std::vector<Node> nodes;
    if (!Reader(fragment).readFragment(nodes)) {
        return std::string(fragment);
    }
    UseMarker().mark(nodes);
    std::string out;
    Writer writer(out);
    for (const Node &node : nodes) {
        if (node.kind != Node::Kind::Text) {
            writer.write(node, false);
        }
    }
    return out;
}

} // namespace vek
