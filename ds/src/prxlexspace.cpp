// The token reader's white space, comments, lines and end of text: the
// white-space skipper, the list-operator routine, and the cases of the
// normal scan for NUL, the end-of-file bytes, "#" and the newline.
#include <cstring>

#include "host/hostif.h"
#include "prxchar.h"
#include "prxgv.h"
#include "prxlexint.h"
#include "prxsearch.h"
#include "prxsv.h"

using namespace prxchar;

namespace {

constexpr char PERL_WORD[] = "perl";

// A format's argument lines are open: only blanks and tabs separate tokens.
bool in_format_arguments(PERLGCB* gcb)
{
    return gcb->format_bracket_depth && gcb->bracket_depth <= gcb->format_bracket_depth;
}

// Lines are counted by the reader itself: an evaluated string without a
// source stream (a stream counts its lines as it reads them).
bool counts_lines(PERLGCB* gcb) { return gcb->in_eval && !gcb->source_handle; }

// Positions that point into the line buffer move with its text when a read
// reallocates it.
void move_saved_positions(PERLGCB* gcb, char* old_start, char* new_start)
{
    if (old_start == new_start)
        return;
    char** fields[] = {&gcb->prev_token_pos, &gcb->prev_prev_token_pos, &gcb->last_unary_pos,
                       &gcb->last_list_op_pos};
    for (char** f : fields)
        if (*f)
            *f = new_start + (*f - old_start);
}

// Makes the line buffer's whole text current: every position at its start.
void restart_at_buffer(PERLGCB* gcb)
{
    uint64_t len = 0;
    char* s = sv_text(gcb, gcb->line_buffer, &len);
    gcb->scan_pos = gcb->prev_token_pos = gcb->prev_prev_token_pos = gcb->line_start = s;
    gcb->buffer_end = s + len;
    gcb->last_unary_pos = gcb->last_list_op_pos = nullptr;
}

// The source stream is done with. Closing a stream is a no-op substitute in
// this system, so only the field goes.
void release_source(PERLGCB* gcb) { gcb->source_handle = 0; }

// Puts text in place of the line buffer's content.
void replace_buffer_text(PERLGCB* gcb, const char* text)
{
    sv_set_bytes(gcb, gcb->line_buffer, text, std::strlen(text));
    restart_at_buffer(gcb);
}

}  // namespace

char* lex_skip_whitespace(PERLGCB* gcb, char* s)
{
    if (in_format_arguments(gcb)) {
        while (s < gcb->buffer_end && blank_or_tab(*s))
            s++;
        return s;
    }
    for (;;) {
        while (s < gcb->buffer_end && is_space(*s)) {
            if (*s++ == '\n' && counts_lines(gcb))
                lex_line_directive(gcb, s);
        }
        if (s < gcb->buffer_end && *s == '#') {
            while (s < gcb->buffer_end && *s != '\n')
                s++;
            if (s < gcb->buffer_end) {
                // White space may follow on the next line, in every kind of
                // text: the loop goes on after the comment's newline.
                s++;
                if (counts_lines(gcb))
                    lex_line_directive(gcb, s);
                continue;
            }
        }
        if (s < gcb->buffer_end || !gcb->source_handle || gcb->quote_op_kind || gcb->lex_state == LEX_FORMLINE)
            return s;

        // The next line is appended to the buffer, so that the positions
        // of the tokens before it stay valid.
        SV* line = gcb->line_buffer;
        char* old_start = sv_pv(line);
        uint64_t prevlen = static_cast<uint64_t>(gcb->buffer_end - old_start);
        bool got;
        if (gcb->source_filters)
            got = filter_read_input(gcb, 0, line, 0) > 0;
        else
            got = sv_read_record(gcb, line, gcb->source_handle, static_cast<int32_t>(prevlen)) != nullptr;
        if (!got || sv_cur(line) <= prevlen) {
            replace_buffer_text(gcb, ";");
            release_source(gcb);
            return gcb->scan_pos;
        }
        char* start = sv_pv(line);
        move_saved_positions(gcb, old_start, start);
        s = gcb->line_start = gcb->scan_pos = start + prevlen;
        gcb->buffer_end = start + sv_cur(line);
        lex_line_directive(gcb, s);
        lex_keep_debugger_line(gcb, s, static_cast<uint64_t>(gcb->buffer_end - s));
    }
}

