// Builders of control constructs: and, or, xor and their assign-ops, ?:, the
// flip-flop range, statement-modifier, while and foreach loops, the loop
// exits, and assignment with its common-variable detection. They wire the
// execution order by hand so that a condition jumps straight to its branch.
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxsv.h"

namespace {

constexpr int32_t NO_LINE = 65535;

// Runs a warning with the current statement's line set to the pending line
// when there is one.
template <class Warn>
void warn_at_pending_line(PERLGCB* gcb, Warn&& warn)
{
    COP* cop = gcb->current_statement;
    uint16_t saved = cop ? cop->cop_line : 0;
    if (cop && gcb->statement_line != NO_LINE)
        cop->cop_line = static_cast<uint16_t>(gcb->statement_line);
    warn();
    if (cop)
        cop->cop_line = saved;
}

// A condition: warns of an assignment of a constant, then scalar context.
OP* boolean_condition(PERLGCB* gcb, OP* o)
{
    if (o && o->op_type == OP_SASSIGN && op_first_kid(o)->op_type == OP_CONST && warn_enabled(gcb, WARN_SYNTAX))
        warn_at_pending_line(gcb, [&] { category_warning(gcb, WARN_SYNTAX, "Found = in conditional, should be =="); });
    return op_scalar_context(gcb, o);
}

// The type named by a condition whose value can be a false "0" although it
// is defined: a line read, a directory read, glob or each; 0 for others.
int32_t maybe_zero_type(OP* o)
{
    if (!op_has_kids(o))
        return 0;
    OP* k1 = op_first_kid(o);
    OP* k2 = k1->op_sibling;
    if (o->op_type == OP_NULL && k2 && k2->op_type == OP_READLINE && (k2->op_flags & OPf_STACKED) &&
        op_want(k1) == OPf_WANT_SCALAR)
        return OP_READLINE;
    if (o->op_type == OP_SASSIGN) {
        if (k1->op_type == OP_READDIR || k1->op_type == OP_GLOB || k1->op_type == OP_EACH)
            return k1->op_type;
        if (k1->op_type == OP_NULL && k1->op_targ == OP_GLOB)
            return OP_GLOB;
    }
    return 0;
}

// The default variable as an lvalue: rv2sv over a gv op of *_.
OP* default_scalar_var(PERLGCB* gcb)
{
    return op_new_unary(gcb, OP_RV2SV, 0, op_new_glob(gcb, OP_GV, 0, gv_default_glob(gcb)));
}

// A loop condition that reads lines, files or directory entries tests
// definedness instead of truth; a bare read assigns to the default variable.
OP* loop_condition(PERLGCB* gcb, OP* expr)
{
    if (!expr)
        return expr;
    if (expr->op_type == OP_READLINE || expr->op_type == OP_GLOB ||
        (expr->op_type == OP_NULL && expr->op_targ == OP_GLOB))
        return op_new_unary(gcb, OP_DEFINED, 0, op_new_assign(gcb, 0, default_scalar_var(gcb), 0, expr));
    if (maybe_zero_type(expr))
        return op_new_unary(gcb, OP_DEFINED, 0, expr);
    return expr;
}

// A logical-shape record of the type, not yet linked.
OP* new_logical_record(PERLGCB* gcb, int32_t type, int32_t flags, OP* first)
{
    OP* o = &op_alloc_record<op_logical>(gcb)->op;
    op_set_type(gcb, o, static_cast<uint32_t>(type));
    op_first_kid(o) = first;
    o->op_flags = static_cast<uint8_t>(flags | OPf_KIDS);
    o->op_private = static_cast<uint8_t>(1 | (flags >> 8));
    return o;
}

bool const_is_true(PERLGCB* gcb, OP* o) { return sv_is_true(gcb, op_value_sv(o)); }

// Records the values of one assignment's variables that the walk has seen.
struct seen_set {
    const void** items;
    int32_t count;
    int32_t size;
};

// Whether p was seen already; records it otherwise.
bool seen_before(PERLGCB* gcb, seen_set* s, const void* p)
{
    for (int32_t i = 0; i < s->count; i++)
        if (s->items[i] == p)
            return true;
    if (s->count == s->size) {
        s->size = s->size ? s->size * 2 : 16;
        s->items = static_cast<const void**>(pool_realloc(gcb, s->items, sizeof(void*) * static_cast<uint64_t>(s->size)));
    }
    s->items[s->count++] = p;
    return false;
}

SV* pad_name_of(PERLGCB* gcb, uint32_t slot)
{
    AV* names = gcb->comppad_name;
    if (!names || static_cast<int32_t>(slot) > av_body(names)->fill)
        return nullptr;
    return av_body(names)->array[slot];
}

// Whether a list assignment's two sides may share a variable: walks the
// assignment in execution order and stops at the first variable met twice,
// at the default variable, and at any op whose effect it cannot see.
bool assignment_is_common(PERLGCB* gcb, OP* o)
{
    seen_set seen{nullptr, 0, 0};
    GV* defgv = gv_default_glob(gcb);
    OP* last = nullptr;
    OP* cur = op_link_exec_order(gcb, o);
    for (; cur != o; cur = cur->op_next) {
        if (op_args_of(gcb, cur->op_type) & OA_DANGEROUS) {
            bool stop = false;
            switch (cur->op_type) {
            case OP_GV: {
                GV* gv = sv_as<GV>(op_value_sv(cur));
                stop = gv == defgv || seen_before(gcb, &seen, gv);
                break;
            }
            case OP_PADSV:
            case OP_PADAV:
            case OP_PADHV:
            case OP_PADANY: {
                SV* name = pad_name_of(gcb, cur->op_targ);
                stop = name && seen_before(gcb, &seen, name);
                break;
            }
            case OP_RV2CV:
                stop = true;
                break;
            case OP_RV2GV:
            case OP_RV2SV:
            case OP_RV2AV:
            case OP_RV2HV:
                stop = !last || last->op_type != OP_GV;
                break;
            case OP_PUSHRE: {
                GV* gv = reinterpret_cast<GV*>(op_as_pattern(cur)->op_pmreplroot);
                if (gv)
                    stop = gv == defgv || seen_before(gcb, &seen, gv);
                break;
            }
            default:
                stop = true;
                break;
            }
            if (stop)
                break;
        }
        last = cur;
    }
    pool_free(gcb, seen.items);
    return cur != o;
}

}  // namespace

