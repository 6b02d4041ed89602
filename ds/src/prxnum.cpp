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

// The fdlibm power algorithm (e_pow) for the cases the callers leave to it.
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

double fdlibm_pow(double x, double y)
{
    static constexpr double bp[] = {1.0, 1.5};
    static constexpr double dp_h[] = {0.0, 5.84962487220764160156e-01};
    static constexpr double dp_l[] = {0.0, 1.35003920212974897128e-08};
    constexpr double zero = 0.0, one = 1.0, two = 2.0, two53 = 9007199254740992.0;
    constexpr double huge = 1.0e300, tiny = 1.0e-300;
    constexpr double L1 = 5.99999999999994648725e-01, L2 = 4.28571428578550184252e-01,
                     L3 = 3.33333329818377432918e-01, L4 = 2.72728123808534006489e-01,
                     L5 = 2.30660745775561754067e-01, L6 = 2.06975017800338417784e-01;
    constexpr double P1 = 1.66666666666666019037e-01, P2 = -2.77777777770155933842e-03,
                     P3 = 6.61375632143793436117e-05, P4 = -1.65339022054652515390e-06,
                     P5 = 4.13813679705723846039e-08;
    constexpr double lg2 = 6.93147180559945286227e-01, lg2_h = 6.93147182464599609375e-01,
                     lg2_l = -1.90465429995776804525e-09;
    constexpr double ovt = 8.0085662595372944372e-17;
    constexpr double cp = 9.61796693925975554329e-01, cp_h = 9.61796700954437255859e-01,
                     cp_l = -7.02846165095275826516e-09;
    constexpr double ivln2 = 1.44269504088896338700e+00, ivln2_h = 1.44269502162933349609e+00,
                     ivln2_l = 1.92596299112661746887e-08;

    int32_t hx = static_cast<int32_t>(hi_word(x));
    uint32_t lx = lo_word(x);
    int32_t hy = static_cast<int32_t>(hi_word(y));
    uint32_t ly = lo_word(y);
    int32_t ix = hx & 0x7fffffff;
    int32_t iy = hy & 0x7fffffff;

    if ((static_cast<uint32_t>(iy) | ly) == 0)
        return one;
    if (ix > 0x7ff00000 || (ix == 0x7ff00000 && lx != 0) || iy > 0x7ff00000 || (iy == 0x7ff00000 && ly != 0))
        return x + y;

    // yisint: 0 y not an integer, 1 an odd integer, 2 an even integer.
    int32_t yisint = 0;
    if (hx < 0) {
        if (iy >= 0x43400000) {
            yisint = 2;
        } else if (iy >= 0x3ff00000) {
            int32_t k = (iy >> 20) - 0x3ff;
            if (k > 20) {
                uint32_t j = ly >> (52 - k);
                if ((j << (52 - k)) == ly)
                    yisint = 2 - static_cast<int32_t>(j & 1);
            } else if (ly == 0) {
                int32_t j = iy >> (20 - k);
                if ((j << (20 - k)) == iy)
                    yisint = 2 - (j & 1);
            }
        }
    }

    if (ly == 0) {
        if (iy == 0x7ff00000) {
            if (((ix - 0x3ff00000) | static_cast<int32_t>(lx)) == 0)
                return y - y;
            if (ix >= 0x3ff00000)
                return hy >= 0 ? y : zero;
            return hy < 0 ? -y : zero;
        }
        if (iy == 0x3ff00000)
            return hy < 0 ? one / x : x;
        if (hy == 0x40000000)
            return x * x;
        if (hy == 0x3fe00000 && hx >= 0)
            return std::sqrt(x);
    }

    double ax = std::fabs(x);
    if (lx == 0 && (ix == 0x7ff00000 || ix == 0 || ix == 0x3ff00000)) {
        double z = ax;
        if (hy < 0)
            z = one / z;
        if (hx < 0) {
            if (((ix - 0x3ff00000) | yisint) == 0)
                z = (z - z) / (z - z);
            else if (yisint == 1)
                z = -z;
        }
        return z;
    }

    int32_t n = (hx >> 31) + 1;
    if ((n | yisint) == 0)
        return (x - x) / (x - x);
    double s = one;
    if ((n | (yisint - 1)) == 0)
        s = -one;

    double t1, t2;
    if (iy > 0x41e00000) {
        if (iy > 0x43f00000) {
            if (ix <= 0x3fefffff)
                return hy < 0 ? huge * huge : tiny * tiny;
            if (ix >= 0x3ff00000)
                return hy > 0 ? huge * huge : tiny * tiny;
        }
        if (ix < 0x3fefffff)
            return hy < 0 ? s * huge * huge : s * tiny * tiny;
        if (ix > 0x3ff00000)
            return hy > 0 ? s * huge * huge : s * tiny * tiny;
        double t = ax - one;
        double w = (t * t) * (0.5 - t * (0.3333333333333333333333 - t * 0.25));
        double u = ivln2_h * t;
        double v = t * ivln2_l - w * ivln2;
        t1 = with_lo(u + v, 0);
        t2 = v - (t1 - u);
    } else {
        n = 0;
        if (ix < 0x00100000) {
            ax *= two53;
            n -= 53;
            ix = static_cast<int32_t>(hi_word(ax));
        }
        n += (ix >> 20) - 0x3ff;
        int32_t j = ix & 0x000fffff;
        int32_t k;
        ix = j | 0x3ff00000;
        if (j <= 0x3988E) {
            k = 0;
        } else if (j < 0xBB67A) {
            k = 1;
        } else {
            k = 0;
            n += 1;
            ix -= 0x00100000;
        }
        ax = with_hi(ax, static_cast<uint32_t>(ix));

        double u = ax - bp[k];
        double v = one / (ax + bp[k]);
        double ss = u * v;
        double s_h = with_lo(ss, 0);
        double t_h = with_hi(zero, static_cast<uint32_t>(((ix >> 1) | 0x20000000) + 0x00080000 + (k << 18)));
        double t_l = ax - (t_h - bp[k]);
        double s_l = v * ((u - s_h * t_h) - s_h * t_l);
        double s2 = ss * ss;
        double r = s2 * s2 * (L1 + s2 * (L2 + s2 * (L3 + s2 * (L4 + s2 * (L5 + s2 * L6)))));
        r += s_l * (s_h + ss);
        s2 = s_h * s_h;
        t_h = with_lo(3.0 + s2 + r, 0);
        t_l = r - ((t_h - 3.0) - s2);
        u = s_h * t_h;
        v = s_l * t_h + t_l * ss;
        double p_h = with_lo(u + v, 0);
        double p_l = v - (p_h - u);
        double z_h = cp_h * p_h;
        double z_l = cp_l * p_h + p_l * cp + dp_l[k];
        double t = static_cast<double>(n);
        t1 = with_lo(((z_h + z_l) + dp_h[k]) + t, 0);
        t2 = z_l - (((t1 - t) - dp_h[k]) - z_h);
    }

    double y1 = with_lo(y, 0);
    double p_l = (y - y1) * t1 + y * t2;
    double p_h = y1 * t1;
    double z = p_l + p_h;
    int32_t j = static_cast<int32_t>(hi_word(z));
    int32_t i = static_cast<int32_t>(lo_word(z));
    if (j >= 0x40900000) {
        if (((j - 0x40900000) | i) != 0)
            return s * huge * huge;
        if (p_l + ovt > z - p_h)
            return s * huge * huge;
    } else if ((j & 0x7fffffff) >= 0x4090cc00) {
        if (((j - static_cast<int32_t>(0xc090cc00u)) | i) != 0)
            return s * tiny * tiny;
        if (p_l <= z - p_h)
            return s * tiny * tiny;
    }
    i = j & 0x7fffffff;
    int32_t k = (i >> 20) - 0x3ff;
    n = 0;
    if (i > 0x3fe00000) {
        n = j + (0x00100000 >> (k + 1));
        k = ((n & 0x7fffffff) >> 20) - 0x3ff;
        double t = with_hi(zero, static_cast<uint32_t>(n & ~(0x000fffff >> k)));
        n = ((n & 0x000fffff) | 0x00100000) >> (20 - k);
        if (j < 0)
            n = -n;
        p_h -= t;
    }
    double t = with_lo(p_l + p_h, 0);
    double u = t * lg2_h;
    double v = (p_l - (t - p_h)) * lg2 + t * lg2_l;
    z = u + v;
    double w = v - (z - u);
    t = z * z;
    double t1b = z - t * (P1 + t * (P2 + t * (P3 + t * (P4 + t * P5))));
    double r = (z * t1b) / (t1b - two) - (w + z * w);
    z = one - (r - z);
    int32_t hz = static_cast<int32_t>(hi_word(z));
    hz += static_cast<int32_t>(static_cast<uint32_t>(n) << 20);
    if ((hz >> 20) <= 0)
        z = std::scalbn(z, n);
    else
        z = with_hi(z, static_cast<uint32_t>(hz));
    return s * z;
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
    if (x == 0.0) {
        if (y == 0.0)
            return 1.0;
        if (y != y)
            return y;
        if (y < 0.0) {
            platform_raise_exception(EXC_FLT_DIVIDE_BY_ZERO, 0, 0, nullptr);
            return LARGEST * LARGEST;
        }
        return 0.0;
    }
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
    return fdlibm_pow(x, y);
}
