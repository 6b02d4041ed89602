// String eval and eval blocks: the eval ops, the compiler driver that string
// evals and require share, and the run of an eval body under a jump
// environment of its own.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlex.h"
#include "prxlibc.h"
#include "prxpad.h"
#include "prxperl.h"
#include "prxpp.h"
#include "prxscope.h"

namespace {

// Releases the separator value the compile used and takes the normal one.
void restore_record_separator(PERLGCB* gcb)
{
    if (gcb->rs)
        sv_release(gcb, gcb->rs);
    gcb->rs = sv_refinc(gcb->newline_rs);
}

// The debugger's copy of the eval's lines: each line (with its newline) as a
// value of the file's line array, from index 1.
void keep_source_lines(PERLGCB* gcb, GV* filegv, const char* text, uint64_t len)
{
    if (!filegv)
        return;
    gv_ensure_array(gcb, filegv);
    AV* lines = gv_gp(filegv)->gp_av;
    int32_t n = 1;
    uint64_t i = 0;
    while (i < len) {
        uint64_t j = i;
        while (j < len && text[j] != '\n')
            j++;
        if (j < len)
            j++;
        SV* line = sv_new_from_bytes(gcb, text + i, j - i);
        sv_upgrade_body(gcb, line, SVt_PVMG);
        av_store_element(gcb, lines, n++, line);
        i = j;
    }
}

// Compiles the eval's text under an environment of its own while an armed
// one is the top (a sort's comparison runs under it, a level above its
// catcher's): a fatal error of the compile, which has already popped the
// eval frame and set the restart op to the op after the eval, resumes there
// on this level. Any other jump goes on outward.
OP* compile_caught(PERLGCB* gcb, uint8_t gimme)
{
    stack_level* level = gcb->current_level;
    OP* start = nullptr;
    JumpEnv env{};
    int32_t code = jump_run(gcb, &env, true, [&] { start = eval_compile(gcb, gimme, nullptr); });
    if (code == JUMP_NONE)
        return start;
    if (code == JUMP_DIE && gcb->restartop && gcb->current_level == level) {
        start = gcb->restartop;
        gcb->restartop = nullptr;
        return start;
    }
    jump_to(gcb, gcb->top_env, code);
}

}  // namespace

OP* eval_catch(PERLGCB* gcb, OP* o)
{
    // Nothing to run (a failed compile with nothing after the eval).
    if (!o)
        return nullptr;
    OP* oldop = gcb->op;
    stack_level* level = gcb->current_level;
    gcb->op = o;
    JumpEnv env{};
    for (;;) {
        int32_t code = jump_run(gcb, &env, true, [&] {
            // Evals reached from this run nest no further environments.
            env.must_catch = 0;
            gcb->run_loop_hook(gcb);
        });
        if (code == JUMP_NONE)
            break;
        if (code == JUMP_DIE && gcb->restartop && gcb->current_level == level) {
            gcb->op = gcb->restartop;
            gcb->restartop = nullptr;
            continue;
        }
        // Not this environment's to resume: the code goes on outward.
        gcb->op = oldop;
        JumpEnv* outer = gcb->top_env;
        if (outer && outer->prev)
            jump_to(gcb, outer, code);
        if (code == JUMP_EXIT)
            bridge_fatal_jump(gcb->exit_status);
        static const char text[] = "panic: top_env\n";
        prx_stderr_write(gcb, text, sizeof text - 1);
        bridge_fatal_jump(1);
    }
    gcb->op = oldop;
    return nullptr;
}

