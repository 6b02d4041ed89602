// Doubles of entry points that the tests of this executable replace through
// the linker (--wrap): the call of a Perl-level method by name or of a code
// value, the unwinding into an eval, the stream
// substitutes getc, fread, feof and ungetc, the op-tree release, the save of
// the matcher's state, module loading and the sub-definition path. Each
// double serves the test's function when one is set and otherwise passes the
// call on to the real routine.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ds/src/prx.h"

namespace doubles {

// interp_call_method_by_name(gcb, name, flags) -> number of results.
extern std::function<int32_t(PERLGCB*, const char*, int32_t)> method_call;

// interp_call_value(gcb, cv, flags) -> number of results.
extern std::function<int32_t(PERLGCB*, CV*, int32_t)> value_call;

// die_return_to_eval(gcb, message, length) -> the restart op, while set.
extern std::function<OP*(PERLGCB*, const char*, uint64_t)> eval_unwind;

// error_queue(gcb, message): the message texts, while set.
extern std::vector<std::string>* queued_errors;

// A stream that delivers data: reads come from text, then end of stream.
struct Stream {
    std::string text;
    size_t pos = 0;
    std::vector<std::string> calls;  // "getc", "fread", "feof", "ungetc" in call order
};
// While set, every stream substitute reads from it.
extern Stream* stream;

// op_free_tree(gcb, op): the ops passed, in order, while recording.
extern std::vector<OP*>* freed_ops;

// re_save_match_state(gcb): counted, and otherwise nothing, while set.
extern int* match_state_saves;

// module_load_va(gcb, flags, name, version, ...): recorded as
// "flags name" while set; the name value is released as the callee would.
extern std::vector<std::string>* module_loads;

// The sub-definition path of the op-tree compiler, while set:
// start_sub_compile answers the save-stack index; op_new_value makes an op
// holding the value (a record the test owns); sub_define_plain calls
// define_sub with the name op's value and the floor; sub_define_xs records
// "name file" and calls xsub_defined with the function.
struct SubDefinition {
    std::function<void(SV* name, int32_t floor)> define_sub;
    std::vector<std::string> xsubs;
    std::vector<void (*)(PERLGCB*, CV*)> xsub_functions;
    std::vector<OP*> ops;  // every op made, released by reset
};
extern SubDefinition* subs;

// Clears every double.
void reset();

}  // namespace doubles
