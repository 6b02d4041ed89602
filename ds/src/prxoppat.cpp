// Pattern and transliteration ops at compile time: the pattern op, the
// choice between compiling a pattern now and a run-time compile chain, the
// replacement analysis of s///, the binding operators and the tables of tr///.
#include <cstring>

#include "prxgv.h"
#include "prxhv.h"
#include "prxlex.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxscope.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

namespace {

// The byte the lexer writes between the two ends of a range of a UTF-8 text.
constexpr uint8_t RANGE_MARK = 0xFF;
// Entries of the byte table.
constexpr int16_t TR_NONE = -1;
constexpr int16_t TR_DELETED = -2;

bool stmt_has_bytes_hint(PERLGCB* gcb)
{
    return gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES);
}

// Makes kid the pattern op's first kid (and its last when it had none).
void prepend_kid(op_pattern* pm, OP* kid)
{
    kid->op_sibling = op_has_kids(&pm->op) ? pm->op_first : nullptr;
    if (!op_has_kids(&pm->op))
        pm->op_last = kid;
    pm->op_first = kid;
    pm->op.op_flags |= OPf_KIDS;
}

// Compiles a constant pattern now, through the interpreter's compile hook.
void compile_constant(PERLGCB* gcb, op_pattern* pm, OP* expr)
{
    SV* sv = op_value_sv(expr);
    uint64_t len = 0;
    const char* text = sv_text(gcb, sv, &len);
    // split ' ': the text is a single blank, nothing else (an empty text or
    // several blanks are ordinary patterns).
    if ((pm->op.op_flags & OPf_SPECIAL) && len == 1 && text[0] == ' ') {
        sv_set_bytes(gcb, sv, "\\s+", 3);
        text = sv_text(gcb, sv, &len);
        pm->op_pmflags |= PMf_SKIPWHITE;
    }
    if ((gcb->compile_hints & HINT_UTF8) || ((sv->flags & SVf_UTF8) && !stmt_has_bytes_hint(gcb)))
        pm->op_pmdynflags |= PMdf_UTF8;
    // A pattern that does not compile raises its fatal error inside the hook.
    pm->op_pmregexp = gcb->re_hook_compile(gcb, text, text + len, pm);
    re_compiled* rx = pm->op_pmregexp;
    if (rx && rx->pattern_length == 3 && std::memcmp(rx->pattern_text, "\\s+", 3) == 0)
        pm->op_pmflags |= PMf_WHITE;
    op_free_tree(gcb, expr);
}

// Builds the run-time compile chain: an optional reset or guard op over the
// expression, then regcomp, which becomes the pattern op's first kid.
void build_runtime_compile(PERLGCB* gcb, op_pattern* pm, OP* expr)
{
    uint32_t hints = gcb->compile_hints;
    if (hints & HINT_UTF8)
        pm->op_pmdynflags |= PMdf_UTF8;
    bool wrapped = (pm->op_pmflags & PMf_KEEP) || !(hints & HINT_RE_EVAL);
    if (wrapped)
        expr = op_new_unary(gcb, (hints & HINT_RE_EVAL) ? OP_REGCMAYBE : OP_REGCRESET, 0, expr);

    OP* rcop = &op_alloc_record<op_logical>(gcb)->op;
    op_set_type(gcb, rcop, OP_REGCOMP);
    op_first_kid(rcop) = op_scalar_context(gcb, expr);
    rcop->op_flags = static_cast<uint8_t>(OPf_KIDS | ((hints & HINT_RE_EVAL) ? OPf_SPECIAL : 0));
    rcop->op_private = 1;
    op_other_op(rcop) = &pm->op;

    // The wrapper runs first, its operand next, then regcomp; until the
    // enclosing tree is linked, regcomp's NEXT is the chain's start.
    if (wrapped) {
        op_link_exec_order(gcb, expr);
        rcop->op_next = expr;
        op_first_kid(expr)->op_next = rcop;
    } else {
        rcop->op_next = op_link_exec_order(gcb, expr);
        expr->op_next = rcop;
    }

    prepend_kid(pm, op_scalar_context(gcb, rcop));
}

