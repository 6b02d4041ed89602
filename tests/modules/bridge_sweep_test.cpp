// Allocation failures swept over PRXMATCH calls through the real bridge (the
// scripted-engine sweep is tests/matchmod/sweep_test.cpp): for each pattern
// and subject, the first allocation of the compiling call fails, then the
// second, and so on until the call meets no failure; the same for the match
// of a compiled pattern kept on its call site. Every run ends with the call's
// own outcome or with a no-memory outcome of its road, leaves no block behind
// once its records are released, and the next call, with memory back, gets
// the call's own outcome.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "host/prxabi.h"
#include "host/xkfunc.h"
#include "hostsim/hostsim.h"

namespace {

struct Case {
    const char* pattern;
    const char* subject;
    double result;   // the call's own result
};

// Statuses a call may end with when an allocation fails on its road: no
// memory for the record or the interpreter, a failed start or evaluation
// (error text handed over), a pattern left uncompiled.
const std::set<uint32_t> NO_MEMORY_OUTCOMES = {0x8001D811u, 0x8001D84Au, 0x0001D804u};

class BridgeSweep : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    xk_func_callback prxmatch = nullptr;
    const rexhost_entry_table* table = nullptr;
    XkFuncCall call{};
    XkValue pat{};
    XkValue src{};
    std::string pattern_text, subject_text;

    void start(const Case& c, uint8_t kind)
    {
        host = &hostsim::reset();
        hostsim::FunctionModule fm = host->load_function_module("MATCHMOD");
        ASSERT_EQ(fm.count, 1);
        prxmatch = fm.callbacks[0];
        host->load("REXHOST ");
        table = reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(host->vec.groups[183]) - 3);
        pattern_text = c.pattern;
        subject_text = c.subject;
        call = XkFuncCall{};
        call.task = &host->main_task()->handle;
        call.kind = kind;
        pat.text = pattern_text.data();
        pat.length = static_cast<int64_t>(pattern_text.size());
        src.text = subject_text.data();
        src.length = static_cast<int64_t>(subject_text.size());
        call.arg1 = &pat;
        call.arg2 = &src;
    }

    uint32_t once(double* result)
    {
        call.err_flags = 0;
        return prxmatch(&call, result, nullptr, nullptr);
    }

    static bool missing(double d)
    {
        uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return ((bits >> 52) & 0x7FF) == 0x7FF;
    }

    // Releases what the call site keeps, then checks that no pool but the
    // host's own holds a block and no interpreter is registered.
    void release_and_check(const std::string& where)
    {
        if (call.cached) {
            table->release(call.task, static_cast<PrxCompiled*>(call.cached));
            call.cached = nullptr;
        }
        hostsim::Task* t = host->main_task();
        EXPECT_EQ(t->named.count("PRXGCB") ? t->named["PRXGCB"] : nullptr, nullptr) << where;
        EXPECT_EQ(t->named.count("PERLGCB") ? t->named["PERLGCB"] : nullptr, nullptr) << where;
        for (auto& p : host->pools) {
            if (p.get() == host->host_pool_ || p->destroyed)
                continue;
            if (p.get() == reinterpret_cast<hostsim::Pool*>(t->handle.allocator)) {
                // The session record the host keeps may stay; nothing else.
                EXPECT_LE(p->live.size(), 0u) << where << " task allocator";
                continue;
            }
            EXPECT_TRUE(p->live.empty()) << where << ": pool " << p->owner << " keeps " << p->live.size()
                                         << " blocks";
        }
    }
};

const Case CASES[] = {
    {"/b/", "abc", 2},
    {"m{a+}ix", "xAAy", 2},
    {"s/(a)(b)?/\\U$1\\E!/", "ca", 2},
    {"/z/", "abc", 0},
    {"/(/", "x", -1},  // never compiles: -1 stands for the refusal outcome
};

// Compiling calls at a releasing site, one failing allocation at a time.
TEST_F(BridgeSweep, CompileAndMatchAtAReleasingSite)
{
    for (const Case& c : CASES) {
        bool completed = false;
        for (int64_t n = 0; n < 20000 && !completed; n++) {
            start(c, 'D');
            host->fail.fail_once_after = n;
            double result = 0;
            uint32_t st = once(&result);
            bool failed_alloc = host->fail.failures > 0;
            host->fail.fail_once_after = -1;
            std::string where = std::string(c.pattern) + " failing allocation " + std::to_string(n);
            if (!failed_alloc) {
                completed = true;
                if (c.result < 0)
                    EXPECT_EQ(st, 0x0001D804u) << where;
                else
                    EXPECT_EQ(result, c.result) << where;
            } else if (c.result >= 0 && st == 0 && !missing(result)) {
                EXPECT_EQ(result, c.result) << where;
            } else {
                EXPECT_TRUE(NO_MEMORY_OUTCOMES.count(st)) << where << " status " << std::hex << st;
            }
            release_and_check(where);
            // With memory back, the same call gets its own outcome.
            double again = 0;
            uint32_t st2 = once(&again);
            if (c.result < 0)
                EXPECT_EQ(st2, 0x0001D804u) << where;
            else {
                EXPECT_EQ(st2, 0u) << where;
                EXPECT_EQ(again, c.result) << where;
            }
            release_and_check(where + " (again)");
            if (HasFailure())
                return;
        }
        EXPECT_TRUE(completed) << c.pattern;
    }
}

// The match of a pattern kept on its call site, one failing allocation at a
// time: the compile has run with memory, the next call only matches.
TEST_F(BridgeSweep, MatchOfAKeptPattern)
{
    for (const Case& c : CASES) {
        if (c.result < 0)
            continue;
        bool completed = false;
        for (int64_t n = 0; n < 20000 && !completed; n++) {
            start(c, 'X');
            call.arg_flags = XKARG_CONSTANT;
            double first = 0;
            ASSERT_EQ(once(&first), 0u) << c.pattern;
            ASSERT_NE(call.cached, nullptr);
            host->fail.failures = 0;
            host->fail.fail_once_after = n;
            double result = 0;
            uint32_t st = once(&result);
            bool failed_alloc = host->fail.failures > 0;
            host->fail.fail_once_after = -1;
            std::string where = std::string(c.pattern) + " match failing allocation " + std::to_string(n);
            if (!failed_alloc) {
                completed = true;
                EXPECT_EQ(st, 0u) << where;
                EXPECT_EQ(result, c.result) << where;
            } else if (st == 0 && !missing(result)) {
                EXPECT_EQ(result, c.result) << where;
            } else {
                EXPECT_TRUE(NO_MEMORY_OUTCOMES.count(st) || st == 0x8001C80Bu) << where << " status " << std::hex << st;
            }
            double again = 0;
            EXPECT_EQ(once(&again), 0u) << where;
            EXPECT_EQ(again, c.result) << where;
            release_and_check(where);
            if (HasFailure())
                return;
        }
        EXPECT_TRUE(completed) << c.pattern;
    }
}

}  // namespace
