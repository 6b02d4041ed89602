// The command-line programs prxmatch and rngprobe, run as a person runs them.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "mmfixture.h"
#include "matchmod/mmsession.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string slurp(const std::string& path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Runs a tool of the build with arguments (shell words) and optional input.
Outcome run(const std::string& tool, const std::string& args, const std::string& input = "")
{
    Outcome r;
    const char* bin = std::getenv("PRX_BINARY_DIR");
    if (!bin)
        return r;
    std::string base = std::string(bin) + "/cli_test." + tool;
    std::string in = base + ".in", out = base + ".out", err = base + ".err";
    std::ofstream(in) << input;
    std::string cmd = std::string(bin) + "/hostsim/" + tool + " " + args + " <" + in + " >" + out + " 2>" + err;
    int st = std::system(cmd.c_str());
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    std::remove(in.c_str());
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

struct Cli : ::testing::Test {
    void SetUp() override
    {
        if (!std::getenv("PRX_BINARY_DIR"))
            GTEST_SKIP() << "no build directory given";
    }
};

// One line per source, from the arguments or from standard input, at one
// call site.
TEST_F(Cli, PrxmatchCallsOncePerSource)
{
    Outcome r = run("prxmatch", "'/b/' abc xyz");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "2\n0\n");
    EXPECT_EQ(run("prxmatch", "'/b/'", "abc\nxyz\nb\n").out, "2\n0\n1\n");
}

TEST_F(Cli, PrxmatchPatternIds)
{
    Outcome r = run("prxmatch", "--id . abc");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ".\tstatus 0x0001D804\n");
    EXPECT_NE(r.err.find("MESSAGE 738/103 ERROR: A required argument to the function PRXMATCH is missing."),
              std::string::npos);
    r = run("prxmatch", "--id 0.5 abc def");
    EXPECT_EQ(r.out, ".\tstatus 0x8001D802\n.\tstatus 0x8001D802\n");
}

