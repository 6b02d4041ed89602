// Pattern ops at run time: qr, the run-time compile of a pattern, match in
// its scalar, list and global forms, substitution with a constant or an
// evaluated replacement, split, and the saving of a match's capture state.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxmg.h"
#include "prxpp.h"
#include "prxre.h"
#include "prxscope.h"
#include "prxsearch.h"
#include "prxutf8.h"

namespace {

// The words of a saved capture state: the owned subject copy, the group
// count, the subject pointer and length, then the offset pairs.
enum : int32_t { RS_COPY = 0, RS_GROUPS = 1, RS_SUBJECT = 2, RS_LENGTH = 3, RS_OFFSETS = 4 };

// The string a match or substitution works on: the bound operand, popped
// when the op is STACKED, else $_ with room kept above sp for the result.
// sp follows and the top is stored.
SV* pattern_subject(PERLGCB* gcb, const OP* op, SV**& sp)
{
    SV* targ;
    if (op->op_flags & OPf_STACKED) {
        targ = *sp--;
    } else {
        targ = pp_default_var(gcb);
        sp = pp_extend(gcb, sp, 1);
    }
    pp_put_sp(gcb, sp);
    return targ;
}

// The pos magic of a value, or none.
MAGIC* pos_magic(PERLGCB* gcb, SV* sv)
{
    if (sv_type(sv) < SVt_PVMG || !sv_magic_chain(sv))
        return nullptr;
    return mg_find_by_type(gcb, sv, 'g');
}

// The pos magic of a value, added when missing.
MAGIC* pos_magic_added(PERLGCB* gcb, SV* sv)
{
    MAGIC* mg = pos_magic(gcb, sv);
    if (!mg) {
        if (sv_type(sv) < SVt_PVMG)
            sv_upgrade_body(gcb, sv, SVt_PVMG);
        sv_add_magic(gcb, sv, nullptr, 'g', nullptr, 0);
        mg = mg_find_by_type(gcb, sv, 'g');
    }
    return mg;
}

// A pattern op's multi-line or single-line modifier switches $* for the
// match (undone when the save stack is unwound).
void apply_multiline(PERLGCB* gcb, const op_pattern* pm)
{
    if (pm->op_pmflags & (PMf_MULTILINE | PMf_SINGLELINE)) {
        save_push_int(gcb, &gcb->multiline);
        gcb->multiline = (pm->op_pmflags & PMf_MULTILINE) ? 1 : 0;
    }
}

// Takes the built value's buffer into the target, as the finish of a
// substitution does; the built value is released.
void adopt_result(PERLGCB* gcb, SV* targ, SV* dstr)
{
    // An evaluated replacement may have made the target a reference or a
    // glob, or left it without a string body.
    if (targ->flags & SV_THINK_FIRST & ~SVf_UTF8)
        sv_make_modifiable(gcb, targ);
    if (sv_type(targ) < SVt_PV)
        sv_upgrade_body(gcb, targ, SVt_PV);
    if (targ->flags & SVf_OOK)
        sv_undo_offset(gcb, targ);
    if (sv_len(targ))
        pool_free(gcb, sv_pv(targ));
    sv_pv(targ) = sv_pv(dstr);
    sv_cur(targ) = sv_cur(dstr);
    sv_len(targ) = sv_len(dstr);
    bool utf8 = pp_utf8_mode(gcb, dstr);
    sv_pv(dstr) = nullptr;
    sv_cur(dstr) = 0;
    sv_len(dstr) = 0;
    dstr->flags &= ~(SVf_POK | SVp_POK | SVf_UTF8);
    sv_release(gcb, dstr);
    targ->flags &= ~(SV_VALUE_FLAGS | SVf_OOK);
    targ->flags |= SVf_POK | SVp_POK;
    if (utf8)
        targ->flags |= SVf_UTF8;
}

// The last steps of every substitution that changed the target: a tainted
// pattern or replacement taints the statement, the target's set magic runs
// and it is marked tainted under taint checks, then the op's saves unwind.
void close_subst(PERLGCB* gcb, SV* targ, int32_t rxtainted, int32_t oldsave)
{
    if (rxtainted)
        gcb->tainted = 1;
    pp_set_magic(gcb, targ);
    if (gcb->tainting && gcb->tainted)
        sv_mark_tainted(gcb, targ);
    leave_scope(gcb, oldsave);
}

// The end of a substitution that built its result in dstr.
void finish_subst(PERLGCB* gcb, SV* targ, SV* dstr, int32_t rxtainted, int32_t count, int32_t oldsave)
{
    adopt_result(gcb, targ, dstr);
    if (rxtainted & 1)
        gcb->tainted = 1;
    pp_push_one(gcb, pp_sp(gcb), sv_make_temporary(gcb, sv_new_from_int(gcb, count)));
    close_subst(gcb, targ, rxtainted, oldsave);
}

// Pushes a new value of the bytes as a field or a group of a match.
inline void push_text(PERLGCB* gcb, SV*** spp, const char* s, int64_t len, bool mortal, bool utf8)
{
    SV* sv = sv_new_from_bytes(gcb, s, static_cast<uint64_t>(len));
    if (mortal)
        sv_make_temporary(gcb, sv);
    if (utf8)
        sv->flags |= SVf_UTF8;
    SV** sp = pp_extend(gcb, *spp, 1);
    *++sp = sv;
    *spp = sp;
}

// Pushes the substitution frame of an evaluated replacement.
// Its block part is filled too, though nothing pops it as a block: a
// statement inside an evaluated replacement resets the stack to the top
// frame's height, which must be the one in force here.
cx_frame* push_subst(PERLGCB* gcb)
{
    uint8_t gimme = cx_gimme(gcb);
    cx_frame* cx = cx_push_block(gcb, CXt_SUBST, pp_sp(gcb), gimme);
    cx->subst.rxres = nullptr;
    return cx;
}

}  // namespace

