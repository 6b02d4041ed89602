// Bit names and globs that the front end's and the interpreter's headers
// are gaining; each entry goes as soon as its home header has it.
#pragma once

#include "prxgv.h"
#include "prxmsg.h"
#include "prxop.h"

enum : int32_t {
    WARN_BAREWORD = 29,
    WARN_DEPRECATED = 30,
};

// The glob of the default variable, *_.
inline GV* default_glob_of(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PVGV); }
// The glob of the hint hash, *^H, when it exists.
inline GV* hints_glob_of(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "\x08", 0, SVt_PVHV); }
