// Program texts that once broke the compiler: barewords where a modifiable
// operand is expected, op trees freed twice, nesting deeper than the native
// stack allows, and the interpreter's state after each of them.
#include "support/eval_fixture.h"

#include "ds/src/prxbridge.h"
#include "ds/src/prxrun.h"

#include <cstddef>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* text;
    const char* error;
};

class CompileFault : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }
    // The interpreter still compiles and runs code, closures included.
    void expect_still_working(const std::string& after)
    {
        prxtest::EvalResult r = eval("my $n = 2; my $f = sub { $n * $_[0] }; join ',', map { $f->($_) } 1 .. 3");
        EXPECT_EQ(r.error, "") << "after " << after;
        EXPECT_EQ(r.value, "2,4,6") << "after " << after;
    }
    // Each text leaves its error text in $@, and the interpreter works on.
    template <size_t N>
    void expect_errors(const Case (&cases)[N])
    {
        for (const Case& c : cases) {
            prxtest::EvalResult r = eval(c.text);
            EXPECT_EQ(r.error, c.error) << c.text;
            expect_still_working(c.text);
        }
    }
};

// A bareword that stays where it is in its parent's operands cannot be
// replaced by a sub call or a handle: it is a constant, and reported so.
TEST_F(CompileFault, BarewordInAModifiablePlaceIsAConstant)
{
    const Case cases[] = {
        {"chomp(STDOUT)", "Can't modify constant item in chomp near \"STDOUT)\n\"\n"},
        {"chop ss", "Can't modify constant item in chop at EOF\n"},
        {"undef x", "Can't modify constant item in undef operator at EOF\n"},
        {"tie f", "Can't modify constant item in tie at EOF\nNot enough arguments for tie at EOF\n"},
        {"tied x", "Can't modify constant item in tied at EOF\n"},
        {"untie x", "Can't modify constant item in untie at EOF\n"},
        {"read(T, b)", "Can't modify constant item in read near \"b)\n\"\nNot enough arguments for read near \"b)\n\"\n"},
        {"vec(w,1,4)=5", "Can't modify constant item in scalar assignment at EOF\n"},
        {"pos foo", "Can't modify constant item in match position at EOF\n"},
        {"chomp(foo => 1)", "Can't modify constant item in chomp near \"1)\n\"\n"},
        {"local(zq => 1)", "Can't modify constant item in local at EOF\n"},
        {"my $x; ($x, abc => 1) = (1, 2, 3)", "Can't modify constant item in list assignment at EOF\n"},
        {"($x, abc) = (1, 2)", "Can't modify constant item in list assignment at EOF\n"},
        {"for (1 ? abc : $x) { } 1", ""},
        // The quoted forms, for comparison.
        {"chomp('STDOUT')", "Can't modify constant item in chomp near \"'STDOUT')\n\"\n"},
        {"local('zq' => 1)", "Can't modify constant item in local at EOF\n"},
    };
    expect_errors(cases);
}

// A bareword that is the whole modifiable operand is still replaced by the
// sub call or the handle's glob it names.
TEST_F(CompileFault, BarewordAsTheWholeOperandIsReplaced)
{
    const Case cases[] = {
        {"foo = 5; 1", "Undefined subroutine &main::foo called.\n"},
        {"local(zq); 1", "Undefined subroutine &main::zq called.\n"},
    };
    expect_errors(cases);
    prxtest::EvalResult r = eval("STDOUT = 5; 1");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.value, "1");
}

// Terms in places that give their ops another meaning: a file test under a
// reference keeps its operand as a kid, and a term after a sub's name is no
// prototype text. Each op is freed once.
TEST_F(CompileFault, TermsInForeignPlacesAreFreedOnce)
{
    const Case cases[] = {
        {"ref \\-e $x", ""},
        {"ref \\stat $x", ""},
        {"ref \\(-s $x, -f $x)", ""},
        {"sub f<>", "syntax error near \"sub f<>\"\n"},
        {"BEGIN<>", "syntax error near \"BEGIN<>\"\n"},
        {"sub f <STDIN>", "syntax error near \"sub f <STDIN>\"\n"},
        {"sub g (<>) { 1 } 4", ""},
    };
    expect_errors(cases);
    EXPECT_EQ(eval("ref \\-e $x").value, "SCALAR");
    EXPECT_EQ(eval("sub g2 (<>) { 1 } 4").value, "4");
}

}  // namespace

namespace {

class EntryNames : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }
};

