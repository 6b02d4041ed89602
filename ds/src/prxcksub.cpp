// The check routine of sub calls: the call op's own bits, the detached
// sub-lookup op, and the arguments checked and reshaped by the prototype of
// a sub known at compile time.
#include <cstring>

#include "prxck.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// The name of a sub in the messages: its glob's full effective name.
const char* sub_name(PERLGCB* gcb, GV* gv)
{
    SV* sv = sv_new_temporary(gcb);
    gv_effective_qualified_name(gcb, sv, gv, nullptr);
    return sv_pv(sv);
}

void bad_type(PERLGCB* gcb, int32_t arg, const char* want, GV* namegv, OP* kid)
{
    op_compile_error(gcb, "Type of arg %d to %s must be %s (not %s)", arg, sub_name(gcb, namegv), want,
                     op_desc_of(gcb, kid->op_type));
}

// Wraps the argument after prev in a reference; returns the refgen op that
// takes its place in the sibling chain.
OP* wrap_in_ref(PERLGCB* gcb, OP* prev, OP* kid)
{
    OP* sibling = kid->op_sibling;
    kid->op_sibling = nullptr;
    OP* ref = op_new_unary(gcb, OP_REFGEN, 0, kid);
    ref->op_sibling = sibling;
    prev->op_sibling = ref;
    return ref;
}

// A bareword written without parentheses where a glob is expected: the
// call the parser made of it goes back to a const op with the glob's name.
OP* bareword_call_to_name(PERLGCB* gcb, OP* prev, OP* kid)
{
    OP* holder = op_first_kid(kid);
    if (!holder || holder->op_type != OP_NULL || !op_has_kids(holder))
        return kid;
    OP* last = op_first_kid(holder);
    if (!last)
        return kid;
    while (last->op_sibling)
        last = last->op_sibling;
    if (!(last->op_private & 0x80) || !op_has_kids(last))
        return kid;
    OP* gvop = op_first_kid(last);
    if (!gvop || gvop->op_type != OP_GV)
        return kid;
    GV* gv = sv_as<GV>(op_value_sv(gvop));
    SV* name = sv_new_from_bytes(gcb, "", 0);
    gv_qualified_name(gcb, name, gv, nullptr, 1);
    if (sv_cur(name) > 6 && std::memcmp(sv_pv(name), "main::", 6) == 0)
        sv_chop_front(gcb, name, sv_pv(name) + 6);
    OP* sibling = kid->op_sibling;
    kid->op_sibling = nullptr;
    op_free_tree(gcb, kid);
    OP* konst = op_new_value(gcb, OP_CONST, 0, name);
    konst->op_sibling = sibling;
    prev->op_sibling = konst;
    return konst;
}

}  // namespace

