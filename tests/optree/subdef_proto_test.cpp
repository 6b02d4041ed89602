// Calls checked against the prototype of the called sub: arity errors,
// argument contexts and references, type errors, globs and barewords, and
// the calls that ignore the prototype.
#include "optree/optree_fixture.h"

#include <string>
#include <vector>

#include "ds/src/prxgv.h"

namespace optree {
namespace {

class Proto : public Compile {
public:
    // Gives main::NAME a declared sub with the prototype (or none).
    GV* sub_with(const char* name, const char* proto)
    {
        GV* gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVCV);
        CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
        sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
        if (proto)
            sv_set_cstring(gcb, as_sv(cv), proto);
        cv_body(cv)->gv = gv;
        gv_gp(gv)->gp_cv = cv;
        return gv;
    }
    OP* sub_ref(GV* gv, int32_t flags = 0)
    {
        return op_scalar_context(gcb, op_new_code_deref(gcb, flags, op_new_glob(gcb, OP_GV, 0, gv)));
    }
    // NAME(ARGS) as the parser builds it.
    OP* call(GV* gv, std::vector<OP*> args, int32_t flags = 0)
    {
        OP* list = nullptr;
        for (OP* a : args)
            list = op_list_append(gcb, OP_LIST, list, a);
        OP* cv = sub_ref(gv, flags);
        return op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, list ? op_list_append(gcb, OP_LIST, list, cv) : cv);
    }
    // The arguments of a checked call, the sub op excluded.
    std::vector<OP*> args_of(OP* o)
    {
        OP* holder = op_first_kid(o)->op_sibling ? o : op_first_kid(o);
        std::vector<OP*> out;
        for (OP* k = op_first_kid(holder)->op_sibling; k && k->op_sibling; k = k->op_sibling)
            out.push_back(k);
        return out;
    }
    OP* pkg_scalar(const char* name)
    {
        return op_new_scalar_deref(gcb, op_new_glob(gcb, OP_GV, 0, gv_fetch_by_name(gcb, name, GV_ADD, SVt_PV)));
    }
    OP* pkg_array(const char* name)
    {
        return op_new_array_deref(gcb, op_new_glob(gcb, OP_GV, 0, gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVAV)));
    }
};

TEST_F(Proto, Arity)
{
    GV* f = sub_with("f", "$$");
    struct Case {
        int n;
        std::vector<std::string> errors;
    } cases[] = {
        {3, {"Too many arguments for main::f"}},
        {2, {}},
        {1, {"Not enough arguments for main::f"}},
        {0, {"Not enough arguments for main::f"}},
    };
    for (const Case& c : cases) {
        compile_errors.clear();
        std::vector<OP*> args;
        for (int i = 0; i < c.n; i++)
            args.push_back(konst(i));
        OP* o = call(f, args);
        EXPECT_EQ(o->op_type, OP_ENTERSUB);
        EXPECT_EQ(compile_errors, c.errors) << c.n << " arguments";
        op_free_tree(gcb, o);
    }
}

TEST_F(Proto, OptionalAndListArguments)
{
    struct Case {
        const char* proto;
        int n;
    } fine[] = {{"$;$", 1}, {"$;$", 2}, {"@", 0}, {"@", 5}, {"$@", 1}, {"%", 2}, {"", 0}, {" $ ", 1}, {"$;", 1}};
    for (const Case& c : fine) {
        compile_errors.clear();
        GV* gv = sub_with("g", c.proto);
        std::vector<OP*> args;
        for (int i = 0; i < c.n; i++)
            args.push_back(konst(i));
        op_free_tree(gcb, call(gv, args));
        EXPECT_TRUE(compile_errors.empty()) << c.proto << " with " << c.n << ": " << compile_errors.front();
    }
    compile_errors.clear();
    op_free_tree(gcb, call(sub_with("g", "$;$"), {konst(1), konst(2), konst(3)}));
    EXPECT_EQ(compile_errors, std::vector<std::string>{"Too many arguments for main::g"});
}

TEST_F(Proto, ScalarAndListContexts)
{
    OP* o = call(sub_with("c", "$@"), {pkg_array("x"), pkg_array("y"), pkg_array("z")});
    std::vector<OP*> a = args_of(o);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(op_want(a[0]), OPf_WANT_SCALAR);
    EXPECT_EQ(op_want(a[1]), OPf_WANT_LIST);
    EXPECT_EQ(op_want(a[2]), OPf_WANT_LIST);
    op_free_tree(gcb, o);
}

TEST_F(Proto, ReferencesAndTypeErrors)
{
    struct Case {
        const char* proto;
        OP* (Proto::*arg)(const char*);
        std::string error;
    } cases[] = {
        {"\\@", &Proto::pkg_array, ""},
        {"\\@", &Proto::pkg_scalar, "Type of arg 1 to main::h must be array (not scalar dereference)"},
        {"\\$", &Proto::pkg_scalar, ""},
        {"\\$", &Proto::pkg_array, "Type of arg 1 to main::h must be scalar (not array dereference)"},
        {"\\%", &Proto::pkg_scalar, "Type of arg 1 to main::h must be hash (not scalar dereference)"},
        {"\\*", &Proto::pkg_scalar, "Type of arg 1 to main::h must be symbol (not scalar dereference)"},
    };
    for (const Case& c : cases) {
        compile_errors.clear();
        OP* o = call(sub_with("h", c.proto), {(this->*c.arg)("v")});
        std::vector<OP*> a = args_of(o);
        ASSERT_EQ(a.size(), 1u);
        // Wrapped in a reference whether or not its type was right.
        EXPECT_TRUE(a[0]->op_type == OP_REFGEN || a[0]->op_type == OP_SREFGEN) << c.proto;
        if (c.error.empty())
            EXPECT_TRUE(compile_errors.empty()) << c.proto;
        else
            EXPECT_EQ(compile_errors, std::vector<std::string>{c.error});
        op_free_tree(gcb, o);
    }
}

