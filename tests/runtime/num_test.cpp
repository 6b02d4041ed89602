// The numeric built-ins: the math functions and their failures, int and
// abs with their integer paths, rand's granularity and seeding (with the
// refused read of the random device), srand, hex and oct, and the overload
// step.
#include <cmath>
#include <set>

#include "runtime/strop_fixture.h"

#include "ds/src/prxgv.h"

namespace {

class Num : public runtime::OpCall {
protected:
    // Runs a unary op on one operand; its one result.
    SV* unary(uint16_t type, SV* operand)
    {
        OP* o = op(type, OPf_WANT_SCALAR, 1);
        Outcome out = call(o, {operand});
        EXPECT_EQ(out.next, &after);
        SV* r = one(out);
        EXPECT_EQ(r, target(o));
        return r;
    }
    double d(uint16_t type, double v) { return dbl(unary(type, num(v))); }
    SV* ival(int64_t v)
    {
        SV* sv = sv_new_undef(gcb, 0);
        sv_set_int(gcb, sv, v);
        return sv;
    }
    // The catalogue messages 304 issued so far, by their argument.
    std::vector<std::string> unsupported()
    {
        std::vector<std::string> out;
        for (const hostsim::Message& m : host->messages)
            if (m.table == 738 && m.number == 304)
                out.push_back(m.args.empty() ? std::string() : m.args.back());
        return out;
    }
    // rand with a limit (or none); its result.
    double rand_of(OP* o, SV* limit)
    {
        Outcome out = limit ? call(o, {limit}) : call(o, {});
        return dbl(one(out));
    }
};

TEST_F(Num, MathFunctions)
{
    EXPECT_DOUBLE_EQ(d(OP_SIN, 0), 0.0);
    EXPECT_DOUBLE_EQ(d(OP_SIN, M_PI / 2), 1.0);
    EXPECT_DOUBLE_EQ(d(OP_COS, 0), 1.0);
    EXPECT_DOUBLE_EQ(d(OP_EXP, 1), M_E);
    EXPECT_DOUBLE_EQ(d(OP_EXP, -1000), 0.0);
    EXPECT_DOUBLE_EQ(d(OP_LOG, M_E), 1.0);
    EXPECT_DOUBLE_EQ(d(OP_SQRT, 16), 4.0);
    EXPECT_DOUBLE_EQ(d(OP_SQRT, 0), 0.0);
    EXPECT_DOUBLE_EQ(dbl(unary(OP_SQRT, bytes("2.25"))), 1.5);
    EXPECT_TRUE(std::isnan(d(OP_LOG, std::nan(""))));

    struct Case {
        double left, right, expect;
    } atan2s[] = {{0, -1, M_PI}, {1, 1, M_PI / 4}, {0, 1, 0}, {-1, 0, -M_PI / 2}};
    for (const Case& c : atan2s) {
        OP* o = op(OP_ATAN2);
        SV* r = one(call(o, {num(c.left), num(c.right)}));
        EXPECT_EQ(r, target(o));
        EXPECT_DOUBLE_EQ(dbl(r), c.expect) << c.left << "," << c.right;
    }
}

TEST_F(Num, LogAndSqrtRefuse)
{
    struct Case {
        uint16_t type;
        double v;
        const char* message;
    } cases[] = {
        {OP_LOG, 0, "Can't take log of 0.\n"},
        {OP_LOG, -1, "Can't take log of -1.\n"},
        {OP_LOG, -0.5, "Can't take log of -0.5.\n"},
        {OP_SQRT, -1, "Can't take sqrt of -1.\n"},
    };
    for (const Case& c : cases) {
        clear_err();
        Outcome out = call(op(c.type), {num(c.v)});
        EXPECT_NE(out.code, 0);
        EXPECT_EQ(err_text(), c.message);
    }
}

TEST_F(Num, IntTruncatesTowardZero)
{
    SV* r = unary(OP_INT, num(-3.7));
    EXPECT_TRUE(r->flags & SVf_IOK);
    EXPECT_EQ(sv_iv(r), -3);
    r = unary(OP_INT, num(3.7));
    EXPECT_EQ(sv_iv(r), 3);
    // 1e20 does not survive the saturating conversion: it stays a double.
    r = unary(OP_INT, num(1e20));
    EXPECT_FALSE(r->flags & SVf_IOK);
    EXPECT_TRUE(r->flags & SVf_NOK);
    EXPECT_EQ(sv_nv(r), 1e20);
    // An integer-only value is taken as it is, even beyond the 32-bit range.
    r = unary(OP_INT, ival(int64_t{1} << 40));
    EXPECT_TRUE(r->flags & SVf_IOK);
    EXPECT_EQ(sv_iv(r), int64_t{1} << 40);
    r = unary(OP_INT, bytes("-4.9"));
    EXPECT_EQ(sv_to_int(gcb, r), -4);
    EXPECT_TRUE(r->flags & SVf_IOK);
    SV* u = sv_new_from_uint(gcb, uint64_t{1} << 63);
    r = unary(OP_INT, u);
    EXPECT_TRUE(r->flags & SVf_IsUV);
    EXPECT_EQ(sv_uv(r), uint64_t{1} << 63);
}

TEST_F(Num, AbsKeepsIntegers)
{
    SV* r = unary(OP_ABS, ival(-5));
    EXPECT_TRUE(r->flags & SVf_IOK);
    EXPECT_EQ(sv_iv(r), 5);
    r = unary(OP_ABS, ival(INT64_MIN));
    EXPECT_FALSE(r->flags & SVf_IOK);
    EXPECT_EQ(sv_nv(r), 9223372036854775808.0);
    r = unary(OP_ABS, num(-2.5));
    EXPECT_EQ(sv_nv(r), 2.5);
    r = unary(OP_ABS, bytes("-3"));
    EXPECT_EQ(dbl(r), 3.0);
    r = unary(OP_ABS, num(-0.0));
    EXPECT_FALSE(std::signbit(sv_nv(r)));
}

TEST_F(Num, RandSeedsOnceThroughTheRefusedRead)
{
    OP* o = op(OP_RAND, OPf_WANT_SCALAR, 0);
    EXPECT_TRUE(unsupported().empty());
    double first = rand_of(o, nullptr);
    EXPECT_GE(first, 0.0);
    EXPECT_LT(first, 1.0);
    EXPECT_EQ(unsupported(), std::vector<std::string>{"READ"});
    rand_of(o, nullptr);
    rand_of(o, nullptr);
    EXPECT_EQ(unsupported().size(), 1u);
    EXPECT_TRUE(gcb->srand_called);
}

TEST_F(Num, RandGranularityAndLimits)
{
    OP* s = op(OP_SRAND, OPf_WANT_SCALAR, 1);
    one(call(s, {num(7)}));
    OP* o = op(OP_RAND, OPf_WANT_SCALAR, 1);
    std::set<double> seen;
    for (int i = 0; i < 200; i++) {
        double r = rand_of(o, num(1));
        EXPECT_GE(r, 0.0);
        EXPECT_LT(r, 1.0);
        // Steps of 1/32768.
        double steps = r * 32768;
        EXPECT_EQ(steps, std::floor(steps)) << r;
        seen.insert(r);
    }
    EXPECT_GT(seen.size(), 150u);
    for (int i = 0; i < 50; i++) {
        double zero_limit = rand_of(o, num(0));
        EXPECT_GE(zero_limit, 0.0);
        EXPECT_LT(zero_limit, 1.0);
        double negative = rand_of(o, num(-2));
        EXPECT_LE(negative, 0.0);
        EXPECT_GT(negative, -2.0);
        double ten = rand_of(o, num(10));
        EXPECT_GE(ten, 0.0);
        EXPECT_LT(ten, 10.0);
    }
    // srand never asked the random device.
    EXPECT_TRUE(unsupported().empty());
}

TEST_F(Num, SrandRepeatsTheSequence)
{
    OP* s = op(OP_SRAND, OPf_WANT_SCALAR, 1);
    OP* o = op(OP_RAND, OPf_WANT_SCALAR, 0);
    Outcome seeded = call(s, {num(42)});
    EXPECT_EQ(one(seeded), &gcb->sv_yes);
    std::vector<double> a, b;
    for (int i = 0; i < 5; i++)
        a.push_back(rand_of(o, nullptr));
    one(call(s, {bytes("42")}));
    for (int i = 0; i < 5; i++)
        b.push_back(rand_of(o, nullptr));
    EXPECT_EQ(a, b);
    one(call(s, {num(43)}));
    EXPECT_NE(rand_of(o, nullptr), a[0]);
    // Without an operand srand seeds itself, through the refused read.
    OP* bare = op(OP_SRAND, OPf_WANT_SCALAR, 0);
    EXPECT_EQ(one(call(bare, {})), &gcb->sv_yes);
    EXPECT_EQ(unsupported(), std::vector<std::string>{"READ"});
}

TEST_F(Num, HexAndOct)
{
    struct Case {
        uint16_t type;
        const char* text;
        double expect;
    } cases[] = {
        {OP_HEX, "ff", 255},
        {OP_HEX, "0xff", 255},
        {OP_HEX, "f_f", 255},
        {OP_HEX, "FF", 255},
        {OP_HEX, "", 0},
        {OP_HEX, "ffffffff", 4294967295.0},
        {OP_OCT, "  0x1F", 31},
        {OP_OCT, "0b101", 5},
        {OP_OCT, "b101", 5},
        {OP_OCT, "x1f", 31},
        {OP_OCT, "755", 493},
        {OP_OCT, "0755", 493},
        {OP_OCT, "7_5_5", 493},
        {OP_OCT, "", 0},
        {OP_OCT, "   ", 0},
    };
    for (const Case& c : cases) {
        SV* r = unary(c.type, bytes(c.text));
        EXPECT_TRUE(r->flags & SVf_NOK) << c.text;
        EXPECT_EQ(dbl(r), c.expect) << c.text;
    }
    warnings_all();
    EXPECT_EQ(dbl(unary(OP_OCT, bytes("789"))), 7.0);
    EXPECT_EQ(err_text(), "Illegal octal digit '8' ignored.\n");
}

// A package whose "atan2" and "abs" overloads are native subs.
void overload_result(PERLGCB* gcb, CV*)
{
    int32_t mark = *gcb->mark_sp--;
    gcb->arg_sp = gcb->arg_base + mark;
    *++gcb->arg_sp = sv_make_temporary(gcb, sv_new_from_cstring(gcb, "overloaded", 0));
}

TEST_F(Num, OverloadedOperands)
{
    HV* st = stash("Ovl");
    define_native_subs({"Ovl::()", "Ovl::(atan2", "Ovl::(abs"}, overload_result);
    ASSERT_TRUE(gv_rebuild_overload_table(gcb, st));
    gcb->overload_generation = 1;
    SV* obj = overloaded_object(st);

    OP* o = op(OP_ATAN2);
    Outcome out = call(o, {num(1), obj});
    SV* r = one(out);
    EXPECT_EQ(str(r), "overloaded");
    EXPECT_NE(r, target(o));

    // A lexical target receives the method's result.
    OP* a = op(OP_ABS, OPf_WANT_SCALAR, 1);
    target(a)->flags |= SVs_PADMY;
    r = one(call(a, {obj}));
    EXPECT_EQ(r, target(a));
    EXPECT_EQ(str(r), "overloaded");
}

}  // namespace
