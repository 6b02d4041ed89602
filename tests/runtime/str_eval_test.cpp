// Program texts of the string routines evaluated whole: sprintf, vec, chop
// and chomp, the string bit operators, join.
#include "runtime/agg_eval_cases.h"

namespace {

using Case = runtime::TextCase;

class StrText : public runtime::TextTable {};

TEST_F(StrText, Routines)
{
    const Case cases[] = {
        {"sprintf '%s-%03d', 'a', 7", "a-007"},
        {"vec('abc', 1, 8)", "98"},
        {"my $v = ''; vec($v, 3, 8) = 65; length($v) . ':' . ord(substr($v, 3))", "4:65"},
        {"my $s = 'abc'; chop $s", "c"},
        {"my $s = 'abc'; chop $s; $s", "ab"},
        {"my $s = \"line\\n\"; chomp $s", "1"},
        {"my $s = \"line\\n\\n\"; { local $/ = ''; chomp $s } $s . '|'", "line|"},
        {"'AB' | '  '", "ab"},
        {"'ab' ^ 'AB'", "  "},
        {"join ',', 1, 2, 3", "1,2,3"},
        {"join '-'", ""},
        {"join '-', 'one'", "one"},
        {"my @a = (1 .. 4); join $a[0], @a", "1121314"},
        {"my $s = 'x'; $s = join $s, $s, 'y'; $s", "xxy"},
        {"my @a = ('a', undef, 'b'); join '', @a", "ab"},
    };
    expect_all(cases);
}

}  // namespace
