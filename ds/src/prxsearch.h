// String search: byte-range search, delimited copies.
#pragma once

#include "prx.h"

const char* copy_to_delimiter(PERLGCB* gcb, char* to, const char* toend, const char* from, const char* fromend,
                              int32_t delim, int32_t* count);
