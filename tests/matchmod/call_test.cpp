// The PRXMATCH callback against a scripted engine: every outcome, the
// compile-status mapping, caching by call-site kind, and the id checks.
#include <cmath>
#include <cstring>

#include "engine.h"
#include "mmfixture.h"

namespace {

bool is_missing(double d)
{
    uint64_t b;
    std::memcpy(&b, &d, 8);
    return b == 0xFFFFD10000000000ull;
}

struct CallTest : MmTest {
    ScriptedEngine e;
    XkValue pat{};
    XkValue src{};
    XkFuncCall call{};
    std::string pattern_text = "/b/";
    std::string source_text = "abc";

    void SetUp() override
    {
        e = ScriptedEngine{};
        call = XkFuncCall{};
        pat = XkValue{};
        src = XkValue{};
        MmTest::SetUp();
        e.bind(*h);
        call.task = main_handle();
        call.kind = 'X';
        call.arg1 = &pat;
        call.arg2 = &src;
    }

    uint32_t run(double* result)
    {
        pat.text = pattern_text.c_str();
        pat.length = static_cast<int64_t>(pattern_text.size());
        src.text = source_text.c_str();
        src.length = static_cast<int64_t>(source_text.size());
        return prxmatch_call(&call, result, nullptr, nullptr);
    }

