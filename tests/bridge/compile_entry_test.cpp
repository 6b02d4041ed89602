// The compile and release entries: the task's bridge block and its count,
// one interpreter shared by the call sites of a task, failure counting, and
// what a failed start leaves behind.
#include "bridge_fixture.h"
#include "ds/src/prxre.h"

namespace {

using bridgetest::Bridge;

TEST_F(Bridge, TwoCallSitesShareOneInterpreter)
{
    PrxCompiled* a = record();
    PrxCompiled* b = record();
    ASSERT_EQ(compile(a, "/a/"), 0u);
    ASSERT_EQ(compile(b, "/b/i"), 0u);
    auto* block = static_cast<PRXGCB*>(named("PRXGCB"));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->refcnt, 2);
    EXPECT_EQ(a->bridge, block);
    EXPECT_EQ(b->bridge, block);
    EXPECT_EQ(a->last_status, 0x8017113Bu);
    ASSERT_NE(a->pattern, nullptr);
    EXPECT_EQ(named("PERLGCB"), block->interp);
    size_t pools = host->live_pools();

    forget(a);
    rexhost_release(task(), a);
    EXPECT_EQ(block->refcnt, 1);
    EXPECT_NE(named("PERLGCB"), nullptr);
    EXPECT_EQ(host->live_pools(), pools);

    forget(b);
    rexhost_release(task(), b);
    EXPECT_EQ(named("PRXGCB"), nullptr);
    EXPECT_EQ(named("PERLGCB"), nullptr);
    EXPECT_EQ(host->live_pools(), pools - 1);  // the interpreter's pool went with it
    hostsim::Pool* alloc = reinterpret_cast<hostsim::Pool*>(task()->allocator);
    EXPECT_TRUE(alloc->live.empty());  // records and the bridge block are back
}

TEST_F(Bridge, TasksHaveTheirOwnInterpreters)
{
    host->add_task("second");
    PrxCompiled* a = record(0);
    PrxCompiled* b = record(1);
    ASSERT_EQ(compile(a, "/a/", 0, "PRXMATCH", 0), 0u);
    ASSERT_EQ(compile(b, "/a/", 0, "PRXMATCH", 1), 0u);
    EXPECT_NE(a->bridge, b->bridge);
    EXPECT_NE(a->bridge->interp, b->bridge->interp);
    EXPECT_EQ(named("PERLGCB", 1), b->bridge->interp);
    forget(b);
    rexhost_release(task(1), b);
    EXPECT_EQ(named("PERLGCB", 1), nullptr);
    EXPECT_NE(named("PERLGCB", 0), nullptr);
}

// A pattern that fails to compile in a fresh task takes down the
// interpreter it made; the refusal's status is reported, then message 105.
TEST_F(Bridge, FailedCompilesReportAndLeaveNothing)
{
    PrxCompiled* r = record();
    EXPECT_EQ(compile(r, "1abc1"), 0x8001C803u);
    ASSERT_EQ(host->reports.size(), 1u);
    EXPECT_EQ(host->reports[0].status, 0x8017112Cu);
    EXPECT_EQ(host->reports[0].inserts.size(), 3u);
    EXPECT_EQ(count_messages(105), 1u);
    EXPECT_EQ(r->bridge, nullptr);
    EXPECT_EQ(r->pattern, nullptr);
    EXPECT_EQ(r->failures, 1);
    EXPECT_EQ(named("PRXGCB"), nullptr);
    EXPECT_EQ(named("PERLGCB"), nullptr);

    // An uncompilable pattern: no report, its text handed over, message 105.
    host->clear_records();
    EXPECT_EQ(compile(r, "/(/"), 0x8001C803u);
    EXPECT_TRUE(host->reports.empty());
    EXPECT_EQ(count_messages(105), 1u);
    EXPECT_NE(lines_text().find("Unmatched ("), std::string::npos) << lines_text();
    EXPECT_EQ(r->failures, 2);
}

// A null name compiles all the same but hands nothing to the host.
TEST_F(Bridge, NullNameHandsNothingOver)
{
    PrxCompiled* r = record();
    EXPECT_EQ(compile(r, "/(/", 0, nullptr), 0x8001C803u);
    EXPECT_TRUE(host->lines.empty());
    PrxCompiled* ok = record();
    EXPECT_EQ(compile(ok, "/a/", 0, nullptr), 0u);
    EXPECT_NE(ok->pattern, nullptr);
}

// Five failures of a constant call site: message 204 with the fifth; from
// then on it fails at once, without a parse and without reports.
TEST_F(Bridge, ConstantCallSiteGivesUpAfterFiveFailures)
{
    PrxCompiled* r = record();
    for (int i = 1; i <= 5; i++) {
        EXPECT_EQ(compile(r, "", 1), 0x8001C803u);
        EXPECT_EQ(r->failures, i);
        EXPECT_EQ(count_messages(204), i == 5 ? 1u : 0u);
        EXPECT_EQ(count_messages(105), static_cast<size_t>(i));
    }
    host->clear_records();
    EXPECT_EQ(compile(r, "/a/", 1), 0x8001C803u);  // a good text is not even tried
    EXPECT_EQ(r->pattern, nullptr);
    EXPECT_TRUE(host->messages.empty());
    EXPECT_TRUE(host->reports.empty());
    EXPECT_EQ(r->failures, 6);
    EXPECT_EQ(named("PERLGCB"), nullptr);

    // A site that is not constant is tried again, quietly.
    PrxCompiled* other = record();
    other->failures = 5;
    EXPECT_EQ(compile(other, "/(/"), 0x8001C803u);
    EXPECT_TRUE(host->messages.empty());
    EXPECT_TRUE(host->lines.empty());
    EXPECT_EQ(compile(other, "/a/"), 0u);
}

