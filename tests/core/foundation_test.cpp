// The interpreter's host layer: reporters of unsupported functions, memory
// wrappers, captured streams, C-library substitutes, the interpreter block,
// the task guard and the exits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "ds/src/prx.h"
#include "ds/src/prxbridge.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxpool.h"
#include "ds/src/prxtbl.h"
#include "host/modrec.h"
#include "hostsim/hostsim.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

class Foundation : public ::testing::Test {
protected:
    void SetUp() override
    {
        h = &hostsim::reset();
        mcn_main(&h->vec, nullptr);
    }
    // A fresh interpreter block of the current task, with the start
    // environment linked as construction would.
    PERLGCB* make_interp()
    {
        PERLGCB* gcb = interp_alloc();
        gcb->top_env = &gcb->start_env;
        gcb->start_env.prev = nullptr;
        return gcb;
    }
    // Runs body under a jump environment; returns the code that arrived.
    int32_t guarded(PERLGCB* gcb, const std::function<void()>& body)
    {
        JumpEnv env;
        return jump_run(gcb, &env, true, body);
    }
    std::string err_text(PERLGCB* gcb) { return gcb->err.len ? std::string(gcb->err.buf, gcb->err.len) : ""; }
    std::string out_text(PERLGCB* gcb) { return gcb->out.len ? std::string(gcb->out.buf, gcb->out.len) : ""; }
    hostsim::Host* h = nullptr;
};

// Each reporter issues message 304 of table 738 with its name, for the
// current task, and answers its fixed value.
TEST_F(Foundation, UnsupportedFunctionReporters)
{
    struct Case {
        const char* name;
        int64_t want;
        std::function<int64_t()> call;
    };
    int32_t fds[2];
    const Case cases[] = {
        {"CHDIR", -1, [] { return prx_chdir("/"); }},
        {"CHMOD", -1, [] { return prx_chmod("f", 0644); }},
        {"CLOSEDIR", -1, [] { return prx_closedir(nullptr); }},
        {"DUP", -1, [] { return prx_dup(1); }},
        {"DUP2", -1, [] { return prx_dup2(1, 2); }},
        {"EXECL", -1, [] { return prx_execl("/bin/sh", "sh", nullptr); }},
        {"EXECV", -1, [] { return prx_execv("/bin/sh", nullptr); }},
        {"EXECVP", -1, [] { return prx_execvp("sh", nullptr); }},
        {"FDOPEN", 0, [] { return static_cast<int64_t>(prx_fdopen(1, "r")); }},
        {"FEOF", -1, [] { return prx_feof(PRX_STDOUT); }},
        {"FILENO", -1, [] { return prx_fileno(PRX_STDOUT); }},
        {"FORK", -1, [] { return prx_fork(); }},
        {"FREAD", 0, [] {
             char b[4];
             return static_cast<int64_t>(prx_fread(b, 1, 4, 0));
         }},
        {"FSEEK", -1, [] { return prx_fseek(0, 0, 0); }},
        {"FSTAT", -1, [] { return prx_fstat(0, nullptr); }},
        {"FTELL", -1, [] { return prx_ftell(0); }},
        {"GETC", -1, [] { return prx_getc(0); }},
        {"KILL", -1, [] { return prx_kill(0, 6); }},
        {"LSEEK", -1, [] { return prx_lseek(0, 0, 0); }},
        {"MKDIR", -1, [] { return prx_mkdir("d", 0755); }},
        {"PAUSE", -1, [] { return prx_pause(); }},
        {"PIPE", -1, [&fds] { return prx_pipe(fds); }},
        {"QSORT", 0, [] {
             int a[3] = {3, 1, 2};
             prx_qsort(a, 3, sizeof(int), [](const void*, const void*) { return 0; });
             return static_cast<int64_t>(a[0] == 3 && a[1] == 1 && a[2] == 2 ? 0 : 1);
         }},
        {"READ", 0, [] {
             char b[4];
             return prx_read(0, b, 4);
         }},
        {"RENAME", -1, [] { return prx_rename("a", "b"); }},
        {"RMDIR", -1, [] { return prx_rmdir("d"); }},
        {"SETGID", -1, [] { return prx_setgid(0); }},
        {"SETUID", -1, [] { return prx_setuid(0); }},
        {"SETVBUF", -1, [] { return prx_setvbuf(0, nullptr, 0, 0); }},
        {"STAT", -1, [] { return prx_stat("/", nullptr); }},
        {"UNGETC", -1, [] { return prx_ungetc('a', 0); }},
        {"UNLINK", -1, [] { return prx_unlink("f"); }},
        {"WAIDPID", 0, [] {
             int32_t status = 77;
             int64_t r = prx_waitpid(5, &status, 0);
             return status == 77 ? r : 99;
         }},
        {"PUTENV", -1, [] { return prx_putenv("A=B"); }},
        {"STRERROR", 0, [] { return static_cast<int64_t>(reinterpret_cast<intptr_t>(prx_strerror(2))); }},
        {"FERROR", -1, [] { return prx_ferror(0); }},
        {"_EXIT", 0, [] {
             prx__exit(3);
             return int64_t{0};
         }},
    };
    h->make_current(h->task(1));
    for (const Case& c : cases) {
        h->messages.clear();
        EXPECT_EQ(c.call(), c.want) << c.name;
        ASSERT_EQ(h->messages.size(), 1u) << c.name;
        EXPECT_EQ(h->messages[0].table, 738);
        EXPECT_EQ(h->messages[0].number, 304);
        EXPECT_EQ(h->messages[0].task, &h->task(1)->handle);
        ASSERT_EQ(h->messages[0].args.size(), 1u);
        EXPECT_EQ(h->messages[0].args[0], c.name);
    }
    // Every call reports again; with no task nothing is issued.
    h->messages.clear();
    prx_stat("/", nullptr);
    prx_stat("/", nullptr);
    EXPECT_EQ(h->messages.size(), 2u);
    h->vec.no_task = 1;
    EXPECT_EQ(prx_stat("/", nullptr), -1);
    EXPECT_EQ(h->messages.size(), 2u);
}

