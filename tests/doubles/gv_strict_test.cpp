// Names while compiling: the strict-variables rule with its compile errors
// (a double of the error queue here), and a sub declaration that becomes a
// glob on first use (the sub-compile start is a double).
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"

namespace {

using prxtest::Stacks;

class Strict : public Stacks {
protected:
    std::vector<std::string> errors;
    doubles::SubDefinition subs;
    HV* pkg = nullptr;
    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        doubles::queued_errors = &errors;
        pkg = stash("P");
        gcb->current_statement = gcb->compiling_statement;
        gcb->current_package = pkg;
        gcb->compile_hints |= HINT_STRICT_VARS;
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }
    GV* fetch(const char* name, uint32_t kind)
    {
        GV* gv = nullptr;
        EXPECT_EQ(run([&] { gv = gv_fetch_by_name(gcb, name, GV_ADD, kind); }), 0) << err_text();
        return gv;
    }
};

TEST_F(Strict, UndeclaredVariablesAreCompileErrors)
{
    struct Case {
        const char* name;
        uint32_t kind;
        const char* error;
    } cases[] = {
        {"x", SVt_PV, "Global symbol \"$x\" requires explicit package name.\n"},
        {"list", SVt_PVAV, "Global symbol \"@list\" requires explicit package name.\n"},
        {"map", SVt_PVHV, "Global symbol \"%map\" requires explicit package name.\n"},
    };
    for (const Case& c : cases) {
        errors.clear();
        GV* gv = fetch(c.name, c.kind);
        ASSERT_NE(gv, nullptr) << c.name;
        EXPECT_EQ(errors, (std::vector<std::string>{c.error}));
        EXPECT_EQ(gv_body(gv)->gvstash, gcb->null_stash);  // created all the same
    }
}

TEST_F(Strict, ExemptAndImportedNamesPass)
{
    struct Case {
        const char* name;
        uint32_t kind;
    } cases[] = {{"a", SVt_PV}, {"b", SVt_PV}, {"sub", SVt_PVCV}, {"glob", SVt_PVGV},
                 {"fmt", SVt_PVFM}, {"FH", SVt_PVIO}, {"ENV", SVt_PVHV}, {"P::q", SVt_PV}};
    for (const Case& c : cases) {
        GV* gv = fetch(c.name, c.kind);
        ASSERT_NE(gv, nullptr) << c.name;
        EXPECT_NE(gv_body(gv)->gvstash, gcb->null_stash) << c.name;
    }
    // An array imported into P passes; a scalar of the same glob does not.
    gcb->compile_hints &= ~HINT_STRICT_VARS;
    GV* imp = fetch("imp", SVt_PVAV);
    gcb->compile_hints |= HINT_STRICT_VARS;
    gv_body(imp)->gvflags |= GVf_IMPORT_AV;
    EXPECT_EQ(fetch("imp", SVt_PVAV), imp);
    EXPECT_TRUE(errors.empty());
    GV* refused = fetch("imp", SVt_PV);
    EXPECT_EQ(errors, (std::vector<std::string>{"Global symbol \"$imp\" requires explicit package name.\n"}));
    EXPECT_EQ(err_text(), "Variable \"$imp\" is not imported.\n");
    EXPECT_NE(refused, imp);
}

TEST_F(Strict, AGlobHoldingASubSuggestsTheCall)
{
    gcb->compile_hints &= ~HINT_STRICT_VARS;
    GV* gv = fetch("fn", SVt_PVCV);
    gcb->compile_hints |= HINT_STRICT_VARS;
    CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
    sv_refinc(as_sv(cv));
    gv_gp(gv)->gp_cv = cv;
    fetch("fn", SVt_PV);
    EXPECT_EQ(err_text(), "Variable \"$fn\" is not imported.\n\t(Did you mean &fn instead?)\n");
}

TEST_F(Strict, ADeclarationBecomesAnEmptySubWithItsPrototype)
{
    doubles::subs = &subs;
    CV* fresh = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(fresh), SVt_PVCV);
    gcb->compile_cv = fresh;  // what the sub-compile start makes
    // The stash entry holds the prototype string of a declaration.
    hv_store_str(gcb, pkg, "decl", 4, pv("$$"), 0);
    uint32_t gen = gcb->method_cache_generation;
    GV* gv = fetch("P::decl", SVt_PVCV);
    ASSERT_NE(gv, nullptr);
    EXPECT_EQ(sv_type(as_sv(gv)), SVt_PVGV);
    EXPECT_TRUE(gv_body(gv)->gvflags & GVf_MULTI);
    EXPECT_EQ(gv_gp(gv)->gp_cv, fresh);
    EXPECT_EQ(std::string(sv_pv(as_sv(fresh)), sv_cur(as_sv(fresh))), "$$");
    EXPECT_EQ(static_cast<PVCV*>(fresh->any)->gv, gv);
    EXPECT_EQ(static_cast<PVCV*>(fresh->any)->comp_stash, pkg);
    EXPECT_GT(gcb->method_cache_generation, gen);
    EXPECT_FALSE(as_sv(gv)->flags & SVf_POK);
}

}  // namespace
