// Routines of matchmod that a later part completes: each raises the internal
// fault "panic: not built: NAME", which the module boundary reports.
#include "matchmod/mmpending.h"

#include "rng/rng.h"

void panic_not_built(const char* name) { throw MmNotBuilt{name}; }

#define NOT_BUILT(name) panic_not_built(#name)

// ---- random-number framework ----------------------------------------------------
RngStream* xkRngStreamCreate(host_task*, uint64_t, uint64_t) { NOT_BUILT(xkRngStreamCreate); }
