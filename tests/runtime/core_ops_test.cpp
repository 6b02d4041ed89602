// The hot ops run through the run loop: assignment, concatenation with its
// target cases, addition, numeric equality, pre-increment at the 32-bit
// edge, the truth test of the logical ops, blocks and their results.
#include <functional>

#include "runtime/core_fixture.h"

#include "ds/src/prxgv.h"

namespace {

class Hot : public runtime::Run {};

TEST_F(Hot, ConcatenationCoversItsTargetCases)
{
    // $s = "ab"; $s = $s . $s; $t = "x"; $p = "pre"; $t = $p . $t;
    // $u .= "x" on undef; $w = "a"; $w .= $w
    OP* prog = seq({
        stmt(assign(var("s"), kstr("ab"))),
        stmt(assign(var("s"), binop(OP_CONCAT, var("s"), var("s")))),
        stmt(assign(var("t"), kstr("x"))),
        stmt(assign(var("p"), kstr("pre"))),
        stmt(assign(var("t"), binop(OP_CONCAT, var("p"), var("t")))),
        stmt(assign_op(OP_CONCAT, var("u"), kstr("x"))),
        stmt(assign(var("w"), kstr("a"))),
        stmt(assign_op(OP_CONCAT, var("w"), var("w"))),
    });
    warnings_all();
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("s"), "abab");
    EXPECT_EQ(gstr("t"), "prex");
    EXPECT_EQ(gstr("u"), "x");
    EXPECT_EQ(gstr("w"), "aa");
    EXPECT_EQ(err_text(), "");
}

TEST_F(Hot, AdditionAndEqualityWorkOnDoubles)
{
    OP* prog = seq({
        stmt(assign(var("x"), kstr("2"))),
        stmt(assign(var("sum"), binop(OP_ADD, var("x"), knum(0.5)))),
        stmt(assign_op(OP_ADD, var("n"), konst(1))),
        stmt(assign(var("e1"), binop(OP_EQ, konst(1), knum(1.0)))),
        stmt(assign(var("e2"), binop(OP_EQ, kstr("abc"), konst(0)))),
        stmt(assign(var("e3"), binop(OP_EQ, konst(2), konst(3)))),
    });
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(sv_nv(global("sum")), 2.5);
    EXPECT_EQ(gstr("n"), "1");
    EXPECT_TRUE(global("n")->flags & SVf_NOK);
    EXPECT_EQ(gstr("e1"), "1");
    EXPECT_EQ(gstr("e2"), "1");
    EXPECT_EQ(gstr("e3"), "");
    EXPECT_EQ(err_text(), "");
}

TEST_F(Hot, PreIncrementLeavesTheFastPathAtTheLimit)
{
    struct Case {
        int64_t start;
        const char* after;
        bool integer;
    } cases[] = {
        {5, "6", true},
        {2147483646, "2147483647", true},
        {2147483647, "2147483648", false},
        {-1, "0", true},
    };
    for (const Case& c : cases) {
        SV* sv = sv_new_from_int(gcb, c.start);
        SV** sp = gcb->arg_sp;
        *++sp = sv;
        gcb->arg_sp = sp;
        OP op{};
        op_set_type(gcb, &op, OP_PREINC);
        gcb->op = &op;
        ASSERT_EQ(run([&] { pp_preinc(gcb); }), 0);
        gcb->arg_sp--;
        EXPECT_EQ(str(sv), c.after) << c.start;
        EXPECT_EQ((sv->flags & SVf_NOK) == 0, c.integer) << c.start;
        sv_release(gcb, sv);
    }
}

TEST_F(Hot, PreIncrementOfAReadOnlyValueDies)
{
    OP op{};
    op_set_type(gcb, &op, OP_PREINC);
    gcb->op = &op;
    *++gcb->arg_sp = &gcb->sv_yes;
    EXPECT_EQ(run([&] { pp_preinc(gcb); }), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

TEST_F(Hot, LogicalOpsUseTheTruthTest)
{
    // $a = VALUE && "T"; $o = VALUE || "F"; $c = VALUE ? "yes" : "no"
    struct Value {
        const char* what;
        std::function<OP*()> make;
        const char* and_result;
        const char* or_result;
        const char* cond;
    };
    std::vector<Value> values = {
        {"\"0.0\"", [&] { return kstr("0.0"); }, "T", "0.0", "yes"},
        {"\"0\"", [&] { return kstr("0"); }, "0", "F", "no"},
        {"\"\"", [&] { return kstr(""); }, "", "F", "no"},
        {"0.0", [&] { return var("zero"); }, "0", "F", "no"},
        {"\"00\"", [&] { return kstr("00"); }, "T", "00", "yes"},
        {"undef", [&] { return var("nothing"); }, "", "F", "no"},
    };
    for (const Value& v : values) {
        TearDown();
        SetUp();
        sv_set_double(gcb, global("zero"), 0.0);
        sv_set_int(gcb, global("zero"), 0);
        OP* prog = seq({
            stmt(assign(var("a"), op_new_logical(gcb, OP_AND, 0, v.make(), kstr("T")))),
            stmt(assign(var("o"), op_new_logical(gcb, OP_OR, 0, v.make(), kstr("F")))),
            stmt(assign(var("c"), op_new_conditional(gcb, 0, v.make(), kstr("yes"), kstr("no")))),
        });
        ASSERT_EQ(run_program(prog), 0) << v.what << err_text();
        EXPECT_EQ(gstr("a"), v.and_result) << v.what;
        EXPECT_EQ(gstr("o"), v.or_result) << v.what;
        EXPECT_EQ(gstr("c"), v.cond) << v.what;
    }
}

}  // namespace
