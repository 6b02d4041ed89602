// Scanners of the lexer: numeric and version literals, delimited texts, and
// the pattern, substitution and transliteration constructs.
#include <cstdio>
#include <cstring>

#include "host/hostif.h"
#include "prxchar.h"
#include "prxlexint.h"
#include "prxlibc.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxsv.h"
#include "prxutf8.h"

using namespace prxchar;

namespace {

// Room for the digits of a decimal literal in token_buffer: the last six
// bytes stay free for the exponent's sign and the terminator.
constexpr int32_t NUMBER_ROOM = 256 - 6;
// Initial room of a delimited body.
constexpr uint64_t BODY_ROOM = 79;

// Per base, indexed by bits per digit (1 binary, 3 octal, 4 hexadecimal).
struct BaseNames {
    const char* name;       // in the overflow warning
    const char* capital;    // in the portability warning
    const char* max;        // the largest portable value as written
    double multiplier;      // once the value is a double
};
constexpr BaseNames base_names[5] = {
    {nullptr, nullptr, nullptr, 0.0},
    {"binary", "Binary", "0b11111111111111111111111111111111", 2.0},
    {nullptr, nullptr, nullptr, 0.0},
    {"octal", "Octal", "037777777777", 8.0},
    {"hexadecimal", "Hexadecimal", "0xffffffff", 16.0},
};

[[noreturn]] void number_too_long(PERLGCB* gcb) { fatal_error(gcb, "Number too long"); }

void syntax_warning(PERLGCB* gcb, const char* text)
{
    if (warn_enabled(gcb, WARN_SYNTAX))
        category_warning(gcb, WARN_SYNTAX, "%s", text);
}

// A version string from s (at its first digit) on: one character per dotted
// part. *end gets the position after it.
SV* scan_version_parts(PERLGCB* gcb, char* s, char** end)
{
    char* pos = s;
    while (is_digit(*pos) || *pos == '_')
        pos++;
    SV* sv = sv_new_from_bytes(gcb, "", 0);
    bool wide = false;
    for (;;) {
        if (*s == '0' && is_digit(s[1]))
            compile_error(gcb, "Octal number in vector unsupported");
        // The part's value from its last digit back; underscores skipped.
        uint64_t rev = 0;
        uint64_t mult = 1;
        for (char* p = pos; --p >= s;) {
            if (*p == '_')
                continue;
            uint64_t before = rev;
            rev += static_cast<uint64_t>(*p - '0') * mult;
            mult *= 10;
            if (before > rev && warn_enabled_default(gcb, WARN_OVERFLOW))
                category_warning(gcb, WARN_OVERFLOW, "Integer overflow in decimal number");
        }
        uint8_t buf[16];
        uint8_t* e = utf8_encode(gcb, buf, rev);
        sv_append_bytes(gcb, sv, reinterpret_cast<char*>(buf), static_cast<uint64_t>(e - buf));
        wide = wide || rev > 127;
        if (*pos == '.' && is_digit(pos[1])) {
            s = ++pos;
            while (is_digit(*pos) || *pos == '_')
                pos++;
        } else {
            break;
        }
    }
    *end = pos;
    sv->flags |= SVf_READONLY;
    if (wide) {
        sv->flags |= SVf_UTF8;
        if (!lex_utf8_source(gcb))
            sv_convert_to_bytes(gcb, sv, 1);
    }
    return sv;
}

// A version string at s, which is its "v" or (rescanned) its first digit.
// Null when the text is a word after all; *end then stays at s.
SV* scan_version(PERLGCB* gcb, char* s, char** end)
{
    char* digits = *s == 'v' ? s + 1 : s;
    char* pos = digits;
    while (is_digit(*pos) || *pos == '_')
        pos++;
    *end = s;
    if (is_alpha(*pos))
        return nullptr;
    return scan_version_parts(gcb, digits, end);
}

SV* scan_based(PERLGCB* gcb, char* start, char* s, int32_t shift, char** end)
{
    uint64_t u = 0;
    double n = 0.0;
    bool overflowed = false;
    const BaseNames& base = base_names[shift];
    for (;; s++) {
        uint32_t b;
        char c = *s;
        if (c == '_')
            continue;
        if (c >= '0' && c <= '9') {
            if ((c == '8' || c == '9') && shift == 3) {
                char msg[32];
                std::snprintf(msg, sizeof msg, "Illegal octal digit '%c'", c);
                compile_error(gcb, msg);
            }
            if (c >= '2' && shift == 1) {
                char msg[32];
                std::snprintf(msg, sizeof msg, "Illegal binary digit '%c'", c);
                compile_error(gcb, msg);
            }
            b = static_cast<uint32_t>(c - '0');
        } else if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) {
            if (shift != 4)
                break;
            b = static_cast<uint32_t>((c & 7) + 9);
        } else {
            break;
        }
        if (!overflowed) {
            uint64_t x = u << shift;
            if ((x >> shift) != u && !(gcb->compile_hints & HINT_NEW_BINARY)) {
                overflowed = true;
                n = static_cast<double>(u);
                if (warn_enabled_default(gcb, WARN_OVERFLOW))
                    category_warning(gcb, WARN_OVERFLOW, "Integer overflow in %s number", base.name);
            } else {
                u = x | b;
            }
        }
        if (overflowed)
            n = n * base.multiplier + static_cast<double>(b);
    }
    *end = s;
    SV* sv;
    if (overflowed) {
        if (n > 4294967295.0 && warn_enabled(gcb, WARN_PORTABLE))
            category_warning(gcb, WARN_PORTABLE, "%s number > %s non-portable", base.capital, base.max);
        sv = sv_new_from_double(gcb, n);
    } else {
        if (u > 0xffffffffu && warn_enabled(gcb, WARN_PORTABLE))
            category_warning(gcb, WARN_PORTABLE, "%s number > %s non-portable", base.capital, base.max);
        sv = u <= 0x7fffffffu ? sv_new_from_int(gcb, static_cast<int64_t>(u)) : sv_new_from_uint(gcb, u);
    }
    if (gcb->compile_hints & HINT_NEW_BINARY)
        sv = lex_overload_constant(gcb, start, static_cast<int32_t>(s - start), "binary", sv, nullptr, "binary");
    return sv;
}

