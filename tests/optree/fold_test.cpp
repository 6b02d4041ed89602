// Constant folding: integer variants under the integer hint and for integer
// operands, the ops that are never folded, and constant subtrees run once
// at compile time into one const op.
#include "optree/optree_fixture.h"

namespace optree {
namespace {

class Fold : public Compile {
public:
    OP* length_of(const char* name) { return op_new_unary(gcb, OP_LENGTH, 0, my_scalar(name)); }
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
    // Without the locale it folds.
    uc = op_new_unary(gcb, OP_UC, 0, kstr("abc"));
    ASSERT_EQ(uc->op_type, OP_CONST);
    EXPECT_STREQ(sv_pv(op_value_sv(uc)), "ABC");
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
        {"2 * 3", 0, [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_MULTIPLY, 0, t->konst(2), t->konst(3)); },
         SVf_IOK, 6},
        {"2 ** 10 (a power is computed in floating point)", 0,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_POW, 0, t->konst(2), t->konst(10)); }, SVf_IOK, 1024},
        {"2 ** -1", 0,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_POW, 0, t->konst(2), t->konst(-1)); }, SVf_NOK, 0.5},
        {"7 - 10", 0,
         [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_SUBTRACT, 0, t->konst(7), t->konst(10)); }, SVf_IOK,
         -3},
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

// String ops fold to string constants; a whole expression of nested
// foldable ops becomes one const op.
TEST_F(Fold, StringResults)
{
    struct Case {
        const char* what;
        OP* (*build)(Fold*, PERLGCB*);
        const char* text;
    };
    const Case cases[] = {
        {"\"ab\" . \"cd\"", [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_CONCAT, 0, t->kstr("ab"), t->kstr("cd")); },
         "abcd"},
        {"lc \"AbC\" . 1 + 2", [](Fold* t, PERLGCB* g) {
             return op_new_binary(g, OP_CONCAT, 0, op_new_unary(g, OP_LC, 0, t->kstr("AbC")),
                                  op_new_binary(g, OP_ADD, 0, t->konst(1), t->konst(2)));
         },
         "abc3"},
        {"\"b\" lt \"a\"", [](Fold* t, PERLGCB* g) { return op_new_binary(g, OP_SLT, 0, t->kstr("b"), t->kstr("a")); },
         ""},
        {"chr 65", [](Fold* t, PERLGCB* g) { return op_new_unary(g, OP_CHR, 0, t->konst(65)); }, "A"},
    };
    for (const Case& c : cases) {
        OP* o = c.build(this, gcb);
        ASSERT_EQ(o->op_type, OP_CONST) << c.what;
        SV* sv = op_value_sv(o);
        ASSERT_TRUE(sv->flags & SVf_POK) << c.what;
        EXPECT_EQ(std::string(sv_pv(sv), sv_cur(sv)), c.text) << c.what;
        op_free_tree(gcb, o);
    }
}

// A division by zero between constants is raised while the division is
// built: folding traps nothing, and the error unwinds the compilation.
TEST_F(Fold, DivisionByZeroFailsAtBuildTime)
{
    OP* zero = konst(0);
    OP* one = konst(1);
    OP* built = nullptr;
    int32_t code = run([&] { built = op_new_binary(gcb, OP_DIVIDE, 0, one, zero); });
    EXPECT_NE(code, 0);
    EXPECT_EQ(built, nullptr);
    EXPECT_EQ(err_text(), "Illegal division by zero.\n");
}

}  // namespace
}  // namespace optree
