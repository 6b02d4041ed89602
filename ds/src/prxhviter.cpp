// Hash iteration (the one position a hash keeps in RITER and EITER), entry
// release, clearing, freeing and copying.
#include <cstring>

#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxsv.h"

namespace {

// A glob that holds a named sub leaving a stash may change what methods
// resolve to.
bool drops_a_sub(HV* hv, SV* value)
{
    if (!value || !sv_is_glob(value) || !hv_body(hv)->name)
        return false;
    GP* gp = gv_gp(sv_as<GV>(value));
    return gp && gp->gp_cv && gp->gp_cvgen == 0;
}

// Releases every entry of every bucket, then starts an iteration (which
// also releases a lazily deleted current entry).
void free_all_entries(PERLGCB* gcb, HV* hv)
{
    PVHV* b = hv_body(hv);
    if (!b->array)
        return;
    for (uint64_t i = 0; i <= b->max; i++) {
        hash_entry* he = b->array[i];
        while (he) {
            hash_entry* next = he->next;
            hv_release_entry(gcb, hv, he);
            he = next;
        }
    }
    hv_iter_start(gcb, hv);
}

hash_entry** new_zeroed_buckets(PERLGCB* gcb, uint64_t n)
{
    uint64_t bytes = n < 64 ? n * 8 : n * 16 - 16;
    hash_entry** a = static_cast<hash_entry**>(pool_malloc(gcb, bytes));
    std::memset(a, 0, bytes);
    return a;
}

// The next key of a tied hash through FIRSTKEY and NEXTKEY. EITER is a
// private entry whose key record holds the current key as a value.
hash_entry* tied_advance(PERLGCB* gcb, HV* hv, MAGIC* mg)
{
    PVHV* b = hv_body(hv);
    SV* key = sv_new_temporary(gcb);
    hash_entry* he = b->eiter;
    if (he) {
        sv_assign(gcb, key, hv_entry_key_sv(gcb, he));
        sv_release(gcb, hek_key_sv(he->key));
    } else {
        he = he_take(gcb);
        std::memset(he, 0, sizeof *he);
        he->key = static_cast<hash_key*>(pool_malloc(gcb, sizeof(hash_key)));
        std::memset(he->key, 0, sizeof(hash_key));
        he->key->len = HEK_SV_KEY;
        b->eiter = he;
    }
    magic_pack_next_key(gcb, as_sv(hv), mg, key);
    if (key->flags & SVf_OK_ANY) {
        he->key->len = HEK_SV_KEY;
        hek_key_sv(he->key) = sv_refinc(key);
        return he;
    }
    if (he->value)
        sv_release(gcb, he->value);
    pool_free(gcb, he->key);
    he_give_back(gcb, he);
    b->eiter = nullptr;
    return nullptr;
}

// Frees an entry and its key; its value and a value key are released now,
// or, later, made temporary (released at the next temporaries free).
void release_entry(PERLGCB* gcb, HV* hv, hash_entry* he, bool later)
{
    if (!he)
        return;
    auto drop = [&](SV* sv) {
        if (later)
            sv_make_temporary(gcb, sv);
        else
            sv_release(gcb, sv);
    };
    if (drops_a_sub(hv, he->value))
        gcb->method_cache_generation++;
    if (he->value)
        drop(he->value);
    if (he->key->len == HEK_SV_KEY) {
        drop(hek_key_sv(he->key));
        pool_free(gcb, he->key);
    } else if (!(hv->flags & SVf_SHAREKEYS)) {
        pool_free(gcb, he->key);
    } else {
        hv_unshare_key(gcb, he->key);
    }
    he_give_back(gcb, he);
}

}  // namespace

void hv_release_entry(PERLGCB* gcb, HV* hv, hash_entry* he)
{
    release_entry(gcb, hv, he, false);
}

void hv_release_entry_later(PERLGCB* gcb, HV* hv, hash_entry* he)
{
    release_entry(gcb, hv, he, true);
}

int32_t hv_iter_start(PERLGCB* gcb, HV* hv)
{
    if (!hv)
        fatal_error(gcb, "Bad hash");
    PVHV* b = hv_body(hv);
    hash_entry* he = b->eiter;
    if (he && (hv->flags & SVf_LAZYDEL)) {
        hv->flags &= ~SVf_LAZYDEL;
        hv_release_entry(gcb, hv, he);
    }
    b->riter = -1;
    b->eiter = nullptr;
    return static_cast<int32_t>(b->keys);
}

