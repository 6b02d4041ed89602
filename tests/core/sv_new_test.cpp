// Constructors, temporaries, references, blessing, type words and magic
// attachment.
#include "fixture.h"

#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"

namespace {

using prxtest::Interp;
using SvNew = Interp;

HV* make_stash(PERLGCB* gcb, const char* name)
{
    SV* sv = sv_new_head(gcb);
    sv_upgrade_body(gcb, sv, SVt_PVHV);
    hv_body(sv_as<HV>(sv))->name = pool_strdup(gcb, name);
    return sv_as<HV>(sv);
}

TEST_F(SvNew, Constructors)
{
    SV* s = sv_new_from_cstring(gcb, "abcdef", 0);
    EXPECT_EQ(str(s), "abcdef");
    SV* s3 = sv_new_from_cstring(gcb, "abcdef", 3);
    EXPECT_EQ(str(s3), "abc");
    EXPECT_FALSE(sv_ok(sv_new_from_cstring(gcb, nullptr, 0)));
    SV* b = sv_new_from_bytes(gcb, "a\0b", 3);
    EXPECT_EQ(str(b), std::string("a\0b", 3));
    SV* e = sv_new_from_bytes(gcb, "x", 0);
    EXPECT_TRUE(e->flags & SVf_POK);
    EXPECT_EQ(sv_cur(e), 0u);
    EXPECT_FALSE(sv_ok(sv_new_from_bytes(gcb, nullptr, 5)));

    SV* u = sv_new_from_uint(gcb, UINT64_MAX);
    EXPECT_EQ(sv_type(u), SVt_IV);
    EXPECT_EQ(u->flags & (SVf_IOK | SVp_IOK | SVf_IsUV), SVf_IOK | SVp_IOK | SVf_IsUV);
    EXPECT_EQ(sv_uv(u), UINT64_MAX);

    SV* d = sv_new_from_double(gcb, 0.25);
    EXPECT_EQ(d->flags & (SVf_NOK | SVp_NOK | SVf_IOK), SVf_NOK | SVp_NOK);
    EXPECT_EQ(sv_nv(d), 0.25);

    SV* n = sv_new_undef(gcb, 10);
    EXPECT_EQ(sv_type(n), SVt_PV);
    EXPECT_GE(sv_len(n), 11u);
    EXPECT_FALSE(n->flags & SVf_POK);
}

TEST_F(SvNew, Temporaries)
{
    int32_t ix = gcb->temps_ix;
    EXPECT_EQ(sv_make_temporary(gcb, &gcb->sv_yes), &gcb->sv_yes);
    EXPECT_EQ(sv_make_temporary(gcb, nullptr), nullptr);
    EXPECT_EQ(gcb->temps_ix, ix);
    EXPECT_FALSE(gcb->sv_yes.flags & SVs_TEMP);

    SV* t = sv_new_temporary(gcb);
    EXPECT_EQ(gcb->temps_ix, ix + 1);
    EXPECT_EQ(gcb->temps[gcb->temps_ix], t);
    EXPECT_TRUE(t->flags & SVs_TEMP);
    sv_set_bytes(gcb, t, "temp", 4);

    // A copy of a temporary leaves the source temporary and unchanged.
    SV* c = sv_new_copy(gcb, t);
    EXPECT_EQ(str(c), "temp");
    EXPECT_FALSE(c->flags & SVs_TEMP);
    EXPECT_TRUE(t->flags & SVs_TEMP);
    EXPECT_EQ(str(t), "temp");
    EXPECT_NE(sv_pv(c), sv_pv(t));
    EXPECT_EQ(sv_new_copy(gcb, nullptr), nullptr);

    SV* tc = sv_new_temporary_copy(gcb, c);
    EXPECT_EQ(str(tc), "temp");
    EXPECT_EQ(gcb->temps[gcb->temps_ix], tc);

    // Making a reference clears the referent's temporary mark.
    SV* r = sv_new_reference(gcb, t);
    EXPECT_FALSE(t->flags & SVs_TEMP);
    EXPECT_EQ(t->refcnt, 2u);
    EXPECT_EQ(sv_rv(r), t);
}

TEST_F(SvNew, BlessingCountsObjectsAndStashes)
{
    HV* p = make_stash(gcb, "P");
    HV* q = make_stash(gcb, "Q");
    SV* hash = sv_new_head(gcb);
    sv_upgrade_body(gcb, hash, SVt_PVHV);
    SV* ref = sv_new_reference(gcb, hash);
    sv_release(gcb, hash);
    EXPECT_EQ(sv_bless_referent(gcb, ref, p), ref);
    EXPECT_TRUE(hash->flags & SVs_OBJECT);
    EXPECT_EQ(gcb->sv_objcount, 1u);
    EXPECT_EQ(as_sv(p)->refcnt, 2u);
    EXPECT_EQ(sv_is_object_ref(gcb, ref), 1);
    EXPECT_STREQ(sv_referent_type_name(gcb, hash, 1), "P");
    EXPECT_STREQ(sv_referent_type_name(gcb, hash, 0), "HASH");

    sv_bless_referent(gcb, ref, q);
    EXPECT_EQ(gcb->sv_objcount, 1u);
    EXPECT_EQ(as_sv(p)->refcnt, 1u);
    EXPECT_EQ(as_sv(q)->refcnt, 2u);
    EXPECT_STREQ(sv_referent_type_name(gcb, hash, 1), "Q");

    SV* scalar = sv_new_from_int(gcb, 3);
    SV* sref = sv_new_reference(gcb, scalar);
    sv_release(gcb, scalar);
    sv_bless_referent(gcb, sref, p);
    EXPECT_EQ(sv_type(scalar), SVt_PVMG);
    EXPECT_EQ(sv_iv(scalar), 3);
    EXPECT_EQ(gcb->sv_objcount, 2u);
    // Without a default stash no destructor is looked for; the class goes.
    sv_release(gcb, sref);
    EXPECT_EQ(scalar->flags, SVt_FREED);
    EXPECT_EQ(gcb->sv_objcount, 1u);
    EXPECT_EQ(as_sv(p)->refcnt, 1u);
    EXPECT_EQ(sv_is_object_ref(gcb, sv_new_reference(gcb, sv_new_head(gcb))), 0);
    EXPECT_EQ(sv_is_object_ref(gcb, nullptr), 0);
}

TEST_F(SvNew, ReferentTypeNames)
{
    struct Case {
        uint32_t type;
        bool rok;
        const char* name;
    } cases[] = {{SVt_NULL, false, "SCALAR"}, {SVt_PVMG, false, "SCALAR"}, {SVt_RV, true, "REF"},
                 {SVt_PVLV, false, "LVALUE"}, {SVt_PVAV, false, "ARRAY"},  {SVt_PVHV, false, "HASH"},
                 {SVt_PVCV, false, "CODE"},   {SVt_PVGV, false, "GLOB"},   {SVt_PVFM, false, "FORMAT"},
                 {SVt_PVIO, false, "IO"}};
    for (const Case& c : cases) {
        SV* sv = sv_new_head(gcb);
        if (c.type != SVt_NULL)
            sv_upgrade_body(gcb, sv, c.type);
        if (c.rok)
            sv->flags |= SVf_ROK;
        EXPECT_STREQ(sv_referent_type_name(gcb, sv, 1), c.name) << c.type;
    }
}

TEST_F(SvNew, MakeRefToNew)
{
    SV* holder = sv_new_from_bytes(gcb, "was a string", 12);
    SV* referent = sv_make_ref_to_new(gcb, holder, nullptr);
    EXPECT_TRUE(holder->flags & SVf_ROK);
    EXPECT_EQ(sv_rv(holder), referent);
    EXPECT_FALSE(sv_ok(referent));
    EXPECT_EQ(referent->refcnt, 1u);
    EXPECT_EQ(sv_len(holder), 0u);
    EXPECT_EQ(holder->flags & (SVf_POK | SVp_POK), 0u);
}

int32_t counting_get(PERLGCB*, SV*, MAGIC*) { return 0; }

TEST_F(SvNew, MagicAttachment)
{
    gcb->magic_vtbl[PL_vtbl_sv].get = counting_get;
    gcb->magic_vtbl[PL_vtbl_sv].set = counting_get;
    gcb->magic_vtbl[PL_vtbl_taint].get = counting_get;
    gcb->magic_vtbl[PL_vtbl_taint].set = counting_get;

    // A get method hides the public flags; removing the last record shows them again.
    SV* sv = sv_new_from_bytes(gcb, "v", 1);
    sv_add_magic(gcb, sv, nullptr, 0, "name", 4);
    EXPECT_EQ(sv_type(sv), SVt_PVMG);
    EXPECT_EQ(sv->flags & (SVs_GMG | SVs_SMG | SVs_RMG), SVs_GMG | SVs_SMG);
    EXPECT_EQ(sv->flags & (SVf_POK | SVp_POK), SVp_POK);
    MAGIC* mg = sv_magic_chain(sv);
    ASSERT_NE(mg, nullptr);
    EXPECT_STREQ(mg->ptr, "name");
    EXPECT_EQ(mg->len, 4);
    EXPECT_EQ(mg->virt, &gcb->magic_vtbl[PL_vtbl_sv]);
    sv_add_magic(gcb, sv, nullptr, 0, "again", 5);   // the letter is there already
    EXPECT_EQ(mg->next, nullptr);
    EXPECT_EQ(sv_remove_magic(gcb, sv, 'x'), 0);     // not carried: unchanged
    EXPECT_EQ(sv_magic_chain(sv), mg);
    sv_remove_magic(gcb, sv, 0);
    EXPECT_EQ(sv_magic_chain(sv), nullptr);
    EXPECT_EQ(sv->flags & (SVs_GMG | SVs_SMG | SVs_RMG), 0u);
    EXPECT_TRUE(sv->flags & SVf_POK);

    // Taint magic twice leaves one record with its lowest length bit.
    SV* t = sv_new_head(gcb);
    sv_upgrade_body(gcb, t, SVt_PVMG);
    sv_add_magic(gcb, t, nullptr, 't', nullptr, 0);
    sv_magic_chain(t)->len = 2;
    sv_add_magic(gcb, t, nullptr, 't', nullptr, 0);
    EXPECT_EQ(sv_magic_chain(t)->next, nullptr);
    EXPECT_EQ(sv_magic_chain(t)->len, 3);

    // '#' does not count its object; other objects are counted; a value name is counted.
    SV* arr = sv_new_head(gcb);
    sv_upgrade_body(gcb, arr, SVt_PVAV);
    SV* len = sv_new_head(gcb);
    sv_add_magic(gcb, len, arr, '#', nullptr, 0);
    EXPECT_EQ(arr->refcnt, 1u);
    EXPECT_FALSE(sv_magic_chain(len)->mgflags & MGf_REFCOUNTED);
    SV* obj = sv_new_from_int(gcb, 1);
    SV* key = sv_new_from_bytes(gcb, "k", 1);
    SV* elem = sv_new_head(gcb);
    sv_add_magic(gcb, elem, obj, 'p', reinterpret_cast<const char*>(key), -2);
    EXPECT_EQ(obj->refcnt, 2u);
    EXPECT_EQ(key->refcnt, 2u);
    EXPECT_TRUE(sv_magic_chain(elem)->mgflags & MGf_REFCOUNTED);
    sv_remove_magic(gcb, elem, 'p');
    EXPECT_EQ(obj->refcnt, 1u);
    EXPECT_EQ(key->refcnt, 1u);

    // Records without a table: 'L' and '~' set RMG themselves.
    SV* l = sv_new_head(gcb);
    sv_add_magic(gcb, l, nullptr, '~', nullptr, 0);
    EXPECT_EQ(l->flags & (SVs_GMG | SVs_SMG | SVs_RMG), SVs_RMG);
    EXPECT_EQ(sv_magic_chain(l)->virt, nullptr);
    SV* c = sv_new_head(gcb);
    sv_add_magic(gcb, c, nullptr, 'c', nullptr, 0);
    EXPECT_EQ(c->flags & (SVs_GMG | SVs_SMG | SVs_RMG), 0u);

    // Read-only values take 'g', 'B' and 'f'.
    SV* ro = sv_new_from_int(gcb, 1);
    ro->flags |= SVf_READONLY;
    sv_add_magic(gcb, ro, nullptr, 'g', nullptr, 0);
    EXPECT_EQ(sv_magic_chain(ro)->type, 'g');
}

}  // namespace
