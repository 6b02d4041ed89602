// Escapes of interpolated text: the escape table, numeric and named
// characters, where a run stops, a pattern's own escapes, comments and code
// blocks, substitution replacements and transliteration ranges.
#include "lex/scan_fixture.h"

#include "ds/src/prxre.h"
#include "ds/src/prxsv.h"

namespace lextest {
namespace {

class Escapes : public Lex {
protected:
    OP* pattern = nullptr;

    struct Result {
        std::string text;  // the constant's text, or "<none>"
        bool utf8 = false;
        size_t stop = 0;
    };
    // Runs the escape scanner over body as the construct kind would see it.
    Result esc(const std::string& body, int32_t kind = OP_STRINGIFY, uint16_t pmflags = 0)
    {
        char* s = set_text(body);
        gcb->quote_op_kind = kind;
        gcb->in_pattern = nullptr;
        if (kind == OP_MATCH || kind == OP_QR) {
            if (!pattern)
                pattern = op_new_pattern(gcb, kind, 0);
            op_as_pattern(pattern)->op_pmflags = pmflags;
            gcb->in_pattern = pattern;
        }
        gcb->token_value.op = nullptr;
        char* end = nullptr;
        EXPECT_EQ(run([&] { end = scan_escapes(gcb, s); }), 0) << err_text();
        Result r;
        r.stop = end ? offset(end) : 0;
        OP* o = gcb->token_value.op;
        if (!o) {
            r.text = "<none>";
            return r;
        }
        EXPECT_EQ(o->op_type, OP_CONST);
        r.text = str(const_sv(o));
        r.utf8 = (const_sv(o)->flags & SVf_UTF8) != 0;
        op_free_tree(gcb, o);
        gcb->token_value.op = nullptr;
        return r;
    }
    void TearDown() override
    {
        op_free_tree(gcb, pattern);
        Lex::TearDown();
    }
};

TEST_F(Escapes, TableOfEscapes)
{
    struct Case {
        const char* body;
        std::string text;
        bool utf8;
    } cases[] = {
        {"a\\tb", "a\tb", false},
        {"\\a\\b\\e\\f\\n\\r\\t", "\x07\x08\x1b\x0c\x0a\x0d\x09", false},
        {"\\x41\\101", "AA", false},
        {"\\x{263A}", "\xe2\x98\xba", true},
        {"\\xFF", "\xff", false},
        {"\\xFF\\x{100}", "\xc3\xbf\xc4\x80", true},
        {"\\cA\\c[\\ca", "\x01\x1b\x01", false},
        {"\\0", std::string(1, '\0'), false},
        {"\\1234", "S4", false},
        {"\\q\\\\", "q\\", false},
        {"a\\", "a\\", false},
    };
    for (const Case& c : cases) {
        Result r = esc(c.body);
        EXPECT_EQ(r.text, c.text) << c.body;
        EXPECT_EQ(r.utf8, c.utf8) << c.body;
        EXPECT_EQ(r.stop, std::strlen(c.body)) << c.body;
    }
    EXPECT_TRUE(queued_errors.empty());
}

TEST_F(Escapes, WhereARunStops)
{
    struct Case {
        const char* body;
        int32_t kind;
        const char* text;
        size_t stop;
    } cases[] = {
        {"ab$x", OP_STRINGIFY, "ab", 2},
        {"ab@x", OP_STRINGIFY, "ab", 2},
        {"ab@", OP_STRINGIFY, "ab@", 3},
        {"a@ b", OP_STRINGIFY, "a@ b", 4},
        {"a\\Ub", OP_STRINGIFY, "a", 1},
        {"a\\Eb", OP_STRINGIFY, "a", 1},
        {"$x", OP_STRINGIFY, "<none>", 0},
        {"a$", OP_MATCH, "a$", 2},
        {"(a$|b)", OP_MATCH, "(a$|b)", 6},
        {"a$x", OP_MATCH, "a", 1},
    };
    for (const Case& c : cases) {
        Result r = esc(c.body, c.kind);
        EXPECT_EQ(r.text, c.text) << c.body;
        EXPECT_EQ(r.stop, c.stop) << c.body;
    }
}

TEST_F(Escapes, PatternKeepsItsOwnEscapes)
{
    struct Case {
        const char* body;
        uint16_t flags;
        const char* text;
    } cases[] = {
        {"\\d\\w\\.\\1\\n", 0, "\\d\\w\\.\\1\\n"},
        {"a(?#c $x @y)b", 0, "a(?#c $x @y)b"},
        {"a(?{ $x{1} })b", 0, "a(?{ $x{1} })b"},
        {"a # $x\nb", 0x8000, "a # $x\nb"},
        {"\\x41\\q", 0, "\\x41q"},
    };
    for (const Case& c : cases) {
        Result r = esc(c.body, OP_MATCH, c.flags);
        EXPECT_EQ(r.text, c.text) << c.body;
        EXPECT_EQ(r.stop, std::strlen(c.body)) << c.body;
    }
    EXPECT_TRUE(queued_errors.empty());
}

TEST_F(Escapes, UnbalancedCodeBlockIsACompileError)
{
    esc("(?{ a ", OP_MATCH);
    ASSERT_EQ(queued_errors.size(), 1u);
    EXPECT_EQ(queued_errors[0], "Sequence (?{...}) not terminated or not {}-balanced at EOF\n");
}

TEST_F(Escapes, BracesOfHexAndNamedCharacters)
{
    Result r = esc("\\x{41");
    EXPECT_EQ(r.text, "41");
    r = esc("\\Nx");
    EXPECT_EQ(r.text, "x");
    r = esc("\\N{ab");
    EXPECT_EQ(r.text, "{ab");
    EXPECT_EQ(queued_errors, (std::vector<std::string>{"Missing right brace on \\x{} at EOF\n",
                                                        "Missing braces on \\N{} at EOF\n",
                                                        "Missing right brace on \\N{} at EOF\n"}));
}

TEST_F(Escapes, NamedCharacterWithoutAHandler)
{
    Result r = esc("a\\N{SNOWMAN}b");
    EXPECT_EQ(r.text, "aSNOWMANb");  // the name stands for itself
    EXPECT_EQ(queued_errors, std::vector<std::string>{
                                 "Constant(\\N{...}) unknown: (possibly a missing \"use charnames ...\") at EOF\n"});
}

TEST_F(Escapes, UnrecognizedEscapeWarns)
{
    gcb->current_statement = &runtime_cop;
    warnings_all();
    Result r = esc("\\q\\8");
    EXPECT_EQ(r.text, "q8");
    EXPECT_EQ(err_text(), "Unrecognized escape \\q passed through.\n");
}

TEST_F(Escapes, ReplacementGroupReference)
{
    gcb->current_statement = &runtime_cop;
    warnings_all();
    Result r = esc("x\\1", OP_SUBST);
    EXPECT_EQ(r.text, "x");
    EXPECT_EQ(r.stop, 1u);
    EXPECT_EQ(std::string(sv_pv(gcb->line_buffer)), "x$1");
    EXPECT_EQ(err_text(), "\\1 better written as $1.\n");
    gcb->err.len = 0;
    r = esc("\\12", OP_SUBST);
    EXPECT_EQ(r.text, "\n");
    EXPECT_EQ(err_text(), "");
}

TEST_F(Escapes, TransliterationRanges)
{
    struct Case {
        const char* body;
        const char* text;
    } cases[] = {
        {"a-e", "abcde"},
        {"e-a", ""},
        {"a\\-e", "a-e"},
        {"-ab-", "-ab-"},
        {"x-za", "xyza"},
        {"\\x41-C", "ABC"},
    };
    for (const Case& c : cases) {
        Result r = esc(c.body, OP_TRANS);
        EXPECT_EQ(r.text, c.text) << c.body;
        EXPECT_EQ(r.stop, std::strlen(c.body)) << c.body;
    }
}

TEST_F(Escapes, TransliterationCaseLettersAreText)
{
    Result r = esc("\\U\\l", OP_TRANS);
    EXPECT_EQ(r.text, "Ul");
}

TEST_F(Escapes, Utf8SourceBytes)
{
    gcb->compile_hints |= HINT_UTF8;
    Result r = esc("\xc3\xa9t\xe9");
    EXPECT_EQ(r.text, "\xc3\xa9t\xc3\xa9");  // a valid character kept, a lone byte encoded
    EXPECT_TRUE(r.utf8);
    gcb->compile_hints &= ~HINT_UTF8;
    r = esc("\xe9");
    EXPECT_EQ(r.text, "\xe9");
    EXPECT_FALSE(r.utf8);
}

}  // namespace
}  // namespace lextest
