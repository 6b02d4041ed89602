// PRXMATCH through both modules on two threads at once, each thread running a
// host task of its own, as a host that runs tasks on threads calls it: each
// task builds, uses and takes down its own interpreter, and every call gets
// the answer it gets alone.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "host/prxabi.h"
#include "host/xkfunc.h"
#include "hostsim/hostsim.h"

namespace {

struct Case {
    const char* pattern;
    const char* source;
    double want;  // the position PRXMATCH answers
};

const Case cases[] = {
    {"/Holmes/", "Mr. Sherlock Holmes", 14},
    {"/holmes/i", "SHERLOCK HOLMES", 10},
    {"/(\\d+)-\\1/", "ab 12-12", 4},
    {"/^x/", "abc", 0},
    {"/[aeiou]{2}/", "street", 4},
};

// One call site of a task: kind 'X' with a constant argument keeps its
// compiled pattern, kind 'D' compiles and releases it on every call.
struct Site {
    XkFuncCall call{};
    XkValue pattern{};
    XkValue source{};

    Site(host_task* task, bool cached)
    {
        call.task = task;
        call.kind = cached ? 'X' : 'D';
        call.arg_flags = cached ? XKARG_CONSTANT : 0;
        call.arg1 = &pattern;
        call.arg2 = &source;
    }
    std::string one(xk_func_callback prxmatch, const Case& c)
    {
        pattern.text = c.pattern;
        pattern.length = static_cast<int64_t>(std::strlen(c.pattern));
        source.text = c.source;
        source.length = static_cast<int64_t>(std::strlen(c.source));
        call.err_flags = 0;
        double result = -1;
        uint32_t status = prxmatch(&call, &result, nullptr, nullptr);
        if (status)
            return "status " + std::to_string(status);
        return result == c.want ? "ok" : "position " + std::to_string(result);
    }
};

TEST(Threads, TwoTasksCallPrxmatchAtOnce)
{
    constexpr int ROUNDS = 40;
    hostsim::Host& h = hostsim::reset();
    hostsim::FunctionModule fm = h.load_function_module("MATCHMOD");
    ASSERT_EQ(fm.count, 1);
    xk_func_callback prxmatch = fm.callbacks[0];
    hostsim::Task* tasks[2] = {h.task(1), h.task(2)};

    h.tasks_per_thread = true;
    std::vector<std::string> failures[2];
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; i++)
        threads.emplace_back([&, i] {
            h.make_current(tasks[i]);
            Site cached(&tasks[i]->handle, true);
            for (int r = 0; r < ROUNDS; r++) {
                for (size_t k = 0; k < std::size(cases); k++) {
                    const Case& c = cases[(k + static_cast<size_t>(i)) % std::size(cases)];
                    Site releasing(&tasks[i]->handle, false);
                    std::string got = releasing.one(prxmatch, c);
                    if (got != "ok")
                        failures[i].push_back(std::string("releasing ") + c.pattern + ": " + got);
                }
                // The cached site compiles its first pattern once and keeps it.
                std::string got = cached.one(prxmatch, cases[static_cast<size_t>(i)]);
                if (got != "ok")
                    failures[i].push_back(std::string("cached: ") + got);
            }
            // Its release takes the task's interpreter down.
            using release_fn = void (*)(host_task*, PrxCompiled*);
            auto release = reinterpret_cast<release_fn>(h.vec.groups[REXHOST_GROUP][12]);
            release(&tasks[i]->handle, static_cast<PrxCompiled*>(cached.call.cached));
            cached.call.cached = nullptr;
        });
    for (std::thread& t : threads)
        t.join();
    h.tasks_per_thread = false;

    for (int i = 0; i < 2; i++) {
        SCOPED_TRACE(tasks[i]->name);
        EXPECT_EQ(failures[i], std::vector<std::string>{});
        // Each task's interpreter and bridge block were its own, and are gone.
        EXPECT_EQ(tasks[i]->named.count("PERLGCB"), 0u);
        EXPECT_EQ(tasks[i]->named.count("PRXGCB"), 0u);
        EXPECT_TRUE(tasks[i]->allocator->live.empty());
    }
    EXPECT_EQ(h.main_task()->named.count("PERLGCB"), 0u);
    EXPECT_EQ(h.live_pools(), 0u);
    h.make_current(h.main_task());
}

}  // namespace
