// Arrays: the growable vector of values with a movable start, its element
// operations, tied arrays' method calls, and pseudo-hashes.
#pragma once

#include <cstdint>

#include "prx.h"

inline PVAV* av_body(AV* av) { return static_cast<PVAV*>(av->any); }

// avflags.
enum : uint8_t {
    AVf_REAL = 0x01,     // the array holds a reference on each element
    AVf_REIFY = 0x02,    // the array borrows its elements
    AVf_REUSED = 0x04,   // shown by the debug dump only
};

// Flags of av_delete_element: the discard flag of the call interface.
constexpr int32_t AV_DISCARD = 2;

AV* av_new_empty(PERLGCB* gcb);
AV* av_new_from_copies(PERLGCB* gcb, int32_t n, SV** values);
AV* av_new_borrowed(PERLGCB* gcb, int32_t n, SV** values);
void av_make_real(PERLGCB* gcb, AV* av);
SV** av_fetch_element(PERLGCB* gcb, AV* av, int32_t key, int32_t lval);
SV** av_store_element(PERLGCB* gcb, AV* av, int32_t key, SV* val);
void av_grow_to_index(PERLGCB* gcb, AV* av, int32_t key);
void av_append(PERLGCB* gcb, AV* av, SV* val);
SV* av_remove_last(PERLGCB* gcb, AV* av);
void av_insert_front(PERLGCB* gcb, AV* av, int32_t num);
SV* av_remove_first(PERLGCB* gcb, AV* av);
int32_t av_highest_index(PERLGCB* gcb, AV* av);
void av_set_highest_index(PERLGCB* gcb, AV* av, int32_t fill);
SV* av_delete_element(PERLGCB* gcb, AV* av, int32_t key, int32_t flags);
bool av_element_exists(PERLGCB* gcb, AV* av, int32_t key);
void av_remove_all(PERLGCB* gcb, AV* av);
void av_free_storage(PERLGCB* gcb, AV* av);

// ---- pseudo-hashes ----------------------------------------------------------

HV* pseudohash_field_map(PERLGCB* gcb, AV* av);
SV** pseudohash_fetch(PERLGCB* gcb, AV* av, SV* keysv, int32_t lval, uint32_t hash);
SV** pseudohash_store(PERLGCB* gcb, AV* av, SV* keysv, SV* val, uint32_t hash);
bool pseudohash_exists(PERLGCB* gcb, AV* av, SV* keysv, uint32_t hash);
SV* pseudohash_delete(PERLGCB* gcb, AV* av, SV* keysv, int32_t flags, uint32_t hash);
hash_entry* pseudohash_next_entry(PERLGCB* gcb, AV* av);
SV* pseudohash_entry_value(PERLGCB* gcb, AV* av, hash_entry* he);
