// String and numeric conversion, number classes, truth, ++ and --.
#include "fixture.h"

#include <cinttypes>
#include <cmath>

#include "ds/src/prxhv.h"
#include "ds/src/prxmsg.h"

namespace {

using prxtest::Interp;

class SvConv : public Interp {
protected:
    SV* bytes(const std::string& s) { return sv_new_from_bytes(gcb, s.data(), s.size()); }
    std::string conv(SV* sv)
    {
        uint64_t len = 0;
        const char* p = sv_to_string(gcb, sv, &len);
        return std::string(p, len);
    }
    static std::string hex(const void* p)
    {
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%" PRIxPTR, reinterpret_cast<uintptr_t>(p));
        return buf;
    }
    HV* stash(const char* name)
    {
        SV* sv = sv_new_head(gcb);
        sv_upgrade_body(gcb, sv, SVt_PVHV);
        hv_body(sv_as<HV>(sv))->name = pool_strdup(gcb, name);
        return sv_as<HV>(sv);
    }
    // A compiled-pattern object for the text with the analysis flags.
    SV* regexp_ref(const char* text, uint32_t anal, uint16_t evals = 0)
    {
        auto* re = static_cast<re_compiled*>(pool_malloc(gcb, sizeof(re_compiled) + 4));
        std::memset(re, 0, sizeof(re_compiled) + 4);
        re->pattern_text = pool_strdup(gcb, text);
        re->pattern_length = static_cast<int32_t>(std::strlen(text));
        re->analysis_flags = anal;
        uint8_t* unit0 = reinterpret_cast<uint8_t*>(re->program);
        unit0[0] = 0x9C;
        std::memcpy(unit0 + 2, &evals, 2);
        SV* referent = sv_new_head(gcb);
        SV* ref = sv_new_reference(gcb, referent);
        sv_release(gcb, referent);
        sv_bless_referent(gcb, ref, stash("Regexp"));
        sv_add_magic(gcb, referent, reinterpret_cast<SV*>(re), 'r', nullptr, 0);
        return ref;
    }
};

TEST_F(SvConv, NumbersBecomeCachedText)
{
    EXPECT_EQ(conv(nullptr), "");
    SV* minv = sv_new_from_int(gcb, INT64_MIN);
    EXPECT_EQ(conv(minv), "-9223372036854775808");
    EXPECT_EQ(minv->flags & (SVf_POK | SVp_POK | SVf_IOK | SVp_IOK), SVf_POK | SVp_POK | SVf_IOK | SVp_IOK);
    SV* maxu = sv_new_from_uint(gcb, UINT64_MAX);
    EXPECT_EQ(conv(maxu), "18446744073709551615");
    EXPECT_TRUE(maxu->flags & SVf_IsUV);
    EXPECT_EQ(sv_uv(maxu), UINT64_MAX);
    EXPECT_EQ(conv(sv_new_from_int(gcb, 0)), "0");

    struct Case {
        double v;
        const char* text;
    } doubles[] = {{1.5, "1.5"}, {0.1, "0.1"}, {-2.0, "-2"}, {1e20, "1e+20"}, {123456789012345.0, "123456789012345"}};
    gcb->errno_cell = 5;
    for (const Case& c : doubles) {
        SV* sv = sv_new_from_double(gcb, c.v);
        EXPECT_EQ(conv(sv), c.text) << c.v;
        EXPECT_GE(sv_len(sv), 35u);
        EXPECT_TRUE(sv->flags & SVf_POK);
        EXPECT_TRUE(sv->flags & SVf_NOK);
    }
    EXPECT_EQ(gcb->errno_cell, 5);
}

TEST_F(SvConv, UndefinedValuesWarnUnlessPadTemporaryOrLocalizing)
{
    warnings_all();
    set_op(62, "add", "addition (+)");
    SV* u = sv_new_head(gcb);
    EXPECT_EQ(conv(u), "");
    EXPECT_EQ(sv_type(u), SVt_PV);
    EXPECT_EQ(err_text(), "Use of uninitialized value in addition (+).\n");
    gcb->err.len = 0;
    SV* pad = sv_new_head(gcb);
    pad->flags |= SVs_PADTMP;
    conv(pad);
    gcb->localizing = 1;
    conv(sv_new_head(gcb));
    EXPECT_EQ(err_raw(), "");
    // A read-only undefined value warns even while localizing.
    SV* ro = sv_new_head(gcb);
    ro->flags |= SVf_READONLY;
    gcb->op = nullptr;
    conv(ro);
    EXPECT_EQ(err_text(), "Use of uninitialized value.\n");
    gcb->localizing = 0;
    gcb->err.len = 0;
    warnings_none();
    conv(sv_new_head(gcb));
    EXPECT_EQ(err_raw(), "");
}

TEST_F(SvConv, ReferenceTexts)
{
    SV* av = sv_new_head(gcb);
    sv_upgrade_body(gcb, av, SVt_PVAV);
    SV* ref = sv_new_reference(gcb, av);
    EXPECT_EQ(conv(ref), "ARRAY(" + hex(av) + ")");
    int32_t ix = gcb->temps_ix;
    conv(ref);
    EXPECT_EQ(gcb->temps_ix, ix + 1);  // the text is a temporary value

    SV* blessed = sv_new_head(gcb);
    sv_upgrade_body(gcb, blessed, SVt_PVAV);
    SV* bref = sv_new_reference(gcb, blessed);
    sv_bless_referent(gcb, bref, stash("P"));
    EXPECT_EQ(conv(bref), "P=ARRAY(" + hex(blessed) + ")");

    SV* inner = sv_new_reference(gcb, sv_new_head(gcb));
    SV* refref = sv_new_reference(gcb, inner);
    EXPECT_EQ(conv(refref), "SCALAR(" + hex(inner) + ")");

    struct Case {
        uint32_t type;
        const char* word;
    } words[] = {{SVt_PVHV, "HASH"},   {SVt_PVCV, "CODE"},     {SVt_PVGV, "GLOB"}, {SVt_PVFM, "FORMAT"},
                 {SVt_PVIO, "IO"},     {SVt_PVLV, "LVALUE"},   {SVt_PVBM, "SCALAR"}, {SVt_PVMG, "SCALAR"}};
    for (const Case& c : words) {
        SV* target = sv_new_head(gcb);
        sv_upgrade_body(gcb, target, c.type);
        EXPECT_EQ(conv(sv_new_reference(gcb, target)), std::string(c.word) + "(" + hex(target) + ")");
    }

    SV* nullref = sv_new_head(gcb);
    sv_upgrade_body(gcb, nullref, SVt_RV);
    nullref->flags |= SVf_ROK;
    EXPECT_EQ(conv(nullref), "NULLREF");
}

TEST_F(SvConv, CompiledPatternTexts)
{
    struct Case {
        uint32_t anal;
        const char* text;
    } cases[] = {{0, "(?-xism:abc)"},       {0x4000, "(?i-xsm:abc)"}, {0x3000, "(?ms-xi:abc)"},
                 {0xF000, "(?msix:abc)"},   {0x8000, "(?x-ism:abc)"}, {0x800, "(?-xism:abc)"}};
    for (const Case& c : cases)
        EXPECT_EQ(conv(regexp_ref("abc", c.anal)), c.text);

    SV* ref = regexp_ref("a(b)c", 0x4000, 2);
    uint64_t len1, len2;
    const char* t1 = sv_to_string(gcb, ref, &len1);
    const char* t2 = sv_to_string(gcb, ref, &len2);
    EXPECT_EQ(t1, t2);   // cached
    EXPECT_EQ(std::string(t1, len1), "(?i-xsm:a(b)c)");
    EXPECT_EQ(gcb->seen_evals, 4);
    // A blessed value of another class is a plain object.
    SV* other = regexp_ref("abc", 0);
    sv_bless_referent(gcb, other, stash("Regexpx"));
    EXPECT_EQ(conv(other).rfind("Regexpx=SCALAR(0x", 0), 0u);
}

TEST_F(SvConv, ForceString)
{
    SV* hash = sv_new_head(gcb);
    sv_upgrade_body(gcb, hash, SVt_PVHV);
    SV* ref = sv_new_reference(gcb, hash);
    sv_release(gcb, hash);
    std::string want = "HASH(" + hex(hash) + ")";
    uint64_t len;
    char* text = sv_force_string(gcb, ref, &len);
    EXPECT_EQ(std::string(text, len), want);
    EXPECT_EQ(text, sv_pv(ref));
    EXPECT_FALSE(ref->flags & SVf_ROK);
    EXPECT_TRUE(ref->flags & SVf_POK);
    EXPECT_TRUE(hash->flags & SVs_TEMP);   // deferred, not freed
    EXPECT_EQ(hash->refcnt, 1u);

    SV* n = sv_new_from_int(gcb, 42);
    const char* digits = sv_force_string(gcb, n, &len);
    EXPECT_EQ(std::string(digits, len), "42");

    set_op(62, "add", "addition (+)");
    SV* arr = sv_new_head(gcb);
    sv_upgrade_body(gcb, arr, SVt_PVAV);
    EXPECT_EQ(run([&] { sv_force_string(gcb, arr, &len); }), 2);
    EXPECT_EQ(err_text(), "Can't coerce ARRAY to string in add.\n");
    gcb->err.len = 0;
    SV* ro = bytes("fixed");
    ro->flags |= SVf_READONLY;
    EXPECT_EQ(run([&] { sv_force_string(gcb, ro, &len); }), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

TEST_F(SvConv, NumberClasses)
{
    struct Case {
        std::string text;
        uint32_t cls;
    } cases[] = {
        {"0 but true", 1}, {"  12  ", 1}, {"12abc", 0},   {".5", 5},        {"1e3", 7},      {"-1e3", 7},
        {"-inf", 0x10},    {"Infinity ", 0x10}, {"nan", 0}, {std::string(20, '7'), 6},      {"-12", 9},
        {"1.5", 5},        {".", 0},     {"1e", 0},      {"", 0},          {"+3", 1},       {"INF1", 0},
        {"\t7\n", 1},      {"1.e5", 7},  {"0 but true ", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sv_number_class(gcb, bytes(c.text)), c.cls) << '"' << c.text << '"';
    EXPECT_EQ(sv_number_class(gcb, sv_new_from_int(gcb, 3)), 1u);
}

TEST_F(SvConv, IntegerConversionCaches)
{
    SV* d = sv_new_from_double(gcb, 3e9);
    EXPECT_EQ(sv_to_int(gcb, d), 3000000000);
    EXPECT_TRUE(d->flags & SVf_IsUV);
    EXPECT_TRUE(d->flags & SVf_IOK);
    SV* du = sv_new_from_double(gcb, 3e9);
    EXPECT_EQ(sv_to_uint(gcb, du), 3000000000u);
    EXPECT_TRUE(du->flags & SVf_IsUV);
    SV* neg = sv_new_from_double(gcb, -1.0);
    EXPECT_EQ(sv_to_uint(gcb, neg), UINT64_MAX);
    EXPECT_FALSE(neg->flags & SVf_IsUV);
    EXPECT_EQ(sv_iv(neg), -1);

    SV* frac = bytes("1.5");
    EXPECT_EQ(sv_to_int(gcb, frac), 1);
    EXPECT_EQ(frac->flags & (SVf_NOK | SVf_IOK), SVf_NOK | SVf_IOK);
    EXPECT_EQ(sv_nv(frac), 1.5);

    // Digit strings beyond 32 bits go through the double conversion.
    SV* big = bytes("99999999999");
    EXPECT_EQ(sv_to_int(gcb, big), 4294967295);
    EXPECT_TRUE(big->flags & SVf_NOK);
    SV* bigneg = bytes("-99999999999");
    EXPECT_EQ(sv_to_int(gcb, bigneg), -2147483648);
    SV* edge = bytes("2147483647");
    EXPECT_EQ(sv_to_int(gcb, edge), 2147483647);
    EXPECT_FALSE(edge->flags & SVf_NOK);
    EXPECT_EQ(sv_to_int(gcb, bytes("-2147483648")), -2147483648);
    EXPECT_EQ(sv_to_uint(gcb, bytes("4000000000")), 4000000000u);
    // Integer texts with the blanks the number class allows around them, as
    // a line read from input has them.
    EXPECT_EQ(sv_to_int(gcb, bytes("\t7\n")), 7);
    EXPECT_EQ(sv_to_int(gcb, bytes("-12 ")), -12);
    EXPECT_EQ(sv_to_uint(gcb, bytes("42\n")), 42u);

    SV* but = bytes("0 but true");
    warnings_all();
    EXPECT_EQ(sv_to_int(gcb, but), 0);
    EXPECT_EQ(err_raw(), "");
    EXPECT_TRUE(sv_is_true(gcb, but));
    EXPECT_EQ(sv_to_double(gcb, bytes("2.5")), 2.5);
    EXPECT_EQ(sv_to_double(gcb, sv_new_from_int(gcb, -4)), -4.0);
    EXPECT_EQ(sv_to_double(gcb, nullptr), 0.0);
    EXPECT_EQ(sv_to_int(gcb, nullptr), 0);
}

// The signed and the unsigned reading of one text: the same integer bits,
// the unsigned mark only on a non-negative reading.
TEST_F(SvConv, SignedAndUnsignedReadingsOfText)
{
    struct Case {
        const char* text;
        int64_t signed_value;
        uint64_t unsigned_value;
        bool marked_unsigned;
    } cases[] = {
        {"12", 12, 12u, true},
        {"  7", 7, 7u, true},
        {"-5", -5, 0xFFFFFFFFFFFFFFFBull, false},
        {"abc", 0, 0u, true},
        {"3.7", 3, 3u, true},
        {"-3.7", -3, 0xFFFFFFFFFFFFFFFDull, false},
        {"3000000000", 3000000000, 3000000000u, true},
    };
    for (const Case& c : cases) {
        SV* a = bytes(c.text);
        SV* b = bytes(c.text);
        EXPECT_EQ(sv_to_int(gcb, a), c.signed_value) << c.text;
        EXPECT_EQ(sv_to_uint(gcb, b), c.unsigned_value) << c.text;
        EXPECT_EQ((b->flags & SVf_IsUV) != 0, c.marked_unsigned) << c.text;
        EXPECT_TRUE(b->flags & SVf_IOK) << c.text;
    }
}

TEST_F(SvConv, NotANumberWarning)
{
    warnings_bits({WARN_NUMERIC});
    set_op(62, "add", "addition (+)");
    sv_to_int(gcb, bytes("12abc"));
    sv_to_double(gcb, bytes("\xE9t\x01\n\\"));
    gcb->op = nullptr;
    sv_to_uint(gcb, bytes(std::string(70, 'x')));
    EXPECT_EQ(err_text(),
              "Argument \"12abc\" isn't numeric in addition (+).\n"
              "Argument \"M-it^A\\n\\\\\" isn't numeric in addition (+).\n"
              "Argument \"" + std::string(56, 'x') + "...\" isn't numeric.\n");
}

TEST_F(SvConv, Truth)
{
    SV* rv = sv_new_reference(gcb, sv_new_head(gcb));
    struct Case {
        SV* sv;
        bool truth;
    } cases[] = {
        {sv_new_head(gcb), false},       {bytes(""), false},   {bytes("0"), false}, {bytes("00"), true},
        {bytes("0.0"), true},            {bytes(" 0"), true},  {bytes("a"), true},  {sv_new_from_int(gcb, 0), false},
        {sv_new_from_int(gcb, -1), true}, {sv_new_from_double(gcb, 0.0), false}, {sv_new_from_double(gcb, 0.5), true},
        {rv, true},                      {&gcb->sv_yes, true}, {&gcb->sv_no, false}, {&gcb->sv_undef, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(sv_is_true(gcb, c.sv), c.truth) << str(c.sv);
}

TEST_F(SvConv, IncrementAndDecrement)
{
    struct Case {
        const char* from;
        const char* to;
    } strings[] = {{"Zz", "AAa"}, {"zz", "aaa"}, {"a9", "b0"}, {"Az", "Ba"}, {"aa9", "ab0"},
                   {"9", "10"},   {"a", "b"},    {"zZ9", "aaA0"}, {"99", "100"}};
    for (const Case& c : strings) {
        SV* sv = bytes(c.from);
        sv_increment(gcb, sv);
        EXPECT_EQ(str(sv), c.to) << c.from;
    }
    SV* odd = bytes("a-1");
    sv_increment(gcb, odd);
    EXPECT_EQ(odd->flags & (SVf_NOK | SVf_POK | SVf_IOK), SVf_NOK);

    SV* imax = sv_new_from_int(gcb, 2147483647);
    sv_increment(gcb, imax);
    EXPECT_EQ(imax->flags & (SVf_NOK | SVf_IOK), SVf_NOK);
    EXPECT_EQ(sv_nv(imax), 2147483648.0);
    SV* umax = sv_new_from_uint(gcb, 4294967295u);
    sv_increment(gcb, umax);
    EXPECT_EQ(sv_nv(umax), 4294967296.0);
    SV* imin = sv_new_from_int(gcb, -2147483648LL);
    sv_decrement(gcb, imin);
    EXPECT_EQ(imin->flags & (SVf_NOK | SVf_IOK), SVf_NOK);
    EXPECT_EQ(sv_nv(imin), -2147483649.0);
    SV* uzero = sv_new_from_uint(gcb, 0);
    sv_decrement(gcb, uzero);
    EXPECT_EQ(uzero->flags & (SVf_IOK | SVf_IsUV), SVf_IOK);
    EXPECT_EQ(sv_iv(uzero), -1);
    SV* i = sv_new_from_int(gcb, 5);
    sv_increment(gcb, i);
    sv_increment(gcb, i);
    sv_decrement(gcb, i);
    EXPECT_EQ(sv_iv(i), 6);
    SV* d = sv_new_from_double(gcb, 1.5);
    sv_increment(gcb, d);
    EXPECT_EQ(sv_nv(d), 2.5);
    SV* u = sv_new_head(gcb);
    sv_increment(gcb, u);
    EXPECT_EQ(u->flags & (SVf_NOK | SVf_IOK | SVf_POK), SVf_NOK);
    EXPECT_EQ(sv_nv(u), 1.0);
    SV* u2 = sv_new_head(gcb);
    sv_decrement(gcb, u2);
    EXPECT_EQ(sv_nv(u2), -1.0);
    SV* s = bytes("aa");
    sv_decrement(gcb, s);
    EXPECT_EQ(s->flags & (SVf_NOK | SVf_POK), SVf_NOK);
    SV* e = bytes("");
    sv_increment(gcb, e);
    EXPECT_EQ(sv_nv(e), 1.0);
    sv_increment(gcb, nullptr);

    SV* ro = sv_new_from_int(gcb, 1);
    ro->flags |= SVf_READONLY;
    EXPECT_EQ(run([&] { sv_increment(gcb, ro); }), 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
}

}  // namespace
