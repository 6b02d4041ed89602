// Logical, conditional, loop and assignment builders: constant short-cuts,
// the execution order they wire by hand, loop shapes, and assignment with
// its common-variable detection and the split shortcut.
#include <functional>

#include "optree/optree_fixture.h"
#include "optree/tree_shape.h"

#include "ds/src/prxre.h"

namespace {

using optree::exec_order;
using optree::shape;

class Flow : public optree::Trees {
public:
    OP* list(OP* a, OP* b) { return op_mark_parens(gcb, op_list_append(gcb, OP_LIST, a, b)); }
};

TEST_F(Flow, ConstantConditionKeepsOneOperand)
{
    struct Case {
        const char* what;
        int32_t type;
        int64_t value;
        bool keeps_first;
    } cases[] = {
        {"0 && $x", OP_AND, 0, true},
        {"1 && $x", OP_AND, 1, false},
        {"1 || $x", OP_OR, 1, true},
        {"0 || $x", OP_OR, 0, false},
    };
    for (const Case& c : cases) {
        OP* first = konst(c.value);
        OP* other = scalar_var("x");
        OP* o = op_new_logical(gcb, c.type, 0, first, other);
        EXPECT_EQ(o, c.keeps_first ? first : other) << c.what;
        op_free_tree(gcb, o);
    }
}

TEST_F(Flow, LogicalOpWiresConditionAndBranch)
{
    OP* a = scalar_var("a");
    OP* b = scalar_var("b");
    OP* o = op_new_logical(gcb, OP_AND, 0, a, b);
    EXPECT_EQ(shape(gcb, o), "null(and(rv2sv(gv) rv2sv(gv)))");
    OP* logop = op_first_kid(o);
    EXPECT_EQ(logop->op_private, 1);
    EXPECT_EQ(exec_order(gcb, logop->op_next, logop), "gv rv2sv and");
    EXPECT_EQ(exec_order(gcb, op_other_op(logop), o), "gv rv2sv null");
    EXPECT_EQ(op_want(a), OPf_WANT_SCALAR);
    op_free_tree(gcb, o);

    // !$a && $b is $a || $b.
    o = op_new_logical(gcb, OP_AND, 0, op_new_not(gcb, scalar_var("a")), scalar_var("b"));
    EXPECT_EQ(shape(gcb, o), "null(or(rv2sv(gv) rv2sv(gv)))");
    op_free_tree(gcb, o);

    // $x &&= 1: the sassign under it runs its operands backwards.
    o = op_new_assign(gcb, 0, scalar_var("x"), OP_ANDASSIGN, konst(1));
    EXPECT_EQ(shape(gcb, o), "null(andassign(rv2sv(gv) sassign(const)))");
    EXPECT_EQ(op_first_kid(op_first_kid(o))->op_sibling->op_private & 0x40, 0x40);
    op_free_tree(gcb, o);

    o = op_new_logical(gcb, OP_XOR, 0, scalar_var("a"), scalar_var("b"));
    EXPECT_EQ(shape(gcb, o), "xor(rv2sv(gv) rv2sv(gv))");
    op_free_tree(gcb, o);
}

TEST_F(Flow, ConditionWarnings)
{
    warnings_on();
    gcb->statement_line = 7;
    compile_cop.cop_line = 2;
    OP* assign = op_new_assign(gcb, 0, scalar_var("x"), 0, konst(1));
    OP* o = op_new_logical(gcb, OP_AND, 0, assign, scalar_var("y"));
    op_free_tree(gcb, o);
    OP* bare = kstr("FOO");
    bare->op_private |= OPpCONST_BARE;
    op_free_tree(gcb, op_new_logical(gcb, OP_OR, 0, bare, scalar_var("y")));
    OP* readdir = op_new_unary(gcb, OP_READDIR, 0, gvop("D"));
    o = op_new_logical(gcb, OP_AND, 0, op_new_assign(gcb, 0, scalar_var("x"), 0, readdir), scalar_var("y"));
    op_free_tree(gcb, o);
    EXPECT_EQ(warnings(),
              "Found = in conditional, should be ==.\n"
              "Bareword found in conditional.\n"
              "Value of readdir() operator can be \"0\"; test with defined().\n");
    EXPECT_EQ(compile_cop.cop_line, 2) << "the pending line is lent only for the warning";
}

TEST_F(Flow, ConditionalOperator)
{
    OP* t = scalar_var("t");
    OP* f = scalar_var("f");
    OP* o = op_new_conditional(gcb, 0, scalar_var("c"), t, f);
    EXPECT_EQ(shape(gcb, o), "null(cond_expr(rv2sv(gv) rv2sv(gv) rv2sv(gv)))");
    OP* cond = op_first_kid(o);
    EXPECT_EQ(exec_order(gcb, o->op_next, cond), "gv rv2sv cond_expr");
    EXPECT_EQ(exec_order(gcb, op_other_op(cond), o), "gv rv2sv null");
    EXPECT_EQ(exec_order(gcb, cond->op_next, o), "gv rv2sv null");
    op_free_tree(gcb, o);

    t = scalar_var("t");
    o = op_new_conditional(gcb, 0, konst(1), t, scalar_var("f"));
    EXPECT_EQ(o, t);
    op_free_tree(gcb, o);
    o = op_new_conditional(gcb, 0, scalar_var("c"), scalar_var("t"), nullptr);
    EXPECT_EQ(shape(gcb, o), "null(and(rv2sv(gv) rv2sv(gv)))");
    op_free_tree(gcb, o);
}

TEST_F(Flow, RangeBuildsFlipAndFlop)
{
    struct Case {
        std::function<OP*(Flow*)> left, right;
        uint8_t flip_private, flop_private;
    } cases[] = {
        {[](Flow* t) { return t->konst(1); }, [](Flow* t) { return t->konst(5); }, 0x40, 0x40},
        {[](Flow* t) { return t->scalar_var("a"); }, [](Flow* t) { return t->konst(5); }, 0, 0x40},
    };
    for (const Case& c : cases) {
        OP* o = op_new_range(gcb, 0, c.left(this), c.right(this));
        EXPECT_TRUE(shape(gcb, o).rfind("null(flop(flip(range(", 0) == 0) << shape(gcb, o);
        OP* flop = op_first_kid(o);
        OP* flip = op_first_kid(flop);
        OP* range = op_first_kid(flip);
        EXPECT_EQ(flip->op_private, c.flip_private);
        EXPECT_EQ(flop->op_private, c.flop_private);
        EXPECT_NE(range->op_targ, 0u);
        EXPECT_NE(flip->op_targ, 0u);
        EXPECT_NE(range->op_targ, flip->op_targ);
        EXPECT_EQ(sv_type(gcb->curpad[flip->op_targ]), SVt_PVNV);
        EXPECT_EQ(flip->op_next, o);
        op_free_tree(gcb, o);
    }
}

TEST_F(Flow, WhileLoops)
{
    // while (0) {...} is nothing at all.
    EXPECT_EQ(op_new_while(gcb, 0, 1, nullptr, 65535, konst(0), scalar_var("x"), nullptr), nullptr);

    // while ($c) { $x }: enterloop, the test, the body and back.
    OP* o = op_new_while(gcb, 0, 1, nullptr, 65535, scalar_var("c"), scalar_var("x"), nullptr);
    EXPECT_EQ(shape(gcb, o), "leaveloop(enterloop null(and(rv2sv(gv) lineseq(rv2sv(gv) unstack))))");
    op_loop* loop = op_as_loop(op_first_kid(o));
    EXPECT_EQ(loop->op_lastop, o);
    EXPECT_EQ(exec_order(gcb, loop->op_redoop, loop->op_nextop), "gv rv2sv unstack gv");
    EXPECT_EQ(exec_order(gcb, loop->op_nextop, op_first_kid(op_first_kid(o)->op_sibling)), "gv rv2sv and");
    op_free_tree(gcb, o);

    // while (<FH>): the line is read into $_ and the test is definedness.
    OP* line = op_new_unary(gcb, OP_READLINE, 0, gvop("FH"));
    o = op_new_while(gcb, 0, 1, nullptr, 65535, line, scalar_var("x"), nullptr);
    EXPECT_EQ(shape(gcb, o),
              "leaveloop(enterloop null(and(defined(null(rv2sv(gv) readline(gv))) lineseq(rv2sv(gv) unstack))))");
    EXPECT_TRUE(line->op_flags & OPf_STACKED);
    op_free_tree(gcb, o);

    // while ($d = readdir D): definedness of the assignment.
    OP* rd = op_new_unary(gcb, OP_READDIR, 0, gvop("D"));
    o = op_new_while(gcb, 0, 1, nullptr, 65535, op_new_assign(gcb, 0, scalar_var("d"), 0, rd), nullptr, nullptr);
    EXPECT_EQ(shape(gcb, o), "leaveloop(enterloop null(and(defined(sassign(readdir(gv) rv2sv(gv))) lineseq(null unstack))))");
    op_free_tree(gcb, o);
}

TEST_F(Flow, StatementModifierLoops)
{
    // do {...} while 0 runs the body once: the body alone.
    OP* body = op_new_unary(gcb, OP_NULL, OPf_SPECIAL, scalar_var("x"));
    EXPECT_EQ(op_new_loop(gcb, 0, 1, konst(0), body), body);
    op_free_tree(gcb, body);

    OP* o = op_new_loop(gcb, 0, 1, scalar_var("c"), scalar_var("x"));
    EXPECT_TRUE(o->op_flags & OPf_SPECIAL);
    EXPECT_EQ(shape(gcb, o), "scope(null(and(rv2sv(gv) lineseq(rv2sv(gv) unstack))))");
    op_free_tree(gcb, o);
}

TEST_F(Flow, ForeachOverARangeTakesItsEnds)
{
    OP* var = my_scalar("$i");
    uint32_t slot = var->op_targ;
    OP* range = op_new_range(gcb, 0, konst(1), konst(10));
    OP* o = op_new_foreach(gcb, 0, nullptr, 65535, var, range, scalar_var("x"), nullptr);
    EXPECT_EQ(shape(gcb, o), "lineseq(nextstate leaveloop(enteriter(ex-pushmark ex-list(pushmark const const)) "
                             "null(and(iter lineseq(rv2sv(gv) unstack)))))");
    OP* leave = op_first_kid(o)->op_sibling;
    OP* iter = op_first_kid(leave);
    EXPECT_TRUE(iter->op_flags & OPf_STACKED);
    EXPECT_EQ(iter->op_targ, slot) << "the lexical's slot";
    op_free_tree(gcb, o);

    EXPECT_EXIT(
        {
            run([&] { op_new_foreach(gcb, 0, nullptr, 65535, konst(1), array_var("a"), nullptr, nullptr); });
            std::fprintf(stderr, "%s", err_text().c_str());
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "Can't use constant item for loop variable");
}

TEST_F(Flow, LoopExits)
{
    OP* o = op_new_loop_exit(gcb, OP_LAST, kstr("OUTER"));
    EXPECT_STREQ(op_string_pv(o), "OUTER");
    op_free_tree(gcb, o);
    OP* empty = op_new_stub(gcb);
    empty->op_flags |= OPf_PARENS;
    o = op_new_loop_exit(gcb, OP_LAST, empty);
    EXPECT_EQ(o->op_flags & OPf_SPECIAL, OPf_SPECIAL);
    op_free_tree(gcb, o);
    o = op_new_loop_exit(gcb, OP_GOTO, scalar_var("where"));
    EXPECT_EQ(shape(gcb, o), "goto(rv2sv(gv))");
    EXPECT_TRUE(o->op_flags & OPf_STACKED);
    op_free_tree(gcb, o);
    EXPECT_TRUE(gcb->compile_hints & HINT_BLOCK_SCOPE);
}

TEST_F(Flow, ListOrScalarAssignment)
{
    struct Case {
        const char* what;
        std::function<OP*(Flow*)> target;
        bool list;
    } cases[] = {
        {"$x", [](Flow* t) { return t->scalar_var("x"); }, false},
        {"@a", [](Flow* t) { return t->array_var("a"); }, true},
        {"($x)", [](Flow* t) { return op_mark_parens(t->interp(), t->scalar_var("x")); }, true},
        {"$c ? @a : @b",
         [](Flow* t) { return op_new_conditional(t->interp(), 0, t->scalar_var("c"), t->array_var("a"), t->array_var("b")); },
         true},
    };
    for (const Case& c : cases) {
        OP* o = c.target(this);
        EXPECT_EQ(op_assigns_to_list(gcb, o), c.list) << c.what;
        op_free_tree(gcb, o);
    }
    OP* mixed = op_new_conditional(gcb, 0, scalar_var("c"), array_var("a"), scalar_var("b"));
    EXPECT_FALSE(op_assigns_to_list(gcb, mixed));
    EXPECT_EQ(optree::compile_errors, std::vector<std::string>{"Assignment to both a list and a scalar"});
    op_free_tree(gcb, mixed);
}

TEST_F(Flow, ListAssignmentSharingVariablesIsCommon)
{
    OP* o = op_new_assign(gcb, 0, list(scalar_var("a"), scalar_var("b")), 0, list(scalar_var("b"), scalar_var("a")));
    EXPECT_EQ(o->op_type, OP_AASSIGN);
    EXPECT_EQ(o->op_private & OPpASSIGN_COMMON, OPpASSIGN_COMMON);
    op_free_tree(gcb, o);

    o = op_new_assign(gcb, 0, list(scalar_var("a"), scalar_var("b")), 0, list(scalar_var("c"), scalar_var("d")));
    EXPECT_EQ(o->op_private & OPpASSIGN_COMMON, 0);
    op_free_tree(gcb, o);

    OP* mine = op_declare_my(gcb, list(my_scalar("$p"), my_scalar("$q")));
    o = op_new_assign(gcb, 0, mine, 0, list(scalar_var("a"), scalar_var("a")));
    EXPECT_EQ(o->op_private & OPpASSIGN_COMMON, 0) << "declared targets are new";
    op_free_tree(gcb, o);
}

TEST_F(Flow, SplitAssignedToAnArrayStoresStraightIntoIt)
{
    auto split = [this] {
        OP* args = op_list_append(gcb, OP_LIST, kstr(","), scalar_var("s"));
        return op_convert_list(gcb, OP_SPLIT, 0, args);
    };
    OP* sp = split();
    OP* o = op_new_assign(gcb, 0, array_var("a"), 0, sp);
    EXPECT_EQ(o, sp);
    EXPECT_EQ(shape(gcb, o), "split(pushre rv2sv(gv) const)");
    op_pattern* pm = op_as_pattern(op_first_kid(o));
    ASSERT_NE(pm->op_pmreplroot, nullptr);
    GV* gv = reinterpret_cast<GV*>(pm->op_pmreplroot);
    EXPECT_STREQ(gv_body(gv)->name, "a");
    EXPECT_TRUE(pm->op_pmflags & PMf_ONCE);
    EXPECT_EQ(op_want(o), 0);
    op_free_tree(gcb, o);

    // Into two scalars: split needs no more than three fields.
    o = op_new_assign(gcb, 0, list(scalar_var("x"), scalar_var("y")), 0, split());
    EXPECT_EQ(o->op_type, OP_AASSIGN);
    OP* limit = op_last_kid(op_first_kid(op_first_kid(o))->op_sibling);
    EXPECT_EQ(sv_to_int(gcb, op_value_sv(limit)), 3);
    op_free_tree(gcb, o);
}

TEST_F(Flow, ScalarAssignment)
{
    OP* o = op_new_assign(gcb, 0, scalar_var("x"), 0, konst(1));
    EXPECT_EQ(shape(gcb, o), "sassign(const rv2sv(gv))");
    EXPECT_TRUE(op_last_kid(o)->op_flags & OPf_MOD);
    op_free_tree(gcb, o);

    OP* line = op_new_unary(gcb, OP_READLINE, 0, gvop("FH"));
    o = op_new_assign(gcb, 0, scalar_var("x"), 0, line);
    EXPECT_EQ(shape(gcb, o), "null(rv2sv(gv) readline(gv))");
    EXPECT_TRUE(line->op_flags & OPf_STACKED);
    op_free_tree(gcb, o);

    o = op_new_assign(gcb, 0, scalar_var("x"), 0, nullptr);
    EXPECT_EQ(shape(gcb, o), "sassign(undef rv2sv(gv))");
    op_free_tree(gcb, o);

    o = op_new_assign(gcb, 0, scalar_var("x"), OP_ADD, konst(2));
    EXPECT_EQ(shape(gcb, o), "add(rv2sv(gv) const)");
    EXPECT_TRUE(o->op_flags & OPf_STACKED);
    op_free_tree(gcb, o);
}

}  // namespace
