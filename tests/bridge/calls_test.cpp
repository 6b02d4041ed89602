// The call and eval entry points and the special-block queues, on an
// interpreter parsed from "-e 0", through the evaluation fixture.
#include "support/eval_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxbridge.h"
#include "ds/src/prxcall.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxpad.h"
#include "ds/src/prxperl.h"
#include "ds/src/prxrun.h"
#include "ds/src/prxsv.h"

namespace {

using prxtest::EvalResult;
using prxtest::EvalTest;

class Calls : public EvalTest {
protected:
    // Runs body under the bridge's guards; the code of a jump that ended it.
    template <class Body>
    int32_t guarded(Body&& body)
    {
        return bridge_head_run(gcb, [&] {
            JumpEnv env;
            jump_run(gcb, &env, true, body);
        });
    }
    std::string errsv_text()
    {
        SV* sv = gv_gp(gcb->error_glob)->gp_sv;
        uint64_t len = 0;
        const char* p = sv_ok(sv) ? sv_text(gcb, sv, &len) : "";
        return std::string(p, len);
    }
};

TEST_F(Calls, TextThatDoesNotCompileGivesUndefAndTheErrorInErrsv)
{
    ASSERT_TRUE(started());
    int32_t count = -1;
    SV* top = nullptr;
    SV** before = gcb->arg_sp;
    ASSERT_EQ(guarded([&] {
                  SV* text = sv_new_from_cstring(gcb, "1 +;", 0);
                  count = interp_eval_value(gcb, text, 0);
                  top = *gcb->arg_sp;
                  sv_release(gcb, text);
              }),
              0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(top, &gcb->sv_undef) << errsv_text();
    EXPECT_EQ(gcb->arg_sp, before + 1);
    EXPECT_NE(errsv_text().find("syntax error"), std::string::npos) << "[" << errsv_text() << "] " << err_text();
    gcb->arg_sp = before;
}

TEST_F(Calls, KeepErrorsLeavesErrsvAlone)
{
    ASSERT_TRUE(started());
    EvalResult r = eval("die \"first\\n\"");
    EXPECT_EQ(r.error, "first\n");
    SV** before = gcb->arg_sp;
    ASSERT_EQ(guarded([&] {
                  SV* text = sv_new_from_cstring(gcb, "1", 0);
                  interp_eval_value(gcb, text, CALL_KEEPERR);
                  sv_release(gcb, text);
              }),
              0);
    EXPECT_EQ(errsv_text(), "first\n");
    gcb->arg_sp = before;
    // Without the flag a good evaluation empties it.
    EXPECT_EQ(eval("2").error, "");
}

TEST_F(Calls, DiscardLeavesTheStackAtTheMark)
{
    ASSERT_TRUE(started());
    eval("sub main::three { (1, 2, 3) }");
    eval("1");  // the declaration's statement may stop on a routine still to be built; the sub exists
    SV** before = gcb->arg_sp;
    int32_t floor = gcb->temps_floor;
    int32_t scopes = gcb->scope_ix;
    int32_t count = -1;
    ASSERT_EQ(guarded([&] {
                  push_mark(gcb, gcb->arg_sp);
                  count = interp_call_named(gcb, "main::three", CALL_DISCARD | CALL_LIST);
              }),
              0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(gcb->arg_sp, before);
    EXPECT_EQ(gcb->temps_floor, floor);
    EXPECT_EQ(gcb->scope_ix, scopes);
    // In list context the results stay above the mark.
    ASSERT_EQ(guarded([&] {
                  push_mark(gcb, gcb->arg_sp);
                  count = interp_call_named(gcb, "main::three", CALL_LIST);
              }),
              0);
    EXPECT_EQ(count, 3);
    gcb->arg_sp = before;
}

TEST_F(Calls, TrappedDieComesBackInErrsv)
{
    ASSERT_TRUE(started());
    eval("sub main::boom { die \"oops\\n\" }");
    eval("1");
    SV** before = gcb->arg_sp;
    int32_t count = -1;
    ASSERT_EQ(guarded([&] {
                  push_mark(gcb, gcb->arg_sp);
                  count = interp_call_named(gcb, "main::boom", CALL_EVAL);
              }),
              0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(*gcb->arg_sp, &gcb->sv_undef);
    EXPECT_EQ(errsv_text(), "oops\n");
    EXPECT_EQ(gcb->current_level->si_cxix, -1);  // the frame is gone
    gcb->arg_sp = before;
}

TEST_F(Calls, StubSubFailsAsUndefined)
{
    ASSERT_TRUE(started());
    CV* cv = nullptr;
    ASSERT_EQ(guarded([&] { cv = interp_get_sub(gcb, "main::nothing_yet", 1); }), 0);
    ASSERT_NE(cv, nullptr);
    EXPECT_EQ(cv_body(cv)->root, nullptr);  // a stub without a body
    EXPECT_EQ(interp_get_sub(gcb, "main::no_such_sub", 0), nullptr);
    SV** before = gcb->arg_sp;
    ASSERT_EQ(guarded([&] {
                  push_mark(gcb, gcb->arg_sp);
                  interp_call_value(gcb, cv, CALL_EVAL);
              }),
              0);
    EXPECT_NE(errsv_text().find("Undefined subroutine &main::nothing_yet called"), std::string::npos) << errsv_text();
    gcb->arg_sp = before;
}

TEST_F(Calls, MethodCallResolvesThroughTheObjectsClass)
{
    ASSERT_TRUE(started());
    eval("package Counter; sub new { bless {}, shift } sub name { 'counter:' . ref $_[0] } package main;"
         "$main::obj = Counter->new; 1");
    ASSERT_EQ(errsv_text(), "");
    SV** before = gcb->arg_sp;
    int32_t count = -1;
    std::string text;
    ASSERT_EQ(guarded([&] {
                  push_mark(gcb, gcb->arg_sp);
                  SV** sp = arg_stack_room(gcb, gcb->arg_sp, 1);
                  *++sp = interp_get_scalar(gcb, "main::obj", 0);
                  gcb->arg_sp = sp;
                  count = interp_call_method_by_name(gcb, "name", 0);
                  uint64_t len = 0;
                  const char* p = sv_text(gcb, *gcb->arg_sp, &len);
                  text.assign(p, len);
              }),
              0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(text, "counter:Counter");
    gcb->arg_sp = before;
}

TEST_F(Calls, RequireOfAMissingFileFailsInErrsv)
{
    ASSERT_TRUE(started());
    ASSERT_EQ(guarded([&] { interp_require_file(gcb, "No/Such/Module.pm"); }), 0);
    EXPECT_NE(errsv_text().find("Can't locate No/Such/Module.pm"), std::string::npos) << errsv_text();
    EXPECT_EQ(gcb->current_arg_stack, gcb->main_arg_stack);  // back on the main level
}

// An empty or missing queue runs nothing; a BEGIN block's die aborts the
// compilation with its message and the abort words.
TEST_F(Calls, SpecialBlocks)
{
    ASSERT_TRUE(started());
    ASSERT_EQ(guarded([&] { interp_run_block_queue(gcb, gcb->scope_ix, nullptr); }), 0);
    EvalResult r = eval("BEGIN { die \"early\\n\" } 1");
    EXPECT_EQ(r.error, "early\nBEGIN failed--compilation aborted.\n");
    r = eval("END { $main::ended = 1 } 1");
    EXPECT_EQ(r.error, "");
    ASSERT_NE(gcb->end_queue, nullptr);
    EXPECT_EQ(av_highest_index(gcb, gcb->end_queue), 0);
    ASSERT_EQ(guarded([&] { interp_run_block_queue(gcb, gcb->scope_ix, gcb->end_queue); }), 0);
    EXPECT_EQ(av_highest_index(gcb, gcb->end_queue), -1);
    EXPECT_EQ(eval("$main::ended").value, "1");
}

}  // namespace
