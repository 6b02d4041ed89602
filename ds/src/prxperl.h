// Interpreter life: construction, the command line and program parse, the
// special-block queues and the program run, and destruction.
#pragma once

#include "prx.h"

// The compile-time statement record kept inside the block.
inline COP* interp_compile_cop(PERLGCB* gcb) { return reinterpret_cast<COP*>(gcb->compile_cop_record); }

// Turns an allocated block into an interpreter that can parse: hooks,
// constants, stacks, immortals, the version value and one open scope.
void interp_construct(PERLGCB* gcb);
// The stacks as construction makes them: the main stack level (128 items,
// 55 frames), temporaries (128), marks (32), scopes (32), the save stack
// (128) and the return stack (16), all empty.
void interp_init_stacks(PERLGCB* gcb);

// A routine that sets up native extensions during the parse.
typedef void (*interp_xsinit_fn)(PERLGCB* gcb);

// Parses the command line and compiles the program; 0 when it compiled, the
// exit status when the parse exited, 1 after a stray die.
int32_t interp_parse(PERLGCB* gcb, interp_xsinit_fn xsinit, int32_t argc, char** argv, char** env);
void interp_parse_worker(PERLGCB* gcb, char** env, interp_xsinit_fn xsinit);
// The source filter of -e: hands out the program text a line at a time.
int32_t interp_read_e_script(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen);
// Processes one switch; the rest of the cluster, or null when it is done.
char* interp_parse_switch(PERLGCB* gcb, char* s);
void interp_include_path_add(PERLGCB* gcb, const char* dirs, int32_t add_subdirs, int32_t add_old_versions);
void interp_setup_argv(PERLGCB* gcb, int32_t argc, char** argv, char** env);
void interp_setup_ids(PERLGCB* gcb);

// Runs the blocks of a special-block queue in order, taking each off it.
void interp_run_block_queue(PERLGCB* gcb, int32_t old_scope, AV* queue);
// Runs one block with the call flags 6 over the mark the queue runner pushed.
void interp_run_block_body(PERLGCB* gcb, CV* cv);
// Runs the entersub op that is current, then the run loop from the op it returns.
void interp_call_run(PERLGCB* gcb, OP* call_op);
// Runs a parsed program: INIT blocks, the main program, END blocks; the exit status.
int32_t interp_run(PERLGCB* gcb);

// The error variable $@, null before the parse has made its glob.
SV* errsv(PERLGCB* gcb);
// Empties $@; nothing before the parse has made its glob.
void errsv_clear(PERLGCB* gcb);

// Takes a constructed interpreter apart; the block itself stays.
void interp_destruct(PERLGCB* gcb);
// The same for an interpreter whose pool is destroyed right after
// (interp_free): what only frees pool memory is left to the pool's
// destruction, once no object is left whose destructor could run.
void interp_destruct_before_free(PERLGCB* gcb);
// Frees the main program's op tree, with the main pad current so that its
// ops hand their pad slots back; the main root and start become null.
void interp_free_main_root(PERLGCB* gcb);
// The dump form of goto: asks the kill substitute for signal 6 and returns.
void interp_abort(PERLGCB* gcb);
// Stands for the I/O layer's set-up and flush calls; does nothing.
void interp_noop_hook();
