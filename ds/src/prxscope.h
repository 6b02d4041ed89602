// The save stack: entries that undo a change when the scope that made it
// ends, their push routines, and scopes.
#pragma once

#include "prx.h"

void scope_enter(PERLGCB* gcb);
void scope_leave(PERLGCB* gcb);
void leave_scope(PERLGCB* gcb, int32_t base);
void save_push_destructor(PERLGCB* gcb, void (*fn)(PERLGCB* gcb, void* arg), void* arg);
void save_push_int(PERLGCB* gcb, int32_t* addr);
void save_push_i32(PERLGCB* gcb, int32_t* addr);
void save_push_generic_ptr(PERLGCB* gcb, void** addr);
