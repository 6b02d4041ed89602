// Swashes: what swash_new and swash_fetch ask of utf8->SWASHNEW and
// SWASHGET (a double here), the block keys, widths and the last-block cache,
// and the class tests and case maps on top of them.
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxuni.h"

namespace {

using prxtest::Stacks;

struct NewCall {
    std::string pkg, name;
    SV* list;
    int64_t minbits, none;
};
struct GetCall {
    SV* swash;
    uint64_t start, count;
};

class Swash : public Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        if (utf8_loaded)
            gv_stash_by_name(gcb, "utf8", 1);
        doubles::match_state_saves = &saves;
        doubles::module_loads = &loads;
        doubles::method_call = [this](PERLGCB*, const char* name, int32_t flags) { return method(name, flags); };
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }

    // The double of the two methods: arguments above the top mark, one
    // result left at the mark, the mark popped, as a call does.
    int32_t method(const std::string& name, int32_t flags)
    {
        EXPECT_EQ(flags, 0);  // scalar context
        int32_t mark = pop_mark(gcb);
        std::vector<SV*> args(gcb->arg_base + mark + 1, gcb->arg_sp + 1);
        EXPECT_EQ(gcb->current_level->si_type, SI_MAGIC);
        SV* result = nullptr;
        if (name == "SWASHNEW") {
            EXPECT_EQ(args.size(), 5u);
            news.push_back({str(args[0]), str(args[1]), args[2], sv_to_int(gcb, args[3]), sv_to_int(gcb, args[4])});
            result = new_result ? new_result() : sv_new_reference(gcb, as_sv(hv_new_empty(gcb)));
        } else if (name == "SWASHGET") {
            EXPECT_EQ(args.size(), 3u);
            gets.push_back({args[0], static_cast<uint64_t>(sv_to_int(gcb, args[1])),
                            static_cast<uint64_t>(sv_to_int(gcb, args[2]))});
            std::string v = vector(gets.back().start, gets.back().count);
            result = sv_new_from_bytes(gcb, v.data(), v.size());
        } else {
            ADD_FAILURE() << name;
        }
        gcb->arg_sp = gcb->arg_base + mark;
        if (!result)
            return 0;
        *++gcb->arg_sp = sv_make_temporary(gcb, result);
        return 1;
    }

    // The block SWASHGET returns: by default a 1-bit table where every
    // character whose code point is odd is in the class.
    std::function<std::string(uint64_t start, uint64_t count)> vector = [](uint64_t start, uint64_t count) {
        std::string v(count / 8, '\0');
        for (uint64_t i = 0; i < count; i++)
            if ((start + i) & 1)
                v[i >> 3] = static_cast<char>(v[i >> 3] | (1 << (i & 7)));
        return v;
    };
    std::function<SV*()> new_result;
    bool utf8_loaded = true;
    int saves = 0;
    std::vector<std::string> loads;
    std::vector<NewCall> news;
    std::vector<GetCall> gets;

    SV* swash() { return sv_new_reference(gcb, as_sv(hv_new_empty(gcb))); }
    uint64_t fetch(SV* sw, const std::string& chr)
    {
        return swash_fetch(gcb, sw, reinterpret_cast<const uint8_t*>(chr.data()));
    }
};

TEST_F(Swash, TheFirstWordTestCreatesOneSwash)
{
    SV** sp = gcb->arg_sp;    // the caller's argument stack stays as it is
    EXPECT_EQ(utf8_is_word(gcb, reinterpret_cast<const uint8_t*>("a")), 1);  // 0x61 is odd
    ASSERT_EQ(news.size(), 1u);
    EXPECT_EQ(news[0].pkg, "utf8");
    EXPECT_EQ(news[0].name, "IsWord");
    EXPECT_EQ(news[0].list, &gcb->sv_undef);
    EXPECT_EQ(news[0].minbits, 0);
    EXPECT_EQ(news[0].none, 0);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].swash, gcb->swash_slots[SWASH_WORD]);
    EXPECT_EQ(gets[0].start, 0u);
    EXPECT_EQ(gets[0].count, 128u);
    EXPECT_EQ(gcb->arg_sp, sp);
    EXPECT_EQ(gcb->current_level->si_type, SI_MAIN);
    EXPECT_EQ(saves, 2);  // around SWASHNEW and around SWASHGET
    EXPECT_TRUE(loads.empty());
    EXPECT_EQ(gcb->savestack_ix, 0);
    EXPECT_EQ(gcb->scope_ix, 0);

    EXPECT_EQ(utf8_is_word(gcb, reinterpret_cast<const uint8_t*>("b")), 0);
    EXPECT_EQ(uni_is_word(gcb, 'c'), 1);
    EXPECT_EQ(news.size(), 1u);
    EXPECT_EQ(gets.size(), 1u);
}

