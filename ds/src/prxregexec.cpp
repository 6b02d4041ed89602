// The match driver, the start-position finder and the start-class scan:
// where a compiled pattern is tried, and the one attempt at a position.
#include <cstdarg>
#include <cstring>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxregmatch.h"
#include "prxsearch.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

namespace {

// Moves p by n characters: bytes, or UTF-8 characters in UTF-8 mode. The
// UTF-8 step stops at the bounds of the current subject
// (re_subject_begin, re_subject_end), which callers set before stepping.
const char* hop(PERLGCB* gcb, const char* p, int32_t n)
{
    return re_utf8_mode(gcb) ? re_step_chars(gcb, p, n) : p + n;
}

// The text of a substring value and its byte length. A substring with the
// tail mark keeps its final newline in the text and counts it here; the
// callers take one off where the mark lets the newline be missing.
const char* substr_text(PERLGCB* gcb, SV* sv, int64_t* len)
{
    uint64_t l = 0;
    const char* s = sv_text(gcb, sv, &l);
    *len = static_cast<int64_t>(l);
    return s;
}
inline bool has_tail(const SV* sv) { return sv->flags & SVf_TAIL; }

// Length in characters of a substring value: the offsets of the optimiser
// count characters, so in UTF-8 mode the lead bytes are counted.
inline int64_t char_len(PERLGCB* gcb, SV* sv)
{
    int64_t len = 0;
    const char* s = substr_text(gcb, sv, &len);
    if (!re_utf8_mode(gcb)) [[likely]]
        return len;
    int64_t n = 0;
    for (int64_t i = 0; i < len; i++)
        if ((static_cast<uint8_t>(s[i]) & 0xC0) != 0x80)
            n++;
    return n;
}

// Searches [from, to) for the prepared substring; none when the range is
// empty. Under the multi-line flag a tail-marked substring may also stand
// before any newline, not only at the subject's end.
const char* search(PERLGCB* gcb, const char* from, const char* to, SV* little)
{
    if (from > to)
        return nullptr;
    return boyer_moore_search(gcb, const_cast<char*>(from), const_cast<char*>(to), little,
                              gcb->multiline ? BM_MULTILINE : 0);
}

// The check substring's usefulness count, kept in its search body.
inline int32_t& usefulness(SV* sv) { return static_cast<PVBM*>(sv->any)->useful; }

// ---- trace lines: all out of line, and called only while the trace is on.

[[gnu::cold, gnu::noinline]] void say(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    prx_vfprintf(PRX_STDOUT, fmt, &ap);
    va_end(ap);
}

// The offset of p from base as a %ld of a trace line takes it: offsets
// within one subject fit in 32 bits.
inline int32_t offset_of(const char* p, const char* base) { return static_cast<int32_t>(p - base); }

// "HEAD KIND substr `TEXT'" then end: the substring without its tail
// newline, and "$" after it when it carries the tail mark.
[[gnu::cold, gnu::noinline]] void say_substr(PERLGCB* gcb, const char* head, const char* kind, SV* sv, const char* end)
{
    int64_t len = 0;
    const char* text = substr_text(gcb, sv, &len);
    bool tail = has_tail(sv);
    say("%s %s substr `%s%.*s%s'%s%s", head, kind, re_colour(gcb, 0), static_cast<int>(tail ? len - 1 : len), text,
        re_colour(gcb, 1), tail ? "$" : "", end);
}

// A line naming /^/m: fmt takes colours 0 and 1 around the ^, then up to
// two offsets.
[[gnu::cold, gnu::noinline]] void say_line_start(PERLGCB* gcb, const char* fmt, int32_t a = 0, int32_t b = 0)
{
    say(fmt, re_colour(gcb, 0), re_colour(gcb, 1), a, b);
}

// The finder's first line: the pattern and up to 60 bytes of the subject.
[[gnu::cold, gnu::noinline]] void say_guessing(PERLGCB* gcb, re_compiled* rx, const char* strpos, const char* strend)
{
    if (!gcb->re_colours_set)
        re_init_colors(gcb);
    int64_t left = strend - strpos;
    say("%sGuessing start of match, REx%s `%s%.60s%s%s' against `%s%.*s%s%s'...\n", re_colour(gcb, 4),
        re_colour(gcb, 5), re_colour(gcb, 0), rx->pattern_text, re_colour(gcb, 1), rx->pattern_length > 60 ? "..." : "",
        re_colour(gcb, 0), static_cast<int>(left > 60 ? 60 : left), strpos, re_colour(gcb, 1), left > 60 ? "..." : "");
}

// The class cases of the start-class scan, one tight loop per test (the
// caller instantiates one per opcode, so no dispatch runs per position).
// A pattern with REA_SKIP begins with a repeat of its class, x+: a run of
// class characters can only give one new match, at the run's start, since
// an attempt inside the run would find the same repeat cut short. Without
// it every position of a run is a candidate. `fresh` says whether the
// position follows a character outside the class (or a failed attempt).
template <class Test>
const char* scan_class(PERLGCB* gcb, re_compiled* rx, const char* s, const char* to, bool check_only, bool utf8,
                       Test&& test)
{
    bool every_position = !(rx->analysis_flags & REA_SKIP);
    bool fresh = true;
    while (s < to) {
        if (test(s)) {
            if (fresh && (check_only || re_try_at(gcb, rx, s)))
                return s;
            fresh = every_position;
        } else
            fresh = true;
        s += utf8 ? re_char_skip(gcb, s) : 1;
    }
    return nullptr;
}

// The \b and \B cases. A boundary lies between two characters of which one
// is a word character: word tests the character at a position, step moves
// to the next, and word_before is the test of the character before s. \b
// holds where the test changes, \B where it does not. The position at the
// end is a candidate only for a pattern that may match the empty string
// there: every other match needs characters after its start.
template <class Word, class Step>
const char* scan_boundary(PERLGCB* gcb, re_compiled* rx, const char* s, const char* to, bool bound, bool word_before,
                          bool check_only, Word&& word, Step&& step)
{
    bool prev = word_before;
    for (; s < to; s = step(s)) {
        bool x = word(s);
        if (x != prev) {
            prev = x;
            if (bound && (check_only || re_try_at(gcb, rx, s)))
                return s;
        } else if (!bound && (check_only || re_try_at(gcb, rx, s)))
            return s;
    }
    if (!rx->min_length && (bound ? prev : !prev) && (check_only || re_try_at(gcb, rx, s)))
        return s;
    return nullptr;
}

}  // namespace

