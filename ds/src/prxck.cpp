// The generic argument check and the check routines of one or two
// decisions: operand counts and classes against the argument-class word,
// the default $_, bareword arrays, hashes and handles, and the small
// rewrites of const, concat, the bit and string comparison ops, index,
// join, truncate, substr and backtick.
#include <cstring>
#include <initializer_list>

#include "prxav.h"
#include "prxck.h"
#include "prxgv.h"
#include "prxio.h"
#include "prxhv.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxsearch.h"
#include "prxsv.h"

OP* ck_default_scalar_operand(PERLGCB* gcb)
{
    return op_new_scalar_deref(gcb, op_new_glob(gcb, OP_GV, 0, gv_default_glob(gcb)));
}

OP* ck_lvalue_kids(PERLGCB* gcb, OP* o, int32_t type)
{
    if (o && op_has_kids(o))
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling)
            op_lvalue_context_kid(gcb, kid, type);
    return o;
}

bool ck_is_bareword(const OP* o) { return o->op_type == OP_CONST && (o->op_private & OPpCONST_BARE); }

const char* ck_const_text(PERLGCB* gcb, OP* o)
{
    uint64_t len = 0;
    return sv_text(gcb, op_value_sv(o), &len);
}

OP* ck_first_operand(OP* o)
{
    if (!op_has_kids(o))
        return nullptr;
    OP* kid = op_first_kid(o);
    if (kid && op_real_type(kid) == OP_PUSHMARK)
        kid = kid->op_sibling;
    return kid;
}

