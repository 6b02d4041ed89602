// Hashes: the hash body's entries and key records, the key hash, keyed
// operations, iteration, clearing and copying, and the shared-key table.
#pragma once

#include <cstdint>

#include "prx.h"

// A key record: hash, length, the bytes and a NUL, allocated as len + 9
// bytes. Length HEK_SV_KEY marks a 16-byte record whose byte area holds a
// pointer to a value holding the key (the fake entries of tied hashes).
struct hash_key {
    uint32_t hash;      // hv_key_hash of the bytes
    int32_t len;        // byte length, or HEK_SV_KEY
    char bytes[8];      // len bytes and a NUL; the key value when len is HEK_SV_KEY
};
constexpr int32_t HEK_SV_KEY = -2;
constexpr uint64_t HEK_HEAD = offsetof(hash_key, bytes);
static_assert(HEK_HEAD == 8 && sizeof(hash_key) == 16);

inline SV*& hek_key_sv(hash_key* hek) { return *reinterpret_cast<SV**>(hek->bytes); }

// One key/value pair. In the shared-key table the value field holds the
// number of hash entries that point to the key record instead.
struct hash_entry {
    hash_entry* next;   // next entry of the same bucket
    hash_key* key;
    union {
        SV* value;      // owned: one reference
        uintptr_t count;  // users of a shared key
    };
};
static_assert(sizeof(hash_entry) == 24 && std::is_standard_layout_v<hash_entry>);

// Entry arenas: 1008 bytes, the first slot links the arena chain.
constexpr uint64_t HE_ARENA_BYTES = 1008;
static_assert(HE_ARENA_BYTES % sizeof(hash_entry) == 0);

inline PVHV* hv_body(HV* hv) { return static_cast<PVHV*>(hv->any); }

// Flags of hv_delete_*: the discard flag of the call interface.
constexpr int32_t HV_DISCARD = 2;

// ---- keyed operations ---------------------------------------------------------

uint32_t hv_key_hash(const char* key, int32_t len);
SV** hv_fetch_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen, int32_t lval);
SV** hv_store_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen, SV* val, uint32_t hash);
bool hv_exists_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen);
SV* hv_delete_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen, int32_t flags);
hash_entry* hv_fetch_sv(PERLGCB* gcb, HV* hv, SV* keysv, int32_t lval, uint32_t hash);
hash_entry* hv_store_sv(PERLGCB* gcb, HV* hv, SV* keysv, SV* val, uint32_t hash);
bool hv_exists_sv(PERLGCB* gcb, HV* hv, SV* keysv, uint32_t hash);
SV* hv_delete_sv(PERLGCB* gcb, HV* hv, SV* keysv, int32_t flags, uint32_t hash);
HV* hv_new_empty(PERLGCB* gcb);
// Presizes the bucket array for the wanted number of keys.
void hv_grow_buckets(PERLGCB* gcb, HV* hv, int64_t wanted);

// ---- iteration, clearing and copying -------------------------------------------

int32_t hv_iter_start(PERLGCB* gcb, HV* hv);
hash_entry* hv_iter_advance(PERLGCB* gcb, HV* hv);
char* hv_entry_key(PERLGCB* gcb, hash_entry* he, int32_t* len);
SV* hv_entry_key_sv(PERLGCB* gcb, hash_entry* he);
SV* hv_entry_value(PERLGCB* gcb, HV* hv, hash_entry* he);
void hv_release_entry(PERLGCB* gcb, HV* hv, hash_entry* he);
void hv_release_entry_later(PERLGCB* gcb, HV* hv, hash_entry* he);
void hv_remove_all(PERLGCB* gcb, HV* hv);
void hv_free_storage(PERLGCB* gcb, HV* hv);
HV* hv_new_copy(PERLGCB* gcb, HV* src);
void hv_attach_magic(PERLGCB* gcb, HV* hv, GV* gv, int how);

// ---- the shared-key table --------------------------------------------------------

hash_key* hv_share_key(PERLGCB* gcb, const char* key, int32_t len, uint32_t hash);
char* hv_share_key_bytes(PERLGCB* gcb, const char* key, int32_t len, uint32_t hash);
void hv_unshare_key(PERLGCB* gcb, hash_key* hek);
void hv_unshare_key_bytes(PERLGCB* gcb, const char* key, int32_t len, uint32_t hash);

// ---- entries ---------------------------------------------------------------------

// An entry from the free list, taking a new arena when it is empty.
hash_entry* he_take(PERLGCB* gcb);
// Back to the head of the free list.
inline void he_give_back(PERLGCB* gcb, hash_entry* he)
{
    he->next = gcb->hash_entry_free_list;
    gcb->hash_entry_free_list = he;
}

// The truth of an element that a tie's EXISTS has set: the string, integer
// and number flags first, in that order, else the general truth test.
bool hv_element_is_true(PERLGCB* gcb, SV* sv);
