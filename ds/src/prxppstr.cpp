// The string built-ins: length, substr, vec, index, rindex, sprintf, ord,
// chr, crypt, ucfirst, lcfirst, uc, lc and quotemeta. Positions count
// characters in UTF-8 mode and bytes otherwise.
#include "prxio.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxsearch.h"
#include "prxuni.h"
#include "prxutf8.h"

namespace {

// The number of operands the op was compiled with (at most 4 here, so the
// bit 0x08 an lvalue-sub return shares the byte with stays out).
inline int32_t op_arg_count(const OP* op) { return op->op_private & 7; }

// Private bit of the case ops: locale in force when the op was built.
constexpr uint8_t OPpLOCALE = 0x40;

inline int64_t int_value(PERLGCB* gcb, SV* sv)
{
    return (sv->flags & SVf_IOK) && !(sv->flags & SVf_IsUV) ? sv_iv(sv) : sv_to_int(gcb, sv);
}

// A position operand in the 32-bit range the string ops compute in.
inline int32_t position_value(PERLGCB* gcb, SV* sv)
{
    int64_t v = int_value(gcb, sv);
    return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v));
}

inline int32_t clamp_length(uint64_t n) { return n > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(n); }

// Whether the op is used as an lvalue: a modifying context, or the return
// of a sub called as an lvalue sub.
bool lvalue_use(PERLGCB* gcb, const OP* op)
{
    return (op->op_flags & OPf_MOD) || ((op->op_private & OPpMAYBE_LVSUB) && cx_lvalue_sub(gcb));
}

// Makes the target an lvalue of kind ('x' substr, 'v' vec) that stands for
// (offset, length) of the value; the target holds one reference of it.
void make_lvalue(PERLGCB* gcb, SV* targ, char kind, SV* of, int64_t offset, int64_t length)
{
    if (sv_type(targ) < SVt_PVLV) {
        sv_upgrade_body(gcb, targ, SVt_PVLV);
        sv_add_magic(gcb, targ, nullptr, kind, nullptr, 0);
    }
    PVLV* lv = static_cast<PVLV*>(targ->any);
    lv->type = kind;
    if (lv->targ != of) {
        SV* old = lv->targ;
        lv->targ = sv_refinc(of);
        sv_release(gcb, old);
    }
    lv->targoff = static_cast<uint64_t>(offset);
    lv->targlen = static_cast<uint64_t>(length);
}

// A target's taint and UTF-8 flag cleared before it is set.
void fresh_target(PERLGCB* gcb, SV* targ)
{
    if (gcb->tainting)
        sv_clear_taint(gcb, targ);
    targ->flags &= ~SVf_UTF8;
}

// Keeps only the string of a value, with its UTF-8 flag.
void string_only_keep_utf8(SV* sv)
{
    sv->flags &= ~(SVf_IOK | SVf_NOK | SVp_IOK | SVp_NOK | SVf_ROK | SVf_IsUV | SVf_OVERLOAD);
    sv->flags |= SVf_POK | SVp_POK;
}

inline uint8_t host_upper(uint8_t c) { return g_host_vector->upper[c]; }
inline uint8_t host_lower(uint8_t c) { return g_host_vector->lower[c]; }

// The locale marking of the case ops: the statement becomes tainted, and the
// value too when taint checks are on.
void locale_taint(PERLGCB* gcb, SV* sv)
{
    gcb->tainted = 1;
    if (gcb->tainting)
        sv_mark_tainted(gcb, sv);
}

// The value a case op works on in place: the operand itself when it is a
// pad temporary that may be written, else the target holding a copy of it
// (which then replaces the operand). Either way a plain string.
SV* case_subject(PERLGCB* gcb, OP* op, uint8_t** s, uint64_t* len)
{
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    if (!(sv->flags & SVs_PADTMP) || (sv->flags & SVf_READONLY)) {
        SV* targ = pp_pad_target(gcb, op);
        targ->flags &= ~SVf_UTF8;
        sv_assign(gcb, targ, sv);
        sv = targ;
        *pp_sp(gcb) = targ;
    }
    *s = reinterpret_cast<uint8_t*>(sv_force_string(gcb, sv, len));
    return sv;
}

