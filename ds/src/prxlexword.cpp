// The token reader's words: labels, words quoted by "=>", keywords and
// their overrides, CORE:: and CORE::GLOBAL::, the cases of each keyword,
// sub and format declarations, and ordinary words (sub calls, method calls,
// indirect objects and bare words).
#include <cstring>

#include "host/hostif.h"
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

// Code-value flag of a method sub.
constexpr uint16_t CV_FLAG_METHOD = 0x40;
// PRIVATE bit of a sub call written without parentheses.
constexpr uint8_t OPpENTERSUB_NOPAREN = 0x80;

// The name of the package being compiled, for __PACKAGE__ and the full
// names of subs: its stash's own name, so that it follows every switch of
// the package (a string eval compiles in the package of the statement that
// runs it). Without a stash, or one without a name, the name that the
// package statement set ("<none>" after a nameless one). Null for none.
const char* compile_package_name(PERLGCB* gcb, uint64_t* len)
{
    HV* stash = gcb->current_package;
    if (stash && hv_body(stash)->name) {
        *len = std::strlen(hv_body(stash)->name);
        return hv_body(stash)->name;
    }
    *len = 0;
    return gcb->current_package_name ? sv_text(gcb, gcb->current_package_name, len) : nullptr;
}

bool utf8_word_at(PERLGCB* gcb, const char* s)
{
    return static_cast<uint8_t>(*s) >= 0xC0 && lex_utf8_source(gcb) &&
           utf8_is_word(gcb, reinterpret_cast<const uint8_t*>(s));
}
bool ident_start_at(PERLGCB* gcb, const char* s)
{
    return is_alpha(*s) || *s == '_' ||
           (static_cast<uint8_t>(*s) >= 0xC0 && lex_utf8_source(gcb) &&
            utf8_is_ident_start(gcb, reinterpret_cast<const uint8_t*>(s)));
}

int32_t current_line(PERLGCB* gcb) { return gcb->current_statement ? gcb->current_statement->cop_line : 0; }

// The sub a glob holds under its own name (not a cached method), or null.
CV* sub_of(GV* gv)
{
    if (!gv || !sv_is_glob(as_sv(gv)) || !gv_gp(gv) || gv_gp(gv)->gp_cvgen)
        return nullptr;
    return gv_gp(gv)->gp_cv;
}
bool imported_sub(GV* gv) { return sub_of(gv) && (gv_body(gv)->gvflags & GVf_IMPORT_CV); }
const char* prototype_of(CV* cv)
{
    SV* sv = as_sv(cv);
    return (sv->flags & SVf_POK) ? sv_pv(sv) : nullptr;
}

// The name the next sub or format body compiles under.
void set_sub_name(PERLGCB* gcb, const char* text, uint64_t len)
{
    if (!gcb->sub_name)
        gcb->sub_name = sv_new_from_bytes(gcb, "", 0);
    sv_set_bytes(gcb, gcb->sub_name, text, len);
}

// A bare-word const op of text; UTF-8 when the source is and the text is.
OP* bare_word_op(PERLGCB* gcb, const char* text, uint64_t len)
{
    SV* sv = sv_new_from_bytes(gcb, text, len);
    if (lex_utf8_source(gcb) && utf8_check_string(gcb, reinterpret_cast<const uint8_t*>(text), len))
        sv->flags |= SVf_UTF8;
    OP* o = op_new_value(gcb, OP_CONST, 0, sv);
    o->op_private = OPpCONST_BARE;
    return o;
}

// ---- keyword groups ---------------------------------------------------------------

// A named unary operator: FUNC_OPT_ARG when "(" follows, else NAMED_UNARY.
int32_t named_unary(PERLGCB* gcb, char* s, int32_t type)
{
    gcb->token_value.ival = type;
    gcb->expect = XTERM;
    gcb->scan_pos = s;
    gcb->last_unary_pos = gcb->prev_token_pos;
    gcb->last_list_op = static_cast<uint16_t>(type);
    if (*s == '(')
        return FUNC_OPT_ARG;
    s = lex_skip_whitespace(gcb, s);
    return *s == '(' ? FUNC_OPT_ARG : NAMED_UNARY;
}

int32_t no_operands(PERLGCB* gcb, char* s, int32_t type)
{
    gcb->token_value.ival = type;
    return lex_expecting(gcb, s, FUNC_NOARGS, XOPERATOR);
}

int32_t loop_exit(PERLGCB* gcb, char* s, int32_t type)
{
    s = lex_push_word(gcb, s, BAREWORD, 1, 0, 0);
    return lex_valued_operator(gcb, s, LOOP_EXIT, type);
}

