// Transliteration: do_trans_worker and its six engines, which apply the
// current tr/// op's byte table or swash to a value, and pp_trans.
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxuni.h"
#include "prxutf8.h"

namespace {

// Marker of "nothing translated written yet" for the squashing engines.
constexpr uint64_t NO_LAST = 0xFEEDFACE;
// NONE of a swash that does not say.
constexpr uint64_t DEFAULT_NONE = 0x7FFFFFFF;

const int16_t* byte_table(PERLGCB* gcb) { return reinterpret_cast<const int16_t*>(op_string_pv(gcb->op)); }

// Where an engine writes. In place, output never passes the read position:
// a write that would overtake unread source moves the output into a block
// of its own first. A block of its own grows before a write that would not
// fit, by the source's length and the room of one more character each time.
struct trans_out {
    uint8_t* start;     // first output byte
    uint64_t at;        // bytes written
    uint64_t usable;    // bytes a block of its own may take; 0 while in place
    uint64_t srclen;    // the source's length
};

void out_own_block(PERLGCB* gcb, trans_out* o, uint64_t usable)
{
    uint8_t* block = static_cast<uint8_t*>(pool_malloc(gcb, usable + 13));
    xk_copy(o->start, block, static_cast<int32_t>(o->at));
    o->start = block;
    o->usable = usable;
}

// The output of an engine over the len source bytes at s: in place, or from
// the start in a block of its own of factor bytes a source byte when the op
// says the text may grow.
trans_out out_begin(PERLGCB* gcb, uint8_t* s, uint64_t len, uint8_t priv, uint64_t factor)
{
    trans_out o{s, 0, 0, len};
    if (priv & OPpTRANS_GROWS)
        out_own_block(gcb, &o, factor * len);
    return o;
}

// Makes room for n bytes; next is the read position after the character
// being handled, as an offset from the start of the source.
void out_room(PERLGCB* gcb, trans_out* o, uint64_t n, uint64_t next)
{
    if (!o->usable) {
        if (o->at + n <= next)
            return;
        out_own_block(gcb, o, 3 * o->srclen + 13);
    }
    while (o->at + n > o->usable) {
        uint64_t grown = o->usable + o->srclen + 13;
        o->start = static_cast<uint8_t*>(pool_realloc(gcb, o->start, grown + 13));
        o->usable = grown;
    }
}

void out_bytes(PERLGCB* gcb, trans_out* o, const uint8_t* s, uint64_t n, uint64_t next)
{
    out_room(gcb, o, n, next);
    // In place the bytes may overlap their own source.
    if (o->start + o->at != s)
        xk_move(s, o->start + o->at, static_cast<int32_t>(n));
    o->at += n;
}

void out_char(PERLGCB* gcb, trans_out* o, uint64_t cp, uint64_t next)
{
    out_room(gcb, o, utf8_encoded_length(cp), next);
    uint8_t* d = o->start + o->at;
    o->at += static_cast<uint64_t>(utf8_encode(gcb, d, cp) - d);
}

// Hands the output to the value: a block of its own becomes the value's
// string (and is freed); in place the string is cut to what was written.
void out_finish(PERLGCB* gcb, trans_out* o, SV* sv, bool in_value)
{
    if (o->usable || !in_value) {
        sv_set_bytes(gcb, sv, reinterpret_cast<const char*>(o->start), o->at);
        if (o->usable)
            pool_free(gcb, o->start);
    } else {
        o->start[o->at] = 0;
        sv_cur(sv) = o->at;
    }
}

// The length of the character at s, never beyond the end.
inline uint64_t char_length(PERLGCB* gcb, const uint8_t* s, const uint8_t* end, uint64_t* cp)
{
    int64_t len = 0;
    uint64_t avail = static_cast<uint64_t>(end - s);
    *cp = utf8_decode(gcb, s, avail, &len, 0);
    return len <= 0 ? 1 : (static_cast<uint64_t>(len) > avail ? avail : static_cast<uint64_t>(len));
}

inline uint64_t skip_length(const uint8_t* s, const uint8_t* end)
{
    uint64_t n = utf8_skip_table[*s];
    uint64_t avail = static_cast<uint64_t>(end - s);
    return n > avail ? avail : n;
}

// ---- byte tables ----------------------------------------------------------------

uint32_t trans_simple(PERLGCB* gcb, SV* sv, uint8_t priv)
{
    const int16_t* tbl = byte_table(gcb);
    if (!tbl)
        fatal_error(gcb, "panic: do_trans_simple");
    uint64_t len = sv_cur(sv);
    uint8_t* s = reinterpret_cast<uint8_t*>(sv_pv(sv));
    uint32_t matches = 0;
    if (!(sv->flags & SVf_UTF8)) {
        for (uint64_t i = 0; i < len; i++) {
            int16_t ch = tbl[s[i]];
            if (ch >= 0) {
                s[i] = static_cast<uint8_t>(ch);
                matches++;
            }
        }
    } else {
        trans_out o = out_begin(gcb, s, len, priv, 2);
        const uint8_t* end = s + len;
        for (const uint8_t* p = s; p < end;) {
            uint64_t cp = 0;
            uint64_t n = char_length(gcb, p, end, &cp);
            uint64_t next = static_cast<uint64_t>(p - s) + n;
            int16_t ch = cp < 256 ? tbl[cp] : -1;
            if (ch >= 0) {
                matches++;
                out_char(gcb, &o, static_cast<uint64_t>(ch), next);
            } else {
                out_bytes(gcb, &o, p, n, next);
            }
            p += n;
        }
        out_finish(gcb, &o, sv, true);
        sv->flags |= SVf_UTF8;
    }
    pp_set_magic(gcb, sv);
    return matches;
}

uint32_t trans_count(PERLGCB* gcb, SV* sv)
{
    const int16_t* tbl = byte_table(gcb);
    if (!tbl)
        fatal_error(gcb, "panic: do_trans_count");
    uint64_t len = sv_cur(sv);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_pv(sv));
    const uint8_t* end = s + len;
    uint32_t matches = 0;
    if (!(sv->flags & SVf_UTF8)) {
        for (const uint8_t* p = s; p < end; p++)
            if (tbl[*p] >= 0)
                matches++;
    } else {
        for (const uint8_t* p = s; p < end;) {
            uint64_t cp = 0;
            p += char_length(gcb, p, end, &cp);
            if (cp < 256 && tbl[cp] >= 0)
                matches++;
        }
    }
    return matches;
}

