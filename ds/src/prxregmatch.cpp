// The matcher: the node-program interpreter with its repeat nodes, the
// repeat counters, class tests, capture save and restore, the backtracking
// guard, and the matcher's trace.
//
// The interpreter works in continuation-passing style: an activation of
// re_match_nodes matches its node chain to the very end of the program (END,
// or the SUCCEED that closes a lookaround or counted body), and a 1 from a
// nested call means "everything after this point matched", so a success
// returns straight up through every activation. Only repeats, lookaround
// and the repetitions of a general repeat recurse; the alternatives of a
// branch are tried in the same activation through records on the
// backtracking stack. What a failed try changed (the input position, the
// capture offsets, the repeat counts) is put back by whoever made the try,
// before it tries something else.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxregcomp.h"
#include "prxregmatch.h"
#include "prxsearch.h"
#include "prxuni.h"
#include "prxutf8.h"

// ---- backtracking guard ----------------------------------------------------------------
//
// Two limits keep a hostile pattern from hanging or overflowing the host:
// the depth guard counts the activations of re_match_nodes open on this
// thread (at most RE_DEPTH_LIMIT), and the work budget counts the units a
// match has spent (re_work_left, set by the driver from the subject length).
// A thread whose native stack runs out before the depth limit (a host task
// may have 1 MB, and sanitizer builds have large frames) trips the depth
// guard early, at the stack floor the driver set for this thread: to the
// caller it is the same condition. Every trip ends in guard_trip: fatal_error with the error number 1100,
// the guard's mark, so that fatal_error runs no die handler, clears the mark
// and jumps with code 4 to the environment that the match driver set around
// the attempts. The driver gives back the nesting counter, the backtracking
// stack and the outer budget and passes code 4 on; the bridge's match entry
// returns 4 for it, and the host reports catastrophic backtracking.
//
// The nesting counter belongs to the thread: host tasks may match on several
// threads at once. The match driver restores it on every way out of a match,
// so a panic that abandons activations leaves no depth behind.

namespace {
constinit thread_local int32_t re_depth_guard = 0;
}

int32_t* re_depth_counter() { return &re_depth_guard; }

namespace {

// ---- the backtracking stack ------------------------------------------------------------
//
// Capture saves and alternative records live on a stack of 8-byte slots of
// the interpreter, addressed by index so that growth may move it: nothing
// keeps a pointer into the stack across a push. A record is pushed slot by
// slot after one bt_reserve for all of it (the push helpers do not check
// room), and dropped by lowering the index to the level it was pushed at
// (bt_unwind); records above that level, of tries that are over, go with
// it. The stack belongs to the interpreter and is reused by every match;
// the driver puts the index back to where the match found it.
//
// Two kinds of record share it. A capture save (re_save_captures) holds the
// offsets of the groups a try may change, with its size and its kind
// CAPTURE_CONTEXT in the two top slots so that it can be popped without
// knowing its size. An alternative record (re_unwind_record) is the open
// choice of a BRANCH; the records of one activation are chained through
// UR_PREVIOUS, innermost first, and the activation keeps the index of the
// innermost in its local `unwind`.

constexpr int64_t CAPTURE_CONTEXT = 21;  // kind slot of a capture save
constexpr int64_t UNWIND_BRANCH = 1;     // alternative record of BRANCH
constexpr int64_t UNWIND_BRANCHJ = 2;    // alternative record of BRANCHJ

// re_unwind_record: one open choice among branch alternatives, as slots of
// the stack in this order.
enum re_unwind_record : int32_t {
    UR_KIND,              // UNWIND_BRANCH or UNWIND_BRANCHJ
    UR_PREVIOUS,          // index of the record innermost before, -1 for none
    UR_LEVEL,             // stack index just after the record
    UR_LAST_GROUP,        // the last-group value when it was made
    UR_NEXT_ALTERNATIVE,  // the alternative to try next, or null
    UR_INPUT,             // where every alternative starts
    UR_NEXT_CHAR,         // unused: the byte is read again at the input
    UR_INDENT,            // trace nesting level to restore
    UNWIND_SLOTS
};

// Room for n more slots; growth doubles and moves the stack (a failure
// takes the pool funnel's no-memory way out).
void bt_reserve(PERLGCB* gcb, int32_t n)
{
    if (gcb->re_bt_ix + n <= gcb->re_bt_max)
        return;
    int64_t cap = gcb->re_bt_max ? gcb->re_bt_max : 256;
    while (cap < static_cast<int64_t>(gcb->re_bt_ix) + n)
        cap *= 2;
    gcb->re_bt = static_cast<uint64_t*>(pool_realloc(gcb, gcb->re_bt, static_cast<uint64_t>(cap) * sizeof(uint64_t)));
    gcb->re_bt_max = static_cast<int32_t>(cap);
}

}  // namespace

void re_free_work_buffers(PERLGCB* gcb)
{
    pool_free(gcb, gcb->re_bt);
    gcb->re_bt = nullptr;
    gcb->re_bt_ix = gcb->re_bt_max = 0;
    pool_free(gcb, const_cast<char**>(gcb->re_open_at));
    gcb->re_open_at = nullptr;
    gcb->re_open_at_size = 0;
    pool_free(gcb, gcb->re_position_cache);
    gcb->re_position_cache = nullptr;
    gcb->re_position_cache_size = 0;
    re_opt_free_scratch(gcb);
}

namespace {

inline void push_i(PERLGCB* gcb, int64_t v) { gcb->re_bt[gcb->re_bt_ix++] = static_cast<uint64_t>(v); }
inline void push_p(PERLGCB* gcb, const void* p) { gcb->re_bt[gcb->re_bt_ix++] = reinterpret_cast<uintptr_t>(p); }
inline int64_t pop_i(PERLGCB* gcb) { return static_cast<int64_t>(gcb->re_bt[--gcb->re_bt_ix]); }
inline const char* pop_p(PERLGCB* gcb) { return reinterpret_cast<const char*>(gcb->re_bt[--gcb->re_bt_ix]); }

// Drops every record pushed at or above level; never raises the index.
inline void bt_unwind(PERLGCB* gcb, int32_t level)
{
    if (gcb->re_bt_ix > level)
        gcb->re_bt_ix = level;
}

// ---- trace -----------------------------------------------------------------------------
//
// Written only while the trace is on, to standard output. Everything here is
// out of line and cold, and only the traced copy of the node loop calls it:
// the loop of a match without the trace carries none of it.

// Characters of the subject shown on each side of the position; more when
// the colours, not the "> <" mark, set the position apart.
constexpr int32_t TRACE_WINDOW = 7;
constexpr int32_t TRACE_WINDOW_COLOURED = 10;
// Column of the count lines of the repeat counters.
constexpr int32_t TRACE_COUNT_COLUMN = 25;

inline bool trace_coloured(PERLGCB* gcb) { return *re_colour(gcb, 0) != 0; }

// Column after which the remarks of the current nesting level start: the
// column of the node descriptions in the node lines (offset, window and
// node number come first, then two blanks per level).
int32_t trace_margin(PERLGCB* gcb)
{
    return 2 * (trace_coloured(gcb) ? TRACE_WINDOW_COLOURED : TRACE_WINDOW) + 15 + 2 * gcb->re_indent;
}

[[gnu::cold, gnu::noinline]] void say(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    prx_vfprintf(PRX_STDOUT, fmt, &ap);
    va_end(ap);
}

// The description of a node as the program dump gives it, its classes
// looked up in the data array of the pattern in use.
void describe(PERLGCB* gcb, char* out, size_t size, re_program_node* node)
{
    if (node->type >= RE_NODE_COUNT) {
        out[0] = 0;  // the dispatch reports the corruption
        return;
    }
    re_data_array* saved = gcb->re_data_in_use;
    gcb->re_data_in_use = gcb->re_data;
    re_describe_to(gcb, out, size, node);
    gcb->re_data_in_use = saved;
}

// The line of a node visited at pos: the offset, the subject around the
// position (what lies before this attempt's start, what lies between it and
// the position, and what follows), the node number, the nesting and the
// node. Control bytes of the subject show as '.', so that each node keeps
// one line whatever the subject holds.
[[gnu::cold, gnu::noinline]] void trace_node(PERLGCB* gcb, re_program_node* node, const char* pos)
{
    const char* begin = gcb->re_subject_begin;
    const char* end = gcb->re_subject_end;
    const bool coloured = trace_coloured(gcb);
    const int32_t width = coloured ? TRACE_WINDOW_COLOURED : TRACE_WINDOW;
    const bool utf8 = re_utf8_mode(gcb);
    const char* left = pos;
    int32_t before = 0;
    while (before < width && left > begin) {
        left = utf8 ? re_step_chars(gcb, left, -1) : left - 1;
        before++;
    }
    const char* right = pos;
    int32_t after = 0;
    while (after < width && right < end) {
        right += utf8 ? re_char_skip(gcb, right) : 1;
        after++;
    }
    if (right > end)
        right = end;
    // A copy of the window: the formatter reads its texts up to a NUL.
    char text[2 * TRACE_WINDOW_COLOURED * 16 + 1];
    int32_t head_len = static_cast<int32_t>(pos - left);
    int32_t tail_len = static_cast<int32_t>(right - pos);
    constexpr int32_t HALF = static_cast<int32_t>(sizeof text / 2);
    if (head_len > HALF) {
        left = pos - HALF;
        head_len = HALF;
    }
    if (tail_len > HALF)
        tail_len = HALF;
    for (int32_t i = 0; i < head_len + tail_len; i++) {
        uint8_t c = static_cast<uint8_t>(left[i]);
        text[i] = c < 0x20 || c == 0x7F ? '.' : static_cast<char>(c);
    }
    text[head_len + tail_len] = 0;
    // The part before the attempt's start.
    uintptr_t at = reinterpret_cast<uintptr_t>(gcb->re_attempt_start);
    int32_t outside = at > reinterpret_cast<uintptr_t>(left) && at <= reinterpret_cast<uintptr_t>(pos)
                          ? static_cast<int32_t>(at - reinterpret_cast<uintptr_t>(left))
                          : 0;
    char desc[2048];
    describe(gcb, desc, sizeof desc, node);
    int64_t number = gcb->re_program ? static_cast<int64_t>(node - gcb->re_program) : 0;
    say("%4lld <%s%.*s%s%s%.*s%s%s%s%.*s%s>%*s|%3lld:%*s%s\n", static_cast<int64_t>(pos - begin), re_colour(gcb, 4),
        outside, text, re_colour(gcb, 5), re_colour(gcb, 2), head_len - outside, text + outside, re_colour(gcb, 3),
        coloured ? "" : "> <", re_colour(gcb, 0), tail_len, text + head_len, re_colour(gcb, 1),
        2 * width - before - after + (coloured ? 3 : 0), "", number, 2 * gcb->re_indent, "", desc);
}

// The count line of the simple repeat counter.
[[gnu::cold, gnu::noinline]] void trace_count(PERLGCB* gcb, re_program_node* body, int32_t count, int32_t max)
{
    char desc[2048];
    describe(gcb, desc, sizeof desc, body);
    say("%*s  %s can match %lld times out of %lld...\n", TRACE_COUNT_COLUMN, "", desc, static_cast<int64_t>(count),
        static_cast<int64_t>(max));
}

// A scope of the repeats: opened at the current level of the stack, and
// unwound to it, with the trace lines when trace.
inline int32_t scope_set(PERLGCB* gcb, bool trace)
{
    int32_t level = gcb->re_bt_ix;
    if (trace)
        re_trace_scope_set(gcb, level);
    return level;
}
inline void scope_unwind(PERLGCB* gcb, int32_t level, bool trace)
{
    if (trace && gcb->re_bt_ix != level)
        re_trace_scope_clear(gcb, level, gcb->re_bt_ix);
    bt_unwind(gcb, level);
}

}  // namespace

