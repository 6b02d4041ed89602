// Operator overloading: the overload table and its rebuild, and what an
// overloaded operation calls (a double of the sub call here) under the
// fallback rules, with the substitutions and the "no method" report.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"

namespace {

using prxtest::Stacks;

OP* dummy_root(PERLGCB*) { return nullptr; }

struct Call {
    std::string method;   // the overload key of the sub called
    std::vector<SV*> args;
};

class Overload : public Stacks {
protected:
    std::map<CV*, std::string> keys;           // sub -> the key it was defined for
    std::map<std::string, std::function<SV*(const Call&)>> results;
    std::vector<Call> calls;

    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        doubles::value_call = [this](PERLGCB*, CV* cv, int32_t flags) {
            EXPECT_EQ(flags, 0);
            EXPECT_EQ(gcb->current_level->si_type, SI_OVERLOAD);
            int32_t mark = *gcb->mark_sp--;
            Call c{keys[cv], {}};
            for (SV** p = gcb->arg_base + mark + 1; p <= gcb->arg_sp; p++)
                c.args.push_back(*p);
            calls.push_back(c);
            gcb->arg_sp = gcb->arg_base + mark;
            auto it = results.find(c.method);
            *++gcb->arg_sp = it == results.end() ? pv(c.method.c_str()) : it->second(c);
            return 1;
        };
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }
    // Package pkg overloads the keys, with fallback: "undef", "0", "1".
    HV* package(const char* pkg, std::vector<std::string> ops, const char* fallback = "undef")
    {
        GV* fb = gv_fetch_by_name(gcb, (std::string(pkg) + "::()").c_str(), GV_ADD, SVt_PVCV);
        define_cv(fb, "()");
        if (std::string(fallback) != "undef")
            sv_set_cstring(gcb, gv_gp(fb)->gp_sv, fallback);
        for (const std::string& op : ops)
            define_cv(gv_fetch_by_name(gcb, (std::string(pkg) + "::(" + op).c_str(), GV_ADD, SVt_PVCV), op);
        HV* st = stash(pkg);
        EXPECT_TRUE(gv_rebuild_overload_table(gcb, st) || ops.empty());
        return st;
    }
    void define_cv(GV* gv, const std::string& key)
    {
        CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
        sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
        static_cast<PVCV*>(cv->any)->xsub = reinterpret_cast<void*>(&dummy_root);
        static_cast<PVCV*>(cv->any)->gv = gv;
        sv_refinc(as_sv(cv));
        gv_gp(gv)->gp_cv = cv;
        keys[cv] = key;
        gcb->method_cache_generation++;
    }
    SV* call(SV* l, SV* r, int32_t method, int32_t flags)
    {
        SV* res = nullptr;
        EXPECT_EQ(run([&] { res = overload_call_operator(gcb, l, r, method, flags); }), 0) << err_text();
        return res;
    }
    std::vector<std::string> methods()
    {
        std::vector<std::string> out;
        for (const Call& c : calls)
            out.push_back(c.method);
        return out;
    }
};

