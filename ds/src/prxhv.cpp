// Hashes: the key hash, bucket arrays and their growth, entry storage, the
// keyed operations, and the shared-key table.
#include "prxhv.h"

#include <cstring>

#include "prxgv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxsv.h"

namespace {

constexpr uint32_t HASH_MAGIC_TEST = SVs_GMG | SVs_SMG | SVs_RMG;

// Bytes of a bucket array of n heads: exact below 64 heads, else about
// twice that less the pool's overhead.
uint64_t bucket_bytes(uint64_t n) { return n < 64 ? n * 8 : n * 16 - 16; }

hash_entry** new_buckets(PERLGCB* gcb, uint64_t n)
{
    uint64_t bytes = bucket_bytes(n);
    hash_entry** a = static_cast<hash_entry**>(pool_malloc(gcb, bytes));
    if (a)
        std::memset(a, 0, bytes);
    return a;
}

// The old array of a grown table: the spare chunk when it is big enough and
// none is held, else back to the pool.
void retire_buckets(PERLGCB* gcb, hash_entry** old, uint64_t oldsize)
{
    if (oldsize >= 64 && !gcb->sv_spare_block) {
        gcb->sv_spare_block = old;
        gcb->sv_spare_size = static_cast<uint32_t>(oldsize * 16 - 16);
    } else {
        pool_free(gcb, old);
    }
}

bool key_matches(const hash_entry* he, uint32_t hash, const char* key, int32_t len)
{
    return he->key->hash == hash && he->key->len == len && std::memcmp(he->key->bytes, key, static_cast<size_t>(len)) == 0;
}

hash_key* new_private_key(PERLGCB* gcb, const char* key, int32_t len, uint32_t hash)
{
    hash_key* hek = static_cast<hash_key*>(pool_malloc(gcb, static_cast<uint64_t>(len) + HEK_HEAD + 1));
    // The key runs past the declared 8 bytes into the rest of the block:
    // written through a plain pointer, never indexed as the array.
    char* bytes = hek->bytes;
    std::memcpy(bytes, key, static_cast<size_t>(len));
    bytes[len] = 0;
    hek->len = len;
    hek->hash = hash;
    return hek;
}

// Moves a table with an array to a zeroed array of n heads (a power of two
// above the current count) and redistributes its entries. A failed
// allocation leaves the table as it was.
void rehash_into(PERLGCB* gcb, HV* hv, uint64_t n)
{
    PVHV* b = hv_body(hv);
    uint64_t oldsize = b->max + 1;
    gcb->no_memory_ok = 1;
    hash_entry** a = static_cast<hash_entry**>(pool_malloc(gcb, bucket_bytes(n)));
    if (!a) {
        gcb->no_memory_ok = 0;
        return;
    }
    std::memcpy(a, b->array, oldsize * sizeof(hash_entry*));
    retire_buckets(gcb, b->array, oldsize);
    gcb->no_memory_ok = 0;
    std::memset(a + oldsize, 0, (n - oldsize) * sizeof(hash_entry*));
    b->array = a;
    b->max = n - 1;
    if (!b->fill)
        return;
    // An entry that moves goes to a head at or above oldsize, which this
    // loop does not reach again.
    for (uint64_t i = 0; i < oldsize; i++) {
        hash_entry** link = &a[i];
        if (!*link)
            continue;
        while (hash_entry* he = *link) {
            uint64_t j = he->key->hash & (n - 1);
            if (j != i) {
                *link = he->next;
                if (!(he->next = a[j]))
                    b->fill++;
                a[j] = he;
            } else {
                link = &he->next;
            }
        }
        if (!a[i])
            b->fill--;
    }
}

// Doubles the bucket count of a table. A failed allocation leaves the table
// as it was; it will try again at the next insert into an empty bucket.
void split(PERLGCB* gcb, HV* hv) { rehash_into(gcb, hv, (hv_body(hv)->max + 1) * 2); }

// The first magic record of the hash with an upper-case type letter, and
// whether one of them is 'P' or 'S' (the hash keeps no storage of its own).
bool upper_magic(SV* sv, bool* no_storage)
{
    bool any = false;
    *no_storage = false;
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next) {
        if (host_is_upper(static_cast<uint8_t>(mg->type))) {
            any = true;
            if (mg->type == 'P' || mg->type == 'S')
                *no_storage = true;
        }
    }
    return any;
}

