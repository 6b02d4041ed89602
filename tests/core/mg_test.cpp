// Magic: the letters and their method tables, flag computation, look-up by
// letter, element magic and freeing.
#include <string>
#include <vector>

#include "core/agg_fixture.h"

namespace {

using prxtest::Agg;

class Magic : public Agg {};

TEST_F(Magic, EveryLetterMapsToItsTable)
{
    const std::string letters = std::string(1, '\0') + "EeSsPpqlIi#*gktxv.BfUyrDdAa<";
    for (char letter : letters) {
        SV* sv = pv("x");
        ASSERT_EQ(run([&] { sv_add_magic(gcb, sv, nullptr, letter, nullptr, 0); }), 0) << err_text();
        MAGIC* mg = mg_find_by_type(gcb, sv, letter);
        ASSERT_NE(mg, nullptr) << int(letter);
        int32_t row = mg_table_row_for_type(letter);
        ASSERT_GE(row, 0) << int(letter);
        EXPECT_EQ(mg->virt, &gcb->magic_vtbl[row]) << int(letter);
    }
    for (char letter : std::string("L~c")) {
        SV* sv = pv("x");
        ASSERT_EQ(run([&] { sv_add_magic(gcb, sv, nullptr, letter, nullptr, 0); }), 0) << err_text();
        MAGIC* mg = mg_find_by_type(gcb, sv, letter);
        ASSERT_NE(mg, nullptr) << letter;
        EXPECT_EQ(mg->virt, nullptr) << letter;
        EXPECT_EQ(mg_table_row_for_type(letter), MG_ROW_NONE);
    }
    for (char letter : std::string("QzZ!")) {
        gcb->err.len = 0;
        SV* sv = pv("x");
        EXPECT_EQ(run([&] { sv_add_magic(gcb, sv, nullptr, letter, nullptr, 0); }), 2);
        EXPECT_EQ(err_text(), std::string("Don't know how to handle magic of type '") + letter + "'.\n");
        EXPECT_EQ(mg_table_row_for_type(letter), MG_ROW_UNKNOWN);
    }
}

TEST_F(Magic, FlagsFollowTheChainInOrder)
{
    struct Case {
        std::string letters;  // attached in this order (the last is first in the chain)
        uint32_t flags;
    } cases[] = {
        {"<", SVs_RMG},                      // only a free method
        {std::string(1, '\0'), SVs_GMG | SVs_SMG},
        {"e", SVs_SMG | SVs_RMG},            // a clear method
        {"S", SVs_RMG},                      // a table with no methods
        {"c", 0},                            // no table
    };
    for (const Case& c : cases) {
        SV* sv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, sv, SVt_PVMG);
        for (char letter : c.letters)
            ASSERT_EQ(run([&] { sv_add_magic(gcb, sv, nullptr, letter, nullptr, 0); }), 0) << err_text();
        EXPECT_EQ(sv->flags & SVs_MAGICAL, c.flags) << c.letters;
    }
    // A record with only a free method first, then a get method: RMG, then GMG.
    SV* sv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, sv, SVt_PVMG);
    ASSERT_EQ(run([&] {
                  sv_add_magic(gcb, sv, nullptr, '.', nullptr, 0);
                  sv_add_magic(gcb, sv, nullptr, 'r', nullptr, 0);
              }),
              0);
    sv->flags &= ~SVs_MAGICAL;
    EXPECT_EQ(mg_update_flags(gcb, sv) & SVs_MAGICAL, SVs_GMG | SVs_SMG | SVs_RMG);
}

TEST_F(Magic, UpdateNeverClearsAndGskipHidesGet)
{
    SV* sv = pv("v");
    ASSERT_EQ(run([&] { sv_add_magic(gcb, sv, nullptr, 'U', nullptr, 0); }), 0);
    MAGIC* mg = mg_find_by_type(gcb, sv, 'U');
    mg->mgflags |= MGf_GSKIP;
    sv->flags &= ~SVs_MAGICAL;
    mg_update_flags(gcb, sv);
    EXPECT_EQ(sv->flags & SVs_MAGICAL, SVs_SMG);
    sv->flags |= SVs_GMG;
    mg_update_flags(gcb, sv);
    EXPECT_TRUE(sv->flags & SVs_GMG);
}

