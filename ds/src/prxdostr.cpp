// String routines behind the ops: join, the formatted print, vec fields,
// chop and chomp, the bitwise string operators, keys and values, and the
// writing of one value by print.
#include <cmath>
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxutf8.h"

namespace {

const char no_modify[] = "Modification of a read-only value attempted";

bool utf8_semantics(PERLGCB* gcb, const SV* sv) { return (sv->flags & SVf_UTF8) && !pp_bytes_hint(gcb); }

// The bit-count test of vec: a power of two from 1 to 64.
void check_vec_bits(PERLGCB* gcb, int32_t bits)
{
    if (bits < 1 || bits > 64 || (bits & (bits - 1)))
        fatal_error(gcb, "Illegal number of bits in vec");
}

void warn_vec_64(PERLGCB* gcb)
{
    if (warn_enabled(gcb, WARN_PORTABLE))
        category_warning(gcb, WARN_PORTABLE, "Bit vector size > 32 non-portable");
}

// The chop and chomp of aggregates: each element of an array (missing
// elements and the immortal undef skipped), each value of a hash.
template <class Fn>
bool each_aggregate_value(PERLGCB* gcb, SV* sv, Fn fn)
{
    if (sv_type(sv) == SVt_PVAV) {
        AV* av = sv_as<AV>(sv);
        int32_t max = av_highest_index(gcb, av);
        for (int32_t i = 0; i <= max; i++) {
            SV** slot = av_fetch_element(gcb, av, i, 0);
            if (slot && *slot && *slot != &gcb->sv_undef)
                fn(*slot);
        }
        return true;
    }
    if (sv_type(sv) == SVt_PVHV) {
        HV* hv = sv_as<HV>(sv);
        hv_iter_start(gcb, hv);
        while (hash_entry* he = hv_iter_advance(gcb, hv))
            fn(hv_entry_value(gcb, hv, he));
        return true;
    }
    return false;
}

// The stream shows no error after a write.
int32_t stream_ok(PrxStream stream) { return prx_ferror(stream) == 0; }

// Writes bytes; false when nothing could be written.
bool write_bytes(const char* p, uint64_t len, PrxStream stream)
{
    return prx_fwrite(p, 1, static_cast<uint32_t>(len), stream) != 0;
}

// Decodes one character of a string bit operation; a malformed one is fatal.
uint64_t decode_char(PERLGCB* gcb, const uint8_t* s, uint64_t len, int64_t* clen)
{
    uint64_t c = utf8_decode(gcb, s, len, clen, UTF8_ALLOW_ANY);
    if (*clen <= 0)
        fatal_error(gcb, "Malformed UTF-8 character");
    return c;
}

}  // namespace

// ---- join and the formatted print --------------------------------------------

void do_join_list(PERLGCB* gcb, SV* targ, SV* sep, SV** first, SV** last)
{
    // The target is emptied before the separator is read again.
    if (sep == targ)
        sep = sv_new_temporary_copy(gcb, sep);
    uint64_t seplen = 0;
    sv_text(gcb, sep, &seplen);
    int64_t items = last - first;
    uint64_t estimate = items > 1 ? seplen * static_cast<uint64_t>(items - 1) : 0;
    if (sv_type(targ) < SVt_PV)
        sv_upgrade_body(gcb, targ, SVt_PV);
    if (sv_len(targ) < estimate + static_cast<uint64_t>(items)) {
        uint64_t total = estimate;
        for (SV** p = first + 1; p <= last; p++) {
            SV* item = *p;
            if (item && !(item->flags & (SVs_GMG | SVf_OVERLOAD)) && sv_ok(item)) {
                uint64_t n = 0;
                sv_text(gcb, item, &n);
                total += n;
            }
        }
        sv_grow_buffer(gcb, targ, total + 1);
    }
    sv_set_bytes(gcb, targ, "", 0);
    SV** p = first + 1;
    if (p <= last) {
        if (*p)
            sv_append_sv(gcb, targ, *p);
        for (p++; p <= last; p++) {
            if (seplen)
                sv_append_sv(gcb, targ, sep);
            if (*p)
                sv_append_sv(gcb, targ, *p);
        }
    }
    pp_set_magic(gcb, targ);
}

