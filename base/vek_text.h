// Small text helpers shared by the request operations.
#ifndef VEK_TEXT_H
#define VEK_TEXT_H

#include <string_view>

namespace vek {

// The text without the XML whitespace around it. Pretty-printed answers wrap
// addresses in line breaks and indentation that are not part of them.
inline std::string_view trimXmlSpace(std::string_view text)
{
    constexpr std::string_view kSpace = " \t\r\n";
    size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

} // namespace vek

#endif // VEK_TEXT_H
