// sort, grep and map as programs use them, evaluated as program texts: the
// built-in orders, comparison blocks and subs, the comparator's contract,
// and grep and map in scalar and list context.
#include "runtime/sub_fixture.h"

namespace {

class SortText : public runtime::SubEval {};

using Case = runtime::SubCase;

// The items of a list as "a,b,c," (without join).
#define LIST(expr) "my $s = ''; $s .= \"$_,\" for " expr "; $s"

TEST_F(SortText, BuiltInOrders)
{
    check({
        {LIST("sort { $a <=> $b } 10, 9, 100"), "9,10,100,"},
        {LIST("sort 10, 9, 100"), "10,100,9,"},
        {LIST("sort { $b cmp $a } 'a', 'c', 'b'"), "c,b,a,"},
        {LIST("sort { $b <=> $b } 3, 1, 2"), "3,1,2,"},
        {LIST("reverse sort { $a <=> $b } 2, 3, 1"), "3,2,1,"},
        {LIST("sort { $a <=> $b } 3.5, -1, 2e1, 0"), "-1,0,3.5,20,"},
        {LIST("sort()"), ""},
        {LIST("sort 'one'"), "one,"},
        {"my $x = sort 1, 2; defined($x) ? 'd' : 'u'", "u"},
    });
}

TEST_F(SortText, JoinedOrders)
{
    check({{"join \";\", join(\",\", sort { $a <=> $b } 10, 9, 100), join(\",\", sort 10, 9, 100), "
            "join(\",\", sort { $b cmp $a } \"a\", \"c\", \"b\")",
            "9,10,100;10,100,9;c,b,a"}});
}

TEST_F(SortText, ComparisonCode)
{
    check({
        {LIST("sort { $a % 10 <=> $b % 10 || $a <=> $b } 21, 12, 11, 3"), "11,21,12,3,"},
        {"sub byn { $a <=> $b } " LIST("sort byn 3, 1, 2"), "1,2,3,"},
        {"sub byp($$) { $_[1] <=> $_[0] } " LIST("sort byp 3, 1, 2"), "3,2,1,"},
        {"my $by = sub { $b <=> $a }; " LIST("sort $by 1, 3, 2"), "3,2,1,"},
        {"package Other; sub inpkg { $a <=> $b } package main; " LIST("sort Other::inpkg 2, 3, 1"), "1,2,3,"},
        {"sub ret { return $a <=> $b } " LIST("sort ret 2, 1, 3"), "1,2,3,"},
        // The sign of the comparator's whole value counts, beyond 32 bits too.
        {LIST("sort { $a - $b } 3000000000, -3000000000, 0"), "-3000000000,0,3000000000,"},
        {LIST("sort { ($a <=> $b) * 4294967296 } 3, 1, 2"), "1,2,3,"},
        {LIST("sort { ($a <=> $b) / 4 } 3, 1, 2"), "1,2,3,"},
        // The comparison sees @_ of its caller untouched afterwards.
        {"sub pr($$) { $_[0] <=> $_[1] } sub outer { my @s = sort pr 2, 1; scalar(@_) . $s[0] } outer(7, 8, 9)",
         "31"},
    });
}

TEST_F(SortText, ComparatorErrors)
{
    check({
        {"eval { my @x = sort { 'abc' } 1, 2 }; $@", "Sort subroutine didn't return a numeric value.\n"},
        {"eval { my @x = sort nosuch 1, 2 }; $@", "Undefined subroutine in sort.\n"},
        {"sub undone; eval { my @x = sort undone 1, 2 }; $@", "Undefined sort subroutine \"main::undone\" called.\n"},
        {"eval { my @x = sort { die \"in\\n\" } 1, 2 }; $@", "in\n"},
        // After a die inside a comparison the sort level is gone: later
        // sorts and calls work.
        {"eval { my @x = sort { die \"x\\n\" } 1, 2 }; " LIST("sort { $a <=> $b } 2, 1"), "1,2,"},
        // A fatal error while a comparison compiles a string eval fails
        // that eval only; the sort goes on.
        {"sub by { $e = eval 'sub by { 0 } 1' ? 'ok' : $@; $a <=> $b } " LIST("sort by 2, 1") " . $e",
         "1,2,Can't redefine active sort subroutine by.\n"},
        {"my @s = sort { $e2 = eval 'BEGIN { die qq{b\\n} } 1' ? 'ok' : $@; $b <=> $a } 1, 2, 3; "
         "join(',', @s) . ':' . $e2",
         "3,2,1:b\nBEGIN failed--compilation aborted.\n"},
    });
}

TEST_F(SortText, GrepAndMap)
{
    check({
        {"scalar(grep { $_ } 1, 0, 2, '', 3)", "3"},
        {LIST("grep { $_ % 2 } 1 .. 6"), "1,3,5,"},
        {LIST("grep { /a/ } 'ab', 'cd', 'ba'"), "ab,ba,"},
        {"my @g = grep { 1 } (); scalar(@g) . ':' . scalar(grep { 1 } ())", "0:0"},
        {LIST("map { ($_, $_ * 10) } 1, 2, 3"), "1,10,2,20,3,30,"},
        {LIST("map { () } 1, 2"), ""},
        {LIST("map { $_ + 1 } grep { $_ > 1 } 1, 2, 3"), "3,4,"},
        {"my $c = () = map { ($_, $_) } 1, 2, 3; $c", "6"},
        {"scalar(map { ($_) x $_ } 1, 2, 3)", "6"},
        // $_ is an alias of each item and comes back afterwards.
        {"$_ = 'keep'; my @v = (1, 2); map { $_ *= 2 } @v; $v[0] . $v[1] . $_", "24keep"},
        {"my @v = (1, 2, 3); grep { $_ .= '!' } @v; $v[2]", "3!"},
    });
}

}  // namespace
