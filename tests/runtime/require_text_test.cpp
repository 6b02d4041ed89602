// Program texts of require and do FILE evaluated whole: the version checks,
// the @INC walk with its messages, code hooks that feed a file's text
// through a filter sub, %INC, and do FILE of a file that cannot be opened.
#include "runtime/agg_eval_cases.h"

namespace {

using Case = runtime::TextCase;

class RequireText : public runtime::TextTable {};

// A hook that answers every name with the text of one line, fed by a filter
// sub that hands out the line once.
std::string hooked(const std::string& line, const std::string& rest)
{
    return "@INC = (sub { my @l = (\"" + line + "\\n\"); return sub { $_ = shift @l; defined $_ ? 1 : 0 } }); " + rest;
}

TEST_F(RequireText, VersionsUpToTheRunningOneAreSatisfied)
{
    const Case cases[] = {
        {"require 5.006", "1"},
        {"require 5.006001", "1"},
        {"require 5", "1"},
        {"require v5.6.1", "1"},
        {"require v5.6.0", "1"},
        {"require v4.99.99", "1"},
    };
    expect_all(cases);
}

TEST_F(RequireText, LaterVersionsDie)
{
    const Case cases[] = {
        {"eval { require 5.006002 }; $@", "Perl v5.6.2 required--this is only v5.6.1, stopped.\n"},
        {"eval { require 5.6 }; $@",
         "Perl v5.600.0 required--this is only v5.6.1, stopped (did you mean v5.6.0?).\n"},
        {"eval { require 6 }; $@", "Perl v6.0.0 required--this is only v5.6.1, stopped (did you mean v6.0.0?).\n"},
        {"eval { require 5.007 }; $@", "Perl v5.7.0 required--this is only v5.6.1, stopped.\n"},
        {"eval { require v5.6.2 }; $@", "Perl v5.6.2 required--this is only v5.6.1, stopped.\n"},
        {"eval { require v5.7 }; $@", "Perl v5.7.0 required--this is only v5.6.1, stopped.\n"},
    };
    expect_all(cases);
}

TEST_F(RequireText, FilesThatCannotBeFoundDie)
{
    const Case cases[] = {
        {"eval { require No::Such }; $@ =~ m{^Can't locate No/Such.pm in \\@INC \\(\\@INC contains: } ? 'y' : $@", "y"},
        {"@INC = (); eval { require No::Such }; $@", "Can't locate No/Such.pm in @INC (@INC contains:).\n"},
        {"@INC = ('d1', 'd2'); eval { require 'a.pl' }; $@", "Can't locate a.pl in @INC (@INC contains: d1 d2).\n"},
        {"@INC = (); eval { require 'x.ph' }; $@", "Can't locate x.ph in @INC (did you run h2ph?) (@INC contains:).\n"},
        {"@INC = (); eval { require 'x.h' }; $@",
         "Can't locate x.h in @INC (change .h to .ph maybe?) (did you run h2ph?) (@INC contains:).\n"},
        {"eval { require '/no/such/file.pl' }; $@", "Can't locate /no/such/file.pl.\n"},
        {"eval { require './no_such_file.pl' }; $@", "Can't locate ./no_such_file.pl.\n"},
        {"eval { require '' }; $@", "Null filename used.\n"},
        {"eval { require No::Such }; exists $INC{'No/Such.pm'} ? 'in' : 'out'", "out"},
    };
    expect_all(cases);
}

TEST_F(RequireText, AKnownNameIsNotLoadedAgain)
{
    const std::string once = hooked("1;", "require Once; $INC{'Once.pm'} = 'kept'; require Once; $INC{'Once.pm'}");
    const Case cases[] = {
        {"$INC{'Known.pm'} = 'x'; @INC = (); require Known", "1"},
        {once.c_str(), "kept"},
    };
    expect_all(cases);
}

TEST_F(RequireText, HooksFeedTheFileText)
{
    const std::string defines = hooked("sub hi { 42 } 1;", "require Hi; hi()");
    const std::string recorded = hooked("1;", "require Rec; $INC{'Rec.pm'} =~ m{^/loader/0x[0-9a-f]+/Rec.pm$} ? 'y' : $INC{'Rec.pm'}");
    const std::string value = hooked("2 + 3;", "do 'five.pl'");
    const std::string skipped = "@INC = (sub { return }, sub { my @l = (\"7;\\n\"); "
                                "sub { $_ = shift @l; defined $_ ? 1 : 0 } }); require Second";
    const std::string args = "my @seen; @INC = (sub { push @seen, ref($_[0]), $_[1]; return }); "
                             "eval { require Some::Mod }; join ',', @seen";
    const Case cases[] = {
        {defines.c_str(), "42"},
        {recorded.c_str(), "y"},
        {value.c_str(), "5"},
        {skipped.c_str(), "7"},
        {args.c_str(), "CODE,Some/Mod.pm"},
    };
    expect_all(cases);
}

TEST_F(RequireText, AFileMustEndTrue)
{
    const std::string zero = hooked("0;", "eval { require Zero }; $@ . (exists $INC{'Zero.pm'} ? 'in' : 'out')");
    const Case cases[] = {
        {zero.c_str(), "Zero.pm did not return a true value.\nout"},
    };
    expect_all(cases);
}

TEST_F(RequireText, DoFileOfAMissingFileIsUndefined)
{
    const Case cases[] = {
        {"defined(do 'no_such_file.pl') ? 'd' : 'u'", "u"},
        {"@INC = (); defined(do 'no_such_file.pl') ? 'd' : 'u'", "u"},
        {"my $r = do '/no/such/file.pl'; (defined $r ? 'd' : 'u') . $@", "u"},
    };
    expect_all(cases);
}

}  // namespace
