// What a camera answers for a pull point or subscription it no longer holds
// (expired, ended, or never known): HTTP 404 or 410, or a fault that names
// an unknown resource or an invalid argument. The library decides with it
// which code a failed call returns; the command-line tool, with what it read
// of the same failure, whether to make the subscription again.
#ifndef VEK_PULL_POINT_GONE_RULE_H
#define VEK_PULL_POINT_GONE_RULE_H

#include <initializer_list>
#include <string_view>

namespace vek
{

// faultTexts: the fault's subcode, detail and reason, as far as known.
inline bool saysPullPointGone(int httpStatus, std::initializer_list<std::string_view> faultTexts)
{
    if (httpStatus == 404 || httpStatus == 410) {
        return true;
    }
    for (std::string_view text : faultTexts) {
        if (text.find("ResourceUnknown") != std::string_view::npos ||
            text.find("InvalidArgVal") != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

} // namespace vek

#endif // VEK_PULL_POINT_GONE_RULE_H
