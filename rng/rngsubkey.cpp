// SUBKEY32 and SUBKEY64: x, x - k, x - 2k, ... modulo 2^32 or 2^64; the
// seed sets x, the stream number sets k.
#include "rng/rngimpl.h"

namespace {

template <class T>
struct SubkeyState {
    T x;   // the current value
    T k;   // subtracted per draw
};

struct Subkey32 {
    static uint32_t draw32(void* st)
    {
        auto* s = static_cast<SubkeyState<uint32_t>*>(st);
        s->x -= s->k;
        return s->x;
    }
    static void reseed(void* st) { rng_plain_seed32(st, 0); }
};

struct Subkey64 {
    static uint64_t draw64(void* st)
    {
        auto* s = static_cast<SubkeyState<uint64_t>*>(st);
        s->x -= s->k;
        return s->x;
    }
    static void reseed(void* st) { rng_word_seed64(st, 0); }
};

template <class T>
int32_t stream32(void* st, uint32_t a)
{
    if (a != 0)
        static_cast<SubkeyState<T>*>(st)->k = a;
    return 1;
}
template <class T>
int32_t stream64(void* st, uint64_t a)
{
    if (a != 0)
        static_cast<SubkeyState<T>*>(st)->k = static_cast<T>(a);
    return 1;
}
// The step of a double stream number: stored also when the remainder is 0.
template <class T>
int32_t set_step(void* st, T k)
{
    static_cast<SubkeyState<T>*>(st)->k = k;
    return 1;
}

int32_t size32() { return rng_state_size_note("SUBKEY32", sizeof(SubkeyState<uint32_t>)); }
int32_t size64() { return rng_state_size_note("SUBKEY64", sizeof(SubkeyState<uint64_t>)); }

}  // namespace

constinit const RngMethodOps rng_ops_subkey32 = {
    .state_size = &size32,
    .dump32 = &rng_dump32<8>,
    .dump64 = &rng_dump64<8>,
    .set_key = &rng_set_key<4>,
    .seed32 = &rng_plain_seed32,
    .seed64 = &rng_plain_seed64,
    .seed_double = &rng_plain_seed_double,
    .stream32 = &stream32<uint32_t>,
    .stream64 = &stream64<uint32_t>,
    .stream_double = &rng_stream_double_to<uint32_t, set_step<uint32_t>>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &rng_next32_of32<Subkey32>,
    .next64 = &rng_next64_of32<Subkey32>,
    RNG_UNIFORMS32(Subkey32, nullptr),
};

constinit const RngMethodOps rng_ops_subkey64 = {
    .state_size = &size64,
    .dump32 = &rng_dump32<16>,
    .dump64 = &rng_dump64<16>,
    .set_key = &xkRngSetKeyBytes,
    .seed32 = &rng_word_seed32,
    .seed64 = &rng_word_seed64,
    .seed_double = &rng_word_seed_double,
    .stream32 = &stream32<uint64_t>,
    .stream64 = &stream64<uint64_t>,
    .stream_double = &rng_stream_double_to<uint64_t, set_step<uint64_t>>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &rng_next32_of64<Subkey64>,
    .next64 = &rng_next64_of64<Subkey64>,
    RNG_UNIFORMS64(Subkey64),
};
