// Check routines of names, references and modifiable operands: constant
// names after a sigil resolved to their globs, method names hashed once,
// exists, delete and defined, the ops that modify or reference their
// operands, scalar assignment into a lexical target, anonymous subs.
#include <cstring>

#include "prxav.h"
#include "prxck.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// const PRIVATE: the lexer has already entered the name in the symbol table.
constexpr uint8_t CONST_ENTERED = 0x10;
// exists PRIVATE: the operand is a sub; delete PRIVATE: a slice.
constexpr uint8_t EXISTS_SUB = 0x40;
constexpr uint8_t DELETE_SLICE = 0x40;

// The word that names the kind a dereference needs, or null when the
// referent suits the op.
const char* referent_mismatch(PERLGCB* gcb, int32_t type, SV* referent)
{
    uint32_t t = sv_type(referent);
    switch (type) {
    case OP_RV2SV:
        return t <= SVt_PVMG ? nullptr : "a SCALAR";
    case OP_RV2AV:
        return t == SVt_PVAV ? nullptr : "an ARRAY";
    case OP_RV2HV: {
        if (t == SVt_PVHV)
            return nullptr;
        if (t == SVt_PVAV) {
            // A pseudo-hash: element 0 refers to the field-name hash.
            SV** first = av_fetch_element(gcb, sv_as<AV>(referent), 0, 0);
            if (first && *first && ((*first)->flags & SVf_ROK) && sv_type(sv_rv(*first)) == SVt_PVHV)
                return nullptr;
        }
        return "a HASH";
    }
    case OP_RV2CV:
        return t == SVt_PVCV ? nullptr : "a CODE";
    default:
        return nullptr;
    }
}

uint32_t glob_kind_for(int32_t type)
{
    switch (type) {
    case OP_RV2CV:
        return SVt_PVCV;
    case OP_RV2SV:
        return SVt_PV;
    case OP_RV2AV:
        return SVt_PVAV;
    case OP_RV2HV:
        return SVt_PVHV;
    default:
        return SVt_PVGV;
    }
}

}  // namespace

OP* ck_rv2gv(PERLGCB* gcb, OP* o)
{
    o->op_private |= static_cast<uint8_t>(gcb->compile_hints & HINT_STRICT_REFS);
    if (!op_has_kids(o))
        return o;
    OP* kid = op_first_kid(o);
    if (kid->op_type != OP_CONST)
        return o;
    int32_t type = o->op_type;
    SV* sv = op_value_sv(kid);
    if ((sv->flags & SVf_ROK) && (sv->flags & SVf_READONLY)) {
        // The value of a constant sub: the referent must suit the op.
        const char* bad = referent_mismatch(gcb, type, sv_rv(sv));
        if (bad) {
            save_push_free_op_tree(gcb, o);  // the unwinding frees it, once the message is made
            fatal_error(gcb, "Constant is not %s reference", bad);
        }
        return o;
    }
    uint64_t len = 0;
    const char* name = sv_text(gcb, sv, &len);
    if ((gcb->compile_hints & HINT_STRICT_REFS) && (kid->op_private & OPpCONST_BARE)) {
        const char* what = type == OP_RV2SV ? "a SCALAR" : type == OP_RV2AV ? "an ARRAY" : type == OP_RV2HV ? "a HASH" : nullptr;
        if (what) {
            save_push_free_op_tree(gcb, o);
            fatal_error(gcb, "Can't use bareword (\"%s\") as %s ref while \"strict refs\" in use", name, what);
        }
    }
    bool entered = kid->op_private & CONST_ENTERED;
    int32_t flags = (entered ? 0 : GV_ADD) | (type == OP_RV2CV ? GV_ADDMULTI : 0);
    GV* gv = gv_fetch_by_name(gcb, name, flags, glob_kind_for(type));
    if (!gv && !entered && type != OP_RV2CV)
        gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVCV);
    if (gv) {
        // The name is resolved once, here: the const becomes a gv op.
        op_set_type(gcb, kid, OP_GV);
        op_value_sv(kid) = as_sv(sv_refinc(as_sv(gv)));
        sv_release(gcb, sv);
        kid->op_private = 0;
    }
    return o;
}

