// The optimiser of the pattern compiler: minimum length, anchored and
// floating substrings, the start class, the anchor flags, lookbehind
// lengths, the repeat rewrites and the repeat-loop numbering.
//
// It runs once, after the emit pass, over the finished program. Everything
// it computes only lets the start finder and the matcher skip work: the
// minimum length must be a true lower bound, every substring must occur in
// every match at the offsets given, and the start class must hold every
// character a match can begin with. Where the study cannot tell, it errs
// towards "unknown" (a smaller minimum, a floating offset, a wider class).
// The walk also rewrites the program in place (merged literals, NOTHING
// nodes stepped over, CURLYX turned into CURLYN or CURLYM): those rewrites
// never change the program's size, only node contents and next distances.
#include <cstdio>
#include <cstring>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxregcomp.h"
#include "prxregmatch.h"
#include "prxsearch.h"
#include "prxsv.h"

namespace {

// Lengths and offsets saturate here: it stands for "no upper bound".
constexpr int32_t I32_INF = 0x7FFFFFFF;

// The longest literal run collected, in bytes. A substring this long
// already rejects nearly every wrong place, and a repeat such as a{30000}
// would otherwise make the study build text far beyond the pattern's size.
// A run that would grow past it is ended there and a new one begins.
constexpr int32_t LITERAL_LIMIT = 4096;

// Scan-record flags. The three end-anchor pairs must stay in step: a mark
// on the current literal (bits 0-1) moves to the fixed candidate shifted
// left by 2 and to the floating candidate shifted left by 4
// (re_commit_substr).
enum : uint32_t {
    SCAN_BEFORE_SEOL = 0x1,            // the literal ends just before $ / \Z / \z
    SCAN_BEFORE_MEOL = 0x2,            // ... just before a /m $ (any line end)
    SCAN_BEFORE_EOL = 0x3,
    SCAN_FIXED_BEFORE_SEOL = 0x4,      // the same, kept for the fixed candidate
    SCAN_FIXED_BEFORE_MEOL = 0x8,
    SCAN_FIXED_BEFORE_EOL = 0xC,
    SCAN_FLOATING_BEFORE_SEOL = 0x10,  // the same, kept for the floating candidate
    SCAN_FLOATING_BEFORE_MEOL = 0x20,
    SCAN_FLOATING_BEFORE_EOL = 0x30,
    SCAN_UNBOUNDED = 0x40,             // the position has no upper bound any more
    SCAN_HAS_GROUP = 0x80,             // the stretch holds groups (more than the one below)
    SCAN_ONE_GROUP = 0x100,            // the stretch is exactly one group, start to end
    SCAN_HAS_CODE = 0x200,             // the stretch holds a code block (never, here)
};

// Study mode bits, passed down the recursion. The two class modes exclude
// each other: intersect (AND) narrows a class that starts as "anything"
// while every node so far must be passed; union (OR) gathers the starts of
// parts that may be skipped. Once a node must consume a character the
// class is complete and both bits drop for the rest of the chain.
enum : uint32_t {
    STUDY_SUBSTRINGS = 0x400,    // collect literals and positions into the record
    STUDY_CLASS_AND = 0x800,     // intersect into the start class
    STUDY_CLASS_OR = 0x1000,     // unite into the start class
    STUDY_CLASS = 0x1800,
    STUDY_NUMBER_LOOPS = 0x2000,  // unbounded CURLYX loops may take a cache index
};

// A literal being collected: its bytes live in one of the interpreter's
// scratch slots, so that an error unwinding the study leaves nothing
// unreachable (the next run frees it).
struct Literal {
    char** slot;  // gcb->re_opt_text[i]: the bytes, not NUL-terminated
    int32_t len;  // bytes in use
    int32_t cap;  // bytes allocated; 0 before the first growth
};

// The scan record. Positions count characters from the start of a match:
// a node is reached after at least pos_min and at most pos_min + pos_delta
// characters. Only the top-level study collects substrings; the records of
// alternatives and lookarounds gather lengths, classes and group bits.
struct ScanData {
    int32_t pos_min;           // characters every match has consumed here
    int32_t pos_delta;         // how many more it may have consumed; I32_INF unbounded
    Literal* literal;          // the literal run being collected
    int32_t literal_end;       // position after it; -1 when no literal is being collected
    int32_t literal_start_min; // the earliest and latest position the run can start at
    int32_t literal_start_max;
    Literal* longest;          // &longest_fixed or &longest_float: where a commit may go
    Literal* longest_fixed;    // the best literal at one known offset
    int32_t offset_fixed;
    Literal* longest_float;    // the best literal in a range of offsets
    int32_t offset_float_min;
    int32_t offset_float_max;
    uint32_t flags;            // SCAN_* bits
    int32_t loops_numbered;    // unbounded CURLYX loops numbered so far
    re_class_node* start_class;  // the class being built, or null when none is
};

// Lengths are summed and multiplied in 64 bits and brought back here: a
// sum past the 32-bit range means "unbounded", never a wrapped value, so
// a bound stays a bound however large the counts in the pattern.
int32_t sat(int64_t v)
{
    if (v > I32_INF)
        return I32_INF;
    if (v < -I32_INF)
        return -I32_INF;
    return static_cast<int32_t>(v);
}

// Grows the literal to hold need bytes and one more, doubling. The new
// block is stored in the slot before anything else can fail, so an error
// unwinding the compile finds it there.
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

// Literals are compared by characters, not bytes: the offsets the start
// finder uses are character offsets.
int32_t lit_chars(PERLGCB* gcb, const Literal* l) { return char_count(gcb, *l->slot, l->len); }

// The compile flags as they stand after the whole pattern: a (?l) switch
// cannot occur, so this is the pattern op's locale bit.
bool is_locale(PERLGCB* gcb) { return gcb->re_cflags & PMf_LOCALE; }

re_program_node* next_of(PERLGCB* gcb, re_program_node* n) { return re_next_node(gcb, n); }

// The raw next distance: in the 32-bit argument for the long-jump forms
// (BRANCHJ, LONGJMP and their kind), else in the 16-bit field.
int32_t next_distance(const re_program_node* n)
{
    return re_next_in_arg[n->type] ? static_cast<int32_t>(re_arg(n)) : n->next;
}

// A unit the optimiser folded away. Nothing links to it any more; the
// type only tells the dump to show it as OPTIMIZED.
void mark_optimized(re_program_node* n)
{
    n->type = RE_OPTIMIZED;
    n->next = 0;
}

// ---- start classes -----------------------------------------------------------------
//
// A start class is an ANYOF node built outside the program (40 bytes, with
// the class word always present). It is only ever a superset: where two
// classes cannot be combined exactly (locale against non-locale, folding,
// POSIX-class words whose members are known only at match time) the result
// is the wider one or "anything". RE_CLASS_EOS says a match may still be
// empty at this point, so the class says nothing about the subject's end:
// the driver keeps no class that carries it.

// Every byte, and "may match empty". Under locale the class is tested by
// the locale's tables at match time, so it carries the flag too.
void class_set_all(PERLGCB* gcb, re_class_node* cl)
{
    std::memset(cl->classes, 0, sizeof cl->classes);
    std::memset(cl->bitmap, 0xFF, sizeof cl->bitmap);
    cl->flags = RE_CLASS_EOS;
    if (is_locale(gcb))
        cl->flags |= RE_CLASS_LOCALE;
}

// A class that would reject nothing: the full bitmap, or a POSIX class
// together with its own negation (say \w and \W united). Keeping such a
// class would only slow the start finder down.
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

// The start of intersect mode: anything may start the match yet.
void class_init(PERLGCB* gcb, re_class_node* cl)
{
    std::memset(cl, 0, sizeof *cl);
    cl->type = RE_ANYOF;
    class_set_all(gcb, cl);
}

// A class that matches nothing yet: the start of union mode, where each
// alternative adds its own starts.
void class_init_zero(PERLGCB* gcb, re_class_node* cl)
{
    std::memset(cl, 0, sizeof *cl);
    cl->type = RE_ANYOF;
    if (is_locale(gcb))
        cl->flags |= RE_CLASS_LOCALE;
}

// The POSIX-class word: bit cc of the four bytes, numbered as re_class_names.
void class_bit_set(re_class_node* cl, int32_t cc) { cl->classes[cc >> 3] |= static_cast<uint8_t>(1u << (cc & 7)); }
void class_bit_clear(re_class_node* cl, int32_t cc) { cl->classes[cc >> 3] &= static_cast<uint8_t>(~(1u << (cc & 7))); }
void bitmap_clear(uint8_t* map, uint32_t c) { map[c >> 3] &= static_cast<uint8_t>(~(1u << (c & 7))); }

}  // namespace

