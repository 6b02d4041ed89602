// Running interpreter code from native code: the special-block queues, the
// program run, calls of code values, subs and methods, string evals, and
// the look-ups of named scalars and subs.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlibc.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxperl.h"
#include "prxpool.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// One op built on the spot for a call or an eval; it lives on the C++ stack
// and is never freed (op_static).
struct call_op {
    op_logical op;        // entersub, or entereval; OTHER names the first op of a trapped call
    op_unary method;      // the method op ahead of a method call
};

// Runs the call body: the entersub or entereval run-time function when the
// call's own op is current, then the run loop from the op it returns. A
// restart after a trapped die enters here with another op current.
void call_body(PERLGCB* gcb, OP* myop, bool is_eval)
{
    if (gcb->op == myop)
        gcb->op = myop->op_ppaddr(gcb);
    (void)is_eval;
    if (gcb->op)
        gcb->run_loop_hook(gcb);
}

bool errsv_nonempty(PERLGCB* gcb)
{
    uint64_t len = 0;
    SV* sv = errsv(gcb);
    if (!sv || !sv_ok(sv))
        return false;
    sv_text(gcb, sv, &len);
    return len > 0;
}

uint8_t want_flags(int32_t flags)
{
    if (flags & CALL_VOID)
        return OPf_WANT_VOID;
    return (flags & CALL_LIST) ? OPf_WANT_LIST : OPf_WANT_SCALAR;
}

uint8_t gimme_of(int32_t flags)
{
    if (flags & CALL_VOID)
        return CTX_VOID;
    return (flags & CALL_LIST) ? CTX_LIST : CTX_SCALAR;
}

// Opens the scope and temporaries floor of CALL_DISCARD.
void discard_begin(PERLGCB* gcb)
{
    scope_enter(gcb);
    save_push_int(gcb, &gcb->temps_floor);
    gcb->temps_floor = gcb->temps_ix;
}

// The end of a call or eval: under CALL_DISCARD the results are dropped and
// the scope of discard_begin closes; the caller's op is current again.
int32_t call_end(PERLGCB* gcb, OP* oldop, int32_t oldmark, int32_t flags, int32_t result)
{
    if (flags & CALL_DISCARD) {
        gcb->arg_sp = gcb->arg_base + oldmark;
        result = 0;
        tmps_free_to_floor(gcb);
        scope_leave(gcb);
    }
    gcb->op = oldop;
    return result;
}

// The exit of a callback (code 2 arriving at a call or eval guard): an exit
// that the program did not ask for with a status is an error of the caller.
[[noreturn]] void callback_exit(PERLGCB* gcb)
{
    gcb->current_package = gcb->main_stash;
    tmps_free_to_floor(gcb);
    if (gcb->exit_status && !(gcb->exit_flags & EXIT_EXPECTED))
        fatal_error(gcb, "Callback called exit");
    interp_exit_jump(gcb);
}

// Runs body, which sets *result, under a trapping jump environment. Code 2
// (the interpreter exited) leaves through callback_exit, and code 1 does the
// same with exit status 1. Code 3 (a die the frame caught) restarts at
// restartop when the die left one (the environment is reused), and otherwise
// the call gives nothing in list context or one undef, the argument stack cut
// back to oldmark. The same rules hold for calls and string evals.
template <class Body>
void run_trapped(PERLGCB* gcb, int32_t oldmark, int32_t flags, int32_t* result, Body&& body)
{
    JumpEnv env;
    for (;;) {
        int32_t code = jump_run(gcb, &env, true, body);
        if (code == JUMP_RESTART) {
            gcb->exit_status = 1;
            code = JUMP_EXIT;
        }
        if (code == JUMP_EXIT)
            callback_exit(gcb);
        if (code == JUMP_DIE) {
            if (gcb->restartop) {
                gcb->op = gcb->restartop;
                gcb->restartop = nullptr;
                continue;
            }
            gcb->arg_sp = gcb->arg_base + oldmark;
            if (flags & CALL_LIST) {
                *result = 0;
            } else {
                *result = 1;
                SV** top = arg_stack_room(gcb, gcb->arg_sp, 1);
                *++top = &gcb->sv_undef;
                gcb->arg_sp = top;
            }
        }
        break;
    }
}

