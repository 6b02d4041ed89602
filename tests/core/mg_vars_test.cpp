// Special-variable magic, called as the dispatcher calls it: the match
// variables and their lengths, the error number, the separators, the
// status, the format variables, the ids and the warning bits.
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "ds/src/prxop.h"

namespace {

using prxtest::Stacks;

class Special : public Stacks {
protected:
    // A scalar with the special-variable magic of the given name, made plain
    // as the dispatcher makes it while its methods run.
    struct Var {
        SV* sv;
        MAGIC* mg;
    };
    Var var(const std::string& name)
    {
        SV* sv = sv_new_undef(gcb, 0);
        sv_add_magic(gcb, sv, nullptr, '\0', name.data(), static_cast<int32_t>(name.size()));
        sv->flags &= ~SVs_MAGICAL;
        return {sv, mg_find_by_type(gcb, sv, '\0')};
    }
    SV* get(const std::string& name)
    {
        Var v = var(name);
        EXPECT_EQ(run([&] { magic_special_get(gcb, v.sv, v.mg); }), 0) << name << err_text();
        return v.sv;
    }
    uint32_t len(const std::string& name)
    {
        Var v = var(name);
        return magic_special_len(gcb, v.sv, v.mg);
    }
    int32_t set(const std::string& name, SV* value)
    {
        Var v = var(name);
        sv_assign(gcb, v.sv, value);
        return run([&] { magic_special_set(gcb, v.sv, v.mg); });
    }
    std::string text(SV* sv) { return (sv->flags & SVf_OK_ANY) ? str(sv) : "<undef>"; }