void re_class_init(PERLGCB* gcb, re_class_node* cl) { class_init(gcb, cl); }
void re_class_init_locale(PERLGCB* gcb, re_class_node* cl) { class_init(gcb, cl); }
void re_class_set_all(PERLGCB* gcb, re_class_node* cl) { class_set_all(gcb, cl); }

// Intersects cl with with. with may be an ANYOF node of the program, which
// carries the class word only when its flags say so. When the two cannot
// be compared byte for byte (a class word, locale on one side only, case
// folding) the bitmap of cl is left as it is: a wider class is still true.
// The result may match empty only when both may.
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

// Unites with into cl. An inverted class is united through its bitmap's
// complement; its class word cannot be inverted here, so it must carry
// none for the exact form. A folding with can only join a folding cl (the
// bitmap alone would miss the case partners). Whatever cannot be united
// exactly makes cl "anything". The result may match empty when either may.
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

// Ends the current literal run: it replaces the candidate that data->longest
// names when it has more characters, or as many and ends before an end
// anchor (a tail match lets the start finder check the end of the subject
// first). The fixed candidate takes the run's one start position; the
// floating candidate takes the range the run may start in. An empty run
// still carries an end-anchor mark: "$" alone gives the start finder an
// empty substring with the tail flag. The run is emptied either way.
void re_commit_substr(PERLGCB* gcb, ScanData* data)
{
    int32_t l = lit_chars(gcb, data->literal);
    int32_t old_l = lit_chars(gcb, data->longest);
    if (l >= old_l && (l > old_l || (data->flags & SCAN_BEFORE_EOL))) {
        lit_set(gcb, data->longest, *data->literal->slot, data->literal->len);
        // The run's end-anchor mark (bits 0-1) becomes the candidate's own
        // (shifted into its pair), or the candidate loses a stale one.
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
// The parser cuts runs at 127 bytes and before a quantified character, and
// leaves NOTHING and TAIL nodes where groups ended; a literal that reaches
// its successor only through those can take the successor's text. Text is
// only moved when the successor lies directly behind (n no further than
// next, the unit after what was absorbed) and before any TAIL: nodes after
// a TAIL are the joining point of other alternatives, which still link to
// them and must find them whole. The merged length stays within the flags
// byte (255) and the summed distance within the 16-bit next field.
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
        // Units the literal absorbed are marked for the dump: heads and old
        // text alike. A text unit's type byte is any byte, so it is tested
        // against the node count before the kind table is read. A TAIL is
        // left alone: other alternatives still link to it.
        for (re_program_node* u = scan + re_exact_units(scan->flags); u <= stop; u++)
            if (u->type >= RE_NODE_COUNT || re_kind(u) != RE_NOTHING || u->type == RE_NOTHING)
                mark_optimized(u);
    }
}

