// The search aids the optimiser keeps with a pattern: the set of literals
// of an alternation (which patterns get one, and the matches found through
// it, at every place a hit can stand), and the literal search itself.
#include "re_fixture.h"

#include <string>
#include <vector>

#include "ds/src/prxsearch.h"

namespace {

using retest::Engine;
using retest::MatchCase;

// Which heads give a literal set, and its window of offsets from the start.
TEST_F(Engine, LiteralSetShapes)
{
    struct Shape {
        const char* pattern;
        const char* flags;
        int32_t count;  // 0: no set
        int32_t min, max;
    };
    const Shape shapes[] = {
        {"Sherlock|Holmes|Watson", "", 3, 0, 0},
        {"Sherlock|Holmes|Watson", "i", 3, 0, 0},
        {".{0,2}(Sherlock|Holmes|Watson)", "", 3, 0, 2},
        {"[cgt]gggtaaa|tttaccc[acg]", "", 2, 0, 1},
        {"\\b(?:ab|cd)", "", 2, 0, 0},
        {"\\d{2,3}(?:ab|cd)", "", 2, 2, 3},
        {"^ab|cd$", "m", 2, 0, 0},
        {"ab|c|de", "", 3, 0, 0},
        // Not sets: one literal (the substrings do that), an alternative
        // without a literal or with one behind an unbounded repeat, a
        // minimal repeat, a nested alternation, too many literals, too wide
        // a window, a UTF-8 pattern.
        {"Sherlock", "", 0, 0, 0},
        {"ab|\\d", "", 0, 0, 0},
        {"ab|x*cd", "", 0, 0, 0},
        {".{0,2}?(ab|cd)", "", 0, 0, 0},
        {"(?:ab|cd)|ef", "", 0, 0, 0},
        {"a1|a2|a3|a4|a5|a6|a7|a8|a9", "", 0, 0, 0},
        {".{0,300}(ab|cd)", "", 0, 0, 0},
        {"ab|cd", "u", 0, 0, 0},
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.pattern);
        re_compiled* rx = compile(s.pattern, s.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t count = rx->accel ? rx->accel->set_count : 0;
        EXPECT_EQ(count, s.count);
        if (count && s.count) {
            EXPECT_EQ(rx->accel->set_min, s.min);
            EXPECT_EQ(rx->accel->set_max, s.max);
        }
        gcb->re_hook_free(gcb, rx);
    }
}

// Matches found through a literal set: the leftmost start wins whichever
// literal's hit comes first, hits near the end of the subject (past the
// sixteen-byte blocks) count, a window reaches back to the start of the
// search and no further, and case-blind literals take either case.
TEST_F(Engine, LiteralSetMatches)
{
    const std::string pad(40, '.');
    const MatchCase cases[] = {
        {"Sherlock|Holmes|Watson", "", "Dr Watson met Sherlock", {3, 9}},
        {"Sherlock|Holmes|Watson", "", pad + "xHolme" + "s", {41, 47}},
        {"Sherlock|Holmes|Watson", "", pad + "Holme", {}},
        {"Sherlock|Holmes|Watson", "", "Holmes", {0, 6}},
        {"Sherlock|Holmes|Watson", "i", pad + "wATSON and", {40, 46}},
        {"Sherlock|Holmes|Watson", "i", "SHERLOCK", {0, 8}},
        {".{0,2}(Sherlock|Holmes|Watson)", "", "abcdHolmes", {2, 10, 4, 10}},
        {".{0,2}(Sherlock|Holmes|Watson)", "", "Holmes", {0, 6, 0, 6}},
        {".{0,2}(Sherlock|Holmes|Watson)", "", "a\nHolmes", {2, 8, 2, 8}},
        {".{0,2}(Sherlock|Holmes|Watson)", "", pad + pad + "xyzHolmes", {81, 89, 83, 89}},
        // The later literal's window starts earlier: the start before the
        // first hit is found.
        {"[cgt]gggtaaa|tttaccc[acg]", "", "tttacccgggtaaa", {0, 8}},
        {"[cgt]gggtaaa|tttaccc[acg]", "", "xtgggtaaa", {1, 9}},
        {"[cgt]gggtaaa|tttaccc[acg]", "", "agggtaaa tttaccct", {}},
        {"aND|caN|Ha[DS]|WaS", "", "tttcaNaND", {3, 6}},
        {"aND|caN|Ha[DS]|WaS", "", "HaSx", {0, 3}},
        {"\\d{2,3}(?:ab|cd)", "", "x1ab x12ab x123cd", {6, 10}},
        {"\\b(?:ab|cd)", "", "xab cd", {4, 6}},
        {"^ab|cd$", "m", "xab\nzcd\nq", {5, 7}},
        {"ab|c|de", "", pad + "xxd", {}},
        {"ab|c|de", "", pad + "xxdc", {43, 44}},
        {">.*\\n|\\n", "", "acgt\n>ONE x\nacgt", {4, 5}},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " / " + c.subject);
        re_compiled* rx = compile(c.pattern, c.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        gcb->multiline = std::strchr(c.flags, 'm') != nullptr;
        int32_t r = match(rx, c.subject);
        gcb->multiline = 0;
        expect_groups(rx, r, c.groups);
        gcb->re_hook_free(gcb, rx);
    }
}

// A search from a later start: a hit whose window begins before the start
// gives only the starts from the start on.
TEST_F(Engine, LiteralSetFromALaterStart)
{
    re_compiled* rx = compile(".{0,2}(ab|cd)");
    ASSERT_NE(rx, nullptr) << err_text();
    subj = "xyab--cd";
    EXPECT_EQ(exec_from(rx, 1, nullptr, 0), (std::vector<int32_t>{1, 4}));
    EXPECT_EQ(exec_from(rx, 3, nullptr, 0), (std::vector<int32_t>{4, 8}));
    EXPECT_EQ(exec_from(rx, 7, nullptr, 0), (std::vector<int32_t>{}));
    gcb->re_hook_free(gcb, rx);
}

// The search alone: every position of a subject longer than a block, with
// each literal at each place, finds the first whole literal and nothing
// that runs past the end.
TEST(LiteralSearch, FindsTheFirstWholeLiteral)
{
    // Literals "abc" and "XYZ", in a block with room for their text.
    std::vector<char> block(sizeof(re_accel) + 8);
    re_accel* b = reinterpret_cast<re_accel*>(block.data());
    *b = re_accel{};
    std::memcpy(b->text, "abcXYZ", 6);
    b->set_count = 2;
    b->set[0] = {0, 3, 2, 0, 'c', 'c', 'a', 'a', 0};
    b->set[1] = {3, 3, 1, 2, 'Y', 'Y', 'Z', 'Z', 0};
    b->set_reach = 2;
    uint8_t fold[256];
    for (int i = 0; i < 256; i++)
        fold[i] = static_cast<uint8_t>(i);
    for (int len = 1; len <= 40; len++) {
        for (int at = 0; at < len; at++) {
            for (int which = 0; which < 2; which++) {
                std::string hay(static_cast<size_t>(len), '-');
                const char* lit = which ? "XYZ" : "abc";
                for (int k = 0; k < 3 && at + k < len; k++)
                    hay[static_cast<size_t>(at + k)] = lit[k];
                int64_t want = at + 3 <= len ? at : -1;
                EXPECT_EQ(find_literal_set(hay.data(), 0, len, b, fold), want) << len << " " << at << " " << which;
                if (want >= 0) {
                    EXPECT_EQ(find_literal_set(hay.data(), at + 1, len, b, fold), -1);
                }
            }
        }
    }
}

// A bracket class as byte ranges: up to three, found whole; the search for
// a member (or a non-member) finds the first one at every place, inside
// the sixteen-byte blocks and after them.
TEST(ByteRangeSearch, RangesAndTheirSearch)
{
    struct Case {
        std::vector<std::pair<int, int>> members;  // inclusive ranges set in the bitmap
        bool ok;
        int32_t count;
    };
    const Case cases[] = {
        {{{'A', 'Z'}}, true, 1},
        {{{'a', 'z'}, {'A', 'Z'}}, true, 2},
        {{{0, 0}, {'0', '9'}, {255, 255}}, true, 3},
        {{{'0', '9'}, {'A', 'F'}, {'a', 'f'}, {'_', '_'}}, false, 0},
        {{}, false, 0},
        {{{0, 255}}, true, 1},
    };
    for (const Case& c : cases) {
        uint8_t bitmap[32] = {};
        for (auto [lo, hi] : c.members)
            for (int b = lo; b <= hi; b++)
                bitmap[b >> 3] |= static_cast<uint8_t>(1u << (b & 7));
        ByteRanges r{};
        ASSERT_EQ(byte_ranges_of(bitmap, &r), c.ok);
        if (!c.ok)
            continue;
        EXPECT_EQ(r.count, c.count);
        for (int b = 0; b < 256; b++) {
            bool member = (bitmap[b >> 3] >> (b & 7)) & 1;
            for (int len : {1, 15, 16, 17, 40}) {
                for (int at = 0; at < len; at += 7) {
                    std::string hay(static_cast<size_t>(len), static_cast<char>(member ? (b + 1) & 0xFF : b));
                    // Every byte but the one at `at` is the other kind, when
                    // there is another kind.
                    bool other = (bitmap[static_cast<uint8_t>(hay[0]) >> 3] >> (static_cast<uint8_t>(hay[0]) & 7)) & 1;
                    if (other == member)
                        continue;
                    hay[static_cast<size_t>(at)] = static_cast<char>(b);
                    const char* p = hay.data();
                    EXPECT_EQ(find_byte_ranges(p, p + len, &r, member), p + at) << b << " " << len << " " << at;
                    EXPECT_EQ(find_byte_ranges(p + at + 1, p + len, &r, member), p + len);
                }
            }
        }
    }
}

}  // namespace