// The start-class scan: the first position in [s, strend) where the class
// node c holds (check_only: the finder narrowing its guess) or where an
// attempt there succeeds (the driver's loop). Cases that depend on the
// locale mark the match tainted first, whatever they find. strbeg is the
// beginning of the subject: a boundary test at s reads the character
// before s, as the matcher does, unless s is the beginning.
const char* re_scan_start_class(PERLGCB* gcb, re_compiled* rx, re_program_node* c, const char* s, const char* strend,
                                const char* strbeg, int32_t check_only)
{
    auto byte = [](const char* p) { return static_cast<uint8_t>(*p); };
    switch (c->type) {
    case RE_EXACTF:
    case RE_EXACTFL: {
        // A case-blind literal: c1 and c2 are its first byte in either case
        // (both from the interpreter's fold table, also under locale).
        const char* m = re_text(c);
        int32_t ln = c->flags;  // the literal's length is kept in the flags byte
        uint8_t c1 = static_cast<uint8_t>(*m);
        uint8_t c2 = gcb->fold_table[c1];
        if (c->type == RE_EXACTFL)
            gcb->re_match_flags |= RF_TAINTED;
        const char* e = strend - ln;  // the last start at which the literal fits
        if (s <= e) {
            // Candidates by the literal's two rarest bytes, either case of
            // each, sixteen starts at a time; each is then compared whole.
            // The pair was chosen when the pattern was compiled; without
            // the pattern's search aids it is chosen here.
            int64_t o1 = 0, o2 = 0;
            const uint8_t* lit = reinterpret_cast<const uint8_t*>(m);
            const uint8_t* fold = gcb->fold_table;
            if (rx->accel && c == reinterpret_cast<re_program_node*>(rx->start_class)) {
                o1 = rx->accel->class_o1;
                o2 = rx->accel->class_o2;
            } else
                rare_byte_pair(lit, ln, fold, &o1, &o2);
            int64_t from = 0;
            const int64_t last = e - s;
            while (from <= last) {
                int64_t at = find_byte_pair(s, from, last, o1, lit[o1], fold[lit[o1]], o2, lit[o2], fold[lit[o2]]);
                if (at < 0)
                    break;
                if (!mem_casecmp(gcb, s + at, m, ln) && (check_only || re_try_at(gcb, rx, s + at)))
                    return s + at;
                from = at + 1;
            }
            return nullptr;
        }
        // Only a check reaches here with the range empty: it looks at s
        // alone, and a literal longer than one byte must fit there.
        if (check_only)
            e = s;
        for (; s <= e; s++) {
            uint8_t b = byte(s);
            if ((b == c1 || b == c2) && (ln == 1 || (s + ln <= gcb->re_subject_end && !mem_casecmp(gcb, s, m, ln))) &&
                (check_only || re_try_at(gcb, rx, s)))
                return s;
        }
        return nullptr;
    }
    case RE_BOUNDL:
    case RE_NBOUNDL:
        gcb->re_match_flags |= RF_TAINTED;
        [[fallthrough]];
    case RE_BOUND:
    case RE_NBOUND: {
        bool locale = c->type == RE_BOUNDL || c->type == RE_NBOUNDL;
        auto w = [&](uint8_t b) { return locale ? re_is_word_lc(b) : re_is_word(b); };
        // Nothing before the subject counts: it stands for a newline.
        bool before = s != strbeg ? w(byte(s - 1)) : false;
        return scan_boundary(gcb, rx, s, strend, c->type == RE_BOUND || c->type == RE_BOUNDL, before, check_only,
                             [&](const char* p) { return w(byte(p)); }, [](const char* p) { return p + 1; });
    }
    case RE_BOUNDLUTF8:
    case RE_NBOUNDLUTF8:
        gcb->re_match_flags |= RF_TAINTED;
        [[fallthrough]];
    case RE_BOUNDUTF8:
    case RE_NBOUNDUTF8: {
        bool locale = c->type == RE_BOUNDLUTF8 || c->type == RE_NBOUNDLUTF8;
        bool before = s != strbeg && re_word_cp(gcb, re_decode_before(gcb, s), locale);
        return scan_boundary(gcb, rx, s, strend, c->type == RE_BOUNDUTF8 || c->type == RE_BOUNDLUTF8, before,
                             check_only, [&](const char* p) { return re_word_at(gcb, p, locale); },
                             [&](const char* p) { return p + re_char_skip(gcb, p); });
    }
#define RE_CLASS_CASE(name) case RE_##name:
        RE_CLASS_OPS(RE_CLASS_CASE)
#undef RE_CLASS_CASE
        // The one-character classes: the same per-opcode test that the
        // matcher and the repeat counter use, and a UTF-8 step for the
        // UTF-8 opcodes.
        if (re_class_locale(c->type))
            gcb->re_match_flags |= RF_TAINTED;
        if (rx->accel && rx->accel->class_ranges.count && c == reinterpret_cast<re_program_node*>(rx->start_class)) {
            // A plain bracket class of a few ranges, such as [A-Z] or
            // [a-zA-Z] (the optimiser found the ranges): the next member is
            // found sixteen bytes at a time, and under the run rule the end
            // of its run likewise.
            const ByteRanges& ranges = rx->accel->class_ranges;
            bool every_position = !(rx->analysis_flags & REA_SKIP);
            while (s < strend) {
                s = find_byte_ranges(s, strend, &ranges, true);
                if (s >= strend)
                    break;
                if (check_only || re_try_at(gcb, rx, s))
                    return s;
                s = every_position ? s + 1 : find_byte_ranges(s + 1, strend, &ranges, false);
            }
            return nullptr;
        }
        return re_with_class_op(c->type, [&](auto op) {
            constexpr uint8_t Op = decltype(op)::value;
            return scan_class(gcb, rx, s, strend, check_only, re_class_utf8(Op),
                              [&](const char* p) { return re_class_accepts_op<Op>(gcb, c, p); });
        });
    default:
        // The optimiser never makes a start class of any other node.
        fatal_error(gcb, "panic: unknown regstclass %d", static_cast<int>(c->type));
    }
}

// ---- one attempt -----------------------------------------------------------------------

// Runs the node program once, with the match starting at startpos. The
// capture offsets live in the pattern (start and end arrays, from the
// subject's beginning, -1 for a group that did not take part); this resets
// them, so a failed attempt leaves no stale group behind for the next one.
// Success: 1, group 0 spans the match and re_input is its end. Failure: 0,
// with the backtracking stack back at its level on entry.
int32_t re_try_at(PERLGCB* gcb, re_compiled* rx, const char* startpos)
{
    gcb->re_indent = 0;
    rx->start_offsets[0] = static_cast<int32_t>(startpos - gcb->re_subject_begin);
    gcb->re_input = startpos;
    gcb->re_starts = rx->start_offsets;
    gcb->re_ends = rx->end_offsets;
    gcb->re_last_group = &rx->last_group;
    rx->last_group = 0;
    gcb->re_open_high = 0;
    if (re_debug_on(gcb))
        gcb->re_attempt_start = startpos;
    // re_open_at keeps, per group, where an open group began (the matcher
    // reads it at the group's close); it only grows.
    if (gcb->re_open_at_size <= rx->group_count) {
        // Grown cleared: a capture save copies the entries of groups that
        // this attempt has not opened, and the trace prints them.
        // The size is raised only once the block has it: a failed
        // reallocation leaves both as they were for the next match.
        uint32_t old_size = gcb->re_open_at_size;
        uint32_t new_size = rx->group_count * 3 / 2 + 3;
        const char** grown = static_cast<const char**>(
            pool_realloc(gcb, gcb->re_open_at, static_cast<uint64_t>(new_size) * sizeof(const char*)));
        for (uint32_t i = old_size; i < new_size; i++)
            grown[i] = nullptr;
        gcb->re_open_at = grown;
        gcb->re_open_at_size = new_size;
    }
    for (uint32_t i = 1; i <= rx->group_count; i++) {
        rx->start_offsets[i] = -1;
        rx->end_offsets[i] = -1;
    }
    int32_t saved_level = gcb->re_bt_ix;
    if (re_debug_on(gcb))
        re_trace_scope_set(gcb, saved_level);
    // The program's unit 0 is the magic mark; the nodes begin after it.
    if (re_match_nodes(gcb, reinterpret_cast<re_program_node*>(rx->program) + 1)) {
        rx->end_offsets[0] = static_cast<int32_t>(gcb->re_input - gcb->re_subject_begin);
        return 1;
    }
    if (re_debug_on(gcb) && gcb->re_bt_ix != saved_level)
        re_trace_scope_clear(gcb, saved_level, gcb->re_bt_ix);
    // What the failed attempt left on the backtracking stack is dropped;
    // a success leaves it for the caller's restore.
    if (gcb->re_bt_ix > saved_level)
        gcb->re_bt_ix = saved_level;
    return 0;
}

