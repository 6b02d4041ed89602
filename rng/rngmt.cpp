// The Mersenne Twister methods: MT1998, MT32 and MTHYBRID (one MT19937
// generator seeded three ways, sharing every generation operation) and MT64
// (MT19937-64).
#include <cpuid.h>
#include <immintrin.h>

#include "rng/rngimpl.h"

namespace {

// ---- MT19937 -------------------------------------------------------------------------

constexpr int N = 624;
constexpr int M = 397;
constexpr uint32_t MATRIX = 0x9908B0DFu;
constexpr uint32_t UPPER = 0x80000000u;
constexpr uint32_t LOWER = 0x7FFFFFFFu;

struct Mt32 {
    uint32_t w[N];
    uint32_t index;   // next word; N: regenerate first
};
static_assert(sizeof(Mt32) == 2500);

// One step of either generator over words of type T: the upper bits of a,
// the lower bits of b, shifted and twisted into the word far ahead.
template <class T, T UPPER_BITS, T LOWER_BITS, T MATRIX_A>
inline T twist_word(T a, T b, T far)
{
    T y = (a & UPPER_BITS) | (b & LOWER_BITS);
    return far ^ (y >> 1) ^ ((y & 1u) ? MATRIX_A : T{0});
}

// Regenerates the NW words of a state in place, word k from words k, k + 1
// and k + MW (modulo NW).
template <class T, int NW, int MW, T (*TWIST)(T, T, T)>
void regenerate_words(T* mt)
{
    int k = 0;
    for (; k < NW - MW; k++)
        mt[k] = TWIST(mt[k], mt[k + 1], mt[k + MW]);
    for (; k < NW - 1; k++)
        mt[k] = TWIST(mt[k], mt[k + 1], mt[k + MW - NW]);
    mt[NW - 1] = TWIST(mt[NW - 1], mt[0], mt[MW - 1]);
}

inline uint32_t twist(uint32_t a, uint32_t b, uint32_t far) { return twist_word<uint32_t, UPPER, LOWER, MATRIX>(a, b, far); }

void regenerate_plain(uint32_t* mt) { regenerate_words<uint32_t, N, M, twist>(mt); }

__attribute__((target("avx2"))) inline __m256i twist8(const uint32_t* a, const uint32_t* far)
{
    const __m256i upper = _mm256_set1_epi32(static_cast<int>(UPPER));
    const __m256i lower = _mm256_set1_epi32(static_cast<int>(LOWER));
    const __m256i matrix = _mm256_set1_epi32(static_cast<int>(MATRIX));
    const __m256i one = _mm256_set1_epi32(1);
    __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
    __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + 1));
    __m256i f = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(far));
    __m256i y = _mm256_or_si256(_mm256_and_si256(x, upper), _mm256_and_si256(x1, lower));
    __m256i odd = _mm256_cmpeq_epi32(_mm256_and_si256(y, one), one);
    __m256i r = _mm256_xor_si256(f, _mm256_srli_epi32(y, 1));
    return _mm256_xor_si256(r, _mm256_and_si256(odd, matrix));
}

// Eight words at a time: every word a step reads is either not yet
// rewritten (k + 1 and k + M) or already rewritten (k + M - N), as in the
// plain loop.
__attribute__((target("avx2"))) void regenerate_avx2(uint32_t* mt)
{
    int k = 0;
    for (; k + 8 <= N - M; k += 8)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(mt + k), twist8(mt + k, mt + k + M));
    for (; k < N - M; k++)
        mt[k] = twist(mt[k], mt[k + 1], mt[k + M]);
    for (; k + 8 <= N - 1; k += 8)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(mt + k), twist8(mt + k, mt + k + M - N));
    for (; k < N - 1; k++)
        mt[k] = twist(mt[k], mt[k + 1], mt[k + M - N]);
    mt[N - 1] = twist(mt[N - 1], mt[0], mt[M - 1]);
}

// Whether the processor runs 256-bit vector instructions (asked once).
constinit int avx2_state = 0;   // 0 not asked, 1 no, 2 yes
bool have_avx2()
{
    if (avx2_state == 0) {
        unsigned a = 0, b = 0, c = 0, d = 0;
        bool yes = false;
        if (__get_cpuid(1, &a, &b, &c, &d) && (c & bit_OSXSAVE) && (c & bit_AVX)) {
            unsigned lo, hi;
            __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
            if ((lo & 6u) == 6u && __get_cpuid_count(7, 0, &a, &b, &c, &d))
                yes = (b & bit_AVX2) != 0;
        }
        avx2_state = yes ? 2 : 1;
    }
    return avx2_state == 2;
}

void regenerate(uint32_t* mt)
{
    if (have_avx2())
        regenerate_avx2(mt);
    else
        regenerate_plain(mt);
}

inline uint32_t temper(uint32_t y)
{
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y;
}

inline uint32_t raw_draw(Mt32* s)
{
    if (s->index >= N) {
        regenerate(s->w);
        s->index = 0;
    }
    return temper(s->w[s->index++]);
}

