// The tie ops on a stack set by hand: tied and untie with and without tie
// magic, the untie warning, a constructor that cannot be found, and the
// calls that reach a tie class's methods.
#include "runtime/io_fixture.h"

#include "ds/src/prxhv.h"

namespace runtime {
namespace {

class Tie : public Io {
protected:
    // A new object: a reference to a hash blessed into the class.
    SV* object(const char* cls)
    {
        SV* ref = sv_new_undef(gcb, 0);
        sv_make_ref_to_new(gcb, ref, nullptr);
        sv_upgrade_body(gcb, sv_rv(ref), SVt_PVMG);
        sv_bless_referent(gcb, ref, stash(cls));
        return ref;
    }
    void reset() { gcb->arg_sp = gcb->arg_base; }
};

TEST_F(Tie, TiedAndUntieOfAVariableThatIsNotTied)
{
    for (SV* var : {iv(1), as_sv(av_new_empty(gcb)), as_sv(hv_new_empty(gcb)), gvsv(handle("FH"))}) {
        EXPECT_EQ(run_op(OP_TIED, {var}, 0, 1), 0);
        EXPECT_EQ(result(), &gcb->sv_undef);
        reset();
        EXPECT_EQ(run_op(OP_UNTIE, {var}, 0, 1), 0);
        EXPECT_EQ(result(), &gcb->sv_yes);
        reset();
    }
}

TEST_F(Tie, TiedYieldsTheObjectOrAReferenceToTheVariable)
{
    SV* var = iv(7);
    SV* obj = object("Counter");
    sv_add_magic(gcb, var, obj, 'q', nullptr, 0);
    EXPECT_EQ(run_op(OP_TIED, {var}, 0, 1), 0);
    SV* r = result();
    ASSERT_TRUE(r->flags & SVf_ROK);
    EXPECT_EQ(sv_rv(r), sv_rv(obj));
    reset();
    // Tied to itself: the record holds no object.
    AV* av = av_new_empty(gcb);
    sv_add_magic(gcb, as_sv(av), nullptr, 'P', nullptr, 0);
    EXPECT_EQ(run_op(OP_TIED, {as_sv(av)}, 0, 1), 0);
    r = result();
    ASSERT_TRUE(r->flags & SVf_ROK);
    EXPECT_EQ(sv_rv(r), as_sv(av));
    reset();
    EXPECT_EQ(run_op(OP_UNTIE, {as_sv(av)}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    EXPECT_EQ(mg_find_by_type(gcb, as_sv(av), 'P'), nullptr);
}

TEST_F(Tie, UntieWarnsOfInnerReferences)
{
    warnings_all();
    SV* var = iv(7);
    SV* obj = object("NoUntie");
    sv_add_magic(gcb, var, obj, 'q', nullptr, 0);
    SV* more1 = sv_new_reference(gcb, sv_rv(obj));
    SV* more2 = sv_new_reference(gcb, sv_rv(obj));
    sv_release(gcb, obj);
    EXPECT_EQ(run_op(OP_UNTIE, {var}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    EXPECT_NE(err_text().find("untie attempted while 2 inner references still exist"), std::string::npos)
        << err_text();
    EXPECT_EQ(mg_find_by_type(gcb, var, 'q'), nullptr);
    sv_release(gcb, more1);
    sv_release(gcb, more2);
}

TEST_F(Tie, TieToAClassWithoutTheConstructor)
{
    stash("Empty");
    EXPECT_NE(run_op(OP_TIE, {as_sv(hv_new_empty(gcb)), pv("Empty")}, 0, 2, true), 0);
    EXPECT_DIED("Can't locate object method \"TIEHASH\" via package \"Empty\"");
}

}  // namespace
}  // namespace runtime
