// The save stack: entries that undo a change when the scope that made it
// ends, their push routines, scopes, and the unwinding by entry kind.
#pragma once

#include "prx.h"

// One save-stack slot: a pointer, a 32-bit integer in the low half, or a
// 64-bit integer. Raw reservations (save_push_alloc) count in these 8 bytes.
union save_entry {
    void* ptr;
    int32_t i32;
    int64_t i64;
    void (*fn)(void* arg);
    void (*fn_x)(PERLGCB* gcb, void* arg);
};
static_assert(sizeof(save_entry) == 8);

// Entry kinds: the last slot of an entry; operands lie below it in push
// order. Kinds 5, 9, 12, 20 and 35 are restored but nothing pushes them.
enum : int32_t {
    SAVE_ITEM = 0,               // target; copy
    SAVE_SCALAR = 1,             // glob (counted); old scalar (counted)
    SAVE_ARRAY = 2,              // glob; old array
    SAVE_HASH = 3,               // glob; old hash
    SAVE_INT = 4,                // 32-bit value; address
    SAVE_LONG = 5,               // 32-bit value; address
    SAVE_I32 = 6,                // 32-bit value; address
    SAVE_IV = 7,                 // 64-bit value; address
    SAVE_VALUE_PTR = 8,          // pointer; address
    SAVE_ARRAY_PTR = 9,          // pointer; address
    SAVE_HASH_PTR = 10,          // pointer; address
    SAVE_STRING_PTR = 11,        // pointer; address
    SAVE_GLOB_CLEAR = 12,        // glob
    SAVE_SCALAR_BY_REF = 13,     // slot address; old value (counted)
    SAVE_GLOB_BODY = 14,         // buffer length; string length; string; glob (counted); old glob body
    SAVE_RELEASE = 15,           // value
    SAVE_FREE_OP = 16,           // op tree
    SAVE_FREE_BLOCK = 17,        // pool block
    SAVE_CLEAR_PAD = 18,         // 32-bit pad index
    SAVE_DELETE = 19,            // key length; key (owned block); hash (counted)
    SAVE_DESTRUCTOR = 20,        // function; argument
    SAVE_CAPTURE_CONTEXT = 21,   // raw slots; their count
    SAVE_STACK_POS = 22,         // 32-bit argument-stack index
    SAVE_I16 = 23,               // 32-bit value; address
    SAVE_ARRAY_ELEMENT = 24,     // array (counted); 32-bit index; old value (counted)
    SAVE_HASH_ELEMENT = 25,      // hash (counted); key (counted); old value (counted)
    SAVE_OP = 26,                // op
    SAVE_HINTS = 27,             // 32-bit hints word
    SAVE_ALLOC = 28,             // raw slots; their count
    SAVE_VALUE_PTR_BY_REF = 29,  // slot address; old value (one more reference)
    SAVE_DESTRUCTOR_X = 30,      // function; argument
    SAVE_GENERIC_PTR = 31,       // pointer; address
    SAVE_I8 = 32,                // 32-bit value; address
    SAVE_COMPILE_PAD = 33,       // pad array or none
    SAVE_STRING_PTR_BY_REF = 34, // slot address; old string
    SAVE_PAD_SLOT = 35,          // value; pad element array or none; 32-bit index
    SAVE_MAKE_TEMPORARY = 36,    // value
    SAVE_KIND_MAX = 36,
};


// Opens a scope: pushes the save-stack index on the scope stack.
void scope_enter(PERLGCB* gcb);
// Closes the innermost scope: unwinds the save stack to its index.
void scope_leave(PERLGCB* gcb);
// Pops and undoes entries while the save-stack index is above base.
void leave_scope(PERLGCB* gcb, int32_t base);
void save_push_destructor(PERLGCB* gcb, void (*fn)(PERLGCB* gcb, void* arg), void* arg);
// Reserves raw slots for a record of size bytes at pad bytes into the
// reservation; returns its byte offset from the start of the save stack,
// which moves whenever the stack grows.
int32_t save_push_alloc(PERLGCB* gcb, int32_t size, int32_t pad);
void save_push_int(PERLGCB* gcb, int32_t* addr);
void save_push_value_ptr(PERLGCB* gcb, SV** addr);
void save_push_release_value(PERLGCB* gcb, SV* sv);
void save_push_i32(PERLGCB* gcb, int32_t* addr);
void save_push_generic_ptr(PERLGCB* gcb, void** addr);
void save_push_i8(PERLGCB* gcb, int8_t* addr);
