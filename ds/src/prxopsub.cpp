// Subroutine and format definition at compile time: installing or merging a
// sub, the special-block queues, constant subs, closure cloning, native
// subs, use/no statements, attributes and the anonymous constructors.
#include <cstdarg>
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlex.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxperl.h"
#include "prxpool.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

constexpr int32_t NO_LINE = 65535;
constexpr uint32_t ANY_POK = SVf_POK | SVp_POK;

PVCV* body_of(CV* cv) { return cv_body(cv); }

// The text of a const op's value, or null without an op.
const char* op_text(PERLGCB* gcb, OP* o, uint64_t* len)
{
    *len = 0;
    if (!o)
        return nullptr;
    return sv_text(gcb, op_value_sv(o), len);
}

// The part of a sub name after its last ':'.
const char* last_component(const char* name)
{
    const char* s = std::strrchr(name, ':');
    return s ? s + 1 : name;
}

bool text_is(const char* s, const char* word)
{
    return xk_padcmp64(s, static_cast<int64_t>(std::strlen(s)), word, static_cast<int64_t>(std::strlen(word))) == 0;
}

// $@, the scalar of the error glob.
SV* error_value(PERLGCB* gcb) { return gv_gp(gcb->error_glob)->gp_sv; }

// The package a sub's attributes apply in: its glob's package when it has a
// named one, else the package it was compiled in when named, else the
// current package.
HV* attribute_package(PERLGCB* gcb, CV* cv)
{
    GV* gv = body_of(cv)->gv;
    if (gv && sv_is_glob(as_sv(gv))) {
        HV* stash = gv_body(gv)->gvstash;
        if (stash && hv_body(stash)->name)
            return stash;
    }
    HV* comp = body_of(cv)->comp_stash;
    if (comp && hv_body(comp)->name)
        return comp;
    return gcb->current_package;
}

// A warning issued with the current statement's line set to the pending
// statement line.
void warn_at_pending_line(PERLGCB* gcb, int32_t category, const char* fmt, const char* arg, bool only_if_pending)
{
    COP* cop = gcb->current_statement;
    uint16_t old = cop ? cop->cop_line : 0;
    bool set = cop && (!only_if_pending || gcb->statement_line != NO_LINE);
    if (set)
        cop->cop_line = static_cast<uint16_t>(gcb->statement_line);
    category_warning(gcb, category, fmt, arg);
    if (set)
        cop->cop_line = old;
}

AV* ensure_queue(PERLGCB* gcb, AV** queue)
{
    if (!*queue)
        *queue = av_new_empty(gcb);
    return *queue;
}

// Puts cv at the front of a queue, taking over one reference.
void queue_front(PERLGCB* gcb, AV** queue, CV* cv)
{
    AV* av = ensure_queue(gcb, queue);
    av_insert_front(gcb, av, 1);
    av_store_element(gcb, av, 0, as_sv(cv));
}

// Hands a sub named BEGIN, END, CHECK or INIT (last name component s) to its
// queue: the glob's reference moves to the queue. BEGIN is run at once by
// sub_define and left queued by sub_define_xs.
void queue_special(PERLGCB* gcb, const char* s, CV* cv, GV* gv, bool run_begin)
{
    GP* gp = gv_gp(gv);
    if (text_is(s, "BEGIN")) {
        int32_t oldscope = gcb->scope_ix;
        if (run_begin) {
            scope_enter(gcb);
            COP* compiling = gcb->compiling_statement;
            save_push_generic_ptr(gcb, reinterpret_cast<void**>(&compiling->cop_filegv));
            save_push_i16(gcb, reinterpret_cast<int16_t*>(&compiling->cop_line));
            save_push_value_ptr_by_ref(gcb, &gcb->rs);
            gcb->rs = sv_refinc(gcb->newline_rs);
        }
        av_append(gcb, ensure_queue(gcb, &gcb->begin_queue), as_sv(cv));
        gp->gp_cv = nullptr;
        if (run_begin) {
            interp_run_block_queue(gcb, oldscope, gcb->begin_queue);
            gcb->compiling_statement->op.op_private = static_cast<uint8_t>(gcb->compile_hints);
            gcb->current_statement = gcb->compiling_statement;
            scope_leave(gcb);
        }
    } else if (text_is(s, "END")) {
        if (gcb->error_count && run_begin)
            return;
        queue_front(gcb, &gcb->end_queue, cv);
        gp->gp_cv = nullptr;
    } else if (text_is(s, "CHECK")) {
        if (gcb->error_count && run_begin)
            return;
        if (gcb->main_start && warn_enabled(gcb, WARN_VOID))
            category_warning(gcb, WARN_VOID, "Too late to run CHECK block");
        queue_front(gcb, &gcb->check_queue, cv);
        gp->gp_cv = nullptr;
    } else if (text_is(s, "INIT")) {
        if (gcb->error_count && run_begin)
            return;
        if (gcb->main_start && warn_enabled(gcb, WARN_VOID))
            category_warning(gcb, WARN_VOID, "Too late to run INIT block");
        av_append(gcb, ensure_queue(gcb, &gcb->init_queue), as_sv(cv));
        gp->gp_cv = nullptr;
    }
}

