// The regular-expression engine's interface to the rest of the interpreter.
#pragma once

#include "prx.h"

// Pushes the matcher's global state on the save stack, so that it comes back
// when the enclosing scope is left.
void re_save_match_state(PERLGCB* gcb);
