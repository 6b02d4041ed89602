// The optimiser of the pattern compiler: minimum length, anchored and
// floating substrings, the start class, the anchor flags, lookbehind
// lengths, the repeat rewrites and the repeat-loop numbering.
#include <cstdio>
#include <cstring>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxregcomp.h"
#include "prxsearch.h"
#include "prxsv.h"

namespace {

constexpr int32_t I32_INF = 0x7FFFFFFF;

// Scan-record flags.
enum : uint32_t {
    SF_BEFORE_SEOL = 0x1,
    SF_BEFORE_MEOL = 0x2,
    SF_BEFORE_EOL = 0x3,
    SF_FIX_BEFORE_SEOL = 0x4,
    SF_FIX_BEFORE_MEOL = 0x8,
    SF_FIX_BEFORE_EOL = 0xC,
    SF_FL_BEFORE_SEOL = 0x10,
    SF_FL_BEFORE_MEOL = 0x20,
    SF_FL_BEFORE_EOL = 0x30,
    SF_IS_INF = 0x40,
    SF_HAS_PAR = 0x80,
    SF_IN_PAR = 0x100,
    SF_HAS_EVAL = 0x200,
};

// Study mode bits.
enum : uint32_t {
    SCF_DO_SUBSTR = 0x400,
    SCF_DO_STCLASS_AND = 0x800,
    SCF_DO_STCLASS_OR = 0x1000,
    SCF_DO_STCLASS = 0x1800,
    SCF_WHILEM_VISITED_POS = 0x2000,
};

// A literal being collected: its bytes live in one of the interpreter's
// scratch slots, so that an error unwinding the study leaves nothing
// unreachable (the next run frees it).
struct Literal {
    char** slot;
    int32_t len;
    int32_t cap;
};

struct ScanData {
    int32_t pos_min;
    int32_t pos_delta;
    Literal* last_found;
    int32_t last_end;          // -1 when no literal is being collected
    int32_t last_start_min;
    int32_t last_start_max;
    Literal* longest;          // &longest_fixed or &longest_float
    Literal* longest_fixed;
    int32_t offset_fixed;
    Literal* longest_float;
    int32_t offset_float_min;
    int32_t offset_float_max;
    uint32_t flags;
    int32_t whilem_c;
    re_class_node* start_class;
};

int32_t sat(int64_t v)
{
    if (v > I32_INF)
        return I32_INF;
    if (v < -I32_INF)
        return -I32_INF;
    return static_cast<int32_t>(v);
}

void lit_reserve(Literal* l, int64_t need)
{
    if (need + 1 <= l->cap)
        return;
    int64_t cap = l->cap ? l->cap : 32;
    while (cap < need + 1)
        cap *= 2;
    *l->slot = static_cast<char*>(pool_realloc(*l->slot, static_cast<uint64_t>(cap)));
    l->cap = static_cast<int32_t>(cap);
}

void lit_set(Literal* l, const char* s, int32_t n)
{
    lit_reserve(l, n);
    if (n)
        std::memmove(*l->slot, s, static_cast<size_t>(n));
    l->len = n;
}

void lit_append(Literal* l, const char* s, int32_t n)
{
    lit_reserve(l, static_cast<int64_t>(l->len) + n);
    std::memcpy(*l->slot + l->len, s, static_cast<size_t>(n));
    l->len += n;
}

// Characters of a byte run: UTF-8 continuation bytes do not count.
int32_t char_count(PERLGCB* gcb, const char* s, int32_t n)
{
    if (!(gcb->re_regflags & RE_REGF_UTF8))
        return n;
    int32_t count = 0;
    for (int32_t i = 0; i < n; i++)
        if ((static_cast<uint8_t>(s[i]) & 0xC0) != 0x80)
            count++;
    return count;
}

// Byte offset of the character count chars into s.
int32_t char_to_byte(PERLGCB* gcb, const char* s, int32_t n, int32_t chars)
{
    if (!(gcb->re_regflags & RE_REGF_UTF8))
        return chars;
    int32_t i = 0;
    while (i < n && chars > 0) {
        i++;
        while (i < n && (static_cast<uint8_t>(s[i]) & 0xC0) == 0x80)
            i++;
        chars--;
    }
    return i;
}

int32_t lit_chars(PERLGCB* gcb, const Literal* l) { return char_count(gcb, *l->slot, l->len); }

bool is_locale(PERLGCB* gcb) { return gcb->re_cflags & PMf_LOCALE; }

uint8_t ctype(uint32_t c) { return g_host_vector->cclass[c & 0xFF]; }

re_program_node* next_of(PERLGCB* gcb, re_program_node* n) { return re_next_node(gcb, n); }

int32_t next_distance(const re_program_node* n)
{
    return re_next_in_arg[n->type] ? static_cast<int32_t>(re_arg(n)) : n->next;
}

void mark_optimized(re_program_node* n)
{
    n->type = RE_OPTIMIZED;
    n->next = 0;
}

bool debug_on(PERLGCB* gcb) { return gcb->debug_flags & 0x200; }

// ---- start classes -----------------------------------------------------------------

void class_set_all(PERLGCB* gcb, re_class_node* cl)
{
    std::memset(cl->classes, 0, sizeof cl->classes);
    std::memset(cl->bitmap, 0xFF, sizeof cl->bitmap);
    cl->flags = RE_CLASS_EOS;
    if (is_locale(gcb))
        cl->flags |= RE_CLASS_LOCALE;
}

bool class_is_anything(const re_class_node* cl)
{
    if (cl->flags & RE_CLASS_NAMED)
        for (int32_t cc = 0; cc < RE_CC_COUNT; cc += 2)
            if (re_class_bit(cl, cc) && re_class_bit(cl, cc + 1))
                return true;
    for (int i = 0; i < 32; i++)
        if (cl->bitmap[i] != 0xFF)
            return false;
    return true;
}

void class_init(PERLGCB* gcb, re_class_node* cl)
{
    std::memset(cl, 0, sizeof *cl);
    cl->type = RE_ANYOF;
    class_set_all(gcb, cl);
}

// A class that matches nothing yet.
void class_init_zero(PERLGCB* gcb, re_class_node* cl)
{
    std::memset(cl, 0, sizeof *cl);
    cl->type = RE_ANYOF;
    if (is_locale(gcb))
        cl->flags |= RE_CLASS_LOCALE;
}

void class_bit_set(re_class_node* cl, int32_t cc) { cl->classes[cc >> 3] |= static_cast<uint8_t>(1u << (cc & 7)); }
void class_bit_clear(re_class_node* cl, int32_t cc) { cl->classes[cc >> 3] &= static_cast<uint8_t>(~(1u << (cc & 7))); }
void bitmap_clear(uint8_t* map, uint32_t c) { map[c >> 3] &= static_cast<uint8_t>(~(1u << (c & 7))); }

}  // namespace

