// Unicode classes and case maps of UTF-8 characters through swashes: the
// table objects that the Perl-level package "utf8" builds (SWASHNEW) and
// fills block by block (SWASHGET).
#pragma once

#include "prx.h"

// The swash slots of the control block, one per property, each filled by the
// first test of its property and kept until the interpreter ends.
enum : int32_t {
    SWASH_WORD,      // "IsWord"
    SWASH_ALNUMC,    // "IsAlnumC"
    SWASH_ASCII,     // "IsAscii"
    SWASH_ALPHA,     // "IsAlpha", also the identifier-start test
    SWASH_SPACE,     // "IsSpacePerl"
    SWASH_CNTRL,     // "IsCntrl"
    SWASH_GRAPH,     // "IsGraph"
    SWASH_DIGIT,     // "IsDigit"
    SWASH_UPPER,     // "IsUpper"
    SWASH_LOWER,     // "IsLower"
    SWASH_PRINT,     // "IsPrint"
    SWASH_PUNCT,     // "IsPunct"
    SWASH_XDIGIT,    // "IsXDigit"
    SWASH_MARK,      // "IsM"
    SWASH_TOUPPER,   // "ToUpper"
    SWASH_TOTITLE,   // "ToTitle"
    SWASH_TOLOWER,   // "ToLower"
    SWASH_SLOT_COUNT
};
static_assert(SWASH_SLOT_COUNT == 17);

// A new swash (a reference to a hash) from pkg->SWASHNEW(name, listsv,
// minbits, none); the caller owns it.
SV* swash_new(PERLGCB* gcb, const char* pkg, const char* name, SV* listsv, int32_t minbits, int32_t none);
// The entry of the UTF-8 character at p: 0 or 1 for a 1-bit table, else the
// stored number.
uint64_t swash_fetch(PERLGCB* gcb, SV* swash, const uint8_t* p);

// Class tests on a code point and on a UTF-8 character; nonzero is true.
int32_t uni_is_word(PERLGCB* gcb, uint32_t c);
int32_t uni_is_alnumc(PERLGCB* gcb, uint32_t c);
int32_t uni_is_ident_start(PERLGCB* gcb, uint32_t c);
int32_t uni_is_alpha(PERLGCB* gcb, uint32_t c);
int32_t uni_is_ascii(PERLGCB* gcb, uint32_t c);
int32_t uni_is_space(PERLGCB* gcb, uint32_t c);
int32_t uni_is_digit(PERLGCB* gcb, uint32_t c);
int32_t uni_is_upper(PERLGCB* gcb, uint32_t c);
int32_t uni_is_lower(PERLGCB* gcb, uint32_t c);
int32_t uni_is_cntrl(PERLGCB* gcb, uint32_t c);
int32_t uni_is_graph(PERLGCB* gcb, uint32_t c);
int32_t uni_is_print(PERLGCB* gcb, uint32_t c);
int32_t uni_is_punct(PERLGCB* gcb, uint32_t c);
int32_t uni_is_xdigit(PERLGCB* gcb, uint32_t c);

int32_t utf8_is_word(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_alnumc(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_ident_start(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_alpha(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_ascii(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_space(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_digit(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_upper(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_lower(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_cntrl(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_graph(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_print(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_punct(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_xdigit(PERLGCB* gcb, const uint8_t* p);
int32_t utf8_is_mark(PERLGCB* gcb, const uint8_t* p);

// Case maps; an unmapped character maps to itself.
uint64_t uni_to_upper(PERLGCB* gcb, uint32_t c);
uint64_t uni_to_title(PERLGCB* gcb, uint32_t c);
uint64_t uni_to_lower(PERLGCB* gcb, uint32_t c);
uint64_t utf8_to_upper(PERLGCB* gcb, const uint8_t* p);
uint64_t utf8_to_title(PERLGCB* gcb, const uint8_t* p);
uint64_t utf8_to_lower(PERLGCB* gcb, const uint8_t* p);
