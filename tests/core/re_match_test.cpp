// The matcher over patterns without literal runs: captures, repeats,
// alternation records, lookaround, conditionals and the guard.
#include "re_fixture.h"

#include <vector>

#include "ds/src/prxmg.h"
#include "ds/src/prxsv.h"

namespace {

using prxtest::Engine;
using prxtest::MatchCase;

TEST_F(Engine, MatchesWithoutLiterals)
{
    const MatchCase cases[] = {
        {"\\d+", "", "ab123c", {2, 5}},
        {"[ab]+", "", "xxbab", {2, 5}},
        {"([ab])([cd]*)", "", "zbccd", {1, 5, 1, 2, 2, 5}},
        {"([a]|[a][b])*[c]", "", "ababc", {0, 5, 2, 4}},
        {"(?:([a])[b]|[a][c])", "", "ac", {0, 2, -1, -1}},
        {"([a]|[a][b])([c]|[b][c][d])([d]*)", "", "abcd", {0, 4, 0, 1, 1, 4, 4, 4}},
        {"(?>[a]*)[a]", "", "aaa", {}},
        {"[a]*?[b]", "", "aab", {0, 3}},
        {"\\w+?\\d", "", "ab1c2", {0, 3}},
        {"(?<=[a][b])[c]", "", "acabc", {4, 5}},
        {"(?<![a][b])[c]", "", "c", {0, 1}},
        {"(?=\\w)\\d", "", "a1", {1, 2}},
        {"(?![a])\\w", "", "ab", {1, 2}},
        {"([a])?(?(1)[b]|[c])", "", "xabc", {1, 3, 1, 2}},
        {"([a])?(?(1)[b]|[c])", "", "xc", {1, 2, -1, -1}},
        
        
        {"", "", "abc", {0, 0}},
        
        
        
        
        {"([a-c])\\1", "", "abbc", {1, 3, 1, 2}},
        {"([a-c])\\1", "i", "aBbc", {1, 3, 1, 2}},
        {"^[b]", "m", "a\nb", {2, 3}},
        {"[a]{2,3}", "", "aaaa", {0, 3}},
        {"([a]|[b])+?[c]", "", "abc", {0, 3, 1, 2}},
        {"(\\w\\w)*", "", "abcde", {0, 4, 2, 4}},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern, c.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t r = match(rx, c.subject);
        expect_groups(rx, r, c.groups);
        pregfree(gcb, rx);
    }
}

// Where \G stands in a match from a later start: without a pos value it
// is the beginning of the subject, and the start when the caller ignores
// pos (flag 0x08). A pattern anchored at \G never matches before start.
TEST_F(Engine, GposWithoutAPosValue)
{
    struct Case {
        const char* pattern;
        const char* subject;
        int32_t start;
        uint32_t flags;
        std::vector<int32_t> match;  // start, end; empty: no match
    } cases[] = {
        {"x|\\Ga", "aaa", 1, 0, {}},
        {"x|\\Ga", "aaa", 1, 0x08, {1, 2}},
        {"x|\\Ga", "aaa", 0, 0, {0, 1}},
        {"(?<=\\Ga)b", "ab", 1, 0, {1, 2}},
        {"(?<=\\Ga)b", "ab", 1, 0x08, {}},
        {"\\Ga", "aaa", 1, 0, {}},
        {"\\Ga", "aaa", 1, 0x08, {1, 2}},
        {"\\Ga", "aaa", 0, 0, {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " from " + std::to_string(c.start) + " flags " + std::to_string(c.flags));
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        subj = c.subject;
        EXPECT_EQ(exec_from(rx, c.start, nullptr, c.flags), c.match);
        pregfree(gcb, rx);
    }
}

// A subject whose pos magic holds a value puts \G there, unless the
// caller ignores pos; a negative value counts as none.
TEST_F(Engine, GposFromThePosValue)
{
    struct Case {
        const char* pattern;
        const char* subject;
        int32_t start;
        int32_t pos;
        uint32_t flags;
        std::vector<int32_t> match;  // start, end; empty: no match
    } cases[] = {
        {"\\Ga", "aaa", 0, 1, 0, {1, 2}},
        {"\\Ga", "aaa", 0, 0, 0, {0, 1}},
        {"\\Ga", "aaa", 1, 2, 0, {2, 3}},
        {"\\Ga", "aaa", 2, 1, 0, {}},
        {"\\Ga", "aba", 0, 1, 0, {}},
        {"\\Ga", "aaa", 0, -1, 0, {0, 1}},
        {"\\Ga", "aaa", 0, 1, 0x08, {0, 1}},
        {"x|\\Ga", "aaa", 0, 2, 0, {2, 3}},
        {"x|\\Ga", "aaa", 0, -1, 0, {0, 1}},
        {"a\\G", "aaa", 0, 2, 0, {1, 2}},
        {"(?<=\\Ga)b", "aab", 0, 1, 0, {2, 3}},
        {"(?<=\\Ga)b", "aab", 0, 0, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " from " + std::to_string(c.start) + " pos " + std::to_string(c.pos) +
                     " flags " + std::to_string(c.flags));
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        subj = c.subject;
        SV* sv = sv_new_from_bytes(gcb, subj.data(), subj.size());
        sv_add_magic(gcb, sv, nullptr, 'g', nullptr, 0);
        mg_find_by_type(gcb, sv, 'g')->len = c.pos;
        EXPECT_EQ(exec_from(rx, c.start, sv, c.flags), c.match);
        sv_release(gcb, sv);
        pregfree(gcb, rx);
    }
}

TEST_F(Engine, SimpleAndFixedRepeatsDoNotNest)
{
    re_compiled* rx;
    for (const char* p : {"^[a]*(?![a-z])", "^(?:[a]|[b])*(?![a-z])", "^([a])*(?![a-z])"}) {
        SCOPED_TRACE(p);
        rx = compile(p);
        ASSERT_NE(rx, nullptr);
        EXPECT_EQ(match(rx, std::string(5000, 'a')), 1);
        pregfree(gcb, rx);
    }
}

TEST_F(Engine, SuperLinearCacheStopsExponentialFailure)
{
    re_compiled* rx = compile("^([a]|[a][a])*(?![a-z])");
    ASSERT_NE(rx, nullptr);
    EXPECT_EQ(match(rx, std::string(40, 'a') + "b"), 0);
    pregfree(gcb, rx);
}

// Matches that the start class, the finder or the position cache once
// lost: a conditional's lookahead test taken as a condition on the first
// character; a \B or \b start class scanned from a later start as if a
// newline stood before it; a leading .* under /s that the finder refused
// at a later start, and a leading .* that may match empty, never tried
// after a final newline; a loop inside a counted loop refused at a position by
// the cache, where it had failed under another count of the outer loop
// ((?:a?)* fails at the end of "ac" within the first of two outer
// repetitions, and is needed there again in the second). The cache comes
// into play only after a budget of loop visits (the subject's length for
// each numbered loop): the long subjects reach it.
TEST_F(Engine, StartClassesAndTheCacheKeepEveryMatch)
{
    struct Case {
        const char* pattern;
        std::string subject;
        int32_t start;
        std::vector<int32_t> match;  // start, end; empty: no match
    } cases[] = {
        {"(?(?=a)b|c)", "c", 0, {0, 1}},
        {"(?(?=a)b|c)", "ab", 0, {}},
        {"(?(?=a)ab|c)", "xab", 0, {1, 3}},
        {"x*(?(?=a)b|c)", "xc", 0, {0, 2}},
        {"(?(?!a)c|ab)", "ab", 0, {0, 2}},
        {"\\B(?>a)+b", "aab", 0, {1, 3}},
        {"\\B(?>a)+b", "aab", 1, {1, 3}},
        {"\\B(?>a)+b", "xaab", 2, {2, 4}},
        {"\\b(?>a)+b", "x ab", 2, {2, 4}},
        {"\\b(?>a)+b", "xaab", 2, {}},
        {"\\Ba+b", "aab", 1, {1, 3}},
        {"\\Bb", "\n1bab \n", 2, {2, 3}},
        {"(?s).*b", "c 1b", 3, {3, 4}},
        {"(?s).*b", "c 1b", 2, {2, 4}},
        {"(?s)\\Ab", "c 1b", 3, {}},
        {".*\\z", "\n", 0, {1, 1}},
        {".*\\z", "ab\n", 0, {3, 3}},
        {"(?m)^\\z", "a\n", 0, {}},
        {"(?:(?:a?)*){2,}\\Z", "ac", 0, {2, 2}},
        {"(?:(?:a?)*){2,}c", "aac", 0, {0, 3}},
        {"(?:(?:a|bc)*){3}d", "abcad", 0, {0, 5}},
        {"(?:x(?:a|bb)*){2}c", "xaxbbac", 0, {0, 7}},
        {"(?:(?:a?)*){2,}\\Z", std::string(30, 'a') + "c", 0, {31, 31}},
        {"(?:(?:a|ab)*){2,}c", std::string(30, 'a') + "bc", 0, {0, 32}},
        {"(?:(?:a|ab)*){2,3}c", std::string(30, 'a') + "bc", 0, {0, 32}},
        {"^(?:(?=(?:a|bb)*c)(?:a|bb))*c", std::string(40, 'a') + "c", 0, {0, 41}},
        {"^([a]|[a][a])*(?![a-z])", std::string(40, 'a') + "b", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " from " + std::to_string(c.start));
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        subj = c.subject;
        EXPECT_EQ(exec_from(rx, c.start, nullptr, 0), c.match);
        // The same with the subject's value, as the pattern ops pass it.
        SV* sv = sv_new_from_bytes(gcb, subj.data(), subj.size());
        EXPECT_EQ(exec_from(rx, c.start, sv, 0), c.match);
        sv_release(gcb, sv);
        pregfree(gcb, rx);
    }
}

}  // namespace
