// The interpreter's memory wrappers over its host pool.
#include "prxpool.h"

#include <cstring>

#include "prxlibc.h"

namespace {

// A failed allocation: null under the no-memory-ok flag, else the text and
// an exit with status 1.
void* out_of_memory(PERLGCB* gcb)
{
    if (gcb->no_memory_ok)
        return nullptr;
    static const char text[] = "Out of memory!\n";
    prx_stderr_write(gcb, text, sizeof text - 1);
    interp_exit(gcb, 1);
}

void* alloc_in(PERLGCB* gcb, uint64_t size)
{
    host_pool* pool = gcb->pool;
    void* block = pool->alloc(pool, size ? size : 1, POOL_ALLOC);
    return block ? block : out_of_memory(gcb);
}

}  // namespace

void* pool_malloc(PERLGCB* gcb, uint64_t size)
{
    return alloc_in(gcb, size);
}

void* pool_realloc(PERLGCB* gcb, void* block, uint64_t size)
{
    if (size == 0) {
        if (block)
            gcb->pool->free(gcb->pool, block, POOL_UNKNOWN_SIZE, POOL_FREE);
        return nullptr;
    }
    // The pool takes a 32-bit size: a larger one cannot be had, and cutting
    // it to 32 bits would hand back a block smaller than asked for.
    if (size > UINT32_MAX)
        return out_of_memory(gcb);
    if (!block)
        return alloc_in(gcb, static_cast<uint32_t>(size));
    void* moved = xkPoolRealloc(gcb->pool, block, POOL_UNKNOWN_SIZE, static_cast<uint32_t>(size), 0);
    return moved ? moved : out_of_memory(gcb);
}

void pool_free(PERLGCB* gcb, void* block)
{
    if (block)
        gcb->pool->free(gcb->pool, block, POOL_UNKNOWN_SIZE, POOL_FREE);
}

void* pool_try_malloc(PERLGCB* gcb, uint64_t size)
{
    int32_t saved = gcb->no_memory_ok;
    gcb->no_memory_ok = 1;
    void* block = pool_malloc(gcb, size);
    gcb->no_memory_ok = saved;
    return block;
}

void* pool_try_realloc(PERLGCB* gcb, void* block, uint64_t size)
{
    int32_t saved = gcb->no_memory_ok;
    gcb->no_memory_ok = 1;
    void* moved = pool_realloc(gcb, block, size);
    gcb->no_memory_ok = saved;
    return moved;
}

char* pool_strdup(PERLGCB* gcb, const char* text)
{
    size_t len = text ? std::strlen(text) : 0;
    char* block = static_cast<char*>(pool_malloc(gcb, len + 1));
    if (!block)
        return nullptr;
    if (text)
        xk_copy(text, block, static_cast<int32_t>(len + 1));
    else
        block[0] = 0;
    return block;
}

char* pool_strndup(PERLGCB* gcb, const char* text, int32_t count)
{
    int64_t n = count < 0 ? 0 : count;
    char* block = static_cast<char*>(pool_malloc(gcb, static_cast<uint64_t>(n) + 1));
    if (!block)
        return nullptr;
    xk_copy(text, block, static_cast<int32_t>(n));
    block[n] = 0;
    return block;
}

void* mem_move(const void* src, void* dst, int32_t count)
{
    if (count > 0)
        std::memmove(dst, src, static_cast<size_t>(count));
    return dst;
}

void mem_fill_repeated(PERLGCB*, void* dst, const void* src, int32_t len, int32_t count)
{
    if (count < 1 || len < 1)
        return;
    uint8_t* out = static_cast<uint8_t*>(dst);
    if (len == 1) {
        std::memset(out, *static_cast<const uint8_t*>(src), static_cast<size_t>(count));
        return;
    }
    for (int32_t i = 0; i < count; i++)
        std::memcpy(out + static_cast<size_t>(i) * static_cast<size_t>(len), src, static_cast<size_t>(len));
}
