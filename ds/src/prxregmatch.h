// What the matcher and the match driver share: the character tests of the
// class and boundary nodes (over the host's tables, by the locale rule and
// on UTF-8 text), the step over one character of the subject and the
// decoding at a position, the UTF-8 mode of the match, and the trace test
// with the lines both write around an attempt.
#pragma once

#include <type_traits>

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

// ---- the class nodes' one test
//
// Every place that asks whether a class node accepts the character at a
// position (the matcher's single step, the repeat counter's run and the
// start-class scan) asks re_class_accepts_op, so the three cannot drift
// apart. The class nodes are ANYOF, ANYOFUTF8 and the ALNUM, SPACE and
// DIGIT families with their negations: plain (any byte by the host table),
// L (locale: only bytes below 0x80 can be members), UTF8 and L UTF8.
// The UTF8 forms test a byte below 0x80 by the host table, as the plain
// form does, and a longer character by the interpreter's word, space or
// digit table; the L UTF8 forms decode, and a code point from 0x80 to 0xFF
// is never a member. The locale forms taint the match: re_class_locale
// says which, and each caller sets the bit once before it tests.

// The class opcodes, for re_with_class_op's dispatch and the callers' case
// labels.
#define RE_CLASS_OPS(X)                                                                                       \
    X(ANYOF) X(ANYOFUTF8) X(ALNUM) X(ALNUMUTF8) X(ALNUML) X(ALNUMLUTF8) X(NALNUM) X(NALNUMUTF8) X(NALNUML)     \
        X(NALNUMLUTF8) X(SPACE) X(SPACEUTF8) X(SPACEL) X(SPACELUTF8) X(NSPACE) X(NSPACEUTF8) X(NSPACEL)       \
            X(NSPACELUTF8) X(DIGIT) X(DIGITUTF8) X(DIGITL) X(DIGITLUTF8) X(NDIGIT) X(NDIGITUTF8) X(NDIGITL)   \
                X(NDIGITLUTF8)

constexpr bool re_class_op(uint8_t op)
{
    return op == RE_ANYOF || op == RE_ANYOFUTF8 || (op >= RE_ALNUM && op <= RE_NDIGITLUTF8);
}
// Within the ALNUM..NDIGITLUTF8 rows the low two bits of the distance from
// ALNUM are the form: 0 plain, 1 UTF8, 2 L, 3 L UTF8; the rest is the kind.
static_assert(RE_NALNUM - RE_ALNUM == 4 && RE_NDIGITLUTF8 - RE_ALNUM == 23 && RE_DIGITL - RE_ALNUM == 18);
constexpr bool re_class_locale(uint8_t op) { return op >= RE_ALNUM && op <= RE_NDIGITLUTF8 && ((op - RE_ALNUM) & 2); }
// Whether the node steps over a UTF-8 character (else over one byte).
constexpr bool re_class_utf8(uint8_t op)
{
    return op == RE_ANYOFUTF8 || (op >= RE_ALNUM && op <= RE_NDIGITLUTF8 && ((op - RE_ALNUM) & 1));
}

template <uint8_t Op>
[[gnu::always_inline]] inline bool re_class_accepts_op(PERLGCB* gcb, const re_program_node* node, const char* p)
{
    uint8_t c = static_cast<uint8_t>(*p);
    if constexpr (Op == RE_ANYOF) {
        const re_class_node* cl = reinterpret_cast<const re_class_node*>(node);
        return cl->flags == 0 ? re_bitmap_test(cl->bitmap, c) : re_in_class(gcb, cl, c) != 0;
    } else if constexpr (Op == RE_ANYOFUTF8) {
        uint32_t arg = re_arg(node);
        if ((arg & 0xFFFF) == 0)
            return re_swash_at(gcb, static_cast<SV*>(gcb->re_data->data[arg >> 16]), p);
        return re_in_class_utf8(gcb, const_cast<re_program_node*>(node), reinterpret_cast<const uint8_t*>(p)) != 0;
    } else {
        static_assert(re_class_op(Op));
        constexpr uint32_t row = Op - RE_ALNUM;
        constexpr uint32_t kind = row >> 3;  // 0 word, 1 space, 2 digit
        constexpr bool negated = row & 4;
        constexpr bool utf8 = row & 1;
        constexpr bool locale = row & 2;
        auto byte_test = [](uint32_t b) {
            return kind == 0 ? re_is_word(b) : kind == 1 ? re_is_space(b) : re_is_digit(b);
        };
        bool in;
        if (c < 0x80)
            in = byte_test(c);
        else if constexpr (!utf8)
            in = !locale && byte_test(c);
        else if constexpr (locale) {
            uint32_t cp = re_decode_at(gcb, p);
            in = kind == 0 ? re_lc_word(gcb, cp) : kind == 1 ? re_lc_space(gcb, cp) : re_lc_digit(gcb, cp);
        } else
            in = kind == 0 ? re_utf8_word(gcb, p) : kind == 1 ? re_utf8_space(gcb, p) : re_utf8_digit(gcb, p);
        return in != negated;
    }
}

// Calls f with the opcode of a class node as a compile-time constant
// (std::integral_constant), so that each caller's loop is built once per
// opcode with the test inlined; f's result is returned. Not for other
// opcodes.
template <class F>
[[gnu::always_inline]] inline auto re_with_class_op(uint8_t op, F&& f)
{
    switch (op) {
#define RE_CLASS_DISPATCH(name) \
    case RE_##name:             \
        return f(std::integral_constant<uint8_t, RE_##name>{});
        RE_CLASS_OPS(RE_CLASS_DISPATCH)
#undef RE_CLASS_DISPATCH
    default:
        __builtin_unreachable();
    }
}

// Whether class node accepts the character at p (p below the subject end).
inline bool re_class_accepts(PERLGCB* gcb, const re_program_node* node, const char* p)
{
    return re_with_class_op(node->type, [&](auto op) { return re_class_accepts_op<decltype(op)::value>(gcb, node, p); });
}
