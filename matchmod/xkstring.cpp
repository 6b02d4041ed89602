// The blank-padded string toolkit. The block routines work 16 bytes (8
// UTF-16 units) at a time once the buffer is aligned, with plain loops for
// the head and the tail; their results are those of the plain loops.
#include "matchmod/xkstring.h"

#include <emmintrin.h>

#include <cstring>

#include "host/hostcall.h"
#include "matchmod/xklog.h"

namespace {

#include "matchmod/xkcase.inc"

static_assert(sizeof case_upper_index / sizeof case_upper_index[0] == 512);
static_assert(sizeof case_min_index / sizeof case_min_index[0] == 512);

char16_t map_pairs(const char16_t (*pairs)[2], char16_t c)
{
    for (; pairs[0][0]; pairs++)
        if (pairs[0][0] == c)
            return pairs[0][1];
    return c;
}

// Two-level byte tables: a row per block of 128 code points, -128 sends the
// character to the pair list.
char16_t map_bytes(const int16_t* index, const int8_t* delta, const char16_t (*pairs)[2], char16_t c)
{
    int32_t row = index[c >> 7];
    if (row < 0)
        return c;
    int32_t d = delta[row * 128 + (c & 127)];
    if (d == -128)
        return map_pairs(pairs, c);
    return static_cast<char16_t>(c + d);
}

char16_t map_words(const int32_t* index, const int32_t* delta, char16_t c)
{
    int32_t row = index[c >> 7];
    if (row < 0)
        return c;
    return static_cast<char16_t>(c + delta[row * 128 + (c & 127)]);
}

char16_t lower_char(char16_t c)
{
    return map_bytes(case_lower_index, case_lower_delta, case_lower_pairs, c);
}

// Bytes before the first 16-byte boundary of p, at most count.
int64_t head_bytes(const void* p, int64_t count)
{
    int64_t mis = static_cast<int64_t>(reinterpret_cast<uintptr_t>(p) & 15);
    int64_t head = mis ? 16 - mis : 0;
    return head < count ? head : count;
}

void bytes_case(uint8_t* b, int64_t count, uint8_t from, uint8_t to_delta_sign)
{
    // to_delta_sign 0: to upper (subtract 0x20); 1: to lower (add 0x20)
    int64_t i = 0;
    int64_t head = head_bytes(b, count);
    uint8_t lo = from, hi = static_cast<uint8_t>(from + 25);
    for (; i < head; i++)
        if (b[i] >= lo && b[i] <= hi)
            b[i] = static_cast<uint8_t>(to_delta_sign ? b[i] + 0x20 : b[i] - 0x20);
    const __m128i vlo = _mm_set1_epi8(static_cast<char>(lo - 1));
    const __m128i vhi = _mm_set1_epi8(static_cast<char>(hi + 1));
    const __m128i v20 = _mm_set1_epi8(0x20);
    for (; i + 16 <= count; i += 16) {
        __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(b + i));
        // Letters are below 0x80, so the signed comparisons see them rightly.
        __m128i in = _mm_and_si128(_mm_cmpgt_epi8(x, vlo), _mm_cmpgt_epi8(vhi, x));
        __m128i d = _mm_and_si128(in, v20);
        x = to_delta_sign ? _mm_add_epi8(x, d) : _mm_sub_epi8(x, d);
        _mm_store_si128(reinterpret_cast<__m128i*>(b + i), x);
    }
    for (; i < count; i++)
        if (b[i] >= lo && b[i] <= hi)
            b[i] = static_cast<uint8_t>(to_delta_sign ? b[i] + 0x20 : b[i] - 0x20);
}

// Index of the first byte that is (want_equal) or is not equal to the value.
int64_t scan_bytes(const uint8_t* b, int64_t count, uint8_t value, bool want_equal)
{
    if (!b || count <= 0)
        return -1;
    int64_t i = 0;
    int64_t head = head_bytes(b, count);
    for (; i < head; i++)
        if ((b[i] == value) == want_equal)
            return i;
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    for (; i + 16 <= count; i += 16) {
        __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(b + i));
        unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, v)));
        if (!want_equal)
            m = ~m & 0xFFFFu;
        if (m)
            return i + __builtin_ctz(m);
    }
    for (; i < count; i++)
        if ((b[i] == value) == want_equal)
            return i;
    return -1;
}

int64_t scan_units_plain(const char16_t* t, int64_t count, char16_t value)
{
    if (!t || count <= 0)
        return -1;
    for (int64_t i = 0; i < count; i++)
        if (t[i] != value)
            return i;
    return -1;
}

}  // namespace

