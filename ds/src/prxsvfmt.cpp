// The interpreter's printf-style formatter: directives with flags, width,
// precision, vectors and size letters, over a C argument list or an array of
// values, and its entry points.
#include <cstdio>
#include <type_traits>

#include "prxlibc.h"
#include "prxmg.h"
#include "prxsvint.h"
#include "prxutf8.h"

namespace {

constexpr char DIGITS_LOWER[] = "0123456789abcdef";
constexpr char DIGITS_UPPER[] = "0123456789ABCDEF";

// Where the arguments come from: a C argument list, or an array of values
// read through a running index.
struct ArgSource {
    va_list* list;
    SV** svargs;
    int32_t svmax;
    int32_t svix;
};

// The next array value, or null when the array is exhausted.
SV* next_value(ArgSource& a) { return a.svix < a.svmax ? a.svargs[a.svix++] : nullptr; }

int64_t value_int(PERLGCB* gcb, SV* sv) { return (sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv); }

uint64_t value_uint(PERLGCB* gcb, SV* sv) { return (sv->flags & SVf_IOK) ? sv_uv(sv) : sv_to_uint(gcb, sv); }

double value_double(PERLGCB* gcb, SV* sv) { return (sv->flags & SVf_NOK) ? sv_nv(sv) : sv_to_double(gcb, sv); }

// A 32-bit signed argument: a width, a precision or a character code.
int32_t next_i32(PERLGCB* gcb, ArgSource& a)
{
    if (a.list)
        return va_arg(*a.list, int);
    SV* sv = next_value(a);
    return sv ? static_cast<int32_t>(value_int(gcb, sv)) : 0;
}

// An integer argument by the conversion's sign (I is int64_t or uint64_t):
// from the C list a short (h), a 64-bit integer (V, q) or an int; from the
// values the number, cut to a short (h) or to 32 bits (l).
template <class I>
I next_integer(PERLGCB* gcb, ArgSource& a, char size)
{
    constexpr bool SIGNED = std::is_signed_v<I>;
    using Short = std::conditional_t<SIGNED, int16_t, uint16_t>;
    using Word = std::conditional_t<SIGNED, int32_t, uint32_t>;
    using CInt = std::conditional_t<SIGNED, int, unsigned>;
    if (a.list) {
        if (size == 'h')
            return static_cast<Short>(va_arg(*a.list, CInt));
        if (size == 'V' || size == 'q')
            return va_arg(*a.list, I);
        return va_arg(*a.list, CInt);
    }
    SV* v = next_value(a);
    I n = 0;
    if (v) {
        if constexpr (SIGNED)
            n = value_int(gcb, v);
        else
            n = value_uint(gcb, v);
    }
    if (size == 'h')
        return static_cast<Short>(n);
    if (size == 'l')
        return static_cast<Word>(n);
    return n;
}

// The next element of a vector flag's string: a character when it is UTF-8,
// else a byte; the string moves past it (at least one byte).
uint64_t next_vector_element(PERLGCB* gcb, const uint8_t** vecstr, uint64_t* veclen, bool utf8)
{
    int64_t ulen = 1;
    uint64_t uv = utf8 ? utf8_decode(gcb, *vecstr, *veclen, &ulen, 0) : **vecstr;
    if (ulen < 1)
        ulen = 1;
    *vecstr += ulen;
    *veclen = static_cast<uint64_t>(ulen) >= *veclen ? 0 : *veclen - static_cast<uint64_t>(ulen);
    return uv;
}

// The binary exponent of a frexp split: the biased exponent field minus
// 1022, and 0 for zero.
int32_t binary_exponent(double nv)
{
    uint64_t bits;
    std::memcpy(&bits, &nv, sizeof bits);
    if ((bits & 0x7FFFFFFFFFFFFFFFull) == 0)
        return 0;
    return static_cast<int32_t>((bits >> 52) & 0x7FF) - 1022;
}

bool utf8_value(PERLGCB* gcb, SV* sv) { return sv && utf8_in_effect(gcb, sv); }

void warn_invalid_conversion(PERLGCB* gcb, char c)
{
    if (!warn_enabled(gcb, WARN_PRINTF) || !gcb->op)
        return;
    uint16_t type = gcb->op->op_type;
    if (type != OP_SPRINTF && type != OP_PRTF)
        return;
    SV* msg = sv_new_temporary(gcb);
    sv_set_formatted(gcb, msg, "Invalid conversion in %s: ", type == OP_PRTF ? "printf" : "sprintf");
    if (c == 0)
        sv_append_cstring(gcb, msg, "end of string");
    else if (host_cclass(c) & HC_PRINT)
        sv_append_formatted(gcb, msg, "\"%%%c\"", c);
    else
        sv_append_formatted(gcb, msg, "\"%%\\%03lo\"", static_cast<uint32_t>(static_cast<uint8_t>(c)));
    category_warning(gcb, WARN_PRINTF, "%_", msg);
}

}  // namespace

