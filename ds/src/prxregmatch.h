// What the matcher and the match driver share: the character tests of the
// class nodes over the host's tables, the step over one character of the
// subject, and the UTF-8 mode of the match.
#pragma once

#include "prxre.h"
#include "prxutf8.h"

inline uint8_t re_ctype(uint32_t c) { return g_host_vector->cclass[c & 0xFF]; }
inline bool re_is_word(uint32_t c) { return (re_ctype(c) & HC_ALNUM) || c == '_'; }
inline bool re_is_word_lc(uint32_t c) { return c < 0x80 && re_is_word(c); }
inline bool re_is_space(uint32_t c) { return re_ctype(c) & HC_SPACE; }
inline bool re_is_digit(uint32_t c) { return re_ctype(c) & HC_DIGIT; }

inline bool re_utf8_mode(PERLGCB* gcb) { return gcb->re_match_flags & RF_UTF8; }

// Bytes of the UTF-8 character that starts at p.
inline int32_t re_char_skip(const char* p) { return utf8_skip_of(static_cast<uint8_t>(*p)); }
