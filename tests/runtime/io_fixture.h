// Fixture of the I/O tests that run ops on a stack set by hand: the stacks
// fixture with the real op tables, a pad of targets, the standard handles as
// construction makes them (STDOUT and STDERR on the captured streams, STDIN
// without a stream), and readers of the host's unsupported-function reports.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "support/reports.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxio.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpp.h"

namespace runtime {

class Io : public prxtest::Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        gcb->op_name_table = const_cast<const char**>(op_name_image);
        gcb->op_desc_table = const_cast<const char**>(op_desc_image);
        pad = static_cast<SV**>(pool_malloc(gcb, 8 * sizeof(SV*)));
        for (int i = 0; i < 8; i++)
            pad[i] = sv_new_undef(gcb, 0);
        gcb->curpad = pad;
        gcb->max_system_fd = 2;
        gcb->last_stat_result = -1;
        gcb->rs = sv_new_from_bytes(gcb, "\n", 1);
        stdout_gv = std_handle("STDOUT", PRX_STDOUT);
        stderr_gv = std_handle("STDERR", PRX_STDERR);
        gcb->stderr_glob = stderr_gv;
        gcb->stdin_glob = std_handle("STDIN", 0);
        gcb->default_output_glob = sv_as<GV>(sv_refinc(as_sv(stdout_gv)));
        gcb->argv_glob = gv_fetch_by_name(gcb, "ARGV", GV_ADD, SVt_PVAV);
        gv_ensure_handle(gcb, gcb->argv_glob);
        io_body(gv_gp(gcb->argv_glob)->gp_io)->ioflags |= IOf_ARGV | IOf_START;
        host->messages.clear();
    }

    GV* std_handle(const char* name, PrxStream stream)
    {
        GV* gv = handle(name);
        PVIO* b = io(gv);
        b->ifp = b->ofp = stream;
        return gv;
    }

    // A named handle glob with an I/O body.
    GV* handle(const char* name) { return gv_ensure_handle(gcb, gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVIO)); }
    PVIO* io(GV* gv) { return io_body(gv_gp(gv)->gp_io); }

    // The names the unsupported-function reports carried, in order; cleared.
    std::vector<std::string> reports() { return prxtest::take_unsupported_reports(*host); }

    // Runs an op of the type on the given stack items (with a mark below
    // them when mark is set); returns the jump code; results() reads what it
    // left above the start.
    int32_t run_op(uint16_t type, std::initializer_list<SV*> items, uint8_t flags = 0, uint8_t priv = 0,
                   bool mark = false)
    {
        std::memset(&op, 0, sizeof op);
        op.op.op_type = type;
        op.op.op_flags = flags;
        op.op.op_private = priv;
        op.op.op_targ = 1;
        op.op.op_next = &after;
        op.op.op_ppaddr = gcb->op_run_function_table[type];
        start = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
        SV** sp = gcb->arg_sp;
        if (mark)
            push_mark(gcb, sp);
        sp = arg_stack_room(gcb, sp, static_cast<int32_t>(items.size()));
        for (SV* sv : items)
            *++sp = sv;
        gcb->arg_sp = sp;
        gcb->op = &op.op;
        return run([&] { next = op.op.op_ppaddr(gcb); });
    }
    std::vector<SV*> results() { return results_from(start); }
    // The only result.
    SV* result()
    {
        auto r = results();
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? nullptr : r[0];
    }
    std::string out_text() const
    {
        bool error = false;
        return gcb->out.len > 0 ? hostsim::Host::decode_lines(std::string(gcb->out.buf, gcb->out.len), &error) : "";
    }
    SV* gvsv(GV* gv) { return as_sv(gv); }

    // An op record as the ops read it: the value-op shape covers the glob
    // an op may carry.
    op_value op{};
    OP after{};
    OP* next = nullptr;
    int32_t start = 0;
    SV** pad = nullptr;
    GV* stdout_gv = nullptr;
    GV* stderr_gv = nullptr;
};

}  // namespace runtime

// After an op that dies: its message reached the captured standard error.
#define EXPECT_DIED(text) EXPECT_NE(err_text().find(text), std::string::npos) << err_text()
