// Delimited texts and the pattern, substitution and transliteration
// scanners: bodies, nesting, backslashes, flags and the missing-terminator
// errors.
#include "lex/scan_fixture.h"

#include "ds/src/prxsv.h"

namespace lextest {
namespace {

class ScanDelim : public Lex {
protected:
    // Scans the delimited text at the start of text; the body (or "<null>")
    // and the offset after the closing delimiter.
    std::string body(const std::string& text, int32_t keep_backslashes, int32_t keep_delimiters,
                     size_t* stop = nullptr)
    {
        char* s = set_text(text);
        char* end = nullptr;
        EXPECT_EQ(run([&] { end = scan_delimited(gcb, s, keep_backslashes, keep_delimiters); }), 0) << err_text();
        if (stop)
            *stop = end ? offset(end) : 0;
        std::string out = text_of(gcb->quote_body);
        release_bodies();
        return out;
    }
    void release_bodies()
    {
        sv_release(gcb, gcb->quote_body);
        sv_release(gcb, gcb->replacement_text);
        gcb->quote_body = gcb->replacement_text = nullptr;
    }
    void TearDown() override
    {
        release_bodies();
        Lex::TearDown();
    }
};

TEST_F(ScanDelim, BodiesByDelimiterAndSwitches)
{
    struct Case {
        const char* text;
        int32_t keep_backslashes, keep_delimiters;
        const char* body;
        size_t stop;
    } cases[] = {
        {"(a(b)c) x", 0, 0, "a(b)c", 7},
        {"(a\\)b)", 0, 0, "a)b", 6},
        {"(a\\)b)", 1, 0, "a\\)b", 6},
        {"(a\\(b)", 0, 0, "a(b", 6},
        {"/a\\/b/", 0, 0, "a/b", 6},
        {"/a\\\\b/", 0, 0, "a\\\\b", 6},
        {"\\ab\\c", 0, 0, "ab", 4},
        {"<a<b>>", 0, 1, "<a<b>>", 6},
        {"[x]", 1, 1, "[x]", 3},
        {"{a}{b}", 0, 0, "a", 3},
    };
    for (const Case& c : cases) {
        size_t stop = 0;
        EXPECT_EQ(body(c.text, c.keep_backslashes, c.keep_delimiters, &stop), c.body) << c.text;
        EXPECT_EQ(stop, c.stop) << c.text;
    }
}

// White space and comments before the delimiter go through the reader's
// skipper: a "#" after white space starts a comment.
TEST_F(ScanDelim, WhiteSpaceBeforeTheDelimiter)
{
    char* s = set_text("  # note\n 'q'");
    char* end = nullptr;
    int32_t code = run([&] { end = scan_delimited(gcb, s, 0, 0); });
    ASSERT_EQ(code, 0) << err_text();
    EXPECT_EQ(offset(end), 13u);
    EXPECT_EQ(str(gcb->quote_body), "q");
    release_bodies();
    s = set_text("{a} {b}e");
    code = run([&] { end = scan_substitution(gcb, s); });
    ASSERT_EQ(code, 0) << err_text();
    EXPECT_EQ(str(gcb->replacement_text), "do { b }");
    op_free_tree(gcb, gcb->scanned_op);
    gcb->scanned_op = nullptr;
}

TEST_F(ScanDelim, DelimiterRecordsAndTheIntegerSlot)
{
    char* s = set_text("q{a\nb\nc}");
    compile_cop.cop_line = 4;
    char* end = nullptr;
    ASSERT_EQ(run([&] { end = scan_delimited(gcb, s + 1, 0, 0); }), 0) << err_text();
    EXPECT_EQ(offset(end), 8u);
    EXPECT_EQ(gcb->open_delim, '{');
    EXPECT_EQ(gcb->close_delim, '}');
    EXPECT_EQ(gcb->multi_start_line, 4);
    EXPECT_EQ(gcb->multi_end_line, 6);
    EXPECT_EQ(compile_cop.cop_line, 6);
    EXPECT_EQ(gcb->statement_line, 4);
    EXPECT_EQ(sv_iv(gcb->quote_body), '}');
    EXPECT_EQ(str(gcb->quote_body), "a\nb\nc");
}

TEST_F(ScanDelim, SecondCallFillsTheReplacement)
{
    char* s = set_text("{a}{b}");
    char* end = nullptr;
    ASSERT_EQ(run([&] { end = scan_delimited(gcb, s, 0, 0); }), 0);
    ASSERT_EQ(run([&] { end = scan_delimited(gcb, end, 0, 0); }), 0);
    EXPECT_EQ(str(gcb->quote_body), "a");
    EXPECT_EQ(str(gcb->replacement_text), "b");
}

TEST_F(ScanDelim, UnterminatedTextGivesNothingAndRestoresTheLine)
{
    char* s = set_text("(abc\ndef\n");
    compile_cop.cop_line = 7;
    char* end = s;
    ASSERT_EQ(run([&] { end = scan_delimited(gcb, s, 0, 0); }), 0);
    EXPECT_EQ(end, nullptr);
    EXPECT_EQ(gcb->quote_body, nullptr);
    EXPECT_EQ(gcb->replacement_text, nullptr);
    EXPECT_EQ(compile_cop.cop_line, 7);
}

TEST_F(ScanDelim, MissingTerminatorMessages)
{
    struct Case {
        int32_t close;
        const char* message;
    } cases[] = {
        {'/', "Can't find string terminator \"/\" anywhere before EOF.\n"},
        {'"', "Can't find string terminator '\"' anywhere before EOF.\n"},
        {1, "Can't find string terminator \"^A\" anywhere before EOF.\n"},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        gcb->close_delim = c.close;
        EXPECT_NE(run([&] { lex_missing_terminator(gcb); }), 0);
        EXPECT_EQ(err_text(), c.message);
    }
}

class ScanQuoteLike : public ScanDelim {
protected:
    // Runs a scanner over text; the offset where it stopped.
    template <class Scan>
    size_t scan(const std::string& text, Scan&& scanner)
    {
        char* s = set_text(text);
        char* end = nullptr;
        EXPECT_EQ(run([&] { end = scanner(s); }), 0) << err_text();
        return end ? offset(end) : 0;
    }
    op_pattern* pm() { return op_as_pattern(gcb->scanned_op); }
    void TearDown() override
    {
        op_free_tree(gcb, gcb->scanned_op);
        gcb->scanned_op = nullptr;
        ScanDelim::TearDown();
    }
    void reset()
    {
        op_free_tree(gcb, gcb->scanned_op);
        gcb->scanned_op = nullptr;
        release_bodies();
    }
};

TEST_F(ScanQuoteLike, PatternFlags)
{
    struct Case {
        const char* text;
        int32_t type;
        uint16_t flags;
        const char* body;
        size_t stop;
    } cases[] = {
        {"/ab+c/imsxo", OP_QR, 0xF080, "ab+c", 11},
        {"/a/g", OP_QR, 0x0000, "a", 3},
        {"/a/gc;", OP_MATCH, 0x0300, "a", 5},
        {"?a?", OP_MATCH, 0x0002, "a", 3},
        {"?a?", OP_QR, 0x0002, "a", 3},
        {"(a(b)c)i", OP_QR, 0x4000, "a(b)c", 8},
        {"#a#x", OP_QR, 0x8000, "a", 4},
    };
    for (const Case& c : cases) {
        size_t stop = scan(c.text, [&](char* s) { return scan_pattern(gcb, s, c.type); });
        ASSERT_NE(gcb->scanned_op, nullptr) << c.text;
        EXPECT_EQ(gcb->scanned_op->op_type, c.type) << c.text;
        EXPECT_EQ(pm()->op_pmflags, c.flags) << c.text;
        EXPECT_EQ(pm()->op_pmpermflags, c.flags) << c.text;
        EXPECT_EQ(str(gcb->quote_body), c.body) << c.text;
        EXPECT_EQ(stop, c.stop) << c.text;
        EXPECT_EQ(gcb->token_value.ival, OP_MATCH);
        reset();
    }
}

TEST_F(ScanQuoteLike, Substitutions)
{
    struct Case {
        const char* text;
        uint16_t flags;
        const char* replacement;
        bool evaluated;
    } cases[] = {
        {"/a/b/gi", 0x4100, "b", false},
        {"/a/b/egi", 0x4500, "do { b }", true},
        {"{a}{b}e", 0x0400, "do { b }", true},
        {"/a/b/eee", 0x0400, "eval eval do { b }", true},
    };
    for (const Case& c : cases) {
        scan(c.text, [&](char* s) { return scan_substitution(gcb, s); });
        ASSERT_NE(gcb->scanned_op, nullptr) << c.text;
        EXPECT_EQ(gcb->scanned_op->op_type, OP_SUBST);
        EXPECT_EQ(pm()->op_pmflags, c.flags) << c.text;
        EXPECT_EQ(str(gcb->quote_body), "a") << c.text;
        EXPECT_EQ(str(gcb->replacement_text), c.replacement) << c.text;
        EXPECT_EQ((gcb->replacement_text->flags & SVf_EVALED) != 0, c.evaluated) << c.text;
        EXPECT_EQ(gcb->token_value.ival, OP_SUBST);
        reset();
    }
}

TEST_F(ScanQuoteLike, Transliterations)
{
    size_t stop = scan("/a-z/A-Z/cds;", [&](char* s) { return scan_transliteration(gcb, s); });
    ASSERT_NE(gcb->scanned_op, nullptr);
    EXPECT_EQ(gcb->scanned_op->op_type, OP_TRANS);
    EXPECT_EQ(gcb->scanned_op->op_private, 0x38);
    EXPECT_NE(op_string_pv(gcb->scanned_op), nullptr);
    EXPECT_EQ(str(gcb->quote_body), "a-z");
    EXPECT_EQ(str(gcb->replacement_text), "A-Z");
    EXPECT_EQ(stop, 12u);
    EXPECT_EQ(gcb->token_value.ival, OP_TRANS);
    reset();
    // A list that ends the text takes no letters from beyond it.
    stop = scan("/a/b/", [&](char* s) { return scan_transliteration(gcb, s); });
    EXPECT_EQ(gcb->scanned_op->op_private, 0);
    EXPECT_EQ(stop, 5u);
}

TEST_F(ScanQuoteLike, UnterminatedConstructs)
{
    struct Case {
        const char* text;
        int which;  // 0 pattern, 1 substitution, 2 transliteration
        const char* message;
    } cases[] = {
        {"/abc", 0, "Search pattern not terminated.\n"},
        {"/abc", 1, "Substitution pattern not terminated.\n"},
        {"/a/", 1, "Substitution replacement not terminated.\n"},
        {"/abc", 2, "Transliteration pattern not terminated.\n"},
        {"{a}{b", 2, "Transliteration replacement not terminated.\n"},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        char* s = set_text(c.text);
        int32_t code = run([&] {
            if (c.which == 0)
                scan_pattern(gcb, s, OP_MATCH);
            else if (c.which == 1)
                scan_substitution(gcb, s);
            else
                scan_transliteration(gcb, s);
        });
        EXPECT_NE(code, 0) << c.text;
        EXPECT_EQ(err_text(), c.message) << c.text;
        EXPECT_EQ(gcb->quote_body, nullptr) << c.text;
        reset();
    }
}

}  // namespace
}  // namespace lextest

