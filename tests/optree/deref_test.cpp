// Dereference and declaration builders: the ops they make of pad and
// package variables, the array and hash forms, multi-key subscripts, not,
// list slices and local's parentheses warning.
#include "optree/optree_fixture.h"

#include <cstring>

#include "ds/src/prxav.h"

namespace optree {
namespace {

using Deref = Compile;

TEST_F(Deref, DereferenceOfPadAndPackageVariables)
{
    struct Case {
        OP* (*build)(PERLGCB*, OP*);
        uint32_t pad_type;      // what a padany becomes
        uint32_t package_type;  // what wraps a gv
    } cases[] = {
        {op_new_scalar_deref, OP_PADSV, OP_RV2SV},
        {op_new_array_deref, OP_PADAV, OP_RV2AV},
        {op_new_hash_deref, OP_PADHV, OP_RV2HV},
    };
    for (const Case& c : cases) {
        OP* any = op_new_base(gcb, OP_PADANY, 0);
        EXPECT_EQ(c.build(gcb, any), any);
        EXPECT_EQ(any->op_type, c.pad_type);
        op_free_tree(gcb, any);
        OP* gv = gvop("main::v");
        OP* d = c.build(gcb, gv);
        EXPECT_EQ(d->op_type, c.package_type);
        EXPECT_EQ(op_first_kid(d), gv);
        op_free_tree(gcb, d);
    }
    // A glob dereference works on the glob itself, except as a sort or map operand.
    OP* g = op_new_glob_deref(gcb, OP_PRINT, gvop("main::FH"));
    EXPECT_EQ(g->op_type, OP_RV2GV);
    EXPECT_TRUE(g->op_flags & OPf_REF);
    op_free_tree(gcb, g);
    OP* s = op_new_glob_deref(gcb, OP_SORT, gvop("main::cmp"));
    EXPECT_EQ(s->op_type, OP_NULL);
    op_free_tree(gcb, s);
}

TEST_F(Deref, ArrayAndHashForms)
{
    OP* v = my_scalar("$v");
    EXPECT_EQ(oopsAV(gcb, v)->op_type, OP_PADAV);
    EXPECT_EQ(oopsHV(gcb, v)->op_type, OP_PADHV);
    EXPECT_TRUE(v->op_flags & OPf_REF);
    op_free_tree(gcb, v);
    OP* k = konst(1);
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_STD);
    EXPECT_EQ(oopsAV(gcb, k), k);
    EXPECT_EQ(oopsHV(gcb, k), k);
    EXPECT_EQ(warnings(), "oops: oopsAV.\noops: oopsHV.\n");
    op_free_tree(gcb, k);
}

TEST_F(Deref, SubscriptsNotAndSlices)
{
    // Two keys are joined with the subscript separator; one key stays.
    OP* one = kstr("a");
    EXPECT_EQ(op_join_subscript(gcb, one), one);
    op_free_tree(gcb, one);
    OP* keys = op_new_list(gcb, OP_LIST, 0, kstr("a"), kstr("b"));
    OP* joined = op_join_subscript(gcb, keys);
    EXPECT_EQ(joined->op_type, OP_JOIN);
    OP* sep = op_first_kid(joined)->op_sibling;
    ASSERT_EQ(sep->op_type, OP_RV2SV);
    EXPECT_STREQ(gv_body(sv_as<GV>(op_value_sv(op_first_kid(sep))))->name, ";");
    op_free_tree(gcb, joined);

    EXPECT_EQ(op_new_not(gcb, nullptr), nullptr);
    OP* n = op_new_not(gcb, my_scalar("$x"));
    EXPECT_EQ(n->op_type, OP_NOT);
    EXPECT_TRUE(n->op_flags & OPf_SPECIAL);
    op_free_tree(gcb, n);

    OP* slice = op_new_slice(gcb, 0, konst(0), op_new_list(gcb, OP_LIST, 0, kstr("x"), kstr("y")));
    EXPECT_EQ(slice->op_type, OP_LSLICE);
    EXPECT_EQ(op_first_kid(slice)->op_targ, OP_LIST);  // both operands are nulled lists
    EXPECT_EQ(op_want(op_first_kid(slice)), OPf_WANT_LIST);
    EXPECT_EQ(op_last_kid(slice)->op_targ, OP_LIST);
    op_free_tree(gcb, slice);
}

TEST_F(Deref, LocalWithoutParenthesesWarns)
{
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    char text[] = "local $a, $b = 1;";
    gcb->prev_token_pos = text + 6;
    gcb->scan_pos = text + 9;  // right after the comma
    OP* list = op_new_list(gcb, OP_LIST, 0, op_new_scalar_deref(gcb, gvop("main::a")),
                           op_new_scalar_deref(gcb, gvop("main::b")));
    op_apply_local(gcb, list, 0);
    EXPECT_EQ(warnings(), "Parentheses missing around \"local\" list.\n");
    OP* a = op_first_kid(list)->op_sibling;
    EXPECT_TRUE(a->op_private & OPpLVAL_INTRO);
    op_free_tree(gcb, list);
    gcb->scan_pos = gcb->prev_token_pos = nullptr;
}

}  // namespace
}  // namespace optree
