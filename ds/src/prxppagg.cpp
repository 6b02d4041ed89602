// Run-time functions of the array and hash built-ins: slices, each, keys
// and values, delete and exists, lists and list slices, the anonymous
// constructors, splice, push, pop, shift, unshift, reverse, the hash
// element, lock and the per-thread variable.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxscope.h"
#include "prxutf8.h"

namespace {

const char no_aelem[] = "Modification of non-creatable array value attempted, subscript %d";
const char no_helem[] = "Modification of non-creatable hash value attempted, subscript \"%s\"";
const char no_hash[] = "Not a HASH reference";

OP* next_with(PERLGCB* gcb, SV** sp)
{
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

int32_t arybase(PERLGCB* gcb) { return gcb->current_statement ? gcb->current_statement->cop_arybase : 0; }

// The tie record of a tied array or hash, or null.
MAGIC* tie_record(PERLGCB* gcb, SV* sv)
{
    return (sv->flags & SVs_RMG) ? mg_find_by_type(gcb, sv, 'P') : nullptr;
}

const char* key_text(PERLGCB* gcb, SV* key)
{
    uint64_t len = 0;
    return sv_text(gcb, key, &len);
}

// Outside list context only the last item stays, in the mark's slot (the
// immortal undef when the list is empty).
OP* last_of_list(PERLGCB* gcb, int32_t mark, SV** sp)
{
    SV* last = sp > gcb->arg_base + mark ? *sp : &gcb->sv_undef;
    sp = gcb->arg_base + mark + 1;
    *sp = last;
    return next_with(gcb, sp);
}

// Calls a tied array's method on the marked list whose first item (the
// array, at mark + 1) is replaced by the tie object; the results are left
// above the mark.
void call_tied_method(PERLGCB* gcb, int32_t mark, SV* av, MAGIC* mg, const char* method, int32_t flags)
{
    gcb->arg_base[mark + 1] = tie_object(gcb, av, mg);
    push_mark(gcb, gcb->arg_base + mark);
    scope_enter(gcb);
    interp_call_method_by_name(gcb, method, flags);
    scope_leave(gcb);
}

// The call flags of an op's context.
int32_t call_flags_of(uint8_t gimme) { return gimme == CTX_LIST ? 1 : gimme == CTX_VOID ? 128 : 0; }

// The element count of an array into the target, which becomes the result.
OP* push_count(PERLGCB* gcb, int32_t mark, AV* av)
{
    SV* targ = pp_pad_target(gcb, gcb->op);
    sv_set_int(gcb, targ, static_cast<int64_t>(av_highest_index(gcb, av)) + 1);
    pp_set_magic(gcb, targ);
    SV** sp = pp_extend(gcb, gcb->arg_base + mark, 1);
    *++sp = targ;
    return next_with(gcb, sp);
}

// A removed element: a temporary when the array owned it.
SV* removed(PERLGCB* gcb, AV* av, SV* sv)
{
    if (!sv)
        return &gcb->sv_undef;
    if (av_body(av)->avflags & AVf_REAL)
        sv_make_temporary(gcb, sv);
    return sv;
}

// One deletion of delete: by the container's kind; null when nothing was
// there, or for the discard flag.
SV* delete_one(PERLGCB* gcb, OP* op, SV* container, SV* key, int32_t discard, bool* bad)
{
    switch (sv_type(container)) {
    case SVt_PVHV:
        return hv_delete_sv(gcb, sv_as<HV>(container), key, discard, 0);
    case SVt_PVAV:
        if (op->op_flags & OPf_SPECIAL)
            return av_delete_element(gcb, sv_as<AV>(container), static_cast<int32_t>(pp_int(gcb, key)), discard);
        return pseudohash_delete(gcb, sv_as<AV>(container), key, discard, 0);
    default:
        *bad = true;
        return nullptr;
    }
}

}  // namespace

// ---- slices ----------------------------------------------------------------------

OP* pp_aslice(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t mark = pop_mark(gcb);
    SV** sp = pp_sp(gcb);
    SV* container = *sp--;
    bool lval = pp_lvalue_use(gcb, op);
    bool localizing = (op->op_private & OPpLVAL_INTRO) != 0;
    if (sv_type(container) == SVt_PVAV) {
        AV* av = sv_as<AV>(container);
        int32_t base = arybase(gcb);
        if (lval && localizing) {
            int32_t max = -1;
            for (SV** p = gcb->arg_base + mark + 1; p <= sp; p++) {
                int32_t elem = static_cast<int32_t>(pp_int(gcb, *p));
                if (elem > max)
                    max = elem;
            }
            if (max > av_body(av)->max)
                av_grow_to_index(gcb, av, max);
        }
        pp_put_sp(gcb, sp);
        int32_t top = static_cast<int32_t>(sp - gcb->arg_base);
        for (int32_t i = mark + 1; i <= top; i++) {
            int32_t elem = static_cast<int32_t>(pp_int(gcb, gcb->arg_base[i]));
            if (elem > 0)
                elem -= base;
            SV** svp = av_fetch_element(gcb, av, elem, lval);
            if (lval) {
                if (!svp || *svp == &gcb->sv_undef)
                    return die_error(gcb, no_aelem, elem);
                if (localizing)
                    save_push_aelem(gcb, av, elem, svp);
            }
            gcb->arg_base[i] = svp && *svp ? *svp : &gcb->sv_undef;
        }
        sp = gcb->arg_base + top;
    }
    if (!pp_wants_list(gcb, op))
        return last_of_list(gcb, mark, sp);
    return next_with(gcb, sp);
}

OP* pp_hslice(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t mark = pop_mark(gcb);
    SV** sp = pp_sp(gcb);
    SV* container = *sp--;
    pp_put_sp(gcb, sp);
    bool lval = pp_lvalue_use(gcb, op);
    bool localizing = (op->op_private & OPpLVAL_INTRO) != 0;
    uint32_t type = sv_type(container);
    if (type == SVt_PVAV && localizing)
        return die_error(gcb, "Can't localize pseudo-hash element");
    if (type == SVt_PVHV || type == SVt_PVAV) {
        int32_t top = static_cast<int32_t>(sp - gcb->arg_base);
        for (int32_t i = mark + 1; i <= top; i++) {
            SV* key = gcb->arg_base[i];
            SV** svp;
            if (type == SVt_PVHV) {
                hash_entry* he = hv_fetch_sv(gcb, sv_as<HV>(container), key, lval, 0);
                svp = he ? &he->value : nullptr;
            } else {
                svp = pseudohash_fetch(gcb, sv_as<AV>(container), key, lval, 0);
            }
            if (lval) {
                if (!svp || *svp == &gcb->sv_undef)
                    return die_error(gcb, no_helem, key_text(gcb, key));
                if (localizing)
                    save_push_helem(gcb, sv_as<HV>(container), key, svp);
            }
            gcb->arg_base[i] = svp && *svp ? *svp : &gcb->sv_undef;
        }
        sp = gcb->arg_base + top;
    }
    if (!pp_wants_list(gcb, op))
        return last_of_list(gcb, mark, sp);
    return next_with(gcb, sp);
}

// ---- each, keys, values, delete, exists -----------------------------------------------

OP* pp_each(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* container = *sp--;
    pp_put_sp(gcb, sp);
    uint8_t gimme = pp_context(gcb, op);
    bool real = sv_type(container) == SVt_PVHV;
    hash_entry* he = real ? hv_iter_advance(gcb, sv_as<HV>(container))
                          : pseudohash_next_entry(gcb, sv_as<AV>(container));
    if (he) {
        SV* key = hv_entry_key_sv(gcb, he);
        sp = pp_extend(gcb, pp_sp(gcb), 2);
        *++sp = key;
        if (gimme == CTX_LIST) {
            pp_put_sp(gcb, sp);
            SV* value = real ? hv_entry_value(gcb, sv_as<HV>(container), he)
                             : pseudohash_entry_value(gcb, sv_as<AV>(container), he);
            sp = pp_sp(gcb);
            *++sp = value;
        }
    } else if (gimme == CTX_SCALAR) {
        sp = pp_extend(gcb, pp_sp(gcb), 1);
        *++sp = &gcb->sv_undef;
    }
    return next_with(gcb, sp);
}

OP* pp_values(PERLGCB* gcb) { return do_keys_values(gcb); }

OP* pp_delete(PERLGCB* gcb)
{
    OP* op = gcb->op;
    uint8_t gimme = pp_context(gcb, op);
    int32_t discard = gimme == CTX_VOID ? HV_DISCARD : 0;
    bool bad = false;
    if (op->op_private & 0x40) {
        int32_t mark = pop_mark(gcb);
        SV** sp = pp_sp(gcb);
        SV* container = *sp--;
        pp_put_sp(gcb, sp);
        int32_t top = static_cast<int32_t>(sp - gcb->arg_base);
        for (int32_t i = mark + 1; i <= top; i++) {
            SV* sv = delete_one(gcb, op, container, gcb->arg_base[i], discard, &bad);
            if (bad)
                return die_error(gcb, no_hash);
            gcb->arg_base[i] = sv ? sv : &gcb->sv_undef;
        }
        sp = gcb->arg_base + top;
        if (gimme == CTX_VOID)
            return next_with(gcb, gcb->arg_base + mark);
        if (gimme == CTX_SCALAR)
            return last_of_list(gcb, mark, sp);
        return next_with(gcb, sp);
    }
    SV** sp = pp_sp(gcb);
    SV* key = *sp--;
    SV* container = *sp--;
    pp_put_sp(gcb, sp);
    SV* sv = delete_one(gcb, op, container, key, discard, &bad);
    if (bad)
        return die_error(gcb, no_hash);
    sp = pp_sp(gcb);
    if (!discard)
        *++sp = sv ? sv : &gcb->sv_undef;
    return next_with(gcb, sp);
}

OP* pp_exists(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    bool yes;
    if (op->op_private & 0x40) {
        SV* sv = *sp;
        HV* stash = nullptr;
        GV* gv = nullptr;
        CV* cv = sv_to_code(gcb, sv, &stash, &gv, 0);
        yes = cv || (gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) && gv_gp(gv)->gp_cv && !gv_gp(gv)->gp_cvgen);
        *pp_sp(gcb) = pp_bool(gcb, yes);
        return op->op_next;
    }
    SV* key = *sp--;
    SV* container = *sp;
    pp_put_sp(gcb, sp);
    switch (sv_type(container)) {
    case SVt_PVHV:
        yes = hv_exists_sv(gcb, sv_as<HV>(container), key, 0);
        break;
    case SVt_PVAV:
        if (op->op_flags & OPf_SPECIAL)
            yes = av_element_exists(gcb, sv_as<AV>(container), static_cast<int32_t>(pp_int(gcb, key)));
        else
            yes = pseudohash_exists(gcb, sv_as<AV>(container), key, 0);
        break;
    default:
        return die_error(gcb, no_hash);
    }
    *pp_sp(gcb) = pp_bool(gcb, yes);
    return op->op_next;
}

