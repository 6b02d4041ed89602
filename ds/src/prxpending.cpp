// Routines that a later part of the interpreter completes. Each raises the
// internal fault "panic: not built: NAME"; entry-table slots report it to
// the host log and answer their failure.
#include <cstdio>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxop.h"

namespace {
// Set while a not-built panic runs through fatal_error; a second one met on
// that path (a callee of the error path itself not built) takes the plain
// way. Every long jump ends the first one's extent.
constinit thread_local int32_t not_built_active = 0;
}  // namespace

void panic_not_built_end() { not_built_active = 0; }

void panic_not_built(const char* name)
{
    PERLGCB* gcb = interp_of_current_task();
    if (gcb) {
        bool can_land = (gcb->top_env && gcb->top_env->prev) || head_env(gcb)->must_catch;
        if (can_land && !not_built_active) {
            not_built_active = 1;
            fatal_error(gcb, "panic: not built: %s", name);
        }
        char text[128];
        int n = std::snprintf(text, sizeof text, "panic: not built: %s\n", name);
        prx_fwrite(text, 1, static_cast<uint32_t>(n), PRX_STDERR);
        if (gcb->top_env && gcb->top_env->prev)
            jump_to(gcb, gcb->top_env, 2);
        if (head_env(gcb)->must_catch)
            jump_to(gcb, head_env(gcb), -1);
    }
    // No environment can take the fault: a jump aimed at none passes every
    // jump_run and ends at the module boundary, whose catch-all answers the
    // entry's failure.
    jump_to(gcb, nullptr, -1);
}

#define NOT_BUILT(name) panic_not_built(#name)

// A routine declared in its family header whose body is still to come gets
// one here: `T name(...) { NOT_BUILT(name); }`.

// ---- op tree and run-time ops -----------------------------------------------
// Every run-time function and check routine whose row is marked P.
#define PRX_PENDING_RUN_P(fn) \
    OP* fn(PERLGCB*) { NOT_BUILT(fn); }
#define PRX_PENDING_RUN_S(fn)
#define PRX_PENDING_RUN_B(fn)
#define PRX_PENDING_CHECK_P(fn) \
    OP* fn(PERLGCB*, OP*) { NOT_BUILT(fn); }
#define PRX_PENDING_CHECK_S(fn)
#define PRX_PENDING_CHECK_B(fn)
#define PRX_OP(e, name, desc, pp, ppmark, ck, ckmark, args) PRX_PENDING_RUN_##ppmark(pp) PRX_PENDING_CHECK_##ckmark(ck)
#include "prxop.def"
#undef PRX_OP
