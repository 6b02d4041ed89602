// The memory of matchmod and of the random-number framework: every block
// comes from a host allocator through these, with one policy. Blocks are
// zero-filled unless the caller passes other flags. A failure gives null,
// never a jump or a stop, and the caller answers it with the status its
// contract names; xk_alloc_or_stop is for the callers whose contract is to
// stop the host (fatal code 1016) instead.
#pragma once

#include <cstdint>

#include "host/hostcall.h"

constexpr int32_t XK_FATAL_NO_MEMORY = 1016;

inline void* xk_alloc(host_pool* pool, uint64_t size, uint32_t flags = POOL_ALLOC_ZERO6)
{
    return pool->alloc(pool, size, flags);
}

inline void* xk_alloc_or_stop(host_pool* pool, uint64_t size)
{
    void* block = xk_alloc(pool, size);
    if (!block)
        xkFatal(XK_FATAL_NO_MEMORY, 0);
    return block;
}

// A larger block with the old contents; the new bytes are as the host leaves
// them. On failure the old block stays as it was.
inline void* xk_realloc(host_pool* pool, void* block, uint32_t size)
{
    return xkPoolRealloc(pool, block, POOL_UNKNOWN_SIZE, size, 6);
}

inline void xk_free(host_pool* pool, void* block)
{
    if (block)
        pool->free(pool, block, 0, POOL_FREE);
}
