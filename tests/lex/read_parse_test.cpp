// Program texts parsed end to end: the reader's tokens through the grammar
// parser and the op builders, compared as tree shapes; precedence and
// associativity, and syntax errors.
#include "lex/read_fixture.h"

#include "ds/src/prxdump.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxre.h"
#include "hostsim/hostsim.h"

namespace lextest {
namespace {

class Parse : public Reader {
protected:
    void SetUp() override
    {
        Reader::SetUp();
        re_install_hooks(gcb);
        // Constant subtrees are folded through the run loop as they are built.
        gcb->run_loop_hook = run_op_loop;
    }

    // The tree of an op: its name, its kids in parentheses; statement ops
    // and list marks are left out, nulled ops show as their kids.
    std::string shape(OP* o)
    {
        std::string out;
        std::vector<std::string> kids;
        for (OP* k = op_has_kids(o) ? op_first_kid(o) : nullptr; k; k = k->op_sibling) {
            if (k->op_type == OP_NEXTSTATE || k->op_type == OP_PUSHMARK)
                continue;
            kids.push_back(shape(k));
        }
        if (o->op_type == OP_NULL && kids.size() == 1)
            return kids[0];
        out = op_name_image[o->op_type];
        if (o->op_type == OP_CONST) {
            SV* sv = op_value_sv(o);
            out += "[" + (sv_ok(sv) ? str(sv) : std::string("undef")) + "]";
        }
        if (o->op_type == OP_GV || o->op_type == OP_GVSV)
            out += "[" + std::string(gv_body(reinterpret_cast<GV*>(op_value_sv(o)))->name) + "]";
        if (!kids.empty()) {
            out += "(";
            for (size_t i = 0; i < kids.size(); i++)
                out += (i ? ", " : "") + kids[i];
            out += ")";
        }
        return out;
    }

    // Parses text as an evaluated string; the tree of its statements, or
    // the first syntax error.
    std::string parse(const std::string& text)
    {
        open(text);
        gcb->eval_root = nullptr;
        queued_errors.clear();
        int32_t result = -1;
        int32_t code = run([&] { result = grammar_parse(gcb); });
        if (code)
            return "! " + err_text();
        if (!queued_errors.empty())
            return queued_errors.front();
        if (result != 0 || !gcb->eval_root)
            return "parse gave up";
        return shape(gcb->eval_root);
    }