// A failed start-up destroys the interpreter and frees its bridge block: a
// retry does not leave one more interpreter in the pools each time.
TEST_F(Bridge, FailedStartUpLeavesNothingBehind)
{
    size_t pools = host->live_pools();
    hostsim::Pool* alloc = reinterpret_cast<hostsim::Pool*>(task()->allocator);
    // Find an allocation count at which the start-up fails with error text.
    int found = 0;
    for (int n = 1; n < 4000 && !found; n++) {
        PrxCompiled* r = record();
        host->fail.fail_once_after = n;
        uint32_t st = compile(r, "/a/");
        host->fail.fail_once_after = -1;
        if (st == 0x8001C80Bu)
            found = n;
        forget(r);
        rexhost_release(task(), r);
        ASSERT_EQ(named("PRXGCB"), nullptr) << n;
        ASSERT_EQ(named("PERLGCB"), nullptr) << n;
        ASSERT_EQ(host->live_pools(), pools) << n;
        ASSERT_TRUE(alloc->live.empty()) << n;
        if (st == 0 && host->fail.failures == 0)
            break;
        host->fail.failures = 0;
    }
    ASSERT_NE(found, 0) << "no start-up failure was met";
    host->clear_records();
    PrxCompiled* r = record();
    host->fail.fail_once_after = found;
    EXPECT_EQ(compile(r, "/a/"), 0x8001C80Bu);
    host->fail.fail_once_after = -1;
    EXPECT_NE(lines_text().find("Out of memory!"), std::string::npos) << lines_text();
    EXPECT_EQ(r->failures, 1);
    EXPECT_EQ(count_messages(105), 0u);
    EXPECT_EQ(host->live_pools(), pools);
    EXPECT_EQ(compile(r, "/a/"), 0u);  // the next compile starts afresh
}

TEST_F(Bridge, ReleaseOfNullAndOfAFailedRecord)
{
    rexhost_release(task(), nullptr);
    PrxCompiled* r = record();
    EXPECT_EQ(compile(r, ""), 0x8001C803u);
    forget(r);
    rexhost_release(task(), r);
    hostsim::Pool* alloc = reinterpret_cast<hostsim::Pool*>(task()->allocator);
    EXPECT_TRUE(alloc->live.empty());
}

TEST_F(Bridge, CreateHereRunsTheProgramAndFreeTakesItDown)
{
    size_t pools = host->live_pools();
    PERLGCB* gcb = rexhost_interp_create_here();
    ASSERT_NE(gcb, nullptr);
    EXPECT_EQ(gcb->err.len, 0);
    EXPECT_EQ(gcb->exit_status, 0);
    rexhost_interp_free(gcb);
    EXPECT_EQ(host->live_pools(), pools);
    EXPECT_EQ(named("PERLGCB"), nullptr);
}

// The evaluation, variable and call entries on an interpreter a caller holds.
TEST_F(Bridge, EvaluationVariableAndCallEntries)
{
    PERLGCB* gcb = rexhost_interp_create(task());
    ASSERT_NE(gcb, nullptr);
    EXPECT_STREQ(rexhost_eval_text(gcb, "$main::x = 42; 'v' . $main::x", 0), "v42");
    const char* text = nullptr;
    int64_t len = -1;
    EXPECT_EQ(rexhost_get_sv_text(gcb, "main::x", &text, &len), 1);
    EXPECT_EQ(std::string(text, static_cast<size_t>(len)), "42");
    double d = 0;
    EXPECT_EQ(rexhost_get_sv_number(gcb, "main::x", &d), 1);
    EXPECT_EQ(d, 42.0);
    // A name without a scalar reads as empty and 0.
    EXPECT_EQ(rexhost_get_sv_text(gcb, "main::nothing_here", &text, &len), 1);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(rexhost_get_sv_number(gcb, "main::nothing_here", &d), 1);
    EXPECT_EQ(d, 0.0);
    // A die inside the eval leaves its text in $@.
    EXPECT_STREQ(rexhost_eval_text(gcb, "die \"boom\\n\"", 0), "");
    rexhost_get_sv_text(gcb, "@", &text, &len);
    EXPECT_EQ(std::string(text, static_cast<size_t>(len)), "boom\n");
    // With the raise flag the error goes on: it ends at the entry, which
    // answers no text, and the message stands in the captured standard error.
    EXPECT_EQ(rexhost_eval_text(gcb, "die \"again\\n\"", 1), nullptr);
    EXPECT_GT(gcb->err.len, 0);
    rexhost_report_errors(task(), gcb, "TEST");
    // The trace option.
    EXPECT_EQ(rexhost_set_option(gcb, 1), 0u);
    EXPECT_EQ(rexhost_set_option(gcb, 0), 0x200u);
    EXPECT_EQ(rexhost_set_option(nullptr, 1), 0u);
    // The call entry.
    rexhost_eval_text(gcb, "sub main::bump { $main::x = 43 }", 0);
    rexhost_get_sv_text(gcb, "@", &text, &len);
    EXPECT_EQ(std::string(text, static_cast<size_t>(len)), "");
    EXPECT_EQ(rexhost_call(gcb, "main::bump"), 1);
    rexhost_get_sv_number(gcb, "main::x", &d);
    EXPECT_EQ(d, 43.0);
    rexhost_interp_destroy(gcb, task());
}

}  // namespace