// A decimal literal; null with *end at the start of a version string that
// has no "v" (two or more dots), which the caller rescans.
SV* scan_decimal(PERLGCB* gcb, char* s, char** end, bool* is_version)
{
    char* d = gcb->token_buffer;
    char* e = gcb->token_buffer + NUMBER_ROOM;
    char* last_underscore = nullptr;
    bool floatit = false;
    *is_version = false;
    while (is_digit(*s) || *s == '_') {
        if (*s == '_') {
            if (last_underscore && s - last_underscore != 3)
                syntax_warning(gcb, "Misplaced _ in number");
            last_underscore = ++s;
        } else {
            if (d >= e)
                number_too_long(gcb);
            *d++ = *s++;
        }
    }
    if (last_underscore && s - last_underscore != 3)
        syntax_warning(gcb, "Misplaced _ in number");
    if (*s == '.' && s[1] != '.') {
        floatit = true;
        *d++ = *s++;
        for (; is_digit(*s) || *s == '_'; s++) {
            if (d >= e)
                number_too_long(gcb);
            if (*s != '_')
                *d++ = *s;
        }
        if (*s == '.' && is_digit(s[1])) {
            *is_version = true;
            return nullptr;
        }
    }
    if ((*s == 'e' || *s == 'E') && s[1] && std::strchr("+-0123456789", s[1])) {
        floatit = true;
        s++;
        *d++ = 'e';
        if (*s == '+' || *s == '-')
            *d++ = *s++;
        while (is_digit(*s)) {
            if (d >= e)
                number_too_long(gcb);
            *d++ = *s++;
        }
    }
    *d = 0;
    *end = s;
    double value = prx_atof(gcb->token_buffer);
    SV* sv;
    if (!floatit && value >= 0.0 && value < 18446744073709551616.0 &&
        static_cast<double>(static_cast<uint64_t>(value)) == value) {
        uint64_t uv = static_cast<uint64_t>(value);
        sv = uv <= 0x7fffffffu ? sv_new_from_int(gcb, static_cast<int64_t>(uv)) : sv_new_from_uint(gcb, uv);
    } else {
        sv = sv_new_from_double(gcb, value);
    }
    if (gcb->compile_hints & (floatit ? HINT_NEW_FLOAT : HINT_NEW_INTEGER)) {
        // The kind is both the hint-hash key and the handler's type argument.
        const char* kind = floatit ? "float" : "integer";
        sv = lex_overload_constant(gcb, gcb->token_buffer, static_cast<int32_t>(d - gcb->token_buffer), kind, sv,
                                   nullptr, kind);
    }
    return sv;
}

}  // namespace

