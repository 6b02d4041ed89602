// Routines that a later part of the interpreter completes. Each raises the
// internal fault "panic: not built: NAME"; entry-table slots report it to
// the host log and answer their failure.
#include <cstdio>
#include <cstring>

#include "prxbridge.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxsv.h"
#include "prxcall.h"
#include "prxscope.h"
#include "prxuni.h"
#include "prxutf8.h"
#include "prxio.h"
#include "prxproc.h"
#include "prxrun.h"
#include "prxsearch.h"

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
void sv_set_double(PERLGCB*, SV*, double) { NOT_BUILT(sv_set_double); }
double sv_to_double(PERLGCB*, SV*) { NOT_BUILT(sv_to_double); }
char* sv_force_string(PERLGCB*, SV*, uint64_t*) { NOT_BUILT(sv_force_string); }
CV* sv_to_code(PERLGCB*, SV*, HV**, GV**, int32_t) { NOT_BUILT(sv_to_code); }
void sv_set_uint(PERLGCB*, SV*, uint64_t) { NOT_BUILT(sv_set_uint); }
void sv_convert_to_utf8(PERLGCB*, SV*) { NOT_BUILT(sv_convert_to_utf8); }
void sv_insert(PERLGCB*, SV*, uint64_t, uint64_t, const char*, uint64_t) { NOT_BUILT(sv_insert); }
void sv_pos_char_to_byte(PERLGCB*, SV*, int32_t*, int32_t*) { NOT_BUILT(sv_pos_char_to_byte); }
void sv_pos_b2u(PERLGCB*, SV*, int32_t*) { NOT_BUILT(sv_pos_b2u); }
uint64_t sv_char_length(PERLGCB*, SV*) { NOT_BUILT(sv_char_length); }
uint64_t sv_byte_length(PERLGCB*, SV*) { NOT_BUILT(sv_byte_length); }
int32_t sv_undo_offset(PERLGCB*, SV*) { NOT_BUILT(sv_undo_offset); }
uint8_t* utf8_copy_from_bytes(PERLGCB*, const uint8_t*, int64_t*) { NOT_BUILT(utf8_copy_from_bytes); }
SV* sv_new_reference(PERLGCB*, SV*) { NOT_BUILT(sv_new_reference); }
void sv_append_bytes(PERLGCB*, SV*, const char*, uint64_t) { NOT_BUILT(sv_append_bytes); }
void sv_append_cstring(PERLGCB*, SV*, const char*) { NOT_BUILT(sv_append_cstring); }
void sv_set_bytes(PERLGCB*, SV*, const char*, uint64_t) { NOT_BUILT(sv_set_bytes); }
void sv_set_cstring(PERLGCB*, SV*, const char*) { NOT_BUILT(sv_set_cstring); }
void sv_set_formatted(PERLGCB*, SV*, const char*, ...) { NOT_BUILT(sv_set_formatted); }
void sv_set_int(PERLGCB*, SV*, int64_t) { NOT_BUILT(sv_set_int); }
void sv_mark_tainted(PERLGCB*, SV*) { NOT_BUILT(sv_mark_tainted); }
int64_t sv_to_int(PERLGCB*, SV*) { NOT_BUILT(sv_to_int); }
SV* sv_new_from_int(PERLGCB*, int64_t) { NOT_BUILT(sv_new_from_int); }
char* sv_to_string(PERLGCB*, SV*, uint64_t*) { NOT_BUILT(sv_to_string); }
SV* sv_new_undef(PERLGCB*, uint64_t) { NOT_BUILT(sv_new_undef); }
int32_t sv_upgrade_body(PERLGCB*, SV*, uint32_t) { NOT_BUILT(sv_upgrade_body); }
void sv_assign(PERLGCB*, SV*, SV*) { NOT_BUILT(sv_assign); }
bool sv_is_true(PERLGCB*, SV*) { NOT_BUILT(sv_is_true); }
int32_t sv_remove_magic(PERLGCB*, SV*, int) { NOT_BUILT(sv_remove_magic); }
void sv_add_magic(PERLGCB*, SV*, SV*, int, const char*, int32_t) { NOT_BUILT(sv_add_magic); }
SV* sv_new_from_bytes(PERLGCB*, const char*, uint64_t) { NOT_BUILT(sv_new_from_bytes); }
SV* sv_new_copy(PERLGCB*, SV*) { NOT_BUILT(sv_new_copy); }
SV* sv_new_temporary(PERLGCB*) { NOT_BUILT(sv_new_temporary); }
SV* sv_new_temporary_copy(PERLGCB*, SV*) { NOT_BUILT(sv_new_temporary_copy); }
SV* sv_make_temporary(PERLGCB*, SV*) { NOT_BUILT(sv_make_temporary); }
bool sv_is_tainted(PERLGCB*, SV*) { NOT_BUILT(sv_is_tainted); }
void sv_release(PERLGCB*, SV*) { NOT_BUILT(sv_release); }
void errsv_set_empty(PERLGCB*) { NOT_BUILT(errsv_set_empty); }

