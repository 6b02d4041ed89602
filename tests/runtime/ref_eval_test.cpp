// Program texts of references, ref, bless, defined, undef and the
// increments evaluated whole.
#include "runtime/agg_eval_cases.h"

namespace {

using Case = runtime::TextCase;

class RefText : public runtime::TextTable {};

TEST_F(RefText, RefAndBless)
{
    const Case cases[] = {
        {"ref \\1", "SCALAR"},
        {"ref []", "ARRAY"},
        {"ref {}", "HASH"},
        {"ref \\\\1", "REF"},
        {"ref 'text'", ""},
        {"defined(ref 'text') ? 'd' : 'u'", "d"},
        {"ref bless {}, 'Foo'", "Foo"},
        {"package Bar; ref bless []", "Bar"},
        {"my $x = 5; my $r = \\$x; $$r = 6; $x", "6"},
    };
    expect_all(cases);
}

TEST_F(RefText, DefinedUndefAndSteps)
{
    const Case cases[] = {
        {"my $x; defined $x ? 'd' : 'u'", "u"},
        {"my $x = ''; defined $x ? 'd' : 'u'", "d"},
        {"my $x = 1; undef $x; defined $x ? 'd' : 'u'", "u"},
        {"my @a = (1); undef @a; scalar @a", "0"},
        {"my $x; my $old = $x++; $old . ',' . $x", "0,1"},
        {"my $x; my $old = $x--; (defined $old ? 'd' : 'u') . ',' . $x", "u,-1"},
        {"my $i = -2147483648; --$i", "-2147483649"},
        {"my $s = 'az'; $s++; $s", "ba"},
    };
    expect_all(cases);
}

}  // namespace
