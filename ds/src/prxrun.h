// The run loop and the interpreter's stacks: argument, mark, scope,
// temporaries, return and context stacks, and the stack levels that own an
// argument stack and a context stack each.
#pragma once

#include "prx.h"

// Level kinds.
enum : int32_t {
    SI_UNDEF = 0,         // as created
    SI_MAIN = 1,          // the main level
    SI_MAGIC = 2,         // magic methods and other nested runs
};

// Stores sp, grows the current argument-stack array so that its highest
// index is (p - base) + n + 128, and returns the (moved) stack pointer.
SV** arg_stack_extend(PERLGCB* gcb, SV** sp, SV** p, int32_t n);
// Called when a pushed mark reached the limit.
void mark_stack_extend(PERLGCB* gcb);
// Releases every temporary above the floor.
void tmps_free_to_floor(PERLGCB* gcb);

// Switches to the next stack level (made with 32 items and 13 frames the
// first time, then reused), giving it the kind and an empty argument stack
// and context stack.
void stack_level_push(PERLGCB* gcb, int32_t kind);
// Switches back to the previous level; with none, "panic: POPSTACK\n" and an
// exit with status 1.
void stack_level_pop(PERLGCB* gcb);

// ---- inline pushes that test room in place ----------------------------------

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
