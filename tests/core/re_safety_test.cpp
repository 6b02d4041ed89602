// Tests of the engine's safety: UTF-8 subjects of any bytes (every step
// stays inside the subject, forward and backward steps agree), and the work
// guard that ends a match whose backtracking runs long, while long scans of
// bounded work per position are never cut.
#include <pthread.h>

#include <functional>
#include <memory>
#include <random>

#include "re_fixture.h"

namespace {

using prxtest::Engine;

struct Span {
    int32_t start;
    int32_t end;
    bool operator==(const Span&) const = default;
};

class Safety : public Engine {
protected:
    // Matches a copy of subject held in a block of exactly its size, so that
    // a read past its end is seen by the address checker.
    Span first_match(re_compiled* rx, const std::string& subject, int32_t* code)
    {
        std::unique_ptr<char[]> block(new char[subject.size() ? subject.size() : 1]);
        std::memcpy(block.get(), subject.data(), subject.size());
        const char* b = block.get();
        int32_t r = 0;
        *code = guarded([&] { r = gcb->re_hook_exec(gcb, rx, b, b + subject.size(), b, 0, nullptr, nullptr, 0); });
        if (*code || r != 1)
            return {-1, -1};
        return {rx->start_offsets[0], rx->end_offsets[0]};
    }
};

// Subjects that are not well-formed UTF-8, in UTF-8 mode: a lead byte cut
// off by the end or by a byte that is no continuation, stray continuation
// bytes, 0xFE and 0xFF. Each such byte is a character of its own. (The
// classes that consult the Unicode tables need the interpreter's utf8
// module, which these engine tests do without.)
TEST_F(Safety, Utf8SubjectsOfAnyBytes)
{
    struct Case {
        const char* pattern;
        std::string subject;
        Span want;
    };
    const Case cases[] = {
        {"\\x00|\\x08?.]", std::string("?s)*\xFF"), {-1, -1}},
        {"(?<=a)", "\xFF", {-1, -1}},
        {"x|$", "\xFF", {1, 1}},
        {".b.", "a\x80" "ba", {1, 4}},
        {".", "\xE3" "a", {0, 1}},
        {"a.", "a\xE3", {0, 2}},
        {".$", "a\xE3\x81", {2, 3}},
        {"a.{2}$", "a\xF0\x9F", {0, 3}},
        {"(?<=.)b", "\x80" "b", {1, 2}},
        {"(?<=..)b", "\xC3\xA9\x80" "b", {3, 4}},
        {"(?<!.)b", "\x80" "b", {-1, -1}},
        {"\\x{263A}", "\xE2\x98", {-1, -1}},
        {"a\\x{263A}|\\x{263A}", "a\xE2\x98\xBA", {0, 4}},
        {"(.)\\1", "\xE3\xE3", {0, 2}},
        {"(..)\\1$", "\xC3\xA9\x80\xC3\xA9\x80", {0, 6}},
        {"(.)\\1", "\xC3\xA9\xC3", {-1, -1}},
        {"^.{3}$", "\xFE\xFF\x80", {0, 3}},
        {".+?\\z", "\xF0\x9F\x98", {0, 3}},
        {"(?:.(?!\\z))+", "\xE2\x98\xBA\xE2\x98", {0, 4}},
        {"(?<=\\x{263A})b", "\xE2\x98\xBA" "b\x98" "b", {3, 4}},
        {"(?<=\\x{263A})b", "\x98\xBA" "b", {-1, -1}},
        {"(?<!\\x80)b", "\x80" "b" "b", {1, 2}},
        {"a*?\\Z", "\xE3\n", {1, 1}},
        {".*\\x{E9}", "\xC3\xA9\xC3\xE9", {0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "/" << c.pattern << "/ on " << testing::PrintToString(c.subject));
        re_compiled* rx = compile(c.pattern, "u");
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t code = 0;
        EXPECT_EQ(first_match(rx, c.subject, &code), c.want);
        EXPECT_EQ(code, 0) << err_text();
        pregfree(gcb, rx);
        clear_err();
    }
}

// The character steps over random bytes: forward from the beginning they
// reach the end exactly, and backward from the end they visit the same
// positions in reverse; steps past either end stop there, or fail.
TEST_F(Safety, CharacterStepsInvertEachOther)
{
    std::mt19937 rng(42);
    const uint8_t bytes[] = {'a', '\n', 0x80, 0xBF, 0xC3, 0xA9, 0xE2, 0x98, 0xBA, 0xF0, 0x9F, 0xFE, 0xFF, 0xFC};
    for (int round = 0; round < 3000; round++) {
        size_t n = rng() % 24;
        std::unique_ptr<char[]> block(new char[n ? n : 1]);
        for (size_t i = 0; i < n; i++)
            block[i] = static_cast<char>(bytes[rng() % sizeof bytes]);
        const char* b = block.get();
        const char* e = b + n;
        gcb->re_subject_begin = b;
        gcb->re_subject_end = e;
        std::vector<const char*> forward{b};
        while (forward.back() < e) {
            const char* p = re_step_chars(gcb, forward.back(), 1);
            ASSERT_GT(p, forward.back());
            ASSERT_LE(p, e);
            forward.push_back(p);
        }
        std::vector<const char*> backward{e};
        while (backward.back() > b) {
            const char* p = re_step_chars(gcb, backward.back(), -1);
            ASSERT_LT(p, backward.back());
            ASSERT_GE(p, b);
            backward.push_back(p);
        }
        std::reverse(backward.begin(), backward.end());
        ASSERT_EQ(forward, backward) << testing::PrintToString(std::string(b, n));
        int32_t chars = static_cast<int32_t>(forward.size()) - 1;
        EXPECT_EQ(re_step_chars(gcb, b, chars + 3), e);
        EXPECT_EQ(re_step_chars(gcb, e, -chars - 3), b);
        EXPECT_EQ(re_step_chars_or_fail(gcb, b, chars), e);
        EXPECT_EQ(re_step_chars_or_fail(gcb, b, chars + 1), nullptr);
        EXPECT_EQ(re_step_chars_or_fail(gcb, e, -chars), b);
        EXPECT_EQ(re_step_chars_or_fail(gcb, e, -chars - 1), nullptr);
    }
}

// Patterns that backtrack widely but not deeply: without the work guard
// each runs for minutes or longer. The guard ends each with jump code 4, as
// the nesting guard does, and the next match has its full budget again.
TEST_F(Safety, WorkGuardEndsWideBacktracking)
{
    struct Case {
        const char* pattern;
        std::string subject;
    };
    const Case cases[] = {
        {"(x+x+)+y", std::string(2048, 'x')},
        {"(x+x+)+y", std::string(4096, 'x')},
        {"^(a+)+$", std::string(80000, 'a') + "!"},
        {"(a+)*[b-z]", std::string(1000000, 'a')},
        {".*.*=.*", "=" + std::string(1000000, 'a')},
        {".*.*.*.*.*.+\\B\\b", std::string(100, 'a')},
        {"(?:a*b|a*c)", std::string(1000000, 'a')},
        {"(?:a*?=|a*?-)", std::string(1000000, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t code = 0;
        EXPECT_EQ(match(rx, c.subject, &code), -1);
        EXPECT_EQ(code, 4);
        EXPECT_EQ(*re_depth_counter(), 0);
        EXPECT_NE(gcb->errno_cell, 1100);
        pregfree(gcb, rx);
        // The budget is the match's own: a small match after the trip runs.
        rx = compile("(x+x+)+y");
        ASSERT_NE(rx, nullptr);
        EXPECT_EQ(match(rx, "xxxxxxxxxxy", &code), 1);
        EXPECT_EQ(code, 0);
        pregfree(gcb, rx);
    }
}

// Long scans whose work at each start position is bounded stay far below
// the budget, however long the subject: none is cut by the guard.
TEST_F(Safety, WorkGuardLeavesLongScansAlone)
{
    std::string words;
    std::mt19937 rng(7);
    while (words.size() < 2000000) {
        words += static_cast<char>('A' + rng() % 26);
        for (int i = 0, n = 2 + static_cast<int>(rng() % 8); i < n; i++)
            words += static_cast<char>('a' + rng() % 26);
        words += rng() % 9 ? " " : ".\n";
    }
    struct Case {
        const char* pattern;
        std::string subject;
        int32_t start;
    };
    const int32_t at_end = static_cast<int32_t>(words.size());
    const Case cases[] = {
        // Up to 21 tries of the rest at each of 2 million positions.
        {"[a-z]{0,20}[0-9]", words + "7", at_end},
        {"(?:[A-Z][a-z]+\\s*){10,100}", words, -1},
        {"\\w+\\s+\\w+\\s+\\d", words + "1", -1},
        {"(\\w+)\\s+\\1\\b", words, -1},
        {"^.*z.*q.*!$", words + "!", -1},
        {"(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)",
         words + "10.0.0.1", at_end},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t code = 0;
        int32_t r = match(rx, c.subject, &code);
        EXPECT_EQ(code, 0);
        if (c.start >= 0) {
            ASSERT_EQ(r, 1);
            EXPECT_EQ(rx->start_offsets[0], c.start);
        } else
            EXPECT_GE(r, 0);
        pregfree(gcb, rx);
    }
}

// A subject of moderate size has the whole base budget: heavy backtracking
// that does end (about a thousand units at each of thousands of start
// positions) is not cut.
TEST_F(Safety, WorkGuardLeavesHeavyShortMatchesAlone)
{
    std::string words;
    for (int i = 0; words.size() < 20000; i++)
        words += std::string(1, static_cast<char>('A' + i % 26)) + std::string(3 + i % 7, 'x') + " ";
    re_compiled* rx = compile("(?:[A-Z][a-z]+\\s*){10,100}[0-9]");
    ASSERT_NE(rx, nullptr) << err_text();
    int32_t code = 0;
    EXPECT_EQ(match(rx, words + "5", &code), 1);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(rx->end_offsets[0], static_cast<int32_t>(words.size()) + 1);
    EXPECT_EQ(match(rx, words, &code), 0);
    EXPECT_EQ(code, 0);
    pregfree(gcb, rx);
}

// Runs body on a thread of its own whose native stack has size bytes, as a
// host task with a small stack runs the engine.
void on_thread_with_stack(size_t size, const std::function<void()>& body)
{
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, size), 0);
    pthread_t thread;
    auto run = [](void* arg) -> void* {
        (*static_cast<const std::function<void()>*>(arg))();
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// Deep nesting of the matcher on a thread whose stack runs out before the
// nesting guard's limit: the match ends as a guard trip (jump code 4, the
// counter and the error mark given back), never by overflowing the stack;
// the same thread then matches shallow patterns as before, and a thread
// with a large stack matches the deep ones in full.
TEST_F(Safety, NestingBoundedByTheNativeStack)
{
    struct Case {
        const char* pattern;
        std::string subject;
        Span want;  // on a large stack
    };
    const Case cases[] = {
        {"^(?:a|bc)*$", std::string(1000, 'a'), {0, 1000}},
        {"^(a|bc)*$", std::string(1000, 'a'), {0, 1000}},
        {"^(?:(a)|bc){1,2000}$", std::string(1000, 'a'), {0, 1000}},
        {"^(?:a|b(?:c|d(?:e|f)))*$", std::string(999, 'a') + "bdf", {0, 1002}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        Span big{}, small{}, after{};
        int32_t big_code = -1, small_code = -1, after_code = -1, depth = -1;
        on_thread_with_stack(16 << 20, [&] { big = first_match(rx, c.subject, &big_code); });
        on_thread_with_stack(192 << 10, [&] {
            small = first_match(rx, c.subject, &small_code);
            depth = *re_depth_counter();
            after = first_match(rx, "bcaa", &after_code);
        });
        EXPECT_EQ(big_code, 0);
        EXPECT_EQ(big, c.want);
        EXPECT_EQ(small_code, 4);
        EXPECT_EQ(small, (Span{-1, -1}));
        EXPECT_EQ(depth, 0);
        EXPECT_NE(gcb->errno_cell, 1100);
        EXPECT_EQ(after_code, 0);
        EXPECT_EQ(after.start, 0);
        clear_err();
        pregfree(gcb, rx);
    }
}

// The parser and the optimiser descend one level per nested group: on a
// thread whose stack ends before the nesting limit, a deep pattern is a
// compile error an eval can trap, and the next compile on that thread works.
TEST_F(Safety, CompileDepthBoundedByTheNativeStack)
{
    auto nested = [](const std::string& open, const std::string& close, int depth = 1000) {
        std::string p;
        for (int i = 0; i < depth; i++)
            p += open;
        p += "a";
        for (int i = 0; i < depth; i++)
            p += close;
        return p;
    };
    // A conditional counts twice: its condition is a group of its own.
    const std::string patterns[] = {nested("(", ")"), nested("(?>", ")+"), nested("(?(?=a)", "|b)", 499),
                                    nested("(?:a|", ")*")};
    for (const std::string& p : patterns) {
        SCOPED_TRACE(p.substr(0, 12));
        bool big = false;
        int32_t small_code = -1;
        std::string small_err;
        bool after = false;
        on_thread_with_stack(16 << 20, [&] {
            re_compiled* rx = compile(p);
            big = rx != nullptr;
            if (rx)
                pregfree(gcb, rx);
        });
        clear_err();
        on_thread_with_stack(192 << 10, [&] {
            re_compiled* rx = compile(p, "", &small_code);
            small_err = err_text();
            if (rx)
                pregfree(gcb, rx);
            rx = compile("(a)|b");
            after = rx != nullptr;
            if (rx)
                pregfree(gcb, rx);
        });
        clear_err();
        EXPECT_TRUE(big);
        EXPECT_NE(small_code, 0);
        EXPECT_NE(small_err.find("Nesting too deep for the native stack"), std::string::npos) << small_err;
        EXPECT_TRUE(after);
    }
}

}  // namespace

namespace {

// A reader that takes the captured text resets its length to 0; the next
// write uses the same buffer instead of taking (and losing) a fresh one.
TEST_F(Safety, CapturedStreamReusesItsBuffer)
{
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    prx_stderr_write(gcb, "first\n", 6);
    ASSERT_NE(gcb->err.buf, nullptr);
    const char* buf = gcb->err.buf;
    const size_t blocks = pool->live.size();
    for (int i = 0; i < 100; i++) {
        gcb->err.len = 0;
        prx_stderr_write(gcb, "again\n", 6);
        EXPECT_EQ(gcb->err.buf, buf);
        EXPECT_EQ(pool->live.size(), blocks);
    }
    EXPECT_EQ(err_text(), "again\n");
}

}  // namespace
