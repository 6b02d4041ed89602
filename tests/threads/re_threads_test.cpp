// Compiles and matches on several threads at once, each thread with a host
// task and an interpreter of its own, as a host that runs tasks on threads
// calls the engine: every thread gets the answers one thread alone gets.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "ds/src/prx.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxop.h"
#include "ds/src/prxre.h"
#include "hostsim/hostsim.h"
#include "tests/support/engine_interp.h"

extern "C" const struct TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

struct Case {
    const char* pattern;
    const char* flags;
    std::string subject;
};

const std::vector<Case>& cases()
{
    static const std::vector<Case> c = {
        {"Sherlock|Holmes|Watson", "", "Mr. Holmes and Dr. Watson"},
        {"(?i)sherlock\\s+holmes", "", "SHERLOCK   holmes"},
        {"^(\\w+)\\s+\\1$", "m", "x\nhello hello\ny"},
        {"(?<=a)b(?!c)", "", "abcab"},
        {"(a|ab)(c|bcd)(d*)", "", "abcd"},
        {"(x+x+)+y", "", std::string(4000, 'x')},   // the work guard trips
        {"^(a|ab)*$", "", std::string(3000, 'a')},  // the nesting guard trips
        {"[[:alpha:]]{2,}?z", "", "ab z abz"},
        {"\\x{263A}.", "u", "a\xE2\x98\xBA\xC3\xA9"},
        {"(.)\\1", "u", "\xC3\xA9\xC3\xA9\xFF"},
        {".b.", "u", "a\x80" "ba"},
    };
    return c;
}

// "start end", "none", or "jump CODE" for one compile and match.
std::string run(PERLGCB* gcb, const Case& c)
{
    op_pattern pm{};
    for (const char* f = c.flags; *f; f++) {
        if (*f == 'u')
            pm.op_pmdynflags |= 0x04;
        else
            pattern_flag_add(gcb, &pm.op_pmflags, *f);
    }
    std::string p = c.pattern;
    re_compiled* rx = nullptr;
    JumpEnv env;
    int32_t code = jump_run(gcb, &env, true, [&] { rx = gcb->re_hook_compile(gcb, p.data(), p.data() + p.size(), &pm); });
    if (code || !rx)
        return "compile " + std::to_string(code);
    gcb->multiline = std::string(c.flags).find('m') != std::string::npos;
    int32_t found = 0;
    const std::string& s = c.subject;
    code = jump_run(gcb, &env, true, [&] {
        found = gcb->re_hook_exec(gcb, rx, s.data(), s.data() + s.size(), s.data(), 0, nullptr, nullptr, 0);
    });
    gcb->multiline = 0;
    gcb->err.len = 0;
    std::string out = code ? "jump " + std::to_string(code)
                    : found ? std::to_string(rx->start_offsets[0]) + " " + std::to_string(rx->end_offsets[0])
                            : "none";
    gcb->re_hook_free(gcb, rx);
    return out;
}

TEST(Threads, EachTaskMatchesAsAlone)
{
    constexpr int THREADS = 4;
    constexpr int ROUNDS = 6;
    hostsim::Host& h = hostsim::reset();
    mcn_main(&h.vec, nullptr);
    // One task and one interpreter per thread, made before the threads run.
    std::vector<hostsim::Task*> tasks;
    std::vector<PERLGCB*> interps;
    std::vector<std::vector<uint8_t>> folds(THREADS, std::vector<uint8_t>(256));
    for (int i = 0; i < THREADS; i++) {
        tasks.push_back(h.add_task("WORKER" + std::to_string(i)));
        h.make_current(tasks.back());
        PERLGCB* gcb = prxtest::engine_interp_new(folds[i].data());
        ASSERT_NE(gcb, nullptr);
        interps.push_back(gcb);
    }
    // The answers of one thread alone.
    std::vector<std::string> want;
    for (const Case& c : cases())
        want.push_back(run(interps[0], c));
    EXPECT_EQ(want[5], "jump 4");
    EXPECT_EQ(want[6], "jump 4");

    h.tasks_per_thread = true;
    std::vector<std::vector<std::string>> got(THREADS);
    std::vector<std::thread> threads;
    for (int i = 0; i < THREADS; i++)
        threads.emplace_back([&, i] {
            h.make_current(tasks[i]);
            for (int r = 0; r < ROUNDS; r++)
                for (size_t k = 0; k < cases().size(); k++)
                    got[i].push_back(run(interps[i], cases()[(k + static_cast<size_t>(i)) % cases().size()]));
        });
    for (std::thread& t : threads)
        t.join();
    h.tasks_per_thread = false;

    for (int i = 0; i < THREADS; i++) {
        SCOPED_TRACE(i);
        ASSERT_EQ(got[i].size(), ROUNDS * cases().size());
        for (size_t j = 0; j < got[i].size(); j++)
            EXPECT_EQ(got[i][j], want[(j + static_cast<size_t>(i)) % cases().size()]) << cases()[(j + i) % cases().size()].pattern;
    }
    EXPECT_EQ(*re_depth_counter(), 0);
    for (int i = 0; i < THREADS; i++) {
        h.make_current(tasks[i]);
        prxtest::engine_interp_free(interps[i], folds[i].data());
    }
    h.make_current(h.main_task());
}

}  // namespace
