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

// Moves p by n characters: bytes, or UTF-8 characters in UTF-8 mode.
const char* hop(PERLGCB* gcb, const char* p, int32_t n)
{
    return re_utf8_mode(gcb) ? re_step_chars(gcb, p, n) : p + n;
}

// The text of a substring value and its length without the tail newline.
const char* substr_text(PERLGCB* gcb, SV* sv, int64_t* len)
{
    uint64_t l = 0;
    const char* s = sv_text(gcb, sv, &l);
    *len = static_cast<int64_t>(l);
    return s;
}
inline bool has_tail(const SV* sv) { return sv->flags & SVf_TAIL; }

// Length in characters of a substring value.
int64_t char_len(PERLGCB* gcb, SV* sv)
{
    int64_t len = 0;
    const char* s = substr_text(gcb, sv, &len);
    if (!re_utf8_mode(gcb))
        return len;
    int64_t n = 0;
    for (int64_t i = 0; i < len; i++)
        if ((static_cast<uint8_t>(s[i]) & 0xC0) != 0x80)
            n++;
    return n;
}

// Searches [from, to) for the prepared substring; none when the range is empty.
const char* search(PERLGCB* gcb, const char* from, const char* to, SV* little)
{
    if (from > to)
        return nullptr;
    return boyer_moore_search(gcb, const_cast<char*>(from), const_cast<char*>(to), little,
                              gcb->multiline ? BM_MULTILINE : 0);
}

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

// The class cases of the start-class scan, one tight loop per test.
template <class Test>
const char* scan_class(PERLGCB* gcb, re_compiled* rx, const char* s, const char* to, bool check_only, bool utf8,
                       Test&& test)
{
    bool every_position = !(rx->analysis_flags & REA_SKIP);
    bool tmp = true;
    while (s < to) {
        if (test(s)) {
            if (tmp && (check_only || re_try_at(gcb, rx, s)))
                return s;
            tmp = every_position;
        } else
            tmp = true;
        s += utf8 ? re_char_skip(gcb, s) : 1;
    }
    return nullptr;
}

}  // namespace

