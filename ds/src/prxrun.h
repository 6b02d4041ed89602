// The run loop and the interpreter's stacks: argument, mark, scope,
// temporaries, return and context stacks, and the stack levels that own an
// argument stack and a context stack each.
#pragma once

#include "prx.h"

// ---- context frames -------------------------------------------------------

// Frame types: the low byte of the type word. Only the low byte takes part
// in type tests; the bits above are flags.
enum : uint32_t {
    CXt_NULL = 0,       // pseudo block (sort with an inline comparison block)
    CXt_SUB = 1,        // subroutine call
    CXt_EVAL = 2,       // eval, require, do FILE
    CXt_LOOP = 3,       // loop
    CXt_SUBST = 4,      // substitution with an evaluated replacement
    CXt_BLOCK = 5,      // bare block
    CXt_FORMAT = 6,     // format call
    CXp_REAL = 0x100,   // eval frame of a string eval
    CXp_TRYBLOCK = 0x200,  // eval frame of a block eval whose errors are caught
};

// Calling contexts of a frame.
enum : uint8_t { CTX_SCALAR = 0, CTX_LIST = 1, CTX_VOID = 128 };

// Block part of every frame but a substitution frame.
struct cx_block {
    int32_t oldsp;        // argument-stack position, as an index from the base
    COP* oldcop;          // statement in force at the push
    int32_t oldretsp;     // return-stack index
    int32_t oldmarksp;    // mark-stack index (entries above the base)
    int32_t oldscopesp;   // scope-stack index
    OP* oldpm;            // last successful pattern op
    uint8_t gimme;        // CTX_SCALAR, CTX_LIST or CTX_VOID
};

// Subroutine frame (type 1) and format frame (type 6).
struct cx_sub {
    CV* cv;               // code value
    GV* gv;               // glob of the format (format frame)
    GV* dfoutgv;          // default output glob saved by a format call; one reference
    AV* savearray;        // saved argument array of the default variable (sub frame)
    AV* argarray;         // argument array of this call (sub frame)
    int32_t olddepth;     // recursion depth before the call
    uint8_t hasargs;      // 0 for a format call
    uint8_t lval;         // the calling op's private bits of an lvalue call
    SV** oldcurpad;       // current pad before the call
};

// Eval frame (type 2).
struct cx_eval {
    int32_t old_in_eval;  // in-eval state before the push
    int32_t old_op_type;  // type of the op that pushed the frame
    SV* old_namesv;       // the file name of require; none for entereval and entertry
    OP* old_eval_root;    // eval root before the push
    SV* cur_text;         // the lexer's line value at the push
};

// Loop frame (type 3).
struct cx_loop {
    char* label;          // the statement's label, or none
    int32_t resetsp;      // argument-stack index of the list start
    OP* redo_op;
    OP* next_op;
    OP* last_op;
    SV** itervar;         // slot of the loop variable, or none
    SV* itersave;         // the slot's previous value; one reference
    SV* iterlval;         // current string of a string range, or none
    AV* iterary;          // array iterated, high bound of a string range, or the argument stack
    int64_t iterix;       // -1 at the push; low bound of a numeric range; list start
    int64_t itermax;      // high bound of a numeric range
};

// Substitution frame (type 4): no block part.
struct cx_subst {
    int32_t iters;        // iterations so far
    int32_t maxiters;
    int32_t rflags;       // match flags
    int32_t oldsave;      // save-stack index at the start
    int32_t once;
    int32_t rxtainted;
    char* orig;           // start of the source string
    SV* dstr;             // value being built; owned by the frame
    SV* targ;             // target value; one reference
    char* s;              // current position
    char* m;              // start of the current match
    char* strend;         // end of the string
    void* rxres;          // saved capture state
    re_compiled* rx;      // the compiled pattern; one reference
};