hash_entry* hv_iter_advance(PERLGCB* gcb, HV* hv)
{
    if (!hv)
        fatal_error(gcb, "Bad hash");
    PVHV* b = hv_body(hv);
    if (hv->flags & SVs_RMG)
        if (MAGIC* mg = mg_find_by_type(gcb, as_sv(hv), 'P'))
            return tied_advance(gcb, hv, mg);
    if (!b->array)
        b->array = new_zeroed_buckets(gcb, b->max + 1);
    hash_entry* old = b->eiter;
    hash_entry* he = old ? old->next : nullptr;
    while (!he) {
        b->riter++;
        if (static_cast<int64_t>(b->riter) > static_cast<int64_t>(b->max)) {
            b->riter = -1;
            break;
        }
        he = b->array[b->riter];
    }
    if (old && (hv->flags & SVf_LAZYDEL)) {
        hv->flags &= ~SVf_LAZYDEL;
        hv_release_entry(gcb, hv, old);
    }
    b->eiter = he;
    return he;
}

char* hv_entry_key(PERLGCB* gcb, hash_entry* he, int32_t* len)
{
    if (he->key->len == HEK_SV_KEY) {
        uint64_t n = 0;
        char* p = sv_text(gcb, hek_key_sv(he->key), &n);
        *len = static_cast<int32_t>(n);
        return p;
    }
    *len = he->key->len;
    return he->key->bytes;
}

SV* hv_entry_key_sv(PERLGCB* gcb, hash_entry* he)
{
    if (he->key->len == HEK_SV_KEY)
        return sv_new_temporary_copy(gcb, hek_key_sv(he->key));
    return sv_make_temporary(gcb, sv_new_from_bytes(gcb, he->key->bytes, static_cast<uint64_t>(he->key->len)));
}

SV* hv_entry_value(PERLGCB* gcb, HV* hv, hash_entry* he)
{
    if ((hv->flags & SVs_RMG) && mg_find_by_type(gcb, as_sv(hv), 'P')) {
        SV* sv = sv_new_temporary(gcb);
        if (he->key->len == HEK_SV_KEY)
            mg_copy_to_element(gcb, as_sv(hv), sv, reinterpret_cast<const char*>(hek_key_sv(he->key)), HEK_SV_KEY);
        else
            mg_copy_to_element(gcb, as_sv(hv), sv, he->key->bytes, he->key->len);
        return sv;
    }
    return he->value;
}

void hv_remove_all(PERLGCB* gcb, HV* hv)
{
    if (!hv)
        return;
    PVHV* b = hv_body(hv);
    free_all_entries(gcb, hv);
    b->fill = 0;
    b->keys = 0;
    if (b->array)
        std::memset(b->array, 0, (b->max + 1) * sizeof(hash_entry*));
    if (hv->flags & SVs_RMG)
        mg_call_clear(gcb, as_sv(hv));
}

void hv_free_storage(PERLGCB* gcb, HV* hv)
{
    if (!hv)
        return;
    PVHV* b = hv_body(hv);
    free_all_entries(gcb, hv);
    pool_free(gcb, b->array);
    pool_free(gcb, b->name);
    b->name = nullptr;
    b->array = nullptr;
    b->max = 7;
    b->fill = 0;
    b->keys = 0;
    if (hv->flags & SVs_RMG)
        mg_call_clear(gcb, as_sv(hv));
}

HV* hv_new_copy(PERLGCB* gcb, HV* src)
{
    HV* copy = hv_new_empty(gcb);
    uint64_t max = src ? hv_body(src)->max : 0;
    uint64_t fill = src ? hv_body(src)->fill : 0;
    while (max && max + 1 >= 2 * fill)
        max >>= 1;
    hv_body(copy)->max = max;
    if (!fill)
        return copy;
    PVHV* sb = hv_body(src);
    int32_t riter = sb->riter;
    hash_entry* eiter = sb->eiter;
    // A lazily deleted current entry is released by the pass: the source's
    // position then cannot be put back, and its iteration ends instead.
    bool lost = eiter && (src->flags & SVf_LAZYDEL);
    hv_iter_start(gcb, src);
    while (hash_entry* he = hv_iter_advance(gcb, src)) {
        int32_t len = 0;
        char* key = hv_entry_key(gcb, he, &len);
        hv_store_str(gcb, copy, key, len, sv_new_copy(gcb, hv_entry_value(gcb, src, he)), he->key->hash);
    }
    sb->riter = lost ? -1 : riter;
    sb->eiter = lost ? nullptr : eiter;
    return copy;
}

void hv_attach_magic(PERLGCB* gcb, HV* hv, GV* gv, int how)
{
    sv_add_magic(gcb, as_sv(hv), as_sv(gv), how, nullptr, 0);
}