// The debugger's record of where a sub's lines are, and its postponed hook.
void note_sub_lines(PERLGCB* gcb, GV* gv)
{
    HV* db = gv_stash_by_name(gcb, "DB", 0);
    if (db && gcb->current_package == db)
        return;
    SV* full = sv_new_temporary(gcb);
    gv_effective_qualified_name(gcb, full, gv, nullptr);
    const char* file = gv_statement_file(gcb, gcb->current_statement);
    SV* where = sv_new_formatted(gcb, "%s:%ld-%ld", file ? file : "", static_cast<long>(gcb->sub_start_line),
                                 static_cast<long>(gcb->current_statement ? gcb->current_statement->cop_line : 0));
    GV* subs = gv_fetch_by_name(gcb, "DB::sub", GV_ADDMULTI, SVt_PVHV);
    HV* hv = gv_gp(gv_ensure_hash(gcb, subs))->gp_hv;
    hv_store_sv(gcb, hv, full, where, 0);
    GV* postponed = gv_fetch_by_name(gcb, "DB::postponed", GV_ADDMULTI, SVt_PVHV);
    HV* ph = gv_gp(gv_ensure_hash(gcb, postponed))->gp_hv;
    CV* hook = gv_gp(postponed)->gp_cv;
    if (hv_body(ph)->fill > 0 && hv_exists_sv(gcb, ph, full, 0) && hook) {
        SV** sp = gcb->arg_sp;
        push_mark(gcb, sp);
        sp = arg_stack_room(gcb, sp, 1);
        *++sp = full;
        gcb->arg_sp = sp;
        interp_call_value(gcb, hook, CALL_DISCARD);
    }
}

// Marks the temporary slots of a finished pad: every slot that is not a
// lexical's becomes a busy temporary.
void mark_pad_temporaries(PERLGCB* gcb)
{
    SV** pad = av_body(gcb->comppad)->array;
    for (int32_t ix = av_body(gcb->comppad)->fill; ix > 0; ix--) {
        SV* v = pad[ix];
        if (v && !sv_is_immortal(gcb, v) && !(v->flags & SVs_PADMY))
            v->flags |= SVs_PADTMP | SVs_PADBUSY;
    }
}

bool pad_name_present(PERLGCB* gcb, AV* names, int32_t ix, SV** out)
{
    *out = nullptr;
    if (!names || ix > av_body(names)->fill)
        return false;
    SV* name = av_body(names)->array[ix];
    if (!name || name == &gcb->sv_undef)
        return false;
    *out = name;
    return true;
}

bool name_is_inner_sub(SV* name) { return (name->flags & ANY_POK) && sv_cur(name) && sv_pv(name)[0] == '&'; }

// Gives a sub with a body its root, its start and its finished pad.
void finish_body(PERLGCB* gcb, CV* cv, OP* body)
{
    PVCV* b = body_of(cv);
    AV* names = gcb->comppad_name;
    if (av_body(names)->fill < av_body(gcb->comppad)->fill)
        av_store_element(gcb, names, av_body(gcb->comppad)->fill, nullptr);

    OP* seq = op_statement_seq(gcb, body);
    OP* root;
    if (b->cvflags & CVf_LVALUE)
        root = op_new_unary(gcb, OP_LEAVESUBLV, 0, op_lvalue_context(gcb, seq, OP_LEAVESUBLV));
    else
        root = op_new_unary(gcb, OP_LEAVESUB, 0, seq);
    // The root counts the code values that share the tree (closures).
    root->op_private |= OPpREFCOUNTED;
    root->op_targ = 1;
    b->root = root;
    b->start = op_link_exec_order(gcb, root);
    root->op_next = nullptr;
    op_peephole(gcb, b->start);

    SV** pad = av_body(gcb->comppad)->array;
    int32_t fill = av_body(gcb->comppad)->fill;
    if (b->cvflags & CVf_CLONE) {
        // A closure prototype keeps only what its clones share: captured
        // outer lexicals and inner sub prototypes.
        for (int32_t ix = fill; ix > 0; ix--) {
            SV* name;
            bool keep = pad_name_present(gcb, names, ix, &name) &&
                        ((name->flags & SVpad_CAPTURED) || name_is_inner_sub(name));
            if (keep)
                continue;
            SV* v = pad[ix];
            if (v && !sv_is_immortal(gcb, v)) {
                pad[ix] = nullptr;
                sv_release(gcb, v);
            }
        }
    } else {
        AV* args = av_new_empty(gcb);
        av_grow_to_index(gcb, args, 0);
        av_body(args)->avflags = AVf_REIFY;
        av_store_element(gcb, gcb->comppad, 0, as_sv(args));
        gcb->curpad = av_body(gcb->comppad)->array;
        mark_pad_temporaries(gcb);
    }
}

