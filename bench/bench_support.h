// What the benchmarks share: timing of whole passes for their summary
// tables, and the run of the registered benchmarks.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>

// Seconds per call of pass (which answers the matches it found, left in
// *matches), measured over at least `at_least` seconds of repeated calls.
template <class Pass>
double seconds_per_pass(Pass&& pass, double at_least, int64_t* matches)
{
    auto t0 = std::chrono::steady_clock::now();
    int passes = 0;
    double elapsed = 0;
    do {
        *matches = pass();
        passes++;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    } while (elapsed < at_least);
    return elapsed / passes;
}

// Runs the registered benchmarks with the command line's options, then
// prints the summary table; the exit status of main.
inline int run_benchmarks(int argc, char** argv, void (*summary)())
{
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    summary();
    benchmark::Shutdown();
    return 0;
}