OP* op_new_logical(PERLGCB* gcb, int32_t type, int32_t flags, OP* first, OP* other)
{
    return op_new_logical_worker(gcb, type, flags, &first, &other);
}

OP* op_new_logical_worker(PERLGCB* gcb, int32_t type, int32_t flags, OP** firstp, OP** otherp)
{
    OP* first = *firstp;
    OP* other = *otherp;
    if (type == OP_XOR)
        return op_new_binary(gcb, type, flags, op_scalar_context(gcb, first), op_scalar_context(gcb, other));
    if (!first)
        return other;

    first = *firstp = boolean_condition(gcb, first);
    // not(a) && b is a || b, and the other way round.
    if (first->op_type == OP_NOT && (first->op_flags & OPf_SPECIAL) && (type == OP_AND || type == OP_OR)) {
        type = type == OP_AND ? OP_OR : OP_AND;
        OP* notop = first;
        first = *firstp = op_first_kid(notop);
        if (notop->op_next)
            first->op_next = notop->op_next;
        op_first_kid(notop) = nullptr;
        notop->op_flags &= static_cast<uint8_t>(~OPf_KIDS);
        op_free_tree(gcb, notop);
    }

    if (first->op_type == OP_CONST) {
        if ((first->op_private & OPpCONST_BARE) && warn_enabled(gcb, WARN_BAREWORD))
            category_warning(gcb, WARN_BAREWORD, "Bareword found in conditional");
        if ((type == OP_AND) == const_is_true(gcb, first)) {
            op_free_tree(gcb, first);
            *firstp = nullptr;
            return other;
        }
        op_free_tree(gcb, other);
        *otherp = nullptr;
        return first;
    }
    if (first->op_type == OP_WANTARRAY) {
        if (type == OP_AND)
            op_list_context(gcb, other);
        else
            op_scalar_context(gcb, other);
    } else if (warn_enabled(gcb, WARN_MISC)) {
        int32_t named = maybe_zero_type(first);
        if (named) {
            const char* kind = (named == OP_READLINE || named == OP_GLOB) ? " construct" : "() operator";
            warn_at_pending_line(gcb, [&] {
                category_warning(gcb, WARN_MISC, "Value of %s%s can be \"0\"; test with defined()", op_desc_of(gcb, named),
                                 kind);
            });
        }
    }
    if (!other)
        return first;
    // The assign-ops' sassign runs its operands backwards.
    if (type == OP_ANDASSIGN || type == OP_ORASSIGN)
        other->op_private |= OPpASSIGN_BACKWARDS;

    OP* logop = new_logical_record(gcb, type, flags, first);
    op_other_op(logop) = op_link_exec_order(gcb, other);
    logop->op_next = op_link_exec_order(gcb, first);
    first->op_next = logop;
    first->op_sibling = other;
    OP* o = op_new_unary(gcb, OP_NULL, 0, logop);
    other->op_next = o;
    return o;
}

