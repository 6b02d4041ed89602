// I/O routines behind the handle ops, the vec and bit-string routines, and
// the value dump.
#pragma once

#include "prx.h"

// Closes a handle's streams; explicit is 0 for an implicit close.
int32_t io_close_streams(PERLGCB* gcb, IO* io, int32_t explicit_close);
// Writes a dump of the value to the debug stream.
void dump_value(PERLGCB* gcb, SV* sv);
// Reads a bit field of 1 to 32 bits at an element offset of a string value.
uint64_t do_vec_read(PERLGCB* gcb, SV* sv, int32_t offset, int32_t bits);
// Writes the value's integer into its lvalue target's bit field.
void do_vec_write(PERLGCB* gcb, SV* sv);
// Parses an I/O discipline string (":raw", ":crlf") into open-mode bits;
// an unknown discipline is reported.
int32_t do_parse_discipline(PERLGCB* gcb, SV* discipline);
// Joins the strings of the values after first up to last (stack positions)
// into target, with separator's string between them.
void do_join_list(PERLGCB* gcb, SV* target, SV* separator, SV** first, SV** last);
// Makes the glob the default output handle.
void io_select_default_output(PERLGCB* gcb, GV* gv);
