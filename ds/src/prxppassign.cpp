// Run-time functions of the array and hash dereferences, list assignment
// and print.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxpp.h"
#include "prxscope.h"

namespace {

// Warning category of I/O misuse.

// Delayed changes of the process ids by a list assignment (delayed_ids).
enum : int32_t {
    DM_UID = 0x03,     // real and effective user id
    DM_GID = 0x30,     // real and effective group id
    DM_DELAY = 0x100,  // set magic of the id variables only records its bit
};

OP* next_with(PERLGCB* gcb, SV** sp)
{
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

// ---- array and hash dereference ------------------------------------------------

enum class Agg { Array, Hash };

OP* deref_aggregate(PERLGCB* gcb, Agg kind)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    bool is_array = kind == Agg::Array;
    const char* an = is_array ? "an ARRAY" : "a HASH";
    bool list = pp_wants_list(gcb, op);
    SV* agg = nullptr;
    for (;;) {
        if (sv->flags & SVf_ROK) {
            sv = pp_overload_deref(gcb, sv, is_array ? AMG_TO_AV : AMG_TO_HV);
            agg = sv_rv(sv);
            uint32_t t = sv_type(agg);
            if (is_array ? t != SVt_PVAV : (t != SVt_PVHV && t != SVt_PVAV))
                return die_error(gcb, is_array ? "Not an ARRAY reference" : "Not a HASH reference");
            break;
        }
        uint32_t t = sv_type(sv);
        if (t == SVt_PVAV || (!is_array && t == SVt_PVHV)) {
            agg = sv;
            break;
        }
        GV* gv;
        if (t == SVt_PVGV) {
            gv = sv_as<GV>(sv);
        } else {
            if (sv->flags & SVs_GMG) {
                mg_call_get(gcb, sv);
                if (sv->flags & SVf_ROK)
                    continue;
            }
            if (!sv_ok(sv)) {
                if ((op->op_flags & OPf_REF) || (op->op_private & OPpHINT_STRICT_REFS))
                    return die_error(gcb, "Can't use an undefined value as %s reference", an);
                if (warn_enabled(gcb, WARN_UNINITIALIZED))
                    warn_uninitialized(gcb);
                if (list)
                    return next_with(gcb, sp - 1);
                *sp = &gcb->sv_undef;
                return next_with(gcb, sp);
            }
            uint64_t len = 0;
            const char* sym = sv_text(gcb, sv, &len);
            uint32_t type = is_array ? SVt_PVAV : SVt_PVHV;
            if ((op->op_flags & OPf_SPECIAL) && !(op->op_flags & OPf_MOD)) {
                gv = gv_fetch_by_name(gcb, sym, 0, type);
                if (!gv && gv_is_special_name(gcb, sym, static_cast<uint32_t>(len)))
                    gv = gv_fetch_by_name(gcb, sym, GV_ADD, type);
                if (!gv) {
                    if (list)
                        return next_with(gcb, sp - 1);
                    *sp = &gcb->sv_undef;
                    return next_with(gcb, sp);
                }
            } else {
                if (op->op_private & OPpHINT_STRICT_REFS)
                    return die_error(gcb, "Can't use string (\"%.32s\") as %s ref while \"strict refs\" in use", sym,
                                     an);
                gv = gv_fetch_by_name(gcb, sym, GV_ADD, type);
            }
        }
        if (is_array) {
            gv_ensure_array(gcb, gv);
            agg = op->op_private & OPpLVAL_INTRO ? as_sv(save_push_array(gcb, gv)) : as_sv(gv_gp(gv)->gp_av);
        } else {
            gv_ensure_hash(gcb, gv);
            agg = op->op_private & OPpLVAL_INTRO ? as_sv(save_push_hash(gcb, gv)) : as_sv(gv_gp(gv)->gp_hv);
        }
        break;
    }
    sp = pp_sp(gcb);
    if (op->op_flags & OPf_REF) {
        *sp = agg;
        return next_with(gcb, sp);
    }
    if ((op->op_private & OPpMAYBE_LVSUB) && cx_lvalue_sub(gcb)) {
        if (!list)
            fatal_error(gcb, is_array ? "Can't return array to lvalue scalar context"
                                      : "Can't return hash to lvalue scalar context");
        *sp = agg;
        return next_with(gcb, sp);
    }
    if (is_array) {
        AV* av = sv_as<AV>(agg);
        if (list)
            return next_with(gcb, pp_push_elements(gcb, sp, av, SVs_RMG));
        SV* targ = pp_pad_target(gcb, op);
        sv_set_int(gcb, targ, av_highest_index(gcb, av) + 1);
        pp_set_magic(gcb, targ);
        *sp = targ;
        return next_with(gcb, sp);
    }
    if (list) {
        *sp = agg;
        pp_put_sp(gcb, sp);
        return do_keys_values(gcb);
    }
    HV* hv = sv_type(agg) == SVt_PVAV ? pseudohash_field_map(gcb, sv_as<AV>(agg)) : sv_as<HV>(agg);
    SV* targ = pp_pad_target(gcb, op);
    pp_set_bucket_usage(gcb, targ, hv);
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

// ---- list assignment ------------------------------------------------------------

// The op of the left-hand item at index (0 the first): the left list's kids
// past its leading pushmark.
OP* left_item_op(OP* op, int64_t index)
{
    OP* left = op_last_kid(op);
    OP* kid = op_has_kids(left) ? op_first_kid(left) : nullptr;
    for (int64_t i = 0; kid && i <= index; i++)
        kid = kid->op_sibling;
    return kid;
}

// Stores a value into a magical aggregate's new element: set magic on it,
// and a value the store did not keep becomes temporary.
void after_store(PERLGCB* gcb, bool magic, bool stored, SV* value)
{
    if (magic)
        pp_set_magic(gcb, value);
    if (!stored)
        sv_make_temporary(gcb, value);
}

// The odd element of a hash (or pseudo-hash) assignment: warned about and
// stored as a key with an undefined value.
void store_odd_element(PERLGCB* gcb, SV* container, SV** relem, SV** firstrelem)
{
    SV* key = *relem;
    if (!key)
        return;
    if (warn_enabled(gcb, WARN_MISC)) {
        uint32_t t = (key->flags & SVf_ROK) ? sv_type(sv_rv(key)) : 0;
        if (relem == firstrelem && (t == SVt_PVAV || t == SVt_PVHV))
            category_warning(gcb, WARN_MISC, "Reference found where even-sized list expected");
        else
            category_warning(gcb, WARN_MISC, "Odd number of elements in hash assignment");
    }
    bool magic = (container->flags & (SVs_GMG | SVs_SMG | SVs_RMG)) != 0;
    if (sv_type(container) == SVt_PVAV) {
        SV* value = sv_new_temporary(gcb);
        if (pseudohash_store(gcb, sv_as<AV>(container), key, value, 0))
            sv_refinc(value);
        if (magic)
            pp_set_magic(gcb, value);
    } else {
        SV* value = sv_new_undef(gcb, 0);
        bool stored = hv_store_sv(gcb, sv_as<HV>(container), key, value, 0) != nullptr;
        after_store(gcb, magic, stored, value);
    }
    gcb->tainted = 0;
}

// Applies the id changes a list assignment delayed. The delay ends first,
// so that an error leaves the id variables acting at once again; returns
// null, or die_error's result.
OP* apply_delayed_ids(PERLGCB* gcb)
{
    int32_t delayed = gcb->delayed_ids;
    gcb->delayed_ids = 0;
    if (delayed & DM_UID) {
        if (gcb->uid != gcb->euid)
            return die_error(gcb, "No setreuid available");
        prx_setuid(gcb->uid);
        gcb->uid = prx_getid();
        gcb->euid = prx_getid();
    }
    if (delayed & DM_GID) {
        if (gcb->gid != gcb->egid)
            return die_error(gcb, "No setregid available");
        prx_setgid(gcb->gid);
        gcb->gid = prx_getid();
        gcb->egid = prx_getid();
    }
    if (gcb->uid && (gcb->euid != gcb->uid || gcb->egid != gcb->gid))
        gcb->tainting = 1;
    return nullptr;
}

}  // namespace

OP* pp_rv2av(PERLGCB* gcb) { return deref_aggregate(gcb, Agg::Array); }
OP* pp_rv2hv(PERLGCB* gcb) { return deref_aggregate(gcb, Agg::Hash); }

OP* pp_aassign(PERLGCB* gcb)
{
    OP* op = gcb->op;
    // Stack indexes: right-hand values in [firstr, lastr], lvalues in [firstl, lastl].
    int32_t lastl = static_cast<int32_t>(pp_sp(gcb) - gcb->arg_base);
    int32_t lastr = pop_mark(gcb);
    int32_t firstr = pop_mark(gcb) + 1;
    int32_t firstl = lastr + 1;
    SV** base = gcb->arg_base;
    gcb->delayed_ids = DM_DELAY;

    if (op->op_private & OPpASSIGN_COMMON) {
        tmps_stack_extend(gcb, lastr - firstr + 1);
        for (int32_t r = firstr; r <= lastr; r++) {
            gcb->tainted = 0;
            base[r] = sv_new_temporary_copy(gcb, base[r]);
        }
    }

    int32_t relem = firstr;
    bool aggregate = false;
    for (int32_t l = firstl; l <= lastl; l++) {
        gcb->tainted = 0;
        SV* sv = base[l];
        switch (sv_type(sv)) {
        case SVt_PVAV: {
            aggregate = true;
            AV* ary = sv_as<AV>(sv);
            bool magic = (sv->flags & (SVs_GMG | SVs_SMG | SVs_RMG)) != 0;
            OP* item = (op->op_private & OPpASSIGN_HASH) ? left_item_op(op, l - firstl) : nullptr;
            if (item && item->op_type == OP_RV2HV) {
                if (av_highest_index(gcb, ary) > 0)
                    av_set_highest_index(gcb, ary, 0);
                for (; relem < lastr; relem += 2) {
                    SV* value = sv_new_temporary(gcb);
                    sv_assign(gcb, value, base[relem + 1]);
                    base[relem + 1] = value;
                    if (pseudohash_store(gcb, ary, base[relem], value, 0))
                        sv_refinc(value);
                    if (magic)
                        pp_set_magic(gcb, value);
                    gcb->tainted = 0;
                }
                if (relem == lastr)
                    store_odd_element(gcb, sv, base + relem, base + firstr);
                relem = lastr + 1;
                break;
            }
            av_remove_all(gcb, ary);
            if (lastr >= relem)
                av_grow_to_index(gcb, ary, lastr - relem);
            for (int32_t i = 0; relem <= lastr; i++, relem++) {
                SV* value = sv_new_undef(gcb, 0);
                if (base[relem])
                    sv_assign(gcb, value, base[relem]);
                base[relem] = value;
                bool stored = av_store_element(gcb, ary, i, value) != nullptr;
                after_store(gcb, magic, stored, value);
                gcb->tainted = 0;
            }
            break;
        }
        case SVt_PVHV: {
            aggregate = true;
            HV* hash = sv_as<HV>(sv);
            bool magic = (sv->flags & (SVs_GMG | SVs_SMG | SVs_RMG)) != 0;
            hv_remove_all(gcb, hash);
            while (relem < lastr) {
                SV* key = base[relem] ? base[relem] : &gcb->sv_no;
                relem++;
                SV* value = sv_new_undef(gcb, 0);
                if (base[relem])
                    sv_assign(gcb, value, base[relem]);
                base[relem++] = value;
                bool stored = hv_store_sv(gcb, hash, key, value, 0) != nullptr;
                after_store(gcb, magic, stored, value);
                gcb->tainted = 0;
            }
            if (relem == lastr) {
                store_odd_element(gcb, sv, base + relem, base + firstr);
                relem++;
            }
            break;
        }
        default:
            if (sv_is_immortal(gcb, sv)) {
                if (relem <= lastr)
                    relem++;
                break;
            }
            if (relem <= lastr) {
                sv_assign(gcb, sv, base[relem]);
                base[relem++] = sv;
            } else {
                sv_assign(gcb, sv, &gcb->sv_undef);
            }
            pp_set_magic(gcb, sv);
            break;
        }
        base = gcb->arg_base;
    }

    if (gcb->delayed_ids & ~DM_DELAY) {
        if (OP* resume = apply_delayed_ids(gcb))
            return resume;
    }
    gcb->delayed_ids = 0;

    switch (pp_context(gcb, op)) {
    case CTX_VOID:
        return next_with(gcb, base + firstr - 1);
    case CTX_SCALAR: {
        SV* targ = pp_pad_target(gcb, op);
        sv_set_int(gcb, targ, lastr - firstr + 1);
        pp_set_magic(gcb, targ);
        base[firstr] = targ;
        return next_with(gcb, base + firstr);
    }
    default: {
        int32_t top = aggregate ? lastr : firstr + (lastl - firstl);
        int32_t l = firstl + (relem - firstr);
        for (int32_t r = relem; r <= top; r++)
            base[r] = l <= lastl ? base[l++] : &gcb->sv_undef;
        return next_with(gcb, base + top);
    }
    }
}

// ---- print -------------------------------------------------------------------------

OP* pp_print(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t origmark = pop_mark(gcb);
    int32_t mark = origmark;
    SV** sp = pp_sp(gcb);
    SV* handle = (op->op_flags & OPf_STACKED) ? gcb->arg_base[++mark] : as_sv(gcb->default_output_glob);
    GV* gv = handle && sv_is_glob(handle) ? sv_as<GV>(handle) : nullptr;
    IO* io = gv && gv_gp(gv) ? gv_gp(gv)->gp_io : nullptr;

    // A tied handle: its PRINT method gets the tie object and the items.
    SV* tied = nullptr;
    MAGIC* mg = nullptr;
    if (gv && (handle->flags & SVs_RMG) && (mg = mg_find_by_type(gcb, handle, 'q')))
        tied = handle;
    if (!tied && gv && !io) {
        GV* egv = gv_gp(gv) ? gv_gp(gv)->gp_egv : nullptr;
        if (egv && (as_sv(egv)->flags & SVs_RMG) && (mg = mg_find_by_type(gcb, as_sv(egv), 'q')))
            tied = as_sv(egv);
    }
    if (tied) {
        if (mark == origmark) {
            sp = pp_extend(gcb, sp, 1);
            SV** first = gcb->arg_base + origmark + 1;
            std::memmove(first + 1, first, static_cast<size_t>(sp - first + 1) * sizeof(SV*));
            sp++;
            pp_put_sp(gcb, sp);
        }
        SV* obj = tie_object(gcb, tied, mg);
        gcb->arg_base[origmark + 1] = obj;
        push_mark(gcb, gcb->arg_base + origmark);
        scope_enter(gcb);
        interp_call_method_by_name(gcb, "PRINT", 0);
        scope_leave(gcb);
        SV* result = *pp_sp(gcb);
        gcb->arg_base[origmark + 1] = result;
        return next_with(gcb, gcb->arg_base + origmark + 1);
    }

    bool ok = false;
    PrxStream stream = io ? io_body(io)->ofp : 0;
    if (!io) {
        if (warn_enabled(gcb, WARN_UNOPENED) || warn_enabled(gcb, WARN_CLOSED))
            warn_bad_filehandle(gcb, gv, nullptr, op->op_type);
        gcb->errno_cell = 2;
    } else if (!stream) {
        if (io_body(io)->ifp) {
            if (warn_enabled(gcb, WARN_IO) || warn_enabled(gcb, WARN_CLOSED)) {
                SV* name = sv_new_temporary(gcb);
                gv_qualified_name(gcb, name, gv, nullptr, 0);
                uint64_t len = 0;
                const char* text = sv_text(gcb, name, &len);
                if (len)
                    category_warning(gcb, WARN_IO, "Filehandle %s opened only for input", text);
                else
                    category_warning(gcb, WARN_IO, "Filehandle opened only for input");
            }
        } else if (warn_enabled(gcb, WARN_UNOPENED) || warn_enabled(gcb, WARN_CLOSED)) {
            warn_bad_filehandle(gcb, gv, io, op->op_type);
        }
        gcb->errno_cell = 2;
    } else {
        ok = true;
        int32_t top = static_cast<int32_t>(pp_sp(gcb) - gcb->arg_base);
        for (int32_t i = mark + 1; ok && i <= top; i++) {
            if (!do_print_value(gcb, gcb->arg_base[i], stream)) {
                ok = false;
            } else if (i < top && gcb->output_field_sep && gcb->output_field_sep_len) {
                uint32_t n = static_cast<uint32_t>(gcb->output_field_sep_len);
                if (prx_fwrite(gcb->output_field_sep, 1, n, stream) == 0 || prx_ferror(stream))
                    ok = false;
            }
        }
        if (ok && gcb->output_record_sep && gcb->output_record_sep_len) {
            uint32_t n = static_cast<uint32_t>(gcb->output_record_sep_len);
            if (prx_fwrite(gcb->output_record_sep, 1, n, stream) == 0 || prx_ferror(stream))
                ok = false;
        }
        // The flush substitute answers 0; -1 would be a failure.
        if (ok && (io_body(io)->ioflags & IOf_FLUSH) && prx_return_zero(stream) == -1)
            ok = false;
    }
    sp = pp_extend(gcb, gcb->arg_base + origmark, 1);
    *++sp = ok ? &gcb->sv_yes : &gcb->sv_undef;
    return next_with(gcb, sp);
}