// The formatter never reports taint (no conversion here depends on the
// locale), so the target is never marked for it.
void do_format_list(PERLGCB* gcb, SV* targ, int32_t count, SV** values)
{
    sv_format_values(gcb, targ, values[0], values + 1, count - 1);
    pp_set_magic(gcb, targ);
}

// ---- vec ----------------------------------------------------------------------

uint64_t do_vec_read(PERLGCB* gcb, SV* sv, int32_t offset, int32_t bits)
{
    uint64_t srclen = 0;
    sv_text(gcb, sv, &srclen);
    if (offset < 0)
        return 0;
    check_vec_bits(gcb, bits);
    if (sv->flags & SVf_UTF8)
        sv_convert_to_bytes(gcb, sv, 1);
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &srclen));
    uint64_t bitoffs = static_cast<uint64_t>(offset) * static_cast<uint64_t>(bits);
    uint64_t needed = (bitoffs + static_cast<uint64_t>(bits) + 7) / 8;
    uint64_t bytes = static_cast<uint64_t>(bits) / 8;
    uint64_t at = bitoffs / 8;
    if (bits == 64)
        warn_vec_64(gcb);
    if (bits < 8) {
        if (needed > srclen)
            return 0;
        return (s[at] >> (bitoffs & 7)) & ((1u << bits) - 1);
    }
    // Big-endian; bytes past the end count as 0 in their places.
    uint64_t v = 0;
    if (needed > srclen && bits == 8)
        return 0;
    for (uint64_t i = 0; i < bytes; i++)
        v = (v << 8) | (at + i < srclen ? s[at + i] : 0);
    return v;
}

void do_vec_write(PERLGCB* gcb, SV* sv)
{
    PVLV* lv = static_cast<PVLV*>(sv->any);
    SV* targ = lv->targ;
    if (!targ)
        return;
    uint64_t len = 0;
    sv_force_string(gcb, targ, &len);
    if (targ->flags & SVf_UTF8) {
        sv_convert_to_bytes(gcb, targ, 1);
        len = sv_cur(targ);
    }
    targ->flags &= ~(SVf_IOK | SVf_NOK | SVp_IOK | SVp_NOK | SVf_ROK | SVf_OVERLOAD | SVf_IsUV | SVf_UTF8);
    uint64_t value = pp_uint(gcb, sv);
    int32_t offset = static_cast<int32_t>(lv->targoff);
    int32_t bits = static_cast<int32_t>(lv->targlen);
    if (offset < 0)
        fatal_error(gcb, "Assigning to negative offset in vec");
    check_vec_bits(gcb, bits);
    uint64_t bitoffs = static_cast<uint64_t>(offset) * static_cast<uint64_t>(bits);
    uint64_t needed = (bitoffs + static_cast<uint64_t>(bits) + 7) / 8;
    if (len < needed) {
        char* pv = sv_grow_buffer(gcb, targ, sv_growth_size(targ, needed + 1));
        std::memset(pv + len, 0, needed + 1 - len);
        sv_cur(targ) = needed;
    }
    uint8_t* s = reinterpret_cast<uint8_t*>(sv_pv(targ));
    uint64_t at = bitoffs / 8;
    if (bits < 8) {
        uint32_t mask = (1u << bits) - 1;
        uint32_t shift = static_cast<uint32_t>(bitoffs & 7);
        s[at] = static_cast<uint8_t>((s[at] & ~(mask << shift)) | ((value & mask) << shift));
    } else {
        uint64_t bytes = static_cast<uint64_t>(bits) / 8;
        for (uint64_t i = bytes; i > 0; i--, value >>= 8)
            s[at + i - 1] = static_cast<uint8_t>(value);
        if (bits == 64)
            warn_vec_64(gcb);
    }
    pp_set_magic(gcb, targ);
}

// ---- chop and chomp -------------------------------------------------------------

