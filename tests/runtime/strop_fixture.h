// The built-in ops called one at a time: an interpreter with its stacks and
// op tables, a pad of targets, and helpers that build an op, push its
// operands (after a mark when the op takes a list) and run its run-time
// function under a jump environment.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "ds/src/prxav.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpp.h"
#include "ds/src/prxutf8.h"

namespace runtime {

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

    // A swash made by hand: a reference to a hash of 32-bit blocks, the way
    // the Unicode support fills them. Every block that holds one of the code
    // points of `map` or `also` is present; its entries are `fill` unless
    // `map` says otherwise. Look-ups therefore never ask for a block.
    SV* swash(const std::map<uint32_t, uint32_t>& map, uint32_t fill, const std::vector<uint32_t>& also = {})
    {
        HV* hv = hv_new_empty(gcb);
        std::map<std::string, std::string> blocks;
        auto place = [&](uint32_t cp, bool set, uint32_t value) {
            uint8_t enc[16];
            uint8_t* e = utf8_encode(gcb, enc, cp);
            std::string key(reinterpret_cast<char*>(enc), static_cast<size_t>(e - enc) - 1);
            std::string& vec = blocks[key];
            uint32_t entries = key.empty() ? 128 : 64;
            if (vec.empty())
                for (uint32_t i = 0; i < entries; i++)
                    vec += std::string{char(fill >> 24), char(fill >> 16), char(fill >> 8), char(fill)};
            if (set) {
                uint32_t off = e[-1] & 0x7F;
                vec[4 * off] = char(value >> 24);
                vec[4 * off + 1] = char(value >> 16);
                vec[4 * off + 2] = char(value >> 8);
                vec[4 * off + 3] = char(value);
            }
        };
        for (uint32_t cp : also)
            place(cp, false, 0);
        for (const auto& [cp, value] : map)
            place(cp, true, value);
        for (const auto& [key, vec] : blocks)
            hv_store_str(gcb, hv, key.data(), static_cast<int32_t>(key.size()), bytes(vec), 0);
        SV* rv = sv_new_reference(gcb, as_sv(hv));
        sv_release(gcb, as_sv(hv));
        return rv;
    }

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

}  // namespace runtime
