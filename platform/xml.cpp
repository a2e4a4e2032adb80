// XML helpers: counting named descendants of a Mini-XML element, and
// stripping namespace prefixes from element names of XML text in place.
#include <mxml.h>

#include <cstring>

#include "vek_platform.h"

namespace
{
constexpr uint32_t kBadArgument = 102;
constexpr uint32_t kMalformed = 112;

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Compares character by character, so it stops at the text's end.
template <std::size_t N> bool startsWith(const char *p, const char (&prefix)[N])
{
    for (std::size_t i = 0; i + 1 < N; ++i) {
        if (p[i] != prefix[i]) {
            return false;
        }
    }
    return true;
}

// End of a declaration starting at p ("<!"), or null when unterminated; an
// internal subset in brackets may hold '>'.
const char *declarationEnd(const char *p)
{
    int depth = 0;
    char quote = 0;
    for (p += 2; *p != '\0'; ++p) {
        if (quote != 0) {
            quote = (*p == quote) ? 0 : quote;
        } else if (*p == '"' || *p == '\'') {
            quote = *p;
        } else if (*p == '[') {
            ++depth;
        } else if (*p == ']') {
            --depth;
        } else if (*p == '>' && depth <= 0) {
            return p;
        }
    }
    return nullptr;
}

// The '>' that ends the attributes of a tag starting at p, or null: jumps
// from one quote or bracket to the next; a quoted value runs to its closing
// quote.
const char *tagEnd(const char *p)
{
    while (true) {
        p += std::strcspn(p, "\"'<>");
        if (*p == '\0' || *p == '<') {
            return nullptr;
        }
        if (*p == '>') {
            return p;
        }
        const char *close = std::strchr(p + 1, *p);
        if (close == nullptr) {
            return nullptr;
        }
        p = close + 1;
    }
}

// One pass over the text. With write false it only checks that every
// markup construct is terminated; with write true it compacts the text,
// dropping "prefix:" from element names (start and end tags). Comments,
// CDATA, processing instructions, declarations, attribute values and
// character data are copied unchanged, so '>' or ':' inside them cannot
// confuse the scan. prefixed tells whether some element name carries a
// prefix (nothing to write otherwise).
class Rewriter
{
  public:
    Rewriter(char *text, bool write) : in_(text), out_(text), write_(write) {}

    bool run()
    {
        while (*in_ != '\0') {
            if (!step()) {
                return false;
            }
        }
        if (write_) {
            *out_ = '\0';
        }
        return true;
    }
    bool prefixed() const { return prefixed_; }

  private:
    // One construct: character data, a comment, CDATA, a processing
    // instruction, a declaration or a tag.
    bool step()
    {
        if (*in_ != '<') {
            const char *next = std::strchr(in_, '<');
            copyTo(next != nullptr ? next : in_ + std::strlen(in_));
            return true;
        }
        if (startsWith(in_, "<!--")) {
            return copyThrough("-->");
        }
        if (startsWith(in_, "<![CDATA[")) {
            return copyThrough("]]>");
        }
        if (startsWith(in_, "<?")) {
            return copyThrough("?>");
        }
        if (startsWith(in_, "<!")) {
            const char *end = declarationEnd(in_);
            return end != nullptr && copyTo(end + 1);
        }
        return tag();
    }

    // Start or end tag: "<" ["/"] name, then attributes up to '>'.
    bool tag()
    {
        const char *nameStart = in_ + 1;
        if (*nameStart == '/') {
            ++nameStart;
        }
        const char *nameEnd = nameStart;
        const char *colon = nullptr;
        while (*nameEnd != '\0' && !isSpace(*nameEnd) && *nameEnd != '/' && *nameEnd != '>') {
            if (*nameEnd == ':' && colon == nullptr) {
                colon = nameEnd;
            }
            ++nameEnd;
        }
        if (nameEnd == nameStart || colon == nameStart ||
            (colon != nullptr && colon + 1 == nameEnd)) {
            return false;
        }
        if (colon != nullptr) {
            prefixed_ = true;
        }
        copy(in_, nameStart);
        copy(colon != nullptr ? colon + 1 : nameStart, nameEnd);
        in_ = nameEnd;
        const char *end = tagEnd(in_);
        return end != nullptr && copyTo(end + 1);
    }

    void copy(const char *from, const char *to)
    {
        // Until the first prefix is dropped the text stays where it is.
        if (write_ && out_ != from) {
            std::memmove(out_, from, static_cast<size_t>(to - from));
        }
        out_ += to - from;
    }

    // Copies the input up to end and continues there.
    bool copyTo(const char *end)
    {
        copy(in_, end);
        in_ = end;
        return true;
    }

    bool copyThrough(const char *terminator)
    {
        const char *end = std::strstr(in_, terminator);
        return end != nullptr && copyTo(end + std::strlen(terminator));
    }

    const char *in_;
    char *out_;
    bool write_;
    bool prefixed_ = false;
};

bool rewrite(char *text, bool write, bool *prefixed)
{
    Rewriter rewriter(text, write);
    const bool ok = rewriter.run();
    *prefixed = *prefixed || rewriter.prefixed();
    return ok;
}
} // namespace

extern "C" {

uint32_t VEK_CFG_GetChildrenNodeCount(mxml_node_t *node, const char *name)
{
    if (node == nullptr || name == nullptr) {
        return 0;
    }
    uint32_t count = 0;
    for (mxml_node_t *found = mxmlFindElement(node, node, name, nullptr, nullptr, MXML_DESCEND);
         found != nullptr;
         found = mxmlFindElement(found, node, name, nullptr, nullptr, MXML_DESCEND)) {
        ++count;
    }
    return count;
}

uint32_t VEK_PUB_DeleteNodeProperty(char *xml)
{
    if (xml == nullptr) {
        return kBadArgument;
    }
    bool prefixed = false;
    if (!rewrite(xml, false, &prefixed)) {
        return kMalformed;
    }
    if (prefixed) {
        rewrite(xml, true, &prefixed);
    }
    return 0;
}

} // extern "C"
