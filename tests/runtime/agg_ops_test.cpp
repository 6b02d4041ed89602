// The array and hash built-ins run directly: slices, each, delete, exists,
// list slices, the anonymous constructors, splice, push, pop, shift,
// unshift, reverse and the hash element.
#include "runtime/agg_ops_fixture.h"

#include "ds/src/prxscope.h"

namespace {

using runtime::Ops;

class Agg : public Ops {
protected:
    AV* array(std::initializer_list<const char*> items)
    {
        AV* av = av_new_empty(gcb);
        for (const char* s : items)
            av_append(gcb, av, pv(s));
        return av;
    }
    HV* hash(std::initializer_list<std::pair<const char*, const char*>> pairs)
    {
        HV* hv = hv_new_empty(gcb);
        for (auto& p : pairs)
            hv_store_str(gcb, hv, p.first, static_cast<int32_t>(std::strlen(p.first)), pv(p.second), 0);
        return hv;
    }
};

TEST_F(Agg, ArraySlices)
{
    AV* av = array({"a", "b", "c"});
    EXPECT_EQ(texts(call(op(OP_ASLICE, OPf_WANT_LIST), {iv(0), iv(2), iv(5), iv(-1), as_sv(av)}, true)),
              "a,c,undef,c");
    EXPECT_EQ(texts(call(op(OP_ASLICE, OPf_WANT_SCALAR), {iv(0), iv(1), as_sv(av)}, true)), "b");
    // An lvalue slice creates its elements.
    std::vector<SV*> r = call(op(OP_ASLICE, OPf_WANT_LIST | OPf_MOD), {iv(4), as_sv(av)}, true);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], av_body(av)->array[4]);
    EXPECT_EQ(av_body(av)->fill, 4);
    // local @a[...]: the old values come back at the scope's end.
    scope_enter(gcb);
    r = call(op(OP_ASLICE, OPf_WANT_LIST | OPf_MOD, OPpLVAL_INTRO), {iv(0), iv(9), as_sv(av)}, true);
    ASSERT_EQ(r.size(), 2u);
    sv_set_cstring(gcb, r[0], "changed");
    EXPECT_EQ(str(av_body(av)->array[0]), "changed");
    scope_leave(gcb);
    EXPECT_EQ(str(av_body(av)->array[0]), "a");
    // Not an array: the indexes stay.
    EXPECT_EQ(texts(call(op(OP_ASLICE, OPf_WANT_LIST), {iv(7), pv("x")}, true)), "7");
}

TEST_F(Agg, HashSlices)
{
    HV* hv = hash({{"a", "1"}, {"b", "2"}});
    EXPECT_EQ(texts(call(op(OP_HSLICE, OPf_WANT_LIST), {pv("b"), pv("zz"), pv("a"), as_sv(hv)}, true)), "2,undef,1");
    EXPECT_EQ(texts(call(op(OP_HSLICE, OPf_WANT_SCALAR), {pv("a"), pv("b"), as_sv(hv)}, true)), "2");
    std::vector<SV*> r = call(op(OP_HSLICE, OPf_WANT_LIST | OPf_MOD), {pv("new"), as_sv(hv)}, true);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(hv_fetch_str(gcb, hv, "new", 3, 0));
    scope_enter(gcb);
    r = call(op(OP_HSLICE, OPf_WANT_LIST | OPf_MOD, OPpLVAL_INTRO), {pv("a"), as_sv(hv)}, true);
    sv_set_cstring(gcb, r[0], "local");
    EXPECT_EQ(str(*hv_fetch_str(gcb, hv, "a", 1, 0)), "local");
    scope_leave(gcb);
    EXPECT_EQ(str(*hv_fetch_str(gcb, hv, "a", 1, 0)), "1");
}

TEST_F(Agg, EachUntilExhausted)
{
    HV* hv = hash({{"k", "v"}});
    EXPECT_EQ(texts(call(op(OP_EACH, OPf_WANT_LIST), {as_sv(hv)})), "k,v");
    EXPECT_TRUE(call(op(OP_EACH, OPf_WANT_LIST), {as_sv(hv)}).empty());
    EXPECT_EQ(texts(call(op(OP_EACH, OPf_WANT_SCALAR), {as_sv(hv)})), "k");
    EXPECT_EQ(call1(op(OP_EACH, OPf_WANT_SCALAR), {as_sv(hv)}), &gcb->sv_undef);
}