void cx_pop_subst(PERLGCB* gcb, cx_frame* cx)
{
    // Taken out first: releasing may run destructors, which push frames
    // over this one.
    uint64_t* saved = static_cast<uint64_t*>(cx->subst.rxres);
    SV* dstr = cx->subst.dstr;
    SV* targ = cx->subst.targ;
    re_compiled* rx = cx->subst.rx;
    cx->subst.rxres = nullptr;
    cx->subst.dstr = nullptr;
    cx->subst.targ = nullptr;
    cx->subst.rx = nullptr;
    if (saved) {
        if (saved[RS_COPY])
            pool_free(gcb, reinterpret_cast<void*>(saved[RS_COPY]));
        pool_free(gcb, saved);
    }
    sv_release(gcb, dstr);
    sv_release(gcb, targ);
    if (rx)
        gcb->re_hook_free(gcb, rx);
}

void re_offsets_save(PERLGCB* gcb, void** place, re_compiled* rx)
{
    uint64_t* p = static_cast<uint64_t*>(*place);
    uint32_t groups = rx->group_count;
    if (!p || p[RS_GROUPS] < groups) {
        uint64_t words = static_cast<uint64_t>(groups) * 2 + 6;
        p = static_cast<uint64_t*>(p ? pool_realloc(gcb, p, words * sizeof(uint64_t))
                                     : pool_malloc(gcb, words * sizeof(uint64_t)));
        *place = p;
    }
    // The subject copy moves to the saved state.
    p[RS_COPY] = (rx->analysis_flags & REA_COPY_DONE) ? reinterpret_cast<uint64_t>(rx->subject_copy) : 0;
    rx->analysis_flags &= ~REA_COPY_DONE;
    p[RS_GROUPS] = groups;
    p[RS_SUBJECT] = reinterpret_cast<uint64_t>(rx->subject_copy);
    p[RS_LENGTH] = static_cast<uint32_t>(rx->subject_copy_length);
    for (uint32_t i = 0; i <= groups; i++) {
        p[RS_OFFSETS + 2 * i] = static_cast<uint32_t>(rx->start_offsets[i]);
        p[RS_OFFSETS + 2 * i + 1] = static_cast<uint32_t>(rx->end_offsets[i]);
    }
}

void re_offsets_restore(PERLGCB* gcb, void** place, re_compiled* rx)
{
    uint64_t* p = static_cast<uint64_t*>(*place);
    if (rx->analysis_flags & REA_COPY_DONE)
        pool_free(gcb, rx->subject_copy);
    if (p[RS_COPY])
        rx->analysis_flags |= REA_COPY_DONE;
    else
        rx->analysis_flags &= ~REA_COPY_DONE;
    p[RS_COPY] = 0;
    rx->group_count = static_cast<uint32_t>(p[RS_GROUPS]);
    rx->subject_copy = reinterpret_cast<char*>(p[RS_SUBJECT]);
    rx->subject_copy_length = static_cast<int32_t>(p[RS_LENGTH]);
    for (uint32_t i = 0; i <= rx->group_count; i++) {
        rx->start_offsets[i] = static_cast<int32_t>(static_cast<uint32_t>(p[RS_OFFSETS + 2 * i]));
        rx->end_offsets[i] = static_cast<int32_t>(static_cast<uint32_t>(p[RS_OFFSETS + 2 * i + 1]));
    }
}

OP* pp_qr(PERLGCB* gcb)
{
    op_pattern* pm = op_as_pattern(gcb->op);
    re_compiled* rx = pm->op_pmregexp;
    SV* rv = sv_new_temporary(gcb);
    // The referent is blessed into Regexp, which is what makes the value
    // layer print the pattern as "(?flags:text)" and ref() answer "Regexp".
    SV* referent = sv_make_ref_to_new(gcb, rv, "Regexp");
    rx->ref_count++;
    // Freeing the magic drops the reference through the engine's free hook.
    sv_add_magic(gcb, referent, reinterpret_cast<SV*>(rx), 'r', nullptr, 0);
    pp_push_one(gcb, pp_sp(gcb), rv);
    return gcb->op->op_next;
}

OP* pp_regcreset(PERLGCB* gcb)
{
    gcb->interp_count = 0;
    return gcb->op->op_next;
}

OP* pp_regcomp(PERLGCB* gcb)
{
    OP* op = gcb->op;
    op_pattern* pm = op_as_pattern(op_other_op(op));
    SV** sp = pp_sp(gcb);
    SV* tmpstr = *sp;
    MAGIC* mg = nullptr;
    if (tmpstr->flags & SVf_ROK) {
        SV* referent = sv_rv(tmpstr);
        if (referent->flags & SV_MAGIC_FLAGS)
            mg = mg_find_by_type(gcb, referent, 'r');
    }
    if (mg) {
        re_compiled* rx = reinterpret_cast<re_compiled*>(mg->obj);
        if (pm->op_pmregexp != rx) {
            gcb->re_hook_free(gcb, pm->op_pmregexp);
            rx->ref_count++;
            pm->op_pmregexp = rx;
        }
    } else {
        uint64_t len = 0;
        const char* t = sv_text(gcb, tmpstr, &len);
        re_compiled* old = pm->op_pmregexp;
        // A text that has not changed is not compiled again.
        bool same = old && old->pattern_text && static_cast<uint64_t>(old->pattern_length) == len &&
                    std::memcmp(old->pattern_text, t, len) == 0;
        if (!same) {
            if (old) {
                // Cleared first: a compile that fails leaves no pattern.
                pm->op_pmregexp = nullptr;
                gcb->re_hook_free(gcb, old);
            }
            if (op->op_flags & OPf_SPECIAL)
                gcb->interp_count = 2147483647;
            pm->op_pmflags = pm->op_pmpermflags;
            if (pp_utf8_mode(gcb, tmpstr))
                pm->op_pmdynflags |= PMdf_UTF8;
            pp_put_sp(gcb, sp);
            pm->op_pmregexp = gcb->re_hook_compile(gcb, t, t + len, pm);
            gcb->interp_count = 0;
        }
    }
    if (gcb->tainting) {
        if (gcb->tainted)
            pm->op_pmdynflags |= PMdf_TAINTED;
        else
            pm->op_pmdynflags &= static_cast<uint8_t>(~PMdf_TAINTED);
    }
    re_compiled* rx = pm->op_pmregexp;
    if (!rx->pattern_length && gcb->last_match_op) {
        pm = op_as_pattern(gcb->last_match_op);
    } else if (rx->pattern_length == 3 && std::memcmp(rx->pattern_text, "\\s+", 3) == 0) {
        pm->op_pmflags |= PMf_WHITE;
    }
    // A pattern compiled once (the o modifier) is never compiled again:
    // the chain that builds its text is bypassed from now on.
    if (pm->op_pmflags & PMf_KEEP) {
        pm->op.op_private &= static_cast<uint8_t>(~0x40);
        op_first_kid(op)->op_next = op->op_next;
    }
    pp_put_sp(gcb, sp - 1);
    return op->op_next;
}

