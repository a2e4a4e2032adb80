#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vek_platform_ctl.h"

namespace vekfuzz
{

std::unique_ptr<char[]> terminatedCopy(const uint8_t *data, size_t size)
{
    std::unique_ptr<char[]> copy(new char[size + 1]);
    if (size > 0) {
        std::memcpy(copy.get(), data, size);
    }
    copy[size] = '\0';
    return copy;
}

namespace
{
void discard(int32_t, uint32_t, const char *, const char *, const char *, void *) {}
} // namespace

void silenceLog()
{
    VEK_PLAT_SetLogSink(&discard, nullptr);
}

void expectLiveBlocks(uint32_t before, const char *what)
{
    uint32_t after = VEK_PLAT_GetLiveBlocks();
    if (after != before) {
        std::fprintf(stderr, "%s: %u platform blocks before, %u after\n", what, before, after);
        std::abort();
    }
}

} // namespace vekfuzz