bool tied(PERLGCB* gcb, HV* hv)
{
    return (hv->flags & SVs_RMG) && mg_find_by_type(gcb, as_sv(hv), 'P');
}

// Stores with the hash known; the common tail of both stores. Returns the
// entry, the value given taking the old one's place when the key exists.
hash_entry* store_hashed(PERLGCB* gcb, HV* hv, const char* key, int32_t len, SV* val, uint32_t hash)
{
    PVHV* b = hv_body(hv);
    if (!b->array)
        b->array = new_buckets(gcb, b->max + 1);
    hash_entry** bucket = &b->array[hash & static_cast<uint32_t>(b->max)];
    for (hash_entry* he = *bucket; he; he = he->next) {
        if (key_matches(he, hash, key, len)) {
            sv_release(gcb, he->value);
            he->value = val;
            return he;
        }
    }
    hash_entry* he = he_take(gcb);
    he->key = (hv->flags & SVf_SHAREKEYS) ? hv_share_key(gcb, key, len, hash) : new_private_key(gcb, key, len, hash);
    he->value = val;
    he->next = *bucket;
    *bucket = he;
    b->keys++;
    if (!he->next) {
        b->fill++;
        if (static_cast<uint64_t>(b->keys) > b->max)
            split(gcb, hv);
    }
    return he;
}

// Looks a key up; null when the hash has no buckets or the key is absent.
hash_entry* find(HV* hv, const char* key, int32_t len, uint32_t hash)
{
    PVHV* b = hv_body(hv);
    if (!b->array)
        return nullptr;
    for (hash_entry* he = b->array[hash & static_cast<uint32_t>(b->max)]; he; he = he->next)
        if (key_matches(he, hash, key, len))
            return he;
    return nullptr;
}

// The key bytes of a key value and their length; a hash of 0 asks for the
// key's hash.
const char* key_text(PERLGCB* gcb, SV* keysv, int32_t* len, uint32_t* hash)
{
    uint64_t n = 0;
    const char* p = sv_text(gcb, keysv, &n);
    *len = static_cast<int32_t>(n);
    if (!*hash)
        *hash = hv_key_hash(p, *len);
    return p;
}

// The tie's answer to EXISTS for a temporary element carrying element magic.
bool tied_exists(PERLGCB* gcb, SV* element)
{
    MAGIC* mg = mg_find_by_type(gcb, element, 'p');
    magic_pack_exists(gcb, element, mg);
    return hv_element_is_true(gcb, element);
}

// Removes the entry of a found key from its bucket and releases it (or
// leaves it to the iterator when it is the current one). The common tail of
// both deletes.
SV* delete_hashed(PERLGCB* gcb, HV* hv, const char* key, int32_t len, uint32_t hash, int32_t flags)
{
    PVHV* b = hv_body(hv);
    if (!b->array)
        return nullptr;
    hash_entry** link = &b->array[hash & static_cast<uint32_t>(b->max)];
    bool first = true;
    for (hash_entry* he = *link; he; link = &he->next, he = *link, first = false) {
        if (!key_matches(he, hash, key, len))
            continue;
        *link = he->next;
        if (first && !*link)
            b->fill--;
        SV* result = nullptr;
        if (!(flags & HV_DISCARD)) {
            result = sv_make_temporary(gcb, he->value);
            he->value = &gcb->sv_undef;
        }
        if (he == b->eiter)
            hv->flags |= SVf_LAZYDEL;
        else
            hv_release_entry(gcb, hv, he);
        b->keys--;
        return result;
    }
    return nullptr;
}

