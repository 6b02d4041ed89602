// String evals and eval blocks: the bridge's keep-error form that compiles
// a qr text, the naming and counting of evals, results by context, return
// out of an eval, and a die on a nested stack level caught by an eval on an
// outer one.
#include "runtime/core_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxmg.h"
#include "ds/src/prxre.h"

namespace {

class Eval : public runtime::Run {
protected:
    void SetUp() override
    {
        Run::SetUp();
        gcb->current_statement = &runtime_cop;
        runtime_cop.cop_stash = gcb->main_stash;
    }

    // Evaluates text as the bridge does: an entereval op with no NEXT,
    // scalar, STACKED, SPECIAL when keep, hints 0, the text pushed as its
    // operand. Returns the jump code; *result is the value left on top.
    int32_t eval_value(const char* text, bool keep, SV** result)
    {
        op_unary* u = op_alloc_record<op_unary>(gcb);
        op_set_type(gcb, &u->op, OP_ENTEREVAL);
        u->op.op_flags = static_cast<uint8_t>(OPf_WANT_SCALAR | OPf_STACKED | (keep ? OPf_SPECIAL : 0));
        u->op.op_next = nullptr;
        SV** base = gcb->arg_sp;
        SV* textsv = sv_make_temporary(gcb, sv_new_from_bytes(gcb, text, std::strlen(text)));
        *++gcb->arg_sp = textsv;
        gcb->op = &u->op;
        int32_t code = run([&] { gcb->run_loop_hook(gcb); });
        *result = gcb->arg_sp > base ? *gcb->arg_sp : nullptr;
        gcb->arg_sp = base;
        pool_free(gcb, u);
        return code;
    }
};

TEST_F(Eval, QrTextYieldsAPatternReference)
{
    SV* result = nullptr;
    int32_t code = eval_value("qr/abc/i", true, &result);
    ASSERT_EQ(code, 0) << errtext() << err_text();
    ASSERT_NE(result, nullptr);
    ASSERT_TRUE(result->flags & SVf_ROK);
    MAGIC* mg = mg_find_by_type(gcb, sv_rv(result), 'r');
    ASSERT_NE(mg, nullptr);
    re_compiled* rx = reinterpret_cast<re_compiled*>(mg->obj);
    EXPECT_EQ(std::string(rx->pattern_text, rx->pattern_length), "abc");
    EXPECT_EQ(errtext(), "");
}

TEST_F(Eval, ABadPatternAppendsItsErrorOnce)
{
    sv_set_bytes(gcb, gv_gp(gcb->error_glob)->gp_sv, "old\n", 4);
    SV* result = nullptr;
    eval_value("qr/a(/", true, &result);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result, &gcb->sv_undef);
    // The text the pattern compiler raises, after what $@ held before.
    std::string first = errtext();
    EXPECT_EQ(first, "old\nUnmatched ( in regex m/a(/.\n");
    // The same failure again leaves $@ as it is.
    eval_value("qr/a(/", true, &result);
    EXPECT_EQ(result, &gcb->sv_undef);
    EXPECT_EQ(errtext(), first);
    EXPECT_EQ(gcb->current_level->si_cxix, -1);
    EXPECT_EQ(gcb->in_eval, 0);
}

TEST_F(Eval, EmptyTextIsUndefAndNotCounted)
{
    SV* result = nullptr;
    ASSERT_EQ(eval_value("", false, &result), 0) << err_text();
    EXPECT_EQ(result, &gcb->sv_undef);
    EXPECT_EQ(gcb->eval_count, 0u);
    eval_value("1", false, &result);
    EXPECT_EQ(gcb->eval_count, 1u);
    // The eval's file glob is gone from the main symbol table again.
    EXPECT_EQ(gv_fetch_by_name(gcb, "_<(eval 1)", 0, SVt_PV), nullptr);
}

TEST_F(Eval, ValuesErrorsAndTheErrorVariable)
{
    struct Case {
        const char* text;
        const char* value;  // null: undef
        const char* error;
    } cases[] = {
        {"1 + 2", "3", ""},
        {"die qq{x\\n}", nullptr, "x\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        sv_set_bytes(gcb, gv_gp(gcb->error_glob)->gp_sv, "stale", 5);
        SV* result = nullptr;
        eval_value(c.text, false, &result);
        ASSERT_NE(result, nullptr) << c.text;
        if (c.value)
            EXPECT_EQ(str(result), c.value) << c.text;
        else
            EXPECT_EQ(result, &gcb->sv_undef) << c.text;
        EXPECT_EQ(errtext(), c.error) << c.text;
    }
}

TEST_F(Eval, ReturnLeavesAnEvalBlockWithItsValue)
{
    // $r = eval { return 5; 6 }
    OP* ret = op_convert_list(gcb, OP_RETURN, 0, konst(5));
    OP* prog = seq({stmt(assign(var("r"), op_new_unary(gcb, OP_ENTEREVAL, 0, block({stmt(ret), stmt(konst(6))})))),
                    stmt(assign(var("after"), kstr("ran")))});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("r"), "5");
    EXPECT_EQ(gstr("after"), "ran");
}

TEST_F(Eval, ReturnOutsideASubDies)
{
    OP* prog = seq({stmt(op_convert_list(gcb, OP_RETURN, 0, konst(5)))});
    EXPECT_EQ(run_program(prog), 2);
    EXPECT_EQ(err_text(), "Can't return outside a subroutine.\n");
}

// Runs on a stack level of its own and dies there.
OP* die_on_a_nested_level(PERLGCB* gcb)
{
    stack_level_push(gcb, SI_MAGIC);
    return die_error(gcb, "deep\n");
}

TEST_F(Eval, ADieOnANestedLevelReturnsToTheEvalsLevel)
{
    OP* deep = op_new_base(gcb, OP_WANTARRAY, 0);
    OP* prog = seq({stmt(op_new_unary(gcb, OP_ENTEREVAL, 0, block({stmt(deep)}))),
                    stmt(assign(var("after"), kstr("ran")))});
    deep->op_ppaddr = die_on_a_nested_level;
    stack_level* main_level = gcb->current_level;
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gcb->current_level, main_level);
    EXPECT_EQ(gcb->current_arg_stack, main_level->si_stack);
    EXPECT_EQ(errtext(), "deep\n");
    EXPECT_EQ(gstr("after"), "ran");
}

}  // namespace
