// The system ops as program text sees them: the time ops on the host's one
// fixed time record, the file-system and process ops that fail after the
// host's reports of unsupported C functions, the file tests and the stat
// cache of `_`, and the ops that die at once with their fixed messages.
#include <string>
#include <vector>

#include "support/eval_fixture.h"
#include "support/reports.h"

namespace {

using Reports = std::vector<std::string>;

// A text that runs without an error, its value, whether that is defined,
// and the unsupported-function reports it makes.
struct Outcome {
    const char* text;
    const char* value;
    bool defined;
    Reports want;
};

class SysOps : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        host->messages.clear();
    }
    // The names the unsupported-function reports carried, in order; cleared.
    std::vector<std::string> reports() { return prxtest::take_unsupported_reports(*host); }
    // Evaluates text that must not leave an error; the result.
    prxtest::EvalResult run(const std::string& text)
    {
        prxtest::EvalResult r = eval(text);
        EXPECT_EQ(r.jump, 0) << text;
        EXPECT_EQ(r.error, "") << text;
        return r;
    }
    // Runs each case and checks its outcome.
    template <size_t N>
    void expect_outcomes(const Outcome (&cases)[N])
    {
        for (const Outcome& c : cases) {
            SCOPED_TRACE(c.text);
            prxtest::EvalResult r = run(c.text);
            EXPECT_EQ(r.value, c.value);
            EXPECT_EQ(r.defined, c.defined);
            EXPECT_EQ(reports(), c.want);
        }
    }
};

TEST_F(SysOps, LocalTimeAndGmTimeGiveTheHostsFixedRecord)
{
    for (const char* text : {"scalar(localtime(0))", "scalar(gmtime(12345))", "scalar(localtime)"}) {
        SCOPED_TRACE(text);
        prxtest::EvalResult r = run(text);
        EXPECT_EQ(r.value, "Fri Feb  1 00:00:00 1960");
        EXPECT_TRUE(reports().empty());
    }
}

TEST_F(SysOps, TimeReadsTheHostClock)
{
    host->clock = 1234567890.75;
    EXPECT_EQ(run("time").value, "1234567890");
}

TEST_F(SysOps, SleepReturnsTheSecondsTheHostClockMoved)
{
    prxtest::EvalResult r = run("sleep(2)");
    EXPECT_EQ(r.value, "2");
    EXPECT_EQ(host->sleeps, std::vector<uint32_t>{2000u});
    EXPECT_TRUE(reports().empty());
    // Without an argument the pause substitute reports itself and returns.
    r = run("sleep");
    EXPECT_EQ(r.value, "0");
    EXPECT_EQ(reports(), Reports{"PAUSE"});
}

TEST_F(SysOps, FileListOpsCountNoFileDone)
{
    struct Case {
        const char* text;
        Reports want;
    };
    const Case cases[] = {
        {"unlink(\"a\", \"b\", \"c\")", {"STAT", "STAT", "STAT"}},
        // No name: $_ is the one name.
        {"unlink()", {"STAT"}},
        {"chmod(0644, \"a\", \"b\")", {"CHMOD", "CHMOD"}},
        {"utime(1, 2, \"a\")", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(run(c.text).value, "0");
        EXPECT_EQ(reports(), c.want);
    }
}

TEST_F(SysOps, FileSystemOpsFailAfterTheirReports)
{
    const Outcome cases[] = {
        {"rename(\"a\", \"b\")", "0", true, {"RENAME"}},
        {"mkdir(\"d\")", "0", true, {"MKDIR"}},
        {"mkdir(\"d\", 0700)", "0", true, {"MKDIR"}},
        {"rmdir(\"d\")", "0", true, {"RMDIR"}},
        {"chdir(\"/tmp\")", "0", true, {"CHDIR"}},
        // HOME and LOGDIR are not set: the substitute gets no directory.
        {"chdir()", "0", true, {"CHDIR"}},
        {"chdir(\"\")", "0", true, {"CHDIR"}},
        {"readlink(\"x\")", "", false, {}},
    };
    expect_outcomes(cases);
}

// The fork substitute fails: fork is undefined and system -1, and neither
// runs the child's side (exec reports and the command left as the value).
TEST_F(SysOps, ForkFailsAndSystemYieldsMinusOne)
{
    prxtest::EvalResult r = run("fork");
    EXPECT_FALSE(r.defined);
    EXPECT_EQ(reports(), Reports{"FORK"});

    r = run("system(\"cmd\")");
    EXPECT_EQ(r.value, "-1");
    EXPECT_EQ(reports(), (Reports{"PIPE", "FORK"}));
    r = run("system(\"prog\", \"arg\")");
    EXPECT_EQ(r.value, "-1");
    EXPECT_EQ(reports(), (Reports{"PIPE", "FORK"}));
    // $? keeps what it held.
    EXPECT_EQ(run("$? = 3; system(\"cmd\"); $?").value, "3");
}

// A failed fork is retried only for the error the fork itself reports; an
// error number left over from before is no reason to wait and fork again.
TEST_F(SysOps, SystemDoesNotRetryOnAStaleErrorNumber)
{
    prxtest::EvalResult r = run("$! = 8; system(\"cmd\")");
    EXPECT_EQ(r.value, "-1");
    EXPECT_TRUE(host->sleeps.empty());
    EXPECT_EQ(run("$! = 8; system(\"cmd\"); $! + 0").value, "8");
}

TEST_F(SysOps, ExecAndTheWaitsFail)
{
    prxtest::EvalResult r = run("exec(\"cmd\")");
    EXPECT_EQ(r.value, "0");
    EXPECT_EQ(reports(), Reports{"EXECVP"});
    r = run("exec(\"cmd >x\")");
    EXPECT_EQ(r.value, "0");
    EXPECT_EQ(reports(), Reports{"EXECL"});

    r = run("wait");
    EXPECT_EQ(r.value, "0");
    EXPECT_EQ(reports(), Reports{"WAIDPID"});
    EXPECT_EQ(run("wait; $?").value, "-1");
    reports();
    // Process id 0 is not waited for.
    EXPECT_EQ(run("waitpid(0, 0)").value, "-1");
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(run("waitpid(77, 0)").value, "0");
    EXPECT_EQ(reports(), Reports{"WAIDPID"});
}

TEST_F(SysOps, StatAndFileTestsOfANameFail)
{
    const Outcome cases[] = {
        {"stat(\"x\")", "", true, {"STAT"}},
        {"lstat(\"x\")", "", true, {"STAT"}},
        {"-e \"x\"", "", false, {"STAT"}},
        {"-s \"x\"", "", false, {"STAT"}},
        {"-M \"x\"", "", false, {"STAT"}},
        {"-r \"x\"", "", false, {"STAT"}},
        {"-d \"x\"", "", false, {"STAT"}},
        {"-l \"x\"", "", false, {"STAT"}},
        {"-u \"x\"", "", false, {"STAT"}},
        // -e _ repeats the cached failure without a new stat.
        {"-e \"x\"; -e _", "", false, {"STAT"}},
        {"-k \"x\"", "", true, {}},
        // -T opens the name (the open substitute gives a stream) and then
        // cannot stat it.
        {"-T \"x\"", "", false, {"FILENO", "FSTAT"}},
        {"-B \"x\"", "", false, {"FILENO", "FSTAT"}},
        // -t of a name that is a number tests that descriptor: no terminal.
        {"-t \"0\"", "", true, {}},
        {"-t \"abc\"", "", false, {}},
    };
    expect_outcomes(cases);
}

TEST_F(SysOps, FileTestErrors)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"eval { -l STDIN }; $@", "You can't use -l on a filehandle.\n"},
        {"stat(\"x\"); eval { -l _ }; $@", "The stat preceding -l _ wasn't an lstat.\n"},
        {"lstat(\"x\"); stat(\"y\"); eval { -l _ }; $@", "The stat preceding -l _ wasn't an lstat.\n"},
        // After an lstat of a name, -l _ answers from the cache.
        {"lstat(\"x\"); my $r = eval { -l _ }; $@ . (defined $r ? 'defined' : 'undef')", "undef"},
        {"eval { -T STDERR }; $@", "-T and -B not implemented on filehandles.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(run(c.text).value, c.error);
    }
}

