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

// One pass over the text. With write false it only checks that every
// markup construct is terminated; with write true it compacts the text,
// dropping "prefix:" from element names (start and end tags). Comments,
// CDATA, processing instructions, declarations, attribute values and
// character data are copied unchanged, so '>' or ':' inside them cannot
// confuse the scan. *prefixed tells whether some element name carries a
// prefix (nothing to write otherwise).
bool rewrite(char *text, bool write, bool *prefixed)
{
    const char *in = text;
    char *out = text;
    auto copy = [&](const char *from, const char *to) {
        // Until the first prefix is dropped the text stays where it is.
        if (write && out != from) {
            std::memmove(out, from, static_cast<size_t>(to - from));
        }
        out += to - from;
    };
    auto copyThrough = [&](const char *terminator) -> bool {
        const char *end = std::strstr(in, terminator);
        if (end == nullptr) {
            return false;
        }
        end += std::strlen(terminator);
        copy(in, end);
        in = end;
        return true;
    };

    while (*in != '\0') {
        if (*in != '<') {
            const char *next = std::strchr(in, '<');
            const char *end = next != nullptr ? next : in + std::strlen(in);
            copy(in, end);
            in = end;
            continue;
        }
        if (startsWith(in, "<!--")) {
            if (!copyThrough("-->")) {
                return false;
            }
            continue;
        }
        if (startsWith(in, "<![CDATA[")) {
            if (!copyThrough("]]>")) {
                return false;
            }
            continue;
        }
        if (startsWith(in, "<?")) {
            if (!copyThrough("?>")) {
                return false;
            }
            continue;
        }
        if (startsWith(in, "<!")) {
            // Declaration; an internal subset in brackets may hold '>'.
            const char *p = in + 2;
            int depth = 0;
            char quote = 0;
            for (; *p != '\0'; ++p) {
                if (quote != 0) {
                    quote = (*p == quote) ? 0 : quote;
                } else if (*p == '"' || *p == '\'') {
                    quote = *p;
                } else if (*p == '[') {
                    ++depth;
                } else if (*p == ']') {
                    --depth;
                } else if (*p == '>' && depth <= 0) {
                    break;
                }
            }
            if (*p == '\0') {
                return false;
            }
            copy(in, p + 1);
            in = p + 1;
            continue;
        }

        // Start or end tag: "<" ["/"] name, then attributes up to '>'.
        const char *nameStart = in + 1;
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
            *prefixed = true;
        }
        copy(in, nameStart);
        copy(colon != nullptr ? colon + 1 : nameStart, nameEnd);
        in = nameEnd;

        // Attributes: jump from one quote or bracket to the next; a quoted
        // value runs to its closing quote.
        const char *p = in;
        while (true) {
            p += std::strcspn(p, "\"'<>");
            if (*p == '\0' || *p == '<') {
                return false;
            }
            if (*p == '>') {
                break;
            }
            const char *close = std::strchr(p + 1, *p);
            if (close == nullptr) {
                return false;
            }
            p = close + 1;
        }
        copy(in, p + 1);
        in = p + 1;
    }
    if (write) {
        *out = '\0';
    }
    return true;
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
