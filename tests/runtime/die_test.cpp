// die and warn through the run loop: messages with and without a newline,
// objects, the text propagated from $@, the fallback texts, unwinding of
// nested evals and loops, warn's texts on the captured standard error, exit
// and wantarray.
#include <functional>

#include "runtime/core_fixture.h"

#include "ds/src/prxgv.h"

namespace {

class Die : public runtime::Run {
protected:
    OP* die(std::initializer_list<OP*> items) { return op_convert_list(gcb, OP_DIE, 0, list_or_null(items)); }
    OP* warn(std::initializer_list<OP*> items) { return op_convert_list(gcb, OP_WARN, 0, list_or_null(items)); }
    OP* eval_block(std::initializer_list<OP*> stmts) { return op_new_unary(gcb, OP_ENTEREVAL, 0, block(stmts)); }
    OP* list_or_null(std::initializer_list<OP*> items)
    {
        OP* o = nullptr;
        for (OP* i : items)
            o = op_list_append(gcb, OP_LIST, o, i);
        return o;
    }
    // $@ as it is now.
    SV* errsv() { return gv_gp(gcb->error_glob)->gp_sv; }
};

TEST_F(Die, EvalBlockCatchesADie)
{
    struct Case {
        const char* what;
        std::function<OP*()> message;
        const char* errtext;
    };
    std::vector<Case> cases = {
        {"with a newline", [&] { return kstr("oops\n"); }, "oops\n"},
        {"without a newline", [&] { return kstr("oops"); }, "oops.\n"},
        {"the number 0", [&] { return konst(0); }, "0.\n"},
        {"an empty text and an empty $@", [&] { return kstr(""); }, "Died.\n"},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        // $r = eval { $x = 1; die MSG; $x = 2 }; $after = "ran"
        OP* prog = seq({
            stmt(assign(var("r"), eval_block({stmt(assign(var("x"), konst(1))), stmt(die({c.message()})),
                                              stmt(assign(var("x"), konst(2)))}))),
            stmt(assign(var("after"), kstr("ran"))),
        });
        ASSERT_EQ(run_program(prog), 0) << c.what << err_text();
        EXPECT_EQ(errtext(), c.errtext) << c.what;
        EXPECT_FALSE(sv_ok(global("r"))) << c.what;
        EXPECT_EQ(gstr("x"), "1") << c.what;
        EXPECT_EQ(gstr("after"), "ran") << c.what;
        EXPECT_EQ(err_text(), "") << c.what;
    }
}

TEST_F(Die, ASuccessfulEvalClearsTheErrorAndYieldsItsValue)
{
    sv_set_bytes(gcb, errsv(), "old", 3);
    OP* prog = seq({stmt(assign(var("r"), eval_block({stmt(binop(OP_ADD, konst(2), konst(3)))})))});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("r"), "5");
    EXPECT_EQ(errtext(), "");
}

TEST_F(Die, AnEmptyDiePropagatesThePendingError)
{
    // eval { eval { die "first\n" }; die "" }; $mid = $@; die ""
    OP* prog = seq({
        stmt(eval_block({stmt(eval_block({stmt(die({kstr("first\n")}))})), stmt(die({kstr("")}))})),
        stmt(assign(var("mid"), var("@"))),
        stmt(die({kstr("")})),
    });
    EXPECT_EQ(run_program(prog), 2);
    EXPECT_EQ(gstr("mid"), "first\n\t...propagated.\n");
    // Outside any eval the text goes to standard error, and $@ keeps it.
    EXPECT_EQ(err_text(), "first\n\t...propagated.\n\t...propagated.\n");
    EXPECT_EQ(errtext(), "first\n\t...propagated.\n\t...propagated");
}

TEST_F(Die, AnObjectTravelsAsItIs)
{
    SV* obj = global("obj");
    sv_make_ref_to_new(gcb, obj, "My::Error");
    SV* referent = sv_rv(obj);
    OP* prog = seq({stmt(eval_block({stmt(die({var("obj")}))})), stmt(assign(var("after"), kstr("ran")))});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    SV* err = errsv();
    ASSERT_TRUE(err->flags & SVf_ROK);
    EXPECT_EQ(sv_rv(err), referent);
    EXPECT_EQ(gstr("after"), "ran");
}

