// Exact results of program texts: powers of zero, pack and unpack positions
// and addresses, calls through undefined values, what a string eval's compile
// takes from the statement that runs it, empty case-modifier groups, the
// types handed to constant-overloading handlers, and the formatter's mixing
// of byte and UTF-8 text.
#include "support/eval_fixture.h"

#include <string>

namespace {

class ExactText : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }

    struct Case {
        const char* text;
        const char* value;
        const char* error;
    };

    void run(const Case* cases, size_t n)
    {
        for (size_t i = 0; i < n; i++) {
            prxtest::EvalResult r = eval(cases[i].text);
            EXPECT_EQ(r.error, cases[i].error) << cases[i].text;
            EXPECT_EQ(r.value, cases[i].value) << cases[i].text;
        }
    }
};

// A zero base gives 1 for a zero exponent and 0 for every other one.
TEST_F(ExactText, PowersOfZero)
{
    const Case cases[] = {
        {"0 ** -2", "0", ""},
        {"0 ** -0.5", "0", ""},
        {"my $z = 0; $z ** -1", "0", ""},
        {"-0.0 ** -3", "0", ""},
        {"0 ** 0", "1", ""},
        {"0 ** 3", "0", ""},
        {"2 ** -1", "0.5", ""},
    };
    run(cases, std::size(cases));
}

// "@" fills with NUL bytes or cuts the packed text to an absolute position,
// and moves unpack's position there, dying past the end of the data. In a
// double-quoted template "@4" is an array and interpolates.
TEST_F(ExactText, PackAndUnpackPositions)
{
    const Case cases[] = {
        {"unpack('H*', pack('a @4 a', 'm', 'n'))", "6d0000006e", ""},
        {"length pack('a5 @2', 'abcde')", "2", ""},
        {"pack('a5 @2', 'abcde')", "ab", ""},
        {"length pack('@3')", "3", ""},
        {"unpack('H*', pack('x3 @1'))", "00", ""},
        {"length pack('a3 @*', 'abc')", "0", ""},
        {"unpack('H*', pack('a @0 a', 'm', 'n'))", "6e", ""},
        {"join ',', unpack('C @0 C', \"\\x01\\x02\")", "1,1", ""},
        {"join ',', unpack('C2 @1 C', \"\\x01\\x02\\x03\")", "1,2,2", ""},
        {"join ',', unpack('@2 C', \"\\x01\\x02\\x03\")", "3", ""},
        {"join ',', unpack('@3 C', 'abc')", "", ""},
        {"unpack('@5', 'abc')", "", "@ outside of string.\n"},
        {"my @x; unpack('H*', pack(\"a @x a\", 'm', 'n'))", "6d6e", ""},
    };
    run(cases, std::size(cases));
}

// unpack "p" and "P" read only addresses that pack handed out for values
// still alive, and no further than the value's length.
TEST_F(ExactText, UnpackReadsOnlyLiveAddressesThatPackGave)
{
    const Case cases[] = {
        {"my $s = 'abc'; unpack('p', pack('p', $s))", "abc", ""},
        {"my $s = \"ab\\0cd\"; unpack('p', pack('p', $s))", "ab", ""},
        {"my $s = 'abcdef'; unpack('P3', pack('P', $s))", "abc", ""},
        {"my $s = 'abc'; length unpack('P100', pack('p', $s))", "3", ""},
        {"my $s = 'abc'; join ',', map { defined $_ ? $_ : 'u' } unpack('p2', pack('p2', $s, $s))", "abc,abc", ""},
        {"defined unpack('p', pack('p', undef)) ? 'def' : 'undef'", "undef", ""},
        // Addresses pack did not hand out.
        {"defined unpack('p', pack('Q', 4096)) ? 'def' : 'undef'", "undef", ""},
        {"defined unpack('P8', pack('Q', 123456789)) ? 'def' : 'undef'", "undef", ""},
        {"my $s = 'abcd'; my $p = pack('p', $s); defined unpack('p', pack('Q', unpack('Q', $p) + 1)) ? 'def' : 'undef'",
         "undef", ""},
        // The value's string is gone.
        {"$g = 'abcdef'; my $p = pack('p', $g); undef $g; defined unpack('p', $p) ? 'def' : 'undef'", "undef", ""},
        {"$g = 'abcdef'; my $p = pack('P', $g); undef $g; defined unpack('P6', $p) ? 'def' : 'undef'", "undef", ""},
    };
    run(cases, std::size(cases));
    // Many packed addresses, most of them of values long gone, leave the
    // live ones readable.
    prxtest::EvalResult r = eval("my $keep = 'kept'; my $p = pack('p', $keep); "
                                 "for my $i (1 .. 5000) { my $t = pack('p', \"v$i\") } unpack('p', $p)");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.value, "kept");
}

