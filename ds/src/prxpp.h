// Helpers every run-time op shares: reading and writing the argument stack,
// targets, the truth test and the result placement of the op contract. The
// op families (prxpp*.cpp) include this header; each adds the helpers of its
// own beside it only when another family needs them too.
#pragma once

#include "prxcall.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxrun.h"
#include "prxscope.h"
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

// The calling context of an op that reaches past blocks: its WANT bits when
// set, else the context of the nearest sub, eval or format frame (void when
// there is none; cx_gimme): CTX_VOID, CTX_SCALAR or CTX_LIST.
uint8_t cx_gimme(PERLGCB* gcb);
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

// ---- context frames ----------------------------------------------------------

// The nearest sub, eval or format frame's context with void read as scalar:
// 1 for list, else 0 (0 when there is none).
uint8_t cx_wantarray(PERLGCB* gcb);
// The lvalue byte of the nearest sub, eval or format frame when its code
// value is an lvalue sub, else 0.
uint8_t cx_lvalue_sub(PERLGCB* gcb);
// The index of the nearest sub, eval or format frame at or below start, or -1.
int32_t cx_find_sub_eval_format(PERLGCB* gcb, int32_t start);
// The index of the nearest loop frame at or below start, or -1; the label
// search from the top frame. Both warn when they pass a sub, eval,
// substitution or format frame, and stop at a pseudo-block.
int32_t cx_find_loop(PERLGCB* gcb, int32_t start);
int32_t cx_find_label(PERLGCB* gcb, const char* label);

// Pushes a frame of the type on the current level, filling the common part
// from the interpreter (sp is the argument-stack height to keep). The frame
// pointer is valid until the next push.
inline cx_frame* cx_push_block(PERLGCB* gcb, uint32_t type, SV** sp, uint8_t gimme)
{
    int32_t ix = cx_next_index(gcb);
    stack_level* si = gcb->current_level;
    si->si_cxix = ix;
    cx_frame* cx = &si->si_cxstack[ix];
    cx->type = type;
    cx->blk.oldsp = static_cast<int32_t>(sp - gcb->arg_base);
    cx->blk.oldcop = gcb->current_statement;
    cx->blk.oldretsp = gcb->return_ix;
    cx->blk.oldmarksp = static_cast<int32_t>(gcb->mark_sp - gcb->mark_stack);
    cx->blk.oldscopesp = gcb->scope_ix;
    cx->blk.oldpm = gcb->last_match_op;
    cx->blk.gimme = gimme;
    return cx;
}

// Pops the top frame, restoring the current statement, the mark height, the
// scope index and the return height; the caller takes the stack height and
// the pattern. The frame stays readable until the next push.
inline cx_frame* cx_pop_block(PERLGCB* gcb)
{
    stack_level* si = gcb->current_level;
    cx_frame* cx = &si->si_cxstack[si->si_cxix--];
    gcb->current_statement = cx->blk.oldcop;
    gcb->mark_sp = gcb->mark_stack + cx->blk.oldmarksp;
    gcb->scope_ix = cx->blk.oldscopesp;
    gcb->return_ix = cx->blk.oldretsp;
    return cx;
}

// The eval part of a frame just pushed: the in-eval state, the eval root and
// the lexer's line are saved; namesv (a require's file name) is owned by the
// frame.
inline void cx_push_eval(PERLGCB* gcb, cx_frame* cx, int32_t op_type, SV* namesv)
{
    cx->eval.old_in_eval = gcb->in_eval;
    cx->eval.old_op_type = op_type;
    cx->eval.old_namesv = namesv;
    cx->eval.old_eval_root = gcb->eval_root;
    cx->eval.cur_text = gcb->line_buffer;
}

// Undoes the eval part of a popped frame; the name value becomes temporary.
inline void cx_pop_eval(PERLGCB* gcb, cx_frame* cx)
{
    gcb->in_eval = cx->eval.old_in_eval;
    gcb->eval_root = cx->eval.old_eval_root;
    if (cx->eval.old_namesv)
        sv_make_temporary(gcb, cx->eval.old_namesv);
}

// Undoes the sub part of a sub frame (already popped or about to be): the
// caller's @_ comes back, the argument array is emptied or replaced, the
// depth is restored and the code value released when it reaches 0.
void cx_pop_sub(PERLGCB* gcb, cx_frame* cx);
// Undoes the loop part of a loop frame: the iteration lvalue and the source
// are released and the loop variable gets its saved value back.
void cx_pop_loop(PERLGCB* gcb, cx_frame* cx);

