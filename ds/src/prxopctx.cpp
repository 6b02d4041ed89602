// Context propagation at compile time: scalar, void and list context, the
// reference and lvalue contexts with their errors, and my declarations.
#include <cstdarg>
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlex.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

void set_want(OP* o, uint8_t want) { o->op_flags = static_cast<uint8_t>((o->op_flags & ~OPf_WANT) | want); }

uint32_t args_of(PERLGCB* gcb, uint32_t type) { return gcb->op_args_table[type]; }

// An op that writes straight into a lexical keeps the context it has.
bool targets_lexical(PERLGCB* gcb, OP* o)
{
    return (o->op_private & OPpTARGET_MY) && (args_of(gcb, o->op_type) & OA_TARGLEX);
}

void make_compiling_current(PERLGCB* gcb) { gcb->current_statement = gcb->compiling_statement; }

typedef OP* (*context_fn)(PERLGCB* gcb, OP* o);

// The context on each kid from kid on.
void kids_from(PERLGCB* gcb, OP* kid, context_fn context)
{
    for (; kid; kid = kid->op_sibling)
        context(gcb, kid);
}

// A statement sequence: every kid but the last in void context, the last in
// the given one; with leading, the first kid too (leave, leavetry).
void sequence_context(PERLGCB* gcb, OP* o, context_fn last, bool leading)
{
    OP* kid = op_first_kid(o);
    if (leading) {
        last(gcb, kid);
        kid = kid->op_sibling;
    }
    for (; kid; kid = kid->op_sibling) {
        if (kid->op_sibling)
            op_void_context(gcb, kid);
        else
            last(gcb, kid);
    }
    make_compiling_current(gcb);
}

void warn_implicit_split(PERLGCB* gcb, OP* o)
{
    OP* kid = op_has_kids(o) ? op_first_kid(o) : nullptr;
    if (kid && kid->op_type == OP_PUSHRE && !reinterpret_cast<op_pattern*>(kid)->op_pmreplroot)
        warn_deprecated(gcb, "implicit split to @_");
}

// The bareword text of a const op.
const char* const_text(PERLGCB* gcb, OP* o)
{
    uint64_t len = 0;
    return sv_text(gcb, op_value_sv(o), &len);
}

// The modified-container bits that reference context gives a dereferenced scalar.
uint8_t deref_bits(int32_t type)
{
    return type == OP_RV2SV ? OPpDEREF_SV : type == OP_RV2AV ? OPpDEREF_AV : type == OP_RV2HV ? OPpDEREF_HV : 0;
}

}  // namespace

void op_compile_error(PERLGCB* gcb, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    SV* text = sv_new_formatted_va(gcb, fmt, &args);
    va_end(args);
    // A temporary, so that a reporter that does not return leaks nothing.
    sv_make_temporary(gcb, text);
    compile_error(gcb, sv_pv(text));
}

OP* op_scalar_context(PERLGCB* gcb, OP* o)
{
    stack_check(gcb);
    if (!o || op_want(o) || gcb->error_count || o->op_type == OP_RETURN)
        return o;
    set_want(o, OPf_WANT_SCALAR);
    switch (o->op_type) {
    case OP_REPEAT:
        if (o->op_private & OPpREPEAT_DOLIST)
            op_nullify(gcb, op_first_kid(op_first_kid(o)));
        op_scalar_context(gcb, op_first_kid(o));
        break;
    case OP_AND:
    case OP_OR:
    case OP_COND_EXPR:
        kids_from(gcb, op_first_kid(o)->op_sibling, op_scalar_context);
        break;
    case OP_LEAVE:
    case OP_LEAVETRY:
        sequence_context(gcb, o, op_scalar_context, true);
        break;
    case OP_SCOPE:
    case OP_LINESEQ:
    case OP_LIST:
        sequence_context(gcb, o, op_scalar_context, false);
        break;
    case OP_SPLIT:
        warn_implicit_split(gcb, o);
        [[fallthrough]];
    default:
        if (op_has_kids(o))
            kids_from(gcb, op_first_kid(o), op_scalar_context);
        break;
    }
    return o;
}

