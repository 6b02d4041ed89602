// Interpreter construction and destruction: the version value, the
// immortals, the stacks, a second construction on the same block, and the
// ordered teardown with its leak warnings.
#include <cstring>

#include "life_fixture.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmsg.h"
#include "ds/src/prxop.h"
#include "ds/src/prxrun.h"
#include "ds/src/prxscope.h"

namespace {

using bridgetest::Life;

TEST_F(Life, VersionValueIsTheThreeCharactersAndTheNumber)
{
    SV* v = gcb->patchlevel_value;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::string(sv_pv(v), sv_cur(v)), std::string("\x05\x06\x01", 3));
    EXPECT_EQ(sv_pv(v)[3], '\0');
    EXPECT_DOUBLE_EQ(sv_nv(v), 5.006001);
    uint64_t bits;
    double d = sv_nv(v);
    std::memcpy(&bits, &d, sizeof bits);
    EXPECT_EQ(bits, 0x40140625204AF923ull);
    uint32_t want = SVf_POK | SVp_POK | SVf_NOK | SVp_NOK | SVf_UTF8 | SVf_READONLY;
    EXPECT_EQ(v->flags & want, want);

    // It cannot be modified by running code.
    COP running{};
    gcb->current_statement = &running;
    JumpEnv env;
    int32_t code = jump_run(gcb, &env, true, [&] { sv_make_modifiable(gcb, v); });
    EXPECT_NE(code, 0);
    EXPECT_NE(err().find("Modification of a read-only value attempted"), std::string::npos) << err();
    EXPECT_DOUBLE_EQ(sv_nv(v), 5.006001);
    gcb->current_statement = interp_compile_cop(gcb);
}

TEST_F(Life, ImmortalsSurviveReleases)
{
    for (SV* sv : {&gcb->sv_undef, &gcb->sv_yes, &gcb->sv_no}) {
        EXPECT_EQ(sv->refcnt, 0x7FFFFFFFu);
        EXPECT_TRUE(sv->flags & SVf_READONLY);
        uint32_t live = gcb->sv_live_count;
        for (int i = 0; i < 3; i++)
            sv_release(gcb, sv);
        EXPECT_GE(sv->refcnt, 0x7FFFFFFCu);
        EXPECT_TRUE(sv->flags & SVf_READONLY);
        EXPECT_EQ(gcb->sv_live_count, live);
    }
    uint64_t len = 0;
    EXPECT_EQ(std::string(sv_text(gcb, &gcb->sv_yes, &len)), "1");
    EXPECT_EQ(std::string(sv_text(gcb, &gcb->sv_no, &len)), "");
    EXPECT_TRUE(gcb->sv_yes.flags & SVf_NOK);
    EXPECT_DOUBLE_EQ(sv_nv(&gcb->sv_yes), 1.0);
    EXPECT_DOUBLE_EQ(sv_nv(&gcb->sv_no), 0.0);
    EXPECT_FALSE(sv_ok(&gcb->sv_undef));
}

