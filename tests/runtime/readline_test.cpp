// Line reading on a stack set by hand: the ARGV walk over no files, handles
// without a stream, reading a stream through the record reader's
// substitute, the glob op, which starts no process, and backtick.
#include "runtime/io_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxscope.h"

namespace runtime {
namespace {

using Reports = std::vector<std::string>;

class Readline : public Io {
protected:
    void reset() { gcb->arg_sp = gcb->arg_base; }
};

TEST_F(Readline, ArgvWithNoFilesReadsStandardInputWhichHasNone)
{
    warnings_all();
    EXPECT_EQ(run_op(OP_READLINE, {gvsv(gcb->argv_glob)}, OPf_WANT_SCALAR, 1), 0);
    SV* r = result();
    EXPECT_EQ(r, pad[1]);
    EXPECT_FALSE(sv_ok(r));
    EXPECT_EQ(str(gv_gp(gcb->argv_glob)->gp_sv), "-");
    EXPECT_EQ(gcb->last_input_glob, gcb->argv_glob);
    EXPECT_TRUE(reports().empty());
    // The missing standard input is the end of the input, not a closed handle.
    EXPECT_EQ(err_text(), "");
    reset();
    // Once started, the walk finds no further file and closes ARGV.
    EXPECT_EQ(run_op(OP_READLINE, {gvsv(gcb->argv_glob)}, OPf_WANT_LIST, 1), 0);
    EXPECT_TRUE(results().empty());
    EXPECT_EQ(io(gcb->argv_glob)->type, ' ');
}

TEST_F(Readline, ArgvWithFilesSkipsThem)
{
    av_append(gcb, gv_gp(gv_ensure_array(gcb, gcb->argv_glob))->gp_av, pv("x.txt"));
    warnings_bits({WARN_IO});
    EXPECT_EQ(run_op(OP_READLINE, {gvsv(gcb->argv_glob)}, OPf_WANT_LIST, 1), 0);
    EXPECT_TRUE(results().empty());
    EXPECT_EQ(reports(), (Reports{"FILENO", "FSTAT"}));
    EXPECT_EQ(str(gv_gp(gcb->argv_glob)->gp_sv), "x.txt");
}

TEST_F(Readline, ClosedHandleWarnsAndYieldsUndef)
{
    warnings_all();
    GV* closed = handle("CLOSED");
    io(closed)->type = ' ';
    SV* targ = pad[1];
    sv_set_bytes(gcb, targ, "old", 3);
    EXPECT_EQ(run_op(OP_READLINE, {gvsv(closed)}, OPf_WANT_SCALAR, 1), 0);
    EXPECT_EQ(result(), targ);
    EXPECT_FALSE(sv_ok(targ));
    EXPECT_NE(err_text().find("readline() on closed filehandle CLOSED"), std::string::npos) << err_text();
    reset();
    EXPECT_EQ(run_op(OP_READLINE, {gvsv(closed)}, OPf_WANT_LIST, 1), 0);
    EXPECT_TRUE(results().empty());
}

TEST_F(Readline, ReadingAStreamReachesTheRecordReader)
{
    warnings_all();
    EXPECT_EQ(run_op(OP_READLINE, {gvsv(stdout_gv)}, OPf_WANT_SCALAR, 1), 0);
    EXPECT_FALSE(sv_ok(result()));
    // The record reader's stream reads are unsupported.
    EXPECT_EQ(reports(), Reports{"GETC"});
    EXPECT_NE(err_text().find("Filehandle STDOUT opened only for output"), std::string::npos) << err_text();
    reset();
    // A reference to the glob names the handle too.
    gcb->rs = sv_new_undef(gcb, 0);
    EXPECT_EQ(run_op(OP_READLINE, {sv_new_reference(gcb, gvsv(stdout_gv))}, OPf_WANT_SCALAR, 1), 0);
    // A slurped empty input is one empty record, once.
    EXPECT_EQ(str(result()), "");
    EXPECT_TRUE(sv_ok(result()));
    EXPECT_EQ(reports(), Reports{"FREAD"});
    EXPECT_EQ(io(stdout_gv)->lines, 1);
}

// The glob op would run a shell command built from the pattern; it starts
// no process: nothing is expanded and no pipe is asked for.
TEST_F(Readline, GlobStartsNoProcess)
{
    warnings_bits({WARN_GLOB});
    GV* globgv = gv_new_generated(gcb, "main");
    gv_ensure_handle(gcb, globgv);
    SV* saved_rs = gcb->rs = pv("\n\n");
    GV* saved_last = gcb->last_input_glob = stdout_gv;
    EXPECT_EQ(run_op(OP_GLOB, {pv("*.c"), gvsv(globgv)}, OPf_WANT_LIST, 0), 0);
    EXPECT_TRUE(results().empty());
    // No pipe is asked for; the warning's reason is the unsupported strerror.
    EXPECT_EQ(reports(), Reports{"STRERROR"});
    EXPECT_NE(err_text().find("glob failed (can't start child: (null))"), std::string::npos) << err_text();
    // $/ and the last-read handle are the earlier ones again.
    EXPECT_EQ(gcb->rs, saved_rs);
    EXPECT_EQ(gcb->last_input_glob, saved_last);
    reset();
    EXPECT_EQ(run_op(OP_GLOB, {pv("*.c"), gvsv(globgv)}, OPf_WANT_SCALAR, 0), 0);
    EXPECT_FALSE(sv_ok(result()));
}

// The iteration overload of a class, a native sub that answers "iterated".
void iterate_result(PERLGCB* gcb, CV*)
{
    int32_t mark = *gcb->mark_sp--;
    gcb->arg_sp = gcb->arg_base + mark;
    *++gcb->arg_sp = sv_make_temporary(gcb, sv_new_from_cstring(gcb, "iterated", 0));
}

// An operand whose class overloads the iteration operator answers through
// the overload: no line reader, $/ and the last-read handle untouched.
TEST_F(Readline, GlobOfAnOverloadedOperandAsksTheOverload)
{
    HV* st = gv_stash_by_name(gcb, "Iter", 1);
    define_native_subs({"Iter::()", "Iter::(<>"}, iterate_result);
    ASSERT_TRUE(gv_rebuild_overload_table(gcb, st));
    gcb->overload_generation = 1;
    SV* obj = sv_make_temporary(gcb, overloaded_object(st));

    GV* globgv = gv_new_generated(gcb, "main");
    gv_ensure_handle(gcb, globgv);
    SV* saved_rs = gcb->rs;
    GV* saved_last = gcb->last_input_glob = stdout_gv;
    EXPECT_EQ(run_op(OP_GLOB, {obj, gvsv(globgv)}, OPf_WANT_SCALAR, 0), 0);
    SV* r = result();
    EXPECT_EQ(r, pad[1]);
    EXPECT_EQ(str(r), "iterated");
    EXPECT_EQ(gcb->rs, saved_rs);
    EXPECT_EQ(gcb->last_input_glob, saved_last);
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(err_text(), "");
}

TEST_F(Readline, BacktickReportsThePipeAndYieldsNothing)
{
    EXPECT_EQ(run_op(OP_BACKTICK, {pv("ls")}, OPf_WANT_SCALAR, 0), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_EQ(gcb->child_status, -1);
    EXPECT_EQ(reports(), Reports{"PIPE"});
    reset();
    EXPECT_EQ(run_op(OP_BACKTICK, {pv("ls")}, OPf_WANT_LIST, 0), 0);
    EXPECT_TRUE(results().empty());
    EXPECT_EQ(reports(), Reports{"PIPE"});
}

}  // namespace
}  // namespace runtime
