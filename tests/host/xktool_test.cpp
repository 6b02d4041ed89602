// The toolkit's padded-string and block routines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host/xktool.h"
#include "hostsim/hostsim.h"

namespace {

TEST(XkTool, PadcmpAnswersSignedPositionOfFirstDifference)
{
    struct Case {
        const char* a;
        int32_t alen;
        const char* b;
        int32_t blen;
        int pad;
        int32_t want;
    } cases[] = {
        {"AB", 2, "AB  ", 4, ' ', 0},
        {"AB", 2, "ABC", 3, ' ', -3},
        {"ABD", 3, "ABC", 3, ' ', 3},
        {"ABC", 3, "AB", 2, ' ', 3},
        {"AB ", 3, "AB", 2, ' ', 0},
        {"AB\x01", 3, "AB", 2, ' ', -3},       // the first string's byte is below the pad
        {"AB", 2, "AB\x01", 3, ' ', 3},        // the second string's byte is below the pad
        {"\x80", 1, "a", 1, ' ', 1},           // bytes compare unsigned
        {"", 0, "", 0, ' ', 0},
        {"x", -5, "", 0, ' ', 0},              // a negative length is empty
        {"AB", 2, nullptr, 7, ' ', 1},         // null is empty
        {"ABxx", 4, "AB", 2, 'x', 0},          // another pad byte
    };
    for (const Case& c : cases)
        EXPECT_EQ(xk_padcmp(c.a, c.alen, c.b, c.blen, c.pad), c.want) << c.a << " vs " << (c.b ? c.b : "null");
}

TEST(XkTool, Padcmp64ComparesWordsAndBlankTails)
{
    std::string blanks(40, ' ');
    EXPECT_EQ(xk_padcmp64(blanks.data(), 40, nullptr, 0), 0);
    std::string a = "0123456789abcdefXYZ";
    std::string b = "0123456789abcdefXYz";
    EXPECT_EQ(xk_padcmp64(a.data(), 19, b.data(), 19), -19);
    EXPECT_EQ(xk_padcmp64(b.data(), 19, a.data(), 19), 19);
    std::string c = a + std::string(17, ' ');
    EXPECT_EQ(xk_padcmp64(a.data(), 19, c.data(), static_cast<int64_t>(c.size())), 0);
    c += "!";
    EXPECT_EQ(xk_padcmp64(a.data(), 19, c.data(), static_cast<int64_t>(c.size())), -37);
    std::string d = a + std::string(9, ' ') + "\x01";
    EXPECT_EQ(xk_padcmp64(d.data(), static_cast<int64_t>(d.size()), a.data(), 19), -29);
}

TEST(XkTool, FillCopyMove)
{
    char buf[40];
    std::memset(buf, 'z', sizeof buf);
    xk_fill('a', buf, 0);
    xk_fill('a', buf, -3);
    EXPECT_EQ(buf[0], 'z');
    xk_fill('a', buf, 33);
    EXPECT_EQ(std::string(buf, 34), std::string(33, 'a') + "z");
    xk_copy("hello", buf, 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    xk_copy("HELLO", buf, 0);
    EXPECT_EQ(std::string(buf, 5), "hello");
    std::strcpy(buf, "abcdefgh");
    xk_move(buf, buf + 2, 6);   // destination inside the source: copied backwards
    EXPECT_EQ(std::string(buf, 8), "ababcdef");
    std::strcpy(buf, "abcdefgh");
    xk_move(buf + 2, buf, 6);
    EXPECT_EQ(std::string(buf, 8), "cdefghgh");
}

TEST(XkTool, PadcatFillsOrTerminates)
{
    char f[8];
    std::memset(f, '#', sizeof f);
    EXPECT_EQ(xk_padcat(f, 6, ',', 2, "ab", 2, "cd", 2), 5);
    EXPECT_EQ(std::string(f, 7), "ab,cd #");
    std::memset(f, '#', sizeof f);
    EXPECT_EQ(xk_padcat(f, -7, ',', 2, "ab", 2, "cd", 2), 5);
    EXPECT_EQ(std::string(f, 7), std::string("ab,cd\0#", 7));
    std::memset(f, '#', sizeof f);
    EXPECT_EQ(xk_padcat(f, 4, -1, 2, "abc", 3, "def", 3), 4);   // cut at the room, no separator
    EXPECT_EQ(std::string(f, 5), "abcd#");
    std::memset(f, '#', sizeof f);
    EXPECT_EQ(xk_padcat(f, 5, ',', 3, "ab", 2, "", 0, "cd", 2), 5);
    EXPECT_EQ(std::string(f, 6), "ab,,c#");
}

TEST(XkTool, JustifyMovesTheText)
{
    struct Case {
        const char* in;
        int mode;
        const char* out;
        int32_t len, off;
    } cases[] = {
        {"  ab  ", 'R', "    ab", 2, 4},
        {"  ab  ", 'C', "  ab  ", 2, 2},
        {"  ab  ", 'L', "ab    ", 2, 0},
        {"  ab  ", 'l', "ab    ", 2, 0},
        {" ab   ", 'c', "  ab  ", 2, 2},
        {"  a b ", 'r', "   a b", 3, 3},
        {"  ab  ", 'X', "  ab  ", 2, 2},
        {"      ", 'L', "      ", 0, 0},
        {"abc   ", 'C', " abc  ", 3, 1},
    };
    for (const Case& c : cases) {
        char f[7];
        std::memcpy(f, c.in, 6);
        int32_t len = -1, off = -1;
        xk_justify(f, 6, c.mode, &len, &off);
        EXPECT_EQ(std::string(f, 6), c.out) << c.in << " " << static_cast<char>(c.mode);
        EXPECT_EQ(len, c.len);
        EXPECT_EQ(off, c.off);
    }
    char f[4] = "ab ";
    xk_justify(f, 3, 'R', nullptr, nullptr);
    EXPECT_EQ(std::string(f, 3), " ab");
}

TEST(XkTool, FindByte)
{
    EXPECT_EQ(xk_findbyte("abcabc", 6, 'c'), 2);
    EXPECT_EQ(xk_findbyte("abcabc", 6, 'z'), -1);
    EXPECT_EQ(xk_findbyte("abcabc", 0, 'a'), -1);
    EXPECT_EQ(xk_findbyte(nullptr, 6, 'a'), -1);
    EXPECT_EQ(xk_findbyte("a\xff", 2, 0xFF), 1);
}

TEST(XkTool, RanuniSteps)
{
    uint32_t seed = 1;
    EXPECT_EQ(ranuni_next(&seed), 397204094.0 / 2147483647.0);
    EXPECT_EQ(seed, 397204094u);
    uint32_t zero = 0;
    EXPECT_EQ(ranuni_next(&zero), 0.0);
    EXPECT_EQ(zero, 0u);
    // The reduction keeps every state below 2^31 - 1.
    uint32_t s = 2147483646u;
    for (int i = 0; i < 1000; i++) {
        double d = ranuni_next(&s);
        ASSERT_LT(s, 2147483647u);
        ASSERT_GE(d, 0.0);
        ASSERT_LT(d, 1.0);
    }
}

TEST(XkTool, ReadsTheHostSetting)
{
    hostsim::Host& h = hostsim::reset();
    g_host_vector = &h.vec;
    h.setting_value = 1234;
    xk_read_host_setting();
    EXPECT_EQ(g_host_setting, 1234);
}

}  // namespace