// re_exec for callers that say with a flag whether the pattern keeps its own
// copy of the subject (0) or points into the caller's (nonzero).
int32_t re_exec_nocopy(PERLGCB* gcb, re_compiled* rx, const char* start, const char* end, const char* begin,
                       int32_t min_end, SV* subject, int32_t nocopy)
{
    return re_exec(gcb, rx, start, end, begin, min_end, subject, nullptr, nocopy ? 0u : static_cast<uint32_t>(REXEC_COPY));
}

// ---- the start-position finder ------------------------------------------------------------
//
// The finder answers where a match could start, from what the optimiser
// proved about every match: its minimum length, its check substring (the
// longest literal every match holds, at a known offset range from the
// start), the other substring, the anchors and the start class. The answer
// may be too early (the attempt there may still fail) but never too late:
// none means no match anywhere in the range, and the driver trusts that.
//
// The order of the tests is by cost. A subject too short for the minimum
// length is rejected without looking at it. The check substring is searched
// next (Boyer-Moore, or the study tables of a studied subject): it is the
// one test that skips most of the subject at once. A hit pins the match
// start to a window before it; the other substring (when the pattern has
// both) must then lie within its own window of that start, and under /^/m a
// line start must come before it. The start class is scanned last, over the
// few bytes that window leaves, since it looks at every byte it passes.
//
// Each test that contradicts the current candidate either proves that no
// later start can help (fail), or moves the candidate one character past
// the start it ruled out and searches the check substring again (restart).
//
// The check substring keeps a usefulness count in its search body, kept
// across matches of the pattern: +5 when it proved a match impossible, +1
// when a hit moved the start forward, -1 when the hit left the start where
// it was. A floating check substring whose count drops below 0 costs more
// than it saves; it is dropped for good, and the pattern's callers stop
// calling the finder. A "naughty" pattern (one the compiler scored as
// complex enough that a wasted attempt costs more than any search) keeps it
// whatever its score.

