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
#include "prxlex.h"
#include "prxlexint.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxnum.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxpp.h"
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
    // No environment can take the fault: a jump aimed at none passes every
    // jump_run and ends at the module boundary, whose catch-all answers the
    // entry's failure.
    jump_to(gcb, nullptr, -1);
}

#define NOT_BUILT(name) panic_not_built(#name)

// ---- values: arenas, body free lists, numbers, formatting -------------------

// ---- messages, fatal errors and warnings ------------------------------------

// ---- run loop, stacks and scopes --------------------------------------------

// ---- string search, Unicode classes, UNIVERSAL, process support -------------

// ---- aggregates, symbol tables, overloading and magic -----------------------

// ---- pattern engine ---------------------------------------------------------


// ---- source front end -------------------------------------------------------

// ---- op tree and run-time ops -----------------------------------------------
CV* sub_define(PERLGCB*, int32_t, OP*, OP*, OP*, OP*) { NOT_BUILT(sub_define); }
void sub_declare_my(PERLGCB*, int32_t, OP*, OP*, OP*, OP*) { NOT_BUILT(sub_declare_my); }
CV* sub_define_constant(PERLGCB*, HV*, const char*, SV*) { NOT_BUILT(sub_define_constant); }
CV* cv_clone(PERLGCB*, CV*) { NOT_BUILT(cv_clone); }
void format_define(PERLGCB*, int32_t, OP*, OP*) { NOT_BUILT(format_define); }
void op_use_module(PERLGCB*, int32_t, int32_t, OP*, OP*, OP*) { NOT_BUILT(op_use_module); }
void sub_attach_attributes(PERLGCB*, HV*, SV*, OP*) { NOT_BUILT(sub_attach_attributes); }
OP* op_new_anon_list(PERLGCB*, OP*) { NOT_BUILT(op_new_anon_list); }
OP* op_new_anon_hash(PERLGCB*, OP*) { NOT_BUILT(op_new_anon_hash); }
OP* op_new_anon_sub(PERLGCB*, int32_t, OP*, OP*, OP*) { NOT_BUILT(op_new_anon_sub); }
CV* sub_define_xs(PERLGCB*, const char*, xsub_fn, const char*) { NOT_BUILT(sub_define_xs); }
CV* sub_define_plain(PERLGCB*, int32_t, OP*, OP*, OP*) { NOT_BUILT(sub_define_plain); }
void module_load_va(PERLGCB*, uint32_t, SV*, SV*, ...) { NOT_BUILT(module_load_va); }
void cx_unwind(PERLGCB*, int32_t) { NOT_BUILT(cx_unwind); }
uint8_t cx_gimme(PERLGCB*) { NOT_BUILT(cx_gimme); }
uint8_t cx_wantarray(PERLGCB*) { NOT_BUILT(cx_wantarray); }
uint8_t cx_lvalue_sub(PERLGCB*) { NOT_BUILT(cx_lvalue_sub); }
void elem_autovivify(PERLGCB*, SV*, int32_t) { NOT_BUILT(elem_autovivify); }
int32_t do_trans_worker(PERLGCB*, SV*) { NOT_BUILT(do_trans_worker); }
void error_queue(PERLGCB*, SV*) { NOT_BUILT(error_queue); }
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