// A call through a value that is not a reference takes the sub of that name;
// an undefined value names none.
TEST_F(ExactText, CallThroughUndefinedValue)
{
    const Case cases[] = {
        {"my $x; $x->()", "", "Can't use an undefined value as a subroutine reference.\n"},
        {"my $x; &$x", "", "Can't use an undefined value as a subroutine reference.\n"},
        {"my $x; &$x(1)", "", "Can't use an undefined value as a subroutine reference.\n"},
        {"my $x = ''; $x->()", "", "Undefined subroutine &main:: called.\n"},
        {"my $x = 'nosuch'; $x->()", "", "Undefined subroutine &main::nosuch called.\n"},
        {"sub named { 'ran' } my $x = 'named'; $x->()", "ran", ""},
    };
    run(cases, std::size(cases));
}

// A string eval compiles in the package of the statement that runs it, and
// every name the compile gives follows that package.
TEST_F(ExactText, EvalCompilesInTheRunningStatementsPackage)
{
    const Case cases[] = {
        {"package P1; my $p = eval q{ __PACKAGE__ }; package main; $p", "P1", ""},
        {"package P2; my $p = eval q{ eval q{ __PACKAGE__ } }; package main; $p", "P2", ""},
        {"package P3; my $p = eval q{ package Q3; __PACKAGE__ }; package main; $p . ':' . __PACKAGE__", "Q3:main", ""},
        {"package P4; eval q{ sub f4 { (caller(0))[3] } }; package main; P4::f4()", "P4::f4", ""},
        {"package P5; my $p = eval q{ $v5 = 5; \\$v5 }; package main; $P5::v5", "5", ""},
        {"package P6; sub run6 { eval q{ __PACKAGE__ } } package main; P6::run6()", "P6", ""},
    };
    run(cases, std::size(cases));
}

// A string eval's compile warns about useless values in void context as a
// program's does, whatever the context the eval runs in, under the warning
// switch in force when it runs.
TEST_F(ExactText, EvalCompileWarnsInVoidContext)
{
    struct Warn {
        const char* text;
        const char* warning;
    } cases[] = {
        {"$^W = 1; eval q{ 'str'; 1 }; 5", "Useless use of a constant in void context.\n"},
        {"$^W = 1; my $r = eval q{ 'str'; 1 }; 5", "Useless use of a constant in void context.\n"},
        {"$^W = 1; eval q{ 'str' }; 5", "Useless use of a constant in void context.\n"},
        {"$^W = 1; eval q{ my @a; sort @a; 1 }; 5", "Useless use of sort in void context.\n"},
        {"$^W = 1; eval q{ 1; 0 }; 5", ""},
        {"$^W = 0; eval q{ 'str'; 1 }; 5", ""},
    };
    for (const Warn& c : cases) {
        clear_captures();
        prxtest::EvalResult r = eval(c.text);
        EXPECT_EQ(r.value, "5") << c.text;
        EXPECT_EQ(err_text(), c.warning) << c.text;
    }
    // A statement after the eval is still told apart.
    EXPECT_EQ(eval("$^W = 1; my $n = 0; eval q{ $n++; 'x'; $n++ }; $n").value, "2");
}

