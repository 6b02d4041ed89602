// The magic dispatcher: get, set and clear methods called in chain order
// with the value's magic flags saved and restored, get methods that skip
// themselves or remove their record, lengths through len methods, and the
// save stack left as it was.
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "ds/src/prxmsg.h"

namespace {

using prxtest::Stacks;

class Dispatch : public Stacks {
public:
    static Dispatch* self;
    std::vector<std::string> calls;
    std::vector<uint32_t> flags_seen;

protected:
    void SetUp() override
    {
        Stacks::SetUp();
        self = this;
    }

public:
    static std::string tag(MAGIC* mg) { return std::string(1, static_cast<char>(mg->priv)); }
    static int32_t get(PERLGCB*, SV* sv, MAGIC* mg)
    {
        self->calls.push_back("get" + tag(mg));
        self->flags_seen.push_back(sv->flags);
        return 0;
    }
    static int32_t set(PERLGCB*, SV* sv, MAGIC* mg)
    {
        self->calls.push_back("set" + tag(mg));
        self->flags_seen.push_back(sv->flags);
        return 0;
    }
    static int32_t clear(PERLGCB*, SV*, MAGIC* mg)
    {
        self->calls.push_back("clear" + tag(mg));
        return 0;
    }
    static uint32_t len(PERLGCB*, SV*, MAGIC* mg)
    {
        self->calls.push_back("len" + tag(mg));
        return 41;
    }
    // Asks to be skipped until the next store.
    static int32_t get_skip(PERLGCB* g, SV* sv, MAGIC* mg)
    {
        get(g, sv, mg);
        mg->mgflags |= MGf_GSKIP;
        return 0;
    }
    // Removes its own record.
    static int32_t get_remove(PERLGCB* g, SV* sv, MAGIC* mg)
    {
        get(g, sv, mg);
        sv_remove_magic(g, sv, mg->type);
        return 0;
    }
    static int32_t get_die(PERLGCB* g, SV* sv, MAGIC* mg)
    {
        get(g, sv, mg);
        fatal_error(g, "died in get");
    }

protected:
    // Attaches a record of the test table to sv; the last attached is first.
    MAGIC* attach(SV* sv, const magic_method_table* table, char name, char letter = '~')
    {
        sv_add_magic(gcb, sv, nullptr, letter, nullptr, 0);
        MAGIC* mg = sv_magic_chain(sv);
        mg->virt = table;
        mg->priv = static_cast<uint16_t>(name);
        sv->flags &= ~SVs_MAGICAL;
        mg_update_flags(gcb, sv);
        return mg;
    }
};
Dispatch* Dispatch::self = nullptr;

constexpr magic_method_table both{.get = Dispatch::get, .set = Dispatch::set, .len = nullptr, .clear = Dispatch::clear, .free = nullptr};
constexpr magic_method_table getonly{.get = Dispatch::get, .set = nullptr, .len = nullptr, .clear = nullptr, .free = nullptr};
constexpr magic_method_table withlen{.get = nullptr, .set = nullptr, .len = Dispatch::len, .clear = nullptr, .free = nullptr};
constexpr magic_method_table skipper{.get = Dispatch::get_skip, .set = Dispatch::set, .len = nullptr, .clear = nullptr, .free = nullptr};
constexpr magic_method_table remover{.get = Dispatch::get_remove, .set = nullptr, .len = nullptr, .clear = nullptr, .free = nullptr};
constexpr magic_method_table dier{.get = Dispatch::get_die, .set = nullptr, .len = nullptr, .clear = nullptr, .free = nullptr};

TEST_F(Dispatch, MethodsRunInChainOrderWithTheFlagsSaved)
{
    SV* sv = pv("value");
    attach(sv, &both, 'a', '~');  // records of letters without tables, given test tables
    attach(sv, &getonly, 'b', 'L');
    attach(sv, &both, 'c', 'c');
    sv->flags |= SVf_READONLY;
    uint32_t before = sv->flags;
    ASSERT_TRUE(before & SVs_GMG);
    ASSERT_TRUE(before & SVs_SMG);
    ASSERT_TRUE(before & SVs_RMG);
    int32_t ix = gcb->savestack_ix;
    ASSERT_EQ(run([&] { mg_call_get(gcb, sv); }), 0) << err_text();
    EXPECT_EQ(calls, (std::vector<std::string>{"getc", "getb", "geta"}));
    // While the methods run the value is plain, writable, with its private
    // OK bits public.
    for (uint32_t f : flags_seen) {
        EXPECT_FALSE(f & (SVs_MAGICAL | SVf_READONLY));
        EXPECT_TRUE(f & SVf_POK);
    }
    EXPECT_EQ(sv->flags & (SVs_MAGICAL | SVf_READONLY), before & (SVs_MAGICAL | SVf_READONLY));
    EXPECT_FALSE(sv->flags & SVf_POK);  // with get magic the next read calls it again
    EXPECT_TRUE(sv->flags & SVp_POK);
    EXPECT_EQ(gcb->savestack_ix, ix);

    calls.clear();
    ASSERT_EQ(run([&] { mg_call_set(gcb, sv); }), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"setc", "seta"}));
    calls.clear();
    ASSERT_EQ(run([&] { mg_call_clear(gcb, sv); }), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"clearc", "cleara"}));
    EXPECT_EQ(gcb->savestack_ix, ix);
}

