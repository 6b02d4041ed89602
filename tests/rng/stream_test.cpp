// Streams, method selection, the framework's messages and the seed sources.
#include <cmath>
#include <string>
#include <vector>

#include "rngfixture.h"

namespace {

struct RngTest : MmTest {
    bool hardware() { return tk->real_rdrand(); }
    RngStream* create(uint64_t seed = 0, uint64_t stream = 0)
    {
        return xkRngStreamCreate(main_handle(), seed, stream);
    }
    std::string selected(const void* name, int32_t length, uint64_t flags, uint32_t* status = nullptr)
    {
        RngMethod m{};
        uint32_t st = xkRngSelectMethod(name, length, &m, flags);
        if (status)
            *status = st;
        return m.name;
    }
    std::vector<hostsim::TkMessage> with_code(uint32_t code)
    {
        std::vector<hostsim::TkMessage> out;
        for (auto& m : tk->messages)
            if (m.code == code)
                out.push_back(m);
        return out;
    }
};

TEST_F(RngTest, RegistrationTable)
{
    struct Row {
        rng_register_fn reg;
        const char* name;
        const char* description;
        uint64_t key_bytes;
        uint32_t output_bits;
        uint64_t flags, seed, stream;
        const char* slots;   // 36 characters: o own, n no-op, - null
    } rows[] = {
        {&xkRngRegisterFry2x32, "FRY2X32", "32-bit Random123 2x32-bit Threefry", 8, 32, 0xAAF, 0xFFFFFFFF, 0xFFFFFFFF,
         "ooooooooooooo-ooo-o-ooooo-----------"},
        {&xkRngRegisterFry2x64, "FRY2X64", "64-bit Random123 2x64-bit Threefry", 16, 64, 0x1557, ~0ull, ~0ull,
         "oooooooooooo-oooo-o------oooooooooooo"},
        {&xkRngRegisterFry4x64, "FRY4X64", "64-bit Random123 4x64-bit Threefry", 32, 64, 0x1557, ~0ull, ~0ull,
         "oooooooooooo-oooo-o------oooooooooooo"},
        {&xkRngRegisterMh3, "MH3", "64-bit Murmur Hash 3", 8, 64, 0x1017, ~0ull, 0,
         "ooooooonnnnn--ooo-o------oooooooooooo"},
        {&xkRngRegisterMt1998, "MT1998", "1998 32-bit Mersenne Twister", 2496, 32, 0x28AF, 0xFFFFFFFF, 0xFFFFFFFF,
         "oooooooooooo--ooooo-ooooo-----------"},
        {&xkRngRegisterMt32, "MT32", "2002 32-bit Mersenne Twister", 2496, 32, 0x28AF, 0xFFFFFFFF, 0xFFFFFFFF,
         "oooooooooooo--ooooo-ooooo-----------"},
        {&xkRngRegisterMt64, "MT64", "64-bit Mersenne Twister", 2496, 64, 0x1157, ~0ull, ~0ull,
         "oooooooooooo--ooo-o------ooooooooooo"},
        {&xkRngRegisterMtHybrid, "MTHYBRID", "Hybrid 1998/2002 32-bit Mersenne Twister", 2496, 32, 0x28AF,
         0xFFFFFFFF, 0xFFFFFFFF, "oooooooooooo--ooooo-ooooo-----------"},
        {&xkRngRegisterPcg32i, "PCG32I", "32-bit PCG32i", 4, 32, 0x82F, 0xFFFFFFFF, 0x7FFFFFFF,
         "oooooooooonn--ooo-o-ooooo-----------"},
        {&xkRngRegisterPcg64i, "PCG64I", "64-bit PCG64i", 8, 64, 0x1057, ~0ull, 0x7FFFFFFFFFFFFFFF,
         "oooooooooonn--ooo-o------ooooooooooo"},
        {&xkRngRegisterRanuni, "RANUNI", "", 0, 31, 0x80A, 0xFFFFFFFF, 0,
         "ooooooonnnnn--ooooo-ooooo-----------"},
        {&xkRngRegisterRdrand, "RDRAND", "Intel RDRAND", 0, 0, 0x3801, 0, 0,
         "ooonnnonnnnn--ooo-o-oooooooooooooooo"},
        {&xkRngRegisterSubkey32, "SUBKEY32", "32-bit Subtract Key", 4, 32, 0x82F, 0xFFFFFFFF, 0xFFFFFFFF,
         "oooooooooonn--ooo-o-ooooo-----------"},
        {&xkRngRegisterSubkey64, "SUBKEY64", "64-bit Subtract Key", 8, 64, 0x1057, ~0ull, ~0ull,
         "oooooooooonn--ooo-o------ooooooooooo"},
        {&xkRngRegisterXor1024, "XOR1024", "64-bit XORSHIFT1024*", 128, 64, 0x1017, ~0ull, 0,
         "ooooooonnnnn--ooo-o------ooooooooooo"},
        {&xkRngRegisterXor128, "XOR128", "64-bit XORSHIFT128+", 16, 64, 0x1017, ~0ull, 0,
         "ooooooonnnnn--ooo-o------ooooooooooo"},
        {&xkRngRegisterXor4096, "XOR4096", "64-bit XORSHIFT4096*", 512, 64, 0x1017, ~0ull, 0,
         "ooooooonnnnn--ooo-o------ooooooooooo"},
        {&xkRngRegisterXor64, "XOR64", "64-bit XORSHIFT64*", 8, 64, 0x1017, ~0ull, 0,
         "ooooooonnnnn--ooo-o------ooooooooooo"},
        {&xkRngRegisterXorgens, "XORGENS", "64-bit XORGENS*", 0, 64, 0x1013, ~0ull, 0,
         "ooooooonnnnn--ooo-o------ooooooooooo"},
    };
    for (const Row& r : rows) {
        alignas(RngMethod) uint8_t raw[sizeof(RngMethod)];
        std::memset(raw, 0xEE, sizeof raw);
        RngMethod& m = *reinterpret_cast<RngMethod*>(raw);
        r.reg(&m);
        EXPECT_EQ(std::string(m.name), r.name);
        EXPECT_EQ(std::u16string(m.wide_name), u16(r.name));
        EXPECT_EQ(std::string(m.description), r.description) << r.name;
        EXPECT_EQ(m.name_capacity, 16u);
        EXPECT_EQ(m.description_capacity, 64u);
        EXPECT_EQ(m.key_bytes, r.key_bytes) << r.name;
        EXPECT_EQ(m.key_bits, r.key_bytes * 8) << r.name;
        EXPECT_EQ(m.output_bits, r.output_bits) << r.name;
        EXPECT_EQ(m.flags, r.flags) << r.name;
        EXPECT_EQ(m.largest_seed, r.seed) << r.name;
        EXPECT_EQ(m.largest_stream, r.stream) << r.name;
        void* slots[36];
        std::memcpy(slots, &m.ops, sizeof slots);
        std::string got;
        for (int i = 0; i < 36; i++)
            got += slots[i] ? 'o' : '-';
        std::string want = r.slots;
        for (char& c : want)
            if (c == 'n')
                c = 'o';
        want.resize(36, '-');
        EXPECT_EQ(got, want) << r.name;
    }
}

TEST_F(RngTest, NoOpSlotsAnswerZeroAndStateSizesAreNoted)
{
    show_all_messages(*tk);
    Gen g(&xkRngRegisterXor64);
    EXPECT_EQ(g.m.ops.stream32(g.state, 5), 0);
    EXPECT_EQ(g.m.ops.counter64(g.state, 5), 0);
    EXPECT_EQ(g.m.ops.stream_double(g.state, 5.0), 0);
    tk->messages.clear();
    EXPECT_EQ(g.m.ops.state_size(), 8);
    ASSERT_EQ(tk->messages.size(), 1u);
    EXPECT_EQ(tk->messages[0].code, 0x8C7FE852u);
    EXPECT_EQ(tk->messages[0].text, "The state of the random-number method XOR64 takes 8 bytes.");
    struct {
        rng_register_fn reg;
        int32_t size;
    } sizes[] = {{&xkRngRegisterMt32, 2500},   {&xkRngRegisterMt64, 2504},    {&xkRngRegisterXor1024, 136},
                 {&xkRngRegisterXor4096, 520}, {&xkRngRegisterXorgens, 528}, {&xkRngRegisterFry2x32, 28},
                 {&xkRngRegisterFry2x64, 56},  {&xkRngRegisterFry4x64, 104}, {&xkRngRegisterRanuni, 4},
                 {&xkRngRegisterRdrand, 0},    {&xkRngRegisterPcg64i, 16},   {&xkRngRegisterSubkey32, 8}};
    for (auto& s : sizes) {
        Gen x(s.reg);
        EXPECT_EQ(x.m.ops.state_size(), s.size) << x.m.name;
    }
    // Registration notes name the description, RANUNI its name.
    tk->messages.clear();
    Gen r(&xkRngRegisterRanuni);
    Gen p(&xkRngRegisterPcg64i);
    ASSERT_EQ(tk->messages.size(), 2u);
    EXPECT_EQ(tk->messages[0].text, "Random-number method registered: RANUNI.");
    EXPECT_EQ(tk->messages[1].text, "Random-number method registered: 64-bit PCG64i.");
    EXPECT_EQ(tk->messages[1].level, 2);
}

TEST_F(RngTest, Dumps)
{
    Gen g(&xkRngRegisterPcg32i);
    g.seed(1);
    g.m.ops.dump32(g.state, 8);
    g.m.ops.dump32(g.state, 1);
    g.m.ops.dump64(g.state, 5);
    Gen x(&xkRngRegisterXor1024);
    x.seed(1);
    x.m.ops.dump64(x.state, 100);
    std::vector<std::string> lines = print_texts(0);
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "     0:        2    1:        1");
    EXPECT_EQ(lines[1], "     0:        2");
    EXPECT_EQ(lines[2], "        Further elements omitted.");
    EXPECT_EQ(lines[3], "     0:        100000002");
    // 17 words: four lines of four and one of one.
    EXPECT_EQ(lines[4].substr(0, 26), "     0:                1  ");
    EXPECT_EQ(lines[8], "    16:                0");
    Gen r(&xkRngRegisterRdrand);
    tk->prints.clear();
    r.m.ops.dump32(r.state, 10);
    r.m.ops.dump64(r.state, 10);
    EXPECT_TRUE(tk->prints.empty());
}