// ---- lists ------------------------------------------------------------------------

OP* pp_list(PERLGCB* gcb)
{
    int32_t mark = pop_mark(gcb);
    if (!pp_wants_list(gcb, gcb->op))
        return last_of_list(gcb, mark, pp_sp(gcb));
    return gcb->op->op_next;
}

OP* pp_lslice(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** lastrelem = pp_sp(gcb);
    SV** lastlelem = gcb->arg_base + pop_mark(gcb);
    SV** firstlelem = gcb->arg_base + pop_mark(gcb) + 1;
    SV** firstrelem = lastlelem + 1;
    int32_t base = arybase(gcb);
    int64_t max = lastrelem - lastlelem;
    auto select = [&](SV* subscript, bool* found) {
        int64_t ix = pp_int(gcb, subscript);
        ix = ix < 0 ? ix + max : ix - base;
        if (ix < 0 || ix >= max)
            return &gcb->sv_undef;
        *found = true;
        return firstrelem[ix] ? firstrelem[ix] : &gcb->sv_undef;
    };
    if (!pp_wants_list(gcb, op)) {
        bool found = false;
        *firstlelem = lastlelem >= firstlelem ? select(*lastlelem, &found) : &gcb->sv_undef;
        return next_with(gcb, firstlelem);
    }
    if (max == 0)
        return next_with(gcb, firstlelem - 1);
    bool something = (op->op_flags & OPf_MOD) != 0;
    for (SV** p = firstlelem; p <= lastlelem; p++)
        *p = select(*p, &something);
    return next_with(gcb, something ? lastlelem : firstlelem - 1);
}

