// Data and calls nested tens of thousands deep, within a native stack that a
// host task may have at 1 MB: nested values are freed without a recursion
// as deep as they are, and code run from native code (sort comparators,
// tied fetches, destructors) nests only as far as the stack allows, then
// dies with a message an eval traps. The interpreter goes on working.
#include "runtime/goes_on_fixture.h"

namespace {

class NativeStack : public goeson::GoesOnTest {};

TEST_F(NativeStack, DeeplyNestedValuesAreFreed)
{
    check({
        {"my $r = []; $r = [$r] for 1 .. 30000; undef $r; 'arrays'", "arrays", ""},
        {"my $h = {}; $h = {k => $h} for 1 .. 30000; undef $h; 'hashes'", "hashes", ""},
        {"my $r = 1; for (1 .. 75000) { my $n = $r; $r = \\$n } undef $r; 'references'", "references", ""},
        {"my $f = sub { 1 }; for (1 .. 30000) { my $g = $f; $f = sub { $g } } undef $f; 'closures'", "closures", ""},
        {"my $r = []; $r = [$r, {k => [\\$r]}] for 1 .. 20000; my @keep = ($r); @keep = (); 'mixed'", "mixed", ""},
        // Freed at the end of the scope that held them, from a sub's pad.
        {"sub nest { my $r = []; $r = [$r] for 1 .. shift; 'pad' } nest(30000)", "pad", ""},
        // The elements of an emptied array and the values of an emptied hash.
        {"my @a = map { my $r = []; $r = [$r] for 1 .. 300; $r } 1 .. 100; @a = (); 'emptied'", "emptied", ""},
        {"our %g; my $r = {}; $r = {k => $r} for 1 .. 30000; $g{x} = $r; undef $r; %g = (); 'globals'", "globals",
         ""},
    });
}

// Every destructor of a long chain of objects runs, each once.
TEST_F(NativeStack, DestructorsOfANestedChainAllRun)
{
    check({
        {"package N; our $n = 0; sub DESTROY { $n++ } package main; "
         "my $o; $o = bless {next => $o}, 'N' for 1 .. 20000; undef $o; $N::n",
         "20000", ""},
        // A destructor that drops the next link itself.
        {"package M; our $n = 0; sub DESTROY { $n++; delete $_[0]{next} } package main; "
         "my $o; $o = bless {next => $o}, 'M' for 1 .. 20000; undef $o; $M::n",
         "20000", ""},
        // Destroyed in the order their last references go: an array lets go of
        // its elements from the last.
        {"package P; our @seen; sub DESTROY { push @seen, $_[0]{id} } package main; "
         "{ my $x = bless {id => 'outer', in => [bless({id => 'a'}, 'P'), bless({id => 'b'}, 'P')]}, 'P'; } "
         "join ',', @P::seen",
         "outer,b,a", ""},
    });
}

TEST_F(NativeStack, NestedRunLoopsDieWhereTheStackEnds)
{
    check({
        // Sort comparators that sort again.
        {"our $d = 0; sub c { if ($d++ < 20000) { my @x = sort c 2, 1 } $a <=> $b } my @s = sort c 2, 1; 'sorted'", "",
         "Nesting too deep for the native stack.\n"},
        // A chain of tied fetches, each reading the next tied value.
        {"package T; sub TIESCALAR { bless [$_[1]] } sub FETCH { my $i = $_[0][0]; $i ? $main::v[$i - 1] + 1 : 0 } "
         "package main; our @v; tie $v[$_], 'T', $_ for 0 .. 19999; $v[19999]",
         "", "Nesting too deep for the native stack.\n"},
        {"eval { our $d = 0; sub c2 { my @x = sort c2 2, 1 if $d++ < 1e6; $a <=> $b } my @s = sort c2 2, 1 }; "
         "$@ =~ /^Nesting too deep/ ? 'trapped' : $@",
         "trapped", ""},
        // Tie constructors that tie again, without end.
        {"sub TIESCALAR { my $y; tie $y, 'main'; bless {} } my $x; tie $x, 'main'; 1", "",
         "Nesting too deep for the native stack.\n"},
        {"sub TIEHANDLE { local *G; tie *G, 'main'; bless {} } tie *F, 'main'; 1", "",
         "Nesting too deep for the native stack.\n"},
        {"sub TIEARRAY { my @y; tie @y, 'main'; bless [] } eval { tie my @x, 'main' }; $@ =~ /^Nesting/ ? 't' : $@",
         "t", ""},
        // A destructor that creates and drops another object, without end.
        {"package R; our $n = 0; sub DESTROY { my $x = bless {}, 'R' if $n++ < 50000 } package main; "
         "{ my $o = bless {}, 'R' } $R::n",
         "50001", ""},
    });
}

}  // namespace