TEST_F(Agg, Delete)
{
    HV* hv = hash({{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}});
    EXPECT_EQ(texts(call(op(OP_DELETE, OPf_WANT_SCALAR), {as_sv(hv), pv("a")})), "1");
    EXPECT_EQ(call1(op(OP_DELETE, OPf_WANT_SCALAR), {as_sv(hv), pv("a")}), &gcb->sv_undef);
    // Void context: nothing is returned.
    EXPECT_TRUE(call(op(OP_DELETE, OPf_WANT_VOID), {as_sv(hv), pv("b")}).empty());
    EXPECT_FALSE(hv_exists_str(gcb, hv, "b", 1));
    // Slices.
    EXPECT_EQ(texts(call(op(OP_DELETE, OPf_WANT_LIST, 0x40), {pv("c"), pv("zz"), as_sv(hv)}, true)), "3,undef");
    hv_store_str(gcb, hv, "e", 1, pv("5"), 0);
    EXPECT_EQ(texts(call(op(OP_DELETE, OPf_WANT_SCALAR, 0x40), {pv("d"), pv("e"), as_sv(hv)}, true)), "5");
    EXPECT_EQ(hv_body(hv)->keys, 0);
    // An array element.
    AV* av = array({"x", "y"});
    EXPECT_EQ(texts(call(op(OP_DELETE, OPf_WANT_SCALAR | OPf_SPECIAL), {as_sv(av), iv(1)})), "y");
    gcb->err.len = 0;
    call(op(OP_DELETE, OPf_WANT_SCALAR), {pv("not a hash"), pv("k")});
    EXPECT_TRUE(died_with("Not a HASH reference")) << err_text();
}

TEST_F(Agg, Exists)
{
    HV* hv = hash({{"a", "1"}});
    OP* o = op(OP_EXISTS);
    EXPECT_EQ(call1(o, {as_sv(hv), pv("a")}), &gcb->sv_yes);
    EXPECT_EQ(call1(o, {as_sv(hv), pv("b")}), &gcb->sv_no);
    AV* av = array({"x"});
    av_store_element(gcb, av, 3, pv("w"));
    OP* elem = op(OP_EXISTS, OPf_WANT_SCALAR | OPf_SPECIAL);
    EXPECT_EQ(call1(elem, {as_sv(av), iv(3)}), &gcb->sv_yes);
    EXPECT_EQ(call1(elem, {as_sv(av), iv(2)}), &gcb->sv_no);
    // A sub.
    SV* cv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, cv, SVt_PVCV);
    gv_gp(gv_fetch_by_name(gcb, "main::here", GV_ADD, SVt_PVCV))->gp_cv = sv_as<CV>(cv);
    OP* sub = op(OP_EXISTS, OPf_WANT_SCALAR, 0x40);
    EXPECT_EQ(call1(sub, {pv("here")}), &gcb->sv_yes);
    EXPECT_EQ(call1(sub, {pv("elsewhere")}), &gcb->sv_no);
}

TEST_F(Agg, ListAndListSlices)
{
    EXPECT_EQ(texts(call(op(OP_LIST, OPf_WANT_SCALAR), {iv(1), iv(2)}, true)), "2");
    EXPECT_EQ(call1(op(OP_LIST, OPf_WANT_SCALAR), {}, true), &gcb->sv_undef);
    EXPECT_EQ(texts(call(op(OP_LIST, OPf_WANT_LIST), {iv(1), iv(2)}, true)), "1,2");

    auto list = [&] { return std::vector<SV*>{pv("a"), pv("b"), pv("c")}; };
    OP* sl = op(OP_LSLICE, OPf_WANT_LIST);
    EXPECT_EQ(texts(call_two_lists(sl, {iv(1)}, list())), "b");
    EXPECT_EQ(texts(call_two_lists(sl, {iv(-1), iv(0)}, list())), "c,a");
    EXPECT_EQ(texts(call_two_lists(sl, {iv(0), iv(7)}, list())), "a,undef");
    // Every subscript out of range: an empty list, not undefs.
    EXPECT_TRUE(call_two_lists(sl, {iv(5), iv(-9)}, list()).empty());
    EXPECT_TRUE(call_two_lists(sl, {iv(0)}, {}).empty());
    // Under MOD the subscripts stay as the result.
    EXPECT_EQ(texts(call_two_lists(op(OP_LSLICE, OPf_WANT_LIST | OPf_MOD), {iv(5)}, list())), "undef");
    OP* scalar = op(OP_LSLICE, OPf_WANT_SCALAR);
    EXPECT_EQ(texts(call_two_lists(scalar, {iv(0), iv(2)}, list())), "c");
    EXPECT_EQ(texts(call_two_lists(scalar, {iv(9)}, list())), "undef");
}

