// %ENV and %SIG: element stores and deletes passed on to the environment
// substitute, the handler table with the die and warn hooks, and the signal
// entry calling a handler (a double of the sub call here).
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"

namespace {

using prxtest::Stacks;

class SigEnv : public Stacks {
protected:
    HV* sig = nullptr;
    HV* env = nullptr;
    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        sig = gv_gp(gv_fetch_by_name(gcb, "SIG", GV_ADD, SVt_PVHV))->gp_hv;
        GV* env_glob = gv_fetch_by_name(gcb, "ENV", GV_ADD, SVt_PVHV);
        env = gv_gp(env_glob)->gp_hv;
        hv_attach_magic(gcb, env, env_glob, 'E');
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }
    // $SIG{key} = value, through the element's set magic.
    int32_t set_sig(const char* key, SV* value)
    {
        return run([&] {
            SV* elem = *hv_fetch_str(gcb, sig, key, static_cast<int32_t>(std::strlen(key)), 1);
            sv_assign(gcb, elem, value);
            mg_call_set(gcb, elem);
        });
    }
    SV* read_sig(const char* key)
    {
        SV* elem = *hv_fetch_str(gcb, sig, key, static_cast<int32_t>(std::strlen(key)), 1);
        EXPECT_EQ(run([&] { mg_call_get(gcb, elem); }), 0) << err_text();
        return elem;
    }
    std::vector<std::string> reported()
    {
        std::vector<std::string> out;
        for (const hostsim::Message& m : host->messages)
            out.push_back(std::to_string(m.number) + " " + (m.args.empty() ? "" : m.args[0]));
        return out;
    }
};

TEST_F(SigEnv, BareHandlerNamesGoToMain)
{
    struct Case {
        const char* value;
        const char* stored;
    } cases[] = {{"handler", "main::handler"}, {"Pkg::h", "Pkg::h"}, {"Pkg'h", "Pkg'h"}};
    for (const Case& c : cases) {
        ASSERT_EQ(set_sig("INT", pv(c.value)), 0) << err_text();
        EXPECT_EQ(str(gcb->signal_handler_slots[2]), c.stored);
        EXPECT_EQ(str(gcb->signal_name_slots[2]), "INT");
        EXPECT_TRUE(gcb->signal_name_slots[2]->flags & SVf_READONLY);
    }
}

TEST_F(SigEnv, CldAndChldShareASlot)
{
    ASSERT_EQ(set_sig("CLD", pv("h")), 0);
    EXPECT_EQ(str(gcb->signal_handler_slots[20]), "main::h");
    EXPECT_EQ(str(read_sig("CHLD")), "main::h");
    EXPECT_EQ(signal_number_by_name(gcb, "CHLD", 4), 20u);
    EXPECT_EQ(signal_number_by_name(gcb, "CLD  ", 5), 20u);  // trailing blanks do not count
    EXPECT_EQ(signal_number_by_name(gcb, "ZERO", 4), 0u);
}

TEST_F(SigEnv, UnknownSignalsWarnAndHooksAreChecked)
{
    warnings_all();
    ASSERT_EQ(set_sig("ZERO", pv("IGNORE")), 0);
    EXPECT_EQ(err_text(), "No such signal: SIGZERO.\n");
    for (int i = 0; i < 28; i++)
        EXPECT_EQ(gcb->signal_handler_slots[i], nullptr) << i;
    gcb->err.len = 0;
    EXPECT_EQ(set_sig("__NOPE__", pv("x")), 2);
    EXPECT_EQ(err_text(), "No such hook: __NOPE__.\n");
}

TEST_F(SigEnv, HooksTakeCodeAndIgnoreClearsThem)
{
    SV* code = sv_new_reference(gcb, pv("a sub stands here"));
    ASSERT_EQ(set_sig("__DIE__", code), 0) << err_text();
    ASSERT_NE(gcb->die_hook, nullptr);
    ASSERT_EQ(set_sig("__DIE__", pv("IGNORE")), 0);
    EXPECT_EQ(gcb->die_hook, nullptr);
    ASSERT_EQ(set_sig("__WARN__", pv("warner")), 0);
    ASSERT_NE(gcb->warn_hook, nullptr);
    EXPECT_EQ(str(gcb->warn_hook), "main::warner");
    ASSERT_EQ(set_sig("__WARN__", pv("DEFAULT")), 0);
    EXPECT_EQ(gcb->warn_hook, nullptr);
}

TEST_F(SigEnv, ReadingBeforeAnyStoreCachesTheDefault)
{
    SV* v = read_sig("INT");
    EXPECT_FALSE(v->flags & SVf_OK_ANY);
    EXPECT_EQ(gcb->signal_handler_slots[2], v);
    EXPECT_FALSE(v->flags & SVs_TEMP);
}

TEST_F(SigEnv, DeleteForgetsTheHandler)
{
    ASSERT_EQ(set_sig("TERM", pv("h")), 0);
    ASSERT_EQ(run([&] { hv_delete_str(gcb, sig, "TERM", 4, HV_DISCARD); }), 0) << err_text();
    EXPECT_EQ(gcb->signal_handler_slots[15], nullptr);
    EXPECT_EQ(gcb->signal_name_slots[15], nullptr);
}

