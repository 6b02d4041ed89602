// Statements, package declarations, my/our/local, dereferences, blocks with
// the compile state they save, the program root and the execution-order
// links of a tree.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlex.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

constexpr int32_t NO_LINE = 65535;

bool in_debugger_package(PERLGCB* gcb)
{
    HV* db = gv_stash_by_name(gcb, "DB", 0);
    return db && gcb->current_package == db;
}

// The statement op's address goes into the file's source line for the
// debugger's breakpoints.
void mark_breakable_line(PERLGCB* gcb, COP* cop)
{
    GV* file = cop->cop_filegv;
    if (!file || !gv_gp(file) || !gv_gp(file)->gp_av)
        return;
    SV** line = av_fetch_element(gcb, gv_gp(file)->gp_av, cop->cop_line, 0);
    if (!line || *line == &gcb->sv_undef || ((*line)->flags & SVf_IOK))
        return;
    SV* sv = *line;
    if (sv->flags & SVf_OOK)
        sv_undo_offset(gcb, sv);
    if (sv_type(sv) < SVt_PVIV)
        sv_upgrade_body(gcb, sv, SVt_PVIV);
    sv_iv(sv) = static_cast<int64_t>(reinterpret_cast<intptr_t>(cop));
    sv->flags |= SVf_IOK | SVp_IOK;
}

GV* hint_glob(PERLGCB* gcb)
{
    if (!gcb->hint_glob)
        gcb->hint_glob = gv_fetch_by_name(gcb, "\x08", GV_ADD, SVt_PVHV);
    return gcb->hint_glob;
}

}  // namespace

// ---- statements -----------------------------------------------------------------

OP* op_new_statement(PERLGCB* gcb, int32_t flags, char* label, OP* o)
{
    uint32_t seq = gcb->min_intro_pending ? pad_intro_pending(gcb) : gcb->cop_seqmax;
    COP* compiling = gcb->compiling_statement;
    COP* cop = static_cast<COP*>(pool_malloc(gcb, sizeof(COP)));
    std::memset(cop, 0, sizeof *cop);
    bool debugging = (gcb->debugger_flags & 0x02) && compiling->cop_line && !in_debugger_package(gcb);
    op_set_type(gcb, &cop->op, debugging ? OP_DBSTATE : OP_NEXTSTATE);
    cop->op.op_flags = static_cast<uint8_t>(flags);
    cop->op.op_private = static_cast<uint8_t>(gcb->compile_hints & HINT_BYTES);
    compiling->op.op_private = cop->op.op_private;
    cop->op.op_next = &cop->op;
    if (label) {
        cop->cop_label = label;
        gcb->compile_hints |= HINT_BLOCK_SCOPE;
    }
    cop->cop_seq = seq;
    cop->cop_arybase = compiling->cop_arybase;
    SV* warnings = compiling->cop_warnings;
    cop->cop_warnings = warnings_is_marker(warnings) ? warnings : sv_new_copy(gcb, warnings);
    if (gcb->statement_line != NO_LINE) {
        cop->cop_line = static_cast<uint16_t>(gcb->statement_line);
        gcb->statement_line = NO_LINE;
    } else {
        cop->cop_line = compiling->cop_line;
    }
    cop->cop_filegv = compiling->cop_filegv ? sv_as<GV>(sv_refinc(as_sv(compiling->cop_filegv))) : nullptr;
    cop->cop_stash = gcb->current_package;
    if (debugging)
        mark_breakable_line(gcb, cop);
    if (!o)
        return &cop->op;
    if (o->op_type == OP_LINESEQ)
        return op_list_prepend(gcb, OP_LINESEQ, &cop->op, o);
    return op_new_list(gcb, OP_LINESEQ, 0, &cop->op, o);
}

void op_set_package(PERLGCB* gcb, OP* name)
{
    if (!gcb->current_package_name)
        gcb->current_package_name = sv_new_from_bytes(gcb, "", 0);
    save_push_hash_ptr(gcb, &gcb->current_package);
    save_push_item(gcb, gcb->current_package_name);
    if (name) {
        uint64_t len = 0;
        const char* text = sv_text(gcb, op_value_sv(name), &len);
        gcb->current_package = gv_stash_by_name_len(gcb, text, static_cast<uint32_t>(len), 1);
        sv_set_bytes(gcb, gcb->current_package_name, text, len);
        op_free_tree(gcb, name);
    } else {
        sv_set_cstring(gcb, gcb->current_package_name, "<none>");
        gcb->current_package = nullptr;
    }
    gcb->compile_hints |= HINT_BLOCK_SCOPE;
    gcb->statement_line = NO_LINE;
    gcb->expect = XSTATE;
}