TEST_F(Agg, AnonymousConstructors)
{
    SV* item = pv("x");
    SV* r = call1(op(OP_ANONLIST), {item, iv(2)}, true);
    ASSERT_EQ(sv_type(r), SVt_PVAV);
    EXPECT_EQ(elements(sv_as<AV>(r)), "x,2");
    EXPECT_NE(av_body(sv_as<AV>(r))->array[0], item);
    warnings_all();
    r = call1(op(OP_ANONHASH), {pv("a"), iv(1), pv("b")}, true);
    ASSERT_EQ(sv_type(r), SVt_PVHV);
    EXPECT_EQ(str(*hv_fetch_str(gcb, sv_as<HV>(r), "a", 1, 0)), "1");
    SV** b = hv_fetch_str(gcb, sv_as<HV>(r), "b", 1, 0);
    ASSERT_TRUE(b);
    EXPECT_FALSE(sv_ok(*b));
    EXPECT_EQ(err_text(), "Odd number of elements in hash assignment.\n");
}

TEST_F(Agg, Splice)
{
    struct Case {
        std::vector<int64_t> args;      // offset, length (as given)
        std::vector<const char*> repl;  // replacement list
        const char* removed;
        const char* left;
    };
    const Case cases[] = {
        {{1, 2}, {}, "2,3", "1,4,5"},
        {{1, 2}, {"x", "y", "z"}, "2,3", "1,x,y,z,4,5"},
        {{3, 1}, {}, "4", "1,2,3,5"},
        {{1, 1}, {}, "2", "1,3,4,5"},
        {{3, 2}, {"q"}, "4,5", "1,2,3,q"},
        {{0, 1}, {"p", "q"}, "1", "p,q,2,3,4,5"},
        {{0, 0}, {"p"}, "", "p,1,2,3,4,5"},
        {{10, 0}, {"n"}, "", "1,2,3,4,5,n"},
        {{-2}, {}, "4,5", "1,2,3"},
        {{1, -1}, {}, "2,3,4", "1,5"},
        {{1, -9}, {}, "", "1,2,3,4,5"},
        {{}, {}, "1,2,3,4,5", ""},
        {{2}, {}, "3,4,5", "1,2"},
    };
    for (const Case& c : cases) {
        AV* av = array({"1", "2", "3", "4", "5"});
        std::vector<SV*> items{as_sv(av)};
        for (int64_t a : c.args)
            items.push_back(iv(a));
        for (const char* s : c.repl)
            items.push_back(pv(s));
        gcb->arg_sp = gcb->arg_base;
        gcb->mark_sp = gcb->mark_stack;
        push_mark(gcb, gcb->arg_sp);
        for (SV* sv : items)
            *++gcb->arg_sp = sv;
        OP* o = op(OP_SPLICE, OPf_WANT_LIST);
        gcb->op = o;
        code = run([&] { o->op_ppaddr(gcb); });
        EXPECT_EQ(texts(results_from(0)), c.removed) << c.left;
        EXPECT_EQ(elements(av), c.left);
    }
}

