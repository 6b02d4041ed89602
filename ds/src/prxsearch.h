// String search on bytes: the Boyer-Moore compile and search of fixed
// strings, the search through the study tables, and the case-blind
// comparison through the fold table.
#pragma once

#include "prx.h"

const char* copy_to_delimiter(PERLGCB* gcb, char* to, const char* toend, const char* from, const char* fromend,
                              int32_t delim, int32_t* count);
// Low 4 bits of the compile flags of boyer_moore_prepare: the string gets
// a newline appended and is marked TAIL.
constexpr uint32_t BM_TAIL_FLAGS = 15;
// Lowest bit of the search flags of boyer_moore_search: multi-line.
constexpr uint32_t BM_MULTILINE = 1;
void boyer_moore_prepare(PERLGCB* gcb, SV* sv, uint32_t flags);
char* boyer_moore_search(PERLGCB* gcb, char* big, char* bend, SV* little, uint32_t flags);
char* study_find(PERLGCB* gcb, SV* big, SV* little, int32_t start_shift, int32_t end_shift, int32_t* old_pos,
                 int32_t last);
// Last occurrence of [little, lend) in [big, bend), or none; an empty needle
// yields bend.
const char* mem_find_last(PERLGCB* gcb, const char* big, const char* bend, const char* little, const char* lend);
// 0 when every byte of a equals b's byte or its fold, else 1.
int32_t mem_casecmp(PERLGCB* gcb, const char* a, const char* b, int32_t len);