OP* pp_anonlist(PERLGCB* gcb)
{
    int32_t mark = pop_mark(gcb);
    SV** sp = pp_sp(gcb);
    int32_t items = static_cast<int32_t>(sp - (gcb->arg_base + mark));
    AV* av = av_new_from_copies(gcb, items, gcb->arg_base + mark + 1);
    sv_make_temporary(gcb, as_sv(av));
    sp = gcb->arg_base + mark;
    *++sp = as_sv(av);
    return next_with(gcb, sp);
}

OP* pp_anonhash(PERLGCB* gcb)
{
    int32_t mark = pop_mark(gcb);
    HV* hv = hv_new_empty(gcb);
    sv_make_temporary(gcb, as_sv(hv));
    int32_t top = static_cast<int32_t>(pp_sp(gcb) - gcb->arg_base);
    for (int32_t i = mark + 1; i <= top; i++) {
        SV* key = gcb->arg_base[i];
        SV* val;
        if (i < top) {
            val = sv_new_copy(gcb, gcb->arg_base[++i]);
        } else {
            val = sv_new_undef(gcb, 0);
            if (warn_enabled(gcb, WARN_MISC))
                category_warning(gcb, WARN_MISC, "Odd number of elements in hash assignment");
        }
        if (!hv_store_sv(gcb, hv, key, val, 0))
            sv_release(gcb, val);
    }
    SV** sp = gcb->arg_base + mark;
    *++sp = as_sv(hv);
    return next_with(gcb, sp);
}

