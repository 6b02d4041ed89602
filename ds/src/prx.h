// The interpreter's base header: the control block PERLGCB, the jump
// environments that carry errors, and the base types every family shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/hostcall.h"
#include "host/prxabi.h"
#include "host/xktool.h"

struct OP;
struct COP;
struct GP;
struct stack_level;
struct hash_entry;
struct magic_method_table;
struct MAGIC;
struct op_pattern;
struct re_program_node;
struct re_loop_frame;
struct re_guess_data;
union save_entry;
struct SV;
struct PERLGCB;

// Run-time function and check routine of an op (the op tables).
typedef OP* (*op_run_fn)(PERLGCB* gcb);
typedef OP* (*op_check_fn)(PERLGCB* gcb, OP* op);

// ---- values ---------------------------------------------------------------
//
// Every value is a head that never moves and a body whose type only grows.
// Arrays, hashes, code, globs and handles are heads of the same layout; the
// distinct names keep the families' signatures apart.

struct SV {
    void* any;          // body; the next free head on a freed head
    uint32_t refcnt;    // 1 for a new value
    uint32_t flags;     // low byte: body type (0xFF on a freed head); above: SVf_* bits
};
struct AV { void* any; uint32_t refcnt; uint32_t flags; };
struct HV { void* any; uint32_t refcnt; uint32_t flags; };
struct CV { void* any; uint32_t refcnt; uint32_t flags; };
struct GV { void* any; uint32_t refcnt; uint32_t flags; };
struct IO { void* any; uint32_t refcnt; uint32_t flags; };
static_assert(sizeof(SV) == 16 && sizeof(AV) == 16 && sizeof(HV) == 16);

template <class T>
inline SV* as_sv(T* v) { return reinterpret_cast<SV*>(v); }
template <class T>
inline T* sv_as(SV* v) { return reinterpret_cast<T*>(v); }

// Body types (low byte of flags).
enum : uint32_t {
    SVt_NULL = 0, SVt_IV = 1, SVt_NV = 2, SVt_RV = 3, SVt_PV = 4, SVt_PVIV = 5, SVt_PVNV = 6,
    SVt_PVMG = 7, SVt_PVBM = 8, SVt_PVLV = 9, SVt_PVAV = 10, SVt_PVHV = 11, SVt_PVCV = 12,
    SVt_PVGV = 13, SVt_PVFM = 14, SVt_PVIO = 15,
    SVt_FREED = 0xFF,
};

// Flag bits above the type byte.
enum : uint32_t {
    SVs_PADBUSY = 0x100,
    SVs_PADTMP = 0x200,
    SVs_PADMY = 0x400,
    SVs_TEMP = 0x800,
    SVs_OBJECT = 0x1000,
    SVs_GMG = 0x2000,
    SVs_SMG = 0x4000,
    SVs_RMG = 0x8000,
    SVf_IOK = 0x10000,
    SVf_NOK = 0x20000,
    SVf_POK = 0x40000,
    SVf_ROK = 0x80000,
    SVf_FAKE = 0x100000,
    SVf_OOK = 0x200000,
    SVf_SWEPT = 0x400000,
    SVf_READONLY = 0x800000,
    SVp_IOK = 0x1000000,
    SVp_NOK = 0x2000000,
    SVp_POK = 0x4000000,
    SVp_SCREAM = 0x8000000,
    SVf_OVERLOAD = 0x10000000,
    SVf_UTF8 = 0x20000000,       // hashes: SHAREKEYS
    SVf_SHAREKEYS = 0x20000000,
    SVf_EVALED = 0x40000000,     // hashes: LAZYDEL; search strings: TAIL
    SVf_LAZYDEL = 0x40000000,
    SVf_TAIL = 0x40000000,
    SVf_IsUV = 0x80000000,       // references: WEAKREF; code: COMPILED; search strings: VALID
    SVf_WEAKREF = 0x80000000,
    SVf_COMPILED = 0x80000000,
    SVf_VALID = 0x80000000,
    SVf_OK_ANY = 0x70f0000,      // the defined test
};

inline uint32_t sv_type(const SV* sv) { return sv->flags & 0xFF; }