// Whether the replacement's ops, walked in execution order up to its root,
// all allow a replacement that is computed once. Sets *has_vars when a
// variable is met on the way.
bool replacement_walk_completes(PERLGCB* gcb, OP* repl, bool* has_vars)
{
    OP* last = nullptr;
    for (OP* cur = op_link_exec_order(gcb, repl); cur != repl; cur = cur->op_next) {
        if (op_args_of(gcb, cur->op_type) & OA_DANGEROUS) {
            switch (cur->op_type) {
            case OP_GV: {
                *has_vars = true;
                GV* gv = sv_as<GV>(op_value_sv(cur));
                GP* gp = gv_gp(gv);
                GV* egv = gp && gp->gp_egv ? gp->gp_egv : gv;
                const char* name = gv_body(egv)->name;
                // Match variables and the special punctuation change with
                // every match.
                if (name && name[0] && std::memchr("&`'123456789+", name[0], 13))
                    return false;
                break;
            }
            case OP_RV2CV:
                return false;
            case OP_RV2SV:
            case OP_RV2AV:
            case OP_RV2HV:
            case OP_RV2GV:
                if (!last || last->op_type != OP_GV)
                    return false;
                break;
            case OP_PADSV:
            case OP_PADAV:
            case OP_PADHV:
            case OP_PADANY:
                *has_vars = true;
                break;
            case OP_PUSHRE:
                break;
            default:
                return false;
            }
        }
        last = cur;
    }
    return true;
}

void attach_replacement(PERLGCB* gcb, op_pattern* pm, OP* repl)
{
    bool completes = false;
    bool has_vars = false;
    if (pm->op_pmflags & PMf_EVAL) {
        COP* cop = gcb->current_statement;
        if (cop && cop->cop_line < gcb->multi_end_line)
            cop->cop_line = static_cast<uint16_t>(gcb->multi_end_line);
    } else if (repl->op_type == OP_CONST) {
        completes = true;
    } else {
        completes = replacement_walk_completes(gcb, repl, &has_vars);
    }

    re_compiled* rx = pm->op_pmregexp;
    if (completes && (!has_vars || (rx && !(rx->analysis_flags & REA_EVAL_SEEN)))) {
        pm->op_pmflags |= PMf_CONST;
        pm->op_pmpermflags |= PMf_CONST;
        prepend_kid(pm, op_scalar_context(gcb, repl));
        return;
    }
    if (completes && !rx) {
        pm->op_pmflags |= PMf_MAYBE_CONST;
        pm->op_pmpermflags |= PMf_MAYBE_CONST;
    }
    OP* rcop = &op_alloc_record<op_logical>(gcb)->op;
    op_set_type(gcb, rcop, OP_SUBSTCONT);
    op_first_kid(rcop) = op_scalar_context(gcb, repl);
    rcop->op_flags = OPf_KIDS;
    rcop->op_private = 1;
    op_other_op(rcop) = &pm->op;
    // The replacement's last op runs substcont.
    rcop->op_next = op_link_exec_order(gcb, repl);
    repl->op_next = rcop;
    pm->op_pmreplroot = op_scalar_context(gcb, rcop);
    pm->op_pmreplstart = op_link_exec_order(gcb, rcop);
    rcop->op_next = nullptr;
}

}  // namespace

OP* op_new_pattern(PERLGCB* gcb, int32_t type, int32_t flags)
{
    op_pattern* pm = op_alloc_record<op_pattern>(gcb);
    op_set_type(gcb, &pm->op, type);
    pm->op.op_flags = static_cast<uint8_t>(flags);
    pm->op.op_private = static_cast<uint8_t>(flags >> 8);
    if (gcb->compile_hints & HINT_RE_TAINT)
        pm->op_pmpermflags |= PMf_RETAINT;
    if (gcb->compile_hints & HINT_LOCALE)
        pm->op_pmpermflags |= PMf_LOCALE;
    pm->op_pmflags = pm->op_pmpermflags;
    // The package's pattern list, newest first, for reset.
    if (type != OP_TRANS && gcb->current_package)
        op_pattern_list_add(gcb, pm, gcb->current_package);
    return &pm->op;
}

OP* op_pattern_runtime(PERLGCB* gcb, OP* o, OP* expr, OP* repl)
{
    if (o->op_type == OP_TRANS)
        return op_trans_tables(gcb, o, expr, repl);
    op_pattern* pm = op_as_pattern(o);
    gcb->compile_hints |= HINT_BLOCK_SCOPE;
    if (expr->op_type == OP_CONST) {
        // A pattern that does not compile dies inside the hook, and the parse
        // that holds these ops is abandoned: the save stack frees them then.
        // When the pattern compiles, the entries are dropped unrun.
        int32_t mark = gcb->savestack_ix;
        save_push_free_op_tree(gcb, o);
        save_push_free_op_tree(gcb, expr);
        if (repl)
            save_push_free_op_tree(gcb, repl);
        compile_constant(gcb, pm, expr);
        gcb->savestack_ix = mark;
    } else
        build_runtime_compile(gcb, pm, expr);
    if (repl)
        attach_replacement(gcb, pm, repl);
    return o;
}

