// The command line and program parse: what the bridge's "-e 0" leaves, the
// switches and their messages, the include path and the preamble.
#include "life_fixture.h"
#include "ds/src/prxcall.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"
#include "ds/src/prxop.h"

namespace {

using bridgetest::Life;

std::string scalar_text(PERLGCB* gcb, const char* name)
{
    SV* sv = interp_get_scalar(gcb, name, 0);
    if (!sv || !sv_ok(sv))
        return "<undef>";
    uint64_t len = 0;
    const char* p = sv_text(gcb, sv, &len);
    return std::string(p, len);
}

TEST_F(Life, TheBridgesCommandLine)
{
    ASSERT_EQ(parse({"", "-e", "0"}), 0) << err();
    EXPECT_EQ(err(), "");
    ASSERT_NE(gcb->main_stash, nullptr);
    EXPECT_STREQ(hv_body(gcb->main_stash)->name, "main");
    EXPECT_EQ(strings(gv_gp(gcb->inc_glob)->gp_av), (std::vector<std::string>{"5.6.1", "5.6.1", "."}));
    EXPECT_TRUE(strings(gv_gp(gcb->argv_glob)->gp_av).empty());
    EXPECT_EQ(scalar_text(gcb, "0"), "-e");
    EXPECT_EQ(scalar_text(gcb, "/"), "\n");
    EXPECT_STREQ(gcb->program_file, "-e");
    EXPECT_STREQ(gcb->osname, "TOV");
    HV* env = gv_gp(gcb->env_glob)->gp_hv;
    EXPECT_EQ(hv_body(env)->keys, 0);
    EXPECT_NE(mg_find_by_type(gcb, as_sv(env), 'E'), nullptr);
    EXPECT_NE(gcb->main_root, nullptr);  // the program 0 is compiled
    EXPECT_EQ(gcb->e_program, nullptr);
    EXPECT_EQ(gcb->lex_state, 11);
    EXPECT_EQ(gcb->scope_ix, 1);  // one scope open at the outermost level
    EXPECT_EQ(gcb->top_env, &gcb->start_env);
    // Standard handles: STDOUT is the default output, on stream 1; STDERR on 2.
    ASSERT_NE(gcb->default_output_glob, nullptr);
    EXPECT_EQ(io_body(gv_gp(gcb->default_output_glob)->gp_io)->ofp, PRX_STDOUT);
    EXPECT_EQ(io_body(gv_gp(gcb->stderr_glob)->gp_io)->ofp, PRX_STDERR);
    EXPECT_EQ(io_body(gv_gp(gcb->stdin_glob)->gp_io)->ifp, 0);
    EXPECT_NE(interp_get_sub(gcb, "UNIVERSAL::isa", 0), nullptr);
}

// Switch texts and arguments after the program.
TEST_F(Life, ProgramArgumentsAndCodeAttachedToTheSwitch)
{
    ASSERT_EQ(parse({"", "-e0;", "-e", "1", "a", "-b"}), 0) << err();
    EXPECT_EQ(strings(gv_gp(gcb->argv_glob)->gp_av), (std::vector<std::string>{"a", "-b"}));
    ASSERT_EQ(parse({"", "-e", "0", "--", "-x"}), 0) << err();
    EXPECT_EQ(strings(gv_gp(gcb->argv_glob)->gp_av), (std::vector<std::string>{"-x"}));
    ASSERT_EQ(parse({"", "-s", "-e", "0", "--", "-foo=bar", "-flag", "--", "rest"}), 0) << err();
    EXPECT_EQ(scalar_text(gcb, "main::foo"), "bar");
    EXPECT_EQ(scalar_text(gcb, "main::flag"), "1");
    EXPECT_EQ(strings(gv_gp(gcb->argv_glob)->gp_av), (std::vector<std::string>{"rest"}));
}

TEST_F(Life, BadSwitchesEndTheParse)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {{"", "-q"}, "Unrecognized switch: -q  (-h will show valid options).\n"},
        {{"", "-e", "0", "-wq"}, "Unrecognized switch: -q  (-h will show valid options).\n"},
        {{"", "-e", "0", "--", "-wq"}, nullptr},  // after "--": arguments, not switches
        {{"", "--foo"}, "Unrecognized switch: --foo  (-h will show valid options).\n"},
        {{"", "-e"}, "No code specified for -e.\n"},
        {{"", "-I"}, "No directory specified for -I.\n"},
        {{"", "-M"}, "No space allowed after -M.\n"},
        {{"", "-m=x"}, "Module name required with -m option.\n"},
        {{"", "-mFoo;", "-e", "0"}, "Can't use ';' after -mname.\n"},
        {{"", "-T", "-e", "0"}, nullptr},
    };
    for (const Case& c : cases) {
        int32_t r = parse(c.args);
        if (c.message) {
            EXPECT_EQ(r, 255) << c.message;
            EXPECT_EQ(err(), c.message);
        } else {
            EXPECT_EQ(r, 0) << err();
            EXPECT_EQ(err(), "");
        }
        rexhost_report_errors(&host->main_task()->handle, gcb, "TEST");
    }
}

