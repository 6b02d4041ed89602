// unpack: the letters read back, counts bounded by the data, checksums,
// "/" lengths, positioning, BER and uudecoding, the scalar-context rule,
// and the failures; pack and unpack agree on every byte order.
#include "runtime/strop_fixture.h"

namespace {

class Unpack : public runtime::OpCall {
protected:
    std::vector<SV*> unpack(const std::string& tmpl, const std::string& data, uint8_t want = OPf_WANT_LIST)
    {
        Outcome out = call(op(OP_UNPACK, want), {bytes(tmpl), bytes(data)});
        EXPECT_EQ(out.code, 0) << tmpl << ": " << err_text();
        EXPECT_EQ(out.next, &after);
        return out.results;
    }
    // The results as texts joined by "|".
    std::string texts(const std::string& tmpl, const std::string& data, uint8_t want = OPf_WANT_LIST)
    {
        std::string out;
        bool first = true;
        for (SV* sv : unpack(tmpl, data, want)) {
            if (!first)
                out += "|";
            first = false;
            out += sv_ok(sv) ? str(sv) : "undef";
        }
        return out;
    }
    std::string unpack_dies(const std::string& tmpl, const std::string& data)
    {
        clear_err();
        Outcome out = call(op(OP_UNPACK, OPf_WANT_LIST), {bytes(tmpl), bytes(data)});
        EXPECT_NE(out.code, 0) << tmpl;
        return died(out);
    }
    std::string pack(const std::string& tmpl, std::vector<SV*> values)
    {
        values.insert(values.begin(), bytes(tmpl));
        return str(one(call(op(OP_PACK), values, true)));
    }
};

TEST_F(Unpack, Letters)
{
    struct Case {
        const char* tmpl;
        std::string data;
        const char* expect;
    } cases[] = {
        {"A5", std::string("ab\0 \0", 5), "ab"},
        {"Z5", std::string("ab\0cd", 5), "ab"},
        {"a3", "abcdef", "abc"},
        {"a*", "abc", "abc"},
        {"a9", "abc", "abc"},
        {"n", "\x01\x02", "258"},
        {"v", "\x02\x01", "258"},
        {"N", std::string("\0\0\0\x01", 4), "1"},
        {"V", std::string("\x01\0\0\0", 4), "1"},
        {"N", std::string("\x80\0\0\0", 4), "2147483648"},
        {"s", "\xff\xff", "-1"},
        {"S", "\xff\xff", "65535"},
        {"c", "\xff", "-1"},
        {"C", "\xff", "255"},
        {"l", "\xfe\xff\xff\xff", "-2"},
        {"L", "\xfe\xff\xff\xff", "4294967294"},
        {"i", std::string("\x07\0\0\0", 4), "7"},
        {"q", "\xfe\xff\xff\xff\xff\xff\xff\xff", "-2"},
        {"Q", std::string("\x01\0\0\0\0\0\0\0", 8), "1"},
        {"f", std::string("\0\0\xc0\x3f", 4), "1.5"},
        {"d", std::string("\0\0\0\0\0\0\xd0\xbf", 8), "-0.25"},
        {"b*", "\x0d", "10110000"},
        {"B8", "\x81", "10000001"},
        {"B3", "\xe0\x01", "111"},
        {"b20", "\x01", "10000000"},
        {"H*", "\xa1", "a1"},
        {"h*", "\xa1", "1a"},
        {"h3", std::string("\xa1\0", 2), "1a0"},
        {"U*", "\xe2\x98\xba", "9786"},
        {"U*", "Az", "65|122"},
        {"C3", "ab", "97|98"},
        {"N", "abc", ""},
        {"C*", "", ""},
        {"w", "\x82\x2c", "300"},
        {"w*", "\x01\x82\x2c\x7f", "1|300|127"},
        {"w", "\xff\xff\xff\xff\xff\xff\xff\xff\xff\x7f", "1180591620717411303423"},
        {"u", "#86)C\n", "abc"},
        {"u", "#86)C", "abc"},
        {"u", "!80``\n", "a"},
        {"u", "", "undef"},
        {"C/a*", "\x03" "abcdef", "abc"},
        {"n/a* C", std::string("\0\x02xyz", 5), "xy|122"},
        {"x C", "ab", "98"},
        {"C x2 C", "abcd", "97|100"},
        {"C2 X C", "ab", "97|98|98"},
        {"@2 C", "abc", "99"},
        {"C @* C", "ab", "97"},
        {"C # comment\n C", "ab", "97|98"},
        {"s! S!", std::string("\x01\0\x02\0", 4), "1|2"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(texts(c.tmpl, c.data), c.expect) << c.tmpl;
}

TEST_F(Unpack, ByteOrdersRoundTrip)
{
    // unpack("H*", pack(L, 258)): n and N most significant byte first, v and
    // V least significant first.
    struct Case {
        const char* letter;
        const char* hex;
    } cases[] = {{"n", "0102"}, {"v", "0201"}, {"N", "00000102"}, {"V", "02010000"}};
    for (const Case& c : cases) {
        std::string packed = pack(c.letter, {num(258)});
        EXPECT_EQ(texts("H*", packed), c.hex) << c.letter;
        EXPECT_EQ(texts(c.letter, packed), "258") << c.letter;
    }
    for (const char* l : {"c", "C", "s", "S", "i", "I", "l", "L", "q", "Q", "w", "U"}) {
        std::string packed = pack(std::string(l) + "*", {num(1), num(100), num(127)});
        EXPECT_EQ(texts(std::string(l) + "*", packed), "1|100|127") << l;
    }
}

TEST_F(Unpack, Checksums)
{
    struct Case {
        const char* tmpl;
        std::string data;
        const char* expect;
    } cases[] = {
        {"%32C*", "abc", "294"},
        {"%8C*", "\xff\x02", "1"},
        {"%b*", "\xff", "8"},
        {"%32B3", "\xe0", "3"},
        {"%32b3", "\xe0", "0"},
        {"%C*", "\xff\xff\x02", "512"},
        {"%1C*", "\x03", "1"},
        {"%32a*", "ab", "195"},
        {"%32c*", "\xff\x01", "0"},
        {"%3l", "\xff\xff\xff\xff", "7"},
        {"%32d*", std::string("\0\0\0\0\0\0\xf8\x3f\0\0\0\0\0\0\x02\x40", 16), "3.75"},
        {"%32n*", std::string("\x01\x02\x00\x01", 4), "259"},
        // Wider than 32 bits the 32-bit letters sum as doubles, V among them.
        {"%33V*", std::string("\x01\0\0\0\x02\0\0\0", 8), "3"},
        {"%33N*", std::string("\0\0\0\x01\0\0\0\x02", 8), "3"},
        {"%40L*", "\xff\xff\xff\xff\xff\xff\xff\xff", "8589934590"},
        {"%", "abc", "0"},
        {"% C*", "\x01\x02", "3"},
        {"%32H*", "\xa1", "a1|0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(texts(c.tmpl, c.data), c.expect) << c.tmpl;
}

TEST_F(Unpack, ScalarContextTakesTheFirstItem)
{
    struct Case {
        const char* tmpl;
        std::string data;
        const char* expect;
    } cases[] = {
        {"C3", "abc", "97"},
        {"a3 a3", "abcdef", "abc"},
        {"x C", "ab", "98"},
        {"x3 C C", "abcde", "100"},
        {"N", "abc", "undef"},
        {"%32C*", "abc", "294"},
        {"H4 C", "\xab\xcd\x01", "abcd"},
        {"xx", "ab", "undef"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(texts(c.tmpl, c.data, OPf_WANT_SCALAR), c.expect) << c.tmpl;
    EXPECT_EQ(texts("C3", "abc", OPf_WANT_VOID), "97");
}

TEST_F(Unpack, NegativeLengthReadsNothing)
{
    // A signed length below 0 moves nowhere and takes no bytes.
    EXPECT_EQ(texts("c/x C", "\xff\x05"), "5");
    EXPECT_EQ(texts("c/X C", "\xff\x05"), "5");
    EXPECT_EQ(texts("c/a* C", "\xff\x05"), "|5");
    EXPECT_EQ(texts("c/C", "\xff\x05\x06"), "");
}

TEST_F(Unpack, CommaWarnsOnce)
{
    warnings_all();
    EXPECT_EQ(texts("C,C,C", "\x01\x02\x03"), "1|2|3");
    EXPECT_EQ(err_text(), "Invalid type in unpack: ','.\n");
}

TEST_F(Unpack, UnknownContextAsksTheFrames)
{
    Outcome out = call(op(OP_UNPACK, 0), {bytes("C2"), bytes("ab")});
    // No frame: void context, which reads the first item only.
    ASSERT_EQ(out.code, 0);
    ASSERT_EQ(out.results.size(), 1u);
    EXPECT_EQ(str(out.results[0]), "97");
}

TEST_F(Unpack, Dies)
{
    struct Case {
        const char* tmpl;
        std::string data;
        const char* message;
    } cases[] = {
        {"x3", "ab", "x outside of string.\n"},
        {"@5", "abc", "@ outside of string.\n"},
        {"X", "abc", "X outside of string.\n"},
        {"C x*", "abc", "x outside of string.\n"},
        {"/a*", "abc", "/ must follow a numeric type.\n"},
        {"C/a3", "\x01x", "/ cannot take a count.\n"},
        {"w", "\x82", "Unterminated compressed integer.\n"},
        {"y", "", "Invalid type in unpack: 'y'.\n"},
        {"C!", "a", "'!' allowed only after types sSiIlL.\n"},
        {"C4294967297", "a", "Repeat count in unpack overflows.\n"},
    };
    for (const Case& c : cases) {
        std::string text = unpack_dies(c.tmpl, c.data);
        EXPECT_EQ(text, c.message) << c.tmpl;
    }
}

}  // namespace
