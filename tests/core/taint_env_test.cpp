// The environment check of taint mode over a real %ENV hash.
#include "agg_fixture.h"

#include "ds/src/prxmsg.h"

namespace {

class TaintEnv : public prxtest::Agg {
protected:
    void SetUp() override
    {
        Agg::SetUp();
        // A plain hash stands for %ENV, so that storing entries reports nothing.
        gcb->env_glob = gv_fetch_by_name(gcb, "main::TAINTENV", GV_ADD, SVt_PVHV);
        env = gv_gp(gcb->env_glob)->gp_hv;
        gcb->tainting = 1;
    }
    SV* put(const char* name, const char* text, bool tainted)
    {
        SV* v = pv(text);
        if (tainted)
            sv_mark_tainted(gcb, v);
        hv_store_str(gcb, env, name, static_cast<int32_t>(std::strlen(name)), v, 0);
        return v;
    }
    HV* env = nullptr;
};

TEST_F(TaintEnv, CleanEnvironmentPasses)
{
    put("PATH", "/bin:/usr/bin", false);
    put("TERM", "xterm;rm", false);   // not tainted: its text is not looked at
    put("IFS", " ", false);
    EXPECT_EQ(run([&] { taint_check_environment(gcb); }), 0);
    EXPECT_EQ(err_raw(), "");
    EXPECT_EQ(gcb->tainted, 0);
}

TEST_F(TaintEnv, FirstInsecureEntryIsFatal)
{
    struct Case {
        const char* name;
        const char* text;
        const char* want;
    } cases[] = {
        {"PATH", "/bin", "Insecure $ENV{PATH} while running with -T switch.\n"},
        {"TERM", "vt100 x", "Insecure $ENV{TERM} while running with -T switch.\n"},
        {"TERM", "vt;100", "Insecure $ENV{TERM} while running with -T switch.\n"},
        {"IFS", ":", "Insecure $ENV{IFS} while running with -T switch.\n"},
        {"CDPATH", "/tmp", "Insecure $ENV{CDPATH} while running with -T switch.\n"},
        {"ENV", "/x", "Insecure $ENV{ENV} while running with -T switch.\n"},
        {"BASH_ENV", "/x", "Insecure $ENV{BASH_ENV} while running with -T switch.\n"},
    };
    for (const Case& c : cases) {
        hv_remove_all(gcb, env);
        gcb->tainted = 0;
        put(c.name, c.text, true);
        EXPECT_EQ(run([&] { taint_check_environment(gcb); }), 2) << c.name << " " << c.text;
        EXPECT_EQ(err_text(), c.want);
        EXPECT_EQ(gcb->tainted, 1);
        gcb->err.len = 0;   // the next error text starts a fresh capture
    }
}

TEST_F(TaintEnv, PathWithATaintedDirectory)
{
    // The element magic of PATH marks a directory that is not safe.
    SV* path = put("PATH", "/tmp:/bin", false);
    sv_add_magic(gcb, path, nullptr, 'e', "PATH", 4);
    MAGIC* mg = mg_find_by_type(gcb, path, 'e');
    ASSERT_NE(mg, nullptr);
    mg->mgflags |= MGf_TAINTEDDIR;
    EXPECT_EQ(run([&] { taint_check_environment(gcb); }), 2);
    EXPECT_EQ(err_text(), "Insecure directory in $ENV{PATH} while running with -T switch.\n");
    EXPECT_EQ(gcb->tainted, 1);
}

TEST_F(TaintEnv, TaintedTermOfAllowedCharactersPasses)
{
    put("TERM", "xterm-256color:a_b", true);
    EXPECT_EQ(run([&] { taint_check_environment(gcb); }), 0);
    EXPECT_EQ(err_raw(), "");
    // Reading TERM's text leaves the expression's tainted flag as it was.
    EXPECT_EQ(gcb->tainted, 0);
}

TEST_F(TaintEnv, UndefinedImmortalIsNeverReported)
{
    hv_store_str(gcb, env, "IFS", 3, &gcb->sv_undef, 0);
    EXPECT_EQ(run([&] { taint_check_environment(gcb); }), 0);
    EXPECT_EQ(err_raw(), "");
}

TEST_F(TaintEnv, UnsafeModeWarnsForEveryEntry)
{
    put("PATH", "/bin", true);
    put("IFS", ":", true);
    put("ENV", "/x", true);
    gcb->unsafe = 1;
    warnings_bits({WARN_TAINT});
    EXPECT_EQ(run([&] { taint_check_environment(gcb); }), 0);
    EXPECT_EQ(err_text(), "Insecure $ENV{PATH} while running with -T switch.\n"
                          "Insecure $ENV{IFS} while running with -T switch.\n"
                          "Insecure $ENV{ENV} while running with -T switch.\n");
}

TEST_F(TaintEnv, NoEnvironmentGlobNothingToCheck)
{
    put("PATH", "/bin", true);
    gcb->env_glob = nullptr;
    EXPECT_EQ(run([&] { taint_check_environment(gcb); }), 0);
    EXPECT_EQ(err_raw(), "");
}

}  // namespace