[[gnu::cold, gnu::noinline]] void re_trace_scope_set([[maybe_unused]] PERLGCB* gcb, int32_t level)
{
    say("  Setting an EVAL scope, savestack=%lld\n", static_cast<int64_t>(level));
}

[[gnu::cold, gnu::noinline]] void re_trace_scope_clear([[maybe_unused]] PERLGCB* gcb, int32_t level, int32_t top)
{
    say("  Clearing an EVAL scope, savestack=%lld..%lld\n", static_cast<int64_t>(level), static_cast<int64_t>(top));
}

// ---- class tests ---------------------------------------------------------------------
//
// The general tests behind ANYOF and ANYOFUTF8 nodes whose flags ask for
// more than a bitmap or table look-up; re_class_accepts_op (prxregmatch.h)
// calls them, so the matcher, the repeat counter and the start-class scan
// share them. Each step of the test may only add members; the invert flag
// applies to the outcome of all of them. A test whose answer depends on the
// locale (the fold of a locale class, any named class) taints the match,
// even when it answers no: the driver carries the taint to the pattern.

int32_t re_in_class(PERLGCB* gcb, const re_class_node* node, uint8_t c)
{
    uint8_t flags = node->flags;
    bool match = re_bitmap_test(node->bitmap, c);
    if (!match && (flags & RE_CLASS_FOLD)) {
        if (flags & RE_CLASS_LOCALE)
            gcb->re_match_flags |= RF_TAINTED;
        match = re_bitmap_test(node->bitmap, gcb->fold_table[c]);
    }
    // Under locale the named classes of a bracket ([:alpha:], \w) stay
    // symbolic: bits of the node's class word, tested one by one here by
    // the host's tables, since the bitmap was built without the locale.
    if (!match && (flags & RE_CLASS_NAMED)) {
        gcb->re_match_flags |= RF_TAINTED;
        for (int32_t cc = 0; cc < RE_CC_COUNT && !match; cc++)
            match = re_class_bit(node, cc) && re_named_class_holds(cc, c, true);
    }
    return ((flags & RE_CLASS_INVERT) ? !match : match) ? 1 : 0;
}

int32_t re_in_class_utf8(PERLGCB* gcb, re_program_node* node, const uint8_t* at)
{
    // A stray byte is tested as U+FFFD, so the swash never reads past the
    // subject's end.
    uint8_t whole[4];
    const uint8_t* p = re_whole_char(reinterpret_cast<const char*>(at), gcb->re_subject_end, whole);
    // The argument: class flags in the low half, the swash's index in the
    // pattern's data array in the high half.
    uint32_t arg = re_arg(node);
    uint8_t flags = static_cast<uint8_t>(arg & 0xFF);
    SV* swash = static_cast<SV*>(gcb->re_data->data[arg >> 16]);
    bool match = swash_fetch(gcb, swash, p) != 0;
    // Case-blind: a character whose lower-case form is in the swash is a
    // member; under locale the host's case table lowers the bytes.
    if (!match && (flags & RE_CLASS_FOLD)) {
        uint8_t buf[16];
        uint64_t lower;
        if (flags & RE_CLASS_LOCALE) {
            gcb->re_match_flags |= RF_TAINTED;
            uint32_t c = re_decode_whole(gcb, p);
            lower = c < 256 ? g_host_vector->lower[c] : uni_to_lower(gcb, c);
        } else
            lower = utf8_to_lower(gcb, p);
        utf8_encode(gcb, buf, lower);
        match = swash_fetch(gcb, swash, buf) != 0;
    }
    return ((flags & RE_CLASS_INVERT) ? !match : match) ? 1 : 0;
}

// ---- capture offsets -------------------------------------------------------------------
//
// A group's capture is two offsets from the subject's start, re_starts[g]
// and re_ends[g]; an end of -1 marks a group that is not set. OPEN only
// notes the tentative start (re_open_at[g]) and raises re_open_high; CLOSE
// writes both offsets and raises the last group (*re_last_group), the
// highest group closed. Groups above the last group count as unset (REF
// and GROUPP test it first), so a failed alternative's closes are undone by
// dropping the ends above the last group of its record and lowering the
// last group back (the failure step of match_body).
//
// That is not enough where a try re-closes groups that are already set: a
// repetition of a general repeat closes its body's groups over those of the
// repetition before. Such a try saves the groups above the loop's floor
// first (try_keeping_captures), and restores them when it fails. The save
// holds, from the bottom, four slots per group from re_open_high down to
// floor + 1 (end, start, open position, number), then re_open_high, the
// last group, the input position, the slot count below the top (4n + 3)
// and the kind. A restore pops it and so puts the try's groups back as they
// were; say_restoring reads the same layout.

// Pushes one capture save of the groups above floor; returns the stack
// index from before it, the level to unwind to when the try succeeds and
// the save is no longer needed.
int32_t re_save_captures(PERLGCB* gcb, int32_t floor)
{
    int32_t before = gcb->re_bt_ix;
    int32_t n = gcb->re_open_high - floor;
    if (n < 0)
        n = 0;
    bt_reserve(gcb, 4 * n + 5);
    for (int32_t g = gcb->re_open_high; g > floor; g--) {
        push_i(gcb, gcb->re_ends[g]);
        push_i(gcb, gcb->re_starts[g]);
        push_p(gcb, gcb->re_open_at[g]);
        push_i(gcb, g);
    }
    push_i(gcb, gcb->re_open_high);
    push_i(gcb, *gcb->re_last_group);
    push_p(gcb, gcb->re_input);
    push_i(gcb, 4 * n + 3);
    push_i(gcb, CAPTURE_CONTEXT);
    return before;
}

int32_t re_save_all_captures(PERLGCB* gcb) { return re_save_captures(gcb, 0); }

namespace {

// The lines of a restore, read from the capture save on top of the stack
// before restore_captures pops it: per group its number, start, open
// position and end ("(no)" when the end is dropped), then the groups that
// are cleared. Must stay in step with the layout of re_save_captures.
[[gnu::cold, gnu::noinline]] void say_restoring(PERLGCB* gcb)
{
    const uint64_t* p = gcb->re_bt + gcb->re_bt_ix;
    int64_t k = static_cast<int64_t>(p[-2]);
    uint32_t last = static_cast<uint32_t>(p[-4]);
    // The open position may be left from an earlier attempt or match: its
    // offset is only printed, so it is taken without pointer arithmetic.
    uintptr_t begin = reinterpret_cast<uintptr_t>(gcb->re_subject_begin);
    p -= 5;
    for (k -= 3; k > 0; k -= 4, p -= 4) {
        uint32_t g = static_cast<uint32_t>(p[-1]);
        say("     restoring \\%lu to %ld(%ld)..%ld%s\n", g, static_cast<int32_t>(p[-3]),
            static_cast<int32_t>(static_cast<uintptr_t>(p[-2]) - begin), static_cast<int32_t>(p[-4]),
            g > last ? "(no)" : "");
    }
    if (last + 1 <= gcb->re_group_count)
        say("     restoring \\%ld..\\%ld to undef\n", static_cast<int32_t>(last + 1),
            static_cast<int32_t>(gcb->re_group_count));
}

// Pops one capture save; the input position it held is returned. Every
// group above the restored last group ends unset: one that the save holds
// gets its start back but not its end, and one above the restored
// re_open_high loses its start too.
const char* restore_captures(PERLGCB* gcb)
{
    pop_i(gcb);  // kind
    int64_t k = pop_i(gcb);
    const char* input = pop_p(gcb);
    *gcb->re_last_group = static_cast<uint32_t>(pop_i(gcb));
    gcb->re_open_high = static_cast<int32_t>(pop_i(gcb));
    uint32_t last = *gcb->re_last_group;
    for (k -= 3; k > 0; k -= 4) {
        uint32_t g = static_cast<uint32_t>(pop_i(gcb));
        gcb->re_open_at[g] = pop_p(gcb);
        gcb->re_starts[g] = static_cast<int32_t>(pop_i(gcb));
        int32_t e = static_cast<int32_t>(pop_i(gcb));
        if (g <= last)
            gcb->re_ends[g] = e;
    }
    for (uint32_t g = last + 1; g <= gcb->re_group_count; g++) {
        if (static_cast<int32_t>(g) > gcb->re_open_high)
            gcb->re_starts[g] = -1;
        gcb->re_ends[g] = -1;
    }
    return input;
}

}  // namespace

