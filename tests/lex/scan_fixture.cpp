#include "lex/scan_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxrun.h"
#include "ds/src/prxsv.h"

std::vector<std::string> lextest::queued_errors;

// The error queue, replaced through the linker: records the message and
// counts it as the real one does.
extern "C" void __wrap__Z11error_queueP7PERLGCBP2SV(PERLGCB* gcb, SV* message)
{
    uint64_t len = 0;
    const char* p = sv_text(gcb, message, &len);
    lextest::queued_errors.emplace_back(p, len);
    gcb->error_count++;
}

namespace lextest {

namespace {
OP* keep_op(PERLGCB*, OP* o) { return o; }
}  // namespace

void Lex::SetUp()
{
    Stacks::SetUp();
    queued_errors.clear();
    gcb->op_name_table = const_cast<const char**>(op_name_image);
    gcb->op_desc_table = const_cast<const char**>(op_desc_image);
    for (int i = 0; i < OP_max; i++)
        if (!op_check_routine_built(static_cast<uint32_t>(i)))
            gcb->op_check_table[i] = keep_op;
    gcb->statement_line = 65535;
    gcb->cop_seqmax = 1;
    names = av_new_empty(gcb);
    pad = av_new_empty(gcb);
    av_store_element(gcb, pad, 0, sv_new_undef(gcb, 0));
    gcb->comppad_name = names;
    gcb->comppad = pad;
    gcb->curpad = av_body(pad)->array;
    gcb->current_statement = &compile_cop;
    gcb->lex_state = LEX_NORMAL;
    gcb->parse_lookahead = 0;  // the end of the input: errors say "at EOF"
    compile_cop.cop_line = 1;
}

void Lex::TearDown()
{
    gcb->comppad_name = nullptr;
    gcb->comppad = nullptr;
    gcb->curpad = nullptr;
    sv_release(gcb, as_sv(names));
    sv_release(gcb, as_sv(pad));
    Stacks::TearDown();
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