// ucfirst and lcfirst: upper maps the first character to title case.
OP* first_case(PERLGCB* gcb, bool upper)
{
    OP* op = gcb->op;
    SV* sv = *pp_sp(gcb);
    bool locale = op->op_private & OPpLOCALE;
    uint64_t len = 0;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
    if (pp_utf8_mode(gcb, sv) && len && s[0] >= 0xC0 && s[0] <= 0xFD) {
        int64_t ulen = 0;
        uint64_t cp = utf8_decode(gcb, s, len, &ulen, 0);
        uint64_t mapped;
        if (locale) {
            locale_taint(gcb, sv);
            if (cp < 256)
                mapped = upper ? host_upper(static_cast<uint8_t>(cp)) : host_lower(static_cast<uint8_t>(cp));
            else
                mapped = upper ? uni_to_title(gcb, static_cast<uint32_t>(cp)) : uni_to_lower(gcb, static_cast<uint32_t>(cp));
        } else {
            mapped = upper ? utf8_to_title(gcb, s) : utf8_to_lower(gcb, s);
        }
        uint8_t buf[14];
        uint64_t tculen = static_cast<uint64_t>(utf8_encode(gcb, buf, mapped) - buf);
        uint64_t old = ulen <= 0 ? 1 : (static_cast<uint64_t>(ulen) > len ? len : static_cast<uint64_t>(ulen));
        // The source may have moved while the character was mapped.
        s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
        if (!(sv->flags & SVs_PADTMP) || tculen != old || (sv->flags & SVf_READONLY)) {
            SV* targ = pp_pad_target(gcb, op);
            if (targ == sv) {
                SV* copy = sv_make_temporary(gcb, sv_new_copy(gcb, sv));
                s = reinterpret_cast<const uint8_t*>(sv_text(gcb, copy, &len));
            }
            sv_set_bytes(gcb, targ, reinterpret_cast<const char*>(buf), tculen);
            sv_append_bytes(gcb, targ, reinterpret_cast<const char*>(s) + old, len - old);
            targ->flags |= SVf_UTF8;
            *pp_sp(gcb) = targ;
            sv = targ;
        } else {
            uint8_t* d = reinterpret_cast<uint8_t*>(sv_force_string(gcb, sv, &len));
            xk_copy(buf, d, static_cast<int32_t>(tculen));
        }
    } else {
        uint8_t* d = nullptr;
        sv = case_subject(gcb, op, &d, &len);
        if (len && *d) {
            if (locale)
                locale_taint(gcb, sv);
            *d = upper ? host_upper(*d) : host_lower(*d);
        }
    }
    pp_set_magic(gcb, sv);
    return op->op_next;
}

// uc and lc.
OP* whole_case(PERLGCB* gcb, bool upper)
{
    OP* op = gcb->op;
    SV* sv = *pp_sp(gcb);
    bool locale = op->op_private & OPpLOCALE;
    if (pp_utf8_mode(gcb, sv)) {
        SV* targ = pp_pad_target(gcb, op);
        uint64_t len = 0;
        sv_text(gcb, sv, &len);
        if (!len) {
            sv_set_bytes(gcb, targ, "", 0);
        } else {
            // The source is read from a copy when it is the target itself.
            SV* src = sv;
            if (targ == sv)
                src = sv_make_temporary(gcb, sv_new_copy(gcb, sv));
            if (locale)
                locale_taint(gcb, targ);
            uint64_t size = 2 * len + 1;
            uint64_t at = 0;
            sv_set_bytes(gcb, targ, "", 0);
            sv_grow_buffer(gcb, targ, size);
            for (uint64_t pos = 0; pos < len;) {
                const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, src, &len)) + pos;
                int64_t ulen = 0;
                uint64_t mapped;
                if (locale) {
                    uint64_t cp = utf8_decode(gcb, s, len - pos, &ulen, 0);
                    if (cp < 256)
                        mapped = upper ? host_upper(static_cast<uint8_t>(cp)) : host_lower(static_cast<uint8_t>(cp));
                    else
                        mapped = upper ? uni_to_upper(gcb, static_cast<uint32_t>(cp))
                                       : uni_to_lower(gcb, static_cast<uint32_t>(cp));
                } else {
                    utf8_decode(gcb, s, len - pos, &ulen, 0);
                    mapped = upper ? utf8_to_upper(gcb, s) : utf8_to_lower(gcb, s);
                }
                pos += ulen <= 0 ? 1 : (static_cast<uint64_t>(ulen) > len - pos ? len - pos : static_cast<uint64_t>(ulen));
                // A mapped character may be longer than its source: keep room
                // for the longest encoding.
                if (at + 13 + 1 > size) {
                    size = at + 13 + 1 + (len - pos) * 2;
                    sv_grow_buffer(gcb, targ, size);
                }
                uint8_t* d = reinterpret_cast<uint8_t*>(sv_pv(targ)) + at;
                at += static_cast<uint64_t>(utf8_encode(gcb, d, mapped) - d);
            }
            sv_pv(targ)[at] = 0;
            sv_cur(targ) = at;
            targ->flags |= SVf_UTF8;
        }
        *pp_sp(gcb) = targ;
        sv = targ;
    } else {
        uint8_t* d = nullptr;
        uint64_t len = 0;
        sv = case_subject(gcb, op, &d, &len);
        if (len) {
            if (locale)
                locale_taint(gcb, sv);
            for (uint64_t i = 0; i < len; i++)
                d[i] = upper ? host_upper(d[i]) : host_lower(d[i]);
        }
    }
    pp_set_magic(gcb, sv);
    return op->op_next;
}

}  // namespace