int32_t line_operator(PERLGCB* gcb, char* s, int32_t token)
{
    gcb->token_value.ival = current_line(gcb);
    return lex_operator(gcb, s, token);
}

// "Warning: the first digit of a mode is not 0" checks of umask and chmod.
bool mode_missing_zero(PERLGCB* gcb, char* s)
{
    char* d = s;
    while (d < gcb->buffer_end && (is_space(*d) || *d == '('))
        d++;
    return d < gcb->buffer_end && *d != '0' && is_digit(*d);
}

// ---- sub and format declarations ---------------------------------------------------

int32_t declaration(PERLGCB* gcb, char* s, int32_t key)
{
    s = lex_skip_whitespace(gcb, s);
    bool have_name = false;
    int32_t attributes_expect;
    size_t name_offset = 0;
    if (ident_start_at(gcb, s) || *s == '\'' || (s[0] == ':' && s[1] == ':')) {
        gcb->expect = XBLOCK;
        attributes_expect = XATTRBLOCK;
        // The name is queued later from the same text: keep its offset, as
        // reading further lines may move the buffer.
        name_offset = static_cast<size_t>(s - sv_pv(gcb->line_buffer));
        char name[256];
        int32_t len = 0;
        char* d = scan_name_chars(gcb, s, name, sizeof name, 1, &len);
        if (std::strchr(name, ':')) {
            set_sub_name(gcb, name, static_cast<uint64_t>(len));
        } else {
            uint64_t plen = 0;
            const char* package = compile_package_name(gcb, &plen);
            set_sub_name(gcb, package ? package : "", plen);
            sv_append_bytes(gcb, gcb->sub_name, "::", 2);
            sv_append_bytes(gcb, gcb->sub_name, name, static_cast<uint64_t>(len));
        }
        s = lex_skip_whitespace(gcb, d);
        have_name = true;
    } else {
        if (key == KEY_my)
            fatal_error(gcb, "Missing name in \"my sub\"");
        gcb->expect = XTERMBLOCK;
        attributes_expect = XATTRTERM;
        set_sub_name(gcb, "?", 1);
    }

    if (key == KEY_format) {
        if (*s == '=')
            gcb->format_bracket_depth = gcb->bracket_depth + 1;
        if (have_name)
            lex_push_word(gcb, sv_pv(gcb->line_buffer) + name_offset, BAREWORD, 0, 1, 0);
        return lex_operator(gcb, s, KW_FORMAT);
    }

    bool have_prototype = false;
    if (*s == '(') {
        s = scan_delimited(gcb, s, 0, 0);
        if (!s)
            fatal_error(gcb, "Prototype not terminated");
        // White space in a prototype means nothing.
        SV* proto = gcb->quote_body;
        char* d = sv_pv(proto);
        uint64_t n = 0;
        for (uint64_t i = 0; i < sv_cur(proto); i++)
            if (!is_space(d[i]))
                d[n++] = d[i];
        d[n] = 0;
        sv_cur(proto) = n;
        have_prototype = true;
        s = lex_skip_whitespace(gcb, s);
    }
    if (s[0] == ':' && s[1] != ':')
        gcb->expect = attributes_expect;
    if (have_prototype) {
        lex_queue_op(gcb, TERM_OP, op_new_value(gcb, OP_CONST, 0, gcb->quote_body));
        gcb->quote_body = nullptr;
    }
    if (!have_name) {
        set_sub_name(gcb, "__ANON__", 8);
        return lex_token(gcb, s, KW_ANON_SUB);
    }
    lex_push_word(gcb, sv_pv(gcb->line_buffer) + name_offset, BAREWORD, 0, 1, 1);
    return lex_token(gcb, s, key == KEY_my ? KW_MY_SUB : KW_SUB);
}

// ---- ordinary words ------------------------------------------------------------------

// A plain bare word: the reserved-word warning (unless the strict flag was
// set), then the operator-missing warnings.
int32_t bare_word(PERLGCB* gcb, char* s, char lastchar, bool strict_checked)
{
    if (!strict_checked && lastchar != '-' && warn_enabled(gcb, WARN_RESERVED)) {
        const char* d = gcb->token_buffer;
        while (*d && is_lower(*d))
            d++;
        if (!*d)
            category_warning(gcb, WARN_RESERVED, "Unquoted string \"%s\" may clash with future reserved word",
                             gcb->token_buffer);
    }
    if (lastchar && one_of(lastchar, "*%&") && warn_enabled_default(gcb, WARN_AMBIGUOUS)) {
        category_warning(gcb, WARN_AMBIGUOUS, "Operator or semicolon missing before %c%s", lastchar,
                         gcb->token_buffer);
        category_warning(gcb, WARN_AMBIGUOUS, "Ambiguous use of %c resolved as operator %c", lastchar, lastchar);
    }
    return lex_token(gcb, s, BAREWORD);
}

