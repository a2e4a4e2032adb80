// Text that holds a secret or what opens the camera as well as a secret
// does (a password, HA1). Such a text is made at its final size (never
// grown, so no earlier block of it is freed behind its back) and cleared
// with clearSecret() before it goes, so no copy stays in freed memory.
// (A string type of its own with a clearing allocator would do the same at
// the price of a second copy of the string code in a library that must stay
// small.)
#ifndef VEK_SECRET_TEXT_H
#define VEK_SECRET_TEXT_H

#include <openssl/crypto.h>

#include <string>

namespace vek
{

using SecretText = std::string;

// Clears the content wherever it lives (a short one inside the object).
inline void clearSecret(SecretText &text)
{
    if (!text.empty()) {
        OPENSSL_cleanse(&text[0], text.size());
    }
    text.clear();
}

} // namespace vek

#endif // VEK_SECRET_TEXT_H