TEST_F(Overload, TheTableCachesTheMethodsUntilAGenerationMoves)
{
    HV* st = package("P", {"+", "\"\""});
    MAGIC* c = mg_find_by_type(gcb, as_sv(st), 'c');
    ASSERT_NE(c, nullptr);
    auto* t = reinterpret_cast<overload_table*>(c->ptr);
    EXPECT_TRUE(t->flags & AMTf_OVERLOADED);
    EXPECT_EQ(t->fallback, AMT_FALLBACK_UNDEF);
    EXPECT_NE(t->methods[AMG_ADD], nullptr);
    EXPECT_NE(t->methods[AMG_STRING], nullptr);
    EXPECT_EQ(t->methods[AMG_SUBTRACT], nullptr);
    EXPECT_EQ(gv_rebuild_overload_table(gcb, st), 1);
    EXPECT_EQ(mg_find_by_type(gcb, as_sv(st), 'c'), c);  // current: not rebuilt
    gcb->overload_generation++;
    EXPECT_EQ(gv_rebuild_overload_table(gcb, st), 1);
    EXPECT_NE(mg_find_by_type(gcb, as_sv(st), 'c'), nullptr);
    // A package without "()" overloads nothing.
    EXPECT_EQ(gv_rebuild_overload_table(gcb, stash("Plain")), 0);
    auto* plain = reinterpret_cast<overload_table*>(mg_find_by_type(gcb, as_sv(stash("Plain")), 'c')->ptr);
    EXPECT_FALSE(plain->flags & AMTf_OVERLOADED);
    // Fallback from the "()" scalar.
    auto fb = [&](const char* pkg, const char* value) {
        HV* s = package(pkg, {"+"}, value);
        return reinterpret_cast<overload_table*>(mg_find_by_type(gcb, as_sv(s), 'c')->ptr)->fallback;
    };
    EXPECT_EQ(fb("F0", "0"), AMT_FALLBACK_NO);
    EXPECT_EQ(fb("F1", "1"), AMT_FALLBACK_YES);
}

TEST_F(Overload, ComparisonsThroughTheThreeWayMethods)
{
    HV* st = package("Cmp", {"<=>"});
    SV* o = overloaded_object(st);
    results["<=>"] = [&](const Call&) { return iv(-1); };
    EXPECT_EQ(call(o, iv(5), AMG_LT, 0), &gcb->sv_yes);
    EXPECT_EQ(call(o, iv(5), AMG_EQ, 0), &gcb->sv_no);
    EXPECT_EQ(methods(), (std::vector<std::string>{"<=>", "<=>"}));
    // The string comparisons need "cmp": with only "<=>" there is no method.
    EXPECT_EQ(run([&] { overload_call_operator(gcb, o, iv(5), AMG_SLT, 0); }), 2);
    EXPECT_EQ(err_text(),
              "Operation `lt': no method found,\n\tleft argument in overloaded package Cmp,\n"
              "\tright argument has no overloaded magic.\n");
}

TEST_F(Overload, ConcatenationFallsBackByTheFallbackRule)
{
    SV* o2 = overloaded_object(package("Undef", {"+"}));
    EXPECT_EQ(call(o2, pv("x"), 54, 0), nullptr);  // undef: the ordinary operation
    SV* o1 = overloaded_object(package("No", {"+"}, "0"));
    EXPECT_EQ(run([&] { overload_call_operator(gcb, o1, pv("x"), 54, 0); }), 2);
    EXPECT_EQ(err_text(),
              "Operation `.': no method found,\n\tleft argument in overloaded package No,\n"
              "\tright argument has no overloaded magic.\n");
    SV* o3 = overloaded_object(package("Yes", {"+"}, "1"));
    EXPECT_EQ(call(o3, pv("x"), AMG_SUBTRACT, 0), nullptr);  // fallback true: no report
}

TEST_F(Overload, AssignmentFormsAndTheCopy)
{
    HV* st = package("Add", {"+", "="});
    SV* o = overloaded_object(st);
    // "+=" with only "+": the plain form, called as no assignment.
    SV* r = call(o, iv(1), AMG_ADD, AMGf_assign);
    EXPECT_EQ(str(r), "+");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[2], &gcb->sv_no);
    // "++" through "+": 1 as right operand, the result assigned to the operand.
    calls.clear();
    results["+"] = [&](const Call&) { return pv("incremented"); };
    SV* inc = call(o, &gcb->sv_undef, AMG_INC, AMGf_noright | AMGf_unary);
    EXPECT_EQ(inc, o);
    EXPECT_EQ(str(o), "incremented");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[1], &gcb->sv_yes);
    EXPECT_EQ(calls[0].args[2], &gcb->sv_undef);  // an assignment
}

