// Delivering quote constructs: finished terms, single-quoted bodies, and the
// sub-lexer's entry into a body, its replacement part and its exit.
#include "lex/scan_fixture.h"

#include "ds/src/prxscope.h"
#include "ds/src/prxsv.h"

namespace lextest {
namespace {

class Interp : public Lex {
protected:
    SV* body(const char* text, int32_t close = '"')
    {
        SV* sv = sv_new_from_cstring(gcb, text, 0);
        sv_upgrade_body(gcb, sv, SVt_PVIV);
        sv_iv(sv) = close;
        return sv;
    }
};

TEST_F(Interp, ScannedOpIsAFinishedTerm)
{
    OP* o = op_new_base(gcb, OP_STUB, 0);
    gcb->scanned_op = o;
    gcb->token_value.ival = OP_NULL;
    EXPECT_EQ(lex_quote_start(gcb), TERM_OP);
    EXPECT_EQ(gcb->token_value.op, o);
    EXPECT_EQ(gcb->scanned_op, nullptr);
    op_free_tree(gcb, o);
}

TEST_F(Interp, SingleQuotedBodies)
{
    struct Case {
        const char* text;
        int32_t close;
        const char* value;
    } cases[] = {
        {"a\\\\b", '\'', "a\\b"},
        {"a\\'b\\q", '\'', "a\\'b\\q"},
        {"x\\\\\\\\", '\'', "x\\\\"},
        {"a\\\\b", -1, "a\\\\b"},
    };
    for (const Case& c : cases) {
        gcb->quote_body = body(c.text, c.close);
        gcb->token_value.ival = OP_CONST;
        int32_t token = 0;
        ASSERT_EQ(run([&] { token = lex_quote_start(gcb); }), 0) << err_text();
        EXPECT_EQ(token, TERM_OP);
        OP* o = gcb->token_value.op;
        ASSERT_EQ(o->op_type, OP_CONST);
        EXPECT_EQ(str(const_sv(o)), c.value) << c.text;
        EXPECT_NE(sv_type(const_sv(o)), static_cast<uint32_t>(SVt_PVIV)) << "a plain string";
        EXPECT_EQ(gcb->quote_body, nullptr);
        op_free_tree(gcb, o);
    }
}

TEST_F(Interp, StringOverloadingWithoutAHandler)
{
    gcb->compile_hints |= HINT_NEW_STRING;
    gcb->quote_body = body("a\\\\b", '\'');
    gcb->token_value.ival = OP_CONST;
    ASSERT_EQ(run([&] { lex_quote_start(gcb); }), 0) << err_text();
    EXPECT_EQ(str(const_sv(gcb->token_value.op)), "a\\b");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Constant(q) unknown:  at EOF\n"});
    op_free_tree(gcb, gcb->token_value.op);
}

TEST_F(Interp, InterpolatingConstructsEnterTheSubLexer)
{
    gcb->lex_state = LEX_NORMAL;
    gcb->token_value.ival = OP_STRINGIFY;
    EXPECT_EQ(lex_quote_start(gcb), FUNC_PAREN);
    EXPECT_EQ(gcb->lex_state, LEX_INTERPPUSH);
    EXPECT_EQ(gcb->lex_sub_mode, LEX_NORMAL);
    EXPECT_EQ(gcb->lex_sub_what, OP_STRINGIFY);
    EXPECT_EQ(gcb->expect, XTERM);
    EXPECT_EQ(gcb->token_value.ival, OP_STRINGIFY);

    OP* pm = op_new_pattern(gcb, OP_QR, 0);
    gcb->scanned_op = pm;
    gcb->token_value.ival = OP_MATCH;
    EXPECT_EQ(lex_quote_start(gcb), PATTERN_OP);
    EXPECT_EQ(gcb->token_value.op, pm);
    EXPECT_EQ(gcb->lex_sub_op, pm);
    EXPECT_EQ(gcb->scanned_op, nullptr);
    op_free_tree(gcb, pm);
}

TEST_F(Interp, EmptyStringGivesOneEmptyPieceAndTheOuterTextReturns)
{
    char* outer = set_text("\"\" . 1;", 2);
    compile_cop.cop_line = 5;
    gcb->multi_start_line = 4;
    gcb->bracket_depth = 2;
    gcb->quote_body = body("");
    gcb->lex_sub_mode = LEX_NORMAL;
    gcb->lex_sub_what = OP_STRINGIFY;
    gcb->lex_sub_op = nullptr;
    int32_t base = gcb->savestack_ix;

    EXPECT_EQ(lex_interpolation_begin(gcb), '(');
    EXPECT_EQ(gcb->lex_state, LEX_INTERPSTRING);
    EXPECT_EQ(compile_cop.cop_line, 4);
    EXPECT_EQ(gcb->bracket_depth, 0);
    EXPECT_EQ(gcb->quote_body, nullptr);
    EXPECT_EQ(gcb->scan_pos, gcb->buffer_end);

    EXPECT_EQ(lex_interpolation_end(gcb), TERM_OP);
    EXPECT_EQ(str(const_sv(gcb->token_value.op)), "");
    EXPECT_EQ(gcb->expect, XOPERATOR);
    op_free_tree(gcb, gcb->token_value.op);

    EXPECT_EQ(lex_interpolation_end(gcb), ')');
    EXPECT_EQ(gcb->savestack_ix, base);
    EXPECT_EQ(gcb->scan_pos, outer);
    EXPECT_EQ(gcb->lex_state, LEX_NORMAL);
    EXPECT_EQ(compile_cop.cop_line, 5);
    EXPECT_EQ(gcb->bracket_depth, 2);
    EXPECT_EQ(gcb->buffer_end, outer + 5);
    EXPECT_EQ(gcb->lex_sub_what, 0);
}

TEST_F(Interp, SubstitutionContinuesWithItsReplacement)
{
    set_text("s/a/b/;");
    OP* pm = op_new_pattern(gcb, OP_SUBST, 0);
    gcb->quote_body = body("a", '/');
    gcb->replacement_text = body("b", '/');
    gcb->lex_sub_mode = LEX_NORMAL;
    gcb->lex_sub_what = OP_SUBST;
    gcb->lex_sub_op = pm;

    EXPECT_EQ(lex_interpolation_begin(gcb), '(');
    EXPECT_EQ(gcb->in_pattern, pm);
    EXPECT_EQ(gcb->quote_op_kind, OP_SUBST);
    gcb->piece_count = 1;  // the pattern's piece was delivered
    EXPECT_EQ(lex_interpolation_end(gcb), ',');
    EXPECT_EQ(str(gcb->line_buffer), "b");
    EXPECT_EQ(gcb->in_pattern, nullptr);
    EXPECT_EQ(gcb->lex_state, LEX_INTERPSTRING);
    EXPECT_EQ(gcb->replacement_text, nullptr);
    EXPECT_EQ(gcb->piece_count, 0);
    gcb->piece_count = 1;
    EXPECT_EQ(lex_interpolation_end(gcb), ')');
    EXPECT_EQ(str(gcb->line_buffer), "s/a/b/;");
    op_free_tree(gcb, pm);
}

TEST_F(Interp, EvaluatedReplacementIsLexedAsCode)
{
    set_text("s/a/b/e;");
    OP* pm = op_new_pattern(gcb, OP_SUBST, 0);
    gcb->quote_body = body("a", '/');
    SV* repl = body("do { b }", '/');
    repl->flags |= SVf_EVALED;
    gcb->replacement_text = repl;
    gcb->lex_sub_mode = LEX_NORMAL;
    gcb->lex_sub_what = OP_SUBST;
    gcb->lex_sub_op = pm;
    lex_interpolation_begin(gcb);
    gcb->piece_count = 1;
    EXPECT_EQ(lex_interpolation_end(gcb), ',');
    EXPECT_EQ(gcb->lex_state, LEX_INTERPNORMAL);
    EXPECT_EQ(gcb->piece_count, 1);
    EXPECT_EQ(gcb->replacement_text, repl);
    gcb->replacement_text = nullptr;  // as the reader does when the code ends
    EXPECT_EQ(lex_interpolation_end(gcb), ')');
    op_free_tree(gcb, pm);
}

}  // namespace
}  // namespace lextest
