// Helpers every run-time op shares: reading and writing the argument stack,
// targets, the truth test and the result placement of the op contract. The
// op families (prxpp*.cpp) include this header; each adds the helpers of its
// own beside it only when another family needs them too.
#pragma once

#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxrun.h"
#include "prxsv.h"

// The stack top as a local: a run-time function copies it in with pp_sp,
// works on the copy and stores it back with pp_put_sp before it returns or
// calls anything that may use the stack.
inline SV** pp_sp(PERLGCB* gcb) { return gcb->arg_sp; }
inline void pp_put_sp(PERLGCB* gcb, SV** sp) { gcb->arg_sp = sp; }

// Room for n more pushes above sp; returns the stack pointer to use (the
// stack may have moved).
inline SV** pp_extend(PERLGCB* gcb, SV** sp, int32_t n) { return arg_stack_room(gcb, sp, n); }

// The pad entry that TARG of the current op names.
inline SV* pp_pad_target(PERLGCB* gcb, OP* op) { return gcb->curpad[op->op_targ]; }

// The target of a binary op: the left operand (the entry below the top) when
// the op is STACKED (the assignment form), else the pad entry at TARG.
inline SV* pp_binary_target(PERLGCB* gcb, OP* op, SV** sp)
{
    return (op->op_flags & OPf_STACKED) ? sp[-1] : gcb->curpad[op->op_targ];
}

// Runs set magic of sv when it carries SMG.
inline void pp_set_magic(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVs_SMG)
        mg_call_set(gcb, sv);
}

// Runs get magic of sv when it carries GMG.
inline void pp_get_magic(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVs_GMG)
        mg_call_get(gcb, sv);
}

// The truth test of the logical and conditional ops: a missing value is
// false; a string is false when empty or exactly "0"; else an integer or a
// double is false when zero; else the value layer decides.
inline bool pp_truth(PERLGCB* gcb, SV* sv)
{
    if (!sv)
        return false;
    uint32_t f = sv->flags;
    if (f & SVf_POK) {
        uint64_t cur = sv_cur(sv);
        return cur > 1 || (cur == 1 && sv_pv(sv)[0] != '0');
    }
    if (f & SVf_IOK)
        return sv_iv(sv) != 0;
    if (f & SVf_NOK)
        return sv_nv(sv) != 0.0;
    return sv_is_true(gcb, sv);
}

// The double of an operand: the NOK double directly, else the conversion.
inline double pp_double(PERLGCB* gcb, SV* sv)
{
    return (sv->flags & SVf_NOK) ? sv_nv(sv) : sv_to_double(gcb, sv);
}

// The immortal yes or no.
inline SV* pp_bool(PERLGCB* gcb, bool b) { return b ? &gcb->sv_yes : &gcb->sv_no; }

// The calling context an op runs in: its WANT bits when set (1 void, 2
// scalar, 3 list, giving CTX_VOID, CTX_SCALAR and CTX_LIST), else the
// context of the innermost frame (scalar when none is pushed).
inline uint8_t pp_gimme(PERLGCB* gcb, const OP* op)
{
    switch (op->op_flags & OPf_WANT) {
    case OPf_WANT_VOID:
        return CTX_VOID;
    case OPf_WANT_SCALAR:
        return CTX_SCALAR;
    case OPf_WANT_LIST:
        return CTX_LIST;
    default: {
        stack_level* si = gcb->current_level;
        return si->si_cxix >= 0 ? si->si_cxstack[si->si_cxix].blk.gimme : static_cast<uint8_t>(CTX_SCALAR);
    }
    }
}

// ---- context, integer reads and flags shared by the operator, reference,
// aggregate and assignment ops ------------------------------------------------

// The byte hint of the current statement: UTF8 flags count for nothing.
inline bool pp_bytes_hint(PERLGCB* gcb)
{
    return gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES);
}

// List context of a list-or-scalar op: WANT list, or no WANT and the
// nearest sub, eval or format frame wants a list.
inline bool pp_wants_list(PERLGCB* gcb, const OP* op)
{
    uint8_t want = op->op_flags & OPf_WANT;
    return want == OPf_WANT_LIST || (want == 0 && cx_wantarray(gcb) == CTX_LIST);
}

// The context of an op by its WANT bits, else that of the nearest sub, eval
// or format frame (cx_gimme): CTX_VOID, CTX_SCALAR or CTX_LIST.
inline uint8_t pp_context(PERLGCB* gcb, const OP* op)
{
    switch (op->op_flags & OPf_WANT) {
    case OPf_WANT_VOID:
        return CTX_VOID;
    case OPf_WANT_SCALAR:
        return CTX_SCALAR;
    case OPf_WANT_LIST:
        return CTX_LIST;
    default:
        return cx_gimme(gcb);
    }
}

// An lvalue use: MOD, or a possible lvalue-sub return while the nearest sub
// was called as an lvalue sub.
inline bool pp_lvalue_use(PERLGCB* gcb, const OP* op)
{
    return (op->op_flags & OPf_MOD) || ((op->op_private & OPpMAYBE_LVSUB) && cx_lvalue_sub(gcb));
}

// The integer value of an operand: the IV field under IOK, else the conversion.
inline int64_t pp_int(PERLGCB* gcb, SV* sv) { return (sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv); }
// The unsigned value: the IV field read as unsigned under IOK, else the conversion.
inline uint64_t pp_uint(PERLGCB* gcb, SV* sv) { return (sv->flags & SVf_IOK) ? sv_uv(sv) : sv_to_uint(gcb, sv); }

// Makes an undefined value a reference to a new scalar, array or hash by
// kind (OPpDEREF_SV, OPpDEREF_AV, OPpDEREF_HV), after get magic; a read-only
// value is fatal.
void elem_autovivify(PERLGCB* gcb, SV* sv, int32_t kind);

// The end of the dereference overloading loop: while the value is a
// reference to an object whose class overloads, the method of the key
// (AMG_TO_SV, AMG_TO_AV, AMG_TO_HV, AMG_TO_GV) replaces it until it answers
// nothing or the same referent; an answer that is not a reference is fatal.
SV* pp_overload_deref(PERLGCB* gcb, SV* sv, int32_t method);
// The scalar of the default glob *_ ($_).
SV* pp_default_var(PERLGCB* gcb);
// A hash in scalar context: "used/total" buckets when any is used, else 0.
void pp_set_bucket_usage(PERLGCB* gcb, SV* dst, HV* hv);
// A new temporary reference to sv, as the reference constructors make it: a
// deferred element is made real, a borrowing array real, a pad temporary
// copied.
SV* pp_reference_to(PERLGCB* gcb, SV* sv);