TEST_F(Life, StacksConstantsAndDefaults)
{
    // The main level and the argument stack.
    ASSERT_NE(gcb->current_level, nullptr);
    EXPECT_EQ(gcb->current_level->si_type, SI_MAIN);
    EXPECT_EQ(gcb->current_level->si_cxix, -1);
    EXPECT_EQ(gcb->current_level->si_cxmax, 54);
    EXPECT_EQ(gcb->current_arg_stack, gcb->main_arg_stack);
    EXPECT_EQ(gcb->arg_sp, gcb->arg_base);
    EXPECT_GE(gcb->arg_max - gcb->arg_base, 127);
    // The other stacks.
    EXPECT_EQ(gcb->temps_ix, -1);
    EXPECT_EQ(gcb->temps_floor, -1);
    EXPECT_EQ(gcb->temps_max, 128);
    EXPECT_EQ(gcb->mark_sp, gcb->mark_stack);
    EXPECT_EQ(gcb->mark_max - gcb->mark_stack, 32);
    EXPECT_EQ(gcb->scope_max, 32);
    EXPECT_EQ(gcb->scope_ix, 1);  // the one scope construction opens
    EXPECT_EQ(gcb->savestack_max, 128);
    EXPECT_EQ(gcb->return_ix, 0);
    EXPECT_EQ(gcb->return_max, 16);
    // The jump chain holds the start environment alone.
    EXPECT_EQ(gcb->top_env, &gcb->start_env);
    EXPECT_EQ(gcb->start_env.prev, nullptr);
    EXPECT_EQ(gcb->start_env.code, -1);
    EXPECT_EQ(gcb->start_env.must_catch, 1);
    // Constants and defaults.
    EXPECT_STREQ(gcb->hex_digits, "0123456789abcdef0123456789ABCDEF");
    EXPECT_STREQ(gcb->regex_metachars, "\\.^$@dDwWsSbB+*?|()-nrtfeaxc0123456789[{]}");
    EXPECT_STREQ(gcb->shell_path, "cmd /x /c");
    EXPECT_STREQ(gcb->split_pattern, " ");
    EXPECT_STREQ(gcb->chop_set, " \n-");
    EXPECT_EQ(gcb->op_count, 351);
    EXPECT_EQ(gcb->statement_line, 0xFFFF);
    EXPECT_EQ(gcb->max_system_fd, 2);
    EXPECT_EQ(gcb->method_cache_generation, 1u);
    EXPECT_EQ(gcb->generation, 100u);
    EXPECT_EQ(gcb->expect, 3);
    EXPECT_EQ(gcb->lex_state, 11);
    EXPECT_EQ(gcb->dump_indent, 4);
    EXPECT_EQ(gcb->last_stat_result, -1);
    EXPECT_EQ(gcb->last_stat_type, 235);
    EXPECT_EQ(gcb->study_max, -1);
    EXPECT_EQ(gcb->destruct_level, 1);
    EXPECT_EQ(gcb->exit_status, 0);
    EXPECT_EQ(gcb->tainting, 0);
    // The hooks and the values construction makes.
    EXPECT_NE(gcb->re_hook_compile, nullptr);
    EXPECT_NE(gcb->re_hook_free, nullptr);
    EXPECT_NE(gcb->run_loop_hook, nullptr);
    EXPECT_NE(gcb->signal_entry, nullptr);
    ASSERT_NE(gcb->rs, nullptr);
    EXPECT_EQ(gcb->rs, gcb->newline_rs);
    EXPECT_EQ(gcb->rs->refcnt, 2u);
    EXPECT_EQ(std::string(sv_pv(gcb->rs), sv_cur(gcb->rs)), "\n");
    ASSERT_NE(gcb->errors, nullptr);
    EXPECT_EQ(sv_cur(gcb->errors), 0u);
    EXPECT_NE(gcb->fdpid, nullptr);
    EXPECT_NE(gcb->module_globals, nullptr);
    EXPECT_NE(gcb->child_status_hash, nullptr);
    EXPECT_EQ(gcb->current_statement, interp_compile_cop(gcb));
    EXPECT_EQ(gcb->main_stash, nullptr);  // no symbol table before the parse
}

TEST_F(Life, FreeingTemporariesRightAfterConstructionDoesNothing)
{
    uint32_t live = gcb->sv_live_count;
    tmps_free_to_floor(gcb);
    EXPECT_EQ(gcb->temps_ix, -1);
    EXPECT_EQ(gcb->sv_live_count, live);
}

TEST_F(Life, SecondConstructionKeepsTheFirstTimeSection)
{
    SV* line = gcb->line_buffer;
    HV* children = gcb->child_status_hash;
    SV* version = gcb->patchlevel_value;
    gcb->sv_yes.refcnt = 12345;  // a mark that a second set-up would overwrite
    ASSERT_EQ(bridge_head_run(gcb, [&] { interp_construct(gcb); }), 0);
    EXPECT_EQ(gcb->line_buffer, line);
    EXPECT_EQ(gcb->child_status_hash, children);
    EXPECT_NE(gcb->patchlevel_value, version);  // made anew
    EXPECT_EQ(gcb->sv_yes.refcnt, 12345u);
    gcb->sv_yes.refcnt = 0x7FFFFFFF;
    uint64_t len = 0;
    EXPECT_EQ(std::string(sv_text(gcb, &gcb->sv_yes, &len)), "1");
    EXPECT_EQ(gcb->scope_ix, 1);
}

