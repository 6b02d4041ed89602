// The pattern compiler: node programs, the dump, refusals and errors.
#include "re_fixture.h"

#include <algorithm>

#include "ds/src/prxrun.h"
#include "ds/src/prxsv.h"

namespace {

using prxtest::Engine;


}  // namespace

namespace {

TEST_F(Engine, PatternFlagLetters)
{
    struct Case {
        const char* letters;
        uint16_t want;
    };
    const Case cases[] = {
        {"i", 0x4000}, {"m", 0x1000}, {"s", 0x2000}, {"x", 0x8000}, {"o", 0x0080},
        {"g", 0x0100}, {"c", 0x0200}, {"ii", 0x4000}, {"e", 0}, {"imsx", 0xF000},
    };
    for (const Case& c : cases) {
        uint16_t word = 0x0001;  // bits of the op that the letters leave alone
        for (const char* p = c.letters; *p; p++)
            pattern_flag_add(gcb, &word, *p);
        EXPECT_EQ(word, static_cast<uint16_t>(c.want | 0x0001)) << c.letters;
    }
}

// Analysis of patterns whose programs hold no literal runs.
TEST_F(Engine, MinimumLengthAnchorsAndStartClasses)
{
    struct Case {
        const char* pattern;
        const char* flags;
        int32_t min_length;
        uint32_t anchors;      // analysis_flags & 0xFF
        const char* stclass;   // opcode name of the start class, or "" for none
    };
    const Case cases[] = {
        {"\\d+", "", 1, 0x10, "DIGIT"},
        {"[ab]{3,5}", "", 3, 0, "ANYOF"},
        {"^[a-z]", "", 1, 0x1, "ANYOF"},
        {"^[a-z]", "m", 1, 0x2, "ANYOF"},
        {"\\A\\w", "", 1, 0x4, "ALNUM"},
        {".*\\d", "", 1, 0x22, "ANYOF"},
        {".*\\d", "s", 1, 0x24, ""},
        {"[ab]|[cd]", "", 1, 0, "ANYOF"},
        {"\\s*\\d", "", 1, 0, "ANYOF"},
        {"(?:[a]|[b][c])*", "", 0, 0, ""},
        {"\\bx?", "", 0, 0, "BOUND"},
        {"\\G\\d", "", 1, 0x88, "DIGIT"},
        {"(\\d)(\\w)", "", 2, 0, "DIGIT"},
        {"[a]{0,3}[b]", "", 1, 0, "ANYOF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern, c.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        EXPECT_EQ(rx->min_length, c.min_length);
        EXPECT_EQ(rx->analysis_flags & 0xFF, c.anchors);
        std::string name = rx->start_class ? re_node_names[rx->start_class->type] : "";
        EXPECT_EQ(name, c.stclass);
        pregfree(gcb, rx);
    }
}

TEST_F(Engine, SyntheticStartClassOfAlternation)
{
    re_compiled* rx = compile("[a]|[b]");
    ASSERT_NE(rx, nullptr);
    ASSERT_NE(rx->start_class, nullptr);
    for (int c = 0; c < 256; c++)
        EXPECT_EQ(re_bitmap_test(rx->start_class->bitmap, static_cast<uint8_t>(c)), c == 'a' || c == 'b') << c;
    ASSERT_NE(rx->data, nullptr);
    EXPECT_EQ(rx->data->count, 1u);
    EXPECT_EQ(rx->data->what[0], 'f');
    EXPECT_EQ(rx->substrings[0].substr, nullptr);
    EXPECT_EQ(rx->substrings[1].substr, nullptr);
    pregfree(gcb, rx);
}

// Programs of 65536 units or more use BRANCHJ and LONGJMP for long distances.
TEST_F(Engine, LongJumpFormsForBigPrograms)
{
    std::string small = "(?:[a]|[b]|)[c]";
    std::string big;
    for (int i = 0; i < 3000; i++)
        big += "(?:[a]|[b]|)";
    big += "[c]";
    for (const std::string* p : {&small, &big}) {
        re_compiled* rx = compile(*p);
        ASSERT_NE(rx, nullptr) << err_text();
        bool branchj = false, branch = false, longjmp = false;
        re_program_node* n = reinterpret_cast<re_program_node*>(rx->program) + 1;
        // Walk every node of the program in order.
        for (;;) {
            uint8_t op = n->type;
            branchj |= op == RE_BRANCHJ;
            branch |= op == RE_BRANCH;
            longjmp |= op == RE_LONGJMP;
            if (op == RE_END)
                break;
            if (op == RE_ANYOF)
                n += 1 + RE_BITMAP_UNITS + ((n->flags & RE_CLASS_NAMED) ? 1 : 0);
            else if (re_node_kinds[op] == RE_EXACT)
                n += re_exact_units(n->flags);
            else
                n += 1 + re_arg_units[op];
        }
        if (p == &small) {
            EXPECT_TRUE(branch);
            EXPECT_FALSE(branchj);
            EXPECT_FALSE(longjmp);
        } else {
            EXPECT_FALSE(branch);
            EXPECT_TRUE(branchj);
            EXPECT_TRUE(longjmp);
        }
        EXPECT_EQ(match(rx, "xxabbac"), 1) << err_text();
        EXPECT_EQ(rx->start_offsets[0], p == &small ? 5 : 2);
        EXPECT_EQ(rx->end_offsets[0], 7);
        pregfree(gcb, rx);
    }
}

}  // namespace

namespace {

std::string members(const re_class_node* cl)
{
    std::string s;
    for (int c = 0; c < 256; c++)
        if (re_bitmap_test(cl->bitmap, static_cast<uint8_t>(c)))
            s += static_cast<char>(c);
    return s;
}

// Every POSIX class name, and its negation, by the host's ASCII tables.
TEST_F(Engine, PosixClassNames)
{
    struct Case {
        const char* name;
        std::string want;
    };
    std::string all;
    for (int c = 0; c < 256; c++)
        all += static_cast<char>(c);
    auto select = [&](bool (*f)(int)) {
        std::string s;
        for (int c = 0; c < 256; c++)
            if (f(c))
                s += static_cast<char>(c);
        return s;
    };
    const Case cases[] = {
        {"alpha", select([](int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); })},
        {"alnum", select([](int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); })},
        {"ascii", select([](int c) { return c < 128; })},
        {"blank", "\t "},
        {"cntrl", select([](int c) { return c < 32 || c == 127; })},
        {"digit", "0123456789"},
        {"graph", select([](int c) { return c > 32 && c < 127; })},
        {"lower", "abcdefghijklmnopqrstuvwxyz"},
        {"print", select([](int c) { return c >= 32 && c < 127; })},
        {"punct", select([](int c) {
             return c > 32 && c < 127 && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
         })},
        {"space", "\t\n\v\f\r "},
        {"upper", "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {"word", select([](int c) {
             return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
         })},
        {"xdigit", "0123456789ABCDEFabcdef"},
    };
    for (const Case& c : cases) {
        for (bool negated : {false, true}) {
            std::string pattern = std::string("[[:") + (negated ? "^" : "") + c.name + ":]]";
            SCOPED_TRACE(pattern);
            re_compiled* rx = compile(pattern);
            ASSERT_NE(rx, nullptr) << err_text();
            const re_class_node* cl = reinterpret_cast<const re_class_node*>(rx->program + 1);
            ASSERT_EQ(cl->type, RE_ANYOF);
            std::string want = c.want;
            if (negated) {
                std::string comp;
                for (int ch = 0; ch < 256; ch++)
                    if (want.find(static_cast<char>(ch)) == std::string::npos)
                        comp += static_cast<char>(ch);
                want = comp;
            }
            EXPECT_EQ(members(cl), want);
            pregfree(gcb, rx);
        }
    }
}

