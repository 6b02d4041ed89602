// The open family: the only open that succeeds is an output open of "-";
// every other open fails after the reports of the substitutes it reached,
// in order, and leaves the handle as it was. Close and the disciplines.
#include "runtime/io_fixture.h"

namespace runtime {
namespace {

class Open : public Io {
protected:
    // open(F, text) through the open op; the op's result.
    SV* open2(GV* gv, const char* text)
    {
        EXPECT_EQ(run_op(OP_OPEN, {gvsv(gv), pv(text)}, 0, 2), 0);
        return result();
    }
    SV* open3(GV* gv, const char* mode, const char* name)
    {
        EXPECT_EQ(run_op(OP_OPEN, {gvsv(gv), pv(mode), pv(name)}, 0, 3), 0);
        return result();
    }
};

TEST_F(Open, OutputOpenOfDashSucceedsAndPrintsToCapturedOutput)
{
    GV* f = handle("F");
    SV* r = open2(f, ">-");
    ASSERT_TRUE(sv_ok(r));
    EXPECT_EQ(str(r), "1");
    EXPECT_EQ(io(f)->ifp, PRX_STDOUT);
    EXPECT_EQ(io(f)->ofp, PRX_STDOUT);
    EXPECT_EQ(io(f)->type, '-');
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(do_print_value(gcb, pv("hello\n"), io(f)->ofp), 1);
    EXPECT_EQ(out_text(), "hello\n");
    // Appending to "-" is the standard output too.
    GV* g = handle("G");
    EXPECT_EQ(str(open2(g, ">> -")), "1");
    EXPECT_EQ(io(g)->ofp, PRX_STDOUT);
}

TEST_F(Open, EveryOtherOpenFailsAfterItsReports)
{
    struct Case {
        const char* text;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"<data.txt", {"FILENO", "FSTAT"}},
        {"data.txt", {"FILENO", "FSTAT"}},
        {"  data.txt  ", {"FILENO", "FSTAT"}},
        {">out.txt", {"FILENO", "FSTAT"}},
        {">>out.txt", {"FILENO", "FSTAT"}},
        {"+<data.txt", {"FILENO", "FSTAT"}},
        {"-", {}},
        {"<-", {}},
        {"< -", {}},
        {"|sort", {"PIPE"}},
        {"ls -l |", {"PIPE"}},
        {">&STDOUT", {"FILENO", "DUP", "FDOPEN"}},
        {">&=2", {"FDOPEN"}},
        {"<&3", {"DUP", "FDOPEN"}},
        {"<&NOSUCH", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        GV* f = handle("F");
        SV* r = open2(f, c.text);
        EXPECT_FALSE(sv_ok(r));
        EXPECT_EQ(reports(), c.want);
        EXPECT_EQ(io(f)->ifp, 0);
        EXPECT_EQ(io(f)->ofp, 0);
        EXPECT_EQ(io(f)->type, ' ');
        gcb->arg_sp = gcb->arg_base + start;
    }
}

TEST_F(Open, ThreeArgumentModes)
{
    GV* f = handle("F");
    EXPECT_EQ(str(open3(f, ">", "-")), "1");
    gcb->arg_sp = gcb->arg_base;
    GV* g = handle("G");
    EXPECT_FALSE(sv_ok(open3(g, "<", "data")));
    EXPECT_EQ(reports(), (std::vector<std::string>{"FILENO", "FSTAT"}));
    gcb->arg_sp = gcb->arg_base;
    EXPECT_FALSE(sv_ok(open3(g, "-|", "ls")));
    EXPECT_EQ(reports(), (std::vector<std::string>{"PIPE"}));
    gcb->arg_sp = gcb->arg_base;

}

TEST_F(Open, UnknownThreeArgumentModeIsFatal)
{
    GV* g = handle("G");
    for (const char* bad : {"<<", "rw", "<&", "+"}) {
        SCOPED_TRACE(bad);
        gcb->err.len = 0;
        int32_t len = static_cast<int32_t>(std::strlen(bad));
        EXPECT_NE(run([&] { do_open_worker(gcb, g, bad, len, 0, 0, 0, 0, pv("x"), 1); }), 0);
        EXPECT_NE(err_text().find(std::string("Unknown open() mode '") + bad + "'"), std::string::npos) << err_text();
        EXPECT_TRUE(reports().empty());
    }
}

TEST_F(Open, PipedOpenWithoutCommandWarnsAndSetsErrno)
{
    warnings_all();
    GV* f = handle("F");
    for (const char* text : {"|", "| ", " |"}) {
        SCOPED_TRACE(text);
        gcb->errno_cell = 0;
        EXPECT_EQ(do_open_entry(gcb, f, text, static_cast<int32_t>(std::strlen(text)), 0, 0, 0, 0), 0);
        EXPECT_EQ(gcb->errno_cell, 1);
        EXPECT_TRUE(reports().empty());
    }
    EXPECT_NE(err_text().find("Missing command in piped open"), std::string::npos) << err_text();
    // A command piped both ways is cut to one way, with a warning.
    EXPECT_EQ(do_open_entry(gcb, f, "|cat|", 5, 0, 0, 0, 0), 0);
    EXPECT_NE(err_text().find("Can't open bidirectional pipe"), std::string::npos) << err_text();
    EXPECT_EQ(reports(), (std::vector<std::string>{"PIPE"}));
}

TEST_F(Open, NewlineInFailedReadOpenWarns)
{
    warnings_all();
    struct Case {
        const char* mode;  // the open text, or the mode of a three-argument open
        const char* name;  // the name argument, or null
        bool warns;
    };
    const Case cases[] = {
        {"<a\nb", nullptr, true},   {"a\nb", nullptr, true},  {"< a\nb", nullptr, true},
        {">a\nb", nullptr, false},  {"<", "a\nb", true},      {">", "a\nb", false},
        {"<ab\n", nullptr, false}, {"ab\n", nullptr, false},  // trailing white space is trimmed from the name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        gcb->err.len = 0;
        GV* f = handle("F");
        int32_t len = static_cast<int32_t>(std::strlen(c.mode));
        int32_t ok = c.name ? do_open_worker(gcb, f, c.mode, len, 0, 0, 0, 0, pv(c.name), 1)
                            : do_open_entry(gcb, f, c.mode, len, 0, 0, 0, 0);
        EXPECT_EQ(ok, 0);
        EXPECT_EQ(err_text().find("Unsuccessful open on filename containing newline") != std::string::npos, c.warns)
            << err_text();
    }
}

TEST_F(Open, SysopenFailsAfterOneFdopenReport)
{
    GV* f = handle("F");
    for (int32_t mode : {0, 1, 2}) {
        EXPECT_EQ(run_op(OP_SYSOPEN, {gvsv(f), pv("data"), iv(mode)}, 0, 3), 0);
        EXPECT_FALSE(sv_ok(result()));
        EXPECT_EQ(reports(), (std::vector<std::string>{"FDOPEN"}));
        gcb->arg_sp = gcb->arg_base;
    }
}

TEST_F(Open, ReopenOfAHandleWithAStreamKeepsItOnFailure)
{
    // STDERR holds the captured standard error.
    EXPECT_EQ(do_open_entry(gcb, stderr_gv, "<data", 5, 0, 0, 0, 0), 0);
    EXPECT_EQ(reports(), (std::vector<std::string>{"FILENO", "FILENO", "FSTAT"}));
    EXPECT_EQ(io(stderr_gv)->ifp, PRX_STDERR);
    EXPECT_EQ(io(stderr_gv)->ofp, PRX_STDERR);
    // Re-opened to the standard output, it keeps its own stream.
    EXPECT_EQ(do_open_entry(gcb, stderr_gv, ">-", 2, 0, 0, 0, 0), 1);
    EXPECT_EQ(io(stderr_gv)->ifp, PRX_STDERR);
    reports();
    // A handle opened on "-" keeps its stream through a failed re-open too.
    GV* f = handle("F");
    ASSERT_EQ(do_open_entry(gcb, f, ">-", 2, 0, 0, 0, 0), 1);
    EXPECT_EQ(do_open_entry(gcb, f, "<data", 5, 0, 0, 0, 0), 0);
    EXPECT_EQ(io(f)->ifp, PRX_STDOUT);
    EXPECT_EQ(io(f)->ofp, PRX_STDOUT);
    EXPECT_EQ(io(f)->type, '-');
}

TEST_F(Open, CloseReportsWhetherAStreamWasOpen)
{
    GV* f = handle("F");
    ASSERT_EQ(do_open_entry(gcb, f, ">-", 2, 0, 0, 0, 0), 1);
    io(f)->page = 3;
    io(f)->page_len = 60;
    EXPECT_EQ(run_op(OP_CLOSE, {gvsv(f)}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    EXPECT_EQ(io(f)->ifp, 0);
    EXPECT_EQ(io(f)->type, ' ');
    EXPECT_EQ(io(f)->page, 0);
    EXPECT_EQ(io(f)->lines_left, 60);
    gcb->arg_sp = gcb->arg_base;
    gcb->errno_cell = 0;
    EXPECT_EQ(run_op(OP_CLOSE, {gvsv(f)}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_no);
    EXPECT_EQ(gcb->errno_cell, 2);
    gcb->arg_sp = gcb->arg_base;
    // A value that is no glob.
    EXPECT_EQ(run_op(OP_CLOSE, {pv("F")}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_no);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Open, Disciplines)
{
    for (const char* ok : {"", ":raw", ":crlf", ":raw :crlf", " :raw:crlf ", ":crlf\t"}) {
        SCOPED_TRACE(ok);
        int32_t got = -1;
        EXPECT_EQ(run([&] { got = do_parse_discipline(gcb, pv(ok)); }), 0);
        EXPECT_EQ(got, 0);
    }
    EXPECT_EQ(do_parse_discipline(gcb, nullptr), 0);
    struct Bad {
        const char* text;
        const char* message;
    };
    for (const Bad& b : {Bad{":utf8", "Unknown discipline ':utf8'"}, Bad{":raw:bytes:crlf", "Unknown discipline ':bytes'"},
                         Bad{"raw", "Unknown discipline 'raw'"}, Bad{":rawx", "Unknown discipline ':rawx'"}}) {
        SCOPED_TRACE(b.text);
        gcb->err.len = 0;
        EXPECT_NE(run([&] { do_parse_discipline(gcb, pv(b.text)); }), 0);
        EXPECT_NE(err_text().find(b.message), std::string::npos) << err_text();
    }
}

TEST_F(Open, BinmodeNeedsAnInputStream)
{
    EXPECT_EQ(run_op(OP_BINMODE, {gvsv(stdout_gv), pv(":raw")}, 0, 2), 0);
    EXPECT_EQ(result(), &gcb->sv_yes);
    gcb->arg_sp = gcb->arg_base;
    EXPECT_EQ(run_op(OP_BINMODE, {gvsv(handle("CLOSED"))}, 0, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_TRUE(reports().empty());
}

}  // namespace
}  // namespace runtime