namespace {

// The finder's steps. Each helper below does one and names the next; the
// tests loop back to `search` with s moved past what they ruled out.
enum class Guess : uint8_t {
    search,          // find the check substring from s (the restart point)
    check_anchored,  // the check is floating: the anchored one must precede it
    check_floating,  // the check is anchored: the floating one must follow it
    at_start,        // the substrings allow strpos itself
    accept_start,    // strpos stands: score the check substring, then the class
    at_offset,       // the substrings put the start at t, after strpos
    line_search,     // /^/m: find the line start at or after t
    start_class,     // narrow s by the start class
    done,            // s is the answer
    fail_penalty,    // no match: the check substring earned its keep
    fail,            // no match, for a reason of no credit to the substring
};

// One call's state. strpos is the earliest start still possible and only
// grows; s is the position being worked on (the check hit, or a start); t
// is a start that a substring test derived; check_at is the last check hit.
struct Finder {
    PERLGCB* gcb;
    re_compiled* rx;
    SV* sv;
    re_substr_info* sub;
    SV* check;     // null once dropped within this call
    SV* anchored;  // the anchored substring, or null
    uint32_t flags;
    re_guess_data* data;
    const char* initial_strpos;  // the start argument: trace offsets count from it
    const char* strpos;
    const char* strend;
    const char* strbeg;  // the subject's beginning, when the value tells it
    const char* s;
    const char* t;
    const char* check_at;
    const char* other_last;  // the other substring is not searched before it
    int32_t minlen;
    int32_t start_shift;  // the check substring's least offset from the start
    int64_t end_shift;    // bytes after the check substring that any match needs
    bool ml_anch;         // anchored at line starts: any start after a newline is allowed
};

// Whether the trace is on; the finder writes its trace lines through say.
inline bool tracing(const Finder& f) { return re_debug_on(f.gcb); }

// The anchor tests, before any search. Anchored at the subject's start
// (\A, \G, or ^ without /m) the start cannot move, so a subject value whose
// string begins before strpos rules out every start; a check substring at a
// constant offset is then decided by one comparison, and one at a variable
// offset only narrows the end of the search. Anchored at line starts, every
// start after a newline remains possible: the line search comes after the
// substring search.
Guess test_anchors(Finder& f)
{
    PERLGCB* gcb = f.gcb;
    re_compiled* rx = f.rx;
    re_substr_info* sub = f.sub;
    f.s = f.strpos;
    if (!(rx->analysis_flags & REA_ANCH)) {
        f.ml_anch = false;
        return Guess::search;
    }
    f.ml_anch = !((rx->analysis_flags & (REA_SBOL | REA_GPOS)) || ((rx->analysis_flags & REA_BOL) && !gcb->multiline));
    if (f.ml_anch)
        return Guess::search;
    // Under \G the start is pos, not the subject's beginning; a
    // reference's own string is not the text matched. Neither case says
    // whether strpos begins the subject. A leading .* under /s anchors at
    // the start of the search, wherever that is, not at the subject's.
    if (!(rx->analysis_flags & (REA_GPOS | REA_IMPLICIT)) && f.sv && !(f.sv->flags & SVf_ROK) &&
        f.strpos != f.strbeg) {
        if (tracing(f)) [[unlikely]]
            say("Not at start...\n");
        return Guess::fail;
    }
    if (sub[RE_SUBSTR_CHECK].min_offset != sub[RE_SUBSTR_CHECK].max_offset) {
        // Every match ends the substring by e characters after the start.
        int64_t e = sub[RE_SUBSTR_CHECK].max_offset + char_len(gcb, f.check) - (has_tail(f.check) ? 1 : 0);
        int64_t eshift = (f.strend - f.s) - e;
        if (f.end_shift < eshift)
            f.end_shift = eshift;
        return Guess::search;
    }
    // The substring sits at a constant offset from the only possible start.
    gcb->re_subject_end = f.strend;
    const char* s = hop(gcb, f.strpos, sub[RE_SUBSTR_CHECK].min_offset);
    int64_t slen = 0;
    const char* cs = substr_text(gcb, f.check, &slen);
    bool equal;
    if (has_tail(f.check)) {
        // "x\n" with the tail mark: the subject ends with "x", or with "x\n".
        int64_t room = f.strend - s;
        if (room > slen || room < slen - 1 || (room == slen && f.strend[-1] != '\n')) {
            if (tracing(f)) [[unlikely]]
                say("String too long...\n");
            return Guess::fail_penalty;
        }
        slen--;
        equal = !slen || (*cs == *s && (slen == 1 || std::memcmp(cs, s, static_cast<size_t>(slen)) == 0));
    } else
        equal = f.strend - s >= slen && (!slen || *cs == *s) &&
                (slen <= 1 || std::memcmp(cs, s, static_cast<size_t>(slen)) == 0);
    if (!equal) {
        if (tracing(f)) [[unlikely]]
            say("String not equal...\n");
        return Guess::fail_penalty;
    }
    f.check_at = s;  // the start-class scan ends by it
    f.s = f.strpos;
    return Guess::accept_start;
}

// The earliest start that a check hit at s allows, when it lies after
// strpos: the hit less the check substring's largest offset. None when
// strpos itself stays possible. In a UTF-8 pattern the offset counts
// characters, and a step that would cross strpos leaves strpos.
const char* start_after_strpos(Finder& f)
{
    PERLGCB* gcb = f.gcb;
    int32_t maxoff = f.sub[RE_SUBSTR_CHECK].max_offset;
    if (f.s - f.strpos <= maxoff)
        return nullptr;
    if (!(f.rx->analysis_flags & REA_UTF8))
        return f.s - maxoff;
    const char* saved = gcb->re_subject_begin;
    gcb->re_subject_begin = f.strpos;
    const char* h = re_step_chars_or_fail(gcb, f.s, -maxoff);
    gcb->re_subject_begin = saved;
    return h && h > f.strpos ? h : nullptr;
}

// The check substring's search from s, which every restart comes back to.
// A studied subject answers from its position tables, and the driver gets
// the hit for its own use. With one substring the hit decides the start;
// with two, the other one is looked for next.
Guess search_check(Finder& f)
{
    PERLGCB* gcb = f.gcb;
    re_substr_info* sub = f.sub;
    f.other_last = nullptr;
    if (f.flags & REXEC_STUDIED) {
        int32_t iterator = -1;
        int32_t* it = f.data && f.data->study_iterator ? f.data->study_iterator : &iterator;
        f.s = study_find(gcb, f.sv, f.check, static_cast<int32_t>((f.s - f.strbeg) + f.start_shift),
                         static_cast<int32_t>(f.end_shift), it, 0);
        if (f.data && f.data->last_position)
            *f.data->last_position = f.s;
    } else
        f.s = search(gcb, f.s + f.start_shift, f.strend - f.end_shift, f.check);
    if (tracing(f)) [[unlikely]]
        say_substr(gcb, f.s ? "Found" : "Did not find", f.check == f.anchored ? "anchored" : "floating", f.check,
                   f.s ? " at offset " : "...\n");
    if (!f.s)
        return Guess::fail_penalty;
    f.check_at = f.s;
    if (tracing(f)) [[unlikely]]
        say("%ld...\n", offset_of(f.s, f.initial_strpos));

    if (sub[RE_SUBSTR_FLOATING].substr && f.anchored) {
        if (!f.other_last)
            f.other_last = f.strpos;
        return f.check == sub[RE_SUBSTR_FLOATING].substr ? Guess::check_anchored : Guess::check_floating;
    }
    if (const char* t = start_after_strpos(f)) {
        f.t = t;
        return Guess::at_offset;
    }
    return Guess::at_start;
}

// Searches the other substring from `from` to where it must end at the
// latest, last being the latest place it may begin.
const char* find_other(Finder& f, SV* other, const char* kind, const char* from, const char* last)
{
    int64_t len = 0;
    substr_text(f.gcb, other, &len);
    const char* to = last + len - (has_tail(other) ? 1 : 0);
    if (to > f.strend)
        to = f.strend;
    const char* h = search(f.gcb, from, to, other);
    if (tracing(f)) [[unlikely]]
        say_substr(f.gcb, h ? "Found" : "Contradicts", kind, other, "");
    return h;
}

// The other substring is missing from its window. When the window already
// reached as far as any match can, no start helps; otherwise the search
// restarts one character after `from`, the start the window ruled out.
Guess other_missing(Finder& f, bool window_at_end, const char* from, const char* retrying)
{
    if (window_at_end) {
        if (tracing(f)) [[unlikely]]
            say(", giving up...\n");
        return Guess::fail_penalty;
    }
    f.gcb->re_subject_end = f.strend;
    f.s = hop(f.gcb, from, 1);
    if (tracing(f)) [[unlikely]]
        say(retrying, offset_of(f.s, f.initial_strpos));
    return Guess::search;
}

// The other substring is at h, and t is the start the substrings give. The
// next search of the other one goes past h; s returns to the check hit.
Guess other_found(Finder& f, const char* h, const char* check_hit)
{
    if (tracing(f)) [[unlikely]]
        say(" at offset %ld...\n", offset_of(h, f.initial_strpos));
    f.other_last = h + 1;
    f.s = check_hit;
    return f.t == f.strpos ? Guess::at_start : Guess::at_offset;
}

// The floating check substring was found at s: the anchored substring must
// stand at its fixed offset from a start within the check's offset window
// before s (and not before other_last, past which it was already sought).
Guess check_anchored(Finder& f)
{
    re_substr_info* sub = f.sub;
    const char* last = f.s - f.start_shift;  // the latest start this hit allows
    const char* check_hit = f.s;
    const char* t = start_after_strpos(f);
    if (!t)
        t = f.strpos;
    t += sub[RE_SUBSTR_ANCHORED].min_offset;
    if (t < f.other_last)
        t = f.other_last;
    const char* last2 = f.strend - f.minlen;  // the latest start of any match
    const char* last1 = last < last2 ? last : last2;
    const char* h = find_other(f, f.anchored, "anchored", t, last1 + sub[RE_SUBSTR_ANCHORED].min_offset);
    if (!h)
        return other_missing(f, last1 >= last2, last, ", trying floating at offset %ld...\n");
    f.t = h - sub[RE_SUBSTR_ANCHORED].min_offset;
    return other_found(f, h, check_hit);
}

// The anchored check substring was found at s, fixing the start t: the
// floating substring must begin within its offset window after t.
Guess check_floating(Finder& f)
{
    re_substr_info* sub = f.sub;
    SV* fl = sub[RE_SUBSTR_FLOATING].substr;
    const char* check_hit = f.s;
    f.t = f.s - f.start_shift;
    const char* last1 = f.strend - f.minlen + sub[RE_SUBSTR_FLOATING].min_offset;  // bounded by the subject
    const char* last = last1;
    if (last - f.t > sub[RE_SUBSTR_FLOATING].max_offset)
        last = f.t + sub[RE_SUBSTR_FLOATING].max_offset;  // bounded by the window
    const char* from = f.t + sub[RE_SUBSTR_FLOATING].min_offset;
    if (from < f.other_last)
        from = f.other_last;
    const char* h = find_other(f, fl, "floating", from, last);
    if (!h)
        return other_missing(f, last1 == last, f.t, ", trying anchored starting at offset %ld...\n");
    return other_found(f, h, check_hit);
}

// A hit that moved the start forward narrowed the search: credit it.
Guess credit_check(Finder& f)
{
    if (f.check)
        usefulness(f.check)++;
    return Guess::start_class;
}

// The substrings allow strpos. Under /^/m strpos must still be a line
// start, unless it begins the subject or the anchor came from a leading .*
// (which matches from any position).
Guess at_start(Finder& f)
{
    if (f.ml_anch && f.sv && !(f.sv->flags & SVf_ROK) && f.strpos != f.strbeg && f.strpos[-1] != '\n' &&
        !(f.rx->analysis_flags & REA_IMPLICIT)) {
        f.t = f.strpos;
        return Guess::line_search;
    }
    return Guess::accept_start;
}

// strpos stands. The hit did not move it, so the check substring did no
// work this time: a floating one that keeps doing none is dropped.
Guess accept_start(Finder& f)
{
    PERLGCB* gcb = f.gcb;
    re_substr_info* sub = f.sub;
    if (f.ml_anch && tracing(f)) [[unlikely]]
        say("Position at offset %ld does not contradict /%s^%s/m...\n", offset_of(f.strpos, f.initial_strpos),
            re_colour(gcb, 0), re_colour(gcb, 1));
    if (!(f.rx->analysis_flags & REA_NAUGHTY) && f.check && --usefulness(f.check) < 0 &&
        f.check == sub[RE_SUBSTR_FLOATING].substr) {
        if (tracing(f)) [[unlikely]]
            say("... Disabling check substring...\n");
        // The check entry borrows the floating entry's reference: one
        // release, and both entries are cleared.
        sv_release(gcb, f.check);
        sub[RE_SUBSTR_CHECK].substr = nullptr;
        sub[RE_SUBSTR_FLOATING].substr = nullptr;
        f.check = nullptr;
        f.rx->analysis_flags &= ~REA_USE_FINDER;
    }
    f.s = f.strpos;
    return Guess::start_class;
}

// The substrings put the start at t, after strpos. Under /^/m it must be a
// line start as well.
Guess at_offset(Finder& f)
{
    if (f.ml_anch && f.t[-1] != '\n')
        return Guess::line_search;
    if (tracing(f)) [[unlikely]]
        say_line_start(f.gcb, "Starting position does not contradict /%s^%s/m...\n");
    f.s = f.t;
    return credit_check(f);
}

// /^/m: the first newline at or after t (before the last start any match
// allows) gives the line start. One before the check hit's window is a
// start to verify (the anchored substring again, when there is one); one at
// or past it means no start before the hit fits, and the check substring is
// searched again from that line.
Guess line_search(Finder& f)
{
    PERLGCB* gcb = f.gcb;
    while (f.t < f.strend - f.minlen) {
        if (*f.t == '\n') {
            if (f.t < f.check_at - f.sub[RE_SUBSTR_CHECK].min_offset) {
                if (f.anchored) {
                    f.strpos = f.t + 1;
                    if (tracing(f)) [[unlikely]]
                        say_line_start(gcb, "Found /%s^%s/m at offset %ld, rescanning for anchored from offset %ld...\n",
                                       offset_of(f.strpos, f.initial_strpos),
                                       offset_of(f.strpos + f.sub[RE_SUBSTR_ANCHORED].min_offset, f.initial_strpos));
                    f.s = f.check_at;
                    return Guess::check_anchored;
                }
                f.s = f.t + 1;
                if (tracing(f)) [[unlikely]]
                    say_line_start(gcb, "Found /%s^%s/m at offset %ld...\n", offset_of(f.s, f.initial_strpos));
                return credit_check(f);
            }
            f.other_last = f.strpos = f.s = f.t + 1;
            if (tracing(f)) [[unlikely]]
                say_line_start(gcb, "Found /%s^%s/m, restarting lookup for check-string at offset %ld...\n",
                               offset_of(f.s, f.initial_strpos));
            return Guess::search;
        }
        f.t++;
    }
    if (tracing(f)) [[unlikely]]
        say_line_start(gcb, "Did not find /%s^%s/m...\n");
    return Guess::fail_penalty;
}

// The start class ruled out the start at t: restart the search of the check
// substring (`what` names it for the trace) one character later, unless the
// check substring can no longer fit before the end. No match starts where
// the class fails, so the restart moves on to the next place where it holds
// (the scan ends there, and the next one begins past it: together they read
// the subject once); none left is no match, since a match of some length
// cannot start at the end. A common check substring (a
// space) would otherwise cost a search and a class scan at each of its hits.
// Under the trace the restart stays one character later, as its lines say.
Guess hop_then_restart(Finder& f, const char* what)
{
    PERLGCB* gcb = f.gcb;
    gcb->re_subject_end = f.strend;
    f.s = hop(gcb, f.t, 1);
    if (f.rx->start_class && f.minlen > 0 && f.s < f.strend && !tracing(f)) {
        re_compiled* rx = f.rx;
        if (rx->analysis_flags & REA_UTF8) {
            gcb->re_data = rx->data;
            gcb->re_subject_begin = f.strbeg;
        }
        f.s = re_scan_start_class(gcb, rx, reinterpret_cast<re_program_node*>(rx->start_class), f.s, f.strend,
                                  f.strbeg, 1);
        if (!f.s)
            return Guess::fail;
    }
    if (f.s + f.start_shift + f.end_shift > f.strend) {
        if (tracing(f)) [[unlikely]]
            say("Could not match STCLASS...\n");
        return Guess::fail;
    }
    if (!f.check)
        return Guess::done;
    if (tracing(f)) [[unlikely]]
        say("Looking for %s substr starting at offset %ld...\n", what, offset_of(f.s + f.start_shift, f.initial_strpos));
    return Guess::search;
}

// The floating check hit at check_at allows no start after the one the
// class ruled out: the floating substring is searched again past it.
Guess retry_floating(Finder& f)
{
    f.t = f.check_at - f.start_shift;
    return hop_then_restart(f, "floating");
}

// The start class holds nowhere in the window the substrings left. When
// the window reached the subject's end, or the start is pinned, that is
// final; otherwise the substring that bounds the window is searched again
// past the start that was ruled out. A check substring dropped in this call
// can no longer restart anything: s is then given up as the answer.
Guess class_contradicts(Finder& f)
{
    re_substr_info* sub = f.sub;
    if ((f.rx->analysis_flags & REA_ANCH) && !f.ml_anch)
        return Guess::fail;
    if (sub[RE_SUBSTR_ANCHORED].substr) {
        if (sub[RE_SUBSTR_ANCHORED].substr == f.check)
            return hop_then_restart(f, "anchored");
        // The check is floating: the anchored substring fixes the start.
        if (f.t + f.start_shift >= f.check_at)
            return retry_floating(f);
        f.s = f.check_at;
        if (!f.check)
            return Guess::done;
        if (tracing(f)) [[unlikely]]
            say("Looking for anchored substr starting at offset %ld...\n", offset_of(f.s, f.initial_strpos));
        return Guess::check_anchored;
    }
    if (f.ml_anch) {
        f.s = f.t = f.t + 1;
        if (!f.check)
            return Guess::done;
        if (tracing(f)) [[unlikely]]
            say_line_start(f.gcb, "Looking for /%s^%s/m starting at offset %ld...\n", offset_of(f.s, f.initial_strpos));
        return Guess::at_offset;
    }
    if (!sub[RE_SUBSTR_FLOATING].substr)
        return Guess::fail;
    return retry_floating(f);
}

// The start class, scanned from s over the window where a match could
// still start: the class width past s when the start is fixed (by the
// anchored substring, or a line start), up to the floating hit less its
// offset, or else to the end. The scan may move s forward.
Guess narrow_by_class(Finder& f)
{
    PERLGCB* gcb = f.gcb;
    re_compiled* rx = f.rx;
    re_substr_info* sub = f.sub;
    if (!rx->start_class)
        return Guess::done;
    re_program_node* cls = reinterpret_cast<re_program_node*>(rx->start_class);
    int32_t class_len = re_kind(cls) == RE_EXACT ? static_cast<int32_t>(cls->flags) : 1;
    const char* endpos = (sub[RE_SUBSTR_ANCHORED].substr || f.ml_anch) ? f.s + (f.minlen ? class_len : 0)
                       : sub[RE_SUBSTR_FLOATING].substr               ? f.check_at - f.start_shift + class_len
                                                                       : f.strend;
    if (endpos > f.strend)
        endpos = f.strend;
    f.t = f.s;
    if (rx->analysis_flags & REA_UTF8) {
        // The UTF-8 class tests read the pattern's swashes and step back
        // over the character before the scan.
        gcb->re_data = rx->data;
        gcb->re_subject_begin = f.strbeg;
    }
    gcb->re_subject_end = f.strend;
    const char* r = re_scan_start_class(gcb, rx, cls, f.s, endpos, f.strbeg, 1);
    if (!r) {
        if (endpos == f.strend) {
            if (tracing(f)) [[unlikely]]
                say("Could not match STCLASS...\n");
            return Guess::fail;
        }
        if (tracing(f)) [[unlikely]]
            say("This position contradicts STCLASS...\n");
        return class_contradicts(f);
    }
    if (tracing(f)) [[unlikely]] {
        if (r == f.s)
            say("Does not contradict STCLASS...\n");
        else
            say("By STCLASS: moving %ld --> %ld\n", offset_of(f.s, f.initial_strpos), offset_of(r, f.initial_strpos));
    }
    f.s = r;
    return Guess::done;
}

const char* guess_start(PERLGCB* gcb, re_compiled* rx, SV* sv, const char* strpos, const char* strend,
                        uint32_t flags, re_guess_data* data)
{
    re_substr_info* sub = rx->substrings;
    if (re_utf8_mode(gcb) != ((rx->analysis_flags & REA_UTF8) != 0)) {
        // The mode of this pattern, whatever the last match left.
        if (rx->analysis_flags & REA_UTF8)
            gcb->re_match_flags |= RF_UTF8;
        else
            gcb->re_match_flags &= ~RF_UTF8;
    }
    if (re_debug_on(gcb)) [[unlikely]]
        say_guessing(gcb, rx, strpos, strend);

    // Every field named: the record is set up on every call, and a
    // blanket clear of it costs more than the stores.
    Finder f{.gcb = gcb,
             .rx = rx,
             .sv = sv,
             .sub = sub,
             .check = sub[RE_SUBSTR_CHECK].substr,
             .anchored = sub[RE_SUBSTR_ANCHORED].substr,
             .flags = flags,
             .data = data,
             .initial_strpos = strpos,
             .strpos = strpos,
             .strend = strend,
             .strbeg = strpos,
             .s = strpos,
             .t = nullptr,
             .check_at = nullptr,
             .other_last = nullptr,
             .minlen = rx->min_length,
             .start_shift = 0,
             .end_shift = 0,
             .ml_anch = false};
    Guess step;
    if (f.minlen > strend - strpos) {
        if (re_debug_on(gcb)) [[unlikely]]
            say("String too short...\n");
        step = Guess::fail;
    } else if (!f.check)
        return strpos;
    else {
        // The subject's beginning is known from a string value that holds
        // the range, or from the driver; otherwise strpos stands for it
        // (and a word boundary there is taken to follow a newline).
        if (sv && (sv->flags & SVf_POK) && static_cast<uint64_t>(strend - strpos) <= sv_cur(sv) &&
            !(sv->flags & SVf_ROK))
            f.strbeg = strend - sv_cur(sv);
        else if (data && data->subject_begin)
            f.strbeg = data->subject_begin;
        else
            f.strbeg = strpos;
        // Every step below stays within the subject these two name (the entry
        // puts the caller's back).
        gcb->re_subject_begin = f.strbeg;
        gcb->re_subject_end = strend;
        f.start_shift = sub[RE_SUBSTR_CHECK].min_offset;
        f.end_shift = static_cast<int64_t>(f.minlen) - f.start_shift - char_len(gcb, f.check) + (has_tail(f.check) ? 1 : 0);
        step = test_anchors(f);
        if (step == Guess::search && f.end_shift < 0)
            f.end_shift = 0;
    }
    for (;;) {
        switch (step) {
        case Guess::search: step = search_check(f); break;
        case Guess::check_anchored: step = check_anchored(f); break;
        case Guess::check_floating: step = check_floating(f); break;
        case Guess::at_start: step = at_start(f); break;
        case Guess::accept_start: step = accept_start(f); break;
        case Guess::at_offset: step = at_offset(f); break;
        case Guess::line_search: step = line_search(f); break;
        case Guess::start_class: step = narrow_by_class(f); break;
        case Guess::done:
            if (re_debug_on(gcb)) [[unlikely]]
                say("%s%s:%s match at offset %ld\n", re_colour(gcb, 4), f.check ? "Guessed" : "Giving up",
                    re_colour(gcb, 5), offset_of(f.s, f.initial_strpos));
            return f.s;
        case Guess::fail_penalty:
            if (sub[RE_SUBSTR_CHECK].substr)
                usefulness(sub[RE_SUBSTR_CHECK].substr) += 5;
            [[fallthrough]];
        case Guess::fail:
            if (re_debug_on(gcb)) [[unlikely]]
                say("%sMatch rejected by optimizer%s\n", re_colour(gcb, 4), re_colour(gcb, 5));
            return nullptr;
        }
    }
}

}  // namespace