// The common body of sub_define and sub_define_plain. The sub being
// compiled is only borrowed: start_sub_compile's scope holds its reference
// and lets it go when define unwinds to floor (or a die unwinds past it), so
// every place that keeps it takes a reference of its own.
CV* define(PERLGCB* gcb, int32_t floor, OP* name_op, OP* proto_op, OP* attrs, OP* body, bool with_attrs)
{
    uint64_t name_len = 0;
    uint64_t proto_len = 0;
    const char* name = op_text(gcb, name_op, &name_len);
    const char* proto = op_text(gcb, proto_op, &proto_len);
    CV* result = nullptr;

    const char* madeup = nullptr;
    if (!name && (gcb->debugger_flags & 0x200) && gcb->current_statement && gcb->current_statement->cop_line) {
        const char* file = gv_statement_file(gcb, gcb->current_statement);
        SV* sv = sv_make_temporary(gcb, sv_new_formatted(gcb, "__ANON__[%s:%ld]", file ? file : "",
                                                         static_cast<long>(gcb->current_statement->cop_line)));
        madeup = sv_pv(sv);
    }
    int32_t flags = GV_ADDMULTI | ((!body && !attrs) ? GV_NOINIT : 0);
    GV* gv = gv_fetch_by_name(gcb, name ? name : madeup ? madeup : "__ANON__", flags, SVt_PVCV);

    save_push_free_op_tree(gcb, name_op);
    save_push_free_op_tree(gcb, proto_op);
    if (with_attrs)
        save_push_free_op_tree(gcb, attrs);

    CV* compcv = gcb->compile_cv;
    if (!sv_is_glob(as_sv(gv))) {
        // A name that so far only carries a prototype: record the new one.
        SV* entry = as_sv(gv);
        if (sv_ok(entry)) {
            bool proto_like = (entry->flags & SVf_POK) || ((entry->flags & SVf_IOK) && sv_iv(entry) == -1);
            if (!proto_like && warn_enabled_default(gcb, WARN_PROTOTYPE))
                category_warning(gcb, WARN_PROTOTYPE, "Runaway prototype");
            cv_check_prototype(gcb, sv_as<CV>(entry), nullptr, proto);
        }
        if (proto)
            sv_set_bytes(gcb, entry, proto, proto_len);
        else
            sv_set_int(gcb, entry, -1);
        gcb->compile_cv = nullptr;
        gcb->method_cache_generation++;
        goto done;
    }

    {
        GP* gp = gv_gp(gv);
        CV* cv = (name && gp->gp_cvgen == 0) ? gp->gp_cv : nullptr;
        if (cv) {
            cv_check_prototype(gcb, cv, gv, proto);
            PVCV* cb = body_of(cv);
            bool defined = cb->root || cb->xsub || (gv_body(gv)->gvflags & GVf_ASSUMECV);
            if (defined) {
                if (!body && !attrs) {
                    // A repeated declaration of a defined sub.
                    result = cv;
                    goto done;
                }
                if (gcb->current_level && gcb->current_level->si_type == SI_SORT && gcb->sort_op == cb->start) {
                    op_free_tree(gcb, body);
                    fatal_error(gcb, "Can't redefine active sort subroutine %s", name);
                }
                if (body) {
                    if (warn_enabled(gcb, WARN_REDEFINE)) {
                        SV* k = cv_const_value(gcb, cv);
                        warn_at_pending_line(gcb, WARN_REDEFINE,
                                             k ? "Constant subroutine %s redefined" : "Subroutine %s redefined",
                                             name, false);
                    }
                    // The glob's reference goes; the new sub takes the slot
                    // below. The slot is emptied first: applying the new
                    // sub's attributes may die before it is filled, and the
                    // glob must not be left naming a freed sub.
                    gp->gp_cv = nullptr;
                    gcb->method_cache_generation++;
                    sv_release(gcb, as_sv(cv));
                    cv = nullptr;
                } else {
                    sub_attach_attributes(gcb, attribute_package(gcb, cv), as_sv(cv), attrs);
                    result = cv;
                    goto done;
                }
            } else if (attrs && !body) {
                sub_attach_attributes(gcb, attribute_package(gcb, cv), as_sv(cv), attrs);
            }
        }

        if (with_attrs && attrs && body) {
            HV* stash = gv_body(gv)->gvstash;
            if (!(name && stash && hv_body(stash)->name))
                stash = gcb->current_package;
            // Applying them may die (their module may not load): the body,
            // in no one's hands yet, goes with the unwinding then. When they
            // are applied, the entry is dropped unrun.
            int32_t mark = gcb->savestack_ix;
            save_push_free_op_tree(gcb, body);
            sub_attach_attributes(gcb, stash, as_sv(compcv), attrs);
            gcb->savestack_ix = mark;
        }

        if (cv) {
            // A stub from an earlier declaration takes the new body, so that
            // references to it see the definition.
            if (!body) {
                result = cv;
                goto done;
            }
            cv_undefine(gcb, cv);
            PVCV* cb = body_of(cv);
            PVCV* nb = body_of(compcv);
            cb->cvflags = nb->cvflags;
            cb->outside = nb->outside;
            cb->padlist = nb->padlist;
            nb->outside = nullptr;
            nb->padlist = nullptr;
            AV* names = gcb->comppad_name;
            AV* pad = gcb->comppad;
            for (int32_t ix = av_body(names)->fill; ix > 0; ix--) {
                SV* pname;
                if (!pad_name_present(gcb, names, ix, &pname) || !name_is_inner_sub(pname))
                    continue;
                if (ix > av_body(pad)->fill)
                    continue;
                SV* inner = av_body(pad)->array[ix];
                if (!inner || sv_type(inner) != SVt_PVCV)
                    continue;
                PVCV* ib = body_of(sv_as<CV>(inner));
                if (ib->outside != compcv)
                    continue;
                ib->outside = cv;
                if (!((ib->cvflags & CVf_ANON) && !(ib->cvflags & CVf_CLONED))) {
                    // A counted outer link moves with it.
                    sv_refinc(as_sv(cv));
                    sv_release(gcb, as_sv(compcv));
                }
            }
            gcb->compile_cv = cv;
        } else {
            // The glob's reference, or for an unnamed sub the caller's.
            cv = sv_as<CV>(sv_refinc(as_sv(compcv)));
            if (name) {
                if (gp->gp_cv && gp->gp_cvgen)
                    sv_release(gcb, as_sv(gp->gp_cv));  // a cached method entry's reference
                gp->gp_cv = cv;
                gp->gp_cvgen = 0;
                gcb->method_cache_generation++;
            }
        }
        result = cv;

        PVCV* b = body_of(cv);
        b->gv = gv;
        b->file = const_cast<char*>(gv_statement_file(gcb, gcb->current_statement));
        b->comp_stash = gcb->current_package;
        if (proto)
            sv_set_bytes(gcb, as_sv(cv), proto, proto_len);

        if (gcb->error_count) {
            op_free_tree(gcb, body);
            body = nullptr;
            if (name && text_is(last_component(name), "BEGIN")) {
                if (gcb->in_eval & 0x4)
                    fatal_error(gcb, "BEGIN not safe after errors--compilation aborted");
                SV* err = error_value(gcb);
                sv_append_cstring(gcb, err, "BEGIN not safe after errors--compilation aborted");
                uint64_t len = 0;
                fatal_error(gcb, "%s", sv_text(gcb, err, &len));
            }
        }

        // An anonymous sub, with or without a body, holds no counted
        // reference to the sub around it once compiled: sub_compile_end
        // drops it when the compilation's scope ends below.
        if (!body)
            goto done;

        finish_body(gcb, cv, body);

        if (!name && !madeup)
            goto done;

        if ((gcb->debugger_flags & 0x10) && sv_is_glob(as_sv(gv)))
            note_sub_lines(gcb, gv);

        const char* s = last_component(name ? name : madeup);
        if (*s == 'B' || *s == 'E' || *s == 'C' || *s == 'I')
            queue_special(gcb, s, cv, gv, true);
    }

done:
    gcb->statement_line = NO_LINE;
    if (gcb->savestack_ix > floor)
        leave_scope(gcb, floor);
    return result;
}

