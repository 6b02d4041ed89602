// UTF-8 encoding and decoding of the interpreter's extended UTF-8, buffer
// conversions between bytes and UTF-8, and UTF-16 to UTF-8.
#include "prxutf8.h"

#include <cstring>

#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxsv.h"

namespace {

struct SkipTable {
    uint8_t v[256];
};
constexpr SkipTable make_skip_table()
{
    SkipTable t{};
    for (unsigned b = 0; b < 256; b++)
        t.v[b] = utf8_skip_of(static_cast<uint8_t>(b));
    return t;
}
constexpr SkipTable SKIP = make_skip_table();

inline bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }
inline bool is_start(uint8_t b) { return b >= 0xC0 && b <= 0xFD; }

// The malformation reasons of utf8_decode.
enum Reason { EMPTY, CONTINUATION, NON_CONTINUATION, FE_FF, SHORT, OVERFLOW, SURROGATE, BOM, LONG, FFFF };

void warn_malformed(PERLGCB* gcb, Reason reason, uint64_t a, uint64_t b)
{
    if (!warn_enabled_default(gcb, WARN_UTF8))
        return;
    SV* text = sv_new_temporary(gcb);
    sv_set_cstring(gcb, text, "Malformed UTF-8 character ");
    const char* s = a == 1 ? "" : "s";
    uint32_t a32 = static_cast<uint32_t>(a), b32 = static_cast<uint32_t>(b);
    switch (reason) {
    case EMPTY: sv_append_cstring(gcb, text, "(empty string)"); break;
    case CONTINUATION: sv_append_formatted(gcb, text, "(unexpected continuation byte 0x%02lx)", a32); break;
    case NON_CONTINUATION:
        sv_append_formatted(gcb, text, "(unexpected non-continuation byte 0x%02lx after start byte 0x%02lx)", a32,
                            b32);
        break;
    case FE_FF: sv_append_formatted(gcb, text, "(byte 0x%02lx)", a32); break;
    case SHORT:
    case LONG: sv_append_formatted(gcb, text, "(%d byte%s, need %d)", a32, s, b32); break;
    case OVERFLOW: sv_append_formatted(gcb, text, "(overflow at 0x%llx, byte 0x%02x)", a, b32); break;
    case SURROGATE: sv_append_formatted(gcb, text, "(UTF-16 surrogate 0x%04llx)", a); break;
    case BOM: sv_append_formatted(gcb, text, "(byte order mark 0x%04llx)", a); break;
    case FFFF: sv_append_formatted(gcb, text, "(character 0x%04llx)", a); break;
    }
    const char* desc = gcb->op && gcb->op_desc_table ? gcb->op_desc_table[gcb->op->op_type] : nullptr;
    if (desc)
        category_warning(gcb, WARN_UTF8, "%s in %s", sv_pv(text), desc);
    else
        category_warning(gcb, WARN_UTF8, "%s", sv_pv(text));
}

}  // namespace

constinit const uint8_t utf8_skip_table[256] = {
#define R16(b)                                                                                                   \
    SKIP.v[b], SKIP.v[b + 1], SKIP.v[b + 2], SKIP.v[b + 3], SKIP.v[b + 4], SKIP.v[b + 5], SKIP.v[b + 6],         \
        SKIP.v[b + 7], SKIP.v[b + 8], SKIP.v[b + 9], SKIP.v[b + 10], SKIP.v[b + 11], SKIP.v[b + 12], SKIP.v[b + 13], \
        SKIP.v[b + 14], SKIP.v[b + 15]
    R16(0x00), R16(0x10), R16(0x20), R16(0x30), R16(0x40), R16(0x50), R16(0x60), R16(0x70),
    R16(0x80), R16(0x90), R16(0xA0), R16(0xB0), R16(0xC0), R16(0xD0), R16(0xE0), R16(0xF0),
#undef R16
};

uint32_t utf8_encoded_length(uint64_t uv)
{
    return uv < 0x80 ? 1
           : uv < 0x800 ? 2
           : uv < 0x10000 ? 3
           : uv < 0x200000 ? 4
           : uv < 0x4000000 ? 5
           : uv < 0x80000000 ? 6
           : uv < 0x1000000000ull ? 7
                                  : 13;
}