TEST_F(Life, HelpAndVersionEndAtTheBridge)
{
    EXPECT_EQ(parse({"rex", "-h"}), -1);
    EXPECT_EQ(out().find("\nUsage: rex [switches] [--] [programfile] [arguments]\n  -0[octal]       specify record "
                         "separator (\\0, if no argument)\n  -a "),
              0u)
        << out();
    EXPECT_NE(out().find("\n  -x[directory]   strip off text before #!perl line and perhaps cd to directory\n  \n"),
              std::string::npos);
    rexhost_report_notes(&host->main_task()->handle, gcb, "TEST");
    EXPECT_EQ(parse({"", "--version"}), -1);
    EXPECT_EQ(out().substr(0, 35), "\nThis is perl, v5.6.1 built for TOV");
}

TEST_F(Life, RecordSeparatorSwitches)
{
    ASSERT_EQ(parse({"", "-00", "-e", "0"}), 0) << err();
    EXPECT_EQ(sv_cur(gcb->rs), 0u);  // paragraph mode
    EXPECT_TRUE(gcb->rs->flags & SVf_POK);
    ASSERT_EQ(parse({"", "-0777", "-e", "0"}), 0) << err();
    EXPECT_EQ(gcb->rs, &gcb->sv_undef);  // no separator
    ASSERT_EQ(parse({"", "-0101", "-e", "0"}), 0) << err();
    EXPECT_EQ(std::string(sv_pv(gcb->rs), sv_cur(gcb->rs)), "A");
    ASSERT_EQ(parse({"", "-l012", "-e", "0"}), 0) << err();
    EXPECT_EQ(std::string(gcb->output_record_sep, gcb->output_record_sep_len), "\n");
}

TEST_F(Life, IncludePathAndModuleSwitches)
{
    ASSERT_EQ(parse({"", "-Ilib", "-I", "more", "-MFoo=a,b", "-mBar", "-M-Baz", "-e", "0"}), 0) << err();
    EXPECT_EQ(strings(gv_gp(gcb->inc_glob)->gp_av),
              (std::vector<std::string>{"lib", "more", "5.6.1", "5.6.1", "."}));
    EXPECT_EQ(strings(gcb->preamble),
              (std::vector<std::string>{"use Foo split(/,/,q{a,b})", "use Bar ()", "no Baz"}));
    // Each -I directory's candidate subdirectories go to the stat
    // substitute, which reports it is unsupported.
    size_t stats = 0;
    for (const auto& m : host->messages)
        stats += m.number == 304 && !m.args.empty() && m.args[0] == "STAT";
    EXPECT_EQ(stats, 6u);
}

TEST_F(Life, WarningSwitches)
{
    ASSERT_EQ(parse({"", "-w", "-e", "0"}), 0) << err();
    EXPECT_EQ(gcb->warn_switch & 1u, 1u);
    ASSERT_EQ(parse({"", "-X", "-w", "-e", "0"}), 0) << err();
    EXPECT_EQ(gcb->warn_switch, 4u);
    EXPECT_EQ(interp_compile_cop(gcb)->cop_warnings, reinterpret_cast<SV*>(WARNINGS_NONE));
}

// Two -e switches concatenate their texts, each followed by a newline: the
// program is both lines.
TEST_F(Life, TwoProgramSwitchesMakeOneProgram)
{
    ASSERT_EQ(parse({"", "-e", "$main::a = 1;", "-e", "$main::b = 2;"}), 0) << err();
    ASSERT_EQ(bridge_head_run(gcb, [&] { interp_run(gcb); }), 0);
    EXPECT_EQ(scalar_text(gcb, "main::a"), "1");
    EXPECT_EQ(scalar_text(gcb, "main::b"), "2");
}

// A compile error ends the parse with its message and the abort line.
TEST_F(Life, CompileErrorsAbortTheParse)
{
    EXPECT_EQ(parse({"", "-e", "1 +;"}), 255);
    EXPECT_NE(err().find("Execution of -e aborted due to compilation errors.\n"), std::string::npos) << err();
    rexhost_report_errors(&host->main_task()->handle, gcb, "TEST");
    EXPECT_EQ(parse({"", "-c", "-e", "1 +;"}), 255);
    EXPECT_NE(err().find("-e had compilation errors.\n"), std::string::npos) << err();
}

// With -c, the run writes the syntax line and runs nothing.
TEST_F(Life, CheckOnlyRun)
{
    ASSERT_EQ(parse({"", "-c", "-e", "$main::ran = 1"}), 0) << err();
    int32_t status = -1;
    ASSERT_EQ(bridge_head_run(gcb, [&] { status = interp_run(gcb); }), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(err(), "-e syntax OK\n");
    EXPECT_EQ(scalar_text(gcb, "main::ran"), "<undef>");
}

}  // namespace
