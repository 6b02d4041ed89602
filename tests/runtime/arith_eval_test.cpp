// Program texts of the operators evaluated whole, with their exact results.
#include "runtime/agg_eval_cases.h"

namespace {

using Case = runtime::TextCase;

class ArithText : public runtime::TextTable {};

TEST_F(ArithText, ObservableJoins)
{
    const Case cases[] = {
        {"join ',', 7 % -3, -7 % 3, -7 % -3, 7.9 % 3, 5000000000.7 % 3", "-2,2,-1,1,0"},
        {"join '|', 'ab' x 3, 'ab' x -1, join(',', (1, 2) x 2)", "ababab||1,2,1,2"},
    };
    expect_all(cases);
}

// The integer hint is set as the integer pragma would set it: this system
// ships no library of pragmas for use to load.
TEST_F(ArithText, Modulus)
{
    const Case cases[] = {
        {"7 % -3", "-2"},          {"-7 % 3", "2"},         {"-7 % -3", "-1"},
        {"7.9 % 3", "1"},          {"5000000000.7 % 3", "0"}, {"5000000002 % -3", "-2"},
        {"BEGIN { $^H |= 1 } -7 % 2", "-1"}, {"BEGIN { $^H |= 1 } -7 / 2", "-3"},
    };
    expect_all(cases);
}

TEST_F(ArithText, Arithmetic)
{
    const Case cases[] = {
        {"2 ** 10", "1024"},
        {"1 / 4", "0.25"},
        {"7 - 10", "-3"},
        {"3 * 1.5", "4.5"},
        {"my $x; $x -= 1; $x", "-1"},
        {"my $x = 3; $x *= 4; $x", "12"},
        {"my $x = 2; $x **= 3; $x", "8"},
        {"my $x = 7; $x %= 4; $x", "3"},
    };
    expect_all(cases);
}

TEST_F(ArithText, Repetition)
{
    const Case cases[] = {
        {"'ab' x 3", "ababab"},
        {"'ab' x 0", ""},
        {"'ab' x -1", ""},
        {"my @a = (1, 2) x 3; scalar @a", "6"},
        {"my @a = (1, 2) x 0; scalar @a", "0"},
        {"my $s = 'ab'; $s x= 2; $s", "abab"},
    };
    expect_all(cases);
}

TEST_F(ArithText, ShiftsAndBits)
{
    const Case cases[] = {
        {"1 << 64", "1"},
        {"1 << 65", "2"},
        {"-1 >> 1", "9223372036854775807"},
        {"BEGIN { $^H |= 1 } -1 >> 1", "-1"},
        {"'AB' | '  '", "ab"},
        {"'12' | 1", "13"},
        {"'AB' ^ '  '", "ab"},
        {"'ab' & '_'", "A"},
        {"~0", "18446744073709551615"},
        {"BEGIN { $^H |= 1 } ~0", "-1"},
        {"~'ab' eq \"\\x9e\\x9d\" ? 'yes' : 'no'", "yes"},
    };
    expect_all(cases);
}

TEST_F(ArithText, ComparisonsAndNegation)
{
    const Case cases[] = {
        {"1 <=> 2", "-1"},
        {"'b' cmp 'a'", "1"},
        {"2 <=> 2", "0"},
        {"10 < 9", ""},
        {"'10' lt '9'", "1"},
        {"3 != 3", ""},
        {"-'foo'", "-foo"},
        {"-'-foo'", "+foo"},
        {"-'+foo'", "-foo"},
        {"-'12'", "-12"},
        {"!'0'", "1"},
        {"!''", "1"},
        {"!'0.0'", ""},
    };
    expect_all(cases);
}

TEST_F(ArithText, OperatorErrors)
{
    const Case cases[] = {
        {"my $z = 0; 1 / $z", "Illegal division by zero"},
        {"my $z = 0; 1 % $z", "Illegal modulus zero"},
        {"my $z = 0.4; 5 % $z", "Illegal modulus zero"},
        {"BEGIN { $^H |= 1 } my $z = 0; 5 / $z", "Illegal division by zero"},
    };
    expect_errors(cases);
}

}  // namespace
