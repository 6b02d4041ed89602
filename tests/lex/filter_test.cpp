// Source filters: the chain's order and removal, the byte-order-mark check
// and the UTF-16 filters.
#include "lex/scan_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxsv.h"

namespace lextest {
namespace {

// Raw text that the last filter hands out, one block per read.
std::vector<std::string> raw_blocks;
size_t raw_next = 0;
std::vector<std::string> calls;

int32_t raw_source(PERLGCB* gcb, int32_t idx, SV* buf, int32_t)
{
    calls.push_back("raw@" + std::to_string(idx));
    if (raw_next >= raw_blocks.size())
        return 0;
    const std::string& b = raw_blocks[raw_next++];
    sv_append_bytes(gcb, buf, b.data(), b.size());
    return static_cast<int32_t>(b.size());
}

int32_t upper_filter(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen)
{
    calls.push_back("upper@" + std::to_string(idx));
    int32_t n = filter_read_input(gcb, idx + 1, buf, maxlen);
    for (uint64_t i = 0; n > 0 && i < sv_cur(buf); i++)
        if (sv_pv(buf)[i] >= 'a' && sv_pv(buf)[i] <= 'z')
            sv_pv(buf)[i] = static_cast<char>(sv_pv(buf)[i] - 32);
    return n;
}

class Filters : public Lex {
protected:
    void SetUp() override
    {
        Lex::SetUp();
        raw_blocks.clear();
        raw_next = 0;
        calls.clear();
    }
    void TearDown() override
    {
        sv_release(gcb, as_sv(gcb->source_filters));
        gcb->source_filters = nullptr;
        Lex::TearDown();
    }
    std::string read(int32_t maxlen = 0)
    {
        SV* buf = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "", 0));
        int32_t n = 0;
        EXPECT_EQ(run([&] { n = filter_read_input(gcb, 0, buf, maxlen); }), 0) << err_text();
        return n > 0 ? str(buf) : "<" + std::to_string(n) + ">";
    }
};

TEST_F(Filters, ChainOrderAndRemoval)
{
    EXPECT_EQ(read(), "<-1>");  // no chain yet
    raw_blocks = {"abc"};
    SV* first = nullptr;
    ASSERT_EQ(run([&] { first = filter_add(gcb, raw_source, nullptr); }), 0);
    ASSERT_EQ(run([&] { filter_add(gcb, upper_filter, nullptr); }), 0);
    EXPECT_EQ(sv_type(first), static_cast<uint32_t>(SVt_PVIO));
    EXPECT_EQ(read(), "ABC");
    EXPECT_EQ(calls, (std::vector<std::string>{"upper@0", "raw@1"}));
    EXPECT_EQ(read(), "<0>");
    EXPECT_EQ(filter_add(gcb, nullptr, nullptr), nullptr);

    // Only the oldest can go, and then the next oldest.
    EXPECT_NE(run([&] { filter_del(gcb, upper_filter); }), 0);
    EXPECT_EQ(err_text(), "filter_del can only delete in reverse order (currently).\n");
    ASSERT_EQ(run([&] { filter_del(gcb, raw_source); }), 0);
    EXPECT_EQ(av_body(gcb->source_filters)->fill, 0);
    ASSERT_EQ(run([&] { filter_del(gcb, upper_filter); }), 0);
    EXPECT_EQ(av_body(gcb->source_filters)->fill, -1);
}

TEST_F(Filters, UndefinedEntriesAreSkipped)
{
    raw_blocks = {"xyz"};
    ASSERT_EQ(run([&] { filter_add(gcb, raw_source, nullptr); }), 0);
    av_insert_front(gcb, gcb->source_filters, 1);
    av_store_element(gcb, gcb->source_filters, 0, sv_new_undef(gcb, 0));
    EXPECT_EQ(read(), "xyz");
    EXPECT_EQ(calls, (std::vector<std::string>{"raw@1"}));
}

TEST_F(Filters, Utf16FiltersConvertEveryBlock)
{
    struct Case {
        source_filter_fn filter;
        std::string raw;
        std::string text;
    } cases[] = {
        {utf16be_source_filter, std::string("\0p\0r\0;", 6), "pr;"},
        {utf16le_source_filter, std::string("p\0r\0;\0", 6), "pr;"},
        {utf16be_source_filter, std::string("\x26\x3a", 2), "\xe2\x98\xba"},
    };
    for (const Case& c : cases) {
        sv_release(gcb, as_sv(gcb->source_filters));
        gcb->source_filters = nullptr;
        raw_blocks = {c.raw};
        raw_next = 0;
        ASSERT_EQ(run([&] { filter_add(gcb, raw_source, nullptr); }), 0);
        ASSERT_EQ(run([&] { filter_add(gcb, c.filter, nullptr); }), 0);
        SV* buf = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "", 0));
        int32_t n = 0;
        ASSERT_EQ(run([&] { n = filter_read_input(gcb, 0, buf, 0); }), 0) << err_text();
        EXPECT_EQ(n, static_cast<int32_t>(c.raw.size())) << "the raw count, not the converted length";
        EXPECT_EQ(str(buf), c.text);
        sv_set_bytes(gcb, buf, "kept", 4);
        ASSERT_EQ(run([&] { n = filter_read_input(gcb, 0, buf, 0); }), 0);
        EXPECT_EQ(n, 0);
        EXPECT_EQ(str(buf), "kept");
    }
}

class Bom : public Filters {
protected:
    // Runs the check on text as the first line; the text lexing continues
    // with, or the fatal message.
    std::string check(const std::string& text)
    {
        char* s = set_text(text);
        char* pos = nullptr;
        if (run([&] { pos = lex_check_bom(gcb, s); }) != 0)
            return "fatal: " + err_text();
        return std::string(pos, static_cast<size_t>(gcb->buffer_end - pos));
    }
};

TEST_F(Bom, MarksAndEncodings)
{
    EXPECT_EQ(check("\xef\xbb\xbfprint;"), "print;");
    EXPECT_EQ(check("plain;"), "plain;");
    EXPECT_EQ(gcb->source_filters, nullptr);
    EXPECT_EQ(check(std::string("\xff\xfe\0\0", 4)), "fatal: Unsupported script encoding.\n");
    gcb->err.len = 0;
    EXPECT_EQ(check(std::string("\0\0\xfe\xff", 4)), "fatal: Unsupported script encoding.\n");
    gcb->err.len = 0;
    EXPECT_EQ(check("\xff\xfe"), "");
    EXPECT_EQ(gcb->source_filters, nullptr);
}

TEST_F(Bom, Utf16SourcesLexAsUtf8)
{
    EXPECT_EQ(check(std::string("\xfe\xff\0A\0;\x26\x3a", 8)), "A;\xe2\x98\xba");
    ASSERT_NE(gcb->source_filters, nullptr);
    EXPECT_EQ(av_body(gcb->source_filters)->fill, 0);
    EXPECT_EQ(sv_cur(gcb->line_buffer), 7u);  // the mark, then the converted text
    sv_release(gcb, as_sv(gcb->source_filters));
    gcb->source_filters = nullptr;
    EXPECT_EQ(check(std::string("\xff\xfe" "A\0;\0\x3a\x26", 8)), "A;\xe2\x98\xba");
    EXPECT_EQ(av_body(gcb->source_filters)->fill, 0);
    // A little-endian line read up to its LF ends in half a code unit.
    sv_release(gcb, as_sv(gcb->source_filters));
    gcb->source_filters = nullptr;
    EXPECT_EQ(check(std::string("\xff\xfe" "A\0\n", 5)), "A");
}

}  // namespace
}  // namespace lextest