// Bodies. Types 4 to 7 extend each other in place; 8, 9 and 12 to 15 begin
// with the seven fields of a PVMG body; arrays and hashes keep MAGIC and
// STASH where PVMG keeps them. An integer-only (double-only) body pointer
// points offsetof(PVIV, iv) (offsetof(PVNV, nv)) bytes before its cell.
struct PV { char* pv; uint64_t cur; uint64_t len; };
struct PVIV { char* pv; uint64_t cur; uint64_t len; int64_t iv; };
struct PVNV { char* pv; uint64_t cur; uint64_t len; int64_t iv; double nv; };
struct PVMG { char* pv; uint64_t cur; uint64_t len; int64_t iv; double nv; MAGIC* magic; HV* stash; };
struct PVBM {
    char* pv; uint64_t cur; uint64_t len; int64_t iv; double nv; MAGIC* magic; HV* stash;
    int32_t useful;      // usefulness count of a compiled search string
    uint16_t previous;   // position of the rare byte's previous occurrence
    uint8_t rare;        // the rarest byte
};
struct PVLV {
    char* pv; uint64_t cur; uint64_t len; int64_t iv; double nv; MAGIC* magic; HV* stash;
    uint64_t targoff;
    uint64_t targlen;
    SV* targ;
    char type;
};
struct PVAV {
    SV** array;          // first live element slot
    int32_t fill;        // index of the last element, -1 when empty
    int32_t max;         // index of the last allocated slot
    uint64_t unused_len;
    int64_t iv;
    double nv;
    MAGIC* magic;
    HV* stash;
    SV** alloc;          // start of the allocated element storage
    SV* arylen;          // value standing for $#array, or null
    uint8_t avflags;
};
struct PVHV {
    hash_entry** array;  // bucket heads
    uint64_t fill;       // buckets in use
    uint64_t max;        // buckets minus 1
    int64_t keys;        // number of keys
    double nv;
    MAGIC* magic;
    HV* stash;
    int32_t riter;       // iterator bucket
    hash_entry* eiter;   // iterator entry
    OP* pmroot;          // pattern ops of a package
    char* name;          // package name of a stash
};
// The fields of a code body after the PVMG head. A format body is a code
// body with a line count, read through PVCV wherever code is run, so both
// expand this one list.
#define PRX_CODE_BODY_FIELDS                                                   \
    HV* comp_stash;                                                             \
    OP* start;                                                                  \
    OP* root;                                                                   \
    void* xsub;                                                                 \
    int64_t xsubany;                                                            \
    GV* gv;                                                                     \
    char* file;                                                                 \
    int32_t depth;                                                              \
    AV* padlist;                                                                \
    CV* outside;                                                                \
    uint16_t cvflags;
struct PVCV {
    char* pv; uint64_t cur; uint64_t len; int64_t iv; double nv; MAGIC* magic; HV* stash;
    PRX_CODE_BODY_FIELDS
};
struct PVGV {
    char* pv; uint64_t cur; uint64_t len; int64_t iv; double nv; MAGIC* magic; HV* stash;
    GP* gp;              // glob body, shared by aliased globs
    char* name;
    uint64_t namelen;
    HV* gvstash;         // the stash the glob lives in
    uint8_t gvflags;
};
struct PVFM {
    char* pv; uint64_t cur; uint64_t len; int64_t iv; double nv; MAGIC* magic; HV* stash;
    PRX_CODE_BODY_FIELDS
    int32_t lines;
};
struct PVIO {
    char* pv; uint64_t cur; uint64_t len; int64_t iv; double nv; MAGIC* magic; HV* stash;
    intptr_t ifp;        // input stream token
    intptr_t ofp;        // output stream token
    void* dirp;
    int32_t lines, page, page_len, lines_left;
    char* top_name;
    GV* top_gv;
    char* fmt_name;
    GV* fmt_gv;
    char* bottom_name;
    GV* bottom_gv;
    int16_t subprocess;
    char type;           // '<' '>' 'a' '+' '-' '|' 's' ' '
    uint8_t ioflags;
};
static_assert(offsetof(PVMG, magic) == 40 && offsetof(PVMG, stash) == 48);
static_assert(offsetof(PVAV, magic) == 40 && offsetof(PVAV, stash) == 48);
static_assert(offsetof(PVHV, magic) == 40 && offsetof(PVHV, stash) == 48);
static_assert(offsetof(PVCV, magic) == 40 && offsetof(PVGV, magic) == 40);
static_assert(offsetof(PVFM, magic) == 40 && offsetof(PVIO, magic) == 40);
static_assert(offsetof(PVFM, cvflags) == offsetof(PVCV, cvflags) && sizeof(PVFM) == sizeof(PVCV));
static_assert(offsetof(PVAV, iv) == offsetof(PVIV, iv) && offsetof(PVHV, nv) == offsetof(PVNV, nv));

// A magic record; the chain hangs off the MAGIC field of a body of type 7 or above.
struct MAGIC {
    MAGIC* next;
    const magic_method_table* virt;  // method table, or null
    uint16_t priv;
    char type;                       // type letter
    uint8_t mgflags;                 // 1 TAINTEDDIR/MINMATCH, 2 REFCOUNTED, 4 GSKIP
    SV* obj;
    char* ptr;                       // pool bytes, or a counted value when len == -2
    int32_t len;
};
static_assert(std::is_standard_layout_v<MAGIC> && std::is_trivially_copyable_v<MAGIC>);

// A magic method table: five slots, each may be empty. The interpreter holds
// its own copy of the 28 tables (PERLGCB::magic_vtbl); MAGIC::virt points there.
typedef int32_t (*magic_method)(PERLGCB* gcb, SV* sv, MAGIC* mg);
struct magic_method_table {
    magic_method get;                                    // before a read
    magic_method set;                                    // after a write
    uint32_t (*len)(PERLGCB* gcb, SV* sv, MAGIC* mg);    // length, or highest index of an aggregate
    magic_method clear;                                  // when an aggregate is emptied
    magic_method free;                                   // when the record goes
};
constexpr int32_t MAGIC_VTBL_COUNT = 28;

// Stream tokens: 0 none (and standard input), 1 captured standard output and
// the debug stream, 2 captured standard error.
typedef intptr_t PrxStream;
constexpr PrxStream PRX_STDOUT = 1;
constexpr PrxStream PRX_STDERR = 2;

// The stat buffer: what the stat substitutes would fill (they report the
// function unsupported and fill nothing).
struct prx_statbuf {
    uint32_t dev, ino, mode, nlink, uid, gid, rdev;
    int64_t size, atime, mtime, ctime, blksize, blocks;
};
static_assert(std::is_trivially_copyable_v<prx_statbuf>);

