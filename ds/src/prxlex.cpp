// The token reader: yylex with its states (queued tokens, interpolated text,
// case modifiers, format lines), the resolution of identifiers, and the
// normal scan's cases for punctuation, operators, sigils and literals.
#include <bit>
#include <cstring>

#include "host/hostif.h"
#include "prxav.h"
#include "prxchar.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlexint.h"
#include "prxmsg.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

using namespace prxchar;

namespace {

// Private bits of const ops the reader makes.
constexpr uint8_t OPpCONST_ENTERED = 0x10;
// Creation flags of a global made while a string is evaluated.
constexpr int32_t GV_ADD_IN_EVAL = GV_ADDMULTI | 0x08;
// The call-with-ampersand flag as token value of "&" (PRIVATE in the high byte).
constexpr int32_t AMPER_CALL_FLAGS = OPpENTERSUB_AMPER << 8;
// Bracket-stack bit of a subscript opened inside a braced variable name.
constexpr uint8_t BRACKET_IN_NAME = 0x80;
// Each \Q quotes again the text of every \Q inside it, doubling the
// backslashes: nested ones may quote at most this many bytes of literal text
// (the text after the innermost one, doubled for each one open around it).
constexpr uint64_t QUOTE_TEXT_LIMIT = 16u << 20;

// c is one of the bytes of set (the NUL byte never is).

// A UTF-8 identifier start at s in UTF-8 source.
bool utf8_ident_start_at(PERLGCB* gcb, const char* s)
{
    return static_cast<uint8_t>(*s) >= 0xC0 && lex_utf8_source(gcb) &&
           utf8_is_ident_start(gcb, reinterpret_cast<const uint8_t*>(s));
}
// An identifier starts at s: a letter or "_", or a UTF-8 identifier start.
bool ident_start_at(PERLGCB* gcb, const char* s) { return is_alpha(*s) || *s == '_' || utf8_ident_start_at(gcb, s); }

int32_t current_line(PERLGCB* gcb) { return gcb->current_statement ? gcb->current_statement->cop_line : 0; }

// A global of the kind a sigil names.
uint32_t kind_of_sigil(char sigil) { return sigil == '$' ? SVt_PV : sigil == '@' ? SVt_PVAV : SVt_PVHV; }
int32_t creation_flags(PERLGCB* gcb) { return gcb->in_eval ? GV_ADD_IN_EVAL : GV_ADD; }

// A const op naming an entered symbol.
OP* entered_name(PERLGCB* gcb, SV* name)
{
    OP* o = op_new_value(gcb, OP_CONST, 0, name);
    o->op_private = OPpCONST_ENTERED;
    return o;
}

// ---- identifiers --------------------------------------------------------------

// Whether the line of the sort being read compares with <=> or cmp.
bool sort_line_compares(PERLGCB* gcb)
{
    char* d = gcb->in_eval ? gcb->prev_prev_token_pos : gcb->line_start;
    if (!d)
        return false;
    for (; d < gcb->buffer_end && *d != '\n'; d++) {
        if (gcb->buffer_end - d >= 3 && (std::memcmp(d, "<=>", 3) == 0 || std::memcmp(d, "cmp", 3) == 0))
            return true;
    }
    return false;
}

// The identifier the variable scanner left in token_buffer (sigil first).
int32_t resolve_identifier(PERLGCB* gcb)
{
    gcb->pending_identifier = 0;
    char* name = gcb->token_buffer;
    char sigil = name[0];
    bool qualified = std::strchr(name, ':') != nullptr;

    if (gcb->declaring) {
        if (gcb->declaring == KEY_our) {
            if (qualified)
                op_compile_error(gcb, "No package name allowed for variable %s in \"our\"", name);
            pad_declare_my(gcb, name);
        } else {
            if (qualified)
                op_compile_error(gcb, "\"my\" variable %s can't be in a package", name);
            OP* o = op_new_base(gcb, OP_PADANY, 0);
            o->op_targ = pad_declare_my(gcb, name);
            gcb->token_value.op = o;
            return LEXICAL_VAR;
        }
    }

    if (!qualified) {
        uint32_t slot = pad_find_lexical(gcb, name);
        if (slot != PAD_NOT_FOUND) {
            SV* entry = av_body(gcb->comppad_name)->array[slot];
            if (entry->flags & SVpad_OUR) {
                HV* stash = gv_body(sv_as<GV>(entry))->gvstash;
                const char* package = stash && hv_body(stash)->name ? hv_body(stash)->name : "main";
                SV* sym = sv_new_from_cstring(gcb, package, 0);
                sv_append_bytes(gcb, sym, "::", 2);
                sv_append_cstring(gcb, sym, name + 1);
                gv_fetch_by_name(gcb, sv_pv(sym), creation_flags(gcb), kind_of_sigil(sigil));
                gcb->token_value.op = entered_name(gcb, sym);
                return BAREWORD;
            }
            if (gcb->last_list_op == OP_SORT && sigil == '$' && (name[1] == 'a' || name[1] == 'b') && !name[2] &&
                sort_line_compares(gcb))
                fatal_error(gcb, "Can't use \"my %s\" in sort comparison", name);
            OP* o = op_new_base(gcb, OP_PADANY, 0);
            o->op_targ = slot;
            gcb->token_value.op = o;
            return LEXICAL_VAR;
        }
    }

    if (sigil == '@' && gcb->lex_state != LEX_NORMAL && !gcb->bracket_depth) {
        GV* gv = gv_fetch_by_name(gcb, name + 1, 0, SVt_PVAV);
        bool has = gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) && gv_gp(gv)->gp_av;
        if (!has && warn_enabled(gcb, WARN_AMBIGUOUS))
            category_warning(gcb, WARN_AMBIGUOUS, "Possible unintended interpolation of %s in string", name);
    }
    gcb->token_value.op = entered_name(gcb, sv_new_from_cstring(gcb, name + 1, 0));
    gv_fetch_by_name(gcb, name + 1, creation_flags(gcb), kind_of_sigil(sigil));
    return BAREWORD;
}

// ---- interpolated text ---------------------------------------------------------

// A concatenation between two pieces of an interpolated text.
int32_t concatenation(PERLGCB* gcb, char* s) { return lex_assignable_operator(gcb, s, ADD_OP, OP_CONCAT); }

// The quote character of the text being sub-lexed (its integer slot).
bool single_quoted_body(PERLGCB* gcb)
{
    SV* line = gcb->line_buffer;
    return sv_type(line) >= SVt_PVIV && sv_iv(line) == '\'';
}

int32_t string_piece(PERLGCB* gcb)
{
    if (gcb->scan_pos == gcb->buffer_end)
        return lex_interpolation_end(gcb);
    char* s;
    if (single_quoted_body(gcb)) {
        SV* sv = sv_new_from_bytes(gcb, gcb->scan_pos, static_cast<uint64_t>(gcb->buffer_end - gcb->scan_pos));
        if (gcb->line_buffer->flags & SVf_UTF8)
            sv->flags |= SVf_UTF8;
        if (!gcb->in_pattern)
            sv = lex_single_quoted(gcb, sv);
        else if (gcb->compile_hints & HINT_NEW_RE)
            sv = lex_overload_constant(gcb, nullptr, 0, "qr", sv, sv, "q");
        gcb->token_value.op = op_new_value(gcb, OP_CONST, 0, sv);
        s = gcb->buffer_end;
    } else {
        gcb->token_value.op = nullptr;
        s = scan_escapes(gcb, gcb->scan_pos);
        gcb->lex_state = *s == '\\' ? LEX_INTERPCASEMOD : LEX_INTERPSTART_EXPR;
    }
    if (s != gcb->scan_pos) {
        gcb->expect = XTERM;
        lex_queue_op(gcb, TERM_OP, gcb->token_value.op);
        if (gcb->piece_count++)
            return concatenation(gcb, s);
        gcb->scan_pos = s;
    }
    return yylex(gcb);
}

