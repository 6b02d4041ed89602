// Inside the random-number framework: the uniform conversions and the
// 32/64-bit values every generator instantiates over its own inlined draw,
// the seed operations over a generator's fill routine, the shared key
// setter, dumps, no-ops and seed-value rules, and the operation tables of
// the generators.
#pragma once

#include <cmath>
#include <cstring>

#include "host/hostcall.h"
#include "matchmod/xklog.h"
#include "matchmod/xkstring.h"
#include "rng/rng.h"

// ---- conversions between doubles and integers ----------------------------------------

// An unsigned 64-bit integer from a double, values from 2^63 up without loss
// of the top bit; below 0 gives 0, 2^64 and above all ones.
inline uint64_t rng_u64_of(double d)
{
    if (!(d > 0))
        return 0;
    if (d >= 18446744073709551616.0)
        return ~uint64_t{0};
    if (d >= 9223372036854775808.0)
        return static_cast<uint64_t>(d - 9223372036854775808.0) + (uint64_t{1} << 63);
    return static_cast<uint64_t>(d);
}

// A double as the host gives it: the missing value reads as 0.
inline double rng_present(double d) { return xk_is_missing(d) ? 0.0 : d; }

// The remainder of a double modulo 2^32 or 2^64, truncated, brought into
// [0, modulus); anything that is no finite number gives 0.
inline uint64_t rng_remainder(double d, double modulus)
{
    if (!std::isfinite(d))
        return 0;
    double r = std::trunc(std::fmod(d, modulus));
    if (r < 0)
        r += modulus;
    return rng_u64_of(r);
}

// ---- seed values ----------------------------------------------------------------------

// A 64-bit seed value: 0 takes the default 64-bit seed.
inline uint64_t rng_seed64_value(uint64_t s) { return s ? s : xkRngDefaultSeed64(); }

// A double seed of a 64-bit method: missing, 0 or below take the default
// seed (through a double, so reduced to 53 significant bits).
inline uint64_t rng_seed64_of_double(double d)
{
    d = rng_present(d);
    if (!(d > 0))
        return rng_u64_of(static_cast<double>(xkRngDefaultSeed64()));
    return rng_u64_of(xkRngSeedFromDouble(d, ~uint64_t{0}));
}

// A double seed of a 32-bit method: the low 32 bits of the integer seed.
inline uint32_t rng_seed32_of_double(double d)
{
    d = rng_present(d);
    if (!(d > 0))
        return xkRngDefaultSeed31();
    return static_cast<uint32_t>(rng_u64_of(xkRngSeedFromDouble(d, 0xFFFFFFFFu)));
}

inline uint32_t rng_fold32(uint64_t s) { return static_cast<uint32_t>(s ^ (s >> 32)); }

// ---- seed operations over a method's fill routine ----------------------------------------
// FILL makes the whole state from one start value.

// A state of 64-bit start values: a 32-bit or 64-bit seed of 0 takes the
// default 64-bit seed, a double as rng_seed64_of_double. All answer 1.
template <void (*FILL)(void*, uint64_t)>
int32_t rng_seed32_to64(void* st, uint32_t seed)
{
    FILL(st, seed ? seed : xkRngDefaultSeed64());
    return 1;
}
template <void (*FILL)(void*, uint64_t)>
int32_t rng_seed64_to64(void* st, uint64_t seed)
{
    FILL(st, rng_seed64_value(seed));
    return 1;
}
template <void (*FILL)(void*, uint64_t)>
int32_t rng_seed_double_to64(void* st, double seed)
{
    FILL(st, rng_seed64_of_double(seed));
    return 1;
}