// ---- jump environments --------------------------------------------------
//
// Every protected region puts one JumpEnv on the C++ stack and links it as the
// top. A long jump is a JumpUnwind exception naming its target; jump_run is
// the one place that catches it. Codes: 0 the body returned, 2 the
// interpreter exited, 3 a die was caught by an eval, 4 the backtracking guard
// fired, -1 the bridge's last resort (no outer environment).

struct JumpEnv {
    JumpEnv* prev;        // next older environment; null for the start environment
    int32_t code;         // code of the jump that arrived
    int32_t must_catch;   // nonzero while the environment is armed
};
static_assert(std::is_trivially_copyable_v<JumpEnv> && std::is_standard_layout_v<JumpEnv>);

// The codes a jump carries to its environment (jump_run answers JUMP_NONE
// when the body returned).
enum JumpCode : int32_t {
    JUMP_LAST_RESORT = -1,  // no environment would take it: the bridge's head buffer
    JUMP_NONE = 0,          // the body returned
    JUMP_RESTART = 1,       // restart the program; nothing raises it now
    JUMP_EXIT = 2,          // the interpreter exited (exit, die outside every eval, out of memory)
    JUMP_DIE = 3,           // a die caught by an eval: resume at restartop
    JUMP_GUARD = 4,         // the backtracking guard tripped
};

// The mark the backtracking guard leaves in errno_cell before it calls
// fatal_error, which then jumps with JUMP_GUARD and runs no die hook.
constexpr int32_t GUARD_ERRNO_MARK = 1100;

struct JumpUnwind {
    JumpEnv* target;
    int32_t code;
};

// The value that travels with a grammar token: an op, a 32-bit integer (an
// op type, a line number or a flag) or a text.
union token_val {
    OP* op;
    int32_t ival;
    char* pval;
};
static_assert(sizeof(token_val) == 8);

// ---- the control block --------------------------------------------------

struct PERLGCB {
    // Head: fixed, shared with the bridge and read by matchmod (PrxGcbHead).
    alignas(16) uint8_t jmpbuf[PRX_HEAD_JMPBUF_SIZE];  // holds the bridge's JumpEnv while a call is guarded
    host_pool* pool;              // the interpreter's own pool
    prx_capture out;              // captured standard output
    prx_capture err;              // captured standard error
    uint32_t ranuni_seed;         // rand/srand seed
    SV* subject;                  // subject value of the last match
    int32_t errno_cell;           // 1100 marks a backtracking-guard trip

    // Immortal values: never freed, READONLY.
    SV sv_undef;
    SV sv_yes;
    SV sv_no;

    // Errors and exits.
    JumpEnv* top_env;             // innermost jump environment
    JumpEnv start_env;            // the start environment construction links
    int32_t exit_status;          // status of the last exit
    int32_t exit_flags;           // bit 1: the exit was expected
    int32_t no_memory_ok;         // nonzero: a failed allocation returns null
    int32_t in_eval;              // nonzero while an eval runs
    int32_t dirty;                // global destruction under way
    int32_t destruct_level;
    OP* restartop;                // where the run loop resumes after a die in an eval
    SV* e_program;                // program text of -e

    // Input and output handles.
    GV* stderr_glob;              // STDERR glob: its I/O record's output stream is the error capture
    GV* last_input_glob;          // last-read handle
    SV* rs;                       // input record separator $/
    GV* argv_glob;                // ARGV glob
    GV* error_glob;               // the glob of $@

    // Stack levels (the run loop's stacks).
    stack_level* current_level;   // current stack level
    AV* current_arg_stack;        // current argument-stack array
    AV* main_arg_stack;           // main argument-stack array

    // Tables.
    uint8_t* fold_table;          // 256-byte case-fold table, null until set up

    // Options.
    uint32_t debug_flags;         // bit 0x200: pattern-engine trace

    // ---- values: arenas, body free lists, numbers, formatting ----------------

    // Head arenas and body free lists.
    SV* sv_free_heads;            // free heads, linked through the body pointer
    SV* sv_arena_chain;           // newest head arena; arenas link through slot 0
    uint32_t sv_live_count;       // heads in use
    uint32_t sv_spare_size;       // bytes of sv_spare_block
    void* sv_spare_block;         // a block handed over for heads; carved once
    void* body_free_list[13];     // free cells of body types 1 to 12
    void* body_chunk_chain[13];   // chunks of body types 1 to 12
    int32_t sv_clean_all;         // the final sweep runs
    int32_t sv_in_clean_objs;     // the object sweep runs
    uint32_t sv_objcount;         // live blessed values other than I/O handles

    // Numbers and formatting.
    const char* hex_digits;       // "0123456789abcdef0123456789ABCDEF"
    char* float_buffer;           // the formatter's buffer for doubles; only grows
    uint64_t float_buffer_size;   // its size
    int32_t seen_evals;           // eval groups interpolated patterns may bring in at run time

    // Taint.
    int32_t tainting;             // taint mode
    int32_t tainted;              // the current expression is tainted; the run loop clears it
    int32_t unsafe;               // violations only warn
    int32_t uid, euid, gid, egid; // real and effective user and group ids

    // ---- messages, fatal errors and warnings --------------------------------

