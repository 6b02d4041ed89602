// Destroys an interpreter and counts the blocks its destruction left to the
// interpreter's pool, for tests that hold destruction to freeing everything.
#pragma once

#include <cstddef>

#include "ds/src/prx.h"
#include "ds/src/prxbridge.h"
#include "hostsim/hostsim.h"

namespace prxtest {

// Counted when the pool goes, but for the block of the interpreter's table
// copies, which lives as long as its pool.
inline size_t pool_leftovers_count = 0;
inline const void* pool_leftovers_table_block = nullptr;

// Destroys gcb on task of host h and returns the blocks its pool still held.
inline size_t destroy_counting_leftovers(hostsim::Host& h, PERLGCB* gcb, host_task* task)
{
    pool_leftovers_count = 0;
    pool_leftovers_table_block = gcb->op_run_function_table;
    h.over.xkPoolDestroy = [](host_pool* pool) {
        auto* p = reinterpret_cast<hostsim::Pool*>(pool);
        for (const auto& kv : p->live)
            if (kv.first != pool_leftovers_table_block)
                pool_leftovers_count++;
        p->host->destroy_pool(p);
    };
    rexhost_interp_destroy(gcb, task);
    h.over.xkPoolDestroy = nullptr;
    return pool_leftovers_count;
}

}  // namespace prxtest
