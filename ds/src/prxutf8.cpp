// UTF-8 encoding and decoding of the interpreter's extended UTF-8, buffer
// conversions between bytes and UTF-8, and UTF-16 to UTF-8.
#include "prxutf8.h"

namespace {
constexpr uint8_t skip_of(unsigned b)
{
    return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : b < 0xFC ? 5 : b < 0xFE ? 6 : b == 0xFE ? 7 : 13;
}
struct SkipTable {
    uint8_t v[256];
};
constexpr SkipTable make_skip_table()
{
    SkipTable t{};
    for (unsigned b = 0; b < 256; b++)
        t.v[b] = skip_of(b);
    return t;
}
constexpr SkipTable SKIP = make_skip_table();
}  // namespace

constinit const uint8_t utf8_skip_table[256] = {
#define R16(b) SKIP.v[b], SKIP.v[b + 1], SKIP.v[b + 2], SKIP.v[b + 3], SKIP.v[b + 4], SKIP.v[b + 5], SKIP.v[b + 6], \
               SKIP.v[b + 7], SKIP.v[b + 8], SKIP.v[b + 9], SKIP.v[b + 10], SKIP.v[b + 11], SKIP.v[b + 12],     \
               SKIP.v[b + 13], SKIP.v[b + 14], SKIP.v[b + 15]
    R16(0x00), R16(0x10), R16(0x20), R16(0x30), R16(0x40), R16(0x50), R16(0x60), R16(0x70),
    R16(0x80), R16(0x90), R16(0xA0), R16(0xB0), R16(0xC0), R16(0xD0), R16(0xE0), R16(0xF0),
#undef R16
};
