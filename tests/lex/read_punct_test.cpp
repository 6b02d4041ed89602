// What each punctuation character gives in the normal scan: operators by
// what the grammar expects, sigils, brackets, file tests, the arrow, the
// documentation and format forms of "=", and attribute lists.
#include "lex/read_fixture.h"

#include "ds/src/prxgv.h"

namespace lextest {
namespace {

using Punct = Reader;

struct Case {
    const char* text;
    const char* stream;
};

void expect_streams(Reader& r, std::initializer_list<Case> cases, bool eval = true)
{
    for (const Case& c : cases)
        EXPECT_EQ(r.tokens(c.text, eval), c.stream) << c.text;
}

#define STREAMS(...) expect_streams(*this, {__VA_ARGS__})

TEST_F(Punct, OperatorsAfterATerm)
{
    STREAMS({"1 != 2", "TERM_OP('1') EQ_OP(ne) TERM_OP('2') ; EOF"},
            {"1 == 2", "TERM_OP('1') EQ_OP(eq) TERM_OP('2') ; EOF"},
            {"1 <=> 2", "TERM_OP('1') EQ_OP(ncmp) TERM_OP('2') ; EOF"},
            {"1 <= 2", "TERM_OP('1') REL_OP(le) TERM_OP('2') ; EOF"},
            {"1 < 2", "TERM_OP('1') REL_OP(lt) TERM_OP('2') ; EOF"},
            {"1 >= 2", "TERM_OP('1') REL_OP(ge) TERM_OP('2') ; EOF"},
            {"1 > 2", "TERM_OP('1') REL_OP(gt) TERM_OP('2') ; EOF"},
            {"1 << 2", "TERM_OP('1') SHIFT_OP(left_shift) TERM_OP('2') ; EOF"},
            {"1 >> 2", "TERM_OP('1') SHIFT_OP(right_shift) TERM_OP('2') ; EOF"},
            {"1 ** 2", "TERM_OP('1') POW_OP(pow) TERM_OP('2') ; EOF"},
            {"1 * 2", "TERM_OP('1') MUL_OP(multiply) TERM_OP('2') ; EOF"},
            {"1 % 2", "TERM_OP('1') MUL_OP(modulo) TERM_OP('2') ; EOF"},
            {"1 / 2", "TERM_OP('1') MUL_OP(divide) TERM_OP('2') ; EOF"},
            {"1 x3", "TERM_OP('1') MUL_OP(repeat) TERM_OP('3') ; EOF"},
            {"1 x 3", "TERM_OP('1') MUL_OP(repeat) TERM_OP('3') ; EOF"},
            {"1 + 2", "TERM_OP('1') ADD_OP(add) TERM_OP('2') ; EOF"},
            {"1 - 2", "TERM_OP('1') ADD_OP(subtract) TERM_OP('2') ; EOF"},
            {"1 . 2", "TERM_OP('1') ADD_OP(concat) TERM_OP('2') ; EOF"},
            {"1 .. 2", "TERM_OP('1') RANGE_OP(0) TERM_OP('2') ; EOF"},
            {"1 ... 2", "TERM_OP('1') RANGE_OP(128) TERM_OP('2') ; EOF"},
            {"1 & 2", "TERM_OP('1') BIT_AND_OP(bit_and) TERM_OP('2') ; EOF"},
            {"1 | 2", "TERM_OP('1') BIT_OR_OP(bit_or) TERM_OP('2') ; EOF"},
            {"1 ^ 2", "TERM_OP('1') BIT_OR_OP(bit_xor) TERM_OP('2') ; EOF"},
            {"1 && 2", "TERM_OP('1') LOGICAL_AND TERM_OP('2') ; EOF"},
            {"1 || 2", "TERM_OP('1') LOGICAL_OR TERM_OP('2') ; EOF"},
            {"1 ? 2 : 3", "TERM_OP('1') ? TERM_OP('2') : TERM_OP('3') ; EOF"},
            {"1 , 2 => 3", "TERM_OP('1') , TERM_OP('2') , TERM_OP('3') ; EOF"},
            {"$x =~ /a/", "$ BAREWORD('x' entered) BIND_OP(match) PATTERN_OP(match 0x0) ( TERM_OP('a') ) ; EOF"},
            {"$x !~ /a/", "$ BAREWORD('x' entered) BIND_OP(not) PATTERN_OP(match 0x0) ( TERM_OP('a') ) ; EOF"},
            {"$x / 2", "$ BAREWORD('x' entered) MUL_OP(divide) TERM_OP('2') ; EOF"},
            {"$x++", "$ BAREWORD('x' entered) POST_INC ; EOF"},
            {"$x--", "$ BAREWORD('x' entered) POST_DEC ; EOF"},
            {"$x = 1", "$ BAREWORD('x' entered) ASSIGN_OP(0) TERM_OP('1') ; EOF"});
}

TEST_F(Punct, TermsAndPrefixOperators)
{
    STREAMS({"++$x", "PRE_INC $ BAREWORD('x' entered) ; EOF"},
            {"--$x", "PRE_DEC $ BAREWORD('x' entered) ; EOF"},
            {"-1", "- TERM_OP('1') ; EOF"},
            {"+1", "+ TERM_OP('1') ; EOF"},
            {"!1", "! TERM_OP('1') ; EOF"},
            {"~1", "~ TERM_OP('1') ; EOF"},
            {"\\$x", "REF_GEN $ BAREWORD('x' entered) ; EOF"},
            {".5", "TERM_OP('0.5') ; EOF"},
            {"(1)", "( TERM_OP('1') ) ; EOF"},
            {"[1]", "[ TERM_OP('1') ] ; EOF"},
            {"'a'", "TERM_OP('a') ; EOF"},
            {"`ls`", "FUNC_PAREN(backtick) ( TERM_OP('ls') ) ; EOF"},
            {"/a/i", "PATTERN_OP(match 0x4000) ( TERM_OP('a') ) ; EOF"},
            {"?a?", "PATTERN_OP(match 0x2) ( TERM_OP('a') ) ; EOF"},
            {"<STDIN>", "TERM_OP(readline p0x1(gv)) ; EOF"},
            {"$#x", "ARRAY_LAST_INDEX BAREWORD('x' entered) ; EOF"},
            {"$#{x}", "ARRAY_LAST_INDEX BAREWORD('x' entered) ; EOF"},
            {"$#$x", "ARRAY_LAST_INDEX $ BAREWORD('x' entered) ; EOF"},
            {"$$x", "$ $ BAREWORD('x' entered) ; EOF"},
            {"&foo", "& BAREWORD('foo' entered) ; EOF"},
            {"&$f", "& $ BAREWORD('f' entered) ; EOF"},
            {"*STDOUT", "* BAREWORD('STDOUT' entered) ; EOF"},
            {"*{$g}", "* { $ BAREWORD('g' entered) ; } ; EOF"},
            {"%h", "% BAREWORD('h' entered) ; EOF"},
            {"$[", "TERM_OP('0') ; EOF"});
}

TEST_F(Punct, TokenValuesOfSigils)
{
    open("&foo(1)");
    EXPECT_EQ(next(), "&");
    EXPECT_EQ(gcb->token_value.ival, 2048);
    EXPECT_EQ(gcb->expect, XOPERATOR);
    open("$[");
    next();
    open("$x");
    EXPECT_EQ(next(), "$");
    EXPECT_EQ(gcb->pending_identifier, '$');
    EXPECT_EQ(gcb->expect, XOPERATOR);
}

TEST_F(Punct, ArrayBaseIsFlagged)
{
    open("$[");
    ASSERT_EQ(yylex(gcb), TERM_OP);
    EXPECT_EQ(gcb->token_value.op->op_private, 0x20);
    op_free_tree(gcb, gcb->token_value.op);
}

TEST_F(Punct, FinalSigilsAreErrors)
{
    open("$", false);
    gcb->buffer_end = sv_pv(gcb->line_buffer) + 1;  // the text ends at the sigil
    EXPECT_EQ(read_rest(2), "$ EOF");
    open("@", false);
    gcb->buffer_end = sv_pv(gcb->line_buffer) + 1;
    EXPECT_EQ(read_rest(2), "@ EOF");
    open("%", false);
    gcb->buffer_end = sv_pv(gcb->line_buffer) + 1;
    EXPECT_EQ(read_rest(2), "% EOF");
    ASSERT_EQ(queued_errors.size(), 3u);
    EXPECT_EQ(queued_errors[0].substr(0, 29), "Final $ should be \\$ or $name");
    EXPECT_EQ(queued_errors[1].substr(0, 29), "Final @ should be \\@ or @name");
    EXPECT_EQ(queued_errors[2].substr(0, 29), "Final % should be \\% or %name");
}

TEST_F(Punct, FileTests)
{
    STREAMS({"-e $f", "NAMED_UNARY(ftis) $ BAREWORD('f' entered) ; EOF"},
            {"-d _", "NAMED_UNARY(ftdir) BAREWORD('_' bare) ; EOF"},
            {"-M $f", "NAMED_UNARY(ftmtime) $ BAREWORD('f' entered) ; EOF"},
            {"-e => 1", "- BAREWORD('e' bare) , TERM_OP('1') ; EOF"},
            {"-x=>1", "- BAREWORD('x' bare) , TERM_OP('1') ; EOF"},
            {"-foo", "- BAREWORD('foo' bare) ; EOF"});
    const char* letters = "rwxoRWXOezsfdlpSbctugkTBAMC";
    const char* ops[] = {"fteread", "ftewrite", "fteexec", "fteowned", "ftrread",  "ftrwrite", "ftrexec",
                         "ftrowned", "ftis",    "ftzero",  "ftsize",   "ftfile",   "ftdir",    "ftlink",
                         "ftpipe",  "ftsock",   "ftblk",   "ftchr",    "fttty",    "ftsuid",   "ftsgid",
                         "ftsvtx",  "fttext",   "ftbinary", "ftatime", "ftmtime",  "ftctime"};
    for (int i = 0; letters[i]; i++) {
        std::string text = std::string("-") + letters[i] + " 1";
        EXPECT_EQ(first(text, 1), std::string("NAMED_UNARY(") + ops[i] + ")") << text;
        EXPECT_EQ(gcb->last_list_op, gcb->token_value.ival);
        EXPECT_EQ(gcb->last_unary_pos, gcb->prev_token_pos);
    }
    EXPECT_NE(gv_fetch_by_name(gcb, "\x14", 0, SVt_PV), nullptr) << "-M, -A and -C need $^T";
    EXPECT_EQ(tokens("-q $f", false), "! Unrecognized file test: -q.");
}

TEST_F(Punct, Arrow)
{
    STREAMS({"$x->foo", "$ BAREWORD('x' entered) DEREF_ARROW METHOD_NAME('foo' bare) ; EOF"},
            {"$x->Foo::bar(1)",
             "$ BAREWORD('x' entered) DEREF_ARROW METHOD_NAME('Foo::bar' bare) ( TERM_OP('1') ) ; EOF"},
            {"$x->$m", "$ BAREWORD('x' entered) DEREF_ARROW $ BAREWORD('m' entered) ; EOF"},
            {"$x->[0]", "$ BAREWORD('x' entered) DEREF_ARROW [ TERM_OP('0') ] ; EOF"});
    open("$x->foo(1)");
    next();
    next();
    EXPECT_EQ(next(), "DEREF_ARROW");
    EXPECT_EQ(next(), "METHOD_NAME('foo' bare)");
    EXPECT_EQ(gcb->expect, XTERM) << "a method with arguments";
    open("$x->foo + 1");
    next();
    next();
    next();
    next();
    EXPECT_EQ(gcb->expect, XOPERATOR);
}

TEST_F(Punct, CurlyBracketsByExpectation)
{
    STREAMS({"{ a => 1 }", "ANON_HASH_OPEN BAREWORD('a' bare) , TERM_OP('1') ; } ; EOF"},
            {"{ 'a', 1 }", "ANON_HASH_OPEN TERM_OP('a') , TERM_OP('1') ; } ; EOF"},
            {"{ A, 1 }", "ANON_HASH_OPEN BAREWORD('A' bare) , TERM_OP('1') ; } ; EOF"},
            {"{ q(x), 1 }", "ANON_HASH_OPEN TERM_OP('x') , TERM_OP('1') ; } ; EOF"},
            {"{}", "ANON_HASH_OPEN ; } ; EOF"},
            {"{ a, 1 }", "{ BAREWORD('a' bare) , TERM_OP('1') ; } ; EOF"},
            {"{ 1; }", "{ TERM_OP('1') ; ; } ; EOF"},
            {"$h{-foo}", "$ BAREWORD('h' entered) { - BAREWORD('foo' bare) ; } ; EOF"},
            {"$h{ foo }", "$ BAREWORD('h' entered) { BAREWORD('foo' bare) ; } ; EOF"},
            {"$h{foo::bar}", "$ BAREWORD('h' entered) { BAREWORD('foo::bar' bare) ; } ; EOF"},
            {"$x = { }", "$ BAREWORD('x' entered) ASSIGN_OP(0) ANON_HASH_OPEN ; } ; EOF"});
    // The value of "{" is its line; a white space after it drops the
    // pending statement line.
    open("if (1) {\n1 }");
    for (int i = 0; i < 5; i++)
        next();
    EXPECT_EQ(gcb->token_value.ival, 1);
    EXPECT_EQ(gcb->statement_line, 65535);
}

// More than a hundred open brackets grow the context's bracket stack.
TEST_F(Punct, DeeplyNestedBlocks)
{
    std::string text(150, '{');
    text += std::string(150, '}');
    open(text);
    int32_t opened = 0, closed = 0;
    ASSERT_EQ(run([&] {
                  for (int i = 0; i < 1000; i++) {
                      int32_t t = yylex(gcb);
                      if (t == '{' || t == ANON_HASH_OPEN)  // the innermost "{}" is a hash
                          opened++;
                      if (t == '}')
                          closed++;
                      if (t == 0)
                          break;
                  }
              }),
              0)
        << err_text();
    EXPECT_EQ(opened, 150);
    EXPECT_EQ(closed, 150);
    EXPECT_EQ(gcb->bracket_depth, 0);
    EXPECT_TRUE(queued_errors.empty());
}

TEST_F(Punct, ClosingBrackets)
{
    open("}", false);
    EXPECT_EQ(read_rest(), "; } EOF");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Unmatched right curly bracket at end of line\n"});
    queued_errors.clear();
    open("]", false);
    EXPECT_EQ(read_rest(), "] EOF");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Unmatched right square bracket at end of line\n"});
    queued_errors.clear();
    EXPECT_EQ(tokens("{ 1", false), "{ TERM_OP('1') EOF");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Missing right curly or square bracket at end of line\n"});
}

TEST_F(Punct, CloseParenBeforeABlock)
{
    open("(1) {");
    next();
    next();
    EXPECT_EQ(next(), ")");
    EXPECT_EQ(gcb->expect, XBLOCK);
    open("(1) + 2");
    next();
    next();
    EXPECT_EQ(next(), ")");
    EXPECT_EQ(gcb->expect, XOPERATOR);
}

TEST_F(Punct, TheHandleAfterAListOperator)
{
    // print $fh "text": the variable is a handle and a term follows;
    // print $x - 1 subtracts.
    STREAMS({"print $fh \"a\"", "LIST_OP(print) $ BAREWORD('fh' entered) TERM_OP('a') ; EOF"},
            {"print $fh -1", "LIST_OP(print) $ BAREWORD('fh' entered) - TERM_OP('1') ; EOF"},
            {"print $x - 1", "LIST_OP(print) $ BAREWORD('x' entered) ADD_OP(subtract) TERM_OP('1') ; EOF"},
            {"print $fh length $x",
             "LIST_OP(print) $ BAREWORD('fh' entered) NAMED_UNARY(length) $ BAREWORD('x' entered) ; EOF"},
            {"print $x eq 1", "LIST_OP(print) $ BAREWORD('x' entered) EQ_OP(seq) TERM_OP('1') ; EOF"},
            {"print $fh 3", "LIST_OP(print) $ BAREWORD('fh' entered) TERM_OP('3') ; EOF"},
            {"print $fh $y", "LIST_OP(print) $ BAREWORD('fh' entered) $ BAREWORD('y' entered) ; EOF"},
            {"grep $x /1/", "LIST_OP(grepstart) $ BAREWORD('x' entered) MUL_OP(divide) TERM_OP('1') MUL_OP(divide) ; EOF"},
            {"split /,/, $x",
             "LIST_OP(split) PATTERN_OP(match 0x0) ( TERM_OP(',') ) , $ BAREWORD('x' entered) ; EOF"});
}

TEST_F(Punct, Equals)
{
    warnings_std();
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    EXPECT_EQ(tokens("$x =+ 1"), "$ BAREWORD('x' entered) ASSIGN_OP(0) + TERM_OP('1') ; EOF");
    EXPECT_EQ(take_warnings(), "Reversed += operator.\n");
    EXPECT_EQ(tokens("$x =+1"), "$ BAREWORD('x' entered) ASSIGN_OP(0) + TERM_OP('1') ; EOF");
    EXPECT_EQ(take_warnings(), "");
    // Documentation at the start of a statement in an evaluated string:
    // skipped through its =cut line, lines counted.
    // (The grammar sets XSTATE after a statement.)
    compile_cop.cop_line = 1;
    open("1;\n=head1 x\ny\n=cut z\n2");
    EXPECT_EQ(next(), "TERM_OP('1')");
    EXPECT_EQ(next(), ";");
    gcb->expect = XSTATE;
    EXPECT_EQ(next(), "TERM_OP('2')");
    EXPECT_EQ(compile_cop.cop_line, 5);
    EXPECT_EQ(read_rest(), "; EOF");
    // Elsewhere "=" and a letter is an assignment.
    EXPECT_EQ(tokens("$x\n=z"), "$ BAREWORD('x' entered) ASSIGN_OP(0) BAREWORD('z' bare) ; EOF");
}

TEST_F(Punct, Attributes)
{
    STREAMS({"my $x : shared = 1",
             "KW_MY(1) $ LEXICAL_VAR(padany 1) ATTR_COLON TERM_OP('shared') ASSIGN_OP(0) TERM_OP('1') ; EOF"},
            {"my $y : a : b(1 2) ;",
             "KW_MY(1) $ LEXICAL_VAR(padany 2) ATTR_COLON TERM_OP(list('a', 'b(1 2)')) ; EOF"},
            {"my $z ? 1 : 2", "KW_MY(1) $ LEXICAL_VAR(padany 3) ? TERM_OP('1') : TERM_OP('2') ; EOF"},
            {"sub f : lvalue { 1 }",
             "KW_SUB BAREWORD('f' bare) ATTR_COLON TERM_OP('lvalue') { TERM_OP('1') ; } ; EOF"},
            {"$f = sub : method { 1 }",
             "$ BAREWORD('f' entered) ASSIGN_OP(0) KW_ANON_SUB ATTR_COLON TERM_OP('method') { TERM_OP('1') ; } ; EOF"},
            {"my $w : a if 1", "KW_MY(1) $ LEXICAL_VAR(padany 4) ATTR_COLON TERM_OP('a') KW_IF@1 TERM_OP('1') ; EOF"});
    queued_errors.clear();
    EXPECT_EQ(first("sub g : a , { 1 }", 3), "KW_SUB BAREWORD('g' bare) :");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Invalid separator character ',' in attribute list near \"sub g : a \"\n"});
    queued_errors.clear();
    EXPECT_EQ(first("sub h : a(1 { 1 }", 3), "KW_SUB BAREWORD('h' bare) EOF");
    ASSERT_EQ(queued_errors.size(), 1u);
    EXPECT_EQ(queued_errors[0].substr(0, 50), "Unterminated attribute parameter in attribute list");
}

}  // namespace
}  // namespace lextest
