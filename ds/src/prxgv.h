// Globs and glob bodies, stashes and qualified names, method resolution
// with its cache and autoloading, and operator overloading.
#pragma once

#include <cstdint>

#include "prx.h"

// A glob body, shared by aliased globs; from the pool, zero-filled.
struct GP {
    SV* gp_sv;             // scalar slot; every body has one
    uint32_t gp_refcnt;    // globs sharing this body
    IO* gp_io;             // I/O slot
    CV* gp_form;           // format slot
    AV* gp_av;             // array slot
    HV* gp_hv;             // hash slot; the stash of a glob named "NAME::"
    GV* gp_egv;            // the glob this body was made for; null once it lets go
    CV* gp_cv;             // code slot; also a cached method
    uint32_t gp_cvgen;     // 0: gp_cv is a sub of this name; else the generation of a cache entry
    uint32_t gp_flags;     // 0 as made
    uint16_t gp_line;      // line where the glob was made
    const char* gp_file;   // file where the glob was made; not owned
};
static_assert(std::is_standard_layout_v<GP> && std::is_trivially_copyable_v<GP>);

// Glob flags byte (PVGV gvflags).
enum : uint8_t {
    GVf_INTRO = 0x01,
    GVf_MULTI = 0x02,
    GVf_ASSUMECV = 0x04,
    GVf_IMPORT_SV = 0x10,
    GVf_IMPORT_AV = 0x20,
    GVf_IMPORT_HV = 0x40,
    GVf_IMPORT_CV = 0x80,
    GVf_IMPORT = 0xF0,
};

inline PVGV* gv_body(GV* gv) { return static_cast<PVGV*>(gv->any); }
inline GP*& gv_gp(GV* gv) { return gv_body(gv)->gp; }
inline bool sv_is_glob(const SV* sv) { return sv && sv_type(sv) == SVt_PVGV; }

// Flags of gv_fetch_by_name.
enum : int32_t {
    GV_ADD = 0x01,         // create what is missing (any non-zero flags word does)
    GV_ADDMULTI = 0x02,    // mark the glob used more than once
    GV_ADDWARN = 0x04,     // warn when creation was needed
    GV_NOINIT = 0x10,      // return an existing entry without making it a glob
};

// Compile hint of strict variables.
constexpr uint32_t HINT_STRICT_VARS = 0x400;

// ---- globs and glob bodies --------------------------------------------------

// The file name of a statement: its file glob's scalar text, or null.
const char* gv_statement_file(PERLGCB* gcb, COP* cop);
void gv_convert_to_glob(PERLGCB* gcb, GV* gv, HV* stash, const char* name, int32_t len, int32_t multi);
GP* gp_retain(PERLGCB* gcb, GP* gp);
void gp_release(PERLGCB* gcb, GV* gv);
void gv_add_slot_for_kind(PERLGCB* gcb, GV* gv, uint32_t kind);
GV* gv_ensure_array(PERLGCB* gcb, GV* gv);
GV* gv_ensure_hash(PERLGCB* gcb, GV* gv);
GV* gv_ensure_handle(PERLGCB* gcb, GV* gv);
GV* gv_new_generated(PERLGCB* gcb, const char* package);
IO* io_new_body(PERLGCB* gcb);

// ---- stashes and qualified names ----------------------------------------------

GV* gv_fetch_by_name(PERLGCB* gcb, const char* name, int32_t flags, uint32_t kind);
// The glob of the default variable, *_: the control block's once the parse
// has made it, else found or made by name.
inline GV* gv_default_glob(PERLGCB* gcb)
{
    return gcb->default_glob ? gcb->default_glob : gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PVGV);
}
// The glob of the hint hash, *^H, when it exists (never made here).
inline GV* gv_hints_glob(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "\x08", 0, SVt_PVHV); }
HV* gv_stash_by_name(PERLGCB* gcb, const char* name, int32_t create);
HV* gv_stash_by_name_len(PERLGCB* gcb, const char* name, uint32_t len, int32_t create);
HV* gv_stash_by_value(PERLGCB* gcb, SV* sv, int32_t create);
void gv_qualified_name_with_main(PERLGCB* gcb, SV* sv, GV* gv, const char* prefix);
void gv_qualified_name(PERLGCB* gcb, SV* sv, GV* gv, const char* prefix, int32_t keepmain);
void gv_effective_qualified_name(PERLGCB* gcb, SV* sv, GV* gv, const char* prefix);
GV* gv_fetch_file_glob(PERLGCB* gcb, const char* name);
void gv_warn_used_once(PERLGCB* gcb, HV* stash);
int32_t gv_is_special_name(PERLGCB* gcb, const char* name, uint32_t len);

// ---- methods -----------------------------------------------------------------------

GV* gv_method_search(PERLGCB* gcb, HV* stash, const char* name, uint32_t len, int32_t level);
GV* gv_find_method_autoload_flag(PERLGCB* gcb, HV* stash, const char* name, int32_t autoload);
GV* gv_find_method(PERLGCB* gcb, HV* stash, const char* name);
GV* gv_find_autoload(PERLGCB* gcb, HV* stash, const char* name, uint32_t len, int32_t method);

// ---- overloading -------------------------------------------------------------------

// Operator indexes of the overload table.
enum : int32_t {
#define PRX_AMG(id, key) AMG_##id,
#include "prxgvamg.def"
#undef PRX_AMG
    AMG_COUNT
};
static_assert(AMG_COUNT == 64);
// Operation flags of overload_call_operator.
enum : int32_t {
    AMGf_noright = 1,
    AMGf_noleft = 2,
    AMGf_assign = 4,
    AMGf_unary = 8,
};

// The operator keys by index ("fallback", "abs", ... "<>").
extern const char* const overload_key_names[AMG_COUNT];

// A package's overload table, the owned data of its 'c' magic. A package
// without overloading keeps the first three fields only.
struct overload_table {
    uint32_t method_generation;    // method_cache_generation at build time
    uint32_t overload_generation;  // overload_generation at build time
    uint32_t flags;                // AMTf_OVERLOADED
    CV* methods[AMG_COUNT];        // counted references; index 0 stays null
    int32_t fallback;              // AMT_FALLBACK_*
};
constexpr uint32_t AMTf_OVERLOADED = 0x01;
enum : int32_t {
    AMT_FALLBACK_NO = 1,      // "()" is defined and false
    AMT_FALLBACK_UNDEF = 2,   // "()" is undefined or missing
    AMT_FALLBACK_YES = 3,     // "()" is true
};
constexpr int32_t OVERLOAD_TABLE_SHORT = static_cast<int32_t>(offsetof(overload_table, methods));

int32_t gv_rebuild_overload_table(PERLGCB* gcb, HV* stash);
SV* overload_call_operator(PERLGCB* gcb, SV* left, SV* right, int32_t method, int32_t flags);

// ---- handles -----------------------------------------------------------------------

// Flags byte of an I/O body.
enum : uint8_t {
    IOf_ARGV = 0x01,      // iterates the ARGV array
    IOf_START = 0x02,     // not yet started
    IOf_FLUSH = 0x04,     // autoflush
    IOf_DIDTOP = 0x08,    // the top-of-page format has run for the current page
    IOf_UNTAINT = 0x10,   // lines read are not tainted
    IOf_NOLINE = 0x20,    // a record has been delivered; every successful open clears it
};
inline PVIO* io_body(IO* io) { return static_cast<PVIO*>(io->any); }