OP* eval_compile(PERLGCB* gcb, uint8_t gimme, OP** start_out)
{
    OP* saveop = gcb->op;
    bool require = saveop && saveop->op_type == OP_REQUIRE;
    gcb->in_eval = require ? (8 | (gcb->in_eval & 1)) : 1;
    push_mark(gcb, pp_sp(gcb));

    save_push_i32(gcb, &gcb->padix);
    save_push_i32(gcb, &gcb->padix_floor);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->curpad));
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->comppad));
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->comppad_name));
    save_push_i32(gcb, &gcb->comppad_name_fill);
    save_push_i32(gcb, &gcb->comppad_name_floor);
    save_push_i32(gcb, &gcb->min_intro_pending);
    save_push_i32(gcb, &gcb->max_intro_pending);

    // The code that encloses the eval, for closures: the sub or format of
    // the nearest frame below, unless an eval frame comes first.
    CV* caller = gcb->compile_cv;
    stack_level* si = gcb->current_level;
    for (int32_t i = si->si_cxix - 1; i >= 0; i--) {
        const cx_frame* cx = &si->si_cxstack[i];
        uint32_t t = cx_type(cx);
        if (t == CXt_EVAL)
            break;
        if (t == CXt_SUB || t == CXt_FORMAT) {
            caller = cx->sub.cv;
            break;
        }
    }

    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->compile_cv));
    SV* cvsv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, cvsv, SVt_PVCV);
    cvsv->flags &= ~SVf_FAKE;
    CV* cv = sv_as<CV>(cvsv);
    cv_body(cv)->cvflags |= CVf_UNIQUE;
    gcb->compile_cv = cv;
    pad_new_for_code(gcb, cv);
    gcb->comppad_name_floor = 0;
    gcb->max_intro_pending = 0;
    gcb->padix_floor = 0;
    if (!require && !(saveop && saveop->op_type == OP_DOFILE))
        cv_body(cv)->outside = sv_as<CV>(sv_refinc(as_sv(caller)));
    save_push_make_temporary(gcb, cvsv);

    COP* cop = gcb->current_statement;
    if (cop && cop->cop_stash != gcb->current_package) {
        save_push_hash_ptr(gcb, &gcb->current_package);
        gcb->current_package = cop->cop_stash;
    }
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->begin_queue));
    gcb->begin_queue = av_new_empty(gcb);
    save_push_release_value(gcb, as_sv(gcb->begin_queue));
    save_push_i32(gcb, &gcb->error_count);

    // eval_start still names the start of the last text compiled, whose
    // tree may be gone; the assignments of this parse set it afresh.
    gcb->eval_root = nullptr;
    gcb->eval_start = nullptr;
    gcb->error_count = 0;
    gcb->current_statement = gcb->compiling_statement;
    gcb->compiling_statement->cop_arybase = 0;
    if (gcb->rs)
        sv_release(gcb, gcb->rs);
    gcb->rs = sv_new_from_bytes(gcb, "\n", 1);
    if (saveop && (saveop->op_flags & OPf_SPECIAL))
        gcb->in_eval |= 4;
    else
        errsv_clear(gcb);

    int32_t parsed = grammar_parse(gcb);
    if (parsed == 0 && gcb->error_count == 0 && gcb->eval_root) {
        restore_record_separator(gcb);
        gcb->compiling_statement->cop_line = 0;
        OP* root = gcb->eval_root;
        if (start_out) {
            *start_out = root;
            if (CV* outside = cv_body(cv)->outside) {
                cv_body(cv)->outside = nullptr;
                sv_release(gcb, as_sv(outside));
            }
        } else {
            save_push_free_op_tree(gcb, root);
        }
        if (gimme == CTX_VOID) {
            // Void context reaches no further than the root by itself: the
            // body's statements take it here, as a program's do, with their
            // useless-use warnings. The walk makes each statement current
            // in turn; the compiling one is current again afterwards.
            op_void_context(gcb, op_first_kid(root));
            gcb->current_statement = gcb->compiling_statement;
            op_void_context(gcb, root);
        }
        else if (gimme == CTX_LIST)
            op_list_context(gcb, root);
        else
            op_scalar_context(gcb, root);
        if ((gcb->debugger_flags & 0x08) && require) {
            CV* post = interp_get_sub(gcb, "DB::postponed", 0);
            if (post) {
                SV** sp = pp_sp(gcb);
                push_mark(gcb, sp);
                sp = pp_push_one(gcb, sp, as_sv(gcb->compiling_statement->cop_filegv));
                interp_call_value(gcb, post, CALL_DISCARD);
            }
        }
        cv_body(cv)->depth = 1;
        pp_put_sp(gcb, gcb->arg_base + pop_mark(gcb));
        gcb->op = saveop;
        gcb->lex_state = LEX_NOTPARSING;
        return gcb->eval_start;
    }

    gcb->op = saveop;
    if (gcb->eval_root) {
        op_free_tree(gcb, gcb->eval_root);
        gcb->eval_root = nullptr;
    }
    SV** sp = gcb->arg_base + pop_mark(gcb);
    pp_put_sp(gcb, sp);
    int32_t optype = 0;
    if (!start_out) {
        cx_frame* cx = cx_pop_block(gcb);
        gcb->last_match_op = cx->blk.oldpm;
        cx_pop_eval(gcb, cx);
        optype = cx->eval.old_op_type;
        return_stack_pop(gcb);
    }
    lex_context_end(gcb);
    scope_leave(gcb);
    uint64_t len = 0;
    const char* msg = sv_text(gcb, errsv(gcb), &len);
    if (optype == OP_REQUIRE)
        return die_error(gcb, "%sCompilation failed in require", len ? msg : "Unknown error\n");
    if (start_out) {
        cx_frame* cx = cx_pop_block(gcb);
        gcb->last_match_op = cx->blk.oldpm;
        cx_pop_eval(gcb, cx);
        fatal_error(gcb, "%sCompilation failed in regexp", len ? msg : "Unknown error\n");
    }
    restore_record_separator(gcb);
    pp_push_one(gcb, pp_sp(gcb), &gcb->sv_undef);
    return saveop ? saveop->op_next : nullptr;
}