char16_t xk_fold_char(char16_t c) { return lower_char(c); }

char16_t xk_upper_char(char16_t c)
{
    return map_bytes(case_upper_index, case_upper_delta, case_upper_pairs, c);
}

namespace {

// The length of a terminated string; no string has length 0.
template <class C>
int32_t terminated_length(const C* text)
{
    if (!text)
        return 0;
    int32_t n = 0;
    while (text[n])
        n++;
    return n;
}

}  // namespace

int32_t xkStrLen(const char* text) { return terminated_length(text); }

int32_t xkWcsLen(const char16_t* text) { return terminated_length(text); }

int32_t xkTrimLength(const char* text, int32_t length)
{
    if (!text || length <= 0)
        return 0;
    int32_t n = length;
    const uint64_t blanks = 0x2020202020202020ull;
    // Whole groups of eight from the end; the first group with a non-blank
    // is finished byte by byte.
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, text + n - 8, 8);
        if (w != blanks)
            break;
        n -= 8;
    }
    while (n > 0 && text[n - 1] == ' ')
        n--;
    return n;
}

int32_t xkWcsTrimLength(const char16_t* text, int32_t length)
{
    if (!text || length <= 0)
        return 0;
    int32_t n = length;
    while (n > 0 && text[n - 1] == u' ')
        n--;
    return n;
}

void xkWcsUpper(char16_t* text, int32_t length)
{
    XkCaseService* cs = g_xk_services ? g_xk_services->casemap : nullptr;
    for (int32_t i = 0; i < length; i++) {
        char16_t c = text[i];
        text[i] = (cs && c > 127) ? cs->upper(cs, c, 1) : xk_upper_char(c);
    }
}

void xkWcsLower(char16_t* text, int32_t length)
{
    XkCaseService* cs = g_xk_services ? g_xk_services->casemap : nullptr;
    for (int32_t i = 0; i < length; i++) {
        char16_t c = text[i];
        text[i] = (cs && c > 127) ? cs->lower(cs, c, 1) : lower_char(c);
    }
}

int32_t xkWcsEqualNoCase(const char16_t* keyword, int32_t keyword_length, const char16_t* text, int32_t length)
{
    if (keyword_length != length)
        return 0;
    for (int32_t i = 0; i < length; i++)
        if (keyword[i] != text[i] && lower_char(keyword[i]) != lower_char(text[i]))
            return 0;
    return 1;
}

int32_t xkWcsComparePadded(const char16_t* a, int32_t alen, const char16_t* b, int32_t blen)
{
    int32_t common = alen < blen ? alen : blen;
    int32_t remembered = 0;
    for (int32_t i = 0; i < common; i++) {
        if (a[i] == b[i])
            continue;
        if (!remembered)
            remembered = a[i] < b[i] ? -1 : 1;
        char16_t fa = lower_char(a[i]), fb = lower_char(b[i]);
        if (fa != fb)
            return fa < fb ? -2 : 2;
    }
    if (alen > common && !xkWcsAllEqual(u' ', a + common, alen - common))
        return 2;
    if (blen > common && !xkWcsAllEqual(u' ', b + common, blen - common))
        return -2;
    return remembered;
}

namespace {

// Copies a terminated string with its terminator; no source gives an empty
// string, no destination does nothing.
template <class C>
void copy_terminated(const C* source, C* destination)
{
    if (!destination)
        return;
    if (!source) {
        destination[0] = 0;
        return;
    }
    int32_t i = 0;
    do
        destination[i] = source[i];
    while (source[i++]);
}

}  // namespace

void xkStrCopy(const char* source, char* destination) { copy_terminated(source, destination); }

void xkWcsCopy(const char16_t* source, char16_t* destination) { copy_terminated(source, destination); }

void xkBytesUpper(void* buffer, int64_t count) { bytes_case(static_cast<uint8_t*>(buffer), count, 'a', 0); }

void xkBytesUpperAlt(void* buffer, int64_t count)
{
    uint8_t* b = static_cast<uint8_t*>(buffer);
    for (int64_t i = 0; i < count; i++)
        if (b[i] >= 'a' && b[i] <= 'z')
            b[i] = static_cast<uint8_t>(b[i] - 0x20);
}

void xkBytesLower(void* buffer, int64_t count) { bytes_case(static_cast<uint8_t*>(buffer), count, 'A', 1); }

