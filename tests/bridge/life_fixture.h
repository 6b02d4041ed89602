// Fixture of the interpreter-life tests: a fresh stand-in host and an
// interpreter block with its tables, constructed but not parsed, plus
// helpers to parse command lines and read captured text.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ds/src/prxav.h"
#include "ds/src/prxbridge.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxperl.h"
#include "ds/src/prxsv.h"
#include "ds/src/prxtbl.h"
#include "hostsim/hostsim.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace bridgetest {

inline std::string decoded(const prx_capture& c)
{
    if (c.len <= 0)
        return "";
    bool error = false;
    return hostsim::Host::decode_lines(std::string(c.buf, c.len), &error);
}

class Life : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    PERLGCB* gcb = nullptr;

    void SetUp() override
    {
        host = &hostsim::reset();
        mcn_main(&host->vec, nullptr);
        gcb = interp_alloc();
        ASSERT_NE(gcb, nullptr);
        ASSERT_EQ(init_table_block(gcb), 0u);
        rexhost_build_fold(gcb);
        ASSERT_EQ(bridge_head_run(gcb, [&] { interp_construct(gcb); }), 0);
    }

    void TearDown() override
    {
        if (gcb) {
            bridge_head_run(gcb, [&] { interp_destruct(gcb); });
            interp_free(gcb);
        }
    }

    // Parses a command line (the program name first) under the bridge's
    // guards; the parse's result, or the head's code when a jump ended there.
    int32_t parse(std::vector<std::string> args)
    {
        argv_text = std::move(args);
        argv.clear();
        for (std::string& a : argv_text)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int32_t result = 0;
        int32_t head = bridge_head_run(gcb, [&] {
            JumpEnv env;
            jump_run(gcb, &env, true, [&] {
                result = interp_parse(gcb, nullptr, static_cast<int32_t>(argv_text.size()), argv.data(), nullptr);
            });
        });
        return head ? head : result;
    }

    std::string err() const { return decoded(gcb->err); }
    std::string out() const { return decoded(gcb->out); }

    // The strings of an array.
    std::vector<std::string> strings(AV* av)
    {
        std::vector<std::string> v;
        if (!av)
            return v;
        for (int32_t i = 0; i <= av_highest_index(gcb, av); i++) {
            SV** e = av_fetch_element(gcb, av, i, 0);
            uint64_t len = 0;
            const char* p = e && *e ? sv_text(gcb, *e, &len) : "";
            v.emplace_back(p, len);
        }
        return v;
    }

private:
    std::vector<std::string> argv_text;
    std::vector<char*> argv;
};

}  // namespace bridgetest