TEST_F(Dispatch, AGetThatSkipsItselfUntilTheNextStore)
{
    SV* sv = pv("value");
    attach(sv, &skipper, 's');
    ASSERT_TRUE(sv->flags & SVs_GMG);
    ASSERT_EQ(run([&] { mg_call_get(gcb, sv); }), 0);
    EXPECT_FALSE(sv->flags & SVs_GMG);  // recomputed: the skipped get counts no more
    EXPECT_TRUE(sv->flags & SVs_SMG);
    ASSERT_EQ(run([&] { mg_call_get(gcb, sv); }), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"gets"}));
    ASSERT_EQ(run([&] { mg_call_set(gcb, sv); }), 0);
    EXPECT_FALSE(sv_magic_chain(sv)->mgflags & MGf_GSKIP);
    EXPECT_TRUE(sv->flags & SVs_GMG);
}

TEST_F(Dispatch, AGetThatRemovesItsRecordRestartsTheWalk)
{
    SV* sv = pv("value");
    attach(sv, &getonly, 'a', '~');
    attach(sv, &remover, 'r', 'c');
    attach(sv, &getonly, 'b', 'L');
    ASSERT_EQ(run([&] { mg_call_get(gcb, sv); }), 0) << err_text();
    EXPECT_EQ(calls, (std::vector<std::string>{"getb", "getr", "getb", "geta"}));
    EXPECT_EQ(mg_find_by_type(gcb, sv, 'c'), nullptr);
}

TEST_F(Dispatch, AFatalErrorInAMethodStillRestoresTheFlags)
{
    SV* sv = pv("value");
    attach(sv, &dier, 'd');
    sv->flags |= SVf_READONLY;
    uint32_t before = sv->flags & (SVs_MAGICAL | SVf_READONLY);
    JumpEnv env{};
    int32_t ix = gcb->savestack_ix;
    int32_t code = jump_run(gcb, &env, true, [&] {
        scope_enter(gcb);
        mg_call_get(gcb, sv);
    });
    EXPECT_EQ(code, 2);
    leave_scope(gcb, ix);
    EXPECT_EQ(sv->flags & (SVs_MAGICAL | SVf_READONLY), before);
    EXPECT_EQ(gcb->savestack_ix, ix);
}

TEST_F(Dispatch, Lengths)
{
    SV* sv = pv("four");
    attach(sv, &getonly, 'g');
    EXPECT_EQ(mg_value_length(gcb, sv), 4u);  // no len method: the string's length
    attach(sv, &withlen, 'l');
    EXPECT_EQ(mg_value_length(gcb, sv), 41u);
    AV* av = av_new_empty(gcb);
    attach(as_sv(av), &withlen, 'n');
    EXPECT_EQ(mg_element_count(gcb, as_sv(av)), 41);
    EXPECT_EQ(calls, (std::vector<std::string>{"lenl", "lenn"}));
}

}  // namespace