// A word that is no keyword (or a keyword given up for a sub). start is the
// word's first byte, s the byte after the len bytes in token_buffer. gv is
// the sub's glob when the override test found one; via_global says that it
// is the CORE::GLOBAL:: override.
int32_t ordinary_word(PERLGCB* gcb, char* start, char* s, int32_t len, GV* gv, bool via_global)
{
    char* tb = gcb->token_buffer;
    char lastchar = start == gcb->prev_prev_token_pos || start == sv_pv(gcb->line_buffer) ? 0 : start[-1];

    if (*s == '\'' || (s[0] == ':' && s[1] == ':')) {
        int32_t more = 0;
        s = scan_name_chars(gcb, s, tb + len, static_cast<int32_t>(sizeof gcb->token_buffer) - len, 1, &more);
        if (!more)
            fatal_error(gcb, "Bad name after %s%s", tb, *s == '\'' ? "'" : "::");
        len += more;
    }

    if (gcb->expect == XOPERATOR) {
        if (start == gcb->line_start) {
            if (warn_enabled(gcb, WARN_SEMICOLON)) {
                gcb->current_statement->cop_line--;
                category_warning(gcb, WARN_SEMICOLON, "Semicolon seems to be missing");
                gcb->current_statement->cop_line++;
            }
        } else {
            lex_operator_expected(gcb, "Bareword", s);
        }
    }

    bool package_name = len > 2 && tb[len - 2] == ':' && tb[len - 1] == ':';
    if (package_name) {
        if (warn_enabled(gcb, WARN_BAREWORD) && !gv_fetch_by_name(gcb, tb, 0, SVt_PVHV))
            category_warning(gcb, WARN_BAREWORD, "Bareword \"%s\" refers to nonexistent package", tb);
        len -= 2;
        tb[len] = 0;
        gv = nullptr;
        via_global = false;
    } else if (!gv) {
        gv = gv_fetch_by_name(gcb, tb, 0, SVt_PVCV);
    }

    SV* name;
    if (via_global) {
        name = sv_new_from_bytes(gcb, "CORE::GLOBAL::", 14);
        sv_append_cstring(gcb, name, tb);
    } else {
        name = sv_new_from_cstring(gcb, tb, 0);
    }
    lex_lower_statement_line(gcb);
    OP* word = op_new_value(gcb, OP_CONST, 0, name);
    word->op_private = OPpCONST_BARE;
    gcb->token_value.op = word;
    if (package_name)
        return bare_word(gcb, s, lastchar, true);

    CV* cv = sub_of(gv);

    // The indirect object of a list operator (print STDERR ...).
    char* pp = gcb->prev_prev_token_pos;
    if (pp && pp < start && (pp == gcb->last_list_op_pos || pp == gcb->last_unary_pos) &&
        (gcb->expect == XREF ||
         op_args_operand(op_args_of(gcb, gcb->last_list_op), 0) % OA_OPTIONAL == OA_FILEREF)) {
        bool immediate_paren = *s == '(';
        s = lex_skip_whitespace(gcb, s);
        if (ident_start_at(gcb, s) || *s == '$') {
            if (int32_t t = lex_guess_method_call(gcb, s, gv))
                return t;
        }
        int32_t lop = gcb->last_list_op;
        if ((lop == OP_SORT || (!immediate_paren && !cv)) && lop != OP_MAPSTART && lop != OP_GREPSTART) {
            gcb->expect = gcb->last_list_op_pos == gcb->prev_prev_token_pos ? XTERM : XOPERATOR;
            return bare_word(gcb, s, lastchar, false);
        }
    }

    gcb->expect = XOPERATOR;
    s = lex_skip_whitespace(gcb, s);

    if (s[0] == '=' && s[1] == '>') {
        lex_lower_statement_line(gcb);
        SV* sv = op_value_sv(word);
        sv_set_cstring(gcb, sv, tb);
        if (lex_utf8_source(gcb) && utf8_check_string(gcb, reinterpret_cast<const uint8_t*>(tb), std::strlen(tb)))
            sv->flags |= SVf_UTF8;
        return lex_token(gcb, s, BAREWORD);
    }

    if (*s == '(') {
        lex_lower_statement_line(gcb);
        if (cv) {
            char* d = s + 1;
            while (*d == ' ' || *d == '\t')
                d++;
            if (*d == ')') {
                if (SV* value = cv_const_value(gcb, cv)) {
                    sv_release(gcb, op_value_sv(word));
                    op_value_sv(word) = sv_refinc(value);
                    word->op_private = 0;
                    return lex_token(gcb, d + 1, BAREWORD);
                }
            }
        }
        gcb->expect = XOPERATOR;
        lex_queue_op(gcb, BAREWORD, word);
        gcb->token_value.ival = 0;
        return lex_token(gcb, s, '&');
    }

    // A word before a variable or a block is a method name.
    if ((*s == '$' || *s == '{') && !cv) {
        gcb->last_list_op_pos = gcb->prev_token_pos;
        gcb->last_list_op = OP_METHOD;
        return lex_expecting(gcb, s, METHOD_NAME, XBLOCK);
    }

    if (ident_start_at(gcb, s) || *s == '$') {
        if (int32_t t = lex_guess_method_call(gcb, s, gv))
            return t;
    }

    if (cv) {
        if (lastchar == '-' && warn_enabled_default(gcb, WARN_AMBIGUOUS))
            category_warning(gcb, WARN_AMBIGUOUS, "Ambiguous use of -%s resolved as -&%s()", tb, tb);
        if (SV* value = cv_const_value(gcb, cv)) {
            sv_release(gcb, op_value_sv(word));
            op_value_sv(word) = sv_refinc(value);
            word->op_private = 0;
            return lex_token(gcb, s, BAREWORD);
        }
        op_free_tree(gcb, word);
        OP* call = op_new_code_deref(gcb, 0, op_new_glob(gcb, OP_GV, 0, gv));
        call->op_private |= OPpENTERSUB_NOPAREN;
        gcb->token_value.op = call;
        gcb->last_list_op_pos = gcb->prev_token_pos;
        gcb->last_list_op = OP_ENTERSUB;
        if (const char* proto = prototype_of(cv)) {
            if (!*proto)
                return lex_term(gcb, s, SUB_CALL_NOARGS);
            if (std::strcmp(proto, "$") == 0)
                return lex_operator(gcb, s, SUB_CALL_UNARY);
            if (*proto == '&' && *s == '{') {
                set_sub_name(gcb, "__ANON__", 8);
                return lex_expecting(gcb, s, SUB_CALL_BLOCK, XBLOCK);
            }
        }
        gcb->expect = XTERM;
        lex_queue_op(gcb, BAREWORD, call);
        return lex_token(gcb, s, SUB_CALL_MARK);
    }

    if (gcb->compile_hints & HINT_STRICT_SUBS) {
        word->op_private |= OPpCONST_STRICT;
        return bare_word(gcb, s, lastchar, true);
    }
    return bare_word(gcb, s, lastchar, false);
}

