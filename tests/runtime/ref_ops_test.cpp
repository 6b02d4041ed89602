// Reference, glob and pad ops run directly: ref, bless, defined, undef,
// the increments and decrements, the reference constructors, prototype,
// glob slots, study, pos, the dereferences to scalars and globs, and the
// lexical arrays and hashes.
#include "runtime/agg_ops_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxpad.h"
#include "ds/src/prxscope.h"

namespace {

using runtime::Ops;

class Ref : public Ops {
protected:
    SV* ref_to(SV* sv) { return sv_new_reference(gcb, sv); }
    // A sub with a body standing for its root, and a prototype when given.
    CV* sub(const char* name, const char* proto)
    {
        SV* sv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, sv, SVt_PVCV);
        PVCV* b = static_cast<PVCV*>(sv->any);
        b->root = op(OP_NULL);
        if (proto) {
            b->pv = pool_strdup(gcb, proto);
            b->cur = std::strlen(proto);
            b->len = b->cur + 1;
            sv->flags |= SVf_POK | SVp_POK;
        }
        GV* gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVCV);
        gv_gp(gv)->gp_cv = sv_as<CV>(sv);
        b->gv = gv;
        return sv_as<CV>(sv);
    }
};

TEST_F(Ref, RefNamesTheReferent)
{
    OP* o = op(OP_REF);
    EXPECT_EQ(str(call1(o, {ref_to(iv(1))})), "SCALAR");
    EXPECT_EQ(call1(o, {ref_to(iv(1))}), targ(o));
    EXPECT_EQ(str(call1(o, {ref_to(as_sv(av_new_empty(gcb)))})), "ARRAY");
    EXPECT_EQ(str(call1(o, {ref_to(as_sv(hv_new_empty(gcb)))})), "HASH");
    EXPECT_EQ(str(call1(o, {ref_to(ref_to(iv(1)))})), "REF");
    SV* obj = ref_to(as_sv(hv_new_empty(gcb)));
    sv_bless_referent(gcb, obj, stash("Some::Class"));
    EXPECT_EQ(str(call1(o, {obj})), "Some::Class");
    // Not a reference: the empty no value, not undef.
    EXPECT_EQ(call1(o, {pv("text")}), &gcb->sv_no);
}

TEST_F(Ref, BlessIntoAPackage)
{
    warnings_all();
    SV* r = ref_to(as_sv(hv_new_empty(gcb)));
    EXPECT_EQ(call1(op(OP_BLESS, OPf_WANT_SCALAR, 2), {r, pv("Foo")}), r);
    EXPECT_EQ(str(call1(op(OP_REF), {r})), "Foo");
    running_in("Bar");
    call1(op(OP_BLESS, OPf_WANT_SCALAR, 1), {r});
    EXPECT_EQ(str(call1(op(OP_REF), {r})), "Bar");
    EXPECT_EQ(err_text(), "");
    call1(op(OP_BLESS, OPf_WANT_SCALAR, 2), {r, pv("")});
    EXPECT_EQ(err_text(), "Explicit blessing to '' (assuming package main).\n");
}

TEST_F(Ref, Defined)
{
    OP* o = op(OP_DEFINED);
    AV* empty = av_new_empty(gcb);
    AV* full = av_new_empty(gcb);
    av_append(gcb, full, iv(1));
    HV* hv = hv_new_empty(gcb);
    CV* with_body = sub("main::has_body", nullptr);
    SV* bodiless = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, bodiless, SVt_PVCV);
    struct Case {
        SV* sv;
        SV* want;
    };
    const Case cases[] = {
        {undef(), &gcb->sv_no},
        {pv(""), &gcb->sv_yes},
        {iv(0), &gcb->sv_yes},
        {as_sv(empty), &gcb->sv_no},
        {as_sv(full), &gcb->sv_yes},
        {as_sv(hv), &gcb->sv_no},
        {as_sv(with_body), &gcb->sv_yes},
        {bodiless, &gcb->sv_no},
    };
    for (const Case& c : cases)
        EXPECT_EQ(call1(o, {c.sv}), c.want);
    hv_store_str(gcb, hv, "k", 1, iv(1), 0);
    EXPECT_EQ(call1(o, {as_sv(hv)}), &gcb->sv_yes);
}

