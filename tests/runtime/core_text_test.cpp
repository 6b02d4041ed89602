// Program texts evaluated as string evals: the lexer and the grammar build
// the trees, the run-time ops run them. Each case checks the globals the
// text leaves and what it wrote to standard error.
#include "runtime/core_fixture.h"

#include "ds/src/prxgv.h"

namespace {

class Text : public runtime::Run {
protected:
    void SetUp() override
    {
        Run::SetUp();
        gcb->current_statement = &runtime_cop;
        runtime_cop.cop_stash = gcb->main_stash;
    }

    // Evaluates the program in void context; returns $@.
    std::string eval_program(const char* text)
    {
        op_unary* u = op_alloc_record<op_unary>(gcb);
        op_set_type(gcb, &u->op, OP_ENTEREVAL);
        u->op.op_flags = static_cast<uint8_t>(OPf_WANT_VOID | OPf_STACKED);
        u->op.op_next = nullptr;
        SV** base = gcb->arg_sp;
        *++gcb->arg_sp = sv_make_temporary(gcb, sv_new_from_bytes(gcb, text, std::strlen(text)));
        gcb->op = &u->op;
        int32_t code = run([&] { gcb->run_loop_hook(gcb); });
        gcb->arg_sp = base;
        pool_free(gcb, u);
        EXPECT_TRUE(code == 0 || code == 3) << text << ": " << code;
        return errtext();
    }
};

struct TextCase {
    const char* program;
    const char* var;
    const char* value;
};

TEST_F(Text, RangesLoopsAndPatterns)
{
    const TextCase cases[] = {
        {"for (\"x\" .. \"ab\") { $s .= \"$_,\" }", "s", "x,y,z,aa,ab,"},
        {"for (\"01\" .. \"03\") { $s .= \"$_,\" }", "s", "01,02,03,"},
        {"for (3 .. 1) { $s .= \"$_,\" } $s .= 'end'", "s", "end"},
        {"for ((\"aa\" .. \"ad\"), 'z') { $s .= $_ }", "s", "aaabacadz"},
        {"for (split(//, \"abc\")) { $s .= \"$_|\" }", "s", "a|b|c|"},
        {"for (split('', \"abc\")) { $s .= \"$_|\" }", "s", "a|b|c|"},
        {"for (split(/,/, \"a,b,,,\")) { $s .= \"$_|\" }", "s", "a|b|"},
        {"for (split(\" \", \"  a b  c \")) { $s .= \"$_|\" }", "s", "a|b|c|"},
        {"for (split(/\\s+ /, \"a  b c\")) { $s .= \"$_|\" }", "s", "a|b c|"},
        {"$x = 'hello'; $n = ($x =~ s/l/L/g); $s = \"$x $n\"", "s", "heLLo 2"},
        {"$x = 'abc'; $x =~ s/x*/-/g; $s = $x", "s", "-a-b-c-"},
        {"$x = 'hello'; $x =~ s/l/[$&]/; $s = $x", "s", "he[l]lo"},
        {"$x = 'hello'; $x =~ s/(l+)/$1 . $1/e; $s = $x", "s", "hellllo"},
        {"$x = 'a1b2'; $x =~ s/(\\d)/$1 + 1/ge; $s = $x", "s", "a2b3"},
        {"$x = 'a1b2c3'; while ($x =~ /(\\d)/g) { $s .= $1 }", "s", "123"},
        {"for ('b' =~ /(a)|(b)/) { $s .= \"[$_]\" }", "s", "[][b]"},
        {"for ('a1b22' =~ /\\d+/g) { $s .= \"$_,\" }", "s", "1,22,"},
        {"$_ = 'xyz'; $s = /y/ ? 'yes' : 'no'", "s", "yes"},
        {"OUTER: for my $i (1..3) { for my $j (1..3) { next OUTER if $j == 2; $s .= \"$i$j\" } }", "s", "112131"},
        {"for my $i (1..5) { last if $i == 4; next if $i == 2; $s .= $i }", "s", "13"},
        {"for (1..6) { $s .= (($_ == 2) .. ($_ == 4)) . ',' }", "s", ",1,2,3E0,,,"},
        {"$x = 'a'; $y = 'b'; for ($x, $y) { $_ .= '!' } $s = $x . $y", "s", "a!b!"},
        {"$s = eval '2 + 3'", "s", "5"},
        {"$s = eval { 7 }", "s", "7"},
        {"eval { die \"x\\n\" }; $s = $@", "s", "x\n"},
        {"eval { eval { die \"a\\n\" }; die '' }; $s = $@", "s", "a\n\t...propagated.\n"},
        {"eval { for (1..3) { die \"at $_\\n\" if $_ == 2 } }; $s = $@", "s", "at 2\n"},
    };
    for (const TextCase& c : cases) {
        TearDown();
        SetUp();
        std::string err = eval_program(c.program);
        EXPECT_EQ(err, "") << c.program;
        EXPECT_EQ(gstr(c.var), c.value) << c.program;
        EXPECT_EQ(err_text(), "") << c.program;
    }
}

TEST_F(Text, DieAndWarnTexts)
{
    struct Case {
        const char* program;
        const char* error;   // $@ after the eval
        const char* stderr_text;
    } cases[] = {
        {"die \"plain\\n\"", "plain\n", ""},
        {"die \"no newline\"", "no newline.\n", ""},
        {"warn \"careful\\n\"; warn 'again'", "", "careful\nagain.\n"},
        {"eval { die \"oops\\n\" }; warn ''", "", "oops\n\t...caught.\n"},
        {"1 +", nullptr, ""},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        std::string err = eval_program(c.program);
        if (c.error)
            EXPECT_EQ(err, c.error) << c.program;
        else
            EXPECT_NE(err, "") << c.program << ": a syntax error is reported in $@";
        EXPECT_EQ(err_text(), c.stderr_text) << c.program;
    }
}

}  // namespace
