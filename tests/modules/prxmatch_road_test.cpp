// PRXMATCH end to end through both modules as the host loads them: the
// callback, the entry slots, the bridge, the interpreter and the engine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "host/prxabi.h"
#include "host/xkfunc.h"
#include "hostsim/hostsim.h"

namespace {

struct Outcome {
    uint32_t status;
    double result;
    bool missing() const
    {
        uint64_t bits;
        std::memcpy(&bits, &result, sizeof bits);
        return ((bits >> 52) & 0x7FF) == 0x7FF;
    }
};

class Road : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    xk_func_callback prxmatch = nullptr;

    void SetUp() override
    {
        host = &hostsim::reset();
        hostsim::FunctionModule fm = host->load_function_module("MATCHMOD");
        ASSERT_EQ(fm.count, 1);
        prxmatch = fm.callbacks[0];
        host->clear_records();
    }

    // One call site.
    struct Site {
        XkFuncCall call{};
        XkValue pattern{};
        XkValue source{};
        std::string text;
    };
    Site site(const std::string& pattern, uint8_t kind, bool constant = false)
    {
        Site s;
        s.text = pattern;
        s.call.task = task();
        s.call.kind = kind;
        s.call.arg_flags = constant ? XKARG_CONSTANT : 0;
        return s;
    }
    Outcome call(Site& s, const std::string& source)
    {
        s.pattern.text = s.text.data();
        s.pattern.length = static_cast<int64_t>(s.text.size());
        s.source.text = source.data();
        s.source.length = static_cast<int64_t>(source.size());
        s.call.arg1 = &s.pattern;
        s.call.arg2 = &s.source;
        s.call.err_flags = 0;
        Outcome o{0, 0};
        o.status = prxmatch(&s.call, &o.result, nullptr, nullptr);
        return o;
    }
    host_task* task() { return &host->main_task()->handle; }
    bool named(const char* name)
    {
        void* b = nullptr;
        return host->main_task()->named.count(name) && host->main_task()->named[name] != b;
    }
    size_t messages(int32_t number) const
    {
        size_t n = 0;
        for (const auto& m : host->messages)
            n += m.number == number;
        return n;
    }
    std::string lines() const
    {
        std::string t;
        for (const auto& l : host->lines)
            t += l.text;
        return t;
    }
};

TEST_F(Road, MatchesAndNoMatches)
{
    struct Case {
        const char* pattern;
        std::string source;
        double result;
    };
    const Case cases[] = {
        {"/b/", "abc", 2}, {"/z/", "abc", 0}, {"m{a+}ix", "xAAy", 2}, {"  m /a/  ", "ba", 2}, {"//", "", 1},
        {"/a$/", "cba", 3}, {"'a$'", "cba", 3}, {"s/(b)/[$1]/", "abc", 2},
    };
    for (const Case& c : cases) {
        Site s = site(c.pattern, 'D');
        Outcome o = call(s, c.source);
        EXPECT_EQ(o.status, 0u) << c.pattern;
        EXPECT_EQ(o.result, c.result) << c.pattern;
        // A releasing site leaves nothing on the task.
        EXPECT_EQ(s.call.cached, nullptr) << c.pattern;
        EXPECT_FALSE(named("PRXGCB")) << c.pattern;
        EXPECT_FALSE(named("PERLGCB")) << c.pattern;
    }
    EXPECT_TRUE(host->reports.empty());
    EXPECT_TRUE(host->messages.empty());
}

TEST_F(Road, RefusalsAndCompileFailures)
{
    Site empty = site("", 'D');
    Outcome o = call(empty, "x");
    EXPECT_EQ(o.status, 0x0001D804u);
    EXPECT_TRUE(o.missing());
    EXPECT_EQ(empty.call.err_flags & XKERR_FLAGGED, XKERR_FLAGGED);
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].status, 0x80171001u);
    EXPECT_EQ(messages(105), 1u);

    host->clear_records();
    Site delim = site("1abc1", 'D');
    o = call(delim, "x");
    EXPECT_EQ(o.status, 0x0001D804u);
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].status, 0x8017112Cu);
    int32_t len = 5;
    std::vector<std::string> want = {"1", std::string(reinterpret_cast<char*>(&len), 4), "1abc1"};
    EXPECT_EQ(host->reports[0].inserts, want);

    host->clear_records();
    Site bad = site("/(/", 'D');
    o = call(bad, "x");
    EXPECT_EQ(o.status, 0x0001D804u);
    EXPECT_TRUE(host->reports.empty());
    EXPECT_EQ(messages(105), 1u);
    EXPECT_NE(lines().find("Unmatched ("), std::string::npos) << lines();
    EXPECT_FALSE(named("PERLGCB"));
}

TEST_F(Road, BacktrackingGuardThenTheNextCall)
{
    Site s = site("/^(?:a|bc)*$/", 'X');
    Outcome o = call(s, std::string(2000, 'a') + "x");
    EXPECT_EQ(o.status, 0x8001D84Au);
    EXPECT_TRUE(o.missing());
    size_t guard_lines = 0;
    for (const std::string& l : host->log)
        guard_lines += l == "ERROR: Catastrophic backtracking detected.";
    EXPECT_EQ(guard_lines, 1u);
    Site next = site("/b/", 'X');
    o = call(next, "abc");
    EXPECT_EQ(o.status, 0u);
    EXPECT_EQ(o.result, 2);
}

// The o flag keeps the record at a caching kind: one compile, one load.
TEST_F(Road, OnceFlagCachesAtKindXNotAtKindD)
{
    Site x = site("/b/o", 'X');
    EXPECT_EQ(call(x, "abc").result, 2);
    ASSERT_NE(x.call.cached, nullptr);
    void* first = x.call.cached;
    EXPECT_EQ(call(x, "bcd").result, 1);
    EXPECT_EQ(x.call.cached, first);
    EXPECT_EQ(host->loads.size(), 1u);
    EXPECT_TRUE(named("PRXGCB"));

    host->clear_records();
    Site d = site("/b/o", 'D');
    EXPECT_EQ(call(d, "abc").result, 2);
    EXPECT_EQ(call(d, "abc").result, 2);
    EXPECT_EQ(d.call.cached, nullptr);
    EXPECT_EQ(host->loads.size(), 2u);

    host->clear_records();
    Site plain = site("/b/", 'X');  // no o flag, not constant: released
    EXPECT_EQ(call(plain, "abc").result, 2);
    EXPECT_EQ(plain.call.cached, nullptr);
}

// Failures of a caching site are counted; the fifth issues message 204 and
// then the site goes quiet.
TEST_F(Road, FifthFailureOfACachingSite)
{
    Site s = site("/(/", 'X', true);
    for (int i = 1; i <= 5; i++) {
        Outcome o = call(s, "x");
        EXPECT_EQ(o.status, 0x0001D804u) << i;
        EXPECT_EQ(messages(204), i == 5 ? 1u : 0u) << i;
        EXPECT_EQ(messages(105), static_cast<size_t>(i)) << i;
    }
    ASSERT_NE(s.call.cached, nullptr);
    EXPECT_EQ(static_cast<PrxCompiled*>(s.call.cached)->failures, 5);
    host->clear_records();
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(call(s, "x").status, 0x0001D804u);
    EXPECT_TRUE(host->messages.empty());
    EXPECT_TRUE(host->reports.empty());
    EXPECT_TRUE(host->lines.empty());
    EXPECT_EQ(host->loads.size(), 3u);  // asked before every compile
}

}  // namespace
