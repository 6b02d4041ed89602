// The pattern compiler: the driver with its two passes, the compile-error
// forms, the emitters and linkers, the parser of branches, pieces, atoms
// and groups, and the freeing of a compiled pattern.
//
// A program is an array of 4-byte units. A node is a head unit {flags,
// type, next} followed by its argument units (re_arg_units) and, for the
// literal kinds, its text. next is the distance in units to the node that
// follows in the chain, 0 at the end of a chain; the long-jump forms keep
// it in their 32-bit argument instead (re_next_in_arg). Nodes are emitted
// in text order and linked afterwards, so every link points forward.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <type_traits>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxnum.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxregcomp.h"
#include "prxscope.h"
#include "prxsv.h"
#include "prxutf8.h"
#include "prxuni.h"

// ---- node tables -------------------------------------------------------------
//
// Expansions of the node list: each column of prxregnodes.def becomes one
// array indexed by opcode, so a new node is added in one row.

const char* const re_node_names[RE_NODE_COUNT] = {
#define RE_NODE(name, kind, args, offarg, simple) #name,
#include "prxregnodes.def"
#undef RE_NODE
};
const uint8_t re_node_kinds[RE_NODE_COUNT] = {
#define RE_NODE(name, kind, args, offarg, simple) RE_##kind,
#include "prxregnodes.def"
#undef RE_NODE
};
const uint8_t re_arg_units[RE_NODE_COUNT] = {
#define RE_NODE(name, kind, args, offarg, simple) args,
#include "prxregnodes.def"
#undef RE_NODE
};
const uint8_t re_next_in_arg[RE_NODE_COUNT] = {
#define RE_NODE(name, kind, args, offarg, simple) offarg,
#include "prxregnodes.def"
#undef RE_NODE
};
const uint8_t re_simple_nodes[RE_NODE_COUNT] = {
#define RE_NODE(name, kind, args, offarg, simple) simple,
#include "prxregnodes.def"
#undef RE_NODE
};
static_assert(sizeof re_node_names / sizeof re_node_names[0] == RE_NODE_COUNT);

const char* const re_class_names[RE_CC_COUNT] = {
#define RE_POSIX(name, shown, shown_negated, word, property) shown, shown_negated,
#include "prxregposix.def"
#undef RE_POSIX
};

// The node after p in its chain, or null at the end of the chain.
// In the size pass every emitter returns the placeholder, which ends every
// chain.
re_program_node* re_next_node(PERLGCB* gcb, re_program_node* p)
{
    if (p == reinterpret_cast<re_program_node*>(gcb->re_placeholder))
        return nullptr;
    int32_t offset = re_next_in_arg[p->type] ? static_cast<int32_t>(re_arg(p)) : p->next;
    return offset == 0 ? nullptr : p + offset;
}

// The engine behind the interpreter's pattern hooks; the run-time ops
// reach the engine only through these.
void re_install_hooks(PERLGCB* gcb)
{
    gcb->re_hook_compile = re_compile_pattern;
    gcb->re_hook_exec = re_exec;
    gcb->re_hook_guess = re_guess_start;
    gcb->re_hook_check = re_check_substr;
    gcb->re_hook_free = pregfree;
}

// One pattern-flag letter into a flag word; letters that are no pattern
// flag are ignored (the callers have checked them).
void pattern_flag_add(PERLGCB*, uint16_t* flags, int32_t letter)
{
    switch (letter) {
    case 'i': *flags |= PMf_FOLD; break;
    case 'g': *flags |= PMf_GLOBAL; break;
    case 'c': *flags |= PMf_CONTINUE; break;
    case 'o': *flags |= PMf_KEEP; break;
    case 'm': *flags |= PMf_MULTILINE; break;
    case 's': *flags |= PMf_SINGLELINE; break;
    case 'x': *flags |= PMf_EXTENDED; break;
    default: break;
    }
}

// ---- compile errors ------------------------------------------------------------
//
// Every error raises a fatal error that never returns. Once the emit pass
// has begun, the half-built pattern is handed to the save stack first, so
// that the unwinding frees it.

namespace {

// Which text an error quotes: the pattern text, or an empty one when there
// is none.
int32_t quoted_length(PERLGCB* gcb)
{
    if (!gcb->re_precomp || !gcb->re_xend || gcb->re_xend < gcb->re_precomp)
        return 0;
    return static_cast<int32_t>(gcb->re_xend - gcb->re_precomp);
}

const char* quoted_text(PERLGCB* gcb)
{
    return gcb->re_precomp && quoted_length(gcb) ? gcb->re_precomp : "";
}

// Offset of a place inside the pattern text, kept within the text.
int32_t offset_of(PERLGCB* gcb, const char* at)
{
    int32_t len = quoted_length(gcb);
    if (!gcb->re_precomp || !at || at < gcb->re_precomp)
        return 0;
    int64_t off = at - gcb->re_precomp;
    return off > len ? len : static_cast<int32_t>(off);
}

}  // namespace

// The plain form, for errors without a place: the pattern is quoted whole
// up to 127 characters, or its first 117 and an ellipsis.
void re_fail_plain(PERLGCB* gcb, const char* message)
{
    int32_t len = quoted_length(gcb);
    const char* ellipsis = "";
    if (len > 127) {
        len = 117;
        ellipsis = "...";
    }
    fatal_error(gcb, "%s in regex m/%.*s%s/", message, static_cast<int>(len), quoted_text(gcb), ellipsis);
}

// The position form: the pattern is split at the place, never cut.
void re_fail_at(PERLGCB* gcb, const char* at, const char* message)
{
    int32_t len = quoted_length(gcb);
    int32_t off = offset_of(gcb, at);
    const char* text = quoted_text(gcb);
    fatal_error(gcb, "%s before HERE mark in regex m/%.*s << HERE %.*s/", message, static_cast<int>(off), text,
                static_cast<int>(len - off), text + off);
}

void re_fail_formatted(PERLGCB* gcb, const char* at, const char* tmpl, const char* args_text)
{
    // The template's arguments are already expanded into args_text (at
    // least its first 511 bytes). The joined message ends in a newline and
    // is cut to 511 bytes: one cut short has lost its newline, so the fatal
    // path adds its suffix.
    (void)tmpl;
    int32_t len = quoted_length(gcb);
    int32_t off = offset_of(gcb, at);
    const char* text = quoted_text(gcb);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%s before HERE mark in regex m/%.*s << HERE %.*s/\n", args_text,
                  static_cast<int>(off), text, static_cast<int>(len - off), text + off);
    fatal_error(gcb, "%s", buf);
}

// The position form with arguments, formatted here. The message buffer
// holds more than the 511 bytes that the joined text keeps.
void re_fail_fmt(PERLGCB* gcb, const char* at, const char* fmt, ...)
{
    char msg[600];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(msg, sizeof msg, fmt, ap);
    va_end(ap);
    re_fail_formatted(gcb, at, fmt, msg);
}

void re_warn_fmt(PERLGCB* gcb, const char* at, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    // A temporary: a warning made fatal leaves before it could be released.
    SV* msg = sv_make_temporary(gcb, sv_new_formatted_va(gcb, fmt, &ap));
    va_end(ap);
    re_warn_at(gcb, at, sv_pv(msg));
}

// A warning in the position form, in the regexp category. Under fatal
// warnings it raises instead of returning; the half-built pattern is then
// freed like after any other compile error.
void re_warn_at(PERLGCB* gcb, const char* at, const char* message)
{
    int32_t len = quoted_length(gcb);
    int32_t off = offset_of(gcb, at);
    const char* text = quoted_text(gcb);
    category_warning(gcb, RE_WARN_REGEXP, "%s before HERE mark in regex m/%.*s << HERE %.*s/", message,
                     static_cast<int>(off), text, static_cast<int>(len - off), text + off);
}

// ---- emitters and linking ----------------------------------------------------------
//
// Every emitter has a size-pass branch that only adds the units it would
// write to re_size and returns the placeholder; every linker does nothing
// in the size pass. The two branches must count the same units: a node
// that writes more than it counted overruns the record the size pass
// sized. Callers may read and write the returned node in both passes (the
// placeholder absorbs the writes), but must not follow links through it.

// A node without argument, flags RE_NO_FLAGS and next 0 until linked.
re_program_node* re_emit_node(PERLGCB* gcb, uint8_t op)
{
    if (re_size_only(gcb)) {
        gcb->re_size += 1;
        return re_placeholder(gcb);
    }
    re_program_node* node = reinterpret_cast<re_program_node*>(gcb->re_emit);
    node->flags = RE_NO_FLAGS;
    node->type = op;
    node->next = 0;
    gcb->re_emit += 1;
    return node;
}

// A node with one argument unit (a group number, a repeat's bounds, a
// long distance).
re_program_node* re_emit_arg_node(PERLGCB* gcb, uint8_t op, uint32_t arg)
{
    if (re_size_only(gcb)) {
        gcb->re_size += 2;
        return re_placeholder(gcb);
    }
    re_program_node* node = reinterpret_cast<re_program_node*>(gcb->re_emit);
    node->flags = RE_NO_FLAGS;
    node->type = op;
    node->next = 0;
    re_set_arg(node, arg);
    gcb->re_emit += 2;
    return node;
}