// The delete of a hash with upper-case magic: the element, fetched with
// creation, has its clear magic run. True when the hash keeps no storage;
// *result is then the answer (the element, no longer one, or none when it
// cannot be deleted).
bool delete_through_magic(PERLGCB* gcb, SV* element, bool no_storage, SV** result)
{
    mg_call_clear(gcb, element);
    if (!no_storage)
        return false;
    *result = nullptr;
    if (mg_find_by_type(gcb, element, 'p')) {
        sv_remove_magic(gcb, element, 'p');
        *result = element;
    }
    return true;
}

bool has_element_magic(HV* hv, bool* no_storage)
{
    return (hv->flags & SVs_RMG) && upper_magic(as_sv(hv), no_storage);
}

}  // namespace

uint32_t hv_key_hash(const char* key, int32_t len)
{
    uint32_t h = 0;
    for (int32_t i = 0; i < len; i++)
        h = h * 33 + static_cast<uint8_t>(key[i]);
    return h + (h >> 5);
}

hash_entry* he_take(PERLGCB* gcb)
{
    if (!gcb->hash_entry_free_list) {
        hash_entry* arena = static_cast<hash_entry*>(pool_malloc(gcb, HE_ARENA_BYTES));
        *reinterpret_cast<void**>(arena) = gcb->hash_entry_arena_chain;
        gcb->hash_entry_arena_chain = arena;
        constexpr uint64_t slots = HE_ARENA_BYTES / sizeof(hash_entry);
        for (uint64_t i = 1; i < slots; i++)
            arena[i].next = i + 1 < slots ? &arena[i + 1] : nullptr;
        gcb->hash_entry_free_list = &arena[1];
    }
    hash_entry* he = gcb->hash_entry_free_list;
    gcb->hash_entry_free_list = he->next;
    return he;
}

bool hv_element_is_true(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVf_POK) {
        uint64_t cur = sv_cur(sv);
        const char* pv = sv_pv(sv);
        return pv && (cur > 1 || (cur == 1 && *pv != '0'));
    }
    if (sv->flags & SVf_IOK)
        return sv_iv(sv) != 0;
    if (sv->flags & SVf_NOK)
        return sv_nv(sv) != 0.0;
    return sv_is_true(gcb, sv);
}

HV* hv_new_empty(PERLGCB* gcb)
{
    HV* hv = sv_as<HV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(hv), SVt_PVHV);
    PVHV* b = hv_body(hv);
    hv->flags &= ~(SVf_POK | SVp_POK | SVf_NOK | SVp_NOK);
    hv->flags |= SVf_SHAREKEYS;
    b->max = 7;
    b->fill = 0;
    b->pmroot = nullptr;
    hv_iter_start(gcb, hv);
    return hv;
}

SV** hv_store_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen, SV* val, uint32_t hash)
{
    if (!hv)
        return nullptr;
    bool no_storage = false;
    if ((hv->flags & HASH_MAGIC_TEST) && upper_magic(as_sv(hv), &no_storage)) {
        mg_copy_to_element(gcb, as_sv(hv), val, key, klen);
        if (no_storage && !hv_body(hv)->array)
            return nullptr;
    }
    if (!hash)
        hash = hv_key_hash(key, klen);
    return &store_hashed(gcb, hv, key, klen, val, hash)->value;
}

hash_entry* hv_store_sv(PERLGCB* gcb, HV* hv, SV* keysv, SV* val, uint32_t hash)
{
    if (!hv)
        return nullptr;
    bool no_storage = false;
    if ((hv->flags & HASH_MAGIC_TEST) && upper_magic(as_sv(hv), &no_storage)) {
        int32_t save_taint = gcb->tainted;
        if (gcb->tainting)
            gcb->tainted = sv_is_tainted(gcb, keysv);
        SV* copy = sv_make_temporary(gcb, sv_new_copy(gcb, keysv));
        mg_copy_to_element(gcb, as_sv(hv), val, reinterpret_cast<const char*>(copy), HEK_SV_KEY);
        if (save_taint)
            gcb->tainted = 1;
        if (no_storage && !hv_body(hv)->array)
            return nullptr;
    }
    int32_t len = 0;
    const char* key = key_text(gcb, keysv, &len, &hash);
    return store_hashed(gcb, hv, key, len, val, hash);
}