// A const op that shares an attribute op's value.
OP* share_const(PERLGCB* gcb, OP* o)
{
    return op_new_value(gcb, OP_CONST, o->op_flags, sv_refinc(op_value_sv(o)));
}

// The import list of the attributes module: the package, a reference to
// the target, then the attribute words.
OP* attribute_import_list(PERLGCB* gcb, SV* package, SV* target, OP* attrs)
{
    OP* list = op_new_value(gcb, OP_CONST, 0, package);
    list = op_list_append(gcb, OP_LIST, list, op_new_value(gcb, OP_CONST, 0, sv_new_reference(gcb, target)));
    if (attrs && attrs->op_type == OP_CONST) {
        list = op_list_append(gcb, OP_LIST, list, share_const(gcb, attrs));
    } else if (attrs && attrs->op_type == OP_LIST && op_has_kids(attrs)) {
        for (OP* kid = op_first_kid(attrs); kid; kid = kid->op_sibling)
            if (kid->op_type == OP_CONST)
                list = op_list_append(gcb, OP_LIST, list, share_const(gcb, kid));
    }
    return list;
}

// The method-name value of a method_named op: the name with its key hash
// as its integer.
SV* method_name_value(PERLGCB* gcb, const char* name)
{
    int32_t len = static_cast<int32_t>(std::strlen(name));
    SV* sv = sv_new_from_bytes(gcb, name, static_cast<uint64_t>(len));
    sv_upgrade_body(gcb, sv, SVt_PVIV);
    sv_iv(sv) = hv_key_hash(name, len);
    sv->flags |= SVf_IOK | SVp_IOK;
    return sv;
}

// A method call built at compile time: module name, arguments and method.
OP* module_method_call(PERLGCB* gcb, SV* module, OP* args, const char* method)
{
    OP* list = op_list_prepend(gcb, OP_LIST, op_new_value(gcb, OP_CONST, 0, sv_new_copy(gcb, module)),
                               op_list_context(gcb, args));
    list = op_list_append(gcb, OP_LIST, list, op_new_value(gcb, OP_METHOD_NAMED, 0, method_name_value(gcb, method)));
    return op_convert_list(gcb, OP_ENTERSUB, OPf_STACKED | OPf_SPECIAL, list);
}

bool imported_sub(GV* gv) { return gv && sv_is_glob(as_sv(gv)) && (gv_body(gv)->gvflags & GVf_IMPORT_CV); }

}  // namespace

// ---- definition ---------------------------------------------------------------

CV* sub_define(PERLGCB* gcb, int32_t floor, OP* name, OP* proto, OP* attrs, OP* body)
{
    return define(gcb, floor, name, proto, attrs, body, true);
}

CV* sub_define_plain(PERLGCB* gcb, int32_t floor, OP* name, OP* proto, OP* body)
{
    return define(gcb, floor, name, proto, nullptr, body, false);
}

void sub_compile_end(PERLGCB* gcb, void* arg)
{
    // The count on the sub around an anonymous sub is only needed while it
    // compiles; dropping it here rather than in define covers compilations
    // that never reach a definition too.
    SV* sv = static_cast<SV*>(arg);
    uint32_t type = sv_type(sv);
    if (type == SVt_PVCV || type == SVt_PVFM) {
        PVCV* b = body_of(sv_as<CV>(sv));
        if (b->outside && (b->cvflags & CVf_ANON) && !(b->cvflags & CVf_CLONED))
            sv_release(gcb, as_sv(b->outside));
    }
    sv_release(gcb, sv);
}

void sub_declare_my(PERLGCB* gcb, int32_t, OP* name, OP* proto, OP* attrs, OP* body)
{
    save_push_free_op_tree(gcb, name);
    save_push_free_op_tree(gcb, proto);
    save_push_free_op_tree(gcb, attrs);
    save_push_free_op_tree(gcb, body);
    fatal_error(gcb, "\"my sub\" not yet implemented");
}

