// Bounded string helpers.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "vek_platform.h"

extern "C" {

void *ZU_memcpy(void *dst, const void *src, size_t n)
{
    return std::memcpy(dst, src, n);
}

int ZU_snprintf(char *buf, size_t size, const char *fmt, ...)
{
    if (buf == nullptr || size == 0 || fmt == nullptr) {
        return -1;
    }
    va_list args;
    va_start(args, fmt);
    int full = std::vsnprintf(buf, size, fmt, args);
    va_end(args);
    if (full < 0) {
        buf[0] = '\0';
        return -1;
    }
    // Characters actually stored, never more than the buffer holds.
    return static_cast<size_t>(full) < size ? full : static_cast<int>(size - 1);
}

char *ZU_strnstr(const char *text, const char *word, size_t n)
{
    if (text == nullptr || word == nullptr) {
        return nullptr;
    }
    if (n == 0) {
        return const_cast<char *>(text);
    }
    size_t wordLen = strnlen(word, n);
    for (const char *p = text; *p != '\0'; ++p) {
        if (std::strncmp(p, word, wordLen) == 0) {
            return const_cast<char *>(p);
        }
    }
    return nullptr;
}

} // extern "C"