char* scan_num(PERLGCB* gcb, char* start, OP** out)
{
    char* s = start;
    char* end = start;
    SV* sv = nullptr;
    bool is_version = false;
    *out = nullptr;
    switch (*s) {
    case '0':
        if (s[1] == 'x') {
            sv = scan_based(gcb, start, s + 2, 4, &end);
            break;
        }
        if (s[1] == 'b') {
            sv = scan_based(gcb, start, s + 2, 1, &end);
            break;
        }
        if (s[1] != '.' && s[1] != 'e' && s[1] != 'E') {
            sv = scan_based(gcb, start, s, 3, &end);
            break;
        }
        [[fallthrough]];
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': case '.':
        sv = scan_decimal(gcb, s, &end, &is_version);
        if (is_version)
            sv = scan_version(gcb, start, &end);
        break;
    case 'v':
        sv = scan_version(gcb, s, &end);
        break;
    default:
        fatal_error(gcb, "panic: scan_num");
    }
    if (sv)
        *out = op_new_value(gcb, OP_CONST, 0, sv);
    return end;
}

double sv_version_number(PERLGCB* gcb, SV* sv)
{
    uint64_t len = 0;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
    const uint8_t* e = s + len;
    double value = 0.0;
    double scale = 1.0;
    while (s < e) {
        uint64_t c;
        if (sv->flags & SVf_UTF8) {
            int64_t n = 0;
            c = utf8_decode(gcb, s, static_cast<uint64_t>(e - s), &n, 0);
            s += n > 0 ? n : 1;
        } else {
            c = *s++;
        }
        value += static_cast<double>(c) / scale;
        scale *= 1000.0;
    }
    return value;
}

char* lex_push_version(PERLGCB* gcb, char* s)
{
    OP* version = nullptr;
    s = lex_skip_whitespace(gcb, s);
    char* d = s;
    if (*d == 'v')
        d++;
    if (is_digit(*d)) {
        while (is_digit(*d) || *d == '_' || *d == '.')
            d++;
        if (*d == ';' || is_space(*d) || *d == '}' || !*d) {
            s = scan_num(gcb, s, &version);
            SV* ver = version ? reinterpret_cast<op_value*>(version)->op_sv : nullptr;
            if (ver && (ver->flags & SVf_POK) && !(ver->flags & (SVf_IOK | SVf_NOK))) {
                sv_upgrade_body(gcb, ver, SVt_PVNV);
                sv_nv(ver) = sv_version_number(gcb, ver);
                ver->flags |= SVf_NOK | SVp_NOK;
            }
        }
    }
    lex_queue_op(gcb, BAREWORD, version);
    return s;
}

// ---- delimited texts -----------------------------------------------------------

