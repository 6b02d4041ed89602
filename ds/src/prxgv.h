// Globs and glob bodies, stashes, qualified names, method lookup and
// overloading.
#pragma once

#include "prx.h"

// A glob body, shared by aliased globs.
struct GP {
    SV* gp_sv;             // scalar slot
    uint32_t gp_refcnt;    // globs sharing this body
    IO* gp_io;             // I/O slot
    CV* gp_form;           // format slot
    AV* gp_av;             // array slot
    HV* gp_hv;             // hash slot
    GV* gp_egv;            // the effective glob
    CV* gp_cv;             // code slot
    uint32_t gp_cvgen;     // not 0: gp_cv is a cached method
    uint16_t gp_line;      // line of the first declaration
    char* gp_file;         // file of the first declaration
};

// Glob flags byte (xpvgv gvflags).
enum : uint8_t {
    GVf_INTRO = 0x01,
    GVf_MULTI = 0x02,
    GVf_ASSUMECV = 0x04,
    GVf_IMPORTED_SV = 0x10,
    GVf_IMPORTED_AV = 0x20,
    GVf_IMPORTED_HV = 0x40,
    GVf_IMPORTED_CV = 0x80,
    GVf_IMPORTED = 0xF0,
};

inline xpvgv* gv_body(GV* gv) { return static_cast<xpvgv*>(gv->any); }
inline GP*& gv_gp(GV* gv) { return gv_body(gv)->gp; }

GP* gp_retain(PERLGCB* gcb, GP* gp);
void gp_release(PERLGCB* gcb, GV* gv);

HV* gv_stash_by_name(PERLGCB* gcb, const char* name, int32_t create);
GV* gv_ensure_hash(PERLGCB* gcb, GV* gv);
void gv_qualified_name_with_main(PERLGCB* gcb, SV* target, GV* gv, const char* prefix, int32_t keepmain);
GV* gv_find_method(PERLGCB* gcb, HV* stash, const char* name);
int32_t gv_rebuild_overload_table(PERLGCB* gcb, HV* stash);

// Overload operator indexes and call flags the value layer passes.
enum : int32_t {
    AMG_BOOL = 2,
    AMG_STRING = 4,
    AMG_NUMBER = 5,
    AMG_INC = 44,
    AMG_DEC = 45,
    AMG_TO_CV = 62,
};
enum : int32_t {
    AMGf_noright = 1,
    AMGf_noleft = 2,
    AMGf_unary = 8,
};
SV* overload_call_operator(PERLGCB* gcb, SV* left, SV* right, int32_t method, int32_t flags);