void sv_format_append(PERLGCB* gcb, SV* sv, const char* pat, uint64_t patlen, va_list* args, SV** svargs,
                      int32_t svmax)
{
    uint64_t origlen;
    if ((sv->flags & (SV_THINK_FIRST | SVf_POK)) == SVf_POK)
        origlen = sv_cur(sv);
    else
        sv_force_string(gcb, sv, &origlen);
    if (patlen == 0)
        return;

    if (patlen == 2 && pat[0] == '%') {
        if (pat[1] == 's') {
            if (args) {
                const char* s = va_arg(*args, const char*);
                sv_append_cstring(gcb, sv, s ? s : "(null)");
            } else if (svmax > 0) {
                sv_append_sv(gcb, sv, svargs[0]);
                if (utf8_value(gcb, svargs[0]))
                    sv->flags |= SVf_UTF8;
            }
            return;
        }
        if (pat[1] == '_' && args) {
            SV* v = va_arg(*args, SV*);
            sv_append_sv(gcb, sv, v);
            if (utf8_value(gcb, v))
                sv->flags |= SVf_UTF8;
            return;
        }
    }

    ArgSource src{args, svargs, svmax, 0};
    const char* p = pat;
    const char* patend = pat + patlen;
    while (p < patend) {
        const char* q = p;
        while (q < patend && *q != '%')
            q++;
        if (q > p)
            sv_append_bytes(gcb, sv, p, static_cast<uint64_t>(q - p));
        if (q >= patend)
            break;
        const char* fmtstart = q++;

        bool alt = false, left = false, has_precis = false, vectorize = false;
        bool vec_utf8 = false, is_utf8 = false;
        char fill = ' ', plus = 0, size = 0;
        uint64_t width = 0, precis = 0;
        const char* dotstr = ".";
        uint64_t dotstrlen = 1;
        const uint8_t* vecstr = nullptr;
        uint64_t veclen = 0;
        char esignbuf[4];
        uint64_t esignlen = 0;
        uint64_t zeros = 0;
        const char* eptr = nullptr;
        uint64_t elen = 0;
        char ebuf[72];      // room for 64 binary digits and an octal prefix
        uint8_t cbuf[16];   // one encoded character
        uint64_t uv = 0;
        int base = 0;
        bool signed_conv = false;

        // Flags.
        for (bool more = true; more && *q;) {
            switch (*q) {
            case '#': alt = true; q++; break;
            case ' ':
            case '+': plus = *q; q++; break;
            case '-': left = true; q++; break;
            case '0': fill = '0'; q++; break;
            case 'v': vectorize = true; q++; break;
            case '*':
                if (q[1] != 'v') {
                    more = false;
                    break;
                }
                q++;
                if (SV* joiner = args ? va_arg(*args, SV*) : next_value(src)) {
                    uint64_t n;
                    dotstr = sv_text(gcb, joiner, &n);
                    dotstrlen = n;
                    if (utf8_value(gcb, joiner))
                        is_utf8 = true;
                }
                vectorize = true;
                q++;
                break;
            default: more = false; break;
            }
        }
        // Width.
        if (*q >= '1' && host_is_digit(*q)) {
            while (host_is_digit(*q))
                width = width * 10 + static_cast<uint64_t>(*q++ - '0');
        } else if (*q == '*') {
            q++;
            int32_t i = next_i32(gcb, src);
            if (i < 0) {
                left = true;
                width = static_cast<uint64_t>(-static_cast<int64_t>(i));
            } else {
                width = static_cast<uint64_t>(i);
            }
        }
        // Precision.
        if (*q == '.') {
            q++;
            if (*q == '*') {
                q++;
                int32_t i = next_i32(gcb, src);
                precis = i < 0 ? 0 : static_cast<uint64_t>(i);
            } else {
                precis = 0;
                while (host_is_digit(*q))
                    precis = precis * 10 + static_cast<uint64_t>(*q++ - '0');
            }
            has_precis = true;
        }
        // The vector's string.
        if (vectorize) {
            SV* vecsv = args ? va_arg(*args, SV*) : next_value(src);
            if (vecsv) {
                uint64_t n;
                vecstr = reinterpret_cast<const uint8_t*>(sv_text(gcb, vecsv, &n));
                veclen = n;
                vec_utf8 = utf8_value(gcb, vecsv);
            } else {
                vecstr = reinterpret_cast<const uint8_t*>("");
                veclen = 0;
            }
        }
        // Size.
        switch (*q) {
        case 'L':
        case 'q': size = 'q'; q++; break;
        case 'l':
            if (q[1] == 'l') {
                size = 'q';
                q += 2;
            } else {
                size = 'l';
                q++;
            }
            break;
        case 'h':
        case 'V': size = *q++; break;
        default: break;
        }

        char c = *q++;
        bool invalid = false;
        switch (c) {
        case 'c': {
            // A 32-bit signed code: a negative one is below 128 and gives
            // its low byte.
            int32_t code = next_i32(gcb, src);
            bool target_utf8 = utf8_in_effect(gcb, sv);
            if ((code < 256 && (code < 128 || !target_utf8)) || bytes_hint(gcb)) {
                cbuf[0] = static_cast<uint8_t>(code);
                elen = 1;
            } else {
                elen = static_cast<uint64_t>(utf8_encode(gcb, cbuf, static_cast<uint64_t>(code)) - cbuf);
                is_utf8 = true;
            }
            eptr = reinterpret_cast<const char*>(cbuf);
            goto string;
        }
        case 's':
            if (args) {
                eptr = va_arg(*args, const char*);
                if (!eptr)
                    eptr = "(null)";
                // A precision bounds the read, so the text need not be
                // NUL-terminated (a window into a subject, say).
                elen = has_precis ? strnlen(eptr, precis) : std::strlen(eptr);
            } else if (SV* argsv = next_value(src)) {
                eptr = sv_text(gcb, argsv, &elen);
                if (utf8_value(gcb, argsv)) {
                    const uint8_t* s = reinterpret_cast<const uint8_t*>(eptr);
                    if (has_precis && precis < elen) {
                        const uint8_t* t = s;
                        for (uint64_t i = 0; i < precis && t < s + elen; i++)
                            t += utf8_skip_table[*t];
                        precis = t > s + elen ? elen : static_cast<uint64_t>(t - s);
                    }
                    if (width)
                        width += elen - utf8_length(gcb, s, s + elen);
                    is_utf8 = true;
                }
            } else {
                eptr = "";
                elen = 0;
            }
            goto string;
        case '_':
            if (!args) {
                invalid = true;
                break;
            }
            {
                SV* v = va_arg(*args, SV*);
                eptr = sv_text(gcb, v, &elen);
                if (utf8_value(gcb, v))
                    is_utf8 = true;
            }
            goto string;
        string:
            vectorize = false;
            if (has_precis && precis < elen)
                elen = precis;
            break;
        case 'p':
            if (alt) {
                invalid = true;
                break;
            }
            if (args)
                uv = reinterpret_cast<uintptr_t>(va_arg(*args, void*));
            else
                uv = reinterpret_cast<uintptr_t>(next_value(src));
            base = 16;
            break;
        case 'D':
            size = 'q';
            [[fallthrough]];
        case 'd':
        case 'i':
            signed_conv = true;
            base = 10;
            break;
        case 'U':
            size = 'q';
            base = 10;
            break;
        case 'u': base = 10; break;
        case 'O':
            size = 'q';
            base = 8;
            break;
        case 'o': base = 8; break;
        case 'x':
        case 'X': base = 16; break;
        case 'b': base = 2; break;
        case 'F':
            c = 'f';
            [[fallthrough]];
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G': {
            vectorize = false;
            double nv;
            if (args) {
                nv = va_arg(*args, double);
            } else {
                SV* v = next_value(src);
                nv = v ? value_double(gcb, v) : 0.0;
            }
            uint64_t need = 0;
            if (c != 'e' && c != 'E') {
                int32_t e = binary_exponent(nv);
                if (e > 0)
                    need = static_cast<uint64_t>(e) * 146 / 485 + 1;
            }
            need += has_precis ? precis : 6;
            if (need < width)
                need = width;
            if (gcb->float_buffer_size < need + 20) {
                pool_free(gcb, gcb->float_buffer);
                gcb->float_buffer_size = need + 40;
                gcb->float_buffer = static_cast<char*>(pool_malloc(gcb, gcb->float_buffer_size));
                gcb->float_buffer[0] = 0;
            }
            char fmt[48];
            char* f = fmt;
            *f++ = '%';
            if (alt)
                *f++ = '#';
            if (plus)
                *f++ = plus;
            if (left)
                *f++ = '-';
            if (fill == '0')
                *f++ = '0';
            if (width)
                f += std::snprintf(f, 24, "%llu", static_cast<unsigned long long>(width));
            if (has_precis)
                f += std::snprintf(f, 24, ".%llu", static_cast<unsigned long long>(precis));
            *f++ = c;
            *f = 0;
            int n = std::snprintf(gcb->float_buffer, gcb->float_buffer_size, fmt, nv);
            eptr = gcb->float_buffer;
            elen = n < 0 ? 0 : std::strlen(gcb->float_buffer);
            width = 0;
            break;
        }
        case 'n': {
            int32_t count = static_cast<int32_t>(sv_cur(sv) - origlen);
            if (args) {
                void* out = va_arg(*args, void*);
                if (size == 'h')
                    *static_cast<int16_t*>(out) = static_cast<int16_t>(count);
                else if (size == 'V' || size == 'q')
                    *static_cast<int64_t*>(out) = count;
                else
                    *static_cast<int32_t*>(out) = count;
            } else if (SV* v = next_value(src)) {
                sv_set_int(gcb, v, 0);
                sv_iv(v) = count;
                v->flags |= SVf_IsUV;
                if (v->flags & SVs_SMG)
                    mg_call_set(gcb, v);
            }
            p = q;
            continue;
        }
        default:
            if (c == '%') {
                eptr = "%";
                elen = 1;
                goto string;
            }
            invalid = true;
            break;
        }

        if (invalid) {
            if (!args)
                warn_invalid_conversion(gcb, c);
            if (c == 0)
                q--;   // the directive ends before its NUL
            sv_append_bytes(gcb, sv, fmtstart, static_cast<uint64_t>(q - fmtstart));
            if (c == 0)
                q++;
            p = q;
            continue;
        }

        // Integers: the number, then its digits backwards into ebuf.
        if (base) {
            if (vectorize) {
                if (veclen == 0) {
                    vectorize = false;
                    base = 0;   // only the width's fill
                } else {
                    uv = next_vector_element(gcb, &vecstr, &veclen, vec_utf8);
                    if (signed_conv && plus)
                        esignbuf[esignlen++] = plus;
                }
            } else if (signed_conv) {
                int64_t iv = next_integer<int64_t>(gcb, src, size);
                if (iv >= 0) {
                    uv = static_cast<uint64_t>(iv);
                    if (plus)
                        esignbuf[esignlen++] = plus;
                } else {
                    uv = 0 - static_cast<uint64_t>(iv);
                    esignbuf[esignlen++] = '-';
                }
            } else if (c != 'p') {
                uv = next_integer<uint64_t>(gcb, src, size);
            }
        }

    vector_element:
        if (base) {
            char* end = ebuf + sizeof ebuf;
            char* d = end;
            switch (base) {
            case 16: {
                if (!uv)
                    alt = false;
                const char* digits = c == 'X' ? DIGITS_UPPER : DIGITS_LOWER;
                do
                    *--d = digits[uv & 15];
                while (uv >>= 4);
                if (alt) {
                    esignbuf[esignlen++] = '0';
                    esignbuf[esignlen++] = c;
                }
                break;
            }
            case 8:
                do
                    *--d = static_cast<char>('0' + (uv & 7));
                while (uv >>= 3);
                if (alt && *d != '0')
                    *--d = '0';
                break;
            case 2:
                do
                    *--d = static_cast<char>('0' + (uv & 1));
                while (uv >>= 1);
                if (alt) {
                    esignbuf[esignlen++] = '0';
                    esignbuf[esignlen++] = 'b';
                }
                break;
            default:
                do
                    *--d = static_cast<char>('0' + uv % 10);
                while (uv /= 10);
                break;
            }
            eptr = d;
            elen = static_cast<uint64_t>(end - d);
            if (has_precis) {
                if (precis > elen)
                    zeros = precis - elen;
                else if (precis == 0 && elen == 1 && *eptr == '0')
                    elen = 0;
            }
        }

        // Output.
        {
            uint64_t have = esignlen + zeros + elen;
            uint64_t need = have > width ? have : width;
            uint64_t gap = need - have;
            uint64_t cur = sv_cur(sv);
            if (sv_len(sv) < cur + need + dotstrlen + 1)
                sv_grow_buffer(gcb, sv, cur + need + dotstrlen + 1);
            char* out = sv_pv(sv) + cur;
            if (esignlen && fill == '0') {
                std::memcpy(out, esignbuf, esignlen);
                out += esignlen;
            }
            if (gap && !left) {
                std::memset(out, fill, gap);
                out += gap;
            }
            if (esignlen && fill != '0') {
                std::memcpy(out, esignbuf, esignlen);
                out += esignlen;
            }
            if (zeros) {
                std::memset(out, '0', zeros);
                out += zeros;
            }
            if (elen) {
                std::memmove(out, eptr, elen);
                out += elen;
            }
            if (gap && left) {
                std::memset(out, ' ', gap);
                out += gap;
            }
            if (vectorize) {
                if (veclen) {
                    std::memcpy(out, dotstr, dotstrlen);
                    out += dotstrlen;
                } else {
                    vectorize = false;
                }
            }
            if (is_utf8)
                sv->flags |= SVf_UTF8;
            *out = 0;
            sv_cur(sv) = static_cast<uint64_t>(out - sv_pv(sv));
        }
        if (vectorize) {
            esignlen = 0;
            zeros = 0;
            uv = next_vector_element(gcb, &vecstr, &veclen, vec_utf8);
            goto vector_element;
        }
        p = q;
    }
}

