// The fuzz target over its committed seed corpus and over the regression
// inputs (each a case that once read past the subject, answered an offset
// outside it, looped, overflowed or took minutes), as a normal test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

std::vector<std::filesystem::path> inputs(const char* sub)
{
    const char* src = std::getenv("PRX_SOURCE_DIR");
    std::filesystem::path dir = std::filesystem::path(src ? src : ".") / "tests" / "fuzz" / sub;
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file())
            files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

void replay(const char* sub, size_t at_least)
{
    std::vector<std::filesystem::path> files = inputs(sub);
    EXPECT_GE(files.size(), at_least);
    for (const auto& f : files) {
        SCOPED_TRACE(f.string());
        std::ifstream in(f, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
    }
}

TEST(FuzzReplay, Regressions) { replay("regressions", 8); }
TEST(FuzzReplay, SeedCorpus) { replay("corpus", 10); }

}  // namespace