// A state of 32-bit start values: a seed of 0 takes the default 31-bit seed,
// a 64-bit seed is folded, a double as rng_seed32_of_double. The 32-bit seed
// answers SEED32_CODE, the others 1.
template <void (*FILL)(void*, uint32_t), int32_t SEED32_CODE>
int32_t rng_seed32_to32(void* st, uint32_t seed)
{
    FILL(st, seed ? seed : xkRngDefaultSeed31());
    return SEED32_CODE;
}
template <void (*FILL)(void*, uint32_t)>
int32_t rng_seed64_to32(void* st, uint64_t seed)
{
    FILL(st, seed ? rng_fold32(seed) : xkRngDefaultSeed31());
    return 1;
}
template <void (*FILL)(void*, uint32_t)>
int32_t rng_seed_double_to32(void* st, double seed)
{
    FILL(st, rng_seed32_of_double(seed));
    return 1;
}

// ---- stream numbers as doubles ------------------------------------------------------------

// Slot 9 over the method's own stream operation SET: a missing number or 0
// answers 0 and changes nothing; otherwise SET gets the number modulo the
// range of T (truncated, brought into range) and gives the answer.
template <class T, int32_t (*SET)(void*, T)>
int32_t rng_stream_double_to(void* st, double d)
{
    d = rng_present(d);
    if (d == 0)
        return 0;
    double modulus = sizeof(T) == 4 ? 4294967296.0 : 18446744073709551616.0;
    return SET(st, static_cast<T>(rng_remainder(d, modulus)));
}

// ---- 32-bit and 64-bit values from a method's draws ------------------------------------------

// A 32-bit method: a 64-bit value is two draws, the first the high half.
template <class G>
uint32_t rng_next32_of32(void* s)
{
    return G::draw32(s);
}
template <class G>
uint64_t rng_next64_of32(void* s)
{
    uint64_t hi = G::draw32(s);
    return (hi << 32) | G::draw32(s);
}
// A 64-bit method: a 32-bit value is the high half of a draw.
template <class G>
uint64_t rng_next64_of64(void* s)
{
    return G::draw64(s);
}
template <class G>
uint32_t rng_next32_of64(void* s)
{
    return static_cast<uint32_t>(G::draw64(s) >> 32);
}

// ---- operations shared by many methods -------------------------------------------------------

// The common key contract over a key of key_bytes at the start of the
// state: 0 nothing given; 2 a whole key copied; 3 bytes repeated (mode 0x2);
// 1 a prefix copied (mode 0x1); 4 a prefix completed by the expansion: the
// rest of a partial first word is zero-filled and, for keys of 64-bit words,
// word k from n (whole words given, at least 1) on becomes the finaliser of
// word k - n.
int32_t rng_key_contract(void* key, size_t key_bytes, const void* bytes, int64_t length, uint32_t mode);

template <size_t KEY>
int32_t rng_set_key(void* state, const void* bytes, int64_t length, uint32_t mode)
{
    return rng_key_contract(state, KEY, bytes, length, mode);
}

// The key setter of the methods whose key is the state's first 8 bytes
// (FRY2X32, MH3, PCG64I, SUBKEY64, XOR64).
int32_t xkRngSetKeyBytes(void* state, const void* bytes, int64_t length, uint32_t mode);

// Key setter of the methods that take no key: refuses any bytes.
int32_t rng_refuse_key(void* state, const void* bytes, int64_t length, uint32_t mode);

// The shared no-ops of unsupported slots: ignore their arguments, answer 0.
template <class... A>
int32_t rng_noop(void*, A...)
{
    return 0;
}
void rng_dump_nothing(void* state, int32_t count);

// Dumps: the first min(count, W) words of the state, four to a line, W the
// state size over the word size.
void rng_dump_words32(const void* state, int32_t size, int32_t count);
void rng_dump_words64(const void* state, int32_t size, int32_t count);
template <int32_t SIZE>
void rng_dump32(void* state, int32_t count)
{
    rng_dump_words32(state, SIZE, count);
}
template <int32_t SIZE>
void rng_dump64(void* state, int32_t count)
{
    rng_dump_words64(state, SIZE, count);
}

// Slot 0: the state size, announced as note 0x8C7FE852.
int32_t rng_state_size_note(const char* name, int32_t size);

