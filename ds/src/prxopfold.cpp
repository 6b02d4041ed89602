// Constant folding (a constant subtree runs once at compile time and becomes
// a const op; integer variants under the integer hint; constant ranges) and
// the peephole pass over a finished program in execution order.
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

uint32_t args_of(PERLGCB* gcb, uint32_t type) { return gcb->op_args_table[type]; }

// Ops whose PRIVATE 0x40 means the locale is in force.
bool locale_sensitive(uint32_t type)
{
    switch (type) {
    case OP_SPRINTF: case OP_UCFIRST: case OP_LCFIRST: case OP_UC: case OP_LC:
    case OP_SLT: case OP_SGT: case OP_SLE: case OP_SGE: case OP_SCMP:
        return true;
    default:
        return false;
    }
}

// Step 9 of folding: the integer variant when every operand is an integer.
OP* fold_integer_variant(PERLGCB* gcb, OP* o)
{
    uint32_t type = o->op_type;
    if (!(args_of(gcb, type) & OA_OTHERINT) || (gcb->compile_hints & HINT_INTEGER))
        return o;
    if (type == OP_DIVIDE || type == OP_MODULO || !op_has_kids(o))
        return o;
    for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling) {
        if (kid->op_type == OP_CONST) {
            if (op_value_sv(kid)->flags & SVf_IOK)
                continue;
            return o;
        }
        if (args_of(gcb, kid->op_type) & OA_RETINTEGER)
            continue;
        return o;
    }
    op_set_type(gcb, o, type + 1);
    return o;
}

const char* const_text(PERLGCB* gcb, OP* o)
{
    uint64_t len = 0;
    return sv_text(gcb, op_value_sv(o), &len);
}

// The first op after a run of nulls.
OP* skip_nulls(OP* o)
{
    while (o && o->op_type == OP_NULL)
        o = o->op_next;
    return o;
}

// The no-ops from first up to end were taken out of the chain, but other
// walks (the other branch of a conditional, a loop's exits) may still reach
// them: each now leads straight to end, so that no walk goes through the run
// again and the pass stays linear however many branches meet there.
void bypass_run(OP* first, OP* end)
{
    while (first && first != end) {
        OP* next = first->op_next;
        first->op_next = end;
        first = next;
    }
}

// The class of a typed lexical behind an rv2hv over a padsv, or null.
HV* typed_class(PERLGCB* gcb, OP* rv2hv, SV** name_out)
{
    if (!rv2hv || rv2hv->op_type != OP_RV2HV || !op_has_kids(rv2hv))
        return nullptr;
    OP* pad = op_first_kid(rv2hv);
    if (pad->op_type != OP_PADSV)
        return nullptr;
    SV* name = av_body(gcb->comppad_name)->array[pad->op_targ];
    if (!name || !(name->flags & SVpad_TYPED) || !sv_stash(name))
        return nullptr;
    *name_out = name;
    return sv_stash(name);
}

// The FIELDS hash of a class, or null.
HV* fields_of(PERLGCB* gcb, HV* stash)
{
    SV** gvp = hv_fetch_str(gcb, stash, "FIELDS", 6, 0);
    if (!gvp || !sv_is_glob(*gvp) || !gv_gp(sv_as<GV>(*gvp)))
        return nullptr;
    return gv_gp(sv_as<GV>(*gvp))->gp_hv;
}

// Replaces a key constant by its field index.
void coerce_field_key(PERLGCB* gcb, OP* key, HV* fields, SV* name, HV* stash)
{
    SV* sv = op_value_sv(key);
    uint64_t len = 0;
    const char* text = sv_text(gcb, sv, &len);
    SV** indsvp = hv_fetch_str(gcb, fields, text, static_cast<int32_t>(len), 0);
    if (!indsvp)
        fatal_error(gcb, "No such pseudo-hash field \"%s\" in variable %s of type %s", text, sv_pv(name),
                    hv_body(stash)->name);
    int64_t ind = sv_to_int(gcb, *indsvp);
    if (ind < 1)
        fatal_error(gcb, "Bad index while coercing array into hash");
    SV* index = sv_new_from_int(gcb, ind);
    index->flags |= sv->flags & (SVf_READONLY | SVs_PADBUSY | SVs_PADTMP | SVs_PADMY);
    op_value_sv(key) = index;
    sv_release(gcb, sv);
}

