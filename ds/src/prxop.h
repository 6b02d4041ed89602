// Op records: the base fields every op shares and the pattern op, as far
// as the pattern engine reads them.
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