void do_chop_value(PERLGCB* gcb, SV* receiver, SV* sv)
{
    if (each_aggregate_value(gcb, sv, [&](SV* elem) { do_chop_value(gcb, receiver, elem); }))
        return;
    if (sv->flags & SVf_READONLY)
        fatal_error(gcb, no_modify);
    uint64_t len = 0;
    char* s = sv_text(gcb, sv, &len);
    if (len && !(sv->flags & SVf_POK))
        s = sv_force_string(gcb, sv, &len);
    if (!len) {
        sv_set_bytes(gcb, receiver, "", 0);
    } else if (utf8_semantics(gcb, sv)) {
        char* p = s + len - 1;
        while (p > s && (static_cast<uint8_t>(*p) & 0xC0) == 0x80)
            p--;
        int64_t clen = 0;
        // A character that does not decode (or a NUL) is left in place.
        if (utf8_decode_simple(gcb, reinterpret_cast<const uint8_t*>(p), &clen) != 0) {
            sv_set_bytes(gcb, receiver, p, static_cast<uint64_t>(s + len - p));
            receiver->flags |= SVf_UTF8;
            *p = 0;
            sv_cur(sv) = static_cast<uint64_t>(p - s);
            sv->flags &= ~(SVf_IOK | SVf_NOK | SVp_IOK | SVp_NOK | SVf_IsUV);
        }
    } else {
        sv_set_bytes(gcb, receiver, s + len - 1, 1);
        s[len - 1] = 0;
        sv_cur(sv) = len - 1;
        sv->flags &= ~(SVf_IOK | SVf_NOK | SVp_IOK | SVp_NOK | SVf_IsUV | SVf_UTF8);
    }
    pp_set_magic(gcb, sv);
}

int32_t do_chomp_value(PERLGCB* gcb, SV* sv)
{
    SV* rs = gcb->rs;
    if (!rs || !sv_ok(rs))
        return 0;
    if ((rs->flags & SVf_ROK) && pp_int(gcb, sv_rv(rs)) > 0)
        return 0;
    int32_t count = 0;
    if (each_aggregate_value(gcb, sv, [&](SV* elem) { count += do_chomp_value(gcb, elem); }))
        return count;
    if (sv->flags & SVf_READONLY)
        fatal_error(gcb, no_modify);
    uint64_t len = 0;
    char* s = sv_text(gcb, sv, &len);
    if (len && !(sv->flags & SVp_POK))
        s = sv_force_string(gcb, sv, &len);
    if (len) {
        uint64_t rslen = 0;
        const char* rsp = sv_text(gcb, rs, &rslen);
        uint64_t cut = 0;
        if ((rs->flags & SVf_POK) && rslen == 0) {
            while (cut < len && s[len - 1 - cut] == '\n')
                cut++;
        } else if (rslen == 1) {
            if (s[len - 1] == rsp[0])
                cut = 1;
        } else if (len >= rslen &&
                   xk_padcmp(s + len - rslen, static_cast<int32_t>(rslen), rsp, static_cast<int32_t>(rslen), ' ') == 0) {
            cut = rslen;
        }
        if (cut) {
            sv_cur(sv) = len - cut;
            s[len - cut] = 0;
            sv->flags &= ~(SVf_IOK | SVf_NOK | SVp_IOK | SVp_NOK | SVf_IsUV);
            count = static_cast<int32_t>(cut);
        }
    }
    pp_set_magic(gcb, sv);
    return count;
}

// ---- bitwise string operators -------------------------------------------------------