void peep_gv(PERLGCB* gcb, OP* o)
{
    OP* next = o->op_next;
    if (next && next->op_type == OP_RV2SV) {
        if (!(next->op_private & OPpDEREF)) {
            op_nullify(gcb, next);
            o->op_private |= next->op_private & (OPpLVAL_INTRO | OPpOUR_INTRO);
            o->op_next = next->op_next;
            op_set_type(gcb, o, OP_GVSV);
        }
        return;
    }
    if (next && next->op_type == OP_RV2AV) {
        OP* pop = next->op_next;
        OP* elem = pop ? pop->op_next : nullptr;
        if (pop && pop->op_type == OP_CONST && elem && elem->op_type == OP_AELEM && !(elem->op_private & 0xF8)) {
            int64_t i = sv_to_int(gcb, op_value_sv(pop)) - gcb->compiling_statement->cop_arybase;
            if (i >= 0 && i <= 255) {
                GV* gv = sv_as<GV>(op_value_sv(o));
                op_nullify(gcb, next);
                op_nullify(gcb, pop);
                op_nullify(gcb, elem);
                o->op_flags |= elem->op_flags & OPf_MOD;
                o->op_next = elem->op_next;
                op_set_type(gcb, o, OP_AELEMFAST);
                o->op_private = static_cast<uint8_t>(i);
                gv_ensure_array(gcb, gv);
            }
        }
        return;
    }
    if ((o->op_private & OPpEARLY_CV) && warn_enabled(gcb, WARN_PROTOTYPE)) {
        GV* gv = sv_as<GV>(op_value_sv(o));
        CV* cv = gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) ? gv_gp(gv)->gp_cv : nullptr;
        if (cv && (as_sv(cv)->flags & SVf_POK)) {
            SV* name = sv_new_undef(gcb, 0);
            gv_effective_qualified_name(gcb, name, gv, nullptr);
            uint64_t len = 0;
            const char* text = sv_text(gcb, name, &len);
            category_warning(gcb, WARN_PROTOTYPE, "%s() called too early to check prototype", text);
            sv_release(gcb, name);
        }
    }
}

void peep_helem(PERLGCB* gcb, OP* o)
{
    if (o->op_private & OPpLVAL_INTRO)
        return;
    OP* key = op_last_kid(o);
    OP* hash = op_first_kid(o);
    if (!key || key->op_type != OP_CONST)
        return;
    SV* name = nullptr;
    HV* stash = typed_class(gcb, hash, &name);
    HV* fields = stash ? fields_of(gcb, stash) : nullptr;
    if (!fields)
        return;
    coerce_field_key(gcb, key, fields, name, stash);
    op_set_type(gcb, hash, OP_RV2AV);
    op_set_type(gcb, o, OP_AELEM);
}

void peep_hslice(PERLGCB* gcb, OP* o)
{
    if (o->op_private & OPpLVAL_INTRO)
        return;
    OP* list = op_first_kid(o)->op_sibling;
    if (!list || list->op_type != OP_LIST)
        return;
    OP* hash = op_last_kid(o);
    SV* name = nullptr;
    HV* stash = typed_class(gcb, hash, &name);
    HV* fields = stash ? fields_of(gcb, stash) : nullptr;
    if (!fields)
        return;
    for (OP* key = op_first_kid(list)->op_sibling; key; key = key->op_sibling)
        if (key->op_type != OP_CONST)
            return;
    for (OP* key = op_first_kid(list)->op_sibling; key; key = key->op_sibling)
        coerce_field_key(gcb, key, fields, name, stash);
    op_set_type(gcb, hash, OP_RV2AV);
    op_set_type(gcb, o, OP_ASLICE);
}

void peep_exec(PERLGCB* gcb, OP* o)
{
    OP* next = o->op_next;
    if (!next || next->op_type != OP_NEXTSTATE || !warn_enabled(gcb, WARN_SYNTAX))
        return;
    OP* after = next->op_sibling;
    if (!after || after->op_type == OP_EXIT || after->op_type == OP_WARN || after->op_type == OP_DIE)
        return;
    COP* cur = gcb->current_statement;
    uint16_t oldline = cur->cop_line;
    cur->cop_line = reinterpret_cast<COP*>(next)->cop_line;
    category_warning(gcb, WARN_EXEC, "Statement unlikely to be reached");
    category_warning(gcb, WARN_EXEC, "\t(Maybe you meant system() when you said exec()?)\n");
    cur->cop_line = oldline;
}