    std::vector<int32_t> message_numbers() const
    {
        std::vector<int32_t> out;
        for (auto& m : h->messages)
            out.push_back(m.number);
        return out;
    }
};

// The outcome table, one row per engine answer.
TEST_F(CallTest, Outcomes)
{
    struct Row {
        const char* what;
        uint32_t match_status;
        int32_t offset;
        int32_t out_len, err_len;
        uint32_t want_status;
        double want_result;   // NAN: missing
        bool reported, notes, errors, counted;
        const char* log;
    } rows[] = {
        {"match", 0, 1, 0, 0, 0, 2, false, false, false, false, nullptr},
        {"match at the start", 0, 0, 0, 0, 0, 1, false, false, false, false, nullptr},
        {"match with output", 0, 4, 5, 0, 0, 5, false, true, false, false, nullptr},
        {"clean no match", 0x8017113Bu, 0, 0, 0, 0, 0, false, false, false, false, nullptr},
        {"no match with output", 0x8017113Bu, 0, 3, 0, 0, 0, false, true, false, false, nullptr},
        {"no match with error text", 0x8017113Bu, 0, 0, 4, 0x8001D84Au, NAN, false, false, true, true, nullptr},
        {"masked no match", 0x8057113Bu, 0, 0, 0, 0x8057113Bu, 0, false, false, false, false, nullptr},
        {"other failure", 0x8001C80Bu, 0, 0, 0, 0x8001C80Bu, 0, true, false, false, true, nullptr},
        {"other failure with texts", 0x80000803u, 0, 2, 2, 0x8001D84Au, NAN, true, true, true, true, nullptr},
        {"backtracking guard", 4, 0, 2, 2, 0x8001D84Au, NAN, false, false, false, true,
         "ERROR: Catastrophic backtracking detected."},
    };
    for (const Row& r : rows) {
        SetUp();
        e.match_status = r.match_status;
        e.match_offset = r.offset;
        e.out_after_match = r.out_len;
        e.err_after_match = r.err_len;
        double result = 123;
        EXPECT_EQ(run(&result), r.want_status) << r.what;
        if (std::isnan(r.want_result))
            EXPECT_TRUE(is_missing(result)) << r.what;
        else
            EXPECT_EQ(result, r.want_result) << r.what;
        EXPECT_EQ(h->reports.size(), r.reported ? 1u : 0u) << r.what;
        if (r.reported) {
            EXPECT_EQ(h->reports[0].status, r.match_status) << r.what;
        }
        EXPECT_EQ(e.count("notes"), r.notes ? 1 : 0) << r.what;
        EXPECT_EQ(e.count("errors"), r.errors ? 1 : 0) << r.what;
        // Kind 'X' without o flag or constant: released after the call.
        ASSERT_EQ(e.released.size(), 1u) << r.what;
        EXPECT_EQ(e.released_failures[0], r.counted ? 1 : 0) << r.what;
        EXPECT_EQ(h->log, r.log ? std::vector<std::string>{r.log} : std::vector<std::string>{}) << r.what;
        EXPECT_EQ(call.err_flags, 0) << r.what;
        EXPECT_EQ(call.cached, nullptr) << r.what;
        EXPECT_EQ(h->main_task()->allocator->live.size(), 0u) << r.what;
    }
}

TEST_F(CallTest, MatchSeesTheSourceRangeAndTheInterpreter)
{
    double result;
    source_text = "xxabc";
    ASSERT_EQ(run(&result), 0u);
    EXPECT_EQ(e.match_start, source_text.c_str());
    EXPECT_EQ(e.match_beginning, source_text.c_str());
    EXPECT_EQ(e.match_end, source_text.c_str() + 5);
    EXPECT_EQ(e.match_interp, reinterpret_cast<PERLGCB*>(&e.interp));
    EXPECT_EQ(e.compile_text, "/b/");
    EXPECT_EQ(e.compile_name, "PRXMATCH");
    EXPECT_EQ(e.compile_constant, 0);
    // One load of rexhost right before the compile.
    EXPECT_EQ(e.trace, (std::vector<std::string>{"load", "compile", "match", "release"}));
    EXPECT_EQ(e.loads, std::vector<std::string>{"327863 REXHOST  2"});
}

TEST_F(CallTest, CompileStatusMapping)
{
    struct {
        uint32_t compile;
        uint32_t want;
        uint8_t flags;
    } rows[] = {
        {0x80000803u, 0x8001D811u, 0},
        {0x8001C80Bu, 0x8001D84Au, 0},
        {0x8001C803u, 0x0001D804u, 1},
        {0x80171001u, 0x8001D802u, 0},
    };
    for (auto& r : rows) {
        SetUp();
        e.compile_status = r.compile;
        e.compile_sets_pattern = false;
        double result = 0;
        EXPECT_EQ(run(&result), r.want) << std::hex << r.compile;
        EXPECT_TRUE(is_missing(result));
        EXPECT_EQ(call.err_flags, r.flags);
        EXPECT_EQ(e.trace, (std::vector<std::string>{"load", "compile", "release"}));
        // The compile counts its own failures.
        EXPECT_EQ(e.released_failures[0], 0);
    }
}

TEST_F(CallTest, NoMemoryForTheRecord)
{
    h->fail.fail_next = true;
    double result = 0;
    EXPECT_EQ(run(&result), 0x8001D811u);
    EXPECT_TRUE(is_missing(result));
    EXPECT_TRUE(e.trace.empty());
}

TEST_F(CallTest, CachingByKindOnceFlagAndConstant)
{
    struct {
        uint8_t kind;
        bool once, constant, kept;
    } rows[] = {
        {'h', true, false, true},   {'H', true, false, true},  {'X', true, false, true},
        {0x88, true, false, true},  {'X', false, true, true},  {'h', false, true, true},
        {'X', false, false, false}, {'D', true, false, false}, {'D', false, true, false},
        {'x', true, true, false},
    };
    for (auto& r : rows) {
        SetUp();
        call.kind = r.kind;
        e.once = r.once;
        call.arg_flags = r.constant ? XKARG_CONSTANT : 0;
        double result;
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(run(&result), 0u);
        EXPECT_EQ(e.count("compile"), r.kept ? 1 : 3) << int(r.kind) << r.once << r.constant;
        EXPECT_EQ(e.count("load"), e.count("compile"));
        EXPECT_EQ(e.count("release"), r.kept ? 0 : 3);
        EXPECT_EQ(call.cached != nullptr, r.kept);
        EXPECT_EQ(e.compile_constant, r.constant ? 1 : 0);
    }
}

// A cached record whose matches keep failing: message 204 once, with the
// fifth counted failure.
TEST_F(CallTest, FifthCountedFailureIssues204Once)
{
    call.arg_flags = XKARG_CONSTANT;
    e.match_status = 0x8017113Cu;
    double result;
    for (int i = 1; i <= 7; i++) {
        EXPECT_EQ(run(&result), 0x8017113Cu);
        EXPECT_EQ(message_numbers(), i < 5 ? std::vector<int32_t>{} : std::vector<int32_t>{204}) << i;
    }
    EXPECT_EQ(h->messages[0].args, std::vector<std::string>{"PRXMATCH"});
    EXPECT_EQ(static_cast<PrxCompiled*>(call.cached)->failures, 7);
    EXPECT_EQ(e.count("compile"), 1);
}

// A cached record whose compile failed is compiled again on the next call.
TEST_F(CallTest, CachedRecordWithoutPatternCompilesAgain)
{
    call.arg_flags = XKARG_CONSTANT;
    e.compile_status = 0x8001C803u;
    e.compile_sets_pattern = false;
    double result;
    EXPECT_EQ(run(&result), 0x0001D804u);
    ASSERT_NE(call.cached, nullptr);
    e.compile_status = 0;
    e.compile_sets_pattern = true;
    EXPECT_EQ(run(&result), 0u);
    EXPECT_EQ(e.count("compile"), 2);
    EXPECT_EQ(e.count("release"), 0);
}

TEST_F(CallTest, MissingPatternId)
{
    call.arg_flags = XKARG_NUMERIC;
    pat.number = NAN;
    double result = 0;
    EXPECT_EQ(prxmatch_call(&call, &result, nullptr, nullptr), 0x0001D804u);
    EXPECT_TRUE(is_missing(result));
    EXPECT_EQ(call.err_flags, 1);
    EXPECT_EQ(message_numbers(), (std::vector<int32_t>{103, 104}));
    for (auto& m : h->messages) {
        EXPECT_EQ(m.table, 738);
        EXPECT_EQ(m.args, (std::vector<std::string>{"1", "PRXMATCH"}));
        EXPECT_EQ(m.task, main_handle());
    }
    EXPECT_TRUE(h->sessions.empty());
    // The host's own missing value, and an infinity, count the same.
    uint64_t bits = 0xFFFFD10000000000ull;
    std::memcpy(&pat.number, &bits, 8);
    call.err_flags = 0;
    EXPECT_EQ(prxmatch_call(&call, &result, nullptr, nullptr), 0x0001D804u);
    pat.number = INFINITY;
    EXPECT_EQ(prxmatch_call(&call, &result, nullptr, nullptr), 0x0001D804u);
}

TEST_F(CallTest, OutOfRangeIdsDoNotCreateTheSession)
{
    call.arg_flags = XKARG_NUMERIC;
    for (double id : {0.5, 0.99, -1.0, 0.0, 2147483648.0}) {
        h->clear_records();
        pat.number = id;
        double result = 0;
        EXPECT_EQ(prxmatch_call(&call, &result, nullptr, nullptr), 0x8001D802u) << id;
        EXPECT_TRUE(is_missing(result));
        EXPECT_EQ(message_numbers(), std::vector<int32_t>{104});
        EXPECT_EQ(h->messages[0].args, (std::vector<std::string>{"1", "PRXMATCH"}));
        EXPECT_EQ(call.err_flags, 0);
        EXPECT_TRUE(h->sessions.empty());
    }
    EXPECT_TRUE(e.trace.empty());
}

}  // namespace