    SV* reusable_message;         // message value used during global destruction; never freed
    SV* errors;                   // error accumulator (compile errors), or null
    SV* die_hook;                 // $SIG{__DIE__}, or null
    SV* warn_hook;                // $SIG{__WARN__}, or null
    uint32_t warn_switch;         // global warning switch: bit 0x1 set by -w

    // ---- run loop, stacks and scopes ----------------------------------------
    SV** arg_sp;                  // top item of the argument stack
    SV** arg_base;                // item 0 of the current argument stack
    SV** arg_max;                 // last allocated item
    int32_t* mark_stack;          // mark stack: argument-stack indexes; entry 0 unused
    int32_t* mark_sp;             // top mark
    int32_t* mark_max;            // base + capacity; a push that reaches it grows the stack
    int32_t* scope_stack;         // save-stack index of each open scope
    int32_t scope_ix;             // open scopes
    int32_t scope_max;            // capacity
    save_entry* savestack;        // save-stack slots
    int32_t savestack_ix;         // slots in use
    int32_t savestack_max;        // capacity in slots
    SV** temps;                   // temporaries; each entry owns one reference
    int32_t temps_ix;             // top entry, -1 when empty
    int32_t temps_floor;          // entries at or below it belong to outer scopes
    int32_t temps_max;            // capacity
    OP** return_stack;            // return ops
    int32_t return_ix;            // entries
    int32_t return_max;           // capacity
    int32_t (*run_loop_hook)(PERLGCB* gcb);  // run-loop hook; every run of ops goes through it
    int32_t localizing;           // 1 while a localized value's fresh value runs set magic, 2 while the old one does
    AV* comppad;                  // compile pad
    SV** curpad;                  // element array of the current pad
    char token_buffer[256];       // the lexer's token buffer; kept across nested runs that may compile

    // ---- string search, Unicode classes, UNIVERSAL, process support ---------
    int32_t* study_first;         // study tables: first position of each byte value, -1 when absent
    int32_t* study_next;          // per position: distance to the next position of its byte, or -position
    int32_t study_max;            // highest position the tables have room for, -1 when none
    SV* study_last;               // the value the tables describe
    SV* swash_slots[17];          // swashes of the class tests and case maps (SWASH_*), null until first use
    HV* swash_last_hv;            // last-block cache of swash_fetch: the swash's hash,
    uint32_t swash_last_klen;     //   the key length,
    uint8_t swash_last_key[12];   //   the key bytes,
    const uint8_t* swash_last_vec;  // the vector (inside a value the hash keeps),
    uint64_t swash_last_len;      //   and its length in bytes
    AV* fdpid;                    // child process id of each piped descriptor

    // ---- aggregates, symbol tables, overloading and magic -------------------
    const char** signal_name_table;    // table block copy: names by signal number, null-terminated
    uint32_t* signal_number_table;     // table block copy: numbers, parallel to the names
    magic_method_table magic_vtbl[MAGIC_VTBL_COUNT];  // the interpreter's copies, rows as PL_vtbl_*

    // Hashes and arrays.
    hash_entry* hash_entry_free_list;  // free entries, linked through next
    void* hash_entry_arena_chain;      // newest entry arena; each links the previous in its first slot
    HV* shared_key_table;              // one record per key of every SHAREKEYS hash
    SV* tied_fetch_cell;               // the temporary element of the last tied hash fetch
    hash_entry* tied_fetch_entry;      // the entry of the last tied fetch by value; made on first use
    SV* tied_array_fetch_cell;         // the temporary element of the last tied or offsets array fetch

    // Symbol tables, methods and overloading.
    uint32_t method_cache_generation;  // method caches and overload tables of an older one are stale
    uint32_t overload_generation;      // advanced by changes to a package's %OVERLOAD
    uint32_t gensym_counter;           // number of the next generated glob
    HV* main_stash;                    // the stash of main, holding "main::" for itself
    HV* null_stash;                    // receives the names the strict rule refuses

    // %SIG: by signal number, the handler stored in $SIG{NAME} and a
    // read-only copy of the key it was stored under; one reference each.
    SV** signal_handler_slots;
    SV** signal_name_slots;

    GV* env_glob;                      // the %ENV glob

    // ---- pattern engine -----------------------------------------------------
    // Engine hooks: the run-time layer reaches the engine only through these.
    re_compiled* (*re_hook_compile)(PERLGCB*, const char*, const char*, op_pattern*);
    int32_t (*re_hook_exec)(PERLGCB*, re_compiled*, const char*, const char*, const char*, int32_t, SV*, void*,
                            uint32_t);
    const char* (*re_hook_guess)(PERLGCB*, re_compiled*, SV*, const char*, const char*, uint32_t, re_guess_data*);
    SV* (*re_hook_check)(PERLGCB*, re_compiled*);
    void (*re_hook_free)(PERLGCB*, re_compiled*);  // the engine's pattern free
    int32_t multiline;                 // $*
    int32_t match_variables_seen;      // set once $`, $& or $' exists