TEST_F(Engine, ClassMembersAndEscapes)
{
    struct Case {
        const char* pattern;
        const char* flags;
        std::string want;
    };
    const Case cases[] = {
        {"[]a]", "", "]a"},
        {"[a-]", "", "-a"},
        {"[\\x{41}\\x42]", "", "AB"},
        {"[\\x{e9}]", "", "\xe9"},
        {"[\\101\\cA\\t]", "", std::string("\x01\tA")},
        {"[A-C]", "i", "ABCabc"},
        {"[:alpha:]", "", ":ahlp"},
        {"[\\d-z]", "", "-0123456789z"},
        {"[\\p{L}]", "", "Lp{}"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern, c.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        const re_class_node* cl = reinterpret_cast<const re_class_node*>(rx->program + 1);
        ASSERT_EQ(cl->type, RE_ANYOF);
        EXPECT_EQ(members(cl), c.want);
        pregfree(gcb, rx);
    }
}

// Warnings of the regexp category: only while it is enabled, in the
// position form, the piece of a null-string repeat quoted whole.
TEST_F(Engine, RegexpWarnings)
{
    struct Case {
        std::string pattern;
        std::string warning;
    };
    std::string long_piece = "(?:";
    for (int i = 0; i < 300; i++)
        long_piece += "\\b";
    long_piece += ")*";
    const Case cases[] = {
        {"\\q", "Unrecognized escape \\q passed through before HERE mark in regex m/\\q << HERE /.\n"},
        {"[\\q]", "Unrecognized escape \\q in character class passed through before HERE mark in regex m/[\\q << HERE ]/.\n"},
        {"[\\p{L}]", "Unrecognized escape \\p in character class passed through before HERE mark in regex m/[\\p << HERE {L}]/.\n"},
        {"[\\w-z]", "False [] range \"\\w-\" before HERE mark in regex m/[\\w- << HERE z]/.\n"},
        {"(?:)*", "(?:)* matches null string many times before HERE mark in regex m/(?:)* << HERE /.\n"},
        {"[:alpha:]",
         "POSIX syntax [: :] belongs inside character classes before HERE mark in regex m/[:alpha:] << HERE /.\n"},
        {long_piece, long_piece + " matches null string many times before HERE mark in regex m/" + long_piece +
                         " << HERE /.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        for (int on : {0, 1}) {
            gcb->warn_switch = on;
            clear_err();
            re_compiled* rx = compile(c.pattern);
            ASSERT_NE(rx, nullptr) << err_text();
            EXPECT_EQ(err_text(), on ? c.warning : "");
            pregfree(gcb, rx);
        }
    }
    gcb->warn_switch = 0;
}

// A regexp warning made fatal ends the compile and frees the half-built
// pattern.
TEST_F(Engine, FatalWarningFreesThePattern)
{
    COP cop;
    make_regexp_warnings_fatal(&cop);
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    int32_t code = 0;
    EXPECT_EQ(compile("\\q", "", &code), nullptr);  // the stacks and the capture are made once
    tmps_free_to_floor(gcb);
    size_t before = pool->live.size();
    EXPECT_EQ(compile("a\\q", "", &code), nullptr);
    EXPECT_NE(code, 0);
    const std::string want = "Unrecognized escape \\q passed through before HERE mark in regex m/a\\q << HERE /.\n";
    std::string text = err_text();
    EXPECT_EQ(text.substr(text.size() - std::min(text.size(), want.size())), want);
    tmps_free_to_floor(gcb);  // the message
    EXPECT_EQ(pool->live.size(), before);
    gcb->current_statement = nullptr;
    sv_release(gcb, cop.cop_warnings);
}

// An error raised after the size pass (here the optimiser's) ends the
// compile with a half-built pattern, which goes when the catcher unwinds its
// scope; the same holds for every error of the emit pass, whoever raises it.
TEST_F(Engine, ErrorsAfterTheSizePassFreeThePattern)
{
    struct Case {
        const char* pattern;
        const char* error;  // the end of the error text
    } cases[] = {
        {"a(?<=b+)", "Variable length lookbehind not implemented before HERE mark in regex m/a(?<=b+) << HERE /.\n"},
        {"(?<=x|yz)c", "Variable length lookbehind not implemented before HERE mark in regex m/(?<=x|yz)c << HERE /.\n"},
    };
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    for (const Case& c : cases) {
        EXPECT_EQ(compile(c.pattern), nullptr) << c.pattern;  // the stacks and the capture are made once
        tmps_free_to_floor(gcb);
        size_t before = pool->live.size();
        int32_t code = 0;
        EXPECT_EQ(compile(c.pattern, "", &code), nullptr) << c.pattern;
        EXPECT_EQ(code, 2) << c.pattern;
        std::string text = err_text();
        std::string want = c.error;
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), want.size())), want) << c.pattern;
        tmps_free_to_floor(gcb);
        EXPECT_EQ(pool->live.size(), before) << c.pattern;
    }
}