namespace {

// Operand classes of the argument-class word.
enum : uint32_t {
    ARG_SCALAR = 1,
    ARG_LIST = 2,
    ARG_ARRAY = 3,
    ARG_HASH = 4,
    ARG_CODE = 5,
    ARG_HANDLE = 6,
    ARG_SCALAR_REF = 7,
    ARG_OPTIONAL = 8,
};

// Record classes whose shape keeps LAST.
bool shape_has_last(PERLGCB* gcb, OP* o)
{
    uint32_t cls = (op_args_of(gcb, o->op_type) & OA_CLASS_MASK) >> OA_CLASS_SHIFT;
    return cls == 2 || cls == 4 || cls == 5 || cls == 9;
}

// Puts repl where old stood in o's kid chain (slot is the link that held
// old), followed by sibl; a LAST that named old names repl.
void replace_kid(PERLGCB* gcb, OP* o, OP** slot, OP* old, OP* repl, OP* sibl)
{
    repl->op_sibling = sibl;
    *slot = repl;
    if (shape_has_last(gcb, o) && op_last_kid(o) == old)
        op_last_kid(o) = repl;
}

// A bareword written where an array or hash is expected: the array or hash
// of that name.
OP* bareword_aggregate(PERLGCB* gcb, OP* kid, bool array, int32_t n, int32_t type)
{
    const char* name = ck_const_text(gcb, kid);
    OP* gvop = op_new_glob(gcb, OP_GV, 0, gv_fetch_by_name(gcb, name, GV_ADD, array ? SVt_PVAV : SVt_PVHV));
    OP* newop;
    if (gvop->op_type == OP_PADANY) {
        op_set_type(gcb, gvop, array ? OP_PADAV : OP_PADHV);
        newop = gvop;
    } else {
        newop = op_new_unary(gcb, array ? OP_RV2AV : OP_RV2HV, 0, op_scalar_context(gcb, gvop));
    }
    if (warn_enabled(gcb, WARN_DEPRECATED))
        category_warning(gcb, WARN_DEPRECATED,
                         array ? "Array @%s missing the @ in argument %ld of %s()"
                               : "Hash %%%s missing the %% in argument %ld of %s()",
                         name, static_cast<int32_t>(n), op_desc_of(gcb, type));
    return newop;
}

// Whether operand n of an op of the type makes a new handle.
bool constructs_handle(int32_t type, int32_t n)
{
    switch (type) {
    case OP_PIPE_OP:
    case OP_SOCKPAIR:
        return n == 1 || n == 2;
    case OP_OPEN:
    case OP_SELECT:
    case OP_SYSOPEN:
    case OP_SOCKET:
    case OP_ACCEPT:
    case OP_OPEN_DIR:
        return n == 1;
    default:
        return false;
    }
}

// The name a handle made from an expression gets: a lexical's pad name, a
// package scalar's glob name, or "__ANONIO__" for an element.
bool handle_name(PERLGCB* gcb, OP* kid, int32_t type, const char** name, uint64_t* len)
{
    if (kid->op_type == OP_PADSV) {
        AV* names = gcb->comppad_name;
        SV* namesv = names && static_cast<int32_t>(kid->op_targ) <= av_body(names)->fill
                         ? av_body(names)->array[kid->op_targ]
                         : nullptr;
        if (!namesv || namesv == &gcb->sv_undef)
            return false;
        *name = sv_text(gcb, namesv, len);
        return true;
    }
    if (kid->op_type == OP_RV2SV && op_first_kid(kid)->op_type == OP_GV) {
        GV* gv = sv_as<GV>(op_value_sv(op_first_kid(kid)));
        *name = gv_body(gv)->name;
        *len = gv_body(gv)->namelen;
        return *name != nullptr;
    }
    if (kid->op_type == OP_AELEM || kid->op_type == OP_HELEM) {
        op_lvalue_context_kid(gcb, kid, type);
        *name = "__ANONIO__";
        *len = 10;
        return true;
    }
    return false;
}

// A handle operand: a glob stays, a bareword names one, anything else is
// dereferenced as a glob (creating the handle where the op makes one).
OP* handle_operand(PERLGCB* gcb, OP* kid, int32_t type, int32_t n)
{
    if (kid->op_type == OP_GV || kid->op_type == OP_RV2GV)
        return kid;
    if (ck_is_bareword(kid))
        return op_new_glob(gcb, OP_GV, 0, gv_fetch_by_name(gcb, ck_const_text(gcb, kid), GV_ADD, SVt_PVIO));
    if (kid->op_type == OP_READLINE) {
        op_compile_error(gcb, "Type of arg %d to %s must be %s (not %s)", n, op_desc_of(gcb, type), "HANDLE",
                         op_desc_of(gcb, OP_READLINE));
        return kid;
    }
    int32_t flags = OPf_SPECIAL;
    uint8_t priv = 0;
    uint32_t targ = 0;
    if (constructs_handle(type, n)) {
        flags = 0;
        priv = OPpDEREF;
        const char* name = nullptr;
        uint64_t len = 0;
        if (handle_name(gcb, kid, type, &name, &len)) {
            targ = pad_alloc(gcb, OP_RV2GV, PAD_KIND_TMP);
            SV* namesv = gcb->curpad[targ];
            sv_upgrade_body(gcb, namesv, SVt_PV);
            sv_set_bytes(gcb, namesv, "", 0);
            if (len == 0 || name[0] != '$')
                sv_append_bytes(gcb, namesv, "$", 1);
            sv_append_bytes(gcb, namesv, name, len);
        }
    }
    kid->op_sibling = nullptr;
    OP* newop = op_new_unary(gcb, OP_RV2GV, flags, op_scalar_context(gcb, kid));
    newop->op_targ = targ;
    newop->op_private |= priv;
    return newop;
}

}  // namespace

