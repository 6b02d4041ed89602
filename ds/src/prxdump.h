// Debug dumps of op trees and the line printer every dump writes through.
#pragma once

#include "prx.h"

// Writes level times the indent width in blanks, then the formatted text.
void dump_indented_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* fmt, ...);
// "label = 0x<address>" and the glob's package and name, the glob's name, or
// the hash's name, each between double quotes after a tab; then a newline.
void dump_glob_name_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, GV* gv);
void dump_glob_short_name_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, GV* gv);
void dump_hash_name_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, HV* hv);

// One block of lines per op, its kids nested one level deeper.
void dump_op_tree(PERLGCB* gcb, int32_t level, PrxStream stream, OP* op);
// The pattern block of a pattern op; "{}" for none.
void dump_pattern_op(PERLGCB* gcb, int32_t level, PrxStream stream, OP* op);
// The same at level 0 on the debug stream.
void dump_op_tree_debug(PERLGCB* gcb, OP* op);
void dump_pattern_op_debug(PERLGCB* gcb, OP* op);
// The current eval root, which must exist.
void dump_eval_tree(PERLGCB* gcb);
// The sub or the format of a glob that has a package and one.
void dump_named_sub(PERLGCB* gcb, GV* gv);
void dump_named_format(PERLGCB* gcb, GV* gv);
// Every sub and format of a package, then its nested packages.
void dump_package_subs(PERLGCB* gcb, HV* stash);
// The main program's tree, then the subs and formats of every package.
void dump_program(PERLGCB* gcb);

// ---- values and magic chains -------------------------------------------------

// Sets dest to the display form of cur bytes: between double quotes, with
// escapes for the bytes that do not print, "..." once the display reached
// limit bytes (0: no limit), and a trailing "\0" when len (the allocated
// size, 0 when unknown) says a NUL follows the bytes. Returns dest's text.
const char* dump_quote_string(PERLGCB* gcb, SV* dest, const char* bytes, uint64_t cur, uint64_t len, uint64_t limit);
// A one-line description of a value ("PV(\"abc\"\\0)", "\\IV(3)"); the text
// lives in a new temporary.
const char* dump_value_brief(PERLGCB* gcb, SV* sv);
// The lines of a value at the level: head, flags and body fields. Values it
// refers to are dumped one level deeper while nest is below maxnest;
// dumpops shows a code value's op tree; limit bounds the string displays.
void dump_value_full(PERLGCB* gcb, int32_t level, PrxStream stream, SV* sv, int32_t nest, int32_t maxnest,
                     int32_t dumpops, uint64_t limit);
// dump_value_full at level 0 on the debug stream, without limits or nesting.
void dump_value(PERLGCB* gcb, SV* sv);
// The lines of each magic record of the chain; the values the records own
// are dumped two levels deeper.
void dump_magic_chain(PERLGCB* gcb, int32_t level, PrxStream stream, MAGIC* mg, int32_t nest, int32_t maxnest,
                      int32_t dumpops, uint64_t limit);
// dump_magic_chain at level 0 on the debug stream, without limits.
void dump_magic_chain_debug(PERLGCB* gcb, MAGIC* mg);
