// Helpers shared by the fuzz targets and the seed maker (fixture files and
// topic-set texts come from the fixtures library, tests/fixtures_lib).
#ifndef VEK_FUZZ_SUPPORT_H
#define VEK_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vekfuzz
{

// A heap copy of the input with a terminating zero and nothing after it,
// so that AddressSanitizer sees any read past the end.
std::unique_ptr<char[]> terminatedCopy(const uint8_t *data, size_t size);

// Sends the library's log lines nowhere (logging every input would slow
// the fuzzer down to a crawl).
void silenceLog();

// Aborts when the platform heap holds a different number of blocks than
// before the input: a leak (or a double free) the sanitizers cannot see.
void expectLiveBlocks(uint32_t before, const char *what);

} // namespace vekfuzz

#endif // VEK_FUZZ_SUPPORT_H