TEST_F(RngTest, SelectionByName)
{
    tk->rdrand = hardware() ? 1 : 0;
    struct {
        const char* name;
        const char* method;
    } rows[] = {
        {"mt", "MT64"},          {" mt", "MT64"},           {"mt ", "MT64"},          {"Mt", "MT64"},
        {"MT1998", "MT1998"},    {"mt2002", "MT32"},         {"MT32", "MT32"},         {"MT64", "MT64"},
        {"MTHYBRID", "MTHYBRID"}, {"MH3", "MH3"},            {"FRY2X32", "FRY2X32"},   {"FRY2X64", "FRY2X64"},
        {"FRY4X64", "FRY4X64"},  {"PCG", "PCG64I"},         {"PCG32I", "PCG32I"},     {"pcg64i", "PCG64I"},
        {"SUBKEY32", "SUBKEY32"}, {"SUBKEY64", "SUBKEY64"}, {"TF", "FRY4X64"},        {"TF4", "FRY4X64"},
        {"THREEFRY", "FRY4X64"}, {"THREEFRY4X64", "FRY4X64"}, {"TF2", "FRY2X64"},     {"THREEFRY2X64", "FRY2X64"},
        {"THREEFRY2X32", "FRY2X32"}, {"XOR64", "XOR64"},    {"XOR128", "XOR128"},     {"XOR1024", "XOR1024"},
        {"XOR4096", "XOR4096"},
    };
    for (auto& r : rows) {
        uint32_t st = 1;
        EXPECT_EQ(selected(r.name, -1, 0, &st), r.method) << r.name;
        EXPECT_EQ(st, 0u) << r.name;
        std::u16string w = u16(r.name);
        EXPECT_EQ(selected(w.c_str(), -1, RNG_NAME_WIDE, &st), r.method) << r.name;
        EXPECT_EQ(selected(w.c_str(), static_cast<int32_t>(w.size()), RNG_NAME_WIDE), r.method) << r.name;
    }
    for (const char* bad : {"MTHYBRIDX", "MTHYBRID12345678", "M T", "QQ", "XOR", "MT 64"}) {
        uint32_t st = 0;
        EXPECT_EQ(selected(bad, -1, 0, &st), "MTHYBRID") << bad;
        EXPECT_EQ(st, 0x8C7FE80Bu) << bad;
    }
    // A 16-character name is not recognised even when it begins with one.
    uint32_t st = 0;
    EXPECT_EQ(selected("MT64            x", 16, 0, &st), "MT64");
    EXPECT_EQ(selected("MT64XXXXXXXXXXXX", 16, 0, &st), "MTHYBRID");
    EXPECT_EQ(st, 0x8C7FE80Bu);
    // A null record does nothing.
    EXPECT_EQ(xkRngSelectMethod("MT64", -1, nullptr, 0), 0u);
}

