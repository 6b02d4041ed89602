// Context frames at run time: the calling-context queries, the popping of
// frames with their own state, the unwinding into the innermost eval, the
// compile-error queue, wantarray and exit.
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxlibc.h"
#include "prxio.h"
#include "prxpad.h"
#include "prxpp.h"
#include "prxscope.h"

namespace {

// The context byte of a frame; anything else is a corrupted frame.
uint8_t checked_gimme(PERLGCB* gcb, const cx_frame* cx)
{
    uint8_t g = cx->blk.gimme;
    if (g != CTX_SCALAR && g != CTX_LIST && g != CTX_VOID)
        fatal_error(gcb, "panic: bad gimme: %d\n", static_cast<int32_t>(g));
    return g;
}

// The main "_" glob, whose array is @_.
GV* default_glob(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PVGV); }

}  // namespace

int32_t cx_find_sub_eval_format(PERLGCB* gcb, int32_t start)
{
    const cx_frame* frames = gcb->current_level->si_cxstack;
    for (int32_t i = start; i >= 0; i--) {
        uint32_t t = cx_type(&frames[i]);
        if (t == CXt_SUB || t == CXt_EVAL || t == CXt_FORMAT)
            return i;
    }
    return -1;
}

uint8_t cx_gimme(PERLGCB* gcb)
{
    int32_t ix = cx_find_sub_eval_format(gcb, gcb->current_level->si_cxix);
    if (ix < 0)
        return CTX_VOID;
    return checked_gimme(gcb, &gcb->current_level->si_cxstack[ix]);
}

uint8_t cx_wantarray(PERLGCB* gcb)
{
    int32_t ix = cx_find_sub_eval_format(gcb, gcb->current_level->si_cxix);
    if (ix < 0)
        return 0;
    return checked_gimme(gcb, &gcb->current_level->si_cxstack[ix]) == CTX_LIST ? 1 : 0;
}

uint8_t cx_lvalue_sub(PERLGCB* gcb)
{
    int32_t ix = cx_find_sub_eval_format(gcb, gcb->current_level->si_cxix);
    if (ix < 0)
        return 0;
    const cx_frame* cx = &gcb->current_level->si_cxstack[ix];
    if (cx_type(cx) == CXt_EVAL)
        return 0;
    CV* cv = cx->sub.cv;
    if (cx->sub.lval && cv && (cv_body(cv)->cvflags & CVf_LVALUE))
        return cx->sub.lval;
    return 0;
}

void cx_pop_sub(PERLGCB* gcb, cx_frame* cx)
{
    if (cx->sub.hasargs) {
        // The caller's @_ comes back; the array of this call lets go of it.
        GP* gp = gv_gp(default_glob(gcb));
        AV* cur = gp->gp_av;
        gp->gp_av = cx->sub.savearray;
        if (cur)
            sv_release(gcb, as_sv(cur));
        AV* args = cx->sub.argarray;
        if (args) {
            PVAV* b = av_body(args);
            if (b->avflags & AVf_REAL) {
                // It owns its elements (someone reified it): a fresh borrowing
                // array of the same size takes its place in the pad.
                int32_t fill = b->fill;
                sv_release(gcb, as_sv(args));
                args = av_new_empty(gcb);
                av_grow_to_index(gcb, args, fill > 0 ? fill : 0);
                av_body(args)->avflags = AVf_REIFY;
                cx->sub.argarray = args;
                SV** pad = cx->sub.oldcurpad ? cx->sub.oldcurpad : gcb->curpad;
                pad[0] = as_sv(args);
            } else {
                b->max += static_cast<int32_t>(b->array - b->alloc);
                b->array = b->alloc;
                b->fill = -1;
            }
        }
    }
    CV* cv = cx->sub.cv;
    if (cv) {
        cv_body(cv)->depth = cx->sub.olddepth;
        if (cx->sub.olddepth == 0)
            sv_release(gcb, as_sv(cv));
    }
}

void cx_pop_loop(PERLGCB* gcb, cx_frame* cx)
{
    if (cx->loop.iterlval)
        sv_release(gcb, cx->loop.iterlval);
    if (SV** slot = cx->loop.itervar) {
        if (*slot)
            sv_make_temporary(gcb, *slot);
        *slot = cx->loop.itersave;
    }
    if (cx->loop.iterary && cx->loop.iterary != gcb->current_arg_stack)
        sv_release(gcb, as_sv(cx->loop.iterary));
}

void cx_unwind(PERLGCB* gcb, int32_t index)
{
    stack_level* si = gcb->current_level;
    while (si->si_cxix > index) {
        cx_frame* cx = &si->si_cxstack[si->si_cxix];
        switch (cx_type(cx)) {
        case CXt_SUBST:
            si->si_cxix--;
            cx_pop_subst(gcb, cx);
            continue;
        case CXt_SUB:
            cx_pop_sub(gcb, cx);
            break;
        case CXt_EVAL:
            cx_pop_eval(gcb, cx);
            break;
        case CXt_LOOP:
            cx_pop_loop(gcb, cx);
            break;
        case CXt_FORMAT: {
            GV* gv = cx->sub.dfoutgv;
            if (gv) {
                io_select_default_output(gcb, gv);
                sv_release(gcb, as_sv(gv));
            }
            break;
        }
        default:
            break;
        }
        si->si_cxix--;
    }
}

