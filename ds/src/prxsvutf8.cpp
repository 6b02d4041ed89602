// UTF-8 string values: downgrade to bytes, upgrade to UTF-8, encoding,
// decode-if-valid, byte and character lengths, byte to character offsets.
#include "prxmg.h"
#include "prxsvint.h"
#include "prxutf8.h"

namespace {

// A value both read-only and a glob copy is made modifiable first; one that
// is only either is changed in place.
void prepare(PERLGCB* gcb, SV* sv)
{
    if ((sv->flags & (SVf_READONLY | SVf_FAKE)) == (SVf_READONLY | SVf_FAKE))
        sv_make_modifiable(gcb, sv);
}

bool has_high_byte(const char* s, uint64_t n)
{
    for (uint64_t i = 0; i < n; i++)
        if (static_cast<uint8_t>(s[i]) >= 0x80)
            return true;
    return false;
}

// Converts the bytes of a POK value to UTF-8 in a new buffer. The recorded
// length is the bytes the string occupies with its terminator.
void upgrade_in_place(PERLGCB* gcb, SV* sv)
{
    prepare(gcb, sv);
    // The old buffer goes back to the pool from its allocation start.
    undo_offset(gcb, sv);
    int64_t n = static_cast<int64_t>(sv_cur(sv) + 1);
    uint8_t* fresh = utf8_copy_from_bytes(gcb, reinterpret_cast<const uint8_t*>(sv_pv(sv)), &n);
    if (sv_len(sv) != 0)
        pool_free(gcb, sv_pv(sv));
    sv_pv(sv) = reinterpret_cast<char*>(fresh);
    sv_cur(sv) = static_cast<uint64_t>(n - 1);
    sv_len(sv) = static_cast<uint64_t>(n);
}

}  // namespace

bool sv_convert_to_bytes(PERLGCB* gcb, SV* sv, int32_t fail_ok)
{
    if ((sv->flags & (SVf_POK | SVf_UTF8)) != (SVf_POK | SVf_UTF8))
        return true;
    if (sv_cur(sv) == 0) {
        sv->flags &= ~SVf_UTF8;
        return true;
    }
    prepare(gcb, sv);
    uint64_t len;
    char* s = sv_text(gcb, sv, &len);
    int64_t n = static_cast<int64_t>(len);
    if (utf8_convert_to_bytes(gcb, reinterpret_cast<uint8_t*>(s), &n)) {
        sv_cur(sv) = static_cast<uint64_t>(n);
        sv->flags &= ~SVf_UTF8;
        return true;
    }
    if (fail_ok)
        return false;
    const char* desc = current_op_desc(gcb);
    if (desc)
        fatal_error(gcb, "Wide character in %s", desc);
    fatal_error(gcb, "Wide character");
}

void sv_convert_to_utf8(PERLGCB* gcb, SV* sv)
{
    if (!sv || !(sv->flags & SVf_POK) || (sv->flags & SVf_UTF8))
        return;
    if (!has_high_byte(sv_pv(sv), sv_cur(sv)))
        return;
    upgrade_in_place(gcb, sv);
    sv->flags |= SVf_UTF8;
}

void sv_encode_utf8(PERLGCB* gcb, SV* sv)
{
    if ((sv->flags & SVf_POK) && !(sv->flags & SVf_UTF8) && has_high_byte(sv_pv(sv), sv_cur(sv)))
        upgrade_in_place(gcb, sv);
    sv->flags &= ~SVf_UTF8;
}

bool sv_mark_utf8_if_valid(PERLGCB* gcb, SV* sv)
{
    if (!(sv->flags & SVf_POK))
        return true;
    if (!sv_convert_to_bytes(gcb, sv, 1))
        return false;
    if (!utf8_check_string(gcb, reinterpret_cast<const uint8_t*>(sv_pv(sv)), sv_cur(sv) + 1))
        return false;
    if (has_high_byte(sv_pv(sv), sv_cur(sv)))
        sv->flags |= SVf_UTF8;
    return true;
}

uint64_t sv_byte_length(PERLGCB* gcb, SV* sv)
{
    if (!sv)
        return 0;
    if (sv->flags & SVs_GMG)
        return mg_value_length(gcb, sv);
    uint64_t len;
    sv_text(gcb, sv, &len);
    return len;
}

uint64_t sv_char_length(PERLGCB* gcb, SV* sv)
{
    if (!sv)
        return 0;
    uint64_t len;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
    return utf8_length(gcb, s, s + len);
}

void sv_pos_b2u(PERLGCB* gcb, SV* sv, int32_t* offset)
{
    if (!sv)
        return;
    uint64_t len;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
    if (static_cast<uint64_t>(static_cast<uint32_t>(*offset)) > len)
        fatal_error(gcb, "panic: sv_pos_b2u: bad byte offset");
    const uint8_t* send = s + *offset;
    int32_t count = 0;
    while (s < send) {
        int64_t n = 0;
        uint64_t uv = utf8_decode(gcb, s, utf8_skip_table[*s], &n, 0);
        // A malformed character ends the count; a genuine U+0000 is one.
        if (uv == 0 && !(*s == 0 && n == 1))
            break;
        s += n;
        count++;
    }
    *offset = count;
}