// ---- keywords with cases of their own -------------------------------------------------

int32_t for_loop(PERLGCB* gcb, char* s)
{
    s = lex_skip_whitespace(gcb, s);
    if (gcb->expect == XSTATE && ident_start_at(gcb, s)) {
        char* p = s;
        char* end = gcb->buffer_end;
        if (end - p >= 3 && p[0] == 'm' && p[1] == 'y' && is_space(p[2]))
            p += 2;
        else if (end - p >= 4 && p[0] == 'o' && p[1] == 'u' && p[2] == 'r' && is_space(p[3]))
            p += 3;
        p = lex_skip_whitespace(gcb, p);
        if (ident_start_at(gcb, p)) {
            p = scan_variable_name(gcb, p, gcb->buffer_end, gcb->token_buffer, sizeof gcb->token_buffer, 1);
            p = lex_skip_whitespace(gcb, p);
        }
        if (*p != '$')
            fatal_error(gcb, "Missing $ on loop variable");
    }
    gcb->token_value.ival = current_line(gcb);
    return lex_operator(gcb, s, KW_FOR);
}

int32_t declare_variables(PERLGCB* gcb, char* s, int32_t key)
{
    gcb->declaring = key;
    s = lex_skip_whitespace(gcb, s);
    if (ident_start_at(gcb, s)) {
        int32_t len = 0;
        s = scan_name_chars(gcb, s, gcb->token_buffer, sizeof gcb->token_buffer, 1, &len);
        if (len == 3 && std::memcmp(gcb->token_buffer, "sub", 3) == 0)
            return declaration(gcb, s, key);
        gcb->declaring_package = lex_find_package(gcb, gcb->token_buffer, len);
        if (!gcb->declaring_package) {
            gcb->scan_pos = s;
            op_compile_error(gcb, "No such class %.1000s", gcb->token_buffer);
        }
    }
    gcb->token_value.ival = 1;
    return lex_operator(gcb, s, KW_MY);
}

