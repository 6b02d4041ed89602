// Program texts compiled and run through the string eval with nothing
// replaced: the values that folding, precedence, escapes, here-documents,
// transliterations and sort orders give, and the compile errors and
// warnings that the front end and the check routines report, byte for byte.
#include "support/eval_fixture.h"

namespace {

class EvalText : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }
};

TEST_F(EvalText, Values)
{
    struct Case {
        const char* text;
        const char* value;
    } cases[] = {
        // Folding and precedence.
        {"1 + 2 * 3", "7"},
        {"\"abc\" x 2", "abcabc"},
        {"2 ** 3 ** 2", "512"},
        {"-2 ** 2", "-4"},
        {"2 ** 0.5 > 1.414 && 2 ** 0.5 < 1.415 ? 'float' : 'int'", "float"},
        {"1 / 4", "0.25"},
        {"BEGIN { $^H |= 1 } 10 / 3", "3"},
        {"BEGIN { $^H |= 1 } 10 + 3.7", "13"},
        {"lc('AB') . (1 + 2)", "ab3"},
        // A constant range in list context is computed once into an array.
        {"my @r = (1..3); \"@r\"", "1 2 3"},
        {"join ',', 'a'..'c', 'x'", "a,b,c,x"},
        {"scalar(my @r = (2..5))", "4"},
        {"$a = $b = 4; $a + $b", "8"},
        {"not 1, 2", ""},
        {"($a, $b) = (2, 3); $a ** $b ** 2 == 2 ** 9 ? 'right' : 'left'", "right"},
        {"($a, $b, $c) = (10, 4, 3); $a - $b - $c", "3"},
        {"($a, $b, $c) = (0, 1, 0); $a || $b && $c ? 'and first' : 'or first'", "or first"},
        {"($a, $b, $c) = (0, 1, 1); $a ? 1 : $b ? 2 : 3", "2"},
        {"join ',', 1, 2 + 3, 4", "1,5,4"},
        {"scalar reverse 'ab', 'cd'", "dcba"},
        // Escapes, here-documents and quotes.
        {"join ',', map { ord } split //, \"\\x41\\101\\cA\\t\\0\"", "65,65,1,9,0"},
        {"\"a\\Ub\\Ec\\LD\\Qe.f\"", "aBcde\\.f"},
        {"length \"a\\x{263A}b\"", "3"},
        {"$y = 3; $x = <<END;\n$y\nEND\n$x", "3\n"},
        {"$y = 3; $x = <<'END';\n$y\nEND\n$x", "$y\n"},
        {"q(a(b)c) . q(a\\)b)", "a(b)ca)b"},
        {"# line 200 \"foo.pl\"\n__LINE__ . __FILE__", "200foo.pl"},
        {"#line 300\n__LINE__", "300"},
        {"# line300\n__LINE__", "2"},
        // Transliterations with their flags.
        {"$x = 'hello'; $x =~ tr/a-y/b-z/; $x", "ifmmp"},
        {"$x = 'hello'; ($x =~ tr/a-z//) . $x", "5hello"},
        {"$x = 'hello'; $x =~ tr/lo//d; $x", "he"},
        {"$x = 'hello'; $x =~ tr/a-z//s; $x", "helo"},
        {"$x = 'aabbcc'; $x =~ tr/a-b//cd; $x", "aabb"},
        {"$x = 'hello'; $x =~ tr/a-z/A-C/; $x", "CCCCC"},
        // Sort with the built-in orders and with a general block.
        {"join ',', sort { $a <=> $b } 10, 9, 100", "9,10,100"},
        {"join ',', sort { $b <=> $a } 10, 9, 100", "100,10,9"},
        {"join ',', sort { $b cmp $a } 'b', 'c', 'a'", "c,b,a"},
        {"join ',', sort { $a cmp $b } 10, 9, 100", "10,100,9"},
        {"join ',', sort { $a % 10 <=> $b % 10 or $a <=> $b } 13, 21, 11", "11,21,13"},
        // Split's white-space mode is taken for one blank only.
        {"join ':', split ' ', '  a b'", "a:b"},
        {"join ':', split '', 'abc'", "a:b:c"},
        {"join ':', split /\\s+ /, ' a  b  c'", " a:b:c"},
        // A ?...? match succeeds once until reset; reset walks the package's
        // pattern list, from which the ops of finished evals are gone.
        {"my $n = 0; for (1..3) { $n++ if 'x' =~ m?x? } $n", "1"},
        {"my $n = 0; for (1..3) { $n++ if 'x' =~ m?x?; reset if $_ == 2 } $n", "2"},
        {"my $n = 0; for (1..3) { eval q{ $n++ if 'x' =~ m?x? } } reset; $n", "3"},
        // Lexicals and closures.
        {"my $x = 1; { my $x = 2; } $x", "1"},
        {"sub mk { my $v = shift; sub { $v } } mk(7)->() . mk(8)->()", "78"},
    };
    for (const Case& c : cases) {
        prxtest::EvalResult r = eval(c.text);
        EXPECT_EQ(r.error, "") << c.text;
        EXPECT_EQ(r.value, c.value) << c.text;
    }
}

