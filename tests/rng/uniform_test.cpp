// The uniform conversions over scripted draws, and the bounded loops over
// states that only draw zeros.
#include <cmath>
#include <deque>

#include "rngfixture.h"

namespace {

// A generator whose draws come from a script; once it runs dry it draws
// `rest`. A reseed is counted and makes it draw `after_reseed`.
struct Script {
    static std::deque<uint64_t> draws;
    static uint64_t rest;
    static uint64_t after_reseed;
    static int drawn;
    static int reseeds;
    static uint64_t next()
    {
        drawn++;
        if (draws.empty())
            return rest;
        uint64_t v = draws.front();
        draws.pop_front();
        return v;
    }
    static uint32_t draw32(void*) { return static_cast<uint32_t>(next()); }
    static uint64_t draw64(void*) { return next(); }
    static void reseed(void*)
    {
        reseeds++;
        rest = after_reseed;
    }
    static void set(std::initializer_list<uint64_t> d, uint64_t r = 0, uint64_t after = 0)
    {
        draws = d;
        rest = r;
        after_reseed = after;
        drawn = 0;
        reseeds = 0;
    }
};
std::deque<uint64_t> Script::draws;
uint64_t Script::rest = 0;
uint64_t Script::after_reseed = 0;
int Script::drawn = 0;
int Script::reseeds = 0;

double call(double (*f)(void*), std::initializer_list<uint64_t> d, uint64_t rest = 0)
{
    Script::set(d, rest);
    return f(nullptr);
}

TEST(Uniforms, ValuesAtTheEdges)
{
    struct {
        const char* slot;
        double (*f)(void*);
        uint64_t x;
        double want;
    } rows[] = {
        {"23", &unit_lower32<Script>, 0, 0.0},
        {"22", &unit_upper32<Script>, 0xFFFFFFFFu, 1.0},
        {"22", &unit_upper32<Script>, 0, 0x1p-32},
        {"21", &unit_mid32<Script>, 0, 0x1p-33},
        {"24", &unit_even32<Script>, 0xFFFFFFFFu, 1.0},
        {"24", &unit_even32<Script>, 1, 0x1p-31},
        {"24", &unit_even32<Script>, 2, 0x1p-31},
        {"20", &unit_open32<Script>, 7, 7 * 0x1p-32},
        {"28", &unit_lower53<Script>, ~0ull, 1 - 0x1p-53},
        {"26", &unit_odd53<Script>, 0, 0x1p-53},
        {"27", &unit_upper53<Script>, 0, 0x1p-53},
        {"29", &unit_even53<Script>, ~0ull, 1.0},
        {"34", &unit_closed64<Script>, ~0ull, 1.0},
        {"33", &unit_lower64<Script>, 0xFFFFFFFFFFFFFC01ull, 0x1p-10},
        {"33", &unit_lower64<Script>, 0xFFFFFFFFFFFFFBFFull, static_cast<double>(0xFFFFFFFFFFFFFBFFull) * 0x1p-64},
        {"31", &unit_odd64<Script>, ~0ull, 1023.0 / 1024.0},
        {"31", &unit_odd64<Script>, 0, 0x1p-64},
        {"32", &unit_upper64<Script>, 0, 0x1p-64},
        {"32", &unit_upper64<Script>, ~0ull, 1.0},
    };
    for (auto& r : rows)
        EXPECT_EQ(call(r.f, {r.x}), r.want) << "slot " << r.slot << " x=" << std::hex << r.x;
    EXPECT_LT(call(&unit_lower64<Script>, {~0ull}), 1.0);
}

TEST(Uniforms, RedrawsAndTheirBounds)
{
    // Slots 20 and 25 redraw zeros, 99 draws in all, then give 0.
    EXPECT_EQ(call(&unit_open32<Script>, {0, 0, 5}), 5 * 0x1p-32);
    EXPECT_EQ(Script::drawn, 3);
    EXPECT_EQ(call(&unit_open32<Script>, {}, 0), 0.0);
    EXPECT_EQ(Script::drawn, 99);
    EXPECT_EQ(call(&unit_open53<Script>, {0x7FF, 1ull << 11}), 0x1p-53);
    EXPECT_EQ(call(&unit_open53<Script>, {}, 0), 0.0);
    EXPECT_EQ(Script::drawn, 99);
    // Slot 30 redraws zeros and products of 1.0.
    EXPECT_EQ(call(&unit_open64<Script>, {0, ~0ull, 0xFFFFFFFFFFFFFE00ull, 5}), 5 * 0x1p-64);
    EXPECT_EQ(Script::drawn, 4);
    // A state that only draws zeros is reseeded instead of looping for ever.
    Script::set({}, 0, 1ull << 63);
    EXPECT_EQ(unit_open64<Script>(nullptr), 0.5);
    EXPECT_EQ(Script::reseeds, 1);
    EXPECT_EQ(Script::drawn, 100);
    Script::set({}, 0, 0);
    EXPECT_EQ(unit_open64<Script>(nullptr), 0.0);
    EXPECT_EQ(Script::drawn, 198);
}

TEST(Uniforms, FullPrecision)
{
    // A first draw of 1: shifted up 63 bits, filled from the next draw.
    Script::set({1, 1ull << 63});
    double v = unit_full<Script>(nullptr);
    EXPECT_GE(v, 0x1p-64);
    EXPECT_LT(v, 0x1p-63);
    EXPECT_EQ(v, 0.75 * 0x1p-63);
    Script::set({1, 0x123456789ABCDEF1ull});
    EXPECT_EQ(unit_full<Script>(nullptr), std::ldexp(static_cast<double>((1ull << 63) | (0x123456789ABCDEF1ull >> 1)), -127));
    Script::set({1, 0});
    EXPECT_EQ(unit_full<Script>(nullptr), 0x1p-64);
    // Zeros lower the exponent by 64 each; after 16 the result is 0.
    Script::set({0, 0, 1ull << 63});
    EXPECT_EQ(unit_full<Script>(nullptr), 0x1p-129);
    Script::set({}, 0);
    EXPECT_EQ(unit_full<Script>(nullptr), 0.0);
    EXPECT_EQ(Script::drawn, 16);
    // The sticky bit decides the rounding: no ties.
    Script::set({(1ull << 63) | (1ull << 10)});
    EXPECT_EQ(unit_full<Script>(nullptr), 0.5 + 0x1p-53);
    // A value that would round up to the next power of two stays below it:
    // the interval is (0, 1), and a first draw of 1 stays below 2^-63.
    struct {
        uint64_t first, second;
        double want;
    } tops[] = {
        {~0ull, 0, 1 - 0x1p-53},
        {0xFFFFFFFFFFFFFC00ull, 0, 1 - 0x1p-53},
        {0xFFFFFFFFFFFFFBFFull, 0, 1 - 0x1p-53},
        {0xFFFFFFFFFFFFF3FFull, 0, 1 - 0x1p-52},
        {1, ~0ull, (1 - 0x1p-53) * 0x1p-63},
        {0, ~0ull, (1 - 0x1p-53) * 0x1p-64},
    };
    for (auto& t : tops) {
        Script::set({t.first, t.second});
        EXPECT_EQ(unit_full<Script>(nullptr), t.want) << std::hex << t.first;
    }
}

using ZeroStates = MmTest;

// States of all zero bits: the integer draws are 0 and the bounded loops
// end; the open interval reseeds and stays inside (0, 1).
TEST_F(ZeroStates, DrawsEndAndStayInTheirIntervals)
{
    tk->set_double("xkbug.RNGSEED", 7);
    for (rng_register_fn reg : {&xkRngRegisterXor64, &xkRngRegisterXor128, &xkRngRegisterXor1024,
                                &xkRngRegisterXor4096, &xkRngRegisterMh3, &xkRngRegisterSubkey64}) {
        Gen g(reg);
        g.seed(1);
        uint8_t zeros[512] = {};
        g.m.ops.set_key(g.state, zeros, static_cast<int64_t>(g.m.key_bytes), 0);
        if (reg == &xkRngRegisterSubkey64)
            g.at<uint64_t>(8) = 0;
        EXPECT_EQ(g.n64(), 0u) << g.m.name;
        EXPECT_EQ(g.m.ops.u64[0](g.state), 0.0) << g.m.name;
        EXPECT_EQ(g.m.ops.full(g.state), 0.0) << g.m.name;
        EXPECT_EQ(g.m.ops.u64[2](g.state), 0x1p-53) << g.m.name;
        double u = g.m.ops.uniform_open(g.state);
        EXPECT_GT(u, 0.0) << g.m.name;
        EXPECT_LT(u, 1.0) << g.m.name;
    }
    for (rng_register_fn reg : {&xkRngRegisterMt32, &xkRngRegisterMt1998, &xkRngRegisterMtHybrid}) {
        Gen g(reg);
        g.seed(1);
        uint8_t zeros[2496] = {};
        g.m.ops.set_key(g.state, zeros, sizeof zeros, 0);
        EXPECT_NE(g.n32(), 0u) << g.m.name;
        double u = g.m.ops.uniform_classic(g.state);
        EXPECT_GT(u, 0.0);
        EXPECT_LT(u, 1.0);
    }
}

}  // namespace
