// The grammar parser over scripted tokens and recording builders: the
// shapes of the trees it asks for, its error recovery and its stacks.
#include "grammar/gram_fixture.h"

#include "ds/src/prxmsg.h"

#include <string>

namespace gram {
namespace {

using GrammarParse = Grammar;

struct ShapeCase {
    const char* text;
    const char* shape;
};

// Precedence and associativity: what groups with what.
TEST_F(GrammarParse, PrecedenceAndAssociativity)
{
    static const ShapeCase cases[] = {
        {"$a = $b = 1", "assign{stacked}($a, assign{stacked}($b, 1))"},
        {"2 ** 3 ** 2", "pow(2, pow(3, 2))"},
        {"- 2 ** 2", "negate(pow(2, 2))"},
        {"! 1 ** 2", "not(pow(1, 2))"},
        {"1 + 2 * 3", "add(1, multiply(2, 3))"},
        {"1 - 2 - 3", "subtract(subtract(1, 2), 3)"},
        {"1 . 2 x 3", "concat(1, repeat(2, 3))"},
        {"1 << 2 + 3", "left_shift(1, add(2, 3))"},
        {"$a =~ $b * 2", "multiply(bind:match($a, $b), 2)"},
        {"1 < 2 == 3", "eq(lt(1, 2), 3)"},
        {"1 & 2 | 3 & 4", "bit_or(bit_and(1, 2), bit_and(3, 4))"},
        {"$x || $y && $z", "or($x, and($y, $z))"},
        {"1 .. 2 || 3", "range(1, or(2, 3))"},
        {"1 ? 2 : 3 ? 4 : 5", "cond(1, 2, cond(3, 4, 5))"},
        {"$a = 1 ? 2 : 3", "assign{stacked}($a, cond(1, 2, 3))"},
        {"$a += 1 , 2", "list(add={stacked}($a, 1), 2)"},
        {"chr 1 + 2", "chr(add(1, 2))"},
        {"chr 1 < 2", "lt(chr(1), 2)"},
        {"local $a = 1", "assign{stacked}(local($a), 1)"},
        {"$i ++ + 1", "add(postinc($i), 1)"},
        {"- ++ $i", "negate(preinc($i))"},
        {"\\ $a . 1", "concat(refgen($a), 1)"},
        {"not 1 , 2", "not(list(1, 2))"},
        {"not 1 and 2", "and(not(1), 2)"},
        {"1 and 2 or 3 and 4", "or(and(1, 2), and(3, 4))"},
        {"1 or 2 xor 3", "xor(or(1, 2), 3)"},
        {"print 1 , 2 + 3", "print(1, add(2, 3))"},
        {"print 1 , 2 or 3", "or(print(1, 2), 3)"},
        {"1 , print 2 , 3", "list(1, print(2, 3))"},
        {"last $a = 1", "last(assign{stacked}($a, 1))"},
        {"last , 1", "list(last{special}, 1)"},
        {"time + 1", "add(time, 1)"},
        {"join ( 1 , 2 )", "join(1, 2)"},
        {"( 1 , 2 ) [ 0 ]", "slice(0, list(1, 2))"},
    };
    for (const ShapeCase& c : cases) {
        fresh();
        EXPECT_EQ(shape_of(c.text), c.shape) << c.text;
    }
}

// Non-associative operators do not chain.
TEST_F(GrammarParse, NonAssociativeChainsAreSyntaxErrors)
{
    for (const char* text : {"1 < 2 < 3", "1 == 2 == 3", "1 .. 2 .. 3", "++ $i ++"}) {
        fresh();
        EXPECT_EQ(shape_of(text), "syntax error") << text;
    }
}

// The generated pattern expression reduces by "term: PATTERN_OP ( term )":
// the pattern op and its body go to op_pattern_runtime without a
// replacement; a substitution reduces by the rule with two terms, with its
// replacement.
TEST_F(GrammarParse, PatternOpsReduceThroughTheirRuntimeBuilder)
{
    EXPECT_EQ(shape_of("qr/a+b/i"), "qr/a+b/i(\"a+b\")");
    EXPECT_TRUE(called("op_pattern_runtime(qr/a+b/i, \"a+b\", -)"));

    fresh();
    EXPECT_EQ(shape_of("$s =~ s/a/b/"), "bind:match($s, subst(\"a\", \"b\"))");
    EXPECT_TRUE(called("op_pattern_runtime(subst, \"a\", \"b\")"));
}

// The bridge's start-up program "0", and an empty program.
TEST_F(GrammarParse, SmallPrograms)
{
    program("0");
    EXPECT_EQ(parse(), 0);
    EXPECT_TRUE(recorder.program_built);
    EXPECT_EQ(recorder.shape(recorder.program), "stmt(0)");
    EXPECT_EQ(gcb->expect, XSTATE);

    fresh();
    EXPECT_EQ(parse(), 0);
    EXPECT_TRUE(recorder.program_built);
    EXPECT_EQ(recorder.program, nullptr);
    EXPECT_TRUE(recorder.errors.empty());
}

// Statements, blocks and declarations ask for the builders the rules name.
TEST_F(GrammarParse, Statements)
{
    static const ShapeCase cases[] = {
        {"1 ; 2", "lineseq(stmt(1), stmt(2))"},
        {"L: 1", "stmt:L(1)"},
        {"L: ; 1", "lineseq(stmt:L(null), stmt(1))"},
        {"1 if 2", "stmt(and(2, 1))"},
        {"1 unless 2", "stmt(or(2, 1))"},
        {"1 while 2", "stmt(loop{parens}(2, 1))"},
        {"1 for 2", "stmt(foreach@5(-, 2, 1, -))"},
        {"if ( 1 ) { 2 } else { 3 }", "stmt(block(cond(1, scope(block(stmt(2))), scope(block(stmt(3))))))"},
        {"unless ( 1 ) { }", "stmt(block(cond(inverted(1), scope(block(-)), -)))"},
        {"while ( ) { 1 }", "block(stmt(while@4(1, block(stmt(1)), -)))"},
        {"for ( 1 ; 2 ; 3 ) { }", "block(stmt(lineseq(1, while@5(2, block(-), 3))))"},
        {"for ( ; ; ) { }", "block(stmt(while@5(1, block(-), -)))"},
        {"for my $ w:x ( 1 ) { }", "block(foreach@5(my($x), 1, block(-), -))"},
        {"{ 1 }", "stmt(while@65535(-, block(stmt(1)), -))"},
        {"do { 1 }", "stmt(null{special}(scope(block(stmt(1)))))"},
        {"sub:try { 1 } 2", "stmt(entersub{stacked}(list(anonsub(-, -, block(stmt(1))), 2, try)))"},
        {"[ 1 , 2 ] , [ ]", "stmt(list(anonlist(list(1, 2)), anonlist(-)))"},
        {"$ w:a [ 1 ]", "stmt(aelem(oopsAV($a), 1))"},
        {"$a -> [ 1 ] [ 2 ]", "stmt(aelem(@aelem(@$a, 1), 2))"},
        {"@ w:a [ 1 , 2 ]", "stmt(aslice(pushmark, list(1, 2), @a))"},
    };
    for (const ShapeCase& c : cases) {
        fresh();
        program(c.text);
        EXPECT_EQ(parse(), 0) << c.text;
        EXPECT_TRUE(recorder.errors.empty()) << c.text;
        EXPECT_EQ(recorder.shape(recorder.program), c.shape) << c.text;
    }
}

// A block's floor goes back to op_close_block, and a sub's floor to
// sub_define; BEGIN and the other run-once names mark the sub being
// compiled, other names do not.
TEST_F(GrammarParse, BlocksAndSubsTakeTheirFloors)
{
    PVCV body{};
    CV cv{&body, 1, SVt_PVCV};
    recorder.sub_cv = &cv;
    program("sub w:foo { 1 } sub w:BEGIN ;");
    EXPECT_EQ(parse(), 0);
    EXPECT_TRUE(called("op_open_block(1) -> 101"));
    EXPECT_TRUE(called("op_close_block(101, stmt(1))"));
    EXPECT_TRUE(called("sub_define(100, foo, -, -, block(stmt(1)))"));
    EXPECT_TRUE(called("sub_define(102, BEGIN, -, -, -)"));
    EXPECT_EQ(body.cvflags, 0x10);
}

// Declarations leave no op in the statement list and call their hooks; a
// use marks its implicit block as run-once.
TEST_F(GrammarParse, Declarations)
{
    struct DeclCase {
        const char* text;
        const char* call;
        uint16_t code_flags;  // of the sub being compiled afterwards
    };
    static const DeclCase cases[] = {
        {"package w:Foo ; 1", "op_set_package(Foo)", 0},
        {"package ; 1", "op_set_package(-)", 0},
        {"use #257 w:strict ; 1", "op_use_module(1, 100, -, strict, -)", 0x10},
        {"no w:5 w:warnings 1 , 2 ; 1", "op_use_module(0, 100, 5, warnings, list(1, 2))", 0x10},
        {"format w:STDOUT { } 1", "format_define(100, STDOUT, block(-))", 0},
        {"format { } 1", "format_define(100, -, block(-))", 0},
        {"sub w:f ; 1", "sub_define(100, f, -, -, -)", 0},
    };
    PVCV body{};
    CV cv{&body, 1, SVt_PVCV};
    for (const DeclCase& c : cases) {
        fresh();
        recorder.sub_cv = &cv;
        body.cvflags = 0;
        program(c.text);
        EXPECT_EQ(parse(), 0) << c.text;
        EXPECT_TRUE(recorder.errors.empty()) << c.text;
        EXPECT_TRUE(called(c.call)) << c.text;
        EXPECT_EQ(recorder.shape(recorder.program), "stmt(1)") << c.text;
        EXPECT_EQ(body.cvflags, c.code_flags) << c.text;
    }
}

// "do NAME(...)" and "do $code(...)" call a sub and say it is deprecated.
TEST_F(GrammarParse, DoWithParenthesesCallsASubAndWarns)
{
    EXPECT_EQ(shape_of("do w:f ( 1 )"), "entersub{stacked,special}(list(1, &{p8}f))");
    EXPECT_EQ(recorder.deprecated, std::vector<std::string>{"\"do\" to call subroutines"});
}

// ---- syntax errors and recovery ------------------------------------------------

struct ErrorCase {
    const char* text;
    int32_t result;      // what grammar_parse returns
    int32_t reports;     // "syntax error" reports
};

// One report per burst: after an error, three tokens must be shifted before
// the next error is reported. An error at the start of a statement finds no
// state that shifts the error token, and a burst that runs into the end of
// the input gives up.
TEST_F(GrammarParse, ErrorRecovery)
{
    static const ErrorCase cases[] = {
        {"1 + ;", 0, 1},
        {"1 ) ) 2 ;", 0, 1},
        {"1 ) ; 2 ) ;", 0, 1},
        {"1 ) ; 2 ; 3 ) ;", 0, 2},
        {"1 #299 ;", 0, 1},
        {"1 #310 ;", 0, 1},
        {"1 #94 ;", 0, 1},
        {"1 #400 ;", 0, 1},
        {"1 )", 1, 1},
        {") ;", 1, 1},
    };
    for (const ErrorCase& c : cases) {
        fresh();
        words(c.text);
        EXPECT_EQ(parse(), c.result) << c.text;
        EXPECT_EQ(recorder.errors, std::vector<std::string>(c.reports, "syntax error")) << c.text;
        EXPECT_EQ(gcb->parse_error_count, c.reports) << c.text;
    }
}

// ---- stacks ----------------------------------------------------------------------

// n unary minus signs, and the shape of n negations around inner.
std::string signs(int n)
{
    std::string s;
    for (int i = 0; i < n; i++)
        s += "- ";
    return s;
}
std::string negated(int n, const std::string& inner)
{
    return n == 0 ? inner : "negate(" + negated(n - 1, inner) + ")";
}

// 400 nested unary minus signs need more than the first 300 entries: the
// stacks grow and every value is kept.
TEST_F(GrammarParse, DeepNestingGrowsTheStacks)
{
    EXPECT_EQ(shape_of(signs(400) + "1"), negated(400, "1"));
}

// An empty rule reduced while the stacks are full to their last entry: the
// list operator lands on entry 299 of 300 (after the start state, the
// program start, the statement list, the empty label and 295 signs), and
// its empty argument list reduces there. The rule's value is not read from
// past the top, which would be past the stacks' end.
TEST_F(GrammarParse, EmptyRuleAtTheLastStackEntry)
{
    EXPECT_EQ(shape_of(signs(295) + "print"), negated(295, "print()"));
}

// A failed allocation of either stack, at the start or when they grow,
// reports "Out of memory for yacc stack" and gives up; the scope's end frees
// what was allocated.
TEST_F(GrammarParse, StackAllocationFailure)
{
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    std::string deep = signs(400);
    // Allocations of a parse: its record, the two stacks, then the growth.
    for (int succeed : {1, 2, 3, 4}) {
        fresh();
        program(deep + "1");
        uint64_t before = pool->live_bytes;
        host->fail.fail_after = succeed;
        EXPECT_EQ(parse(), 1) << succeed;
        host->fail.fail_after = -1;
        EXPECT_EQ(recorder.errors, std::vector<std::string>{"Out of memory for yacc stack"}) << succeed;
        end_scope();
        EXPECT_EQ(pool->live_bytes, before) << succeed;
    }
}

// The parser fields of an enclosing parse come back when the parse's scope
// ends, normally or through a fatal error raised inside an action.
TEST_F(GrammarParse, ParserFieldsComeBackAtScopeEnd)
{
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    // Live bytes apart from the captured standard error, which grows.
    auto live = [&] { return pool->live_bytes - uint64_t(gcb->err.cap); };
    auto outer = [&] {
        gcb->parse_debug = 7;
        gcb->parse_error_count = 8;
        gcb->parse_error_flag = 2;
        gcb->parse_lookahead = 261;
        gcb->parse_rule_value.ival = 9;
        gcb->token_value.ival = 10;
    };
    auto expect_outer = [&] {
        EXPECT_EQ(gcb->parse_debug, 7);
        EXPECT_EQ(gcb->parse_error_count, 8);
        EXPECT_EQ(gcb->parse_error_flag, 2);
        EXPECT_EQ(gcb->parse_lookahead, 261);
        EXPECT_EQ(gcb->parse_rule_value.ival, 9);
        EXPECT_EQ(gcb->token_value.ival, 10);
    };

    uint64_t before = live();
    outer();
    program("1 ) ; 2");
    EXPECT_EQ(parse(), 0);
    EXPECT_EQ(gcb->parse_error_count, 1);
    end_scope();
    expect_outer();
    EXPECT_EQ(live(), before);

    // What a fatal error keeps by itself, then the same error inside an
    // action: the parse's stacks and record must not add to it.
    before = live();
    EXPECT_EQ(run([&] { fatal_error(gcb, "stop in an action"); }), 2);
    uint64_t kept_by_the_error = live() - before;
    fresh();
    outer();
    program("1");
    recorder.on_program = [](PERLGCB* g) { fatal_error(g, "stop in an action"); };
    before = live();
    EXPECT_EQ(run([&] { parse(); }), 2);
    end_scope();
    expect_outer();
    EXPECT_EQ(live() - before, kept_by_the_error);
}

// What the recovery pops and the tokens it drops, and what is on the stack
// when the parse gives up, go to op_free_tree: nothing that an action has
// taken, and nothing twice.
TEST_F(GrammarParse, DroppedValuesAreFreed)
{
    struct Case {
        const char* text;
        int32_t result;
        std::vector<std::string> freed;
    } cases[] = {
        // Popped by the recovery.
        {"1 + ;", 0, {"1"}},
        // Popped, then a token dropped while recovering.
        {"1 ) ) 2 ;", 0, {"1", "2"}},
        {"1 ; 2 3 4 5 ;", 0, {"2", "3", "4", "5"}},
        // The statements between two errors are the actions' own.
        {"1 ) ; 2 ; 3 ) ;", 0, {"1", "3"}},
        // Given up at the end of the input.
        {"1 )", 1, {"1"}},
        {") ;", 1, {}},
        {"foo ( 1 , 2 +", 1, {"foo", "1", "2"}},
        // A parse that succeeds frees nothing.
        {"1 + 2 ;", 0, {}},
    };
    for (const Case& c : cases) {
        fresh();
        words(c.text);
        EXPECT_EQ(parse(), c.result) << c.text;
        EXPECT_EQ(recorder.freed, c.freed) << c.text;
    }
}

}  // namespace
}  // namespace gram
