// The program-text fuzz target over its committed seed corpus and its
// regression inputs, as a normal test. Each replay runs in a child process of
// its own, since the target makes the stand-in host afresh. The regression
// inputs each get an interpreter of their own, destroyed and checked after
// it; the seeds run as the fuzzer runs them, several to an interpreter.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fuzz_inputs.h"

extern "C" int prx_eval_fuzz_input(const uint8_t* data, size_t size);
extern "C" void prx_eval_fuzz_finish();

namespace {

// Runs every input through the target, destroys the last interpreter and
// exits 0; a fault aborts the child with the target's own line and the
// input's name above it.
[[noreturn]] void replay(const std::vector<std::filesystem::path>& files, const char* every)
{
    setenv("PRX_EVAL_FUZZ_EVERY", every, 1);
    for (const auto& f : files) {
        std::fprintf(stderr, "input %s\n", f.filename().c_str());
        std::string bytes = prxtest::fuzz_input_bytes(f);
        if (prx_eval_fuzz_input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) != 0)
            std::exit(2);
    }
    prx_eval_fuzz_finish();
    std::exit(0);
}

TEST(EvalFuzzReplay, SeedCorpus)
{
    std::vector<std::filesystem::path> files = prxtest::fuzz_inputs("eval_corpus");
    EXPECT_GE(files.size(), 200u);
    EXPECT_EXIT(replay(files, "16"), ::testing::ExitedWithCode(0), "");
}

TEST(EvalFuzzReplay, Regressions)
{
    std::vector<std::filesystem::path> files = prxtest::fuzz_inputs("eval_regressions");
    EXPECT_GE(files.size(), 5u);
    EXPECT_EXIT(replay(files, "1"), ::testing::ExitedWithCode(0), "");
}

}  // namespace
