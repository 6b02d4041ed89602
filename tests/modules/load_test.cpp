// Both modules loaded the way the host loads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/prxabi.h"
#include "hostsim/hostsim.h"

#include <dlfcn.h>

namespace {

std::string exported_symbols(const std::string& so)
{
    std::string cmd = "nm -D --defined-only " + so + " | awk '{print $3}' | sort";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[256];
    while (p && fgets(buf, sizeof buf, p))
        out += buf;
    if (p)
        pclose(p);
    return out;
}

TEST(Modules, ExportExactlyTheTwoEntries)
{
    hostsim::Host& h = hostsim::reset();
    for (const char* name : {"REXHOST", "MATCHMOD"})
        EXPECT_EQ(exported_symbols(h.module_paths[name]), "mcn_main\nxkvercn1\n") << name;
}

TEST(Modules, ImageInformationAndLinkage)
{
    hostsim::Host& h = hostsim::reset();
    struct Case {
        const char* module;
        const char* linkage_name;
    } cases[] = {{"REXHOST ", "rexhost "}, {"MATCHMOD", "matchmod"}};
    for (const Case& c : cases) {
        hostsim::LoadedModule* m = h.load(c.module);
        ASSERT_NE(m, nullptr) << c.module;
        EXPECT_EQ(std::string(m->image->marker), "TOV_Image_Information=");
        EXPECT_EQ(m->image->magic, 0xB0BDEBEDu);
        EXPECT_EQ(m->image->version, 8u);
        EXPECT_EQ(std::string(m->image->sequence), "001");
        EXPECT_EQ(m->image->linkage, m->image->linkage_list);
        EXPECT_EQ(m->image->linkage_list[1], nullptr);
        const module_linkage* l = m->linkage;
        EXPECT_EQ(std::string(l->name, 8), c.linkage_name);
        EXPECT_EQ(l->w2, 0xFFFF);
        EXPECT_EQ(l->w4, 0x400u);
        EXPECT_EQ(l->w24, 0x25D3u);
        EXPECT_EQ(l->w2c, 0xFu);
        EXPECT_EQ(l->w48, 3u);
        EXPECT_EQ(l->callback1(), 1);
        EXPECT_EQ(l->callback3(), 1);
        // xkvercn1 copies the 208-byte version block.
        auto vercn = reinterpret_cast<xkvercn1_fn>(dlsym(m->dl, "xkvercn1"));
        ASSERT_NE(vercn, nullptr);
        uint8_t block[208];
        std::memset(block, 0, sizeof block);
        vercn(block);
        EXPECT_EQ(std::memcmp(block, m->image->version_block, 208), 0);
    }
}

TEST(Modules, RexhostBindsItsEntryTable)
{
    hostsim::Host& h = hostsim::reset();
    hostsim::LoadedModule* m = h.load("REXHOST ");
    ASSERT_NE(m, nullptr);
    // Group 183 slot s is entry slot s of the bound table.
    host_service_group g = h.vec.groups[183];
    ASSERT_NE(g, h.tables[183].data());
    EXPECT_EQ(reinterpret_cast<void* const*>(g)[-3], nullptr);
    for (int s = 1; s <= 18; s++)
        EXPECT_NE(g[s], nullptr) << s;
    EXPECT_EQ(h.in_use[0], 1);
    EXPECT_EQ(h.calls.back().slot, 71u);
}

TEST(Modules, MatchmodDescribesPrxmatch)
{
    hostsim::Host& h = hostsim::reset();
    hostsim::LoadedModule* m = h.load("MATCHMOD");
    ASSERT_NE(m, nullptr);
    auto handler = m->linkage->routine.handler;
    EXPECT_EQ(handler(0), nullptr);
    EXPECT_EQ(handler(3), nullptr);
    auto* list = static_cast<XkFuncDescriptorListRec*>(handler(1));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 1);
    const XkFuncDescriptor* d = list->descriptors;
    EXPECT_EQ(std::string(d->name), "PRXMATCH");
    EXPECT_EQ(d->min_args, 2);
    EXPECT_EQ(d->max_args, 2);
    EXPECT_EQ(d->attr1, 0x42u);
    EXPECT_EQ(d->attr2, 0x8000u);
    EXPECT_EQ(d->attr3, 0x13u);
    void** cbs = static_cast<void**>(handler(2));
    ASSERT_NE(cbs, nullptr);
    EXPECT_EQ(cbs[0], nullptr);
    EXPECT_NE(cbs[1], nullptr);
    EXPECT_EQ(h.host_pool_->live.at(cbs), 16u);
    EXPECT_EQ(h.host_pool_->live.at(list), 16u);
}

}  // namespace
