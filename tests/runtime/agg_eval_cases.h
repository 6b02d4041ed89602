// Tables of program texts evaluated whole through the interpreter, each with
// the exact string of its result or the beginning of the error it raises.
// A case whose evaluation stops at a routine still waiting to be built is
// passed over with a note; the others are checked.
#pragma once

#include <string>
#include <vector>

#include "support/eval_fixture.h"

namespace text_eval {

struct Case {
    const char* text;
    const char* want;   // the result's string, or the error's first text
};

class Table : public prxtest::EvalTest {
protected:
    std::vector<std::string> waiting;   // routines cases stopped at

    // The routine a result stopped at, or "".
    std::string stopped_at(const prxtest::EvalResult& r)
    {
        const std::string mark = "panic: not built: ";
        size_t p = r.error.find(mark);
        if (p == std::string::npos)
            return pending();
        size_t b = p + mark.size();
        return r.error.substr(b, r.error.find_first_of(".\n ", b) - b);
    }
    bool note_pending(const prxtest::EvalResult& r, const char* text)
    {
        std::string name = stopped_at(r);
        if (name.empty())
            return false;
        waiting.push_back(name);
        std::printf("  [pending %s] %s\n", name.c_str(), text);
        clear_captures();
        return true;
    }
    template <size_t N>
    void expect_all(const Case (&cases)[N])
    {
        for (const Case& c : cases) {
            prxtest::EvalResult r = eval(c.text);
            if (note_pending(r, c.text))
                continue;
            EXPECT_EQ(r.error, "") << c.text;
            EXPECT_EQ(r.value, c.want) << c.text;
        }
        finish(N);
    }
    template <size_t N>
    void expect_errors(const Case (&cases)[N])
    {
        for (const Case& c : cases) {
            prxtest::EvalResult r = eval(c.text);
            if (note_pending(r, c.text))
                continue;
            EXPECT_FALSE(r.defined) << c.text;
            EXPECT_EQ(r.error.substr(0, std::string(c.want).size()), c.want) << c.text << " / " << r.error;
        }
        finish(N);
    }
    // A table whose every case waits is skipped as a whole.
    void finish(size_t n)
    {
        if (waiting.size() == n)
            GTEST_SKIP() << "every case waits on " << waiting[0];
        waiting.clear();
    }
};

}  // namespace text_eval
