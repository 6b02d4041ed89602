// matchmod's module entry and the handler that describes PRXMATCH.
#include "mmfixture.h"

namespace {

using EntryTest = MmTest;

TEST_F(EntryTest, EntryKeepsTheHostRecords)
{
    const TOV_Image_Information* info = mcn_main(&h->vec, h);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(std::string(info->marker), "TOV_Image_Information=");
    EXPECT_EQ(g_host_vector, &h->vec);
    EXPECT_EQ(g_module_handle, h);
    EXPECT_EQ(g_xk_services, &tk->services);
    const module_linkage* l = info->linkage[0];
    EXPECT_EQ(std::string(l->name, 8), "matchmod");
    EXPECT_EQ(l->routine.handler, &prxmatch_describe);
    // The linkage record's task callback reaches host service group 1 slot 2.
    h->over.xkGroup1Slot2 = [](void* a, void*, void*, void*) -> int64_t { return a ? 11 : 12; };
    auto cb = l->callback2;
    EXPECT_EQ(cb(h, nullptr, nullptr, nullptr), 11);
    EXPECT_EQ(h->calls.back().group, 1u);
    EXPECT_EQ(h->calls.back().slot, 2u);
}

TEST_F(EntryTest, Requests)
{
    hostsim::Pool* pool = h->host_pool_;
    uint64_t before = pool->allocations;
    EXPECT_EQ(prxmatch_describe(0), nullptr);
    EXPECT_EQ(prxmatch_describe(3), nullptr);
    EXPECT_EQ(pool->allocations, before);

    auto* list = static_cast<XkFuncDescriptorListRec*>(prxmatch_describe(1));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(pool->live.at(list), 16u);
    EXPECT_EQ(list->count, 1);
    EXPECT_EQ(std::string(list->descriptors[0].name), "PRXMATCH");
    auto** cbs = static_cast<void**>(prxmatch_describe(2));
    ASSERT_NE(cbs, nullptr);
    EXPECT_EQ(pool->live.at(cbs), 16u);
    EXPECT_EQ(cbs[0], nullptr);
    EXPECT_EQ(cbs[1], reinterpret_cast<void*>(&prxmatch_call));
    EXPECT_EQ(xkFuncDescriptorList(3, 1, nullptr, nullptr), nullptr);
}

TEST_F(EntryTest, NoMemoryStopsTheHost)
{
    for (int64_t request : {1, 2}) {
        h->fatals.clear();
        h->fail.fail_next = true;
        EXPECT_EQ(prxmatch_describe(request), nullptr);
        EXPECT_EQ(h->fatals, (std::vector<std::pair<int32_t, int32_t>>{{1016, 0}}));
    }
}

}  // namespace
