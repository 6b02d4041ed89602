// The fuzz target over its committed seed corpus and over the regression
// inputs (each a case that once read past the subject, answered an offset
// outside it, looped, overflowed or took minutes), as a normal test.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fuzz_inputs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

void replay(const char* sub, size_t at_least)
{
    std::vector<std::filesystem::path> files = prxtest::fuzz_inputs(sub);
    EXPECT_GE(files.size(), at_least);
    for (const auto& f : files) {
        SCOPED_TRACE(f.string());
        std::string bytes = prxtest::fuzz_input_bytes(f);
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
    }
}

TEST(FuzzReplay, Regressions) { replay("regressions", 8); }
TEST(FuzzReplay, SeedCorpus) { replay("corpus", 10); }

}  // namespace
