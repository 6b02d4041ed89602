// Pseudo-hashes: an array whose element 0 refers to a hash mapping field
// names to element indexes.
#include "prxav.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxsv.h"

namespace {

// The element index a field-map value stands for; below 1 is an error,
// since element 0 is the map itself.
int32_t index_of(PERLGCB* gcb, SV* sv)
{
    int64_t iv = (sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv);
    int32_t ix = static_cast<int32_t>(iv);
    if (ix < 1)
        fatal_error(gcb, "Bad index while coercing array into hash");
    return ix;
}

int32_t field_index(PERLGCB* gcb, AV* av, SV* keysv, uint32_t hash)
{
    HV* map = pseudohash_field_map(gcb, av);
    hash_entry* he = hv_fetch_sv(gcb, map, keysv, 0, hash);
    if (!he) {
        uint64_t len = 0;
        const char* name = sv_text(gcb, keysv, &len);
        fatal_error(gcb, "No such pseudo-hash field \"%s\"", name);
    }
    return index_of(gcb, he->value);
}

// The index of a field for exists and delete; -1 when the map lacks the
// name or holds no index for it.
int32_t field_index_if_any(PERLGCB* gcb, AV* av, SV* keysv, uint32_t hash)
{
    HV* map = pseudohash_field_map(gcb, av);
    hash_entry* he = hv_fetch_sv(gcb, map, keysv, 0, hash);
    if (!he || !(he->value->flags & SVf_OK_ANY))
        return -1;
    return index_of(gcb, he->value);
}

}  // namespace

HV* pseudohash_field_map(PERLGCB* gcb, AV* av)
{
    SV** svp = av ? av_fetch_element(gcb, av, 0, 0) : nullptr;
    if (svp) {
        SV* sv = *svp;
        if (sv->flags & SVs_GMG)
            mg_call_get(gcb, sv);
        if ((sv->flags & SVf_ROK) && sv_type(sv_rv(sv)) == SVt_PVHV)
            return sv_as<HV>(sv_rv(sv));
    }
    fatal_error(gcb, "Can't coerce array into hash");
}

SV** pseudohash_fetch(PERLGCB* gcb, AV* av, SV* keysv, int32_t lval, uint32_t hash)
{
    return av_fetch_element(gcb, av, field_index(gcb, av, keysv, hash), lval);
}

SV** pseudohash_store(PERLGCB* gcb, AV* av, SV* keysv, SV* val, uint32_t hash)
{
    return av_store_element(gcb, av, field_index(gcb, av, keysv, hash), val);
}

bool pseudohash_exists(PERLGCB* gcb, AV* av, SV* keysv, uint32_t hash)
{
    int32_t ix = field_index_if_any(gcb, av, keysv, hash);
    return ix >= 0 && av_element_exists(gcb, av, ix);
}

SV* pseudohash_delete(PERLGCB* gcb, AV* av, SV* keysv, int32_t flags, uint32_t hash)
{
    int32_t ix = field_index_if_any(gcb, av, keysv, hash);
    return ix >= 0 ? av_delete_element(gcb, av, ix, flags) : nullptr;
}

hash_entry* pseudohash_next_entry(PERLGCB* gcb, AV* av)
{
    return hv_iter_advance(gcb, pseudohash_field_map(gcb, av));
}

SV* pseudohash_entry_value(PERLGCB* gcb, AV* av, hash_entry* he)
{
    SV* v = hv_entry_value(gcb, pseudohash_field_map(gcb, av), he);
    SV** svp = av_fetch_element(gcb, av, index_of(gcb, v), 1);
    return svp ? *svp : &gcb->sv_undef;
}
