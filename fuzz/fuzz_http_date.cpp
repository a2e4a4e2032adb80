// The Date header of a refusal: vek::parseHttpDate on the input as a
// NUL-terminated text. A date it accepts lies at or after 1970 and, written
// again in the preferred form, reads back as the same time.
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "http_date.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto text = vekfuzz::terminatedCopy(data, size);
    std::time_t time = 0;
    if (!vek::parseHttpDate(text.get(), time)) {
        return 0;
    }
    if (time < 0) {
        std::fprintf(stderr, "[%s] read as %lld, before 1970\n", text.get(),
                     static_cast<long long>(time));
        std::abort();
    }
    struct tm fields {
    };
    if (gmtime_r(&time, &fields) == nullptr) {
        std::abort();
    }
    // A day past the end of its month or a leap second rolls over; a year
    // past 9999 has no four-digit form to write.
    if (fields.tm_year + 1900 > 9999) {
        return 0;
    }
    char again[64];
    std::strftime(again, sizeof again, "%a, %d %b %Y %H:%M:%S GMT", &fields);
    std::time_t back = 0;
    if (!vek::parseHttpDate(again, back) || back != time) {
        std::fprintf(stderr, "[%s] read as %lld; [%s] does not read back as it\n", text.get(),
                     static_cast<long long>(time), again);
        std::abort();
    }
    return 0;
}