    // Compile state: valid while a pattern compiles, kept afterwards.
    const char* re_parse;         // parse position
    const char* re_xend;          // end of the pattern text
    const char* re_precomp;       // start of the pattern text; errors quote it
    uint32_t* re_emit;            // next unit; &re_placeholder during the size pass
    int32_t re_size;              // units counted by the size pass
    uint32_t re_cflags;           // compile flags (16-bit pattern flag word)
    int32_t re_naughty;           // complexity count
    int32_t re_npar;              // next group number
    int32_t re_sawback;           // a back-reference was seen
    uint32_t re_seen;             // 0x2 looks behind, 0x4 \G, 0x8 code block
    int32_t re_zerolen;           // zero-length marker
    int32_t re_seen_evals;        // code blocks counted by the size pass
    int32_t re_extralen;          // units long jumps would add
    int32_t re_whilem_seen;       // CURLYX repeats of the size pass, capped at 15
    int32_t re_nesting;           // open groups of the parse
    re_compiled* re_rx;           // the pattern under construction
    uint32_t re_regflags;         // shared with the matcher; 0x8 the pattern is UTF-8
    re_data_array* re_data_in_use;  // data array of the last compiled pattern
    uint32_t re_placeholder[2];   // the size pass's node
    int32_t re_whilem_index;      // repeat-loop index of the optimiser
    char* re_opt_text[3];         // the optimiser's literal buffers (pool blocks); freed by the next run

    // Match state, re_match_state (re_save_match_state saves all of it).
    const char* re_pattern_text;  // pattern text of the pattern in use
    uint32_t re_group_count;      // group count of the pattern in use
    int32_t re_open_high;         // highest group opened in the current attempt
    int32_t re_colours_set;       // nonzero once re_colours are read
    const char* re_colours[6];    // trace colours
    const char* re_input;         // input position; the end of the match after success
    const char* re_search_start;  // the start argument of this search
    const char* re_subject_end;   // end of the subject (exclusive)
    int32_t* re_starts;           // start offsets in use
    int32_t* re_ends;             // end offsets in use
    uint32_t* re_last_group;      // the pattern's last-group field
    const char* re_till;          // a match must not end before it
    uint8_t re_prev_char;         // the byte before the start for ^, \b and \B
    const char** re_open_at;      // per group, where it was last opened
    uint32_t re_open_at_size;     // capacity of re_open_at
    re_data_array* re_data;       // data array of the pattern in use
    const char* re_subject_begin; // beginning of the subject; offsets count from it
    uint32_t re_match_flags;      // RF_* bits
    int32_t re_eval_set;          // nonzero while the eval set-up is in force
    int32_t re_narrate;           // trace narration flag
    re_program_node* re_program;  // node program of the pattern in use
    int32_t re_indent;            // trace nesting level
    re_loop_frame* re_current_repeat;  // innermost open general repeat
    void* re_call_frame;          // open pattern-call frame (none in this engine)
    re_compiled* re_pattern;      // the pattern in use
    const char* re_g_anchor;      // the position \G stands for
    SV* re_subject;               // the subject value, or null
    MAGIC* re_pos_magic;          // pos magic during the eval set-up
    int32_t re_saved_pos;         // pos before the eval set-up
    OP* re_saved_current_op;      // current pattern op before the eval set-up
    OP* re_own_pattern_op;        // the matcher's own pattern op
    char* re_saved_copy;          // subject copy set aside by the eval set-up
    int64_t re_saved_copy_length;
    int32_t re_max_iterations;    // super-linear cache budget; 0 until needed
    int32_t re_iterations_left;
    uint8_t* re_position_cache;   // super-linear cache bitmap (pool block, reused)
    uint64_t re_position_cache_size;  // its size in bytes
    const char* re_attempt_start; // start of the current attempt (trace)
    int32_t* re_depth;            // the guard's nesting counter of this thread
    const char* re_last_position; // the driver's last-position cell for the finder
    int32_t re_study_iterator;    // the driver's study iterator cell
    uint64_t* re_bt;              // the matcher's backtracking stack: capture saves and alternative records
    int32_t re_bt_ix;             // slots in use
    int32_t re_bt_max;            // capacity in slots
    int32_t re_exec_nesting;      // matches open in this interpreter (a match inside a match is 2)
    int64_t re_work_left;         // units of work the current match may still spend (the work guard)
    char* re_opt_piece;           // the optimiser's copy of a repeated literal piece (pool block); freed by the next run

    // ---- source front end ---------------------------------------------------
    HV* current_package;               // the package being compiled
    uint32_t compile_hints;            // HINT_* bits of the code being compiled
    CV* compile_cv;                    // the code value being compiled
    int32_t lex_state;                 // lexer state 0 to 10 (LEX_*); 11 while no parse runs

    // Grammar parser: every parse saves these and puts them back when its
    // scope ends, so that a nested parse leaves the outer one intact.
    int32_t parse_debug;               // kept for the parse trace; nothing reads it
    int32_t parse_error_count;         // syntax errors reported by the current parse
    int32_t parse_error_flag;          // recovery countdown: 3 after an error, less per shift
    int32_t parse_lookahead;           // lookahead token code; -1 when none is read
    token_val parse_rule_value;        // value of the rule being reduced