// ---- splice, push, pop, shift, unshift ------------------------------------------------

OP* pp_splice(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t origmark = pop_mark(gcb);
    SV** base = gcb->arg_base;
    AV* ary = sv_as<AV>(base[origmark + 1]);
    if (MAGIC* mg = tie_record(gcb, as_sv(ary))) {
        call_tied_method(gcb, origmark, as_sv(ary), mg, "SPLICE", call_flags_of(pp_context(gcb, op)));
        return op->op_next;
    }
    // Indexes of the argument stack: items lie in (mark, end).
    int32_t mark = origmark + 1;
    int32_t end = static_cast<int32_t>(pp_sp(gcb) - base) + 1;
    PVAV* b = av_body(ary);
    int32_t offset, length;
    if (++mark < end) {
        int32_t i = static_cast<int32_t>(pp_int(gcb, base[mark]));
        offset = i;
        if (offset < 0)
            offset += b->fill + 1;
        else
            offset -= arybase(gcb);
        if (offset < 0)
            return die_error(gcb, no_aelem, i);
        if (++mark < end) {
            length = static_cast<int32_t>(pp_int(gcb, base[mark++]));
            if (length < 0) {
                length += b->fill - offset + 1;
                if (length < 0)
                    length = 0;
            }
        } else {
            length = b->max + 1;
        }
    } else {
        offset = 0;
        length = b->max + 1;
    }
    if (offset > b->fill + 1)
        offset = b->fill + 1;
    int32_t after = b->fill + 1 - (offset + length);
    if (after < 0) {
        length += after;
        after = 0;
        if (!b->alloc)
            av_grow_to_index(gcb, ary, 0);
    }
    int32_t newlen = end - mark;
    int32_t diff = newlen - length;
    if (newlen && !(av_body(ary)->avflags & AVf_REAL) && (av_body(ary)->avflags & AVf_REIFY))
        av_make_real(gcb, ary);
    b = av_body(ary);
    bool real = (b->avflags & AVf_REAL) != 0;
    bool list = pp_context(gcb, op) == CTX_LIST;
    int32_t out = origmark + 1;   // where the results begin
    int32_t last;                 // index of the last result

    if (diff < 0) {
        // Shrinking: the replacements are kept aside before results cover them.
        SV** repl = nullptr;
        if (newlen) {
            repl = static_cast<SV**>(pool_malloc(gcb, static_cast<uint64_t>(newlen) * sizeof(SV*)));
            std::memcpy(repl, base + mark, static_cast<size_t>(newlen) * sizeof(SV*));
        }
        if (list) {
            SV** sp = arg_stack_extend(gcb, pp_sp(gcb), gcb->arg_base + out, length);
            pp_put_sp(gcb, sp);
            base = gcb->arg_base;
            for (int32_t i = 0; i < length; i++) {
                SV* sv = b->array[offset + i];
                base[out + i] = sv ? (real ? sv_make_temporary(gcb, sv) : sv) : &gcb->sv_undef;
            }
            last = out + length - 1;
        } else {
            SV* sv = b->array[offset + length - 1];
            base[out] = sv ? (real ? sv_make_temporary(gcb, sv) : sv) : &gcb->sv_undef;
            if (real)
                for (int32_t i = 0; i < length - 1; i++)
                    sv_release(gcb, b->array[offset + i]);
            last = out;
        }
        b->fill += diff;
        SV** dst;
        if (offset < after) {
            // Pull the head up; the start advances.
            for (int32_t i = offset - 1; i >= 0; i--)
                b->array[i - diff] = b->array[i];
            dst = b->array;
            b->array -= diff;
            b->max += diff;
        } else {
            if (after)
                std::memmove(b->array + offset + length + diff, b->array + offset + length,
                             static_cast<size_t>(after) * sizeof(SV*));
            dst = b->array + b->fill + 1;
        }
        for (int32_t i = -diff; i > 0;)
            dst[--i] = &gcb->sv_undef;
        for (int32_t i = 0; i < newlen; i++)
            b->array[offset + i] = sv_new_copy(gcb, repl[i]);
        pool_free(gcb, repl);
    } else {
        SV** saved = nullptr;
        if (length) {
            saved = static_cast<SV**>(pool_malloc(gcb, static_cast<uint64_t>(length) * sizeof(SV*)));
            std::memcpy(saved, b->array + offset, static_cast<size_t>(length) * sizeof(SV*));
        }
        if (diff > 0) {
            if (offset < after && diff <= b->array - b->alloc) {
                if (offset)
                    std::memmove(b->array - diff, b->array, static_cast<size_t>(offset) * sizeof(SV*));
                b->array -= diff;
                b->max += diff;
                b->fill += diff;
            } else {
                if (b->fill + diff >= b->max)
                    av_grow_to_index(gcb, ary, b->fill + diff);
                b = av_body(ary);
                b->fill += diff;
                for (int32_t i = 0; i < after; i++)
                    b->array[b->fill - i] = b->array[b->fill - diff - i];
            }
        }
        base = gcb->arg_base;
        for (int32_t i = 0; i < newlen; i++)
            b->array[offset + i] = sv_new_copy(gcb, base[mark + i]);
        if (list) {
            for (int32_t i = 0; i < length; i++)
                base[out + i] = saved[i] ? (real ? sv_make_temporary(gcb, saved[i]) : saved[i]) : &gcb->sv_undef;
            last = out + length - 1;
        } else if (length) {
            SV* sv = saved[length - 1];
            base[out] = sv ? (real ? sv_make_temporary(gcb, sv) : sv) : &gcb->sv_undef;
            if (real)
                for (int32_t i = 0; i < length - 1; i++)
                    sv_release(gcb, saved[i]);
            last = out;
        } else {
            base[out] = &gcb->sv_undef;
            last = out;
        }
        pool_free(gcb, saved);
    }
    return next_with(gcb, gcb->arg_base + last);
}

