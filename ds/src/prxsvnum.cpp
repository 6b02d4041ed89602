// Numeric conversion of values with caching, number classes of strings,
// truth, and the ++ and -- operators with the string increment.
#include "prxgv.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxnum.h"
#include "prxsvint.h"

namespace {

constexpr uint32_t VALUE_PRESENT = SVf_IOK | SVf_NOK | SVf_POK | SVf_ROK | SVp_IOK | SVp_NOK | SVp_POK;

// The uninitialized report of a conversion: category 41 enabled, not
// localizing, not a pad temporary.
void uninitialized(PERLGCB* gcb, SV* sv)
{
    if (!(sv->flags & SVs_PADTMP) && warn_enabled(gcb, WARN_UNINITIALIZED) && !gcb->localizing)
        report_uninitialized(gcb);
}

// "Argument \"%s\" isn't numeric": the string shown with control and high
// bytes made visible, at most 56 bytes of it.
void not_a_number(PERLGCB* gcb, SV* sv)
{
    if (!warn_enabled(gcb, WARN_NUMERIC))
        return;
    char display[64];
    char* d = display;
    char* limit = display + sizeof display - 8;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_pv(sv));
    const uint8_t* upper = g_host_vector->upper;
    for (; *s && d < limit; s++) {
        uint8_t ch = *s;
        if (ch & 0x80) {
            *d++ = 'M';
            *d++ = '-';
            ch &= 0x7F;
        }
        if (ch == '\n') {
            *d++ = '\\';
            *d++ = 'n';
        } else if (ch == '\r') {
            *d++ = '\\';
            *d++ = 'r';
        } else if (ch == '\f') {
            *d++ = '\\';
            *d++ = 'f';
        } else if (ch == '\\') {
            *d++ = '\\';
            *d++ = '\\';
        } else if (host_cclass(ch) & HC_PRINT) {
            *d++ = static_cast<char>(ch);
        } else {
            *d++ = '^';
            *d++ = static_cast<char>(upper[ch] ^ 0x40);
        }
    }
    if (*s) {
        *d++ = '.';
        *d++ = '.';
        *d++ = '.';
    }
    *d = 0;
    const char* desc = current_op_desc(gcb);
    if (desc)
        category_warning(gcb, WARN_NUMERIC, "Argument \"%s\" isn't numeric in %s", display, desc);
    else
        category_warning(gcb, WARN_NUMERIC, "Argument \"%s\" isn't numeric", display);
}

// Whether the leading integer of a text lies in the 32-bit signed range, so
// that the host's text-to-integer conversion can take it; longer digit
// strings go through the text-to-double conversion.
bool fits_i32(const char* text)
{
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    while (host_is_space(*s))
        s++;
    bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        s++;
    while (*s == '0')
        s++;
    const uint8_t* d = s;
    while (host_is_digit(*s))
        s++;
    size_t n = static_cast<size_t>(s - d);
    if (n != 10)
        return n < 10;
    return std::memcmp(d, negative ? "2147483648" : "2147483647", 10) <= 0;
}

// The integer of an integer text.
int64_t text_int(PERLGCB* gcb, const char* text)
{
    if (fits_i32(text))
        return prx_atoi(text);
    return nv_to_iv(gcb, prx_atof(text));
}

inline void integer_on(PERLGCB* gcb, SV* sv)
{
    undo_offset(gcb, sv);
    sv->flags |= SVf_IOK | SVp_IOK;
}
inline void double_on(SV* sv) { sv->flags |= SVf_NOK | SVp_NOK; }
void integer_only(PERLGCB* gcb, SV* sv)
{
    clear_value_flags(sv);
    undo_offset(gcb, sv);
    sv->flags |= SVf_IOK | SVp_IOK;
}
void unsigned_only(PERLGCB* gcb, SV* sv)
{
    integer_only(gcb, sv);
    sv->flags |= SVf_IsUV;
}
void double_only(PERLGCB* gcb, SV* sv)
{
    clear_value_flags(sv);
    undo_offset(gcb, sv);
    sv->flags |= SVf_NOK | SVp_NOK;
}

// The integer cached beside a double: signed below 2147483647.5, else the
// unsigned saturation.
void cache_int_of_double(PERLGCB* gcb, SV* sv)
{
    double nv = sv_nv(sv);
    if (nv < 2147483647.5) {
        sv_iv(sv) = nv_to_iv(gcb, nv);
    } else {
        sv_iv(sv) = static_cast<int64_t>(nv_to_uv(gcb, nv));
        sv->flags |= SVf_IsUV;
    }
}