// An empty case-modifier group holds an empty string: the text after it is
// joined on, and an open \L or \U closed by the next one gives nothing.
TEST_F(ExactText, EmptyCaseModifierGroups)
{
    const Case cases[] = {
        {R"("x\Q\Ey")", "xy", ""},
        {R"("x\U\E")", "x", ""},
        {R"("[\Q\E]")", "[]", ""},
        {R"("x\U\LABC")", "xabc", ""},
        {R"("\Q\Ey")", "y", ""},
        {R"("x\u\Ey")", "xy", ""},
        {R"("x\U\E\Ly\E")", "xy", ""},
        {R"("a\Ub\Ec")", "aBc", ""},
        {R"($_ = 'a.b'; "x\Q\Ey")", "xy", ""},
        {R"(my $v = 'v.'; "x\Q\E$v")", "xv.", ""},
        {R"('xy' =~ /^x\Q\Ey$/ ? 'match' : 'none')", "match", ""},
        {R"(my $s = 'ab'; $s =~ s/a/\U\E-/; $s)", "-b", ""},
    };
    run(cases, std::size(cases));
}

// Constant overloading hands each handler its literal's text, its value and
// the kind, which also names it in the messages.
TEST_F(ExactText, ConstantOverloadingTypes)
{
    const Case cases[] = {
        {"BEGIN { $^H{integer} = $^H{float} = $^H{binary} = sub { \"$_[0]|$_[2]\" }; $^H |= 0x27000 } "
         "join ',', 12, 1.5, 0x1f",
         "12|integer,1.5|float,0x1f|binary", ""},
        {"BEGIN { %^H = (x => 1); $^H |= 0x21000 } 12", "", "Constant(integer): $^H{integer} is not defined at end of line\n"},
        {"BEGIN { %^H = (x => 1); $^H |= 0x22000 } 1.5", "", "Constant(float): $^H{float} is not defined at end of line\n"},
        {"BEGIN { %^H = (x => 1); $^H |= 0x24000 } 0b11", "",
         "Constant(binary): $^H{binary} is not defined at end of line\n"},
        {"BEGIN { $^H{integer} = sub { undef }; $^H |= 0x21000 } 12", "",
         "Constant(integer): Call to &{$^H{integer}} did not return a defined value at end of line\n"},
    };
    run(cases, std::size(cases));
}

// The formatter never mixes byte and UTF-8 text: bytes already in the result
// are upgraded before UTF-8 text joins them, and byte text joining a UTF-8
// result is encoded.
TEST_F(ExactText, FormatterMixesBytesAndUtf8)
{
    const Case cases[] = {
        {R"(length sprintf('%s%s', "\xE9", "\x{100}"))", "2", ""},
        {R"(sprintf('%s%s', "\xE9", "\x{100}") eq "\xE9\x{100}" ? 'same' : 'differs')", "same", ""},
        {R"(sprintf('%s%s', "\x{100}", "\xE9") eq "\x{100}\xE9" ? 'same' : 'differs')", "same", ""},
        {R"(sprintf("\xE9%s", "\x{100}") eq "\xE9\x{100}" ? 'same' : 'differs')", "same", ""},
        {R"(sprintf("%s\xE9", "\x{100}") eq "\x{100}\xE9" ? 'same' : 'differs')", "same", ""},
        {R"(sprintf("\x{100}%s", "\xE9") eq "\x{100}\xE9" ? 'same' : 'differs')", "same", ""},
        {R"(length sprintf("\x{100}%s", 'ab'))", "3", ""},
        {R"(sprintf('%s%c', "\xE9", 300) eq "\xE9\x{12c}" ? 'same' : 'differs')", "same", ""},
        {R"(sprintf('%c%s', 300, "\xE9") eq "\x{12c}\xE9" ? 'same' : 'differs')", "same", ""},
        {R"(sprintf('%s%*vd', "\xE9", "\x{100}", 'AB') eq "\xE965\x{100}66" ? 'same' : 'differs')", "same", ""},
        {R"(sprintf('%5s|%s', "\xE9", "\x{100}") eq "    \xE9|\x{100}" ? 'same' : 'differs')", "same", ""},
        {R"(sprintf('%vd', 'AB') . sprintf('|%vd', "\x{100}\xE9"))", "65.66|256.233", ""},
        {R"(length sprintf('%vd', 'x' x 100000))", "399999", ""},
    };
    run(cases, std::size(cases));
}