TEST_F(RngTest, SelectionBySettingAndHardware)
{
    tk->rdrand = 0;
    uint32_t st = 1;
    EXPECT_EQ(selected(nullptr, -1, 0, &st), "MTHYBRID");
    EXPECT_EQ(st, 0u);
    tk->set_text("OSENV.TOV_RNG_METHOD", "xor64");
    EXPECT_EQ(selected(nullptr, -1, 0), "XOR64");
    EXPECT_EQ(selected("   ", -1, 0), "XOR64");
    // Host texts come blank-padded.
    tk->set_text("OSENV.TOV_RNG_METHOD", "MT32      ");
    EXPECT_EQ(selected(nullptr, -1, 0, &st), "MT32");
    EXPECT_EQ(st, 0u);
    tk->set_text("OSENV.TOV_RNG_METHOD", "THREEFRY2X64XYZ");   // 15 characters, 14 read
    EXPECT_EQ(selected(nullptr, -1, 0, &st), "MTHYBRID");
    EXPECT_EQ(st, 0x8C7FE80Bu);
    tk->set_text("OSENV.TOV_RNG_METHOD", "");
    EXPECT_EQ(selected(nullptr, -1, 0, &st), "MTHYBRID");
    EXPECT_EQ(st, 0u);
    // Without the instruction the keyless methods fall back.
    for (const char* name : {"RANUNI", "XORGENS", "RDRAND", "HARD", "HARDWARE", "TRNG"}) {
        EXPECT_EQ(selected(name, -1, 0, &st), "MTHYBRID") << name;
        EXPECT_EQ(st, 0x8C7FE80Cu) << name;
    }
    tk->offer_processor = true;
    tk->processor_status = 1;   // a record the host marks as not valid
    tk->rdrand = 1;
    EXPECT_EQ(xkHasHardwareRandom(), 0);
    tk->processor_status = 0;
    tk->offer_processor = false;
    EXPECT_EQ(xkHasHardwareRandom(), 0);
    tk->offer_processor = true;
    if (!hardware())
        GTEST_SKIP() << "this processor has no RDRAND instruction";
    tk->rdrand = -1;
    EXPECT_EQ(xkHasHardwareRandom(), 1);
    for (const char* name : {"RANUNI", "XORGENS", "RDRAND", "HARD", "HARDWARE", "TRNG"}) {
        EXPECT_EQ(selected(name, -1, 0, &st), std::string(name).find('R') == 0 && name[1] == 'A' ? "RANUNI"
                                                  : name[0] == 'X'                                   ? "XORGENS"
                                                                                                     : "RDRAND")
            << name;
        EXPECT_EQ(st, 0u);
    }
}

