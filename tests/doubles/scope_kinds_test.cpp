// Every save-stack kind, pushed in kind order and undone in reverse order
// by one leave_scope: before each entry is undone, the entry above it has
// been undone and it has not. The op-tree release is a double here.
#include <functional>
#include <memory>
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

// What a row pushes: the check that its entry has been undone.
using Restored = std::function<bool()>;

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

    struct Kind {
        int32_t kind;
        const char* name;
        std::function<Restored()> push;   // pushes one entry of the kind and changes its target
    };

    std::vector<OP*> freed;
    std::vector<const Kind*> pushed;
    std::vector<Restored> checks;
    std::vector<std::string> failures;
    static ScopeKinds* self;

    // Pushed above the entry of row k: runs just before that entry is
    // undone, when the entry of row k + 1 has been undone and row k's has not.
    static void marker(PERLGCB*, void* arg)
    {
        auto k = static_cast<size_t>(reinterpret_cast<intptr_t>(arg));
        if (self->checks[k]())
            self->failures.push_back(std::string(self->pushed[k]->name) + " undone too early");
        if (k + 1 < self->checks.size() && !self->checks[k + 1]())
            self->failures.push_back(std::string(self->pushed[k + 1]->name) + " not undone before the entry below it");
    }
};
ScopeKinds* ScopeKinds::self = nullptr;

void plain_destructor(void* arg) { *static_cast<int*>(arg) += 1; }
void destructor_x(PERLGCB*, void* arg) { *static_cast<int*>(arg) += 1; }