SV** hv_fetch_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen, int32_t lval)
{
    if (!hv)
        return nullptr;
    if (tied(gcb, hv)) {
        SV* sv = sv_new_temporary(gcb);
        mg_copy_to_element(gcb, as_sv(hv), sv, key, klen);
        gcb->tied_fetch_cell = sv;
        return &gcb->tied_fetch_cell;
    }
    PVHV* b = hv_body(hv);
    if (!b->array) {
        if (!lval)
            return nullptr;
        b->array = new_buckets(gcb, b->max + 1);
    }
    uint32_t hash = hv_key_hash(key, klen);
    if (hash_entry* he = find(hv, key, klen, hash))
        return &he->value;
    if (!lval)
        return nullptr;
    return hv_store_str(gcb, hv, key, klen, sv_new_undef(gcb, 0), hash);
}

hash_entry* hv_fetch_sv(PERLGCB* gcb, HV* hv, SV* keysv, int32_t lval, uint32_t hash)
{
    if (!hv)
        return nullptr;
    if (tied(gcb, hv)) {
        hash_entry* fake = gcb->tied_fetch_entry;
        if (!fake) {
            fake = static_cast<hash_entry*>(pool_malloc(gcb, sizeof(hash_entry)));
            fake->next = nullptr;
            fake->key = static_cast<hash_key*>(pool_malloc(gcb, sizeof(hash_key)));
            std::memset(fake->key, 0, sizeof(hash_key));
            gcb->tied_fetch_entry = fake;
        }
        SV* keycopy = sv_make_temporary(gcb, sv_new_copy(gcb, keysv));
        fake->key->len = HEK_SV_KEY;
        hek_key_sv(fake->key) = keycopy;
        fake->value = sv_new_temporary(gcb);
        mg_copy_to_element(gcb, as_sv(hv), fake->value, reinterpret_cast<const char*>(keycopy), HEK_SV_KEY);
        return fake;
    }
    PVHV* b = hv_body(hv);
    if (!b->array) {
        if (!lval)
            return nullptr;
        b->array = new_buckets(gcb, b->max + 1);
    }
    int32_t len = 0;
    const char* key = key_text(gcb, keysv, &len, &hash);
    if (hash_entry* he = find(hv, key, len, hash))
        return he;
    if (!lval)
        return nullptr;
    return hv_store_sv(gcb, hv, keysv, sv_new_undef(gcb, 0), hash);
}

bool hv_exists_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen)
{
    if (!hv)
        return false;
    if (tied(gcb, hv)) {
        SV* sv = sv_new_temporary(gcb);
        mg_copy_to_element(gcb, as_sv(hv), sv, key, klen);
        return tied_exists(gcb, sv);
    }
    return find(hv, key, klen, hv_key_hash(key, klen)) != nullptr;
}

bool hv_exists_sv(PERLGCB* gcb, HV* hv, SV* keysv, uint32_t hash)
{
    if (!hv)
        return false;
    if (tied(gcb, hv)) {
        SV* sv = sv_new_temporary(gcb);
        mg_copy_to_element(gcb, as_sv(hv), sv, reinterpret_cast<const char*>(keysv), HEK_SV_KEY);
        return tied_exists(gcb, sv);
    }
    int32_t len = 0;
    const char* key = key_text(gcb, keysv, &len, &hash);
    return find(hv, key, len, hash) != nullptr;
}

