// Tied aggregates: what the element and aggregate magic and the array code
// ask of the tie object's methods (a double of the method call here), and
// what they do with the results.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/run_fixture.h"
#include "doubles.h"

#include "ds/src/prxav.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"

namespace {

using prxtest::Stacks;

struct Call {
    std::string name;
    int32_t flags;
    std::vector<std::string> args;  // string forms; "<undef>" for undefined values
    std::vector<SV*> values;
    int32_t level_type;
    std::vector<uint32_t> arg_flags;
};

class Tie : public Stacks {
protected:
    std::vector<Call> calls;
    // What the next call returns, by method name; missing: nothing.
    std::map<std::string, std::function<SV*()>> answers;
    SV* object = nullptr;

    void SetUp() override
    {
        Stacks::SetUp();
        doubles::reset();
        object = pv("OBJ");
        doubles::method_call = [this](PERLGCB*, const char* name, int32_t flags) {
            int32_t mark = *gcb->mark_sp--;
            Call c{name, flags, {}, {}, gcb->current_level->si_type, {}};
            for (SV** p = gcb->arg_base + mark + 1; p <= gcb->arg_sp; p++) {
                c.values.push_back(*p);
                c.arg_flags.push_back((*p)->flags);
                c.args.push_back((*p)->flags & SVf_OK_ANY ? str(*p) : "<undef>");
            }
            calls.push_back(c);
            gcb->arg_sp = gcb->arg_base + mark;
            auto it = answers.find(name);
            if (it == answers.end() || (flags & 2))
                return 0;
            *++gcb->arg_sp = sv_make_temporary(gcb, it->second());
            return 1;
        };
    }
    void TearDown() override
    {
        doubles::reset();
        Stacks::TearDown();
    }
    HV* tied_hash()
    {
        HV* hv = hv_new_empty(gcb);
        sv_add_magic(gcb, as_sv(hv), object, 'P', nullptr, 0);
        return hv;
    }
    AV* tied_array()
    {
        AV* av = av_new_empty(gcb);
        sv_add_magic(gcb, as_sv(av), object, 'P', nullptr, 0);
        return av;
    }
    std::string text(SV* sv) { return (sv->flags & SVf_OK_ANY) ? str(sv) : "<undef>"; }
};

TEST_F(Tie, FetchAndStoreOfAHashElement)
{
    HV* hv = tied_hash();
    EXPECT_EQ(hv_store_str(gcb, hv, "k", 1, pv("v"), 0), nullptr);  // no storage of its own
    EXPECT_EQ(hv_body(hv)->array, nullptr);
    SV** svp = hv_fetch_str(gcb, hv, "k", 1, 0);
    ASSERT_EQ(svp, &gcb->tied_fetch_cell);
    SV* elem = *svp;
    answers["FETCH"] = [&] { return pv("fetched"); };
    ASSERT_EQ(run([&] { mg_call_get(gcb, elem); }), 0) << err_text();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, "FETCH");
    EXPECT_EQ(calls[0].flags, 0);
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"OBJ", "k"}));
    EXPECT_EQ(calls[0].level_type, SI_MAGIC);
    EXPECT_EQ(gcb->current_level->si_type, SI_MAIN);
    EXPECT_EQ(text(elem), "fetched");
    // A keyed element is not fetched again until a store.
    ASSERT_EQ(run([&] { mg_call_get(gcb, elem); }), 0);
    EXPECT_EQ(calls.size(), 1u);
    sv_set_cstring(gcb, elem, "stored");
    ASSERT_EQ(run([&] { mg_call_set(gcb, elem); }), 0) << err_text();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].name, "STORE");
    EXPECT_EQ(calls[1].flags, 2);
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"OBJ", "k", "stored"}));
    EXPECT_EQ(calls[1].values[2], elem);
    ASSERT_EQ(run([&] { mg_call_get(gcb, elem); }), 0);
    EXPECT_EQ(calls.size(), 3u);
}

TEST_F(Tie, FetchReturningNothingLeavesTheElement)
{
    HV* hv = tied_hash();
    SV* elem = *hv_fetch_str(gcb, hv, "k", 1, 0);
    sv_set_cstring(gcb, elem, "before");
    elem->flags &= ~(SVf_POK);  // as magic leaves it: the private bit only
    ASSERT_EQ(run([&] { mg_call_get(gcb, elem); }), 0);
    EXPECT_EQ(std::string(sv_pv(elem), sv_cur(elem)), "before");
}

