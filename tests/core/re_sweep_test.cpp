// Allocation failures swept over the engine's compile and match: the first
// allocation fails (and every later one), then from the second on, and so
// on until the operation runs without meeting a failure. Every run ends
// with the operation's own outcome or the no-memory exit (jump code 2),
// leaves no block of its own in the pool, and leaves the interpreter whole:
// with memory back, the next compile or match gives the right answer.
#include "re_fixture.h"

#include "ds/src/prxrun.h"

namespace {

using prxtest::Engine;

struct Case {
    const char* pattern;
    const char* flags;
    std::string subject;
    int32_t start;  // the first match, -1 for none
    int32_t end;
};

const Case cases[] = {
    {"abc", "", "xxabcxx", 2, 5},
    {"(a|b)*c", "", "ababc", 0, 5},
    {"[a-z]+@[a-z]+\\.com", "i", "mail TO@X.COM now", 5, 13},
    {"^(\\w+)\\s+\\1$", "m", "x\nhello hello\n", 2, 13},
    {"(?:(a)|b)(?(1)c|d)", "", "bd", 0, 2},
    {"(?<=a)b(?!c)", "", "abcab", 4, 5},
    {"((a+)*)*b", "", "aaab", 0, 4},
    {"(?>x+)y|[[:alpha:]]{2,}?z", "x", "xxq abz", 4, 7},
    {"(.)(.)(.)(.)(.)(.)(.)(.)(.)(.)(.)\\11", "s", "abcdefghijkk", 0, 12},
    {"(?:a|ab)(?:c|bcd)(d*)", "", "abcd", 0, 4},
    {"(x+x+)+y", "", std::string(18, 'x'), -1, -1},
    {"\\x{263A}.\\z", "u", "a\xE2\x98\xBA\xC3\xA9", 1, 6},
    {"(.)\\1+", "u", "\xC3\xA9\xC3\xA9\xC3", 0, 4},
};

class Sweep : public Engine {
protected:
    hostsim::Pool* pool() { return reinterpret_cast<hostsim::Pool*>(gcb->pool); }
    // Blocks of the pool less the interpreter's scratch: the optimiser's
    // literal buffers (kept until its next run) and the captured error text.
    size_t blocks()
    {
        auto* p = pool();
        size_t n = p->live.size();
        for (int i = 0; i < 3; i++)
            if (gcb->re_opt_text[i] && p->live.count(gcb->re_opt_text[i]))
                n--;
        if (gcb->re_opt_piece && p->live.count(gcb->re_opt_piece))
            n--;
        if (gcb->err.buf && p->live.count(gcb->err.buf))
            n--;
        return n;
    }
    void fail_after(int64_t n)
    {
        h->fail = hostsim::FailPolicy{};
        h->fail.fail_after = n;
    }
    void memory_back() { h->fail = hostsim::FailPolicy{}; }
    // The first match as {start, end}, {-1, -1} for none; {-2, -2} after a jump.
    std::pair<int32_t, int32_t> first(re_compiled* rx, const std::string& subject, int32_t* code)
    {
        int32_t r = match(rx, subject, code);
        if (r < 0)
            return {-2, -2};
        if (r == 0)
            return {-1, -1};
        return {rx->start_offsets[0], rx->end_offsets[0]};
    }
};

TEST_F(Sweep, CompileFailsCleanlyAtEveryAllocation)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        // A first compile and match make what stays with the interpreter:
        // its stacks and the matcher's scratch.
        re_compiled* rx = compile(c.pattern, c.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t code = 0;
        first(rx, c.subject, &code);
        pregfree(gcb, rx);
        clear_err();
        const size_t before = blocks();
        for (int64_t n = 0;; n++) {
            SCOPED_TRACE(n);
            fail_after(n);
            int32_t saved = gcb->savestack_ix;
            rx = compile(c.pattern, c.flags, &code);
            bool failed = h->fail.failures > 0;
            memory_back();
            if (!failed) {
                ASSERT_NE(rx, nullptr) << err_text();
                EXPECT_EQ(first(rx, c.subject, &code), std::make_pair(c.start, c.end));
                pregfree(gcb, rx);
                EXPECT_EQ(blocks(), before);
                break;
            }
            // The no-memory exit, or (when the failure met an allocation
            // whose caller answers it) the compile's own outcome.
            if (rx) {
                EXPECT_EQ(first(rx, c.subject, &code), std::make_pair(c.start, c.end));
                pregfree(gcb, rx);
            } else
                EXPECT_EQ(code, 2) << err_text();
            EXPECT_EQ(gcb->savestack_ix, saved);
            tmps_free_to_floor(gcb);
            clear_err();
            EXPECT_EQ(blocks(), before);
            // The interpreter is whole: the next compile and match succeed.
            rx = compile(c.pattern, c.flags);
            ASSERT_NE(rx, nullptr) << err_text();
            EXPECT_EQ(first(rx, c.subject, &code), std::make_pair(c.start, c.end));
            pregfree(gcb, rx);
            ASSERT_LT(n, 2000);
        }
    }
}

TEST_F(Sweep, MatchFailsCleanlyAtEveryAllocation)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        for (int64_t n = 0;; n++) {
            SCOPED_TRACE(n);
            // A fresh interpreter each time, so that the match has its
            // scratch to allocate.
            TearDown();
            SetUp();
            re_compiled* rx = compile(c.pattern, c.flags);
            ASSERT_NE(rx, nullptr) << err_text();
            const size_t before = blocks();
            fail_after(n);
            int32_t code = 0;
            auto got = first(rx, c.subject, &code);
            bool failed = h->fail.failures > 0;
            memory_back();
            if (!failed) {
                EXPECT_EQ(got, std::make_pair(c.start, c.end));
                pregfree(gcb, rx);
                break;
            }
            if (got.first == -2)
                EXPECT_EQ(code, 2) << err_text();
            else
                EXPECT_EQ(got, std::make_pair(c.start, c.end));
            clear_err();
            // With memory back the same match, and another, answer rightly;
            // what the failed match took is scratch the next one reuses.
            EXPECT_EQ(first(rx, c.subject, &code), std::make_pair(c.start, c.end));
            size_t after = blocks();
            EXPECT_EQ(first(rx, c.subject, &code), std::make_pair(c.start, c.end));
            EXPECT_EQ(blocks(), after);
            EXPECT_GE(after, before);
            pregfree(gcb, rx);
            ASSERT_LT(n, 2000);
        }
    }
}

}  // namespace