uint32_t trans_complex(PERLGCB* gcb, SV* sv, uint8_t priv)
{
    const int16_t* tbl = byte_table(gcb);
    if (!tbl)
        fatal_error(gcb, "panic: do_trans_complex");
    bool squash = priv & OPpTRANS_SQUASH;
    uint64_t len = sv_cur(sv);
    uint8_t* s = reinterpret_cast<uint8_t*>(sv_pv(sv));
    uint32_t matches = 0;
    if (!(sv->flags & SVf_UTF8)) {
        uint8_t* d = s;
        // The position of the last byte a translation wrote; none yet.
        uint8_t* last = nullptr;
        for (uint64_t i = 0; i < len; i++) {
            int16_t ch = tbl[s[i]];
            if (ch >= 0) {
                matches++;
                if (squash && last && last == d - 1 && *last == static_cast<uint8_t>(ch))
                    continue;
                *d = static_cast<uint8_t>(ch);
                last = d++;
            } else if (ch == -1) {
                *d++ = s[i];
            } else if (ch == -2) {
                matches++;
            }
        }
        *d = 0;
        sv_cur(sv) = static_cast<uint64_t>(d - s);
    } else {
        trans_out o = out_begin(gcb, s, len, priv, 2);
        const uint8_t* end = s + len;
        uint64_t last = NO_LAST;
        for (const uint8_t* p = s; p < end;) {
            uint64_t cp = 0;
            uint64_t n = char_length(gcb, p, end, &cp);
            uint64_t next = static_cast<uint64_t>(p - s) + n;
            int16_t ch = cp < 256 ? tbl[cp] : -1;
            if (cp > 255) {
                out_char(gcb, &o, cp, next);
                last = NO_LAST;
            } else if (ch >= 0) {
                matches++;
                if (!squash || static_cast<uint64_t>(ch) != last) {
                    out_char(gcb, &o, static_cast<uint64_t>(ch), next);
                    last = squash ? static_cast<uint64_t>(ch) : NO_LAST;
                }
            } else {
                if (ch == -1)
                    out_char(gcb, &o, cp, next);
                else
                    matches++;
                last = NO_LAST;
            }
            p += n;
        }
        out_finish(gcb, &o, sv, true);
        sv->flags |= SVf_UTF8;
    }
    pp_set_magic(gcb, sv);
    return matches;
}