TEST_F(Life, DestructionFreesEverythingAndNothingWarnsAtLevelOne)
{
    bridge_head_run(gcb, [&] { interp_destruct(gcb); });
    EXPECT_EQ(gcb->sv_live_count, 0u) << "values left alive";
    EXPECT_EQ(gcb->current_level, nullptr);
    EXPECT_EQ(gcb->temps, nullptr);
    EXPECT_TRUE(gcb->dirty);
    EXPECT_EQ(err(), "");
    hostsim::Pool* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    interp_free(gcb);
    gcb = nullptr;
    EXPECT_TRUE(pool->destroyed);
    void* found = nullptr;
    EXPECT_NE(xkNamedBlockGet(&host->main_task()->handle, 2, "PERLGCB", 7, &found, 0), 0);
}

// At destruct level 2 an unbalanced state is told, under the standard
// warning setting; the all-off setting keeps quiet.
TEST_F(Life, LeakWarningsWhenAsked)
{
    gcb->destruct_level = 2;
    scope_enter(gcb);  // one scope more than construction's
    tmps_push(gcb, sv_new_from_int(gcb, 1));
    gcb->temps_floor = gcb->temps_ix;  // a floor never put back
    bridge_head_run(gcb, [&] { interp_destruct(gcb); });
    std::string text = err();
    EXPECT_NE(text.find("Unbalanced scopes: 1 more ENTERs than LEAVEs\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Unbalanced tmps: 1 more allocs than frees\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Unbalanced context"), std::string::npos) << text;
    interp_free(gcb);
    gcb = nullptr;
}

TEST_F(Life, LeakWarningsSilencedByAllOff)
{
    gcb->destruct_level = 2;
    scope_enter(gcb);
    interp_compile_cop(gcb)->cop_warnings = reinterpret_cast<SV*>(WARNINGS_NONE);
    bridge_head_run(gcb, [&] { interp_destruct(gcb); });
    EXPECT_EQ(err(), "");
    interp_free(gcb);
    gcb = nullptr;
}

TEST_F(Life, DestructLevelZeroStopsAfterTheExitList)
{
    static int calls = 0;
    calls = 0;
    gcb->exit_list = static_cast<void (**)(PERLGCB*, void*)>(pool_malloc(gcb, 2 * sizeof(void*)));
    gcb->exit_list_args = static_cast<void**>(pool_malloc(gcb, 2 * sizeof(void*)));
    gcb->exit_list[0] = [](PERLGCB*, void* arg) { calls = calls * 10 + static_cast<int>(reinterpret_cast<intptr_t>(arg)); };
    gcb->exit_list[1] = gcb->exit_list[0];
    gcb->exit_list_args[0] = reinterpret_cast<void*>(1);
    gcb->exit_list_args[1] = reinterpret_cast<void*>(2);
    gcb->exit_list_count = 2;
    gcb->destruct_level = 0;
    bridge_head_run(gcb, [&] { interp_destruct(gcb); });
    EXPECT_EQ(calls, 21);  // last entry first
    EXPECT_NE(gcb->current_level, nullptr);  // the rest is left to the pool
    interp_free(gcb);
    gcb = nullptr;
}

}  // namespace

namespace {

using bridgetest::Life;

// A value whose upgrade could not take a new body stays a whole value: the
// failure unwinds, and the value is released without harm.
TEST_F(Life, FailedUpgradeLeavesAWholeValue)
{
    SV* sv = sv_new_from_bytes(gcb, "text", 4);
    host->fail.fail_once_after = 0;
    JumpEnv env;
    int32_t code = jump_run(gcb, &env, true, [&] { sv_upgrade_body(gcb, sv, SVt_PVMG); });
    host->fail.fail_once_after = -1;
    EXPECT_NE(code, 0);
    EXPECT_EQ(sv_type(sv), SVt_NULL);
    EXPECT_FALSE(sv_ok(sv));
    sv_release(gcb, sv);
    EXPECT_NE(err().find("Out of memory!"), std::string::npos) << err();
}

}  // namespace