char* scan_delimited(PERLGCB* gcb, char* start, int32_t keep_backslashes, int32_t keep_delimiters)
{
    char* s = start;
    if (is_space(*s))
        s = lex_skip_whitespace(gcb, s);
    int32_t line = lex_current_line(gcb);
    if (gcb->statement_line > line)
        gcb->statement_line = line;
    uint8_t term = static_cast<uint8_t>(*s);
    bool utf8 = term >= 0x80 && (gcb->compile_hints & HINT_UTF8);
    gcb->multi_start_line = line;
    gcb->open_delim = term;
    if (term) {
        static constexpr char pairs[] = "([{< )]}> )]}>";
        if (const char* t = std::strchr(pairs, term))
            term = static_cast<uint8_t>(t[5]);
    }
    gcb->close_delim = term;
    const char open = static_cast<char>(gcb->open_delim);
    const char close = static_cast<char>(term);
    const bool nesting = open != close;

    SV* sv = sv_new_undef(gcb, BODY_ROOM);
    sv_upgrade_body(gcb, sv, SVt_PVIV);
    sv_iv(sv) = term;
    sv_set_bytes(gcb, sv, "", 0);
    sv_iv(sv) = term;
    sv->flags &= ~(SVf_IOK | SVp_IOK);
    if (keep_delimiters)
        sv_append_bytes(gcb, sv, s, 1);
    s++;
    int32_t brackets = 1;
    for (;;) {
        char* bufend = gcb->buffer_end;
        char* base = sv_grow_buffer(gcb, sv, sv_cur(sv) + static_cast<uint64_t>(bufend - s) + 1);
        char* to = base + sv_cur(sv);
        for (; s < bufend; s++, to++) {
            if (*s == '\n' && !gcb->source_handle)
                lex_current_line(gcb)++;
            if (*s == '\\' && s + 1 < bufend && (nesting || close != '\\')) {
                bool drop = !keep_backslashes && (nesting ? (s[1] == open || s[1] == close) : s[1] == close);
                if (drop)
                    s++;
                else
                    *to++ = *s++;
            } else if (nesting && *s == close && --brackets <= 0) {
                break;
            } else if (!nesting && *s == close) {
                break;
            } else if (nesting && *s == open) {
                brackets++;
            } else if (!utf8 && (*s & 0x80) && (gcb->compile_hints & HINT_UTF8)) {
                utf8 = true;
            }
            *to = *s;
        }
        *to = 0;
        sv_cur(sv) = static_cast<uint64_t>(to - base);
        if (s < bufend)
            break;
        // Out of text: normalise the stored line end, then read on.
        uint64_t n = sv_cur(sv);
        if (n >= 2 && base[n - 2] == '\r' && base[n - 1] == '\n') {
            base[n - 2] = '\n';
            base[--n] = 0;
            sv_cur(sv) = n;
        } else if (n >= 1 && base[n - 1] == '\r') {
            base[n - 1] = '\n';
        }
        char* next = gcb->source_handle ? lex_read_line(gcb, gcb->line_buffer, gcb->source_handle) : nullptr;
        if (!next) {
            if (gcb->source_handle)
                gcb->prev_prev_token_pos = gcb->prev_token_pos = gcb->line_start = nullptr;
            sv_release(gcb, sv);
            lex_current_line(gcb) = static_cast<uint16_t>(gcb->multi_start_line);
            return nullptr;
        }
        lex_current_line(gcb)++;
        uint64_t len = sv_cur(gcb->line_buffer);
        lex_keep_debugger_line(gcb, next, len);
        s = gcb->prev_prev_token_pos = gcb->prev_token_pos = gcb->line_start = next;
        gcb->buffer_end = next + len;
        gcb->last_unary_pos = gcb->last_list_op_pos = nullptr;
    }
    if (keep_delimiters)
        sv_append_bytes(gcb, sv, s, 1);
    sv->flags |= SVf_POK | SVp_POK;
    if (utf8)
        sv->flags |= SVf_UTF8;
    gcb->multi_end_line = lex_current_line(gcb);
    s++;
    if (gcb->quote_body)
        gcb->replacement_text = sv;
    else
        gcb->quote_body = sv;
    return s;
}

void lex_missing_terminator_text(PERLGCB* gcb, const char* text)
{
    char q = std::strchr(text, '"') ? '\'' : '"';
    fatal_error(gcb, "Can't find string terminator %c%s%c anywhere before EOF", q, text, q);
}

void lex_missing_terminator(PERLGCB* gcb)
{
    char text[3];
    uint8_t c = static_cast<uint8_t>(gcb->close_delim);
    if (c >= 0x20 && c <= 0x7E) {
        text[0] = static_cast<char>(c);
        text[1] = 0;
    } else {
        text[0] = '^';
        text[1] = static_cast<char>(g_host_vector->upper[c] ^ 0x40);
        text[2] = 0;
    }
    lex_missing_terminator_text(gcb, text);
}

// ---- pattern, substitution and transliteration ------------------------------