int32_t expression_start(PERLGCB* gcb)
{
    if (gcb->scan_pos == gcb->buffer_end)
        return lex_interpolation_end(gcb);
    gcb->expect = XTERM;
    gcb->join_pending = *gcb->scan_pos == '@';
    gcb->lex_state = LEX_INTERPNORMAL;
    if (gcb->join_pending) {
        // join($", @array): the grammar reads a call of join whose first
        // argument is the list-separator variable. Pushed last to first.
        lex_queue_int(gcb, ',', 0);
        lex_push_identifier(gcb, "\"", '$');
        lex_queue_int(gcb, '$', 0);
        lex_queue_int(gcb, '(', 0);
        lex_queue_int(gcb, FUNC_PAREN, OP_JOIN);
    }
    if (gcb->piece_count++)
        return concatenation(gcb, gcb->scan_pos);
    return yylex(gcb);
}

// Pops the innermost case modifier; text left after a \L, \U or \Q that
// the \E closes is skipped past the \E.
int32_t pop_case_modifier(PERLGCB* gcb)
{
    char old = gcb->case_modifier_stack[--gcb->case_modifier_count];
    gcb->case_modifier_stack[gcb->case_modifier_count] = 0;
    if (gcb->scan_pos != gcb->buffer_end && one_of(old, "LUQ")) {
        gcb->scan_pos += 2;
        gcb->lex_state = LEX_INTERPSTRING;
    }
    return ')';
}

int32_t case_modifier(PERLGCB* gcb)
{
    char* p = gcb->scan_pos;
    bool at_end = p == gcb->buffer_end;
    if (at_end || (p + 1 < gcb->buffer_end && p[1] == 'E')) {
        if (gcb->case_modifier_count) {
            // A group that holds nothing gets an empty piece first, so that
            // its function has an operand and what follows it is joined on.
            if (!gcb->piece_count)
                return lex_empty_piece(gcb);
            return pop_case_modifier(gcb);
        }
        if (!at_end)
            gcb->scan_pos += 2;
        gcb->lex_state = LEX_INTERPSTRING;
        return yylex(gcb);
    }
    char* s = p + 1;
    if (gcb->buffer_end - s >= 3 && ((s[0] == 'L' && s[1] == '\\' && s[2] == 'u') ||
                                     (s[0] == 'U' && s[1] == '\\' && s[2] == 'l'))) {
        char c = s[0];
        s[0] = s[2];
        s[2] = c;
    }
    if ((*s == 'L' || *s == 'U') &&
        (std::strchr(gcb->case_modifier_stack, 'L') || std::strchr(gcb->case_modifier_stack, 'U'))) {
        if (!gcb->piece_count)
            return lex_empty_piece(gcb);
        gcb->case_modifier_stack[--gcb->case_modifier_count] = 0;
        return ')';
    }
    int32_t type;
    switch (*s) {
    case 'l': type = OP_LCFIRST; break;
    case 'u': type = OP_UCFIRST; break;
    case 'L': type = OP_LC; break;
    case 'U': type = OP_UC; break;
    case 'Q': type = OP_QUOTEMETA; break;
    default: fatal_error(gcb, "panic: yylex");
    }
    // Nested \Q modifiers quote the text after them once for each: a few
    // dozen would fold a short text to gigabytes. A single one grows its
    // text linearly and is not bounded.
    if (*s == 'Q') {
        uint32_t open_quotes = 1;
        for (int32_t i = 0; i < gcb->case_modifier_count; i++)
            open_quotes += gcb->case_modifier_stack[i] == 'Q';
        uint64_t rest = static_cast<uint64_t>(gcb->buffer_end - (s + 1));
        if (open_quotes > 1 && (open_quotes >= 64 || rest > (QUOTE_TEXT_LIMIT >> open_quotes)))
            fatal_error(gcb, "\\Q nested %u deep would quote more than %lu bytes", open_quotes,
                        static_cast<unsigned long>(QUOTE_TEXT_LIMIT));
    }
    if (gcb->case_modifier_count > 10) {
        // The stack's block is the context's: the scope that allocated it
        // frees whichever block the field holds then.
        gcb->case_modifier_stack =
            static_cast<char*>(pool_realloc(gcb, gcb->case_modifier_stack, uint64_t(gcb->case_modifier_count) + 2));
    }
    gcb->case_modifier_stack[gcb->case_modifier_count++] = *s;
    gcb->case_modifier_stack[gcb->case_modifier_count] = 0;
    gcb->lex_state = LEX_INTERPSTRING;
    lex_queue_int(gcb, '(', 0);
    lex_queue_int(gcb, FUNC_PAREN, type);
    gcb->scan_pos = s + 1;
    // The modifier's parentheses hold new pieces: the first one inside is
    // not joined to what came before.
    if (gcb->piece_count) {
        gcb->piece_count = 0;
        return concatenation(gcb, gcb->scan_pos);
    }
    return yylex(gcb);
}

int32_t expression_end(PERLGCB* gcb)
{
    if (gcb->join_pending) {
        gcb->join_pending = 0;
        gcb->lex_state = LEX_INTERPSTRING;
        return ')';
    }
    SV* repl = gcb->replacement_text;
    if (gcb->quote_op_kind == OP_SUBST && repl && gcb->line_buffer == repl && (repl->flags & SVf_EVALED)) {
        if (gcb->scan_pos != gcb->buffer_end)
            fatal_error(gcb, "Bad evalled substitution pattern");
        gcb->replacement_text = nullptr;
    }
    return string_piece(gcb);
}

int32_t format_line(PERLGCB* gcb)
{
    gcb->lex_state = LEX_NORMAL;
    char* s = scan_format(gcb, gcb->scan_pos);
    if (!gcb->format_bracket_depth) {
        // The picture ends at its "." line, which stands for the closing
        // bracket; a picture that the end of the text cuts off has none.
        if (s >= gcb->buffer_end)
            return lex_close_curly_after(gcb, gcb->buffer_end);
        return lex_close_curly(gcb, s);
    }
    return lex_operator(gcb, s, ';');
}

int32_t normal_scan(PERLGCB* gcb);

}  // namespace

// ---- shared token returns ------------------------------------------------------

void lex_lower_statement_line(PERLGCB* gcb)
{
    int32_t line = current_line(gcb);
    if (gcb->statement_line > line)
        gcb->statement_line = line;
}

void lex_bracket_push(PERLGCB* gcb, char entry)
{
    // The stack starts with LEX_BRACKET_STACK bytes and doubles each time it
    // is full, so its size follows from the depth: full at LEX_BRACKET_STACK
    // times a power of two. Every deeper bracket comes through here.
    uint32_t depth = static_cast<uint32_t>(gcb->bracket_depth);
    if (depth >= LEX_BRACKET_STACK && depth % LEX_BRACKET_STACK == 0 && std::has_single_bit(depth / LEX_BRACKET_STACK))
        gcb->bracket_stack = static_cast<char*>(pool_realloc(gcb, gcb->bracket_stack, uint64_t(depth) * 2));
    gcb->bracket_stack[depth] = entry;
    gcb->bracket_depth = static_cast<int32_t>(depth + 1);
}

