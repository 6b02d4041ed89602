// Number scanning and numeric conversion.
#pragma once

#include "prx.h"

// The in/out length: nonzero on entry allows underscores between digits; on
// return the bytes consumed.
double scan_octal(PERLGCB* gcb, const char* start, uint64_t len, uint64_t* retlen);
double scan_hexadecimal(PERLGCB* gcb, const char* start, uint64_t len, uint64_t* retlen);