OP* pp_length(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* sv = *pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    uint64_t n = pp_utf8_mode(gcb, sv) ? sv_char_length(gcb, sv) : sv_byte_length(gcb, sv);
    sv_set_int(gcb, targ, static_cast<int64_t>(n));
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

OP* pp_substr(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* targ = pp_pad_target(gcb, op);
    bool lvalue = lvalue_use(gcb, op);
    int32_t nargs = op_arg_count(op);
    fresh_target(gcb, targ);

    SV** sp = pp_sp(gcb);
    SV* repl_sv = nullptr;
    int32_t len = 0;
    if (nargs > 3)
        repl_sv = *sp--;
    if (nargs > 2)
        len = position_value(gcb, *sp--);
    int32_t pos = position_value(gcb, *sp--);
    SV* sv = *sp;
    pp_put_sp(gcb, sp - 1);

    const char* repl = nullptr;
    uint64_t repl_len = 0;
    bool repl_utf8 = false;
    SV* repl_copy = nullptr;
    if (repl_sv) {
        repl = sv_text(gcb, repl_sv, &repl_len);
        repl_utf8 = pp_utf8_mode(gcb, repl_sv) && repl_len;
        if (repl_utf8 && !pp_utf8_mode(gcb, sv)) {
            sv_convert_to_utf8(gcb, sv);
        } else if (pp_utf8_mode(gcb, sv) && !repl_utf8) {
            repl_copy = sv_new_copy(gcb, repl_sv);
            sv_convert_to_utf8(gcb, repl_copy);
            repl = sv_text(gcb, repl_copy, &repl_len);
        }
    }

    bool utf8 = pp_utf8_mode(gcb, sv);
    uint64_t bytes = 0;
    const char* tmps = sv_text(gcb, sv, &bytes);
    int64_t cur = clamp_length(utf8 ? sv_char_length(gcb, sv) : bytes);
    int64_t base = pp_array_base(gcb);
    int64_t p = pos, rem, fail;
    if (p >= base) {
        p -= base;
        rem = cur - p;
        fail = rem;
        if (nargs > 2) {
            if (len < 0) {
                rem += len;
                if (rem < 0)
                    rem = 0;
            } else if (rem > len) {
                rem = len;
            }
        }
    } else {
        p += cur;
        if (nargs < 3)
            rem = cur;
        else if (len >= 0)
            rem = p + len > cur ? cur : p + len;
        else
            rem = cur + len < p ? p : cur + len;
        if (p < 0)
            p = 0;
        fail = rem;
        rem -= p;
    }

    if (fail < 0) {
        sv_release(gcb, repl_copy);
        if (lvalue || repl_sv)
            fatal_error(gcb, "substr outside of string");
        if (warn_enabled(gcb, WARN_SUBSTR))
            category_warning(gcb, WARN_SUBSTR, "substr outside of string");
        pp_push_one(gcb, pp_sp(gcb), &gcb->sv_undef);
        return op->op_next;
    }

    int32_t boff = static_cast<int32_t>(p), blen = static_cast<int32_t>(rem);
    if (utf8)
        sv_pos_char_to_byte(gcb, sv, &boff, &blen);
    tmps = sv_text(gcb, sv, &bytes);
    sv_set_bytes(gcb, targ, tmps + boff, static_cast<uint64_t>(blen));
    if (utf8)
        targ->flags |= SVf_UTF8;
    if (repl_sv) {
        sv_insert(gcb, sv, static_cast<uint64_t>(boff), static_cast<uint64_t>(blen), repl, repl_len);
    } else if (lvalue) {
        if (!(sv->flags & SVs_GMG)) {
            if (sv->flags & SVf_ROK) {
                uint64_t n = 0;
                sv_force_string(gcb, sv, &n);
                if (warn_enabled(gcb, WARN_SUBSTR))
                    category_warning(gcb, WARN_SUBSTR, "Attempt to use reference as lvalue in substr");
            }
            if (sv_ok(sv))
                string_only_keep_utf8(sv);
            else
                sv_set_bytes(gcb, sv, "", 0);
        }
        // The lvalue keeps character positions: its magic converts them
        // to bytes whenever it reads or writes a UTF-8 string.
        make_lvalue(gcb, targ, 'x', sv, p, rem);
    }
    sv_release(gcb, repl_copy);
    pp_push_one(gcb, pp_sp(gcb), targ);
    return op->op_next;
}

OP* pp_vec(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* targ = pp_pad_target(gcb, op);
    bool lvalue = lvalue_use(gcb, op);
    SV** sp = pp_sp(gcb);
    int32_t bits = position_value(gcb, sp[0]);
    int32_t offset = position_value(gcb, sp[-1]);
    SV* src = sp[-2];
    pp_put_sp(gcb, sp - 3);
    if (gcb->tainting)
        sv_clear_taint(gcb, targ);
    if (lvalue)
        make_lvalue(gcb, targ, 'v', src, offset, bits);
    sv_set_uint(gcb, targ, do_vec_read(gcb, src, offset, bits));
    pp_push_one(gcb, pp_sp(gcb), targ);
    return op->op_next;
}

namespace {

// The result of index and rindex: the found place in big's text (null for
// none, giving -1) as a character position when big is UTF-8, plus the
// array base, set in the target and pushed.
OP* push_position(PERLGCB* gcb, OP* op, SV* targ, SV* big, const char* text, const char* found, bool utf8,
                  int32_t base)
{
    int32_t result = found ? clamp_length(static_cast<uint64_t>(found - text)) : -1;
    if (result > 0 && utf8)
        sv_pos_b2u(gcb, big, &result);
    sv_set_int(gcb, targ, static_cast<int64_t>(result) + base);
    pp_set_magic(gcb, targ);
    pp_push_one(gcb, pp_sp(gcb), targ);
    return op->op_next;
}

}  // namespace

OP* pp_index(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* targ = pp_pad_target(gcb, op);
    SV** sp = pp_sp(gcb);
    int32_t base = pp_array_base(gcb);
    int64_t offset = 0;
    if (op_arg_count(op) >= 3)
        offset = static_cast<int64_t>(position_value(gcb, *sp--)) - base;
    SV* little = *sp--;
    SV* big = *sp;
    pp_put_sp(gcb, sp - 1);
    uint64_t biglen = 0;
    char* tmps = sv_text(gcb, big, &biglen);
    bool utf8 = pp_utf8_mode(gcb, big);
    if (offset > 0 && utf8) {
        int32_t o = clamp_length(static_cast<uint64_t>(offset));
        sv_pos_char_to_byte(gcb, big, &o, nullptr);
        offset = o;
    }
    if (offset < 0)
        offset = 0;
    else if (static_cast<uint64_t>(offset) > biglen)
        offset = static_cast<int64_t>(biglen);
    char* found = boyer_moore_search(gcb, tmps + offset, tmps + biglen, little, 0);
    return push_position(gcb, op, targ, big, tmps, found, utf8, base);
}

OP* pp_rindex(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* targ = pp_pad_target(gcb, op);
    SV** sp = pp_sp(gcb);
    int32_t base = pp_array_base(gcb);
    bool has_pos = op_arg_count(op) >= 3;
    int64_t pos = has_pos ? position_value(gcb, *sp--) : 0;
    SV* little = *sp--;
    SV* big = *sp;
    pp_put_sp(gcb, sp - 1);
    uint64_t llen = 0, blen = 0;
    const char* ltext = sv_text(gcb, little, &llen);
    const char* tmps = sv_text(gcb, big, &blen);
    bool utf8 = pp_utf8_mode(gcb, big);
    int64_t end;
    if (!has_pos) {
        end = static_cast<int64_t>(blen);
    } else {
        if (pos > 0 && utf8) {
            int32_t o = static_cast<int32_t>(pos);
            sv_pos_char_to_byte(gcb, big, &o, nullptr);
            pos = o;
        }
        end = pos - base + static_cast<int64_t>(llen);
    }
    if (end < 0)
        end = 0;
    else if (static_cast<uint64_t>(end) > blen)
        end = static_cast<int64_t>(blen);
    const char* found = mem_find_last(gcb, tmps, tmps + end, ltext, ltext + llen);
    return push_position(gcb, op, targ, big, tmps, found, utf8, base);
}

OP* pp_sprintf(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* targ = pp_pad_target(gcb, op);
    int32_t mark = pop_mark(gcb);
    int32_t count = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base) - mark;
    do_format_list(gcb, targ, count, gcb->arg_base + mark + 1);
    if (gcb->tainting && sv_is_tainted(gcb, targ))
        gcb->tainted = 1;
    SV** sp = gcb->arg_base + mark;
    pp_set_magic(gcb, targ);
    *++sp = targ;
    pp_put_sp(gcb, sp);
    return op->op_next;
}