TEST_F(Foundation, ConstantSubstitutes)
{
    EXPECT_EQ(prx_return_one(), 1);
    EXPECT_EQ(prx_return_one(1, "x", 2.5), 1);
    EXPECT_EQ(prx_open("/etc/passwd", 0), 1);
    EXPECT_EQ(prx_return_zero("PATH"), 0);
    EXPECT_EQ(prx_return_two(), 2);
    EXPECT_TRUE(h->messages.empty());
}

TEST_F(Foundation, PoolWrappers)
{
    PERLGCB* gcb = make_interp();
    hostsim::Pool* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    void* b = pool_malloc(gcb, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(pool->live.at(b), 1u);
    void* c = pool_realloc(gcb, nullptr, 10);
    ASSERT_NE(c, nullptr);
    std::memcpy(c, "123456789", 10);
    c = pool_realloc(gcb, c, 100);
    EXPECT_STREQ(static_cast<char*>(c), "123456789");
    EXPECT_EQ(pool_realloc(gcb, c, 0), nullptr);
    EXPECT_EQ(pool->live.count(c), 0u);
    pool_free(gcb, nullptr);
    pool_free(gcb, b);
    char* s = pool_strndup(gcb, "abc", 2);
    EXPECT_EQ(pool->live.at(s), 3u);
    EXPECT_EQ(std::string(s, 3), std::string("ab\0", 3));
    char* d = pool_strdup(gcb, "hello");
    EXPECT_STREQ(d, "hello");
    EXPECT_EQ(pool->live.at(d), 6u);
    pool_free(gcb, s);
    pool_free(gcb, d);
}

TEST_F(Foundation, OutOfMemoryExitsWithStatusOne)
{
    PERLGCB* gcb = make_interp();
    void* got = reinterpret_cast<void*>(1);
    h->fail.fail_next = true;
    int32_t code = guarded(gcb, [&] { got = pool_malloc(gcb, 64); });
    EXPECT_EQ(code, 2);
    EXPECT_EQ(got, reinterpret_cast<void*>(1));
    EXPECT_EQ(gcb->exit_status, 1);
    EXPECT_EQ(err_text(gcb), "%1zOut of memory!%n");

    // The same through a reallocation.
    void* b = pool_malloc(gcb, 8);
    h->fail.fail_next = true;
    code = guarded(gcb, [&] { got = pool_realloc(gcb, b, 4096); });
    EXPECT_EQ(code, 2);

    // Under the no-memory-ok flag the caller gets null instead.
    gcb->no_memory_ok = 1;
    h->fail.fail_next = true;
    code = guarded(gcb, [&] { got = pool_malloc(gcb, 64); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(got, nullptr);
    h->fail.fail_next = true;
    char* s = reinterpret_cast<char*>(1);
    code = guarded(gcb, [&] { s = pool_strdup(gcb, "abc"); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(s, nullptr);

    // A size beyond 32 bits is never cut down to a smaller block: it is
    // memory the pool cannot give.
    b = pool_malloc(gcb, 8);
    for (uint64_t size : {uint64_t{1} << 32, (uint64_t{1} << 32) + 16}) {
        got = reinterpret_cast<void*>(1);
        EXPECT_EQ(guarded(gcb, [&] { got = pool_realloc(gcb, nullptr, size); }), 0);
        EXPECT_EQ(got, nullptr) << size;
        got = reinterpret_cast<void*>(1);
        EXPECT_EQ(guarded(gcb, [&] { got = pool_realloc(gcb, b, size); }), 0);
        EXPECT_EQ(got, nullptr) << size;
    }
    pool_free(gcb, b);
    gcb->no_memory_ok = 0;
    gcb->err.len = 0;
    EXPECT_EQ(guarded(gcb, [&] { got = pool_realloc(gcb, nullptr, uint64_t{1} << 32); }), 2);
    EXPECT_EQ(err_text(gcb), "%1zOut of memory!%n");
}

// With no outer environment an exit ends in the bridge's head buffer with -1.
TEST_F(Foundation, ExitWithoutGuardReachesTheBridge)
{
    PERLGCB* gcb = make_interp();
    int32_t code = jump_run(gcb, head_env(gcb), false, [&] { interp_exit(gcb, 0); });
    EXPECT_EQ(code, -1);
    code = jump_run(gcb, head_env(gcb), false, [&] { bridge_fatal_jump(); });
    EXPECT_EQ(code, -1);
}

TEST_F(Foundation, ExitStatuses)
{
    PERLGCB* gcb = make_interp();
    struct Case {
        int32_t in, want;
    } cases[] = {{0, 0}, {1, 1}, {-1, -1}, {256, 256}, {65537, 1}, {-2, 0xFFFE}};
    for (const Case& c : cases) {
        EXPECT_EQ(guarded(gcb, [&] { interp_exit(gcb, c.in); }), 2);
        EXPECT_EQ(gcb->exit_status, c.want) << c.in;
    }
    gcb->errno_cell = 0;
    gcb->exit_status = 0x300;
    EXPECT_EQ(guarded(gcb, [&] { interp_failure_exit(gcb); }), 2);
    EXPECT_EQ(gcb->exit_status, 3);
    gcb->exit_status = 0;
    EXPECT_EQ(guarded(gcb, [&] { interp_failure_exit(gcb); }), 2);
    EXPECT_EQ(gcb->exit_status, 255);
    gcb->errno_cell = 0x10005;
    EXPECT_EQ(guarded(gcb, [&] { interp_failure_exit(gcb); }), 2);
    EXPECT_EQ(gcb->exit_status, 5);
    gcb->errno_cell = -1;
    EXPECT_EQ(guarded(gcb, [&] { interp_failure_exit(gcb); }), 2);
    EXPECT_EQ(gcb->exit_status, -1);
}

// A jump aimed at an outer environment passes through inner ones.
TEST_F(Foundation, JumpsReachTheirTarget)
{
    PERLGCB* gcb = make_interp();
    JumpEnv outer, inner;
    bool inner_returned = false;
    int32_t code = jump_run(gcb, &outer, true, [&] {
        int32_t c = jump_run(gcb, &inner, true, [&] { jump_to(gcb, &outer, 3); });
        inner_returned = c >= 0;
    });
    EXPECT_EQ(code, 3);
    EXPECT_FALSE(inner_returned);
    EXPECT_EQ(gcb->top_env, &gcb->start_env);
}

TEST_F(Foundation, CapturedTextForms)
{
    PERLGCB* gcb = make_interp();
    EXPECT_EQ(prx_fwrite("a%b\n", 1, 4, PRX_STDOUT), 4);
    EXPECT_EQ(out_text(gcb), "a%%b%n");
    EXPECT_EQ(gcb->out.len, 6);
    EXPECT_EQ(prx_fputc('x', PRX_STDERR), 'x');
    EXPECT_EQ(err_text(gcb), "%1zx");
    EXPECT_EQ(gcb->err.len, 4);
    EXPECT_EQ(prx_fputs("", PRX_STDERR), -1);
    EXPECT_EQ(prx_fputs("yz", PRX_STDERR), 0);
    prx_write(7, "!\n", 2);
    EXPECT_EQ(err_text(gcb), "%1zxyz!%n");
    // Another stream changes nothing.
    EXPECT_EQ(prx_stream_write(3, "q", 1, 1), 0);
    EXPECT_EQ(prx_fwrite("q", 1, 1, 0), 0);
    EXPECT_EQ(out_text(gcb), "a%%b%n");
}

TEST_F(Foundation, CaptureDoublesItsBuffer)
{
    PERLGCB* gcb = make_interp();
    std::string big(5000, 'q');
    EXPECT_EQ(prx_fwrite(big.data(), 1, 5000, PRX_STDOUT), 5000);
    EXPECT_EQ(gcb->out.cap, 8192);
    EXPECT_EQ(gcb->out.len, 5000);
    // A growth that fails loses this call's bytes and keeps the rest.
    std::string more(4000, 'r');
    h->fail.fail_next = true;
    EXPECT_EQ(prx_fwrite(more.data(), 1, 4000, PRX_STDOUT), 0);
    EXPECT_EQ(gcb->out.len, 5000);
    EXPECT_EQ(gcb->out.cap, 8192);
    EXPECT_EQ(out_text(gcb), big);
}

TEST_F(Foundation, HandOverOfCapturedText)
{
    PERLGCB* gcb = make_interp();
    hostsim::Pool* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    host_task* task = &h->main_task()->handle;
    prx_fputs("note\n", PRX_STDOUT);
    prx_fputs("bad 100%\n", PRX_STDERR);
    size_t blocks = pool->live.size();

    // A null name leaves the text where it is.
    rexhost_report_notes(task, gcb, nullptr);
    rexhost_report_errors(task, gcb, nullptr);
    EXPECT_TRUE(h->lines.empty());
    EXPECT_EQ(out_text(gcb), "note%n");

    rexhost_report_notes(task, gcb, "PRXMATCH");
    ASSERT_EQ(h->lines.size(), 1u);
    EXPECT_EQ(h->lines[0].raw, "note%n");
    EXPECT_EQ(h->lines[0].task, task);
    EXPECT_EQ(gcb->out.len, 0);
    EXPECT_EQ(gcb->out.cap, 0);
    EXPECT_EQ(pool->live.size(), blocks - 1);

    rexhost_report_errors(task, gcb, "PRXMATCH");
    ASSERT_EQ(h->lines.size(), 2u);
    EXPECT_EQ(h->lines[1].raw, "%1zbad 100%%%n");
    EXPECT_EQ(h->lines[1].text, "bad 100%\n");
    EXPECT_TRUE(h->lines[1].error);
    EXPECT_EQ(gcb->err.len, 0);

    // Nothing to hand over: no call.
    rexhost_report_notes(task, gcb, "PRXMATCH");
    rexhost_report_notes(task, nullptr, "PRXMATCH");
    EXPECT_EQ(h->lines.size(), 2u);

    // After a hand-over the next error text starts a fresh buffer.
    prx_fputc('z', PRX_STDERR);
    EXPECT_EQ(err_text(gcb), "%1zz");
}

TEST_F(Foundation, WritersNeedTheCurrentTasksInterpreter)
{
    PERLGCB* gcb = make_interp();
    h->make_current(h->task(1));
    EXPECT_EQ(prx_fputs("x", PRX_STDOUT), -1);
    h->make_current(h->main_task());
    EXPECT_EQ(prx_fputs("x", PRX_STDOUT), 0);
    EXPECT_EQ(out_text(gcb), "x");
}

TEST_F(Foundation, StringSubstitutes)
{
    EXPECT_EQ(prx_strcmp("abc", "abc", 10), 0);
    EXPECT_LT(prx_strcmp("ab", "abc", 10), 0);
    EXPECT_GT(prx_strcmp("abc", "ab", 10), 0);
    EXPECT_EQ(prx_strcmp("ab", "abc", 2), 0);
    EXPECT_LT(prx_strcmp("abc", "abd", 10), 0);
    EXPECT_EQ(prx_strchr("hello", 0), nullptr);
    const char* t = "gBf";
    EXPECT_EQ(prx_strchr(t, 'B'), t + 1);
    EXPECT_EQ(prx_strchr(t, 'x'), nullptr);
    const char* u = "a/b/c";
    EXPECT_EQ(prx_strrchr(u, '/'), u + 3);
    EXPECT_EQ(prx_strrchr(u, 'q'), nullptr);
    char buf[16] = "abc";
    EXPECT_EQ(prx_strcat(buf, "de"), buf);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(prx_find_byte("xyz", 3, 'z'), 2);
    EXPECT_EQ(prx_find_byte("xyz", 3, 'q'), -1);
}

TEST_F(Foundation, NumberSubstitutes)
{
    EXPECT_EQ(prx_atoi("42"), 42);
    EXPECT_EQ(prx_atoi("-17"), -17);
    // As atoi: the leading integer counts, text after it does not.
    EXPECT_EQ(prx_atoi("4x"), 4);
    EXPECT_EQ(prx_atoi(" 12\n"), 12);
    EXPECT_EQ(prx_atoi("+7 apples"), 7);
    EXPECT_EQ(prx_atoi("x4"), 0);
    EXPECT_EQ(prx_atoi("-"), 0);
    EXPECT_EQ(prx_atoi(nullptr), 0);
    EXPECT_EQ(prx_atof("2.5"), 2.5);
    EXPECT_EQ(prx_atof(""), 0.0);
    EXPECT_EQ(prx_atof("pear"), 0.0);
    // As atof: white space first, then the longest number; the rest is ignored.
    EXPECT_EQ(prx_atof("\t1.5\n"), 1.5);
    EXPECT_EQ(prx_atof("3abc"), 3.0);
    EXPECT_EQ(prx_atof("-.5e1x"), -5.0);
    EXPECT_EQ(prx_atof("7e"), 7.0);
    EXPECT_EQ(prx_atof("1.5.6"), 1.5);
    EXPECT_TRUE(std::isinf(prx_atof("-Infinity and more")));
    EXPECT_EQ(prx_atof("."), 0.0);
    EXPECT_EQ(h->calls.back().slot, 305u);

    // The whole rendering is kept: a number of 15 characters keeps all 15.
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(prx_gcvt(0.125, 15, buf), buf);
    EXPECT_STREQ(buf, "0.125");
    EXPECT_EQ(prx_gcvt(1.0 / 3.0, 15, buf), buf);
    EXPECT_EQ(std::strlen(buf), 15u);
    EXPECT_STREQ(buf, "0.3333333333333");
    EXPECT_EQ(prx_gcvt(-12345678901234.0, 15, buf), buf);
    EXPECT_STREQ(buf, "-12345678901234");
    // A failed format leaves the empty text.
    h->over.xkFormatDouble = [](XkFormatDoubleReq*) { return 1; };
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(prx_gcvt(1.5, 15, buf), nullptr);
    EXPECT_STREQ(buf, "");
}

TEST_F(Foundation, FormatRequestRecord)
{
    XkFormatDoubleReq seen{};
    h->over.xkFormatDouble = [&](XkFormatDoubleReq* r) {
        seen = *r;
        std::memset(r->buffer, ' ', static_cast<size_t>(r->width));
        r->buffer[r->width - 1] = '7';
        return 0;
    };
    h->make_current(h->task(2));
    char buf[40];
    prx_gcvt(7.0, 15, buf);
    EXPECT_EQ(seen.digits, 15);
    EXPECT_EQ(seen.code, 99);
    EXPECT_EQ(seen.value_size, 8);
    EXPECT_EQ(seen.width, 15);
    EXPECT_EQ(seen.buffer, buf);
    EXPECT_EQ(seen.task, &h->task(2)->handle);
    EXPECT_STREQ(buf, "7");
}

TEST_F(Foundation, TimeRandomAndTimeRecords)
{
    PERLGCB* gcb = make_interp();
    h->clock = 1234.75;
    int32_t t = 0;
    EXPECT_EQ(prx_time(&t), 1234);
    EXPECT_EQ(t, 1234);
    EXPECT_EQ(prx_sleep(3), 0);
    ASSERT_EQ(h->sleeps.size(), 1u);
    EXPECT_EQ(h->sleeps[0], 3000u);
    prx_srand(1);
    EXPECT_EQ(gcb->ranuni_seed, 1u);
    EXPECT_EQ(prx_rand(), static_cast<int32_t>(397204094.0 / 2147483647.0 * 32767.0));
    EXPECT_EQ(gcb->ranuni_seed, 397204094u);
    EXPECT_EQ(prx_getid(), 0);
    auto* a = static_cast<prx_tm*>(prx_localtime(nullptr, nullptr));
    auto* b = static_cast<prx_tm*>(prx_localtime(nullptr, nullptr));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(std::memcmp(a, b, sizeof *a), 0);
    EXPECT_EQ(a->mday, 1);
    EXPECT_EQ(a->mon, 1);
    EXPECT_EQ(a->year, 60);
    EXPECT_EQ(a->wday, 5);
    EXPECT_EQ(a->yday, 1);
}

// Allocations whose callers answer a failure themselves: the exhausted pool
// gives them null or nothing, the interpreter neither exits nor writes
// "Out of memory!", and the no-memory-ok flag is left as it was.
TEST_F(Foundation, FailuresAnsweredByTheCaller)
{
    PERLGCB* gcb = make_interp();
    struct Case {
        const char* what;
        std::function<bool()> failed;   // runs the call with the next allocation failing
    } cases[] = {
        {"time record", [&] { return prx_localtime(nullptr, nullptr) == nullptr; }},
        {"first captured error text", [&] { return prx_fwrite("x\n", 1, 2, PRX_STDERR) == 0 && gcb->err.len == 0; }},
        {"first captured output", [&] { return prx_fwrite("x", 1, 1, PRX_STDOUT) == 0 && gcb->out.len == 0; }},
        {"table block", [&] { return init_table_block(gcb) == 1 && !gcb->op_name_table; }},
    };
    for (const Case& c : cases) {
        for (int32_t flag : {0, 1}) {
            gcb->no_memory_ok = flag;
            h->fail.fail_next = true;
            bool failed = false;
            EXPECT_EQ(guarded(gcb, [&] { failed = c.failed(); }), 0) << c.what;
            EXPECT_TRUE(failed) << c.what;
            EXPECT_EQ(gcb->no_memory_ok, flag) << c.what;
            EXPECT_EQ(err_text(gcb), "") << c.what;
        }
    }
}

TEST_F(Foundation, FoldTable)
{
    PERLGCB* gcb = make_interp();
    rexhost_build_fold(gcb);   // no table: nothing happens
    uint8_t table[256];
    gcb->fold_table = table;
    rexhost_build_fold(gcb);
    EXPECT_EQ(table[0x61], 'A');
    EXPECT_EQ(table[0x5A], 'z');
    EXPECT_EQ(table[0x35], '5');
    EXPECT_EQ(table[0xE9], 0xE9);
    gcb->fold_table = nullptr;
}

TEST_F(Foundation, InterpreterBlockLife)
{
    PERLGCB* a = interp_alloc();
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(h->pool_creates.size(), 1u);
    EXPECT_EQ(h->pool_creates[0], (std::vector<uint32_t>{65536, 1024, 0x4004}));
    EXPECT_EQ(h->main_task()->named.at("PERLGCB"), a);
    EXPECT_EQ(a->top_env, nullptr);   // zero-filled
    EXPECT_EQ(interp_alloc(), a);
    EXPECT_EQ(h->pool_creates.size(), 1u);
    EXPECT_EQ(h->live_pools(), 1u);

    interp_free(a);
    EXPECT_EQ(h->main_task()->named.count("PERLGCB"), 0u);
    EXPECT_EQ(h->live_pools(), 0u);
    PERLGCB* b = interp_alloc();
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(h->pool_creates.size(), 2u);
    interp_free(b);

    h->fail_pool_create = true;
    EXPECT_EQ(interp_alloc(), nullptr);
    h->fail_pool_create = false;
    h->fail.fail_next = true;
    EXPECT_EQ(interp_alloc(), nullptr);
    EXPECT_EQ(h->live_pools(), 0u);
}

// Interpreters of two tasks keep apart: each task's code gets its own pool.
TEST_F(Foundation, MemoryComesFromTheCurrentTasksInterpreter)
{
    PERLGCB* a = interp_alloc();
    h->make_current(h->task(1));
    PERLGCB* b = interp_alloc();
    ASSERT_NE(a, b);
    void* block = pool_malloc(b, 32);
    EXPECT_EQ(reinterpret_cast<hostsim::Pool*>(b->pool)->live.count(block), 1u);
    EXPECT_EQ(reinterpret_cast<hostsim::Pool*>(a->pool)->live.count(block), 0u);
    pool_free(b, block);
    EXPECT_EQ(interp_of_current_task(), b);
    h->make_current(h->main_task());
    EXPECT_EQ(interp_of_current_task(), a);
}

TEST_F(Foundation, TaskGuard)
{
    host_task* main = &h->main_task()->handle;
    host_task* t1 = &h->task(1)->handle;
    TaskGuard g;

    // Already current: no switch.
    ASSERT_TRUE(task_guard_enter(main, &g));
    EXPECT_FALSE(g.switched);
    task_guard_leave(&g);
    EXPECT_TRUE(h->calls.empty() || h->calls.back().slot != 11);

    // Another task: switch to it and back.
    ASSERT_TRUE(task_guard_enter(t1, &g));
    EXPECT_TRUE(g.switched);
    EXPECT_EQ(host_task_handle(host_current_task()), t1);
    task_guard_leave(&g);
    EXPECT_EQ(host_task_handle(host_current_task()), main);

    // From a task other than the main one, back to that task.
    h->make_current(h->task(2));
    ASSERT_TRUE(task_guard_enter(main, &g));
    EXPECT_EQ(host_task_handle(host_current_task()), main);
    task_guard_leave(&g);
    EXPECT_EQ(host_task_handle(host_current_task()), &h->task(2)->handle);

    // A failed switch touches nothing.
    h->make_current(h->main_task());
    h->fail_task_switch = true;
    EXPECT_FALSE(task_guard_enter(t1, &g));
    EXPECT_FALSE(g.switched);
    EXPECT_EQ(host_task_handle(host_current_task()), main);
}

}  // namespace