// The eval frame of a trapped call, as the try op pushes it.
void push_try_frame(PERLGCB* gcb, OP* myop, uint8_t gimme)
{
    int32_t ix = cx_next_index(gcb);
    gcb->current_level->si_cxix = ix;
    cx_frame* cx = cx_current(gcb);
    cx->type = CXt_EVAL | CXp_TRYBLOCK;
    cx->blk.oldsp = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
    cx->blk.oldcop = gcb->current_statement;
    cx->blk.oldmarksp = static_cast<int32_t>(gcb->mark_sp - gcb->mark_stack);
    cx->blk.oldscopesp = gcb->scope_ix;
    cx->blk.oldretsp = gcb->return_ix;
    cx->blk.oldpm = gcb->last_match_op;
    cx->blk.gimme = gimme;
    cx->eval.old_in_eval = gcb->in_eval;
    cx->eval.old_op_type = myop->op_type;
    cx->eval.old_namesv = nullptr;
    cx->eval.old_eval_root = gcb->eval_root;
    cx->eval.cur_text = gcb->line_buffer;
    gcb->eval_root = myop;
}

// Pops that frame after the call returned, restoring what it recorded, and
// closes the scope opened before it.
void pop_try_frame(PERLGCB* gcb)
{
    cx_frame* cx = cx_current(gcb);
    gcb->current_level->si_cxix--;
    gcb->current_statement = cx->blk.oldcop;
    gcb->mark_sp = gcb->mark_stack + cx->blk.oldmarksp;
    gcb->scope_ix = cx->blk.oldscopesp;
    OP* pm = cx->blk.oldpm;
    gcb->in_eval = cx->eval.old_in_eval;
    gcb->eval_root = cx->eval.old_eval_root;
    sv_release(gcb, cx->eval.old_namesv);
    return_stack_pop(gcb);
    gcb->last_match_op = pm;
    scope_leave(gcb);
}

const char* queue_name(PERLGCB* gcb, AV* queue)
{
    if (queue == gcb->check_queue)
        return "CHECK";
    if (queue == gcb->init_queue)
        return "INIT";
    return "END";
}

}  // namespace

// ---- special blocks and the program run ---------------------------------------

void interp_run_block_body(PERLGCB* gcb, CV* cv)
{
    interp_call_value(gcb, cv, CALL_EVAL | CALL_DISCARD);
}

