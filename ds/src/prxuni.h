// Unicode classes and case maps of UTF-8 characters through swashes: the
// table objects that the Perl-level package "utf8" builds (SWASHNEW) and
// fills block by block (SWASHGET).
#pragma once

#include "prx.h"

// The swash slots of the control block, one per property, each filled by the
// first test of its property and kept until the interpreter ends.
enum : int32_t {
#define PRX_UNI_CLASS(name, slot, property) SWASH_##slot,
#define PRX_UNI_MARK(name, slot, property) SWASH_##slot,
#define PRX_UNI_CASE(name, slot, property) SWASH_##slot,
#include "prxuni.def"
#undef PRX_UNI_CLASS
#undef PRX_UNI_MARK
#undef PRX_UNI_CASE
    SWASH_SLOT_COUNT
};
static_assert(SWASH_SLOT_COUNT == 17);

// A new swash (a reference to a hash) from pkg->SWASHNEW(name, listsv,
// minbits, none); the caller owns it.
SV* swash_new(PERLGCB* gcb, const char* pkg, const char* name, SV* listsv, int32_t minbits, int32_t none);
// The entry of the UTF-8 character at p: 0 or 1 for a 1-bit table, else the
// stored number.
uint64_t swash_fetch(PERLGCB* gcb, SV* swash, const uint8_t* p);

// Class tests on a code point and on a UTF-8 character, nonzero is true;
// case maps, where an unmapped character maps to itself.
#define PRX_UNI_CLASS(name, slot, property)           \
    int32_t uni_is_##name(PERLGCB* gcb, uint32_t c); \
    int32_t utf8_is_##name(PERLGCB* gcb, const uint8_t* p);
#define PRX_UNI_MARK(name, slot, property) int32_t utf8_is_##name(PERLGCB* gcb, const uint8_t* p);
#define PRX_UNI_CASE(name, slot, property)            \
    uint64_t uni_to_##name(PERLGCB* gcb, uint32_t c); \
    uint64_t utf8_to_##name(PERLGCB* gcb, const uint8_t* p);
#include "prxuni.def"
#undef PRX_UNI_CLASS
#undef PRX_UNI_MARK
#undef PRX_UNI_CASE
int32_t uni_is_ident_start(PERLGCB* gcb, uint32_t c);
int32_t utf8_is_ident_start(PERLGCB* gcb, const uint8_t* p);