OP* op_new_binding(PERLGCB* gcb, int32_t type, OP* left, OP* right)
{
    int32_t lt = left->op_type;
    if ((lt == OP_RV2AV || lt == OP_RV2HV || lt == OP_PADAV || lt == OP_PADHV) && warn_enabled(gcb, WARN_MISC)) {
        int32_t rt = right->op_type;
        const char* desc = op_desc_of(gcb, (rt == OP_SUBST || rt == OP_TRANS) ? rt : OP_MATCH);
        const char* sample = (lt == OP_RV2AV || lt == OP_PADAV) ? "@array" : "%hash";
        category_warning(gcb, WARN_MISC, "Applying %s to %s will act on scalar(%s)", desc, sample, sample);
    }
    int32_t rt = right->op_type;
    if (!((rt == OP_MATCH || rt == OP_SUBST || rt == OP_TRANS) && !(right->op_flags & OPf_STACKED))) {
        // An expression on the right is a pattern to compile at run time.
        right = op_pattern_runtime(gcb, op_new_pattern(gcb, OP_MATCH, 0), right, nullptr);
        rt = OP_MATCH;
    }
    right->op_flags |= OPf_STACKED;
    if (rt != OP_MATCH && !(rt == OP_TRANS && (right->op_private & OPpTRANS_IDENTICAL)))
        left = op_lvalue_context(gcb, left, rt);
    OP* o;
    if (rt == OP_TRANS)
        o = op_new_binary(gcb, OP_NULL, OPf_STACKED, op_scalar_context(gcb, left), right);
    else
        o = op_list_prepend(gcb, rt, op_scalar_context(gcb, left), right);
    if (type == OP_NOT)
        return op_new_unary(gcb, OP_NOT, 0, op_scalar_context(gcb, o));
    return o;
}

// ---- transliteration tables ----------------------------------------------------