TEST_F(Overload, AssignmentCopiesASharedReferentFirst)
{
    HV* st = package("Acc", {"+=", "="});
    SV* o = overloaded_object(st);
    SV* referent = sv_rv(o);
    SV* other = sv_new_reference(gcb, referent);  // shared: count 2
    results["="] = [&](const Call& c) { return sv_new_reference_adopting(gcb, sv_new_copy(gcb, sv_rv(c.args[0]))); };
    call(o, iv(1), AMG_ADD, AMGf_assign);
    EXPECT_EQ(methods(), (std::vector<std::string>{"=", "+="}));
    EXPECT_NE(sv_rv(o), referent);
    EXPECT_EQ(sv_rv(other), referent);
    EXPECT_EQ(referent->refcnt, 1u);
}

TEST_F(Overload, NomethodGetsTheKey)
{
    HV* st = package("Nm", {"nomethod"});
    SV* o = overloaded_object(st);
    call(o, &gcb->sv_undef, AMG_INC, AMGf_noright | AMGf_unary);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "nomethod");
    ASSERT_EQ(calls[0].args.size(), 4u);
    EXPECT_EQ(str(calls[0].args[3]), "++");
}

TEST_F(Overload, UnarySubstitutions)
{
    HV* st = package("Un", {"bool", "-"});
    SV* o = overloaded_object(st);
    results["bool"] = [&](const Call&) { return iv(0); };
    EXPECT_EQ(call(o, &gcb->sv_undef, AMG_NOT, AMGf_noright | AMGf_unary), &gcb->sv_yes);
    EXPECT_EQ(str(call(o, &gcb->sv_undef, AMG_NUMBER, AMGf_noright | AMGf_unary)), "0");  // "0+" through "bool"
    // neg through "-": 0 as left operand, called as from the right side.
    calls.clear();
    call(o, &gcb->sv_undef, AMG_NEG, AMGf_noright | AMGf_unary);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[0], o);
    EXPECT_EQ(sv_to_int(gcb, calls[0].args[1]), 0);
    EXPECT_EQ(calls[0].args[2], &gcb->sv_yes);
    // A dereference key without a method gives the operand itself.
    EXPECT_EQ(call(o, &gcb->sv_undef, AMG_TO_SV, AMGf_noright | AMGf_unary), o);
    EXPECT_EQ(call(o, &gcb->sv_undef, AMG_ITER, AMGf_noright | AMGf_unary), nullptr);
}

TEST_F(Overload, AUnaryReportNamesOneArgument)
{
    SV* o = overloaded_object(package("Un", {"bool"}));
    struct Case {
        SV* left;
        SV* right;
        int32_t flags;
        const char* text;
    } cases[] = {
        {o, &gcb->sv_undef, AMGf_noright | AMGf_unary,
         "Operation `~': no method found, argument in overloaded package Un.\n"},
        // An overloaded right operand of a unary operation is not reported.
        {pv("x"), o, AMGf_unary, "Operation `~': no method found, argument has no overloaded magic.\n"},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        EXPECT_EQ(run([&] { overload_call_operator(gcb, c.left, c.right, AMG_COMPLEMENT, c.flags); }), 2);
        EXPECT_EQ(err_text(), c.text);
    }
}

TEST_F(Overload, TheRightOperandsMethodIsCalledSwapped)
{
    HV* st = package("R", {"-"});
    SV* o = overloaded_object(st);
    SV* five = iv(5);
    call(five, o, AMG_SUBTRACT, 0);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[0], o);
    EXPECT_EQ(calls[0].args[1], five);
    EXPECT_EQ(calls[0].args[2], &gcb->sv_yes);
}

TEST_F(Overload, CopyMustReturnAReference)
{
    HV* st = package("Cp", {"="});
    SV* o = overloaded_object(st);
    results["="] = [&](const Call&) { return pv("not a reference"); };
    EXPECT_EQ(run([&] { overload_call_operator(gcb, o, &gcb->sv_undef, AMG_COPY, AMGf_noright | AMGf_unary); }), 2);
    EXPECT_EQ(err_text(), "Copy method did not return a reference.\n");
}

}  // namespace
