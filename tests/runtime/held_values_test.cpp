// What running operations hold while interpreter code runs under them: the
// active sub against its own undefinition and deep recursion, sort's items
// and comparator, a substitution's target and pattern, split's subject.
// Each program text once crashed or read freed memory; the interpreter must
// answer it and go on working.
#include "runtime/goes_on_fixture.h"

namespace {

class HeldValues : public goeson::GoesOnTest {};

// A sub's depth is kept whole by its frames: recursion past 65535 levels
// neither wraps the depth nor frees the sub when the calls return.
TEST_F(HeldValues, RecursionDeeperThanSixteenBits)
{
    check({
        {"sub r { my $n = shift; $n ? r($n - 1) : 0 } r(65536) . '|' . r(70000) . '|' . r(2)", "0|0|0", ""},
        {"defined(&r) ? 'defined' : 'gone'", "defined", ""},
        {"r(3); sub d { my $n = shift; $n ? d($n - 1) + 1 : 0 } d(66000)", "66000", ""},
    });
}

// A comparator is an active sub, and the items it compares stay alive
// whatever the comparison does to their owners.
TEST_F(HeldValues, SortKeepsItsComparatorAndItems)
{
    check({
        {"sub s1 { undef &s1; $a <=> $b } my @x = sort s1 3, 2, 1; 'sorted'", "", "Can't undef active subroutine.\n"},
        {"sub s2 { undef &s2; $a <=> $b } eval { my @x = sort s2 3, 2, 1 }; defined(&s2) ? 'kept' : 'gone'", "kept",
         ""},
        {"my @a = map { [$_] } 1 .. 50; my @b = sort { undef @a; $a->[0] <=> $b->[0] } @a; "
         "join ',', scalar(@a), scalar(@b), $b[0][0], $b[49][0]",
         "0,50,1,50", ""},
        {"my %h = map { $_ => [$_] } 1 .. 20; my @b = sort { %h = (); $b->[0] <=> $a->[0] } values %h; "
         "join ',', map { $_->[0] } @b[0 .. 2]",
         "20,19,18", ""},
        {"our @g = map { \"k$_\" } 1 .. 30; sub byg { @g = (); $a cmp $b } join ',', (sort byg @g)[0 .. 2]",
         "k1,k10,k11", ""},
        // A "$$" comparator and one that sorts again with itself.
        {"sub s3 ($$) { my @in = sort s4 3, 1; $_[0] <=> $_[1] } sub s4 { $b <=> $a } join ',', sort s3 3, 1, 2",
         "1,2,3", ""},
        {"sub s5 { my @in = sort s5 1, 0 if $a > 1; $a <=> $b } join ',', sort s5 3, 1, 2", "1,2,3", ""},
    });
}

// A substitution whose replacement runs code holds its target and pattern,
// and matches a copy of the subject: the code may change or free both.
TEST_F(HeldValues, SubstitutionKeepsItsTargetAndSubject)
{
    check({
        {"my $s = 'aaaa'; $s =~ s/a/undef $s; 'c'/ge; $s", "cccc", ""},
        {"my $s = 'abab'; my $n = $s =~ s/(a)/$s = 'z' x 40; uc $1/ge; \"$n $s\"", "2 AbAb", ""},
        {"my $s = 'aaaa'; $s =~ s/a/$s = [1]; 'c'/ge; $s", "cccc", ""},
        {"my %h = (k => 'abab'); my $n = $h{k} =~ s/a/delete $h{k}; 'x'/ge; join ',', $n, exists $h{k} ? 1 : 0",
         "2,0", ""},
        {"our $g = 'a1a2a3'; $g =~ s/(\\d)/undef $g; $1 * 2/ge; $g", "a2a4a6", ""},
        // A run-time pattern compiled again inside its own replacement.
        {"sub sx { my ($t, $p) = @_; $t =~ s/$p/length($p) < 3 ? sx('xyxy', $p . 'y') : 'Z'/ge; $t } sx('aa', 'a')",
         "xyxyxyxy", ""},
        {"my $s = 'aaa'; eval { $s =~ s/a/die \"x\\n\"/e }; $@ . $s", "x\naaa", ""},
        {"my $s = 'aaa'; $s =~ s/a/undef $s; 'c'/e; $s", "caa", ""},
    });
}

// split holds its subject while it empties the array that receives the
// fields, which may hold the subject or run destructors.
TEST_F(HeldValues, SplitKeepsItsSubject)
{
    check({
        {"my @a = ('a,b,c'); @a = split /,/, $a[0]; join '|', @a", "a|b|c", ""},
        {"our @a = ('x,y'); @a = split /,/, $a[0]; join '|', @a", "x|y", ""},
        {"my @a = ('p q r'); @a = split ' ', $a[0]; scalar(@a)", "3", ""},
        {"package D; sub DESTROY { $main::s = 'u,v' } package main; our $s = 'p,q,r'; "
         "our @a = (bless {}, 'D'); @a = split /,/, $s; join '|', @a",
         "u|v", ""},
    });
}

// Values waiting on the argument stack while code runs (foreach over a
// list, grep and map blocks, a sub's @_) stay alive when that code frees
// their owners.
TEST_F(HeldValues, StackedOperandsOutliveTheirOwners)
{
    check({
        {"my @a = map { [$_] } 1 .. 5; my $s = ''; for (@a, 0) { @a = (); $s .= ref($_) . ',' } $s",
         "ARRAY,ARRAY,ARRAY,ARRAY,ARRAY,,", ""},
        {"my %h = map { $_ => [$_] } 1 .. 5; my $s = ''; for (values %h) { %h = (); $s .= ref $_ } $s",
         "ARRAYARRAYARRAYARRAYARRAY", ""},
        {"my @a = map { [$_] } 1 .. 5; my @b = grep { @a = (); 1 } @a; join ',', map { $_->[0] } @b", "1,2,3,4,5", ""},
        {"my @a = map { [$_] } 1 .. 5; my @b = map { @a = (); $_->[0] * 2 } @a; \"@b\"", "2 4 6 8 10", ""},
        {"my @a = ([1], [2]); sub fa { @a = (); join ',', map { $_->[0] } @_ } fa(@a)", "1,2", ""},
        {"our %g = (k => [7]); sub fg { %g = (); $_[0][0] } fg($g{k})", "7", ""},
        // Aliasing still writes through to the values themselves.
        {"my @a = (1, 2); $_ *= 10 for @a, (); sub inc { $_[0]++ } inc($a[1]); \"@a\"", "10 21", ""},
    });
}

// A restore that dies while a die closes an eval's scope (a localized %SIG
// element whose set method refuses the key) raises its error past that eval,
// but every other change of the scope is undone first and the interpreter
// keeps working.
TEST_F(HeldValues, ScopeLeftByADieIsUndoneWhole)
{
    eval("local $^W = 1; our $lw = 5; local $lw = 6; local $SIG{_} = 1");
    prxtest::EvalResult r = eval("join ',', $^W, $lw");
    EXPECT_EQ(r.value, "0,5");
    EXPECT_EQ(r.error, "");
    check({
        {"our $x = 1; eval { local $x = 2; local $SIG{_} = 1 }; 'reached'", "", "No such hook: _.\n"},
        {"$x", "1", ""},
        {"our $y = 1; sub ly { local $y = 3; local $SIG{_} = 1 } eval { eval { ly() }; 1 }; $y . '|' . $@", "1|No such hook: _.\n",
         ""},
        {"local $SIG{_}", "", "No such hook: _.\n"},
        {"my $w = ''; local $SIG{__WARN__} = sub { $w .= shift }; warn \"w\\n\"; $w", "w\n", ""},
    });
}

}  // namespace