int32_t lex_token(PERLGCB* gcb, char* s, int32_t token)
{
    gcb->scan_pos = s;
    return token;
}

int32_t lex_operator(PERLGCB* gcb, char* s, int32_t token)
{
    gcb->expect = XTERM;
    return lex_token(gcb, s, token);
}

int32_t lex_term(PERLGCB* gcb, char* s, int32_t token)
{
    lex_lower_statement_line(gcb);
    gcb->expect = XOPERATOR;
    return lex_token(gcb, s, token);
}

int32_t lex_expecting(PERLGCB* gcb, char* s, int32_t token, int32_t expect)
{
    gcb->expect = expect;
    return lex_token(gcb, s, token);
}

int32_t lex_valued_operator(PERLGCB* gcb, char* s, int32_t token, int32_t type)
{
    gcb->token_value.ival = type;
    return lex_operator(gcb, s, token);
}

int32_t lex_assignable_operator(PERLGCB* gcb, char* s, int32_t token, int32_t type)
{
    return lex_operator_or_assign(gcb, lex_valued_operator(gcb, s, token, type));
}

int32_t lex_quoted_term(PERLGCB* gcb, char* s)
{
    lex_lower_statement_line(gcb);
    gcb->expect = XOPERATOR;
    gcb->scan_pos = s;
    return lex_quote_start(gcb);
}

namespace {

// Queues a token of the value v. Every caller queues at most five tokens
// between two reads; a sixth would write past the queue.
void queue_token(PERLGCB* gcb, int32_t type, token_val v)
{
    if (gcb->queued_count >= 5)
        fatal_error(gcb, "panic: yylex");
    gcb->queued_values[gcb->queued_count] = v;
    gcb->queued_types[gcb->queued_count++] = type;
    if (gcb->lex_state != LEX_KNOWNEXT) {
        gcb->deferred_state = gcb->lex_state;
        gcb->deferred_expect = gcb->expect;
        gcb->lex_state = LEX_KNOWNEXT;
    }
}

}  // namespace

void lex_queue_op(PERLGCB* gcb, int32_t token, OP* op)
{
    token_val v;
    v.op = op;
    queue_token(gcb, token, v);
}

void lex_queue_int(PERLGCB* gcb, int32_t token, int32_t value)
{
    token_val v;
    v.op = nullptr;
    v.ival = value;
    queue_token(gcb, token, v);
}

int32_t lex_operator_or_assign(PERLGCB* gcb, int32_t token)
{
    if (*gcb->scan_pos != '=')
        return token;
    gcb->scan_pos++;
    if (token == LOGICAL_OR)
        gcb->token_value.ival = OP_ORASSIGN;
    else if (token == LOGICAL_AND)
        gcb->token_value.ival = OP_ANDASSIGN;
    return ASSIGN_OP;
}

char* lex_push_word(PERLGCB* gcb, char* start, int32_t token, int32_t check_keyword, int32_t allow_package,
                    int32_t allow_tick)
{
    start = lex_skip_whitespace(gcb, start);
    char* s = start;
    if (!(ident_start_at(gcb, s) || (allow_package && *s == ':') || (allow_tick && *s == '\'')))
        return s;
    int32_t len = 0;
    s = scan_name_chars(gcb, s, gcb->token_buffer, sizeof gcb->token_buffer, allow_package, &len);
    if (check_keyword && keyword_lookup(gcb, gcb->token_buffer, len))
        return start;
    if (token == METHOD_NAME) {
        s = lex_skip_whitespace(gcb, s);
        gcb->expect = *s == '(' ? XTERM : XOPERATOR;
    }
    OP* o = op_new_value(gcb, OP_CONST, 0, sv_new_from_bytes(gcb, gcb->token_buffer, static_cast<uint64_t>(len)));
    o->op_private |= OPpCONST_BARE;
    lex_queue_op(gcb, token, o);
    return s;
}

void lex_check_unary_parens(PERLGCB* gcb)
{
    char* u = gcb->last_unary_pos;
    if (!u || u != gcb->prev_prev_token_pos)
        return;
    char* end = gcb->buffer_end;
    while (u < end && is_space(*u))
        u++;
    char* s = u;
    for (;;) {
        if (s < end && (is_word(*s) || *s == '-')) {
            s++;
        } else if (s < end && utf8_ident_start_at(gcb, s)) {
            s += utf8_skip_of(static_cast<uint8_t>(*s));
        } else {
            break;
        }
    }
    if (s > end)
        s = end;
    for (char* t = s; t < gcb->scan_pos && t < end; t++)
        if (*t == '(')
            return;
    if (warn_enabled_default(gcb, WARN_AMBIGUOUS))
        category_warning(gcb, WARN_AMBIGUOUS, "Warning: Use of \"%.*s\" without parens is ambiguous",
                         static_cast<int>(s - u), u);
}

// ---- the reader ---------------------------------------------------------------------

int32_t yylex(PERLGCB* gcb)
{
    if (gcb->pending_identifier)
        return resolve_identifier(gcb);

    switch (gcb->lex_state) {
    case LEX_KNOWNEXT: {
        int32_t n = --gcb->queued_count;
        gcb->token_value = gcb->queued_values[n];
        if (n == 0) {
            gcb->lex_state = gcb->deferred_state;
            gcb->expect = gcb->deferred_expect;
            gcb->deferred_state = LEX_NORMAL;
        }
        return gcb->queued_types[n];
    }
    case LEX_FORMLINE:
        return format_line(gcb);
    case LEX_INTERPPUSH:
        return lex_interpolation_begin(gcb);
    case LEX_INTERPSTART_EXPR:
        return expression_start(gcb);
    case LEX_INTERPENDMAYBE:
        if (lex_guess_subscript(gcb, gcb->scan_pos)) {
            gcb->lex_state = LEX_INTERPNORMAL;
            break;
        }
        return expression_end(gcb);
    case LEX_INTERPEND:
        return expression_end(gcb);
    case LEX_INTERPSTRING:
        return string_piece(gcb);
    case LEX_INTERPCASEMOD:
        return case_modifier(gcb);
    default:
        break;
    }
    return normal_scan(gcb);
}

