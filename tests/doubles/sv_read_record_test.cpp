// Record reading: what one call does inside the host (one unsupported
// function report, no record), and what it does with a stream that delivers
// data (a double of the four stream substitutes).
#include <string>
#include <vector>

#include "core/fixture.h"
#include "doubles.h"

#include "ds/src/prxsv.h"

namespace {

using prxtest::Interp;

class ReadRecord : public Interp {
protected:
    void SetUp() override
    {
        Interp::SetUp();
        doubles::reset();
        gcb->rs = sv_new_from_bytes(gcb, "\n", 1);
    }
    void TearDown() override
    {
        doubles::reset();
        Interp::TearDown();
    }
    SV* pv(const std::string& text) { return sv_new_from_bytes(gcb, text.data(), text.size()); }
    void separator(SV* rs) { gcb->rs = rs; }
    // One record from the stream, or "<null>".
    std::string read(SV* sv, int32_t append = 0)
    {
        char* text = nullptr;
        EXPECT_EQ(run([&] { text = sv_read_record(gcb, sv, 7, append); }), 0) << err_text();
        return text ? std::string(text, sv_cur(sv)) : "<null>";
    }
    std::vector<std::string> reports()
    {
        std::vector<std::string> out;
        for (const auto& m : host->messages)
            if (m.number == 304)
                out.push_back(m.args.empty() ? "" : m.args[0]);
        return out;
    }
};

TEST_F(ReadRecord, InsideTheHostEveryReadReportsOnceAndReadsNothing)
{
    SV* fixed_size = sv_new_reference(gcb, sv_new_from_int(gcb, 3));
    struct Case {
        const char* mode;
        SV* rs;
        int32_t append;
        const char* report;
        std::string after;
    } cases[] = {
        {"separator", pv("\n"), 0, "GETC", ""},
        {"separator, append", pv("\n"), 3, "GETC", "old"},
        {"slurp", &gcb->sv_undef, 0, "FREAD", ""},
        {"slurp, append", &gcb->sv_undef, 3, "FREAD", "old"},
        {"fixed", fixed_size, 0, "FREAD", ""},
        {"fixed, append", fixed_size, 3, "FREAD", ""},
        {"paragraph", pv(""), 0, "FEOF", "old"},
    };
    for (const Case& c : cases) {
        host->messages.clear();
        separator(c.rs);
        SV* target = pv("old");
        EXPECT_EQ(read(target, c.append), "<null>") << c.mode;
        EXPECT_EQ(reports(), (std::vector<std::string>{c.report})) << c.mode;
        EXPECT_EQ(str(target), c.after) << c.mode;
        EXPECT_FALSE(target->flags & SVf_UTF8) << c.mode;
    }
}

TEST_F(ReadRecord, ReadOnlyTarget)
{
    SV* ro = pv("x");
    ro->flags |= SVf_READONLY;
    EXPECT_EQ(run([&] { sv_read_record(gcb, ro, 7, 0); }), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

TEST_F(ReadRecord, WideSeparator)
{
    SV* wide = pv("\xC4\x80");  // U+0100
    wide->flags |= SVf_UTF8;
    separator(wide);
    int32_t code = run([&] { sv_read_record(gcb, pv(""), 7, 0); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(err_text(), "Wide character in $/.\n");
}

class ReadRecordData : public ReadRecord {
protected:
    void SetUp() override
    {
        ReadRecord::SetUp();
        doubles::stream = &stream;
    }
    void feed(const std::string& text)
    {
        stream.text = text;
        stream.pos = 0;
        stream.calls.clear();
    }
    doubles::Stream stream;
};

TEST_F(ReadRecordData, LinesBySeparator)
{
    feed("one\ntwo\nthree");
    SV* sv = pv("");
    EXPECT_EQ(read(sv), "one\n");
    EXPECT_EQ(read(sv), "two\n");
    EXPECT_EQ(read(sv), "three");
    EXPECT_EQ(read(sv), "<null>");
    EXPECT_EQ(str(sv), "");

    // A two-byte separator whose last byte occurs alone reads on past it.
    separator(pv("ab"));
    feed("xbyabz");
    EXPECT_EQ(read(sv), "xbyab");
    EXPECT_EQ(read(sv), "z");
}

TEST_F(ReadRecordData, ParagraphMode)
{
    separator(pv(""));
    feed("\n\npara one\nline\n\n\n\npara two\n");
    SV* sv = pv("");
    EXPECT_EQ(read(sv), "para one\nline\n\n");
    EXPECT_EQ(stream.text.substr(stream.pos), "para two\n");  // the blank lines are consumed
    EXPECT_EQ(read(sv), "para two\n");
    EXPECT_EQ(read(sv), "<null>");
}

TEST_F(ReadRecordData, SlurpAndFixedRecords)
{
    separator(&gcb->sv_undef);
    std::string big(20000, 'x');
    big[19999] = 'y';
    feed(big);
    SV* sv = pv("");
    EXPECT_EQ(read(sv), big);
    EXPECT_EQ(read(sv), "<null>");

    separator(sv_new_reference(gcb, sv_new_from_int(gcb, 3)));
    feed("abcdefgh");
    EXPECT_EQ(read(sv), "abc");
    EXPECT_EQ(read(sv), "def");
    EXPECT_EQ(read(sv), "gh");
    EXPECT_EQ(read(sv), "<null>");
    // A size that does not fit 32 bits as a positive count reads nothing.
    SV* huge = sv_new_from_int(gcb, 0);
    sv_set_uint(gcb, huge, 4294967295u);
    separator(sv_new_reference(gcb, huge));
    feed("abc");
    EXPECT_EQ(read(sv), "<null>");
    EXPECT_EQ(stream.pos, 0u);
    // A reference to 0 separates by its own string form.
    SV* zero_ref = sv_new_reference(gcb, sv_new_from_int(gcb, 0));
    separator(zero_ref);
    std::string form = str(zero_ref);
    feed("ab" + form + "cd");
    EXPECT_EQ(read(sv), "ab" + form);
}

TEST_F(ReadRecordData, LongLinesComeBackWhole)
{
    std::string line(9000, 'q');
    feed(line + "\nnext\n");
    SV* sv = pv("");
    EXPECT_EQ(read(sv), line + "\n");
    EXPECT_EQ(read(sv), "next\n");
}

TEST_F(ReadRecordData, AppendMode)
{
    SV* sv = pv("head:");
    feed("");
    EXPECT_EQ(read(sv, 5), "<null>");
    EXPECT_EQ(str(sv), "head:");
    feed("tail\n");
    EXPECT_EQ(read(sv, 5), "head:tail\n");
}

TEST_F(ReadRecordData, Utf8SeparatorIsConvertedToBytes)
{
    SV* rs = pv("\xC3\xA9");  // U+00E9 as UTF-8
    rs->flags |= SVf_UTF8;
    separator(rs);
    feed("ab\xE9" "cd");
    SV* sv = pv("");
    char* text = nullptr;
    int32_t code = run([&] { text = sv_read_record(gcb, sv, 7, 0); });
    ASSERT_EQ(code, 0) << err_text();
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(str(sv), "ab\xE9");
    EXPECT_FALSE(rs->flags & SVf_UTF8);
    EXPECT_EQ(str(rs), "\xE9");
}

}  // namespace
