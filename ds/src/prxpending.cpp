// Routines that a later part of the interpreter completes. Each raises the
// internal fault "panic: not built: NAME"; entry-table slots report it to
// the host log and answer their failure.
#include <cstdio>
#include <cstring>

#include "prxbridge.h"
#include "prxlibc.h"
#include "prxmsg.h"

namespace {

// An internal fault outside any jump environment: caught at the module
// boundary.
struct NotBuilt {
    const char* name;
};

template <class R>
R entry_not_built(const char* name, R answer)
{
    host_task* task = host_task_handle(host_current_task());
    char text[128];
    int n = std::snprintf(text, sizeof text, "%%1zpanic: not built: %s%%n", name);
    if (task && n > 0)
        xkPutLines(task, text, n);
    return answer;
}

}  // namespace

void panic_not_built(const char* name)
{
    PERLGCB* gcb = interp_of_current_task();
    if (gcb) {
        char text[128];
        int n = std::snprintf(text, sizeof text, "panic: not built: %s\n", name);
        prx_stderr_write(gcb, text, static_cast<size_t>(n));
        if (gcb->top_env && gcb->top_env->prev)
            jump_to(gcb, gcb->top_env, 2);
        if (head_env(gcb)->must_catch)
            jump_to(gcb, head_env(gcb), -1);
    }
    throw NotBuilt{name};
}

#define NOT_BUILT(name) panic_not_built(#name)

// ---- values: arenas, body free lists, numbers, formatting -------------------
void sv_release(PERLGCB*, SV*) { NOT_BUILT(sv_release); }
void errsv_set_empty(PERLGCB*) { NOT_BUILT(errsv_set_empty); }

// ---- messages, fatal errors and warnings ------------------------------------
const char* vformat_message(PERLGCB*, const char*, va_list*) { NOT_BUILT(vformat_message); }

// ---- run loop, stacks and scopes --------------------------------------------
void stack_unwind_for_exit(PERLGCB*) { NOT_BUILT(stack_unwind_for_exit); }

// ---- string search, Unicode classes, UNIVERSAL, process support -------------

// ---- aggregates, symbol tables, overloading and magic -----------------------
PrxStream io_output_stream_of(PERLGCB*, GV*) { NOT_BUILT(io_output_stream_of); }

// ---- pattern engine ---------------------------------------------------------

// ---- source front end -------------------------------------------------------

// ---- op tree and run-time ops -----------------------------------------------

// ---- bridge and interpreter life --------------------------------------------

// ---- entry-table slots ------------------------------------------------------
extern "C" {
PERLGCB* rexhost_interp_create(host_task*) { return entry_not_built<PERLGCB*>("rexhost_interp_create", nullptr); }
void rexhost_interp_destroy(PERLGCB*, host_task*) { entry_not_built<int>("rexhost_interp_destroy", 0); }
uint32_t rexhost_parse(PERLGCB*, host_task*, const char*, const char*, re_compiled**, ReplaceNode**)
{
    return entry_not_built<uint32_t>("rexhost_parse", ST_NOT_COMPILED);
}
void rexhost_regfree(PERLGCB*, host_task*, re_compiled*, ReplaceNode*) { entry_not_built<int>("rexhost_regfree", 0); }
uint32_t rexhost_match(PERLGCB*, host_task*, re_compiled*, const char*, const char*, const char*, int32_t, uint32_t)
{
    return entry_not_built<uint32_t>("rexhost_match", ST_MISSING_ARG);
}
int32_t rexhost_expand(ReplaceNode*, re_compiled*, char*, int32_t, const char*, int32_t*)
{
    return entry_not_built<int32_t>("rexhost_expand", 0);
}
uint32_t rexhost_set_option(PERLGCB*, int32_t) { return entry_not_built<uint32_t>("rexhost_set_option", 0); }
uint32_t rexhost_compile(PrxCompiled*, host_task*, const char*, int32_t, const char*, int32_t)
{
    return entry_not_built<uint32_t>("rexhost_compile", ST_NOT_COMPILED);
}
void rexhost_release(host_task*, PrxCompiled*) { entry_not_built<int>("rexhost_release", 0); }
PERLGCB* rexhost_interp_create_here() { return entry_not_built<PERLGCB*>("rexhost_interp_create_here", nullptr); }
void rexhost_interp_free(PERLGCB*) { entry_not_built<int>("rexhost_interp_free", 0); }
const char* rexhost_eval_text(PERLGCB*, const char*, int32_t) { return entry_not_built<const char*>("rexhost_eval_text", nullptr); }
int32_t rexhost_get_sv_text(PERLGCB*, const char*, const char**, int64_t*) { return entry_not_built<int32_t>("rexhost_get_sv_text", 0); }
int32_t rexhost_get_sv_number(PERLGCB*, const char*, double*) { return entry_not_built<int32_t>("rexhost_get_sv_number", 0); }
int32_t rexhost_call(PERLGCB*, const char*) { return entry_not_built<int32_t>("rexhost_call", 0); }
}
