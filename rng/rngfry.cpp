// The Threefry methods of the Random123 family with 20 rounds: FRY2X32,
// FRY2X64 and FRY4X64. A draw hands out the words of the block of the
// current counter one after the other; after the last word the counter
// moves on to the next block.
#include "rng/rngimpl.h"

namespace {

template <class T>
inline T rotl(T x, int r)
{
    return static_cast<T>((x << r) | (x >> (static_cast<int>(sizeof(T) * 8) - r)));
}

// ---- block functions ----------------------------------------------------------------------

template <class T, T PARITY, const int* ROT>
void threefry2(const T* counter, const T* key, T* out)
{
    T ks[3] = {key[0], key[1], static_cast<T>(PARITY ^ key[0] ^ key[1])};
    T x0 = counter[0] + ks[0];
    T x1 = counter[1] + ks[1];
    for (int r = 0; r < 20; r++) {
        x0 += x1;
        x1 = rotl<T>(x1, ROT[r % 8]);
        x1 ^= x0;
        if (r % 4 == 3) {
            int s = (r + 1) / 4;
            x0 += ks[s % 3];
            x1 += ks[(s + 1) % 3] + static_cast<T>(s);
        }
    }
    out[0] = x0;
    out[1] = x1;
}

constexpr int ROT_2X32[8] = {13, 15, 26, 6, 17, 29, 16, 24};
constexpr int ROT_2X64[8] = {16, 42, 12, 31, 16, 32, 24, 21};
constexpr int ROT_4X64[8][2] = {{14, 16}, {52, 57}, {23, 40}, {5, 37}, {25, 33}, {46, 12}, {58, 22}, {32, 32}};

void threefry4x64(const uint64_t* counter, const uint64_t* key, uint64_t* out)
{
    uint64_t ks[5] = {key[0], key[1], key[2], key[3], 0x1BD11BDAA9FC1A22ull ^ key[0] ^ key[1] ^ key[2] ^ key[3]};
    uint64_t x[4];
    for (int i = 0; i < 4; i++)
        x[i] = counter[i] + ks[i];
    for (int r = 0; r < 20; r++) {
        const int* rot = ROT_4X64[r % 8];
        if (r % 2 == 0) {
            x[0] += x[1];
            x[1] = rotl<uint64_t>(x[1], rot[0]);
            x[1] ^= x[0];
            x[2] += x[3];
            x[3] = rotl<uint64_t>(x[3], rot[1]);
            x[3] ^= x[2];
        } else {
            x[0] += x[3];
            x[3] = rotl<uint64_t>(x[3], rot[0]);
            x[3] ^= x[0];
            x[2] += x[1];
            x[1] = rotl<uint64_t>(x[1], rot[1]);
            x[1] ^= x[2];
        }
        if (r % 4 == 3) {
            uint64_t s = static_cast<uint64_t>((r + 1) / 4);
            for (int i = 0; i < 4; i++)
                x[i] += ks[(s + static_cast<uint64_t>(i)) % 5];
            x[3] += s;
        }
    }
    for (int i = 0; i < 4; i++)
        out[i] = x[i];
}

// ---- state and draws -------------------------------------------------------------------------

// Counter (little-endian, c[0] lowest), key, the block of the counter, and
// the index of the next word to hand out (0: compute the block first).
template <class T, int W>
struct FryState {
    T c[W];
    T k[W];
    T b[W];
    T index;
};
static_assert(sizeof(FryState<uint32_t, 2>) == 28);
static_assert(sizeof(FryState<uint64_t, 2>) == 56);
static_assert(sizeof(FryState<uint64_t, 4>) == 104);

template <class T, int W>
void compute(FryState<T, W>* s)
{
    if constexpr (W == 4)
        threefry4x64(s->c, s->k, s->b);
    else if constexpr (sizeof(T) == 4)
        threefry2<uint32_t, 0x1BD11BDAu, ROT_2X32>(s->c, s->k, s->b);
    else
        threefry2<uint64_t, 0x1BD11BDAA9FC1A22ull, ROT_2X64>(s->c, s->k, s->b);
}

template <class T, int W>
T draw_word(void* st)
{
    auto* s = static_cast<FryState<T, W>*>(st);
    if (s->index >= W)
        s->index = 0;
    if (s->index == 0)
        compute(s);
    T v = s->b[s->index];
    if (++s->index == W) {
        s->index = 0;
        for (int i = 0; i < W && ++s->c[i] == 0; i++) {
        }
    }
    return v;
}

template <class T, int W>
void start(void* st, T v)
{
    auto* s = static_cast<FryState<T, W>*>(st);
    s->k[0] = v;
    for (int i = 1; i < W; i++) {
        if constexpr (sizeof(T) == 4)
            s->k[i] = rng_fmix32(v + static_cast<T>(i));
        else
            s->k[i] = rng_fmix64(v + static_cast<T>(i));
    }
    for (int i = 0; i < W; i++) {
        s->c[i] = 0;
        s->b[i] = 0;
    }
    s->c[0] = 1;
    s->index = 0;
}

struct Fry2x32 {
    static uint32_t draw32(void* st) { return draw_word<uint32_t, 2>(st); }
    static void reseed(void* st) { start<uint32_t, 2>(st, xkRngDefaultSeed31()); }
};
template <int W>
struct Fry64 {
    static uint64_t draw64(void* st) { return draw_word<uint64_t, W>(st); }
    static void reseed(void* st) { start<uint64_t, W>(st, xkRngDefaultSeed64()); }
};

// ---- stream numbers, counters, positions ----------------------------------------------------------

// A stream number is mixed into k1; it takes effect at the next block.
template <class T, int W>
int32_t mix_stream(void* st, T a)
{
    if (a == 0)
        return 0;
    auto* s = static_cast<FryState<T, W>*>(st);
    if constexpr (sizeof(T) == 4)
        s->k[1] ^= rng_fmix32(a);
    else
        s->k[1] ^= rng_fmix64(a);
    return 1;
}
// A counter value goes to c1; FRY4X64 mixes it into k2 instead.
template <class T, int W>
int32_t mix_counter(void* st, T a)
{
    if (a == 0)
        return 0;
    auto* s = static_cast<FryState<T, W>*>(st);
    if constexpr (W == 4)
        s->k[2] ^= rng_fmix64(a);
    else if constexpr (sizeof(T) == 4)
        s->c[1] = rng_fmix32(a);
    else
        s->c[1] = rng_fmix64(a);
    return 1;
}
template <class T, int W>
int32_t stream32(void* st, uint32_t a)
{
    return mix_stream<T, W>(st, static_cast<T>(a));
}
template <class T, int W>
int32_t stream64(void* st, uint64_t a)
{
    return mix_stream<T, W>(st, static_cast<T>(a));
}
template <class T, int W>
int32_t counter32(void* st, uint32_t a)
{
    return mix_counter<T, W>(st, static_cast<T>(a));
}
template <class T, int W>
int32_t counter64(void* st, uint64_t a)
{
    return mix_counter<T, W>(st, static_cast<T>(a));
}

// A position counts words: block position / W, word position % W. A word
// inside a block computes that block at once.
template <class T, int W, class P>
int32_t set_position(void* st, P position)
{
    auto* s = static_cast<FryState<T, W>*>(st);
    s->c[0] = static_cast<T>(position / W);
    s->index = static_cast<T>(position % W);
    if (s->index != 0)
        compute(s);
    return 1;
}

int32_t size_2x32() { return rng_state_size_note("FRY2X32", sizeof(FryState<uint32_t, 2>)); }
int32_t size_2x64() { return rng_state_size_note("FRY2X64", sizeof(FryState<uint64_t, 2>)); }
int32_t size_4x64() { return rng_state_size_note("FRY4X64", sizeof(FryState<uint64_t, 4>)); }

#define FRY64_OPS(W, SIZE, KEY)                                                                           \
    {                                                                                                     \
        .state_size = &SIZE, .dump32 = &rng_dump32<sizeof(FryState<uint64_t, W>)>,                        \
        .dump64 = &rng_dump64<sizeof(FryState<uint64_t, W>)>, .set_key = &rng_set_key<KEY>,               \
        .seed32 = &rng_seed32_to64<start<uint64_t, W>>, .seed64 = &rng_seed64_to64<start<uint64_t, W>>,   \
        .seed_double = &rng_seed_double_to64<start<uint64_t, W>>, .stream32 = &stream32<uint64_t, W>,     \
        .stream64 = &stream64<uint64_t, W>,                                                               \
        .stream_double = &rng_stream_double_to<uint64_t, mix_stream<uint64_t, W>>,                        \
        .counter32 = &counter32<uint64_t, W>, .counter64 = &counter64<uint64_t, W>,                       \
        .position64 = &set_position<uint64_t, W, uint64_t>, .next32 = &rng_next32_of64<Fry64<W>>,         \
        .next64 = &rng_next64_of64<Fry64<W>>, RNG_UNIFORMS64(Fry64<W>),                                   \
    }

}  // namespace