OP* pp_match(PERLGCB* gcb)
{
    OP* op = gcb->op;
    op_pattern* pm = op_as_pattern(op);
    uint8_t want = op->op_flags & OPf_WANT;
    bool list = want ? want == OPf_WANT_LIST : cx_wantarray(gcb) == 1;
    int32_t oldsave = gcb->savestack_ix;
    SV** sp = pp_sp(gcb);
    SV* targ = pattern_subject(gcb, op, sp);
    uint64_t len = 0;
    const char* s = sv_text(gcb, targ, &len);
    if (!s)
        return die_error(gcb, "panic: pp_match");
    const char* strend = s + len;
    const char* truebase = s;
    const char* t = s;
    bool rxtainted = (pm->op_pmdynflags & PMdf_TAINTED) || (gcb->tainted && (pm->op_pmflags & PMf_RETAINT));
    gcb->tainted = 0;

    auto failure = [&]() {
        sp = pp_sp(gcb);
        if (!list) {
            sp = pp_extend(gcb, sp, 1);
            *++sp = &gcb->sv_no;
        }
        pp_put_sp(gcb, sp);
        return op->op_next;
    };
    if ((pm->op_pmflags & PMf_ONCE) && (pm->op_pmdynflags & PMdf_USED))
        return failure();
    re_compiled* rx = pm->op_pmregexp;
    if (!rx->pattern_length && gcb->last_match_op) {
        pm = op_as_pattern(gcb->last_match_op);
        rx = pm->op_pmregexp;
    }
    if (static_cast<uint64_t>(rx->min_length) > len)
        return failure();

    bool global = (pm->op_pmflags & PMf_GLOBAL) != 0;
    uint32_t r_flags = REXEC_CHECKED;
    int32_t minmatch = 0;
    bool update_minmatch = true;
    bool had_zerolen = false;
    if (global) {
        rx->start_offsets[0] = -1;
        if (MAGIC* mg = pos_magic(gcb, targ); mg && mg->len >= 0) {
            if (!(rx->analysis_flags & REA_GPOS_SEEN)) {
                rx->end_offsets[0] = rx->start_offsets[0] = mg->len;
            } else if (rx->analysis_flags & REA_GPOS) {
                r_flags |= REXEC_IGNORE_POS;
                rx->end_offsets[0] = rx->start_offsets[0] = mg->len;
            }
            minmatch = (mg->mgflags & MGf_MINMATCH) ? 1 : 0;
            update_minmatch = false;
        }
    }
    if ((!global && rx->group_count) || (targ->flags & SVs_TEMP) || gcb->match_variables_seen)
        r_flags |= REXEC_COPY;
    if (targ->flags & SVp_SCREAM)
        r_flags |= REXEC_STUDIED;
    apply_multiline(gcb, pm);

    bool utf8_subject = pp_utf8_mode(gcb, targ);
    for (;;) {
        if (global && rx->start_offsets[0] != -1) {
            t = s = truebase + rx->end_offsets[0];
            if (s + rx->min_length > strend)
                break;
            if (!update_minmatch)
                update_minmatch = true;
            else
                minmatch = had_zerolen ? 1 : 0;
        }
        bool by_guess = false;
        if ((rx->analysis_flags & REA_USE_FINDER) && utf8_subject == ((rx->analysis_flags & REA_UTF8) != 0)) {
            s = gcb->re_hook_guess(gcb, rx, targ, s, strend, r_flags, nullptr);
            if (!s)
                break;
            by_guess = (rx->analysis_flags & REA_CHECK_ALL) && !gcb->match_variables_seen &&
                       ((rx->analysis_flags & REA_NOSCAN) ||
                        !((rx->analysis_flags & REA_CHECK_TAIL) && (r_flags & REXEC_STUDIED))) &&
                       !(targ->flags & SVf_ROK);
        }
        if (by_guess) {
            // The required substring is the whole match: no matcher run.
            gcb->last_match_op = &pm->op;
            if (pm->op_pmflags & PMf_ONCE)
                pm->op_pmdynflags |= PMdf_USED;
            if (rx->analysis_flags & REA_COPY_DONE)
                pool_free(gcb, rx->subject_copy);
            rx->analysis_flags &= ~REA_COPY_DONE;
            rx->subject_copy = nullptr;
            if (global) {
                rx->subject_copy = const_cast<char*>(truebase);
                rx->subject_copy_length = static_cast<int32_t>(strend - truebase);
                rx->start_offsets[0] = static_cast<int32_t>(s - truebase);
                rx->end_offsets[0] = static_cast<int32_t>(s - truebase) + rx->min_length;
            } else {
                if (gcb->match_variables_seen) {
                    rx->subject_copy = pool_strndup(gcb, t, static_cast<int32_t>(strend - t));
                    rx->subject_copy_length = static_cast<int32_t>(strend - t);
                    rx->analysis_flags |= REA_COPY_DONE;
                    rx->start_offsets[0] = static_cast<int32_t>(s - t);
                } else {
                    rx->start_offsets[0] = static_cast<int32_t>(s - truebase);
                }
                rx->end_offsets[0] = rx->start_offsets[0] + rx->min_length;
                rx->group_count = 0;
                rx->last_group = 0;
                if (rxtainted)
                    rx->analysis_flags |= REA_TAINTED;
                if (rx->analysis_flags & REA_TAINTED)
                    gcb->tainted = 1;
                if (!list) {
                    leave_scope(gcb, oldsave);
                    sp = pp_push_one(gcb, pp_sp(gcb), &gcb->sv_yes);
                    return op->op_next;
                }
            }
        } else {
            pp_put_sp(gcb, pp_sp(gcb));
            if (!gcb->re_hook_exec(gcb, rx, s, strend, truebase, minmatch, targ, nullptr, r_flags))
                break;
            gcb->last_match_op = &pm->op;
            if (pm->op_pmflags & PMf_ONCE)
                pm->op_pmdynflags |= PMdf_USED;
        }

        // A match.
        if (rxtainted)
            rx->analysis_flags |= REA_TAINTED;
        if (rx->analysis_flags & REA_TAINTED)
            gcb->tainted = 1;
        if (list) {
            uint32_t iters = rx->group_count;
            uint32_t first = (global && !iters) ? 0 : 1;
            bool utf8 = (pm->op_pmdynflags & PMdf_UTF8) && !pp_bytes_hint(gcb);
            sp = pp_extend(gcb, pp_sp(gcb), static_cast<int32_t>(iters + 1));
            for (uint32_t i = first; i <= iters; i++) {
                SV* sv = sv_new_temporary(gcb);
                *++sp = sv;
                if (rx->start_offsets[i] != -1 && rx->end_offsets[i] != -1) {
                    sv_set_bytes(gcb, sv, truebase + rx->start_offsets[i],
                                 static_cast<uint64_t>(rx->end_offsets[i] - rx->start_offsets[i]));
                    if (utf8) {
                        sv->flags |= SVf_UTF8;
                        sv_convert_to_bytes(gcb, sv, 1);
                    }
                }
            }
            pp_put_sp(gcb, sp);
            if (global) {
                had_zerolen = rx->start_offsets[0] != -1 && rx->start_offsets[0] == rx->end_offsets[0];
                r_flags |= REXEC_IGNORE_POS | REXEC_NOT_FIRST;
                continue;
            }
            if (!iters) {
                sp = pp_push_one(gcb, sp, &gcb->sv_yes);
            }
            leave_scope(gcb, oldsave);
            return op->op_next;
        }
        if (global) {
            MAGIC* mg = pos_magic_added(gcb, targ);
            if (rx->start_offsets[0] != -1) {
                mg->len = rx->end_offsets[0];
                if (rx->start_offsets[0] == rx->end_offsets[0])
                    mg->mgflags |= MGf_MINMATCH;
                else
                    mg->mgflags &= static_cast<uint8_t>(~MGf_MINMATCH);
            }
        }
        leave_scope(gcb, oldsave);
        sp = pp_push_one(gcb, pp_sp(gcb), &gcb->sv_yes);
        return op->op_next;
    }

    // No (further) match.
    if (global && !(pm->op_pmflags & PMf_CONTINUE)) {
        if (MAGIC* mg = pos_magic(gcb, targ))
            mg->len = -1;
    }
    leave_scope(gcb, oldsave);
    sp = pp_sp(gcb);
    if (!list) {
        sp = pp_extend(gcb, sp, 1);
        *++sp = &gcb->sv_no;
    }
    pp_put_sp(gcb, sp);
    return op->op_next;
}