// The traced form of restore_captures, for callers outside the matcher.
const char* re_restore_captures(PERLGCB* gcb)
{
    if (re_debug_on(gcb)) [[unlikely]]
        say_restoring(gcb);
    return restore_captures(gcb);
}

// Restores the groups from the capture save whose top ends at index,
// leaving both that save and everything pushed above it in place: the
// caller still owns them. The input position is left as it is.
void re_restore_captures_to(PERLGCB* gcb, int32_t index)
{
    int32_t saved = gcb->re_bt_ix;
    gcb->re_bt_ix = index;
    const char* input = gcb->re_input;
    restore_captures(gcb);
    gcb->re_input = input;
    gcb->re_bt_ix = saved;
}

// Scope-exit routine of the eval set-up of a try; registered by the driver.
void re_restore_saved_position(PERLGCB* gcb, void*)
{
    // The eval set-up is never made: no pattern of this engine holds code.
    gcb->re_eval_set = 0;
}

namespace {

// Moves p by n UTF-8 characters (back when n < 0). At an end of the subject
// the move stops there, or, when FAIL, gives null.
template <bool FAIL>
const char* step_chars(PERLGCB* gcb, const char* p, int32_t n)
{
    const char* const begin = gcb->re_subject_begin;
    const char* const end = gcb->re_subject_end;
    if (n >= 0) {
        while (n-- > 0) {
            if (p >= end)
                return FAIL ? nullptr : p;
            p += re_char_len(p, end);
        }
        return p;
    }
    while (n++ < 0) {
        if (p <= begin)
            return FAIL ? nullptr : p;
        p = re_char_before(p, begin, end);
    }
    return p;
}

// The zero-width nodes: the anchors, \G and the word boundaries.
inline bool zero_width(const re_program_node* node)
{
    uint8_t k = re_kind(node);
    return k == RE_BOL || k == RE_EOL || k == RE_BOUND || k == RE_NBOUND || k == RE_GPOS;
}

// Whether the zero-width node holds at locinput. The one test of these
// nodes, for the node loop and for a repeat whose body is one of them.
// re_prev_char is the byte before the search start ('\n' when the search
// starts at the subject's start; a newline before a later start counts only
// under the multi-line flag): the line anchors read it at the subject's
// start, the word boundaries at the search start.
inline bool assertion_holds(PERLGCB* gcb, const re_program_node* scan, const char* locinput)
{
    const char* const end = gcb->re_subject_end;
    const char* const subject_begin = gcb->re_subject_begin;
    switch (scan->type) {
    // ^ without /m holds inside the subject only under the multi-line flag,
    // and never after a newline that ends the subject.
    case RE_BOL:
        return locinput == subject_begin ? gcb->re_prev_char == '\n'
                                         : (gcb->multiline && locinput < end && locinput[-1] == '\n');
    case RE_MBOL:
        return locinput == subject_begin ? gcb->re_prev_char == '\n' : (locinput < end && locinput[-1] == '\n');
    case RE_SBOL:
        return locinput == subject_begin;
    case RE_GPOS:
        return locinput == gcb->re_g_anchor;
    // $ and \Z: the end, or a newline that is the subject's last byte.
    case RE_EOL:
        if (gcb->multiline)
            return !(locinput < end && *locinput != '\n');
        [[fallthrough]];
    case RE_SEOL:
        return !(locinput < end && *locinput != '\n') && end - locinput <= 1;
    case RE_MEOL:
        return !(locinput < end && *locinput != '\n');
    case RE_EOS:
        return locinput == end;
    case RE_BOUNDL:
    case RE_NBOUNDL:
        gcb->re_match_flags |= RF_TAINTED;
        [[fallthrough]];
    case RE_BOUND:
    case RE_NBOUND: {
        // The end of the subject is a non-word position on the right.
        uint32_t ln = locinput != gcb->re_search_start ? static_cast<uint8_t>(locinput[-1]) : gcb->re_prev_char;
        uint32_t nc = locinput < end ? static_cast<uint8_t>(*locinput) : 0;
        bool a, b;
        if (scan->type == RE_BOUND || scan->type == RE_NBOUND) {
            a = re_is_word(ln);
            b = locinput < end && re_is_word(nc);
        } else {
            a = re_is_word_lc(ln);
            b = locinput < end && re_is_word_lc(nc);
        }
        return (a != b) == (scan->type == RE_BOUND || scan->type == RE_BOUNDL);
    }
    case RE_BOUNDLUTF8:
    case RE_NBOUNDLUTF8:
        gcb->re_match_flags |= RF_TAINTED;
        [[fallthrough]];
    case RE_BOUNDUTF8:
    case RE_NBOUNDUTF8: {
        // The character before is decoded by stepping back one whole
        // character; at the search start only re_prev_char is known, a byte.
        bool locale = scan->type == RE_BOUNDLUTF8 || scan->type == RE_NBOUNDLUTF8;
        bool a;
        if (locinput == gcb->re_search_start)
            a = re_is_word(gcb->re_prev_char) && (!locale || gcb->re_prev_char < 0x80);
        else
            a = re_word_cp(gcb, re_decode_before(gcb, locinput), locale);
        bool b = locinput < end && re_word_at(gcb, locinput, locale);
        return (a != b) == (scan->type == RE_BOUNDUTF8 || scan->type == RE_BOUNDLUTF8);
    }
    default:
        return false;
    }
}

}  // namespace

const char* re_step_chars_or_fail(PERLGCB* gcb, const char* p, int32_t n) { return step_chars<true>(gcb, p, n); }

const char* re_step_chars(PERLGCB* gcb, const char* p, int32_t n) { return step_chars<false>(gcb, p, n); }

// ---- repeat counting --------------------------------------------------------------------
//
// The greedy and minimal repeats first count how many repetitions the body
// allows from re_input, then try the rest of the pattern after a count and
// step the count down (greedy) or up (minimal). Both counters leave
// re_input after the last repetition they counted.

// The counter of a body of one character (STAR, PLUS, CURLY, CURLYN): a
// tight scan of the subject that never recurses and never allocates. The
// byte forms scan up to a limit in bytes (one repetition is one byte), so
// their count is the distance scanned; the UTF-8 forms (`hard`) step whole
// characters, stop at the maximum by count and return the count, as a
// zero-width body does.
int32_t re_count_simple(PERLGCB* gcb, re_program_node* p, int32_t max)
{
    const char* scan = gcb->re_input;
    const char* limit = gcb->re_subject_end;
    if (max != RE_INFTY && max < limit - scan)
        limit = scan + max;
    int32_t chars_counted = 0;
    bool hard = false;
    const char* eol = gcb->re_subject_end;
    // The UTF-8 forms count characters and stop at the maximum themselves.
    auto utf8_count = [&](auto&& test) {
        hard = true;
        while (chars_counted < max && scan < eol && test(scan)) {
            scan += re_char_len(scan, eol);
            chars_counted++;
        }
    };
    switch (p->type) {
    // The dot stops at a newline or the limit, wherever it finds one first.
    case RE_REG_ANY: {
        const void* nl = scan < limit ? std::memchr(scan, '\n', static_cast<size_t>(limit - scan)) : nullptr;
        scan = nl ? static_cast<const char*>(nl) : limit;
        break;
    }
    case RE_SANY:
        scan = limit;
        break;
    case RE_ANYUTF8:
        utf8_count([&](const char* s) { return *s != '\n'; });
        break;
    case RE_SANYUTF8:
        utf8_count([&](const char*) { return true; });
        break;
    case RE_EXACT: {
        char c = re_text(p)[0];
        while (scan < limit && *scan == c)
            scan++;
        break;
    }
    case RE_EXACTFL:
        gcb->re_match_flags |= RF_TAINTED;
        [[fallthrough]];
    case RE_EXACTF: {
        uint8_t c = static_cast<uint8_t>(re_text(p)[0]);
        uint8_t c2 = gcb->fold_table[c];
        while (scan < limit && (static_cast<uint8_t>(*scan) == c || static_cast<uint8_t>(*scan) == c2))
            scan++;
        break;
    }
#define RE_CLASS_CASE(name) case RE_##name:
        RE_CLASS_OPS(RE_CLASS_CASE)
#undef RE_CLASS_CASE
        // One loop per class opcode, the test inlined (re_with_class_op);
        // the same test as the matcher's single step and the start scan.
        if (re_class_locale(p->type))
            gcb->re_match_flags |= RF_TAINTED;
        re_with_class_op(p->type, [&](auto op) {
            constexpr uint8_t Op = decltype(op)::value;
            if constexpr (re_class_utf8(Op))
                utf8_count([&](const char* s) { return re_class_accepts_op<Op>(gcb, p, s); });
            else
                while (scan < limit && re_class_accepts_op<Op>(gcb, p, scan))
                    scan++;
        });
        break;
    default:
        // A zero-width body repeats as often as asked where it holds, and
        // the position stays: the count is the maximum or 0.
        if (zero_width(p) && assertion_holds(gcb, p, scan)) {
            hard = true;
            chars_counted = max;
        }
        break;
    }
    int32_t c = hard ? chars_counted : static_cast<int32_t>(scan - gcb->re_input);
    gcb->re_input = scan;
    if (re_debug_on(gcb)) [[unlikely]]
        trace_count(gcb, p, c, max);
    return c;
}

