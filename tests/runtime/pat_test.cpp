// Pattern ops through the run loop: qr values, match in scalar, list and
// global forms with pos, the reuse of the last pattern, substitution with
// constant and evaluated replacements, and split with its special cases.
#include <functional>

#include "runtime/core_fixture.h"

#include "ds/src/prxmg.h"
#include "ds/src/prxre.h"

namespace {

class Pat : public runtime::Run {
protected:
    // A pattern op of the type with its modifiers, its text compiled now.
    OP* pattern(int32_t type, const char* text, const char* flags, OP* repl = nullptr)
    {
        OP* o = op_new_pattern(gcb, type, 0);
        op_pattern* pm = op_as_pattern(o);
        for (const char* f = flags; *f; f++) {
            if (*f == 'e')
                pm->op_pmflags |= PMf_EVAL;
            else
                pattern_flag_add(gcb, &pm->op_pmflags, *f);
        }
        pm->op_pmpermflags = pm->op_pmflags;
        return op_pattern_runtime(gcb, o, kstr(text), repl);
    }
    // SUBJECT =~ m/TEXT/FLAGS
    OP* match(OP* subject, const char* text, const char* flags = "")
    {
        return op_new_binding(gcb, OP_MATCH, subject, pattern(OP_MATCH, text, flags));
    }
    // SUBJECT =~ s/TEXT/REPL/FLAGS
    OP* subst(OP* subject, const char* text, OP* repl, const char* flags = "")
    {
        return op_new_binding(gcb, OP_MATCH, subject, pattern(OP_SUBST, text, flags, repl));
    }
    // split(PATTERN, TEXT[, LIMIT]), the pattern given as a text op.
    OP* split(OP* pat, OP* text, OP* limit = nullptr)
    {
        OP* args = op_list_append(gcb, OP_LIST, pat, text);
        if (limit)
            args = op_list_append(gcb, OP_LIST, args, limit);
        return op_convert_list(gcb, OP_SPLIT, 0, args);
    }
    // $s .= $_ . "|" for each item of the list.
    OP* join_into_s(OP* items)
    {
        return foreach(nullptr, nullptr, items,
                       {stmt(assign_op(OP_CONCAT, var("s"), binop(OP_CONCAT, var("_"), kstr("|"))))});
    }
};

TEST_F(Pat, QrMakesAPatternObject)
{
    OP* prog = seq({stmt(assign(var("q"), pattern(OP_QR, "abc", "i"))),
                    stmt(assign(var("t"), binop(OP_CONCAT, kstr(""), var("q"))))});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    SV* q = global("q");
    ASSERT_TRUE(q->flags & SVf_ROK);
    SV* referent = sv_rv(q);
    MAGIC* mg = mg_find_by_type(gcb, referent, 'r');
    ASSERT_NE(mg, nullptr);
    re_compiled* rx = reinterpret_cast<re_compiled*>(mg->obj);
    EXPECT_EQ(std::string(rx->pattern_text, rx->pattern_length), "abc");
    EXPECT_EQ(std::string(sv_referent_type_name(gcb, referent, 1)), "Regexp");
    EXPECT_EQ(gstr("t"), "(?i-xsm:abc)");
}

TEST_F(Pat, ScalarMatchSetsTheCaptures)
{
    OP* prog = seq({
        stmt(assign(var("x"), kstr("hello world"))),
        stmt(assign(var("r"), match(var("x"), "(o)\\s(w)"))),
        stmt(assign(var("one"), var("1"))),
        stmt(assign(var("two"), var("2"))),
        stmt(assign(var("no"), match(var("x"), "xyz"))),
        // An empty pattern reuses the last successful one.
        stmt(assign(var("again"), match(kstr("to w"), ""))),
    });
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("r"), "1");
    EXPECT_EQ(gstr("one"), "o");
    EXPECT_EQ(gstr("two"), "w");
    EXPECT_EQ(gstr("no"), "");
    EXPECT_EQ(gstr("again"), "1");
}

TEST_F(Pat, ListMatchYieldsTheGroups)
{
    struct Case {
        const char* subject;
        const char* pattern;
        const char* flags;
        const char* joined;
    } cases[] = {
        {"b", "(a)|(b)", "", "|b|"},
        {"key=value", "(\\w+)=(\\w+)", "", "key|value|"},
        {"abc", "b", "", "1|"},
        {"abc", "x", "", ""},
        {"a1b22c333", "\\d+", "g", "1|22|333|"},
        {"k1=v1,k2=v2", "(\\w+)=(\\w+)", "g", "k1|v1|k2|v2|"},
        {"aaa", "x*", "g", "||||"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        OP* prog = seq({join_into_s(list({match(kstr(c.subject), c.pattern, c.flags)}))});
        ASSERT_EQ(run_program(prog), 0) << c.pattern << err_text();
        EXPECT_EQ(gstr("s"), c.joined) << c.subject << " =~ /" << c.pattern << "/" << c.flags;
    }
}

TEST_F(Pat, GlobalScalarMatchWalksWithPos)
{
    // $x = "a1b2c3"; while ($x =~ /(\d)/g) { $s .= $1 }; $after = ($x =~ /\d/g)
    OP* prog = seq({
        stmt(assign(var("x"), kstr("a1b2c3"))),
        loop_while(nullptr, match(var("x"), "(\\d)", "g"), {stmt(assign_op(OP_CONCAT, var("s"), var("1")))}),
        stmt(assign(var("after"), match(var("x"), "\\d", "g"))),
    });
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("s"), "123");
    // The failed match reset pos, so the next one starts over.
    EXPECT_EQ(gstr("after"), "1");
    MAGIC* mg = mg_find_by_type(gcb, global("x"), 'g');
    ASSERT_NE(mg, nullptr);
    EXPECT_EQ(mg->len, 2);
}

