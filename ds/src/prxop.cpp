// Op construction: the builders of every record shape, the list helpers the
// grammar grows argument lists with, freeing and nulling of ops, block ops,
// and the pattern lists of packages.
#include "prxop.h"

#include <cstring>

#include "prxhv.h"
#include "prxmsg.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxsv.h"

namespace {

// A zero-filled record of the given size with TYPE and RUN set.
OP* op_alloc(PERLGCB* gcb, uint64_t size, int32_t type)
{
    OP* o = static_cast<OP*>(pool_malloc(gcb, size));
    std::memset(o, 0, size);
    op_set_type(gcb, o, static_cast<uint32_t>(type));
    return o;
}

uint32_t args_of(PERLGCB* gcb, int32_t type) { return gcb->op_args_table[type]; }

// Refusal under the op mask: the op goes as a tree would, then the error.
void check_op_mask(PERLGCB* gcb, OP* o, int32_t type)
{
    if (gcb->op_mask && gcb->op_mask[type]) {
        op_free_tree(gcb, o);
        fatal_error(gcb, "%s trapped by operation mask", gcb->op_desc_table[type]);
    }
}

OP* run_check(PERLGCB* gcb, OP* o, int32_t type) { return gcb->op_check_table[type](gcb, o); }

// Steps 4 to 8 of every leaf builder; private_from_flags for the base shape only.
OP* finish_leaf(PERLGCB* gcb, OP* o, int32_t type, int32_t flags, bool private_from_flags)
{
    o->op_next = o;
    o->op_flags = static_cast<uint8_t>(flags);
    if (private_from_flags)
        o->op_private = static_cast<uint8_t>(flags >> 8);
    uint32_t args = args_of(gcb, type);
    if (args & OA_RETSCALAR)
        op_scalar_context(gcb, o);
    if (args & OA_TARGET)
        o->op_targ = pad_alloc(gcb, type, PAD_KIND_TMP);
    check_op_mask(gcb, o, type);
    return run_check(gcb, o, type);
}

// The pad target of an op goes back to the pool of temporaries.
void release_target(PERLGCB* gcb, OP* o)
{
    if (o->op_targ && gcb->curpad)
        pad_free(gcb, o->op_targ);
    o->op_targ = 0;
}

// The pattern part of match, qr, subst and pushre.
void clear_pattern(PERLGCB* gcb, op_pattern* pm)
{
    op_pattern_list_remove(gcb, pm);
    pm->op_pmreplroot = nullptr;
    re_compiled* rx = pm->op_pmregexp;
    pm->op_pmregexp = nullptr;
    if (rx)
        gcb->re_hook_free(gcb, rx);
}

}  // namespace

// ---- leaf builders ----------------------------------------------------------

OP* op_new_base(PERLGCB* gcb, int32_t type, int32_t flags)
{
    OP* o = op_alloc(gcb, sizeof(OP), type);
    return finish_leaf(gcb, o, type, flags, true);
}

OP* op_new_stub(PERLGCB* gcb) { return op_new_base(gcb, OP_STUB, 0); }

OP* op_new_value(PERLGCB* gcb, int32_t type, int32_t flags, SV* sv)
{
    OP* o = op_alloc(gcb, sizeof(op_value), type);
    op_value_sv(o) = sv;
    return finish_leaf(gcb, o, type, flags, false);
}

OP* op_new_glob(PERLGCB* gcb, int32_t type, int32_t flags, GV* gv)
{
    return op_new_value(gcb, type, flags, sv_refinc(as_sv(gv)));
}

OP* op_new_padref(PERLGCB* gcb, int32_t type, int32_t flags, SV* sv)
{
    OP* o = op_alloc(gcb, sizeof(op_pad), type);
    uint32_t slot = pad_alloc(gcb, type, PAD_KIND_TMP);
    reinterpret_cast<op_pad*>(o)->op_padix = slot;
    SV* old = gcb->curpad[slot];
    gcb->curpad[slot] = sv;
    sv_release(gcb, old);
    sv->flags |= SVs_PADTMP | SVs_PADBUSY;
    return finish_leaf(gcb, o, type, flags, false);
}

OP* op_new_string(PERLGCB* gcb, int32_t type, int32_t flags, char* pv)
{
    OP* o = op_alloc(gcb, sizeof(op_string), type);
    reinterpret_cast<op_string*>(o)->op_pv = pv;
    return finish_leaf(gcb, o, type, flags, false);
}

