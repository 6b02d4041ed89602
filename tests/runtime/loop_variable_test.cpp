// A foreach variable named through a reference ("for $$r (...)"): a name or
// a glob reference gives the glob whose scalar the loop aliases; anything
// else gives no glob, and the loop dies instead of reaching into a glob that
// is not there.
#include "runtime/goes_on_fixture.h"

namespace {

class LoopVariable : public goeson::GoesOnTest {};

TEST_F(LoopVariable, ThroughAReference)
{
    check({
        {"our $n = 'lv'; my $s = ''; for $$n (1, 2) { $s .= $main::lv } $s . '|' . (defined $main::lv ? 1 : 0)",
         "12|0", ""},
        {"our $g = \\*LG; my $s = ''; for $$g ('a' .. 'c') { $s .= $LG } $s", "abc", ""},
        {"my @a = qw(a b c); my $s = \"\"; foreach my$$i (0 .. $#a) { $s .= \"$i$a[$i]\" } $s", "",
         "Can't use an undefined value as a symbol reference.\n"},
        {"eval { for my$$i (1, 2) { } }; $@", "Can't use an undefined value as a symbol reference.\n", ""},
        // An undefined scalar named by a plain variable comes to life as a
        // scalar reference, which is no glob.
        {"my $u; eval { for $$u (1) { } }; ref($u) . '|' . $@", "SCALAR|Not a GLOB reference.\n", ""},
        {"BEGIN { $^H |= 2 } our $n = 'x'; eval { for $$n (1) { } }; $@",
         "Can't use string (\"x\") as a symbol ref while \"strict refs\" in use.\n", ""},
    });
}

}  // namespace
