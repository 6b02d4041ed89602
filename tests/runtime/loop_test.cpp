// Loops through the run loop: foreach over numeric and string ranges and
// over lists (aliasing), last, next and redo with and without labels, the
// range iterator's limits, list ranges and the flip-flop.
#include "runtime/core_fixture.h"

namespace {

class Loop : public runtime::Run {
protected:
    // $s .= $_ . ","
    OP* collect() { return stmt(assign_op(OP_CONCAT, var("s"), binop(OP_CONCAT, var("_"), kstr(",")))); }
    OP* bound(const std::string& b)
    {
        if (!b.empty() && (b[0] == '-' || (b[0] >= '1' && b[0] <= '9') || b == "0"))
            return konst(std::stoll(b));
        return kstr(b.c_str());
    }
};

struct RangeCase {
    const char* left;
    const char* right;
    const char* joined;
};

const RangeCase range_cases[] = {
    {"1", "3", "1,2,3,"},
    {"3", "1", ""},
    {"0", "0", "0,"},
    {"x", "ab", "x,y,z,aa,ab,"},
    {"01", "03", "01,02,03,"},
    {"a", "e", "a,b,c,d,e,"},
    {"aaa", "b", ""},
    {"-2", "1", "-2,-1,0,1,"},
    {"2147483645", "2147483646", "2147483645,2147483646,"},
};

TEST_F(Loop, ForeachOverARange)
{
    for (const RangeCase& c : range_cases) {
        TearDown();
        SetUp();
        OP* prog = seq({foreach(nullptr, nullptr, op_new_range(gcb, 0, bound(c.left), bound(c.right)), {collect()})});
        ASSERT_EQ(run_program(prog), 0) << c.left << ".." << c.right << err_text();
        EXPECT_EQ(gstr("s"), c.joined) << c.left << ".." << c.right;
    }
}

TEST_F(Loop, RangeInAListGivesTheSameValues)
{
    for (const RangeCase& c : range_cases) {
        TearDown();
        SetUp();
        // for ((L .. R), "end") walks the list the range op builds.
        OP* items = list({op_new_range(gcb, 0, bound(c.left), bound(c.right)), kstr("end")});
        OP* prog = seq({foreach(nullptr, nullptr, items, {collect()})});
        ASSERT_EQ(run_program(prog), 0) << c.left << ".." << c.right << err_text();
        EXPECT_EQ(gstr("s"), std::string(c.joined) + "end,") << c.left << ".." << c.right;
    }
}

TEST_F(Loop, StringRangeEndsAreComparedExactly)
{
    // "a" .. "a " is not cut short after "a": the ends differ, and the
    // range runs until the strings grow longer than the end (a .. zz).
    OP* prog = seq({foreach(nullptr, nullptr, op_new_range(gcb, 0, kstr("a"), kstr("a ")),
                            {stmt(assign_op(OP_ADD, var("n"), konst(1))), stmt(assign(var("last"), var("_")))})});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("n"), "702");
    EXPECT_EQ(gstr("last"), "zz");
}

TEST_F(Loop, RangeIteratorStaysInsideTheIntegerRange)
{
    struct Case {
        int64_t left, right;
        bool list;
    } cases[] = {
        {-2147483649LL, 0, false},
        {0, 2147483647, false},
        {0, 2147483648LL, true},
        {-2147483649LL, 0, true},
    };
    for (const Case& c : cases) {
        TearDown();
        root = nullptr;
        SetUp();
        // In a list the range is folded into constants while it is built.
        OP* prog = nullptr;
        int32_t built = run([&] {
            OP* range = op_new_range(gcb, 0, knum(static_cast<double>(c.left)), knum(static_cast<double>(c.right)));
            OP* items = c.list ? list({range, kstr("x")}) : range;
            prog = seq({foreach(nullptr, nullptr, items, {collect()})});
        });
        EXPECT_EQ(built ? built : run_program(prog), 2) << c.left << ".." << c.right;
        EXPECT_EQ(err_text(), "Range iterator outside integer range.\n") << c.left << ".." << c.right;
    }
}

TEST_F(Loop, ForeachAliasesTheListItems)
{
    // $x = "a"; $y = "b"; for ($x, $y) { $_ .= "!" }
    OP* prog = seq({
        stmt(assign(var("x"), kstr("a"))),
        stmt(assign(var("y"), kstr("b"))),
        foreach(nullptr, nullptr, list({var("x"), var("y")}), {stmt(assign_op(OP_CONCAT, var("_"), kstr("!")))}),
        stmt(assign(var("after"), var("_"))),
    });
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("x"), "a!");
    EXPECT_EQ(gstr("y"), "b!");
    // The loop variable is the glob's own value again after the loop.
    EXPECT_FALSE(sv_ok(global("after")));
}

TEST_F(Loop, ForeachWithALexicalVariableRestoresIt)
{
    // my $i = "kept"; for $i (1..3) { $s .= $i } $after = $i
    uint32_t i = my("$i");
    OP* prog = seq({
        stmt(assign(lex(i), kstr("kept"))),
        foreach(nullptr, lex(i), op_new_range(gcb, 0, konst(1), konst(3)),
                {stmt(assign_op(OP_CONCAT, var("s"), lex(i)))}),
        stmt(assign(var("after"), lex(i))),
    });
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("s"), "123");
    EXPECT_EQ(gstr("after"), "kept");
}

