// Process, signal and environment support. Inside the host nothing here
// reaches the operating system: each routine sits on C-library substitutes
// that report an unsupported function or answer a fixed value.
#pragma once

#include "prx.h"

// A signal handler as the signal substitute passes it around.
typedef void* prx_sighandler;

// Sets name=value in the environment through the putenv substitute; the
// interpreter's own environment queries do not change.
void env_set(PERLGCB* gcb, const char* name, const char* value);
// A stream of a child process running cmd; none here (the pipe substitute
// fails), after the taint check of a real command.
PrxStream pipe_open(PERLGCB* gcb, const char* cmd, const char* mode);
// Closes a piped stream and waits for its child; the child's status, or -1.
int32_t pipe_close(PERLGCB* gcb, PrxStream stream);
prx_sighandler signal_set(PERLGCB* gcb, int32_t sig, prx_sighandler handler);
prx_sighandler signal_get(PERLGCB* gcb, int32_t sig);
// 0, or -1 when the signal substitute reports an error.
int32_t signal_save(PERLGCB* gcb, int32_t sig, prx_sighandler handler, prx_sighandler* saved);
int32_t signal_restore(PERLGCB* gcb, int32_t sig, prx_sighandler saved);
// -1 for process id 0, else the wait substitute's answer.
int32_t wait_child(PERLGCB* gcb, int32_t pid, int32_t* status, int32_t flags);
// The file name to open for a script: a pool copy of name, or none.
char* find_script_on_path(PERLGCB* gcb, const char* name, int32_t search, const char* const* ext, int32_t flags);
