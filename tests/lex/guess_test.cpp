// The reader's guesses and diagnostics: subscripts against character
// classes and quantifiers, indirect-object method calls, the comma check
// after print-like operators, "operator expected" and the warnings of
// suspicious texts.
#include "lex/read_fixture.h"

#include "ds/src/prxgv.h"

namespace lextest {
namespace {

class Guess : public Reader {
protected:
    OP pattern{};

    // Whether the text continues a variable; inside a pattern when asked.
    bool subscript(const char* text, bool in_pattern)
    {
        char* s = set_text(text);
        gcb->bracket_depth = 0;
        gcb->in_pattern = in_pattern ? &pattern : nullptr;
        bool r = lex_guess_subscript(gcb, s);
        gcb->in_pattern = nullptr;
        return r;
    }
    void warnings_on() { compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL); }
};

TEST_F(Guess, SubscriptOrClass)
{
    struct Case {
        const char* text;
        bool outside, inside;
    } cases[] = {
        {"[2]", true, true},         // a digit and "]": -98
        {"[12]", true, true},        // two digits and "]": -8
        {"[abc]", true, false},      // letters read as a class
        {"[$y]", true, true},        // "$" first: -1
        {"[$i+1]", true, true},
        {"[]", true, false},
        {"[^a]", true, false},
        {"[a-z]", true, false},
        {"[\\d]", true, false},
        {"[-1]", true, true},
        {"[ab", true, true},         // no "]": an expression
        {"[print]", true, true},     // a keyword weighs for a subscript
        {"{3}", true, false},        // quantifiers
        {"{2,}", true, false},
        {"{2,5}", true, false},
        {"{a}", true, true},
        {"{2,a}", true, true},
        {"->[0]", true, true},
        {"->{a}", true, true},
        {"->x", false, false},
        {"-1", false, false},
        {"x", false, false},
        {"(", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(subscript(c.text, false), c.outside) << c.text;
        EXPECT_EQ(subscript(c.text, true), c.inside) << c.text << " in a pattern";
    }
    // Inside an open bracket everything continues the variable.
    char* s = set_text("x");
    gcb->bracket_depth = 1;
    EXPECT_TRUE(lex_guess_subscript(gcb, s));
    gcb->bracket_depth = 0;
}

// A variable that names a known scalar weighs for a subscript.
TEST_F(Guess, KnownScalarsInsideAClass)
{
    EXPECT_FALSE(subscript("[\\t$xy]", true));  // 2 + 40 - 10
    gv_fetch_by_name(gcb, "xy", GV_ADD, SVt_PV);
    EXPECT_TRUE(subscript("[\\t$xy]", true));   // 2 + 40 - 100
}

TEST_F(Guess, InterpolatedPatternSubscripts)
{
    EXPECT_EQ(tokens("/$x[1]/"),
              "PATTERN_OP(match 0x0) ( $ BAREWORD('x' entered) [ TERM_OP('1') ] ) ; EOF");
    EXPECT_EQ(tokens("/$x[ab]/"),
              "PATTERN_OP(match 0x0) ( $ BAREWORD('x' entered) ADD_OP(concat) TERM_OP('[ab]') ) ; EOF");
    EXPECT_EQ(tokens("/$x{2}/"),
              "PATTERN_OP(match 0x0) ( $ BAREWORD('x' entered) ADD_OP(concat) TERM_OP('{2}') ) ; EOF");
    EXPECT_EQ(tokens("\"$x{2}\""), "FUNC_PAREN(stringify) ( $ BAREWORD('x' entered) { TERM_OP('2') ; } ) ; EOF");
}

TEST_F(Guess, MethodCallsOfTwoWords)
{
    struct Case {
        const char* text;
        int32_t result;
        const char* queued;
        size_t scan_pos;
    } cases[] = {
        {"Foo (1)", METHOD_NAME_PAREN, "BAREWORD('Foo' bare)", 4},
        {"Foo 1", METHOD_NAME, "BAREWORD('Foo' bare)", 4},
        {"Foo:: (1)", METHOD_NAME_PAREN, "BAREWORD('Foo' bare)", 6},
        {"Foo => 1", 0, "", 0},
        {"print 1", 0, "", 0},
    };
    for (const Case& c : cases) {
        open("x");
        char* s = set_text(c.text);
        strcpy(gcb->token_buffer, "new");
        int32_t r = lex_guess_method_call(gcb, s, nullptr);
        EXPECT_EQ(r, c.result) << c.text;
        if (r) {
            EXPECT_EQ(offset(gcb->scan_pos), c.scan_pos) << c.text;
            EXPECT_EQ(gcb->expect, XTERM);
            EXPECT_EQ(next(), c.queued) << c.text;
        } else {
            EXPECT_EQ(gcb->queued_count, 0) << c.text;
        }
    }
}

TEST_F(Guess, MethodCallsOnAVariable)
{
    open("x");
    char* s = set_text("$obj (1)");
    strcpy(gcb->token_buffer, "meth");
    EXPECT_EQ(lex_guess_method_call(gcb, s, nullptr), METHOD_NAME_PAREN);
    EXPECT_EQ(offset(gcb->scan_pos), 0u);
    EXPECT_EQ(gcb->expect, XREF);
    EXPECT_EQ(gcb->queued_count, 0);
    // Not after print, nor for a capitalised first word, nor with a glob.
    strcpy(gcb->token_buffer, "Meth");
    EXPECT_EQ(lex_guess_method_call(gcb, s, nullptr), 0);
    strcpy(gcb->token_buffer, "meth");
    gcb->last_list_op = OP_PRINT;
    EXPECT_EQ(lex_guess_method_call(gcb, s, nullptr), 0);
    gcb->last_list_op = 0;
}

TEST_F(Guess, TheFirstWordsGlob)
{
    GV* handle = gv_ensure_handle(gcb, gv_fetch_by_name(gcb, "FH", GV_ADD, SVt_PVIO));
    open("x");
    char* s = set_text("Foo 1");
    strcpy(gcb->token_buffer, "FH");
    EXPECT_EQ(lex_guess_method_call(gcb, s, handle), 0) << "a handle is no method";
    // With a glob of the first word, the second must be a known class or
    // handle.
    GV* first_gv = gv_fetch_by_name(gcb, "first", GV_ADD, SVt_PVCV);
    SV* cv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, cv, SVt_PVCV);
    gv_gp(first_gv)->gp_cv = sv_as<CV>(cv);
    EXPECT_EQ(lex_guess_method_call(gcb, s, first_gv), 0);
    gv_stash_by_name(gcb, "Foo", 1);
    EXPECT_EQ(lex_guess_method_call(gcb, s, first_gv), METHOD_NAME);
    next();
    // A sub whose prototype begins with "*" takes a handle, no method.
    sv_set_bytes(gcb, cv, ";*", 2);
    EXPECT_EQ(lex_guess_method_call(gcb, s, first_gv), 0);
}

TEST_F(Guess, CommaAfterTheFirstWord)
{
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {" FOO, 1", "No comma allowed after filehandle.\n"},
        {" (FOO, 1)", "No comma allowed after filehandle.\n"},
        {" length, 1", ""},
        {" FOO 1", ""},
        {" $x, 1", ""},
        {" FOO", ""},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        char* s = set_text(c.text);
        run([&] { lex_forbid_comma(gcb, s, "print", "filehandle"); });
        EXPECT_EQ(err_text(), c.error) << c.text;
    }
}

