// The boundary between matchmod and rexhost: the entry table rexhost binds
// under its interface id, the call-site record both fill, and the parts of
// the interpreter block and the compiled pattern that matchmod reads.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hostif.h"

struct PERLGCB;       // the interpreter control block (rexhost)
struct ReplaceNode;   // a parsed s/// replacement (rexhost)
struct SV;
struct re_substr_info;
struct re_data_array;
struct re_class_node;
struct re_accel;

// One captured output stream: stored text in the host's line form.
struct prx_capture {
    char* buf;        // from the interpreter's pool; not terminated
    int32_t len;      // bytes stored
    int32_t cap;      // bytes allocated
};

// The fixed head of every interpreter block.
constexpr size_t PRX_HEAD_JMPBUF_SIZE = 560;
struct PrxGcbHead {
    alignas(16) uint8_t jmpbuf[PRX_HEAD_JMPBUF_SIZE];  // the bridge's last-resort jump target
    host_pool* pool;         // the interpreter's own pool
    prx_capture out;         // captured standard output (stream 1)
    prx_capture err;         // captured standard error (stream 2), starts with "%1z"
    uint32_t ranuni_seed;    // seed of the rand/srand substitutes
    SV* subject;             // subject value of the last match
    int32_t errno_cell;      // 1100 marks a backtracking-guard trip
};
static_assert(offsetof(PrxGcbHead, pool) == 560);
static_assert(offsetof(PrxGcbHead, out) == 568);
static_assert(offsetof(PrxGcbHead, err) == 584);

// The task's bridge block, registered under "PRXGCB".
struct PRXGCB {
    int32_t refcnt;          // call-site records holding a pattern through it
    PERLGCB* interp;         // the task's interpreter
};
static_assert(sizeof(PRXGCB) == 16 && offsetof(PRXGCB, interp) == 8);

// The compiled pattern.
struct re_compiled {
    int32_t* start_offsets;      // start offsets, group 0 = whole match
    int32_t* end_offsets;        // end offsets
    re_class_node* start_class;  // start class, or null
    re_substr_info* substrings;  // anchored, floating, check
    char* pattern_text;          // copy of the pattern text
    re_data_array* data;         // data array, or null
    char* subject_copy;          // copy of the last subject
    int32_t subject_copy_length; // its length
    int32_t ref_count;           // 1 when the compiler returns it
    int32_t min_length;          // fewest characters any match consumes
    int32_t pattern_length;      // pattern text length
    uint32_t group_count;        // capturing groups
    uint32_t last_group;         // highest group of the last match
    uint32_t analysis_flags;     // analysis flags
    uint32_t last_closed_group;  // last group closed in the last match
    re_accel* accel;             // search aids chosen at compile time, or null (owned)
    uint32_t program[1];         // node program, allocated with the record
};
static_assert(offsetof(re_compiled, start_offsets) == 0);
static_assert(offsetof(re_compiled, analysis_flags) == 80);

// Analysis flag of a pattern compiled from a text that carries the o flag;
// set by the compile entry and read by PRXMATCH to decide caching.
constexpr uint32_t RE_KEEP_ONCE = 0x40000000u;

// The compiled-pattern record of one call site (40 bytes).
struct PrxCompiled {
    PRXGCB* bridge;              // the task's bridge block, or null
    re_compiled* pattern;        // null until a compile succeeds
    uint32_t last_status;        // 0x8017113B after a compile, then the last match's
    ReplaceNode* tree;           // parsed replacement, or null
    int32_t failures;            // failing calls of this record
};
static_assert(offsetof(PrxCompiled, pattern) == 8);
static_assert(offsetof(PrxCompiled, last_status) == 16);
static_assert(offsetof(PrxCompiled, tree) == 24);
static_assert(offsetof(PrxCompiled, failures) == 32);
static_assert(sizeof(PrxCompiled) == 40);

// The entry slots (group 183 once bound): the function type of each slot,
// rexhost_NAME_fn, from its row of prxentry.def.
#define PRX_ENTRY(SLOT, FIELD, FN, RET, PARAMS, ARGS) typedef RET(*FN##_fn) PARAMS;
#include "prxentry.def"
#undef PRX_ENTRY

#define PRX_ENTRY(SLOT, FIELD, FN, RET, PARAMS, ARGS) +1
constexpr unsigned REXHOST_SLOT_COUNT = 0
#include "prxentry.def"
    ;
#undef PRX_ENTRY
static_assert(REXHOST_SLOT_COUNT == 18);

// The entry table record: three header words, then slot s at word 3 + s
// (slot 0 stays empty). The host reads the slots as one array of entries.
struct rexhost_entry_table {
    void* header[3];
    void* slot0;
#define PRX_ENTRY(SLOT, FIELD, FN, RET, PARAMS, ARGS) FN##_fn FIELD;
#include "prxentry.def"
#undef PRX_ENTRY
};
static_assert(offsetof(rexhost_entry_table, slot0) == 24);
// Each row's field is the word of its slot: rows stay in slot order.
#define PRX_ENTRY(SLOT, FIELD, FN, RET, PARAMS, ARGS) static_assert(offsetof(rexhost_entry_table, FIELD) == 24 + 8 * SLOT);
#include "prxentry.def"
#undef PRX_ENTRY
static_assert(sizeof(rexhost_entry_table) == 24 + 8 * (REXHOST_SLOT_COUNT + 1));
