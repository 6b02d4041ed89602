// Check routines of sort, grep and map, and split: the built-in sort
// orders, the block cut out of the main chain into a chain of its own, the
// two-op loop of grep and map, and split's three operands.
#include "prxck.h"
#include "prxgv.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxsv.h"

namespace {

// sort PRIVATE bits.
enum : uint8_t {
    SORT_NUMERIC = 0x01,
    SORT_INTEGER = 0x02,
    SORT_REVERSE = 0x04,
};

// The letter of a variable $a or $b of the current package under an
// rv2sv op, or 0.
char sort_variable(PERLGCB* gcb, OP* o)
{
    if (!o || o->op_type != OP_RV2SV || !op_has_kids(o))
        return 0;
    OP* gvop = op_first_kid(o);
    if (gvop->op_type != OP_GV)
        return 0;
    GV* gv = sv_as<GV>(op_value_sv(gvop));
    PVGV* body = gv_body(gv);
    if (body->gvstash != gcb->current_package || body->namelen != 1)
        return 0;
    char c = body->name[0];
    return c == 'a' || c == 'b' ? c : 0;
}

// The block's own chain: cut out of the main execution order and run by
// the op itself. Returns the chain's first op.
OP* detach_block_chain(PERLGCB* gcb, OP* o, OP* block)
{
    op_link_exec_order(gcb, block);
    if (block->op_type == OP_SCOPE) {
        OP* start = block->op_next;
        block->op_next = nullptr;
        return start;
    }
    if (o->op_type == OP_SORT) {
        // The leave goes: the block's last op ends the chain, loops inside
        // keep theirs.
        op_nullify(gcb, block);
        block->op_next = block;
        for (OP* k = op_first_kid(block)->op_next; k; k = k->op_next) {
            if (k->op_next == block)
                k->op_next = nullptr;
            else if (k->op_type == OP_ENTERLOOP || k->op_type == OP_ENTERITER)
                k = op_as_loop(k)->op_lastop;
        }
    } else {
        block->op_next = nullptr;
    }
    return op_first_kid(block);
}

}  // namespace

void ck_sort_simplify(PERLGCB* gcb, OP* o)
{
    GV* a = gv_fetch_by_name(gcb, "a", GV_ADD | GV_ADDMULTI, SVt_PV);
    GV* b = gv_fetch_by_name(gcb, "b", GV_ADD | GV_ADDMULTI, SVt_PV);
    if (a)
        gv_body(a)->gvflags |= GVf_MULTI;
    if (b)
        gv_body(b)->gvflags |= GVf_MULTI;

    OP* holder = op_first_kid(o)->op_sibling;
    if (!holder || !op_has_kids(holder))
        return;
    OP* block = op_first_kid(holder);
    if (block->op_type != OP_SCOPE || !op_has_kids(block))
        return;
    OP* cmp = op_last_kid(block);
    if (cmp->op_type != OP_NCMP && cmp->op_type != OP_I_NCMP && cmp->op_type != OP_SCMP)
        return;
    char first = sort_variable(gcb, op_first_kid(cmp));
    if (!first)
        return;
    char second = sort_variable(gcb, op_first_kid(cmp)->op_sibling);
    if (second != (first == 'a' ? 'b' : 'a'))
        return;

    o->op_flags &= static_cast<uint8_t>(~(OPf_STACKED | OPf_SPECIAL));
    if (first == 'b')
        o->op_private |= SORT_REVERSE;
    if (cmp->op_type == OP_NCMP)
        o->op_private |= SORT_NUMERIC;
    else if (cmp->op_type == OP_I_NCMP)
        o->op_private |= SORT_NUMERIC | SORT_INTEGER;
    // The block is no longer needed.
    op_first_kid(o)->op_sibling = holder->op_sibling;
    if (op_last_kid(o) == holder)
        op_last_kid(o) = op_first_kid(o);
    holder->op_sibling = nullptr;
    op_free_tree(gcb, holder);
}

OP* ck_sort(PERLGCB* gcb, OP* o)
{
    o->op_private = 0;
    if (o->op_type == OP_SORT && (o->op_flags & OPf_STACKED))
        ck_sort_simplify(gcb, o);
    OP* operand = op_first_kid(o)->op_sibling;
    if (o->op_flags & OPf_STACKED) {
        OP* kid = op_first_kid(operand);
        if (kid->op_type == OP_SCOPE || kid->op_type == OP_LEAVE) {
            OP* start = detach_block_chain(gcb, o, kid);
            op_peephole(gcb, start);
            if (o->op_type == OP_SORT) {
                operand = op_scalar_context(gcb, operand);
                operand->op_next = operand;
            } else {
                operand->op_next = start;
            }
            o->op_flags |= OPf_SPECIAL;
        } else if (kid->op_type == OP_RV2SV || kid->op_type == OP_PADSV) {
            // The comparison routine is named by a variable.
            op_nullify(gcb, operand);
        }
        operand = operand->op_sibling;
    }
    if (o->op_type == OP_SORT)
        op_list_context(gcb, operand);
    return o;
}