// ---- ops with kids ------------------------------------------------------------

OP* op_new_unary(PERLGCB* gcb, int32_t type, int32_t flags, OP* first)
{
    if (!first)
        first = op_new_base(gcb, OP_STUB, 0);
    if (args_of(gcb, type) & OA_MARK)
        first = op_wrap_in_list(gcb, first);
    OP* o = op_alloc(gcb, sizeof(op_unary), type);
    op_first_kid(o) = first;
    o->op_flags = static_cast<uint8_t>(flags | OPf_KIDS);
    o->op_private = static_cast<uint8_t>((flags >> 8) | 1);
    check_op_mask(gcb, o, type);
    o = run_check(gcb, o, type);
    if (o->op_next)
        return o;
    return op_fold_constant_subtree(gcb, o);
}

OP* op_new_binary(PERLGCB* gcb, int32_t type, int32_t flags, OP* first, OP* last)
{
    OP* o = op_alloc(gcb, sizeof(op_binary), type);
    if (!first)
        first = op_new_base(gcb, OP_NULL, 0);
    op_first_kid(o) = first;
    o->op_flags = static_cast<uint8_t>(flags | OPf_KIDS);
    if (last) {
        o->op_private = static_cast<uint8_t>((flags >> 8) | 2);
        first->op_sibling = last;
    } else {
        o->op_private = static_cast<uint8_t>((flags >> 8) | 1);
    }
    check_op_mask(gcb, o, type);
    o = run_check(gcb, o, type);
    if (o->op_next || o->op_type != type)
        return o;
    op_last_kid(o) = op_first_kid(o)->op_sibling;
    return op_fold_constant_subtree(gcb, o);
}

OP* op_new_list(PERLGCB* gcb, int32_t type, int32_t flags, OP* first, OP* last)
{
    OP* o = op_alloc(gcb, sizeof(op_list), type);
    uint8_t f = static_cast<uint8_t>(flags);
    if (first) {
        f |= OPf_KIDS;
        if (last)
            first->op_sibling = last;
        else
            last = first;
    } else if (last) {
        f |= OPf_KIDS;
        first = last;
    }
    o->op_flags = f;
    op_first_kid(o) = first;
    op_last_kid(o) = last;
    if (type == OP_LIST) {
        OP* mark = op_new_base(gcb, OP_PUSHMARK, 0);
        mark->op_sibling = first;
        o->op_flags |= OPf_KIDS;
        op_first_kid(o) = mark;
        if (!last)
            op_last_kid(o) = mark;
    }
    return o;
}

OP* op_convert_list(PERLGCB* gcb, int32_t type, int32_t flags, OP* o)
{
    if (!o || o->op_type != OP_LIST)
        o = op_new_list(gcb, OP_LIST, 0, o, nullptr);
    else
        o->op_flags &= static_cast<uint8_t>(~OPf_WANT);
    if (!(args_of(gcb, type) & OA_MARK)) {
        OP* mark = op_first_kid(o);
        if (mark && mark->op_type != OP_NULL)
            op_nullify(gcb, mark);
    }
    op_set_type(gcb, o, static_cast<uint32_t>(type));
    o->op_flags |= static_cast<uint8_t>(flags);
    check_op_mask(gcb, o, type);
    o = run_check(gcb, o, type);
    if (o->op_type != type)
        return o;
    return op_fold_constant_subtree(gcb, o);
}

OP* op_wrap_in_list(PERLGCB* gcb, OP* o)
{
    if (!o || o->op_type != OP_LIST)
        o = op_new_list(gcb, OP_LIST, 0, o, nullptr);
    op_nullify(gcb, o);
    return o;
}

// ---- list helpers ---------------------------------------------------------------

OP* op_list_append(PERLGCB* gcb, int32_t type, OP* first, OP* last)
{
    if (!first)
        return last;
    if (!last)
        return first;
    if (first->op_type != type || (type == OP_LIST && (first->op_flags & OPf_PARENS)))
        return op_new_list(gcb, type, 0, first, last);
    if (op_has_kids(first)) {
        op_last_kid(first)->op_sibling = last;
    } else {
        first->op_flags |= OPf_KIDS;
        op_first_kid(first) = last;
    }
    op_last_kid(first) = last;
    return first;
}