// The UTF-8 form of a code point: written in the emit pass, only measured
// in the size pass. The lengths must agree with what utf8_encode writes,
// or a literal's byte count differs between the passes.
int32_t re_emit_uni(PERLGCB* gcb, uint32_t cp, char* dest)
{
    if (re_size_only(gcb)) {
        uint64_t u = cp;
        return u < 0x80 ? 1 : u < 0x800 ? 2 : u < 0x10000 ? 3 : u < 0x200000 ? 4 : u < 0x4000000 ? 5
             : u < 0x80000000 ? 6 : 7;
    }
    uint8_t* end = utf8_encode(gcb, reinterpret_cast<uint8_t*>(dest), cp);
    return static_cast<int32_t>(end - reinterpret_cast<uint8_t*>(dest));
}

// Links the end of p's chain to target: the chain is followed to its
// last node (next 0) and that node gets the distance. Chains are built in
// text order, so the distance is positive; it must fit the field, which
// is why big programs use the long-jump forms.
void re_link_tail(PERLGCB* gcb, re_program_node* p, re_program_node* target)
{
    if (re_size_only(gcb))
        return;
    re_program_node* scan = p;
    for (;;) {
        re_program_node* temp = re_next_node(gcb, scan);
        if (!temp)
            break;
        scan = temp;
    }
    int64_t distance = target - scan;
    if (re_next_in_arg[scan->type])
        re_set_arg(scan, static_cast<uint32_t>(static_cast<int32_t>(distance)));
    else
        scan->next = static_cast<uint16_t>(distance);
}

// Links the end of the operand of one alternative to target. The BRANCH
// chain itself links alternative to alternative; the operand, one unit
// (BRANCH) or two units (BRANCHJ, with its argument) after the branch
// node, is a chain of its own whose end must reach the alternation's
// closing node. Other nodes in the branch chain have no operand chain.
void re_link_branch_tail(PERLGCB* gcb, re_program_node* p, re_program_node* target)
{
    if (re_size_only(gcb) || !p)
        return;
    if (p->type == RE_BRANCH)
        re_link_tail(gcb, p + 1, target);
    else if (re_kind(p) == RE_BRANCHJ)
        re_link_tail(gcb, p + 2, target);
}

// Puts a node in front of an operand already emitted (a quantifier seen
// after its atom, a BRANCH when a "|" follows the first alternative): the
// units from operand to the emit position move up, and the new node takes
// the operand's place. Links inside the moved stretch are relative and
// stay right; a pointer into it held by a caller now addresses the new
// node, whose operand is the next unit (or after its argument). The new
// node has next 0; its argument units are zeroed for the caller to fill.
void re_insert_operand(PERLGCB* gcb, uint8_t op, re_program_node* operand)
{
    int32_t units = 1 + re_arg_units[op];
    if (re_size_only(gcb)) {
        gcb->re_size += units;
        return;
    }
    uint32_t* place = reinterpret_cast<uint32_t*>(operand);
    uint32_t* end = gcb->re_emit;
    std::memmove(place + units, place, static_cast<size_t>(end - place) * sizeof(uint32_t));
    gcb->re_emit = end + units;
    re_program_node* node = operand;
    node->flags = RE_NO_FLAGS;
    node->type = op;
    node->next = 0;
    for (int32_t i = 1; i < units; i++)
        place[i] = 0;
}

// Appends n entries to the pattern's data array, with one code letter each
// (what the free must do with them); returns the index of the first. The
// entries start null and are filled by the caller.
uint32_t re_data_append(PERLGCB* gcb, int32_t n, const char* codes)
{
    re_compiled* rx = gcb->re_rx;
    re_data_array* d = rx->data;
    uint32_t old = d ? d->count : 0;
    uint64_t bytes = sizeof(re_data_array) + static_cast<uint64_t>(old + n - 1) * sizeof(void*);
    // Each step leaves the pattern's array whole for the free of a failed
    // compile: the array is the pattern's as soon as it exists, with the
    // count and codes of the entries already made.
    re_data_array* grown = static_cast<re_data_array*>(pool_realloc(gcb, d, bytes));
    if (!d) {
        grown->count = 0;
        grown->what = nullptr;
    }
    rx->data = grown;
    char* what = static_cast<char*>(pool_realloc(gcb, grown->what, old + static_cast<uint32_t>(n)));
    grown->what = what;
    for (int32_t i = 0; i < n; i++) {
        what[old + static_cast<uint32_t>(i)] = codes[i];
        grown->data[old + static_cast<uint32_t>(i)] = nullptr;
    }
    grown->count = old + static_cast<uint32_t>(n);
    rx->data = grown;
    return old;
}

// ---- scanning helpers ------------------------------------------------------------------

namespace {

// Counts and group numbers take the ASCII digits, whatever the host's table says.
bool is_ascii_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// Skips "(?#...)" comments and, under /x, white space and "#" comments at
// the parse position.
void skip_ignorable(PERLGCB* gcb)
{
    for (;;) {
        const char* p = gcb->re_parse;
        const char* end = gcb->re_xend;
        if (end - p >= 3 && p[0] == '(' && p[1] == '?' && p[2] == '#') {
            const char* q = p + 3;
            while (q < end && *q != ')')
                q++;
            if (q >= end) {
                gcb->re_parse = end;
                re_fail_plain(gcb, "Sequence (?#... not terminated");
            }
            gcb->re_parse = q + 1;
            continue;
        }
        if (gcb->re_cflags & PMf_EXTENDED) {
            if (p < end && host_is_space(static_cast<uint8_t>(*p))) {
                gcb->re_parse = p + 1;
                continue;
            }
            if (p < end && *p == '#') {
                while (p < end && *p != '\n')
                    p++;
                gcb->re_parse = p < end ? p + 1 : end;
                continue;
            }
        }
        return;
    }
}

// Decimal number at p, saturating; digits only. The saturation value is
// above every limit a caller checks (repeat counts, group numbers), so a
// huge number is refused rather than wrapped.
int64_t read_number(const char* p, const char* end)
{
    int64_t n = 0;
    while (p < end && is_ascii_digit(static_cast<uint8_t>(*p))) {
        n = n * 10 + (*p - '0');
        if (n > 1000000000)
            n = 1000000000;
        p++;
    }
    return n;
}

// A quantifier starts at p: "*", "+", "?" or a well-formed {n}, {n,} or
// {n,m}; any other "{" is a literal brace.
bool is_quantifier_at(PERLGCB* gcb, const char* p)
{
    if (p >= gcb->re_xend)
        return false;
    return *p == '*' || *p == '+' || *p == '?' || (*p == '{' && re_is_curly(gcb, p));
}

}  // namespace

// Steps over the current character and whatever may be ignored after it;
// returns the position of the character stepped over.
const char* re_next_token(PERLGCB* gcb)
{
    const char* before = gcb->re_parse++;
    skip_ignorable(gcb);
    return before;
}

// Under /x: white space and "#" comments at p, for the literal scanner,
// which works on its own pointer rather than the parse position.
const char* re_skip_whitespace(PERLGCB* gcb, const char* p, const char* end)
{
    while (p < end) {
        if (host_is_space(static_cast<uint8_t>(*p)))
            p++;
        else if (*p == '#') {
            while (p < end && *p != '\n')
                p++;
            if (p < end)
                p++;
        } else
            break;
    }
    (void)gcb;
    return p;
}

// "{" begins a counted quantifier only as {digits}, {digits,} or
// {digits,digits}; anything else is literal text, as in a{,2} or a{x}.
bool re_is_curly(PERLGCB* gcb, const char* p)
{
    const char* end = gcb->re_xend;
    if (p >= end || *p != '{')
        return false;
    p++;
    if (p >= end || !is_ascii_digit(static_cast<uint8_t>(*p)))
        return false;
    while (p < end && is_ascii_digit(static_cast<uint8_t>(*p)))
        p++;
    if (p < end && *p == ',')
        p++;
    while (p < end && is_ascii_digit(static_cast<uint8_t>(*p)))
        p++;
    return p < end && *p == '}';
}

// ---- branches and pieces ---------------------------------------------------------------

namespace {

re_program_node* parse_quantified(PERLGCB* gcb, int32_t* flags_out);

}  // namespace

// One alternative: pieces up to "|", ")" or the end, each linked after the
// one before. Unless first is set (the first alternative of a group, or a
// conditional's), the alternative opens with its branch node; the size
// pass counts one extra unit for it, which a long-jump program turns into
// BRANCHJ's argument. Every piece after the first adds to the naughty
// score: a longer sequence costs more per failed attempt.
re_program_node* re_parse_piece(PERLGCB* gcb, int32_t* flags_out, int32_t first)
{
    re_program_node* ret = nullptr;
    re_program_node* chain = nullptr;
    int32_t flags = 0;
    int32_t count = 0;
    if (!first) {
        if (!re_size_only(gcb) && gcb->re_extralen)
            ret = re_emit_arg_node(gcb, RE_BRANCHJ, 0);
        else
            ret = re_emit_node(gcb, RE_BRANCH);
        if (re_size_only(gcb))
            gcb->re_extralen += 1;
    }
    *flags_out = RE_FLAGS_NONE;
    skip_ignorable(gcb);
    while (gcb->re_parse < gcb->re_xend && *gcb->re_parse != '|' && *gcb->re_parse != ')') {
        flags &= ~RE_TRY_AGAIN;
        re_program_node* latest = parse_quantified(gcb, &flags);
        if (!latest) {
            // A switch like (?i) or a comment emits nothing: parse on.
            if (flags & RE_TRY_AGAIN)
                continue;
            return nullptr;
        }
        if (!ret)
            ret = latest;
        *flags_out |= flags & RE_HAS_WIDTH;
        if (!chain)
            *flags_out |= flags & RE_REPEAT_START;
        else {
            re_naughty_add(gcb, 1);
            re_link_tail(gcb, chain, latest);
        }
        chain = latest;
        count++;
    }
    // An empty alternative still needs a node to link: NOTHING.
    if (!chain) {
        chain = re_emit_node(gcb, RE_NOTHING);
        if (!ret)
            ret = chain;
    }
    // Only a lone piece can be simple: a group around it may then be
    // repeated by the simple repeats.
    if (count == 1)
        *flags_out |= flags & RE_SIMPLE;
    return ret;
}