void interp_run_block_queue(PERLGCB* gcb, int32_t old_scope, AV* queue)
{
    COP* compiling = interp_compile_cop(gcb);
    uint16_t old_line = gcb->current_statement ? gcb->current_statement->cop_line : 0;
    while (queue && av_highest_index(gcb, queue) >= 0) {
        CV* cv = sv_as<CV>(av_remove_first(gcb, queue));
        if ((gcb->compile_only & 0x10) && queue == gcb->begin_queue) {
            if (!gcb->saved_begin_queue)
                gcb->saved_begin_queue = av_new_empty(gcb);
            av_append(gcb, gcb->saved_begin_queue, as_sv(cv));
        } else {
            save_push_release_value(gcb, as_sv(cv));
        }
        JumpEnv env;
        int32_t code = jump_run(gcb, &env, true, [&] {
            push_mark(gcb, gcb->arg_sp);
            interp_run_block_body(gcb, cv);
        });
        switch (code) {
        case JUMP_NONE:
            if (errsv_nonempty(gcb)) {
                SV* atsv = errsv(gcb);
                gcb->current_statement = compiling;
                compiling->cop_line = old_line;
                if (queue == gcb->begin_queue)
                    sv_append_cstring(gcb, atsv, "BEGIN failed--compilation aborted");
                else
                    sv_append_formatted(gcb, atsv, "%s failed--call queue aborted", queue_name(gcb, queue));
                while (gcb->scope_ix > old_scope)
                    scope_leave(gcb);
                uint64_t len = 0;
                fatal_error(gcb, "%s", sv_text(gcb, atsv, &len));
            }
            break;
        case JUMP_RESTART:
            gcb->exit_status = 1;
            [[fallthrough]];
        case JUMP_EXIT:
            while (gcb->scope_ix > old_scope)
                scope_leave(gcb);
            tmps_free_to_floor(gcb);
            gcb->current_package = gcb->main_stash;
            gcb->current_statement = compiling;
            compiling->cop_line = old_line;
            if (gcb->exit_status && !(gcb->exit_flags & EXIT_EXPECTED)) {
                if (queue == gcb->begin_queue)
                    fatal_error(gcb, "BEGIN failed--compilation aborted");
                fatal_error(gcb, "%s failed--call queue aborted", queue_name(gcb, queue));
            }
            interp_exit_jump(gcb);
        case JUMP_DIE:
            if (gcb->restartop) {
                gcb->current_statement = compiling;
                compiling->cop_line = old_line;
                if (gcb->top_env && gcb->top_env->prev)
                    jump_to(gcb, gcb->top_env, JUMP_DIE);
                prx_stderr_write(gcb, "panic: top_env\n", 15);
                bridge_fatal_jump();
            }
            prx_stderr_write(gcb, "panic: restartop\n", 17);
            tmps_free_to_floor(gcb);
            break;
        default:
            break;
        }
    }
}

void interp_call_run(PERLGCB* gcb, OP* call)
{
    call_body(gcb, call, false);
}

int32_t interp_run(PERLGCB* gcb)
{
    int32_t old_scope = gcb->scope_ix;
    bool restart = false;
    for (;;) {
        JumpEnv env;
        int32_t code = jump_run(gcb, &env, true, [&] {
            if (!restart && !gcb->restartop) {
                if (gcb->check_syntax) {
                    prx_fprintf(PRX_STDERR, "%s syntax OK\n", gcb->program_file ? gcb->program_file : "");
                    gcb->exit_status = 0;
                    interp_exit_jump(gcb);
                }
                if ((gcb->debugger_flags & 0x8) && gcb->db_single)
                    sv_set_int(gcb, gcb->db_single, 1);
                if (gcb->init_queue)
                    interp_run_block_queue(gcb, old_scope, gcb->init_queue);
            }
            if (gcb->restartop) {
                gcb->op = gcb->restartop;
                gcb->restartop = nullptr;
                gcb->run_loop_hook(gcb);
            } else if (gcb->main_start) {
                cv_body(gcb->main_cv)->depth = 1;
                gcb->op = gcb->main_start;
                gcb->run_loop_hook(gcb);
            }
            gcb->exit_status = 0;
            interp_exit_jump(gcb);
        });
        if (code == JUMP_RESTART) {
            gcb->current_level->si_cxix = -1;
            restart = true;
            continue;
        }
        if (code == JUMP_DIE) {
            if (gcb->restartop) {
                while (gcb->current_arg_stack != gcb->main_arg_stack) {
                    if (gcb->current_level->si_cxix >= 0)
                        cx_unwind(gcb, -1);
                    stack_level_pop(gcb);
                }
                restart = true;
                continue;
            }
            prx_stderr_write(gcb, "panic: restartop\n", 17);
            tmps_free_to_floor(gcb);
            return 1;
        }
        // Every normal end arrives here through the exit.
        while (gcb->scope_ix > old_scope)
            scope_leave(gcb);
        tmps_free_to_floor(gcb);
        gcb->current_package = gcb->main_stash;
        if (gcb->end_queue && !gcb->check_syntax)
            interp_run_block_queue(gcb, old_scope, gcb->end_queue);
        return gcb->exit_status;
    }
}

// ---- calls ------------------------------------------------------------------------