// Every save-stack kind, one row each, pushed in kind order and undone by one
// leave_scope in reverse order.
TEST_F(ScopeKinds, EveryKindIsUndoneInReverseOrder)
{
    self = this;
    OP op_a{}, op_b{}, freed_op{};
    const Kind kinds[] = {
        {SAVE_ITEM, "item",
         [&]() -> Restored {
             SV* item = pv("old");
             save_push_item(gcb, item);
             sv_set_cstring(gcb, item, "new");
             return [=, this] { return str(item) == "old"; };
         }},
        {SAVE_SCALAR, "scalar of a glob",
         [&]() -> Restored {
             SV* old = pv("s-old");
             GV* g = glob(old);
             sv_set_cstring(gcb, save_push_scalar(gcb, g), "s-new");
             return [=] { return gv_gp(g)->gp_sv == old; };
         }},
        {SAVE_ARRAY, "array of a glob",
         [&]() -> Restored {
             GV* g = glob(pv("x"));
             AV* old = av_new_empty(gcb);
             gv_gp(g)->gp_av = old;
             save_push_array(gcb, g);
             return [=] { return gv_gp(g)->gp_av == old; };
         }},
        {SAVE_HASH, "hash of a glob",
         [&]() -> Restored {
             GV* g = glob(pv("x"));
             HV* old = hv_new_empty(gcb);
             gv_gp(g)->gp_hv = old;
             save_push_hash(gcb, g);
             return [=] { return gv_gp(g)->gp_hv == old; };
         }},
        {SAVE_INT, "int",
         [&]() -> Restored {
             auto cell = std::make_shared<int32_t>(4);
             save_push_int(gcb, cell.get());
             *cell = -1;
             return [=] { return *cell == 4; };
         }},
        {SAVE_LONG, "long",
         [&]() -> Restored {
             auto cell = std::make_shared<int32_t>(5);
             raw({i32(5), ptr(cell.get())}, SAVE_LONG);
             *cell = -1;
             return [=] { return *cell == 5; };
         }},
        {SAVE_I32, "i32",
         [&]() -> Restored {
             auto cell = std::make_shared<int32_t>(6);
             save_push_i32(gcb, cell.get());
             *cell = -1;
             return [=] { return *cell == 6; };
         }},
        {SAVE_IV, "iv",
         [&]() -> Restored {
             auto cell = std::make_shared<int64_t>(int64_t{1} << 40);
             save_push_iv(gcb, cell.get());
             *cell = 0;
             return [=] { return *cell == int64_t{1} << 40; };
         }},
        {SAVE_VALUE_PTR, "value pointer",
         [&]() -> Restored {
             SV* old = pv("vp");
             auto cell = std::make_shared<SV*>(old);
             save_push_value_ptr(gcb, cell.get());
             *cell = nullptr;
             return [=] { return *cell == old; };
         }},
        {SAVE_ARRAY_PTR, "array pointer",
         [&]() -> Restored {
             AV* old = av_new_empty(gcb);
             auto cell = std::make_shared<AV*>(old);
             raw({ptr(old), ptr(cell.get())}, SAVE_ARRAY_PTR);
             *cell = nullptr;
             return [=] { return *cell == old; };
         }},
        {SAVE_HASH_PTR, "hash pointer",
         [&]() -> Restored {
             HV* old = hv_new_empty(gcb);
             auto cell = std::make_shared<HV*>(old);
             save_push_hash_ptr(gcb, cell.get());
             *cell = nullptr;
             return [=] { return *cell == old; };
         }},
        {SAVE_STRING_PTR, "string pointer",
         [&]() -> Restored {
             static char text[] = "t";
             auto cell = std::make_shared<char*>(text);
             save_push_string_ptr(gcb, cell.get());
             *cell = nullptr;
             return [=] { return *cell == text; };
         }},
        {SAVE_GLOB_CLEAR, "glob clear (a reference's referent is released)",
         [&]() -> Restored {
             SV* referent = pv("referent");
             SV* holder = sv_new_reference(gcb, referent);
             raw({ptr(holder)}, SAVE_GLOB_CLEAR);
             return [=] { return referent->refcnt == 1; };
         }},
        {SAVE_SCALAR_BY_REF, "scalar by reference",
         [&]() -> Restored {
             SV* old = pv("r-old");
             auto cell = std::make_shared<SV*>(old);
             sv_set_cstring(gcb, save_push_scalar_by_ref(gcb, cell.get()), "r-new");
             return [=] { return *cell == old; };
         }},
        {SAVE_GLOB_BODY, "glob body",
         [&]() -> Restored {
             GV* g = glob(pv("g"));
             GP* old = gv_gp(g);
             save_push_gp(gcb, g, 1);
             return [=] { return gv_gp(g) == old; };
         }},
        {SAVE_RELEASE, "release",
         [&]() -> Restored {
             SV* value = pv("rel");
             sv_refinc(value);
             save_push_release_value(gcb, value);
             return [=] { return value->refcnt == 1; };
         }},
        {SAVE_FREE_OP, "free op tree",
         [&]() -> Restored {
             save_push_free_op_tree(gcb, &freed_op);
             return [&, this] { return !freed.empty() && freed.back() == &freed_op; };
         }},
        {SAVE_FREE_BLOCK, "free block",
         [&]() -> Restored {
             void* block = pool_malloc(gcb, 24);
             save_push_free_block(gcb, block);
             return [=, this] { return !block_live(block); };
         }},
        {SAVE_CLEAR_PAD, "clear pad entry",
         [&]() -> Restored {
             AV* pad = av_new_empty(gcb);
             av_store_element(gcb, pad, 1, pv("pad"));
             gcb->comppad = pad;
             gcb->curpad = av_body(pad)->array;
             save_push_clear_pad_entry(gcb, &gcb->curpad[1]);
             return [=] { return !(av_body(pad)->array[1]->flags & SVf_POK); };
         }},
        {SAVE_DELETE, "delete",
         [&]() -> Restored {
             HV* h = hv_new_empty(gcb);
             hv_store_str(gcb, h, "k", 1, pv("v"), 0);
             save_push_delete(gcb, h, pool_strdup(gcb, "k"), 1);
             return [=, this] { return !hv_exists_str(gcb, h, "k", 1); };
         }},
        {SAVE_DESTRUCTOR, "destructor",
         [&]() -> Restored {
             auto calls = std::make_shared<int>(0);
             save_entry f;
             f.fn = plain_destructor;
             raw({f, ptr(calls.get())}, SAVE_DESTRUCTOR);
             return [=] { return *calls == 1; };
         }},
        {SAVE_CAPTURE_CONTEXT, "capture context (raw slots dropped whole)",
         [&]() -> Restored {
             int32_t before = gcb->savestack_ix;
             raw({i32(37), i32(37), i32(2)}, SAVE_CAPTURE_CONTEXT);
             return [=, this] { return gcb->savestack_ix <= before; };
         }},
        {SAVE_STACK_POS, "stack position",
         [&]() -> Restored {
             raw({i32(3)}, SAVE_STACK_POS);
             gcb->arg_sp = gcb->arg_base + 7;
             return [this] { return gcb->arg_sp == gcb->arg_base + 3; };
         }},
        {SAVE_I16, "i16",
         [&]() -> Restored {
             auto cell = std::make_shared<int16_t>(-2);
             save_push_i16(gcb, cell.get());
             *cell = 9;
             return [=] { return *cell == -2; };
         }},
        {SAVE_ARRAY_ELEMENT, "array element",
         [&]() -> Restored {
             AV* a = av_new_empty(gcb);
             SV* old = pv("e-old");
             av_store_element(gcb, a, 0, old);
             save_push_aelem(gcb, a, 0, av_fetch_element(gcb, a, 0, 1));
             return [=] { return av_body(a)->array[0] == old; };
         }},
        {SAVE_HASH_ELEMENT, "hash element",
         [&]() -> Restored {
             HV* h = hv_new_empty(gcb);
             SV* old = pv("h-old");
             hv_store_str(gcb, h, "h", 1, old, 0);
             SV* key = pv("h");
             save_push_helem(gcb, h, key, &hv_fetch_sv(gcb, h, key, 1, 0)->value);
             return [=, this] { return *hv_fetch_str(gcb, h, "h", 1, 0) == old; };
         }},
        {SAVE_OP, "op",
         [&]() -> Restored {
             gcb->op = &op_a;
             save_push_op(gcb);
             gcb->op = &op_b;
             return [&, this] { return gcb->op == &op_a; };
         }},
        {SAVE_HINTS, "hints",
         [&]() -> Restored {
             raw({i32(0x77)}, SAVE_HINTS);
             gcb->compile_hints = 1;
             return [this] { return gcb->compile_hints == 0x77u; };
         }},
        {SAVE_ALLOC, "allocation",
         [&]() -> Restored {
             int32_t before = gcb->savestack_ix;
             save_push_alloc(gcb, 24, 4);
             return [=, this] { return gcb->savestack_ix <= before; };
         }},
        {SAVE_VALUE_PTR_BY_REF, "value pointer by reference",
         [&]() -> Restored {
             SV* old = pv("b-old");
             auto cell = std::make_shared<SV*>(old);
             save_push_value_ptr_by_ref(gcb, cell.get());
             *cell = pv("b-new");
             return [=] { return *cell == old && old->refcnt == 1; };
         }},
        {SAVE_DESTRUCTOR_X, "destructor with the interpreter",
         [&]() -> Restored {
             auto calls = std::make_shared<int>(0);
             save_push_destructor(gcb, destructor_x, calls.get());
             return [=] { return *calls == 1; };
         }},
        {SAVE_GENERIC_PTR, "generic pointer",
         [&]() -> Restored {
             void* old = &op_a;
             auto cell = std::make_shared<void*>(old);
             save_push_generic_ptr(gcb, cell.get());
             *cell = nullptr;
             return [=] { return *cell == old; };
         }},
        {SAVE_I8, "i8",
         [&]() -> Restored {
             auto cell = std::make_shared<int8_t>(-3);
             save_push_i8(gcb, cell.get());
             *cell = 4;
             return [=] { return *cell == -3; };
         }},
        {SAVE_COMPILE_PAD, "compile pad",
         [&]() -> Restored {
             // Back to the pad that the clear-pad row made current: that
             // row's entry, undone later, clears an element of it.
             AV* pad = gcb->comppad;
             raw({ptr(pad)}, SAVE_COMPILE_PAD);
             gcb->comppad = nullptr;
             gcb->curpad = nullptr;
             return [=, this] { return gcb->comppad == pad && gcb->curpad == av_body(pad)->array; };
         }},
        {SAVE_STRING_PTR_BY_REF, "string pointer by reference (a replaced string is freed)",
         [&]() -> Restored {
             char* old = pool_strdup(gcb, "old");
             auto cell = std::make_shared<char*>(old);
             save_push_string_ptr_by_ref(gcb, cell.get());
             char* replaced = pool_strdup(gcb, "new");
             *cell = replaced;
             return [=, this] { return *cell == old && !block_live(replaced); };
         }},
        {SAVE_PAD_SLOT, "pad slot",
         [&]() -> Restored {
             auto slots = std::make_shared<std::vector<SV*>>(3, nullptr);
             SV* value = pv("35");
             raw({ptr(value), ptr(slots->data()), i32(2)}, SAVE_PAD_SLOT);
             return [=] { return (*slots)[2] == value; };
         }},
        {SAVE_MAKE_TEMPORARY, "make temporary",
         [&]() -> Restored {
             SV* value = pv("t");
             save_push_make_temporary(gcb, value);
             return [=] { return (value->flags & SVs_TEMP) != 0; };
         }},
    };
    ASSERT_EQ(std::size(kinds), static_cast<size_t>(SAVE_KIND_MAX + 1));

    for (const Kind& k : kinds) {
        int32_t ix = gcb->savestack_ix;
        checks.push_back(k.push());
        pushed.push_back(&k);
        ASSERT_GT(gcb->savestack_ix, ix) << k.name << " pushed nothing";
        EXPECT_EQ(gcb->savestack[gcb->savestack_ix - 1].i32, k.kind) << k.name << " pushed another kind";
        save_push_destructor(gcb, marker, reinterpret_cast<void*>(static_cast<intptr_t>(checks.size() - 1)));
    }
    for (size_t k = 0; k < checks.size(); k++)
        EXPECT_FALSE(checks[k]()) << kinds[k].name << " undone before leave_scope";
    ASSERT_EQ(run([&] { leave_scope(gcb, 0); }), 0) << err_text();
    EXPECT_EQ(gcb->savestack_ix, 0);
    for (size_t k = 0; k < checks.size(); k++)
        EXPECT_TRUE(checks[k]()) << kinds[k].name << " not undone";
    EXPECT_EQ(failures, std::vector<std::string>{});
    self = nullptr;
}

}  // namespace
