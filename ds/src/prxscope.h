// The save stack: entries that undo a change when the scope that made it
// ends, their push routines, scopes, and the unwinding by entry kind.
#pragma once

#include "prx.h"

// Opens a scope: pushes the save-stack index on the scope stack.
void scope_enter(PERLGCB* gcb);
// Closes the innermost scope: unwinds the save stack to its index.
void scope_leave(PERLGCB* gcb);
// Pops and undoes entries while the save-stack index is above base.
void leave_scope(PERLGCB* gcb, int32_t base);
