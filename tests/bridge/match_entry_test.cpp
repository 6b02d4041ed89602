// The match entry and the replacement expansion.
#include "bridge_fixture.h"
#include "ds/src/prxre.h"

namespace {

using bridgetest::Bridge;

class MatchEntry : public Bridge {
protected:
    PERLGCB* gcb = nullptr;
    std::vector<re_compiled*> patterns;

    void SetUp() override
    {
        Bridge::SetUp();
        gcb = rexhost_interp_create(task());
        ASSERT_NE(gcb, nullptr);
        ASSERT_EQ(gcb->err.len, 0);
    }
    void TearDown() override
    {
        for (re_compiled* rx : patterns)
            rexhost_regfree(gcb, task(), rx, nullptr);
        rexhost_interp_destroy(gcb, task());
        Bridge::TearDown();
    }
    re_compiled* compile(const std::string& text)
    {
        re_compiled* rx = nullptr;
        ReplaceNode* tree = nullptr;
        EXPECT_EQ(rexhost_parse(gcb, task(), text.data(), text.data() + text.size(), &rx, &tree), 0u) << text;
        if (rx)
            patterns.push_back(rx);
        return rx;
    }
    uint32_t match(re_compiled* rx, const std::string& subject, size_t from = 0)
    {
        const char* b = subject.data();
        return rexhost_match(gcb, task(), rx, b + from, b + subject.size(), b, 0, 0);
    }
};

TEST_F(MatchEntry, OutcomesAndOffsets)
{
    re_compiled* b = compile("/b/");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(match(b, "abc"), 0u);
    EXPECT_EQ(b->start_offsets[0], 1);
    EXPECT_EQ(b->end_offsets[0], 2);
    EXPECT_EQ(match(b, "xyz"), 0x8017113Bu);

    // Offsets count from the beginning, not from the start.
    EXPECT_EQ(match(b, "babab", 2), 0u);
    EXPECT_EQ(b->start_offsets[0], 2);

    // An empty subject still runs the matcher; an empty pattern matches at 0.
    re_compiled* empty = compile("//");
    EXPECT_EQ(match(empty, ""), 0u);
    EXPECT_EQ(empty->start_offsets[0], 0);

    // Groups.
    re_compiled* g = compile("/(a+)(x)?b/");
    EXPECT_EQ(match(g, "zaab"), 0u);
    EXPECT_EQ(g->start_offsets[1], 1);
    EXPECT_EQ(g->end_offsets[1], 3);

    // A start finder that rejects the subject: no match.
    re_compiled* lit = compile("/hello/");
    EXPECT_EQ(match(lit, "help me"), 0x8017113Bu);

    // Missing interpreter or pattern.
    EXPECT_EQ(rexhost_match(nullptr, task(), b, "a", "a", "a", 0, 0), 0x8017113Cu);
    EXPECT_EQ(rexhost_match(gcb, task(), nullptr, "a", "a", "a", 0, 0), 0x8017113Cu);
}

TEST_F(MatchEntry, BacktrackingGuardAndTheNextMatch)
{
    re_compiled* bad = compile("/^(?:a|bc)*$/");
    ASSERT_NE(bad, nullptr);
    std::string subject(2000, 'a');
    subject += 'x';
    EXPECT_EQ(match(bad, subject), 4u);
    EXPECT_EQ(gcb->errno_cell, 0);
    EXPECT_EQ(gcb->err.len, 0);  // the guard writes no text
    EXPECT_EQ(gcb->top_env, &gcb->start_env);
    re_compiled* b = compile("/b/");
    EXPECT_EQ(match(b, "abc"), 0u);
}

// A guard mark left in the error-number cell must not turn the next entry's
// errors into a guard trip.
TEST_F(MatchEntry, StaleGuardMarkIsClearedAtEntry)
{
    re_compiled* b = compile("/b/");
    gcb->errno_cell = 1100;
    EXPECT_EQ(match(b, "abc"), 0u);
    EXPECT_EQ(gcb->errno_cell, 0);
    gcb->errno_cell = 1100;
    re_compiled* none = nullptr;
    ReplaceNode* tree = nullptr;
    std::string text = "/a(/";
    EXPECT_EQ(rexhost_parse(gcb, task(), text.data(), text.data() + text.size(), &none, &tree), 0u);
    EXPECT_EQ(none, nullptr);
    EXPECT_GT(gcb->err.len, 0);  // the compile error took the eval path and was written
}

// A jump other than the guard's is a failure, never a match.
TEST_F(MatchEntry, OtherJumpsAreFailures)
{
    re_compiled* b = compile("/b/");
    ASSERT_EQ(gcb->subject, nullptr);
    host->fail.fail_next = true;  // the subject value cannot be made
    uint32_t st = match(b, "abc");
    EXPECT_NE(st, 0u);
    EXPECT_EQ(st, 0x80000803u);
    EXPECT_EQ(gcb->top_env, &gcb->start_env);
    rexhost_report_errors(task(), gcb, "PRXMATCH");
    EXPECT_EQ(match(b, "abc"), 0u);
}

TEST_F(MatchEntry, FailedTaskSwitchTouchesNothing)
{
    re_compiled* b = compile("/b/");
    host->add_task("other");
    host->fail_task_switch = true;
    EXPECT_EQ(rexhost_match(gcb, task(1), b, "abc", "abc" + 3, "abc", 0, 0), 0x8001C80Bu);
    host->fail_task_switch = false;
}

// ---- replacement expansion ----------------------------------------------------

class Expand : public ::testing::Test {
protected:
    hostsim::Host* host = nullptr;
    int32_t starts[4] = {0, 1, 5, -1};
    int32_t ends[4] = {3, 3, 4, -1};
    re_compiled rx{};
    std::vector<ReplaceNode*> nodes;
    const char* subject = "aBc.d";

