// What the matcher and the match driver share: the character tests of the
// class and boundary nodes (over the host's tables, by the locale rule and
// on UTF-8 text), the step over one character of the subject and the
// decoding at a position, the UTF-8 mode of the match, and the trace test
// with the lines both write around an attempt.
#pragma once

#include "prxre.h"
#include "prxuni.h"
#include "prxutf8.h"

// The byte tests of the class nodes: the host's, and the locale rule that
// takes only ASCII bytes as word characters.
inline bool re_is_word(uint32_t c) { return host_is_word(c); }
inline bool re_is_word_lc(uint32_t c) { return c < 0x80 && host_is_word(c); }
inline bool re_is_space(uint32_t c) { return host_is_space(c); }
inline bool re_is_digit(uint32_t c) { return host_is_digit(c); }

inline bool re_utf8_mode(PERLGCB* gcb) { return gcb->re_match_flags & RF_UTF8; }

// Trace lines of a backtracking scope: opened at level, and given up with
// the stack grown from level to top. Kept out of line: only the trace
// calls them.
void re_trace_scope_set(PERLGCB* gcb, int32_t level);
void re_trace_scope_clear(PERLGCB* gcb, int32_t level, int32_t top);

// Bytes of the UTF-8 character that starts at p.
inline int32_t re_char_skip(const char* p) { return utf8_skip_of(static_cast<uint8_t>(*p)); }

// The code point of the UTF-8 character at p, and of the one before p.
inline uint32_t re_decode_at(PERLGCB* gcb, const char* p)
{
    return static_cast<uint32_t>(utf8_decode(gcb, reinterpret_cast<const uint8_t*>(p), 13, nullptr, 0));
}
inline uint32_t re_decode_before(PERLGCB* gcb, const char* p)
{
    const char* r = re_step_chars(gcb, p, -1);
    return static_cast<uint32_t>(
        utf8_decode(gcb, reinterpret_cast<const uint8_t*>(r), static_cast<uint64_t>(p - r), nullptr, 0));
}

// The UTF-8 tests of the character at p.
inline bool re_utf8_word(PERLGCB* gcb, const char* p) { return utf8_is_word(gcb, reinterpret_cast<const uint8_t*>(p)); }
inline bool re_utf8_space(PERLGCB* gcb, const char* p) { return utf8_is_space(gcb, reinterpret_cast<const uint8_t*>(p)); }
inline bool re_utf8_digit(PERLGCB* gcb, const char* p) { return utf8_is_digit(gcb, reinterpret_cast<const uint8_t*>(p)); }

// The locale tests of a code point: ASCII by the host table, 0x80-0xFF
// never, above by Unicode.
inline bool re_lc_word(PERLGCB* gcb, uint32_t c)
{
    return c < 0x80 ? re_is_word(c) : c < 0x100 ? false : uni_is_word(gcb, c) != 0;
}
inline bool re_lc_space(PERLGCB* gcb, uint32_t c)
{
    return c < 0x80 ? re_is_space(c) : c < 0x100 ? false : uni_is_space(gcb, c) != 0;
}
inline bool re_lc_digit(PERLGCB* gcb, uint32_t c)
{
    return c < 0x80 ? re_is_digit(c) : c < 0x100 ? false : uni_is_digit(gcb, c) != 0;
}

// The word test of the UTF-8 boundary nodes: of a code point, and of the
// character at p.
inline bool re_word_cp(PERLGCB* gcb, uint32_t c, bool locale)
{
    return locale ? re_lc_word(gcb, c) : uni_is_word(gcb, c) != 0;
}
inline bool re_word_at(PERLGCB* gcb, const char* p, bool locale)
{
    return locale ? re_lc_word(gcb, re_decode_at(gcb, p)) : re_utf8_word(gcb, p);
}

// The class nodes of the UTF-8 and locale kinds by their kind (RE_ALNUM,
// RE_SPACE, RE_DIGIT or a negation of one): whether the kind is positive,
// and its test of a byte, of a code point by the locale rule and of the
// UTF-8 character at p.
inline bool re_kind_positive(uint8_t kind) { return kind == RE_ALNUM || kind == RE_SPACE || kind == RE_DIGIT; }
inline bool re_kind_word(uint8_t kind) { return kind == RE_ALNUM || kind == RE_NALNUM; }
inline bool re_kind_space(uint8_t kind) { return kind == RE_SPACE || kind == RE_NSPACE; }
inline bool re_kind_byte(uint8_t kind, uint32_t c)
{
    return re_kind_word(kind) ? re_is_word(c) : re_kind_space(kind) ? re_is_space(c) : re_is_digit(c);
}
inline bool re_kind_lc(PERLGCB* gcb, uint8_t kind, uint32_t c)
{
    return re_kind_word(kind) ? re_lc_word(gcb, c) : re_kind_space(kind) ? re_lc_space(gcb, c) : re_lc_digit(gcb, c);
}
inline bool re_kind_utf8(PERLGCB* gcb, uint8_t kind, const char* p)
{
    return re_kind_word(kind)    ? re_utf8_word(gcb, p)
           : re_kind_space(kind) ? re_utf8_space(gcb, p)
                                 : re_utf8_digit(gcb, p);
}
