// Helpers shared by the value family's files: the inline head allocator,
// the flag steps of the setters, the modify check's fast test, temporaries,
// and switching to a further stack level around a call of interpreter code.
#pragma once

#include <cstring>

#include "prxav.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxrun.h"
#include "prxsv.h"

// Head arenas: 1008 bytes, slot 0 the header.
constexpr uint32_t SV_ARENA_BYTES = 1008;

// Takes a free head, carving a new arena when the list is empty; the head
// has no body, count 1 and flags 0.
SV* sv_take_head_slow(PERLGCB* gcb);
inline SV* take_head(PERLGCB* gcb)
{
    SV* sv = gcb->sv_free_heads;
    if (!sv)
        return sv_take_head_slow(gcb);
    gcb->sv_free_heads = static_cast<SV*>(sv->any);
    gcb->sv_live_count++;
    sv->any = nullptr;
    sv->refcnt = 1;
    sv->flags = 0;
    return sv;
}

// Puts a head whose contents are gone back on the free list.
inline void free_head(PERLGCB* gcb, SV* sv)
{
    sv->any = gcb->sv_free_heads;
    sv->flags = SVt_FREED;
    gcb->sv_free_heads = sv;
    gcb->sv_live_count--;
}

// Body cells of types 1 to 12 (the reference cell of a temporary reference).
void* body_take(PERLGCB* gcb, uint32_t type);
void body_give(PERLGCB* gcb, uint32_t type, void* cell);
// Returns a value's body to its free list (types 1 to 12) or to the pool, and
// leaves the body pointer null; the type byte is the caller's.
void sv_free_body(PERLGCB* gcb, SV* sv);

inline bool in_compile_statement(PERLGCB* gcb) { return gcb->current_statement && gcb->current_statement == gcb->compiling_statement; }
// The byte hint of the current statement: UTF8 flags are ignored.
inline bool bytes_hint(PERLGCB* gcb) { return gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES); }
// UTF-8 in effect for a value: its UTF8 flag, unless the byte hint is set.
inline bool utf8_in_effect(PERLGCB* gcb, const SV* sv) { return (sv->flags & SVf_UTF8) && !bytes_hint(gcb); }
// A string that needs no preparation before it is written: POK without
// READONLY, ROK, FAKE and UTF8.
inline bool plain_string(const SV* sv) { return (sv->flags & (SV_THINK_FIRST | SVf_POK)) == SVf_POK; }

[[noreturn]] void croak_readonly(PERLGCB* gcb);

// The modify check's fast test: nothing to do unless one of the four is set.
inline void modify_check(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SV_THINK_FIRST)
        sv_make_modifiable(gcb, sv);
}

inline void clear_value_flags(SV* sv) { sv->flags &= ~SV_VALUE_FLAGS; }
inline void undo_offset(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVf_OOK)
        sv_undo_offset(gcb, sv);
}
// The taint step of every setter.
inline void taint_step(PERLGCB* gcb, SV* sv)
{
    if (gcb->tainting && gcb->tainted)
        sv_mark_tainted(gcb, sv);
}

// Pushes a value on the temporaries stack and marks it TEMP.
inline void push_temporary(PERLGCB* gcb, SV* sv)
{
    if (gcb->temps_ix + 1 >= gcb->temps_max)
        tmps_stack_extend(gcb, 1);
    gcb->temps[++gcb->temps_ix] = sv;
    sv->flags |= SVs_TEMP;
}

// Type words of sv_referent_type_name for body types 9 and up.
const char* sv_type_word(uint32_t type, bool rok);

// The current op's entry in the op name or description table, or null.
inline const char* current_op_name(PERLGCB* gcb)
{
    return gcb->op && gcb->op_name_table ? gcb->op_name_table[gcb->op->op_type] : nullptr;
}
inline const char* current_op_desc(PERLGCB* gcb)
{
    return gcb->op && gcb->op_desc_table ? gcb->op_desc_table[gcb->op->op_type] : nullptr;
}

// Pushes a mark and one argument on the current argument stack.
void push_mark_and_arg(PERLGCB* gcb, SV* arg);

// Reports an uninitialized value: category 41 with " in " and the current
// op's description. Callers test the category.
void report_uninitialized(PERLGCB* gcb);
