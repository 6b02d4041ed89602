// String search on bytes: delimiter copy, plain substring search, the
// Boyer-Moore compile and search of fixed strings, the study-table search and
// the case-blind comparison.
#include "prxsearch.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "prxlibc.h"
#include "prxmg.h"
#include "prxre.h"
#include "prxsv.h"

constinit const uint8_t byte_frequency_table[256] = {
    1,   2,   84,  151, 154, 155, 156, 157, 165, 246, 250, 3,   158, 7,   18,  29,
    40,  51,  62,  73,  85,  96,  107, 118, 129, 140, 147, 148, 149, 150, 152, 153,
    255, 182, 224, 205, 174, 176, 180, 217, 233, 232, 236, 187, 235, 228, 234, 226,
    222, 219, 211, 195, 188, 193, 185, 184, 191, 183, 201, 229, 181, 220, 194, 162,
    163, 208, 186, 202, 200, 218, 198, 179, 178, 214, 166, 170, 207, 199, 209, 206,
    204, 160, 212, 216, 215, 192, 175, 173, 243, 172, 161, 190, 203, 189, 164, 230,
    167, 248, 227, 244, 242, 255, 241, 231, 240, 253, 169, 210, 245, 237, 249, 247,
    239, 168, 252, 251, 254, 238, 223, 221, 213, 225, 177, 197, 171, 196, 159, 4,
    5,   6,   8,   9,   10,  11,  12,  13,  14,  15,  16,  17,  19,  20,  21,  22,
    23,  24,  25,  26,  27,  28,  30,  31,  32,  33,  34,  35,  36,  37,  38,  39,
    41,  42,  43,  44,  45,  46,  47,  48,  49,  50,  52,  53,  54,  55,  56,  57,
    58,  59,  60,  61,  63,  64,  65,  66,  67,  68,  69,  70,  71,  72,  74,  75,
    76,  77,  78,  79,  80,  81,  82,  83,  86,  87,  88,  89,  90,  91,  92,  93,
    94,  95,  97,  98,  99,  100, 101, 102, 103, 104, 105, 106, 108, 109, 110, 111,
    112, 113, 114, 115, 116, 117, 119, 120, 121, 122, 123, 124, 125, 126, 127, 128,
    130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 141, 142, 143, 144, 145, 146,
};

namespace {

inline PVBM* bm_body(SV* sv) { return static_cast<PVBM*>(sv->any); }

// After the skip table of a search string of three bytes or more: the
// offsets of its two rarest bytes, which the search looks for first.
struct BmPair {
    uint32_t o1;
    uint32_t o2;
};

// Equal bytes; n may be 0.
inline bool bytes_equal(const char* a, const char* b, int64_t n)
{
    return n <= 0 || std::memcmp(a, b, static_cast<size_t>(n)) == 0;
}

// A tail-marked needle of length len (its last byte the appended newline):
// the needle without that newline at the very end of [big, bend), or none.
char* tail_at_end(char* big, char* bend, const char* little, int64_t len)
{
    if (len < 1 || bend - big < len - 1)
        return nullptr;
    char* at = bend - (len - 1);
    return bytes_equal(at, little, len - 1) ? at : nullptr;
}

}  // namespace

const char* copy_to_delimiter(PERLGCB*, char* to, const char* toend, const char* from, const char* fromend,
                              int32_t delim, int32_t* count)
{
    int32_t n = 0;
    auto put = [&](char c) {
        if (to < toend)
            *to++ = c;
        n++;
    };
    while (from < fromend) {
        char c = *from;
        if (c == '\\') {
            if (from + 1 >= fromend) {
                // A backslash as the last source byte escapes nothing: it is
                // copied and the walk ends at the source end.
                put(c);
                from++;
                break;
            }
            if (static_cast<uint8_t>(from[1]) == static_cast<uint8_t>(delim)) {
                put(from[1]);
            } else {
                put(c);
                put(from[1]);
            }
            from += 2;
            continue;
        }
        if (static_cast<uint8_t>(c) == static_cast<uint8_t>(delim))
            break;
        put(c);
        from++;
    }
    if (to < toend)
        *to = 0;
    *count = n;
    return from;
}