// The counter of CURLYM, whose body has a fixed length but is no single
// character: one activation of the matcher per repetition (the body ends in
// SUCCEED, so each call returns as soon as the body has matched), each
// returning before the next starts, so the depth guard sees one level. The
// length of the first repetition, in characters on a UTF-8 subject, goes to
// *lp: the caller steps the count down by that length. A body that matched
// the empty string repeats as often as asked without moving, so the count
// is the maximum at once.
int32_t re_count_general(PERLGCB* gcb, re_program_node* p, int32_t max, int32_t* lp)
{
    if (!max)
        return 0;
    const char* start = gcb->re_input;
    const char* limit = gcb->re_subject_end;
    const char* scan = start;
    int32_t count = 0;
    int32_t res = 1;
    bool utf8 = re_utf8_mode(gcb);
    // The first repetition is tried even at the end of the subject: a body
    // that matches the empty string there repeats as often as asked.
    while ((gcb->re_input < limit || (count == 0 && gcb->re_input == limit)) &&
           ((scan = gcb->re_input), (res = re_match_nodes(gcb, p)) != 0)) {
        if (!count++) {
            int32_t l;
            if (utf8) {
                l = 0;
                for (const char* q = start; q < gcb->re_input; q += re_char_skip(gcb, q))
                    l++;
            } else
                l = static_cast<int32_t>(gcb->re_input - start);
            *lp = l;
            if (l == 0)
                return max;
            // On bytes the maximum becomes a limit: no further repetition
            // is tried where the maximum could not fit.
            if (!utf8 && max != RE_INFTY && static_cast<int64_t>(l) * max < limit - scan)
                limit = scan + static_cast<int64_t>(l) * max;
        }
        if (count >= max)
            break;
    }
    // A failed repetition leaves re_input anywhere: back to where it began.
    if (!res)
        gcb->re_input = scan;
    return count;
}

// ---- the node-program interpreter --------------------------------------------------------

namespace {

// The byte at p, or -1 at the end of the subject.
inline int32_t byte_at(PERLGCB* gcb, const char* p) { return p < gcb->re_subject_end ? static_cast<uint8_t>(*p) : -1; }

// The look-ahead bytes of the node after a repeat; c1 = -1000 when none.
// When a literal follows the repeat, the rest of the pattern can only match
// where the subject holds its first byte (or that byte's fold partner for a
// case-blind literal), so a repeat tries the rest nowhere else: a cheap
// filter that saves one activation per count that could not work.
inline void lookahead_bytes(PERLGCB* gcb, re_program_node* next, int32_t* c1, int32_t* c2)
{
    if (next && re_kind(next) == RE_EXACT) {
        *c1 = static_cast<uint8_t>(re_text(next)[0]);
        *c2 = next->type == RE_EXACT ? *c1 : gcb->fold_table[*c1];
    } else
        *c1 = *c2 = -1000;
}

inline bool could_work(PERLGCB* gcb, int32_t c1, int32_t c2, const char* p)
{
    if (c1 == -1000)
        return true;
    int32_t b = byte_at(gcb, p);
    return b == c1 || b == c2;
}

// p moved back by n repetitions of a body n bytes or characters long.
const char* hop_back(PERLGCB* gcb, const char* p, int32_t n)
{
    return re_utf8_mode(gcb) ? re_step_chars(gcb, p, -n) : p - n;
}

// Case-blind comparison of a UTF-8 literal or group text [s, e) with the
// subject at l; returns the subject position after it, or null. The text's
// characters are bounded by e, the subject's by its end.
const char* utf8_fold_compare(PERLGCB* gcb, const char* s, const char* e, const char* l, bool locale_form)
{
    const char* end = gcb->re_subject_end;
    while (s < e) {
        if (l >= end)
            return nullptr;
        uint8_t sbuf[4], lbuf[4];
        const uint8_t* ws = re_whole_char(s, e, sbuf);
        const uint8_t* wl = re_whole_char(l, end, lbuf);
        uint64_t a, b;
        if (locale_form) {
            uint32_t ca = re_decode_whole(gcb, ws);
            uint32_t cb = re_decode_whole(gcb, wl);
            a = ca < 256 ? g_host_vector->lower[ca] : uni_to_lower(gcb, ca);
            b = cb < 256 ? g_host_vector->lower[cb] : uni_to_lower(gcb, cb);
        } else {
            a = utf8_to_lower(gcb, ws);
            b = utf8_to_lower(gcb, wl);
        }
        if (a != b)
            return nullptr;
        s += re_char_len(s, e);
        l += re_char_len(l, end);
    }
    return l;
}

// The literal or group text s of len bytes against the subject at p (the
// subject ends at end): exactly, or case-blind (fold; by the locale rule
// when locale), in UTF-8 mode a case-blind one character by character. On a
// match p moves past it. Inlined into every node that compares text.
[[gnu::always_inline]] inline bool compare_text(PERLGCB* gcb, const char* s, int32_t len, const char*& p,
                                                const char* end, bool fold, bool locale, bool utf8)
{
    if (fold && utf8) {
        const char* l = utf8_fold_compare(gcb, s, s + len, p, locale);
        if (!l)
            return false;
        p = l;
        return true;
    }
    // The first byte decides most failures before the length is looked at;
    // a text longer than what is left cannot match.
    if (p >= end)
        return false;
    uint8_t c0 = static_cast<uint8_t>(*s);
    uint8_t n0 = static_cast<uint8_t>(*p);
    if (c0 != n0 && (!fold || c0 != gcb->fold_table[n0]))
        return false;
    if (end - p < len)
        return false;
    if (len > 1 && (fold ? mem_casecmp(gcb, s, p, len) != 0 : std::memcmp(s, p, static_cast<size_t>(len)) != 0))
        return false;
    p += len;
    return true;
}

[[noreturn]] void panic(PERLGCB* gcb, const char* message) { fatal_error(gcb, "%s", message); }

// A node of no known type: the program is corrupt. Out of the node loop, so
// that its buffer does not widen every activation's frame.
[[noreturn, gnu::cold, gnu::noinline]] void bad_node(PERLGCB* gcb, const re_program_node* scan)
{
    char text[64];
    std::snprintf(text, sizeof text, "%lx %d\n", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(scan)),
                  scan->type);
    prx_stderr_write(gcb, text, std::strlen(text));
    panic(gcb, "regexp memory corruption");
}

// The recursion-limit warning of a general repeat that reached the maximum.
// Given once per match (RF_WARNED); it does not stop the match, unless the
// category is fatal, when category_warning raises the error. Each
// repetition of a general repeat costs one level of the depth guard, so
// while the guard's limit is below RE_INFTY the guard trips first and the
// warning is never given; it stands for a limit set wider than the count.
void warn_recursion_limit(PERLGCB* gcb, int32_t n)
{
    if (n >= RE_INFTY && !(gcb->re_match_flags & RF_WARNED) && warn_enabled(gcb, WARN_REGEXP)) {
        gcb->re_match_flags |= RF_WARNED;
        category_warning(gcb, WARN_REGEXP, "%s limit (%d) exceeded", "Complex regular subexpression recursion",
                         RE_INFTY - 1);
    }
}

