// The per-session support record registered with the host under key 37, and
// the session's table of pattern-handle slots: ids are 1-based slot indexes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/hostif.h"
#include "host/prxabi.h"
#include "host/xkfunc.h"

struct RngStream;
struct PrxSlotTable;

constexpr int32_t XK_SESSION_KEY = 37;

// 224 bytes from the task's allocator (flags 0x3006, zero-filled).
struct XkFuncSession {
    int32_t w0;                      // not set here
    int32_t w1;                      // 0
    RngStream* rng;                  // seeded from the option "-rngseed"
    double neg_pi;                   // -pi
    uint8_t* delimiters;             // 256 bytes: 1 at each byte of " .<(+&!$*);^-/,%|"
    int64_t yearcutoff;              // the option "YEARCUTOFF"
    uint8_t* table2;                 // 256 bytes, allocated only
    char text8[8];                   // filled by host service group 39 slot 194
    uint16_t text8_length;           // without trailing blanks
    PrxSlotTable* slots;             // null until first needed
    uint8_t rest[224 - 72];
};
static_assert(offsetof(XkFuncSession, rng) == 8);
static_assert(offsetof(XkFuncSession, delimiters) == 24);
static_assert(offsetof(XkFuncSession, text8) == 48);
static_assert(offsetof(XkFuncSession, text8_length) == 56);
static_assert(offsetof(XkFuncSession, slots) == 64);
static_assert(sizeof(XkFuncSession) == 224);

// One pattern-handle slot: 46 words, all zero when free. Only the host
// functions that fill slots know what the owned blocks hold.
struct PrxSlot {
    void* owner_key;                 // 0  matched by prx_slot_find_key
    void* w1_16[16];
    void* owned17;                   // 17
    void* w18;
    void* owned19;                   // 19
    int32_t item_size;               // 20 (low half)
    int32_t w20_high;
    void* w21_23[3];
    int32_t item_capacity;           // 24 (low half)
    int32_t w24_high;
    void** items;                    // 25 items of item_size bytes
    void* second_key;                // 26 matched by prx_slot_find_key
    void* w27_29[3];
    void* owned30;                   // 30
    void* w31_33[3];
    void* owned34;                   // 34
    void* w35;
    void* owned36;                   // 36
    void* owned37;                   // 37
    void* w38_39[2];
    void* in_use;                    // 40 non-null while the slot is in use
    void* w41;
    void* chain;                     // 42 owned blocks, each one's first word -> next
    PrxCompiled* compiled;           // 43 the slot's compiled-pattern record
    void* w44;
    void* w45;
};
static_assert(sizeof(PrxSlot) == 368);
static_assert(offsetof(PrxSlot, item_size) == 20 * 8);
static_assert(offsetof(PrxSlot, item_capacity) == 24 * 8);
static_assert(offsetof(PrxSlot, items) == 25 * 8);
static_assert(offsetof(PrxSlot, second_key) == 26 * 8);
static_assert(offsetof(PrxSlot, in_use) == 40 * 8);
static_assert(offsetof(PrxSlot, chain) == 42 * 8);
static_assert(offsetof(PrxSlot, compiled) == 43 * 8);

// 1048 bytes from the task's allocator (flags 0x2006).
struct PrxSlotTable {
    int32_t w0;
    int32_t count;                   // slots in the array; grows by 32
    PrxSlot* slots;
    uint8_t rest[1048 - 16];
};
static_assert(offsetof(PrxSlotTable, count) == 4 && offsetof(PrxSlotTable, slots) == 8);
static_assert(sizeof(PrxSlotTable) == 1048);

constexpr int32_t PRX_SLOT_GROWTH = 32;

// Creates and registers the session's record: 0, 0x80000803, or the status
// of the YEARCUTOFF read.
uint32_t xkFuncSessionInit(host_task* task);
// The record the host keeps for the task's session, or null.
XkFuncSession* xk_session_of(host_task* task);

// Slot routines; each first makes sure the record and the table exist.
PrxSlot* prx_slot_find_id(host_task* task, const XkFuncCall* call);
PrxSlot* prx_slot_find_key(host_task* task, const void* key);
int32_t prx_slot_alloc(host_task* task);
int32_t prx_slot_add_item(host_task* task, PrxSlot* slot);
void prx_slot_free(host_task* task, int32_t id);