void re_class_init(PERLGCB* gcb, re_class_node* cl) { class_init(gcb, cl); }
void re_class_init_locale(PERLGCB* gcb, re_class_node* cl) { class_init(gcb, cl); }
void re_class_set_all(PERLGCB* gcb, re_class_node* cl) { class_set_all(gcb, cl); }

// Intersects cl with with. with may be an ANYOF node of the program, which
// carries the class word only when its flags say so.
void re_class_and(re_class_node* cl, const re_class_node* with)
{
    if (!(with->flags & RE_CLASS_NAMED) && !(cl->flags & RE_CLASS_NAMED) &&
        (with->flags & RE_CLASS_LOCALE) == (cl->flags & RE_CLASS_LOCALE) && !(with->flags & RE_CLASS_FOLD) &&
        !(cl->flags & RE_CLASS_FOLD)) {
        if (with->flags & RE_CLASS_INVERT)
            for (int i = 0; i < 32; i++)
                cl->bitmap[i] &= static_cast<uint8_t>(~with->bitmap[i]);
        else
            for (int i = 0; i < 32; i++)
                cl->bitmap[i] &= with->bitmap[i];
    }
    if (!(with->flags & RE_CLASS_EOS))
        cl->flags &= ~RE_CLASS_EOS;
}

void re_class_or(PERLGCB* gcb, re_class_node* cl, const re_class_node* with)
{
    if (with->flags & RE_CLASS_INVERT) {
        if ((with->flags & RE_CLASS_LOCALE) == (cl->flags & RE_CLASS_LOCALE) && !(with->flags & RE_CLASS_FOLD) &&
            !(cl->flags & RE_CLASS_FOLD)) {
            for (int i = 0; i < 32; i++)
                cl->bitmap[i] |= static_cast<uint8_t>(~with->bitmap[i]);
        } else
            class_set_all(gcb, cl);
    } else {
        if ((with->flags & RE_CLASS_LOCALE) == (cl->flags & RE_CLASS_LOCALE) &&
            (!(with->flags & RE_CLASS_FOLD) || (cl->flags & RE_CLASS_FOLD))) {
            for (int i = 0; i < 32; i++)
                cl->bitmap[i] |= with->bitmap[i];
            if (with->flags & RE_CLASS_NAMED) {
                for (int i = 0; i < 4; i++)
                    cl->classes[i] |= with->classes[i];
                cl->flags |= RE_CLASS_NAMED;
            }
        } else
            class_set_all(gcb, cl);
    }
    if (with->flags & RE_CLASS_EOS)
        cl->flags |= RE_CLASS_EOS;
}

