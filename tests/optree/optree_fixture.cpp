#include "optree/optree_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxrun.h"

// The compile-error reporter and the error queue are replaced through the
// linker: they record and count as the real ones do.
std::vector<std::string> optree::compile_errors;
std::vector<std::string> optree::queued_errors;

extern "C" int32_t __wrap__Z13compile_errorP7PERLGCBPKc(PERLGCB* gcb, const char* message)
{
    optree::compile_errors.push_back(message);
    gcb->error_count++;
    return 0;
}

extern "C" void __wrap__Z11error_queueP7PERLGCBP2SV(PERLGCB* gcb, SV* message)
{
    uint64_t len = 0;
    const char* p = sv_text(gcb, message, &len);
    optree::queued_errors.emplace_back(p, len);
    gcb->error_count++;
}

namespace optree {

namespace {

// Check routines that are built; the others are stood in for by one that
// leaves the op as it is, so that the builders can be tested on their own.
OP* keep_op(PERLGCB*, OP* o) { return o; }

}  // namespace

void Compile::SetUp()
{
    Stacks::SetUp();
    compile_errors.clear();
    queued_errors.clear();
    gcb->op_name_table = const_cast<const char**>(op_name_image);
    gcb->op_desc_table = const_cast<const char**>(op_desc_image);
    for (int i = 0; i < OP_max; i++)
        if (!op_check_routine_built(static_cast<uint32_t>(i)))
            gcb->op_check_table[i] = keep_op;
    gcb->run_loop_hook = run_op_loop;
    gcb->dump_indent = 4;
    gcb->statement_line = 65535;
    gcb->cop_seqmax = 1;
    names = av_new_empty(gcb);
    pad = av_new_empty(gcb);
    av_store_element(gcb, pad, 0, sv_new_undef(gcb, 0));
    gcb->comppad_name = names;
    gcb->comppad = pad;
    gcb->curpad = av_body(pad)->array;
    gcb->comppad_name_fill = 0;
    gcb->padix = 0;
    gcb->current_statement = &compile_cop;
    compile_cop.cop_seq = 0;
}

void Compile::TearDown()
{
    gcb->comppad_name = nullptr;
    gcb->comppad = nullptr;
    gcb->curpad = nullptr;
    sv_release(gcb, as_sv(names));
    sv_release(gcb, as_sv(pad));
    Stacks::TearDown();
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
