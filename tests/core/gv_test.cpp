// Globs, glob bodies and stashes: names created on demand, qualified names
// and their separators, the names that always live in main, special names,
// aliasing of glob bodies, generated globs, handles and full names.
#include <string>
#include <vector>

#include "core/agg_fixture.h"

namespace {

using prxtest::Agg;

class Glob : public Agg {
protected:
    void warnings(char setting)
    {
        if (setting == 's')
            warnings_std();
        else if (setting == 'a')
            warnings_all();
        else
            warnings_none();
    }
    GV* fetch(const char* name, int32_t flags = GV_ADD, uint32_t kind = SVt_PV)
    {
        return gv_fetch_by_name(gcb, name, flags, kind);
    }
    std::string stash_name(GV* gv) { return hv_body(gv_body(gv)->gvstash)->name; }
    std::string glob_name(GV* gv) { return std::string(gv_body(gv)->name, gv_body(gv)->namelen); }
    std::string full(GV* gv)
    {
        SV* sv = sv_new_temporary(gcb);
        gv_qualified_name_with_main(gcb, sv, gv, nullptr);
        return str(sv);
    }
};

TEST_F(Glob, GlobsAreCreatedOnDemand)
{
    EXPECT_EQ(fetch("nothing", 0), nullptr);
    GV* gv = fetch("thing");
    ASSERT_NE(gv, nullptr);
    EXPECT_EQ(sv_type(as_sv(gv)), SVt_PVGV);
    EXPECT_EQ(fetch("thing", 0), gv);
    GP* gp = gv_gp(gv);
    ASSERT_NE(gp, nullptr);
    EXPECT_EQ(gp->gp_refcnt, 1u);
    EXPECT_EQ(gp->gp_egv, gv);
    EXPECT_NE(gp->gp_sv, nullptr);
    EXPECT_EQ(gp->gp_cvgen, 0u);
    EXPECT_EQ(gv_body(gv)->gvstash, gcb->main_stash);
    // Every glob carries glob magic whose object is itself.
    MAGIC* mg = mg_find_by_type(gcb, as_sv(gv), '*');
    ASSERT_NE(mg, nullptr);
    EXPECT_EQ(mg->obj, as_sv(gv));
    EXPECT_FALSE(mg->mgflags & MGf_REFCOUNTED);
    // Slots come with the kind asked for.
    EXPECT_EQ(gp->gp_av, nullptr);
    fetch("thing", GV_ADD, SVt_PVAV);
    EXPECT_NE(gp->gp_av, nullptr);
    fetch("thing", GV_ADD, SVt_PVHV);
    EXPECT_NE(gp->gp_hv, nullptr);
    EXPECT_TRUE(gv_body(gv)->gvflags & GVf_MULTI);
}

TEST_F(Glob, QualifiedNamesMakeTheirStashes)
{
    GV* c = fetch("A::B::c");
    ASSERT_NE(c, nullptr);
    HV* a = gv_stash_by_name(gcb, "A", 0);
    HV* ab = gv_stash_by_name(gcb, "A::B", 0);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(ab, nullptr);
    EXPECT_STREQ(hv_body(a)->name, "A");
    EXPECT_STREQ(hv_body(ab)->name, "A::B");
    EXPECT_EQ(gv_body(c)->gvstash, ab);
    EXPECT_EQ(glob_name(c), "c");
    // The apostrophe separates packages too; a trailing one is part of the name.
    EXPECT_EQ(fetch("A'B::c", 0), c);
    EXPECT_EQ(fetch("A::B'c", 0), c);
    GV* tick = fetch("x'");
    EXPECT_EQ(glob_name(tick), "x'");
    EXPECT_EQ(gv_body(tick)->gvstash, gcb->main_stash);
    // A leading "*" before a letter is skipped, also in the names of the
    // stashes it makes.
    EXPECT_EQ(fetch("*A::B::c", 0), c);
    GV* d = fetch("*S::T::d");
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(stash_name(d), "S::T");
    EXPECT_STREQ(hv_body(gv_stash_by_name(gcb, "S", 0))->name, "S");
    EXPECT_EQ(full(d), "S::T::d");
    // A name that ends after a separator is the package glob itself.
    GV* pkg = fetch("A::B::", 0);
    ASSERT_NE(pkg, nullptr);
    EXPECT_EQ(gv_gp(pkg)->gp_hv, ab);
    EXPECT_EQ(full(c), "A::B::c");
}

TEST_F(Glob, MainNamesReturnTheMainStashGlob)
{
    GV* main = fetch("main::", 0);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(gv_gp(main)->gp_hv, gcb->main_stash);
    EXPECT_EQ(fetch("::", 0), main);
    EXPECT_EQ(fetch("main::x"), fetch("x"));
    EXPECT_EQ(fetch("::y"), fetch("y"));
    EXPECT_EQ(fetch("main::main::z"), fetch("z"));
}

TEST_F(Glob, SomeNamesAlwaysLiveInMain)
{
    running_in("P");
    struct Case {
        const char* name;
        bool in_main;
    } cases[] = {
        {"STDOUT", true}, {"STDIN", true}, {"STDERR", true}, {"ENV", true}, {"INC", true},
        {"ARGV", true},   {"ARGVOUT", true}, {"SIG", true}, {"_", true},   {"0", true},
        {"!", true},      {"_foo", false}, {"foo", false}, {"STDOUTX", false}, {"Env", false},
    };
    for (const Case& c : cases) {
        GV* gv = fetch(c.name);
        ASSERT_NE(gv, nullptr) << c.name;
        EXPECT_EQ(gv_body(gv)->gvstash == gcb->main_stash, c.in_main) << c.name;
    }
    EXPECT_EQ(stash_name(fetch("foo")), "P");
}

TEST_F(Glob, CompilingNamesGoToTheCurrentPackage)
{
    gcb->current_statement = gcb->compiling_statement;
    gcb->current_package = stash("Q");
    EXPECT_EQ(stash_name(fetch("var")), "Q");
    EXPECT_EQ(stash_name(fetch("ENV")), "main");
}

TEST_F(Glob, NumberedAndMatchVariablesAreReadOnlyAndMagical)
{
    for (const char* name : {"1", "10", "&", "`", "'", "\x13"}) {
        GV* gv = fetch(name);
        SV* sv = gv_gp(gv)->gp_sv;
        EXPECT_TRUE(sv->flags & SVf_READONLY) << name;
        MAGIC* mg = mg_find_by_type(gcb, sv, '\0');
        ASSERT_NE(mg, nullptr) << name;
        EXPECT_STREQ(mg->ptr, name);
        EXPECT_EQ(mg->obj, as_sv(gv));
        EXPECT_EQ(mg->virt, &gcb->magic_vtbl[PL_vtbl_sv]);
    }
    EXPECT_EQ(gcb->match_variables_seen, 1);
    for (const char* name : {"/", ",", "\\", "\x17", "\x17" "ARNING_BITS"}) {
        SV* sv = gv_gp(fetch(name))->gp_sv;
        EXPECT_FALSE(sv->flags & SVf_READONLY) << name;
        EXPECT_NE(mg_find_by_type(gcb, sv, '\0'), nullptr) << name;
    }
    // Names of more than one character other than digits are plain.
    for (const char* name : {"/x", "\x17" "X"}) {
        SV* sv = gv_gp(fetch(name))->gp_sv;
        EXPECT_EQ(mg_find_by_type(gcb, sv, '\0'), nullptr) << name;
    }
}

TEST_F(Glob, SpecialScalarsGetTheirValues)
{
    SV* version = nullptr;
    ASSERT_EQ(run([&] {
                  version = sv_new_undef(gcb, 0);
                  sv_set_double(gcb, version, 5.006001);
              }),
              0)
        << err_text();
    gcb->patchlevel_value = version;
    GV* bracket_gv = nullptr;
    ASSERT_EQ(run([&] { bracket_gv = fetch("]"); }), 0) << err_text();
    SV* bracket = gv_gp(bracket_gv)->gp_sv;
    EXPECT_EQ(str(bracket), "5.006001");
    EXPECT_DOUBLE_EQ(sv_nv(bracket), 5.006001);
    EXPECT_TRUE(bracket->flags & SVf_READONLY);
    GV* ctrl_v = fetch("\x16");
    EXPECT_EQ(gv_gp(ctrl_v)->gp_sv, version);
    EXPECT_EQ(str(gv_gp(fetch(";"))->gp_sv), "\x1c");
    SV* ff = gv_gp(fetch("\x0c"))->gp_sv;
    EXPECT_EQ(str(ff), "\f");
    EXPECT_EQ(gcb->formfeed_value, ff);
    gcb->chop_set = " \n-";
    SV* colon = gv_gp(fetch(":"))->gp_sv;  // magical: read its buffer as stored
    EXPECT_EQ(std::string(sv_pv(colon), sv_cur(colon)), " \n-");
}

TEST_F(Glob, SigHasAnElementPerSignalName)
{
    GV* sig = fetch("SIG", GV_ADD, SVt_PVHV);
    HV* hv = gv_gp(sig)->gp_hv;
    ASSERT_NE(hv, nullptr);
    EXPECT_NE(mg_find_by_type(gcb, as_sv(hv), 'S'), nullptr);
    EXPECT_EQ(hv_body(hv)->keys, 26);
    EXPECT_FALSE(hv_exists_str(gcb, hv, "ZERO", 4));
    for (const char* name : {"INT", "NUM01", "CHLD", "CLD", "CONT"}) {
        SV** svp = hv_fetch_str(gcb, hv, name, static_cast<int32_t>(std::strlen(name)), 0);
        ASSERT_NE(svp, nullptr) << name;
        EXPECT_FALSE((*svp)->flags & SVf_OK_ANY) << name;
        EXPECT_NE(mg_find_by_type(gcb, *svp, 's'), nullptr) << name;
    }
    ASSERT_NE(gcb->signal_handler_slots, nullptr);
    ASSERT_NE(gcb->signal_name_slots, nullptr);
}

TEST_F(Glob, ArgvOverloadAndExportNames)
{
    GV* argv = fetch("ARGV");
    ASSERT_NE(gv_gp(argv)->gp_io, nullptr);
    EXPECT_EQ(io_body(gv_gp(argv)->gp_io)->ioflags & (IOf_ARGV | IOf_START), IOf_ARGV | IOf_START);
    GV* ov = fetch("Pkg::OVERLOAD", GV_ADD, SVt_PVHV);
    EXPECT_TRUE(gv_body(ov)->gvflags & GVf_MULTI);
    MAGIC* mg = mg_find_by_type(gcb, as_sv(gv_gp(ov)->gp_hv), 'A');
    ASSERT_NE(mg, nullptr);
    EXPECT_EQ(mg->obj, nullptr);
    warnings_all();  // with "once" warnings on, only the special names are marked
    EXPECT_TRUE(gv_body(fetch("EXPORT_OK"))->gvflags & GVf_MULTI);
    EXPECT_TRUE(gv_body(fetch("VERSION"))->gvflags & GVf_MULTI);
    EXPECT_FALSE(gv_body(fetch("plain"))->gvflags & GVf_MULTI);
    warnings_none();
    EXPECT_TRUE(gv_body(fetch("plain2"))->gvflags & GVf_MULTI);
}

TEST_F(Glob, SpecialNameTest)
{
    struct Case {
        const char* name;
        int32_t special;
    } cases[] = {
        {"", 0},       {"!", 1},        {"!!", 0},         {"1", 1},         {"123", 1},
        {"12a", 0},    {"0", 0},        {"ISA", 1},        {"ISAX", 0},      {"OVERLOAD", 1},
        {"SIG", 1},    {"\x17", 1},     {"\x17" "ARNING_BITS", 1}, {"\x17" "IDE_SYSTEM_CALLS", 1},
        {"\x17" "X", 0}, {"&", 1},     {"\x01", 1},       {"\x02", 0},      {"x", 0},
        {"]", 1},      {"::", 0},       {":", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(gv_is_special_name(gcb, c.name, static_cast<uint32_t>(std::strlen(c.name))), c.special)
            << c.name;
}

TEST_F(Glob, AliasedBodiesAreCounted)
{
    GV* a = fetch("alias_a");
    GV* b = fetch("alias_b");
    GP* gp = gv_gp(a);
    SV* scalar = gp->gp_sv;
    sv_refinc(scalar);
    gp_release(gcb, b);
    gv_gp(b) = gp_retain(gcb, gp);
    EXPECT_EQ(gp->gp_refcnt, 2u);
    // Releasing the glob that is not the body's own leaves EGV.
    gp_release(gcb, b);
    gv_gp(b) = nullptr;
    EXPECT_EQ(gp->gp_egv, a);
    gv_gp(b) = gp_retain(gcb, gp);
    gp_release(gcb, a);
    gv_gp(a) = nullptr;
    EXPECT_EQ(gp->gp_egv, nullptr);
    EXPECT_EQ(gp->gp_refcnt, 1u);
    // The last release frees every slot.
    gp_release(gcb, b);
    EXPECT_EQ(gv_gp(b), nullptr);
    EXPECT_EQ(scalar->refcnt, 1u);
}

TEST_F(Glob, RetainingDropsACachedMethod)
{
    GV* gv = fetch("cached");
    GP* gp = gv_gp(gv);
    // Code values are never freed here: that is the op-tree's work.
    CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
    sv_refinc(as_sv(cv));
    sv_refinc(as_sv(cv));
    gp->gp_cv = cv;
    gp->gp_cvgen = 5;
    uint32_t gen = gcb->method_cache_generation;
    gp_retain(gcb, gp);
    EXPECT_EQ(gp->gp_cv, nullptr);
    EXPECT_EQ(gp->gp_cvgen, 0u);
    EXPECT_EQ(cv->refcnt, 2u);
    EXPECT_EQ(gcb->method_cache_generation, gen);
    // A sub of this name instead moves the generation on.
    gp->gp_cv = cv;
    gp_retain(gcb, gp);
    EXPECT_EQ(gcb->method_cache_generation, gen + 1);
    EXPECT_EQ(gp->gp_cv, cv);
    gp->gp_refcnt = 1;
    gp_release(gcb, gv);  // a sub leaving moves it again
    EXPECT_EQ(gcb->method_cache_generation, gen + 2);
}

TEST_F(Glob, ReleasingAnUnreferencedBodyWarns)
{
    // The internal category is on by default: only "none" silences it.
    struct Case {
        char setting;  // s standard, a all, n none
        const char* text;
    } cases[] = {
        {'s', "Attempt to free unreferenced glob pointers.\n"},
        {'a', "Attempt to free unreferenced glob pointers.\n"},
        {'n', ""},
    };
    GV* gv = fetch("zero");
    gv_gp(gv)->gp_refcnt = 0;
    for (const Case& c : cases) {
        gcb->err.len = 0;
        warnings(c.setting);
        ASSERT_EQ(run([&] { gp_release(gcb, gv); }), 0);
        EXPECT_EQ(err_text(), c.text);
        EXPECT_NE(gv_gp(gv), nullptr);
        EXPECT_EQ(gv_gp(gv)->gp_refcnt, 0u);
    }
}

TEST_F(Glob, CreationAskedToWarnWarnsByDefault)
{
    struct Case {
        char setting;  // s standard, a all, n none
        const char* name;
        const char* text;
    } cases[] = {
        {'s', "P::one", "Had to create P::one unexpectedly.\n"},
        {'a', "P::two", "Had to create P::two unexpectedly.\n"},
        {'n', "P::three", ""},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        warnings(c.setting);
        GV* gv = nullptr;
        ASSERT_EQ(run([&] { gv = fetch(c.name, GV_ADD | GV_ADDWARN); }), 0);
        EXPECT_NE(gv, nullptr) << c.name;
        EXPECT_EQ(err_text(), c.text) << c.name;
        // An existing glob is found without a word.
        gcb->err.len = 0;
        ASSERT_EQ(run([&] { fetch(c.name, GV_ADD | GV_ADDWARN); }), 0);
        EXPECT_EQ(err_text(), "") << c.name;
    }
}

TEST_F(Glob, SlotsOnlyOnGlobs)
{
    struct Case {
        GV* (*fn)(PERLGCB*, GV*);
        const char* text;
    } cases[] = {
        {gv_ensure_array, "Bad symbol for array.\n"},
        {gv_ensure_hash, "Bad symbol for hash.\n"},
        {gv_ensure_handle, "Bad symbol for filehandle.\n"},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        EXPECT_EQ(run([&] { c.fn(gcb, sv_as<GV>(pv("not a glob"))); }), 2);
        EXPECT_EQ(err_text(), c.text);
    }
    GV* gv = fetch("slots");
    EXPECT_EQ(gv_ensure_array(gcb, gv), gv);
    EXPECT_NE(gv_gp(gv)->gp_av, nullptr);
}

TEST_F(Glob, NewHandlesAreBlessedIntoIoHandle)
{
    IO* io = io_new_body(gcb);
    EXPECT_EQ(sv_type(as_sv(io)), SVt_PVIO);
    EXPECT_TRUE(as_sv(io)->flags & SVs_OBJECT);
    EXPECT_STREQ(hv_body(sv_stash(as_sv(io)))->name, "IO::Handle");
    // FileHandle with at least one symbol takes over.
    fetch("FileHandle::new", GV_ADD, SVt_PVCV);
    IO* io2 = io_new_body(gcb);
    EXPECT_STREQ(hv_body(sv_stash(as_sv(io2)))->name, "FileHandle");
}

TEST_F(Glob, GeneratedGlobsAreNumbered)
{
    gcb->gensym_counter = 7;
    GV* a = gv_new_generated(gcb, "Sym");
    GV* b = gv_new_generated(gcb, "Sym");
    EXPECT_EQ(full(a), "Sym::_GEN_7");
    EXPECT_EQ(full(b), "Sym::_GEN_8");
    EXPECT_EQ(gcb->gensym_counter, 9u);
}

TEST_F(Glob, FullNames)
{
    GV* here = fetch("here");
    GV* there = fetch("Pk::there");
    SV* sv = sv_new_temporary(gcb);
    gv_qualified_name(gcb, sv, here, "*", 0);
    EXPECT_EQ(str(sv), "*here");
    gv_qualified_name(gcb, sv, here, nullptr, 1);
    EXPECT_EQ(str(sv), "main::here");
    gv_qualified_name(gcb, sv, there, nullptr, 0);
    EXPECT_EQ(str(sv), "Pk::there");
    gv_qualified_name_with_main(gcb, sv, here, "*");
    EXPECT_EQ(str(sv), "*main::here");
    // The effective glob names an alias.
    gp_release(gcb, there);
    gv_gp(there) = gp_retain(gcb, gv_gp(here));
    gv_effective_qualified_name(gcb, sv, there, nullptr);
    EXPECT_EQ(str(sv), "main::here");
    gv_qualified_name_with_main(gcb, sv, there, nullptr);
    EXPECT_EQ(str(sv), "Pk::there");
    // No stash: undefined.
    gv_body(here)->gvstash = nullptr;
    gv_qualified_name_with_main(gcb, sv, here, nullptr);
    EXPECT_FALSE(sv->flags & SVf_OK_ANY);
}

TEST_F(Glob, FileGlobs)
{
    GV* gv = gv_fetch_file_glob(gcb, "script.pl");
    ASSERT_NE(gv, nullptr);
    EXPECT_EQ(glob_name(gv), "_<script.pl");
    EXPECT_EQ(str(gv_gp(gv)->gp_sv), "script.pl");
    EXPECT_EQ(gv_gp(gv)->gp_av, nullptr);
    gcb->debugger_flags = 0x02;
    std::string longname(300, 'f');
    GV* kept = gv_fetch_file_glob(gcb, longname.c_str());
    EXPECT_EQ(glob_name(kept), "_<" + longname);
    ASSERT_NE(gv_gp(kept)->gp_av, nullptr);
    EXPECT_NE(mg_find_by_type(gcb, as_sv(gv_gp(kept)->gp_hv), 'L'), nullptr);
}

TEST_F(Glob, StashLookUps)
{
    EXPECT_EQ(gv_stash_by_name(gcb, "Nope", 0), nullptr);
    HV* s = gv_stash_by_name(gcb, "Yes::Pkg", 1);
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(hv_body(s)->name, "Yes::Pkg");
    EXPECT_EQ(gv_stash_by_value(gcb, pv("Yes::Pkg"), 0), s);
    EXPECT_EQ(gv_stash_by_name_len(gcb, "Yes::Pkg::more", 8, 0), s);
}

}  // namespace
