// Magic dispatch: the magic summary flags of a value, finding a record by
// its type letter, and freeing a value's chain.
#include "prxmg.h"

#include "prxpool.h"
#include "prxsv.h"

MAGIC* mg_find_by_type(PERLGCB*, SV* sv, int type)
{
    if (!sv || sv_type(sv) < SVt_PVMG)
        return nullptr;
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next)
        if (mg->type == static_cast<char>(type))
            return mg;
    return nullptr;
}

uint32_t mg_update_flags(PERLGCB*, SV* sv)
{
    // Bits are only ever added, record by record in chain order.
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next) {
        const magic_method_table* vt = mg->virt;
        if (!vt)
            continue;
        if (vt->get && !(mg->mgflags & MGf_GSKIP))
            sv->flags |= SVs_GMG;
        if (vt->set)
            sv->flags |= SVs_SMG;
        if (vt->clear || !(sv->flags & (SVs_GMG | SVs_SMG)))
            sv->flags |= SVs_RMG;
    }
    return sv->flags;
}

int32_t mg_free_chain(PERLGCB* gcb, SV* sv)
{
    MAGIC* next;
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = next) {
        next = mg->next;
        if (mg->virt && mg->virt->free)
            mg->virt->free(gcb, sv, mg);
        if (mg->ptr && mg->type != 'g') {
            if (mg->len >= 0)
                pool_free(mg->ptr);
            else if (mg->len == -2)
                sv_release(gcb, reinterpret_cast<SV*>(mg->ptr));
        }
        if ((mg->mgflags & MGf_REFCOUNTED) && mg->obj)
            sv_release(gcb, mg->obj);
        pool_free(mg);
    }
    sv_magic_chain(sv) = nullptr;
    return 0;
}
