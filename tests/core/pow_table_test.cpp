// The reference table of the power routine is what its generator makes of
// the table's own inputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(PowTable, RegeneratesToTheSameText)
{
    const char* src = std::getenv("PRX_SOURCE_DIR");
    const char* bin = std::getenv("PRX_BINARY_DIR");
    if (!src || !bin || std::system("python3 -c '' >/dev/null 2>&1") != 0 ||
        std::system("java -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no source directory given, or python3 or java is not available";
    std::string table = std::string(src) + "/tests/core/pow_table.inc";
    std::string out = std::string(bin) + "/pow_table.regenerated";
    std::string cmd = "python3 " + std::string(src) + "/scripts/gen_pow_table.py " + table + " " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string kept = read_file(table);
    std::string made = read_file(out);
    std::remove(out.c_str());
    EXPECT_TRUE(kept == made);
}

}  // namespace