OP* ck_method(PERLGCB* gcb, OP* o)
{
    OP* kid = op_first_kid(o);
    if (kid->op_type != OP_CONST)
        return o;
    SV* sv = op_value_sv(kid);
    uint64_t len = 0;
    const char* name = sv_text(gcb, sv, &len);
    if (std::memchr(name, ':', len) || std::memchr(name, '\'', len))
        return o;
    // A fixed method name carries its hash for the look-up at run time.
    if (sv_type(sv) < SVt_PVIV)
        sv_upgrade_body(gcb, sv, SVt_PVIV);
    if (sv->flags & SVf_OOK)
        sv_undo_offset(gcb, sv);
    name = sv_pv(sv);
    sv_iv(sv) = hv_key_hash(name, static_cast<int32_t>(len));
    sv->flags |= SVf_IOK | SVp_IOK;
    op_value_sv(kid) = nullptr;
    OP* newop = op_new_value(gcb, OP_METHOD_NAMED, 0, sv);
    op_free_tree(gcb, o);
    return newop;
}

OP* ck_exists(PERLGCB* gcb, OP* o)
{
    o = ck_scalar(gcb, o);
    if (!op_has_kids(o))
        return o;
    OP* kid = op_first_kid(o);
    if (kid->op_type == OP_ENTERSUB) {
        op_ref_context_one(gcb, kid, o->op_type);
        if (kid->op_type != OP_RV2CV && !gcb->error_count) {
            save_push_free_op_tree(gcb, o);
            fatal_error(gcb, "%s argument is not a subroutine name", op_desc_of(gcb, o->op_type));
        }
        o->op_private |= EXISTS_SUB;
    } else if (kid->op_type == OP_AELEM) {
        o->op_flags |= OPf_SPECIAL;
    } else if (kid->op_type != OP_HELEM) {
        save_push_free_op_tree(gcb, o);
        fatal_error(gcb, "%s argument is not a HASH or ARRAY element", op_desc_of(gcb, o->op_type));
    }
    op_nullify(gcb, kid);
    return o;
}

OP* ck_delete(PERLGCB* gcb, OP* o)
{
    o = ck_scalar(gcb, o);
    o->op_private = 0;
    if (!op_has_kids(o))
        return o;
    OP* kid = op_first_kid(o);
    switch (kid->op_type) {
    case OP_ASLICE:
        o->op_flags |= OPf_SPECIAL;
        o->op_private |= DELETE_SLICE;
        break;
    case OP_HSLICE:
        o->op_private |= DELETE_SLICE;
        break;
    case OP_AELEM:
        o->op_flags |= OPf_SPECIAL;
        break;
    case OP_HELEM:
        break;
    default:
        save_push_free_op_tree(gcb, o);
        fatal_error(gcb, "%s argument is not a HASH or ARRAY element or slice", op_desc_of(gcb, o->op_type));
    }
    op_nullify(gcb, kid);
    return o;
}

OP* ck_defined(PERLGCB* gcb, OP* o)
{
    if (op_has_kids(o) && warn_enabled(gcb, WARN_DEPRECATED)) {
        const char* what = nullptr;
        switch (op_first_kid(o)->op_type) {
        case OP_PADAV:
        case OP_AASSIGN:
            what = "defined(@array) is deprecated";
            break;
        case OP_PADHV:
            what = "defined(%%hash) is deprecated";
            break;
        default:
            break;
        }
        if (what) {
            category_warning(gcb, WARN_DEPRECATED, what);
            category_warning(gcb, WARN_DEPRECATED, "\t(Maybe you should just omit the defined()?)\n");
        }
    }
    return ck_lock(gcb, o);
}

OP* ck_lock(PERLGCB* gcb, OP* o)
{
    o = ck_scalar(gcb, o);
    return op_ref_context(gcb, o, o->op_type);
}

