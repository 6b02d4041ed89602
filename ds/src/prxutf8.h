// UTF-8 encoding and decoding of the interpreter's extended UTF-8 (1 to 7
// and 13 byte forms).
#pragma once

#include "prx.h"

// Length of the sequence a byte starts (continuation bytes: 1).
extern const uint8_t utf8_skip_table[256];
uint8_t* utf8_encode(PERLGCB* gcb, uint8_t* d, uint64_t uv);
uint64_t utf8_decode(PERLGCB* gcb, const uint8_t* s, uint64_t curlen, int64_t* retlen, uint32_t flags);
uint64_t utf8_length(PERLGCB* gcb, const uint8_t* s, const uint8_t* e);
uint8_t* utf8_skip_chars(PERLGCB* gcb, const uint8_t* s, int32_t off);