// ---- uniform doubles ------------------------------------------------------------------------
// G provides the raw draws (draw32 and/or draw64, inlined) and reseed(),
// which replaces a state that keeps drawing zeros by the method's default
// seed. Loops that the published forms leave unbounded stop after
// RNG_REDRAWS draws, reseed once, and stop for good after as many again.

constexpr int RNG_REDRAWS = 99;

template <class G>
double unit_open32(void* s)   // slot 20: (0, 1)
{
    uint32_t x = G::draw32(s);
    for (int n = 1; x == 0 && n < RNG_REDRAWS; n++)
        x = G::draw32(s);
    return x * 0x1p-32;
}
template <class G>
double unit_mid32(void* s)    // slot 21: (0, 1)
{
    return (G::draw32(s) + 0.5) * 0x1p-32;
}
template <class G>
double unit_upper32(void* s)  // slot 22: (0, 1]
{
    return (G::draw32(s) + 1.0) * 0x1p-32;
}
template <class G>
double unit_lower32(void* s)  // slot 23: [0, 1)
{
    return G::draw32(s) * 0x1p-32;
}
template <class G>
double unit_even32(void* s)   // slot 24: [0, 1]; an odd draw becomes the next even value
{
    uint32_t x = G::draw32(s);
    return static_cast<double>(static_cast<uint64_t>(x & ~1u) + 2u * (x & 1u)) * 0x1p-32;
}

template <class G>
double unit_open53(void* s)   // slot 25: (0, 1)
{
    uint64_t k = G::draw64(s) >> 11;
    for (int n = 1; k == 0 && n < RNG_REDRAWS; n++)
        k = G::draw64(s) >> 11;
    return static_cast<double>(k) * 0x1p-53;
}
template <class G>
double unit_odd53(void* s)    // slot 26: (0, 1)
{
    return static_cast<double>((G::draw64(s) >> 11) | 1u) * 0x1p-53;
}
template <class G>
double unit_upper53(void* s)  // slot 27: (0, 1]
{
    return (static_cast<double>(G::draw64(s) >> 11) + 1.0) * 0x1p-53;
}
template <class G>
double unit_lower53(void* s)  // slot 28: [0, 1)
{
    return static_cast<double>(G::draw64(s) >> 11) * 0x1p-53;
}
template <class G>
double unit_even53(void* s)   // slot 29: [0, 1]
{
    uint64_t k = G::draw64(s) >> 11;
    return static_cast<double>((k & ~uint64_t{1}) + 2 * (k & 1)) * 0x1p-53;
}
template <class G>
double unit_open64(void* s)   // slot 30: (0, 1), redrawing zeros and products of 1.0
{
    double v = 0;
    for (int round = 0; round < 2; round++) {
        for (int n = 0; n < RNG_REDRAWS; n++) {
            uint64_t x = G::draw64(s);
            v = static_cast<double>(x) * 0x1p-64;
            if (x != 0 && v != 1.0)
                return v;
        }
        if (round == 0)
            G::reseed(s);
    }
    return v;
}
constexpr uint64_t RNG_NEAR_TOP = 0xFFFFFFFFFFFFFC00ull;   // rounds to 2^64 as a double
template <class G>
double unit_odd64(void* s)    // slot 31: (0, 1)
{
    uint64_t y = G::draw64(s) | 1u;
    if (y >= RNG_NEAR_TOP)
        y <<= 54;
    return static_cast<double>(y) * 0x1p-64;
}
template <class G>
double unit_upper64(void* s)  // slot 32: (0, 1]
{
    return (static_cast<double>(G::draw64(s)) + 1.0) * 0x1p-64;
}
template <class G>
double unit_lower64(void* s)  // slot 33: [0, 1)
{
    uint64_t y = G::draw64(s);
    if (y >= RNG_NEAR_TOP)
        y <<= 54;
    return static_cast<double>(y) * 0x1p-64;
}
template <class G>
double unit_closed64(void* s) // slot 34: [0, 1]
{
    return static_cast<double>(G::draw64(s)) * 0x1p-64;
}
template <class G>
double unit_full(void* s)     // slot 35: a full 53-bit significand at every magnitude
{
    int e = -64;
    uint64_t x = G::draw64(s);
    while (x == 0) {
        e -= 64;
        if (e < -1074)
            return 0.0;
        x = G::draw64(s);
    }
    if (!(x >> 63)) {
        int i = __builtin_clzll(x);
        uint64_t d = G::draw64(s);
        x = (x << i) | (d >> (64 - i));
        e -= i;
    }
    // The sticky bit keeps the conversion from tying; above 2^63 it is
    // halved and doubled so that it stays exact to the nearest double.
    // A value that would round up to 2^64 takes the largest double below
    // it, so that the result stays below 1 (and below the next power of two
    // of its scale).
    x |= 1;
    if (x >= RNG_NEAR_TOP)
        x = RNG_NEAR_TOP - 1024;
    double v = static_cast<double>((x >> 1) | (x & 1)) * 2.0;
    return std::ldexp(v, e);
}