int32_t lex_list_operator(PERLGCB* gcb, int32_t type, int32_t expect, char* s)
{
    gcb->token_value.ival = type;
    lex_lower_statement_line(gcb);
    gcb->expect = expect;
    gcb->scan_pos = s;
    gcb->last_list_op_pos = gcb->prev_token_pos;
    gcb->last_list_op = static_cast<uint16_t>(type);
    if (gcb->queued_count)
        return LIST_OP;
    if (*s == '(')
        return FUNC_PAREN;
    s = lex_skip_whitespace(gcb, s);
    return *s == '(' ? FUNC_PAREN : LIST_OP;
}

int32_t lex_nul_byte(PERLGCB* gcb, char* s)
{
    if (!gcb->source_handle) {
        gcb->last_unary_pos = gcb->last_list_op_pos = nullptr;
        if (gcb->bracket_depth)
            compile_error(gcb, "Missing right curly or square bracket");
        gcb->scan_pos = s;
        return 0;
    }
    if (s < gcb->buffer_end) {
        // A stray NUL inside a line read from a stream.
        gcb->scan_pos = s + 1;
        return LEX_RESCAN;
    }
    // The next line of the stream replaces the buffer.
    for (;;) {
        char* text = lex_read_line(gcb, gcb->line_buffer, gcb->source_handle);
        if (!text)
            return lex_end_of_file(gcb, s);
        restart_at_buffer(gcb);
        lex_line_directive(gcb, gcb->scan_pos);
        if (!gcb->doc_skipping)
            break;
        char* line = gcb->scan_pos;
        uint64_t len = static_cast<uint64_t>(gcb->buffer_end - line);
        if (len >= 2 && line[0] == '#' && line[1] == '!' && mem_find(gcb, line, line + len, PERL_WORD, PERL_WORD + 4)) {
            gcb->doc_skipping = 0;
        } else if (len >= 4 && std::memcmp(line, "=cut", 4) == 0) {
            sv_set_bytes(gcb, gcb->line_buffer, "", 0);
            restart_at_buffer(gcb);
            gcb->doc_skipping = 0;
        }
        if (!gcb->doc_skipping)
            break;
    }
    if (gcb->current_statement && gcb->current_statement->cop_line == 1)
        gcb->scan_pos = lex_check_bom(gcb, gcb->scan_pos);
    lex_keep_debugger_line(gcb, gcb->scan_pos, static_cast<uint64_t>(gcb->buffer_end - gcb->scan_pos));
    if (gcb->format_bracket_depth && gcb->format_bracket_depth >= gcb->bracket_depth) {
        gcb->lex_state = LEX_FORMLINE;
        return yylex(gcb);
    }
    return LEX_RESCAN;
}

int32_t lex_end_of_file(PERLGCB* gcb, char*)
{
    release_source(gcb);
    gcb->doc_skipping = 0;
    // The rest of the text is gone: the next call meets the NUL at its
    // start and, without a stream, ends the input.
    sv_set_bytes(gcb, gcb->line_buffer, "", 0);
    restart_at_buffer(gcb);
    return ';';
}

int32_t lex_comment_or_newline(PERLGCB* gcb, char* s)
{
    if (gcb->lex_state == LEX_NORMAL && !counts_lines(gcb)) {
        // The line ends here; a stream's next line is read at the NUL.
        *s = 0;
        gcb->buffer_end = s;
        gcb->scan_pos = s;
        return LEX_RESCAN;
    }
    if (*s == '#' && s == gcb->line_start && counts_lines(gcb)) {
        // A line directive at the start of a line of an evaluated string
        // numbers the line after it.
        gcb->current_statement->cop_line--;
        lex_line_directive(gcb, s);
    }
    char* end = gcb->buffer_end;
    while (s < end && *s != '\n')
        s++;
    if (s < end)
        s++;
    lex_line_directive(gcb, s);
    gcb->scan_pos = s;
    if (in_format_arguments(gcb)) {
        gcb->lex_state = LEX_FORMLINE;
        return yylex(gcb);
    }
    return LEX_RESCAN;
}