    void SetUp() override
    {
        host = &hostsim::reset();
        mcn_main(&host->vec, nullptr);
        rx.start_offsets = starts;
        rx.end_offsets = ends;
        rx.last_group = 3;
    }
    void TearDown() override
    {
        for (ReplaceNode* n : nodes)
            delete n;
    }
    ReplaceNode* node(uint32_t kind, int32_t number = 0, ReplaceNode* child = nullptr, const char* text = nullptr)
    {
        auto* n = new ReplaceNode{};
        n->kind = kind;
        n->number = number;
        n->child = child;
        n->text = const_cast<char*>(text);
        nodes.push_back(n);
        return n;
    }
    ReplaceNode* lit(const char* text) { return node(RN_LITERAL, static_cast<int32_t>(std::strlen(text)), nullptr, text); }
    ReplaceNode* list(std::initializer_list<ReplaceNode*> elems)
    {
        ReplaceNode* l = node(RN_LIST, static_cast<int32_t>(elems.size()));
        ReplaceNode** tail = &l->child;
        for (ReplaceNode* e : elems) {
            *tail = e;
            tail = &e->next;
        }
        return l;
    }
    std::string expand(ReplaceNode* n, int32_t room, int32_t* overflow)
    {
        std::string out(static_cast<size_t>(room > 0 ? room : 0) + 8, '#');
        *overflow = 0;
        int32_t w = rexhost_expand(n, &rx, out.data(), room, subject, overflow);
        EXPECT_GE(w, 0);
        return out.substr(0, static_cast<size_t>(w));
    }
};

TEST_F(Expand, NodesAndRoom)
{
    struct Case {
        ReplaceNode* tree;
        int32_t room;
        std::string out;
        int32_t overflow;
    };
    const Case cases[] = {
        {lit("xyz"), 10, "xyz", 0},
        {node(RN_GROUP, 1), 10, "Bc", 0},
        {node(RN_BACKREF, 0), 10, "aBc", 0},
        {node(RN_GROUP, 2), 10, "", 0},   // ends before it starts: did not take part
        {node(RN_GROUP, 3), 10, "", 0},   // offsets -1
        {node(RN_GROUP, 4), 10, "", 0},   // beyond the last group
        {node(RN_GROUP, -1), 10, "", 0},  // a number that did not convert
        {list({lit("<"), node(RN_GROUP, 1), lit(">")}), 10, "<Bc>", 0},
        {node(RN_UPPER_FIRST, 0, lit("abc")), 10, "Abc", 0},
        {node(RN_LOWER_FIRST, 0, node(RN_GROUP, 1)), 10, "bc", 0},
        {node(RN_UPPER, 0, list({lit("ab"), node(RN_GROUP, 1)})), 10, "ABBC", 0},
        {node(RN_LOWER, 0, node(RN_BACKREF, 0)), 10, "abc", 0},
        {node(RN_QUOTE, 0, lit("a.b_c d")), 20, "a\\.b_c\\ d", 0},
        {node(RN_QUOTE, 0, lit("a.b")), 3, "a\\.", 1},
        {list({lit("0123456789"), node(RN_GROUP, 1)}), 4, "0123", 1},
        {lit("abc"), 0, "", 0},
        {list({node(RN_UPPER, 0, lit("ab")), lit("-"), node(RN_QUOTE, 0, lit("."))}), 10, "AB-\\.", 0},
    };
    for (const Case& c : cases) {
        int32_t overflow = 0;
        EXPECT_EQ(expand(c.tree, c.room, &overflow), c.out);
        EXPECT_EQ(overflow, c.overflow) << c.out;
    }
}

// Room beyond the stack scratch of \Q takes a block of the task's
// allocator and gives it back.
TEST_F(Expand, QuoteWithLargeRoom)
{
    std::string text(1500, '.');
    ReplaceNode* q = node(RN_QUOTE, 0, lit(text.c_str()));
    int32_t overflow = 0;
    std::string out = expand(q, 2000, &overflow);
    EXPECT_EQ(out.size(), 2000u);
    EXPECT_EQ(overflow, 1);
    EXPECT_EQ(out.substr(0, 4), "\\.\\.");
    hostsim::Pool* pool = reinterpret_cast<hostsim::Pool*>(host->main_task()->handle.allocator);
    EXPECT_TRUE(pool->live.empty());
}

}  // namespace
