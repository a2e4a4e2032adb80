#include "reference_namespaces.h"

#include <unordered_set>

namespace vek
{

namespace
{

bool isNameEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>' || c == '=';
}

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view prefixOf(std::string_view qname)
{
    size_t colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}

std::string_view localNameOf(std::string_view qname)
{
    size_t colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// A start tag as the scanner sees it: its name, then each attribute's name
// and value (without quotes, as written).
struct TagVisitor {
    virtual ~TagVisitor() = default;
    virtual void element(std::string_view name) = 0;
    virtual void attribute(std::string_view name, std::string_view value) = 0;
};

// Reads the rest of a start tag from pos (just past its name) up to and
// including '>'; returns whether the element closes itself ("/>").
bool readAttributes(std::string_view xml, size_t &pos, TagVisitor &visitor)
{
    while (pos < xml.size() && xml[pos] != '>') {
        char c = xml[pos];
        if (c == '/' && pos + 1 < xml.size() && xml[pos + 1] == '>') {
            pos += 2;
            return true;
        }
        if (isNameEnd(c) || c == '"' || c == '\'') {
            ++pos;
            continue;
        }
        size_t nameStart = pos;
        while (pos < xml.size() && !isNameEnd(xml[pos]) && xml[pos] != '"' && xml[pos] != '\'') {
            ++pos;
        }
        std::string_view name = xml.substr(nameStart, pos - nameStart);
        while (pos < xml.size() && isSpace(xml[pos])) {
            ++pos;
        }
        std::string_view value;
        if (pos < xml.size() && xml[pos] == '=') {
            ++pos;
            while (pos < xml.size() && isSpace(xml[pos])) {
                ++pos;
            }
            if (pos < xml.size() && (xml[pos] == '"' || xml[pos] == '\'')) {
                size_t close = xml.find(xml[pos], pos + 1);
                size_t end = close == std::string_view::npos ? xml.size() : close;
                value = xml.substr(pos + 1, end - pos - 1);
                pos = end == xml.size() ? end : end + 1;
            }
        }
        visitor.attribute(name, value);
    }
    if (pos < xml.size()) {
        ++pos; // '>'
    }
    return false;
}

// Walks the markup of xml once: each start tag goes to the visitor, then
// to onStartEnd(selfClosed, start, end) (false ends the walk); each end
// tag to onEnd(start, end); comments, CDATA, declarations and processing
// instructions are skipped whole. start and end delimit the tag in xml.
template <typename OnStartEnd, typename OnEnd>
void walkTags(std::string_view xml, TagVisitor &visitor, OnStartEnd onStartEnd, OnEnd onEnd)
{
    size_t pos = 0;
    while ((pos = xml.find('<', pos)) != std::string_view::npos) {
        std::string_view rest = xml.substr(pos);
        std::string_view terminator;
        if (rest.substr(0, 4) == "<!--") {
            terminator = "-->";
        } else if (rest.substr(0, 9) == "<![CDATA[") {
            terminator = "]]>";
        } else if (rest.substr(0, 2) == "<?") {
            terminator = "?>";
        } else if (rest.substr(0, 2) == "<!") {
            terminator = ">";
        }
        if (!terminator.empty()) {
            size_t end = xml.find(terminator, pos + 2);
            pos = end == std::string_view::npos ? xml.size() : end + terminator.size();
            continue;
        }
        size_t tagStart = pos++;
        if (pos < xml.size() && xml[pos] == '/') {
            pos = xml.find('>', pos);
            pos = pos == std::string_view::npos ? xml.size() : pos + 1;
            onEnd(tagStart, pos);
            continue;
        }
        size_t nameStart = pos;
        while (pos < xml.size() && !isNameEnd(xml[pos])) {
            ++pos;
        }
        visitor.element(xml.substr(nameStart, pos - nameStart));
        bool selfClosed = readAttributes(xml, pos, visitor);
        if (!onStartEnd(selfClosed, tagStart, pos)) {
            return;
        }
    }
}

// The declarations of the open elements, innermost last.
class ScopeScanner : public TagVisitor
{
  public:
    explicit ScopeScanner(std::string_view localName) : localName_(localName) {}

    void element(std::string_view name) override
    {
        marks_.push_back(bindings_.size());
        found_ = localNameOf(name) == localName_;
    }
    void attribute(std::string_view name, std::string_view value) override
    {
        if (name == "xmlns") {
            bindings_.emplace_back(std::string_view(), value);
        } else if (prefixOf(name) == "xmlns") {
            bindings_.emplace_back(name.substr(6), value);
        }
    }
    // After a start tag: false when the element sought was reached.
    bool startEnded(bool selfClosed)
    {
        if (found_) {
            return false;
        }
        if (selfClosed) {
            close();
        }
        return true;
    }
    void close()
    {
        if (!marks_.empty()) {
            bindings_.resize(marks_.back());
            marks_.pop_back();
        }
    }
    NamespaceScope scope() const
    {
        NamespaceScope scope;
        for (const auto &[prefix, uri] : bindings_) {
            scope[std::string(prefix)] = std::string(uri);
        }
        return scope;
    }

  private:
    std::string_view localName_;
    std::vector<std::pair<std::string_view, std::string_view>> bindings_;
    std::vector<size_t> marks_;
    bool found_ = false;
};

// Prefixes of element and attribute names, and the ones the fragment
// declares.
class PrefixCollector : public TagVisitor
{
  public:
    void element(std::string_view name) override
    {
        use(prefixOf(name));
        usesDefault_ = usesDefault_ || prefixOf(name).empty();
    }
    void attribute(std::string_view name, std::string_view value) override
    {
        std::string_view prefix = prefixOf(name);
        if (prefix == "xmlns") {
            declared_.insert(std::string(name.substr(6)));
        } else if (name == "xmlns") {
            declaresDefault_ = true;
        } else {
            use(prefix);
        }
        if (name == "xsi:type") {
            // A type name is a qualified name in the scope of the element.
            std::string_view type = value.substr(0, value.find(':'));
            bool prefixed = type.size() < value.size();
            prefixed ? use(type) : void(usesDefault_ = true);
        }
    }
    // An unprefixed element or type name, and no default namespace declared.
    bool needsDefault() const { return usesDefault_ && !declaresDefault_; }
    std::vector<std::string> undeclared() const
    {
        std::vector<std::string> missing;
        for (const std::string &prefix : used_) {
            if (declared_.count(prefix) == 0) {
                missing.push_back(prefix);
            }
        }
        return missing;
    }

  private:
    void use(std::string_view prefix)
    {
        if (!prefix.empty() && prefix != "xml" && prefix != "xmlns" &&
            seen_.insert(std::string(prefix)).second) {
            used_.emplace_back(prefix);
        }
    }
    std::vector<std::string> used_;
    std::unordered_set<std::string> seen_;
    std::unordered_set<std::string> declared_;
    bool usesDefault_ = false;
    bool declaresDefault_ = false;
};

PrefixCollector collectPrefixes(std::string_view fragment)
{
    PrefixCollector collector;
    walkTags(
        fragment, collector, [](bool, size_t, size_t) { return true; }, [](size_t, size_t) {});
    return collector;
}

} // namespace

NamespaceScope namespacesInScopeAt(std::string_view rawAnswer, std::string_view localName)
{
    ScopeScanner scanner(localName);
    walkTags(
        rawAnswer, scanner,
        [&](bool selfClosed, size_t, size_t) { return scanner.startEnded(selfClosed); },
        [&](size_t, size_t) { scanner.close(); });
    return scanner.scope();
}

std::vector<std::string_view> childElementsOf(std::string_view xml, std::string_view localName)
{
    struct LastName : TagVisitor {
        void element(std::string_view name) override { last = name; }
        void attribute(std::string_view, std::string_view) override {}
        std::string_view last;
    } names;
    std::vector<std::string_view> children;
    int depth = -1; // -1 until the parent is found; its content is depth 0
    bool parentClosed = false;
    size_t childStart = 0;
    walkTags(
        xml, names,
        [&](bool selfClosed, size_t start, size_t end) {
            if (parentClosed) {
                return false;
            }
            if (depth < 0) {
                depth = localNameOf(names.last) == localName && !selfClosed ? 0 : -1;
                return true;
            }
            if (depth == 0) {
                childStart = start;
            }
            if (selfClosed) {
                if (depth == 0) {
                    children.push_back(xml.substr(start, end - start));
                }
                return true;
            }
            ++depth;
            return true;
        },
        [&](size_t, size_t end) {
            if (depth > 0 && --depth == 0) {
                children.push_back(xml.substr(childStart, end - childStart));
            } else if (depth == 0) {
                parentClosed = true;
            }
        });
    return children;
}

std::vector<std::string> undeclaredPrefixes(std::string_view fragment)
{
    return collectPrefixes(fragment).undeclared();
}

std::string declareNamespaces(std::string_view fragment, const NamespaceScope &scope)
{
    std::string result(fragment);
    size_t open = fragment.find('<');
    if (open == std::string_view::npos) {
        return result;
    }
    size_t nameEnd = open + 1;
    while (nameEnd < fragment.size() && !isNameEnd(fragment[nameEnd])) {
        ++nameEnd;
    }
    std::string declarations;
    const PrefixCollector prefixes = collectPrefixes(fragment);
    auto defaultNamespace = scope.find("");
    if (prefixes.needsDefault() && defaultNamespace != scope.end() &&
        !defaultNamespace->second.empty()) {
        declarations += " xmlns=\"" + defaultNamespace->second + "\"";
    }
    for (const std::string &prefix : prefixes.undeclared()) {
        auto bound = scope.find(prefix);
        if (bound != scope.end() && !bound->second.empty()) {
            declarations += " xmlns:" + prefix + "=\"" + bound->second + "\"";
        }
    }
    result.insert(nameEnd, declarations);
    return result;
}

} // namespace vek
