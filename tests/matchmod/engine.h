// A scripted stand-in for rexhost's entry table, bound as group 183, so that
// PRXMATCH can be driven through every outcome without the interpreter.
#pragma once

#include <string>
#include <vector>

#include "host/prxabi.h"
#include "hostsim/hostsim.h"

struct ScriptedEngine {
    rexhost_entry_table table{};
    alignas(16) PrxGcbHead interp{};
    PRXGCB bridge{};
    int32_t start_offsets[2]{};
    int32_t end_offsets[2]{};
    re_compiled pattern{};

    // What the next calls answer.
    uint32_t compile_status = 0;
    bool compile_sets_pattern = true;   // the compile leaves a compiled pattern
    bool once = false;                  // the pattern text carries the o flag
    uint32_t match_status = 0;
    int32_t match_offset = 0;
    int32_t out_after_match = 0;        // captured output length the match leaves
    int32_t err_after_match = 0;        // captured error length the match leaves

    // What the engine saw.
    std::vector<std::string> trace;     // "compile", "match", "notes", "errors", "release"
    std::string compile_text;
    std::string compile_name;
    int32_t compile_constant = -1;
    PERLGCB* match_interp = nullptr;
    const char* match_start = nullptr;
    const char* match_end = nullptr;
    const char* match_beginning = nullptr;
    std::vector<PrxCompiled*> released;
    std::vector<int32_t> released_failures;   // failure counts of the released records
    std::vector<std::string> loads;     // "id name mode" of every xkLoadModule

    void bind(hostsim::Host& h);
    int count(const std::string& what) const
    {
        int n = 0;
        for (auto& t : trace)
            n += t == what;
        return n;
    }
};
