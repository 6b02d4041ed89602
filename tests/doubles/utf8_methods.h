// The stacks fixture with the utf8 package present and the method-call
// double answering its methods (SWASHNEW, SWASHGET) through utf8_method;
// saves of the match state are counted in `saves`.
#pragma once

#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"

namespace doubles {

class Utf8Methods : public prxtest::Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        gv_stash_by_name(gcb, "utf8", 1);
        doubles::match_state_saves = &saves;
        // Arguments above the top mark; one result left at the mark, the
        // mark popped, as a call does.
        doubles::method_call = [this](PERLGCB*, const char* name, int32_t) {
            int32_t mark = pop_mark(gcb);
            std::vector<SV*> args(gcb->arg_base + mark + 1, gcb->arg_sp + 1);
            SV* result = utf8_method(name, args);
            gcb->arg_sp = gcb->arg_base + mark;
            *++gcb->arg_sp = sv_make_temporary(gcb, result);
            return 1;
        };
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }

    // The answer of the method called with args (the class first): a new
    // value, which the double makes temporary.
    virtual SV* utf8_method(const std::string& name, const std::vector<SV*>& args) = 0;
    // A new reference to an empty hash: a swash that holds nothing yet.
    SV* empty_swash() { return sv_new_reference(gcb, as_sv(hv_new_empty(gcb))); }

    int saves = 0;
};

}  // namespace doubles
