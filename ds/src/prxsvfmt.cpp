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

// The next value of a vector joiner or a vector string: from the C list, or
// the next array value.
SV* next_sv(ArgSource& a) { return a.list ? va_arg(*a.list, SV*) : next_value(a); }

// One directive as written: everything between the "%" and the conversion
// letter. Conversions adjust some of it as they go (a double takes the width
// into its own text; a string's UTF-8 widens the width; a hexadecimal zero
// drops the "#" flag for the rest of a vector).
struct Directive {
    bool alt = false, left = false, has_precis = false, vectorize = false;
    char fill = ' ', plus = 0, size = 0;
    uint64_t width = 0, precis = 0;
    const char* dotstr = ".";           // the vector's joiner
    uint64_t dotstrlen = 1;
    bool dot_utf8 = false;              // the joiner is UTF-8
    const uint8_t* vecstr = nullptr;    // the vector's string, consumed element by element
    uint64_t veclen = 0;
    bool vec_utf8 = false;
};

// What a conversion produced, before padding: a sign or prefix, zeros from
// the precision, and the text.
struct Field {
    char sign[4];
    uint64_t signlen = 0;
    uint64_t zeros = 0;
    const char* text = nullptr;
    uint64_t len = 0;
    bool utf8 = false;  // the text is UTF-8
};

// The value being appended to: whether its text is UTF-8 and the length it
// had when this call began (for %n), both kept right when it is upgraded.
struct Target {
    SV* sv;
    uint64_t origlen;
    bool utf8;   // its text is UTF-8
    bool bytes;  // under use bytes: no text counts as UTF-8, pieces go in as they are
};

uint64_t high_bytes(const char* s, uint64_t n)
{
    uint64_t k = 0;
    for (uint64_t i = 0; i < n; i++)
        k += static_cast<uint8_t>(s[i]) >= 0x80;
    return k;
}

// UTF-8 text is about to join the target: the bytes it holds become UTF-8
// first, so that the two kinds of text are never mixed.
void upgrade(PERLGCB* gcb, Target& t)
{
    if (t.utf8 || t.bytes)
        return;
    t.origlen += high_bytes(sv_pv(t.sv), t.origlen);
    sv_convert_to_utf8(gcb, t.sv);
    t.sv->flags |= SVf_UTF8;
    t.utf8 = true;
}

// Room for n more bytes and a terminator; returns where they go (the caller
// sets the length). Many small pieces make a long text: the buffer grows by
// half again at least, so that they cost time in proportion to their bytes.
char* room(PERLGCB* gcb, SV* sv, uint64_t n)
{
    uint64_t cur = sv_cur(sv);
    uint64_t need = cur + n + 1;
    if (sv_len(sv) < need) {
        uint64_t grown = sv_len(sv) + sv_len(sv) / 2;
        sv_grow_buffer(gcb, sv, grown > need ? grown : need);
    }
    return sv_pv(sv) + cur;
}

// Bytes that n bytes of text (UTF-8 when utf8) take in the target.
uint64_t text_size(const Target& t, const char* s, uint64_t n, bool utf8)
{
    return t.utf8 && !utf8 ? n + high_bytes(s, n) : n;
}

