// Times in the camera's answers (internal).
#ifndef VEK_DATE_TIME_H
#define VEK_DATE_TIME_H

#include <cstdint>
#include <optional>

namespace vek
{

// Seconds since 1970 of an xsd:dateTime ("2026-12-10T01:02:03Z"; fractions
// of seconds and a zone offset allowed, no zone read as UTC); nullopt when
// the text is no such time.
std::optional<int64_t> parseDateTime(const char *text);

// The camera's clock minus ours, in seconds, from the camera's current time
// in an answer; 0 when the text is no such time.
int64_t clockOffsetOf(const char *currentTime);

} // namespace vek

#endif // VEK_DATE_TIME_H
