// The interpreter's scalar values: heads and bodies, reference counting,
// setters, the string buffer, UTF-8 values, formatted output and
// constructors.
#pragma once

#include <cstdarg>

#include "prx.h"

// ---- body access ------------------------------------------------------------

inline char*& sv_pv(SV* sv) { return static_cast<xpv*>(sv->any)->pv; }
inline uint64_t& sv_cur(SV* sv) { return static_cast<xpv*>(sv->any)->cur; }
inline uint64_t& sv_len(SV* sv) { return static_cast<xpv*>(sv->any)->len; }
inline SV* sv_refinc(SV* sv)
{
    if (sv)
        sv->refcnt++;
    return sv;
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

// ---- setters and the string buffer ------------------------------------------

void sv_set_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len);
void sv_set_cstring(PERLGCB* gcb, SV* sv, const char* ptr);
char* sv_grow_buffer(PERLGCB* gcb, SV* sv, uint64_t size);
void sv_append_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len);
void sv_append_cstring(PERLGCB* gcb, SV* sv, const char* ptr);

// ---- UTF-8 values -----------------------------------------------------------

uint64_t sv_char_length(PERLGCB* gcb, SV* sv);

// ---- formatted output -------------------------------------------------------

void sv_append_formatted(PERLGCB* gcb, SV* sv, const char* pat, ...);
void sv_set_formatted(PERLGCB* gcb, SV* sv, const char* pat, ...);

// ---- constructors -----------------------------------------------------------

SV* sv_new_undef(PERLGCB* gcb, uint64_t size);
SV* sv_new_from_bytes(PERLGCB* gcb, const char* ptr, uint64_t len);