// A pattern is freed with its data-array entries when its count reaches 0.
TEST_F(Engine, FreedWhenCountReachesZero)
{
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    re_compiled* rx = compile("([a])|[b]");
    ASSERT_EQ(match(rx, "a"), 1);  // the matcher's scratch stays with the interpreter
    pregfree(gcb, rx);
    size_t before = pool->live.size();
    rx = compile("[a]|[b]");
    ASSERT_NE(rx, nullptr);
    ASSERT_NE(rx->data, nullptr);
    EXPECT_GT(pool->live.size(), before);
    rx->ref_count++;
    pregfree(gcb, rx);
    EXPECT_EQ(rx->ref_count, 1);
    EXPECT_EQ(match(rx, "xb"), 1);
    pregfree(gcb, rx);
    EXPECT_EQ(pool->live.size(), before);
    pregfree(gcb, nullptr);
}

// Repeats of zero-width items: where the item holds, every count matches
// the empty string there, at the end of the subject too; where it fails,
// only a count of 0 is left.
TEST_F(Engine, RepeatsOfZeroWidthAtoms)
{
    struct Case {
        const char* pattern;
        const char* subject;
        int32_t start;
        int32_t end;
    };
    const Case cases[] = {
        {"[a](?:\\B)+", "ab", 0, 1},
        {"[a](?:\\B)*", "ab", 0, 1},
        {"[a](?:\\b)+", "ab", -1, -1},
        {"(?:^)+", "", 0, 0},
        {"(?:^)+", "x", 0, 0},
        {"(){1}", "", 0, 0},
        {"(?:a(?:)+)+", "a", 0, 1},
        {"(?:\\b)+", "B", 0, 0},
        {"\\b+", "B", 0, 0},
        {"\\b+", "", -1, -1},
        {"\\b{2,3}x", "-x", 1, 2},
        {"\\B+?a", "ba", 1, 2},
        {"$+", "ab", 2, 2},
        {"x\\z{1,}", "ax", 1, 2},
        {"(?:\\b){0}a", "a", 0, 1},
        {"(?:()*){2}\\d", "A", -1, -1},
        {"(()*){2}\\d", "ab", -1, -1},
        {"(()*){2}\\d", "a1", 1, 2},
        {"(?:(){0,5}?a){2}", "aa", 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t code = 0;
        int32_t r = match(rx, c.subject, &code);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(r == 1 ? rx->start_offsets[0] : -1, c.start);
        EXPECT_EQ(r == 1 ? rx->end_offsets[0] : -1, c.end);
        pregfree(gcb, rx);
    }
}

}  // namespace

