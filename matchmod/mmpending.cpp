// Routines of matchmod that a later part completes: each reports the
// internal fault "panic: not built: NAME" to the host log and answers its
// failure.
#include <cstdio>

#include "host/hostcall.h"
#include "matchmod/mm.h"

extern "C" uint32_t prxmatch_call(XkFuncCall*, double* result, void*, void*)
{
    uint64_t bits = HOST_MISSING_BITS;
    __builtin_memcpy(result, &bits, sizeof bits);
    xkPutLog("panic: not built: prxmatch_call");
    return ST_PRX_FAILED;
}
