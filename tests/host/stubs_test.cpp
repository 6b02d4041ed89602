// The host-service call stubs and the task locator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "host/hostcall.h"
#include "hostsim/hostsim.h"

namespace {

class StubsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        h = &hostsim::reset();
        g_host_vector = &h->vec;
    }
    hostsim::Host* h = nullptr;
};

// Every stub reaches its own group and slot and marks its group in use.
TEST_F(StubsTest, EveryStubReachesItsGroupAndSlot)
{
    // Replace every service by one that only answers, so that no real work runs.
#define HOST_SVC(G, S, NAME, RET, PARAMS, ARGS) h->over.NAME = [](auto...) { return std::type_identity_t<RET>(); };
#define HOST_SVC_VA(G, S, NAME, RET, PARAMS, ARGS)
#include "host/hostsvc.def"
#undef HOST_SVC
#undef HOST_SVC_VA
    struct Case {
        unsigned group, slot;
        void (*call)();
    };
    const Case cases[] = {
        {0, 71, [] { xkBindInterface(0, nullptr, nullptr); }},
        {0, 79, [] { xkUnbindInterface(0, nullptr, nullptr, nullptr); }},
        {0, 84, [] { xkLoadModule(0, "X       ", 2); }},
        {0, 118, [] { xkPoolCreate(nullptr, 0, 0, 0, nullptr); }},
        {0, 144, [] { xkStatusMessage(0); }},
        {0, 192, [] { xkSessionRegister(nullptr, 37, nullptr); }},
        {0, 204, [] { xkSleep(0, 2, 0); }},
        {0, 291, [] { xkDateTime(); }},
        {0, 305, [] { xkTextToDouble(nullptr); }},
        {0, 320, [] { xkTextToInteger(nullptr, 0, 0, nullptr, nullptr); }},
        {0, 330, [] { xkMbcsLower(nullptr, 0); }},
        {0, 331, [] { xkMbcsUpper(nullptr, 0); }},
        {1, 2, [] { xkGroup1Slot2(nullptr, nullptr, nullptr, nullptr); }},
        {1, 11, [] { xkTaskSwitch(nullptr, nullptr, nullptr); }},
        {39, 4, [] { xkFatal(1016, 0); }},
        {39, 34, [] { xkPoolRealloc(nullptr, nullptr, 0, 0, 0); }},
        {39, 35, [] { xkPoolDestroy(nullptr); }},
        {39, 56, [] { xkOptionString(nullptr, 4163, 0, 0, 0, nullptr, nullptr, 0, nullptr); }},
        {39, 57, [] { xkOptionValue("YEARCUTOFF", 10, 0, 0, 0, nullptr, nullptr, nullptr); }},
        {39, 89, [] { xkPutLog("x"); }},
        {39, 97, [] { xkPutLines(nullptr, "x", 1); }},
        {39, 108, [] { xkGroup39Slot108(nullptr, -1); }},
        {39, 125, [] { xkIssueMessage(nullptr, 738, 304, "CHDIR"); }},
        {39, 130, [] { xkReportStatus(nullptr, 0); }},
        {39, 138, [] { xkGroup39Slot138(nullptr, 28, 1); }},
        {39, 165, [] { xkNamedBlockSet(nullptr, 1, "PERLGCB", 7, nullptr); }},
        {39, 167, [] { xkNamedBlockGet(nullptr, 2, "PERLGCB", 7, nullptr, 0); }},
        {39, 184, [] { xkFormatDouble(nullptr); }},
        {39, 194, [] {
             char t[8];
             xkGroup39Slot194(t);
         }},
        {39, 79, [] { xkGroup39Slot79(nullptr, nullptr, nullptr, nullptr); }},
        {39, 104, [] { xkGroup39Slot104(nullptr, nullptr, nullptr, nullptr); }},
        {40, 277, [] { xkGroup40Slot277(nullptr, nullptr, nullptr, nullptr); }},
        {49, 31, [] { xkGroup49Slot31(nullptr, nullptr, nullptr, nullptr); }},
    };
    for (const Case& c : cases) {
        h->calls.clear();
        std::memset(h->in_use, 0, sizeof h->in_use);
        c.call();
        ASSERT_EQ(h->calls.size(), 1u) << c.group << "/" << c.slot;
        EXPECT_EQ(h->calls[0].group, c.group);
        EXPECT_EQ(h->calls[0].slot, c.slot);
        EXPECT_EQ(h->in_use[c.group], 1) << c.group << "/" << c.slot;
        int marked = 0;
        for (uint8_t b : h->in_use)
            marked += b;
        EXPECT_EQ(marked, 1);
    }
}

// A stub passes every argument and the result through unchanged, also the
// fifth and later ones.
TEST_F(StubsTest, ArgumentsAndResultPassThrough)
{
    std::vector<int64_t> seen;
    h->over.xkOptionString = [&](void* a, int32_t kind, int32_t c, int32_t d, int32_t e, char* buffer,
                                 int32_t* size, int32_t flags, host_task* task) {
        seen = {reinterpret_cast<int64_t>(a), kind, c, d, e, reinterpret_cast<int64_t>(buffer),
                reinterpret_cast<int64_t>(size), flags, reinterpret_cast<int64_t>(task)};
        return static_cast<int32_t>(0x8001C8AAu);
    };
    char buf[4];
    int32_t size = 4;
    host_task* t = &h->task(1)->handle;
    int32_t r = xkOptionString(reinterpret_cast<void*>(9), 4163, 3, 4, 5, buf, &size, 8, t);
    EXPECT_EQ(static_cast<uint32_t>(r), 0x8001C8AAu);
    std::vector<int64_t> want = {9, 4163, 3, 4, 5, reinterpret_cast<int64_t>(buf),
                                 reinterpret_cast<int64_t>(&size), 8, reinterpret_cast<int64_t>(t)};
    EXPECT_EQ(seen, want);

    // A failing service still marks its group in use; its status reaches the caller.
    std::memset(h->in_use, 0, sizeof h->in_use);
    int32_t consumed = 0, value = 0;
    EXPECT_NE(xkTextToInteger("abc", 3, 0, &consumed, &value), 0);
    EXPECT_EQ(h->in_use[0], 1);
}

// The current task: the no-task flag; slot 56's cell; without slot 56 the
// first word of the main task record; the value 1 names the main task.
TEST_F(StubsTest, CurrentTaskRule)
{
    hostsim::Task* main = h->main_task();
    hostsim::Task* t1 = h->task(1);
    EXPECT_EQ(host_current_task(), &main->record);
    EXPECT_EQ(host_task_handle(host_current_task()), &main->handle);

    h->make_current(t1);
    EXPECT_EQ(host_current_task(), &t1->record);
    EXPECT_EQ(host_main_task(), &main->record);

    h->use_task_cell(false);
    ASSERT_EQ(h->vec.current_task_cell, nullptr);
    main->record.cell = &t1->record;
    EXPECT_EQ(host_current_task(), &t1->record);
    main->record.cell = reinterpret_cast<void*>(1);
    EXPECT_EQ(host_current_task(), &main->record);
    EXPECT_EQ(host_current_task_cell_value(), reinterpret_cast<void*>(1));

    h->vec.no_task = 1;
    EXPECT_EQ(host_current_task(), nullptr);
    EXPECT_EQ(host_main_task(), nullptr);
    EXPECT_EQ(host_current_task_cell_value(), nullptr);
}

TEST_F(StubsTest, LinkageCallbacksAnswerOne)
{
    EXPECT_EQ(linkage_return_one(), 1);
}

}  // namespace