OP* op_new_conditional(PERLGCB* gcb, int32_t flags, OP* cond, OP* true_op, OP* false_op)
{
    if (!false_op)
        return op_new_logical(gcb, OP_AND, 0, cond, true_op);
    if (!true_op)
        return op_new_logical(gcb, OP_OR, 0, cond, false_op);
    cond = boolean_condition(gcb, cond);
    if (cond->op_type == OP_CONST) {
        bool truth = const_is_true(gcb, cond);
        op_free_tree(gcb, cond);
        op_free_tree(gcb, truth ? false_op : true_op);
        return truth ? true_op : false_op;
    }
    if (cond->op_type == OP_WANTARRAY) {
        op_list_context(gcb, true_op);
        op_scalar_context(gcb, false_op);
    }
    OP* logop = new_logical_record(gcb, OP_COND_EXPR, flags, cond);
    op_other_op(logop) = op_link_exec_order(gcb, true_op);
    logop->op_next = op_link_exec_order(gcb, false_op);
    OP* start = op_link_exec_order(gcb, cond);
    cond->op_next = logop;
    cond->op_sibling = true_op;
    true_op->op_sibling = false_op;
    OP* o = op_new_unary(gcb, OP_NULL, 0, logop);
    true_op->op_next = o;
    false_op->op_next = o;
    o->op_next = start;
    return o;
}

OP* op_new_range(PERLGCB* gcb, int32_t flags, OP* left, OP* right)
{
    OP* range = new_logical_record(gcb, OP_RANGE, flags, left);
    op_other_op(range) = op_link_exec_order(gcb, right);
    left->op_sibling = right;
    range->op_next = range;
    OP* flip = op_new_unary(gcb, OP_FLIP, flags, range);
    OP* flop = op_new_unary(gcb, OP_FLOP, 0, flip);
    OP* o = op_new_unary(gcb, OP_NULL, 0, flop);
    op_link_exec_order(gcb, flop);
    range->op_next = op_link_exec_order(gcb, left);
    left->op_next = flip;
    right->op_next = flop;

    range->op_targ = pad_alloc(gcb, OP_RANGE, PAD_KIND_MY);
    sv_upgrade_body(gcb, gcb->curpad[range->op_targ], SVt_PVNV);
    flip->op_targ = pad_alloc(gcb, OP_RANGE, PAD_KIND_MY);
    sv_upgrade_body(gcb, gcb->curpad[flip->op_targ], SVt_PVNV);

    flip->op_private = left->op_type == OP_CONST ? OPpFLIP_LINENUM : 0;
    flop->op_private = right->op_type == OP_CONST ? OPpFLIP_LINENUM : 0;
    flip->op_next = o;
    if (!flip->op_private || !flop->op_private)
        op_link_exec_order(gcb, o);
    return o;
}

