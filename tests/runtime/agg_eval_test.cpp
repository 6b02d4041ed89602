// Program texts of the array and hash built-ins evaluated whole.
#include "runtime/agg_eval_cases.h"

namespace {

using Case = runtime::TextCase;

class AggText : public runtime::TextTable {};

// Texts end in "L(@list)": the items joined by commas with concatenation.
#define L(list) "my $s = ''; for (" list ") { $s .= (defined $_ ? $_ : 'u') . ',' } $s"

TEST_F(AggText, PushPopShiftUnshiftSplice)
{
    const Case cases[] = {
        {"my @a = (1, 2); push @a, 3, 4; " L("@a"), "1,2,3,4,"},
        {"my @a = (1, 2); push(@a, 3)", "3"},
        {"my @a = (3); unshift @a, 1, 2; " L("@a"), "1,2,3,"},
        {"my @a = (1, 2, 3); pop @a", "3"},
        {"my @a = (1, 2, 3); shift @a; " L("@a"), "2,3,"},
        {"my @a; defined(shift @a) ? 'd' : 'u'", "u"},
        {"my @a = (1..5); my @r = splice(@a, 1, 2); " L("@r, '|', @a"), "2,3,|,1,4,5,"},
        {"my @a = (1..5); splice(@a, 1, 2, 'x', 'y', 'z'); " L("@a"), "1,x,y,z,4,5,"},
        {"my @a = (1..5); splice(@a, 10, 0, 'n'); " L("@a"), "1,2,3,4,5,n,"},
        {"my @a = (1..5); splice(@a, 1, -1); " L("@a"), "1,5,"},
        {"my @a = (1..5); splice(@a, 2); " L("@a"), "1,2,"},
        {"my @a = (1..5); scalar splice(@a, 1, 2)", "3"},
    };
    expect_all(cases);
}

TEST_F(AggText, HashBuiltins)
{
    const Case cases[] = {
        {"my %h = (a => 1, b => 2); " L("sort keys %h"), "a,b,"},
        {"my %h = (a => 1, b => 2); scalar keys %h", "2"},
        {"my %h = (a => 1); my ($k, $v) = each %h; $k . '=' . $v", "a=1"},
        {"my %h = (a => 1); each %h; defined(each %h) ? 'd' : 'u'", "u"},
        {"my %h = (a => 1, b => 2); delete $h{a}", "1"},
        {"my %h = (a => 1, b => 2); delete $h{a}; exists $h{a} ? 'y' : 'n'", "n"},
        {"my %h = (a => 1, b => 2, c => 3); " L("delete @h{qw(a c)}"), "1,3,"},
        {"my %h = (a => 1); exists $h{a} ? 'y' : 'n'", "y"},
        {"my %h = (a => 1, b => 2); " L("@h{'b', 'a', 'x'}"), "2,1,u,"},
        {"my %h; scalar(%h)", "0"},
        {"my %h = (1); exists $h{1} && !defined $h{1} ? 'y' : 'n'", "y"},
    };
    expect_all(cases);
}

TEST_F(AggText, SlicesListsAndReverse)
{
    const Case cases[] = {
        {"my @a = qw(a b c); " L("@a[0, 2, 5]"), "a,c,u,"},
        {"" L("(qw(a b c))[1, -1]"), "b,c,"},
        {"my @e = (qw(a b c))[5, 9]; scalar @e", "0"},
        {"scalar((4, 5, 6)[1])", "5"},
        {"" L("reverse 1, 2, 3"), "3,2,1,"},
        {"scalar reverse 'abc', 'de'", "edcba"},
        {"my $r = [1, 2, 3]; scalar @$r", "3"},
        {"my $r = {a => 1}; $$r{a}", "1"},
    };
    expect_all(cases);
}

}  // namespace
