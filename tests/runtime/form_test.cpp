// Formats at run time: the compiled picture and its code program, the field
// kinds (justified, centred, numeric, chopping, whole-value), blank and
// repeated lines, the ellipsis, the warnings and the failures.
#include "runtime/strop_fixture.h"

#include "ds/src/prxmg.h"

namespace {

class Form : public runtime::OpCall {
protected:
    void SetUp() override
    {
        OpCall::SetUp();
        gcb->chop_set = " \n-";
        SV* acc = sv_new_from_bytes(gcb, "", 0);
        sv_upgrade_body(gcb, acc, SVt_PVFM);
        gcb->format_body_target = acc;
        gcb->format_target = acc;
    }

    // Runs formline over the picture and values as the run loop would:
    // while it asks for its operand list again, it runs again with the same
    // operands. Returns the accumulated text; runs counts the calls.
    std::string formline(SV* picture, std::vector<SV*> values, int32_t* runs = nullptr)
    {
        OP* o = op(OP_FORMLINE, OPf_WANT_SCALAR | OPf_KIDS);
        op_first_kid(o) = &kid;
        values.insert(values.begin(), picture);
        int32_t n = 0;
        for (;;) {
            last = call(o, values, true);
            n++;
            if (last.code != 0 || last.next != &kid || n > 1000)
                break;
            EXPECT_TRUE(last.results.empty());
        }
        if (runs)
            *runs = n;
        if (last.code == 0) {
            EXPECT_EQ(last.next, &after);
            EXPECT_EQ(one(last), &gcb->sv_yes);
        }
        return accumulated();
    }
    std::string formline(const char* picture, std::vector<SV*> values, int32_t* runs = nullptr)
    {
        return formline(bytes(picture), std::move(values), runs);
    }
    std::string accumulated() { return str(gcb->format_target); }
    int32_t lines() { return static_cast<PVFM*>(gcb->format_target->any)->lines; }
    void reset_accumulator()
    {
        sv_set_bytes(gcb, gcb->format_target, "", 0);
        static_cast<PVFM*>(gcb->format_target->any)->lines = 0;
    }