// A pattern that does not compile: the compiler's text reaches the host log
// and the call fails with the compile status.
TEST_F(Cli, PrxmatchBadPatternLogsTheCompilerText)
{
    Outcome r = run("prxmatch", "'/(/' abc");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, ".\tstatus 0x0001D804\n");
    EXPECT_NE(r.err.find("host: ERROR TEXT Unmatched ( in regex m/(/.\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("HERE"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("host: STATUS"), std::string::npos) << r.err;
}

// A pattern compiled into a session slot is matched by its id.
TEST_F(Cli, PrxmatchSlotPattern)
{
    Outcome r = run("prxmatch", "--slot '/b/' --id 1 abc");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("prxmatch: slot 1 holds /b/\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "2\n");
    // A slot whose record holds no compiled pattern reaches the match entry,
    // which answers that the pattern is missing.
    r = run("prxmatch", "--slot '/(/' --id 1 abc");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("prxmatch: slot 1 holds /(/ (compile status 0x8001C803)\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "0\tstatus 0x8017113C\n");
}

// The outcomes of the command line at a releasing site, one call per row:
// what it prints and a line the host log must show.
TEST_F(Cli, PrxmatchOutcomes)
{
    struct Row {
        std::string args;
        const char* out;
        std::string log;  // a whole line of the host log, or empty
    };
    const Row rows[] = {
        {"'/b/' abc", "2\n", ""},
        {"'/z/' abc", "0\n", ""},
        {"'m{a+}ix' xAAy", "2\n", ""},
        {"'  m /a/  ' ba", "2\n", ""},
        {"'//' ''", "1\n", ""},
        {"'' x", ".\tstatus 0x0001D804\n", "host: STATUS 0x80171001 status 0x80171001"},
        {"'' x", ".\tstatus 0x0001D804\n",
         "host: MESSAGE 738/105 ERROR: The regular expression passed to the function PRXMATCH did not compile."},
        {"'1abc1' x", ".\tstatus 0x0001D804\n", std::string("host: STATUS 0x8017112C status 0x8017112C: [1] [\x05\0\0\0] [1abc1]", 61)},
        {"'/(/' x", ".\tstatus 0x0001D804\n", "host: ERROR TEXT Unmatched ( in regex m/(/."},
        {"'/^(?:a|bc)*$/' " + std::string(2000, 'a'), ".\tstatus 0x8001D84A\n",
         "host: LOG ERROR: Catastrophic backtracking detected."},
    };
    for (const Row& row : rows) {
        Outcome r = run("prxmatch", "--kind D " + row.args);
        EXPECT_EQ(r.status, 0) << row.args;
        EXPECT_EQ(r.out, row.out) << row.args;
        if (!row.log.empty()) {
            EXPECT_NE(("\n" + r.err).find("\n" + row.log + "\n"), std::string::npos) << r.err;
        }
    }
    // The call after a guard trip on the same task matches.
    Outcome r = run("prxmatch", "'/^(?:a|bc)*$/' " + std::string(2000, 'a') + " bc");
    EXPECT_EQ(r.out, ".\tstatus 0x8001D84A\n1\n");
}

TEST_F(Cli, RexevalEvaluatesTexts)
{
    Outcome r = run("rexeval", "'\"\" . qr/abc/i' 'my $r = eval \"qr/b/i\"; (\"xBx\" =~ $r) ? \"y\" : \"n\"'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "(?i-xsm:abc)\t\ny\t\n");
    // From standard input, with the %HH escapes both ways.
    r = run("rexeval", "", "\"a%25b\"\ndie \"x%0A\"\n");
    EXPECT_EQ(r.out, "a%25b\t\n\tx%0A\n");
    r = run("rexeval", "'my $v = eval \"qr/a(/\"; ($v ? \"d\" : \"u\") . \":\" . $@'");
    EXPECT_EQ(r.out.substr(0, 13), "u:Unmatched (") << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 5), "%0A\t\n") << r.out;
}

TEST_F(Cli, PrxmatchUsage)
{
    EXPECT_EQ(run("prxmatch", "").status, 2);
    EXPECT_EQ(run("prxmatch", "--kind").status, 2);
}

TEST_F(Cli, RngprobeDraws)
{
    Outcome r = run("rngprobe", "MT32 5489 0 3");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "d091bb5c\n22ae9ef6\ne7e1faee\n");
    r = run("rngprobe", "mt 5489 0 1");
    EXPECT_EQ(r.out, "c96d191cf6f6aea6\n");
    r = run("rngprobe", "PCG32I 1 0 2");
    EXPECT_EQ(r.out, "a3fe8633\n0e48fb8f\n");
    r = run("rngprobe", "--uniform MT32 5489 0 1");
    char want[64];
    std::snprintf(want, sizeof want, "%.17g\n", 3499211612.0 * (0x1p-32 - 0x1p-85));
    EXPECT_EQ(r.out, want);
    EXPECT_EQ(run("rngprobe", "MT32 5489 0 1 --uniform").out, want);
    r = run("rngprobe", "--uniform XOR64 1 0 1");
    std::snprintf(want, sizeof want, "%.17g\n", static_cast<double>(0x47E4CE4B896CDD1Dull) * 0x1p-64);
    EXPECT_EQ(r.out, want);
    r = run("rngprobe", "NOPE 5489 0 1");
    EXPECT_NE(r.err.find("rngprobe: the stream of NOPE reports 0x8C7FE80B and uses MTHYBRID"), std::string::npos);
    EXPECT_EQ(run("rngprobe", "MT32 x 0 1").status, 2);
}

// The command line stops on a fatal host error with a non-zero exit code.
TEST(FatalStop, CommandLineHostExits)
{
    EXPECT_EXIT(
        {
            hostsim::Host& h = hostsim::reset();
            h.fatal_exits = true;
            mcn_main(&h.vec, nullptr);
            h.fail.fail_next = true;
            prx_slot_alloc(&h.main_task()->handle);
        },
        ::testing::ExitedWithCode(3), "host: fatal stop 1016");
}

}  // namespace