namespace {

// What the phases of a substitution share once the first match is found.
struct subst_run {
    OP* op;
    op_pattern* pm;       // the pattern op in use (the last successful one for an empty pattern)
    op_pattern* rpm;      // the substitution's own op
    re_compiled* rx;
    SV* targ;
    char* orig;           // start of the subject the offsets count from
    char* s;              // where the search began
    char* strend;
    const char* c;        // a constant replacement, or none
    uint64_t clen;
    int32_t maxiters;
    int32_t oldsave;
    int32_t rxtainted;    // 1 the pattern, 2 the replacement
    uint32_t r_flags;
    bool once;
    bool utf8;
};

// A constant replacement no longer than the shortest match, in a subject
// that needs no copy: the target's string is edited in place.
OP* subst_in_place(PERLGCB* gcb, subst_run& r)
{
    re_compiled* rx = r.rx;
    SV* targ = r.targ;
    const char* c = r.c;
    uint64_t clen = r.clen;
    char* orig = r.orig;
    char* s = r.s;
    char* strend = r.strend;
    char* d = s;
    char* m;
    gcb->last_match_op = &r.pm->op;
    targ->flags &= ~SVp_SCREAM;
    if (r.once) {
        if (rx->analysis_flags & REA_TAINTED)
            r.rxtainted |= 1;
        m = orig + rx->start_offsets[0];
        d = orig + rx->end_offsets[0];
        s = orig;
        if (m - s > strend - d) {
            // Shorter to move the tail down behind the replacement.
            if (clen) {
                std::memcpy(m, c, clen);
                m += clen;
            }
            int64_t i = strend - d;
            if (i > 0) {
                std::memmove(m, d, static_cast<size_t>(i));
                m += i;
            }
            *m = '\0';
            sv_cur(targ) = static_cast<uint64_t>(m - s);
        } else if (int64_t i = m - s) {
            // Shorter to move the head up in front of the replacement;
            // the string's start moves forward by the shortening.
            d -= clen;
            m = d;
            sv_chop_front(gcb, targ, d - i);
            s += i;
            while (i--)
                *--d = *--s;
            if (clen)
                std::memcpy(m, c, clen);
        } else if (clen) {
            d -= clen;
            sv_chop_front(gcb, targ, d);
            std::memcpy(d, c, clen);
        } else {
            sv_chop_front(gcb, targ, d);
        }
        if (r.rxtainted & 1)
            gcb->tainted = 1;
        pp_push_one(gcb, pp_sp(gcb), &gcb->sv_yes);
    } else {
        int32_t iters = 0;
        do {
            if (iters++ > r.maxiters)
                return die_error(gcb, "Substitution loop");
            if (rx->analysis_flags & REA_TAINTED)
                r.rxtainted |= 1;
            m = orig + rx->start_offsets[0];
            if (int64_t i = m - s) {
                if (s != d)
                    std::memmove(d, s, static_cast<size_t>(i));
                d += i;
            }
            if (clen) {
                std::memcpy(d, c, clen);
                d += clen;
            }
            s = orig + rx->end_offsets[0];
        } while (gcb->re_hook_exec(gcb, rx, s, strend, orig, s == m ? 1 : 0, targ, nullptr,
                                   REXEC_NOT_FIRST | REXEC_IGNORE_POS));
        if (s != d) {
            int64_t i = strend - s;
            sv_cur(targ) = static_cast<uint64_t>(d - sv_pv(targ) + i);
            std::memmove(d, s, static_cast<size_t>(i) + 1);
        }
        if (r.rxtainted & 1)
            gcb->tainted = 1;
        pp_push_one(gcb, pp_sp(gcb), sv_make_temporary(gcb, sv_new_from_int(gcb, iters)));
    }
    bool was_utf8 = (targ->flags & SVf_UTF8) != 0;
    targ->flags &= ~(SV_VALUE_FLAGS & ~(SVf_POK | SVp_POK));
    targ->flags |= SVf_POK | SVp_POK;
    if (was_utf8)
        targ->flags |= SVf_UTF8;
    close_subst(gcb, targ, r.rxtainted, r.oldsave);
    return r.op->op_next;
}

// An evaluated replacement: the substitution frame takes the state over and
// the replacement's code runs next; pp_substcont goes on from there.
// built holds the subject before the search's start.
OP* subst_start_evaluated(PERLGCB* gcb, subst_run& r, SV* built)
{
    cx_frame* cx = push_subst(gcb);
    cx->subst.iters = 0;
    cx->subst.maxiters = r.maxiters;
    cx->subst.rflags = static_cast<int32_t>(r.r_flags);
    cx->subst.oldsave = r.oldsave;
    cx->subst.once = r.once ? 1 : 0;
    cx->subst.rxtainted = r.rxtainted;
    cx->subst.orig = r.orig;
    cx->subst.dstr = built;
    // The frame holds the target and the pattern until it goes: the
    // replacement's code may drop every other reference to them.
    cx->subst.targ = sv_refinc(r.targ);
    r.rx->ref_count++;
    cx->subst.s = r.s;
    cx->subst.m = r.orig;
    cx->subst.strend = r.strend;
    cx->subst.rx = r.rx;
    re_offsets_save(gcb, &cx->subst.rxres, r.rx);
    return r.rpm->op_pmreplroot;
}

// A constant replacement built into a new string, which the target takes
// over at the end.
OP* subst_built(PERLGCB* gcb, subst_run& r, SV* built)
{
    re_compiled* rx = r.rx;
    char* orig = r.orig;
    char* s = r.s;
    char* strend = r.strend;
    char* m;
    uint32_t r_flags = r.r_flags | REXEC_IGNORE_POS | REXEC_NOT_FIRST;
    int32_t iters = 0;
    do {
        if (iters++ > r.maxiters)
            return die_error(gcb, "Substitution loop");
        if (rx->analysis_flags & REA_TAINTED)
            r.rxtainted |= 1;
        if ((rx->analysis_flags & REA_COPY_DONE) && rx->subject_copy != orig) {
            // The match ran on a copy of the subject: follow it.
            m = s;
            s = orig;
            orig = rx->subject_copy;
            s = orig + (m - s);
            strend = s + (strend - m);
        }
        m = orig + rx->start_offsets[0];
        sv_append_bytes(gcb, built, s, static_cast<uint64_t>(m - s));
        s = orig + rx->end_offsets[0];
        if (r.clen)
            sv_append_bytes(gcb, built, r.c, r.clen);
        if (r.once)
            break;
    } while (gcb->re_hook_exec(gcb, rx, s, strend, orig, s == m ? 1 : 0, r.targ, nullptr, r_flags));
    sv_append_bytes(gcb, built, s, static_cast<uint64_t>(strend - s));
    finish_subst(gcb, r.targ, built, r.rxtainted, iters, r.oldsave);
    return r.op->op_next;
}

}  // namespace

