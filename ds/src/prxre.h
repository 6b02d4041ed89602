// The pattern engine's interface: node program layout, compiled-pattern
// parts, the engine hooks, the compiler, the matcher and the start-position
// finder.
#pragma once

#include <cstdint>

#include "prx.h"
#include "prxsearch.h"

struct op_pattern;

// ---- node program ---------------------------------------------------------

enum re_opcode : uint8_t {
#define RE_NODE(name, kind, args, offarg, simple) RE_##name,
#include "prxregnodes.def"
#undef RE_NODE
    RE_NODE_COUNT
};
static_assert(RE_NODE_COUNT == 80, "the node program has 80 opcodes");

// Head of every node: one 4-byte unit.
struct re_program_node {
    uint8_t flags;   // per-opcode use; 0xDE when the opcode has none
    uint8_t type;    // re_opcode
    uint16_t next;   // distance in units to the successor; 0 = none
};
static_assert(sizeof(re_program_node) == 4);

// First byte of the program's magic unit.
constexpr uint8_t RE_MAGIC = 0x9C;
// Flags byte of a node whose opcode has no use for it.
constexpr uint8_t RE_NO_FLAGS = 0xDE;
// Unbounded maximum of a repeat.
constexpr int32_t RE_INFTY = 32767;
// The matcher's nesting limit.
constexpr int32_t RE_DEPTH_LIMIT = 1100;
// The work guard: a match may spend this many units of work, plus
// RE_WORK_PER_BYTE for each byte of its subject. A unit is one activation
// of the matcher (every try of the rest of the pattern after a repeat
// count, every repetition of a general repeat, every lookaround body), one
// step back of a repeat's count, or eight bytes that a minimal repeat scans
// for the byte after it. So the budget bounds the backtracking of a match,
// wide or deep, while a scan that does a bounded amount of work at each
// position stays far below it.
constexpr int64_t RE_WORK_BASE = 10000000;
constexpr int64_t RE_WORK_PER_BYTE = 32;
// Deepest group nesting the parser accepts.
constexpr int32_t RE_NESTING_LIMIT = 1000;

extern const char* const re_node_names[RE_NODE_COUNT];
extern const uint8_t re_node_kinds[RE_NODE_COUNT];
extern const uint8_t re_arg_units[RE_NODE_COUNT];
extern const uint8_t re_next_in_arg[RE_NODE_COUNT];
extern const uint8_t re_simple_nodes[RE_NODE_COUNT];

inline uint8_t re_kind(const re_program_node* n) { return re_node_kinds[n->type]; }
inline uint32_t* re_args(re_program_node* n) { return reinterpret_cast<uint32_t*>(n + 1); }
inline uint32_t re_arg(const re_program_node* n) { return reinterpret_cast<const uint32_t*>(n + 1)[0]; }
inline void re_set_arg(re_program_node* n, uint32_t v) { reinterpret_cast<uint32_t*>(n + 1)[0] = v; }
// Repeat bounds: minimum then maximum, 16 bits each.
inline uint16_t re_arg_min(const re_program_node* n) { return reinterpret_cast<const uint16_t*>(n + 1)[0]; }
inline uint16_t re_arg_max(const re_program_node* n) { return reinterpret_cast<const uint16_t*>(n + 1)[1]; }
inline void re_set_min_max(re_program_node* n, uint16_t lo, uint16_t hi)
{
    reinterpret_cast<uint16_t*>(n + 1)[0] = lo;
    reinterpret_cast<uint16_t*>(n + 1)[1] = hi;
}
// Literal text of an EXACT-kind node; its length is the flags byte.
inline char* re_text(re_program_node* n) { return reinterpret_cast<char*>(n + 1); }
inline const char* re_text(const re_program_node* n) { return reinterpret_cast<const char*>(n + 1); }
// Units of a literal node of that many bytes.
inline int32_t re_exact_units(int32_t len) { return 1 + (len + 3) / 4; }
// The node just after a node without variable-length data.
inline re_program_node* re_after(re_program_node* n) { return n + 1 + re_arg_units[n->type]; }

