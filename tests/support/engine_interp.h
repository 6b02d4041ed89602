// An interpreter block for the pattern engine on its own, as the engine's
// tests, tools, fuzz target and benchmark make it: no construction beyond
// interp_alloc, so the caller lends the fold table's storage.
#pragma once

#include <cstdint>

#include "ds/src/prx.h"
#include "ds/src/prxbridge.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxre.h"

namespace prxtest {

// A new interpreter of the current task with a base jump environment, the
// fold table built (in fold, 256 bytes the caller keeps alive, when the
// block has none of its own) and the engine's hooks installed.
inline PERLGCB* engine_interp_new(uint8_t* fold)
{
    PERLGCB* gcb = interp_alloc();
    if (!gcb)
        return nullptr;
    gcb->top_env = &gcb->start_env;
    gcb->start_env.prev = nullptr;
    if (!gcb->fold_table)
        gcb->fold_table = fold;
    rexhost_build_fold(gcb);
    re_install_hooks(gcb);
    return gcb;
}

// Frees an interpreter of engine_interp_new; the lent fold table is the
// caller's and is not freed.
inline void engine_interp_free(PERLGCB* gcb, uint8_t* fold)
{
    if (gcb->fold_table == fold)
        gcb->fold_table = nullptr;
    interp_free(gcb);
}

}  // namespace prxtest
