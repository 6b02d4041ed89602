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

// The closer of an opening delimiter: brackets close with their partner,
// every other delimiter with itself.
char closer_of(char open)
{
    static constexpr char openers[] = "([{< )]}> )]}>";
    static constexpr char closers[] = ")]}> )]}>";
    int32_t i = prx_find_byte(openers, 4, static_cast<uint8_t>(open));
    return i >= 0 ? closers[i] : open;
}
bool is_bracket(char open) { return prx_find_byte("([{<", 4, static_cast<uint8_t>(open)) >= 0; }

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
bool at_refused(const char* p, const char* end, char open, char close)
{
    if (end - p < 2)
        return false;
    char n = p[1];
    if (n == '\\' && end - p >= 3 && (p[2] == open || p[2] == close))
        n = p[2];
    return host_is_word(static_cast<uint8_t>(n)) || n == ':' || n == '\'' || n == '{' || n == '$';
}

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

extern "C" uint32_t rexhost_parse(PERLGCB* gcb, host_task* task, const char* start, const char* end,
                                  re_compiled** pattern_out, ReplaceNode** tree_out)
{
    TaskGuard guard;
    if (!task_guard_enter(task, &guard))
        return ST_TASK_SWITCH;
    re_compiled* compiled = nullptr;
    uint32_t status = 0;
    SV* expr = nullptr;
    char stack_buffer[STACK_REPLACEMENT];
    char* repl = nullptr;
    bool repl_pooled = false;
    int32_t repl_len = 0;
    if (!gcb) {
        if (pattern_out)
            *pattern_out = nullptr;
        task_guard_leave(&guard);
        return ST_MISSING_ARG;
    }
    try {
        // The whole parse runs under the head buffer: a failing allocation
        // exits the interpreter, which ends there when no environment of
        // the evaluation is open.
        auto body = [&] {
            // No text, or an interpreter whose start-up never made $@.
            if (!start || !gcb->error_glob) {
                status = ST_MISSING_ARG;
                return;
            }
            if (gcb->errno_cell == GUARD_ERRNO_MARK)
                gcb->errno_cell = 0;  // a guard mark left over must not divert this compile's errors

            // 2, 3. Trim, find the kind and the delimiter.
            const char* e = end;
            while (e > start && e[-1] == ' ')
                e--;
            const char* s = start;
            while (s < e && is_blank(*s))
                s++;
            if (s == e) {
                status = ST_EMPTY_PATTERN;
                return;
            }
            Quoted quoted{s, static_cast<int32_t>(e - s)};
            bool substitute = false;
            const char* p = s;
            if (upper_of(*p) == 'M' || upper_of(*p) == 'S') {
                substitute = upper_of(*p) == 'S';
                p++;
                while (p < e && is_blank(*p))
                    p++;
                if (p == e) {
                    status = ST_EMPTY_PATTERN;
                    return;
                }
            }

            // 4. The delimiters.
            // The interpreter reads "qr" and a word character as one word, and
            // "qr=>" as a quoted word before a fat comma: neither opens a
            // pattern, and the rest of the text would be read as code.
            char open = *p;
            if ((host_cclass(static_cast<uint8_t>(open)) & (HC_UPPER | HC_LOWER | HC_DIGIT | HC_SPACE)) || open == '_' ||
                (open == '=' && e - p >= 2 && p[1] == '>')) {
                inserts_item(quoted, p, 1);
                status = ST_BAD_DELIMITER;
                return;
            }
            char close = closer_of(open);
            bool bracket = is_bracket(open);
            p++;

            // 5. The body, into the expression.
            expr = sv_new_undef(gcb, static_cast<uint64_t>(end - start) + 2);
            char* w = sv_pv(expr);
            *w++ = 'q';
            *w++ = 'r';
            *w++ = open;
            bool closed = false;
            if (!bracket) {
                while (p < e) {
                    char c = *p;
                    if (c == '\\') {
                        // With the backslash as the delimiter the interpreter
                        // escapes nothing: its first backslash ends the
                        // pattern, so it ends the body here too. Copying a
                        // pair would let the rest of the text be read as code.
                        if (open == '\\') {
                            closed = true;
                            p++;
                            break;
                        }
                        if (e - p >= 2) {
                            char n = p[1];
                            if (n == 'N' && open != '\'') {
                                inserts_text(quoted);
                                status = ST_BACKSLASH_N;
                                break;
                            }
                            // The interpreter drops the backslash of an escaped
                            // delimiter: with "$" or "@" as the delimiter, the
                            // escaped one reaches the pattern bare and would
                            // interpolate what follows it.
                            if (n == close && n == '$' && dollar_refused(p + 1, e, close, true)) {
                                inserts_text(quoted);
                                status = ST_DOLLAR;
                                break;
                            }
                            if (n == close && n == '@' && at_refused(p + 1, e, open, close)) {
                                inserts_text(quoted);
                                status = ST_AT;
                                break;
                            }
                            *w++ = c;
                            *w++ = n;
                            p += 2;
                            continue;
                        }
                        *w++ = c;
                        p++;
                        continue;
                    }
                    if (c == close) {
                        closed = true;
                        p++;
                        break;
                    }
                    if (open != '\'') {
                        if (c == '(') {
                            if (const char* item = code_construct(p, e)) {
                                inserts_item(quoted, item, static_cast<int64_t>(std::strlen(item)));
                                status = ST_CODE;
                                break;
                            }
                        } else if (c == '$' && dollar_refused(p, e, close, true)) {
                            inserts_text(quoted);
                            status = ST_DOLLAR;
                            break;
                        } else if (c == '@' && at_refused(p, e, open, close)) {
                            inserts_text(quoted);
                            status = ST_AT;
                            break;
                        }
                    }
                    *w++ = c;
                    p++;
                }
            } else {
                int32_t depth = 1;
                while (p < e) {
                    char c = *p;
                    if (c == '\\' && e - p >= 2) {
                        char n = p[1];
                        if (n == 'N') {
                            inserts_text(quoted);
                            status = ST_BACKSLASH_N;
                            break;
                        }
                        // An escaped delimiter, or an escaped backslash: the
                        // pair is one character to the interpreter. Scanning
                        // the second backslash on its own would let it escape
                        // the closer the interpreter ends the pattern at,
                        // and the rest of the text would be read as code.
                        if (n == open || n == close || n == '\\') {
                            *w++ = c;
                            *w++ = n;
                            p += 2;
                            continue;
                        }
                        *w++ = c;
                        p++;
                        continue;
                    }
                    if (c == '(' && e - p >= 2 && p[1] == '?') {
                        if (const char* item = code_construct(p, e)) {
                            inserts_item(quoted, item, static_cast<int64_t>(std::strlen(item)));
                            status = ST_CODE;
                            break;
                        }
                        *w++ = c;
                        p++;
                        continue;
                    }
                    if (c == '$' && dollar_refused(p, e, close, depth == 1)) {
                        inserts_text(quoted);
                        status = ST_DOLLAR;
                        break;
                    }
                    if (c == '@' && at_refused(p, e, open, close)) {
                        inserts_text(quoted);
                        status = ST_AT;
                        break;
                    }
                    if (c == close) {
                        if (--depth < 1) {
                            closed = true;
                            p++;
                            break;
                        }
                    } else if (c == open) {
                        depth++;
                    }
                    *w++ = c;
                    p++;
                }
            }
            if (status)
                return;
            if (!closed) {
                inserts_item(quoted, &close, 1);
                status = ST_NOT_CLOSED;
                return;
            }
            *w++ = close;

            // 6. The replacement of s///.
            char repl_open = open;
            if (substitute) {
                int64_t remaining = e - p;
                if (remaining <= STACK_REPLACEMENT) {
                    repl = stack_buffer;
                } else {
                    repl = static_cast<char*>(host_pool_alloc(gcb->pool, static_cast<uint64_t>(remaining), TEXT_FLAGS));
                    if (!repl) {
                        status = ST_NO_MEMORY;
                        return;
                    }
                    repl_pooled = true;
                }
                char repl_close = close;
                bool repl_bracket = false;
                if (bracket) {
                    while (p < e && is_blank(*p))
                        p++;
                    if (p >= e) {
                        inserts_item(quoted, &close, 1);
                        status = ST_REPL_NOT_CLOSED;
                        return;
                    }
                    repl_open = *p++;
                    repl_close = closer_of(repl_open);
                    repl_bracket = is_bracket(repl_open);
                }
                bool repl_closed = false;
                int32_t depth = 1;
                while (p < e) {
                    char c = *p;
                    if (!repl_bracket) {
                        if (c == repl_close) {
                            repl_closed = true;
                            p++;
                            break;
                        }
                        if (c == '\\' && e - p >= 2) {
                            if (p[1] != repl_close)
                                repl[repl_len++] = c;
                            repl[repl_len++] = p[1];
                            p += 2;
                            continue;
                        }
                    } else {
                        if (c == '\\' && e - p >= 2) {
                            if (p[1] != repl_open && p[1] != repl_close)
                                repl[repl_len++] = c;
                            repl[repl_len++] = p[1];
                            p += 2;
                            continue;
                        }
                        if (c == repl_close) {
                            if (--depth < 1) {
                                repl_closed = true;
                                p++;
                                break;
                            }
                        } else if (c == repl_open) {
                            depth++;
                        }
                    }
                    repl[repl_len++] = c;
                    p++;
                }
                if (!repl_closed) {
                    inserts_item(quoted, &repl_close, 1);
                    status = ST_REPL_NOT_CLOSED;
                    return;
                }
            }

            // 7, 8. The flags.
            uint16_t flags = 0;
            for (; p < e; p++) {
                char c = *p;
                uint8_t u = upper_of(c);
                if (is_blank(c))
                    continue;
                if (u == 'I')
                    flags |= PMf_FOLD;
                else if (u == 'M')
                    flags |= PMf_MULTILINE;
                else if (u == 'S')
                    flags |= PMf_SINGLELINE;
                else if (u == 'X')
                    flags |= PMf_EXTENDED;
                else if (u == 'O')
                    flags |= PMf_KEEP;
                else if (u == 'C' || u == 'E' || u == 'G') {
                    inserts_item(quoted, p, 1);
                    status = ST_BAD_FLAG;
                    break;
                } else if (p + 1 == e) {
                    inserts_item(quoted, p, 1);
                    status = ST_UNKNOWN_LAST;
                    break;
                } else {
                    int32_t rest = static_cast<int32_t>(e - p);
                    xkStatusMessage(5, &rest, int64_t{4}, p, static_cast<int64_t>(rest), &close, int64_t{1},
                                    &quoted.length, int64_t{4}, quoted.text, static_cast<int64_t>(quoted.length));
                    status = ST_UNKNOWN_MORE;
                    break;
                }
            }
            if (status)
                return;
            if (flags & PMf_FOLD)
                *w++ = 'i';
            if (flags & PMf_MULTILINE)
                *w++ = 'm';
            if (flags & PMf_SINGLELINE)
                *w++ = 's';
            if (flags & PMf_EXTENDED)
                *w++ = 'x';
            if (flags & PMf_KEEP)
                *w++ = 'o';
            *w = '\0';
            sv_cur(expr) = static_cast<uint64_t>(w - sv_pv(expr));
            expr->flags |= SVf_POK | SVp_POK;

            // 9 to 13. The evaluation, under the head buffer and an
            // environment of this entry: a fatal error outside any eval
            // exits to the environment (code 2), a jump that no environment
            // takes ends at the head; either way the status stays 0 and only
            // a pattern step 11 already took is kept.
            int32_t entry_sp = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
            int32_t entry_scope = gcb->scope_ix;
            ReplaceNode* tree = nullptr;
            bool set_tree = false;
            {
                JumpEnv env;
                jump_run(gcb, &env, true, [&] {
                    scope_enter(gcb);
                    save_push_int(gcb, &gcb->temps_floor);
                    gcb->temps_floor = gcb->temps_ix;
                    gcb->arg_sp = gcb->arg_base + entry_sp;
                    interp_eval_value(gcb, expr, CALL_KEEPERR);
                    SV* result = *gcb->arg_sp;
                    SV* err = gv_gp(gcb->error_glob)->gp_sv;
                    bool failed;
                    if (err->flags & SVf_POK)
                        failed = sv_cur(err) > 1 || (sv_cur(err) == 1 && sv_pv(err)[0] != '0');
                    else if (err->flags & SVf_IOK)
                        failed = sv_iv(err) != 0;
                    else if (err->flags & SVf_NOK)
                        failed = sv_nv(err) != 0.0;
                    else
                        failed = sv_is_true(gcb, err);
                    if (failed) {
                        uint64_t len = 0;
                        const char* text = sv_text(gcb, err, &len);
                        fatal_error(gcb, "%s", text);
                    }
                    if (result && (result->flags & SVf_ROK)) {
                        SV* referent = sv_rv(result);
                        MAGIC* mg = sv_type(referent) >= SVt_PVMG ? mg_find_by_type(gcb, referent, 'r') : nullptr;
                        if (mg && mg->obj) {
                            compiled = reinterpret_cast<re_compiled*>(mg->obj);
                            compiled->ref_count++;
                            if (flags & PMf_KEEP)
                                compiled->analysis_flags |= RE_KEEP_ONCE;
                        }
                    }
                    if (!substitute)
                        return;
                    set_tree = true;
                    if (repl_open == '\'') {
                        tree = node_new(gcb->pool, RN_LITERAL);
                        char* text = tree && repl_len
                                         ? static_cast<char*>(host_pool_alloc(gcb->pool, static_cast<uint64_t>(repl_len), TEXT_FLAGS))
                                         : nullptr;
                        if (!tree || (repl_len && !text)) {
                            tree_free(gcb->pool, tree);
                            tree = nullptr;
                            if (compiled) {
                                gcb->re_hook_free(gcb, compiled);
                                compiled = nullptr;
                            }
                            status = ST_NO_MEMORY;
                            return;
                        }
                        if (repl_len)
                            std::memcpy(text, repl, static_cast<size_t>(repl_len));
                        tree->text = text;
                        tree->number = repl_len;
                        return;
                    }
                    ReplaceLexer lx{};
                    lx.text_start = repl;
                    lx.text_end = repl + repl_len;
                    lx.tok_start = lx.tok_end = repl;
                    lx.pool = gcb->pool;
                    lx.case_stack = static_cast<char*>(host_pool_alloc(gcb->pool, CASE_STACK_SIZE, STACK_FLAGS));
                    int32_t error = 0;
                    if (!lx.case_stack) {
                        error = RR_NO_MEMORY;
                    } else {
                        lx.case_stack[0] = '\0';
                        tree = rexhost_parse_replacement(gcb->pool, &lx, &error);
                        if (!tree && !error) {
                            tree = node_new(gcb->pool, RN_LITERAL);
                            if (!tree)
                                error = RR_NO_MEMORY;
                        }
                        host_pool_free(gcb->pool, lx.case_stack, POOL_UNKNOWN_SIZE, POOL_FREE);
                    }
                    if (error) {
                        if (compiled) {
                            gcb->re_hook_free(gcb, compiled);
                            compiled = nullptr;
                        }
                        tree = nullptr;
                        switch (error) {
                        case RR_NO_MEMORY: status = ST_NO_MEMORY; break;
                        case RR_DOLLAR: status = ST_REPL_DOLLAR; break;
                        case RR_AT: status = ST_REPL_AT; break;
                        case RR_BRACE: status = ST_REPL_BRACE; break;
                        default: status = ST_TASK_SWITCH; break;
                        }
                        // The replacement refusals name the pattern text,
                        // like the refusals of the pattern.
                        if (error == RR_DOLLAR || error == RR_AT || error == RR_BRACE)
                            inserts_text(quoted);
                    }
                });
                while (gcb->scope_ix > entry_scope)
                    scope_leave(gcb);
                if (gcb->temps_ix > gcb->temps_floor)
                    tmps_free_to_floor(gcb);
                gcb->arg_sp = gcb->arg_base + entry_sp;
            }
            if (set_tree && tree_out)
                *tree_out = tree;
        };
        bridge_head_run(gcb, body);
    } catch (...) {
        status = ST_TASK_SWITCH;
    }
    if (expr)
        sv_release(gcb, expr);
    if (repl_pooled)
        host_pool_free(gcb->pool, repl, POOL_UNKNOWN_SIZE, POOL_FREE);
    if (pattern_out)
        *pattern_out = compiled;
    task_guard_leave(&guard);
    return status;
}
