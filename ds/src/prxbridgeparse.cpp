// The pattern text parser of the bridge: checks a PRXMATCH pattern text,
// refuses code and interpolation, has the interpreter evaluate the
// equivalent qr expression, and parses an s/// replacement into a tree.
#include <cstring>

#include "prxbridge.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// Refusal statuses.
enum : uint32_t {
    ST_EMPTY_PATTERN = 0x80171001u,
    ST_BAD_DELIMITER = 0x8017112Cu,
    ST_NOT_CLOSED = 0x8017112Du,
    ST_BAD_FLAG = 0x8017112Eu,
    ST_UNKNOWN_LAST = 0x8017112Fu,
    ST_REPL_NOT_CLOSED = 0x80171131u,
    ST_DOLLAR = 0x80171133u,
    ST_AT = 0x80171134u,
    ST_REPL_DOLLAR = 0x80171135u,
    ST_REPL_AT = 0x80171136u,
    ST_REPL_BRACE = 0x80171137u,
    ST_CODE = 0x80171138u,
    ST_BACKSLASH_N = 0x80171139u,
    ST_UNKNOWN_MORE = 0x8017113Au,
};

constexpr uint32_t NODE_SIZE = sizeof(ReplaceNode);
constexpr uint32_t NODE_FLAGS = 0x2002;
constexpr uint32_t TEXT_FLAGS = 0x2000;
constexpr uint32_t STACK_FLAGS = 0x2004;
constexpr int32_t CASE_STACK_SIZE = 16;
constexpr int32_t STACK_REPLACEMENT = 256;

// ---- replacement tokens and nodes ------------------------------------------------

ReplaceNode* node_new(host_pool* pool, uint32_t kind)
{
    ReplaceNode* n = static_cast<ReplaceNode*>(host_pool_alloc(pool, NODE_SIZE, NODE_FLAGS));
    if (n)
        n->kind = kind;
    return n;
}

// Frees a replacement tree: a case node owns its child, a literal its text
// (a negative length marks a buffer freed with POOL_FREE), a list its
// elements. The parser frees with the pool alone; the bridge's
// rexhost_free_tree comes here as well.
void tree_free(host_pool* pool, ReplaceNode* node)
{
    if (!node)
        return;
    switch (node->kind) {
    case RN_UPPER_FIRST:
    case RN_LOWER_FIRST:
    case RN_UPPER:
    case RN_LOWER:
    case RN_QUOTE:
        tree_free(pool, node->child);
        break;
    case RN_LITERAL:
        if (node->text)
            host_pool_free(pool, node->text, static_cast<uint64_t>(static_cast<uint32_t>(node->number)),
                           node->number < 0 ? uint32_t{POOL_FREE} : 0u);
        break;
    case RN_LIST:
        for (ReplaceNode* e = node->child; e;) {
            ReplaceNode* next = e->next;
            tree_free(pool, e);
            e = next;
        }
        break;
    default:
        break;
    }
    host_pool_free(pool, node, NODE_SIZE, 0);
}

void append(ReplaceNode* list, ReplaceNode* node)
{
    ReplaceNode** tail = &list->child;
    while (*tail)
        tail = &(*tail)->next;
    *tail = node;
    list->number++;
}

// A literal node holding a copy of the token; with escapes, every backslash
// that has a character after it is dropped.
ReplaceNode* literal_node(ReplaceLexer* lx, int32_t* error)
{
    int32_t len = static_cast<int32_t>(lx->tok_end - lx->tok_start);
    ReplaceNode* n = node_new(lx->pool, RN_LITERAL);
    char* text = n ? static_cast<char*>(host_pool_alloc(lx->pool, static_cast<uint64_t>(len), TEXT_FLAGS)) : nullptr;
    if (!text) {
        if (n)
            host_pool_free(lx->pool, n, NODE_SIZE, 0);
        *error = RR_NO_MEMORY;
        return nullptr;
    }
    int32_t w = 0;
    const char* s = lx->tok_start;
    for (int32_t i = 0; i < len; i++) {
        if (lx->value && s[i] == '\\' && i + 1 < len)
            i++;
        text[w++] = s[i];
    }
    if (w != len) {
        char* shrunk = static_cast<char*>(xkPoolRealloc(lx->pool, text, POOL_UNKNOWN_SIZE, static_cast<uint32_t>(w), 0));
        if (!shrunk) {
            host_pool_free(lx->pool, text, static_cast<uint64_t>(len), 0);
            host_pool_free(lx->pool, n, NODE_SIZE, 0);
            *error = RR_NO_MEMORY;
            return nullptr;
        }
        text = shrunk;
    }
    n->text = text;
    n->number = w;
    return n;
}

