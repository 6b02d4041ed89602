// The lexer context: starting a text (the closing "\n;", read-only texts,
// what comes back at scope exit), line directives, reading lines through the
// filters, and starting a sub or format body.
#include "lex/scan_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxpad.h"
#include "ds/src/prxscope.h"
#include "ds/src/prxsv.h"

namespace lextest {
namespace {

class Context : public Lex {};

TEST_F(Context, TextGetsItsClosingSemicolon)
{
    struct Case {
        const char* text;
        const char* lexed;
    } cases[] = {
        {"1", "1\n;"},
        {"1;", "1;"},
        {"", ""},
        {"qr/a/i", "qr/a/i\n;"},
    };
    for (const Case& c : cases) {
        SV* text = sv_new_from_cstring(gcb, c.text, 0);
        scope_enter(gcb);
        ASSERT_EQ(run([&] { lex_context_begin(gcb, text); }), 0) << err_text();
        EXPECT_EQ(str(gcb->line_buffer), c.lexed) << c.text;
        EXPECT_EQ(gcb->scan_pos, sv_pv(gcb->line_buffer));
        EXPECT_EQ(gcb->buffer_end - gcb->scan_pos, static_cast<int64_t>(std::strlen(c.lexed)));
        EXPECT_EQ(gcb->lex_state, LEX_NORMAL);
        EXPECT_EQ(gcb->expect, XSTATE);
        EXPECT_FALSE(gcb->line_buffer->flags & SVs_TEMP);
        EXPECT_EQ(str(gcb->rs), "\n");
        EXPECT_EQ(gcb->source_handle, 0);
        scope_leave(gcb);
        EXPECT_EQ(str(text), c.text) << "the caller's text is never changed";
        sv_release(gcb, text);
    }
}

TEST_F(Context, ReadOnlyTextIsCopied)
{
    SV* text = sv_new_from_cstring(gcb, "1;", 0);
    text->flags |= SVf_READONLY;
    scope_enter(gcb);
    ASSERT_EQ(run([&] { lex_context_begin(gcb, text); }), 0);
    EXPECT_NE(gcb->line_buffer, text);
    EXPECT_EQ(str(gcb->line_buffer), "1;");
    scope_leave(gcb);
    text->flags &= ~SVf_READONLY;
    sv_release(gcb, text);
}

TEST_F(Context, NestedContextRestoresTheOuterOne)
{
    // An outer lexing in the middle of its text, with two tokens queued.
    char* outer = set_text("outer text;", 6);
    gcb->lex_state = LEX_KNOWNEXT;
    gcb->deferred_state = LEX_NORMAL;
    gcb->expect = XOPERATOR;
    gcb->queued_count = 2;
    gcb->queued_types[0] = BAREWORD;
    gcb->queued_types[1] = ',';
    gcb->queued_values[0].ival = 11;
    gcb->queued_values[1].ival = 22;
    gcb->bracket_depth = 3;
    compile_cop.cop_line = 42;
    SV* outer_rs = sv_new_from_cstring(gcb, "--", 0);
    gcb->rs = outer_rs;
    SV* line = gcb->line_buffer;

    SV* text = sv_new_from_cstring(gcb, "inner", 0);
    scope_enter(gcb);
    ASSERT_EQ(run([&] { lex_context_begin(gcb, text); }), 0);
    EXPECT_EQ(gcb->queued_count, 0);
    EXPECT_EQ(gcb->bracket_depth, 0);
    gcb->queued_count = 1;  // the inner lexing uses the queue
    gcb->queued_types[0] = ';';
    compile_cop.cop_line = 3;
    scope_leave(gcb);

    EXPECT_EQ(gcb->line_buffer, line);
    EXPECT_EQ(gcb->scan_pos, outer + 0);
    EXPECT_EQ(gcb->lex_state, LEX_KNOWNEXT);
    EXPECT_EQ(gcb->expect, XOPERATOR);
    EXPECT_EQ(gcb->queued_count, 2);
    EXPECT_EQ(gcb->queued_types[0], BAREWORD);
    EXPECT_EQ(gcb->queued_types[1], ',');
    EXPECT_EQ(gcb->queued_values[0].ival, 11);
    EXPECT_EQ(gcb->queued_values[1].ival, 22);
    EXPECT_EQ(gcb->bracket_depth, 3);
    EXPECT_EQ(compile_cop.cop_line, 42);
    EXPECT_EQ(gcb->rs, outer_rs);
    EXPECT_EQ(outer_rs->refcnt, 1u);
    gcb->rs = nullptr;
    sv_release(gcb, outer_rs);
    sv_release(gcb, text);
}

TEST_F(Context, ContextEndStopsDocumentationSkipping)
{
    gcb->doc_skipping = 1;
    lex_context_end(gcb);
    EXPECT_EQ(gcb->doc_skipping, 0);
}

class LineDirective : public Lex {
protected:
    GV* file_of_cop() { return compile_cop.cop_filegv; }
    std::string file_name()
    {
        const char* f = gv_statement_file(gcb, &compile_cop);
        return f ? f : "<none>";
    }
};

TEST_F(LineDirective, SetsTheNextLineAndFile)
{
    struct Case {
        const char* line;
        int next_line;      // the line number after the directive's line
        const char* file;
    } cases[] = {
        {"# line 200 \"foo.pl\"\n", 200, "foo.pl"},
        {"#line 7 bar.pl \t\r\n", 7, "bar.pl"},
        {"# line 30\n", 30, "<none>"},
        {"#line200 \"foo.pl\"\n", 12, "<none>"},
        {"# line 200 foo bar\n", 12, "<none>"},
        {"# line x\n", 12, "<none>"},
        {"print 1;\n", 12, "<none>"},
        {"# line 5 \"a b.pl\" \n", 5, "a b.pl"},
        {"# line 9 \"unclosed\n\"", 9, "\"unclosed"},
    };
    for (const Case& c : cases) {
        compile_cop.cop_line = 10;
        sv_release(gcb, as_sv(compile_cop.cop_filegv));
        compile_cop.cop_filegv = nullptr;
        std::string text = c.line;
        ASSERT_EQ(run([&] { lex_line_directive(gcb, text.data()); }), 0) << err_text();
        // The directive's own line was counted; the next one gets the number.
        EXPECT_EQ(compile_cop.cop_line + 1, c.next_line) << c.line;
        EXPECT_EQ(file_name(), c.file) << c.line;
    }
    sv_release(gcb, as_sv(compile_cop.cop_filegv));
    compile_cop.cop_filegv = nullptr;
}

TEST_F(LineDirective, ReplacesTheFileGlobReference)
{
    std::string one = "# line 1 \"one.pl\"\n";
    std::string two = "# line 1 \"two.pl\"\n";
    ASSERT_EQ(run([&] { lex_line_directive(gcb, one.data()); }), 0);
    GV* first = compile_cop.cop_filegv;
    ASSERT_NE(first, nullptr);
    uint32_t held = as_sv(first)->refcnt;
    ASSERT_EQ(run([&] { lex_line_directive(gcb, two.data()); }), 0);
    EXPECT_EQ(as_sv(first)->refcnt, held - 1);
    EXPECT_EQ(file_name(), "two.pl");
    sv_release(gcb, as_sv(compile_cop.cop_filegv));
    compile_cop.cop_filegv = nullptr;
}

// A filter that hands out the lines of a script one at a time.
std::vector<std::string> script_lines;
size_t script_next = 0;
int32_t script_filter(PERLGCB* gcb, int32_t, SV* buf, int32_t)
{
    if (script_next >= script_lines.size())
        return 0;
    const std::string& l = script_lines[script_next++];
    sv_append_bytes(gcb, buf, l.data(), l.size());
    return static_cast<int32_t>(sv_cur(buf));
}

TEST_F(Context, ReadLineThroughTheFilters)
{
    script_lines = {"first\n", "second\n"};
    script_next = 0;
    ASSERT_EQ(run([&] { filter_add(gcb, script_filter, nullptr); }), 0);
    SV* line = sv_new_from_cstring(gcb, "old", 0);
    char* text = nullptr;
    ASSERT_EQ(run([&] { text = lex_read_line(gcb, line, 1); }), 0);
    EXPECT_EQ(std::string(text), "first\n");
    ASSERT_EQ(run([&] { text = lex_read_line(gcb, line, 1); }), 0);
    EXPECT_EQ(std::string(text), "second\n");
    ASSERT_EQ(run([&] { text = lex_read_line(gcb, line, 1); }), 0);
    EXPECT_EQ(text, nullptr);
    sv_release(gcb, line);
    ASSERT_EQ(run([&] { filter_del(gcb, script_filter); }), 0);
    sv_release(gcb, as_sv(gcb->source_filters));
    gcb->source_filters = nullptr;
}

TEST_F(Context, StartSubCompileGivesAFreshPadAndRestoresTheOuter)
{
    gcb->padix = 5;
    gcb->min_intro_pending = 3;
    gcb->max_intro_pending = 4;
    gcb->comppad_name_fill = 2;
    CV* outer_cv = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(outer_cv), SVt_PVCV);
    gcb->compile_cv = outer_cv;
    compile_cop.cop_line = 17;