OP* op_void_context(PERLGCB* gcb, OP* o)
{
    stack_check(gcb);
    if (!o)
        return o;
    if (op_is_statement_type(op_real_type(o)))
        gcb->current_statement = reinterpret_cast<COP*>(o);
    if ((op_want(o) && op_want(o) != OPf_WANT_SCALAR) || gcb->error_count || o->op_type == OP_RETURN)
        return o;
    if (targets_lexical(gcb, o))
        return op_scalar_context(gcb, o);
    set_want(o, OPf_WANT_VOID);

    const char* useless = nullptr;
    bool self_described = false;
    switch (o->op_type) {
    case OP_WANTARRAY: case OP_GVSV: case OP_GV: case OP_PADSV: case OP_PADAV: case OP_PADHV:
    case OP_PADANY: case OP_AV2ARYLEN: case OP_REFGEN: case OP_SREFGEN: case OP_REF: case OP_DEFINED:
    case OP_HEX: case OP_OCT: case OP_LENGTH: case OP_VEC: case OP_INDEX: case OP_RINDEX: case OP_SPRINTF:
    case OP_AELEMFAST: case OP_AELEM: case OP_ASLICE: case OP_HELEM: case OP_HSLICE: case OP_UNPACK:
    case OP_PACK: case OP_JOIN: case OP_LSLICE: case OP_ANONLIST: case OP_ANONHASH: case OP_SORT:
    case OP_REVERSE: case OP_RANGE: case OP_FLIP: case OP_FLOP: case OP_CALLER: case OP_FILENO: case OP_EOF:
    case OP_TELL: case OP_GETSOCKNAME: case OP_GETPEERNAME: case OP_READLINK: case OP_TELLDIR:
    case OP_GETPPID: case OP_GETPGRP: case OP_GETPRIORITY: case OP_TIME: case OP_TMS: case OP_LOCALTIME:
    case OP_GMTIME: case OP_GHBYNAME: case OP_GHBYADDR: case OP_GHOSTENT: case OP_GNBYNAME: case OP_GNBYADDR:
    case OP_GNETENT: case OP_GPBYNAME: case OP_GPBYNUMBER: case OP_GPROTOENT: case OP_GSBYNAME:
    case OP_GSBYPORT: case OP_GSERVENT: case OP_GPWNAM: case OP_GPWUID: case OP_GGRNAM: case OP_GGRGID:
    case OP_GETLOGIN:
        self_described = true;
        break;
    case OP_SUBSTR:
        self_described = o->op_private != 4;
        break;
    case OP_RV2GV:
    case OP_RV2SV:
    case OP_RV2AV:
    case OP_RV2HV:
        if (!(o->op_private & (OPpLVAL_INTRO | OPpOUR_INTRO)) &&
            (!o->op_sibling || o->op_sibling->op_type != OP_READLINE))
            useless = "a variable";
        break;
    case OP_CONST: {
        SV* sv = op_value_sv(o);
        if (o->op_private & OPpCONST_STRICT) {
            error_queue(gcb, build_message(gcb, "Bareword \"%s\" not allowed while \"strict subs\" in use",
                                           const_text(gcb, o)));
        } else if (warn_enabled(gcb, WARN_VOID)) {
            useless = "a constant";
            if (sv->flags & (SVf_IOK | SVf_NOK)) {
                double n = sv_to_double(gcb, sv);
                if (n == 0.0 || n == 1.0)
                    useless = nullptr;
            } else if (sv->flags & SVf_POK) {
                const char* p = sv_pv(sv);
                if (sv_cur(sv) >= 2 && (std::strncmp(p, "di", 2) == 0 || std::strncmp(p, "ds", 2) == 0 ||
                                        std::strncmp(p, "ig", 2) == 0))
                    useless = nullptr;
            }
        }
        op_nullify(gcb, o);  // never run
        break;
    }
    case OP_POSTINC:
        op_set_type(gcb, o, OP_PREINC);
        break;
    case OP_POSTDEC:
        op_set_type(gcb, o, OP_PREDEC);
        break;
    case OP_AND:
    case OP_OR:
    case OP_COND_EXPR:
        kids_from(gcb, op_first_kid(o)->op_sibling, op_void_context);
        break;
    case OP_NULL:
        if (o->op_flags & OPf_STACKED)
            break;
        [[fallthrough]];
    case OP_NEXTSTATE:
    case OP_DBSTATE:
    case OP_ENTER:
    case OP_ENTERTRY:
    case OP_LIST:
    case OP_LINESEQ:
    case OP_LEAVE:
    case OP_SCOPE:
    case OP_LEAVELOOP:
    case OP_LEAVETRY:
        if (op_has_kids(o))
            kids_from(gcb, op_first_kid(o), op_void_context);
        break;
    case OP_ENTEREVAL:
        if (op_has_kids(o))
            kids_from(gcb, op_first_kid(o), op_scalar_context);
        break;
    case OP_REQUIRE:
        o->op_flags &= static_cast<uint8_t>(~OPf_WANT);
        return op_scalar_context(gcb, o);
    case OP_SCALAR:
        return op_scalar_context(gcb, o);
    case OP_SPLIT:
        warn_implicit_split(gcb, o);
        break;
    case OP_REPEAT:
        self_described = !(o->op_flags & OPf_STACKED);
        break;
    default:
        if (args_of(gcb, o->op_type) & OA_FOLDCONST)
            self_described = !(o->op_flags & OPf_STACKED);
        break;
    }
    if (self_described && !(o->op_private & (OPpLVAL_INTRO | OPpOUR_INTRO)))
        useless = gcb->op_desc_table[o->op_type];
    if (useless && warn_enabled(gcb, WARN_VOID))
        category_warning(gcb, WARN_VOID, "Useless use of %s in void context", useless);
    return o;
}