namespace {

// One piece: an atom and its quantifier, if any. The atom is emitted first;
// the repeat node is then inserted in front of it (re_insert_operand), so
// ret keeps pointing at the head of the piece.
re_program_node* parse_quantified(PERLGCB* gcb, int32_t* flags_out)
{
    const char* piece_start = gcb->re_parse;
    int32_t flags = 0;
    re_program_node* ret = re_parse_atom(gcb, &flags);
    if (!ret) {
        if (flags & RE_TRY_AGAIN)
            *flags_out |= RE_TRY_AGAIN;
        return nullptr;
    }
    const char* p = gcb->re_parse;
    if (p >= gcb->re_xend || !is_quantifier_at(gcb, p)) {
        *flags_out = flags;
        return ret;
    }
    char op = *p;
    int64_t min = 0, max = 0;
    // {n}, {n,} and {n,m}: an empty maximum is "no bound" (RE_INFTY), an
    // explicit maximum must stay below it, the bounds are stored in 16 bits.
    if (op == '{') {
        const char* next = p + 1;
        const char* max_text = nullptr;
        while (next < gcb->re_xend && (is_ascii_digit(static_cast<uint8_t>(*next)) || *next == ',')) {
            if (*next == ',') {
                if (max_text)
                    break;
                max_text = next;
            }
            next++;
        }
        // re_is_curly has seen the closing brace at next.
        if (!max_text)
            max_text = next;
        gcb->re_parse = p + 1;
        min = read_number(gcb->re_parse, gcb->re_xend);
        if (*max_text == ',')
            max_text++;
        else
            max_text = gcb->re_parse;
        max = read_number(max_text, gcb->re_xend);
        if (!max && *max_text != '0')
            max = RE_INFTY;
        else if (max >= RE_INFTY) {
            re_fail_fmt(gcb, gcb->re_parse, "Quantifier in {,} bigger than %d", static_cast<int>(RE_INFTY - 1));
        }
        gcb->re_parse = next;
        re_next_token(gcb);
    } else {
        re_next_token(gcb);
        min = op == '+' ? 1 : 0;
        max = op == '?' ? 1 : RE_INFTY;
    }

    // The naughty score estimates how much a failing attempt can cost: each
    // repeat adds to it, a counted repeat of a simple node by half the score
    // so far (nesting multiplies the work), and a general repeat doubles it.
    // At 10 the pattern is naughty: the start finder then keeps its check
    // substring however rarely it narrows the search, since a wasted attempt
    // costs more than a search. The score saturates rather than wraps.
    //
    // A simple operand (one character wide) gets STAR, PLUS or CURLY, which
    // count their repetitions in one loop; anything else gets the general
    // repeat CURLYX ... WHILEM, whose body the matcher runs once per
    // repetition. The size pass reserves 3 units (re_extralen) for the
    // NOTHING and LONGJMP that the emit pass may put between CURLYX and its
    // body; the choice of repeat depends only on the parse, so both passes
    // make the same one and the program fits the size counted.
    if ((flags & RE_SIMPLE) && op == '*') {
        re_insert_operand(gcb, RE_STAR, ret);
        re_naughty_add(gcb, 4);
    } else if ((flags & RE_SIMPLE) && op == '+') {
        re_insert_operand(gcb, RE_PLUS, ret);
        re_naughty_add(gcb, 3);
    } else if (flags & RE_SIMPLE) {
        re_naughty_add(gcb, 2 + gcb->re_naughty / 2);
        re_insert_operand(gcb, RE_CURLY, ret);
    } else {
        re_program_node* w = re_emit_node(gcb, RE_WHILEM);
        if (!re_size_only(gcb))
            w->flags = 0;
        re_link_tail(gcb, ret, w);
        if (!re_size_only(gcb) && gcb->re_extralen) {
            re_insert_operand(gcb, RE_LONGJMP, ret);
            re_insert_operand(gcb, RE_NOTHING, ret);
            ret->next = 3;  // the NOTHING steps over the LONGJMP to the body
        }
        re_insert_operand(gcb, RE_CURLYX, ret);
        if (!re_size_only(gcb) && gcb->re_extralen)
            ret->next = 3;  // the CURLYX steps over the NOTHING to the LONGJMP
        re_link_tail(gcb, ret, re_emit_node(gcb, RE_NOTHING));
        if (re_size_only(gcb)) {
            gcb->re_whilem_seen++;
            gcb->re_extralen += 3;
        }
        re_naughty_set(gcb, static_cast<int64_t>(gcb->re_naughty) * 2 + 4);
    }
    // The bounds are written in the emit pass only (the size pass's node is
    // the placeholder); STAR and PLUS carry none.
    if (!re_size_only(gcb)) {
        ret->flags = 0;
        if (ret->type != RE_STAR && ret->type != RE_PLUS)
            re_set_min_max(ret, static_cast<uint16_t>(min), static_cast<uint16_t>(max));
    }
    if (max && max < min)
        re_fail_at(gcb, gcb->re_parse, "Can't do {n,m} with n > m");

    // A repeated piece is never simple (it is not one character), has width
    // only when it may repeat at least once, and may start with nothing.
    *flags_out = max > 0 ? RE_HAS_WIDTH : RE_FLAGS_NONE;
    if (op == '*' || op == '?')
        *flags_out |= RE_REPEAT_START;

    // An unbounded repeat of something that may match empty can repeat
    // without moving; the pattern is likely a mistake. Warned once, in the
    // emit pass.
    if (!re_size_only(gcb) && !(flags & RE_HAS_WIDTH) && max > RE_INFTY / 3 && re_warn_enabled(gcb)) {
        int32_t n = static_cast<int32_t>(gcb->re_parse - piece_start);
        re_warn_fmt(gcb, gcb->re_parse, "%.*s matches null string many times", static_cast<int>(n),
                    piece_start);
    }

    // A "?" after the quantifier makes it minimal: MINMOD goes in front of
    // the repeat and links straight to it.
    if (gcb->re_parse < gcb->re_xend && *gcb->re_parse == '?') {
        re_next_token(gcb);
        re_insert_operand(gcb, RE_MINMOD, ret);
        re_link_tail(gcb, ret, ret + 1);
    }
    // A second quantifier (a** or a{2}{3}) has no atom of its own.
    if (is_quantifier_at(gcb, gcb->re_parse)) {
        gcb->re_parse++;
        re_fail_at(gcb, gcb->re_parse, "Nested quantifiers");
    }
    return ret;
}

// Opcode of a class escape: the plain form, +1 in a UTF-8 pattern, +2
// under locale (when the family has locale forms). The node list keeps
// each family's four forms in this order; the two must stay in step.
uint8_t class_op(PERLGCB* gcb, uint8_t base, bool has_locale)
{
    uint8_t op = base;
    if (gcb->re_regflags & RE_REGF_UTF8)
        op += 1;
    if (has_locale && (gcb->re_cflags & PMf_LOCALE))
        op += 2;
    return op;
}

}  // namespace

// ---- atoms --------------------------------------------------------------------------------

