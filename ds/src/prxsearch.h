// String search on bytes: copying to a delimiter, plain substring search,
// the Boyer-Moore compile and search of fixed strings, the search through
// the study tables, and the case-blind comparison through the fold table.
#pragma once

#include "prx.h"

struct re_accel;

// A set of bytes made of at most three ranges: byte c is in it when
// c - lo[i] <= span[i] (unsigned) for some i < count.
struct ByteRanges {
    int32_t count;
    uint8_t lo[3];
    uint8_t span[3];
};

// Low 4 bits of the compile flags of boyer_moore_prepare: the string gets
// a newline appended and is marked TAIL.
constexpr uint32_t BM_TAIL_FLAGS = 15;
// Lowest bit of the search flags of boyer_moore_search: multi-line.
constexpr uint32_t BM_MULTILINE = 1;

// Copies from [from, fromend) to [to, toend) up to an unescaped delim; "\"
// before delim is dropped. Bytes are written while there is room, a 0
// after them when room is left; *count gets every byte that would have been
// written. Returns the delimiter's position in the source, or fromend.
const char* copy_to_delimiter(PERLGCB* gcb, char* to, const char* toend, const char* from, const char* fromend,
                              int32_t delim, int32_t* count);
// First occurrence of needle in haystack (both terminated), or none; an
// absent or empty needle yields the haystack.
const char* str_find(PERLGCB* gcb, const char* haystack, const char* needle);
// First (last) occurrence of [little, lend) in [big, bend), or none. An empty
// needle yields big (bend).
const char* mem_find(PERLGCB* gcb, const char* big, const char* bend, const char* little, const char* lend);
const char* mem_find_last(PERLGCB* gcb, const char* big, const char* bend, const char* little, const char* lend);
// Compiles sv in place into a search string (body PVBM, skip table, 'B'
// magic, rare byte). flags: the low byte is stored; BM_TAIL_FLAGS appends a
// newline and marks TAIL.
void boyer_moore_prepare(PERLGCB* gcb, SV* sv, uint32_t flags);
// First occurrence of the search string little in [big, bend), with the TAIL
// rules; flags: BM_MULTILINE.
char* boyer_moore_search(PERLGCB* gcb, char* big, char* bend, SV* little, uint32_t flags);
// Search of a compiled string in the studied value through the study tables.
// *old_pos: -1 to start, then the chain position of the last match.
char* study_find(PERLGCB* gcb, SV* big, SV* little, int32_t start_shift, int32_t end_shift, int32_t* old_pos,
                 int32_t last);
// 0 when every byte of a equals b's byte or its fold, else 1.
int32_t mem_casecmp(PERLGCB* gcb, const char* a, const char* b, int32_t len);

// Rarity of each byte value: a lower entry is a rarer byte.
extern const uint8_t byte_frequency_table[256];

// The first start p in [from, last] at which the byte at p + o1 is a1 or
// a2 and the byte at p + o2 is b1 or b2 (pass a byte twice for an exact
// test); -1 when there is none. Every byte at last + o1 and last + o2 must
// be readable. Sixteen starts a step where the platform has SSE2.
int64_t find_byte_pair(const char* big, int64_t from, int64_t last, int64_t o1, uint8_t a1, uint8_t a2, int64_t o2,
                       uint8_t b1, uint8_t b2);
// The two rarest offsets of [s, s + len) (len >= 1) by byte_frequency_table,
// with a byte's fold counted by the rarer of the two when fold is given;
// *o1 != *o2 when len >= 2.
void rare_byte_pair(const uint8_t* s, int64_t len, const uint8_t* fold, int64_t* o1, int64_t* o2);
// The first q in [from, end) at which one literal of the set of a
// (re_accel) stands whole before end, or -1: candidates by each literal's
// byte pair, sixteen positions at a time where the platform has SSE2, then
// compared whole (case-blind through fold for a folded literal).
int64_t find_literal_set(const char* big, int64_t from, int64_t end, const re_accel* a, const uint8_t* fold);

// The ranges of the 256-bit bitmap (bit c of byte c / 8); false when it
// needs more than three (or is empty).
bool byte_ranges_of(const uint8_t* bitmap, ByteRanges* r);
// The first position in [p, to) whose byte is in the ranges (want) or not
// in them (!want), or to. Sixteen bytes a step where the platform has SSE2.
const char* find_byte_ranges(const char* p, const char* to, const ByteRanges* r, bool want);