char* scan_pattern(PERLGCB* gcb, char* start, int32_t type)
{
    char* s = scan_delimited(gcb, start, 0, 0);
    if (!s)
        fatal_error(gcb, "Search pattern not terminated");
    op_pattern* pm = op_as_pattern(op_new_pattern(gcb, type, 0));
    if (gcb->open_delim == '?')
        pm->op_pmflags |= PMf_ONCE;
    const char* letters = type == OP_QR ? "iomsx" : "iogcmsx";
    while (*s && std::strchr(letters, *s))
        pattern_flag_add(gcb, &pm->op_pmflags, *s++);
    pm->op_pmpermflags = pm->op_pmflags;
    gcb->scanned_op = &pm->op;
    gcb->token_value.ival = OP_MATCH;
    return s;
}

namespace {

// The second part of s/// or tr///: the first part's closing delimiter opens
// it when the pair does not nest. On failure the first part goes and the
// message is raised.
char* scan_second_part(PERLGCB* gcb, char* s, const char* message)
{
    if (s[-1] == static_cast<char>(gcb->open_delim))
        s--;
    int32_t first_start = gcb->multi_start_line;
    s = scan_delimited(gcb, s, 0, 0);
    if (!s) {
        if (gcb->quote_body) {
            sv_release(gcb, gcb->quote_body);
            gcb->quote_body = nullptr;
        }
        fatal_error(gcb, "%s", message);
    }
    gcb->multi_start_line = first_start;
    return s;
}

}  // namespace

char* scan_substitution(PERLGCB* gcb, char* start)
{
    gcb->token_value.ival = OP_NULL;
    char* s = scan_delimited(gcb, start, 0, 0);
    if (!s)
        fatal_error(gcb, "Substitution pattern not terminated");
    s = scan_second_part(gcb, s, "Substitution replacement not terminated");
    op_pattern* pm = op_as_pattern(op_new_pattern(gcb, OP_SUBST, 0));
    int32_t es = 0;
    while (*s) {
        if (*s == 'e') {
            s++;
            es++;
        } else if (std::strchr("iogcmsx", *s)) {
            pattern_flag_add(gcb, &pm->op_pmflags, *s++);
        } else {
            break;
        }
    }
    if (es) {
        gcb->outer_pos = s;
        gcb->outer_end = gcb->buffer_end;
        gcb->multi_end_line = 0;
        pm->op_pmflags |= PMf_EVAL;
        SV* repl = sv_new_from_bytes(gcb, "", 0);
        while (es-- > 0)
            sv_append_cstring(gcb, repl, es ? "eval " : "do ");
        sv_append_bytes(gcb, repl, "{ ", 2);
        sv_append_sv(gcb, repl, gcb->replacement_text);
        // The block ends without a ";": the reader takes any text left after
        // the code as a fault ("Bad evalled substitution pattern").
        sv_append_bytes(gcb, repl, " }", 2);
        repl->flags |= SVf_EVALED;
        sv_release(gcb, gcb->replacement_text);
        gcb->replacement_text = repl;
    }
    pm->op_pmpermflags = pm->op_pmflags;
    gcb->scanned_op = &pm->op;
    gcb->token_value.ival = OP_SUBST;
    return s;
}

char* scan_transliteration(PERLGCB* gcb, char* start)
{
    gcb->token_value.ival = OP_NULL;
    char* s = scan_delimited(gcb, start, 0, 0);
    if (!s)
        fatal_error(gcb, "Transliteration pattern not terminated");
    s = scan_second_part(gcb, s, "Transliteration replacement not terminated");
    char* table = static_cast<char*>(pool_malloc(gcb, 256 * sizeof(int16_t)));
    std::memset(table, 0, 256 * sizeof(int16_t));
    OP* o = op_new_string(gcb, OP_TRANS, 0, table);
    uint8_t flags = 0;
    for (; *s && std::strchr("cds", *s); s++) {
        if (*s == 'c')
            flags |= OPpTRANS_COMPLEMENT;
        else if (*s == 'd')
            flags |= OPpTRANS_DELETE;
        else
            flags |= OPpTRANS_SQUASH;
    }
    if (!lex_bytes_hint(gcb)) {
        if (gcb->quote_body->flags & SVf_UTF8)
            flags |= OPpTRANS_FROM_UTF;
        if (gcb->replacement_text->flags & SVf_UTF8)
            flags |= OPpTRANS_TO_UTF;
    }
    o->op_private = flags;
    gcb->scanned_op = o;
    gcb->token_value.ival = OP_TRANS;
    return s;
}
