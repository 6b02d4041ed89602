// Loops and loop control at run time: loop entry, the foreach iterator with
// its element proxies, loop exit, last, next, redo and return with the frame
// searches they share, the small logical ops, and range with flip and flop.
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxlex.h"
#include "prxpad.h"
#include "prxpp.h"
#include "prxscope.h"

namespace {

// The loop part of a frame just pushed.
void push_loop(cx_frame* cx, OP* op, SV** resetsp_at, PERLGCB* gcb, SV** itervar)
{
    op_loop* lp = op_as_loop(op);
    COP* cop = gcb->current_statement;
    cx->loop.label = cop ? cop->cop_label : nullptr;
    cx->loop.resetsp = static_cast<int32_t>(resetsp_at - gcb->arg_base);
    cx->loop.redo_op = lp->op_redoop;
    cx->loop.next_op = lp->op_nextop;
    cx->loop.last_op = lp->op_lastop;
    cx->loop.itervar = itervar;
    cx->loop.itersave = itervar ? sv_refinc(*itervar) : nullptr;
    cx->loop.iterlval = nullptr;
    cx->loop.iterary = nullptr;
    cx->loop.iterix = -1;
    cx->loop.itermax = 0;
}

// Whether a value holds a number or is no plain string (the range tests).
inline bool numeric_or_not_string(const SV* sv)
{
    return (sv->flags & (SVp_IOK | SVp_NOK)) || !(sv->flags & SVp_POK);
}

// Whether the two ends of a range make a numeric range: a numeric or
// non-string end, or two texts that look like numbers without a leading "0"
// (a leading zero keeps "01".."03" a string range).
bool numeric_range(PERLGCB* gcb, SV* left, SV* right)
{
    if (numeric_or_not_string(left) || numeric_or_not_string(right))
        return true;
    uint64_t llen = 0;
    uint64_t rlen = 0;
    const char* l = sv_text(gcb, left, &llen);
    const char* r = sv_text(gcb, right, &rlen);
    return sv_number_class(gcb, left) && sv_number_class(gcb, right) && !(llen && l[0] == '0') &&
           !(rlen && r[0] == '0');
}

// Whether two strings are equal, byte for byte and in length.
inline bool same_text(const char* a, uint64_t alen, const char* b, uint64_t blen)
{
    return alen == blen && std::memcmp(a, b, alen) == 0;
}

// Assigns an integer to the loop variable: in place when nobody else holds
// the value and it has no magic that would see the change, else a new value.
void set_iter_int(PERLGCB* gcb, SV** slot, int64_t value)
{
    SV* cur = *slot;
    if (cur && cur->refcnt == 1 && !(cur->flags & SV_MAGIC_FLAGS)) {
        sv_set_int(gcb, cur, value);
        return;
    }
    if (cur)
        sv_release(gcb, cur);
    *slot = sv_new_from_int(gcb, value);
}

void set_iter_copy(PERLGCB* gcb, SV** slot, SV* value)
{
    SV* cur = *slot;
    if (cur && cur->refcnt == 1 && !(cur->flags & SV_MAGIC_FLAGS)) {
        sv_assign(gcb, cur, value);
        return;
    }
    if (cur)
        sv_release(gcb, cur);
    *slot = sv_new_copy(gcb, value);
}

// The results of a loop or a loop exit: the values above mark move to
// newsp + 1 and up as the context asks. Values of a sub frame that are
// already temporary pass as they are; all others are copied.
SV** loop_results(PERLGCB* gcb, SV** newsp, SV** mark, SV** sp, uint8_t gimme, bool sub_frame)
{
    if (gimme == CTX_SCALAR) {
        if (mark < sp)
            *++newsp = (sub_frame && ((*sp)->flags & SVs_TEMP)) ? *sp : pp_temp_copy(gcb, *sp);
        else
            *++newsp = &gcb->sv_undef;
    } else if (gimme == CTX_LIST) {
        while (++mark <= sp) {
            SV* sv = *mark;
            *++newsp = (sub_frame && (sv->flags & SVs_TEMP)) ? sv : pp_temp_copy(gcb, sv);
            gcb->tainted = 0;
        }
    }
    return newsp;
}

// Frame search shared by the loop exits: what each frame type does when the
// search passes it. Returns true when the search stops at a pseudo-block.
bool passes(PERLGCB* gcb, const cx_frame* cx)
{
    const char* name = gcb->op_name_table[gcb->op->op_type];
    const char* what = nullptr;
    switch (cx_type(cx)) {
    case CXt_NULL:
        if (warn_enabled(gcb, WARN_EXITING))
            category_warning(gcb, WARN_EXITING, "Exiting pseudo-block via %s", name);
        return true;
    case CXt_SUB:
        what = "Exiting subroutine via %s";
        break;
    case CXt_EVAL:
        what = "Exiting eval via %s";
        break;
    case CXt_SUBST:
        what = "Exiting substitution via %s";
        break;
    case CXt_FORMAT:
        what = "Exiting format via %s";
        break;
    default:
        return false;
    }
    if (warn_enabled(gcb, WARN_EXITING))
        category_warning(gcb, WARN_EXITING, what, name);
    return false;
}

// The target frame of last, next and redo, or -1 after die_error set the
// restart op (returned in *die_op).
int32_t loop_target(PERLGCB* gcb, const char* opname, OP** die_op)
{
    OP* op = gcb->op;
    int32_t ix;
    if (op->op_flags & OPf_SPECIAL) {
        ix = cx_find_loop(gcb, gcb->current_level->si_cxix);
        if (ix < 0)
            *die_op = die_error(gcb, "Can't \"%s\" outside a loop block", opname);
    } else {
        const char* label = op_string_pv(op);
        ix = cx_find_label(gcb, label);
        if (ix < 0)
            *die_op = die_error(gcb, "Label not found for \"%s %s\"", opname, label ? label : "");
    }
    return ix;
}

// next and redo: the target frame stays; everything above it goes.
OP* restart_loop(PERLGCB* gcb, const char* opname, bool redo)
{
    OP* die_op = nullptr;
    int32_t ix = loop_target(gcb, opname, &die_op);
    if (ix < 0)
        return die_op;
    if (ix < gcb->current_level->si_cxix)
        cx_unwind(gcb, ix);
    cx_frame* cx = cx_current(gcb);
    int32_t inner = gcb->scope_ix;
    cx_restore_heights(gcb, cx);
    // The scopes opened inside the loop's inner scope are undone at once.
    if (gcb->scope_ix < inner)
        leave_scope(gcb, gcb->scope_stack[gcb->scope_ix]);
    return redo ? cx->loop.redo_op : cx->loop.next_op;
}

// Whether a range or flip-flop op runs in list context: its WANT bits, else
// the nearest sub, eval or format frame (void and no frame are scalar).
bool list_context(PERLGCB* gcb, const OP* op)
{
    uint8_t want = op->op_flags & OPf_WANT;
    if (want)
        return want == OPf_WANT_LIST;
    return cx_wantarray(gcb) == 1;
}

// The flip-flop's condition on a value: the line number of the last-read
// handle in the line-number form, else the value's truth.
bool flip_condition(PERLGCB* gcb, const OP* op, SV* sv)
{
    if (!(op->op_private & OPpFLIP_LINENUM))
        return pp_truth(gcb, sv);
    GV* gv = gcb->last_input_glob;
    if (!gv || !gv_gp(gv) || !gv_gp(gv)->gp_io)
        return false;
    int64_t n = (sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv);
    return n == io_body(gv_gp(gv)->gp_io)->lines;
}

}  // namespace

