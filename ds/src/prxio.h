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
// Runs the current op's transliteration on the value and returns the number
// of characters its search list matched.
uint32_t do_trans_worker(PERLGCB* gcb, SV* sv);
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
// ---- open family, ARGV, stat, exec and file routines ------------------------
//
// Streams are the tokens of prx.h: 1 standard output, 2 standard error, 0
// none. Yes/no results are 1 or 0; positions and stat results are signed
// 32-bit with -1 for a failure.

// Opens a handle on the glob: the mode from the name text, or with argc
// above 0 the name is the mode and the file name is arg's string. Raw mode
// (sysopen) opens the name with rawmode and rawperm. Leaves the handle as it
// was when the open fails.
int32_t do_open_worker(PERLGCB* gcb, GV* gv, const char* name, int32_t len, int32_t as_raw, int32_t rawmode,
                       int32_t rawperm, PrxStream supplied, SV* arg, int32_t argc);
// do_open_worker without a separate mode argument.
int32_t do_open_entry(PERLGCB* gcb, GV* gv, const char* name, int32_t len, int32_t as_raw, int32_t rawmode,
                      int32_t rawperm, PrxStream supplied);
// Closes the glob's handle (null: the ARGV glob); an explicit close resets
// the page state and reports a missing handle.
int32_t do_close_glob(PERLGCB* gcb, GV* gv, int32_t explicit_close);
// Opens the next file of the ARGV array on the glob; its input stream, or
// none when the array is exhausted.
PrxStream do_next_argv_file(PERLGCB* gcb, GV* gv);
// True at end of file (through the ARGV files when the current op asks).
int32_t do_eof(PERLGCB* gcb, GV* gv);
// Makes the glob the default output handle (one reference held).
void io_select_default_output(PERLGCB* gcb, GV* gv);

// stat and lstat of the current op's operand; the stat cache is updated.
int32_t do_file_stat(PERLGCB* gcb);
int32_t do_link_stat(PERLGCB* gcb);
// exec with a list (first and last stack positions); the second form also
// writes the error number to fd when report is set. Always false here.
int32_t do_exec_list(PERLGCB* gcb, SV* prog, SV** first, SV** last);
int32_t do_exec_list(PERLGCB* gcb, SV* prog, SV** first, SV** last, int32_t fd, int32_t report);
// exec of one command line; the second form as above.
int32_t do_exec_command(PERLGCB* gcb, const char* cmd);
int32_t do_exec_command(PERLGCB* gcb, const char* cmd, int32_t fd, int32_t report);
// Frees the argument vector and command copy the last exec left.
void do_exec_free_args(PERLGCB* gcb);
// unlink (OP_UNLINK) or chmod (OP_CHMOD) of the names in (first, last];
// the count of files done.
int32_t do_apply_to_files(PERLGCB* gcb, int32_t optype, SV** first, SV** last);
// Permission test of -r/-w/-x: bits 0x100 read, 0x80 write, 0x40 execute.
int32_t do_check_access(PERLGCB* gcb, int32_t bits, int32_t effective, const prx_statbuf* st);
// tell, seek and sysseek of a handle.
int32_t do_handle_position(PERLGCB* gcb, GV* gv);
int32_t do_seek_handle(PERLGCB* gcb, GV* gv, int64_t pos, int32_t whence);
int32_t do_seek_descriptor(PERLGCB* gcb, GV* gv, int64_t pos, int32_t whence);

// The line reader behind readline, rcatline and glob: reads from the
// last-read handle into the op's target; returns the next op.
OP* io_readline(PERLGCB* gcb);