// join: the value just above the mark separates the values after it; the
// joined target replaces the whole list.
OP* pp_join(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* targ = pp_pad_target(gcb, op);
    int32_t mark = pop_mark(gcb);
    SV** sp = pp_sp(gcb);
    SV** first = gcb->arg_base + mark + 1;
    SV* sep = first <= sp ? *first : &gcb->sv_no;
    if (first > sp)
        first = sp;
    do_join_list(gcb, targ, sep, first, sp);
    sp = gcb->arg_base + mark;
    pp_set_magic(gcb, targ);
    *++sp = targ;
    pp_put_sp(gcb, sp);
    return op->op_next;
}

OP* pp_ord(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* sv = *pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    uint64_t len = 0;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
    uint64_t value = 0;
    if (len)
        value = pp_utf8_mode(gcb, sv) ? utf8_decode(gcb, s, len, nullptr, 0) : s[0];
    sv_set_uint(gcb, targ, value);
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

OP* pp_chr(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* sv = *pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    uint64_t value = (sv->flags & SVf_IOK) && (sv->flags & SVf_IsUV) ? sv_uv(sv) : sv_to_uint(gcb, sv);
    if (sv_type(targ) < SVt_PV)
        sv_upgrade_body(gcb, targ, SVt_PV);
    bool bytes = pp_bytes_hint(gcb);
    if (value > 255 && !bytes) {
        uint8_t buf[14];
        uint8_t* end = utf8_encode(gcb, buf, value);
        sv_set_bytes(gcb, targ, reinterpret_cast<const char*>(buf), static_cast<uint64_t>(end - buf));
        targ->flags |= SVf_UTF8;
    } else {
        char byte = static_cast<char>(value & 0xFF);
        sv_set_bytes(gcb, targ, &byte, 1);
    }
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

OP* pp_crypt(PERLGCB* gcb) { return die_error(gcb, "The crypt() function is unimplemented due to excessive paranoia."); }

OP* pp_ucfirst(PERLGCB* gcb) { return first_case(gcb, true); }
OP* pp_lcfirst(PERLGCB* gcb) { return first_case(gcb, false); }
OP* pp_uc(PERLGCB* gcb) { return whole_case(gcb, true); }
OP* pp_lc(PERLGCB* gcb) { return whole_case(gcb, false); }

OP* pp_quotemeta(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* sv = *pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    targ->flags &= ~SVf_UTF8;
    uint64_t len = 0;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
    if (!len) {
        sv_set_bytes(gcb, targ, "", 0);
    } else {
        bool utf8 = pp_utf8_mode(gcb, sv);
        // The result is built in a block of its own: the operand may be the
        // target itself.
        uint8_t* out = static_cast<uint8_t*>(pool_malloc(gcb, 2 * len + 1));
        uint8_t* d = out;
        for (uint64_t i = 0; i < len;) {
            uint8_t c = s[i];
            if (utf8 && (c & 0x80)) {
                uint64_t n = utf8_skip_table[c];
                if (n > len - i)
                    n = len - i;
                xk_copy(s + i, d, static_cast<int32_t>(n));
                d += n;
                i += n;
                continue;
            }
            if (!host_is_alnum(c) && c != '_')
                *d++ = '\\';
            *d++ = c;
            i++;
        }
        sv_set_bytes(gcb, targ, reinterpret_cast<const char*>(out), static_cast<uint64_t>(d - out));
        pool_free(gcb, out);
        if (utf8)
            targ->flags |= SVf_UTF8;
    }
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}
