// An interpreter ready to compile: the stacks fixture with the real op
// tables, an empty compile pad, the run loop hooked in, and doubles for the
// compile-error reporter and the error queue (linked in place of the real
// ones), which record what they are given.
#pragma once

#include <string>
#include <vector>

#include "ds/src/prxdump.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpad.h"
#include "support/compile_pad.h"
#include "support/queued_errors.h"

namespace optree {

// What the doubles recorded: compile errors as given, queued errors as texts.
extern std::vector<std::string> compile_errors;
using prxtest::queued_errors;

class Compile : public prxtest::CompilePad {
public:
    void SetUp() override;

    // (public so that tables of builder lambdas reach the helpers)
    // The dump of a tree as the debug stream receives it.
    std::string dump(OP* o);
    // The captured standard error, decoded.
    std::string warnings() { return err_text(); }
    // Helpers that build leaves.
    OP* konst(int64_t n) { return op_new_value(gcb, OP_CONST, 0, sv_new_from_int(gcb, n)); }
    OP* kstr(const char* s) { return op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, s, 0)); }
    OP* gvop(const char* name) { return op_new_glob(gcb, OP_GV, 0, gv_fetch_by_name(gcb, name, GV_ADD, SVt_PV)); }
    // A my variable declared and its padsv op (not yet introduced).
    OP* my_scalar(const char* name);
    // The name record text of a slot and whether it is visible now.
    std::string pad_name(uint32_t slot);
};

}  // namespace optree