// The target is checked and its string taken; the first match decides the
// way on: an edit in place, a new string built from a constant, or a frame
// for a replacement that runs code.
OP* pp_subst(PERLGCB* gcb)
{
    subst_run r;
    r.op = gcb->op;
    r.pm = op_as_pattern(r.op);
    r.rpm = r.pm;
    r.oldsave = gcb->savestack_ix;
    SV** sp = pp_sp(gcb);
    SV* dstr = (r.pm->op_pmflags & PMf_CONST) ? *sp-- : nullptr;
    SV* targ = pattern_subject(gcb, r.op, sp);
    r.targ = targ;
    if ((targ->flags & SVf_FAKE) && (targ->flags & SVf_READONLY))
        sv_make_modifiable(gcb, targ);
    if ((targ->flags & SVf_READONLY) ||
        (sv_type(targ) > SVt_PVLV && !(sv_type(targ) == SVt_PVGV && (targ->flags & SVf_FAKE))))
        return die_error(gcb, "Modification of a read-only value attempted");

    uint64_t len = 0;
    char* s = sv_text(gcb, targ, &len);
    bool force_on_match = !(targ->flags & SVp_POK) || sv_type(targ) == SVt_PVGV;
    r.rxtainted = ((r.pm->op_pmdynflags & PMdf_TAINTED) || (gcb->tainted && (r.pm->op_pmflags & PMf_RETAINT))) ? 1 : 0;
    if (gcb->tainted)
        r.rxtainted |= 2;
    gcb->tainted = 0;
    r.utf8 = pp_utf8_mode(gcb, targ);
    r.rx = r.pm->op_pmregexp;

    for (;;) {  // restarted once when the subject must first become a string
        if (!s)
            return die_error(gcb, "panic: pp_subst");
        r.strend = s + len;
        uint64_t slen = r.utf8 ? utf8_length(gcb, reinterpret_cast<uint8_t*>(s), reinterpret_cast<uint8_t*>(r.strend)) : len;
        r.maxiters = static_cast<int32_t>(2 * slen + 10);
        if (!r.rx->pattern_length && gcb->last_match_op) {
            r.pm = op_as_pattern(gcb->last_match_op);
            r.rx = r.pm->op_pmregexp;
        }
        re_compiled* rx = r.rx;
        r.r_flags = (rx->group_count || (targ->flags & SVs_TEMP) || gcb->match_variables_seen) ? static_cast<uint32_t>(REXEC_COPY) : 0u;
        if (targ->flags & SVp_SCREAM)
            r.r_flags |= REXEC_STUDIED;
        apply_multiline(gcb, r.pm);
        r.orig = s;
        auto nope = [&]() {
            pp_push_one(gcb, pp_sp(gcb), &gcb->sv_no);
            leave_scope(gcb, r.oldsave);
            return r.op->op_next;
        };
        if ((rx->analysis_flags & REA_USE_FINDER)) {
            s = const_cast<char*>(gcb->re_hook_guess(gcb, rx, targ, s, r.strend, r.r_flags, nullptr));
            if (!s)
                return nope();
        }
        r.s = s;
        r.once = !(r.rpm->op_pmflags & PMf_GLOBAL);
        r.clen = 0;
        r.c = dstr ? sv_text(gcb, dstr, &r.clen) : nullptr;
        // An evaluated replacement may change or free the target's string:
        // the matches of such a substitution read a copy of their own.
        if (!r.c)
            r.r_flags |= REXEC_COPY;

        bool in_place = r.c && r.clen <= static_cast<uint64_t>(rx->min_length) && (r.once || !(r.r_flags & REXEC_COPY)) &&
                        !(rx->analysis_flags & REA_LOOKBEHIND_SEEN) && pp_utf8_mode(gcb, dstr) == r.utf8;
        if (!gcb->re_hook_exec(gcb, rx, s, r.strend, r.orig, 0, targ, nullptr, r.r_flags | REXEC_CHECKED))
            return nope();
        if (force_on_match) {
            force_on_match = false;
            s = sv_force_string(gcb, targ, &len);
            continue;
        }
        if (in_place)
            return subst_in_place(gcb, r);

        if (rx->analysis_flags & REA_TAINTED)
            r.rxtainted |= 1;
        SV* built = sv_new_undef(gcb, len + 1);
        sv_set_bytes(gcb, built, r.orig, static_cast<uint64_t>(s - r.orig));
        if (r.utf8)
            built->flags |= SVf_UTF8;
        gcb->last_match_op = &r.pm->op;
        if (!r.c)
            return subst_start_evaluated(gcb, r, built);
        return subst_built(gcb, r, built);
    }
}

