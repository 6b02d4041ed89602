// Op records and the five parallel op tables: the record shapes with their
// flag bits, the op types, and the constant images that every interpreter
// copies into its table block.
#pragma once

#include <cstdint>

#include "prx.h"

// ---- op records -----------------------------------------------------------
//
// Every shape begins with the base fields (an OP); the longer shapes add
// theirs behind it. All records come zero-filled from the interpreter's pool.

struct OP {
    OP* op_next;           // next op in execution order; a leaf points to itself
    OP* op_sibling;        // next kid of the same parent
    op_run_fn op_ppaddr;   // run-time function of op_type
    uint32_t op_targ;      // pad slot of the target (other uses by type)
    uint16_t op_type;      // row of the op tables; 0 the null op
    uint16_t op_seq;       // peephole order; 65535 never freed
    uint8_t op_flags;      // OPf_* bits
    uint8_t op_private;    // per-type bits
};
using op_base = OP;

struct op_pad {
    OP op;
    uint32_t op_padix;     // pad slot holding the op's value
};

struct op_unary {
    OP op;
    OP* op_first;
};

struct op_binary {
    OP op;
    OP* op_first;
    OP* op_last;
};

struct op_logical {
    OP op;
    OP* op_first;
    OP* op_other;          // first op of the branch taken when the condition decides so
};

struct op_list {
    OP op;
    OP* op_first;
    OP* op_last;
};

struct op_value {
    OP op;
    SV* op_sv;             // one reference held by the op
};

struct op_string {
    OP op;
    char* op_pv;           // pool string owned by the op (a value on a UTF-8 trans op)
};

struct op_loop {
    OP op;
    OP* op_first;
    OP* op_last;
    OP* op_redoop;
    OP* op_nextop;
    OP* op_lastop;
};

struct op_pattern {
    OP op;
    OP* op_first;
    OP* op_last;
    OP* op_pmreplroot;     // replacement tree of subst; split's target glob on pushre
    OP* op_pmreplstart;    // first op of the replacement, not owned
    op_pattern* op_pmnext; // next pattern op of the same package
    re_compiled* op_pmregexp;  // released through the interpreter's regex free hook
    uint16_t op_pmflags;
    uint16_t op_pmpermflags;
    uint8_t op_pmdynflags; // 0x01 matched once, 0x02 tainted, 0x04 UTF-8 pattern text
};

// The statement op (op_statement).
struct COP {
    OP op;                 // base fields
    char* cop_label;       // label owned by the op, or null
    HV* cop_stash;         // package in force, not counted
    GV* cop_filegv;        // glob of the source file, one reference
    uint32_t cop_seq;      // statement sequence number
    int32_t cop_arybase;   // array base in force
    uint16_t cop_line;     // source line; 65535 no line
    SV* cop_warnings;      // a WARNINGS_* marker or a bit-string value owned by the op
};
using op_statement = COP;
static_assert(std::is_standard_layout_v<COP> && offsetof(COP, op) == 0);
static_assert(offsetof(op_unary, op_first) == sizeof(OP) && offsetof(op_value, op_sv) == sizeof(OP));
static_assert(offsetof(op_pattern, op_last) == offsetof(op_binary, op_last));
static_assert(offsetof(op_loop, op_last) == offsetof(op_list, op_last));

// Marker values of cop_warnings; they are not values and never released.
constexpr uintptr_t WARNINGS_STD = 0;
constexpr uintptr_t WARNINGS_ALL = 16;
constexpr uintptr_t WARNINGS_NONE = 32;
// Private bit of a statement op: byte semantics in force.
constexpr uint8_t HINT_BYTES = 0x08;

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

// Records a compile error: appends the message to the eval's error text
// inside an eval, else to the error buffer; counts it.
void error_queue(PERLGCB* gcb, SV* message);

// The constant value of a body made of one constant, else null.
SV* op_const_value(PERLGCB* gcb, OP* start, CV* cv);
// The constant value of a sub with an empty prototype whose body is one constant, else null.
SV* cv_const_value(PERLGCB* gcb, CV* cv);
// Warns "Prototype mismatch:" when the old and the new prototype differ.
void cv_check_prototype(PERLGCB* gcb, CV* cv, GV* gv, const char* proto);
// Frees a code or format value's op tree and pad and clears its code fields.
void cv_undefine(PERLGCB* gcb, CV* cv);

// Starts compiling a sub or format body: saves the compile state and makes a
// fresh code value the one being compiled (compile_cv); returns the save-stack
// index from before the call.
int32_t start_sub_compile(PERLGCB* gcb, int32_t is_format, uint32_t flags);

// A native sub: called with the interpreter and its code value; works on
// the arguments above the top mark.
typedef void (*xsub_fn)(PERLGCB* gcb, CV* cv);
// Installs a native function as the named sub (anonymous without a name);
// file is kept, not copied.
CV* sub_define_xs(PERLGCB* gcb, const char* name, xsub_fn fn, const char* file);
// Defines the named sub from its name op, prototype op and body op (a
// declaration without a body); consumes the ops and unwinds to floor.
CV* sub_define_plain(PERLGCB* gcb, int32_t floor, OP* name, OP* proto, OP* body);
// A value op of the type; the op takes over the value's reference.
OP* op_new_value(PERLGCB* gcb, int32_t type, int32_t flags, SV* sv);
// Frees an op tree (none is ignored).
void op_free_tree(PERLGCB* gcb, OP* op);
// Loads a module as a use statement would; flags 2 imports nothing. Takes
// over the name value; the import values follow the version, ended by null.
void module_load_va(PERLGCB* gcb, uint32_t flags, SV* name, SV* version, ...);

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

// Frees an op tree.
void op_free_tree(PERLGCB* gcb, OP* op);