// The uniform slots of a 32-bit method (16 to 18, 20 to 24); CLASSIC is the
// method's own uniform of slot 17, or null.
#define RNG_UNIFORMS32(G, CLASSIC)                                                                     \
    .uniform_open = &unit_open32<G>, .uniform_classic = CLASSIC, .uniform = &unit_lower32<G>,          \
    .u32 = {&unit_open32<G>, &unit_mid32<G>, &unit_upper32<G>, &unit_lower32<G>, &unit_even32<G>}
#define RNG_UNIFORMS64_LIST(G)                                                                         \
    .u64 = {&unit_open53<G>, &unit_odd53<G>, &unit_upper53<G>, &unit_lower53<G>, &unit_even53<G>,       \
            &unit_open64<G>, &unit_odd64<G>, &unit_upper64<G>, &unit_lower64<G>, &unit_closed64<G>},    \
    .full = &unit_full<G>
// The uniform slots of a 64-bit method (16, 18, 25 to 35).
#define RNG_UNIFORMS64(G) .uniform_open = &unit_open64<G>, .uniform = &unit_closed64<G>, RNG_UNIFORMS64_LIST(G)

// ---- single-word seed operations of XOR64, shared with MH3 and SUBKEY64 -----------------------
int32_t rng_word_seed32(void* state, uint32_t seed);
int32_t rng_word_seed64(void* state, uint64_t seed);
int32_t rng_word_seed_double(void* state, double seed);
// Seed operations of RANUNI, shared with SUBKEY32: the value itself.
int32_t rng_plain_seed32(void* state, uint32_t seed);
int32_t rng_plain_seed64(void* state, uint64_t seed);
int32_t rng_plain_seed_double(void* state, double seed);

// ---- the generators' operation tables ----------------------------------------------------------
extern const RngMethodOps rng_ops_fry2x32;
extern const RngMethodOps rng_ops_fry2x64;
extern const RngMethodOps rng_ops_fry4x64;
extern const RngMethodOps rng_ops_mh3;
extern const RngMethodOps rng_ops_mt1998;
extern const RngMethodOps rng_ops_mt32;
extern const RngMethodOps rng_ops_mt64;
extern const RngMethodOps rng_ops_mthybrid;
extern const RngMethodOps rng_ops_pcg32i;
extern const RngMethodOps rng_ops_pcg64i;
extern const RngMethodOps rng_ops_ranuni;
extern const RngMethodOps rng_ops_rdrand;
extern const RngMethodOps rng_ops_subkey32;
extern const RngMethodOps rng_ops_subkey64;
extern const RngMethodOps rng_ops_xor1024;
extern const RngMethodOps rng_ops_xor128;
extern const RngMethodOps rng_ops_xor4096;
extern const RngMethodOps rng_ops_xor64;
extern const RngMethodOps rng_ops_xorgens;