namespace {

// Loads the interpreter's cached class table of a UTF-8 pattern escape.
// The table is built now, at compile time, so that a match never has to
// compile the class's own patterns in the middle of a subject (which would
// need the whole match state saved). Testing one member builds it.
void load_utf8_class(PERLGCB* gcb, char which)
{
    if (!(gcb->re_regflags & RE_REGF_UTF8))
        return;
    static const uint8_t word[] = "a";
    static const uint8_t digit[] = "1";
    static const uint8_t blank[] = " ";
    if (which == 'w')
        (void)utf8_is_word(gcb, word);
    else if (which == 'd')
        (void)utf8_is_digit(gcb, digit);
    else
        (void)utf8_is_space(gcb, blank);
}

// A \x escape at p (p just after the "x"): the value and the position after
// it. In a byte pattern a code point above 0xFF is refused.
uint64_t hex_escape(PERLGCB* gcb, const char** pp, bool in_class)
{
    const char* p = *pp;
    uint64_t value;
    if (p < gcb->re_xend && *p == '{') {
        const char* e = p + 1;
        while (e < gcb->re_xend && *e != '}')
            e++;
        if (e >= gcb->re_xend)
            re_fail_at(gcb, p + 1, "Missing right brace on \\x{}");
        uint64_t consumed = 0;
        double v = e > p + 1 ? scan_hexadecimal(gcb, p + 1, static_cast<uint64_t>(e - p - 1), &consumed) : 0;
        // A code point is an unsigned integer of the interpreter: a bigger
        // number stops at 0xFFFFFFFF.
        value = nv_to_uv(gcb, v);
        if (value > 0xFF && !(gcb->re_regflags & RE_REGF_UTF8)) {
            char msg[120];
            std::snprintf(msg, sizeof msg, "Code point 0x%llX in \\x{} is too large for a byte pattern",
                          static_cast<unsigned long long>(value));
            re_fail_formatted(gcb, e + 1, "Code point 0x%lX in \\x{} is too large for a byte pattern", msg);
        }
        *pp = e + 1;
        // Inside and outside a class the escape reads the same; the caller
        // says which only for the record.
        (void)in_class;
        return value;
    }
    // The unbraced form takes at most two hex digits, and none is 0: "\xg"
    // is a NUL followed by "g".
    uint64_t avail = gcb->re_xend - p < 2 ? static_cast<uint64_t>(gcb->re_xend - p) : 2;
    uint64_t consumed = 0;
    value = avail ? static_cast<uint64_t>(scan_hexadecimal(gcb, p, avail, &consumed)) : 0;
    *pp = p + consumed;
    return value;
}

// \cX: the character's upper case with bit 6 flipped (\c? is DEL).
uint8_t control_char(PERLGCB* gcb, const char** pp)
{
    const char* p = *pp;
    uint8_t c = 0;
    if (p < gcb->re_xend)
        c = static_cast<uint8_t>(*p++);
    *pp = p;
    return static_cast<uint8_t>(g_host_vector->upper[c] ^ 64);
}

// A run of literal characters, starting one before the parse position (the
// caller has stepped over the first). The run becomes one EXACT-kind node
// whose text follows the head; it stops before a metacharacter or an
// escape that is an atom of its own, at 127 bytes, and before a character
// that a quantifier follows (so the quantifier takes that one character,
// as its own one-character node, and the run before it stays apart). In
// the size pass the text is measured, not written: s stays null.
re_program_node* parse_literal(PERLGCB* gcb, int32_t* flags_out)
{
    bool utf8 = gcb->re_regflags & RE_REGF_UTF8;
    uint8_t op = !(gcb->re_cflags & PMf_FOLD) ? RE_EXACT : (gcb->re_cflags & PMf_LOCALE) ? RE_EXACTFL : RE_EXACTF;
    re_program_node* ret = re_emit_node(gcb, op);
    char* s = re_size_only(gcb) ? nullptr : re_text(ret);
    const char* end = gcb->re_xend;
    const char* p = gcb->re_parse - 1;
    int32_t len = 0;
    char unibuf[16];
    for (; len < 127 && p < end;) {
        const char* oldp = p;
        bool braced = false;  // a \x{...}: it may take the run to 126 bytes only
        if (gcb->re_cflags & PMf_EXTENDED)
            p = re_skip_whitespace(gcb, p, end);
        if (p >= end)
            break;
        uint64_t ender;  // the character the step gives
        bool stop = false;
        switch (*p) {
        case '^': case '$': case '.': case '[': case '(': case ')': case '|':
            stop = true;
            break;
        case '\\':
            if (p + 1 >= end) {
                gcb->re_parse = end;
                re_fail_plain(gcb, "Trailing \\");
            }
            switch (*++p) {
            case 'A': case 'G': case 'Z': case 'z': case 'w': case 'W': case 'b': case 'B':
            case 's': case 'S': case 'd': case 'D': case 'p': case 'P':
            case 'C':  // any byte, an atom of its own
            case 'X':  // refused as an atom: a run never takes it as a letter
                --p;
                stop = true;
                break;
            case 'n': ender = '\n'; p++; break;
            case 'r': ender = '\r'; p++; break;
            case 't': ender = '\t'; p++; break;
            case 'f': ender = '\f'; p++; break;
            case 'e': ender = 27; p++; break;
            case 'a': ender = 7; p++; break;
            case 'x':
                p++;
                braced = p < end && *p == '{';
                ender = hex_escape(gcb, &p, false);
                break;
            case 'c':
                p++;
                ender = control_char(gcb, &p);
                break;
            case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
                // \0 and a number of two or more digits that is no group
                // (yet) are octal; any other number is a back-reference,
                // an atom of its own. re_npar counts the groups opened so
                // far, the same in both passes.
                if (*p == '0' ||
                    (p + 1 < end && is_ascii_digit(static_cast<uint8_t>(p[1])) && read_number(p, end) >= gcb->re_npar)) {
                    uint64_t avail = end - p < 3 ? static_cast<uint64_t>(end - p) : 3;
                    uint64_t consumed = 0;
                    ender = static_cast<uint64_t>(scan_octal(gcb, p, avail, &consumed));
                    p += consumed;
                } else {
                    --p;
                    stop = true;
                }
                break;
            default:
                if (!re_size_only(gcb) && host_is_alpha(static_cast<uint8_t>(*p)) && re_warn_enabled(gcb)) {
                    char msg[64];
                    std::snprintf(msg, sizeof msg, "Unrecognized escape \\%c passed through", *p);
                    re_warn_at(gcb, p + 1, msg);
                }
                goto normal_default;
            }
            break;
        default:
        normal_default:
            if (utf8 && (static_cast<uint8_t>(*p) & 0xC0) == 0xC0 && static_cast<uint8_t>(*p) <= 0xFD) {
                int64_t consumed = 0;
                ender = utf8_decode(gcb, reinterpret_cast<const uint8_t*>(p), static_cast<uint64_t>(end - p),
                                    &consumed, 0);
                p += consumed ? consumed : 1;
            } else
                ender = static_cast<uint8_t>(*p++);
            break;
        }
        if (stop)
            break;
        if (gcb->re_cflags & PMf_EXTENDED)
            p = re_skip_whitespace(gcb, p, end);
        // A folded UTF-8 literal is stored in lower case, as the matcher
        // folds the subject the same way.
        if (utf8 && (gcb->re_cflags & PMf_FOLD)) {
            if ((gcb->re_cflags & PMf_LOCALE) && ender < 256)
                ender = g_host_vector->lower[ender];
            else
                ender = uni_to_lower(gcb, static_cast<uint32_t>(ender));
        }
        bool wide = utf8 && ender >= 0x80;
        // Both passes encode the character: the size pass needs its width.
        int32_t width = wide ? re_emit_uni(gcb, static_cast<uint32_t>(ender), unibuf) : 1;
        if (braced && len + width > 126) {
            // A \x{...} that does not fit ends the run before it; any other
            // character is taken while the run holds at most 126 bytes.
            p = oldp;
            break;
        }
        // A quantified character ends the run before it; when it is the
        // first, it is the run, alone.
        bool quant = is_quantifier_at(gcb, p);
        if (quant && len) {
            p = oldp;
            break;
        }
        if (s) {
            if (wide)
                std::memcpy(s, unibuf, static_cast<size_t>(width));
            else
                *s = static_cast<char>(ender);
            s += width;
        }
        len += width;
        if (quant)
            break;
    }
    // re_next_token steps over one character and the ignorable text after
    // it: start it one before the stop.
    gcb->re_parse = p - 1;
    re_next_token(gcb);
    if (len > 0)
        *flags_out |= RE_HAS_WIDTH;
    if (len == 1)
        *flags_out |= RE_SIMPLE;
    // The text takes whole units after the head; the byte count goes in
    // the flags byte (at most 127 here, 255 after the optimiser merges).
    if (re_size_only(gcb))
        gcb->re_size += (len + 3) / 4;
    else {
        ret->flags = static_cast<uint8_t>(len);
        gcb->re_emit += (len + 3) / 4;
    }
    return ret;
}

}  // namespace

