// Calls of interpreter code from native code: a code value with the
// arguments above the current mark, a sub or a method by name, and string
// evals; the look-ups of named scalars and subs.
#pragma once

#include "prx.h"

// Call flags.
enum : int32_t {
    CALL_LIST = 1,         // list context (without it: scalar)
    CALL_DISCARD = 2,      // results discarded, inside a scope of their own
    CALL_EVAL = 4,         // errors trapped as an eval does
    CALL_NOARGS = 8,       // the values above the mark are not taken
    CALL_KEEPERR = 16,     // the current error text kept
    CALL_NODEBUG = 32,     // never through the debugger
    CALL_METHOD = 64,      // the callee is a method name
    CALL_VOID = 128,       // void context; wins over CALL_LIST
};

// Eval state bits (in_eval).
enum : int32_t {
    EVAL_INEVAL = 0x1,
    EVAL_KEEPERR = 0x4,
};

// Calls a code value (or, with CALL_METHOD, a method name) with the arguments
// above the current mark; returns the number of results left on the stack.
int32_t interp_call_value(PERLGCB* gcb, CV* cv, int32_t flags);
// The code value of the named sub (created as a stub with create set).
int32_t interp_call_named(PERLGCB* gcb, const char* name, int32_t flags);
// Pushes a mark and each string of the null-terminated array, then calls.
int32_t interp_call_with_strings(PERLGCB* gcb, const char* name, int32_t flags, const char* const* args);
// Calls the named method on the object that stands first above the current
// mark; returns the number of results left on the stack.
int32_t interp_call_method_by_name(PERLGCB* gcb, const char* name, int32_t flags);
// Evaluates the program text in the value as a string eval; the result count.
int32_t interp_eval_value(PERLGCB* gcb, SV* text, int32_t flags);
// Evaluates a C string in scalar context; the result value is a temporary
// of the interpreter. With croak set a true $@ is raised again.
SV* interp_eval_string(PERLGCB* gcb, const char* text, int32_t croak);
// The scalar of a named global, or null when it does not exist and create is 0.
SV* interp_get_scalar(PERLGCB* gcb, const char* name, int32_t create);
// The code value of a named sub; with create, a stub is defined when the
// name has none. None when the glob is missing or only caches a method.
CV* interp_get_sub(PERLGCB* gcb, const char* name, int32_t create);
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