namespace {

// ---- punctuation and operators ---------------------------------------------------

// File tests by their letter.
int32_t file_test_op(char c)
{
    switch (c) {
    case 'r': return OP_FTEREAD;
    case 'w': return OP_FTEWRITE;
    case 'x': return OP_FTEEXEC;
    case 'o': return OP_FTEOWNED;
    case 'R': return OP_FTRREAD;
    case 'W': return OP_FTRWRITE;
    case 'X': return OP_FTREXEC;
    case 'O': return OP_FTROWNED;
    case 'e': return OP_FTIS;
    case 'z': return OP_FTZERO;
    case 's': return OP_FTSIZE;
    case 'M': return OP_FTMTIME;
    case 'A': return OP_FTATIME;
    case 'C': return OP_FTCTIME;
    case 'S': return OP_FTSOCK;
    case 'c': return OP_FTCHR;
    case 'b': return OP_FTBLK;
    case 'f': return OP_FTFILE;
    case 'd': return OP_FTDIR;
    case 'p': return OP_FTPIPE;
    case 'l': return OP_FTLINK;
    case 'u': return OP_FTSUID;
    case 'g': return OP_FTSGID;
    case 'k': return OP_FTSVTX;
    case 't': return OP_FTTTY;
    case 'T': return OP_FTTEXT;
    case 'B': return OP_FTBINARY;
    default: return -1;
    }
}

// "-" or "+" as a sign: the unary-parens check unless white space stood
// before the sign and none follows it.
void sign_check(PERLGCB* gcb, char* s)
{
    if (is_space(*s) || !is_space(*gcb->prev_token_pos))
        lex_check_unary_parens(gcb);
}

int32_t minus(PERLGCB* gcb, char* s)
{
    if (s[1] && is_alpha(s[1]) && !is_word(s[2])) {
        s++;
        char* letter = s;
        char c = *s++;
        while (s < gcb->buffer_end && blank_or_tab(*s))
            s++;
        if (s[0] == '=' && s[1] == '>') {
            // -e => 1: the letter is a word quoted by "=>".
            s = lex_push_word(gcb, letter, BAREWORD, 0, 0, 0);
            return lex_operator(gcb, s, '-');
        }
        int32_t type = file_test_op(c);
        if (type < 0)
            fatal_error(gcb, "Unrecognized file test: -%c", c);
        if (c == 'M' || c == 'A' || c == 'C')
            gv_fetch_by_name(gcb, "\x14", GV_ADD, SVt_PV);
        gcb->last_unary_pos = gcb->prev_token_pos;
        gcb->last_list_op = static_cast<uint16_t>(type);
        return lex_valued_operator(gcb, s, NAMED_UNARY, type);
    }
    s++;
    if (*s == '-') {
        s++;
        if (gcb->expect == XOPERATOR)
            return lex_term(gcb, s, POST_DEC);
        return lex_operator(gcb, s, PRE_DEC);
    }
    if (*s == '>') {
        s = lex_skip_whitespace(gcb, s + 1);
        if (ident_start_at(gcb, s)) {
            s = lex_push_word(gcb, s, METHOD_NAME, 0, 1, 0);
            return lex_token(gcb, s, DEREF_ARROW);
        }
        if (*s == '$')
            return lex_operator(gcb, s, DEREF_ARROW);
        return lex_term(gcb, s, DEREF_ARROW);
    }
    if (gcb->expect == XOPERATOR)
        return lex_assignable_operator(gcb, s, ADD_OP, OP_SUBTRACT);
    sign_check(gcb, s);
    return lex_operator(gcb, s, '-');
}

int32_t plus(PERLGCB* gcb, char* s)
{
    s++;
    if (*s == '+') {
        s++;
        if (gcb->expect == XOPERATOR)
            return lex_term(gcb, s, POST_INC);
        return lex_operator(gcb, s, PRE_INC);
    }
    if (gcb->expect == XOPERATOR)
        return lex_assignable_operator(gcb, s, ADD_OP, OP_ADD);
    sign_check(gcb, s);
    return lex_operator(gcb, s, '+');
}

int32_t star(PERLGCB* gcb, char* s)
{
    if (gcb->expect != XOPERATOR) {
        s = scan_variable_name(gcb, s, gcb->buffer_end, gcb->token_buffer, sizeof gcb->token_buffer, 1);
        gcb->expect = XOPERATOR;
        lex_push_identifier(gcb, gcb->token_buffer, '*');
        if (!gcb->token_buffer[0])
            return lex_expecting(gcb, s, '*', XREF);
        return lex_term(gcb, s, '*');
    }
    s++;
    if (*s == '*')
        return lex_assignable_operator(gcb, s + 1, POW_OP, OP_POW);
    return lex_assignable_operator(gcb, s, MUL_OP, OP_MULTIPLY);
}

int32_t percent(PERLGCB* gcb, char* s)
{
    if (gcb->expect == XOPERATOR)
        return lex_assignable_operator(gcb, s + 1, MUL_OP, OP_MODULO);
    gcb->token_buffer[0] = '%';
    s = scan_variable_name(gcb, s, gcb->buffer_end, gcb->token_buffer + 1, sizeof gcb->token_buffer - 1, 1);
    if (!gcb->token_buffer[1]) {
        if (s == gcb->buffer_end)
            compile_error(gcb, "Final % should be \\% or %name");
        return lex_expecting(gcb, s, '%', XREF);
    }
    gcb->pending_identifier = '%';
    return lex_term(gcb, s, '%');
}

int32_t ampersand(PERLGCB* gcb, char* s)
{
    s++;
    if (*s == '&')
        return lex_operator_or_assign(gcb, lex_operator(gcb, s + 1, LOGICAL_AND));
    if (gcb->expect == XOPERATOR) {
        if (ident_start_at(gcb, s) && gcb->prev_token_pos == gcb->line_start &&
            warn_enabled(gcb, WARN_SEMICOLON)) {
            gcb->current_statement->cop_line--;
            category_warning(gcb, WARN_SEMICOLON, "Semicolon seems to be missing");
            gcb->current_statement->cop_line++;
        }
        return lex_assignable_operator(gcb, s, BIT_AND_OP, OP_BIT_AND);
    }
    gcb->token_buffer[0] = '&';
    s = scan_variable_name(gcb, s - 1, gcb->buffer_end, gcb->token_buffer + 1, sizeof gcb->token_buffer - 1, 1);
    if (!gcb->token_buffer[1])
        return lex_expecting(gcb, s, '&', XREF);
    gcb->expect = XOPERATOR;
    lex_push_identifier(gcb, gcb->token_buffer + 1, '&');
    gcb->token_value.ival = AMPER_CALL_FLAGS;
    return lex_term(gcb, s, '&');
}

int32_t vertical_bar(PERLGCB* gcb, char* s)
{
    s++;
    if (*s == '|')
        return lex_operator_or_assign(gcb, lex_operator(gcb, s + 1, LOGICAL_OR));
    return lex_assignable_operator(gcb, s, BIT_OR_OP, OP_BIT_OR);
}

// The opening curly bracket; s is after it.
int32_t open_curly(PERLGCB* gcb, char* s)
{
    bool after_list_op = gcb->prev_prev_token_pos == gcb->last_list_op_pos;
    switch (gcb->expect) {
    case XTERM:
        if (gcb->format_bracket_depth)
            return lex_expecting(gcb, s - 1, KW_DO, XTERMBLOCK);
        lex_bracket_push(gcb, static_cast<char>(after_list_op ? XTERM : XOPERATOR));
        return lex_operator(gcb, s, ANON_HASH_OPEN);
    case XOPERATOR: {
        // A subscript: a lone word (or -word) inside is a quoted key.
        while (s < gcb->buffer_end && blank_or_tab(*s))
            s++;
        char* d = s;
        bool neg = false;
        if (d < gcb->buffer_end && *d == '-') {
            neg = true;
            d++;
            while (d < gcb->buffer_end && blank_or_tab(*d))
                d++;
        }
        if (d < gcb->buffer_end && ident_start_at(gcb, d)) {
            char word[256];
            int32_t len = 0;
            d = scan_name_chars(gcb, d, word, sizeof word, 0, &len);
            while (d < gcb->buffer_end && blank_or_tab(*d))
                d++;
            if (*d == '}') {
                s = lex_push_word(gcb, s + (neg ? 1 : 0), BAREWORD, 0, 1, 0);
                OP* o = gcb->queued_values[gcb->queued_count - 1].op;
                if (lex_utf8_source(gcb) && o &&
                    utf8_check_string(gcb, reinterpret_cast<const uint8_t*>(gcb->token_buffer),
                                      std::strlen(gcb->token_buffer)))
                    op_value_sv(o)->flags |= SVf_UTF8;
                if (neg)
                    lex_queue_int(gcb, '-', 0);
            }
        }
        lex_bracket_push(gcb, static_cast<char>(XSTATE));
        gcb->expect = XSTATE;
        break;
    }
    case XATTRBLOCK:
    case XBLOCK:
        lex_bracket_push(gcb, static_cast<char>(XSTATE));
        gcb->expect = XSTATE;
        break;
    case XATTRTERM:
    case XTERMBLOCK:
        lex_bracket_push(gcb, static_cast<char>(XOPERATOR));
        gcb->expect = XSTATE;
        break;
    default: {
        // A reference or a statement: an anonymous hash or a block, told by
        // the first term inside.
        lex_bracket_push(gcb, static_cast<char>(after_list_op ? XTERM : XOPERATOR));
        s = lex_skip_whitespace(gcb, s);
        if (*s == '}')
            return lex_operator(gcb, s, ANON_HASH_OPEN);
        char* end = gcb->buffer_end;
        char* t = s;
        if (*s == '\'' || *s == '"' || *s == '`') {
            for (t++; t < end && *t != *s;)
                if (*t++ == '\\' && t < end && (*t == '\\' || *t == *s))
                    t++;
            t++;
        } else if (*s == 'q') {
            if (++t < end && (!is_word(*t) || ((*t == 'q' || *t == 'x') && ++t < end && !is_word(*t)))) {
                while (t < end && is_space(*t))
                    t++;
                char open = t < end ? *t : 0;
                char close = open;
                if (open) {
                    static const char pairs[] = "([{< )]}> )]}>";
                    if (const char* p = std::strchr(pairs, open))
                        close = p[5];
                }
                if (open == close) {
                    for (t++; t < end; t++) {
                        if (*t == '\\' && t + 1 < end && open != '\\')
                            t++;
                        else if (*t == open)
                            break;
                    }
                } else {
                    int32_t depth = 1;
                    for (t++; t < end; t++) {
                        if (*t == '\\' && t + 1 < end)
                            t++;
                        else if (*t == close && --depth <= 0)
                            break;
                        else if (*t == open)
                            depth++;
                    }
                }
            }
            t++;
        } else if (t < end && (is_word(*t) || utf8_ident_start_at(gcb, t))) {
            while (t < end && (is_word(*t) || utf8_ident_start_at(gcb, t)))
                t += static_cast<uint8_t>(*t) >= 0xC0 ? utf8_skip_of(static_cast<uint8_t>(*t)) : 1;
        }
        while (t < end && is_space(*t))
            t++;
        if (t < end && ((*t == ',' && (*s == 'q' || !(host_cclass(static_cast<uint8_t>(*s)) & HC_LOWER))) ||
                        (*t == '=' && t + 1 < end && t[1] == '>')))
            return lex_operator(gcb, s, ANON_HASH_OPEN);
        if (gcb->expect == XREF) {
            gcb->expect = XTERM;
        } else {
            gcb->bracket_stack[gcb->bracket_depth - 1] = static_cast<char>(XSTATE);
            gcb->expect = XSTATE;
        }
        break;
    }
    }
    gcb->token_value.ival = current_line(gcb);
    if (is_space(*s) || *s == '#')
        gcb->statement_line = 65535;
    return lex_token(gcb, s, '{');
}

int32_t equals(PERLGCB* gcb, char* s)
{
    s++;
    char c = *s++;
    if (c == '=')
        return lex_valued_operator(gcb, s, EQ_OP, OP_EQ);
    if (c == '>')
        return lex_operator(gcb, s, ',');
    if (c == '~')
        return lex_valued_operator(gcb, s, BIND_OP, OP_MATCH);
    if (c && is_space(*s) && one_of(c, "+-*/%.^&|<") && warn_enabled(gcb, WARN_SYNTAX))
        category_warning(gcb, WARN_SYNTAX, "Reversed %c= operator", c);
    s--;
    if (gcb->expect == XSTATE && is_alpha(c) && (s == gcb->line_start + 1 || s[-2] == '\n')) {
        // Documentation at the start of a statement.
        char* end = gcb->buffer_end;
        if (gcb->in_eval && !gcb->source_handle) {
            while (s < end) {
                if (*s++ == '\n') {
                    lex_line_directive(gcb, s);
                    if (end - s >= 4 && std::memcmp(s, "=cut", 4) == 0) {
                        while (s < end && *s != '\n')
                            s++;
                        if (s < end)
                            s++;
                        lex_line_directive(gcb, s);
                        break;
                    }
                }
            }
            gcb->scan_pos = s;
            return LEX_RESCAN;
        }
        gcb->doc_skipping = 1;
        gcb->scan_pos = end;
        return LEX_RESCAN;
    }
    if (gcb->bracket_depth < gcb->format_bracket_depth) {
        char* t = s;
        while (blank_or_tab(*t) || *t == '\r')
            t++;
        if (*t == '\n' || *t == '#') {
            gcb->expect = XBLOCK;
            return open_curly(gcb, s);
        }
    }
    gcb->token_value.ival = 0;
    return lex_operator(gcb, s, ASSIGN_OP);
}

int32_t bang(PERLGCB* gcb, char* s)
{
    s++;
    if (*s == '=')
        return lex_valued_operator(gcb, s + 1, EQ_OP, OP_NE);
    if (*s == '~')
        return lex_valued_operator(gcb, s + 1, BIND_OP, OP_NOT);
    return lex_operator(gcb, s, '!');
}

int32_t less_than(PERLGCB* gcb, char* s)
{
    if (gcb->expect != XOPERATOR) {
        if (s[1] != '<' && !std::memchr(s, '>', static_cast<size_t>(gcb->buffer_end - s)))
            lex_check_unary_parens(gcb);
        s = s[1] == '<' ? scan_here_document(gcb, s) : scan_input_operator(gcb, s);
        return lex_quoted_term(gcb, s);
    }
    s++;
    if (*s == '<')
        return lex_assignable_operator(gcb, s + 1, SHIFT_OP, OP_LEFT_SHIFT);
    if (*s == '=') {
        if (s[1] == '>')
            return lex_valued_operator(gcb, s + 2, EQ_OP, OP_NCMP);
        return lex_valued_operator(gcb, s + 1, REL_OP, OP_LE);
    }
    return lex_valued_operator(gcb, s, REL_OP, OP_LT);
}

int32_t greater_than(PERLGCB* gcb, char* s)
{
    s++;
    if (*s == '>')
        return lex_assignable_operator(gcb, s + 1, SHIFT_OP, OP_RIGHT_SHIFT);
    if (*s == '=')
        return lex_valued_operator(gcb, s + 1, REL_OP, OP_GE);
    return lex_valued_operator(gcb, s, REL_OP, OP_GT);
}

// A term where a format's argument line expects a comma: the comma is
// supplied and the term read on the next call.
bool commaless_format_term(PERLGCB* gcb)
{
    if (gcb->expect != XOPERATOR || !gcb->format_bracket_depth || gcb->bracket_depth != gcb->format_bracket_depth)
        return false;
    gcb->expect = XTERM;
    warn_commaless_list(gcb);
    return true;
}

// Whether a word at s, after a variable that may be a handle, begins the
// list (print $fh length ...).
bool word_starts_list(PERLGCB* gcb, char* s)
{
    char word[256];
    int32_t len = 0;
    scan_name_chars(gcb, s, word, sizeof word, 1, &len);
    int32_t kw = keyword_lookup(gcb, word, len);
    if (kw) {
        switch (kw) {
        case -KEY_x:
        case -KEY_eq:
        case -KEY_ne:
        case -KEY_gt:
        case -KEY_lt:
        case -KEY_ge:
        case -KEY_le:
        case -KEY_cmp:
            return false;
        default:
            return true;
        }
    }
    GV* gv = gv_fetch_by_name(gcb, word, 0, SVt_PVCV);
    return gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) && gv_gp(gv)->gp_cv && !gv_gp(gv)->gp_cvgen;
}

