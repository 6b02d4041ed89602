// stat and the file tests run on a stack set by hand: results by context,
// the answers the tests give from a stat cache that holds a successful stat
// (reached through the `_` handle, which repeats the cached stat), the
// handle paths, and the -T/-B judgement of a buffer.
#include <cstring>

#include "runtime/io_fixture.h"

namespace runtime {
namespace {

class Stat : public Io {
protected:
    void SetUp() override
    {
        Io::SetUp();
        underscore = gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PV);
        gcb->start_time = 1000000;
    }
    // A cached successful stat of a file.
    void cache(uint32_t mode, int64_t size, uint32_t uid = 0, uint32_t gid = 0)
    {
        std::memset(&gcb->stat_buf, 0, sizeof gcb->stat_buf);
        gcb->stat_buf.mode = mode;
        gcb->stat_buf.size = size;
        gcb->stat_buf.uid = uid;
        gcb->stat_buf.gid = gid;
        gcb->last_stat_result = 0;
        gcb->last_stat_type = OP_STAT;
    }
    // Runs the op on the `_` handle; its one result.
    SV* on_underscore(uint16_t type, uint8_t want = 0)
    {
        EXPECT_EQ(run_ref(type, underscore, want), 0);
        return result();
    }
    int32_t run_ref(uint16_t type, GV* gv, uint8_t want)
    {
        std::memset(&op, 0, sizeof op);
        op.op.op_type = type;
        op.op.op_flags = static_cast<uint8_t>(OPf_REF | want);
        op.op.op_targ = 1;
        op.op.op_next = &after;
        op.op.op_ppaddr = gcb->op_run_function_table[type];
        op.op_sv = as_sv(gv);
        start = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
        gcb->op = &op.op;
        return run([&] { next = op.op.op_ppaddr(gcb); });
    }
    std::string answer(SV* sv)
    {
        if (sv == &gcb->sv_undef)
            return "undef";
        if (sv == &gcb->sv_yes)
            return "yes";
        if (sv == &gcb->sv_no)
            return "no";
        return str(sv);
    }
    GV* underscore = nullptr;
};

TEST_F(Stat, AFailedStatByContext)
{
    // List: nothing; scalar: no; void: nothing pushed.
    EXPECT_EQ(run_op(OP_STAT, {pv("x")}, OPf_WANT_LIST), 0);
    EXPECT_TRUE(results().empty());
    EXPECT_EQ(reports(), std::vector<std::string>{"STAT"});
    EXPECT_EQ(run_op(OP_STAT, {pv("x")}, OPf_WANT_SCALAR), 0);
    EXPECT_EQ(result(), &gcb->sv_no);
    gcb->arg_sp = gcb->arg_base + start;
    EXPECT_EQ(run_op(OP_LSTAT, {pv("x")}, OPf_WANT_VOID), 0);
    EXPECT_TRUE(results().empty());
    EXPECT_EQ(str(gcb->stat_name), "x");
    EXPECT_EQ(gcb->stat_glob, nullptr);
    // The `_` handle repeats the cached failure without a new stat.
    reports();
    EXPECT_EQ(run_ref(OP_STAT, underscore, OPf_WANT_LIST), 0);
    EXPECT_TRUE(results().empty());
    EXPECT_TRUE(reports().empty());
}

TEST_F(Stat, ACachedStatInListContextGivesThirteenValues)
{
    cache(0100644, 1234, 7, 8);
    gcb->stat_buf.dev = 3;
    gcb->stat_buf.ino = 99;
    gcb->stat_buf.nlink = 2;
    gcb->stat_buf.atime = 10;
    gcb->stat_buf.mtime = 20;
    gcb->stat_buf.ctime = 30;
    EXPECT_EQ(run_ref(OP_STAT, underscore, OPf_WANT_LIST), 0);
    std::vector<std::string> got;
    for (SV* sv : results())
        got.push_back(str(sv));
    EXPECT_EQ(got, (std::vector<std::string>{"3", "99", "33188", "2", "7", "8", "0", "1234", "10", "20", "30", "", ""}));
}

TEST_F(Stat, FileTestsAnswerFromTheCachedStat)
{
    struct Case {
        uint16_t type;
        uint32_t mode;
        int64_t size;
        uint32_t uid;
        const char* want;
    };
    gcb->uid = 0;
    gcb->euid = 5;
    const Case cases[] = {
        {OP_FTIS, 0100644, 10, 0, "yes"},
        {OP_FTSIZE, 0100644, 0, 0, "0"},
        {OP_FTSIZE, 0100644, 4096, 0, "4096"},
        {OP_FTZERO, 0100644, 0, 0, "yes"},
        {OP_FTZERO, 0100644, 1, 0, "no"},
        {OP_FTSUID, 04755, 1, 0, "yes"},
        {OP_FTSUID, 0755, 1, 0, "no"},
        {OP_FTSGID, 02755, 1, 0, "yes"},
        {OP_FTSGID, 0755, 1, 0, "no"},
        {OP_FTEOWNED, 0644, 1, 5, "yes"},
        {OP_FTEOWNED, 0644, 1, 0, "no"},
        {OP_FTROWNED, 0644, 1, 0, "yes"},
        {OP_FTROWNED, 0644, 1, 5, "no"},
        // The file types are not known: every one of them answers no.
        {OP_FTDIR, 040755, 1, 0, "no"},
        {OP_FTFILE, 0100644, 1, 0, "no"},
        {OP_FTSOCK, 0140755, 1, 0, "no"},
        // The real id 0 may read and write anything and execute what has an
        // execute bit; the effective id 5 is the owner here.
        {OP_FTRREAD, 0, 1, 5, "yes"},
        {OP_FTREXEC, 0644, 1, 5, "no"},
        {OP_FTREXEC, 0645, 1, 5, "yes"},
        {OP_FTEREAD, 0244, 1, 5, "no"},
        {OP_FTEWRITE, 0244, 1, 5, "yes"},
        {OP_FTEEXEC, 0144, 1, 5, "yes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(gcb->op_name_table[c.type]) + " " + c.want);
        cache(c.mode, c.size, c.uid);
        EXPECT_EQ(answer(on_underscore(c.type)), c.want);
        gcb->arg_sp = gcb->arg_base + start;
    }
    EXPECT_TRUE(reports().empty());
}

TEST_F(Stat, AgeTestsCountDaysBeforeTheStart)
{
    cache(0100644, 1);
    gcb->stat_buf.mtime = 1000000 - 86400 * 2;
    gcb->stat_buf.atime = 1000000 - 43200;
    gcb->stat_buf.ctime = 1000000 + 86400;
    EXPECT_EQ(str(on_underscore(OP_FTMTIME)), "2");
    gcb->arg_sp = gcb->arg_base + start;
    EXPECT_EQ(str(on_underscore(OP_FTATIME)), "0.5");
    gcb->arg_sp = gcb->arg_base + start;
    EXPECT_EQ(str(on_underscore(OP_FTCTIME)), "-1");
}

TEST_F(Stat, LinkTestAfterAnLstat)
{
    cache(0120777, 1);
    gcb->last_stat_type = OP_LSTAT;
    EXPECT_EQ(answer(on_underscore(OP_FTLINK)), "no");
}

TEST_F(Stat, StickyTestLeavesItsOperand)
{
    SV* v = pv("file");
    EXPECT_EQ(run_op(OP_FTSVTX, {v}, OPf_WANT_LIST), 0);
    auto r = results();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0], v);
    EXPECT_EQ(r[1], &gcb->sv_no);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Stat, HandleStats)
{
    // An unopened handle: no stat, an empty list.
    GV* f = handle("F");
    EXPECT_EQ(run_ref(OP_STAT, f, OPf_WANT_LIST), 0);
    EXPECT_TRUE(results().empty());
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(gcb->stat_glob, f);
    EXPECT_EQ(str(gcb->stat_name), "");
    // A handle with an input stream: its descriptor is stat'ed.
    EXPECT_EQ(run_ref(OP_STAT, stdout_gv, OPf_WANT_SCALAR), 0);
    EXPECT_EQ(result(), &gcb->sv_no);
    EXPECT_EQ(reports(), (std::vector<std::string>{"FILENO", "FSTAT"}));
    // A reference to a glob on the stack is a handle too.
    gcb->arg_sp = gcb->arg_base + start;
    SV* ref = sv_make_temporary(gcb, sv_new_reference(gcb, as_sv(stdout_gv)));
    EXPECT_EQ(run_op(OP_STAT, {ref}, OPf_WANT_SCALAR), 0);
    EXPECT_EQ(result(), &gcb->sv_no);
    EXPECT_EQ(reports(), (std::vector<std::string>{"FILENO", "FSTAT"}));
}