const char* str_find(PERLGCB*, const char* haystack, const char* needle)
{
    if (!needle || !*needle)
        return haystack;
    for (const char* h = haystack; *h; h++) {
        const char* a = h;
        const char* b = needle;
        while (*b && *a == *b) {
            a++;
            b++;
        }
        if (!*b)
            return h;
        if (!*a)
            return nullptr;
    }
    return nullptr;
}

int64_t find_byte_pair(const char* big, int64_t from, int64_t last, int64_t o1, uint8_t a1, uint8_t a2, int64_t o2,
                       uint8_t b1, uint8_t b2)
{
    int64_t p = from;
    // Below this rank of byte_frequency_table a byte is rarer than the
    // common lower-case letters of text.
    constexpr uint8_t rare_rank = 220;
    if (a1 == a2 && byte_frequency_table[a1] < rare_rank) {
        // An exact rare first byte: the platform's byte search finds it
        // fastest; should it prove common here after all (more than one hit
        // in sixteen bytes), the pair loop below takes the rest.
        int64_t hits = 0;
        while (p <= last) {
            const void* hit = std::memchr(big + p + o1, a1, static_cast<size_t>(last - p + 1));
            if (!hit)
                return -1;
            int64_t q = static_cast<const char*>(hit) - big - o1;
            uint8_t y = static_cast<uint8_t>(big[q + o2]);
            if (y == b1 || y == b2)
                return q;
            p = q + 1;
            if (++hits > 16 && hits * 16 > p - from)
                break;
        }
    }
#if defined(__SSE2__)
    // Lane i of the mask is start p + i: both bytes compared at once over
    // sixteen starts, while the sixteenth start is still within last.
    const __m128i va1 = _mm_set1_epi8(static_cast<char>(a1));
    const __m128i va2 = _mm_set1_epi8(static_cast<char>(a2));
    const __m128i vb1 = _mm_set1_epi8(static_cast<char>(b1));
    const __m128i vb2 = _mm_set1_epi8(static_cast<char>(b2));
    for (; p + 15 <= last; p += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(big + p + o1));
        __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(big + p + o2));
        __m128i hx = _mm_or_si128(_mm_cmpeq_epi8(x, va1), _mm_cmpeq_epi8(x, va2));
        __m128i hy = _mm_or_si128(_mm_cmpeq_epi8(y, vb1), _mm_cmpeq_epi8(y, vb2));
        uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_and_si128(hx, hy)));
        if (mask)
            return p + __builtin_ctz(mask);
    }
#endif
    for (; p <= last; p++) {
        uint8_t x = static_cast<uint8_t>(big[p + o1]);
        uint8_t y = static_cast<uint8_t>(big[p + o2]);
        if ((x == a1 || x == a2) && (y == b1 || y == b2))
            return p;
    }
    return -1;
}

namespace {

// Whether literal l of the set stands whole at q (q + its length <= end).
inline bool set_literal_at(const re_accel* a, const re_set_literal& l, const uint8_t* big, int64_t q, int64_t end,
                           const uint8_t* fold)
{
    if (q + l.length > end)
        return false;
    const uint8_t* t = reinterpret_cast<const uint8_t*>(a->text + l.text);
    const uint8_t* x = big + q;
    if (!l.fold)
        return std::memcmp(x, t, static_cast<size_t>(l.length)) == 0;
    for (int32_t i = 0; i < l.length; i++)
        if (x[i] != t[i] && fold[x[i]] != t[i])
            return false;
    return true;
}

// Whether some literal of the set stands whole at q.
inline bool set_any_at(const re_accel* a, const uint8_t* big, int64_t q, int64_t end, const uint8_t* fold)
{
    for (int32_t i = 0; i < a->set_count; i++) {
        const re_set_literal& l = a->set[i];
        if (q + l.length > end)
            continue;
        uint8_t x = big[q + l.o1], y = big[q + l.o2];
        if ((x == l.a1 || x == l.a2) && (y == l.b1 || y == l.b2) && set_literal_at(a, l, big, q, end, fold))
            return true;
    }
    return false;
}

}  // namespace

