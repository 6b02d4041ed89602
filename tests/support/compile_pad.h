// The stacks fixture made ready to compile: the real op tables, an empty
// compile pad, and the compile-time statement current. The lexer's, the op tree's and the
// run-time ops' fixtures build on it.
#pragma once

#include "core/run_fixture.h"
#include "ds/src/prxav.h"
#include "ds/src/prxop.h"
#include "ds/src/prxsv.h"

namespace prxtest {

class CompilePad : public Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        gcb->op_name_table = const_cast<const char**>(op_name_image);
        gcb->op_desc_table = const_cast<const char**>(op_desc_image);
        gcb->statement_line = 65535;
        gcb->cop_seqmax = 1;
        names = av_new_empty(gcb);
        pad = av_new_empty(gcb);
        av_store_element(gcb, pad, 0, sv_new_undef(gcb, 0));
        gcb->comppad_name = names;
        gcb->comppad = pad;
        gcb->curpad = av_body(pad)->array;
        gcb->current_statement = &compile_cop;
    }
    void TearDown() override
    {
        gcb->comppad_name = nullptr;
        gcb->comppad = nullptr;
        gcb->curpad = nullptr;
        sv_release(gcb, as_sv(names));
        sv_release(gcb, as_sv(pad));
        Stacks::TearDown();
    }

    AV* names = nullptr;  // the pad's names, owned by the fixture
    AV* pad = nullptr;    // the pad, slot 0 an undefined value
};

}  // namespace prxtest
