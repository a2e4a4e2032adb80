// The time an HTTP answer's Date header tells: "Sun, 06 Nov 1994 08:49:37
// GMT" (and the older "Sunday, 06-Nov-94 08:49:37 GMT").
#ifndef VEK_HTTP_DATE_H
#define VEK_HTTP_DATE_H

#include <ctime>

namespace vek
{

// False when text is no such date.
bool parseHttpDate(const char *text, std::time_t &time);

} // namespace vek

#endif // VEK_HTTP_DATE_H
