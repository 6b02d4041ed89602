// Sub definition at compile time: declarations and prototypes, installation
// and redefinition, stubs that take a later body, constant subs, the special
// blocks' queues, anonymous subs and their pads, native subs and formats.
#include "optree/optree_fixture.h"

#include <algorithm>
#include <string>

#include "ds/src/prxav.h"
#include "ds/src/prxcall.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxscope.h"

namespace optree {
namespace {

class SubDef : public Compile {
public:
    void SetUp() override
    {
        Compile::SetUp();
        gcb->statement_line = 65535;
    }
    // The body of a sub: one statement holding the ops of make().
    template <class Make>
    CV* define(const char* name, const char* proto, Make make)
    {
        int32_t floor = start_sub_compile(gcb, 0, 0);
        OP* body = make();
        return sub_define(gcb, floor, name ? kstr(name) : nullptr, proto ? kstr(proto) : nullptr, nullptr, body);
    }
    CV* define_const(const char* name, const char* proto, int64_t n)
    {
        return define(name, proto, [&] { return op_new_statement(gcb, 0, nullptr, konst(n)); });
    }
    CV* declare(const char* name, const char* proto)
    {
        int32_t floor = start_sub_compile(gcb, 0, 0);
        return sub_define(gcb, floor, kstr(name), proto ? kstr(proto) : nullptr, nullptr, nullptr);
    }
    CV* glob_sub(const char* name)
    {
        GV* gv = gv_fetch_by_name(gcb, name, 0, SVt_PVCV);
        return gv && sv_is_glob(as_sv(gv)) ? gv_gp(gv)->gp_cv : nullptr;
    }
    std::string names_of(AV* queue)
    {
        std::string out;
        if (!queue)
            return out;
        for (int32_t i = 0; i <= av_body(queue)->fill; i++) {
            CV* cv = sv_as<CV>(av_body(queue)->array[i]);
            SV* c = op_value_sv(cv_body(cv)->start->op_next);
            out += std::to_string(sv_iv(c)) + ";";
        }
        return out;
    }
};

TEST_F(SubDef, PrototypeMismatchWarnsOneLine)
{
    // sub f($); then sub f($$) {...}; then sub f;
    EXPECT_EQ(declare("f", "$"), nullptr);
    EXPECT_EQ(warnings(), "");
    CV* cv = define_const("f", "$$", 1);
    ASSERT_NE(cv, nullptr);
    EXPECT_EQ(warnings(), "Prototype mismatch: sub main::f ($) vs ($$).\n");
    EXPECT_EQ(declare("f", nullptr), cv);
    EXPECT_EQ(warnings(),
              "Prototype mismatch: sub main::f ($) vs ($$).\n"
              "Prototype mismatch: sub main::f ($$) vs none.\n");
    // Trailing blanks do not make prototypes differ.
    EXPECT_EQ(declare("f", "$$  "), cv);
    EXPECT_EQ(declare("f", "$$"), cv);
    std::string w = warnings();
    EXPECT_EQ(std::count(w.begin(), w.end(), '\n'), 2);
}

TEST_F(SubDef, DeclarationOnlyRecordsThePrototypeInTheStash)
{
    EXPECT_EQ(declare("p", "\\@"), nullptr);
    SV** entry = hv_fetch_str(gcb, gcb->main_stash, "p", 1, 0);
    ASSERT_NE(entry, nullptr);
    EXPECT_FALSE(sv_is_glob(*entry));
    EXPECT_EQ(str(*entry), "\\@");
    EXPECT_EQ(declare("q", nullptr), nullptr);
    entry = hv_fetch_str(gcb, gcb->main_stash, "q", 1, 0);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(sv_iv(*entry), -1);
    // The compile state is back as it was.
    EXPECT_EQ(gcb->comppad, pad);
    EXPECT_EQ(gcb->comppad_name, names);
    EXPECT_EQ(gcb->compile_cv, nullptr);
    EXPECT_EQ(gcb->statement_line, 65535);
}

TEST_F(SubDef, RedefinitionWarnsOnlyWhenTheCategoryIsOn)
{
    CV* first = define_const("r", nullptr, 1);
    CV* second = define_const("r", nullptr, 2);
    EXPECT_NE(first, second);
    EXPECT_EQ(glob_sub("r"), second);
    EXPECT_EQ(warnings(), "");

    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    define_const("r", nullptr, 3);
    EXPECT_EQ(warnings(), "Subroutine r redefined.\n");
    define_const("k", "", 3);
    define_const("k", "", 4);
    EXPECT_EQ(warnings(), "Subroutine r redefined.\nConstant subroutine k redefined.\n");
}

TEST_F(SubDef, RepeatedDeclarationKeepsTheDefinedSub)
{
    CV* cv = define_const("d", nullptr, 7);
    OP* root = cv_body(cv)->root;
    int32_t saved = gcb->savestack_ix;
    EXPECT_EQ(declare("d", nullptr), cv);
    EXPECT_EQ(cv_body(cv)->root, root);
    EXPECT_EQ(gcb->savestack_ix, saved);
}

TEST_F(SubDef, StubTakesTheLaterBody)
{
    // A sub made by a lookup keeps its head when it is defined later, so a
    // reference taken before sees the definition.
    GV* gv = gv_fetch_by_name(gcb, "s", GV_ADD, SVt_PVCV);
    int32_t floor = start_sub_compile(gcb, 0, 0);
    CV* stub = sub_define_plain(gcb, floor, kstr("s"), nullptr, nullptr);
    ASSERT_NE(stub, nullptr);
    EXPECT_EQ(gv_gp(gv)->gp_cv, stub);
    EXPECT_EQ(cv_body(stub)->root, nullptr);
    SV* ref = sv_new_reference(gcb, as_sv(stub));
    CV* cv = define_const("s", nullptr, 5);
    EXPECT_EQ(cv, stub);
    EXPECT_EQ(gv_gp(gv)->gp_cv, stub);
    ASSERT_NE(cv_body(stub)->root, nullptr);
    EXPECT_EQ(cv_body(stub)->root->op_type, OP_LEAVESUB);
    EXPECT_EQ(cv_body(stub)->gv, gv);
    sv_release(gcb, ref);
}

TEST_F(SubDef, BodyGetsRootStartAndPad)
{
    CV* cv = define("b", nullptr, [&] { return op_new_statement(gcb, 0, nullptr, my_scalar("$x")); });
    PVCV* b = cv_body(cv);
    ASSERT_NE(b->root, nullptr);
    EXPECT_EQ(b->root->op_type, OP_LEAVESUB);
    EXPECT_EQ(b->root->op_private & OPpREFCOUNTED, OPpREFCOUNTED);
    EXPECT_EQ(b->root->op_targ, 1u);
    EXPECT_EQ(b->root->op_next, nullptr);
    EXPECT_EQ(b->start->op_type, OP_NEXTSTATE);
    EXPECT_EQ(b->comp_stash, gcb->main_stash);
    AV* padlist = b->padlist;
    AV* subpad = sv_as<AV>(av_body(padlist)->array[1]);
    // Slot 0 is the argument array of the calls: empty, borrowing.
    SV* args = av_body(subpad)->array[0];
    ASSERT_EQ(sv_type(args), SVt_PVAV);
    EXPECT_EQ(av_body(sv_as<AV>(args))->avflags, AVf_REIFY);
    EXPECT_EQ(av_body(sv_as<AV>(args))->fill, -1);
    EXPECT_TRUE(av_body(subpad)->array[1]->flags & SVs_PADMY);
}

TEST_F(SubDef, ConstantSubs)
{
    CV* k = define_const("k42", "", 42);
    SV* value = cv_const_value(gcb, k);
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(sv_iv(value), 42);
    EXPECT_TRUE(value->flags & SVf_READONLY);
    // A blank prototype counts as empty.
    EXPECT_NE(cv_const_value(gcb, define_const("kb", " ", 1)), nullptr);
    EXPECT_EQ(cv_const_value(gcb, define_const("kn", nullptr, 1)), nullptr);
    EXPECT_EQ(cv_const_value(gcb, define_const("kd", "$", 1)), nullptr);
    CV* two = define("k2", "", [&] {
        return op_new_statement(gcb, 0, nullptr, op_list_append(gcb, OP_LIST, konst(1), konst(2)));
    });
    EXPECT_EQ(cv_const_value(gcb, two), nullptr);
}

TEST_F(SubDef, ConstantSubOfAValue)
{
    CV* cv = sub_define_constant(gcb, gv_stash_by_name(gcb, "Konst", 1), "PI", sv_new_from_int(gcb, 3));
    ASSERT_NE(cv, nullptr);
    EXPECT_EQ(glob_sub("Konst::PI"), cv);
    SV* v = cv_const_value(gcb, cv);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(sv_iv(v), 3);
    EXPECT_EQ(gcb->current_package, gcb->main_stash);
}

TEST_F(SubDef, EndCheckAndInitQueues)
{
    define_const("END", nullptr, 1);
    define_const("END", nullptr, 2);
    define_const("CHECK", nullptr, 3);
    define_const("CHECK", nullptr, 4);
    define_const("INIT", nullptr, 5);
    define_const("INIT", nullptr, 6);
    EXPECT_EQ(names_of(gcb->end_queue), "2;1;");
    EXPECT_EQ(names_of(gcb->check_queue), "4;3;");
    EXPECT_EQ(names_of(gcb->init_queue), "5;6;");
    EXPECT_EQ(glob_sub("END"), nullptr);
    EXPECT_EQ(glob_sub("INIT"), nullptr);
    EXPECT_EQ(warnings(), "");

    // Once the main program is compiled they come too late.
    OP start{};
    gcb->main_start = &start;
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    define_const("CHECK", nullptr, 7);
    define_const("INIT", nullptr, 8);
    gcb->main_start = nullptr;
    EXPECT_EQ(warnings(), "Too late to run CHECK block.\nToo late to run INIT block.\n");
    EXPECT_EQ(names_of(gcb->check_queue), "7;4;3;");
    EXPECT_EQ(names_of(gcb->init_queue), "5;6;8;");
}

TEST_F(SubDef, BeginRunsAtOnce)
{
    int32_t code = run([&] { define_const("BEGIN", nullptr, 1); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(glob_sub("BEGIN"), nullptr);
}

TEST_F(SubDef, BeginAfterErrorsStops)
{
    // Outside an eval the text joins the errors in $@ and all of it is raised.
    gcb->error_glob = gv_fetch_by_name(gcb, "@", GV_ADD, SVt_PV);
    sv_set_cstring(gcb, gv_gp(gcb->error_glob)->gp_sv, "syntax error at x\n");
    gcb->error_count = 1;
    EXPECT_EQ(run([&] { define_const("BEGIN", nullptr, 1); }), 2);
    EXPECT_EQ(warnings(), "syntax error at x\nBEGIN not safe after errors--compilation aborted.\n");
}

TEST_F(SubDef, EndAfterErrorsIsNotQueued)
{
    gcb->error_count = 1;
    CV* cv = define_const("END", nullptr, 1);
    ASSERT_NE(cv, nullptr);
    EXPECT_EQ(gcb->end_queue, nullptr);
    EXPECT_EQ(cv_body(cv)->root, nullptr);  // the body went with the errors
}

TEST_F(SubDef, MySubIsRefused)
{
    int32_t code = run([&] {
        int32_t floor = start_sub_compile(gcb, 0, 0);
        sub_declare_my(gcb, floor, kstr("m"), nullptr, nullptr, nullptr);
    });
    EXPECT_NE(code, 0);
    EXPECT_EQ(warnings(), "\"my sub\" not yet implemented.\n");
}

TEST_F(SubDef, AnonymousSubIsNeverInstalled)
{
    int32_t floor = start_sub_compile(gcb, 0, CVf_ANON);
    OP* body = op_new_statement(gcb, 0, nullptr, konst(9));
    OP* o = op_new_anon_sub(gcb, floor, nullptr, nullptr, body);
    ASSERT_EQ(o->op_type, OP_REFGEN);
    OP* code = op_first_kid(op_first_kid(o));
    while (code && code->op_type != OP_ANONCODE)
        code = code->op_sibling;
    ASSERT_NE(code, nullptr);
    // The check routine moved the code value into a pad slot named "&".
    SV* cv = gcb->curpad[code->op_targ];
    ASSERT_EQ(sv_type(cv), SVt_PVCV);
    EXPECT_EQ(pad_name(code->op_targ), "&");
    EXPECT_TRUE(cv_body(sv_as<CV>(cv))->cvflags & CVf_ANON);
    EXPECT_NE(cv_body(sv_as<CV>(cv))->root, nullptr);
    EXPECT_EQ(glob_sub("__ANON__"), nullptr);
    op_free_tree(gcb, o);
}

TEST_F(SubDef, AnonymousListAndHash)
{
    struct Case {
        OP* (*build)(PERLGCB*, OP*);
        uint16_t inner;
    } cases[] = {{op_new_anon_list, OP_ANONLIST}, {op_new_anon_hash, OP_ANONHASH}};
    for (const Case& c : cases) {
        for (bool empty : {true, false}) {
            OP* o = c.build(gcb, empty ? nullptr : op_list_append(gcb, OP_LIST, konst(1), konst(2)));
            // A reference constructor of one operand takes its single form.
            ASSERT_TRUE(o->op_type == OP_REFGEN || o->op_type == OP_SREFGEN) << o->op_type;
            OP* inner = op_first_kid(o);
            if (inner->op_type != c.inner)
                inner = op_first_kid(inner);
            while (inner && inner->op_type != c.inner)
                inner = inner->op_sibling;
            ASSERT_NE(inner, nullptr) << c.inner;
            int kids = 0;
            for (OP* k = op_has_kids(inner) ? op_first_kid(inner) : nullptr; k; k = k->op_sibling)
                kids += k->op_type == OP_CONST;
            EXPECT_EQ(kids, empty ? 0 : 2);
            op_free_tree(gcb, o);
        }
    }
}

void native_a(PERLGCB*, CV*) {}
void native_b(PERLGCB*, CV*) {}

TEST_F(SubDef, NativeSubs)
{
    static const char file[] = "native.c";
    CV* a = sub_define_xs(gcb, "N::f", native_a, file);
    EXPECT_EQ(glob_sub("N::f"), a);
    EXPECT_EQ(cv_body(a)->file, file);
    EXPECT_EQ(reinterpret_cast<xsub_fn>(cv_body(a)->xsub), native_a);
    // A second registration replaces the first, warning under category 18.
    sv_refinc(as_sv(a));
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    CV* b = sub_define_xs(gcb, "N::f", native_b, file);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->refcnt, 1u);  // the glob let go of the first
    sv_release(gcb, as_sv(a));
    EXPECT_EQ(warnings(), "Subroutine N::f redefined.\n");
    // ... but never over a sub of package autouse.
    sub_define_xs(gcb, "autouse::g", native_a, file);
    sub_define_xs(gcb, "autouse::g", native_b, file);
    EXPECT_EQ(warnings(), "Subroutine N::f redefined.\n");
    // A declared name keeps its head.
    GV* gv = gv_fetch_by_name(gcb, "N::h", GV_ADD, SVt_PVCV);
    int32_t floor = start_sub_compile(gcb, 0, 0);
    CV* stub = sub_define_plain(gcb, floor, kstr("N::h"), nullptr, nullptr);
    EXPECT_EQ(sub_define_xs(gcb, "N::h", native_a, file), stub);
    EXPECT_EQ(gv_gp(gv)->gp_cv, stub);
    // An anonymous one is installed nowhere.
    CV* anon = sub_define_xs(gcb, nullptr, native_a, file);
    EXPECT_TRUE(cv_body(anon)->cvflags & CVf_ANON);
    sv_release(gcb, as_sv(anon));
    // A native END block is queued, not kept in its glob.
    CV* end = sub_define_xs(gcb, "END", native_a, file);
    ASSERT_NE(gcb->end_queue, nullptr);
    EXPECT_EQ(av_body(gcb->end_queue)->array[0], as_sv(end));
    EXPECT_EQ(glob_sub("END"), nullptr);
}

TEST_F(SubDef, Formats)
{
    int32_t floor = start_sub_compile(gcb, 1, 0);
    format_define(gcb, floor, nullptr, op_new_statement(gcb, 0, nullptr, konst(1)));
    GV* gv = gv_fetch_by_name(gcb, "STDOUT", 0, SVt_PVFM);
    ASSERT_NE(gv, nullptr);
    CV* first = gv_gp(gv)->gp_form;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(cv_body(first)->root->op_type, OP_LEAVEWRITE);
    EXPECT_EQ(gcb->comppad, pad);

    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    floor = start_sub_compile(gcb, 1, 0);
    format_define(gcb, floor, kstr("STDOUT"), nullptr);
    EXPECT_NE(gv_gp(gv)->gp_form, first);
    EXPECT_EQ(cv_body(gv_gp(gv)->gp_form)->root->op_type, OP_LEAVEWRITE);
    EXPECT_EQ(warnings(), "Format STDOUT redefined.\n");
}

TEST_F(SubDef, UndefineEmptiesInPlace)
{
    CV* cv = define_const("u", "$", 1);
    cv_undefine(gcb, cv);
    PVCV* b = cv_body(cv);
    EXPECT_EQ(b->root, nullptr);
    EXPECT_EQ(b->start, nullptr);
    EXPECT_EQ(b->padlist, nullptr);
    EXPECT_EQ(b->gv, nullptr);
    EXPECT_FALSE(as_sv(cv)->flags & SVf_POK);

    CV* busy = define_const("busy", nullptr, 1);
    cv_body(busy)->depth = 1;
    EXPECT_NE(run([&] { cv_undefine(gcb, busy); }), 0);
    EXPECT_EQ(warnings(), "Can't undef active subroutine.\n");
    cv_body(busy)->depth = 0;
}

}  // namespace
}  // namespace optree
