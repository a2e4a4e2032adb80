// Records the requests are built from live in the context that sends them
// and start out zeroed, as the serializers expect of a member left unset.
#ifndef VEK_ZEROED_RECORD_H
#define VEK_ZEROED_RECORD_H

#include <cstring>

#include "stdsoap2.h"

namespace vek
{

// A zeroed T in the context, or null when the context cannot hold it.
template <typename T> T *zeroedRecord(struct soap *soap)
{
    void *block = soap_malloc(soap, sizeof(T));
    if (block != nullptr) {
        std::memset(block, 0, sizeof(T));
    }
    return static_cast<T *>(block);
}

// Gives member a zeroed record when it has none; false when the context
// cannot hold one.
template <typename T> bool ensureRecord(struct soap *soap, T *&member)
{
    if (member == nullptr) {
        member = zeroedRecord<T>(soap);
    }
    return member != nullptr;
}

} // namespace vek

#endif // VEK_ZEROED_RECORD_H