int32_t cx_find_loop(PERLGCB* gcb, int32_t start)
{
    const cx_frame* frames = gcb->current_level->si_cxstack;
    for (int32_t i = start; i >= 0; i--) {
        if (cx_type(&frames[i]) == CXt_LOOP)
            return i;
        if (passes(gcb, &frames[i]))
            return -1;
    }
    return -1;
}

int32_t cx_find_label(PERLGCB* gcb, const char* label)
{
    const cx_frame* frames = gcb->current_level->si_cxstack;
    for (int32_t i = gcb->current_level->si_cxix; i >= 0; i--) {
        const cx_frame* cx = &frames[i];
        if (cx_type(cx) == CXt_LOOP) {
            if (cx->loop.label && label && std::strcmp(cx->loop.label, label) == 0)
                return i;
            continue;
        }
        if (passes(gcb, cx))
            return -1;
    }
    return -1;
}

OP* pp_enterloop(PERLGCB* gcb)
{
    OP* op = gcb->op;
    uint8_t gimme = pp_context(gcb, op);
    pp_scope_with_temps(gcb);
    scope_enter(gcb);
    SV** sp = pp_sp(gcb);
    cx_frame* cx = cx_push_block(gcb, CXt_LOOP, sp, gimme);
    push_loop(cx, op, sp, gcb, nullptr);
    return op->op_next;
}

