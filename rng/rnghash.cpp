// MurmurHash3 in its byte form and in the framework's word form, the test
// for the processor's random instruction and the draws from it.
#include <immintrin.h>

#include <cstring>

#include "rng/rngimpl.h"

namespace {

inline uint32_t rotl32(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }
inline uint64_t rotl64(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

constexpr uint64_t C1 = 0x87C37B91114253D5ull;
constexpr uint64_t C2 = 0x4CF5AD432745937Full;

}  // namespace

uint32_t xkMurmur3x86_32(const void* bytes, int32_t length, uint32_t seed)
{
    const uint8_t* data = static_cast<const uint8_t*>(bytes);
    int32_t blocks = length / 4;
    uint32_t h = seed;
    const uint32_t c1 = 0xCC9E2D51u, c2 = 0x1B873593u;
    for (int32_t i = 0; i < blocks; i++) {
        uint32_t k;
        std::memcpy(&k, data + 4 * i, 4);
        k *= c1;
        k = rotl32(k, 15);
        k *= c2;
        h ^= k;
        h = rotl32(h, 13);
        h = h * 5 + 0xE6546B64u;
    }
    const uint8_t* tail = data + 4 * (blocks > 0 ? blocks : 0);
    uint32_t k = 0;
    switch (length > 0 ? length & 3 : 0) {
    case 3:
        k ^= static_cast<uint32_t>(tail[2]) << 16;
        [[fallthrough]];
    case 2:
        k ^= static_cast<uint32_t>(tail[1]) << 8;
        [[fallthrough]];
    case 1:
        k ^= tail[0];
        k *= c1;
        k = rotl32(k, 15);
        k *= c2;
        h ^= k;
        break;
    default:
        break;
    }
    h ^= static_cast<uint32_t>(length);
    return rng_fmix32(h);
}

// Words in pairs; an odd last word is paired with the finaliser of the seed,
// and the length mixed in is the even word count times 8.
void xkMurmur3x64_128(const uint64_t* words, int32_t count, uint64_t seed, uint64_t out[2])
{
    uint64_t h1 = seed, h2 = seed;
    int32_t pairs = (count + 1) / 2;
    for (int32_t i = 0; i < pairs; i++) {
        uint64_t k1 = words[2 * i];
        uint64_t k2 = 2 * i + 1 < count ? words[2 * i + 1] : rng_fmix64(seed);
        k1 *= C1;
        k1 = rotl64(k1, 31);
        k1 *= C2;
        h1 ^= k1;
        h1 = rotl64(h1, 27);
        h1 += h2;
        h1 = h1 * 5 + 0x52DCE729u;
        k2 *= C2;
        k2 = rotl64(k2, 33);
        k2 *= C1;
        h2 ^= k2;
        h2 = rotl64(h2, 31);
        h2 += h1;
        h2 = h2 * 5 + 0x38495AB5u;
    }
    uint64_t length = static_cast<uint64_t>(pairs > 0 ? pairs : 0) * 16;
    h1 ^= length;
    h2 ^= length;
    h1 += h2;
    h2 += h1;
    h1 = rng_fmix64(h1);
    h2 = rng_fmix64(h2);
    h1 += h2;
    h2 += h1;
    out[0] = h1;
    out[1] = h2;
}

uint64_t xkMurmur3x64_64(const uint64_t* words, int32_t count, uint64_t seed)
{
    uint64_t out[2];
    xkMurmur3x64_128(words, count, seed, out);
    return out[0] ^ out[1];
}

// Asked afresh on every call: the host's processor record tells.
int32_t xkHasHardwareRandom()
{
    if (!g_xk_services || !g_xk_services->sysinfo)
        return 0;
    alignas(16) uint8_t block[XK_PROCINFO_SIZE];
    std::memset(block, 0, sizeof block);
    xkHostQueryProcessor(block);
    const uint8_t* record;
    std::memcpy(&record, block + XK_PROCINFO_RECORD_OFFSET, sizeof record);
    if (!record)
        return 0;
    uint32_t first;
    std::memcpy(&first, record, 4);
    if (first != 0)
        return 0;
    return (record[XK_PROCREC_FEATURE_BYTE] & XK_PROCREC_RDRAND_BIT) ? 1 : 0;
}

__attribute__((target("rdrnd"))) uint32_t xkRdrand32()
{
    unsigned int v = 0;
    while (!_rdrand32_step(&v)) {
    }
    return v;
}

__attribute__((target("rdrnd"))) uint64_t xkRdrand64()
{
    unsigned long long v = 0;
    while (!_rdrand64_step(&v)) {
    }
    return v;
}

double xkRdrandDouble() { return static_cast<double>(xkRdrand64()) * 0x1p-64; }
