// Beside the value core: reset of package variables by first letter, the
// code value a value stands for, and the uninitialized-value warning.
#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// The stash a glob's effective glob lives in.
HV* effective_stash(GV* gv)
{
    GP* gp = gv_gp(gv);
    GV* egv = gp && gp->gp_egv ? gp->gp_egv : gv;
    return gv_body(egv)->gvstash;
}

// The glob's code value; a cached method entry does not count.
CV* glob_code(GV* gv)
{
    GP* gp = gv_gp(gv);
    return gp && !gp->gp_cvgen ? gp->gp_cv : nullptr;
}

inline HV* code_stash(SV* cv) { return static_cast<PVCV*>(cv->any)->comp_stash; }

// Resets the package variables of one glob.
void reset_glob(PERLGCB* gcb, GV* gv)
{
    GP* gp = gv_gp(gv);
    if (!gp)
        return;
    SV* sv = gp->gp_sv;
    if (sv && (sv->flags & SV_THINK_FIRST)) {
        // A reference is dropped; read-only, glob-copy and UTF-8 scalars are
        // left as they are. The array and hash are reset either way.
        if ((sv->flags & SVf_ROK) && !(sv->flags & SVf_READONLY))
            sv_drop_reference(gcb, sv);
    } else if (sv) {
        sv->flags &= ~SV_VALUE_FLAGS;
        if (sv->flags & SVf_OOK)
            sv_undo_offset(gcb, sv);
        if (sv_type(sv) >= SVt_PV) {
            sv_cur(sv) = 0;
            if (sv_pv(sv))
                sv_pv(sv)[0] = 0;
            if (gcb->tainting && gcb->tainted)
                sv_mark_tainted(gcb, sv);
        }
    }
    if (gp->gp_av)
        av_remove_all(gcb, gp->gp_av);
    if (gp->gp_hv && !hv_body(gp->gp_hv)->name)
        hv_remove_all(gcb, gp->gp_hv);
}

}  // namespace

void sv_reset_by_letters(PERLGCB* gcb, const char* letters, HV* stash)
{
    if (!stash)
        return;
    PVHV* body = hv_body(stash);
    if (!*letters) {
        for (op_pattern* pm = reinterpret_cast<op_pattern*>(body->pmroot); pm; pm = pm->op_pmnext)
            pm->op_pmdynflags &= static_cast<uint8_t>(~0x01);
        return;
    }
    if (!body->array)
        return;
    bool marked[256] = {};
    const uint8_t* s = reinterpret_cast<const uint8_t*>(letters);
    while (*s) {
        int first = *s;
        int last = first;
        // A '-' right before the terminator is an ordinary letter, never a
        // range that would read past it.
        if (s[1] == '-' && s[2]) {
            last = s[2];
            s += 3;
        } else {
            s++;
        }
        for (int c = first; c <= last; c++)
            marked[c] = true;
        // Every range rescans the whole stash with all letters marked so far.
        body = hv_body(stash);
        for (uint64_t b = 0; b <= body->max; b++) {
            for (hash_entry* he = body->array[b]; he; he = he->next) {
                if (!marked[static_cast<uint8_t>(he->key->bytes[0])])
                    continue;
                SV* value = he->value;
                if (value && sv_type(value) == SVt_PVGV)
                    reset_glob(gcb, sv_as<GV>(value));
            }
        }
    }
}

CV* sv_to_code(PERLGCB* gcb, SV* sv, HV** stash_out, GV** gv_out, int32_t create)
{
    if (!sv) {
        *gv_out = nullptr;
        return nullptr;
    }
    GV* gv;
    switch (sv_type(sv)) {
    case SVt_PVCV:
        *stash_out = code_stash(sv);
        *gv_out = nullptr;
        return sv_as<CV>(sv);
    case SVt_PVAV:
    case SVt_PVHV:
        *gv_out = nullptr;
        return nullptr;
    case SVt_PVGV:
        gv = sv_as<GV>(sv);
        *gv_out = gv;
        *stash_out = effective_stash(gv);
        break;
    default:
        if (sv->flags & SVs_GMG)
            mg_call_get(gcb, sv);
        if (sv->flags & SVf_ROK) {
            if (gcb->overload_generation && (sv->flags & SVf_OVERLOAD)) {
                SV* cur = sv;
                for (;;) {
                    SV* r = overload_call_operator(gcb, cur, &gcb->sv_undef, AMG_TO_CV, AMGf_noright | AMGf_unary);
                    if (!r)
                        break;
                    sv = r;
                    if (!(r->flags & SVf_ROK))
                        fatal_error(gcb, "Overloaded dereference did not return a reference");
                    if (r == cur || sv_rv(r) == sv_rv(cur))
                        break;
                    cur = r;
                    if (!(r->flags & SVf_OVERLOAD))
                        break;
                }
            }
            sv = sv_rv(sv);
            if (sv_type(sv) == SVt_PVCV) {
                *gv_out = nullptr;
                *stash_out = code_stash(sv);
                return sv_as<CV>(sv);
            }
            if (sv_type(sv) != SVt_PVGV)
                fatal_error(gcb, "Not a subroutine reference");
            gv = sv_as<GV>(sv);
        } else if (sv_type(sv) == SVt_PVGV) {
            gv = sv_as<GV>(sv);
        } else {
            uint64_t len = 0;
            gv = gv_fetch_by_name(gcb, sv_text(gcb, sv, &len), create, SVt_PVCV);
        }
        *gv_out = gv;
        if (!gv)
            return nullptr;
        *stash_out = effective_stash(gv);
        break;
    }
    if (create && !glob_code(gv)) {
        scope_enter(gcb);
        SV* name = sv_new_head(gcb);
        gv_effective_qualified_name(gcb, name, gv, nullptr);
        int32_t floor = start_sub_compile(gcb, 0, 0);
        // The const op takes over the name value.
        sub_define_plain(gcb, floor, op_new_value(gcb, OP_CONST, 0, name), nullptr, nullptr);
        scope_leave(gcb);
        if (!glob_code(gv)) {
            uint64_t len = 0;
            fatal_error(gcb, "Unable to create sub named \"%s\"", sv_text(gcb, sv, &len));
        }
    }
    return glob_code(gv);
}

void warn_uninitialized(PERLGCB* gcb)
{
    const char* in = "";
    const char* desc = "";
    if (gcb->op) {
        in = " in ";
        desc = gcb->op_desc_table[gcb->op->op_type];
    }
    category_warning(gcb, WARN_UNINITIALIZED, "Use of uninitialized value%s%s", in, desc);
}