// The variable and call entries take any name, a non-ASCII first character
// included; the compile state they pass through stays whole, and the next
// closure built works.
TEST_F(EntryNames, NonAsciiNamesLeaveTheCompileStateWhole)
{
    const char* names[] = {"\xC3\xA9", "main::\xC3\xA9", "\xC3\xA9::x", "\xFF", "\xC3", "a\xC3\xA9", "", "::", "1\xC3"};
    for (const char* name : names) {
        const char* text = nullptr;
        int64_t len = -1;
        EXPECT_EQ(rexhost_get_sv_text(gcb, name, &text, &len), 1) << name;
        double d = -1;
        EXPECT_EQ(rexhost_get_sv_number(gcb, name, &d), 1) << name;
        EXPECT_EQ(rexhost_call(gcb, name), 1) << name;
        prxtest::EvalResult r = eval("my $n = 2; my $f = sub { $n * $_[0] }; join ',', map { $f->($_) } 1 .. 3");
        EXPECT_EQ(r.error, "") << name;
        EXPECT_EQ(r.value, "2,4,6") << name;
    }
}

}  // namespace

namespace {

class CompileMemory : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }
};

// Running out of memory anywhere in the compile of a text fails that text
// only: with memory back, the next text declares, compiles and runs as
// before. Every allocation of each text is failed in turn.
TEST_F(CompileMemory, NoMemoryInACompileLeavesTheInterpreterWhole)
{
    const char* texts[] = {
        "my $x = 1; my ($y, @z) = (2, 3); $x + $y",
        "my %h = (a => 1); sub { my $q = shift; $q . $h{a} }->('v')",
        "our @o = map { [$_] } 1 .. 3; local $_ = 2; my $s = \"@{[1 + 1]}\"; $s",
        "for my $i (1, 2) { my $j = $i } if (1) { my $k } else { my $l } 7",
        "my ($p, $q) = @_; my $t = $_ for 1 .. 2; my @w = (my $u, my $v); 8",
    };
    // One allocation fails, or every allocation from the failing one on.
    for (bool every : {false, true})
    for (const char* text : texts) {
        for (int64_t n = 0;; n++) {
            (every ? host->fail.fail_after : host->fail.fail_once_after) = n;
            uint64_t before = host->fail.failures;
            prxtest::EvalResult r = eval(text);
            bool failed = host->fail.failures != before;
            host->fail.fail_once_after = -1;
            host->fail.fail_after = -1;
            prxtest::EvalResult next = eval("$_ = 1; my $m = 5; my $c = sub { $m + $_[0] }; $c->($_)");
            ASSERT_EQ(next.error, "") << text << " failing allocation " << n << (every ? " and on" : "");
            ASSERT_EQ(next.value, "6") << text << " failing allocation " << n << (every ? " and on" : "");
            if (!failed) {
                EXPECT_EQ(r.error, "") << text;
                break;
            }
        }
    }
}

}  // namespace

namespace {

std::string repeat(const std::string& piece, int n)
{
    std::string s;
    s.reserve(piece.size() * static_cast<size_t>(n));
    for (int i = 0; i < n; i++)
        s += piece;
    return s;
}

// Texts nested far deeper than a host task's stack allows compile or die
// with the message an eval traps, never crash; their trees are freed
// whatever their depth, and the interpreter goes on working.
TEST_F(CompileFault, DeepNestingDiesTrappablyOrCompiles)
{
    const int n = 100000;
    const std::string texts[] = {
        repeat("{", n) + repeat("}", n) + " 7",
        repeat("if ($y) {", n) + repeat("}", n) + " 7",
        "my $x = " + repeat("$y ? 1 : ", n / 2) + "2; 7",
        "my $x = " + repeat("$y ? ", n / 2) + "1" + repeat(" : 2", n / 2) + "; 7",
        "if (0) { my $r = " + repeat("[", n) + repeat("]", n) + " } 7",
        "if (0) { my $r = " + repeat("{a => ", n) + "1" + repeat("}", n) + " } 7",
        "my $x = " + repeat("(", n) + "1" + repeat(")", n) + "; 7",
        "my $x = " + repeat("$y && ", n) + "1; 7",
        "my $x = " + repeat("- ", n) + "1; 7",
        "if ($y) { 1 }" + repeat(" elsif ($y) { 1 }", n) + " 7",
        repeat("do {", n) + "1" + repeat("}", n) + "; 7",
    };
    for (const std::string& text : texts) {
        prxtest::EvalResult r = eval(text);
        if (r.error.empty())
            EXPECT_EQ(r.value, "7") << text.substr(0, 40);
        else
            EXPECT_EQ(r.error, "Nesting too deep for the native stack.\n") << text.substr(0, 40);
        expect_still_working(text.substr(0, 40));
    }
}

// Anonymous subs inside one another: each is a code value held by the op
// tree of the one around it, freed with it, whatever the depth.
TEST_F(CompileFault, DeeplyNestedSubsAreFreed)
{
    const int n = 100000;
    const std::string texts[] = {
        "my $f = " + repeat("sub { my $x = 1; ", n) + "$x" + repeat(" }", n) + "; 7",
        "sub outer { " + repeat("sub { ", n) + "1" + repeat(" }", n) + " } undef &outer; 7",
    };
    for (const std::string& text : texts) {
        prxtest::EvalResult r = eval(text);
        EXPECT_EQ(r.error, "") << text.substr(0, 40);
        EXPECT_EQ(r.value, "7") << text.substr(0, 40);
        expect_still_working(text.substr(0, 40));
    }
}

}  // namespace

