// Hashes: the key hash, bucket growth, the keyed operations, iteration,
// clearing, copying and the shared-key table.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/agg_fixture.h"

namespace {

using prxtest::Agg;

class Hash : public Agg {
protected:
    HV* hv = nullptr;
    void SetUp() override
    {
        Agg::SetUp();
        hv = hv_new_empty(gcb);
    }
    PVHV* body() { return hv_body(hv); }
    SV** store(HV* h, const std::string& key, SV* val)
    {
        return hv_store_str(gcb, h, key.data(), static_cast<int32_t>(key.size()), val, 0);
    }
    SV** fetch(HV* h, const std::string& key, int32_t lval = 0)
    {
        return hv_fetch_str(gcb, h, key.data(), static_cast<int32_t>(key.size()), lval);
    }
    uint32_t bucket_of(const std::string& key, uint64_t max)
    {
        return hv_key_hash(key.data(), static_cast<int32_t>(key.size())) & static_cast<uint32_t>(max);
    }
    // Keys "k0", "k1", ... that fall into the given bucket of a table of max + 1 buckets.
    std::vector<std::string> keys_in_bucket(uint32_t bucket, uint64_t max, size_t n, int from = 0)
    {
        std::vector<std::string> out;
        for (int i = from; out.size() < n; i++) {
            std::string k = "k" + std::to_string(i);
            if (bucket_of(k, max) == bucket)
                out.push_back(k);
        }
        return out;
    }
    uint64_t filled_buckets(HV* h)
    {
        uint64_t n = 0;
        for (uint64_t i = 0; h && hv_body(h)->array && i <= hv_body(h)->max; i++)
            n += hv_body(h)->array[i] != nullptr;
        return n;
    }
    // Users of a key in the shared-key table; 0 when it is not there.
    uintptr_t shared_count(const std::string& key)
    {
        PVHV* t = hv_body(gcb->shared_key_table);
        uint32_t hash = hv_key_hash(key.data(), static_cast<int32_t>(key.size()));
        for (hash_entry* he = t->array[hash & t->max]; he; he = he->next)
            if (he->key->len == static_cast<int32_t>(key.size()) && key.compare(0, key.size(), he->key->bytes, key.size()) == 0)
                return he->count;
        return 0;
    }
};

TEST(HashKey, TimesThirtyThreePlusByteThenShiftedSum)
{
    struct Case {
        std::string key;
        uint32_t hash;
    } cases[] = {
        {"", 0},
        {"a", 100},  // 97 + (97 >> 5)
        {"ab", 3402},
        {"\xff", 262},  // bytes count as 0..255
        {"\x80\x81", 4489},
        {"main::", 92523775},
        {"The quick brown fox jumps over the lazy dog", 642596320},  // wraps at 32 bits
    };
    for (const Case& c : cases)
        EXPECT_EQ(hv_key_hash(c.key.data(), static_cast<int32_t>(c.key.size())), c.hash) << c.key;
}

TEST_F(Hash, NewHashIsLazy)
{
    EXPECT_EQ(sv_type(as_sv(hv)), SVt_PVHV);
    EXPECT_TRUE(hv->flags & SVf_SHAREKEYS);
    EXPECT_EQ(body()->array, nullptr);
    EXPECT_EQ(body()->max, 7u);
    EXPECT_EQ(body()->riter, -1);
    EXPECT_EQ(fetch(hv, "x"), nullptr);
    EXPECT_FALSE(hv_exists_str(gcb, hv, "x", 1));
    EXPECT_EQ(hv_delete_str(gcb, hv, "x", 1, 0), nullptr);
    EXPECT_EQ(body()->array, nullptr);
    // A fetch for modification makes the bucket array and an undefined value.
    SV** svp = fetch(hv, "x", 1);
    ASSERT_NE(svp, nullptr);
    EXPECT_FALSE((*svp)->flags & SVf_OK_ANY);
    EXPECT_NE(body()->array, nullptr);
    EXPECT_EQ(body()->keys, 1);
    // A null hash answers nothing.
    EXPECT_EQ(hv_fetch_str(gcb, nullptr, "x", 1, 1), nullptr);
    EXPECT_EQ(hv_store_str(gcb, nullptr, "x", 1, pv("v"), 0), nullptr);
    EXPECT_FALSE(hv_exists_str(gcb, nullptr, "x", 1));
}

TEST_F(Hash, StoreFetchReplaceDelete)
{
    SV* one = pv("one");
    SV** slot = store(hv, "", one);  // the empty key is a key like any other
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(*fetch(hv, ""), one);
    SV* two = pv("two");
    sv_refinc(one);
    EXPECT_EQ(store(hv, "", two), slot);  // same entry, old value released
    EXPECT_EQ(one->refcnt, 1u);
    EXPECT_EQ(*slot, two);
    EXPECT_EQ(body()->keys, 1);

    // Keys of equal hash and length but other bytes are told apart.
    SV* a = pv("A");
    SV* b = pv("B");
    store(hv, "ab", a);
    store(hv, "ba", b);
    EXPECT_EQ(*fetch(hv, "ab"), a);
    EXPECT_EQ(*fetch(hv, "ba"), b);

    // Delete gives the value as a temporary; discard gives nothing.
    sv_refinc(a);
    SV* got = hv_delete_str(gcb, hv, "ab", 2, 0);
    EXPECT_EQ(got, a);
    EXPECT_TRUE(a->flags & SVs_TEMP);
    EXPECT_FALSE(hv_exists_str(gcb, hv, "ab", 2));
    EXPECT_EQ(hv_delete_str(gcb, hv, "ba", 2, HV_DISCARD), nullptr);
    EXPECT_EQ(body()->keys, 1);
    EXPECT_EQ(body()->fill, filled_buckets(hv));

    // By value, with a caller's hash.
    SV* key = pv("kv");
    hash_entry* he = hv_store_sv(gcb, hv, key, pv("V"), 0);
    ASSERT_NE(he, nullptr);
    EXPECT_EQ(he->key->hash, hv_key_hash("kv", 2));
    EXPECT_EQ(hv_fetch_sv(gcb, hv, key, 0, 0), he);
    EXPECT_TRUE(hv_exists_sv(gcb, hv, key, he->key->hash));
    EXPECT_EQ(str(hv_delete_sv(gcb, hv, key, 0, 0)), "V");
}

TEST_F(Hash, SplitOnlyAtAnInsertIntoAnEmptyBucket)
{
    // Nine keys into one bucket: no split however many keys.
    for (const std::string& k : keys_in_bucket(3, 7, 9))
        store(hv, k, iv(1));
    EXPECT_EQ(body()->keys, 9);
    EXPECT_EQ(body()->max, 7u);
    EXPECT_EQ(body()->fill, 1u);

    // The next key into an empty bucket splits.
    store(hv, keys_in_bucket(5, 7, 1)[0], iv(2));
    EXPECT_EQ(body()->max, 15u);
    EXPECT_EQ(body()->keys, 10);
    EXPECT_EQ(body()->fill, filled_buckets(hv));
    // Every entry sits in its bucket and is found again.
    for (uint64_t i = 0; i <= body()->max; i++)
        for (hash_entry* he = body()->array[i]; he; he = he->next)
            EXPECT_EQ(he->key->hash & body()->max, i);
    for (const std::string& k : keys_in_bucket(3, 7, 9))
        EXPECT_NE(fetch(hv, k), nullptr) << k;
}

TEST_F(Hash, EightDistinctBucketsSplitAtTheEighthKey)
{
    for (uint32_t b = 0; b < 7; b++)
        store(hv, keys_in_bucket(b, 7, 1)[0], iv(b));
    EXPECT_EQ(body()->max, 7u);
    store(hv, keys_in_bucket(7, 7, 1)[0], iv(7));
    EXPECT_EQ(body()->max, 15u);
    EXPECT_EQ(body()->keys, 8);
    EXPECT_EQ(body()->fill, filled_buckets(hv));
}

TEST_F(Hash, MovedEntriesReverseTheirOrder)
{
    // Three keys of bucket 1 of 8 that move to bucket 9 of 16, and one that stays.
    std::vector<std::string> move, stay;
    for (int i = 0; move.size() < 3 || stay.empty(); i++) {
        std::string k = "m" + std::to_string(i);
        if (bucket_of(k, 7) != 1)
            continue;
        (bucket_of(k, 15) == 9 ? move : stay).push_back(k);
    }
    for (const std::string& k : {move[0], stay[0], move[1], move[2]})
        store(hv, k, iv(0));
    // Chain of bucket 1, head first: move2, move1, stay0, move0.
    for (uint32_t b = 2; b < 8; b++)
        store(hv, keys_in_bucket(b, 7, 1)[0], iv(0));  // fills 6 more buckets; the last one splits
    ASSERT_EQ(body()->max, 15u);
    std::vector<std::string> chain9;
    for (hash_entry* he = body()->array[9]; he; he = he->next)
        chain9.push_back(he->key->bytes);
    EXPECT_EQ(chain9, (std::vector<std::string>{move[0], move[1], move[2]}));
    EXPECT_EQ(std::string(body()->array[1]->key->bytes), stay[0]);
}

TEST_F(Hash, SplitOfLargeTablesKeepsASpareChunk)
{
    hv_grow_buckets(gcb, hv, 64);
    ASSERT_EQ(body()->max, 63u);
    hash_entry** old = body()->array;
    gcb->sv_spare_block = nullptr;
    for (uint32_t b = 0; b < 64; b++)
        store(hv, keys_in_bucket(b, 63, 1)[0], iv(b));
    ASSERT_EQ(body()->max, 127u);
    EXPECT_EQ(gcb->sv_spare_block, old);
    EXPECT_EQ(gcb->sv_spare_size, 64u * 16 - 16);

    // With a spare chunk held, the next split frees the old array. The
    // values are made first: making values may take the spare chunk.
    std::vector<SV*> values;
    for (int i = 0; i < 200; i++)
        values.push_back(iv(i));
    void* spare = pool_malloc(gcb, 64);
    gcb->sv_spare_block = spare;
    gcb->sv_spare_size = 64;
    hash_entry** old2 = body()->array;
    for (int i = 1000; body()->max == 127; i++)
        store(hv, "k" + std::to_string(i), values[static_cast<size_t>(i - 1000)]);
    ASSERT_EQ(body()->max, 255u);
    EXPECT_EQ(gcb->sv_spare_block, spare);
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    EXPECT_EQ(pool->live.count(old2), 0u);

    // Small tables always free the old array.
    HV* small = hv_new_empty(gcb);
    gcb->sv_spare_block = nullptr;
    for (uint32_t b = 0; b < 8; b++)
        store(small, keys_in_bucket(b, 7, 1)[0], iv(b));
    EXPECT_EQ(hv_body(small)->max, 15u);
    EXPECT_EQ(gcb->sv_spare_block, nullptr);
}

TEST_F(Hash, FailedSplitKeepsTheTable)
{
    for (uint32_t b = 0; b < 7; b++)
        store(hv, keys_in_bucket(b, 7, 1)[0], iv(b));
    hash_entry** before = body()->array;
    // The entry arena and the shared key come first; the bucket array is the
    // allocation that fails.
    std::string last = keys_in_bucket(7, 7, 1)[0];
    he_give_back(gcb, he_take(gcb));
    hv_share_key(gcb, last.data(), static_cast<int32_t>(last.size()),
                 hv_key_hash(last.data(), static_cast<int32_t>(last.size())));
    host->fail.fail_next = true;
    ASSERT_EQ(run([&] { store(hv, last, iv(7)); }), 0) << err_text();
    EXPECT_EQ(body()->array, before);
    EXPECT_EQ(body()->max, 7u);
    EXPECT_EQ(body()->keys, 8);
    EXPECT_EQ(gcb->no_memory_ok, 0);
    EXPECT_NE(fetch(hv, last), nullptr);
}

TEST_F(Hash, Presizing)
{
    struct Case {
        int64_t wanted;
        uint64_t max;
    } cases[] = {{5, 7}, {8, 7}, {9, 15}, {100, 127}, {128, 127}, {129, 255}, {int64_t{1} << 31, 7}, {-1, 7}};
    for (const Case& c : cases) {
        HV* h = hv_new_empty(gcb);
        hv_grow_buckets(gcb, h, c.wanted);
        EXPECT_EQ(hv_body(h)->max, c.max) << c.wanted;
    }
    // Presizing a filled table rehashes every entry.
    std::vector<std::string> keys;
    for (int i = 0; i < 7; i++)
        keys.push_back("p" + std::to_string(i));
    for (const std::string& k : keys)
        store(hv, k, pv(k.c_str()));
    hv_grow_buckets(gcb, hv, 1000);
    EXPECT_EQ(body()->max, 1023u);
    EXPECT_EQ(body()->fill, filled_buckets(hv));
    for (const std::string& k : keys) {
        ASSERT_NE(fetch(hv, k), nullptr) << k;
        EXPECT_EQ(str(*fetch(hv, k)), k);
    }
}

TEST_F(Hash, SharedKeysAreCountedAcrossHashes)
{
    HV* other = hv_new_empty(gcb);
    int64_t table_keys = hv_body(gcb->shared_key_table)->keys;
    store(hv, "shared", iv(1));
    store(other, "shared", iv(2));
    EXPECT_EQ(shared_count("shared"), 2u);
    EXPECT_EQ(hv_body(gcb->shared_key_table)->keys, table_keys + 1);
    // The two entries point to the one record.
    EXPECT_EQ(hv_fetch_sv(gcb, hv, pv("shared"), 0, 0)->key, hv_fetch_sv(gcb, other, pv("shared"), 0, 0)->key);
    // Replacing the value takes no further share.
    store(hv, "shared", iv(3));
    EXPECT_EQ(shared_count("shared"), 2u);
    hv_delete_str(gcb, hv, "shared", 6, HV_DISCARD);
    EXPECT_EQ(shared_count("shared"), 1u);
    hv_delete_str(gcb, other, "shared", 6, HV_DISCARD);
    EXPECT_EQ(shared_count("shared"), 0u);
    EXPECT_EQ(hv_body(gcb->shared_key_table)->keys, table_keys);
    EXPECT_EQ(err_text(), "");
}

TEST_F(Hash, FreeingAMissingSharedKeyWarns)
{
    struct Case {
        const char* setting;
        const char* text;
    } cases[] = {
        {"std", "Attempt to free non-existent shared string.\n"},
        {"all", "Attempt to free non-existent shared string.\n"},
        {"none", ""},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        std::string s = c.setting;
        if (s == "std")
            warnings_std();
        else if (s == "all")
            warnings_all();
        else
            warnings_none();
        int64_t keys = hv_body(gcb->shared_key_table)->keys;
        ASSERT_EQ(run([&] { hv_unshare_key_bytes(gcb, "ghost", 5, hv_key_hash("ghost", 5)); }), 0);
        EXPECT_EQ(err_text(), c.text) << c.setting;
        EXPECT_EQ(hv_body(gcb->shared_key_table)->keys, keys);
    }
}

TEST_F(Hash, IterationSurvivesDeletingTheCurrentEntry)
{
    std::set<std::string> all;
    for (int i = 0; i < 20; i++) {
        std::string k = "it" + std::to_string(i);
        all.insert(k);
        store(hv, k, pv(k.c_str()));
    }
    EXPECT_EQ(hv_iter_start(gcb, hv), 20);
    std::set<std::string> seen;
    int n = 0;
    while (hash_entry* he = hv_iter_advance(gcb, hv)) {
        int32_t len = 0;
        const char* k = hv_entry_key(gcb, he, &len);
        std::string key(k, static_cast<size_t>(len));
        EXPECT_TRUE(seen.insert(key).second) << key;
        EXPECT_EQ(str(hv_entry_value(gcb, hv, he)), key);
        if (n++ % 2 == 0) {
            hv_delete_str(gcb, hv, key.data(), len, HV_DISCARD);
            EXPECT_TRUE(hv->flags & SVf_LAZYDEL);
        }
    }
    EXPECT_EQ(seen, all);
    EXPECT_FALSE(hv->flags & SVf_LAZYDEL);
    EXPECT_EQ(body()->riter, -1);
    EXPECT_EQ(body()->eiter, nullptr);
    EXPECT_EQ(body()->keys, 10);
    EXPECT_EQ(hv_iter_start(gcb, hv), 10);
}

TEST_F(Hash, IteratingAnEmptyHash)
{
    EXPECT_EQ(hv_iter_start(gcb, hv), 0);
    EXPECT_EQ(hv_iter_advance(gcb, hv), nullptr);
    EXPECT_EQ(body()->riter, -1);
    EXPECT_NE(body()->array, nullptr);
    EXPECT_EQ(run([&] { hv_iter_start(gcb, nullptr); }), 2);
    EXPECT_EQ(err_text(), "Bad hash.\n");
}

TEST_F(Hash, KeysOfEntriesAsValues)
{
    store(hv, "", iv(1));
    store(hv, "name", iv(2));
    hv_iter_start(gcb, hv);
    std::set<std::string> keys;
    while (hash_entry* he = hv_iter_advance(gcb, hv)) {
        SV* k = hv_entry_key_sv(gcb, he);
        EXPECT_TRUE(k->flags & SVs_TEMP);
        EXPECT_TRUE(k->flags & SVf_POK);
        keys.insert(str(k));
    }
    EXPECT_EQ(keys, (std::set<std::string>{"", "name"}));
}

TEST_F(Hash, ClearKeepsTheBucketsUndefResetsThem)
{
    hv_grow_buckets(gcb, hv, 64);
    for (int i = 0; i < 10; i++)
        store(hv, "c" + std::to_string(i), iv(i));
    hv_remove_all(gcb, hv);
    EXPECT_EQ(body()->keys, 0);
    EXPECT_EQ(body()->fill, 0u);
    EXPECT_EQ(body()->max, 63u);
    EXPECT_EQ(filled_buckets(hv), 0u);
    store(hv, "again", iv(1));
    body()->name = pool_strdup(gcb, "Pkg");
    hv_free_storage(gcb, hv);
    EXPECT_EQ(body()->array, nullptr);
    EXPECT_EQ(body()->max, 7u);
    EXPECT_EQ(body()->keys, 0);
    EXPECT_EQ(body()->name, nullptr);
}

TEST_F(Hash, CopyShrinksItsBucketCount)
{
    hv_grow_buckets(gcb, hv, 64);
    std::vector<uint32_t> buckets = {0, 1, 2};
    for (uint32_t b : buckets)
        store(hv, keys_in_bucket(b, 63, 1)[0], pv("v"));
    ASSERT_EQ(body()->fill, 3u);
    HV* copy = hv_new_copy(gcb, hv);
    EXPECT_EQ(hv_body(copy)->max, 3u);  // 63, 31, 15, 7, 3: stops when MAX + 1 < 6
    EXPECT_EQ(hv_body(copy)->keys, 3);
    for (uint32_t b : buckets) {
        std::string k = keys_in_bucket(b, 63, 1)[0];
        SV** v = fetch(copy, k);
        ASSERT_NE(v, nullptr);
        EXPECT_NE(*v, *fetch(hv, k));  // copies, not the same values
        EXPECT_EQ(str(*v), "v");
    }
    EXPECT_EQ(hv_body(hv_new_copy(gcb, nullptr))->max, 0u);
}

TEST_F(Hash, CopyKeepsTheSourcePosition)
{
    for (int i = 0; i < 5; i++)
        store(hv, "q" + std::to_string(i), iv(i));
    hv_iter_start(gcb, hv);
    hv_iter_advance(gcb, hv);
    hash_entry* at = hv_iter_advance(gcb, hv);
    int32_t riter = body()->riter;
    hv_new_copy(gcb, hv);
    EXPECT_EQ(body()->eiter, at);
    EXPECT_EQ(body()->riter, riter);
}

}  // namespace