// Long runs of fill bytes and many small pieces pack to the right text.
TEST_F(ExactText, PackOfManyPieces)
{
    const Case cases[] = {
        {"length pack('x1000000')", "1000000", ""},
        {"my $p = pack('A3' x 1000, ('ab') x 1000); length($p) . substr($p, 0, 6)", "3000ab ab ", ""},
        {"unpack('%32C*', pack('C' x 2000, (1) x 2000))", "2000", ""},
        {"my $p = pack('a*'); $p = pack('a2 a*', 'xy', $p); $p", "xy", ""},
    };
    run(cases, std::size(cases));
}

// BER integers beyond 56 bits go through decimal strings both ways.
TEST_F(ExactText, LongBerIntegers)
{
    const Case cases[] = {
        {"unpack('H*', pack('w', '5000000000'))", "92d097e400", ""},
        {"unpack('H*', pack('w', '18446744073709551616'))", "82808080808080808000", ""},
        {"unpack('H*', pack('w', '123456789012345678901234567890'))", "b1eec8bfedc3b9f89de4f1fc9552", ""},
        {"unpack('H*', pack('w', '1' . '0' x 40))", "f5c6a9f8f0ebcaa5fed7b9fad8a08080808000", ""},
        {"unpack('H*', pack('w', '19342813113834066795298815'))", "ffffffffffffffffffffff7f", ""},
        {"unpack('w', pack('H*', 'ffffffffffffffffff7f'))", "1180591620717411303423", ""},
        {"unpack('w', pack('H*', '818080808080808000'))", "72057594037927936", ""},
        {"unpack('w', pack('H*', '80808080808080808001'))", "1", ""},
        {"unpack('w', pack('H*', '82808080808080808000'))", "18446744073709551616", ""},
        {"unpack('w', pack('w', '123456789012345678901234567890'))", "123456789012345678901234567890", ""},
        {"my $n = '9' x 500; unpack('w', pack('w', $n)) eq $n ? 'same' : 'differs'", "same", ""},
        {"join ',', unpack('w3', pack('H*', 'ffffffffffffffffff7f' . '822c' . '05'))", "1180591620717411303423,300,5", ""},
        {"unpack('w', pack('H*', 'ffffffffffffffffffff'))", "", "Unterminated compressed integer.\n"},
    };
    run(cases, std::size(cases));
}

// Texts that once made the reader loop forever or read past the end of its
// text: each ends with its compile error, and the interpreter goes on.
TEST_F(ExactText, ReaderStopsAtTheEndOfTheText)
{
    struct Stop {
        const char* text;
        const char* error_start;
    } cases[] = {
        {"format G =\n", "Format not terminated"},
        {"format=\n", "Format not terminated"},
        {"format G =\nline\n", "Format not terminated"},
        {"format G =\n@<<\n$x\n", "Format not terminated"},
        {"E:<<;format=\n", "Format not terminated"},
        {"{<x>m-;${\\ete;{\\c }}:-", "syntax error"},
        {"*{ \"x\" s/a/b/g { \"y\" and s/(.)/$1$1/e srand", "syntax error"},
    };
    for (const Stop& c : cases) {
        prxtest::EvalResult r = eval(c.text);
        EXPECT_EQ(r.error.rfind(c.error_start, 0), 0u) << c.text << ": " << r.error;
        EXPECT_EQ(eval("1 + 1").value, "2") << c.text;
    }
    EXPECT_EQ(eval("eval \"format G =\\n\"; 'after'").value, "after");
}

}  // namespace
