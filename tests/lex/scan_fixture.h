// An interpreter ready to lex: the stacks fixture with the real op tables,
// an empty compile pad, the compile-time statement current, and a double of
// the error queue (linked in place of the real one) that records and counts
// what it is given. Helpers put a text in the line buffer and read back the
// scanners' results.
#pragma once

#include <string>
#include <vector>

#include "ds/src/prxlexint.h"
#include "ds/src/prxop.h"
#include "support/compile_pad.h"
#include "support/queued_errors.h"

namespace lextest {

using prxtest::queued_errors;

class Lex : public prxtest::CompilePad {
protected:
    void SetUp() override;

    // Makes text (kept alive by the fixture) the line buffer, with the scan
    // position at offset `at`; no source stream.
    char* set_text(const std::string& text, size_t at = 0);
    // The text of a value as bytes; "<null>" for none.
    std::string text_of(SV* sv);
    // The value of a const op.
    SV* const_sv(OP* o) { return reinterpret_cast<op_value*>(o)->op_sv; }
    // Where the scan position stands in the current line buffer.
    size_t offset(const char* p) { return static_cast<size_t>(p - sv_pv(gcb->line_buffer)); }
    // The first message of a jump that ended a run, decoded from the
    // captured standard error, or the eval error; empty when none.
    std::string fatal_text();
};

}  // namespace lextest