OP* pp_substcont(PERLGCB* gcb)
{
    OP* op = gcb->op;
    op_pattern* pm = op_as_pattern(op_other_op(op));
    cx_frame* cx = cx_current(gcb);
    SV* dstr = cx->subst.dstr;
    char* s = cx->subst.s;
    char* m = cx->subst.m;
    char* orig = cx->subst.orig;
    re_compiled* rx = cx->subst.rx;
    re_offsets_restore(gcb, &cx->subst.rxres, rx);

    if (cx->subst.iters++) {
        if (cx->subst.iters > cx->subst.maxiters)
            return die_error(gcb, "Substitution loop");
        SV** sp = pp_sp(gcb);
        SV* repl = *sp;
        pp_put_sp(gcb, sp - 1);
        if (!(cx->subst.rxtainted & 2) && sv_is_tainted(gcb, repl))
            cx->subst.rxtainted |= 2;
        sv_append_sv(gcb, dstr, repl);
        uint32_t flags = (cx->subst.rflags & REXEC_COPY) ? (REXEC_IGNORE_POS | REXEC_NOT_FIRST)
                                                         : (REXEC_COPY | REXEC_IGNORE_POS | REXEC_NOT_FIRST);
        if (cx->subst.once ||
            !gcb->re_hook_exec(gcb, rx, s, cx->subst.strend, orig, s == m ? 1 : 0, cx->subst.targ, nullptr, flags)) {
            SV* targ = cx->subst.targ;
            sv_append_bytes(gcb, dstr, s, static_cast<uint64_t>(cx->subst.strend - s));
            if (rx->analysis_flags & REA_TAINTED)
                cx->subst.rxtainted |= 1;
            int32_t count = cx->subst.iters - 1;
            int32_t rxtainted = cx->subst.rxtainted;
            int32_t oldsave = cx->subst.oldsave;
            cx->subst.dstr = nullptr;  // the target takes it over
            finish_subst(gcb, targ, dstr, rxtainted, count, oldsave);
            // Code that the finish ran may have pushed and popped frames.
            cx = cx_current(gcb);
            gcb->current_level->si_cxix--;
            cx_pop_subst(gcb, cx);
            return pm->op.op_next;
        }
    }
    if ((rx->analysis_flags & REA_COPY_DONE) && rx->subject_copy != orig) {
        m = s;
        s = orig;
        cx->subst.orig = orig = rx->subject_copy;
        s = orig + (m - s);
        cx->subst.strend = s + (cx->subst.strend - m);
    }
    cx->subst.m = m = orig + rx->start_offsets[0];
    sv_append_bytes(gcb, dstr, s, static_cast<uint64_t>(m - s));
    cx->subst.s = orig + rx->end_offsets[0];
    SV* targ = cx->subst.targ;
    MAGIC* mg = pos_magic_added(gcb, targ);
    int32_t i = static_cast<int32_t>(m - orig);
    if (pp_utf8_mode(gcb, targ))
        sv_pos_b2u(gcb, targ, &i);
    mg->len = i;
    if (rx->analysis_flags & REA_TAINTED)
        cx->subst.rxtainted |= 1;
    re_offsets_save(gcb, &cx->subst.rxres, rx);
    return pm->op_pmreplstart;
}

