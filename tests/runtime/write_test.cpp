// write and printf on a stack set by hand. The formats are code values whose
// bodies are single ops of the test that append lines to the format target
// as formline would, each followed by the leavewrite op.
#include "runtime/io_fixture.h"

#include "ds/src/prxrun.h"

namespace runtime {
namespace {

using Reports = std::vector<std::string>;

OP* append_lines(PERLGCB* gcb, const char* text, int32_t lines)
{
    sv_append_cstring(gcb, gcb->format_target, text);
    static_cast<PVFM*>(gcb->format_target->any)->lines += lines;
    return gcb->op->op_next;
}
OP* pp_body_lines(PERLGCB* gcb) { return append_lines(gcb, "l1\nl2\nl3\nl4\nl5\n", 5); }
OP* pp_top_lines(PERLGCB* gcb) { return append_lines(gcb, "TOP\n", 1); }
OP* pp_short_body(PERLGCB* gcb) { return append_lines(gcb, "one\n", 1); }

class Write : public Io {
protected:
    void SetUp() override
    {
        Io::SetUp();
        leave.op_type = OP_LEAVEWRITE;
        leave.op_flags = OPf_WANT_SCALAR;
        leave.op_ppaddr = gcb->op_run_function_table[OP_LEAVEWRITE];
        gcb->formfeed_value = pv("\f");
    }

    // A format whose body runs fn, installed under the name.
    CV* format(const char* name, op_run_fn fn)
    {
        OP* body = static_cast<OP*>(pool_malloc(gcb, sizeof(OP)));
        std::memset(body, 0, sizeof *body);
        body->op_ppaddr = fn;
        body->op_next = &leave;
        body->op_flags = OPf_WANT_SCALAR;
        SV* cv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, cv, SVt_PVFM);
        static_cast<PVFM*>(cv->any)->start = body;
        GV* gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVFM);
        gv_gp(gv)->gp_form = sv_as<CV>(cv);
        return sv_as<CV>(cv);
    }

    // write(gv) run to its end; the value it left.
    SV* write(GV* gv)
    {
        start = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
        std::memset(&op, 0, sizeof op);
        op.op.op_type = OP_ENTERWRITE;
        op.op.op_flags = OPf_WANT_SCALAR;
        op.op.op_private = 1;
        op.op.op_next = &after;
        SV** sp = arg_stack_room(gcb, gcb->arg_sp, 1);
        *++sp = as_sv(gv);
        gcb->arg_sp = sp;
        gcb->op = &op.op;
        int32_t code = run([&] {
            OP* o = pp_enterwrite(gcb);
            while (o && o != &after) {
                gcb->op = o;
                o = o->op_ppaddr(gcb);
            }
        });
        EXPECT_EQ(code, 0);
        return result();
    }

    OP leave{};
};

TEST_F(Write, PagesWithTheTopFormat)
{
    GV* out = handle("OUT");
    io(out)->ofp = io(out)->ifp = PRX_STDOUT;
    io(out)->page_len = 3;
    format("OUT", pp_body_lines);
    format("OUT_TOP", pp_top_lines);
    EXPECT_EQ(write(out), &gcb->sv_yes);
    EXPECT_EQ(out_text(), "TOP\nl1\nl2\n\fTOP\nl3\nl4\n\fTOP\nl5\n");
    EXPECT_EQ(io(out)->page, 3);
    EXPECT_EQ(io(out)->lines_left, 1);
    // The default output handle and the stacks are as before.
    EXPECT_EQ(gcb->default_output_glob, stdout_gv);
    EXPECT_EQ(gcb->current_level->si_cxix, -1);
    EXPECT_EQ(gcb->scope_ix, 0);
    EXPECT_EQ(gcb->format_target, gcb->format_body_target);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Write, TheTopFormatIsTopWhenNoNameTopExists)
{
    GV* out = handle("OUT");
    io(out)->ofp = PRX_STDOUT;
    io(out)->page_len = 10;
    format("OUT", pp_short_body);
    format("top", pp_top_lines);
    EXPECT_EQ(write(out), &gcb->sv_yes);
    EXPECT_EQ(std::string(io(out)->top_name), "top");
    EXPECT_EQ(out_text(), "TOP\none\n");
}

