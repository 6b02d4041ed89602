// Compile errors and warnings of the front end: the place description, the
// runaway-string hint, the error queue and the stop after ten errors.
#include "host/hostif.h"
#include "prxchar.h"
#include "prxgv.h"
#include "prxlexint.h"
#include "prxmsg.h"
#include "prxsv.h"

using namespace prxchar;

namespace {

// Bit of the eval flags (in_eval) that gives compile errors as warnings.
constexpr int32_t EVAL_WARN_ONLY = 0x2;
// The most compile errors one compilation reports before it stops.
constexpr int32_t ERROR_LIMIT = 10;
// A context longer than this is not quoted.
constexpr int64_t CONTEXT_LIMIT = 200;

// Skips white space from *from, never past the current position, so that the
// quoted context cannot have a negative length.
const char* skip_to_context(char*& from, const char* to)
{
    while (from < to && is_space(*from))
        from++;
    return from;
}

// The eval's error text ($@), or null when it has none.
SV* eval_error_value(PERLGCB* gcb)
{
    if (!gcb->error_glob || !gv_gp(gcb->error_glob))
        return nullptr;
    return gv_gp(gcb->error_glob)->gp_sv;
}

}  // namespace

int32_t compile_error(PERLGCB* gcb, const char* message)
{
    const char* where = nullptr;
    const char* context = nullptr;
    int64_t context_len = 0;
    char where_buf[16];
    int32_t token = gcb->parse_lookahead;
    char* pos = gcb->scan_pos;

    if (token == 0 || (token == ';' && !gcb->source_handle)) {
        where = "at EOF";
    } else if (pos && gcb->prev_prev_token_pos && pos > gcb->prev_prev_token_pos &&
               pos - gcb->prev_prev_token_pos < CONTEXT_LIMIT && gcb->prev_prev_token_pos != gcb->prev_token_pos &&
               gcb->prev_token_pos != pos) {
        context = skip_to_context(gcb->prev_prev_token_pos, pos);
        context_len = pos - context;
    } else if (pos && gcb->prev_token_pos && pos > gcb->prev_token_pos &&
               pos - gcb->prev_token_pos < CONTEXT_LIMIT) {
        context = skip_to_context(gcb->prev_token_pos, pos);
        context_len = pos - context;
    } else if (token > 255) {
        where = "next token ???";
    } else if ((token & 127) == 127) {
        if (gcb->lex_state == LEX_NORMAL || (gcb->lex_state == LEX_KNOWNEXT && gcb->deferred_state == LEX_NORMAL))
            where = "at end of line";
        else if (gcb->in_pattern)
            where = "within pattern.";
        else
            where = "within string";
    } else {
        uint8_t c = static_cast<uint8_t>(token);
        int n = 0;
        const char* lead = "next char ";
        while (lead[n]) {
            where_buf[n] = lead[n];
            n++;
        }
        if (c < 32) {
            where_buf[n++] = '^';
            where_buf[n++] = static_cast<char>(g_host_vector->upper[c] ^ 0x40);
        } else if (c < 128 && is_print(c)) {
            where_buf[n++] = static_cast<char>(c);
        } else {
            where_buf[n++] = '\\';
            where_buf[n++] = static_cast<char>('0' + ((c >> 6) & 7));
            where_buf[n++] = static_cast<char>('0' + ((c >> 3) & 7));
            where_buf[n++] = static_cast<char>('0' + (c & 7));
        }
        where_buf[n] = 0;
        where = where_buf;
    }

    SV* msg = sv_make_temporary(gcb, sv_new_from_cstring(gcb, message, 0));
    sv_append_cstring(gcb, msg, " ");
    if (context)
        sv_append_formatted(gcb, msg, "near \"%.*s\"\n", static_cast<int>(context_len), context);
    else
        sv_append_formatted(gcb, msg, "%s\n", where);

    uint32_t line = gcb->current_statement ? gcb->current_statement->cop_line : 0;
    if (gcb->multi_start_line < gcb->multi_end_line &&
        static_cast<uint32_t>(line) - static_cast<uint32_t>(gcb->multi_end_line) <= 1) {
        sv_append_formatted(gcb, msg, "  (Might be a runaway multi-line %c%c string starting on line %ld)\n",
                            static_cast<int>(gcb->open_delim), static_cast<int>(gcb->close_delim),
                            static_cast<long>(gcb->multi_start_line));
        gcb->multi_end_line = 0;
    }

    if (gcb->in_eval & EVAL_WARN_ONLY)
        warning(gcb, "%_", msg);
    else
        error_queue(gcb, msg);

    if (gcb->error_count >= ERROR_LIMIT) {
        const char* file = gv_statement_file(gcb, gcb->current_statement);
        SV* err = eval_error_value(gcb);
        if (gcb->in_eval && err && (err->flags & SVf_POK) && sv_cur(err) > 0)
            fatal_error(gcb, "%_%s has too many errors.\n", err, file);
        fatal_error(gcb, "%s has too many errors.\n", file);
    }
    gcb->declaring = 0;
    gcb->declaring_package = nullptr;
    return 0;
}

int32_t compile_warning(PERLGCB* gcb, const char* message)
{
    gcb->in_eval |= EVAL_WARN_ONLY;
    compile_error(gcb, message);
    gcb->in_eval &= ~EVAL_WARN_ONLY;
    return 0;
}