int64_t find_literal_set(const char* bigc, int64_t from, int64_t end, const re_accel* a, const uint8_t* fold)
{
    const uint8_t* big = reinterpret_cast<const uint8_t*>(bigc);
    int64_t q = from;
#if defined(__SSE2__)
    // Lane i of the mask is position q + i: a literal's pair bytes both
    // stand at their offsets from it. Every load stays before end.
    const int64_t block_last = end - 16 - a->set_reach;
    const int32_t n = a->set_count;
    __m128i va1[RE_SET_LITERALS], va2[RE_SET_LITERALS], vb1[RE_SET_LITERALS], vb2[RE_SET_LITERALS];
    for (int32_t i = 0; i < n; i++) {
        va1[i] = _mm_set1_epi8(static_cast<char>(a->set[i].a1));
        va2[i] = _mm_set1_epi8(static_cast<char>(a->set[i].a2));
        vb1[i] = _mm_set1_epi8(static_cast<char>(a->set[i].b1));
        vb2[i] = _mm_set1_epi8(static_cast<char>(a->set[i].b2));
    }
    for (; q <= block_last; q += 16) {
        __m128i any = _mm_setzero_si128();
        for (int32_t i = 0; i < n; i++) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(big + q + a->set[i].o1));
            __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(big + q + a->set[i].o2));
            __m128i hx = _mm_or_si128(_mm_cmpeq_epi8(x, va1[i]), _mm_cmpeq_epi8(x, va2[i]));
            __m128i hy = _mm_or_si128(_mm_cmpeq_epi8(y, vb1[i]), _mm_cmpeq_epi8(y, vb2[i]));
            any = _mm_or_si128(any, _mm_and_si128(hx, hy));
        }
        uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(any));
        while (mask) {
            int64_t at = q + __builtin_ctz(mask);
            if (set_any_at(a, big, at, end, fold))
                return at;
            mask &= mask - 1;
        }
    }
#endif
    // The last positions one at a time; set_any_at reads a literal's pair
    // only where the literal fits.
    for (; q < end; q++)
        if (set_any_at(a, big, q, end, fold))
            return q;
    return -1;
}

bool byte_ranges_of(const uint8_t* bitmap, ByteRanges* r)
{
    r->count = 0;
    for (uint32_t c = 0; c < 256;) {
        if (!((bitmap[c >> 3] >> (c & 7)) & 1)) {
            c++;
            continue;
        }
        uint32_t hi = c;
        while (hi + 1 < 256 && ((bitmap[(hi + 1) >> 3] >> ((hi + 1) & 7)) & 1))
            hi++;
        if (r->count == 3)
            return false;
        r->lo[r->count] = static_cast<uint8_t>(c);
        r->span[r->count] = static_cast<uint8_t>(hi - c);
        r->count++;
        c = hi + 1;
    }
    return r->count > 0;
}

const char* find_byte_ranges(const char* p, const char* to, const ByteRanges* r, bool want)
{
    auto in = [r](uint8_t c) {
        for (int32_t i = 0; i < r->count; i++)
            if (static_cast<uint8_t>(c - r->lo[i]) <= r->span[i])
                return true;
        return false;
    };
#if defined(__SSE2__)
    __m128i lo[3], span[3];
    for (int32_t i = 0; i < r->count; i++) {
        lo[i] = _mm_set1_epi8(static_cast<char>(r->lo[i]));
        span[i] = _mm_set1_epi8(static_cast<char>(r->span[i]));
    }
    for (; to - p >= 16; p += 16) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        __m128i hit = _mm_setzero_si128();
        for (int32_t i = 0; i < r->count; i++) {
            __m128i d = _mm_sub_epi8(x, lo[i]);
            hit = _mm_or_si128(hit, _mm_cmpeq_epi8(_mm_min_epu8(d, span[i]), d));
        }
        uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(hit));
        if (!want)
            mask = ~mask & 0xFFFF;
        if (mask)
            return p + __builtin_ctz(mask);
    }
