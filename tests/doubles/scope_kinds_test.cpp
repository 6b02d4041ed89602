// Every save-stack kind, pushed in kind order and undone in reverse order
// by one leave_scope: before each entry is undone, the entry above it has
// been undone and it has not. The op-tree release is a double here.
#include <functional>
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"
#include "hostsim/hostsim.h"

namespace {

using prxtest::Stacks;

struct Probe {
    std::function<bool()> restored;
};

class ScopeKinds : public Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        doubles::freed_ops = &freed;
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }
    bool block_live(void* block)
    {
        auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
        return pool->live.count(block) != 0;
    }

    std::vector<OP*> freed;
    std::vector<Probe> probes;
    std::vector<std::string> failures;
    static ScopeKinds* self;

    // Pushed after the entry of kind k: runs just before that entry is
    // undone, when kind k + 1 has been undone and kind k has not.
    static void marker(PERLGCB*, void* arg)
    {
        auto k = static_cast<size_t>(reinterpret_cast<intptr_t>(arg));
        if (self->probes[k].restored())
            self->failures.push_back("kind " + std::to_string(k) + " undone too early");
        if (k + 1 < self->probes.size() && !self->probes[k + 1].restored())
            self->failures.push_back("kind " + std::to_string(k + 1) + " not undone");
    }
    void mark(size_t k, std::function<bool()> restored)
    {
        ASSERT_EQ(probes.size(), k);
        probes.push_back({std::move(restored)});
        save_push_destructor(gcb, marker, reinterpret_cast<void*>(static_cast<intptr_t>(k)));
    }
};
ScopeKinds* ScopeKinds::self = nullptr;

void plain_destructor(void* arg) { *static_cast<int*>(arg) += 1; }
void destructor_x(PERLGCB*, void* arg) { *static_cast<int*>(arg) += 1; }