TEST_F(Agg, SpliceInScalarContext)
{
    AV* av = array({"1", "2", "3", "4"});
    EXPECT_EQ(texts(call(op(OP_SPLICE, OPf_WANT_SCALAR), {as_sv(av), iv(1), iv(2)}, true)), "3");
    EXPECT_EQ(elements(av), "1,4");
    EXPECT_EQ(texts(call(op(OP_SPLICE, OPf_WANT_SCALAR), {as_sv(av), iv(1), iv(0), pv("x")}, true)), "undef");
    EXPECT_EQ(texts(call(op(OP_SPLICE, OPf_WANT_SCALAR), {as_sv(av), iv(0), iv(2), pv("a"), pv("b")}, true)),
              "x");
    EXPECT_EQ(elements(av), "a,b,4");
    gcb->err.len = 0;
    call(op(OP_SPLICE, OPf_WANT_SCALAR), {as_sv(av), iv(-7)}, true);
    EXPECT_TRUE(died_with("Modification of non-creatable array value attempted, subscript -7")) << err_text();
}

TEST_F(Agg, PushPopShiftUnshift)
{
    AV* av = array({"b"});
    OP* push = op(OP_PUSH);
    SV* item = pv("c");
    SV* r = call1(push, {as_sv(av), item, pv("d")}, true);
    EXPECT_EQ(r, targ(push));
    EXPECT_EQ(str(r), "3");
    EXPECT_NE(av_body(av)->array[1], item);
    EXPECT_EQ(str(call1(op(OP_UNSHIFT), {as_sv(av), pv("y"), pv("z")}, true)), "5");
    EXPECT_EQ(elements(av), "y,z,b,c,d");
    EXPECT_EQ(str(call1(op(OP_POP), {as_sv(av)})), "d");
    EXPECT_EQ(str(call1(op(OP_SHIFT), {as_sv(av)})), "y");
    EXPECT_EQ(elements(av), "z,b,c");
    AV* empty = av_new_empty(gcb);
    EXPECT_EQ(call1(op(OP_POP), {as_sv(empty)}), &gcb->sv_undef);
    EXPECT_EQ(call1(op(OP_SHIFT), {as_sv(empty)}), &gcb->sv_undef);
}

namespace tied {
// What the tie methods were given: the method name and the texts of the
// arguments after the object.
std::vector<std::string> calls;
void record(PERLGCB* gcb, const char* method, int32_t results, SV* result)
{
    xs_frame f = xs_begin(gcb);
    std::string line = method;
    for (int32_t i = 1; i < f.items; i++) {
        uint64_t len = 0;
        const char* p = sv_text(gcb, xs_arg(gcb, f, i), &len);
        line += " " + std::string(p, len);
    }
    calls.push_back(line);
    if (results)
        xs_arg(gcb, f, 0) = result;
    xs_return(gcb, f, results);
}
void push_method(PERLGCB* gcb, CV*) { record(gcb, "PUSH", 0, nullptr); }
void unshift_method(PERLGCB* gcb, CV*) { record(gcb, "UNSHIFT", 0, nullptr); }
void splice_method(PERLGCB* gcb, CV*) { record(gcb, "SPLICE", 1, sv_make_temporary(gcb, sv_new_from_cstring(gcb, "cut", 0))); }
void fetchsize_method(PERLGCB* gcb, CV*) { record(gcb, "FETCHSIZE", 1, sv_make_temporary(gcb, sv_new_from_int(gcb, 7))); }
}  // namespace tied

TEST_F(Agg, TiedArraysCallTheirMethods)
{
    tied::calls.clear();
    sub_define_xs(gcb, "TiedArr::PUSH", tied::push_method, "test");
    sub_define_xs(gcb, "TiedArr::UNSHIFT", tied::unshift_method, "test");
    sub_define_xs(gcb, "TiedArr::SPLICE", tied::splice_method, "test");
    sub_define_xs(gcb, "TiedArr::FETCHSIZE", tied::fetchsize_method, "test");
    AV* av = av_new_empty(gcb);
    SV* obj = tie_object_in("TiedArr");
    sv_add_magic(gcb, as_sv(av), obj, 'P', nullptr, 0);
    OP* push = op(OP_PUSH);
    std::vector<SV*> first = call(push, {as_sv(av), pv("x"), iv(2)}, true);
    ASSERT_EQ(code, 0) << err_text();
    ASSERT_EQ(first.size(), 1u);
    SV* r = first[0];
    EXPECT_EQ(r, targ(push));
    EXPECT_EQ(str(r), "7");
    EXPECT_EQ(str(call1(op(OP_UNSHIFT), {as_sv(av), pv("y")}, true)), "7");
    std::vector<SV*> cut = call(op(OP_SPLICE, OPf_WANT_SCALAR), {as_sv(av), iv(1), iv(2), pv("z")}, true);
    EXPECT_EQ(texts(cut), "cut");
    ASSERT_EQ(tied::calls.size(), 5u);
    EXPECT_EQ(tied::calls[0], "PUSH x 2");
    EXPECT_EQ(tied::calls[1], "FETCHSIZE");
    EXPECT_EQ(tied::calls[2], "UNSHIFT y");
    EXPECT_EQ(tied::calls[4], "SPLICE 1 2 z");
}