OP* pp_enteriter(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** mark = gcb->arg_base + pop_mark(gcb);
    uint8_t gimme = pp_context(gcb, op);
    // A list on the stack is held for the statement: the body may free the
    // owners of the values it has not reached yet.
    if (!(op->op_flags & OPf_STACKED))
        tmps_hold(gcb, mark + 1, static_cast<int32_t>(pp_sp(gcb) - mark));
    pp_scope_with_temps(gcb);
    SV** sp = pp_sp(gcb);
    SV** itervar;
    if (op->op_targ) {
        itervar = &gcb->curpad[op->op_targ];
        save_push_value_ptr(gcb, itervar);
    } else {
        // A loop variable named through a reference ("for $$r (...)") may
        // come out of the dereference as undef rather than a glob.
        if (!sv_is_glob(*sp))
            return die_error(gcb, "Can't use an undefined value as %s reference", "a symbol");
        GV* gv = sv_as<GV>(*sp--);
        pp_put_sp(gcb, sp);
        itervar = &gv_gp(gv)->gp_sv;
        // The glob's own value comes back, its reference dropped, when the
        // scope closes; the loop works on a fresh one meanwhile.
        save_push_value_ptr_by_ref(gcb, itervar);
        *itervar = sv_new_undef(gcb, 0);
    }
    scope_enter(gcb);
    cx_frame* cx = cx_push_block(gcb, CXt_LOOP, sp, gimme);
    push_loop(cx, op, mark, gcb, itervar);

    if (op->op_flags & OPf_STACKED) {
        SV* src = sv_refinc(*sp--);
        cx->loop.iterary = sv_as<AV>(src);
        if (sv_type(src) != SVt_PVAV) {
            SV* start = *sp--;
            pp_put_sp(gcb, sp);
            SV* end = src;
            if (numeric_range(gcb, start, end)) {
                if (pp_double(gcb, start) < -2147483648.0 || pp_double(gcb, end) >= 2147483647.0)
                    return die_error(gcb, "Range iterator outside integer range");
                cx->loop.iterix = sv_to_int(gcb, start);
                cx->loop.itermax = sv_to_int(gcb, end);
            } else {
                cx->loop.iterlval = sv_new_copy(gcb, start);
            }
        }
        pp_put_sp(gcb, sp);
    } else {
        AV* stack = gcb->current_arg_stack;
        cx->loop.iterary = stack;
        av_body(stack)->fill = static_cast<int32_t>(sp - gcb->arg_base);
        cx->loop.iterix = mark - gcb->arg_base;
    }
    return op->op_next;
}