#endif
    for (; p < to; p++)
        if (in(static_cast<uint8_t>(*p)) == want)
            return p;
    return to;
}

void rare_byte_pair(const uint8_t* s, int64_t len, const uint8_t* fold, int64_t* o1, int64_t* o2)
{
    auto rarity = [&](int64_t i) {
        uint8_t f = byte_frequency_table[s[i]];
        if (fold) {
            uint8_t g = byte_frequency_table[fold[s[i]]];
            f = g > f ? g : f;  // either case may stand there: the commoner counts
        }
        return f;
    };
    int64_t best = 0, second = len > 1 ? 1 : 0;
    if (len > 1 && rarity(second) < rarity(best)) {
        best = 1;
        second = 0;
    }
    for (int64_t i = 2; i < len; i++) {
        if (rarity(i) < rarity(best)) {
            second = best;
            best = i;
        } else if (rarity(i) < rarity(second))
            second = i;
    }
    *o1 = best;
    *o2 = second;
}

const char* mem_find(PERLGCB*, const char* big, const char* bend, const char* little, const char* lend)
{
    int64_t len = lend - little;
    if (len <= 0)
        return big;
    if (len > bend - big)
        return nullptr;
    const char* last = bend - len;
    for (const char* p = big; p <= last; p++) {
        p = static_cast<const char*>(std::memchr(p, *little, static_cast<size_t>(last - p + 1)));
        if (!p)
            return nullptr;
        if (bytes_equal(p + 1, little + 1, len - 1))
            return p;
    }
    return nullptr;
}

const char* mem_find_last(PERLGCB*, const char* big, const char* bend, const char* little, const char* lend)
{
    int64_t len = lend - little;
    if (len <= 0)
        return bend;
    if (len > bend - big)
        return nullptr;
    for (const char* p = bend - len; p >= big; p--) {
        if (*p == *little && bytes_equal(p + 1, little + 1, len - 1))
            return p;
    }
    return nullptr;
}

void boyer_moore_prepare(PERLGCB* gcb, SV* sv, uint32_t flags)
{
    if (flags & BM_TAIL_FLAGS)
        sv_append_bytes(gcb, sv, "\n", 1);
    uint64_t len = 0;
    sv_force_string(gcb, sv, &len);
    if (sv_type(sv) < SVt_PVBM)
        sv_upgrade_body(gcb, sv, SVt_PVBM);
    len = bm_body(sv)->cur;
    if (len == 0)
        return;
    if (len > 2) {
        uint32_t m = len > 255 ? 255 : static_cast<uint32_t>(len);
        char* s = sv_grow_buffer(gcb, sv, len + 2 + 256 + sizeof(BmPair));
        s[len + 1] = static_cast<char>(flags & 0xFF);
        uint8_t* table = reinterpret_cast<uint8_t*>(s + len + 2);
        std::memset(table, static_cast<int>(m), 256);
        // Distance from the end of the last occurrence among the last m
        // bytes; the last byte gets 0.
        const uint8_t* end = reinterpret_cast<const uint8_t*>(s + len);
        for (uint32_t i = 0; i < m; i++) {
            uint8_t b = end[-1 - static_cast<int64_t>(i)];
            if (table[b] == m)
                table[b] = static_cast<uint8_t>(i);
        }
        // The pair the search looks for first, chosen once here.
        int64_t o1 = 0, o2 = 0;
        rare_byte_pair(reinterpret_cast<const uint8_t*>(s), static_cast<int64_t>(len), nullptr, &o1, &o2);
        BmPair pair{static_cast<uint32_t>(o1), static_cast<uint32_t>(o2)};
        std::memcpy(s + len + 2 + 256, &pair, sizeof pair);
    }
    sv_add_magic(gcb, sv, nullptr, 'B', nullptr, 0);
    sv->flags |= SVf_VALID;

    const uint8_t* s = reinterpret_cast<const uint8_t*>(bm_body(sv)->pv);
    uint64_t rare_at = 0;
    for (uint64_t i = 1; i < len; i++) {
        if (byte_frequency_table[s[i]] < byte_frequency_table[s[rare_at]])
            rare_at = i;
    }
    PVBM* body = bm_body(sv);
    body->rare = s[rare_at];
    body->previous = static_cast<uint16_t>(rare_at);
    body->useful = 100;
    if (flags & BM_TAIL_FLAGS)
        sv->flags |= SVf_TAIL;
    if (gcb->debug_flags & 0x200)
        prx_fprintf(PRX_STDOUT, "rarest char %c at %d\n", static_cast<int>(body->rare), static_cast<int>(rare_at));
}