void fill_1998(Mt32* s, uint32_t seed)
{
    s->w[0] = seed;
    for (int i = 1; i < N; i++)
        s->w[i] = s->w[i - 1] * 69069u;
    s->index = N;
}

void fill_2002(Mt32* s, uint32_t seed)
{
    s->w[0] = seed;
    for (uint32_t i = 1; i < N; i++)
        s->w[i] = 1812433253u * (s->w[i - 1] ^ (s->w[i - 1] >> 30)) + i;
    s->index = N;
}

void fill_hybrid(Mt32* s, uint32_t seed)
{
    if ((seed & 0x1FFFu) == 0)
        fill_2002(s, seed);
    else
        fill_1998(s, seed);
}

// The draws of the three 32-bit methods: a tempered 0 is drawn again. A
// state that keeps giving 0 (all words 0, as a key of zero bytes leaves it)
// is replaced by the 2002 filling of the default seed.
struct Mt32Draw {
    static uint32_t draw32(void* st)
    {
        Mt32* s = static_cast<Mt32*>(st);
        uint32_t y = raw_draw(s);
        for (int n = 1; y == 0; n++) {
            if (n == RNG_REDRAWS)
                reseed(st);
            if (n == 2 * RNG_REDRAWS)
                return 1;
            y = raw_draw(s);
        }
        return y;
    }
    static void reseed(void* st) { fill_2002(static_cast<Mt32*>(st), xkRngDefaultSeed31()); }
};

double mt_classic(void* st)
{
    constexpr uint64_t bits = 0x3DEFFFFFFFFFFFFFull;   // 2^-32 less 2^-85
    double scale;
    __builtin_memcpy(&scale, &bits, sizeof scale);
    return Mt32Draw::draw32(st) * scale;
}

uint32_t seed32_of(uint64_t s)
{
    uint32_t v = rng_fold32(s);
    return v ? v : xkRngDefaultSeed31();
}

template <void (*FILL)(Mt32*, uint32_t)>
void fill_state(void* st, uint32_t seed)
{
    FILL(static_cast<Mt32*>(st), seed);
}
// Unlike the other 32-bit methods, a 64-bit seed that folds to 0 takes the
// default seed.
template <void (*FILL)(Mt32*, uint32_t)>
int32_t mt_seed64(void* st, uint64_t seed)
{
    FILL(static_cast<Mt32*>(st), seed32_of(seed));
    return 1;
}

// Stream numbers and counters rehash every word: w[i] = MurmurHash3 of
// {i, tag, value} seeded with w[i]; the index stays.
constexpr uint32_t STREAM_TAG = 15;
constexpr uint32_t COUNTER_TAG = 255;

void rehash32(Mt32* s, uint32_t tag, uint32_t value)
{
    for (uint32_t i = 0; i < N; i++) {
        uint32_t msg[3] = {i, tag, value};
        s->w[i] = xkMurmur3x86_32(msg, 12, s->w[i]);
    }
}

int32_t mt_stream32(void* st, uint32_t value)
{
    if (value == 0)
        return 0;
    rehash32(static_cast<Mt32*>(st), STREAM_TAG, value);
    return 2;
}
// A non-zero wider stream number: its low 32 bits, when not 0.
int32_t mt_stream_low(void* st, uint32_t low)
{
    if (low != 0)
        rehash32(static_cast<Mt32*>(st), STREAM_TAG, low);
    return 1;
}
int32_t mt_stream64(void* st, uint64_t value)
{
    if (value == 0)
        return 0;
    return mt_stream_low(st, static_cast<uint32_t>(value));
}
int32_t mt_counter32(void* st, uint32_t value)
{
    if (value != 0)
        rehash32(static_cast<Mt32*>(st), COUNTER_TAG, value);
    return 2;
}
int32_t mt_counter64(void* st, uint64_t value)
{
    if (static_cast<uint32_t>(value) != 0)
        rehash32(static_cast<Mt32*>(st), COUNTER_TAG, static_cast<uint32_t>(value));
    return 1;
}

int32_t size_mt1998() { return rng_state_size_note("MT1998", sizeof(Mt32)); }
int32_t size_mt32() { return rng_state_size_note("MT32", sizeof(Mt32)); }
int32_t size_mthybrid() { return rng_state_size_note("MTHYBRID", sizeof(Mt32)); }