OP* op_new_dofile(PERLGCB* gcb, OP* term)
{
    auto imported = [](GV* gv) {
        return gv && sv_is_glob(as_sv(gv)) && (gv_body(gv)->gvflags & GVf_IMPORT_CV);
    };
    GV* gv = gv_fetch_by_name(gcb, "do", 0, SVt_PVCV);
    if (!imported(gv))
        gv = gv_fetch_by_name(gcb, "CORE::GLOBAL::do", 0, SVt_PVCV);
    if (imported(gv)) {
        OP* code = op_scalar_context(gcb, op_new_unary(gcb, OP_RV2CV, 0, op_new_glob(gcb, OP_GV, 0, gv)));
        OP* call = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, op_list_append(gcb, OP_LIST, term, code));
        return ck_entersub(gcb, call);
    }
    return op_new_unary(gcb, OP_DOFILE, 0, op_scalar_context(gcb, term));
}

OP* op_new_slice(PERLGCB* gcb, int32_t flags, OP* subscript, OP* list)
{
    return op_new_binary(gcb, OP_LSLICE, flags, op_list_context(gcb, op_wrap_in_list(gcb, subscript)),
                         op_list_context(gcb, op_wrap_in_list(gcb, list)));
}

OP* op_mark_parens(PERLGCB*, OP* o)
{
    if (o)
        o->op_flags |= OPf_PARENS;
    return o;
}

OP* op_new_not(PERLGCB* gcb, OP* o)
{
    if (!o)
        return nullptr;
    return op_new_unary(gcb, OP_NOT, OPf_SPECIAL, op_scalar_context(gcb, o));
}

// ---- dereferences ------------------------------------------------------------------

OP* op_new_scalar_deref(PERLGCB* gcb, OP* o)
{
    if (o->op_type == OP_PADANY) {
        op_set_type(gcb, o, OP_PADSV);
        return o;
    }
    if (o->op_type == OP_THREADSV && !(o->op_flags & OPf_STACKED)) {
        o->op_flags |= OPf_STACKED;
        return o;
    }
    return op_new_unary(gcb, OP_RV2SV, 0, op_scalar_context(gcb, o));
}

OP* op_new_array_deref(PERLGCB* gcb, OP* o)
{
    if (o->op_type == OP_PADANY) {
        op_set_type(gcb, o, OP_PADAV);
        return o;
    }
    return op_new_unary(gcb, OP_RV2AV, 0, op_scalar_context(gcb, o));
}

OP* op_new_hash_deref(PERLGCB* gcb, OP* o)
{
    if (o->op_type == OP_PADANY) {
        op_set_type(gcb, o, OP_PADHV);
        return o;
    }
    return op_new_unary(gcb, OP_RV2HV, 0, op_scalar_context(gcb, o));
}

OP* op_new_glob_deref(PERLGCB* gcb, int32_t type, OP* o)
{
    if (type == OP_GREPSTART || type == OP_MAPSTART || type == OP_SORT)
        return op_new_unary(gcb, OP_NULL, 0, o);
    return op_ref_context_one(gcb, op_new_unary(gcb, OP_RV2GV, OPf_REF, o), type);
}

OP* op_new_code_deref(PERLGCB* gcb, int32_t flags, OP* o)
{
    return op_new_unary(gcb, OP_RV2CV, flags, op_scalar_context(gcb, o));
}

OP* oopsAV(PERLGCB* gcb, OP* o)
{
    switch (o->op_type) {
    case OP_PADSV:
        op_set_type(gcb, o, OP_PADAV);
        return op_ref_context_one(gcb, o, OP_RV2AV);
    case OP_RV2SV:
        op_set_type(gcb, o, OP_RV2AV);
        return op_ref_context_one(gcb, o, OP_RV2AV);
    default:
        if (warn_enabled_default(gcb, WARN_INTERNAL))
            category_warning(gcb, WARN_INTERNAL, "oops: oopsAV");
        return o;
    }
}

OP* oopsHV(PERLGCB* gcb, OP* o)
{
    switch (o->op_type) {
    case OP_PADSV:
    case OP_PADAV:
        op_set_type(gcb, o, OP_PADHV);
        return op_ref_context_one(gcb, o, OP_RV2HV);
    case OP_RV2SV:
    case OP_RV2AV:
        op_set_type(gcb, o, OP_RV2HV);
        return op_ref_context_one(gcb, o, OP_RV2HV);
    default:
        if (warn_enabled_default(gcb, WARN_INTERNAL))
            category_warning(gcb, WARN_INTERNAL, "oops: oopsHV");
        return o;
    }
}