OP* op_list_context(PERLGCB* gcb, OP* o)
{
    stack_check(gcb);
    if (!o || op_want(o) || gcb->error_count || o->op_type == OP_RETURN || targets_lexical(gcb, o))
        return o;
    set_want(o, OPf_WANT_LIST);
    switch (o->op_type) {
    case OP_FLOP:
    case OP_REPEAT:
        op_list_context(gcb, op_first_kid(o));
        break;
    case OP_AND:
    case OP_OR:
    case OP_COND_EXPR:
        kids_from(gcb, op_first_kid(o)->op_sibling, op_list_context);
        break;
    case OP_LIST:
        kids_from(gcb, op_first_kid(o), op_list_context);
        break;
    case OP_LEAVE:
    case OP_LEAVETRY:
        sequence_context(gcb, o, op_list_context, true);
        break;
    case OP_SCOPE:
    case OP_LINESEQ:
        sequence_context(gcb, o, op_list_context, false);
        break;
    case OP_REQUIRE:
        o->op_flags &= static_cast<uint8_t>(~OPf_WANT);
        return op_scalar_context(gcb, o);
    default: {
        if (!op_has_kids(o))
            break;
        OP* first = op_first_kid(o);
        if (!o->op_next && first->op_type == OP_FLOP) {
            op_list_context(gcb, first);
            return op_fold_constant_list(gcb, o);
        }
        kids_from(gcb, first, op_list_context);
        break;
    }
    }
    return o;
}

OP* op_list_context_kids(PERLGCB* gcb, OP* o)
{
    if (o && op_has_kids(o))
        kids_from(gcb, op_first_kid(o), op_list_context);
    return o;
}

OP* op_scalar_context_kids(PERLGCB* gcb, OP* o)
{
    if (o && op_has_kids(o))
        kids_from(gcb, op_first_kid(o), op_scalar_context);
    return o;
}

OP* op_statement_seq(PERLGCB* gcb, OP* o)
{
    if (!o)
        return op_new_stub(gcb);
    uint32_t type = o->op_type;
    if (type == OP_LINESEQ || type == OP_SCOPE || type == OP_LEAVE || type == OP_LEAVETRY) {
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling)
            if (kid->op_sibling)
                op_void_context(gcb, kid);
        make_compiling_current(gcb);
    }
    o->op_flags &= static_cast<uint8_t>(~OPf_PARENS);
    if (gcb->compile_hints & HINT_BLOCK_SCOPE)
        o->op_flags |= OPf_PARENS;
    return o;
}