namespace {

// Group nesting is bounded, so that the parser never runs out of stack.
TEST_F(Engine, GroupNestingLimit)
{
    auto nested = [](int depth) { return std::string(depth, '(') + "[a]" + std::string(depth, ')'); };
    re_compiled* rx = compile(nested(900));
    ASSERT_NE(rx, nullptr) << err_text();
    EXPECT_EQ(rx->group_count, 900u);
    EXPECT_EQ(match(rx, "xa"), 1);
    EXPECT_EQ(rx->start_offsets[900], 1);
    pregfree(gcb, rx);
    int32_t code = 0;
    rx = compile(nested(1000));
    ASSERT_NE(rx, nullptr) << err_text();
    EXPECT_EQ(rx->group_count, 1000u);
    pregfree(gcb, rx);
    EXPECT_EQ(compile(nested(1001), "", &code), nullptr);
    EXPECT_NE(code, 0);
    EXPECT_NE(err_text().find("Groups nested more than 1000 deep"), std::string::npos) << err_text();
    clear_err();
    EXPECT_EQ(compile(nested(5000), "", &code), nullptr);
    EXPECT_NE(code, 0);
}

}  // namespace

namespace {

// Patterns whose text is UTF-8, compiled as the pattern op of such a text.
class Utf8Engine : public Engine {
protected:
    re_compiled* compile_utf8(const std::string& pattern, int32_t* code = nullptr)
    {
        op_pattern pm{};
        pm.op_pmdynflags = 0x04;
        re_compiled* rx = nullptr;
        int32_t saved = gcb->savestack_ix;
        int32_t c = guarded([&] { rx = gcb->re_hook_compile(gcb, pattern.data(), pattern.data() + pattern.size(), &pm); });
        if (c)
            leave_scope(gcb, saved);
        if (code)
            *code = c;
        return c ? nullptr : rx;
    }
};

// Literal runs of a UTF-8 pattern: characters are taken whole while the run
// holds at most 126 bytes, a \x{...} only while it fits in 126, and a code
// point above the interpreter's unsigned range stops at 0xFFFFFFFF.
TEST_F(Utf8Engine, LiteralRuns)
{
    struct Case {
        std::string pattern;
        std::string program;  // opcode names, with the length of each EXACT
        std::string text;     // the first EXACT's text
    };
    std::string e_acute = "\xC3\xA9";
    std::string many;
    for (int i = 0; i < 200; i++)
        many += e_acute;
    const Case cases[] = {
        // 63 characters make 126 bytes: the 64th still joins the run. The
        // optimiser joins neighbouring runs up to 255 bytes.
        {many, "EXACT128 EXACT128 EXACT144 END", many.substr(0, 128)},
        {std::string(126, 'a') + e_acute + std::string(200, 'b'), "EXACT255 EXACT73 END",
         std::string(126, 'a') + e_acute + std::string(127, 'b')},
        {std::string(126, 'a') + "\\x{e9}" + std::string(200, 'b'), "EXACT253 EXACT75 END",
         std::string(126, 'a') + e_acute + std::string(125, 'b')},
        {"a\\x{100000041}b", "EXACT9 END", "a\xFE\x83\xBF\xBF\xBF\xBF\xBF" "b"},
        {"\\x{FFFFFFFF}", "EXACT7 END", "\xFE\x83\xBF\xBF\xBF\xBF\xBF"},
        {"\\xE9\\351\\N", "EXACT5 END", e_acute + e_acute + "N"},
        {"ab\xC4\x80*", "EXACT2 CURLYM END", "ab"},
        {"\xC4\x80+", "CURLYM END", ""},
        {"\\\xC3\xA9.", "EXACT2 ANYUTF8 END", e_acute},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        re_compiled* rx = compile_utf8(c.pattern);
        ASSERT_NE(rx, nullptr) << err_text();
        std::string program, text;
        for (re_program_node* n = reinterpret_cast<re_program_node*>(rx->program) + 1; n; n = re_next_in_program(n)) {
            program += std::string(program.empty() ? "" : " ") + re_node_names[n->type];
            if (re_node_kinds[n->type] == RE_EXACT) {
                program += std::to_string(n->flags);
                if (text.empty())
                    text.assign(re_text(n), n->flags);
            }
        }
        EXPECT_EQ(program, c.program);
        EXPECT_EQ(text, c.text);
        pregfree(gcb, rx);
    }
}

// A regexp warning made fatal inside a UTF-8 class ends the compile in the
// emit pass, before the class has its swash: nothing is left behind once
// the catcher has unwound and freed its temporaries.
TEST_F(Utf8Engine, FatalWarningInAClassLeavesNothing)
{
    COP cop;
    make_regexp_warnings_fatal(&cop);
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    struct Case {
        const char* pattern;
        const char* warning;  // the end of the error text
    } cases[] = {
        {"a[\\q]", "Unrecognized escape \\q in character class passed through before HERE mark in regex m/a[\\q << HERE ]/.\n"},
        {"[\\x{100}-\\w]", "False [] brange \"\\x{100}-\\w\" before HERE mark in regex m/[\\x{100}-\\w << HERE ]/.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(compile_utf8(c.pattern), nullptr);  // the stacks and the capture are made once
        tmps_free_to_floor(gcb);
        size_t before = pool->live.size();
        int32_t code = 0;
        EXPECT_EQ(compile_utf8(c.pattern, &code), nullptr);
        EXPECT_NE(code, 0);
        std::string text = err_text();
        std::string want = c.warning;
        EXPECT_EQ(text.substr(text.size() - std::min(text.size(), want.size())), want);
        tmps_free_to_floor(gcb);  // the message
        EXPECT_EQ(pool->live.size(), before);
    }
    gcb->current_statement = nullptr;
    sv_release(gcb, cop.cop_warnings);
}

}  // namespace
