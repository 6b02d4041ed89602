// What the compiler's files share among themselves: parse result flags, the
// compile-state tests, the error forms, the emitters and linkers, and the
// entries of the parser, the optimiser and the dump.
#pragma once

#include <cstddef>

#include "prxre.h"

// Parse result flags, passed up from atom to piece to branch to group.
enum : int32_t {
    RE_FLAGS_NONE = 0,
    RE_HAS_WIDTH = 0x1,     // always consumes at least one character
    RE_SIMPLE = 0x2,        // one simple node
    RE_REPEAT_START = 0x4,  // may start with a repeat that can match nothing
    RE_TRY_AGAIN = 0x8,     // only a comment or a flag switch was consumed
};

// Seen bits of the compile state.
enum : uint32_t {
    RE_SEEN_LOOKBEHIND = 0x2,
    RE_SEEN_GPOS = 0x4,
    RE_SEEN_EVAL = 0x8,
};

// Regex flags word: the pattern text is UTF-8.
constexpr uint32_t RE_REGF_UTF8 = 0x8;
// The regexp warning category.
constexpr int32_t RE_WARN_REGEXP = WARN_REGEXP;

// The "naughty" score: a rough count of how much backtracking a pattern can
// do. Each piece after the first of a branch adds 1, a class or a dot 1, a
// simple star 4, a simple plus 3, another simple count 2 plus half the score
// so far, and a general repeat doubles the score and adds 4, so nested
// general repeats grow it geometrically. A pattern scoring 10 or more is
// marked REA_NAUGHTY: the start-position finder then never gives up its
// floating check substring, however often it fails to narrow the search.
// Only the threshold is read, so the score saturates at the top of its
// range instead of overflowing.
inline void re_naughty_set(PERLGCB* gcb, int64_t score)
{
    gcb->re_naughty = score > INT32_MAX ? INT32_MAX : static_cast<int32_t>(score);
}
inline void re_naughty_add(PERLGCB* gcb, int64_t n) { re_naughty_set(gcb, static_cast<int64_t>(gcb->re_naughty) + n); }

inline bool re_size_only(PERLGCB* gcb) { return gcb->re_emit == gcb->re_placeholder; }
inline re_program_node* re_placeholder(PERLGCB* gcb)
{
    return reinterpret_cast<re_program_node*>(gcb->re_placeholder);
}
// True when regexp warnings are enabled for the current statement.
bool re_warn_enabled(PERLGCB* gcb);

// Error forms; none returns. at is the place of the HERE mark.
[[noreturn]] void re_fail_plain(PERLGCB* gcb, const char* message);
[[noreturn]] void re_fail_at(PERLGCB* gcb, const char* at, const char* message);
// The form with arguments: message is the template already expanded.
[[noreturn]] void re_fail_formatted(PERLGCB* gcb, const char* at, const char* tmpl, const char* message);
// The form with arguments, formatting the template itself (kept out of the
// parser's recursive frames).
[[noreturn]] __attribute__((noinline, format(printf, 3, 4))) void re_fail_fmt(PERLGCB* gcb, const char* at,
                                                                            const char* fmt, ...);
__attribute__((noinline, format(printf, 3, 4))) void re_warn_fmt(PERLGCB* gcb, const char* at, const char* fmt, ...);
// A warning of the regexp category in the position form.
void re_warn_at(PERLGCB* gcb, const char* at, const char* message);

re_program_node* re_emit_node(PERLGCB* gcb, uint8_t op);
re_program_node* re_emit_arg_node(PERLGCB* gcb, uint8_t op, uint32_t arg);
// Writes the UTF-8 form of cp at dest (emit pass) and gives its length.
int32_t re_emit_uni(PERLGCB* gcb, uint32_t cp, char* dest);
void re_link_tail(PERLGCB* gcb, re_program_node* p, re_program_node* target);
void re_link_branch_tail(PERLGCB* gcb, re_program_node* p, re_program_node* target);
void re_insert_operand(PERLGCB* gcb, uint8_t op, re_program_node* operand);

const char* re_next_token(PERLGCB* gcb);
const char* re_skip_whitespace(PERLGCB* gcb, const char* p, const char* end);
bool re_is_curly(PERLGCB* gcb, const char* p);

re_program_node* re_parse_group(PERLGCB* gcb, int32_t paren, int32_t* flags_out);
re_program_node* re_parse_piece(PERLGCB* gcb, int32_t* flags_out, int32_t first);
re_program_node* re_parse_atom(PERLGCB* gcb, int32_t* flags_out);
re_program_node* re_parse_class(PERLGCB* gcb);
re_program_node* re_parse_class_utf8(PERLGCB* gcb);
int32_t re_parse_posix_class(PERLGCB* gcb, int32_t value);
void re_check_posix_syntax(PERLGCB* gcb);

// The optimiser over the finished program.
void re_optimize(PERLGCB* gcb, re_compiled* rx);
// The dump of a finished program and the summary line.
void re_dump_program(PERLGCB* gcb, re_compiled* rx);
// The description of a node into a bounded buffer.
void re_describe_to(PERLGCB* gcb, char* out, size_t size, re_program_node* node);
// Start-class operations of the optimiser.
void re_class_init(PERLGCB* gcb, re_class_node* cl);
void re_class_init_locale(PERLGCB* gcb, re_class_node* cl);
void re_class_set_all(PERLGCB* gcb, re_class_node* cl);
void re_class_and(re_class_node* cl, const re_class_node* with);
void re_class_or(PERLGCB* gcb, re_class_node* cl, const re_class_node* with);
