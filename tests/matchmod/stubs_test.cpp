// matchmod's host-service stubs: each marks its group in use and reaches
// its group and slot with the caller's arguments, and the service's result
// comes back unchanged.
#include <functional>

#include "mmfixture.h"

namespace {

struct StubCase {
    unsigned group;
    unsigned slot;
    std::function<int64_t()> call;   // returns what the stub returned (0 for none)
    int64_t expect;
};

using StubsTest = MmTest;

TEST_F(StubsTest, EveryStubReachesItsGroupAndSlot)
{
    // Services answer values a stub would have no reason to invent.
    h->over.xkLoadModule = [](uint32_t id, const char* name, int32_t mode) -> int32_t {
        return id == 327863u && std::string(name, 8) == "REXHOST " && mode == 2 ? 0x1234 : -1;
    };
    h->over.xkSessionRegister = [](host_task*, int32_t key, void* rec) -> int32_t {
        return key == 37 && rec ? 0x2345 : -1;
    };
    h->over.xkTextToInteger = [](const char*, int32_t len, int32_t, int32_t*, int32_t*) -> int32_t { return len; };
    h->over.xkPoolRealloc = [](host_pool*, void* b, uint32_t old, uint32_t, uint32_t) -> void* {
        return old == 0xFFFFFFFFu ? b : nullptr;
    };
    h->over.xkOptionValue = [](const char*, int32_t len, int32_t, int32_t, int32_t, void*, void*, host_task*) -> int32_t {
        return len * 3;
    };
    h->over.xkOptionString = [](void*, int32_t kind, int32_t, int32_t, int32_t, char*, int32_t*, int32_t,
                                host_task*) -> int32_t { return kind; };
    h->over.xkGroup39Slot108 = [](void*, int32_t b) -> int64_t { return 500 + b; };
    h->over.xkGroup39Slot138 = [](void*, int32_t b, int32_t c) -> int64_t { return b * 10 + c; };
    h->over.xkGroup1Slot2 = [](void*, void*, void*, void*) -> int64_t { return 77; };
    h->over.xkGroup39Slot79 = [](void*, void*, void*, void*) -> int64_t { return 79; };
    h->over.xkGroup39Slot104 = [](void*, void*, void*, void*) -> int64_t { return 104; };
    h->over.xkGroup40Slot277 = [](void*, void*, void*, void*) -> int64_t { return 277; };
    h->over.xkGroup49Slot31 = [](void*, void*, void*, void*) -> int64_t { return 31; };
    int marker = 0;
    char text8[8];
    host_task* t = main_handle();
    const StubCase cases[] = {
        {0, 84, [] { return int64_t{xkLoadModule(327863, "REXHOST ", 2)}; }, 0x1234},
        {0, 192, [&] { return int64_t{xkSessionRegister(t, 37, &marker)}; }, 0x2345},
        {0, 320, [] { return int64_t{xkTextToInteger("17", 2, 0, nullptr, nullptr)}; }, 2},
        {39, 130, [&] { xkReportStatus(t, 0x8001D84Au); return int64_t{0}; }, 0},
        {39, 125, [&] { xkIssueMessage(t, 738, 204, "PRXMATCH"); return int64_t{0}; }, 0},
        {39, 89, [] { xkPutLog("line"); return int64_t{0}; }, 0},
        {39, 4, [] { xkFatal(1016, 0); return int64_t{0}; }, 0},
        {39, 34, [&] { return int64_t{xkPoolRealloc(nullptr, &marker, 0xFFFFFFFFu, 8, 6) == &marker}; }, 1},
        {39, 57, [] { return int64_t{xkOptionValue("YEARCUTOFF", 10, 0, 0, 0, nullptr, nullptr, nullptr)}; }, 30},
        {39, 194, [&] { xkGroup39Slot194(text8); return int64_t{0}; }, 0},
        {39, 56, [] { return int64_t{xkOptionString(nullptr, 4163, 0, 0, 0, nullptr, nullptr, 0, nullptr)}; }, 4163},
        {39, 108, [] { return xkGroup39Slot108(nullptr, -1); }, 499},
        {39, 138, [] { return xkGroup39Slot138(nullptr, 28, 1); }, 281},
        {1, 2, [] { return xkGroup1Slot2(nullptr, nullptr, nullptr, nullptr); }, 77},
        {39, 79, [] { return xkGroup39Slot79(nullptr, nullptr, nullptr, nullptr); }, 79},
        {39, 104, [] { return xkGroup39Slot104(nullptr, nullptr, nullptr, nullptr); }, 104},
        {40, 277, [] { return xkGroup40Slot277(nullptr, nullptr, nullptr, nullptr); }, 277},
        {49, 31, [] { return xkGroup49Slot31(nullptr, nullptr, nullptr, nullptr); }, 31},
    };
    for (const StubCase& c : cases) {
        h->clear_records();
        EXPECT_EQ(c.call(), c.expect) << c.group << "/" << c.slot;
        ASSERT_FALSE(h->calls.empty()) << c.group << "/" << c.slot;
        EXPECT_EQ(h->calls.back().group, c.group);
        EXPECT_EQ(h->calls.back().slot, c.slot);
        EXPECT_EQ(h->in_use[c.group], 1) << c.group << "/" << c.slot;
    }
}

// The group 183 stubs reach the bound entry table's slots.
struct Seen {
    int slot = 0;
    const void* args[3]{};
};
Seen seen;

uint32_t t_match(PERLGCB* i, host_task* t, re_compiled* p, const char*, const char*, const char*, int32_t, uint32_t)
{
    seen = {6, {i, t, p}};
    return 0x8017113Bu;
}
void t_errors(host_task* t, PERLGCB* i, const char* n) { seen = {8, {t, i, n}}; }
void t_notes(host_task* t, PERLGCB* i, const char* n) { seen = {9, {t, i, n}}; }
uint32_t t_compile(PrxCompiled* r, host_task* t, const char* text, int32_t, const char*, int32_t)
{
    seen = {11, {r, t, text}};
    return 0x8001C803u;
}
void t_release(host_task* t, PrxCompiled* r) { seen = {12, {t, r, nullptr}}; }

TEST_F(StubsTest, EntrySlotStubsReachTheBoundTable)
{
    static rexhost_entry_table table{};
    table.match = &t_match;
    table.report_errors = &t_errors;
    table.report_notes = &t_notes;
    table.compile = &t_compile;
    table.release = &t_release;
    ASSERT_EQ(h->bind(327863, &table), 0);
    auto* interp = reinterpret_cast<PERLGCB*>(0x1000);
    auto* task = reinterpret_cast<host_task*>(0x2000);
    auto* pat = reinterpret_cast<re_compiled*>(0x3000);
    auto* rec = reinterpret_cast<PrxCompiled*>(0x4000);

    h->in_use[183] = 0;
    EXPECT_EQ(rexhost_match(interp, task, pat, "a", "a", "a", 0, 0), 0x8017113Bu);
    EXPECT_EQ(seen.slot, 6);
    EXPECT_EQ(seen.args[0], interp);
    EXPECT_EQ(seen.args[2], pat);
    EXPECT_EQ(h->in_use[183], 1);

    rexhost_report_errors(task, interp, "PRXMATCH");
    EXPECT_EQ(seen.slot, 8);
    EXPECT_EQ(std::string(static_cast<const char*>(seen.args[2])), "PRXMATCH");
    rexhost_report_notes(task, interp, "PRXMATCH");
    EXPECT_EQ(seen.slot, 9);
    EXPECT_EQ(rexhost_compile(rec, task, "/a/", 3, "PRXMATCH", 1), 0x8001C803u);
    EXPECT_EQ(seen.slot, 11);
    EXPECT_EQ(seen.args[0], rec);
    rexhost_release(task, rec);
    EXPECT_EQ(seen.slot, 12);
    EXPECT_EQ(seen.args[1], rec);
}

}  // namespace