OP* pp_push(PERLGCB* gcb)
{
    int32_t mark = pop_mark(gcb);
    AV* av = sv_as<AV>(gcb->arg_base[mark + 1]);
    if (MAGIC* mg = tie_record(gcb, as_sv(av))) {
        call_tied_method(gcb, mark, as_sv(av), mg, "PUSH", CALL_DISCARD);
        return push_count(gcb, mark, av);
    }
    int32_t top = static_cast<int32_t>(pp_sp(gcb) - gcb->arg_base);
    for (int32_t i = mark + 2; i <= top; i++) {
        SV* item = gcb->arg_base[i];
        av_append(gcb, av, item ? sv_new_copy(gcb, item) : sv_new_undef(gcb, 0));
    }
    return push_count(gcb, mark, av);
}

OP* pp_unshift(PERLGCB* gcb)
{
    int32_t mark = pop_mark(gcb);
    AV* av = sv_as<AV>(gcb->arg_base[mark + 1]);
    if (MAGIC* mg = tie_record(gcb, as_sv(av))) {
        call_tied_method(gcb, mark, as_sv(av), mg, "UNSHIFT", CALL_DISCARD);
        return push_count(gcb, mark, av);
    }
    int32_t top = static_cast<int32_t>(pp_sp(gcb) - gcb->arg_base);
    int32_t n = top - (mark + 1);
    if (n > 0) {
        av_insert_front(gcb, av, n);
        for (int32_t i = 0; i < n; i++) {
            SV* item = gcb->arg_base[mark + 2 + i];
            av_store_element(gcb, av, i, item ? sv_new_copy(gcb, item) : sv_new_undef(gcb, 0));
        }
    }
    return push_count(gcb, mark, av);
}

