// The handle ops on a stack set by hand: fileno, tell, seek and sysseek,
// read, sysread and syswrite, eof, getc, select, and the pipe, descriptor
// and socket ops the host does not offer.
#include "runtime/io_fixture.h"

namespace runtime {
namespace {

using Reports = std::vector<std::string>;

class Handle : public Io {
protected:
    void reset() { gcb->arg_sp = gcb->arg_base; }
};

TEST_F(Handle, FilenoAsksTheSubstituteOnlyForAStream)
{
    EXPECT_EQ(run_op(OP_FILENO, {gvsv(stdout_gv)}, 0, 1), 0);
    EXPECT_EQ(sv_to_int(gcb, result()), -1);
    EXPECT_EQ(reports(), Reports{"FILENO"});
    reset();
    for (SV* sv : {pv("STDOUT"), gvsv(handle("CLOSED"))}) {
        EXPECT_EQ(run_op(OP_FILENO, {sv}, 0, 1), 0);
        EXPECT_EQ(result(), &gcb->sv_undef);
        reset();
    }
    EXPECT_TRUE(reports().empty());
}

// The descriptor seek substitute answers -1: sysseek yields undef, never
// "0 but true" for a seek that did not happen.
TEST_F(Handle, SysseekFailsWithTheSubstitute)
{
    EXPECT_EQ(run_op(OP_SYSSEEK, {gvsv(stdout_gv), iv(10), iv(0)}, 0, 3), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_EQ(reports(), (Reports{"FILENO", "LSEEK"}));
    EXPECT_EQ(gcb->last_input_glob, stdout_gv);
    reset();
    EXPECT_EQ(run_op(OP_SEEK, {gvsv(stdout_gv), iv(0), iv(0)}, 0, 3), 0);
    EXPECT_EQ(result(), &gcb->sv_no);
    EXPECT_EQ(reports(), Reports{"FSEEK"});
    reset();
    EXPECT_EQ(run_op(OP_TELL, {gvsv(stdout_gv)}, 0, 1), 0);
    EXPECT_EQ(sv_to_int(gcb, result()), -1);
    EXPECT_EQ(reports(), Reports{"FTELL"});
}

TEST_F(Handle, PositionOfAClosedHandleWarnsAndSetsErrno)
{
    warnings_all();
    GV* closed = handle("CLOSED");
    io(closed)->type = ' ';
    struct Case {
        uint16_t type;
        std::initializer_list<SV*> items;
        uint8_t argc;
        bool undef;
    };
    const Case cases[] = {
        {OP_TELL, {gvsv(closed)}, 1, false},
        {OP_SEEK, {gvsv(closed), iv(0), iv(0)}, 3, false},
        {OP_SYSSEEK, {gvsv(closed), iv(0), iv(0)}, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        gcb->errno_cell = 0;
        EXPECT_EQ(run_op(c.type, c.items, 0, c.argc), 0);
        SV* r = result();
        if (c.type == OP_TELL)
            EXPECT_EQ(sv_to_int(gcb, r), -1);
        else if (c.type == OP_SEEK)
            EXPECT_EQ(r, &gcb->sv_no);
        else
            EXPECT_EQ(r, &gcb->sv_undef);
        EXPECT_EQ(gcb->errno_cell, 2);
        reset();
    }
    EXPECT_TRUE(reports().empty());
    EXPECT_NE(err_text().find("tell() on closed filehandle CLOSED"), std::string::npos) << err_text();
    EXPECT_NE(err_text().find("sysseek() on closed filehandle CLOSED"), std::string::npos) << err_text();
}

TEST_F(Handle, SysreadReadsNothingAndPadsToTheOffset)
{
    SV* buf = sv_new_undef(gcb, 0);
    EXPECT_EQ(run_op(OP_SYSREAD, {gvsv(stdout_gv), buf, iv(10), iv(3)}, 0, 4, true), 0);
    EXPECT_EQ(sv_to_int(gcb, result()), 0);
    EXPECT_EQ(reports(), (Reports{"FILENO", "READ"}));
    EXPECT_EQ(str(buf), std::string(3, '\0'));
}

TEST_F(Handle, ReadFailuresBeforeAnyStream)
{
    struct Case {
        int64_t len, offset;
        const char* message;
    };
    for (const Case& c : {Case{4, -10, "Offset outside string"}, Case{-1, 0, "Negative length"}}) {
        SCOPED_TRACE(c.message);
        gcb->err.len = 0;
        EXPECT_NE(run_op(OP_READ, {gvsv(stdout_gv), pv("abc"), iv(c.len), iv(c.offset)}, 0, 4, true), 0);
        EXPECT_DIED(c.message);
        EXPECT_TRUE(reports().empty());
        reset();
    }
    // recv is a socket function.
    gcb->err.len = 0;
    EXPECT_NE(run_op(OP_RECV, {gvsv(stdout_gv), pv(""), iv(4), iv(0)}, 0, 4, true), 0);
    EXPECT_DIED("Unsupported socket function \"recv\" called");
    reset();
    // A handle without a stream reads nothing.
    EXPECT_EQ(run_op(OP_READ, {gvsv(handle("CLOSED")), pv(""), iv(4)}, 0, 3, true), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
}

TEST_F(Handle, SyswriteGoesToTheCapturedErrorText)
{
    EXPECT_EQ(run_op(OP_SYSWRITE, {gvsv(stdout_gv), pv("abc"), iv(5), iv(-1)}, 0, 4, true), 0);
    EXPECT_EQ(sv_to_int(gcb, result()), 1);
    EXPECT_EQ(err_text(), "c");
    EXPECT_EQ(reports(), Reports{"FILENO"});
    reset();
    // Without a length, the whole buffer.
    EXPECT_EQ(run_op(OP_SYSWRITE, {gvsv(stdout_gv), pv("xy")}, 0, 2, true), 0);
    EXPECT_EQ(sv_to_int(gcb, result()), 2);
    EXPECT_EQ(err_text(), "cxy");
    reset();
    for (int64_t offset : {3, -4}) {
        gcb->err.len = 0;
        EXPECT_NE(run_op(OP_SYSWRITE, {gvsv(stdout_gv), pv("abc"), iv(1), iv(offset)}, 0, 4, true), 0);
        EXPECT_DIED("Offset outside string");
        reset();
    }
    gcb->err.len = 0;
    EXPECT_NE(run_op(OP_SEND, {gvsv(stdout_gv), pv("abc"), iv(0)}, 0, 3, true), 0);
    EXPECT_DIED("Unsupported socket function \"send\" called");
}

TEST_F(Handle, EofOfAnOutputHandleWarnsAndAnswersTrue)
{
    warnings_all();
    EXPECT_EQ(run_op(OP_EOF, {gvsv(stdout_gv)}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    EXPECT_EQ(reports(), Reports{"GETC"});
    EXPECT_NE(err_text().find("Filehandle STDOUT opened only for output"), std::string::npos) << err_text();
    reset();
    // A handle without a stream is at its end without a read.
    EXPECT_EQ(run_op(OP_EOF, {gvsv(handle("CLOSED"))}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    EXPECT_TRUE(reports().empty());
}

// eof() over an empty @ARGV opens "-", which has no stream here.
TEST_F(Handle, EofOfArgvOpensStandardInput)
{
    EXPECT_EQ(run_op(OP_EOF, {}, OPf_SPECIAL, 0), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    EXPECT_EQ(str(gv_gp(gcb->argv_glob)->gp_sv), "-");
    EXPECT_FALSE(io(gcb->argv_glob)->ioflags & IOf_START);
    EXPECT_EQ(gcb->last_input_glob, gcb->argv_glob);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Handle, GetcReadsNothing)
{
    EXPECT_EQ(run_op(OP_GETC, {gvsv(stdout_gv)}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_EQ(reports(), Reports{"GETC"});
    reset();
    // Standard input has no stream.
    EXPECT_EQ(run_op(OP_GETC, {}, 0, 0), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Handle, SelectAnswersThePreviousHandleAndSwitches)
{
    GV* log = handle("LOG");
    EXPECT_EQ(run_op(OP_SELECT, {gvsv(log)}, 0, 1), 0);
    EXPECT_EQ(str(result()), "main::STDOUT");
    EXPECT_EQ(gcb->default_output_glob, log);
    reset();
    EXPECT_EQ(run_op(OP_SELECT, {}, 0, 0), 0);
    EXPECT_EQ(str(result()), "main::LOG");
    EXPECT_EQ(gcb->default_output_glob, log);
    reset();
    // A glob without a handle gets one when selected.
    GV* bare = gv_fetch_by_name(gcb, "BARE", GV_ADD, SVt_PV);
    EXPECT_EQ(run_op(OP_SELECT, {gvsv(bare)}, 0, 1), 0);
    EXPECT_NE(gv_gp(bare)->gp_io, nullptr);
    EXPECT_EQ(gcb->default_output_glob, bare);
}

TEST_F(Handle, UnsupportedOps)
{
    struct Case {
        uint16_t type;
        std::initializer_list<SV*> items;
        uint8_t argc;
        const char* message;
    };
    GV* f = stdout_gv;
    const Case cases[] = {
        {OP_PIPE_OP, {gvsv(handle("R")), gvsv(handle("W"))}, 2, "The pipe function is unimplemented"},
        {OP_FLOCK, {gvsv(f), iv(2)}, 2, "The flock() function is unimplemented"},
        {OP_SSELECT, {iv(0), iv(0), iv(0), iv(0)}, 4, "select not implemented"},
        {OP_TRUNCATE, {gvsv(f), iv(0)}, 2, "truncate not implemented"},
        {OP_UMASK, {iv(0777)}, 1, "umask not implemented"},
        {OP_SOCKET, {gvsv(f), iv(0), iv(0), iv(0)}, 4, "Unsupported socket function \"socket\" called"},
        {OP_SOCKPAIR, {gvsv(f), gvsv(f), iv(0), iv(0), iv(0)}, 5, "Unsupported socket function \"socketpair\" called"},
        {OP_BIND, {gvsv(f), pv("")}, 2, "Unsupported socket function \"bind\" called"},
        {OP_CONNECT, {gvsv(f), pv("")}, 2, "Unsupported socket function \"connect\" called"},
        {OP_LISTEN, {gvsv(f), iv(1)}, 2, "Unsupported socket function \"listen\" called"},
        {OP_ACCEPT, {gvsv(f), gvsv(f)}, 2, "Unsupported socket function \"accept\" called"},
        {OP_SHUTDOWN, {gvsv(f), iv(0)}, 2, "Unsupported socket function \"shutdown\" called"},
        {OP_GSOCKOPT, {gvsv(f), iv(0), iv(0)}, 3, "Unsupported socket function \"getsockopt\" called"},
        {OP_SSOCKOPT, {gvsv(f), iv(0), iv(0), iv(0)}, 4, "Unsupported socket function \"setsockopt\" called"},
        {OP_GETSOCKNAME, {gvsv(f)}, 1, "Unsupported socket function \"getsockname\" called"},
        {OP_GETPEERNAME, {gvsv(f)}, 1, "Unsupported socket function \"getpeername\" called"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        gcb->err.len = 0;
        EXPECT_NE(run_op(c.type, c.items, 0, c.argc), 0);
        EXPECT_DIED(c.message);
        reset();
    }
    EXPECT_TRUE(reports().empty());
}

TEST_F(Handle, UmaskOfGroupAndOtherBitsIsIgnored)
{
    for (auto items : {std::initializer_list<SV*>{iv(022)}, std::initializer_list<SV*>{}}) {
        EXPECT_EQ(run_op(OP_UMASK, items, 0, static_cast<uint8_t>(items.size())), 0);
        EXPECT_EQ(result(), &gcb->sv_undef);
        reset();
    }
}

TEST_F(Handle, IoctlOnAnOpenHandleGrowsItsArgumentBeforeDying)
{
    SV* arg = pv("ab");
    EXPECT_NE(run_op(OP_IOCTL, {gvsv(stdout_gv), iv(1), arg}, 0, 3), 0);
    EXPECT_DIED("ioctl is not implemented");
    ASSERT_EQ(sv_cur(arg), 256u);
    EXPECT_EQ(std::string(sv_pv(arg), 2), "ab");
    EXPECT_EQ(std::string(sv_pv(arg) + 2, 254), std::string(254, '\0'));
    EXPECT_EQ(sv_pv(arg)[256], 17);
    reset();
    gcb->errno_cell = 0;
    EXPECT_EQ(run_op(OP_FCNTL, {gvsv(handle("CLOSED")), iv(1), pv("x")}, 0, 3), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_EQ(gcb->errno_cell, 2);
}

// Without an operand tell and eof read the last read handle, and leave it so.
TEST_F(Handle, TellAndEofWithoutOperandUseTheLastReadHandle)
{
    warnings_all();
    gcb->last_input_glob = stdout_gv;
    EXPECT_EQ(run_op(OP_TELL, {}, 0, 0), 0);
    EXPECT_EQ(sv_to_int(gcb, result()), -1);
    EXPECT_EQ(reports(), Reports{"FTELL"});
    EXPECT_EQ(gcb->last_input_glob, stdout_gv);
    reset();
    gcb->last_input_glob = stdout_gv;
    EXPECT_EQ(run_op(OP_EOF, {}, 0, 0), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    EXPECT_EQ(reports(), Reports{"GETC"});
    EXPECT_NE(err_text().find("Filehandle STDOUT opened only for output"), std::string::npos) << err_text();
    EXPECT_EQ(gcb->last_input_glob, stdout_gv);
}

}  // namespace
}  // namespace runtime
