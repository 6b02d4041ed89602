// Golden cases of the engine that need the string search and the scope
// routines: literal runs, end anchors, error texts and the guard's jump.
#include "re_fixture.h"

#include <vector>

namespace {

using prxtest::Engine;
using prxtest::MatchCase;

TEST_F(Engine, DumpOfPlusAndLiteral)
{
    gcb->debug_flags |= 0x200;
    re_compiled* rx = compile("a+b");
    ASSERT_NE(rx, nullptr) << err_text();
    EXPECT_NE(err_text().find("   1: PLUS(4)\n   2:   EXACT <a>(0)\n   4: EXACT <b>(6)\n   6: END(0)\n"),
              std::string::npos)
        << err_text();
    pregfree(gcb, rx);
}

// Under the debug flag the units a merged literal leaves behind are marked
// OPTIMIZED, its old text units too, although their type byte is a letter
// ('d', 'h') beyond every node type.
TEST_F(Engine, MergedLiteralLeavesOptimizedUnits)
{
    gcb->debug_flags |= 0x200;
    re_compiled* rx = compile("ab(?:)cdefgh");
    ASSERT_NE(rx, nullptr) << err_text();
    EXPECT_NE(err_text().find("   1: EXACT <abcdefgh>(7)\n   7: END(0)\n"), std::string::npos) << err_text();
    const re_program_node* prog = reinterpret_cast<const re_program_node*>(rx->program);
    for (int unit = 4; unit <= 6; unit++)
        EXPECT_EQ(prog[unit].type, RE_OPTIMIZED) << "unit " << unit;
    pregfree(gcb, rx);
}

TEST_F(Engine, SummaryOfFloatingCheck)
{
    gcb->debug_flags |= 0x200;
    re_compiled* rx = compile("foo.*bar");
    ASSERT_NE(rx, nullptr) << err_text();
    EXPECT_NE(err_text().find("anchored `foo' at 0 floating `bar' at 3..2147483647 (checking floating) minlen 6 \n"),
              std::string::npos)
        << err_text();
    EXPECT_EQ(rx->min_length, 6);
    pregfree(gcb, rx);
}

TEST_F(Engine, CompileErrors)
{
    struct Case {
        std::string pattern;
        std::string message;  // the start of the captured error text
    };
    std::string long_text = std::string(128, 'b') + "\\X";
    const Case cases[] = {
        {"a**", "Nested quantifiers before HERE mark in regex m/a** << HERE /"},
        {"(?<=a+)b", "Variable length lookbehind not implemented before HERE mark in regex m/(?<=a+)b << HERE /"},
        {"a\\X", "Use of \\X for wide characters is not supported in regex m/a\\X/"},
        {"(?{1})", "Use of (?{}) to execute Perl code is not supported in regex m/(?{1})/"},
        {"(??{1})", "Use of (??{}) to execute Perl code is not supported in regex m/(??{1})/"},
        {"(?p{1})", "Use of (?p{}) to execute Perl code is not supported in regex m/(?p{1})/"},
        {"a{32767}", "Quantifier in {,} bigger than 32766 before HERE mark in regex m/"},
        {"a{3,1}", "Can't do {n,m} with n > m before HERE mark in regex m/a{3,1} << HERE /"},
        {"[z-a]", "Invalid [] range \"z-a\" before HERE mark in regex m/"},
        {"[[:foo:]]", "POSIX class [:foo:] unknown before HERE mark in regex m/"},
        {"[[.a.]]", "POSIX syntax [. .] is reserved for future extensions before HERE mark in regex m/"},
        {"(?(1)a|b|c)", "Switch (?(condition)... contains too many branches before HERE mark in regex m/"},
        {"(?(1x)a)", "Switch condition not recognized before HERE mark in regex m/(?(1x << HERE )a)/"},
        {"(?(a)b)", "Unknown switch condition (?(a) before HERE mark in regex m/(?( << HERE a)b)/"},
        // "(?<)" alone is an empty flag switch; as a condition it tests nothing.
        {"(?(?<)a)", "Unknown switch condition (?(?< before HERE mark in regex m/(?( << HERE ?<)a)/"},
        {"x(?(?<)=a|b)", "Unknown switch condition (?(?< before HERE mark in regex m/x(?( << HERE ?<)=a|b)/"},
        {"(a)\\2", "Reference to nonexistent group before HERE mark in regex m/(a)\\2 << HERE /"},
        {"a)", "Unmatched ) before HERE mark in regex m/a) << HERE /"},
        {"(a", "Unmatched ( in regex m/(a/"},
        {"x(?:a|(b)", "Unmatched ( in regex m/x(?:a|(b)/"},
        {"(" + std::string(130, 'c'), "Unmatched ( in regex m/(" + std::string(116, 'c') + ".../"},
        {"a\\", "Trailing \\ in regex m/a\\/"},
        {"[\\x{100}]", "Code point 0x100 in \\x{} is too large for a byte pattern before HERE mark in regex m/"},
        {long_text, "Use of \\X for wide characters is not supported in regex m/" + std::string(117, 'b') + ".../"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        clear_err();
        int32_t code = 0;
        EXPECT_EQ(compile(c.pattern, "", &code), nullptr);
        EXPECT_NE(code, 0);
        EXPECT_EQ(err_text().substr(0, c.message.size()), c.message);
    }
}

// The form with arguments ends in a newline and is cut to 511 bytes; a cut
// message has lost its newline and takes the usual suffix.
TEST_F(Engine, ErrorWithArgumentsIsCutTo511Bytes)
{
    struct Case {
        std::string pattern;
        std::string text;
    };
    const std::string head = "Sequence (?<x...) not recognized before HERE mark in regex m/";
    const Case cases[] = {
        {"(?<x)", head + "(?<x << HERE )/\n"},
        {std::string(600, 'a') + "(?<x)", head + std::string(450, 'a') + ".\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern.size());
        clear_err();
        int32_t code = 0;
        EXPECT_EQ(compile(c.pattern, "", &code), nullptr);
        EXPECT_NE(code, 0);
        EXPECT_EQ(err_text(), c.text);
    }
}

// A literal run holds at most 127 bytes; a \x{...} takes it to 126 only;
// a quantifier binds the last character alone.
TEST_F(Engine, LiteralRunLengths)
{
    struct Case {
        std::string pattern;
        std::string program;  // opcode names, with the length of each EXACT
    };
    const Case cases[] = {
        // The optimiser joins neighbouring runs up to 255 bytes.
        {std::string(400, 'a'), "EXACT254 EXACT146 END"},
        {std::string(125, 'a') + "\\x{41}" + std::string(200, 'b'), "EXACT254 EXACT72 END"},
        {std::string(126, 'a') + "\\x{41}" + std::string(200, 'b'), "EXACT253 EXACT74 END"},
        {std::string(126, 'a') + "\\x41" + std::string(200, 'b'), "EXACT254 EXACT73 END"},
        {"abc*", "EXACT2 STAR END"},
        {"ab\\Cd", "EXACT2 SANY EXACT1 END"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        std::string program;
        for (re_program_node* n = reinterpret_cast<re_program_node*>(rx->program) + 1; n; n = re_next_in_program(n)) {
            program += std::string(program.empty() ? "" : " ") + re_node_names[n->type];
            if (re_node_kinds[n->type] == RE_EXACT)
                program += std::to_string(n->flags);
        }
        EXPECT_EQ(program, c.program);
        pregfree(gcb, rx);
    }
}

TEST_F(Engine, NullPatternQuotesEmptyText)
{
    re_compiled* rx = compile("ab");
    ASSERT_NE(rx, nullptr);
    pregfree(gcb, rx);
    op_pattern pm{};
    int32_t code = guarded([&] { gcb->re_hook_compile(gcb, nullptr, nullptr, &pm); });
    EXPECT_NE(code, 0);
    EXPECT_EQ(err_text().substr(0, 36), "NULL regexp argument in regex m//.\n");
}

TEST_F(Engine, MatchesWithLiterals)
{
    const MatchCase cases[] = {
        {"(a|ab)(c|bcd)(d*)", "", "abcd", {0, 4, 0, 1, 1, 4, 4, 4}},
        {"(?:(a)b|ac)", "", "ac", {0, 2, -1, -1}},
        {"(a)\\1", "i", "xaA", {1, 3, 1, 2}},
        {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)\\10", "", "abcdefghijj", {0, 11}},
        {"(a)\\10", "", "a\x08", {0, 2}},
        {"(?<=ab)c", "", "acabc", {4, 5}},
        {"(?<!ab)c", "", "c", {0, 1}},
        {"(?>a*)a", "", "aaa", {}},
        {"a*?b", "", "aab", {0, 3}},
        {"(a)?(?(1)b|c)", "", "xc", {1, 2, -1, -1}},
        {"a$", "", "a\n", {0, 1}},
        {"a\\z", "", "a\n", {}},
        {"$", "", "ab\n", {2, 2}},
        {"\\n+$\\n", "", "\n\n", {0, 2}},
        {"abc$", "", "xabc\n", {1, 4}},
        {"abc$", "", "abc\n\n", {}},
        {"\\b$", "", "a", {1, 1}},
        {"", "", "abc", {0, 0}},
        {"a{,3}", "", "xa{,3}", {1, 6}},
        {"\\x{41}\\x41", "", "zAA", {1, 3}},
        {"ab\\C", "", "xabz", {1, 4}},
        {"(?i)abc", "", "xAbC", {1, 4}},
        {"a(?i)b", "", "aB Ab", {0, 2}},
        {"foo.*bar", "", "xfoo12bar", {1, 9}},
        {"^b", "m", "a\nb", {2, 3}},
        // A lookahead after an optional part narrows only what follows it:
        // the start class keeps the optional part's first characters.
        {"c?(?=b)b", "", "cb", {0, 2}},
        {"(?:[x]?(?=c)|a)c", "", "bxc", {1, 3}},
        // A lookahead whose loop matched at a position before may match there
        // again from a later start, with the loop cache on.
        {"(?>(?=(?>a{0,2}[a-c])*(?<=bb))[^bc]{0,2})(?<!a)", "", "abbbcc", {2, 2}},
        // An end anchor after an unbounded repeat may stand anywhere later.
        {"[a-c]\\S+$a*", "", "bbaa", {0, 4}},
        {"\\S+$\\W??", "im", "\nAaa\n", {1, 4}},
        // A leading .* whose group is referred to may start inside a line.
        {"(.*)(b)\\1c", "i", "\nb\nA\ncbbc", {7, 9, 7, 7, 7, 8}},
    };
    for (const MatchCase& c : cases) {
        SCOPED_TRACE(c.pattern);
        clear_err();
        re_compiled* rx = compile(c.pattern, c.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        gcb->multiline = std::string(c.flags).find_first_of("ms") != std::string::npos;
        int32_t r = match(rx, c.subject);
        gcb->multiline = 0;
        expect_groups(rx, r, c.groups);
        pregfree(gcb, rx);
    }
}

TEST_F(Engine, OpFlagsTakeTopLevelSwitches)
{
    re_compiled* rx = compile("(?i)abc");
    ASSERT_NE(rx, nullptr);
    EXPECT_EQ(last_op_flags & 0x4000, 0x4000);
    pregfree(gcb, rx);
}

TEST_F(Engine, GuardTripsWithCodeFour)
{
    re_compiled* rx = compile("^(a|ab)*$");
    ASSERT_NE(rx, nullptr);
    int32_t code = 0;
    EXPECT_EQ(match(rx, std::string(5000, 'a'), &code), -1);
    EXPECT_EQ(code, 4);
    EXPECT_EQ(*re_depth_counter(), 0);
    EXPECT_NE(gcb->errno_cell, 1100);
    pregfree(gcb, rx);
    for (const char* p : {"^a*$", "^(?:a|b)*$", "^(a)*$"}) {
        SCOPED_TRACE(p);
        rx = compile(p);
        ASSERT_NE(rx, nullptr);
        EXPECT_EQ(match(rx, std::string(5000, 'a')), 1);
        pregfree(gcb, rx);
    }
}

TEST_F(Engine, AbsentFloatingSubstringFailsWithoutAttempt)
{
    // An attempt would nest once per "a" and trip the guard.
    re_compiled* rx = compile("(a|ab)*c");
    ASSERT_NE(rx, nullptr);
    int32_t code = 0;
    EXPECT_EQ(match(rx, std::string(5000, 'a'), &code), 0);
    EXPECT_EQ(code, 0);
    pregfree(gcb, rx);
    rx = compile("^(a|aa)*$");
    ASSERT_NE(rx, nullptr);
    EXPECT_EQ(match(rx, std::string(40, 'a') + "b"), 0);
    pregfree(gcb, rx);
}

}  // namespace
