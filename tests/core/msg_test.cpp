// Messages and their suffix, fatal errors over the jump environments, and
// warnings by category.
#include "fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxmsg.h"

namespace {

using prxtest::Interp;

class Msg : public Interp {
protected:
    // A glob named `name` whose I/O record has read `lines` lines.
    GV* handle(const char* name, int32_t lines)
    {
        SV* gv = sv_new_head(gcb);
        sv_upgrade_body(gcb, gv, SVt_PVGV);
        PVGV* b = static_cast<PVGV*>(gv->any);
        b->name = pool_strdup(gcb, name);
        b->namelen = std::strlen(name);
        GP* gp = static_cast<GP*>(pool_malloc(gcb, sizeof(GP)));
        std::memset(gp, 0, sizeof *gp);
        SV* io = sv_new_head(gcb);
        sv_upgrade_body(gcb, io, SVt_PVIO);
        static_cast<PVIO*>(io->any)->lines = lines;
        gp->gp_io = sv_as<IO>(io);
        b->gp = gp;
        return sv_as<GV>(gv);
    }
    std::string built(const char* text)
    {
        SV* sv = build_message(gcb, "%s", text);
        return str(sv);
    }
};

TEST_F(Msg, SuffixRule)
{
    EXPECT_EQ(built("done\n"), "done\n");
    EXPECT_EQ(built("x"), "x.\n");
    EXPECT_EQ(built(""), ".\n");
    gcb->rs = sv_new_from_bytes(gcb, "\n", 1);
    gcb->last_input_glob = handle("FH", 3);
    EXPECT_EQ(built("x"), "x, <FH> line 3.\n");
    EXPECT_EQ(built("y\n"), "y\n");
    gcb->rs = sv_new_from_bytes(gcb, "--", 2);
    EXPECT_EQ(built("x"), "x, <FH> chunk 3.\n");
    gcb->rs = nullptr;
    EXPECT_EQ(built("x"), "x, <FH> chunk 3.\n");
    gcb->argv_glob = gcb->last_input_glob;
    EXPECT_EQ(built("x"), "x, <> chunk 3.\n");
    gcb->last_input_glob = handle("NONE", 0);
    EXPECT_EQ(built("x"), "x.\n");
    gcb->dirty = 1;
    EXPECT_EQ(built("x"), "x during global destruction.\n");
    EXPECT_EQ(str(build_message(gcb, "%s", "y")), "y during global destruction.\n");
    EXPECT_EQ(build_message(gcb, "a"), gcb->reusable_message);  // reused
    EXPECT_EQ(gcb->reusable_message->refcnt, 1u << 30);
    EXPECT_STREQ(format_message(gcb, "%d-%s", 4, "z"), "4-z");
}

TEST_F(Msg, FatalErrorOutsideAnEvalExits)
{
    int32_t code = run([&] { fatal_error(gcb, "boom %d", 7); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(err_text(), "boom 7.\n");
    EXPECT_EQ(err_raw(), "%1zboom 7.%n");
    EXPECT_EQ(gcb->exit_status, 255);
}

TEST_F(Msg, QueuedErrorsComeFirst)
{
    gcb->errors = sv_new_from_bytes(gcb, "queued\n", 7);
    EXPECT_EQ(run([&] { fatal_error(gcb, "last"); }), 2);
    EXPECT_EQ(err_text(), "queued\nlast.\n");
    EXPECT_EQ(sv_cur(gcb->errors), 0u);
}

TEST_F(Msg, GuardTripJumpsWithCodeFourBeforeAnythingElse)
{
    gcb->errno_cell = 1100;
    gcb->die_hook = sv_new_from_bytes(gcb, "hook", 4);  // would be resolved if it were called
    gcb->in_eval = 1;
    EXPECT_EQ(run([&] { fatal_error(gcb, "Catastrophic backtracking detected"); }), 4);
    EXPECT_EQ(err_raw(), "");
    EXPECT_EQ(gcb->restartop, nullptr);
    // The mark held for that one jump only.
    EXPECT_EQ(gcb->errno_cell, 0);
    gcb->in_eval = 0;
    gcb->die_hook = nullptr;
    EXPECT_EQ(run([&] { fatal_error(gcb, "later"); }), 2);
    EXPECT_EQ(err_text(), "later.\n");
}

TEST_F(Msg, NoOuterEnvironmentEndsAtTheBridge)
{
    // Only the start environment is linked: the jump goes to the bridge's
    // buffer at the head of the block with -1.
    gcb->errno_cell = 1100;
    int32_t code = jump_run(gcb, head_env(gcb), false, [&] { fatal_error(gcb, "guard"); });
    EXPECT_EQ(code, -1);
    EXPECT_EQ(err_text(), "panic: top_env\n");

    gcb->err.len = 0;
    code = jump_run(gcb, head_env(gcb), false, [&] { fatal_error(gcb, "plain"); });
    EXPECT_EQ(code, -1);
    EXPECT_EQ(err_text(), "plain.\n");
}

TEST_F(Msg, WarningsByCategory)
{
    struct Case {
        const char* what;
        uintptr_t setting;
        uint32_t warn_switch;
        bool enabled;          // warn_enabled(category 12)
        bool enabled_default;  // warn_enabled_default(category 12)
    } cases[] = {
        {"standard", WARNINGS_STD, 0, false, true},
        {"standard with -w", WARNINGS_STD, 1, true, true},
        {"all", WARNINGS_ALL, 0, true, true},
        {"none", WARNINGS_NONE, 1, false, false},
    };
    for (const Case& c : cases) {
        runtime_cop.cop_warnings = reinterpret_cast<SV*>(c.setting);
        gcb->warn_switch = c.warn_switch;
        EXPECT_EQ(warn_enabled(gcb, WARN_NUMERIC), c.enabled) << c.what;
        EXPECT_EQ(warn_enabled_default(gcb, WARN_NUMERIC), c.enabled_default) << c.what;
    }
    warnings_bits({WARN_NUMERIC});
    EXPECT_TRUE(warn_enabled(gcb, WARN_NUMERIC));
    EXPECT_FALSE(warn_enabled(gcb, WARN_UNINITIALIZED));
    EXPECT_FALSE(warn_enabled_default(gcb, WARN_INTERNAL));
    gcb->warn_switch = 0;
    gcb->current_statement = nullptr;  // no statement: the standard setting
    EXPECT_TRUE(warn_enabled_default(gcb, WARN_INTERNAL));
    EXPECT_FALSE(warn_enabled(gcb, WARN_NUMERIC));
}

TEST_F(Msg, CategoryWarningsPlainAndFatal)
{
    warnings_bits({WARN_NUMERIC});
    EXPECT_EQ(run([&] { category_warning(gcb, WARN_NUMERIC, "soft %s", "one"); }), 0);
    EXPECT_EQ(err_text(), "soft one.\n");
    gcb->err.len = 0;
    warnings_bits({WARN_NUMERIC}, {WARN_NUMERIC});
    EXPECT_EQ(run([&] { category_warning(gcb, WARN_NUMERIC, "hard"); }), 2);
    EXPECT_EQ(err_text(), "hard.\n");
    // Bit 1 makes every category fatal.
    gcb->err.len = 0;
    warnings_bits({WARN_UTF8}, {WARN_ALL});
    EXPECT_EQ(run([&] { category_warning(gcb, WARN_UTF8, "all fatal"); }), 2);
    // A fixed setting is never fatal.
    gcb->err.len = 0;
    warnings_all();
    EXPECT_EQ(run([&] { category_warning(gcb, WARN_UTF8, "w"); warning(gcb, "plain\n"); }), 0);
    EXPECT_EQ(err_text(), "w.\nplain\n");
}

TEST_F(Msg, BadFilehandleWithoutAName)
{
    set_op(209, "print", "print");
    op_descs[236] = "-R";
    op_descs[223] = "socket";
    SV* io = sv_new_head(gcb);
    sv_upgrade_body(gcb, io, SVt_PVIO);
    static_cast<PVIO*>(io->any)->type = ' ';
    warn_bad_filehandle(gcb, nullptr, sv_as<IO>(io), 209);
    warn_bad_filehandle(gcb, nullptr, nullptr, 236);
    warn_bad_filehandle(gcb, nullptr, nullptr, 26);
    warn_bad_filehandle(gcb, nullptr, sv_as<IO>(io), 223);
    static_cast<PVIO*>(io->any)->dirp = &gcb;
    warn_bad_filehandle(gcb, nullptr, sv_as<IO>(io), 207);
    EXPECT_EQ(err_text(),
              "print() on closed filehandle.\n"
              "-R on unopened filehandle.\n"
              "readline() on unopened filehandle.\n"
              "socket() on closed socket.\n"
              "write() on closed filehandle.\n"
              "\t(Are you trying to call write() on dirhandle?)\n");
}

}  // namespace
