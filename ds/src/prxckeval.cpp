// Check routines of ops whose operands default to something other than $_
// or whose shape changes at compile time: string eval and eval blocks,
// require of a module name, system and exec, glob, the file tests and stat,
// eof and getc, pop and shift, select, print and printf.

#include "prxck.h"
#include "prxgv.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

OP* ck_entereval(PERLGCB* gcb, OP* o)
{
    gcb->compile_hints |= HINT_BLOCK_SCOPE;
    if (op_has_kids(o)) {
        OP* kid = op_first_kid(o);
        if (!kid) {
            o->op_flags &= static_cast<uint8_t>(~OPf_KIDS);
            op_nullify(gcb, o);
        } else if (kid->op_type == OP_LINESEQ) {
            // eval BLOCK: entertry in front of the block, which becomes leavetry.
            kid->op_next = o->op_next;
            op_first_kid(o) = nullptr;
            o->op_flags &= static_cast<uint8_t>(~OPf_KIDS);
            op_free_tree(gcb, o);
            OP* enter = &op_alloc_record<op_logical>(gcb)->op;
            op_set_type(gcb, enter, OP_ENTERTRY);
            enter->op_next = enter;
            o = op_list_prepend(gcb, OP_LINESEQ, enter, kid);
            op_set_type(gcb, o, OP_LEAVETRY);
            op_other_op(enter) = o;
            return o;
        } else {
            op_scalar_context(gcb, kid);
        }
    } else {
        op_free_tree(gcb, o);
        o = op_new_unary(gcb, OP_ENTEREVAL, 0, ck_default_scalar_operand(gcb));
    }
    // The hints under which the text will be compiled.
    o->op_targ = gcb->compile_hints;
    return o;
}

OP* ck_require(PERLGCB* gcb, OP* o)
{
    if (op_has_kids(o)) {
        OP* kid = op_first_kid(o);
        if (ck_is_bareword(kid)) {
            // Foo::Bar becomes Foo/Bar.pm.
            SV* sv = op_value_sv(kid);
            uint64_t len = 0;
            char* s = sv_text(gcb, sv, &len);
            uint64_t out = 0;
            for (uint64_t i = 0; i < len; i++) {
                if (s[i] == ':' && i + 1 < len && s[i + 1] == ':') {
                    s[out++] = '/';
                    i++;
                } else {
                    s[out++] = s[i];
                }
            }
            s[out] = 0;
            sv_cur(sv) = out;
            uint32_t readonly = sv->flags & SVf_READONLY;
            sv->flags &= ~SVf_READONLY;
            sv_append_bytes(gcb, sv, ".pm", 3);
            sv->flags |= readonly;
        }
    }
    return ck_scalar(gcb, o);
}

OP* ck_system(PERLGCB* gcb, OP* o)
{
    if (o->op_flags & OPf_STACKED) {
        o = ck_scalar(gcb, o);
        OP* kid = ck_first_operand(o);
        // The program block only yields the program.
        if (kid && kid->op_type == OP_RV2GV)
            op_nullify(gcb, kid);
        return o;
    }
    return op_list_context_kids(gcb, o);
}

OP* ck_glob(PERLGCB* gcb, OP* o)
{
    o = ck_scalar(gcb, o);
    if (op_has_kids(o) && !op_first_kid(o)->op_sibling)
        op_list_append(gcb, OP_GLOB, o, ck_default_scalar_operand(gcb));

    GV* gv = gv_fetch_by_name(gcb, "glob", 0, SVt_PVCV);
    if (!(gv && (gv_body(gv)->gvflags & GVf_IMPORT_CV)))
        gv = gv_fetch_by_name(gcb, "CORE::GLOBAL::glob", 0, SVt_PVCV);
    if (!gv) {
        // A load that dies abandons the parse with this op in no one's
        // hands: the save stack frees it then. When the load returns, the
        // entry is dropped unrun.
        int32_t mark = gcb->savestack_ix;
        save_push_free_op_tree(gcb, o);
        scope_enter(gcb);
        module_load_va(gcb, 0, sv_new_from_cstring(gcb, "File::Glob", 0), nullptr,
                       sv_new_from_cstring(gcb, ":globally", 0), nullptr);
        gv = gv_fetch_by_name(gcb, "CORE::GLOBAL::glob", 0, SVt_PVCV);
        scope_leave(gcb);
        gcb->savestack_ix = mark;
    }

    if (gv && (gv_body(gv)->gvflags & GVf_IMPORT_CV)) {
        // The override is called with the pattern and this glob op's index.
        op_list_append(gcb, OP_GLOB, o, op_new_value(gcb, OP_CONST, 0, sv_new_from_int(gcb, gcb->glob_index++)));
        op_set_type(gcb, o, OP_LIST);
        OP* mark = op_first_kid(o);
        op_set_type(gcb, mark, OP_PUSHMARK);
        mark->op_targ = 0;
        OP* cv = op_scalar_context(gcb, op_new_unary(gcb, OP_RV2CV, 0, op_new_glob(gcb, OP_GV, 0, gv)));
        o = op_list_append(gcb, OP_LIST, o, cv);
        o = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, o);
        o = ck_entersub(gcb, o);
        o = op_new_unary(gcb, OP_NULL, 0, o);
        o->op_targ = OP_GLOB;
        return o;
    }
    GV* handle = gv_new_generated(gcb, "main");
    gv_ensure_handle(gcb, handle);
    op_list_append(gcb, OP_GLOB, o, op_new_glob(gcb, OP_GV, 0, handle));
    sv_release(gcb, as_sv(handle));
    return op_scalar_context_kids(gcb, o);
}