// ---- swashes --------------------------------------------------------------------

struct swash_info {
    SV* swash;       // the reference to the swash's hash
    uint64_t none;   // look-up result of a character outside the search list
    uint64_t extra;  // none + 1: a search character beyond the replacement list
    bool has_final;
    uint64_t final;  // the code point written for the extra value
};

swash_info swash_of(PERLGCB* gcb)
{
    swash_info si{};
    si.swash = reinterpret_cast<SV*>(op_string_pv(gcb->op));
    HV* hv = sv_as<HV>(sv_rv(si.swash));
    SV** none = hv_fetch_str(gcb, hv, "NONE", 4, 0);
    si.none = none ? sv_to_uint(gcb, *none) : DEFAULT_NONE;
    si.extra = si.none + 1;
    SV** final = hv_fetch_str(gcb, hv, "FINAL", 5, 0);
    if (final) {
        si.has_final = true;
        si.final = sv_to_uint(gcb, *final);
    }
    return si;
}

// The text a swash engine reads: the value's own string, or a UTF-8 copy of
// a byte string with bytes above 0x7F (the upgraded case; a pool block).
struct swash_source {
    uint8_t* s;
    uint64_t len;
    bool upgraded;
};

swash_source swash_source_of(PERLGCB* gcb, SV* sv)
{
    swash_source src{reinterpret_cast<uint8_t*>(sv_pv(sv)), sv_cur(sv), false};
    if (!(sv->flags & SVf_UTF8)) {
        bool high = false;
        for (uint64_t i = 0; i < src.len && !high; i++)
            high = src.s[i] & 0x80;
        if (high) {
            int64_t n = static_cast<int64_t>(src.len);
            src.s = utf8_copy_from_bytes(gcb, src.s, &n);
            src.len = static_cast<uint64_t>(n);
            src.upgraded = true;
        }
    }
    return src;
}

// Calls each(p, n, next, uv) for every character of the source: its bytes
// at p, n of them, the read offset after it, and its swash entry.
template <class Each>
void swash_walk(PERLGCB* gcb, const swash_info& si, const swash_source& src, Each&& each)
{
    const uint8_t* end = src.s + src.len;
    for (const uint8_t* p = src.s; p < end;) {
        uint64_t n = skip_length(p, end);
        uint64_t next = static_cast<uint64_t>(p - src.s) + n;
        each(p, n, next, swash_fetch(gcb, si.swash, p));
        p += n;
    }
}

// The end of a swash engine: the output becomes the value's string, the
// value is UTF-8 text, and a value that was not is converted back to bytes
// unless the UTF-8 hint is in force. Set magic comes before the conversion
// (the simple engine) or after it (the complex one).
void swash_finish(PERLGCB* gcb, SV* sv, trans_out* o, swash_source* src, bool was_utf8, bool magic_last)
{
    out_finish(gcb, o, sv, !src->upgraded);
    if (src->upgraded)
        pool_free(gcb, src->s);
    sv->flags |= SVf_UTF8;
    if (!magic_last)
        pp_set_magic(gcb, sv);
    if (!was_utf8 && !(gcb->compile_hints & HINT_UTF8))
        sv_convert_to_bytes(gcb, sv, 1);
    if (magic_last)
        pp_set_magic(gcb, sv);
}

uint32_t trans_simple_utf8(PERLGCB* gcb, SV* sv, uint8_t priv)
{
    swash_info si = swash_of(gcb);
    bool was_utf8 = sv->flags & SVf_UTF8;
    swash_source src = swash_source_of(gcb, sv);
    trans_out o = out_begin(gcb, src.s, src.len, priv, 3);
    uint32_t matches = 0;
    swash_walk(gcb, si, src, [&](const uint8_t* p, uint64_t n, uint64_t next, uint64_t uv) {
        if (uv < si.none) {
            matches++;
            out_char(gcb, &o, uv, next);
        } else if (uv == si.none) {
            out_bytes(gcb, &o, p, n, next);
        } else if (uv == si.extra) {
            matches++;
            if (si.has_final)
                out_char(gcb, &o, si.final, next);
            else
                out_bytes(gcb, &o, p, n, next);
        }
    });
    swash_finish(gcb, sv, &o, &src, was_utf8, false);
    return matches;
}