    // The last successful match: "xabcy" against a pattern with groups 1
    // (did not take part) and 2 ("b").
    void matched()
    {
        subject = "xabcy";
        starts = {1, -1, 2};
        ends = {4, -1, 3};
        rx.start_offsets = starts.data();
        rx.end_offsets = ends.data();
        rx.subject_copy = subject.data();
        rx.subject_copy_length = static_cast<int32_t>(subject.size());
        rx.group_count = 2;
        rx.last_group = 2;
        pm.op_pmregexp = &rx;
        gcb->last_match_op = &pm.op;
    }
    std::string subject;
    std::vector<int32_t> starts, ends;
    re_compiled rx{};
    op_pattern pm{};
};

TEST_F(Special, MatchVariables)
{
    EXPECT_EQ(text(get("1")), "<undef>");  // no match yet
    matched();
    struct Case {
        const char* name;
        const char* value;
        uint32_t length;
    } cases[] = {
        {"&", "abc", 3}, {"1", "<undef>", 0}, {"2", "b", 1},  {"3", "<undef>", 0},
        {"+", "b", 1},   {"`", "x", 1},       {"'", "y", 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(get(c.name)), c.value) << c.name;
        EXPECT_EQ(len(c.name), c.length) << c.name;
    }
    rx.last_group = 0;
    EXPECT_EQ(text(get("+")), "<undef>");
    EXPECT_EQ(len("+"), 0u);
    // A UTF-8 match counts characters.
    subject = "x\xC3\xA9\xC3\xA9y";
    rx.subject_copy = subject.data();
    rx.subject_copy_length = static_cast<int32_t>(subject.size());
    starts[0] = 1;
    ends[0] = 5;
    pm.op_pmdynflags = 0x04;
    EXPECT_EQ(len("&"), 2u);
    SV* amp = get("&");
    EXPECT_EQ(str(amp), "\xC3\xA9\xC3\xA9");
    EXPECT_TRUE(amp->flags & SVf_UTF8);
}

TEST_F(Special, ThroughTheDispatcher)
{
    matched();
    SV* one = gv_gp(gv_fetch_by_name(gcb, "1", GV_ADD, SVt_PV))->gp_sv;
    SV* two = gv_gp(gv_fetch_by_name(gcb, "2", GV_ADD, SVt_PV))->gp_sv;
    EXPECT_EQ(mg_value_length(gcb, one), 0u);  // no string is built
    EXPECT_EQ(mg_value_length(gcb, two), 1u);
    ASSERT_EQ(run([&] { mg_call_get(gcb, one); }), 0) << err_text();
    EXPECT_FALSE(one->flags & SVf_OK_ANY);
    EXPECT_EQ(str(two), "b");  // reading runs the get magic
    EXPECT_TRUE(two->flags & SVf_READONLY);
    EXPECT_TRUE(two->flags & SVs_GMG);
}

TEST_F(Special, ErrorNumberReadsAsANumberOnly)
{
    ASSERT_EQ(set("!", iv(2)), 0);
    EXPECT_EQ(gcb->errno_cell, 2);
    host->messages.clear();
    SV* e = get("!");
    EXPECT_TRUE(e->flags & SVf_NOK);
    EXPECT_DOUBLE_EQ(sv_nv(e), 2.0);
    EXPECT_EQ(str(e), "2");
    EXPECT_EQ(gcb->errno_cell, 2);
    ASSERT_EQ(host->messages.size(), 1u);  // the error text is not available
    EXPECT_EQ(host->messages[0].number, 304);
    EXPECT_EQ(host->messages[0].args, (std::vector<std::string>{"STRERROR"}));
    ASSERT_EQ(set("!", &gcb->sv_undef), 0);
    EXPECT_EQ(gcb->errno_cell, 0);
    host->messages.clear();
    SV* e0 = get("\x05");  // 0: the empty string, and the number 0
    EXPECT_EQ(str(e0), "");
    EXPECT_TRUE(e0->flags & SVf_NOK);
    EXPECT_DOUBLE_EQ(sv_nv(e0), 0.0);
    EXPECT_TRUE(host->messages.empty());
}

TEST_F(Special, StatusAndLinesLeft)
{
    struct Case {
        int64_t stored;
        int64_t read;
    } cases[] = {{-1, -1}, {0x12345, 0x2345}, {7, 7}};
    for (const Case& c : cases) {
        ASSERT_EQ(set("?", iv(c.stored)), 0);
        EXPECT_EQ(sv_to_int(gcb, get("?")), c.read) << c.stored;
    }
    GV* out = gv_fetch_by_name(gcb, "STDOUT", GV_ADD, SVt_PVIO);
    gcb->default_output_glob = out;
    ASSERT_EQ(set("-", iv(-5)), 0);
    EXPECT_EQ(sv_to_int(gcb, get("-")), 0);
    ASSERT_EQ(set("=", iv(60)), 0);
    EXPECT_EQ(sv_to_int(gcb, get("=")), 60);
    ASSERT_EQ(set("%", iv(3)), 0);
    EXPECT_EQ(sv_to_int(gcb, get("%")), 3);
    EXPECT_EQ(str(get("~")), "STDOUT");
    EXPECT_EQ(str(get("^")), "STDOUT_TOP");
    ASSERT_EQ(set("~", pv("MYFMT")), 0);
    EXPECT_EQ(str(get("~")), "MYFMT");
    EXPECT_NE(io_body(gv_gp(out)->gp_io)->fmt_gv, nullptr);
    ASSERT_EQ(set("|", iv(1)), 0);
    EXPECT_EQ(sv_to_int(gcb, get("|")), 1);
    ASSERT_EQ(set("|", iv(0)), 0);
    EXPECT_EQ(sv_to_int(gcb, get("|")), 0);
}

TEST_F(Special, Separators)
{
    ASSERT_EQ(set("\\", &gcb->sv_undef), 0);
    EXPECT_EQ(gcb->output_record_sep, nullptr);
    EXPECT_EQ(text(get("\\")), "<undef>");
    ASSERT_EQ(set("\\", pv("")), 0);
    ASSERT_NE(gcb->output_record_sep, nullptr);
    EXPECT_EQ(gcb->output_record_sep_len, 0u);
    EXPECT_EQ(len("\\"), 0u);
    ASSERT_EQ(set("\\", pv("\n")), 0);
    EXPECT_EQ(std::string(gcb->output_record_sep, gcb->output_record_sep_len), "\n");
    ASSERT_EQ(set(",", pv("--")), 0);
    EXPECT_EQ(len(","), 2u);
    EXPECT_EQ(str(get(",")), "--");
    SV* rs = pv("::");
    ASSERT_EQ(set("/", rs), 0);
    EXPECT_EQ(gcb->rs, gcb->newline_rs);
    EXPECT_EQ(str(gcb->rs), "::");
    EXPECT_NE(gcb->rs, rs);
    ASSERT_EQ(set("#", pv("%.3g")), 0);
    EXPECT_EQ(str(get("#")), "%.3g");
    ASSERT_EQ(set("*", iv(5)), 0);
    EXPECT_EQ(gcb->multiline, 1);
}

TEST_F(Special, WarningSwitches)
{
    ASSERT_EQ(set("\x17", iv(1)), 0);
    EXPECT_EQ(sv_to_int(gcb, get("\x17")), 1);
    ASSERT_EQ(set("\x17", iv(0)), 0);
    EXPECT_EQ(sv_to_int(gcb, get("\x17")), 0);
    gcb->warn_switch = 0x02;  // forced on by the command line
    ASSERT_EQ(set("\x17", iv(1)), 0);
    EXPECT_EQ(gcb->warn_switch, 0x02u);
    gcb->warn_switch = 0;

    std::string all(12, '\x55');
    ASSERT_EQ(set("\x17" "ARNING_BITS", sv_new_from_bytes(gcb, all.data(), all.size())), 0);
    EXPECT_EQ(gcb->compiling_statement->cop_warnings, reinterpret_cast<SV*>(WARNINGS_ALL));
    EXPECT_TRUE(gcb->warn_switch & 0x08);
    EXPECT_EQ(str(get("\x17" "ARNING_BITS")), all);
    std::string none(12, '\0');
    ASSERT_EQ(set("\x17" "ARNING_BITS", sv_new_from_bytes(gcb, none.data(), none.size())), 0);
    EXPECT_EQ(gcb->compiling_statement->cop_warnings, reinterpret_cast<SV*>(WARNINGS_NONE));
    EXPECT_EQ(str(get("\x17" "ARNING_BITS")), none);
    std::string some(12, '\0');
    some[1] = 0x10;  // category 6
    ASSERT_EQ(set("\x17" "ARNING_BITS", sv_new_from_bytes(gcb, some.data(), some.size())), 0);
    SV* w = gcb->compiling_statement->cop_warnings;
    ASSERT_NE(w, reinterpret_cast<SV*>(WARNINGS_ALL));
    EXPECT_EQ(str(w), some);
    EXPECT_EQ(str(get("\x17" "ARNING_BITS")), some);
}

TEST_F(Special, IdsReportTheUnsupportedCall)
{
    host->messages.clear();
    ASSERT_EQ(set("<", iv(0)), 0);  // equal to the effective id: the set-id stub
    ASSERT_EQ(host->messages.size(), 1u);
    EXPECT_EQ(host->messages[0].args, (std::vector<std::string>{"SETUID"}));
    EXPECT_EQ(gcb->uid, 0);
    EXPECT_EQ(gcb->euid, 0);

    struct Case {
        const char* name;
        const char* text;
        int32_t* id;
    } cases[] = {
        {"(", "setrgid() not implemented.\n", &gcb->gid},
        {")", "setegid() not implemented.\n", &gcb->egid},
        {"<", "setruid() not implemented.\n", &gcb->uid},
        {">", "seteuid() not implemented.\n", &gcb->euid},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        EXPECT_EQ(set(c.name, iv(5)), 2) << c.name;
        EXPECT_EQ(err_text(), c.text);
        EXPECT_EQ(*c.id, 0);
        EXPECT_EQ(sv_to_int(gcb, get(c.name)), 0);
    }
    // A list assignment delays the change.
    gcb->delayed_ids = 0x80;
    host->messages.clear();
    ASSERT_EQ(set(">", iv(9)), 0);
    EXPECT_EQ(gcb->delayed_ids, 0x82);
    EXPECT_EQ(gcb->euid, 9);
    EXPECT_TRUE(host->messages.empty());
}

TEST_F(Special, InterpreterFields)
{
    ASSERT_EQ(set("\x08", iv(0x602)), 0);
    EXPECT_EQ(gcb->compile_hints, 0x602u);
    EXPECT_EQ(sv_to_int(gcb, get("\x08")), 0x602);
    ASSERT_EQ(set("\x04", iv(5)), 0);
    EXPECT_EQ(gcb->debug_flags, 0x80000005u);
    EXPECT_EQ(sv_to_int(gcb, get("\x04")), 5);
    ASSERT_EQ(set("\x09", pv(".bak")), 0);
    EXPECT_STREQ(gcb->inplace, ".bak");
    EXPECT_EQ(str(get("\x09")), ".bak");
    ASSERT_EQ(set("\x09", &gcb->sv_undef), 0);
    EXPECT_EQ(gcb->inplace, nullptr);
    EXPECT_EQ(text(get("\x09")), "<undef>");
    gcb->compiling_statement->cop_arybase = 0;
    ASSERT_EQ(set("[", iv(1)), 0);
    EXPECT_EQ(gcb->compiling_statement->cop_arybase, 1);
    gcb->current_statement->cop_arybase = 1;
    EXPECT_EQ(sv_to_int(gcb, get("[")), 1);
    gcb->lex_state = 11;
    gcb->in_eval = 0x09;
    EXPECT_EQ(sv_to_int(gcb, get("\x13")), 1);
    gcb->lex_state = 3;  // parsing: undefined
    EXPECT_EQ(text(get("\x13")), "<undef>");
}

TEST_F(Special, LineNumberOfTheLastReadHandle)
{
    GV* fh = gv_fetch_by_name(gcb, "FH", GV_ADD, SVt_PVIO);
    gcb->last_input_glob = fh;
    ASSERT_EQ(set(".", iv(42)), 0);
    EXPECT_EQ(io_body(gv_gp(fh)->gp_io)->lines, 42);
    EXPECT_EQ(sv_to_int(gcb, get(".")), 42);
}

}  // namespace
