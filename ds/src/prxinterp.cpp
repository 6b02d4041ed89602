// The interpreter block of a host task: made in a pool of its own and
// registered under "PERLGCB", at most one per task.
#include "prx.h"

PERLGCB* interp_alloc()
{
    host_task* task = host_current_task_handle();
    void* found = nullptr;
    if (xkNamedBlockGet(task, 2, "PERLGCB", 7, &found, 0) == 0 && found)
        return static_cast<PERLGCB*>(found);
    host_pool* pool = nullptr;
    if (xkPoolCreate(&pool, 65536, 1024, POOL_CREATE_FLAGS, task) != 0 || !pool)
        return nullptr;
    // The block holds the pool the funnel allocates from: it comes from the
    // pool directly, as does its release below.
    PERLGCB* gcb = static_cast<PERLGCB*>(pool->alloc(pool, sizeof(PERLGCB), POOL_ALLOC_ZERO));
    if (!gcb) {
        xkPoolDestroy(pool);
        return nullptr;
    }
    gcb->pool = pool;
    gcb->stack_floor = prx_stack_floor();
    xkNamedBlockSet(task, 1, "PERLGCB", 7, gcb);
    return gcb;
}

void interp_free(PERLGCB* gcb)
{
    host_pool* pool = gcb->pool;
    pool->free(pool, gcb, POOL_UNKNOWN_SIZE, POOL_FREE);
    xkPoolDestroy(pool);
    xkNamedBlockSet(host_current_task_handle(), 1, "PERLGCB", 7, nullptr);
}
