// The per-interpreter table block: each interpreter's own copies of the op
// tables, the signal tables, the case-swap table and the magic method tables.
#pragma once

#include <cstdint>

#include "prx.h"

constexpr int SIGNAL_TABLE_SIZE = 28;    // 27 names and the null terminator
constexpr uint64_t TABLE_BLOCK_SIZE = 13228;

// Copies the tables into one block from the interpreter's pool and points
// the interpreter's table fields at the copies; copies the magic method
// tables into the interpreter itself. 0 on success; 1 when the pool has no
// block to give, in which case nothing is copied and no field is set.
uint32_t init_table_block(PERLGCB* gcb);

// The constant images the block is copied from.
extern const char* const signal_name_image[SIGNAL_TABLE_SIZE];
extern const uint32_t signal_number_image[SIGNAL_TABLE_SIZE];
extern const uint8_t case_swap_image[256];
extern const magic_method_table magic_table_image[MAGIC_VTBL_COUNT];
