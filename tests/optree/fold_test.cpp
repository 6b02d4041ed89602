// Constant folding: integer variants under the integer hint and for integer
// operands, the ops that are never folded, and constant subtrees run once
// at compile time into one const op.
#include "optree/optree_fixture.h"

namespace optree {
namespace {

class Fold : public Compile {
public:
    OP* length_of(const char* name) { return op_new_unary(gcb, OP_LENGTH, 0, my_scalar(name)); }
    // Folding runs the ops' own run-time functions; an op without one is
    // left as it is.
    bool runnable(std::initializer_list<uint32_t> types)
    {
        for (uint32_t t : types)
            if (!op_run_function_built(t))
                return false;
        return true;
    }
};

TEST_F(Fold, IntegerVariants)
{
    struct Case {
        const char* what;
        uint32_t hints;
        OP* (*build)(Fold*, PERLGCB*);
        uint32_t type;
    };
    const Case cases[] = {
        {"add under the integer hint", HINT_INTEGER,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_ADD, 0, t->my_scalar("$a"), t->konst(1)); }, OP_I_ADD},
        {"comparison under the integer hint", HINT_INTEGER,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_LT, 0, t->my_scalar("$a"), t->konst(1)); }, OP_I_LT},
        {"add of integer operands", 0,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_ADD, 0, t->length_of("$s"), t->konst(1)); }, OP_I_ADD},
        {"add of a variable", 0,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_ADD, 0, t->my_scalar("$a"), t->konst(1)); }, OP_ADD},
        {"division of integer operands", 0,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_DIVIDE, 0, t->length_of("$s"), t->konst(2)); },
         OP_DIVIDE},
        {"add of a floating constant", 0,
         [](Fold* t, PERLGCB* g) {
             return op_new_binary(g, OP_ADD, 0, t->length_of("$s"),
                                  op_new_value(g, OP_CONST, 0, sv_new_from_double(g, 1.5)));
         },
         OP_ADD},
        {"negated bareword under the integer hint", HINT_INTEGER,
         [](Fold* t, PERLGCB* g) {
             OP* bare = t->kstr("foo");
             bare->op_private |= OPpCONST_BARE;
             return op_new_unary(g, OP_NEGATE, 0, bare);
         },
         OP_NEGATE},
    };
    for (const Case& c : cases) {
        gcb->compile_hints = c.hints;
        OP* o = c.build(this, gcb);
        EXPECT_EQ(o->op_type, c.type) << c.what;
        EXPECT_EQ(o->op_ppaddr, gcb->op_run_function_table[c.type]) << c.what;
        op_free_tree(gcb, o);
    }
    gcb->compile_hints = 0;
}

TEST_F(Fold, OpsThatAreNeverFolded)
{
    // repeat is not foldable; uc under the locale is not folded; nothing is
    // folded once an error was counted.
    OP* rep = op_new_binary(gcb, OP_REPEAT, 0, kstr("abc"), konst(2));
    EXPECT_EQ(rep->op_type, OP_REPEAT);
    op_free_tree(gcb, rep);
    gcb->compile_hints |= HINT_LOCALE;
    OP* uc = op_new_unary(gcb, OP_UC, 0, kstr("abc"));
    gcb->compile_hints &= ~HINT_LOCALE;
    EXPECT_EQ(uc->op_type, OP_UC);
    EXPECT_EQ(uc->op_private, 0x40);
    op_free_tree(gcb, uc);
    // Without the locale it folds once its run-time function is built.
    uc = op_new_unary(gcb, OP_UC, 0, kstr("abc"));
    if (op_run_function_built(OP_UC)) {
        ASSERT_EQ(uc->op_type, OP_CONST);
        EXPECT_STREQ(sv_pv(op_value_sv(uc)), "ABC");
    }
    op_free_tree(gcb, uc);
    gcb->error_count = 1;
    OP* add = op_new_binary(gcb, OP_ADD, 0, konst(1), konst(2));
    EXPECT_EQ(add->op_type, OP_I_ADD);  // not run, only switched to its integer variant
    EXPECT_NE(add->op_targ, 0u);        // with the target folding takes for it
    op_free_tree(gcb, add);
    gcb->error_count = 0;
}

TEST_F(Fold, ConstantSubtreesBecomeOneConstant)
{
    ASSERT_TRUE(runnable({OP_ADD, OP_MULTIPLY, OP_DIVIDE, OP_POW, OP_NEGATE, OP_I_ADD, OP_CONST, OP_PUSHMARK}));
    struct Case {
        const char* what;
        uint32_t hints;
        OP* (*build)(Fold*, PERLGCB*);
        uint32_t flags;  // IOK, NOK or POK of the result
        double value;
    };
    const Case cases[] = {
        {"1 + 2 * 3", 0,
         [](Fold* t, PERLGCB* g) {
             return op_new_binary(g, OP_ADD, 0, t->konst(1), op_new_binary(g, OP_MULTIPLY, 0, t->konst(2), t->konst(3)));
         },
         SVf_IOK, 7},
        {"1 / 4", 0, [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_DIVIDE, 0, t->konst(1), t->konst(4)); },
         SVf_NOK, 0.25},
        {"6 / 3", 0, [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_DIVIDE, 0, t->konst(6), t->konst(3)); },
         SVf_IOK, 2},
        {"-2.0", 0,
         [](Fold*, PERLGCB* g) {
             return op_new_unary(g, OP_NEGATE, 0, op_new_value(g, OP_CONST, 0, sv_new_from_double(g, 2.0)));
         },
         SVf_NOK, -2},
        {"1 + 2 under the integer hint", HINT_INTEGER,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_ADD, 0, t->konst(1), t->konst(2)); }, SVf_IOK, 3},
    };
    for (const Case& c : cases) {
        gcb->compile_hints = c.hints;
        OP* o = c.build(this, gcb);
        ASSERT_EQ(o->op_type, OP_CONST) << c.what;
        SV* sv = op_value_sv(o);
        EXPECT_EQ(sv->flags & (SVf_IOK | SVf_NOK | SVf_POK), c.flags) << c.what;
        // The conversion serves values without a public number; a double reads its slot.
        EXPECT_EQ((sv->flags & SVf_NOK) ? sv_nv(sv) : sv_to_double(gcb, sv), c.value) << c.what;
        op_free_tree(gcb, o);
    }
    gcb->compile_hints = 0;
}

}  // namespace
}  // namespace optree
