// Subroutines as programs use them, evaluated as program texts in a
// constructed interpreter: calls and @_, closures and local, goto, caller
// and wantarray, prototypes, methods, special blocks and deep recursion.
#include "runtime/sub_fixture.h"

#include <string>

#include "ds/src/prxav.h"
#include "ds/src/prxbridge.h"
#include "ds/src/prxperl.h"

namespace {

class SubText : public runtime::SubEval {};

using Case = runtime::SubCase;

TEST_F(SubText, CallsAndArguments)
{
    check({
        {"sub f { 2 } f() + 1", "3"},
        {"sub g { $_[0] . $_[1] } g('a', 'b')", "ab"},
        {"sub count { scalar(@_) } count(1, 2, 3) . count()", "30"},
        // @_ aliases the arguments.
        {"sub app { $_[0] .= 'x' } my $v = 'a'; app($v); app($v); $v", "axx"},
        // A sub's value is its last statement's, in the caller's context.
        {"sub l2 { (4, 5, 6) } my $x = l2(); my @y = l2(); $x . ':' . scalar(@y)", "6:3"},
        {"sub lr { return (1, 2, 3) } my @a = lr(); scalar(@a)", "3"},
        // &name; hands over the caller's @_.
        {"sub inner { $_[0] } sub outer { &inner } outer('q')", "q"},
        {"sub named { 'n' } my $name = 'named'; &$name()", "n"},
        {"my $code = sub { 'anon:' . $_[0] }; $code->(5)", "anon:5"},
        // A lexical returned by a recursing call outlives the call's temporaries.
        {"sub down { my $n = shift; my $r = \"<$n>\"; return $n ? down($n - 1) . $r : $r } down(3)", "<0><1><2><3>"},
        {"sub nothere; eval { nothere() }; $@", "Undefined subroutine &main::nothere called.\n"},
        {"eval { my $x = [1]; $x->() }; $@", "Not a CODE reference.\n"},
    });
}

TEST_F(SubText, ClosuresAndLocal)
{
    check({
        // Two subs made by one maker keep counters of their own.
        {"sub mk { my $n = 0; sub { $n += 1 } } $c1 = mk(); $c2 = mk(); $c1->(); $c1->(); $c2->(); "
         "$c1->() . $c2->()",
         "32"},
        // A closure inside a closure binds both levels.
        {"sub mk2 { my $n = shift; sub { my $m = shift; sub { $n . $m } } } "
         "my $f = mk2('x'); $f->('y')->() . $f->('z')->() . mk2('w')->('v')->()",
         "xyxzwv"},
        // A global made local is seen by the called sub and restored after.
        {"$g = 'out'; sub show { $g } sub t { local $g = 'in'; show() } t() . ',' . $g", "in,out"},
    });
}

// Each level of a recursion has a pad of its own: its lexicals survive the
// deeper calls, and closures made at each level capture that level's.
TEST_F(SubText, RecursionHasAPadPerDepth)
{
    check({
        {"sub fact { my $n = shift; $n <= 1 ? 1 : $n * fact($n - 1) } fact(10)", "3628800"},
        {"sub r2 { my $d = shift; my $x = \"d$d\"; r2($d - 1) if $d; $x } r2(3)", "d3"},
        {"sub ra { my $d = shift; my @a = ($d) x 2; ra($d - 1) if $d; scalar(@a) . $a[0] } ra(3)", "23"},
        {"sub mkc { my $n = shift; my $c = sub { $n }; $n ? [$c, @{mkc($n - 1)}] : [$c] } "
         "join('', map { $_->() } @{mkc(3)})",
         "3210"},
        // goto &sub replaces the call: no depth is added.
        {"sub gs { my $d = shift; return 'end' unless $d; @_ = ($d - 1); goto &gs } gs(200)", "end"},
        {"sub c1 { c2() } sub c2 { join(',', map { (caller($_))[3] } 0, 1) } c1()", "main::c2,main::c1"},
    });
}

TEST_F(SubText, Goto)
{
    check({
        // goto &sub hands @_ over; the return goes to the first caller.
        {"sub a1 { goto &b1 } sub b1 { 'b:' . $_[0] . scalar(@_) } a1('z', 'y') . '!'", "b:z2!"},
        {"sub a2 { shift; goto &b2 } sub b2 { join2(@_) } sub join2 { $_[0] . $_[1] } a2(1, 2, 3)", "23"},
        {"OUT: for (1) { for (1) { goto DONE } } DONE: 'done'", "done"},
        {"eval 'goto L; { { $r = 0; L: $r = 1 } } 1'; $@ . $r", "1"},
        {"sub f2 { 1 } eval { my @x = sort { goto &f2 } 2, 1 }; $@", "Can't goto subroutine outside a subroutine.\n"},
        {"sub f3 { 1 } eval 'goto &f3'; $@", "Can't goto subroutine from an eval-string.\n"},
        {"eval 'goto &nosuch; 1'; $@", "Goto undefined subroutine &main::nosuch.\n"},
        {"eval 'goto L; for my $i (1) { $r = 0; L: $r = 1 } 1'; $@",
         "Can't \"goto\" into the middle of a foreach loop.\n"},
        {"eval 'goto NOWHERE; 1'; $@", "Can't find label NOWHERE.\n"},
        {"my $l = ''; eval { goto $l }; $@", "goto must have label.\n"},
        {"eval { my @x = sort { goto L } 1, 2 }; L: $@", "Can't \"goto\" out of a pseudo block.\n"},
    });
}

TEST_F(SubText, GotoTooDeeplyNested)
{
    std::string program = "eval 'goto DEEP; ";
    for (int i = 0; i < 70; i++)
        program += "{ $x = 1; ";
    program += "DEEP: $x = 2;";
    for (int i = 0; i < 70; i++)
        program += " }";
    program += " 1'; $@";
    check({{program.c_str(), "Target of goto is too deeply nested.\n"}});
}

TEST_F(SubText, CallerAndWantarray)
{
    check({
        {"sub cf { (caller(0))[3] } cf()", "main::cf"},
        {"package P; sub cf { (caller(0))[0] . ':' . (caller(0))[3] } package Q; P::cf()", "Q:P::cf"},
        {"sub c0 { my @c = caller; scalar(@c) } c0()", "3"},
        {"sub ca { (caller(0))[4] } ca(1) . ca() . &ca", "110"},
        {"sub cx { my @c = caller(0); defined($c[5]) ? $c[5] : 'u' } my @l = cx(); my $s = cx(); cx(); "
         "$l[0] . $s",
         "10"},
        {"sub cn { my @c = caller(5); scalar(@c) } cn()", "0"},
        {"(caller(0))[3]", "(eval)"},
        {"sub w { $r .= (wantarray ? 'L' : defined(wantarray) ? 'S' : 'V') } my @x = w(); my $y = w(); w(); $r",
         "LSV"},
    });
}

TEST_F(SubText, Prototypes)
{
    check({
        {"sub p2($$) { 1 } eval 'p2(1, 2, 3); 5'; $@", "Too many arguments for main::p2 near \"3)\"\n"},
        {"sub p3($$) { 1 } eval 'p3(1)'; $@", "Not enough arguments for main::p3 near \"1)\n\"\n"},
        {"sub pa(\\@) { 1 } eval 'my $s; pa($s)'; $@",
         "Type of arg 1 to main::pa must be array (not private variable) near \"$s)\n\"\n"},
        {"sub pb(&$) { 1 } eval 'pb(1, 2)'; $@",
         "Type of arg 1 to main::pb must be block or sub {} (not constant item) near \"2)\n\"\n"},
        // A \@ argument arrives as a reference.
        {"sub pr(\\@) { scalar(@{$_[0]}) } my @a = (1, 2, 3); pr(@a)", "3"},
        {"sub po($;$) { scalar(@_) } po(1) . po(1, 2)", "12"},
        // Written with '&', the call ignores the prototype.
        {"sub p1($) { scalar(@_) } &p1(1, 2, 3)", "3"},
        // So do a call through a reference and a call compiled before the
        // sub was defined.
        {"sub pr1($) { scalar(@_) } my $c = \\&pr1; $c->(1, 2)", "2"},
        {"sub early { late(1, 2, 3) } sub late($) { scalar(@_) } early()", "3"},
        {"sub ps($&) { 1 } eval 'ps(1, 2)'; $@",
         "Type of arg 2 to main::ps must be sub {} (not constant item) near \"2)\n\"\n"},
        {"sub pd2(\\$) { 1 } eval 'pd2(1)'; $@",
         "Type of arg 1 to main::pd2 must be scalar (not constant item) near \"1)\n\"\n"},
        {"sub pe(\\@) { 1 } eval 'pe(@a, 1)'; $@", "Too many arguments for main::pe near \"1)\n\"\n"},
        {"eval q{sub pn(\\\\x) { 1 } pn(1); 1}; $@", "Malformed prototype for main::pn: \\x.\n"},
        {"eval q{sub pq(x) { 1 } pq(1); 1}; $@", "Malformed prototype for main::pq: x.\n"},
        // References made for \$, \% and \&; $ imposes scalar context.
        {"sub pd(\\$) { ${$_[0]} = 4 } my $v; pd($v); $v", "4"},
        {"sub ph(\\%) { join(',', sort keys %{$_[0]}) } my %h = (a => 1, b => 2); ph(%h)", "a,b"},
        {"sub pc(\\&) { ref($_[0]) } sub t1 { 1 } pc(&t1)", "CODE"},
        {"sub psc($) { $_[0] } my @a = (5, 6, 7); psc(@a)", "3"},
        {"sub pz(@) { scalar(@_) } pz() . pz(1, 2, 3)", "03"},
        {"sub pbl($ $) { scalar(@_) } pbl(1, 2)", "2"},
        {"sub pg(&) { $_[0]->() } pg { 'blk' }", "blk"},
        // A glob argument: a bareword naming a sub goes as the glob's name,
        // without a leading main::; a glob as a reference to it.
        {"package Q; sub BAR { 9 } sub st(*) { $_[0] } st BAR", "Q::BAR"},
        {"sub FOO { 9 } sub st2(*) { $_[0] } st2 FOO", "FOO"},
        {"sub st3(*) { ref($_[0]) } st3(*STDOUT)", "GLOB"},
    });
}

// Definitions and their warnings: mismatched prototypes, redefinition,
// constant subs, stubs that take a later body, late special blocks.
TEST_F(SubText, DefinitionsAndTheirWarnings)
{
    ASSERT_TRUE(started()) << err_text();
    struct Case {
        bool warnings;  // the global warning switch
        const char* program;
        const char* value;
        const char* stderr_text;
    } cases[] = {
        // Prototype mismatches warn whatever the switch.
        {false, "sub f1($); sub f1($$) { 2 } sub f1; f1(1, 2)", "2",
         "Prototype mismatch: sub main::f1 ($) vs ($$).\nPrototype mismatch: sub main::f1 ($$) vs none.\n"},
        {false, "sub f2 { 1 } sub f2 { 2 } f2()", "2", ""},
        {true, "sub f3 { 1 } sub f3 { 2 } f3()", "2", "Subroutine f3 redefined.\n"},
        {true, "sub k1() { 1 } sub k1() { 2 } k1()", "2", "Constant subroutine k1 redefined.\n"},
        {true, "eval 'CHECK { 1 } INIT { 1 } 1'", "1", "Too late to run CHECK block.\nToo late to run INIT block.\n"},
        {false, "eval 'CHECK { 1 } INIT { 1 } 1'", "1", ""},
        // A constant sub is read-only where it is used.
        {false, "sub k2() { 42 } k2() + 1", "43", ""},
        {false, "sub k3() { 42 } eval { my $r = \\k3(); $$r = 1 }; $@",
         "Modification of a read-only value attempted.\n", ""},
        // A reference taken to a declared sub calls the later definition.
        {false, "sub f4; my $r = \\&f4; eval 'sub f4 { 3 }'; $r->()", "3", ""},
        {false, "my $r = \\&f5; eval 'sub f5 { 7 }'; $r->()", "7", ""},
        // A repeated declaration leaves the defined sub as it is.
        {false, "sub f6 { 6 } sub f6; f6()", "6", ""},
        {false, "sub act { undef &act } eval { act() }; $@", "Can't undef active subroutine.\n", ""},
        {false, "eval 'my sub ms { 1 } 1'; $@", "\"my sub\" not yet implemented.\n", ""},
    };
    uint32_t saved = gcb->warn_switch;
    for (const Case& c : cases) {
        gcb->warn_switch = c.warnings ? (saved | 1u) : (saved & ~1u);
        prxtest::EvalResult r = run_case(c.program);
        EXPECT_EQ(r.jump, 0) << c.program;
        EXPECT_EQ(r.value, c.value) << c.program << "\n$@: " << r.error;
        EXPECT_EQ(err_text(), c.stderr_text) << c.program;
    }
    gcb->warn_switch = saved;
}

TEST_F(SubText, AnonymousConstructors)
{
    check({
        {"ref([]) . ref({}) . ref(sub { 1 })", "ARRAYHASHCODE"},
        {"scalar(@{[]}) . [1, 2, 3]->[1] . {a => 5}->{a}", "025"},
        {"my $h = {}; scalar(keys %$h)", "0"},
        // Each evaluation makes a new one.
        {"my @r = map { [$_] } 1, 2; ($r[0] == $r[1] ? 'same' : 'new') . $r[1][0]", "new2"},
        // An anonymous sub is installed nowhere.
        {"my $c = sub { 1 }; defined(&__ANON__) ? 'y' : 'n'", "n"},
    });
}

// This system has no module files: use and no of a module fail at
// compile time with the require's message; a language version needs none.
TEST_F(SubText, UseWithoutModuleFiles)
{
    check({
        {"eval 'use Nothere; 1'; $@",
         "Can't locate Nothere.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\nBEGIN failed--compilation aborted.\n"},
        {"eval 'no Not::Here qw(a); 1'; $@",
         "Can't locate Not/Here.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\nBEGIN failed--compilation aborted.\n"},
        // Nothing after the failing use ran.
        {"$u = 0; eval '$u = 1; use Nothere; $u = 2'; $u", "0"},
        // Attributes load the attributes module.
        {"eval 'sub at : method { 1 } 1'; $@",
         "Can't locate attributes.pm in @INC (@INC contains: 5.6.1 5.6.1 .).\nBEGIN failed--compilation aborted.\n"},
        {"eval 'use 5.006; 1'", "1"},
        {"eval 'use 5.6; 1'; $@",
         "Perl v5.600.0 required--this is only v5.6.1, stopped (did you mean v5.6.0?).\nBEGIN failed--compilation "
         "aborted.\n"},
    });
}

TEST_F(SubText, Methods)
{
    check({
        {"package P; sub new { bless {}, shift } sub hi { 'hi ' . ref(shift) } package main; P->new->hi", "hi P"},
        {"package P2; sub name { $_[0] . '/' . $_[1] } package main; P2->name('x')", "P2/x"},
        {"package P3; sub m3 { 'm3' } package main; my $m = 'm3'; P3->$m", "m3"},
        {"package A; sub hi { 'A' } package B; @ISA = ('A'); sub hi { my $s = shift; 'B' . $s->SUPER::hi() } "
         "package main; B->hi",
         "BA"},
        {"package Q; sub AUTOLOAD { my $n = $AUTOLOAD; $n =~ s/.*:://; 'auto:' . $n } package main; "
         "Q->frob . ',' . Q::zap()",
         "auto:frob,auto:zap"},
        {"eval { my $u; $u->m }; $@", "Can't call method \"m\" on an undefined value.\n"},
        {"eval { Nope->m }; $@",
         "Can't locate object method \"m\" via package \"Nope\" (perhaps you forgot to load \"Nope\"?).\n"},
        {"package E; sub x { 1 } package main; eval { E->m }; $@",
         "Can't locate object method \"m\" via package \"E\".\n"},
        {"eval { my $r = {}; $r->m }; $@", "Can't call method \"m\" on unblessed reference.\n"},
        {"eval { ''->m }; $@", "Can't call method \"m\" without a package or object reference.\n"},
    });
}

TEST_F(SubText, BeginRunsDuringCompilation)
{
    check({
        {"BEGIN { $o .= 'b1' } $o .= 'r'; BEGIN { $o .= 'b2' } $o", "b1b2r"},
        {"eval 'BEGIN { die \"no\\n\" } 1'; $@", "no\nBEGIN failed--compilation aborted.\n"},
    });
}

TEST_F(SubText, EndBlocksRunLastDefinedFirst)
{
    ASSERT_TRUE(started()) << err_text();
    prxtest::EvalResult r = run_case("END { $e .= '1' } END { $e .= '2' } 1");
    ASSERT_EQ(r.value, "1") << r.error;
    ASSERT_NE(gcb->end_queue, nullptr);
    EXPECT_EQ(av_body(gcb->end_queue)->fill, 1);
    int32_t code = run_guarded([&] { interp_run_block_queue(gcb, gcb->scope_ix, gcb->end_queue); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(eval("$e").value, "21");
}

TEST_F(SubText, DeepRecursionWarnsOnceAtDepth100)
{
    ASSERT_TRUE(started()) << err_text();
    prxtest::EvalResult r = run_case("sub r { my $n = shift; $n ? r($n - 1) : 'bottom' } r(150)");
    EXPECT_EQ(r.value, "bottom");
    EXPECT_EQ(err_text(), "");  // warnings are off
    gcb->warn_switch |= 1;
    r = run_case("r(150) . r(120) . r(50)");
    EXPECT_EQ(r.value, "bottombottombottom");
    EXPECT_EQ(err_text(), "Deep recursion on subroutine \"main::r\".\nDeep recursion on subroutine \"main::r\".\n");
    r = run_case("my $f; $f = sub { my $n = shift; $n ? $f->($n - 1) : 'b' }; $f->(100)");
    EXPECT_EQ(r.value, "b");
    EXPECT_EQ(err_text(), "Deep recursion on anonymous subroutine.\n");
}

}  // namespace
