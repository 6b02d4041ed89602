// Shared fixture of matchmod's tests: a fresh stand-in host and matchmod's
// module entry run against it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/modrec.h"
#include "hostsim/hostsim.h"
#include "hostsim/toolkit.h"
#include "matchmod/mm.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

struct MmTest : ::testing::Test {
    hostsim::Host* h = nullptr;
    hostsim::Toolkit* tk = nullptr;

    void SetUp() override
    {
        h = &hostsim::reset();
        tk = &h->tk();
        mcn_main(&h->vec, nullptr);
    }

    host_task* main_handle() { return &h->main_task()->handle; }

    // Texts of the log object's records.
    std::vector<std::string> print_texts(int level = -1) const
    {
        std::vector<std::string> out;
        for (auto& p : tk->prints)
            if (level < 0 || p.level == level)
                out.push_back(p.text);
        return out;
    }
    std::vector<uint32_t> message_codes() const
    {
        std::vector<uint32_t> out;
        for (auto& m : tk->messages)
            out.push_back(m.code);
        return out;
    }
};

inline std::u16string u16(const std::string& s) { return hostsim::to_u16(s); }
inline std::string u8(const std::u16string& s) { return hostsim::to_utf8(s); }