    // Lexer fields that the grammar, the op tree and the run-time ops share;
    // the lexer saves them when a nested text is lexed (lex_context_begin
    // and lex_interpolation_begin save the same set and must stay in step).
    token_val token_value;             // value of the token yylex returned last
    int32_t deferred_state;            // lex_state to resume once the queued tokens are delivered
    int32_t deferred_expect;           // expect to resume then
    int32_t bracket_depth;             // open brackets in the text being lexed
    int32_t format_bracket_depth;      // bracket depth at which a format's argument lines are open
    int32_t case_modifier_count;       // open case modifiers of an interpolated text
    int32_t join_pending;              // an interpolated array is being joined
    int32_t piece_count;               // pieces delivered of the current interpolated text
    SV* quote_body;                    // the first delimited text scanned, or null
    SV* replacement_text;              // the second one (s///, tr///), or null
    OP* scanned_op;                    // op a quote-like scanner built, waiting for the reader
    OP* in_pattern;                    // pattern op whose body is sub-lexed, else null
    int32_t quote_op_kind;             // op type of the construct being sub-lexed
    char* bracket_stack;               // LEX_BRACKET_STACK bytes: expect to restore at each close, 0x80 a braced-name subscript
    char* case_modifier_stack;         // open case modifier letters, NUL-terminated; grown past 10
    token_val queued_values[5];        // values of the queued tokens
    int32_t queued_types[5];           // codes of the queued tokens; the last pushed is read first
    int32_t queued_count;              // queued tokens, 0 to 5
    int32_t expect;                    // XOPERATOR .. XTERMBLOCK: what the grammar expects next
    int32_t error_count;               // compile errors so far; nonzero stops context propagation
    SV* line_buffer;                   // the text being lexed
    char* scan_pos;                    // read position in line_buffer
    char* prev_token_pos;              // start of the previous token
    char* prev_prev_token_pos;         // start of the token before that
    char* buffer_end;                  // end of the text in line_buffer
    char* line_start;                  // start of the current line in line_buffer
    char* last_unary_pos;              // where the last named unary operator stood, or null
    char* last_list_op_pos;            // where the last list operator stood, or null
    uint16_t last_list_op;             // op type of that list operator
    uint8_t pending_identifier;        // sigil of a name left in token_buffer for the reader; 0 none
    int32_t statement_line;            // pending statement line; 65535 for none
    int32_t multi_start_line;          // line where the current delimited text began
    int32_t multi_end_line;            // line where it ended (0 inside an s///e replacement)
    int32_t open_delim;                // opening delimiter of the last delimited text
    int32_t close_delim;               // its closing delimiter
    char* outer_pos;                   // after an s///e: the rest of the outer text, for here-documents
    char* outer_end;                   //   and its end
    int32_t lex_sub_mode;              // lex_state to resume after the construct being entered
    int32_t lex_sub_what;              // op type of the construct being entered; 0 none
    OP* lex_sub_op;                    // its pattern or transliteration op, or null
    int32_t sub_start_line;            // line where the sub being compiled began
    SV* sub_name;                      // name of the sub being compiled; made on first use
    int32_t declaring;                 // keyword number of the my, our or local being read; 0 none
    HV* declaring_package;             // class of a typed my declaration, or null
    PrxStream source_handle;           // the source stream; 0 for text given as a string
    AV* source_filters;                // source filters, or null
    int32_t doc_skipping;              // skipping lines until "=cut" or a "#!...perl" line

    // ---- op tree: compile state and pads ------------------------------------
    AV* comppad_name;                  // name pad of the code being compiled
    int32_t comppad_name_fill;         // last name slot in use
    int32_t comppad_name_floor;        // names below it belong to an enclosing block
    int32_t padix;                     // last temporary slot handed out
    int32_t padix_floor;               // temporaries are not taken below it
    int32_t min_intro_pending;         // lowest pending declaration; 0 none
    int32_t max_intro_pending;         // highest pending declaration
    int32_t pad_reset_pending;         // temporaries may be reused at the next statement
    uint32_t cop_seqmax;               // statement sequence counter
    CV* main_cv;                       // the main program's code value
    OP* main_root;                     // root of the main program
    OP* main_start;                    // its first op in execution order
    OP* eval_root;                     // root of the eval being compiled or run
    OP* eval_start;                    // its first op
    uint32_t eval_seq;                 // statement sequence number at the current eval
    uint8_t* op_mask;                  // one byte per op type; always null here
    int32_t modcount;                  // lvalues counted by the current assignment
    uint32_t generation;               // assignment generation (common-variable detection)
    uint16_t op_seqmax;                // next SEQ the peephole pass gives; 0 before the first
    GV* hint_glob;                     // the glob whose hash is the hint hash; made on first use
    SV* current_package_name;          // name of the package being compiled; "<none>" after a nameless package
    int32_t dump_indent;               // blanks per nesting level of the debug dumps

    // ---- op tree and run-time ops -------------------------------------------
    op_run_fn* op_run_function_table;  // table block copies of the five op tables
    op_check_fn* op_check_table;
    const char** op_name_table;
    const char** op_desc_table;
    uint32_t* op_args_table;

