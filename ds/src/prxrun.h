// The run loop and the interpreter's stacks: the stack-level record, the
// temporaries, argument, mark and scope stacks and their growth.
#pragma once

#include "prx.h"

struct cx_frame;

// One stack level: an argument stack and a context stack.
struct stack_level {
    AV* si_stack;             // argument-stack array, not REAL; element 0 the undefined value
    cx_frame* si_cxstack;     // context frames
    int32_t si_cxix;          // current frame index, -1 when none
    int32_t si_cxmax;         // highest allocated frame index
    int32_t si_type;          // 0 new, 1 main; kind code of the code that opened it
    stack_level* si_prev;     // level below
    stack_level* si_next;     // level above (kept for reuse)
    int32_t si_markoff;       // mark-stack offset
};

// Kinds of further stack levels.
enum : int32_t {
    SI_MAIN = 1,
    SI_MAGIC = 2,
    SI_SORT = 3,
    SI_SIGNAL = 4,
    SI_OVERLOAD = 5,
    SI_DESTROY = 6,
    SI_WARNHOOK = 7,
    SI_DIEHOOK = 8,
};

stack_level* stack_level_new(PERLGCB* gcb, int32_t items, int32_t frames);
SV** arg_stack_extend(PERLGCB* gcb, SV** sp, SV** p, int32_t n);
void mark_stack_extend(PERLGCB* gcb);
SV** tmps_stack_extend(PERLGCB* gcb, int32_t n);
void tmps_free_to_floor(PERLGCB* gcb);
void scope_enter(PERLGCB* gcb);
void scope_leave(PERLGCB* gcb);

// Unwinds the context stack to the innermost eval and returns the op the run
// loop resumes at; outside any eval it writes the message and exits.
OP* die_return_to_eval(PERLGCB* gcb, const char* message, uint64_t length);

// Switches to the next stack level (made with 32 items and 13 frames the
// first time, then reused), giving it the kind and an empty argument stack
// and context stack.
void stack_level_push(PERLGCB* gcb, int32_t kind);
// Switches back to the previous level; with none, "panic: POPSTACK\n" and an
// exit with status 1.
void stack_level_pop(PERLGCB* gcb);

// Makes room for n more items above sp; returns the stack pointer to use.
inline SV** arg_stack_room(PERLGCB* gcb, SV** sp, int32_t n)
{
    if (gcb->stack_max - sp < n)
        sp = arg_stack_extend(gcb, sp, sp, n);
    return sp;
}

// Pushes a mark at sp.
inline void push_mark(PERLGCB* gcb, SV** sp)
{
    if (++gcb->markstack_ptr == gcb->markstack_max)
        mark_stack_extend(gcb);
    *gcb->markstack_ptr = static_cast<int32_t>(sp - gcb->stack_base);
}
