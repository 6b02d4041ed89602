// White space, comments, lines and the end of the text: the list-operator
// routine, comments and line directives of evaluated strings, the NUL byte
// and the end-of-file bytes, and a program read line by line from a source
// (lines supplied by a source filter in place of a stream).
#include <vector>

#include "lex/read_fixture.h"

#include "ds/src/prxav.h"

namespace lextest {
namespace {

// The lines of the source, handed out one per read.
std::vector<std::string> source_lines;
size_t next_line = 0;

int32_t line_source(PERLGCB* gcb, int32_t, SV* buf, int32_t)
{
    if (next_line >= source_lines.size())
        return 0;
    const std::string& line = source_lines[next_line++];
    sv_append_bytes(gcb, buf, line.data(), line.size());
    return static_cast<int32_t>(sv_cur(buf));
}

class Space : public Reader {
protected:
    void TearDown() override
    {
        gcb->source_filters = nullptr;
        gcb->source_handle = 0;
        Reader::TearDown();
    }

    // A program read from a stream whose lines are `lines`.
    void open_source(std::vector<std::string> lines)
    {
        open("", false);
        source_lines = std::move(lines);
        next_line = 0;
        filter_add(gcb, line_source, nullptr);
        gcb->source_handle = 7;
        compile_cop.cop_line = 0;
    }
};

TEST_F(Space, ListOperatorParentheses)
{
    struct Case {
        const char* text;
        const char* first;
    } cases[] = {
        {"join(1)", "FUNC_PAREN(join)"},
        {"join (1)", "FUNC_PAREN(join)"},
        {"join\n\n  (1)", "FUNC_PAREN(join)"},
        {"join # c\n (1)", "FUNC_PAREN(join)"},
        {"join 1", "LIST_OP(join)"},
        {"join $x, (1)", "LIST_OP(join)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(first(c.text, 1), c.first) << c.text;

    // The routine itself: the value and the positions it records, and
    // LIST_OP while tokens wait.
    open("x");
    char* s = set_text("  (1)");
    gcb->prev_token_pos = s;
    EXPECT_EQ(lex_list_operator(gcb, OP_PRINT, XREF, s), FUNC_PAREN);
    EXPECT_EQ(gcb->token_value.ival, OP_PRINT);
    EXPECT_EQ(gcb->expect, XREF);
    EXPECT_EQ(gcb->scan_pos, s) << "the position before the white space";
    EXPECT_EQ(gcb->last_list_op_pos, s);
    EXPECT_EQ(gcb->last_list_op, OP_PRINT);
    lex_queue_int(gcb, ',', 0);
    EXPECT_EQ(lex_list_operator(gcb, OP_PRINT, XREF, s), LIST_OP);
    EXPECT_EQ(next(), ",");
}

TEST_F(Space, CommentsAndLinesOfAnEvaluatedString)
{
    compile_cop.cop_line = 1;
    open("1 # one\n+ # two\n2");
    EXPECT_EQ(next(), "TERM_OP('1')");
    EXPECT_EQ(next(), "ADD_OP(add)");
    EXPECT_EQ(compile_cop.cop_line, 2);
    EXPECT_EQ(next(), "TERM_OP('2')");
    EXPECT_EQ(compile_cop.cop_line, 3);
    EXPECT_EQ(read_rest(), "; EOF");
}

TEST_F(Space, LineDirectivesOfAnEvaluatedString)
{
    compile_cop.cop_line = 1;
    open("1;\n# line 200 \"foo.pl\"\n2");
    EXPECT_EQ(next(), "TERM_OP('1')");
    EXPECT_EQ(next(), ";");
    EXPECT_EQ(next(), "TERM_OP('2')");
    EXPECT_EQ(compile_cop.cop_line, 200);
    EXPECT_STREQ(gv_statement_file(gcb, &compile_cop), "foo.pl");
}

TEST_F(Space, TheEndOfTheText)
{
    // Outside an evaluated string a comment or a newline ends what a
    // string program can read.
    EXPECT_EQ(tokens("1 # x\n2", false), "TERM_OP('1') EOF");
    EXPECT_EQ(tokens("1\n2", false), "TERM_OP('1') EOF");
    // A NUL byte ends the text.
    EXPECT_EQ(tokens(std::string("1;\0 2", 5)), "TERM_OP('1') ; EOF");
    // The end-of-file bytes: ";", then the end.
    EXPECT_EQ(tokens("1 \x04 2"), "TERM_OP('1') ; EOF");
    EXPECT_EQ(tokens("1 \x1A 2"), "TERM_OP('1') ; EOF");
    // The end stays the end.
    open("1");
    read_rest();
    EXPECT_EQ(next(), "EOF");
    EXPECT_EQ(gcb->last_unary_pos, nullptr);
    EXPECT_EQ(gcb->last_list_op_pos, nullptr);
}

TEST_F(Space, WhiteSpaceInAFormatsArguments)
{
    open("x");
    char* s = set_text(" \t\n  $x");
    gcb->format_bracket_depth = 1;
    gcb->bracket_depth = 1;
    EXPECT_EQ(lex_skip_whitespace(gcb, s), s + 2) << "only blanks and tabs";
    gcb->bracket_depth = 2;
    EXPECT_EQ(lex_skip_whitespace(gcb, s), s + 5);
    gcb->format_bracket_depth = 0;
    gcb->bracket_depth = 0;
}

TEST_F(Space, ProgramReadLineByLine)
{
    open_source({"1 +\n", "  # note\n", "2;\n"});
    EXPECT_EQ(read_rest(), "TERM_OP('1') ADD_OP(add) TERM_OP('2') ; ; EOF");
    EXPECT_EQ(compile_cop.cop_line, 3);
    EXPECT_EQ(gcb->source_handle, 0) << "the stream is released at its end";
}

TEST_F(Space, SkipperReadsFurtherLines)
{
    open_source({"join\n", "\n", "(1);\n"});
    EXPECT_EQ(read_rest(), "FUNC_PAREN(join) ( TERM_OP('1') ) ; ; EOF");
}

TEST_F(Space, DocumentationOfAStream)
{
    open_source({"1;\n", "=head1 x\n", "y\n", "=cut\n", "2;\n"});
    EXPECT_EQ(next(), "TERM_OP('1')");
    EXPECT_EQ(next(), ";");
    gcb->expect = XSTATE;
    EXPECT_EQ(read_rest(), "TERM_OP('2') ; ; EOF");
    EXPECT_EQ(gcb->doc_skipping, 0);
}

TEST_F(Space, EndOfCodeHandsTheStreamToData)
{
    open_source({"1;\n", "__END__\n", "data\n"});
    gcb->in_eval = 0;
    EXPECT_EQ(read_rest(), "TERM_OP('1') ; ; EOF");
    GV* gv = gv_fetch_by_name(gcb, "main::DATA", 0, SVt_PVIO);
    ASSERT_NE(gv, nullptr);
    ASSERT_NE(gv_gp(gv)->gp_io, nullptr);
    EXPECT_EQ(io_body(gv_gp(gv)->gp_io)->ifp, 7);
}

}  // namespace
}  // namespace lextest