// The list of one nesting level: to the end of the text, or to the \E that
// closes the level. At the outermost level a \E that closes nothing is
// skipped rather than ending the replacement.
ReplaceNode* parse_level(host_pool* pool, ReplaceLexer* lx, int32_t* error, bool outermost)
{
    ReplaceNode* list = node_new(pool, RN_LIST);
    if (!list) {
        *error = RR_NO_MEMORY;
        return nullptr;
    }
    while (!*error) {
        rexhost_next_token(lx);
        if (lx->kind == RT_ERROR) {
            *error = lx->value;
            break;
        }
        if (lx->kind == RT_END)
            break;
        if (lx->kind == RT_CASE_END) {
            if (outermost)
                continue;
            break;
        }
        ReplaceNode* n = nullptr;
        switch (lx->kind) {
        case RN_LITERAL:
            n = literal_node(lx, error);
            break;
        case RN_GROUP:
        case RN_BACKREF:
            n = node_new(pool, static_cast<uint32_t>(lx->kind));
            if (n)
                n->number = lx->value;
            else
                *error = RR_NO_MEMORY;
            break;
        default: {
            n = node_new(pool, static_cast<uint32_t>(lx->kind));
            if (!n) {
                *error = RR_NO_MEMORY;
                break;
            }
            n->child = parse_level(pool, lx, error, false);
            if (!n->child) {
                host_pool_free(pool, n, NODE_SIZE, 0);
                n = nullptr;
            }
            break;
        }
        }
        if (n)
            append(list, n);
    }
    if (*error) {
        tree_free(pool, list);
        return nullptr;
    }
    if (list->number == 1) {
        ReplaceNode* only = list->child;
        only->next = nullptr;
        host_pool_free(pool, list, NODE_SIZE, 0);
        return only;
    }
    if (list->number == 0) {
        host_pool_free(pool, list, NODE_SIZE, 0);
        return nullptr;
    }
    return list;
}

}  // namespace

