// VEK_PUB_DeleteNodeProperty: strips element prefixes in place. A refused
// text stays unchanged; a cleaned one never grows.
#include <cstdlib>
#include <cstring>

#include "support.h"
#include "vek_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    auto text = vekfuzz::terminatedCopy(data, size);
    auto original = vekfuzz::terminatedCopy(data, size);
    const size_t length = std::strlen(text.get());
    const uint32_t result = VEK_PUB_DeleteNodeProperty(text.get());
    if (result != 0 && result != 112) {
        std::abort();
    }
    if (result == 112 && std::strcmp(text.get(), original.get()) != 0) {
        std::abort(); // refused, yet changed
    }
    if (result == 0 && std::strlen(text.get()) > length) {
        std::abort();
    }
    return 0;
}