OP* ck_lstat(PERLGCB* gcb, OP* o)
{
    if (o->op_flags & OPf_REF)
        return o;
    int32_t type = o->op_type;
    if (op_has_kids(o) && op_first_kid(o)->op_type != OP_STUB) {
        OP* kid = op_first_kid(o);
        if (!ck_is_bareword(kid))
            return o;
        // A bareword names the handle to test.
        GV* gv = gv_fetch_by_name(gcb, ck_const_text(gcb, kid), GV_ADD, SVt_PVIO);
        OP* newop = op_new_glob(gcb, type, OPf_REF, gv);
        op_free_tree(gcb, o);
        return newop;
    }
    op_free_tree(gcb, o);
    if (type == OP_FTTTY)
        return op_new_glob(gcb, type, OPf_REF, gv_fetch_by_name(gcb, "main::STDIN", GV_ADD, SVt_PVIO));
    return op_new_unary(gcb, type, 0, ck_default_scalar_operand(gcb));
}

OP* ck_getc(PERLGCB* gcb, OP* o)
{
    if (!op_has_kids(o))
        return o;
    if (op_first_kid(o)->op_type == OP_STUB) {
        // eof(): the end of the whole ARGV stream.
        int32_t type = o->op_type;
        op_free_tree(gcb, o);
        GV* argv = gv_fetch_by_name(gcb, "main::ARGV", GV_ADD, SVt_PVAV);
        o = op_new_unary(gcb, type, OPf_SPECIAL, op_new_glob(gcb, OP_GV, 0, argv));
    }
    return ck_scalar(gcb, o);
}

OP* ck_pop(PERLGCB* gcb, OP* o)
{
    int32_t type = o->op_type;
    if (!op_has_kids(o)) {
        op_free_tree(gcb, o);
        CV* cv = gcb->compile_cv;
        bool once = cv && (cv_body(cv)->cvflags & CVf_UNIQUE);
        GV* gv = once ? gv_fetch_by_name(gcb, "ARGV", GV_ADD, SVt_PVAV) : gv_default_glob(gcb);
        OP* array = op_new_unary(gcb, OP_RV2AV, 0, op_scalar_context(gcb, op_new_glob(gcb, OP_GV, 0, gv)));
        return op_new_unary(gcb, type, 0, op_scalar_context(gcb, array));
    }
    return op_scalar_context(gcb, ck_lvalue_kids(gcb, ck_scalar(gcb, o), type));
}

OP* ck_sselect(PERLGCB* gcb, OP* o)
{
    OP* kid = ck_first_operand(o);
    if (kid && kid->op_sibling) {
        op_set_type(gcb, o, OP_SSELECT);
        return op_fold_constant_subtree(gcb, ck_scalar(gcb, o));
    }
    o = ck_scalar(gcb, o);
    kid = ck_first_operand(o);
    // select(NAME): a string names the handle even under strict refs.
    if (kid && kid->op_type == OP_RV2GV)
        kid->op_private &= static_cast<uint8_t>(~OPpHINT_STRICT_REFS);
    return o;
}

OP* ck_prtf(PERLGCB* gcb, OP* o)
{
    if (!op_first_kid(o))
        o = op_wrap_in_list(gcb, o);
    OP** slot = &op_first_kid(o);
    OP* kid = *slot;
    if (kid && kid->op_type == OP_PUSHMARK) {
        slot = &kid->op_sibling;
        kid = kid->op_sibling;
    }
    if (kid && (o->op_flags & OPf_STACKED)) {
        kid = kid->op_sibling;
    } else if (kid && !kid->op_sibling && ck_is_bareword(kid)) {
        // print HANDLE: the lone bareword is the handle, $_ is printed.
        o->op_flags |= OPf_STACKED;
        kid = op_new_unary(gcb, OP_RV2GV, OPf_REF, op_scalar_context(gcb, kid));
        *slot = kid;
        op_last_kid(o) = kid;
        kid = kid->op_sibling;
    }
    if (!kid)
        op_list_append(gcb, o->op_type, o, ck_default_scalar_operand(gcb));
    o = op_list_context_kids(gcb, o);
    o->op_private = 0;
    return o;
}
