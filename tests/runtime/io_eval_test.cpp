// I/O, tie, write and line reading as program texts evaluated in an
// interpreter made through the bridge: the exact results, the captured
// output and the host's unsupported-function reports they cause.
#include <string>
#include <vector>

#include "support/eval_fixture.h"
#include "support/reports.h"

namespace {

using prxtest::EvalResult;
using Reports = std::vector<std::string>;

class IoEval : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        host->messages.clear();
    }
    // The names of the unsupported-function reports so far, in order; cleared.
    Reports reports() { return prxtest::take_unsupported_reports(*host); }
};

TEST_F(IoEval, OutputOpenOfDashPrintsToCapturedOutput)
{
    EvalResult r = eval("open(F, \">-\")");
    EXPECT_EQ(r.value, "1");
    EXPECT_EQ(r.error, "");
    EvalResult p = eval("print F \"to F\\n\"; close(F) ? 'closed' : 'not closed'");
    EXPECT_EQ(p.value, "closed");
    EXPECT_EQ(out_text(), "to F\n");
    EXPECT_TRUE(reports().empty());
}

TEST_F(IoEval, ReadOpenOfAFileFailsAfterItsReports)
{
    EvalResult r = eval("open(IN, '<data.txt') ? 'opened' : 'failed'");
    EXPECT_EQ(r.value, "failed");
    EXPECT_EQ(reports(), (Reports{"FILENO", "FSTAT"}));
    EvalResult p = eval("open(P, '| sort') ? 'opened' : 'failed'");
    EXPECT_EQ(p.value, "failed");
    EXPECT_EQ(reports(), Reports{"PIPE"});
}

TEST_F(IoEval, SysseekYieldsUndef)
{
    EvalResult r = eval("defined(sysseek(STDOUT, 0, 0)) ? 'defined' : 'undef'");
    EXPECT_EQ(r.value, "undef");
    EXPECT_EQ(reports(), (Reports{"FILENO", "LSEEK"}));
}

TEST_F(IoEval, PrintfToAHandle)
{
    EvalResult r = eval("printf STDOUT '%s=%03d;', 'n', 7; printf '%.2f', 0.126");
    EXPECT_EQ(r.value, "1");
    EXPECT_EQ(out_text(), "n=007;0.13");
    EXPECT_TRUE(reports().empty());
}

TEST_F(IoEval, WriteWithATopOfPageFormat)
{
    EvalResult r = eval("format STDOUT_TOP =\n"
                 "-- page @< --\n"  // a two-character field
                 "$%\n"
                 ".\n"
                 "format STDOUT =\n"
                 "@<<< @>>\n"
                 "$name, $n\n"
                 ".\n"
                 "$= = 4; $^L = \"^L\\n\";\n"
                 "for (1 .. 5) { $name = \"r$_\"; $n = $_ * 10; write }\n"
                 "'done'");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.value, "done");
    EXPECT_EQ(out_text(),
              "-- page 1  --\n"
              "r1    10\n"
              "r2    20\n"
              "r3    30\n"
              "^L\n"
              "-- page 2  --\n"
              "r4    40\n"
              "r5    50\n");
}

TEST_F(IoEval, TieOfAScalarAnArrayAHashAndAHandle)
{
    EvalResult def = eval("package Counter;\n"
                 "sub TIESCALAR { my ($class, $start) = @_; my $v = $start; return bless \\$v, $class }\n"
                 "sub FETCH { my $self = shift; return $$self++ }\n"
                 "sub STORE { my ($self, $v) = @_; $$self = $v }\n"
                 "package Squares;\n"
                 "sub TIEARRAY { return bless {}, shift }\n"
                 "sub FETCH { return $_[1] * $_[1] }\n"
                 "sub FETCHSIZE { return 4 }\n"
                 "package Upper;\n"
                 "sub TIEHASH { return bless {}, shift }\n"
                 "sub FETCH { return uc $_[1] }\n"
                 "package Lines;\n"
                 "sub TIEHANDLE { my $class = shift; return bless [@_], $class }\n"
                 "sub READLINE { my $self = shift; return shift @$self }\n"
                 "sub PRINT { my $self = shift; push @$self, join('', @_); return 1 }\n"
                 "package main;\n"
                 "1");
    EXPECT_EQ(def.error, "");
    EvalResult s = eval("tie $c, 'Counter', 5; my $a = $c; my $b = $c; $c = 20; my $d = $c;"
                    " join(',', $a, $b, $d, ref(tied $c), untie($c) ? 'untied' : 'still', defined(tied $c) ? 1 : 0)");
    EXPECT_EQ(s.error, "");
    EXPECT_EQ(s.value, "5,6,20,Counter,untied,0");
    EvalResult a = eval("tie @sq, 'Squares'; join(',', $sq[3], scalar(@sq), ref(tied @sq))");
    EXPECT_EQ(a.value, "9,4,Squares");
    EvalResult h = eval("tie %up, 'Upper'; my $v = $up{abc}; untie %up; $v . (tied %up ? 'tied' : 'free')");
    EXPECT_EQ(h.value, "ABCfree");
    EvalResult fh = eval("tie *FH, 'Lines', \"one\\n\", \"two\\n\"; my $x = <FH>; my $y = <FH>;"
                     " my $z = <FH>; print FH 'in'; $x . $y . (defined $z ? 'more' : 'end') . ref(tied *FH)");
    EXPECT_EQ(fh.value, "one\ntwo\nendLines");
}

