// Lvalue and bookkeeping magic, called as the dispatcher calls them:
// substr, pos, $#array, keys, deferred elements, globs as scalars, the
// match offsets @- and @+, and the caches that stores reset.
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "ds/src/prxop.h"

namespace {

using prxtest::Stacks;

class Lvalue : public Stacks {
protected:
    // A PVLV standing for part of target, with magic of the letter.
    SV* lvalue(SV* target, char letter, uint64_t off, uint64_t len)
    {
        SV* lv = part_of(target, letter, off, len);
        sv_add_magic(gcb, lv, nullptr, letter, nullptr, 0);
        lv->flags &= ~SVs_MAGICAL;  // plain, as while its methods run
        return lv;
    }
    MAGIC* mg(SV* sv, char letter) { return mg_find_by_type(gcb, sv, letter); }
    PVLV* lvb(SV* sv) { return static_cast<PVLV*>(sv->any); }
    std::string text(SV* sv) { return (sv->flags & SVf_OK_ANY) ? str(sv) : "<undef>"; }
};

TEST_F(Lvalue, Substr)
{
    SV* target = pv("Hello");
    SV* lv = lvalue(target, 'x', 1, 3);
    magic_substr_get(gcb, lv, mg(lv, 'x'));
    EXPECT_EQ(str(lv), "ell");
    SV* beyond = lvalue(target, 'x', 9, 2);  // offset cut to the length
    magic_substr_get(gcb, beyond, mg(beyond, 'x'));
    EXPECT_EQ(str(beyond), "");
    SV* tail = lvalue(target, 'x', 3, 10);  // length cut to what remains
    magic_substr_get(gcb, tail, mg(tail, 'x'));
    EXPECT_EQ(str(tail), "lo");
    sv_set_cstring(gcb, lv, "ipp");
    magic_substr_set(gcb, lv, mg(lv, 'x'));
    EXPECT_EQ(str(target), "Hippo");
    sv_set_cstring(gcb, lv, "");
    magic_substr_set(gcb, lv, mg(lv, 'x'));
    EXPECT_EQ(str(target), "Ho");
}

TEST_F(Lvalue, Pos)
{
    SV* target = pv("abc");
    SV* lv = lvalue(target, '.', 0, 0);
    magic_pos_get(gcb, lv, mg(lv, '.'));
    EXPECT_EQ(text(lv), "<undef>");
    // Setting undef without a position does not even make the record.
    sv_assign(gcb, lv, &gcb->sv_undef);
    magic_pos_set(gcb, lv, mg(lv, '.'));
    EXPECT_EQ(mg_find_by_type(gcb, target, 'g'), nullptr);
    struct Case {
        int64_t stored;
        int32_t offset;
    } cases[] = {{-1, 2}, {99, 3}, {1, 1}, {-7, 0}};
    for (const Case& c : cases) {
        sv_set_int(gcb, lv, c.stored);
        magic_pos_set(gcb, lv, mg(lv, '.'));
        MAGIC* g = mg_find_by_type(gcb, target, 'g');
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->len, c.offset) << c.stored;
        EXPECT_FALSE(g->mgflags & MGf_MINMATCH);
        magic_pos_get(gcb, lv, mg(lv, '.'));
        EXPECT_EQ(sv_to_int(gcb, lv), c.offset);
    }
    mg_find_by_type(gcb, target, 'g')->mgflags |= MGf_MINMATCH;
    sv_assign(gcb, lv, &gcb->sv_undef);
    magic_pos_set(gcb, lv, mg(lv, '.'));
    EXPECT_EQ(mg_find_by_type(gcb, target, 'g')->len, -1);
    magic_pos_get(gcb, lv, mg(lv, '.'));
    EXPECT_EQ(text(lv), "<undef>");
    // The array base counts.
    gcb->current_statement->cop_arybase = 1;
    sv_set_int(gcb, lv, 2);
    magic_pos_set(gcb, lv, mg(lv, '.'));
    EXPECT_EQ(mg_find_by_type(gcb, target, 'g')->len, 1);
    magic_pos_get(gcb, lv, mg(lv, '.'));
    EXPECT_EQ(sv_to_int(gcb, lv), 2);
}

