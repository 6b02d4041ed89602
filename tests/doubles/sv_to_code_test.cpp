// The sub-definition path behind sv_to_code's create flag, and the
// registration of the UNIVERSAL built-ins, with the op-tree compiler's
// routines as doubles.
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxop.h"
#include "ds/src/prxuniversal.h"

namespace {

using prxtest::Stacks;

class SubDefinition : public Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        doubles::subs = &subs;
        stash = gv_stash_by_name(gcb, "R", 1);
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }
    doubles::SubDefinition subs;
    HV* stash = nullptr;
    std::vector<std::string> defined;
};

TEST_F(SubDefinition, CreateFlagDeclaresAMissingSub)
{
    SV* code = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, code, SVt_PVCV);
    subs.define_sub = [&](SV* name, int32_t floor) {
        defined.push_back(str(name));
        EXPECT_EQ(floor, gcb->savestack_ix);
        EXPECT_EQ(gcb->scope_ix, 1);       // inside the scope sv_to_code opened
        GV* gv = gv_fetch_by_name(gcb, str(name).c_str(), GV_ADD, SVt_PVCV);
        gv_gp(gv)->gp_cv = sv_as<CV>(code);
    };
    HV* st = nullptr;
    GV* gv = nullptr;
    CV* cv = nullptr;
    ASSERT_EQ(run([&] { cv = sv_to_code(gcb, pv("R::g"), &st, &gv, 1); }), 0) << err_text();
    EXPECT_EQ(defined, (std::vector<std::string>{"R::g"}));
    EXPECT_EQ(cv, sv_as<CV>(code));
    EXPECT_EQ(gv_gp(gv)->gp_cv, sv_as<CV>(code));
    EXPECT_EQ(st, stash);
    EXPECT_EQ(gcb->scope_ix, 0);
    ASSERT_EQ(subs.ops.size(), 1u);
    EXPECT_EQ(subs.ops[0]->op_type, OP_CONST);

    // An existing sub is not declared again.
    ASSERT_EQ(run([&] { cv = sv_to_code(gcb, pv("R::g"), &st, &gv, 1); }), 0);
    EXPECT_EQ(defined.size(), 1u);
}

TEST_F(SubDefinition, CreateFlagFailure)
{
    subs.define_sub = [&](SV* name, int32_t) { defined.push_back(str(name)); };
    HV* st = nullptr;
    GV* gv = nullptr;
    EXPECT_EQ(run([&] { sv_to_code(gcb, pv("R::h"), &st, &gv, 1); }), 2);
    EXPECT_EQ(err_text(), "Unable to create sub named \"R::h\".\n");
    EXPECT_EQ(defined, (std::vector<std::string>{"R::h"}));
}

TEST_F(SubDefinition, UniversalBootRegistersThreeBuiltIns)
{
    universal_boot(gcb);
    EXPECT_EQ(subs.xsubs, (std::vector<std::string>{"UNIVERSAL::isa ds/src/prxuniversal",
                                                    "UNIVERSAL::can ds/src/prxuniversal",
                                                    "UNIVERSAL::VERSION ds/src/prxuniversal"}));
    EXPECT_EQ(subs.xsub_functions, (std::vector<void (*)(PERLGCB*, CV*)>{universal_isa, universal_can,
                                                                           universal_version}));
}

}  // namespace
