// Routines of matchmod that a later part completes: each raises the internal
// fault "panic: not built: NAME", which the module boundary reports.
#include "matchmod/mmpending.h"

void panic_not_built(const char* name) { throw MmNotBuilt{name}; }

#define NOT_BUILT(name) panic_not_built(#name)

