// The generic argument check: operand counts against the argument-class
// word, the default $_, bareword arrays and handles, handle names for new
// handles, and the small check routines that wrap it.
#include <functional>

#include "optree/optree_fixture.h"
#include "optree/tree_shape.h"

namespace {

using optree::shape;

class CkScalar : public optree::Trees {
public:
    OP* list_of(std::initializer_list<OP*> ops)
    {
        OP* l = nullptr;
        for (OP* o : ops)
            l = op_list_append(gcb, OP_LIST, l, o);
        return l;
    }
    OP* listop(int32_t type, std::initializer_list<OP*> ops)
    {
        return op_convert_list(gcb, type, 0, ops.size() ? list_of(ops) : nullptr);
    }
};

TEST_F(CkScalar, OperandCounts)
{
    struct Case {
        const char* what;
        std::function<OP*(CkScalar*)> build;
        const char* error;  // empty: none
    } cases[] = {
        {"ord((1, 2))",
         [](CkScalar* t) { return op_new_unary(t->interp(), OP_ORD, 0, op_mark_parens(t->interp(), t->list_of({t->konst(1), t->konst(2)}))); },
         "Too many arguments for ord"},
        {"scalar((1, 2))",
         [](CkScalar* t) { return op_new_unary(t->interp(), OP_SCALAR, 0, op_mark_parens(t->interp(), t->list_of({t->konst(1), t->konst(2)}))); },
         ""},
        {"index($s)", [](CkScalar* t) { return t->listop(OP_INDEX, {t->scalar_var("s")}); }, "Not enough arguments for index"},
        {"index($s, 'a')", [](CkScalar* t) { return t->listop(OP_INDEX, {t->scalar_var("s"), t->kstr("a")}); }, ""},
        {"index($s, 'a', 1, 2)",
         [](CkScalar* t) { return t->listop(OP_INDEX, {t->scalar_var("s"), t->kstr("a"), t->konst(1), t->konst(2)}); },
         "Too many arguments for index"},
        {"join(',', 1, 2, 3)",
         [](CkScalar* t) { return t->listop(OP_JOIN, {t->kstr(","), t->konst(1), t->konst(2), t->konst(3)}); }, ""},
        {"push(@a)", [](CkScalar* t) { return t->listop(OP_PUSH, {op_new_unary(t->interp(), OP_RV2AV, 0, t->gvop("a"))}); },
         ""},
        {"push()", [](CkScalar* t) { return t->listop(OP_PUSH, {}); }, "Not enough arguments for push"},
        {"push($x, 1)", [](CkScalar* t) { return t->listop(OP_PUSH, {t->scalar_var("x"), t->konst(1)}); },
         "Type of arg 1 to push must be array (not scalar dereference)"},
        {"close(<FH>)",
         [](CkScalar* t) { return op_new_unary(t->interp(), OP_CLOSE, 0, op_new_unary(t->interp(), OP_READLINE, 0, t->gvop("FH"))); },
         "Type of arg 1 to close must be HANDLE (not <HANDLE>)"},
        {"bless {...} STACKED",
         [](CkScalar* t) {
             OP* o = t->listop(OP_BLESS, {t->scalar_var("r")});
             o->op_flags |= OPf_STACKED;
             return t->interp()->op_check_table[OP_BLESS](t->interp(), o);
         },
         "Missing comma after first argument to bless function"},
    };
    for (const Case& c : cases) {
        optree::compile_errors.clear();
        gcb->error_count = 0;
        OP* o = c.build(this);
        std::vector<std::string> expected;
        if (*c.error)
            expected.push_back(c.error);
        EXPECT_EQ(optree::compile_errors, expected) << c.what;
        op_free_tree(gcb, o);
    }
}

TEST_F(CkScalar, OperandsAreCountedInPrivate)
{
    OP* o = listop(OP_INDEX, {scalar_var("s"), kstr("a"), konst(1)});
    EXPECT_EQ(o->op_private, 3);
    op_free_tree(gcb, o);
    o = listop(OP_SUBSTR, {scalar_var("s"), konst(1), konst(2), kstr("x")});
    EXPECT_EQ(o->op_private, 4);
    EXPECT_TRUE(op_first_kid(o)->op_sibling->op_flags & OPf_MOD) << "four-argument substr modifies its string";
    op_free_tree(gcb, o);
    o = listop(OP_SUBSTR, {scalar_var("s"), konst(1), konst(2)});
    EXPECT_FALSE(op_first_kid(o)->op_sibling->op_flags & OPf_MOD);
    op_free_tree(gcb, o);
}

TEST_F(CkScalar, DefaultOperandIsDollarUnderscore)
{
    // No operand at all: a new op over $_.
    OP* o = op_new_base(gcb, OP_ORD, 0);
    EXPECT_EQ(shape(gcb, o), "ord(rv2sv(gv))");
    EXPECT_STREQ(gv_body(sv_as<GV>(op_value_sv(op_first_kid(op_first_kid(o)))))->name, "_");
    op_free_tree(gcb, o);
    // Empty parentheses of a list op: $_ after the mark.
    o = listop(OP_UNLINK, {});
    EXPECT_EQ(shape(gcb, o), "unlink(pushmark rv2sv(gv))");
    EXPECT_EQ(op_last_kid(o), op_first_kid(o)->op_sibling);
    op_free_tree(gcb, o);
}

TEST_F(CkScalar, BarewordsBecomeAggregatesAndHandles)
{
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    OP* o = listop(OP_PUSH, {bare("list"), konst(1)});
    EXPECT_EQ(shape(gcb, o), "push(pushmark rv2av(gv) const)");
    o = listop(OP_SPLICE, {bare("list")});
    EXPECT_EQ(shape(gcb, o), "splice(pushmark rv2av(gv))");
    EXPECT_EQ(op_last_kid(o), op_first_kid(o)->op_sibling) << "LAST follows the replacement";
    o = listop(OP_EACH, {bare("table")});
    EXPECT_EQ(shape(gcb, o), "each(ex-pushmark rv2hv(gv))");
    EXPECT_EQ(warnings(),
              "Array @list missing the @ in argument 1 of push().\n"
              "Array @list missing the @ in argument 1 of splice().\n"
              "Hash %table missing the % in argument 1 of each().\n");
    o = op_new_unary(gcb, OP_CLOSE, 0, bare("LOG"));
    EXPECT_EQ(shape(gcb, o), "close(gv)");
    EXPECT_STREQ(gv_body(sv_as<GV>(op_value_sv(op_first_kid(o))))->name, "LOG");
}

TEST_F(CkScalar, NewHandlesAreNamedAfterTheirVariable)
{
    struct Case {
        const char* what;
        std::function<OP*(CkScalar*)> handle;
        const char* name;
    } cases[] = {
        {"open(my $fh, ...)", [](CkScalar* t) { return t->my_scalar("$fh"); }, "$fh"},
        {"open($fh, ...)", [](CkScalar* t) { return t->scalar_var("fh"); }, "$fh"},
        {"open($h{x}, ...)",
         [](CkScalar* t) {
             OP* hv = op_new_unary(t->interp(), OP_RV2HV, 0, t->gvop("h"));
             return op_new_binary(t->interp(), OP_HELEM, 0, hv, t->kstr("x"));
         },
         "$__ANONIO__"},
    };
    for (const Case& c : cases) {
        OP* o = listop(OP_OPEN, {c.handle(this), kstr("<x")});
        OP* rv2gv = op_first_kid(o)->op_sibling;
        ASSERT_EQ(rv2gv->op_type, OP_RV2GV) << c.what;
        EXPECT_EQ(rv2gv->op_flags & OPf_SPECIAL, 0);
        EXPECT_EQ(rv2gv->op_private & 0x60, 0x60);
        ASSERT_NE(rv2gv->op_targ, 0u);
        EXPECT_EQ(str(gcb->curpad[rv2gv->op_targ]), c.name) << c.what;
        op_free_tree(gcb, o);
    }
    // Not a handle-making position: a plain glob dereference.
    OP* o = op_new_unary(gcb, OP_CLOSE, 0, scalar_var("fh"));
    EXPECT_EQ(shape(gcb, o), "close(rv2gv(rv2sv(gv)))");
    EXPECT_EQ(op_first_kid(o)->op_flags & OPf_SPECIAL, OPf_SPECIAL);
    EXPECT_EQ(op_first_kid(o)->op_targ, 0u);
    op_free_tree(gcb, o);
}

TEST_F(CkScalar, SmallChecks)
{
    gcb->compile_hints = HINT_INTEGER | HINT_STRICT_REFS | HINT_BLOCK_SCOPE;
    OP* o = op_new_binary(gcb, OP_LEFT_SHIFT, 0, scalar_var("a"), konst(1));
    EXPECT_EQ(o->op_private, 0x03) << "the low byte of the hints";
    op_free_tree(gcb, o);
    o = op_new_binary(gcb, OP_SLT, 0, scalar_var("a"), kstr("b"));
    EXPECT_EQ(o->op_private, 0);
    op_free_tree(gcb, o);
    OP* inner = op_new_binary(gcb, OP_CONCAT, 0, scalar_var("a"), scalar_var("b"));
    EXPECT_FALSE(inner->op_flags & OPf_STACKED);
    o = op_new_binary(gcb, OP_CONCAT, 0, inner, scalar_var("c"));
    EXPECT_TRUE(o->op_flags & OPf_STACKED);
    op_free_tree(gcb, o);
    o = konst(5);
    EXPECT_TRUE(op_value_sv(o)->flags & SVf_READONLY);
    op_free_tree(gcb, o);
    o = op_new_unary(gcb, OP_UC, 0, scalar_var("a"));
    EXPECT_EQ(o->op_private, 0);
    op_free_tree(gcb, o);
    // index with a constant needle prepares it for the fast search.
    o = listop(OP_INDEX, {scalar_var("s"), kstr("needle")});
    EXPECT_TRUE(op_value_sv(op_first_kid(o)->op_sibling->op_sibling)->flags & SVf_VALID);
    op_free_tree(gcb, o);
}

TEST_F(CkScalar, JoinWithAPatternWarns)
{
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    OP* m = op_new_pattern(gcb, OP_MATCH, 0);
    OP* o = listop(OP_JOIN, {m, scalar_var("x")});
    EXPECT_EQ(warnings(), "/STRING/ should probably be written as \"STRING\".\n");
    op_free_tree(gcb, o);
}

}  // namespace