// Written text leaves the target: the next write does not put it out again.
TEST_F(Write, WithoutATopFormatNothingPagesAndTextIsWrittenOnce)
{
    GV* out = handle("OUT");
    io(out)->ofp = PRX_STDOUT;
    format("OUT", pp_short_body);
    EXPECT_EQ(write(out), &gcb->sv_yes);
    EXPECT_EQ(io(out)->lines_left, 100000000 - 1);
    gcb->arg_sp = gcb->arg_base;
    EXPECT_EQ(write(out), &gcb->sv_yes);
    EXPECT_EQ(out_text(), "one\none\n");
    EXPECT_EQ(sv_cur(gcb->format_body_target), 0u);
}

TEST_F(Write, WriteToAHandleWithoutAnOutputStream)
{
    warnings_all();
    GV* in = handle("IN");
    io(in)->ifp = PRX_STDOUT;
    format("IN", pp_short_body);
    EXPECT_EQ(write(in), &gcb->sv_no);
    EXPECT_NE(err_text().find("Filehandle IN opened only for input"), std::string::npos) << err_text();
    gcb->arg_sp = gcb->arg_base;
    // A glob without a handle runs no format.
    GV* bare = gv_fetch_by_name(gcb, "BARE", GV_ADD, SVt_PV);
    EXPECT_EQ(write(bare), &gcb->sv_no);
}

TEST_F(Write, UndefinedFormat)
{
    GV* out = handle("NOFMT");
    SV** sp = arg_stack_room(gcb, gcb->arg_sp, 1);
    *++sp = as_sv(out);
    gcb->arg_sp = sp;
    std::memset(&op, 0, sizeof op);
    op.op.op_type = OP_ENTERWRITE;
    op.op.op_private = 1;
    gcb->op = &op.op;
    EXPECT_NE(run([&] { pp_enterwrite(gcb); }), 0);
    EXPECT_DIED("Undefined format \"NOFMT\" called");
}

TEST_F(Write, PrintfToAHandle)
{
    EXPECT_EQ(run_op(OP_PRTF, {gvsv(stdout_gv), pv("%s-%03d|"), pv("a"), iv(5)}, OPf_STACKED, 0, true), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    // Without a handle: the default output handle.
    gcb->arg_sp = gcb->arg_base;
    EXPECT_EQ(run_op(OP_PRTF, {pv("%.1f\n"), pv("2.25")}, 0, 0, true), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    EXPECT_EQ(out_text(), "a-005|2.2\n");
    EXPECT_TRUE(reports().empty());
}

TEST_F(Write, PrintfToAnInputHandleOrNoHandle)
{
    warnings_all();
    GV* in = handle("IN");
    io(in)->ifp = PRX_STDOUT;
    gcb->errno_cell = 0;
    EXPECT_EQ(run_op(OP_PRTF, {gvsv(in), pv("x")}, OPf_STACKED, 0, true), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_EQ(gcb->errno_cell, 2);
    EXPECT_NE(err_text().find("Filehandle IN opened only for input"), std::string::npos) << err_text();
    gcb->arg_sp = gcb->arg_base;
    gcb->errno_cell = 0;
    GV* bare = gv_fetch_by_name(gcb, "BARE", GV_ADD, SVt_PV);
    EXPECT_EQ(run_op(OP_PRTF, {gvsv(bare), pv("x")}, OPf_STACKED, 0, true), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_EQ(gcb->errno_cell, 2);
    EXPECT_NE(err_text().find("printf() on unopened filehandle BARE"), std::string::npos) << err_text();
    EXPECT_EQ(out_text(), "");
}

}  // namespace
}  // namespace runtime