TEST_F(Lvalue, ArrayLength)
{
    AV* av = av_new_empty(gcb);
    for (int i = 0; i < 3; i++)
        av_append(gcb, av, iv(i));
    SV* len = sv_new_undef(gcb, 0);
    sv_add_magic(gcb, len, as_sv(av), '#', nullptr, 0);
    len->flags &= ~SVs_MAGICAL;
    EXPECT_EQ(av->refcnt, 1u);  // the arylen record does not count the array
    magic_arylen_get(gcb, len, mg(len, '#'));
    EXPECT_EQ(sv_to_int(gcb, len), 2);
    gcb->current_statement->cop_arybase = 1;
    magic_arylen_get(gcb, len, mg(len, '#'));
    EXPECT_EQ(sv_to_int(gcb, len), 3);
    sv_set_int(gcb, len, 1);  // with base 1: highest index 0
    magic_arylen_set(gcb, len, mg(len, '#'));
    EXPECT_EQ(av_highest_index(gcb, av), 0);
}

TEST_F(Lvalue, KeysCountsAndPresizes)
{
    HV* hv = hv_new_empty(gcb);
    hv_store_str(gcb, hv, "a", 1, iv(1), 0);
    hv_store_str(gcb, hv, "b", 1, iv(2), 0);
    SV* lv = lvalue(as_sv(hv), 'k', 0, 0);
    magic_nkeys_get(gcb, lv, mg(lv, 'k'));
    EXPECT_EQ(sv_to_int(gcb, lv), 2);
    sv_set_int(gcb, lv, 100);
    magic_nkeys_set(gcb, lv, mg(lv, 'k'));
    EXPECT_EQ(hv_body(hv)->max, 127u);
    EXPECT_EQ(hv_body(hv)->keys, 2);
    SV* none = lvalue(nullptr, 'k', 0, 0);
    magic_nkeys_get(gcb, none, mg(none, 'k'));
    EXPECT_EQ(sv_to_int(gcb, none), 0);
}

TEST_F(Lvalue, DeferredArrayElements)
{
    AV* av = av_new_empty(gcb);
    av_append(gcb, av, iv(0));
    // Beyond the end of an array that must not be extended: reads undef and
    // stores nowhere.
    SV* fixed = lvalue(as_sv(av), 'y', 5, static_cast<uint64_t>(-1));
    magic_defelem_get(gcb, fixed, mg(fixed, 'y'));
    EXPECT_EQ(text(fixed), "<undef>");
    sv_set_int(gcb, fixed, 7);
    ASSERT_EQ(run([&] { magic_defelem_set(gcb, fixed, mg(fixed, 'y')); }), 0) << err_text();
    EXPECT_EQ(lvb(fixed)->targ, nullptr);
    EXPECT_EQ(av_highest_index(gcb, av), 0);
    EXPECT_EQ(av->refcnt, 1u);  // the old target was let go
    // An extensible element is made on store.
    SV* open = lvalue(as_sv(av), 'y', 3, 1);
    sv_set_int(gcb, open, 9);
    ASSERT_EQ(run([&] { magic_defelem_set(gcb, open, mg(open, 'y')); }), 0) << err_text();
    EXPECT_EQ(av_highest_index(gcb, av), 3);
    EXPECT_EQ(sv_to_int(gcb, *av_fetch_element(gcb, av, 3, 0)), 9);
    EXPECT_EQ(lvb(open)->targlen, 0u);
    // An element that appeared meanwhile becomes the target on read.
    SV* late = lvalue(as_sv(av), 'y', 4, 1);
    av_store_element(gcb, av, 4, pv("here"));
    magic_defelem_get(gcb, late, mg(late, 'y'));
    EXPECT_EQ(str(late), "here");
    EXPECT_EQ(lvb(late)->targlen, 0u);
    EXPECT_EQ(lvb(late)->targ, *av_fetch_element(gcb, av, 4, 0));
}

TEST_F(Lvalue, DeferredHashElements)
{
    HV* hv = hv_new_empty(gcb);
    SV* key = pv("k");
    SV* lv = lvalue(as_sv(hv), 'y', 0, 1);
    MAGIC* y = mg(lv, 'y');
    y->obj = sv_refinc(key);
    y->mgflags |= MGf_REFCOUNTED;
    magic_defelem_get(gcb, lv, y);
    EXPECT_EQ(text(lv), "<undef>");
    magic_create_deferred_element(gcb, lv);
    ASSERT_NE(hv_fetch_str(gcb, hv, "k", 1, 0), nullptr);
    EXPECT_EQ(y->obj, nullptr);
    EXPECT_FALSE(y->mgflags & MGf_REFCOUNTED);
    EXPECT_EQ(key->refcnt, 1u);
    EXPECT_EQ(lvb(lv)->targ, *hv_fetch_str(gcb, hv, "k", 1, 0));
}

