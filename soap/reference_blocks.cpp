#include "reference_blocks.h"

namespace vek
{

namespace
{

constexpr std::string_view kSpace = " \t\r\n";

// Position just past the end of the construct starting at pos ("<!--",
// "<?", "<![CDATA[") or npos.
size_t skipMarkup(std::string_view text, size_t pos, std::string_view end)
{
    size_t found = text.find(end, pos);
    return found == std::string_view::npos ? found : found + end.size();
}

// Position of the '>' closing the tag that starts at pos, quotes honoured.
size_t tagEnd(std::string_view text, size_t pos)
{
    char quote = 0;
    for (size_t i = pos; i < text.size(); ++i) {
        char c = text[i];
        if (quote != 0) {
            quote = c == quote ? 0 : quote;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i;
        }
    }
    return std::string_view::npos;
}

// Position just past the element whose start tag begins at pos, or npos.
size_t elementEnd(std::string_view text, size_t pos)
{
    int depth = 0;
    while (pos < text.size()) {
        size_t open = text.find('<', pos);
        if (open == std::string_view::npos) {
            return open;
        }
        std::string_view rest = text.substr(open);
        if (rest.rfind("<!--", 0) == 0) {
            pos = skipMarkup(text, open, "-->");
        } else if (rest.rfind("<![CDATA[", 0) == 0) {
            pos = skipMarkup(text, open, "]]>");
        } else if (rest.rfind("<?", 0) == 0) {
            pos = skipMarkup(text, open, "?>");
        } else {
            size_t close = tagEnd(text, open);
            if (close == std::string_view::npos) {
                return close;
            }
            if (text[open + 1] == '/') {
                --depth;
            } else if (text[close - 1] != '/') {
                ++depth;
            }
            pos = close + 1;
            if (depth == 0) {
                return pos;
            }
        }
        if (pos == std::string_view::npos) {
            return pos;
        }
    }
    return std::string_view::npos;
}

// The element with the mark added at the end of its start tag.
std::string marked(std::string_view element)
{
    size_t close = tagEnd(element, 0);
    std::string_view startTag = element.substr(0, close);
    if (startTag.find("IsReferenceParameter=") != std::string_view::npos) {
        return std::string(element);
    }
    size_t insert = element[close - 1] == '/' ? close - 1 : close;
    std::string out(element.substr(0, insert));
    out += ' ';
    out += kIsReferenceParameter;
    out += element.substr(insert);
    return out;
}

} // namespace

std::optional<std::vector<std::string>> markedReferenceBlocks(std::string_view reference)
{
    std::vector<std::string> blocks;
    size_t pos = 0;
    while (true) {
        pos = reference.find_first_not_of(kSpace, pos);
        if (pos == std::string_view::npos) {
            return blocks;
        }
        std::string_view rest = reference.substr(pos);
        if (rest[0] != '<') {
            return std::nullopt;
        }
        if (rest.rfind("<!--", 0) == 0 || rest.rfind("<?", 0) == 0) {
            pos = skipMarkup(reference, pos, rest[1] == '!' ? "-->" : "?>");
            if (pos == std::string_view::npos) {
                return std::nullopt;
            }
            continue;
        }
        if (rest.size() < 2 || rest[1] == '/' || rest[1] == '!') {
            return std::nullopt;
        }
        size_t end = elementEnd(reference, pos);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        blocks.push_back(marked(reference.substr(pos, end - pos)));
        pos = end;
    }
}

} // namespace vek
