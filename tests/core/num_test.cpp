// Saturating conversions, the digit scanners, and the power and exponential
// functions with their structured exceptions.
#include "fixture.h"

#include <bit>
#include <cfloat>
#include <cmath>

#include "ds/src/prxmsg.h"
#include "ds/src/prxnum.h"

namespace {

using prxtest::Interp;
using Num = Interp;

TEST_F(Num, SaturatingConversions)
{
    const double nan = std::nan("");
    struct Case {
        double v;
        int64_t iv;
        uint64_t uv;
        int32_t i32;
    } cases[] = {
        {3e9, 3000000000, 3000000000u, 2147483647},
        {5e9, 4294967295, 4294967295u, 2147483647},
        {-5e9, -2147483648, 0xFFFFFFFF80000000ull, INT32_MIN},
        {2147483647.9, 2147483647, 2147483647u, 2147483647},
        {-1.5, -1, 0xFFFFFFFFFFFFFFFFull, -1},
        {-2147483648.5, -2147483648, 0xFFFFFFFF80000000ull, INT32_MIN},
        {0.0, 0, 0, 0},
        {4294967294.9, 4294967294, 4294967294u, 2147483647},
        {nan, INT64_MIN, 0x8000000000000000ull, INT32_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nv_to_iv(gcb, c.v), c.iv) << c.v;
        EXPECT_EQ(nv_to_uv(gcb, c.v), c.uv) << c.v;
        EXPECT_EQ(nv_to_i32(gcb, c.v), c.i32) << c.v;
    }
}

TEST_F(Num, DigitScanners)
{
    warnings_bits({WARN_DIGIT, WARN_PORTABLE, WARN_OVERFLOW});
    struct Case {
        double (*scan)(PERLGCB*, const char*, uint64_t, uint64_t*);
        const char* text;
        bool underscores;
        double value;
        uint64_t consumed;
        const char* warned;
    } cases[] = {
        {scan_hexadecimal, "ff_ff", true, 65535, 5, ""},
        {scan_hexadecimal, "ff_ff", false, 255, 2, "Illegal hexadecimal digit '_' ignored.\n"},
        {scan_hexadecimal, "FfZ", false, 255, 2, "Illegal hexadecimal digit 'Z' ignored.\n"},
        {scan_hexadecimal, "00x1f", false, 31, 5, ""},
        {scan_hexadecimal, "100000000", false, 4294967296.0, 9, "Hexadecimal number > 0xffffffff non-portable.\n"},
        {scan_octal, "129", false, 10, 2, "Illegal octal digit '9' ignored.\n"},
        {scan_octal, "12a", false, 10, 2, ""},
        {scan_octal, "7_7", true, 63, 3, ""},
        {scan_binary, "0b101", false, 5, 5, ""},
        {scan_binary, "b101", false, 5, 4, ""},
        {scan_binary, "0b1b1", false, 1, 3, "Illegal binary digit 'b' ignored.\n"},
        {scan_binary, "1_", true, 1, 1, "Illegal binary digit '_' ignored.\n"},
        {scan_binary, "11\0" "11", false, 3, 2, ""},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        uint64_t len = c.underscores ? 1 : 0;
        double v = c.scan(gcb, c.text, 5 + std::strlen(c.text), &len);
        EXPECT_EQ(v, c.value) << c.text;
        EXPECT_EQ(len, c.consumed) << c.text;
        EXPECT_EQ(err_text(), c.warned) << c.text;
    }
    // The length bounds the scan.
    uint64_t len = 0;
    EXPECT_EQ(scan_hexadecimal(gcb, "fff", 2, &len), 255);
    EXPECT_EQ(len, 2u);
}

TEST_F(Num, OverflowWarnsOnceAndGoesOnInDoubles)
{
    std::string ones(65, '1');
    uint64_t len = 0;
    warnings_std();   // overflow is on by default, portability off
    double v = scan_binary(gcb, ones.c_str(), ones.size(), &len);
    EXPECT_EQ(v, std::ldexp(1.0, 65) - 1);
    EXPECT_EQ(len, 65u);
    EXPECT_EQ(err_text(), "Integer overflow in binary number.\n");
    gcb->err.len = 0;
    warnings_bits({WARN_PORTABLE, WARN_OVERFLOW});
    std::string hex(17, 'f');
    v = scan_hexadecimal(gcb, hex.c_str(), hex.size(), &len);
    EXPECT_EQ(v, std::ldexp(1.0, 68) - 1);
    EXPECT_EQ(err_text(), "Integer overflow in hexadecimal number.\nHexadecimal number > 0xffffffff non-portable.\n");
    gcb->err.len = 0;
    warnings_none();
    scan_octal(gcb, "7777777777777777777777777", 25, &len);
    EXPECT_EQ(err_raw(), "");
}

class PowExp : public Interp {
protected:
    void SetUp() override
    {
        Interp::SetUp();
        g_platform_exceptions = PlatformExceptions{0, 0};
    }
    uint32_t raised()
    {
        uint32_t code = g_platform_exceptions.count ? g_platform_exceptions.last_code : 0;
        g_platform_exceptions = PlatformExceptions{0, 0};
        return code;
    }
};

TEST_F(PowExp, Power)
{
    struct Case {
        double x, y, want;
        uint32_t code;
    } cases[] = {
        {0, -2, 0, 0},                  // a zero base gives 0 for any non-zero exponent
        {-0.0, -1, 0, 0},
        {0, -0.5, 0, 0},
        {0, -3e9, 0, 0},
        {-0.0, 0, 1, 0},
        {0, 0, 1, 0},
        {0, 3, 0, 0},
        {-2, 3, -8, 0},
        {-2, -2, 0.25, 0},
        {2, -1, 0.5, 0},
        {2, 10, 1024, 0},
        {10, -2, 0.1 * 0.1, 0},          // 1/x squared, as the loop computes it
        {3, 0, 1, 0},
        {-8, 1.0 / 3, DBL_MAX, EXC_INVALID_OPERAND},
        {2, 3e9, DBL_MAX, EXC_FLT_OVERFLOW},
        {0.5, 3e9, 0, 0},
        {1, 5e9, 1, 0},
        {-1, 3000000001.0, -1, 0},      // a large odd exponent keeps the sign
        {-1, 3000000000.0, 1, 0},
        {-1, 3000000000.5, DBL_MAX, EXC_INVALID_OPERAND},
        {-2, 5e9, DBL_MAX, EXC_FLT_OVERFLOW},
    };
    for (const Case& c : cases) {
        double got = prx_pow(c.x, c.y);
        EXPECT_EQ(got, c.want) << c.x << " ** " << c.y;
        EXPECT_EQ(raised(), c.code) << c.x << " ** " << c.y;
    }
    EXPECT_EQ(prx_pow(0, std::nan("")), 0.0);
    EXPECT_EQ(prx_pow(2, 0.5), std::sqrt(2.0));
    // The fdlibm algorithm agrees with the C library to the last bit or one ulp.
    for (double x : {1.5, 2.0, 0.3, 7.25, 1e-5, 123456.789}) {
        for (double y : {2.5, 0.3, -1.7, 10.1, -0.5}) {
            double a = prx_pow(x, y), b = std::pow(x, y);
            EXPECT_LE(std::fabs(a - b), std::fabs(b) * 2.3e-16) << x << " ** " << y;
        }
    }
    EXPECT_EQ(raised(), 0u);
}

// The logarithm-and-exponential path of non-integral exponents gives exactly
// the reference bits for every row of the table.
TEST_F(PowExp, NonIntegralPowerIsBitExact)
{
    static constexpr uint64_t table[][3] = {
#include "pow_table.inc"
    };
    static_assert(std::size(table) > 3000);
    int32_t wrong = 0;
    for (const auto& row : table) {
        double got = prx_pow(std::bit_cast<double>(row[0]), std::bit_cast<double>(row[1]));
        uint64_t bits = std::bit_cast<uint64_t>(got);
        if (bits != row[2] && ++wrong <= 20)
            ADD_FAILURE() << std::hex << "x 0x" << row[0] << " y 0x" << row[1] << ": 0x" << bits << " instead of 0x"
                          << row[2];
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(raised(), 0u);
}

TEST_F(PowExp, Exponential)
{
    EXPECT_EQ(prx_exp(710), HUGE_VAL);
    EXPECT_EQ(raised(), EXC_FLT_OVERFLOW);
    EXPECT_EQ(prx_exp(-709), 0.0);
    EXPECT_EQ(prx_exp(1e-21), 1.0);
    EXPECT_EQ(raised(), 0u);
    // One reduction constant: the error grows with the multiple of ln 2.
    struct Case {
        double x, rel;
    } cases[] = {{1.0, 4.5e-16}, {-1.0, 4.5e-16}, {0.5, 4.5e-16}, {10.0, 2e-15}, {-20.5, 2e-15},
                 {700.0, 2e-13}, {-700.0, 2e-13}};
    for (const Case& c : cases) {
        double a = prx_exp(c.x), b = std::exp(c.x);
        EXPECT_LE(std::fabs(a - b), std::fabs(b) * c.rel) << c.x;
    }
    EXPECT_TRUE(std::isnan(prx_exp(std::nan(""))));
}

}  // namespace