const char* re_scan_start_class(PERLGCB* gcb, re_compiled* rx, re_program_node* c, const char* s, const char* strend,
                                const char* startpos, int32_t check_only)
{
    auto byte = [](const char* p) { return static_cast<uint8_t>(*p); };
    switch (c->type) {
    case RE_EXACTF:
    case RE_EXACTFL: {
        const char* m = re_text(c);
        int32_t ln = c->flags;
        uint8_t c1 = static_cast<uint8_t>(*m);
        uint8_t c2 = gcb->fold_table[c1];
        if (c->type == RE_EXACTFL)
            gcb->re_match_flags |= RF_TAINTED;
        const char* e = strend - ln;
        if (s <= e) {
            // Candidates by the literal's two rarest bytes, either case of
            // each, sixteen starts at a time; each is then compared whole.
            int64_t o1 = 0, o2 = 0;
            const uint8_t* lit = reinterpret_cast<const uint8_t*>(m);
            const uint8_t* fold = gcb->fold_table;
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
        bool bound = c->type == RE_BOUND || c->type == RE_BOUNDL;
        auto w = [&](uint8_t b) { return locale ? re_is_word_lc(b) : re_is_word(b); };
        bool tmp = s != startpos ? w(byte(s - 1)) : false;
        for (; s < strend; s++) {
            bool x = w(byte(s));
            if (x != tmp) {
                tmp = x;
                if (bound && (check_only || re_try_at(gcb, rx, s)))
                    return s;
            } else if (!bound && (check_only || re_try_at(gcb, rx, s)))
                return s;
        }
        if (!rx->min_length && (bound ? tmp : !tmp) && (check_only || re_try_at(gcb, rx, s)))
            return s;
        return nullptr;
    }
    case RE_BOUNDLUTF8:
    case RE_NBOUNDLUTF8:
        gcb->re_match_flags |= RF_TAINTED;
        [[fallthrough]];
    case RE_BOUNDUTF8:
    case RE_NBOUNDUTF8: {
        bool locale = c->type == RE_BOUNDLUTF8 || c->type == RE_NBOUNDLUTF8;
        bool bound = c->type == RE_BOUNDUTF8 || c->type == RE_BOUNDLUTF8;
        bool tmp = s != startpos && re_word_cp(gcb, re_decode_before(gcb, s), locale);
        for (; s < strend; s += re_char_skip(gcb, s)) {
            bool x = re_word_at(gcb, s, locale);
            if (x != tmp) {
                tmp = x;
                if (bound && (check_only || re_try_at(gcb, rx, s)))
                    return s;
            } else if (!bound && (check_only || re_try_at(gcb, rx, s)))
                return s;
        }
        if (!rx->min_length && (bound ? tmp : !tmp) && (check_only || re_try_at(gcb, rx, s)))
            return s;
        return nullptr;
    }
#define RE_CLASS_CASE(name) case RE_##name:
        RE_CLASS_OPS(RE_CLASS_CASE)
#undef RE_CLASS_CASE
        if (re_class_locale(c->type))
            gcb->re_match_flags |= RF_TAINTED;
        return re_with_class_op(c->type, [&](auto op) {
            constexpr uint8_t Op = decltype(op)::value;
            return scan_class(gcb, rx, s, strend, check_only, re_class_utf8(Op),
                              [&](const char* p) { return re_class_accepts_op<Op>(gcb, c, p); });
        });
    default:
        fatal_error(gcb, "panic: unknown regstclass %d", static_cast<int>(c->type));
    }
}

// ---- one attempt -----------------------------------------------------------------------

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
    if (re_match_nodes(gcb, reinterpret_cast<re_program_node*>(rx->program) + 1)) {
        rx->end_offsets[0] = static_cast<int32_t>(gcb->re_input - gcb->re_subject_begin);
        return 1;
    }
    if (re_debug_on(gcb) && gcb->re_bt_ix != saved_level)
        re_trace_scope_clear(gcb, saved_level, gcb->re_bt_ix);
    if (gcb->re_bt_ix > saved_level)
        gcb->re_bt_ix = saved_level;
    return 0;
}

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
// start), the other substring, the anchors and the start class. It first
// rejects a subject too short for the minimum length; then searches the
// check substring (Boyer-Moore, or the study tables); moves the candidate
// start back by the substring's largest offset; verifies the other
// substring within its offset window and, for /^/m, a line start before the
// candidate; and finally scans the start class from there. A contradiction
// at any step restarts the search one character further, or gives up when
// no later start can help. A check substring that keeps failing to narrow
// the search (its usefulness count goes negative) is dropped, unless the
// pattern is "naughty" (complex enough that a wasted attempt costs more
// than the search).

