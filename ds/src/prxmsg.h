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

// Warning categories: WARN_<name> is the category's number.
enum : int32_t {
#define WARN_CATEGORY(number, name) WARN_##name = number,
#include "prxwarn.def"
#undef WARN_CATEGORY
};
constexpr int32_t WARN_CATEGORY_COUNT = 0
#define WARN_CATEGORY(number, name) +1
#include "prxwarn.def"
#undef WARN_CATEGORY
    ;
// The rows stand in number order from 0, so a category's number is its row.
constexpr bool warn_rows_in_order()
{
    constexpr int32_t numbers[] = {
#define WARN_CATEGORY(number, name) number,
#include "prxwarn.def"
#undef WARN_CATEGORY
    };
    for (int32_t i = 0; i < WARN_CATEGORY_COUNT; i++)
        if (numbers[i] != i)
            return false;
    return true;
}
static_assert(WARN_CATEGORY_COUNT == 46 && warn_rows_in_order());
// Bytes of a statement's warning bit string: two bits per category.
constexpr uint64_t WARN_BITS_SIZE = (2 * WARN_CATEGORY_COUNT + 7) / 8;
static_assert(WARN_BITS_SIZE == 12);

// Bits of the global warning switch (gcb->warn_switch).
enum : uint32_t {
    G_WARN_ON = 0x01,        // -w, or $^W set
    G_WARN_ALL_ON = 0x02,    // -W: every category on, whatever a statement says
    G_WARN_ALL_OFF = 0x04,   // -X: every category off
    G_WARN_ALL_MASK = 0x06,  // either of the two forcing bits
    G_WARN_ONCE = 0x08,      // some statement turned the once category on
};