// Extends the next distance of scan past following NOTHING-kind nodes, so
// that neither a later study nor the matcher walks through them. The
// distance stays below the field's limit; a NOTHING with next 0 ends the
// chain and is kept as the target.
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

// The parse is over: the HERE mark of an optimiser error stands at the end.
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

// The start-class effect of one simple node. In intersect mode the node
// removes what it cannot match; in union mode it adds what it can, and
// the union is then cut down by the class kept aside (and_with).
void study_simple_class(PERLGCB* gcb, re_program_node* scan, ScanData* data, uint32_t flags,
                        const re_class_node* and_with)
{
    re_class_node* sc = data->start_class;
    bool do_and = flags & STUDY_CLASS_AND;
    sc->flags &= ~RE_CLASS_EOS;
    // One family: positive test, class numbers, whether it is the locale form.
    // A plain form under a locale class cannot be tested byte by byte (the
    // class is decided at match time), so intersect leaves such a class
    // alone; a locale form knows only its POSIX-class bit, so intersect can
    // only clear the opposite bit and union sets its own bit and the flag.
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
        // Any byte but newline. Union keeps newline only when the class
        // had it already (or had a class word that may hold it).
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
//
// No literal survives an alternation: the run before it is committed, and
// each alternative is studied with a record of its own (fake) that only
// gathers its lengths, its class and its group bits. The alternation then
// counts as a stretch of alt_min..alt_max characters. Each alternative's
// chain ends at the next BRANCH (the last argument of the recursion); the
// last one runs on to the common tail, which the recursion stops at too.
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
        if (code == RE_SUSPEND)  // (?>...) has one body, however it is linked
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
    // The union of the alternatives' classes joins the chain's class like
    // one simple node when every alternative consumes something; when one
    // may match empty, what follows may start the match too.
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

// EXACT: its text extends the current literal. A new run records the
// range it may start in; the run's end and the position advance together,
// which is what lets a repeat later tell how much of the run its body
// added. The first byte decides the start class, which is then complete.
void study_exact(PERLGCB* gcb, Study* st, re_program_node* scan)
{
    ScanData* data = st->data;
    int32_t l = char_count(gcb, re_text(scan), scan->flags);
    st->min = sat(static_cast<int64_t>(st->min) + l);
    if (st->flags & STUDY_SUBSTRINGS) {
        if (data->literal_end != -1 && data->literal->len + scan->flags > LITERAL_LIMIT)
            re_commit_substr(gcb, data);  // long enough: this text begins a new run
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
        // The class becomes the one byte. In intersect mode nothing has
        // consumed yet, so only a lookahead can have narrowed the class:
        // when it excludes the byte no match can start anywhere, and the
        // empty class says so. A class word or a locale class cannot be
        // tested here and is taken to hold the byte.
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

// EXACTF, EXACTFL: folded text never becomes a substring (the start
// finder searches bytes exactly), so the run before it is committed and
// only the position moves. Under locale the case partner is known only at
// match time: the class takes the fold and locale flags instead.
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

// A simple node: one character of a class. It ends the literal run, since
// what follows no longer stands at a fixed distance from its text.
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
    // The body shares the record (a literal may run into it and out of it),
    // but its group bits are its own: the outer ones are kept in
    // outer_flags and joined again by the caller.
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
    // A body that may be skipped collects no substrings: its text need not
    // occur in a match.
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
    // A body that never consumes repeated a bounded number of times is
    // worth a warning; an unbounded one was warned of by the parser. A
    // group in the body may still set captures, so it is spared.
    int64_t body_max = static_cast<int64_t>(r->body_min) + r->body_delta;
    if (body_max == 0 && data && !(data->flags & (SCAN_HAS_GROUP | SCAN_ONE_GROUP)) && r->max_count <= RE_INFTY / 3 &&
        re_warn_enabled(gcb))
        re_warn_at(gcb, gcb->re_xend, "Quantifier unexpected on zero-length expression");

    // min_count bodies are certain; every repetition up to max_count may
    // add the body's longest length. An unbounded count of a body that can
    // consume, or a body unbounded itself, leaves no upper bound.
    st->min = sat(static_cast<int64_t>(st->min) + static_cast<int64_t>(r->body_min) * r->min_count);
    st->unbounded_inside |= (r->max_count == RE_INFTY && body_max > 0) || r->body_delta == I32_INF;
    st->unbounded |= st->unbounded_inside;
    if (st->unbounded && (st->flags & STUDY_SUBSTRINGS))
        data->flags |= SCAN_UNBOUNDED;
    st->delta += body_max * r->max_count - static_cast<int64_t>(r->body_min) * r->min_count;
}

// The rewrites of a general repeat (CURLYX) once its body is known, and
// the numbering of an unbounded one that stays general. The general form
// runs the body once per WHILEM visit with a frame per repetition; a body
// of fixed length can be counted in one loop instead:
//  - CURLYN: the body is one group around one character (a simple node
//    or a one-byte literal); the group number goes in the flags byte and
//    the OPEN/CLOSE pair is folded away.
//  - CURLYM: any body of fixed length with no group but possibly one
//    group around all of it; the WHILEM becomes SUCCEED, so the body runs
//    as a sub-match, and the group number (or 0) goes in the flags byte.
// Both rely on the group bits the body's study left in the record, and on
// the body holding no code block.
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
            // Relink the body over the folded nodes: a study without a
            // record only runs the peephole steps, which make the nodes
            // before the folded ones step over them.
            int32_t dn = 0;
            re_study_nodes(gcb, &open_node, &dn, node, nullptr, 0);
        } else
            repeat_node->flags = 0;
    } else if (repeat_node->type == RE_CURLYX && (st->flags & STUDY_NUMBER_LOOPS) && r->max_count == RE_INFTY && data &&
               ++data->loops_numbered < 16) {
        // Number the loop for the matcher's position cache: the WHILEM's
        // flags byte holds the loop index (1 to 15) in its low four bits
        // and the pattern's count of loops (capped at 15) in the high four,
        // which sizes the cache. Loops past the 15th get no index. The
        // WHILEM is the unit before the NOTHING that CURLYX links to.
        re_program_node* node = repeat_node + repeat_node->next;
        if ((node - 1)->type == RE_NOTHING)  // the long-jump form: step over LONGJMP
            node += static_cast<int32_t>(re_arg(node));
        (node - 1)->flags = static_cast<uint8_t>(data->loops_numbered | (gcb->re_whilem_seen << 4));
    }
}

