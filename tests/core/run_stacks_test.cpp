// The run loop and the growth of the argument, mark, scope, save,
// temporaries, return and context stacks; stack levels and the unwinding an
// exit does.
#include <string>
#include <vector>

#include "run_fixture.h"

namespace {

using prxtest::Stacks;
using RunStacks = Stacks;

// Ops that record their calls and return the next op of a chain.
struct Recorder {
    static std::vector<int>* log;
};
std::vector<int>* Recorder::log = nullptr;

struct ChainOp {
    OP op;
    int id;
    ChainOp* next;
};

OP* chain_step(PERLGCB* gcb)
{
    ChainOp* self = reinterpret_cast<ChainOp*>(gcb->op);
    Recorder::log->push_back(self->id);
    gcb->tainted = 1;
    return self->next ? &self->next->op : nullptr;
}

TEST_F(RunStacks, RunLoopRunsTheChainAndClearsTheTaintFlag)
{
    std::vector<int> log;
    Recorder::log = &log;
    ChainOp ops[3] = {};
    for (int i = 0; i < 3; i++) {
        ops[i].op.op_ppaddr = chain_step;
        ops[i].id = i + 1;
        ops[i].next = i < 2 ? &ops[i + 1] : nullptr;
    }
    // A first op that returns none: exactly one call.
    gcb->op = &ops[2].op;
    EXPECT_EQ(run_op_loop(gcb), 0);
    EXPECT_EQ(log, (std::vector<int>{3}));
    EXPECT_EQ(gcb->tainted, 0);
    EXPECT_EQ(gcb->op, nullptr);

    log.clear();
    gcb->op = &ops[0].op;
    EXPECT_EQ(run_op_loop(gcb), 0);
    EXPECT_EQ(log, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(gcb->tainted, 0);
}

TEST_F(RunStacks, StackLevelNew)
{
    struct Case {
        int32_t items, frames;
        int32_t max_at_least;
    } cases[] = {{0, 1, 0}, {1, 13, 0}, {32, 13, 31}, {128, 55, 127}};
    for (const Case& c : cases) {
        stack_level* si = stack_level_new(gcb, c.items, c.frames);
        PVAV* body = av_body(si->si_stack);
        EXPECT_FALSE(body->avflags & AVf_REAL) << c.items;
        EXPECT_GE(body->max, c.max_at_least) << c.items;
        EXPECT_EQ(body->fill, 0) << c.items;
        EXPECT_EQ(body->array[0], &gcb->sv_undef) << c.items;
        EXPECT_EQ(si->si_cxix, -1);
        EXPECT_EQ(si->si_cxmax, c.frames - 1);
        EXPECT_EQ(si->si_type, SI_UNDEF);
        EXPECT_EQ(si->si_prev, nullptr);
        EXPECT_EQ(si->si_next, nullptr);
    }
}

TEST_F(RunStacks, ContextStackGrowsAtThe56thFrame)
{
    stack_level* si = gcb->current_level;
    for (int i = 0; i < 55; i++) {
        int32_t ix = cx_next_index(gcb);
        ASSERT_EQ(ix, i);
        si->si_cxix = ix;
        si->si_cxstack[ix].type = CXt_BLOCK;
        si->si_cxstack[ix].blk.oldsp = i;
    }
    EXPECT_EQ(si->si_cxmax, 54);
    int32_t ix = cx_next_index(gcb);
    EXPECT_EQ(ix, 55);
    EXPECT_EQ(si->si_cxmax, 81);  // 82 frames
    si->si_cxix = ix;
    si->si_cxstack[81].blk.oldsp = 81;  // the last frame is usable
    for (int i = 0; i < 55; i++)
        EXPECT_EQ(si->si_cxstack[i].blk.oldsp, i);
}

TEST_F(RunStacks, ReturnStack)
{
    std::vector<OP> ops(17);
    EXPECT_EQ(return_stack_pop(gcb), nullptr);
    EXPECT_EQ(gcb->return_ix, 0);
    for (int i = 0; i < 16; i++)
        return_stack_push(gcb, &ops[i]);
    EXPECT_EQ(gcb->return_max, 16);
    return_stack_push(gcb, &ops[16]);
    EXPECT_EQ(gcb->return_max, 24);
    EXPECT_EQ(gcb->return_ix, 17);
    for (int i = 16; i >= 0; i--)
        EXPECT_EQ(return_stack_pop(gcb), &ops[i]);
    EXPECT_EQ(return_stack_pop(gcb), nullptr);
}

TEST_F(RunStacks, ScopeAndMarkStacksGrowByHalf)
{
    for (int i = 0; i < 33; i++)
        scope_enter(gcb);
    EXPECT_EQ(gcb->scope_max, 48);
    EXPECT_EQ(gcb->scope_ix, 33);
    for (int i = 0; i < 33; i++)
        scope_leave(gcb);
    EXPECT_EQ(gcb->scope_ix, 0);

    for (int i = 1; i <= 32; i++)
        push_mark(gcb, gcb->arg_base + i);
    EXPECT_EQ(gcb->mark_max - gcb->mark_stack, 48);
    EXPECT_EQ(gcb->mark_sp - gcb->mark_stack, 32);
    for (int i = 32; i >= 1; i--)
        EXPECT_EQ(pop_mark(gcb), i);
}

TEST_F(RunStacks, SaveStackGrowth)
{
    save_stack_extend(gcb);
    EXPECT_EQ(gcb->savestack_max, 196);
    gcb->savestack_ix = 10;
    save_stack_extend_by(gcb, 7);
    EXPECT_EQ(gcb->savestack_max, 17);
    gcb->savestack_ix = 0;
}

TEST_F(RunStacks, TemporariesGrowth)
{
    struct Case {
        int32_t cap, ix, n, want;
    } cases[] = {
        {128, 127, 1, 256},    // below 128 asked: 128 more while the capacity is below 512
        {600, 599, 1, 1112},   // from 512 on: 512 more
        {512, 511, 1, 1024},
        {128, 127, 300, 428},  // a larger request is taken as it is
        {4096, 4095, 1, 6144}, // a large stack grows by half
        {4096, 4095, 3000, 7096},
    };
    for (const Case& c : cases) {
        gcb->temps = static_cast<SV**>(pool_realloc(gcb, gcb->temps, c.cap * sizeof(SV*)));
        gcb->temps_max = c.cap;
        gcb->temps_ix = c.ix;
        SV** array = tmps_stack_extend(gcb, c.n);
        EXPECT_EQ(gcb->temps_max, c.want) << c.cap;
        EXPECT_EQ(array, gcb->temps);
        gcb->temps_ix = -1;
    }
}

TEST_F(RunStacks, FreeingTemporaries)
{
    // Floor equal to the index: nothing happens.
    SV* kept = sv_new_undef(gcb, 0);
    tmps_push(gcb, kept);
    kept->flags |= SVs_TEMP;
    gcb->temps_floor = gcb->temps_ix;
    tmps_free_to_floor(gcb);
    EXPECT_EQ(gcb->temps_ix, 0);
    EXPECT_EQ(kept->refcnt, 1u);

    // Above the floor: TEMP off, one reference released, empty slots skipped.
    SV* a = sv_new_undef(gcb, 0);
    sv_refinc(a);
    a->flags |= SVs_TEMP;
    tmps_push(gcb, a);
    tmps_push(gcb, nullptr);
    SV* b = sv_new_undef(gcb, 0);
    sv_refinc(b);
    b->flags |= SVs_TEMP;
    tmps_push(gcb, b);
    tmps_free_to_floor(gcb);
    EXPECT_EQ(gcb->temps_ix, 0);
    EXPECT_EQ(a->refcnt, 1u);
    EXPECT_EQ(b->refcnt, 1u);
    EXPECT_FALSE(a->flags & SVs_TEMP);
    EXPECT_FALSE(b->flags & SVs_TEMP);
    EXPECT_TRUE(kept->flags & SVs_TEMP);
}

TEST_F(RunStacks, ArgumentStackExtend)
{
    SV** sp = gcb->arg_base + 100;
    SV** moved = arg_stack_extend(gcb, sp, sp, 200);
    // Room for the items below the position, the request and 128 more.
    EXPECT_GE(av_body(gcb->current_arg_stack)->max, 100 + 200 + 128);
    EXPECT_EQ(moved - gcb->arg_base, 100);
    EXPECT_EQ(gcb->arg_max, gcb->arg_base + av_body(gcb->current_arg_stack)->max);
    EXPECT_EQ(gcb->arg_base, av_body(gcb->current_arg_stack)->array);
}

TEST_F(RunStacks, StackLevelsSwitchAndKeepTheArgumentStack)
{
    stack_level* main_level = gcb->current_level;
    SV* v = sv_new_undef(gcb, 0);
    *++gcb->arg_sp = v;    // one item on the main level
    stack_level_push(gcb, SI_MAGIC);
    stack_level* magic = gcb->current_level;
    EXPECT_NE(magic, main_level);
    EXPECT_EQ(magic->si_prev, main_level);
    EXPECT_EQ(main_level->si_next, magic);
    EXPECT_EQ(magic->si_type, SI_MAGIC);
    EXPECT_EQ(gcb->arg_sp, gcb->arg_base);
    EXPECT_GE(av_body(gcb->current_arg_stack)->max, 31);
    stack_level_pop(gcb);
    EXPECT_EQ(gcb->current_level, main_level);
    EXPECT_EQ(gcb->arg_sp - gcb->arg_base, 1);
    EXPECT_EQ(*gcb->arg_sp, v);
    // The level is kept and reused.
    stack_level_push(gcb, 9);
    EXPECT_EQ(gcb->current_level, magic);
    EXPECT_EQ(magic->si_type, 9);
    stack_level_pop(gcb);
}

TEST_F(RunStacks, PoppingTheMainLevelPanicsAndExits)
{
    int32_t code = run([&] { stack_level_pop(gcb); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(gcb->exit_status, 1);
    EXPECT_EQ(err_text(), "panic: POPSTACK\n");
}

TEST_F(RunStacks, ExitUnwindsLevelsAndTheMainFrame)
{
    // A frame on the main level recording the state at its push.
    COP cop{};
    stack_level* main_level = gcb->current_level;
    scope_enter(gcb);
    int32_t cell = 1;
    save_push_int(gcb, &cell);
    cell = 2;
    int32_t ix = cx_next_index(gcb);
    main_level->si_cxix = ix;
    cx_frame* cx = &main_level->si_cxstack[ix];
    cx->type = CXt_BLOCK;
    cx->blk.oldcop = &cop;
    cx->blk.oldmarksp = 0;
    cx->blk.oldscopesp = gcb->scope_ix;
    cx->blk.oldretsp = 0;
    cx->blk.oldpm = nullptr;
    // State changed after the push, and two levels above the main one.
    push_mark(gcb, gcb->arg_sp);
    return_stack_push(gcb, nullptr);
    stack_level_push(gcb, SI_MAGIC);
    stack_level_push(gcb, SI_MAGIC);

    int32_t code = run([&] { interp_exit(gcb, 3); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(gcb->exit_status, 3);
    EXPECT_EQ(gcb->current_level, main_level);
    EXPECT_EQ(gcb->current_arg_stack, gcb->main_arg_stack);
    EXPECT_EQ(main_level->si_cxix, -1);
    EXPECT_EQ(gcb->current_statement, &cop);
    EXPECT_EQ(gcb->mark_sp, gcb->mark_stack);
    EXPECT_EQ(gcb->return_ix, 0);
    EXPECT_EQ(gcb->scope_ix, 0);       // the frame's scope was closed
    EXPECT_EQ(cell, 1);
    EXPECT_EQ(gcb->savestack_ix, 0);
}

}  // namespace