SV* hv_delete_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen, int32_t flags)
{
    if (!hv)
        return nullptr;
    bool no_storage = false;
    if (has_element_magic(hv, &no_storage)) {
        SV** svp = hv_fetch_str(gcb, hv, key, klen, 1);
        SV* result = nullptr;
        if (svp && delete_through_magic(gcb, *svp, no_storage, &result))
            return result;
    }
    return delete_hashed(gcb, hv, key, klen, hv_key_hash(key, klen), flags);
}

SV* hv_delete_sv(PERLGCB* gcb, HV* hv, SV* keysv, int32_t flags, uint32_t hash)
{
    if (!hv)
        return nullptr;
    bool no_storage = false;
    if (has_element_magic(hv, &no_storage)) {
        hash_entry* he = hv_fetch_sv(gcb, hv, keysv, 1, hash);
        SV* result = nullptr;
        if (he && delete_through_magic(gcb, he->value, no_storage, &result))
            return result;
    }
    int32_t len = 0;
    const char* key = key_text(gcb, keysv, &len, &hash);
    return delete_hashed(gcb, hv, key, len, hash, flags);
}

void hv_grow_buckets(PERLGCB* gcb, HV* hv, int64_t wanted)
{
    PVHV* b = hv_body(hv);
    uint64_t oldsize = b->max + 1;
    if (wanted > INT32_MAX || wanted < 0 || static_cast<uint64_t>(wanted) <= oldsize)
        return;
    int64_t newsize = wanted;
    if (newsize & (newsize - 1)) {
        while (newsize & (newsize - 1))
            newsize &= newsize - 1;
        newsize <<= 1;
        if (newsize > INT32_MAX)
            return;
    }
    uint64_t n = static_cast<uint64_t>(newsize);
    if (!b->array) {
        b->array = new_buckets(gcb, n);
        b->max = n - 1;
        return;
    }
    rehash_into(gcb, hv, n);
}

// ---- the shared-key table ---------------------------------------------------------

hash_key* hv_share_key(PERLGCB* gcb, const char* key, int32_t len, uint32_t hash)
{
    HV* table = gcb->shared_key_table;
    PVHV* b = hv_body(table);
    if (!b->array)
        b->array = new_buckets(gcb, b->max + 1);
    hash_entry** bucket = &b->array[hash & static_cast<uint32_t>(b->max)];
    for (hash_entry* he = *bucket; he; he = he->next) {
        if (key_matches(he, hash, key, len)) {
            he->count++;
            return he->key;
        }
    }
    hash_entry* he = he_take(gcb);
    he->key = new_private_key(gcb, key, len, hash);
    he->count = 0;
    he->next = *bucket;
    *bucket = he;
    b->keys++;
    hash_key* hek = he->key;
    if (!he->next) {
        b->fill++;
        if (static_cast<uint64_t>(b->keys) > b->max)
            split(gcb, table);
    }
    he->count++;
    return hek;
}

char* hv_share_key_bytes(PERLGCB* gcb, const char* key, int32_t len, uint32_t hash)
{
    return hv_share_key(gcb, key, len, hash)->bytes;
}

void hv_unshare_key_bytes(PERLGCB* gcb, const char* key, int32_t len, uint32_t hash)
{
    HV* table = gcb->shared_key_table;
    PVHV* b = hv_body(table);
    if (b->array) {
        hash_entry** link = &b->array[hash & static_cast<uint32_t>(b->max)];
        bool first = true;
        for (hash_entry* he = *link; he; link = &he->next, he = *link, first = false) {
            if (!key_matches(he, hash, key, len))
                continue;
            if (--he->count == 0) {
                *link = he->next;
                if (first && !*link)
                    b->fill--;
                pool_free(gcb, he->key);
                he_give_back(gcb, he);
                b->keys--;
            }
            return;
        }
    }
    if (warn_enabled_default(gcb, WARN_INTERNAL))
        category_warning(gcb, WARN_INTERNAL, "Attempt to free non-existent shared string");
}

void hv_unshare_key(PERLGCB* gcb, hash_key* hek)
{
    hv_unshare_key_bytes(gcb, hek->bytes, hek->len, hek->hash);
}
