// Source constructs that are not plain delimited texts: here-documents, the
// input operator <...> and the picture and argument lines of a format.
#include <cstring>

#include "host/hostif.h"
#include "prxchar.h"
#include "prxgv.h"
#include "prxlexint.h"
#include "prxmsg.h"
#include "prxpad.h"
#include "prxsearch.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

using namespace prxchar;

namespace {

constexpr int32_t TOKEN_ROOM = 256;
constexpr uint64_t BODY_ROOM = 79;

// A word character at s for a terminator: also a UTF-8 word character
// under the utf8 hint.
bool word_at(PERLGCB* gcb, const char* s)
{
    if (static_cast<uint8_t>(*s) >= 0x80 && (gcb->compile_hints & HINT_UTF8))
        return utf8_is_word(gcb, reinterpret_cast<const uint8_t*>(s)) != 0;
    return is_word(*s);
}

// Points the lexer at the line buffer's text from its start.
void reset_to_line_buffer(PERLGCB* gcb)
{
    char* s = sv_pv(gcb->line_buffer);
    gcb->prev_prev_token_pos = gcb->prev_token_pos = gcb->scan_pos = gcb->line_start = s;
    gcb->buffer_end = s + sv_cur(gcb->line_buffer);
    gcb->last_unary_pos = gcb->last_list_op_pos = nullptr;
}

// The terminator without its line feeds, for the missing-terminator error.
[[noreturn]] void missing_document_end(PERLGCB* gcb, const char* term, int32_t len)
{
    char text[TOKEN_ROOM];
    int32_t n = 0;
    for (int32_t i = 0; i < len && n < TOKEN_ROOM - 1; i++)
        if (term[i] != '\n')
            text[n++] = term[i];
    text[n] = 0;
    lex_current_line(gcb) = static_cast<uint16_t>(gcb->multi_start_line);
    lex_missing_terminator_text(gcb, text);
}

// Line-end normalisation of a line read from the source: CR LF and LF CR
// become LF, a lone final CR becomes LF.
void normalise_line_end(PERLGCB* gcb)
{
    SV* line = gcb->line_buffer;
    char* p = sv_pv(line);
    uint64_t n = sv_cur(line);
    if (n >= 2 && ((p[n - 2] == '\r' && p[n - 1] == '\n') || (p[n - 2] == '\n' && p[n - 1] == '\r'))) {
        p[n - 2] = '\n';
        p[--n] = 0;
        sv_cur(line) = n;
    } else if (n >= 1 && p[n - 1] == '\r') {
        p[n - 1] = '\n';
    }
    gcb->buffer_end = p + n;
}

}  // namespace

