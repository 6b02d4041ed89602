// The fuzz targets of the pattern-text parser and of a whole PRXMATCH call
// over their committed seed corpora, as a normal test. Each replay runs in a
// child process of its own: the targets make the stand-in host afresh, which
// the engine target of this executable must not find replaced under it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fuzz_inputs.h"

extern "C" int prx_parse_fuzz_input(const uint8_t* data, size_t size);
extern "C" int prx_call_fuzz_input(const uint8_t* data, size_t size);

namespace {

// Runs every input of the directory through the target and exits 0; a fault
// aborts the child with the target's own line and the input's name above it.
[[noreturn]] void replay(const std::vector<std::filesystem::path>& files, int (*target)(const uint8_t*, size_t))
{
    for (const auto& f : files) {
        std::fprintf(stderr, "input %s\n", f.filename().c_str());
        std::string bytes = prxtest::fuzz_input_bytes(f);
        if (target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()) != 0)
            std::exit(2);
    }
    std::exit(0);
}

TEST(BridgeFuzzReplay, ParseCorpus)
{
    std::vector<std::filesystem::path> files = prxtest::fuzz_inputs("parse_corpus");
    EXPECT_GE(files.size(), 20u);
    EXPECT_EXIT(replay(files, prx_parse_fuzz_input), ::testing::ExitedWithCode(0), "");
}

TEST(BridgeFuzzReplay, CallCorpus)
{
    std::vector<std::filesystem::path> files = prxtest::fuzz_inputs("call_corpus");
    EXPECT_GE(files.size(), 15u);
    EXPECT_EXIT(replay(files, prx_call_fuzz_input), ::testing::ExitedWithCode(0), "");
}

}  // namespace