TEST_F(Guess, FunctionLookingPrint)
{
    warnings_on();
    struct Case {
        const char* text;
        const char* warning;
    } cases[] = {
        {" (1) + 2", "print (...) interpreted as function.\n"},
        {" (1);", ""},
        {" (1) or die", ""},
        {" (1)", "print (...) interpreted as function.\n"},
        {" (1, (2)) * 3", "print (...) interpreted as function.\n"},
        {"(1) + 2", ""},
    };
    for (const Case& c : cases) {
        char* s = set_text(c.text);
        lex_forbid_comma(gcb, s, "print", "filehandle");
        EXPECT_EQ(take_warnings(), c.warning) << c.text;
    }
}

TEST_F(Guess, OperatorExpected)
{
    open("1 2");
    EXPECT_EQ(read_rest(), "TERM_OP('1') TERM_OP('2') ; EOF");
    EXPECT_EQ(take_warnings(), "Number found where operator expected near \"1 2\"\n\t(Missing operator before  2?)\n");
    open("foo bar $x");
    EXPECT_EQ(read_rest(6), "METHOD_NAME('foo' bare) BAREWORD('bar' bare) $ BAREWORD('x' entered) ; EOF");
    take_warnings();
    open("$x $y");
    read_rest();
    EXPECT_EQ(take_warnings(), "Scalar found where operator expected near \"$x $y\"\n\t(Missing operator before $y?)\n");
    open("foo $y");
    next();
    EXPECT_EQ(take_warnings(), "");
    open("1;\n2 3");
    gcb->line_start = sv_pv(gcb->line_buffer) + 3;
    read_rest();
    EXPECT_EQ(take_warnings(),
              "Number found where operator expected near \"2 3\"\n\t(Missing operator before  3?)\n");
    open("x\n2");
    gcb->expect = XOPERATOR;
    gcb->line_start = sv_pv(gcb->line_buffer) + 2;
    gcb->scan_pos = gcb->line_start;
    gcb->prev_token_pos = gcb->line_start;
    next();
    EXPECT_EQ(take_warnings().substr(0, 39), "Number found where operator expected ne");
}

