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
