#include "date_time.h"

#include <cctype>
#include <ctime>
#include <string_view>

#include "vek_text.h"

namespace vek
{

namespace
{

// Reads count digits at pos into value; false when they are not there.
bool readDigits(std::string_view text, size_t &pos, size_t count, int64_t &value)
{
    value = 0;
    for (size_t i = 0; i < count; ++i, ++pos) {
        if (pos >= text.size() || std::isdigit(static_cast<unsigned char>(text[pos])) == 0) {
            return false;
        }
        value = value * 10 + (text[pos] - '0');
    }
    return true;
}

bool expect(std::string_view text, size_t &pos, char c)
{
    if (pos < text.size() && text[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

} // namespace

std::optional<int64_t> parseDateTime(const char *text)
{
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string_view time = trimXmlSpace(text);
    size_t pos = 0;
    int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(time, pos, 4, year) || !expect(time, pos, '-') ||
        !readDigits(time, pos, 2, month) || !expect(time, pos, '-') ||
        !readDigits(time, pos, 2, day) || !expect(time, pos, 'T') ||
        !readDigits(time, pos, 2, hour) || !expect(time, pos, ':') ||
        !readDigits(time, pos, 2, minute) || !expect(time, pos, ':') ||
        !readDigits(time, pos, 2, second)) {
        return std::nullopt;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 24 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    if (expect(time, pos, '.')) {
        while (pos < time.size() && std::isdigit(static_cast<unsigned char>(time[pos])) != 0) {
            ++pos;
        }
    }
    int64_t offset = 0;
    if (pos < time.size() && (time[pos] == '+' || time[pos] == '-')) {
        const int64_t sign = time[pos] == '-' ? -1 : 1;
        ++pos;
        int64_t zoneHours = 0, zoneMinutes = 0;
        if (!readDigits(time, pos, 2, zoneHours) || !expect(time, pos, ':') ||
            !readDigits(time, pos, 2, zoneMinutes)) {
            return std::nullopt;
        }
        offset = sign * (zoneHours * 3600 + zoneMinutes * 60);
    } else {
        expect(time, pos, 'Z');
    }
    if (pos != time.size()) {
        return std::nullopt;
    }
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
}

int64_t clockOffsetOf(const char *currentTime)
{
    std::optional<int64_t> camera = parseDateTime(currentTime);
    return camera ? *camera - static_cast<int64_t>(std::time(nullptr)) : 0;
}

} // namespace vek
