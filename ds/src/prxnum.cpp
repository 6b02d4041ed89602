// Number scanning and numeric conversion: saturating double-to-integer
// conversions, digit-string scanners, and the power and exponential
// functions with their structured exceptions.
#include "prxnum.h"

#include <bit>
#include <cmath>

#include "prxmsg.h"

int32_t nv_to_i32(PERLGCB*, double v)
{
    if (v >= 2147483647.0)
        return 2147483647;
    if (v <= -2147483648.0 || v != v)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

int64_t nv_to_iv(PERLGCB*, double v)
{
    if (v >= 2147483647.0)
        return v >= 4294967295.0 ? 4294967295 : static_cast<int64_t>(v);
    if (v <= -2147483648.0)
        return -2147483648;
    if (v != v)
        return INT64_MIN;
    return static_cast<int64_t>(v);
}

uint64_t nv_to_uv(PERLGCB*, double v)
{
    if (v >= 4294967295.0)
        return 4294967295u;
    if (v >= 0.0)
        return static_cast<uint64_t>(v);
    if (v < -2147483648.0)
        return 0 - static_cast<uint64_t>(2147483648u);
    if (v != v)
        return 0x8000000000000000ull;
    return 0 - static_cast<uint64_t>(static_cast<int64_t>(-v));
}

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef0123456789ABCDEF";

struct ScanBase {
    uint32_t bits;             // per digit
    char prefix;               // skipped once while the value is 0, or 0
    const char* illegal;       // illegal-digit message
    const char* overflow;      // overflow message
    const char* nonportable;   // non-portable message
};

constexpr ScanBase BINARY = {1, 'b', "Illegal binary digit '%c' ignored", "Integer overflow in binary number",
                             "Binary number > 0b11111111111111111111111111111111 non-portable"};
constexpr ScanBase OCTAL = {3, 0, "Illegal octal digit '%c' ignored", "Integer overflow in octal number",
                            "Octal number > 037777777777 non-portable"};
constexpr ScanBase HEXADECIMAL = {4, 'x', "Illegal hexadecimal digit '%c' ignored",
                                  "Integer overflow in hexadecimal number",
                                  "Hexadecimal number > 0xffffffff non-portable"};

// The value of a digit of the base, or -1.
int32_t digit_value(PERLGCB* gcb, const ScanBase& sb, char c)
{
    if (sb.bits == 1)
        return c == '0' || c == '1' ? c - '0' : -1;
    if (sb.bits == 3)
        return c >= '0' && c <= '7' ? c - '0' : -1;
    if (c == 0)
        return -1;
    const char* table = gcb->hex_digits ? gcb->hex_digits : HEX_DIGITS;
    for (int32_t i = 0; i < 32; i++)
        if (table[i] == c)
            return i % 16;
    return -1;
}

double scan_digits(PERLGCB* gcb, const ScanBase& sb, const char* start, uint64_t len, uint64_t* retlen)
{
    bool underscores = *retlen != 0;
    const double base = static_cast<double>(1u << sb.bits);
    const char* s = start;
    uint64_t value = 0;
    double nv = 0.0;
    bool overflowed = false;
    bool seen_prefix = false;
    for (; len && *s; len--, s++) {
        int32_t digit = digit_value(gcb, sb, *s);
        if (digit < 0 && *s == '_' && underscores && len > 1 && digit_value(gcb, sb, s[1]) >= 0) {
            s++;
            len--;
            digit = digit_value(gcb, sb, *s);
        }
        if (digit >= 0) {
            if (!overflowed) {
                uint64_t shifted = value << sb.bits;
                if ((shifted >> sb.bits) != value) {
                    overflowed = true;
                    nv = static_cast<double>(value);
                    if (warn_enabled_default(gcb, WARN_OVERFLOW))
                        category_warning(gcb, WARN_OVERFLOW, sb.overflow);
                } else {
                    value = shifted | static_cast<uint64_t>(digit);
                }
            }
            if (overflowed)
                nv = nv * base + digit;
            continue;
        }
        if (sb.prefix && *s == sb.prefix && !seen_prefix && value == 0 && !overflowed) {
            seen_prefix = true;
            continue;
        }
        // Octal complains only about 8 and 9; the others about every byte.
        bool complain = sb.bits != 3 || *s == '8' || *s == '9';
        if (complain && warn_enabled(gcb, WARN_DIGIT))
            category_warning(gcb, WARN_DIGIT, sb.illegal, *s);
        break;
    }
    if (!overflowed) {
        nv = static_cast<double>(value);
        if (value > 0xFFFFFFFFull && warn_enabled(gcb, WARN_PORTABLE))
            category_warning(gcb, WARN_PORTABLE, sb.nonportable);
    } else if (nv > 4294967295.0 && warn_enabled(gcb, WARN_PORTABLE)) {
        category_warning(gcb, WARN_PORTABLE, sb.nonportable);
    }
    *retlen = static_cast<uint64_t>(s - start);
    return nv;
}

double bits_double(uint64_t bits) { return std::bit_cast<double>(bits); }

constexpr double LARGEST = 1.7976931348623157e308;

// ---- x ** y for a non-integral y ------------------------------------------------
// x ** y is 2 ** (y * log2 x). A double cannot hold log2 x precisely enough for
// that product (its error grows with y), so both steps work on a head and a
// tail: the head is a double whose low 32 significand bits are zero, which
// makes the product of two heads exact, and the tail holds what the head
// leaves. The constants are those of the fdlibm power algorithm.

uint32_t hi_word(double x) { return static_cast<uint32_t>(std::bit_cast<uint64_t>(x) >> 32); }
uint32_t lo_word(double x) { return static_cast<uint32_t>(std::bit_cast<uint64_t>(x)); }
double with_lo(double x, uint32_t lo)
{
    return std::bit_cast<double>((std::bit_cast<uint64_t>(x) & 0xFFFFFFFF00000000ull) | lo);
}
double with_hi(double x, uint32_t hi)
{
    return std::bit_cast<double>((std::bit_cast<uint64_t>(x) & 0xFFFFFFFFull) | (static_cast<uint64_t>(hi) << 32));
}
// x cut to its top 21 significand bits.
double head_of(double x) { return with_lo(x, 0); }

struct HeadTail {
    double head;   // low 32 significand bits zero
    double tail;
};

// Centres of the reduced argument (bp), and their base-2 logarithms as head
// (dp_h) and tail (dp_l).
constexpr double bp[] = {1.0, 1.5};
constexpr double dp_h[] = {0.0, 5.84962487220764160156e-01};
constexpr double dp_l[] = {0.0, 1.35003920212974897128e-08};
constexpr double two53 = 9007199254740992.0;
// Results beyond the range: their squares overflow to +infinity or round to 0.
constexpr double huge = 1.0e300, tiny = 1.0e-300;
// 2 / (3 ln 2), in full and as head and tail.
constexpr double cp = 9.61796693925975554329e-01, cp_h = 9.61796700954437255859e-01,
                 cp_l = -7.02846165095275826516e-09;
// ln 2, in full and as head and tail.
constexpr double lg2 = 6.93147180559945286227e-01, lg2_h = 6.93147182464599609375e-01,
                 lg2_l = -1.90465429995776804525e-09;
// How far below 1024 a sum may round up to exactly 1024 and still not overflow.
constexpr double ovt = 8.0085662595372944372e-17;
// The logarithm's series beyond its first two terms.
constexpr double L1 = 5.99999999999994648725e-01, L2 = 4.28571428578550184252e-01,
                 L3 = 3.33333329818377432918e-01, L4 = 2.72728123808534006489e-01,
                 L5 = 2.30660745775561754067e-01, L6 = 2.06975017800338417784e-01;
// The exponential's rational approximation.
constexpr double P1 = 1.66666666666666019037e-01, P2 = -2.77777777770155933842e-03,
                 P3 = 6.61375632143793436117e-05, P4 = -1.65339022054652515390e-06,
                 P5 = 4.13813679705723846039e-08;

// log2 x of a finite x above 0.
HeadTail log2_extended(double x)
{
    // x = 2**e * m, m taken near one of the centres c: m in [1, sqrt(3/2)]
    // is near 1, m below sqrt(3) near 1.5, and a larger m is halved to lie
    // just below 1.
    int32_t e = 0;
    int32_t word = static_cast<int32_t>(hi_word(x));
    if (word < 0x00100000) {
        x *= two53;   // a subnormal x is made normal first
        e = -53;
        word = static_cast<int32_t>(hi_word(x));
    }
    e += (word >> 20) - 0x3ff;
    int32_t fraction = word & 0x000fffff;
    int32_t c = 0;
    word = fraction | 0x3ff00000;
    if (fraction > 0x3988E) {
        if (fraction < 0xBB67A) {
            c = 1;
        } else {
            e += 1;
            word -= 0x00100000;
        }
    }
    double m = with_hi(x, static_cast<uint32_t>(word));

    // ln(m / c) = 2 atanh(s) = 2 (s + s^3/3 + s^5/5 + ...) with
    // s = (m - c) / (m + c), |s| < 0.1. The sum is formed as s * q, q = 3 + s^2 + r,
    // which is 3/2 ln(m / c); s and q both as head and tail.
    double num = m - bp[c];
    double inv = 1.0 / (m + bp[c]);
    double s = num * inv;
    double s_head = head_of(s);
    // m + c cut to 20 fraction bits, made from m's exponent word (so that it
    // needs no rounding), and the rest of m + c.
    double sum_head =
        with_hi(0.0, static_cast<uint32_t>(((word >> 1) | 0x20000000) + 0x00080000 + (c << 18)));
    double sum_tail = m - (sum_head - bp[c]);
    // s_head + s_tail is s to about twice a double's precision.
    double s_tail = inv * ((num - s_head * sum_head) - s_head * sum_tail);

    double s2 = s * s;
    double r = s2 * s2 * (L1 + s2 * (L2 + s2 * (L3 + s2 * (L4 + s2 * (L5 + s2 * L6)))));
    r += s_tail * (s_head + s);
    double sh2 = s_head * s_head;
    double q_head = head_of(3.0 + sh2 + r);
    double q_tail = r - ((q_head - 3.0) - sh2);

    double u = s_head * q_head;
    double v = s_tail * q_head + q_tail * s;
    double p_head = head_of(u + v);
    double p_tail = v - (p_head - u);

    // Times 2 / (3 ln 2) gives log2(m / c); log2 c and e are added on.
    double z_head = cp_h * p_head;
    double z_tail = cp_l * p_head + p_tail * cp + dp_l[c];
    double te = static_cast<double>(e);
    double head = head_of(((z_head + z_tail) + dp_h[c]) + te);
    double tail = z_tail - (((head - te) - dp_h[c]) - z_head);
    return {head, tail};
}

// 2 ** (y * lg), lg as head and tail.
double exp2_of_product(double y, HeadTail lg)
{
    // y * lg = hi + lo: the product of the heads is exact.
    double y_head = head_of(y);
    double lo = (y - y_head) * lg.head + y * lg.tail;
    double hi = y_head * lg.head;
    double z = lo + hi;

    // Out of range: 2 ** 1024 overflows, 2 ** -1075 and below rounds to 0. A
    // sum of exactly 1024 or -1075 decides by what its rounding lost.
    int32_t word = static_cast<int32_t>(hi_word(z));
    int32_t low = static_cast<int32_t>(lo_word(z));
    if (word >= 0x40900000) {
        if (((word - 0x40900000) | low) != 0)
            return huge * huge;
        if (lo + ovt > z - hi)
            return huge * huge;
    } else if ((word & 0x7fffffff) >= 0x4090cc00) {
        if (((word - static_cast<int32_t>(0xc090cc00u)) | low) != 0)
            return tiny * tiny;
        if (lo <= z - hi)
            return tiny * tiny;
    }

    // z = n + f with n the integer nearest z: adding a half at z's scale to
    // its exponent word and clearing the fraction bits below the units gives
    // n, which comes off hi exactly.
    int32_t magnitude = word & 0x7fffffff;
    int32_t n = 0;
    if (magnitude > 0x3fe00000) {
        int32_t scale = (magnitude >> 20) - 0x3ff;
        int32_t rounded = word + (0x00100000 >> (scale + 1));
        scale = ((rounded & 0x7fffffff) >> 20) - 0x3ff;
        double whole = with_hi(0.0, static_cast<uint32_t>(rounded & ~(0x000fffff >> scale)));
        n = ((rounded & 0x000fffff) | 0x00100000) >> (20 - scale);
        if (word < 0)
            n = -n;
        hi -= whole;
    }

    // 2 ** f = e ** g with g = f ln 2, again as head and tail; then
    // e ** g = 1 + g + g * c / (2 - c) with c = g - g^2 (P1 + g^2 P2 + ...).
    double f_head = head_of(lo + hi);
    double u = f_head * lg2_h;
    double v = (lo - (f_head - hi)) * lg2 + f_head * lg2_l;
    double g = u + v;
    double g_tail = v - (g - u);
    double g2 = g * g;
    double c = g - g2 * (P1 + g2 * (P2 + g2 * (P3 + g2 * (P4 + g2 * P5))));
    double r = (g * c) / (c - 2.0) - (g_tail + g * g_tail);
    double result = 1.0 - (r - g);

    // Times 2 ** n, in the exponent word unless the result is subnormal.
    int32_t scaled = static_cast<int32_t>(hi_word(result) + (static_cast<uint32_t>(n) << 20));
    if ((scaled >> 20) <= 0)
        return std::scalbn(result, n);
    return with_hi(result, static_cast<uint32_t>(scaled));
}

// x ** y for the exponents the integer path leaves: y not integral with
// |y| < 2**31, or NaN, and x above 0 (infinity included) or NaN. A negative
// base has been refused by the caller.
double pow_non_integral(double x, double y)
{
    if (x != x || y != y)
        return x + y;
    if (y == 0.5)
        return std::sqrt(x);
    if (x == HUGE_VAL || x == 1.0)
        return y < 0.0 ? 1.0 / x : x;
    return exp2_of_product(y, log2_extended(x));
}

}  // namespace

