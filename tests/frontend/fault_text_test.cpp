// Program texts at the seams of the interpreter: empty matches over UTF-8
// text, the pool after string evals that fail to compile, diagnostics that
// describe only their own eval, and what a scope's end restores.
#include "support/eval_fixture.h"

#include <string>
#include <vector>

#include "ds/src/prxrun.h"

namespace {

class FaultText : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }
};

// An empty match in UTF-8 text moves on by whole characters: split's pieces,
// global matches and substitutions never cut a character in two.
TEST_F(FaultText, EmptyMatchesStepByCharactersInUtf8Text)
{
    struct Case {
        const char* text;
        const char* value;
    } cases[] = {
        {"my @a = split //, \"\\x{263a}b\\x{e9}\"; join ',', map { length } @a", "1,1,1"},
        {"my @a = split //, \"\\x{263a}b\\x{e9}\"; scalar(@a)", "3"},
        {"my @a = split //, \"\\x{263a}b\\x{e9}\"; join ',', map { ord } @a", "9786,98,233"},
        {"my @a = split /(?:)/, \"\\x{263a}b\\x{e9}\"; join ',', map { length } @a", "1,1,1"},
        {"my @a = split //, \"\\x{263a}b\\x{e9}\", 2; join ',', map { length } @a", "1,2"},
        {"my @a = split /x*/, \"\\x{263a}\\x{263b}\"; join ',', map { ord } @a", "9786,9787"},
        {"my @a = split /(?:)/, \"a\\x{100}\"; join ',', map { ord } @a", "97,256"},
        {"my $s = \"\\x{263a}b\\x{e9}\"; my @p; while ($s =~ //g) { push @p, pos($s) } join ',', @p", "0,1,2,3"},
        {"my $s = \"\\x{263a}b\\x{e9}\"; my @m = ($s =~ /()/g); scalar(@m)", "4"},
        {"my $s = \"\\x{263a}b\"; $s =~ s//-/g; join ',', length($s), map { ord } split //, $s", "5,45,9786,45,98,45"},
        // Byte text is unchanged.
        {"my @a = split //, \"abc\"; join ',', @a", "a,b,c"},
        {"my $s = 'ab'; my @p; while ($s =~ //g) { push @p, pos($s) } join ',', @p", "0,1,2"},
    };
    for (const Case& c : cases) {
        prxtest::EvalResult r = eval(c.text);
        EXPECT_EQ(r.error, "") << c.text;
        EXPECT_EQ(r.value, c.value) << c.text;
    }
}

}  // namespace