TEST_F(RngTest, HardwareDraws)
{
    if (!hardware())
        GTEST_SKIP() << "this processor has no RDRAND instruction";
    uint64_t seen = 0;
    for (int i = 0; i < 8; i++)
        seen |= xkRdrand64() | xkRdrand32();
    EXPECT_NE(seen, 0u);
    double d = xkRdrandDouble();
    EXPECT_GE(d, 0.0);
    EXPECT_LE(d, 1.0);
    Gen g(&xkRngRegisterRdrand);
    for (int i = 0; i < 100; i++) {
        double u = g.m.ops.uniform_open(g.state);
        ASSERT_GT(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
    EXPECT_EQ(g.m.ops.seed_double(g.state, 5.0), 0);
}

TEST_F(RngTest, StreamCreation)
{
    tk->set_double("xkbug.RNGSEED", 12345);
    hostsim::Pool* pool = h->main_task()->allocator;
    RngStream* s = create();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(pool->live.at(s), 3512u);
    EXPECT_EQ(s->marker, 123456789u);
    EXPECT_EQ(std::string(s->embedded.name), "MTHYBRID");
    EXPECT_EQ(std::u16string(s->method_name), u"MTHYBRID");
    EXPECT_EQ(s->method, &s->embedded);
    EXPECT_EQ(s->state, s->state_area);
    EXPECT_EQ(s->task, main_handle());
    EXPECT_EQ(s->seed, 12345u);
    EXPECT_EQ(s->applied_seed, 12345u);
    EXPECT_EQ(s->seed_hash, rng_fmix32(12345));
    EXPECT_EQ(s->status, 0);
    EXPECT_EQ(s->ready, 1);
    EXPECT_EQ(s->state_size, 2500u);
    EXPECT_EQ(s->uniform, s->embedded.ops.uniform_classic);
    EXPECT_EQ(s->log, &tk->log);
    EXPECT_EQ(s->cached_integer, 0x80000001u);
    for (double c : s->cached)
        EXPECT_EQ(c, -M_PI);
    // The seed reached the generator: MTHYBRID of 12345 is the 1998 filling.
    Gen ref(&xkRngRegisterMt1998);
    ref.seed(12345);
    EXPECT_EQ(s->embedded.ops.next32(s->state), ref.n32());
    h->fail.fail_next = true;
    EXPECT_EQ(create(), nullptr);
    // Null streams.
    EXPECT_EQ(xkRngStreamInit(nullptr), 0x803FC002u);
    EXPECT_EQ(xkRngStreamReset(nullptr), 0x803FC002u);
}

TEST_F(RngTest, DefaultSeedsOfTheFirstAndLaterInits)
{
    tk->rdrand = 0;
    double t = 100.0;
    tk->clock = [&] { return t += 1.0; };
    tk->set_text("OSENV.TOV_RNG_METHOD", "MT64");
    RngStream* s = create();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s->embedded.name), "MT64");
    // The first init takes the 31-bit default seed.
    EXPECT_LE(s->seed, 0x7FFFFFFEu);
    EXPECT_EQ(s->seed_hash, static_cast<uint32_t>(rng_fmix64(s->seed)));
    s->seed = 0;
    EXPECT_EQ(xkRngStreamInit(s), 0u);
    EXPECT_GT(s->seed, 0x7FFFFFFFu);
    EXPECT_EQ(s->applied_seed, s->seed);
}