CV* sub_define_constant(PERLGCB* gcb, HV* stash, const char* name, SV* sv)
{
    scope_enter(gcb);
    COP* cop = gcb->current_statement;
    save_push_i16(gcb, reinterpret_cast<int16_t*>(&cop->cop_line));
    cop->cop_line = static_cast<uint16_t>(gcb->statement_line);
    scope_save_compile_hints(gcb);
    gcb->compile_hints &= ~HINT_BLOCK_SCOPE;
    if (stash) {
        save_push_hash_ptr(gcb, &gcb->current_package);
        save_push_hash_ptr(gcb, &cop->cop_stash);
        gcb->current_package = stash;
        cop->cop_stash = stash;
    }
    int32_t floor = start_sub_compile(gcb, 0, 0);
    OP* name_op = op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, name, 0));
    OP* proto_op = op_new_value(gcb, OP_CONST, 0, &gcb->sv_no);
    OP* body = op_new_statement(gcb, 0, nullptr, op_new_value(gcb, OP_CONST, 0, sv));
    CV* cv = sub_define(gcb, floor, name_op, proto_op, nullptr, body);
    scope_leave(gcb);
    return cv;
}

SV* op_const_value(PERLGCB*, OP* o, CV* cv)
{
    if (!o)
        return nullptr;
    if (o->op_type == OP_LINESEQ && op_has_kids(o))
        o = op_first_kid(o)->op_sibling;
    SV* sv = nullptr;
    for (; o; o = o->op_next) {
        uint32_t type = o->op_type;
        if (sv && o->op_next == o)
            return sv;
        if (type == OP_NULL || type == OP_PUSHMARK || type == OP_NEXTSTATE) {
            if (o->op_next == o)
                return nullptr;
            continue;
        }
        if (type == OP_LEAVESUB || type == OP_RETURN)
            break;
        if (sv)
            return nullptr;
        if (type == OP_CONST && op_value_sv(o)) {
            sv = op_value_sv(o);
        } else if ((type == OP_CONST || type == OP_PADSV) && cv) {
            AV* padlist = body_of(cv)->padlist;
            if (!padlist || av_body(padlist)->fill < 1)
                return nullptr;
            AV* pad = sv_as<AV>(av_body(padlist)->array[1]);
            if (!pad || sv_type(as_sv(pad)) != SVt_PVAV || static_cast<int32_t>(o->op_targ) > av_body(pad)->fill)
                return nullptr;
            sv = av_body(pad)->array[o->op_targ];
            if (!sv || (!(sv->flags & SVf_READONLY) && sv->refcnt > 1))
                return nullptr;
        } else {
            return nullptr;
        }
    }
    if (sv)
        sv->flags |= SVf_READONLY;
    return sv;
}

SV* cv_const_value(PERLGCB* gcb, CV* cv)
{
    if (!cv || sv_type(as_sv(cv)) != SVt_PVCV || !(cv->flags & SVf_POK))
        return nullptr;
    if (xk_padcmp64(sv_pv(as_sv(cv)), static_cast<int64_t>(sv_cur(as_sv(cv))), "", 0) != 0)
        return nullptr;
    return op_const_value(gcb, body_of(cv)->start, cv);
}

void cv_check_prototype(PERLGCB* gcb, CV* cv, GV* gv, const char* proto)
{
    SV* sv = as_sv(cv);
    bool old = (sv->flags & SVf_POK) != 0;
    if (!old && !proto)
        return;
    if (old && proto &&
        xk_padcmp64(sv_pv(sv), static_cast<int64_t>(sv_cur(sv)), proto, static_cast<int64_t>(std::strlen(proto))) == 0)
        return;
    if (!warn_enabled_default(gcb, WARN_PROTOTYPE))
        return;
    SV* msg = sv_new_temporary(gcb);
    sv_set_cstring(gcb, msg, "Prototype mismatch:");
    if (gv) {
        SV* full = sv_new_temporary(gcb);
        gv_effective_qualified_name(gcb, full, gv, nullptr);
        sv_append_cstring(gcb, msg, " sub ");
        sv_append_sv(gcb, msg, full);
    }
    if (old) {
        sv_append_cstring(gcb, msg, " (");
        sv_append_bytes(gcb, msg, sv_pv(sv), sv_cur(sv));
        sv_append_cstring(gcb, msg, ")");
    }
    sv_append_cstring(gcb, msg, " vs ");
    if (proto) {
        sv_append_cstring(gcb, msg, "(");
        sv_append_cstring(gcb, msg, proto);
        sv_append_cstring(gcb, msg, ")");
    } else {
        sv_append_cstring(gcb, msg, "none");
    }
    category_warning(gcb, WARN_PROTOTYPE, "%s", sv_pv(msg));
}

void cv_undefine(PERLGCB* gcb, CV* cv)
{
    PVCV* b = body_of(cv);
    if (!b->xsub && b->root) {
        if (b->depth)
            fatal_error(gcb, "Can't undef active subroutine");
        scope_enter(gcb);
        // Op targets are not handed back to a pad while the tree goes.
        save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->curpad));
        gcb->curpad = nullptr;
        op_free_tree(gcb, b->root);
        b->root = nullptr;
        b->start = nullptr;
        scope_leave(gcb);
    }
    cv->flags &= ~ANY_POK;
    b->gv = nullptr;
    CV* outside = b->outside;
    b->outside = nullptr;
    if (outside && !((b->cvflags & CVf_ANON) && !(b->cvflags & CVf_CLONED)))
        sv_release(gcb, as_sv(outside));
    AV* padlist = b->padlist;
    b->padlist = nullptr;
    if (padlist && padlist->refcnt) {
        PVAV* pb = av_body(padlist);
        for (int32_t ix = pb->fill; ix >= 0; ix--) {
            SV* el = pb->array[ix];
            pb->array[ix] = nullptr;
            if (!el || el == &gcb->sv_undef)
                continue;
            if (as_sv(gcb->comppad_name) == el) {
                gcb->comppad_name = nullptr;
            } else if (as_sv(gcb->comppad) == el) {
                gcb->comppad = nullptr;
                gcb->curpad = nullptr;
            }
            sv_release(gcb, el);
        }
        pb->fill = -1;
        sv_release(gcb, as_sv(padlist));
    }
    b->cvflags = 0;
}

