// Unicode classes and case maps of UTF-8 characters through swashes.
#pragma once

#include "prx.h"

// A new swash (a reference to a hash) from pkg->SWASHNEW(name, listsv,
// minbits, none); the caller owns it.
SV* swash_new(PERLGCB* gcb, const char* pkg, const char* name, SV* listsv, int32_t minbits, int32_t none);
// The entry of the UTF-8 character at p: 0 or 1 for a 1-bit table.
uint64_t swash_fetch(PERLGCB* gcb, SV* swash, const uint8_t* p);
int32_t uni_is_word(PERLGCB* gcb, uint32_t c);
int32_t uni_is_space(PERLGCB* gcb, uint32_t c);
int32_t uni_is_digit(PERLGCB* gcb, uint32_t c);
int32_t utf8_is_ident_start(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_word(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_space(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_digit(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_mark(PERLGCB* gcb, const uint8_t* p);
uint64_t uni_to_lower(PERLGCB* gcb, uint32_t c);
uint64_t utf8_to_lower(PERLGCB* gcb, const uint8_t* p);
