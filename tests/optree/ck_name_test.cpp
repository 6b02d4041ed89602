// Check routines of names, references and modifiable operands, and of eval,
// require, file tests and default handles.
#include <functional>

#include "optree/optree_fixture.h"
#include "optree/tree_shape.h"

#include "ds/src/prxhv.h"

namespace {

using optree::shape;

class CkName : public optree::Trees {
public:
    std::string glob_name(OP* gvop) { return gv_body(sv_as<GV>(op_value_sv(gvop)))->name; }
    // Runs body; the fatal error's text, or empty when none was raised.
    std::string fatal(const std::function<void()>& body)
    {
        uint32_t before = gcb->err.len;
        if (run(body) == 0)
            return "";
        bool error = false;
        return hostsim::Host::decode_lines(std::string(gcb->err.buf + before, gcb->err.len - before), &error);
    }
};

TEST_F(CkName, ConstantNamesResolveToTheirGlobs)
{
    OP* o = op_new_unary(gcb, OP_RV2SV, 0, kstr("counter"));
    EXPECT_EQ(shape(gcb, o), "rv2sv(gv)");
    EXPECT_EQ(glob_name(op_first_kid(o)), "counter");
    EXPECT_EQ(op_first_kid(o)->op_private, 0);
    op_free_tree(gcb, o);

    gcb->compile_hints = HINT_STRICT_REFS;
    o = op_new_unary(gcb, OP_RV2CV, 0, bare("f"));
    EXPECT_EQ(shape(gcb, o), "rv2cv(gv)") << "code names are allowed under strict refs";
    EXPECT_EQ(o->op_private & OPpHINT_STRICT_REFS, OPpHINT_STRICT_REFS);
    op_free_tree(gcb, o);

    struct Case {
        int32_t type;
        const char* message;
    } cases[] = {
        {OP_RV2SV, "Can't use bareword (\"x\") as a SCALAR ref while \"strict refs\" in use.\n"},
        {OP_RV2AV, "Can't use bareword (\"x\") as an ARRAY ref while \"strict refs\" in use.\n"},
        {OP_RV2HV, "Can't use bareword (\"x\") as a HASH ref while \"strict refs\" in use.\n"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fatal([&] { op_new_unary(gcb, c.type, 0, bare("x")); }), c.message);
}

TEST_F(CkName, ConstantReferencesMustSuitTheDereference)
{
    auto constant_ref = [this](SV* referent) {
        SV* ref = sv_new_reference(gcb, referent);
        sv_release(gcb, referent);
        ref->flags |= SVf_READONLY;
        return op_new_value(gcb, OP_CONST, 0, ref);
    };
    EXPECT_EQ(fatal([&] { op_new_unary(gcb, OP_RV2AV, 0, constant_ref(sv_new_from_int(gcb, 1))); }),
              "Constant is not an ARRAY reference.\n");
    EXPECT_EQ(fatal([&] { op_new_unary(gcb, OP_RV2CV, 0, constant_ref(as_sv(av_new_empty(gcb)))); }),
              "Constant is not a CODE reference.\n");
    // A pseudo-hash passes as a hash.
    AV* phash = av_new_empty(gcb);
    av_store_element(gcb, phash, 0, sv_new_reference(gcb, as_sv(hv_new_empty(gcb))));
    EXPECT_EQ(fatal([&] { op_free_tree(gcb, op_new_unary(gcb, OP_RV2HV, 0, constant_ref(as_sv(phash)))); }), "");
}

TEST_F(CkName, MethodNamesCarryTheirHash)
{
    struct Case {
        const char* name;
        bool fixed;
    } cases[] = {{"new", true}, {"", true}, {"Base::new", false}, {"Base'new", false}};
    for (const Case& c : cases) {
        OP* o = op_new_unary(gcb, OP_METHOD, 0, kstr(c.name));
        EXPECT_EQ(o->op_type, c.fixed ? OP_METHOD_NAMED : OP_METHOD) << c.name;
        if (c.fixed) {
            SV* sv = op_value_sv(o);
            EXPECT_EQ(str(sv), c.name);
            EXPECT_EQ(static_cast<uint32_t>(sv_iv(sv)), hv_key_hash(c.name, static_cast<int32_t>(std::strlen(c.name))));
        }
        op_free_tree(gcb, o);
    }
    EXPECT_EQ(hv_key_hash("", 0), 0u);
}

TEST_F(CkName, ExistsAndDeleteLearnTheirOperand)
{
    auto aelem = [this] { return op_new_binary(gcb, OP_AELEM, 0, array_var("a"), konst(1)); };
    auto aslice = [this] {
        return op_new_binary(gcb, OP_ASLICE, 0, op_list_append(gcb, OP_LIST, konst(1), konst(2)), array_var("a"));
    };
    auto helem = [this] {
        return op_new_binary(gcb, OP_HELEM, 0, op_new_unary(gcb, OP_RV2HV, 0, gvop("h")), kstr("k"));
    };
    struct Case {
        const char* what;
        int32_t type;
        std::function<OP*()> operand;
        uint8_t flags;  // SPECIAL
        uint8_t privs;
    } cases[] = {
        {"delete $a[1]", OP_DELETE, aelem, OPf_SPECIAL, 0},
        {"delete @a[1,2]", OP_DELETE, aslice, OPf_SPECIAL, 0x40},
        {"delete $h{k}", OP_DELETE, helem, 0, 0},
        {"exists $a[1]", OP_EXISTS, aelem, OPf_SPECIAL, 1},
        {"exists $h{k}", OP_EXISTS, helem, 0, 1},
    };
    for (const Case& c : cases) {
        OP* o = op_new_unary(gcb, c.type, 0, c.operand());
        EXPECT_EQ(o->op_flags & OPf_SPECIAL, c.flags) << c.what;
        EXPECT_EQ(o->op_private, c.privs) << c.what;
        EXPECT_EQ(op_first_kid(o)->op_type, OP_NULL) << c.what;
        op_free_tree(gcb, o);
    }
    EXPECT_EQ(fatal([&] { op_new_unary(gcb, OP_EXISTS, 0, scalar_var("x")); }),
              "exists argument is not a HASH or ARRAY element.\n");
    EXPECT_EQ(fatal([&] { op_new_unary(gcb, OP_DELETE, 0, scalar_var("x")); }),
              "delete argument is not a HASH or ARRAY element or slice.\n");
}

TEST_F(CkName, ScalarAssignmentIntoAnExistingLexicalTakesTheSourcesTarget)
{
    OP* var = my_scalar("$sum");
    uint32_t slot = var->op_targ;
    OP* add = op_new_binary(gcb, OP_ADD, 0, scalar_var("a"), scalar_var("b"));
    OP* o = op_new_binary(gcb, OP_SASSIGN, 0, add, var);
    EXPECT_EQ(o, add);
    EXPECT_EQ(o->op_targ, slot);
    EXPECT_EQ(o->op_private & OPpTARGET_MY, OPpTARGET_MY);
    op_free_tree(gcb, o);

    // my $sum = $a + $b keeps the assignment: the declaration runs it.
    var = my_scalar("$new");
    var->op_private |= OPpLVAL_INTRO;
    o = op_new_binary(gcb, OP_SASSIGN, 0, op_new_binary(gcb, OP_ADD, 0, scalar_var("a"), scalar_var("b")), var);
    EXPECT_EQ(shape(gcb, o), "sassign(add(rv2sv(gv) rv2sv(gv)) padsv)");
    op_free_tree(gcb, o);
}

TEST_F(CkName, ChopOfOneScalarIsTheScalarForm)
{
    OP* o = op_new_unary(gcb, OP_CHOP, 0, scalar_var("line"));
    EXPECT_EQ(shape(gcb, o), "schop(ex-list(rv2sv(gv)))");
    op_free_tree(gcb, o);
    o = op_new_unary(gcb, OP_CHOP, 0, array_var("lines"));
    EXPECT_EQ(shape(gcb, o), "chop(ex-list(pushmark rv2av(gv)))");
    op_free_tree(gcb, o);
    o = op_new_unary(gcb, OP_REFGEN, 0, scalar_var("x"));
    EXPECT_EQ(o->op_type, OP_SREFGEN);
    op_free_tree(gcb, o);
}

TEST_F(CkName, RepeatOfAParenthesisedListRepeatsTheList)
{
    OP* left = op_mark_parens(gcb, op_list_append(gcb, OP_LIST, konst(1), konst(2)));
    OP* o = op_new_binary(gcb, OP_REPEAT, 0, left, konst(3));
    EXPECT_EQ(o->op_private & OPpREPEAT_DOLIST, OPpREPEAT_DOLIST);
    EXPECT_EQ(shape(gcb, o), "repeat(ex-list(pushmark const const) const)");
    op_free_tree(gcb, o);
    o = op_new_binary(gcb, OP_REPEAT, 0, scalar_var("s"), konst(3));
    EXPECT_EQ(o->op_private & OPpREPEAT_DOLIST, 0);
    EXPECT_EQ(op_want(o), OPf_WANT_SCALAR);
    op_free_tree(gcb, o);
}

TEST_F(CkName, EvalForms)
{
    // eval BLOCK: leavetry over entertry and the block.
    OP* body = op_new_list(gcb, OP_LINESEQ, 0, scalar_var("x"), nullptr);
    OP* o = op_new_unary(gcb, OP_ENTEREVAL, 0, body);
    EXPECT_EQ(shape(gcb, o), "leavetry(entertry rv2sv(gv))");
    EXPECT_EQ(op_other_op(op_first_kid(o)), o);
    op_free_tree(gcb, o);

    gcb->compile_hints = HINT_INTEGER;
    o = op_new_unary(gcb, OP_ENTEREVAL, 0, scalar_var("code"));
    EXPECT_EQ(o->op_targ, HINT_INTEGER | HINT_BLOCK_SCOPE) << "the hints the text is compiled under";
    op_free_tree(gcb, o);
    o = op_new_base(gcb, OP_ENTEREVAL, 0);
    EXPECT_EQ(shape(gcb, o), "entereval(rv2sv(gv))");
    op_free_tree(gcb, o);
}

TEST_F(CkName, RequireOfAModuleName)
{
    struct Case {
        OP* (CkName::*make)(const char*);
        const char* name;
        const char* file;
    } cases[] = {
        {&CkName::bare, "Foo::Bar::Baz", "Foo/Bar/Baz.pm"},
        {&CkName::bare, "strict", "strict.pm"},
        {&CkName::kstr, "Foo::Bar", "Foo::Bar"},
    };
    for (const Case& c : cases) {
        OP* o = op_new_unary(gcb, OP_REQUIRE, 0, (this->*c.make)(c.name));
        SV* sv = op_value_sv(op_first_kid(o));
        EXPECT_EQ(str(sv), c.file);
        EXPECT_TRUE(sv->flags & SVf_READONLY);
        op_free_tree(gcb, o);
    }
}

TEST_F(CkName, FileTestsAndDefaultHandles)
{
    OP* o = op_new_base(gcb, OP_FTTTY, 0);
    EXPECT_TRUE(o->op_flags & OPf_REF);
    EXPECT_EQ(glob_name(o), "STDIN");
    op_free_tree(gcb, o);
    o = op_new_base(gcb, OP_FTIS, 0);
    EXPECT_EQ(shape(gcb, o), "ftis(rv2sv(gv))");
    op_free_tree(gcb, o);
    o = op_new_unary(gcb, OP_STAT, 0, bare("FH"));
    EXPECT_TRUE(o->op_flags & OPf_REF);
    EXPECT_EQ(glob_name(o), "FH");
    op_free_tree(gcb, o);

    // print FH prints $_ to FH.
    OP* args = op_new_list(gcb, OP_LIST, 0, bare("FH"), nullptr);
    o = op_convert_list(gcb, OP_PRINT, 0, args);
    EXPECT_TRUE(o->op_flags & OPf_STACKED);
    EXPECT_EQ(shape(gcb, o), "print(pushmark rv2gv(gv) rv2sv(gv))");
    op_free_tree(gcb, o);

    // select(FH) is one-argument select; four arguments are sselect.
    gcb->compile_hints = HINT_STRICT_REFS;
    o = op_convert_list(gcb, OP_SELECT, 0, op_new_list(gcb, OP_LIST, 0, scalar_var("h"), nullptr));
    EXPECT_EQ(o->op_type, OP_SELECT);
    EXPECT_EQ(op_first_kid(o)->op_sibling->op_private & OPpHINT_STRICT_REFS, 0);
    op_free_tree(gcb, o);
    OP* four = op_list_append(gcb, OP_LIST, op_list_append(gcb, OP_LIST, scalar_var("r"), scalar_var("w")),
                              op_list_append(gcb, OP_LIST, scalar_var("e"), konst(1)));
    o = op_convert_list(gcb, OP_SELECT, 0, four);
    EXPECT_EQ(o->op_type, OP_SSELECT);
    op_free_tree(gcb, o);
}

TEST_F(CkName, PopTakesTheArgumentsInASubAndArgvOutside)
{
    struct Case {
        uint16_t cvflags;
        const char* array;
    } cases[] = {{0, "_"}, {0x10, "ARGV"}};
    for (const Case& c : cases) {
        SV* cv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, cv, SVt_PVCV);
        static_cast<PVCV*>(cv->any)->cvflags = c.cvflags;
        gcb->compile_cv = sv_as<CV>(cv);
        OP* o = op_new_base(gcb, OP_SHIFT, 0);
        EXPECT_EQ(shape(gcb, o), "shift(rv2av(gv))");
        EXPECT_EQ(glob_name(op_first_kid(op_first_kid(o))), c.array);
        op_free_tree(gcb, o);
        // (a code value's release is not for this test: it stays to the end)
        gcb->compile_cv = nullptr;
    }
}

TEST_F(CkName, DefinedOfAnAggregateIsDeprecated)
{
    compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    auto padav = [this] {
        uint32_t slot = pad_declare_my(gcb, "@list");
        OP* o = op_new_base(gcb, OP_PADAV, 0);
        o->op_targ = slot;
        return o;
    };
    OP* o = op_new_unary(gcb, OP_DEFINED, 0, padav());
    op_free_tree(gcb, o);
    o = op_new_unary(gcb, OP_DEFINED, 0, array_var("pkg"));
    op_free_tree(gcb, o);
    EXPECT_EQ(warnings(),
              "defined(@array) is deprecated.\n"
              "\t(Maybe you should just omit the defined()?)\n");
}

TEST_F(CkName, HandleAndProgramOperands)
{
    // eof() reads the end of the whole ARGV stream.
    OP* o = op_new_unary(gcb, OP_EOF, 0, op_new_stub(gcb));
    EXPECT_TRUE(o->op_flags & OPf_SPECIAL);
    EXPECT_EQ(shape(gcb, o), "eof(gv)");
    EXPECT_EQ(glob_name(op_first_kid(o)), "ARGV");
    op_free_tree(gcb, o);

    // truncate(FH, 0): the bareword names a handle and is no strict-subs error.
    OP* fh = bare("FH");
    fh->op_private |= OPpCONST_STRICT;
    o = op_convert_list(gcb, OP_TRUNCATE, 0, op_list_append(gcb, OP_LIST, fh, konst(0)));
    EXPECT_TRUE(o->op_flags & OPf_SPECIAL);
    EXPECT_EQ(fh->op_private & OPpCONST_STRICT, 0);
    op_free_tree(gcb, o);

    // system { $prog } @args: the program block only yields the program.
    OP* prog = op_new_unary(gcb, OP_RV2GV, 0, scalar_var("prog"));
    o = op_convert_list(gcb, OP_SYSTEM, OPf_STACKED, op_list_append(gcb, OP_LIST, prog, array_var("args")));
    EXPECT_EQ(shape(gcb, o), "system(pushmark ex-rv2gv(rv2sv(gv)) rv2av(gv))");
    op_free_tree(gcb, o);
    o = op_convert_list(gcb, OP_SYSTEM, 0, op_list_append(gcb, OP_LIST, kstr("ls"), array_var("args")));
    EXPECT_EQ(op_want(op_last_kid(o)), OPf_WANT_LIST);
    op_free_tree(gcb, o);
}

TEST_F(CkName, AnonymousSubMovesIntoThePad)
{
    SV* cv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, cv, SVt_PVCV);
    OP* o = op_new_value(gcb, OP_ANONCODE, 0, cv);
    ASSERT_NE(o->op_targ, 0u);
    EXPECT_EQ(op_value_sv(o), nullptr);
    EXPECT_EQ(gcb->curpad[o->op_targ], cv);
    EXPECT_EQ(cv->flags & (SVs_PADBUSY | SVs_PADMY), SVs_PADBUSY | SVs_PADMY);
    EXPECT_EQ(pad_name(o->op_targ), "&");
    // The code value is not released here: the slot gets a plain value back.
    gcb->curpad[o->op_targ] = sv_new_undef(gcb, 0);
    o->op_targ = 0;
    op_free_tree(gcb, o);
}

}  // namespace
