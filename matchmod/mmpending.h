// Routines of matchmod that a later part completes raise this internal
// fault; the module boundary reports "panic: not built: NAME" and fails.
#pragma once

struct MmNotBuilt {
    const char* name;
};

[[noreturn]] void panic_not_built(const char* name);