// A temporary copy of a value that leaves the value intact: a temporary
// source keeps its buffer instead of handing it over.
inline SV* pp_temp_copy(PERLGCB* gcb, SV* sv)
{
    uint32_t temp = sv->flags & SVs_TEMP;
    sv->flags &= ~SVs_TEMP;
    SV* copy = sv_new_temporary_copy(gcb, sv);
    sv->flags |= temp;
    return copy;
}

// Opens a scope and makes the temporaries above the current index belong to
// it: the floor is saved (restored when the scope closes) and raised.
inline void pp_scope_with_temps(PERLGCB* gcb)
{
    scope_enter(gcb);
    save_push_int(gcb, &gcb->temps_floor);
    gcb->temps_floor = gcb->temps_ix;
}

// Leaves the results of a block, loop or eval of the given context between
// newsp (exclusive) and sp at newsp + 1 and up; a value that carries none of
// the keep flags (SVs_TEMP, SVs_PADTMP; 0 copies every value) becomes a
// temporary copy. Scalar context keeps the last value, or the undefined value
// when there is none; void keeps nothing. Returns the new stack top.
SV** pp_leave_results(PERLGCB* gcb, SV** newsp, SV** sp, uint8_t gimme, uint32_t keep);

// ---- evals ----------------------------------------------------------------------

// Compiles the current lexer text as an eval body in the eval frame on top
// (string eval, require): returns the body's first op, or after a failed
// compile the op to go on with (undef pushed). With start_out the root is
// stored there and the frame stays for the caller.
OP* eval_compile(PERLGCB* gcb, uint8_t gimme, OP** start_out);
// Runs the run loop from o under a jump environment of its own, resuming at
// the restart op after each die caught by an eval on this stack level;
// other jumps pass outward. Returns none.
OP* eval_catch(PERLGCB* gcb, OP* o);

// ---- capture state of a substitution -------------------------------------------

// Saves a pattern's capture state into the array at *place (pool words,
// made or grown here); the pattern's own subject copy moves into it.
void re_offsets_save(PERLGCB* gcb, void** place, re_compiled* rx);
// Puts a saved capture state back into the pattern, which owns the saved
// subject copy again.
void re_offsets_restore(PERLGCB* gcb, void** place, re_compiled* rx);

// ---- integer reads, context tests and helpers shared by the operator,
// reference, aggregate and assignment ops ------------------------------------

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

// ---- subroutines ---------------------------------------------------------------

// Warns of a call reaching depth 100 of the sub (category 17).
void sub_deep_recursion_warn(PERLGCB* gcb, CV* cv);
// Searches the tree for the statement labelled label (blank-padded
// compare); the entry list from ops up to limit receives the blocks and
// statements crossed on the way, ended by an empty slot.
OP* goto_find_label(PERLGCB* gcb, OP* o, const char* label, uint64_t len, OP** ops, OP** limit);

// ---- sort -------------------------------------------------------------------------

// A comparison of two values for sort: negative, zero or positive.
typedef int32_t (*sort_comparator)(PERLGCB* gcb, SV* a, SV* b);
// Sorts count values in place; equal neighbours of a small partition keep
// their order, the sort as a whole is not stable.
void sort_quicksort_values(PERLGCB* gcb, SV** values, int32_t count, sort_comparator cmp);
// Comparators that run the sort's comparison code (sort_op): with $a and $b,
// with @_ (a "$$" sub), and a native sub.
int32_t sort_call_sub(PERLGCB* gcb, SV* a, SV* b);
int32_t sort_call_sub_args(PERLGCB* gcb, SV* a, SV* b);
int32_t sort_call_xsub(PERLGCB* gcb, SV* a, SV* b);
// The built-in orders, without and with overloading.
int32_t sort_ncmp(PERLGCB* gcb, SV* a, SV* b);
int32_t sort_i_ncmp(PERLGCB* gcb, SV* a, SV* b);
int32_t sort_ncmp_ovl(PERLGCB* gcb, SV* a, SV* b);
int32_t sort_i_ncmp_ovl(PERLGCB* gcb, SV* a, SV* b);
int32_t sort_scmp_ovl(PERLGCB* gcb, SV* a, SV* b);

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
// ---- file tests ------------------------------------------------------------------

// The -T/-B judgement of the first bytes of a file: text when at most a
// third of the bytes are odd (control bytes other than the usual white
// space, bytes of 0x80 and above outside whole UTF-8 sequences); a NUL byte
// makes every byte odd.
bool pp_looks_like_text(const uint8_t* s, int32_t len);

