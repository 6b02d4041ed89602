// Op records and the five parallel op tables: the record shapes with their
// flag bits, the op types, and the constant images that every interpreter
// copies into its table block.
#pragma once

#include <cstdint>

#include "prx.h"

// ---- op records -----------------------------------------------------------
//
// Every shape begins with the base fields; the longer shapes add theirs
// behind them. All records come zero-filled from the interpreter's pool.

#define PRX_OP_BASE_FIELDS                                                              \
    OP* next;           /* next op in execution order; a leaf points to itself */     \
    OP* sibling;        /* next kid of the same parent */                            \
    op_run_fn run;      /* copy of the run-time function of TYPE */                  \
    uint32_t targ;      /* pad slot of the target; former TYPE of a nulled op */     \
    uint16_t type;      /* row in the op tables; 0 is the null op */                 \
    uint16_t seq;       /* peephole order; 65535: never freed */                     \
    uint8_t flags;      /* OPf_* */                                                  \
    uint8_t priv;       /* per-type bits */

struct OP {
    PRX_OP_BASE_FIELDS
};
using op_base = OP;

struct op_pad {
    PRX_OP_BASE_FIELDS
    uint32_t padix;     // pad slot holding the op's value
};

struct op_unary {
    PRX_OP_BASE_FIELDS
    OP* first;
};

struct op_binary {
    PRX_OP_BASE_FIELDS
    OP* first;
    OP* last;
};

struct op_logical {
    PRX_OP_BASE_FIELDS
    OP* first;
    OP* other;          // first op of the branch taken when the condition decides so
};

struct op_list {
    PRX_OP_BASE_FIELDS
    OP* first;
    OP* last;
};

struct op_value {
    PRX_OP_BASE_FIELDS
    SV* value;          // one reference held by the op
};

struct op_string {
    PRX_OP_BASE_FIELDS
    char* string;       // pool string owned by the op (a value on a UTF-8 trans op)
};

struct op_loop {
    PRX_OP_BASE_FIELDS
    OP* first;
    OP* last;
    OP* redo_op;
    OP* next_op;
    OP* last_op;
};

struct op_pattern {
    PRX_OP_BASE_FIELDS
    OP* first;
    OP* last;
    OP* repl_root;      // replacement tree of subst; split's target glob on pushre
    OP* repl_start;     // first op of the replacement, not owned
    op_pattern* pm_next;  // next pattern op of the same package
    re_compiled* regexp;  // released through the interpreter's regex free hook
    uint16_t pmflags;
    uint16_t pm_permflags;
    uint8_t pm_dynflags;  // 0x01 matched once, 0x02 tainted, 0x04 UTF-8 pattern text
};

struct COP {
    PRX_OP_BASE_FIELDS
    char* label;        // owned, or null
    HV* package;        // stash in force, not counted
    GV* file;           // glob of the source file, one reference
    uint32_t stmt_seq;  // sequence number for lexical visibility
    int32_t array_base;
    uint16_t line;      // 65535: no line
    SV* warnings;       // one of the three markers, or an owned bit-string value
};
using op_statement = COP;

#undef PRX_OP_BASE_FIELDS

static_assert(std::is_standard_layout_v<OP> && std::is_trivially_copyable_v<OP>);
static_assert(offsetof(op_unary, first) == sizeof(OP) && offsetof(op_value, value) == sizeof(OP));
static_assert(offsetof(op_pattern, first) == offsetof(op_binary, first));
static_assert(offsetof(op_pattern, last) == offsetof(op_binary, last));
static_assert(offsetof(op_loop, last) == offsetof(op_list, last));

// FLAGS bits.
enum : uint8_t {
    OPf_WANT = 0x03,        // 0 unknown, 1 void, 2 scalar, 3 list
    OPf_WANT_VOID = 0x01,
    OPf_WANT_SCALAR = 0x02,
    OPf_WANT_LIST = 0x03,
    OPf_KIDS = 0x04,
    OPf_PARENS = 0x08,
    OPf_REF = 0x10,
    OPf_MOD = 0x20,
    OPf_STACKED = 0x40,
    OPf_SPECIAL = 0x80,
};

// Bits of the argument-class word.
enum : uint32_t {
    OA_MARK = 0x001,            // operands form a list that begins with a pushmark
    OA_FOLDCONST = 0x002,
    OA_RETSCALAR = 0x004,
    OA_TARGET = 0x008,
    OA_RETINTEGER = 0x010,
    OA_OTHERINT = 0x020,        // the integer variant is the next row
    OA_DANGEROUS = 0x040,
    OA_DEFGV = 0x080,
    OA_TARGLEX = 0x100,
    OA_CLASS_SHIFT = 9,         // record class: (word >> 9) & 15
    OA_CLASS_MASK = 0x1E00,
    OA_OPERAND_SHIFT = 13,      // operand classes, 4 bits each
};

// ---- the op types ---------------------------------------------------------

enum op_type : uint16_t {
#define PRX_OP(e, name, desc, pp, ppmark, ck, ckmark, args) e,
#include "prxop.def"
#undef PRX_OP
    OP_max
};
static_assert(OP_max == 351);

// Run-time functions and check routines, every row's (rows that share a
// function declare it again).
#define PRX_OP(e, name, desc, pp, ppmark, ck, ckmark, args) \
    OP* pp(PERLGCB* gcb);                               \
    OP* ck(PERLGCB* gcb, OP* op);
#include "prxop.def"
#undef PRX_OP

// The constant images of the five op tables; each interpreter works on its
// own copies (op_*_table in PERLGCB), made by init_table_block.
extern const op_run_fn op_run_function_image[OP_max];
extern const op_check_fn op_check_image[OP_max];
extern const char* const op_name_image[OP_max];
extern const char* const op_desc_image[OP_max];
extern const uint32_t op_args_image[OP_max];