    OP* op;                       // current op; null between ops
    COP* current_statement;       // current statement
    COP* compiling_statement;     // the compile-time statement: current_statement while code is compiled
    OP* sort_op;                  // the sort op being run
    OP* last_match_op;                 // last successful pattern op
    GV* default_output_glob;           // the default output handle
    uint32_t debugger_flags;           // $^P; 0x02 keeps the source lines
    GV* db_line_glob;                  // the debugger's line glob of the current file
    SV* db_single;                     // the debugger's single-step variable; null until it is set up
    const char* chop_set;              // characters at which a format field may break a line
    SV* formfeed_value;                // $^L
    SV* newline_rs;                    // the newline-or-record separator; rs holds the same value
    char* output_field_sep;            // $, and its length
    uint64_t output_field_sep_len;
    char* output_record_sep;           // $\ and its length; null when unset
    uint64_t output_record_sep_len;
    char* number_format;               // $#
    char* inplace;                     // $^I, or null
    int32_t delayed_ids;               // id changes delayed by a list assignment
    int32_t child_status;              // $?
    int32_t glob_index;                // index the next glob op compiled with an override gets
    int32_t srand_called;              // rand's generator has been seeded (by srand or the first rand)
    struct pack_address_table* pack_addresses;  // string addresses that pack's p and P handed out (pool); null until the first
    int32_t sort_cxix;                 // frame index of the running sort's pseudo-block; return ends a comparison there
    uint32_t eval_count;               // non-empty string evals so far; names "_<(eval N)"
    int32_t interp_count;              // interpolation counter of run-time patterns; 2147483647 marks the code safe
    AV* begin_queue;                   // BEGIN blocks queued by the compilation in progress, or null
    AV* end_queue;                     // END blocks, the last defined first; null until the first
    AV* check_queue;                   // CHECK blocks, the last defined first; null until the first
    AV* init_queue;                    // INIT blocks, in definition order; null until the first
    HV* sort_stash;                    // package whose $a and $b sort_a_glob and sort_b_glob are
    GV* sort_a_glob;                   // *a of sort_stash, not counted
    GV* sort_b_glob;                   // *b of sort_stash, not counted
    OP* goto_last_probed;              // the tree the label search of goto has searched last
    int32_t undump;                    // set while dump aborts the interpreter

    // ---- system ops and I/O routines ----------------------------------------
    int32_t forkprocess;               // set to 1 by every open; the open op's result on success
    GV* argvout_glob;                  // *ARGVOUT, fetched on first use
    AV* argvout_stack;                 // default output globs saved by in-place editing, one reference each
    char* argv_file_name;              // text of the ARGV scalar: the ARGV file being read
    int32_t argv_file_mode;            // mode of the in-place file before editing
    prx_statbuf stat_buf;              // the stat buffer the stat substitutes fill
    char** exec_argv;                  // argument vector of the last exec (pool), or null
    char* exec_cmd;                    // command-line copy of the last exec (pool), or null

    // ---- bridge and interpreter life ----------------------------------------
    SV* patchlevel_value;              // the version value
    char* osname;                      // $^O
    int32_t compile_only;              // $^C
    int32_t max_system_fd;             // $^F
    int32_t start_time;                // $^T
    int32_t wide_system_calls;         // ${^WIDE_SYSTEM_CALLS}
    char** startup_argv;               // start-up arguments, which $0 overwrites
    int32_t startup_argc;
    int32_t startup_arg_span;          // their contiguous span, 0 until computed
    char** startup_environ;
    // Construction and parse.
    alignas(8) uint8_t compile_cop_record[96];  // the compile-time statement (a COP; prxperl.cpp checks the size)
    const char* shell_path;            // "cmd /x /c"
    const char* yes_string;            // string of the immortal yes
    const char* no_string;             // string of the immortal no
    const char* regex_metachars;       // pattern metacharacters
    const char* split_pattern;         // autosplit pattern; " " until -F gives a pool copy
    int32_t op_count;                  // rows of the op tables
    int32_t last_stat_result;          // result of the last stat, -1 when none
    int32_t last_stat_type;            // op type of the last stat
    void (*signal_entry)(int32_t sig); // the signal entry handed to the signal substitute
    HV* child_status_hash;             // exit statuses of reaped children by pid
    HV* module_globals;                // %{^MODULE_GLOBALS}: per-interpreter data of modules
    AV* preamble;                      // lines -M, -m and -V queue before the program, or null
    AV* saved_begin_queue;             // BEGIN blocks kept for a compiler back end, or null
    char* program_file;                // the program file name (pool copy)
    SV* include_switches;              // the -I switches as "-Idir " text, during the parse
    char* extract_dir;                 // -x directory, or null
    SV* stat_name;                     // name of the last stat
    GV* stat_glob;                     // handle of the last stat
    GV* inc_glob;                      // *INC
    GV* default_glob;                  // *_
    GV* replace_glob;                  // the control-R variable
    GV* stdin_glob;                    // *STDIN
    HV* debug_stash;                   // DB::
    HV* global_override_stash;         // CORE::GLOBAL::
    AV* db_args;                       // @DB::args
    GV* db_glob;                       // *DB::DB
    GV* db_sub_glob;                   // *DB::sub, whose hash and sub the debugger keeps
    SV* db_trace;                      // $DB::trace
    SV* db_signal;                     // $DB::signal
    CV* db_sub_cv;                     // DB::sub once looked up for sub tracing
    SV* format_top_target;             // format target of the top-of-page format
    SV* format_body_target;            // format target of the body format ($^A)
    SV* format_target;                 // the format target in use
    void (**exit_list)(PERLGCB* gcb, void* arg);  // exit-list functions, run last-first at destruction
    void** exit_list_args;             // their arguments
    int32_t exit_list_count;           // entries of the two lists
    int32_t check_syntax;              // -c given
    int32_t autosplit;                 // -a
    int32_t autosplit_given;           // -F
    int32_t line_end;                  // -l
    int32_t loop_n;                    // -n
    int32_t loop_p;                    // -p
    int32_t switch_vars;               // -s
    int32_t extract;                   // -x
    int32_t preprocess;                // -P
    int32_t search_path;               // -S
    uintptr_t stack_floor;             // lowest native stack address the interpreter may reach
                                       // before it dies (stack_check); 0 while unknown
    uint32_t free_nesting;             // values being destroyed, one inside another (sv_release)
    int32_t free_pending_head;         // next waiting value to destroy
    int32_t free_pending_count;        // waiting values stored
    int32_t free_pending_max;          // room of the list
    SV** free_pending;                 // values whose count reached 0 too deep to destroy
                                       // at once; the outermost destruction takes them
    int32_t started;                   // the start-up parse ran to its end: the interpreter takes texts
};