// Whether every op below o is a constant (not a bareword) or a list, scalar,
// null or pushmark op: then o can run at compile time. The walk stops at
// the first op that is neither, and a foldable op below o is by now a
// constant or refused, so each op is looked at by one fold only.
bool constant_operands(PERLGCB* gcb, OP* o)
{
    stack_check(gcb);
    if (!op_has_kids(o))
        return true;
    for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling) {
        uint32_t t = kid->op_type;
        if (t == OP_CONST && !(kid->op_private & OPpCONST_BARE))
            continue;
        if (t != OP_LIST && t != OP_SCALAR && t != OP_NULL && t != OP_PUSHMARK)
            return false;
        if (!constant_operands(gcb, kid))
            return false;
    }
    return true;
}

}  // namespace

OP* op_fold_constant_subtree(PERLGCB* gcb, OP* o)
{
    uint32_t type = o->op_type;
    uint32_t args = args_of(gcb, type);
    if (args & OA_RETSCALAR)
        op_scalar_context(gcb, o);
    if ((args & OA_TARGET) && !o->op_targ)
        o->op_targ = pad_alloc(gcb, static_cast<int32_t>(type), PAD_KIND_TMP);
    if ((args & OA_OTHERINT) && (gcb->compile_hints & HINT_INTEGER)) {
        OP* first = op_first_kid(o);
        if (!(type == OP_NEGATE && first && first->op_type == OP_CONST && (first->op_private & OPpCONST_BARE))) {
            type++;
            op_set_type(gcb, o, type);
        }
    }
    if (!(args_of(gcb, type) & OA_FOLDCONST))
        return fold_integer_variant(gcb, o);
    if (type == OP_NEGATE)
        op_first_kid(o)->op_private &= static_cast<uint8_t>(~OPpCONST_STRICT);
    else if (locale_sensitive(type) && (o->op_private & 0x40))
        return fold_integer_variant(gcb, o);
    if (gcb->error_count)
        return fold_integer_variant(gcb, o);

    if (!constant_operands(gcb, o))
        return fold_integer_variant(gcb, o);
    OP* start = op_link_exec_order(gcb, o);

    // A fatal error here (a division by zero) unwinds the compilation.
    o->op_next = nullptr;
    gcb->op = start;
    gcb->run_loop_hook(gcb);
    SV* sv = *gcb->arg_sp--;
    if (o->op_targ && sv == gcb->curpad[o->op_targ]) {
        pad_swipe(gcb, o->op_targ);
    } else if (sv->flags & SVs_TEMP) {
        sv_refinc(sv);
        sv->flags &= ~SVs_TEMP;
    }
    op_free_tree(gcb, o);
    if (type != OP_NEGATE && (sv->flags & (SVf_IOK | SVf_NOK | SVf_POK)) == SVf_NOK) {
        int64_t iv = sv_to_int(gcb, sv);
        if (static_cast<double>(iv) == sv_nv(sv)) {
            sv_release(gcb, sv);
            sv = sv_new_from_int(gcb, iv);
        } else {
            sv->flags &= ~(SVf_IOK | SVp_IOK);
        }
    }
    return op_new_value(gcb, OP_CONST, 0, sv);
}

OP* op_fold_constant_list(PERLGCB* gcb, OP* o)
{
    int32_t old_floor = gcb->temps_floor;
    op_list_context(gcb, o);
    if (gcb->error_count)
        return o;
    OP* start = op_link_exec_order(gcb, o);
    o->op_next = nullptr;
    gcb->op = start;
    op_peephole(gcb, start);
    push_mark(gcb, gcb->arg_sp);
    gcb->op = start;
    gcb->run_loop_hook(gcb);
    gcb->op = start;
    pp_anonlist(gcb);
    gcb->temps_floor = old_floor;
    op_set_type(gcb, o, OP_RV2AV);
    SV* ref = *gcb->arg_sp--;
    OP* old = op_first_kid(o);
    OP* value = op_new_value(gcb, OP_CONST, 0, sv_refinc(ref));
    // o is the unary null op over the flop that op_new_range made: a record
    // without a last-kid field, so only its first kid changes.
    value->op_sibling = old->op_sibling;
    op_first_kid(o) = value;
    old->op_sibling = nullptr;
    op_free_tree(gcb, old);
    op_link_exec_order(gcb, o);
    return op_list_context(gcb, o);
}

