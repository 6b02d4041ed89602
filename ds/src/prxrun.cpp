// The run loop, the growth of the argument, mark, temporaries, return and
// context stacks, stack levels, and the unwinding an exit does before its
// jump.
#include "prxrun.h"

#include "prxav.h"
#include "prxlibc.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxscope.h"
#include "prxsv.h"

int32_t run_op_loop(PERLGCB* gcb)
{
    // Native code that runs interpreter code (sort comparators, ties,
    // overloading, destructors, magic, hooks) nests run loops on the native
    // stack: a nesting that input controls ends here with a trappable die.
    stack_check(gcb);
    // The first op runs without a test: a run always starts at an op.
    gcb->op = gcb->op->op_ppaddr(gcb);
    while (gcb->op)
        gcb->op = gcb->op->op_ppaddr(gcb);
    gcb->tainted = 0;
    return 0;
}

SV** arg_stack_extend(PERLGCB* gcb, SV** sp, SV** p, int32_t n)
{
    gcb->arg_sp = sp;
    int32_t highest = static_cast<int32_t>(p - gcb->arg_base) + n + 128;
    // The array's growth moves base, pointer and limit with the storage.
    av_grow_to_index(gcb, gcb->current_arg_stack, highest);
    return gcb->arg_sp;
}

stack_level* stack_level_new(PERLGCB* gcb, int32_t items, int32_t frames)
{
    stack_level* si = static_cast<stack_level*>(pool_malloc(gcb, sizeof(stack_level)));
    AV* av = av_new_empty(gcb);
    PVAV* body = av_body(av);
    body->avflags &= static_cast<uint8_t>(~AVf_REAL);
    av_grow_to_index(gcb, av, items > 0 ? items - 1 : 0);
    body = av_body(av);
    body->alloc[0] = &gcb->sv_undef;
    body->fill = 0;
    si->si_stack = av;
    si->si_cxstack = static_cast<cx_frame*>(pool_malloc(gcb, static_cast<uint64_t>(frames) * sizeof(cx_frame)));
    si->si_cxix = -1;
    si->si_cxmax = frames - 1;
    si->si_type = SI_UNDEF;
    si->si_prev = nullptr;
    si->si_next = nullptr;
    si->si_markoff = 0;
    return si;
}

int32_t cx_stack_extend(PERLGCB* gcb)
{
    stack_level* si = gcb->current_level;
    int32_t highest = si->si_cxmax * 3 / 2;
    si->si_cxstack = static_cast<cx_frame*>(
        pool_realloc(gcb, si->si_cxstack, static_cast<uint64_t>(highest + 1) * sizeof(cx_frame)));
    si->si_cxmax = highest;
    return si->si_cxix + 1;
}

void return_stack_push(PERLGCB* gcb, OP* op)
{
    if (gcb->return_ix == gcb->return_max) {
        int32_t cap = gcb->return_max * 3 / 2;
        gcb->return_stack = static_cast<OP**>(pool_realloc(gcb, gcb->return_stack, static_cast<uint64_t>(cap) * sizeof(OP*)));
        gcb->return_max = cap;
    }
    gcb->return_stack[gcb->return_ix++] = op;
}

OP* return_stack_pop(PERLGCB* gcb)
{
    if (gcb->return_ix <= 0)
        return nullptr;
    return gcb->return_stack[--gcb->return_ix];
}

void mark_stack_extend(PERLGCB* gcb)
{
    int32_t old_cap = static_cast<int32_t>(gcb->mark_max - gcb->mark_stack);
    int32_t cap = old_cap * 3 / 2;
    gcb->mark_stack =
        static_cast<int32_t*>(pool_realloc(gcb, gcb->mark_stack, static_cast<uint64_t>(cap) * sizeof(int32_t)));
    gcb->mark_sp = gcb->mark_stack + old_cap;
    gcb->mark_max = gcb->mark_stack + cap;
}

