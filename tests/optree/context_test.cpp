// Context propagation: void context with its useless-use warnings and
// rewrites, scalar and list context of sequences, reference context, lvalue
// context with its errors and flags, and my declarations.
#include "optree/optree_fixture.h"

#include "ds/src/prxav.h"

namespace optree {
namespace {

class Context : public Compile {
public:
    void SetUp() override
    {
        Compile::SetUp();
        compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    }
};

TEST_F(Context, UselessUseInVoidContext)
{
    struct Case {
        const char* what;
        OP* (*build)(Compile*, PERLGCB*);
        const char* warning;
    };
    const Case cases[] = {
        {"string constant", [](Compile* t, PERLGCB*) { return t->kstr("abc"); },
         "Useless use of a constant in void context.\n"},
        {"zero", [](Compile* t, PERLGCB*) { return t->konst(0); }, ""},
        {"one", [](Compile* t, PERLGCB*) { return t->konst(1); }, ""},
        {"two", [](Compile* t, PERLGCB*) { return t->konst(2); }, "Useless use of a constant in void context.\n"},
        {"di string", [](Compile* t, PERLGCB*) { return t->kstr("dice"); }, ""},
        {"ig string", [](Compile* t, PERLGCB*) { return t->kstr("ignore"); }, ""},
        {"time", [](Compile*, PERLGCB* g) { return op_new_base(g, OP_TIME, 0); },
         "Useless use of time in void context.\n"},
        {"package variable",
         [](Compile* t, PERLGCB* g) { return op_new_scalar_deref(g, t->gvop("main::v")); },
         "Useless use of a variable in void context.\n"},
        {"lexical", [](Compile* t, PERLGCB*) { return t->my_scalar("$lex"); },
         "Useless use of private variable in void context.\n"},
        {"declared lexical",
         [](Compile* t, PERLGCB* g) { return op_declare_my(g, t->my_scalar("$lex2")); }, ""},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        OP* o = op_void_context(gcb, c.build(this, gcb));
        EXPECT_EQ(warnings(), c.warning) << c.what;
        EXPECT_EQ(op_want(o), OPf_WANT_VOID) << c.what;
        op_free_tree(gcb, o);
    }
}

TEST_F(Context, VoidContextRewritesAndErrors)
{
    // A constant is nulled (never run); a post-increment becomes a pre-increment.
    OP* k = op_void_context(gcb, konst(2));
    EXPECT_EQ(k->op_type, OP_NULL);
    EXPECT_EQ(k->op_targ, OP_CONST);
    op_free_tree(gcb, k);
    OP* inc = op_void_context(gcb, op_new_unary(gcb, OP_POSTINC, 0, my_scalar("$i")));
    EXPECT_EQ(inc->op_type, OP_PREINC);
    EXPECT_EQ(inc->op_ppaddr, gcb->op_run_function_table[OP_PREINC]);
    op_free_tree(gcb, inc);
    // A bareword under strict subs is a queued compile error.
    OP* bare = kstr("Foo");
    bare->op_private |= OPpCONST_STRICT;
    op_free_tree(gcb, op_void_context(gcb, bare));
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Bareword \"Foo\" not allowed while \"strict subs\" in use.\n"});
    // Once an error is counted, contexts leave ops alone.
    OP* after = op_void_context(gcb, konst(5));
    EXPECT_EQ(op_want(after), 0);
    EXPECT_EQ(after->op_type, OP_CONST);
    op_free_tree(gcb, after);
}

TEST_F(Context, SequencesInScalarAndListContext)
{
    // Every element but the last is in void context.
    OP* l = op_new_list(gcb, OP_LIST, 0, kstr("x"), konst(2));
    op_scalar_context(gcb, l);
    OP* mark = op_first_kid(l);
    EXPECT_EQ(op_want(mark), OPf_WANT_VOID);
    EXPECT_EQ(mark->op_sibling->op_type, OP_NULL);  // the constant was nulled
    EXPECT_EQ(op_want(op_last_kid(l)), OPf_WANT_SCALAR);
    op_free_tree(gcb, l);

    OP* seq = op_new_list(gcb, OP_LINESEQ, 0, op_new_base(gcb, OP_TIME, 0), op_new_list(gcb, OP_LIST, 0, nullptr, nullptr));
    op_list_context(gcb, seq);
    EXPECT_EQ(op_want(op_first_kid(seq)), OPf_WANT_VOID);
    EXPECT_EQ(op_want(op_last_kid(seq)), OPf_WANT_LIST);
    EXPECT_EQ(warnings(), "Useless use of a constant in void context.\nUseless use of time in void context.\n");
    op_free_tree(gcb, seq);
}

