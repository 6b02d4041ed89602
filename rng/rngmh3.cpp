// MH3: one 64-bit word stepped by the MurmurHash3 64-bit finaliser.
#include "rng/rngimpl.h"

namespace {

struct Mh3 {
    static uint64_t draw64(void* st)
    {
        uint64_t* x = static_cast<uint64_t*>(st);
        *x = rng_fmix64(*x);
        return *x;
    }
    static void reseed(void* st) { rng_word_seed64(st, 0); }
};

int32_t size() { return rng_state_size_note("MH3", 8); }

}  // namespace

constinit const RngMethodOps rng_ops_mh3 = {
    .state_size = &size,
    .dump32 = &rng_dump32<8>,
    .dump64 = &rng_dump64<8>,
    .set_key = &xkRngSetKeyBytes,
    .seed32 = &rng_word_seed32,
    .seed64 = &rng_word_seed64,
    .seed_double = &rng_word_seed_double,
    .stream32 = &rng_noop<uint32_t>,
    .stream64 = &rng_noop<uint64_t>,
    .stream_double = &rng_noop<double>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &rng_next32_of64<Mh3>,
    .next64 = &rng_next64_of64<Mh3>,
    RNG_UNIFORMS64(Mh3),
};
