// Names in source text: words with package separators, the names after a
// sigil (plain, braced, caret and punctuation forms), queued identifiers and
// package names typed in source.
#include <cstring>

#include "host/hostif.h"
#include "prxchar.h"
#include "prxgv.h"
#include "prxlexint.h"
#include "prxmsg.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

using namespace prxchar;

namespace {

// Private bit of a const op whose name is an entered symbol.
constexpr uint8_t OPpCONST_ENTERED = 0x10;
// Creation flags of a global made while a string is evaluated.
constexpr int32_t GV_ADD_IN_EVAL = 10;

[[noreturn]] void too_long(PERLGCB* gcb) { fatal_error(gcb, "Identifier too long"); }

// A UTF-8 word character starts at s in UTF-8 source.
bool utf8_word_at(PERLGCB* gcb, const char* s)
{
    return static_cast<uint8_t>(*s) >= 0xC0 && lex_utf8_source(gcb) &&
           utf8_is_word(gcb, reinterpret_cast<const uint8_t*>(s));
}

// An identifier starts at s: a letter or "_", or a UTF-8 word character.
bool ident_start_at(PERLGCB* gcb, const char* s)
{
    return host_is_alpha(static_cast<uint8_t>(*s)) || *s == '_' || utf8_word_at(gcb, s);
}

// Copies the UTF-8 character at s (with its continuation bytes) to *d,
// failing as too long past e.
char* copy_utf8_char(PERLGCB* gcb, char*& d, const char* e, char* s)
{
    char* t = s + utf8_skip_of(static_cast<uint8_t>(*s));
    for (char* p = s; p < t; p++)
        if (!*p)
            t = p;
    if (d + (t - s) > e)
        too_long(gcb);
    while (s < t)
        *d++ = *s++;
    return s;
}

// Copies word characters with package separators from s into [d, e); the
// position after them.
char* copy_word(PERLGCB* gcb, char* s, char*& d, const char* e, bool allow_package)
{
    for (;;) {
        if (d >= e)
            too_long(gcb);
        if (is_word(*s)) {
            *d++ = *s++;
        } else if (*s == '\'' && allow_package && ident_start_at(gcb, s + 1)) {
            *d++ = ':';
            *d++ = ':';
            s++;
        } else if (*s == ':' && s[1] == ':' && allow_package && s[2] != '$') {
            *d++ = *s++;
            *d++ = *s++;
        } else if (utf8_word_at(gcb, s)) {
            s = copy_utf8_char(gcb, d, e, s);
        } else {
            return s;
        }
    }
}

// The warning for a named unary operator followed by a term without
// parentheses.
void check_unary(PERLGCB* gcb)
{
    char* u = gcb->last_unary_pos;
    if (!u || u != gcb->prev_prev_token_pos)
        return;
    while (is_space(*u))
        u++;
    char* s = u;
    while (is_word(*s) || *s == '-')
        s++;
    for (char* t = s; t < gcb->scan_pos; t++)
        if (*t == '(')
            return;
    if (warn_enabled_default(gcb, WARN_AMBIGUOUS))
        category_warning(gcb, WARN_AMBIGUOUS, "Warning: Use of \"%.*s\" without parens is ambiguous",
                         static_cast<int>(s - u), u);
}

bool control_var_letter(char c) { return host_is_upper(static_cast<uint8_t>(c)) || (c && std::strchr("[\\]^_?", c)); }

}  // namespace

char* scan_name_chars(PERLGCB* gcb, char* s, char* buf, int32_t size, int32_t allow_package, int32_t* len)
{
    char* d = buf;
    s = copy_word(gcb, s, d, buf + size - 3, allow_package != 0);
    *d = 0;
    *len = static_cast<int32_t>(d - buf);
    return s;
}

