// UTF-8 encoding and decoding of the interpreter's extended UTF-8 (1 to 7
// and 13 byte forms), buffer conversions and UTF-16 to UTF-8.
#pragma once

#include "prx.h"

// Length of the sequence a byte starts (continuation bytes: 1), computed
// and as a table.
constexpr uint8_t utf8_skip_of(uint8_t b)
{
    return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : b < 0xFC ? 5 : b < 0xFE ? 6 : b == 0xFE ? 7 : 13;
}
extern const uint8_t utf8_skip_table[256];

// Decoder flags: each bit allows one malformation.
enum : uint32_t {
    UTF8_ALLOW_EMPTY = 0x001,
    UTF8_ALLOW_CONTINUATION = 0x002,
    UTF8_ALLOW_NON_CONTINUATION = 0x004,
    UTF8_ALLOW_FE_FF = 0x008,
    UTF8_ALLOW_SHORT = 0x010,
    UTF8_ALLOW_SURROGATE = 0x020,
    UTF8_ALLOW_BOM = 0x040,
    UTF8_ALLOW_FFFF = 0x080,
    UTF8_ALLOW_LONG = 0x100,        // also: check only, no warning, length -1
    UTF8_ALLOW_ANYUV = 0x0FF,
    UTF8_ALLOW_ANY = 0x1E9,
};

// Bytes the encoding of a code point takes.
uint32_t utf8_encoded_length(uint64_t uv);
uint8_t* utf8_encode(PERLGCB* gcb, uint8_t* d, uint64_t uv);
int32_t utf8_check_char(PERLGCB* gcb, const uint8_t* s);
bool utf8_check_string(PERLGCB* gcb, const uint8_t* s, uint64_t len);
uint64_t utf8_decode(PERLGCB* gcb, const uint8_t* s, uint64_t curlen, int64_t* retlen, uint32_t flags);
uint64_t utf8_decode_simple(PERLGCB* gcb, const uint8_t* s, int64_t* retlen);
uint64_t utf8_length(PERLGCB* gcb, const uint8_t* s, const uint8_t* e);
int64_t utf8_distance(PERLGCB* gcb, const uint8_t* a, const uint8_t* b);
uint8_t* utf8_skip_chars(PERLGCB* gcb, const uint8_t* s, int32_t off);
uint8_t* utf8_convert_to_bytes(PERLGCB* gcb, uint8_t* s, int64_t* len);
uint8_t* utf8_copy_as_bytes(PERLGCB* gcb, uint8_t* s, int64_t* len, int32_t* is_utf8);
uint8_t* utf8_copy_from_bytes(PERLGCB* gcb, const uint8_t* s, int64_t* len);
uint8_t* utf16_to_utf8(PERLGCB* gcb, const uint8_t* p, uint8_t* d, int32_t bytelen, int32_t* newlen);
uint8_t* utf16le_to_utf8(PERLGCB* gcb, uint8_t* p, uint8_t* d, int32_t bytelen, int32_t* newlen);
