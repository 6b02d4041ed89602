// Program texts with their expected values, evaluated one by one in a
// constructed interpreter. Every path they take is built: a "panic: not
// built" anywhere fails the case.
#pragma once

#include <initializer_list>
#include <string>

#include "support/eval_fixture.h"
#include "ds/src/prxbridge.h"

namespace runtime {

struct SubCase {
    const char* program;
    const char* value;   // the value's string; "<undef>" for the undefined value
};

class SubEval : public prxtest::EvalTest {
protected:
    // The routine a "panic: not built" names in $@, in the value (a program
    // that returns an inner $@) or on standard error, or "".
    std::string waiting_for(const prxtest::EvalResult& r) const
    {
        static const std::string mark = "panic: not built: ";
        for (const std::string& text : {r.error, r.value, err_text()}) {
            size_t p = text.find(mark);
            if (p == std::string::npos)
                continue;
            size_t b = p + mark.size();
            return text.substr(b, text.find_first_of(".\n ", b) - b);
        }
        return "";
    }
    // Evaluates a program with the captures cleared first.
    prxtest::EvalResult run_case(const char* program)
    {
        clear_captures();
        prxtest::EvalResult r = eval(program);
        EXPECT_EQ(waiting_for(r), "") << program;
        return r;
    }
    void check(std::initializer_list<SubCase> cases)
    {
        ASSERT_TRUE(started()) << err_text();
        for (const SubCase& c : cases) {
            prxtest::EvalResult r = run_case(c.program);
            EXPECT_EQ(r.jump, 0) << c.program;
            EXPECT_EQ(r.defined ? r.value : std::string("<undef>"), c.value) << c.program << "\n$@: " << r.error;
        }
    }

    // Runs native code under the bridge's guard and an environment of its
    // own; the jump code that ended it, 0 when it returned.
    template <class Body>
    int32_t run_guarded(Body&& body)
    {
        int32_t code = 0;
        int32_t head = bridge_head_run(gcb, [&] {
            JumpEnv env;
            code = jump_run(gcb, &env, true, body);
        });
        return head ? head : code;
    }
};

}  // namespace runtime