TEST_F(Ref, Undef)
{
    EXPECT_EQ(call1(op(OP_UNDEF, OPf_WANT_SCALAR, 0), {}), &gcb->sv_undef);
    OP* o = op(OP_UNDEF, OPf_WANT_SCALAR, 1);
    SV* s = pv("text");
    EXPECT_EQ(call1(o, {s}), &gcb->sv_undef);
    EXPECT_FALSE(sv_ok(s));
    EXPECT_EQ(sv_len(s), 0u);
    SV* u = utf8("\xC3\xA9");
    call1(o, {u});
    EXPECT_FALSE(u->flags & (SVf_UTF8 | SVf_POK));
    AV* av = av_new_empty(gcb);
    av_append(gcb, av, iv(1));
    call1(o, {as_sv(av)});
    EXPECT_EQ(av_body(av)->fill, -1);
    EXPECT_EQ(av_body(av)->max, -1);
    HV* hv = hv_new_empty(gcb);
    hv_store_str(gcb, hv, "k", 1, iv(1), 0);
    call1(o, {as_sv(hv)});
    EXPECT_EQ(hv_body(hv)->keys, 0);
    // A glob gets a fresh body with an undefined scalar.
    GV* gv = gv_fetch_by_name(gcb, "main::g", GV_ADD, SVt_PV);
    sv_set_int(gcb, gv_gp(gv)->gp_sv, 5);
    call1(o, {as_sv(gv)});
    ASSERT_TRUE(gv_gp(gv));
    EXPECT_FALSE(sv_ok(gv_gp(gv)->gp_sv));
    EXPECT_EQ(gv_gp(gv)->gp_egv, gv);
    EXPECT_TRUE(gv_body(gv)->gvflags & GVf_MULTI);
    SV* ro = pv("ro");
    ro->flags |= SVf_READONLY;
    gcb->err.len = 0;
    call(o, {ro});
    EXPECT_EQ(code, 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

TEST_F(Ref, IncrementsAndDecrements)
{
    // $x++ on undef returns 0 and leaves 1; $x-- returns undef and leaves -1.
    SV* x = undef();
    OP* inc = op(OP_POSTINC);
    SV* r = call1(inc, {x});
    EXPECT_EQ(r, targ(inc));
    EXPECT_EQ(str(r), "0");
    EXPECT_EQ(str(x), "1");
    SV* y = undef();
    r = call1(op(OP_POSTDEC), {y});
    EXPECT_FALSE(sv_ok(r));
    EXPECT_EQ(str(y), "-1");
    SV* z = iv(5);
    EXPECT_EQ(call1(op(OP_PREDEC), {z}), z);
    EXPECT_EQ(str(z), "4");
    EXPECT_EQ(z->flags & (SVf_IOK | SVf_NOK), SVf_IOK);
    // The 32-bit edges leave the fast path for the general routines.
    SV* low = iv(-2147483648LL);
    call1(op(OP_PREDEC), {low});
    EXPECT_EQ(str(low), "-2147483649");
    SV* high = iv(2147483647);
    r = call1(op(OP_POSTINC), {high});
    EXPECT_EQ(str(r), "2147483647");
    EXPECT_EQ(str(high), "2147483648");
    SV* s = pv("az");
    call1(op(OP_POSTINC), {s});
    EXPECT_EQ(str(s), "ba");
    gcb->err.len = 0;
    call(op(OP_POSTINC), {&gcb->sv_yes});
    EXPECT_TRUE(died_with("Modification of a read-only value attempted")) << err_text();
}

TEST_F(Ref, ReferenceConstructors)
{
    SV* v = iv(1);
    uint32_t before = v->refcnt;
    SV* r = call1(op(OP_SREFGEN), {v});
    EXPECT_TRUE(r->flags & SVf_ROK);
    EXPECT_EQ(sv_rv(r), v);
    EXPECT_EQ(v->refcnt, before + 1);
    EXPECT_TRUE(r->flags & SVs_TEMP);
    // A pad temporary is copied.
    SV* tmp = iv(2);
    tmp->flags |= SVs_PADTMP;
    r = call1(op(OP_SREFGEN), {tmp});
    EXPECT_NE(sv_rv(r), tmp);
    EXPECT_EQ(str(sv_rv(r)), "2");
    SV* a = iv(1);
    SV* b = iv(2);
    std::vector<SV*> list = call(op(OP_REFGEN, OPf_WANT_LIST), {a, b}, true);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(sv_rv(list[0]), a);
    EXPECT_EQ(sv_rv(list[1]), b);
    r = call1(op(OP_REFGEN, OPf_WANT_SCALAR), {a, b}, true);
    EXPECT_EQ(sv_rv(r), b);
    r = call1(op(OP_REFGEN, OPf_WANT_SCALAR), {}, true);
    EXPECT_EQ(sv_rv(r), &gcb->sv_undef);
    // lock makes a reference of an aggregate, and leaves a scalar.
    AV* av = av_new_empty(gcb);
    EXPECT_EQ(sv_rv(call1(op(OP_LOCK), {as_sv(av)})), as_sv(av));
    EXPECT_EQ(call1(op(OP_LOCK), {a}), a);
}

TEST_F(Ref, PrototypeOfSubs)
{
    sub("main::two", "$$");
    sub("main::plain", nullptr);
    SV* r = call1(op(OP_PROTOTYPE), {pv("two")});
    EXPECT_EQ(str(r), "$$");
    EXPECT_EQ(call1(op(OP_PROTOTYPE), {pv("plain")}), &gcb->sv_undef);
    EXPECT_EQ(call1(op(OP_PROTOTYPE), {pv("missing")}), &gcb->sv_undef);
}

TEST_F(Ref, PrototypeOfBuiltins)
{
    SV* r = call1(op(OP_PROTOTYPE), {pv("CORE::push")});
    EXPECT_EQ(str(r), "\\@@");
    EXPECT_EQ(str(call1(op(OP_PROTOTYPE), {pv("CORE::splice")})), "\\@;$;$@");
    EXPECT_EQ(str(call1(op(OP_PROTOTYPE), {pv("CORE::length")})), ";$");
    EXPECT_EQ(call1(op(OP_PROTOTYPE), {pv("CORE::print")}), &gcb->sv_undef);
    gcb->err.len = 0;
    call(op(OP_PROTOTYPE), {pv("CORE::nosuchword")});
    EXPECT_TRUE(died_with("Can't find an opnumber for \"nosuchword\"")) << err_text();
}

TEST_F(Ref, GlobSlots)
{
    GV* gv = gv_fetch_by_name(gcb, "Pkg::thing", GV_ADD, SVt_PV);
    gv_ensure_array(gcb, gv);
    OP* o = op(OP_GELEM);
    SV* r = call1(o, {as_sv(gv), pv("SCALAR")});
    EXPECT_EQ(sv_rv(r), gv_gp(gv)->gp_sv);
    EXPECT_EQ(sv_rv(call1(o, {as_sv(gv), pv("ARRAY")})), as_sv(gv_gp(gv)->gp_av));
    EXPECT_EQ(sv_rv(call1(o, {as_sv(gv), pv("GLOB")})), as_sv(gv));
    EXPECT_EQ(str(call1(o, {as_sv(gv), pv("NAME")})), "thing");
    EXPECT_EQ(str(call1(o, {as_sv(gv), pv("PACKAGE")})), "Pkg");
    EXPECT_EQ(call1(o, {as_sv(gv), pv("HASH")}), &gcb->sv_undef);
    EXPECT_EQ(call1(o, {as_sv(gv), pv("CODE")}), &gcb->sv_undef);
    EXPECT_EQ(call1(o, {as_sv(gv), pv("SCALARS")}), &gcb->sv_undef);
    EXPECT_EQ(call1(o, {as_sv(gv), pv("BOGUS")}), &gcb->sv_undef);
}

TEST_F(Ref, StudyBuildsThePositionTables)
{
    SV* s = pv("abcab");
    EXPECT_EQ(call1(op(OP_STUDY), {s}), &gcb->sv_yes);
    EXPECT_TRUE(s->flags & SVp_SCREAM);
    EXPECT_EQ(gcb->study_last, s);
    EXPECT_EQ(gcb->study_first[uint8_t{'a'}], 0);
    EXPECT_EQ(gcb->study_first[uint8_t{'c'}], 2);
    EXPECT_EQ(gcb->study_first[uint8_t{'z'}], -1);
    EXPECT_EQ(gcb->study_next[0], 3);
    EXPECT_EQ(gcb->study_next[3], -3);
    EXPECT_EQ(gcb->study_next[2], -2);
    // Again: answered at once, the tables kept.
    gcb->study_first[uint8_t{'a'}] = 99;
    EXPECT_EQ(call1(op(OP_STUDY), {s}), &gcb->sv_yes);
    EXPECT_EQ(gcb->study_first[uint8_t{'a'}], 99);
    // Another value takes over; the first loses its flag.
    SV* t = pv("zz");
    call1(op(OP_STUDY), {t});
    EXPECT_FALSE(s->flags & SVp_SCREAM);
    EXPECT_EQ(gcb->study_first[uint8_t{'z'}], 0);
    EXPECT_EQ(call1(op(OP_STUDY), {pv("")}), &gcb->sv_no);
}

TEST_F(Ref, Pos)
{
    SV* s = pv("abcdef");
    OP* o = op(OP_POS);
    EXPECT_EQ(call1(o, {s}), &gcb->sv_undef);
    sv_add_magic(gcb, s, nullptr, 'g', nullptr, 0);
    mg_find_by_type(gcb, s, 'g')->len = 3;
    SV* r = call1(o, {s});
    EXPECT_EQ(r, targ(o));
    EXPECT_EQ(str(r), "3");
    // As an lvalue: the target is a '.' lvalue of the value.
    OP* lv = op(OP_POS, OPf_WANT_SCALAR | OPf_MOD);
    r = call1(lv, {s});
    EXPECT_EQ(sv_type(r), SVt_PVLV);
    EXPECT_EQ(static_cast<PVLV*>(r->any)->type, '.');
    EXPECT_EQ(static_cast<PVLV*>(r->any)->targ, s);
}

TEST_F(Ref, ArrayLengthLvalue)
{
    AV* av = av_new_empty(gcb);
    SV* first = call1(op(OP_AV2ARYLEN), {as_sv(av)});
    EXPECT_TRUE(mg_find_by_type(gcb, first, '#'));
    EXPECT_EQ(call1(op(OP_AV2ARYLEN), {as_sv(av)}), first);
}

TEST_F(Ref, ScalarDereference)
{
    warnings_all();
    SV* v = iv(9);
    EXPECT_EQ(call1(op(OP_RV2SV), {ref_to(v)}), v);
    GV* gv = gv_fetch_by_name(gcb, "main::sv", GV_ADD, SVt_PV);
    EXPECT_EQ(call1(op(OP_RV2SV), {as_sv(gv)}), gv_gp(gv)->gp_sv);
    EXPECT_EQ(call1(op(OP_RV2SV), {pv("sv")}), gv_gp(gv)->gp_sv);
    // Looked up without creating: a missing name gives undef.
    EXPECT_EQ(call1(op(OP_RV2SV, OPf_WANT_SCALAR | OPf_SPECIAL), {pv("nowhere")}), &gcb->sv_undef);
    EXPECT_FALSE(gv_fetch_by_name(gcb, "main::nowhere", 0, SVt_PV));
    EXPECT_EQ(err_text(), "");
    // Undefined without strict refs: undef and one warning.
    EXPECT_EQ(call1(op(OP_RV2SV), {undef()}), &gcb->sv_undef);
    EXPECT_EQ(err_text(), "Use of uninitialized value in scalar dereference.\n");
    gcb->err.len = 0;
    call(op(OP_RV2SV, OPf_WANT_SCALAR, OPpHINT_STRICT_REFS), {undef()});
    EXPECT_TRUE(died_with("Can't use an undefined value as a SCALAR reference")) << err_text();
    gcb->err.len = 0;
    call(op(OP_RV2SV), {ref_to(as_sv(av_new_empty(gcb)))});
    EXPECT_TRUE(died_with("Not a SCALAR reference")) << err_text();
    gcb->err.len = 0;
    call(op(OP_RV2SV, OPf_WANT_SCALAR, OPpHINT_STRICT_REFS), {pv("sv")});
    EXPECT_TRUE(died_with("Can't use string (\"sv\") as a SCALAR ref while \"strict refs\" in use")) << err_text();
}

TEST_F(Ref, GlobDereference)
{
    GV* gv = gv_fetch_by_name(gcb, "main::fh", GV_ADD, SVt_PV);
    EXPECT_EQ(call1(op(OP_RV2GV), {pv("fh")}), as_sv(gv));
    EXPECT_EQ(call1(op(OP_RV2GV), {ref_to(as_sv(gv))}), as_sv(gv));
    // A reference to a handle: a nameless glob holds it.
    gv_ensure_handle(gcb, gv);
    IO* io = gv_gp(gv)->gp_io;
    SV* r = call1(op(OP_RV2GV), {ref_to(as_sv(io))});
    ASSERT_EQ(sv_type(r), SVt_PVGV);
    EXPECT_NE(r, as_sv(gv));
    EXPECT_EQ(gv_gp(sv_as<GV>(r))->gp_io, io);
    // An undefined value asked to vivify becomes a reference to a new glob.
    OP* viv = op(OP_RV2GV, OPf_WANT_SCALAR, OPpDEREF_SV);
    viv->op_targ = 0;
    SV* u = undef();
    r = call1(viv, {u});
    EXPECT_TRUE(u->flags & SVf_ROK);
    EXPECT_EQ(sv_rv(u), r);
    EXPECT_EQ(sv_type(r), SVt_PVGV);
    // With a name in the pad slot the new glob takes it.
    OP* named = op(OP_RV2GV, OPf_WANT_SCALAR, OPpDEREF_SV);
    sv_set_cstring(gcb, targ(named), "$fh2");
    SV* u2 = undef();
    r = call1(named, {u2});
    EXPECT_EQ(std::string(gv_body(sv_as<GV>(r))->name), "$fh2");
    EXPECT_EQ(str(call1(op(OP_GELEM), {r, pv("PACKAGE")})), "main");
    gcb->err.len = 0;
    call(op(OP_RV2GV), {ref_to(iv(1))});
    EXPECT_TRUE(died_with("Not a GLOB reference")) << err_text();
}

TEST_F(Ref, LexicalArraysAndHashes)
{
    AV* av = av_new_empty(gcb);
    av_append(gcb, av, iv(1));
    av_store_element(gcb, av, 2, iv(3));
    OP* list = op(OP_PADAV, OPf_WANT_LIST);
    sv_release(gcb, gcb->curpad[list->op_targ]);
    gcb->curpad[list->op_targ] = as_sv(av);
    EXPECT_EQ(texts(call(list, {})), "1,undef,3");
    OP* count = op(OP_PADAV, OPf_WANT_SCALAR);
    count->op_targ = list->op_targ;
    SV* n = call1(count, {});
    EXPECT_EQ(str(n), "3");
    EXPECT_TRUE(n->flags & SVs_TEMP);
    OP* ref = op(OP_PADAV, OPf_WANT_SCALAR | OPf_REF, OPpLVAL_INTRO);
    ref->op_targ = list->op_targ;
    int32_t saves = gcb->savestack_ix;
    EXPECT_EQ(call1(ref, {}), as_sv(av));
    EXPECT_GT(gcb->savestack_ix, saves);
    gcb->savestack_ix = saves;

    HV* hv = hv_new_empty(gcb);
    OP* hscalar = op(OP_PADHV, OPf_WANT_SCALAR);
    sv_release(gcb, gcb->curpad[hscalar->op_targ]);
    gcb->curpad[hscalar->op_targ] = as_sv(hv);
    SV* usage = call1(hscalar, {});
    EXPECT_EQ(str(usage), "0");
    EXPECT_TRUE(usage->flags & SVf_IOK);
    hv_store_str(gcb, hv, "k", 1, iv(5), 0);
    EXPECT_EQ(str(call1(hscalar, {})), "1/" + std::to_string(hv_body(hv)->max + 1));
    OP* hlist = op(OP_PADHV, OPf_WANT_LIST);
    hlist->op_targ = hscalar->op_targ;
    EXPECT_EQ(texts(call(hlist, {})), "k,5");
    OP* hvoid = op(OP_PADHV, OPf_WANT_VOID);
    hvoid->op_targ = hscalar->op_targ;
    EXPECT_EQ(call1(hvoid, {}), as_sv(hv));
}

TEST_F(Ref, StubAndPadany)
{
    EXPECT_EQ(call1(op(OP_STUB, OPf_WANT_SCALAR), {}), &gcb->sv_undef);
    EXPECT_TRUE(call(op(OP_STUB, OPf_WANT_LIST), {}).empty());
    EXPECT_TRUE(call(op(OP_STUB, OPf_WANT_VOID), {}).empty());
    gcb->err.len = 0;
    call(op(OP_PADANY), {});
    EXPECT_TRUE(died_with("NOT IMPL LINE 209")) << err_text();
}

TEST_F(Ref, ChopAndChompOps)
{
    OP* chop = op(OP_CHOP, OPf_WANT_SCALAR);
    SV* a = pv("ab");
    SV* b = pv("cd");
    SV* r = call1(chop, {a, b}, true);
    EXPECT_EQ(r, targ(chop));
    EXPECT_EQ(str(r), "d");
    EXPECT_EQ(str(a), "a");
    EXPECT_EQ(str(b), "c");
    EXPECT_EQ(str(call1(op(OP_SCHOP), {pv("xyz")})), "z");
    gcb->rs = pv("\n");
    OP* chomp = op(OP_CHOMP, OPf_WANT_SCALAR);
    EXPECT_EQ(str(call1(chomp, {pv("a\n"), pv("b"), pv("c\n")}, true)), "2");
    EXPECT_EQ(str(call1(op(OP_SCHOMP), {pv("q\n")})), "1");
    gcb->rs = nullptr;
}

TEST_F(Ref, SubDereferenceAndAnonymousSubs)
{
    CV* cv = sub("main::known", nullptr);
    EXPECT_EQ(call1(op(OP_RV2CV, OPf_WANT_SCALAR | OPf_SPECIAL), {pv("known")}), as_sv(cv));
    EXPECT_EQ(call1(op(OP_RV2CV, OPf_WANT_SCALAR | OPf_SPECIAL), {pv("unknown")}), &gcb->sv_undef);
    OP* anon = op(OP_ANONCODE);
    sv_release(gcb, gcb->curpad[anon->op_targ]);
    gcb->curpad[anon->op_targ] = sv_refinc(as_sv(cv));
    EXPECT_EQ(call1(anon, {}), as_sv(cv));
}

}  // namespace
