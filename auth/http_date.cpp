#include "http_date.h"

#include <cstring>
#include <strings.h>

namespace vek
{
namespace
{

struct DateFields {
    int day = 0;
    int month = -1;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

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

void skipSpaces(const char *&at)
{
    while (*at == ' ') {
        ++at;
    }
}

bool readMonth(const char *&at, int &month)
{
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int index = 0; index < 12; ++index) {
        if (strncasecmp(at, kMonths[index], 3) == 0) {
            month = index;
            at += 3;
            return true;
        }
    }
    return false;
}

bool readClock(const char *&at, DateFields &date)
{
    return readNumber(at, 2, date.hour) && expect(at, ':') && readNumber(at, 2, date.minute) &&
           expect(at, ':') && readNumber(at, 2, date.second);
}

// What follows the clock: no zone, or one that is GMT, then only spaces.
bool readGmtZone(const char *at)
{
    skipSpaces(at);
    static const char *const kGmt[] = {"GMT", "UTC", "UT", "Z", "+0000", "-0000"};
    for (const char *zone : kGmt) {
        size_t length = std::strlen(zone);
        if (strncasecmp(at, zone, length) == 0 && (at[length] == ' ' || at[length] == '\0')) {
            at += length;
            break;
        }
    }
    skipSpaces(at);
    return *at == '\0';
}

// "06 Nov 1994 08:49:37 GMT" or "06-Nov-94 08:49:37 GMT", after the comma.
bool readAfterWeekday(const char *at, DateFields &date)
{
    skipSpaces(at);
    if (!readNumber(at, 2, date.day) || (*at != ' ' && *at != '-')) {
        return false;
    }
    ++at;
    if (!readMonth(at, date.month) || (*at != ' ' && *at != '-')) {
        return false;
    }
    ++at;
    const char *yearStart = at;
    if (!readNumber(at, 4, date.year)) {
        return false;
    }
    if (at - yearStart == 2) {
        date.year += date.year < 70 ? 2000 : 1900;
    }
    return expect(at, ' ') && readClock(at, date) && readGmtZone(at);
}

// asctime's "Sun Nov  6 08:49:37 1994" (always GMT).
bool readAsctime(const char *at, DateFields &date)
{
    at += 3; // the day's name, three letters
    if (!expect(at, ' ') || !readMonth(at, date.month) || !expect(at, ' ')) {
        return false;
    }
    if (*at == ' ') {
        ++at; // a one-digit day stands after two spaces
    }
    if (!readNumber(at, 2, date.day) || !expect(at, ' ') || !readClock(at, date) ||
        !expect(at, ' ')) {
        return false;
    }
    const char *yearStart = at;
    if (!readNumber(at, 4, date.year) || at - yearStart != 4) {
        return false;
    }
    skipSpaces(at);
    return *at == '\0';
}

} // namespace

bool parseHttpDate(const char *text, std::time_t &time)
{
    if (text == nullptr) {
        return false;
    }
    DateFields date;
    const char *comma = std::strchr(text, ',');
    bool read = comma != nullptr ? readAfterWeekday(comma + 1, date)
                                 : std::strlen(text) > 3 && readAsctime(text, date);
    if (!read || date.day < 1 || date.day > 31 || date.hour > 23 || date.minute > 59 ||
        date.second > 60 || date.year < 1970) {
        return false;
    }
    struct tm fields {
    };
    fields.tm_year = date.year - 1900;
    fields.tm_mon = date.month;
    fields.tm_mday = date.day;
    fields.tm_hour = date.hour;
    fields.tm_min = date.minute;
    fields.tm_sec = date.second;
    std::time_t value = timegm(&fields);
    if (value == static_cast<std::time_t>(-1)) {
        return false;
    }
    time = value;
    return true;
}

} // namespace vek