    // The op-tree dump of the eval root, as the debug stream receives it.
    std::string dump_eval_root()
    {
        gcb->dump_indent = 4;
        uint32_t before = gcb->out.len;
        dump_op_tree_debug(gcb, gcb->eval_root);
        bool bad = false;
        return hostsim::Host::decode_lines(std::string(gcb->out.buf + before, gcb->out.len - before), &bad);
    }
};

// The shape of the only statement of an evaluated text.
#define STATEMENT(text) parse(text)

TEST_F(Parse, GeneratedPatternText)
{
    EXPECT_EQ(parse("qr/a+b/i"), "leaveeval(lineseq(qr))");
    // The pattern was compiled at once, with its flag.
    OP* seq = op_first_kid(gcb->eval_root);
    OP* qr = nullptr;
    for (OP* k = op_first_kid(seq); k; k = k->op_sibling)
        if (k->op_type == OP_QR)
            qr = k;
    ASSERT_NE(qr, nullptr);
    EXPECT_NE(op_as_pattern(qr)->op_pmregexp, nullptr);
    EXPECT_EQ(op_as_pattern(qr)->op_pmflags & 0x4000, 0x4000);
    EXPECT_EQ(parse("0"), "leaveeval(lineseq(const[0]))");
}

// The generated pattern text compiled as an eval, as the op-tree dump shows
// it: nextstate 1, qr 2 and leaveeval 3 in execution order; the lineseq
// is passed over by the peephole pass and has no sequence number.
TEST_F(Parse, DumpOfAnEvaluatedPattern)
{
    ASSERT_EQ(parse("qr/abc/i"), "leaveeval(lineseq(qr))");
    EXPECT_EQ(dump_eval_root(),
              "{\n"
              "3   TYPE = leaveeval  ===> DONE\n"
              "    TARG = 1\n"
              "    FLAGS = (UNKNOWN,KIDS)\n"
              "    REFCNT = 1\n"
              "    {\n"
              "        TYPE = lineseq  ===> (3)\n"
              "        FLAGS = (UNKNOWN,KIDS)\n"
              "        {\n"
              "1           TYPE = nextstate  ===> 2\n"
              "            LINE = 1\n"
              "            PACKAGE = \"main\"\n"
              "        }\n"
              "        {\n"
              "2           TYPE = qr  ===> 3\n"
              "            {\n"
              "                PMf_PRE /abc/\n"
              "                PMFLAGS = ()\n"
              "            }\n"
              "        }\n"
              "    }\n"
              "}\n");
    EXPECT_EQ(gcb->eval_start->op_type, OP_NEXTSTATE);
    EXPECT_EQ(gcb->eval_start->op_next->op_type, OP_QR);
    EXPECT_EQ(gcb->eval_start->op_next->op_next, gcb->eval_root);
}

// A lexical declared and assigned, a statement modifier and a while loop:
// the introduced padsv, the and ops with their OTHER branch, the loop's
// REDO, NEXT and LAST, and the body that runs back to the condition.
TEST_F(Parse, DumpOfStatementsWithALexicalAConditionAndALoop)
{
    ASSERT_NE(parse("my $x = 1;\n$x = 2 if $x;\nwhile ($x) { last }").substr(0, 9), "! ");
    EXPECT_EQ(dump_eval_root(), R"({
20  TYPE = leaveeval  ===> DONE
    TARG = 1
    FLAGS = (UNKNOWN,KIDS)
    REFCNT = 1
    {
        TYPE = lineseq  ===> (20)
        FLAGS = (UNKNOWN,KIDS)
        {
1           TYPE = nextstate  ===> 2
            LINE = 1
            PACKAGE = "main"
        }
        {
4           TYPE = sassign  ===> 5
            FLAGS = (SCALAR,KIDS,STACKED)
            {
2               TYPE = const  ===> 3
                FLAGS = (SCALAR)
                SV = 
            }
            {
3               TYPE = padsv  ===> 4
                TARG = 1
                FLAGS = (SCALAR,REF,MOD,SPECIAL)
                PRIVATE = (INTRO)
            }
        }
        {
5           TYPE = nextstate  ===> 6
            LINE = 2
            PACKAGE = "main"
        }
        {
            TYPE = null  ===> (11)
            FLAGS = (UNKNOWN,KIDS)
            {
7               TYPE = and  ===> 11
                FLAGS = (UNKNOWN,KIDS)
                OTHER ===> 8
                {
6                   TYPE = padsv  ===> 7
                    TARG = 1
                    FLAGS = (SCALAR)
                }
                {
10                  TYPE = sassign  ===> 11
                    FLAGS = (SCALAR,KIDS,STACKED)
                    {
8                       TYPE = const  ===> 9
                        FLAGS = (SCALAR)
                        SV = 
                    }
                    {
9                       TYPE = padsv  ===> 10
                        TARG = 1
                        FLAGS = (SCALAR,REF,MOD,SPECIAL)
                    }
                }
            }
        }
        {
11          TYPE = nextstate  ===> 12
            FLAGS = (VOID)
            LINE = 3
            PACKAGE = "main"
        }
        {
19          TYPE = leaveloop  ===> 20
            FLAGS = (UNKNOWN,KIDS)
            {
12              TYPE = enterloop  ===> 17
                REDO ===> 13
                NEXT ===> 17
                LAST ===> 19
            }
            {
                TYPE = null  ===> (19)
                FLAGS = (UNKNOWN,KIDS)
                {
18                  TYPE = and  ===> 19
                    FLAGS = (UNKNOWN,KIDS)
                    OTHER ===> 13
                    {
17                      TYPE = padsv  ===> 18
                        TARG = 1
                        FLAGS = (SCALAR)
                    }
                    {
                        TYPE = lineseq  ===> (0)
                        FLAGS = (SCALAR,KIDS,PARENS)
                        {
13                          TYPE = nextstate  ===> 14
                            FLAGS = (VOID)
                            LINE = 3
                            PACKAGE = "main"
                        }
                        {
14                          TYPE = last  ===> 15
                            FLAGS = (VOID,SPECIAL)
                        }
                        {
15                          TYPE = unstack  ===> 16
                            FLAGS = (VOID)
                        }
                        {
16                          TYPE = nextstate  ===> 17
                            FLAGS = (SCALAR)
                            LINE = 3
                            PACKAGE = "main"
                        }
                    }
                }
            }
        }
    }
}
)");
}

TEST_F(Parse, PrecedenceAndAssociativity)
{
    struct Case {
        const char* text;
        const char* tree;
    } cases[] = {
        {"$a = $b = 1", "leaveeval(lineseq(sassign(sassign(const[1], gvsv[b]), gvsv[a])))"},
        {"$a ** $b ** $c", "leaveeval(lineseq(pow(gvsv[a], pow(gvsv[b], gvsv[c]))))"},
        // Folded: 2 ** 9, and the negation of 2 ** 2.
        {"2 ** 3 ** 2", "leaveeval(lineseq(const[512]))"},
        {"-2 ** 2", "leaveeval(lineseq(const[-4]))"},
        {"-$a ** 2", "leaveeval(lineseq(negate(pow(gvsv[a], const[2]))))"},
        {"$a + $b * $c", "leaveeval(lineseq(add(gvsv[a], multiply(gvsv[b], gvsv[c]))))"},
        {"$a - $b - $c", "leaveeval(lineseq(subtract(subtract(gvsv[a], gvsv[b]), gvsv[c])))"},
        {"$a || $b && $c", "leaveeval(lineseq(or(gvsv[a], and(gvsv[b], gvsv[c]))))"},
        {"$a ? $b : $c ? 1 : 2",
         "leaveeval(lineseq(cond_expr(gvsv[a], gvsv[b], cond_expr(gvsv[c], const[1], const[2]))))"},
        {"$a . $b x 2", "leaveeval(lineseq(concat(gvsv[a], repeat(gvsv[b], const[2]))))"},
        {"!$a == $b", "leaveeval(lineseq(eq(not(gvsv[a]), gvsv[b])))"},
        {"$a or $b and not $c", "leaveeval(lineseq(or(gvsv[a], and(gvsv[b], not(gvsv[c])))))"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.text), c.tree) << c.text;
}

// The low-precedence not applies to the whole list after it.
TEST_F(Parse, LowNotTakesTheList)
{
    std::string tree = parse("not $a, $b");
    EXPECT_EQ(tree.substr(0, 25), "leaveeval(lineseq(not(lis") << tree;
}

TEST_F(Parse, SyntaxErrors)
{
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"a < b < c", "syntax error near \"b <\"\n"},
        {"a == b == c", "syntax error near \"b ==\"\n"},
        {"1 +", "syntax error at EOF\n"},
        {"(1", "syntax error at EOF\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.text), c.error) << c.text;
}

TEST_F(Parse, Programs)
{
    struct Case {
        const char* text;
        const char* tree;
    } cases[] = {
        {"$x =~ /a/", "leaveeval(lineseq(match(gvsv[x])))"},
        {"print STDERR 1", "leaveeval(lineseq(print(rv2gv(gv[STDERR]), const[1])))"},
        {"foo: while (1) { last foo }", "leaveeval(lineseq(leaveloop(enterloop, lineseq(last, unstack))))"},
        {"my $m = 1; $m + 1", "leaveeval(lineseq(sassign(const[1], padsv), add(padsv, const[1])))"},
        {"@x = (1) x 2", "leaveeval(lineseq(aassign(repeat(const[1], const[2]), rv2av(gv[x]))))"},
        {"$h{a}{b}[1]",
         "leaveeval(lineseq(aelem(rv2av(helem(rv2hv(helem(rv2hv(gv[h]), const[a])), const[b])), const[1])))"},
        {"Foo->new(1)", "leaveeval(lineseq(entersub(const[Foo], const[1], method_named)))"},
        {"new Foo 1", "leaveeval(lineseq(entersub(const[Foo], const[1], method_named)))"},
        {"$v = -f $y", "leaveeval(lineseq(sassign(ftfile(gvsv[y]), gvsv[v])))"},
        {"\"a$x@y\"",
         "leaveeval(lineseq(null(null, concat(concat(const[a], gvsv[x]), join(gvsv[\"], rv2av(gv[y]))))))"},
        {"s/a/b/g", "leaveeval(lineseq(subst(const[b])))"},
        {"tr/a-c/A-C/", "leaveeval(lineseq(trans))"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse(c.text), c.tree) << c.text;
}

}  // namespace
}  // namespace lextest