namespace {

class FaultPool : public FaultText {
protected:
    // Live bytes of the interpreter's pool apart from the captured text,
    // once the temporaries the evaluations left are gone.
    uint64_t live()
    {
        tmps_free_to_floor(gcb);
        auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
        return pool->live.size();
    }
};

// A string eval whose text does not compile gives back every op its parse
// had built, those on the parser's stack when it gave up and those that the
// error recovery popped or dropped: failing evals leave the pool as it was.
TEST_F(FaultPool, FailingEvalsGiveTheirOpsBack)
{
    const char* texts[] = {
        "1 + 2",
        "foo(1, 2 +",
        "$a = (1, [2, 3]",
        "if (1) { 1 +* 2 } 3; 4 4",
        "my ($x, $y); $x = (1, 'a' . $y",
        "L1: print 'a', 'b'",
        "L2: foo 1; L3: bar 2 3; L4: baz(4",
        "sub f { my $x = 1; $x + } 3",
        "eval q{$h{a}{b} = [1, 2 +}; 1",
        "$x =~ /a$y/ && s/b/c/ && (1, 2",
        // The recovery drops a pattern or transliteration op while the
        // lexer is still filling it in: it must live until the parse ends.
        "1 1 y/a/b/; 3",
        "1 ) ) tr/ab/cd/; 3",
        "1 1 1 m/a$x/; 3",
        "1 1 s/a$x/b$y/e; 3",
        // A constant pattern that does not compile dies in the middle of the
        // parse, with its op, its text and any replacement still unlinked.
        "qr/(/",
        "$x =~ s/(/a$y/",
        "$x =~ s/a[/b . 'c'/e",
        "split /a{2,1}/, $x",
        // A fatal error in the lexer after the recovery dropped values, with
        // ops on the stack and in the interpolated string.
        "1 1 y/a/b/; $x . \"a$y\\Q\\Q\\Q\\Q\\Q\\Q\\Q\\Q\\Q.\"",
        "($a, [1, $b . \"\\Q\\Q\\Q\\Q\\Q\\Q\\Q\\Q\\Q.\"",
    };
    for (const char* text : texts) {
        std::vector<uint64_t> sizes;
        // The first rounds may grow tables for good; later ones add nothing.
        for (int i = 0; i < 8; i++) {
            eval(text);
            sizes.push_back(live());
        }
        for (size_t i = 5; i < sizes.size(); i++)
            EXPECT_EQ(sizes[i], sizes[4]) << text << " round " << i;
    }
}

// The runaway-string hint of a syntax error describes a multi-line string
// of the same text only: an earlier eval's string, ended on the line before
// the error's line number, gives no hint; one in the same text does.
TEST_F(FaultText, RunawayHintStaysWithItsOwnEval)
{
    prxtest::EvalResult first = eval("$x = qq{a\nb\nc}; 1");
    EXPECT_EQ(first.error, "");
    EXPECT_EQ(first.value, "1");
    prxtest::EvalResult second = eval("\n\n1 )");
    EXPECT_EQ(second.error, "syntax error near \"1 )\n\"\n");

    prxtest::EvalResult same = eval("$x = qq{a\nb\nc}; 1 )");
    EXPECT_EQ(same.error,
              "syntax error near \"1 )\n\"\n  (Might be a runaway multi-line {} string starting on line 1)\n");
}

// A repeating format line that makes no headway dies "Runaway format" even
// when a write that died before left the accumulator's line count past the
// point of the first check: a second, wider format of the same kind used to
// repeat forever.
TEST_F(FaultText, RunawayFormatAfterARunawayWrite)
{
    const char* const widths[] = {"^<<<<", "^<<<<<<", "^<<<<<<<<<<"};
    for (const char* w : widths) {
        SCOPED_TRACE(w);
        std::string text = std::string("our $t = \"ab cd\"; format STDOUT =\n") + w + "~~\n*$t\n.\nwrite; 1";
        prxtest::EvalResult r = eval(text.c_str());
        EXPECT_EQ(r.error, "Runaway format.\n");
    }
    EXPECT_EQ(eval("1 + 1").value, "2");
}

// goto LABEL leaves an eval block for a label of the enclosing string eval
// (every text here runs as one), and a later goto finds its labels as well.
TEST_F(FaultText, GotoLeavesAnEvalBlock)
{
    struct Case {
        const char* text;
        const char* value;
        const char* error;
    } cases[] = {
        {"my $n = 0; eval { goto OUT; }; $n = 5; OUT: $n + 1", "1", ""},
        {"my $n = 0; eval { eval { goto OUT; }; $n = 7; }; $n = 5; OUT: $n + 1", "1", ""},
        {"my $r = eval q{ my $n = 0; eval { goto OUT; }; $n = 5; OUT: $n + 1 }; \"$r|$@\"", "1|", ""},
        {"my $n = 0; eval { goto A; }; A: $n++; goto B if $n < 3; $n = 10; B: $n", "1", ""},
        {"my $n = 0; eval { goto NOWHERE; }; $@", "Can't find label NOWHERE.\n", ""},
    };
    for (const Case& c : cases) {
        prxtest::EvalResult r = eval(c.text);
        EXPECT_EQ(r.error, c.error) << c.text;
        EXPECT_EQ(r.value, c.value) << c.text;
    }
}

// Each \Q quotes the \Q inside it again, doubling its backslashes: nested
// ones are taken while the literal text they could build stays within 16
// MiB, and a deeper one is refused at once instead of folding a text of
// gigabytes. Closed ones do not count.
TEST_F(FaultText, NestedQuoteModifiersAreBounded)
{
    auto quotes = [](int n, const char* close) {
        std::string t = "\"";
        for (int i = 0; i < n; i++)
            t += "\\Qa.";
        t += close;
        return t + "\"";
    };
    struct Case {
        int depth;
        const char* length;
    } cases[] = {{8, "518"}, {9, "1031"}, {11, "4105"}, {12, "8202"}};
    for (const Case& c : cases) {
        prxtest::EvalResult r = eval("length " + quotes(c.depth, ""));
        EXPECT_EQ(r.error, "") << c.depth;
        EXPECT_EQ(r.value, c.length) << c.depth;
    }
    std::string closed;
    for (int i = 0; i < 20; i++)
        closed += "\\Qa.\\E";
    EXPECT_EQ(eval("\"" + closed + "\" eq 'a\\.' x 20 ? 'same' : 'differs'").value, "same");
    prxtest::EvalResult deep = eval("my $x = 1; " + quotes(40, "") + "; $x");
    EXPECT_EQ(deep.error.rfind("\\Q nested 18 deep would quote more than 16777216 bytes", 0), 0u) << deep.error;
    EXPECT_EQ(deep.value, "");
}

}  // namespace