namespace {

void trans_byte_table(int16_t* tbl, uint8_t* priv, const uint8_t* t, uint64_t tlen, const uint8_t* r, uint64_t rlen)
{
    bool complement = *priv & OPpTRANS_COMPLEMENT;
    bool del = *priv & OPpTRANS_DELETE;
    bool squash = *priv & OPpTRANS_SQUASH;
    bool grows = false;
    if (complement) {
        for (int i = 0; i < 256; i++)
            tbl[i] = 0;
        for (uint64_t i = 0; i < tlen; i++)
            tbl[t[i]] = TR_NONE;
        uint64_t j = 0;
        for (int i = 0; i < 256; i++) {
            if (tbl[i])
                continue;
            if (j < rlen) {
                if (i < 128 && r[j] >= 128)
                    grows = true;
                tbl[i] = r[j++];
            } else if (del) {
                tbl[i] = TR_DELETED;
            } else if (rlen) {
                tbl[i] = r[rlen - 1];
            } else {
                tbl[i] = static_cast<int16_t>(i);
            }
        }
    } else {
        if (!rlen && !del) {
            r = t;
            rlen = tlen;
            if (!squash)
                *priv |= OPpTRANS_IDENTICAL;
        }
        for (int i = 0; i < 256; i++)
            tbl[i] = TR_NONE;
        uint64_t j = 0;
        for (uint64_t i = 0; i < tlen; i++, j++) {
            if (j >= rlen) {
                if (del) {
                    if (tbl[t[i]] == TR_NONE)
                        tbl[t[i]] = TR_DELETED;
                    continue;
                }
                j = rlen - 1;
            }
            if (tbl[t[i]] == TR_NONE) {
                if (t[i] < 128 && r[j] >= 128)
                    grows = true;
                tbl[t[i]] = r[j];
            }
        }
    }
    if (grows)
        *priv |= OPpTRANS_GROWS;
}

// A byte text written as UTF-8: bytes below 0x80 and the range mark stay,
// the others become two bytes. The copy is a pool block.
uint8_t* reencode_bytes(PERLGCB* gcb, const uint8_t* s, uint64_t* len)
{
    uint8_t* out = static_cast<uint8_t*>(pool_malloc(gcb, *len * 2 + 1));
    uint8_t* d = out;
    for (uint64_t i = 0; i < *len; i++) {
        uint8_t c = s[i];
        if (c < 0x80 || c == RANGE_MARK) {
            *d++ = c;
        } else {
            *d++ = static_cast<uint8_t>(0xC0 + c / 64);
            *d++ = static_cast<uint8_t>(0x80 + c % 64);
        }
    }
    *len = static_cast<uint64_t>(d - out);
    return out;
}

// One character of a text: its code point and the bytes it takes, never
// reaching past the end.
uint64_t decode_at(PERLGCB* gcb, const uint8_t* p, const uint8_t* end, uint64_t* step)
{
    int64_t len = 0;
    uint64_t cp = utf8_decode(gcb, p, static_cast<uint64_t>(end - p), &len, UTF8_ALLOW_ANYUV);
    uint64_t avail = static_cast<uint64_t>(end - p);
    *step = len <= 0 ? 1 : (static_cast<uint64_t>(len) > avail ? avail : static_cast<uint64_t>(len));
    return cp;
}

// A range of a UTF-8 text: first and last code point; p moves past it.
void next_range(PERLGCB* gcb, const uint8_t** p, const uint8_t* end, uint64_t* first, uint64_t* last)
{
    uint64_t step = 0;
    *first = decode_at(gcb, *p, end, &step);
    *p += step;
    if (*p < end && **p == RANGE_MARK) {
        ++*p;
        if (*p < end) {
            *last = decode_at(gcb, *p, end, &step);
            *p += step;
            return;
        }
    }
    *last = *first;
}

struct complement_entry {
    uint64_t start;  // first code point of the character or range
    uint64_t end;    // last code point
};

void append_char(PERLGCB* gcb, SV* sv, uint64_t cp)
{
    uint8_t buf[16];
    uint8_t* e = utf8_encode(gcb, buf, cp);
    sv_append_bytes(gcb, sv, reinterpret_cast<const char*>(buf), static_cast<uint64_t>(e - buf));
}

// The complement of a UTF-8 from-text, as a text of characters and ranges.
// The entries are sorted by code point here, so that ranges written in any
// order give the right gaps.
SV* complement_list(PERLGCB* gcb, const uint8_t* t, uint64_t tlen)
{
    const uint8_t* end = t + tlen;
    uint64_t count = 0;
    for (const uint8_t* p = t; p < end; count++) {
        uint64_t a, b;
        next_range(gcb, &p, end, &a, &b);
    }
    complement_entry* entries =
        static_cast<complement_entry*>(pool_malloc(gcb, (count ? count : 1) * sizeof(complement_entry)));
    uint64_t n = 0;
    for (const uint8_t* p = t; p < end; n++)
        next_range(gcb, &p, end, &entries[n].start, &entries[n].end);
    // Insertion sort by start: stable, and the texts are short.
    for (uint64_t i = 1; i < n; i++) {
        complement_entry e = entries[i];
        uint64_t j = i;
        for (; j > 0 && entries[j - 1].start > e.start; j--)
            entries[j] = entries[j - 1];
        entries[j] = e;
    }

    SV* list = sv_new_undef(gcb, 0);
    sv_set_bytes(gcb, list, "", 0);
    uint64_t next = 0;
    const char mark = static_cast<char>(RANGE_MARK);
    for (uint64_t i = 0; i < n; i++) {
        uint64_t v = entries[i].start;
        if (v > next) {
            append_char(gcb, list, next);
            if (v > next + 1) {
                sv_append_bytes(gcb, list, &mark, 1);
                append_char(gcb, list, v - 1);
            }
        }
        v = entries[i].end;
        if (v >= next)
            next = v + 1;
    }
    append_char(gcb, list, next);
    sv_append_bytes(gcb, list, &mark, 1);
    append_char(gcb, list, 0x7FFFFFFF);
    pool_free(gcb, entries);
    return list;
}

void trans_utf8_table(PERLGCB* gcb, OP* o, const uint8_t* t, uint64_t tlen, const uint8_t* r, uint64_t rlen)
{
    uint8_t priv = o->op_private;
    bool complement = priv & OPpTRANS_COMPLEMENT;
    bool del = priv & OPpTRANS_DELETE;
    bool squash = priv & OPpTRANS_SQUASH;
    uint8_t* tcopy = nullptr;
    uint8_t* rcopy = nullptr;
    if (!(priv & OPpTRANS_FROM_UTF8)) {
        tcopy = reencode_bytes(gcb, t, &tlen);
        t = tcopy;
    }
    if (!(priv & OPpTRANS_TO_UTF8)) {
        rcopy = reencode_bytes(gcb, r, &rlen);
        r = rcopy;
    }

    SV* transv = nullptr;
    if (complement) {
        transv = complement_list(gcb, t, tlen);
        uint64_t len = 0;
        t = reinterpret_cast<const uint8_t*>(sv_text(gcb, transv, &len));
        tlen = len;
    } else if (!rlen && !del) {
        r = t;
        rlen = tlen;
    }
    if (!squash && (r == t || (tlen == rlen && std::memcmp(t, r, tlen) == 0)))
        priv |= OPpTRANS_IDENTICAL;

    SV* listsv = sv_new_from_cstring(gcb, "# comment\n", 0);
    const uint8_t* tp = t;
    const uint8_t* tend = t + tlen;
    const uint8_t* rp = r;
    const uint8_t* rend = r + rlen;
    uint64_t tfirst = 1, tlast = 0;
    uint64_t rfirst = 1, rlast = 0;
    bool to_done = false;
    bool have_final = false;
    bool have_to = false;
    uint64_t final_cp = 0;
    uint64_t max = 0;
    bool grows = false;
    while (tp < tend || tfirst <= tlast) {
        if (tfirst > tlast)
            next_range(gcb, &tp, tend, &tfirst, &tlast);
        if (!to_done && rfirst > rlast) {
            if (rp < rend) {
                next_range(gcb, &rp, rend, &rfirst, &rlast);
                have_to = true;
            } else {
                to_done = true;
                if (have_to && !have_final) {
                    have_final = true;
                    final_cp = rlast;
                }
            }
        }
        uint64_t tdiff = tlast - tfirst;
        uint64_t diff;
        if (to_done) {
            diff = tdiff;
            if (diff > 0)
                sv_append_formatted(gcb, listsv, "%04lx\t%04lx\tXXXX\n", static_cast<uint32_t>(tfirst),
                                    static_cast<uint32_t>(tlast));
            else
                sv_append_formatted(gcb, listsv, "%04lx\t\tXXXX\n", static_cast<uint32_t>(tfirst));
        } else {
            uint64_t rdiff = rlast - rfirst;
            diff = tdiff <= rdiff ? tdiff : rdiff;
            if (diff > 0)
                sv_append_formatted(gcb, listsv, "%04lx\t%04lx\t%04lx\n", static_cast<uint32_t>(tfirst),
                                    static_cast<uint32_t>(tfirst + diff), static_cast<uint32_t>(rfirst));
            else
                sv_append_formatted(gcb, listsv, "%04lx\t\t%04lx\n", static_cast<uint32_t>(tfirst),
                                    static_cast<uint32_t>(rfirst));
            if (rfirst + diff > max)
                max = rfirst + diff;
            rfirst += diff + 1;
            if (!grows)
                grows = utf8_encoded_length(tfirst) < utf8_encoded_length(rfirst);
        }
        tfirst += diff + 1;
    }

    uint64_t none = max + 1;
    uint64_t widest = del ? max + 2 : none;
    int32_t bits = widest > 0xFFFF ? 32 : widest > 0xFF ? 16 : 8;

    pool_free(gcb, op_string_pv(o));
    op_string_pv(o) = nullptr;
    SV* swash = swash_new(gcb, "utf8", "", listsv, bits, static_cast<int32_t>(none));
    op_string_pv(o) = reinterpret_cast<char*>(swash);  // the op owns the swash's one reference
    sv_release(gcb, listsv);
    if (transv)
        sv_release(gcb, transv);
    if (!del && have_final)
        hv_store_str(gcb, sv_as<HV>(sv_rv(swash)), "FINAL", 5, sv_new_from_uint(gcb, final_cp), 0);
    if (grows)
        priv |= OPpTRANS_GROWS;
    o->op_private = priv;
    pool_free(gcb, tcopy);
    pool_free(gcb, rcopy);
}

}  // namespace

OP* op_trans_tables(PERLGCB* gcb, OP* o, OP* expr, OP* repl)
{
    SV* tsv = op_value_sv(expr);
    SV* rsv = op_value_sv(repl);
    uint64_t tlen = 0, rlen = 0;
    const uint8_t* t = reinterpret_cast<const uint8_t*>(sv_text(gcb, tsv, &tlen));
    const uint8_t* r = reinterpret_cast<const uint8_t*>(sv_text(gcb, rsv, &rlen));
    gcb->compile_hints |= HINT_BLOCK_SCOPE;
    if (tsv->flags & SVf_UTF8)
        o->op_private |= OPpTRANS_FROM_UTF8;
    if (rsv->flags & SVf_UTF8)
        o->op_private |= OPpTRANS_TO_UTF8;
    if (o->op_private & (OPpTRANS_FROM_UTF8 | OPpTRANS_TO_UTF8))
        trans_utf8_table(gcb, o, t, tlen, r, rlen);
    else
        trans_byte_table(reinterpret_cast<int16_t*>(op_string_pv(o)), &o->op_private, t, tlen, r, rlen);
    op_free_tree(gcb, expr);
    op_free_tree(gcb, repl);
    return o;
}
