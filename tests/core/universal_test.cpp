// UNIVERSAL::isa, can and VERSION, the inheritance cache, and the attributes
// built-ins.
#include <string>
#include <vector>

#include "run_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmsg.h"
#include "ds/src/prxuniversal.h"

namespace {

using prxtest::Stacks;

class Universal : public Stacks {
protected:
    HV* package(const char* name) { return gv_stash_by_name(gcb, name, 1); }
    // @name::ISA = parents.
    void set_isa(const char* name, std::initializer_list<const char*> parents)
    {
        std::string full = std::string(name) + "::ISA";
        GV* gv = gv_fetch_by_name(gcb, full.c_str(), GV_ADD, SVt_PVAV);
        gv_ensure_array(gcb, gv);
        AV* av = gv_gp(gv)->gp_av;
        av_remove_all(gcb, av);
        for (const char* p : parents)
            av_append(gcb, av, pv(p));
    }
    void set_version(const char* name, SV* value)
    {
        std::string full = std::string(name) + "::VERSION";
        GV* gv = gv_fetch_by_name(gcb, full.c_str(), GV_ADD, SVt_PV);
        sv_assign(gcb, gv_gp(gv)->gp_sv, value);
    }
    CV* define_sub(const char* full)
    {
        GV* gv = gv_fetch_by_name(gcb, full, GV_ADD, SVt_PVCV);
        SV* cv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, cv, SVt_PVCV);
        gv_gp(gv)->gp_cv = sv_as<CV>(cv);
        gv_gp(gv)->gp_cvgen = 0;
        gcb->method_cache_generation++;
        return sv_as<CV>(cv);
    }
    SV* object(SV* referent, const char* cls)
    {
        SV* rv = sv_new_reference(gcb, referent);
        sv_bless_referent(gcb, rv, package(cls));
        return rv;
    }

    // Calls a built-in with the arguments; returns its results, or the jump
    // code in *code.
    std::vector<SV*> call(void (*fn)(PERLGCB*, CV*), std::initializer_list<SV*> args, int32_t* code = nullptr)
    {
        int32_t mark = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
        push_args(args);
        int32_t c = run([&] { fn(gcb, nullptr); });
        if (code)
            *code = c;
        else
            EXPECT_EQ(c, 0) << err_text();
        std::vector<SV*> out = c ? std::vector<SV*>{} : results_from(mark);
        gcb->arg_sp = gcb->arg_base + mark;
        return out;
    }
    SV* isa(SV* v, const char* cls) { return one(call(universal_isa, {v, pv(cls)})); }
    SV* one(const std::vector<SV*>& r)
    {
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? nullptr : r[0];
    }
    // The fatal error text of a built-in call (its jump code must be 2).
    std::string failure(void (*fn)(PERLGCB*, CV*), std::initializer_list<SV*> args)
    {
        gcb->err.len = 0;
        int32_t code = 0;
        call(fn, args, &code);
        EXPECT_EQ(code, 2);
        return err_text();
    }
};

TEST_F(Universal, IsaOfEveryClassAgainstUniversal)
{
    package("Plain");
    package("Kid");
    set_isa("Kid", {"Plain"});
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(isa(pv("Plain"), "UNIVERSAL"), &gcb->sv_yes) << round;
        EXPECT_EQ(isa(pv("Kid"), "UNIVERSAL"), &gcb->sv_yes) << round;
    }
}

