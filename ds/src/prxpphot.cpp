// The hot run-time ops: constants and globals, statements and blocks, marks,
// the logical and conditional ops, scalar assignment, concatenation,
// addition, numeric equality, pre-increment, lexicals and constant
// elements.
#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxpp.h"
#include "prxscope.h"

namespace {

// Frees the temporaries of the statement or round that just ended and puts
// the stack top back where the innermost frame keeps it.
inline void reset_statement_state(PERLGCB* gcb)
{
    gcb->tainted = 0;
    stack_level* si = gcb->current_level;
    gcb->arg_sp = gcb->arg_base + (si->si_cxix >= 0 ? si->si_cxstack[si->si_cxix].blk.oldsp : 0);
    if (gcb->temps_ix > gcb->temps_floor)
        tmps_free_to_floor(gcb);
}

// Places a binary op's result: the target replaces both operands.
inline OP* binary_result(PERLGCB* gcb, SV** sp, SV* result)
{
    *--sp = result;
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

// A double operand of add and eq.
inline double operand_double(PERLGCB* gcb, SV* sv) { return pp_double(gcb, sv); }

}  // namespace

SV** pp_leave_results(PERLGCB* gcb, SV** newsp, SV** sp, uint8_t gimme, uint32_t keep)
{
    if (gimme == CTX_SCALAR) {
        SV* last = sp > newsp ? *sp : &gcb->sv_undef;
        if (sp > newsp && !(keep && (last->flags & keep)))
            last = pp_temp_copy(gcb, last);
        *++newsp = last;
        return newsp;
    }
    if (gimme == CTX_LIST) {
        for (SV** p = newsp + 1; p <= sp; p++) {
            SV* sv = *p;
            *++newsp = (keep && (sv->flags & keep)) ? sv : pp_temp_copy(gcb, sv);
        }
        return newsp;
    }
    return newsp;
}

OP* pp_const(PERLGCB* gcb)
{
    pp_push_one(gcb, pp_sp(gcb), op_value_sv(gcb->op));
    return gcb->op->op_next;
}

OP* pp_nextstate(PERLGCB* gcb)
{
    gcb->current_statement = reinterpret_cast<COP*>(gcb->op);
    reset_statement_state(gcb);
    return gcb->op->op_next;
}

OP* pp_setstate(PERLGCB* gcb)
{
    gcb->current_statement = reinterpret_cast<COP*>(gcb->op);
    return gcb->op->op_next;
}

OP* pp_null(PERLGCB* gcb) { return gcb->op->op_next; }

OP* pp_pushmark(PERLGCB* gcb)
{
    push_mark(gcb, pp_sp(gcb));
    return gcb->op->op_next;
}

OP* pp_gvsv(PERLGCB* gcb)
{
    OP* op = gcb->op;
    GV* gv = sv_as<GV>(op_value_sv(op));
    SV* sv = (op->op_private & OPpLVAL_INTRO) ? save_push_scalar(gcb, gv) : gv_gp(gv)->gp_sv;
    pp_push_one(gcb, pp_sp(gcb), sv);
    return op->op_next;
}

OP* pp_padsv(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* targ = gcb->curpad[op->op_targ];
    pp_push_one(gcb, pp_sp(gcb), targ);
    if (op->op_flags & OPf_MOD) {
        if (op->op_private & OPpLVAL_INTRO)
            save_push_clear_pad_entry(gcb, &gcb->curpad[op->op_targ]);
        else if (op->op_private & OPpDEREF)
            elem_autovivify(gcb, targ, op->op_private & OPpDEREF);
    }
    return op->op_next;
}

OP* pp_stringify(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    SV* sv = *sp;
    uint64_t len = 0;
    const char* s = sv_text(gcb, sv, &len);
    bool utf8 = (sv->flags & SVf_UTF8) != 0;
    sv_set_bytes(gcb, targ, s, len);
    if (utf8)
        targ->flags |= SVf_UTF8;
    pp_set_magic(gcb, targ);
    *sp = targ;
    return op->op_next;
}

OP* pp_and(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    if (!pp_truth(gcb, *sp))
        return gcb->op->op_next;
    pp_put_sp(gcb, sp - 1);
    return op_other_op(gcb->op);
}

OP* pp_or(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    if (pp_truth(gcb, *sp))
        return gcb->op->op_next;
    pp_put_sp(gcb, sp - 1);
    return op_other_op(gcb->op);
}

OP* pp_cond_expr(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    SV* cond = *sp;
    pp_put_sp(gcb, sp - 1);
    return pp_truth(gcb, cond) ? op_other_op(gcb->op) : gcb->op->op_next;
}

OP* pp_sassign(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* value = sp[-1];
    SV* dest = sp[0];
    if (op->op_private & OPpASSIGN_BACKWARDS) {
        SV* t = value;
        value = dest;
        dest = t;
    }
    if (gcb->tainting && gcb->tainted && !((value->flags & SV_MAGIC_FLAGS) && sv_is_tainted(gcb, value)))
        gcb->tainted = 0;
    if (dest != value) {
        sv_assign(gcb, dest, value);
        pp_set_magic(gcb, dest);
    }
    *--sp = dest;
    pp_put_sp(gcb, sp);
    return op->op_next;
}

OP* pp_unstack(PERLGCB* gcb)
{
    reset_statement_state(gcb);
    int32_t oldsave = gcb->scope_stack[gcb->scope_ix - 1];
    if (gcb->savestack_ix > oldsave)
        leave_scope(gcb, oldsave);
    return gcb->op->op_next;
}

OP* pp_concat(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, AMG_CONCAT, targ))
        return op->op_next;
    SV* left = sp[-1];
    SV* right = sp[0];
    pp_get_magic(gcb, left);
    SV* saved_right = right;
    if (targ == right) {
        pp_get_magic(gcb, right);
        if (targ != left)
            saved_right = sv_make_temporary(gcb, sv_new_copy(gcb, right));
    }
    if (targ != left)
        sv_assign(gcb, targ, left);
    if (targ == right && right == left) {
        uint64_t len = 0;
        const char* s = sv_text(gcb, right, &len);
        sv_append_bytes(gcb, targ, s, len);
    } else if (targ == right) {
        sv_append_sv(gcb, targ, saved_right);
    } else {
        if (!sv_ok(targ))
            sv_set_bytes(gcb, targ, "", 0);
        sv_append_sv(gcb, targ, right);
    }
    pp_set_magic(gcb, targ);
    return binary_result(gcb, pp_sp(gcb), targ);
}