OP* op_list_prepend(PERLGCB* gcb, int32_t type, OP* first, OP* last)
{
    if (!first)
        return last;
    if (!last)
        return first;
    if (last->op_type != type)
        return op_new_list(gcb, type, 0, first, last);
    if (type == OP_LIST) {
        // Behind the pushmark; a list that held only its pushmark ends at the new kid.
        OP* mark = op_first_kid(last);
        first->op_sibling = mark->op_sibling;
        mark->op_sibling = first;
        if (op_last_kid(last) == mark)
            op_last_kid(last) = first;
    } else {
        if (!op_has_kids(last)) {
            op_last_kid(last) = first;
            op_first_kid(last) = nullptr;
        }
        first->op_sibling = op_first_kid(last);
        op_first_kid(last) = first;
    }
    last->op_flags |= OPf_KIDS;
    return last;
}

OP* op_list_concat(PERLGCB* gcb, int32_t type, OP* first, OP* last)
{
    if (!first)
        return last;
    if (!last)
        return first;
    if (first->op_type != type)
        return op_list_prepend(gcb, type, first, last);
    if (last->op_type != type)
        return op_list_append(gcb, type, first, last);
    if (op_has_kids(last)) {
        if (op_has_kids(first))
            op_last_kid(first)->op_sibling = op_first_kid(last);
        else
            op_first_kid(first) = op_first_kid(last);
        op_last_kid(first) = op_last_kid(last);
        first->op_flags |= OPf_KIDS;
    }
    pool_free(gcb, last);
    return first;
}

// ---- freeing and nulling ----------------------------------------------------------

namespace {

// Whether freeing leaves o in place: a static op, or a counted root that
// other holders still reference (freeing drops one reference).
bool free_keeps(OP* o)
{
    if (o->op_static)
        return true;
    if (op_is_counted_root_type(o->op_type) && (o->op_private & OPpREFCOUNTED)) {
        if (o->op_targ > 0)
            o->op_targ--;
        if (o->op_targ != 0)
            return true;
    }
    return false;
}

// Puts o on the list of ops still to free, chained through the sibling
// field (o is freed, so its own chain is no longer read).
void free_later(OP*& pending, OP* o)
{
    if (!o || free_keeps(o))
        return;
    o->op_sibling = pending;
    pending = o;
}

}  // namespace

// Trees as deep as the input made them are freed without recursion: the ops
// still to free wait on a list, each op's kids (and a substitution's
// replacement tree) join it, and every op is gone once the list is empty, so
// a free never stops halfway.
void op_free_tree(PERLGCB* gcb, OP* o)
{
    OP* pending = nullptr;
    free_later(pending, o);
    while (pending) {
        o = pending;
        pending = o->op_sibling;
        if (op_has_kids(o)) {
            OP* next;
            for (OP* kid = op_first_kid(o); kid; kid = next) {
                next = kid->op_sibling;  // read before the kid joins the list
                free_later(pending, kid);
            }
            op_first_kid(o) = nullptr;
            o->op_flags &= static_cast<uint8_t>(~OPf_KIDS);
        }
        if (o->op_type == OP_SUBST) {
            op_pattern* pm = reinterpret_cast<op_pattern*>(o);
            free_later(pending, pm->op_pmreplroot);
            pm->op_pmreplroot = nullptr;
        }
        if (op_is_statement_type(op_real_type(o))) {
            COP* cop = reinterpret_cast<COP*>(o);
            pool_free(gcb, cop->cop_label);
            cop->cop_label = nullptr;
            GV* file = cop->cop_filegv;
            cop->cop_filegv = nullptr;
            if (file)
                sv_release(gcb, as_sv(file));
            SV* warnings = cop->cop_warnings;
            cop->cop_warnings = nullptr;
            if (!warnings_is_marker(warnings))
                sv_release(gcb, warnings);
        }
        op_clear_fields(gcb, o);
        pool_free(gcb, o);
    }
}