int32_t dollar(PERLGCB* gcb, char* s)
{
    lex_lower_statement_line(gcb);
    if (commaless_format_term(gcb))
        return ',';

    char* end = gcb->buffer_end;
    if (s[1] == '#' && (ident_start_at(gcb, s + 2) || one_of(s[2], "{$:+-"))) {
        gcb->token_buffer[0] = '@';
        s = scan_variable_name(gcb, s + 1, end, gcb->token_buffer + 1, sizeof gcb->token_buffer - 1, 0);
        if (gcb->expect == XOPERATOR)
            lex_operator_expected(gcb, "Array length", s);
        if (!gcb->token_buffer[1])
            return lex_expecting(gcb, s, ARRAY_LAST_INDEX, XREF);
        gcb->expect = XOPERATOR;
        gcb->pending_identifier = '#';
        return lex_token(gcb, s, ARRAY_LAST_INDEX);
    }

    gcb->token_buffer[0] = '$';
    s = scan_variable_name(gcb, s, end, gcb->token_buffer + 1, sizeof gcb->token_buffer - 1, 0);
    if (gcb->expect == XOPERATOR)
        lex_operator_expected(gcb, "Scalar", s);
    if (!gcb->token_buffer[1]) {
        if (s == gcb->buffer_end)
            compile_error(gcb, "Final $ should be \\$ or $name");
        return lex_expecting(gcb, s, '$', XREF);
    }
    if (gcb->token_buffer[1] == '[' && !gcb->token_buffer[2]) {
        // $[, the array base.
        int32_t base = gcb->current_statement ? gcb->current_statement->cop_arybase : 0;
        OP* o = op_new_value(gcb, OP_CONST, 0, sv_new_from_int(gcb, base));
        o->op_private = OPpCONST_ARYBASE;
        gcb->token_value.op = o;
        return lex_term(gcb, s, TERM_OP);
    }

    char after = *s;
    if (gcb->lex_state == LEX_NORMAL)
        s = lex_skip_whitespace(gcb, s);
    end = gcb->buffer_end;
    if ((gcb->expect != XREF || gcb->prev_prev_token_pos == gcb->last_list_op_pos) && lex_guess_subscript(gcb, s)) {
        if (*s == '[') {
            gcb->token_buffer[0] = '@';
            if (warn_enabled(gcb, WARN_SYNTAX)) {
                char* t = s + 1;
                while (t < end && (is_space(*t) || is_word(*t) || *t == '$'))
                    t++;
                if (t < end && *t++ == ',') {
                    char* from = lex_skip_whitespace(gcb, gcb->scan_pos);
                    while (t < end && *t != ']')
                        t++;
                    int32_t n = static_cast<int32_t>(t - from) + (t < end ? 1 : 0);
                    category_warning(gcb, WARN_SYNTAX, "Multidimensional syntax %.*s not supported", n, from);
                }
            }
        } else if (*s == '{') {
            gcb->token_buffer[0] = '%';
            if (warn_enabled(gcb, WARN_SYNTAX) && std::strcmp(gcb->token_buffer + 1, "SIG") == 0) {
                const char* t = static_cast<const char*>(std::memchr(s, '}', static_cast<size_t>(end - s)));
                if (t)
                    t = static_cast<const char*>(std::memchr(t, '=', static_cast<size_t>(end - t)));
                if (t) {
                    char* w = const_cast<char*>(t) + 1;
                    while (w < end && is_space(*w))
                        w++;
                    if (ident_start_at(gcb, w)) {
                        char word[256];
                        int32_t len = 0;
                        w = scan_name_chars(gcb, w, word, sizeof word, 1, &len);
                        while (w < end && is_space(*w))
                            w++;
                        GV* gv = *w == ';' ? gv_fetch_by_name(gcb, word, 0, SVt_PVCV) : nullptr;
                        if (gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) && gv_gp(gv)->gp_cv)
                            category_warning(gcb, WARN_SYNTAX, "You need to quote \"%s\"", word);
                    }
                }
            }
        }
    }

    gcb->expect = XOPERATOR;
    if (gcb->lex_state == LEX_NORMAL && is_space(after)) {
        bool after_list_op = gcb->last_list_op_pos == gcb->prev_prev_token_pos;
        if (!after_list_op || gcb->last_list_op == OP_GREPSTART)
            gcb->expect = XOPERATOR;
        else if (one_of(*s, "$@\"'`q"))
            gcb->expect = XTERM;  // print $fh "text"
        else if (one_of(*s, "&*<%") && ident_start_at(gcb, s + 1))
            gcb->expect = XTERM;  // print $fh &sub
        else if (ident_start_at(gcb, s)) {
            if (word_starts_list(gcb, s))
                gcb->expect = XTERM;  // print $fh length()
        } else if (is_digit(*s))
            gcb->expect = XTERM;  // print $fh 3
        else if (*s == '.' && is_digit(s[1]))
            gcb->expect = XTERM;  // print $fh .3
        else if (one_of(*s, "/?-+") && !is_space(s[1]) && s[1] != '=')
            gcb->expect = XTERM;  // print $fh -1
        else if (*s == '<' && s[1] == '<' && !is_space(s[2]) && s[2] != '=')
            gcb->expect = XTERM;  // print $fh <<"EOF"
    }
    gcb->pending_identifier = '$';
    return lex_token(gcb, s, '$');
}

