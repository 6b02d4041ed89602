// Statements, blocks and the program root: sequence numbers, lines, labels
// and hints of statement ops, blocks that save and restore the compile
// state, the eval and main roots with their execution order, and the
// peephole pass.
#include "optree/optree_fixture.h"

#include <cstring>

#include "ds/src/prxav.h"
#include "ds/src/prxpool.h"
#include "ds/src/prxscope.h"

namespace optree {
namespace {

class Program : public Compile {
public:
    void SetUp() override
    {
        Compile::SetUp();
        compile_cop.cop_line = 1;
    }
    void TearDown() override
    {
        op_free_tree(gcb, gcb->eval_root);
        op_free_tree(gcb, gcb->main_root);
        gcb->eval_root = gcb->main_root = nullptr;
        Compile::TearDown();
    }
    // A qr op as the pattern builder leaves one before its pattern compiles.
    OP* qr()
    {
        op_pattern* pm = static_cast<op_pattern*>(pool_malloc(gcb, sizeof(op_pattern)));
        std::memset(pm, 0, sizeof *pm);
        op_set_type(gcb, &pm->op, OP_QR);
        pm->op.op_next = &pm->op;
        return &pm->op;
    }
    // Links a tree on its own and runs the peephole pass over it.
    OP* peep(OP* root)
    {
        OP* start = op_link_exec_order(gcb, root);
        root->op_next = nullptr;
        op_peephole(gcb, start);
        return start;
    }
};

TEST_F(Program, EvalOfAPattern)
{
    gcb->in_eval = 1;
    op_new_program(gcb, op_new_statement(gcb, 0, nullptr, qr()));
    OP* root = gcb->eval_root;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(dump(root),
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
              "                PMf_PRE (RUNTIME)\n"
              "            }\n"
              "        }\n"
              "    }\n"
              "}\n");
    // Execution order: nextstate, qr, leaveeval; the lineseq is skipped.
    OP* start = gcb->eval_start;
    EXPECT_EQ(start->op_type, OP_NEXTSTATE);
    EXPECT_EQ(start->op_next->op_type, OP_QR);
    EXPECT_EQ(start->op_next->op_next, root);
    // A second program for the same eval changes nothing.
    op_new_program(gcb, op_new_stub(gcb));
    EXPECT_EQ(gcb->eval_root, root);
    gcb->in_eval = 0;
}

TEST_F(Program, EvalRootOfAnEmptyEvalKeepsErrorsFlag)
{
    gcb->in_eval = 0x1 | 0x4;
    op_new_program(gcb, nullptr);
    ASSERT_NE(gcb->eval_root, nullptr);
    EXPECT_EQ(op_first_kid(gcb->eval_root)->op_type, OP_STUB);
    EXPECT_TRUE(gcb->eval_root->op_flags & OPf_SPECIAL);
    gcb->in_eval = 0;
}

TEST_F(Program, MainProgram)
{
    OP* s1 = op_new_statement(gcb, 0, nullptr, op_new_base(gcb, OP_TIME, 0));
    OP* s2 = op_new_statement(gcb, 0, nullptr, op_new_base(gcb, OP_TIME, 0));
    op_new_program(gcb, op_list_concat(gcb, OP_LINESEQ, s1, s2));
    op_new_program(gcb, nullptr);  // nothing
    EXPECT_EQ(dump(gcb->main_root),
              "{\n"
              "6   TYPE = leave  ===> DONE\n"
              "    TARG = 1\n"
              "    FLAGS = (VOID,KIDS,PARENS)\n"
              "    REFCNT = 1\n"
              "    {\n"
              "1       TYPE = enter  ===> 2\n"
              "    }\n"
              "    {\n"
              "2       TYPE = nextstate  ===> 3\n"
              "        FLAGS = (VOID)\n"
              "        LINE = 1\n"
              "        PACKAGE = \"main\"\n"
              "    }\n"
              "    {\n"
              "3       TYPE = time  ===> 4\n"
              "        TARG = 1\n"
              "        FLAGS = (VOID)\n"
              "    }\n"
              "    {\n"
              "4       TYPE = nextstate  ===> 5\n"
              "        FLAGS = (VOID)\n"
              "        LINE = 1\n"
              "        PACKAGE = \"main\"\n"
              "    }\n"
              "    {\n"
              "5       TYPE = time  ===> 6\n"
              "        TARG = 2\n"
              "        FLAGS = (VOID)\n"
              "    }\n"
              "}\n");
    EXPECT_EQ(gcb->main_start->op_type, OP_ENTER);
}

TEST_F(Program, StatementOps)
{
    // A label sets the block-scope hint; a pending line is used once.
    gcb->compile_hints = 0;
    gcb->statement_line = 7;
    OP* a = op_new_statement(gcb, 0, pool_strdup(gcb, "OUTER"), nullptr);
    OP* b = op_new_statement(gcb, 0, nullptr, nullptr);
    EXPECT_TRUE(gcb->compile_hints & HINT_BLOCK_SCOPE);
    EXPECT_EQ(reinterpret_cast<COP*>(a)->cop_line, 7);
    EXPECT_EQ(reinterpret_cast<COP*>(b)->cop_line, 1);
    EXPECT_EQ(gcb->statement_line, 65535);
    EXPECT_EQ(dump(a),
              "{\n"
              "    TYPE = nextstate  ===> (0)\n"
              "    LINE = 7\n"
              "    PACKAGE = \"main\"\n"
              "    LABEL = \"OUTER\"\n"
              "}\n");
    // The byte-semantics hint goes to the op and to the compiling statement.
    gcb->compile_hints |= HINT_BYTES;
    OP* c = op_new_statement(gcb, 0, nullptr, nullptr);
    EXPECT_EQ(c->op_private, HINT_BYTES);
    EXPECT_EQ(compile_cop.op.op_private, HINT_BYTES);
    // A package statement without a name.
    int32_t floor = gcb->savestack_ix;
    op_set_package(gcb, nullptr);
    EXPECT_EQ(gcb->current_package, nullptr);
    EXPECT_STREQ(sv_pv(gcb->current_package_name), "<none>");
    EXPECT_EQ(gcb->expect, 3);  // a statement comes next
    leave_scope(gcb, floor);
    EXPECT_NE(gcb->current_package, nullptr);
    for (OP* o : {a, b, c})
        op_free_tree(gcb, o);
}

TEST_F(Program, BlocksRestoreHintsAndPropagateBlockScope)
{
    gcb->compile_hints = HINT_INTEGER;
    int32_t floor = op_open_block(gcb, 0);
    gcb->compile_hints |= HINT_STRICT_REFS | HINT_BLOCK_SCOPE;
    OP* empty = op_close_block(gcb, floor, nullptr);
    EXPECT_EQ(empty->op_type, OP_STUB);  // an empty block
    EXPECT_EQ(gcb->compile_hints, HINT_INTEGER | HINT_BLOCK_SCOPE);
    EXPECT_EQ(compile_cop.op.op_private, HINT_INTEGER);  // the restored hints' low byte
    op_free_tree(gcb, empty);

    // A block sequence is marked PARENS when the block needs a scope of its own.
    gcb->compile_hints = 0;
    floor = op_open_block(gcb, 0);
    OP* body = op_new_statement(gcb, 0, pool_strdup(gcb, "L"), op_new_base(gcb, OP_TIME, 0));
    OP* seq = op_close_block(gcb, floor, body);
    EXPECT_TRUE(seq->op_flags & OPf_PARENS);
    EXPECT_EQ(op_want(op_first_kid(seq)), OPf_WANT_VOID);
    OP* full = op_new_scope(gcb, seq);
    EXPECT_EQ(full->op_type, OP_LEAVE);
    op_free_tree(gcb, full);
}

TEST_F(Program, LinkingTwiceChangesNothing)
{
    OP* tree = op_new_binary(gcb, OP_SASSIGN, 0, konst(1), my_scalar("$x"));
    OP* first = op_link_exec_order(gcb, tree);
    OP* second_next = first->op_next;
    EXPECT_EQ(op_link_exec_order(gcb, tree), first);
    EXPECT_EQ(first->op_next, second_next);
    EXPECT_EQ(op_last_kid(tree)->op_next, tree);
    op_free_tree(gcb, tree);
}

TEST_F(Program, PeepholeRewrites)
{
    // $s: gv and rv2sv become one gvsv.
    OP* sv = op_new_scalar_deref(gcb, gvop("main::s"));
    peep(sv);
    EXPECT_EQ(dump(sv),
              "{\n"
              "    TYPE = null  ===> DONE\n"
              "      (was rv2sv)\n"
              "    FLAGS = (SCALAR,KIDS)\n"
              "    {\n"
              "1       TYPE = gvsv  ===> DONE\n"
              "        FLAGS = (SCALAR)\n"
              "        GV = main::s\n"
              "    }\n"
              "}\n");
    op_free_tree(gcb, sv);

    // $a[3] becomes aelemfast with the index in PRIVATE; $a[300] does not.
    struct Case {
        int64_t index;
        int32_t type;
    } cases[] = {{3, OP_AELEMFAST}, {255, OP_AELEMFAST}, {300, OP_GV}, {-1, OP_GV}};
    for (const Case& c : cases) {
        OP* gv = gvop("main::a");
        OP* elem = op_new_binary(gcb, OP_AELEM, 0, op_new_array_deref(gcb, gv), konst(c.index));
        OP* start = peep(elem);
        EXPECT_EQ(start, gv);
        EXPECT_EQ(gv->op_type, c.type) << c.index;
        if (c.type == OP_AELEMFAST) {
            EXPECT_EQ(gv->op_private, c.index);
            EXPECT_EQ(gv->op_next, nullptr);
        }
        op_free_tree(gcb, elem);
    }

    // A bareword under strict subs met by the pass is a queued error.
    OP* bare = kstr("Nope");
    bare->op_private |= OPpCONST_STRICT;
    OP* list = op_new_list(gcb, OP_LIST, 0, bare, nullptr);
    peep(list);
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Bareword \"Nope\" not allowed while \"strict subs\" in use.\n"});
    op_free_tree(gcb, list);
}

TEST_F(Program, SequenceNumbersWrapWithoutLeaking)
{
    // The 65535th op numbered is freed like any other.
    gcb->op_seqmax = 65535;
    SV* v = sv_new_from_int(gcb, 5);
    OP* k = op_new_value(gcb, OP_CONST, 0, sv_refinc(v));
    OP* l = op_new_list(gcb, OP_LIST, 0, k, nullptr);
    peep(l);
    EXPECT_EQ(op_first_kid(l)->op_seq, 65535);
    EXPECT_EQ(k->op_seq, 1);  // the counter starts again at 1
    op_free_tree(gcb, l);
    EXPECT_EQ(v->refcnt, 1u);
    sv_release(gcb, v);
}

}  // namespace
}  // namespace optree