// ---- closures -------------------------------------------------------------------

CV* cv_clone_worker(PERLGCB* gcb, CV* proto, CV* outside)
{
    stack_check(gcb);
    PVCV* pb = body_of(proto);
    AV* proto_padlist = pb->padlist;
    AV* proto_names = sv_as<AV>(av_body(proto_padlist)->array[0]);
    AV* proto_pad = sv_as<AV>(av_body(proto_padlist)->array[1]);
    int32_t names_fill = av_body(proto_names)->fill;
    int32_t pad_fill = av_body(proto_pad)->fill;
    SV** proto_slots = av_body(proto_pad)->array;

    scope_enter(gcb);
    save_compile_pad(gcb);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->comppad_name));
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->compile_cv));

    CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(cv), sv_type(as_sv(proto)));
    PVCV* b = body_of(cv);
    b->cvflags = static_cast<uint16_t>((pb->cvflags & ~CVf_CLONE) | CVf_CLONED);
    b->file = pb->file;
    b->gv = pb->gv;
    b->comp_stash = pb->comp_stash;
    b->start = pb->start;
    b->root = pb->root;
    if (b->root)
        b->root->op_targ++;  // one more holder of the shared tree
    if (outside)
        b->outside = sv_as<CV>(sv_refinc(as_sv(outside)));
    if (proto->flags & SVf_POK)
        sv_set_bytes(gcb, as_sv(cv), sv_pv(as_sv(proto)), sv_cur(as_sv(proto)));
    gcb->compile_cv = cv;

    AV* names = av_new_empty(gcb);
    for (int32_t ix = names_fill; ix >= 0; ix--) {
        SV* name = av_body(proto_names)->array[ix];
        if (name && name != &gcb->sv_undef)
            av_store_element(gcb, names, ix, sv_refinc(name));
    }
    AV* pad = av_new_empty(gcb);
    av_grow_to_index(gcb, pad, pad_fill);
    AV* padlist = av_new_empty(gcb);
    av_body(padlist)->avflags &= static_cast<uint8_t>(~AVf_REAL);
    av_store_element(gcb, padlist, 0, as_sv(names));
    av_store_element(gcb, padlist, 1, as_sv(pad));
    b->padlist = padlist;
    gcb->comppad_name = names;
    gcb->comppad = pad;
    av_set_highest_index(gcb, pad, pad_fill);
    gcb->curpad = av_body(pad)->array;

    AV* args = av_new_empty(gcb);
    av_grow_to_index(gcb, args, 0);
    av_body(args)->avflags = AVf_REIFY;
    av_store_element(gcb, pad, 0, as_sv(args));
    gcb->curpad = av_body(pad)->array;

    int32_t cxix = gcb->current_level ? gcb->current_level->si_cxix : -1;
    for (int32_t ix = pad_fill; ix > 0; ix--) {
        SV* name = ix <= names_fill ? av_body(proto_names)->array[ix] : nullptr;
        SV* value;
        if (!name || name == &gcb->sv_undef) {
            value = sv_new_undef(gcb, 0);
            value->flags |= SVs_PADTMP | SVs_PADBUSY;
        } else if (name->flags & SVpad_CAPTURED) {
            uint32_t seq = static_cast<uint32_t>(sv_iv(name));
            uint32_t off = pad_find_outer(gcb, sv_pv(name), static_cast<uint32_t>(ix), seq, b->outside, cxix, 0, 0);
            if (!off) {
                value = sv_refinc(proto_slots[ix]);
            } else if (off != static_cast<uint32_t>(ix)) {
                fatal_error(gcb, "panic: cv_clone: %s", sv_pv(name));
            } else {
                continue;  // the look-up stored the outer variable in the slot
            }
        } else {
            const char* text = sv_pv(name);
            if (text[0] == '&')
                value = sv_refinc(proto_slots[ix]);
            else if (text[0] == '@')
                value = as_sv(av_new_empty(gcb));
            else if (text[0] == '%')
                value = as_sv(hv_new_empty(gcb));
            else
                value = sv_new_undef(gcb, 0);
            if (value && !(value->flags & SVs_PADBUSY))
                value->flags |= SVs_PADMY | SVs_PADBUSY;
        }
        SV** slot = &av_body(pad)->array[ix];
        SV* old = *slot;
        *slot = value;
        if (old)
            sv_release(gcb, old);
    }

    // Inner closure prototypes are cloned once every variable of this clone
    // is in place, so that they capture the new ones.
    for (int32_t ix = pad_fill; ix > 0; ix--) {
        SV* name = ix <= names_fill ? av_body(proto_names)->array[ix] : nullptr;
        if (!name || name == &gcb->sv_undef || (name->flags & SVpad_CAPTURED) || !name_is_inner_sub(name))
            continue;
        SV* inner = proto_slots[ix];
        if (!inner || sv_type(inner) != SVt_PVCV || !(body_of(sv_as<CV>(inner))->cvflags & CVf_CLONE))
            continue;
        CV* clone = cv_clone_worker(gcb, sv_as<CV>(inner), cv);
        body_of(clone)->cvflags |= CVf_CLONE;
        as_sv(clone)->flags |= SVs_PADMY | SVs_PADBUSY;
        SV** slot = &av_body(pad)->array[ix];
        SV* old = *slot;
        *slot = as_sv(clone);
        if (old)
            sv_release(gcb, old);
    }

    scope_leave(gcb);
    return cv;
}