uint8_t* utf8_encode(PERLGCB*, uint8_t* d, uint64_t uv)
{
    if (uv < 0x80) {
        *d++ = static_cast<uint8_t>(uv);
        return d;
    }
    uint32_t len = utf8_encoded_length(uv);
    static constexpr uint8_t marks[] = {0, 0, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};
    uint32_t conts;
    if (len <= 6) {
        conts = len - 1;
        *d++ = static_cast<uint8_t>(marks[len] | (uv >> (6 * conts)));
    } else if (len == 7) {
        conts = 6;
        *d++ = 0xFE;
    } else {
        conts = 10;
        *d++ = 0xFF;
        *d++ = 0x80;
        *d++ = static_cast<uint8_t>(0x80 | ((uv >> 60) & 0x0F));
    }
    for (uint32_t i = conts; i > 0; i--)
        *d++ = static_cast<uint8_t>(0x80 | ((uv >> (6 * (i - 1))) & 0x3F));
    return d;
}

int32_t utf8_check_char(PERLGCB*, const uint8_t* s)
{
    uint8_t c = s[0];
    if (c < 0x80)
        return 1;
    if (!is_start(c))
        return 0;
    if (!is_continuation(s[1]))
        return 0;
    int32_t len = utf8_skip_table[c];
    static constexpr uint8_t masks[] = {0, 0, 0x1F, 0x0F, 0x07, 0x03, 0x01};
    uint64_t uv = c & masks[len];
    for (int32_t i = 1; i < len; i++) {
        if (!is_continuation(s[i]))
            return 0;
        uint64_t ouv = uv;
        uv = (uv << 6) | (s[i] & 0x3F);
        if (uv < ouv)
            return 0;
    }
    if (utf8_encoded_length(uv) < static_cast<uint32_t>(len))
        return 0;
    return len;
}

bool utf8_check_string(PERLGCB* gcb, const uint8_t* s, uint64_t len)
{
    if (len == 0)
        len = s ? std::strlen(reinterpret_cast<const char*>(s)) : 0;
    const uint8_t* x = s;
    const uint8_t* end = s + len;
    while (x < end) {
        if (*x < 0x80) {
            x++;
            continue;
        }
        uint32_t clen = utf8_skip_table[*x];
        if (static_cast<uint64_t>(end - x) < clen)
            return false;
        if (!utf8_check_char(gcb, x))
            return false;
        x += clen;
    }
    return x == end;
}

uint64_t utf8_decode(PERLGCB* gcb, const uint8_t* s, uint64_t curlen, int64_t* retlen, uint32_t flags)
{
    int64_t expectlen = 0;
    Reason reason;
    uint64_t a = 0, b = 0;
    if (curlen == 0) {
        if (flags & UTF8_ALLOW_EMPTY) {
            if (retlen)
                *retlen = 0;
            return 0;
        }
        reason = EMPTY;
        goto malformed;
    }
    {
        uint64_t uv = s[0];
        if (uv < 0x80) {
            if (retlen)
                *retlen = 1;
            return uv;
        }
        if (is_continuation(s[0]) && !(flags & UTF8_ALLOW_CONTINUATION)) {
            reason = CONTINUATION;
            a = s[0];
            goto malformed;
        }
        if (is_start(s[0]) && curlen > 1 && !is_continuation(s[1]) && !(flags & UTF8_ALLOW_NON_CONTINUATION)) {
            reason = NON_CONTINUATION;
            a = s[1];
            b = s[0];
            goto malformed;
        }
        if ((uv == 0xFE || uv == 0xFF) && !(flags & UTF8_ALLOW_FE_FF)) {
            reason = FE_FF;
            a = uv;
            goto malformed;
        }
        int64_t len;
        if (!(uv & 0x20)) {
            len = 2;
            uv &= 0x1F;
        } else if (!(uv & 0x10)) {
            len = 3;
            uv &= 0x0F;
        } else if (!(uv & 0x08)) {
            len = 4;
            uv &= 0x07;
        } else if (!(uv & 0x04)) {
            len = 5;
            uv &= 0x03;
        } else if (!(uv & 0x02)) {
            len = 6;
            uv &= 0x01;
        } else if (!(uv & 0x01)) {
            len = 7;
            uv = 0;
        } else {
            len = 13;
            uv = 0;
        }
        expectlen = len;
        if (retlen)
            *retlen = len;
        if (curlen < static_cast<uint64_t>(len)) {
            if (!(flags & UTF8_ALLOW_SHORT)) {
                reason = SHORT;
                a = curlen;
                b = static_cast<uint64_t>(len);
                goto malformed;
            }
            len = static_cast<int64_t>(curlen);   // never read past the available bytes
        }
        // The 13-byte form carries fixed 0x80 bytes before its payload, so
        // equal partial values say nothing there; its overlong test is the
        // encoded length below. A shift that would lose bits is an overflow.
        bool long_form = expectlen == 13;
        for (int64_t i = 1; i < len; i++) {
            if (!is_continuation(s[i]) && !(flags & UTF8_ALLOW_NON_CONTINUATION)) {
                reason = NON_CONTINUATION;
                a = s[i];
                b = s[0];
                goto malformed;
            }
            uint64_t ouv = uv;
            if (uv >> 58) {
                reason = OVERFLOW;
                a = ouv;
                b = s[i];
                goto malformed;
            }
            uv = (uv << 6) | (s[i] & 0x3F);
            if (uv == ouv && !long_form && !(flags & UTF8_ALLOW_LONG)) {
                reason = LONG;
                a = static_cast<uint64_t>(expectlen);
                b = utf8_encoded_length(uv);
                goto malformed;
            }
        }
        if (uv >= 0xD800 && uv <= 0xDFFF && !(flags & UTF8_ALLOW_SURROGATE)) {
            reason = SURROGATE;
            a = uv;
            goto malformed;
        }
        if (uv == 0xFFFE && !(flags & UTF8_ALLOW_BOM)) {
            reason = BOM;
            a = uv;
            goto malformed;
        }
        if (static_cast<uint32_t>(expectlen) > utf8_encoded_length(uv) && !(flags & UTF8_ALLOW_LONG)) {
            reason = LONG;
            a = static_cast<uint64_t>(expectlen);
            b = utf8_encoded_length(uv);
            goto malformed;
        }
        if (uv == 0xFFFF && !(flags & UTF8_ALLOW_FFFF)) {
            reason = FFFF;
            a = uv;
            goto malformed;
        }
        return uv;
    }

malformed:
    if (flags & UTF8_ALLOW_LONG) {
        if (retlen)
            *retlen = -1;
        return 0;
    }
    warn_malformed(gcb, reason, a, b);
    if (retlen)
        *retlen = expectlen ? expectlen : 1;
    return 0;
}

