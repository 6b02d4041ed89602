// The less common paths of the call ops in a constructed interpreter:
// native subs, deferred and autovivified array elements, caller's warning
// bits, reset, strict references, lvalue returns and the debugger statement.
#include "runtime/sub_fixture.h"

#include <string>

#include "ds/src/prxgv.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpad.h"
#include "ds/src/prxpp.h"

namespace {

class SubOps : public runtime::SubEval {
protected:
    // The value of a program, "<undef>" for the undefined value.
    std::string value(const char* program)
    {
        prxtest::EvalResult r = run_case(program);
        EXPECT_EQ(r.jump, 0) << program;
        return r.defined ? r.value : "<undef>";
    }
    std::string error(const char* program) { return run_case(program).error; }
    void expect_value(const char* program, const std::string& want) { EXPECT_EQ(value(program), want) << program; }
    void expect_error(const char* program, const std::string& want) { EXPECT_EQ(error(program), want) << program; }
};

// A native sub that returns its argument count and then "last".
void two_values(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    SV* n = sv_make_temporary(gcb, sv_new_from_int(gcb, f.items));
    SV* last = sv_make_temporary(gcb, sv_new_from_cstring(gcb, "last", 0));
    gcb->arg_sp = arg_stack_room(gcb, gcb->arg_sp, 2);
    xs_arg(gcb, f, 0) = n;
    xs_arg(gcb, f, 1) = last;
    xs_return(gcb, f, 2);
}

void no_values(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    xs_return(gcb, f, 0);
}

TEST_F(SubOps, NativeSubs)
{
    ASSERT_TRUE(started()) << err_text();
    sub_define_xs(gcb, "main::two", two_values, __FILE__);
    sub_define_xs(gcb, "main::none", no_values, __FILE__);
    expect_value("my $x = two(7, 8, 9); $x", "last");
    expect_value("my @x = two(7, 8, 9); $x[0] . $x[1]", "3last");
    expect_value("my $x = none(); defined($x) ? 'd' : 'u'", "u");
    // Called with & and no arguments, it sees the caller's @_.
    expect_value("sub pass { my @r = &two; $r[0] } pass(1, 2)", "2");
    // goto into a native sub continues after the first call.
    expect_value("sub g1 { goto &two } my @r = g1(4, 5); $r[0] . $r[1]", "2last");
}

TEST_F(SubOps, ArrayElements)
{
    ASSERT_TRUE(started()) << err_text();
    // An element handed to a sub is created only when the sub assigns it.
    expect_value("sub set { $_[0] = 5 } my @a; set($a[3]); scalar(@a) . $a[3]", "45");
    expect_value("sub look { 1 } my @b; look($b[3]); scalar(@b)", "0");
    expect_value("my @a; $a[2]{x} = 1; $a[1][0] = 2; ref($a[2]) . ref($a[1])", "HASHARRAY");
    expect_value("my @a = (1, 2); $a[-1]", "2");
    expect_value("my $x = 'no array'; our @e = (9); $e[0]", "9");
    expect_value("our @l = (1, 2, 3); sub loc { local $l[1] = 'L'; $l[1] } loc() . $l[1]", "L2");
}

TEST_F(SubOps, CallerWarningBits)
{
    ASSERT_TRUE(started()) << err_text();
    expect_value("sub wb { (caller(0))[9] } wb()", std::string(12, '\0'));
    gcb->warn_switch |= 1;
    expect_value("sub wb2 { (caller(0))[9] } wb2()", "UUUUUUUUUUUU");
    expect_value("sub hb { (caller(0))[8] } hb()", "0");
    expect_value("sub ev { my $t = (caller(0))[6]; defined($t) ? 'd' : 'u' } my $r = eval 'ev()'; defined($r) ? $r : $@",
                 "u");
    expect_value("my $t = eval '(caller(0))[6]'; defined($t) ? $t : $@", "(caller(0))[6]\n;");
}

TEST_F(SubOps, Reset)
{
    ASSERT_TRUE(started()) << err_text();
    expect_value("$xa = 1; $xb = 2; $ya = 3; reset 'x'; (defined($xa) ? 1 : 0) . (defined($ya) ? 1 : 0)", "01");
    expect_value("reset()", "1");
}

TEST_F(SubOps, StringsAsSubs)
{
    ASSERT_TRUE(started()) << err_text();
    expect_value("sub named { 'n' } my $n = 'named'; &$n()", "n");
    expect_error("BEGIN { $^H |= 2 } sub named2 { 1 } my $n = 'named2'; eval { &$n() }; die $@",
              "Can't use string (\"named2\") as a subroutine ref while \"strict refs\" in use.\n");
}

TEST_F(SubOps, LvalueReturns)
{
    ASSERT_TRUE(started()) << err_text();
    // An lvalue sub: its root returns the values themselves.
    std::string made = value("our $lx = 1; our @ly = (1, 2); sub lv { $lx } sub lvl { @ly } sub lvt { 5 } 1");
    ASSERT_EQ(made, "1");
    for (const char* name : {"main::lv", "main::lvl", "main::lvt"}) {
        CV* cv = gv_gp(gv_fetch_by_name(gcb, name, 0, SVt_PVCV))->gp_cv;
        cv_body(cv)->cvflags |= CVf_LVALUE;
        op_set_type(gcb, cv_body(cv)->root, OP_LEAVESUBLV);
    }
    expect_value("lv() = 7; $lx", "7");
    expect_value("(lvl()) = (8, 9); $ly[0] . $ly[1]", "89");
    expect_value("my $r = lv(); $r", "7");
    expect_error("eval { lvt() = 1 }; die $@", "Can't return a readonly value from lvalue subroutine.\n");
    expect_error("eval { (lvt()) = (1) }; die $@", "Can't return a readonly value from lvalue subroutine.\n");
}

TEST_F(SubOps, DebuggerStatements)
{
    ASSERT_TRUE(started()) << err_text();
    // Compiled with line statements for the debugger.
    gcb->debugger_flags |= 0x02;
    // At rest the debugger statement is an ordinary statement.
    expect_value("my $x = 1;\n$x + 1", "2");
    expect_error("$DB::single = 1;\n$x = 2;\n", "No DB::DB routine defined.\n");
    expect_value("$DB::single = 0; package DB; sub DB { $DB::seen .= (caller(0))[2] . ',' } package main;\n"
                    "$DB::single = 1;\n$y = 1;\n$y = 2;\n$DB::single = 0;\n$DB::seen",
              "1,3,4,5,");  // the switch the failing run left on counts for line 1
}

// Compiled with the debugger's sub lines: each named sub's first and last
// line go to %DB::sub under its full name, an anonymous sub under a name
// made from its file and line; DB::postponed hears of the subs it lists.
TEST_F(SubOps, DebuggerRecordsSubLines)
{
    ASSERT_TRUE(started()) << err_text();
    uint32_t saved = gcb->debugger_flags;
    gcb->debugger_flags |= 0x210;
    expect_value("sub dl {\n1\n}\nmy $c = sub { 1 };\n1", "1");
    gcb->debugger_flags = saved;
    expect_value("my $h = \\%DB::sub; my $s = join(';', map { \"$_=$h->{$_}\" } sort keys %$h); "
                 "$s =~ s/\\(eval \\d+\\)/E/g; $s",
                 "main::__ANON__[E:4]=E:4-4;main::dl=E:1-3");
    expect_value("sub DB::pp { $got .= \"[@_]\" } $DB::postponed{'main::dq'} = 1; *DB::postponed = \\&DB::pp; 1", "1");
    gcb->debugger_flags |= 0x10;
    expect_value("sub dq { 1 } sub dr { 2 } 1", "1");
    gcb->debugger_flags = saved;
    expect_value("$got", "[main::dq]");
}

}  // namespace
