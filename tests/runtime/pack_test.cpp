// pack: the template letters and their byte orders, counts and "*", the
// "/" length items, BER and uuencoding, pointers, the UTF-8 flag, and the
// failures with their messages.
#include <cmath>

#include "runtime/strop_fixture.h"

namespace {

class Pack : public runtime::OpCall {
protected:
    // pack(tmpl, values...) as bytes; the call must succeed.
    std::string pack(const std::string& tmpl, std::vector<SV*> values = {})
    {
        SV* r = pack_sv(tmpl, std::move(values));
        return str(r);
    }
    SV* pack_sv(const std::string& tmpl, std::vector<SV*> values = {})
    {
        values.insert(values.begin(), bytes(tmpl));
        OP* o = op(OP_PACK);
        Outcome out = call(o, values, true);
        EXPECT_EQ(out.next, &after);
        SV* r = one(out);
        EXPECT_EQ(r, target(o));
        return r;
    }
    // The message of a pack that dies.
    std::string pack_dies(const std::string& tmpl, std::vector<SV*> values = {})
    {
        clear_err();
        values.insert(values.begin(), bytes(tmpl));
        Outcome out = call(op(OP_PACK), values, true);
        EXPECT_NE(out.code, 0) << tmpl;
        return died(out);
    }
};

TEST_F(Pack, StringFields)
{
    struct Case {
        const char* tmpl;
        std::vector<std::string> values;
        std::string expect;
    } cases[] = {
        {"A3", {"abcdef"}, "abc"},
        {"A5", {"ab"}, std::string("ab   ")},
        {"a5", {"ab"}, std::string("ab\0\0\0", 5)},
        {"Z5", {"abcdef"}, std::string("abcd\0", 5)},
        {"Z*", {"ab"}, std::string("ab\0", 3)},
        {"a*", {"abc"}, "abc"},
        {"A*", {""}, ""},
        {"A2 a1", {"xyz", "q"}, "xyq"},
        {"A12", {"x"}, "x           "},
        // Z0 writes nothing: the previous item keeps its last byte, and an
        // empty result stays empty.
        {"a2 Z0", {"ab", "cd"}, "ab"},
        {"Z0", {"x"}, ""},
        {"Z1", {"x"}, std::string("\0", 1)},
    };
    for (const Case& c : cases) {
        std::vector<SV*> values;
        for (const std::string& v : c.values)
            values.push_back(bytes(v));
        EXPECT_EQ(pack(c.tmpl, values), c.expect) << c.tmpl;
    }
}

TEST_F(Pack, IntegerByteOrders)
{
    struct Case {
        const char* tmpl;
        double value;
        const char* hex;
    } cases[] = {
        // n and N: most significant byte first; v and V: least first.
        {"n", 258, "0102"},
        {"v", 258, "0201"},
        {"N", 1, "00000001"},
        {"V", 1, "01000000"},
        {"N", 0x01020304, "01020304"},
        {"V", 0x01020304, "04030201"},
        {"n", -2, "fffe"},
        {"s", -1, "ffff"},
        {"S", 65535, "ffff"},
        {"s", 0x1234, "3412"},
        {"c", -1, "ff"},
        {"C", 300, "2c"},
        {"C", 65, "41"},
        {"l", -2, "feffffff"},
        {"L", 4294967295.0, "ffffffff"},
        {"i", 7, "07000000"},
        {"I", 7, "07000000"},
        {"q", -2, "feffffffffffffff"},
        {"Q", 1, "0100000000000000"},
        {"f", 1.5, "0000c03f"},
        {"F", 1.5, "0000c03f"},
        {"d", -0.25, "000000000000d0bf"},
        {"D", 1.5, "000000000000f83f"},
        {"f", 1e300, "0000807f"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(pack(c.tmpl, {num(c.value)})), c.hex) << c.tmpl << " " << c.value;
}

TEST_F(Pack, BitAndHexStrings)
{
    struct Case {
        const char* tmpl;
        const char* value;
        const char* hex;
    } cases[] = {
        {"B8", "10000001", "81"},
        {"b8", "10000001", "81"},
        {"B3", "1", "80"},
        {"b*", "1011", "0d"},
        {"B*", "1011", "b0"},
        {"B16", "11111111", "ff00"},
        {"b9", "111111111", "ff01"},
        {"H3", "a1", "a100"},
        {"H*", "a1", "a1"},
        {"h*", "a1", "1a"},
        {"H4", "AbCd", "abcd"},
        {"H2", "zz", "33"},
        {"H*", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hex(pack(c.tmpl, {bytes(c.value)})), c.hex) << c.tmpl << " " << c.value;
}

TEST_F(Pack, BerCompressedIntegers)
{
    EXPECT_EQ(hex(pack("w", {num(300)})), "822c");
    EXPECT_EQ(hex(pack("w", {num(0)})), "00");
    EXPECT_EQ(hex(pack("w", {num(127)})), "7f");
    EXPECT_EQ(hex(pack("w", {num(128)})), "8100");
    EXPECT_EQ(hex(pack("w", {num(4294967295.0)})), "8fffffff7f");
    // Beyond 32 bits: the decimal string and the double give the same bytes.
    EXPECT_EQ(hex(pack("w", {bytes("5000000000")})), "92d097e400");
    EXPECT_EQ(hex(pack("w", {bytes(" +5000000000.75")})), "92d097e400");
    EXPECT_EQ(hex(pack("w", {num(5000000000.0)})), "92d097e400");
    EXPECT_EQ(hex(pack("w", {bytes("1180591620717411303423")})), "ffffffffffffffffff7f");
    EXPECT_EQ(hex(pack("w2", {num(1), num(2)})), "0102");
}

TEST_F(Pack, Utf8Flag)
{
    SV* r = pack_sv("U", {num(0x263A)});
    EXPECT_EQ(hex(str(r)), "e298ba");
    EXPECT_TRUE(r->flags & SVf_UTF8);
    r = pack_sv("  U", {num(0x263A)});
    EXPECT_TRUE(r->flags & SVf_UTF8);
    r = pack_sv("C U", {num(65), num(0x263A)});
    EXPECT_EQ(hex(str(r)), "41e298ba");
    EXPECT_FALSE(r->flags & SVf_UTF8);
    // The target is reused: a later run without U clears the flag.
    OP* o = op(OP_PACK);
    one(call(o, {bytes("U"), num(0x100)}, true));
    SV* again = one(call(o, {bytes("a"), bytes("x")}, true));
    EXPECT_EQ(str(again), "x");
    EXPECT_FALSE(again->flags & SVf_UTF8);
}

TEST_F(Pack, Positioning)
{
    EXPECT_EQ(pack("x3 @1"), std::string("\0", 1));
    EXPECT_EQ(pack("a3 @*", {bytes("abc")}), "");
    EXPECT_EQ(pack("a2 @4 a1", {bytes("ab"), bytes("c")}), std::string("ab\0\0c", 5));
    EXPECT_EQ(pack("a4 X2 a1", {bytes("abcd"), bytes("z")}), "abz");
    EXPECT_EQ(pack("x2 X*"), std::string("\0\0", 2));
    EXPECT_EQ(pack("x*"), "");
}

TEST_F(Pack, LengthItems)
{
    // The length goes out in the numeric letter's own byte order.
    EXPECT_EQ(hex(pack("n/a*", {bytes("abc")})), "0003616263");
    EXPECT_EQ(hex(pack("n/Z*", {bytes("abc")})), "000461626300");
    EXPECT_EQ(hex(pack("C/A* C", {bytes("hi"), num(9)})), "02686909");
    EXPECT_EQ(hex(pack("v/a*", {})), "0000");
    EXPECT_EQ(hex(pack("C2/a*", {bytes("xy")})), "02027879");
}

TEST_F(Pack, Uuencode)
{
    EXPECT_EQ(pack("u", {bytes("abc")}), "#86)C\n");
    EXPECT_EQ(pack("u", {bytes("")}), "");
    EXPECT_EQ(pack("u", {bytes("a")}), "!80``\n");
    std::string sixty(60, 'x');
    std::string out = pack("u", {bytes(sixty)});
    ASSERT_EQ(out.size(), 1 + 60 + 1 + 1 + 20 + 1u);
    EXPECT_EQ(out[0], 'M');
    EXPECT_EQ(out[61], '\n');
    EXPECT_EQ(out[62], '/');
    // Line lengths: a count is cut to a multiple of 3, 2 reads as 45 and
    // anything above 63 as 63.
    EXPECT_EQ(pack("u6", {bytes("abcdefg")}), "&86)C9&5F\n!9P``\n");
    EXPECT_EQ(pack("u2", {bytes("abc")}), "#86)C\n");
    std::string many(70, 'y');
    EXPECT_EQ(pack("u99", {bytes(many)})[0], '_');
}

TEST_F(Pack, ValueSupply)
{
    EXPECT_EQ(hex(pack("C*", {num(1), num(2), num(3)})), "010203");
    EXPECT_EQ(hex(pack("C3", {num(1)})), "010000");
    EXPECT_EQ(hex(pack("a2 C", {})), "000000");
    EXPECT_EQ(hex(pack("s!", {num(1)})), hex(pack("s", {num(1)})));
    EXPECT_EQ(hex(pack("L!2", {num(1), num(2)})), "0100000002000000");
    EXPECT_EQ(hex(pack("C # one byte\n C", {num(1), num(2)})), "0102");
    EXPECT_EQ(hex(pack(" C\tC ", {num(1), num(2)})), "0102");
}

TEST_F(Pack, CommaWarnsOnce)
{
    warnings_all();
    EXPECT_EQ(hex(pack("C,C,C", {num(1), num(2), num(3)})), "010203");
    EXPECT_EQ(err_text(), "Invalid type in pack: ','.\n");
    clear_err();
    warnings_none();
    EXPECT_EQ(hex(pack("C,C", {num(1), num(2)})), "0102");
    EXPECT_EQ(err_text(), "");
}

TEST_F(Pack, Pointers)
{
    SV* value = bytes("pointed");
    std::string p = pack("p", {value});
    ASSERT_EQ(p.size(), 8u);
    uint64_t address = 0;
    for (int i = 7; i >= 0; i--)
        address = (address << 8) | static_cast<unsigned char>(p[i]);
    EXPECT_EQ(reinterpret_cast<const char*>(address), sv_pv(value));
    EXPECT_EQ(hex(pack("p", {&gcb->sv_undef})), "0000000000000000");
    EXPECT_EQ(pack("P3", {value, value}).size(), 8u);
    // A number has its string made for it, and the address is its buffer.
    SV* n = num(42);
    p = pack("p", {n});
    address = 0;
    for (int i = 7; i >= 0; i--)
        address = (address << 8) | static_cast<unsigned char>(p[i]);
    EXPECT_STREQ(reinterpret_cast<const char*>(address), "42");

    warnings_all();
    SV* temp = sv_make_temporary(gcb, bytes("t"));
    pack("p", {temp});
    EXPECT_EQ(err_text(), "Attempt to pack pointer to temporary value.\n");
}

TEST_F(Pack, Dies)
{
    struct Case {
        const char* tmpl;
        std::vector<SV*> values;
        const char* message;
    } cases[] = {
        {"x!", {}, "'!' allowed only after types sSiIlL.\n"},
        {"%", {}, "% may only be used in unpack.\n"},
        {"y", {}, "Invalid type in pack: 'y'.\n"},
        {"X", {}, "X outside of string.\n"},
        {"a2 X3", {bytes("ab")}, "X outside of string.\n"},
        {"n/a3", {bytes("abc")}, "/ must be followed by a*, A* or Z*.\n"},
        {"n/", {bytes("abc")}, "/ must be followed by a*, A* or Z*.\n"},
        {"w", {num(-1)}, "Cannot compress negative numbers.\n"},
        {"w", {bytes("5e10")}, "can compress only unsigned integer.\n"},
        {"w", {bytes("5000000000x")}, "can compress only unsigned integer.\n"},
        {"w", {num(1e40)}, "Cannot compress integer.\n"},
        {"C2147483648", {}, "Repeat count in pack overflows.\n"},
        // Checked before it wraps: not a count of 1.
        {"C4294967297", {num(1)}, "Repeat count in pack overflows.\n"},
        {"C99999999999999999999", {}, "Repeat count in pack overflows.\n"},
    };
    for (Case& c : cases) {
        std::string text = pack_dies(c.tmpl, c.values);
        EXPECT_EQ(text, c.message) << c.tmpl;
    }
}

}  // namespace
