// Process, signal and environment support inside the host: the outcomes
// that the substitutes give and the reports the host receives.
#include <string>
#include <vector>

#include "fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxproc.h"

namespace {

using prxtest::Interp;

class Proc : public Interp {
protected:
    std::vector<std::string> reports()
    {
        std::vector<std::string> out;
        for (const auto& m : host->messages) {
            EXPECT_EQ(m.number, 304);
            out.push_back(m.args.empty() ? "" : m.args[0]);
        }
        return out;
    }
};

TEST_F(Proc, EnvSetReportsPutenvOncePerCall)
{
    env_set(gcb, "NAME", "value");
    env_set(gcb, nullptr, nullptr);
    EXPECT_EQ(reports(), (std::vector<std::string>{"PUTENV", "PUTENV"}));
}

TEST_F(Proc, PipeOpenGivesNoStream)
{
    EXPECT_EQ(pipe_open(gcb, "ls -l", "r"), 0);
    EXPECT_EQ(reports(), (std::vector<std::string>{"PIPE"}));
    // "-" is no command: no taint check even with tainted data.
    host->messages.clear();
    gcb->tainting = 1;
    gcb->tainted = 1;
    EXPECT_EQ(run([&] { EXPECT_EQ(pipe_open(gcb, "-  ", "r"), 0); }), 0);
    EXPECT_EQ(reports(), (std::vector<std::string>{"PIPE"}));
}

TEST_F(Proc, PipeOpenChecksTaintFirst)
{
    gcb->tainting = 1;
    gcb->tainted = 1;
    int32_t code = run([&] { pipe_open(gcb, "ls", "r"); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(err_text(), "Insecure EXEC while running with -T switch.\n");
    EXPECT_TRUE(reports().empty());
}

TEST_F(Proc, PipeCloseAndWait)
{
    gcb->fdpid = av_new_empty(gcb);
    EXPECT_EQ(pipe_close(gcb, 5), 0);
    EXPECT_EQ(reports(), (std::vector<std::string>{"FILENO", "WAIDPID"}));

    host->messages.clear();
    int32_t status = 77;
    EXPECT_EQ(wait_child(gcb, 0, &status, 0), -1);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(wait_child(gcb, 42, &status, 0), 0);
    EXPECT_EQ(status, 77);  // not written
    EXPECT_EQ(reports(), (std::vector<std::string>{"WAIDPID"}));
}

TEST_F(Proc, SignalsChangeNothing)
{
    prx_sighandler saved = reinterpret_cast<prx_sighandler>(1);
    EXPECT_EQ(signal_set(gcb, 2, reinterpret_cast<prx_sighandler>(1)), nullptr);
    EXPECT_EQ(signal_get(gcb, 2), nullptr);
    EXPECT_EQ(signal_save(gcb, 2, reinterpret_cast<prx_sighandler>(1), &saved), 0);
    EXPECT_EQ(saved, nullptr);
    EXPECT_EQ(signal_restore(gcb, 2, saved), 0);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Proc, FindScriptCopiesTheName)
{
    char* found = find_script_on_path(gcb, "x", 1, nullptr, 1);
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found, "x");
    char* again = find_script_on_path(gcb, "dir/x", 0, nullptr, 0);
    EXPECT_STREQ(again, "dir/x");
    EXPECT_NE(again, found);
    EXPECT_EQ(find_script_on_path(gcb, nullptr, 1, nullptr, 1), nullptr);
    EXPECT_TRUE(reports().empty());
}

}  // namespace
