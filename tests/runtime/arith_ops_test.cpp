// The operators run directly: modulus and the integer variants, repetition,
// shifts, comparisons, bitwise operators, negation, not and complement.
#include "runtime/agg_ops_fixture.h"

#include <functional>

#include "ds/src/prxutf8.h"

namespace {

using runtime::Ops;

class Arith : public Ops {
protected:
    // A binary op on two operands; its result's string.
    std::string binary(uint16_t type, SV* left, SV* right, uint8_t priv = 0)
    {
        SV* r = call1(op(type, OPf_WANT_SCALAR, priv), {left, right});
        EXPECT_EQ(code, 0);
        return r ? (r == &gcb->sv_undef ? std::string("undef") : str(r)) : std::string("none");
    }
    std::string unary(uint16_t type, SV* operand, uint8_t priv = 0)
    {
        SV* r = call1(op(type, OPf_WANT_SCALAR, priv), {operand});
        EXPECT_EQ(code, 0);
        return r ? (r == &gcb->sv_undef ? std::string("undef") : str(r)) : std::string("none");
    }
};

TEST_F(Arith, ModulusFollowsTheRightOperandsSign)
{
    struct Case {
        std::function<SV*()> left, right;
        const char* want;
    };
    const Case cases[] = {
        {[&] { return iv(7); }, [&] { return iv(-3); }, "-2"},
        {[&] { return iv(-7); }, [&] { return iv(3); }, "2"},
        {[&] { return iv(-7); }, [&] { return iv(-3); }, "-1"},
        {[&] { return iv(6); }, [&] { return iv(-3); }, "0"},
        // Doubles up to 4294967295 are truncated to the integer path.
        {[&] { return nv(7.9); }, [&] { return iv(3); }, "1"},
        {[&] { return nv(-7.5); }, [&] { return iv(2); }, "1"},
        {[&] { return iv(7); }, [&] { return nv(-3.9); }, "-2"},
        // Beyond it both are rounded to whole numbers and fmod decides.
        {[&] { return nv(5000000000.7); }, [&] { return iv(3); }, "0"},
        {[&] { return nv(5000000002.2); }, [&] { return iv(3); }, "1"},
        {[&] { return nv(5000000001.6); }, [&] { return iv(3); }, "1"},
        {[&] { return nv(-5000000002.0); }, [&] { return iv(3); }, "2"},
        {[&] { return nv(5000000002.0); }, [&] { return iv(-3); }, "-2"},
        {[&] { return pv("17"); }, [&] { return pv("5"); }, "2"},
        {[&] { return iv(INT64_MIN); }, [&] { return iv(-1); }, "0"},
        {[&] { return iv(INT64_MIN); }, [&] { return iv(7); }, "6"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(binary(OP_MODULO, c.left(), c.right()), c.want);
}

TEST_F(Arith, IntegerVariantsTruncateAndWrap)
{
    EXPECT_EQ(binary(OP_I_DIVIDE, iv(-7), iv(2)), "-3");
    EXPECT_EQ(binary(OP_I_MODULO, iv(-7), iv(2)), "-1");
    EXPECT_EQ(binary(OP_I_MODULO, iv(7), iv(-2)), "1");
    // The most negative integer by -1: a result, not a trap.
    EXPECT_EQ(binary(OP_I_DIVIDE, iv(INT64_MIN), iv(-1)), "-9223372036854775808");
    EXPECT_EQ(binary(OP_I_MODULO, iv(INT64_MIN), iv(-1)), "0");
    EXPECT_EQ(binary(OP_I_MULTIPLY, iv(INT64_MAX), iv(2)), "-2");
    EXPECT_EQ(binary(OP_I_ADD, iv(INT64_MAX), iv(1)), "-9223372036854775808");
    EXPECT_EQ(binary(OP_I_SUBTRACT, iv(3), iv(10)), "-7");
    EXPECT_EQ(unary(OP_I_NEGATE, iv(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(unary(OP_I_NEGATE, pv("12")), "-12");
    EXPECT_EQ(binary(OP_I_NCMP, iv(-5), iv(3)), "-1");
    EXPECT_EQ(binary(OP_I_LT, iv(-5), iv(3)), "1");
    EXPECT_EQ(binary(OP_I_EQ, nv(2.9), iv(2)), "1");
}

TEST_F(Arith, DoubleOperatorsHaveNoIntegerPath)
{
    EXPECT_EQ(binary(OP_POW, iv(2), iv(10)), "1024");
    EXPECT_EQ(binary(OP_DIVIDE, iv(1), iv(4)), "0.25");
    EXPECT_EQ(binary(OP_MULTIPLY, nv(1.5), iv(4)), "6");
    EXPECT_EQ(binary(OP_SUBTRACT, iv(3), nv(0.5)), "2.5");
    SV* r = call1(op(OP_SUBTRACT), {iv(5), iv(2)});
    EXPECT_TRUE(r->flags & SVf_NOK);
    EXPECT_FALSE(r->flags & SVf_IOK);
}

TEST_F(Arith, DivisionAndModulusByZeroDie)
{
    struct Case {
        uint16_t type;
        std::function<SV*()> right;
        const char* message;
    };
    const Case cases[] = {
        {OP_DIVIDE, [&] { return nv(-0.0); }, "Illegal division by zero"},
        {OP_I_DIVIDE, [&] { return iv(0); }, "Illegal division by zero"},
        {OP_MODULO, [&] { return nv(0.4); }, "Illegal modulus zero"},
        {OP_MODULO, [&] { return nv(6000000000.0 - 6000000000.0); }, "Illegal modulus zero"},
        {OP_I_MODULO, [&] { return iv(0); }, "Illegal modulus zero"},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        call(op(c.type), {iv(1), c.right()});
        EXPECT_TRUE(died_with(c.message)) << c.message << " / " << err_text();
    }
}

TEST_F(Arith, AssignmentFormsOfAnUndefinedLeftOperand)
{
    warnings_all();
    // -= takes the undefined left operand as 0 without a warning.
    SV* x = undef();
    SV* r = call1(op(OP_SUBTRACT, OPf_WANT_SCALAR | OPf_STACKED), {x, iv(1)});
    EXPECT_EQ(r, x);
    EXPECT_EQ(str(x), "-1");
    SV* y = undef();
    call1(op(OP_I_ADD, OPf_WANT_SCALAR | OPf_STACKED), {y, iv(4)});
    EXPECT_EQ(str(y), "4");
    SV* z = undef();
    call1(op(OP_BIT_OR, OPf_WANT_SCALAR | OPf_STACKED), {z, iv(6)});
    EXPECT_EQ(str(z), "6");
    EXPECT_EQ(err_text(), "");
    // *= converts it, and the conversion warns.
    SV* w = undef();
    call1(op(OP_MULTIPLY, OPf_WANT_SCALAR | OPf_STACKED), {w, iv(2)});
    EXPECT_EQ(str(w), "0");
    EXPECT_EQ(err_text(), "Use of uninitialized value in multiplication (*).\n");
}

TEST_F(Arith, StringRepetition)
{
    EXPECT_EQ(binary(OP_REPEAT, pv("ab"), iv(3)), "ababab");
    EXPECT_EQ(binary(OP_REPEAT, pv("ab"), iv(1)), "ab");
    EXPECT_EQ(binary(OP_REPEAT, pv("ab"), iv(0)), "");
    EXPECT_EQ(binary(OP_REPEAT, pv("ab"), iv(-1)), "");
    EXPECT_EQ(binary(OP_REPEAT, iv(12), iv(2)), "1212");
    // The result is a plain string; UTF-8 is kept.
    SV* r = call1(op(OP_REPEAT), {utf8("\xC3\xA9"), iv(2)});
    EXPECT_EQ(str(r), "\xC3\xA9\xC3\xA9");
    EXPECT_EQ(r->flags & (SVf_UTF8 | SVf_POK | SVf_IOK | SVf_NOK), SVf_UTF8 | SVf_POK);
}

TEST_F(Arith, ListRepetition)
{
    OP* rep = op(OP_REPEAT, OPf_WANT_LIST, OPpREPEAT_DOLIST);
    // The mark opens the list; the count follows it.
    gcb->arg_sp = gcb->arg_base;
    auto run_list = [&](std::initializer_list<SV*> items, SV* count) {
        gcb->arg_sp = gcb->arg_base;
        gcb->mark_sp = gcb->mark_stack;
        push_mark(gcb, gcb->arg_sp);
        SV** sp = gcb->arg_sp;
        for (SV* sv : items)
            *++sp = sv;
        *++sp = count;
        gcb->arg_sp = sp;
        gcb->op = rep;
        code = run([&] { returned = rep->op_ppaddr(gcb); });
        return results_from(0);
    };
    SV* one = iv(1);
    SV* two = iv(2);
    std::vector<SV*> r = run_list({one, two}, iv(2));
    EXPECT_EQ(texts(r), "1,2,1,2");
    EXPECT_EQ(r[0], r[2]);
    EXPECT_EQ(gcb->mark_sp, gcb->mark_stack);
    EXPECT_EQ(texts(run_list({one, two}, iv(1))), "1,2");
    EXPECT_TRUE(run_list({one, two}, iv(0)).empty());
    EXPECT_TRUE(run_list({one, two}, iv(-3)).empty());
    // Enough copies to move the stack.
    EXPECT_EQ(run_list({one, two}, iv(500)).size(), 1000u);
}

TEST_F(Arith, RepetitionBeyondTheSizeLimitIsRefused)
{
    gcb->err.len = 0;
    SV* r = nullptr;
    call(op(OP_REPEAT), {pv("abc"), iv(int64_t{1} << 40)});
    (void)r;
    EXPECT_TRUE(died_with("Out of memory during string extend")) << err_text();
}

TEST_F(Arith, ShiftsTakeTheCountModulo64)
{
    EXPECT_EQ(binary(OP_LEFT_SHIFT, iv(1), iv(64)), "1");
    EXPECT_EQ(binary(OP_LEFT_SHIFT, iv(1), iv(65)), "2");
    EXPECT_EQ(binary(OP_LEFT_SHIFT, iv(3), iv(4)), "48");
    EXPECT_EQ(binary(OP_RIGHT_SHIFT, iv(-1), iv(1)), "9223372036854775807");
    EXPECT_EQ(binary(OP_RIGHT_SHIFT, iv(-1), iv(1), 0x01), "-1");
    EXPECT_EQ(binary(OP_RIGHT_SHIFT, iv(-16), iv(2), 0x01), "-4");
    EXPECT_EQ(binary(OP_LEFT_SHIFT, iv(1), iv(63), 0x01), "-9223372036854775808");
}

TEST_F(Arith, NumericComparisonsAndNaN)
{
    double nan = std::nan("");
    EXPECT_EQ(binary(OP_NCMP, iv(1), nv(nan)), "undef");
    EXPECT_EQ(binary(OP_NCMP, iv(1), iv(2)), "-1");
    EXPECT_EQ(binary(OP_NCMP, nv(2.5), iv(2)), "1");
    EXPECT_EQ(binary(OP_NCMP, pv("3"), iv(3)), "0");
    EXPECT_EQ(binary(OP_NE, nv(nan), nv(nan)), "1");
    EXPECT_EQ(binary(OP_LT, nv(nan), iv(1)), "");
    EXPECT_EQ(binary(OP_GE, nv(nan), iv(1)), "");
    EXPECT_EQ(binary(OP_LE, iv(2), iv(2)), "1");
    EXPECT_EQ(binary(OP_GT, pv("10"), pv("9")), "1");
}

TEST_F(Arith, StringComparisonsByBytes)
{
    struct Case {
        uint16_t type;
        const char *a, *b, *want;
    };
    const Case cases[] = {
        {OP_SLT, "10", "9", "1"}, {OP_SGT, "10", "9", ""}, {OP_SLE, "a", "a", "1"}, {OP_SGE, "a", "b", ""},
        {OP_SEQ, "x", "x", "1"}, {OP_SNE, "x", "x", ""},  {OP_SCMP, "b", "a", "1"}, {OP_SCMP, "a", "ab", "-1"},
        {OP_SCMP, "", "", "0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(binary(c.type, pv(c.a), pv(c.b)), c.want) << c.a << " " << c.b;
}

TEST_F(Arith, BitwiseOperatorsByOperandKind)
{
    EXPECT_EQ(binary(OP_BIT_OR, pv("AB"), pv("  ")), "ab");
    EXPECT_EQ(binary(OP_BIT_AND, pv("abc"), pv("_")), "A");
    EXPECT_EQ(binary(OP_BIT_XOR, pv("AB"), pv("  ")), "ab");
    // A two-byte and a four-byte string: four bytes, the last two copied.
    EXPECT_EQ(binary(OP_BIT_OR, pv("@@"), pv("ABCD")), "ABCD");
    EXPECT_EQ(binary(OP_BIT_XOR, pv("ABCD"), pv("  ")), "abCD");
    // One operand used as a number makes the operation numeric.
    EXPECT_EQ(binary(OP_BIT_OR, pv("12"), iv(1)), "13");
    EXPECT_EQ(binary(OP_BIT_AND, iv(-1), iv(255)), "255");
    EXPECT_EQ(binary(OP_BIT_AND, iv(-1), iv(-2)), "18446744073709551614");
    EXPECT_EQ(binary(OP_BIT_AND, iv(-1), iv(-2), 0x01), "-2");
}

TEST_F(Arith, Negation)
{
    EXPECT_EQ(unary(OP_NEGATE, pv("foo")), "-foo");
    EXPECT_EQ(unary(OP_NEGATE, pv("-foo")), "+foo");
    EXPECT_EQ(unary(OP_NEGATE, pv("+foo")), "-foo");
    EXPECT_EQ(unary(OP_NEGATE, pv("_x")), "-_x");
    EXPECT_EQ(unary(OP_NEGATE, pv("12")), "-12");
    EXPECT_EQ(unary(OP_NEGATE, iv(5)), "-5");
    EXPECT_EQ(unary(OP_NEGATE, nv(0.0)), "-0");
    SV* r = call1(op(OP_NEGATE), {iv(-2147483648LL)});
    EXPECT_EQ(str(r), "2147483648");
    EXPECT_TRUE(r->flags & SVf_NOK);
    r = call1(op(OP_NEGATE), {iv(-5)});
    EXPECT_TRUE(r->flags & SVf_IOK);
    r = call1(op(OP_NEGATE), {uv(4000000000u)});
    EXPECT_TRUE(r->flags & SVf_NOK);
    EXPECT_EQ(str(r), "-4000000000");
    r = call1(op(OP_NEGATE), {iv(INT64_MIN)});
    EXPECT_TRUE(r->flags & SVf_NOK);
    EXPECT_EQ(sv_nv(r), 9223372036854775808.0);
}

// A UTF-8 string that starts with a letter is negated by a leading "-",
// and stays UTF-8. Whether a wide first character starts an identifier is
// for the utf8 package's class tables, which this interpreter does not have:
// the negation dies asking for them.
TEST_F(Arith, NegationOfAUtf8Identifier)
{
    SV* r = call1(op(OP_NEGATE), {utf8("t\xC3\xA9t\xC3\xA9")});
    ASSERT_EQ(code, 0) << err_text();
    EXPECT_EQ(str(r), "-t\xC3\xA9t\xC3\xA9");
    EXPECT_TRUE(r->flags & SVf_UTF8);

    call1(op(OP_NEGATE), {utf8("\xC3\xA9t\xC3\xA9")});
    EXPECT_TRUE(died_with("Can't locate object method \"SWASHNEW\" via package \"utf8\" (perhaps you forgot to load \"utf8\"?)"))
        << err_text();
}

TEST_F(Arith, NotByTheTruthTest)
{
    EXPECT_EQ(unary(OP_NOT, pv("0")), "1");
    EXPECT_EQ(unary(OP_NOT, pv("")), "1");
    EXPECT_EQ(unary(OP_NOT, pv("0.0")), "");
    EXPECT_EQ(unary(OP_NOT, nv(std::nan(""))), "");
    EXPECT_EQ(unary(OP_NOT, iv(0)), "1");
    EXPECT_EQ(unary(OP_NOT, undef()), "1");
    EXPECT_EQ(call1(op(OP_NOT), {iv(0)}), &gcb->sv_yes);
    EXPECT_EQ(call1(op(OP_NOT), {iv(3)}), &gcb->sv_no);
}

TEST_F(Arith, ComplementOfNumbersAndStrings)
{
    EXPECT_EQ(unary(OP_COMPLEMENT, iv(0)), "18446744073709551615");
    EXPECT_EQ(unary(OP_COMPLEMENT, iv(0), 0x01), "-1");
    EXPECT_EQ(unary(OP_COMPLEMENT, bytes(std::string("\x01\xFE", 2))), std::string("\xFE\x01", 2));
    // Long enough for the word-at-a-time middle, at an odd start.
    std::string s;
    for (int i = 0; i < 37; i++)
        s += static_cast<char>(i * 7);
    SV* v = bytes("x" + s);
    sv_chop_front(gcb, v, sv_pv(v) + 1);
    std::string want;
    for (char c : s)
        want += static_cast<char>(~c);
    EXPECT_EQ(unary(OP_COMPLEMENT, v), want);
}

TEST_F(Arith, ComplementOfUtf8Strings)
{
    // Characters up to 0xFF: the complemented low bytes, without UTF8.
    SV* r = call1(op(OP_COMPLEMENT), {utf8("A\xC3\xA9")});
    EXPECT_EQ(str(r), std::string("\xBE\x16", 2));
    EXPECT_FALSE(r->flags & SVf_UTF8);
    // A wider character: each complement re-encoded (13 bytes each), UTF8 set.
    r = call1(op(OP_COMPLEMENT), {utf8("\xC4\x80")});
    EXPECT_TRUE(r->flags & SVf_UTF8);
    EXPECT_EQ(sv_cur(r), 13u);
    int64_t len = 0;
    EXPECT_EQ(utf8_decode(gcb, reinterpret_cast<const uint8_t*>(sv_pv(r)), 13, &len, UTF8_ALLOW_ANY),
              ~uint64_t{0x100});
}

TEST_F(Arith, ComplementOfMalformedUtf8Dies)
{
    gcb->err.len = 0;
    call(op(OP_COMPLEMENT), {utf8("a\xC3")});
    EXPECT_TRUE(died_with("Malformed UTF-8 character")) << err_text();
}

}  // namespace

namespace {

// Overloaded operators call the method of their key with the operands; the
// methods here are native subs that answer the key they were called for.
namespace ovl {
std::vector<std::string> seen;
template <int N>
void method(PERLGCB* gcb, CV*);
const char* const keys[] = {"-", "*", "/", "%", "**", "<<", ">>", "&", "|", "^", "<", "<=", ">", ">=",
                            "!=", "<=>", "cmp", "lt", "le", "gt", "ge", "eq", "ne", "!", "~", "x", "neg"};
template <int N>
void method(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    seen.push_back(keys[N]);
    xs_arg(gcb, f, 0) = sv_make_temporary(gcb, sv_new_from_cstring(gcb, keys[N], 0));
    xs_return(gcb, f, 1);
}
template <int... I>
void define_all(PERLGCB* gcb, std::integer_sequence<int, I...>)
{
    (sub_define_xs(gcb, (std::string("Ovl::(") + keys[I]).c_str(), method<I>, "test"), ...);
}
void nothing(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    xs_return(gcb, f, 0);
}
}  // namespace ovl

TEST_F(Arith, OverloadedOperatorsCallTheirKeys)
{
    gcb->overload_generation = 1;
    sub_define_xs(gcb, "Ovl::()", ovl::nothing, "test");
    ovl::define_all(gcb, std::make_integer_sequence<int, 27>{});
    SV* obj = sv_new_reference(gcb, iv(0));
    sv_bless_referent(gcb, obj, stash("Ovl"));
    ASSERT_TRUE(obj->flags & SVf_OVERLOAD);
    struct Case {
        uint16_t type;
        const char* key;
    };
    const Case cases[] = {
        {OP_SUBTRACT, "-"}, {OP_I_SUBTRACT, "-"}, {OP_MULTIPLY, "*"}, {OP_DIVIDE, "/"},  {OP_MODULO, "%"},
        {OP_POW, "**"},     {OP_LEFT_SHIFT, "<<"}, {OP_RIGHT_SHIFT, ">>"}, {OP_BIT_AND, "&"}, {OP_BIT_OR, "|"},
        {OP_BIT_XOR, "^"},  {OP_LT, "<"},          {OP_I_LE, "<="},      {OP_GT, ">"},      {OP_GE, ">="},
        {OP_NE, "!="},      {OP_NCMP, "<=>"},      {OP_SCMP, "cmp"},     {OP_SLT, "lt"},    {OP_SLE, "le"},
        {OP_SGT, "gt"},     {OP_SGE, "ge"},        {OP_SEQ, "eq"},       {OP_SNE, "ne"},    {OP_REPEAT, "x"},
    };
    for (const Case& c : cases) {
        std::vector<SV*> r = call(op(c.type), {obj, iv(3)});
        ASSERT_EQ(r.size(), 1u) << c.key;
        EXPECT_EQ(str(r[0]), c.key);
    }
    for (const Case& c : {Case{OP_NEGATE, "neg"}, Case{OP_I_NEGATE, "neg"}, Case{OP_NOT, "!"}, Case{OP_COMPLEMENT, "~"}})
        EXPECT_EQ(str(call1(op(c.type), {obj})), c.key);
    // The assignment form assigns the answer to the left operand.
    SV* left = sv_new_copy(gcb, obj);
    SV* r = call1(op(OP_SUBTRACT, OPf_WANT_SCALAR | OPf_STACKED), {left, iv(1)});
    EXPECT_EQ(r, left);
    EXPECT_EQ(str(left), "-");
    // A lexical target is assigned too, and stands for the answer.
    OP* lex = op(OP_MULTIPLY);
    targ(lex)->flags |= SVs_PADMY;
    EXPECT_EQ(call1(lex, {iv(2), obj}), targ(lex));
    EXPECT_EQ(str(targ(lex)), "*");
}

}  // namespace

namespace {

// The hot operators (addition, concatenation, numeric equality) take the
// same overload step as the others: the assignment form and a lexical
// target receive the answer, equality yields the answer as it is.
namespace hot {
const char* const keys[] = {"+", ".", "=="};
template <int N>
void method(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    xs_arg(gcb, f, 0) = sv_make_temporary(gcb, sv_new_from_cstring(gcb, keys[N], 0));
    xs_return(gcb, f, 1);
}
}  // namespace hot

TEST_F(Arith, HotOperatorsTakeTheOverloadStep)
{
    gcb->overload_generation = 1;
    sub_define_xs(gcb, "Hot::()", ovl::nothing, "test");
    sub_define_xs(gcb, "Hot::(+", hot::method<0>, "test");
    sub_define_xs(gcb, "Hot::(.", hot::method<1>, "test");
    sub_define_xs(gcb, "Hot::(==", hot::method<2>, "test");
    SV* obj = sv_new_reference(gcb, iv(0));
    sv_bless_referent(gcb, obj, stash("Hot"));
    ASSERT_TRUE(obj->flags & SVf_OVERLOAD);

    OP* add = op(OP_ADD);
    SV* r = call1(add, {iv(1), obj});
    EXPECT_EQ(str(r), "+");
    EXPECT_NE(r, targ(add));
    OP* eq = op(OP_EQ);
    EXPECT_EQ(str(call1(eq, {obj, iv(2)})), "==");

    SV* left = sv_new_copy(gcb, obj);
    r = call1(op(OP_CONCAT, OPf_WANT_SCALAR | OPf_STACKED), {left, bytes("x")});
    EXPECT_EQ(r, left);
    EXPECT_EQ(str(left), ".");

    OP* lex = op(OP_ADD);
    targ(lex)->flags |= SVs_PADMY;
    EXPECT_EQ(call1(lex, {obj, iv(2)}), targ(lex));
    EXPECT_EQ(str(targ(lex)), "+");
    // Without overloading the operands take the plain path.
    EXPECT_EQ(str(call1(op(OP_CONCAT), {bytes("a"), bytes("b")})), "ab");
}

}  // namespace