TEST_F(RngTest, SeedAndStreamChecks)
{
    show_all_messages(*tk);
    tk->set_double("xkbug.RNGSEED", 9);
    tk->set_text("OSENV.TOV_RNG_METHOD", "PCG32I");
    RngStream* s = create(1, 1024);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(static_cast<uint32_t>(s->status), 0x8C7FE810u);
    auto e = with_code(0x8C7FE81Cu);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].level, 4);
    EXPECT_EQ(e[0].text, "The stream number 1024 is above 1023, the largest the random-number method PCG32I accepts.");
    // Applied all the same: (1024 << 21) truncated, so the increment is 2a + 1 = 1.
    EXPECT_EQ(reinterpret_cast<uint32_t*>(s->state)[1], 1u);

    // Integer stream numbers above the largest are refused at init.
    tk->messages.clear();
    s->stream = 0x80000000u;
    EXPECT_EQ(xkRngStreamInit(s), 0x8C7FE810u);
    EXPECT_EQ(with_code(0x8C7FE81Cu).size(), 2u);   // init, then reset's packed limit
    // Double seeds and stream numbers.
    tk->messages.clear();
    s->stream = 0;
    s->seed_double = 2.5;
    EXPECT_EQ(xkRngStreamInit(s), 0u);
    EXPECT_EQ(s->seed, 1073741824u);
    auto w = with_code(0x8C7FE818u);
    ASSERT_EQ(w.size(), 1u);
    EXPECT_EQ(w[0].level, 3);
    EXPECT_EQ(w[0].text, "The seed 2.5 is above 4294967295 or not a whole number; the random-number method PCG32I "
                         "uses the seed 1073741824 (0x40000000).");
    s->seed_double = 0;
    s->stream_double = 1.5;
    EXPECT_EQ(xkRngStreamInit(s), 0x8C7FE810u);
    EXPECT_EQ(with_code(0x8C7FE81Bu).size(), 1u);
    s->stream_double = 0;

    // A method without stream numbers.
    tk->messages.clear();
    tk->set_text("OSENV.TOV_RNG_METHOD", "XOR64");
    RngStream* x = create(0, 3);
    EXPECT_EQ(static_cast<uint32_t>(x->status), 0x8C7FE80Fu);
    ASSERT_EQ(with_code(0x8C7FE81Au).size(), 1u);
    EXPECT_EQ(with_code(0x8C7FE81Au)[0].text,
              "The stream number 3 is ignored: the random-number method XOR64 takes no stream number.");
}

TEST_F(RngTest, MethodsWithoutSeeds)
{
    if (!hardware())
        GTEST_SKIP() << "this processor has no RDRAND instruction";
    show_all_messages(*tk);
    tk->set_text("OSENV.TOV_RNG_METHOD", "RDRAND");
    RngStream* s = create(5, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::string(s->embedded.name), "RDRAND");
    EXPECT_EQ(static_cast<uint32_t>(s->status), 0x8C7FE80Du);
    ASSERT_EQ(with_code(0x8C7FE817u).size(), 1u);
    EXPECT_EQ(with_code(0x8C7FE817u)[0].text, "The seed 5 is ignored: the random-number method RDRAND takes no seed.");
    EXPECT_EQ(s->seed, 5u);
    EXPECT_EQ(s->uniform, s->embedded.ops.uniform_open);
}

TEST_F(RngTest, AnnouncementsComeOnce)
{
    show_all_messages(*tk);
    tk->set_double("xkbug.RNGSEED", 4);
    RngStream* s = create();
    EXPECT_TRUE(with_code(0x8C7FE828u).empty() && with_code(0x8C7FE829u).empty());
    s->requested_name = "pcg";
    s->stream = 2;
    EXPECT_EQ(xkRngStreamInit(s), 0u);
    EXPECT_EQ(std::string(s->embedded.name), "PCG64I");
    auto a = with_code(0x8C7FE82Au);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].level, 2);
    EXPECT_EQ(a[0].text, "The random-number method is 64-bit PCG64i, seed 4 (0x4), stream 2 (0x2).");
    EXPECT_EQ(s->requested_name, s->embedded.name);
    xkRngStreamInit(s);
    EXPECT_EQ(with_code(0x8C7FE82Au).size(), 1u);
    // A new name announces again.
    s->requested_name = u"ranuni ";
    s->flags |= RNG_NAME_WIDE;
    s->stream = 0;
    tk->rdrand = 1;
    if (hardware()) {
        xkRngStreamInit(s);
        EXPECT_EQ(std::string(s->embedded.name), "RANUNI");
        EXPECT_EQ(with_code(0x8C7FE829u).back().text, "The random-number method is RANUNI, seed 4 (0x4).");
        EXPECT_EQ(s->uniform, s->embedded.ops.uniform_classic);
    }
}