TEST_F(EvalText, CompileErrors)
{
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"length(1,2)", "Too many arguments for length near \"2)\n\"\n"},
        {"substr('abc');", "Not enough arguments for substr near \"'abc')\"\n"},
        {"1 = 2", "Can't modify constant item in scalar assignment at EOF\n"},
        {"'a' . 'b' = 1", "Can't modify constant item in scalar assignment at EOF\n"},
        {"BEGIN { $^H |= 0x200 } foo", "Bareword \"foo\" not allowed while \"strict subs\" in use.\n"},
        {"BEGIN { $^H |= 0x200 } a; b;",
         "Bareword \"a\" not allowed while \"strict subs\" in use.\n"
         "Bareword \"b\" not allowed while \"strict subs\" in use.\n"},
        {"print STDOUT, 1", "No comma allowed after filehandle.\n"},
        {"1 \x01 2", "Unrecognized character \\x01.\n"},
        {"\"abc", "Can't find string terminator '\"' anywhere before EOF.\n"},
        {"q(abc", "Can't find string terminator \")\" anywhere before EOF.\n"},
        {"s/a/b", "Substitution replacement not terminated.\n"},
        {"tr/a/", "Transliteration replacement not terminated.\n"},
        {"\"\\N{FOO}\"",
         "Constant(\\N{...}) unknown: (possibly a missing \"use charnames ...\") within string\n"},
        {"a < b < c", "syntax error near \"b <\"\n"},
        {"a == b == c", "syntax error near \"b ==\"\n"},
        {"1 +", "syntax error at EOF\n"},
        {"\"abc\ndef\" +", "syntax error at EOF\n  (Might be a runaway multi-line \"\" string starting on line 1)\n"},
        // Folding traps nothing: the division dies while it is compiled,
        // before the assignment before it has run.
        {"$ran = 1; 1 / 0", "Illegal division by zero.\n"},
    };
    for (const Case& c : cases) {
        prxtest::EvalResult r = eval(c.text);
        EXPECT_EQ(r.error, c.error) << c.text;
    }
    EXPECT_EQ(eval("defined $ran ? 'ran' : 'not run'").value, "not run");
}

TEST_F(EvalText, CompileWarnings)
{
    struct Case {
        const char* text;
        const char* warning;
    } cases[] = {
        {"1 EQ 1", "Use of EQ is deprecated.\n"},
        {"my $x; my $x; 1", "\"my\" variable $x masks earlier declaration in same scope.\n"},
        {"5; 1", "Useless use of a constant in void context.\n"},
        {"my @a = (1); @a =~ /x/; 1", "Applying pattern match (m//) to @array will act on scalar(@array).\n"},
        {"my @a = (1); @a =~ tr/a/b/; 1", "Applying transliteration (tr///) to @array will act on scalar(@array).\n"},
        {"my @a; sort @a; 1", "Useless use of sort in void context.\n"},
        {"if ($x = 1) { } 1", "Found = in conditional, should be ==.\n"},
        {"my $y = @a[0]; 1", "Scalar value @a[0] better written as $a[0].\n"},
        {"sub ex { exec 'x'; $y = 1 } 1",
         "Statement unlikely to be reached.\n\t(Maybe you meant system() when you said exec()?)\n"},
        {"sub ex2 { exec 'x'; die } 1", ""},
        {"f1(1); sub f1($) { } 1", "main::f1() called too early to check prototype.\n"},
    };
    for (const Case& c : cases) {
        clear_captures();
        eval(std::string("BEGIN { $^W = 1 } ") + c.text);
        EXPECT_EQ(err_text(), c.warning) << c.text;
    }
    // Without the warning switch, none of them is said.
    for (const Case& c : cases) {
        clear_captures();
        eval(std::string("BEGIN { $^W = 0 } ") + c.text);
        EXPECT_EQ(err_text(), "") << c.text;
    }
    // A guess of the reader is said whatever the switch, before the syntax
    // error it leads to.
    clear_captures();
    prxtest::EvalResult r = eval("BEGIN { $^W = 0 } 1 1");
    EXPECT_EQ(err_text(), "Number found where operator expected near \"1 1\"\n\t(Missing operator before  1?)\n");
    EXPECT_EQ(r.error, "syntax error near \"1 1\"\n");
}

}  // namespace