// Flags byte of a greedy STAR, PLUS or CURLY whose tries of the rest after
// the first one all fail at once (set by the optimiser; RE_NO_FLAGS
// otherwise): 0xA0, the cost of each such try in units of work (low four
// bits), and RE_GIVE_BACK_LOOP when that holds only while the enclosing
// general repeat is below its minimum.
constexpr uint8_t RE_GIVE_BACK = 0xA0;
constexpr uint8_t RE_GIVE_BACK_LOOP = 0x10;
inline uint8_t re_give_back_flags(int32_t cost, bool loop)
{
    return static_cast<uint8_t>(RE_GIVE_BACK | (loop ? RE_GIVE_BACK_LOOP : 0) | cost);
}
inline bool re_gives_back_nothing(uint8_t flags) { return (flags & 0xE0) == RE_GIVE_BACK; }

// ---- class nodes ------------------------------------------------------------

enum : uint8_t {
    RE_CLASS_LOCALE = 0x1,  // membership by the locale's classes at match time
    RE_CLASS_FOLD = 0x2,    // a byte matches when its case partner does
    RE_CLASS_INVERT = 0x4,  // written with "^"
    RE_CLASS_NAMED = 0x8,   // the POSIX-class word follows the bitmap
    RE_CLASS_EOS = 0x10,    // start class only: the pattern may match empty at the end
};
constexpr int32_t RE_BITMAP_UNITS = 8;

// ANYOF node, and the start-class form (always with the class word).
struct re_class_node {
    uint8_t flags;
    uint8_t type;
    uint16_t next;
    uint8_t bitmap[32];     // bit c of byte c / 8: byte value c is a member
    uint8_t classes[4];     // POSIX-class bits, numbered as re_class_names
};
static_assert(sizeof(re_class_node) == 40);

// The 30 POSIX-class numbers; the odd ones are the negations.
enum : int32_t {
#define RE_POSIX(name, shown, shown_negated, word, property) RE_CC_##name, RE_CC_N##name,
#include "prxregposix.def"
#undef RE_POSIX
    RE_CC_COUNT
};
static_assert(RE_CC_COUNT == 30, "15 named classes and their negations");
extern const char* const re_class_names[RE_CC_COUNT];

inline bool re_bitmap_test(const uint8_t* map, uint8_t c) { return (map[c >> 3] >> (c & 7)) & 1; }
inline void re_bitmap_set(uint8_t* map, uint8_t c) { map[c >> 3] |= static_cast<uint8_t>(1u << (c & 7)); }
inline bool re_class_bit(const re_class_node* n, int32_t cc) { return (n->classes[cc >> 3] >> (cc & 7)) & 1; }

// Whether byte c belongs to POSIX class cc (an odd number is the negation
// of the even one before it), by the host's class table. A byte class
// without locale takes its members from this test when it is compiled; a
// locale class asks it at match time (re_in_class), where the letter,
// digit, word and punctuation classes hold only below 0x80, while ascii,
// xdigit, space and blank test every byte. The digit class holds only
// below 0x80 in both: its members are the ASCII digits.
inline bool re_named_class_holds(int32_t cc, uint32_t c, bool locale)
{
    uint8_t t = host_cclass(c);
    bool a = c < 0x80 || !locale;
    bool holds;
    switch (cc & ~1) {
    case RE_CC_WORD: holds = a && ((t & HC_ALNUM) || c == '_'); break;
    case RE_CC_SPACE: holds = a && (t & HC_SPACE); break;
    case RE_CC_DIGIT: holds = c < 0x80 && (t & HC_DIGIT); break;
    case RE_CC_ALNUM: holds = a && (t & HC_ALNUM); break;
    case RE_CC_ALPHA: holds = a && (t & HC_ALPHA); break;
    case RE_CC_ASCII: holds = c < 0x80; break;
    case RE_CC_CNTRL: holds = a && (t & HC_CNTRL); break;
    case RE_CC_GRAPH: holds = a && (t & HC_GRAPH); break;
    case RE_CC_LOWER: holds = a && (t & HC_LOWER); break;
    case RE_CC_PRINT: holds = a && (t & HC_PRINT); break;
    case RE_CC_PUNCT: holds = a && (t & HC_PUNCT); break;
    case RE_CC_UPPER: holds = a && (t & HC_UPPER); break;
    case RE_CC_XDIGIT: holds = t & HC_XDIGIT; break;
    case RE_CC_PSXSPC: holds = (t & HC_SPACE) || c == 11; break;
    case RE_CC_BLANK: holds = c == 9 || c == 32; break;
    default: holds = false; break;
    }
    return (cc & 1) ? !holds : holds;
}