int32_t interp_call_value(PERLGCB* gcb, CV* cv, int32_t flags)
{
    OP* oldop = gcb->op;
    int32_t result = 0;
    if (flags & CALL_DISCARD)
        discard_begin(gcb);

    call_op ops;
    xk_fill(0, &ops, static_cast<int32_t>(sizeof ops));
    OP* myop = &ops.op.op;
    myop->op_type = OP_ENTERSUB;
    myop->op_ppaddr = gcb->op_run_function_table[OP_ENTERSUB];
    myop->op_static = 1;
    if (!(flags & CALL_NOARGS))
        myop->op_flags |= OPf_STACKED;
    myop->op_flags |= want_flags(flags);
    save_push_op(gcb);
    gcb->op = myop;
    SV** sp = arg_stack_room(gcb, gcb->arg_sp, 1);
    *++sp = as_sv(cv);
    gcb->arg_sp = sp;
    int32_t oldmark = top_mark(gcb);
    int32_t old_scope = gcb->scope_ix;

    if ((gcb->debugger_flags & 0x1) && gcb->current_package != gcb->debug_stash && !(flags & CALL_NODEBUG) &&
        gcb->db_sub_glob && (gcb->db_sub_cv || (gcb->db_sub_cv = gv_gp(gcb->db_sub_glob)->gp_cv)) &&
        !(cv && sv_type(as_sv(cv)) == SVt_PVCV && cv_body(cv)->comp_stash == gcb->debug_stash))
        myop->op_private |= OPpENTERSUB_DB;

    if (flags & CALL_METHOD) {
        OP* method = &ops.method.op;
        method->op_type = OP_METHOD;
        method->op_ppaddr = gcb->op_run_function_table[OP_METHOD];
        method->op_next = myop;
        method->op_static = 1;
        gcb->op = method;
    }

    if (!(flags & CALL_EVAL)) {
        int32_t old_catch = gcb->top_env->must_catch;
        gcb->top_env->must_catch = 1;
        call_body(gcb, myop, false);
        result = static_cast<int32_t>(gcb->arg_sp - (gcb->arg_base + oldmark));
        gcb->top_env->must_catch = old_catch;
    } else {
        ops.op.op_other = gcb->op;
        gcb->mark_sp--;
        scope_enter(gcb);
        save_push_int(gcb, &gcb->temps_floor);
        gcb->temps_floor = gcb->temps_ix;
        return_stack_push(gcb, nullptr);
        push_try_frame(gcb, myop, gimme_of(flags));
        gcb->in_eval = EVAL_INEVAL;
        if (flags & CALL_KEEPERR)
            gcb->in_eval |= EVAL_KEEPERR;
        else
            errsv_clear(gcb);
        gcb->mark_sp++;
        run_trapped(gcb, oldmark, flags, &result, [&] {
            call_body(gcb, myop, false);
            result = static_cast<int32_t>(gcb->arg_sp - (gcb->arg_base + oldmark));
            if (!(flags & CALL_KEEPERR))
                errsv_clear(gcb);
        });
        if (gcb->scope_ix > old_scope)
            pop_try_frame(gcb);
    }

    return call_end(gcb, oldop, oldmark, flags, result);
}

int32_t interp_call_named(PERLGCB* gcb, const char* name, int32_t flags)
{
    return interp_call_value(gcb, interp_get_sub(gcb, name, 1), flags);
}

int32_t interp_call_with_strings(PERLGCB* gcb, const char* name, int32_t flags, const char* const* args)
{
    push_mark(gcb, gcb->arg_sp);
    if (args) {
        for (; *args; args++) {
            SV* sv = sv_new_temporary(gcb);
            sv_set_cstring(gcb, sv, *args);
            SV** sp = arg_stack_room(gcb, gcb->arg_sp, 1);
            *++sp = sv;
            gcb->arg_sp = sp;
        }
    }
    return interp_call_named(gcb, name, flags);
}