// ---- require, do FILE and compiled code texts --------------------------------------

// The source filter of a file an @INC hook supplied: the hook's stream (when
// it gave one) and then its filter sub produce the text. > 0 text was
// appended to buf, 0 the end, < 0 an error.
int32_t filter_run_sub(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen);
// Compiles text as a code block of the pattern compiler, in scalar context,
// under the file name "(CODE_eval N)" (code cut to 10 bytes). *start_out
// receives the compiled root, made a null op; *pad_out the compiled pad,
// with a reference added. Returns the first op to run. A failed compile
// dies with "Compilation failed in regexp".
OP* eval_compile_code(PERLGCB* gcb, SV* text, OP** start_out, const char* code, AV** pad_out);

// ---- arrays -------------------------------------------------------------------------

// Pushes the elements of av in place of sp's slot and returns the new top:
// fetched one by one when av has magic of the kinds in fetch_magic, else
// copied as they stand (a hole as the immortal undef).
SV** pp_push_elements(PERLGCB* gcb, SV** sp, AV* av, uint32_t fetch_magic);

// ---- handles and method calls ---------------------------------------------------

// The call flags that run a method in the context ctx: CALL_LIST for list,
// CALL_VOID for void, none for scalar.
inline int32_t pp_call_flags(uint8_t ctx) { return ctx == CTX_LIST ? CALL_LIST : ctx == CTX_VOID ? CALL_VOID : 0; }

// Pushes sv above sp and stores the new top; returns it (the slot of sv).
inline SV** pp_push_one(PERLGCB* gcb, SV** sp, SV* sv)
{
    sp = pp_extend(gcb, sp, 1);
    *++sp = sv;
    pp_put_sp(gcb, sp);
    return sp;
}

// ---- overload steps of the operators -------------------------------------------

// The overload step of a binary op on the two operands at sp: true when a
// method answered, the answer then standing in place of both operands and
// the top stored. With a target (null for the ops that yield the answer as
// it is) the assignment form calls the method as an assignment, and the
// target receives the answer and replaces it when the op is STACKED or the
// target is a lexical.
// The test for an overloaded operand is inline: the arithmetic and string
// ops run it on every call, and it almost always says no.
bool pp_binary_overload_call(PERLGCB* gcb, OP* op, SV** sp, int32_t method, SV* targ);
inline bool pp_binary_overload(PERLGCB* gcb, OP* op, SV** sp, int32_t method, SV* targ)
{
    if (!gcb->overload_generation || !((sp[-1]->flags | sp[0]->flags) & SVf_OVERLOAD))
        return false;
    return pp_binary_overload_call(gcb, op, sp, method, targ);
}
// The overload step of a unary op on the operand at sp, with the target
// as the binary step treats it.
bool pp_unary_overload_call(PERLGCB* gcb, OP* op, SV** sp, int32_t method, SV* targ);
inline bool pp_unary_overload(PERLGCB* gcb, OP* op, SV** sp, int32_t method, SV* targ)
{
    if (!gcb->overload_generation || !((*sp)->flags & SVf_OVERLOAD))
        return false;
    return pp_unary_overload_call(gcb, op, sp, method, targ);
}

// ---- frames left in place ---------------------------------------------------------

// Puts back the argument-stack, mark, scope and return heights and the last
// match that the frame cx saved when it was pushed; the frame itself stays
// on the context stack and the current statement is not touched.
inline void cx_restore_heights(PERLGCB* gcb, const cx_frame* cx)
{
    gcb->arg_sp = gcb->arg_base + cx->blk.oldsp;
    gcb->mark_sp = gcb->mark_stack + cx->blk.oldmarksp;
    gcb->scope_ix = cx->blk.oldscopesp;
    gcb->return_ix = cx->blk.oldretsp;
    gcb->last_match_op = cx->blk.oldpm;
}

// ---- the ARGV walk ----------------------------------------------------------------

// Starts the walk of the ARGV handle gv (it has an I/O body) over an empty
// @ARGV: the start flag goes, standard input is opened as "-" and $ARGV
// becomes "-".
void pp_argv_open_stdin(PERLGCB* gcb, GV* gv);
// Warns (category io) that the handle, a glob or anything else, was opened
// only for output, naming it when it is a glob with a name.
void pp_warn_output_only(PERLGCB* gcb, SV* handle);

// ---- pack -------------------------------------------------------------------------

// Frees the table of the string addresses pack's "p" and "P" handed out;
// the interpreter's destruction calls it.
void pp_pack_free_addresses(PERLGCB* gcb);
