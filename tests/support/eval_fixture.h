// Fixture of the tests that run interpreter code: a fresh stand-in host,
// rexhost's module entry and one interpreter made through the bridge's own
// construction and parse (an empty program name, -e and 0), in which tests
// evaluate program text and read the result and $@.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ds/src/prx.h"
#include "hostsim/hostsim.h"

namespace prxtest {

// What one evaluation gave.
struct EvalResult {
    std::string value;    // the result's string ("" when undefined)
    bool defined = false; // the result was defined
    std::string error;    // $@ afterwards
    int32_t jump = 0;     // nonzero when the evaluation left by a jump (-1 the bridge's last resort)
};

class EvalTest : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    PERLGCB* gcb = nullptr;

    void SetUp() override;
    void TearDown() override;

    host_task* task() { return &host->main_task()->handle; }
    // Evaluates text as a string eval in scalar context (the call flags of
    // the eval entry: 0), under an environment of the test's own.
    EvalResult eval(const std::string& text);
    // The captured standard error and standard output, decoded.
    std::string err_text() const;
    std::string out_text() const;
    void clear_captures();
    // Whether the interpreter started (its start-up wrote no error text).
    bool started() const { return started_; }

private:
    bool started_ = false;
};

}  // namespace prxtest
