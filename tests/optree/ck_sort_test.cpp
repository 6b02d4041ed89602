// Check routines of sort, grep and map, and split: the built-in sort orders,
// the block's own chain, the two-op loop of grep and map, split's operands.
#include <functional>

#include "optree/optree_fixture.h"
#include "optree/tree_shape.h"

#include "ds/src/prxre.h"

namespace {

using optree::exec_order;
using optree::shape;

class CkSort : public optree::Trees {
public:
    // { $l <op> $r } as the grammar hands a block over: a scope in a null op.
    OP* block(OP* body) { return op_new_unary(gcb, OP_NULL, 0, op_new_scope(gcb, op_new_list(gcb, OP_LINESEQ, 0, body, nullptr))); }
    OP* compare(int32_t type, const char* l, const char* r)
    {
        return block(op_new_binary(gcb, type, 0, scalar_var(l), scalar_var(r)));
    }
    OP* stacked(int32_t type, OP* blk, OP* list)
    {
        return op_convert_list(gcb, type, OPf_STACKED, op_list_prepend(gcb, OP_LIST, blk, list));
    }
};

TEST_F(CkSort, BuiltInOrdersDropTheBlock)
{
    struct Case {
        const char* what;
        std::function<OP*(CkSort*)> blk;
        uint8_t privs;
        bool keeps_block;
    } cases[] = {
        {"{ $a <=> $b }", [](CkSort* t) { return t->compare(OP_NCMP, "a", "b"); }, 0x01, false},
        {"{ $b <=> $a }", [](CkSort* t) { return t->compare(OP_NCMP, "b", "a"); }, 0x05, false},
        {"{ $a cmp $b }", [](CkSort* t) { return t->compare(OP_SCMP, "a", "b"); }, 0x00, false},
        {"{ $b cmp $a }", [](CkSort* t) { return t->compare(OP_SCMP, "b", "a"); }, 0x04, false},
        {"{ $a <=> $a }", [](CkSort* t) { return t->compare(OP_NCMP, "a", "a"); }, 0x00, true},
        {"{ $x <=> $b }", [](CkSort* t) { return t->compare(OP_NCMP, "x", "b"); }, 0x00, true},
        {"{ $a <=> $b || 1 }",
         [](CkSort* t) {
             OP* cmp = op_new_binary(t->interp(), OP_NCMP, 0, t->scalar_var("a"), t->scalar_var("b"));
             return t->block(op_new_logical(t->interp(), OP_OR, 0, cmp, t->konst(1)));
         },
         0x00, true},
        {"{ $Other::a <=> $Other::b }", [](CkSort* t) { return t->compare(OP_NCMP, "Other::a", "Other::b"); }, 0x00,
         true},
    };
    for (const Case& c : cases) {
        OP* o = stacked(OP_SORT, c.blk(this), array_var("list"));
        EXPECT_EQ(o->op_private, c.privs) << c.what;
        EXPECT_EQ((o->op_flags & OPf_STACKED) != 0, c.keeps_block) << c.what;
        EXPECT_EQ((o->op_flags & OPf_SPECIAL) != 0, c.keeps_block) << c.what;
        if (!c.keeps_block)
            EXPECT_EQ(shape(gcb, o), "sort(pushmark rv2av(gv))") << c.what;
        else
            EXPECT_EQ(op_first_kid(o)->op_sibling->op_next, op_first_kid(o)->op_sibling) << c.what;
        op_free_tree(gcb, o);
    }
}

TEST_F(CkSort, RoutineInAVariable)
{
    OP* holder = op_new_unary(gcb, OP_NULL, 0, scalar_var("by"));
    OP* o = stacked(OP_SORT, holder, array_var("list"));
    EXPECT_TRUE(o->op_flags & OPf_STACKED);
    EXPECT_EQ(shape(gcb, o), "sort(pushmark null(rv2sv(gv)) rv2av(gv))");
    EXPECT_EQ(op_want(op_last_kid(o)), OPf_WANT_LIST);
    op_free_tree(gcb, o);
}

TEST_F(CkSort, GrepBecomesATwoOpLoop)
{
    OP* blk = block(op_new_binary(gcb, OP_EQ, 0, scalar_var("_"), konst(1)));
    OP* o = stacked(OP_GREPSTART, blk, array_var("list"));
    ASSERT_EQ(o->op_type, OP_GREPWHILE);
    EXPECT_EQ(o->op_private, 1);
    EXPECT_NE(o->op_targ, 0u);
    OP* start = op_first_kid(o);
    EXPECT_EQ(start->op_type, OP_GREPSTART);
    EXPECT_FALSE(start->op_flags & OPf_STACKED);
    EXPECT_EQ(exec_order(gcb, op_other_op(o), o), "gvsv const eq scope grepwhile");
    op_free_tree(gcb, o);

    optree::compile_errors.clear();
    o = stacked(OP_MAPSTART, block(scalar_var("_")), nullptr);
    EXPECT_EQ(optree::compile_errors, std::vector<std::string>{"Not enough arguments for map"});
}

TEST_F(CkSort, SplitGetsItsThreeOperands)
{
    struct Case {
        const char* what;
        std::function<OP*(CkSort*)> args;
        const char* shape;
        uint16_t pmflags;
    } cases[] = {
        {"split", [](CkSort*) { return static_cast<OP*>(nullptr); }, "split(pushre rv2sv(gv) const)",
         PMf_SKIPWHITE | PMf_WHITE},
        {"split ''", [](CkSort* t) { return t->kstr(""); }, "split(pushre rv2sv(gv) const)", 0},
        {"split /,/",
         [](CkSort* t) { return op_pattern_runtime(t->interp(), op_new_pattern(t->interp(), OP_MATCH, 0), t->kstr(","), nullptr); },
         "split(pushre rv2sv(gv) const)", 0},
        {"split $p, $s, 2",
         [](CkSort* t) {
             return op_list_append(t->interp(), OP_LIST,
                                   op_list_append(t->interp(), OP_LIST, t->scalar_var("p"), t->scalar_var("s")),
                                   t->konst(2));
         },
         "split(pushre(regcomp(regcreset(rv2sv(gv)))) rv2sv(gv) const)", 0},
    };
    for (const Case& c : cases) {
        OP* o = op_convert_list(gcb, OP_SPLIT, 0, c.args(this));
        EXPECT_EQ(shape(gcb, o), c.shape) << c.what;
        op_pattern* pm = op_as_pattern(op_first_kid(o));
        EXPECT_EQ(pm->op_pmflags & (PMf_SKIPWHITE | PMf_WHITE), c.pmflags) << c.what;
        EXPECT_EQ(op_last_kid(o), op_first_kid(o)->op_sibling->op_sibling) << c.what;
        op_free_tree(gcb, o);
    }
    optree::compile_errors.clear();
    OP* args = op_list_append(gcb, OP_LIST, op_list_append(gcb, OP_LIST, kstr(","), scalar_var("s")), konst(2));
    op_free_tree(gcb, op_convert_list(gcb, OP_SPLIT, 0, op_list_append(gcb, OP_LIST, args, konst(3))));
    EXPECT_EQ(optree::compile_errors, std::vector<std::string>{"Too many arguments for split"});
}

}  // namespace
