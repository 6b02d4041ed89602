// Setters, assignment, references and their release.
#include "fixture.h"

#include <climits>

#include "ds/src/prxav.h"
#include "ds/src/prxmg.h"

namespace {

using prxtest::Interp;
using SvSet = Interp;

constexpr uint32_t OKS = SVf_IOK | SVf_NOK | SVf_POK | SVf_ROK | SVp_IOK | SVp_NOK | SVp_POK | SVf_UTF8 | SVf_IsUV;

TEST_F(SvSet, SettersFollowTheirUpgradeRules)
{
    enum Setter { INT, DOUBLE, BYTES };
    struct Case {
        uint32_t from;
        Setter setter;
        uint32_t got;
        uint32_t oks;
    } cases[] = {
        {SVt_NULL, INT, SVt_IV, SVf_IOK | SVp_IOK},       {SVt_NULL, DOUBLE, SVt_NV, SVf_NOK | SVp_NOK},
        {SVt_NULL, BYTES, SVt_PV, SVf_POK | SVp_POK},     {SVt_IV, DOUBLE, SVt_PVNV, SVf_NOK | SVp_NOK},
        {SVt_IV, BYTES, SVt_PVIV, SVf_POK | SVp_POK},     {SVt_NV, INT, SVt_PVNV, SVf_IOK | SVp_IOK},
        {SVt_NV, BYTES, SVt_PVNV, SVf_POK | SVp_POK},     {SVt_PV, INT, SVt_PVIV, SVf_IOK | SVp_IOK},
        {SVt_PV, DOUBLE, SVt_PVNV, SVf_NOK | SVp_NOK},    {SVt_PVIV, DOUBLE, SVt_PVNV, SVf_NOK | SVp_NOK},
        {SVt_PVMG, INT, SVt_PVMG, SVf_IOK | SVp_IOK},     {SVt_PVLV, BYTES, SVt_PVLV, SVf_POK | SVp_POK},
    };
    for (const Case& c : cases) {
        SV* sv = sv_new_head(gcb);
        if (c.from != SVt_NULL)
            sv_upgrade_body(gcb, sv, c.from);
        sv->flags |= SVf_UTF8 | SVf_IsUV;     // cleared by every setter
        switch (c.setter) {
        case INT: sv_set_int(gcb, sv, -12); break;
        case DOUBLE: sv_set_double(gcb, sv, 2.5); break;
        case BYTES: sv_set_bytes(gcb, sv, "ab", 2); break;
        }
        EXPECT_EQ(sv_type(sv), c.got) << c.from << "/" << c.setter;
        EXPECT_EQ(sv->flags & OKS, c.oks) << c.from << "/" << c.setter;
    }
}

TEST_F(SvSet, SetterEdgeValues)
{
    SV* u = sv_new_head(gcb);
    sv_set_uint(gcb, u, UINT64_MAX);
    EXPECT_EQ(u->flags & OKS, SVf_IOK | SVp_IOK | SVf_IsUV);
    EXPECT_EQ(sv_uv(u), UINT64_MAX);

    struct TextCase {
        int64_t value;
        const char* text;
    } texts[] = {{INT64_MIN, "-9223372036854775808"}, {0, "0"}, {INT64_MAX, "9223372036854775807"}, {-5, "-5"}};
    for (const TextCase& t : texts) {
        SV* sv = sv_new_head(gcb);
        sv_set_int_text(gcb, sv, t.value);
        EXPECT_EQ(str(sv), t.text);
        EXPECT_EQ(sv->flags & OKS, SVf_POK | SVp_POK);
    }

    SV* n = sv_new_head(gcb);
    sv_set_bytes(gcb, n, nullptr, 4);
    EXPECT_EQ(sv_type(n), SVt_NULL);
    EXPECT_FALSE(sv_ok(n));

    SV* a = sv_new_from_int(gcb, 1);
    sv_adopt_buffer(gcb, a, nullptr, 0);
    EXPECT_EQ(sv_type(a), SVt_PVIV);
    EXPECT_FALSE(sv_ok(a));

    SV* b = sv_new_head(gcb);
    char* block = static_cast<char*>(pool_malloc(gcb, 3));
    std::memcpy(block, "xyz", 3);
    sv_adopt_buffer(gcb, b, block, 3);
    EXPECT_EQ(str(b), "xyz");
    EXPECT_EQ(sv_len(b), 4u);
    EXPECT_EQ(sv_pv(b)[3], 0);

    SV* c = sv_new_from_bytes(gcb, "abcdef", 6);
    sv_set_cstring(gcb, c, sv_pv(c) + 2);   // the value's own bytes
    EXPECT_EQ(str(c), "cdef");
}

TEST_F(SvSet, ReadOnlyValuesCanBeSetWhileCompiling)
{
    SV* sv = sv_new_from_int(gcb, 1);
    sv->flags |= SVf_READONLY;
    gcb->current_statement = gcb->compiling_statement;
    sv_set_int(gcb, sv, 2);
    sv_assign(gcb, sv, &gcb->sv_yes);
    EXPECT_EQ(str(sv), "1");
    sv_assign(gcb, sv, sv);   // self assignment does nothing, read-only or not
}

TEST_F(SvSet, AssignmentTakesTheBufferOfADyingTemporary)
{
    SV* src = sv_new_temporary(gcb);
    sv_set_bytes(gcb, src, "payload", 7);
    char* buf = sv_pv(src);
    SV* dst = sv_new_from_bytes(gcb, "old", 3);
    sv_assign(gcb, dst, src);
    EXPECT_EQ(sv_pv(dst), buf);
    EXPECT_EQ(str(dst), "payload");
    EXPECT_FALSE(dst->flags & SVs_TEMP);
    EXPECT_FALSE(sv_ok(src));
    EXPECT_EQ(sv_pv(src), nullptr);
    EXPECT_EQ(sv_len(src), 0u);
    EXPECT_FALSE(src->flags & SVs_TEMP);
}

TEST_F(SvSet, AssignmentCopiesOtherwise)
{
    // A temporary held twice, and one with an offset start, are copied.
    SV* twice = sv_new_temporary(gcb);
    sv_set_bytes(gcb, twice, "shared", 6);
    twice->refcnt = 2;
    SV* d1 = sv_new_head(gcb);
    sv_assign(gcb, d1, twice);
    EXPECT_NE(sv_pv(d1), sv_pv(twice));
    EXPECT_EQ(str(twice), "shared");

    SV* ook = sv_new_temporary(gcb);
    sv_set_bytes(gcb, ook, "xxtail", 6);
    sv_chop_front(gcb, ook, sv_pv(ook) + 2);
    SV* d2 = sv_new_head(gcb);
    sv_assign(gcb, d2, ook);
    EXPECT_EQ(str(d2), "tail");
    EXPECT_EQ(str(ook), "tail");
    EXPECT_NE(sv_pv(d2), sv_pv(ook));
}

TEST_F(SvSet, AssignmentCarriesFlags)
{
    struct Case {
        const char* what;
        uint32_t extra;     // flags set on the source besides its datum
        bool string;        // the source holds a string
        bool pnok;          // and a private double
        uint32_t want;      // value flags of the destination
    } cases[] = {
        {"utf8 string", SVf_UTF8, true, false, SVf_POK | SVp_POK | SVf_UTF8},
        {"number only privately integer", 0, false, true, SVf_NOK | SVp_NOK},
        {"number with public integer", SVf_IOK | SVp_IOK, false, true, SVf_NOK | SVp_NOK | SVf_IOK | SVp_IOK},
        {"string and number", SVf_NOK, true, true, SVf_POK | SVp_POK | SVf_NOK | SVp_NOK | SVf_IOK | SVp_IOK},
    };
    for (const Case& c : cases) {
        SV* src = sv_new_head(gcb);
        sv_upgrade_body(gcb, src, SVt_PVNV);
        if (c.string)
            sv_set_bytes(gcb, src, "12", 2);
        if (c.pnok) {
            sv_nv(src) = 12.0;
            sv_iv(src) = 12;
            src->flags |= SVp_NOK | SVp_IOK;
            if (!c.string)
                src->flags |= SVf_NOK;
        }
        src->flags |= c.extra;
        SV* dst = sv_new_from_bytes(gcb, "was", 3);
        dst->flags |= SVf_UTF8;
        sv_assign(gcb, dst, src);
        EXPECT_EQ(dst->flags & OKS, c.want) << c.what;
    }
    // Numbers clear UTF8.
    SV* d = sv_new_from_bytes(gcb, "\xC3\xA9", 2);
    d->flags |= SVf_UTF8;
    SV* num = sv_new_from_int(gcb, 7);
    sv_assign(gcb, d, num);
    EXPECT_EQ(d->flags & OKS, SVf_IOK | SVp_IOK);
    EXPECT_EQ(sv_iv(d), 7);
}

TEST_F(SvSet, AssigningUndefAndNull)
{
    SV* dst = sv_new_from_int(gcb, 5);
    sv_assign(gcb, dst, nullptr);
    EXPECT_FALSE(sv_ok(dst));
    SV* d2 = sv_new_from_bytes(gcb, "x", 1);
    sv_assign(gcb, d2, &gcb->sv_undef);
    EXPECT_FALSE(sv_ok(d2));
}

TEST_F(SvSet, ReferencesCountTheirReferent)
{
    SV* target = sv_new_from_int(gcb, 1);
    SV* ref = sv_new_reference(gcb, target);
    EXPECT_EQ(target->refcnt, 2u);
    EXPECT_EQ(sv_rv(ref), target);
    SV* copy = sv_new_head(gcb);
    sv_assign(gcb, copy, ref);
    EXPECT_TRUE(copy->flags & SVf_ROK);
    EXPECT_EQ(target->refcnt, 3u);
    // A setter drops the reference; the referent is released once.
    sv_set_int(gcb, copy, 4);
    EXPECT_EQ(target->refcnt, 2u);
    EXPECT_FALSE(copy->flags & SVf_ROK);
    sv_release(gcb, ref);
    EXPECT_EQ(target->refcnt, 1u);
}

TEST_F(SvSet, DroppingTheLastReferenceDefersTheReferent)
{
    SV* target = sv_new_from_bytes(gcb, "t", 1);
    SV* ref = sv_new_reference(gcb, target);
    sv_release(gcb, target);   // ref now holds the only count
    int32_t ix = gcb->temps_ix;
    sv_set_int(gcb, ref, 0);
    EXPECT_EQ(gcb->temps_ix, ix + 1);
    EXPECT_EQ(gcb->temps[gcb->temps_ix], target);
    EXPECT_TRUE(target->flags & SVs_TEMP);
    EXPECT_EQ(target->refcnt, 1u);
}

// A referent with a back-reference list and two weak references to it.
struct WeakPair {
    SV* referent;
    SV* w1;
    SV* w2;
    AV* list;
};

WeakPair make_weak_pair(PERLGCB* gcb)
{
    WeakPair p{};
    p.referent = sv_new_from_int(gcb, 11);
    p.list = sv_as<AV>(sv_new_head(gcb));
    sv_upgrade_body(gcb, as_sv(p.list), SVt_PVAV);
    PVAV* b = av_body(p.list);
    b->alloc = b->array = static_cast<SV**>(pool_malloc(gcb, 4 * sizeof(SV*)));
    b->max = 3;
    auto weak = [&] {
        SV* w = sv_new_head(gcb);
        sv_upgrade_body(gcb, w, SVt_RV);
        sv_rv(w) = p.referent;
        w->flags |= SVf_ROK | SVf_WEAKREF;
        return w;
    };
    p.w1 = weak();
    p.w2 = weak();
    b->array[0] = p.w1;
    b->array[1] = p.w2;
    b->array[2] = p.w1;
    b->fill = 2;
    sv_add_magic(gcb, p.referent, as_sv(p.list), '<', nullptr, 0);
    return p;
}

TEST_F(SvSet, WeakReferencesLeaveTheirListOnRelease)
{
    WeakPair p = make_weak_pair(gcb);
    EXPECT_EQ(p.referent->refcnt, 1u);
    sv_release(gcb, p.w1);
    SV** a = av_body(p.list)->array;
    EXPECT_EQ(av_body(p.list)->fill, 2);
    EXPECT_EQ(a[0], &gcb->sv_undef);
    EXPECT_EQ(a[1], p.w2);
    EXPECT_EQ(a[2], &gcb->sv_undef);
    EXPECT_EQ(p.referent->refcnt, 1u);
}

TEST_F(SvSet, ModifyCheckDropsAWeakReference)
{
    WeakPair p = make_weak_pair(gcb);
    sv_set_bytes(gcb, p.w2, "plain", 5);
    EXPECT_FALSE(p.w2->flags & (SVf_ROK | SVf_WEAKREF));
    EXPECT_EQ(str(p.w2), "plain");
    EXPECT_EQ(av_body(p.list)->array[1], &gcb->sv_undef);
    EXPECT_EQ(av_body(p.list)->array[0], p.w1);
    EXPECT_EQ(p.referent->refcnt, 1u);
}

TEST_F(SvSet, ImmortalsSurviveEveryRelease)
{
    for (SV* imm : {&gcb->sv_undef, &gcb->sv_yes, &gcb->sv_no}) {
        imm->refcnt = 2;
        sv_release(gcb, imm);
        sv_release(gcb, imm);
        EXPECT_EQ(imm->refcnt, 0x7FFFFFFFu);
        imm->refcnt = 0;
        sv_release(gcb, imm);
        EXPECT_EQ(imm->refcnt, 0x7FFFFFFFu);
        EXPECT_NE(imm->flags & 0xFF, SVt_FREED);
    }
    EXPECT_EQ(err_raw(), "");
}

TEST_F(SvSet, ReplaceMovesTheBodyAndFreesTheNewHead)
{
    SV* sv = sv_new_from_bytes(gcb, "old", 3);
    sv->refcnt = 3;
    SV* nsv = sv_new_from_int(gcb, 99);
    uint32_t live = gcb->sv_live_count;
    sv_replace(gcb, sv, nsv);
    EXPECT_EQ(sv->refcnt, 3u);
    EXPECT_EQ(sv_type(sv), SVt_IV);
    EXPECT_EQ(sv_iv(sv), 99);
    EXPECT_EQ(nsv->flags, SVt_FREED);
    EXPECT_EQ(gcb->sv_live_count, live - 1);
}

}  // namespace
