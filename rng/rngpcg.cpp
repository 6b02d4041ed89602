// PCG32I and PCG64I: permuted congruential generators with the RXS M XS
// output; the stream number selects the odd increment.
#include "rng/rngimpl.h"

namespace {

template <class T>
struct PcgState {
    T state;
    T increment;   // odd after every seed and stream operation
};

struct Pcg32 {
    static uint32_t draw32(void* st)
    {
        auto* s = static_cast<PcgState<uint32_t>*>(st);
        s->state = s->state * 747796405u + s->increment;
        uint32_t x = s->state;
        uint32_t w = ((x >> ((x >> 28) + 4u)) ^ x) * 277803737u;
        return (w >> 22) ^ w;
    }
};

struct Pcg64 {
    static uint64_t draw64(void* st)
    {
        auto* s = static_cast<PcgState<uint64_t>*>(st);
        s->state = s->state * 0x5851F42D4C957F2Dull + s->increment;
        uint64_t x = s->state;
        uint64_t w = ((x >> ((x >> 59) + 5u)) ^ x) * 0xAEF17502108EF2D9ull;
        return (w >> 43) ^ w;
    }
    static void reseed(void* st);
};

template <class T>
void start(void* st, T v)
{
    auto* s = static_cast<PcgState<T>*>(st);
    s->increment = 1;
    s->state = v + 1;
}

void Pcg64::reseed(void* st) { start<uint64_t>(st, xkRngDefaultSeed64()); }

// The state moves by the new increment less 1.
template <class T>
int32_t select_stream(void* st, T a)
{
    if (a == 0)
        return 0;
    auto* s = static_cast<PcgState<T>*>(st);
    s->increment = static_cast<T>(2 * a + 1);
    s->state = static_cast<T>(s->state + 2 * a);
    return 1;
}
template <class T>
int32_t stream32(void* st, uint32_t a)
{
    return select_stream<T>(st, static_cast<T>(a));
}
template <class T>
int32_t stream64(void* st, uint64_t a)
{
    return select_stream<T>(st, static_cast<T>(a));
}

int32_t size32() { return rng_state_size_note("PCG32I", sizeof(PcgState<uint32_t>)); }
int32_t size64() { return rng_state_size_note("PCG64I", sizeof(PcgState<uint64_t>)); }

}  // namespace

constinit const RngMethodOps rng_ops_pcg32i = {
    .state_size = &size32,
    .dump32 = &rng_dump32<8>,
    .dump64 = &rng_dump64<8>,
    .set_key = &rng_set_key<4>,
    .seed32 = &rng_seed32_to32<start<uint32_t>, 1>,
    .seed64 = &rng_seed64_to32<start<uint32_t>>,
    .seed_double = &rng_seed_double_to32<start<uint32_t>>,
    .stream32 = &stream32<uint32_t>,
    .stream64 = &stream64<uint32_t>,
    .stream_double = &rng_stream_double_to<uint32_t, select_stream<uint32_t>>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &rng_next32_of32<Pcg32>,
    .next64 = &rng_next64_of32<Pcg32>,
    RNG_UNIFORMS32(Pcg32, nullptr),
};

constinit const RngMethodOps rng_ops_pcg64i = {
    .state_size = &size64,
    .dump32 = &rng_dump32<16>,
    .dump64 = &rng_dump64<16>,
    .set_key = &xkRngSetKeyBytes,
    .seed32 = &rng_seed32_to64<start<uint64_t>>,
    .seed64 = &rng_seed64_to64<start<uint64_t>>,
    .seed_double = &rng_seed_double_to64<start<uint64_t>>,
    .stream32 = &stream32<uint64_t>,
    .stream64 = &stream64<uint64_t>,
    .stream_double = &rng_stream_double_to<uint64_t, select_stream<uint64_t>>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &rng_next32_of64<Pcg64>,
    .next64 = &rng_next64_of64<Pcg64>,
    RNG_UNIFORMS64(Pcg64),
};
