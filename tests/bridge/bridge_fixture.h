// Fixture of the bridge's entry tests: a fresh stand-in host, rexhost's
// module entry, call-site records from the task's allocator, and helpers for
// the host's records.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "ds/src/prxbridge.h"
#include "ds/src/prxsv.h"
#include "hostsim/hostsim.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace bridgetest {

// The 4 bytes of a 32-bit length as the status inserts carry it.
inline std::string len4(int32_t n) { return std::string(reinterpret_cast<const char*>(&n), 4); }

class Bridge : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    std::vector<PrxCompiled*> records;

    void SetUp() override
    {
        host = &hostsim::reset();
        mcn_main(&host->vec, nullptr);
    }

    void TearDown() override
    {
        for (PrxCompiled* r : records)
            rexhost_release(task(), r);
        records.clear();
    }

    host_task* task(size_t i = 0) { return &host->task(i)->handle; }

    // A zero-filled call-site record from the task's allocator; released at
    // the end of the test unless the test releases it.
    PrxCompiled* record(size_t t = 0)
    {
        host_pool* pool = task(t)->allocator;
        auto* r = static_cast<PrxCompiled*>(pool->alloc(pool, sizeof(PrxCompiled), POOL_ALLOC_ZERO6));
        records.push_back(r);
        return r;
    }
    void forget(PrxCompiled* r) { std::erase(records, r); }

    uint32_t compile(PrxCompiled* r, const std::string& text, int32_t constant = 0, const char* name = "PRXMATCH",
                     size_t t = 0)
    {
        return rexhost_compile(r, task(t), text.data(), static_cast<int32_t>(text.size()), name, constant);
    }

    // The named block of a task, or null.
    void* named(const char* name, size_t t = 0)
    {
        void* block = nullptr;
        if (xkNamedBlockGet(task(t), 2, name, static_cast<int32_t>(std::strlen(name)), &block, 0) != 0)
            return nullptr;
        return block;
    }

    size_t count_messages(int32_t number) const
    {
        size_t n = 0;
        for (const auto& m : host->messages)
            n += m.number == number;
        return n;
    }

    std::string lines_text() const
    {
        std::string t;
        for (const auto& l : host->lines)
            t += l.text;
        return t;
    }
};

}  // namespace bridgetest
