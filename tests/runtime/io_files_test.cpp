// The ARGV walk, stat and lstat with the stat cache, exec, unlink and chmod,
// and the permission test.
#include "runtime/io_fixture.h"

#include "ds/src/prxav.h"

namespace runtime {
namespace {

using Reports = std::vector<std::string>;

class Files : public Io {
protected:
    AV* argv_array() { return gv_gp(gv_ensure_array(gcb, gcb->argv_glob))->gp_av; }
};

TEST_F(Files, ArgvWalkSkipsEveryNameItCannotOpen)
{
    av_append(gcb, argv_array(), pv("a.txt"));
    av_append(gcb, argv_array(), pv("b.txt"));
    PrxStream fp = 1;
    EXPECT_EQ(run([&] { fp = do_next_argv_file(gcb, gcb->argv_glob); }), 0);
    EXPECT_EQ(fp, 0);
    EXPECT_EQ(reports(), (Reports{"FILENO", "FSTAT", "STAT", "STRERROR", "FILENO", "FSTAT", "STAT", "STRERROR"}));
    EXPECT_EQ(err_text(), "Can't open a.txt: (null).\nCan't open b.txt: (null).\n");
    EXPECT_EQ(av_highest_index(gcb, argv_array()), -1);
    EXPECT_EQ(str(gv_gp(gcb->argv_glob)->gp_sv), "b.txt");
    EXPECT_TRUE(io(gcb->argv_glob)->ioflags & IOf_START);
}

TEST_F(Files, ArgvWalkWithTheInPlaceWarningOff)
{
    warnings_bits({WARN_IO});
    av_append(gcb, argv_array(), pv("a.txt"));
    av_append(gcb, argv_array(), pv("-"));
    EXPECT_EQ(do_next_argv_file(gcb, gcb->argv_glob), 0);
    EXPECT_EQ(reports(), (Reports{"FILENO", "FSTAT"}));
    EXPECT_EQ(err_text(), "");
}

TEST_F(Files, ArgvWalkOverNoFiles)
{
    io(gcb->argv_glob)->ioflags &= static_cast<uint8_t>(~IOf_START);
    EXPECT_EQ(do_next_argv_file(gcb, gcb->argv_glob), 0);
    EXPECT_TRUE(io(gcb->argv_glob)->ioflags & IOf_START);
    EXPECT_TRUE(reports().empty());
    EXPECT_NE(gcb->argvout_glob, nullptr);
}

TEST_F(Files, InPlaceEditingRestoresStandardOutput)
{
    gcb->inplace = pool_strdup(gcb, ".bak");
    GV* log = handle("LOG");
    io_select_default_output(gcb, log);
    av_append(gcb, argv_array(), pv("a.txt"));
    EXPECT_EQ(do_next_argv_file(gcb, gcb->argv_glob), 0);
    // The raw open of in-place editing fails at fdopen.
    EXPECT_EQ(reports(), (Reports{"FDOPEN", "STAT", "STRERROR"}));
    EXPECT_EQ(gcb->default_output_glob, log);
    EXPECT_EQ(av_highest_index(gcb, gcb->argvout_stack), -1);
}

TEST_F(Files, StatOfANameAndTheCache)
{
    warnings_all();
    gcb->op = &op.op;
    op.op.op_type = OP_STAT;
    gcb->arg_sp = arg_stack_room(gcb, gcb->arg_sp, 1);
    *++gcb->arg_sp = pv("a\nb");
    EXPECT_EQ(do_file_stat(gcb), -1);
    EXPECT_EQ(reports(), Reports{"STAT"});
    EXPECT_EQ(gcb->last_stat_type, OP_STAT);
    EXPECT_EQ(str(gcb->stat_name), "a\nb");
    EXPECT_NE(err_text().find("Unsuccessful stat on filename containing newline"), std::string::npos);
    // A test on _ answers the cache without a report.
    op_value_sv(&op.op) = gvsv(gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PV));
    op.op.op_flags = OPf_REF;
    EXPECT_EQ(do_file_stat(gcb), -1);
    EXPECT_TRUE(reports().empty());
    // A handle with a stream asks fstat of its descriptor.
    op.op.op_flags = 0;
    *++gcb->arg_sp = gvsv(stdout_gv);
    EXPECT_EQ(do_file_stat(gcb), -1);
    EXPECT_EQ(reports(), (Reports{"FILENO", "FSTAT"}));
    EXPECT_EQ(gcb->stat_glob, stdout_gv);
    EXPECT_EQ(str(gcb->stat_name), "");
}

TEST_F(Files, LinkStatOnHandles)
{
    gcb->op = &op.op;
    op.op.op_type = OP_LSTAT;
    op.op.op_flags = OPf_REF;
    op_value_sv(&op.op) = gvsv(stdout_gv);
    EXPECT_NE(run([&] { do_link_stat(gcb); }), 0);
    EXPECT_NE(err_text().find("You can't use -l on a filehandle"), std::string::npos) << err_text();
    gcb->err.len = 0;
    op_value_sv(&op.op) = gvsv(gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PV));
    gcb->last_stat_type = OP_STAT;
    EXPECT_NE(run([&] { do_link_stat(gcb); }), 0);
    EXPECT_NE(err_text().find("The stat preceding -l _ wasn't an lstat"), std::string::npos) << err_text();
    // After an lstat of a name, -l _ answers its result.
    op.op.op_flags = 0;
    *++gcb->arg_sp = pv("link");
    EXPECT_EQ(do_link_stat(gcb), -1);
    EXPECT_EQ(reports(), Reports{"STAT"});
    op.op.op_flags = OPf_REF;
    EXPECT_EQ(do_link_stat(gcb), -1);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Files, ExecNeverReplacesTheProgram)
{
    warnings_all();
    gcb->shell_path = "/bin/sh";
    struct Case {
        const char* cmd;
        Reports want;
    };
    const Case cases[] = {
        {"ls -l", {"EXECVP", "STRERROR"}},
        {"ls -l\n", {"EXECVP", "STRERROR"}},
        {"ls *.c", {"EXECL"}},
        {"make 2>&1", {"DUP2", "EXECL"}},
        {"FOO=1 env", {"EXECL"}},
        {"exec ls", {"EXECL"}},
        {"   ", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cmd);
        EXPECT_EQ(do_exec_command(gcb, c.cmd), 0);
        EXPECT_EQ(reports(), c.want);
        EXPECT_EQ(gcb->exec_argv, nullptr);
    }
    EXPECT_NE(err_text().find("Can't exec \"ls\": (null)"), std::string::npos) << err_text();
    // The list form, with the error number reported to the descriptor.
    gcb->err.len = 0;
    SV* items[] = {nullptr, pv("prog"), pv("arg")};
    gcb->errno_cell = 0;
    EXPECT_EQ(do_exec_list(gcb, nullptr, items, items + 2, 5, 1), 0);
    EXPECT_EQ(reports(), (Reports{"EXECVP", "STRERROR"}));
    EXPECT_EQ(err_raw().substr(0, 3), "%1z");
    EXPECT_NE(err_text().find("Can't exec \"prog\": (null)"), std::string::npos) << err_text();
    EXPECT_EQ(gcb->exec_argv, nullptr);
    EXPECT_EQ(gcb->exec_cmd, nullptr);
}

