// The formatter: directives over a C argument list and over an array of
// values, invalid conversions and their warning.
#include "fixture.h"

#include <climits>

#include "ds/src/prxmsg.h"

namespace {

using prxtest::Interp;

class SvFmt : public Interp {
protected:
    template <class... Args>
    std::string fmt(const char* pat, Args... args)
    {
        SV* sv = sv_new_head(gcb);
        sv_set_formatted(gcb, sv, pat, args...);
        last_utf8 = (sv->flags & SVf_UTF8) != 0;
        return str(sv);
    }
    std::string fmtv(const char* pat, std::vector<SV*> args, SV* target = nullptr)
    {
        SV* sv = target ? target : sv_new_head(gcb);
        sv_format_set(gcb, sv, pat, std::strlen(pat), nullptr, args.data(), static_cast<int32_t>(args.size()));
        last_utf8 = (sv->flags & SVf_UTF8) != 0;
        return str(sv);
    }
    SV* bytes(const std::string& s) { return sv_new_from_bytes(gcb, s.data(), s.size()); }
    SV* utf8(const std::string& s)
    {
        SV* sv = bytes(s);
        sv->flags |= SVf_UTF8;
        return sv;
    }
    SV* num(int64_t i) { return sv_new_from_int(gcb, i); }
    bool last_utf8 = false;
};

TEST_F(SvFmt, FlagsWidthAndPrecision)
{
    EXPECT_EQ(fmt("%5%"), "    %");
    EXPECT_EQ(fmt("%.0%"), "");
    EXPECT_EQ(fmt("%%"), "%");
    EXPECT_EQ(fmt("%-5s|", "ab"), "ab   |");
    EXPECT_EQ(fmt("%05s", "ab"), "000ab");
    EXPECT_EQ(fmt("%-05d|", 42), "42   |");
    EXPECT_EQ(fmt("%+d", 5), "+5");
    EXPECT_EQ(fmt("% d", 5), " 5");
    EXPECT_EQ(fmt("%+05d", -5), "-0005");
    EXPECT_EQ(fmt("%5d", -5), "   -5");
    EXPECT_EQ(fmt("%*d|%-*d|", 4, 1, -3, 2), "   1|2  |");
    EXPECT_EQ(fmt("%.*d", -1, 7), "7");
    EXPECT_EQ(fmt("%.0d", 0), "");
    EXPECT_EQ(fmt("%.3d", 7), "007");
    EXPECT_EQ(fmt("%5.3d", 7), "  007");
    EXPECT_EQ(fmt("%.2s", "abcdef"), "ab");
    EXPECT_EQ(fmt("%s", static_cast<const char*>(nullptr)), "(null)");
    EXPECT_EQ(fmt("x%sy", static_cast<const char*>(nullptr)), "x(null)y");
    EXPECT_EQ(fmt(""), "");
}

TEST_F(SvFmt, IntegerBasesAndSizes)
{
    EXPECT_EQ(fmt("%#x", 0), "0");
    EXPECT_EQ(fmt("%#x", 255), "0xff");
    EXPECT_EQ(fmt("%#X", 255), "0XFF");
    EXPECT_EQ(fmt("%#o", 8), "010");
    EXPECT_EQ(fmt("%#o", 0), "0");
    EXPECT_EQ(fmt("%#b", 5), "0b101");
    EXPECT_EQ(fmt("%#b", 0), "0b0");
    EXPECT_EQ(fmt("%x", -1), "ffffffff");
    EXPECT_EQ(fmt("%u", -1), "4294967295");
    EXPECT_EQ(fmt("%ld", -7), "-7");
    // A precision bounds the read of a C string: no NUL needed past it.
    const char unterminated[3] = {'a', 'b', 'c'};
    EXPECT_EQ(fmt("<%.*s>", 3, unterminated), "<abc>");
    EXPECT_EQ(fmt("<%.2s>", unterminated), "<ab>");
    EXPECT_EQ(fmt("%hd", 70000), "4464");
    EXPECT_EQ(fmt("%hu", 70000), "4464");
    EXPECT_EQ(fmt("%lld", INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(fmt("%llu", UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(fmt("%llx", 0x123456789abcdefull), "123456789abcdef");
    EXPECT_EQ(fmt("%qd|%Ld|%Vd", int64_t{1} << 40, int64_t{-2}, int64_t{3}), "1099511627776|-2|3");
    EXPECT_EQ(fmt("%D|%U|%O", int64_t{-1} << 33, uint64_t{1} << 33, uint64_t{8}), "-8589934592|8589934592|10");
    EXPECT_EQ(fmt("%b", 10), "1010");
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(buf)));
    EXPECT_EQ(fmt("%p", static_cast<void*>(buf)), buf);
}

TEST_F(SvFmt, CharactersAndUtf8)
{
    EXPECT_EQ(fmt("%c", 65), "A");
    EXPECT_FALSE(last_utf8);
    EXPECT_EQ(fmt("%c", 300), "\xC4\xAC");
    EXPECT_TRUE(last_utf8);
    EXPECT_EQ(fmt("%c", 200), "\xC8");
    EXPECT_FALSE(last_utf8);
    // The code is a 32-bit signed number: a negative one gives its low byte,
    // and a value's integer is cut to 32 bits.
    EXPECT_EQ(fmt("%c", -1), "\xFF");
    EXPECT_FALSE(last_utf8);
    EXPECT_EQ(fmtv("%c", {num((int64_t{1} << 32) + 65)}), "A");
    EXPECT_EQ(fmtv("%c", {num(-191)}), "A");
    EXPECT_FALSE(last_utf8);
    // Precision and width of a UTF-8 value count characters.
    EXPECT_EQ(fmtv("%.2s", {utf8("\xC3\xA9\xC3\xA9\xC3\xA9")}), "\xC3\xA9\xC3\xA9");
    EXPECT_TRUE(last_utf8);
    EXPECT_EQ(fmtv("%4s", {utf8("\xC3\xA9" "a")}), "  \xC3\xA9" "a");
}

TEST_F(SvFmt, Vectors)
{
    SV* v = bytes(std::string("\x01\x16\xC8", 3));
    EXPECT_EQ(fmt("%vd", v), "1.22.200");
    EXPECT_EQ(fmt("%*vX", bytes(":"), v), "1:16:C8");
    EXPECT_EQ(fmt("%+vd", bytes(std::string("\x01\x02", 2))), "+1.2");
    EXPECT_EQ(fmt("%#vx", bytes(std::string("\x01\x00\x02", 3))), "0x1.0.2");
    EXPECT_EQ(fmt("%vd", bytes("")), "");
    // The vector flag stands among the flags, before the width.
    EXPECT_EQ(fmt("%v3d|", bytes("")), "   |");
    EXPECT_EQ(fmt("%0v3d", bytes(std::string("\x01\x02", 2))), "001.002");
    EXPECT_EQ(fmt("%3vd", bytes("")), "%3vd");
    EXPECT_EQ(fmt("%vd", utf8("\x01\xC4\xAC")), "1.300");
    // From the array: the joiner and the vector come from values; a
    // missing vector is empty.
    EXPECT_EQ(fmtv("%*vd", {bytes("-"), v}), "1-22-200");
    EXPECT_EQ(fmtv("%vd", {}), "");
}

TEST_F(SvFmt, Doubles)
{
    EXPECT_EQ(fmt("%f", 1.5), "1.500000");
    EXPECT_EQ(fmt("%-10.3f|", 2.5), "2.500     |");
    EXPECT_EQ(fmt("%08.2f", -1.5), "-0001.50");
    EXPECT_EQ(fmt("%+.1f", 2.25), "+2.2");
    EXPECT_EQ(fmt("%e", 12345.678), "1.234568e+04");
    EXPECT_EQ(fmt("%E", 0.5), "5.000000E-01");
    EXPECT_EQ(fmt("%g|%G", 0.0001, 1e-10), "0.0001|1E-10");
    EXPECT_EQ(fmt("%#.0f", 3.0), "3.");
    EXPECT_EQ(fmt("%F", 2.0), "2.000000");
    EXPECT_EQ(fmt("%.0f", 1e300).size(), 301u);
    EXPECT_GE(gcb->float_buffer_size, 301u + 20u);
}

TEST_F(SvFmt, ArraySource)
{
    SV* n = num(42);
    EXPECT_EQ(fmtv("%d-%s-%x", {n, bytes("str"), num(255)}), "42-str-ff");
    EXPECT_EQ(fmtv("%hd|%ld", {num(70000), num(int64_t{1} << 33)}), "4464|0");
    EXPECT_EQ(fmtv("[%d][%s][%c][%f]", {}), std::string("[0][][\0][0.000000]", 18));
    EXPECT_EQ(fmtv("%*d", {num(-4), num(7)}), "7   ");
    EXPECT_EQ(fmtv("%p", {}), "0");
    SV* counter = sv_new_head(gcb);
    SV* target = bytes("prefix");
    EXPECT_EQ(fmtv("", {}, target), "");
    target = bytes("pre");
    sv_format_append(gcb, target, "ab%ncd", 6, nullptr, &counter, 1);
    EXPECT_EQ(str(target), "preabcd");
    EXPECT_EQ(counter->flags & (SVf_IOK | SVp_IOK | SVf_IsUV), SVf_IOK | SVp_IOK | SVf_IsUV);
    EXPECT_EQ(sv_iv(counter), 2);
    int32_t seen = -1;
    EXPECT_EQ(fmt("abc%nd", &seen), "abcd");
    EXPECT_EQ(seen, 3);
}

TEST_F(SvFmt, FastPaths)
{
    EXPECT_EQ(fmt("%s", "plain"), "plain");
    EXPECT_EQ(fmt("%_", bytes("value")), "value");
    EXPECT_EQ(fmtv("%s", {bytes("one"), bytes("two")}), "one");
    EXPECT_EQ(fmtv("%s", {}), "");
    EXPECT_EQ(fmtv("%_", {bytes("x")}), "%_");   // no list: invalid
}

TEST_F(SvFmt, InvalidConversions)
{
    // From a list: appended unchanged, never a warning.
    EXPECT_EQ(fmt("a%yb"), "a%yb");
    EXPECT_EQ(fmt("%5.2yz"), "%5.2yz");
    EXPECT_EQ(fmt("%#p", nullptr), "%#p");
    EXPECT_EQ(fmt("end%"), "end%");
    EXPECT_EQ(err_raw(), "");

    // From the sprintf op with the printf category on: warned.
    set_op(OP_SPRINTF, "sprintf", "sprintf");
    warnings_bits({WARN_PRINTF});
    EXPECT_EQ(fmtv("a%yb", {}), "a%yb");
    EXPECT_EQ(fmtv("end%", {}), "end%");
    EXPECT_EQ(fmtv("x%\x01y", {}), "x%\x01y");
    EXPECT_EQ(err_text(),
              "Invalid conversion in sprintf: \"%y\".\n"
              "Invalid conversion in sprintf: end of string.\n"
              "Invalid conversion in sprintf: \"%\\001\".\n");
    set_op(OP_PRTF, "prtf", "printf");
    gcb->err.len = 0;
    fmtv("%k", {});
    EXPECT_EQ(err_text(), "Invalid conversion in printf: \"%k\".\n");
    // Category off, or another op: silent.
    gcb->err.len = 0;
    warnings_none();
    fmtv("%k", {});
    warnings_all();
    set_op(5, "const", "constant item");
    fmtv("%k", {});
    EXPECT_EQ(err_raw(), "");
}

}  // namespace
