// Program texts of the string routines evaluated whole: sprintf, vec, chop
// and chomp, the string bit operators.
#include "runtime/agg_eval_cases.h"

namespace {

using opsa_eval::Case;

class StrText : public opsa_eval::Table {};

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
    };
    expect_all(cases);
}

}  // namespace