// What tie, tied, untie, dbmopen and dbmclose pass to a class's methods and
// what they yield, each program text in a fresh package of its own.
TEST_F(IoEval, TieOpsAndTheMethodsTheyCall)
{
    struct Case {
        const char* text;
        const char* value;
    };
    const Case cases[] = {
        // An object as the class: the constructor is its method.
        {"package T1; sub TIEHASH { my $o = shift; $main::got = ref($o) . ':' . join(',', @_); bless {}, 'T1' }\n"
         "package main; my $o = bless [], 'T1'; tie %h1, $o, 'a', 'b'; \"$main::got \" . ref(tied %h1)",
         "T1:a,b T1"},
        // A constructor that gives no object leaves the variable untied;
        // tie yields what it gave.
        {"package T2; sub TIESCALAR { 5 }\n"
         "package main; my $r = tie $s2, 'T2'; $r . (defined(tied $s2) ? 'tied' : 'untied')",
         "5untied"},
        // Tied to itself: tied yields a new reference to the variable.
        {"package T3; sub TIESCALAR { bless $_[1], $_[0] } sub FETCH { 7 }\n"
         "package main; tie $s3, 'T3', \\$s3; my $t = tied $s3; ref($t) . ($t == \\$s3 ? ' same' : ' other')",
         "T3 same"},
        // UNTIE receives the object's count of other references.
        {"package T4; sub TIESCALAR { bless {}, shift } sub UNTIE { $main::got = \"$_[1]\" }\n"
         "package main; my $o = tie $s4, 'T4'; my $p = $o; untie $s4; $main::got . (tied $s4 ? 'tied' : 'free')",
         "2free"},
        // dbmopen ties to AnyDBM_File: the mode is 2 for permissions 0,
        // and a constructor that gives no object is asked again with 0.
        {"package AnyDBM_File; sub TIEHASH { shift; $main::got .= '(' . join(',', @_) . ')'; 0 }\n"
         "package main; $main::got = ''; my $r = dbmopen(%d5, 'f', 0); \"$r$main::got\"",
         "0(f,2,0)(f,0,0)"},
        // With permissions the mode is 66; dbmclose unties.
        {"package AnyDBM_File; sub TIEHASH { shift; $main::got = join(',', @_); bless {} } sub FETCH { 'v' }\n"
         "package main; dbmopen(%d6, 'g', 0644); my $v = $d6{x}; dbmclose(%d6);"
         " \"$main::got $v \" . (tied %d6 ? 'tied' : 'free')",
         "g,66,420 v free"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EvalResult r = eval(c.text);
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.value, c.value);
    }
}

TEST_F(IoEval, DbmopenWithoutADbmClassDies)
{
    EvalResult r = eval("eval { dbmopen(%h, 'f', 0644) }; $@");
    EXPECT_EQ(r.value, "No dbm on this machine.\n");
    // Requiring AnyDBM_File.pm looks for the file along @INC.
    for (const std::string& name : reports())
        EXPECT_EQ(name, "STAT");
}

TEST_F(IoEval, ReadingArgvWithNoFiles)
{
    EvalResult r = eval("my $line = <>; (defined $line ? 'line' : 'none') . \":$ARGV\"");
    EXPECT_EQ(r.value, "none:-");
    EXPECT_TRUE(reports().empty());
    EvalResult e = eval("eof() ? 'end' : 'more'");
    EXPECT_EQ(e.value, "end");
}

}  // namespace
