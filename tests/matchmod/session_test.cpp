// The session support record, the pattern-handle slots and PRXMATCH's
// pattern-id path.
#include <cmath>
#include <cstring>

#include "engine.h"
#include "mmfixture.h"
#include "matchmod/mmsession.h"
#include "rng/rng.h"

namespace {

struct SessionTest : MmTest {
    ScriptedEngine e;
    XkValue id{};
    XkValue src{};
    XkFuncCall call{};
    std::string source_text = "hello";

    void SetUp() override
    {
        MmTest::SetUp();
        e.bind(*h);
        tk->set_double("xkbug.RNGSEED", 99);
        call.task = main_handle();
        call.kind = 'X';
        call.arg_flags = XKARG_NUMERIC;
        call.arg1 = &id;
        call.arg2 = &src;
        src.text = source_text.c_str();
        src.length = 5;
    }
    uint32_t run(double number, double* result)
    {
        id.number = number;
        return prxmatch_call(&call, result, nullptr, nullptr);
    }
    PrxCompiled* new_record(bool with_bridge = true)
    {
        host_pool* pool = main_handle()->allocator;
        auto* rec = static_cast<PrxCompiled*>(pool->alloc(pool, sizeof(PrxCompiled), 0x2006));
        rec->pattern = &e.pattern;
        rec->bridge = with_bridge ? &e.bridge : nullptr;
        return rec;
    }
    std::vector<unsigned> slots_of_group(unsigned g)
    {
        std::vector<unsigned> out;
        for (auto& c : h->calls)
            if (c.group == g)
                out.push_back(c.slot);
        return out;
    }
};

TEST_F(SessionTest, FreshSessionRecord)
{
    h->option_string = "RNGSEED=17 OTHER";
    ASSERT_EQ(xkFuncSessionInit(main_handle()), 0u);
    ASSERT_EQ(h->sessions.size(), 1u);
    EXPECT_EQ(h->sessions[0].first, main_handle());
    EXPECT_EQ(h->sessions[0].second.first, 37);
    XkFuncSession* s = xk_session_of(main_handle());
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(h->sessions[0].second.second, s);
    EXPECT_EQ(h->main_task()->allocator->live.at(s), 224u);
    ASSERT_NE(s->rng, nullptr);
    EXPECT_EQ(s->rng->seed, 17u);
    EXPECT_EQ(s->rng->stream, 0u);
    EXPECT_EQ(s->w1, 0);
    EXPECT_EQ(s->neg_pi, -M_PI);
    EXPECT_EQ(s->yearcutoff, 1926);
    EXPECT_EQ(std::string(s->text8, 8), "HOSTSIM ");
    EXPECT_EQ(s->text8_length, 7);
    for (int c = 0; c < 256; c++)
        EXPECT_EQ(s->delimiters[c], std::strchr(" .<(+&!$*);^-/,%|", c) && c ? 1 : 0) << c;
    ASSERT_NE(s->table2, nullptr);
    EXPECT_EQ(s->slots, nullptr);
    // The options read: "-rngseed" through the option string, then YEARCUTOFF.
    std::vector<unsigned> g39 = slots_of_group(39);
    EXPECT_EQ(g39, (std::vector<unsigned>{56, 108, 138, 108, 57, 194}));
}

TEST_F(SessionTest, SessionFailures)
{
    // No memory for the record: nothing is registered.
    h->fail.fail_next = true;
    EXPECT_EQ(xkFuncSessionInit(main_handle()), 0x80000803u);
    EXPECT_TRUE(h->sessions.empty());
    // No memory for the stream: the record stays registered.
    h->fail.fail_after = 1;
    EXPECT_EQ(xkFuncSessionInit(main_handle()), 0x80000803u);
    EXPECT_EQ(h->sessions.size(), 1u);
    EXPECT_EQ(xk_session_of(main_handle())->rng, nullptr);
    h->fail.fail_after = -1;
    // The YEARCUTOFF read fails: its status, the record without tables.
    hostsim::Host& h2 = hostsim::reset();
    mcn_main(&h2.vec, nullptr);
    h2.option_values.clear();
    EXPECT_EQ(xkFuncSessionInit(&h2.main_task()->handle), 0x8001C8F0u);
    XkFuncSession* s = xk_session_of(&h2.main_task()->handle);
    ASSERT_NE(s, nullptr);
    EXPECT_NE(s->rng, nullptr);
    EXPECT_EQ(s->delimiters, nullptr);
    // No memory for the delimiter table, then for the second table.
    for (int64_t after : {2, 3}) {
        hostsim::Host& h3 = hostsim::reset();
        mcn_main(&h3.vec, nullptr);
        h3.fail.fail_after = after;
        EXPECT_EQ(xkFuncSessionInit(&h3.main_task()->handle), 0x80000803u) << after;
    }
}

TEST_F(SessionTest, IdFindsItsSlotAndMatches)
{
    int32_t first = prx_slot_alloc(main_handle());
    ASSERT_EQ(first, 1);
    XkFuncSession* s = xk_session_of(main_handle());
    ASSERT_NE(s, nullptr);
    ASSERT_NE(s->slots, nullptr);
    EXPECT_EQ(h->main_task()->allocator->live.at(s->slots), 1048u);
    EXPECT_EQ(s->slots->count, 32);
    PrxCompiled* rec = new_record();
    rec->failures = 3;
    s->slots->slots[0].compiled = rec;
    e.match_offset = 2;
    double result = 0;
    EXPECT_EQ(run(1.9, &result), 0u);
    EXPECT_EQ(result, 3.0);
    EXPECT_EQ(rec->failures, 0);
    EXPECT_EQ(e.trace, std::vector<std::string>{"match"});
    EXPECT_EQ(h->sessions.size(), 1u);
    // Failures are counted once and the slot's record is never released.
    e.match_status = 0x8017113Cu;
    for (int i = 0; i < 6; i++) {
        EXPECT_EQ(run(1.0, &result), 0x8017113Cu);
        EXPECT_EQ(result, 0.0);
        EXPECT_EQ(rec->failures, 1);
    }
    EXPECT_EQ(e.count("release"), 0);
    EXPECT_TRUE(h->messages.empty());
    // A slot without a record, and ids beyond the slots.
    for (double n : {2.0, 32.0, 33.0, 2147483647.0}) {
        h->messages.clear();
        EXPECT_EQ(run(n, &result), 0x8001D802u) << n;
        ASSERT_EQ(h->messages.size(), 1u);
        EXPECT_EQ(h->messages[0].number, 104);
    }
}

// A slot record without a bridge block reaches the engine with no
// interpreter and is answered 0x8017113C.
TEST_F(SessionTest, RecordWithoutBridgeBlock)
{
    ASSERT_EQ(prx_slot_alloc(main_handle()), 1);
    xk_session_of(main_handle())->slots->slots[0].compiled = new_record(false);
    double result = 5;
    EXPECT_EQ(run(1.0, &result), 0x8017113Cu);
    EXPECT_EQ(e.match_interp, nullptr);
    EXPECT_EQ(result, 0.0);
    ASSERT_EQ(h->reports.size(), 1u);
    EXPECT_EQ(h->reports[0].status, 0x8017113Cu);
}

TEST_F(SessionTest, FirstIdLookupCreatesTheSession)
{
    double result = 0;
    EXPECT_EQ(run(1.0, &result), 0x8001D802u);
    EXPECT_EQ(h->sessions.size(), 1u);
    XkFuncSession* s = xk_session_of(main_handle());
    ASSERT_NE(s, nullptr);
    ASSERT_NE(s->slots, nullptr);
    EXPECT_EQ(s->slots->count, 0);   // a table whose count is 0 answers every id with null
    EXPECT_EQ(run(1.0, &result), 0x8001D802u);
    EXPECT_EQ(h->sessions.size(), 1u);
}

TEST_F(SessionTest, NoSessionStopsTheHost)
{
    h->fail.fail_next = true;
    double result = 0;
    EXPECT_EQ(run(1.0, &result), 0x8001D802u);
    EXPECT_EQ(h->fatals, (std::vector<std::pair<int32_t, int32_t>>{{1016, 0}}));
    EXPECT_EQ(prx_slot_alloc(&h->task(1)->handle), 1);   // another task has its own session
}

TEST_F(SessionTest, SlotTableGrowsByThirtyTwo)
{
    host_task* t = main_handle();
    for (int i = 1; i <= 32; i++) {
        ASSERT_EQ(prx_slot_alloc(t), i);
        xk_session_of(t)->slots->slots[i - 1].in_use = &call;
    }
    EXPECT_EQ(xk_session_of(t)->slots->count, 32);
    EXPECT_EQ(prx_slot_alloc(t), 33);
    PrxSlotTable* table = xk_session_of(t)->slots;
    EXPECT_EQ(table->count, 64);
    EXPECT_EQ(table->slots[0].in_use, &call);
    EXPECT_EQ(table->slots[40].in_use, nullptr);
    EXPECT_EQ(h->main_task()->allocator->live.at(table->slots), 64u * 368u);
    // A free slot is reused first.
    table->slots[4].in_use = nullptr;
    EXPECT_EQ(prx_slot_alloc(t), 5);
    h->fail.fail_next = true;
    for (int i = 33; i <= 64; i++)
        table->slots[i - 1].in_use = &call;
    table->slots[4].in_use = &call;
    h->fail.fail_next = true;
    EXPECT_EQ(prx_slot_alloc(t), -1);
    EXPECT_EQ(table->count, 64);
}

TEST_F(SessionTest, KeysItemsAndFreeing)
{
    host_task* t = main_handle();
    host_pool* pool = t->allocator;
    ASSERT_EQ(prx_slot_alloc(t), 1);
    PrxSlot* slot = &xk_session_of(t)->slots->slots[0];
    int key1 = 0, key2 = 0;
    EXPECT_EQ(prx_slot_find_key(t, &key1), nullptr);
    EXPECT_EQ(prx_slot_find_key(t, nullptr), nullptr);
    slot->owner_key = &key1;
    slot->second_key = &key2;
    EXPECT_EQ(prx_slot_find_key(t, &key1), slot);
    EXPECT_EQ(prx_slot_find_key(t, &key2), slot);
    // Items: the array grows by 32 places at a time.
    slot->item_size = 24;
    for (int i = 1; i <= 33; i++)
        ASSERT_EQ(prx_slot_add_item(t, slot), i);
    EXPECT_EQ(slot->item_capacity, 64);
    pool->free(pool, slot->items[2], 0, 4);
    slot->items[2] = nullptr;
    EXPECT_EQ(prx_slot_add_item(t, slot), 3);
    // Owned blocks, a chain, and the compiled-pattern record.
    void** owned[] = {&slot->owned17, &slot->owned19, &slot->owned30, &slot->owned34, &slot->owned36, &slot->owned37};
    for (void** o : owned)
        *o = pool->alloc(pool, 16, 0x2006);
    void* c2 = pool->alloc(pool, 16, 0x2006);
    void* c1 = pool->alloc(pool, 16, 0x2006);
    std::memcpy(c1, &c2, sizeof c2);
    slot->chain = c1;
    slot->in_use = &call;
    slot->compiled = new_record();
    PrxCompiled* rec = slot->compiled;
    size_t before = h->main_task()->allocator->live.size();
    prx_slot_free(t, 1);
    // Everything went back: 33 items, the array, 6 owned, 2 chained, the record.
    EXPECT_EQ(h->main_task()->allocator->live.size(), before - 43);
    EXPECT_EQ(e.released, std::vector<PrxCompiled*>{rec});
    const uint8_t* words = reinterpret_cast<const uint8_t*>(slot);
    for (size_t i = 0; i < sizeof(PrxSlot); i++)
        ASSERT_EQ(words[i], 0) << i;
    prx_slot_free(t, 0);
    prx_slot_free(t, 33);
}

}  // namespace
