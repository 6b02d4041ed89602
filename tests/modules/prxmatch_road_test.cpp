// PRXMATCH end to end through both modules as the host loads them: the
// callback, the entry slots, the bridge, the interpreter and the engine.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

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

// What reaches the host for each refusal and compile failure, byte for byte:
// the status report with its inserts, the captured error text as handed over,
// the catalogue messages, and the call's own outcome.
TEST_F(Road, CompileFailureOutcomesByteForByte)
{
    auto le = [](int32_t n) { return std::string(reinterpret_cast<const char*>(&n), 4); };
    struct Case {
        const char* pattern;
        uint32_t report;                   // 0: no status report
        std::vector<std::string> inserts;  // of the report
        const char* raw;                   // the captured text handed over, or null
    };
    const Case cases[] = {
        {"", 0x80171001u, {}, nullptr},
        {"   ", 0x80171001u, {}, nullptr},
        {"1abc1", 0x8017112Cu, {"1", le(5), "1abc1"}, nullptr},
        {"/ab", 0x8017112Du, {"/", le(3), "/ab"}, nullptr},
        {"/a/g", 0x8017112Eu, {"g", le(4), "/a/g"}, nullptr},
        {"/a/z", 0x8017112Fu, {"z", le(4), "/a/z"}, nullptr},
        {"/a/zq", 0x8017113Au, {le(2), "zq", "/", le(5), "/a/zq"}, nullptr},
        {"/a$b/", 0x80171133u, {le(5), "/a$b/"}, nullptr},
        {"/@a/", 0x80171134u, {le(4), "/@a/"}, nullptr},
        {"s/a/$x/", 0x80171135u, {le(7), "s/a/$x/"}, nullptr},
        {"s/a/b@c/ ", 0x80171136u, {le(8), "s/a/b@c/"}, nullptr},
        {"s/a/${1/", 0x80171137u, {le(8), "s/a/${1/"}, nullptr},
        {"/(?{ 1 })/", 0x80171138u, {"(?{})", le(10), "/(?{ 1 })/"}, nullptr},
        {"/\\N{x}/", 0x80171139u, {le(7), "/\\N{x}/"}, nullptr},
        {"/(/", 0, {}, "%1zUnmatched ( in regex m/(/.%n"},
        {"/a{2,1}/", 0, {}, "%1zCan't do {n,m} with n > m before HERE mark in regex m/a{2,1} << HERE /.%n"},
    };
    for (const Case& c : cases) {
        host->clear_records();
        Site s = site(c.pattern, 'D');
        Outcome o = call(s, "ab");
        EXPECT_EQ(o.status, 0x0001D804u) << c.pattern;
        EXPECT_TRUE(o.missing()) << c.pattern;
        EXPECT_EQ(s.call.err_flags & XKERR_FLAGGED, XKERR_FLAGGED) << c.pattern;
        if (c.report) {
            ASSERT_EQ(host->reports.size(), 1u) << c.pattern;
            EXPECT_EQ(host->reports[0].status, c.report) << c.pattern;
            EXPECT_EQ(host->reports[0].inserts, c.inserts) << c.pattern;
        } else {
            EXPECT_TRUE(host->reports.empty()) << c.pattern;
        }
        if (c.raw) {
            ASSERT_EQ(host->lines.size(), 1u) << c.pattern;
            EXPECT_EQ(host->lines[0].raw, c.raw) << c.pattern;
            EXPECT_TRUE(host->lines[0].error) << c.pattern;
        } else {
            EXPECT_TRUE(host->lines.empty()) << c.pattern;
        }
        ASSERT_EQ(host->messages.size(), 1u) << c.pattern;
        EXPECT_EQ(host->messages[0].table, 738) << c.pattern;
        EXPECT_EQ(host->messages[0].number, 105) << c.pattern;
        EXPECT_EQ(host->messages[0].text,
                  "ERROR: The regular expression passed to the function PRXMATCH did not compile.")
            << c.pattern;
        // The failed compile held the only reference: nothing is left.
        EXPECT_FALSE(named("PRXGCB")) << c.pattern;
        EXPECT_FALSE(named("PERLGCB")) << c.pattern;
    }
}

// Two call sites of one task share one interpreter; a refused or failing
// compile at a third site leaves it to them, and the last release takes it
// down.
TEST_F(Road, TwoSitesShareTheTaskInterpreter)
{
    Site a = site("/a/", 'X', true);
    Site b = site("/b/o", 'h');
    EXPECT_EQ(call(a, "xa").result, 2);
    EXPECT_EQ(call(b, "bb").result, 1);
    ASSERT_NE(a.call.cached, nullptr);
    ASSERT_NE(b.call.cached, nullptr);
    auto* ra = static_cast<PrxCompiled*>(a.call.cached);
    auto* rb = static_cast<PrxCompiled*>(b.call.cached);
    ASSERT_NE(ra->bridge, nullptr);
    EXPECT_EQ(ra->bridge, rb->bridge);
    EXPECT_EQ(ra->bridge->refcnt, 2);
    PERLGCB* interp = ra->bridge->interp;
    Site bad = site("/(/", 'D');
    EXPECT_EQ(call(bad, "x").status, 0x0001D804u);
    Site refused = site("1x1", 'D');
    EXPECT_EQ(call(refused, "x").status, 0x0001D804u);
    Site other = site("/c/", 'D');
    EXPECT_EQ(call(other, "abc").result, 3);
    EXPECT_EQ(ra->bridge->refcnt, 2);
    EXPECT_EQ(ra->bridge->interp, interp);
    // Matches at the kept sites go on in the same interpreter.
    EXPECT_EQ(call(a, "aaa").result, 1);
    EXPECT_EQ(call(b, "ab").result, 2);

    const rexhost_entry_table* table =
        reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(host->vec.groups[183]) - 3);
    table->release(task(), ra);
    a.call.cached = nullptr;
    EXPECT_TRUE(named("PRXGCB"));
    EXPECT_TRUE(named("PERLGCB"));
    EXPECT_EQ(rb->bridge->refcnt, 1);
    table->release(task(), rb);
    b.call.cached = nullptr;
    EXPECT_FALSE(named("PRXGCB"));
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
    // No captured text and no status report on the guard's path; the
    // failure is counted.
    EXPECT_TRUE(host->lines.empty());
    EXPECT_TRUE(host->reports.empty());
    EXPECT_TRUE(host->messages.empty());
    Site next = site("/b/", 'X');
    o = call(next, "abc");
    EXPECT_EQ(o.status, 0u);
    EXPECT_EQ(o.result, 2);
    // A kept pattern whose match the guard ends counts each failure and
    // matches again afterwards in the same interpreter.
    host->clear_records();
    Site kept = site("/^(?:a|bc)*$/", 'X', true);
    for (int i = 1; i <= 5; i++) {
        o = call(kept, std::string(2000, 'a') + "x");
        EXPECT_EQ(o.status, 0x8001D84Au) << i;
        EXPECT_TRUE(o.missing()) << i;
    }
    ASSERT_NE(kept.call.cached, nullptr);
    EXPECT_EQ(static_cast<PrxCompiled*>(kept.call.cached)->failures, 5);
    EXPECT_EQ(messages(204), 1u);
    EXPECT_EQ(host->log.size(), 5u);
    o = call(kept, "abcbc");
    EXPECT_EQ(o.status, 0u);
    EXPECT_EQ(o.result, 1);
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