TEST_F(RngTest, ResetEmptiesTheCaches)
{
    RngStream* s = create(77);
    s->cached[1] = 3;
    s->cached_integer = 5;
    s->cache_flags[0] = 1;
    s->ready = 0;
    EXPECT_EQ(xkRngStreamReset(s), 0u);
    EXPECT_EQ(s->cached[1], -M_PI);
    EXPECT_EQ(s->cached_integer, 0x80000001u);
    EXPECT_EQ(s->cache_flags[0], 0);
    EXPECT_EQ(s->ready, 1);
}

TEST_F(RngTest, MessagesAreFilteredAndCounted)
{
    // Settings absent: errors only.
    EXPECT_EQ(xkRngMessage(1, 0x8C7FE851u, "x"), 0);
    EXPECT_EQ(xkRngMessage(3, 0x8C7FE81Au, 1.0, u"MT"), 0);
    EXPECT_EQ(xkRngMessage(4, 0x8C7FE81Cu, 1ull, 2ull, u"MT"), 0);
    EXPECT_EQ(message_codes(), std::vector<uint32_t>{0x8C7FE81Cu});
    EXPECT_EQ(tk->messages[0].level, 4);
    // Notes are issued at level 2 when shown; severity words raise the low ones.
    tk->messages.clear();
    tk->set_text("OSENV.TOV_RNG_MESSAGES", "notes");
    xkRngMessage(1, 0x8C7FE851u, "x");
    EXPECT_TRUE(tk->messages.empty());
    tk->set_text("OSENV.TOV_RNG_SEVERITY", "yes");
    xkRngMessage(1, 0x8C7FE851u, "x");
    ASSERT_EQ(tk->messages.size(), 1u);
    EXPECT_EQ(tk->messages[0].level, 2);
    tk->set_text("OSENV.TOV_RNG_MESSAGES", "none");
    tk->messages.clear();
    xkRngMessage(4, 0x8C7FE81Cu, 1ull, 2ull, u"MT");
    EXPECT_TRUE(tk->messages.empty());
    // Limits count down; below 0 nothing is issued.
    tk->set_text("OSENV.TOV_RNG_MESSAGES", "all");
    tk->set_int("OSENV.TOV_RNG_ERROR_LIMIT", 2);
    for (int i = 0; i < 4; i++)
        xkRngMessage(3, 0x8C7FE81Au, 1.0, u"MT");
    EXPECT_EQ(with_code(0x8C7FE81Au).size(), 2u);
    EXPECT_EQ(with_code(0x8C7FE8CAu).size(), 1u);
    // A message the host refuses is issued again with the refusal's code.
    tk->erase("OSENV.TOV_RNG_ERROR_LIMIT");
    tk->messages.clear();
    tk->message_result[0x8C7FE81Cu] = 0x803FC033u;
    EXPECT_EQ(static_cast<uint32_t>(xkRngMessage(4, 0x8C7FE81Cu, 1ull, 2ull, u"MT")), 0x803FC033u);
    EXPECT_EQ(message_codes(), (std::vector<uint32_t>{0x8C7FE81Cu, 0x803FC033u}));
}

TEST_F(RngTest, SeedSources)
{
    tk->rdrand = 0;
    tk->set_double("xkbug.RNGSEED", 5);
    EXPECT_EQ(xkRngDefaultSeed31(), 5u);
    EXPECT_EQ(xkRngDefaultSeed64(), 5u);
    // 2^32: no low bits for the 31-bit seed, which then comes from the clock.
    tk->set_double("xkbug.RNGSEED", 4294967296.0);
    double t = 100.0;
    tk->clock = [&] { return t += 1.0; };
    EXPECT_EQ(xkRngDefaultSeed31(), 102u);   // 1.0000000000000009 * 102 / 1
    EXPECT_EQ(xkRngDefaultSeed64(), 4294967296ull);
    tk->erase("xkbug.RNGSEED");
    EXPECT_EQ(xkRngClockSeed32(), 104u);
    // The 64-bit clock seed mixes the clock, the system block and the host record.
    uint64_t word = tk->seed_word + 0x9E3779B97F4A7C15ull;
    uint64_t varying = tk->record.varying * 6364136223846793005ull + 1442695040888963407ull;
    uint64_t want = rng_fmix64(static_cast<uint64_t>(106.0 * 1e9) + word + 2 * varying + 1);
    EXPECT_EQ(xkRngClockSeed64(), want);
    EXPECT_EQ(xkRngDefaultSeed64() >> 53, 0u);
    // A clock that never moves: read 10,000,000 more times, then used as it is.
    tk->clock = [] { return 7.75; };
    EXPECT_EQ(xkRngClockSeed32(), 7u);
}

