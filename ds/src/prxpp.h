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

// Character semantics for a value: it is UTF-8 text and the current
// statement does not carry the bytes hint.
inline bool pp_utf8_mode(PERLGCB* gcb, const SV* sv)
{
    return (sv->flags & SVf_UTF8) &&
           !(gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES));
}

// The array base of the current statement.
inline int32_t pp_array_base(PERLGCB* gcb) { return gcb->current_statement ? gcb->current_statement->cop_arybase : 0; }

// Compiles a format picture in place: the code program goes behind its text,
// and the picture gets 'f' magic and the compiled flag.
void form_parse(PERLGCB* gcb, SV* picture);