char* scan_variable_name(PERLGCB* gcb, char* s, char* end, char* buf, int32_t size, int32_t check_unary_op)
{
    char funny = *s++;
    if (is_space(*s))
        s = lex_skip_whitespace(gcb, s);
    char* d = buf;
    const char* e = buf + size - 3;
    if (is_digit(*s)) {
        while (is_digit(*s)) {
            if (d >= e)
                too_long(gcb);
            *d++ = *s++;
        }
    } else {
        s = copy_word(gcb, s, d, e, true);
    }
    *d = 0;
    d = buf;
    if (*d) {
        if (gcb->lex_state != LEX_NORMAL)
            gcb->lex_state = LEX_INTERPENDMAYBE;
        return s;
    }
    if (*s == '$' && s[1] && (is_word(s[1]) || utf8_word_at(gcb, s + 1) || s[1] == '$' || s[1] == '{' ||
                              (s[1] == ':' && s[2] == ':')))
        return s;
    char* bracket = nullptr;
    if (*s == '{') {
        bracket = s;
        s++;
    } else if (check_unary_op) {
        check_unary(gcb);
    }
    if (s < end)
        *d = *s++;
    d[1] = 0;
    if (*d == '^' && *s && control_var_letter(*s)) {
        *d = static_cast<char>(g_host_vector->upper[static_cast<uint8_t>(*s)] ^ 0x40);
        s++;
    }
    if (!bracket) {
        if (gcb->lex_state == LEX_INTERPNORMAL && !gcb->bracket_depth && !lex_guess_subscript(gcb, s))
            gcb->lex_state = LEX_INTERPEND;
        return s;
    }
    if (is_space(s[-1])) {
        while (s < end) {
            char ch = *s++;
            if (!blank_or_tab(ch)) {
                *d = ch;
                break;
            }
        }
    }
    uint8_t first = static_cast<uint8_t>(*d);
    bool starts_name = host_is_alpha(first) || first == '_' || (first >= 0xC0 && *d == s[-1] && utf8_word_at(gcb, s - 1));
    if (starts_name) {
        d++;
        if (static_cast<uint8_t>(d[-1]) >= 0xC0 && lex_utf8_source(gcb)) {
            // The first character came in as one byte; take the rest of it.
            char* t = s;
            while (t < end && (static_cast<uint8_t>(*t) & 0xC0) == 0x80)
                t++;
            if (d + (t - s) > e)
                too_long(gcb);
            while (s < t)
                *d++ = *s++;
        }
        for (;;) {
            if (is_word(*s) || *s == ':') {
                if (d >= e)
                    too_long(gcb);
                *d++ = *s++;
            } else if (utf8_word_at(gcb, s)) {
                s = copy_utf8_char(gcb, d, e, s);
            } else {
                break;
            }
        }
        *d = 0;
        while (s < end && blank_or_tab(*s))
            s++;
        if (*s == '[' || (*s == '{' && std::strcmp(buf, "sub") != 0)) {
            if (warn_enabled(gcb, WARN_AMBIGUOUS) && keyword_lookup(gcb, buf, static_cast<int32_t>(d - buf))) {
                const char* brack = *s == '[' ? "[...]" : "{...}";
                category_warning(gcb, WARN_AMBIGUOUS, "Ambiguous use of %c{%s%s} resolved to %c%s%s", funny, buf,
                                 brack, funny, buf, brack);
            }
            lex_bracket_push(gcb, LEX_BRACKET_IN_NAME);
            return s;
        }
    } else if (!is_word(*d) && !(host_cclass(static_cast<uint8_t>(*d)) & HC_PRINT) && is_word(*s)) {
        // ${^NAME}: the control character, then the rest of the name.
        d++;
        while (is_word(*s) && d < e)
            *d++ = *s++;
        if (d >= e)
            too_long(gcb);
        *d = 0;
    }
    if (*s == '}') {
        s++;
        if (gcb->lex_state == LEX_INTERPNORMAL && !gcb->bracket_depth) {
            gcb->lex_state = LEX_INTERPEND;
            gcb->expect = XREF;
        }
        if (funny == '#')
            funny = '@';
        if (gcb->lex_state == LEX_NORMAL && warn_enabled(gcb, WARN_AMBIGUOUS)) {
            int32_t n = static_cast<int32_t>(std::strlen(buf));
            GV* gv = gv_fetch_by_name(gcb, buf, 0, SVt_PVCV);
            if (keyword_lookup(gcb, buf, n) || (gv && gv_gp(gv) && gv_gp(gv)->gp_cv))
                category_warning(gcb, WARN_AMBIGUOUS, "Ambiguous use of %c{%s} resolved to %c%s", funny, buf, funny,
                                 buf);
        }
        return s;
    }
    *buf = 0;
    return bracket;
}

void lex_push_identifier(PERLGCB* gcb, const char* name, int32_t kind)
{
    if (!name || !*name)
        return;
    OP* o = op_new_value(gcb, OP_CONST, 0, sv_new_from_bytes(gcb, name, std::strlen(name)));
    lex_queue_op(gcb, BAREWORD, o);
    if (kind) {
        o->op_private = OPpCONST_ENTERED;
        uint32_t type = kind == '$' ? SVt_PV : kind == '@' ? SVt_PVAV : kind == '%' ? SVt_PVHV : SVt_PVGV;
        gv_fetch_by_name(gcb, name, gcb->in_eval ? GV_ADD_IN_EVAL : GV_ADD, type);
    }
}

HV* lex_find_package(PERLGCB* gcb, const char* name, int32_t len)
{
    if (len == 11 && std::memcmp(name, "__PACKAGE__", 11) == 0)
        return gcb->current_package;
    if (len > 2 && name[len - 2] == ':' && name[len - 1] == ':') {
        GV* gv = gv_fetch_by_name(gcb, name, 0, SVt_PVHV);
        if (gv && sv_is_glob(as_sv(gv)))
            return gv_gp(gv)->gp_hv;
    }
    GV* gv = gv_fetch_by_name(gcb, name, 0, SVt_PVCV);
    if (gv && sv_is_glob(as_sv(gv)) && gv_gp(gv)->gp_cv) {
        if (SV* sv = cv_const_value(gcb, gv_gp(gv)->gp_cv)) {
            uint64_t n = 0;
            const char* text = sv_text(gcb, sv, &n);
            return gv_stash_by_name_len(gcb, text, static_cast<uint32_t>(n), 0);
        }
    }
    return gv_stash_by_name_len(gcb, name, static_cast<uint32_t>(len), 0);
}