TEST_F(SigEnv, EnvironmentStoresReportPutenv)
{
    host->messages.clear();
    ASSERT_EQ(run([&] {
                  SV* elem = *hv_fetch_str(gcb, env, "X", 1, 1);
                  sv_set_cstring(gcb, elem, "1");
                  mg_call_set(gcb, elem);
              }),
              0)
        << err_text();
    EXPECT_EQ(reported(), (std::vector<std::string>{"304 PUTENV"}));
    EXPECT_EQ(str(*hv_fetch_str(gcb, env, "X", 1, 0)), "1");  // the element keeps its value
    host->messages.clear();
    ASSERT_EQ(run([&] { hv_delete_str(gcb, env, "X", 1, HV_DISCARD); }), 0) << err_text();
    EXPECT_EQ(reported(), (std::vector<std::string>{"304 PUTENV"}));
    // Clearing %ENV never reaches the environment.
    host->messages.clear();
    ASSERT_EQ(run([&] { hv_remove_all(gcb, env); }), 0);
    EXPECT_TRUE(host->messages.empty());
}

TEST_F(SigEnv, InsecurePathElementsTaint)
{
    gcb->tainting = 1;
    struct Case {
        const char* path;
        bool tainted;
    } cases[] = {{"bin:/usr/bin", true}, {"/usr/bin:rel", true}, {"", false}};
    for (const Case& c : cases) {
        SV* elem = nullptr;
        ASSERT_EQ(run([&] {
                      elem = *hv_fetch_str(gcb, env, "PATH", 4, 1);
                      sv_set_cstring(gcb, elem, c.path);
                      mg_call_set(gcb, elem);
                  }),
                  0)
            << err_text();
        MAGIC* e = mg_find_by_type(gcb, elem, 'e');
        ASSERT_NE(e, nullptr);
        EXPECT_EQ((e->mgflags & MGf_TAINTEDDIR) != 0, c.tainted) << c.path;
    }
    std::string longpath(300, 'x');
    longpath[0] = '/';
    SV* elem = nullptr;
    ASSERT_EQ(run([&] {
                  elem = *hv_fetch_str(gcb, env, "PATH", 4, 1);
                  sv_set_cstring(gcb, elem, longpath.c_str());
                  mg_call_set(gcb, elem);
              }),
              0);
    EXPECT_TRUE(mg_find_by_type(gcb, elem, 'e')->mgflags & MGf_TAINTEDDIR);
}

TEST_F(SigEnv, DeliveryCallsTheHandlerWithTheSignalName)
{
    CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
    static OP root{};
    static_cast<PVCV*>(cv->any)->root = &root;
    sv_refinc(as_sv(cv));
    ASSERT_EQ(set_sig("ALRM", sv_new_reference(gcb, as_sv(cv))), 0) << err_text();
    std::vector<std::string> args;
    int32_t seen_flags = -1, seen_level = -1;
    doubles::value_call = [&](PERLGCB*, CV* called, int32_t flags) {
        EXPECT_EQ(called, cv);
        seen_flags = flags;
        seen_level = gcb->current_level->si_type;
        int32_t mark = *gcb->mark_sp--;
        for (SV** p = gcb->arg_base + mark + 1; p <= gcb->arg_sp; p++)
            args.push_back(str(*p));
        gcb->arg_sp = gcb->arg_base + mark;
        return 0;
    };
    int32_t ix = gcb->savestack_ix;
    ASSERT_EQ(run([&] { signal_deliver(14); }), 0) << err_text();
    EXPECT_EQ(args, (std::vector<std::string>{"ALRM"}));
    EXPECT_EQ(seen_flags, 2);
    EXPECT_EQ(seen_level, SI_SIGNAL);
    EXPECT_EQ(gcb->savestack_ix, ix);
    EXPECT_EQ(gcb->current_level->si_type, SI_MAIN);
}

TEST_F(SigEnv, DeliveryNeedsAHandlerWithABody)
{
    // A native sub has a body and is called; a declared sub without one is
    // reported under the signal category and not called.
    struct Case {
        bool native;
        const char* text;
        int calls;
    } cases[] = {
        {true, "", 1},
        {false, "SIGALRM handler \"stub\" not defined.\n", 0},
    };
    static int native_body;
    for (const Case& c : cases) {
        gcb->err.len = 0;
        GV* gv = gv_fetch_by_name(gcb, "stub", GV_ADD, SVt_PVCV);
        CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
        sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
        PVCV* body = static_cast<PVCV*>(cv->any);
        body->gv = gv;
        body->xsub = c.native ? &native_body : nullptr;
        ASSERT_EQ(set_sig("ALRM", sv_new_reference(gcb, as_sv(cv))), 0) << err_text();
        int calls = 0;
        doubles::value_call = [&](PERLGCB*, CV*, int32_t) {
            calls++;
            gcb->arg_sp = gcb->arg_base + *gcb->mark_sp--;
            return 0;
        };
        warnings_all();
        int32_t ix = gcb->savestack_ix;
        ASSERT_EQ(run([&] { signal_deliver(14); }), 0) << err_text();
        EXPECT_EQ(calls, c.calls) << c.native;
        EXPECT_EQ(err_text(), c.text) << c.native;
        EXPECT_EQ(gcb->savestack_ix, ix);
        EXPECT_EQ(gcb->current_level->si_type, SI_MAIN);
    }
}

TEST_F(SigEnv, DeliveryWithoutAHandlerDies)
{
    EXPECT_EQ(run([&] { signal_deliver(15); }), 2);
    EXPECT_EQ(err_text(), "Signal SIGTERM received, but no signal handler set.\n");
}

}  // namespace
