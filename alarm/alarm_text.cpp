// Reading numbers and state words out of item values.
#include <algorithm>
#include <climits>
#include <cstdlib>

#include "alarm_internal.h"

namespace vek::alarm
{

int32_t readNumber(std::string_view text)
{
    // Item texts are at most 31 characters; anything longer is cut, which
    // can only shorten a run of digits that is out of range anyway.
    char buffer[64];
    const std::size_t length = std::min(text.size(), sizeof(buffer) - 1);
    std::copy_n(text.data(), length, buffer);
    buffer[length] = '\0';
    const long value = std::strtol(buffer, nullptr, 10);
    // A 32-bit long saturates here by itself; a 64-bit one is held to the
    // same limits so that the results do not depend on the platform.
    return static_cast<int32_t>(
        std::clamp<long>(value, static_cast<long>(INT32_MIN), static_cast<long>(INT32_MAX)));
}

bool isActiveWord(std::string_view value)
{
    return std::any_of(std::begin(kActiveParts), std::end(kActiveParts),
                       [value](std::string_view part) { return contains(value, part); }) ||
           std::find(std::begin(kActiveWords), std::end(kActiveWords), value) !=
               std::end(kActiveWords);
}

bool isInactiveWord(std::string_view value)
{
    return std::any_of(std::begin(kInactiveParts), std::end(kInactiveParts),
                       [value](std::string_view part) { return contains(value, part); }) ||
           std::find(std::begin(kInactiveWords), std::end(kInactiveWords), value) !=
               std::end(kInactiveWords);
}

} // namespace vek::alarm
