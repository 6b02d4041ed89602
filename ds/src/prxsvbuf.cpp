// The string buffer of a value: growth, the offset start, substring
// replacement, appending, character offsets, and string comparison.
#include "prxmg.h"
#include "prxsvint.h"
#include "prxutf8.h"

namespace {

// The string only flag step: every value flag but UTF8 cleared, POK and pPOK set.
void string_only(SV* sv)
{
    sv->flags &= ~(SV_VALUE_FLAGS & ~SVf_UTF8);
    sv->flags |= SVf_POK | SVp_POK;
}

// The buffer and length of a value about to be written.
char* writable_text(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    if (plain_string(sv)) {
        *len = sv_cur(sv);
        return sv_pv(sv);
    }
    return sv_force_string(gcb, sv, len);
}

// The text of a value for reading, or the empty text for none.
const char* read_text(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    if (!sv) {
        *len = 0;
        return "";
    }
    return sv_text(gcb, sv, len);
}

void append_raw(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t n, uint64_t moved)
{
    uint64_t len;
    char* start = writable_text(gcb, sv, &len);
    // A source inside the value's own string follows the string when the
    // buffer moves.
    bool own = ptr >= start && ptr <= start + len;
    uint64_t rel = own ? static_cast<uint64_t>(ptr - start) : 0;
    if (sv_len(sv) < len + n + 1)
        sv_grow_buffer(gcb, sv, sv_growth_size(sv, len + n + 1));
    if (own)
        ptr = sv_pv(sv) + rel;
    char* pv = sv_pv(sv);
    xk_move(ptr, pv + len, static_cast<int32_t>(moved));
    sv_cur(sv) = len + n;
    pv[len + n] = 0;
    string_only(sv);
    taint_step(gcb, sv);
}

}  // namespace

char* sv_grow_buffer(PERLGCB* gcb, SV* sv, uint64_t size)
{
    if (sv->flags & SVf_ROK)
        sv_drop_reference(gcb, sv);
    if (sv_type(sv) < SVt_PV) {
        sv_upgrade_body(gcb, sv, SVt_PV);
    } else if (sv->flags & SVf_OOK) {
        sv_undo_offset(gcb, sv);
        if (size > sv_len(sv))
            size += 10 * (size - sv_cur(sv));
    }
    if (size > sv_len(sv)) {
        char* pv = sv_pv(sv);
        if (sv_len(sv) != 0 && pv)
            pv = static_cast<char*>(pool_realloc(gcb, pv, size));
        else
            pv = static_cast<char*>(pool_malloc(gcb, size));
        sv_pv(sv) = pv;
        sv_len(sv) = size;
    }
    return sv_pv(sv);
}

int32_t sv_undo_offset(PERLGCB*, SV* sv)
{
    int64_t offset = sv_iv(sv);
    if (offset != 0) {
        char* old = sv_pv(sv);
        sv_len(sv) += static_cast<uint64_t>(offset);
        sv_pv(sv) = old - offset;
        sv_iv(sv) = 0;
        xk_move(old, sv_pv(sv), static_cast<int32_t>(sv_cur(sv) + 1));
    }
    sv->flags &= ~SVf_OOK;
    return 0;
}

void sv_chop_front(PERLGCB* gcb, SV* sv, const char* new_start)
{
    if (!new_start || !(sv->flags & SVp_POK))
        return;
    modify_check(gcb, sv);
    if (sv_type(sv) < SVt_PVIV)
        sv_upgrade_body(gcb, sv, SVt_PVIV);
    if (!(sv->flags & SVf_OOK)) {
        if (sv_len(sv) == 0) {
            // A borrowed buffer: work on a copy of our own.
            const char* old = sv_pv(sv);
            uint64_t cur = sv_cur(sv);
            uint64_t at = static_cast<uint64_t>(new_start - old);
            char* fresh = sv_grow_buffer(gcb, sv, cur + 1);
            xk_move(old, fresh, static_cast<int32_t>(cur));
            fresh[cur] = 0;
            new_start = fresh + at;
        }
        sv_iv(sv) = 0;
        sv->flags |= SVf_OOK;
    }
    sv->flags &= ~(SVf_IOK | SVf_NOK | SVp_IOK | SVp_NOK | SVf_IsUV);
    uint64_t delta = static_cast<uint64_t>(new_start - sv_pv(sv));
    sv_len(sv) -= delta;
    sv_cur(sv) -= delta;
    sv_pv(sv) += delta;
    sv_iv(sv) += static_cast<int64_t>(delta);
}