// One atom: an anchor, a dot, a class, a group, an escape or a literal run.
// flags_out tells the caller what the atom is: RE_HAS_WIDTH (it consumes a
// character when it matches), RE_SIMPLE (exactly one character, so the
// simple repeats apply), RE_REPEAT_START, and RE_TRY_AGAIN when the text
// held only a switch or a comment and nothing was emitted.
re_program_node* re_parse_atom(PERLGCB* gcb, int32_t* flags_out)
{
    re_program_node* ret = nullptr;
    int32_t flags = 0;
    *flags_out = RE_FLAGS_NONE;
    bool tried_again = false;
try_again:
    if (gcb->re_parse >= gcb->re_xend) {
        // Only reached after a group that held a switch or a comment.
        *flags_out |= RE_TRY_AGAIN;
        return nullptr;
    }
    // re_zerolen counts zero-width constructs: a pattern with any cannot be
    // decided by its check substring alone (see the optimiser's isall).
    switch (*gcb->re_parse) {
    case '^':
        gcb->re_zerolen++;
        re_next_token(gcb);
        if (gcb->re_cflags & PMf_MULTILINE)
            ret = re_emit_node(gcb, RE_MBOL);
        else if (gcb->re_cflags & PMf_SINGLELINE)
            ret = re_emit_node(gcb, RE_SBOL);
        else
            ret = re_emit_node(gcb, RE_BOL);
        break;
    case '$':
        // A final "$" is not counted: a tail-marked check substring
        // already tests it.
        re_next_token(gcb);
        if (gcb->re_parse < gcb->re_xend)
            gcb->re_zerolen++;
        if (gcb->re_cflags & PMf_MULTILINE)
            ret = re_emit_node(gcb, RE_MEOL);
        else if (gcb->re_cflags & PMf_SINGLELINE)
            ret = re_emit_node(gcb, RE_SEOL);
        else
            ret = re_emit_node(gcb, RE_EOL);
        break;
    case '.':
        re_next_token(gcb);
        if (gcb->re_regflags & RE_REGF_UTF8)
            ret = re_emit_node(gcb, (gcb->re_cflags & PMf_SINGLELINE) ? RE_SANYUTF8 : RE_ANYUTF8);
        else
            ret = re_emit_node(gcb, (gcb->re_cflags & PMf_SINGLELINE) ? RE_SANY : RE_REG_ANY);
        re_naughty_add(gcb, 1);
        *flags_out |= RE_HAS_WIDTH;
        // In a UTF-8 pattern the dot is ANYUTF8, a character of one or
        // more bytes, which the simple repeats do not take.
        if (!(gcb->re_regflags & RE_REGF_UTF8))
            *flags_out |= RE_SIMPLE;
        break;
    case '[': {
        const char* saved_parse = ++gcb->re_parse;
        ret = (gcb->re_regflags & RE_REGF_UTF8) ? re_parse_class_utf8(gcb) : re_parse_class(gcb);
        if (gcb->re_parse >= gcb->re_xend || *gcb->re_parse != ']')
            re_fail_at(gcb, saved_parse, "Unmatched [");
        re_next_token(gcb);
        *flags_out |= RE_HAS_WIDTH | RE_SIMPLE;
        break;
    }
    case '(':
        re_next_token(gcb);
        ret = re_parse_group(gcb, 1, &flags);
        if (!ret) {
            if (flags & RE_TRY_AGAIN) {
                tried_again = true;
                goto try_again;
            }
            return nullptr;
        }
        *flags_out |= flags & (RE_HAS_WIDTH | RE_REPEAT_START | RE_SIMPLE);
        break;
    case '|':
    case ')':
        // The piece parser stops before these; one is met here only after
        // a group that emitted nothing, which ends the piece.
        if (tried_again) {
            *flags_out |= RE_TRY_AGAIN;
            return nullptr;
        }
        re_fail_at(gcb, gcb->re_parse, "Internal urp");
    // A quantifier with nothing before it is an error; a brace that begins
    // no quantifier is a literal.
    case '{':
        if (!re_is_curly(gcb, gcb->re_parse)) {
            gcb->re_parse++;
            return parse_literal(gcb, flags_out);
        }
        [[fallthrough]];
    case '?':
    case '+':
    case '*':
        gcb->re_parse++;
        re_fail_at(gcb, gcb->re_parse, "Quantifier follows nothing");
    // Under /x a comment runs to the end of the line and the atom is what
    // follows it; elsewhere "#" is a literal.
    case '#':
        if (gcb->re_cflags & PMf_EXTENDED) {
            while (gcb->re_parse < gcb->re_xend && *gcb->re_parse != '\n')
                gcb->re_parse++;
            if (gcb->re_parse < gcb->re_xend)
                gcb->re_parse++;
            skip_ignorable(gcb);
            goto try_again;
        }
        gcb->re_parse++;
        return parse_literal(gcb, flags_out);
    case '\\': {
        if (gcb->re_parse + 1 >= gcb->re_xend) {
            gcb->re_parse = gcb->re_xend;
            re_fail_plain(gcb, "Trailing \\");
        }
        char c = *++gcb->re_parse;
        // The zero-width escapes are simple (one node, no operand), so a
        // quantifier on them gets the simple repeats; they have no width.
        switch (c) {
        case 'A':
            gcb->re_zerolen++;
            ret = re_emit_node(gcb, RE_SBOL);
            *flags_out |= RE_SIMPLE;
            re_next_token(gcb);
            break;
        case 'G':
            // Seen anywhere, \G keeps the finder from trusting isall; only
            // a leading \G anchors the pattern (the optimiser decides).
            ret = re_emit_node(gcb, RE_GPOS);
            gcb->re_seen |= RE_SEEN_GPOS;
            *flags_out |= RE_SIMPLE;
            re_next_token(gcb);
            break;
        case 'Z':
            // Counted even at the end of the pattern: under /m the check
            // substring's tail would be searched before any line end, and
            // \Z holds only before the last one.
            gcb->re_zerolen++;
            ret = re_emit_node(gcb, RE_SEOL);
            *flags_out |= RE_SIMPLE;
            re_next_token(gcb);
            break;
        case 'z':
            ret = re_emit_node(gcb, RE_EOS);
            *flags_out |= RE_SIMPLE;
            gcb->re_zerolen++;
            re_next_token(gcb);
            break;
        case 'C':
            ret = re_emit_node(gcb, RE_SANY);
            *flags_out |= RE_HAS_WIDTH | RE_SIMPLE;
            re_next_token(gcb);
            break;
        case 'X':
            re_fail_plain(gcb, "Use of \\X for wide characters is not supported");
        case 'w':
        case 'W':
            ret = re_emit_node(gcb, class_op(gcb, c == 'w' ? RE_ALNUM : RE_NALNUM, true));
            *flags_out |= RE_HAS_WIDTH | RE_SIMPLE;
            re_next_token(gcb);
            load_utf8_class(gcb, 'w');
            break;
        case 'b':
        case 'B':
            // A word boundary looks at the character before the position:
            // the matcher must keep the subject before the start in view.
            gcb->re_zerolen++;
            gcb->re_seen |= RE_SEEN_LOOKBEHIND;
            ret = re_emit_node(gcb, class_op(gcb, c == 'b' ? RE_BOUND : RE_NBOUND, true));
            *flags_out |= RE_SIMPLE;
            re_next_token(gcb);
            load_utf8_class(gcb, 'w');
            break;
        case 's':
        case 'S':
            ret = re_emit_node(gcb, class_op(gcb, c == 's' ? RE_SPACE : RE_NSPACE, true));
            *flags_out |= RE_HAS_WIDTH | RE_SIMPLE;
            re_next_token(gcb);
            load_utf8_class(gcb, 's');
            break;
        case 'd':
        case 'D':
            ret = re_emit_node(gcb, class_op(gcb, c == 'd' ? RE_DIGIT : RE_NDIGIT, false));
            *flags_out |= RE_HAS_WIDTH | RE_SIMPLE;
            re_next_token(gcb);
            load_utf8_class(gcb, 'd');
            break;
        case 'p':
        case 'P':
            if (gcb->re_parse + 1 < gcb->re_xend && gcb->re_parse[1] == '{')
                re_fail_plain(gcb, "Use of \\p{} or \\P{} for wide characters is not supported");
            re_fail_plain(gcb, "Use of \\p or \\P for wide characters is not supported");
        case 'n': case 'r': case 't': case 'f': case 'e': case 'a': case 'x': case 'c': case '0':
            return parse_literal(gcb, flags_out);
        case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': {
            // A back-reference, unless it is a number of two or more digits
            // above the groups opened so far (then an octal escape). A
            // reference to a group that does not exist is known only in the
            // emit pass, when the group count is.
            int64_t num = read_number(gcb->re_parse, gcb->re_xend);
            if (num > 9 && num >= gcb->re_npar)
                return parse_literal(gcb, flags_out);
            if (!re_size_only(gcb) && num > static_cast<int64_t>(gcb->re_rx->group_count)) {
                // The mark stands after the group number.
                const char* after = gcb->re_parse;
                while (after < gcb->re_xend && is_ascii_digit(static_cast<uint8_t>(*after)))
                    after++;
                re_fail_at(gcb, after, "Reference to nonexistent group");
            }
            gcb->re_sawback = 1;
            uint8_t op = !(gcb->re_cflags & PMf_FOLD) ? RE_REF
                       : (gcb->re_cflags & PMf_LOCALE) ? RE_REFFL : RE_REFF;
            ret = re_emit_arg_node(gcb, op, static_cast<uint32_t>(num));
            *flags_out |= RE_HAS_WIDTH;
            while (gcb->re_parse < gcb->re_xend && is_ascii_digit(static_cast<uint8_t>(*gcb->re_parse)))
                gcb->re_parse++;
            gcb->re_parse--;
            re_next_token(gcb);
            break;
        }
        default:
            return parse_literal(gcb, flags_out);
        }
        break;
    }
    default:
        gcb->re_parse++;
        return parse_literal(gcb, flags_out);
    }
    return ret;
}

// ---- groups ---------------------------------------------------------------------------------

