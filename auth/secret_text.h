// Text that holds a secret or what opens the camera as well as a secret
// does (a password, HA1): every block it lets go of, on growth or at its
// end, is cleared before it is freed, so no copy stays in freed memory.
#ifndef VEK_SECRET_TEXT_H
#define VEK_SECRET_TEXT_H

#include <openssl/crypto.h>

#include <cstddef>
#include <new>
#include <string>

namespace vek
{

template <typename T> struct ClearingAllocator {
    using value_type = T;
    ClearingAllocator() = default;
    template <typename U> ClearingAllocator(const ClearingAllocator<U> &) {}
    T *allocate(std::size_t count) { return static_cast<T *>(::operator new(count * sizeof(T))); }
    void deallocate(T *block, std::size_t count)
    {
        OPENSSL_cleanse(block, count * sizeof(T));
        ::operator delete(block);
    }
    template <typename U> bool operator==(const ClearingAllocator<U> &) const { return true; }
    template <typename U> bool operator!=(const ClearingAllocator<U> &) const { return false; }
};

// The short-string buffer inside the object is not the allocator's:
// clearSecret() clears the content wherever it lives.
using SecretText = std::basic_string<char, std::char_traits<char>, ClearingAllocator<char>>;

inline void clearSecret(SecretText &text)
{
    if (!text.empty()) {
        OPENSSL_cleanse(&text[0], text.size());
    }
    text.clear();
}

} // namespace vek

#endif // VEK_SECRET_TEXT_H
