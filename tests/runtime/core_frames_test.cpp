// Frames by hand: the foreach iterator's element proxy for a missing array
// element, the undoing of a sub frame by cx_unwind, the calling-context
// queries and a corrupted context byte.
#include "runtime/core_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxmg.h"

namespace {

class Frames : public runtime::Run {
protected:
    OP iter_op{};
    SV* slot = nullptr;

    // A loop frame over the array, the loop variable in `slot`.
    cx_frame* push_array_loop(AV* av)
    {
        slot = sv_new_undef(gcb, 0);
        cx_frame* cx = cx_push_block(gcb, CXt_LOOP, gcb->arg_sp, CTX_VOID);
        std::memset(&cx->loop, 0, sizeof cx->loop);
        cx->loop.itervar = &slot;
        cx->loop.itersave = sv_refinc(slot);
        cx->loop.iterary = sv_as<AV>(sv_refinc(as_sv(av)));
        cx->loop.iterix = -1;
        return cx;
    }
    // One round of the iterator: its answer.
    bool iterate()
    {
        op_set_type(gcb, &iter_op, OP_ITER);
        gcb->op = &iter_op;
        pp_iter(gcb);
        SV* answer = *gcb->arg_sp--;
        return answer == &gcb->sv_yes;
    }
};

TEST_F(Frames, AMissingElementIsHandedOutAsAProxy)
{
    AV* av = av_new_empty(gcb);
    av_store_element(gcb, av, 1, sv_new_from_bytes(gcb, "b", 1));
    push_array_loop(av);

    ASSERT_TRUE(iterate());
    ASSERT_EQ(sv_type(slot), SVt_PVLV);
    EXPECT_EQ(static_cast<PVLV*>(slot->any)->type, 'y');
    // Assigning through the proxy creates the element.
    sv_set_bytes(gcb, slot, "new", 3);
    mg_call_set(gcb, slot);
    SV** first = av_fetch_element(gcb, av, 0, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(str(*first), "new");

    ASSERT_TRUE(iterate());
    EXPECT_EQ(str(slot), "b");
    EXPECT_EQ(slot, av_body(av)->array[1]);
    EXPECT_FALSE(iterate());

    cx_frame* cx = cx_pop_block(gcb);
    cx_pop_loop(gcb, cx);
    EXPECT_EQ(gcb->current_level->si_cxix, -1);
    EXPECT_FALSE(sv_ok(slot));
    tmps_free_to_floor(gcb);
    sv_release(gcb, slot);
    sv_release(gcb, as_sv(av));
}

TEST_F(Frames, UnwindingASubFrameRestoresTheCallersArguments)
{
    GV* defgv = gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PVAV);
    gv_ensure_array(gcb, defgv);
    AV* callers = gv_gp(defgv)->gp_av;
    sv_refinc(as_sv(callers));

    // The call's own @_, owning its elements (as after a reification).
    AV* args = av_new_empty(gcb);
    av_append(gcb, args, sv_new_from_int(gcb, 1));
    av_append(gcb, args, sv_new_from_int(gcb, 2));
    gv_gp(defgv)->gp_av = sv_as<AV>(sv_refinc(as_sv(args)));
    SV* pad[1] = {as_sv(args)};

    SV* cvsv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, cvsv, SVt_PVCV);
    CV* cv = sv_as<CV>(cvsv);
    cv_body(cv)->depth = 2;
    sv_refinc(cvsv);  // the frame's reference, dropped when the depth returns to 0

    cx_frame* cx = cx_push_block(gcb, CXt_SUB, gcb->arg_sp, CTX_SCALAR);
    std::memset(&cx->sub, 0, sizeof cx->sub);
    cx->sub.cv = cv;
    cx->sub.olddepth = 0;
    cx->sub.hasargs = 1;
    cx->sub.savearray = callers;
    cx->sub.argarray = args;
    cx->sub.oldcurpad = pad;

    cx_unwind(gcb, -1);
    EXPECT_EQ(gcb->current_level->si_cxix, -1);
    EXPECT_EQ(gv_gp(defgv)->gp_av, callers);
    EXPECT_EQ(cv_body(cv)->depth, 0);
    EXPECT_EQ(cvsv->refcnt, 1u);
    // A fresh borrowing array of the old size took the pad slot (the old
    // one is freed, so its head may be the same).
    AV* fresh = sv_as<AV>(pad[0]);
    EXPECT_EQ(av_body(fresh)->avflags, AVf_REIFY);
    EXPECT_EQ(av_body(fresh)->fill, -1);
    EXPECT_GE(av_body(fresh)->max, 1);
    sv_release(gcb, pad[0]);
    sv_release(gcb, cvsv);
}

TEST_F(Frames, ContextQueriesFindTheNearestSubEvalOrFormat)
{
    EXPECT_EQ(cx_gimme(gcb), CTX_VOID);
    EXPECT_EQ(cx_wantarray(gcb), 0);
    // The exit after the panic unwinds these frames and the scope.
    scope_enter(gcb);
    for (auto [type, gimme] : {std::pair{CXt_EVAL, CTX_LIST}, {CXt_LOOP, CTX_SCALAR}, {CXt_BLOCK, CTX_VOID}}) {
        cx_frame* cx = cx_push_block(gcb, type, gcb->arg_sp, gimme);
        std::memset(&cx->loop, 0, sizeof cx->loop);
    }
    EXPECT_EQ(cx_gimme(gcb), CTX_LIST);
    EXPECT_EQ(cx_wantarray(gcb), 1);
    EXPECT_EQ(cx_lvalue_sub(gcb), 0);
    cx_frame* eval = &gcb->current_level->si_cxstack[0];
    eval->blk.gimme = 7;
    EXPECT_EQ(run([&] { cx_gimme(gcb); }), 2);
    EXPECT_EQ(err_text(), "panic: bad gimme: 7\n");
    EXPECT_EQ(gcb->current_level->si_cxix, -1);
}

}  // namespace
