// Number scanning and numeric conversion: saturating double-to-integer
// conversions, binary, octal and hexadecimal digit scanners, and the power
// and exponential functions.
#pragma once

#include "prx.h"

int32_t nv_to_i32(PERLGCB* gcb, double v);
int64_t nv_to_iv(PERLGCB* gcb, double v);
uint64_t nv_to_uv(PERLGCB* gcb, double v);

// The in/out length: nonzero on entry allows underscores between digits; on
// return the bytes consumed.
double scan_binary(PERLGCB* gcb, const char* start, uint64_t len, uint64_t* retlen);
double scan_octal(PERLGCB* gcb, const char* start, uint64_t len, uint64_t* retlen);
double scan_hexadecimal(PERLGCB* gcb, const char* start, uint64_t len, uint64_t* retlen);

double prx_pow(double x, double y);
double prx_exp(double x);

// Structured exceptions the power and exponential functions raise, and the
// platform layer that takes them: it records the code and returns, as a
// continuable exception would.
enum : uint32_t {
    EXC_INVALID_OPERAND = 0xE0000001u,
    EXC_FLT_OVERFLOW = 0xC0000091u,
};
struct PlatformExceptions {
    uint32_t last_code;     // code of the last raise, 0 before any
    uint32_t count;         // raises so far
};
extern PlatformExceptions g_platform_exceptions;
void platform_raise_exception(uint32_t code, uint32_t flags, uint32_t nargs, const uint64_t* args);