OP* ck_scalar(PERLGCB* gcb, OP* o)
{
    int32_t type = o->op_type;
    uint32_t word = op_args_of(gcb, type);
    uint32_t classes = word >> OA_OPERAND_SHIFT;

    if (o->op_flags & OPf_STACKED) {
        // An indirect object or handle block stands in for an optional
        // first operand that a mandatory one follows.
        if ((word & 0x10000) && (word >> 17) && !(word & 0x100000)) {
            classes &= ~static_cast<uint32_t>(ARG_OPTIONAL);
        } else {
            op_compile_error(gcb, "Missing comma after first argument to %s function", op_desc_of(gcb, type));
            return o;
        }
    }

    if (op_has_kids(o)) {
        OP** slot = &op_first_kid(o);
        OP* prev = nullptr;
        OP* kid = *slot;
        if (kid && op_real_type(kid) == OP_PUSHMARK) {
            prev = kid;
            slot = &kid->op_sibling;
            kid = kid->op_sibling;
        }
        if (!kid && (word & OA_DEFGV)) {
            kid = ck_default_scalar_operand(gcb);
            *slot = kid;
            if (prev && shape_has_last(gcb, o) && op_last_kid(o) == prev)
                op_last_kid(o) = kid;
        }

        int32_t n = 1;
        int32_t numargs = 0;
        while (classes && kid) {
            numargs++;
            OP* sibl = kid->op_sibling;
            switch (classes & 7) {
            case ARG_SCALAR:
                if (n == 1 && classes < 16 && kid->op_type == OP_LIST && type != OP_SCALAR) {
                    op_compile_error(gcb, "Too many arguments for %s", op_desc_of(gcb, type));
                    return o;
                }
                op_scalar_context(gcb, kid);
                break;
            case ARG_LIST:
                if (classes < 16) {
                    // A trailing list takes every remaining operand.
                    kid = nullptr;
                    continue;
                }
                op_list_context(gcb, kid);
                break;
            case ARG_ARRAY:
            case ARG_HASH: {
                bool array = (classes & 7) == ARG_ARRAY;
                if (ck_is_bareword(kid)) {
                    OP* newop = bareword_aggregate(gcb, kid, array, n, type);
                    replace_kid(gcb, o, slot, kid, newop, sibl);
                    kid->op_sibling = nullptr;
                    op_free_tree(gcb, kid);
                    kid = newop;
                } else if (array ? (kid->op_type != OP_RV2AV && kid->op_type != OP_PADAV)
                                 : (kid->op_type != OP_RV2HV && kid->op_type != OP_PADHV)) {
                    op_compile_error(gcb, "Type of arg %d to %s must be %s (not %s)", n, op_desc_of(gcb, type),
                                     array ? "array" : "hash", op_desc_of(gcb, kid->op_type));
                }
                op_lvalue_context_kid(gcb, kid, type);
                break;
            }
            case ARG_CODE: {
                kid->op_sibling = nullptr;
                OP* newop = op_new_unary(gcb, OP_NULL, 0, kid);
                if (!kid->op_next)
                    op_link_exec_order(gcb, kid);
                newop->op_next = newop;
                replace_kid(gcb, o, slot, kid, newop, sibl);
                kid = newop;
                break;
            }
            case ARG_HANDLE: {
                OP* newop = handle_operand(gcb, kid, type, n);
                if (newop != kid) {
                    replace_kid(gcb, o, slot, kid, newop, sibl);
                    // A bareword became its glob: the constant goes.
                    if (newop->op_type == OP_GV) {
                        kid->op_sibling = nullptr;
                        op_free_tree(gcb, kid);
                    }
                    kid = newop;
                }
                op_scalar_context(gcb, kid);
                break;
            }
            case ARG_SCALAR_REF:
                op_scalar_context(gcb, kid);
                op_lvalue_context_kid(gcb, kid, type);
                break;
            default:
                break;
            }
            classes >>= 4;
            slot = &kid->op_sibling;
            kid = kid->op_sibling;
            n++;
        }
        o->op_private |= static_cast<uint8_t>(numargs);
        if (kid) {
            op_compile_error(gcb, "Too many arguments for %s", op_desc_of(gcb, type));
            return o;
        }
        op_list_context_kids(gcb, o);
    } else if (word & OA_DEFGV) {
        op_free_tree(gcb, o);
        return op_new_unary(gcb, type, 0, ck_default_scalar_operand(gcb));
    }

    while (classes & ARG_OPTIONAL)
        classes >>= 4;
    if (classes && classes != ARG_LIST)
        op_compile_error(gcb, "Not enough arguments for %s", op_desc_of(gcb, type));
    return o;
}