OP* pp_pop(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    AV* av = sv_as<AV>(*sp);
    SV* sv = av_remove_last(gcb, av);
    *pp_sp(gcb) = removed(gcb, av, sv);
    return gcb->op->op_next;
}

OP* pp_shift(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    AV* av = sv_as<AV>(*sp);
    SV* sv = av_remove_first(gcb, av);
    *pp_sp(gcb) = removed(gcb, av, sv);
    return gcb->op->op_next;
}

// ---- reverse ------------------------------------------------------------------------

OP* pp_reverse(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t mark = pop_mark(gcb);
    SV** sp = pp_sp(gcb);
    if (pp_wants_list(gcb, op)) {
        for (SV **lo = gcb->arg_base + mark + 1, **hi = sp; lo < hi; lo++, hi--) {
            SV* t = *lo;
            *lo = *hi;
            *hi = t;
        }
        return next_with(gcb, sp);
    }
    SV* targ = pp_pad_target(gcb, op);
    targ->flags &= ~SVf_UTF8;
    int64_t n = sp - (gcb->arg_base + mark);
    if (n > 1)
        do_join_list(gcb, targ, &gcb->sv_no, gcb->arg_base + mark, sp);
    else
        sv_assign(gcb, targ, n == 1 ? *sp : pp_default_var(gcb));
    uint64_t len = 0;
    char* s = sv_force_string(gcb, targ, &len);
    if (len > 1) {
        uint8_t* up = reinterpret_cast<uint8_t*>(s);
        uint8_t* end = up + len;
        if ((targ->flags & SVf_UTF8) && !pp_bytes_hint(gcb)) {
            // Each character's bytes first, so that the whole reversal
            // restores their order.
            for (uint8_t* p = up; p < end;) {
                if (*p < 0x80) {
                    p++;
                    continue;
                }
                int64_t clen = 0;
                if (!utf8_decode_simple(gcb, p, &clen) || clen <= 0 || clen > end - p)
                    break;
                for (uint8_t *a = p, *z = p + clen - 1; a < z; a++, z--) {
                    uint8_t t = *a;
                    *a = *z;
                    *z = t;
                }
                p += clen;
            }
        }
        for (uint8_t *a = up, *z = end - 1; a < z; a++, z--) {
            uint8_t t = *a;
            *a = *z;
            *z = t;
        }
        targ->flags = (targ->flags & ~(SV_VALUE_FLAGS & ~SVf_UTF8)) | SVf_POK | SVp_POK;
    }
    pp_set_magic(gcb, targ);
    sp = gcb->arg_base + mark;
    *++sp = targ;
    return next_with(gcb, sp);
}

