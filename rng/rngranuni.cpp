// RANUNI, the multiplicative congruential generator of multiplier 397204094
// modulo 2^31-1 (the pattern engine's own), and RDRAND, the processor's
// random instruction.
#include "host/xktool.h"
#include "rng/rngimpl.h"

namespace {

constexpr uint32_t MODULUS = 2147483647u;

// A state that is a multiple of 2^31-1 would step to 0 and stay there: such
// seeds take the default seed, as 0 does.
uint32_t nonzero_state(uint32_t v)
{
    if (v % MODULUS == 0)
        v = xkRngDefaultSeed31();
    if (v % MODULUS == 0)
        v = 1;
    return v;
}

// The plain seed operations store the start value as the state.
void store_word(void* st, uint32_t v) { *static_cast<uint32_t*>(st) = v; }

struct Ranuni {
    static uint32_t draw32(void* st)
    {
        uint32_t* s = static_cast<uint32_t*>(st);
        ranuni_next(s);
        return *s;
    }
    static void reseed(void* st) { *static_cast<uint32_t*>(st) = nonzero_state(0); }
};

int32_t ranuni_size() { return rng_state_size_note("RANUNI", 4); }
int32_t ranuni_seed32(void* st, uint32_t seed)
{
    rng_plain_seed32(st, seed);
    *static_cast<uint32_t*>(st) = nonzero_state(*static_cast<uint32_t*>(st));
    return 2;
}
int32_t ranuni_seed64(void* st, uint64_t seed)
{
    rng_plain_seed64(st, seed);
    *static_cast<uint32_t*>(st) = nonzero_state(*static_cast<uint32_t*>(st));
    return 1;
}
int32_t ranuni_seed_double(void* st, double seed)
{
    rng_plain_seed_double(st, seed);
    *static_cast<uint32_t*>(st) = nonzero_state(*static_cast<uint32_t*>(st));
    return 1;
}
double ranuni_classic(void* st) { return ranuni_next(static_cast<uint32_t*>(st)); }

// RDRAND: no state. Without the instruction a draw is 0; selection never
// leaves a stream on RDRAND then.
struct Rdrand {
    static uint32_t draw32(void*) { return xkHasHardwareRandom() ? xkRdrand32() : 0; }
    static uint64_t draw64(void*) { return xkHasHardwareRandom() ? xkRdrand64() : 0; }
    static void reseed(void*) {}
};

int32_t rdrand_size() { return rng_state_size_note("RDRAND", 0); }

}  // namespace

// Shared with SUBKEY32: the seed value itself, 0 taking the default seed.
int32_t rng_plain_seed32(void* st, uint32_t seed) { return rng_seed32_to32<store_word, 2>(st, seed); }
int32_t rng_plain_seed64(void* st, uint64_t seed) { return rng_seed64_to32<store_word>(st, seed); }
int32_t rng_plain_seed_double(void* st, double seed) { return rng_seed_double_to32<store_word>(st, seed); }

constinit const RngMethodOps rng_ops_ranuni = {
    .state_size = &ranuni_size,
    .dump32 = &rng_dump32<4>,
    .dump64 = &rng_dump64<4>,
    .set_key = &rng_refuse_key,
    .seed32 = &ranuni_seed32,
    .seed64 = &ranuni_seed64,
    .seed_double = &ranuni_seed_double,
    .stream32 = &rng_noop<uint32_t>,
    .stream64 = &rng_noop<uint64_t>,
    .stream_double = &rng_noop<double>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &rng_next32_of32<Ranuni>,
    .next64 = &rng_next64_of32<Ranuni>,
    RNG_UNIFORMS32(Ranuni, &ranuni_classic),
};

constinit const RngMethodOps rng_ops_rdrand = {
    .state_size = &rdrand_size,
    .dump32 = &rng_dump_nothing,
    .dump64 = &rng_dump_nothing,
    .set_key = &rng_noop<const void*, int64_t, uint32_t>,
    .seed32 = &rng_noop<uint32_t>,
    .seed64 = &rng_noop<uint64_t>,
    .seed_double = &rng_noop<double>,
    .stream32 = &rng_noop<uint32_t>,
    .stream64 = &rng_noop<uint64_t>,
    .stream_double = &rng_noop<double>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &rng_next32_of32<Rdrand>,
    .next64 = &rng_next64_of64<Rdrand>,
    .uniform_open = &unit_open64<Rdrand>,
    .uniform = &unit_closed64<Rdrand>,
    .u32 = {&unit_open32<Rdrand>, &unit_mid32<Rdrand>, &unit_upper32<Rdrand>, &unit_lower32<Rdrand>,
            &unit_even32<Rdrand>},
    RNG_UNIFORMS64_LIST(Rdrand),
};
