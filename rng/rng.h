// The random-number framework: generator method records with their 36
// operation slots, random streams, method selection, the framework's
// messages and seed sources, and the shared hashing and hardware draws.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/hostif.h"
#include "matchmod/xkservices.h"

// ---- operations of a generator method -------------------------------------------
// Every operation but slot 0 takes the generator's state first. Results of
// slots 4 to 11 are codes the stream code does not read.
typedef int32_t (*rng_size_fn)();                                          // 0
typedef void (*rng_dump_fn)(void* state, int32_t count);                   // 1, 2
typedef int32_t (*rng_key_fn)(void* state, const void* bytes, int64_t length, uint32_t mode);  // 3
typedef int32_t (*rng_u32_fn)(void* state, uint32_t value);                // 4, 7, 10, 12
typedef int32_t (*rng_u64_fn)(void* state, uint64_t value);                // 5, 8, 11, 13
typedef int32_t (*rng_double_fn)(void* state, double value);               // 6, 9
typedef uint32_t (*rng_next32_fn)(void* state);                            // 14
typedef uint64_t (*rng_next64_fn)(void* state);                            // 15
typedef double (*rng_uniform_fn)(void* state);                             // 16-18, 20-35

struct RngMethodOps {
    rng_size_fn state_size = nullptr;          // 0  state size in bytes (issues note 0x8C7FE852)
    rng_dump_fn dump32 = nullptr;              // 1  print the state as 32-bit words
    rng_dump_fn dump64 = nullptr;              // 2  print the state as 64-bit words
    rng_key_fn set_key = nullptr;              // 3  key from bytes: 0, 1, 2, 3, 4 or -1 (refused)
    rng_u32_fn seed32 = nullptr;               // 4  seed from a 32-bit value (0: default seed)
    rng_u64_fn seed64 = nullptr;               // 5  seed from a 64-bit value
    rng_double_fn seed_double = nullptr;       // 6  seed from a double
    rng_u32_fn stream32 = nullptr;             // 7  stream number
    rng_u64_fn stream64 = nullptr;             // 8
    rng_double_fn stream_double = nullptr;     // 9
    rng_u32_fn counter32 = nullptr;            // 10 counter
    rng_u64_fn counter64 = nullptr;            // 11
    rng_u32_fn position32 = nullptr;           // 12 FRY2X32 only
    rng_u64_fn position64 = nullptr;           // 13 FRY2X64 and FRY4X64 only
    rng_next32_fn next32 = nullptr;            // 14
    rng_next64_fn next64 = nullptr;            // 15
    rng_uniform_fn uniform_open = nullptr;     // 16 the method's slot 20 (32-bit) or 30 (64-bit)
    rng_uniform_fn uniform_classic = nullptr;  // 17 MT1998, MT32, MTHYBRID, RANUNI only
    rng_uniform_fn uniform = nullptr;          // 18 the method's slot 23 or 34
    void* unused19 = nullptr;                // 19 never set
    rng_uniform_fn u32[5] = {};           // 20-24 from one 32-bit draw
    rng_uniform_fn u64[10] = {};          // 25-34 from 64-bit draws
    rng_uniform_fn full = nullptr;             // 35 full precision
};
// Unset slots stay null.
static_assert(sizeof(RngMethodOps) == 36 * 8);
static_assert(offsetof(RngMethodOps, next32) == 14 * 8);
static_assert(offsetof(RngMethodOps, u32) == 20 * 8);
static_assert(offsetof(RngMethodOps, u64) == 25 * 8);
static_assert(offsetof(RngMethodOps, full) == 35 * 8);

// Method flags.
enum : uint64_t {
    RNG_DESCRIBED = 0x1,       // messages name the description
    RNG_SEED32 = 0x8,
    RNG_SEED64 = 0x10,
    RNG_STREAM32 = 0x20,
    RNG_STREAM64 = 0x40,
    RNG_COUNTER32 = 0x80,
    RNG_COUNTER64 = 0x100,
    RNG_DRAWS32 = 0x800,
    RNG_DRAWS64 = 0x1000,
};

struct RngMethod {
    uint32_t name_capacity;          // 16
    uint32_t description_capacity;   // 64
    char name[16];
    char description[64];
    char16_t wide_name[16];
    uint64_t key_bytes;
    uint32_t key_bits;
    uint32_t output_bits;            // up to 32: a 32-bit method
    uint64_t flags;
    uint64_t largest_seed;
    uint64_t largest_stream;
    RngMethodOps ops;
};
static_assert(offsetof(RngMethod, name) == 8);
static_assert(offsetof(RngMethod, description) == 24);
static_assert(offsetof(RngMethod, wide_name) == 88);
static_assert(offsetof(RngMethod, key_bytes) == 120);
static_assert(offsetof(RngMethod, output_bits) == 132);
static_assert(offsetof(RngMethod, flags) == 136);
static_assert(offsetof(RngMethod, ops) == 160);

typedef void (*rng_register_fn)(RngMethod* method);

// One registration routine per method: fills the zeroed record.
#define RNG_METHOD(id, reg, ...) void reg(RngMethod* method);
#include "rng/rngmethods.def"
#undef RNG_METHOD
constexpr int RNG_METHOD_COUNT = 0
#define RNG_METHOD(...) +1
#include "rng/rngmethods.def"
#undef RNG_METHOD
    ;
