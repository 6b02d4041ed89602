// Program texts of local, wantarray, list assignment in scalar context,
// slices and the loop exits evaluated whole, with their exact results.
#include "runtime/agg_eval_cases.h"

namespace {

using Case = runtime::TextCase;

class ControlText : public runtime::TextTable {};

TEST_F(ControlText, LocalRestoresAtScopeExit)
{
    const Case cases[] = {
        {"our $g = 1; sub f { $g } sub t { local $g = 2; f() } t() . $g", "21"},
        {"our @a = (1, 2); sub t { local @a = (3); scalar @a } t() . scalar(@a)", "12"},
        {"our %h = (a => 1); { local $h{a} = 2; } $h{a}", "1"},
        {"our @a = (1, 2, 3); { local $a[1] = 9; } join ',', @a", "1,2,3"},
        {"our $g = 1; eval { local $g = 2; die \"x\\n\" }; $g", "1"},
        {"our $g = 1; for my $i (1 .. 3) { local $g = $i; last if $i == 2 } $g", "1"},
    };
    expect_all(cases);
}

TEST_F(ControlText, WantarrayFollowsTheCallingContext)
{
    const Case cases[] = {
        {"sub c { wantarray ? 'list' : defined(wantarray) ? 'scalar' : 'void' } my @l = c(); my $s = c(); \"$l[0],$s\"",
         "list,scalar"},
        {"sub c { $main::w = wantarray ? 'list' : defined(wantarray) ? 'scalar' : 'void'; 1 } c(); $main::w", "void"},
        {"sub g { return (1, 2, 3) } my $s = g(); my @l = g(); \"$s,\" . scalar(@l)", "3,3"},
    };
    expect_all(cases);
}

// In scalar context a list assignment yields the number of right-hand
// values, not of the left-hand items.
TEST_F(ControlText, ListAssignmentInScalarContext)
{
    const Case cases[] = {
        {"my $n = (my ($a, $b) = (5, 6, 7)); $n", "3"},
        {"my $n = (my @x = ()); $n", "0"},
        {"my $n = (() = (1, 2, 3, 4)); $n", "4"},
        {"my ($a, undef, $c) = (1, 2, 3); \"$a$c\"", "13"},
        {"my @a = (1, 2); my $c = () = @a; my ($f) = @a; \"$c$f\"", "21"},
        {"my ($x, $y) = (1, 2); ($x, $y) = ($y, $x); \"$x$y\"", "21"},
        {"my (@a, $s) = (1, 2); scalar(@a) . (defined $s ? 'd' : 'u')", "2u"},
    };
    expect_all(cases);
}

TEST_F(ControlText, SlicesDeleteAndExists)
{
    const Case cases[] = {
        {"my %h; @h{'a', 'b'} = (1, 2); join ',', map { \"$_=$h{$_}\" } sort keys %h", "a=1,b=2"},
        {"my %h = (a => 1, b => 2, c => 3); join ',', sort(delete @h{'a', 'b'}), keys %h", "1,2,c"},
        {"my @a = (1 .. 5); join ',', @a[1, 3], (10, 20, 30)[-1, 0]", "2,4,30,10"},
        {"my @x = (1, 2, 3)[5, 6]; scalar @x", "0"},
        {"my @a = (1, 2, 3); join ',', delete $a[2], scalar(@a), exists $a[1] ? 1 : 0", "3,2,1"},
        {"my %h = (a => 1, b => 2); join ',', sort(values %h), exists $h{a} ? 1 : 0, delete $h{a}, exists $h{a} ? 1 : 0",
         "1,2,1,1,0"},
    };
    expect_all(cases);
}

TEST_F(ControlText, LoopsAndTheirExits)
{
    const Case cases[] = {
        {"my @r; for my $i (1 .. 0) { push @r, $i } for ('a' .. 'e') { push @r, $_ } "
         "for ('abc' .. 'e') { push @r, $_ } join ',', @r",
         "a,b,c,d,e"},
        {"my @a; $a[2] = 1; for (@a) { $_ = 5 } join ',', @a", "5,5,5"},
        {"my $i = 0; OUT: while (1) { $i++; for (1 .. 3) { next OUT if $i < 3; last OUT } } $i", "3"},
        {"my $i = 0; { $i++; redo if $i < 3 } $i", "3"},
        {"eval { for (0 .. 2147483647) { last } }; $@", "Range iterator outside integer range.\n"},
        {"eval { OUT: for (1) { next FOO } }; $@", "Label not found for \"next FOO\".\n"},
        {"eval { last }; $@", "Can't \"last\" outside a loop block.\n"},
        {"join ',', map { scalar(($_ == 2) .. ($_ == 4)) } 1 .. 5", ",1,2,3E0,"},
        {"my $x = 1; $x &&= 0; my $y = 0; $y &&= 5; my $z = 0; $z ||= 5; my $w = 2; $w ||= 5; \"$x$y$z$w\"", "0052"},
    };
    expect_all(cases);
}

}  // namespace