char* boyer_moore_search(PERLGCB* gcb, char* big, char* bend, SV* little, uint32_t flags)
{
    PVBM* lb = bm_body(little);
    const char* needle = lb->pv;
    int64_t len = static_cast<int64_t>(lb->cur);
    bool tail = (little->flags & SVf_TAIL) != 0;
    bool anchored_tail = tail && !(flags & BM_MULTILINE);
    int64_t have = bend - big;

    if (have < len) {
        if (tail && have == len - 1 && bytes_equal(big, needle, len - 1))
            return big;
        return nullptr;
    }
    if (len == 0)
        return big;
    if (len == 1) {
        if (anchored_tail)
            return bend[-1] == '\n' ? bend - 1 : bend;
        char* p = static_cast<char*>(std::memchr(big, *needle, static_cast<size_t>(have)));
        if (p)
            return p;
        return tail ? bend : nullptr;
    }
    if (len == 2) {
        char c1 = needle[0];
        char c2 = needle[1];
        if (anchored_tail) {
            if (bend[-2] == c1 && bend[-1] == '\n')
                return bend - 2;
            if (bend[-1] == c1)
                return bend - 1;
            return nullptr;
        }
        int64_t at = find_byte_pair(big, 0, have - 2, 0, static_cast<uint8_t>(c1), static_cast<uint8_t>(c1), 1,
                                    static_cast<uint8_t>(c2), static_cast<uint8_t>(c2));
        if (at >= 0)
            return big + at;
        if (tail && bend[-1] == c1)
            return bend - 1;
        return nullptr;
    }
    if (anchored_tail) {
        if (bend[-1] == '\n' && bytes_equal(bend - len, needle, len))
            return bend - len;
        if (bytes_equal(bend - (len - 1), needle, len - 1))
            return bend - (len - 1);
        return nullptr;
    }
    if (sv_type(little) != SVt_PVBM || !(little->flags & SVf_VALID)) {
        char* found = const_cast<char*>(mem_find(gcb, big, bend, needle, needle + len));
        if (!found && tail)
            return tail_at_end(big, bend, needle, len);
        return found;
    }

    const uint8_t* table = reinterpret_cast<const uint8_t*>(needle + len + 2);
    int64_t pos = len - 1;  // haystack offset aligned with the needle's last byte

    // Byte-pair scan: candidates are the starts where the needle's two
    // rarest bytes both stand at their offsets, found sixteen starts at a
    // time and taken left to right, so the first that compares equal is the
    // leftmost match. When candidates turn out to be common here (many
    // close together) the skip loop below takes over.
    {
        BmPair pair;
        std::memcpy(&pair, needle + len + 2 + 256, sizeof pair);
        const int64_t o1 = pair.o1, o2 = pair.o2;
        const uint8_t a = static_cast<uint8_t>(needle[o1]);
        const uint8_t b = static_cast<uint8_t>(needle[o2]);
        const int64_t last = have - len;  // last start
        int64_t from = 0;
        int64_t misses = 0;
        while (from <= last) {
            int64_t start = find_byte_pair(big, from, last, o1, a, a, o2, b, b);
            if (start < 0) {
                // No start from here on holds the pair: only the tail
                // check at the end is left.
                from = last + 1;
                break;
            }
            if (bytes_equal(big + start, needle, len))
                return big + start;
            from = start + 1;
            // Give up on the pair search once candidates come more often
            // than one in 32 bytes of subject.
            if (++misses > 8 && misses * 32 > from)
                break;
        }
        if (from > last) {
            // Every start is ruled out. The skip loop would end exactly at
            // the end whenever the subject ends in the needle without its
            // newline (no skip passes the end there), so the tail check
            // below gives what it would.
            pos = have;
        } else {
            int64_t resume = from + (len - 1);
            pos = resume > pos ? resume : pos;
        }
    }

    while (pos < have) {
        uint8_t skip = table[static_cast<uint8_t>(big[pos])];
        if (skip) {
            pos += skip;
            continue;
        }
        // big[pos] is the needle's last byte: compare the bytes before it.
        int64_t k = len - 1;
        while (k > 0 && needle[k - 1] == big[pos - len + k])
            k--;
        if (k == 0)
            return big + pos - (len - 1);
        pos++;
    }
    if (pos == have && (needle[len + 1] & BM_TAIL_FLAGS))
        return tail_at_end(big, bend, needle, len);
    return nullptr;
}