OP* ck_grep(PERLGCB* gcb, OP* o)
{
    int32_t type = o->op_type == OP_GREPSTART ? OP_GREPWHILE : OP_MAPWHILE;
    // map starts exactly as grep does.
    o->op_ppaddr = gcb->op_run_function_table[OP_GREPSTART];
    OP* gwop = &op_alloc_record<op_logical>(gcb)->op;

    if (o->op_flags & OPf_STACKED) {
        o = ck_sort(gcb, o);
        OP* last = op_first_kid(o)->op_sibling;
        for (OP* k = last->op_next; k; k = k->op_next)
            last = k;
        last->op_next = gwop;
        o->op_flags &= static_cast<uint8_t>(~OPf_STACKED);
    }
    OP* kid = op_first_kid(o)->op_sibling;
    if (type == OP_MAPWHILE)
        op_list_context(gcb, kid);
    else
        op_scalar_context(gcb, kid);
    o = ck_scalar(gcb, o);
    if (gcb->error_count)
        return o;
    kid = op_first_kid(o)->op_sibling;
    if (kid->op_type != OP_NULL)
        fatal_error(gcb, "panic: ck_grep");
    OP* body = op_first_kid(kid);

    op_set_type(gcb, gwop, static_cast<uint32_t>(type));
    op_first_kid(gwop) = op_list_context_kids(gcb, o);
    gwop->op_flags |= OPf_KIDS;
    gwop->op_private = 1;
    op_other_op(gwop) = op_link_exec_order(gcb, body);
    gwop->op_targ = pad_alloc(gcb, type, PAD_KIND_TMP);
    body->op_next = gwop;

    kid = kid->op_sibling;
    if (!kid) {
        op_compile_error(gcb, "Not enough arguments for %s", op_desc_of(gcb, o->op_type));
        return o;
    }
    for (; kid; kid = kid->op_sibling)
        op_lvalue_context_kid(gcb, kid, OP_GREPSTART);
    return gwop;
}

OP* ck_split(PERLGCB* gcb, OP* o)
{
    if (o->op_flags & OPf_STACKED) {
        op_compile_error(gcb, "Missing comma after first argument to %s function", op_desc_of(gcb, OP_SPLIT));
        return o;
    }
    OP* kid = op_first_kid(o);
    if (kid->op_type != OP_NULL)
        fatal_error(gcb, "panic: ck_split");
    OP* mark = kid;
    kid = kid->op_sibling;
    mark->op_sibling = nullptr;
    op_free_tree(gcb, mark);
    op_first_kid(o) = kid;
    if (!kid) {
        kid = op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, " ", 1));
        op_first_kid(o) = kid;
        op_last_kid(o) = kid;
    }
    if (kid->op_type != OP_MATCH) {
        // An expression is the pattern: compiled now when constant.
        OP* sibl = kid->op_sibling;
        kid->op_sibling = nullptr;
        OP* pm = op_pattern_runtime(gcb, op_new_pattern(gcb, OP_MATCH, OPf_SPECIAL), kid, nullptr);
        if (op_last_kid(o) == kid)
            op_last_kid(o) = pm;
        op_first_kid(o) = pm;
        pm->op_sibling = sibl;
        kid = pm;
    }
    op_set_type(gcb, kid, OP_PUSHRE);
    op_scalar_context(gcb, kid);

    if (!kid->op_sibling)
        op_list_append(gcb, OP_SPLIT, o, ck_default_scalar_operand(gcb));
    kid = kid->op_sibling;
    op_scalar_context(gcb, kid);
    if (!kid->op_sibling)
        op_list_append(gcb, OP_SPLIT, o, op_new_value(gcb, OP_CONST, 0, sv_new_from_int(gcb, 0)));
    kid = kid->op_sibling;
    op_scalar_context(gcb, kid);
    if (kid->op_sibling)
        op_compile_error(gcb, "Too many arguments for %s", op_desc_of(gcb, OP_SPLIT));
    return o;
}
