// The interpreter's memory: every block comes from the pool of the current
// task's interpreter, with the out-of-memory policy in one place.
#pragma once

#include <cstdint>

#include "prx.h"

// The funnel of every interpreter allocation: a block of the interpreter's
// pool; on failure null under no_memory_ok, else "Out of memory!" and exit 1.
void* pool_malloc(PERLGCB* gcb, uint64_t size);
// Size 0 frees the block and gives null; a null block allocates.
void* pool_realloc(PERLGCB* gcb, void* block, uint64_t size);
void pool_free(PERLGCB* gcb, void* block);
// The same two, but a failure always gives null (and a failed reallocation
// leaves the block as it was), whatever no_memory_ok says: for callers whose
// own contract answers a failure, and for the capture of standard error,
// which cannot report its own failure there.
void* pool_try_malloc(PERLGCB* gcb, uint64_t size);
void* pool_try_realloc(PERLGCB* gcb, void* block, uint64_t size);
char* pool_strdup(PERLGCB* gcb, const char* text);
char* pool_strndup(PERLGCB* gcb, const char* text, int32_t count);
void* mem_move(const void* src, void* dst, int32_t count);
void mem_fill_repeated(PERLGCB* gcb, void* dst, const void* src, int32_t len, int32_t count);