// The unsigned conversion's rule: below -0.5 the signed integer.
void cache_uint_of_double(PERLGCB* gcb, SV* sv)
{
    double nv = sv_nv(sv);
    if (nv < -0.5) {
        sv_iv(sv) = nv_to_iv(gcb, nv);
    } else {
        sv_iv(sv) = static_cast<int64_t>(nv_to_uv(gcb, nv));
        sv->flags |= SVf_IsUV;
    }
}

// The conversions' caching steps; cache is cache_int_of_double or
// cache_uint_of_double, the rule of the conversion's own sign.

// A double without a valid integer: the integer slot from the double.
void integer_from_double(PERLGCB* gcb, SV* sv, void (*cache)(PERLGCB*, SV*))
{
    if (sv_type(sv) == SVt_NV)
        sv_upgrade_body(gcb, sv, SVt_PVNV);
    integer_on(gcb, sv);
    cache(gcb, sv);
}

// Whether a numeric text of class cls is taken through a double: it is no
// integer, or its integer is outside the 32-bit range.
bool text_needs_double(SV* sv, uint32_t cls)
{
    return (cls & NUMCLASS_NOT_INT) || (cls && !fits_i32(sv_pv(sv)));
}

// A text taken through a double: both the double and the integer slot.
void double_and_integer_from_text(PERLGCB* gcb, SV* sv, void (*cache)(PERLGCB*, SV*))
{
    double d = prx_atof(sv_pv(sv));
    if (sv_type(sv) < SVt_PVNV)
        sv_upgrade_body(gcb, sv, SVt_PVNV);
    sv_nv(sv) = d;
    double_on(sv);
    integer_on(gcb, sv);
    cache(gcb, sv);
}

// A read-only value with no value at all (the immortal undefined value):
// true after the uninitialized report; the conversion answers 0.
bool readonly_undefined(PERLGCB* gcb, SV* sv)
{
    if (!(sv->flags & SVf_READONLY) || (sv->flags & VALUE_PRESENT))
        return false;
    if (warn_enabled(gcb, WARN_UNINITIALIZED))
        report_uninitialized(gcb);
    return true;
}

// The end of an integer conversion of a value with nothing to convert: the
// uninitialized report, and an empty value becomes an integer body.
void integer_of_nothing(PERLGCB* gcb, SV* sv)
{
    uninitialized(gcb, sv);
    if (sv_type(sv) == SVt_NULL)
        sv_upgrade_body(gcb, sv, SVt_IV);
}

// An overloaded conversion's result that refers to something else than the
// value's referent, or null.
SV* overloaded(PERLGCB* gcb, SV* sv, int32_t method)
{
    if (!(sv->flags & SVf_OVERLOAD))
        return nullptr;
    SV* tmp = overload_call_operator(gcb, sv, &gcb->sv_undef, method, AMGf_noright | AMGf_unary);
    if (!tmp || ((tmp->flags & SVf_ROK) && sv_rv(tmp) == sv_rv(sv)))
        return nullptr;
    return tmp;
}

bool string_truth(SV* sv)
{
    const char* pv = sv_pv(sv);
    if (!sv->any || !pv)
        return false;
    if (static_cast<uint8_t>(pv[0]) >= '1')
        return true;
    uint64_t cur = sv_cur(sv);
    return !(cur == 0 || (cur == 1 && pv[0] == '0'));
}

bool has_full_stop(SV* sv)
{
    return std::memchr(sv_pv(sv), '.', sv_cur(sv)) != nullptr;
}

// The string increment of ++, in place.
void increment_string(PERLGCB* gcb, SV* sv)
{
    char* pv = sv_pv(sv);
    uint8_t* d = reinterpret_cast<uint8_t*>(pv);
    while (host_is_alpha(*d))
        d++;
    while (host_is_digit(*d))
        d++;
    if (*d) {
        sv_set_double(gcb, sv, prx_atof(pv) + 1.0);
        return;
    }
    uint8_t* start = reinterpret_cast<uint8_t*>(pv);
    for (d--; d >= start; d--) {
        if (host_is_digit(*d)) {
            if (++*d <= '9')
                return;
            *d = '0';
        } else {
            uint8_t before = *d;
            ++*d;
            if (host_is_alpha(*d))
                return;
            *d = static_cast<uint8_t>(before - 25);
        }
    }
    // The carry passed the first byte: the string grows by one at the front.
    uint64_t cur = sv_cur(sv);
    if (sv_len(sv) < cur + 2)
        sv_grow_buffer(gcb, sv, cur + 2);
    char* p = sv_pv(sv);
    sv_cur(sv) = cur + 1;
    for (uint64_t i = cur + 1; i > 0; i--)
        p[i] = p[i - 1];
    p[0] = host_is_digit(static_cast<uint8_t>(p[1])) ? '1' : p[1];
}

