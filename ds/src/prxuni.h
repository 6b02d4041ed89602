// Unicode classes and swashes: the class tests of UTF-8 characters.
#pragma once

#include "prx.h"

int32_t utf8_is_ident_start(PERLGCB* gcb, const uint8_t* p);