OP* op_new_loop(PERLGCB* gcb, int32_t flags, int32_t, OP* expr, OP* block)
{
    // A do-block (or a sub call written as one) runs once before its test.
    bool once = block && (block->op_flags & OPf_SPECIAL) &&
                (block->op_type == OP_ENTERSUB || block->op_type == OP_NULL);
    if (expr) {
        if (once && expr->op_type == OP_CONST && !const_is_true(gcb, expr)) {
            op_free_tree(gcb, expr);
            return block;
        }
        expr = loop_condition(gcb, expr);
    }
    OP* listop = op_list_append(gcb, OP_LINESEQ, block, op_new_base(gcb, OP_UNSTACK, 0));
    OP* o = op_new_logical_worker(gcb, OP_AND, 0, &expr, &listop);
    if (listop)
        op_last_kid(listop)->op_next = op_link_exec_order(gcb, o);
    if (once && o != listop)
        o->op_next = op_other_op(op_first_kid(o));
    if (o == listop)
        o = op_new_unary(gcb, OP_NULL, 0, o);
    o->op_flags |= static_cast<uint8_t>(flags);
    o = op_new_scope(gcb, o);
    o->op_flags |= OPf_SPECIAL;
    return o;
}

OP* op_new_while(PERLGCB* gcb, int32_t flags, int32_t, op_loop* loop, int32_t whileline, OP* expr, OP* block,
                 OP* cont)
{
    OP* next = nullptr;
    expr = loop_condition(gcb, expr);
    if (!block)
        block = op_new_base(gcb, OP_NULL, 0);
    else if (cont)
        block = op_new_scope(gcb, block);
    if (cont)
        next = op_link_exec_order(gcb, cont);
    if (expr) {
        OP* unstack = op_new_base(gcb, OP_UNSTACK, 0);
        if (whileline != NO_LINE) {
            gcb->statement_line = whileline;
            unstack = op_list_append(gcb, OP_LINESEQ, unstack, op_new_statement(gcb, 0, nullptr, nullptr));
        }
        cont = op_list_append(gcb, OP_LINESEQ, cont, unstack);
    }
    OP* listop = op_list_concat(gcb, OP_LINESEQ, block, cont);
    OP* redo = op_link_exec_order(gcb, listop);

    OP* o;
    if (expr) {
        gcb->statement_line = whileline;
        op_scalar_context(gcb, listop);
        o = op_new_logical_worker(gcb, OP_AND, 0, &expr, &listop);
        if (o == expr && o->op_type == OP_CONST && !const_is_true(gcb, o)) {
            // while (0): the loop can never run.
            op_free_tree(gcb, expr);
            op_free_tree(gcb, loop ? &loop->op : nullptr);
            return nullptr;
        }
        if (listop) {
            OP* back = o == listop ? redo : op_link_exec_order(gcb, o);
            op_last_kid(listop)->op_next = back;
            if (!next)
                next = back;
        }
    } else {
        o = listop;
    }

    if (!loop) {
        loop = op_alloc_record<op_loop>(gcb);
        op_set_type(gcb, &loop->op, OP_ENTERLOOP);
        loop->op.op_next = &loop->op;
    }
    OP* leave = op_new_binary(gcb, OP_LEAVELOOP, 0, &loop->op, o);
    loop->op_redoop = redo;
    loop->op_lastop = leave;
    loop->op_nextop = next ? next : leave;
    leave->op_flags |= static_cast<uint8_t>(flags);
    leave->op_private |= static_cast<uint8_t>(flags >> 8);
    return leave;
}