    OP kid{};
    Outcome last;
};

TEST_F(Form, Fields)
{
    struct Case {
        const char* picture;
        std::vector<const char*> values;
        const char* expect;
    } cases[] = {
        {"@<<< @>>>", {"abc", "de"}, "abc    de"},
        {"@|||", {"ab"}, " ab"},
        {"@||||", {"ab"}, " ab"},
        {"@|||| |", {"ab"}, " ab   |"},
        {"@>>>>", {"ab"}, "   ab"},
        {"@<<<", {"toolong"}, "tool"},
        {"@", {"xyz"}, "x"},
        {"Name: @<<<!", {"Bob"}, "Name: Bob !"},
        {"@<<<", {"a\tb"}, "a b"},
        {"@<<<<<", {"ab\ncd"}, "ab"},
        {"@<\n@<", {"a", "b"}, "a\nb"},
        {"@<<   \n", {"a"}, "a\n"},
        {"a  @<", {"b"}, "a  b"},
        {"@<<<...", {"abcdefgh"}, "abcd..."},
        {"@<<<<<...", {"ab"}, "ab"},
    };
    for (const Case& c : cases) {
        reset_accumulator();
        std::vector<SV*> values;
        for (const char* v : c.values)
            values.push_back(bytes(v));
        EXPECT_EQ(formline(c.picture, values), c.expect) << c.picture;
    }
}

TEST_F(Form, NumericFields)
{
    struct Case {
        const char* picture;
        SV* value;
        const char* expect;
    } cases[] = {
        {"@##.##", num(3.14159), "  3.14"},
        {"@###", num(42), "  42"},
        {"@###", num(-7.6), "  -8"},
        {"@.##", num(0.5), "0.50"},
        {"^###", sv_new_undef(gcb, 0), "    "},
        {"^###", num(5), "   5"},
        {"@#", num(12345), "12"},
        {"@###.#", bytes("2.25"), "   2.2"},
    };
    for (Case& c : cases) {
        reset_accumulator();
        EXPECT_EQ(formline(c.picture, {c.value}), c.expect) << c.picture;
    }
}

TEST_F(Form, ChoppingFieldsConsumeTheirValue)
{
    SV* v = bytes("hi there");
    EXPECT_EQ(formline("^<<<<", {v}), "hi");
    EXPECT_EQ(str(v), "there");
    reset_accumulator();
    v = bytes("hello world");
    EXPECT_EQ(formline("^<<<", {v}), "hell");
    EXPECT_EQ(str(v), "o world");
    reset_accumulator();
    v = bytes("well-known");
    EXPECT_EQ(formline("^<<<<<<", {v}), "well-");
    EXPECT_EQ(str(v), "known");
    reset_accumulator();
    v = bytes("ab\rcd");
    EXPECT_EQ(formline("^<<<<<<", {v}), "ab");
    reset_accumulator();
    v = bytes("abcdefghij");
    EXPECT_EQ(formline("^<<<...", {v}), "abcd...");
    EXPECT_EQ(str(v), "hij");
}

TEST_F(Form, BlankAndRepeatedLines)
{
    // A line with a tilde whose fields are all empty leaves nothing.
    EXPECT_EQ(formline("~ @<<<\nend\n", {bytes("")}), "end\n");
    EXPECT_EQ(lines(), 1);
    reset_accumulator();
    EXPECT_EQ(formline("~ @<<<\n", {bytes("x")}), "  x\n");

    // Two tildes repeat the line until its fields are used up.
    reset_accumulator();
    SV* v = bytes("abc def ghi");
    int32_t runs = 0;
    EXPECT_EQ(formline("~~^<<<\n", {v}, &runs), "  abc\n  def\n  ghi\n");
    EXPECT_EQ(runs, 4);
    EXPECT_EQ(lines(), 3);
    EXPECT_EQ(str(v), "");
}

TEST_F(Form, RunawayFormat)
{
    int32_t runs = 0;
    formline("~~@<<\n", {bytes("ab")}, &runs);
    EXPECT_NE(last.code, 0);
    EXPECT_EQ(err_text(), "Runaway format.\n");
    EXPECT_EQ(runs, 200);
}

TEST_F(Form, WholeValueField)
{
    EXPECT_EQ(formline("@*", {bytes("one\ntwo\n")}), "one\ntwo");
    EXPECT_EQ(lines(), 2);
    reset_accumulator();
    EXPECT_EQ(formline("[@*]\n", {bytes("a\nb\nc")}), "[a\nb\nc]\n");
    EXPECT_EQ(lines(), 3);
    reset_accumulator();
    EXPECT_EQ(formline("<@*>", {bytes("")}), "<>");
    // The text after the field, on its line and the next, stays in step.
    reset_accumulator();
    EXPECT_EQ(formline("@*\nend @<\n", {bytes("x"), bytes("y")}), "x\nend y\n");
}

TEST_F(Form, TheProgramLivesBehindThePicture)
{
    SV* picture = bytes("~ @<<");
    formline(picture, {bytes("x")});
    EXPECT_NE(mg_find_by_type(gcb, picture, 'f'), nullptr);
    EXPECT_TRUE(picture->flags & SVf_COMPILED);
    // The tilde became a space; the text keeps its length.
    EXPECT_EQ(str(picture), "  @<<");
    const uint8_t* program = reinterpret_cast<const uint8_t*>(sv_pv(picture)) + 6;
    uint16_t first;
    std::memcpy(&first, program, 2);
    EXPECT_EQ(first, 1);  // form_line_start

    // Once compiled, a second run uses the program as it stands.
    reset_accumulator();
    EXPECT_EQ(formline(picture, {bytes("yz")}), "  yz");

    SV* constant = bytes("@>>");
    constant->flags |= SVf_READONLY;
    reset_accumulator();
    EXPECT_EQ(formline(constant, {bytes("a")}), "  a");
    EXPECT_TRUE(constant->flags & SVf_READONLY);
    EXPECT_TRUE(constant->flags & SVf_COMPILED);
}

TEST_F(Form, AppendsToTheAccumulator)
{
    sv_set_bytes(gcb, gcb->format_target, "head\n", 5);
    EXPECT_EQ(formline("@<<\n", {bytes("ab")}), "head\nab\n");
    EXPECT_EQ(formline("@<<\n", {bytes("cd")}), "head\nab\ncd\n");
    EXPECT_EQ(lines(), 2);
}

TEST_F(Form, ManyShortFields)
{
    // Every "^" alone is a chopping field of its own: the program is five
    // codes for each picture byte.
    std::string picture(40, '^');
    std::vector<SV*> values;
    for (int i = 0; i < 40; i++)
        values.push_back(bytes("xy"));
    EXPECT_EQ(formline(picture.c_str(), values), std::string(40, 'x'));
    EXPECT_EQ(str(values[0]), "y");
    reset_accumulator();
    std::string mixed;
    for (int i = 0; i < 20; i++)
        mixed += "^@";
    values.clear();
    for (int i = 0; i < 40; i++)
        values.push_back(bytes("q"));
    EXPECT_EQ(formline(mixed.c_str(), values), std::string(40, 'q'));
}

TEST_F(Form, MissingArguments)
{
    warnings_all();
    EXPECT_EQ(formline("@< @< @<", {bytes("a")}), "a     ");
    EXPECT_EQ(err_text(), "Not enough format arguments.\n"
                          "Not enough format arguments.\n");
    clear_err();
    warnings_none();
    reset_accumulator();
    // A chopping field without a value chops nothing.
    EXPECT_EQ(formline("^<<<|", {}), "    |");
    EXPECT_EQ(err_text(), "");
}

TEST_F(Form, NullPicture)
{
    formline("", {});
    EXPECT_EQ(last.code, 2);
    EXPECT_EQ(err_text(), "Null picture in formline.\n");
}

TEST_F(Form, Utf8Items)
{
    // Three two-byte characters fit a field of four: counted as characters.
    SV* v = utf8("\xce\xb1\xce\xb2\xce\xb3");
    EXPECT_EQ(hex(formline("@<<<|", {v})), hex("\xce\xb1\xce\xb2\xce\xb3 |"));
    reset_accumulator();
    v = utf8("\xe2\x98\xba\xe2\x98\xba\xe2\x98\xba\xe2\x98\xba\xe2\x98\xba");
    EXPECT_EQ(hex(formline("@<|", {v})), hex("\xe2\x98\xba\xe2\x98\xba|"));
    reset_accumulator();
    v = utf8("\xce\xb1\xce\xb2 \xce\xb3\xce\xb4");
    EXPECT_EQ(hex(formline("^<<|", {v})), hex("\xce\xb1\xce\xb2 |"));
    EXPECT_EQ(hex(str(v)), "ceb3ceb4");
}

}  // namespace
