// The save stack: pushes, the unwinding by kind, the localizing states, pad
// entries, element saves and the panics of leave_scope.
#include <string>
#include <vector>

#include "run_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"

namespace {

using prxtest::Stacks;

class Scope : public Stacks {};

// ---- magic that records the localizing state of each set call --------------

std::vector<int32_t>* g_set_states = nullptr;

int32_t record_set(PERLGCB* gcb, SV*, MAGIC*)
{
    g_set_states->push_back(gcb->localizing);
    return 0;
}

constinit magic_method_table recording_table = {nullptr, record_set, nullptr, nullptr, nullptr};

// Gives sv a magic chain of one record with a set method.
void add_set_magic(PERLGCB* gcb, SV* sv)
{
    if (sv_type(sv) < SVt_PVMG)
        sv_upgrade_body(gcb, sv, SVt_PVMG);
    MAGIC* mg = static_cast<MAGIC*>(pool_malloc(gcb, sizeof(MAGIC)));
    std::memset(mg, 0, sizeof *mg);
    mg->type = '~';
    mg->virt = &recording_table;
    sv_magic_chain(sv) = mg;
    sv->flags |= SVs_SMG;
}

TEST_F(Scope, LocalOnAValueWithSetMagicRunsItWithStates1Then2)
{
    std::vector<int32_t> states;
    g_set_states = &states;
    SV* slot = pv("old");
    add_set_magic(gcb, slot);
    SV* old = slot;
    scope_enter(gcb);
    SV* fresh = save_push_scalar_by_ref(gcb, &slot);
    EXPECT_EQ(slot, fresh);
    EXPECT_NE(fresh, old);
    EXPECT_FALSE(sv_ok(fresh));
    EXPECT_EQ(sv_magic_chain(fresh), sv_magic_chain(old));  // the magic is shared
    EXPECT_TRUE(fresh->flags & SVs_SMG);
    EXPECT_EQ(states, (std::vector<int32_t>{1}));
    EXPECT_EQ(gcb->localizing, 0);
    sv_set_cstring(gcb, fresh, "new");
    scope_leave(gcb);
    EXPECT_EQ(slot, old);
    EXPECT_EQ(str(slot), "old");
    EXPECT_EQ(states, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(gcb->localizing, 0);
    EXPECT_TRUE(slot->flags & SVs_SMG);
    EXPECT_EQ(slot->refcnt, 1u);
    g_set_states = nullptr;
}

TEST_F(Scope, LocalOfAGlobScalarAndItsReferences)
{
    SV* old = pv("old");
    GV* gv = glob(old);
    scope_enter(gcb);
    SV* fresh = save_push_scalar(gcb, gv);
    EXPECT_EQ(gv_gp(gv)->gp_sv, fresh);
    EXPECT_EQ(as_sv(gv)->refcnt, 2u);
    sv_set_cstring(gcb, fresh, "new");
    scope_leave(gcb);
    EXPECT_EQ(gv_gp(gv)->gp_sv, old);
    EXPECT_EQ(old->refcnt, 1u);
    EXPECT_EQ(as_sv(gv)->refcnt, 1u);
    EXPECT_EQ(str(old), "old");
}

TEST_F(Scope, LeaveScopeBases)
{
    int32_t a = 1;
    save_push_int(gcb, &a);
    a = 2;
    int32_t ix = gcb->savestack_ix;
    leave_scope(gcb, ix);  // base equal to the index: nothing
    EXPECT_EQ(a, 2);
    EXPECT_EQ(gcb->savestack_ix, ix);
    leave_scope(gcb, 0);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(gcb->savestack_ix, 0);
    // A base of -1 empties the stack and stops at its start.
    save_push_int(gcb, &a);
    a = 5;
    leave_scope(gcb, -1);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(gcb->savestack_ix, 0);
}

TEST_F(Scope, Panics)
{
    EXPECT_EQ(run([&] { leave_scope(gcb, -2); }), 2);
    EXPECT_EQ(err_text(), "panic: corrupt saved stack index.\n");

    gcb->err.len = 0;
    raw({i32(7)}, 37);
    int32_t before = gcb->savestack_ix;
    EXPECT_EQ(run([&] { leave_scope(gcb, 0); }), 2);
    EXPECT_EQ(err_text(), "panic: leave_scope inconsistency.\n");
    EXPECT_EQ(gcb->savestack_ix, before - 1);  // the kind was popped
}

TEST_F(Scope, PushesMakeRoomBeforeWriting)
{
    // Fill to one below the capacity: a 3-slot push grows by one step.
    gcb->savestack_ix = 126;
    int32_t a = 0;
    save_push_int(gcb, &a);
    EXPECT_EQ(gcb->savestack_max, 196);
    EXPECT_EQ(gcb->savestack_ix, 129);
    gcb->savestack_ix = 0;

    // The allocation: count = 1 + (size + pad - 1) / 8, and the offset of
    // the record.
    struct Case {
        int32_t size, pad, count;
    } cases[] = {{0, 0, 0}, {24, 4, 4}, {1, 0, 1}, {8, 0, 1}, {9, 0, 2}, {0, 8, 1}};
    for (const Case& c : cases) {
        gcb->savestack_ix = 5;
        int32_t offset = save_push_alloc(gcb, c.size, c.pad);
        EXPECT_EQ(offset, c.pad + 8 * 5) << c.size << "," << c.pad;
        EXPECT_EQ(gcb->savestack_ix, 5 + c.count + 2) << c.size << "," << c.pad;
        EXPECT_EQ(gcb->savestack[gcb->savestack_ix - 2].i32, c.count);
        EXPECT_EQ(gcb->savestack[gcb->savestack_ix - 1].i32, SAVE_ALLOC);
        leave_scope(gcb, 5);
        EXPECT_EQ(gcb->savestack_ix, 5);
    }
    gcb->savestack_ix = 0;

    // A large allocation repeats the growth step until it fits.
    save_push_alloc(gcb, 8 * 400, 0);
    EXPECT_GE(gcb->savestack_max, 402);
    EXPECT_EQ(gcb->savestack_max, ((128 * 3 / 2 + 4) * 3 / 2 + 4) * 3 / 2 + 4);
    leave_scope(gcb, 0);

    // The glob body entry sets the capacity to the index + 6 exactly.
    SV* s = pv("x");
    GV* gv = glob(s);
    gcb->savestack_max = 128;
    gcb->savestack_ix = 125;
    save_push_gp(gcb, gv, 0);
    EXPECT_EQ(gcb->savestack_max, 131);
    EXPECT_EQ(gcb->savestack_ix, 131);
    leave_scope(gcb, 125);
    gcb->savestack_ix = 0;
}

TEST_F(Scope, SaveList)
{
    SV* items[3] = {nullptr, pv("one"), pv("two")};
    save_push_list(gcb, items, 0);
    EXPECT_EQ(gcb->savestack_ix, 0);
    save_push_list(gcb, items, 2);
    EXPECT_EQ(gcb->savestack_ix, 6);
    sv_set_cstring(gcb, items[1], "x");
    sv_set_cstring(gcb, items[2], "y");
    leave_scope(gcb, 0);
    EXPECT_EQ(str(items[1]), "one");
    EXPECT_EQ(str(items[2]), "two");
}

TEST_F(Scope, PadEntriesAreClearedOrReplaced)
{
    AV* pad = av_new_empty(gcb);
    av_grow_to_index(gcb, pad, 3);
    SV* a = pv("text");
    a->flags |= SVs_PADMY;
    SV* b = pv("held");
    b->flags |= SVs_PADTMP;
    av_store_element(gcb, pad, 1, a);
    av_store_element(gcb, pad, 2, b);
    gcb->comppad = pad;
    gcb->curpad = av_body(pad)->array;
    sv_refinc(b);  // somebody else holds b
    save_push_clear_pad_entry(gcb, &gcb->curpad[1]);
    save_push_clear_pad_entry(gcb, &gcb->curpad[2]);
    EXPECT_EQ(gcb->savestack[gcb->savestack_ix - 2].i32, 2);
    leave_scope(gcb, 0);

    SV* a_now = gcb->curpad[1];
    EXPECT_EQ(a_now, a);  // cleared in place
    EXPECT_FALSE(a->flags & (SVf_POK | SVp_POK));
    EXPECT_TRUE(a->flags & SVs_PADMY);

    SV* b_now = gcb->curpad[2];
    EXPECT_NE(b_now, b);  // replaced
    EXPECT_FALSE(sv_ok(b_now));
    EXPECT_TRUE(b_now->flags & SVs_PADTMP);
    EXPECT_EQ(b->refcnt, 1u);
    EXPECT_EQ(str(b), "held");
}

TEST_F(Scope, AHashElementDeletedDuringTheScopeComesBack)
{
    HV* hv = hv_new_empty(gcb);
    hv_store_str(gcb, hv, "k", 1, pv("old"), 0);
    SV* key = pv("k");
    hash_entry* he = hv_fetch_sv(gcb, hv, key, 1, 0);
    scope_enter(gcb);
    save_push_helem(gcb, hv, key, &he->value);
    EXPECT_FALSE(sv_ok(*hv_fetch_str(gcb, hv, "k", 1, 0)));
    hv_delete_str(gcb, hv, "k", 1, HV_DISCARD);
    EXPECT_FALSE(hv_exists_str(gcb, hv, "k", 1));
    scope_leave(gcb);
    SV** svp = hv_fetch_str(gcb, hv, "k", 1, 0);
    ASSERT_NE(svp, nullptr);
    EXPECT_EQ(str(*svp), "old");
    EXPECT_EQ(as_sv(hv)->refcnt, 1u);
    EXPECT_EQ(key->refcnt, 1u);
}

TEST_F(Scope, ArrayElementSave)
{
    AV* av = av_new_empty(gcb);
    SV* old = pv("e-old");
    av_store_element(gcb, av, 0, old);
    scope_enter(gcb);
    SV** slot = av_fetch_element(gcb, av, 0, 1);
    save_push_aelem(gcb, av, 0, slot);
    EXPECT_EQ(as_sv(av)->refcnt, 2u);
    sv_set_cstring(gcb, *av_fetch_element(gcb, av, 0, 1), "e-new");
    scope_leave(gcb);
    EXPECT_EQ(*av_fetch_element(gcb, av, 0, 0), old);
    EXPECT_EQ(old->refcnt, 1u);
    EXPECT_EQ(as_sv(av)->refcnt, 1u);
}

TEST_F(Scope, LocalArrayAndHashOfAGlob)
{
    GV* gv = glob(pv("s"));
    AV* oav = av_new_empty(gcb);
    HV* ohv = hv_new_empty(gcb);
    gv_gp(gv)->gp_av = oav;
    gv_gp(gv)->gp_hv = ohv;
    scope_enter(gcb);
    AV* nav = save_push_array(gcb, gv);
    HV* nhv = save_push_hash(gcb, gv);
    EXPECT_NE(nav, oav);
    EXPECT_NE(nhv, ohv);
    EXPECT_EQ(gv_gp(gv)->gp_av, nav);
    EXPECT_EQ(gv_gp(gv)->gp_hv, nhv);
    scope_leave(gcb);
    EXPECT_EQ(gv_gp(gv)->gp_av, oav);
    EXPECT_EQ(gv_gp(gv)->gp_hv, ohv);
}

TEST_F(Scope, EmptiedGlobBody)
{
    GV* gv = glob(pv("old"));
    GP* old = gv_gp(gv);
    SV* gsv = as_sv(gv);
    sv_grow_buffer(gcb, gsv, 16);
    std::strcpy(sv_pv(gsv), "*main::g");
    sv_cur(gsv) = 8;
    gsv->flags |= SVf_POK | SVp_POK;
    char* buf = sv_pv(gsv);
    uint64_t len = sv_len(gsv);
    // An ARGV handle and a sub defined under the name.
    old->gp_io = io_new_body(gcb);
    io_body(old->gp_io)->ioflags |= IOf_ARGV;
    SV* code = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, code, SVt_PVCV);
    old->gp_cv = sv_as<CV>(code);
    gcb->current_statement->cop_line = 12;
    uint32_t generation = gcb->method_cache_generation;

    scope_enter(gcb);
    save_push_gp(gcb, gv, 1);
    GP* fresh = gv_gp(gv);
    EXPECT_NE(fresh, old);
    EXPECT_EQ(fresh->gp_refcnt, 1u);
    EXPECT_EQ(fresh->gp_egv, gv);
    EXPECT_EQ(fresh->gp_line, 12);
    EXPECT_STREQ(fresh->gp_file, "");
    ASSERT_NE(fresh->gp_sv, nullptr);
    EXPECT_FALSE(sv_ok(fresh->gp_sv));
    EXPECT_EQ(fresh->gp_cv, nullptr);
    ASSERT_NE(fresh->gp_io, nullptr);
    EXPECT_NE(fresh->gp_io, old->gp_io);
    EXPECT_EQ(io_body(fresh->gp_io)->ioflags & (IOf_ARGV | IOf_START), IOf_ARGV | IOf_START);
    EXPECT_EQ(gcb->method_cache_generation, generation + 1);  // a method out of use
    EXPECT_EQ(sv_len(gsv), 0u);
    EXPECT_FALSE(gsv->flags & (SVf_POK | SVp_POK));
    scope_leave(gcb);

    EXPECT_EQ(gv_gp(gv), old);
    EXPECT_EQ(sv_pv(gsv), buf);
    EXPECT_EQ(sv_cur(gsv), 8u);
    EXPECT_EQ(sv_len(gsv), len);
    EXPECT_EQ(gcb->method_cache_generation, generation + 2);  // and back into use
    EXPECT_EQ(as_sv(gv)->refcnt, 1u);

    // Without the empty flag the body is shared and the glob introduced.
    save_push_gp(gcb, gv, 0);
    EXPECT_EQ(gv_gp(gv), old);
    EXPECT_EQ(old->gp_refcnt, 2u);
    EXPECT_TRUE(gv_body(gv)->gvflags & GVf_INTRO);
    leave_scope(gcb, 0);
    EXPECT_EQ(gv_gp(gv), old);
    EXPECT_EQ(old->gp_refcnt, 1u);
}

TEST_F(Scope, LocalOfATaintedValueKeepsItsTaintMagicOnTheOldValue)
{
    gcb->tainting = 1;
    SV* slot = pv("secret");
    sv_mark_tainted(gcb, slot);
    SV* old = slot;
    MAGIC* mg = mg_find_by_type(gcb, old, 't');
    ASSERT_NE(mg, nullptr);
    ASSERT_TRUE(old->flags & SVs_GMG);
    gcb->tainted = 0;
    scope_enter(gcb);
    save_push_scalar_by_ref(gcb, &slot);
    // The get magic marked the expression tainted: the record's object
    // points at the old value for the scope, and the flag is put back.
    EXPECT_EQ(mg->obj, old);
    EXPECT_EQ(gcb->tainted, 0);
    EXPECT_EQ(gcb->savestack[gcb->savestack_ix - 1].i32, SAVE_VALUE_PTR);
    EXPECT_TRUE(old->flags & SVf_POK);  // its public flags from the private ones
    scope_leave(gcb);
    EXPECT_EQ(slot, old);
    EXPECT_EQ(mg->obj, nullptr);
}

}  // namespace