const char* re_guess_start(PERLGCB* gcb, re_compiled* rx, SV* sv, const char* strpos, const char* strend,
                           uint32_t flags, re_guess_data* data)
{
    // The finder bounds its steps by the subject it is given; the match that
    // called it goes on with its own.
    const char* begin = gcb->re_subject_begin;
    const char* end = gcb->re_subject_end;
    const char* s = guess_start(gcb, rx, sv, strpos, strend, flags, data);
    gcb->re_subject_begin = begin;
    gcb->re_subject_end = end;
    return s;
}

// ---- the match driver -------------------------------------------------------------------------

namespace {

// The guard's counter at the start of a match (gcb->re_depth, this
// thread's): its value is returned, and an outermost match of the
// interpreter starts from 0.
int32_t guard_depth_reset(PERLGCB* gcb)
{
    int32_t* depth = gcb->re_depth;
    int32_t before = *depth;
    if (gcb->re_exec_nesting == 0)
        *depth = 0;
    return before;
}

// The pos value of the subject's 'g' magic, or -1.
int64_t pos_of(SV* sv)
{
    if (!sv || sv_type(sv) < SVt_PVMG || !(sv->flags & (SVs_GMG | SVs_SMG | SVs_RMG)))
        return -1;
    for (MAGIC* mg = static_cast<PVMG*>(sv->any)->magic; mg; mg = mg->next)
        if (mg->type == 'g')
            return mg->len;
    return -1;
}

// The next position after s: one byte, or one UTF-8 character.
inline const char* next_char(PERLGCB* gcb, const char* s, bool utf8)
{
    return s + (utf8 ? re_char_skip(gcb, s) : 1);
}

// The attempts of a pattern whose every match holds one literal of a set
// within a window of offsets from its start (re_accel): each hit of a
// literal allows the starts from hit - set_max to hit - set_min, and those
// are tried in turn, none twice. A byte subject; the trace takes the
// start-class path, whose lines it describes.
int32_t try_literal_set(PERLGCB* gcb, re_compiled* rx, const char* s, const char* strend, const char* strbeg)
{
    const re_accel* a = rx->accel;
    const int64_t end = strend - strbeg;
    for (;;) {
        int64_t q = find_literal_set(strbeg, (s - strbeg) + a->set_min, end, a, gcb->fold_table);
        if (q < 0)
            return 0;
        // Offsets from strbeg: a window may reach back before it.
        int64_t from = q - a->set_max > s - strbeg ? q - a->set_max : s - strbeg;
        const char* p = strbeg + from;
        const char* last = strbeg + (q - a->set_min);
        for (; p <= last; p++)
            if (re_try_at(gcb, rx, p))
                return 1;
        s = last + 1;
    }
}

// The attempts of one match; 1 on success, with the pattern's offsets set
// by the attempt that succeeded. s is the first position worth trying (the
// finder's answer, or the start), startpos the start the caller gave. The
// first way of choosing positions that applies is the only one used: each
// rests on something the optimiser proved about every match.
int32_t find_match(PERLGCB* gcb, re_compiled* rx, const char* s, const char* startpos, const char* strend,
                   const char* strbeg, SV* sv, uint32_t flags)
{
    re_substr_info* sub = rx->substrings;
    int32_t minlen = rx->min_length;
    bool utf8 = re_utf8_mode(gcb);

    if (rx->analysis_flags & (REA_BOL | REA_MBOL | REA_SBOL)) {
        // Anchored at a beginning: the start, and after newlines when
        // allowed (/m, ^ under /m, or a leading .* that can only have
        // stopped at a newline). A line start needs room for the minimum
        // length before the end: the newline before it lies before end. A
        // match of no length may start at the very end, after a final
        // newline.
        if (s == startpos && re_try_at(gcb, rx, startpos))
            return 1;
        if (gcb->multiline || (rx->analysis_flags & (REA_IMPLICIT | REA_MBOL))) {
            const char* end = minlen ? hop(gcb, strend, -(minlen - 1)) - 1 : strend;
            if (sub[RE_SUBSTR_CHECK].substr) {
                // The finder, which knows the line starts under /m, picks
                // each next candidate; without it every position is one.
                if (s != startpos && re_try_at(gcb, rx, s))
                    return 1;
                for (;;) {
                    if (s >= end)
                        return 0;
                    if (rx->analysis_flags & REA_USE_GUESS) {
                        s = re_guess_start(gcb, rx, sv, s + 1, strend, flags, nullptr);
                        if (!s)
                            return 0;
                    } else
                        s++;
                    if (re_try_at(gcb, rx, s))
                        return 1;
                }
            }
            // The finder did not run: the line starts are found by hand, the
            // byte before s included (s itself may be one).
            if (s > startpos)
                s--;
            while (s < end) {
                if (*s++ == '\n' && re_try_at(gcb, rx, s))
                    return 1;
            }
        }
        return 0;
    }
    // Anchored at \G: pos is the one place a match may start.
    if (rx->analysis_flags & REA_GPOS)
        return re_try_at(gcb, rx, gcb->re_g_anchor);

    SV* anchored = sub[RE_SUBSTR_ANCHORED].substr;
    SV* floating = sub[RE_SUBSTR_FLOATING].substr;
    if (anchored && (rx->analysis_flags & REA_SKIP)) {
        // /x+whatever/: one attempt per run of x, at its start; an attempt
        // later in the run would only find a shorter x+.
        int64_t alen = 0;
        char ch = substr_text(gcb, anchored, &alen)[0];
        bool seen = false;
        while (s < strend) {
            if (*s == ch) {
                seen = true;
                if (re_try_at(gcb, rx, s))
                    return 1;
                s = next_char(gcb, s, utf8);
                while (s < strend && *s == ch)
                    s = next_char(gcb, s, utf8);
            }
            if (s < strend)
                s = next_char(gcb, s, utf8);
        }
        if (!seen && re_debug_on(gcb)) [[unlikely]]
            say("Did not find anchored character...\n");
        return 0;
    }
    if (anchored || (floating && sub[RE_SUBSTR_FLOATING].max_offset < strend - s)) {
        // A substring at a bounded offset: each hit h allows the starts from
        // h - back_max to h - back_min, and those are tried in turn. last1 is
        // the last start already covered, so overlapping windows of nearby
        // hits try no start twice. A floating substring whose window is as
        // wide as the rest of the subject would narrow nothing.
        SV* must = anchored ? anchored : floating;
        int32_t back_max = anchored ? sub[RE_SUBSTR_ANCHORED].min_offset : sub[RE_SUBSTR_FLOATING].max_offset;
        int32_t back_min = anchored ? sub[RE_SUBSTR_ANCHORED].min_offset : sub[RE_SUBSTR_FLOATING].min_offset;
        const char* last = hop(gcb, strend, -static_cast<int32_t>(char_len(gcb, must) - (has_tail(must) ? 1 : 0) + back_min));
        const char* last1 = s > strbeg ? hop(gcb, s, -1) : s - 1;
        int32_t iterator = -1;
        bool seen = false;
        while (s <= last) {
            const char* h;
            if (flags & REXEC_STUDIED)
                h = study_find(gcb, sv, must, static_cast<int32_t>(hop(gcb, s, back_min) - strbeg), 0, &iterator, 0);
            else {
                const char* from = hop(gcb, s, back_min);
                h = from <= strend ? search(gcb, from, strend, must) : nullptr;
            }
            if (!h)
                break;
            seen = true;
            s = h;
            if (hop(gcb, s, -back_max) > last1) {
                last1 = hop(gcb, s, -back_min);
                s = hop(gcb, s, -back_max);
            } else {
                const char* t = last1 >= strbeg ? hop(gcb, last1, 1) : last1 + 1;
                last1 = hop(gcb, s, -back_min);
                s = t;
            }
            while (s <= last1) {
                if (re_try_at(gcb, rx, s))
                    return 1;
                s = next_char(gcb, s, utf8);
            }
        }
        if (!seen && re_debug_on(gcb)) [[unlikely]]
            say_substr(gcb, "Did not find", anchored ? "anchored" : "floating", must, "...\n");
        return 0;
    }
    if (rx->accel && rx->accel->set_count && !utf8 && !re_debug_on(gcb))
        return try_literal_set(gcb, rx, s, strend, strbeg);
    if (rx->start_class) {
        // Tried only where the class holds, and not where the rest of the
        // subject is shorter than the minimum length (a literal start class
        // bounds itself by its length).
        re_program_node* c = reinterpret_cast<re_program_node*>(rx->start_class);
        const char* end = strend;
        if (minlen && re_kind(c) != RE_EXACT)
            end = hop(gcb, strend, -(minlen - 1));
        if (re_scan_start_class(gcb, rx, c, s, end, strbeg, 0))
            return 1;
        if (re_debug_on(gcb)) [[unlikely]]
            say("Contradicts stclass...\n");
        return 0;
    }
    // Every position, up to the last one that leaves room for a match.
    int64_t dontbother = 0;
    if (floating) {
        // Matches cannot start after the last occurrence of the floating
        // substring; a studied subject tells it from its tables, or the
        // finder left it in re_last_position.
        const char* last = nullptr;
        if (flags & REXEC_STUDIED) {
            int32_t iterator = -1;
            last = study_find(gcb, sv, floating, static_cast<int32_t>(s - strbeg), 0, &iterator, 1);
            if (!last)
                last = gcb->re_last_position;
        } else {
            int64_t len = 0;
            const char* little = substr_text(gcb, floating, &len);
            bool find_last = true;
            if (has_tail(floating)) {
                // The tail-marked substring stands at the very end, or
                // before a final newline; under /m only a search can say.
                find_last = false;
                if (strend - s >= len - 1 && std::memcmp(strend - len + 1, little, static_cast<size_t>(len - 1)) == 0)
                    last = strend - len + 1;
                else if (!gcb->multiline)
                    last = strend - s >= len && std::memcmp(strend - len, little, static_cast<size_t>(len)) == 0
                               ? strend - len
                               : nullptr;
                else
                    find_last = true;
            }
            if (find_last)
                last = len ? mem_find_last(gcb, s, strend, little, little + len) : strend;
        }
        if (!last) {
            if (re_debug_on(gcb)) [[unlikely]]
                say("%sCan't trim the tail, match fails (should not happen)%s\n", re_colour(gcb, 4), re_colour(gcb, 5));
            return 0;
        }
        dontbother = (strend - last) + sub[RE_SUBSTR_FLOATING].min_offset;
    }
    if (minlen && dontbother < minlen)
        dontbother = minlen - 1;
    const char* stop = strend - dontbother;
    for (;;) {
        if (re_try_at(gcb, rx, s))
            return 1;
        if (s >= stop)
            return 0;
        s = next_char(gcb, s, utf8);
    }
}

// Every way to no match ends here, with its trace line.
int32_t no_match(PERLGCB* gcb)
{
    if (re_debug_on(gcb)) {
        if (!gcb->re_colours_set)
            re_init_colors(gcb);
        prx_fprintf(PRX_STDOUT, "%sMatch failed%s\n", gcb->re_colours[4], gcb->re_colours[5]);
    }
    return 0;
}

}  // namespace

