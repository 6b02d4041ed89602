// Greedy repeats whose backing off cannot help: which repeats the optimiser
// marks, and that a match through them finds what backing off finds,
// trips the guard where backing off would, and keeps its captures.
#include "re_fixture.h"

#include <string>
#include <vector>

namespace {

using retest::Engine;
using retest::MatchCase;

// The marks of the STAR, PLUS and CURLY nodes of the top-level chain and
// of general-repeat bodies, in program order: the cost of a skipped try,
// "L" when it holds only below the loop's minimum, "-" for no mark.
std::string marks(re_compiled* rx)
{
    std::string out;
    std::vector<re_program_node*> chains{reinterpret_cast<re_program_node*>(rx->program) + 1};
    for (size_t i = 0; i < chains.size(); i++) {
        for (re_program_node* n = chains[i]; n; n = re_next_in_program(n)) {
            if (n->type == RE_CURLYX)
                chains.push_back(n + 2);
            if (n->type != RE_STAR && n->type != RE_PLUS && n->type != RE_CURLY)
                continue;
            if (!out.empty())
                out += " ";
            if (!re_gives_back_nothing(n->flags))
                out += "-";
            else
                out += std::to_string(n->flags & 0xF) + ((n->flags & RE_GIVE_BACK_LOOP) ? "L" : "");
        }
    }
    return out;
}

TEST_F(Engine, GiveBackMarks)
{
    struct Shape {
        const char* pattern;
        const char* flags;
        const char* marks;
    };
    const Shape shapes[] = {
        // A class that must follow: one activation a try.
        {"\\w+\\s+Holmes\\s+\\w+", "", "1 0 1 -"},
        // A literal whose first byte the repeat cannot hold: no try at all.
        {"[a-z]+ing", "", "-"},
        {"[a-z]+Ing", "", "0"},
        {"[a-z]+Ing", "i", "-"},
        {"\\d+x", "", "0"},
        {"\\d+X", "i", "0"},
        // Through a repeat that may match nothing: its activation, the
        // try after it and its step back.
        {"[a-z]+\\s*\\d", "", "3 1"},
        {"[a-z]+\\s*x", "", "- 0"},
        {"[a-z]+\\s*X", "", "2 0"},
        // A general repeat's loop below its minimum, and its body.
        {"(?:[A-Z][a-z]+\\s*){10,100}", "", "4L 2L"},
        {"(?:[A-Z][a-z]+){2}", "", "2L"},
        {"(?:[a-z][a-z]+\\s*){2,5}", "", "- 2L"},
        // Not marked: what follows overlaps the class, may match nothing,
        // is a group or the end, or needs the locale.
        {"\\w+n\\b", "", "-"},
        {"a+\\s*", "", "- -"},
        {"a+(b)", "", "-"},
        {"a+", "", "-"},
        {"a+b?", "", "- -"},
        {"a+[^a]", "", "1"},
        {"a+[^b]", "", "-"},
        {"a+?\\s", "", "1"},
    };
    for (const Shape& s : shapes) {
        SCOPED_TRACE(s.pattern);
        re_compiled* rx = compile(s.pattern, s.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        EXPECT_EQ(marks(rx), s.marks);
        pregfree(gcb, rx);
    }
}

// Matches through marked repeats: the same starts, ends and groups as
// backing off gives.
TEST_F(Engine, GiveBackMatches)
{
    const MatchCase cases[] = {
        {"\\w+\\s+Holmes\\s+(\\w+)", "", "Mr Sherlock  Holmes said", {3, 24, 20, 24}},
        {"\\w+\\s+Holmes", "", "Holmes Holmes", {0, 13}},
        {"[a-z]+\\s*\\d", "", "abc 1 x2", {0, 5}},
        {"[a-z]+\\s*\\d", "", "abc x", {}},
        {"[a-z]+\\s*X", "", "abcX", {0, 4}},
        {"(?:[A-Z][a-z]+\\s*){3}", "", "One Two three Four Five Six", {14, 27}},
        {"(?:[A-Z][a-z]+\\s*){3}", "", "One Two three Four Five", {}},
        {"(?:[A-Z][a-z]+\\s*){2,3}", "", "AbCdEf", {0, 6}},
        {"(?:[A-Z][a-z]+){2}", "", "Ab Cd EfGh", {6, 10}},
        {"(?:([A-Z])[a-z]+\\s*){2}(\\d)", "", "Ab Cd Ef 5", {3, 10, 6, 7, 9, 10}},
        {"\\d+x", "", "123x 12", {0, 4}},
        {"a+[^a]", "", "aaab", {0, 4}},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " / " + c.subject);
        re_compiled* rx = compile(c.pattern, c.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        expect_groups(rx, match(rx, c.subject), c.groups);
        pregfree(gcb, rx);
    }
}

// The tries a marked repeat leaves out are still charged: backing off over
// a long run at every start spends far more than the budget, and the guard
// ends the match as it would have ended the tries.
TEST_F(Engine, GiveBackChargesTheGuard)
{
    struct Case {
        const char* pattern;
        std::string subject;
    };
    const Case cases[] = {
        {".[a-z]+\\d", std::string(20000, 'a')},
        {".[a-z]+\\s*\\d", std::string(20000, 'a')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        ASSERT_NE(marks(rx).find_first_of("0123456789"), std::string::npos) << marks(rx);
        int32_t code = 0;
        EXPECT_EQ(match(rx, c.subject, &code), -1);
        EXPECT_EQ(code, 4);
        pregfree(gcb, rx);
    }
}

}  // namespace
