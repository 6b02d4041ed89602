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

}  // namespace