namespace {

// (?(condition)yes|no), the parse position after the "(". The layout:
//   LOGICAL (flags 1) + the lookaround group, or GROUPP n
//   IFTHEN  -> yes-branch ... LONGJMP -> TAIL
//   IFTHEN  -> no-branch  ... -> TAIL          (only when "|" is present)
// The condition links to the first IFTHEN, the IFTHENs chain like the
// branches of an alternation, and every branch end reaches the TAIL.
re_program_node* parse_conditional(PERLGCB* gcb, int32_t* flags_out)
{
    re_program_node* ret;
    int32_t flags = 0;
    const char* p = gcb->re_parse;
    const char* end = gcb->re_xend;
    // Two kinds of condition: a lookaround (parsed as a group of its own,
    // behind a LOGICAL node whose flags byte 1 tells the matcher to take
    // the lookaround's answer as the condition), or a group number (GROUPP,
    // true when that group has matched).
    if (p < end && *p == '?' && p + 1 < end && (p[1] == '=' || p[1] == '!' || p[1] == '<' || p[1] == '{')) {
        ret = re_emit_node(gcb, RE_LOGICAL);
        if (!re_size_only(gcb))
            ret->flags = 1;
        int32_t cflag = 0;
        re_program_node* cond = re_parse_group(gcb, 1, &cflag);
        // "(?<)" is an empty flag switch, not a lookbehind: nothing to test.
        if (!cond) {
            int32_t n = static_cast<int32_t>(end - p < 2 ? end - p : 2);
            re_fail_fmt(gcb, p, "Unknown switch condition (?(%.*s", static_cast<int>(n), p);
        }
        re_link_tail(gcb, ret, cond);
    } else if (p < end && *p >= '1' && *p <= '9') {
        int64_t group_number = read_number(p, end);
        while (gcb->re_parse < end && is_ascii_digit(static_cast<uint8_t>(*gcb->re_parse)))
            gcb->re_parse++;
        ret = re_emit_arg_node(gcb, RE_GROUPP, static_cast<uint32_t>(group_number));
        skip_ignorable(gcb);
        if (gcb->re_parse >= end || *gcb->re_parse != ')') {
            if (gcb->re_parse < end)
                gcb->re_parse++;
            re_fail_at(gcb, gcb->re_parse, "Switch condition not recognized");
        }
        re_next_token(gcb);
    } else {
        int32_t n = static_cast<int32_t>(end - p < 2 ? end - p : 2);
        re_fail_fmt(gcb, p, "Unknown switch condition (?(%.*s", static_cast<int>(n), p);
    }
    // The yes-branch, closed by a LONGJMP whose operand is later pointed at
    // the TAIL: a successful yes-branch must skip the no-branch.
    re_program_node* ifthen = re_emit_arg_node(gcb, RE_IFTHEN, 0);
    re_link_tail(gcb, ret, ifthen);
    re_program_node* branch = re_parse_piece(gcb, &flags, 1);
    if (!branch)
        branch = re_emit_arg_node(gcb, RE_LONGJMP, 0);
    else
        re_link_tail(gcb, branch, re_emit_arg_node(gcb, RE_LONGJMP, 0));
    if (flags & RE_HAS_WIDTH)
        *flags_out |= RE_HAS_WIDTH;
    re_program_node* last_branch = nullptr;
    char c = gcb->re_parse < end ? *gcb->re_parse : 0;
    if (gcb->re_parse < end)
        re_next_token(gcb);
    if (c == '|') {
        last_branch = re_emit_arg_node(gcb, RE_IFTHEN, 0);  // kept for the optimiser
        re_parse_piece(gcb, &flags, 1);
        re_link_tail(gcb, ret, last_branch);
        if (flags & RE_HAS_WIDTH)
            *flags_out |= RE_HAS_WIDTH;
        c = gcb->re_parse < end ? *gcb->re_parse : 0;
        if (gcb->re_parse < end)
            re_next_token(gcb);
    }
    if (c != ')')
        re_fail_at(gcb, gcb->re_parse, "Switch (?(condition)... contains too many branches");
    re_program_node* ender = re_emit_node(gcb, RE_TAIL);
    re_link_tail(gcb, branch, ender);
    // With a no-branch, its IFTHEN and its body both reach the TAIL (the
    // body is the IFTHEN's operand, two units after its head). Without one,
    // a false condition goes straight to the TAIL.
    if (last_branch) {
        re_link_tail(gcb, last_branch, ender);
        if (!re_size_only(gcb))
            re_link_tail(gcb, last_branch + 2, ender);
    } else
        re_link_tail(gcb, ret, ender);
    return ret;
}

}  // namespace

// A group, its alternatives and its closing node; paren 0 is the whole
// pattern (closed by END), 1 a capturing or switch group whose "(" was
// stepped over. After a "(?" paren becomes the kind letter: ':' and '>'
// for the non-capturing and independent groups, '=' '!' for lookahead,
// '<' and ',' for lookbehind and its negation. Returns the group's first
// node, with the chain of its last node still open for the caller to link.
re_program_node* re_parse_group(PERLGCB* gcb, int32_t paren, int32_t* flags_out)
{
    re_program_node* ret = nullptr;
    re_program_node* branch;
    re_program_node* last_branch;
    re_program_node* ender = nullptr;
    int32_t group_number = 0;
    int32_t flags = 0;
    uint32_t saved_cflags = gcb->re_cflags;
    bool open = false;
    bool have_branch = false;
    *flags_out = 0;

    // The outermost call parses the pattern itself, not a group: it is not
    // counted against the limit. The limit bounds the parser's recursion
    // (and the optimiser's and matcher's after it) on the C++ stack.
    if (++gcb->re_nesting > RE_NESTING_LIMIT + 1) {
        re_fail_fmt(gcb, gcb->re_parse, "Groups nested more than %d deep", static_cast<int>(RE_NESTING_LIMIT));
    }
    stack_check(gcb);  // a small native stack may end before the limit

    if (paren) {
        const char* end = gcb->re_xend;
        if (gcb->re_parse < end && *gcb->re_parse == '?') {
            const char* switch_start = gcb->re_parse;
            uint16_t flags_on = 0, flags_off = 0;
            uint16_t* flagsp = &flags_on;
            gcb->re_parse++;
            if (gcb->re_parse >= end)
                re_fail_at(gcb, gcb->re_parse, "Sequence (? incomplete");
            paren = static_cast<uint8_t>(*gcb->re_parse++);
            switch (paren) {
            case '<':
                // ',' stands for the negative lookbehind "(?<!": one letter
                // per kind keeps the closing switch below simple.
                if (gcb->re_parse < end && *gcb->re_parse == '!')
                    paren = ',';
                else if (gcb->re_parse >= end || *gcb->re_parse != '=')
                    goto unknown;
                gcb->re_parse++;
                gcb->re_seen |= RE_SEEN_LOOKBEHIND;
                gcb->re_zerolen++;
                break;
            case '=':
            case '!':
                gcb->re_zerolen++;
                break;
            case ':':
            case '>':
                break;
            // Code constructs and interpolation forms are refused in the
            // size pass, before anything is allocated.
            case '$':
            case '@': {
                re_fail_fmt(gcb, gcb->re_parse, "Sequence (?%c...) not implemented", static_cast<char>(paren));
            }
            case '#':
                while (gcb->re_parse < end && *gcb->re_parse != ')')
                    gcb->re_parse++;
                if (gcb->re_parse >= end)
                    re_fail_plain(gcb, "Sequence (?#... not terminated");
                re_next_token(gcb);
                *flags_out = RE_TRY_AGAIN;
                gcb->re_nesting--;
                return nullptr;
            case 'p':
                re_fail_plain(gcb, "Use of (?p{}) to execute Perl code is not supported");
            case '?':
                re_fail_plain(gcb, "Use of (??{}) to execute Perl code is not supported");
            case '{':
                re_fail_plain(gcb, "Use of (?{}) to execute Perl code is not supported");
            case '(':
                ret = parse_conditional(gcb, flags_out);
                gcb->re_cflags = saved_cflags;  // switches inside a conditional end with it
                gcb->re_nesting--;
                return ret;
            default:
                // Flag switches: (?imsx-imsx) for the rest of the enclosing
                // group, or (?imsx-imsx:...) for this group alone. The old
                // flags come back when the enclosing group ends.
                --gcb->re_parse;
            parse_flags:
                while (gcb->re_parse < end && std::strchr("iogcmsx", *gcb->re_parse) && *gcb->re_parse) {
                    if (*gcb->re_parse != 'o')
                        pattern_flag_add(gcb, flagsp, *gcb->re_parse);
                    ++gcb->re_parse;
                }
                if (gcb->re_parse < end && *gcb->re_parse == '-' && flagsp == &flags_on) {
                    flagsp = &flags_off;
                    ++gcb->re_parse;
                    goto parse_flags;
                }
                if (gcb->re_parse < end && (*gcb->re_parse == ':' || *gcb->re_parse == ')')) {
                    gcb->re_cflags = static_cast<uint16_t>((gcb->re_cflags | flags_on) & ~static_cast<uint32_t>(flags_off));
                    if (*gcb->re_parse == ':') {
                        gcb->re_parse++;
                        paren = ':';
                        break;
                    }
                }
            unknown:
                if (gcb->re_parse >= end || *gcb->re_parse != ')') {
                    if (gcb->re_parse < end)
                        gcb->re_parse++;
                    int32_t n = static_cast<int32_t>(gcb->re_parse - switch_start);
                    re_fail_fmt(gcb, gcb->re_parse, "Sequence (%.*s...) not recognized", static_cast<int>(n),
                                switch_start);
                }
                re_next_token(gcb);
                *flags_out = RE_TRY_AGAIN;
                gcb->re_nesting--;
                return nullptr;
            }
        } else {
            // A capturing group: numbered by its "(" in text order, the
            // same in both passes since re_npar restarts at 1.
            group_number = gcb->re_npar;
            gcb->re_npar++;
            ret = re_emit_arg_node(gcb, RE_OPEN, static_cast<uint32_t>(group_number));
            open = true;
        }
    }

    // The branches, linked together. The first alternative is parsed before
    // it is known to be one: a following "|" inserts its BRANCH in front of
    // it (the size pass counts the long-jump unit), the later ones open
    // with their own. In a long-jump program every alternative but the
    // last ends with a LONGJMP, which gets the alternation's end below.
    branch = re_parse_piece(gcb, &flags, 1);
    if (!branch) {
        gcb->re_nesting--;
        return nullptr;
    }
    // re_extralen counts, in the size pass, the units that long jumps
    // would add; the emit pass uses BRANCHJ and LONGJMP (32-bit offsets)
    // exactly when the size pass saw that the program needs them.
    if (gcb->re_parse < gcb->re_xend && *gcb->re_parse == '|') {
        if (!re_size_only(gcb) && gcb->re_extralen)
            re_insert_operand(gcb, RE_BRANCHJ, branch);
        else
            re_insert_operand(gcb, RE_BRANCH, branch);
        have_branch = true;
        if (re_size_only(gcb))
            gcb->re_extralen += 1;
    } else if (paren == ':')
        *flags_out |= flags & RE_SIMPLE;
    // A capturing group begins with its OPEN, which leads to the first
    // alternative; any other group begins with the alternative itself.
    if (open)
        re_link_tail(gcb, ret, branch);
    else
        ret = branch;
    *flags_out |= flags & (RE_HAS_WIDTH | RE_REPEAT_START);
    last_branch = branch;
    // Each further alternative: close the one before with a LONGJMP in a
    // long-jump program (its operand gets the group's end below), then
    // chain the new BRANCH onto the previous one.
    while (gcb->re_parse < gcb->re_xend && *gcb->re_parse == '|') {
        if (!re_size_only(gcb) && gcb->re_extralen) {
            ender = re_emit_arg_node(gcb, RE_LONGJMP, 0);
            re_link_tail(gcb, last_branch + 2, ender);
        }
        if (re_size_only(gcb))
            gcb->re_extralen += 2;
        re_next_token(gcb);
        branch = re_parse_piece(gcb, &flags, 0);
        if (!branch) {
            gcb->re_nesting--;
            return nullptr;
        }
        re_link_tail(gcb, last_branch, branch);
        *flags_out |= flags & (RE_HAS_WIDTH | RE_REPEAT_START);
        last_branch = branch;
    }

    // The closing node, hooked onto the end of the last alternative; then the
    // operand chain of every alternative is linked to it, since each must
    // go on after the group when it has matched.
    switch (paren) {
    case ':':
        ender = have_branch ? re_emit_node(gcb, RE_TAIL) : nullptr;
        break;
    case 1:
        ender = re_emit_arg_node(gcb, RE_CLOSE, static_cast<uint32_t>(group_number));
        break;
    case '<':
    case ',':
    case '=':
    case '!':
        *flags_out &= ~RE_HAS_WIDTH;
        ender = re_emit_node(gcb, RE_SUCCEED);
        break;
    case '>':
        ender = re_emit_node(gcb, RE_SUCCEED);
        break;
    case 0:
        ender = re_emit_node(gcb, RE_END);
        break;
    default:
        break;
    }
    if (ender) {
        re_link_tail(gcb, last_branch, ender);
        if (have_branch && !re_size_only(gcb)) {
            for (branch = ret; branch; branch = re_next_node(gcb, branch))
                re_link_branch_tail(gcb, branch, ender);
        }
    }

    // A lookaround or independent group runs its body as a sub-match ending
    // in SUCCEED: the head (IFMATCH, UNLESSM or SUSPEND) is inserted in front
    // and links past the body to a TAIL. A lookbehind's flags byte says 1
    // here; the optimiser replaces it with the body's length.
    if (paren == '=' || paren == '!' || paren == '<' || paren == ',' || paren == '>') {
        uint8_t node = (paren == '!' || paren == ',') ? RE_UNLESSM : paren == '>' ? RE_SUSPEND : RE_IFMATCH;
        re_insert_operand(gcb, node, ret);
        if (!re_size_only(gcb))
            ret->flags = (paren == '<' || paren == ',') ? 1 : 0;
        re_link_tail(gcb, ret, re_emit_node(gcb, RE_TAIL));
    }

    // A group must end at its ")", and its flag switches end with it; the
    // whole pattern must end at the end of the text.
    if (paren) {
        gcb->re_cflags = saved_cflags;
        if (gcb->re_parse >= gcb->re_xend || *gcb->re_parse != ')')
            re_fail_plain(gcb, "Unmatched (");
        re_next_token(gcb);
    } else if (gcb->re_parse < gcb->re_xend) {
        if (*gcb->re_parse == ')') {
            gcb->re_parse++;
            re_fail_at(gcb, gcb->re_parse, "Unmatched )");
        }
        re_fail_plain(gcb, "Junk on end of regexp");
    }
    gcb->re_nesting--;
    return ret;
}