OP* ck_entersub(PERLGCB* gcb, OP* o)
{
    o->op_private |= OPpENTERSUB_HASTARG;
    OP* holder = op_first_kid(o)->op_sibling ? o : op_first_kid(o);
    OP* prev = op_first_kid(holder);
    OP* kid = prev->op_sibling;
    OP* cvop = kid;
    while (cvop && cvop->op_sibling)
        cvop = cvop->op_sibling;
    if (!cvop)
        return o;

    const char* proto = nullptr;
    GV* namegv = nullptr;
    if (cvop->op_type == OP_RV2CV) {
        o->op_private |= static_cast<uint8_t>(cvop->op_private & OPpENTERSUB_AMPER);
        op_nullify(gcb, cvop);
        OP* gvop = op_has_kids(cvop) ? op_first_kid(cvop) : nullptr;
        if (gvop && gvop->op_type == OP_GV && !(o->op_private & OPpENTERSUB_AMPER)) {
            GV* gv = sv_as<GV>(op_value_sv(gvop));
            GP* gp = sv_is_glob(as_sv(gv)) ? gv_gp(gv) : nullptr;
            CV* cv = gp && gp->gp_cvgen == 0 ? gp->gp_cv : nullptr;
            if (!cv) {
                gvop->op_private |= OPpEARLY_CV;
            } else if (as_sv(cv)->flags & SVf_POK) {
                namegv = (cv_body(cv)->cvflags & CVf_ANON) || !cv_body(cv)->gv ? gv : cv_body(cv)->gv;
                proto = sv_pv(as_sv(cv));
            }
        }
    } else if (cvop->op_type == OP_METHOD || cvop->op_type == OP_METHOD_NAMED) {
        if (kid->op_type == OP_CONST) {
            kid->op_private &= static_cast<uint8_t>(~OPpCONST_STRICT);
        } else if (kid->op_type == OP_LIST && op_has_kids(kid)) {
            OP* second = op_first_kid(kid)->op_sibling;
            if (second && second->op_type == OP_CONST)
                second->op_private &= static_cast<uint8_t>(~OPpCONST_STRICT);
        }
    }
    o->op_private |= static_cast<uint8_t>(gcb->compile_hints & HINT_STRICT_REFS);
    if (gcb->debugger_flags & 0x01) {
        HV* db = gv_stash_by_name(gcb, "DB", 0);
        if (!db || gcb->current_package != db)
            o->op_private |= OPpENTERSUB_DB;
    }

    // The arguments' checks may die (a malformed prototype, a $[ that
    // cannot be modified): the call, in no one's hands yet, goes with the
    // unwinding then, once the message is made. Otherwise the entry is
    // dropped unrun.
    int32_t mark = gcb->savestack_ix;
    save_push_free_op_tree(gcb, o);
    const char* p = proto;
    bool optional = false;
    int32_t arg = 0;
    while (kid != cvop) {
        if (p) {
            switch (*p) {
            case '\0':
                op_compile_error(gcb, "Too many arguments for %s", sub_name(gcb, namegv));
                gcb->savestack_ix = mark;
                return o;
            case ';':
                optional = true;
                p++;
                continue;
            case ' ':
                p++;
                continue;
            case '$':
                p++;
                arg++;
                op_scalar_context(gcb, kid);
                break;
            case '@':
            case '%':
                arg++;
                op_list_context(gcb, kid);
                break;
            case '&':
                p++;
                arg++;
                if (kid->op_type != OP_REFGEN && kid->op_type != OP_UNDEF)
                    bad_type(gcb, arg, arg == 1 ? "block or sub {}" : "sub {}", namegv, kid);
                break;
            case '*':
                p++;
                arg++;
                if (kid->op_type == OP_RV2GV) {
                    kid = wrap_in_ref(gcb, prev, kid);
                    break;
                }
                if (kid->op_type == OP_CONST)
                    kid->op_private &= static_cast<uint8_t>(~OPpCONST_STRICT);
                else if (kid->op_type == OP_ENTERSUB)
                    kid = bareword_call_to_name(gcb, prev, kid);
                op_scalar_context(gcb, kid);
                break;
            case '\\': {
                p++;
                arg++;
                const char* want = nullptr;
                bool ok = false;
                switch (*p++) {
                case '$':
                    want = "scalar";
                    ok = kid->op_type == OP_RV2SV || kid->op_type == OP_PADSV || kid->op_type == OP_HELEM ||
                         kid->op_type == OP_AELEM || kid->op_type == OP_THREADSV;
                    break;
                case '@':
                    want = "array";
                    ok = kid->op_type == OP_RV2AV || kid->op_type == OP_PADAV;
                    break;
                case '%':
                    want = "hash";
                    ok = kid->op_type == OP_RV2HV || kid->op_type == OP_PADHV;
                    break;
                case '&':
                    want = "subroutine entry";
                    ok = kid->op_type == OP_ENTERSUB;
                    break;
                case '*':
                    want = "symbol";
                    ok = kid->op_type == OP_RV2GV;
                    break;
                default:
                    fatal_error(gcb, "Malformed prototype for %s: %s", sub_name(gcb, namegv), proto);
                }
                if (!ok)
                    bad_type(gcb, arg, want, namegv, kid);
                kid = wrap_in_ref(gcb, prev, kid);
                break;
            }
            default:
                fatal_error(gcb, "Malformed prototype for %s: %s", sub_name(gcb, namegv), proto);
            }
        } else {
            op_list_context(gcb, kid);
        }
        op_lvalue_context_kid(gcb, kid, OP_ENTERSUB);
        prev = kid;
        kid = kid->op_sibling;
    }
    // Blanks are no argument, also at the end.
    while (p && *p == ' ')
        p++;
    if (p && !optional && *p && *p != '@' && *p != '%' && *p != ';')
        op_compile_error(gcb, "Not enough arguments for %s", sub_name(gcb, namegv));
    gcb->savestack_ix = mark;
    return o;
}