void sv_insert(PERLGCB* gcb, SV* sv, uint64_t offset, uint64_t len, const char* little, uint64_t littlelen)
{
    if (!sv)
        fatal_error(gcb, "Can't modify non-existent substring");
    uint64_t curlen;
    writable_text(gcb, sv, &curlen);
    string_only(sv);
    if (offset + len > curlen) {
        if (sv_len(sv) < offset + len + 1)
            sv_grow_buffer(gcb, sv, offset + len + 1);
        std::memset(sv_pv(sv) + curlen, 0, offset + len - curlen);
        sv_cur(sv) = offset + len;
    }
    taint_step(gcb, sv);
    int32_t d = static_cast<int32_t>(littlelen - len);
    if (d > 0) {
        uint64_t cur = sv_cur(sv);
        if (sv_len(sv) < cur + d + 1)
            sv_grow_buffer(gcb, sv, sv_growth_size(sv, cur + d + 1));
        char* pv = sv_pv(sv);
        pv[cur + d] = 0;
        for (uint64_t i = cur; i > offset + len; i--)
            pv[i - 1 + d] = pv[i - 1];
        xk_move(little, pv + offset, static_cast<int32_t>(littlelen));
        sv_cur(sv) = cur + d;
    } else if (d == 0) {
        xk_move(little, sv_pv(sv) + offset, static_cast<int32_t>(len));
    } else {
        char* pv = sv_pv(sv);
        char* mid = pv + offset;
        char* midend = mid + len;
        char* end = pv + sv_cur(sv);
        if (midend > end)
            fatal_error(gcb, "panic: sv_insert");
        uint64_t tail = static_cast<uint64_t>(end - midend);
        if (offset > tail) {
            xk_move(little, mid, static_cast<int32_t>(littlelen));
            xk_move(midend, mid + littlelen, static_cast<int32_t>(tail));
            mid[littlelen + tail] = 0;
            sv_cur(sv) = offset + littlelen + tail;
        } else if (offset > 0) {
            // The head moves up to meet the tail; the start follows it.
            sv_chop_front(gcb, sv, midend - littlelen - offset);
            char* start = sv_pv(sv);
            const char* head = start + d;   // the former start, in the current buffer
            for (uint64_t i = offset; i > 0; i--)
                start[i - 1] = head[i - 1];
            xk_move(little, start + offset, static_cast<int32_t>(littlelen));
        } else if (littlelen) {
            sv_chop_front(gcb, sv, midend - littlelen);
            xk_move(little, sv_pv(sv), static_cast<int32_t>(littlelen));
        } else {
            sv_chop_front(gcb, sv, midend);
        }
    }
    if (sv->flags & SVs_SMG)
        mg_call_set(gcb, sv);
}

void sv_append_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len) { append_raw(gcb, sv, ptr, len, len); }

void sv_append_cstring(PERLGCB* gcb, SV* sv, const char* ptr)
{
    if (!ptr)
        return;
    uint64_t n = std::strlen(ptr);
    append_raw(gcb, sv, ptr, n, n + 1);
}

void sv_append_sv(PERLGCB* gcb, SV* dst, SV* src)
{
    if (!src)
        return;
    uint64_t len;
    const char* s = sv_text(gcb, src, &len);
    if (!s)
        return;
    bool dutf8 = utf8_in_effect(gcb, dst);
    bool sutf8 = utf8_in_effect(gcb, src);
    if (dutf8 == sutf8) {
        sv_append_bytes(gcb, dst, s, len);
    } else if (sutf8) {
        sv_convert_to_utf8(gcb, dst);
        sv_append_bytes(gcb, dst, s, len);
        dst->flags |= SVf_UTF8;
    } else {
        SV* copy = sv_new_copy(gcb, src);
        sv_convert_to_utf8(gcb, copy);
        uint64_t clen;
        const char* c = sv_text(gcb, copy, &clen);
        sv_append_bytes(gcb, dst, c, clen);
        sv_make_temporary(gcb, copy);
    }
}

