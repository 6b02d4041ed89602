// Program texts at the lexer's limits: brackets deeper than its stack
// starts, code points past the integer range, here-documents inside
// substitution replacements.
#include "support/eval_fixture.h"

#include <string>

namespace {

struct Case {
    std::string text;
    const char* value;
    const char* error;
};

class LexText : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }

    // Each text gives its value or its $@, and the interpreter works on.
    template <size_t N>
    void expect_results(const Case (&cases)[N])
    {
        for (const Case& c : cases) {
            prxtest::EvalResult r = eval(c.text);
            EXPECT_EQ(r.error, c.error) << c.text.substr(0, 60);
            EXPECT_EQ(r.value, c.value) << c.text.substr(0, 60);
            EXPECT_EQ(eval("1 + 1").value, "2") << c.text.substr(0, 60);
        }
    }
};

std::string repeat(const char* piece, int n)
{
    std::string t;
    for (int i = 0; i < n; i++)
        t += piece;
    return t;
}

// Square brackets count as open brackets as curly ones do: a closing curly
// bracket after many of them, or curly ones opened that deep, stay within
// the stack of open brackets however deep they go.
TEST_F(LexText, DeepBracketsStayWithinTheirStack)
{
    const Case cases[] = {
        {repeat("[", 200) + "}", "", "syntax error at EOF\n"},
        {repeat("[", 130) + "{" + repeat("]", 3) + "}}", "", "syntax error near \"{]\"\n"},
        {"my $r = " + repeat("[", 150) + "{a => 7}" + repeat("]", 150) + "; $r = $r->[0] for 1 .. 150; $r->{a}", "7",
         ""},
        {"my $x = 0; " + repeat("{ ", 500) + "$x++;" + repeat(" }", 500) + " $x", "1", ""},
        {"my @a = (1); " + repeat("{ [", 130) + "$a[0]" + repeat("] }", 130) + "; 2", "2", ""},
    };
    expect_results(cases);
}

// A code point written with more hexadecimal digits than an integer holds
// stops at the largest unsigned integer of the interpreter.
TEST_F(LexText, WideHexadecimalEscapesSaturate)
{
    const Case cases[] = {
        {"\"\\x{ffffffffffffffffffff}\" eq \"\\x{ffffffff}\" ? 'same' : 'differs'", "same", ""},
        {"\"\\x{1000000000000000000000000000000000}\" eq \"\\x{ffffffff}\" ? 'same' : 'differs'", "same", ""},
        {"\"\\x{100000000}\" eq \"\\x{ffffffff}\" ? 'same' : 'differs'", "same", ""},
        {"\"\\x{fffffffe}\" eq \"\\x{ffffffff}\" ? 'same' : 'differs'", "differs", ""},
        {"length \"a\\x{fffffffffffffffffffff}b\"", "3", ""},
        {"ord \"\\x{7fffffff}\"", "2147483647", ""},
        {"ord \"\\x{10ffff}\"", "1114111", ""},
    };
    expect_results(cases);
}

// Only the code of an s///e takes its here-documents from the text after
// it; in any other replacement the document is looked for in the
// replacement itself, also after an s///e earlier in the text.
TEST_F(LexText, HereDocumentsInReplacements)
{
    const Case cases[] = {
        {"$_ = 'a'; s/a/@{[<<E]}/; $_", "", "Can't find string terminator \"E\" anywhere before EOF.\n"},
        {"$_ = 'a'; s/a/@{[<<E]}\nxy\nE\n/; $_", "xy\n\n", ""},
        {"$_ = 'b'; s/b/1/e; s/1/@{[<<E]}/; $_", "", "Can't find string terminator \"E\" anywhere before EOF.\n"},
        {"$_ = 'a'; s/a/<<E/e;\nxy\nE\n$_", "xy\n", ""},
        {"$_ = 'a'; s/a/<<E . <<F/e;\nxy\nE\nzw\nF\njoin '|', grep { length } split /\\n/", "xy|zw", ""},
    };
    expect_results(cases);
}

}  // namespace