int32_t at_sign(PERLGCB* gcb, char* s)
{
    if (gcb->expect == XOPERATOR)
        lex_operator_expected(gcb, "Array", s);
    gcb->token_buffer[0] = '@';
    s = scan_variable_name(gcb, s, gcb->buffer_end, gcb->token_buffer + 1, sizeof gcb->token_buffer - 1, 0);
    if (!gcb->token_buffer[1]) {
        if (s == gcb->buffer_end)
            compile_error(gcb, "Final @ should be \\@ or @name");
        return lex_expecting(gcb, s, '@', XREF);
    }
    if (gcb->lex_state == LEX_NORMAL)
        s = lex_skip_whitespace(gcb, s);
    if ((gcb->expect != XREF || gcb->prev_prev_token_pos == gcb->last_list_op_pos) && lex_guess_subscript(gcb, s)) {
        if (*s == '{')
            gcb->token_buffer[0] = '%';
        if (warn_enabled(gcb, WARN_SYNTAX) && (*s == '[' || *s == '{')) {
            char* end = gcb->buffer_end;
            char* t = s + 1;
            while (t < end && (is_word(*t) || one_of(*t, " \t$#+-'\"")))
                t++;
            if (t < end && (*t == '}' || *t == ']')) {
                t++;
                char* from = lex_skip_whitespace(gcb, gcb->scan_pos);
                int32_t n = static_cast<int32_t>(t - from);
                category_warning(gcb, WARN_SYNTAX, "Scalar value %.*s better written as $%.*s", n, from, n - 1,
                                 from + 1);
            }
        }
    }
    gcb->pending_identifier = '@';
    return lex_term(gcb, s, '@');
}

