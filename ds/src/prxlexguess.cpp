// The token reader's guesses and diagnostics: whether a bracket continues
// an interpolated variable, whether two words form an indirect-object
// method call, the comma check after print-like operators, and the
// "operator expected" and comma-less list warnings.
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

// A UTF-8 word character at s in UTF-8 source.
bool utf8_word_at(PERLGCB* gcb, const char* s)
{
    return static_cast<uint8_t>(*s) >= 0xC0 && lex_utf8_source(gcb) &&
           utf8_is_word(gcb, reinterpret_cast<const uint8_t*>(s));
}
bool ident_start_at(PERLGCB* gcb, const char* s) { return is_alpha(*s) || *s == '_' || utf8_word_at(gcb, s); }

// The sub of a glob, when the glob holds a sub of its own name (not a
// cached method).
CV* sub_of(GV* gv)
{
    if (!gv || !sv_is_glob(as_sv(gv)) || !gv_gp(gv) || gv_gp(gv)->gp_cvgen)
        return nullptr;
    return gv_gp(gv)->gp_cv;
}
bool has_handle(GV* gv) { return gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) && gv_gp(gv)->gp_io; }

// The prototype of a sub: its string, when it has one.
const char* prototype_of(CV* cv)
{
    SV* sv = as_sv(cv);
    return (sv->flags & SVf_POK) ? sv_pv(sv) : nullptr;
}

// The weight of the text after "[" inside a pattern, up to send (the first
// "]"): negative reads as a subscript, 0 or more as a character class.
int32_t class_weight(PERLGCB* gcb, char* s, char* send)
{
    int32_t weight = 2;
    uint8_t seen[256] = {};
    if (*s == '$') {
        weight -= 3;
    } else if (is_digit(*s)) {
        if (s[1] != ']') {
            if (is_digit(s[1]) && s[2] == ']')
                weight -= 10;
        } else {
            weight -= 100;
        }
    }
    uint32_t this_char = 255;
    for (; s < send; s++) {
        uint32_t last = this_char;
        this_char = static_cast<uint8_t>(*s);
        switch (*s) {
        case '@':
        case '&':
        case '$':
            weight -= seen[this_char] * 10;
            if (is_word(s[1]) || utf8_word_at(gcb, s + 1)) {
                // The name is scanned as a variable name; the scan must not
                // change the reader's state.
                char name[1024];
                int32_t state = gcb->lex_state;
                int32_t depth = gcb->bracket_depth;
                scan_variable_name(gcb, s, send, name, sizeof name, 0);
                gcb->lex_state = state;
                gcb->bracket_depth = depth;
                GV* gv = std::strlen(name) > 1 ? gv_fetch_by_name(gcb, name, 0, SVt_PV) : nullptr;
                weight -= gv ? 100 : 10;
            } else if (*s == '$' && s[1] && one_of(s[1], "[#!%*<>()-=")) {
                weight -= one_of(s[2], "])} =") ? 10 : 1;
            }
            break;
        case '\\':
            this_char = 254;
            if (s[1]) {
                if (one_of(s[1], "wds]"))
                    weight += 100;
                else if (seen[uint8_t('\'')] || seen[uint8_t('"')])
                    weight += 1;
                else if (one_of(s[1], "rnftbxcav"))
                    weight += 40;
                else if (is_digit(s[1])) {
                    weight += 40;
                    while (s[1] && is_digit(s[1]))
                        s++;
                }
            } else {
                weight += 100;
            }
            break;
        case '-':
            if (s[1] == '\\')
                weight += 50;
            if (one_of(last, "aA01! "))
                weight += 30;
            if (one_of(s[1], "zZ79~"))
                weight += 30;
            if (last == 255 && (is_digit(s[1]) || s[1] == '$'))
                weight -= 5;  // a negative subscript
            break;
        default:
            if (!(last < 256 && is_word(static_cast<char>(last))) && !one_of(last, "$@&") && is_alpha(*s) &&
                s + 1 < send && is_alpha(s[1])) {
                char word[256];
                int32_t n = 0;
                char* t = s;
                while (t < send && is_alpha(*t) && n < static_cast<int32_t>(sizeof word) - 1)
                    word[n++] = *t++;
                word[n] = 0;
                if (keyword_lookup(gcb, word, n))
                    weight -= 150;
            }
            if (this_char == last + 1)
                weight += 5;
            weight -= seen[this_char];
            break;
        }
        seen[this_char]++;
    }
    return weight;
}

}  // namespace

bool lex_guess_subscript(PERLGCB* gcb, char* s)
{
    if (gcb->bracket_depth)
        return true;
    if (*s == '-')
        return s[1] == '>' && (s[2] == '[' || s[2] == '{');
    if (*s != '{' && *s != '[')
        return false;
    if (!gcb->in_pattern)
        return true;

    if (*s == '{') {
        // {n}, {n,} and {n,m} are quantifiers.
        s++;
        if (!is_digit(*s))
            return true;
        while (is_digit(*s))
            s++;
        if (*s == ',')
            s++;
        while (is_digit(*s))
            s++;
        return *s != '}';
    }

    s++;
    if (*s == ']' || *s == '^')
        return false;
    char* send = static_cast<char*>(std::memchr(s, ']', static_cast<size_t>(gcb->buffer_end - s)));
    if (!send)
        return true;
    return class_weight(gcb, s, send) < 0;
}