TEST_F(Swash, BlockKeysAndTheLastBlockCache)
{
    SV* sw = swash();
    // U+00E9: key C3, 64 entries, entry 0x29, the block from 0xC0.
    EXPECT_EQ(fetch(sw, "\xC3\xA9"), 1u);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].start, 0xC0u);
    EXPECT_EQ(gets[0].count, 64u);
    EXPECT_EQ(gcb->swash_last_klen, 1u);
    EXPECT_EQ(gcb->swash_last_key[0], 0xC3);
    SV** stored = hv_fetch_str(gcb, sv_as<HV>(sv_rv(sw)), "\xC3", 1, 0);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(sv_cur(*stored), 8u);
    // The same block again: no call. Another block: one more call.
    EXPECT_EQ(fetch(sw, "\xC3\xA8"), 0u);
    EXPECT_EQ(gets.size(), 1u);
    EXPECT_EQ(fetch(sw, "\xE2\x82\xAC"), 0u);  // U+20AC: key E2 82, block from 0x2080
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_EQ(gets[1].start, 0x2080u);
    EXPECT_EQ(gets[1].count, 64u);
    // Back to the first block: the cache misses, the hash answers.
    EXPECT_EQ(fetch(sw, "\xC3\xA9"), 1u);
    EXPECT_EQ(gets.size(), 2u);
    // ASCII: the empty key, 128 entries from 0.
    EXPECT_EQ(fetch(sw, "A"), 1u);
    ASSERT_EQ(gets.size(), 3u);
    EXPECT_EQ(gets[2].start, 0u);
    EXPECT_EQ(gets[2].count, 128u);
}

TEST_F(Swash, EntryWidthsFollowTheVectorLength)
{
    // Vectors for the 64-entry block of U+00E9 (entry 0x29), one per length.
    auto with = [](size_t bytes, std::initializer_list<std::pair<size_t, uint8_t>> set) {
        std::string v(bytes, '\0');
        for (auto [at, b] : set)
            v[at] = static_cast<char>(b);
        return v;
    };
    struct Case {
        std::string vec;
        uint64_t want;
        const char* error;
    } cases[] = {
        {with(7, {}), 0, "SWASHGET didn't return result of proper length.\n"},
        {with(8, {{0x29 >> 3, 1 << (0x29 & 7)}}), 1, nullptr},
        {with(64, {{0x29, 0x5A}}), 0x5A, nullptr},
        {with(128, {{0x52, 0x12}, {0x53, 0x34}}), 0x1234, nullptr},
        {with(256, {{0xA4, 0x01}, {0xA5, 0x02}, {0xA6, 0x03}, {0xA7, 0x04}}), 0x01020304, nullptr},
        {with(24, {}), 0, "panic: swash_fetch.\n"},
    };
    for (const Case& c : cases) {
        vector = [&](uint64_t, uint64_t) { return c.vec; };
        gcb->err.len = 0;
        SV* sw = swash();
        uint64_t got = 0;
        int32_t code = run([&] { got = fetch(sw, "\xC3\xA9"); });
        if (c.error) {
            EXPECT_EQ(code, 2) << c.vec.size();
            EXPECT_EQ(err_text(), c.error) << c.vec.size();
        } else {
            EXPECT_EQ(code, 0) << c.vec.size() << err_text();
            EXPECT_EQ(got, c.want) << c.vec.size();
        }
    }
}

class SwashUnloaded : public Swash {
protected:
    void SetUp() override
    {
        utf8_loaded = false;
        Swash::SetUp();
    }
};

