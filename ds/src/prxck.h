// What the check routines share: the default operand $_, and the generic
// argument check that most of them run as one of their steps.
#pragma once

#include "prx.h"

// $_ as an operand: a scalar dereference of a gv op of *_, built through the
// builders (so the gv op and the dereference pass their own checks).
OP* ck_default_scalar_operand(PERLGCB* gcb);
// Imposes lvalue context for type on each kid of o; returns o.
OP* ck_lvalue_kids(PERLGCB* gcb, OP* o, int32_t type);
// Whether an op is a bareword: a const op marked BARE.
bool ck_is_bareword(const OP* o);
// The text of a const op's value.
const char* ck_const_text(PERLGCB* gcb, OP* o);
// The first operand of a list op: the kid after a pushmark, live or nulled.
OP* ck_first_operand(OP* o);
// Recognises the four built-in orders of a sort block ($a <=> $b, $b <=> $a
// and their cmp and integer forms): the block goes, flags stay.
void ck_sort_simplify(PERLGCB* gcb, OP* o);