char* study_find(PERLGCB* gcb, SV* big, SV* little, int32_t start_shift, int32_t end_shift, int32_t* old_pos,
                 int32_t last)
{
    PVBM* lb = bm_body(little);
    const char* needle = lb->pv;
    int64_t nlen = static_cast<int64_t>(lb->cur);
    int32_t rare_at = lb->previous;
    const int32_t* next = gcb->study_next;
    char* hay = static_cast<PV*>(big->any)->pv;
    int64_t hlen = static_cast<int64_t>(static_cast<PV*>(big->any)->cur);

    int64_t pos;
    bool found_start;
    if (*old_pos == -1) {
        pos = gcb->study_first[lb->rare];
        found_start = pos >= 0;
    } else {
        pos = *old_pos + next[*old_pos];
        found_start = pos != 0;
    }

    bool to_tail = false;
    if (found_start) {
        int64_t stop = hlen - end_shift - (nlen - 1 - rare_at);
        int64_t from = static_cast<int64_t>(rare_at) + start_shift;
        if (from > stop) {
            if (from != stop + 1)
                return nullptr;
            to_tail = true;
        } else {
            while (pos < from) {
                pos += next[pos];
                if (pos == 0) {
                    found_start = false;
                    break;
                }
            }
        }
        if (found_start && !to_tail) {
            bool found = false;
            do {
                if (pos >= stop)
                    break;
                if (bytes_equal(hay + pos - rare_at, needle, nlen)) {
                    *old_pos = static_cast<int32_t>(pos);
                    if (!last)
                        return hay + pos - rare_at;
                    found = true;
                }
                pos += next[pos];
            } while (pos != 0);
            if (last && found)
                return hay + *old_pos - rare_at;
            to_tail = true;
        }
    }
    if (!found_start) {
        // The rare byte does not occur (again): only a newline that ends the
        // needle can still match as the tail.
        if (!(lb->rare == '\n' && rare_at == nlen - 1))
            return nullptr;
    }

    if (!(little->flags & SVf_TAIL) || end_shift > 0)
        return nullptr;
    return tail_at_end(hay, hay + hlen, needle, nlen);
}

int32_t mem_casecmp(PERLGCB* gcb, const char* a, const char* b, int32_t len)
{
    const uint8_t* fold = gcb->fold_table;
    const uint8_t* x = reinterpret_cast<const uint8_t*>(a);
    const uint8_t* y = reinterpret_cast<const uint8_t*>(b);
    for (int32_t i = 0; i < len; i++) {
        if (x[i] != y[i] && x[i] != fold[y[i]])
            return 1;
    }
    return 0;
}
