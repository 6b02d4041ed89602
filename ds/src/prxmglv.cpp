// Lvalue magic: values that stand for a part of something else (substr,
// vec, pos, $#array, keys, deferred elements) and globs read or assigned as
// scalars; get reads through them and set writes back.
#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxsv.h"
#include "prxutf8.h"

namespace {

PVLV* lv_body(SV* sv) { return static_cast<PVLV*>(sv->any); }

// Character semantics: the value is UTF-8 and the statement is not under
// byte semantics.
bool do_utf8(PERLGCB* gcb, SV* sv)
{
    return (sv->flags & SVf_UTF8) && !(gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES));
}

int32_t array_base(PERLGCB* gcb) { return gcb->current_statement ? gcb->current_statement->cop_arybase : 0; }

// Makes a value undefined: an offset-start string is moved back first.
void make_undef(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVf_OOK)
        sv_undo_offset(gcb, sv);
    sv->flags &= ~(SVf_OK_ANY | SVf_OVERLOAD | SVf_IsUV);
}

int64_t int_of(PERLGCB* gcb, SV* sv) { return (sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv); }

// Hands the deferred element's target over to an element that now exists.
void settle_target(PERLGCB* gcb, SV* sv, MAGIC* mg, SV* value)
{
    PVLV* lv = lv_body(sv);
    sv_refinc(value);
    sv_release(gcb, lv->targ);
    lv->targ = value;
    lv->targlen = 0;
    sv_release(gcb, mg->obj);
    mg->obj = nullptr;
    mg->mgflags &= ~MGf_REFCOUNTED;
}

// The element of the hash or pseudo-hash aggregate under key, fetched with
// the lvalue flag; null when there is none.
SV* keyed_element(PERLGCB* gcb, SV* aggregate, SV* key, int32_t lval)
{
    if (sv_type(aggregate) == SVt_PVHV) {
        hash_entry* he = hv_fetch_sv(gcb, sv_as<HV>(aggregate), key, lval, 0);
        return he ? he->value : nullptr;
    }
    SV** svp = pseudohash_fetch(gcb, sv_as<AV>(aggregate), key, lval, 0);
    return svp ? *svp : nullptr;
}

}  // namespace

int32_t magic_substr_get(PERLGCB* gcb, SV* sv, MAGIC*)
{
    PVLV* lv = lv_body(sv);
    SV* lsv = lv->targ;
    uint64_t len = 0;
    const char* tmps = sv_text(gcb, lsv, &len);
    int32_t offs = static_cast<int32_t>(lv->targoff);
    int32_t rem = static_cast<int32_t>(lv->targlen);
    if (lsv->flags & SVf_UTF8)
        sv_pos_char_to_byte(gcb, lsv, &offs, &rem);
    if (static_cast<uint64_t>(offs) > len)
        offs = static_cast<int32_t>(len);
    if (static_cast<uint64_t>(rem) + static_cast<uint64_t>(offs) > len)
        rem = static_cast<int32_t>(len - static_cast<uint64_t>(offs));
    sv_set_bytes(gcb, sv, tmps + offs, static_cast<uint64_t>(rem));
    if (lsv->flags & SVf_UTF8)
        sv->flags |= SVf_UTF8;
    else
        sv->flags &= ~SVf_UTF8;
    return 0;
}

int32_t magic_substr_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    uint64_t len = 0;
    const char* tmps = sv_text(gcb, sv, &len);
    PVLV* lv = lv_body(sv);
    SV* lsv = lv->targ;
    int32_t lvoff = static_cast<int32_t>(lv->targoff);
    int32_t lvlen = static_cast<int32_t>(lv->targlen);
    if (do_utf8(gcb, sv)) {
        sv_convert_to_utf8(gcb, lsv);
        sv_pos_char_to_byte(gcb, lsv, &lvoff, &lvlen);
        sv_insert(gcb, lsv, static_cast<uint64_t>(lvoff), static_cast<uint64_t>(lvlen), tmps, len);
        lsv->flags |= SVf_UTF8;
    } else if (lsv->flags & SVf_UTF8) {
        sv_pos_char_to_byte(gcb, lsv, &lvoff, &lvlen);
        int64_t n = static_cast<int64_t>(len);
        uint8_t* utf = utf8_copy_from_bytes(gcb, reinterpret_cast<const uint8_t*>(tmps), &n);
        sv_insert(gcb, lsv, static_cast<uint64_t>(lvoff), static_cast<uint64_t>(lvlen), reinterpret_cast<char*>(utf),
                  static_cast<uint64_t>(n));
        pool_free(gcb, utf);
    } else {
        sv_insert(gcb, lsv, static_cast<uint64_t>(lvoff), static_cast<uint64_t>(lvlen), tmps, len);
    }
    return 0;
}