TEST_F(Lvalue, NonCreatableElements)
{
    // A key whose hash value is the undefined placeholder gives no element.
    HV* hv = hv_new_empty(gcb);
    hv_store_str(gcb, hv, "nope", 4, &gcb->sv_undef, 0);
    SV* lv = lvalue(as_sv(hv), 'y', 0, 1);
    MAGIC* y = mg(lv, 'y');
    y->obj = pv("nope");
    y->mgflags |= MGf_REFCOUNTED;
    EXPECT_EQ(run([&] { magic_create_deferred_element(gcb, lv); }), 2);
    EXPECT_EQ(err_text(), "Modification of non-creatable hash value attempted, subscript \"nope\".\n");
    // An index still negative after counting from the end gives none.
    gcb->err.len = 0;
    AV* av = av_new_empty(gcb);
    av_append(gcb, av, iv(1));
    SV* alv = lvalue(as_sv(av), 'y', static_cast<uint64_t>(-5), 1);
    EXPECT_EQ(run([&] { magic_create_deferred_element(gcb, alv); }), 2);
    EXPECT_EQ(err_text(), "Modification of non-creatable array value attempted, subscript -5.\n");
}

TEST_F(Lvalue, GlobsAsScalars)
{
    GV* gv = gv_fetch_by_name(gcb, "Pk::glob", GV_ADD, SVt_PV);
    SV* sv = as_sv(gv);
    MAGIC* star = mg(sv, '*');
    sv->flags &= ~SVs_MAGICAL;
    magic_glob_get(gcb, sv, star);
    EXPECT_EQ(std::string(sv_pv(sv), sv_cur(sv)), "*Pk::glob");
    // Assigning a glob's name makes this glob share that glob's body.
    GV* other = gv_fetch_by_name(gcb, "other", GV_ADD, SVt_PV);
    sv_set_cstring(gcb, sv, "*other");
    magic_glob_set(gcb, sv, star);
    EXPECT_EQ(gv_gp(gv), gv_gp(other));
    EXPECT_EQ(gv_gp(other)->gp_refcnt, 2u);
}

class Bookkeeping : public Lvalue {
protected:
    std::vector<int32_t> starts{0, -1, 1}, ends{2, -1, 2};
    re_compiled rx{};
    op_pattern pm{};
    void matched()
    {
        rx.start_offsets = starts.data();
        rx.end_offsets = ends.data();
        rx.group_count = 2;
        rx.last_group = 2;
        pm.op_pmregexp = &rx;
        gcb->last_match_op = &pm.op;
    }
};

