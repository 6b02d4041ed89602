// Record access and bit names that the builders' and the front end's headers
// are gaining; each entry goes as soon as its home header has it.
#pragma once

#include "prxgv.h"
#include "prxmsg.h"
#include "prxop.h"

inline OP*& op_first_kid(OP* o) { return reinterpret_cast<op_unary*>(o)->op_first; }
inline OP*& op_last_kid(OP* o) { return reinterpret_cast<op_binary*>(o)->op_last; }
inline bool op_has_kids(const OP* o) { return (o->op_flags & OPf_KIDS) != 0; }
inline uint8_t op_want(const OP* o) { return o->op_flags & OPf_WANT; }
inline SV*& op_value_sv(OP* o) { return reinterpret_cast<op_value*>(o)->op_sv; }
inline uint32_t op_real_type(const OP* o) { return o->op_type ? o->op_type : o->op_targ; }
inline void op_set_type(PERLGCB* gcb, OP* o, uint32_t type)
{
    o->op_type = static_cast<uint16_t>(type);
    o->op_ppaddr = gcb->op_run_function_table[type];
}

enum : uint8_t {
    OPpTARGET_MY = 0x10,
    OPpLVAL_INTRO = 0x80,
    OPpDEREF = 0x60,
    OPpOUR_INTRO = 0x10,
    OPpHINT_STRICT_REFS = 0x02,
    OPpCONST_STRICT = 0x08,
    OPpCONST_BARE = 0x40,
    OPpREPEAT_DOLIST = 0x40,
    OPpASSIGN_HASH = 0x20,
    OPpASSIGN_COMMON = 0x40,
    OPpASSIGN_BACKWARDS = 0x40,
    OPpFLIP_LINENUM = 0x40,
};
constexpr int32_t MODCOUNT_UNLIMITED = 0x3FFFFFFF;
enum : int32_t {
    WARN_BAREWORD = 29,
    WARN_DEPRECATED = 30,
};

// The glob of the default variable, *_.
inline GV* default_glob_of(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PVGV); }
// The glob of the hint hash, *^H, when it exists.
inline GV* hints_glob_of(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "\x08", 0, SVt_PVHV); }