OP* ck_null(PERLGCB*, OP* o) { return o; }

OP* ck_const(PERLGCB*, OP* o)
{
    op_value_sv(o)->flags |= SVf_READONLY;
    return o;
}

OP* ck_concat(PERLGCB*, OP* o)
{
    if (op_first_kid(o)->op_type == OP_CONCAT)
        o->op_flags |= OPf_STACKED;
    return o;
}

OP* ck_left_shift(PERLGCB* gcb, OP* o)
{
    o->op_private = static_cast<uint8_t>(gcb->compile_hints);
    return o;
}

OP* ck_slt(PERLGCB*, OP* o)
{
    o->op_private = 0;
    return o;
}

OP* ck_match(PERLGCB*, OP* o)
{
    o->op_private |= 0x40;
    return o;
}

OP* ck_index(PERLGCB* gcb, OP* o)
{
    OP* kid = ck_first_operand(o);
    if (kid)
        kid = kid->op_sibling;
    if (kid && kid->op_type == OP_CONST)
        boyer_moore_prepare(gcb, op_value_sv(kid), 0);
    return ck_scalar(gcb, o);
}

OP* ck_length(PERLGCB* gcb, OP* o) { return ck_scalar(gcb, o); }

OP* ck_exit(PERLGCB* gcb, OP* o) { return ck_scalar(gcb, o); }

OP* ck_sprintf(PERLGCB* gcb, OP* o)
{
    o = ck_scalar(gcb, o);
    // The locale bit is the only PRIVATE bit these ops read: folding leaves
    // them alone under it and the case ops taint their result.
    o->op_private = (gcb->compile_hints & HINT_LOCALE) ? 0x40 : 0;
    return o;
}

OP* ck_join(PERLGCB* gcb, OP* o)
{
    OP* kid = ck_first_operand(o);
    if (kid && kid->op_type == OP_MATCH && warn_enabled(gcb, WARN_SYNTAX)) {
        re_compiled* rx = op_as_pattern(kid)->op_pmregexp;
        char* text = rx ? pool_strndup(gcb, rx->pattern_text, rx->pattern_length) : nullptr;
        const char* shown = text ? text : "STRING";
        category_warning(gcb, WARN_SYNTAX, "/%s/ should probably be written as \"%s\"", shown, shown);
        pool_free(gcb, text);
    }
    return ck_scalar(gcb, o);
}

OP* ck_truncate(PERLGCB* gcb, OP* o)
{
    if (op_has_kids(o)) {
        OP* kid = op_first_kid(o);
        if (kid->op_type == OP_NULL)
            kid = kid->op_sibling;
        if (kid && ck_is_bareword(kid)) {
            o->op_flags |= OPf_SPECIAL;
            kid->op_private &= static_cast<uint8_t>(~OPpCONST_STRICT);
        }
    }
    return ck_scalar(gcb, o);
}

OP* ck_substr(PERLGCB* gcb, OP* o)
{
    o = ck_scalar(gcb, o);
    if (op_has_kids(o) && o->op_private == 4) {
        OP* kid = op_first_kid(o);
        if (kid->op_type == OP_NULL)
            kid = kid->op_sibling;
        if (kid)
            kid->op_flags |= OPf_MOD;
    }
    return o;
}

OP* ck_backtick(PERLGCB* gcb, OP* o)
{
    GV* hints = gv_hints_glob(gcb);
    HV* table = hints && gv_gp(hints) ? gv_gp(hints)->gp_hv : nullptr;
    if (table) {
        for (const char* key : {"open_IN", "open_OUT"}) {
            SV** svp = hv_fetch_str(gcb, table, key, static_cast<int32_t>(std::strlen(key)), 0);
            if (svp && *svp && sv_ok(*svp))
                do_parse_discipline(gcb, *svp);
        }
    }
    if (o->op_type == OP_BACKTICK)
        return o;
    return ck_scalar(gcb, o);
}