TEST_F(ScopeKinds, EveryKindIsUndoneInReverseOrder)
{
    self = this;
    // 0 item
    SV* item = pv("old");
    save_push_item(gcb, item);
    sv_set_cstring(gcb, item, "new");
    mark(0, [&] { return str(item) == "old"; });
    // 1 scalar of a glob
    SV* g1s = pv("s-old");
    GV* g1 = glob(g1s);
    sv_set_cstring(gcb, save_push_scalar(gcb, g1), "s-new");
    mark(1, [&] { return gv_gp(g1)->gp_sv == g1s; });
    // 2 array, 3 hash of a glob
    GV* g2 = glob(pv("x"));
    AV* oav = av_new_empty(gcb);
    gv_gp(g2)->gp_av = oav;
    save_push_array(gcb, g2);
    mark(2, [&] { return gv_gp(g2)->gp_av == oav; });
    HV* ohv = hv_new_empty(gcb);
    gv_gp(g2)->gp_hv = ohv;
    save_push_hash(gcb, g2);
    mark(3, [&] { return gv_gp(g2)->gp_hv == ohv; });
    // 4 int, 5 long, 6 i32
    int32_t i4 = 4, i5 = 5, i6 = 6;
    save_push_int(gcb, &i4);
    i4 = -1;
    mark(4, [&] { return i4 == 4; });
    raw({i32(i5), ptr(&i5)}, SAVE_LONG);
    i5 = -1;
    mark(5, [&] { return i5 == 5; });
    save_push_i32(gcb, &i6);
    i6 = -1;
    mark(6, [&] { return i6 == 6; });
    // 7 iv
    int64_t iv = int64_t{1} << 40;
    save_push_iv(gcb, &iv);
    iv = 0;
    mark(7, [&] { return iv == int64_t{1} << 40; });
    // 8 value pointer, 9 array pointer, 10 hash pointer, 11 string pointer
    SV* vp_old = pv("vp");
    SV* vp = vp_old;
    save_push_value_ptr(gcb, &vp);
    vp = nullptr;
    mark(8, [&] { return vp == vp_old; });
    AV* ap_old = oav;
    AV* ap = ap_old;
    raw({ptr(ap), ptr(&ap)}, SAVE_ARRAY_PTR);
    ap = nullptr;
    mark(9, [&] { return ap == ap_old; });
    HV* hp = ohv;
    save_push_hash_ptr(gcb, &hp);
    hp = nullptr;
    mark(10, [&] { return hp == ohv; });
    char text[] = "t";
    char* sp = text;
    save_push_string_ptr(gcb, &sp);
    sp = nullptr;
    mark(11, [&] { return sp == text; });
    // 12 glob clear: the value's contents go (a reference's referent is released)
    SV* referent = pv("referent");
    SV* holder = sv_new_reference(gcb, referent);
    raw({ptr(holder)}, SAVE_GLOB_CLEAR);
    mark(12, [&] { return referent->refcnt == 1; });
    // 13 scalar by reference
    SV* slot_old = pv("r-old");
    SV* slot = slot_old;
    sv_set_cstring(gcb, save_push_scalar_by_ref(gcb, &slot), "r-new");
    mark(13, [&] { return slot == slot_old; });
    // 14 glob body
    GV* g14 = glob(pv("g"));
    GP* gp14 = gv_gp(g14);
    save_push_gp(gcb, g14, 1);
    mark(14, [&] { return gv_gp(g14) == gp14; });
    // 15 release
    SV* rel = pv("rel");
    sv_refinc(rel);
    save_push_release_value(gcb, rel);
    mark(15, [&] { return rel->refcnt == 1; });
    // 16 free op tree
    OP op16{};
    save_push_free_op_tree(gcb, &op16);
    mark(16, [&] { return !freed.empty() && freed.back() == &op16; });
    // 17 free block
    void* block = pool_malloc(gcb, 24);
    save_push_free_block(gcb, block);
    mark(17, [&] { return !block_live(block); });
    // 18 clear pad entry
    AV* pad = av_new_empty(gcb);
    av_store_element(gcb, pad, 1, pv("pad"));
    gcb->comppad = pad;
    gcb->curpad = av_body(pad)->array;
    save_push_clear_pad_entry(gcb, &gcb->curpad[1]);
    mark(18, [&] { return !(av_body(pad)->array[1]->flags & SVf_POK); });
    // 19 delete
    HV* dh = hv_new_empty(gcb);
    hv_store_str(gcb, dh, "k", 1, pv("v"), 0);
    save_push_delete(gcb, dh, pool_strdup(gcb, "k"), 1);
    mark(19, [&] { return !hv_exists_str(gcb, dh, "k", 1); });
    // 20 destructor
    int plain = 0;
    save_entry f20;
    f20.fn = plain_destructor;
    raw({f20, ptr(&plain)}, SAVE_DESTRUCTOR);
    mark(20, [&] { return plain == 1; });
    // 21 capture context: raw slots dropped whole
    int32_t before21 = gcb->savestack_ix;
    raw({i32(37), i32(37), i32(2)}, SAVE_CAPTURE_CONTEXT);
    mark(21, [&] { return gcb->savestack_ix <= before21; });
    // 22 stack position
    raw({i32(3)}, SAVE_STACK_POS);
    gcb->arg_sp = gcb->arg_base + 7;
    mark(22, [&] { return gcb->arg_sp == gcb->arg_base + 3; });
    // 23 i16
    int16_t s16 = -2;
    save_push_i16(gcb, &s16);
    s16 = 9;
    mark(23, [&] { return s16 == -2; });
    // 24 array element
    AV* ea = av_new_empty(gcb);
    SV* e_old = pv("e-old");
    av_store_element(gcb, ea, 0, e_old);
    save_push_aelem(gcb, ea, 0, av_fetch_element(gcb, ea, 0, 1));
    mark(24, [&] { return av_body(ea)->array[0] == e_old; });
    // 25 hash element
    HV* eh = hv_new_empty(gcb);
    SV* h_old = pv("h-old");
    hv_store_str(gcb, eh, "h", 1, h_old, 0);
    SV* hkey = pv("h");
    save_push_helem(gcb, eh, hkey, &hv_fetch_sv(gcb, eh, hkey, 1, 0)->value);
    mark(25, [&] { return *hv_fetch_str(gcb, eh, "h", 1, 0) == h_old; });
    // 26 op
    OP a{}, b{};
    gcb->op = &a;
    save_push_op(gcb);
    gcb->op = &b;
    mark(26, [&] { return gcb->op == &a; });
    // 27 hints
    raw({i32(0x77)}, SAVE_HINTS);
    gcb->compile_hints = 1;
    mark(27, [&] { return gcb->compile_hints == 0x77u; });
    // 28 allocation
    int32_t before28 = gcb->savestack_ix;
    save_push_alloc(gcb, 24, 4);
    mark(28, [&] { return gcb->savestack_ix <= before28; });
    // 29 value pointer by reference
    SV* byref_old = pv("b-old");
    SV* byref = byref_old;
    save_push_value_ptr_by_ref(gcb, &byref);
    byref = pv("b-new");
    mark(29, [&] { return byref == byref_old && byref_old->refcnt == 1; });
    // 30 destructor with the interpreter
    int xcalls = 0;
    save_push_destructor(gcb, destructor_x, &xcalls);
    mark(30, [&] { return xcalls == 1; });
    // 31 generic pointer
    void* gp_old = &a;
    void* gptr = gp_old;
    save_push_generic_ptr(gcb, &gptr);
    gptr = nullptr;
    mark(31, [&] { return gptr == gp_old; });
    // 32 i8
    int8_t s8 = -3;
    save_push_i8(gcb, &s8);
    s8 = 4;
    mark(32, [&] { return s8 == -3; });
    // 33 compile pad: back to the pad of kind 18, which is undone later
    AV* pad33 = pad;
    raw({ptr(pad33)}, SAVE_COMPILE_PAD);
    gcb->comppad = nullptr;
    gcb->curpad = nullptr;
    mark(33, [&] { return gcb->comppad == pad33 && gcb->curpad == av_body(pad33)->array; });
    // 34 string pointer by reference: a replaced string is freed
    char* str_old = pool_strdup(gcb, "old");
    char* sref = str_old;
    save_push_string_ptr_by_ref(gcb, &sref);
    char* str_new = pool_strdup(gcb, "new");
    sref = str_new;
    mark(34, [&] { return sref == str_old && !block_live(str_new); });
    // 35 pad slot
    SV* slots35[3] = {nullptr, nullptr, nullptr};
    SV* v35 = pv("35");
    raw({ptr(v35), ptr(slots35), i32(2)}, SAVE_PAD_SLOT);
    mark(35, [&] { return slots35[2] == v35; });
    // 36 make temporary
    SV* t36 = pv("t");
    save_push_make_temporary(gcb, t36);
    mark(36, [&] { return (t36->flags & SVs_TEMP) != 0; });

    ASSERT_EQ(probes.size(), 37u);
    for (size_t k = 0; k < probes.size(); k++)
        EXPECT_FALSE(probes[k].restored()) << "kind " << k << " undone before leave_scope";
    ASSERT_EQ(run([&] { leave_scope(gcb, 0); }), 0) << err_text();
    EXPECT_EQ(gcb->savestack_ix, 0);
    for (size_t k = 0; k < probes.size(); k++)
        EXPECT_TRUE(probes[k].restored()) << "kind " << k << " not undone";
    EXPECT_EQ(failures, std::vector<std::string>{});
    self = nullptr;
}

}  // namespace
