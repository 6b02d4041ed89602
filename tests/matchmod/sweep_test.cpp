// Allocation failures swept over PRXMATCH calls through the scripted engine:
// the first allocation of the call fails (and every later one), then from the
// second on, and so on until the call runs without meeting a failure. Each
// run must end with the call's own outcome or with the no-memory outcome of
// its road; every block the call took is released or still reachable from
// what the call keeps; and the next call, with memory back, gets the call's
// own outcome. The same sweep over the real bridge is
// tests/modules/bridge_sweep_test.cpp.
#include <cstring>
#include <set>
#include <sstream>

#include "engine.h"
#include "matchmod/mmsession.h"
#include "mmfixture.h"

namespace {

struct Outcome {
    uint32_t status = 0;
    uint64_t result = 0;                 // bits of the result
    std::vector<int32_t> messages;       // catalogue numbers
    std::vector<std::pair<int32_t, int32_t>> fatals;
    bool engine_called = false;

    bool operator==(const Outcome&) const = default;
    std::string text() const
    {
        std::ostringstream s;
        s << std::hex << "status 0x" << status << " result 0x" << result << std::dec << " messages";
        for (int32_t m : messages)
            s << ' ' << m;
        s << " fatals";
        for (auto& f : fatals)
            s << ' ' << f.first << '/' << f.second;
        s << (engine_called ? " engine called" : " engine not called");
        return s.str();
    }
};

constexpr uint64_t MISSING = 0xFFFFD10000000000ull;

struct Case {
    const char* what;
    bool by_id;                 // the first argument is pattern id 1
    bool prepared_slot;         // slot 1 holds a compiled pattern before the call
    uint8_t kind;
    bool constant;
    uint32_t compile_status;    // what the scripted compile answers
    Outcome done;               // the call's own outcome
    Outcome no_memory;          // the outcome when its road runs out of memory
};

struct Sweep : MmTest {
    ScriptedEngine e;
    XkValue pat{};
    XkValue src{};
    XkFuncCall call{};

    void start(const Case& c)
    {
        e = ScriptedEngine{};
        pat = XkValue{};
        src = XkValue{};
        call = XkFuncCall{};
        MmTest::SetUp();
        e.bind(*h);
        e.match_offset = 1;
        e.compile_status = c.compile_status;
        e.compile_sets_pattern = c.compile_status == 0;
        call.task = main_handle();
        call.kind = c.kind;
        call.arg1 = &pat;
        call.arg2 = &src;
        call.arg_flags = static_cast<uint8_t>((c.constant ? XKARG_CONSTANT : 0) | (c.by_id ? XKARG_NUMERIC : 0));
        if (c.by_id)
            pat.number = 1;
        else {
            pat.text = "/b/";
            pat.length = 3;
        }
        src.text = "abc";
        src.length = 3;
        if (c.prepared_slot) {
            // Filled as a host function that registers patterns fills it.
            ASSERT_EQ(prx_slot_alloc(main_handle()), 1);
            PrxSlot* slot = &xk_session_of(main_handle())->slots->slots[0];
            auto* rec = static_cast<PrxCompiled*>(
                main_handle()->allocator->alloc(main_handle()->allocator, sizeof(PrxCompiled), POOL_ALLOC_ZERO6));
            ASSERT_NE(rec, nullptr);
            rec->pattern = &e.pattern;
            rec->bridge = &e.bridge;
            slot->in_use = rec;
            slot->compiled = rec;
        }
    }

    Outcome call_once()
    {
        h->clear_records();
        e.trace.clear();
        double result = 0;
        Outcome o;
        o.status = prxmatch_call(&call, &result, nullptr, nullptr);
        std::memcpy(&o.result, &result, 8);
        for (auto& m : h->messages)
            o.messages.push_back(m.number);
        o.fatals = h->fatals;
        o.engine_called = e.count("match") + e.count("compile") > 0;
        return o;
    }

    // Blocks of the task's allocator that nothing the call keeps reaches: not
    // the call site's record, not the session record with its stream, tables
    // and slots.
    std::vector<void*> unreachable_blocks()
    {
        std::set<void*> kept;
        kept.insert(call.cached);
        if (XkFuncSession* s = xk_session_of(main_handle())) {
            kept.insert({static_cast<void*>(s), static_cast<void*>(s->rng), static_cast<void*>(s->delimiters),
                         static_cast<void*>(s->table2), static_cast<void*>(s->slots)});
            if (s->slots && s->slots->slots) {
                kept.insert(s->slots->slots);
                for (int32_t i = 0; i < s->slots->count; i++) {
                    PrxSlot& slot = s->slots->slots[i];
                    kept.insert({static_cast<void*>(slot.compiled), slot.in_use, static_cast<void*>(slot.items)});
                }
            }
        }
        std::vector<void*> lost;
        auto* pool = reinterpret_cast<hostsim::Pool*>(main_handle()->allocator);
        for (auto& [block, size] : pool->live)
            if (!kept.count(block))
                lost.push_back(block);
        return lost;
    }
};

TEST_F(Sweep, EveryAllocationOfACallMayFail)
{
    const Outcome match{0, 0x4000000000000000ull, {}, {}, true};   // position 2
    const Outcome record_lost{0x8001D811u, MISSING, {}, {}, false};
    const Outcome bad_id{0x8001D802u, MISSING, {104}, {}, false};
    const Outcome bad_id_stopped{0x8001D802u, MISSING, {104}, {{1016, 0}}, false};
    const Case cases[] = {
        {"text pattern released after the call", false, false, 'X', false, 0, match, record_lost},
        {"text pattern kept on the call site", false, false, 'h', true, 0, match, record_lost},
        {"text pattern that does not compile", false, false, 'X', false, 0x8001C803u,
         Outcome{0x0001D804u, MISSING, {}, {}, true}, record_lost},
        {"pattern id of a new session", true, false, 'X', false, 0, bad_id, bad_id_stopped},
        {"pattern id of a filled slot", true, true, 'X', false, 0, match, bad_id_stopped},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int64_t n = 0;
        for (;; n++) {
            start(c);
            h->fail.fail_after = n;
            Outcome o = call_once();
            uint64_t failures = h->fail.failures;
            h->fail = hostsim::FailPolicy{};
            EXPECT_TRUE(o == c.done || o == c.no_memory) << "allocation " << n + 1 << " failing: " << o.text();
            std::vector<void*> lost = unreachable_blocks();
            EXPECT_TRUE(lost.empty()) << "allocation " << n + 1 << " failing: " << lost.size() << " blocks lost";
            Outcome again = call_once();
            EXPECT_EQ(again, c.done) << "after allocation " << n + 1 << " failed: " << again.text();
            if (failures == 0) {
                EXPECT_EQ(o, c.done) << o.text();
                break;
            }
            ASSERT_LT(n, 100) << "the call never completes";
        }
        // The prepared slot needs no memory; the other roads allocate.
        EXPECT_EQ(n == 0, c.prepared_slot) << n << " allocations";
    }
}

}  // namespace