OP* pp_add(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, AMG_ADD, targ))
        return op->op_next;
    SV* left = sp[-1];
    SV* right = sp[0];
    double r = operand_double(gcb, right);
    double l;
    // The += of an undefined variable counts it as 0 without a warning.
    if ((op->op_flags & OPf_STACKED) && !sv_ok(left) && !(left->flags & SVs_GMG))
        l = 0.0;
    else
        l = operand_double(gcb, left);
    sv_set_double(gcb, targ, l + r);
    pp_set_magic(gcb, targ);
    return binary_result(gcb, pp_sp(gcb), targ);
}

OP* pp_eq(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    if (pp_binary_overload(gcb, gcb->op, sp, AMG_EQ, nullptr))
        return gcb->op->op_next;
    SV* left = sp[-1];
    SV* right = sp[0];
    double r = operand_double(gcb, right);
    double l = operand_double(gcb, left);
    return binary_result(gcb, pp_sp(gcb), pp_bool(gcb, l == r));
}

OP* pp_preinc(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    if ((sv->flags & SVf_READONLY) || sv_type(sv) > SVt_PVLV)
        return die_error(gcb, "Modification of a read-only value attempted");
    uint32_t f = sv->flags;
    if ((f & (SVf_IOK | SVf_NOK | SVf_POK | SVf_IsUV)) == SVf_IOK && sv_iv(sv) != 2147483647) {
        sv_iv(sv) = static_cast<int64_t>(static_cast<uint64_t>(sv_iv(sv)) + 1);
        sv->flags &= ~(SVp_NOK | SVp_POK);
    } else {
        sv_increment(gcb, sv);
    }
    pp_set_magic(gcb, sv);
    return gcb->op->op_next;
}

OP* pp_aelemfast(PERLGCB* gcb)
{
    OP* op = gcb->op;
    GV* gv = sv_as<GV>(op_value_sv(op));
    AV* av = gv_gp(gv)->gp_av;
    if (!av)
        av = gv_gp(gv_ensure_array(gcb, gv))->gp_av;
    bool lval = (op->op_flags & OPf_MOD) != 0;
    SV** svp = av_fetch_element(gcb, av, op->op_private, lval ? 1 : 0);
    SV* sv = svp && *svp ? *svp : &gcb->sv_undef;
    if (!lval && (sv->flags & SVs_GMG))
        sv = pp_temp_copy(gcb, sv);
    pp_push_one(gcb, pp_sp(gcb), sv);
    return op->op_next;
}

OP* pp_pushre(PERLGCB* gcb)
{
    pp_push_one(gcb, pp_sp(gcb), reinterpret_cast<SV*>(gcb->op));
    return gcb->op->op_next;
}

OP* pp_enter(PERLGCB* gcb)
{
    OP* op = gcb->op;
    uint8_t gimme = pp_gimme(gcb, op);
    pp_scope_with_temps(gcb);
    cx_push_block(gcb, CXt_BLOCK, pp_sp(gcb), gimme);
    return op->op_next;
}

OP* pp_leave(PERLGCB* gcb)
{
    OP* op = gcb->op;
    if (op->op_flags & OPf_SPECIAL)
        cx_current(gcb)->blk.oldpm = gcb->last_match_op;
    cx_frame* cx = cx_pop_block(gcb);
    SV** newsp = gcb->arg_base + cx->blk.oldsp;
    OP* newpm = cx->blk.oldpm;
    uint8_t gimme = pp_gimme(gcb, op);
    gcb->tainted = 0;
    SV** sp = pp_leave_results(gcb, newsp, pp_sp(gcb), gimme, SVs_TEMP | SVs_PADTMP);
    pp_put_sp(gcb, sp);
    gcb->last_match_op = newpm;
    scope_leave(gcb);
    return op->op_next;
}

static_assert(AMG_ADD == 6 && AMG_CONCAT == 54 && AMG_EQ == 32);
