// Tables of program texts evaluated whole through the interpreter, each with
// the exact string of its result or the beginning of the error it raises.
#pragma once

#include <string>

#include "support/eval_fixture.h"

namespace runtime {

struct TextCase {
    const char* text;
    const char* want;   // the result's string, or the error's first text
};

class TextTable : public prxtest::EvalTest {
protected:
    template <size_t N>
    void expect_all(const TextCase (&cases)[N])
    {
        for (const TextCase& c : cases) {
            prxtest::EvalResult r = eval(c.text);
            EXPECT_EQ(r.error, "") << c.text;
            EXPECT_EQ(r.value, c.want) << c.text;
        }
    }
    template <size_t N>
    void expect_errors(const TextCase (&cases)[N])
    {
        for (const TextCase& c : cases) {
            prxtest::EvalResult r = eval(c.text);
            EXPECT_FALSE(r.defined) << c.text;
            EXPECT_EQ(r.error.substr(0, std::string(c.want).size()), c.want) << c.text << " / " << r.error;
        }
    }
};

}  // namespace runtime