OP* op_new_foreach(PERLGCB* gcb, int32_t flags, char* label, int32_t forline, OP* sv, OP* expr, OP* block,
                   OP* cont)
{
    int32_t iterflags = 0;
    uint32_t padoff = 0;
    if (sv) {
        if (sv->op_type == OP_RV2SV) {
            op_set_type(gcb, sv, OP_RV2GV);
        } else if (sv->op_type == OP_PADSV || sv->op_type == OP_THREADSV) {
            // The slot is the lexical's own: freeing the op must not give it back.
            if (sv->op_type == OP_THREADSV)
                iterflags |= OPf_SPECIAL;
            padoff = sv->op_targ;
            sv->op_targ = 0;
            op_free_tree(gcb, sv);
            sv = nullptr;
        } else {
            fatal_error(gcb, "Can't use %s for loop variable", op_desc_of(gcb, sv->op_type));
        }
    } else {
        sv = op_new_glob(gcb, OP_GV, 0, gv_default_glob(gcb));
    }

    if (expr->op_type == OP_RV2AV || expr->op_type == OP_PADAV) {
        expr = op_wrap_in_list(gcb, op_scalar_context(gcb, op_ref_context_one(gcb, expr, OP_ITER)));
        expr = op_lvalue_context(gcb, expr, OP_GREPSTART);
        iterflags |= OPf_STACKED;
    } else if (expr->op_type == OP_NULL && op_has_kids(expr) && op_first_kid(expr)->op_type == OP_FLOP) {
        // A range: enteriter gets its two ends as minimum and maximum.
        OP* flip = op_first_kid(op_first_kid(expr));
        OP* range = op_first_kid(flip);
        OP* left = op_first_kid(range);
        OP* right = left->op_sibling;
        range->op_flags &= static_cast<uint8_t>(~OPf_KIDS);
        op_first_kid(range) = nullptr;
        OP* listop = op_new_list(gcb, OP_LIST, 0, left, right);
        op_first_kid(listop)->op_next = range->op_next;
        left->op_next = op_other_op(range);
        right->op_next = listop;
        listop->op_next = op_first_kid(listop);
        op_free_tree(gcb, expr);
        expr = listop;
        op_nullify(gcb, expr);
        iterflags |= OPf_STACKED;
    } else {
        expr = op_lvalue_context(gcb, op_wrap_in_list(gcb, expr), OP_GREPSTART);
    }

    OP* iter = op_convert_list(gcb, OP_ENTERITER, iterflags,
                               op_list_append(gcb, OP_LIST, expr, op_scalar_context(gcb, sv)));
    iter = op_list_context(gcb, iter);
    op_loop* loop = static_cast<op_loop*>(pool_realloc(gcb, iter, sizeof(op_loop)));
    loop->op_redoop = nullptr;
    loop->op_nextop = nullptr;
    loop->op_lastop = nullptr;
    loop->op.op_targ = padoff;
    OP* wop = op_new_while(gcb, flags, 1, loop, forline, op_new_base(gcb, OP_ITER, 0), block, cont);
    gcb->statement_line = forline;
    return op_new_statement(gcb, 0, label, wop);
}

OP* op_new_loop_exit(PERLGCB* gcb, int32_t type, OP* label)
{
    OP* o;
    if (!label) {
        o = op_new_base(gcb, type, OPf_SPECIAL);
    } else if (type != OP_GOTO || label->op_type == OP_CONST) {
        if (label->op_type == OP_STUB && (label->op_flags & OPf_PARENS)) {
            o = op_new_base(gcb, type, OPf_SPECIAL);
        } else {
            uint64_t len = 0;
            const char* text = "";
            if (label->op_type == OP_CONST)
                text = sv_text(gcb, op_value_sv(label), &len);
            o = op_new_string(gcb, type, 0, pool_strndup(gcb, text, static_cast<int32_t>(len)));
        }
        op_free_tree(gcb, label);
    } else {
        if (label->op_type == OP_ENTERSUB)
            label = op_new_unary(gcb, OP_REFGEN, 0, op_lvalue_context(gcb, label, OP_REFGEN));
        o = op_new_unary(gcb, type, OPf_STACKED, label);
    }
    gcb->compile_hints |= HINT_BLOCK_SCOPE;
    return o;
}

bool op_assigns_to_list(PERLGCB* gcb, OP* o)
{
    stack_check(gcb);
    if (!o)
        return true;
    if (o->op_type == OP_NULL && op_has_kids(o))
        o = op_first_kid(o);
    if (o->op_type == OP_COND_EXPR) {
        OP* t = op_first_kid(o)->op_sibling;
        bool t_list = op_assigns_to_list(gcb, t);
        bool f_list = op_assigns_to_list(gcb, t->op_sibling);
        if (t_list && f_list)
            return true;
        if (t_list || f_list)
            op_compile_error(gcb, "Assignment to both a list and a scalar");
        return false;
    }
    switch (o->op_type) {
    case OP_LIST:
    case OP_RV2AV:
    case OP_RV2HV:
    case OP_ASLICE:
    case OP_HSLICE:
    case OP_PADAV:
    case OP_PADHV:
        return true;
    default:
        return (o->op_flags & OPf_PARENS) != 0;
    }
}