// One operation serves slots 16, 18, 20 and 23: every draw is non-zero.
#define MT32_OPS(SIZE, FILL)                                                                                   \
    {                                                                                                          \
        .state_size = &SIZE, .dump32 = &rng_dump32<sizeof(Mt32)>, .dump64 = &rng_dump64<sizeof(Mt32)>,         \
        .set_key = &rng_set_key<N * 4>, .seed32 = &rng_seed32_to32<fill_state<FILL>, 2>,                       \
        .seed64 = &mt_seed64<FILL>, .seed_double = &rng_seed_double_to32<fill_state<FILL>>,                    \
        .stream32 = &mt_stream32, .stream64 = &mt_stream64,                                                    \
        .stream_double = &rng_stream_double_to<uint32_t, mt_stream_low>, .counter32 = &mt_counter32,           \
        .counter64 = &mt_counter64, .next32 = &rng_next32_of32<Mt32Draw>,                                      \
        .next64 = &rng_next64_of32<Mt32Draw>, .uniform_open = &unit_lower32<Mt32Draw>,                         \
        .uniform_classic = &mt_classic, .uniform = &unit_lower32<Mt32Draw>,                                    \
        .u32 = {&unit_lower32<Mt32Draw>, &unit_mid32<Mt32Draw>, &unit_upper32<Mt32Draw>,                       \
                &unit_lower32<Mt32Draw>, &unit_even32<Mt32Draw>},                                              \
    }

// ---- MT19937-64 ----------------------------------------------------------------------

constexpr int NN = 312;
constexpr int MM = 156;
constexpr uint64_t MATRIX64 = 0xB5026F5AA96619E9ull;
constexpr uint64_t UPPER64 = 0xFFFFFFFF80000000ull;
constexpr uint64_t LOWER64 = 0x7FFFFFFFull;

struct Mt64 {
    uint64_t w[NN];
    uint32_t index;
};
static_assert(sizeof(Mt64) == 2504);

void regenerate64(uint64_t* mt)
{
    regenerate_words<uint64_t, NN, MM, twist_word<uint64_t, UPPER64, LOWER64, MATRIX64>>(mt);
}

void fill64(void* st, uint64_t seed)
{
    Mt64* s = static_cast<Mt64*>(st);
    s->w[0] = seed;
    for (uint64_t i = 1; i < NN; i++)
        s->w[i] = 6364136223846793005ull * (s->w[i - 1] ^ (s->w[i - 1] >> 62)) + i;
    s->index = NN;
}

struct Mt64Draw {
    static uint64_t draw64(void* st)
    {
        Mt64* s = static_cast<Mt64*>(st);
        if (s->index >= NN) {
            regenerate64(s->w);
            s->index = 0;
        }
        uint64_t x = s->w[s->index++];
        x ^= (x >> 29) & 0x5555555555555555ull;
        x ^= (x << 17) & 0x71D67FFFEDA60000ull;
        x ^= (x << 37) & 0xFFF7EEE000000000ull;
        x ^= x >> 43;
        return x;
    }
    static void reseed(void* st) { fill64(st, xkRngDefaultSeed64()); }
};

void rehash64(Mt64* s, uint64_t tag, uint64_t value)
{
    for (uint64_t i = 0; i < NN; i++) {
        uint64_t msg[3] = {i, tag, value};
        s->w[i] = xkMurmur3x64_64(msg, 3, s->w[i]);
    }
}

template <uint64_t TAG>
int32_t mt64_rehash32(void* st, uint32_t value)
{
    if (value == 0)
        return 0;
    rehash64(static_cast<Mt64*>(st), TAG, value);
    return 1;
}
template <uint64_t TAG>
int32_t mt64_rehash64(void* st, uint64_t value)
{
    if (value == 0)
        return 0;
    rehash64(static_cast<Mt64*>(st), TAG, value);
    return 1;
}

int32_t size_mt64() { return rng_state_size_note("MT64", sizeof(Mt64)); }

}  // namespace

constinit const RngMethodOps rng_ops_mt1998 = MT32_OPS(size_mt1998, fill_1998);
constinit const RngMethodOps rng_ops_mt32 = MT32_OPS(size_mt32, fill_2002);
constinit const RngMethodOps rng_ops_mthybrid = MT32_OPS(size_mthybrid, fill_hybrid);

constinit const RngMethodOps rng_ops_mt64 = {
    .state_size = &size_mt64,
    .dump32 = &rng_dump32<sizeof(Mt64)>,
    .dump64 = &rng_dump64<sizeof(Mt64)>,
    .set_key = &rng_set_key<NN * 8>,
    .seed32 = &rng_seed32_to64<fill64>,
    .seed64 = &rng_seed64_to64<fill64>,
    .seed_double = &rng_seed_double_to64<fill64>,
    .stream32 = &mt64_rehash32<STREAM_TAG>,
    .stream64 = &mt64_rehash64<STREAM_TAG>,
    .stream_double = &rng_stream_double_to<uint64_t, mt64_rehash64<STREAM_TAG>>,
    .counter32 = &mt64_rehash32<COUNTER_TAG>,
    .counter64 = &mt64_rehash64<COUNTER_TAG>,
    .next32 = &rng_next32_of64<Mt64Draw>,
    .next64 = &rng_next64_of64<Mt64Draw>,
    RNG_UNIFORMS64(Mt64Draw),
};

// For tests and benchmarks: the two builds of the regeneration.
void rng_mt_regenerate_plain(uint32_t* words) { regenerate_plain(words); }
bool rng_mt_regenerate_vector(uint32_t* words)
{
    if (!have_avx2())
        return false;
    regenerate_avx2(words);
    return true;
}