void do_string_bitop(PERLGCB* gcb, int32_t optype, SV* targ, SV* left, SV* right)
{
    bool is_and = optype == OP_BIT_AND;
    bool lu = utf8_semantics(gcb, left);
    bool ru = utf8_semantics(gcb, right);
    if (lu != ru) {
        sv_convert_to_utf8(gcb, lu ? right : left);
        lu = ru = true;
    }
    bool utf = lu;
    // A target that is only the right operand would lose it when emptied.
    if (targ == right && targ != left)
        right = sv_new_temporary_copy(gcb, right);
    if (targ != left || (!is_and && !sv_ok(targ) && !(targ->flags & SVs_GMG)))
        sv_set_bytes(gcb, targ, "", 0);
    uint64_t llen = 0, rlen = 0;
    sv_text(gcb, left, &llen);
    sv_text(gcb, right, &rlen);
    uint64_t len = llen < rlen ? llen : rlen;

    // The destination: a new block, or the target's own buffer.
    char* block = nullptr;
    char* dc;
    if (utf && (targ == left || targ == right)) {
        uint64_t need = (is_and ? len : llen + rlen) + 1;
        block = static_cast<char*>(pool_malloc(gcb, need));
        std::memset(block, 0, need);
        dc = block;
    } else if (sv_ok(targ) || sv_type(targ) > SVt_PVMG) {
        uint64_t cur = 0;
        dc = sv_force_string(gcb, targ, &cur);
        if (cur < len) {
            dc = sv_grow_buffer(gcb, targ, len + 1);
            std::memset(dc + cur, 0, len - cur + 1);
        }
        if (!is_and && utf)
            dc = sv_grow_buffer(gcb, targ, llen + rlen + 1);
    } else {
        uint64_t need = is_and ? len : (llen > rlen ? llen : rlen);
        char* fresh = static_cast<char*>(pool_malloc(gcb, need + 1));
        std::memset(fresh, 0, need + 1);
        sv_adopt_buffer(gcb, targ, fresh, need);
        dc = sv_pv(targ);
    }
    // The operands' texts again: forcing the target may have moved its own.
    const uint8_t* lc = reinterpret_cast<const uint8_t*>(sv_text(gcb, left, &llen));
    const uint8_t* rc = reinterpret_cast<const uint8_t*>(sv_text(gcb, right, &rlen));
    if (!block) {
        sv_cur(targ) = len;
        targ->flags = (targ->flags & ~SV_VALUE_FLAGS) | SVf_POK | SVp_POK;
    }

    if (utf) {
        uint8_t* d = reinterpret_cast<uint8_t*>(dc);
        uint64_t lrest = llen, rrest = rlen;
        while (lrest && rrest) {
            int64_t lcl = 0, rcl = 0;
            uint64_t a = decode_char(gcb, lc, lrest, &lcl);
            uint64_t b = decode_char(gcb, rc, rrest, &rcl);
            lc += lcl;
            lrest -= static_cast<uint64_t>(lcl);
            rc += rcl;
            rrest -= static_cast<uint64_t>(rcl);
            uint64_t v = is_and ? (a & b) : optype == OP_BIT_XOR ? (a ^ b) : (a | b);
            d = utf8_encode(gcb, d, v);
        }
        if (!is_and) {
            const uint8_t* rest = rrest ? rc : lc;
            uint64_t n = rrest ? rrest : lrest;
            std::memmove(d, rest, n);
            d += n;
        }
        uint64_t total = static_cast<uint64_t>(d - reinterpret_cast<uint8_t*>(dc));
        if (block) {
            sv_adopt_buffer(gcb, targ, block, total);
        } else {
            sv_cur(targ) = total;
            sv_pv(targ)[total] = 0;
        }
        targ->flags |= SVf_UTF8;
    } else {
        uint8_t* d = reinterpret_cast<uint8_t*>(dc);
        for (uint64_t i = 0; i < len; i++)
            d[i] = static_cast<uint8_t>(is_and ? (lc[i] & rc[i]) : optype == OP_BIT_XOR ? (lc[i] ^ rc[i]) : (lc[i] | rc[i]));
        if (is_and || llen == rlen) {
            d[len] = 0;
        } else if (rlen > len) {
            sv_append_bytes(gcb, targ, reinterpret_cast<const char*>(rc + len), rlen - len);
        } else if (targ == left) {
            // The rest of the left operand is the target's own, in place.
            sv_cur(targ) = llen;
        } else {
            sv_append_bytes(gcb, targ, reinterpret_cast<const char*>(lc + len), llen - len);
        }
    }
    if (gcb->tainting && gcb->tainted)
        sv_mark_tainted(gcb, targ);
}

// ---- keys and values -----------------------------------------------------------------