TEST_F(RngTest, SeedFromDouble)
{
    show_all_messages(*tk);
    EXPECT_EQ(xkRngSeedFromDouble(2.5, 0xFFFFFFFFu), 1073741824.0);
    EXPECT_EQ(xkRngSeedFromDouble(17.0, 0xFFFFFFFFu), 17.0);
    EXPECT_EQ(xkRngSeedFromDouble(4294967295.0, 0xFFFFFFFFu), 4294967295.0);
    EXPECT_EQ(xkRngSeedFromDouble(-3.0, 0xFFFFFFFFu), 0.0);
    EXPECT_EQ(xkRngSeedFromDouble(0.0, 0xFFFFFFFFu), 0.0);
    uint64_t missing = 0xFFFFD10000000000ull;
    double m;
    std::memcpy(&m, &missing, 8);
    EXPECT_EQ(xkRngSeedFromDouble(m, 0xFFFFFFFFu), 0.0);
    double big = xkRngSeedFromDouble(1e30, ~0ull);
    EXPECT_GE(big, 1.0);
    EXPECT_LE(big, 9007199254740992.0);
    EXPECT_EQ(big, std::trunc(big));
    EXPECT_TRUE(tk->messages.empty());
    // A result outside 1 to the bound is reported and returned all the same.
    EXPECT_EQ(xkRngSeedFromDouble(1.5, 1), 0.0);
    ASSERT_EQ(message_codes(), std::vector<uint32_t>{0x8C7FE819u});
    EXPECT_EQ(tk->messages[0].level, 4);
}

TEST_F(RngTest, MurmurHash)
{
    EXPECT_EQ(xkMurmur3x86_32("", 0, 0), 0u);
    EXPECT_EQ(xkMurmur3x86_32("", 0, 1), 0x514E28B7u);
    EXPECT_EQ(xkMurmur3x86_32("", 0, 0xFFFFFFFFu), 0x81F16F39u);
    EXPECT_EQ(xkMurmur3x86_32("\0\0\0\0", 4, 0), 0x2362F9DEu);
    EXPECT_EQ(xkMurmur3x86_32("aaaa", 4, 0x9747B28Cu), 0x5A97808Au);
    EXPECT_EQ(xkMurmur3x86_32("aaa", 3, 0x9747B28Cu), 0x283E0130u);
    EXPECT_EQ(xkMurmur3x86_32("Hello, world!", 13, 0x9747B28Cu), 0x24884CBAu);
    EXPECT_EQ(xkMurmur3x86_32("The quick brown fox jumps over the lazy dog", 43, 0x9747B28Cu), 0x2FA826CDu);
}

// The byte-oriented published MurmurHash3_x64_128, for comparison.
void published_x64_128(const uint8_t* data, int len, uint32_t seed, uint64_t out[2])
{
    auto rotl = [](uint64_t x, int r) { return (x << r) | (x >> (64 - r)); };
    const uint64_t c1 = 0x87C37B91114253D5ull, c2 = 0x4CF5AD432745937Full;
    uint64_t h1 = seed, h2 = seed;
    int blocks = len / 16;
    for (int i = 0; i < blocks; i++) {
        uint64_t k1, k2;
        std::memcpy(&k1, data + 16 * i, 8);
        std::memcpy(&k2, data + 16 * i + 8, 8);
        k1 *= c1; k1 = rotl(k1, 31); k1 *= c2; h1 ^= k1;
        h1 = rotl(h1, 27); h1 += h2; h1 = h1 * 5 + 0x52DCE729;
        k2 *= c2; k2 = rotl(k2, 33); k2 *= c1; h2 ^= k2;
        h2 = rotl(h2, 31); h2 += h1; h2 = h2 * 5 + 0x38495AB5;
    }
    h1 ^= static_cast<uint64_t>(len);
    h2 ^= static_cast<uint64_t>(len);
    h1 += h2;
    h2 += h1;
    h1 = rng_fmix64(h1);
    h2 = rng_fmix64(h2);
    h1 += h2;
    h2 += h1;
    out[0] = h1;
    out[1] = h2;
}

TEST_F(RngTest, MurmurHashWords)
{
    uint64_t words[4] = {0x0123456789ABCDEFull, 0xFEDCBA9876543210ull, 42, 7};
    for (uint32_t seed : {0u, 1u, 0x9747B28Cu}) {
        uint64_t pub[2], ours[2];
        published_x64_128(reinterpret_cast<const uint8_t*>(words), 32, seed, pub);
        xkMurmur3x64_128(words, 4, seed, ours);
        EXPECT_EQ(ours[0], pub[0]);
        EXPECT_EQ(ours[1], pub[1]);
        published_x64_128(reinterpret_cast<const uint8_t*>(words), 16, seed, pub);
        EXPECT_EQ(xkMurmur3x64_64(words, 2, seed), pub[0] ^ pub[1]);
    }
    // An odd word is paired with the finaliser of the seed.
    uint64_t pair[2] = {words[0], rng_fmix64(99)};
    EXPECT_EQ(xkMurmur3x64_64(words, 1, 99), xkMurmur3x64_64(pair, 2, 99));
}

}  // namespace

