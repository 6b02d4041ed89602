// The save stack: entries pushed by code that changes state for the time of
// a scope, and their unwinding.
#pragma once

#include "prx.h"

void save_push_value_ptr(PERLGCB* gcb, SV** slot);
void save_push_release_value(PERLGCB* gcb, SV* sv);
void leave_scope(PERLGCB* gcb, int32_t base);
void save_push_destructor(PERLGCB* gcb, void (*fn)(PERLGCB* gcb, void* arg), void* arg);
void save_push_int(PERLGCB* gcb, int32_t* addr);
void save_push_i32(PERLGCB* gcb, int32_t* addr);
void save_push_generic_ptr(PERLGCB* gcb, void** addr);
void save_push_i8(PERLGCB* gcb, int8_t* addr);
