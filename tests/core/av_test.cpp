// Arrays: growth with the movable start, element fetch and store with
// negative indexes, push, pop, shift, unshift, delete, exists, clearing and
// freeing; pseudo-hashes.
#include <functional>
#include <string>
#include <vector>

#include "core/agg_fixture.h"

namespace {

using prxtest::Agg;

class Array : public Agg {
protected:
    AV* av = nullptr;
    void SetUp() override
    {
        Agg::SetUp();
        av = av_new_empty(gcb);
    }
    PVAV* body() { return av_body(av); }
    AV* of(std::initializer_list<int> values)
    {
        AV* a = av_new_empty(gcb);
        for (int v : values)
            av_append(gcb, a, iv(v));
        return a;
    }
    int64_t at(AV* a, int32_t i)
    {
        SV** svp = av_fetch_element(gcb, a, i, 0);
        return svp ? sv_to_int(gcb, *svp) : -999;
    }
};

TEST_F(Array, NewArrayHasNoStorage)
{
    EXPECT_EQ(sv_type(as_sv(av)), SVt_PVAV);
    EXPECT_EQ(body()->avflags, AVf_REAL);
    EXPECT_EQ(body()->fill, -1);
    EXPECT_EQ(body()->max, -1);
    EXPECT_EQ(body()->alloc, nullptr);
    EXPECT_EQ(av_highest_index(gcb, av), -1);
}

TEST_F(Array, GrowthRule)
{
    struct Case {
        int32_t start_max;  // grown to this first (-1: none)
        int32_t key;
        int32_t max;
    } cases[] = {
        {-1, 0, 3},    // no storage: max(key, 3), exactly
        {-1, 5, 5},
        {3, 4, 5},     // 4 + 3/5 = 4; 40 bytes round to 64 - 16
        {5, 6, 13},    // 6 + 1 = 7; 64 bytes round to 128 - 16
        {99, 100, 125},  // 100 + 19 = 119; 960 bytes round to 1024 - 16
    };
    for (const Case& c : cases) {
        AV* a = av_new_empty(gcb);
        if (c.start_max >= 0)
            av_grow_to_index(gcb, a, c.start_max);
        if (c.start_max == 99) {
            ASSERT_EQ(av_body(a)->max, 99);
        }
        av_grow_to_index(gcb, a, c.key);
        EXPECT_EQ(av_body(a)->max, c.max) << c.start_max << " -> " << c.key;
        // New slots of an array that owns its elements hold the undefined value.
        for (int32_t i = 0; i <= av_body(a)->max; i++)
            EXPECT_EQ(av_body(a)->array[i], &gcb->sv_undef);
    }
}

TEST_F(Array, StoreAtIndexZeroAndFive)
{
    av_store_element(gcb, av, 0, iv(1));
    EXPECT_EQ(body()->max, 3);
    EXPECT_EQ(body()->fill, 0);
    AV* b = av_new_empty(gcb);
    av_store_element(gcb, b, 5, iv(5));
    EXPECT_EQ(av_body(b)->max, 5);
    EXPECT_EQ(av_body(b)->fill, 5);
    EXPECT_EQ(av_fetch_element(gcb, b, 2, 0), nullptr);  // an empty slot is no element
    EXPECT_FALSE(av_element_exists(gcb, b, 2));
    EXPECT_TRUE(av_element_exists(gcb, b, 5));
}

TEST_F(Array, NegativeIndexesCountFromTheEnd)
{
    AV* a = of({10, 11, 12});
    EXPECT_EQ(at(a, -1), 12);
    EXPECT_EQ(at(a, -3), 10);
    EXPECT_EQ(av_fetch_element(gcb, a, -4, 0), nullptr);
    EXPECT_EQ(av_fetch_element(gcb, a, -4, 1), nullptr);
    EXPECT_EQ(av_store_element(gcb, a, -4, iv(0)), nullptr);
    EXPECT_TRUE(av_element_exists(gcb, a, -1));
    EXPECT_FALSE(av_element_exists(gcb, a, -4));
    av_store_element(gcb, a, -2, iv(99));
    EXPECT_EQ(at(a, 1), 99);
    EXPECT_EQ(av_delete_element(gcb, a, -4, 0), nullptr);
}

TEST_F(Array, ShiftLeavesAPrefixThatGrowthSlidesBack)
{
    av_grow_to_index(gcb, av, 99);
    for (int i = 0; i < 100; i++)
        av_append(gcb, av, iv(i));
    ASSERT_EQ(body()->max, 99);
    SV** alloc = body()->alloc;
    for (int i = 0; i < 20; i++)
        sv_release(gcb, av_remove_first(gcb, av));
    EXPECT_EQ(body()->max, 79);
    EXPECT_EQ(body()->array - body()->alloc, 20);
    EXPECT_EQ(at(av, 0), 20);

    av_grow_to_index(gcb, av, 80);  // slides back; 80 <= 99 - 10: nothing allocated
    EXPECT_EQ(body()->max, 99);
    EXPECT_EQ(body()->array, alloc);
    EXPECT_EQ(body()->alloc, alloc);
    EXPECT_EQ(at(av, 0), 20);
    EXPECT_EQ(at(av, 79), 99);
    EXPECT_EQ(body()->array[80], &gcb->sv_undef);

    for (int i = 0; i < 20; i++)
        sv_release(gcb, av_remove_first(gcb, av));
    av_grow_to_index(gcb, av, 95);  // slides, then 95 + 99 = 194 rounds to 253
    EXPECT_EQ(body()->max, 253);
    EXPECT_EQ(at(av, 0), 40);
    EXPECT_EQ(at(av, 59), 99);
}

TEST_F(Array, PopAndShift)
{
    AV* a = of({1, 2, 3});
    SV* last = av_remove_last(gcb, a);
    EXPECT_EQ(sv_to_int(gcb, last), 3);
    EXPECT_EQ(last->refcnt, 1u);  // the array's reference passes to the caller
    sv_release(gcb, last);
    SV* first = av_remove_first(gcb, a);
    EXPECT_EQ(sv_to_int(gcb, first), 1);
    sv_release(gcb, first);
    EXPECT_EQ(av_highest_index(gcb, a), 0);
    EXPECT_EQ(at(a, 0), 2);

    EXPECT_EQ(av_remove_last(gcb, av), &gcb->sv_undef);
    EXPECT_EQ(av_remove_first(gcb, av), &gcb->sv_undef);
    EXPECT_EQ(av_remove_last(gcb, nullptr), &gcb->sv_undef);

    a->flags |= SVf_READONLY;
    EXPECT_EQ(run([&] { av_remove_last(gcb, a); }), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

TEST_F(Array, ReadOnlyArraysRefuseChange)
{
    AV* a = of({1, 2, 3});
    a->flags |= SVf_READONLY;
    EXPECT_EQ(run([&] { av_store_element(gcb, a, 0, iv(9)); }), 0);  // below the highest index
    EXPECT_EQ(at(a, 0), 9);
    std::vector<std::function<void()>> refused = {
        [&] { av_store_element(gcb, a, 2, iv(9)); },
        [&] { av_append(gcb, a, iv(9)); },
        [&] { av_remove_first(gcb, a); },
        [&] { av_insert_front(gcb, a, 1); },
        [&] { av_delete_element(gcb, a, 0, 0); },
        [&] { av_remove_all(gcb, a); },
    };
    for (auto& f : refused) {
        gcb->err.len = 0;
        EXPECT_EQ(run(f), 2);
        EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
    }
}

TEST_F(Array, UnshiftUsesThePrefixFirst)
{
    AV* a = of({1, 2, 3, 4, 5});
    av_insert_front(gcb, a, 2);
    EXPECT_EQ(av_highest_index(gcb, a), 6);
    EXPECT_EQ(av_fetch_element(gcb, a, 0, 0), nullptr);
    EXPECT_EQ(at(a, 2), 1);
    EXPECT_EQ(at(a, 6), 5);
    // About FILL free prefix slots are left for later unshifts.
    int64_t prefix = av_body(a)->array - av_body(a)->alloc;
    EXPECT_EQ(prefix, 4);
    SV** array = av_body(a)->array;
    av_insert_front(gcb, a, 3);
    EXPECT_EQ(av_body(a)->array, array - 3);
    EXPECT_EQ(av_highest_index(gcb, a), 9);
    EXPECT_EQ(at(a, 5), 1);
    av_insert_front(gcb, a, 0);
    av_insert_front(gcb, nullptr, 3);
    EXPECT_EQ(av_highest_index(gcb, a), 9);
}

TEST_F(Array, DeleteLowersFillPastEmptySlots)
{
    av_store_element(gcb, av, 0, iv(0));
    av_store_element(gcb, av, 1, iv(1));
    av_store_element(gcb, av, 4, iv(4));
    ASSERT_EQ(body()->array[2], &gcb->sv_undef);
    ASSERT_EQ(body()->array[3], &gcb->sv_undef);
    SV* got = av_delete_element(gcb, av, 4, 0);
    EXPECT_EQ(sv_to_int(gcb, got), 4);
    EXPECT_EQ(body()->fill, 1);
    EXPECT_EQ(body()->array[4], &gcb->sv_undef);
    // A middle element leaves a hole; exists tells it from a present one.
    EXPECT_EQ(av_delete_element(gcb, av, 0, AV_DISCARD), nullptr);
    EXPECT_FALSE(av_element_exists(gcb, av, 0));
    EXPECT_TRUE(av_element_exists(gcb, av, 1));
    EXPECT_EQ(body()->fill, 1);
    EXPECT_EQ(av_delete_element(gcb, av, 7, 0), nullptr);
}

TEST_F(Array, SetHighestIndex)
{
    AV* a = of({1, 2, 3, 4});
    SV* three = av_body(a)->array[2];
    sv_refinc(three);
    av_set_highest_index(gcb, a, 1);
    EXPECT_EQ(av_highest_index(gcb, a), 1);
    EXPECT_EQ(three->refcnt, 1u);
    EXPECT_EQ(av_body(a)->array[2], &gcb->sv_undef);
    av_set_highest_index(gcb, a, 10);
    EXPECT_EQ(av_highest_index(gcb, a), 10);
    EXPECT_EQ(av_fetch_element(gcb, a, 10, 0), nullptr);
    av_set_highest_index(gcb, a, -7);
    EXPECT_EQ(av_highest_index(gcb, a), -1);
    EXPECT_EQ(run([&] { av_set_highest_index(gcb, nullptr, 1); }), 2);
    EXPECT_EQ(err_text(), "panic: null array.\n");
}

TEST_F(Array, ClearKeepsStorageUndefFreesIt)
{
    AV* a = of({1, 2, 3});
    sv_release(gcb, av_remove_first(gcb, a));
    SV** alloc = av_body(a)->alloc;
    int32_t max = av_body(a)->max;
    av_remove_all(gcb, a);
    EXPECT_EQ(av_body(a)->fill, -1);
    EXPECT_EQ(av_body(a)->array, alloc);
    EXPECT_EQ(av_body(a)->max, max + 1);
    av_append(gcb, a, iv(1));
    av_free_storage(gcb, a);
    EXPECT_EQ(av_body(a)->alloc, nullptr);
    EXPECT_EQ(av_body(a)->array, nullptr);
    EXPECT_EQ(av_body(a)->max, -1);
    EXPECT_EQ(av_body(a)->fill, -1);
}

TEST_F(Array, BorrowedArraysBecomeReal)
{
    SV* vals[3] = {iv(1), iv(2), iv(3)};
    vals[1]->flags |= SVs_TEMP;
    AV* a = av_new_borrowed(gcb, 3, vals);
    EXPECT_EQ(av_body(a)->avflags, AVf_REIFY);
    EXPECT_FALSE(vals[1]->flags & SVs_TEMP);
    EXPECT_EQ(vals[0]->refcnt, 1u);
    // A freed or missing element reads as empty.
    av_body(a)->array[2] = nullptr;
    EXPECT_EQ(av_fetch_element(gcb, a, 2, 0), nullptr);
    av_store_element(gcb, a, 1, iv(20));  // makes it real: each element gains a reference
    EXPECT_EQ(av_body(a)->avflags, AVf_REAL);
    EXPECT_EQ(vals[0]->refcnt, 2u);
    EXPECT_EQ(vals[1]->refcnt, 1u);  // replaced: the reference it got was dropped again

    AV* copies = av_new_from_copies(gcb, 3, vals);
    EXPECT_EQ(av_body(copies)->max, 2);
    EXPECT_NE(av_body(copies)->array[0], vals[0]);
    EXPECT_EQ(sv_to_int(gcb, av_body(copies)->array[0]), 1);
}

// ---- pseudo-hashes ----------------------------------------------------------

class PseudoHash : public Agg {
protected:
    AV* ph = nullptr;
    HV* map = nullptr;
    void SetUp() override
    {
        Agg::SetUp();
        map = hv_new_empty(gcb);
        hv_store_str(gcb, map, "a", 1, iv(1), 0);
        hv_store_str(gcb, map, "b", 1, iv(2), 0);
        ph = av_new_empty(gcb);
        av_store_element(gcb, ph, 0, sv_new_reference(gcb, as_sv(map)));
    }
};

TEST_F(PseudoHash, FieldsNameElements)
{
    EXPECT_EQ(pseudohash_field_map(gcb, ph), map);
    SV** svp = pseudohash_store(gcb, ph, pv("b"), pv("bee"), 0);
    ASSERT_NE(svp, nullptr);
    EXPECT_EQ(av_highest_index(gcb, ph), 2);
    EXPECT_EQ(str(*av_fetch_element(gcb, ph, 2, 0)), "bee");
    EXPECT_EQ(str(*pseudohash_fetch(gcb, ph, pv("b"), 0, 0)), "bee");
    EXPECT_EQ(pseudohash_fetch(gcb, ph, pv("a"), 0, 0), nullptr);
    EXPECT_TRUE(pseudohash_exists(gcb, ph, pv("b"), 0));
    EXPECT_FALSE(pseudohash_exists(gcb, ph, pv("a"), 0));
    EXPECT_FALSE(pseudohash_exists(gcb, ph, pv("zz"), 0));  // unknown names report nothing
    EXPECT_EQ(pseudohash_delete(gcb, ph, pv("zz"), 0, 0), nullptr);
    EXPECT_EQ(str(pseudohash_delete(gcb, ph, pv("b"), 0, 0)), "bee");
}

TEST_F(PseudoHash, IterationCreatesMissingElements)
{
    std::vector<std::string> keys;
    hv_iter_start(gcb, map);
    while (hash_entry* he = pseudohash_next_entry(gcb, ph)) {
        int32_t len = 0;
        const char* k = hv_entry_key(gcb, he, &len);
        keys.push_back(std::string(k, static_cast<size_t>(len)));
        SV* v = pseudohash_entry_value(gcb, ph, he);
        EXPECT_FALSE(v->flags & SVf_OK_ANY);
    }
    EXPECT_EQ(keys.size(), 2u);
    EXPECT_EQ(av_highest_index(gcb, ph), 2);
}

TEST_F(PseudoHash, Errors)
{
    struct Case {
        std::function<void()> body;
        const char* text;
    } cases[] = {
        {[&] { pseudohash_fetch(gcb, ph, pv("zz"), 0, 0); }, "No such pseudo-hash field \"zz\".\n"},
        {[&] { pseudohash_store(gcb, ph, pv("zz"), iv(1), 0); }, "No such pseudo-hash field \"zz\".\n"},
        {[&] {
             hv_store_str(gcb, map, "zero", 4, iv(0), 0);
             pseudohash_fetch(gcb, ph, pv("zero"), 0, 0);
         },
         "Bad index while coercing array into hash.\n"},
        {[&] {
             hv_store_str(gcb, map, "neg", 3, iv(-3), 0);
             pseudohash_store(gcb, ph, pv("neg"), iv(1), 0);
         },
         "Bad index while coercing array into hash.\n"},
        {[&] { pseudohash_field_map(gcb, av_new_empty(gcb)); }, "Can't coerce array into hash.\n"},
        {[&] {
             AV* a = av_new_empty(gcb);
             av_store_element(gcb, a, 0, sv_new_reference(gcb, as_sv(av_new_empty(gcb))));
             pseudohash_field_map(gcb, a);
         },
         "Can't coerce array into hash.\n"},
        {[&] {
             AV* a = av_new_empty(gcb);
             av_store_element(gcb, a, 0, pv("map"));
             pseudohash_fetch(gcb, a, pv("a"), 0, 0);
         },
         "Can't coerce array into hash.\n"},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        EXPECT_EQ(run(c.body), 2) << c.text;
        EXPECT_EQ(err_text(), c.text);
    }
}

}  // namespace