int32_t slash_or_question(PERLGCB* gcb, char* s)
{
    if (gcb->expect != XOPERATOR) {
        char* u = gcb->last_unary_pos;
        bool after_study = u && gcb->prev_prev_token_pos == u && gcb->buffer_end - u >= 5 &&
                           std::memcmp(u, "study", 5) == 0 && !is_word(u[5]);
        if (!after_study)
            lex_check_unary_parens(gcb);
        s = scan_pattern(gcb, s, OP_MATCH);
        return lex_quoted_term(gcb, s);
    }
    char c = *s++;
    if (c == '/')
        return lex_assignable_operator(gcb, s, MUL_OP, OP_DIVIDE);
    return lex_operator(gcb, s, c);
}

int32_t number(PERLGCB* gcb, char* s)
{
    OP* o = nullptr;
    s = scan_num(gcb, s, &o);
    gcb->token_value.op = o;
    if (gcb->expect == XOPERATOR)
        lex_operator_expected(gcb, "Number", s);
    return lex_term(gcb, s, TERM_OP);
}

int32_t dot(PERLGCB* gcb, char* s)
{
    if (gcb->format_bracket_depth && gcb->bracket_depth == gcb->format_bracket_depth &&
        (s == gcb->line_start || s[-1] == '\n') && (s[1] == '\n' || (s[1] == '\r' && s[2] == '\n'))) {
        gcb->format_bracket_depth = 0;
        gcb->expect = XSTATE;
        return lex_close_curly(gcb, s);
    }
    if (gcb->expect == XOPERATOR || !is_digit(s[1])) {
        s++;
        if (*s == '.') {
            s++;
            int32_t flags = 0;
            if (*s == '.') {
                s++;
                flags = OPf_SPECIAL;
            }
            return lex_valued_operator(gcb, s, RANGE_OP, flags);
        }
        if (gcb->expect != XOPERATOR)
            lex_check_unary_parens(gcb);
        return lex_assignable_operator(gcb, s, ADD_OP, OP_CONCAT);
    }
    return number(gcb, s);
}

// A quoted string: "'", '"' or "`".
int32_t quoted_string(PERLGCB* gcb, char* s)
{
    char quote = *s;
    if (commaless_format_term(gcb))
        return lex_token(gcb, s, ',');
    s = scan_delimited(gcb, s, 0, 0);
    if (gcb->expect == XOPERATOR)
        lex_operator_expected(gcb, quote == '`' ? "Backticks" : "String", s);
    if (!s)
        lex_missing_terminator(gcb);
    int32_t type = quote == '`' ? OP_BACKTICK : OP_CONST;
    if (quote == '"') {
        uint64_t len = 0;
        const char* d = sv_text(gcb, gcb->quote_body, &len);
        for (uint64_t i = 0; i < len; i++) {
            if (d[i] == '$' || d[i] == '@' || d[i] == '\\' || static_cast<uint8_t>(d[i]) >= 0x80) {
                type = OP_STRINGIFY;
                break;
            }
        }
    }
    gcb->token_value.ival = type;
    return lex_quoted_term(gcb, s);
}

int32_t backslash(PERLGCB* gcb, char* s)
{
    s++;
    if (gcb->quote_op_kind && is_digit(*s) && warn_enabled(gcb, WARN_SYNTAX))
        category_warning(gcb, WARN_SYNTAX, "Can't use \\%c to mean $%c in expression", *s, *s);
    if (gcb->expect == XOPERATOR)
        lex_operator_expected(gcb, "Backslash", s);
    return lex_operator(gcb, s, REF_GEN);
}

// "v" and a digit: a version string unless it reads as a word.
int32_t letter_v(PERLGCB* gcb, char* s)
{
    if (is_digit(s[1]) && gcb->expect != XOPERATOR) {
        char* start = s + 2;
        while (is_digit(*start) || *start == '_')
            start++;
        bool version = *start == '.' && is_digit(start[1]);
        if (!version && !is_alpha(*start) && (gcb->expect == XTERM || gcb->expect == XREF)) {
            char name[256];
            size_t n = static_cast<size_t>(start - s);
            version = true;
            if (n < sizeof name) {
                std::memcpy(name, s, n);
                name[n] = 0;
                GV* gv = gv_fetch_by_name(gcb, name, 0, SVt_PVCV);
                version = !gv;
            }
        }
        if (version) {
            OP* o = nullptr;
            char* t = scan_num(gcb, s, &o);
            if (o) {
                gcb->token_value.op = o;
                return lex_term(gcb, t, TERM_OP);
            }
        }
    }
    return lex_word(gcb, s);
}

int32_t letter_x(PERLGCB* gcb, char* s)
{
    if (is_digit(s[1]) && gcb->expect == XOPERATOR)
        return lex_assignable_operator(gcb, s + 1, MUL_OP, OP_REPEAT);
    return lex_word(gcb, s);
}

int32_t close_square(PERLGCB* gcb, char* s)
{
    s++;
    if (gcb->bracket_depth <= 0)
        compile_error(gcb, "Unmatched right square bracket");
    else
        gcb->bracket_depth--;
    if (gcb->lex_state == LEX_INTERPNORMAL && gcb->bracket_depth == 0 && *s != '[' && *s != '{' &&
        !(s[0] == '-' && s[1] == '>'))
        gcb->lex_state = LEX_INTERPEND;
    return lex_term(gcb, s, ']');
}

int32_t default_case(PERLGCB* gcb, char* s)
{
    if (utf8_ident_start_at(gcb, s) || is_alpha(*s) || *s == '_')
        return lex_word(gcb, s);
    fatal_error(gcb, "Unrecognized character \\x%02X", static_cast<uint32_t>(static_cast<uint8_t>(*s)));
}

// Code-value flags that attributes set beside CVf_LVALUE.
constexpr uint16_t CV_FLAG_METHOD = 0x40;
constexpr uint16_t CV_FLAG_LOCKED = 0x80;

// Keywords that end an attribute list (a statement modifier or a low
// precedence operator after a declaration).
bool ends_attributes(int32_t kw)
{
    switch (kw < 0 ? -kw : kw) {
    case KEY_or:
    case KEY_and:
    case KEY_for:
    case KEY_unless:
    case KEY_if:
    case KEY_while:
    case KEY_until: return true;
    default: return false;
    }
}