char* scan_here_document(PERLGCB* gcb, char* s)
{
    const bool outer = gcb->source_handle && gcb->quote_op_kind != OP_SCALAR;
    int32_t op_type = OP_SCALAR;
    s += 2;
    char* term = gcb->token_buffer;
    char* d = term;
    char* e = term + TOKEN_ROOM - 1;
    if (!outer)
        *d++ = '\n';
    char* peek = s;
    while (blank_or_tab(*peek))
        peek++;
    char quote;
    if (*peek && std::strchr("`'\"", *peek)) {
        s = peek;
        quote = *s++;
        int32_t len = 0;
        s = const_cast<char*>(copy_to_delimiter(gcb, d, e, s, gcb->buffer_end, quote, &len));
        d = len < e - d ? d + len : e;
        if (s < gcb->buffer_end)
            s++;
    } else {
        if (*s == '\\') {
            s++;
            quote = '\'';
        } else {
            quote = '"';
        }
        if (!word_at(gcb, s))
            warn_deprecated(gcb, "bare << to mean <<\"\"");
        for (; word_at(gcb, s); s++)
            if (d < e)
                *d++ = *s;
    }
    if (d >= e)
        fatal_error(gcb, "Delimiter for here document is too long");
    *d++ = '\n';
    *d = 0;
    const int32_t len = static_cast<int32_t>(d - term);

    // Line ends of the rest of the buffer.
    if (char* cr = static_cast<char*>(std::memchr(s, '\r', static_cast<size_t>(gcb->buffer_end - s)))) {
        char* from = cr;
        char* to = cr;
        while (from < gcb->buffer_end) {
            if (*from == '\r') {
                *to++ = '\n';
                if (++from < gcb->buffer_end && *from == '\n')
                    from++;
            } else if (*from == '\n' && from + 1 < gcb->buffer_end && from[1] == '\r') {
                *to++ = *from;
                from += 2;
            } else {
                *to++ = *from++;
            }
        }
        *to = 0;
        gcb->buffer_end = to;
        sv_cur(gcb->line_buffer) = static_cast<uint64_t>(to - sv_pv(gcb->line_buffer));
    }

    // The rest of the current line (inner) or buffer (outer) is set aside.
    // Inner, it starts one byte early: the lexer resumes one byte into the
    // rebuilt buffer.
    SV* herewas;
    const char* nl = outer ? nullptr : static_cast<const char*>(std::memchr(s, '\n', static_cast<size_t>(gcb->buffer_end - s)));
    if (!nl) {
        herewas = sv_new_from_bytes(gcb, s, static_cast<uint64_t>(gcb->buffer_end - s));
    } else {
        s--;
        herewas = sv_new_from_bytes(gcb, s, static_cast<uint64_t>(nl - s));
    }
    s += sv_cur(herewas);

    SV* doc = sv_new_undef(gcb, BODY_ROOM);
    sv_upgrade_body(gcb, doc, SVt_PVIV);
    sv_set_bytes(gcb, doc, "", 0);
    sv_iv(doc) = 0;
    if (quote == '\'') {
        op_type = OP_CONST;
        sv_iv(doc) = -1;
    } else if (quote == '`') {
        op_type = OP_BACKTICK;
        sv_iv(doc) = '\\';
    }
    int32_t line = lex_current_line(gcb);
    if (gcb->statement_line > line)
        gcb->statement_line = line;
    gcb->multi_start_line = line;
    gcb->open_delim = gcb->close_delim = '<';

    bool done = false;
    if (gcb->quote_op_kind == OP_SUBST && gcb->in_eval && !gcb->source_handle && gcb->outer_pos) {
        // Inside the code of an s///e: the document follows the line of the
        // s///e in the outer text, and is cut out of it.
        char* bufptr = gcb->outer_pos;
        char* bufend = gcb->outer_end;
        char* olds = s - sv_cur(herewas);
        char* p = static_cast<char*>(std::memchr(bufptr, '\n', static_cast<size_t>(bufend - bufptr)));
        if (!p)
            p = bufend;
        char* start = p;
        while (p < bufend && (bufend - p < len || std::memcmp(p, term, static_cast<size_t>(len)) != 0))
            if (*p++ == '\n')
                lex_current_line(gcb)++;
        if (p >= bufend) {
            sv_release(gcb, herewas);
            sv_release(gcb, doc);
            missing_document_end(gcb, term, len);
        }
        sv_set_bytes(gcb, herewas, bufptr, static_cast<uint64_t>(start - bufptr + 1));
        sv_set_bytes(gcb, doc, start + 1, static_cast<uint64_t>(p - start));
        p += len - 1;
        sv_append_bytes(gcb, herewas, p, static_cast<uint64_t>(bufend - p));
        // The rebuilt outer text is shorter than before; a NUL ends it.
        std::memcpy(bufptr, sv_pv(herewas), sv_cur(herewas));
        bufptr[sv_cur(herewas)] = 0;
        gcb->outer_end = bufptr + sv_cur(herewas);
        s = olds;
        done = true;
    } else if (!outer) {
        char* start = s;
        while (s < gcb->buffer_end &&
               (gcb->buffer_end - s < len || std::memcmp(s, term, static_cast<size_t>(len)) != 0))
            if (*s++ == '\n')
                lex_current_line(gcb)++;
        if (s >= gcb->buffer_end) {
            sv_release(gcb, herewas);
            sv_release(gcb, doc);
            missing_document_end(gcb, term, len);
        }
        sv_set_bytes(gcb, doc, start + 1, static_cast<uint64_t>(s - start));
        s += len - 1;
        lex_current_line(gcb)++;  // the terminator's own leading line feed
        sv_append_bytes(gcb, herewas, s, static_cast<uint64_t>(gcb->buffer_end - s));
        sv_assign(gcb, gcb->line_buffer, herewas);
        reset_to_line_buffer(gcb);
        s = gcb->scan_pos;
    }
    while (!done && s >= gcb->buffer_end) {
        char* next = outer ? lex_read_line(gcb, gcb->line_buffer, gcb->source_handle) : nullptr;
        if (!next) {
            sv_release(gcb, herewas);
            sv_release(gcb, doc);
            missing_document_end(gcb, term, len);
        }
        reset_to_line_buffer(gcb);
        s = gcb->scan_pos;
        lex_current_line(gcb)++;
        normalise_line_end(gcb);
        lex_keep_debugger_line(gcb, s, sv_cur(gcb->line_buffer));
        if (gcb->buffer_end - s >= len && std::memcmp(s, term, static_cast<size_t>(len)) == 0) {
            s = gcb->buffer_end - 1;
            *s = ' ';
            sv_append_sv(gcb, gcb->line_buffer, herewas);
            char* base = sv_pv(gcb->line_buffer);
            s = base + (sv_cur(gcb->line_buffer) - sv_cur(herewas)) - 1;
            gcb->prev_prev_token_pos = gcb->prev_token_pos = gcb->scan_pos = gcb->line_start = base;
            gcb->buffer_end = base + sv_cur(gcb->line_buffer);
        } else {
            sv_append_sv(gcb, doc, gcb->line_buffer);
            s = gcb->buffer_end;
        }
    }
    if (!done)
        s++;
    gcb->multi_end_line = lex_current_line(gcb);
    sv_release(gcb, herewas);
    if (lex_utf8_source(gcb) && utf8_check_string(gcb, reinterpret_cast<const uint8_t*>(sv_pv(doc)), sv_cur(doc)))
        doc->flags |= SVf_UTF8;
    gcb->quote_body = doc;
    gcb->token_value.ival = op_type;
    return s;
}

