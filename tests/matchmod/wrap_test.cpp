// Wrappers over the toolkit-services record: the log object's write, print
// and message operations and the system-information queries.
#include <cstring>

#include "mmfixture.h"

namespace {

using WrapTest = MmTest;

TEST_F(WrapTest, WriteFormatsIntoTheCallersBuffer)
{
    char16_t buf[24];
    int32_t n = -1;
    EXPECT_EQ(xkHostWrite(xk_log(), u"%lli", 0, buf, 24, &n, static_cast<long long>(-9007199254740992ll)), 0);
    EXPECT_EQ(u8(std::u16string(buf, static_cast<size_t>(n))), "-9007199254740992");
    EXPECT_EQ(buf[n], 0);
}

TEST_F(WrapTest, PrintAndMessagePassTheListOn)
{
    const char16_t name[] = u"OSENV.X";
    EXPECT_EQ(xkPrintMessage(xk_log(), 4, u"%s failed for %.*S in %hs", 0, u"xkNameValueGet", 5, name, "xknrtget"), 0);
    ASSERT_EQ(tk->prints.size(), 1u);
    EXPECT_EQ(tk->prints[0].level, 4);
    EXPECT_EQ(tk->prints[0].text, "xkNameValueGet failed for OSENV in xknrtget");

    tk->message_result[0x8C7FE852u] = 0x803FC011u;
    EXPECT_EQ(static_cast<uint32_t>(xkHostMessage(xk_log(), 1, 0x8C7FE852u, "MT64", 2504)), 0x803FC011u);
    ASSERT_EQ(tk->messages.size(), 1u);
    EXPECT_EQ(tk->messages[0].level, 1);
    EXPECT_EQ(tk->messages[0].code, 0x8C7FE852u);
    EXPECT_EQ(tk->messages[0].text, "The state of the random-number method MT64 takes 2504 bytes.");
}

TEST_F(WrapTest, SystemInformationQueries)
{
    uint8_t block[XK_SYSINFO_SIZE];
    ASSERT_EQ(xkHostQuery(block), 0u);
    uint64_t w1, w2;
    std::memcpy(&w1, block + 0x28, 8);
    ASSERT_EQ(xkHostQuery(block), 0u);
    std::memcpy(&w2, block + 0x28, 8);
    EXPECT_NE(w1, w2);

    uint8_t proc[XK_PROCINFO_SIZE];
    tk->rdrand = 1;
    ASSERT_EQ(xkHostQueryProcessor(proc), 0u);
    uint8_t* rec;
    std::memcpy(&rec, proc + 0x158, sizeof rec);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec[0x77] & 0x40, 0x40);
    tk->offer_processor = false;
    ASSERT_EQ(xkHostQueryProcessor(proc), 0u);
    std::memcpy(&rec, proc + 0x158, sizeof rec);
    EXPECT_EQ(rec, nullptr);

    double t = 5.25;
    tk->clock = [&] { return t; };
    EXPECT_EQ(xkClockSeconds(), 5.25);
    t = 7.0;
    EXPECT_EQ(xkClockSeconds(), 7.0);
}

}  // namespace
