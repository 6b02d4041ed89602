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

// Warning tests for the current statement (callers test before they warn):
// the all setting, a bit string with the category's bit set, or the
// standard setting while the -w switch is on.
bool warn_enabled(PERLGCB* gcb, int32_t category);