namespace {

OP* new_list_assign(PERLGCB* gcb, int32_t flags, OP* left, OP* right)
{
    gcb->modcount = 0;
    gcb->eval_start = right;
    left = op_lvalue_context(gcb, left, OP_AASSIGN);
    if (!gcb->eval_start) {
        // An assignment to the array base was applied at compile time.
        op_free_tree(gcb, left);
        op_free_tree(gcb, right);
        return nullptr;
    }
    gcb->eval_start = nullptr;
    OP* rlist = op_list_context(gcb, op_wrap_in_list(gcb, right));
    OP* llist = op_list_context(gcb, op_wrap_in_list(gcb, left));
    OP* o = op_new_binary(gcb, OP_AASSIGN, flags, rlist, llist);
    o->op_private = static_cast<uint8_t>(flags >> 8);
    for (OP* kid = op_has_kids(llist) ? op_first_kid(llist) : nullptr; kid; kid = kid->op_sibling)
        if (kid->op_type == OP_RV2HV && op_first_kid(kid)->op_type != OP_GV)
            o->op_private |= OPpASSIGN_HASH;

    if (!(left->op_private & OPpLVAL_INTRO) && assignment_is_common(gcb, o))
        o->op_private |= OPpASSIGN_COMMON;

    if (right && right->op_type == OP_SPLIT) {
        OP* pushre = op_first_kid(right);
        if (pushre->op_type == OP_PUSHRE) {
            op_pattern* pm = op_as_pattern(pushre);
            OP* gvop = left->op_type == OP_RV2AV ? op_first_kid(left) : nullptr;
            if (gvop && !(left->op_private & OPpLVAL_INTRO) && !(o->op_private & OPpASSIGN_COMMON) &&
                gvop->op_type == OP_GV && !pm->op_pmreplroot) {
                // split stores straight into the array: the assignment goes.
                pm->op_pmreplroot = reinterpret_cast<OP*>(op_value_sv(gvop));
                op_value_sv(gvop) = nullptr;
                pm->op_pmflags |= PMf_ONCE;
                OP* pushmark = op_first_kid(op_first_kid(o));
                pushmark->op_sibling = nullptr;
                right->op_next = pushmark->op_next;
                op_free_tree(gcb, o);
                right->op_flags &= static_cast<uint8_t>(~OPf_WANT);
                return right;
            }
            OP* limit = op_last_kid(right);
            if (gcb->modcount < MODCOUNT_UNLIMITED && limit->op_type == OP_CONST) {
                SV* sv = op_value_sv(limit);
                if (sv_to_int(gcb, sv) == 0)
                    sv_set_int(gcb, sv, gcb->modcount + 1);
            }
        }
    }
    return o;
}

}  // namespace

OP* op_new_assign(PERLGCB* gcb, int32_t flags, OP* left, int32_t optype, OP* right)
{
    if (optype) {
        left = op_lvalue_context(gcb, op_scalar_context(gcb, left), optype);
        if (optype == OP_ANDASSIGN || optype == OP_ORASSIGN)
            return op_new_logical(gcb, optype, 0, left,
                                  op_new_unary(gcb, OP_SASSIGN, 0, op_scalar_context(gcb, right)));
        return op_new_binary(gcb, optype, OPf_STACKED, left, op_scalar_context(gcb, right));
    }
    if (op_assigns_to_list(gcb, left))
        return new_list_assign(gcb, flags, left, right);
    if (!right)
        right = op_new_base(gcb, OP_UNDEF, 0);
    if (right->op_type == OP_READLINE) {
        right->op_flags |= OPf_STACKED;
        left = op_lvalue_context(gcb, op_scalar_context(gcb, left), OP_SASSIGN);
        return op_new_binary(gcb, OP_NULL, flags, left, op_scalar_context(gcb, right));
    }
    gcb->eval_start = right;
    right = op_scalar_context(gcb, right);
    left = op_lvalue_context(gcb, op_scalar_context(gcb, left), OP_SASSIGN);
    OP* o = op_new_binary(gcb, OP_SASSIGN, flags, right, left);
    if (gcb->eval_start) {
        gcb->eval_start = nullptr;
        return o;
    }
    op_free_tree(gcb, o);
    return nullptr;
}