uint32_t trans_count_utf8(PERLGCB* gcb, SV* sv)
{
    swash_info si = swash_of(gcb);
    swash_source src = swash_source_of(gcb, sv);
    uint32_t matches = 0;
    swash_walk(gcb, si, src, [&](const uint8_t*, uint64_t, uint64_t, uint64_t uv) {
        if (uv < si.none)
            matches++;
    });
    if (src.upgraded)
        pool_free(gcb, src.s);
    return matches;
}

uint32_t trans_complex_utf8(PERLGCB* gcb, SV* sv, uint8_t priv)
{
    swash_info si = swash_of(gcb);
    bool del = priv & OPpTRANS_DELETE;
    bool squash = priv & OPpTRANS_SQUASH;
    bool was_utf8 = sv->flags & SVf_UTF8;
    swash_source src = swash_source_of(gcb, sv);
    trans_out o = out_begin(gcb, src.s, src.len, priv, 3);
    uint32_t matches = 0;
    uint64_t last = NO_LAST;
    swash_walk(gcb, si, src, [&](const uint8_t* p, uint64_t n, uint64_t next, uint64_t uv) {
        if (uv < si.none) {
            matches++;
            if (!squash || uv != last) {
                out_char(gcb, &o, uv, next);
                last = uv;
            }
        } else if (uv == si.none) {
            out_bytes(gcb, &o, p, n, next);
            last = NO_LAST;
        } else if (uv == si.extra && !del) {
            matches++;
            // Without FINAL the character stands for itself.
            uint64_t written = si.has_final ? si.final : NO_LAST;
            if (!squash || !si.has_final || written != last) {
                if (si.has_final)
                    out_char(gcb, &o, si.final, next);
                else
                    out_bytes(gcb, &o, p, n, next);
                last = written;
            }
        } else {
            matches++;
        }
    });
    swash_finish(gcb, sv, &o, &src, was_utf8, true);
    return matches;
}

}  // namespace

uint32_t do_trans_worker(PERLGCB* gcb, SV* sv)
{
    uint8_t priv = gcb->op->op_private;
    if ((sv->flags & SVf_READONLY) && !(priv & OPpTRANS_IDENTICAL))
        fatal_error(gcb, "Modification of a read-only value attempted");
    uint64_t len = 0;
    sv_text(gcb, sv, &len);
    if (len == 0)
        return 0;
    if (!(sv->flags & SVp_POK))
        sv_force_string(gcb, sv, &len);
    if (!(priv & OPpTRANS_IDENTICAL)) {
        sv->flags &= ~(SVf_IOK | SVf_NOK | SVf_ROK | SVp_IOK | SVp_NOK | SVf_OVERLOAD | SVf_IsUV);
        sv->flags |= SVf_POK | SVp_POK;
    }
    bool utf8_tables = priv & (OPpTRANS_FROM_UTF8 | OPpTRANS_TO_UTF8);
    switch (priv & ~(OPpTRANS_FROM_UTF8 | OPpTRANS_TO_UTF8) & 0x3F) {
    case 0:
        return utf8_tables ? trans_simple_utf8(gcb, sv, priv) : trans_simple(gcb, sv, priv);
    case OPpTRANS_IDENTICAL:
        return utf8_tables ? trans_count_utf8(gcb, sv) : trans_count(gcb, sv);
    default:
        return utf8_tables ? trans_complex_utf8(gcb, sv, priv) : trans_complex(gcb, sv, priv);
    }
}

OP* pp_trans(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* sv;
    if (op->op_flags & OPf_STACKED) {
        sv = *sp--;
    } else {
        sv = pp_default_var(gcb);
    }
    pp_put_sp(gcb, sp);
    uint32_t matches = do_trans_worker(gcb, sv);
    SV* result = sv_new_temporary(gcb);
    sv_set_int(gcb, result, matches);
    pp_set_magic(gcb, result);
    sp = pp_extend(gcb, pp_sp(gcb), 1);
    *++sp = result;
    pp_put_sp(gcb, sp);
    return op->op_next;
}