namespace {

// The scan of split's subject: the position reached, the end, the start that
// offsets count from, the stack the fields go to, the fields still allowed
// (counted down before each one) and the iteration limit.
struct split_scan {
    const char* s;
    const char* strend;
    const char* orig;
    SV** sp;
    int64_t limit;
    int64_t maxiters;
    uint64_t slen;        // the subject's length in characters
    bool mortal;
    bool utf8;
    bool locale;
};

// Pushes the fields before the last one, by the kind of pattern: white
// space, line starts, a single fixed substring, or any pattern through the
// matcher (with its groups). The rest of the subject from scan.s on is the
// last field, which the caller takes.
void split_fields(PERLGCB* gcb, op_pattern* pm, SV* sv, split_scan& scan)
{
    re_compiled* rx = pm->op_pmregexp;
    const char* s = scan.s;
    const char* strend = scan.strend;
    const char* orig = scan.orig;
    SV** sp = scan.sp;
    int64_t limit = scan.limit;
    bool mortal = scan.mortal;
    bool utf8 = scan.utf8;
    bool locale = scan.locale;
    auto is_blank = [&](char ch) {
        uint8_t b = static_cast<uint8_t>(ch);
        return host_is_space(b) && (!locale || b <= 0x7F);
    };
    if (pm->op_pmflags & PMf_SKIPWHITE)
        while (s < strend && is_blank(*s))
            s++;

    if (pm->op_pmflags & PMf_WHITE) {
        while (--limit) {
            const char* m = s;
            while (m < strend && !is_blank(*m))
                ++m;
            if (m >= strend)
                break;
            push_text(gcb, &sp, s, m - s, mortal, utf8);
            s = m + 1;
            while (s < strend && is_blank(*s))
                ++s;
        }
    } else if (rx->pattern_length == 1 && rx->pattern_text[0] == '^') {
        while (--limit) {
            const char* m = s;
            while (m < strend && *m != '\n')
                m++;
            m++;
            if (m >= strend)
                break;
            push_text(gcb, &sp, s, m - s, mortal, utf8);
            s = m;
        }
    } else if (utf8 == ((rx->analysis_flags & REA_UTF8) != 0) && (rx->analysis_flags & REA_USE_FINDER) &&
               !rx->group_count && (rx->analysis_flags & REA_CHECK_ALL) && !(rx->analysis_flags & REA_ANCH)) {
        bool tail = (rx->analysis_flags & REA_CHECK_TAIL) != 0;
        pp_put_sp(gcb, sp);
        SV* csv = gcb->re_hook_check(gcb, rx);
        int32_t mlen = rx->min_length;
        auto step = [&](const char* m) {
            return utf8 ? reinterpret_cast<const char*>(utf8_skip_chars(gcb, reinterpret_cast<const uint8_t*>(m), mlen))
                        : m + mlen;
        };
        if (mlen == 1 && !(rx->analysis_flags & REA_UTF8) && !tail) {
            uint64_t clen = 0;
            char ch = *sv_text(gcb, csv, &clen);
            while (--limit) {
                const char* m = s;
                while (m < strend && *m != ch)
                    m++;
                if (m >= strend)
                    break;
                push_text(gcb, &sp, s, m - s, mortal, utf8);
                s = step(m);
            }
        } else {
            while (s < strend && --limit) {
                const char* m = boyer_moore_search(gcb, const_cast<char*>(s), const_cast<char*>(strend), csv,
                                                   gcb->multiline ? BM_MULTILINE : 0);
                if (!m)
                    break;
                push_text(gcb, &sp, s, m - s, mortal, utf8);
                s = step(m);
            }
        }
    } else {
        scan.maxiters += static_cast<int64_t>(scan.slen) * rx->group_count;
        while (s < strend && --limit) {
            pp_put_sp(gcb, sp);
            if (!gcb->re_hook_exec(gcb, rx, s, strend, orig, 1, sv, nullptr, 0))
                break;
            sp = pp_sp(gcb);
            if (rx->analysis_flags & REA_TAINTED)
                gcb->tainted = 1;
            if ((rx->analysis_flags & REA_COPY_DONE) && rx->subject_copy != orig) {
                const char* m = s;
                s = orig;
                orig = rx->subject_copy;
                s = orig + (m - s);
                strend = s + (strend - m);
            }
            const char* m = orig + rx->start_offsets[0];
            push_text(gcb, &sp, s, m - s, mortal, utf8);
            for (uint32_t i = 1; i <= rx->group_count; i++) {
                if (rx->start_offsets[i] != -1 && rx->end_offsets[i] != -1) {
                    push_text(gcb, &sp, orig + rx->start_offsets[i], rx->end_offsets[i] - rx->start_offsets[i],
                              mortal, utf8);
                } else {
                    SV* undef = sv_new_undef(gcb, 0);
                    if (mortal)
                        sv_make_temporary(gcb, undef);
                    sp = pp_extend(gcb, sp, 1);
                    *++sp = undef;
                }
            }
            s = orig + rx->end_offsets[0];
        }
    }
    scan.s = s;
    scan.strend = strend;
    scan.sp = sp;
}

}  // namespace

