// The pattern compiler: node programs, the dump, refusals and errors.
#include "re_fixture.h"

namespace {

using retest::Engine;

TEST_F(Engine, SmokeDumpOfClassRepeat)
{
    re_compiled* rx = compile("\\d+");
    ASSERT_NE(rx, nullptr) << err_text();
    EXPECT_EQ(rx->minlen, 1);
    EXPECT_EQ(rx->nparens, 0u);
    pregfree(gcb, rx);
}

}  // namespace
