// The save stack: entries pushed by code that changes state for the time of
// a scope, and their unwinding.
#pragma once

#include "prx.h"

void save_push_value_ptr(PERLGCB* gcb, SV** slot);
void save_push_release_value(PERLGCB* gcb, SV* sv);
void leave_scope(PERLGCB* gcb, int32_t base);