CV* cv_clone(PERLGCB* gcb, CV* proto) { return cv_clone_worker(gcb, proto, body_of(proto)->outside); }

// ---- native subs and formats ------------------------------------------------------

CV* sub_define_xs(PERLGCB* gcb, const char* name, xsub_fn fn, const char* file)
{
    GV* gv = gv_fetch_by_name(gcb, name ? name : "__ANON__", GV_ADDMULTI, SVt_PVCV);
    CV* cv = nullptr;
    if (name) {
        GP* gp = gv_gp(gv);
        CV* old = gp->gp_cv;
        if (old) {
            PVCV* ob = body_of(old);
            if (gp->gp_cvgen) {
                gp->gp_cv = nullptr;
                gp->gp_cvgen = 0;
                sv_release(gcb, as_sv(old));
            } else if (ob->root || ob->xsub || (gv_body(gv)->gvflags & GVf_ASSUMECV)) {
                if (warn_enabled(gcb, WARN_REDEFINE)) {
                    GV* ogv = ob->gv;
                    HV* stash = ogv && sv_is_glob(as_sv(ogv)) ? gv_body(ogv)->gvstash : nullptr;
                    const char* pkg = stash ? hv_body(stash)->name : nullptr;
                    if (!(pkg && std::strcmp(pkg, "autouse") == 0))
                        warn_at_pending_line(gcb, WARN_REDEFINE, "Subroutine %s redefined", name, true);
                }
                gp->gp_cv = nullptr;
                sv_release(gcb, as_sv(old));
            } else {
                cv_undefine(gcb, old);
                cv = old;
            }
        }
    }
    if (!cv) {
        cv = sv_as<CV>(sv_new_undef(gcb, 0));
        sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
        if (!name) {
            PVCV* b = body_of(cv);
            b->gv = gv;
            gv_fetch_file_glob(gcb, file);
            b->file = const_cast<char*>(file);
            b->xsub = reinterpret_cast<void*>(fn);
            b->cvflags |= CVf_ANON;
            return cv;
        }
        GP* gp = gv_gp(gv);
        gp->gp_cv = cv;
        gp->gp_cvgen = 0;
        gcb->method_cache_generation++;
    }
    PVCV* b = body_of(cv);
    b->gv = gv;
    gv_fetch_file_glob(gcb, file);
    b->file = const_cast<char*>(file);
    b->xsub = reinterpret_cast<void*>(fn);

    const char* s = last_component(name);
    if (*s == 'B' || *s == 'E' || *s == 'C' || *s == 'I')
        queue_special(gcb, s, cv, gv, false);
    return cv;
}

void format_define(PERLGCB* gcb, int32_t floor, OP* name_op, OP* block)
{
    uint64_t len = 0;
    const char* name = name_op ? op_text(gcb, name_op, &len) : "STDOUT";
    GV* gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVFM);
    gv_body(gv)->gvflags |= GVf_MULTI;
    GP* gp = gv_gp(gv);
    if (CV* old = gp->gp_form) {
        if (warn_enabled(gcb, WARN_REDEFINE))
            warn_at_pending_line(gcb, WARN_REDEFINE, "Format %s redefined", name, false);
        gp->gp_form = nullptr;
        sv_release(gcb, as_sv(old));
    }
    // The glob's reference; the compilation's goes with its scope.
    CV* cv = sv_as<CV>(sv_refinc(as_sv(gcb->compile_cv)));
    gp->gp_form = cv;
    PVCV* b = body_of(cv);
    b->gv = gv;
    b->file = const_cast<char*>(gv_statement_file(gcb, gcb->current_statement));
    mark_pad_temporaries(gcb);
    OP* body = block ? op_statement_seq(gcb, block) : op_new_stub(gcb);
    OP* root = op_new_unary(gcb, OP_LEAVEWRITE, 0, body);
    root->op_private |= OPpREFCOUNTED;
    root->op_targ = 1;
    b->root = root;
    b->start = op_link_exec_order(gcb, root);
    root->op_next = nullptr;
    op_peephole(gcb, b->start);
    op_free_tree(gcb, name_op);
    gcb->statement_line = NO_LINE;
    if (gcb->savestack_ix > floor)
        leave_scope(gcb, floor);
}

// ---- use/no, module loading and attributes ----------------------------------------

