// The topic-set text handed to the walk: the element texts of a
// GetEventProperties answer, stripped of namespace prefixes and wrapped in
// one Message element.
#include <cstring>

#include "discovery_internal.h"
#include "vek_log.h"

namespace
{
constexpr const char *kFunc = "VEK_Onvif_GetEventProperties";
constexpr const char *kOpen = "<Message>";
constexpr const char *kClose = "</Message>";
// "<Message>", "</Message>", the terminating zero and one spare byte.
constexpr size_t kFrameBytes = 21;
} // namespace

namespace vek
{

uint32_t assembleTopicSetText(uint32_t count, char **elements, char **text)
{
    size_t size = kFrameBytes;
    for (uint32_t i = 0; i < count; ++i) {
        if (elements[i] == nullptr) {
            continue;
        }
        uint32_t result = VEK_PUB_DeleteNodeProperty(elements[i]);
        if (result != 0) {
            VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, kFunc,
                    "VEK_PUB_DeleteNodeProperty fail , ulIndex:%lu, errorcode is %u.",
                    static_cast<unsigned long>(i), result);
            // Left out of the text below.
            elements[i] = nullptr;
            continue;
        }
        size += std::strlen(elements[i]);
    }
    auto *buffer = static_cast<char *>(VEK_ALLOC(size));
    if (buffer == nullptr) {
        VEK_LOG(kLevelError, VEK_ONVIF_ERR_FAIL, kFunc, "Failed to alloc memory.");
        return VEK_ONVIF_ERR_NOMEM;
    }
    std::memset(buffer, 0, size);
    size_t used = 0;
    auto append = [&](const char *part) {
        int written = ZU_snprintf(buffer + used, size - used, "%s", part);
        if (written > 0) {
            used += static_cast<size_t>(written);
        }
    };
    append(kOpen);
    for (uint32_t i = 0; i < count; ++i) {
        if (elements[i] != nullptr) {
            append(elements[i]);
        }
    }
    append(kClose);
    *text = buffer;
    return VEK_ONVIF_OK;
}

} // namespace vek