TEST_F(Bookkeeping, MatchOffsets)
{
    AV* plus = av_new_empty(gcb);
    sv_add_magic(gcb, as_sv(plus), as_sv(plus), 'D', nullptr, 0);
    AV* minus = av_new_empty(gcb);
    sv_add_magic(gcb, as_sv(minus), nullptr, 'D', nullptr, 0);
    // Before any match both are empty; the length magic gives the highest index.
    MAGIC* dp = mg(as_sv(plus), 'D');
    MAGIC* dm = mg(as_sv(minus), 'D');
    EXPECT_EQ(static_cast<int32_t>(magic_matchoffsets_len(gcb, as_sv(plus), dp)), -1);
    EXPECT_EQ(static_cast<int32_t>(magic_matchoffsets_len(gcb, as_sv(minus), dm)), -1);
    // "abc" =~ /(x)?(b)/: group 1 did not take part.
    matched();
    EXPECT_EQ(magic_matchoffsets_len(gcb, as_sv(plus), dp), 2u);   // the group count
    EXPECT_EQ(magic_matchoffsets_len(gcb, as_sv(minus), dm), 2u);  // the last group
    // Through the dispatcher: $#+ and $#-, and the elements by their get magic.
    EXPECT_EQ(av_highest_index(gcb, plus), 2);
    EXPECT_EQ(av_highest_index(gcb, minus), 2);
    SV* minus1 = *av_fetch_element(gcb, minus, 1, 0);
    ASSERT_EQ(run([&] { mg_call_get(gcb, minus1); }), 0) << err_text();
    EXPECT_FALSE(minus1->flags & SVf_OK_ANY);  // group 1 did not take part: left undef
    SV* plus2 = *av_fetch_element(gcb, plus, 2, 0);
    ASSERT_EQ(run([&] { mg_call_get(gcb, plus2); }), 0) << err_text();
    EXPECT_EQ(sv_to_int(gcb, plus2), 2);
    struct Case {
        AV* av;
        int32_t index;
        const char* value;
    } cases[] = {{plus, 0, "2"}, {minus, 0, "0"}, {plus, 2, "2"}, {minus, 2, "1"}, {minus, 1, "<undef>"}};
    for (const Case& c : cases) {
        SV** svp = av_fetch_element(gcb, c.av, c.index, 0);
        ASSERT_NE(svp, nullptr);
        SV* elem = *svp;
        MAGIC* d = mg(elem, 'd');
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->len, c.index);
        elem->flags &= ~SVs_MAGICAL;
        magic_matchoffsetitem_get(gcb, elem, d);
        EXPECT_EQ(text(elem), c.value) << c.index;
    }
    SV* elem = *av_fetch_element(gcb, plus, 0, 0);
    EXPECT_EQ(run([&] { magic_matchoffsetitem_set(gcb, elem, mg(elem, 'd')); }), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

TEST_F(Bookkeeping, CountersAndResets)
{
    uint32_t gen = gcb->method_cache_generation;
    magic_isa_set(gcb, nullptr, nullptr);
    EXPECT_EQ(gcb->method_cache_generation, gen + 1);
    uint32_t ogen = gcb->overload_generation;
    magic_amagic_set(gcb, nullptr, nullptr);
    EXPECT_EQ(gcb->overload_generation, ogen + 1);

    // A store forgets the match position.
    SV* s = pv("abc");
    sv_add_magic(gcb, s, nullptr, 'g', nullptr, 0);
    MAGIC* g = mg(s, 'g');
    g->len = 2;
    s->flags |= SVp_SCREAM;
    magic_mglob_set(gcb, s, g);
    EXPECT_EQ(g->len, -1);
    EXPECT_FALSE(s->flags & SVp_SCREAM);

    // A compiled constant loses its tables.
    SV* bm = pv("needle");
    sv_add_magic(gcb, bm, nullptr, 'B', nullptr, 0);
    bm->flags |= SVf_VALID;
    magic_bm_set(gcb, bm, mg(bm, 'B'));
    EXPECT_EQ(mg(bm, 'B'), nullptr);
    EXPECT_FALSE(bm->flags & SVf_VALID);
    SV* fm = pv("picture");
    sv_add_magic(gcb, fm, nullptr, 'f', nullptr, 0);
    fm->flags |= SVf_COMPILED;
    magic_fm_set(gcb, fm, mg(fm, 'f'));
    EXPECT_EQ(mg(fm, 'f'), nullptr);
    EXPECT_FALSE(fm->flags & SVf_COMPILED);
}

TEST_F(Bookkeeping, Taint)
{
    SV* sv = pv("t");
    sv_add_magic(gcb, sv, nullptr, 't', nullptr, 0);
    MAGIC* t = mg(sv, 't');
    EXPECT_EQ(t->len, 1);
    gcb->tainted = 0;
    magic_taint_get(gcb, sv, t);
    EXPECT_EQ(gcb->tainted, 1);
    gcb->tainted = 0;
    magic_taint_set(gcb, sv, t);
    EXPECT_EQ(t->len, 0);
    gcb->tainted = 1;
    magic_taint_set(gcb, sv, t);
    EXPECT_EQ(t->len, 1);
    gcb->localizing = 1;
    magic_taint_set(gcb, sv, t);
    EXPECT_EQ(t->len, 2);
    gcb->localizing = 2;
    magic_taint_set(gcb, sv, t);
    EXPECT_EQ(t->len, 1);
    gcb->localizing = 0;
}

int g_uvar_gets = 0;
int64_t g_uvar_index = 0;
int32_t uvar_get(int64_t index, SV*)
{
    g_uvar_gets++;
    g_uvar_index = index;
    return 0;
}

TEST_F(Bookkeeping, UserCallbacks)
{
    magic_uvar_record rec{uvar_get, nullptr, 77};
    SV* sv = pv("u");
    sv_add_magic(gcb, sv, nullptr, 'U', reinterpret_cast<const char*>(&rec), sizeof rec);
    MAGIC* u = mg(sv, 'U');
    g_uvar_gets = 0;
    magic_uvar_get(gcb, sv, u);
    magic_uvar_set(gcb, sv, u);  // no set callback: nothing
    EXPECT_EQ(g_uvar_gets, 1);
    EXPECT_EQ(g_uvar_index, 77);
}

}  // namespace