// ---- the driver -----------------------------------------------------------------------------------

namespace {
re_compiled* emit_and_study(PERLGCB* gcb, re_compiled* rx, const char* exp, const char* xend, op_pattern* pm,
                            bool debug);
}  // namespace

// The compile runs the one recursive-descent parser twice over the same
// text. The size pass has re_emit pointing at the placeholder
// (re_size_only): every emitter then only adds the units it would write to
// re_size, and nothing is linked or stored. The emit pass runs the same
// parse into a record of exactly that size. The two passes must take the
// same decisions at every step, so a parser routine may decide only from
// the pattern text, the flags and state that both passes reset alike (group
// counter, nesting, complexity); what only the emit pass knows (group
// count for back-references, long-jump units) may change node contents,
// never the number of units. Long jumps are the one exception the driver
// accounts for: the size pass counts their units in re_extralen, and they
// are added only when the program would not fit 16-bit distances.
re_compiled* re_compile_pattern(PERLGCB* gcb, const char* exp, const char* xend, op_pattern* pm)
{
    // A new compile: no half-built pattern of an earlier one is ours.
    gcb->re_emit = gcb->re_placeholder;
    gcb->re_rx = nullptr;
    // The parser's and the optimiser's descent is bounded by the native
    // stack of the thread the compile runs on.
    gcb->stack_floor = prx_stack_floor();
    if (!exp) {
        gcb->re_precomp = nullptr;
        gcb->re_xend = nullptr;
        re_fail_plain(gcb, "NULL regexp argument");
    }
    // The regex flags word is shared with the matcher: a UTF-8 pattern sets
    // its bit, a byte pattern clears the whole word.
    if (pm->op_pmdynflags & 0x04)
        gcb->re_regflags |= RE_REGF_UTF8;
    else
        gcb->re_regflags = 0;
    gcb->re_precomp = exp;
    bool debug = re_debug_on(gcb);
    if (debug) {
        if (!gcb->re_colours_set)
            re_init_colors(gcb);
        prx_fprintf(PRX_STDERR, "%sCompiling REx%s `%s%.*s%s'\n", gcb->re_colours[4], gcb->re_colours[5],
                    gcb->re_colours[0], static_cast<int>(xend - exp), exp, gcb->re_colours[1]);
    }

    // Size pass: count the units. Every field that a parser decision reads
    // is reset here and again before the emit pass, so both passes decide
    // alike; the few set only here (back-reference seen, seen bits, the
    // loop count, the long-jump units) are read afterwards as the size pass
    // left them; the emit pass only sets the same marks again.
    gcb->re_cflags = pm->op_pmflags;
    gcb->re_sawback = 0;
    gcb->re_seen = 0;
    gcb->re_seen_evals = 0;
    gcb->re_extralen = 0;
    gcb->re_naughty = 0;
    gcb->re_size = 0;
    gcb->re_whilem_seen = 0;
    gcb->re_zerolen = (exp < xend && *exp == '^') ? -1 : 0;
    gcb->re_parse = exp;
    gcb->re_xend = xend;
    gcb->re_npar = 1;
    gcb->re_nesting = 0;
    gcb->re_emit = gcb->re_placeholder;
    int32_t flags = 0;
    if (!re_parse_group(gcb, 0, &flags)) {
        gcb->re_precomp = nullptr;
        return nullptr;
    }
    if (debug)
        prx_fprintf(PRX_STDERR, "size %ld ", gcb->re_size);

    // Long jumps: only a program too big for 16-bit distances needs them.
    if (gcb->re_size >= 65536 && gcb->re_extralen)
        gcb->re_size += gcb->re_extralen;
    else
        gcb->re_extralen = 0;
    if (gcb->re_whilem_seen > 15)
        gcb->re_whilem_seen = 15;

    // The record holds the program: the size counted plus the magic unit.
    uint64_t bytes = offsetof(re_compiled, program) + static_cast<uint64_t>(gcb->re_size + 1) * sizeof(uint32_t);
    re_compiled* rx = static_cast<re_compiled*>(pool_malloc(gcb, bytes));
    if (!rx)
        re_fail_plain(gcb, "Regexp out of space");
    std::memset(rx, 0, bytes);
    rx->ref_count = 1;
    rx->pattern_length = static_cast<int32_t>(xend - exp);
    rx->pattern_text = nullptr;  // copied under the protection below
    rx->subject_copy = nullptr;
    rx->analysis_flags = pm->op_pmflags & REA_PM_MASK;
    rx->group_count = static_cast<uint32_t>(gcb->re_npar - 1);
    rx->substrings = nullptr;
    rx->start_offsets = nullptr;
    rx->end_offsets = nullptr;
    gcb->re_rx = rx;

    // From here on every error leaves a half-built pattern, whoever raises
    // it: the parser, the optimiser, a regexp warning made fatal, a class
    // table that cannot be built, an allocation that fails. No allocation
    // comes between the record's and the protection. The pattern is freed
    // here, which allocates nothing (a hand-over to the save stack could
    // itself fail when the pool is exhausted), and the jump goes on.
    re_compiled* done = nullptr;
    JumpEnv env;
    int32_t code = jump_run(gcb, &env, true, [&] {
        rx->pattern_text = pool_strndup(gcb, exp, rx->pattern_length);
        done = emit_and_study(gcb, rx, exp, xend, pm, debug);
    });
    if (code) {
        re_free_on_unwind(gcb, rx);
        if (!env.prev)
            bridge_fatal_jump();
        jump_to(gcb, env.prev, code);
    }
    return done;
}