TEST_F(Context, ReferenceContextAutovivifies)
{
    struct Case {
        int32_t type;
        uint8_t bits;
    } cases[] = {{OP_RV2SV, OPpDEREF_SV}, {OP_RV2AV, OPpDEREF_AV}, {OP_RV2HV, OPpDEREF_HV}};
    for (const Case& c : cases) {
        OP* v = my_scalar("$r");
        op_ref_context_one(gcb, v, c.type);
        EXPECT_EQ(v->op_private & OPpDEREF, c.bits);
        EXPECT_TRUE(v->op_flags & OPf_MOD);
        op_free_tree(gcb, v);
    }
    // An array dereference works on the container.
    OP* av = op_new_array_deref(gcb, gvop("main::a"));
    op_ref_context_one(gcb, av, OP_REFGEN);
    EXPECT_TRUE(av->op_flags & OPf_REF);
    op_free_tree(gcb, av);
}

TEST_F(Context, LvalueContext)
{
    // A constant cannot be assigned to.
    OP* k = konst(1);
    EXPECT_EQ(op_lvalue_context(gcb, k, OP_SASSIGN), k);
    EXPECT_EQ(compile_errors, std::vector<std::string>{"Can't modify constant item in scalar assignment"});
    op_free_tree(gcb, k);
    gcb->error_count = 0;
    compile_errors.clear();

    // An assigned lexical: MOD, with SPECIAL and REF under an assignment.
    OP* x = my_scalar("$x");
    gcb->modcount = 0;
    EXPECT_EQ(op_lvalue_context(gcb, x, OP_SASSIGN), x);
    EXPECT_EQ(x->op_flags & (OPf_MOD | OPf_SPECIAL | OPf_REF), OPf_MOD | OPf_SPECIAL | OPf_REF);
    EXPECT_EQ(gcb->modcount, 1);
    op_free_tree(gcb, x);

    // local on a package variable introduces it and needs a block scope.
    gcb->compile_hints = 0;
    OP* pkgvar = op_new_scalar_deref(gcb, gvop("main::g"));
    EXPECT_EQ(op_lvalue_context(gcb, pkgvar, 0), pkgvar);
    EXPECT_TRUE(pkgvar->op_private & OPpLVAL_INTRO);
    EXPECT_TRUE(gcb->compile_hints & HINT_BLOCK_SCOPE);
    op_free_tree(gcb, pkgvar);

    // An element passed to a sub defers its creation (LVAL_DEFER, 0x10).
    OP* elem = op_new_binary(gcb, OP_AELEM, 0, op_new_array_deref(gcb, gvop("main::arr")), konst(3));
    EXPECT_EQ(op_lvalue_context(gcb, elem, OP_ENTERSUB), elem);
    EXPECT_EQ(elem->op_private & 0x70, OPpLVAL_DEFER);
    EXPECT_EQ(elem->op_flags & (OPf_MOD | OPf_REF), OPf_MOD);
    op_free_tree(gcb, elem);

    // A do block is not modifiable.
    OP* doblock = op_new_unary(gcb, OP_NULL, OPf_SPECIAL, konst(1));
    EXPECT_EQ(op_lvalue_context(gcb, doblock, OP_SASSIGN), doblock);
    EXPECT_EQ(compile_errors, std::vector<std::string>{"Can't modify do block in scalar assignment"});
    op_free_tree(gcb, doblock);
}

TEST_F(Context, LocalOnALexicalIsFatal)
{
    OP* x = my_scalar("$x");
    EXPECT_EQ(run([&] { x = op_lvalue_context(gcb, x, 0); }), 2);
    EXPECT_EQ(warnings(), "Can't localize lexical variable $x.\n");
    op_free_tree(gcb, x);
}

TEST_F(Context, Declarations)
{
    OP* list = op_new_list(gcb, OP_LIST, 0, my_scalar("$a"), my_scalar("$b"));
    op_declare_my(gcb, list);
    for (OP* kid = op_first_kid(list)->op_sibling; kid; kid = kid->op_sibling)
        EXPECT_EQ(kid->op_private & OPpLVAL_INTRO, OPpLVAL_INTRO);
    EXPECT_TRUE(list->op_flags & OPf_MOD);
    op_free_tree(gcb, list);

    OP* k = konst(1);
    op_declare_my(gcb, k);
    EXPECT_EQ(compile_errors, std::vector<std::string>{"Can't declare constant item in \"my\""});
    op_free_tree(gcb, k);
}

}  // namespace
}  // namespace optree