// ---- compiled-pattern parts ---------------------------------------------------

// Analysis flags (re_compiled::analysis_flags).
enum : uint32_t {
    REA_BOL = 0x1,                // leading BOL
    REA_MBOL = 0x2,               // leading MBOL, or implicit leading .* without /s
    REA_SBOL = 0x4,               // leading SBOL, or implicit leading .* under /s
    REA_GPOS = 0x8,               // starts with \G
    REA_ANCH = 0xF,
    REA_SKIP = 0x10,              // first element is a repeat of a simple node ("plus")
    REA_IMPLICIT = 0x20,          // the anchor comes from a leading .*
    REA_NOSCAN = 0x40,            // anchored check substring of an SBOL/GPOS pattern
    REA_GPOS_SEEN = 0x80,         // \G somewhere
    REA_CHECK_ALL = 0x100,        // the check substring is the whole match ("isall")
    REA_LOOKBEHIND_SEEN = 0x200,  // lookbehind, \b or \B somewhere
    REA_EVAL_SEEN = 0x400,        // a code block (never set)
    REA_PM_MASK = 0xF800,         // the op's locale, /m, /s, /i, /x bits
    REA_UTF8 = 0x10000,           // pattern text is UTF-8
    REA_NAUGHTY = 0x20000,        // complexity 10 or more
    REA_COPY_DONE = 0x40000,      // the pattern owns its subject copy
    REA_TAINTED = 0x80000,        // the last match ran a locale-dependent test
    REA_USE_GUESS = 0x100000,     // run the start-position finder
    REA_GUESS_ALL = 0x200000,     // set together with REA_USE_GUESS
    REA_CHECK_TAIL = 0x8000000,   // the check substring carries the tail mark
};
constexpr uint32_t REA_USE_FINDER = REA_USE_GUESS | REA_GUESS_ALL;

// Pattern flag word bits (the pattern op's flags, and the compile flags).
enum : uint32_t {
    PMf_KEEP = 0x0080,
    PMf_GLOBAL = 0x0100,
    PMf_CONTINUE = 0x0200,
    PMf_LOCALE = 0x0800,
    PMf_MULTILINE = 0x1000,
    PMf_SINGLELINE = 0x2000,
    PMf_FOLD = 0x4000,
    PMf_EXTENDED = 0x8000,
};

// One substring of the optimiser: anchored, floating or check.
struct re_substr_info {
    int32_t min_offset;
    int32_t max_offset;   // not used for the anchored substring
    SV* substr;           // prepared for fast search; null when missing
};
enum { RE_SUBSTR_ANCHORED = 0, RE_SUBSTR_FLOATING = 1, RE_SUBSTR_CHECK = 2 };

// Data array of a pattern. Codes: 's' a value (released), 'f' a start-class
// copy (freed), 'p' a pad, 'o' an op tree, 'n' nothing owned.
struct re_data_array {
    uint32_t count;
    char* what;           // count code letters (pool block)
    void* data[1];        // count entries
};

