// The blank-padded string toolkit.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mmfixture.h"

namespace {

using ToolTest = MmTest;

TEST_F(ToolTest, LengthsAndTrimming)
{
    EXPECT_EQ(xkStrLen(nullptr), 0);
    EXPECT_EQ(xkStrLen("MTHYBRID"), 8);
    EXPECT_EQ(xkWcsLen(u"MT64"), 4);
    EXPECT_EQ(xkWcsLen(nullptr), 0);
    struct {
        const char* text;
        int32_t len;
        int32_t want;
    } cases[] = {
        {"         ", 9, 0},
        {"YEARCUTOFF      ", 16, 10},
        {"A                       ", 24, 1},
        {"ABCDEFGH        ", 16, 8},
        {"ABCDEFGHI", 9, 9},
        {" A  ", 4, 2},
        {"", 0, 0},
    };
    for (auto& c : cases)
        EXPECT_EQ(xkTrimLength(c.text, c.len), c.want) << '"' << c.text << '"';
    EXPECT_EQ(xkTrimLength(nullptr, 5), 0);
    EXPECT_EQ(xkWcsTrimLength(u"MT  ", 4), 2);
    EXPECT_EQ(xkWcsTrimLength(u"    ", 4), 0);
}

TEST_F(ToolTest, ComparisonsFoldCase)
{
    EXPECT_EQ(xkWcsComparePadded(u"ab", 2, u"AB", 2), 1);
    EXPECT_EQ(xkWcsComparePadded(u"AB", 2, u"ab", 2), -1);
    EXPECT_EQ(xkWcsComparePadded(u"ab", 2, u"ab  ", 4), 0);
    EXPECT_EQ(xkWcsComparePadded(u"ab", 2, u"abc", 3), -2);
    EXPECT_EQ(xkWcsComparePadded(u"abc", 3, u"ab", 2), 2);
    EXPECT_EQ(xkWcsComparePadded(u"aB", 2, u"Ac", 2), -2);
    EXPECT_EQ(xkWcsComparePadded(u"\u00E9", 1, u"\u00C9", 1), 1);
    EXPECT_EQ(xkWcsEqualNoCase(u"MT", 2, u"mt", 2), 1);
    EXPECT_EQ(xkWcsEqualNoCase(u"MT", 2, u"MT ", 3), 0);
    EXPECT_EQ(xkWcsEqualNoCase(u"\u0391\u03A9", 2, u"\u03B1\u03C9", 2), 1);
    EXPECT_EQ(xkWcsEqualNoCase(u"XOR64", 5, u"XOR65", 5), 0);
}

TEST_F(ToolTest, CaseTablesAndTheHostsCaseService)
{
    // The toolkit's own tables, including the far pairs.
    std::u16string s = u"abz\u00E9\u017F\u0253\u1F78\u00FF";
    tk->services.casemap = nullptr;
    xkWcsUpper(s.data(), static_cast<int32_t>(s.size()));
    EXPECT_EQ(s, u"ABZ\u00C9\u0053\u0181\u1FF8\u0178");
    s = u"AZ\u0181\u0186\u1FF8\u1FF9\u0130";
    xkWcsLower(s.data(), static_cast<int32_t>(s.size()));
    EXPECT_EQ(s, u"az\u0253\u0254\u1F78\u1F79\u0130");
    // Above 127 the host's service answers when it is offered (this one
    // knows no Greek capital of U+1F78).
    tk->services.casemap = &tk->casemap;
    s = u"a\u00E9\u1F78";
    xkWcsUpper(s.data(), 3);
    EXPECT_EQ(s, u"A\u00C9\u1F78");

    // Case classes.
    struct {
        char16_t c, lo, hi;
    } classes[] = {
        {u'a', u'A', u'a'}, {u'A', u'A', u'a'}, {u'I', u'I', 0x131}, {u'i', u'I', 0x131}, {0x130, u'I', 0x131},
        {0x131, u'I', 0x131}, {u'K', u'K', 0x212A}, {0x212A, u'K', 0x212A}, {0xFF, 0xFF, 0x178}, {0x178, 0xFF, 0x178},
        {u'1', u'1', u'1'},
    };
    for (auto& c : classes) {
        char16_t lo = c.c, hi = c.c;
        xkWcsCaseMin(&lo, 1);
        xkWcsCaseMax(&hi, 1);
        EXPECT_EQ(lo, c.lo) << std::hex << int(c.c);
        EXPECT_EQ(hi, c.hi) << std::hex << int(c.c);
    }
}

TEST_F(ToolTest, CopiesAndFills)
{
    char d[8] = "xxxx";
    xkStrCopy(nullptr, d);
    EXPECT_EQ(d[0], 0);
    xkStrCopy("abc", d);
    EXPECT_STREQ(d, "abc");
    xkStrCopy("abc", nullptr);
    char16_t w[8] = u"xxxx";
    xkWcsCopy(u"MT", w);
    EXPECT_EQ(std::u16string(w), u"MT");
    xkWcsCopy(nullptr, w);
    EXPECT_EQ(w[0], 0);
}

// The block routines against plain loops over every alignment and length
// around the 16-byte steps.
TEST_F(ToolTest, BlockRoutinesAgreeWithPlainLoops)
{
    alignas(16) uint8_t base[96];
    alignas(16) char16_t wbase[64];
    for (int off = 0; off < 16; off++) {
        for (int n = 0; n <= 60; n++) {
            uint8_t* b = base + off;
            for (int i = 0; i < n; i++)
                b[i] = ' ';
            EXPECT_EQ(xkBytesSpan(b, n, ' '), -1);
            EXPECT_EQ(xkBytesAllEqual(' ', b, n), 1);
            EXPECT_EQ(xkBytesFind(b, n, 'x'), -1);
            if (n) {
                b[n - 1] = 'x';
                EXPECT_EQ(xkBytesSpan(b, n, ' '), n - 1);
                EXPECT_EQ(xkBytesFind(b, n, 'x'), n - 1);
                EXPECT_EQ(xkBytesAllEqual(' ', b, n), 0);
            }
            // Case.
            std::vector<uint8_t> ref(static_cast<size_t>(n));
            for (int i = 0; i < n; i++)
                b[i] = ref[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 37 + off * 11);
            std::vector<uint8_t> alt = ref;
            xkBytesUpper(b, n);
            xkBytesUpperAlt(alt.data(), n);
            EXPECT_EQ(0, n ? std::memcmp(b, alt.data(), static_cast<size_t>(n)) : 0);
            xkBytesLower(b, n);
            xkBytesLowerAlt(alt.data(), n);
            EXPECT_EQ(0, n ? std::memcmp(b, alt.data(), static_cast<size_t>(n)) : 0);
            // UTF-16 fill and span.
            char16_t* w = wbase + (off & 7);
            xkWcsFill(w, u'=', n / 2);
            EXPECT_EQ(xkWcsSpan(w, n / 2, u'='), -1);
            EXPECT_EQ(xkWcsAllEqual(u'=', w, n / 2), 1);
            if (n / 2) {
                w[n / 2 - 1] = u'-';
                EXPECT_EQ(xkWcsSpan(w, n / 2, u'='), n / 2 - 1);
                EXPECT_EQ(xkWcsSpanAlt(w, n / 2, u'='), n / 2 - 1);
            }
        }
    }
    EXPECT_EQ(xkBytesSpan("    ", 4, ' '), -1);
    EXPECT_EQ(xkBytesSpan(nullptr, 4, ' '), -1);
    EXPECT_EQ(xkBytesFind("abc", 0, 'a'), -1);
    EXPECT_EQ(xkBytesAllEqual('x', "", 0), 1);
}

TEST_F(ToolTest, ComparesCopiesAndMissingValues)
{
    EXPECT_EQ(xkBytesCompare("ab\x80", "ab\x7F", 3), 1);
    EXPECT_EQ(xkBytesCompare("abc", "abd", 3), -1);
    EXPECT_EQ(xkBytesCompare("abc", "abd", 2), 0);
    EXPECT_EQ(xkWcsCompare(u"a\uFFFF", u"a\u0001", 2), 1);
    uint8_t buf[200];
    for (int i = 0; i < 200; i++)
        buf[i] = static_cast<uint8_t>(i);
    xkBytesMove(buf, buf + 1, 150);
    EXPECT_EQ(buf[1], 0);
    EXPECT_EQ(buf[150], 149);
    uint8_t dst[200];
    xkBytesCopyForward(buf, dst, 120);
    EXPECT_EQ(std::memcmp(buf, dst, 120), 0);
    // Front to back over an overlap repeats the head.
    uint8_t rep[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    xkBytesCopyForward(rep, rep + 2, 6);
    const uint8_t want[8] = {1, 2, 1, 2, 1, 2, 1, 2};
    EXPECT_EQ(std::memcmp(rep, want, 8), 0);
    char16_t fill[5];
    xkWcsFill(fill, u'z', 5);
    EXPECT_EQ(std::u16string(fill, 5), u"zzzzz");
    uint8_t f[3];
    xkBytesFill(f, 0xAB, 3);
    EXPECT_EQ(f[2], 0xAB);

    double v[3] = {1.0, 2.0, 3.0};
    EXPECT_EQ(xkAnyMissing(v, 3), 0);
    uint64_t missing = 0xFFFFD10000000000ull;
    std::memcpy(&v[2], &missing, 8);
    EXPECT_EQ(xkAnyMissing(v, 3), 1);
    EXPECT_EQ(xkAnyMissing(v, 2), 0);
}

}  // namespace

namespace {

std::string read_file(const std::string& path)
{
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

// The generated case tables are what their generator makes of the same
// character data.
TEST(CaseTables, RegenerateToTheSameText)
{
    const char* src = std::getenv("PRX_SOURCE_DIR");
    const char* bin = std::getenv("PRX_BINARY_DIR");
    if (!src || !bin || std::system("python3 -c 'import unicodedata' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no source directory given or python3 is not available";
    std::string out = std::string(bin) + "/xkcase.regenerated";
    std::string cmd = "python3 " + std::string(src) + "/scripts/gen_case_tables.py " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string kept = read_file(std::string(src) + "/matchmod/xkcase.inc");
    std::string made = read_file(out);
    std::remove(out.c_str());
    if (kept.substr(0, kept.find('\n')) != made.substr(0, made.find('\n')))
        GTEST_SKIP() << "python3 has other character data than the tables were made from";
    EXPECT_TRUE(kept == made);
}

}  // namespace
