// Special blocks in a whole program: BEGIN while the program compiles, CHECK
// at the end of the parse, INIT before the main program, END after it, each
// queue in its own order; and what a compile error does to a later BEGIN.
#include "bridge/life_fixture.h"

#include <string>

#include "ds/src/prxcall.h"

namespace {

using bridgetest::Life;

class SubBlocks : public Life {
protected:
    // Parses and runs a program given with -e; the run's exit status, or
    // -1 when the parse failed.
    int32_t run_program(const char* program)
    {
        if (parse({"", "-e", program}) != 0)
            return -1;
        int32_t status = -1;
        EXPECT_EQ(bridge_head_run(gcb, [&] { status = interp_run(gcb); }), 0);
        return status;
    }
};

TEST_F(SubBlocks, EachQueueRunsInItsOrder)
{
    const char* program =
        "print 'r';"
        "BEGIN { print 'b1' } END { print 'e1' } INIT { print 'i1' } CHECK { print 'c1' }"
        "BEGIN { print 'b2' } END { print 'e2' } INIT { print 'i2' } CHECK { print 'c2' }"
        "print 's';";
    ASSERT_EQ(parse({"", "-e", program}), 0) << err();
    // The parse ran BEGIN blocks in source order, then CHECK blocks last
    // defined first; nothing else yet.
    EXPECT_EQ(out(), "b1b2c2c1");
    int32_t status = -1;
    ASSERT_EQ(bridge_head_run(gcb, [&] { status = interp_run(gcb); }), 0);
    EXPECT_EQ(status, 0) << err();
    EXPECT_EQ(out(), "b1b2c2c1i1i2rse2e1");
    EXPECT_EQ(err(), "");
}

TEST_F(SubBlocks, EndBlocksRunAfterExitAndSeeTheMainProgramsValues)
{
    EXPECT_EQ(run_program("$v = 'set'; END { print \"end:$v\" } exit 3; $v = 'never';"), 3) << err();
    EXPECT_EQ(out(), "end:set");
}

TEST_F(SubBlocks, SpecialBlocksLeaveTheirGlobs)
{
    ASSERT_EQ(parse({"", "-e", "BEGIN { 1 } END { 1 } 1"}), 0) << err();
    EXPECT_EQ(interp_get_sub(gcb, "main::BEGIN", 0), nullptr);
    EXPECT_EQ(interp_get_sub(gcb, "main::END", 0), nullptr);
}

TEST_F(SubBlocks, BeginAfterACompileErrorStopsCompilation)
{
    EXPECT_EQ(parse({"", "-e", "1 +; BEGIN { print 'ran' }"}), 255);
    EXPECT_EQ(out(), "");
    EXPECT_NE(err().find("BEGIN not safe after errors--compilation aborted"), std::string::npos) << err();
}

TEST_F(SubBlocks, DyingBeginStopsCompilation)
{
    EXPECT_EQ(parse({"", "-e", "BEGIN { print 'b1' } BEGIN { die \"gone\\n\" } BEGIN { print 'b3' }"}), 255);
    EXPECT_EQ(out(), "b1");
    EXPECT_NE(err().find("gone\nBEGIN failed--compilation aborted"), std::string::npos) << err();
}

}  // namespace
