// The lexer's context: starting and ending the lexing of a text, reading the
// next source line, line directives, the debugger preamble, and the start of
// a sub or format body with the source restore of a nested compilation.
#include "host/hostif.h"
#include "prxav.h"
#include "prxchar.h"
#include "prxgv.h"
#include "prxlexint.h"
#include "prxlibc.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxscope.h"
#include "prxsv.h"

using namespace prxchar;

namespace {

// The line number of the current statement, as a slot that a 16-bit save
// can restore.
int16_t* line_slot(PERLGCB* gcb) { return reinterpret_cast<int16_t*>(&gcb->current_statement->cop_line); }

}  // namespace

void lex_save_text_state(PERLGCB* gcb)
{
    save_push_i32(gcb, &gcb->join_pending);
    save_push_i32(gcb, &gcb->bracket_depth);
    save_push_i32(gcb, &gcb->case_modifier_count);
    save_push_i32(gcb, &gcb->piece_count);
    save_push_i32(gcb, &gcb->lex_state);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->in_pattern));
    save_push_i32(gcb, &gcb->quote_op_kind);
    save_push_i16(gcb, line_slot(gcb));
    save_push_string_ptr(gcb, &gcb->scan_pos);
    save_push_string_ptr(gcb, &gcb->buffer_end);
    save_push_string_ptr(gcb, &gcb->prev_token_pos);
    save_push_string_ptr(gcb, &gcb->prev_prev_token_pos);
    save_push_string_ptr(gcb, &gcb->last_list_op_pos);
    save_push_string_ptr(gcb, &gcb->last_unary_pos);
    save_push_string_ptr(gcb, &gcb->line_start);
    save_push_value_ptr(gcb, &gcb->line_buffer);
    save_push_string_ptr(gcb, &gcb->outer_pos);
    save_push_string_ptr(gcb, &gcb->outer_end);
    // The two stacks: the scope frees whichever block is current then (the
    // reader may have grown it) and puts the enclosing one back.
    save_push_string_ptr_by_ref(gcb, &gcb->bracket_stack);
    save_push_string_ptr_by_ref(gcb, &gcb->case_modifier_stack);
}

void lex_context_begin(PERLGCB* gcb, SV* text)
{
    // Everything saved here comes back when the caller's scope is left: the
    // state of the text being read, which a sub-lexed construct saves too,
    // and what only a whole new text replaces.
    lex_save_text_state(gcb);
    if (gcb->lex_state == LEX_KNOWNEXT) {
        for (int32_t i = gcb->queued_count; i > 0; i--) {
            save_push_i32(gcb, &gcb->queued_types[i - 1]);
            save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->queued_values[i - 1]));
        }
        save_push_i32(gcb, &gcb->queued_count);
    }
    save_push_destructor(gcb, lex_restore_source, reinterpret_cast<void*>(gcb->source_handle));
    save_push_value_ptr(gcb, &gcb->quote_body);
    save_push_i32(gcb, &gcb->deferred_state);
    save_push_i32(gcb, &gcb->lex_sub_what);
    save_push_value_ptr(gcb, &gcb->replacement_text);
    save_push_i32(gcb, &gcb->expect);
    save_push_i32(gcb, &gcb->deferred_expect);
    // The last multi-line string belongs to the text it was read from: a
    // runaway-string hint never points into another eval's text.
    save_push_i32(gcb, &gcb->multi_start_line);
    save_push_i32(gcb, &gcb->multi_end_line);
    // The outer record separator comes back too (a plain swap would lose it
    // and keep the fresh one alive after the scope).
    save_push_value_ptr_by_ref(gcb, &gcb->rs);

    gcb->lex_state = LEX_NORMAL;
    gcb->deferred_state = 0;
    gcb->expect = XSTATE;
    gcb->bracket_depth = 0;
    gcb->bracket_stack = static_cast<char*>(pool_malloc(gcb, LEX_BRACKET_STACK));
    gcb->case_modifier_stack = static_cast<char*>(pool_malloc(gcb, LEX_CASE_STACK));
    gcb->case_modifier_count = 0;
    gcb->case_modifier_stack[0] = 0;
    gcb->join_pending = 0;
    gcb->piece_count = 0;
    gcb->quote_body = nullptr;
    gcb->replacement_text = nullptr;
    gcb->in_pattern = nullptr;
    gcb->queued_count = 0;
    gcb->quote_op_kind = 0;
    gcb->lex_sub_what = 0;
    gcb->multi_start_line = 0;
    gcb->multi_end_line = 0;
    gcb->outer_pos = gcb->outer_end = nullptr;

    // The line buffer: the text itself, or a temporary copy when the text is
    // read-only or needs the closing "\n;". The temporaries own the copy; the
    // TEMP mark comes off so that nothing takes the buffer over.
    SV* line = text;
    if (line->flags & SVf_READONLY)
        line = sv_new_temporary_copy(gcb, line);
    uint64_t len = 0;
    char* s = sv_text(gcb, line, &len);
    if (len && s[len - 1] != ';') {
        if (!(line->flags & SVs_TEMP))
            line = sv_new_temporary_copy(gcb, line);
        sv_append_bytes(gcb, line, "\n;", 2);
    }
    line->flags &= ~SVs_TEMP;
    gcb->line_buffer = line;
    s = sv_text(gcb, line, &len);
    gcb->line_start = gcb->scan_pos = gcb->prev_token_pos = gcb->prev_prev_token_pos = s;
    gcb->buffer_end = s + len;
    gcb->last_unary_pos = gcb->last_list_op_pos = nullptr;

    gcb->rs = sv_new_from_bytes(gcb, "\n", 1);
    gcb->source_handle = 0;
}