OP* op_apply_local(PERLGCB* gcb, OP* o, int32_t lexical)
{
    if (o->op_flags & OPf_PARENS) {
        op_list_context(gcb, o);
    } else if (warn_enabled(gcb, WARN_PARENTHESIS) && gcb->scan_pos && gcb->scan_pos > gcb->prev_token_pos &&
               gcb->scan_pos[-1] == ',') {
        const char* s = gcb->scan_pos;
        while (*s) {
            uint8_t c = static_cast<uint8_t>(*s);
            if (!(host_is_word(c) || c >= 0x80 || std::strchr("@$%, ", c)))
                break;
            s++;
        }
        if (*s == ';' || *s == '=')
            category_warning(gcb, WARN_PARENTHESIS, "Parentheses missing around \"%s\" list",
                             lexical ? (gcb->declaring == DECLARING_OUR ? "our" : "my") : "local");
    }
    if (lexical)
        o = op_declare_my(gcb, o);
    else
        o = op_lvalue_context(gcb, o, 0);
    gcb->declaring = 0;
    gcb->declaring_package = nullptr;
    return o;
}

OP* op_join_subscript(PERLGCB* gcb, OP* o)
{
    if (o->op_type != OP_LIST)
        return o;
    GV* separator = gv_fetch_by_name(gcb, ";", GV_ADD, SVt_PV);
    OP* sep = op_new_scalar_deref(gcb, op_new_glob(gcb, OP_GV, 0, separator));
    return op_convert_list(gcb, OP_JOIN, 0, op_list_prepend(gcb, OP_LIST, sep, o));
}

bool op_is_scalar_lvalue_type(PERLGCB*, OP* o, int32_t type)
{
    switch (type) {
    case OP_SASSIGN:
        return o->op_type != OP_RV2GV;
    case OP_SUBST: case OP_TRANS: case OP_PREINC: case OP_I_PREINC: case OP_PREDEC: case OP_I_PREDEC:
    case OP_POSTINC: case OP_I_POSTINC: case OP_POSTDEC: case OP_I_POSTDEC: case OP_POW: case OP_MULTIPLY:
    case OP_I_MULTIPLY: case OP_DIVIDE: case OP_I_DIVIDE: case OP_MODULO: case OP_I_MODULO: case OP_REPEAT:
    case OP_ADD: case OP_I_ADD: case OP_SUBTRACT: case OP_I_SUBTRACT: case OP_CONCAT: case OP_LEFT_SHIFT:
    case OP_RIGHT_SHIFT: case OP_BIT_AND: case OP_BIT_XOR: case OP_BIT_OR: case OP_ANDASSIGN: case OP_ORASSIGN:
    case OP_READ: case OP_SYSREAD: case OP_RECV:
        return true;
    default:
        return false;
    }
}

// ---- blocks --------------------------------------------------------------------------

void scope_push_compile_hints(PERLGCB* gcb)
{
    save_push_i32(gcb, reinterpret_cast<int32_t*>(&gcb->compile_hints));
    GV* gv = hint_glob(gcb);
    gv_ensure_hash(gcb, gv);
    GP* gp = gv_gp(gv);
    save_push_hash_ptr(gcb, &gp->gp_hv);
    gp->gp_hv = hv_new_copy(gcb, gp->gp_hv);
    save_push_release_value(gcb, as_sv(gp->gp_hv));
}

void scope_save_compile_hints(PERLGCB* gcb)
{
    if (gcb->compile_hints & HINT_LOCALIZE_HH) {
        scope_push_compile_hints(gcb);
    } else {
        save_check(gcb, 2);
        save_put_i32(gcb, static_cast<int32_t>(gcb->compile_hints));
        save_put_i32(gcb, SAVE_HINTS);
    }
}

