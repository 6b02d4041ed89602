// XORGENS: the xorgens generator with 64-bit words and a 4096-bit circular
// array, its result added to a Weyl sequence.
#include "rng/rngimpl.h"

namespace {

constexpr int R = 64;
constexpr int LAG = 11;   // r - s
constexpr uint64_t WEYL = 0x61C8864680B583EBull;

struct XorgensState {
    uint64_t x[R];
    uint64_t w;     // the Weyl accumulator
    int32_t i;      // the word written last
};
static_assert(sizeof(XorgensState) == 528);

inline uint64_t xs(uint64_t v)
{
    v ^= v << 10;
    v ^= v >> 15;
    v ^= v << 4;
    v ^= v >> 13;
    return v;
}

inline void step(XorgensState* s)
{
    s->i = (s->i + 1) & (R - 1);
    uint64_t t = s->x[s->i];
    t ^= t << 33;
    t ^= t >> 26;
    uint64_t u = s->x[(s->i + LAG) & (R - 1)];
    u ^= u << 27;
    u ^= u >> 29;
    s->x[s->i] = t ^ u;
}

void fill(void* st, uint64_t v)
{
    XorgensState* s = static_cast<XorgensState*>(st);
    for (int k = 0; k < 64; k++)
        v = xs(v);
    uint64_t w = v;
    for (int k = 0; k < R; k++) {
        v = xs(v);
        w += WEYL;
        s->x[k] = v + w;
    }
    s->i = R - 1;
    for (int k = 0; k < 4 * R; k++)
        step(s);
    s->w = w;
}

struct Xorgens {
    static uint64_t draw64(void* st)
    {
        XorgensState* s = static_cast<XorgensState*>(st);
        step(s);
        s->w += WEYL;
        return s->x[s->i] + (s->w ^ (s->w >> 27));
    }
    static void reseed(void* st) { fill(st, xkRngDefaultSeed64()); }
};

int32_t size() { return rng_state_size_note("XORGENS", sizeof(XorgensState)); }

}  // namespace

constinit const RngMethodOps rng_ops_xorgens = {
    .state_size = &size,
    .dump32 = &rng_dump32<sizeof(XorgensState)>,
    .dump64 = &rng_dump64<sizeof(XorgensState)>,
    .set_key = &rng_refuse_key,
    .seed32 = &rng_seed32_to64<fill>,
    .seed64 = &rng_seed64_to64<fill>,
    .seed_double = &rng_seed_double_to64<fill>,
    .stream32 = &rng_noop<uint32_t>,
    .stream64 = &rng_noop<uint64_t>,
    .stream_double = &rng_noop<double>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &rng_next32_of64<Xorgens>,
    .next64 = &rng_next64_of64<Xorgens>,
    RNG_UNIFORMS64(Xorgens),
};