// Steps 1 to 3 of ++ and --: get-magic, the read-only check, references.
// True when an overloaded operator did the work.
bool prepare_step(PERLGCB* gcb, SV* sv, int32_t method)
{
    if (sv->flags & SVs_GMG)
        mg_call_get(gcb, sv);
    if ((sv->flags & SVf_READONLY) && !in_compile_statement(gcb))
        croak_readonly(gcb);
    if (sv->flags & SVf_ROK) {
        if ((sv->flags & SVf_OVERLOAD) &&
            overload_call_operator(gcb, sv, &gcb->sv_undef, method, AMGf_noright | AMGf_unary))
            return true;
        SV* referent = sv_rv(sv);
        sv_drop_reference(gcb, sv);
        sv_set_int(gcb, sv, static_cast<int64_t>(reinterpret_cast<uintptr_t>(referent)));
    }
    return false;
}

}  // namespace

uint32_t sv_number_class(PERLGCB* gcb, SV* sv)
{
    const char* text;
    uint64_t len;
    if (sv->flags & SVf_POK) {
        text = sv_pv(sv);
        len = sv_cur(sv);
    } else {
        if (!(sv->flags & SVp_POK))
            return NUMCLASS_INT;
        text = sv_to_string(gcb, sv, &len);
    }
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    const uint8_t* p = s;
    const uint8_t* end = s + len;
    uint32_t cls = 0;
    while (p < end && host_is_space(*p))
        p++;
    if (p < end && *p == '-') {
        cls |= NUMCLASS_NEG;
        p++;
    } else if (p < end && *p == '+') {
        p++;
    }
    bool infinity = false;
    if (p < end && host_is_digit(*p)) {
        const uint8_t* digits = p;
        while (p < end && host_is_digit(*p))
            p++;
        cls |= p - digits > 19 ? NUMCLASS_DOUBLE | NUMCLASS_NOT_INT : NUMCLASS_INT;
        if (p < end && *p == '.') {
            cls |= NUMCLASS_NOT_INT;
            p++;
            while (p < end && host_is_digit(*p))
                p++;
        }
    } else if (p < end && *p == '.') {
        p++;
        if (!(p < end && host_is_digit(*p)))
            return 0;
        cls |= NUMCLASS_INT | NUMCLASS_NOT_INT;
        while (p < end && host_is_digit(*p))
            p++;
    } else {
        const uint8_t* upper = g_host_vector->upper;
        auto word = [&](const char* w) {
            const uint8_t* q = p;
            for (; *w; w++, q++)
                if (q >= end || upper[*q] != static_cast<uint8_t>(*w))
                    return false;
            p = q;
            return true;
        };
        if (!word("INF"))
            return 0;
        word("INITY");
        cls = NUMCLASS_INF;
        infinity = true;
    }
    if (!infinity && p < end && (*p == 'e' || *p == 'E')) {
        cls &= ~NUMCLASS_NEG;
        cls |= NUMCLASS_DOUBLE | NUMCLASS_NOT_INT;
        p++;
        if (p < end && (*p == '-' || *p == '+'))
            p++;
        if (!(p < end && host_is_digit(*p)))
            return 0;
        while (p < end && host_is_digit(*p))
            p++;
    }
    while (p < end && host_is_space(*p))
        p++;
    if (p >= end)
        return cls;
    if (len == 10 && std::memcmp(text, "0 but true", 10) == 0)
        return NUMCLASS_INT;
    return 0;
}