int32_t op_open_block(PERLGCB* gcb, int32_t full)
{
    int32_t floor = gcb->savestack_ix;
    save_push_i32(gcb, &gcb->comppad_name_floor);
    gcb->comppad_name_floor = av_body(gcb->comppad_name)->fill;
    if (full)
        gcb->comppad_name_fill = gcb->comppad_name_floor;
    if (gcb->comppad_name_floor < 0)
        gcb->comppad_name_floor = 0;
    save_push_i32(gcb, &gcb->min_intro_pending);
    save_push_i32(gcb, &gcb->max_intro_pending);
    gcb->min_intro_pending = 0;
    save_push_i32(gcb, &gcb->comppad_name_fill);
    save_push_i32(gcb, &gcb->padix_floor);
    gcb->padix_floor = gcb->padix;
    gcb->pad_reset_pending = 0;
    scope_save_compile_hints(gcb);
    gcb->compile_hints &= ~HINT_BLOCK_SCOPE;
    COP* compiling = gcb->compiling_statement;
    save_push_value_ptr(gcb, &compiling->cop_warnings);
    if (!warnings_is_marker(compiling->cop_warnings)) {
        compiling->cop_warnings = sv_new_copy(gcb, compiling->cop_warnings);
        save_push_release_value(gcb, compiling->cop_warnings);
    }
    return floor;
}

OP* op_close_block(PERLGCB* gcb, int32_t floor, OP* seq)
{
    bool block_scope = (gcb->compile_hints & HINT_BLOCK_SCOPE) != 0;
    OP* retval = op_statement_seq(gcb, seq);
    // The names this block declared: those still pending never became
    // visible. Names pending around the block (my $x = do { ... }) are the
    // enclosing statement's and are introduced by it.
    int32_t own_min = gcb->min_intro_pending;
    int32_t own_max = gcb->max_intro_pending;
    if (gcb->savestack_ix > floor)
        leave_scope(gcb, floor);
    gcb->pad_reset_pending = 0;
    gcb->compiling_statement->op.op_private = static_cast<uint8_t>(gcb->compile_hints);
    if (block_scope)
        gcb->compile_hints |= HINT_BLOCK_SCOPE;
    int32_t outer_min = gcb->min_intro_pending;
    int32_t outer_max = gcb->max_intro_pending;
    gcb->min_intro_pending = own_min;
    gcb->max_intro_pending = own_max;
    pad_leave_scope(gcb, gcb->comppad_name_fill);
    gcb->min_intro_pending = outer_min;
    gcb->max_intro_pending = outer_max;
    gcb->cop_seqmax++;
    return retval;
}

// ---- the program root ------------------------------------------------------------------

void op_new_program(PERLGCB* gcb, OP* o)
{
    if (gcb->in_eval) {
        if (gcb->eval_root)
            return;
        OP* root = op_new_unary(gcb, OP_LEAVEEVAL, (gcb->in_eval & 0x4) ? OPf_SPECIAL : 0, o);
        gcb->eval_root = root;
        gcb->eval_start = op_link_exec_order(gcb, root);
        root->op_private |= OPpREFCOUNTED;
        root->op_targ = 1;
        root->op_next = nullptr;
        op_peephole(gcb, gcb->eval_start);
        return;
    }
    if (!o)
        return;
    OP* root = op_new_scope(gcb, op_mark_parens(gcb, op_void_context(gcb, o)));
    gcb->main_root = root;
    gcb->current_statement = gcb->compiling_statement;
    gcb->main_start = op_link_exec_order(gcb, root);
    root->op_private |= OPpREFCOUNTED;
    root->op_targ = 1;
    root->op_next = nullptr;
    op_peephole(gcb, gcb->main_start);
    gcb->compile_cv = nullptr;
    if (gcb->debugger_flags & 0x08) {
        GV* gv = gv_fetch_by_name(gcb, "DB::postponed", 0, SVt_PVCV);
        CV* cv = gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) ? gv_gp(gv)->gp_cv : nullptr;
        if (cv) {
            SV** sp = gcb->arg_sp;
            push_mark(gcb, sp);
            sp = arg_stack_room(gcb, sp, 1);
            *++sp = as_sv(gcb->compiling_statement->cop_filegv);
            gcb->arg_sp = sp;
            interp_call_value(gcb, cv, CALL_DISCARD);
        }
    }
}

OP* op_link_exec_order(PERLGCB* gcb, OP* o)
{
    stack_check(gcb);
    if (o->op_next)
        return o->op_next;
    OP* first = op_has_kids(o) ? op_first_kid(o) : nullptr;
    if (!first) {
        o->op_next = o;
        return o;
    }
    o->op_next = op_link_exec_order(gcb, first);
    for (OP* kid = first; kid; kid = kid->op_sibling)
        kid->op_next = kid->op_sibling ? op_link_exec_order(gcb, kid->op_sibling) : o;
    return o->op_next;
}
