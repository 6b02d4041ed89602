// The toolkit's padded-string and block routines.
#include "xktool.h"

#include <cstdarg>
#include <cstring>

#include "hostif.h"

constinit int32_t g_host_setting = 0;

int32_t xk_padcmp(const void* a, int32_t alen, const void* b, int32_t blen, int pad)
{
    const uint8_t* pa = static_cast<const uint8_t*>(a);
    const uint8_t* pb = static_cast<const uint8_t*>(b);
    if (!pa || alen < 0)
        alen = 0;
    if (!pb || blen < 0)
        blen = 0;
    int32_t common = alen < blen ? alen : blen;
    for (int32_t i = 0; i < common; i++)
        if (pa[i] != pb[i])
            return pa[i] > pb[i] ? i + 1 : -(i + 1);
    if (alen == blen)
        return 0;
    uint8_t p = static_cast<uint8_t>(pad);
    if (alen > blen) {
        for (int32_t i = common; i < alen; i++)
            if (pa[i] != p)
                return pa[i] > p ? i + 1 : -(i + 1);
    } else {
        for (int32_t i = common; i < blen; i++)
            if (pb[i] != p)
                return pb[i] < p ? i + 1 : -(i + 1);
    }
    return 0;
}

int64_t xk_padcmp64(const void* a, int64_t alen, const void* b, int64_t blen)
{
    const uint8_t* pa = static_cast<const uint8_t*>(a);
    const uint8_t* pb = static_cast<const uint8_t*>(b);
    if (!pa || alen < 0)
        alen = 0;
    if (!pb || blen < 0)
        blen = 0;
    int64_t common = alen < blen ? alen : blen;
    int64_t i = 0;
    for (; i + 8 <= common; i += 8) {
        uint64_t wa, wb;
        std::memcpy(&wa, pa + i, 8);
        std::memcpy(&wb, pb + i, 8);
        if (wa != wb)
            break;
    }
    for (; i < common; i++)
        if (pa[i] != pb[i])
            return pa[i] > pb[i] ? i + 1 : -(i + 1);
    if (alen == blen)
        return 0;
    const uint8_t* longer = alen > blen ? pa : pb;
    int64_t llen = alen > blen ? alen : blen;
    const uint64_t blanks = 0x2020202020202020ull;
    for (; i + 8 <= llen; i += 8) {
        uint64_t w;
        std::memcpy(&w, longer + i, 8);
        if (w != blanks)
            break;
    }
    for (; i < llen; i++)
        if (longer[i] != 0x20) {
            bool first_greater = (longer == pa) ? longer[i] > 0x20 : longer[i] < 0x20;
            return first_greater ? i + 1 : -(i + 1);
        }
    return 0;
}

void xk_fill(int byte, void* dst, int32_t len)
{
    if (len >= 1)
        std::memset(dst, byte, static_cast<size_t>(len));
}

void xk_copy(const void* src, void* dst, int32_t len)
{
    if (len >= 1)
        std::memcpy(dst, src, static_cast<size_t>(len));
}

void xk_move(const void* src, void* dst, int32_t len)
{
    if (len >= 1)
        std::memmove(dst, src, static_cast<size_t>(len));
}

int32_t xk_padcat(void* dst, int32_t size, int32_t sep, int32_t count, ...)
{
    bool terminate = size < 0;
    int64_t room = terminate ? -static_cast<int64_t>(size) - 1 : size;
    uint8_t* out = static_cast<uint8_t*>(dst);
    int32_t written = 0;
    va_list ap;
    va_start(ap, count);
    for (int32_t k = 0; k < count && room > 0; k++) {
        const void* piece = va_arg(ap, const void*);
        int32_t plen = va_arg(ap, int32_t);
        if (plen > 0) {
            int64_t n = plen < room ? plen : room;
            std::memcpy(out + written, piece, static_cast<size_t>(n));
            written += static_cast<int32_t>(n);
            room -= n;
        }
        if (sep >= 0 && k + 1 < count && room > 0) {
            out[written++] = static_cast<uint8_t>(sep);
            room--;
        }
    }
    va_end(ap);
    if (terminate)
        out[written] = 0;
    else if (room > 0)
        std::memset(out + written, 0x20, static_cast<size_t>(room));
    return written;
}

void xk_justify(void* field, int32_t len, int mode, int32_t* out_len, int32_t* out_off)
{
    uint8_t* f = static_cast<uint8_t*>(field);
    int32_t b = 0;
    while (b < len && f[b] == 0x20)
        b++;
    if (b >= len) {
        if (out_len)
            *out_len = 0;
        if (out_off)
            *out_off = 0;
        return;
    }
    int32_t e = len;
    while (e > b && f[e - 1] == 0x20)
        e--;
    int32_t l = e - b;
    int32_t to = b;
    switch (mode) {
    case 'L': case 'l': to = 0; break;
    case 'R': case 'r': to = len - l; break;
    case 'C': case 'c': to = (len - l) / 2; break;
    default: break;
    }
    if (to != b) {
        std::memmove(f + to, f + b, static_cast<size_t>(l));
        if (to < b)
            std::memset(f + to + l, 0x20, static_cast<size_t>(b + l - (to + l)));
        else
            std::memset(f + b, 0x20, static_cast<size_t>(to - b));
    }
    if (out_len)
        *out_len = l;
    if (out_off)
        *out_off = to;
}

int32_t xk_findbyte(const void* buf, int32_t len, int byte)
{
    if (!buf || len < 1)
        return -1;
    const void* hit = std::memchr(buf, byte & 0xFF, static_cast<size_t>(len));
    return hit ? static_cast<int32_t>(static_cast<const uint8_t*>(hit) - static_cast<const uint8_t*>(buf)) : -1;
}

double ranuni_next(uint32_t* seed)
{
    uint64_t p = static_cast<uint64_t>(*seed) * 397204094ull;
    uint64_t r = (p >> 31) + (p & 0x7FFFFFFFull);
    if (r >= 2147483647ull)
        r -= 2147483647ull;
    *seed = static_cast<uint32_t>(r);
    return static_cast<double>(r) / 2147483647.0;
}

void xk_read_host_setting()
{
    uint8_t* settings = g_host_vector->settings;
    if (!settings)
        return;
    int32_t* cell;
    std::memcpy(&cell, settings + HOST_SETTINGS_WORD_OFFSET, sizeof cell);
    if (cell)
        g_host_setting = *cell;
}