TEST_F(Universal, IsaWalksTheInheritanceAndCachesIt)
{
    package("A");
    package("B");
    package("C");
    set_isa("B", {"A"});
    set_isa("C", {"B"});
    EXPECT_EQ(isa(pv("C"), "A"), &gcb->sv_yes);
    EXPECT_EQ(isa(pv("C"), "C"), &gcb->sv_yes);
    EXPECT_EQ(isa(pv("A"), "C"), &gcb->sv_no);
    EXPECT_EQ(isa(pv("C"), "Nope"), &gcb->sv_no);
    // Names compare blank-padded.
    EXPECT_EQ(isa(pv("C"), "A  "), &gcb->sv_yes);

    // The first walk left the cache glob's new scalar undefined, so the
    // call after it found the cache stale and emptied it: ask for A again.
    EXPECT_EQ(isa(pv("C"), "A"), &gcb->sv_yes);

    // The cache of C remembers the answers for the current generation.
    HV* c = package("C");
    SV** cache = hv_fetch_str(gcb, c, "::ISA::CACHE::", 14, 0);
    ASSERT_NE(cache, nullptr);
    GV* cgv = sv_as<GV>(*cache);
    EXPECT_EQ(sv_to_int(gcb, gv_gp(cgv)->gp_sv), static_cast<int64_t>(gcb->method_cache_generation));
    SV** a = hv_fetch_str(gcb, gv_gp(cgv)->gp_hv, "A", 1, 0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(*a, &gcb->sv_yes);

    // A cached answer is taken as it is while the generation holds...
    hv_store_str(gcb, gv_gp(cgv)->gp_hv, "Z", 1, &gcb->sv_yes, 0);
    EXPECT_EQ(isa(pv("C"), "Z"), &gcb->sv_yes);
    // ...and defining a method makes the next call rebuild the cache.
    define_sub("C::m");
    EXPECT_EQ(isa(pv("C"), "Z"), &gcb->sv_no);
    EXPECT_EQ(sv_to_int(gcb, gv_gp(cgv)->gp_sv), static_cast<int64_t>(gcb->method_cache_generation));
    EXPECT_EQ(isa(pv("C"), "A"), &gcb->sv_yes);
}

TEST_F(Universal, CacheGlobKeepsTheScalarItIsMadeWith)
{
    package("A");
    set_isa("C", {"A"});
    define_sub("A::m");  // a generation other than 0
    EXPECT_EQ(isa(pv("C"), "A"), &gcb->sv_yes);
    SV** cache = hv_fetch_str(gcb, package("C"), "::ISA::CACHE::", 14, 0);
    ASSERT_NE(cache, nullptr);
    GP* gp = gv_gp(sv_as<GV>(*cache));
    // The glob came with an undefined scalar, which is not replaced...
    ASSERT_NE(gp->gp_sv, nullptr);
    EXPECT_FALSE(sv_ok(gp->gp_sv));
    // ...so the next lookup finds the cache stale and rebuilds it.
    hv_store_str(gcb, gp->gp_hv, "Z", 1, &gcb->sv_yes, 0);
    EXPECT_EQ(isa(pv("C"), "Z"), &gcb->sv_no);
    EXPECT_EQ(sv_to_int(gcb, gp->gp_sv), static_cast<int64_t>(gcb->method_cache_generation));
    // From then on the cache is taken as it is.
    hv_store_str(gcb, gp->gp_hv, "Z", 1, &gcb->sv_yes, 0);
    EXPECT_EQ(isa(pv("C"), "Z"), &gcb->sv_yes);
}

TEST_F(Universal, RecursiveInheritance)
{
    package("P");
    set_isa("P", {"P"});
    EXPECT_EQ(failure(universal_isa, {pv("P"), pv("Q")}), "Recursive inheritance detected in package 'P'.\n");
}

TEST_F(Universal, MissingParentPackageWarns)
{
    package("P");
    set_isa("P", {"Gone", "Base"});
    package("Base");
    warnings_all();
    EXPECT_EQ(isa(pv("P"), "Base"), &gcb->sv_yes);
    EXPECT_EQ(err_text(), "Can't locate package Gone for @P::ISA.\n");
    gcb->err.len = 0;
    warnings_none();
    EXPECT_EQ(isa(pv("P"), "Other"), &gcb->sv_no);
    EXPECT_EQ(err_text(), "");
}

TEST_F(Universal, IsaOfReferencesAndOddInvocants)
{
    SV* aref = sv_new_reference(gcb, as_sv(av_new_empty(gcb)));
    EXPECT_EQ(isa(aref, "ARRAY"), &gcb->sv_yes);
    EXPECT_EQ(isa(aref, "HASH"), &gcb->sv_no);
    SV* obj = object(as_sv(hv_new_empty(gcb)), "Obj");
    package("Base");
    set_isa("Obj", {"Base"});
    EXPECT_EQ(isa(obj, "Base"), &gcb->sv_yes);
    EXPECT_EQ(isa(obj, "HASH"), &gcb->sv_yes);
    EXPECT_EQ(isa(obj, "Obj"), &gcb->sv_yes);

    EXPECT_EQ(isa(pv(""), "UNIVERSAL"), &gcb->sv_undef);
    EXPECT_EQ(isa(&gcb->sv_undef, "UNIVERSAL"), &gcb->sv_undef);
    EXPECT_EQ(isa(sv_new_from_int(gcb, 5), "UNIVERSAL"), &gcb->sv_undef);
    EXPECT_EQ(isa(sv_new_from_double(gcb, 1.5), "UNIVERSAL"), &gcb->sv_undef);
    EXPECT_EQ(isa(pv("NoSuchPackage"), "UNIVERSAL"), &gcb->sv_no);

    EXPECT_EQ(failure(universal_isa, {pv("A")}), "Usage: UNIVERSAL::isa(reference, kind).\n");
}

TEST_F(Universal, Can)
{
    CV* m = define_sub("Base::m");
    set_isa("Kid", {"Base"});
    SV* r = one(call(universal_can, {pv("Kid"), pv("m")}));
    ASSERT_TRUE(r->flags & SVf_ROK);
    EXPECT_EQ(sv_rv(r), as_sv(m));
    EXPECT_TRUE(r->flags & SVs_TEMP);
    EXPECT_EQ(one(call(universal_can, {pv("Kid"), pv("nope")})), &gcb->sv_undef);
    SV* unblessed = sv_new_reference(gcb, as_sv(hv_new_empty(gcb)));
    EXPECT_EQ(one(call(universal_can, {unblessed, pv("m")})), &gcb->sv_undef);
    SV* obj = object(as_sv(hv_new_empty(gcb)), "Kid");
    EXPECT_EQ(sv_rv(one(call(universal_can, {obj, pv("m")}))), as_sv(m));
    EXPECT_EQ(failure(universal_can, {pv("Kid")}), "Usage: UNIVERSAL::can(object-ref, method).\n");
}

TEST_F(Universal, Version)
{
    package("P");
    // No $VERSION: undef without a requirement, the message with one.
    EXPECT_EQ(one(call(universal_version, {pv("P")})), &gcb->sv_undef);
    EXPECT_EQ(failure(universal_version, {pv("P"), pv("1")}),
              "P does not define $P::VERSION--version check failed.\n");

    set_version("P", pv("1.5"));
    SV* v = one(call(universal_version, {pv("P")}));
    EXPECT_EQ(str(v), "1.5");
    EXPECT_EQ(str(one(call(universal_version, {pv("P"), sv_new_from_double(gcb, 1.2)}))), "1.5");
    EXPECT_EQ(failure(universal_version, {pv("P"), sv_new_from_double(gcb, 2.5)}),
              "P version 2.5 required--this is only version 1.5.\n");

    // A letter first, then digits and dots: a plain number (0) compared
    // numerically.
    set_version("P", pv("a1.2"));
    EXPECT_EQ(failure(universal_version, {pv("P"), sv_new_from_int(gcb, 1)}),
              "P version 1 required--this is only version a1.2.\n");

    // A letter after the first byte against a v-string: string comparison.
    SV* vstring = pv("\x01\x03");
    sv_upgrade_body(gcb, vstring, SVt_PVNV);
    sv_nv(vstring) = 1.003;
    vstring->flags |= SVf_NOK | SVp_NOK;
    set_version("P", pv("\x01\x02x"));
    EXPECT_EQ(failure(universal_version, {pv("P"), vstring}), "P v1.3 required--this is only v1.2.120.\n");
    set_version("P", pv("\x01\x04x"));
    EXPECT_EQ(str(one(call(universal_version, {pv("P"), vstring}))), "\x01\x04x");

    SV* unblessed = sv_new_reference(gcb, as_sv(hv_new_empty(gcb)));
    EXPECT_EQ(failure(universal_version, {unblessed}), "Cannot find version of an unblessed reference.\n");
    // An object's class.
    SV* obj = object(as_sv(hv_new_empty(gcb)), "P");
    EXPECT_EQ(str(one(call(universal_version, {obj}))), "\x01\x04x");
}

TEST_F(Universal, AttributesBuiltIns)
{
    SV* plain = pv("text");
    EXPECT_EQ(failure(attributes_reftype, {plain}), "Usage: attributes::reftype $reference.\n");
    EXPECT_EQ(failure(attributes_fetch_attrs, {plain}), "Usage: attributes::_fetch_attrs $reference.\n");
    EXPECT_EQ(failure(attributes_guess_stash, {plain}), "Usage: attributes::_guess_stash $reference.\n");
    EXPECT_EQ(failure(attributes_modify_attrs, {}), "Usage: attributes::_modify_attrs $reference, @attributes.\n");

    SV* aref = sv_new_reference(gcb, as_sv(av_new_empty(gcb)));
    EXPECT_EQ(str(one(call(attributes_reftype, {aref}))), "ARRAY");
    std::vector<SV*> rest = call(attributes_modify_attrs, {aref, pv("lvalue"), pv("-method"), pv("odd")});
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(str(rest[0]), "lvalue");
    EXPECT_EQ(str(rest[1]), "-method");
    EXPECT_EQ(str(rest[2]), "odd");

    CV* cv = define_sub("Pkg::f");
    SV* cref = sv_new_reference(gcb, as_sv(cv));
    rest = call(attributes_modify_attrs, {cref, pv("method"), pv("locked"), pv("shared"), pv("lvalue"), pv("-locked")});
    ASSERT_EQ(rest.size(), 1u);
    EXPECT_EQ(str(rest[0]), "shared");
    EXPECT_EQ(static_cast<PVCV*>(as_sv(cv)->any)->cvflags & 0x1C0, 0x140);
    std::vector<SV*> names = call(attributes_fetch_attrs, {cref});
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(str(names[0]), "lvalue");
    EXPECT_EQ(str(names[1]), "method");
    EXPECT_TRUE(call(attributes_fetch_attrs, {aref}).empty());

    // The package of the code's glob, and the class of an object.
    static_cast<PVCV*>(as_sv(cv)->any)->gv = gv_fetch_by_name(gcb, "Pkg::f", 0, SVt_PVCV);
    EXPECT_EQ(str(one(call(attributes_guess_stash, {cref}))), "Pkg");
    EXPECT_EQ(str(one(call(attributes_guess_stash, {object(as_sv(av_new_empty(gcb)), "Cls")}))), "Cls");
    EXPECT_FALSE(sv_ok(one(call(attributes_guess_stash, {aref}))));
}

}  // namespace
