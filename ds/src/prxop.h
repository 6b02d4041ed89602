// Op records: the base fields every op shares and the statement op, as far
// as the value layer and the messages read them; the op-table data lives
// beside them.
#pragma once

#include "prx.h"

typedef OP* (*op_run_fn)(PERLGCB* gcb);

// The fields every op record begins with.
struct OP {
    OP* op_next;           // next op in execution order
    OP* op_sibling;        // next kid of the same parent
    op_run_fn op_ppaddr;   // run-time function of op_type
    uint32_t op_targ;      // pad slot of the target (other uses by type)
    uint16_t op_type;      // row of the op tables; 0 the null op
    uint16_t op_seq;       // peephole order; 65535 never freed
    uint8_t op_flags;      // common flag bits
    uint8_t op_private;    // per-type bits
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
static_assert(std::is_standard_layout_v<COP> && offsetof(COP, op) == 0);

// Marker values of cop_warnings; they are not values and never released.
constexpr uintptr_t WARNINGS_STD = 0;
constexpr uintptr_t WARNINGS_ALL = 16;
constexpr uintptr_t WARNINGS_NONE = 32;
// Private bit of a statement op: byte semantics in force.
constexpr uint8_t HINT_BYTES = 0x08;

// Op types the value layer names.
enum : uint16_t {
    OP_SPRINTF = 115,
    OP_PRTF = 208,
};

// The constant value of a body made of one constant, else null.
SV* op_const_value(PERLGCB* gcb, OP* start, CV* cv);
// The constant value of a sub with an empty prototype whose body is one constant, else null.
SV* cv_const_value(PERLGCB* gcb, CV* cv);
// Warns "Prototype mismatch:" when the old and the new prototype differ.
void cv_check_prototype(PERLGCB* gcb, CV* cv, GV* gv, const char* proto);
// Frees a code or format value's op tree and pad and clears its code fields.
void cv_undefine(PERLGCB* gcb, CV* cv);

// The pattern op (match, qr, subst, pushre).
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

// Frees an op tree.
void op_free_tree(PERLGCB* gcb, OP* op);
