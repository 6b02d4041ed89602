// Routines that a later part of the interpreter completes. Each raises the
// internal fault "panic: not built: NAME"; entry-table slots report it to
// the host log and answer their failure.
#include <cstdio>
#include <cstring>

#include "prxbridge.h"
#include "prxlibc.h"
#include "prxmsg.h"
#include "prxnum.h"
#include "prxop.h"
#include "prxre.h"
#include "prxscope.h"
#include "prxsearch.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

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
char* sv_to_string(PERLGCB*, SV*, uint64_t*) { NOT_BUILT(sv_to_string); }
void sv_set_bytes(PERLGCB*, SV*, const char*, uint64_t) { NOT_BUILT(sv_set_bytes); }
void sv_set_cstring(PERLGCB*, SV*, const char*) { NOT_BUILT(sv_set_cstring); }
char* sv_grow_buffer(PERLGCB*, SV*, uint64_t) { NOT_BUILT(sv_grow_buffer); }
void sv_append_bytes(PERLGCB*, SV*, const char*, uint64_t) { NOT_BUILT(sv_append_bytes); }
void sv_append_cstring(PERLGCB*, SV*, const char*) { NOT_BUILT(sv_append_cstring); }
uint64_t sv_char_length(PERLGCB*, SV*) { NOT_BUILT(sv_char_length); }
void sv_append_formatted(PERLGCB*, SV*, const char*, ...) { NOT_BUILT(sv_append_formatted); }
void sv_set_formatted(PERLGCB*, SV*, const char*, ...) { NOT_BUILT(sv_set_formatted); }
SV* sv_new_undef(PERLGCB*, uint64_t) { NOT_BUILT(sv_new_undef); }
SV* sv_new_from_bytes(PERLGCB*, const char*, uint64_t) { NOT_BUILT(sv_new_from_bytes); }
double scan_octal(PERLGCB*, const char*, uint64_t, uint64_t*) { NOT_BUILT(scan_octal); }
double scan_hexadecimal(PERLGCB*, const char*, uint64_t, uint64_t*) { NOT_BUILT(scan_hexadecimal); }
uint8_t* utf8_encode(PERLGCB*, uint8_t*, uint64_t) { NOT_BUILT(utf8_encode); }
uint64_t utf8_decode(PERLGCB*, const uint8_t*, uint64_t, int64_t*, uint32_t) { NOT_BUILT(utf8_decode); }
uint64_t utf8_length(PERLGCB*, const uint8_t*, const uint8_t*) { NOT_BUILT(utf8_length); }
uint8_t* utf8_skip_chars(PERLGCB*, const uint8_t*, int32_t) { NOT_BUILT(utf8_skip_chars); }
void sv_release(PERLGCB*, SV*) { NOT_BUILT(sv_release); }
void errsv_set_empty(PERLGCB*) { NOT_BUILT(errsv_set_empty); }

// ---- messages, fatal errors and warnings ------------------------------------
void fatal_error(PERLGCB*, const char*, ...) { NOT_BUILT(fatal_error); }
void category_warning(PERLGCB*, int32_t, const char*, ...) { NOT_BUILT(category_warning); }
bool warn_enabled(PERLGCB*, int32_t) { NOT_BUILT(warn_enabled); }
const char* vformat_message(PERLGCB*, const char*, va_list*) { NOT_BUILT(vformat_message); }

// ---- run loop, stacks and scopes --------------------------------------------
void scope_enter(PERLGCB*) { NOT_BUILT(scope_enter); }
void scope_leave(PERLGCB*) { NOT_BUILT(scope_leave); }
void leave_scope(PERLGCB*, int32_t) { NOT_BUILT(leave_scope); }
void save_push_destructor(PERLGCB*, void (*)(PERLGCB*, void*), void*) { NOT_BUILT(save_push_destructor); }
void save_push_int(PERLGCB*, int32_t*) { NOT_BUILT(save_push_int); }
void save_push_i32(PERLGCB*, int32_t*) { NOT_BUILT(save_push_i32); }
void save_push_generic_ptr(PERLGCB*, void**) { NOT_BUILT(save_push_generic_ptr); }
void stack_unwind_for_exit(PERLGCB*) { NOT_BUILT(stack_unwind_for_exit); }

// ---- string search, Unicode classes, UNIVERSAL, process support -------------
void boyer_moore_prepare(PERLGCB*, SV*, uint32_t) { NOT_BUILT(boyer_moore_prepare); }
char* boyer_moore_search(PERLGCB*, char*, char*, SV*, uint32_t) { NOT_BUILT(boyer_moore_search); }
char* study_find(PERLGCB*, SV*, SV*, int32_t, int32_t, int32_t*, int32_t) { NOT_BUILT(study_find); }
int32_t mem_casecmp(PERLGCB*, const char*, const char*, int32_t) { NOT_BUILT(mem_casecmp); }
const char* mem_find_last(PERLGCB*, const char*, const char*, const char*, const char*) { NOT_BUILT(mem_find_last); }
SV* swash_new(PERLGCB*, const char*, const char*, SV*, int32_t, int32_t) { NOT_BUILT(swash_new); }
uint64_t swash_fetch(PERLGCB*, SV*, const uint8_t*) { NOT_BUILT(swash_fetch); }
int32_t utf8_is_word(PERLGCB*, const uint8_t*) { NOT_BUILT(utf8_is_word); }
int32_t utf8_is_space(PERLGCB*, const uint8_t*) { NOT_BUILT(utf8_is_space); }
int32_t utf8_is_digit(PERLGCB*, const uint8_t*) { NOT_BUILT(utf8_is_digit); }
int32_t utf8_is_mark(PERLGCB*, const uint8_t*) { NOT_BUILT(utf8_is_mark); }
uint64_t uni_to_lower(PERLGCB*, uint32_t) { NOT_BUILT(uni_to_lower); }
uint64_t utf8_to_lower(PERLGCB*, const uint8_t*) { NOT_BUILT(utf8_to_lower); }
int32_t uni_is_word(PERLGCB*, uint32_t) { NOT_BUILT(uni_is_word); }
int32_t uni_is_space(PERLGCB*, uint32_t) { NOT_BUILT(uni_is_space); }
int32_t uni_is_digit(PERLGCB*, uint32_t) { NOT_BUILT(uni_is_digit); }

// ---- aggregates, symbol tables, overloading and magic -----------------------
PrxStream io_output_stream_of(PERLGCB*, GV*) { NOT_BUILT(io_output_stream_of); }

// ---- pattern engine ---------------------------------------------------------


// ---- source front end -------------------------------------------------------

// ---- op tree and run-time ops -----------------------------------------------
void op_free_tree(PERLGCB*, OP*) { NOT_BUILT(op_free_tree); }

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