OP* pp_iter(PERLGCB* gcb)
{
    SV** sp = pp_extend(gcb, pp_sp(gcb), 1);
    stack_level* si = gcb->current_level;
    if (si->si_cxix < 0 || cx_type(&si->si_cxstack[si->si_cxix]) != CXt_LOOP)
        fatal_error(gcb, "panic: pp_iter");
    cx_frame* cx = &si->si_cxstack[si->si_cxix];
    SV** slot = cx->loop.itervar;
    AV* av = cx->loop.iterary;
    bool more = false;

    if (sv_type(as_sv(av)) != SVt_PVAV) {
        if (SV* cur = cx->loop.iterlval) {
            SV* end = as_sv(av);
            uint64_t curlen = 0;
            uint64_t endlen = 0;
            const char* c = sv_text(gcb, cur, &curlen);
            const char* e = sv_text(gcb, end, &endlen);
            if (!(cur->flags & (SVf_IOK | SVf_NOK)) && curlen <= endlen) {
                set_iter_copy(gcb, slot, cur);
                if (same_text(c, curlen, e, endlen))
                    sv_set_int(gcb, cur, 0);
                else
                    sv_increment(gcb, cur);
                more = true;
            }
        } else if (cx->loop.iterix <= cx->loop.itermax) {
            set_iter_int(gcb, slot, cx->loop.iterix);
            cx->loop.iterix++;
            more = true;
        }
    } else {
        bool is_stack = av == gcb->current_arg_stack;
        int64_t end = is_stack ? cx->blk.oldsp : av_highest_index(gcb, av);
        if (cx->loop.iterix < end) {
            if (*slot)
                sv_release(gcb, *slot);
            int32_t ix = static_cast<int32_t>(++cx->loop.iterix);
            SV* sv = nullptr;
            if (as_sv(av)->flags & SVs_RMG) {
                SV** svp = av_fetch_element(gcb, av, ix, 0);
                sv = svp ? *svp : nullptr;
            } else if (ix <= av_body(av)->fill) {
                sv = av_body(av)->array[ix];
            }
            if (sv)
                sv->flags &= ~SVs_TEMP;
            else
                sv = &gcb->sv_undef;
            if (!is_stack && sv_is_immortal(gcb, sv)) {
                // A proxy stands for the element, so that assigning to the
                // loop variable creates it in the array.
                SV* lv = cx->loop.iterlval;
                if (lv && lv->refcnt > 1) {
                    sv_release(gcb, lv);
                    lv = nullptr;
                }
                if (lv) {
                    sv_release(gcb, static_cast<PVLV*>(lv->any)->targ);
                } else {
                    lv = sv_new_undef(gcb, 0);
                    sv_upgrade_body(gcb, lv, SVt_PVLV);
                    static_cast<PVLV*>(lv->any)->type = 'y';
                    sv_add_magic(gcb, lv, nullptr, 'y', nullptr, 0);
                    cx->loop.iterlval = lv;
                }
                PVLV* body = static_cast<PVLV*>(lv->any);
                body->targ = sv_refinc(as_sv(av));
                body->targoff = static_cast<uint64_t>(ix);
                body->targlen = 4294967295u;
                sv = lv;
            }
            *slot = sv_refinc(sv);
            more = true;
        }
    }
    *++sp = pp_bool(gcb, more);
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

OP* pp_leaveloop(PERLGCB* gcb)
{
    cx_frame* cx = cx_pop_block(gcb);
    SV** mark = gcb->arg_base + cx->blk.oldsp;
    SV** newsp = gcb->arg_base + cx->loop.resetsp;
    OP* newpm = cx->blk.oldpm;
    gcb->tainted = 0;
    SV** sp = loop_results(gcb, newsp, mark, pp_sp(gcb), cx->blk.gimme, false);
    pp_put_sp(gcb, sp);
    cx_pop_loop(gcb, cx);
    gcb->last_match_op = newpm;
    scope_leave(gcb);
    scope_leave(gcb);
    return gcb->op->op_next;
}

OP* pp_last(PERLGCB* gcb)
{
    OP* die_op = nullptr;
    int32_t ix = loop_target(gcb, "last", &die_op);
    if (ix < 0)
        return die_op;
    if (ix < gcb->current_level->si_cxix)
        cx_unwind(gcb, ix);
    cx_frame* cx = cx_pop_block(gcb);
    SV** mark = gcb->arg_base + cx->blk.oldsp;
    SV** newsp = mark;
    OP* newpm = cx->blk.oldpm;
    OP* next = nullptr;
    uint32_t type = cx_type(cx);
    switch (type) {
    case CXt_LOOP:
        newsp = gcb->arg_base + cx->loop.resetsp;
        next = cx->loop.last_op->op_next;
        break;
    case CXt_SUB:
        next = return_stack_pop(gcb);
        break;
    case CXt_EVAL:
        cx_pop_eval(gcb, cx);
        next = return_stack_pop(gcb);
        break;
    case CXt_FORMAT:
        if (GV* gv = cx->sub.dfoutgv) {
            io_select_default_output(gcb, gv);
            sv_release(gcb, as_sv(gv));
        }
        next = return_stack_pop(gcb);
        break;
    default:
        return die_error(gcb, "panic: last");
    }
    gcb->tainted = 0;
    SV** sp = loop_results(gcb, newsp, mark, pp_sp(gcb), cx->blk.gimme, type == CXt_SUB);
    pp_put_sp(gcb, sp);
    if (type == CXt_LOOP) {
        cx_pop_loop(gcb, cx);
        scope_leave(gcb);
    } else if (type == CXt_SUB) {
        cx_pop_sub(gcb, cx);
    }
    gcb->last_match_op = newpm;
    scope_leave(gcb);
    return next;
}

OP* pp_next(PERLGCB* gcb) { return restart_loop(gcb, "next", false); }

OP* pp_redo(PERLGCB* gcb) { return restart_loop(gcb, "redo", true); }

OP* pp_return(PERLGCB* gcb)
{
    SV** mark = gcb->arg_base + pop_mark(gcb);
    SV** sp = pp_sp(gcb);
    stack_level* si = gcb->current_level;
    if (si->si_type == SI_SORT) {
        int32_t sortix = gcb->sort_cxix;
        if (si->si_cxix == sortix || cx_find_sub_eval_format(gcb, si->si_cxix) <= sortix) {
            if (si->si_cxix > sortix)
                cx_unwind(gcb, sortix);
            av_body(gcb->current_arg_stack)->array[1] = *sp;
            pp_put_sp(gcb, gcb->arg_base + 1);
            return nullptr;
        }
    }
    int32_t ix = cx_find_sub_eval_format(gcb, si->si_cxix);
    if (ix < 0)
        return die_error(gcb, "Can't return outside a subroutine");
    if (ix < si->si_cxix)
        cx_unwind(gcb, ix);
    cx_frame* cx = cx_pop_block(gcb);
    SV** newsp = gcb->arg_base + cx->blk.oldsp;
    OP* newpm = cx->blk.oldpm;
    uint8_t gimme = cx->blk.gimme;
    bool clear_errsv = false;
    bool sub_frame = false;
    switch (cx_type(cx)) {
    case CXt_SUB:
        sub_frame = true;
        break;
    case CXt_EVAL: {
        clear_errsv = !(gcb->in_eval & 4);
        cx_pop_eval(gcb, cx);
        if ((cx->type & CXp_TRYBLOCK) == 0)
            lex_context_end(gcb);
        if (cx->eval.old_op_type == OP_REQUIRE && (mark == sp || (gimme == CTX_SCALAR && !pp_truth(gcb, *sp)))) {
            SV* name = cx->eval.old_namesv;
            uint64_t len = 0;
            const char* text = name ? sv_text(gcb, name, &len) : "";
            HV* inc = gv_gp(gv_fetch_by_name(gcb, "INC", GV_ADD, SVt_PVHV))->gp_hv;
            if (inc)
                hv_delete_str(gcb, inc, text, static_cast<int32_t>(len), HV_DISCARD);
            return die_error(gcb, "%s did not return a true value", text);
        }
        break;
    }
    case CXt_FORMAT:
        if (GV* gv = cx->sub.dfoutgv) {
            io_select_default_output(gcb, gv);
            sv_release(gcb, as_sv(gv));
        }
        break;
    default:
        return die_error(gcb, "panic: return");
    }

    if (gimme == CTX_SCALAR) {
        if (mark < sp) {
            SV* top = *sp;
            if (sub_frame && cv_body(cx->sub.cv)->depth > 1) {
                // A recursing sub's temporaries go now: the value is held
                // across the freeing.
                sv_refinc(top);
                tmps_free_to_floor(gcb);
                if (top->flags & SVs_TEMP) {
                    *++newsp = sv_make_temporary(gcb, top);
                } else {
                    *++newsp = pp_temp_copy(gcb, top);
                    sv_release(gcb, top);
                }
            } else if (sub_frame && (top->flags & SVs_TEMP)) {
                *++newsp = top;
            } else {
                *++newsp = pp_temp_copy(gcb, top);
            }
        } else {
            *++newsp = &gcb->sv_undef;
        }
    } else if (gimme == CTX_LIST) {
        while (++mark <= sp) {
            SV* sv = *mark;
            *++newsp = (sub_frame && (sv->flags & SVs_TEMP)) ? sv : pp_temp_copy(gcb, sv);
            gcb->tainted = 0;
        }
    }
    pp_put_sp(gcb, newsp);
    gcb->tainted = 0;
    if (sub_frame)
        cx_pop_sub(gcb, cx);
    gcb->last_match_op = newpm;
    scope_leave(gcb);
    if (clear_errsv)
        sv_set_bytes(gcb, gv_gp(gcb->error_glob)->gp_sv, "", 0);
    return return_stack_pop(gcb);
}

OP* pp_xor(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    bool l = sv_is_true(gcb, sp[-1]);
    bool r = sv_is_true(gcb, sp[0]);
    *--sp = pp_bool(gcb, l != r);
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

OP* pp_andassign(PERLGCB* gcb)
{
    return pp_truth(gcb, *pp_sp(gcb)) ? op_other_op(gcb->op) : gcb->op->op_next;
}

OP* pp_orassign(PERLGCB* gcb)
{
    return pp_truth(gcb, *pp_sp(gcb)) ? gcb->op->op_next : op_other_op(gcb->op);
}

// ---- range, flip and flop ------------------------------------------------------

OP* pp_range(PERLGCB* gcb)
{
    OP* op = gcb->op;
    if (list_context(gcb, op))
        return op->op_next;
    return pp_truth(gcb, gcb->curpad[op->op_targ]) ? op_other_op(op) : op->op_next;
}

OP* pp_flip(PERLGCB* gcb)
{
    OP* op = gcb->op;
    OP* range = op_first_kid(op);
    if (list_context(gcb, op))
        return op_other_op(range);
    SV** sp = pp_sp(gcb);
    SV* targ = gcb->curpad[op->op_targ];
    if (flip_condition(gcb, op, *sp)) {
        sv_set_int(gcb, gcb->curpad[range->op_targ], 1);
        if (op->op_flags & OPf_SPECIAL) {
            sv_set_int(gcb, targ, 1);
            *sp = targ;
            return op->op_next;
        }
        sv_set_int(gcb, targ, 0);
        pp_put_sp(gcb, sp - 1);
        return op_other_op(range);
    }
    sv_set_bytes(gcb, targ, "", 0);
    *sp = targ;
    return op->op_next;
}

OP* pp_flop(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    if (!list_context(gcb, op)) {
        OP* flip = op_first_kid(op);
        SV* targ = gcb->curpad[flip->op_targ];
        sv_increment(gcb, targ);
        if (flip_condition(gcb, op, *sp)) {
            sv_set_int(gcb, gcb->curpad[op_first_kid(flip)->op_targ], 0);
            sv_append_bytes(gcb, targ, "E0", 2);
        }
        *sp = targ;
        return op->op_next;
    }

    SV* right = *sp--;
    SV* left = *sp--;
    pp_put_sp(gcb, sp);
    pp_get_magic(gcb, left);
    pp_get_magic(gcb, right);
    if (numeric_range(gcb, left, right)) {
        if (pp_double(gcb, left) < -2147483648.0 || pp_double(gcb, right) > 2147483647.0)
            return die_error(gcb, "Range iterator outside integer range");
        int64_t i = sv_to_int(gcb, left);
        int64_t max = sv_to_int(gcb, right);
        if (max >= i) {
            int32_t n = static_cast<int32_t>(max - i + 1);
            if (gcb->temps_ix + n >= gcb->temps_max)
                tmps_stack_extend(gcb, n);
            sp = pp_extend(gcb, sp, n);
            for (int32_t k = 0; k < n; k++) {
                SV* sv = sv_new_from_int(gcb, i + k);
                *++sp = sv_make_temporary(gcb, sv);
            }
        }
    } else {
        SV* final = pp_temp_copy(gcb, right);
        uint64_t flen = 0;
        const char* ftext = sv_text(gcb, final, &flen);
        SV* cur = pp_temp_copy(gcb, left);
        uint64_t clen = 0;
        sv_force_string(gcb, cur, &clen);
        while (!(cur->flags & (SVp_IOK | SVp_NOK)) && sv_cur(cur) <= flen) {
            sp = pp_extend(gcb, sp, 1);
            *++sp = cur;
            if (same_text(sv_pv(cur), sv_cur(cur), ftext, flen))
                break;
            cur = pp_temp_copy(gcb, cur);
            sv_increment(gcb, cur);
        }
    }
    pp_put_sp(gcb, sp);
    return op->op_next;
}