// ---- hash element, lock, per-thread variables ------------------------------------------

OP* pp_helem(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* key = *sp--;
    SV* container = *sp;
    pp_put_sp(gcb, sp);
    bool lval = pp_lvalue_use(gcb, op);
    bool defer = (op->op_private & OPpLVAL_DEFER) != 0;
    SV** svp;
    if (sv_type(container) == SVt_PVHV) {
        hash_entry* he = hv_fetch_sv(gcb, sv_as<HV>(container), key, lval && !defer, 0);
        svp = he ? &he->value : nullptr;
    } else if (sv_type(container) == SVt_PVAV) {
        if (op->op_private & OPpLVAL_INTRO)
            return die_error(gcb, "Can't localize pseudo-hash element");
        svp = pseudohash_fetch(gcb, sv_as<AV>(container), key, lval && !defer, 0);
    } else {
        *pp_sp(gcb) = &gcb->sv_undef;
        return op->op_next;
    }
    if (lval) {
        if (!svp || *svp == &gcb->sv_undef) {
            if (!defer)
                return die_error(gcb, no_helem, key_text(gcb, key));
            // A deferred element: assigning to it creates the element.
            SV* lv = sv_new_temporary(gcb);
            sv_upgrade_body(gcb, lv, SVt_PVLV);
            SV* key_copy = sv_new_copy(gcb, key);
            sv_add_magic(gcb, lv, key_copy, 'y', nullptr, 0);
            sv_release(gcb, key_copy);
            PVLV* body = static_cast<PVLV*>(lv->any);
            body->type = 'y';
            body->targ = sv_refinc(container);
            body->targlen = 1;
            *pp_sp(gcb) = lv;
            return op->op_next;
        }
        if (op->op_private & OPpLVAL_INTRO) {
            HV* hv = sv_as<HV>(container);
            if (hv_body(hv)->name && sv_is_glob(*svp))
                save_push_gp(gcb, sv_as<GV>(*svp), !(op->op_flags & OPf_SPECIAL));
            else
                save_push_helem(gcb, hv, key, svp);
        } else if (op->op_private & OPpDEREF) {
            elem_autovivify(gcb, *svp, op->op_private & OPpDEREF);
        }
    }
    SV* sv = svp && *svp ? *svp : &gcb->sv_undef;
    if (!lval && (sv->flags & SVs_GMG))
        sv = sv_new_temporary_copy(gcb, sv);
    *pp_sp(gcb) = sv;
    return op->op_next;
}

OP* pp_lock(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    uint32_t t = sv_type(*sp);
    if (t == SVt_PVAV || t == SVt_PVHV || t == SVt_PVCV) {
        SV* rv = pp_reference_to(gcb, *sp);
        *pp_sp(gcb) = rv;
    }
    return gcb->op->op_next;
}

OP* pp_threadsv(PERLGCB* gcb) { return die_error(gcb, "tried to access per-thread data in non-threaded perl"); }
