// The literal searches against a plain search: a literal found through the
// byte-pair scan of the fixed-string search, and a case-blind literal found
// through the start-class scan, over subjects that put candidates on both
// sides of every sixteen-byte step and at the very end.
#include <random>
#include <string>

#include "re_fixture.h"

namespace prxtest {
namespace {

// The leftmost start of needle in subject, case-blind over ASCII letters
// when fold; -1 when none.
int32_t naive_find(const std::string& subject, const std::string& needle, bool fold)
{
    auto same = [&](char x, char y) {
        if (!fold)
            return x == y;
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    };
    for (size_t s = 0; s + needle.size() <= subject.size(); s++) {
        size_t k = 0;
        while (k < needle.size() && same(subject[s + k], needle[k]))
            k++;
        if (k == needle.size())
            return static_cast<int32_t>(s);
    }
    return -1;
}

TEST_F(Engine, LiteralSearchesFindTheLeftmostOccurrence)
{
    std::mt19937 rng(5);
    const char alphabet[] = {'a', 'b', 'A', 'B', 'z', '\n'};
    for (int round = 0; round < 3000; round++) {
        size_t n = rng() % 80;
        std::string subject;
        for (size_t i = 0; i < n; i++)
            subject += alphabet[rng() % sizeof alphabet];
        std::string needle;
        size_t len = 1 + rng() % 7;
        if (n >= len && rng() % 2) {
            needle = subject.substr(rng() % (n - len + 1), len);
        } else {
            for (size_t i = 0; i < len; i++)
                needle += alphabet[rng() % 5];
        }
        if (needle.find('\n') != std::string::npos)
            continue;  // the pattern text is the literal: no newline in it
        bool fold = rng() % 2;
        SCOPED_TRACE(testing::Message() << "/" << needle << "/" << (fold ? "i" : "") << " on "
                                        << testing::PrintToString(subject));
        re_compiled* rx = compile(needle, fold ? "i" : "");
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t want = naive_find(subject, needle, fold);
        int32_t r = match(rx, subject);
        ASSERT_EQ(r, want >= 0 ? 1 : 0);
        if (r == 1) {
            EXPECT_EQ(rx->start_offsets[0], want);
        }
        pregfree(gcb, rx);
    }
}

// A case-blind alternation gets a start class of both cases of each
// alternative's first letter, and matches where it did without one.
TEST_F(Engine, CaseBlindAlternativesGiveAStartClass)
{
    re_compiled* rx = compile("(?i)Sherlock|Holmes");
    ASSERT_NE(rx, nullptr) << err_text();
    ASSERT_NE(rx->start_class, nullptr);
    std::string members;
    for (int c = 0; c < 256; c++)
        if (re_bitmap_test(rx->start_class->bitmap, static_cast<uint8_t>(c)))
            members += static_cast<char>(c);
    EXPECT_EQ(members, "HShs");
    pregfree(gcb, rx);

    struct Case {
        const char* pattern;
        const char* subject;
        int32_t start;
    };
    const Case cases[] = {
        {"(?i)Sherlock|Holmes", "mr. hOLMES and sHERLOCK", 4},
        {"(?i)x*Sherlock", "a XXsherlock", 2},
        {"(?i)[a-c]?de", "zzDE", 2},
        {"(?i)[a-c]?de", "zzBdE", 2},
        {"(?i)(?:ab|cd)*e", "zzCDabE", 2},
        {"x*(?i)ab", "zzAB", 2},
        {"(?i)watson|irene", "nothing here", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t r = match(rx, c.subject);
        EXPECT_EQ(r == 1 ? rx->start_offsets[0] : -1, c.start);
        pregfree(gcb, rx);
    }
}

// Patterns whose check substring is common (a space, a short word) and whose
// start class is rarer: when the class rules a start out, the finder goes on
// from the next place the class holds. The answers are those of a plain
// left-to-right try, with class positions before, between and after the
// check substring's hits, and none at all.
TEST_F(Engine, FinderRestartsWhereTheStartClassHolds)
{
    struct Case {
        const char* pattern;
        const char* subject;
        int32_t start;
    };
    const Case cases[] = {
        {"\\d{1,2}(st|nd|rd|th)? [A-Z][a-z]+,? \\d{4}", "on 3rd March, 1888 x", 3},
        {"\\d{1,2}(st|nd|rd|th)? [A-Z][a-z]+,? \\d{4}", "no digits here at all, none", -1},
        {"\\d{1,2}(st|nd|rd|th)? [A-Z][a-z]+,? \\d{4}", "12 x 3 March 1888", 5},
        {"\\d{1,2}(st|nd|rd|th)? [A-Z][a-z]+,? \\d{4}", "1 a 2 b 3 c 4 May 1999", 12},
        {"\\d{1,2}(st|nd|rd|th)? [A-Z][a-z]+,? \\d{4}", "a b c d e f 9", -1},
        {"\\d+ apples", "a b c d 42 apples", 8},
        {"\\d+ apples", "7 pears 8 plums 9", -1},
        {"[xyz] q", "a q b q x q", 8},
        {"[xyz] q", "x a y b z", -1},
        {"\\bfoo ", "afoo bfoo foo ", 10},
        {"\\Bfoo ", "foo  foo afoo ", 10},
        {"[0-9] ", "a b c d", -1},
        {"[0-9] ", "a b c 7 ", 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " on " + c.subject);
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t r = match(rx, c.subject);
        EXPECT_EQ(r == 1 ? rx->start_offsets[0] : -1, c.start);
        pregfree(gcb, rx);
    }
}

}  // namespace
}  // namespace prxtest