void xkBytesLowerAlt(void* buffer, int64_t count)
{
    uint8_t* b = static_cast<uint8_t*>(buffer);
    for (int64_t i = 0; i < count; i++)
        if (b[i] >= 'A' && b[i] <= 'Z')
            b[i] = static_cast<uint8_t>(b[i] + 0x20);
}

int32_t xkBytesAllEqual(uint8_t value, const void* buffer, int64_t count)
{
    if (count <= 0)
        return 1;
    return scan_bytes(static_cast<const uint8_t*>(buffer), count, value, false) < 0 ? 1 : 0;
}

int32_t xkWcsAllEqual(char16_t value, const char16_t* text, int64_t count)
{
    if (count <= 0)
        return 1;
    return xkWcsSpan(text, count, value) < 0 ? 1 : 0;
}

void xkBytesFill(void* buffer, uint8_t value, int64_t count)
{
    if (count > 0)
        std::memset(buffer, value, static_cast<size_t>(count));
}

void xkWcsFill(char16_t* buffer, char16_t value, int64_t count)
{
    int64_t i = 0;
    int64_t head = head_bytes(buffer, count * 2) / 2;
    for (; i < head; i++)
        buffer[i] = value;
    if ((reinterpret_cast<uintptr_t>(buffer + i) & 15) == 0) {
        const __m128i v = _mm_set1_epi16(static_cast<short>(value));
        for (; i + 8 <= count; i += 8)
            _mm_store_si128(reinterpret_cast<__m128i*>(buffer + i), v);
    }
    for (; i < count; i++)
        buffer[i] = value;
}

int32_t xkBytesCompare(const void* a, const void* b, int64_t count)
{
    if (count <= 0)
        return 0;
    int r = std::memcmp(a, b, static_cast<size_t>(count));
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int32_t xkWcsCompare(const char16_t* a, const char16_t* b, int64_t count)
{
    for (int64_t i = 0; i < count; i++)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return 0;
}

void xkBytesCopyForward(const void* source, void* destination, int64_t count)
{
    const uint8_t* s = static_cast<const uint8_t*>(source);
    uint8_t* d = static_cast<uint8_t*>(destination);
    if (count <= 0)
        return;
    bool apart = d + count <= s || s + count <= d;
    if (count > 96 && apart) {
        std::memcpy(d, s, static_cast<size_t>(count));
        return;
    }
    for (int64_t i = 0; i < count; i++)
        d[i] = s[i];
}

void xkBytesMove(const void* source, void* destination, int64_t count)
{
    if (count > 0)
        std::memmove(destination, source, static_cast<size_t>(count));
}

int64_t xkBytesFind(const void* buffer, int64_t count, uint8_t value)
{
    return scan_bytes(static_cast<const uint8_t*>(buffer), count, value, true);
}

int64_t xkBytesSpan(const void* buffer, int64_t count, uint8_t value)
{
    return scan_bytes(static_cast<const uint8_t*>(buffer), count, value, false);
}

int64_t xkWcsSpan(const char16_t* text, int64_t count, char16_t value)
{
    if (!text || count <= 0)
        return -1;
    int64_t i = 0;
    int64_t head = head_bytes(text, count * 2) / 2;
    for (; i < head; i++)
        if (text[i] != value)
            return i;
    if ((reinterpret_cast<uintptr_t>(text + i) & 15) == 0) {
        const __m128i v = _mm_set1_epi16(static_cast<short>(value));
        for (; i + 8 <= count; i += 8) {
            __m128i x = _mm_load_si128(reinterpret_cast<const __m128i*>(text + i));
            unsigned m = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(x, v))) & 0xFFFFu;
            if (m)
                return i + __builtin_ctz(m) / 2;
        }
    }
    for (; i < count; i++)
        if (text[i] != value)
            return i;
    return -1;
}

int64_t xkWcsSpanAlt(const char16_t* text, int64_t count, char16_t value)
{
    return scan_units_plain(text, count, value);
}

int32_t xkAnyMissing(const double* values, int64_t count)
{
    for (int64_t i = 0; i < count; i++)
        if (xk_is_missing(values[i]))
            return 1;
    return 0;
}

void xkWcsCaseMin(char16_t* text, int32_t length)
{
    for (int32_t i = 0; i < length; i++)
        text[i] = map_words(case_min_index, case_min_delta, text[i]);
}

void xkWcsCaseMax(char16_t* text, int32_t length)
{
    for (int32_t i = 0; i < length; i++)
        text[i] = map_words(case_max_index, case_max_delta, text[i]);
}