uint64_t utf8_decode_simple(PERLGCB* gcb, const uint8_t* s, int64_t* retlen)
{
    return utf8_decode(gcb, s, 13, retlen, 0);
}

uint64_t utf8_length(PERLGCB* gcb, const uint8_t* s, const uint8_t* e)
{
    if (e < s)
        fatal_error(gcb, "panic: utf8_length: unexpected end");
    uint64_t count = 0;
    while (s < e) {
        uint32_t t = utf8_skip_table[*s];
        if (static_cast<uint64_t>(e - s) < t)
            fatal_error(gcb, "panic: utf8_length: unaligned end");
        s += t;
        count++;
    }
    return count;
}

int64_t utf8_distance(PERLGCB* gcb, const uint8_t* a, const uint8_t* b)
{
    int64_t off = 0;
    if (a < b) {
        while (a < b) {
            uint32_t c = utf8_skip_table[*a];
            if (static_cast<uint64_t>(b - a) < c)
                fatal_error(gcb, "panic: utf8_distance: unaligned end");
            a += c;
            off--;
        }
    } else {
        while (b < a) {
            uint32_t c = utf8_skip_table[*b];
            if (static_cast<uint64_t>(a - b) < c)
                fatal_error(gcb, "panic: utf8_distance: unaligned end");
            b += c;
            off++;
        }
    }
    return off;
}

uint8_t* utf8_skip_chars(PERLGCB*, const uint8_t* s, int32_t off)
{
    if (off >= 0) {
        while (off--)
            s += utf8_skip_table[*s];
    } else {
        while (off++) {
            s--;
            while (is_continuation(*s))
                s--;
        }
    }
    return const_cast<uint8_t*>(s);
}

uint8_t* utf8_convert_to_bytes(PERLGCB* gcb, uint8_t* s, int64_t* len)
{
    uint8_t* send = s + *len;
    for (uint8_t* t = s; t < send;) {
        uint8_t c = *t++;
        if (c >= 0x80) {
            // A two-byte character below 0x100: 0xC2 or 0xC3 and its continuation.
            if (t >= send || !is_continuation(*t) || (c & 0xFE) != 0xC2) {
                *len = -1;
                return nullptr;
            }
            t++;
        }
    }
    uint8_t* d = s;
    for (uint8_t* t = s; t < send;) {
        int64_t ulen;
        uint64_t uv = utf8_decode_simple(gcb, t, &ulen);
        *d++ = static_cast<uint8_t>(uv);
        t += ulen;
    }
    *d = 0;
    *len = d - s;
    return s;
}