OP* op_ref_context_one(PERLGCB* gcb, OP* o, int32_t type)
{
    stack_check(gcb);
    if (!o || gcb->error_count)
        return o;
    switch (o->op_type) {
    case OP_ENTERSUB:
        if ((type == OP_DEFINED || type == OP_EXISTS || type == OP_LOCK) && !(o->op_flags & OPf_STACKED)) {
            op_set_type(gcb, o, OP_RV2CV);
            op_nullify(gcb, op_first_kid(op_first_kid(o)));  // the pushmark
            o->op_flags |= OPf_SPECIAL;
        }
        break;
    case OP_COND_EXPR:
        for (OP* kid = op_first_kid(o)->op_sibling; kid; kid = kid->op_sibling)
            op_ref_context_one(gcb, kid, type);
        break;
    case OP_RV2SV:
        if (type == OP_DEFINED)
            o->op_flags |= OPf_SPECIAL;
        op_ref_context_one(gcb, op_first_kid(o), o->op_type);
        [[fallthrough]];
    case OP_PADSV:
        if (uint8_t bits = deref_bits(type)) {
            o->op_private |= bits;
            o->op_flags |= OPf_MOD;
        }
        break;
    case OP_RV2AV:
    case OP_RV2HV:
        o->op_flags |= OPf_REF;
        [[fallthrough]];
    case OP_RV2GV:
        if (type == OP_DEFINED)
            o->op_flags |= OPf_SPECIAL;
        op_ref_context_one(gcb, op_first_kid(o), o->op_type);
        break;
    case OP_PADAV:
    case OP_PADHV:
        o->op_flags |= OPf_REF;
        break;
    case OP_SCALAR:
    case OP_NULL:
        if (op_has_kids(o))
            op_ref_context_one(gcb, op_first_kid(o), type);
        break;
    case OP_AELEM:
    case OP_HELEM:
        op_ref_context_one(gcb, op_first_kid(o), o->op_type);
        if (uint8_t bits = deref_bits(type)) {
            o->op_private |= bits;
            o->op_flags |= OPf_MOD;
        }
        break;
    case OP_SCOPE:
    case OP_LEAVE:
    case OP_ENTER:
    case OP_LIST:
        if (op_has_kids(o))
            op_ref_context_one(gcb, op_last_kid(o), type);
        break;
    default:
        break;
    }
    return op_scalar_context(gcb, o);
}

OP* op_ref_context(PERLGCB* gcb, OP* o, int32_t type)
{
    if (o && op_has_kids(o))
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling)
            op_ref_context_one(gcb, kid, type);
    return o;
}

namespace {

// The lvalue check of a sub call whose arguments end in the code operand.
// Returns false when the call is not modifiable.
bool lvalue_entersub(PERLGCB* gcb, OP* o)
{
    OP* kid = op_first_kid(o);
    if (kid->op_type != OP_PUSHMARK) {
        if (kid->op_type != OP_NULL || kid->op_targ != OP_LIST)
            fatal_error(gcb, "panic: unexpected lvalue entersub args: type/targ %ld:%ld",
                        static_cast<long>(kid->op_type), static_cast<long>(kid->op_targ));
        kid = op_first_kid(kid);
    }
    while (kid->op_sibling)
        kid = kid->op_sibling;
    if (kid->op_type == OP_NULL && kid->op_targ == OP_RV2CV) {
        OP* operand = op_first_kid(kid);
        if (operand->op_type == OP_NULL && operand->op_targ == OP_RV2SV && op_has_kids(operand))
            operand = op_first_kid(operand);
        if (operand->op_type == OP_NULL)
            fatal_error(gcb, "Unexpected constant lvalue entersub entry via type/targ %ld:%ld",
                        static_cast<long>(operand->op_type), static_cast<long>(operand->op_targ));
        if (operand->op_type == OP_GV) {
            GV* gv = sv_as<GV>(op_value_sv(operand));
            CV* cv = gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) ? gv_gp(gv)->gp_cv : nullptr;
            if (cv)
                return (cv_body(cv)->cvflags & CVf_LVALUE) != 0;
        }
        // Run the code operand again as rv2cv, right after its operand.
        kid->op_targ = 0;
        op_set_type(gcb, kid, OP_RV2CV);
        kid->op_private |= OPpLVAL_INTRO;
        kid->op_next = operand->op_next;
        operand->op_next = kid;
        return true;
    }
    if (kid->op_type == OP_METHOD || kid->op_type == OP_METHOD_NAMED) {
        if (kid->op_next == kid) {
            op_unary* cvop = static_cast<op_unary*>(pool_malloc(gcb, sizeof(op_unary)));
            std::memset(cvop, 0, sizeof *cvop);
            op_set_type(gcb, &cvop->op, OP_RV2CV);
            cvop->op.op_next = &cvop->op;
            cvop->op.op_private = OPpLVAL_INTRO;
            kid->op_sibling = &cvop->op;
        } else {
            compile_error(gcb, "panic: unexpected optree near method call");
        }
        return true;
    }
    if (kid->op_type != OP_RV2CV)
        fatal_error(gcb, "panic: unexpected lvalue entersub entry via type/targ %ld:%ld",
                    static_cast<long>(kid->op_type), static_cast<long>(kid->op_targ));
    kid->op_private |= OPpLVAL_INTRO;
    return true;
}

