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

}  // namespace
