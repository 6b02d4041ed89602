// What pack and unpack keep in the interpreter between calls belongs to the
// interpreter: its destruction frees it with everything else, and leaves
// nothing of it to the pool.
#include <gtest/gtest.h>

#include "support/pool_leftovers.h"

extern "C" const struct TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

struct PackCase {
    const char* text;     // program text, evaluated once
    const char* outcome;  // what it evaluates to
};

// Each text reaches one of the things pack and unpack look up or remember:
// the bit counts of the bit-string checksums, the uudecoding values, the
// addresses "p" and "P" hand out, the long decimals of "w".
TEST(PackDestroy, DestructionLeavesNothingToThePool)
{
    const PackCase cases[] = {
        {"unpack('%32b*', 'abc')", "10"},
        {"unpack('%32B*', \"\\xFF\\x0F\") . ':' . unpack('%8b12', \"\\xFF\\xFF\")", "12:12"},
        {"unpack('u', pack('u', 'hello world'))", "hello world"},
        {"my $s = 'text'; unpack('p', pack('p', $s))", "text"},
        {"my $s = 'text'; unpack('P2', pack('P', $s))", "te"},
        {"unpack('w', pack('w', '123456789012345678901234567890'))", "123456789012345678901234567890"},
    };
    for (const PackCase& c : cases) {
        SCOPED_TRACE(c.text);
        hostsim::Host& h = hostsim::reset();
        mcn_main(&h.vec, nullptr);
        host_task* task = &h.main_task()->handle;
        PERLGCB* gcb = rexhost_interp_create(task);
        ASSERT_NE(gcb, nullptr);
        gcb->destruct_level = 2;  // destruction frees everything itself
        const char* result = rexhost_eval_text(gcb, c.text, 0);
        ASSERT_NE(result, nullptr);
        EXPECT_STREQ(result, c.outcome);
        EXPECT_EQ(prxtest::destroy_counting_leftovers(h, gcb, task), 0u);
    }
}

}  // namespace
