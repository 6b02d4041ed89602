// Program texts of list assignment, dereference and print evaluated whole.
#include "runtime/agg_eval_cases.h"

namespace {

using Case = runtime::TextCase;

class AssignText : public runtime::TextTable {};

TEST_F(AssignText, ListAssignment)
{
    const Case cases[] = {
        {"my ($a, $b) = (1, 2); ($a, $b) = ($b, $a); $a . $b", "21"},
        {"my (@a, $s); (@a, $s) = (1, 2); scalar(@a) . (defined $s ? 'd' : 'u')", "2u"},
        {"my ($x, $y); scalar(($x, $y) = (5, 6, 7))", "3"},
        {"my ($x, $y, $z) = (1, 2); defined $z ? 'd' : 'u'", "u"},
        {"my (undef, $x) = (1, 2); $x", "2"},
        {"my %h = (a => 1, a => 2); $h{a}", "2"},
        {"my @a = (1, 2, 3); my $n = (my @b = @a); $n", "3"},
    };
    expect_all(cases);
}

TEST_F(AssignText, OddHashListsWarn)
{
    struct Warned {
        const char* text;
        const char* value;
        const char* warning;
    };
    const Warned cases[] = {
        {"$^W = 1; my %h = (1); $^W = 0; exists $h{1} && !defined $h{1} ? 'y' : 'n'", "y",
         "Odd number of elements in hash assignment"},
        {"$^W = 1; my %h = ([]); $^W = 0; scalar keys %h", "1",
         "Reference found where even-sized list expected"},
    };
    for (const Warned& c : cases) {
        clear_captures();
        prxtest::EvalResult r = eval(c.text);
        EXPECT_EQ(r.error, "") << c.text;
        EXPECT_EQ(r.value, c.value) << c.text;
        EXPECT_EQ(err_text().substr(0, std::string(c.warning).size()), c.warning) << err_text();
    }
}

TEST_F(AssignText, PrintWritesEveryItem)
{
    clear_captures();
    prxtest::EvalResult r = eval("print 'a', 'b'");
    EXPECT_EQ(r.value, "1");
    EXPECT_EQ(out_text(), "ab");
    clear_captures();
    r = eval("$, = '-'; $\\ = \"\\n\"; my $ok = print 1, 2, 3; $, = undef; $\\ = undef; $ok");
    EXPECT_EQ(r.value, "1");
    EXPECT_EQ(out_text(), "1-2-3\n");
    clear_captures();
    r = eval("print STDERR 'to error'");
    EXPECT_EQ(r.value, "1");
    EXPECT_NE(err_text().find("to error"), std::string::npos);
}

}  // namespace