int32_t magic_vec_get(PERLGCB* gcb, SV* sv, MAGIC*)
{
    PVLV* lv = lv_body(sv);
    if (!lv->targ) {
        make_undef(gcb, sv);
        return 0;
    }
    sv_set_uint(gcb, sv, do_vec_read(gcb, lv->targ, static_cast<int32_t>(lv->targoff), static_cast<int32_t>(lv->targlen)));
    return 0;
}

int32_t magic_vec_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    do_vec_write(gcb, sv);
    return 0;
}

int32_t magic_pos_get(PERLGCB* gcb, SV* sv, MAGIC*)
{
    SV* lsv = lv_body(sv)->targ;
    if (sv_type(lsv) >= SVt_PVMG && sv_magic_chain(lsv)) {
        MAGIC* mg = mg_find_by_type(gcb, lsv, 'g');
        if (mg && mg->len >= 0) {
            int32_t i = mg->len;
            if (do_utf8(gcb, lsv))
                sv_pos_b2u(gcb, lsv, &i);
            sv_set_int(gcb, sv, static_cast<int64_t>(i) + array_base(gcb));
            return 0;
        }
    }
    make_undef(gcb, sv);
    return 0;
}

int32_t magic_pos_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    SV* lsv = lv_body(sv)->targ;
    MAGIC* mg = nullptr;
    if (sv_type(lsv) >= SVt_PVMG && sv_magic_chain(lsv))
        mg = mg_find_by_type(gcb, lsv, 'g');
    bool defined = sv->flags & SVf_OK_ANY;
    if (!mg) {
        if (!defined)
            return 0;
        sv_add_magic(gcb, lsv, nullptr, 'g', nullptr, 0);
        mg = mg_find_by_type(gcb, lsv, 'g');
    } else if (!defined) {
        mg->len = -1;
        return 0;
    }
    int64_t len = static_cast<int64_t>((lsv->flags & SVf_POK) ? sv_cur(lsv) : sv_byte_length(gcb, lsv));
    int64_t pos = int_of(gcb, sv) - array_base(gcb);
    int64_t ulen = 0;
    if (do_utf8(gcb, lsv)) {
        ulen = static_cast<int64_t>(sv_char_length(gcb, lsv));
        if (ulen)
            len = ulen;
    }
    if (pos < 0) {
        pos += len;
        if (pos < 0)
            pos = 0;
    } else if (pos > len) {
        pos = len;
    }
    if (ulen) {
        int32_t p = static_cast<int32_t>(pos);
        sv_pos_char_to_byte(gcb, lsv, &p, nullptr);
        pos = p;
    }
    mg->len = static_cast<int32_t>(pos);
    mg->mgflags &= ~MGf_MINMATCH;
    return 0;
}

int32_t magic_arylen_get(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    sv_set_int(gcb, sv, static_cast<int64_t>(av_highest_index(gcb, sv_as<AV>(mg->obj))) + array_base(gcb));
    return 0;
}

int32_t magic_arylen_set(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    av_set_highest_index(gcb, sv_as<AV>(mg->obj), static_cast<int32_t>(int_of(gcb, sv) - array_base(gcb)));
    return 0;
}

int32_t magic_nkeys_get(PERLGCB* gcb, SV* sv, MAGIC*)
{
    HV* hv = sv_as<HV>(lv_body(sv)->targ);
    int64_t n = 0;
    if (hv) {
        hv_iter_start(gcb, hv);
        if (!((hv->flags & SVs_RMG) && mg_find_by_type(gcb, as_sv(hv), 'P')))
            n = hv_body(hv)->keys;
        else
            while (hv_iter_advance(gcb, hv))
                n++;
    }
    sv_set_int(gcb, sv, n);
    return 0;
}

