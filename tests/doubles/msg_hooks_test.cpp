// Fatal errors into an eval, and the die and warn hooks, with the eval
// unwinding and the call of interpreter code replaced by doubles.
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"
#include "ds/src/prxmsg.h"
#include "ds/src/prxsv.h"

namespace {

void native_body(PERLGCB*, CV*) {}

class Hooks : public prxtest::Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        doubles::match_state_saves = &saves;
        doubles::value_call = [this](PERLGCB*, CV* cv, int32_t flags) {
            uint64_t len = 0;
            const char* text = sv_text(gcb, *gcb->arg_sp, &len);
            calls.push_back({cv, flags, std::string(text, len)});
            if (on_call)
                on_call(cv);
            return 0;
        };
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }
    // A reference to a native subroutine, as $SIG{__DIE__} holds one.
    SV* hook_ref(CV** out = nullptr)
    {
        SV* sv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, sv, SVt_PVCV);
        static_cast<PVCV*>(sv->any)->xsub = reinterpret_cast<void*>(&native_body);
        if (out)
            *out = sv_as<CV>(sv);
        SV* ref = sv_new_reference(gcb, sv);
        sv_release(gcb, sv);
        return ref;
    }
    struct Call {
        CV* cv;
        int32_t flags;
        std::string arg;
    };
    std::vector<Call> calls;
    std::function<void(CV*)> on_call;
    int saves = 0;
};

TEST_F(Hooks, FatalErrorInsideAnEvalJumpsWithCodeThree)
{
    OP restart{};
    std::string seen;
    doubles::eval_unwind = [&](PERLGCB*, const char* text, uint64_t len) {
        seen.assign(text, len);
        return &restart;
    };
    gcb->in_eval = 1;
    EXPECT_EQ(run([&] { fatal_error(gcb, "bad thing"); }), 3);
    EXPECT_EQ(seen, "bad thing.\n");
    EXPECT_EQ(gcb->restartop, &restart);
    EXPECT_EQ(err_raw(), "");   // the message goes to $@, not to standard error
}

TEST_F(Hooks, DieHookIsCalledOnceWithTheMessage)
{
    CV* cv = nullptr;
    gcb->die_hook = hook_ref(&cv);
    EXPECT_EQ(run([&] { fatal_error(gcb, "oops %d", 7); }), 2);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].cv, cv);
    EXPECT_EQ(calls[0].flags, 2);
    EXPECT_EQ(calls[0].arg, "oops 7.\n");
    EXPECT_EQ(saves, 1);
    EXPECT_EQ(err_text(), "oops 7.\n");
    // The hook is back in its slot, and the stacks are back on the main level.
    EXPECT_NE(gcb->die_hook, nullptr);
}

TEST_F(Hooks, DieInsideTheDieHookDoesNotCallItAgain)
{
    CV* cv = nullptr;
    gcb->die_hook = hook_ref(&cv);
    on_call = [&](CV* running) {
        // The hook runs (depth 1) and dies itself.
        static_cast<PVCV*>(running->any)->depth = 1;
        fatal_error(gcb, "inner");
    };
    EXPECT_EQ(run([&] { fatal_error(gcb, "outer"); }), 2);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(err_text(), "inner.\n");
    static_cast<PVCV*>(cv->any)->depth = 0;
}

TEST_F(Hooks, GuardTripSkipsTheHookAndWritesNothing)
{
    gcb->die_hook = hook_ref();
    gcb->errno_cell = 1100;
    EXPECT_EQ(run([&] { fatal_error(gcb, "Catastrophic backtracking detected"); }), 4);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(err_raw(), "");
    // The mark holds for that one jump only.
    EXPECT_EQ(gcb->errno_cell, 0);
    EXPECT_EQ(run([&] { fatal_error(gcb, "later"); }), 2);
    EXPECT_EQ(calls.size(), 1u);
}

TEST_F(Hooks, WarnHookTakesTheWarningInsteadOfStandardError)
{
    gcb->warn_hook = hook_ref();
    EXPECT_EQ(run([&] { warning(gcb, "careful"); }), 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].arg, "careful.\n");
    EXPECT_EQ(calls[0].flags, 2);
    EXPECT_EQ(err_raw(), "");

    // A hook that is not a subroutine is not called; the text goes to
    // standard error. (The first hook stays alive: freeing a code value
    // needs the op-tree family.)
    gcb->warn_hook = sv_new_from_int(gcb, 3);
    EXPECT_EQ(run([&] { warning(gcb, "again"); }), 0);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(err_text(), "again.\n");
}

}  // namespace