TEST_F(Stat, TerminalTest)
{
    // An open handle: its descriptor (the report of FILENO), not a terminal.
    EXPECT_EQ(run_ref(OP_FTTTY, stdout_gv, 0), 0);
    EXPECT_EQ(result(), &gcb->sv_no);
    EXPECT_EQ(reports(), std::vector<std::string>{"FILENO"});
    gcb->arg_sp = gcb->arg_base + start;
    // A handle without a stream and no name: undefined.
    EXPECT_EQ(run_ref(OP_FTTTY, handle("G"), 0), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    gcb->arg_sp = gcb->arg_base + start;
    // The name of an open handle finds it.
    EXPECT_EQ(run_op(OP_FTTTY, {pv("STDOUT")}), 0);
    EXPECT_EQ(result(), &gcb->sv_no);
    EXPECT_EQ(reports(), std::vector<std::string>{"FILENO"});
}

TEST_F(Stat, TextTestOfAHandle)
{
    // An unopened handle: undefined, the error number 2, the stat glob set.
    GV* f = handle("F");
    gcb->errno_cell = 0;
    EXPECT_EQ(run_ref(OP_FTTEXT, f, 0), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_EQ(gcb->errno_cell, 2);
    EXPECT_EQ(gcb->stat_glob, f);
    EXPECT_EQ(gcb->last_stat_result, -1);
    // `_` after it names that handle again.
    gcb->arg_sp = gcb->arg_base + start;
    EXPECT_EQ(run_ref(OP_FTBINARY, underscore, 0), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    // An open handle dies.
    gcb->arg_sp = gcb->arg_base + start;
    EXPECT_EQ(run_ref(OP_FTTEXT, stdout_gv, 0), 2);
    EXPECT_NE(std::string(gcb->err.buf, gcb->err.len).find("-T and -B not implemented on filehandles"),
              std::string::npos);
    EXPECT_TRUE(reports().empty());
}

TEST_F(Stat, TextJudgementOfABuffer)
{
    struct Case {
        std::string bytes;
        bool text;
    };
    const Case cases[] = {
        {"plain text\n", true},
        {"tab\tcr\rff\fbs\besc\x1b", true},
        // 9 bytes, 3 of them odd: still text; 4 odd: binary.
        {std::string("abc\x01\x02\x03xyz"), true},
        {std::string("ab\x01\x02\x03\x04xyz"), false},
        // A NUL byte makes everything odd.
        {std::string("text with a NUL\0 in it", 22), false},
        // Whole UTF-8 sequences are text; a lone lead byte, a lead byte too
        // close to the end, or a stray continuation byte is odd.
        {"\xc3\xa9t\xc3\xa9 \xe2\x82\xac", true},
        {"\xc3x\xc3y\xc3z", false},
        {"ab\xc3\xa9", false},
        {"\x80\x81\x82x", false},
        {"", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(pp_looks_like_text(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                     static_cast<int32_t>(c.bytes.size())),
                  c.text);
    }
}

TEST_F(Stat, LocalTimeInListContextGivesTheNineFields)
{
    EXPECT_EQ(run_op(OP_LOCALTIME, {pv("0")}, OPf_WANT_LIST, 1), 0);
    std::vector<std::string> got;
    for (SV* sv : results())
        got.push_back(str(sv));
    EXPECT_EQ(got, (std::vector<std::string>{"0", "0", "0", "1", "1", "60", "5", "1", "0"}));
    gcb->arg_sp = gcb->arg_base + start;
    EXPECT_EQ(run_op(OP_GMTIME, {}, OPf_WANT_LIST, 0), 0);
    EXPECT_EQ(results().size(), 9u);
}

TEST_F(Stat, LocalTimeWithoutAPoolRecord)
{
    // An exhausted pool: no record, so undefined (scalar) or nothing (list).
    SV* zero = sv_new_from_int(gcb, 0);
    host->fail.fail_next = true;
    EXPECT_EQ(run_op(OP_LOCALTIME, {zero}, OPf_WANT_SCALAR, 1), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    gcb->arg_sp = gcb->arg_base + start;
    host->fail.fail_next = true;
    EXPECT_EQ(run_op(OP_LOCALTIME, {zero}, OPf_WANT_LIST, 1), 0);
    EXPECT_TRUE(results().empty());
}

TEST_F(Stat, ForkChildSideIsNotTakenAndWaitSetsTheStatus)
{
    EXPECT_EQ(run_op(OP_FORK, {}, OPf_WANT_SCALAR), 0);
    EXPECT_EQ(result(), &gcb->sv_undef);
    EXPECT_EQ(reports(), std::vector<std::string>{"FORK"});
    gcb->arg_sp = gcb->arg_base + start;
    gcb->child_status = 5;
    EXPECT_EQ(run_op(OP_WAIT, {}, OPf_WANT_SCALAR), 0);
    EXPECT_EQ(str(result()), "0");
    EXPECT_EQ(gcb->child_status, -1);
}

}  // namespace
}  // namespace runtime