int32_t lex_guess_method_call(PERLGCB* gcb, char* start, GV* gv)
{
    char* s = start + (*start == '$');
    if (gv) {
        if (has_handle(gv))
            return 0;
        if (CV* cv = sub_of(gv)) {
            if (const char* proto = prototype_of(cv)) {
                if (*proto == ';')
                    proto++;
                if (*proto == '*')
                    return 0;
            }
        } else {
            gv = nullptr;
        }
    }
    char word[256];
    int32_t len = 0;
    s = scan_name_chars(gcb, s, word, sizeof word, 1, &len);
    if (*start == '$') {
        if (gv || gcb->last_list_op == OP_PRINT || host_is_upper(static_cast<uint8_t>(gcb->token_buffer[0])))
            return 0;
        s = lex_skip_whitespace(gcb, s);
        gcb->scan_pos = start;
        gcb->expect = XREF;
        return *s == '(' ? METHOD_NAME_PAREN : METHOD_NAME;
    }
    if (keyword_lookup(gcb, word, len))
        return 0;
    if (len > 2 && word[len - 2] == ':' && word[len - 1] == ':') {
        len -= 2;
        word[len] = 0;
    } else {
        GV* indirect = gv_fetch_by_name(gcb, word, 0, SVt_PVCV);
        if (sub_of(indirect))
            return 0;
        // A handle or a package name makes it a method call.
        if (gv && !has_handle(indirect) && !gv_stash_by_name_len(gcb, word, static_cast<uint32_t>(len), 0))
            return 0;
        char* t = lex_skip_whitespace(gcb, s);
        if (gcb->buffer_end - t >= 2 && t[0] == '=' && t[1] == '>')
            return 0;  // the word is quoted by "=>"
    }
    s = lex_skip_whitespace(gcb, s);
    OP* o = op_new_value(gcb, OP_CONST, 0, sv_new_from_bytes(gcb, word, static_cast<uint64_t>(len)));
    o->op_private = OPpCONST_BARE;
    gcb->expect = XTERM;
    lex_queue_op(gcb, BAREWORD, o);
    gcb->scan_pos = s;
    return *s == '(' ? METHOD_NAME_PAREN : METHOD_NAME;
}

void lex_forbid_comma(PERLGCB* gcb, char* s, const char* word, const char* what)
{
    char* end = gcb->buffer_end;
    if (s + 1 < end && s[0] == ' ' && s[1] == '(' && warn_enabled(gcb, WARN_SYNTAX)) {
        int32_t level = 1;
        char* w = s + 2;
        for (; w < end && *w && level; w++) {
            if (*w == '(')
                ++level;
            else if (*w == ')')
                --level;
        }
        while (w < end && *w && is_space(*w))
            w++;
        if (w >= end || !*w || !one_of(*w, ";|})]oaiuw!="))
            category_warning(gcb, WARN_SYNTAX, "%s (...) interpreted as function", word);
    }
    while (s < end && is_space(*s))
        s++;
    if (s < end && *s == '(')
        s++;
    while (s < end && is_space(*s))
        s++;
    if (!ident_start_at(gcb, s))
        return;
    char* w = s;
    s += static_cast<uint8_t>(*s) >= 0xC0 ? utf8_skip_of(static_cast<uint8_t>(*s)) : 1;
    while (s < end && (is_word(*s) || utf8_word_at(gcb, s)))
        s += static_cast<uint8_t>(*s) >= 0xC0 ? utf8_skip_of(static_cast<uint8_t>(*s)) : 1;
    int32_t len = static_cast<int32_t>(s - w);
    while (s < end && is_space(*s))
        s++;
    if (s >= end || *s != ',')
        return;
    char name[256];
    if (len < static_cast<int32_t>(sizeof name)) {
        std::memcpy(name, w, static_cast<size_t>(len));
        name[len] = 0;
        if (keyword_lookup(gcb, name, len) || sub_of(gv_fetch_by_name(gcb, name, 0, SVt_PVCV)))
            return;
    }
    fatal_error(gcb, "No comma allowed after %s", what);
}

void lex_operator_expected(PERLGCB* gcb, const char* what, char* s)
{
    char* old = gcb->scan_pos;
    bool first_on_line = gcb->prev_token_pos == gcb->line_start;
    if (!s)
        s = old;
    else
        gcb->scan_pos = s;
    compile_warning(gcb, format_message(gcb, "%s found where operator expected", what));
    char* pp = gcb->prev_prev_token_pos;
    if (first_on_line) {
        warning(gcb, "\t(Missing semicolon on previous line?)\n");
    } else if (pp && ident_start_at(gcb, pp)) {
        char* t = pp;
        while (t < gcb->buffer_end && (is_word(*t) || *t == ':' || utf8_word_at(gcb, t)))
            t += static_cast<uint8_t>(*t) >= 0xC0 ? utf8_skip_of(static_cast<uint8_t>(*t)) : 1;
        if (t < gcb->scan_pos && is_space(*t))
            warning(gcb, "\t(Do you need to predeclare %.*s?)\n", static_cast<int>(t - pp), pp);
    } else {
        warning(gcb, "\t(Missing operator before %.*s?)\n", static_cast<int>(s - old), old);
    }
    gcb->scan_pos = old;
}

void warn_commaless_list(PERLGCB* gcb) { warn_deprecated(gcb, "comma-less variable list"); }
