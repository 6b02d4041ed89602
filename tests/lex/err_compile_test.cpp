// Compile errors and warnings: the place description, the runaway-string
// hint, warnings-only evals and the stop after ten errors.
#include "lex/scan_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxsv.h"

namespace lextest {
namespace {

class CompileError : public Lex {
protected:
    // Reports message with the lexer at `at` in text, the previous token at
    // prev and the one before at prevprev; the queued text.
    std::string report(const std::string& text, size_t prevprev, size_t prev, size_t at, int32_t lookahead,
                       const char* message = "syntax error")
    {
        char* s = set_text(text);
        gcb->prev_prev_token_pos = s + prevprev;
        gcb->prev_token_pos = s + prev;
        gcb->scan_pos = s + at;
        gcb->parse_lookahead = lookahead;
        queued_errors.clear();
        gcb->error_count = 0;
        EXPECT_EQ(run([&] { compile_error(gcb, message); }), 0) << err_text();
        return queued_errors.empty() ? "<nothing>" : queued_errors.back();
    }
};

TEST_F(CompileError, PlaceDescriptions)
{
    struct Case {
        const char* text;
        size_t prevprev, prev, at;
        int32_t lookahead;
        int32_t state;
        const char* expected;
    } cases[] = {
        {"my $x = 1 2;", 8, 10, 11, '2', LEX_NORMAL, "syntax error near \"1 2\"\n"},
        {"foo bar", 0, 0, 7, 'x', LEX_NORMAL, "syntax error near \"foo bar\"\n"},
        {"a  b", 0, 1, 4, 'x', LEX_NORMAL, "syntax error near \"a  b\"\n"},
        {"x;", 0, 0, 0, 0, LEX_NORMAL, "syntax error at EOF\n"},
        {"x;", 0, 0, 0, ';', LEX_NORMAL, "syntax error at EOF\n"},
        {"x;", 0, 0, 0, BAREWORD, LEX_NORMAL, "syntax error next token ???\n"},
        {"x;", 0, 0, 0, -1, LEX_NORMAL, "syntax error at end of line\n"},
        {"x;", 0, 0, 0, -1, LEX_INTERPSTRING, "syntax error within string\n"},
        {"x;", 0, 0, 0, 'q', LEX_NORMAL, "syntax error next char q\n"},
        {"x;", 0, 0, 0, 1, LEX_NORMAL, "syntax error next char ^A\n"},
        {"x;", 0, 0, 0, 0xE9, LEX_NORMAL, "syntax error next char \\351\n"},
    };
    for (const Case& c : cases) {
        gcb->lex_state = c.state;
        EXPECT_EQ(report(c.text, c.prevprev, c.prev, c.at, c.lookahead), c.expected) << c.text;
    }
    // Inside a pattern the end of the text is "within pattern.".
    gcb->lex_state = LEX_INTERPSTRING;
    OP dummy{};
    gcb->in_pattern = &dummy;
    EXPECT_EQ(report("x;", 0, 0, 0, -1), "syntax error within pattern.\n");
    gcb->in_pattern = nullptr;
    // Tokens queued over normal text count as normal text.
    gcb->lex_state = LEX_KNOWNEXT;
    gcb->deferred_state = LEX_NORMAL;
    EXPECT_EQ(report("x;", 0, 0, 0, -1), "syntax error at end of line\n");
}

TEST_F(CompileError, ContextOver200BytesIsNotQuoted)
{
    std::string text(300, 'a');
    EXPECT_EQ(report(text, 0, 0, 250, 'a'), "syntax error next char a\n");
}

TEST_F(CompileError, RunawayMultiLineStringHint)
{
    gcb->multi_start_line = 3;
    gcb->multi_end_line = 9;
    gcb->open_delim = '{';
    gcb->close_delim = '}';
    compile_cop.cop_line = 10;
    EXPECT_EQ(report("x;", 0, 0, 0, 0),
              "syntax error at EOF\n  (Might be a runaway multi-line {} string starting on line 3)\n");
    EXPECT_EQ(gcb->multi_end_line, 0);
    // A line before the end does not count, nor two after it.
    for (int line : {8, 11}) {
        gcb->multi_end_line = 9;
        compile_cop.cop_line = static_cast<uint16_t>(line);
        EXPECT_EQ(report("x;", 0, 0, 0, 0), "syntax error at EOF\n") << line;
    }
}

TEST_F(CompileError, ClearsTheDeclarationBeingRead)
{
    gcb->declaring = 133;
    gcb->declaring_package = gcb->main_stash;
    report("x;", 0, 0, 0, 0);
    EXPECT_EQ(gcb->declaring, 0);
    EXPECT_EQ(gcb->declaring_package, nullptr);
}

TEST_F(CompileError, WarningsOnlyGoToTheErrorStream)
{
    gcb->in_eval = 1;
    set_text("x;");
    gcb->parse_lookahead = 0;
    ASSERT_EQ(run([&] { compile_warning(gcb, "careful"); }), 0);
    EXPECT_TRUE(queued_errors.empty());
    EXPECT_EQ(err_text(), "careful at EOF\n");
    EXPECT_EQ(gcb->in_eval, 1);
    EXPECT_EQ(gcb->error_count, 0);
}

TEST_F(CompileError, TenthErrorStops)
{
    GV* file = gv_fetch_file_glob(gcb, "prog.pl");
    compile_cop.cop_filegv = sv_as<GV>(sv_refinc(as_sv(file)));
    set_text("x;");
    gcb->parse_lookahead = 0;
    for (int i = 1; i <= 9; i++)
        ASSERT_EQ(run([&] { compile_error(gcb, "bad"); }), 0) << i;
    EXPECT_EQ(gcb->error_count, 9);
    EXPECT_EQ(err_text(), "");
    int32_t code = run([&] { compile_error(gcb, "bad"); });
    EXPECT_NE(code, 0);
    EXPECT_EQ(err_text(), "prog.pl has too many errors.\n");
    EXPECT_EQ(queued_errors.size(), 10u);
    sv_release(gcb, as_sv(compile_cop.cop_filegv));
    compile_cop.cop_filegv = nullptr;
}

TEST_F(CompileError, TenthErrorInAnEvalCarriesItsErrorText)
{
    gcb->error_glob = gv_fetch_by_name(gcb, "@", GV_ADD, SVt_PV);
    SV* errsv = gv_gp(gcb->error_glob)->gp_sv;
    sv_set_cstring(gcb, errsv, "first\n");
    gcb->in_eval = 1;
    gcb->error_count = 9;
    set_text("x;");
    gcb->parse_lookahead = 0;
    int32_t code = run([&] { compile_error(gcb, "bad"); });
    EXPECT_NE(code, 0);
    // The eval's error text ends up in $@ (or on the error stream outside
    // an eval frame); either holds the message.
    std::string all = err_text() + str(gv_gp(gcb->error_glob)->gp_sv);
    EXPECT_NE(all.find("first\n(null) has too many errors.\n"), std::string::npos) << all;
}

}  // namespace
}  // namespace lextest