TEST_F(SysOps, AStatOfANameWithANewlineWarnsUnderW)
{
    run("stat(\"a\\nb\")");
    EXPECT_EQ(err_text(), "");
    run("$^W = 1; stat(\"a\\nb\"); -e \"c\\n\"");
    EXPECT_EQ(err_text(), "Unsuccessful stat on filename containing newline.\n"
                          "Unsuccessful stat on filename containing newline.\n");
}

TEST_F(SysOps, UnsupportedOpsDieWithTheirFixedMessages)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"chown(1, 2, \"x\")", "The Unsupported function chown function is unimplemented.\n"},
        {"kill 1, 2", "The Unsupported function kill function is unimplemented.\n"},
        {"alarm(3)", "The Unsupported function alarm function is unimplemented.\n"},
        {"link(\"a\", \"b\")", "The Unsupported function link function is unimplemented.\n"},
        {"symlink(\"a\", \"b\")", "The symlink function is unimplemented.\n"},
        {"chroot(\"a\")", "The chroot function is unimplemented.\n"},
        {"getpgrp()", "The getpgrp() function is unimplemented.\n"},
        {"setpgrp(0, 0)", "The setpgrp() function is unimplemented.\n"},
        {"getppid", "The getppid function is unimplemented.\n"},
        {"getpriority(0, 0)", "The getpriority() function is unimplemented.\n"},
        {"setpriority(0, 0, 1)", "The setpriority() function is unimplemented.\n"},
        {"times", "times not implemented.\n"},
        {"umask(0777)", "umask not implemented.\n"},
        {"shmget(1, 2, 3)", "System V IPC is not implemented on this machine.\n"},
        {"semop(1, \"x\")", "System V IPC is not implemented on this machine.\n"},
        {"getlogin", "The getlogin function is unimplemented.\n"},
        {"syscall(1)", "The syscall function is unimplemented.\n"},
        {"getpwnam(\"x\")", "The getpwnam function is unimplemented.\n"},
        {"getgrent", "The getgrent function is unimplemented.\n"},
        {"gethostbyname(\"x\")", "Unsupported socket function \"gethostbyname\" called.\n"},
        {"getservbyport(1, \"tcp\")", "Unsupported socket function \"getservbyport\" called.\n"},
        {"endprotoent", "Unsupported socket function \"endprotoent\" called.\n"},
        {"opendir(D, \"x\")", "Unsupported directory function \"opendir\" called.\n"},
        {"readdir(D)", "Unsupported directory function \"readdir\" called.\n"},
        {"closedir(D)", "Unsupported directory function \"closedir\" called.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        prxtest::EvalResult r = eval(std::string("my $r = eval { ") + c.text + "; 1 }; $@");
        EXPECT_EQ(r.value, c.error);
        EXPECT_TRUE(reports().empty());
    }
}

// Outside an eval the die ends the evaluation with the message in $@.
TEST_F(SysOps, AnUnsupportedOpOutsideAnEvalStopsTheText)
{
    prxtest::EvalResult r = eval("getpgrp(); 5");
    EXPECT_FALSE(r.defined);
    EXPECT_EQ(r.error, "The getpgrp() function is unimplemented.\n");
}

}  // namespace
