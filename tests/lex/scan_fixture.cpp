#include "lex/scan_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxrun.h"
#include "ds/src/prxsv.h"

namespace lextest {

void Lex::SetUp()
{
    CompilePad::SetUp();
    queued_errors.clear();
    gcb->lex_state = LEX_NORMAL;
    gcb->parse_lookahead = 0;  // the end of the input: errors say "at EOF"
    compile_cop.cop_line = 1;
}

char* Lex::set_text(const std::string& text, size_t at)
{
    SV* sv = sv_make_temporary(gcb, sv_new_from_bytes(gcb, text.data(), text.size()));
    gcb->line_buffer = sv;
    char* s = sv_pv(sv);
    gcb->line_start = gcb->prev_token_pos = gcb->prev_prev_token_pos = s;
    gcb->scan_pos = s + at;
    gcb->buffer_end = s + text.size();
    gcb->source_handle = 0;
    return s + at;
}

std::string Lex::text_of(SV* sv)
{
    if (!sv)
        return "<null>";
    return str(sv);
}

std::string Lex::fatal_text() { return err_text(); }

}  // namespace lextest