// A bareword in an lvalue place: a filehandle glob or a sub call.
OP* lvalue_bareword(PERLGCB* gcb, OP* o)
{
    const char* name = const_text(gcb, o);
    GV* gv = gv_fetch_by_name(gcb, name, 0, SVt_PVIO);
    OP* replacement;
    if (gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) && gv_gp(gv)->gp_io) {
        replacement = op_new_unary(gcb, OP_RV2GV, 0, op_new_glob(gcb, OP_GV, 0, gv));
    } else {
        gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVCV);
        replacement = op_new_unary(gcb, OP_ENTERSUB, 0,
                                   op_new_unary(gcb, OP_RV2CV, 0, op_new_glob(gcb, OP_GV, 0, gv)));
        replacement->op_private |= OPpLVAL_INTRO;
    }
    op_free_tree(gcb, o);
    return replacement;
}

// The lvalue context of o. With in_place, o stays where it is in its
// parent's kid chain, so it is never replaced: a bareword there is a
// constant like any other.
OP* lvalue_context(PERLGCB* gcb, OP* o, int32_t type, bool in_place)
{
    stack_check(gcb);
    if (!o || gcb->error_count || targets_lexical(gcb, o))
        return o;
    bool modifiable = true;
    switch (o->op_type) {
    case OP_UNDEF:
        gcb->modcount++;
        return o;
    case OP_CONST:
        if ((o->op_private & OPpCONST_BARE) && type != OP_GREPSTART && type != OP_ENTERSUB && type != OP_REFGEN) {
            if (in_place)
                modifiable = false;
            else
                o = lvalue_bareword(gcb, o);
        } else if (o->op_private & OPpCONST_ARYBASE) {
            COP* cop = gcb->compiling_statement;
            if (gcb->eval_start && gcb->eval_start->op_type == OP_CONST) {
                cop->cop_arybase = static_cast<int32_t>(sv_to_int(gcb, op_value_sv(gcb->eval_start)));
                gcb->eval_start = nullptr;
            } else if (!type) {
                save_push_i32(gcb, &cop->cop_arybase);
                cop->cop_arybase = 0;
            } else if (type != OP_REFGEN) {
                fatal_error(gcb, "That use of $[ is unsupported");
            }
        } else {
            modifiable = false;
        }
        break;
    case OP_STUB:
        modifiable = (o->op_flags & OPf_PARENS) != 0;
        break;
    case OP_ENTERSUB:
        if ((type == OP_UNDEF || type == OP_REFGEN) && !(o->op_flags & OPf_STACKED)) {
            op_set_type(gcb, o, OP_RV2CV);
            op_nullify(gcb, op_first_kid(op_first_kid(o)));  // the pushmark
            break;
        }
        o->op_private |= OPpLVAL_INTRO;
        gcb->modcount = MODCOUNT_UNLIMITED;
        if (type == OP_REFGEN || type == OP_GREPSTART || type == OP_ENTERSUB) {
            o->op_private |= OPpENTERSUB_INARGS;
            break;
        }
        modifiable = lvalue_entersub(gcb, o);
        break;
    case OP_PREINC: case OP_PREDEC: case OP_POW: case OP_MULTIPLY: case OP_I_MULTIPLY: case OP_DIVIDE:
    case OP_I_DIVIDE: case OP_MODULO: case OP_I_MODULO: case OP_REPEAT: case OP_ADD: case OP_I_ADD:
    case OP_SUBTRACT: case OP_I_SUBTRACT: case OP_CONCAT: case OP_LEFT_SHIFT: case OP_RIGHT_SHIFT:
    case OP_BIT_AND: case OP_BIT_XOR: case OP_BIT_OR:
        modifiable = (o->op_flags & OPf_STACKED) != 0;
        if (modifiable)
            gcb->modcount++;
        break;
    case OP_COND_EXPR:
        for (OP* kid = op_first_kid(o)->op_sibling; kid; kid = kid->op_sibling)
            op_lvalue_context_kid(gcb, kid, type);
        break;
    case OP_RV2AV:
    case OP_RV2HV:
        if (!type && op_first_kid(o)->op_type != OP_GV)
            fatal_error(gcb, "Can't localize through a reference");
        if (type == OP_REFGEN && (o->op_flags & OPf_PARENS)) {
            gcb->modcount = MODCOUNT_UNLIMITED;
            return o;
        }
        [[fallthrough]];
    case OP_RV2GV:
        if (op_is_scalar_lvalue_type(gcb, o, type)) {
            modifiable = false;
            break;
        }
        op_ref_context_one(gcb, op_first_kid(o), o->op_type);
        [[fallthrough]];
    case OP_ASLICE:
    case OP_HSLICE:
        if (type == OP_LEAVESUBLV)
            o->op_private |= OPpMAYBE_LVSUB;
        [[fallthrough]];
    case OP_AASSIGN:
    case OP_NEXTSTATE:
    case OP_DBSTATE:
    case OP_CHOMP:
        gcb->modcount = MODCOUNT_UNLIMITED;
        break;
    case OP_RV2SV:
        if (!type && op_first_kid(o)->op_type != OP_GV)
            fatal_error(gcb, "Can't localize through a reference");
        op_ref_context_one(gcb, op_first_kid(o), o->op_type);
        [[fallthrough]];
    case OP_GV:
    case OP_AV2ARYLEN:
        gcb->compile_hints |= HINT_BLOCK_SCOPE;
        [[fallthrough]];
    case OP_SASSIGN:
    case OP_AELEMFAST:
    case OP_ANDASSIGN:
    case OP_ORASSIGN:
        gcb->modcount++;
        break;
    case OP_PADAV:
    case OP_PADHV:
        gcb->modcount = MODCOUNT_UNLIMITED;
        if (type == OP_REFGEN && (o->op_flags & OPf_PARENS))
            return o;
        if (op_is_scalar_lvalue_type(gcb, o, type)) {
            modifiable = false;
            break;
        }
        if (type == OP_LEAVESUBLV)
            o->op_private |= OPpMAYBE_LVSUB;
        [[fallthrough]];
    case OP_PADSV:
        gcb->modcount++;
        if (!type) {
            SV* name = av_body(gcb->comppad_name)->array[o->op_targ];
            fatal_error(gcb, "Can't localize lexical variable %s", sv_pv(name));
        }
        break;
    case OP_PUSHMARK:
        break;
    case OP_KEYS:
    case OP_SUBSTR:
    case OP_POS:
    case OP_VEC:
        if ((o->op_type == OP_KEYS && type != OP_SASSIGN) || (o->op_type == OP_SUBSTR && o->op_private == 4)) {
            modifiable = false;
            break;
        }
        if (type == OP_LEAVESUBLV)
            o->op_private |= OPpMAYBE_LVSUB;
        // The value is kept as a place for the assignment: a lexical slot.
        pad_free(gcb, o->op_targ);
        o->op_targ = pad_alloc(gcb, o->op_type, PAD_KIND_MY);
        if (op_has_kids(o))
            op_lvalue_context_kid(gcb, op_first_kid(o)->op_sibling, type);
        break;
    case OP_AELEM:
    case OP_HELEM:
        op_ref_context_one(gcb, op_first_kid(o), o->op_type);
        if (type == OP_ENTERSUB && !(o->op_private & (OPpLVAL_INTRO | OPpOUR_INTRO)))
            o->op_private |= OPpLVAL_DEFER;
        if (type == OP_LEAVESUBLV)
            o->op_private |= OPpMAYBE_LVSUB;
        gcb->modcount++;
        break;
    case OP_SCOPE:
    case OP_LEAVE:
    case OP_ENTER:
    case OP_LINESEQ:
        if (op_has_kids(o))
            op_lvalue_context_kid(gcb, op_last_kid(o), type);
        break;
    case OP_NULL:
        if (o->op_flags & OPf_SPECIAL) {
            modifiable = false;  // a do block
            break;
        }
        if (!op_has_kids(o))
            break;
        if (o->op_targ != OP_LIST) {
            op_lvalue_context_kid(gcb, op_first_kid(o), type);
            break;
        }
        [[fallthrough]];
    case OP_LIST:
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling)
            op_lvalue_context_kid(gcb, kid, type);
        break;
    case OP_RETURN:
        modifiable = type == OP_LEAVESUBLV;
        break;
    default:
        modifiable = false;
        break;
    }
    if (!modifiable && type != OP_GREPSTART && type != OP_ENTERSUB && type != OP_REFGEN) {
        const char* what = o->op_type == OP_NULL && (o->op_flags & OPf_SPECIAL) ? "do block"
                           : o->op_type == OP_ENTERSUB                          ? "non-lvalue subroutine call"
                                                                                : gcb->op_desc_table[o->op_type];
        op_compile_error(gcb, "Can't modify %s in %s", what, type ? gcb->op_desc_table[type] : "local");
        return o;
    }
    if (type == OP_LEAVESUBLV)
        return o;
    o->op_flags |= OPf_MOD;
    if (type == OP_AASSIGN || type == OP_SASSIGN) {
        o->op_flags |= OPf_SPECIAL | OPf_REF;
    } else if (!type) {
        o->op_private |= OPpLVAL_INTRO;
        o->op_flags &= static_cast<uint8_t>(~OPf_SPECIAL);
        gcb->compile_hints |= HINT_BLOCK_SCOPE;
    } else if (type != OP_GREPSTART && type != OP_ENTERSUB && !op_is_file_test(o->op_type)) {
        o->op_flags |= OPf_REF;
    }
    return o;
}

}  // namespace