TEST_F(Proto, BlockArguments)
{
    compile_errors.clear();
    op_free_tree(gcb, call(sub_with("b", "&$"), {konst(1), konst(2)}));
    EXPECT_EQ(compile_errors, std::vector<std::string>{"Type of arg 1 to main::b must be block or sub {} (not constant item)"});
    compile_errors.clear();
    op_free_tree(gcb, call(sub_with("b", "$&"), {konst(1), konst(2)}));
    EXPECT_EQ(compile_errors, std::vector<std::string>{"Type of arg 2 to main::b must be sub {} (not constant item)"});
    compile_errors.clear();
    op_free_tree(gcb, call(sub_with("b", "&"), {op_new_base(gcb, OP_UNDEF, 0)}));
    EXPECT_TRUE(compile_errors.empty());
}

TEST_F(Proto, GlobArguments)
{
    GV* star = sub_with("s", "*");
    // A bareword call without parentheses goes back to the glob's name.
    GV* fh = gv_fetch_by_name(gcb, "FH", GV_ADD, SVt_PVCV);
    OP* rv2cv = sub_ref(fh);
    rv2cv->op_private |= 0x80;  // written without parentheses
    OP* inner = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, rv2cv);
    OP* o = call(star, {inner});
    std::vector<OP*> a = args_of(o);
    ASSERT_EQ(a.size(), 1u);
    ASSERT_EQ(a[0]->op_type, OP_CONST);
    EXPECT_EQ(str(op_value_sv(a[0])), "FH");
    op_free_tree(gcb, o);

    GV* other = gv_fetch_by_name(gcb, "Pkg::FH", GV_ADD, SVt_PVCV);
    OP* rv = sub_ref(other);
    rv->op_private |= 0x80;
    o = call(star, {op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, rv)});
    a = args_of(o);
    ASSERT_EQ(a[0]->op_type, OP_CONST);
    EXPECT_EQ(str(op_value_sv(a[0])), "Pkg::FH");
    op_free_tree(gcb, o);

    // A bareword const loses its strict bit.
    OP* k = kstr("STDIN");
    k->op_private |= OPpCONST_STRICT | OPpCONST_BARE;
    o = call(star, {k});
    a = args_of(o);
    EXPECT_EQ(a[0]->op_private & OPpCONST_STRICT, 0);
    op_free_tree(gcb, o);
}

TEST_F(Proto, MalformedPrototypesStopCompilation)
{
    // Found when an argument reaches the bad character.
    for (const char* proto : {"$x", "\\y", "\\"}) {
        gcb->err.len = 0;
        GV* gv = sub_with("m", proto);
        EXPECT_NE(run([&] { call(gv, {konst(1), konst(2)}); }), 0) << proto;
        EXPECT_EQ(warnings(), std::string("Malformed prototype for main::m: ") + proto + ".\n");
    }
}

TEST_F(Proto, CallsThatIgnoreThePrototype)
{
    GV* f = sub_with("f", "$$");
    // Written with '&'.
    compile_errors.clear();
    OP* o = call(f, {konst(1)}, OPpENTERSUB_AMPER << 8);
    EXPECT_TRUE(compile_errors.empty());
    EXPECT_TRUE(o->op_private & OPpENTERSUB_AMPER);
    op_free_tree(gcb, o);
    // A sub not defined yet: its gv op is marked early.
    GV* later = gv_fetch_by_name(gcb, "later", GV_ADD, SVt_PVCV);
    o = call(later, {konst(1), konst(2), konst(3)});
    EXPECT_TRUE(compile_errors.empty());
    OP* cvop = op_first_kid(op_first_kid(o));
    while (cvop->op_sibling)
        cvop = cvop->op_sibling;
    EXPECT_EQ(cvop->op_type, OP_NULL);
    EXPECT_EQ(cvop->op_targ, static_cast<uint32_t>(OP_RV2CV));
    EXPECT_TRUE(op_first_kid(cvop)->op_private & OPpEARLY_CV);
    op_free_tree(gcb, o);
}

TEST_F(Proto, CallOpBits)
{
    gcb->compile_hints |= HINT_STRICT_REFS;
    OP* o = call(sub_with("n", nullptr), {konst(1)});
    EXPECT_EQ(o->op_private & (OPpENTERSUB_HASTARG | OPpHINT_STRICT_REFS | OPpENTERSUB_DB),
              OPpENTERSUB_HASTARG | OPpHINT_STRICT_REFS);
    EXPECT_NE(o->op_targ, 0u);
    op_free_tree(gcb, o);
    gcb->compile_hints = 0;
    gcb->debugger_flags = 0x01;
    o = call(sub_with("n", nullptr), {});
    EXPECT_TRUE(o->op_private & OPpENTERSUB_DB);
    gcb->debugger_flags = 0;
    op_free_tree(gcb, o);
}

}  // namespace
}  // namespace optree
