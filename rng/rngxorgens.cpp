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
int32_t seed32(void* st, uint32_t seed)
{
    fill(st, seed ? seed : xkRngDefaultSeed64());
    return 1;
}
int32_t seed64(void* st, uint64_t seed)
{
    fill(st, rng_seed64_value(seed));
    return 1;
}
int32_t seed_double(void* st, double seed)
{
    fill(st, rng_seed64_of_double(seed));
    return 1;
}
uint64_t next64(void* st) { return Xorgens::draw64(st); }
uint32_t next32(void* st) { return static_cast<uint32_t>(Xorgens::draw64(st) >> 32); }

}  // namespace

constinit const RngMethodOps rng_ops_xorgens = {
    .state_size = &size,
    .dump32 = &rng_dump32<sizeof(XorgensState)>,
    .dump64 = &rng_dump64<sizeof(XorgensState)>,
    .set_key = &rng_refuse_key,
    .seed32 = &seed32,
    .seed64 = &seed64,
    .seed_double = &seed_double,
    .stream32 = &rng_noop<uint32_t>,
    .stream64 = &rng_noop<uint64_t>,
    .stream_double = &rng_noop<double>,
    .counter32 = &rng_noop<uint32_t>,
    .counter64 = &rng_noop<uint64_t>,
    .next32 = &next32,
    .next64 = &next64,
    RNG_UNIFORMS64(Xorgens),
};