// Runs the pattern over [start_arg, strend) of the subject that begins at
// strbeg; 1 for a match, 0 for none. A match leaves in the pattern group
// 0 and the groups' offsets from strbeg and the subject they refer to (its
// own copy with REXEC_COPY, else strbeg itself; REXEC_NOT_FIRST keeps what
// the first match of a series recorded). No match leaves the pattern's
// recorded subject as it was. Errors (the backtracking guard among them)
// leave by a long jump.
int32_t re_exec(PERLGCB* gcb, re_compiled* rx, const char* start_arg, const char* strend, const char* strbeg,
                int32_t min_end, SV* sv, void* data, uint32_t flags)
{
    (void)data;
    gcb->re_current_repeat = nullptr;
    gcb->re_pattern_text = rx ? rx->pattern_text : nullptr;
    if (!rx || !start_arg)
        fatal_error(gcb, "NULL regexp parameter");
    gcb->re_program = reinterpret_cast<re_program_node*>(rx->program);
    gcb->re_group_count = rx->group_count;
    gcb->re_data = rx->data;
    gcb->re_pattern = rx;
    if (strend - start_arg < rx->min_length)
        return no_match(gcb);
    // What ^, \b and \B see before the start: a newline at the subject's
    // beginning; a newline before the start counts only under /m.
    if (start_arg == strbeg)
        gcb->re_prev_char = '\n';
    else {
        gcb->re_prev_char = static_cast<uint8_t>(start_arg[-1]);
        if (!gcb->multiline && gcb->re_prev_char == '\n')
            gcb->re_prev_char = 0;
    }
    if (reinterpret_cast<const uint8_t*>(rx->program)[0] != RE_MAGIC)
        fatal_error(gcb, "corrupted regexp program");
    gcb->re_match_flags = 0;
    gcb->re_eval_set = 0;
    gcb->re_max_iterations = 0;
    if (rx->analysis_flags & REA_UTF8)
        gcb->re_match_flags |= RF_UTF8;
    gcb->re_subject_begin = strbeg;
    gcb->re_search_start = start_arg;
    gcb->re_subject = sv;
    gcb->re_subject_end = strend;
    gcb->re_till = start_arg + min_end;  // split and s///g pass 1: an empty match at the start would not move them
    // In a UTF-8 subject the minimum end is a whole character: a match that
    // must move on (split, //g after an empty match) never ends between the
    // bytes of one character, whatever the pattern's own mode.
    if (min_end > 0 && sv && (sv->flags & SVf_UTF8) &&
        !(gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES)))
        while (gcb->re_till < strend && (static_cast<uint8_t>(*gcb->re_till) & 0xC0) == 0x80)
            gcb->re_till++;
    gcb->re_call_frame = nullptr;
    gcb->re_depth = re_depth_counter();
    // The matcher's depth is bounded by the native stack of the thread it
    // runs on, which need not be the one that made the interpreter.
    gcb->stack_floor = prx_stack_floor();
    const char* s = start_arg;

    if (rx->analysis_flags & REA_GPOS_SEEN) {
        // \G is the subject's pos, or its beginning when it has none; a
        // caller that ignores pos makes it the start.
        if (flags & REXEC_IGNORE_POS)
            gcb->re_g_anchor = start_arg;
        else if (int64_t pos = pos_of(sv); pos >= 0)
            gcb->re_g_anchor = strbeg + pos;
        else
            gcb->re_g_anchor = strbeg;
        // A pattern anchored at \G is tried there only, never before start.
        if (rx->analysis_flags & REA_GPOS) {
            if (s > gcb->re_g_anchor)
                return no_match(gcb);
            s = gcb->re_g_anchor;
        }
    }
    // The finder runs here unless the caller ran it already. Its answer is
    // final when none; otherwise it is the first position worth trying.
    if (!(flags & REXEC_CHECKED) && rx->substrings && rx->substrings[RE_SUBSTR_CHECK].substr) {
        re_guess_data d{&gcb->re_last_position, &gcb->re_study_iterator, strbeg};
        gcb->re_last_position = nullptr;
        s = re_guess_start(gcb, rx, sv, s, strend, flags, &d);
        if (!s)
            return no_match(gcb);
        gcb->re_subject_end = strend;
        gcb->re_subject_begin = strbeg;
    }
    if (re_debug_on(gcb)) {
        if (!gcb->re_colours_set)
            re_init_colors(gcb);
        int64_t left = strend - start_arg;
        prx_fprintf(PRX_STDOUT, "%sMatching REx%s `%s%.60s%s%s' against `%s%.*s%s%s'\n", gcb->re_colours[4],
                    gcb->re_colours[5], gcb->re_colours[0], rx->pattern_text, gcb->re_colours[1],
                    rx->pattern_length > 60 ? "..." : "", gcb->re_colours[0], static_cast<int>(left > 60 ? 60 : left),
                    start_arg, gcb->re_colours[1], left > 60 ? "..." : "");
    }

    // The attempts run under an environment of their own, so that every way
    // out of the match (a guard trip, an error of code the matcher calls)
    // gives the nesting counter and the backtracking stack back.
    int32_t depth_before = guard_depth_reset(gcb);
    int32_t bt_before = gcb->re_bt_ix;
    // A match inside a match has a budget of its own; the outer one goes on
    // with what it had left.
    int64_t work_before = gcb->re_work_left;
    gcb->re_work_left = RE_WORK_BASE + RE_WORK_PER_BYTE * static_cast<int64_t>(strend - strbeg);
    gcb->re_exec_nesting++;
    int32_t found = 0;
    JumpEnv env;
    int32_t code = jump_run(gcb, &env, true, [&] { found = find_match(gcb, rx, s, start_arg, strend, strbeg, sv, flags); });
    gcb->re_exec_nesting--;
    gcb->re_work_left = work_before;
    *gcb->re_depth = depth_before;
    gcb->re_bt_ix = bt_before;
    if (code) {
        if (code == JUMP_GUARD && gcb->errno_cell == GUARD_ERRNO_MARK)
            gcb->errno_cell = 0;  // the guard's mark has done its work
        if (!env.prev)
            bridge_fatal_jump();
        jump_to(gcb, env.prev, code);
    }
    if (!found)
        return no_match(gcb);
    // A match that ran a locale-dependent test says so to the pattern ops.
    if (gcb->re_match_flags & RF_TAINTED)
        rx->analysis_flags |= REA_TAINTED;
    else
        rx->analysis_flags &= ~REA_TAINTED;
    // The groups' offsets are read later against the recorded subject: a
    // private copy survives changes to the caller's string.
    if (!(flags & REXEC_NOT_FIRST)) {
        if (rx->analysis_flags & REA_COPY_DONE) {
            pool_free(gcb, rx->subject_copy);
            rx->analysis_flags &= ~REA_COPY_DONE;
        }
        int32_t len = static_cast<int32_t>(gcb->re_subject_end - strbeg);
        if (flags & REXEC_COPY) {
            rx->subject_copy = pool_strndup(gcb, strbeg, len);
            rx->subject_copy_length = len;
            rx->analysis_flags |= REA_COPY_DONE;
        } else {
            rx->subject_copy = const_cast<char*>(strbeg);
            rx->subject_copy_length = len;
        }
    }
    return 1;
}