TEST_F(Agg, Reverse)
{
    EXPECT_EQ(texts(call(op(OP_REVERSE, OPf_WANT_LIST), {iv(1), iv(2), iv(3)}, true)), "3,2,1");
    OP* o = op(OP_REVERSE, OPf_WANT_SCALAR);
    SV* r = call1(o, {pv("ab"), pv("cd")}, true);
    EXPECT_EQ(r, targ(o));
    EXPECT_EQ(str(r), "dcba");
    // Characters, not bytes.
    r = call1(o, {utf8("a\xC3\xA9\xE2\x82\xAC")}, true);
    EXPECT_EQ(str(r), "\xE2\x82\xAC\xC3\xA9" "a");
    EXPECT_TRUE(r->flags & SVf_UTF8);
    // No items: $_.
    sv_set_cstring(gcb, pp_default_var(gcb), "xyz");
    EXPECT_EQ(str(call1(o, {}, true)), "zyx");
    r = call1(o, {iv(12)}, true);
    EXPECT_EQ(str(r), "21");
    EXPECT_FALSE(r->flags & SVf_IOK);
}

TEST_F(Agg, HashElement)
{
    HV* hv = hash({{"a", "1"}});
    EXPECT_EQ(str(call1(op(OP_HELEM), {as_sv(hv), pv("a")})), "1");
    EXPECT_EQ(call1(op(OP_HELEM), {as_sv(hv), pv("b")}), &gcb->sv_undef);
    EXPECT_FALSE(hv_exists_str(gcb, hv, "b", 1));
    EXPECT_EQ(call1(op(OP_HELEM), {pv("x"), pv("b")}), &gcb->sv_undef);
    // An lvalue fetch creates the element.
    SV* e = call1(op(OP_HELEM, OPf_WANT_SCALAR | OPf_MOD), {as_sv(hv), pv("b")});
    EXPECT_EQ(*hv_fetch_str(gcb, hv, "b", 1, 0), e);
    // A deferred one stands in until it is assigned.
    SV* d = call1(op(OP_HELEM, OPf_WANT_SCALAR | OPf_MOD, OPpLVAL_DEFER), {as_sv(hv), pv("later")});
    ASSERT_EQ(sv_type(d), SVt_PVLV);
    EXPECT_EQ(static_cast<PVLV*>(d->any)->type, 'y');
    EXPECT_EQ(static_cast<PVLV*>(d->any)->targ, as_sv(hv));
    EXPECT_FALSE(hv_exists_str(gcb, hv, "later", 5));
    // local $h{a}.
    scope_enter(gcb);
    SV* l = call1(op(OP_HELEM, OPf_WANT_SCALAR | OPf_MOD, OPpLVAL_INTRO), {as_sv(hv), pv("a")});
    sv_set_cstring(gcb, l, "temp");
    EXPECT_EQ(str(*hv_fetch_str(gcb, hv, "a", 1, 0)), "temp");
    scope_leave(gcb);
    EXPECT_EQ(str(*hv_fetch_str(gcb, hv, "a", 1, 0)), "1");
}

TEST_F(Agg, PerThreadVariables)
{
    gcb->err.len = 0;
    call(op(OP_THREADSV), {});
    EXPECT_TRUE(died_with("tried to access per-thread data in non-threaded perl")) << err_text();
}

}  // namespace