// A set of literals of which every match holds one, at an offset from its
// start within one window. Built for an alternation of literals, each
// alternative perhaps led by single characters and bounded repeats of
// them, as in .{0,2}(ab|cd); the driver looks for the literals and tries
// only the starts that a hit allows.
constexpr int32_t RE_SET_LITERALS = 8;  // most literals a set holds
constexpr int32_t RE_SET_WINDOW = 255;  // widest offset a set allows
struct re_set_literal {
    int32_t text;            // offset of its bytes in re_accel::text
    int32_t length;          // bytes, at least 1
    int32_t o1, o2;          // offsets of the two bytes looked for first
    uint8_t a1, a2, b1, b2;  // the bytes there: either case of each when folded
    uint8_t fold;            // compared case-blind by the fold table
};

// Search aids that the optimiser chooses once, kept with the compiled
// pattern (re_compiled::accel, a pool block it owns).
struct re_accel {
    int32_t class_o1, class_o2;  // rarest pair of a case-blind literal start class
    ByteRanges class_ranges;     // a plain bracket start class as ranges; count 0 for none
    int32_t set_count;           // literals in the set; 0 for none
    int32_t set_min, set_max;    // the window of their offsets from the start
    int32_t set_reach;           // largest o1 or o2 of the set
    re_set_literal set[RE_SET_LITERALS];
    char text[1];                // the literals' bytes
};

// What the driver hands the finder: its last-position and study cells,
// and the beginning of the subject, which the finder cannot tell without a
// subject value.
struct re_guess_data {
    const char** last_position;
    int32_t* study_iterator;
    const char* subject_begin;
};

// Frame of one open general repeat (CURLYX), in the activation that runs it.
struct re_loop_frame {
    int32_t paren_floor;      // groups above it are saved around each attempt
    int32_t count;            // repetitions so far; -1 at creation
    int32_t min;
    int32_t max;
    int32_t minimal;          // 1 for a minimal repeat
    re_program_node* body;
    re_program_node* continuation;
    const char* last_position;
    re_loop_frame* outer;
};

// Match-driver flags (re_exec).
enum : uint32_t {
    REXEC_COPY = 0x01,        // keep a private copy of the subject on success
    REXEC_CHECKED = 0x02,     // the finder already ran
    REXEC_STUDIED = 0x04,     // the subject carries study tables
    REXEC_IGNORE_POS = 0x08,  // \G is the start, not the pos magic
    REXEC_NOT_FIRST = 0x10,   // a repeated match: keep the recorded subject
};

// Match flags (re_match_flags).
enum : uint32_t {
    RF_TAINTED = 0x1,
    RF_WARNED = 0x2,
    RF_UTF8 = 0x8,
};

// Hook types.
typedef re_compiled* (*re_compile_fn)(PERLGCB* gcb, const char* start, const char* end, op_pattern* pm);
typedef int32_t (*re_exec_fn)(PERLGCB* gcb, re_compiled* rx, const char* start, const char* end, const char* begin,
                              int32_t min_end, SV* subject, void* data, uint32_t flags);
typedef const char* (*re_guess_fn)(PERLGCB* gcb, re_compiled* rx, SV* subject, const char* start, const char* end,
                                   uint32_t flags, re_guess_data* data);
typedef SV* (*re_check_fn)(PERLGCB* gcb, re_compiled* rx);
typedef void (*re_free_fn)(PERLGCB* gcb, re_compiled* rx);

// ---- shared helpers -----------------------------------------------------------

// The successor of a node, or null.
re_program_node* re_next_node(PERLGCB* gcb, re_program_node* node);
// The same for a node of a finished program (never the size pass's node).
inline re_program_node* re_next_in_program(re_program_node* p)
{
    int32_t offset = re_next_in_arg[p->type] ? static_cast<int32_t>(re_arg(p)) : p->next;
    return offset == 0 ? nullptr : p + offset;
}
// Points the five engine hooks of the interpreter at this engine.
void re_install_hooks(PERLGCB* gcb);

// ---- compiler -------------------------------------------------------------------

