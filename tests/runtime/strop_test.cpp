// The string built-ins: substr (positions, replacement, lvalue, the
// outside-of-string cases), index and rindex at their edges, length, ord
// and chr with UTF-8, the case functions in place and by copy, quotemeta,
// crypt's refusal, and the ops whose workers live elsewhere (vec, sprintf).
#include "runtime/strop_fixture.h"

#include "ds/src/prxmg.h"
#include "ds/src/prxuni.h"

namespace {

class Strop : public runtime::OpCall {
protected:
    // substr with 2, 3 or 4 operands; its result.
    Outcome substr(std::vector<SV*> operands, uint8_t flags = OPf_WANT_SCALAR)
    {
        OP* o = op(OP_SUBSTR, flags, static_cast<uint8_t>(operands.size()));
        last_op = o;
        return call(o, operands);
    }
    std::string text(SV* sv) { return sv_ok(sv) ? str(sv) : "undef"; }
    int64_t position(uint16_t type, std::vector<SV*> operands)
    {
        OP* o = op(type, OPf_WANT_SCALAR, static_cast<uint8_t>(operands.size()));
        SV* r = one(call(o, operands));
        EXPECT_EQ(r, target(o));
        return sv_to_int(gcb, r);
    }
    SV* unary(uint16_t type, SV* operand, uint8_t priv = 1)
    {
        OP* o = op(type, OPf_WANT_SCALAR, priv);
        last_op = o;
        Outcome out = call(o, {operand});
        EXPECT_EQ(out.next, &after);
        return one(out);
    }
    void bytes_hint(bool on)
    {
        if (on)
            runtime_cop.op.op_private |= HINT_BYTES;
        else
            runtime_cop.op.op_private &= static_cast<uint8_t>(~HINT_BYTES);
    }
    OP* last_op = nullptr;
};

TEST_F(Strop, SubstrPositions)
{
    struct Case {
        const char* s;
        int pos;
        int len;  // -99: no length operand
        const char* expect;
    } cases[] = {
        {"abcdef", 2, -99, "cdef"},
        {"abcdef", -2, -99, "ef"},
        {"abcdef", 1, -2, "bcd"},
        {"abcdef", -3, 2, "de"},
        {"abcdef", 0, 100, "abcdef"},
        {"abcdef", -100, -99, "abcdef"},
        {"abcdef", 2, -10, ""},
        {"abc", 3, -99, ""},
        {"abc", 3, 1, ""},
        {"", 0, -99, ""},
    };
    warnings_all();
    for (const Case& c : cases) {
        std::vector<SV*> operands{bytes(c.s), num(c.pos)};
        if (c.len != -99)
            operands.push_back(num(c.len));
        Outcome out = substr(operands);
        EXPECT_EQ(text(one(out)), c.expect) << c.s << " " << c.pos << " " << c.len;
        EXPECT_EQ(out.results[0], target(last_op));
    }
    EXPECT_EQ(err_text(), "");
}

TEST_F(Strop, SubstrOutsideOfString)
{
    warnings_all();
    Outcome out = substr({bytes("abc"), num(5)});
    EXPECT_EQ(one(out), &gcb->sv_undef);
    EXPECT_EQ(err_text(), "substr outside of string.\n");
    clear_err();
    warnings_none();
    EXPECT_EQ(one(substr({bytes("abc"), num(4), num(1)})), &gcb->sv_undef);
    EXPECT_EQ(one(substr({bytes("abcdef"), num(-100), num(2)})), &gcb->sv_undef);
    EXPECT_EQ(err_text(), "");

    // As an lvalue or with a replacement it is fatal.
    out = substr({bytes("abc"), num(5)}, OPf_WANT_SCALAR | OPf_MOD);
    EXPECT_EQ(out.code, 2);
    EXPECT_EQ(err_text(), "substr outside of string.\n");
    clear_err();
    out = substr({bytes("abc"), num(5), num(1), bytes("x")});
    EXPECT_EQ(out.code, 2);
    EXPECT_EQ(err_text(), "substr outside of string.\n");
}

TEST_F(Strop, SubstrReplacement)
{
    SV* s = bytes("abcdef");
    EXPECT_EQ(text(one(substr({s, num(1), num(2), bytes("XYZ")}))), "bc");
    EXPECT_EQ(str(s), "aXYZdef");
    EXPECT_EQ(text(one(substr({s, num(-1), num(1), bytes("")}))), "f");
    EXPECT_EQ(str(s), "aXYZde");

    // A UTF-8 replacement turns a byte string into UTF-8 text first.
    SV* b = bytes("a\xe9z");
    one(substr({b, num(1), num(1), utf8("\xe2\x98\xba")}));
    EXPECT_TRUE(b->flags & SVf_UTF8);
    EXPECT_EQ(hex(str(b)), "61e298ba7a");
    // A byte replacement in UTF-8 text is converted on the way in.
    SV* u = utf8("\xe2\x98\xba!");
    SV* r = one(substr({u, num(0), num(1), bytes("\xe9")}));
    EXPECT_EQ(hex(str(r)), "e298ba");
    EXPECT_TRUE(r->flags & SVf_UTF8);
    EXPECT_EQ(hex(str(u)), "c3a921");
}

TEST_F(Strop, SubstrUtf8CountsCharacters)
{
    SV* s = utf8("\xce\xb1\xce\xb2\xce\xb3");  // three Greek letters
    SV* r = one(substr({s, num(1)}));
    EXPECT_EQ(hex(str(r)), "ceb2ceb3");
    EXPECT_TRUE(r->flags & SVf_UTF8);
    r = one(substr({s, num(-1), num(1)}));
    EXPECT_EQ(hex(str(r)), "ceb3");
    bytes_hint(true);
    r = one(substr({s, num(1), num(2)}));
    EXPECT_EQ(hex(str(r)), "b1ce");
    EXPECT_FALSE(r->flags & SVf_UTF8);
}

TEST_F(Strop, SubstrLvalue)
{
    SV* s = bytes("abcdef");
    Outcome out = substr({s, num(1), num(2)}, OPf_WANT_SCALAR | OPf_MOD);
    SV* lv = one(out);
    ASSERT_EQ(lv, target(last_op));
    ASSERT_EQ(sv_type(lv), SVt_PVLV);
    EXPECT_NE(mg_find_by_type(gcb, lv, 'x'), nullptr);
    EXPECT_EQ(str(lv), "bc");
    EXPECT_EQ(s->refcnt, 2u);
    sv_set_bytes(gcb, lv, "XYZ", 3);
    EXPECT_EQ(run([&] { mg_call_set(gcb, lv); }), 0) << err_text();
    EXPECT_EQ(str(s), "aXYZdef");

    // The same op on another string lets the first one go.
    SV* t = bytes("uvw");
    out = call(last_op, {t, num(0), num(1)});
    EXPECT_EQ(one(out), lv);
    EXPECT_EQ(s->refcnt, 1u);
    EXPECT_EQ(t->refcnt, 2u);

    // An undefined string becomes the empty string; a number its text.
    SV* undef = sv_new_undef(gcb, 0);
    one(substr({undef, num(0), num(0)}, OPf_WANT_SCALAR | OPf_MOD));
    EXPECT_TRUE(undef->flags & SVf_POK);
    EXPECT_EQ(str(undef), "");
    SV* n = num(12.5);
    one(substr({n, num(0), num(2)}, OPf_WANT_SCALAR | OPf_MOD));
    EXPECT_EQ(n->flags & (SVf_NOK | SVf_POK), SVf_POK);
    EXPECT_EQ(str(n), "12.5");
}

TEST_F(Strop, SubstrLvalueOfReferenceWarns)
{
    warnings_all();
    SV* ref = sv_new_reference(gcb, bytes("x"));
    one(substr({ref, num(0), num(1)}, OPf_WANT_SCALAR | OPf_MOD));
    EXPECT_FALSE(ref->flags & SVf_ROK);
    EXPECT_EQ(err_text(), "Attempt to use reference as lvalue in substr.\n");
}

TEST_F(Strop, IndexAndRindex)
{
    struct Case {
        uint16_t type;
        const char* big;
        const char* little;
        int pos;  // -99: no position operand
        int64_t expect;
    } cases[] = {
        {OP_INDEX, "hello", "l", -99, 2},
        {OP_RINDEX, "hello", "l", -99, 3},
        {OP_INDEX, "hello", "z", -99, -1},
        {OP_RINDEX, "hello", "z", -99, -1},
        {OP_INDEX, "hello", "", -99, 0},
        {OP_RINDEX, "hello", "", -99, 5},
        {OP_INDEX, "hello", "l", 10, -1},
        {OP_INDEX, "hello", "l", 3, 3},
        {OP_INDEX, "hello", "l", -5, 2},
        {OP_INDEX, "hello", "", 10, 5},
        {OP_RINDEX, "hello", "l", 2, 2},
        {OP_RINDEX, "hello", "l", 1, -1},
        {OP_RINDEX, "hello", "l", 100, 3},
        {OP_RINDEX, "hello", "", 2, 2},
        {OP_RINDEX, "hello", "h", -3, -1},
        {OP_RINDEX, "hello", "h", 0, 0},
        {OP_INDEX, "", "", -99, 0},
        {OP_INDEX, "abcabc", "bc", 2, 4},
    };
    for (const Case& c : cases) {
        std::vector<SV*> operands{bytes(c.big), bytes(c.little)};
        if (c.pos != -99)
            operands.push_back(num(c.pos));
        EXPECT_EQ(position(c.type, operands), c.expect)
            << (c.type == OP_INDEX ? "index " : "rindex ") << c.big << " " << c.little << " " << c.pos;
    }
}

TEST_F(Strop, IndexWithArrayBase)
{
    runtime_cop.cop_arybase = 1;
    EXPECT_EQ(position(OP_INDEX, {bytes("hello"), bytes("l")}), 3);
    EXPECT_EQ(position(OP_RINDEX, {bytes("hello"), bytes("l")}), 4);
    EXPECT_EQ(position(OP_INDEX, {bytes("hello"), bytes("z")}), 0);
    EXPECT_EQ(position(OP_INDEX, {bytes("hello"), bytes("l"), num(4)}), 4);
    EXPECT_EQ(text(one(substr({bytes("abcdef"), num(1)}))), "abcdef");
    EXPECT_EQ(text(one(substr({bytes("abcdef"), num(3), num(2)}))), "cd");
}

TEST_F(Strop, IndexUtf8CountsCharacters)
{
    SV* s = utf8("\xce\xb1\xce\xb2\xce\xb3\xce\xb2");
    EXPECT_EQ(position(OP_INDEX, {s, utf8("\xce\xb2")}), 1);
    EXPECT_EQ(position(OP_INDEX, {s, utf8("\xce\xb2"), num(2)}), 3);
    EXPECT_EQ(position(OP_RINDEX, {s, utf8("\xce\xb2")}), 3);
    EXPECT_EQ(position(OP_RINDEX, {s, utf8("\xce\xb2"), num(2)}), 1);
    EXPECT_EQ(position(OP_INDEX, {s, utf8("\xce\xb1")}), 0);
}

TEST_F(Strop, Length)
{
    SV* smiles = utf8("\xe2\x98\xba\xe2\x98\xba\xe2\x98\xba");
    EXPECT_EQ(sv_iv(unary(OP_LENGTH, smiles)), 3);
    EXPECT_EQ(sv_iv(unary(OP_LENGTH, bytes("abcd"))), 4);
    EXPECT_EQ(sv_iv(unary(OP_LENGTH, bytes(""))), 0);
    EXPECT_EQ(sv_iv(unary(OP_LENGTH, num(1.25))), 4);
    bytes_hint(true);
    EXPECT_EQ(sv_iv(unary(OP_LENGTH, smiles)), 9);
}

TEST_F(Strop, OrdAndChr)
{
    EXPECT_EQ(str(unary(OP_CHR, num(65))), "A");
    SV* wide = unary(OP_CHR, num(256));
    EXPECT_EQ(hex(str(wide)), "c480");
    EXPECT_TRUE(wide->flags & SVf_UTF8);
    SV* smile = unary(OP_CHR, num(0x263A));
    EXPECT_EQ(hex(str(smile)), "e298ba");
    SV* byte = unary(OP_CHR, num(233));
    EXPECT_EQ(hex(str(byte)), "e9");
    EXPECT_FALSE(byte->flags & SVf_UTF8);

    EXPECT_EQ(sv_uv(unary(OP_ORD, bytes(""))), 0u);
    EXPECT_EQ(sv_uv(unary(OP_ORD, bytes("A"))), 65u);
    EXPECT_EQ(sv_uv(unary(OP_ORD, bytes("\xe9"))), 233u);
    EXPECT_EQ(sv_uv(unary(OP_ORD, utf8("\xe2\x98\xba" "x"))), 9786u);
    EXPECT_EQ(sv_uv(unary(OP_ORD, utf8(""))), 0u);

    bytes_hint(true);
    SV* cut = unary(OP_CHR, num(256));
    EXPECT_EQ(str(cut), std::string("\0", 1));
    EXPECT_FALSE(cut->flags & SVf_UTF8);
    EXPECT_EQ(sv_uv(unary(OP_ORD, utf8("\xe2\x98\xba"))), 0xe2u);
}

TEST_F(Strop, CaseFunctions)
{
    struct Case {
        uint16_t type;
        const char* in;
        const char* out;
    } cases[] = {
        {OP_UCFIRST, "hello", "Hello"}, {OP_UCFIRST, "", ""},         {OP_UCFIRST, "1a", "1a"},
        {OP_LCFIRST, "HELLO", "hELLO"}, {OP_UC, "abc1_z", "ABC1_Z"},    {OP_LC, "ABC1_Z", "abc1_z"},
        {OP_UC, "", ""},                {OP_LC, "\xc9", "\xc9"},        {OP_UC, "\xe9", "\xe9"},
    };
    for (const Case& c : cases) {
        SV* operand = bytes(c.in);
        SV* r = unary(c.type, operand, 0);
        EXPECT_EQ(str(r), c.out) << c.in;
        // A value that is no pad temporary is not touched.
        EXPECT_EQ(str(operand), c.in);
        EXPECT_EQ(r, target(last_op));
    }
}

TEST_F(Strop, CaseFunctionsInPlaceOnPadTemporaries)
{
    SV* temp = bytes("abc");
    temp->flags |= SVs_PADTMP;
    SV* r = unary(OP_UC, temp, 0);
    EXPECT_EQ(r, temp);
    EXPECT_EQ(str(temp), "ABC");
    r = unary(OP_LCFIRST, temp, 0);
    EXPECT_EQ(r, temp);
    EXPECT_EQ(str(temp), "aBC");

    // A read-only constant is copied, never changed.
    SV* constant = bytes("const");
    constant->flags |= SVs_PADTMP | SVf_READONLY;
    r = unary(OP_UC, constant, 0);
    EXPECT_NE(r, constant);
    EXPECT_EQ(str(r), "CONST");
    EXPECT_EQ(str(constant), "const");
    r = unary(OP_UCFIRST, constant, 0);
    EXPECT_EQ(str(r), "Const");
    EXPECT_EQ(str(constant), "const");
}

TEST_F(Strop, CaseFunctionsUnderLocaleTaint)
{
    gcb->tainted = 0;
    unary(OP_UC, bytes("x"), 0x40);
    EXPECT_EQ(gcb->tainted, 1);
    gcb->tainted = 0;
    unary(OP_LC, bytes(""), 0x40);
    EXPECT_EQ(gcb->tainted, 0);
}

TEST_F(Strop, CaseFunctionsOnUtf8Text)
{
    // Case maps of a, the e with acute accent, and nothing for U+263A.
    gcb->swash_slots[SWASH_TOUPPER] = swash({{0x61, 0x41}, {0xE9, 0xC9}}, 0, {0x263A});
    gcb->swash_slots[SWASH_TOLOWER] = swash({{0x41, 0x61}, {0xC9, 0xE9}}, 0, {0x263A});
    gcb->swash_slots[SWASH_TOTITLE] = swash({{0x61, 0x41}, {0xE9, 0xC9}}, 0, {0x263A});

    SV* r = unary(OP_UC, utf8("a\xc3\xa9\xe2\x98\xba"), 0);
    EXPECT_EQ(hex(str(r)), "41c389e298ba");
    EXPECT_TRUE(r->flags & SVf_UTF8);
    r = unary(OP_LC, utf8("A\xc3\x89"), 0);
    EXPECT_EQ(hex(str(r)), "61c3a9");
    r = unary(OP_UC, utf8(""), 0);
    EXPECT_EQ(str(r), "");
    EXPECT_FALSE(r->flags & SVf_UTF8);

    SV* operand = utf8("\xc3\xa9" "a");
    r = unary(OP_UCFIRST, operand, 0);
    EXPECT_EQ(hex(str(r)), "c38961");
    EXPECT_TRUE(r->flags & SVf_UTF8);
    EXPECT_EQ(hex(str(operand)), "c3a961");
    // A pad temporary whose first character keeps its length changes in place.
    SV* temp = utf8("\xc3\x89x");
    temp->flags |= SVs_PADTMP;
    r = unary(OP_LCFIRST, temp, 0);
    EXPECT_EQ(r, temp);
    EXPECT_EQ(hex(str(temp)), "c3a978");
}

TEST_F(Strop, Quotemeta)
{
    struct Case {
        std::string in;
        std::string out;
        bool utf8;
    } cases[] = {
        {"a.b*c", "a\\.b\\*c", false},
        {"a_1", "a_1", false},
        {"", "", false},
        {"x y\n", "x\\ y\\\n", false},
        {"\xe9", "\\\xe9", false},
        {"\xc3\xa9.", "\xc3\xa9\\.", true},
        {"\xe2\x98", "\xe2\x98", true},
    };
    for (const Case& c : cases) {
        SV* in = c.utf8 ? utf8(c.in) : bytes(c.in);
        SV* r = unary(OP_QUOTEMETA, in);
        EXPECT_EQ(str(r), c.out) << c.in;
        EXPECT_EQ(bool(r->flags & SVf_UTF8), c.utf8 && !c.in.empty()) << c.in;
    }
}

TEST_F(Strop, CryptRefuses)
{
    Outcome out = call(op(OP_CRYPT), {bytes("pw"), bytes("sa")});
    EXPECT_NE(out.code, 0);
    EXPECT_EQ(err_text(), "The crypt() function is unimplemented due to excessive paranoia..\n");
}

TEST_F(Strop, VecReadsAndMakesItsLvalue)
{
    SV* s = bytes("abc");
    OP* o = op(OP_VEC, OPf_WANT_SCALAR | OPf_MOD);
    Outcome out = call(o, {s, num(1), num(8)});
    SV* lv = one(out);
    EXPECT_EQ(lv, target(o));
    EXPECT_EQ(sv_uv(lv), 98u);
    ASSERT_EQ(sv_type(lv), SVt_PVLV);
    EXPECT_NE(mg_find_by_type(gcb, lv, 'v'), nullptr);
    PVLV* body = static_cast<PVLV*>(lv->any);
    EXPECT_EQ(body->targ, s);
    EXPECT_EQ(body->targoff, 1u);
    EXPECT_EQ(body->targlen, 8u);
}

TEST_F(Strop, SprintfFormatsIntoItsTarget)
{
    OP* o = op(OP_SPRINTF);
    Outcome out = call(o, {bytes("%s-%03d"), bytes("x"), num(7)}, true);
    SV* r = one(out);
    EXPECT_EQ(r, target(o));
    EXPECT_EQ(str(r), "x-007");
}

}  // namespace