void sv_append_sv_with_magic(PERLGCB* gcb, SV* dst, SV* src)
{
    sv_append_sv(gcb, dst, src);
    if (dst->flags & SVs_SMG)
        mg_call_set(gcb, dst);
}

void sv_pos_char_to_byte(PERLGCB* gcb, SV* sv, int32_t* offset, int32_t* len)
{
    if (!sv)
        return;
    uint64_t n;
    const uint8_t* start = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &n));
    const uint8_t* end = start + n;
    const uint8_t* s = start;
    for (int32_t i = 0; i < *offset && s < end; i++)
        s += utf8_skip_table[*s];
    if (s > end)
        s = end;
    *offset = static_cast<int32_t>(s - start);
    if (len) {
        const uint8_t* t = s;
        for (int32_t i = 0; i < *len && t < end; i++)
            t += utf8_skip_table[*t];
        if (t > end)
            t = end;
        *len = static_cast<int32_t>(t - s);
    }
}

int32_t sv_strings_equal(PERLGCB* gcb, SV* a, SV* b)
{
    uint64_t alen, blen;
    const char* pa = read_text(gcb, a, &alen);
    if (!b)
        return alen == 0;
    const char* pb = read_text(gcb, b, &blen);
    uint8_t* copy = nullptr;
    if (alen && blen && a && ((a->flags ^ b->flags) & SVf_UTF8) && !bytes_hint(gcb)) {
        // Equality brings the UTF-8 side down to bytes when it fits.
        bool a_is_utf8 = (a->flags & SVf_UTF8) != 0;
        const char*& side = a_is_utf8 ? pa : pb;
        uint64_t& sidelen = a_is_utf8 ? alen : blen;
        int64_t n = static_cast<int64_t>(sidelen);
        int32_t is_utf8 = 1;
        uint8_t* bytes = utf8_copy_as_bytes(gcb, reinterpret_cast<uint8_t*>(const_cast<char*>(side)), &n, &is_utf8);
        if (!is_utf8) {
            if (bytes != reinterpret_cast<const uint8_t*>(side))
                copy = bytes;
            side = reinterpret_cast<const char*>(bytes);
            sidelen = static_cast<uint64_t>(n);
        }
    }
    int32_t equal = alen == blen && std::memcmp(pa, pb, alen) == 0;
    pool_free(gcb, copy);
    return equal;
}

int32_t sv_compare_strings(PERLGCB* gcb, SV* a, SV* b)
{
    uint64_t alen, blen;
    const char* pa = read_text(gcb, a, &alen);
    const char* pb = read_text(gcb, b, &blen);
    uint8_t* copy = nullptr;
    if (alen && blen && a && b && ((a->flags ^ b->flags) & SVf_UTF8) && !bytes_hint(gcb)) {
        // Ordering brings the byte side up to UTF-8.
        bool a_is_bytes = !(a->flags & SVf_UTF8);
        const char*& side = a_is_bytes ? pa : pb;
        uint64_t& sidelen = a_is_bytes ? alen : blen;
        int64_t n = static_cast<int64_t>(sidelen);
        copy = utf8_copy_from_bytes(gcb, reinterpret_cast<const uint8_t*>(side), &n);
        side = reinterpret_cast<const char*>(copy);
        sidelen = static_cast<uint64_t>(n);
    }
    int32_t result;
    if (alen == 0) {
        result = blen != 0 ? -1 : 0;
    } else if (blen == 0) {
        result = 1;
    } else {
        uint64_t common = alen < blen ? alen : blen;
        int32_t diff = xk_padcmp(pa, static_cast<int32_t>(common), pb, static_cast<int32_t>(common), ' ');
        if (diff != 0)
            result = diff < 0 ? -1 : 1;
        else
            result = alen == blen ? 0 : (alen < blen ? -1 : 1);
    }
    pool_free(gcb, copy);
    return result;
}
