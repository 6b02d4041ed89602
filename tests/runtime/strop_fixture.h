// The built-in ops called one at a time: an interpreter with its stacks and
// op tables, a pad of targets, and helpers that build an op, push its
// operands (after a mark when the op takes a list) and run its run-time
// function under a jump environment.
#pragma once

#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "ds/src/prxav.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpp.h"

namespace rtest {

class OpCall : public prxtest::Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        gcb->op_name_table = const_cast<const char**>(op_name_image);
        gcb->op_desc_table = const_cast<const char**>(op_desc_image);
        pad = av_new_empty(gcb);
        for (int32_t i = 0; i < 96; i++) {
            SV* sv = sv_new_undef(gcb, 0);
            sv->flags |= SVs_PADTMP;
            av_store_element(gcb, pad, i, sv);
        }
        gcb->curpad = av_body(pad)->array;
    }

    void TearDown() override
    {
        gcb->curpad = nullptr;
        sv_release(gcb, as_sv(pad));
        Stacks::TearDown();
    }

    // A record of the op type with its run-time function, flags, private
    // bits and a target of its own; NEXT is the sentinel `after`.
    OP* op(uint16_t type, uint8_t flags = OPf_WANT_SCALAR, uint8_t priv = 0)
    {
        op_list* o = op_alloc_record<op_list>(gcb);
        o->op.op_type = type;
        o->op.op_ppaddr = gcb->op_run_function_table[type];
        o->op.op_flags = flags;
        o->op.op_private = priv;
        o->op.op_targ = next_slot++;
        o->op.op_next = &after;
        return &o->op;
    }
    SV* target(OP* o) { return gcb->curpad[o->op_targ]; }

    struct Outcome {
        int32_t code = 0;           // 0, or the code of the jump that ended the run
        OP* next = nullptr;         // what the function returned
        std::vector<SV*> results;   // the stack above its height before the operands
    };

    // Pushes the operands (after a mark when marked) and runs the op. The
    // stack and the marks are put back afterwards.
    Outcome call(OP* o, const std::vector<SV*>& operands, bool marked = false)
    {
        int32_t height = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
        int32_t* marks = gcb->mark_sp;
        SV** sp = gcb->arg_sp;
        if (marked)
            push_mark(gcb, sp);
        sp = arg_stack_room(gcb, sp, static_cast<int32_t>(operands.size()));
        for (SV* v : operands)
            *++sp = v;
        gcb->arg_sp = sp;
        gcb->op = o;
        Outcome out;
        out.code = run([&] { out.next = o->op_ppaddr(gcb); });
        if (out.code == 0)
            out.results = results_from(height);
        gcb->arg_sp = gcb->arg_base + height;
        gcb->mark_sp = marks;
        return out;
    }

    // The one result of a call that must succeed.
    SV* one(const Outcome& out)
    {
        EXPECT_EQ(out.code, 0) << err_text();
        EXPECT_EQ(out.results.size(), 1u);
        return out.results.empty() ? &gcb->sv_undef : out.results[0];
    }

    // The text of a run that died: the captured standard error, with the
    // run's code checked. Empty when the run did not end.
    std::string died(const Outcome& out)
    {
        if (out.code == 0)
            return std::string();
        return err_text();
    }
    void clear_err() { gcb->err.len = 0; }

    SV* bytes(const std::string& s) { return sv_new_from_bytes(gcb, s.data(), s.size()); }
    SV* utf8(const std::string& s)
    {
        SV* sv = bytes(s);
        sv->flags |= SVf_UTF8;
        return sv;
    }
    SV* num(double d) { return sv_new_from_double(gcb, d); }
    // A value's number as the ops read it (the cached double when NOK).
    double dbl(SV* sv) { return pp_double(gcb, sv); }

    static std::string hex(const std::string& s)
    {
        static const char* digits = "0123456789abcdef";
        std::string out;
        for (unsigned char c : s) {
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        return out;
    }

    AV* pad = nullptr;
    uint32_t next_slot = 1;
    OP after{};
};

}  // namespace rtest
