// The builders: record shapes, kids, flags and private bits as they leave
// them, the list helpers, freeing and nulling, and block ops.
#include "optree/optree_fixture.h"

#include <cstring>

#include "ds/src/prxav.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxpool.h"

namespace optree {
namespace {

using Build = Compile;

TEST_F(Build, KidsThatTheBuildersSupply)
{
    struct Case {
        const char* what;
        OP* (*build)(Compile*, PERLGCB*);
        const char* dump;
    };
    // A unary op without an operand gets a stub; one whose type takes a mark
    // gets its operand in a nulled list behind a pushmark; a binary op
    // without a first operand gets a null op.
    const Case cases[] = {
        {"unary without operand",
         [](Compile*, PERLGCB* g) { return op_new_unary(g, OP_DEFINED, 0, nullptr); },
         "{\n"
         "    TYPE = defined  ===> DONE\n"
         "    FLAGS = (SCALAR,KIDS)\n"
         "    {\n"
         "        TYPE = stub  ===> (0)\n"
         "        FLAGS = (SCALAR)\n"
         "    }\n"
         "}\n"},
        {"unary taking a mark",
         [](Compile* t, PERLGCB* g) { return op_new_unary(g, OP_ASLICE, 0, t->konst(1)); },
         "{\n"
         "    TYPE = aslice  ===> DONE\n"
         "    FLAGS = (UNKNOWN,KIDS)\n"
         "    {\n"
         "        TYPE = null  ===> DONE\n"
         "          (was list)\n"
         "        FLAGS = (UNKNOWN,KIDS)\n"
         "        {\n"
         "            TYPE = pushmark  ===> (0)\n"
         "            FLAGS = (SCALAR)\n"
         "        }\n"
         "        {\n"
         "            TYPE = const  ===> (0)\n"
         "            FLAGS = (SCALAR)\n"
         "            SV = \n"
         "        }\n"
         "    }\n"
         "}\n"},
        {"binary without first operand",
         [](Compile*, PERLGCB* g) { return op_new_binary(g, OP_SASSIGN, 0, nullptr, nullptr); },
         "{\n"
         "    TYPE = sassign  ===> DONE\n"
         "    FLAGS = (SCALAR,KIDS)\n"
         "    {\n"
         "        TYPE = null  ===> (0)\n"
         "        FLAGS = (SCALAR)\n"
         "    }\n"
         "}\n"},
        {"empty list of type list",
         [](Compile*, PERLGCB* g) { return op_new_list(g, OP_LIST, 0, nullptr, nullptr); },
         "{\n"
         "    TYPE = list  ===> DONE\n"
         "    FLAGS = (UNKNOWN,KIDS)\n"
         "    {\n"
         "        TYPE = pushmark  ===> (0)\n"
         "        FLAGS = (SCALAR)\n"
         "    }\n"
         "}\n"},
        {"list of another type",
         [](Compile* t, PERLGCB* g) { return op_new_list(g, OP_LINESEQ, 0, t->konst(1), nullptr); },
         "{\n"
         "    TYPE = lineseq  ===> DONE\n"
         "    FLAGS = (UNKNOWN,KIDS)\n"
         "    {\n"
         "        TYPE = const  ===> (0)\n"
         "        FLAGS = (SCALAR)\n"
         "        SV = \n"
         "    }\n"
         "}\n"},
    };
    for (const Case& c : cases) {
        OP* o = c.build(this, gcb);
        EXPECT_EQ(dump(o), c.dump) << c.what;
        op_free_tree(gcb, o);
    }
}

TEST_F(Build, PrivateBitsCountTheOperands)
{
    OP* one = op_new_binary(gcb, OP_SASSIGN, 0x0400, konst(1), nullptr);
    OP* two = op_new_binary(gcb, OP_SASSIGN, 0x0400, konst(1), konst(2));
    OP* un = op_new_unary(gcb, OP_DEFINED, 0x0880, konst(1));
    EXPECT_EQ(one->op_private, 0x05);
    EXPECT_EQ(two->op_private, 0x06);
    EXPECT_EQ(op_last_kid(two), op_first_kid(two)->op_sibling);
    EXPECT_EQ(un->op_private, 0x09);
    EXPECT_EQ(un->op_flags, OPf_KIDS | OPf_SPECIAL | OPf_WANT_SCALAR);
    // The value builders take only the flag byte; the base builder also the private byte.
    OP* v = op_new_value(gcb, OP_CONST, 0x4008, sv_new_from_int(gcb, 1));
    OP* b = op_new_base(gcb, OP_PUSHMARK, 0x4008);
    EXPECT_EQ(v->op_private, 0);
    EXPECT_EQ(b->op_private, 0x40);
    EXPECT_EQ(v->op_next, v);
    EXPECT_EQ(one->op_next, nullptr);
    for (OP* o : {one, two, un, v, b})
        op_free_tree(gcb, o);
}

TEST_F(Build, ListHelpers)
{
    // Appending to a list written in parentheses makes a new list of both.
    OP* parens = op_mark_parens(gcb, op_new_list(gcb, OP_LIST, 0, konst(1), nullptr));
    OP* both = op_list_append(gcb, OP_LIST, parens, konst(2));
    ASSERT_NE(both, parens);
    EXPECT_EQ(op_first_kid(both)->op_type, OP_PUSHMARK);
    EXPECT_EQ(op_first_kid(both)->op_sibling, parens);
    EXPECT_EQ(op_last_kid(both)->op_type, OP_CONST);
    op_free_tree(gcb, both);

    // Concatenating two lists keeps the second one's pushmark among the kids.
    OP* a = op_new_list(gcb, OP_LIST, 0, konst(1), nullptr);
    OP* b = op_new_list(gcb, OP_LIST, 0, konst(2), nullptr);
    OP* c = op_list_concat(gcb, OP_LIST, a, b);
    std::vector<int> types;
    for (OP* k = op_first_kid(c); k; k = k->op_sibling)
        types.push_back(k->op_type);
    EXPECT_EQ(types, (std::vector<int>{OP_PUSHMARK, OP_CONST, OP_PUSHMARK, OP_CONST}));
    EXPECT_EQ(op_last_kid(c)->op_sibling, nullptr);
    op_free_tree(gcb, c);

    // Prepending to a list that holds only its pushmark, then appending:
    // the first kid stays in the list.
    OP* empty = op_new_list(gcb, OP_LIST, 0, nullptr, nullptr);
    OP* k1 = konst(1);
    OP* k2 = konst(2);
    OP* l = op_list_append(gcb, OP_LIST, op_list_prepend(gcb, OP_LIST, k1, empty), k2);
    EXPECT_EQ(op_first_kid(l)->op_sibling, k1);
    EXPECT_EQ(k1->op_sibling, k2);
    EXPECT_EQ(op_last_kid(l), k2);
    op_free_tree(gcb, l);

    // Concatenating onto a kid-less list takes over the other's kids.
    OP* none = op_new_list(gcb, OP_LINESEQ, 0, nullptr, nullptr);
    OP* k4 = konst(4);
    OP* some = op_new_list(gcb, OP_LINESEQ, 0, k4, nullptr);
    OP* joined = op_list_concat(gcb, OP_LINESEQ, none, some);
    EXPECT_EQ(joined, none);
    EXPECT_EQ(op_first_kid(joined), k4);
    EXPECT_EQ(op_last_kid(joined), k4);
    EXPECT_TRUE(op_has_kids(joined));
    op_free_tree(gcb, joined);

    // Prepending to a kid-less list of another type makes the op its only kid.
    OP* seq = op_new_list(gcb, OP_LINESEQ, 0, nullptr, nullptr);
    OP* k3 = konst(3);
    EXPECT_EQ(op_list_prepend(gcb, OP_LINESEQ, k3, seq), seq);
    EXPECT_EQ(op_first_kid(seq), k3);
    EXPECT_EQ(op_last_kid(seq), k3);
    EXPECT_TRUE(op_has_kids(seq));
    op_free_tree(gcb, seq);
}

TEST_F(Build, ConvertListNullsThePushmarkOfTypesWithoutMark)
{
    OP* l = op_new_list(gcb, OP_LIST, 0, kstr("a"), kstr("b"));
    OP* j = op_convert_list(gcb, OP_UNPACK, 0, l);
    ASSERT_EQ(j, l);
    EXPECT_EQ(j->op_type, OP_UNPACK);
    EXPECT_EQ(op_first_kid(j)->op_type, OP_NULL);
    EXPECT_EQ(op_first_kid(j)->op_targ, OP_PUSHMARK);
    op_free_tree(gcb, j);
}

TEST_F(Build, OpMaskRefusesAndFreesTheOp)
{
    std::vector<uint8_t> mask(OP_max, 0);
    mask[OP_TIME] = 1;
    gcb->op_mask = mask.data();
    EXPECT_EQ(run([&] { op_new_base(gcb, OP_TIME, 0); }), 2);
    EXPECT_EQ(warnings(), "time trapped by operation mask.\n");
    gcb->op_mask = nullptr;
}

// ---- freeing and nulling ---------------------------------------------------

TEST_F(Build, FreeingByNumberCountAndStaticMark)
{
    SV* v = sv_new_from_int(gcb, 7);
    auto held = [&](OP* o) {
        sv_refinc(v);
        op_value_sv(o) = v;
    };
    // The op numbered 65535 is an ordinary op: freed with what it holds.
    OP* numbered = konst(1);
    held(numbered);
    numbered->op_seq = 65535;
    op_free_tree(gcb, numbered);
    EXPECT_EQ(v->refcnt, 1u);

    // A static op stays, with its kids.
    OP* kid = konst(1);
    held(kid);
    OP* parent = op_new_list(gcb, OP_LINESEQ, 0, kid, nullptr);
    parent->op_static = 1;
    op_free_tree(gcb, parent);
    EXPECT_EQ(v->refcnt, 2u);
    parent->op_static = 0;
    op_free_tree(gcb, parent);
    EXPECT_EQ(v->refcnt, 1u);

    // A counted root with a count of 2 survives one free.
    OP* kid2 = konst(1);
    held(kid2);
    OP* root = op_new_list(gcb, OP_SCOPE, 0, kid2, nullptr);
    root->op_private |= OPpREFCOUNTED;
    root->op_targ = 2;
    op_free_tree(gcb, root);
    EXPECT_EQ(root->op_targ, 1u);
    EXPECT_EQ(v->refcnt, 2u);
    op_free_tree(gcb, root);
    EXPECT_EQ(v->refcnt, 1u);
    sv_release(gcb, v);
}

TEST_F(Build, NulledStatementReleasesLabelFileAndWarnings)
{
    GV* file = gv_fetch_by_name(gcb, "_<test.pl", GV_ADD, SVt_PV);
    uint32_t before = as_sv(file)->refcnt;
    compile_cop.cop_filegv = file;
    compile_cop.cop_warnings = sv_new_from_bytes(gcb, "\x55\x55", 2);
    OP* o = op_new_statement(gcb, 0, pool_strdup(gcb, "L1"), nullptr);
    COP* cop = reinterpret_cast<COP*>(o);
    EXPECT_EQ(as_sv(file)->refcnt, before + 1);
    EXPECT_NE(cop->cop_warnings, compile_cop.cop_warnings);  // a copy of its own
    op_nullify(gcb, o);
    EXPECT_EQ(o->op_targ, OP_NEXTSTATE);
    EXPECT_STREQ(cop->cop_label, "L1");
    op_free_tree(gcb, o);
    EXPECT_EQ(as_sv(file)->refcnt, before);
    sv_release(gcb, compile_cop.cop_warnings);
    compile_cop.cop_warnings = nullptr;
    compile_cop.cop_filegv = nullptr;
}

TEST_F(Build, NullingReturnsThePadTarget)
{
    OP* t = op_new_base(gcb, OP_TIME, 0);
    OP* later = op_new_base(gcb, OP_TIME, 0);
    uint32_t slot = t->op_targ;
    ASSERT_NE(slot, 0u);
    ASSERT_NE(later->op_targ, slot);
    op_nullify(gcb, t);
    EXPECT_EQ(t->op_type, OP_NULL);
    EXPECT_EQ(t->op_targ, OP_TIME);
    EXPECT_EQ(pad_alloc(gcb, OP_TIME, PAD_KIND_TMP), slot);
    op_nullify(gcb, t);  // already null: keeps its former type
    EXPECT_EQ(t->op_targ, OP_TIME);
    op_free_tree(gcb, t);
    op_free_tree(gcb, later);
}

TEST_F(Build, FreedPatternOpLeavesItsPackagesList)
{
    HV* pkg = stash("P");
    auto pattern = [&] {
        op_pattern* pm = static_cast<op_pattern*>(pool_malloc(gcb, sizeof(op_pattern)));
        std::memset(pm, 0, sizeof *pm);
        op_set_type(gcb, &pm->op, OP_MATCH);
        op_pattern_list_add(gcb, pm, pkg);
        return pm;
    };
    op_pattern* first = pattern();
    op_pattern* second = pattern();
    op_pattern* third = pattern();
    op_free_tree(gcb, &second->op);
    EXPECT_EQ(hv_body(pkg)->pmroot, &third->op);
    EXPECT_EQ(third->op_pmnext, first);
    op_free_tree(gcb, &third->op);
    EXPECT_EQ(hv_body(pkg)->pmroot, &first->op);
    sv_reset_by_letters(gcb, "", pkg);  // walks only live ops
    op_free_tree(gcb, &first->op);
    EXPECT_EQ(hv_body(pkg)->pmroot, nullptr);
}

TEST_F(Build, ScopeOps)
{
    // In parentheses: a full block with enter and leave.
    OP* seq = op_new_statement(gcb, 0, nullptr, konst(1));
    OP* full = op_new_scope(gcb, op_mark_parens(gcb, seq));
    EXPECT_EQ(full->op_type, OP_LEAVE);
    EXPECT_EQ(op_first_kid(full)->op_type, OP_ENTER);
    op_free_tree(gcb, full);
    // Without: a scope whose statement op is nulled.
    OP* light = op_new_scope(gcb, op_new_statement(gcb, 0, nullptr, konst(1)));
    EXPECT_EQ(light->op_type, OP_SCOPE);
    EXPECT_EQ(op_first_kid(light)->op_type, OP_NULL);
    EXPECT_EQ(op_first_kid(light)->op_targ, OP_NEXTSTATE);
    op_free_tree(gcb, light);
    // Any other op is wrapped in a scope of its own.
    OP* k = konst(1);
    OP* wrapped = op_new_scope(gcb, k);
    EXPECT_EQ(wrapped->op_type, OP_SCOPE);
    EXPECT_EQ(op_first_kid(wrapped), k);
    EXPECT_EQ(op_new_scope(gcb, nullptr), nullptr);
    op_free_tree(gcb, wrapped);
    // Taint checks make every block a full one.
    gcb->tainting = 1;
    OP* tainted = op_new_scope(gcb, op_new_statement(gcb, 0, nullptr, konst(1)));
    EXPECT_EQ(tainted->op_type, OP_LEAVE);
    op_free_tree(gcb, tainted);
    gcb->tainting = 0;
}

}  // namespace
}  // namespace optree