void rexhost_next_token(ReplaceLexer* lx)
{
    char* p = lx->tok_end;
    char* end = lx->text_end;
    lx->tok_start = p;
    lx->value = 0;
    if (p >= end) {
        lx->kind = RT_END;
        return;
    }
    if (*p == '\\' && end - p >= 2) {
        if (end - p >= 4 && p[2] == '\\' &&
            ((p[1] == 'L' && p[3] == 'u') || (p[1] == 'U' && p[3] == 'l'))) {
            char c = p[1];
            p[1] = p[3];
            p[3] = c;
        }
        char c = p[1];
        if (c >= '1' && c <= '9') {
            lx->kind = RN_BACKREF;
            lx->value = c - '0';
            lx->tok_end = p + 2;
            return;
        }
        int32_t kind = 0;
        switch (c) {
        case 'u': kind = RN_UPPER_FIRST; break;
        case 'l': kind = RN_LOWER_FIRST; break;
        case 'U': kind = RN_UPPER; break;
        case 'L': kind = RN_LOWER; break;
        case 'Q': kind = RN_QUOTE; break;
        default: break;
        }
        if (kind) {
            if ((c == 'L' || c == 'U') && (std::strchr(lx->case_stack, 'L') || std::strchr(lx->case_stack, 'U'))) {
                lx->case_stack[--lx->depth] = '\0';
                lx->kind = RT_CASE_END;
                return;
            }
            if (lx->depth >= CASE_STACK_SIZE - 1) {
                char* grown = static_cast<char*>(
                    xkPoolRealloc(lx->pool, lx->case_stack, POOL_UNKNOWN_SIZE, static_cast<uint32_t>(lx->depth + 2), POOL_FREE));
                if (!grown) {
                    lx->kind = RT_ERROR;
                    lx->value = RR_NO_MEMORY;
                    return;
                }
                lx->case_stack = grown;
            }
            lx->case_stack[lx->depth++] = c;
            lx->case_stack[lx->depth] = '\0';
            lx->kind = kind;
            lx->tok_end = p + 2;
            return;
        }
        if (c == 'E') {
            lx->kind = RT_CASE_END;
            if (lx->depth == 0) {
                lx->tok_end = p + 2;
                return;
            }
            char top = lx->case_stack[--lx->depth];
            lx->case_stack[lx->depth] = '\0';
            if (top == 'L' || top == 'U' || top == 'Q')
                lx->tok_end = p + 2;
            return;
        }
    } else if (*p == '$' && end - p >= 2) {
        char* d = p + 1;
        if (host_is_digit(static_cast<uint8_t>(*d))) {
            char* e = d;
            while (e < end && host_is_digit(static_cast<uint8_t>(*e)))
                e++;
            int32_t consumed = 0, value = 0;
            if (xkTextToInteger(d, static_cast<int32_t>(e - d), 0, &consumed, &value) != 0)
                value = -1;
            lx->kind = RN_GROUP;
            lx->value = value;
            lx->tok_end = e;
            return;
        }
        if (*d == '{' && d + 1 < end && host_is_digit(static_cast<uint8_t>(d[1]))) {
            char* digits = d + 1;
            char* e = digits;
            while (e < end && host_is_digit(static_cast<uint8_t>(*e)))
                e++;
            if (e >= end || *e != '}') {
                lx->kind = RT_ERROR;
                lx->value = RR_BRACE;
                return;
            }
            int32_t consumed = 0, value = 0;
            if (xkTextToInteger(digits, static_cast<int32_t>(e - digits), 0, &consumed, &value) != 0)
                value = -1;
            lx->kind = RN_GROUP;
            lx->value = value;
            lx->tok_end = e + 1;
            return;
        }
        lx->kind = RT_ERROR;
        lx->value = RR_DOLLAR;
        return;
    } else if (*p == '@' && end - p >= 2) {
        lx->kind = RT_ERROR;
        lx->value = RR_AT;
        return;
    }

    // A literal run. It stops before a "$" or "@" with a character after it
    // and before an escape that makes a token of its own; a backslash before
    // "$", "@" or a backslash escapes it (the run then holds escapes); a
    // backslash before anything else stays in the run.
    char* q = p;
    while (q < end) {
        char c = *q;
        if ((c == '$' || c == '@') && end - q >= 2)
            break;
        if (c == '\\' && end - q >= 2) {
            char n = q[1];
            if ((n >= '1' && n <= '9') || n == 'E' || n == 'L' || n == 'Q' || n == 'U' || n == 'l' || n == 'u') {
                break;
            }
            if (n == '$' || n == '@' || n == '\\') {
                lx->value = 1;
                q += 2;
                continue;
            }
        }
        q++;
    }
    lx->tok_end = q;
    lx->kind = q > p ? static_cast<int32_t>(RN_LITERAL) : static_cast<int32_t>(RT_END);
}

ReplaceNode* rexhost_parse_replacement(host_pool* pool, ReplaceLexer* lexer, int32_t* error)
{
    return parse_level(pool, lexer, error, true);
}

void rexhost_free_tree(PERLGCB* gcb, ReplaceNode* node) { tree_free(gcb->pool, node); }

// ---- the pattern text ------------------------------------------------------------
//
// rexhost_parse reads a pattern text in phases, each from the scan position
// on: the kind (m or s), the delimiter, the body, the replacement of an
// s/// text, the flags. It writes the equivalent qr expression as it goes,
// has the interpreter evaluate it, takes the compiled pattern from the
// result and parses the replacement into a tree. The expression is program
// text, so the body must end exactly where the interpreter's lexer ends the
// qr operand, and nothing in it may interpolate or run.

namespace {

// The pattern text as the status messages quote it.
struct Quoted {
    const char* text;
    int32_t length;
};

uint8_t upper_of(char c) { return g_host_vector->upper[static_cast<uint8_t>(c)]; }
bool is_blank(char c) { return host_cclass(static_cast<uint8_t>(c)) & HC_SPACE; }

void inserts_text(const Quoted& q)
{
    xkStatusMessage(2, &q.length, int64_t{4}, q.text, static_cast<int64_t>(q.length));
}
void inserts_item(const Quoted& q, const char* item, int64_t item_len)
{
    xkStatusMessage(3, item, item_len, &q.length, int64_t{4}, q.text, static_cast<int64_t>(q.length));
}

// The delimiters of a pattern or of a replacement.
struct Delimiters {
    char open;
    char close;     // the partner of a bracket, else the opener itself
    bool bracket;   // "(", "[", "{" or "<": the delimiters nest