namespace {

// A key shorter than the key, repeated (mode 0x2), fills exactly the key
// bytes of the state and nothing after them; a method without a key refuses
// it and changes nothing.
TEST_F(RngTest, KeyFillsExactlyTheKeyBytes)
{
    struct Row {
        const char* name;
        rng_register_fn reg;
        size_t key;
    } rows[] = {
        {"FRY2X32", &xkRngRegisterFry2x32, 8},    {"FRY2X64", &xkRngRegisterFry2x64, 16},
        {"FRY4X64", &xkRngRegisterFry4x64, 32},   {"MH3", &xkRngRegisterMh3, 8},
        {"MT1998", &xkRngRegisterMt1998, 2496},   {"MT32", &xkRngRegisterMt32, 2496},
        {"MT64", &xkRngRegisterMt64, 2496},       {"MTHYBRID", &xkRngRegisterMtHybrid, 2496},
        {"PCG32I", &xkRngRegisterPcg32i, 4},      {"PCG64I", &xkRngRegisterPcg64i, 8},
        {"RANUNI", &xkRngRegisterRanuni, 0},      {"SUBKEY32", &xkRngRegisterSubkey32, 4},
        {"SUBKEY64", &xkRngRegisterSubkey64, 8},  {"XOR1024", &xkRngRegisterXor1024, 128},
        {"XOR128", &xkRngRegisterXor128, 16},     {"XOR4096", &xkRngRegisterXor4096, 512},
        {"XOR64", &xkRngRegisterXor64, 8},        {"XORGENS", &xkRngRegisterXorgens, 0},
    };
    const uint8_t bytes[3] = {0xA1, 0xB2, 0xC3};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Gen g(r.reg);
        EXPECT_STREQ(g.m.name, r.name);
        EXPECT_EQ(g.m.key_bytes, r.key);
        g.seed(7);
        std::vector<uint8_t> before(g.state, g.state + RNG_STATE_AREA);
        EXPECT_EQ(g.m.ops.set_key(g.state, bytes, 3, 0x2), r.key ? 3 : -1);
        size_t wrong = 0;
        for (size_t i = 0; i < r.key; i++)
            wrong += g.state[i] != bytes[i % 3];
        EXPECT_EQ(wrong, 0u) << "key bytes not filled";
        EXPECT_EQ(std::memcmp(g.state + r.key, before.data() + r.key, RNG_STATE_AREA - r.key), 0)
            << "bytes after the key changed";
    }
}

// Methods that share a slot behave alike through it: the three 32-bit
// Mersenne Twisters draw alike from one key; MH3 and SUBKEY64 seed their word
// as XOR64 does.
TEST_F(RngTest, MethodsSharingASlotBehaveAlike)
{
    std::vector<uint8_t> key(2496);
    for (size_t i = 0; i < key.size(); i++)
        key[i] = static_cast<uint8_t>(i * 7 + 1);
    Gen a(&xkRngRegisterMt1998), b(&xkRngRegisterMt32), c(&xkRngRegisterMtHybrid);
    for (Gen* g : {&a, &b, &c}) {
        g->seed(1);
        g->n32();   // the index is past the start: the key keeps it
        ASSERT_EQ(g->m.ops.set_key(g->state, key.data(), 2496, 0), 2);
    }
    for (int i = 0; i < 700; i++) {
        uint32_t x = a.n32();
        ASSERT_EQ(b.n32(), x) << "draw " << i;
        ASSERT_EQ(c.n32(), x) << "draw " << i;
    }
    for (uint64_t seed : {uint64_t{1}, uint64_t{0xFFFFFFFFu}, uint64_t{0x123456789ABCDEFull}}) {
        Gen x(&xkRngRegisterXor64);
        x.m.ops.seed64(x.state, seed);
        for (rng_register_fn reg : {&xkRngRegisterMh3, &xkRngRegisterSubkey64}) {
            Gen g(reg);
            g.m.ops.seed64(g.state, seed);
            EXPECT_EQ(g.at<uint64_t>(0), x.at<uint64_t>(0)) << g.m.name << " seed " << seed;
            g.m.ops.seed32(g.state, static_cast<uint32_t>(seed));
            x.m.ops.seed32(x.state, static_cast<uint32_t>(seed));
            EXPECT_EQ(g.at<uint64_t>(0), x.at<uint64_t>(0)) << g.m.name << " seed " << seed;
            x.m.ops.seed64(x.state, seed);
        }
    }
}

}  // namespace