constinit const RngMethodOps rng_ops_fry2x32 = {
    .state_size = &size_2x32,
    .dump32 = &rng_dump32<sizeof(FryState<uint32_t, 2>)>,
    .dump64 = &rng_dump64<sizeof(FryState<uint32_t, 2>)>,
    .set_key = &xkRngSetKeyBytes,
    .seed32 = &rng_seed32_to32<start<uint32_t, 2>, 1>,
    .seed64 = &rng_seed64_to32<start<uint32_t, 2>>,
    .seed_double = &rng_seed_double_to32<start<uint32_t, 2>>,
    .stream32 = &stream32<uint32_t, 2>,
    .stream64 = &stream64<uint32_t, 2>,
    .stream_double = &rng_stream_double_to<uint32_t, mix_stream<uint32_t, 2>>,
    .counter32 = &counter32<uint32_t, 2>,
    .counter64 = &counter64<uint32_t, 2>,
    .position32 = &set_position<uint32_t, 2, uint32_t>,
    .next32 = &rng_next32_of32<Fry2x32>,
    .next64 = &rng_next64_of32<Fry2x32>,
    RNG_UNIFORMS32(Fry2x32, nullptr),
};
constinit const RngMethodOps rng_ops_fry2x64 = FRY64_OPS(2, size_2x64, 16);
constinit const RngMethodOps rng_ops_fry4x64 = FRY64_OPS(4, size_4x64, 32);

// For tests: the block functions.
void rng_threefry2x32(const uint32_t counter[2], const uint32_t key[2], uint32_t out[2])
{
    threefry2<uint32_t, 0x1BD11BDAu, ROT_2X32>(counter, key, out);
}
void rng_threefry2x64(const uint64_t counter[2], const uint64_t key[2], uint64_t out[2])
{
    threefry2<uint64_t, 0x1BD11BDAA9FC1A22ull, ROT_2X64>(counter, key, out);
}
void rng_threefry4x64(const uint64_t counter[4], const uint64_t key[4], uint64_t out[4])
{
    threefry4x64(counter, key, out);
}