TEST_F(Tie, ExistsDeleteAndClear)
{
    HV* hv = tied_hash();
    answers["EXISTS"] = [&] { return iv(1); };
    EXPECT_TRUE(hv_exists_str(gcb, hv, "k", 1));
    answers["EXISTS"] = [&] { return pv("0"); };
    EXPECT_FALSE(hv_exists_str(gcb, hv, "k", 1));
    EXPECT_EQ(calls.back().args, (std::vector<std::string>{"OBJ", "k"}));

    answers["DELETE"] = [&] { return pv("gone"); };
    SV* got = nullptr;
    ASSERT_EQ(run([&] { got = hv_delete_str(gcb, hv, "k", 1, 0); }), 0) << err_text();
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(text(got), "gone");
    EXPECT_EQ(mg_find_by_type(gcb, got, 'p'), nullptr);  // no longer an element
    EXPECT_EQ(calls.back().name, "DELETE");

    ASSERT_EQ(run([&] { hv_remove_all(gcb, hv); }), 0);
    EXPECT_EQ(calls.back().name, "CLEAR");
    EXPECT_EQ(calls.back().flags, 2);
    EXPECT_EQ(calls.back().args, (std::vector<std::string>{"OBJ"}));
}

TEST_F(Tie, IterationCallsFirstkeyThenNextkey)
{
    HV* hv = tied_hash();
    std::vector<std::string> keys = {"one", "two"};
    size_t next = 0;
    auto key = [&]() -> SV* { return next < keys.size() ? pv(keys[next++].c_str()) : sv_new_undef(gcb, 0); };
    answers["FIRSTKEY"] = key;
    answers["NEXTKEY"] = key;
    std::vector<std::string> seen;
    hv_iter_start(gcb, hv);
    ASSERT_EQ(run([&] {
                  while (hash_entry* he = hv_iter_advance(gcb, hv)) {
                      int32_t len = 0;
                      const char* k = hv_entry_key(gcb, he, &len);
                      seen.push_back(std::string(k, static_cast<size_t>(len)));
                  }
              }),
              0)
        << err_text();
    EXPECT_EQ(seen, keys);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].name, "FIRSTKEY");
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"OBJ"}));
    EXPECT_EQ(calls[1].name, "NEXTKEY");
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"OBJ", "one"}));
    EXPECT_EQ(calls[2].args, (std::vector<std::string>{"OBJ", "two"}));
    EXPECT_EQ(hv_body(hv)->eiter, nullptr);
}

TEST_F(Tie, ArraysCallTheirMethods)
{
    AV* av = tied_array();
    answers["FETCHSIZE"] = [&] { return iv(3); };
    EXPECT_EQ(av_highest_index(gcb, av), 2);
    answers.erase("FETCHSIZE");
    EXPECT_EQ(av_highest_index(gcb, av), 0);  // nothing returned: 0

    answers["FETCHSIZE"] = [&] { return iv(3); };
    SV* elem = *av_fetch_element(gcb, av, 1, 0);
    answers["FETCH"] = [&] { return pv("second"); };
    ASSERT_EQ(run([&] { mg_call_get(gcb, elem); }), 0) << err_text();
    EXPECT_EQ(calls.back().args, (std::vector<std::string>{"OBJ", "1"}));
    EXPECT_TRUE(calls.back().arg_flags[1] & SVf_IOK);  // the index as a temporary integer
    EXPECT_TRUE(calls.back().arg_flags[1] & SVs_TEMP);
    EXPECT_EQ(text(elem), "second");

    calls.clear();
    ASSERT_EQ(run([&] {
                  av_append(gcb, av, pv("pushed"));
                  av_grow_to_index(gcb, av, 9);
                  av_set_highest_index(gcb, av, 4);
                  av_insert_front(gcb, av, 2);
              }),
              0)
        << err_text();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].name, "PUSH");
    EXPECT_EQ(calls[0].args, (std::vector<std::string>{"OBJ", "pushed"}));
    EXPECT_EQ(calls[1].name, "EXTEND");
    EXPECT_EQ(calls[1].args, (std::vector<std::string>{"OBJ", "10"}));
    EXPECT_EQ(calls[2].name, "STORESIZE");
    EXPECT_EQ(calls[2].args, (std::vector<std::string>{"OBJ", "5"}));
    EXPECT_EQ(calls[3].name, "UNSHIFT");
    EXPECT_EQ(calls[3].args, (std::vector<std::string>{"OBJ", "<undef>", "<undef>"}));
    for (const Call& c : calls)
        EXPECT_EQ(c.flags, 2) << c.name;

    answers["POP"] = [&] { return pv("popped"); };
    SV* popped = nullptr;
    ASSERT_EQ(run([&] { popped = av_remove_last(gcb, av); }), 0) << err_text();
    EXPECT_EQ(text(popped), "popped");
    EXPECT_EQ(popped->refcnt, 1u);  // a new copy for the caller
    answers.erase("SHIFT");
    SV* shifted = nullptr;
    ASSERT_EQ(run([&] { shifted = av_remove_first(gcb, av); }), 0);
    EXPECT_EQ(shifted, &gcb->sv_undef);
    // A store keeps nothing in the array.
    EXPECT_EQ(av_store_element(gcb, av, 0, pv("x")), nullptr);
    EXPECT_EQ(av_body(av)->alloc, nullptr);
}

}  // namespace
