// The committed inputs of the fuzz targets, as their replay tests read them.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace prxtest {

// The files of tests/fuzz/SUB in the source tree, sorted by name.
inline std::vector<std::filesystem::path> fuzz_inputs(const char* sub)
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

// The bytes of one input.
inline std::string fuzz_input_bytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace prxtest
