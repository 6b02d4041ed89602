// The optimiser's results as the compiler's summary line shows them, and
// matches that depend on the substrings it reports.
#include "re_fixture.h"

namespace {

using prxtest::Engine;

struct SummaryCase {
    const char* pattern;
    const char* summary;  // the line after the program dump
    const char* subject;  // a subject the pattern matches, if any
};

TEST_F(Engine, SummaryLineAfterTheDump)
{
    const SummaryCase cases[] = {
        {"\\Aabc", "anchored `abc' at 0 (checking anchored noscan) anchored(SBOL) minlen 3 \n", "abc"},
        {"abc$", "anchored `abc'$ at 0 (checking anchored isall) minlen 3 \n", "xabc\n"},
        {"^abc\\n?$", "anchored `abc' at 0 floating `'$ at 3..4 (checking anchored) anchored(BOL) minlen 3 \n", "abc\n"},
        {".*foo\\z",
         "floating `foo'$ at 0..2147483647 (checking floating) stclass `ANYOF[\\0-\\11\\13-\\377]' anchored(MBOL) "
         "implicit minlen 3 \n",
         "a\nbfoo"},
        {"\\Gabc", "anchored `abc' at 0 (checking anchored noscan isall) anchored(GPOS) GPOS minlen 3 \n", "abc"},
        {"x\\Gabc", "anchored `xabc' at 0 (checking anchored) GPOS minlen 4 \n", nullptr},
        {"x+y", "anchored `x' at 0 floating `xy' at 0..2147483647 (checking floating) plus minlen 2 \n", "axxy"},
        {"[ab]c\\d+", "anchored `c' at 1 (checking anchored) stclass `ANYOF[ab]' minlen 3 \n", "xbc12"},
        {"^(?:a|b)", "stclass `ANYOF[ab]' anchored(BOL) minlen 1 \n", "b"},
        {"a(?:b|cd)e", "anchored `a' at 0 floating `e' at 2..3 (checking floating) minlen 3 \n", "xacde"},
        {"(?:a|bc)*d", "floating `d' at 0..2147483647 (checking floating) stclass `ANYOF[abd]' minlen 1 \n", "bcad"},
        // A literal inside a repeat stands for its copy in the last
        // repeat that must be there; it may start up to the last copy.
        {"a\\d?(?:\\dxyz){2,3}", "anchored `a' at 0 floating `xyz' at 6..11 (checking floating) minlen 9 \n",
         "a11xyz1xyz1xyz"},
        {"a\\d?(?:\\dxyz){2,}", "anchored `a' at 0 floating `xyz' at 6..2147483647 (checking floating) minlen 9 \n",
         "a1xyz1xyz"},
        {"a(?:\\dxyz){2,}", "anchored `xyz' at 6 (checking anchored) stclass `ANYOF[a]' minlen 9 \n", "a1xyz1xyz1xyz"},
        {"ab(?:cd){2}e", "anchored `abcdcde' at 0 (checking anchored isall) minlen 7 \n", "xabcdcde"},
        {"ab(?:cd){1,3}", "anchored `abcd' at 0 floating `cd' at 2..6 (checking anchored) minlen 4 \n", "abcdcd"},
        // A repeat of no copies leaves the literal around it whole.
        {"abx{0}c", "anchored `abc' at 0 (checking anchored isall) minlen 3 \n", "abc"},
        // A lookahead that is a conditional's test narrows nothing: the
        // class holds the first character of either branch.
        {"(?(?=a)b|c)", "stclass `ANYOF[bc]' minlen 1 \n", "c"},
        {"(?(?=a)ab|cd)", "stclass `ANYOF[ac]' minlen 2 \n", "cd"},
        {"(?(?!a)b|ac)", "stclass `ANYOF[ab]' minlen 1 \n", "ac"},
        // \Z can refuse the place where its check substring stands, before
        // more pattern or as a line end under /m: never the whole match.
        {"\\Z1", "anchored `1' at 0 (checking anchored) minlen 1 \n", nullptr},
        {"a\\Z", "anchored `a'$ at 0 (checking anchored) minlen 1 \n", "ba\n"},
        // An empty run before an end anchor stands where the anchor does,
        // also when a repeat follows it.
        {"(?m)\\B$\\s+", "anchored `'$ at 0 stclass `NBOUND' minlen 1 \n", nullptr},
    };
    for (const SummaryCase& c : cases) {
        SCOPED_TRACE(c.pattern);
        clear_err();
        gcb->debug_flags |= 0x200;
        re_compiled* rx = compile(c.pattern);
        gcb->debug_flags &= ~0x200u;
        ASSERT_NE(rx, nullptr) << err_text();
        std::string text = err_text();
        size_t from = text.size() >= 2 ? text.rfind('\n', text.size() - 2) : std::string::npos;
        EXPECT_EQ(text.substr(from == std::string::npos ? 0 : from + 1), c.summary);
        if (c.subject) {
            EXPECT_EQ(match(rx, c.subject), 1);
        }
        pregfree(gcb, rx);
    }
}

// A literal repeated a fixed number of times is collected up to 4096
// bytes: beyond that a longer substring rejects no more places, and the
// copies of a nested repeat would grow far past the pattern (a thousand
// million bytes for (?:a{32766}){32766}). The part kept still stands at its
// offset, and matches come out as before.
std::string times(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += s;
    return out;
}

TEST_F(Engine, RepeatedLiteralsAreCollectedUpToALimit)
{
    struct Case {
        const char* pattern;
        std::string anchored;       // the anchored substring, at offset 0
        int32_t min_length;
        std::string subject;        // matched whole
        std::string short_subject;  // one copy short: no match
    } cases[] = {
        {"a{5000}b", times("a", 4096), 5001, times("a", 5000) + "b", times("a", 4999) + "b"},
        {"x(?:ab){3000}c", "x" + times("ab", 2047), 6002, "x" + times("ab", 3000) + "c", "x" + times("ab", 2999) + "c"},
        {"(?:a{100}){50}", times("a", 4000), 5000, times("a", 5000), times("a", 4999)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        SV* anchored = rx->substrings[RE_SUBSTR_ANCHORED].substr;
        ASSERT_NE(anchored, nullptr);
        EXPECT_EQ(std::string(sv_pv(anchored), sv_cur(anchored)), c.anchored);
        EXPECT_EQ(rx->substrings[RE_SUBSTR_ANCHORED].min_offset, 0);
        EXPECT_EQ(rx->analysis_flags & REA_CHECK_ALL, 0u);
        EXPECT_EQ(rx->min_length, c.min_length);
        EXPECT_EQ(match(rx, "z" + c.subject + "z"), 1);
        EXPECT_EQ(rx->start_offsets[0], 1);
        EXPECT_EQ(rx->end_offsets[0], static_cast<int32_t>(c.subject.size()) + 1);
        EXPECT_EQ(match(rx, c.short_subject), 0);
        pregfree(gcb, rx);
    }
}

// The nested repeat compiles in a few megabytes at most: the study's
// literal stays within its limit whatever the counts multiply to.
TEST_F(Engine, NestedRepeatCountsCompileInLittleMemory)
{
    uint64_t live = 0;
    for (auto& p : h->pools)
        live += p->live_bytes;
    h->fail.byte_limit = live + (4u << 20);
    re_compiled* rx = compile("(?:a{32766}){32766}");
    h->fail.byte_limit = 0;
    ASSERT_NE(rx, nullptr) << err_text();
    EXPECT_EQ(rx->min_length, 32766 * 32766);
    EXPECT_EQ(match(rx, std::string(100, 'a')), 0);
    pregfree(gcb, rx);
}

}  // namespace