// ---- messages, fatal errors and warnings ------------------------------------
OP* die_error(PERLGCB*, const char*, ...) { NOT_BUILT(die_error); }
SV* build_message(PERLGCB*, const char*, ...) { NOT_BUILT(build_message); }
void fatal_error(PERLGCB*, const char*, ...) { NOT_BUILT(fatal_error); }
void category_warning(PERLGCB*, int32_t, const char*, ...) { NOT_BUILT(category_warning); }
void warning(PERLGCB*, const char*, ...) { NOT_BUILT(warning); }
bool warn_enabled(PERLGCB*, int32_t) { NOT_BUILT(warn_enabled); }
bool warn_enabled_default(PERLGCB*, int32_t) { NOT_BUILT(warn_enabled_default); }
const char* vformat_message(PERLGCB*, const char*, va_list*) { NOT_BUILT(vformat_message); }

// ---- run loop, stacks and scopes --------------------------------------------
void save_push_value_ptr(PERLGCB*, SV**) { NOT_BUILT(save_push_value_ptr); }
void save_push_int(PERLGCB*, int32_t*) { NOT_BUILT(save_push_int); }
SV** arg_stack_extend(PERLGCB*, SV**, SV**, int32_t) { NOT_BUILT(arg_stack_extend); }
void mark_stack_extend(PERLGCB*) { NOT_BUILT(mark_stack_extend); }
void tmps_free_to_floor(PERLGCB*) { NOT_BUILT(tmps_free_to_floor); }
void stack_level_push(PERLGCB*, int32_t) { NOT_BUILT(stack_level_push); }
void stack_level_pop(PERLGCB*) { NOT_BUILT(stack_level_pop); }
void save_push_destructor(PERLGCB*, void (*)(PERLGCB*, void*), void*) { NOT_BUILT(save_push_destructor); }
int32_t save_push_alloc(PERLGCB*, int32_t, int32_t) { NOT_BUILT(save_push_alloc); }
void scope_enter(PERLGCB*) { NOT_BUILT(scope_enter); }
void scope_leave(PERLGCB*) { NOT_BUILT(scope_leave); }
void stack_unwind_for_exit(PERLGCB*) { NOT_BUILT(stack_unwind_for_exit); }

// ---- string search, Unicode classes, UNIVERSAL, process support -------------
const char* copy_to_delimiter(PERLGCB*, char*, const char*, const char*, const char*, int32_t, int32_t*) { NOT_BUILT(copy_to_delimiter); }
void env_set(PERLGCB*, const char*, const char*) { NOT_BUILT(env_set); }
prx_sighandler signal_get(PERLGCB*, int32_t) { NOT_BUILT(signal_get); }
prx_sighandler signal_set(PERLGCB*, int32_t, prx_sighandler) { NOT_BUILT(signal_set); }

int32_t utf8_is_ident_start(PERLGCB*, const uint8_t*) { NOT_BUILT(utf8_is_ident_start); }


// ---- aggregates, symbol tables, overloading and magic -----------------------

// ---- pattern engine ---------------------------------------------------------

// ---- source front end -------------------------------------------------------

// ---- op tree and run-time ops -----------------------------------------------
uint64_t do_vec_read(PERLGCB*, SV*, int32_t, int32_t) { NOT_BUILT(do_vec_read); }
void do_vec_write(PERLGCB*, SV*) { NOT_BUILT(do_vec_write); }
// Every run-time function and check routine whose row is marked P.
void error_queue(PERLGCB*, SV*) { NOT_BUILT(error_queue); }
int32_t start_sub_compile(PERLGCB*, int32_t, uint32_t) { NOT_BUILT(start_sub_compile); }
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

// ---- bridge and interpreter life --------------------------------------------
void interp_setup_debugger(PERLGCB*) { NOT_BUILT(interp_setup_debugger); }
int32_t interp_call_value(PERLGCB*, CV*, int32_t) { NOT_BUILT(interp_call_value); }
int32_t interp_call_method_by_name(PERLGCB*, const char*, int32_t) { NOT_BUILT(interp_call_method_by_name); }
void interp_require_file(PERLGCB*, const char*) { NOT_BUILT(interp_require_file); }

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
