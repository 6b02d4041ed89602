// Program texts with their expected values, evaluated one by one in a
// constructed interpreter. A case whose path reaches a routine still to be
// built is passed over; the test then ends as skipped, naming the routines,
// after the other cases were checked.
#pragma once

#include <initializer_list>
#include <set>
#include <string>

#include "support/eval_fixture.h"
#include "ds/src/prxbridge.h"

namespace subtest {

struct Case {
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
    // Evaluates a program; false (and the routine noted) when it waits for one.
    bool run_case(const char* program, prxtest::EvalResult* out)
    {
        clear_captures();
        *out = eval(program);
        std::string w = waiting_for(*out);
        if (w.empty())
            return true;
        waiting.insert(w);
        return false;
    }
    void check(std::initializer_list<Case> cases)
    {
        ASSERT_TRUE(started()) << err_text();
        for (const Case& c : cases) {
            prxtest::EvalResult r;
            if (!run_case(c.program, &r))
                continue;
            EXPECT_EQ(r.jump, 0) << c.program;
            EXPECT_EQ(r.defined ? r.value : std::string("<undef>"), c.value) << c.program << "\n$@: " << r.error;
        }
        finish();
    }
    // Ends the test as skipped when a case waited for a routine still to be
    // built; the cases that ran have been checked by then.
    void finish()
    {
        if (waiting.empty())
            return;
        std::string names;
        for (const std::string& w : waiting)
            names += " " + w;
        GTEST_SKIP() << "not built:" << names;
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

    std::set<std::string> waiting;
};

}  // namespace subtest