namespace {

class CompilePool : public CompileFault {
protected:
    // Live blocks of the interpreter's pool, once the temporaries the
    // evaluations left are gone.
    uint64_t live()
    {
        tmps_free_to_floor(gcb);
        return reinterpret_cast<hostsim::Pool*>(gcb->pool)->live.size();
    }
};

// A compile that dies in the middle of a check, with the op being checked in
// no one's hands yet, gives that op back: the same failing text evaluated
// again and again leaves the pool as it was.
TEST_F(CompilePool, ChecksThatDieGiveTheirOpBack)
{
    const Case cases[] = {
        // The glob op loads its module, which is not there.
        {"my @x = glob('*.c'); 1", "Can't locate File/Glob.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\n"
                                    "BEGIN failed--compilation aborted.\n"},
        {"my @y = <*.c>; 1", "Can't locate File/Glob.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\n"
                             "BEGIN failed--compilation aborted.\n"},
        {"exists $x", "exists argument is not a HASH or ARRAY element.\n"},
        {"exists &f()", "exists argument is not a subroutine name.\n"},
        {"delete $x", "delete argument is not a HASH or ARRAY element or slice.\n"},
        {"sub mp1 (\\x) { } mp1($x)", "Malformed prototype for main::mp1: \\x.\n"},
        {"sub mp2 ($\\[$@]) { } mp2(1, $x)", "Malformed prototype for main::mp2: $\\[$@].\n"},
        {"sub L w(", "syntax error near \"sub L w\"\n"},
        // A call's argument that cannot be modified as the call needs.
        {"u{$[}", "That use of $[ is unsupported.\n"},
        {"sub u2 { } u2 $[", "That use of $[ is unsupported.\n"},
        {"{0}u{()=();$[}join\"\"", "That use of $[ is unsupported.\n"},
        {"< >", "Can't locate File/Glob.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\n"
                "BEGIN failed--compilation aborted.\n"},
        {"2..sub:e{}", "Can't locate attributes.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\n"
                       "BEGIN failed--compilation aborted.\n"},
        // Attributes whose module is not there: the sub's body, the anonymous
        // sub and the declared variables are dropped with the compile.
        {"sub fa : bogus { my $q = 1; $q + 2 }", "Can't locate attributes.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\n"
                                                 "BEGIN failed--compilation aborted.\n"},
        {"my $g = sub : lvalue { 1 }; 1", "Can't locate attributes.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\n"
                                          "BEGIN failed--compilation aborted.\n"},
        {"my $v : bogus = 1", "Can't locate attributes.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\n"
                              "BEGIN failed--compilation aborted.\n"},
        {"my ($v, @w) : bogus = 1", "Can't locate attributes.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\n"
                                    "BEGIN failed--compilation aborted.\n"},
    };
    for (const Case& c : cases) {
        std::vector<uint64_t> sizes;
        // The first rounds may grow tables for good; later ones add nothing.
        for (int i = 0; i < 8; i++) {
            prxtest::EvalResult r = eval(c.text);
            EXPECT_EQ(r.error, c.error) << c.text;
            sizes.push_back(live());
        }
        for (size_t i = 5; i < sizes.size(); i++)
            EXPECT_EQ(sizes[i], sizes[4]) << c.text << " round " << i;
        expect_still_working(c.text);
    }
}

}  // namespace
