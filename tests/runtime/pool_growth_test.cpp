// Texts evaluated again and again on one interpreter, through the evaluation
// entry as a host calls it: after the first rounds, every later round gives
// back each block it takes from the interpreter's pool, and a destruction at
// level 2 leaves the pool nothing of what the rounds did.
#include <gtest/gtest.h>

#include <string>

#include "ds/src/prx.h"
#include "ds/src/prxbridge.h"
#include "host/prxabi.h"
#include "hostsim/hostsim.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

struct Case {
    const char* text;
    const char* value;  // what each evaluation answers
};

class PoolGrowth : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    const rexhost_entry_table* table = nullptr;

    void SetUp() override
    {
        host = &hostsim::reset();
        host->record_calls = false;
        mcn_main(&host->vec, nullptr);
        rexhost_bind();
        ASSERT_NE(host->vec.groups[REXHOST_GROUP], nullptr);
        table = reinterpret_cast<const rexhost_entry_table*>(
            reinterpret_cast<void* const*>(host->vec.groups[REXHOST_GROUP]) - 3);
    }
    host_task* task() { return &host->main_task()->handle; }
    static hostsim::Pool* pool_of(PERLGCB* interp)
    {
        return reinterpret_cast<hostsim::Pool*>(reinterpret_cast<PrxGcbHead*>(interp)->pool);
    }
    std::string eval(PERLGCB* interp, const char* text)
    {
        const char* r = table->eval_text(interp, text, 0);
        table->report_notes(task(), interp, "GROWTH");
        table->report_errors(task(), interp, "GROWTH");
        host->clear_records();
        return r ? r : "(none)";
    }
};

TEST_F(PoolGrowth, RepeatedTextsGiveBackWhatTheyTake)
{
    const Case cases[] = {
        // Stores into %ENV and deletes from it, plain and localized.
        {"$ENV{PRX_GROWTH} = 'abc'; 1", "1"},
        {"{ local $ENV{PRX_GROWTH} = 'def'; } 2", "2"},
        {"delete $ENV{PRX_GROWTH}; 3", "3"},
        {"{ local %ENV = (A => 1, B => 2); } 4", "4"},
        // A loop variable that is no glob dies.
        {"eval { foreach my$$i (1, 2) { } }; $@", "Can't use an undefined value as a symbol reference.\n"},
    };
    for (const Case& c : cases) {
        PERLGCB* interp = table->interp_create(task());
        ASSERT_NE(interp, nullptr);
        hostsim::Pool* pool = pool_of(interp);
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(eval(interp, c.text), c.value) << c.text;
        size_t blocks = pool->live.size();
        for (int i = 0; i < 20; i++)
            eval(interp, c.text);
        EXPECT_EQ(pool->live.size(), blocks) << c.text;
        table->interp_destroy(interp, task());
    }
}

}  // namespace