// Super-linear cache. A general repeat whose body can match the same text
// in several ways, such as (?:a|aa)*b, can reach its WHILEM at the same
// position along exponentially many paths, and each would run the same
// doomed search again. What is cached is one bit
// per numbered loop and subject position: "the WHILEM of this loop, entered
// here past its minimum, failed". The cache is sound because such an entry
// fails there whatever path led to it. Past the minimum of a loop with no
// maximum every count offers the same two ways on (one more repetition, or
// what follows the loop), so the outcome depends only on the position and
// on the capture groups; the optimiser numbers only such loops (the
// WHILEM's flags: index in the low four bits, the number of numbered loops
// in the high four; 0 leaves the loop out), and none inside a counted
// repeat whose count could still matter. A loop inside other loops
// depends on their counts as well: it asks the cache only while each of
// them has a count that no longer matters (loops_settled). The groups
// decide a match only through REF and IFTHEN, which reset the budget below
// and so switch the cache off until it runs out again (when the bitmap is
// cleared anew).
// The bit is set when the visit begins and taken back when the visit
// succeeds (unmark), so a set bit records a failure.
//
// The cache costs nothing on a linear match: it is switched on only after a
// budget of WHILEM visits, the subject length plus one times the number of
// numbered loops (the visits a match that never repeats its work could
// make). From then on each (loop, position) may be tried once, so the rest
// of the match is bounded by the bitmap's size. The driver clears the budget
// (re_max_iterations = 0) at the start of each match; the bitmap belongs to
// the interpreter and is reused, growing only.
//
// already_tried: true when this loop was already tried at p. When the cache
// is on and p is new, its bit is set and its number left in *mark.
bool already_tried(PERLGCB* gcb, re_program_node* scan, const char* p, int64_t* mark)
{
    int32_t count = scan->flags >> 4;
    // First numbered visit of this match: the budget.
    if (!gcb->re_max_iterations) {
        int64_t budget = (static_cast<int64_t>(gcb->re_subject_end - gcb->re_subject_begin) + 1) * count;
        gcb->re_max_iterations = budget > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(budget);
        gcb->re_iterations_left = gcb->re_max_iterations;
    }
    // The visit that exhausts the budget switches the cache on, with every
    // bit clear: no earlier failure was recorded.
    // The count stops at -1 (cache on), so that it cannot run past the
    // 32-bit range on a very long match.
    if (gcb->re_iterations_left >= 0 && gcb->re_iterations_left-- == 0) {
        uint64_t size = (static_cast<uint64_t>(gcb->re_max_iterations) + 7) / 8;
        if (!gcb->re_position_cache || gcb->re_position_cache_size < size) {
            gcb->re_position_cache = static_cast<uint8_t*>(pool_realloc(gcb, gcb->re_position_cache, size));
            gcb->re_position_cache_size = size;
        }
        std::memset(gcb->re_position_cache, 0, size);
        if (re_debug_on(gcb))
            say("%sDetected a super-linear match, switching on caching%s...\n", re_colour(gcb, 4), re_colour(gcb, 5));
    }
    // Bit (index - 1) + offset * count: the loops of one position are
    // neighbours.
    if (gcb->re_iterations_left < 0) {
        int64_t o = (scan->flags & 0xf) - 1 + static_cast<int64_t>(p - gcb->re_subject_begin) * count;
        // The bitmap holds the capped budget's bits; on a subject so long
        // that a position's bit lies past it, the position is not cached.
        if (static_cast<uint64_t>(o / 8) >= gcb->re_position_cache_size)
            return false;
        uint8_t bit = static_cast<uint8_t>(1u << (o % 8));
        uint8_t& cell = gcb->re_position_cache[o / 8];
        if (cell & bit)
            return true;
        cell |= bit;
        *mark = o;
    }
    return false;
}

// Whether the loops around the loop of cc offer, at the end of the
// repetition under way, the choices they would after any other count: each
// has reached its minimum, and has no maximum or reaches it. Otherwise a
// try of this loop could fail here for the count of an outer loop and be
// needed later at another count, as in (?:(?:a?)*){2,}\Z on "ac", where
// the inner loop fails at the end within the first outer repetition.
inline bool loops_settled(const re_loop_frame* cc)
{
    for (const re_loop_frame* f = cc->outer; f; f = f->outer) {
        int32_t n = f->count + 1;
        if (n < f->min || (f->max != RE_INFTY && n < f->max))
            return false;
    }
    return true;
}

// A loop that matched at the position its mark names takes the mark back:
// a set bit must mean that the try there failed. Inside a lookaround or an
// independent group a loop matches and the match may still fail after it;
// the body runs again from another start, and must find the same success.
inline void unmark(PERLGCB* gcb, int64_t mark)
{
    if (mark >= 0 && static_cast<uint64_t>(mark / 8) < gcb->re_position_cache_size)
        gcb->re_position_cache[mark / 8] &= static_cast<uint8_t>(~(1u << (mark % 8)));
}

// The node loop of one activation; with TRACE it writes the trace lines.
template <bool TRACE>
int32_t match_body(PERLGCB* gcb, re_program_node* scan);

// The traced loop is a copy of its own, so that the loop of every match
// without the trace carries none of it.
[[gnu::cold, gnu::noinline]] int32_t match_traced(PERLGCB* gcb, re_program_node* scan)
{
    return match_body<true>(gcb, scan);
}

// A repeat that captures its body's group: the group counts as opened and
// as the highest seen.
inline void note_group(PERLGCB* gcb, int32_t paren)
{
    if (paren > gcb->re_open_high)
        gcb->re_open_high = paren;
    if (static_cast<uint32_t>(paren) > *gcb->re_last_group)
        *gcb->re_last_group = static_cast<uint32_t>(paren);
}

// The node an offset argument leads to; an offset of 0 leads nowhere.
inline re_program_node* jump_target(re_program_node* scan)
{
    re_program_node* to = scan + static_cast<int32_t>(re_arg(scan));
    return to == scan ? nullptr : to;
}

// Tries node with the captures above the loop's paren floor saved: on
// success the save is dropped, on failure the captures are put back. A
// repetition of the body closes its groups again, and a failed one must not
// leave its offsets over those of the last good repetition; the groups at
// or below the floor lie outside the loop and the try cannot touch them.
// Everything the try pushed above the save is unwound before the restore,
// so that the save is on top again.
[[gnu::always_inline]] inline bool try_keeping_captures(PERLGCB* gcb, re_loop_frame* cc, re_program_node* node,
                                                        bool trace)
{
    int32_t cp = re_save_captures(gcb, cc->paren_floor);
    int32_t saved_level = scope_set(gcb, trace);
    if (re_match_nodes(gcb, node)) {
        bt_unwind(gcb, cp);
        return true;
    }
    scope_unwind(gcb, saved_level, trace);
    if (trace)
        say_restoring(gcb);
    restore_captures(gcb);
    return false;
}

// Tries what follows the loop, with the outer loop current (and, when
// keeping, the captures saved as try_keeping_captures does). The
// continuation may end in the outer loop's WHILEM, which must find its own
// frame; it may also move the outer count, so on failure that count is put
// back and this loop is current again, as its own WHILEM expects.
[[gnu::always_inline]] inline bool try_after_loop(PERLGCB* gcb, re_loop_frame* cc, bool keeping, bool trace)
{
    gcb->re_current_repeat = cc->outer;
    int32_t ln = cc->outer ? cc->outer->count : 0;
    if (keeping ? try_keeping_captures(gcb, cc, cc->continuation, trace)
                : re_match_nodes(gcb, cc->continuation) != 0)
        return true;
    if (cc->outer)
        cc->outer->count = ln;
    gcb->re_current_repeat = cc;
    return false;
}

}  // namespace

namespace {

// A trip of the guard, by depth or by work: back to the match driver with
// jump code 4 (fatal_error sees the 1100 mark and runs no die handler).
[[noreturn, gnu::cold, gnu::noinline]] void guard_trip(PERLGCB* gcb, int32_t* counter)
{
    *counter = 0;
    gcb->errno_cell = GUARD_ERRNO_MARK;
    fatal_error(gcb, "Catastrophic backtracking detected");
}

}  // namespace

// Charges units of work to the match; past the budget the guard trips.
// Called where a repeat steps or scans without a new activation, which
// re_match_nodes would have charged.
void re_spend_work(PERLGCB* gcb, int64_t units)
{
    gcb->re_work_left -= units;
    if (gcb->re_work_left < 0) [[unlikely]]
        guard_trip(gcb, gcb->re_depth ? gcb->re_depth : &re_depth_guard);
}

// The one entry of the node interpreter, and the guard's checkpoint: every
// activation, the driver's first one and every recursive one, passes here.
// Returns 1 when the program matched from node to its end, with re_input
// at the end of the match, else 0 with re_input undefined. Both returns
// give the level back; a jump out (guard trip, panic, a fatal warning) does
// not, and the driver restores the counter instead.
int32_t re_match_nodes(PERLGCB* gcb, re_program_node* node)
{
    // The driver points re_depth at this thread's counter for the match.
    int32_t* counter = gcb->re_depth ? gcb->re_depth : &re_depth_guard;
    int32_t depth = *counter + 1;
    // The limits end the match the same way: a deep nesting is a stack
    // hazard, a long run of activations a time hazard.
    if (depth > RE_DEPTH_LIMIT || --gcb->re_work_left < 0 ||
        reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < gcb->stack_floor) [[unlikely]]
        guard_trip(gcb, counter);
    *counter = depth;
    gcb->re_indent++;
    int32_t r = re_debug_on(gcb) ? match_traced(gcb, node) : match_body<false>(gcb, node);
    gcb->re_indent--;
    --*counter;
    return r;
}