// Copies text (UTF-8 when utf8) to out as the target takes it: the high
// bytes of byte text going into a UTF-8 target are encoded. Returns the end.
char* put_text(char* out, const Target& t, const char* s, uint64_t n, bool utf8)
{
    if (!t.utf8 || utf8) {
        std::memmove(out, s, n);
        return out + n;
    }
    for (uint64_t i = 0; i < n; i++) {
        uint8_t c = static_cast<uint8_t>(s[i]);
        if (c < 0x80) {
            *out++ = static_cast<char>(c);
        } else {
            *out++ = static_cast<char>(0xC0 | (c >> 6));
            *out++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Appends a piece of text (UTF-8 when utf8) that lies outside the target.
void append_text(PERLGCB* gcb, Target& t, const char* s, uint64_t n, bool utf8)
{
    if (utf8)
        upgrade(gcb, t);
    char* out = room(gcb, t.sv, text_size(t, s, n, utf8));
    out = put_text(out, t, s, n, utf8);
    *out = 0;
    sv_cur(t.sv) = static_cast<uint64_t>(out - sv_pv(t.sv));
}

// Reads flags, width, precision, the vector's string and the size letter of
// the directive at q (just after its "%"); returns the position of the
// conversion letter.
const char* read_directive(PERLGCB* gcb, ArgSource& src, const char* q, Directive& d)
{
    for (bool more = true; more && *q;) {
        switch (*q) {
        case '#': d.alt = true; q++; break;
        case ' ':
        case '+': d.plus = *q; q++; break;
        case '-': d.left = true; q++; break;
        case '0': d.fill = '0'; q++; break;
        case 'v': d.vectorize = true; q++; break;
        case '*':
            // "*v": the joiner is an argument; a lone "*" is the width.
            if (q[1] != 'v') {
                more = false;
                break;
            }
            q++;
            if (SV* joiner = next_sv(src)) {
                uint64_t n;
                d.dotstr = sv_text(gcb, joiner, &n);
                d.dotstrlen = n;
                d.dot_utf8 = utf8_value(gcb, joiner);
            }
            d.vectorize = true;
            q++;
            break;
        default: more = false; break;
        }
    }
    if (*q >= '1' && host_is_digit(*q)) {
        while (host_is_digit(*q))
            d.width = d.width * 10 + static_cast<uint64_t>(*q++ - '0');
    } else if (*q == '*') {
        q++;
        int32_t i = next_i32(gcb, src);
        if (i < 0) {
            d.left = true;
            d.width = static_cast<uint64_t>(-static_cast<int64_t>(i));
        } else {
            d.width = static_cast<uint64_t>(i);
        }
    }
    if (*q == '.') {
        q++;
        if (*q == '*') {
            q++;
            int32_t i = next_i32(gcb, src);
            d.precis = i < 0 ? 0 : static_cast<uint64_t>(i);
        } else {
            d.precis = 0;
            while (host_is_digit(*q))
                d.precis = d.precis * 10 + static_cast<uint64_t>(*q++ - '0');
        }
        d.has_precis = true;
    }
    if (d.vectorize) {
        if (SV* vecsv = next_sv(src)) {
            uint64_t n;
            d.vecstr = reinterpret_cast<const uint8_t*>(sv_text(gcb, vecsv, &n));
            d.veclen = n;
            d.vec_utf8 = utf8_value(gcb, vecsv);
        } else {
            d.vecstr = reinterpret_cast<const uint8_t*>("");
            d.veclen = 0;
        }
    }
    switch (*q) {
    case 'L':
    case 'q': d.size = 'q'; q++; break;
    case 'l':
        if (q[1] == 'l') {
            d.size = 'q';
            q += 2;
        } else {
            d.size = 'l';
            q++;
        }
        break;
    case 'h':
    case 'V': d.size = *q++; break;
    default: break;
    }
    return q;
}

// %c: a 32-bit signed code; a negative one is below 128 and gives its low
// byte. Encoded into cbuf (16 bytes).
void char_field(PERLGCB* gcb, const Target& t, ArgSource& src, Field& f, uint8_t* cbuf)
{
    int32_t code = next_i32(gcb, src);
    if ((code < 256 && (code < 128 || !t.utf8)) || t.bytes) {
        cbuf[0] = static_cast<uint8_t>(code);
        f.len = 1;
    } else {
        f.len = static_cast<uint64_t>(utf8_encode(gcb, cbuf, static_cast<uint64_t>(code)) - cbuf);
        f.utf8 = true;
    }
    f.text = reinterpret_cast<const char*>(cbuf);
}

// %s: a C string, or a value's text. For a UTF-8 value the precision counts
// characters and the width is widened by the bytes beyond one per character,
// so that both keep to characters.
void string_field(PERLGCB* gcb, ArgSource& src, Directive& d, Field& f)
{
    if (src.list) {
        f.text = va_arg(*src.list, const char*);
        if (!f.text)
            f.text = "(null)";
        // A precision bounds the read, so the text need not be NUL-terminated
        // (a window into a subject, say).
        f.len = d.has_precis ? strnlen(f.text, d.precis) : std::strlen(f.text);
    } else if (SV* argsv = next_value(src)) {
        f.text = sv_text(gcb, argsv, &f.len);
        if (utf8_value(gcb, argsv)) {
            const uint8_t* s = reinterpret_cast<const uint8_t*>(f.text);
            if (d.has_precis && d.precis < f.len) {
                const uint8_t* t = s;
                for (uint64_t i = 0; i < d.precis && t < s + f.len; i++)
                    t += utf8_skip_table[*t];
                d.precis = t > s + f.len ? f.len : static_cast<uint64_t>(t - s);
            }
            if (d.width)
                d.width += f.len - utf8_length(gcb, s, s + f.len);
            f.utf8 = true;
        }
    } else {
        f.text = "";
        f.len = 0;
    }
}

// %e %E %f %g %G: the C library formats the double, with the directive's
// flags, width and precision, into the interpreter's float buffer, grown to
// hold the widest result; the width is then spent.
void double_field(PERLGCB* gcb, ArgSource& src, Directive& d, char c, Field& f)
{
    double nv;
    if (src.list) {
        nv = va_arg(*src.list, double);
    } else {
        SV* v = next_value(src);
        nv = v ? value_double(gcb, v) : 0.0;
    }
    // Digits before the point: about log10(2) per bit of the exponent.
    uint64_t need = 0;
    if (c != 'e' && c != 'E') {
        int32_t e = binary_exponent(nv);
        if (e > 0)
            need = static_cast<uint64_t>(e) * 146 / 485 + 1;
    }
    need += d.has_precis ? d.precis : 6;
    if (need < d.width)
        need = d.width;
    if (gcb->float_buffer_size < need + 20) {
        pool_free(gcb, gcb->float_buffer);
        gcb->float_buffer_size = need + 40;
        gcb->float_buffer = static_cast<char*>(pool_malloc(gcb, gcb->float_buffer_size));
        gcb->float_buffer[0] = 0;
    }
    char fmt[48];
    char* out = fmt;
    *out++ = '%';
    if (d.alt)
        *out++ = '#';
    if (d.plus)
        *out++ = d.plus;
    if (d.left)
        *out++ = '-';
    if (d.fill == '0')
        *out++ = '0';
    if (d.width)
        out += std::snprintf(out, 24, "%llu", static_cast<unsigned long long>(d.width));
    if (d.has_precis)
        out += std::snprintf(out, 24, ".%llu", static_cast<unsigned long long>(d.precis));
    *out++ = c;
    *out = 0;
    int n = std::snprintf(gcb->float_buffer, gcb->float_buffer_size, fmt, nv);
    f.text = gcb->float_buffer;
    f.len = n < 0 ? 0 : std::strlen(gcb->float_buffer);
    d.width = 0;
}

// %n: the bytes appended so far by this call go to the next argument.
void store_count(PERLGCB* gcb, ArgSource& src, char size, int32_t count)
{
    if (src.list) {
        void* out = va_arg(*src.list, void*);
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
}

// The digits of uv in base (2, 8, 10 or 16, c the conversion letter),
// written backwards to end; the "#" prefixes go to the sign, and the
// precision becomes leading zeros (a precision of 0 prints nothing for 0).
void integer_field(uint64_t uv, int base, char c, Directive& d, Field& f, char* end)
{
    char* at = end;
    switch (base) {
    case 16: {
        if (!uv)
            d.alt = false;
        const char* digits = c == 'X' ? DIGITS_UPPER : DIGITS_LOWER;
        do
            *--at = digits[uv & 15];
        while (uv >>= 4);
        if (d.alt) {
            f.sign[f.signlen++] = '0';
            f.sign[f.signlen++] = c;
        }
        break;
    }
    case 8:
        do
            *--at = static_cast<char>('0' + (uv & 7));
        while (uv >>= 3);
        if (d.alt && *at != '0')
            *--at = '0';
        break;
    case 2:
        do
            *--at = static_cast<char>('0' + (uv & 1));
        while (uv >>= 1);
        if (d.alt) {
            f.sign[f.signlen++] = '0';
            f.sign[f.signlen++] = 'b';
        }
        break;
    default:
        do
            *--at = static_cast<char>('0' + uv % 10);
        while (uv /= 10);
        break;
    }
    f.text = at;
    f.len = static_cast<uint64_t>(end - at);
    if (d.has_precis) {
        if (d.precis > f.len)
            f.zeros = d.precis - f.len;
        else if (d.precis == 0 && f.len == 1 && *f.text == '0')
            f.len = 0;
    }
}

// Appends the field padded to the width: with the "0" flag the sign goes
// before the fill, else after it; "-" pads on the right with blanks. Inside a
// vector with elements left the joiner follows; returns whether one does.
// The width counts bytes of the field's own text; text that is not UTF-8
// going into a UTF-8 target has its high bytes encoded.
bool append_field(PERLGCB* gcb, Target& t, Directive& d, const Field& f)
{
    bool joiner = d.vectorize && d.veclen;
    if (f.utf8 || (joiner && d.dot_utf8))
        upgrade(gcb, t);
    uint64_t have = f.signlen + f.zeros + f.len;
    uint64_t gap = have < d.width ? d.width - have : 0;
    uint64_t size = f.signlen + f.zeros + gap + text_size(t, f.text, f.len, f.utf8) +
                    (joiner ? text_size(t, d.dotstr, d.dotstrlen, d.dot_utf8) : 0);
    char* out = room(gcb, t.sv, size);
    if (f.signlen && d.fill == '0') {
        std::memcpy(out, f.sign, f.signlen);
        out += f.signlen;
    }
    if (gap && !d.left) {
        std::memset(out, d.fill, gap);
        out += gap;
    }
    if (f.signlen && d.fill != '0') {
        std::memcpy(out, f.sign, f.signlen);
        out += f.signlen;
    }
    if (f.zeros) {
        std::memset(out, '0', f.zeros);
        out += f.zeros;
    }
    if (f.len)
        out = put_text(out, t, f.text, f.len, f.utf8);
    if (gap && d.left) {
        std::memset(out, ' ', gap);
        out += gap;
    }
    if (joiner)
        out = put_text(out, t, d.dotstr, d.dotstrlen, d.dot_utf8);
    else
        d.vectorize = false;
    *out = 0;
    sv_cur(t.sv) = static_cast<uint64_t>(out - sv_pv(t.sv));
    return d.vectorize;
}

// The patterns "%s" and "%_" alone append their argument's text whole;
// false for any other pattern.
bool append_whole_argument(PERLGCB* gcb, Target& t, const char* pat, uint64_t patlen, va_list* args, SV** svargs,
                           int32_t svmax)
{
    if (patlen != 2 || pat[0] != '%')
        return false;
    if (pat[1] == 's') {
        if (args) {
            const char* s = va_arg(*args, const char*);
            if (!s)
                s = "(null)";
            append_text(gcb, t, s, std::strlen(s), false);
        } else if (svmax > 0) {
            sv_append_sv(gcb, t.sv, svargs[0]);
            if (utf8_value(gcb, svargs[0]))
                t.sv->flags |= SVf_UTF8;
        }
        return true;
    }
    if (pat[1] == '_' && args) {
        SV* v = va_arg(*args, SV*);
        sv_append_sv(gcb, t.sv, v);
        if (utf8_value(gcb, v))
            t.sv->flags |= SVf_UTF8;
        return true;
    }
    return false;
}

// The formatter proper; the pattern's text is UTF-8 when pat_utf8.
void format_append(PERLGCB* gcb, SV* sv, const char* pat, uint64_t patlen, bool pat_utf8, va_list* args,
                   SV** svargs, int32_t svmax)
{
    uint64_t origlen;
    if ((sv->flags & (SV_THINK_FIRST | SVf_POK)) == SVf_POK)
        origlen = sv_cur(sv);
    else
        sv_force_string(gcb, sv, &origlen);
    Target t{sv, origlen, utf8_in_effect(gcb, sv), bytes_hint(gcb)};
    if (t.bytes)
        pat_utf8 = false;
    if (patlen == 0 || append_whole_argument(gcb, t, pat, patlen, args, svargs, svmax))
        return;

    ArgSource src{args, svargs, svmax, 0};
    const char* p = pat;
    const char* patend = pat + patlen;
    while (p < patend) {
        const char* q = p;
        while (q < patend && *q != '%')
            q++;
        if (q > p)
            append_text(gcb, t, p, static_cast<uint64_t>(q - p), pat_utf8);
        if (q >= patend)
            break;
        const char* fmtstart = q++;
        Directive d;
        q = read_directive(gcb, src, q, d);

        Field f;
        char ebuf[72];      // room for 64 binary digits and an octal prefix
        uint8_t cbuf[16];   // one encoded character
        uint64_t uv = 0;
        int base = 0;       // an integer conversion's base, 0 for the others
        bool signed_conv = false;
        bool text = false;  // a text conversion: no vector, precision cuts
        bool invalid = false;
        char c = *q++;
        switch (c) {
        case 'c':
            char_field(gcb, t, src, f, cbuf);
            text = true;
            break;
        case 's':
            string_field(gcb, src, d, f);
            text = true;
            break;
        case '_':
            if (!args) {
                invalid = true;
                break;
            }
            {
                SV* v = va_arg(*args, SV*);
                f.text = sv_text(gcb, v, &f.len);
                f.utf8 = utf8_value(gcb, v);
            }
            text = true;
            break;
        case '%':
            f.text = "%";
            f.len = 1;
            text = true;
            break;
        case 'p':
            if (d.alt) {
                invalid = true;
                break;
            }
            uv = reinterpret_cast<uintptr_t>(args ? va_arg(*args, void*) : next_value(src));
            base = 16;
            break;
        case 'D':
            d.size = 'q';
            [[fallthrough]];
        case 'd':
        case 'i':
            signed_conv = true;
            base = 10;
            break;
        case 'U':
            d.size = 'q';
            base = 10;
            break;
        case 'u': base = 10; break;
        case 'O':
            d.size = 'q';
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
        case 'G':
            d.vectorize = false;
            double_field(gcb, src, d, c, f);
            break;
        case 'n':
            store_count(gcb, src, d.size, static_cast<int32_t>(sv_cur(sv) - t.origlen));
            p = q;
            continue;
        default:
            invalid = true;
            break;
        }

        // Anything else is copied as written, with a warning for sprintf
        // and printf over values.
        if (invalid) {
            if (!args)
                warn_invalid_conversion(gcb, c);
            if (c == 0)
                q--;   // the directive ends before its NUL
            append_text(gcb, t, fmtstart, static_cast<uint64_t>(q - fmtstart), pat_utf8);
            if (c == 0)
                q++;
            p = q;
            continue;
        }
        if (text) {
            d.vectorize = false;
            if (d.has_precis && d.precis < f.len)
                f.len = d.precis;
        }

        // An integer's value: the vector's first element, or the argument by
        // the conversion's sign; an empty vector prints the width's fill only.
        if (base) {
            if (d.vectorize) {
                if (d.veclen == 0) {
                    d.vectorize = false;
                    base = 0;
                } else {
                    uv = next_vector_element(gcb, &d.vecstr, &d.veclen, d.vec_utf8);
                    if (signed_conv && d.plus)
                        f.sign[f.signlen++] = d.plus;
                }
            } else if (signed_conv) {
                int64_t iv = next_integer<int64_t>(gcb, src, d.size);
                if (iv >= 0) {
                    uv = static_cast<uint64_t>(iv);
                    if (d.plus)
                        f.sign[f.signlen++] = d.plus;
                } else {
                    uv = 0 - static_cast<uint64_t>(iv);
                    f.sign[f.signlen++] = '-';
                }
            } else if (c != 'p') {
                uv = next_integer<uint64_t>(gcb, src, d.size);
            }
        }
        // One field, or one per element of a vector, joined.
        for (;;) {
            if (base)
                integer_field(uv, base, c, d, f, ebuf + sizeof ebuf);
            if (!append_field(gcb, t, d, f))
                break;
            f.signlen = 0;
            f.zeros = 0;
            uv = next_vector_element(gcb, &d.vecstr, &d.veclen, d.vec_utf8);
        }
        p = q;
    }
}

}  // namespace

void sv_format_append(PERLGCB* gcb, SV* sv, const char* pat, uint64_t patlen, va_list* args, SV** svargs,
                      int32_t svmax)
{
    format_append(gcb, sv, pat, patlen, false, args, svargs, svmax);
}

void sv_format_values(PERLGCB* gcb, SV* sv, SV* pattern, SV** svargs, int32_t svmax)
{
    uint64_t patlen = 0;
    const char* pat = sv_text(gcb, pattern, &patlen);
    sv_set_bytes(gcb, sv, "", 0);
    format_append(gcb, sv, pat, patlen, utf8_value(gcb, pattern), nullptr, svargs, svmax);
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
