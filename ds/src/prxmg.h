// Magic dispatch: the method tables' rows, and the routines that call the
// methods of a value's chain, find a record and free the chain.
#pragma once

#include "prx.h"

// Rows of the interpreter's 28 magic method tables (gcb->magic_vtbl).
enum : int32_t {
    VTBL_SV = 0,
    VTBL_ENV = 1,
    VTBL_ENVELEM = 2,
    VTBL_SIG = 3,
    VTBL_SIGELEM = 4,
    VTBL_PACK = 5,
    VTBL_PACKELEM = 6,
    VTBL_DBLINE = 7,
    VTBL_ISA = 8,
    VTBL_ISAITEM = 9,
    VTBL_ARYLEN = 10,
    VTBL_GLOB = 11,
    VTBL_MGLOB = 12,
    VTBL_NKEYS = 13,
    VTBL_TAINT = 14,
    VTBL_SUBSTR = 15,
    VTBL_VEC = 16,
    VTBL_POS = 17,
    VTBL_BM = 18,
    VTBL_FM = 19,
    VTBL_UVAR = 20,
    VTBL_DEFELEM = 21,
    VTBL_PATTERN = 22,
    VTBL_MATCHOFFSETS = 23,
    VTBL_MATCHOFFSETITEM = 24,
    VTBL_AMAGIC = 25,
    VTBL_AMAGICELEM = 26,
    VTBL_BACKREF = 27,
};
static_assert(VTBL_BACKREF + 1 == MAGIC_VTBL_COUNT);

// MAGIC mgflags bits.
enum : uint8_t {
    MGf_TAINTEDDIR = 1,
    MGf_MINMATCH = 1,
    MGf_REFCOUNTED = 2,
    MGf_GSKIP = 4,
};

int32_t mg_call_get(PERLGCB* gcb, SV* sv);
int32_t mg_call_set(PERLGCB* gcb, SV* sv);
MAGIC* mg_find_by_type(PERLGCB* gcb, SV* sv, int type);
uint32_t mg_update_flags(PERLGCB* gcb, SV* sv);
int32_t mg_free_chain(PERLGCB* gcb, SV* sv);
uint32_t mg_value_length(PERLGCB* gcb, SV* sv);
