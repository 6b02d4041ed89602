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
prx_sighandler signal_set(PERLGCB* gcb, int32_t sig, prx_sighandler handler);
prx_sighandler signal_get(PERLGCB* gcb, int32_t sig);