namespace {

// The conversion ladder of sv_to_int (UNSIGNED false) and sv_to_uint (true):
// get magic, then overloading or the referent's address, then the cached
// integer, the double, the text, and nothing. The steps differ by sign only
// in the conversions of a double and of a text; the result is the integer's
// 64 bits either way.
template <bool UNSIGNED>
uint64_t integer_ladder(PERLGCB* gcb, SV* sv)
{
    if (!sv)
        return 0;
    auto of_double = [&](double v) {
        return UNSIGNED ? nv_to_uv(gcb, v) : static_cast<uint64_t>(nv_to_iv(gcb, v));
    };
    if (sv->flags & SVs_GMG) {
        mg_call_get(gcb, sv);
        if (sv->flags & SVp_IOK)
            return sv_uv(sv);
        if (sv->flags & SVp_NOK)
            return of_double(sv_nv(sv));
        if ((sv->flags & SVp_POK) && sv_len(sv)) {
            uint32_t cls = sv_number_class(gcb, sv);
            // A signed integer text is read as an integer; anything else
            // through a double.
            if (!UNSIGNED && (cls & NUMCLASS_INT))
                return static_cast<uint64_t>(text_int(gcb, sv_pv(sv)));
            if (!cls)
                not_a_number(gcb, sv);
            return of_double(prx_atof(sv_pv(sv)));
        }
        if (!(sv->flags & SVf_ROK)) {
            uninitialized(gcb, sv);
            return 0;
        }
    }
    if (sv->flags & SV_THINK_FIRST) {
        if (sv->flags & SVf_ROK) {
            if (SV* tmp = overloaded(gcb, sv, AMG_NUMBER))
                return (tmp->flags & SVf_IOK) ? sv_uv(tmp) : integer_ladder<UNSIGNED>(gcb, tmp);
            return reinterpret_cast<uintptr_t>(sv_rv(sv));
        }
        if (readonly_undefined(gcb, sv))
            return 0;
    }
    if (sv->flags & SVp_IOK)
        return sv_uv(sv);
    void (*cache)(PERLGCB*, SV*) = UNSIGNED ? cache_uint_of_double : cache_int_of_double;
    if (sv->flags & SVp_NOK) {
        integer_from_double(gcb, sv, cache);
        return sv_uv(sv);
    }
    if ((sv->flags & SVp_POK) && sv_len(sv)) {
        uint32_t cls = sv_number_class(gcb, sv);
        if (text_needs_double(sv, cls)) {
            double_and_integer_from_text(gcb, sv, cache);
            return sv_uv(sv);
        }
        if (sv_type(sv) < SVt_PVIV)
            sv_upgrade_body(gcb, sv, SVt_PVIV);
        integer_on(gcb, sv);
        if (!UNSIGNED || (cls & NUMCLASS_NEG)) {
            sv_iv(sv) = prx_atoi(sv_pv(sv));
        } else {
            // An unsigned reading of a non-negative text; no number at all
            // reads as 0.
            sv->flags |= SVf_IsUV;
            sv_iv(sv) = cls ? prx_atoi(sv_pv(sv)) : 0;
        }
        if (!cls)
            not_a_number(gcb, sv);
        return sv_uv(sv);
    }
    integer_of_nothing(gcb, sv);
    return 0;
}

}  // namespace

int64_t sv_to_int(PERLGCB* gcb, SV* sv) { return static_cast<int64_t>(integer_ladder<false>(gcb, sv)); }

uint64_t sv_to_uint(PERLGCB* gcb, SV* sv) { return integer_ladder<true>(gcb, sv); }

double sv_to_double(PERLGCB* gcb, SV* sv)
{
    if (!sv)
        return 0.0;
    if (sv->flags & SVs_GMG) {
        mg_call_get(gcb, sv);
        if (sv->flags & SVp_NOK)
            return sv_nv(sv);
        if ((sv->flags & SVp_POK) && sv_len(sv)) {
            if (!(sv->flags & SVp_IOK) && !sv_number_class(gcb, sv))
                not_a_number(gcb, sv);
            return prx_atof(sv_pv(sv));
        }
        if (sv->flags & SVp_IOK)
            return (sv->flags & SVf_IsUV) ? static_cast<double>(sv_uv(sv)) : static_cast<double>(sv_iv(sv));
        if (!(sv->flags & SVf_ROK)) {
            uninitialized(gcb, sv);
            return 0.0;
        }
    }
    if (sv->flags & SV_THINK_FIRST) {
        if (sv->flags & SVf_ROK) {
            if (SV* tmp = overloaded(gcb, sv, AMG_NUMBER))
                return (tmp->flags & SVf_NOK) ? sv_nv(tmp) : sv_to_double(gcb, tmp);
            return static_cast<double>(reinterpret_cast<uintptr_t>(sv_rv(sv)));
        }
        if (readonly_undefined(gcb, sv))
            return 0.0;
    }
    uint32_t type = sv_type(sv);
    if (type == SVt_NULL)
        sv_upgrade_body(gcb, sv, SVt_NV);
    else if (type >= SVt_IV && type <= SVt_PVIV)
        sv_upgrade_body(gcb, sv, SVt_PVNV);
    if ((sv->flags & SVp_IOK) &&
        (!(sv->flags & SVp_POK) || !has_full_stop(sv) || !sv_number_class(gcb, sv))) {
        sv_nv(sv) = (sv->flags & SVf_IsUV) ? static_cast<double>(sv_uv(sv)) : static_cast<double>(sv_iv(sv));
    } else if ((sv->flags & SVp_POK) && sv_len(sv)) {
        if (!(sv->flags & SVp_IOK) && !sv_number_class(gcb, sv))
            not_a_number(gcb, sv);
        sv_nv(sv) = prx_atof(sv_pv(sv));
    } else {
        uninitialized(gcb, sv);
        return 0.0;
    }
    double_on(sv);
    return sv_nv(sv);
}