static_assert(offsetof(PERLGCB, pool) == offsetof(PrxGcbHead, pool));
static_assert(offsetof(PERLGCB, out) == offsetof(PrxGcbHead, out));
static_assert(offsetof(PERLGCB, err) == offsetof(PrxGcbHead, err));
static_assert(offsetof(PERLGCB, ranuni_seed) == offsetof(PrxGcbHead, ranuni_seed));
static_assert(offsetof(PERLGCB, subject) == offsetof(PrxGcbHead, subject));
static_assert(offsetof(PERLGCB, errno_cell) == offsetof(PrxGcbHead, errno_cell));
static_assert(std::is_standard_layout_v<PERLGCB> && std::is_trivially_copyable_v<PERLGCB>);

// The interpreter of the current task, found through the host's named-block
// registry; null when none is registered.
PERLGCB* interp_of_current_task();

// The native stack. Interpreter code recurses on the native stack where it
// walks nested data or runs code from native code (sort comparators, ties,
// overloading, destructors), and a host task may have as little as 1 MB.
// prx_stack_floor answers the lowest address this thread's stack may reach,
// a reserve for dying and unwinding above its true end (0 when the platform
// cannot tell); every entry stores it in stack_floor. stack_check dies with
// a message an eval can trap once the stack has grown past the floor.
uintptr_t prx_stack_floor();
[[noreturn]] void stack_exhausted(PERLGCB* gcb);
inline void stack_check(PERLGCB* gcb)
{
    if (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < gcb->stack_floor) [[unlikely]]
        stack_exhausted(gcb);
}

// The bridge's JumpEnv inside the head buffer.
inline JumpEnv* head_env(PERLGCB* gcb) { return reinterpret_cast<JumpEnv*>(gcb->jmpbuf); }

// The one throwing function: long-jump to env with code. A null env is met by
// no jump_run: the jump ends at the module boundary's catch-all.
[[noreturn]] void jump_to(PERLGCB* gcb, JumpEnv* env, int32_t code);

// Run body under env. When link is true env becomes the top environment for
// the time of the body. Returns 0 when the body returned, else the code of
// the jump that arrived at env; jumps aimed elsewhere pass through.
template <class Body>
int32_t jump_run(PERLGCB* gcb, JumpEnv* env, bool link, Body&& body)
{
    env->code = 0;
    env->must_catch = 1;
    JumpEnv* saved_top = gcb->top_env;
    // A jump out of a destruction leaves the nesting it had here.
    uint32_t free_nesting = gcb->free_nesting;
    if (link) {
        env->prev = gcb->top_env;
        gcb->top_env = env;
    }
    try {
        body();
    } catch (const JumpUnwind& j) {
        if (j.target != env) {
            if (link)
                gcb->top_env = saved_top;
            env->must_catch = 0;
            throw;
        }
        env->code = j.code;
        gcb->free_nesting = free_nesting;
    }
    if (link)
        gcb->top_env = saved_top;
    env->must_catch = 0;
    return env->code;
}

// The bridge's last resort: long-jump with -1 to the head buffer of the
// current task's interpreter.
[[noreturn]] void bridge_fatal_jump(int32_t ignored = 0);

// Exits (never return): store the status, unwind to the outermost level and
// jump with code 2 to the top environment, or -1 to the bridge.
[[noreturn]] void interp_exit(PERLGCB* gcb, int32_t status);
[[noreturn]] void interp_failure_exit(PERLGCB* gcb);
[[noreturn]] void interp_exit_jump(PERLGCB* gcb);
// Bit of exit_flags: the exit was asked for by the program (the exit op sets
// it); the call, eval and block-queue guards then let it go on outward.
constexpr int32_t EXIT_EXPECTED = 0x1;
// The unwinding an exit does before its jump: release the -e program text,
// pop every stack level above the main one and the main level's frames, and
// close the outermost scope.
void interp_exit_unwind(PERLGCB* gcb);
// Pops the stack levels and context frames down to the outermost level (the
// run-loop family); called by interp_exit_unwind when stacks exist.
void stack_unwind_for_exit(PERLGCB* gcb);
// Releases one reference of a value (the value family).
void sv_release(PERLGCB* gcb, SV* sv);
// The output stream of a handle's I/O record, 0 when it has none (the glob family).
PrxStream io_output_stream_of(PERLGCB* gcb, GV* gv);
// Sets $@ to the empty string (the value family); only called once error_glob exists.
void errsv_set_empty(PERLGCB* gcb);

// Interpreter block life.
PERLGCB* interp_alloc();
void interp_free(PERLGCB* gcb);