    int32_t floor = -1;
    scope_enter(gcb);
    int32_t before = gcb->savestack_ix;
    ASSERT_EQ(run([&] { floor = start_sub_compile(gcb, 0, CVf_ANON); }), 0) << err_text();
    EXPECT_EQ(floor, before);
    CV* cv = gcb->compile_cv;
    ASSERT_NE(cv, outer_cv);
    EXPECT_EQ(sv_type(as_sv(cv)), static_cast<uint32_t>(SVt_PVCV));
    EXPECT_EQ(cv_body(cv)->cvflags & CVf_ANON, CVf_ANON);
    EXPECT_EQ(cv_body(cv)->outside, outer_cv);
    EXPECT_EQ(as_sv(outer_cv)->refcnt, 2u);
    AV* padlist = cv_body(cv)->padlist;
    ASSERT_NE(padlist, nullptr);
    EXPECT_FALSE(av_body(padlist)->avflags & AVf_REAL);
    EXPECT_EQ(sv_as<AV>(av_body(padlist)->array[0]), gcb->comppad_name);
    EXPECT_EQ(sv_as<AV>(av_body(padlist)->array[1]), gcb->comppad);
    EXPECT_EQ(av_body(gcb->comppad)->fill, 0);
    SV* slot0 = av_body(gcb->comppad)->array[0];
    EXPECT_TRUE(!slot0 || !sv_ok(slot0));
    EXPECT_EQ(gcb->curpad, av_body(gcb->comppad)->array);
    EXPECT_EQ(gcb->padix, 0);
    EXPECT_EQ(gcb->min_intro_pending, 0);
    EXPECT_EQ(gcb->comppad_name_fill, 0);
    EXPECT_EQ(gcb->sub_start_line, 17);

    // A format body.
    int32_t inner_floor = -1;
    ASSERT_EQ(run([&] { inner_floor = start_sub_compile(gcb, 1, 0); }), 0);
    CV* form = gcb->compile_cv;
    EXPECT_EQ(sv_type(as_sv(form)), static_cast<uint32_t>(SVt_PVFM));
    EXPECT_EQ(cv_body(form)->outside, cv);
    leave_scope(gcb, inner_floor);
    EXPECT_EQ(gcb->compile_cv, cv);

    scope_leave(gcb);
    EXPECT_EQ(gcb->compile_cv, outer_cv);
    EXPECT_EQ(gcb->comppad, pad);
    EXPECT_EQ(gcb->curpad, av_body(pad)->array);
    EXPECT_EQ(gcb->comppad_name, names);
    EXPECT_EQ(gcb->padix, 5);
    EXPECT_EQ(gcb->min_intro_pending, 3);
    EXPECT_EQ(gcb->max_intro_pending, 4);
    EXPECT_EQ(gcb->comppad_name_fill, 2);
}

}  // namespace
}  // namespace lextest