int32_t interp_call_method_by_name(PERLGCB* gcb, const char* name, int32_t flags)
{
    SV* sv = sv_new_temporary(gcb);
    sv_set_cstring(gcb, sv, name);
    return interp_call_value(gcb, sv_as<CV>(sv), flags | CALL_METHOD);
}

// ---- string evals -----------------------------------------------------------------

int32_t interp_eval_value(PERLGCB* gcb, SV* text, int32_t flags)
{
    OP* oldop = gcb->op;
    int32_t oldmark = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
    int32_t result = 0;
    if (flags & CALL_DISCARD)
        discard_begin(gcb);

    op_unary myop;
    xk_fill(0, &myop, static_cast<int32_t>(sizeof myop));
    save_push_op(gcb);
    gcb->op = &myop.op;
    SV** sp = arg_stack_room(gcb, gcb->arg_sp, 1);
    *++sp = text;
    gcb->arg_sp = sp;
    if (!(flags & CALL_NOARGS))
        myop.op.op_flags = OPf_STACKED;
    myop.op.op_type = OP_ENTEREVAL;
    myop.op.op_ppaddr = gcb->op_run_function_table[OP_ENTEREVAL];
    myop.op.op_static = 1;
    myop.op.op_flags |= want_flags(flags);
    if (flags & CALL_KEEPERR)
        myop.op.op_flags |= OPf_SPECIAL;

    // $@ is left as the eval op leaves it: emptied when the text compiled,
    // the compile error when it did not (which returns here without a jump).
    run_trapped(gcb, oldmark, flags, &result, [&] {
        call_body(gcb, &myop.op, true);
        result = static_cast<int32_t>(gcb->arg_sp - (gcb->arg_base + oldmark));
    });

    return call_end(gcb, oldop, oldmark, flags, result);
}

SV* interp_eval_string(PERLGCB* gcb, const char* text, int32_t croak)
{
    SV* sv = sv_new_from_cstring(gcb, text, 0);
    interp_eval_value(gcb, sv, 0);
    sv_release(gcb, sv);
    SV* result = *gcb->arg_sp--;
    if (croak) {
        SV* err = errsv(gcb);
        if (err && sv_is_true(gcb, err)) {
            uint64_t len = 0;
            const char* msg = sv_text(gcb, err, &len);
            fatal_error(gcb, "%s", msg);
        }
    }
    return result;
}

void interp_require_file(PERLGCB* gcb, const char* name)
{
    stack_level_push(gcb, SI_REQUIRE);
    SV* sv = sv_new_temporary(gcb);
    sv_set_cstring(gcb, sv, "require '");
    sv_append_cstring(gcb, sv, name);
    sv_append_cstring(gcb, sv, "'");
    interp_eval_value(gcb, sv, CALL_DISCARD);
    stack_level_pop(gcb);
}

// ---- look-ups -----------------------------------------------------------------------

SV* interp_get_scalar(PERLGCB* gcb, const char* name, int32_t create)
{
    GV* gv = gv_fetch_by_name(gcb, name, create, SVt_PV);
    return gv ? gv_gp(gv)->gp_sv : nullptr;
}

CV* interp_get_sub(PERLGCB* gcb, const char* name, int32_t create)
{
    GV* gv = gv_fetch_by_name(gcb, name, create, SVt_PVCV);
    if (create && gv && (!gv_gp(gv)->gp_cv || gv_gp(gv)->gp_cvgen)) {
        int32_t floor = start_sub_compile(gcb, 0, 0);
        OP* name_op = op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, name, 0));
        sub_define_plain(gcb, floor, name_op, nullptr, nullptr);
    }
    if (!gv)
        return nullptr;
    GP* gp = gv_gp(gv);
    return gp->gp_cvgen ? nullptr : gp->gp_cv;
}

// ---- the error variable ---------------------------------------------------------------

SV* errsv(PERLGCB* gcb) { return gcb->error_glob ? gv_gp(gcb->error_glob)->gp_sv : nullptr; }

void errsv_clear(PERLGCB* gcb)
{
    if (gcb->error_glob)
        errsv_set_empty(gcb);
}