// ":" and the attribute lists of declarations and subs.
int32_t colon(PERLGCB* gcb, char* s)
{
    if (s[1] == ':')
        return lex_word(gcb, s);
    s++;
    switch (gcb->expect) {
    case XOPERATOR:
        if (!gcb->declaring || gcb->lex_state != LEX_NORMAL)
            return lex_operator(gcb, s, ':');
        break;
    case XATTRBLOCK: gcb->expect = XBLOCK; break;
    case XATTRTERM: gcb->expect = XTERMBLOCK; break;
    default: return lex_operator(gcb, s, ':');
    }
    char* back = s;
    s = lex_skip_whitespace(gcb, s);
    OP* attrs = nullptr;
    bool stopped_at_keyword = false;
    while (ident_start_at(gcb, s)) {
        int32_t len = 0;
        char* d = scan_name_chars(gcb, s, gcb->token_buffer, sizeof gcb->token_buffer, 0, &len);
        if ((host_cclass(static_cast<uint8_t>(*s)) & HC_LOWER) &&
            ends_attributes(keyword_lookup(gcb, gcb->token_buffer, len))) {
            stopped_at_keyword = true;
            break;
        }
        if (*d == '(') {
            d = scan_delimited(gcb, d, 1, 1);
            if (!d) {
                gcb->scan_pos = s + len;
                compile_error(gcb, "Unterminated attribute parameter in attribute list");
                op_free_tree(gcb, attrs);
                return 0;
            }
        }
        SV* text = sv_new_from_bytes(gcb, s, static_cast<uint64_t>(len));
        if (gcb->quote_body) {
            sv_append_sv(gcb, text, gcb->quote_body);
            sv_release(gcb, gcb->quote_body);
            gcb->quote_body = nullptr;
        } else if (!gcb->declaring && len == 6 && gcb->compile_cv) {
            uint16_t& flags = cv_body(gcb->compile_cv)->cvflags;
            if (std::memcmp(s, "lvalue", 6) == 0)
                flags |= CVf_LVALUE;
            else if (std::memcmp(s, "locked", 6) == 0)
                flags |= CV_FLAG_LOCKED;
            else if (std::memcmp(s, "method", 6) == 0)
                flags |= CV_FLAG_METHOD;
        }
        attrs = op_list_append(gcb, OP_LIST, attrs, op_new_value(gcb, OP_CONST, 0, text));
        s = lex_skip_whitespace(gcb, d);
        if (*s == ':' && s[1] != ':')
            s = lex_skip_whitespace(gcb, s + 1);
        else if (s == d)
            break;
    }
    if (!stopped_at_keyword) {
        char term = gcb->expect == XOPERATOR ? '=' : '{';
        if (*s != ';' && *s != term && (term != '=' || *s != ')')) {
            if (term == '=' && !attrs)
                return lex_operator(gcb, back, ':');
            char q = *s == '\'' ? '"' : '\'';
            gcb->scan_pos = s;
            if (s >= gcb->buffer_end || !*s)
                compile_error(gcb, "Unterminated attribute list");
            else
                op_compile_error(gcb, "Invalid separator character %c%c%c in attribute list", q, *s, q);
            op_free_tree(gcb, attrs);
            return lex_operator(gcb, s, ':');
        }
    }
    if (attrs)
        lex_queue_op(gcb, TERM_OP, attrs);
    return lex_token(gcb, s, ATTR_COLON);
}

// One case of the normal scan at s: a token, or LEX_RESCAN with scan_pos
// where scanning goes on.
int32_t scan_one(PERLGCB* gcb, char* s)
{
    switch (*s) {
    case 0: return lex_nul_byte(gcb, s);
    case 4:
    case 26: return lex_end_of_file(gcb, s);
    case '#':
    case '\n': return lex_comment_or_newline(gcb, s);
    case '-': return minus(gcb, s);
    case '+': return plus(gcb, s);
    case '*': return star(gcb, s);
    case '%': return percent(gcb, s);
    case '^': return lex_assignable_operator(gcb, s + 1, BIT_OR_OP, OP_BIT_XOR);
    case '[':
        // The square bracket only counts, but has its entry all the same:
        // a "}" that closes it by mistake pops a known byte.
        lex_bracket_push(gcb, static_cast<char>(XOPERATOR));
        return lex_operator(gcb, s + 1, '[');
    case '~':
    case ',': return lex_operator(gcb, s + 1, *s);
    case ':': return colon(gcb, s);
    case '(':
        if (gcb->prev_prev_token_pos == gcb->last_list_op_pos || gcb->prev_prev_token_pos == gcb->last_unary_pos)
            gcb->prev_token_pos = gcb->prev_prev_token_pos;  // print(STDOUT 1): the handle still follows the operator
        else
            gcb->expect = XTERM;
        return lex_token(gcb, s + 1, '(');
    case ';':
        lex_lower_statement_line(gcb);
        return lex_operator(gcb, s + 1, ';');
    case ')': {
        char* t = lex_skip_whitespace(gcb, s + 1);
        if (*t == '{')
            return lex_expecting(gcb, t, ')', XBLOCK);
        return lex_term(gcb, t, ')');
    }
    case ']': return close_square(gcb, s);
    case '{': return open_curly(gcb, s + 1);
    case '}': return lex_close_curly(gcb, s);
    case '&': return ampersand(gcb, s);
    case '|': return vertical_bar(gcb, s);
    case '=': return equals(gcb, s);
    case '!': return bang(gcb, s);
    case '<': return less_than(gcb, s);
    case '>': return greater_than(gcb, s);
    case '$': return dollar(gcb, s);
    case '@': return at_sign(gcb, s);
    case '/':
    case '?': return slash_or_question(gcb, s);
    case '.': return dot(gcb, s);
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': return number(gcb, s);
    case '\'':
    case '"':
    case '`': return quoted_string(gcb, s);
    case '\\': return backslash(gcb, s);
    case 'v': return letter_v(gcb, s);
    case 'x': return letter_x(gcb, s);
    default:
        if (is_alpha(*s) || *s == '_')
            return lex_word(gcb, s);
        return default_case(gcb, s);
    }
}

int32_t normal_scan(PERLGCB* gcb)
{
    // scan_pos stays at the start of the scan (before any white space)
    // while the cases run: the diagnostics quote the text from there.
    char* s = gcb->scan_pos;
    gcb->prev_prev_token_pos = gcb->prev_token_pos;
    gcb->prev_token_pos = s;
    for (;;) {
        if (*s == ' ' || *s == '\t' || *s == '\v' || *s == '\f' || *s == '\r') {
            s++;
            continue;
        }
        char* entry = gcb->scan_pos;
        char* token_start = gcb->prev_token_pos;
        SV* buffer = gcb->line_buffer;
        char* text = sv_pv(buffer);
        int32_t token = scan_one(gcb, s);
        if (token != LEX_RESCAN)
            return token;
        // The case left the position to go on from in scan_pos. A case that
        // put new text in the buffer has set every position anew. No case
        // goes past the end of the text: the NUL there ends it.
        s = gcb->scan_pos;
        if (s < sv_pv(gcb->line_buffer) || s > gcb->buffer_end)
            fatal_error(gcb, "panic: yylex");
        if (gcb->line_buffer == buffer && sv_pv(buffer) == text && gcb->prev_token_pos == token_start &&
            entry <= gcb->buffer_end)
            gcb->scan_pos = entry;
    }
}

}  // namespace

int32_t lex_close_curly(PERLGCB* gcb, char* s) { return lex_close_curly_after(gcb, s + 1); }

int32_t lex_close_curly_after(PERLGCB* gcb, char* s)
{
    uint8_t popped = 0;
    if (gcb->bracket_depth <= 0) {
        compile_error(gcb, "Unmatched right curly bracket");
    } else {
        popped = static_cast<uint8_t>(gcb->bracket_stack[--gcb->bracket_depth]);
        gcb->expect = popped & 0x7F;
    }
    if (gcb->bracket_depth < gcb->format_bracket_depth && gcb->lex_state != LEX_INTERPNORMAL)
        gcb->format_bracket_depth = 0;
    if (gcb->lex_state == LEX_INTERPNORMAL && gcb->bracket_depth == 0) {
        if (popped & BRACKET_IN_NAME) {
            gcb->lex_state = LEX_INTERPEND;
            gcb->scan_pos = s;
            return yylex(gcb);
        }
        if (s[0] == '-' && s[1] == '>')
            gcb->lex_state = LEX_INTERPENDMAYBE;
        else if (*s != '[' && *s != '{')
            gcb->lex_state = LEX_INTERPEND;
    }
    if (popped & BRACKET_IN_NAME) {
        gcb->scan_pos = s;
        return yylex(gcb);
    }
    lex_queue_int(gcb, '}', 0);
    return lex_token(gcb, s, ';');
}