struct cx_frame {
    uint32_t type;        // CXt_* in the low byte, CXp_* flags above
    cx_block blk;         // not used by a substitution frame
    union {
        cx_sub sub;
        cx_eval eval;
        cx_loop loop;
        cx_subst subst;
    };
};
static_assert(std::is_standard_layout_v<cx_frame> && std::is_trivially_copyable_v<cx_frame>);

inline uint32_t cx_type(const cx_frame* cx) { return cx->type & 0xFF; }

// ---- stack levels -----------------------------------------------------------

// Level kinds: 0 as created, then the kind code of the code that opened it.
enum : int32_t {
    SI_UNDEF = 0,
    SI_MAIN = 1,
    SI_MAGIC = 2,
    SI_SORT = 3,
    SI_SIGNAL = 4,
    SI_OVERLOAD = 5,
    SI_DESTROY = 6,
    SI_WARNHOOK = 7,
    SI_DIEHOOK = 8,
    SI_REQUIRE = 9,
};

struct stack_level {
    AV* si_stack;          // argument-stack array, not REAL; element 0 the undefined value
    cx_frame* si_cxstack;  // context frames, pool memory
    int32_t si_cxix;       // current frame index, -1 when none is pushed
    int32_t si_cxmax;      // highest allocated frame index
    int32_t si_type;       // SI_*, or the opener's own kind code
    stack_level* si_prev;  // level below; none for the main level
    stack_level* si_next;  // level above, kept for reuse; none when never opened
    int32_t si_markoff;    // mark-stack offset when the level was entered
};
static_assert(std::is_standard_layout_v<stack_level> && std::is_trivially_copyable_v<stack_level>);

// ---- the run loop and growth routines ----------------------------------------

// Runs ops from the current op until an op function returns none; clears the
// taint flag and returns 0.
int32_t run_op_loop(PERLGCB* gcb);

// Stores sp, grows the current argument-stack array so that its highest
// index is (p - base) + n + 128, and returns the (moved) stack pointer.
SV** arg_stack_extend(PERLGCB* gcb, SV** sp, SV** p, int32_t n);
// A new level: an argument-stack array holding element 0 (the undefined
// value) with room for items, and room for frames context frames.
stack_level* stack_level_new(PERLGCB* gcb, int32_t items, int32_t frames);
// Grows the current level's context stack by half; returns the next index.
int32_t cx_stack_extend(PERLGCB* gcb);
void return_stack_push(PERLGCB* gcb, OP* op);
// The top op, or none when the stack is empty.
OP* return_stack_pop(PERLGCB* gcb);
// Called when a pushed mark reached the limit.
void mark_stack_extend(PERLGCB* gcb);
// Opens a scope (pushes the save-stack index); closes the innermost one,
// unwinding the save stack to its index (prxscope.cpp).
void scope_enter(PERLGCB* gcb);
void scope_leave(PERLGCB* gcb);
// Room for n more temporaries; returns the (moved) array.
SV** tmps_stack_extend(PERLGCB* gcb, int32_t n);
// Releases every temporary above the floor.
void tmps_free_to_floor(PERLGCB* gcb);

// Switches to the next stack level (made with 32 items and 13 frames the
// first time, then reused), giving it the kind and an empty argument stack
// and context stack.
void stack_level_push(PERLGCB* gcb, int32_t kind);
// Switches back to the previous level; with none, "panic: POPSTACK\n" and an
// exit with status 1.
void stack_level_pop(PERLGCB* gcb);
// stack_level_pop, then the mark stack back where it stood when the level
// was entered.
void stack_level_pop_to_mark(PERLGCB* gcb);

