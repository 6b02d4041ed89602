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

// ---- characters of a UTF-8 subject
//
// A character is either a whole sequence (a lead byte and the continuation
// bytes its length asks for, all before the end) or a single byte: a stray
// continuation byte, or a lead byte whose sequence is cut off by the end or
// by a byte that is not a continuation. Every forward and backward step of
// the engine goes by this rule, so the two are exact inverses and never
// leave the subject, whatever bytes it holds.

inline bool re_is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Bytes of the character at p (p < end).
inline int32_t re_char_len(const char* p, const char* end)
{
    uint8_t b = static_cast<uint8_t>(*p);
    if (b < 0xC0)
        return 1;
    int32_t n = utf8_skip_of(b);
    if (n > end - p)
        return 1;
    for (int32_t i = 1; i < n; i++)
        if (!re_is_continuation(static_cast<uint8_t>(p[i])))
            return 1;
    return n;
}

// The same within the subject of the match.
inline int32_t re_char_skip(PERLGCB* gcb, const char* p) { return re_char_len(p, gcb->re_subject_end); }

// The start of the character that ends at p (begin < p <= end): the lead
// byte within 13 bytes before p whose whole sequence ends at p, else p - 1.
// A lead byte left of a run of continuation bytes is a character start
// whenever the forward steps reach it, since no sequence can take it in as
// a continuation.
inline const char* re_char_before(const char* p, const char* begin, const char* end)
{
    const char* q = p - 1;
    if (!re_is_continuation(static_cast<uint8_t>(*q)))
        return q;
    const char* r = q;
    while (r > begin && p - r < 13 && re_is_continuation(static_cast<uint8_t>(*r)))
        r--;
    if (!re_is_continuation(static_cast<uint8_t>(*r)) && re_char_len(r, end) == p - r)
        return r;
    return q;
}

// The bytes a UTF-8 test may read for the character at p (p < end): p
// itself when the character is whole, else the replacement character
// U+FFFD in buf. A stray byte so matches only what U+FFFD matches, and no
// decoder or class table reads past the subject.
inline const uint8_t* re_whole_char(const char* p, const char* end, uint8_t (&buf)[4])
{
    if (static_cast<uint8_t>(*p) < 0x80 || re_char_len(p, end) > 1)
        return reinterpret_cast<const uint8_t*>(p);
    buf[0] = 0xEF;
    buf[1] = 0xBF;
    buf[2] = 0xBD;
    buf[3] = 0;
    return buf;
}

// The code point of a whole character at w.
inline uint32_t re_decode_whole(PERLGCB* gcb, const uint8_t* w)
{
    return static_cast<uint32_t>(utf8_decode(gcb, w, utf8_skip_of(*w), nullptr, 0));
}

// The code point of the character at p, and of the one before p.
inline uint32_t re_decode_at(PERLGCB* gcb, const char* p)
{
    uint8_t buf[4];
    return re_decode_whole(gcb, re_whole_char(p, gcb->re_subject_end, buf));
}
inline uint32_t re_decode_before(PERLGCB* gcb, const char* p)
{
    return re_decode_at(gcb, re_char_before(p, gcb->re_subject_begin, gcb->re_subject_end));
}

// The membership of the character at p in a class table.
inline bool re_swash_at(PERLGCB* gcb, SV* swash, const char* p)
{
    uint8_t buf[4];
    return swash_fetch(gcb, swash, re_whole_char(p, gcb->re_subject_end, buf)) != 0;
}

// The UTF-8 tests of the character at p.
inline bool re_utf8_word(PERLGCB* gcb, const char* p)
{
    uint8_t buf[4];
    return utf8_is_word(gcb, re_whole_char(p, gcb->re_subject_end, buf));
}
inline bool re_utf8_space(PERLGCB* gcb, const char* p)
{
    uint8_t buf[4];
    return utf8_is_space(gcb, re_whole_char(p, gcb->re_subject_end, buf));
}
inline bool re_utf8_digit(PERLGCB* gcb, const char* p)
{
    uint8_t buf[4];
    return utf8_is_digit(gcb, re_whole_char(p, gcb->re_subject_end, buf));
}

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