namespace {

// ---- substrings ----------------------------------------------------------------------

void re_commit_substr(PERLGCB* gcb, ScanData* data)
{
    int32_t l = lit_chars(gcb, data->last_found);
    int32_t old_l = lit_chars(gcb, data->longest);
    if (l >= old_l && (l > old_l || (data->flags & SF_BEFORE_EOL))) {
        lit_set(data->longest, *data->last_found->slot, data->last_found->len);
        if (data->longest == data->longest_fixed) {
            data->offset_fixed = l ? data->last_start_min : data->pos_min;
            if (data->flags & SF_BEFORE_EOL)
                data->flags |= (data->flags & SF_BEFORE_EOL) << 2;
            else
                data->flags &= ~SF_FIX_BEFORE_EOL;
        } else {
            data->offset_float_min = l ? data->last_start_min : data->pos_min;
            data->offset_float_max = l ? data->last_start_max : sat(static_cast<int64_t>(data->pos_min) + data->pos_delta);
            if (data->flags & SF_BEFORE_EOL)
                data->flags |= (data->flags & SF_BEFORE_EOL) << 4;
            else
                data->flags &= ~SF_FL_BEFORE_EOL;
        }
    }
    data->last_found->len = 0;
    data->last_end = -1;
    data->flags &= ~SF_BEFORE_EOL;
}

// ---- the study --------------------------------------------------------------------------

// Merges literal runs and steps over NOTHING nodes that follow a literal.
void merge_literals(PERLGCB* gcb, re_program_node* scan)
{
    re_program_node* n = next_of(gcb, scan);
    bool stringok = true;
    re_program_node* next = scan + re_exact_units(scan->flags);
    re_program_node* stop = scan;
    while (n && (re_kind(n) == RE_NOTHING || (stringok && n->type == scan->type)) && n->next &&
           static_cast<int32_t>(scan->next) + n->next < 32767) {
        if (n->type == RE_TAIL || n > next)
            stringok = false;
        if (re_kind(n) == RE_NOTHING) {
            scan->next = static_cast<uint16_t>(scan->next + n->next);
            next = n + 1;
            if (stringok)
                stop = n;
            n = next_of(gcb, n);
        } else {
            int32_t oldl = scan->flags;
            re_program_node* nnext = next_of(gcb, n);
            if (oldl + n->flags > 255)
                break;
            scan->next = static_cast<uint16_t>(scan->next + n->next);
            scan->flags = static_cast<uint8_t>(oldl + n->flags);
            next = n + re_exact_units(n->flags);
            // n follows scan directly: its text may be moved over its own head.
            std::memmove(re_text(scan) + oldl, re_text(n), n->flags);
            stop = next - 1;
            n = nnext;
        }
    }
    if (debug_on(gcb)) {
        // Units the literal absorbed are marked for the dump.
        for (re_program_node* u = scan + re_exact_units(scan->flags); u <= stop; u++)
            if (re_kind(u) != RE_NOTHING || u->type == RE_NOTHING)
                mark_optimized(u);
    }
}

// Extends the next distance of scan past following NOTHING-kind nodes.
void skip_nothings(PERLGCB* gcb, re_program_node* scan)
{
    bool in_arg = re_next_in_arg[scan->type];
    int64_t max = in_arg ? I32_INF : 65535;
    int64_t off = next_distance(scan);
    re_program_node* n = scan;
    for (;;) {
        n = next_of(gcb, n);
        if (!n || re_kind(n) != RE_NOTHING || n->next == 0 || off + n->next >= max)
            break;
        off += n->next;
    }
    if (in_arg)
        re_set_arg(scan, static_cast<uint32_t>(static_cast<int32_t>(off)));
    else
        scan->next = static_cast<uint16_t>(off);
}

[[noreturn]] void fail_at_end(PERLGCB* gcb, const char* message)
{
    re_fail_at(gcb, gcb->re_xend, message);
}

int32_t re_study_nodes(PERLGCB* gcb, re_program_node** scanp, int32_t* deltap, re_program_node* last,
                    ScanData* data, uint32_t flags);

// The start-class effect of one simple node.
void study_simple_class(PERLGCB* gcb, re_program_node* scan, ScanData* data, uint32_t flags,
                        const re_class_node* and_with)
{
    re_class_node* sc = data->start_class;
    bool do_and = flags & SCF_DO_STCLASS_AND;
    sc->flags &= ~RE_CLASS_EOS;
    // One family: positive test, class numbers, whether it is the locale form.
    auto family = [&](bool (*holds)(uint32_t), int32_t cc_pos, int32_t cc_neg, bool negated, bool locale_form) {
        int32_t cc = negated ? cc_neg : cc_pos;
        int32_t ncc = negated ? cc_pos : cc_neg;
        if (!locale_form) {
            if (do_and) {
                if (!(sc->flags & RE_CLASS_LOCALE)) {
                    class_bit_clear(sc, ncc);
                    for (uint32_t v = 0; v < 256; v++)
                        if (holds(v) == negated)
                            bitmap_clear(sc->bitmap, v);
                }
            } else {
                if (sc->flags & RE_CLASS_LOCALE)
                    class_bit_set(sc, cc);
                else
                    for (uint32_t v = 0; v < 256; v++)
                        if (holds(v) != negated)
                            re_bitmap_set(sc->bitmap, static_cast<uint8_t>(v));
            }
        } else {
            if (do_and) {
                if (sc->flags & RE_CLASS_LOCALE)
                    class_bit_clear(sc, ncc);
            } else {
                class_bit_set(sc, cc);
                sc->flags |= RE_CLASS_LOCALE;
            }
        }
    };
    static constexpr bool (*word)(uint32_t) = [](uint32_t v) { return (ctype(v) & HC_ALNUM) || v == '_'; };
    static constexpr bool (*space)(uint32_t) = [](uint32_t v) { return (ctype(v) & HC_SPACE) != 0; };
    static constexpr bool (*digit)(uint32_t) = [](uint32_t v) { return v >= '0' && v <= '9'; };
    switch (scan->type) {
    case RE_REG_ANY: {
        bool had_newline = true;
        if (!do_and) {
            had_newline = re_bitmap_test(sc->bitmap, '\n') || (sc->flags & RE_CLASS_NAMED);
            class_set_all(gcb, sc);
            sc->flags &= ~RE_CLASS_EOS;
        }
        if (do_and || !had_newline)
            bitmap_clear(sc->bitmap, '\n');
        break;
    }
    case RE_ANYOF:
        if (do_and)
            re_class_and(sc, reinterpret_cast<const re_class_node*>(scan));
        else
            re_class_or(gcb, sc, reinterpret_cast<const re_class_node*>(scan));
        break;
    case RE_ALNUM: family(word, RE_CC_WORD, RE_CC_NWORD, false, false); break;
    case RE_ALNUML: family(word, RE_CC_WORD, RE_CC_NWORD, false, true); break;
    case RE_NALNUM: family(word, RE_CC_WORD, RE_CC_NWORD, true, false); break;
    case RE_NALNUML: family(word, RE_CC_WORD, RE_CC_NWORD, true, true); break;
    case RE_SPACE: family(space, RE_CC_SPACE, RE_CC_NSPACE, false, false); break;
    case RE_SPACEL: family(space, RE_CC_SPACE, RE_CC_NSPACE, false, true); break;
    case RE_NSPACE: family(space, RE_CC_SPACE, RE_CC_NSPACE, true, false); break;
    case RE_NSPACEL: family(space, RE_CC_SPACE, RE_CC_NSPACE, true, true); break;
    case RE_DIGIT: family(digit, RE_CC_DIGIT, RE_CC_NDIGIT, false, false); break;
    case RE_NDIGIT: family(digit, RE_CC_DIGIT, RE_CC_NDIGIT, true, false); break;
    default:
        // SANY and the UTF-8 forms: anything may start a match.
        if (!do_and) {
            class_set_all(gcb, sc);
            sc->flags &= ~RE_CLASS_EOS;
        }
        break;
    }
    if (flags & SCF_DO_STCLASS_OR)
        re_class_and(sc, and_with);
}

// The alternation at scan (BRANCH, BRANCHJ, IFTHEN or SUSPEND).
void study_alternation(PERLGCB* gcb, re_program_node** scanp, ScanData* data, uint32_t* flagsp, int32_t* minp,
                       int64_t* deltap, bool* is_inf, bool* is_inf_internal, int32_t* pars,
                       re_class_node* and_with)
{
    re_program_node* scan = *scanp;
    uint32_t flags = *flagsp;
    uint8_t code = scan->type;
    re_program_node* next = next_of(gcb, scan);
    if (!(next && next->type == code) && code != RE_IFTHEN && code != RE_SUSPEND) {
        // A single alternative is studied as its operand.
        *scanp = code == RE_BRANCHJ ? scan + 2 : scan + 1;
        return;
    }
    int32_t max1 = 0, min1 = I32_INF, num = 0;
    re_class_node accum;
    if (flags & SCF_DO_SUBSTR)
        re_commit_substr(gcb, data);
    if (flags & SCF_DO_STCLASS)
        class_init_zero(gcb, &accum);
    while (scan && scan->type == code) {
        int32_t deltanext = 0;
        ScanData fake{};
        re_class_node this_class;
        uint32_t f = 0;
        num++;
        fake.whilem_c = data ? data->whilem_c : 0;
        next = next_of(gcb, scan);
        scan = code == RE_BRANCH ? scan + 1 : scan + 2;
        if (flags & SCF_DO_STCLASS) {
            class_init(gcb, &this_class);
            fake.start_class = &this_class;
            f = SCF_DO_STCLASS_AND;
        }
        if (flags & SCF_WHILEM_VISITED_POS)
            f |= SCF_WHILEM_VISITED_POS;
        int32_t minnext = re_study_nodes(gcb, &scan, &deltanext, next, &fake, f);
        if (min1 > minnext)
            min1 = minnext;
        int32_t reach = sat(static_cast<int64_t>(minnext) + deltanext);
        if (max1 < reach)
            max1 = reach;
        if (deltanext == I32_INF)
            *is_inf = *is_inf_internal = true;
        scan = next;
        if (fake.flags & (SF_HAS_PAR | SF_IN_PAR))
            (*pars)++;
        if (data && (fake.flags & SF_HAS_EVAL))
            data->flags |= SF_HAS_EVAL;
        if (data)
            data->whilem_c = fake.whilem_c;
        if (flags & SCF_DO_STCLASS)
            re_class_or(gcb, &accum, &this_class);
        if (code == RE_SUSPEND)
            break;
    }
    if (code == RE_IFTHEN && num < 2)  // no "no" branch: the switch may match nothing
        min1 = 0;
    if (flags & SCF_DO_SUBSTR) {
        data->pos_min = sat(static_cast<int64_t>(data->pos_min) + min1);
        data->pos_delta = sat(static_cast<int64_t>(data->pos_delta) + max1 - min1);
        if (max1 != min1 || *is_inf)
            data->longest = data->longest_float;
    }
    *minp = sat(static_cast<int64_t>(*minp) + min1);
    *deltap += static_cast<int64_t>(max1) - min1;
    if (flags & SCF_DO_STCLASS_OR) {
        re_class_or(gcb, data->start_class, &accum);
        if (min1) {
            re_class_and(data->start_class, and_with);
            flags &= ~SCF_DO_STCLASS;
        }
    } else if (flags & SCF_DO_STCLASS_AND) {
        if (min1) {
            re_class_and(data->start_class, &accum);
            flags &= ~SCF_DO_STCLASS;
        } else {
            // Switch to union mode: keep the class so far aside.
            *and_with = *data->start_class;
            flags &= ~SCF_DO_STCLASS_AND;
            *data->start_class = accum;
            flags |= SCF_DO_STCLASS_OR;
            data->start_class->flags |= RE_CLASS_EOS;
        }
    }
    *flagsp = flags;
    *scanp = scan;
}

int32_t re_study_nodes(PERLGCB* gcb, re_program_node** scanp, int32_t* deltap, re_program_node* last,
                    ScanData* data, uint32_t flags)
{
    int32_t min = 0;
    int32_t pars = 0;
    re_program_node* scan = *scanp;
    re_program_node* next;
    int64_t delta = 0;
    bool is_inf = (flags & SCF_DO_SUBSTR) && (data->flags & SF_IS_INF);
    bool is_inf_internal = false;
    int32_t is_par = scan && scan->type == RE_OPEN ? static_cast<int32_t>(re_arg(scan)) : 0;
    re_class_node and_with;
    class_init(gcb, &and_with);

    while (scan && scan->type != RE_END && (!last || scan < last)) {
        // Peephole steps.
        if (re_kind(scan) == RE_EXACT)
            merge_literals(gcb, scan);
        if (scan->type != RE_CURLYX)
            skip_nothings(gcb, scan);

        uint8_t op = scan->type;
        uint8_t kind = re_kind(scan);
        if (op == RE_BRANCH || op == RE_BRANCHJ || op == RE_IFTHEN || op == RE_SUSPEND) {
            re_program_node* before = scan;
            study_alternation(gcb, &scan, data, &flags, &min, &delta, &is_inf, &is_inf_internal, &pars, &and_with);
            (void)before;
            continue;
        } else if (op == RE_EXACT) {
            int32_t l = char_count(gcb, re_text(scan), scan->flags);
            min = sat(static_cast<int64_t>(min) + l);
            if (flags & SCF_DO_SUBSTR) {
                if (data->last_end == -1) {
                    data->last_start_min = data->pos_min;
                    data->last_start_max = is_inf ? I32_INF : sat(static_cast<int64_t>(data->pos_min) + data->pos_delta);
                }
                lit_append(data->last_found, re_text(scan), scan->flags);
                data->last_end = sat(static_cast<int64_t>(data->pos_min) + l);
                data->pos_min = data->last_end;
                data->flags &= ~SF_BEFORE_EOL;
            }
            uint8_t c0 = static_cast<uint8_t>(re_text(scan)[0]);
            if (flags & SCF_DO_STCLASS_AND) {
                re_class_node* sc = data->start_class;
                bool compat = true;
                if (!(sc->flags & (RE_CLASS_NAMED | RE_CLASS_LOCALE)) && !re_bitmap_test(sc->bitmap, c0) &&
                    (!(sc->flags & RE_CLASS_FOLD) || !re_bitmap_test(sc->bitmap, gcb->fold_table[c0])))
                    compat = false;
                std::memset(sc->classes, 0, sizeof sc->classes);
                std::memset(sc->bitmap, 0, sizeof sc->bitmap);
                if (compat)
                    re_bitmap_set(sc->bitmap, c0);
                sc->flags &= ~RE_CLASS_EOS;
            } else if (flags & SCF_DO_STCLASS_OR) {
                re_bitmap_set(data->start_class->bitmap, c0);
                data->start_class->flags &= ~RE_CLASS_EOS;
                re_class_and(data->start_class, &and_with);
            }
            flags &= ~SCF_DO_STCLASS;
        } else if (kind == RE_EXACT) {
            // EXACTF, EXACTFL: folded text never becomes a substring.
            int32_t l = char_count(gcb, re_text(scan), scan->flags);
            if (flags & SCF_DO_SUBSTR)
                re_commit_substr(gcb, data);
            min = sat(static_cast<int64_t>(min) + l);
            if (flags & SCF_DO_SUBSTR)
                data->pos_min = sat(static_cast<int64_t>(data->pos_min) + l);
            uint8_t c0 = static_cast<uint8_t>(re_text(scan)[0]);
            if (flags & SCF_DO_STCLASS_AND) {
                re_class_node* sc = data->start_class;
                bool compat = true;
                if (!(sc->flags & (RE_CLASS_NAMED | RE_CLASS_LOCALE)) && !re_bitmap_test(sc->bitmap, c0) &&
                    !re_bitmap_test(sc->bitmap, gcb->fold_table[c0]))
                    compat = false;
                std::memset(sc->classes, 0, sizeof sc->classes);
                std::memset(sc->bitmap, 0, sizeof sc->bitmap);
                if (compat) {
                    re_bitmap_set(sc->bitmap, c0);
                    sc->flags &= ~RE_CLASS_EOS;
                    sc->flags |= RE_CLASS_FOLD;
                    if (op == RE_EXACTFL)
                        sc->flags |= RE_CLASS_LOCALE;
                }
            } else if (flags & SCF_DO_STCLASS_OR) {
                if (data->start_class->flags & RE_CLASS_FOLD) {
                    re_bitmap_set(data->start_class->bitmap, c0);
                    data->start_class->flags &= ~RE_CLASS_EOS;
                }
                re_class_and(data->start_class, &and_with);
            }
            flags &= ~SCF_DO_STCLASS;
        } else if (kind == RE_STAR || kind == RE_PLUS || kind == RE_CURLY || kind == RE_WHILEM || kind == RE_REF ||
                   kind == RE_BACK) {
            int32_t mincount = 0, maxcount = 0, minnext = 0, deltanext = 0;
            uint32_t fl = 0;
            uint32_t f = flags;
            int32_t pos_before = 0;
            re_program_node* oscan = scan;
            re_class_node this_class;
            re_class_node* oclass = nullptr;
            bool do_curly = false;
            switch (kind) {
            case RE_WHILEM:
                // The end of a general repeat's body: the study of the body ends.
                scan = scan + 1;
                goto finish;
            case RE_PLUS:
                if (flags & (SCF_DO_SUBSTR | SCF_DO_STCLASS)) {
                    re_program_node* operand = scan + 1;
                    if (operand->type == RE_EXACT || (flags & SCF_DO_STCLASS)) {
                        mincount = 1;
                        maxcount = RE_INFTY;
                        next = next_of(gcb, scan);
                        scan = scan + 1;
                        do_curly = true;
                        break;
                    }
                }
                if (flags & SCF_DO_SUBSTR)
                    data->pos_min = sat(static_cast<int64_t>(data->pos_min) + 1);
                min = sat(static_cast<int64_t>(min) + 1);
                [[fallthrough]];
            case RE_STAR:
                if (flags & SCF_DO_STCLASS) {
                    mincount = 0;
                    maxcount = RE_INFTY;
                    next = next_of(gcb, scan);
                    scan = scan + 1;
                    do_curly = true;
                    break;
                }
                is_inf = is_inf_internal = true;
                scan = next_of(gcb, scan);
                if (flags & SCF_DO_SUBSTR) {
                    re_commit_substr(gcb, data);
                    data->longest = data->longest_float;
                }
                goto optimize_curly_tail;
            case RE_CURLY:
                mincount = re_arg_min(scan);
                maxcount = re_arg_max(scan);
                next = next_of(gcb, scan);
                scan = scan + 2;
                do_curly = true;
                break;
            default:
                // REF: anything may follow.
                if (flags & SCF_DO_SUBSTR) {
                    re_commit_substr(gcb, data);
                    data->longest = data->longest_float;
                }
                is_inf = is_inf_internal = true;
                if (flags & SCF_DO_STCLASS_OR)
                    class_set_all(gcb, data->start_class);
                flags &= ~SCF_DO_STCLASS;
                break;
            }
            if (!do_curly) {
                scan = next_of(gcb, scan);
                continue;
            }
            // do_curly: the body at scan, repeated mincount..maxcount times.
            if (flags & SCF_DO_SUBSTR) {
                if (mincount == 0)
                    re_commit_substr(gcb, data);
                pos_before = data->pos_min;
            }
            if (data) {
                fl = data->flags;
                data->flags &= ~(SF_HAS_PAR | SF_IN_PAR | SF_HAS_EVAL);
                if (is_inf)
                    data->flags |= SF_IS_INF;
            }
            if (flags & SCF_DO_STCLASS) {
                class_init(gcb, &this_class);
                oclass = data->start_class;
                data->start_class = &this_class;
                f |= SCF_DO_STCLASS_AND;
                f &= ~SCF_DO_STCLASS_OR;
            }
            // Once a body fails at a position it cannot succeed there later
            // unless the count could still matter.
            if (mincount != maxcount - 1 && maxcount != RE_INFTY)
                f &= ~SCF_WHILEM_VISITED_POS;
            minnext = re_study_nodes(gcb, &scan, &deltanext, last, data, mincount == 0 ? (f & ~SCF_DO_SUBSTR) : f);
            if (flags & SCF_DO_STCLASS)
                data->start_class = oclass;
            if (mincount == 0 || minnext == 0) {
                if (flags & SCF_DO_STCLASS_OR) {
                    re_class_or(gcb, data->start_class, &this_class);
                } else if (flags & SCF_DO_STCLASS_AND) {
                    and_with = *data->start_class;
                    flags &= ~SCF_DO_STCLASS_AND;
                    *data->start_class = this_class;
                    flags |= SCF_DO_STCLASS_OR;
                    data->start_class->flags |= RE_CLASS_EOS;
                }
            } else {
                if (flags & SCF_DO_STCLASS_OR) {
                    re_class_or(gcb, data->start_class, &this_class);
                    re_class_and(data->start_class, &and_with);
                } else if (flags & SCF_DO_STCLASS_AND)
                    re_class_and(data->start_class, &this_class);
                flags &= ~SCF_DO_STCLASS;
            }
            if (!scan)  // a CURLY body ends without WHILEM
                scan = next;
            if (static_cast<int64_t>(minnext) + deltanext == 0 && data && !(data->flags & (SF_HAS_PAR | SF_IN_PAR)) &&
                maxcount <= RE_INFTY / 3 && re_warn_enabled(gcb))
                re_warn_at(gcb, gcb->re_xend, "Quantifier unexpected on zero-length expression");

            min = sat(static_cast<int64_t>(min) + static_cast<int64_t>(minnext) * mincount);
            is_inf_internal |= (maxcount == RE_INFTY && static_cast<int64_t>(minnext) + deltanext > 0) ||
                               deltanext == I32_INF;
            is_inf |= is_inf_internal;
            delta += (static_cast<int64_t>(minnext) + deltanext) * maxcount - static_cast<int64_t>(minnext) * mincount;

            // CURLYX over one group around one simple node: CURLYN.
            if (oscan->type == RE_CURLYX && data && (data->flags & SF_IN_PAR) && !(data->flags & SF_HAS_EVAL) &&
                !deltanext && minnext == 1) {
                re_program_node* nxt = oscan + 2;
                re_program_node* nxt1 = nxt;
                re_program_node* nxt2;
                nxt = next_of(gcb, nxt);
                if (nxt && (re_simple_nodes[nxt->type] || (re_kind(nxt) == RE_EXACT && nxt->flags == 1))) {
                    nxt2 = nxt;
                    nxt = next_of(gcb, nxt);
                    if (nxt && nxt->type == RE_CLOSE) {
                        oscan->flags = static_cast<uint8_t>(re_arg(nxt));
                        oscan->type = RE_CURLYN;
                        nxt1->type = RE_NOTHING;  // was OPEN
                        mark_optimized(nxt1 + 1);
                        nxt2->next = 0;
                        mark_optimized(nxt);      // was CLOSE
                        mark_optimized(nxt + 1);
                    }
                }
            }
            // CURLYX over a fixed-length body: CURLYM.
            if (oscan->type == RE_CURLYX && data && !(data->flags & SF_HAS_PAR) && !(data->flags & SF_HAS_EVAL) &&
                !deltanext) {
                re_program_node* nxt = oscan + 2;
                re_program_node* nxt2;
                oscan->type = RE_CURLYM;
                while ((nxt2 = next_of(gcb, nxt)) && nxt2->type != RE_WHILEM)
                    nxt = nxt2;
                if (nxt2)
                    nxt2->type = RE_SUCCEED;  // was WHILEM
                if (data->flags & SF_IN_PAR) {
                    re_program_node* nxt1 = oscan + 2;
                    if (nxt->type != RE_CLOSE)
                        re_fail_plain(gcb, "Panic opt close");
                    oscan->flags = static_cast<uint8_t>(re_arg(nxt));
                    nxt1->type = RE_OPTIMIZED;  // was OPEN
                    nxt->type = RE_OPTIMIZED;   // was CLOSE
                    mark_optimized(nxt1 + 1);
                    mark_optimized(nxt + 1);
                    // Relink the body over the folded nodes.
                    int32_t dn = 0;
                    re_study_nodes(gcb, &nxt1, &dn, nxt, nullptr, 0);
                } else
                    oscan->flags = 0;
            } else if (oscan->type == RE_CURLYX && (flags & SCF_WHILEM_VISITED_POS) && maxcount == RE_INFTY && data &&
                       ++data->whilem_c < 16) {
                // Number the loop for the matcher's position cache.
                re_program_node* nxt = oscan + oscan->next;
                if ((nxt - 1)->type == RE_NOTHING)  // the long-jump form: step over LONGJMP
                    nxt += static_cast<int32_t>(re_arg(nxt));
                (nxt - 1)->flags = static_cast<uint8_t>(data->whilem_c | (gcb->re_whilem_seen << 4));
            }
            // Groups inside the body are groups of this stretch too: without
            // them an enclosing repeat would take the body's group for its own.
            if (data && ((fl | data->flags) & (SF_HAS_PAR | SF_IN_PAR)))
                pars++;
            if (flags & SCF_DO_SUBSTR) {
                bool have_last = false;
                int32_t counted = mincount != 0;
                char* last_buf = nullptr;
                int32_t last_len = 0;
                if (data->last_end > 0 && mincount != 0) {
                    // The literal reaches into the body: take the part added there.
                    int32_t b = pos_before >= data->last_start_min ? pos_before : data->last_start_min;
                    char* s = *data->last_found->slot;
                    int32_t l = data->last_found->len;
                    int32_t old = char_to_byte(gcb, s, l, b - data->last_start_min);
                    l -= old;
                    last_buf = static_cast<char*>(pool_malloc(static_cast<uint64_t>(l) + 1));
                    std::memcpy(last_buf, s + old, static_cast<size_t>(l));
                    last_len = l;
                    have_last = true;
                    if (deltanext == 0 && pos_before == b) {
                        // A constant string: the literal holds it mincount times.
                        if (mincount > 1) {
                            data->last_found->len -= l;
                            for (int32_t i = 0; i < mincount; i++)
                                lit_append(data->last_found, last_buf, l);
                            data->last_end = sat(static_cast<int64_t>(data->last_end) +
                                                 static_cast<int64_t>(char_count(gcb, last_buf, l)) * (mincount - 1));
                        }
                    } else {
                        // The start offset must point into the last copy.
                        data->last_start_min = sat(static_cast<int64_t>(data->last_start_min) +
                                                   static_cast<int64_t>(minnext) * (mincount - 1));
                        data->last_start_max = is_inf ? data->last_start_max
                                                      : sat(static_cast<int64_t>(data->last_start_max) +
                                                            static_cast<int64_t>(maxcount - 1) *
                                                                (static_cast<int64_t>(minnext) + data->pos_delta));
                    }
                }
                data->pos_min = sat(static_cast<int64_t>(data->pos_min) +
                                    static_cast<int64_t>(minnext) * (mincount - counted));
                data->pos_delta = sat(static_cast<int64_t>(data->pos_delta) - static_cast<int64_t>(counted) * deltanext +
                                      (static_cast<int64_t>(minnext) + deltanext) * maxcount -
                                      static_cast<int64_t>(minnext) * mincount);
                if (mincount != maxcount) {
                    // Fixed substrings found inside the body cannot be extended.
                    re_commit_substr(gcb, data);
                    if (mincount && have_last) {
                        lit_set(data->last_found, last_buf, last_len);
                        int32_t chars = char_count(gcb, last_buf, last_len);
                        data->last_end = data->pos_min;
                        data->last_start_min = data->pos_min - chars;
                        data->last_start_max = is_inf ? I32_INF
                                                      : sat(static_cast<int64_t>(data->pos_min) + data->pos_delta - chars);
                    }
                    data->longest = data->longest_float;
                }
                pool_free(last_buf);
            }
            if (data && (fl & SF_HAS_EVAL))
                data->flags |= SF_HAS_EVAL;
        optimize_curly_tail:
            if (oscan->type != RE_CURLYX) {
                re_program_node* n;
                while ((n = next_of(gcb, oscan)) && re_kind(n) == RE_NOTHING && n->next &&
                       static_cast<int32_t>(oscan->next) + n->next < 65536)
                    oscan->next = static_cast<uint16_t>(oscan->next + n->next);
            }
            continue;
        } else if (re_simple_nodes[op]) {
            if (flags & SCF_DO_SUBSTR) {
                re_commit_substr(gcb, data);
                data->pos_min = sat(static_cast<int64_t>(data->pos_min) + 1);
            }
            min = sat(static_cast<int64_t>(min) + 1);
            if (flags & SCF_DO_STCLASS) {
                study_simple_class(gcb, scan, data, flags, &and_with);
                flags &= ~SCF_DO_STCLASS;
            }
        } else if (kind == RE_EOL && (flags & SCF_DO_SUBSTR)) {
            data->flags |= op == RE_MEOL ? SF_BEFORE_MEOL : SF_BEFORE_SEOL;
        } else if (kind == RE_BRANCHJ && (op == RE_IFMATCH || op == RE_UNLESSM) &&
                   (scan->flags || data || (flags & SCF_DO_STCLASS))) {
            // Lookahead and lookbehind: studied apart; they consume nothing.
            int32_t deltanext = 0;
            ScanData fake{};
            re_class_node intrnl;
            uint32_t f = 0;
            fake.whilem_c = data ? data->whilem_c : 0;
            if ((flags & SCF_DO_STCLASS) && !scan->flags && op == RE_IFMATCH) {
                class_init(gcb, &intrnl);
                fake.start_class = &intrnl;
                f |= SCF_DO_STCLASS_AND;
            }
            if (flags & SCF_WHILEM_VISITED_POS)
                f |= SCF_WHILEM_VISITED_POS;
            re_program_node* nscan = scan + 2;
            int32_t minnext = re_study_nodes(gcb, &nscan, &deltanext, last, &fake, f);
            if (scan->flags) {
                if (deltanext)
                    fail_at_end(gcb, "Variable length lookbehind not implemented");
                if (minnext > 255) {
                    char msg[80];
                    std::snprintf(msg, sizeof msg, "Lookbehind longer than %lu not implemented", 255ul);
                    re_fail_formatted(gcb, gcb->re_xend, "Lookbehind longer than %lu not implemented", msg);
                }
                scan->flags = static_cast<uint8_t>(minnext);
            }
            if (data && (fake.flags & (SF_HAS_PAR | SF_IN_PAR)))
                pars++;
            if (data && (fake.flags & SF_HAS_EVAL))
                data->flags |= SF_HAS_EVAL;
            if (data)
                data->whilem_c = fake.whilem_c;
            // A lookahead that may match the empty string says nothing of the
            // next character: only one that must consume narrows the class.
            if ((f & SCF_DO_STCLASS_AND) && !(intrnl.flags & RE_CLASS_EOS)) {
                uint8_t was = data->start_class->flags & RE_CLASS_EOS;
                re_class_and(data->start_class, &intrnl);
                if (was)
                    data->start_class->flags |= RE_CLASS_EOS;
            }
        } else if (op == RE_OPEN) {
            pars++;
        } else if (op == RE_CLOSE && static_cast<int32_t>(re_arg(scan)) == is_par) {
            next = next_of(gcb, scan);
            if (next && next->type != RE_WHILEM && (!last || next < last))
                is_par = 0;  // the group does not end the stretch
        } else if (op == RE_EVAL) {
            if (data)
                data->flags |= SF_HAS_EVAL;
        }
        // Other nodes are zero-length.
        scan = next_of(gcb, scan);
    }
finish:
    *scanp = scan;
    *deltap = is_inf_internal ? I32_INF : sat(delta);
    if ((flags & SCF_DO_SUBSTR) && is_inf)
        data->pos_delta = I32_INF - data->pos_min;
    if (is_par > 255)
        is_par = 0;
    if (is_par && pars == 1 && data) {
        data->flags |= SF_IN_PAR;
        data->flags &= ~SF_HAS_PAR;
    } else if (pars && data) {
        data->flags |= SF_HAS_PAR;
        data->flags &= ~SF_IN_PAR;
    }
    if (flags & SCF_DO_STCLASS_OR)
        re_class_and(data->start_class, &and_with);
    return min;
}

// A substring value prepared for fast search; tail marks it as one that
// ends just before the end of the subject or a final newline.
SV* make_substr(PERLGCB* gcb, const Literal* l, bool tail)
{
    SV* sv = sv_new_from_bytes(gcb, l->len ? *l->slot : "", static_cast<uint64_t>(l->len));
    boyer_moore_prepare(gcb, sv, tail ? BM_TAIL_FLAGS : 0);
    return sv;
}

void free_scratch(PERLGCB* gcb)
{
    for (char*& p : gcb->re_opt_text) {
        pool_free(p);
        p = nullptr;
    }
}

re_class_node* keep_start_class(PERLGCB* gcb, re_compiled* rx, const re_class_node* cl)
{
    uint32_t n = re_data_append(gcb, 1, "f");
    re_class_node* copy = static_cast<re_class_node*>(pool_malloc(sizeof(re_class_node)));
    *copy = *cl;
    rx->data->data[n] = copy;
    rx->analysis_flags &= ~REA_SKIP;
    if (debug_on(gcb)) {
        char desc[1024];
        re_describe_to(gcb, desc, sizeof desc, reinterpret_cast<re_program_node*>(copy));
        prx_fprintf(PRX_STDERR, "synthetic stclass `%s'.\n", desc);
    }
    return copy;
}

}  // namespace