void lex_context_end(PERLGCB* gcb) { gcb->doc_skipping = 0; }

char* lex_read_line(PERLGCB* gcb, SV* line, PrxStream stream)
{
    if (gcb->source_filters) {
        sv_set_bytes(gcb, line, "", 0);
        if (filter_read_input(gcb, 0, line, 0) > 0)
            return sv_pv(line);
        return nullptr;
    }
    return sv_read_record(gcb, line, stream, 0);
}

void lex_line_directive(PERLGCB* gcb, char* s)
{
    COP* cop = gcb->current_statement;
    cop->cop_line++;
    if (*s++ != '#')
        return;
    while (blank_or_tab(*s))
        s++;
    if (s[0] != 'l' || s[1] != 'i' || s[2] != 'n' || s[3] != 'e')
        return;
    s += 4;
    if (!blank_or_tab(*s))
        return;
    while (blank_or_tab(*s))
        s++;
    if (!is_digit(*s))
        return;
    // The number, in the 16-bit width of the line field.
    uint32_t number = 0;
    while (is_digit(*s))
        number = number * 10 + static_cast<uint32_t>(*s++ - '0');
    while (blank_or_tab(*s))
        s++;
    // The name: between double quotes when the closing one is on this line,
    // else the run of non-space bytes. Neither search leaves the line.
    char* t = nullptr;
    char* e;
    if (*s == '"') {
        t = s + 1;
        while (*t && *t != '\n' && *t != '"')
            t++;
        if (*t != '"')
            t = nullptr;
    }
    if (t) {
        s++;
        e = t + 1;
    } else {
        for (t = s; *t && !is_space(*t); t++) {
        }
        e = t;
    }
    while (blank_or_tab(*e) || *e == '\r' || *e == '\f')
        e++;
    if (*e != '\n' && *e != '\0')
        return;
    if (t > s) {
        char saved = *t;
        *t = 0;
        GV* gv = gv_fetch_file_glob(gcb, s);
        *t = saved;
        if (gv) {
            sv_release(gcb, as_sv(cop->cop_filegv));
            cop->cop_filegv = sv_as<GV>(sv_refinc(as_sv(gv)));
        }
    }
    cop->cop_line = static_cast<uint16_t>(number - 1);
}

SV* debugger_preamble(PERLGCB* gcb)
{
    if (!gcb->debugger_flags)
        return sv_new_temporary(gcb);
    // PERL5DB is never set here: the environment query answers none.
    gcb->errno_cell = 0;
    return sv_make_temporary(gcb, sv_new_from_cstring(gcb, "BEGIN { require 'perl5db.pl' }", 0));
}

void lex_restore_source(PERLGCB* gcb, void* saved_stream)
{
    // The standard-input query answers none and the close does nothing in
    // this module, so only the field comes back.
    gcb->source_handle = reinterpret_cast<PrxStream>(saved_stream);
}

int32_t start_sub_compile(PERLGCB* gcb, int32_t is_format, uint32_t flags)
{
    int32_t old_ix = gcb->savestack_ix;
    CV* outside = gcb->compile_cv;

    if (!gcb->sub_name)
        gcb->sub_name = sv_new_from_bytes(gcb, "", 0);
    save_push_i32(gcb, &gcb->sub_start_line);
    save_push_item(gcb, gcb->sub_name);
    save_push_i32(gcb, &gcb->padix);
    save_compile_pad(gcb);
    save_push_value_ptr(gcb, reinterpret_cast<SV**>(&gcb->comppad_name));
    save_push_value_ptr(gcb, reinterpret_cast<SV**>(&gcb->compile_cv));
    save_push_i32(gcb, &gcb->comppad_name_fill);
    save_push_i32(gcb, &gcb->min_intro_pending);
    save_push_i32(gcb, &gcb->max_intro_pending);
    save_push_i32(gcb, &gcb->pad_reset_pending);

    // The new code value's one reference is the compilation's, held by this
    // scope: whoever keeps the value (a glob, an anonymous sub's op, a
    // format slot) takes a reference of its own, and a compilation that never
    // gets that far (a syntax error, a die in a BEGIN block) lets it go with
    // the scope.
    SV* cvsv = sv_new_head(gcb);
    save_push_destructor(gcb, sub_compile_end, cvsv);
    sv_upgrade_body(gcb, cvsv, is_format ? SVt_PVFM : SVt_PVCV);
    CV* cv = sv_as<CV>(cvsv);
    cv_body(cv)->cvflags = static_cast<uint16_t>(cv_body(cv)->cvflags | flags);
    gcb->compile_cv = cv;
    pad_new_for_code(gcb, cv);
    gcb->sub_start_line = gcb->current_statement ? gcb->current_statement->cop_line : 0;
    cv_body(cv)->outside = sv_as<CV>(sv_refinc(as_sv(outside)));
    return old_ix;
}

void lex_keep_debugger_line(PERLGCB* gcb, const char* text, uint64_t len)
{
    if (!(gcb->debugger_flags & 0x02))
        return;
    HV* debugger = gv_stash_by_name(gcb, "DB", 0);
    GV* file = gcb->current_statement->cop_filegv;
    if ((debugger && gcb->current_package == debugger) || !file)
        return;
    SV* copy = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, copy, SVt_PVMG);
    sv_set_bytes(gcb, copy, text, len);
    av_store_element(gcb, gv_gp(gv_ensure_array(gcb, file))->gp_av, lex_current_line(gcb), copy);
}