static_assert(RNG_METHOD_COUNT == 19);

constexpr uint64_t RNG_MARKER = 123456789;
constexpr size_t RNG_STATE_AREA = 2512;
constexpr size_t RNG_STREAM_ALLOCATION = 3512;
constexpr uint64_t RNG_EMPTY_BITS = 0xC00921FB54442D18ull;   // -pi, the empty cache mark

// Stream flags.
enum : uint64_t {
    RNG_NAME_WIDE = 0x1,       // the requested method name is UTF-16
    RNG_ANNOUNCED = 0x2,
    RNG_ANNOUNCE = 0x4,
};

struct RngStream {
    uint64_t marker;                 // RNG_MARKER once initialised
    char16_t method_name[16];        // the selected method's wide name
    uint64_t seed;                   // 0 asks for the default seed
    uint64_t stream;
    uint64_t counter;
    uint64_t flags;
    int32_t status;                  // first problem of the last init or reset
    uint8_t ready;
    uint64_t state_size;
    void* state;                     // -> state_area
    rng_uniform_fn uniform;          // slot 17 when the method has one, else slot 16
    RngMethod* method;               // -> embedded
    XkLog* log;
    double cached[3];
    uint32_t cached_integer;
    uint8_t cache_flags[2];
    uint64_t applied_seed;
    uint32_t seed_hash;
    host_task* task;
    const void* requested_name;      // selected at the next init; then -> embedded.name
    double seed_double;              // missing reads as 0
    double stream_double;
    RngMethod embedded;
    alignas(16) uint8_t state_area[RNG_STATE_AREA];
};
static_assert(sizeof(RngStream) <= RNG_STREAM_ALLOCATION);

// ---- streams ------------------------------------------------------------------
// A new stream from the task's allocator (main task when null); null when the
// allocation fails.
RngStream* xkRngStreamCreate(host_task* task, uint64_t seed, uint64_t stream);
uint32_t xkRngStreamInit(RngStream* stream);
uint32_t xkRngStreamReset(RngStream* stream);

// ---- selection, messages, seeds -------------------------------------------------
enum : uint32_t {
    RNG_ST_UNKNOWN_METHOD = 0x8C7FE80Bu,
    RNG_ST_NO_HARDWARE = 0x8C7FE80Cu,
    RNG_ST_NO_SEED = 0x8C7FE80Du,
    RNG_ST_NO_STREAM = 0x8C7FE80Fu,
    RNG_ST_STREAM_RANGE = 0x8C7FE810u,
    RNG_MSG_SEED_IGNORED = 0x8C7FE817u,     // (double seed, method name)
    RNG_MSG_SEED_CHANGED = 0x8C7FE818u,     // (double seed, largest seed, method name, seed, seed)
    RNG_MSG_SEED_RANGE = 0x8C7FE819u,       // (double seed, bound, double result)
    RNG_MSG_STREAM_IGNORED = 0x8C7FE81Au,   // (double number, method name)
    RNG_MSG_STREAM_DOUBLE = 0x8C7FE81Bu,    // (double number, largest stream, method name)
    RNG_MSG_STREAM_RANGE = 0x8C7FE81Cu,     // (number, largest stream, method name)
    RNG_MSG_METHOD = 0x8C7FE828u,           // (method text)
    RNG_MSG_METHOD_SEED = 0x8C7FE829u,      // (method text, seed, seed)
    RNG_MSG_METHOD_STREAM = 0x8C7FE82Au,    // (method text, seed, seed, stream, stream)
    RNG_MSG_REGISTERED = 0x8C7FE851u,       // (description or name)
    RNG_MSG_STATE_SIZE = 0x8C7FE852u,       // (name, size)
};

// Fills the record with the named method (MTHYBRID when none is named and
// the setting names none); flags bit 0x1: the name is UTF-16.
uint32_t xkRngSelectMethod(const void* name, int32_t length, RngMethod* method, uint64_t flags);
// Severity 4 error, 3 warning, 2 note, 1 information.
int32_t xkRngMessage(int32_t severity, uint32_t code, ...);
uint32_t xkRngDefaultSeed31();
uint64_t xkRngDefaultSeed64();
uint32_t xkRngClockSeed32();
uint64_t xkRngClockSeed64();
double xkRngSeedFromDouble(double seed, uint64_t largest);

// ---- hashing and hardware draws ----------------------------------------------------
uint32_t xkMurmur3x86_32(const void* bytes, int32_t length, uint32_t seed);
void xkMurmur3x64_128(const uint64_t* words, int32_t count, uint64_t seed, uint64_t out[2]);
uint64_t xkMurmur3x64_64(const uint64_t* words, int32_t count, uint64_t seed);
int32_t xkHasHardwareRandom();
uint32_t xkRdrand32();
uint64_t xkRdrand64();
double xkRdrandDouble();

// The MurmurHash3 finalisers.
constexpr uint64_t rng_fmix64(uint64_t k)
{
    k ^= k >> 33;
    k *= 0xFF51AFD7ED558CCDull;
    k ^= k >> 33;
    k *= 0xC4CEB9FE1A85EC53ull;
    k ^= k >> 33;
    return k;
}
constexpr uint32_t rng_fmix32(uint32_t h)
{
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    h *= 0xC2B2AE35u;
    h ^= h >> 16;
    return h;
}