OP* op_lvalue_context(PERLGCB* gcb, OP* o, int32_t type) { return lvalue_context(gcb, o, type, false); }

void op_lvalue_context_kid(PERLGCB* gcb, OP* kid, int32_t type) { lvalue_context(gcb, kid, type, true); }

OP* op_declare_kid(PERLGCB* gcb, OP* o, OP* attrs)
{
    stack_check(gcb);
    if (!o || gcb->error_count)
        return o;
    switch (o->op_type) {
    case OP_LIST:
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling)
            op_declare_kid(gcb, kid, attrs);
        break;
    case OP_UNDEF:
        return o;
    case OP_RV2SV:
    case OP_RV2AV:
    case OP_RV2HV:
        o->op_private |= OPpOUR_INTRO;
        return o;
    case OP_PADSV:
    case OP_PADAV:
    case OP_PADHV:
        if (attrs) {
            SV* name = av_body(gcb->comppad_name)->array[o->op_targ];
            HV* stash = gcb->current_package;
            if ((name->flags & SVpad_TYPED) && sv_stash(name) && hv_body(sv_stash(name))->name)
                stash = sv_stash(name);
            gcb->declaring = 0;
            gcb->declaring_package = nullptr;
            sub_attach_attributes(gcb, stash, gcb->curpad[o->op_targ], attrs);
        }
        break;
    case OP_PUSHMARK:
        break;
    default:
        op_compile_error(gcb, "Can't declare %s in \"%s\"", gcb->op_desc_table[o->op_type],
                         gcb->declaring == DECLARING_OUR ? "our" : "my");
        return o;
    }
    o->op_flags |= OPf_MOD;
    o->op_private |= OPpLVAL_INTRO;
    return o;
}

OP* op_declare_my(PERLGCB* gcb, OP* o) { return op_declare_kid(gcb, o, nullptr); }

OP* op_declare_my_with_attrs(PERLGCB* gcb, OP* o, OP* attrs)
{
    if (o->op_flags & OPf_PARENS)
        op_list_context(gcb, o);
    if (attrs) {
        save_push_free_op_tree(gcb, attrs);
        // Applying them may die (their module may not load): the declared
        // ops, in no one's hands yet, go with the unwinding then. When they
        // are applied, the entry is dropped unrun.
        int32_t mark = gcb->savestack_ix;
        save_push_free_op_tree(gcb, o);
        o = op_declare_kid(gcb, o, attrs);
        gcb->savestack_ix = mark;
    } else {
        o = op_declare_kid(gcb, o, attrs);
    }
    gcb->declaring = 0;
    gcb->declaring_package = nullptr;
    return o;
}