TEST_F(Magic, CopyToElementGivesLowerCaseMagic)
{
    // A tied hash whose record has no object: the element's object is a
    // temporary reference to the hash.
    HV* hv = hv_new_empty(gcb);
    sv_add_magic(gcb, as_sv(hv), nullptr, 'P', nullptr, 0);
    sv_add_magic(gcb, as_sv(hv), nullptr, 'k', nullptr, 0);  // lower case: not copied
    SV* elem = sv_new_undef(gcb, 0);
    EXPECT_EQ(mg_copy_to_element(gcb, as_sv(hv), elem, "key", 3), 1);
    MAGIC* mg = mg_find_by_type(gcb, elem, 'p');
    ASSERT_NE(mg, nullptr);
    EXPECT_STREQ(mg->ptr, "key");
    EXPECT_EQ(mg->len, 3);
    ASSERT_TRUE(mg->obj->flags & SVf_ROK);
    EXPECT_EQ(sv_rv(mg->obj), as_sv(hv));
    EXPECT_TRUE(mg->obj->flags & SVs_TEMP);
    EXPECT_EQ(mg_find_by_type(gcb, elem, 'k'), nullptr);

    // A tie object is passed on; the offsets array @+ passes itself.
    SV* obj = pv("object");
    HV* tied = hv_new_empty(gcb);
    sv_add_magic(gcb, as_sv(tied), obj, 'P', nullptr, 0);
    SV* e2 = sv_new_undef(gcb, 0);
    mg_copy_to_element(gcb, as_sv(tied), e2, nullptr, 7);
    EXPECT_EQ(mg_find_by_type(gcb, e2, 'p')->obj, obj);
    EXPECT_EQ(mg_find_by_type(gcb, e2, 'p')->len, 7);
    AV* plus = av_new_empty(gcb);
    sv_add_magic(gcb, as_sv(plus), as_sv(plus), 'D', nullptr, 0);
    SV* e3 = sv_new_undef(gcb, 0);
    mg_copy_to_element(gcb, as_sv(plus), e3, nullptr, 2);
    EXPECT_EQ(mg_find_by_type(gcb, e3, 'd')->obj, as_sv(plus));
    AV* minus = av_new_empty(gcb);
    sv_add_magic(gcb, as_sv(minus), nullptr, 'D', nullptr, 0);
    SV* e4 = sv_new_undef(gcb, 0);
    mg_copy_to_element(gcb, as_sv(minus), e4, nullptr, 2);
    EXPECT_EQ(mg_find_by_type(gcb, e4, 'd')->obj, nullptr);
}

TEST_F(Magic, FreeingTheChainReleasesWhatItHolds)
{
    SV* sv = pv("v");
    SV* obj = pv("obj");
    SV* key = pv("key");
    sv_add_magic(gcb, sv, obj, 'q', reinterpret_cast<const char*>(key), -2);
    sv_add_magic(gcb, sv, nullptr, 'g', nullptr, 0);
    EXPECT_EQ(obj->refcnt, 2u);
    EXPECT_EQ(key->refcnt, 2u);
    mg_free_chain(gcb, sv);
    EXPECT_EQ(sv_magic_chain(sv), nullptr);
    EXPECT_EQ(obj->refcnt, 1u);
    EXPECT_EQ(key->refcnt, 1u);
    EXPECT_EQ(mg_find_by_type(gcb, pv("plain"), 'g'), nullptr);
    EXPECT_EQ(mg_find_by_type(gcb, nullptr, 'g'), nullptr);
}

TEST_F(Magic, ElementCountOfPlainValues)
{
    AV* av = av_new_empty(gcb);
    av_append(gcb, av, iv(1));
    EXPECT_EQ(mg_element_count(gcb, as_sv(av)), 0);
    EXPECT_EQ(run([&] { mg_element_count(gcb, as_sv(hv_new_empty(gcb))); }), 2);
    EXPECT_EQ(err_text(), "Size magic not implemented.\n");
}

// Weak references are listed in the referent's back-reference array;
// freeing the referent clears them.
class WeakRef : public Agg {
protected:
    // A weak reference to target, listed in its back-reference array.
    SV* weaken(SV* target)
    {
        SV* ref = sv_new_reference(gcb, target);
        ref->flags |= SVf_WEAKREF;
        target->refcnt--;
        MAGIC* mg = mg_find_by_type(gcb, target, '<');
        AV* list;
        if (mg) {
            list = sv_as<AV>(mg->obj);
        } else {
            list = av_new_empty(gcb);
            sv_add_magic(gcb, target, as_sv(list), '<', nullptr, 0);
            sv_release(gcb, as_sv(list));
        }
        av_append(gcb, list, ref);  // the list does not count its weak references
        return ref;
    }
};

TEST_F(WeakRef, ClearedWhenTheReferentDies)
{
    SV* target = pv("target");
    SV* w1 = weaken(target);
    SV* w2 = weaken(target);
    EXPECT_EQ(target->refcnt, 1u);
    EXPECT_TRUE(target->flags & SVs_RMG);
    EXPECT_FALSE(target->flags & (SVs_GMG | SVs_SMG));
    ASSERT_EQ(run([&] { sv_release(gcb, target); }), 0) << err_text();
    for (SV* w : {w1, w2}) {
        EXPECT_FALSE(w->flags & (SVf_ROK | SVf_WEAKREF));
        EXPECT_FALSE(w->flags & SVf_OK_ANY);
        EXPECT_EQ(sv_rv(w), nullptr);
    }
}

TEST_F(WeakRef, ASlotThatIsNoWeakReferenceIsAFault)
{
    SV* target = pv("target");
    weaken(target);
    AV* list = sv_as<AV>(mg_find_by_type(gcb, target, '<')->obj);
    av_append(gcb, list, pv("stray"));
    MAGIC* mg = mg_find_by_type(gcb, target, '<');
    EXPECT_EQ(run([&] { magic_killbackrefs(gcb, target, mg); }), 2);
    EXPECT_EQ(err_text(), "panic: magic_killbackrefs.\n");
}

}  // namespace