TEST_F(SwashUnloaded, TheFirstSwashLoadsThePackage)
{
    SV* sw = nullptr;
    ASSERT_EQ(run([&] { sw = swash_new(gcb, "utf8", "IsDigit", &gcb->sv_undef, 0, 0); }), 0) << err_text();
    EXPECT_EQ(loads, (std::vector<std::string>{"2 utf8"}));
    EXPECT_EQ(news.size(), 1u);
    EXPECT_EQ(gcb->scope_ix, 0);
}

TEST_F(Swash, SwashNewWantsAHashReference)
{
    new_result = [this] { return sv_new_reference(gcb, as_sv(av_new_empty(gcb))); };
    EXPECT_EQ(run([&] { swash_new(gcb, "utf8", "IsWord", &gcb->sv_undef, 0, 0); }), 2);
    EXPECT_EQ(err_text(), "SWASHNEW didn't return an HV ref.\n");
    gcb->err.len = 0;
    new_result = [] { return nullptr; };  // nothing returned: the undefined value
    EXPECT_EQ(run([&] { swash_new(gcb, "utf8", "IsWord", &gcb->sv_undef, 0, 0); }), 2);
    EXPECT_EQ(err_text(), "SWASHNEW didn't return an HV ref.\n");
}

TEST_F(Swash, SwashNewKeepsTheHintsWord)
{
    gcb->compile_hints = 0x1234;
    uint32_t seen = 0xFFFF;
    new_result = [&] {
        seen = gcb->compile_hints;
        return sv_new_reference(gcb, as_sv(hv_new_empty(gcb)));
    };
    SV* sw = nullptr;
    ASSERT_EQ(run([&] { sw = swash_new(gcb, "utf8", "ToUpper", &gcb->sv_undef, 4, 0); }), 0) << err_text();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(gcb->compile_hints, 0x1234u);
    EXPECT_EQ(news.back().minbits, 4);
    EXPECT_EQ(gcb->savestack_ix, 0);
}

TEST_F(Swash, ClassTestsAndCaseMaps)
{
    // The underscore starts an identifier without any swash.
    EXPECT_EQ(utf8_is_ident_start(gcb, reinterpret_cast<const uint8_t*>("_")), 1);
    EXPECT_EQ(uni_is_ident_start(gcb, '_'), 1);
    EXPECT_TRUE(news.empty());
    EXPECT_EQ(uni_is_ident_start(gcb, 'a'), 1);  // through IsAlpha
    EXPECT_EQ(news.back().name, "IsAlpha");
    EXPECT_EQ(uni_is_alpha(gcb, 'c'), 1);  // the same slot
    EXPECT_EQ(news.size(), 1u);

    // alnumc and word are different swashes.
    uni_is_alnumc(gcb, 'a');
    uni_is_word(gcb, 'a');
    EXPECT_EQ(news.size(), 3u);
    EXPECT_NE(gcb->swash_slots[SWASH_ALNUMC], gcb->swash_slots[SWASH_WORD]);

    // An invalid character is in no class, and asks for nothing.
    size_t calls = news.size() + gets.size();
    EXPECT_EQ(utf8_is_space(gcb, reinterpret_cast<const uint8_t*>("\x80")), 0);
    EXPECT_EQ(news.size() + gets.size(), calls);

    // Case maps: 16-bit entries, 0 meaning unmapped.
    vector = [](uint64_t start, uint64_t count) {
        std::string v(2 * count, '\0');
        for (uint64_t i = 0; i < count; i++) {
            uint64_t cp = start + i;
            if (cp >= 'a' && cp <= 'z') {
                v[2 * i] = 0;
                v[2 * i + 1] = static_cast<char>(cp - 32);
            }
        }
        return v;
    };
    EXPECT_EQ(uni_to_upper(gcb, 'q'), static_cast<uint64_t>('Q'));
    EXPECT_EQ(news.back().name, "ToUpper");
    EXPECT_EQ(news.back().minbits, 4);
    EXPECT_EQ(uni_to_upper(gcb, '7'), static_cast<uint64_t>('7'));
    EXPECT_EQ(uni_to_upper(gcb, 0xE9), 0xE9u);  // another block, unmapped
    EXPECT_EQ(uni_to_lower(gcb, 'q'), static_cast<uint64_t>('Q'));  // the double maps every table the same
    EXPECT_EQ(news.back().name, "ToLower");
}

}  // namespace
