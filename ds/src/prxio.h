// I/O routines behind the handle ops, and the value dump.
#pragma once

#include "prx.h"

// Closes a handle's streams; explicit is 0 for an implicit close.
int32_t io_close_streams(PERLGCB* gcb, IO* io, int32_t explicit_close);
// Writes a dump of the value to the debug stream.
void dump_value(PERLGCB* gcb, SV* sv);
