// Shared fixture of the pattern-engine tests: a fresh host and interpreter
// block, compiling through the compile hook, and the captured trace text.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ds/src/prx.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxop.h"
#include "ds/src/prxre.h"
#include "ds/src/prxscope.h"
#include "ds/src/prxsv.h"
#include "hostsim/hostsim.h"
#include "tests/support/engine_interp.h"

extern "C" const struct TOV_Image_Information* mcn_main(void* host, void* module);

namespace prxtest {

// A pattern with its flag letters matched against a subject, and the
// groups it must set: start, end pairs; empty: no match.
struct MatchCase {
    const char* pattern;
    const char* flags;
    std::string subject;
    std::vector<int32_t> groups;
};

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        h = &hostsim::reset();
        mcn_main(&h->vec, nullptr);
        gcb = prxtest::engine_interp_new(fold);
    }
    void TearDown() override { prxtest::engine_interp_free(gcb, fold); }

    // Runs body under a jump environment; returns the code that arrived.
    int32_t guarded(const std::function<void()>& body)
    {
        JumpEnv env;
        return jump_run(gcb, &env, true, body);
    }
    // Compiles pattern with the flag letters (u: a UTF-8 pattern, matched in
    // UTF-8 mode); null when the compile jumped.
    re_compiled* compile(const std::string& pattern, const char* flags = "", int32_t* code = nullptr)
    {
        op_pattern pm{};
        for (const char* f = flags; *f; f++) {
            if (*f == 'u')
                pm.op_pmdynflags |= 0x04;
            else
                pattern_flag_add(gcb, &pm.op_pmflags, *f);
        }
        re_compiled* rx = nullptr;
        int32_t saved = gcb->savestack_ix;
        int32_t c = guarded([&] { rx = gcb->re_hook_compile(gcb, pattern.data(), pattern.data() + pattern.size(), &pm); });
        if (c)
            leave_scope(gcb, saved);  // as a catcher does: frees what the error left on the save stack
        if (code)
            *code = c;
        last_op_flags = pm.op_pmflags;
        return c ? nullptr : rx;
    }
    // Matches subject from its start; the code of a jump that left the match
    // goes to *code. Returns 1 for a match, 0 for none, -1 after a jump.
    int32_t match(re_compiled* rx, const std::string& subject, int32_t* code = nullptr)
    {
        subj = subject;
        int32_t r = 0;
        int32_t c = guarded([&] {
            r = gcb->re_hook_exec(gcb, rx, subj.data(), subj.data() + subj.size(), subj.data(), 0, nullptr, nullptr,
                                  0);
        });
        if (code)
            *code = c;
        return c ? -1 : r;
    }
    // Runs the matcher over subj from offset start, with the subject value
    // sv (or none) and the exec flags; the whole match as {start, end}, or
    // empty for no match.
    std::vector<int32_t> exec_from(re_compiled* rx, int32_t start, SV* sv, uint32_t flags)
    {
        int32_t r = -1;
        int32_t code = guarded([&] {
            r = gcb->re_hook_exec(gcb, rx, subj.data() + start, subj.data() + subj.size(), subj.data(), 0, sv, nullptr,
                                  flags);
        });
        EXPECT_EQ(code, 0) << err_text();
        if (code || r != 1)
            return {};
        return {rx->start_offsets[0], rx->end_offsets[0]};
    }
    // Checks the outcome r of a match of rx against groups, the start and
    // end offsets of each group in turn (-1, -1 for a group left unset);
    // empty groups: no match.
    void expect_groups(re_compiled* rx, int32_t r, const std::vector<int32_t>& groups)
    {
        if (groups.empty()) {
            EXPECT_EQ(r, 0);
            return;
        }
        ASSERT_EQ(r, 1) << err_text();
        std::vector<int32_t> got;
        for (size_t g = 0; g < groups.size() / 2; g++) {
            bool set = g <= rx->last_group && rx->end_offsets[g] != -1;
            got.push_back(set ? rx->start_offsets[g] : -1);
            got.push_back(set ? rx->end_offsets[g] : -1);
        }
        EXPECT_EQ(got, groups);
    }
    // Makes the regexp warnings fatal for the current statement, through cop;
    // the caller releases cop->cop_warnings.
    void make_regexp_warnings_fatal(COP* cop)
    {
        std::string bits(12, '\0');
        for (int bit : {2 * 19, 2 * 19 + 1})  // the regexp category: on, and fatal
            bits[bit / 8] = static_cast<char>(bits[bit / 8] | (1 << (bit % 8)));
        *cop = COP{};
        cop->cop_warnings = sv_new_from_bytes(gcb, bits.data(), bits.size());
        gcb->current_statement = cop;
    }
    // Captured standard error as plain text.
    std::string err_text()
    {
        std::string raw = gcb->err.len ? std::string(gcb->err.buf, static_cast<size_t>(gcb->err.len)) : "";
        if (raw.rfind("%1z", 0) == 0)
            raw.erase(0, 3);
        std::string out;
        for (size_t i = 0; i < raw.size(); i++) {
            if (raw[i] == '%' && i + 1 < raw.size()) {
                if (raw[i + 1] == 'n') {
                    out += '\n';
                    i++;
                    continue;
                }
                if (raw[i + 1] == '%') {
                    out += '%';
                    i++;
                    continue;
                }
            }
            out += raw[i];
        }
        return out;
    }
    void clear_err() { gcb->err.len = 0; }

    std::string subj;
    uint8_t fold[256] = {};
    hostsim::Host* h = nullptr;
    PERLGCB* gcb = nullptr;
    uint16_t last_op_flags = 0;
};

}  // namespace prxtest
