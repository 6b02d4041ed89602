// The string routines behind the ops: join, the formatted print, vec, chop
// and chomp, the bitwise string operators, keys and values.
#include "runtime/agg_ops_fixture.h"

#include <functional>

#include "ds/src/prxio.h"

namespace {

using runtime::Ops;

class Str : public Ops {
protected:
    // A vec lvalue over target at the element offset and width, holding value.
    SV* vec_lvalue(SV* target, int64_t offset, int64_t bits, uint64_t value)
    {
        SV* lv = part_of(target, 'v', static_cast<uint64_t>(offset), static_cast<uint64_t>(bits));
        sv_set_uint(gcb, lv, value);
        return lv;
    }
    // The join of the values with the separator into a fresh target.
    std::string join(SV* sep, std::initializer_list<SV*> items, SV* target = nullptr)
    {
        SV* t = target ? target : sv_new_undef(gcb, 0);
        std::vector<SV*> stack{nullptr};
        stack.insert(stack.end(), items);
        do_join_list(gcb, t, sep, stack.data(), stack.data() + items.size());
        return str(t);
    }
};

TEST_F(Str, Join)
{
    EXPECT_EQ(join(pv(","), {iv(1), pv("b"), nv(2.5)}), "1,b,2.5");
    EXPECT_EQ(join(pv(","), {pv("one")}), "one");
    EXPECT_EQ(join(pv(","), {}), "");
    EXPECT_EQ(join(pv(""), {pv("a"), pv("b")}), "ab");
    EXPECT_EQ(join(pv("--"), {pv("a"), undef(), pv("c")}), "a----c");
    // The target's old text and numbers go; the separator may be the target.
    SV* t = iv(42);
    EXPECT_EQ(join(t, {pv("x"), pv("y")}, t), "x42y");
    EXPECT_FALSE(t->flags & SVf_IOK);
}

TEST_F(Str, FormatList)
{
    SV* t = sv_new_undef(gcb, 0);
    SV* values[] = {pv("%s-%03d|%.2f|%x"), pv("a"), iv(7), nv(3.14159), iv(255)};
    do_format_list(gcb, t, 5, values);
    EXPECT_EQ(str(t), "a-007|3.14|ff");
    SV* only[] = {pv("100%%")};
    do_format_list(gcb, t, 1, only);
    EXPECT_EQ(str(t), "100%");
}

TEST_F(Str, VecRead)
{
    struct Case {
        std::string text;
        int32_t offset, bits;
        uint64_t want;
    };
    const Case cases[] = {
        {"abc", 1, 8, 98},
        {"abc", 3, 8, 0},
        {"abc", -1, 8, 0},
        {"\x12", 0, 4, 2},
        {"\x12", 1, 4, 1},
        {"\x12", 2, 4, 0},
        {"\x05", 0, 1, 1},
        {"\x05", 1, 1, 0},
        {"\x05", 2, 1, 1},
        {"\x01\x02", 0, 16, 0x0102},
        // Only one byte of the field exists: it keeps its high place.
        {"\x01\x02\x03", 1, 16, 0x0300},
        {"\x01\x02\x03", 0, 32, 0x01020300},
        {std::string("\x00\x00\x00\x00\x00\x00\x01\x02", 8), 0, 64, 0x0102},
        {"ABCDEFGHI", 1, 64, 0x4900000000000000ull},
    };
    for (const Case& c : cases)
        EXPECT_EQ(do_vec_read(gcb, bytes(c.text), c.offset, c.bits), c.want) << c.offset << "/" << c.bits;
}

TEST_F(Str, VecWidthsAndWarnings)
{
    for (int32_t bits : {0, 3, 128, -8}) {
        gcb->err.len = 0;
        EXPECT_EQ(run([&] { do_vec_read(gcb, pv("abc"), 0, bits); }), 2);
        EXPECT_EQ(err_text(), "Illegal number of bits in vec.\n") << bits;
    }
    gcb->err.len = 0;
    warnings_all();
    EXPECT_EQ(do_vec_read(gcb, pv("abcdefgh"), 0, 64), 0x6162636465666768ull);
    EXPECT_EQ(err_text(), "Bit vector size > 32 non-portable.\n");
    gcb->err.len = 0;
    warnings_none();
    do_vec_read(gcb, pv("abcdefgh"), 0, 64);
    EXPECT_EQ(err_text(), "");
    // A UTF-8 value is read as its bytes after a downgrade.
    SV* u = utf8("\xC3\xA9");
    EXPECT_EQ(do_vec_read(gcb, u, 0, 8), 0xE9u);
    EXPECT_FALSE(u->flags & SVf_UTF8);
}

TEST_F(Str, VecWrite)
{
    SV* s = pv("ab");
    do_vec_write(gcb, vec_lvalue(s, 0, 8, 'A'));
    EXPECT_EQ(str(s), "Ab");
    // Beyond the end: the gap is zero-filled up to exactly the bytes needed.
    do_vec_write(gcb, vec_lvalue(s, 2, 16, 0x4142));
    EXPECT_EQ(str(s), std::string("Ab\0\0AB", 6));
    do_vec_write(gcb, vec_lvalue(s, 1, 4, 0xF));
    EXPECT_EQ(str(s).substr(0, 1), "\xF1");
    do_vec_write(gcb, vec_lvalue(s, 0, 1, 0));
    EXPECT_EQ(str(s).substr(0, 1), "\xF0");
    SV* n = iv(5);
    do_vec_write(gcb, vec_lvalue(n, 0, 32, 0x31323334));
    EXPECT_EQ(str(n), "1234");
    EXPECT_FALSE(n->flags & SVf_IOK);
    SV* e = pv("");
    do_vec_write(gcb, vec_lvalue(e, 1, 64, 0x0102030405060708ull));
    EXPECT_EQ(str(e), std::string("\0\0\0\0\0\0\0\0\x01\x02\x03\x04\x05\x06\x07\x08", 16));
    gcb->err.len = 0;
    EXPECT_EQ(run([&] { do_vec_write(gcb, vec_lvalue(pv("x"), -1, 8, 1)); }), 2);
    EXPECT_EQ(err_text(), "Assigning to negative offset in vec.\n");
    gcb->err.len = 0;
    EXPECT_EQ(run([&] { do_vec_write(gcb, vec_lvalue(pv("x"), 0, 5, 1)); }), 2);
    EXPECT_EQ(err_text(), "Illegal number of bits in vec.\n");
}

TEST_F(Str, Chop)
{
    SV* r = sv_new_undef(gcb, 0);
    SV* s = pv("abc");
    do_chop_value(gcb, r, s);
    EXPECT_EQ(str(r), "c");
    EXPECT_EQ(str(s), "ab");
    SV* e = pv("");
    do_chop_value(gcb, r, e);
    EXPECT_EQ(str(r), "");
    EXPECT_EQ(str(e), "");
    SV* n = iv(123);
    do_chop_value(gcb, r, n);
    EXPECT_EQ(str(n), "12");
    EXPECT_EQ(n->flags & (SVf_IOK | SVf_POK), SVf_POK);
    // A UTF-8 value loses its last character.
    SV* u = utf8("a\xC3\xA9");
    do_chop_value(gcb, r, u);
    EXPECT_EQ(str(r), "\xC3\xA9");
    EXPECT_TRUE(r->flags & SVf_UTF8);
    EXPECT_EQ(str(u), "a");
    // Every element of an array, every value of a hash.
    AV* av = av_new_empty(gcb);
    av_append(gcb, av, pv("xy"));
    av_append(gcb, av, pv("zw"));
    do_chop_value(gcb, r, as_sv(av));
    EXPECT_EQ(str(av_body(av)->array[0]), "x");
    EXPECT_EQ(str(av_body(av)->array[1]), "z");
    EXPECT_EQ(str(r), "w");
    HV* hv = hv_new_empty(gcb);
    hv_store_str(gcb, hv, "k", 1, pv("val"), 0);
    do_chop_value(gcb, r, as_sv(hv));
    EXPECT_EQ(str(*hv_fetch_str(gcb, hv, "k", 1, 0)), "va");
    SV* ro = pv("ro");
    ro->flags |= SVf_READONLY;
    gcb->err.len = 0;
    EXPECT_EQ(run([&] { do_chop_value(gcb, r, ro); }), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

TEST_F(Str, ChompBySeparator)
{
    struct Case {
        std::function<SV*()> rs;
        std::string text, left;
        int32_t count;
    };
    const Case cases[] = {
        {[&] { return pv("\n"); }, "abc\n\n", "abc\n", 1},
        {[&] { return pv("\n"); }, "abc", "abc", 0},
        {[&] { return pv(""); }, "abc\n\n\n", "abc", 3},
        {[&] { return pv(""); }, "abc", "abc", 0},
        {[&] { return pv("xy"); }, "abxy", "ab", 2},
        {[&] { return pv("xy"); }, "y", "y", 0},
        {[&] { return undef(); }, "abc\n", "abc\n", 0},
        {[&] { return sv_new_reference(gcb, iv(5)); }, "abc\n", "abc\n", 0},
    };
    for (const Case& c : cases) {
        gcb->rs = c.rs();
        SV* s = bytes(c.text);
        EXPECT_EQ(do_chomp_value(gcb, s), c.count) << c.text;
        EXPECT_EQ(str(s), c.left);
    }
    gcb->rs = pv("\n");
    AV* av = av_new_empty(gcb);
    av_append(gcb, av, pv("a\n"));
    av_append(gcb, av, pv("b\n"));
    EXPECT_EQ(do_chomp_value(gcb, as_sv(av)), 2);
    gcb->rs = nullptr;
}

TEST_F(Str, StringBitOperators)
{
    SV* t = sv_new_undef(gcb, 0);
    do_string_bitop(gcb, OP_BIT_OR, t, pv("@@"), pv("ABCD"));
    EXPECT_EQ(str(t), "ABCD");
    do_string_bitop(gcb, OP_BIT_AND, t, pv("ABCD"), pv("\x7F\x7F"));
    EXPECT_EQ(str(t), "AB");
    do_string_bitop(gcb, OP_BIT_XOR, t, pv("ab"), pv("ab"));
    EXPECT_EQ(str(t), std::string("\0\0", 2));
    // The assignment forms: the target is the left operand.
    SV* left = pv("ABCDEF");
    do_string_bitop(gcb, OP_BIT_OR, left, left, pv("  "));
    EXPECT_EQ(str(left), "abCDEF");
    SV* u = undef();
    do_string_bitop(gcb, OP_BIT_XOR, u, u, pv("xy"));
    EXPECT_EQ(str(u), "xy");
    // A target that is only the right operand still sees its old text.
    SV* right = pv("  ");
    do_string_bitop(gcb, OP_BIT_OR, right, pv("AB"), right);
    EXPECT_EQ(str(right), "ab");
}

TEST_F(Str, StringBitOperatorsOnUtf8)
{
    SV* t = sv_new_undef(gcb, 0);
    // A byte string meets UTF-8: it is upgraded, code points combine.
    SV* bytes_side = pv("\xE9");
    do_string_bitop(gcb, OP_BIT_OR, t, utf8("\xC4\x80z"), bytes_side);
    EXPECT_EQ(str(t), "\xC7\xA9z");
    EXPECT_TRUE(t->flags & SVf_UTF8);
    EXPECT_TRUE(bytes_side->flags & SVf_UTF8);
    EXPECT_EQ(str(bytes_side), "\xC3\xA9");
    do_string_bitop(gcb, OP_BIT_AND, t, utf8("\xC4\x81" "b"), utf8("\xC5\x81"));
    EXPECT_EQ(str(t), "\xC4\x81");
    do_string_bitop(gcb, OP_BIT_XOR, t, utf8("\xC4\x81"), utf8("\xC4\x80" "xyz"));
    EXPECT_EQ(str(t), "\x01xyz");
    // A malformed character ends the operation instead of stepping back.
    gcb->err.len = 0;
    EXPECT_EQ(run([&] { do_string_bitop(gcb, OP_BIT_OR, t, utf8("a\xC3"), utf8("bc")); }), 2);
    EXPECT_EQ(err_text(), "Malformed UTF-8 character.\n");
}

TEST_F(Str, KeysAndValues)
{
    HV* hv = hv_new_empty(gcb);
    hv_store_str(gcb, hv, "a", 1, iv(1), 0);
    hv_store_str(gcb, hv, "b", 1, iv(2), 0);
    std::vector<SV*> r = call(op(OP_KEYS, OPf_WANT_LIST), {as_sv(hv)});
    ASSERT_EQ(r.size(), 2u);
    std::string k = texts(r);
    EXPECT_TRUE(k == "a,b" || k == "b,a") << k;
    r = call(op(OP_VALUES, OPf_WANT_LIST), {as_sv(hv)});
    std::string v = texts(r);
    EXPECT_TRUE(v == "1,2" || v == "2,1") << v;
    r = call(op(OP_RV2HV, OPf_WANT_LIST), {as_sv(hv)});
    EXPECT_EQ(r.size(), 4u);
    OP* count = op(OP_KEYS, OPf_WANT_SCALAR);
    EXPECT_EQ(str(call1(count, {as_sv(hv)})), "2");
    EXPECT_EQ(call1(count, {as_sv(hv)}), targ(count));
    // Void context only resets the iterator.
    hv_iter_advance(gcb, hv);
    EXPECT_TRUE(call(op(OP_KEYS, OPf_WANT_VOID), {as_sv(hv)}).empty());
    EXPECT_EQ(hv_body(hv)->riter, -1);
    // An lvalue count: the target becomes a 'k' lvalue of the hash.
    OP* lv = op(OP_KEYS, OPf_WANT_SCALAR | OPf_MOD);
    SV* t = call1(lv, {as_sv(hv)});
    EXPECT_EQ(t, targ(lv));
    EXPECT_EQ(sv_type(t), SVt_PVLV);
    EXPECT_EQ(static_cast<PVLV*>(t->any)->type, 'k');
    EXPECT_EQ(static_cast<PVLV*>(t->any)->targ, as_sv(hv));
    // Nothing to count: an lvalue use pushes the target, another nothing.
    EXPECT_TRUE(call(op(OP_KEYS, OPf_WANT_SCALAR), {pv("x")}).empty());
}

}  // namespace
