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
// Bounds of a name's visibility: valid-to while the name is in scope, and
// valid-from while its declaration is pending.
constexpr int32_t PAD_MAX = 999999999;
// Name-record flags beside the value flags.
enum : uint32_t {
    SVpad_TYPED = 0x1000,      // declared with a class (kept in the magic body's stash)
    SVpad_CAPTURED = 0x100000, // an alias of an outer lexical
    SVpad_OUR = 0x80000000,    // an our name (its package in the glob body's stash)
};
// The keyword number of our in the lexer's declaration state.
constexpr int32_t DECLARING_OUR = 143;

// Code-value flags (PVCV cvflags).
enum : uint16_t {
    CVf_CLONE = 0x1,           // refers to outer lexicals: cloned when taken
    CVf_CLONED = 0x2,
    CVf_ANON = 0x4,
    CVf_UNIQUE = 0x10,         // runs once: a string eval, BEGIN and the main program
    CVf_LVALUE = 0x100,
};
inline PVCV* cv_body(CV* cv) { return static_cast<PVCV*>(cv->any); }

// A free slot of the kind in the current pad (the op type is not used).
uint32_t pad_alloc(PERLGCB* gcb, int32_t type, uint32_t kind);
// Declares a my or our name (with its sigil) in the current pad; its slot.
uint32_t pad_declare_my(PERLGCB* gcb, const char* name);
// The slot of the visible lexical of that name, or PAD_NOT_FOUND.
uint32_t pad_find_lexical(PERLGCB* gcb, const char* name);
// Looks a name up in the subs from start outward and then through the
// running frames from cxix down; with a nonzero slot only fills that slot
// of the current pad (closure cloning). The slot, or 0.
uint32_t pad_find_outer(PERLGCB* gcb, const char* name, uint32_t slot, uint32_t seq, CV* start, int32_t cxix,
                        int32_t eval_ix, int32_t flags);
// Adds a captured name for an outer name record to the current pads; its slot.
uint32_t pad_add_captured(PERLGCB* gcb, SV* outer_name);
// Makes pending names visible; returns the statement sequence number used.
uint32_t pad_intro_pending(PERLGCB* gcb);
// Ends the scope of the names above fill.
void pad_leave_scope(PERLGCB* gcb, int32_t fill);
// Releases a temporary slot.
void pad_free(PERLGCB* gcb, uint32_t slot);
// Takes a temporary slot's value away from the pad.
void pad_swipe(PERLGCB* gcb, uint32_t slot);

// Gives cv a new pad list (a name pad and a value pad whose slot 0 is kept
// free) and makes its pads the ones being compiled, with the name fill, the
// pending introductions and the pad index started over. The code values of
// subs, formats, string evals and the main program all get their pads here.
void pad_new_for_code(PERLGCB* gcb, CV* cv);
// Saves the compile pad and its slot pointer for the current scope: one
// entry when the pointer is the pad's own slot array (it is worked out again
// when the entry is undone), else the two pointers apart.
void save_compile_pad(PERLGCB* gcb);
