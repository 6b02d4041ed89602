// Method resolution: depth-first through @ISA, then UNIVERSAL, the cache
// of hits and misses checked against the generation, aliases and stubs,
// SUPER, qualified method names, missing import, and AUTOLOAD.
#include <string>
#include <vector>

#include "core/run_fixture.h"

namespace {

using prxtest::Stacks;

OP* dummy_root(PERLGCB*) { return nullptr; }

class Method : public Stacks {
protected:
    // Defines pkg::name as a sub with a body (or a declaration without one).
    CV* define(const std::string& full, bool body = true)
    {
        GV* gv = gv_fetch_by_name(gcb, full.c_str(), GV_ADD, SVt_PVCV);
        CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
        sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
        auto* b = static_cast<PVCV*>(cv->any);
        if (body)
            b->xsub = reinterpret_cast<void*>(&dummy_root);
        b->gv = gv;
        sv_refinc(as_sv(cv));  // code values are not freed by these tests
        GP* gp = gv_gp(gv);
        gp->gp_cv = cv;
        gp->gp_cvgen = 0;
        gcb->method_cache_generation++;
        return cv;
    }
    // Sets @pkg::ISA; the set magic is the dispatcher's, so the store goes
    // around it and the generation is moved by hand.
    void isa(const std::string& pkg, std::vector<std::string> parents)
    {
        GV* gv = gv_fetch_by_name(gcb, (pkg + "::ISA").c_str(), GV_ADD, SVt_PVAV);
        AV* av = gv_gp(gv)->gp_av;
        uint32_t magic = av->flags & SVs_MAGICAL;
        av->flags &= ~SVs_MAGICAL;
        av_remove_all(gcb, av);
        for (const std::string& p : parents)
            av_store_element(gcb, av, av_body(av)->fill + 1, pv(p.c_str()));
        av->flags |= magic;
        gcb->method_cache_generation++;
    }
    GV* find(const std::string& pkg, const std::string& name)
    {
        GV* gv = nullptr;
        EXPECT_EQ(run([&] { gv = gv_method_search(gcb, stash(pkg.c_str()), name.data(),
                                                  static_cast<uint32_t>(name.size()), 0); }),
                  0)
            << err_text();
        return gv;
    }
    CV* found_cv(GV* gv) { return gv ? gv_gp(gv)->gp_cv : nullptr; }
    GP* top(const std::string& pkg, const std::string& name)
    {
        SV** svp = hv_fetch_str(gcb, stash(pkg.c_str()), name.data(), static_cast<int32_t>(name.size()), 0);
        return svp && sv_is_glob(*svp) ? gv_gp(sv_as<GV>(*svp)) : nullptr;
    }
};

TEST_F(Method, DepthFirstThroughIsaThenUniversal)
{
    // D inherits from B and C; B from A. A and C both define m: A is found first.
    CV* am = define("A::m");
    define("A::where");
    define("C::m");
    CV* cn = define("C::n");
    CV* un = define("UNIVERSAL::u");
    isa("B", {"A"});
    isa("D", {"B", "C"});
    EXPECT_EQ(found_cv(find("D", "m")), am);
    EXPECT_EQ(found_cv(find("D", "n")), cn);
    EXPECT_EQ(found_cv(find("D", "u")), un);
    EXPECT_EQ(find("D", "none"), nullptr);
    // A search that walks returns the glob of the package that defines the
    // method; a cache hit returns the cache entry in the package searched.
    EXPECT_STREQ(hv_body(gv_body(find("D", "where"))->gvstash)->name, "A");
    EXPECT_STREQ(hv_body(gv_body(find("D", "where"))->gvstash)->name, "D");
}

TEST_F(Method, HitsAndMissesAreCachedUntilTheGenerationMoves)
{
    CV* am = define("A::m");
    isa("D", {"A"});
    ASSERT_EQ(found_cv(find("D", "m")), am);
    GP* cached = top("D", "m");
    ASSERT_NE(cached, nullptr);
    EXPECT_EQ(cached->gp_cv, am);
    EXPECT_EQ(cached->gp_cvgen, gcb->method_cache_generation);
    // A hit from the cache does not walk @ISA: an @ISA changed behind the
    // generation's back is not seen.
    AV* dav = gv_gp(gv_fetch_by_name(gcb, "D::ISA", 0, SVt_PVAV))->gp_av;
    av_body(dav)->fill = -1;
    EXPECT_EQ(found_cv(find("D", "m")), am);
    // Once the generation moves, the stale entry is dropped and @ISA walked.
    gcb->method_cache_generation++;
    EXPECT_EQ(find("D", "m"), nullptr);
    EXPECT_EQ(cached->gp_cv, nullptr);
    // The miss is recorded, and answered without a walk.
    EXPECT_EQ(cached->gp_cvgen, gcb->method_cache_generation);
    av_body(dav)->fill = 0;
    EXPECT_EQ(find("D", "m"), nullptr);
    gcb->method_cache_generation++;
    EXPECT_EQ(found_cv(find("D", "m")), am);
}

TEST_F(Method, AliasesAndStubsAreNotCached)
{
    define("A::m");
    define("A::stub", false);
    isa("D", {"A"});
    // D::m is an alias of another glob's body (REFCNT 2): never a cache entry.
    GV* dm = gv_fetch_by_name(gcb, "D::m", GV_ADD, SVt_PV);
    GV* other = gv_fetch_by_name(gcb, "other", GV_ADD, SVt_PV);
    gp_release(gcb, other);
    gv_gp(other) = gp_retain(gcb, gv_gp(dm));
    ASSERT_NE(find("D", "m"), nullptr);
    EXPECT_EQ(gv_gp(dm)->gp_cv, nullptr);
    EXPECT_EQ(gv_gp(dm)->gp_cvgen, 0u);
    // A declaration found through inheritance is returned but not cached.
    GV* stub = find("D", "stub");
    ASSERT_NE(stub, nullptr);
    EXPECT_EQ(top("D", "stub")->gp_cv, nullptr);
}

TEST_F(Method, MissingParentsWarnAndTheSearchGoesOn)
{
    CV* cm = define("C::m");
    isa("D", {"Nowhere", "C"});
    warnings_all();
    EXPECT_EQ(found_cv(find("D", "m")), cm);
    EXPECT_EQ(err_text(), "Can't locate package Nowhere for @D::ISA.\n");
}

TEST_F(Method, RecursiveInheritanceStops)
{
    isa("X", {"Y"});
    isa("Y", {"X"});
    EXPECT_EQ(run([&] { gv_method_search(gcb, stash("X"), "m", 1, 0); }), 2);
    EXPECT_EQ(err_text(), "Recursive inheritance detected while looking for method 'm' in package 'Y'.\n");  // level 101 is Y's
}

TEST_F(Method, SuperSearchesTheParentsOfTheRunningPackage)
{
    CV* pm = define("P::m");
    define("Q::m");
    define("O::m");
    isa("Q", {"P"});
    isa("Obj", {"O"});
    running_in("Q");
    GV* gv = nullptr;
    ASSERT_EQ(run([&] { gv = gv_find_method_autoload_flag(gcb, stash("Obj"), "SUPER::m", 0); }), 0) << err_text();
    EXPECT_EQ(found_cv(gv), pm);
    // Q::SUPER shares Q's @ISA array: later changes show through.
    AV* qisa = gv_gp(gv_fetch_by_name(gcb, "Q::ISA", 0, SVt_PVAV))->gp_av;
    EXPECT_EQ(gv_gp(gv_fetch_by_name(gcb, "Q::SUPER::ISA", 0, SVt_PVAV))->gp_av, qisa);
}

TEST_F(Method, QualifiedNamesAndImport)
{
    CV* pm = define("P::m");
    GV* gv = nullptr;
    ASSERT_EQ(run([&] { gv = gv_find_method_autoload_flag(gcb, stash("Other"), "P::m", 0); }), 0);
    EXPECT_EQ(found_cv(gv), pm);
    ASSERT_EQ(run([&] { gv = gv_find_method_autoload_flag(gcb, stash("Other"), "P'm", 0); }), 0);
    EXPECT_EQ(found_cv(gv), pm);
    // A missing import or unimport is done already.
    EXPECT_EQ(gv_find_method_autoload_flag(gcb, stash("Other"), "import", 0), sv_as<GV>(&gcb->sv_yes));
    EXPECT_EQ(gv_find_method_autoload_flag(gcb, stash("Other"), "unimport", 1), sv_as<GV>(&gcb->sv_yes));
    EXPECT_EQ(gv_find_method_autoload_flag(gcb, stash("Other"), "missing", 0), nullptr);
    EXPECT_EQ(gv_method_search(gcb, nullptr, "m", 1, 0), nullptr);
}

TEST_F(Method, StoresIntoIsaMoveTheGenerationOncePerStore)
{
    GV* gv = gv_fetch_by_name(gcb, "W::ISA", GV_ADD, SVt_PVAV);
    AV* av = gv_gp(gv)->gp_av;
    ASSERT_NE(mg_find_by_type(gcb, as_sv(av), 'I'), nullptr);
    uint32_t gen = gcb->method_cache_generation;
    ASSERT_EQ(run([&] { av_append(gcb, av, pv("Base")); }), 0) << err_text();
    EXPECT_EQ(gcb->method_cache_generation, gen + 1);
    // The element carries isa-item magic: a store into it counts too.
    SV* elem = *av_fetch_element(gcb, av, 0, 0);
    ASSERT_NE(mg_find_by_type(gcb, elem, 'i'), nullptr);
    sv_set_cstring(gcb, elem, "Other");
    ASSERT_EQ(run([&] { mg_call_set(gcb, elem); }), 0) << err_text();
    EXPECT_EQ(gcb->method_cache_generation, gen + 2);
    ASSERT_EQ(run([&] { av_remove_all(gcb, av); }), 0) << err_text();
    EXPECT_EQ(gcb->method_cache_generation, gen + 3);
}

TEST_F(Method, AutoloadStandsInForMissingSubs)
{
    static OP root{};
    CV* autoload = define("A::AUTOLOAD");
    static_cast<PVCV*>(autoload->any)->root = &root;
    isa("D", {"A"});
    GV* gv = nullptr;
    ASSERT_EQ(run([&] { gv = gv_find_method(gcb, stash("D"), "missing"); }), 0) << err_text();
    EXPECT_EQ(found_cv(gv), autoload);
    // $AUTOLOAD of the package holding the AUTOLOAD sub names the sub asked for.
    GV* var = gv_fetch_by_name(gcb, "A::AUTOLOAD", 0, SVt_PV);
    EXPECT_EQ(str(gv_gp(var)->gp_sv), "D::missing");
    // Without the autoload flag nothing stands in; AUTOLOAD itself is never served.
    EXPECT_EQ(gv_find_method_autoload_flag(gcb, stash("D"), "missing2", 0), nullptr);
    EXPECT_EQ(gv_find_autoload(gcb, stash("D"), "AUTOLOAD", 8, 0), nullptr);
    // Inherited AUTOLOAD for a non-method call is deprecated.
    warnings_all();
    gcb->err.len = 0;
    ASSERT_EQ(run([&] { gv_find_autoload(gcb, stash("D"), "fn", 2, 0); }), 0);
    EXPECT_EQ(err_text(), "Use of inherited AUTOLOAD for non-method D::fn() is deprecated.\n");
    gcb->err.len = 0;
    ASSERT_EQ(run([&] { gv_find_autoload(gcb, stash("D"), "fn", 2, 1); }), 0);
    EXPECT_EQ(err_text(), "");
}

TEST_F(Method, AStubFoundIsServedByAutoload)
{
    static OP root{};
    CV* autoload = define("A::AUTOLOAD");
    static_cast<PVCV*>(autoload->any)->root = &root;
    define("A::stub", false);
    isa("D", {"A"});
    GV* gv = nullptr;
    ASSERT_EQ(run([&] { gv = gv_find_method(gcb, stash("D"), "stub"); }), 0) << err_text();
    EXPECT_EQ(found_cv(gv), autoload);
    EXPECT_EQ(str(gv_gp(gv_fetch_by_name(gcb, "A::AUTOLOAD", 0, SVt_PV))->gp_sv), "A::stub");
}

}  // namespace
