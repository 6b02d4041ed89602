// Fatal errors and warnings of the value layer.
#include "fixture.h"

#include "ds/src/prxmsg.h"

namespace {

using prxtest::Interp;

class SvError : public Interp {
protected:
    SV* of_type(uint32_t type)
    {
        SV* sv = sv_new_head(gcb);
        sv_upgrade_body(gcb, sv, type);
        return sv;
    }
    // Runs body; expects an exit with the given standard-error text.
    template <class Body>
    void expect_fatal(Body&& body, const std::string& text)
    {
        gcb->err.len = 0;
        EXPECT_EQ(run(body), 2) << text;
        EXPECT_EQ(err_text(), text);
    }
};

TEST_F(SvError, FatalErrors)
{
    set_op(55, "multiply", "multiplication (*)");
    SV* av = of_type(SVt_PVAV);
    SV* hv = of_type(SVt_PVHV);
    SV* ro = sv_new_from_int(gcb, 1);
    ro->flags |= SVf_READONLY;
    SV* plain = sv_new_from_int(gcb, 2);

    expect_fatal([&] { sv_set_int(gcb, av, 1); }, "Can't coerce ARRAY to integer in multiplication (*).\n");
    expect_fatal([&] { sv_set_uint(gcb, hv, 1); }, "Can't coerce HASH to integer in multiplication (*).\n");
    expect_fatal([&] { sv_set_double(gcb, av, 1.0); }, "Can't coerce ARRAY to number in multiply.\n");
    expect_fatal([&] { sv_set_int(gcb, of_type(SVt_PVIO), 1); }, "Can't coerce IO to integer in multiplication (*).\n");
    expect_fatal([&] { sv_assign(gcb, plain, hv); }, "Bizarre copy of HASH in multiply.\n");
    expect_fatal([&] { sv_upgrade_body(gcb, av, SVt_PVMG); }, "Can't upgrade that kind of scalar.\n");
    expect_fatal([&] { sv_upgrade_body(gcb, of_type(SVt_PVIV), SVt_NULL); }, "Can't upgrade to undef.\n");
    expect_fatal([&] { sv_set_int(gcb, ro, 3); }, "Modification of a read-only value attempted.\n");
    expect_fatal([&] { sv_assign(gcb, ro, plain); }, "Modification of a read-only value attempted.\n");
    expect_fatal([&] { sv_add_magic(gcb, ro, nullptr, 't', nullptr, 0); },
                 "Modification of a read-only value attempted.\n");
    expect_fatal([&] { sv_add_magic(gcb, sv_new_head(gcb), nullptr, 'Q', nullptr, 0); },
                 "Don't know how to handle magic of type 'Q'.\n");
    expect_fatal([&] { sv_bless_referent(gcb, plain, nullptr); }, "Can't bless non-reference value.\n");
    expect_fatal([&] { sv_insert(gcb, nullptr, 0, 0, "", 0); }, "Can't modify non-existent substring.\n");
    SV* ros = sv_new_from_bytes(gcb, "abc", 3);
    ros->flags |= SVf_READONLY;
    expect_fatal([&] { sv_chop_front(gcb, ros, sv_pv(ros) + 1); }, "Modification of a read-only value attempted.\n");
    gcb->op = nullptr;
    expect_fatal([&] { sv_assign(gcb, plain, av); }, "Bizarre copy of ARRAY.\n");
    expect_fatal([&] { sv_set_int(gcb, av, 1); }, "Can't coerce ARRAY to integer in null operation.\n");
    EXPECT_EQ(sv_iv(ro), 1);
}

// Every body type under the integer and the double setter: the type it ends
// as, or the refusal that names it.
TEST_F(SvError, NumberSettersOverEveryType)
{
    struct Case {
        uint32_t type;
        uint32_t after_int;     // 0xFF: refused
        uint32_t after_double;  // 0xFF: refused
        const char* word;
    };
    const Case cases[] = {
        {SVt_NULL, SVt_IV, SVt_NV, ""},          {SVt_IV, SVt_IV, SVt_PVNV, ""},
        {SVt_NV, SVt_PVNV, SVt_NV, ""},          {SVt_RV, SVt_PVIV, SVt_PVNV, ""},
        {SVt_PV, SVt_PVIV, SVt_PVNV, ""},        {SVt_PVIV, SVt_PVIV, SVt_PVNV, ""},
        {SVt_PVNV, SVt_PVNV, SVt_PVNV, ""},      {SVt_PVMG, SVt_PVMG, SVt_PVMG, ""},
        {SVt_PVBM, SVt_PVBM, SVt_PVBM, ""},      {SVt_PVLV, SVt_PVLV, SVt_PVLV, ""},
        {SVt_PVAV, 0xFF, 0xFF, "ARRAY"},         {SVt_PVHV, 0xFF, 0xFF, "HASH"},
        {SVt_PVCV, 0xFF, 0xFF, "CODE"},          {SVt_PVGV, 0xFF, 0xFF, "GLOB"},
        {SVt_PVFM, 0xFF, 0xFF, "FORMAT"},        {SVt_PVIO, 0xFF, 0xFF, "IO"},
    };
    set_op(55, "multiply", "multiplication (*)");
    for (const Case& c : cases) {
        SV* a = of_type(c.type);
        SV* b = of_type(c.type);
        if (c.after_int == 0xFF) {
            expect_fatal([&] { sv_set_int(gcb, a, 1); },
                         std::string("Can't coerce ") + c.word + " to integer in multiplication (*).\n");
            expect_fatal([&] { sv_set_double(gcb, b, 1.0); },
                         std::string("Can't coerce ") + c.word + " to number in multiply.\n");
            continue;
        }
        ASSERT_EQ(run([&] { sv_set_int(gcb, a, 7); }), 0) << c.type;
        EXPECT_EQ(sv_type(a), c.after_int) << c.type;
        EXPECT_EQ(sv_iv(a), 7) << c.type;
        ASSERT_EQ(run([&] { sv_set_double(gcb, b, 2.5); }), 0) << c.type;
        EXPECT_EQ(sv_type(b), c.after_double) << c.type;
        EXPECT_EQ(sv_nv(b), 2.5) << c.type;
    }
}

TEST_F(SvError, UpgradeErrorsLeaveTheValueIntact)
{
    SV* sv = sv_new_from_bytes(gcb, "keep", 4);
    sv_upgrade_body(gcb, sv, SVt_PVIV);
    EXPECT_EQ(run([&] { sv_upgrade_body(gcb, sv, SVt_NULL); }), 2);
    EXPECT_EQ(sv_type(sv), SVt_PVIV);
    EXPECT_EQ(str(sv), "keep");
}

TEST_F(SvError, FreeingAnUnreferencedScalar)
{
    SV* sv = sv_new_from_int(gcb, 1);
    sv->refcnt = 0;
    sv_release(gcb, sv);   // standard warnings: the category is on by default
    EXPECT_EQ(err_text(), "Attempt to free unreferenced scalar.\n");
    gcb->err.len = 0;
    warnings_none();
    sv_release(gcb, sv);
    warnings_all();
    sv->flags |= SVf_SWEPT;
    sv_release(gcb, sv);
    sv->flags &= ~SVf_SWEPT;
    gcb->sv_clean_all = 1;
    sv_release(gcb, sv);
    gcb->sv_clean_all = 0;
    warnings_bits({WARN_NUMERIC});
    sv_release(gcb, sv);
    EXPECT_EQ(err_raw(), "");
    EXPECT_NE(sv->flags, SVt_FREED);
    // Made fatal by its category.
    warnings_bits({WARN_INTERNAL}, {WARN_INTERNAL});
    EXPECT_EQ(run([&] { sv_release(gcb, sv); }), 2);
    EXPECT_EQ(err_text(), "Attempt to free unreferenced scalar.\n");
}

TEST_F(SvError, InternalWarnings)
{
    SV* freed = sv_new_head(gcb);
    sv_release(gcb, freed);
    EXPECT_EQ(sv_new_copy(gcb, freed), nullptr);
    EXPECT_EQ(err_text(), "semi-panic: attempt to dup freed string.\n");
    gcb->err.len = 0;
    SV* sv = sv_new_from_int(gcb, 1);
    SV* nsv = sv_new_from_int(gcb, 2);
    nsv->refcnt = 2;
    sv_replace(gcb, sv, nsv);
    EXPECT_EQ(err_text(), "Reference miscount in sv_replace().\n");
    EXPECT_EQ(sv_iv(sv), 2);
}

TEST_F(SvError, UndefinedValueAssignedToAGlob)
{
    SV* gv = sv_new_head(gcb);
    sv_upgrade_body(gcb, gv, SVt_PVGV);
    sv_assign(gcb, gv, nullptr);
    EXPECT_EQ(err_raw(), "");   // category 11 is off by default
    warnings_bits({WARN_MISC});
    sv_assign(gcb, gv, &gcb->sv_undef);
    EXPECT_EQ(err_text(), "Undefined value assigned to typeglob.\n");
    EXPECT_EQ(sv_type(gv), SVt_PVGV);
}

}  // namespace