double scan_binary(PERLGCB* gcb, const char* start, uint64_t len, uint64_t* retlen)
{
    return scan_digits(gcb, BINARY, start, len, retlen);
}

double scan_octal(PERLGCB* gcb, const char* start, uint64_t len, uint64_t* retlen)
{
    return scan_digits(gcb, OCTAL, start, len, retlen);
}

double scan_hexadecimal(PERLGCB* gcb, const char* start, uint64_t len, uint64_t* retlen)
{
    return scan_digits(gcb, HEXADECIMAL, start, len, retlen);
}

double prx_exp(double x)
{
    if (x != x)
        return x;
    if (x > bits_double(0x40862E42FEFA3A24ull)) {
        platform_raise_exception(EXC_FLT_OVERFLOW, 0, 0, nullptr);
        return LARGEST * LARGEST;   // the scaling overflows to +infinity
    }
    if (x < bits_double(0xC086232BDD76683Cull))
        return 0.0;
    if (std::fabs(x) < bits_double(0x3BDFFFFFAA96DD5Bull))
        return 1.0;
    int32_t n = static_cast<int32_t>(std::fabs(x) * 1.4426950408889634 + 0.5);
    if (x < 0)
        n = -n;
    double g = n * -0.6931471805599453 + x;
    double z = g * g;
    double p = ((1.6520330026827912e-05 * z + 0.006943600015117929) * z + 0.25) * g;
    double q = (0.0004958628849054413 * z + 0.05555386669690012) * z + 0.5;
    double r = 0.5 + p / (q - p);
    uint64_t bits = std::bit_cast<uint64_t>(r);
    int64_t e = static_cast<int64_t>((bits >> 52) & 0x7FF) + n + 1;
    if (e >= 2047)
        return LARGEST * LARGEST;
    if (e <= 0)
        return 0.0;
    bits = (bits & ~(0x7FFull << 52)) | (static_cast<uint64_t>(e) << 52);
    return std::bit_cast<double>(bits);
}