TEST_F(Files, UnlinkAndChmodDoNoFile)
{
    SV* items[] = {nullptr, pv("a"), pv("b"), pv("c")};
    EXPECT_EQ(do_apply_to_files(gcb, OP_UNLINK, items, items + 3), 0);
    EXPECT_EQ(reports(), (Reports{"STAT", "STAT", "STAT"}));
    gcb->euid = 1;
    EXPECT_EQ(do_apply_to_files(gcb, OP_UNLINK, items, items + 2), 0);
    EXPECT_EQ(reports(), (Reports{"UNLINK", "UNLINK"}));
    SV* modes[] = {nullptr, iv(0644), pv("a"), pv("b")};
    EXPECT_EQ(do_apply_to_files(gcb, OP_CHMOD, modes, modes + 3), 0);
    EXPECT_EQ(reports(), (Reports{"CHMOD", "CHMOD"}));
    EXPECT_EQ(do_apply_to_files(gcb, OP_STAT, items, items + 3), 0);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Files, PermissionTest)
{
    struct Case {
        int32_t euid, egid, bits;
        uint32_t mode, uid, gid;
        int32_t want;
    };
    const Case cases[] = {
        {0, 0, 0x100, 0, 5, 5, 1},       // root reads anything
        {0, 0, 0x40, 0644, 5, 5, 0},     // but executes only with an x bit
        {0, 0, 0x40, 0601, 5, 5, 1},
        {5, 9, 0x80, 0200, 5, 5, 1},     // owner bits
        {5, 9, 0x80, 0020, 5, 5, 0},
        {6, 5, 0x80, 0020, 5, 5, 1},     // group bits
        {6, 7, 0x100, 0004, 5, 5, 1},    // other bits
        {6, 7, 0x100, 0040, 5, 5, 0},
    };
    for (const Case& c : cases) {
        gcb->euid = c.euid;
        gcb->egid = c.egid;
        gcb->uid = 99;
        gcb->gid = 99;
        prx_statbuf st{};
        st.mode = c.mode;
        st.uid = c.uid;
        st.gid = c.gid;
        EXPECT_EQ(do_check_access(gcb, c.bits, 1, &st) != 0, c.want != 0) << c.euid << " " << c.mode;
    }
}

}  // namespace
}  // namespace runtime
