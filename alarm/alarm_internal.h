// Shared pieces of the alarm translation: the texts that
// template items and incoming values carry, and small text helpers that
// read the fixed-width fields of the public records without running past
// them.
#ifndef VEK_ALARM_INTERNAL_H
#define VEK_ALARM_INTERNAL_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "vek_onvif_event.h"

namespace vek::alarm
{

// Value types of template items.
constexpr std::string_view kTypeInt = "common_int";
constexpr std::string_view kTypeString = "common_string";
constexpr std::string_view kTypeBoolean = "common_boolean";

// State words. A value is active when it contains one of kActiveParts or
// equals one of kActiveWords; inactive likewise, tested only when it is not
// active.
constexpr std::string_view kActiveParts[] = {"true", "TRUE", "True"};
constexpr std::string_view kActiveWords[] = {"active", "1"};
constexpr std::string_view kInactiveParts[] = {"FALSE", "false", "False"};
constexpr std::string_view kInactiveWords[] = {"inactive", "0"};

// The inactive form of a code is the code plus this offset.
constexpr int32_t kInactiveOffset = static_cast<int32_t>(VEK_ALARM_INACTIVE_OFFSET);

// Patterns taken from a template's Name or Value are cut to this length.
constexpr std::size_t kPatternLength = 30;
// Item names are compared over at most this many characters.
constexpr std::size_t kNameCompareLength = 32;
// Alarm-input tokens are compared over at most this many characters.
constexpr std::size_t kInputTokenCompareLength = 32;
// Characters of a parsed alarm's topic that are kept.
constexpr std::size_t kTopicKeep = 255;
// Entries of the channel token table.
constexpr uint32_t kChannelTokenEntries =
    sizeof(OnvifAlarmCfg::ChannelTokens) / sizeof(OnvifAlarmCfg::ChannelTokens[0]);

// The text of a fixed-width character field, up to its terminating zero or
// the field's end, whichever comes first.
template <std::size_t N> std::string_view fieldText(const char (&field)[N])
{
    return std::string_view(field, strnlen(field, N));
}

// Copies text into a field of size bytes (size > 0) as far as it fits,
// always terminated: what snprintf(field, size, "%s", text) stores, without
// going through a format.
inline void copyText(char *field, std::size_t size, const char *text)
{
    const std::size_t length = strnlen(text, size - 1);
    std::memcpy(field, text, length);
    field[length] = '\0';
}

inline bool contains(std::string_view text, std::string_view word)
{
    return text.find(word) != std::string_view::npos;
}

inline bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The number at the start of text read in base 10 as strtol does (leading
// blanks and a sign accepted, reading stops at the first non-digit, 0 when
// there are no digits), held to the 32-bit range.
int32_t readNumber(std::string_view text);

// A Source value that is a negative number ("-1": any port) names no
// source.
inline bool namesNoSource(std::string_view value)
{
    return value.size() > 1 && value[0] == '-' && value[1] >= '0' && value[1] <= '9';
}

bool isActiveWord(std::string_view value);
// Only meaningful for a value that is not active.
bool isInactiveWord(std::string_view value);

} // namespace vek::alarm

#endif // VEK_ALARM_INTERNAL_H