bool version_follows(char* s) { return is_digit(*s) || (*s == 'v' && is_digit(s[1])); }

int32_t use_or_no(PERLGCB* gcb, char* s, bool use)
{
    if (gcb->expect != XSTATE)
        compile_error(gcb, use ? "\"use\" not allowed in expression" : "\"no\" not allowed in expression");
    s = lex_skip_whitespace(gcb, s);
    if (use && version_follows(s)) {
        s = lex_push_version(gcb, s);
        if (*s == ';' || (s = lex_skip_whitespace(gcb, s), *s == ';'))
            lex_queue_op(gcb, BAREWORD, nullptr);
    } else {
        s = lex_push_word(gcb, s, BAREWORD, 0, 1, 0);
        s = lex_push_version(gcb, s);
    }
    gcb->token_value.ival = use ? 1 : 0;
    return lex_operator(gcb, s, KW_USE);
}

int32_t require_word(PERLGCB* gcb, char* s)
{
    s = lex_skip_whitespace(gcb, s);
    if (version_follows(s)) {
        s = lex_push_version(gcb, s);
    } else {
        gcb->token_buffer[0] = 0;
        s = lex_push_word(gcb, s, BAREWORD, 1, 1, 0);
        if (ident_start_at(gcb, gcb->token_buffer))
            gv_stash_by_name(gcb, gcb->token_buffer, 1);
        else if (*s == '<')
            compile_error(gcb, "<> should be quotes");
    }
    return named_unary(gcb, s, OP_REQUIRE);
}

int32_t quote_words(PERLGCB* gcb, char* s)
{
    s = scan_delimited(gcb, s, 0, 0);
    if (!s)
        lex_missing_terminator(gcb);
    lex_queue_int(gcb, ')', 0);
    SV* body = gcb->quote_body;
    gcb->quote_body = nullptr;
    uint64_t len = 0;
    const char* d = sv_text(gcb, body, &len);
    const char* end = d + len;
    OP* words = nullptr;
    bool warned = false;
    while (d < end) {
        while (d < end && is_space(*d))
            d++;
        if (d >= end)
            break;
        const char* b = d;
        while (d < end && !is_space(*d)) {
            if (!warned && (*d == ',' || *d == '#') && warn_enabled(gcb, WARN_QW)) {
                category_warning(gcb, WARN_QW, *d == ','
                                                       ? "Possible attempt to separate words with commas"
                                                       : "Possible attempt to put comments in qw() list");
                warned = true;
            }
            d++;
        }
        SV* sv = sv_new_from_bytes(gcb, b, static_cast<uint64_t>(d - b));
        if (body->flags & SVf_UTF8)
            sv->flags |= SVf_UTF8;
        words = op_list_append(gcb, OP_LIST, words, op_new_value(gcb, OP_CONST, 0, lex_single_quoted(gcb, sv)));
    }
    sv_release(gcb, body);
    if (words)
        lex_queue_op(gcb, TERM_OP, words);
    return lex_expecting(gcb, s, '(', XTERM);
}

// A quote-like word reading a delimited string into a construct of `type`.
int32_t quote_construct(PERLGCB* gcb, char* s, int32_t type)
{
    s = scan_delimited(gcb, s, 0, 0);
    if (!s)
        lex_missing_terminator(gcb);
    if (type == OP_STRINGIFY && sv_type(gcb->quote_body) >= SVt_PVIV && sv_iv(gcb->quote_body) == '\'')
        sv_iv(gcb->quote_body) = 0;  // qq'...' interpolates all the same
    gcb->token_value.ival = type;
    return lex_quoted_term(gcb, s);
}

// __END__ and __DATA__: a stream's rest becomes the DATA handle's input.
int32_t end_of_code(PERLGCB* gcb, char* s)
{
    bool data = gcb->token_buffer[2] == 'D';
    if (gcb->source_handle && (!gcb->in_eval || data)) {
        const char* package = "main";
        if (data && gcb->current_package && hv_body(gcb->current_package)->name)
            package = hv_body(gcb->current_package)->name;
        SV* name = sv_make_temporary(gcb, sv_new_from_cstring(gcb, package, 0));
        sv_append_cstring(gcb, name, "::DATA");
        GV* gv = gv_fetch_by_name(gcb, sv_pv(name), GV_ADD, SVt_PVIO);
        gv_ensure_handle(gcb, gv);
        io_body(gv_gp(gv)->gp_io)->ifp = gcb->source_handle;
        gcb->source_handle = 0;
    }
    return lex_end_of_file(gcb, s);
}

