// The time an HTTP answer's Date header tells, in the three forms HTTP
// recipients accept: "Sun, 06 Nov 1994 08:49:37 GMT", the older
// "Sunday, 06-Nov-94 08:49:37 GMT" and asctime's "Sun Nov  6 08:49:37 1994".
#ifndef VEK_HTTP_DATE_H
#define VEK_HTTP_DATE_H

#include <ctime>

namespace vek
{

// False when text is no such date, or names a zone other than GMT (GMT,
// UTC, UT, Z, +0000 or -0000; none at all is read as GMT): the time of
// another zone is not one the clock may be corrected by.
bool parseHttpDate(const char *text, std::time_t &time);

} // namespace vek

#endif // VEK_HTTP_DATE_H
