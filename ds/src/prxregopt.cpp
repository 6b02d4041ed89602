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
    SCAN_BEFORE_SEOL = 0x1,
    SCAN_BEFORE_MEOL = 0x2,
    SCAN_BEFORE_EOL = 0x3,
    SCAN_FIXED_BEFORE_SEOL = 0x4,
    SCAN_FIXED_BEFORE_MEOL = 0x8,
    SCAN_FIXED_BEFORE_EOL = 0xC,
    SCAN_FLOATING_BEFORE_SEOL = 0x10,
    SCAN_FLOATING_BEFORE_MEOL = 0x20,
    SCAN_FLOATING_BEFORE_EOL = 0x30,
    SCAN_UNBOUNDED = 0x40,
    SCAN_HAS_GROUP = 0x80,
    SCAN_ONE_GROUP = 0x100,
    SCAN_HAS_CODE = 0x200,
};

// Study mode bits.
enum : uint32_t {
    STUDY_SUBSTRINGS = 0x400,
    STUDY_CLASS_AND = 0x800,
    STUDY_CLASS_OR = 0x1000,
    STUDY_CLASS = 0x1800,
    STUDY_NUMBER_LOOPS = 0x2000,
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
    Literal* literal;
    int32_t literal_end;       // -1 when no literal is being collected
    int32_t literal_start_min;
    int32_t literal_start_max;
    Literal* longest;          // &longest_fixed or &longest_float
    Literal* longest_fixed;
    int32_t offset_fixed;
    Literal* longest_float;
    int32_t offset_float_min;
    int32_t offset_float_max;
    uint32_t flags;
    int32_t loops_numbered;
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

void lit_reserve(PERLGCB* gcb, Literal* l, int64_t need)
{
    if (need + 1 <= l->cap)
        return;
    int64_t cap = l->cap ? l->cap : 32;
    while (cap < need + 1)
        cap *= 2;
    *l->slot = static_cast<char*>(pool_realloc(gcb, *l->slot, static_cast<uint64_t>(cap)));
    l->cap = static_cast<int32_t>(cap);
}

void lit_set(PERLGCB* gcb, Literal* l, const char* s, int32_t n)
{
    lit_reserve(gcb, l, n);
    if (n)
        std::memmove(*l->slot, s, static_cast<size_t>(n));
    l->len = n;
}

void lit_append(PERLGCB* gcb, Literal* l, const char* s, int32_t n)
{
    lit_reserve(gcb, l, static_cast<int64_t>(l->len) + n);
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
    int32_t l = lit_chars(gcb, data->literal);
    int32_t old_l = lit_chars(gcb, data->longest);
    if (l >= old_l && (l > old_l || (data->flags & SCAN_BEFORE_EOL))) {
        lit_set(gcb, data->longest, *data->literal->slot, data->literal->len);
        if (data->longest == data->longest_fixed) {
            data->offset_fixed = l ? data->literal_start_min : data->pos_min;
            if (data->flags & SCAN_BEFORE_EOL)
                data->flags |= (data->flags & SCAN_BEFORE_EOL) << 2;
            else
                data->flags &= ~SCAN_FIXED_BEFORE_EOL;
        } else {
            data->offset_float_min = l ? data->literal_start_min : data->pos_min;
            data->offset_float_max = l                                 ? data->literal_start_max
                                     : (data->flags & SCAN_UNBOUNDED) ? I32_INF
                                                                      : sat(static_cast<int64_t>(data->pos_min) + data->pos_delta);
            if (data->flags & SCAN_BEFORE_EOL)
                data->flags |= (data->flags & SCAN_BEFORE_EOL) << 4;
            else
                data->flags &= ~SCAN_FLOATING_BEFORE_EOL;
        }
    }
    data->literal->len = 0;
    data->literal_end = -1;
    data->flags &= ~SCAN_BEFORE_EOL;
}

// ---- the study --------------------------------------------------------------------------

// Merges literal runs and steps over NOTHING nodes that follow a literal.
void merge_literals(PERLGCB* gcb, re_program_node* scan)
{
    re_program_node* n = next_of(gcb, scan);
    bool can_merge = true;
    re_program_node* next = scan + re_exact_units(scan->flags);
    re_program_node* stop = scan;
    while (n && (re_kind(n) == RE_NOTHING || (can_merge && n->type == scan->type)) && n->next &&
           static_cast<int32_t>(scan->next) + n->next < 32767) {
        if (n->type == RE_TAIL || n > next)
            can_merge = false;
        if (re_kind(n) == RE_NOTHING) {
            scan->next = static_cast<uint16_t>(scan->next + n->next);
            next = n + 1;
            if (can_merge)
                stop = n;
            n = next_of(gcb, n);
        } else {
            int32_t old_len = scan->flags;
            re_program_node* following = next_of(gcb, n);
            if (old_len + n->flags > 255)
                break;
            scan->next = static_cast<uint16_t>(scan->next + n->next);
            scan->flags = static_cast<uint8_t>(old_len + n->flags);
            next = n + re_exact_units(n->flags);
            // n follows scan directly: its text may be moved over its own head.
            std::memmove(re_text(scan) + old_len, re_text(n), n->flags);
            stop = next - 1;
            n = following;
        }
    }
    if (re_debug_on(gcb)) {
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

// The zero-width operands a simple repeat may have: the anchors, \G and
// the word boundaries. They take no character however often they repeat.
bool zero_width_operand(const re_program_node* node)
{
    uint8_t k = re_kind(node);
    return k == RE_BOL || k == RE_EOL || k == RE_BOUND || k == RE_NBOUND || k == RE_GPOS;
}

// The start-class effect of one simple node.
void study_simple_class(PERLGCB* gcb, re_program_node* scan, ScanData* data, uint32_t flags,
                        const re_class_node* and_with)
{
    re_class_node* sc = data->start_class;
    bool do_and = flags & STUDY_CLASS_AND;
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
    // The node's own byte tests: a start class must hold wherever the node
    // does, or the scan would pass over a match.
    static constexpr bool (*word)(uint32_t) = [](uint32_t v) { return host_is_word(v); };
    static constexpr bool (*space)(uint32_t) = [](uint32_t v) { return host_is_space(v); };
    static constexpr bool (*digit)(uint32_t) = [](uint32_t v) { return host_is_digit(v); };
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
    if (flags & STUDY_CLASS_OR)
        re_class_and(sc, and_with);
}

// The state of the study of one chain. One lives on the stack of each
// re_study_nodes call; the bodies of alternatives, repeats and lookarounds
// get their own through the recursion.
struct Study {
    ScanData* data;          // the scan record, or null when only the lengths are wanted
    uint32_t flags;          // STUDY_* mode; the class bits drop once the class is complete
    int32_t min;             // characters every match of the chain consumes so far
    int64_t delta;           // how many more it may consume; wide, saturated when returned
    int32_t groups;          // groups met in the chain, for the group bits of the record
    bool unbounded;          // the position in the pattern has no upper bound
    bool unbounded_inside;   // the chain itself may consume without bound
    int32_t closing_group;   // the group whose OPEN begins the chain, while its CLOSE may end it
    re_class_node and_with;  // union mode: the class kept aside, intersected in at the end
};

// Intersect mode meets a part that may match nothing (an optional repeat,
// an alternation with an empty alternative): the characters after it may
// start a match as well. The class so far is kept aside, first becomes
// the class, later nodes are united into it, and the end of the chain
// intersects the union with what was kept. RE_CLASS_EOS: a match may also
// be empty up to here.
void switch_to_union(Study* st, const re_class_node* first)
{
    st->and_with = *st->data->start_class;
    st->flags &= ~STUDY_CLASS_AND;
    *st->data->start_class = *first;
    st->flags |= STUDY_CLASS_OR;
    st->data->start_class->flags |= RE_CLASS_EOS;
}

// The alternation at scan (BRANCH, BRANCHJ, IFTHEN or SUSPEND); *scanp
// moves past it, or into the operand of a single alternative.
void study_alternation(PERLGCB* gcb, Study* st, re_program_node** scanp)
{
    re_program_node* scan = *scanp;
    ScanData* data = st->data;
    uint8_t code = scan->type;
    re_program_node* next = next_of(gcb, scan);
    if (!(next && next->type == code) && code != RE_IFTHEN && code != RE_SUSPEND) {
        // A single alternative is studied as its operand.
        *scanp = code == RE_BRANCHJ ? scan + 2 : scan + 1;
        return;
    }
    int32_t alt_max = 0, alt_min = I32_INF, num = 0;
    re_class_node accum;
    if (st->flags & STUDY_SUBSTRINGS)
        re_commit_substr(gcb, data);
    if (st->flags & STUDY_CLASS)
        class_init_zero(gcb, &accum);
    while (scan && scan->type == code) {
        int32_t body_delta = 0;
        ScanData fake{};
        re_class_node this_class;
        uint32_t f = 0;
        num++;
        fake.loops_numbered = data ? data->loops_numbered : 0;
        next = next_of(gcb, scan);
        scan = code == RE_BRANCH ? scan + 1 : scan + 2;
        if (st->flags & STUDY_CLASS) {
            class_init(gcb, &this_class);
            fake.start_class = &this_class;
            f = STUDY_CLASS_AND;
        }
        if (st->flags & STUDY_NUMBER_LOOPS)
            f |= STUDY_NUMBER_LOOPS;
        int32_t body_min = re_study_nodes(gcb, &scan, &body_delta, next, &fake, f);
        if (alt_min > body_min)
            alt_min = body_min;
        int32_t reach = sat(static_cast<int64_t>(body_min) + body_delta);
        if (alt_max < reach)
            alt_max = reach;
        if (body_delta == I32_INF) {
            st->unbounded = st->unbounded_inside = true;
            if (st->flags & STUDY_SUBSTRINGS)
                data->flags |= SCAN_UNBOUNDED;
        }
        scan = next;
        if (fake.flags & (SCAN_HAS_GROUP | SCAN_ONE_GROUP))
            st->groups++;
        if (data && (fake.flags & SCAN_HAS_CODE))
            data->flags |= SCAN_HAS_CODE;
        if (data)
            data->loops_numbered = fake.loops_numbered;
        if (st->flags & STUDY_CLASS)
            re_class_or(gcb, &accum, &this_class);
        if (code == RE_SUSPEND)
            break;
    }
    if (code == RE_IFTHEN && num < 2)  // no "no" branch: the switch may match nothing
        alt_min = 0;
    if (st->flags & STUDY_SUBSTRINGS) {
        data->pos_min = sat(static_cast<int64_t>(data->pos_min) + alt_min);
        data->pos_delta = sat(static_cast<int64_t>(data->pos_delta) + alt_max - alt_min);
        if (alt_max != alt_min || st->unbounded)
            data->longest = data->longest_float;
    }
    st->min = sat(static_cast<int64_t>(st->min) + alt_min);
    st->delta += static_cast<int64_t>(alt_max) - alt_min;
    if (st->flags & STUDY_CLASS_OR) {
        re_class_or(gcb, data->start_class, &accum);
        if (alt_min) {
            re_class_and(data->start_class, &st->and_with);
            st->flags &= ~STUDY_CLASS;
        }
    } else if (st->flags & STUDY_CLASS_AND) {
        if (alt_min) {
            re_class_and(data->start_class, &accum);
            st->flags &= ~STUDY_CLASS;
        } else
            switch_to_union(st, &accum);
    }
    *scanp = scan;
}

// EXACT: its text extends the current literal.
void study_exact(PERLGCB* gcb, Study* st, re_program_node* scan)
{
    ScanData* data = st->data;
    int32_t l = char_count(gcb, re_text(scan), scan->flags);
    st->min = sat(static_cast<int64_t>(st->min) + l);
    if (st->flags & STUDY_SUBSTRINGS) {
        if (data->literal_end == -1) {
            data->literal_start_min = data->pos_min;
            data->literal_start_max = st->unbounded ? I32_INF : sat(static_cast<int64_t>(data->pos_min) + data->pos_delta);
        }
        lit_append(gcb, data->literal, re_text(scan), scan->flags);
        data->literal_end = sat(static_cast<int64_t>(data->pos_min) + l);
        data->pos_min = data->literal_end;
        data->flags &= ~SCAN_BEFORE_EOL;
    }
    uint8_t c0 = static_cast<uint8_t>(re_text(scan)[0]);
    if (st->flags & STUDY_CLASS_AND) {
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
    } else if (st->flags & STUDY_CLASS_OR) {
        re_bitmap_set(data->start_class->bitmap, c0);
        data->start_class->flags &= ~RE_CLASS_EOS;
        re_class_and(data->start_class, &st->and_with);
    }
    st->flags &= ~STUDY_CLASS;
}

// EXACTF, EXACTFL: folded text never becomes a substring.
void study_exact_folded(PERLGCB* gcb, Study* st, re_program_node* scan)
{
    ScanData* data = st->data;
    uint8_t op = scan->type;
    int32_t l = char_count(gcb, re_text(scan), scan->flags);
    if (st->flags & STUDY_SUBSTRINGS)
        re_commit_substr(gcb, data);
    st->min = sat(static_cast<int64_t>(st->min) + l);
    if (st->flags & STUDY_SUBSTRINGS)
        data->pos_min = sat(static_cast<int64_t>(data->pos_min) + l);
    uint8_t c0 = static_cast<uint8_t>(re_text(scan)[0]);
    if (st->flags & STUDY_CLASS_AND) {
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
            if (op == RE_EXACTFL)
                sc->flags |= RE_CLASS_FOLD | RE_CLASS_LOCALE;
            else
                // The fold table does not change after the compile:
                // both cases go in the bitmap, and the class stays
                // one that alternatives can be joined to.
                re_bitmap_set(sc->bitmap, gcb->fold_table[c0]);
        }
    } else if (st->flags & STUDY_CLASS_OR) {
        re_class_node* sc = data->start_class;
        if (sc->flags & RE_CLASS_FOLD) {
            re_bitmap_set(sc->bitmap, c0);
            sc->flags &= ~RE_CLASS_EOS;
        } else if (op == RE_EXACTF && !(sc->flags & RE_CLASS_LOCALE)) {
            // Both cases, as the AND form above puts them.
            re_bitmap_set(sc->bitmap, c0);
            re_bitmap_set(sc->bitmap, gcb->fold_table[c0]);
            sc->flags &= ~RE_CLASS_EOS;
        }
        re_class_and(sc, &st->and_with);
    }
    st->flags &= ~STUDY_CLASS;
}

// A simple node: one character of a class.
void study_simple(PERLGCB* gcb, Study* st, re_program_node* scan)
{
    if (st->flags & STUDY_SUBSTRINGS) {
        re_commit_substr(gcb, st->data);
        st->data->pos_min = sat(static_cast<int64_t>(st->data->pos_min) + 1);
    }
    st->min = sat(static_cast<int64_t>(st->min) + 1);
    if (st->flags & STUDY_CLASS) {
        study_simple_class(gcb, scan, st->data, st->flags, &st->and_with);
        st->flags &= ~STUDY_CLASS;
    }
}

// One repeat whose body is studied.
struct Repeat {
    re_program_node* node;  // the repeat node: STAR, PLUS or a CURLY kind
    int32_t min_count;      // repetitions at least
    int32_t max_count;      // repetitions at most; RE_INFTY for no bound
    int32_t body_min;       // the body's minimum length
    int32_t body_delta;     // the body's delta, I32_INF for no bound
    uint32_t outer_flags;   // the record's flags before the body
    int32_t pos_before;     // the position minimum where the body begins
};

// Studies the body at *scanp, min_count..max_count times, and adds its
// lengths and start class to the chain; *scanp moves past the body, to
// after_body when the body's chain ends without a WHILEM.
void study_repeat_body(PERLGCB* gcb, Study* st, Repeat* r, re_program_node** scanp, re_program_node* after_body,
                       re_program_node* last)
{
    ScanData* data = st->data;
    uint32_t f = st->flags;
    re_class_node this_class;
    re_class_node* saved_class = nullptr;
    if (st->flags & STUDY_SUBSTRINGS)
        r->pos_before = data->pos_min;
    if (data) {
        r->outer_flags = data->flags;
        data->flags &= ~(SCAN_HAS_GROUP | SCAN_ONE_GROUP | SCAN_HAS_CODE);
        if (st->unbounded)
            data->flags |= SCAN_UNBOUNDED;
    }
    if (st->flags & STUDY_CLASS) {
        class_init(gcb, &this_class);
        saved_class = data->start_class;
        data->start_class = &this_class;
        f |= STUDY_CLASS_AND;
        f &= ~STUDY_CLASS_OR;
    }
    // Once a body fails at a position it cannot succeed there later
    // unless the count could still matter.
    if (r->min_count != r->max_count - 1 && r->max_count != RE_INFTY)
        f &= ~STUDY_NUMBER_LOOPS;
    r->body_min = re_study_nodes(gcb, scanp, &r->body_delta, last, data, r->min_count == 0 ? (f & ~STUDY_SUBSTRINGS) : f);
    if (st->flags & STUDY_CLASS)
        data->start_class = saved_class;
    if (r->min_count == 0 || r->body_min == 0) {
        if (st->flags & STUDY_CLASS_OR)
            re_class_or(gcb, data->start_class, &this_class);
        else if (st->flags & STUDY_CLASS_AND)
            switch_to_union(st, &this_class);
    } else {
        if (st->flags & STUDY_CLASS_OR) {
            re_class_or(gcb, data->start_class, &this_class);
            re_class_and(data->start_class, &st->and_with);
        } else if (st->flags & STUDY_CLASS_AND)
            re_class_and(data->start_class, &this_class);
        st->flags &= ~STUDY_CLASS;
    }
    if (!*scanp)  // a CURLY body ends without WHILEM
        *scanp = after_body;
    int64_t body_max = static_cast<int64_t>(r->body_min) + r->body_delta;
    if (body_max == 0 && data && !(data->flags & (SCAN_HAS_GROUP | SCAN_ONE_GROUP)) && r->max_count <= RE_INFTY / 3 &&
        re_warn_enabled(gcb))
        re_warn_at(gcb, gcb->re_xend, "Quantifier unexpected on zero-length expression");

    st->min = sat(static_cast<int64_t>(st->min) + static_cast<int64_t>(r->body_min) * r->min_count);
    st->unbounded_inside |= (r->max_count == RE_INFTY && body_max > 0) || r->body_delta == I32_INF;
    st->unbounded |= st->unbounded_inside;
    if (st->unbounded && (st->flags & STUDY_SUBSTRINGS))
        data->flags |= SCAN_UNBOUNDED;
    st->delta += body_max * r->max_count - static_cast<int64_t>(r->body_min) * r->min_count;
}

// The rewrites of a general repeat (CURLYX) once its body is known, and
// the numbering of an unbounded one that stays general.
void rewrite_general_repeat(PERLGCB* gcb, Study* st, const Repeat* r)
{
    ScanData* data = st->data;
    re_program_node* repeat_node = r->node;
    // CURLYX over one group around one simple node: CURLYN.
    if (repeat_node->type == RE_CURLYX && data && (data->flags & SCAN_ONE_GROUP) && !(data->flags & SCAN_HAS_CODE) &&
        !r->body_delta && r->body_min == 1) {
        re_program_node* node = repeat_node + 2;
        re_program_node* open_node = node;
        re_program_node* inner_node;
        node = next_of(gcb, node);
        if (node && (re_simple_nodes[node->type] || (re_kind(node) == RE_EXACT && node->flags == 1))) {
            inner_node = node;
            node = next_of(gcb, node);
            if (node && node->type == RE_CLOSE) {
                repeat_node->flags = static_cast<uint8_t>(re_arg(node));
                repeat_node->type = RE_CURLYN;
                open_node->type = RE_NOTHING;  // was OPEN
                mark_optimized(open_node + 1);
                inner_node->next = 0;
                mark_optimized(node);     // was CLOSE
                mark_optimized(node + 1);
            }
        }
    }
    // CURLYX over a fixed-length body: CURLYM.
    if (repeat_node->type == RE_CURLYX && data && !(data->flags & SCAN_HAS_GROUP) && !(data->flags & SCAN_HAS_CODE) &&
        !r->body_delta) {
        re_program_node* node = repeat_node + 2;
        re_program_node* inner_node;
        repeat_node->type = RE_CURLYM;
        while ((inner_node = next_of(gcb, node)) && inner_node->type != RE_WHILEM)
            node = inner_node;
        if (inner_node)
            inner_node->type = RE_SUCCEED;  // was WHILEM
        if (data->flags & SCAN_ONE_GROUP) {
            re_program_node* open_node = repeat_node + 2;
            if (node->type != RE_CLOSE)
                re_fail_plain(gcb, "Panic opt close");
            repeat_node->flags = static_cast<uint8_t>(re_arg(node));
            open_node->type = RE_OPTIMIZED;  // was OPEN
            node->type = RE_OPTIMIZED;  // was CLOSE
            mark_optimized(open_node + 1);
            mark_optimized(node + 1);
            // Relink the body over the folded nodes.
            int32_t dn = 0;
            re_study_nodes(gcb, &open_node, &dn, node, nullptr, 0);
        } else
            repeat_node->flags = 0;
    } else if (repeat_node->type == RE_CURLYX && (st->flags & STUDY_NUMBER_LOOPS) && r->max_count == RE_INFTY && data &&
               ++data->loops_numbered < 16) {
        // Number the loop for the matcher's position cache.
        re_program_node* node = repeat_node + repeat_node->next;
        if ((node - 1)->type == RE_NOTHING)  // the long-jump form: step over LONGJMP
            node += static_cast<int32_t>(re_arg(node));
        (node - 1)->flags = static_cast<uint8_t>(data->loops_numbered | (gcb->re_whilem_seen << 4));
    }
}

// The substring bookkeeping of a repeat whose body was studied while
// substrings were collected.
void repeat_substrings(PERLGCB* gcb, Study* st, const Repeat* r)
{
    ScanData* data = st->data;
    int32_t min_count = r->min_count, max_count = r->max_count;
    int32_t body_min = r->body_min, body_delta = r->body_delta;
    bool have_last = false;
    int32_t counted = min_count != 0;
    char* last_buf = nullptr;
    int32_t last_len = 0;
    if (data->literal_end > 0 && min_count != 0) {
        // The literal reaches into the body: take the part added there.
        int32_t b = r->pos_before >= data->literal_start_min ? r->pos_before : data->literal_start_min;
        char* s = *data->literal->slot;
        int32_t l = data->literal->len;
        int32_t old = char_to_byte(gcb, s, l, b - data->literal_start_min);
        l -= old;
        // Kept in the interpreter while the literal grows, so that
        // a failed allocation there loses nothing.
        gcb->re_opt_piece = last_buf =
            static_cast<char*>(pool_realloc(gcb, gcb->re_opt_piece, static_cast<uint64_t>(l) + 1));
        std::memcpy(last_buf, s + old, static_cast<size_t>(l));
        last_len = l;
        have_last = true;
        if (body_delta == 0 && r->pos_before == b) {
            // A constant string: the literal holds it min_count times.
            if (min_count > 1) {
                data->literal->len -= l;
                for (int32_t i = 0; i < min_count; i++)
                    lit_append(gcb, data->literal, last_buf, l);
                data->literal_end = sat(static_cast<int64_t>(data->literal_end) +
                                        static_cast<int64_t>(char_count(gcb, last_buf, l)) * (min_count - 1));
            }
        } else {
            // The start offset must point into the last copy. The
            // minimum moves to the last copy that must be there, so
            // the maximum must follow it: without a bound the literal
            // may start anywhere after.
            data->literal_start_min = sat(static_cast<int64_t>(data->literal_start_min) +
                                          static_cast<int64_t>(body_min) * (min_count - 1));
            data->literal_start_max = st->unbounded ? I32_INF
                                                    : sat(static_cast<int64_t>(data->literal_start_max) +
                                                          static_cast<int64_t>(max_count - 1) *
                                                              (static_cast<int64_t>(body_min) + body_delta));
        }
    }
    data->pos_min = sat(static_cast<int64_t>(data->pos_min) + static_cast<int64_t>(body_min) * (min_count - counted));
    data->pos_delta = sat(static_cast<int64_t>(data->pos_delta) - static_cast<int64_t>(counted) * body_delta +
                          (static_cast<int64_t>(body_min) + body_delta) * max_count -
                          static_cast<int64_t>(body_min) * min_count);
    if (min_count != max_count) {
        // Fixed substrings found inside the body cannot be extended.
        re_commit_substr(gcb, data);
        if (min_count && have_last) {
            lit_set(gcb, data->literal, last_buf, last_len);
            int32_t chars = char_count(gcb, last_buf, last_len);
            data->literal_end = data->pos_min;
            data->literal_start_min = data->pos_min - chars;
            data->literal_start_max = st->unbounded ? I32_INF
                                                    : sat(static_cast<int64_t>(data->pos_min) + data->pos_delta - chars);
        }
        data->longest = data->longest_float;
    }
    if (last_buf) {
        pool_free(gcb, last_buf);
        gcb->re_opt_piece = nullptr;
    }
}

// A repeat other than CURLYX leaves the NOTHING nodes after it behind:
// its next distance reaches past them.
void absorb_following_nothings(PERLGCB* gcb, re_program_node* repeat_node)
{
    if (repeat_node->type == RE_CURLYX)
        return;
    re_program_node* n;
    while ((n = next_of(gcb, repeat_node)) && re_kind(n) == RE_NOTHING && n->next &&
           static_cast<int32_t>(repeat_node->next) + n->next < 65536)
        repeat_node->next = static_cast<uint16_t>(repeat_node->next + n->next);
}

// A repeat (STAR, PLUS, a CURLY kind) or a back-reference at scan; returns
// the node where the study goes on.
re_program_node* study_repeat(PERLGCB* gcb, Study* st, re_program_node* scan, re_program_node* last)
{
    ScanData* data = st->data;
    uint8_t kind = re_kind(scan);
    Repeat r{};
    r.node = scan;
    re_program_node* body;
    if (kind == RE_CURLY) {
        r.min_count = re_arg_min(scan);
        r.max_count = re_arg_max(scan);
        body = scan + 2;
    } else if (kind == RE_PLUS && (st->flags & (STUDY_SUBSTRINGS | STUDY_CLASS)) &&
               ((scan + 1)->type == RE_EXACT || (st->flags & STUDY_CLASS))) {
        r.min_count = 1;
        r.max_count = RE_INFTY;
        body = scan + 1;
    } else if (kind == RE_STAR && (st->flags & STUDY_CLASS)) {
        r.min_count = 0;
        r.max_count = RE_INFTY;
        body = scan + 1;
    } else if (kind == RE_PLUS || kind == RE_STAR) {
        if (kind == RE_PLUS && !zero_width_operand(scan + 1)) {
            // One repetition at least, of one character.
            if (st->flags & STUDY_SUBSTRINGS)
                data->pos_min = sat(static_cast<int64_t>(data->pos_min) + 1);
            st->min = sat(static_cast<int64_t>(st->min) + 1);
        }
        st->unbounded = st->unbounded_inside = true;
        re_program_node* after = next_of(gcb, scan);
        if (st->flags & STUDY_SUBSTRINGS) {
            re_commit_substr(gcb, data);
            data->longest = data->longest_float;
            data->flags |= SCAN_UNBOUNDED;
        }
        absorb_following_nothings(gcb, scan);
        return after;
    } else {
        // REF: anything may follow.
        if (st->flags & STUDY_SUBSTRINGS) {
            re_commit_substr(gcb, data);
            data->longest = data->longest_float;
            data->flags |= SCAN_UNBOUNDED;
        }
        st->unbounded = st->unbounded_inside = true;
        if (st->flags & STUDY_CLASS_OR)
            class_set_all(gcb, data->start_class);
        st->flags &= ~STUDY_CLASS;
        return next_of(gcb, scan);
    }
    re_program_node* after_body = next_of(gcb, scan);
    study_repeat_body(gcb, st, &r, &body, after_body, last);
    rewrite_general_repeat(gcb, st, &r);
    // Groups inside the body are groups of this stretch too: without
    // them an enclosing repeat would take the body's group for its own.
    if (data && ((r.outer_flags | data->flags) & (SCAN_HAS_GROUP | SCAN_ONE_GROUP)))
        st->groups++;
    if (st->flags & STUDY_SUBSTRINGS)
        repeat_substrings(gcb, st, &r);
    if (data && (r.outer_flags & SCAN_HAS_CODE))
        data->flags |= SCAN_HAS_CODE;
    absorb_following_nothings(gcb, r.node);
    return body;
}

// A lookahead or lookbehind at scan: its body is studied apart and
// consumes nothing.
void study_lookaround(PERLGCB* gcb, Study* st, re_program_node* scan, re_program_node* last)
{
    ScanData* data = st->data;
    uint8_t op = scan->type;
    int32_t body_delta = 0;
    ScanData fake{};
    re_class_node ahead_class;
    uint32_t f = 0;
    fake.loops_numbered = data ? data->loops_numbered : 0;
    // Only a class still being narrowed can take the lookahead's: a
    // united one holds the starts of optional parts before it too.
    if ((st->flags & STUDY_CLASS_AND) && !scan->flags && op == RE_IFMATCH) {
        class_init(gcb, &ahead_class);
        fake.start_class = &ahead_class;
        f |= STUDY_CLASS_AND;
    }
    if (st->flags & STUDY_NUMBER_LOOPS)
        f |= STUDY_NUMBER_LOOPS;
    re_program_node* nscan = scan + 2;
    int32_t body_min = re_study_nodes(gcb, &nscan, &body_delta, last, &fake, f);
    if (scan->flags) {
        if (body_delta)
            fail_at_end(gcb, "Variable length lookbehind not implemented");
        if (body_min > 255) {
            char msg[80];
            std::snprintf(msg, sizeof msg, "Lookbehind longer than %lu not implemented", 255ul);
            re_fail_formatted(gcb, gcb->re_xend, "Lookbehind longer than %lu not implemented", msg);
        }
        scan->flags = static_cast<uint8_t>(body_min);
    }
    if (data && (fake.flags & (SCAN_HAS_GROUP | SCAN_ONE_GROUP)))
        st->groups++;
    if (data && (fake.flags & SCAN_HAS_CODE))
        data->flags |= SCAN_HAS_CODE;
    if (data)
        data->loops_numbered = fake.loops_numbered;
    // A lookahead that may match the empty string says nothing of the
    // next character: only one that must consume narrows the class.
    if ((f & STUDY_CLASS_AND) && !(ahead_class.flags & RE_CLASS_EOS)) {
        uint8_t was = data->start_class->flags & RE_CLASS_EOS;
        re_class_and(data->start_class, &ahead_class);
        if (was)
            data->start_class->flags |= RE_CLASS_EOS;
    }
}

// The end of a chain: the delta handed back, the group bits of the record
// and the union-mode class intersected with what was kept aside.
void finish_chain(Study* st, int32_t* deltap)
{
    ScanData* data = st->data;
    *deltap = st->unbounded_inside ? I32_INF : sat(st->delta);
    if ((st->flags & STUDY_SUBSTRINGS) && st->unbounded)
        data->pos_delta = I32_INF - data->pos_min;
    if (st->closing_group > 255)
        st->closing_group = 0;
    if (st->closing_group && st->groups == 1 && data) {
        data->flags |= SCAN_ONE_GROUP;
        data->flags &= ~SCAN_HAS_GROUP;
    } else if (st->groups && data) {
        data->flags |= SCAN_HAS_GROUP;
        data->flags &= ~SCAN_ONE_GROUP;
    }
    if (st->flags & STUDY_CLASS_OR)
        re_class_and(data->start_class, &st->and_with);
}

int32_t re_study_nodes(PERLGCB* gcb, re_program_node** scanp, int32_t* deltap, re_program_node* last,
                       ScanData* data, uint32_t flags)
{
    Study st;
    re_program_node* scan = *scanp;
    st.data = data;
    st.flags = flags;
    st.min = 0;
    st.delta = 0;
    st.groups = 0;
    st.unbounded = (flags & STUDY_SUBSTRINGS) && (data->flags & SCAN_UNBOUNDED);
    st.unbounded_inside = false;
    st.closing_group = scan && scan->type == RE_OPEN ? static_cast<int32_t>(re_arg(scan)) : 0;
    class_init(gcb, &st.and_with);

    while (scan && scan->type != RE_END && (!last || scan < last)) {
        // Peephole steps.
        if (re_kind(scan) == RE_EXACT)
            merge_literals(gcb, scan);
        if (scan->type != RE_CURLYX)
            skip_nothings(gcb, scan);

        uint8_t op = scan->type;
        uint8_t kind = re_kind(scan);
        if (op == RE_BRANCH || op == RE_BRANCHJ || op == RE_IFTHEN || op == RE_SUSPEND) {
            study_alternation(gcb, &st, &scan);
            continue;
        }
        if (op == RE_EXACT)
            study_exact(gcb, &st, scan);
        else if (kind == RE_EXACT)
            study_exact_folded(gcb, &st, scan);
        else if (kind == RE_WHILEM) {
            // The end of a general repeat's body: the study of the body ends.
            scan = scan + 1;
            break;
        } else if (kind == RE_STAR || kind == RE_PLUS || kind == RE_CURLY || kind == RE_REF || kind == RE_BACK) {
            scan = study_repeat(gcb, &st, scan, last);
            continue;
        } else if (re_simple_nodes[op])
            study_simple(gcb, &st, scan);
        else if (kind == RE_EOL && (st.flags & STUDY_SUBSTRINGS))
            data->flags |= op == RE_MEOL ? SCAN_BEFORE_MEOL : SCAN_BEFORE_SEOL;
        else if (kind == RE_BRANCHJ && (op == RE_IFMATCH || op == RE_UNLESSM) &&
                 (scan->flags || data || (st.flags & STUDY_CLASS)))
            study_lookaround(gcb, &st, scan, last);
        else if (op == RE_OPEN)
            st.groups++;
        else if (op == RE_CLOSE && static_cast<int32_t>(re_arg(scan)) == st.closing_group) {
            re_program_node* next = next_of(gcb, scan);
            if (next && next->type != RE_WHILEM && (!last || next < last))
                st.closing_group = 0;  // the group does not end the stretch
        } else if (op == RE_EVAL) {
            if (data)
                data->flags |= SCAN_HAS_CODE;
        }
        // Other nodes are zero-length.
        scan = next_of(gcb, scan);
    }
    *scanp = scan;
    finish_chain(&st, deltap);
    return st.min;
}

// Sets *slot to a substring value prepared for fast search; tail marks it
// as one that ends just before the end of the subject or a final newline.
// The value is in the pattern's slot before the preparation allocates, so
// that the free of a failed compile releases it.
void make_substr(PERLGCB* gcb, SV** slot, const Literal* l, bool tail)
{
    *slot = sv_new_from_bytes(gcb, l->len ? *l->slot : "", static_cast<uint64_t>(l->len));
    boyer_moore_prepare(gcb, *slot, tail ? BM_TAIL_FLAGS : 0);
}

void free_scratch(PERLGCB* gcb)
{
    for (char*& p : gcb->re_opt_text) {
        pool_free(gcb, p);
        p = nullptr;
    }
    pool_free(gcb, gcb->re_opt_piece);
    gcb->re_opt_piece = nullptr;
}

re_class_node* keep_start_class(PERLGCB* gcb, re_compiled* rx, const re_class_node* cl)
{
    uint32_t n = re_data_append(gcb, 1, "f");
    re_class_node* copy = static_cast<re_class_node*>(pool_malloc(gcb, sizeof(re_class_node)));
    *copy = *cl;
    rx->data->data[n] = copy;  // the entry was null: a failed allocation leaves nothing to free
    rx->analysis_flags &= ~REA_SKIP;
    if (re_debug_on(gcb)) {
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
    re_class_node synthetic_class;
    Literal literal{&gcb->re_opt_text[0], 0, 0};
    Literal longest_fixed{&gcb->re_opt_text[1], 0, 0};
    Literal longest_float{&gcb->re_opt_text[2], 0, 0};
    re_substr_info* sub = rx->substrings;
    gcb->re_whilem_index = 0;

    if (scan->type != RE_BRANCH) {
        // One alternative at the top: anchors, start class, substrings.
        re_program_node* first = scan;
        bool leading_plus = false, leading_open = false;
        for (;;) {
            if (first->type == RE_OPEN)
                leading_open = true;
            else if (first->type == RE_BRANCH) {
                re_program_node* n = next_of(gcb, first);
                if (n && n->type == RE_BRANCH)
                    break;
            } else if (first->type == RE_PLUS)
                leading_plus = !zero_width_operand(first + 1);  // a run of characters to skip
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
            } else if (first->type == RE_STAR && re_kind(first + 1) == RE_REG_ANY && !(rx->analysis_flags & REA_ANCH) &&
                       (!leading_open || !gcb->re_sawback)) {
                // A leading .* matches from a line start as well as anywhere
                // later; not when its group is referred to, as in (.*)b\1.
                uint8_t type = (first + 1)->type;
                rx->analysis_flags |= (type == RE_REG_ANY || type == RE_ANYUTF8 ? REA_MBOL : REA_SBOL) | REA_IMPLICIT;
                first += 1;
                continue;
            }
            break;
        }
        if (leading_plus && (!leading_open || !gcb->re_sawback) && !(gcb->re_seen & RE_SEEN_EVAL))
            rx->analysis_flags |= REA_SKIP;
        if (re_debug_on(gcb))
            prx_fprintf(PRX_STDERR, "first at %ld\n", static_cast<int32_t>(first - program));

        data.literal = &literal;
        data.longest_fixed = &longest_fixed;
        data.longest_float = &longest_float;
        data.longest = &longest_fixed;
        data.literal_end = -1;
        uint32_t class_mode = 0;
        if (!rx->start_class) {
            class_init(gcb, &synthetic_class);
            data.start_class = &synthetic_class;
            class_mode = STUDY_CLASS_AND;
        }
        first = scan;
        minlen = re_study_nodes(gcb, &first, &fake, end, &data, STUDY_SUBSTRINGS | STUDY_NUMBER_LOOPS | class_mode);
        if (gcb->re_npar == 1 && data.longest == data.longest_fixed && data.literal_start_min == 0 &&
            data.literal_end > 0 && !gcb->re_zerolen &&
            (!(gcb->re_seen & RE_SEEN_GPOS) || (rx->analysis_flags & REA_GPOS)))
            rx->analysis_flags |= REA_CHECK_ALL;
        re_commit_substr(gcb, &data);

        int32_t float_len = lit_chars(gcb, &longest_float);
        bool multiline = gcb->re_cflags & PMf_MULTILINE;
        if (float_len ||
            ((data.flags & SCAN_FLOATING_BEFORE_EOL) && (!(data.flags & SCAN_FLOATING_BEFORE_MEOL) || multiline))) {
            if (longest_fixed.len && data.offset_fixed == data.offset_float_min &&
                longest_fixed.len == longest_float.len) {
                float_len = 0;  // as in (a)+: the same literal at the same place
            } else {
                bool t = (data.flags & SCAN_FLOATING_BEFORE_EOL) && (!(data.flags & SCAN_FLOATING_BEFORE_MEOL) || multiline);
                make_substr(gcb, &sub[RE_SUBSTR_FLOATING].substr, &longest_float, t);
                sub[RE_SUBSTR_FLOATING].min_offset = data.offset_float_min;
                sub[RE_SUBSTR_FLOATING].max_offset = data.offset_float_max;
            }
        }
        int32_t fixed_len = lit_chars(gcb, &longest_fixed);
        if (fixed_len ||
            ((data.flags & SCAN_FIXED_BEFORE_EOL) && (!(data.flags & SCAN_FIXED_BEFORE_MEOL) || multiline))) {
            bool t = (data.flags & SCAN_FIXED_BEFORE_EOL) && (!(data.flags & SCAN_FIXED_BEFORE_MEOL) || multiline);
            make_substr(gcb, &sub[RE_SUBSTR_ANCHORED].substr, &longest_fixed, t);
            sub[RE_SUBSTR_ANCHORED].min_offset = data.offset_fixed;
            sub[RE_SUBSTR_ANCHORED].max_offset = data.offset_fixed;
        } else
            fixed_len = 0;
        if (!sub[RE_SUBSTR_FLOATING].substr)
            float_len = 0;
        if (rx->start_class && re_kind(reinterpret_cast<re_program_node*>(rx->start_class)) == RE_REG_ANY)
            rx->start_class = nullptr;
        if ((!sub[RE_SUBSTR_ANCHORED].substr || sub[RE_SUBSTR_ANCHORED].min_offset) && class_mode &&
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
        class_init_zero(gcb, &synthetic_class);
        data.start_class = &synthetic_class;
        data.literal_end = -1;
        minlen = re_study_nodes(gcb, &scan, &fake, end, &data, STUDY_CLASS_OR | STUDY_NUMBER_LOOPS);
        if (!(data.start_class->flags & RE_CLASS_EOS) && !class_is_anything(data.start_class))
            rx->start_class = keep_start_class(gcb, rx, data.start_class);
    }
    rx->min_length = minlen;
    free_scratch(gcb);
}

SV* re_check_substr(PERLGCB* gcb, re_compiled* rx)
{
    SV* check = rx->substrings ? rx->substrings[RE_SUBSTR_CHECK].substr : nullptr;
    if (re_debug_on(gcb) && check) {
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