void op_peephole(PERLGCB* gcb, OP* o)
{
    stack_check(gcb);
    if (!o || o->op_seq)
        return;
    scope_enter(gcb);
    save_push_op(gcb);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->current_statement));
    OP* oldop = nullptr;
    OP* passed = nullptr;  // the first of the no-ops just taken out of the chain
    for (; o && !o->op_seq; o = o->op_next) {
        if (!gcb->op_seqmax)
            gcb->op_seqmax = 1;
        gcb->op = o;
        bool unlink = false;
        bool numbered = false;
        switch (o->op_type) {
        case OP_NULL:
            if (op_is_statement_type(o->op_targ))
                gcb->current_statement = reinterpret_cast<COP*>(o);
            unlink = true;
            break;
        case OP_SCALAR:
        case OP_LINESEQ:
        case OP_SCOPE:
            unlink = true;
            break;
        case OP_STUB:
            unlink = op_want(o) == OPf_WANT_LIST;
            break;
        case OP_NEXTSTATE:
        case OP_DBSTATE:
        case OP_SETSTATE:
            gcb->current_statement = reinterpret_cast<COP*>(o);
            break;
        case OP_CONST:
            if (o->op_private & OPpCONST_STRICT)
                error_queue(gcb, build_message(gcb, "Bareword \"%s\" not allowed while \"strict subs\" in use",
                                               const_text(gcb, o)));
            break;
        case OP_GV:
            peep_gv(gcb, o);
            break;
        case OP_CONCAT: {
            OP* next = o->op_next;
            if (next && next->op_type == OP_STRINGIFY) {
                if (next->op_private & OPpTARGET_MY) {
                    if (o->op_flags & OPf_STACKED)
                        break;
                    o->op_targ = next->op_targ;
                    next->op_targ = 0;
                    o->op_private |= OPpTARGET_MY;
                }
                op_nullify(gcb, next);
            }
            break;
        }
        case OP_HELEM:
            peep_helem(gcb, o);
            break;
        case OP_HSLICE:
            peep_hslice(gcb, o);
            break;
        case OP_EXEC:
            peep_exec(gcb, o);
            break;
        case OP_MATCH:
        case OP_QR:
        case OP_SUBST: {
            o->op_seq = gcb->op_seqmax++;
            numbered = true;
            op_pattern* pm = reinterpret_cast<op_pattern*>(o);
            pm->op_pmreplstart = skip_nulls(pm->op_pmreplstart);
            op_peephole(gcb, pm->op_pmreplstart);
            break;
        }
        case OP_GREPWHILE:
        case OP_MAPWHILE:
        case OP_RANGE:
        case OP_AND:
        case OP_OR:
        case OP_COND_EXPR:
        case OP_ANDASSIGN:
        case OP_ORASSIGN: {
            o->op_seq = gcb->op_seqmax++;
            numbered = true;
            op_logical* lo = reinterpret_cast<op_logical*>(o);
            lo->op_other = skip_nulls(lo->op_other);
            op_peephole(gcb, lo->op_other);
            break;
        }
        case OP_ENTERITER:
        case OP_ENTERLOOP: {
            o->op_seq = gcb->op_seqmax++;
            numbered = true;
            op_loop* lp = reinterpret_cast<op_loop*>(o);
            lp->op_redoop = skip_nulls(lp->op_redoop);
            op_peephole(gcb, lp->op_redoop);
            lp->op_nextop = skip_nulls(lp->op_nextop);
            op_peephole(gcb, lp->op_nextop);
            lp->op_lastop = skip_nulls(lp->op_lastop);
            op_peephole(gcb, lp->op_lastop);
            break;
        }
        default:
            break;
        }
        if (unlink && oldop && o->op_next) {
            oldop->op_next = o->op_next;
            if (!passed)
                passed = o;
            continue;
        }
        if (passed) {
            bypass_run(passed, o);
            passed = nullptr;
        }
        if (!numbered)
            o->op_seq = gcb->op_seqmax++;
        oldop = o;
    }
    if (passed)
        bypass_run(passed, o);
    scope_leave(gcb);
}