OP* pp_entereval(PERLGCB* gcb)
{
    OP* op = gcb->op;
    uint8_t gimme = pp_context(gcb, op);
    uint32_t generation = gcb->method_cache_generation;
    SV** sp = pp_sp(gcb);
    SV* text = *sp;
    uint64_t len = 0;
    const char* s = sv_text(gcb, text, &len);
    if (!s || !len) {
        *sp = &gcb->sv_undef;
        return op->op_next;
    }
    if (gcb->tainting)
        taint_check_dependency(gcb, "%s", "eval");

    scope_enter(gcb);
    lex_context_begin(gcb, text);
    save_push_int(gcb, &gcb->temps_floor);
    gcb->temps_floor = gcb->temps_ix;

    SV* name = sv_new_temporary(gcb);
    uint32_t seq = ++gcb->eval_count;
    COP* cop = gcb->current_statement;
    if ((gcb->debugger_flags & 0x100) && cop && cop->cop_line != 0 && cop->cop_line != 65535) {
        const char* file = gv_statement_file(gcb, cop);
        sv_set_formatted(gcb, name, "_<(eval %lu)[%s:%ld]", seq, file ? file : "", static_cast<int32_t>(cop->cop_line));
    } else {
        sv_set_formatted(gcb, name, "_<(eval %lu)", seq);
    }
    COP* comp = gcb->compiling_statement;
    save_push_value_ptr_by_ref(gcb, reinterpret_cast<SV**>(&comp->cop_filegv));
    GV* filegv = gv_fetch_file_glob(gcb, sv_pv(name) + 2);
    comp->cop_filegv = sv_as<GV>(sv_refinc(as_sv(filegv)));
    save_push_i16(gcb, reinterpret_cast<int16_t*>(&comp->cop_line));
    comp->cop_line = 1;
    // The eval's file glob goes from the main symbol table when the scope
    // closes; the entry owns the key copy.
    char* key = pool_strndup(gcb, sv_pv(name), static_cast<int32_t>(sv_cur(name)));
    int32_t keylen = static_cast<int32_t>(sv_cur(name));
    save_push_delete(gcb, gcb->main_stash, key, keylen);

    scope_save_compile_hints(gcb);
    gcb->compile_hints = op->op_targ;

    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&comp->cop_warnings));
    SV* warnings = cop ? cop->cop_warnings : nullptr;
    if (warnings && !warnings_is_marker(warnings)) {
        warnings = sv_new_copy(gcb, warnings);
        save_push_release_value(gcb, warnings);
    }
    comp->cop_warnings = warnings;

    return_stack_push(gcb, op->op_next);
    cx_frame* cx = cx_push_block(gcb, CXt_EVAL | CXp_REAL, sp - 1, gimme);
    cx_push_eval(gcb, cx, OP_ENTEREVAL, nullptr);

    if ((gcb->debugger_flags & 0x02) && cop && gcb->current_package != gv_stash_by_name(gcb, "DB", 0))
        keep_source_lines(gcb, filegv, s, len);

    pp_put_sp(gcb, sp - 1);
    bool armed = gcb->top_env && gcb->top_env->must_catch;
    OP* start = armed ? compile_caught(gcb, gimme) : eval_compile(gcb, gimme, nullptr);
    if ((gcb->debugger_flags & 0x08) && generation != gcb->method_cache_generation && start != op->op_next)
        std::memcpy(key, "_<(eval )", keylen < 10 ? static_cast<size_t>(keylen) : 10u);
    if (gcb->top_env && gcb->top_env->must_catch) {
        eval_catch(gcb, start);
        return nullptr;
    }
    return start;
}

