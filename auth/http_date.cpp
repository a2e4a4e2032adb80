#include "http_date.h"

#include <cstring>
#include <strings.h>

namespace vek
{
namespace
{

// Reads up to maxDigits digits; false when there is none.
bool readNumber(const char *&at, int maxDigits, int &value)
{
    value = 0;
    int digits = 0;
    while (digits < maxDigits && *at >= '0' && *at <= '9') {
        value = value * 10 + (*at - '0');
        ++at;
        ++digits;
    }
    return digits > 0;
}

bool expect(const char *&at, char c)
{
    if (*at != c) {
        return false;
    }
    ++at;
    return true;
}

int monthIndex(const char *at)
{
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int index = 0; index < 12; ++index) {
        if (strncasecmp(at, kMonths[index], 3) == 0) {
            return index;
        }
    }
    return -1;
}

} // namespace

bool parseHttpDate(const char *text, std::time_t &time)
{
    if (text == nullptr) {
        return false;
    }
    const char *at = std::strchr(text, ',');
    if (at == nullptr) {
        return false;
    }
    ++at;
    while (*at == ' ') {
        ++at;
    }
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readNumber(at, 2, day) || (*at != ' ' && *at != '-')) {
        return false;
    }
    ++at;
    int month = monthIndex(at);
    if (month < 0) {
        return false;
    }
    at += 3;
    if (*at != ' ' && *at != '-') {
        return false;
    }
    ++at;
    const char *yearStart = at;
    if (!readNumber(at, 4, year)) {
        return false;
    }
    if (at - yearStart == 2) {
        year += year < 70 ? 2000 : 1900;
    }
    if (!expect(at, ' ') || !readNumber(at, 2, hour) || !expect(at, ':') ||
        !readNumber(at, 2, minute) || !expect(at, ':') || !readNumber(at, 2, second)) {
        return false;
    }
    if (day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1970) {
        return false;
    }
    struct tm fields {
    };
    fields.tm_year = year - 1900;
    fields.tm_mon = month;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    std::time_t value = timegm(&fields);
    if (value == static_cast<std::time_t>(-1)) {
        return false;
    }
    time = value;
    return true;
}

} // namespace vek
