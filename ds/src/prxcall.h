// Calls of interpreter code from native code: a code value with the
// arguments above the current mark, or a method by name.
#pragma once

#include "prx.h"

// Call flags.
enum : int32_t {
    CALL_DISCARD = 2,      // results discarded
    CALL_EVAL = 4,         // errors trapped as an eval does
    CALL_KEEPERR = 16,     // the current error text kept
};

int32_t interp_call_value(PERLGCB* gcb, CV* cv, int32_t flags);