char* scan_input_operator(PERLGCB* gcb, char* start)
{
    char* s = start;
    char* d = gcb->token_buffer;
    char* end = static_cast<char*>(std::memchr(s, '\n', static_cast<size_t>(gcb->buffer_end - s)));
    if (!end)
        end = gcb->buffer_end;
    int32_t len = 0;
    s = const_cast<char*>(copy_to_delimiter(gcb, d, d + TOKEN_ROOM, s + 1, end, '>', &len));
    if (len >= TOKEN_ROOM)
        fatal_error(gcb, "Excessively long <> operator");
    if (s >= end)
        fatal_error(gcb, "Unterminated <> operator");
    s++;
    if (*d == '$' && d[1])
        d++;
    while (*d && (is_word(*d) || *d == '\'' || *d == ':' ||
                  (static_cast<uint8_t>(*d) >= 0xC0 && lex_utf8_source(gcb) &&
                   utf8_is_word(gcb, reinterpret_cast<const uint8_t*>(d)))))
        d++;
    if (d - gcb->token_buffer != len) {
        gcb->token_value.ival = OP_GLOB;
        s = scan_delimited(gcb, start, 0, 0);
        if (!s)
            fatal_error(gcb, "Glob not terminated");
        return s;
    }
    d = gcb->token_buffer;
    if (!len)
        std::memcpy(d, "ARGV", 5);
    OP* readline;
    if (*d == '$') {
        uint32_t slot = pad_find_lexical(gcb, d);
        OP* var;
        if (slot != PAD_NOT_FOUND) {
            var = op_new_base(gcb, OP_PADSV, 0);
            var->op_targ = slot;
        } else {
            GV* gv = gv_fetch_by_name(gcb, d + 1, GV_ADD, SVt_PV);
            var = op_new_unary(gcb, OP_RV2SV, 0, op_new_glob(gcb, OP_GV, 0, gv));
        }
        readline = op_new_unary(gcb, OP_READLINE, 0, var);
        readline->op_flags |= OPf_SPECIAL;
    } else {
        GV* gv = gv_fetch_by_name(gcb, d, GV_ADD, SVt_PVIO);
        readline = op_new_unary(gcb, OP_READLINE, 0, op_new_glob(gcb, OP_GV, 0, gv));
    }
    gcb->scanned_op = readline;
    gcb->token_value.ival = OP_NULL;
    return s;
}

char* scan_format(PERLGCB* gcb, char* s)
{
    SV* stuff = sv_new_from_bytes(gcb, "", 0);
    bool needargs = false;
    while (!needargs) {
        if (*s == '.' || *s == '}') {
            char* t = s + 1;
            while (blank_or_tab(*t) || *t == '\r')
                t++;
            if (*t == '\n' || t == gcb->buffer_end)
                break;
        }
        char* eol;
        if (gcb->in_eval && !gcb->source_handle) {
            eol = static_cast<char*>(std::memchr(s, '\n', static_cast<size_t>(gcb->buffer_end - s)));
            eol = eol ? eol + 1 : gcb->buffer_end;
        } else {
            eol = gcb->buffer_end = sv_pv(gcb->line_buffer) + sv_cur(gcb->line_buffer);
        }
        if (*s != '#') {
            bool enough = false;
            for (char* t = s; t < eol; t++) {
                if (*t == '~' && t + 1 < eol && t[1] == '~' && sv_cur(stuff)) {
                    enough = true;
                    break;
                }
                if (*t == '@' || *t == '^')
                    needargs = true;
            }
            if (enough) {
                needargs = false;
                break;
            }
            sv_append_bytes(gcb, stuff, s, static_cast<uint64_t>(eol - s));
            if (eol - s > 1 && eol[-2] == '\r' && eol[-1] == '\n') {
                char* p = sv_pv(stuff) + sv_cur(stuff);
                p[-2] = '\n';
                p[-1] = 0;
                sv_cur(stuff)--;
            }
        }
        s = eol;
        if (gcb->source_handle) {
            s = lex_read_line(gcb, gcb->line_buffer, gcb->source_handle);
            reset_to_line_buffer(gcb);
            if (!s) {
                s = gcb->scan_pos;
                compile_error(gcb, "Format not terminated");
                break;
            }
        } else if (s >= gcb->buffer_end) {
            // The whole text is used up without the ending line: nothing
            // more can come.
            compile_error(gcb, "Format not terminated");
            break;
        }
        lex_line_directive(gcb, s);
    }
    if (sv_cur(stuff)) {
        gcb->expect = XTERM;
        if (needargs) {
            gcb->lex_state = LEX_NORMAL;
            lex_queue_int(gcb, ',', 0);
        } else {
            gcb->lex_state = LEX_FORMLINE;
        }
        lex_queue_op(gcb, TERM_OP, op_new_value(gcb, OP_CONST, 0, stuff));
        lex_queue_int(gcb, LIST_OP, OP_FORMLINE);
    } else {
        sv_release(gcb, stuff);
        gcb->format_bracket_depth = 0;
        gcb->scan_pos = s;
    }
    return s;
}
