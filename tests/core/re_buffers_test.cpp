// The buffers the pattern engine keeps in the interpreter between matches
// belong to the interpreter: its destruction frees them with everything
// else, and leaves nothing of them to the pool.
#include <gtest/gtest.h>

#include "ds/src/prx.h"
#include "ds/src/prxbridge.h"
#include "hostsim/hostsim.h"
#include "support/pool_leftovers.h"

extern "C" const struct TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

// Texts whose matches make the engine grow its buffers: the backtracking
// stack (an alternation that captures), the group starts (many groups),
// the super-linear cache (a loop that revisits its positions), and a
// compile that the optimiser leaves midway.
TEST(EngineBuffers, DestructionFreesWhatMatchesLeft)
{
    const char* const texts[] = {
        "\"b\" =~ /(a)|(b)/",
        "\"abcdefghij\" =~ /(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)|x/",
        "(\"a\" x 40) =~ /^(?:a|aa)*b/",
        "eval { \"x\" =~ /(?:abc){3}\\p{NoSuchProperty}/ }; 1",
        "my @w = (\"ab\" x 200) =~ /((a)|(b))/g; scalar @w",
    };
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        hostsim::Host& h = hostsim::reset();
        mcn_main(&h.vec, nullptr);
        host_task* task = &h.main_task()->handle;
        PERLGCB* gcb = rexhost_interp_create(task);
        ASSERT_NE(gcb, nullptr);
        gcb->destruct_level = 2;  // destruction frees everything itself
        rexhost_eval_text(gcb, text, 0);
        EXPECT_EQ(prxtest::destroy_counting_leftovers(h, gcb, task), 0u);
    }
}

}  // namespace