re_compiled* re_compile_pattern(PERLGCB* gcb, const char* start, const char* end, op_pattern* pm);
// Appends n entries with the n code letters to the pattern under
// construction's data array; returns the index of the first.
uint32_t re_data_append(PERLGCB* gcb, int32_t n, const char* codes);
// Saves every field of the compile and match state on the save stack.
void re_save_match_state(PERLGCB* gcb);
// Letter of a pattern modifier into the flag word (i m s x o g c).
void pattern_flag_add(PERLGCB* gcb, uint16_t* flags, int32_t letter);

// ---- optimiser --------------------------------------------------------------------

SV* re_check_substr(PERLGCB* gcb, re_compiled* rx);
// Frees the optimiser's literal buffers that a failed run left behind.
void re_opt_free_scratch(PERLGCB* gcb);

// ---- freeing and debug output --------------------------------------------------------

void pregfree(PERLGCB* gcb, re_compiled* rx);
void re_free_on_unwind(PERLGCB* gcb, void* rx);
void re_init_colors(PERLGCB* gcb);
// The engine's trace is on while bit 0x200 of the debug option word is set.
inline bool re_debug_on(PERLGCB* gcb) { return gcb->debug_flags & 0x200; }
// Trace colour i; empty until the colours are read.
inline const char* re_colour(PERLGCB* gcb, int i) { return gcb->re_colours[i] ? gcb->re_colours[i] : ""; }
// Sets text to the description of a node.
void re_describe_node(PERLGCB* gcb, SV* text, re_program_node* node);
// Prints nodes from node up to last (or to the end of the chain when last
// is null) at the given level; returns the node after the last printed.
re_program_node* re_dump_range(PERLGCB* gcb, re_program_node* start, re_program_node* node, re_program_node* last,
                               SV* text, int32_t level);

// ---- matcher -------------------------------------------------------------------------

int32_t re_exec(PERLGCB* gcb, re_compiled* rx, const char* start, const char* end, const char* begin, int32_t min_end,
                SV* subject, void* data, uint32_t flags);
int32_t re_exec_nocopy(PERLGCB* gcb, re_compiled* rx, const char* start, const char* end, const char* begin,
                       int32_t min_end, SV* subject, int32_t nocopy);
const char* re_guess_start(PERLGCB* gcb, re_compiled* rx, SV* subject, const char* start, const char* end,
                           uint32_t flags, re_guess_data* data);
int32_t re_try_at(PERLGCB* gcb, re_compiled* rx, const char* position);
const char* re_scan_start_class(PERLGCB* gcb, re_compiled* rx, re_program_node* cls, const char* from,
                                const char* to, const char* strbeg, int32_t check_only);
int32_t re_match_nodes(PERLGCB* gcb, re_program_node* node);
// Frees the buffers the engine keeps in the interpreter from one compile or
// match to the next (backtracking stack, group starts, super-linear cache,
// the optimiser's scratch); the interpreter's destruction calls it.
void re_free_work_buffers(PERLGCB* gcb);
int32_t re_count_simple(PERLGCB* gcb, re_program_node* body, int32_t max);
int32_t re_count_general(PERLGCB* gcb, re_program_node* body, int32_t max, int32_t* length);
// Takes units of work from the match's budget; past it, the guard trips.
void re_spend_work(PERLGCB* gcb, int64_t units);
int32_t re_in_class(PERLGCB* gcb, const re_class_node* node, uint8_t c);
int32_t re_in_class_utf8(PERLGCB* gcb, re_program_node* node, const uint8_t* p);
int32_t re_save_captures(PERLGCB* gcb, int32_t floor);
int32_t re_save_all_captures(PERLGCB* gcb);
const char* re_restore_captures(PERLGCB* gcb);
void re_restore_captures_to(PERLGCB* gcb, int32_t index);
void re_restore_saved_position(PERLGCB* gcb, void* ignored);
const char* re_step_chars(PERLGCB* gcb, const char* p, int32_t n);
const char* re_step_chars_or_fail(PERLGCB* gcb, const char* p, int32_t n);

// ---- backtracking guard -----------------------------------------------------------

// The nesting counter of the current thread.
int32_t* re_depth_counter();
