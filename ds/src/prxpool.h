// The interpreter's memory: every block comes from the pool of the current
// task's interpreter, with the out-of-memory policy in one place.
#pragma once

#include <cstdint>

#include "prx.h"

void* pool_malloc(uint64_t size);
void* pool_realloc(void* block, uint64_t size);
void pool_free(void* block);
char* pool_strdup(PERLGCB* gcb, const char* text);
char* pool_strndup(PERLGCB* gcb, const char* text, int32_t count);
void* mem_move(const void* src, void* dst, int32_t count);
void mem_fill_repeated(PERLGCB* gcb, void* dst, const void* src, int32_t len, int32_t count);
