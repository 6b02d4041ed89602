// Generator values fixed by the published algorithms and by the framework's
// own choices, for every method.
#include <cmath>
#include <vector>

#include "rngfixture.h"

void rng_threefry2x32(const uint32_t counter[2], const uint32_t key[2], uint32_t out[2]);
void rng_threefry2x64(const uint64_t counter[2], const uint64_t key[2], uint64_t out[2]);
void rng_threefry4x64(const uint64_t counter[4], const uint64_t key[4], uint64_t out[4]);
void rng_mt_regenerate_plain(uint32_t* words);
bool rng_mt_regenerate_vector(uint32_t* words);

namespace {

using Generators = MmTest;

TEST_F(Generators, MersenneTwister32)
{
    struct {
        rng_register_fn reg;
        uint32_t seed;
        std::vector<uint32_t> want;
    } rows[] = {
        {&xkRngRegisterMt1998, 4357, {3510405877u, 4290933890u, 2191955339u}},
        {&xkRngRegisterMt32, 5489, {3499211612u, 581869302u, 3890346734u}},
        {&xkRngRegisterMtHybrid, 8192, {}},
        {&xkRngRegisterMtHybrid, 8193, {}},
    };
    for (auto& r : rows) {
        Gen g(r.reg);
        g.seed(r.seed);
        // MTHYBRID follows MT32 when the low 13 bits are 0, else MT1998.
        Gen ref(r.reg != &xkRngRegisterMtHybrid  ? r.reg
                : (r.seed & 0x1FFF) == 0          ? &xkRngRegisterMt32
                                                  : &xkRngRegisterMt1998);
        ref.seed(r.seed);
        for (size_t i = 0; i < 700; i++) {
            uint32_t v = g.n32();
            if (i < r.want.size()) {
                EXPECT_EQ(v, r.want[i]) << g.m.name << " " << i;
            }
            EXPECT_EQ(v, ref.n32()) << g.m.name << " " << i;
        }
    }
    Gen mt(&xkRngRegisterMt32);
    mt.seed(5489);
    uint32_t v = 0;
    for (int i = 0; i < 10000; i++)
        v = mt.n32();
    EXPECT_EQ(v, 4123659995u);
    // Slot 15 pairs two draws; slot 17 is the classic uniform.
    Gen a(&xkRngRegisterMt32), b(&xkRngRegisterMt32);
    a.seed(5489);
    b.seed(5489);
    EXPECT_EQ(a.n64(), (uint64_t{3499211612u} << 32) | 581869302u);
    b.n32();
    b.n32();
    EXPECT_EQ(a.m.ops.uniform_classic(a.state), 3890346734u * (0x1p-32 - 0x1p-85));
    b.n32();
    EXPECT_EQ(a.m.ops.uniform(a.state), b.n32() * 0x1p-32);
    EXPECT_EQ(a.m.ops.u32[1](a.state), (b.n32() + 0.5) * 0x1p-32);
    EXPECT_EQ(a.m.ops.u32[2](a.state), (b.n32() + 1.0) * 0x1p-32);
    EXPECT_EQ(a.m.ops.uniform_open, a.m.ops.u32[3]);
    EXPECT_EQ(a.m.ops.u32[0], a.m.ops.u32[3]);
}

TEST_F(Generators, MersenneTwisterRegenerationBuildsAgree)
{
    uint32_t a[624], b[624];
    for (uint32_t i = 0; i < 624; i++)
        a[i] = b[i] = i * 2654435761u + 12345u;
    for (int round = 0; round < 5; round++) {
        rng_mt_regenerate_plain(a);
        if (!rng_mt_regenerate_vector(b))
            GTEST_SKIP() << "this processor has no 256-bit vector instructions";
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << round;
    }
}

TEST_F(Generators, MersenneTwister64)
{
    Gen g(&xkRngRegisterMt64);
    g.seed(5489);
    EXPECT_EQ(g.n64(), 14514284786278117030ull);
    Gen h(&xkRngRegisterMt64);
    h.seed(5489);
    EXPECT_EQ(h.n32(), static_cast<uint32_t>(14514284786278117030ull >> 32));
    EXPECT_EQ(g.at<uint32_t>(312 * 8), 1u);   // the index after one draw
}

TEST_F(Generators, MersenneTwisterSeedsStreamsAndKeys)
{
    tk->set_double("xkbug.RNGSEED", 5489);
    Gen d(&xkRngRegisterMt32), r(&xkRngRegisterMt32);
    d.seed(0);   // the default seed
    r.seed(5489);
    EXPECT_EQ(d.n32(), r.n32());
    // Slot 5 folds the halves; slot 6 takes a whole double as it is.
    Gen f(&xkRngRegisterMt32);
    f.m.ops.seed64(f.state, (uint64_t{0x1234} << 32) | (5489u ^ 0x1234u));
    EXPECT_EQ(f.n32(), 3499211612u);
    f.m.ops.seed_double(f.state, 5489.0);
    EXPECT_EQ(f.n32(), 3499211612u);

    // Streams and counters rehash every word with MurmurHash3 and keep the index.
    Gen s(&xkRngRegisterMt32);
    s.seed(5489);
    uint32_t w0 = s.at<uint32_t>(0);
    EXPECT_EQ(s.m.ops.stream32(s.state, 0), 0);
    EXPECT_EQ(s.at<uint32_t>(0), w0);
    EXPECT_EQ(s.m.ops.stream32(s.state, 7), 2);
    uint32_t msg[3] = {0, 15, 7};
    EXPECT_EQ(s.at<uint32_t>(0), xkMurmur3x86_32(msg, 12, w0));
    EXPECT_EQ(s.m.ops.stream64(s.state, uint64_t{1} << 32), 1);   // low half 0: nothing
    EXPECT_EQ(s.at<uint32_t>(0), xkMurmur3x86_32(msg, 12, w0));
    uint32_t w1 = s.at<uint32_t>(4);
    EXPECT_EQ(s.m.ops.counter32(s.state, 9), 2);
    uint32_t cmsg[3] = {1, 255, 9};
    EXPECT_EQ(s.at<uint32_t>(4), xkMurmur3x86_32(cmsg, 12, w1));
    EXPECT_EQ(s.m.ops.counter32(s.state, 0), 2);
    EXPECT_EQ(s.m.ops.stream_double(s.state, 4294967296.0 + 3), 1);
    EXPECT_EQ(s.at<uint32_t>(2500 - 4), 624u);

    // A key of 8 bytes fills the whole state by finalising; the index stays.
    Gen k(&xkRngRegisterMt32);
    k.seed(1);
    k.n32();
    uint64_t word = 0x0123456789ABCDEFull;
    EXPECT_EQ(k.m.ops.set_key(k.state, &word, 8, 0), 4);
    EXPECT_EQ(k.at<uint64_t>(0), word);
    EXPECT_EQ(k.at<uint64_t>(8), rng_fmix64(word));
    EXPECT_EQ(k.at<uint64_t>(311 * 8), rng_fmix64(k.at<uint64_t>(310 * 8)));
    EXPECT_EQ(k.at<uint32_t>(2496), 1u);
}

TEST_F(Generators, KeyContract)
{
    Gen g(&xkRngRegisterXor1024);
    g.seed(1);
    g.n64();
    uint8_t bytes[200];
    for (int i = 0; i < 200; i++)
        bytes[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(g.m.ops.set_key(g.state, bytes, 0, 0), 0);
    EXPECT_EQ(g.m.ops.set_key(g.state, bytes, 200, 0), 2);
    EXPECT_EQ(std::memcmp(g.state, bytes, 128), 0);
    EXPECT_EQ(g.at<int32_t>(128), 1);   // the index stays
    EXPECT_EQ(g.m.ops.set_key(g.state, bytes, 3, 2), 3);
    EXPECT_EQ(g.state[126], 1);
    EXPECT_EQ(g.state[127], 2);
    EXPECT_EQ(g.m.ops.set_key(g.state, bytes, 5, 1), 1);
    EXPECT_EQ(g.state[4], 5);
    EXPECT_EQ(g.state[5], 3);   // left from before
    EXPECT_EQ(g.m.ops.set_key(g.state, bytes, 3, 0), 4);
    EXPECT_EQ(g.at<uint64_t>(0), 0x030201u);
    EXPECT_EQ(g.at<uint64_t>(8), rng_fmix64(0x030201u));
    EXPECT_EQ(g.m.ops.set_key(g.state, bytes, 17, 0), 4);   // two whole words
    EXPECT_EQ(g.at<uint64_t>(16), rng_fmix64(g.at<uint64_t>(0)));
    EXPECT_EQ(g.at<uint64_t>(24), rng_fmix64(g.at<uint64_t>(8)));
    // Methods without a key refuse bytes.
    Gen x(&xkRngRegisterXorgens);
    EXPECT_EQ(x.m.ops.set_key(x.state, bytes, 0, 0), 0);
    EXPECT_EQ(x.m.ops.set_key(x.state, bytes, 1, 0), -1);
}

TEST_F(Generators, Ranuni)
{
    Gen g(&xkRngRegisterRanuni);
    EXPECT_EQ(g.m.ops.seed32(g.state, 1), 2);
    EXPECT_EQ(g.n32(), 397204094u);
    Gen c(&xkRngRegisterRanuni);
    c.seed(1);
    EXPECT_EQ(c.m.ops.uniform_classic(c.state), 397204094.0 / 2147483647.0);
    // A state above 2^31-1 stays until the first step.
    c.m.ops.seed32(c.state, 0x80000000u);
    EXPECT_EQ(c.at<uint32_t>(0), 0x80000000u);
    EXPECT_LT(c.n32(), 2147483647u);
    // Seeds that are multiples of 2^31-1 take the default seed.
    tk->set_double("xkbug.RNGSEED", 5);
    for (uint32_t bad : {2147483647u, 4294967294u}) {
        c.m.ops.seed32(c.state, bad);
        EXPECT_EQ(c.at<uint32_t>(0), 5u) << bad;
    }
    c.m.ops.seed64(c.state, 0x7FFFFFFFull);
    EXPECT_EQ(c.at<uint32_t>(0), 5u);
    // The 32-bit conversions stay below 0.5.
    c.seed(1);
    for (int i = 0; i < 1000; i++) {
        double u = c.m.ops.u32[2](c.state);
        ASSERT_LT(u, 0.5);
        ASSERT_GT(u, 0.0);
    }
    Gen p(&xkRngRegisterRanuni);
    p.seed(1);
    EXPECT_EQ(p.n64(), (uint64_t{397204094u} << 32) | static_cast<uint32_t>(397204094ull * 397204094ull % 2147483647ull));
}

TEST_F(Generators, Threefry)
{
    uint32_t zero32[2] = {0, 0}, out32[2];
    rng_threefry2x32(zero32, zero32, out32);
    EXPECT_EQ(out32[0], 0x6B200159u);
    EXPECT_EQ(out32[1], 0x99BA4EFEu);
    // The block functions against the Random123 known answers.
    uint64_t zero64[4] = {0, 0, 0, 0}, out64[4];
    rng_threefry2x64(zero64, zero64, out64);
    EXPECT_EQ(out64[0], 0xC2B6E3A8C2C69865ull);
    EXPECT_EQ(out64[1], 0x6F81ED42F350084Dull);
    rng_threefry4x64(zero64, zero64, out64);
    EXPECT_EQ(out64[0], 0x09218EBDE6C85537ull);
    EXPECT_EQ(out64[1], 0x55941F5266D86105ull);
    EXPECT_EQ(out64[2], 0x4BD25E16282434DCull);
    EXPECT_EQ(out64[3], 0xEE29EC846BD2E40Bull);

    Gen a(&xkRngRegisterFry2x32);
    a.seed(1);
    EXPECT_EQ(a.n32(), 0x826B67FDu);
    EXPECT_EQ(a.n32(), 0x6DCDC2BBu);
    EXPECT_EQ(a.at<uint32_t>(0), 2u);   // counter moved on after W draws
    Gen b(&xkRngRegisterFry2x32);
    b.seed(1);
    EXPECT_EQ(b.n64(), 0x826B67FD6DCDC2BBull);
    Gen s(&xkRngRegisterFry2x32);
    s.seed(1);
    s.m.ops.stream32(s.state, 1);
    EXPECT_EQ(s.n32(), 0xC08A1551u);
    Gen c(&xkRngRegisterFry2x32);
    c.seed(1);
    c.m.ops.counter32(c.state, 1);
    EXPECT_EQ(c.n32(), 0x6A4A08C3u);
    Gen x(&xkRngRegisterFry2x64);
    x.seed(1);
    EXPECT_EQ(x.n64(), 0xA6091ABD7B1BB83Full);
    Gen y(&xkRngRegisterFry4x64);
    y.seed(1);
    EXPECT_EQ(y.n64(), 0x90CF21ADE14CB4E7ull);

    // Stream number 5 twice restores k1; 0 changes nothing.
    Gen t(&xkRngRegisterFry2x64);
    t.seed(1);
    uint64_t k1 = t.at<uint64_t>(24);
    t.m.ops.stream64(t.state, 5);
    EXPECT_NE(t.at<uint64_t>(24), k1);
    t.m.ops.stream64(t.state, 5);
    EXPECT_EQ(t.at<uint64_t>(24), k1);
    t.m.ops.stream64(t.state, 0);
    t.m.ops.counter64(t.state, 0);
    EXPECT_EQ(t.at<uint64_t>(24), k1);
    // Halves that cancel in slot 5 give v = 0, not the default seed.
    Gen h(&xkRngRegisterFry2x32);
    h.m.ops.seed64(h.state, 0x0000000700000007ull);
    EXPECT_EQ(h.at<uint32_t>(8), 0u);
    EXPECT_EQ(h.at<uint32_t>(12), rng_fmix32(1));
    // The counter carries from c0 into c1.
    Gen w(&xkRngRegisterFry2x32);
    w.seed(1);
    w.at<uint32_t>(0) = 0xFFFFFFFFu;
    w.n32();
    w.n32();
    EXPECT_EQ(w.at<uint32_t>(0), 0u);
    EXPECT_EQ(w.at<uint32_t>(4), 1u);
    // The key operation sets the counter words.
    Gen z(&xkRngRegisterFry2x32);
    z.seed(1);
    uint8_t zeros[8] = {};
    EXPECT_EQ(z.m.ops.set_key(z.state, zeros, 8, 0), 2);
    uint32_t key[2] = {1, rng_fmix32(2)}, blk[2];
    rng_threefry2x32(zero32, key, blk);
    EXPECT_EQ(z.n32(), blk[0]);
}

// A position counts words: block position / W, word position % W.
TEST_F(Generators, ThreefryPositions)
{
    struct {
        rng_register_fn reg;
        int words;
    } rows[] = {{&xkRngRegisterFry2x32, 2}, {&xkRngRegisterFry2x64, 2}, {&xkRngRegisterFry4x64, 4}};
    for (auto& r : rows) {
        Gen fresh(r.reg);
        fresh.seed(1);
        std::vector<uint64_t> seq;   // words of blocks 1, 2, 3
        for (int i = 0; i < 3 * r.words; i++)
            seq.push_back(r.words == 2 && fresh.m.output_bits == 32 ? fresh.n32() : fresh.n64());
        for (int pos = r.words; pos < 4 * r.words; pos++) {
            Gen g(r.reg);
            g.seed(1);
            if (g.m.output_bits == 32)
                g.m.ops.position32(g.state, static_cast<uint32_t>(pos));
            else
                g.m.ops.position64(g.state, static_cast<uint64_t>(pos));
            uint64_t v = g.m.output_bits == 32 ? g.n32() : g.n64();
            EXPECT_EQ(v, seq[static_cast<size_t>(pos - r.words)]) << g.m.name << " " << pos;
        }
    }
    Gen m(&xkRngRegisterMt32);
    EXPECT_EQ(m.m.ops.position32, nullptr);
    EXPECT_EQ(m.m.ops.position64, nullptr);
}

TEST_F(Generators, Xorshift)
{
    struct {
        rng_register_fn reg;
        std::vector<uint64_t> want;
    } rows[] = {
        {&xkRngRegisterXor64, {0x47E4CE4B896CDD1Dull}},
        {&xkRngRegisterXor128, {0x757E544F2F528FA6ull, 0xD5723CC46244646Full, 0x5D0E25519E620967ull}},
        {&xkRngRegisterXor1024, {0x552C55D2F301432Eull}},
        {&xkRngRegisterXor4096, {0x690EA46FFA27E202ull}},
        {&xkRngRegisterXorgens, {0xB85497A9BA510638ull, 0x68E100A50B479104ull, 0xD00B063876877E9Dull}},
        {&xkRngRegisterMh3, {0xB456BCFC34C2CB2Cull, 0x7D6E4AC38B2B1BE2ull, 0x5AB63AD545355D6Aull}},
        {&xkRngRegisterPcg64i, {0xBA08BEAB5FB702DFull}},
    };
    for (auto& r : rows) {
        Gen g(r.reg);
        g.m.ops.seed64(g.state, 1);
        for (size_t i = 0; i < r.want.size(); i++)
            EXPECT_EQ(g.n64(), r.want[i]) << g.m.name << " " << i;
        Gen h(r.reg);
        h.m.ops.seed64(h.state, 1);
        EXPECT_EQ(h.n32(), static_cast<uint32_t>(r.want[0] >> 32)) << h.m.name;
    }
    Gen xg(&xkRngRegisterXorgens);
    xg.seed(1);
    xg.n64();
    xg.n64();
    xg.n64();
    EXPECT_EQ(xg.at<int32_t>(520), 2);
    // The index of the long generators wraps.
    Gen x(&xkRngRegisterXor1024);
    x.seed(1);
    for (int i = 1; i <= 17; i++) {
        x.n64();
        EXPECT_EQ(x.at<int32_t>(128), i % 16);
    }
    Gen y(&xkRngRegisterXor4096);
    y.seed(1);
    for (int i = 0; i < 64; i++)
        y.n64();
    EXPECT_EQ(y.at<int32_t>(512), 0);
}

TEST_F(Generators, Pcg)
{
    Gen a(&xkRngRegisterPcg32i);
    a.seed(1);
    EXPECT_EQ(a.at<uint32_t>(0), 2u);
    EXPECT_EQ(a.at<uint32_t>(4), 1u);
    EXPECT_EQ(a.n32(), 0xA3FE8633u);
    EXPECT_EQ(a.n32(), 0x0E48FB8Fu);
    EXPECT_EQ(a.n32(), 0x9345BAE3u);
    Gen b(&xkRngRegisterPcg32i);
    b.seed(1);
    EXPECT_EQ(b.n64(), 0xA3FE86330E48FB8Full);
    Gen c(&xkRngRegisterPcg32i);
    c.seed(1);
    c.m.ops.stream32(c.state, 0);
    EXPECT_EQ(c.at<uint32_t>(4), 1u);
    c.m.ops.stream32(c.state, 1);
    EXPECT_EQ(c.at<uint32_t>(4), 3u);
    EXPECT_EQ(c.at<uint32_t>(0), 4u);
    EXPECT_EQ(c.n32(), 0x71722A61u);
    c.m.ops.stream64(c.state, 0x100000000ull);
    EXPECT_EQ(c.at<uint32_t>(4), 3u);
    Gen d(&xkRngRegisterPcg64i);
    d.seed(1);
    d.m.ops.stream64(d.state, 1);
    EXPECT_EQ(d.n64(), 0x3E6D049F923641B5ull);
    Gen e(&xkRngRegisterPcg32i);
    e.m.ops.seed64(e.state, 0x0000000900000009ull);
    EXPECT_EQ(e.at<uint32_t>(0), 1u);
}

TEST_F(Generators, SubtractKey)
{
    Gen a(&xkRngRegisterSubkey32);
    a.at<uint32_t>(0) = 10;
    a.at<uint32_t>(4) = 3;
    EXPECT_EQ(a.n32(), 7u);
    EXPECT_EQ(a.n32(), 4u);
    EXPECT_EQ(a.n32(), 1u);
    EXPECT_EQ(a.n32(), 0xFFFFFFFEu);
    a.at<uint32_t>(0) = 10;
    EXPECT_EQ(a.n64(), 0x0000000700000004ull);
    EXPECT_EQ(a.at<uint32_t>(0), 4u);
    a.m.ops.stream64(a.state, 0x100000000ull);
    EXPECT_EQ(a.at<uint32_t>(4), 0u);
    a.m.ops.stream32(a.state, 0);
    EXPECT_EQ(a.at<uint32_t>(4), 0u);
    a.m.ops.stream32(a.state, 6);
    EXPECT_EQ(a.at<uint32_t>(4), 6u);
    a.m.ops.stream_double(a.state, 4294967296.0);
    EXPECT_EQ(a.at<uint32_t>(4), 0u);
    // Seeding writes x only; a zero key gives the seed value every time.
    a.seed(77);
    EXPECT_EQ(a.n32(), 77u);
    Gen b(&xkRngRegisterSubkey64);
    b.at<uint64_t>(0) = (uint64_t{1} << 32) + 5;
    b.at<uint64_t>(8) = 5;
    EXPECT_EQ(b.n32(), 1u);
}

TEST_F(Generators, Mh3AndPcgAndSubkeyShareSeedRules)
{
    // A seed of 0 gives the default seed; never a zero state.
    tk->set_double("xkbug.RNGSEED", 3);
    for (rng_register_fn reg : {&xkRngRegisterXor64, &xkRngRegisterMh3, &xkRngRegisterSubkey64,
                                &xkRngRegisterXor128, &xkRngRegisterXorgens, &xkRngRegisterMt64}) {
        Gen a(reg), b(reg);
        a.m.ops.seed64(a.state, 0);
        b.m.ops.seed64(b.state, 3);
        EXPECT_EQ(a.n64(), b.n64()) << a.m.name;
        Gen c(reg), d(reg);
        c.m.ops.seed_double(c.state, -4.0);
        d.m.ops.seed32(d.state, 0);
        EXPECT_EQ(c.n64(), d.n64()) << c.m.name;
        uint64_t missing = 0xFFFFD10000000000ull;
        double m;
        std::memcpy(&m, &missing, 8);
        Gen e(reg);
        e.m.ops.seed_double(e.state, m);
        Gen f(reg);
        f.m.ops.seed64(f.state, 3);
        EXPECT_EQ(e.n64(), f.n64()) << e.m.name;
    }
}

}  // namespace
