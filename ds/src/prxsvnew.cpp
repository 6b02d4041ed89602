// Constructors of values, temporaries, references, blessing, and the type
// words of referents.
#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxsvint.h"

const char* sv_type_word(uint32_t type, bool rok)
{
    switch (type) {
    case SVt_NULL:
    case SVt_IV:
    case SVt_NV:
    case SVt_RV:
    case SVt_PV:
    case SVt_PVIV:
    case SVt_PVNV:
    case SVt_PVMG:
    case SVt_PVBM:
        return rok ? "REF" : "SCALAR";
    case SVt_PVLV: return "LVALUE";
    case SVt_PVAV: return "ARRAY";
    case SVt_PVHV: return "HASH";
    case SVt_PVCV: return "CODE";
    case SVt_PVGV: return "GLOB";
    case SVt_PVFM: return "FORMAT";
    case SVt_PVIO: return "IO";
    default: return "UNKNOWN";
    }
}

SV* sv_new_from_cstring(PERLGCB* gcb, const char* ptr, uint64_t len)
{
    SV* sv = take_head(gcb);
    if (ptr)
        sv_set_bytes(gcb, sv, ptr, len ? len : std::strlen(ptr));
    return sv;
}

SV* sv_new_from_bytes(PERLGCB* gcb, const char* ptr, uint64_t len)
{
    SV* sv = take_head(gcb);
    if (ptr)
        sv_set_bytes(gcb, sv, ptr, len);
    return sv;
}

SV* sv_new_from_double(PERLGCB* gcb, double value)
{
    SV* sv = take_head(gcb);
    sv_set_double(gcb, sv, value);
    return sv;
}

SV* sv_new_from_int(PERLGCB* gcb, int64_t value)
{
    SV* sv = take_head(gcb);
    sv_set_int(gcb, sv, value);
    return sv;
}

SV* sv_new_from_uint(PERLGCB* gcb, uint64_t value)
{
    SV* sv = take_head(gcb);
    sv_upgrade_body(gcb, sv, SVt_IV);
    clear_value_flags(sv);
    undo_offset(gcb, sv);
    sv->flags |= SVf_IOK | SVp_IOK;
    sv_iv(sv) = 0;
    if (gcb->tainting && gcb->tainted)
        sv_add_magic(gcb, sv, nullptr, 't', nullptr, 0);
    sv->flags |= SVf_IsUV;
    sv_iv(sv) = static_cast<int64_t>(value);
    return sv;
}

SV* sv_new_reference_adopting(PERLGCB* gcb, SV* referent)
{
    SV* sv = take_head(gcb);
    sv_upgrade_body(gcb, sv, SVt_RV);
    referent->flags &= ~SVs_TEMP;
    sv_rv(sv) = referent;
    sv->flags |= SVf_ROK;
    return sv;
}

SV* sv_new_reference(PERLGCB* gcb, SV* referent)
{
    referent->refcnt++;
    return sv_new_reference_adopting(gcb, referent);
}

SV* sv_new_copy(PERLGCB* gcb, SV* src)
{
    if (!src)
        return nullptr;
    if (sv_type(src) == SVt_FREED) {
        if (warn_enabled_default(gcb, WARN_INTERNAL))
            category_warning(gcb, WARN_INTERNAL, "semi-panic: attempt to dup freed string");
        return nullptr;
    }
    SV* sv = take_head(gcb);
    if (src->flags & SVs_TEMP) {
        src->flags &= ~SVs_TEMP;
        sv_assign(gcb, sv, src);
        src->flags |= SVs_TEMP;
    } else {
        sv_assign(gcb, sv, src);
    }
    return sv;
}

SV* sv_new_temporary(PERLGCB* gcb)
{
    SV* sv = take_head(gcb);
    sv->flags = SVs_TEMP;
    push_temporary(gcb, sv);
    return sv;
}

SV* sv_new_temporary_copy(PERLGCB* gcb, SV* src)
{
    SV* sv = take_head(gcb);
    sv_assign(gcb, sv, src);
    push_temporary(gcb, sv);
    return sv;
}

SV* sv_make_temporary(PERLGCB* gcb, SV* sv)
{
    if (!sv)
        return nullptr;
    if ((sv->flags & SVf_READONLY) && sv_is_immortal(gcb, sv))
        return sv;
    push_temporary(gcb, sv);
    return sv;
}

SV* sv_make_ref_to_new(PERLGCB* gcb, SV* rv, const char* classname)
{
    SV* sv = take_head(gcb);
    sv_make_modifiable(gcb, rv);
    rv->flags &= ~SVf_OVERLOAD;
    if (sv_type(rv) >= SVt_PVMG) {
        uint32_t refcnt = rv->refcnt;
        rv->refcnt = 0;
        sv_destroy_contents(gcb, rv);
        rv->flags = 0;
        rv->refcnt = refcnt;
    }
    if (sv_type(rv) < SVt_RV) {
        sv_upgrade_body(gcb, rv, SVt_RV);
    } else if (sv_type(rv) > SVt_RV) {
        undo_offset(gcb, rv);
        if (sv_len(rv) != 0)
            pool_free(gcb, sv_pv(rv));
        sv_cur(rv) = 0;
        sv_len(rv) = 0;
    }
    clear_value_flags(rv);
    undo_offset(gcb, rv);
    sv_rv(rv) = sv;
    rv->flags |= SVf_ROK;
    if (classname) {
        HV* stash = gv_stash_by_name(gcb, classname, 1);
        sv_bless_referent(gcb, rv, stash);
    }
    return sv;
}

SV* sv_bless_referent(PERLGCB* gcb, SV* rv, HV* stash)
{
    if (!(rv->flags & SVf_ROK))
        fatal_error(gcb, "Can't bless non-reference value");
    SV* referent = sv_rv(rv);
    if (referent->flags & SVf_READONLY)
        croak_readonly(gcb);
    if (referent->flags & SVs_OBJECT) {
        if (sv_type(referent) != SVt_PVIO)
            gcb->sv_objcount--;
        HV* old = sv_stash(referent);
        sv_stash(referent) = nullptr;
        sv_release(gcb, as_sv(old));
    }
    referent->flags |= SVs_OBJECT;
    if (sv_type(referent) != SVt_PVIO)
        gcb->sv_objcount++;
    if (sv_type(referent) < SVt_PVMG)
        sv_upgrade_body(gcb, referent, SVt_PVMG);
    sv_stash(referent) = sv_as<HV>(sv_refinc(as_sv(stash)));
    if (gcb->overload_generation && gv_rebuild_overload_table(gcb, stash))
        rv->flags |= SVf_OVERLOAD;
    else
        rv->flags &= ~SVf_OVERLOAD;
    return rv;
}

const char* sv_referent_type_name(PERLGCB*, SV* sv, int32_t ob)
{
    if (ob && (sv->flags & SVs_OBJECT)) {
        HV* stash = sv_stash(sv);
        return stash ? hv_body(stash)->name : nullptr;
    }
    return sv_type_word(sv_type(sv), (sv->flags & SVf_ROK) != 0);
}

int32_t sv_is_object_ref(PERLGCB* gcb, SV* sv)
{
    if (!sv)
        return 0;
    if (sv->flags & SVs_GMG)
        mg_call_get(gcb, sv);
    return (sv->flags & SVf_ROK) && sv_rv(sv) && (sv_rv(sv)->flags & SVs_OBJECT) ? 1 : 0;
}