// The operand-group cases of a keyword without a case of its own.
int32_t keyword_group(PERLGCB* gcb, char* s, const keyword_entry* e)
{
    switch (e->group) {
    case KWG_LOP1: return lex_list_operator(gcb, e->op, XTERM, s);
    case KWG_LOP2: return lex_list_operator(gcb, e->op, XREF, s);
    case KWG_UNI: return named_unary(gcb, s, e->op);
    case KWG_FUN0: return no_operands(gcb, s, e->op);
    default: fatal_error(gcb, "panic: yylex");
    }
}

int32_t keyword_case(PERLGCB* gcb, char* start, char* s, int32_t len, int32_t kw, GV* gv, bool via_global);

int32_t core_keyword(PERLGCB* gcb, char* start, char* s, int32_t len)
{
    if (s[0] != ':' || s[1] != ':')
        return ordinary_word(gcb, start, s, len, nullptr, false);
    s = scan_name_chars(gcb, s + 2, gcb->token_buffer, sizeof gcb->token_buffer, 0, &len);
    int32_t kw = keyword_lookup(gcb, gcb->token_buffer, len);
    if (!kw)
        fatal_error(gcb, "CORE::%s is not a keyword", gcb->token_buffer);
    return keyword_case(gcb, start, s, len, kw < 0 ? -kw : kw, nullptr, false);
}