    bool either(char c) const { return c == open || c == close; }
};

Delimiters delimiters_of(char open)
{
    static constexpr char openers[] = "([{< )]}> )]}>";
    static constexpr char closers[] = ")]}> )]}>";
    int32_t i = prx_find_byte(openers, 4, static_cast<uint8_t>(open));
    return Delimiters{open, i >= 0 ? closers[i] : open, i >= 0};
}

// One pattern text on its way to its qr expression.
struct PatternText {
    const char* p;          // scan position
    const char* end;        // end of the text, trailing blanks dropped
    Quoted quoted;          // the text as the refusals quote it
    bool substitute;        // an s/// text: a replacement follows the pattern
    Delimiters pat;         // the pattern's delimiters
    char* w;                // write position in the expression
    Delimiters repl_delim;  // the replacement's: its own after brackets
    char* repl;             // the replacement, escaped delimiters made bare
    int32_t repl_len;
    bool repl_pooled;       // repl is a pool block, not the caller's stack buffer
    uint16_t flags;         // PMf_* of the flag letters
};

// The item of a code construct at p ("(" known), or null.
const char* code_construct(const char* p, const char* end)
{
    if (end - p >= 3 && p[1] == '?' && p[2] == '{')
        return "(?{})";
    if (end - p >= 4 && p[1] == '?' && p[2] == 'p' && p[3] == '{')
        return "(?p{})";
    if (end - p >= 4 && p[1] == '?' && p[2] == '?' && p[3] == '{')
        return "(??{})";
    return nullptr;
}

// Whether the "$" at p would interpolate a variable: the interpreter takes
// it as an end-of-line anchor only before "(", ")", "|", a blank, a newline,
// a tab, or the end of the pattern. ends_body: the closer that follows would
// end the pattern (not so inside nested brackets, where "$}" is a variable
// and what follows it a subscript).
bool dollar_refused(const char* p, const char* end, char closer, bool ends_body)
{
    if (end - p < 2)
        return false;
    char n = p[1];
    return !(n == '(' || n == ')' || n == '|' || n == ' ' || n == '\n' || n == '\t' || (n == closer && ends_body));
}

// Whether the "@" at p would interpolate an array: before a word character
// (the underscore included, as in "@_") or one of ":", "'", "{", "$". An
// escaped delimiter after it counts as the bare delimiter, since the
// interpreter drops that backslash ("m{@\{...\}}" reads "@{...}").
bool at_refused(const char* p, const char* end, const Delimiters& d)
{
    if (end - p < 2)
        return false;
    char n = p[1];
    if (n == '\\' && end - p >= 3 && d.either(p[2]))
        n = p[2];
    return host_is_word(static_cast<uint8_t>(n)) || n == ':' || n == '\'' || n == '{' || n == '$';
}

// The refusal of the "$" or "@" at p (any other byte passes): 0 when the
// interpreter reads no variable there.
uint32_t interpolation_refused(const PatternText* t, const char* p, bool ends_body)
{
    uint32_t status = 0;
    if (*p == '$' && dollar_refused(p, t->end, t->pat.close, ends_body))
        status = ST_DOLLAR;
    else if (*p == '@' && at_refused(p, t->end, t->pat))
        status = ST_AT;
    if (status)
        inserts_text(t->quoted);
    return status;
}

// The kind: trailing blanks (the byte 0x20) and leading white space go, and
// an "m" or "s" with the white space after it is read. An empty pattern is
// the one refusal without a status message.
uint32_t read_kind(PatternText* t, const char* start, const char* end)
{
    const char* e = end;
    while (e > start && e[-1] == ' ')
        e--;
    const char* s = start;
    while (s < e && is_blank(*s))
        s++;
    if (s == e)
        return ST_EMPTY_PATTERN;
    t->quoted = Quoted{s, static_cast<int32_t>(e - s)};
    t->end = e;
    t->p = s;
    uint8_t u = upper_of(*s);
    if (u == 'M' || u == 'S') {
        t->substitute = u == 'S';
        t->p++;
        while (t->p < e && is_blank(*t->p))
            t->p++;
        if (t->p == e)
            return ST_EMPTY_PATTERN;
    }
    return 0;
}

// The opening delimiter: no letter, digit or white space. The interpreter
// reads "qr" and a word character as one word, and "qr=>" as a quoted word
// before a fat comma: neither opens a pattern, and the rest of the text
// would be read as code.
uint32_t read_delimiter(PatternText* t)
{
    const char* p = t->p;
    char open = *p;
    if ((host_cclass(static_cast<uint8_t>(open)) & (HC_UPPER | HC_LOWER | HC_DIGIT | HC_SPACE)) || open == '_' ||
        (open == '=' && t->end - p >= 2 && p[1] == '>')) {
        inserts_item(t->quoted, p, 1);
        return ST_BAD_DELIMITER;
    }
    t->pat = delimiters_of(open);
    t->p++;
    return 0;
}

// What a backslash in the pattern body is to the interpreter's lexer.
enum class Escape {
    ENDS_BODY,  // the backslash is the delimiter
    PAIR,       // the backslash and the character after it are one unit
    ALONE,      // the backslash alone: the character after it is scanned as bare
    REFUSED,    // the status says why
};

// The one rule set for a backslash at p in the pattern body.
Escape read_escape(const PatternText* t, const char* p, uint32_t* status)
{
    const Delimiters& d = t->pat;
    // With the backslash as the delimiter the interpreter escapes nothing:
    // its first backslash ends the pattern. Copying a pair would let the
    // rest of the text be read as code.
    if (d.open == '\\')
        return Escape::ENDS_BODY;
    if (t->end - p < 2)
        return Escape::ALONE;  // the last byte: the body is not closed
    char n = p[1];
    if (n == 'N' && d.open != '\'') {
        inserts_text(t->quoted);
        *status = ST_BACKSLASH_N;
        return Escape::REFUSED;
    }
    if (d.either(n)) {
        // The interpreter drops the backslash of an escaped delimiter: a "$"
        // or "@" delimiter reaches the pattern bare, and is checked as such.
        *status = interpolation_refused(t, p + 1, true);
        return *status ? Escape::REFUSED : Escape::PAIR;
    }
    // An escaped backslash is one character to the interpreter: scanned on
    // its own, the second backslash would escape the closer the interpreter
    // ends the pattern at, and the rest of the text would be read as code.
    if (n == '\\')
        return Escape::PAIR;
    // Any other escaped character: one unit between like delimiters; between
    // brackets it is still checked as if bare ("m{\$x}" is refused).
    return d.bracket ? Escape::ALONE : Escape::PAIR;
}

// The body, to the closer that ends it, into the expression after the
// opener; the closer is written after it. Between brackets, nested pairs of
// the delimiters are part of the body. Between single quotes the interpreter
// interpolates nothing, so nothing but "\N" is refused.
uint32_t scan_body(PatternText* t)
{
    const Delimiters& d = t->pat;
    const char* e = t->end;
    const char* p = t->p;
    char* w = t->w;
    bool checked = d.open != '\'';
    int32_t depth = 1;
    bool closed = false;
    uint32_t status = 0;
    while (p < e) {
        char c = *p;
        if (c == '\\') {
            Escape x = read_escape(t, p, &status);
            if (x == Escape::REFUSED)
                return status;
            if (x == Escape::ENDS_BODY) {
                closed = true;
                p++;
                break;
            }
            *w++ = *p++;
            if (x == Escape::PAIR)
                *w++ = *p++;
            continue;
        }
        if (c == d.close) {
            if (--depth < 1) {
                closed = true;
                p++;
                break;
            }
        } else if (checked && c == '(' && e - p >= 2 && p[1] == '?') {
            if (const char* item = code_construct(p, e)) {
                inserts_item(t->quoted, item, static_cast<int64_t>(std::strlen(item)));
                return ST_CODE;
            }
            // A group's "(?" opens no nesting level of the delimiters.
            *w++ = *p++;
            continue;
        } else if (c == d.open) {
            depth++;
        } else if (checked && (status = interpolation_refused(t, p, depth == 1))) {
            return status;
        }
        *w++ = *p++;
    }
    if (!closed) {
        inserts_item(t->quoted, &d.close, 1);
        return ST_NOT_CLOSED;
    }
    *w++ = d.close;
    t->p = p;
    t->w = w;
    return 0;
}

// The replacement of an s/// text, with the backslash of each escaped
// delimiter dropped: on the caller's stack buffer when it fits, else in a
// pool block. After bracket delimiters the replacement has delimiters of
// its own, after any white space; otherwise it runs to the next unescaped
// pattern delimiter.
uint32_t collect_replacement(PERLGCB* gcb, PatternText* t, char* stack_buffer)
{
    const char* e = t->end;
    const char* p = t->p;
    int64_t remaining = e - p;
    if (remaining <= STACK_REPLACEMENT) {
        t->repl = stack_buffer;
    } else {
        t->repl = static_cast<char*>(host_pool_alloc(gcb->pool, static_cast<uint64_t>(remaining), TEXT_FLAGS));
        if (!t->repl)
            return ST_NO_MEMORY;
        t->repl_pooled = true;
    }
    Delimiters d = t->pat;
    if (d.bracket) {
        while (p < e && is_blank(*p))
            p++;
        if (p >= e) {
            inserts_item(t->quoted, &t->pat.close, 1);
            return ST_REPL_NOT_CLOSED;
        }
        d = delimiters_of(*p++);
    }
    t->repl_delim = d;
    char* r = t->repl;
    int32_t depth = 1;
    bool closed = false;
    while (p < e) {
        char c = *p;
        if (c == d.close) {
            if (--depth < 1) {
                closed = true;
                p++;
                break;
            }
        } else if (c == '\\' && e - p >= 2) {
            if (!d.either(p[1]))
                *r++ = c;
            *r++ = p[1];
            p += 2;
            continue;
        } else if (c == d.open) {
            depth++;
        }
        *r++ = *p++;
    }
    if (!closed) {
        inserts_item(t->quoted, &d.close, 1);
        return ST_REPL_NOT_CLOSED;
    }
    t->repl_len = static_cast<int32_t>(r - t->repl);
    t->p = p;
    return 0;
}

// The flags: every remaining byte through the upper-case table. I, M, S, X
// and O set their bits, white space is skipped, C, E and G are refused, and
// any other byte is refused with the rest of the text from it.
uint32_t read_flags(PatternText* t)
{
    const char* e = t->end;
    for (const char* p = t->p; p < e; p++) {
        char c = *p;
        uint8_t u = upper_of(c);
        if (is_blank(c))
            continue;
        if (u == 'I') {
            t->flags |= PMf_FOLD;
        } else if (u == 'M') {
            t->flags |= PMf_MULTILINE;
        } else if (u == 'S') {
            t->flags |= PMf_SINGLELINE;
        } else if (u == 'X') {
            t->flags |= PMf_EXTENDED;
        } else if (u == 'O') {
            t->flags |= PMf_KEEP;
        } else if (u == 'C' || u == 'E' || u == 'G') {
            inserts_item(t->quoted, p, 1);
            return ST_BAD_FLAG;
        } else if (p + 1 == e) {
            inserts_item(t->quoted, p, 1);
            return ST_UNKNOWN_LAST;
        } else {
            int32_t rest = static_cast<int32_t>(e - p);
            xkStatusMessage(5, &rest, int64_t{4}, p, static_cast<int64_t>(rest), &t->pat.close, int64_t{1},
                            &t->quoted.length, int64_t{4}, t->quoted.text, static_cast<int64_t>(t->quoted.length));
            return ST_UNKNOWN_MORE;
        }
    }
    t->p = e;
    return 0;
}

// Ends the expression: the flag letters in the order i, m, s, x, o, then its
// length. An expression that ends in ";" (the closer, with no flag) gets a
// terminator of its own: the evaluation adds one only to a text that does
// not end in ";", and this one belongs to the pattern.
void end_expression(PatternText* t, SV* expr)
{
    char* w = t->w;
    if (t->flags & PMf_FOLD)
        *w++ = 'i';
    if (t->flags & PMf_MULTILINE)
        *w++ = 'm';
    if (t->flags & PMf_SINGLELINE)
        *w++ = 's';
    if (t->flags & PMf_EXTENDED)
        *w++ = 'x';
    if (t->flags & PMf_KEEP)
        *w++ = 'o';
    if (w[-1] == ';')
        *w++ = ';';
    *w = '\0';
    sv_cur(expr) = static_cast<uint64_t>(w - sv_pv(expr));
    expr->flags |= SVf_POK | SVp_POK;
    t->w = w;
}

// Whether the error variable says the evaluation failed: a string longer
// than one byte or one byte other than "0", a non-zero integer or number,
// otherwise the general truth test.
bool evaluation_failed(PERLGCB* gcb, SV* err)
{
    if (err->flags & SVf_POK)
        return sv_cur(err) > 1 || (sv_cur(err) == 1 && sv_pv(err)[0] != '0');
    if (err->flags & SVf_IOK)
        return sv_iv(err) != 0;
    if (err->flags & SVf_NOK)
        return sv_nv(err) != 0.0;
    return sv_is_true(gcb, err);
}

// The compiled pattern of the evaluation's result (a reference to a value
// with 'r' magic), with one more reference for the caller; null for any
// other result. keep_once marks a pattern of an o-flagged text.
re_compiled* take_pattern(PERLGCB* gcb, SV* result, bool keep_once)
{
    if (!result || !(result->flags & SVf_ROK))
        return nullptr;
    SV* referent = sv_rv(result);
    MAGIC* mg = sv_type(referent) >= SVt_PVMG ? mg_find_by_type(gcb, referent, 'r') : nullptr;
    if (!mg || !mg->obj)
        return nullptr;
    re_compiled* compiled = reinterpret_cast<re_compiled*>(mg->obj);
    compiled->ref_count++;
    if (keep_once)
        compiled->analysis_flags |= RE_KEEP_ONCE;
    return compiled;
}

// The replacement's tree into *tree: one literal node holding it verbatim
// between single quotes, else the parsed tree (an empty replacement is an
// empty literal node). 0, or the status of a refusal or of no memory, with
// *tree null.
uint32_t replacement_tree(PERLGCB* gcb, const PatternText* t, ReplaceNode** tree)
{
    *tree = nullptr;
    int32_t len = t->repl_len;
    if (t->repl_delim.open == '\'') {
        ReplaceNode* node = node_new(gcb->pool, RN_LITERAL);
        char* text = node && len ? static_cast<char*>(host_pool_alloc(gcb->pool, static_cast<uint64_t>(len), TEXT_FLAGS))
                                 : nullptr;
        if (!node || (len && !text)) {
            tree_free(gcb->pool, node);
            return ST_NO_MEMORY;
        }
        if (len)
            std::memcpy(text, t->repl, static_cast<size_t>(len));
        node->text = text;
        node->number = len;
        *tree = node;
        return 0;
    }
    ReplaceLexer lx{};
    lx.text_start = t->repl;
    lx.text_end = t->repl + len;
    lx.tok_start = lx.tok_end = t->repl;
    lx.pool = gcb->pool;
    lx.case_stack = static_cast<char*>(host_pool_alloc(gcb->pool, CASE_STACK_SIZE, STACK_FLAGS));
    int32_t error = 0;
    if (!lx.case_stack) {
        error = RR_NO_MEMORY;
    } else {
        lx.case_stack[0] = '\0';
        *tree = rexhost_parse_replacement(gcb->pool, &lx, &error);
        if (!*tree && !error) {
            *tree = node_new(gcb->pool, RN_LITERAL);
            if (!*tree)
                error = RR_NO_MEMORY;
        }
        host_pool_free(gcb->pool, lx.case_stack, POOL_UNKNOWN_SIZE, POOL_FREE);
    }
    switch (error) {
    case 0: return 0;
    case RR_NO_MEMORY: return ST_NO_MEMORY;
    // The replacement's refusals quote the pattern text, like the pattern's.
    case RR_DOLLAR: inserts_text(t->quoted); return ST_REPL_DOLLAR;
    case RR_AT: inserts_text(t->quoted); return ST_REPL_AT;
    case RR_BRACE: inserts_text(t->quoted); return ST_REPL_BRACE;
    default: return ST_TASK_SWITCH;
    }
}

// Evaluates the expression in a scope and under an environment of its own,
// takes the compiled pattern into *compiled and, for s///, the replacement's
// tree into *tree_out. A failed evaluation raises its error text as a fatal
// error, which outside any eval exits to that environment (code 2) with the
// text in the captured standard error; a jump that no environment takes
// ends at the head buffer. Either way *status stays 0 and only a pattern
// already taken is kept. A replacement refused after the pattern was taken
// frees the pattern.
void evaluate(PERLGCB* gcb, const PatternText* t, SV* expr, re_compiled** compiled, ReplaceNode** tree_out,
              uint32_t* status)
{
    int32_t entry_sp = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
    int32_t entry_scope = gcb->scope_ix;
    ReplaceNode* tree = nullptr;
    bool set_tree = false;
    JumpEnv env;
    jump_run(gcb, &env, true, [&] {
        scope_enter(gcb);
        save_push_int(gcb, &gcb->temps_floor);
        gcb->temps_floor = gcb->temps_ix;
        gcb->arg_sp = gcb->arg_base + entry_sp;
        interp_eval_value(gcb, expr, CALL_KEEPERR);
        SV* result = *gcb->arg_sp;
        SV* err = gv_gp(gcb->error_glob)->gp_sv;
        if (evaluation_failed(gcb, err)) {
            uint64_t len = 0;
            const char* text = sv_text(gcb, err, &len);
            fatal_error(gcb, "%s", text);
        }
        *compiled = take_pattern(gcb, result, t->flags & PMf_KEEP);
        if (!t->substitute)
            return;
        set_tree = true;
        *status = replacement_tree(gcb, t, &tree);
        if (*status && *compiled) {
            gcb->re_hook_free(gcb, *compiled);
            *compiled = nullptr;
        }
    });
    while (gcb->scope_ix > entry_scope)
        scope_leave(gcb);
    if (gcb->temps_ix > gcb->temps_floor)
        tmps_free_to_floor(gcb);
    gcb->arg_sp = gcb->arg_base + entry_sp;
    if (set_tree && tree_out)
        *tree_out = tree;
}

}  // namespace

