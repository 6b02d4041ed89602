// Here-documents, the input operator, format text and names.
#include "lex/scan_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxsv.h"

namespace lextest {
namespace {

class HereDoc : public Lex {
protected:
    void TearDown() override
    {
        sv_release(gcb, gcb->quote_body);
        gcb->quote_body = nullptr;
        op_free_tree(gcb, gcb->scanned_op);
        gcb->scanned_op = nullptr;
        Lex::TearDown();
    }
};

TEST_F(HereDoc, KindsAndTheRestOfTheLine)
{
    struct Case {
        const char* text;
        int32_t type;
        int64_t slot;
        const char* doc;
        const char* rest;
    } cases[] = {
        {"<<END . 'x';\nline1\nline2\nEND\nmore;", OP_SCALAR, 0, "line1\nline2\n", " . 'x';\nmore;"},
        {"<<'END';\na $b\nEND\n", OP_CONST, -1, "a $b\n", ";\n"},
        {"<<\"E\";\n$x\nE\n", OP_SCALAR, 0, "$x\n", ";\n"},
        {"<<`CMD`;\nls\nCMD\n", OP_BACKTICK, '\\', "ls\n", ";\n"},
        {"<<\\END;\nq\nEND\n", OP_CONST, -1, "q\n", ";\n"},
        {"<<END;\r\nx\r\nEND\r\n", OP_SCALAR, 0, "x\n", ";\n"},
    };
    for (const Case& c : cases) {
        sv_release(gcb, gcb->quote_body);
        gcb->quote_body = nullptr;
        char* s = set_text(c.text);
        compile_cop.cop_line = 1;
        char* end = nullptr;
        ASSERT_EQ(run([&] { end = scan_here_document(gcb, s); }), 0) << err_text();
        EXPECT_EQ(gcb->token_value.ival, c.type) << c.text;
        ASSERT_NE(gcb->quote_body, nullptr);
        EXPECT_EQ(str(gcb->quote_body), c.doc) << c.text;
        EXPECT_EQ(sv_iv(gcb->quote_body), c.slot) << c.text;
        EXPECT_EQ(std::string(end, static_cast<size_t>(gcb->buffer_end - end)), c.rest) << c.text;
        EXPECT_EQ(gcb->open_delim, '<');
        EXPECT_EQ(gcb->multi_start_line, 1);
    }
}

TEST_F(HereDoc, TerminatorMustStandAlone)
{
    char* s = set_text("<<END;\nbody\nEND  \nx\n");
    EXPECT_NE(run([&] { scan_here_document(gcb, s); }), 0);
    EXPECT_EQ(err_text(), "Can't find string terminator \"END\" anywhere before EOF.\n");
    EXPECT_EQ(gcb->quote_body, nullptr);
}

TEST_F(HereDoc, DelimiterTooLong)
{
    std::string text = "<<" + std::string(300, 'A') + ";\n";
    char* s = set_text(text);
    EXPECT_NE(run([&] { scan_here_document(gcb, s); }), 0);
    EXPECT_EQ(err_text(), "Delimiter for here document is too long.\n");
}

TEST_F(HereDoc, InputOperatorForms)
{
    GV* stdin_gv = gv_fetch_by_name(gcb, "STDIN", GV_ADD, SVt_PVIO);
    struct Case {
        const char* text;
        bool special;
        size_t stop;
    } cases[] = {
        {"<STDIN>;", false, 7},
        {"<$fh> x", true, 5},
        {"<>", false, 2},
    };
    for (const Case& c : cases) {
        op_free_tree(gcb, gcb->scanned_op);
        gcb->scanned_op = nullptr;
        char* s = set_text(c.text);
        char* end = nullptr;
        ASSERT_EQ(run([&] { end = scan_input_operator(gcb, s); }), 0) << err_text();
        EXPECT_EQ(offset(end), c.stop) << c.text;
        EXPECT_EQ(gcb->token_value.ival, OP_NULL);
        OP* o = gcb->scanned_op;
        ASSERT_NE(o, nullptr);
        EXPECT_EQ(o->op_type, OP_READLINE) << c.text;
        EXPECT_EQ((o->op_flags & OPf_SPECIAL) != 0, c.special) << c.text;
    }
    // <STDIN> reads the handle's glob; <> reads ARGV.
    op_free_tree(gcb, gcb->scanned_op);
    gcb->scanned_op = nullptr;
    char* s = set_text("<STDIN>");
    ASSERT_EQ(run([&] { scan_input_operator(gcb, s); }), 0);
    OP* kid = reinterpret_cast<op_unary*>(gcb->scanned_op)->op_first;
    ASSERT_EQ(kid->op_type, OP_GV);
    EXPECT_NE(gv_fetch_by_name(gcb, "ARGV", 0, SVt_PVIO), nullptr);
    (void)stdin_gv;
}

TEST_F(HereDoc, InputOperatorGlobsAndErrors)
{
    char* s = set_text("<*.c>;");
    char* end = nullptr;
    ASSERT_EQ(run([&] { end = scan_input_operator(gcb, s); }), 0) << err_text();
    EXPECT_EQ(gcb->token_value.ival, OP_GLOB);
    EXPECT_EQ(str(gcb->quote_body), "*.c");
    EXPECT_EQ(offset(end), 5u);
    struct Case {
        std::string text;
        const char* message;
    } cases[] = {
        {"<abc\n>", "Unterminated <> operator.\n"},
        {"<" + std::string(300, 'a') + ">", "Excessively long <> operator.\n"},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        s = set_text(c.text);
        EXPECT_NE(run([&] { scan_input_operator(gcb, s); }), 0);
        EXPECT_EQ(err_text(), c.message);
    }
}

TEST_F(HereDoc, FormatLines)
{
    gcb->in_eval = 1;
    char* s = set_text(".\nrest");
    char* end = nullptr;
    ASSERT_EQ(run([&] { end = scan_format(gcb, s); }), 0) << err_text();
    EXPECT_EQ(offset(end), 0u);
    EXPECT_EQ(gcb->queued_count, 0) << "an empty format queues nothing";
    EXPECT_EQ(gcb->format_bracket_depth, 0);

    s = set_text("@<<< @>>>\n$a, $b\n.\n");
    int32_t code = run([&] { end = scan_format(gcb, s); });
    ASSERT_EQ(code, 0) << err_text();
    EXPECT_EQ(offset(end), 10u);
    EXPECT_EQ(gcb->queued_count, 3);
    EXPECT_EQ(gcb->queued_types[2], LIST_OP);
    EXPECT_EQ(gcb->queued_values[2].ival, OP_FORMLINE);
    EXPECT_EQ(gcb->queued_types[1], TERM_OP);
    EXPECT_EQ(str(const_sv(gcb->queued_values[1].op)), "@<<< @>>>\n");
    EXPECT_EQ(gcb->queued_types[0], ',');
    op_free_tree(gcb, gcb->queued_values[1].op);
}

TEST_F(HereDoc, UnterminatedFormatInAStringStops)
{
    gcb->in_eval = 1;
    char* s = set_text("text line\n;");
    int32_t code = run([&] { scan_format(gcb, s); });
    // The scan stops at the end of the text and reports the error before
    // it queues the lines.
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Format not terminated at EOF\n"});
    ASSERT_EQ(code, 0) << err_text();
}

class Names : public Lex {};

TEST_F(Names, WordsWithPackageSeparators)
{
    struct Case {
        const char* text;
        int32_t allow;
        const char* name;
        size_t stop;
    } cases[] = {
        {"foo::bar'baz x", 1, "foo::bar::baz", 12},
        {"foo::bar'baz x", 0, "foo", 3},
        {"foo::$bar", 1, "foo", 3},
        {"a1_b;", 1, "a1_b", 4},
        {"it's", 1, "it::s", 4},
        {"x'9", 1, "x", 1},
    };
    for (const Case& c : cases) {
        char buf[256];
        int32_t len = -1;
        char* s = set_text(c.text);
        char* end = nullptr;
        ASSERT_EQ(run([&] { end = scan_name_chars(gcb, s, buf, sizeof buf, c.allow, &len); }), 0);
        EXPECT_EQ(std::string(buf), c.name) << c.text;
        EXPECT_EQ(len, static_cast<int32_t>(std::strlen(c.name)));
        EXPECT_EQ(offset(end), c.stop) << c.text;
    }
    char buf[256];
    int32_t len = 0;
    std::string longest(254, 'n');
    char* s = set_text(longest);
    EXPECT_NE(run([&] { scan_name_chars(gcb, s, buf, sizeof buf, 1, &len); }), 0);
    EXPECT_EQ(err_text(), "Identifier too long.\n");
}

TEST_F(Names, VariableNames)
{
    gcb->bracket_stack = static_cast<char*>(pool_malloc(gcb, LEX_BRACKET_STACK));
    struct Case {
        const char* text;
        std::string name;
        size_t stop;
        int32_t brackets;
    } cases[] = {
        {"$foo::bar;", "foo::bar", 9, 0},
        {"$foo'bar;", "foo::bar", 8, 0},
        {"${foo::bar};", "foo::bar", 11, 0},
        {"$1;", "1", 2, 0},
        {"$12;", "12", 3, 0},
        {"$0;", "0", 2, 0},
        {"$^W;", "\x17", 3, 0},
        {"${^WARNING_BITS};", "\x17" "ARNING_BITS", 16, 0},
        {"$;;", ";", 2, 0},
        {"$$;", "$", 2, 0},
        {"$$x", "", 1, 0},
        {"${ time() }", "", 1, 0},
        {"${x[1]}", "x", 3, 1},
    };
    for (const Case& c : cases) {
        gcb->bracket_depth = 0;
        gcb->lex_state = LEX_NORMAL;
        char buf[256];
        char* s = set_text(c.text);
        char* end = nullptr;
        int32_t code = run([&] { end = scan_variable_name(gcb, s, gcb->buffer_end, buf, sizeof buf, 0); });
        ASSERT_EQ(code, 0) << c.text << err_text();
        EXPECT_EQ(std::string(buf), c.name) << c.text;
        EXPECT_EQ(offset(end), c.stop) << c.text;
        EXPECT_EQ(gcb->bracket_depth, c.brackets) << c.text;
        if (c.brackets) {
            EXPECT_EQ(gcb->bracket_stack[0], LEX_BRACKET_IN_NAME);
        }
    }
    pool_free(gcb, gcb->bracket_stack);
    gcb->bracket_stack = nullptr;
}

TEST_F(Names, InterpolatedNameMayContinue)
{
    gcb->lex_state = LEX_INTERPNORMAL;
    char buf[256];
    char* s = set_text("$abc[1]");
    ASSERT_EQ(run([&] { scan_variable_name(gcb, s, gcb->buffer_end, buf, sizeof buf, 0); }), 0);
    EXPECT_EQ(std::string(buf), "abc");
    EXPECT_EQ(gcb->lex_state, LEX_INTERPENDMAYBE);
    gcb->lex_state = LEX_INTERPNORMAL;
    s = set_text("${abc}x");
    ASSERT_EQ(run([&] { scan_variable_name(gcb, s, gcb->buffer_end, buf, sizeof buf, 0); }), 0);
    EXPECT_EQ(gcb->lex_state, LEX_INTERPEND);
    EXPECT_EQ(gcb->expect, XREF);
}

TEST_F(Names, FindPackage)
{
    HV* foo = gv_stash_by_name(gcb, "Foo", 1);
    gcb->current_package = foo;
    EXPECT_EQ(lex_find_package(gcb, "__PACKAGE__", 11), foo);
    EXPECT_EQ(lex_find_package(gcb, "Foo", 3), foo);
    EXPECT_EQ(lex_find_package(gcb, "Foo::", 5), foo);
    EXPECT_EQ(lex_find_package(gcb, "Nope", 4), nullptr);
}

}  // namespace
}  // namespace lextest