TEST_F(Pat, SubstitutionForms)
{
    struct Case {
        const char* what;
        const char* subject;
        const char* pattern;
        const char* flags;
        std::function<OP*()> repl;
        const char* result;
        const char* count;
    };
    std::vector<Case> cases = {
        {"once, shorter", "hello", "ll", "", [&] { return kstr("L"); }, "heLo", "1"},
        {"once, near the end", "hello there", "e", "", [&] { return kstr(""); }, "hllo there", "1"},
        {"once, same length", "hello", "l", "", [&] { return kstr("L"); }, "heLlo", "1"},
        {"global", "hello", "l", "g", [&] { return kstr("L"); }, "heLLo", "2"},
        {"global, longer", "a.b.c", "\\.", "g", [&] { return kstr("::"); }, "a::b::c", "2"},
        {"empty matches", "abc", "x*", "g", [&] { return kstr("-"); }, "-a-b-c-", "4"},
        {"no match", "abc", "z", "", [&] { return kstr("-"); }, "abc", ""},
        {"a variable", "a-b", "-", "g", [&] { return var("rep"); }, "a<>b", "1"},
        {"evaluated", "hello", "(l+)", "e", [&] { return binop(OP_CONCAT, var("1"), var("1")); }, "hellllo", "1"},
        {"evaluated, global", "a1b2", "(\\d)", "ge", [&] { return binop(OP_CONCAT, var("1"), kstr("!")); },
         "a1!b2!", "2"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        sv_set_cstring(gcb, global("rep"), "<>");
        OP* prog = seq({stmt(assign(var("x"), kstr(c.subject))),
                        stmt(assign(var("n"), subst(var("x"), c.pattern, c.repl(), c.flags)))});
        ASSERT_EQ(run_program(prog), 0) << c.what << err_text();
        EXPECT_EQ(gstr("x"), c.result) << c.what;
        EXPECT_EQ(gstr("n"), c.count) << c.what;
        EXPECT_EQ(gcb->current_level->si_cxix, -1) << c.what;
    }
}

TEST_F(Pat, SubstitutionOfAReadOnlyValueDies)
{
    global("ro")->flags |= SVf_READONLY;
    OP* prog = seq({stmt(subst(var("ro"), "b", kstr("x")))});
    EXPECT_EQ(run_program(prog), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

TEST_F(Pat, SplitForms)
{
    struct Case {
        const char* what;
        std::function<OP*()> pattern;
        const char* text;
        int64_t limit;  // 0: none given
        const char* joined;
    };
    std::vector<Case> cases = {
        {"empty pattern", [&] { return pattern(OP_MATCH, "", ""); }, "abc", 0, "a|b|c|"},
        {"empty text", [&] { return kstr(""); }, "abc", 0, "a|b|c|"},
        {"trailing empty fields go", [&] { return pattern(OP_MATCH, ",", ""); }, "a,b,,,", 0, "a|b|"},
        {"unless a limit keeps them", [&] { return pattern(OP_MATCH, ",", ""); }, "a,b,,,", -1, "a|b||||"},
        {"a positive limit", [&] { return pattern(OP_MATCH, ",", ""); }, "a,b,c,d", 2, "a|b,c,d|"},
        {"one blank: awk mode", [&] { return kstr(" "); }, "  a b  c ", 0, "a|b|c|"},
        {"blanks after \\s+ are no awk mode", [&] { return pattern(OP_MATCH, "\\s+ ", ""); }, "a  b c", 0,
         "a|b c|"},
        {"\\s+ keeps a leading field", [&] { return pattern(OP_MATCH, "\\s+", ""); }, " a b", 0, "|a|b|"},
        {"line starts", [&] { return pattern(OP_MATCH, "^", ""); }, "a\nb\nc", 0, "a\n|b\n|c|"},
        {"groups are fields", [&] { return pattern(OP_MATCH, "(,)", ""); }, "a,b", 0, "a|,|b|"},
        {"a longer separator", [&] { return pattern(OP_MATCH, "::", ""); }, "a::b::c", 0, "a|b|c|"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        OP* call = split(c.pattern(), kstr(c.text), c.limit ? konst(c.limit) : nullptr);
        OP* prog = seq({join_into_s(list({call}))});
        ASSERT_EQ(run_program(prog), 0) << c.what << err_text();
        EXPECT_EQ(gstr("s"), c.joined) << c.what;
    }
}

TEST_F(Pat, SplitInScalarContextCountsTheFields)
{
    OP* prog = nullptr;
    int32_t code = run([&] { prog = seq({stmt(assign(var("n"), split(pattern(OP_MATCH, ",", ""), kstr("a,b,c"))))}); });
    ASSERT_EQ(code, 0) << err_text();
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("n"), "3");
}

}  // namespace