namespace {

const char* guess_start(PERLGCB* gcb, re_compiled* rx, SV* sv, const char* strpos, const char* strend,
                        uint32_t flags, re_guess_data* data)
{
    re_substr_info* sub = rx->substrings;
    SV* check = sub[RE_SUBSTR_CHECK].substr;
    SV* anchored = sub[RE_SUBSTR_ANCHORED].substr;
    const char* const initial_strpos = strpos;
    const char* strbeg;
    const char* s;
    const char* t;
    const char* check_at = nullptr;
    const char* other_last = nullptr;
    int32_t start_shift = 0;
    int64_t end_shift = 0;
    bool ml_anch;
    const int32_t minlen = rx->min_length;
    if (re_utf8_mode(gcb) != ((rx->analysis_flags & REA_UTF8) != 0)) {
        // The mode of this pattern, whatever the last match left.
        if (rx->analysis_flags & REA_UTF8)
            gcb->re_match_flags |= RF_UTF8;
        else
            gcb->re_match_flags &= ~RF_UTF8;
    }
    (void)data;
    if (re_debug_on(gcb)) [[unlikely]]
        say_guessing(gcb, rx, strpos, strend);

    if (minlen > strend - strpos) {
        if (re_debug_on(gcb)) [[unlikely]]
            say("String too short...\n");
        goto fail;
    }
    if (!check)
        return strpos;
    if (sv && (sv->flags & SVf_POK) && static_cast<uint64_t>(strend - strpos) <= sv_cur(sv) &&
        !(sv->flags & SVf_ROK))
        strbeg = strend - sv_cur(sv);
    else
        strbeg = strpos;
    // Every step below stays within the subject these two name (the entry
    // puts the caller's back).
    gcb->re_subject_begin = strbeg;
    gcb->re_subject_end = strend;
    start_shift = sub[RE_SUBSTR_CHECK].min_offset;
    end_shift = static_cast<int64_t>(minlen) - start_shift - char_len(gcb, check) + (has_tail(check) ? 1 : 0);
    if (rx->analysis_flags & REA_ANCH) {
        ml_anch = !((rx->analysis_flags & (REA_SBOL | REA_GPOS)) || ((rx->analysis_flags & REA_BOL) && !gcb->multiline));
        if (!ml_anch) {
            if (!(rx->analysis_flags & REA_GPOS) && sv && !(sv->flags & SVf_ROK) && strpos != strbeg) {
                if (re_debug_on(gcb)) [[unlikely]]
                    say("Not at start...\n");
                goto fail;
            }
            if (sub[RE_SUBSTR_CHECK].min_offset == sub[RE_SUBSTR_CHECK].max_offset) {
                // The substring sits at a constant offset from the start.
                gcb->re_subject_end = strend;
                s = hop(gcb, strpos, sub[RE_SUBSTR_CHECK].min_offset);
                int64_t slen = 0;
                const char* cs = substr_text(gcb, check, &slen);
                bool equal;
                if (has_tail(check)) {
                    int64_t room = strend - s;
                    if (room > slen || room < slen - 1 || (room == slen && strend[-1] != '\n')) {
                        if (re_debug_on(gcb)) [[unlikely]]
                            say("String too long...\n");
                        goto fail_with_penalty;
                    }
                    slen--;
                    equal = !slen || (*cs == *s && (slen == 1 || std::memcmp(cs, s, static_cast<size_t>(slen)) == 0));
                } else
                    equal = strend - s >= slen && (!slen || *cs == *s) &&
                            (slen <= 1 || std::memcmp(cs, s, static_cast<size_t>(slen)) == 0);
                if (!equal) {
                    if (re_debug_on(gcb)) [[unlikely]]
                        say("String not equal...\n");
                    goto fail_with_penalty;
                }
                check_at = s;  // the start-class scan ends by it
                s = strpos;
                goto found_at_start;
            }
            s = strpos;
            int64_t e = sub[RE_SUBSTR_CHECK].max_offset + char_len(gcb, check) - (has_tail(check) ? 1 : 0);
            int64_t eshift = (strend - s) - e;
            if (end_shift < eshift)
                end_shift = eshift;
        } else
            s = strpos;
    } else {
        ml_anch = false;
        s = strpos;
    }
    if (end_shift < 0)
        end_shift = 0;

restart:
    other_last = nullptr;
    if (flags & REXEC_STUDIED) {
        int32_t iterator = -1;
        int32_t* it = data && data->study_iterator ? data->study_iterator : &iterator;
        s = study_find(gcb, sv, check, static_cast<int32_t>((s - strbeg) + start_shift),
                       static_cast<int32_t>(end_shift), it, 0);
        if (data && data->last_position)
            *data->last_position = s;
    } else
        s = search(gcb, s + start_shift, strend - end_shift, check);
    if (re_debug_on(gcb)) [[unlikely]]
        say_substr(gcb, s ? "Found" : "Did not find", check == anchored ? "anchored" : "floating", check,
                   s ? " at offset " : "...\n");
    if (!s)
        goto fail_with_penalty;
    check_at = s;
    if (re_debug_on(gcb)) [[unlikely]]
        say("%ld...\n", offset_of(s, initial_strpos));

    if (sub[RE_SUBSTR_FLOATING].substr && anchored) {
        if (!other_last)
            other_last = strpos;
        if (check == sub[RE_SUBSTR_FLOATING].substr) {
        other_substring : {
            const char* last = s - start_shift;
            const char* s1 = s;
            int32_t maxoff = sub[RE_SUBSTR_CHECK].max_offset;
            t = strpos;
            if (s - strpos > maxoff) {
                if (!(rx->analysis_flags & REA_UTF8))
                    t = s - maxoff;
                else {
                    const char* saved = gcb->re_subject_begin;
                    gcb->re_subject_begin = strpos;
                    const char* h = re_step_chars_or_fail(gcb, s, -maxoff);
                    gcb->re_subject_begin = saved;
                    t = h && h > strpos ? h : strpos;
                }
            }
            t += sub[RE_SUBSTR_ANCHORED].min_offset;
            if (t < other_last)
                t = other_last;
            const char* last2 = strend - minlen;
            const char* last1 = last < last2 ? last : last2;
            int64_t alen = 0;
            substr_text(gcb, anchored, &alen);
            const char* to = last1 + sub[RE_SUBSTR_ANCHORED].min_offset + alen - (has_tail(anchored) ? 1 : 0);
            if (to > strend)
                to = strend;
            const char* h = search(gcb, t, to, anchored);
            if (re_debug_on(gcb)) [[unlikely]]
                say_substr(gcb, h ? "Found" : "Contradicts", "anchored", anchored, "");
            if (!h) {
                if (last1 >= last2) {
                    if (re_debug_on(gcb)) [[unlikely]]
                        say(", giving up...\n");
                    goto fail_with_penalty;
                }
                gcb->re_subject_end = strend;
                s = hop(gcb, last, 1);
                if (re_debug_on(gcb)) [[unlikely]]
                    say(", trying floating at offset %ld...\n", offset_of(s, initial_strpos));
                goto restart;
            }
            if (re_debug_on(gcb)) [[unlikely]]
                say(" at offset %ld...\n", offset_of(h, initial_strpos));
            t = h - sub[RE_SUBSTR_ANCHORED].min_offset;
            other_last = h + 1;
            s = s1;
            if (t == strpos)
                goto at_start;
            goto at_offset;
        }
        } else {
            // Check the floating substring.
            SV* fl = sub[RE_SUBSTR_FLOATING].substr;
            const char* s1 = s;
            t = s - start_shift;
            const char* last1 = strend - minlen + sub[RE_SUBSTR_FLOATING].min_offset;
            const char* last = last1;
            if (last - t > sub[RE_SUBSTR_FLOATING].max_offset)
                last = t + sub[RE_SUBSTR_FLOATING].max_offset;
            const char* from = t + sub[RE_SUBSTR_FLOATING].min_offset;
            if (from < other_last)
                from = other_last;
            int64_t flen = 0;
            substr_text(gcb, fl, &flen);
            const char* to = last + flen - (has_tail(fl) ? 1 : 0);
            if (to > strend)
                to = strend;
            const char* h = search(gcb, from, to, fl);
            if (re_debug_on(gcb)) [[unlikely]]
                say_substr(gcb, h ? "Found" : "Contradicts", "floating", fl, "");
            if (!h) {
                if (last1 == last) {
                    if (re_debug_on(gcb)) [[unlikely]]
                        say(", giving up...\n");
                    goto fail_with_penalty;
                }
                gcb->re_subject_end = strend;
                s = hop(gcb, t, 1);
                if (re_debug_on(gcb)) [[unlikely]]
                    say(", trying anchored starting at offset %ld...\n", offset_of(s, initial_strpos));
                goto restart;
            }
            if (re_debug_on(gcb)) [[unlikely]]
                say(" at offset %ld...\n", offset_of(h, initial_strpos));
            other_last = h + 1;
            s = s1;
            if (t == strpos)
                goto at_start;
            goto at_offset;
        }
    }

    {
        int32_t maxoff = sub[RE_SUBSTR_CHECK].max_offset;
        bool later = false;
        if (s - strpos > maxoff) {
            if (!(rx->analysis_flags & REA_UTF8)) {
                t = s - maxoff;
                later = true;
            } else {
                const char* saved = gcb->re_subject_begin;
                gcb->re_subject_begin = strpos;
                const char* h = re_step_chars_or_fail(gcb, s, -maxoff);
                gcb->re_subject_begin = saved;
                if (h && h > strpos) {
                    t = h;
                    later = true;
                }
            }
        }
        if (!later)
            goto at_start;
    }
at_offset:
    if (ml_anch && t[-1] != '\n') {
    line_search:
        while (t < strend - minlen) {
            if (*t == '\n') {
                if (t < check_at - sub[RE_SUBSTR_CHECK].min_offset) {
                    if (anchored) {
                        strpos = t + 1;
                        if (re_debug_on(gcb)) [[unlikely]]
                            say_line_start(gcb, "Found /%s^%s/m at offset %ld, rescanning for anchored from offset %ld...\n",
                                           offset_of(strpos, initial_strpos),
                                           offset_of(strpos + sub[RE_SUBSTR_ANCHORED].min_offset, initial_strpos));
                        s = check_at;
                        goto other_substring;
                    }
                    s = t + 1;
                    if (re_debug_on(gcb)) [[unlikely]]
                        say_line_start(gcb, "Found /%s^%s/m at offset %ld...\n", offset_of(s, initial_strpos));
                    goto set_useful;
                }
                other_last = strpos = s = t + 1;
                if (re_debug_on(gcb)) [[unlikely]]
                    say_line_start(gcb, "Found /%s^%s/m, restarting lookup for check-string at offset %ld...\n",
                                   offset_of(s, initial_strpos));
                goto restart;
            }
            t++;
        }
        if (re_debug_on(gcb)) [[unlikely]]
            say_line_start(gcb, "Did not find /%s^%s/m...\n");
        goto fail_with_penalty;
    }
    if (re_debug_on(gcb)) [[unlikely]]
        say_line_start(gcb, "Starting position does not contradict /%s^%s/m...\n");
    s = t;
set_useful:
    if (check)
        usefulness(check)++;
    goto stclass;

at_start:
    if (ml_anch && sv && !(sv->flags & SVf_ROK) && strpos != strbeg && strpos[-1] != '\n' &&
        !(rx->analysis_flags & REA_IMPLICIT)) {
        t = strpos;
        goto line_search;
    }
found_at_start:
    if (ml_anch && re_debug_on(gcb)) [[unlikely]]
        say("Position at offset %ld does not contradict /%s^%s/m...\n", offset_of(strpos, initial_strpos),
            re_colour(gcb, 0), re_colour(gcb, 1));
    if (!(rx->analysis_flags & REA_NAUGHTY) && check && --usefulness(check) < 0 && check == sub[RE_SUBSTR_FLOATING].substr) {
        // The floating substring keeps failing to narrow anything: stop using it.
        if (re_debug_on(gcb)) [[unlikely]]
            say("... Disabling check substring...\n");
        sv_release(gcb, check);
        sub[RE_SUBSTR_CHECK].substr = nullptr;
        sub[RE_SUBSTR_FLOATING].substr = nullptr;
        check = nullptr;
        rx->analysis_flags &= ~REA_USE_FINDER;
    }
    s = strpos;

stclass:
    if (rx->start_class) {
        re_program_node* cls = reinterpret_cast<re_program_node*>(rx->start_class);
        int32_t class_len = re_kind(cls) == RE_EXACT ? static_cast<int32_t>(cls->flags) : 1;
        const char* endpos = (sub[RE_SUBSTR_ANCHORED].substr || ml_anch) ? s + (minlen ? class_len : 0)
                           : sub[RE_SUBSTR_FLOATING].substr             ? check_at - start_shift + class_len
                                                                         : strend;
        if (endpos > strend)
            endpos = strend;
        const char* startpos = strbeg;
        t = s;
        if (rx->analysis_flags & REA_UTF8) {
            gcb->re_data = rx->data;
            gcb->re_subject_begin = startpos;
        }
        gcb->re_subject_end = strend;
        const char* r = re_scan_start_class(gcb, rx, cls, s, endpos, startpos, 1);
        if (!r) {
            if (endpos == strend) {
                if (re_debug_on(gcb)) [[unlikely]]
                    say("Could not match STCLASS...\n");
                goto fail;
            }
            if (re_debug_on(gcb)) [[unlikely]]
                say("This position contradicts STCLASS...\n");
            if ((rx->analysis_flags & REA_ANCH) && !ml_anch)
                goto fail;
            const char* what = "floating";
            if (sub[RE_SUBSTR_ANCHORED].substr) {
                if (sub[RE_SUBSTR_ANCHORED].substr == check) {
                    what = "anchored";
                hop_then_restart:
                    gcb->re_subject_end = strend;
                    s = hop(gcb, t, 1);
                    if (s + start_shift + end_shift > strend) {
                        if (re_debug_on(gcb)) [[unlikely]]
                            say("Could not match STCLASS...\n");
                        goto fail;
                    }
                    if (!check)
                        goto give_up;
                    if (re_debug_on(gcb)) [[unlikely]]
                        say("Looking for %s substr starting at offset %ld...\n", what,
                            offset_of(s + start_shift, initial_strpos));
                    goto restart;
                }
                if (t + start_shift >= check_at)
                    goto retry_floating;
                s = check_at;
                if (!check)
                    goto give_up;
                if (re_debug_on(gcb)) [[unlikely]]
                    say("Looking for anchored substr starting at offset %ld...\n", offset_of(s, initial_strpos));
                goto other_substring;
            }
            if (ml_anch) {
                s = t = t + 1;
                if (!check)
                    goto give_up;
                if (re_debug_on(gcb)) [[unlikely]]
                    say_line_start(gcb, "Looking for /%s^%s/m starting at offset %ld...\n", offset_of(s, initial_strpos));
                goto at_offset;
            }
            if (!sub[RE_SUBSTR_FLOATING].substr)
                goto fail;
        retry_floating:
            t = check_at - start_shift;
            what = "floating";
            goto hop_then_restart;
        }
        if (re_debug_on(gcb)) [[unlikely]] {
            if (r == s)
                say("Does not contradict STCLASS...\n");
            else
                say("By STCLASS: moving %ld --> %ld\n", offset_of(s, initial_strpos), offset_of(r, initial_strpos));
        }
        s = r;
    }
give_up:
    if (re_debug_on(gcb)) [[unlikely]]
        say("%s%s:%s match at offset %ld\n", re_colour(gcb, 4), check ? "Guessed" : "Giving up", re_colour(gcb, 5),
            offset_of(s, initial_strpos));
    return s;

fail_with_penalty:
    if (sub[RE_SUBSTR_CHECK].substr)
        usefulness(sub[RE_SUBSTR_CHECK].substr) += 5;
fail:
    if (re_debug_on(gcb)) [[unlikely]]
        say("%sMatch rejected by optimizer%s\n", re_colour(gcb, 4), re_colour(gcb, 5));
    return nullptr;
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

// The guard's counter at the start of a match: its value is returned, and an
// outermost match of the interpreter starts from 0.
int32_t guard_depth_reset(PERLGCB* gcb)
{
    int32_t* depth = re_depth_counter();
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

// The attempts of one match; 1 on success.
int32_t find_match(PERLGCB* gcb, re_compiled* rx, const char* s, const char* startpos, const char* strend,
                   const char* strbeg, SV* sv, uint32_t flags)
{
    re_substr_info* sub = rx->substrings;
    int32_t minlen = rx->min_length;
    bool utf8 = re_utf8_mode(gcb);

    if (rx->analysis_flags & (REA_BOL | REA_MBOL | REA_SBOL)) {
        // Anchored at a beginning: the start, and after newlines when allowed.
        if (s == startpos && re_try_at(gcb, rx, startpos))
            return 1;
        if (gcb->multiline || (rx->analysis_flags & (REA_IMPLICIT | REA_MBOL))) {
            int32_t dontbother = minlen ? minlen - 1 : 0;
            const char* end = hop(gcb, strend, -dontbother) - 1;
            if (sub[RE_SUBSTR_CHECK].substr) {
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
            if (s > startpos)
                s--;
            while (s < end) {
                if (*s++ == '\n' && re_try_at(gcb, rx, s))
                    return 1;
            }
        }
        return 0;
    }
    if (rx->analysis_flags & REA_GPOS)
        return re_try_at(gcb, rx, gcb->re_g_anchor);

    SV* anchored = sub[RE_SUBSTR_ANCHORED].substr;
    SV* floating = sub[RE_SUBSTR_FLOATING].substr;
    if (anchored && (rx->analysis_flags & REA_SKIP)) {
        // /x+whatever/: one attempt per run of x.
        int64_t alen = 0;
        char ch = substr_text(gcb, anchored, &alen)[0];
        bool seen = false;
        while (s < strend) {
            if (*s == ch) {
                seen = true;
                if (re_try_at(gcb, rx, s))
                    return 1;
                s += utf8 ? re_char_skip(gcb, s) : 1;
                while (s < strend && *s == ch)
                    s += utf8 ? re_char_skip(gcb, s) : 1;
            }
            if (s < strend)
                s += utf8 ? re_char_skip(gcb, s) : 1;
        }
        if (!seen && re_debug_on(gcb)) [[unlikely]]
            say("Did not find anchored character...\n");
        return 0;
    }
    if (anchored || (floating && sub[RE_SUBSTR_FLOATING].max_offset < strend - s)) {
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
                s += utf8 ? re_char_skip(gcb, s) : 1;
            }
        }
        if (!seen && re_debug_on(gcb)) [[unlikely]]
            say_substr(gcb, "Did not find", anchored ? "anchored" : "floating", must, "...\n");
        return 0;
    }
    if (rx->start_class) {
        re_program_node* c = reinterpret_cast<re_program_node*>(rx->start_class);
        const char* end = strend;
        if (minlen && re_kind(c) != RE_EXACT)
            end = hop(gcb, strend, -(minlen - 1));
        if (re_scan_start_class(gcb, rx, c, s, end, startpos, 0))
            return 1;
        if (re_debug_on(gcb)) [[unlikely]]
            say("Contradicts stclass...\n");
        return 0;
    }
    int64_t dontbother = 0;
    if (floating) {
        // Matches cannot start after the last occurrence of the floating substring.
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
        s += utf8 ? re_char_skip(gcb, s) : 1;
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
    gcb->re_till = start_arg + min_end;
    // In a UTF-8 subject the minimum end is a whole character: a match that
    // must move on (split, //g after an empty match) never ends between the
    // bytes of one character, whatever the pattern's own mode.
    if (min_end > 0 && sv && (sv->flags & SVf_UTF8) &&
        !(gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES)))
        while (gcb->re_till < strend && (static_cast<uint8_t>(*gcb->re_till) & 0xC0) == 0x80)
            gcb->re_till++;
    gcb->re_call_frame = nullptr;
    gcb->re_depth = re_depth_counter();
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
    if (!(flags & REXEC_CHECKED) && rx->substrings && rx->substrings[RE_SUBSTR_CHECK].substr) {
        re_guess_data d{&gcb->re_last_position, &gcb->re_study_iterator};
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
    *re_depth_counter() = depth_before;
    gcb->re_bt_ix = bt_before;
    if (code) {
        if (code == 4 && gcb->errno_cell == 1100)
            gcb->errno_cell = 0;  // the guard's mark has done its work
        if (!env.prev)
            bridge_fatal_jump();
        jump_to(gcb, env.prev, code);
    }
    if (!found)
        return no_match(gcb);
    if (gcb->re_match_flags & RF_TAINTED)
        rx->analysis_flags |= REA_TAINTED;
    else
        rx->analysis_flags &= ~REA_TAINTED;
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