double prx_pow(double x, double y)
{
    // A zero base (either sign) gives 1 for a zero exponent and 0 for any
    // other, a negative or NaN exponent included; nothing is raised.
    if (x == 0.0)
        return y == 0.0 ? 1.0 : 0.0;
    if (y < -2147483647.0 || y > 2147483647.0) {
        double ax = x;
        bool negate = false;
        if (x < 0.0) {
            if (y != std::trunc(y)) {
                platform_raise_exception(EXC_INVALID_OPERAND, 0, 0, nullptr);
                return LARGEST;
            }
            // An integral exponent: the sign is the exponent's parity.
            ax = -x;
            negate = !std::isinf(y) && std::fmod(y, 2.0) != 0.0;
        }
        double t = std::log(ax) * y;
        double r;
        if (t > bits_double(0x40862E42FEFA39EFull)) {
            platform_raise_exception(EXC_FLT_OVERFLOW, 0, 0, nullptr);
            r = LARGEST;
        } else if (t < bits_double(0xC086232BDD76683Cull)) {
            r = 0.0;
        } else {
            r = prx_exp(t);
        }
        return negate ? -r : r;
    }
    if (y == std::trunc(y)) {
        int32_t n = static_cast<int32_t>(y);
        if (n < 0) {
            x = 1.0 / x;
            n = -n;
        }
        double r = 1.0;
        while (n) {
            if (n & 1)
                r *= x;
            n >>= 1;
            if (n)
                x *= x;
        }
        return r;
    }
    if (x < 0.0) {
        platform_raise_exception(EXC_INVALID_OPERAND, 0, 0, nullptr);
        return LARGEST;
    }
    return pow_non_integral(x, y);
}