OP* do_keys_values(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* top = *sp--;
    SV* container = top && (sv_type(top) == SVt_PVHV || sv_type(top) == SVt_PVAV) ? top : nullptr;
    uint8_t gimme = pp_context(gcb, op);
    uint32_t type = op->op_type;
    bool dokeys = type != OP_VALUES;
    bool dovalues = type != OP_KEYS;
    bool lvalue = pp_lvalue_use(gcb, op);
    SV* targ = pp_pad_target(gcb, op);
    if (!container) {
        if (lvalue) {
            if (sv_type(targ) == SVt_PVLV) {
                PVLV* lv = static_cast<PVLV*>(targ->any);
                SV* old = lv->targ;
                lv->targ = nullptr;
                sv_release(gcb, old);
            }
            sp = pp_extend(gcb, sp, 1);
            *++sp = targ;
        }
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    bool pseudo = sv_type(container) == SVt_PVAV;
    HV* keys = pseudo ? pseudohash_field_map(gcb, sv_as<AV>(container)) : sv_as<HV>(container);
    hv_iter_start(gcb, keys);
    if (gimme == CTX_VOID) {
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    if (gimme == CTX_SCALAR) {
        if (lvalue) {
            if (sv_type(targ) < SVt_PVLV) {
                sv_upgrade_body(gcb, targ, SVt_PVLV);
                sv_add_magic(gcb, targ, nullptr, 'k', nullptr, 0);
            }
            PVLV* lv = static_cast<PVLV*>(targ->any);
            lv->type = 'k';
            if (lv->targ != as_sv(keys)) {
                SV* old = lv->targ;
                lv->targ = sv_refinc(as_sv(keys));
                sv_release(gcb, old);
            }
        } else {
            int64_t n = 0;
            if ((keys->flags & SVs_RMG) && mg_find_by_type(gcb, as_sv(keys), 'P')) {
                while (hv_iter_advance(gcb, keys))
                    n++;
            } else {
                n = hv_body(keys)->keys;
            }
            sv_set_int(gcb, targ, n);
            pp_set_magic(gcb, targ);
        }
        sp = pp_extend(gcb, sp, 1);
        *++sp = targ;
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    int64_t want = hv_body(keys)->keys * ((dokeys ? 1 : 0) + (dovalues ? 1 : 0));
    sp = pp_extend(gcb, sp, static_cast<int32_t>(want < INT32_MAX ? want : INT32_MAX));
    while (hash_entry* he = hv_iter_advance(gcb, keys)) {
        pp_put_sp(gcb, sp);
        if (dokeys) {
            SV* k = hv_entry_key_sv(gcb, he);
            sp = pp_extend(gcb, pp_sp(gcb), 1);
            *++sp = k;
            pp_put_sp(gcb, sp);
        }
        if (dovalues) {
            SV* v = pseudo ? pseudohash_entry_value(gcb, sv_as<AV>(container), he) : hv_entry_value(gcb, keys, he);
            sp = pp_extend(gcb, pp_sp(gcb), 1);
            *++sp = v;
        }
    }
    pp_put_sp(gcb, sp);
    return op->op_next;
}

// ---- print --------------------------------------------------------------------------

int32_t do_print_value(PERLGCB* gcb, SV* sv, PrxStream stream)
{
    if (!sv)
        return 1;
    if (gcb->number_format) {
        pp_get_magic(gcb, sv);
        double v = 0.0;
        bool formatted = false;
        if ((sv->flags & SVf_IOK) && sv_iv(sv) != 0) {
            v = (sv->flags & SVf_IsUV) ? static_cast<double>(sv_uv(sv)) : static_cast<double>(sv_iv(sv));
            formatted = true;
        } else if ((sv->flags & SVf_NOK) && (sv_nv(sv) != 0.0 || std::isnan(sv_nv(sv)))) {
            v = sv_nv(sv);
            formatted = true;
        } else if (!(sv->flags & (SVf_IOK | SVf_NOK)) && sv_ok(sv) && sv_number_class(gcb, sv)) {
            v = sv_to_double(gcb, sv);
            formatted = v != 0.0 || std::isnan(v);
        }
        if (formatted) {
            prx_fprintf(stream, gcb->number_format, v);
            return stream_ok(stream);
        }
    }
    uint32_t type = sv_type(sv);
    if (type == SVt_NULL) {
        if (warn_enabled(gcb, WARN_UNINITIALIZED))
            warn_uninitialized(gcb);
        return 1;
    }
    if (type == SVt_IV && (sv->flags & SVf_IOK)) {
        pp_get_magic(gcb, sv);
        // The decimal digits of the full 64-bit value.
        char buf[24];
        char* end = buf + sizeof buf;
        char* p = end;
        bool neg = !(sv->flags & SVf_IsUV) && sv_iv(sv) < 0;
        uint64_t mag = neg ? 0 - sv_uv(sv) : sv_uv(sv);
        do {
            *--p = static_cast<char>('0' + mag % 10);
            mag /= 10;
        } while (mag);
        if (neg)
            *--p = '-';
        if (!write_bytes(p, static_cast<uint64_t>(end - p), stream))
            return 0;
        return stream_ok(stream);
    }
    uint64_t len = 0;
    const char* s = sv_text(gcb, sv, &len);
    if (len && !write_bytes(s, len, stream))
        return 0;
    return stream_ok(stream);
}
