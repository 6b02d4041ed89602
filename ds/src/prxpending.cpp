// Routines that a later part of the interpreter completes. Each raises the
// internal fault "panic: not built: NAME"; entry-table slots report it to
// the host log and answer their failure.
#include <cstdio>
#include <cstring>

#include "prxav.h"
#include "prxbridge.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxnum.h"
#include "prxop.h"
#include "prxproc.h"
#include "prxre.h"
#include "prxsearch.h"
#include "prxuni.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsearch.h"
#include "prxsv.h"
#include "prxuni.h"

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
    throw NotBuilt{name};
}

#define NOT_BUILT(name) panic_not_built(#name)

// ---- values: arenas, body free lists, numbers, formatting -------------------
char* sv_read_record(PERLGCB*, SV*, PrxStream, int32_t) { NOT_BUILT(sv_read_record); }
void sv_reset_by_letters(PERLGCB*, const char*, HV*) { NOT_BUILT(sv_reset_by_letters); }
CV* sv_to_code(PERLGCB*, SV*, HV**, GV**, int32_t) { NOT_BUILT(sv_to_code); }
void warn_uninitialized(PERLGCB*) { NOT_BUILT(warn_uninitialized); }
char* sv_string_value(PERLGCB*, SV*) { NOT_BUILT(sv_string_value); }
char* sv_string_value_b(PERLGCB*, SV*) { NOT_BUILT(sv_string_value_b); }
char* sv_string_value_len(PERLGCB*, SV*, uint64_t*) { NOT_BUILT(sv_string_value_len); }
char* sv_string_value_len_b(PERLGCB*, SV*, uint64_t*) { NOT_BUILT(sv_string_value_len_b); }
char* sv_string_value_len_c(PERLGCB*, SV*, uint64_t*) { NOT_BUILT(sv_string_value_len_c); }
char* sv_utf8_string_value(PERLGCB*, SV*) { NOT_BUILT(sv_utf8_string_value); }
char* sv_utf8_string_value_len(PERLGCB*, SV*, uint64_t*) { NOT_BUILT(sv_utf8_string_value_len); }

// ---- messages, fatal errors and warnings ------------------------------------

// ---- run loop, stacks and scopes --------------------------------------------
void scope_enter(PERLGCB*) { NOT_BUILT(scope_enter); }
void scope_leave(PERLGCB*) { NOT_BUILT(scope_leave); }
void leave_scope(PERLGCB*, int32_t) { NOT_BUILT(leave_scope); }
void save_push_destructor(PERLGCB*, void (*)(PERLGCB*, void*), void*) { NOT_BUILT(save_push_destructor); }
void save_push_int(PERLGCB*, int32_t*) { NOT_BUILT(save_push_int); }
void save_push_i32(PERLGCB*, int32_t*) { NOT_BUILT(save_push_i32); }
void save_push_generic_ptr(PERLGCB*, void**) { NOT_BUILT(save_push_generic_ptr); }
void save_push_i8(PERLGCB*, int8_t*) { NOT_BUILT(save_push_i8); }
void stack_level_push(PERLGCB*, int32_t) { NOT_BUILT(stack_level_push); }
void stack_level_pop(PERLGCB*) { NOT_BUILT(stack_level_pop); }
int32_t save_push_alloc(PERLGCB*, int32_t, int32_t) { NOT_BUILT(save_push_alloc); }
void stack_unwind_for_exit(PERLGCB*) { NOT_BUILT(stack_unwind_for_exit); }
stack_level* stack_level_new(PERLGCB*, int32_t, int32_t) { NOT_BUILT(stack_level_new); }
SV** arg_stack_extend(PERLGCB*, SV**, SV**, int32_t) { NOT_BUILT(arg_stack_extend); }
void mark_stack_extend(PERLGCB*) { NOT_BUILT(mark_stack_extend); }
SV** tmps_stack_extend(PERLGCB*, int32_t) { NOT_BUILT(tmps_stack_extend); }
void tmps_free_to_floor(PERLGCB*) { NOT_BUILT(tmps_free_to_floor); }
void save_push_value_ptr(PERLGCB*, SV**) { NOT_BUILT(save_push_value_ptr); }
void save_push_release_value(PERLGCB*, SV*) { NOT_BUILT(save_push_release_value); }

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
const char* copy_to_delimiter(PERLGCB*, char*, const char*, const char*, const char*, int32_t, int32_t*) { NOT_BUILT(copy_to_delimiter); }
void env_set(PERLGCB*, const char*, const char*) { NOT_BUILT(env_set); }
prx_sighandler signal_get(PERLGCB*, int32_t) { NOT_BUILT(signal_get); }
prx_sighandler signal_set(PERLGCB*, int32_t, prx_sighandler) { NOT_BUILT(signal_set); }
int32_t utf8_is_ident_start(PERLGCB*, const uint8_t*) { NOT_BUILT(utf8_is_ident_start); }

// ---- aggregates, symbol tables, overloading and magic -----------------------

// ---- pattern engine ---------------------------------------------------------


// ---- source front end -------------------------------------------------------

// ---- op tree and run-time ops -----------------------------------------------
void op_free_tree(PERLGCB*, OP*) { NOT_BUILT(op_free_tree); }
uint64_t do_vec_read(PERLGCB*, SV*, int32_t, int32_t) { NOT_BUILT(do_vec_read); }
void do_vec_write(PERLGCB*, SV*) { NOT_BUILT(do_vec_write); }
void error_queue(PERLGCB*, SV*) { NOT_BUILT(error_queue); }
int32_t start_sub_compile(PERLGCB*, int32_t, uint32_t) { NOT_BUILT(start_sub_compile); }
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
#include "prxutf8.h"
#undef PRX_OP
SV* op_const_value(PERLGCB*, OP*, CV*) { NOT_BUILT(op_const_value); }
SV* cv_const_value(PERLGCB*, CV*) { NOT_BUILT(cv_const_value); }
void cv_check_prototype(PERLGCB*, CV*, GV*, const char*) { NOT_BUILT(cv_check_prototype); }
void cv_undefine(PERLGCB*, CV*) { NOT_BUILT(cv_undefine); }
OP* die_return_to_eval(PERLGCB*, const char*, uint64_t) { NOT_BUILT(die_return_to_eval); }
int32_t io_close_streams(PERLGCB*, IO*, int32_t) { NOT_BUILT(io_close_streams); }
void dump_value(PERLGCB*, SV*) { NOT_BUILT(dump_value); }

// ---- bridge and interpreter life --------------------------------------------
void interp_setup_debugger(PERLGCB*) { NOT_BUILT(interp_setup_debugger); }
int32_t interp_call_method_by_name(PERLGCB*, const char*, int32_t) { NOT_BUILT(interp_call_method_by_name); }
void interp_require_file(PERLGCB*, const char*) { NOT_BUILT(interp_require_file); }
int32_t interp_call_value(PERLGCB*, CV*, int32_t) { NOT_BUILT(interp_call_value); }

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
