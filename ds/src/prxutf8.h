// UTF-8 encoding and decoding, buffer conversions.
#pragma once

#include "prx.h"

// A new pool buffer holding the bytes as UTF-8; updates the length.
uint8_t* utf8_copy_from_bytes(PERLGCB* gcb, const uint8_t* s, int64_t* len);
