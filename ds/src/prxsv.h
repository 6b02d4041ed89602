// The interpreter's scalar values, as far as the aggregates and magic use
// them: body access, setters, conversions, magic attachment, constructors
// and temporaries.
#pragma once

#include <cstdarg>

#include "prx.h"

// ---- flag groups ------------------------------------------------------------

// The value flags every setter clears before it stores.
constexpr uint32_t SV_VALUE_FLAGS = SVf_IOK | SVf_NOK | SVf_POK | SVf_ROK | SVp_IOK | SVp_NOK | SVp_POK |
                                    SVf_AMAGIC | SVf_UTF8 | SVf_IVisUV;
// A value with none of these is modified without the modify check.
constexpr uint32_t SV_THINK_FIRST = SVf_READONLY | SVf_ROK | SVf_FAKE | SVf_UTF8;
// Magic summary bits.
constexpr uint32_t SV_MAGIC_FLAGS = SVs_GMG | SVs_SMG | SVs_RMG;
// The private value flags; each is its public flag shifted left by 8.
constexpr uint32_t SV_PRIVATE_OK = SVp_IOK | SVp_NOK | SVp_POK;
constexpr uint32_t SV_PUBLIC_OK = SVf_IOK | SVf_NOK | SVf_POK;

// ---- body access ------------------------------------------------------------
//
// Bodies of types 4 to 9 and 12 to 15 share the string, number, magic and
// stash fields at the same offsets; an integer-only (double-only) body pointer
// is set so that sv_iv (sv_nv) reaches its cell. A reference keeps its
// referent in the place of the string pointer.

inline xpvmg* sv_body(SV* sv) { return static_cast<xpvmg*>(sv->any); }
inline char*& sv_pv(SV* sv) { return static_cast<xpv*>(sv->any)->pv; }
inline uint64_t& sv_cur(SV* sv) { return static_cast<xpv*>(sv->any)->cur; }
inline uint64_t& sv_len(SV* sv) { return static_cast<xpv*>(sv->any)->len; }
inline int64_t& sv_iv(SV* sv) { return static_cast<xpviv*>(sv->any)->iv; }
inline uint64_t sv_uv(SV* sv) { return static_cast<uint64_t>(static_cast<xpviv*>(sv->any)->iv); }
inline double& sv_nv(SV* sv) { return static_cast<xpvnv*>(sv->any)->nv; }
inline SV*& sv_rv(SV* sv) { return *reinterpret_cast<SV**>(&static_cast<xpv*>(sv->any)->pv); }
inline MAGIC*& sv_magic_chain(SV* sv) { return static_cast<xpvmg*>(sv->any)->magic; }
inline HV*& sv_stash(SV* sv) { return static_cast<xpvmg*>(sv->any)->stash; }
inline SV* sv_refinc(SV* sv)
{
    if (sv)
        sv->refcnt++;
    return sv;
}
// Any of the defined flags.
inline bool sv_ok(const SV* sv) { return (sv->flags & SVf_OK_ANY) != 0; }
inline bool sv_is_immortal(PERLGCB* gcb, const SV* sv)
{
    return sv == &gcb->sv_undef || sv == &gcb->sv_yes || sv == &gcb->sv_no;
}
// The text of a value: its buffer when POK, else the conversion.
char* sv_to_string(PERLGCB* gcb, SV* sv, uint64_t* len);
inline char* sv_text(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    if (sv->flags & SVf_POK) {
        *len = sv_cur(sv);
        return sv_pv(sv);
    }
    return sv_to_string(gcb, sv, len);
}

// ---- routines ---------------------------------------------------------------

SV* sv_new_undef(PERLGCB* gcb, uint64_t size);
int32_t sv_upgrade_body(PERLGCB* gcb, SV* sv, uint32_t type);
void del_backref(PERLGCB* gcb, SV* sv);
void sv_assign(PERLGCB* gcb, SV* dst, SV* src);
void sv_set_int(PERLGCB* gcb, SV* sv, int64_t value);
void sv_set_uint(PERLGCB* gcb, SV* sv, uint64_t value);
void sv_set_double(PERLGCB* gcb, SV* sv, double value);
void sv_set_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len);
void sv_set_cstring(PERLGCB* gcb, SV* sv, const char* ptr);
char* sv_force_string(PERLGCB* gcb, SV* sv, uint64_t* len);
int64_t sv_to_int(PERLGCB* gcb, SV* sv);
double sv_to_double(PERLGCB* gcb, SV* sv);
bool sv_is_true(PERLGCB* gcb, SV* sv);
char* sv_grow_buffer(PERLGCB* gcb, SV* sv, uint64_t size);
int32_t sv_undo_offset(PERLGCB* gcb, SV* sv);
void sv_insert(PERLGCB* gcb, SV* sv, uint64_t offset, uint64_t len, const char* little, uint64_t littlelen);
void sv_append_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len);
void sv_append_cstring(PERLGCB* gcb, SV* sv, const char* ptr);
void sv_pos_char_to_byte(PERLGCB* gcb, SV* sv, int32_t* offset, int32_t* len);
void sv_convert_to_utf8(PERLGCB* gcb, SV* sv);
uint64_t sv_char_length(PERLGCB* gcb, SV* sv);
void sv_pos_b2u(PERLGCB* gcb, SV* sv, int32_t* offset);
void sv_append_formatted(PERLGCB* gcb, SV* sv, const char* pat, ...);
void sv_set_formatted(PERLGCB* gcb, SV* sv, const char* pat, ...);
void sv_add_magic(PERLGCB* gcb, SV* sv, SV* obj, int how, const char* name, int32_t namlen);
int32_t sv_remove_magic(PERLGCB* gcb, SV* sv, int type);
SV* sv_new_from_cstring(PERLGCB* gcb, const char* ptr, uint64_t len);
SV* sv_new_from_bytes(PERLGCB* gcb, const char* ptr, uint64_t len);
SV* sv_new_from_int(PERLGCB* gcb, int64_t value);
SV* sv_new_reference(PERLGCB* gcb, SV* referent);
SV* sv_new_copy(PERLGCB* gcb, SV* src);
SV* sv_new_temporary(PERLGCB* gcb);
SV* sv_new_temporary_copy(PERLGCB* gcb, SV* src);
SV* sv_make_temporary(PERLGCB* gcb, SV* sv);
bool sv_is_tainted(PERLGCB* gcb, SV* sv);
CV* sv_to_code(PERLGCB* gcb, SV* sv, HV** stash_out, GV** gv_out, int32_t create);
void sv_mark_tainted(PERLGCB* gcb, SV* sv);
uint64_t sv_byte_length(PERLGCB* gcb, SV* sv);
