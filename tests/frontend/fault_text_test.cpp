// Program texts at the seams of the interpreter: empty matches over UTF-8
// text, the pool after string evals that fail to compile, diagnostics that
// describe only their own eval, and what a scope's end restores.
#include "support/eval_fixture.h"

namespace {

class FaultText : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }
};

// An empty match in UTF-8 text moves on by whole characters: split's pieces,
// global matches and substitutions never cut a character in two.
TEST_F(FaultText, EmptyMatchesStepByCharactersInUtf8Text)
{
    struct Case {
        const char* text;
        const char* value;
    } cases[] = {
        {"my @a = split //, \"\\x{263a}b\\x{e9}\"; join ',', map { length } @a", "1,1,1"},
        {"my @a = split //, \"\\x{263a}b\\x{e9}\"; scalar(@a)", "3"},
        {"my @a = split //, \"\\x{263a}b\\x{e9}\"; join ',', map { ord } @a", "9786,98,233"},
        {"my @a = split /(?:)/, \"\\x{263a}b\\x{e9}\"; join ',', map { length } @a", "1,1,1"},
        {"my @a = split //, \"\\x{263a}b\\x{e9}\", 2; join ',', map { length } @a", "1,2"},
        {"my @a = split /x*/, \"\\x{263a}\\x{263b}\"; join ',', map { ord } @a", "9786,9787"},
        {"my @a = split /(?:)/, \"a\\x{100}\"; join ',', map { ord } @a", "97,256"},
        {"my $s = \"\\x{263a}b\\x{e9}\"; my @p; while ($s =~ //g) { push @p, pos($s) } join ',', @p", "0,1,2,3"},
        {"my $s = \"\\x{263a}b\\x{e9}\"; my @m = ($s =~ /()/g); scalar(@m)", "4"},
        {"my $s = \"\\x{263a}b\"; $s =~ s//-/g; join ',', length($s), map { ord } split //, $s", "5,45,9786,45,98,45"},
        // Byte text is unchanged.
        {"my @a = split //, \"abc\"; join ',', @a", "a,b,c"},
        {"my $s = 'ab'; my @p; while ($s =~ //g) { push @p, pos($s) } join ',', @p", "0,1,2"},
    };
    for (const Case& c : cases) {
        prxtest::EvalResult r = eval(c.text);
        EXPECT_EQ(r.error, "") << c.text;
        EXPECT_EQ(r.value, c.value) << c.text;
    }
}

}  // namespace