int32_t magic_nkeys_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    if (HV* hv = sv_as<HV>(lv_body(sv)->targ))
        hv_grow_buckets(gcb, hv, int_of(gcb, sv));
    return 0;
}

int32_t magic_glob_get(PERLGCB* gcb, SV* sv, MAGIC*)
{
    // A fake glob could be coerced to a plain value by the store; the fake
    // bit is off while the name is written.
    if (sv->flags & SVf_FAKE) {
        sv->flags &= ~SVf_FAKE;
        gv_effective_qualified_name(gcb, sv, sv_as<GV>(sv), "*");
        sv->flags |= SVf_FAKE;
    } else {
        gv_effective_qualified_name(gcb, sv, sv_as<GV>(sv), "*");
    }
    return 0;
}

int32_t magic_glob_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    if (!(sv->flags & SVf_OK_ANY))
        return 0;
    uint64_t len = 0;
    const char* s = sv_text(gcb, sv, &len);
    if (*s == '*' && s[1])
        s++;
    GV* gv = gv_fetch_by_name(gcb, s, GV_ADD, SVt_PVGV);
    if (as_sv(gv) == sv)
        return 0;
    GV* self = sv_as<GV>(sv);
    if (gv_gp(self))
        gp_release(gcb, self);
    gv_gp(self) = gp_retain(gcb, gv_gp(gv));
    return 0;
}

int32_t magic_defelem_get(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    PVLV* lv = lv_body(sv);
    SV* targ = nullptr;
    if (lv->targlen) {
        if (mg->obj) {
            targ = keyed_element(gcb, lv->targ, mg->obj, 0);
        } else {
            AV* av = sv_as<AV>(lv->targ);
            int32_t off = static_cast<int32_t>(lv->targoff);
            if (off <= av_highest_index(gcb, av))
                if (SV** svp = av_fetch_element(gcb, av, off, 0))
                    targ = *svp;
        }
        // Somebody else made the element meanwhile: it becomes the target.
        if (targ && targ != &gcb->sv_undef)
            settle_target(gcb, sv, mg, targ);
    } else {
        targ = lv->targ;
    }
    sv_assign(gcb, sv, targ ? targ : &gcb->sv_undef);
    return 0;
}

int32_t magic_defelem_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    PVLV* lv = lv_body(sv);
    if (lv->targlen)
        magic_create_deferred_element(gcb, sv);
    if (SV* targ = lv->targ) {
        sv_assign(gcb, targ, sv);
        if (targ->flags & SVs_SMG)
            mg_call_set(gcb, targ);
    }
    return 0;
}

void magic_create_deferred_element(PERLGCB* gcb, SV* sv)
{
    PVLV* lv = lv_body(sv);
    MAGIC* mg;
    if (!lv->targlen || !(mg = mg_find_by_type(gcb, sv, 'y')))
        return;
    SV* value = nullptr;
    if (mg->obj) {
        value = keyed_element(gcb, lv->targ, mg->obj, 1);
        if (!value || value == &gcb->sv_undef) {
            uint64_t len = 0;
            fatal_error(gcb, "Modification of non-creatable hash value attempted, subscript \"%s\"",
                        sv_text(gcb, mg->obj, &len));
        }
    } else {
        AV* av = sv_as<AV>(lv->targ);
        int32_t off = static_cast<int32_t>(lv->targoff);
        // A negative length: the array must not be extended, and an element
        // beyond its end has no target.
        if (static_cast<int64_t>(lv->targlen) < 0 && off > av_highest_index(gcb, av)) {
            value = nullptr;
        } else {
            SV** svp = av_fetch_element(gcb, av, off, 1);
            if (!svp || (value = *svp) == &gcb->sv_undef)
                fatal_error(gcb, "Modification of non-creatable array value attempted, subscript %d", off);
        }
    }
    settle_target(gcb, sv, mg, value);
}