TEST_F(Die, NestedEvalsAndLoopsUnwind)
{
    // eval { eval { die "in\n" }; $inner = $@; for (1..3) { die "out\n" if $_ == 2; $s .= $_ } }; $outer = $@;
    // $u = $_
    OP* prog = seq({
        stmt(eval_block({
            stmt(eval_block({stmt(die({kstr("in\n")}))})),
            stmt(assign(var("inner"), var("@"))),
            foreach(nullptr, nullptr, op_new_range(gcb, 0, konst(1), konst(3)),
                    {stmt(and_then(binop(OP_EQ, var("_"), konst(2)), die({kstr("out\n")}))),
                     stmt(assign_op(OP_CONCAT, var("s"), var("_")))}),
        })),
        stmt(assign(var("outer"), var("@"))),
        stmt(assign(var("u"), var("_"))),
    });
    int32_t cxix = gcb->current_level->si_cxix;
    int32_t scope = gcb->scope_ix;
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_EQ(gstr("inner"), "in\n");
    EXPECT_EQ(gstr("outer"), "out\n");
    EXPECT_EQ(gstr("s"), "1");
    EXPECT_FALSE(sv_ok(global("u")));
    EXPECT_EQ(gcb->current_level->si_cxix, cxix);
    EXPECT_EQ(gcb->scope_ix, scope);
    EXPECT_EQ(gcb->in_eval, 0);
}

TEST_F(Die, OutsideAnEvalTheMessageGoesToStandardError)
{
    OP* prog = seq({stmt(die({kstr("fatal")})), stmt(assign(var("after"), kstr("ran")))});
    EXPECT_EQ(run_program(prog), 2);
    EXPECT_EQ(err_text(), "fatal.\n");
    EXPECT_EQ(gcb->exit_status, 255);
    EXPECT_FALSE(sv_ok(global("after")));
}

TEST_F(Die, WarnWritesToStandardError)
{
    struct Case {
        const char* what;
        const char* pending_error;
        std::function<OP*()> message;
        const char* text;
        const char* error_after;
    };
    std::vector<Case> cases = {
        {"a text with a newline", "", [&] { return kstr("careful\n"); }, "careful\n", ""},
        {"a text without one", "", [&] { return kstr("careful"); }, "careful.\n", ""},
        {"an empty text after a failed eval", "oops\n", [&] { return kstr(""); }, "oops\n\t...caught.\n",
         "oops\n\t...caught"},
        {"an empty text and an empty $@", "", [&] { return kstr(""); }, "Warning: something's wrong.\n", ""},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        sv_set_cstring(gcb, errsv(), c.pending_error);
        OP* prog = seq({stmt(assign(var("r"), warn({c.message()})))});
        ASSERT_EQ(run_program(prog), 0) << c.what << err_text();
        EXPECT_EQ(err_text(), c.text) << c.what;
        EXPECT_EQ(errtext(), c.error_after) << c.what;
        EXPECT_EQ(gstr("r"), "1") << c.what;
    }
}

TEST_F(Die, SeveralOperandsAreJoined)
{
    // eval { die "a", "b" }; $e = $@; warn "c", "d"; eval { die "", "" }; $f = $@
    OP* prog = seq({
        stmt(eval_block({stmt(die({kstr("a"), kstr("b")}))})),
        stmt(assign(var("e"), var("@"))),
        stmt(warn({kstr("c"), kstr("d")})),
        stmt(eval_block({stmt(die({kstr(""), kstr("")}))})),
        stmt(assign(var("f"), var("@"))),
    });
    int32_t code = run_program(prog);
    ASSERT_EQ(code, 0) << err_text();
    EXPECT_EQ(gstr("e"), "ab.\n");
    EXPECT_EQ(err_text(), "cd.\n");
    EXPECT_EQ(gstr("f"), "Died.\n");
}

TEST_F(Die, ExitEndsTheRunWithItsStatus)
{
    OP* prog = seq({stmt(op_convert_list(gcb, OP_EXIT, 0, konst(3))), stmt(assign(var("after"), kstr("ran")))});
    EXPECT_EQ(run_program(prog), 2);
    EXPECT_EQ(gcb->exit_status, 3);
    EXPECT_TRUE(gcb->exit_flags & 1);
    EXPECT_FALSE(sv_ok(global("after")));
}

TEST_F(Die, WantarrayAtFileLevelIsUndefined)
{
    OP* prog = seq({stmt(assign(var("w"), op_new_base(gcb, OP_WANTARRAY, 0))),
                    stmt(assign(var("e"), eval_block({stmt(op_new_base(gcb, OP_WANTARRAY, 0))})))});
    ASSERT_EQ(run_program(prog), 0) << err_text();
    EXPECT_FALSE(sv_ok(global("w")));
    EXPECT_EQ(gstr("e"), "");
}

}  // namespace
