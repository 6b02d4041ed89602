// Magic attachment: a record of a type letter on a value's chain, with the
// method table the letter chooses, and the removal of every record of a
// letter.
#include "prxgv.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxsvint.h"

namespace {

// Whether sv is one of the slots of the glob's body.
bool is_slot_of_glob(SV* sv, SV* glob)
{
    GP* gp = gv_gp(sv_as<GV>(glob));
    if (!gp)
        return false;
    return sv == gp->gp_sv || sv == as_sv(gp->gp_av) || sv == as_sv(gp->gp_hv) || sv == as_sv(gp->gp_cv) ||
           sv == as_sv(gp->gp_io) || sv == as_sv(gp->gp_form);
}

}  // namespace

void sv_add_magic(PERLGCB* gcb, SV* sv, SV* obj, int how, const char* name, int32_t namlen)
{
    if ((sv->flags & SVf_READONLY) && !in_compile_statement(gcb) && !prx_strchr("gBf", how))
        croak_readonly(gcb);
    if ((sv->flags & SV_MAGIC_FLAGS) || (how == 't' && sv_type(sv) >= SVt_PVMG)) {
        if (MAGIC* found = mg_find_by_type(gcb, sv, how)) {
            if (how == 't')
                found->len |= 1;
            return;
        }
    } else if (sv_type(sv) < SVt_PVMG) {
        sv_upgrade_body(gcb, sv, SVt_PVMG);
    }
    MAGIC* mg = static_cast<MAGIC*>(pool_malloc(gcb, sizeof(MAGIC)));
    std::memset(mg, 0, sizeof *mg);
    mg->next = sv_magic_chain(sv);
    sv_magic_chain(sv) = mg;

    if (!obj || obj == sv || how == '#' || how == 'r' || (sv_type(obj) == SVt_PVGV && is_slot_of_glob(sv, obj))) {
        mg->obj = obj;
    } else {
        mg->obj = sv_refinc(obj);
        mg->mgflags |= MGf_REFCOUNTED;
    }
    mg->type = static_cast<char>(how);
    mg->len = namlen;
    if (name) {
        if (namlen >= 0)
            mg->ptr = pool_strndup(gcb, name, namlen);
        else if (namlen == -2)
            mg->ptr = reinterpret_cast<char*>(sv_refinc(reinterpret_cast<SV*>(const_cast<char*>(name))));
    }
    // A value outside the char range is no letter at all.
    int32_t row = how == static_cast<char>(how) ? mg_table_row_for_type(static_cast<char>(how)) : MG_ROW_UNKNOWN;
    if (row == MG_ROW_UNKNOWN)
        fatal_error(gcb, "Don't know how to handle magic of type '%c'", how);
    if (row >= 0)
        mg->virt = &gcb->magic_vtbl[row];
    if (how == 't')
        mg->len = 1;
    if (how == 'L' || how == '~')
        sv->flags |= SVs_RMG;
    mg_update_flags(gcb, sv);
    if (sv->flags & SVs_GMG)
        sv->flags &= ~SV_PUBLIC_OK;
}

int32_t sv_remove_magic(PERLGCB* gcb, SV* sv, int type)
{
    if (sv_type(sv) < SVt_PVMG || !sv_magic_chain(sv))
        return 0;
    MAGIC** link = &sv_magic_chain(sv);
    while (MAGIC* mg = *link) {
        if (mg->type != static_cast<char>(type)) {
            link = &mg->next;
            continue;
        }
        *link = mg->next;
        mg_free_record(gcb, sv, mg);
    }
    if (!sv_magic_chain(sv)) {
        sv->flags &= ~SV_MAGIC_FLAGS;
        sv->flags |= (sv->flags & SV_PRIVATE_OK) >> 8;
    }
    return 0;
}