int32_t keyword_case(PERLGCB* gcb, char* start, char* s, int32_t len, int32_t kw, GV* gv, bool via_global)
{
    const keyword_entry* e = kw > 0 ? keyword_entry_of(kw) : nullptr;
    if (!e)
        return ordinary_word(gcb, start, s, len, gv, via_global);
    switch (kw) {
    case KEY_U_FILE: {
        const char* file = gv_statement_file(gcb, gcb->current_statement);
        gcb->token_value.op = op_new_value(gcb, OP_CONST, 0,
                                           file ? sv_new_from_cstring(gcb, file, 0) : sv_new_undef(gcb, 0));
        return lex_term(gcb, s, TERM_OP);
    }
    case KEY_U_LINE:
        gcb->token_value.op =
            op_new_value(gcb, OP_CONST, 0, sv_new_formatted(gcb, "%ld", static_cast<long>(current_line(gcb))));
        return lex_term(gcb, s, TERM_OP);
    case KEY_U_PACKAGE: {
        uint64_t plen = 0;
        const char* package = gcb->current_package ? compile_package_name(gcb, &plen) : nullptr;
        gcb->token_value.op =
            op_new_value(gcb, OP_CONST, 0, package ? sv_new_from_bytes(gcb, package, plen) : sv_new_undef(gcb, 0));
        return lex_term(gcb, s, TERM_OP);
    }
    case KEY_U_DATA:
    case KEY_U_END: return end_of_code(gcb, s);
    case KEY_AUTOLOAD:
    case KEY_DESTROY:
    case KEY_BEGIN:
    case KEY_CHECK:
    case KEY_INIT:
    case KEY_END:
        if (gcb->expect == XSTATE)
            return declaration(gcb, start, kw);
        return ordinary_word(gcb, start, s, len, gv, via_global);
    case KEY_CORE: return core_keyword(gcb, start, s, len);
    case KEY_and: return lex_operator(gcb, s, LOW_AND);
    case KEY_or:
    case KEY_xor: return lex_valued_operator(gcb, s, LOW_OR, e->op);
    case KEY_not:
        if (*s == '(' || (s = lex_skip_whitespace(gcb, s), *s == '(')) {
            gcb->token_value.ival = OP_NOT;
            return lex_expecting(gcb, s, FUNC_OPT_ARG, XOPERATOR);
        }
        return lex_operator(gcb, s, LOW_NOT);
    case KEY_cmp:
    case KEY_eq:
    case KEY_ne: return lex_valued_operator(gcb, s, EQ_OP, e->op);
    case KEY_lt:
    case KEY_gt:
    case KEY_le:
    case KEY_ge: return lex_valued_operator(gcb, s, REL_OP, e->op);
    case KEY_x:
        if (gcb->expect == XOPERATOR)
            return lex_assignable_operator(gcb, s, MUL_OP, OP_REPEAT);
        lex_check_unary_parens(gcb);
        return ordinary_word(gcb, start, s, len, gv, via_global);
    case KEY_if: return line_operator(gcb, s, KW_IF);
    case KEY_unless: return line_operator(gcb, s, KW_UNLESS);
    case KEY_while: return line_operator(gcb, s, KW_WHILE);
    case KEY_until: return line_operator(gcb, s, KW_UNTIL);
    case KEY_elsif: return line_operator(gcb, s, KW_ELSIF);
    case KEY_for:
    case KEY_foreach: return for_loop(gcb, s);
    case KEY_else: return lex_expecting(gcb, s, KW_ELSE, XBLOCK);
    case KEY_continue: return lex_expecting(gcb, s, KW_CONTINUE, XBLOCK);
    case KEY_do:
        s = lex_skip_whitespace(gcb, s);
        if (*s == '{')
            return lex_expecting(gcb, s, KW_DO, XTERMBLOCK);
        if (*s != '\'')
            s = lex_push_word(gcb, s, BAREWORD, 0, 1, 0);
        return lex_operator(gcb, s, KW_DO);
    case KEY_last:
    case KEY_next:
    case KEY_redo:
    case KEY_dump:
    case KEY_goto: return loop_exit(gcb, s, e->op);
    case KEY_return:
        gcb->token_value.ival = OP_RETURN;
        lex_lower_statement_line(gcb);
        return lex_operator(gcb, s, LIST_OP);
    case KEY_local: return lex_valued_operator(gcb, s, KW_LOCAL, 0);
    case KEY_my:
    case KEY_our: return declare_variables(gcb, s, kw);
    case KEY_eval:
        s = lex_skip_whitespace(gcb, s);
        gcb->expect = *s == '{' ? XTERMBLOCK : XTERM;
        gcb->token_value.ival = OP_ENTEREVAL;
        gcb->scan_pos = s;
        gcb->last_unary_pos = gcb->prev_token_pos;
        if (*s == '(')
            return FUNC_OPT_ARG;
        return *lex_skip_whitespace(gcb, s) == '(' ? FUNC_OPT_ARG : NAMED_UNARY;
    case KEY_package:
        s = lex_push_word(gcb, s, BAREWORD, 0, 1, 0);
        return lex_operator(gcb, s, KW_PACKAGE);
    case KEY_use: return use_or_no(gcb, s, true);
    case KEY_no: return use_or_no(gcb, s, false);
    case KEY_require: return require_word(gcb, s);
    case KEY_sort:
        lex_forbid_comma(gcb, s, gcb->token_buffer, "subroutine name");
        s = lex_skip_whitespace(gcb, s);
        if (*s == ';' || *s == ')')
            fatal_error(gcb, "sort is now a reserved word");
        gcb->expect = XTERM;
        s = lex_push_word(gcb, s, BAREWORD, 1, 1, 0);
        return lex_list_operator(gcb, OP_SORT, XREF, s);
    case KEY_print:
    case KEY_printf:
        lex_forbid_comma(gcb, s, gcb->token_buffer, "filehandle");
        return keyword_group(gcb, s, e);
    case KEY_open: {
        char* w = lex_skip_whitespace(gcb, s);
        if (ident_start_at(gcb, w)) {
            char* d = w;
            while (d < gcb->buffer_end && (is_word(*d) || utf8_word_at(gcb, d)))
                d += static_cast<uint8_t>(*d) >= 0xC0 ? utf8_skip_of(static_cast<uint8_t>(*d)) : 1;
            char* t = lex_skip_whitespace(gcb, d);
            if (one_of(*t, "|&*+-=!?:.") && warn_enabled_default(gcb, WARN_PRECEDENCE)) {
                int n = static_cast<int>(d - w);
                category_warning(gcb, WARN_PRECEDENCE, "Precedence problem: open %.*s should be open(%.*s)", n, w,
                                 n, w);
            }
        }
        return lex_list_operator(gcb, OP_OPEN, XTERM, w);
    }
    case KEY_chdir:
        gv_fetch_by_name(gcb, "ENV", GV_ADD, SVt_PVHV);
        return keyword_group(gcb, s, e);
    case KEY_dbmopen:
        gv_fetch_by_name(gcb, "AnyDBM_File::ISA", GV_ADDMULTI, SVt_PVAV);
        return keyword_group(gcb, s, e);
    case KEY_write:
        gv_fetch_by_name(gcb, "\f", GV_ADD, SVt_PV);
        return keyword_group(gcb, s, e);
    case KEY_umask:
        if (warn_enabled(gcb, WARN_UMASK) && mode_missing_zero(gcb, s))
            category_warning(gcb, WARN_UMASK, "umask: argument is missing initial 0");
        return keyword_group(gcb, s, e);
    case KEY_chmod:
        if (warn_enabled(gcb, WARN_CHMOD) && mode_missing_zero(gcb, s))
            category_warning(gcb, WARN_CHMOD, "chmod() mode argument is missing initial 0");
        return keyword_group(gcb, s, e);
    case KEY_m:
    case KEY_qr: return lex_quoted_term(gcb, scan_pattern(gcb, s, e->op));
    case KEY_s: return lex_quoted_term(gcb, scan_substitution(gcb, s));
    case KEY_tr:
    case KEY_y: return lex_quoted_term(gcb, scan_transliteration(gcb, s));
    case KEY_q:
    case KEY_qq:
    case KEY_qx: return quote_construct(gcb, s, e->op);
    case KEY_qw: return quote_words(gcb, s);
    case KEY_sub:
    case KEY_format: return declaration(gcb, s, kw);
    default: break;
    }
    if (e->group == KWG_OWN)
        return ordinary_word(gcb, start, s, len, gv, via_global);
    return keyword_group(gcb, s, e);
}

