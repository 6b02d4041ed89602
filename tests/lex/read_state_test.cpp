// The token reader's states: the pending-token stack, interpolated text
// (pieces, concatenation, joined arrays), case modifiers, the bridge's
// generated pattern text, and identifiers resolved on the next call.
#include "lex/read_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxpad.h"

namespace lextest {
namespace {

using State = Reader;

// The generated text of the bridge, as the evaluation lexes it.
TEST_F(State, GeneratedPatternText)
{
    EXPECT_EQ(tokens("qr/a+b/i"), "PATTERN_OP(qr 0x4000) ( TERM_OP('a+b') ) ; EOF");
    // The raw codes and values of the same stream.
    open("qr/a+b/i");
    std::vector<int32_t> codes;
    ASSERT_EQ(run([&] {
                  for (int i = 0; i < 10; i++) {
                      int32_t t = yylex(gcb);
                      codes.push_back(t);
                      if (t == PATTERN_OP) {
                          EXPECT_EQ(gcb->token_value.op->op_type, 32);
                          EXPECT_EQ(op_as_pattern(gcb->token_value.op)->op_pmflags, 0x4000);
                      }
                      if (t == TERM_OP) {
                          EXPECT_EQ(gcb->token_value.op->op_type, 5);
                          EXPECT_EQ(str(const_sv(gcb->token_value.op)), "a+b");
                      }
                      if (t == 0)
                          break;
                  }
              }),
              0)
        << err_text();
    EXPECT_EQ(codes, (std::vector<int32_t>{261, 40, 260, 41, 59, 0}));
}

TEST_F(State, GeneratedPatternTextsWithOtherDelimitersAndFlags)
{
    struct Case {
        const char* text;
        const char* stream;
    } cases[] = {
        {"qr'a$b'ms", "PATTERN_OP(qr 0x3000) ( TERM_OP('a$b') ) ; EOF"},
        {"qr{x{2}y}x", "PATTERN_OP(qr 0x8000) ( TERM_OP('x{2}y') ) ; EOF"},
        {"qr#\\d+#io", "PATTERN_OP(qr 0x4080) ( TERM_OP('\\d+') ) ; EOF"},
        {"qr//", "PATTERN_OP(qr 0x0) ( TERM_OP('') ) ; EOF"},
        {"qr/a/;", "PATTERN_OP(qr 0x0) ( TERM_OP('a') ) ; EOF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokens(c.text), c.stream) << c.text;
}

// The replacement of s///e is lexed as the code of a block; nothing may be
// left after the block's closing brace.
TEST_F(State, EvaluatedReplacementReadsAsABlock)
{
    std::string stream = tokens("s/a/b . 1/e");
    EXPECT_NE(stream.find("PATTERN_OP(subst 0x400)"), std::string::npos) << stream;
    EXPECT_EQ(stream.find("Bad evalled"), std::string::npos) << stream;
    EXPECT_EQ(stream.substr(stream.size() - 5), "; EOF") << stream;
}

// A braced name that opens a subscript counts as an open bracket like any
// other, however deep the brackets around it already are.
TEST_F(State, BracedNamesInsideDeepBrackets)
{
    std::string text = std::string(130, '{') + "${a[0]}" + std::string(130, '}');
    std::string stream = tokens(text, true, 400);
    EXPECT_EQ(stream.substr(stream.size() - 3), "EOF") << stream.substr(stream.size() - 200);
}

TEST_F(State, TheProgramZero)
{
    EXPECT_EQ(tokens("0"), "TERM_OP('0') ; EOF");
    EXPECT_EQ(tokens(""), "EOF");
}

TEST_F(State, StringPiecesAndConcatenation)
{
    struct Case {
        const char* text;
        const char* stream;
    } cases[] = {
        {"\"ab\"", "TERM_OP('ab') ; EOF"},
        {"\"\"", "TERM_OP('') ; EOF"},
        {"'a\\\\b'", "TERM_OP('a\\b') ; EOF"},
        {"\"a$x\"", "FUNC_PAREN(stringify) ( TERM_OP('a') ADD_OP(concat) $ BAREWORD('x' entered) ) ; EOF"},
        {"\"$x\"", "FUNC_PAREN(stringify) ( $ BAREWORD('x' entered) ) ; EOF"},
        {"\"$x-$y\"",
         "FUNC_PAREN(stringify) ( $ BAREWORD('x' entered) ADD_OP(concat) TERM_OP('-') ADD_OP(concat) $ "
         "BAREWORD('y' entered) ) ; EOF"},
        {"\"@x\"",
         "FUNC_PAREN(stringify) ( FUNC_PAREN(join) ( $ BAREWORD('\"' entered) , @ BAREWORD('x' entered) ) ) ; EOF"},
        {"\"a\\tb\"", "FUNC_PAREN(stringify) ( TERM_OP('a\tb') ) ; EOF"},
        {"qq'$x'", "FUNC_PAREN(stringify) ( $ BAREWORD('x' entered) ) ; EOF"},
        {"q($x)", "TERM_OP('$x') ; EOF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokens(c.text), c.stream) << c.text;
}

TEST_F(State, SubscriptsOfInterpolatedVariables)
{
    EXPECT_EQ(tokens("\"$x[1]\""),
              "FUNC_PAREN(stringify) ( $ BAREWORD('x' entered) [ TERM_OP('1') ] ) ; EOF");
    EXPECT_EQ(tokens("\"$x->{a}b\""),
              "FUNC_PAREN(stringify) ( $ BAREWORD('x' entered) DEREF_ARROW { BAREWORD('a' bare) ; } ADD_OP(concat) "
              "TERM_OP('b') ) ; EOF");
}

TEST_F(State, CaseModifiers)
{
    struct Case {
        const char* text;
        const char* stream;
    } cases[] = {
        {"\"\\Uab\\E\"", "FUNC_PAREN(stringify) ( FUNC_PAREN(uc) ( TERM_OP('ab') ) ) ; EOF"},
        {"\"x\\Uab\"",
         "FUNC_PAREN(stringify) ( TERM_OP('x') ADD_OP(concat) FUNC_PAREN(uc) ( TERM_OP('ab') ) ) ; EOF"},
        {"\"\\L\\uaB\"",
         "FUNC_PAREN(stringify) ( FUNC_PAREN(ucfirst) ( FUNC_PAREN(lc) ( TERM_OP('aB') ) ) ) ; EOF"},
        {"\"\\Ua\\Lb\"",
         "FUNC_PAREN(stringify) ( FUNC_PAREN(uc) ( TERM_OP('a') ) ADD_OP(concat) FUNC_PAREN(lc) ( TERM_OP('b') ) ) ; "
         "EOF"},
        {"\"\\Qa.b\\Ec\"",
         "FUNC_PAREN(stringify) ( FUNC_PAREN(quotemeta) ( TERM_OP('a.b') ) ADD_OP(concat) TERM_OP('c') ) ; EOF"},
        {"\"a\\Eb\"", "FUNC_PAREN(stringify) ( TERM_OP('a') ADD_OP(concat) TERM_OP('b') ) ; EOF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokens(c.text), c.stream) << c.text;
}

// Eleven open modifiers grow the stack of the context instead of writing
// past its twelve bytes; all of them close at the end of the string.
TEST_F(State, ManyOpenCaseModifiers)
{
    std::string text = "\"";
    for (int i = 0; i < 14; i++)
        text += i % 2 ? "\\Q" : "\\l";
    text += "a\"";
    std::string expect = "FUNC_PAREN(stringify) (";
    for (int i = 0; i < 14; i++)
        expect += i % 2 ? " FUNC_PAREN(quotemeta) (" : " FUNC_PAREN(lcfirst) (";
    expect += " TERM_OP('a')";
    for (int i = 0; i < 14; i++)
        expect += " )";
    expect += " ) ; EOF";
    EXPECT_EQ(tokens(text, true, 100), expect);
}

// The stack returns the token pushed last first; the state and expect
// value in force at the first push come back once it is empty.
TEST_F(State, PendingTokenStack)
{
    open("x", false);
    gcb->lex_state = LEX_NORMAL;
    gcb->expect = XSTATE;
    lex_queue_int(gcb, ')', 0);
    EXPECT_EQ(gcb->lex_state, LEX_KNOWNEXT);
    EXPECT_EQ(gcb->deferred_state, LEX_NORMAL);
    EXPECT_EQ(gcb->deferred_expect, XSTATE);
    gcb->expect = XTERM;
    lex_queue_int(gcb, FUNC_PAREN, OP_UC);
    lex_queue_int(gcb, '(', 0);
    EXPECT_EQ(gcb->deferred_expect, XSTATE);
    EXPECT_EQ(next(), "(");
    EXPECT_EQ(next(), "FUNC_PAREN(uc)");
    EXPECT_EQ(gcb->lex_state, LEX_KNOWNEXT);
    EXPECT_EQ(next(), ")");
    EXPECT_EQ(gcb->lex_state, LEX_NORMAL);
    EXPECT_EQ(gcb->expect, XSTATE);
    EXPECT_EQ(gcb->deferred_state, LEX_NORMAL);
    // A sixth push is refused before it writes past the stack.
    for (int i = 0; i < 5; i++)
        lex_queue_int(gcb, ',', 0);
    EXPECT_NE(run([&] { lex_queue_int(gcb, ',', 0); }), 0);
    EXPECT_EQ(err_text(), "panic: yylex.\n");
    gcb->queued_count = 0;
}

TEST_F(State, OperatorOrAssign)
{
    struct Case {
        const char* text;
        const char* stream;
    } cases[] = {
        {"$a ||= 1", "$ BAREWORD('a' entered) ASSIGN_OP(orassign) TERM_OP('1') ; EOF"},
        {"$a &&= 1", "$ BAREWORD('a' entered) ASSIGN_OP(andassign) TERM_OP('1') ; EOF"},
        {"$a **= 2", "$ BAREWORD('a' entered) ASSIGN_OP(pow) TERM_OP('2') ; EOF"},
        {"$a .= 2", "$ BAREWORD('a' entered) ASSIGN_OP(concat) TERM_OP('2') ; EOF"},
        {"$a x= 2", "$ BAREWORD('a' entered) ASSIGN_OP(repeat) TERM_OP('2') ; EOF"},
        {"$a <<= 2", "$ BAREWORD('a' entered) ASSIGN_OP(left_shift) TERM_OP('2') ; EOF"},
        {"$a |= 2", "$ BAREWORD('a' entered) ASSIGN_OP(bit_or) TERM_OP('2') ; EOF"},
        {"$a ^= 2", "$ BAREWORD('a' entered) ASSIGN_OP(bit_xor) TERM_OP('2') ; EOF"},
        {"$a || 1", "$ BAREWORD('a' entered) LOGICAL_OR TERM_OP('1') ; EOF"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tokens(c.text), c.stream) << c.text;
}

// ---- identifiers ----------------------------------------------------------------

TEST_F(State, GlobalsAreEnteredAndCreated)
{
    EXPECT_EQ(tokens("$foo + @bar + %baz"),
              "$ BAREWORD('foo' entered) ADD_OP(add) @ BAREWORD('bar' entered) ADD_OP(add) % BAREWORD('baz' entered) ; "
              "EOF");
    GV* gv = gv_fetch_by_name(gcb, "bar", 0, SVt_PVAV);
    ASSERT_NE(gv, nullptr);
    EXPECT_NE(gv_gp(gv)->gp_av, nullptr);
    gv = gv_fetch_by_name(gcb, "baz", 0, SVt_PVHV);
    ASSERT_NE(gv, nullptr);
    EXPECT_NE(gv_gp(gv)->gp_hv, nullptr);
    EXPECT_EQ(tokens("$x{a} $y[0]", true, 4), "$ BAREWORD('x' entered) { BAREWORD('a' bare)");
    EXPECT_NE(gv_fetch_by_name(gcb, "x", 0, SVt_PVHV), nullptr);
}

TEST_F(State, LexicalsResolveToPadOps)
{
    EXPECT_EQ(tokens("my $x; $x", true, 4), "KW_MY(1) $ LEXICAL_VAR(padany 1) ;");
    gcb->declaring = 0;
    pad_intro_pending(gcb);
    EXPECT_EQ(first("$x", 2), "$ LEXICAL_VAR(padany 1)");
    EXPECT_EQ(first("$xy", 2), "$ BAREWORD('xy' entered)");
}

TEST_F(State, DeclarationsOfPackageNamesAreErrors)
{
    EXPECT_EQ(first("my $a::b", 3), "KW_MY(1) $ LEXICAL_VAR(padany 1)");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"\"my\" variable $a::b can't be in a package near \"my $a::b\n\"\n"});
    queued_errors.clear();
    EXPECT_EQ(first("our $c::d", 3), "KW_MY(1) $ BAREWORD('c::d' entered)");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"No package name allowed for variable $c::d in \"our\" near \"our $c::d\n\"\n"});
}

TEST_F(State, OurNamesAreGlobalsOfTheirPackage)
{
    gcb->current_package_name = pv("main");
    EXPECT_EQ(first("our $v", 3), "KW_MY(1) $ BAREWORD('main::v' entered)");
    gcb->declaring = 0;
    pad_intro_pending(gcb);
    EXPECT_EQ(first("$v", 2), "$ BAREWORD('main::v' entered)");
    EXPECT_NE(gv_fetch_by_name(gcb, "main::v", 0, SVt_PV), nullptr);
}

TEST_F(State, LexicalSortVariablesInAComparison)
{
    for (const char* name : {"$a", "$b"}) {
        open("x");
        gcb->declaring = KEY_my;
        pad_declare_my(gcb, name);
        gcb->declaring = 0;
        pad_intro_pending(gcb);
        std::string text = std::string("sort { ") + name + " <=> 1 } @z";
        EXPECT_EQ(tokens(text, false), std::string("LIST_OP(sort) { $ ! Can't use \"my ") + name +
                                            "\" in sort comparison.")
            << name;
        gcb->err.len = 0;
    }
    open("x");
    gcb->declaring = KEY_my;
    pad_declare_my(gcb, "$ab");
    gcb->declaring = 0;
    pad_intro_pending(gcb);
    EXPECT_EQ(first("sort { $ab <=> 1 } @z", 4, false), "LIST_OP(sort) { $ LEXICAL_VAR(padany 3)");
}

TEST_F(State, PossibleUnintendedInterpolation)
{
    warnings_all();
    runtime_cop.cop_warnings = nullptr;
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    EXPECT_EQ(tokens("\"a@nosuch\"", true, 8),
              "FUNC_PAREN(stringify) ( TERM_OP('a') ADD_OP(concat) FUNC_PAREN(join) ( $ BAREWORD('\"' entered)");
    EXPECT_EQ(take_warnings(), "");
    next();
    EXPECT_EQ(next(), "@");
    EXPECT_EQ(next(), "BAREWORD('nosuch' entered)");
    EXPECT_EQ(take_warnings(), "Possible unintended interpolation of @nosuch in string.\n");
    // An array that exists is meant.
    gv_ensure_array(gcb, gv_fetch_by_name(gcb, "there", GV_ADD, SVt_PVAV));
    first("\"@there\"", 10);
    EXPECT_EQ(take_warnings(), "");
}

TEST_F(State, UnrecognizedCharacter)
{
    EXPECT_EQ(tokens("1 \x01", false), "TERM_OP('1') ! Unrecognized character \\x01.");
    gcb->err.len = 0;
    EXPECT_EQ(tokens("\xE9", false), "! Unrecognized character \\xE9.");
}

}  // namespace
}  // namespace lextest