namespace lextest {
namespace {

// Lines of a source read through a filter, one per read.
std::vector<std::string> source_lines;
size_t source_next = 0;
int32_t line_source(PERLGCB* gcb, int32_t, SV* buf, int32_t)
{
    if (source_next >= source_lines.size())
        return 0;
    const std::string& l = source_lines[source_next++];
    sv_append_bytes(gcb, buf, l.data(), l.size());
    return static_cast<int32_t>(sv_cur(buf));
}

class SourceLines : public ScanDelim {
protected:
    void SetUp() override
    {
        ScanDelim::SetUp();
        source_next = 0;
        ASSERT_EQ(run([&] { filter_add(gcb, line_source, nullptr); }), 0);
    }
    void TearDown() override
    {
        gcb->source_handle = 0;
        sv_release(gcb, as_sv(gcb->source_filters));
        gcb->source_filters = nullptr;
        ScanDelim::TearDown();
    }
};

TEST_F(SourceLines, BodyAcrossLinesOfASource)
{
    source_lines = {"b\r\n", "c) + 1;\n"};
    char* s = set_text("q(a\r\n");
    gcb->source_handle = 1;
    compile_cop.cop_line = 3;
    char* end = nullptr;
    ASSERT_EQ(run([&] { end = scan_delimited(gcb, s + 1, 0, 0); }), 0) << err_text();
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(str(gcb->quote_body), "a\nb\nc");
    EXPECT_EQ(std::string(end), " + 1;\n");
    EXPECT_EQ(gcb->multi_start_line, 3);
    EXPECT_EQ(gcb->multi_end_line, 5);
    EXPECT_EQ(compile_cop.cop_line, 5);
    EXPECT_EQ(gcb->line_start, sv_pv(gcb->line_buffer));
}

TEST_F(SourceLines, EndOfSourceLeavesNothing)
{
    source_lines = {"more\n"};
    char* s = set_text("'abc\n");
    gcb->source_handle = 1;
    compile_cop.cop_line = 8;
    char* end = s;
    ASSERT_EQ(run([&] { end = scan_delimited(gcb, s, 0, 0); }), 0) << err_text();
    EXPECT_EQ(end, nullptr);
    EXPECT_EQ(gcb->quote_body, nullptr);
    EXPECT_EQ(compile_cop.cop_line, 8);
}

TEST_F(SourceLines, HereDocumentFromTheSource)
{
    source_lines = {"one\n", "two\n", "END\n"};
    char* s = set_text("print <<END, 1;\n");
    gcb->source_handle = 1;
    compile_cop.cop_line = 1;
    char* end = nullptr;
    ASSERT_EQ(run([&] { end = scan_here_document(gcb, s + 6); }), 0) << err_text();
    EXPECT_EQ(str(gcb->quote_body), "one\ntwo\n");
    EXPECT_EQ(std::string(end, static_cast<size_t>(gcb->buffer_end - end)), ", 1;\n");
    EXPECT_EQ(compile_cop.cop_line, 4);
}

}  // namespace
}  // namespace lextest
