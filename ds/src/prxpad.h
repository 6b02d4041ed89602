// Lexical pads: the name pad and the value pads of the code being compiled,
// slots for lexicals and for the targets of ops.
#pragma once

#include "prx.h"

// Slot kinds of pad_alloc.
enum : uint32_t {
    PAD_KIND_TMP = 0x200,   // SVs_PADTMP: a temporary target
    PAD_KIND_MY = 0x400,    // SVs_PADMY: a lexical
};
constexpr uint32_t PAD_NOT_FOUND = 0xFFFFFFFFu;

// A free slot of the kind in the current pad (the op type is not used).
uint32_t pad_alloc(PERLGCB* gcb, int32_t type, uint32_t kind);
// Declares a my or our name (with its sigil) in the current pad; its slot.
uint32_t pad_declare_my(PERLGCB* gcb, const char* name);
// The slot of the visible lexical of that name, or PAD_NOT_FOUND.
uint32_t pad_find_lexical(PERLGCB* gcb, const char* name);
// Makes pending names visible; returns the statement sequence number used.
uint32_t pad_intro_pending(PERLGCB* gcb);
// Ends the scope of the names above fill.
void pad_leave_scope(PERLGCB* gcb, int32_t fill);
// Releases a temporary slot.
void pad_free(PERLGCB* gcb, uint32_t slot);
// Takes a temporary slot's value away from the pad.
void pad_swipe(PERLGCB* gcb, uint32_t slot);