TEST_F(Guess, OperatorExpectedHints)
{
    // The token before the previous one was a word: predeclare it.
    open("x");
    char* base = set_text("foo bar 1");
    gcb->prev_prev_token_pos = base;
    gcb->prev_token_pos = base + 3;
    gcb->scan_pos = base + 7;
    gcb->parse_lookahead = -1;
    lex_operator_expected(gcb, "Number", base + 9);
    EXPECT_EQ(take_warnings(),
              "Number found where operator expected near \"foo bar 1\"\n\t(Do you need to predeclare foo?)\n");
    EXPECT_EQ(gcb->scan_pos, base + 7) << "the position comes back";
    // At the start of the line: a missing semicolon.
    gcb->prev_token_pos = base;
    gcb->prev_prev_token_pos = nullptr;
    lex_operator_expected(gcb, "Bareword", nullptr);
    EXPECT_EQ(take_warnings().find("\t(Missing semicolon on previous line?)\n") != std::string::npos, true);
    EXPECT_EQ(gcb->declaring, 0);
}

TEST_F(Guess, WarningsOfSuspiciousTexts)
{
    warnings_on();
    struct Case {
        const char* text;
        const char* warning;
    } cases[] = {
        {"$x[1,2]", "Multidimensional syntax $x[1,2] not supported.\n"},
        {"$x[$i]", ""},
        {"@x[1]", "Scalar value @x[1] better written as $x[1].\n"},
        {"@x{a}", "Scalar value @x{a} better written as $x{a}.\n"},
        {"@x[1,2]", ""},
        {"-foo", ""},
        {"$SIG{INT} = handler;", "Unquoted string \"handler\" may clash with future reserved word.\n"},
    };
    for (const Case& c : cases) {
        tokens(c.text);
        EXPECT_EQ(take_warnings(), c.warning) << c.text;
    }
    GV* gv = gv_fetch_by_name(gcb, "handler", GV_ADD, SVt_PVCV);
    SV* cv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, cv, SVt_PVCV);
    gv_gp(gv)->gp_cv = sv_as<CV>(cv);
    first("$SIG{INT} = handler;", 3);
    EXPECT_EQ(take_warnings(), "You need to quote \"handler\".\n");
}

TEST_F(Guess, WarningsOfOperatorsAndWords)
{
    warnings_on();
    open("&foo");
    gcb->expect = XOPERATOR;
    EXPECT_EQ(next(), "BIT_AND_OP(bit_and)");
    EXPECT_EQ(take_warnings(), "Semicolon seems to be missing.\n");
    first("1 *foo", 3);
    EXPECT_EQ(take_warnings(),
              "Unquoted string \"foo\" may clash with future reserved word.\n"
              "Operator or semicolon missing before *foo.\nAmbiguous use of * resolved as operator *.\n");
    open("x");
    gcb->quote_op_kind = OP_STRINGIFY;
    char* s = set_text("\\1");
    gcb->scan_pos = s;
    gcb->expect = XTERM;
    EXPECT_EQ(next(), "REF_GEN");
    EXPECT_EQ(take_warnings(), "Can't use \\1 to mean $1 in expression.\n");
    gcb->quote_op_kind = 0;
    first("abs - 1", 2);
    EXPECT_EQ(take_warnings(), "Warning: Use of \"abs\" without parens is ambiguous.\n");
    first("abs -1", 2);
    EXPECT_EQ(take_warnings(), "");
    first("abs(1) -1", 5);
    EXPECT_EQ(take_warnings(), "");
}

TEST_F(Guess, CommalessFormatArguments)
{
    warnings_on();
    open("x");
    set_text("$a $b");
    gcb->format_bracket_depth = 1;
    gcb->bracket_depth = 1;
    gcb->expect = XTERM;
    EXPECT_EQ(next(), "$");
    EXPECT_EQ(next(), "BAREWORD('a' entered)");
    EXPECT_EQ(next(), ",");
    EXPECT_EQ(take_warnings(), "Use of comma-less variable list is deprecated.\n");
    EXPECT_EQ(next(), "$");
    gcb->format_bracket_depth = 0;
    gcb->bracket_depth = 0;
}

}  // namespace
}  // namespace lextest
