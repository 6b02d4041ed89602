// The matcher's trace on standard output: the line of each node visited,
// the remarks of the repeat nodes and counters, the end of an attempt, and
// silence while the trace bit is clear.
#include "re_fixture.h"

#include "ds/src/prxsv.h"

#include <regex>
#include <sstream>
#include <vector>

namespace {

class Trace : public prxtest::Engine {
protected:
    // The captured standard output as plain text, then emptied.
    std::string take_out()
    {
        std::string raw = gcb->out.len ? std::string(gcb->out.buf, static_cast<size_t>(gcb->out.len)) : "";
        gcb->out.len = 0;
        std::string text;
        for (size_t i = 0; i < raw.size(); i++) {
            if (raw[i] == '%' && i + 1 < raw.size() && (raw[i + 1] == 'n' || raw[i + 1] == '%')) {
                text += raw[i + 1] == 'n' ? '\n' : '%';
                i++;
            } else
                text += raw[i];
        }
        return text;
    }
    // Matches subject from offset 0 with a minimum end, with the trace bit
    // set only around the match; the result goes to *result.
    std::string traced(re_compiled* rx, const std::string& subject, int32_t* result, int32_t min_end = 0)
    {
        take_out();
        subj = subject;
        gcb->debug_flags |= 0x200;
        int32_t r = -1;
        int32_t code = guarded([&] {
            r = gcb->re_hook_exec(gcb, rx, subj.data(), subj.data() + subj.size(), subj.data(), min_end, nullptr,
                                  nullptr, 0);
        });
        gcb->debug_flags &= ~0x200u;
        *result = code ? -1 : r;
        return take_out();
    }
    // Matches subject from offset start with the driver flags, the trace
    // bit set only around the match; the result goes to *result.
    std::string traced_at(re_compiled* rx, const std::string& subject, int32_t start, uint32_t flags, int32_t* result)
    {
        take_out();
        subj = subject;
        gcb->debug_flags |= 0x200;
        int32_t r = -1;
        int32_t code = guarded([&] {
            r = re_exec(gcb, rx, subj.data() + start, subj.data() + subj.size(), subj.data(), 0, nullptr, nullptr,
                        flags);
        });
        gcb->debug_flags &= ~0x200u;
        *result = code ? -1 : r;
        return take_out();
    }
    // Runs the start-position finder alone over the subject from offset
    // start, with the subject held by a value when with_value; *result is
    // the guessed offset, or -1 for none.
    std::string guessed(re_compiled* rx, const std::string& subject, int32_t start, bool with_value, int32_t* result)
    {
        take_out();
        SV* sv = sv_new_from_bytes(gcb, subject.data(), subject.size());
        uint64_t len = 0;
        const char* text = sv_text(gcb, sv, &len);
        gcb->debug_flags |= 0x200;
        const char* r = nullptr;
        int32_t code = guarded([&] { r = re_guess_start(gcb, rx, with_value ? sv : nullptr, text + start, text + len, 0, nullptr); });
        gcb->debug_flags &= ~0x200u;
        *result = code || !r ? -1 : static_cast<int32_t>(r - text);
        sv_release(gcb, sv);
        return take_out();
    }
    // Compiles pattern (as UTF-8 when utf8) with the trace bit clear.
    re_compiled* compile_text(const std::string& pattern, bool utf8 = false)
    {
        if (!utf8)
            return compile(pattern);
        op_pattern pm{};
        pm.op_pmdynflags = 0x04;
        re_compiled* rx = nullptr;
        int32_t c = guarded([&] { rx = gcb->re_hook_compile(gcb, pattern.data(), pattern.data() + pattern.size(), &pm); });
        return c ? nullptr : rx;
    }
    static std::vector<std::string> lines_of(const std::string& text)
    {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    static bool has_line(const std::string& text, const std::string& line)
    {
        for (const std::string& l : lines_of(text))
            if (l == line)
                return true;
        return false;
    }
};

TEST_F(Trace, WholeTraceOfALiteral)
{
    re_compiled* rx = compile_text("ab");
    ASSERT_NE(rx, nullptr) << err_text();
    int32_t r = 0;
    std::string text = traced(rx, "xab", &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(text,
              "Guessing start of match, REx `ab' against `xab'...\n"
              "Found anchored substr `ab' at offset 1...\n"
              "Starting position does not contradict /^/m...\n"
              "Guessed: match at offset 1\n"
              "Matching REx `ab' against `xab'\n"
              "  Setting an EVAL scope, savestack=0\n"
              "   1 <x> <ab>           |  1:  EXACT <ab>\n"
              "   3 <xab> <>           |  3:  END\n"
              "Match successful!\n");
    pregfree(gcb, rx);
}

// Whole lines that the trace of one match must hold, in any order.
struct LinesCase {
    const char* pattern;
    std::string subject;
    int32_t result;
    std::vector<std::string> lines;
};

class TraceLines : public Trace {
protected:
    // Matches the case's pattern traced and finds each of its lines whole.
    void expect_lines(const LinesCase& c)
    {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile_text(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t r = 0;
        std::string text = traced(rx, c.subject, &r);
        EXPECT_EQ(r, c.result);
        for (const std::string& line : c.lines)
            EXPECT_TRUE(has_line(text, line)) << "missing: \"" << line << "\" in\n" << text;
        pregfree(gcb, rx);
    }
};

TEST_F(TraceLines, LinesOfNodesAndRepeats)
{
    const std::string pad25(25, ' ');
    const LinesCase cases[] = {
        // An alternative that fails, and the next one taken up from its record.
        {"a|b", "b", 1,
         {"   0 <> <b>             |  1:  BRANCH",
          "   0 <> <b>             |  2:    EXACT <a>",
          "                                   failed...",
          "   0 <> <b>             |  4:    BRANCH",
          "   0 <> <b>             |  5:    EXACT <b>",
          "   1 <b> <>             |  7:    END",
          "Match successful!"}},
        // A simple repeat counts at a fixed column.
        {"x*y", "xxxy", 1,
         {"   0 <> <xxxy>          |  1:  STAR",
          pad25 + "  EXACT <x> can match 3 times out of 32767...",
          "   3 <xxx> <y>          |  4:    EXACT <y>"}},
        {"a{2,5}?a", "aaaaaa", 1, {pad25 + "  EXACT <a> can match 2 times out of 2..."}},
        // A fixed-length repeat: its body ends in SUCCEED.
        {"(?:ab)+c", "ababc", 1,
         {"                                   could match...",
          "                                 matched 2 times, len=2...",
          "                                 trying tail with n=2...",
          "  Setting an EVAL scope, savestack=0"}},
        // A general repeat whose body gives up, then what follows it.
        {"(a|bc)*d", "abcad", 1, {"                                               failed, try continuation..."}},
        // A minimal general repeat tries what follows first.
        {"(?:a|bc)*?d", "abcd", 1, {"                                   trying longer..."}},
        // A repetition that matched nothing ends the loop.
        {"(?:a|)*b", "ab", 1, {"                                           empty match detected, try continuation..."}},
        // Subject bytes that would break the line show as '.'.
        {"b", std::string("a\n\0b", 4), 1, {"   3 <a..> <b>          |  1:  EXACT <b>"}},
        // The window keeps 7 characters on each side.
        {"k", "abcdefghijklmnopq", 1, {"  10 <defghij> <klmnopq>|  1:  EXACT <k>"}},
        // Every failure is told, down to the attempt's own.
        {"(?:ab)+[0-9]", "ababx", 0,
         {"                                   failed...", "                                 failed...", "Match failed"}},
    };
    for (const LinesCase& c : cases)
        expect_lines(c);
}

// Whole lines of the start-position finder and the driver's choice of
// attempts, in the order given, for a match from an offset with flags.
struct OrderedCase {
    const char* pattern;
    const char* op_flags;
    std::string subject;
    int32_t start;
    uint32_t exec_flags;
    int32_t result;
    std::vector<std::string> lines;
};

TEST_F(Trace, LinesOfTheFinderAndTheDriver)
{
    const OrderedCase cases[] = {
        // A constant-offset check under \A is one comparison.
        {"\\Aab", "", "xb", 0, 0, 0, {"String not equal...", "Match rejected by optimizer", "Match failed"}},
        // The tail mark: a subject that goes on after it is too long.
        {"\\Aab\\Z", "", "abab", 0, 0, 0, {"String too long...", "Match rejected by optimizer"}},
        {"\\Aab\\Z", "", "ab\n", 0, 0, 1, {"Guessed: match at offset 0", "Match successful!"}},
        // The check substring and where it was found, the offsets counted
        // from the start argument.
        {"x+yz", "", "xxxxyq", 0, 0, 0, {"Did not find floating substr `xyz'...", "Match rejected by optimizer"}},
        {"ab", "", "zzxab", 2, 0, 1,
         {"Guessing start of match, REx `ab' against `xab'...", "Found anchored substr `ab' at offset 1...",
          "Guessed: match at offset 1", "Matching REx `ab' against `xab'"}},
        {"ab$", "", "abab", 0, 0, 1, {"Found anchored substr `ab'$ at offset 2...", "Guessed: match at offset 2"}},
        // The other substring: found, and contradicting.
        {"a.*b\\d", "", "zzazzb7", 0, 0, 1,
         {"Found floating substr `b' at offset 5...", "Found anchored substr `a' at offset 2...",
          "Starting position does not contradict /^/m...", "Guessed: match at offset 2"}},
        {"b.{0,3}cd", "", "xbqqqqcdbxcd", 0, 0, 1,
         {"Found floating substr `cd' at offset 6...", "Contradicts anchored substr `b', trying floating at offset 6...",
          "Found floating substr `cd' at offset 10...", "Found anchored substr `b' at offset 8...",
          "Guessed: match at offset 8"}},
        {"b.{0,3}cd", "", "xbqqqqcd", 0, 0, 0,
         {"Found floating substr `cd' at offset 6...", "Contradicts anchored substr `b', giving up...",
          "Match rejected by optimizer"}},
        {"abcd.*x", "", "abcdy", 0, 0, 0,
         {"Found anchored substr `abcd' at offset 0...", "Contradicts floating substr `x', giving up...",
          "Match rejected by optimizer"}},
        // The line-start search under /m.
        {"^xab", "m", "yxab\nxab", 0, 0, 1,
         {"Found anchored substr `xab' at offset 1...",
          "Found /^/m, restarting lookup for check-string at offset 5...", "Found anchored substr `xab' at offset 5...",
          "Position at offset 5 does not contradict /^/m...", "Guessed: match at offset 5"}},
        {"^xab", "m", "yxab", 0, 0, 0,
         {"Found anchored substr `xab' at offset 1...", "Did not find /^/m...", "Match rejected by optimizer"}},
        {"^\\w{0,3}xyz", "m", "q\nabxyz", 0, 0, 1,
         {"Found floating substr `xyz' at offset 4...", "Found /^/m at offset 2...", "Guessed: match at offset 2"}},
        {"^a\\w{0,5}xyz", "m", "qa\nabxyz", 0, 0, 1,
         {"Found floating substr `xyz' at offset 5...", "Found anchored substr `a' at offset 1...",
          "Found /^/m at offset 3, rescanning for anchored from offset 3...",
          "Found anchored substr `a' at offset 3...", "Position at offset 3 does not contradict /^/m...",
          "Guessed: match at offset 3"}},
        // The start class moves the guess, or sends the search on.
        {"\\w+ab", "", "--ab xab", 0, 0, 1,
         {"Found floating substr `ab' at offset 2...", "This position contradicts STCLASS...",
          "Looking for floating substr starting at offset 3...", "Found floating substr `ab' at offset 6...",
          "By STCLASS: moving 0 --> 2", "Guessed: match at offset 2"}},
        {"[xy]abc", "", "zzabcxabc", 0, 0, 1,
         {"Found anchored substr `abc' at offset 2...", "This position contradicts STCLASS...",
          "Looking for anchored substr starting at offset 3...", "Found anchored substr `abc' at offset 6...",
          "Does not contradict STCLASS...", "Guessed: match at offset 5"}},
        {"\\bc", "", "ac", 0, 0, 0, {"Could not match STCLASS...", "Match rejected by optimizer", "Match failed"}},
        // The driver's own search when the caller has run the finder.
        {"a+bc", "", "xyz", 0, 0x02, 0, {"Did not find anchored character...", "Match failed"}},
        {"ab", "", "xyz", 0, 0x02, 0, {"Did not find anchored substr `ab'...", "Match failed"}},
        {"ab$", "", "xyz", 0, 0x02, 0, {"Did not find anchored substr `ab'$...", "Match failed"}},
        {"[xy]+\\d", "", "qqq", 0, 0, 0, {"Contradicts stclass...", "Match failed"}},
        {"(?:.|\n)?.*b", "", "xyz", 0, 0x02, 0,
         {"Can't trim the tail, match fails (should not happen)", "Match failed"}},
    };
    for (const OrderedCase& c : cases) {
        SCOPED_TRACE(c.pattern + std::string(" on ") + c.subject);
        re_compiled* rx = compile(c.pattern, c.op_flags);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t r = 0;
        std::string text = traced_at(rx, c.subject, c.start, c.exec_flags, &r);
        EXPECT_EQ(r, c.result) << text;
        // Each line in turn, after the one before it.
        std::vector<std::string> got = lines_of(text);
        size_t at = 0;
        for (const std::string& line : c.lines) {
            while (at < got.size() && got[at] != line)
                at++;
            EXPECT_LT(at, got.size()) << "missing or out of order: \"" << line << "\" in\n" << text;
            if (at == got.size())
                break;
            at++;
        }
        pregfree(gcb, rx);
    }
}

// Lines of the finder that its direct callers see: a subject shorter than
// the pattern, and a start-anchored pattern asked about a later position of
// a subject value.
TEST_F(Trace, FinderOnItsOwn)
{
    re_compiled* rx = compile_text("abcd");
    ASSERT_NE(rx, nullptr);
    int32_t r = 0;
    EXPECT_EQ(guessed(rx, "xab", 1, false, &r),
              "Guessing start of match, REx `abcd' against `ab'...\n"
              "String too short...\n"
              "Match rejected by optimizer\n");
    EXPECT_EQ(r, -1);
    pregfree(gcb, rx);

    rx = compile_text("\\Aab");
    ASSERT_NE(rx, nullptr);
    EXPECT_EQ(guessed(rx, "abab", 2, true, &r),
              "Guessing start of match, REx `\\Aab' against `ab'...\n"
              "Not at start...\n"
              "Match rejected by optimizer\n");
    EXPECT_EQ(r, -1);
    // Without the value the finder cannot tell, and takes the position.
    std::string text = guessed(rx, "abab", 2, false, &r);
    EXPECT_EQ(r, 2);
    EXPECT_TRUE(has_line(text, "Guessed: match at offset 0")) << text;
    pregfree(gcb, rx);
}

// Restoring the captures after a failed repetition tells each group put
// back (with "(no)" for one not closed at the save) and the groups cleared.
TEST_F(TraceLines, RestoringCaptures)
{
    const LinesCase cases[] = {
        {"(a|bc)*d(e)", "abcade", 1, {"     restoring \\1 to 3(3)..4", "     restoring \\2..\\2 to undef"}},
        {"(x(?:a|bc)*d)(e)", "xabcade", 1, {"     restoring \\1 to -1(0)..-1(no)", "     restoring \\1..\\2 to undef"}},
    };
    for (const LinesCase& c : cases)
        expect_lines(c);
}

TEST_F(Trace, GeneralRepeatCountsAndItsFrame)
{
    re_compiled* rx = compile_text("(a|bc)*d");
    ASSERT_NE(rx, nullptr);
    int32_t r = 0;
    std::string text = traced(rx, "abcad", &r);
    EXPECT_EQ(r, 1);
    // n out of min..max and the frame's address, all of its 64 bits.
    const std::regex count_line("^ +([0-9]+) out of 0\\.\\.32767  cc=([0-9a-f]+)$");
    std::vector<std::string> counts;
    std::string frame;
    for (const std::string& l : lines_of(text)) {
        std::smatch m;
        if (!std::regex_match(l, m, count_line))
            continue;
        counts.push_back(m[1]);
        if (frame.empty())
            frame = m[2];
        EXPECT_EQ(m[2], frame) << "one frame for the whole loop";
    }
    EXPECT_EQ(counts, (std::vector<std::string>{"0", "1", "2", "3"}));
    if (sizeof(void*) == 8) {
        EXPECT_GT(frame.size(), 8u) << "a stack address of a 64-bit process is cut to 32 bits";
    }
    // The repetition that gave up left its records behind: the scope tells
    // how far the stack had grown.
    const std::regex clearing("^  Clearing an EVAL scope, savestack=([0-9]+)\\.\\.([0-9]+)$");
    int clears = 0;
    for (const std::string& l : lines_of(text)) {
        std::smatch m;
        if (std::regex_match(l, m, clearing)) {
            clears++;
            EXPECT_LT(std::stoll(m[1]), std::stoll(m[2])) << l;
        }
    }
    EXPECT_EQ(clears, 1) << text;
    pregfree(gcb, rx);
}

TEST_F(Trace, SuperLinearCacheIsAnnounced)
{
    re_compiled* rx = compile_text("^(a|aa)*$");
    ASSERT_NE(rx, nullptr);
    int32_t r = 0;
    std::string text = traced(rx, std::string(12, 'a') + "b", &r);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(has_line(text, "Detected a super-linear match, switching on caching...")) << text;
    bool tried = false;
    for (const std::string& l : lines_of(text))
        tried |= l.find_first_not_of(' ') > 30 && l.substr(l.find_first_not_of(' ')) == "already tried at this position...";
    EXPECT_TRUE(tried) << text;
    EXPECT_EQ(lines_of(text).back(), "Match failed");
    pregfree(gcb, rx);
}

TEST_F(Trace, EndShorterThanTheMinimumEnd)
{
    re_compiled* rx = compile_text("a?");
    ASSERT_NE(rx, nullptr);
    int32_t r = 0;
    std::string text = traced(rx, "ab", &r, 2);
    EXPECT_EQ(r, 1);  // the empty match at the end
    EXPECT_TRUE(has_line(text, "Match possible, but length=1 is smaller than requested=2, failing!")) << text;
    EXPECT_TRUE(has_line(text, "Match possible, but length=0 is smaller than requested=1, failing!")) << text;
    pregfree(gcb, rx);
}

// A no match found before any attempt (the subject too short, the finder's
// rejection) ends with the same line as one after attempts.
TEST_F(Trace, EveryNoMatchEndsWithMatchFailed)
{
    struct Case {
        const char* pattern;
        const char* subject;
    } cases[] = {
        {"abcd", "ab"},      // shorter than the minimum length
        {"x+yz", "xxxxyq"},  // the check substring is absent
        {"a*b", "aaa"},      // attempts, all failing
    };
    for (const Case& c : cases) {
        re_compiled* rx = compile_text(c.pattern);
        ASSERT_NE(rx, nullptr) << c.pattern;
        int32_t r = -1;
        std::string text = traced(rx, c.subject, &r);
        EXPECT_EQ(r, 0) << c.pattern;
        ASSERT_FALSE(lines_of(text).empty()) << c.pattern;
        EXPECT_EQ(lines_of(text).back(), "Match failed") << c.pattern << "\n" << text;
        pregfree(gcb, rx);
    }
}

TEST_F(Trace, ColoursWidenTheWindowAndReplaceTheMark)
{
    re_compiled* rx = compile_text("k");
    ASSERT_NE(rx, nullptr);
    static const char* const colours[6] = {"{0", "0}", "{2", "2}", "{4", "4}"};
    gcb->re_colours_set = 1;
    for (int i = 0; i < 6; i++)
        gcb->re_colours[i] = colours[i];
    int32_t r = 0;
    std::string text = traced(rx, "abcdefghijklmnopqrstu", &r);
    EXPECT_EQ(r, 1);
    // Ten characters on each side; the attempt began at the position.
    EXPECT_TRUE(has_line(text, "  10 <{4abcdefghij4}{22}{0klmnopqrst0}>   |  1:  EXACT <{0k0}>")) << text;
    EXPECT_TRUE(has_line(text, "{4Match successful!4}")) << text;
    pregfree(gcb, rx);
}

TEST_F(Trace, Utf8WindowCountsCharacters)
{
    std::string e = "\xC3\xA9";
    re_compiled* rx = compile_text(e + "b", true);
    ASSERT_NE(rx, nullptr) << err_text();
    int32_t r = 0;
    std::string subject;
    for (int i = 0; i < 8; i++)
        subject += e;
    subject += "b";
    std::string text = traced(rx, subject, &r);
    EXPECT_EQ(r, 1);
    std::string before;
    for (int i = 0; i < 7; i++)
        before += e;
    EXPECT_TRUE(has_line(text, "  14 <" + before + "> <" + e + "b>     |  1:  EXACT <" + e + "b>")) << text;
    pregfree(gcb, rx);
}

TEST_F(Trace, NothingWithoutTheBit)
{
    for (const char* p : {"ab", "(a|bc)*d", "^(a|aa)*$", "x*y", "(?:ab)+c"}) {
        SCOPED_TRACE(p);
        re_compiled* rx = compile_text(p);
        ASSERT_NE(rx, nullptr);
        take_out();
        gcb->err.len = 0;
        match(rx, std::string(12, 'a') + "bcd");
        match(rx, "xxxy");
        EXPECT_EQ(gcb->out.len, 0);
        EXPECT_EQ(gcb->err.len, 0);
        pregfree(gcb, rx);
    }
}

}  // namespace