uint8_t* utf8_copy_as_bytes(PERLGCB* gcb, uint8_t* s, int64_t* len, int32_t* is_utf8)
{
    if (!*is_utf8)
        return s;
    uint8_t* send = s + *len;
    int64_t count = 0;
    for (uint8_t* t = s; t < send;) {
        uint8_t c = *t++;
        if (c < 0x80)
            continue;
        // The overlong leads 0xC0 and 0xC1 never fold to ASCII.
        if (is_continuation(c) || t >= send || !is_continuation(*t) || (c != 0xC2 && c != 0xC3))
            return s;
        t++;
        count++;
    }
    *is_utf8 = 0;
    if (!count)
        return s;
    uint8_t* d = static_cast<uint8_t*>(pool_malloc(gcb, static_cast<uint64_t>(*len - count + 1)));
    std::memset(d, 0, static_cast<size_t>(*len - count + 1));
    uint8_t* out = d;
    for (uint8_t* t = s; t < send;) {
        uint8_t c = *t++;
        if (c >= 0x80)
            c = static_cast<uint8_t>((c << 6) | (*t++ & 0x3F));
        *out++ = c;
    }
    *out = 0;
    *len = out - d;
    return d;
}

uint8_t* utf8_copy_from_bytes(PERLGCB* gcb, const uint8_t* s, int64_t* len)
{
    uint64_t n = static_cast<uint64_t>(*len);
    uint8_t* d = static_cast<uint8_t*>(pool_malloc(gcb, n * 2 + 1));
    std::memset(d, 0, n * 2 + 1);
    uint8_t* out = d;
    for (uint64_t i = 0; i < n; i++) {
        uint8_t c = s[i];
        if (c < 0x80) {
            *out++ = c;
        } else {
            *out++ = static_cast<uint8_t>(0xC0 | (c >> 6));
            *out++ = static_cast<uint8_t>(0x80 | (c & 0x3F));
        }
    }
    *out = 0;
    *len = out - d;
    return d;
}

uint8_t* utf16_to_utf8(PERLGCB* gcb, const uint8_t* p, uint8_t* d, int32_t bytelen, int32_t* newlen)
{
    if (bytelen & 1)
        fatal_error(gcb, "panic: utf16_to_utf8: odd bytelen");
    const uint8_t* pend = p + bytelen;
    uint8_t* dstart = d;
    while (p < pend) {
        uint32_t uv = static_cast<uint32_t>(p[0] << 8 | p[1]);
        p += 2;
        if (uv < 0x80) {
            *d++ = static_cast<uint8_t>(uv);
        } else if (uv < 0x800) {
            *d++ = static_cast<uint8_t>(0xC0 | (uv >> 6));
            *d++ = static_cast<uint8_t>(0x80 | (uv & 0x3F));
        } else if (uv >= 0xD800 && uv < 0xDC00) {
            if (p >= pend)
                fatal_error(gcb, "Malformed UTF-16 surrogate");
            uint32_t low = static_cast<uint32_t>(p[0] << 8 | p[1]);
            p += 2;
            if (low < 0xDC00 || low > 0xDFFF)
                fatal_error(gcb, "Malformed UTF-16 surrogate");
            uv = ((uv - 0xD800) << 10) + (low - 0xDC00) + 0x10000;
            *d++ = static_cast<uint8_t>(0xF0 | (uv >> 18));
            *d++ = static_cast<uint8_t>(0x80 | ((uv >> 12) & 0x3F));
            *d++ = static_cast<uint8_t>(0x80 | ((uv >> 6) & 0x3F));
            *d++ = static_cast<uint8_t>(0x80 | (uv & 0x3F));
        } else {
            *d++ = static_cast<uint8_t>(0xE0 | (uv >> 12));
            *d++ = static_cast<uint8_t>(0x80 | ((uv >> 6) & 0x3F));
            *d++ = static_cast<uint8_t>(0x80 | (uv & 0x3F));
        }
    }
    *newlen = static_cast<int32_t>(d - dstart);
    return d;
}

uint8_t* utf16le_to_utf8(PERLGCB* gcb, uint8_t* p, uint8_t* d, int32_t bytelen, int32_t* newlen)
{
    if (bytelen & 1)
        fatal_error(gcb, "panic: utf16_to_utf8: odd bytelen");
    for (int32_t i = 0; i < bytelen; i += 2) {
        uint8_t t = p[i];
        p[i] = p[i + 1];
        p[i + 1] = t;
    }
    return utf16_to_utf8(gcb, p, d, bytelen, newlen);
}