namespace {

// MATCH_YES: the rest of the program matched in a nested call; the whole
// activation succeeds. MATCH_NO: this node failed; go to the failure step,
// which resumes the innermost open alternative of this activation or
// returns 0 to the caller, which then backtracks in its turn.
#define MATCH_YES goto yes
#define MATCH_NO goto no

// The node loop. A node that matches moves locinput over what it consumed
// and sets next; the loop then goes on with next. The position lives in
// locinput while the loop runs and is written to re_input before every
// nested call, which reads it from there, and on success.
template <bool TRACE>
int32_t match_body(PERLGCB* gcb, re_program_node* scan)
{
    const char* locinput = gcb->re_input;
    const char* const end = gcb->re_subject_end;
    const char* const subject_begin = gcb->re_subject_begin;
    re_program_node* next = nullptr;
    int32_t unwind = -1;      // innermost alternative record, -1 for none
    bool minmod = false;      // set by MINMOD: the next repeat is minimal
    int32_t logical = 0;      // set by LOGICAL: the next lookaround is a condition
    bool sw = false;          // the last condition's outcome, read by IFTHEN
    const bool utf8 = re_utf8_mode(gcb);

    while (scan) {
        next = re_next_in_program(scan);
    // The failure step enters here with scan and next already set.
    dispatch:
        if constexpr (TRACE)
            trace_node(gcb, scan, locinput);
        switch (scan->type) {
        case RE_BOL:
        case RE_MBOL:
        case RE_SBOL:
        case RE_GPOS:
        case RE_EOL:
        case RE_SEOL:
        case RE_MEOL:
        case RE_EOS:
            if (!assertion_holds(gcb, scan, locinput))
                MATCH_NO;
            break;
        // The dots. The UTF-8 forms consume a whole character, or one stray
        // byte, never past the end.
        case RE_SANYUTF8:
            if (locinput >= end)
                MATCH_NO;
            locinput += re_char_len(locinput, end);
            break;
        case RE_SANY:
            if (locinput >= end)
                MATCH_NO;
            locinput++;
            break;
        case RE_ANYUTF8:
            if (locinput >= end || *locinput == '\n')
                MATCH_NO;
            locinput += re_char_len(locinput, end);
            break;
        case RE_REG_ANY:
            if (locinput >= end || *locinput == '\n')
                MATCH_NO;
            locinput++;
            break;
        // Literal text; its length is the node's flags byte.
        case RE_EXACT: {
            if (!compare_text(gcb, re_text(scan), scan->flags, locinput, end, false, false, utf8))
                MATCH_NO;
            break;
        }
        case RE_EXACTFL:
            gcb->re_match_flags |= RF_TAINTED;
            [[fallthrough]];
        case RE_EXACTF: {
            if (!compare_text(gcb, re_text(scan), scan->flags, locinput, end, true, scan->type == RE_EXACTFL, utf8))
                MATCH_NO;
            break;
        }
#define RE_CLASS_CASE(name) case RE_##name:
            RE_CLASS_OPS(RE_CLASS_CASE)
#undef RE_CLASS_CASE
        {
            // The class test shared with the repeat counter and the start
            // scan; a byte form steps one byte, a UTF-8 form one character.
            if (re_class_locale(scan->type))
                gcb->re_match_flags |= RF_TAINTED;
            if (locinput >= end || !re_class_accepts(gcb, scan, locinput))
                MATCH_NO;
            locinput += re_class_utf8(scan->type) ? re_char_len(locinput, end) : 1;
            break;
        }
        case RE_BOUNDL:
        case RE_NBOUNDL:
        case RE_BOUND:
        case RE_NBOUND:
        case RE_BOUNDLUTF8:
        case RE_NBOUNDLUTF8:
        case RE_BOUNDUTF8:
        case RE_NBOUNDUTF8:
            if (!assertion_holds(gcb, scan, locinput))
                MATCH_NO;
            break;
        case RE_CLUMP:
        case RE_EVAL:
            // Never emitted: the compiler refuses \X and code blocks.
            panic(gcb, "regexp memory corruption");
        case RE_REFFL:
            gcb->re_match_flags |= RF_TAINTED;
            [[fallthrough]];
        // A back-reference matches the text group n holds now: a group
        // above the last group closed, or never closed, fails it; an empty
        // one matches at once. Reading a group makes the outcome depend on
        // the path, which voids the super-linear cache.
        case RE_REF:
        case RE_REFF: {
            uint32_t n = re_arg(scan);
            int32_t ln = gcb->re_starts[n];
            gcb->re_iterations_left = gcb->re_max_iterations;  // the cache is void
            if (*gcb->re_last_group < n || ln == -1 || gcb->re_ends[n] == -1)
                MATCH_NO;
            if (ln == gcb->re_ends[n])
                break;
            if (!compare_text(gcb, subject_begin + ln, gcb->re_ends[n] - ln, locinput, end, scan->type != RE_REF,
                              scan->type == RE_REFFL, utf8))
                MATCH_NO;
            break;
        }
        // Links of the program's structure, and nodes the optimiser folded.
        case RE_NOTHING:
        case RE_TAIL:
        case RE_BACK:
        case RE_OPTIMIZED:
            break;
        // OPEN keeps only the tentative start; the offsets are written at
        // CLOSE. A start left by a failed try is harmless: a CLOSE reads only
        // the start that its own OPEN wrote on the same path.
        case RE_OPEN: {
            uint32_t n = re_arg(scan);
            gcb->re_open_at[n] = locinput;
            if (static_cast<int32_t>(n) > gcb->re_open_high)
                gcb->re_open_high = static_cast<int32_t>(n);
            break;
        }
        case RE_CLOSE: {
            uint32_t n = re_arg(scan);
            gcb->re_starts[n] = static_cast<int32_t>(gcb->re_open_at[n] - subject_begin);
            gcb->re_ends[n] = static_cast<int32_t>(locinput - subject_begin);
            if (n > *gcb->re_last_group)
                *gcb->re_last_group = n;
            break;
        }
        // (?(n)...): the condition "group n is set".
        case RE_GROUPP: {
            uint32_t n = re_arg(scan);
            sw = *gcb->re_last_group >= n && gcb->re_ends[n] != -1;
            break;
        }
        // The branch of a conditional: the yes branch follows the head, the
        // argument leads to the no branch. A condition reads the groups, so
        // the cache is void as for REF.
        case RE_IFTHEN:
            gcb->re_iterations_left = gcb->re_max_iterations;  // the cache is void
            if (sw)
                next = scan + 2;
            else {
                next = scan + static_cast<int32_t>(re_arg(scan));
                if (next->type == RE_IFTHEN)  // the "no" branch follows a marker node
                    next += 2;
            }
            break;
        case RE_LOGICAL:
            logical = scan->flags;
            break;
        // An alternation is a chain of BRANCH (or BRANCHJ, whose argument
        // links to the next) heads, each followed by its alternative's body.
        // The first body is matched at once, in this activation; when more
        // alternatives follow, a record of the choice goes on the stack, and
        // the failure step resumes the next alternative from it. Everything
        // the body pushes lies above the record's level, so unwinding to it
        // forgets that try.
        case RE_BRANCHJ:
        case RE_BRANCH: {
            uint8_t c1 = scan->type;
            re_program_node* inner = scan + (c1 == RE_BRANCHJ ? 2 : 1);
            if (!next || next->type != c1) {
                next = inner;  // a single alternative: no choice
                break;
            }
            bt_reserve(gcb, UNWIND_SLOTS);
            int32_t rec = gcb->re_bt_ix;
            // Slots in re_unwind_record order.
            push_i(gcb, c1 == RE_BRANCH ? UNWIND_BRANCH : UNWIND_BRANCHJ);
            push_i(gcb, unwind);
            push_i(gcb, rec + UNWIND_SLOTS);
            push_i(gcb, *gcb->re_last_group);
            push_p(gcb, next);
            push_p(gcb, locinput);
            push_i(gcb, 0);  // UR_NEXT_CHAR: unused
            // The record counts as one trace level while it is open.
            push_i(gcb, ++gcb->re_indent);
            unwind = rec;
            next = inner;
            break;
        }
        case RE_MINMOD:
            minmod = true;
            break;
        case RE_CURLYX: {
            // A general repeat runs as a protocol between this node and the
            // WHILEM at the end of its body. CURLYX makes a loop frame on its
            // own stack, makes it current, and calls the matcher on the
            // WHILEM, as if one repetition had just ended. Each arrival at
            // the WHILEM (the first one, and the end of every repetition)
            // decides there, with the frame's count and last position,
            // whether to match the body once more (a nested call, so each
            // repetition costs one level of the nesting guard) or to leave
            // the loop and match what follows it, with the outer frame made
            // current for that; failures come back through the same calls,
            // so backtracking into a repetition is a return. The frame dies
            // with this activation: nothing may refer to it afterwards.
            re_loop_frame cc;
            int32_t cp = gcb->re_bt_ix;
            // The flags byte is the paren floor: the groups above it are saved
            // around each try (a loop left as CURLYX has 0, so all are). It is
            // lowered to the last group closed so far, so that no group the
            // body may close goes unsaved.
            int32_t group_floor = scan->flags;
            if ((next - 1)->type == RE_NOTHING)  // the long-jump form: step over LONGJMP
                next += static_cast<int32_t>(re_arg(next));
            if (group_floor > static_cast<int32_t>(*gcb->re_last_group))
                group_floor = static_cast<int32_t>(*gcb->re_last_group);
            cc.paren_floor = group_floor;
            cc.count = -1;
            cc.min = re_arg_min(scan);
            cc.max = re_arg_max(scan);
            cc.minimal = minmod ? 1 : 0;
            cc.body = scan + 2;
            cc.continuation = next;
            cc.last_position = nullptr;
            cc.outer = gcb->re_current_repeat;
            gcb->re_current_repeat = &cc;
            minmod = false;
            gcb->re_input = locinput;
            if constexpr (TRACE)
                re_trace_scope_set(gcb, cp);
            int32_t n = re_match_nodes(gcb, next - 1);  // start on the WHILEM
            scope_unwind(gcb, cp, TRACE);
            gcb->re_current_repeat = cc.outer;
            if (n)
                MATCH_YES;
            MATCH_NO;
        }
        // The loop node at the end of a general repeat's body. n counts the
        // repetitions done, the one that just ended included (0 on the
        // arrival from CURLYX); last_position is where that repetition
        // began. Every way out that fails puts count and last_position back
        // as they were on arrival, since the caller may arrive here again
        // along another path and must find the frame as it left it.
        case RE_WHILEM: {
            re_loop_frame* cc = gcb->re_current_repeat;
            const char* previous_position = cc->last_position;
            int32_t n = cc->count + 1;
            gcb->re_input = locinput;
            if constexpr (TRACE)
                say("%*s  %lld out of %lld..%lld  cc=%llx\n", trace_margin(gcb), "", static_cast<int64_t>(n),
                    static_cast<int64_t>(cc->min), static_cast<int64_t>(cc->max),
                    static_cast<uint64_t>(reinterpret_cast<uintptr_t>(cc)));

            // An empty repetition once the minimum is reached ends the loop:
            // another one from the same position could only end here again.
            // Only what follows the loop is tried.
            if (locinput == cc->last_position && n >= cc->min) {
                if constexpr (TRACE)
                    say("%*s  empty match detected, try continuation...\n", trace_margin(gcb), "");
                if (try_after_loop(gcb, cc, false, TRACE))
                    MATCH_YES;
                MATCH_NO;
            }
            // Below the minimum there is no choice: one more repetition.
            if (n < cc->min) {
                cc->count = n;
                cc->last_position = locinput;
                if (re_match_nodes(gcb, cc->body))
                    MATCH_YES;
                cc->count = n - 1;
                cc->last_position = previous_position;
                MATCH_NO;
            }
            // Past the minimum a numbered loop consults the cache; the mark
            // is the bit this visit set, taken back when the visit succeeds.
            int64_t mark = -1;
            if (scan->flags && loops_settled(cc) && already_tried(gcb, scan, locinput, &mark)) {
                if constexpr (TRACE)
                    say("%*s  already tried at this position...\n", trace_margin(gcb), "");
                MATCH_NO;
            }
            // Minimal: what follows the loop first, one more repetition only
            // when that fails. That repetition starts from the state of this
            // visit, so the groups the continuation closed must be undone:
            // it runs with the captures saved. (The greedy loop fails after
            // its continuation, and the try that led here restores.)
            if (cc->minimal) {
                if (try_after_loop(gcb, cc, true, TRACE))
                    { unmark(gcb, mark); MATCH_YES; }
                if (n >= cc->max) {
                    warn_recursion_limit(gcb, n);
                    MATCH_NO;
                }
                if constexpr (TRACE)
                    say("%*s  trying longer...\n", trace_margin(gcb), "");
                gcb->re_input = locinput;
                cc->count = n;
                cc->last_position = locinput;
                if (try_keeping_captures(gcb, cc, cc->body, TRACE))
                    { unmark(gcb, mark); MATCH_YES; }
                cc->count = n - 1;
                cc->last_position = previous_position;
                MATCH_NO;
            }
            // Greedy: one more repetition first while the maximum allows,
            // then what follows the loop.
            if (n < cc->max) {
                cc->count = n;
                cc->last_position = locinput;
                if (try_keeping_captures(gcb, cc, cc->body, TRACE))
                    { unmark(gcb, mark); MATCH_YES; }
                if constexpr (TRACE)
                    say("%*s  failed, try continuation...\n", trace_margin(gcb), "");
                gcb->re_input = locinput;
            }
            warn_recursion_limit(gcb, n);
            if (try_after_loop(gcb, cc, false, TRACE))
                { unmark(gcb, mark); MATCH_YES; }
            cc->count = n - 1;
            cc->last_position = previous_position;
            MATCH_NO;
        }
        // A repeat of a body of fixed length that is not one character, such
        // as (?:ab)* or (ab)*: counted by re_count_general, then backed off
        // one body length at a time without matching the body again. The
        // flags byte is the group the body is (its OPEN and CLOSE were folded
        // away by the optimiser), or 0; since the body's length is fixed,
        // the group is always the last repetition, set here before each try
        // of the rest. l is the body's length, ln the count tried next (the
        // minimum to start with), n the maximum or the count matched.
        case RE_CURLYM: {
            int32_t l = 0;
            int32_t ln = re_arg_min(scan);
            int32_t n = re_arg_max(scan);
            int32_t paren = scan->flags;
            if (paren) {
                note_group(gcb, paren);
            }
            re_program_node* body = scan + 2;
            if (paren)
                body += body->next;  // skip the folded OPEN
            gcb->re_input = locinput;
            int32_t c1, c2;
            if (minmod) {
                // Minimal: the minimum first, then the rest of the pattern
                // after each count, one repetition more each time it fails.
                minmod = false;
                if (ln && re_count_general(gcb, body, ln, &l) < ln)
                    MATCH_NO;
                if (ln && l == 0)
                    n = ln;  // empty repetitions need no backtracking
                locinput = gcb->re_input;
                lookahead_bytes(gcb, next, &c1, &c2);
                int32_t saved_level = scope_set(gcb, TRACE);
                // An unbounded loop may pass RE_INFTY repetitions; each one
                // consumes l > 0 bytes, so the count stays finite.
                while (n >= ln || (n == RE_INFTY && ln > 0 && l)) {
                    if (could_work(gcb, c1, c2, gcb->re_input)) {
                        if (paren) {
                            if (ln) {  // the count matched so far, not the maximum
                                gcb->re_starts[paren] = static_cast<int32_t>(hop_back(gcb, gcb->re_input, l) - subject_begin);
                                gcb->re_ends[paren] = static_cast<int32_t>(gcb->re_input - subject_begin);
                            } else
                                gcb->re_ends[paren] = -1;
                        }
                        if (re_match_nodes(gcb, next))
                            MATCH_YES;
                        scope_unwind(gcb, saved_level, TRACE);
                    }
                    if (ln > 0 && l == 0)
                        MATCH_NO;  // one more empty repetition changes nothing
                    gcb->re_input = locinput;
                    if (re_count_general(gcb, body, 1, &l)) {
                        ln++;
                        locinput = gcb->re_input;
                    } else
                        MATCH_NO;
                }
            } else {
                // Greedy: the most repetitions first, then one fewer at a
                // time. With an empty body every count ends at the same
                // place, so only the count itself is tried, except that a
                // group with a minimum of 0 has a second outcome: unset.
                n = re_count_general(gcb, body, n, &l);
                if (n != 0 && l == 0 && !(paren && ln == 0))
                    ln = n;
                locinput = gcb->re_input;
                if constexpr (TRACE)
                    say("%*s  matched %lld times, len=%lld...\n", trace_margin(gcb), "", static_cast<int64_t>(n),
                        static_cast<int64_t>(l));
                lookahead_bytes(gcb, next, &c1, &c2);
                int32_t saved_level = scope_set(gcb, TRACE);
                while (n >= ln) {
                    if (could_work(gcb, c1, c2, gcb->re_input)) {
                        if (paren) {
                            if (n) {
                                gcb->re_starts[paren] = static_cast<int32_t>(hop_back(gcb, gcb->re_input, l) - subject_begin);
                                gcb->re_ends[paren] = static_cast<int32_t>(gcb->re_input - subject_begin);
                            } else
                                gcb->re_ends[paren] = -1;
                        }
                        if constexpr (TRACE)
                            say("%*s  trying tail with n=%lld...\n", trace_margin(gcb), "", static_cast<int64_t>(n));
                        if (re_match_nodes(gcb, next))
                            MATCH_YES;
                        scope_unwind(gcb, saved_level, TRACE);
                    }
                    if (l == 0 && n > ln) {
                        // Empty repetitions: every count from 1 up gives the
                        // same position and the same group, so after the
                        // largest only 0 (the group unset) is left to try.
                        n = ln;
                        gcb->re_input = locinput;
                        continue;
                    }
                    n--;
                    locinput = hop_back(gcb, locinput, l);
                    gcb->re_input = locinput;
                    re_spend_work(gcb, 1);
                }
            }
            MATCH_NO;
        }
        // The simple repeats: a body of one character, counted in one
        // tight loop by re_count_simple and backed off one character at a
        // time, each try of the rest one activation. CURLYN is a counted
        // group of one character, such as (a)*: its flags byte is the group,
        // set to the last repetition before each try. ln is the count tried
        // next (the minimum to start with), n the maximum or the count
        // matched.
        case RE_CURLYN:
        case RE_CURLY:
        case RE_STAR:
        case RE_PLUS: {
            int32_t paren = 0, ln, n;
            re_program_node* body;
            if (scan->type == RE_CURLYN) {
                paren = scan->flags;
                note_group(gcb, paren);
                ln = re_arg_min(scan);
                n = re_arg_max(scan);
                body = re_next_node(gcb, scan + 2);
            } else if (scan->type == RE_CURLY) {
                ln = re_arg_min(scan);
                n = re_arg_max(scan);
                body = scan + 2;
            } else {
                ln = scan->type == RE_PLUS ? 1 : 0;
                n = RE_INFTY;
                body = scan + 1;
            }
            int32_t c1, c2;
            lookahead_bytes(gcb, next, &c1, &c2);
            gcb->re_input = locinput;
            if (zero_width(body) && !paren) {
                // Every count from 1 up ends where the body holds, at this
                // position: one try of the rest stands for all of them, greedy
                // or minimal. Where the body fails only 0 is left.
                minmod = false;
                if (re_count_simple(gcb, body, n) < ln || !could_work(gcb, c1, c2, locinput))
                    MATCH_NO;
                gcb->re_input = locinput;
                if (re_match_nodes(gcb, next))
                    MATCH_YES;
                MATCH_NO;
            }
            // Tries the rest after count repetitions; yes on success.
            auto try_paren = [&](int32_t count, const char* input) -> bool {
                if (paren) {
                    if (count) {
                        gcb->re_starts[paren] = static_cast<int32_t>(hop_back(gcb, input, 1) - subject_begin);
                        gcb->re_ends[paren] = static_cast<int32_t>(input - subject_begin);
                    } else
                        gcb->re_ends[paren] = -1;
                }
                if (re_match_nodes(gcb, next))
                    return true;
                if (paren && count)
                    gcb->re_ends[paren] = -1;
                return false;
            };
            if (minmod) {
                // Minimal: the minimum first, then one repetition more each
                // time the rest fails.
                minmod = false;
                if (ln && re_count_simple(gcb, body, ln) < ln)
                    MATCH_NO;
                locinput = gcb->re_input;
                int32_t saved_level = scope_set(gcb, TRACE);
                if (c1 != -1000 && !utf8) {
                    // Only positions holding the next literal's first byte can
                    // work: search for the next such byte up to the furthest
                    // position the maximum allows (e), then check that the
                    // body covers every byte skipped. ln becomes "some
                    // repetitions" for the group's sake once the scan moved.
                    // The scan is charged one unit per eight bytes.
                    const char* e = (n == RE_INFTY || n - ln >= end - locinput) ? end - 1 : locinput + (n - ln);
                    const char* old = locinput;
                    for (;;) {
                        while (locinput <= e && static_cast<uint8_t>(*locinput) != c1 &&
                               static_cast<uint8_t>(*locinput) != c2)
                            locinput++;
                        re_spend_work(gcb, ((locinput - old) >> 3) + 1);
                        if (locinput > e)
                            MATCH_NO;
                        if (locinput != old) {
                            ln = 1;
                            int32_t want = static_cast<int32_t>(locinput - old);
                            if (re_count_simple(gcb, body, want) < want)
                                MATCH_NO;
                        }
                        if (try_paren(ln, locinput))
                            MATCH_YES;
                        gcb->re_input = locinput;
                        scope_unwind(gcb, saved_level, TRACE);
                        // The byte at old is the next one the body must cover.
                        old = locinput++;
                    }
                }
                while (n >= ln || (n == RE_INFTY && ln > 0)) {
                    if (could_work(gcb, c1, c2, gcb->re_input)) {
                        if (try_paren(ln, gcb->re_input))
                            MATCH_YES;
                        scope_unwind(gcb, saved_level, TRACE);
                    }
                    gcb->re_input = locinput;
                    if (re_count_simple(gcb, body, 1)) {
                        ln++;
                        locinput = gcb->re_input;
                    } else
                        MATCH_NO;
                }
                MATCH_NO;
            }
            // Greedy: the most repetitions first, then one fewer at a time.
            n = re_count_simple(gcb, body, n);
            locinput = gcb->re_input;
            // Before $ (or \Z, \z) only the last count can work, or the one
            // before a final newline: $ holds nowhere else the count reaches.
            if (ln < n && next && re_kind(next) == RE_EOL &&
                (!gcb->multiline || next->type == RE_SEOL || next->type == RE_EOS)) {
                // $ and \Z also match before a final newline: back off by one there.
                ln = n;
                if (locinput > subject_begin && locinput[-1] == '\n' && next->type != RE_EOS)
                    ln--;
            }
            int32_t saved_level = scope_set(gcb, TRACE);
            while (n >= ln) {
                if (could_work(gcb, c1, c2, gcb->re_input)) {
                    if (try_paren(n, gcb->re_input))
                        MATCH_YES;
                    scope_unwind(gcb, saved_level, TRACE);
                }
                n--;
                locinput = hop_back(gcb, locinput, 1);
                gcb->re_input = locinput;
                re_spend_work(gcb, 1);
                if constexpr (!TRACE) {
                    // Every count left ends before a character of the body's
                    // class, where the optimiser proved the rest fails at
                    // once: those tries are charged, not made.
                    if (n >= ln && re_gives_back_nothing(scan->flags) && !paren && !utf8 &&
                        (!(scan->flags & RE_GIVE_BACK_LOOP) ||
                         (gcb->re_current_repeat && gcb->re_current_repeat->count + 1 < gcb->re_current_repeat->min))) {
                        re_spend_work(gcb, static_cast<int64_t>(n - ln + 1) * ((scan->flags & 0xF) + 1));
                        MATCH_NO;
                    }
                }
            }
            MATCH_NO;
        }
        // Lookaround runs its body in a nested activation that ends at the
        // body's SUCCEED; the body's own choices die with that activation,
        // so nothing outside can backtrack into it. IFMATCH and UNLESSM are
        // (?=...) and (?!...), or with a non-zero flags byte the look-behinds
        // of that fixed length in characters, started that far back. SUSPEND
        // is the independent group (?>...): it matches like IFMATCH but
        // moves the position to the end of the body's one match. After
        // LOGICAL the lookaround is the condition of a (?(...)...) and its
        // outcome goes to sw instead of failing the node.
        case RE_SUSPEND:
        case RE_UNLESSM:
        case RE_IFMATCH: {
            int32_t expect = scan->type == RE_UNLESSM ? 0 : 1;
            bool matched;
            if (scan->type != RE_SUSPEND && scan->flags) {
                const char* s = utf8 ? re_step_chars_or_fail(gcb, locinput, -static_cast<int32_t>(scan->flags))
                                     : (locinput - subject_begin < scan->flags ? nullptr : locinput - scan->flags);
                if (!s) {
                    // Not enough text before: a positive look-behind fails, a negative one holds.
                    matched = expect == 0;
                    goto lookaround_done;
                }
                gcb->re_input = s;
            } else
                gcb->re_input = locinput;
            matched = re_match_nodes(gcb, scan + 2) == expect;
        lookaround_done:
            if (!matched) {
                if (logical) {
                    logical = 0;
                    sw = false;
                    next = jump_target(scan);
                    break;
                }
                MATCH_NO;
            }
            if (logical) {
                logical = 0;
                sw = true;
            }
            if (scan->type == RE_SUSPEND)
                locinput = gcb->re_input;
            next = jump_target(scan);
            break;
        }
        case RE_LONGJMP:
            next = jump_target(scan);
            break;
        // The end of the program. The driver may ask for a match that ends
        // no earlier than re_till; a shorter one fails here and backtracks.
        case RE_END:
            if (locinput < gcb->re_till) {
                if constexpr (TRACE)
                    say("%sMatch possible, but length=%lld is smaller than requested=%lld, failing!%s\n",
                        re_colour(gcb, 4), static_cast<int64_t>(locinput - subject_begin) - gcb->re_starts[0],
                        static_cast<int64_t>(gcb->re_till - subject_begin) - gcb->re_starts[0], re_colour(gcb, 5));
                MATCH_NO;
            }
            if constexpr (TRACE)
                say("%sMatch successful!%s\n", re_colour(gcb, 4), re_colour(gcb, 5));
            gcb->re_input = locinput;
            return 1;
        // The end of a lookaround body or of a counted body: the nested call
        // that matched it returns with the position in re_input.
        case RE_SUCCEED:
            if constexpr (TRACE)
                say("%*s  %scould match...%s\n", trace_margin(gcb), "", re_colour(gcb, 4), re_colour(gcb, 5));
            gcb->re_input = locinput;
            return 1;
        default:
            bad_node(gcb, scan);
        }
        scan = next;
        continue;

    no:
        if constexpr (TRACE)
            say("%*s  %sfailed...%s\n", trace_margin(gcb), "", re_colour(gcb, 4), re_colour(gcb, 5));
        // The failure step: resume the innermost open alternative, if any.
        // Unwinding to the record's level drops everything the failed
        // alternative pushed; lowering the last group to the record's value
        // unsets every group closed since. A record with no alternative left
        // is dropped and the next outer one tried. With none left the
        // activation fails; its records stay on the stack until the caller
        // unwinds below them.
        while (unwind >= 0) {
            uint64_t* record = gcb->re_bt + unwind;
            int64_t type = static_cast<int64_t>(record[UR_KIND]);
            if (type != UNWIND_BRANCH && type != UNWIND_BRANCHJ)
                panic(gcb, "regexp unwind memory corruption");
            int32_t saved_level = static_cast<int32_t>(record[UR_LEVEL]);
            uint32_t last_group = static_cast<uint32_t>(record[UR_LAST_GROUP]);
            bt_unwind(gcb, saved_level);
            record = gcb->re_bt + unwind;
            for (uint32_t g = *gcb->re_last_group; g > last_group; g--)
                gcb->re_ends[g] = -1;
            *gcb->re_last_group = last_group;
            re_program_node* alt = reinterpret_cast<re_program_node*>(record[UR_NEXT_ALTERNATIVE]);
            uint8_t op = type == UNWIND_BRANCH ? RE_BRANCH : RE_BRANCHJ;
            if (!alt || alt->type != op) {
                unwind = static_cast<int32_t>(static_cast<int64_t>(record[UR_PREVIOUS]));
                gcb->re_indent--;
                continue;
            }
            // More alternatives: the record moves on to the one after.
            int32_t off = type == UNWIND_BRANCH ? alt->next : static_cast<int32_t>(re_arg(alt));
            record[UR_NEXT_ALTERNATIVE] = reinterpret_cast<uintptr_t>(off ? alt + off : nullptr);
            scan = alt;
            next = alt + (type == UNWIND_BRANCH ? 1 : 2);
            locinput = reinterpret_cast<const char*>(record[UR_INPUT]);
            gcb->re_indent = static_cast<int32_t>(static_cast<int64_t>(record[UR_INDENT]));
            if constexpr (TRACE)
                trace_node(gcb, alt, locinput);
            // Continue with the alternative's body.
            scan = next;
            next = re_next_in_program(scan);
            goto dispatch;
        }
        return 0;
    yes:
        return 1;
    }
    panic(gcb, "corrupted regexp pointers");
}

#undef MATCH_YES
#undef MATCH_NO

}  // namespace