// Whether "Thread.pm" is among the loaded files.
bool thread_loaded(PERLGCB* gcb)
{
    GV* inc = gv_fetch_by_name(gcb, "INC", 0, SVt_PVHV);
    HV* hv = inc && sv_is_glob(as_sv(inc)) && gv_gp(inc) ? gv_gp(inc)->gp_hv : nullptr;
    return hv && hv_exists_str(gcb, hv, "Thread.pm", 9);
}

}  // namespace

int32_t lex_word(PERLGCB* gcb, char* start)
{
    int32_t len = 0;
    char* tb = gcb->token_buffer;
    char* s = scan_name_chars(gcb, start, tb, sizeof gcb->token_buffer, 0, &len);

    // Quote-like words may be followed by any delimiter, ":" included.
    bool quote_like = (len == 1 && one_of(tb[0], "msyq")) ||
                      (len == 2 && ((tb[0] == 't' && tb[1] == 'r') || (tb[0] == 'q' && one_of(tb[1], "qwxr"))));
    if (!quote_like && s[0] == ':' && s[1] == ':' && std::strcmp(tb, "CORE") != 0)
        return ordinary_word(gcb, start, s, len, nullptr, false);
    if (!len) {
        // Only a byte that starts no word brings the reader here: reading
        // on would make an empty word of it forever.
        fatal_error(gcb, "Unrecognized character \\x%02X", static_cast<uint32_t>(static_cast<uint8_t>(*start)));
    }

    // White space without comments: s### is a substitution.
    char* d = s;
    while (d < gcb->buffer_end && is_space(*d))
        d++;
    if (!quote_like && gcb->expect == XSTATE && d < gcb->buffer_end && d[0] == ':' && d[1] != ':') {
        gcb->token_value.pval = pool_strdup(gcb, tb);
        lex_lower_statement_line(gcb);
        return lex_token(gcb, d + 1, STATEMENT_LABEL);
    }

    int32_t kw = keyword_lookup(gcb, tb, len);

    if (d + 1 < gcb->buffer_end && d[0] == '=' && d[1] == '>') {
        gcb->token_value.op = bare_word_op(gcb, tb, static_cast<uint64_t>(len));
        return lex_term(gcb, s, BAREWORD);
    }

    GV* gv = nullptr;
    bool via_global = false;
    if (kw < 0) {
        GV* winner = nullptr;  // an imported sub overrides the built-in
        GV* hidden = nullptr;  // a sub of the same name that the built-in hides
        if (gcb->expect != XOPERATOR && !(s[0] == ':' && s[1] == ':')) {
            gv = gv_fetch_by_name(gcb, tb, 0, SVt_PVCV);
            if (CV* cv = sub_of(gv)) {
                if (imported_sub(gv))
                    winner = gv;
                else if (!(cv_body(cv)->cvflags & CV_FLAG_METHOD))
                    hidden = gv;
            }
            if (!winner) {
                HV* global = gv_stash_by_name(gcb, "CORE::GLOBAL", 0);
                SV** entry = global ? hv_fetch_str(gcb, global, tb, len, 0) : nullptr;
                if (entry) {
                    via_global = true;
                    gv = sv_is_glob(*entry) ? sv_as<GV>(*entry) : nullptr;
                    if (imported_sub(gv))
                        winner = gv;
                }
            }
        }
        if (winner) {
            kw = 0;
        } else if (gv && !via_global && -kw == KEY_lock && sub_of(gv) && !thread_loaded(gcb)) {
            kw = 0;
        } else {
            kw = -kw;
            gv = nullptr;
            via_global = false;
            if (hidden && kw != KEY_x && kw != KEY_CORE && warn_enabled(gcb, WARN_AMBIGUOUS))
                category_warning(gcb, WARN_AMBIGUOUS, "Ambiguous call resolved as CORE::%s(), %s",
                                 gv_body(hidden)->name, "qualify as such or use &");
        }
    }
    return keyword_case(gcb, start, s, len, kw, gv, via_global);
}