// In phases: the operands and the receiving array (emptied first), the
// subject's text, the array set up as the argument stack, the fields
// (split_fields), the last field or the trailing empty ones dropped, then
// the fields delivered to the array, a tie, the list or a count.
OP* pp_split(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* limsv = *sp--;
    int64_t limit = (limsv->flags & SVf_IOK) ? sv_iv(limsv) : sv_to_int(gcb, limsv);
    SV* sv = *sp--;
    op_pattern* pm = reinterpret_cast<op_pattern*>(*sp--);
    pp_put_sp(gcb, sp);
    if (!pm)
        return die_error(gcb, "panic: pp_split");
    // The subject may be an element of the target array, which is emptied
    // first, and emptying it may run destructors: the subject is held for
    // the statement and its text taken only afterwards.
    tmps_push(gcb, sv_refinc(sv));
    int64_t origlimit = limit;
    uint8_t gimme = pp_context(gcb, op);
    int32_t oldsave = gcb->savestack_ix;
    bool locale = (pm->op_pmflags & PMf_LOCALE) != 0;
    if (locale && (pm->op_pmflags & (PMf_WHITE | PMf_SKIPWHITE)))
        gcb->tainted = 1;

    AV* ary = nullptr;
    if (pm->op_pmreplroot) {
        GV* gv = reinterpret_cast<GV*>(pm->op_pmreplroot);
        ary = gv_gp(gv_ensure_array(gcb, gv))->gp_av;
    } else if (gimme != CTX_LIST) {
        GV* gv = gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PVGV);
        ary = gv_gp(gv_ensure_array(gcb, gv))->gp_av;
    }
    bool realarray = ary && (gimme != CTX_LIST || (pm->op_pmflags & PMf_ONCE));
    if (realarray) {
        av_grow_to_index(gcb, ary, 0);
        av_remove_all(gcb, ary);
    }
    // Any code the text runs (a tie's fetch, an overloaded conversion) runs
    // before the array becomes the argument stack.
    uint64_t len = 0;
    const char* s = sv_text(gcb, sv, &len);
    if (!s)
        return die_error(gcb, "panic: pp_split");
    bool utf8 = pp_utf8_mode(gcb, sv);
    const char* strend = s + len;
    uint64_t slen = utf8 ? utf8_length(gcb, reinterpret_cast<const uint8_t*>(s), reinterpret_cast<const uint8_t*>(strend)) : len;
    int64_t maxiters = static_cast<int64_t>(slen) + 10;

    bool mortal = true;
    MAGIC* tie = nullptr;
    AV* oldstack = gcb->current_arg_stack;
    if (realarray) {
        sp = pp_sp(gcb);
        if ((as_sv(ary)->flags & SVs_RMG) && (tie = mg_find_by_type(gcb, as_sv(ary), 'P'))) {
            push_mark(gcb, sp);
            sp = pp_push_one(gcb, sp, tie_object(gcb, as_sv(ary), tie));
        } else {
            PVAV* b = av_body(ary);
            if (!(b->avflags & AVf_REAL)) {
                b->avflags = static_cast<uint8_t>((b->avflags | AVf_REAL) & ~AVf_REIFY);
                for (int32_t i = b->fill; i >= 0; i--)
                    b->array[i] = &gcb->sv_undef;
            }
            // The fields land in the array itself: it is the argument stack
            // until they are all pushed.
            av_body(oldstack)->fill = static_cast<int32_t>(sp - gcb->arg_base);
            b = av_body(ary);
            gcb->arg_base = b->array;
            gcb->arg_max = b->array + b->max;
            gcb->arg_sp = sp = b->array + b->fill;
            gcb->current_arg_stack = ary;
            mortal = false;
        }
    }
    sp = pp_sp(gcb);
    int64_t base = sp - gcb->arg_base;
    if (((pm->op_pmflags & PMf_MULTILINE) != 0) != (gcb->multiline != 0)) {
        save_push_int(gcb, &gcb->multiline);
        gcb->multiline = (pm->op_pmflags & PMf_MULTILINE) ? 1 : 0;
    }
    split_scan scan = {s, strend, s, sp, limit ? limit : maxiters + 2, maxiters, slen, mortal, utf8, locale};
    split_fields(gcb, pm, sv, scan);
    s = scan.s;
    strend = scan.strend;
    sp = scan.sp;
    maxiters = scan.maxiters;
    pp_put_sp(gcb, sp);
    leave_scope(gcb, oldsave);
    sp = pp_sp(gcb);
    int64_t iters = (sp - gcb->arg_base) - base;
    if (iters > maxiters)
        return die_error(gcb, "Split loop");
    if (s < strend || (iters && origlimit)) {
        push_text(gcb, &sp, s, strend - s, mortal, utf8);
        iters++;
    } else if (!origlimit) {
        while (iters > 0 && (!*sp || !(*sp)->any || !((*sp)->flags & SVp_POK) || sv_cur(*sp) == 0)) {
            // A trailing empty field owned by the array goes with it.
            if (!mortal && *sp) {
                sv_release(gcb, *sp);
                *sp = nullptr;
            }
            iters--;
            sp--;
        }
    }
    pp_put_sp(gcb, sp);

    if (realarray) {
        if (!tie) {
            PVAV* b = av_body(ary);
            b->fill = static_cast<int32_t>(sp - gcb->arg_base);
            PVAV* ob = av_body(oldstack);
            gcb->arg_base = ob->array;
            gcb->arg_max = ob->array + ob->max;
            gcb->arg_sp = sp = ob->array + ob->fill;
            gcb->current_arg_stack = oldstack;
            if (as_sv(ary)->flags & SVs_SMG)
                mg_call_set(gcb, as_sv(ary));
            if (gimme == CTX_LIST) {
                sp = pp_extend(gcb, sp, static_cast<int32_t>(iters));
                for (int64_t i = 0; i < iters; i++)
                    *++sp = av_body(ary)->array[i];
                pp_put_sp(gcb, sp);
                return op->op_next;
            }
        } else {
            scope_enter(gcb);
            interp_call_method_by_name(gcb, "PUSH", CALL_DISCARD);
            scope_leave(gcb);
            sp = pp_sp(gcb);
            if (gimme == CTX_LIST) {
                sp = pp_extend(gcb, sp, static_cast<int32_t>(iters));
                for (int64_t i = 0; i < iters; i++) {
                    SV** svp = av_fetch_element(gcb, ary, static_cast<int32_t>(i), 0);
                    *++sp = svp ? *svp : &gcb->sv_undef;
                }
                pp_put_sp(gcb, sp);
                return op->op_next;
            }
        }
    } else if (gimme == CTX_LIST) {
        return op->op_next;
    }
    sp = pp_extend(gcb, pp_sp(gcb), 1);
    if (iters || !origlimit) {
        SV* targ = pp_pad_target(gcb, op);
        sv_set_int(gcb, targ, iters);
        pp_set_magic(gcb, targ);
        *++sp = targ;
    } else {
        *++sp = &gcb->sv_undef;
    }
    pp_put_sp(gcb, sp);
    return op->op_next;
}