OP* ck_undef(PERLGCB* gcb, OP* o)
{
    o = ck_scalar(gcb, o);
    return ck_lvalue_kids(gcb, o, o->op_type);
}

OP* ck_refgen(PERLGCB* gcb, OP* o)
{
    if (op_has_kids(o)) {
        int32_t type = o->op_type;
        o = ck_lvalue_kids(gcb, ck_scalar(gcb, o), type);
        OP* list = op_first_kid(o);
        OP* operand = op_first_kid(list)->op_sibling;
        if (operand && (operand->op_sibling || !(op_args_of(gcb, operand->op_type) & OA_RETSCALAR) ||
                        operand->op_type == OP_PADAV || operand->op_type == OP_PADHV ||
                        operand->op_type == OP_RV2AV || operand->op_type == OP_RV2HV))
            return o;
        // One scalar operand: the single-value form, without the mark.
        OP* mark = op_first_kid(list);
        mark->op_sibling = nullptr;
        op_free_tree(gcb, mark);
        op_first_kid(list) = operand;
    }
    op_set_type(gcb, o, o->op_type + 1u);
    return ck_scalar(gcb, o);
}

OP* ck_sassign(PERLGCB* gcb, OP* o)
{
    OP* kid = op_first_kid(o);
    if (!(op_args_of(gcb, kid->op_type) & OA_TARGLEX) || (kid->op_flags & OPf_STACKED) ||
        (kid->op_private & OPpTARGET_MY))
        return o;
    OP* dest = kid->op_sibling;
    if (!dest || dest->op_type != OP_PADSV || (dest->op_private & OPpLVAL_INTRO))
        return o;
    // The source op writes straight into the lexical: assignment and
    // variable op go.
    kid->op_targ = dest->op_targ;
    dest->op_targ = 0;
    kid->op_sibling = o->op_sibling;
    op_first_kid(o) = nullptr;
    o->op_flags &= static_cast<uint8_t>(~OPf_KIDS);
    op_free_tree(gcb, o);
    dest->op_sibling = nullptr;
    op_free_tree(gcb, dest);
    kid->op_private |= OPpTARGET_MY;
    return kid;
}

OP* ck_return(PERLGCB* gcb, OP* o)
{
    CV* cv = gcb->compile_cv;
    if (cv && (cv_body(cv)->cvflags & CVf_LVALUE) && op_has_kids(o))
        for (OP* kid = op_first_kid(o)->op_sibling; kid; kid = kid->op_sibling)
            op_lvalue_context_kid(gcb, kid, OP_LEAVESUBLV);
    return o;
}

OP* ck_anoncode(PERLGCB* gcb, OP* o)
{
    // The pad name "&" marks a slot that holds an anonymous sub's prototype.
    SV* name = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, name, SVt_PVNV);
    sv_set_bytes(gcb, name, "&", 1);
    sv_iv(name) = -1;
    sv_nv(name) = 1;
    uint32_t ix = pad_alloc(gcb, o->op_type, PAD_KIND_MY);
    av_store_element(gcb, gcb->comppad_name, static_cast<int32_t>(ix), name);
    SV* cv = op_value_sv(o);
    av_store_element(gcb, gcb->comppad, static_cast<int32_t>(ix), cv);
    gcb->curpad = av_body(gcb->comppad)->array;
    cv->flags |= SVs_PADBUSY | SVs_PADMY;
    op_value_sv(o) = nullptr;
    o->op_targ = ix;
    return o;
}

OP* ck_repeat(PERLGCB* gcb, OP* o)
{
    OP* kid = op_first_kid(o);
    if (kid->op_flags & OPf_PARENS) {
        // (LIST) x N repeats the list.
        o->op_private |= OPpREPEAT_DOLIST;
        OP* sibl = kid->op_sibling;
        kid->op_sibling = nullptr;
        OP* list = op_wrap_in_list(gcb, kid);
        list->op_sibling = sibl;
        op_first_kid(o) = list;
    } else {
        op_scalar_context(gcb, o);
    }
    return o;
}
