// The xorshift methods XOR64 (xorshift64*), XOR128 (xorshift128+), XOR1024
// and XOR4096 (xorshift1024* and 4096*), and the single-word seed
// operations XOR64 shares with MH3 and SUBKEY64.
#include "rng/rngimpl.h"

namespace {

struct Xor64State {
    uint64_t x;
};
struct Xor128State {
    uint64_t s0, s1;
};
template <int W>
struct XorLong {
    uint64_t s[W];
    int32_t p;   // the current word
};
static_assert(sizeof(XorLong<16>) == 136 && sizeof(XorLong<64>) == 520);

struct Xor64 {
    static uint64_t draw64(void* st)
    {
        uint64_t x = static_cast<Xor64State*>(st)->x;
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        static_cast<Xor64State*>(st)->x = x;
        return x * 0x2545F4914F6CDD1Dull;
    }
    static void reseed(void* st) { rng_word_seed64(st, 0); }
};

// The stored second word is the output itself.
struct Xor128 {
    static uint64_t draw64(void* st)
    {
        Xor128State* s = static_cast<Xor128State*>(st);
        uint64_t t = s->s0 ^ (s->s0 << 23);
        uint64_t n = t ^ s->s1 ^ (t >> 17) ^ (s->s1 >> 26);
        s->s0 = s->s1;
        s->s1 = s->s1 + n;
        return s->s1;
    }
    static void reseed(void* st);
};

template <int W, int A, int B, int C, uint64_t MUL>
struct XorLongDraw {
    static uint64_t draw64(void* st)
    {
        XorLong<W>* s = static_cast<XorLong<W>*>(st);
        uint64_t a = s->s[s->p & (W - 1)];
        s->p = (s->p + 1) & (W - 1);
        uint64_t b = s->s[s->p];
        b ^= b << A;
        s->s[s->p] = a ^ (a >> B) ^ b ^ (b >> C);
        return s->s[s->p] * MUL;
    }
    static void reseed(void* st);
};
using Xor1024 = XorLongDraw<16, 31, 30, 11, 0x106689D45497FDB5ull>;
using Xor4096 = XorLongDraw<64, 25, 49, 3, 0x74321163EEC4A005ull>;

void fill128(void* st, uint64_t v)
{
    Xor128State* s = static_cast<Xor128State*>(st);
    s->s0 = v;
    s->s1 = rng_fmix64(v + 1);
}

template <int W>
void fill_long(void* st, uint64_t v)
{
    XorLong<W>* s = static_cast<XorLong<W>*>(st);
    s->s[0] = v;
    for (int k = 1; k < W; k++)
        s->s[k] = rng_fmix64(v + static_cast<uint64_t>(k));
    s->p = 0;
}

void Xor128::reseed(void* st) { fill128(st, xkRngDefaultSeed64()); }
template <int W, int A, int B, int C, uint64_t MUL>
void XorLongDraw<W, A, B, C, MUL>::reseed(void* st)
{
    fill_long<W>(st, xkRngDefaultSeed64());
}

void fill64(void* st, uint64_t v) { static_cast<Xor64State*>(st)->x = v; }

int32_t size_xor64() { return rng_state_size_note("XOR64", sizeof(Xor64State)); }
int32_t size_xor128() { return rng_state_size_note("XOR128", sizeof(Xor128State)); }
int32_t size_xor1024() { return rng_state_size_note("XOR1024", sizeof(XorLong<16>)); }
int32_t size_xor4096() { return rng_state_size_note("XOR4096", sizeof(XorLong<64>)); }

#define XOR_OPS(SIZE, STATE, SETKEY, S32, S64, SD, G)                                                       \
    {                                                                                                    \
        .state_size = &SIZE, .dump32 = &rng_dump32<sizeof(STATE)>, .dump64 = &rng_dump64<sizeof(STATE)>, \
        .set_key = SETKEY, .seed32 = S32, .seed64 = S64, .seed_double = SD,                   \
        .stream32 = &rng_noop<uint32_t>, .stream64 = &rng_noop<uint64_t>,                                \
        .stream_double = &rng_noop<double>, .counter32 = &rng_noop<uint32_t>,                            \
        .counter64 = &rng_noop<uint64_t>, .next32 = &rng_next32_of64<G>, .next64 = &rng_next64_of64<G>,                    \
        RNG_UNIFORMS64(G),                                                                               \
    }

}  // namespace

int32_t rng_word_seed32(void* st, uint32_t seed) { return rng_seed32_to64<fill64>(st, seed); }
int32_t rng_word_seed64(void* st, uint64_t seed) { return rng_seed64_to64<fill64>(st, seed); }
int32_t rng_word_seed_double(void* st, double seed) { return rng_seed_double_to64<fill64>(st, seed); }

constinit const RngMethodOps rng_ops_xor64 =
    XOR_OPS(size_xor64, Xor64State, &xkRngSetKeyBytes, &rng_word_seed32, &rng_word_seed64, &rng_word_seed_double, Xor64);
constinit const RngMethodOps rng_ops_xor128 =
    XOR_OPS(size_xor128, Xor128State, &rng_set_key<16>, &rng_seed32_to64<fill128>, &rng_seed64_to64<fill128>, &rng_seed_double_to64<fill128>, Xor128);
constinit const RngMethodOps rng_ops_xor1024 = XOR_OPS(size_xor1024, XorLong<16>, &rng_set_key<128>, &rng_seed32_to64<fill_long<16>>,
                                                       &rng_seed64_to64<fill_long<16>>, &rng_seed_double_to64<fill_long<16>>, Xor1024);
constinit const RngMethodOps rng_ops_xor4096 = XOR_OPS(size_xor4096, XorLong<64>, &rng_set_key<512>, &rng_seed32_to64<fill_long<64>>,
                                                       &rng_seed64_to64<fill_long<64>>, &rng_seed_double_to64<fill_long<64>>, Xor4096);
