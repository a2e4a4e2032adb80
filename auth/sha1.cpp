// SHA-1 (FIPS 180-1) over a caller-owned state, fed in any number of pieces.
#include <cstring>

#include "vek_onvif_event.h"

namespace
{

constexpr uint32_t kInitialHash[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u,
                                      0xC3D2E1F0u};
constexpr uint32_t kRoundConstants[4] = {0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xCA62C1D6u};
constexpr int32_t kBlockSize = 64;
constexpr int32_t kLengthOffset = 56;

constexpr uint32_t rotateLeft(uint32_t value, unsigned bits)
{
    return (value << bits) | (value >> (32u - bits));
}

void putBigEndian(uint32_t word, unsigned char *out)
{
    out[0] = static_cast<unsigned char>(word >> 24);
    out[1] = static_cast<unsigned char>(word >> 16);
    out[2] = static_cast<unsigned char>(word >> 8);
    out[3] = static_cast<unsigned char>(word);
}

void finish(SHA1State *state)
{
    if (state->Computed == 0) {
        SHA1PadMessage(state);
        state->Computed = 1;
    }
}

} // namespace

extern "C" {

VEK_ONVIF_API void SHA1Reset(SHA1State *state)
{
    if (state == nullptr) {
        return;
    }
    state->Length_Low = 0;
    state->Length_High = 0;
    state->Message_Block_Index = 0;
    std::memcpy(state->Intermediate_Hash, kInitialHash, sizeof kInitialHash);
    std::memset(state->Message_Block, 0, sizeof state->Message_Block);
    state->Computed = 0;
    state->Corrupted = 0;
}

VEK_ONVIF_API void SHA1Input(const unsigned char *data, uint32_t len, SHA1State *state)
{
    if (len == 0 || state == nullptr) {
        return;
    }
    if (data == nullptr || state->Computed != 0 || state->Corrupted != 0) {
        state->Corrupted = 1;
        return;
    }
    for (uint32_t i = 0; i < len && state->Corrupted == 0; ++i) {
        state->Message_Block[state->Message_Block_Index++] = data[i];
        state->Length_Low += 8;
        if (state->Length_Low == 0) {
            ++state->Length_High;
            if (state->Length_High == 0) {
                state->Corrupted = 1;
            }
        }
        if (state->Message_Block_Index == kBlockSize) {
            SHA1ProcessMessageBlock(state);
        }
    }
}

VEK_ONVIF_API void SHA1ProcessMessageBlock(SHA1State *state)
{
    uint32_t w[80];
    for (int t = 0; t < 16; ++t) {
        const unsigned char *p = &state->Message_Block[t * 4];
        w[t] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
    }
    for (int t = 16; t < 80; ++t) {
        w[t] = rotateLeft(w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16], 1);
    }
    uint32_t a = state->Intermediate_Hash[0];
    uint32_t b = state->Intermediate_Hash[1];
    uint32_t c = state->Intermediate_Hash[2];
    uint32_t d = state->Intermediate_Hash[3];
    uint32_t e = state->Intermediate_Hash[4];
    for (int t = 0; t < 80; ++t) {
        uint32_t f;
        if (t < 20) {
            f = (b & c) | (~b & d);
        } else if (t < 40) {
            f = b ^ c ^ d;
        } else if (t < 60) {
            f = (b & c) | (b & d) | (c & d);
        } else {
            f = b ^ c ^ d;
        }
        uint32_t temp = rotateLeft(a, 5) + f + e + w[t] + kRoundConstants[t / 20];
        e = d;
        d = c;
        c = rotateLeft(b, 30);
        b = a;
        a = temp;
    }
    state->Intermediate_Hash[0] += a;
    state->Intermediate_Hash[1] += b;
    state->Intermediate_Hash[2] += c;
    state->Intermediate_Hash[3] += d;
    state->Intermediate_Hash[4] += e;
    state->Message_Block_Index = 0;
}

VEK_ONVIF_API void SHA1PadMessage(SHA1State *state)
{
    if (state->Message_Block_Index > kLengthOffset - 1) {
        state->Message_Block[state->Message_Block_Index++] = 0x80;
        while (state->Message_Block_Index < kBlockSize) {
            state->Message_Block[state->Message_Block_Index++] = 0;
        }
        SHA1ProcessMessageBlock(state);
        while (state->Message_Block_Index < kLengthOffset) {
            state->Message_Block[state->Message_Block_Index++] = 0;
        }
    } else {
        state->Message_Block[state->Message_Block_Index++] = 0x80;
        while (state->Message_Block_Index < kLengthOffset) {
            state->Message_Block[state->Message_Block_Index++] = 0;
        }
    }
    putBigEndian(state->Length_High, &state->Message_Block[56]);
    putBigEndian(state->Length_Low, &state->Message_Block[60]);
    SHA1ProcessMessageBlock(state);
}

VEK_ONVIF_API int SHA1Result(SHA1State *state)
{
    if (state == nullptr || state->Corrupted != 0) {
        return 0;
    }
    finish(state);
    return 1;
}

VEK_ONVIF_API int SHA1ResultOut(SHA1State *state, unsigned char *out20)
{
    if (state == nullptr || out20 == nullptr || state->Corrupted != 0) {
        return 1;
    }
    finish(state);
    for (int i = 0; i < 5; ++i) {
        putBigEndian(state->Intermediate_Hash[i], &out20[i * 4]);
    }
    return 0;
}

} // extern "C"
