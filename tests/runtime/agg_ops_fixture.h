// Fixture of the direct tests of run-time functions: the stacks fixture
// with the real op tables and a pad of targets. A test builds an op record
// by hand, pushes its operands (after a mark when the op takes a list),
// runs the op's function and reads what it left on the argument stack.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpp.h"

namespace runtime {

class Ops : public prxtest::Stacks {
protected:
    AV* pad = nullptr;
    uint32_t next_slot = 1;
    int32_t code = 0;       // the jump code of the last call, 0 when it returned
    OP* returned = nullptr; // what the last call returned

    void SetUp() override
    {
        Stacks::SetUp();
        gcb->op_name_table = const_cast<const char**>(op_name_image);
        gcb->op_desc_table = const_cast<const char**>(op_desc_image);
        pad = av_new_empty(gcb);
        for (int32_t i = 0; i < 64; i++) {
            SV* sv = sv_new_undef(gcb, 0);
            sv->flags |= SVs_PADTMP;
            av_store_element(gcb, pad, i, sv);
        }
        gcb->comppad = pad;
        gcb->curpad = av_body(pad)->array;
        gcb->run_loop_hook = run_op_loop;
        warnings_none();
    }

    void TearDown() override
    {
        gcb->curpad = nullptr;
        gcb->comppad = nullptr;
        sv_release(gcb, as_sv(pad));
        Stacks::TearDown();
    }

    // An op of the type with the flags and private bits, a target slot of
    // its own, and a NEXT of its own (a leaf's) so that returning it is seen.
    OP* op(uint16_t type, uint8_t flags = OPf_WANT_SCALAR, uint8_t priv = 0)
    {
        OP* o = &op_alloc_record<op_list>(gcb)->op;
        o->op_type = type;
        o->op_ppaddr = gcb->op_run_function_table[type];
        o->op_flags = flags;
        o->op_private = priv;
        o->op_targ = next_slot++;
        o->op_next = o;
        return o;
    }
    SV* targ(OP* o) { return gcb->curpad[o->op_targ]; }

    // Runs the op on the operands, after a mark when marked; returns what
    // the stack holds above its base.
    std::vector<SV*> call(OP* o, std::initializer_list<SV*> operands, bool marked = false)
    {
        gcb->arg_sp = gcb->arg_base;
        gcb->mark_sp = gcb->mark_stack;
        if (marked)
            push_mark(gcb, gcb->arg_sp);
        SV** sp = arg_stack_room(gcb, gcb->arg_sp, static_cast<int32_t>(operands.size()));
        for (SV* sv : operands)
            *++sp = sv;
        gcb->arg_sp = sp;
        gcb->op = o;
        returned = nullptr;
        code = run([&] { returned = o->op_ppaddr(gcb); });
        return results_from(0);
    }
    // Runs the op on two marked lists (list slices, list assignment: the
    // right-hand values, then the lvalues).
    std::vector<SV*> call_two_lists(OP* o, const std::vector<SV*>& first, const std::vector<SV*>& second)
    {
        gcb->arg_sp = gcb->arg_base;
        gcb->mark_sp = gcb->mark_stack;
        push_mark(gcb, gcb->arg_sp);
        SV** sp = arg_stack_room(gcb, gcb->arg_sp, static_cast<int32_t>(first.size() + second.size()));
        for (SV* sv : first)
            *++sp = sv;
        push_mark(gcb, sp);
        for (SV* sv : second)
            *++sp = sv;
        gcb->arg_sp = sp;
        gcb->op = o;
        returned = nullptr;
        code = run([&] { returned = o->op_ppaddr(gcb); });
        return results_from(0);
    }
    // The single result of a call.
    SV* call1(OP* o, std::initializer_list<SV*> operands, bool marked = false)
    {
        std::vector<SV*> r = call(o, operands, marked);
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? nullptr : r.back();
    }

    SV* nv(double d) { return sv_new_from_double(gcb, d); }
    SV* uv(uint64_t u) { return sv_new_from_uint(gcb, u); }
    SV* undef() { return sv_new_undef(gcb, 0); }
    SV* bytes(const std::string& s) { return sv_new_from_bytes(gcb, s.data(), s.size()); }
    SV* utf8(const std::string& s)
    {
        SV* sv = bytes(s);
        sv->flags |= SVf_UTF8;
        return sv;
    }
    // The strings of a list of values, joined by commas.
    std::string texts(const std::vector<SV*>& list)
    {
        std::string out;
        for (size_t i = 0; i < list.size(); i++) {
            if (i)
                out += ",";
            out += list[i] == &gcb->sv_undef ? std::string("undef") : str(list[i]);
        }
        return out;
    }
    // The texts of an array's elements, an empty slot as undef.
    std::string elements(AV* av)
    {
        std::vector<SV*> v;
        for (int32_t i = 0; i <= av_body(av)->fill; i++)
            v.push_back(av_body(av)->array[i] ? av_body(av)->array[i] : &gcb->sv_undef);
        return texts(v);
    }

    // Whether the last call died with the message.
    bool died_with(const std::string& message) { return code != 0 && err_text() == message + ".\n"; }

    // A tie object blessed into pkg, whose methods are native subs.
    SV* tie_object_in(const char* pkg)
    {
        SV* obj = sv_new_reference(gcb, as_sv(av_new_empty(gcb)));
        sv_release(gcb, sv_rv(obj));
        sv_bless_referent(gcb, obj, stash(pkg));
        return obj;
    }
};

}  // namespace runtime
