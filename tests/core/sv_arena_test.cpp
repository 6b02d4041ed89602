// Value heads, arenas, body chunks, upgrade and the destruction sweep.
#include "fixture.h"

#include "ds/src/prxsvint.h"

namespace {

using prxtest::Interp;
using SvArena = Interp;

int arena_count(PERLGCB* gcb)
{
    int n = 0;
    for (SV* a = gcb->sv_arena_chain; a; a = static_cast<SV*>(a->any))
        n++;
    return n;
}

int chunk_count(PERLGCB* gcb, uint32_t type)
{
    int n = 0;
    for (void* c = gcb->body_chunk_chain[type]; c; c = *static_cast<void**>(c))
        n++;
    return n;
}

TEST_F(SvArena, SixtyThirdHeadTakesASecondArena)
{
    ASSERT_EQ(gcb->sv_arena_chain, nullptr);
    std::vector<SV*> heads;
    for (int i = 0; i < 62; i++)
        heads.push_back(sv_new_head(gcb));
    EXPECT_EQ(arena_count(gcb), 1);
    EXPECT_EQ(gcb->sv_arena_chain->refcnt, 63u);
    EXPECT_EQ(gcb->sv_free_heads, nullptr);
    SV* h63 = sv_new_head(gcb);
    EXPECT_EQ(arena_count(gcb), 2);
    EXPECT_EQ(gcb->sv_live_count, 63u);
    EXPECT_EQ(h63->refcnt, 1u);
    EXPECT_EQ(h63->flags, 0u);
    EXPECT_EQ(h63->any, nullptr);
    // A released head goes back on the free list and is taken first.
    sv_release(gcb, heads[5]);
    EXPECT_EQ(heads[5]->flags, SVt_FREED);
    EXPECT_EQ(sv_new_head(gcb), heads[5]);
}

TEST_F(SvArena, SpareBlockIsCarvedOnce)
{
    gcb->sv_spare_block = pool_malloc(gcb, 160);
    gcb->sv_spare_size = 160;
    for (int i = 0; i < 9; i++)
        sv_new_head(gcb);
    EXPECT_EQ(gcb->sv_spare_block, nullptr);
    EXPECT_EQ(arena_count(gcb), 1);
    EXPECT_EQ(gcb->sv_arena_chain->refcnt, 10u);
    sv_new_head(gcb);
    EXPECT_EQ(arena_count(gcb), 2);
    EXPECT_EQ(gcb->sv_arena_chain->refcnt, 63u);
}

TEST_F(SvArena, BodyChunksHoldTheirCellCounts)
{
    struct Case {
        uint32_t type;
        int per_chunk;
    } cases[] = {{SVt_IV, 123}, {SVt_NV, 122}, {SVt_RV, 123}, {SVt_PV, 41}, {SVt_PVIV, 30},
                 {SVt_PVNV, 24}, {SVt_PVMG, 17}, {SVt_PVHV, 10}, {SVt_PVCV, 6}};
    for (const Case& c : cases) {
        while (gcb->body_free_list[c.type])
            sv_upgrade_body(gcb, sv_new_head(gcb), c.type);
        int before = chunk_count(gcb, c.type);
        for (int i = 0; i < c.per_chunk; i++)
            sv_upgrade_body(gcb, sv_new_head(gcb), c.type);
        EXPECT_EQ(chunk_count(gcb, c.type), before + 1) << c.type;
        EXPECT_EQ(gcb->body_free_list[c.type], nullptr) << c.type;
        sv_upgrade_body(gcb, sv_new_head(gcb), c.type);
        EXPECT_EQ(chunk_count(gcb, c.type), before + 2) << c.type;
    }
}

TEST_F(SvArena, UpgradeRaisesTargetsAndCarriesFields)
{
    struct Case {
        const char* what;
        uint32_t from;
        uint32_t to;
        uint32_t got;
    } cases[] = {
        {"PV to IV", SVt_PV, SVt_IV, SVt_PVIV},     {"PV to NV", SVt_PV, SVt_NV, SVt_PVNV},
        {"IV to NV", SVt_IV, SVt_NV, SVt_PVNV},     {"IV to RV", SVt_IV, SVt_RV, SVt_PVIV},
        {"NV to PV", SVt_NV, SVt_PV, SVt_PVNV},     {"NV to PVIV", SVt_NV, SVt_PVIV, SVt_PVNV},
        {"NULL to RV", SVt_NULL, SVt_RV, SVt_RV},   {"PVIV to PVMG", SVt_PVIV, SVt_PVMG, SVt_PVMG},
        {"PV to PV", SVt_PV, SVt_PV, SVt_PV},       {"PVMG to PVGV", SVt_PVMG, SVt_PVGV, SVt_PVGV},
    };
    for (const Case& c : cases) {
        SV* sv = sv_new_head(gcb);
        if (c.from != SVt_NULL)
            sv_upgrade_body(gcb, sv, c.from);
        EXPECT_EQ(sv_upgrade_body(gcb, sv, c.to), 1) << c.what;
        EXPECT_EQ(sv_type(sv), c.got) << c.what;
    }

    SV* iv = sv_new_from_int(gcb, -7);
    sv_upgrade_body(gcb, iv, SVt_PVIV);
    EXPECT_EQ(sv_type(iv), SVt_PVIV);
    EXPECT_EQ(iv->flags & (SVf_IOK | SVp_IOK | SVf_NOK | SVp_NOK), SVf_IOK | SVp_IOK);
    EXPECT_EQ(sv_iv(iv), -7);

    SV* iv2 = sv_new_from_int(gcb, 42);
    sv_upgrade_body(gcb, iv2, SVt_NV);
    EXPECT_EQ(sv_type(iv2), SVt_PVNV);
    EXPECT_EQ(sv_nv(iv2), 42.0);
    EXPECT_EQ(sv_iv(iv2), 42);

    SV* nv = sv_new_from_double(gcb, 3e9);
    sv_upgrade_body(gcb, nv, SVt_PVMG);
    EXPECT_EQ(sv_iv(nv), 3000000000);   // saturating conversion of the carried double
    EXPECT_EQ(sv_nv(nv), 3e9);

    SV* pv = sv_new_from_bytes(gcb, "hello", 5);
    char* buf = sv_pv(pv);
    sv_upgrade_body(gcb, pv, SVt_PVMG);
    EXPECT_EQ(sv_pv(pv), buf);
    EXPECT_EQ(str(pv), "hello");
    EXPECT_EQ(sv_magic_chain(pv), nullptr);
}

TEST_F(SvArena, AggregatesAndHandlesByUpgrade)
{
    SV* av = sv_new_from_bytes(gcb, "text", 4);
    sv_upgrade_body(gcb, av, SVt_PVAV);
    EXPECT_EQ(av_body(sv_as<AV>(av))->fill, -1);
    EXPECT_EQ(av_body(sv_as<AV>(av))->max, -1);
    EXPECT_EQ(av_body(sv_as<AV>(av))->array, nullptr);

    SV* io = sv_new_head(gcb);
    sv_upgrade_body(gcb, io, SVt_PVIO);
    EXPECT_EQ(static_cast<PVIO*>(io->any)->page_len, 60);
    EXPECT_EQ(static_cast<PVIO*>(io->any)->lines, 0);

    SV* gv = sv_new_from_int(gcb, 9);
    sv_upgrade_body(gcb, gv, SVt_PVGV);
    EXPECT_EQ(sv_iv(gv), 9);
    EXPECT_EQ(static_cast<PVGV*>(gv->any)->gp, nullptr);
}

TEST_F(SvArena, UpgradeOfAnOffsetStringRestoresTheBuffer)
{
    SV* sv = sv_new_from_bytes(gcb, "abcdef", 6);
    char* start = sv_pv(sv);
    uint64_t len = sv_len(sv);
    sv_chop_front(gcb, sv, start + 2);
    ASSERT_TRUE(sv->flags & SVf_OOK);
    EXPECT_EQ(sv_pv(sv), start + 2);
    sv_upgrade_body(gcb, sv, SVt_PV);
    EXPECT_EQ(sv_type(sv), SVt_PV);
    EXPECT_FALSE(sv->flags & SVf_OOK);
    EXPECT_EQ(sv_pv(sv), start);
    EXPECT_EQ(sv_len(sv), len);
    EXPECT_EQ(str(sv), "cdef");
}

TEST_F(SvArena, SweepLeavesImmortalsAndFreesEverything)
{
    SV* a = sv_new_from_bytes(gcb, "x", 1);
    SV* b = sv_new_from_int(gcb, 3);
    SV* r = sv_new_reference(gcb, a);   // a now counted twice
    sv_new_head(gcb);
    (void)b;
    (void)r;
    uint32_t live = gcb->sv_live_count;
    int32_t visited = sv_release_all(gcb);
    EXPECT_GE(visited, 3);
    EXPECT_LE(static_cast<uint32_t>(visited), live);
    EXPECT_EQ(gcb->sv_live_count, 0u);
    EXPECT_EQ(gcb->sv_clean_all, 0);
    for (SV* imm : {&gcb->sv_undef, &gcb->sv_yes, &gcb->sv_no}) {
        EXPECT_EQ(imm->refcnt, 0x7FFFFFFFu);
        EXPECT_NE(imm->flags & 0xFF, SVt_FREED);
    }
    sv_arena_free_all(gcb);
    EXPECT_EQ(gcb->sv_arena_chain, nullptr);
    EXPECT_EQ(gcb->sv_free_heads, nullptr);
    for (uint32_t t = 1; t <= SVt_PVCV; t++)
        EXPECT_EQ(gcb->body_chunk_chain[t], nullptr);
    EXPECT_EQ(sv_release_all(gcb), 0);
}

TEST_F(SvArena, CallerArenaIsNeverFreed)
{
    alignas(16) static SV block[8];
    sv_arena_add_block(gcb, block, sizeof block, SVf_FAKE);
    SV* sv = sv_new_head(gcb);
    EXPECT_TRUE(sv >= block && sv < block + 8);
    EXPECT_EQ(block[0].refcnt, 8u);
    sv_arena_free_all(gcb);   // must not hand the static block to the pool
    EXPECT_EQ(gcb->sv_arena_chain, nullptr);
}

}  // namespace