SV** tmps_stack_extend(PERLGCB* gcb, int32_t n)
{
    if (n < 128)
        n = gcb->temps_max < 512 ? 128 : 512;
    int32_t cap = gcb->temps_ix + n + 1;
    // A statement may make millions of temporaries: past a few thousand the
    // stack grows by half, so that its copies stay linear in their number.
    int64_t grown = static_cast<int64_t>(gcb->temps_max) + gcb->temps_max / 2;
    if (cap > gcb->temps_max && cap < grown)
        cap = grown > INT32_MAX ? INT32_MAX : static_cast<int32_t>(grown);
    gcb->temps = static_cast<SV**>(pool_realloc(gcb, gcb->temps, static_cast<uint64_t>(cap) * sizeof(SV*)));
    gcb->temps_max = cap;
    return gcb->temps;
}

void tmps_free_to_floor(PERLGCB* gcb)
{
    // The index is re-read after each release: a destructor may push or free
    // temporaries of its own.
    while (gcb->temps_ix > gcb->temps_floor) {
        SV* sv = gcb->temps[gcb->temps_ix];
        gcb->temps[gcb->temps_ix--] = nullptr;
        if (sv) {
            sv->flags &= ~SVs_TEMP;
            sv_release(gcb, sv);
        }
    }
}

namespace {

// Makes level si current: its array becomes the argument stack, with the
// stack pointer at the array's fill. The outgoing array keeps its fill.
void switch_to_level(PERLGCB* gcb, stack_level* si)
{
    av_body(gcb->current_arg_stack)->fill = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
    PVAV* body = av_body(si->si_stack);
    gcb->arg_base = body->array;
    gcb->arg_max = body->array + body->max;
    gcb->arg_sp = body->array + body->fill;
    gcb->current_arg_stack = si->si_stack;
    gcb->current_level = si;
}

// "panic: POPSTACK\n" to standard error.
void write_popstack_panic(PERLGCB* gcb)
{
    static const char text[] = "panic: POPSTACK\n";
    prx_stderr_write(gcb, text, sizeof text - 1);
}

}  // namespace

void stack_level_push(PERLGCB* gcb, int32_t kind)
{
    stack_level* cur = gcb->current_level;
    stack_level* next = cur->si_next;
    if (!next) {
        next = stack_level_new(gcb, 32, 13);
        next->si_prev = cur;
        cur->si_next = next;
    }
    next->si_type = kind;
    next->si_cxix = -1;
    av_body(next->si_stack)->fill = 0;
    switch_to_level(gcb, next);
    next->si_markoff = static_cast<int32_t>(gcb->mark_sp - gcb->mark_stack);
}

void stack_level_pop(PERLGCB* gcb)
{
    stack_level* prev = gcb->current_level->si_prev;
    if (!prev) {
        write_popstack_panic(gcb);
        interp_exit(gcb, 1);
    }
    switch_to_level(gcb, prev);
}

void stack_level_pop_to_mark(PERLGCB* gcb)
{
    int32_t markoff = gcb->current_level->si_markoff;
    stack_level_pop(gcb);
    gcb->mark_sp = gcb->mark_stack + markoff;
}

void stack_unwind_for_exit(PERLGCB* gcb)
{
    gcb->localizing = 0;  // a set method that was under way never returns
    while (gcb->current_arg_stack != gcb->main_arg_stack) {
        if (gcb->current_level->si_cxix >= 0)
            cx_unwind(gcb, -1);
        stack_level* prev = gcb->current_level->si_prev;
        if (!prev) {
            // A chain that does not lead back to the main level cannot be
            // unwound; restarting the exit would meet it again. Report it and
            // let the exit jump from here with status 1.
            write_popstack_panic(gcb);
            gcb->exit_status = 1;
            return;
        }
        switch_to_level(gcb, prev);
    }
    stack_level* si = gcb->current_level;
    if (si->si_cxix < 0)
        return;
    if (si->si_cxix > 0)
        cx_unwind(gcb, 0);
    // Pop frame 0 and restore what it recorded.
    cx_frame* cx = &si->si_cxstack[0];
    si->si_cxix = -1;
    gcb->current_statement = cx->blk.oldcop;
    gcb->mark_sp = gcb->mark_stack + cx->blk.oldmarksp;
    gcb->scope_ix = cx->blk.oldscopesp;
    gcb->return_ix = cx->blk.oldretsp;
    gcb->last_match_op = cx->blk.oldpm;
    scope_leave(gcb);
}