OP* pp_leaveeval(PERLGCB* gcb)
{
    OP* op = gcb->op;
    cx_frame* cx = cx_pop_block(gcb);
    cx_pop_eval(gcb, cx);
    SV** newsp = gcb->arg_base + cx->blk.oldsp;
    uint8_t gimme = cx->blk.gimme;
    OP* newpm = cx->blk.oldpm;
    int32_t optype = cx->eval.old_op_type;
    SV* namesv = cx->eval.old_namesv;
    OP* retop = return_stack_pop(gcb);
    gcb->tainted = 0;
    SV** sp = pp_sp(gcb);
    bool has_results = sp > newsp;
    bool top_true = has_results && pp_truth(gcb, *sp);
    sp = pp_leave_results(gcb, newsp, sp, gimme, SVs_TEMP);
    pp_put_sp(gcb, sp);
    gcb->last_match_op = newpm;
    if (gcb->compile_cv)
        cv_body(gcb->compile_cv)->depth = 0;
    lex_context_end(gcb);
    if (optype == OP_REQUIRE && !(gimme == CTX_SCALAR ? top_true : has_results)) {
        uint64_t len = 0;
        const char* name = namesv ? sv_text(gcb, namesv, &len) : "";
        HV* inc = gv_gp(gv_fetch_by_name(gcb, "INC", GV_ADD, SVt_PVHV))->gp_hv;
        if (inc)
            hv_delete_str(gcb, inc, name, static_cast<int32_t>(len), HV_DISCARD);
        return die_error(gcb, "%s did not return a true value", name);
    }
    // Closing the scope frees the eval's tree, this op with it.
    bool keep_error = (op->op_flags & OPf_SPECIAL) != 0;
    scope_leave(gcb);
    if (!keep_error)
        errsv_clear(gcb);
    return retop;
}

OP* pp_entertry(PERLGCB* gcb)
{
    OP* op = gcb->op;
    uint8_t gimme = pp_context(gcb, op);
    pp_scope_with_temps(gcb);
    return_stack_push(gcb, op_other_op(op)->op_next);
    cx_frame* cx = cx_push_block(gcb, CXt_EVAL | CXp_TRYBLOCK, pp_sp(gcb), gimme);
    cx_push_eval(gcb, cx, OP_ENTERTRY, nullptr);
    gcb->eval_root = op;
    gcb->in_eval = 1;
    errsv_clear(gcb);
    if (gcb->top_env && gcb->top_env->must_catch) {
        eval_catch(gcb, op->op_next);
        return nullptr;
    }
    return op->op_next;
}

OP* pp_leavetry(PERLGCB* gcb)
{
    cx_frame* cx = cx_pop_block(gcb);
    cx_pop_eval(gcb, cx);
    SV** newsp = gcb->arg_base + cx->blk.oldsp;
    uint8_t gimme = cx->blk.gimme;
    OP* newpm = cx->blk.oldpm;
    return_stack_pop(gcb);
    gcb->tainted = 0;
    SV** sp = pp_leave_results(gcb, newsp, pp_sp(gcb), gimme, SVs_TEMP | SVs_PADTMP);
    pp_put_sp(gcb, sp);
    gcb->last_match_op = newpm;
    scope_leave(gcb);
    errsv_clear(gcb);
    return gcb->op->op_next;
}