extern "C" uint32_t rexhost_parse(PERLGCB* gcb, host_task* task, const char* start, const char* end,
                                  re_compiled** pattern_out, ReplaceNode** tree_out)
{
    TaskGuard guard;
    if (!task_guard_enter(task, &guard))
        return ST_TASK_SWITCH;
    if (!gcb) {
        if (pattern_out)
            *pattern_out = nullptr;
        task_guard_leave(&guard);
        return ST_MISSING_ARG;
    }
    re_compiled* compiled = nullptr;
    uint32_t status = 0;
    SV* expr = nullptr;
    char stack_buffer[STACK_REPLACEMENT];
    PatternText t{};
    try {
        // The whole parse runs under the head buffer: a failing allocation
        // exits the interpreter, which ends there when no environment of
        // the evaluation is open.
        bridge_head_run(gcb, [&] {
            // No text, or an interpreter whose start-up never made $@.
            if (!start || !gcb->error_glob) {
                status = ST_MISSING_ARG;
                return;
            }
            if (gcb->errno_cell == GUARD_ERRNO_MARK)
                gcb->errno_cell = 0;  // a guard mark left over must not divert this compile's errors
            if ((status = read_kind(&t, start, end)) || (status = read_delimiter(&t)))
                return;
            // "qr", the opener, the body, the closer, the flags and a
            // terminator: at most three bytes more than the text.
            expr = sv_new_undef(gcb, static_cast<uint64_t>(end - start) + 3);
            t.w = sv_pv(expr);
            *t.w++ = 'q';
            *t.w++ = 'r';
            *t.w++ = t.pat.open;
            if ((status = scan_body(&t)) || (t.substitute && (status = collect_replacement(gcb, &t, stack_buffer))) ||
                (status = read_flags(&t)))
                return;
            end_expression(&t, expr);
            evaluate(gcb, &t, expr, &compiled, tree_out, &status);
        });
    } catch (...) {
        status = ST_TASK_SWITCH;
    }
    if (expr)
        sv_release(gcb, expr);
    if (t.repl_pooled)
        host_pool_free(gcb->pool, t.repl, POOL_UNKNOWN_SIZE, POOL_FREE);
    if (pattern_out)
        *pattern_out = compiled;
    task_guard_leave(&guard);
    return status;
}