namespace {

// The emit pass and the optimiser over the record the size pass sized;
// returns the finished pattern, or null (freed) when the parse gave up.
// Runs under the driver's protection: any error here frees the record.
re_compiled* emit_and_study(PERLGCB* gcb, re_compiled* rx, const char* exp, const char* xend, op_pattern* pm,
                            bool debug)
{
    int32_t flags = 0;

    // Emit pass: the same parse from the same state, writing into the
    // record. The magic unit opens the program; its next field carries the
    // code-block count (always 0 here).
    gcb->re_parse = exp;
    gcb->re_xend = xend;
    gcb->re_cflags = pm->op_pmflags;
    gcb->re_naughty = 0;
    gcb->re_npar = 1;
    gcb->re_nesting = 0;
    gcb->re_emit = rx->program;
    re_program_node* magic = reinterpret_cast<re_program_node*>(rx->program);
    magic->flags = RE_MAGIC;
    magic->type = 0;
    magic->next = static_cast<uint16_t>(gcb->re_seen_evals > 65535 ? 65535 : gcb->re_seen_evals);
    gcb->re_emit += 1;
    rx->data = nullptr;
    // A parse that gives up without raising returns null: the record is
    // freed and the compile answers no pattern.
    if (!re_parse_group(gcb, 0, &flags)) {
        gcb->re_emit = gcb->re_placeholder;
        gcb->re_rx = nullptr;
        pregfree(gcb, rx);
        return nullptr;
    }

    // Switches at the top level stay in force to the end of the pattern:
    // the op takes them as its own flags, and so does the pattern, whose
    // caller sets the multi-line mode from them as the op's would (the
    // optimiser marks the check substring's tail by them).
    pm->op_pmflags = static_cast<uint16_t>(gcb->re_cflags);
    rx->analysis_flags = pm->op_pmflags & REA_PM_MASK;
    if (gcb->re_regflags & RE_REGF_UTF8)
        rx->analysis_flags |= REA_UTF8;
    // The naughty threshold: see parse_quantified for what the score means.
    if (gcb->re_naughty >= 10)
        rx->analysis_flags |= REA_NAUGHTY;
    rx->start_class = nullptr;

    // Three substring slots: the anchored and floating literals the
    // optimiser finds, and the check substring chosen among them.
    rx->substrings = static_cast<re_substr_info*>(pool_malloc(gcb, 3 * sizeof(re_substr_info)));
    std::memset(rx->substrings, 0, 3 * sizeof(re_substr_info));
    re_optimize(gcb, rx);

    if (gcb->re_seen & RE_SEEN_GPOS)
        rx->analysis_flags |= REA_GPOS_SEEN;
    if (gcb->re_seen & RE_SEEN_LOOKBEHIND)
        rx->analysis_flags |= REA_LOOKBEHIND_SEEN;
    if (gcb->re_seen & RE_SEEN_EVAL)
        rx->analysis_flags |= REA_EVAL_SEEN;
    // One start and end offset per group and one for the whole match.
    uint64_t offsets = static_cast<uint64_t>(gcb->re_npar) * sizeof(int32_t);
    rx->start_offsets = static_cast<int32_t*>(pool_malloc(gcb, offsets));
    rx->end_offsets = static_cast<int32_t*>(pool_malloc(gcb, offsets));
    std::memset(rx->start_offsets, 0, offsets);
    std::memset(rx->end_offsets, 0, offsets);
    gcb->re_data_in_use = rx->data;
    if (debug)
        re_dump_program(gcb, rx);
    // The pattern is the caller's now: no later error may free it.
    gcb->re_emit = gcb->re_placeholder;
    gcb->re_rx = nullptr;
    return rx;
}

}  // namespace

bool re_warn_enabled(PERLGCB* gcb) { return warn_enabled(gcb, RE_WARN_REGEXP); }

namespace {

// Typed fronts of the save stack's generic entries: the field's type is
// checked here, so a field whose width changes stops compiling instead of
// being saved in part.
template <class T>
void save_ptr(PERLGCB* gcb, T** field)
{
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(const_cast<std::remove_const_t<T>**>(field)));
}
template <class T>
void save_i32(PERLGCB* gcb, T* field)
{
    static_assert(sizeof(T) == 4);
    save_push_i32(gcb, reinterpret_cast<int32_t*>(field));
}

}  // namespace

// Saves the whole compile and match state on the save stack, before a
// pattern is compiled or matched from inside a match (a class table built
// during a match compiles patterns of its own). The list must hold every
// re_ field of the interpreter that the compiler or the matcher writes;
// the enclosing scope's exit restores them all.
void re_save_match_state(PERLGCB* gcb)
{
    // Compile state.
    save_ptr(gcb, &gcb->re_parse);
    save_ptr(gcb, &gcb->re_xend);
    save_ptr(gcb, &gcb->re_precomp);
    save_ptr(gcb, &gcb->re_emit);
    save_i32(gcb, &gcb->re_size);
    save_i32(gcb, &gcb->re_cflags);
    save_i32(gcb, &gcb->re_naughty);
    save_i32(gcb, &gcb->re_npar);
    save_i32(gcb, &gcb->re_sawback);
    save_i32(gcb, &gcb->re_seen);
    save_i32(gcb, &gcb->re_zerolen);
    save_i32(gcb, &gcb->re_seen_evals);
    save_i32(gcb, &gcb->re_extralen);
    save_i32(gcb, &gcb->re_whilem_seen);
    save_i32(gcb, &gcb->re_nesting);
    save_ptr(gcb, &gcb->re_rx);
    save_i32(gcb, &gcb->re_regflags);
    save_ptr(gcb, &gcb->re_data_in_use);
    // Match state.
    save_ptr(gcb, &gcb->re_pattern_text);
    save_i32(gcb, &gcb->re_group_count);
    save_i32(gcb, &gcb->re_open_high);
    save_ptr(gcb, &gcb->re_input);
    save_ptr(gcb, &gcb->re_search_start);
    save_ptr(gcb, &gcb->re_subject_end);
    save_ptr(gcb, &gcb->re_starts);
    save_ptr(gcb, &gcb->re_ends);
    save_ptr(gcb, &gcb->re_last_group);
    save_ptr(gcb, &gcb->re_till);
    save_push_i8(gcb, reinterpret_cast<int8_t*>(&gcb->re_prev_char));
    save_ptr(gcb, &gcb->re_data);
    save_ptr(gcb, &gcb->re_subject_begin);
    save_i32(gcb, &gcb->re_match_flags);
    save_i32(gcb, &gcb->re_eval_set);
    save_i32(gcb, &gcb->re_narrate);
    save_ptr(gcb, &gcb->re_program);
    save_i32(gcb, &gcb->re_indent);
    save_ptr(gcb, &gcb->re_current_repeat);
    save_ptr(gcb, &gcb->re_call_frame);
    save_ptr(gcb, &gcb->re_pattern);
    save_ptr(gcb, &gcb->re_g_anchor);
    save_ptr(gcb, &gcb->re_subject);
    save_ptr(gcb, &gcb->re_pos_magic);
    save_i32(gcb, &gcb->re_saved_pos);
    save_ptr(gcb, &gcb->re_saved_current_op);
    save_ptr(gcb, &gcb->re_saved_copy);
    save_i32(gcb, &gcb->re_max_iterations);
    save_i32(gcb, &gcb->re_iterations_left);
    save_ptr(gcb, &gcb->current_statement);
    if (re_debug_on(gcb))
        save_ptr(gcb, &gcb->re_attempt_start);
}

// ---- freeing ------------------------------------------------------------------------------

// Drops one reference on a compiled pattern; the last frees it with what it
// owns: its texts, the substrings, the data array and the offset arrays.
void pregfree(PERLGCB* gcb, re_compiled* rx)
{
    if (re_debug_on(gcb) && !gcb->re_colours_set)
        re_init_colors(gcb);
    if (!rx || --rx->ref_count > 0)
        return;
    if (re_debug_on(gcb) && rx->pattern_text)
        prx_fprintf(PRX_STDERR, "%sFreeing REx:%s `%s%.60s%s%s'\n", re_colour(gcb, 4), re_colour(gcb, 5), re_colour(gcb, 0),
                    rx->pattern_text, re_colour(gcb, 1), rx->pattern_length > 60 ? "..." : "");
    pool_free(gcb, rx->pattern_text);
    pool_free(gcb, rx->accel);
    if (rx->analysis_flags & REA_COPY_DONE)
        pool_free(gcb, rx->subject_copy);
    if (rx->substrings) {
        if (rx->substrings[RE_SUBSTR_ANCHORED].substr)
            sv_release(gcb, rx->substrings[RE_SUBSTR_ANCHORED].substr);
        if (rx->substrings[RE_SUBSTR_FLOATING].substr)
            sv_release(gcb, rx->substrings[RE_SUBSTR_FLOATING].substr);
        pool_free(gcb, rx->substrings);
    }
    if (re_data_array* d = rx->data) {
        SV* pad = nullptr;
        // Code blocks are refused, so no 'p' or 'o' entries are ever made.
        for (uint32_t i = d->count; i-- > 0;) {
            switch (d->what[i]) {
            case 's':
                sv_release(gcb, static_cast<SV*>(d->data[i]));
                break;
            case 'f':
                pool_free(gcb, d->data[i]);
                break;
            case 'n':
                break;
            case 'p':
                pad = static_cast<SV*>(d->data[i]);
                break;
            case 'o':
                // An op tree is freed with its pad; this engine makes neither.
                if (!pad)
                    re_fail_plain(gcb, "panic: pregfree comppad");
                op_free_tree(gcb, static_cast<OP*>(d->data[i]));
                sv_release(gcb, pad);
                pad = nullptr;
                break;
            default: {
                char msg[64];
                std::snprintf(msg, sizeof msg, "panic: regfree data code '%c'", d->what[i]);
                re_fail_plain(gcb, msg);
            }
            }
        }
        if (gcb->re_data_in_use == d)
            gcb->re_data_in_use = nullptr;
        pool_free(gcb, d->what);
        pool_free(gcb, d);
    }
    pool_free(gcb, rx->start_offsets);
    pool_free(gcb, rx->end_offsets);
    pool_free(gcb, rx);
}

// Frees a pattern that a failed compile left half-built.
void re_free_on_unwind(PERLGCB* gcb, void* rx)
{
    // The compile is over: no later error may register the pattern again.
    if (gcb->re_rx == rx) {
        gcb->re_rx = nullptr;
        gcb->re_emit = gcb->re_placeholder;
    }
    gcb->re_hook_free(gcb, static_cast<re_compiled*>(rx));
}