void re_optimize(PERLGCB* gcb, re_compiled* rx)
{
    free_scratch(gcb);
    re_program_node* program = reinterpret_cast<re_program_node*>(rx->program);
    re_program_node* scan = program + 1;
    re_program_node* end = program + gcb->re_size;
    int32_t minlen = 0;
    int32_t fake = 0;
    ScanData data{};
    re_class_node ch_class;
    Literal last_found{&gcb->re_opt_text[0], 0, 0};
    Literal longest_fixed{&gcb->re_opt_text[1], 0, 0};
    Literal longest_float{&gcb->re_opt_text[2], 0, 0};
    re_substr_info* sub = rx->substrings;
    gcb->re_whilem_index = 0;

    if (scan->type != RE_BRANCH) {
        // One alternative at the top: anchors, start class, substrings.
        re_program_node* first = scan;
        bool sawplus = false, sawopen = false;
        for (;;) {
            if (first->type == RE_OPEN)
                sawopen = true;
            else if (first->type == RE_BRANCH) {
                re_program_node* n = next_of(gcb, first);
                if (n && n->type == RE_BRANCH)
                    break;
            } else if (first->type == RE_PLUS)
                sawplus = true;
            else if (first->type != RE_MINMOD && !(re_kind(first) == RE_CURLY && re_arg_min(first) > 0))
                break;
            if (first->type != RE_PLUS)
                first += re_arg_units[first->type];
            first += 1;
        }
        for (;;) {
            uint8_t kind = re_kind(first);
            if (kind == RE_EXACT) {
                if (first->type != RE_EXACT && !(gcb->re_regflags & RE_REGF_UTF8))
                    rx->start_class = reinterpret_cast<re_class_node*>(first);
            } else if ((re_simple_nodes[first->type] && kind != RE_REG_ANY) || kind == RE_BOUND || kind == RE_NBOUND) {
                rx->start_class = reinterpret_cast<re_class_node*>(first);
            } else if (kind == RE_BOL) {
                rx->analysis_flags |= first->type == RE_MBOL ? REA_MBOL : first->type == RE_SBOL ? REA_SBOL : REA_BOL;
                first += 1;
                continue;
            } else if (first->type == RE_GPOS) {
                rx->analysis_flags |= REA_GPOS;
                first += 1;
                continue;
            } else if (first->type == RE_STAR && re_kind(first + 1) == RE_REG_ANY && !(rx->analysis_flags & REA_ANCH)) {
                // A leading .* matches from a line start as well as anywhere later.
                uint8_t type = (first + 1)->type;
                rx->analysis_flags |= (type == RE_REG_ANY || type == RE_ANYUTF8 ? REA_MBOL : REA_SBOL) | REA_IMPLICIT;
                first += 1;
                continue;
            }
            break;
        }
        if (sawplus && (!sawopen || !gcb->re_sawback) && !(gcb->re_seen & RE_SEEN_EVAL))
            rx->analysis_flags |= REA_SKIP;
        if (debug_on(gcb))
            prx_fprintf(PRX_STDERR, "first at %ld\n", static_cast<long>(first - program));

        data.last_found = &last_found;
        data.longest_fixed = &longest_fixed;
        data.longest_float = &longest_float;
        data.longest = &longest_fixed;
        data.last_end = -1;
        uint32_t stclass_flag = 0;
        if (!rx->start_class) {
            class_init(gcb, &ch_class);
            data.start_class = &ch_class;
            stclass_flag = SCF_DO_STCLASS_AND;
        }
        first = scan;
        minlen = re_study_nodes(gcb, &first, &fake, end, &data, SCF_DO_SUBSTR | SCF_WHILEM_VISITED_POS | stclass_flag);
        if (gcb->re_npar == 1 && data.longest == data.longest_fixed && data.last_start_min == 0 &&
            data.last_end > 0 && !gcb->re_zerolen &&
            (!(gcb->re_seen & RE_SEEN_GPOS) || (rx->analysis_flags & REA_GPOS)))
            rx->analysis_flags |= REA_CHECK_ALL;
        re_commit_substr(gcb, &data);

        int32_t float_len = lit_chars(gcb, &longest_float);
        bool multiline = gcb->re_cflags & PMf_MULTILINE;
        if (float_len ||
            ((data.flags & SF_FL_BEFORE_EOL) && (!(data.flags & SF_FL_BEFORE_MEOL) || multiline))) {
            if (longest_fixed.len && data.offset_fixed == data.offset_float_min &&
                longest_fixed.len == longest_float.len) {
                float_len = 0;  // as in (a)+: the same literal at the same place
            } else {
                bool t = (data.flags & SF_FL_BEFORE_EOL) && (!(data.flags & SF_FL_BEFORE_MEOL) || multiline);
                sub[RE_SUBSTR_FLOATING].substr = make_substr(gcb, &longest_float, t);
                sub[RE_SUBSTR_FLOATING].min_offset = data.offset_float_min;
                sub[RE_SUBSTR_FLOATING].max_offset = data.offset_float_max;
            }
        }
        int32_t fixed_len = lit_chars(gcb, &longest_fixed);
        if (fixed_len ||
            ((data.flags & SF_FIX_BEFORE_EOL) && (!(data.flags & SF_FIX_BEFORE_MEOL) || multiline))) {
            bool t = (data.flags & SF_FIX_BEFORE_EOL) && (!(data.flags & SF_FIX_BEFORE_MEOL) || multiline);
            sub[RE_SUBSTR_ANCHORED].substr = make_substr(gcb, &longest_fixed, t);
            sub[RE_SUBSTR_ANCHORED].min_offset = data.offset_fixed;
            sub[RE_SUBSTR_ANCHORED].max_offset = data.offset_fixed;
        } else
            fixed_len = 0;
        if (!sub[RE_SUBSTR_FLOATING].substr)
            float_len = 0;
        if (rx->start_class && re_kind(reinterpret_cast<re_program_node*>(rx->start_class)) == RE_REG_ANY)
            rx->start_class = nullptr;
        if ((!sub[RE_SUBSTR_ANCHORED].substr || sub[RE_SUBSTR_ANCHORED].min_offset) && stclass_flag &&
            !(data.start_class->flags & RE_CLASS_EOS) && !class_is_anything(data.start_class))
            rx->start_class = keep_start_class(gcb, rx, data.start_class);

        // The check substring: the floating one unless the anchored one is longer.
        if (fixed_len > float_len) {
            sub[RE_SUBSTR_CHECK].substr = sub[RE_SUBSTR_ANCHORED].substr;
            sub[RE_SUBSTR_CHECK].min_offset = sub[RE_SUBSTR_CHECK].max_offset = sub[RE_SUBSTR_ANCHORED].min_offset;
            if (rx->analysis_flags & (REA_SBOL | REA_GPOS))
                rx->analysis_flags |= REA_NOSCAN;
        } else {
            sub[RE_SUBSTR_CHECK].substr = sub[RE_SUBSTR_FLOATING].substr;
            sub[RE_SUBSTR_CHECK].min_offset = sub[RE_SUBSTR_FLOATING].min_offset;
            sub[RE_SUBSTR_CHECK].max_offset = sub[RE_SUBSTR_FLOATING].max_offset;
        }
        if (sub[RE_SUBSTR_CHECK].substr && !(rx->analysis_flags & REA_GPOS)) {
            rx->analysis_flags |= REA_USE_FINDER;
            if (sub[RE_SUBSTR_CHECK].substr->flags & SVf_TAIL)
                rx->analysis_flags |= REA_CHECK_TAIL;
        }
    } else {
        // Several alternatives at the top: only the minimum length and a
        // start class united from the alternatives.
        class_init_zero(gcb, &ch_class);
        data.start_class = &ch_class;
        data.last_end = -1;
        minlen = re_study_nodes(gcb, &scan, &fake, end, &data, SCF_DO_STCLASS_OR | SCF_WHILEM_VISITED_POS);
        if (!(data.start_class->flags & RE_CLASS_EOS) && !class_is_anything(data.start_class))
            rx->start_class = keep_start_class(gcb, rx, data.start_class);
    }
    rx->min_length = minlen;
    free_scratch(gcb);
}

SV* re_check_substr(PERLGCB* gcb, re_compiled* rx)
{
    SV* check = rx->substrings ? rx->substrings[RE_SUBSTR_CHECK].substr : nullptr;
    if (debug_on(gcb) && check) {
        if (!gcb->re_colours_set)
            re_init_colors(gcb);
        uint64_t len = 0;
        const char* s = sv_text(gcb, check, &len);
        if (check->flags & SVf_TAIL)
            len--;
        prx_fprintf(PRX_STDERR, "%sUsing REx substr:%s `%s%.*s%s%s'\n", gcb->re_colours[4], gcb->re_colours[5],
                    gcb->re_colours[0], static_cast<int>(len > 60 ? 60 : len), s, gcb->re_colours[1],
                    len > 60 ? "..." : "");
    }
    return check;
}