void sv_format_set(PERLGCB* gcb, SV* sv, const char* pat, uint64_t patlen, va_list* args, SV** svargs,
                   int32_t svmax)
{
    sv_set_bytes(gcb, sv, "", 0);
    sv_format_append(gcb, sv, pat, patlen, args, svargs, svmax);
}

void sv_append_formatted(PERLGCB* gcb, SV* sv, const char* pat, ...)
{
    va_list ap;
    va_start(ap, pat);
    sv_format_append(gcb, sv, pat, pat ? std::strlen(pat) : 0, &ap, nullptr, 0);
    va_end(ap);
}

void sv_set_formatted(PERLGCB* gcb, SV* sv, const char* pat, ...)
{
    sv_set_bytes(gcb, sv, "", 0);
    va_list ap;
    va_start(ap, pat);
    sv_format_append(gcb, sv, pat, pat ? std::strlen(pat) : 0, &ap, nullptr, 0);
    va_end(ap);
}

SV* sv_new_formatted_va(PERLGCB* gcb, const char* pat, va_list* args)
{
    SV* sv = take_head(gcb);
    sv_set_bytes(gcb, sv, "", 0);
    sv_format_append(gcb, sv, pat, pat ? std::strlen(pat) : 0, args, nullptr, 0);
    return sv;
}

SV* sv_new_formatted(PERLGCB* gcb, const char* pat, ...)
{
    va_list ap;
    va_start(ap, pat);
    SV* sv = sv_new_formatted_va(gcb, pat, &ap);
    va_end(ap);
    return sv;
}

SV* sv_new_formatted_no_interp(const char* pat, ...)
{
    // Without an interpreter in the current task there is nothing to make
    // the value in.
    PERLGCB* gcb = interp_of_current_task();
    if (!gcb)
        return nullptr;
    va_list ap;
    va_start(ap, pat);
    SV* sv = sv_new_formatted_va(gcb, pat, &ap);
    va_end(ap);
    return sv;
}
