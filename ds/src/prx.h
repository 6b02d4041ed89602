// The interpreter's base header: the control block PERLGCB, the jump
// environments that carry errors, and the base types every family shares.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/hostcall.h"
#include "host/prxabi.h"
#include "host/xktool.h"

// Values and aggregates (their layouts live in the value and aggregate families).
struct SV;
struct AV;
struct HV;
struct GV;
struct CV;
struct IO;
struct MAGIC;
struct OP;
struct COP;
struct stack_level;

// Stream tokens: 0 none (and standard input), 1 captured standard output and
// the debug stream, 2 captured standard error.
typedef intptr_t PrxStream;
constexpr PrxStream PRX_STDOUT = 1;
constexpr PrxStream PRX_STDERR = 2;

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

struct JumpUnwind {
    JumpEnv* target;
    int32_t code;
};

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

    // Errors and exits.
    JumpEnv* top_env;             // innermost jump environment
    JumpEnv start_env;            // the start environment construction links
    int32_t exit_status;          // status of the last exit
    int32_t exit_flags;           // bit 1: the exit was expected
    int32_t nomemok;              // nonzero: a failed allocation returns null
    int32_t in_eval;              // nonzero while an eval runs
    int32_t dirty;                // global destruction under way
    int32_t destruct_level;
    OP* restartop;                // where the run loop resumes after a die in an eval
    SV* e_script;                 // program text of -e

    // Input and output handles.
    GV* stderrgv;                 // STDERR glob: its I/O record's output stream is the error capture
    GV* last_in_gv;               // last-read handle
    SV* rs;                       // input record separator $/
    GV* argvgv;                   // ARGV glob
    GV* errgv;                    // the glob of $@

    // Stack levels (the run loop's stacks).
    stack_level* curstackinfo;    // current stack level
    AV* curstack;                 // current argument-stack array
    AV* mainstack;                // main argument-stack array

    // Tables.
    uint8_t* fold_table;          // 256-byte case-fold table, null until set up

    // Options.
    uint32_t debug_flags;         // bit 0x200: pattern-engine trace
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

// The bridge's JumpEnv inside the head buffer.
inline JumpEnv* head_env(PERLGCB* gcb) { return reinterpret_cast<JumpEnv*>(gcb->jmpbuf); }

// The one throwing function: long-jump to env with code.
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
// Sets $@ to the empty string (the value family); only called once errgv exists.
void errsv_set_empty(PERLGCB* gcb);

// Interpreter block life.
PERLGCB* interp_alloc();
void interp_free(PERLGCB* gcb);

// The internal fault of code that a later subsystem completes.
[[noreturn]] void panic_not_built(const char* name);