// The substring bookkeeping of a repeat whose body was studied while
// substrings were collected. The body's study has already moved the
// position by one body (when min_count > 0) and may have extended the
// current literal; here the position is set to after the whole repeat:
// counted says whether one repetition is already in it. A literal that
// the body extended and that is repeated an exact number of times grows
// by the copies; otherwise the run can only continue from its last copy.
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
            // A constant string: the literal holds it min_count times, or
            // as many times as the limit allows. A run cut short no longer
            // reaches the end of the repeat: it is committed, and no run
            // goes on after the repeat.
            if (min_count > 1 && l > 0) {
                int32_t prefix = data->literal->len - l;
                int64_t fit = (static_cast<int64_t>(LITERAL_LIMIT) - prefix) / l;
                int32_t copies = fit >= min_count ? min_count : fit > 1 ? static_cast<int32_t>(fit) : 1;
                for (int32_t i = 1; i < copies; i++)
                    lit_append(gcb, data->literal, last_buf, l);
                if (copies == min_count)
                    data->literal_end = sat(static_cast<int64_t>(data->literal_end) +
                                            static_cast<int64_t>(char_count(gcb, last_buf, l)) * (min_count - 1));
                else {
                    data->flags &= ~SCAN_BEFORE_EOL;
                    re_commit_substr(gcb, data);
                }
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
// its next distance reaches past them. A CURLYX keeps its link, which
// the matcher follows to the NOTHING after the WHILEM.
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
//
// CURLY kinds always have their body studied: the body may be a group and
// its lengths are needed. STAR and PLUS repeat one simple node; their body
// is worth a study only for the start class, or for a PLUS over a literal
// whose text is then a substring that must occur. Otherwise a STAR or PLUS
// just makes the position unbounded (PLUS after one certain character),
// and a back-reference makes everything after it float.
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
        // The run ends before the repeat, and before the position moves: an
        // empty run that ends before an end anchor stands where the anchor
        // does, as in \B$\s+.
        if (st->flags & STUDY_SUBSTRINGS)
            re_commit_substr(gcb, data);
        if (kind == RE_PLUS && !zero_width_operand(scan + 1)) {
            // One repetition at least, of one character.
            if (st->flags & STUDY_SUBSTRINGS)
                data->pos_min = sat(static_cast<int64_t>(data->pos_min) + 1);
            st->min = sat(static_cast<int64_t>(st->min) + 1);
        }
        st->unbounded = st->unbounded_inside = true;
        re_program_node* after = next_of(gcb, scan);
        if (st->flags & STUDY_SUBSTRINGS) {
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
    // The body's chain ends at the WHILEM of a CURLYX; the other repeats'
    // bodies end with a next of 0, where the study goes on after the repeat.
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
// consumes nothing. For a lookbehind (flags 1 from the parser) the study
// also fixes the length: the matcher steps back that many characters
// before it runs the body, so the body must have one length, and the
// flags byte that holds it limits it to 255. A condition (the lookaround
// after LOGICAL) only chooses a branch of the conditional that follows:
// a match need not satisfy it, so it cannot narrow the class.
void study_lookaround(PERLGCB* gcb, Study* st, re_program_node* scan, re_program_node* last, bool condition)
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
    if ((st->flags & STUDY_CLASS_AND) && !scan->flags && op == RE_IFMATCH && !condition) {
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
// and the union-mode class intersected with what was kept aside. The
// single-group bit tells an enclosing CURLYX that its body is exactly one
// group (see rewrite_general_repeat); group numbers above 255 do not fit
// the flags byte of CURLYN/CURLYM and never count as one.
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

// Studies the chain from *scanp up to last (or END, or the WHILEM that
// ends a repeat body) and returns its minimum length; *deltap gets how much
// longer a match of it may be, and *scanp the node after it. data may be
// null: only the lengths and the peephole steps are wanted then.
int32_t re_study_nodes(PERLGCB* gcb, re_program_node** scanp, int32_t* deltap, re_program_node* last,
                       ScanData* data, uint32_t flags)
{
    stack_check(gcb);  // the study recurses as deep as the groups nest
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
    bool condition = false;  // the node follows LOGICAL: it is a conditional's test

    while (scan && scan->type != RE_END && (!last || scan < last)) {
        // Peephole steps: they change next distances, so they come before
        // the node's own study reads them.
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
            // A literal just before an end anchor can be searched from the
            // end of the subject; the mark is cleared by the next literal.
            data->flags |= op == RE_MEOL ? SCAN_BEFORE_MEOL : SCAN_BEFORE_SEOL;
        else if (kind == RE_BRANCHJ && (op == RE_IFMATCH || op == RE_UNLESSM) &&
                 (scan->flags || data || (st.flags & STUDY_CLASS)))
            study_lookaround(gcb, &st, scan, last, condition);
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
        condition = op == RE_LOGICAL;
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

}  // namespace

// The literal buffers live in the interpreter between studies only so that
// an error can leave them behind safely; each optimiser run starts and
// ends by freeing them, and so does the interpreter's destruction.
void re_opt_free_scratch(PERLGCB* gcb)
{
    for (char*& p : gcb->re_opt_text) {
        pool_free(gcb, p);
        p = nullptr;
    }
    pool_free(gcb, gcb->re_opt_piece);
    gcb->re_opt_piece = nullptr;
}

namespace {

// Copies a synthetic start class into the pattern's data array (code 'f',
// freed with the pattern). The skip of a leading run (REA_SKIP) is
// dropped: it is sound only while the start class is the leading PLUS's
// own operand, whose run of members that PLUS swallows whole.
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

// ---- search aids ------------------------------------------------------------------
//
// Chosen once here, so that no match has to choose them again: the rarest
// byte pair of a case-blind literal start class, and a set of literals of
// which every match holds one (an alternation of literals).

// Walks from n over what consumes no character (groups, empty nodes,
// anchors, boundaries), single characters and bounded repeats of them,
// adding their lengths to the window [*min, *max]. Returns the first node
// of another kind, or null when the window grows past RE_SET_WINDOW. In
// a byte pattern each character is one byte.
re_program_node* walk_lead(re_program_node* n, int32_t* min, int32_t* max)
{
    for (; n; n = re_next_in_program(n)) {
        uint8_t kind = re_kind(n);
        if (kind == RE_OPEN || kind == RE_CLOSE || kind == RE_NOTHING || kind == RE_BOL || kind == RE_EOL ||
            kind == RE_BOUND || kind == RE_NBOUND)
            continue;
        if (re_simple_nodes[n->type]) {
            *min += 1;
            *max += 1;
        } else if (n->type == RE_CURLY && re_arg_max(n) != RE_INFTY && re_simple_nodes[(n + 2)->type]) {
            *min += re_arg_min(n);
            *max += re_arg_max(n);
        } else
            return n;
        if (*max > RE_SET_WINDOW)
            return nullptr;
    }
    return nullptr;
}

// Whether every byte that the matcher takes for x in a case-blind
// comparison (y == x or fold[y] == x) is x or fold[x]: the two bytes a
// search looks for.
bool fold_pair_covers(const uint8_t* fold, uint8_t x)
{
    for (uint32_t y = 0; y < 256; y++)
        if (fold[y] == x && y != x && y != fold[x])
            return false;
    return true;
}

// The literals of an alternation at the head of the program, each led by
// a bounded stretch of characters: up to RE_SET_LITERALS plain or
// case-blind literal nodes, with the window of their offsets from the
// match start. False when the head is not of that shape.
bool find_literal_set(PERLGCB* gcb, re_program_node* first, const re_program_node** lits, int32_t* count,
                      int32_t* wmin, int32_t* wmax)
{
    int32_t min = 0, max = 0;
    re_program_node* n = walk_lead(first, &min, &max);
    if (!n || n->type != RE_BRANCH)
        return false;
    *count = 0;
    *wmin = I32_INF;
    *wmax = 0;
    for (re_program_node* b = n; b && b->type == RE_BRANCH; b = re_next_in_program(b)) {
        int32_t amin = min, amax = max;
        re_program_node* lit = walk_lead(b + 1, &amin, &amax);
        if (!lit || (lit->type != RE_EXACT && lit->type != RE_EXACTF) || lit->flags == 0 ||
            *count == RE_SET_LITERALS)
            return false;
        if (lit->type == RE_EXACTF) {
            const uint8_t* t = reinterpret_cast<const uint8_t*>(re_text(lit));
            for (int32_t i = 0; i < lit->flags; i++)
                if (!fold_pair_covers(gcb->fold_table, t[i]))
                    return false;
        }
        lits[(*count)++] = lit;
        *wmin = amin < *wmin ? amin : *wmin;
        *wmax = amax > *wmax ? amax : *wmax;
    }
    return *count >= 2;
}

// Builds the pattern's search aids, when it has any: in a byte pattern,
// the pair of a case-blind literal start class and the literal set.
void build_accel(PERLGCB* gcb, re_compiled* rx)
{
    if (gcb->re_regflags & RE_REGF_UTF8)
        return;
    re_program_node* program = reinterpret_cast<re_program_node*>(rx->program);
    const re_program_node* lits[RE_SET_LITERALS];
    int32_t count = 0, wmin = 0, wmax = 0;
    if (!find_literal_set(gcb, program + 1, lits, &count, &wmin, &wmax))
        count = 0;
    const re_program_node* cls = reinterpret_cast<const re_program_node*>(rx->start_class);
    bool folded_class = cls && (cls->type == RE_EXACTF || cls->type == RE_EXACTFL);
    ByteRanges ranges{};
    bool ranged_class = cls && cls->type == RE_ANYOF && cls->flags == 0 &&
                        byte_ranges_of(reinterpret_cast<const re_class_node*>(cls)->bitmap, &ranges);
    if (!count && !folded_class && !ranged_class)
        return;
    int64_t bytes = static_cast<int64_t>(sizeof(re_accel));
    for (int32_t i = 0; i < count; i++)
        bytes += lits[i]->flags;
    re_accel* a = static_cast<re_accel*>(pool_malloc(gcb, static_cast<uint64_t>(bytes)));
    std::memset(a, 0, static_cast<size_t>(bytes));
    rx->accel = a;
    if (ranged_class)
        a->class_ranges = ranges;
    const uint8_t* fold = gcb->fold_table;
    if (folded_class) {
        int64_t o1 = 0, o2 = 0;
        rare_byte_pair(reinterpret_cast<const uint8_t*>(re_text(cls)), cls->flags, fold, &o1, &o2);
        a->class_o1 = static_cast<int32_t>(o1);
        a->class_o2 = static_cast<int32_t>(o2);
    }
    int32_t at = 0;
    for (int32_t i = 0; i < count; i++) {
        re_set_literal& l = a->set[i];
        const uint8_t* t = reinterpret_cast<const uint8_t*>(re_text(lits[i]));
        l.text = at;
        l.length = lits[i]->flags;
        l.fold = lits[i]->type == RE_EXACTF;
        std::memcpy(a->text + at, t, static_cast<size_t>(l.length));
        at += l.length;
        int64_t o1 = 0, o2 = 0;
        rare_byte_pair(t, l.length, l.fold ? fold : nullptr, &o1, &o2);
        l.o1 = static_cast<int32_t>(o1);
        l.o2 = static_cast<int32_t>(o2);
        l.a1 = t[o1];
        l.a2 = l.fold ? fold[t[o1]] : t[o1];
        l.b1 = t[o2];
        l.b2 = l.fold ? fold[t[o2]] : t[o2];
        int32_t reach = l.o1 > l.o2 ? l.o1 : l.o2;
        a->set_reach = reach > a->set_reach ? reach : a->set_reach;
    }
    a->set_count = count;
    a->set_min = wmin;
    a->set_max = wmax;
}

// ---- repeats that need not give back ---------------------------------------------
//
// A greedy repeat of one character class X backs off one character at a
// time and tries the rest of the pattern after each. Where the rest is
// certain to fail at once at any character of X (its first node needs a
// character outside X, maybe after a skipped repeat of another class, or
// it is the loop node of a general repeat below its minimum whose body
// needs such a character), every try after the first one is lost work. The
// repeat's flags byte then records what each such try costs the match's
// work budget, in activations of the matcher, and the matcher skips them
// and charges that budget instead: the match ends where it would have, the
// backtracking guard fires where it would have, without the tries.

// The bytes one single-character node (a repeat's operand) accepts, in a
// byte pattern, into set (32 bytes). False for a node whose members depend
// on the locale or on UTF-8, and for any other node.
bool byte_set(PERLGCB* gcb, const re_program_node* n, uint8_t* set)
{
    std::memset(set, 0, 32);
    if (n->type == RE_EXACT || n->type == RE_EXACTF) {
        uint8_t c = static_cast<uint8_t>(re_text(n)[0]);
        re_bitmap_set(set, c);
        if (n->type == RE_EXACTF)
            re_bitmap_set(set, gcb->fold_table[c]);
        return true;
    }
    if (n->type == RE_REG_ANY || n->type == RE_SANY) {
        std::memset(set, 0xFF, 32);
        if (n->type == RE_REG_ANY)
            bitmap_clear(set, '\n');
        return true;
    }
    if (!re_class_op(n->type) || re_class_utf8(n->type) || re_class_locale(n->type) ||
        (n->type == RE_ANYOF && (n->flags & RE_CLASS_LOCALE)))
        return false;
    uint32_t flags = gcb->re_match_flags;  // a class test may mark a match tainted: not this one
    for (uint32_t c = 0; c < 256; c++) {
        char b[4] = {static_cast<char>(c), 0, 0, 0};  // whole, whatever a test reads
        if (re_class_accepts(gcb, n, b))
            re_bitmap_set(set, static_cast<uint8_t>(c));
    }
    gcb->re_match_flags = flags;
    return true;
}

bool disjoint(const uint8_t* a, const uint8_t* b)
{
    for (int32_t i = 0; i < 32; i++)
        if (a[i] & b[i])
            return false;
    return true;
}

// The operand of a STAR, PLUS or CURLY node.
const re_program_node* repeat_operand(const re_program_node* r) { return r + 1 + re_arg_units[r->type]; }
int32_t repeat_min(const re_program_node* r)
{
    return r->type == RE_STAR ? 0 : r->type == RE_PLUS ? 1 : re_arg_min(r);
}

// A repeat of a class disjoint from x that must match at least once: it
// fails at once at a character of x.
bool needs_other_class(PERLGCB* gcb, const re_program_node* n, const uint8_t* x)
{
    uint8_t y[32];
    if (re_simple_nodes[n->type])
        return byte_set(gcb, n, y) && disjoint(x, y);
    if ((n->type == RE_PLUS || n->type == RE_CURLY) && repeat_min(n) >= 1)
        return byte_set(gcb, repeat_operand(n), y) && disjoint(x, y);
    return false;
}

// What a try of the rest from node m costs at a character of x when it
// fails at once: 0 when the repeat before m does not even try (m is a
// literal whose first byte is not in x: the look-ahead byte rules it out),
// 1 for the one activation that fails at m; -1 when m may not fail at once.
int32_t first_fails(PERLGCB* gcb, const re_program_node* m, const uint8_t* x)
{
    if (m->type == RE_EXACT || m->type == RE_EXACTF) {
        uint8_t c = static_cast<uint8_t>(re_text(m)[0]);
        uint8_t c2 = m->type == RE_EXACTF ? gcb->fold_table[c] : c;
        return re_bitmap_test(x, c) || re_bitmap_test(x, c2) ? -1 : 0;
    }
    return needs_other_class(gcb, m, x) ? 1 : -1;
}

// Whether the first node b of a loop body fails at once, within the body's
// activation, at any character of x.
bool body_fails(PERLGCB* gcb, const re_program_node* b, const uint8_t* x)
{
    if (b->type == RE_EXACT || b->type == RE_EXACTF) {
        uint8_t c = static_cast<uint8_t>(re_text(b)[0]);
        for (uint32_t y = 0; y < 256; y++)
            if (re_bitmap_test(x, static_cast<uint8_t>(y)) &&
                (y == c || (b->type == RE_EXACTF && gcb->fold_table[y] == c)))
                return false;
        return true;
    }
    return needs_other_class(gcb, b, x);
}

// A general repeat's loop node and the repeat it closes.
struct LoopPair {
    const re_program_node* whilem;
    const re_program_node* curlyx;
};
constexpr int32_t LOOP_PAIRS = 64;

// The cost of each try a loop node w costs (below its loop's minimum: its
// activation and the body's), when the body fails at once at x; -1 else.
int32_t loop_fails(PERLGCB* gcb, const re_program_node* w, const uint8_t* x, const LoopPair* pairs, int32_t npairs)
{
    if (w->type != RE_WHILEM)
        return -1;
    for (int32_t i = 0; i < npairs; i++)
        if (pairs[i].whilem == w)
            return body_fails(gcb, pairs[i].curlyx + 2, x) ? 2 : -1;
    return -1;
}

// The flags byte of a repeat r whose tries after the first all fail at
// once, or RE_NO_FLAGS.
uint8_t give_back_cost(PERLGCB* gcb, re_program_node* r, const LoopPair* pairs, int32_t npairs)
{
    uint8_t x[32];
    re_program_node* next = re_next_in_program(r);
    if (!next || !byte_set(gcb, repeat_operand(r), x))
        return RE_NO_FLAGS;
    int32_t cost = first_fails(gcb, next, x);
    if (cost >= 0)
        return re_give_back_flags(cost, false);
    cost = loop_fails(gcb, next, x, pairs, npairs);
    if (cost >= 0)
        return re_give_back_flags(cost, true);
    // A repeat that may match nothing, of a class disjoint from x: its
    // activation counts none, tries what follows it once and steps back
    // once.
    uint8_t y[32];
    re_program_node* m = re_next_in_program(next);
    if ((next->type != RE_STAR && next->type != RE_CURLY) || repeat_min(next) != 0 || !m ||
        !byte_set(gcb, repeat_operand(next), y) || !disjoint(x, y))
        return RE_NO_FLAGS;
    cost = first_fails(gcb, m, x);
    if (cost >= 0)
        return re_give_back_flags(1 + cost + 1, false);
    cost = loop_fails(gcb, m, x, pairs, npairs);
    if (cost >= 0)
        return re_give_back_flags(1 + cost + 1, true);
    return RE_NO_FLAGS;
}

// Marks the repeats of a byte pattern that need not give back. Every chain
// of the program is walked once (a bitmap of the units seen), from a
// worklist of bounded size: a program too large or too branched for them
// keeps some repeats unmarked, which only costs speed.
void mark_give_back(PERLGCB* gcb, re_compiled* rx)
{
    constexpr int32_t MAX_UNITS = 8192;
    constexpr int32_t WORK = 256;
    if ((gcb->re_regflags & RE_REGF_UTF8) || gcb->re_size >= MAX_UNITS)
        return;
    re_program_node* program = reinterpret_cast<re_program_node*>(rx->program);
    uint64_t seen[MAX_UNITS / 64] = {};
    re_program_node* work[WORK];
    LoopPair pairs[LOOP_PAIRS];
    int32_t top = 0, npairs = 0;
    auto push = [&](re_program_node* n) {
        if (top < WORK)
            work[top++] = n;
    };
    push(program + 1);
    while (top) {
        for (re_program_node* n = work[--top]; n; n = re_next_in_program(n)) {
            int64_t unit = n - program;
            if (unit <= 0 || unit >= MAX_UNITS || (seen[unit >> 6] >> (unit & 63)) & 1)
                break;
            seen[unit >> 6] |= uint64_t{1} << (unit & 63);
            switch (n->type) {
            case RE_STAR:
            case RE_PLUS:
            case RE_CURLY:
                n->flags = give_back_cost(gcb, n, pairs, npairs);
                break;
            case RE_CURLYX: {
                // Its loop node ends the body's chain.
                re_program_node* w = n + 2;
                while (w && w->type != RE_WHILEM && w->type != RE_END)
                    w = re_next_in_program(w);
                if (w && w->type == RE_WHILEM && npairs < LOOP_PAIRS)
                    pairs[npairs++] = {w, n};
                push(n + 2);
                break;
            }
            case RE_CURLYN:
            case RE_CURLYM:
            case RE_BRANCHJ:
            case RE_IFMATCH:
            case RE_UNLESSM:
            case RE_SUSPEND:
            case RE_IFTHEN:
                push(n + 2);
                break;
            case RE_BRANCH:
                push(n + 1);
                break;
            default:
                break;
            }
        }
    }
}

}  // namespace

// The optimiser's entry, run by the compile driver after the emit pass.
// It sets the pattern's minimum length, start class, substrings and
// anchor flags. Everything allocated on the way is either the pattern's
// (freed with it when a later step fails) or in the scratch slots.
void re_optimize(PERLGCB* gcb, re_compiled* rx)
{
    re_opt_free_scratch(gcb);
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
        // First find the first node that decides anything: groups, a
        // BRANCH with a single alternative, MINMOD and repeats that must
        // run at least once are looked through, since their operand must
        // match at the start anyway. A leading PLUS is noted: a match that
        // fails after a run of its character cannot succeed from inside
        // that run, so the finder may skip the whole run (REA_SKIP).
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
        // Then the first node gives a start class (a program node used as
        // it stands) or an anchor. A plain literal gives none: the anchored
        // substring at offset 0 does the work. A folded literal serves as a
        // class only in a byte pattern, where its first byte is one char.
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

        // The study proper: substrings, lengths, and a synthetic class when
        // the first node gave none.
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
        // isall: the whole pattern is the one literal from offset 0, so a
        // found check substring is the match and the matcher need not run.
        // Groups would need their offsets, a zero-length construct could
        // refuse the place, and \G must be tested where the search begins.
        if (gcb->re_npar == 1 && data.longest == data.longest_fixed && data.literal_start_min == 0 &&
            data.literal_end > 0 && !gcb->re_zerolen &&
            (!(gcb->re_seen & RE_SEEN_GPOS) || (rx->analysis_flags & REA_GPOS)))
            rx->analysis_flags |= REA_CHECK_ALL;
        re_commit_substr(gcb, &data);

        // A candidate is kept when it has text, or when it is empty but ends
        // before an end anchor (an /m line end counts only under /m, where
        // the matcher honours it); the tail flag lets the finder look at
        // the end of the subject first.
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
        // A dot as start class rejects only newlines: not worth a scan.
        if (rx->start_class && re_kind(reinterpret_cast<re_program_node*>(rx->start_class)) == RE_REG_ANY)
            rx->start_class = nullptr;
        // The synthetic class is kept only where it can help: no substring
        // pins the start already, the class is certain (a match cannot be
        // empty at its start) and it rejects something.
        if ((!sub[RE_SUBSTR_ANCHORED].substr || sub[RE_SUBSTR_ANCHORED].min_offset) && class_mode &&
            !(data.start_class->flags & RE_CLASS_EOS) && !class_is_anything(data.start_class))
            rx->start_class = keep_start_class(gcb, rx, data.start_class);

        // The check substring: the floating one unless the anchored one is
        // longer. An anchored check of a pattern anchored at the start or
        // at \G leaves the finder nothing to scan for (noscan). The finder
        // runs whenever there is a check substring, except under \G, where
        // the start is fixed anyway.
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
        // start class united from the alternatives. No substring is common
        // to all of them as far as this study can tell, and no anchor
        // applies to every alternative.
        class_init_zero(gcb, &synthetic_class);
        data.start_class = &synthetic_class;
        data.literal_end = -1;
        minlen = re_study_nodes(gcb, &scan, &fake, end, &data, STUDY_CLASS_OR | STUDY_NUMBER_LOOPS);
        if (!(data.start_class->flags & RE_CLASS_EOS) && !class_is_anything(data.start_class))
            rx->start_class = keep_start_class(gcb, rx, data.start_class);
    }
    rx->min_length = minlen;
    build_accel(gcb, rx);
    mark_give_back(gcb, rx);
    re_opt_free_scratch(gcb);
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
