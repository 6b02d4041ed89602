// I/O routines behind the handle ops, the vec and bit-string routines, and
// the value dump.
#pragma once

#include "prx.h"

// Closes a handle's streams; explicit is 0 for an implicit close.
int32_t io_close_streams(PERLGCB* gcb, IO* io, int32_t explicit_close);
// Writes a dump of the value to the debug stream.
void dump_value(PERLGCB* gcb, SV* sv);
// Reads the offset-th bit field of 1 to 64 bits (a power of two) of a
// string value, big-endian; 0 past the end or for a negative offset.
uint64_t do_vec_read(PERLGCB* gcb, SV* sv, int32_t offset, int32_t bits);
// Writes the vec lvalue's unsigned value into its target's bit field.
void do_vec_write(PERLGCB* gcb, SV* sv);
// Parses an I/O discipline string (":raw", ":crlf") into open-mode bits;
// an unknown discipline is reported.
int32_t do_parse_discipline(PERLGCB* gcb, SV* discipline);

// ---- string routines behind the ops ---------------------------------------

// Joins the values in (first, last] of the argument stack with the
// separator's string into the target.
void do_join_list(PERLGCB* gcb, SV* targ, SV* sep, SV** first, SV** last);
// Formats values[1 .. count-1] by the string of values[0] into the target,
// as sprintf does.
void do_format_list(PERLGCB* gcb, SV* targ, int32_t count, SV** values);
// Chops the last character of sv (each element of an array or value of a
// hash) into the receiver.
void do_chop_value(PERLGCB* gcb, SV* receiver, SV* sv);
// Removes the input record separator from the end of sv (of each element of
// an array or value of a hash); the number of bytes removed.
int32_t do_chomp_value(PERLGCB* gcb, SV* sv);
// Bitwise and (OP_BIT_AND), xor (OP_BIT_XOR) or or (OP_BIT_OR) of two
// strings into the target.
void do_string_bitop(PERLGCB* gcb, int32_t optype, SV* targ, SV* left, SV* right);
// keys, values, or both, of the hash (or pseudo-hash) on the stack top by
// the current op's type and context; returns the next op.
OP* do_keys_values(PERLGCB* gcb);
// Writes one value to a stream; false when the write failed.
int32_t do_print_value(PERLGCB* gcb, SV* sv, PrxStream stream);
// Runs the current op's transliteration on the value; the count.
int32_t do_trans_worker(PERLGCB* gcb, SV* sv);