// Pops every context frame above index (the run-time ops' unwinding).
void cx_unwind(PERLGCB* gcb, int32_t index);
// Takes the code value of the sub frame cx one recursion level deeper: the
// frame keeps the depth before the call (cx_pop_sub puts it back), the
// first level takes a reference on the code value (dropped when the depth
// returns to 0), and with own_pad a deeper level gets its pad. Dies, with
// the frame complete, when the depth cannot grow. Returns the new depth.
int32_t cx_sub_enter_depth(PERLGCB* gcb, cx_frame* cx, CV* cv, bool own_pad);
// Lets go of what a popped substitution frame holds: the value being built
// (unless the target took it over), its references on the target and the
// pattern, and the saved capture state with its subject copy.
void cx_pop_subst(PERLGCB* gcb, cx_frame* cx);
// Unwinds the context stack to the innermost eval and returns the op the run
// loop resumes at; outside any eval it writes the message and exits.
OP* die_return_to_eval(PERLGCB* gcb, const char* message, uint64_t length);

// ---- inline pushes that test room in place ----------------------------------

// Makes room for n more items above sp; returns the stack pointer to use.
inline SV** arg_stack_room(PERLGCB* gcb, SV** sp, int32_t n)
{
    if (gcb->arg_max - sp < n)
        sp = arg_stack_extend(gcb, sp, sp, n);
    return sp;
}

// Pushes a mark at sp.
inline void push_mark(PERLGCB* gcb, SV** sp)
{
    if (++gcb->mark_sp == gcb->mark_max)
        mark_stack_extend(gcb);
    *gcb->mark_sp = static_cast<int32_t>(sp - gcb->arg_base);
}

inline int32_t pop_mark(PERLGCB* gcb) { return *gcb->mark_sp--; }
inline int32_t top_mark(PERLGCB* gcb) { return *gcb->mark_sp; }

// Takes over one reference of sv as a temporary.
inline void tmps_push(PERLGCB* gcb, SV* sv)
{
    if (gcb->temps_ix >= gcb->temps_max - 1)
        tmps_stack_extend(gcb, 1);
    gcb->temps[++gcb->temps_ix] = sv;
}

// Takes one more reference on each of the n values at items for the
// temporaries stack. The argument stack holds no references: an op that
// runs code while its operands wait there (sort, foreach over a list, grep,
// map) holds them so, to the end of the statement, since the code may drop
// their owners' references.
inline void tmps_hold(PERLGCB* gcb, SV** items, int32_t n)
{
    if (n <= 0)
        return;
    if (gcb->temps_ix + n >= gcb->temps_max)
        tmps_stack_extend(gcb, n);
    for (int32_t i = 0; i < n; i++) {
        SV* sv = items[i];
        if (sv) {
            sv->refcnt++;
            gcb->temps[++gcb->temps_ix] = sv;
        }
    }
}

// The next frame index of the current level, growing its context stack when
// full; the caller stores it as the current index and fills the frame.
inline int32_t cx_next_index(PERLGCB* gcb)
{
    stack_level* si = gcb->current_level;
    return si->si_cxix < si->si_cxmax ? si->si_cxix + 1 : cx_stack_extend(gcb);
}

inline cx_frame* cx_current(PERLGCB* gcb)
{
    stack_level* si = gcb->current_level;
    return &si->si_cxstack[si->si_cxix];
}

// ---- built-in subroutines -----------------------------------------------------
//
// A built-in reads its arguments between the top mark and the stack pointer
// and leaves its results at the mark.

struct xs_frame {
    int32_t ax;           // argument-stack index of the first argument
    int32_t items;        // number of arguments
};

// Pops the top mark and describes the arguments above it.
inline xs_frame xs_begin(PERLGCB* gcb)
{
    int32_t mark = pop_mark(gcb);
    return xs_frame{mark + 1, static_cast<int32_t>(gcb->arg_sp - gcb->arg_base) - mark};
}
// Argument (and result slot) i; the base is re-read since the stack moves.
inline SV*& xs_arg(PERLGCB* gcb, const xs_frame& f, int32_t i) { return gcb->arg_base[f.ax + i]; }
// Leaves n results at the mark.
inline void xs_return(PERLGCB* gcb, const xs_frame& f, int32_t n) { gcb->arg_sp = gcb->arg_base + f.ax + n - 1; }