// Closes the scope of the eval that a die is leaving. An undo step may die
// in turn (a restored value whose set magic refuses it): that error goes on
// past the eval, but only once every other entry of the scope is undone, so
// that nothing the eval changed outlives it on the save stack.
static void close_eval_scope(PERLGCB* gcb)
{
    int32_t base = gcb->scope_stack[gcb->scope_ix - 1];
    JumpEnv env;
    int32_t code = jump_run(gcb, &env, true, [&] { scope_leave(gcb); });
    if (code == JUMP_NONE)
        return;
    // Each undo step that dies has taken its entry off first: this ends.
    while (jump_run(gcb, &env, true, [&] { leave_scope(gcb, base); }) != JUMP_NONE) {
    }
    if (gcb->top_env && gcb->top_env->prev)
        jump_to(gcb, gcb->top_env, code);
    bridge_fatal_jump();
}

// Writes the message (or $@ when there is none) to standard error and ends
// the interpreter with the failure status.
[[noreturn]] static void die_outside_eval(PERLGCB* gcb, const char* message, uint64_t length)
{
    uint64_t len = length;
    const char* text = message;
    if (!text && gcb->error_glob)
        text = sv_text(gcb, gv_gp(gcb->error_glob)->gp_sv, &len);
    if (text && len)
        prx_stderr_write(gcb, text, len);
    interp_failure_exit(gcb);
}

OP* die_return_to_eval(PERLGCB* gcb, const char* message, uint64_t length)
{
    if (!gcb->in_eval)
        die_outside_eval(gcb, message, length);
    // A die ends any localization under way: the set method that died never
    // returns to put the state back.
    gcb->localizing = 0;
    SV* errsv = gcb->error_glob ? gv_gp(gcb->error_glob)->gp_sv : nullptr;
    if (message && errsv) {
        if (gcb->in_eval & 4) {
            if (!(errsv->flags & SVf_POK))
                sv_set_bytes(gcb, errsv, "", 0);
            uint64_t cur = sv_cur(errsv);
            // The same text raised again (the bridge keeps $@ across calls)
            // is not appended twice.
            bool repeated = cur >= length && xk_padcmp64(sv_pv(errsv) + cur - length, length, message, length) == 0;
            if (!repeated) {
                sv_grow_buffer(gcb, errsv, cur + length + 1);
                sv_append_bytes(gcb, errsv, message, length);
                if (warn_enabled(gcb, WARN_MISC))
                    category_warning(gcb, WARN_MISC, "%s", sv_pv(errsv) + cur);
            }
        } else {
            sv_set_bytes(gcb, errsv, message, length);
        }
    }

    stack_level* si = gcb->current_level;
    int32_t ix = -1;
    while (si) {
        for (ix = si->si_cxix; ix >= 0; ix--)
            if (cx_type(&si->si_cxstack[ix]) == CXt_EVAL)
                break;
        if (ix >= 0 || !si->si_prev)
            break;
        cx_unwind(gcb, -1);
        stack_level_pop(gcb);
        si = gcb->current_level;
    }
    // No eval frame on any level although an eval is under way: the error
    // is not lost but reported as outside any eval.
    if (ix < 0)
        die_outside_eval(gcb, message, length);
    if (ix < si->si_cxix)
        cx_unwind(gcb, ix);
    cx_frame* cx = cx_pop_block(gcb);
    if (cx_type(cx) != CXt_EVAL) {
        uint64_t len = 0;
        const char* text = errsv ? sv_text(gcb, errsv, &len) : "";
        static const char head[] = "panic: die ";
        prx_stderr_write(gcb, head, sizeof head - 1);
        prx_stderr_write(gcb, text, len);
        interp_exit(gcb, 1);
    }
    gcb->last_match_op = cx->blk.oldpm;
    cx_pop_eval(gcb, cx);
    int32_t optype = cx->eval.old_op_type;
    uint8_t gimme = cx->blk.gimme;
    COP* oldcop = cx->blk.oldcop;
    SV** sp = gcb->arg_base + cx->blk.oldsp;
    if (gimme == CTX_SCALAR)
        *++sp = &gcb->sv_undef;
    pp_put_sp(gcb, sp);
    close_eval_scope(gcb);
    gcb->current_statement = oldcop;
    if (optype == OP_REQUIRE) {
        uint64_t len = 0;
        const char* text = errsv ? sv_text(gcb, errsv, &len) : "";
        return die_error(gcb, "%sCompilation failed in require", len ? text : "Unknown error\n");
    }
    return return_stack_pop(gcb);
}

void error_queue(PERLGCB* gcb, SV* message)
{
    if (gcb->in_eval)
        sv_append_sv(gcb, gv_gp(gcb->error_glob)->gp_sv, message);
    else if (gcb->errors)
        sv_append_sv(gcb, gcb->errors, message);
    else
        warning(gcb, "%_", message);
    gcb->error_count++;
}

OP* pp_wantarray(PERLGCB* gcb)
{
    SV** sp = pp_extend(gcb, pp_sp(gcb), 1);
    int32_t ix = cx_find_sub_eval_format(gcb, gcb->current_level->si_cxix);
    SV* result = &gcb->sv_undef;
    if (ix >= 0) {
        uint8_t g = checked_gimme(gcb, &gcb->current_level->si_cxstack[ix]);
        if (g == CTX_LIST)
            result = &gcb->sv_yes;
        else if (g == CTX_SCALAR)
            result = &gcb->sv_no;
    }
    *++sp = result;
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

OP* pp_exit(PERLGCB* gcb)
{
    int32_t status = 0;
    if (gcb->op->op_private & 0x0F) {
        SV** sp = pp_sp(gcb);
        SV* sv = *sp;
        pp_put_sp(gcb, sp - 1);
        int64_t n = (sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv);
        status = static_cast<int32_t>(n);
    }
    gcb->exit_flags |= 1;
    interp_exit(gcb, status);
}