bool sv_is_true(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVs_GMG)
        mg_call_get(gcb, sv);
    if (!(sv->flags & VALUE_PRESENT))
        return false;
    if (sv->flags & SVf_ROK) {
        if (SV* tmp = overloaded(gcb, sv, AMG_BOOL)) {
            if (tmp->flags & SVf_POK)
                return string_truth(tmp);
            if (tmp->flags & SVf_IOK)
                return sv_iv(tmp) != 0;
            if (tmp->flags & SVf_NOK)
                return sv_nv(tmp) != 0.0;
            return sv_is_true(gcb, tmp);
        }
        return sv_rv(sv) != nullptr;
    }
    if (sv->flags & SVp_POK)
        return string_truth(sv);
    if (sv->flags & SVp_IOK)
        return sv_iv(sv) != 0;
    if (sv->flags & SVp_NOK)
        return sv_nv(sv) != 0.0;
    return false;
}

void sv_increment(PERLGCB* gcb, SV* sv)
{
    if (!sv || prepare_step(gcb, sv, AMG_INC))
        return;
    uint32_t flags = sv->flags;
    if (flags & SVp_NOK) {
        double nv = sv_nv(sv) + 1.0;
        double_only(gcb, sv);
        sv_nv(sv) = nv;
        return;
    }
    if (flags & SVp_IOK) {
        if (flags & SVf_IsUV) {
            if (sv_uv(sv) == 4294967295u) {
                sv_set_double(gcb, sv, 4294967296.0);
            } else {
                uint64_t next = sv_uv(sv) + 1;
                unsigned_only(gcb, sv);
                sv_iv(sv) = static_cast<int64_t>(next);
            }
        } else if (sv_iv(sv) == 2147483647) {
            sv_set_double(gcb, sv, 2147483648.0);
        } else {
            uint64_t next = sv_uv(sv) + 1;
            integer_only(gcb, sv);
            sv_iv(sv) = static_cast<int64_t>(next);
        }
        return;
    }
    if ((flags & SVp_POK) && sv_pv(sv) && sv_pv(sv)[0]) {
        increment_string(gcb, sv);
        return;
    }
    if (sv_type(sv) < SVt_PVNV)
        sv_upgrade_body(gcb, sv, SVt_NV);
    sv_nv(sv) = 1.0;
    double_only(gcb, sv);
}

void sv_decrement(PERLGCB* gcb, SV* sv)
{
    if (!sv || prepare_step(gcb, sv, AMG_DEC))
        return;
    uint32_t flags = sv->flags;
    if (flags & SVp_NOK) {
        double nv = sv_nv(sv) - 1.0;
        double_only(gcb, sv);
        sv_nv(sv) = nv;
        return;
    }
    if (flags & SVp_IOK) {
        if (flags & SVf_IsUV) {
            if (sv_uv(sv) == 0) {
                integer_only(gcb, sv);
                sv_iv(sv) = -1;
            } else {
                uint64_t next = sv_uv(sv) - 1;
                unsigned_only(gcb, sv);
                sv_iv(sv) = static_cast<int64_t>(next);
            }
        } else if (sv_iv(sv) == -2147483648LL) {
            sv_set_double(gcb, sv, -2147483649.0);
        } else {
            uint64_t next = sv_uv(sv) - 1;
            integer_only(gcb, sv);
            sv_iv(sv) = static_cast<int64_t>(next);
        }
        return;
    }
    if (flags & SVp_POK) {
        sv_set_double(gcb, sv, prx_atof(sv_pv(sv)) - 1.0);
        return;
    }
    if (sv_type(sv) < SVt_PVNV)
        sv_upgrade_body(gcb, sv, SVt_NV);
    sv_nv(sv) = -1.0;
    double_only(gcb, sv);
}

int64_t sv_int_value(PERLGCB* gcb, SV* sv)
{
    return sv && (sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv);
}

uint64_t sv_uint_value(PERLGCB* gcb, SV* sv)
{
    return sv && (sv->flags & SVf_IOK) ? sv_uv(sv) : sv_to_uint(gcb, sv);
}

double sv_double_value(PERLGCB* gcb, SV* sv)
{
    return sv && (sv->flags & SVf_NOK) ? sv_nv(sv) : sv_to_double(gcb, sv);
}