void op_clear_fields(PERLGCB* gcb, OP* o)
{
    uint32_t type = o->op_type;
    switch (type) {
    case OP_NULL:
    case OP_ENTEREVAL:
        // TARG holds the former type, or the compile hints: no pad slot.
        o->op_targ = 0;
        return;
    case OP_CONST:
    case OP_GVSV:
    case OP_GV:
    case OP_AELEMFAST:
    case OP_METHOD_NAMED: {
        SV* sv = op_value_sv(o);
        op_value_sv(o) = nullptr;
        if (sv)
            sv_release(gcb, sv);
        break;
    }
    case OP_LAST:
    case OP_NEXT:
    case OP_REDO:
    case OP_GOTO:
        if (!(o->op_flags & (OPf_KIDS | OPf_STACKED | OPf_SPECIAL))) {
            op_string* ps = reinterpret_cast<op_string*>(o);
            pool_free(gcb, ps->op_pv);
            ps->op_pv = nullptr;
        }
        break;
    case OP_TRANS: {
        op_string* ps = reinterpret_cast<op_string*>(o);
        if (o->op_private & 0x03) {
            SV* map = reinterpret_cast<SV*>(ps->op_pv);
            ps->op_pv = nullptr;
            if (map)
                sv_release(gcb, map);
        } else {
            pool_free(gcb, ps->op_pv);
            ps->op_pv = nullptr;
        }
        break;
    }
    case OP_SUBST: {
        op_pattern* pm = reinterpret_cast<op_pattern*>(o);
        op_free_tree(gcb, pm->op_pmreplroot);
        clear_pattern(gcb, pm);
        break;
    }
    case OP_PUSHRE: {
        op_pattern* pm = reinterpret_cast<op_pattern*>(o);
        SV* target = reinterpret_cast<SV*>(pm->op_pmreplroot);
        pm->op_pmreplroot = nullptr;
        if (target)
            sv_release(gcb, target);
        clear_pattern(gcb, pm);
        break;
    }
    case OP_MATCH:
    case OP_QR:
        clear_pattern(gcb, reinterpret_cast<op_pattern*>(o));
        break;
    default:
        if (op_is_file_test(type) && (o->op_flags & OPf_REF)) {
            SV* sv = op_value_sv(o);
            op_value_sv(o) = nullptr;
            if (sv)
                sv_release(gcb, sv);
        }
        break;
    }
    release_target(gcb, o);
}

void op_nullify(PERLGCB* gcb, OP* o)
{
    if (o->op_type == OP_NULL)
        return;
    uint16_t former = o->op_type;
    op_clear_fields(gcb, o);
    o->op_targ = former;
    op_set_type(gcb, o, OP_NULL);
}

// ---- block ops --------------------------------------------------------------------

OP* op_new_scope(PERLGCB* gcb, OP* o)
{
    if (!o)
        return nullptr;
    if ((o->op_flags & OPf_PARENS) || (gcb->debugger_flags & 0x04) || gcb->tainting) {
        o = op_list_prepend(gcb, OP_LINESEQ, op_new_base(gcb, OP_ENTER, 0), o);
        op_set_type(gcb, o, OP_LEAVE);
        return o;
    }
    if (o->op_type == OP_LINESEQ) {
        op_set_type(gcb, o, OP_SCOPE);
        OP* kid = op_first_kid(o);
        if (kid && (kid->op_type == OP_NEXTSTATE || kid->op_type == OP_DBSTATE))
            op_nullify(gcb, kid);
        return o;
    }
    return op_new_list(gcb, OP_SCOPE, 0, o, nullptr);
}

// ---- pattern lists of packages -----------------------------------------------------

void op_pattern_list_add(PERLGCB*, op_pattern* pm, HV* stash)
{
    PVHV* body = hv_body(stash);
    pm->op_pmnext = reinterpret_cast<op_pattern*>(body->pmroot);
    body->pmroot = &pm->op;
    pm->op_pmstash = stash;
}

void op_pattern_list_remove(PERLGCB*, op_pattern* pm)
{
    HV* stash = pm->op_pmstash;
    if (!stash)
        return;
    PVHV* body = hv_body(stash);
    op_pattern** link = reinterpret_cast<op_pattern**>(&body->pmroot);
    while (*link && *link != pm)
        link = &(*link)->op_pmnext;
    if (*link)
        *link = pm->op_pmnext;
    pm->op_pmnext = nullptr;
    pm->op_pmstash = nullptr;
}

void op_pattern_list_detach(PERLGCB*, HV* stash)
{
    PVHV* body = hv_body(stash);
    op_pattern* pm = reinterpret_cast<op_pattern*>(body->pmroot);
    body->pmroot = nullptr;
    while (pm) {
        op_pattern* next = pm->op_pmnext;
        pm->op_pmnext = nullptr;
        pm->op_pmstash = nullptr;
        pm = next;
    }
}
