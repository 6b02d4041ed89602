#include "optree/optree_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxrun.h"

// The compile-error reporter is replaced through the linker: it records
// and counts as the real one does.
std::vector<std::string> optree::compile_errors;

extern "C" int32_t __wrap__Z13compile_errorP7PERLGCBPKc(PERLGCB* gcb, const char* message)
{
    optree::compile_errors.push_back(message);
    gcb->error_count++;
    return 0;
}

namespace optree {

void Compile::SetUp()
{
    CompilePad::SetUp();
    compile_errors.clear();
    queued_errors.clear();
    gcb->run_loop_hook = run_op_loop;
    gcb->dump_indent = 4;
    gcb->comppad_name_fill = 0;
    gcb->padix = 0;
    compile_cop.cop_seq = 0;
}

std::string Compile::dump(OP* o)
{
    uint32_t before = gcb->out.len;
    dump_op_tree_debug(gcb, o);
    std::string raw(gcb->out.buf + before, gcb->out.len - before);
    bool error = false;
    return hostsim::Host::decode_lines(raw, &error);
}

OP* Compile::my_scalar(const char* name)
{
    uint32_t slot = pad_declare_my(gcb, name);
    OP* o = op_new_base(gcb, OP_PADSV, 0);
    o->op_targ = slot;
    return o;
}

std::string Compile::pad_name(uint32_t slot)
{
    SV* sv = av_body(names)->array[slot];
    return sv_pv(sv);
}

}  // namespace optree