TEST_F(Loop, LastNextAndRedo)
{
    // while () { ++$i; next if $i == 2; $s .= $i; last if $i == 4 }
    OP* prog = seq({loop_while(nullptr, konst(1),
                               {stmt(op_new_unary(gcb, OP_PREINC, 0, op_lvalue_context(gcb, var("i"), OP_PREINC))),
                                stmt(and_then(binop(OP_EQ, var("i"), konst(2)), loopex(OP_NEXT))),
                                stmt(assign_op(OP_CONCAT, var("s"), var("i"))),
                                stmt(and_then(binop(OP_EQ, var("i"), konst(4)), loopex(OP_LAST)))})});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("s"), "134");

    TearDown();
    SetUp();
    // for (1..2) { $s .= $_; ++$r; redo if $r == 1 }: the first item twice.
    prog = seq({foreach(nullptr, nullptr, op_new_range(gcb, 0, konst(1), konst(2)),
                        {stmt(assign_op(OP_CONCAT, var("s"), var("_"))),
                         stmt(op_new_unary(gcb, OP_PREINC, 0, op_lvalue_context(gcb, var("r"), OP_PREINC))),
                         stmt(and_then(binop(OP_EQ, var("r"), konst(1)), loopex(OP_REDO)))})});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("s"), "112");
}

TEST_F(Loop, LabelsReachTheOuterLoop)
{
    // OUTER: for my $o (1..3) { for (1..3) { next OUTER if $_ == 2; last OUTER if $o == 3; $s .= "$o$_" } }
    uint32_t o = my("$o");
    OP* inner = foreach(nullptr, nullptr, op_new_range(gcb, 0, konst(1), konst(3)),
                        {stmt(and_then(binop(OP_EQ, var("_"), konst(2)), loopex(OP_NEXT, "OUTER"))),
                         stmt(and_then(binop(OP_EQ, lex(o), konst(3)), loopex(OP_LAST, "OUTER"))),
                         stmt(assign_op(OP_CONCAT, var("s"), binop(OP_CONCAT, lex(o), var("_"))))});
    OP* prog = seq({foreach("OUTER", lex(o), op_new_range(gcb, 0, konst(1), konst(3)), {inner}),
                    stmt(assign(var("done"), kstr("yes")))});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("s"), "1121");
    EXPECT_EQ(gstr("done"), "yes");
}

TEST_F(Loop, LoopExitsWithoutATargetDie)
{
    struct Case {
        int32_t type;
        const char* label;
        const char* message;
    } cases[] = {
        {OP_LAST, nullptr, "Can't \"last\" outside a loop block.\n"},
        {OP_NEXT, nullptr, "Can't \"next\" outside a loop block.\n"},
        {OP_REDO, nullptr, "Can't \"redo\" outside a loop block.\n"},
        {OP_NEXT, "NOWHERE", "Label not found for \"next NOWHERE\".\n"},
        {OP_LAST, "FOO", "Label not found for \"last FOO\".\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        OP* prog = seq({foreach("INNER", nullptr, op_new_range(gcb, 0, konst(1), konst(1)), {collect()}),
                        stmt(loopex(c.type, c.label))});
        EXPECT_EQ(run_program(prog), 2) << c.message;
        EXPECT_EQ(err_text(), c.message);
    }
}

TEST_F(Loop, FlipFlopCountsItsSequence)
{
    // for (1..6) { $r .= (($_ == 2) .. ($_ == 4)) . "," }
    OP* ff = op_new_range(gcb, 0, binop(OP_EQ, var("_"), konst(2)), binop(OP_EQ, var("_"), konst(4)));
    OP* prog = seq({foreach(nullptr, nullptr, op_new_range(gcb, 0, konst(1), konst(6)),
                            {stmt(assign_op(OP_CONCAT, var("r"), binop(OP_CONCAT, ff, kstr(","))))})});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("r"), ",1,2,3E0,,,");
}

TEST_F(Loop, XorAndTheLogicalAssignments)
{
    // $a = 5; $a &&= 0; $b = 0; $b &&= 7; $c = 0; $c ||= 5; $d = 3; $d ||= 9; $x = (1 xor 0) . (1 xor 1)
    OP* prog = seq({
        stmt(assign(var("a"), konst(5))),
        stmt(assign_op(OP_ANDASSIGN, var("a"), konst(0))),
        stmt(assign(var("b"), konst(0))),
        stmt(assign_op(OP_ANDASSIGN, var("b"), konst(7))),
        stmt(assign(var("c"), konst(0))),
        stmt(assign_op(OP_ORASSIGN, var("c"), konst(5))),
        stmt(assign(var("d"), konst(3))),
        stmt(assign_op(OP_ORASSIGN, var("d"), konst(9))),
        stmt(assign(var("x"), binop(OP_CONCAT, binop(OP_XOR, var("one"), var("zero")),
                                    binop(OP_XOR, var("one"), var("one"))))),
    });
    sv_set_int(gcb, global("one"), 1);
    sv_set_int(gcb, global("zero"), 0);
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("a"), "0");
    EXPECT_EQ(gstr("b"), "0");
    EXPECT_EQ(gstr("c"), "5");
    EXPECT_EQ(gstr("d"), "3");
    EXPECT_EQ(gstr("x"), "1");
}

}  // namespace
