// Taint marks and the dependency check.
#include "fixture.h"

#include "ds/src/prxmg.h"
#include "ds/src/prxmsg.h"

namespace {

using prxtest::Interp;

int32_t taint_method(PERLGCB*, SV*, MAGIC*) { return 0; }

class Taint : public Interp {
protected:
    void SetUp() override
    {
        Interp::SetUp();
        // The taint table has a get and a set method.
        gcb->magic_vtbl[PL_vtbl_taint].get = taint_method;
        gcb->magic_vtbl[PL_vtbl_taint].set = taint_method;
    }
    int taint_records(SV* sv)
    {
        int n = 0;
        for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next)
            n += mg->type == 't';
        return n;
    }
};

TEST_F(Taint, MarksTestsAndClears)
{
    SV* sv = sv_new_from_int(gcb, 7);
    EXPECT_FALSE(sv_is_tainted(gcb, sv));
    sv_clear_taint(gcb, sv);   // nothing to clear
    EXPECT_EQ(sv_type(sv), SVt_IV);
    sv_mark_tainted(gcb, sv);
    EXPECT_EQ(sv_type(sv), SVt_PVMG);
    EXPECT_EQ(sv->flags & (SVf_IOK | SVp_IOK), SVp_IOK);
    EXPECT_EQ(sv->flags & (SVs_GMG | SVs_SMG), SVs_GMG | SVs_SMG);
    EXPECT_TRUE(sv_is_tainted(gcb, sv));
    sv_mark_tainted(gcb, sv);
    EXPECT_EQ(taint_records(sv), 1);
    sv_clear_taint(gcb, sv);
    EXPECT_FALSE(sv_is_tainted(gcb, sv));
    EXPECT_EQ(taint_records(sv), 1);
    sv_mark_tainted(gcb, sv);
    EXPECT_TRUE(sv_is_tainted(gcb, sv));
    // The saved localized state counts only when the record's object is the value.
    MAGIC* mg = sv_magic_chain(sv);
    mg->len = 2;
    EXPECT_FALSE(sv_is_tainted(gcb, sv));
    mg->obj = sv;
    EXPECT_TRUE(sv_is_tainted(gcb, sv));

    SV* ro = sv_new_from_int(gcb, 1);
    ro->flags |= SVf_READONLY;
    EXPECT_EQ(run([&] { sv_mark_tainted(gcb, ro); }), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
    gcb->current_statement = gcb->compiling_statement;
    sv_mark_tainted(gcb, ro);
    EXPECT_TRUE(sv_is_tainted(gcb, ro));
}

TEST_F(Taint, SettersTaintInTaintedExpressions)
{
    SV* sv = sv_new_head(gcb);
    gcb->tainting = 1;
    sv_set_int(gcb, sv, 3);
    EXPECT_FALSE(sv_is_tainted(gcb, sv));
    gcb->tainted = 1;
    sv_set_bytes(gcb, sv, "x", 1);
    EXPECT_TRUE(sv_is_tainted(gcb, sv));
    SV* u = sv_new_from_uint(gcb, 5);
    EXPECT_TRUE(sv_is_tainted(gcb, u));
    EXPECT_EQ(sv_uv(u), 5u);
}

TEST_F(Taint, DependencyCheck)
{
    taint_check_dependency(gcb, nullptr, "open");   // expression not tainted: nothing
    taint_check_dependency(gcb, "%s%s anything", "x");
    EXPECT_EQ(err_raw(), "");

    gcb->tainted = 1;
    struct Case {
        int32_t uid, euid, gid, egid;
        const char* reason;
    } cases[] = {
        {1, 1, 1, 1, " while running with -T switch"},
        {1, 1, 1, 2, " while running setgid"},
        {1, 2, 1, 1, " while running setuid"},
        {1, 2, 1, 2, " while running setuid"},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        gcb->uid = c.uid, gcb->euid = c.euid, gcb->gid = c.gid, gcb->egid = c.egid;
        EXPECT_EQ(run([&] { taint_check_dependency(gcb, nullptr, "system"); }), 2);
        EXPECT_EQ(err_text(), std::string("Insecure dependency in system") + c.reason + ".\n");
    }
    // With the unsafe flag violations only warn, and only when the category is on.
    gcb->unsafe = 1;
    gcb->err.len = 0;
    warnings_bits({WARN_TAINT});
    EXPECT_EQ(run([&] { taint_check_dependency(gcb, "Insecure %s%s", "$ENV{PATH}"); }), 0);
    EXPECT_EQ(err_text(), "Insecure $ENV{PATH} while running setuid.\n");
    gcb->err.len = 0;
    warnings_none();
    taint_check_dependency(gcb, nullptr, "exec");
    EXPECT_EQ(err_raw(), "");
    // No %ENV glob: the environment check has nothing to look at.
    taint_check_environment(gcb);
}

}  // namespace
