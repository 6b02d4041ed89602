// Messages, fatal errors and warnings: text building with the message
// suffix, the fatal-error path over the jump environments, warnings by
// category.
#pragma once

#include <cstdarg>

#include "prx.h"

// Formats into the reusable message value; no suffix. Returns its text.
const char* format_message(PERLGCB* gcb, const char* fmt, ...);
const char* vformat_message(PERLGCB* gcb, const char* fmt, va_list* args);
// Formats and applies the suffix rule; returns the message value.
SV* build_message(PERLGCB* gcb, const char* fmt, ...);
SV* vbuild_message(PERLGCB* gcb, const char* fmt, va_list* args);
// Never returns: code 4 for a guard trip, 3 into an eval, else an exit (2).
[[noreturn]] void fatal_error(PERLGCB* gcb, const char* fmt, ...);
// A fatal error raised from an op: returns the op the run loop resumes at,
// or jumps.
OP* die_error(PERLGCB* gcb, const char* fmt, ...);
void warning(PERLGCB* gcb, const char* fmt, ...);
void category_warning(PERLGCB* gcb, int32_t category, const char* fmt, ...);
void warn_bad_filehandle(PERLGCB* gcb, GV* gv, IO* io, int32_t optype);

// Warning tests for the current statement (callers test before they warn).
// warn_enabled: the all setting, a bit string with bit 2c set, or the
// standard setting while the -w switch is on. warn_enabled_default: a
// default-on category: the all or the standard setting, or bit 2c set.
bool warn_enabled(PERLGCB* gcb, int32_t category);
bool warn_enabled_default(PERLGCB* gcb, int32_t category);

// Warning categories.
enum : int32_t {
    WARN_ALL = 0,
    WARN_CLOSURE = 2,
    WARN_CLOSED = 6,
    WARN_EXEC = 7,
    WARN_UNOPENED = 10,
    WARN_MISC = 11,
    WARN_NUMERIC = 12,
    WARN_OVERFLOW = 14,
    WARN_PORTABLE = 16,
    WARN_REDEFINE = 18,
    WARN_INTERNAL = 23,
    WARN_SYNTAX = 27,
    WARN_DIGIT = 31,
    WARN_PARENTHESIS = 32,
    WARN_PRINTF = 34,
    WARN_PROTOTYPE = 35,
    WARN_TAINT = 39,
    WARN_UNINITIALIZED = 41,
    WARN_UTF8 = 44,
    WARN_VOID = 45,
};
