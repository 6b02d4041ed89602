// Fixture of the program texts that once crashed the interpreter or read
// freed memory: each must answer (a value or a $@ text) and leave the
// interpreter working, which a plain text evaluated after it shows.
#pragma once

#include <initializer_list>

#include "support/eval_fixture.h"

namespace goeson {

struct Case {
    const char* text;
    const char* value;  // the result's string
    const char* error;  // $@ afterwards
};

class GoesOnTest : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started()) << err_text();
    }

    // Runs each case, then a plain text that shows the interpreter works.
    void check(std::initializer_list<Case> cases)
    {
        for (const Case& c : cases) {
            prxtest::EvalResult r = eval(c.text);
            EXPECT_EQ(r.jump, 0) << c.text;
            EXPECT_EQ(r.value, c.value) << c.text;
            EXPECT_EQ(r.error, c.error) << c.text;
            prxtest::EvalResult after = eval("my @l = sort { $b <=> $a } map { $_ * 2 } 1 .. 3; join ',', @l");
            EXPECT_EQ(after.value, "6,4,2") << "after " << c.text;
            EXPECT_EQ(after.error, "") << "after " << c.text;
        }
    }
};

}  // namespace goeson
