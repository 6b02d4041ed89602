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
// Calls the named method on the object that stands first above the current
// mark; returns the number of results left on the stack.
int32_t interp_call_method_by_name(PERLGCB* gcb, const char* name, int32_t flags);
// Requires a file by evaluating a require of it.
void interp_require_file(PERLGCB* gcb, const char* name);
// Creates the debugger's globals.
void interp_setup_debugger(PERLGCB* gcb);
// Takes each code value off the front of a special-block queue and runs it;
// a block that dies fails the compilation (BEGIN) or the call queue.
void interp_run_block_queue(PERLGCB* gcb, int32_t oldscope, AV* queue);
// The named sub's code value; with create, a missing one is declared as a
// stub. Null when it does not exist (or is only a cached method).
CV* interp_get_sub(PERLGCB* gcb, const char* name, int32_t create);
