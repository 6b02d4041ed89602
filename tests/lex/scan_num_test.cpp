// Numeric and version literals: integer, unsigned and double results, the
// bases with their digit errors and overflow, underscores, version strings.
#include "lex/scan_fixture.h"

#include "ds/src/prxsv.h"

namespace lextest {
namespace {

class ScanNum : public Lex {
protected:
    // Scans text; the op (or null) and the offset where the scan stopped.
    OP* num(const std::string& text, size_t* stop = nullptr)
    {
        char* s = set_text(text);
        OP* o = nullptr;
        char* end = nullptr;
        EXPECT_EQ(run([&] { end = scan_num(gcb, s, &o); }), 0) << err_text();
        if (stop)
            *stop = end ? offset(end) : 0;
        return o;
    }
    // The number a literal's value holds, by the flag that is set.
    double value_of(SV* sv)
    {
        if (sv->flags & SVf_NOK)
            return sv_nv(sv);
        return (sv->flags & SVf_IsUV) ? static_cast<double>(sv_uv(sv)) : static_cast<double>(sv_iv(sv));
    }
};

TEST_F(ScanNum, IntegersUnsignedAndDoubles)
{
    struct Case {
        const char* text;
        uint32_t ok;       // the OK flag that must be set
        bool is_uv;
        double value;
        size_t stop;
    } cases[] = {
        {"0x7fffffff", SVf_IOK, false, 2147483647.0, 10},
        {"2147483648", SVf_IOK, true, 2147483648.0, 10},
        {"1.0", SVf_NOK, false, 1.0, 3},
        {"1e3", SVf_NOK, false, 1000.0, 3},
        {"1_000_000;", SVf_IOK, false, 1000000.0, 9},
        {"017", SVf_IOK, false, 15.0, 3},
        {"0b101", SVf_IOK, false, 5.0, 5},
        {"1..5", SVf_IOK, false, 1.0, 1},
        {".5", SVf_NOK, false, 0.5, 2},
        {"0xffffffffffffffff", SVf_IOK, true, 18446744073709551615.0, 18},
    };
    for (const Case& c : cases) {
        size_t stop = 0;
        OP* o = num(c.text, &stop);
        ASSERT_NE(o, nullptr) << c.text;
        EXPECT_EQ(o->op_type, OP_CONST);
        SV* sv = const_sv(o);
        EXPECT_TRUE(sv->flags & c.ok) << c.text;
        EXPECT_EQ((sv->flags & SVf_IsUV) != 0, c.is_uv) << c.text;
        EXPECT_EQ(value_of(sv), c.value) << c.text;
        EXPECT_EQ(stop, c.stop) << c.text;
        op_free_tree(gcb, o);
    }
    EXPECT_EQ(err_text(), "");
    EXPECT_TRUE(queued_errors.empty());
}

TEST_F(ScanNum, UnderscoreWarnings)
{
    warnings_all();
    gcb->current_statement = &runtime_cop;  // the warning bits come from the current statement
    struct Case {
        const char* text;
        int warnings;
    } cases[] = {{"1_00_000", 1}, {"1__0", 2}, {"12_3456", 1}, {"1_000.0_1", 0}};
    for (const Case& c : cases) {
        gcb->err.len = 0;
        OP* o = num(c.text);
        std::string expected;
        for (int i = 0; i < c.warnings; i++)
            expected += "Misplaced _ in number.\n";
        EXPECT_EQ(err_text(), expected) << c.text;
        op_free_tree(gcb, o);
    }
    gcb->err.len = 0;
    op_free_tree(gcb, num("1_000_000"));
    EXPECT_EQ(err_text(), "");
}

TEST_F(ScanNum, DigitErrorsAreCompileErrors)
{
    OP* o = num("0b102");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Illegal binary digit '2' at EOF\n"});
    EXPECT_EQ(value_of(const_sv(o)), 6.0);  // 1, 0 and 2 ORed in after each shift
    op_free_tree(gcb, o);
    queued_errors.clear();
    o = num("09");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Illegal octal digit '9' at EOF\n"});
    op_free_tree(gcb, o);
}

TEST_F(ScanNum, HexOverflowBecomesDouble)
{
    warnings_all();
    gcb->current_statement = &runtime_cop;
    OP* o = num("0x1ffffffffffffffff");
    EXPECT_NE(err_text().find("Integer overflow in hexadecimal number"), std::string::npos) << err_text();
    EXPECT_TRUE(const_sv(o)->flags & SVf_NOK);
    EXPECT_EQ(value_of(const_sv(o)), 36893488147419103231.0);
    op_free_tree(gcb, o);
    gcb->err.len = 0;
    o = num("0x100000000");
    EXPECT_EQ(err_text(), "Hexadecimal number > 0xffffffff non-portable.\n");
    op_free_tree(gcb, o);
}

TEST_F(ScanNum, NumberTooLong)
{
    std::string digits(251, '7');
    char* s = set_text(digits);
    OP* o = nullptr;
    EXPECT_NE(run([&] { scan_num(gcb, s, &o); }), 0);
    EXPECT_EQ(err_text(), "Number too long.\n");
    gcb->err.len = 0;
    OP* ok = num(std::string(250, '7'));
    EXPECT_NE(ok, nullptr);
    op_free_tree(gcb, ok);
}

TEST_F(ScanNum, VersionStrings)
{
    struct Case {
        const char* text;
        std::string chars;
        size_t stop;
    } cases[] = {
        {"1.2.3", std::string("\x01\x02\x03", 3), 5},
        {"v1.2.3", std::string("\x01\x02\x03", 3), 6},
        {"v10", std::string("\x0a", 1), 3},
        {"v1.22_0.3;", std::string("\x01\xdc\x03", 3), 9},
    };
    for (const Case& c : cases) {
        size_t stop = 0;
        OP* o = num(c.text, &stop);
        ASSERT_NE(o, nullptr) << c.text;
        SV* sv = const_sv(o);
        EXPECT_EQ(str(sv), c.chars) << c.text;
        EXPECT_TRUE(sv->flags & SVf_READONLY);
        EXPECT_EQ(stop, c.stop) << c.text;
        op_free_tree(gcb, o);
    }
    for (const char* word : {"vx", "v1a"}) {
        size_t stop = 99;
        EXPECT_EQ(num(word, &stop), nullptr) << word;
        EXPECT_EQ(stop, 0u) << word;
    }
}

TEST_F(ScanNum, VersionNumberOfAVersionString)
{
    SV* v = sv_new_from_bytes(gcb, "\x01\x02\x03", 3);
    EXPECT_DOUBLE_EQ(sv_version_number(gcb, v), 1.002003);
    sv_set_bytes(gcb, v, "", 0);
    EXPECT_EQ(sv_version_number(gcb, v), 0.0);
    // A UTF-8 value counts characters, not bytes: U+0100 is 256.
    sv_set_bytes(gcb, v, "\x05\xc4\x80", 3);
    v->flags |= SVf_UTF8;
    EXPECT_DOUBLE_EQ(sv_version_number(gcb, v), 5.256);
    sv_release(gcb, v);
}

TEST_F(ScanNum, OctalPartOfAVectorIsACompileError)
{
    OP* o = num("v1.02");
    EXPECT_EQ(queued_errors, std::vector<std::string>{"Octal number in vector unsupported at EOF\n"});
    op_free_tree(gcb, o);
}

}  // namespace
}  // namespace lextest