void op_use_module(PERLGCB* gcb, int32_t use, int32_t floor, OP* version, OP* name, OP* args)
{
    if (name->op_type != OP_CONST)
        fatal_error(gcb, "Module name must be constant");
    SV* module = op_value_sv(name);

    OP* version_call = nullptr;
    if (version) {
        SV* vsv = version->op_type == OP_CONST ? op_value_sv(version) : nullptr;
        bool numeric = vsv && (vsv->flags & (SVp_IOK | SVp_NOK));
        if (!args && !numeric) {
            args = version;  // use Module LIST with a first word that is no version
        } else {
            if (!numeric)
                fatal_error(gcb, "Version number must be constant number");
            version_call = module_method_call(gcb, module, version, "VERSION");
        }
    }

    OP* import_call = nullptr;
    if (args && args->op_type == OP_STUB) {
        op_free_tree(gcb, args);  // use Module (): no import
    } else if (module->flags & (SVp_IOK | SVp_NOK)) {
        op_free_tree(gcb, args);  // use VERSION
    } else {
        import_call = module_method_call(gcb, module, args, use ? "import" : "unimport");
    }

    GV* gv = gv_fetch_by_name(gcb, "require", 0, SVt_PVCV);
    if (!imported_sub(gv))
        gv = gv_fetch_by_name(gcb, "CORE::GLOBAL::require", 0, SVt_PVCV);
    OP* require_op;
    if (imported_sub(gv)) {
        OP* code = op_scalar_context(gcb, op_new_unary(gcb, OP_RV2CV, 0, op_new_glob(gcb, OP_GV, 0, gv)));
        require_op = ck_entersub(gcb, op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, op_list_append(gcb, OP_LIST, name, code)));
    } else {
        require_op = op_new_unary(gcb, OP_REQUIRE, 0, name);
    }

    OP* body = op_list_append(gcb, OP_LINESEQ, op_new_statement(gcb, 0, nullptr, require_op),
                              op_new_statement(gcb, 0, nullptr, version_call));
    body = op_list_append(gcb, OP_LINESEQ, body, op_new_statement(gcb, 0, nullptr, import_call));
    sub_define(gcb, floor, op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, "BEGIN", 0)), nullptr, nullptr,
               body);
    gcb->compile_hints |= HINT_BLOCK_SCOPE;
    gcb->statement_line = NO_LINE;
    gcb->expect = XSTATE;
}

void module_load_va(PERLGCB* gcb, uint32_t flags, SV* name, SV* version, ...)
{
    va_list ap;
    va_start(ap, version);
    OP* name_op = op_new_value(gcb, OP_CONST, 0, name);
    name_op->op_private |= OPpCONST_BARE;
    OP* version_op = version ? op_new_value(gcb, OP_CONST, 0, version) : nullptr;
    OP* imports = nullptr;
    if (flags & 0x2) {
        imports = op_mark_parens(gcb, op_new_stub(gcb));
    } else if (flags & 0x4) {
        imports = va_arg(ap, OP*);
    } else {
        for (SV* sv = va_arg(ap, SV*); sv; sv = va_arg(ap, SV*))
            imports = op_list_append(gcb, OP_LIST, imports, op_new_value(gcb, OP_CONST, 0, sv));
    }
    va_end(ap);
    int32_t line = gcb->statement_line;
    int32_t expect = gcb->expect;
    int32_t floor = start_sub_compile(gcb, 0, 0);
    op_use_module(gcb, !(flags & 0x1), floor, version_op, name_op, imports);
    gcb->statement_line = line;
    gcb->expect = expect;
}

void sub_attach_attributes(PERLGCB* gcb, HV* stash, SV* target, OP* attrs)
{
    scope_enter(gcb);
    save_push_i32(gcb, &gcb->expect);
    SV* package = stash && hv_body(stash)->name ? sv_new_from_cstring(gcb, hv_body(stash)->name, 0) : &gcb->sv_no;
    OP* list = attribute_import_list(gcb, package, target, attrs);
    module_load_va(gcb, 0x4, sv_new_from_cstring(gcb, "attributes", 0), nullptr, list);
    scope_leave(gcb);
}

void attrs_apply_from_text(PERLGCB* gcb, const char* package, CV* cv, const char* text, int32_t len)
{
    const char* end = len ? text + len : text + std::strlen(text);
    OP* words = nullptr;
    const char* s = text;
    while (s < end) {
        while (s < end && host_is_space(static_cast<uint8_t>(*s)))
            s++;
        if (s >= end)
            break;
        const char* w = s;
        while (s < end && !host_is_space(static_cast<uint8_t>(*s)))
            s++;
        words = op_list_append(gcb, OP_LIST, words,
                               op_new_value(gcb, OP_CONST, 0, sv_new_from_bytes(gcb, w, static_cast<uint64_t>(s - w))));
    }
    OP* list = attribute_import_list(gcb, sv_new_from_cstring(gcb, package, 0), as_sv(cv), words);
    op_free_tree(gcb, words);
    module_load_va(gcb, 0x4, sv_new_from_cstring(gcb, "attributes", 0), nullptr, list);
}

// ---- anonymous constructors -----------------------------------------------------------

OP* op_new_anon_list(PERLGCB* gcb, OP* list)
{
    OP* o = op_list_context(gcb, op_convert_list(gcb, OP_ANONLIST, 0, list));
    return op_new_unary(gcb, OP_REFGEN, 0, op_lvalue_context(gcb, o, OP_REFGEN));
}

OP* op_new_anon_hash(PERLGCB* gcb, OP* list)
{
    OP* o = op_list_context(gcb, op_convert_list(gcb, OP_ANONHASH, 0, list));
    return op_new_unary(gcb, OP_REFGEN, 0, op_lvalue_context(gcb, o, OP_REFGEN));
}

OP* op_new_anon_sub(PERLGCB* gcb, int32_t floor, OP* proto, OP* attrs, OP* block)
{
    // The op takes over the reference the definition took for its caller.
    CV* cv = sub_define(gcb, floor, nullptr, proto, attrs, block);
    return op_new_unary(gcb, OP_REFGEN, 0, op_new_value(gcb, OP_ANONCODE, 0, as_sv(cv)));
}

OP* op_new_anon_sub_plain(PERLGCB* gcb, int32_t floor, OP* proto, OP* block)
{
    CV* cv = sub_define_plain(gcb, floor, nullptr, proto, block);
    return op_new_unary(gcb, OP_REFGEN, 0, op_new_value(gcb, OP_ANONCODE, 0, as_sv(cv)));
}
