// use and no statements: the require, the version check and the import or
// unimport call, in that order while the statement compiles, recorded by
// native subs standing in for require and for a module's methods.
#include "runtime/sub_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxop.h"
#include "ds/src/prxrun.h"
#include "ds/src/prxsv.h"

namespace {

std::string calls;

// Appends "name(arg,arg)" for a call with its arguments.
void record(PERLGCB* gcb, const char* name)
{
    xs_frame f = xs_begin(gcb);
    calls += name;
    calls += "(";
    for (int32_t i = 0; i < f.items; i++) {
        uint64_t len = 0;
        const char* p = sv_text(gcb, xs_arg(gcb, f, i), &len);
        calls += (i ? "," : "") + std::string(p, len);
    }
    calls += ")";
    xs_return(gcb, f, 0);
}

void fake_require(PERLGCB* gcb, CV*) { record(gcb, "require"); }
void fake_version(PERLGCB* gcb, CV*) { record(gcb, "VERSION"); }
void fake_import(PERLGCB* gcb, CV*) { record(gcb, "import"); }
void fake_unimport(PERLGCB* gcb, CV*) { record(gcb, "unimport"); }

// The attributes module's import: its package argument, the kind of the
// target's reference and the attribute words.
void fake_attributes_import(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    calls += "attributes(";
    for (int32_t i = 1; i < f.items; i++) {
        SV* sv = xs_arg(gcb, f, i);
        uint64_t len = 0;
        const char* p = sv_text(gcb, sv, &len);
        std::string text = (sv->flags & SVf_ROK) ? (sv_type(sv_rv(sv)) == SVt_PVCV ? "CODE" : "OTHER") : std::string(p, len);
        calls += (i > 1 ? "," : "") + text;
    }
    calls += ")";
    xs_return(gcb, f, 0);
}

class Use : public runtime::SubEval {
protected:
    void SetUp() override
    {
        runtime::SubEval::SetUp();
        calls.clear();
        if (!started())
            return;
        // An imported require takes the place of the require op.
        sub_define_xs(gcb, "main::require", fake_require, __FILE__);
        gv_body(gv_fetch_by_name(gcb, "main::require", 0, SVt_PVCV))->gvflags |= GVf_IMPORT_CV;
        sub_define_xs(gcb, "Mod::VERSION", fake_version, __FILE__);
        sub_define_xs(gcb, "Mod::import", fake_import, __FILE__);
        sub_define_xs(gcb, "Mod::unimport", fake_unimport, __FILE__);
    }
};

TEST_F(Use, RequireVersionImportInOrder)
{
    ASSERT_TRUE(started()) << err_text();
    struct Case {
        const char* program;
        const char* calls;
    } cases[] = {
        {"$c = 'run'; use Mod 1.5 qw(a b); 1", "require(Mod)VERSION(Mod,1.5)import(Mod,a,b)"},
        {"use Mod; 1", "require(Mod)import(Mod)"},
        {"use Mod (); 1", "require(Mod)"},
        {"use Mod 2; 1", "require(Mod)VERSION(Mod,2)import(Mod)"},
        {"use Mod 'x', 'y'; 1", "require(Mod)import(Mod,x,y)"},
        {"no Mod qw(z); 1", "require(Mod)unimport(Mod,z)"},
        {"use 5.006; 1", "require(5.006)"},
    };
    for (const auto& c : cases) {
        calls.clear();
        prxtest::EvalResult r = run_case(c.program);
        EXPECT_EQ(r.value, "1") << c.program << "\n$@: " << r.error;
        EXPECT_EQ(calls, c.calls) << c.program;
    }
    // The calls happened while compiling: before the statement ahead of them ran.
    calls.clear();
    prxtest::EvalResult r = run_case("$seen = $calls_done; use Mod; $seen");
    EXPECT_EQ(calls, "require(Mod)import(Mod)");
}

TEST_F(Use, ConstantNamesAndVersions)
{
    ASSERT_TRUE(started()) << err_text();
    struct Case {
        bool const_name;
        const char* version;  // a const op of this text, or none
        bool args;
        const char* message;
    } cases[] = {
        {false, nullptr, false, "Module name must be constant.\n"},
        {true, "abc", true, "Version number must be constant number.\n"},
    };
    for (const Case& c : cases) {
        clear_captures();
        int32_t code = run_guarded([&] {
            int32_t floor = start_sub_compile(gcb, 0, 0);
            OP* name = c.const_name ? op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, "Mod", 0))
                                    : op_new_base(gcb, OP_STUB, 0);
            OP* version = c.version ? op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, c.version, 0)) : nullptr;
            OP* args = c.args ? op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, "a", 0)) : nullptr;
            op_use_module(gcb, 1, floor, version, name, args);
        });
        EXPECT_NE(code, 0);
        EXPECT_EQ(err_text(), c.message);
    }
    // A version that is no number, with no list after it, is the list.
    calls.clear();
    EXPECT_EQ(run_guarded([&] {
                  int32_t floor = start_sub_compile(gcb, 0, 0);
                  op_use_module(gcb, 1, floor, op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, "w", 0)),
                                op_new_value(gcb, OP_CONST, 0, sv_new_from_cstring(gcb, "Mod", 0)), nullptr);
              }),
              0);
    EXPECT_EQ(calls, "require(Mod)import(Mod,w)");
}

TEST_F(Use, ModuleLoadedFromValues)
{
    ASSERT_TRUE(started()) << err_text();
    calls.clear();
    int32_t code = run_guarded([&] {
        module_load_va(gcb, 0, sv_new_from_cstring(gcb, "Mod", 0), nullptr, sv_new_from_cstring(gcb, "v1", 0),
                       sv_new_from_cstring(gcb, "v2", 0), nullptr);
        module_load_va(gcb, 0x2, sv_new_from_cstring(gcb, "Mod", 0), nullptr, nullptr);
        module_load_va(gcb, 0x1, sv_new_from_cstring(gcb, "Mod", 0), sv_new_from_double(gcb, 3.0), nullptr);
    });
    EXPECT_EQ(code, 0) << err_text();
    EXPECT_EQ(calls, "require(Mod)import(Mod,v1,v2)require(Mod)require(Mod)VERSION(Mod,3)unimport(Mod)");
}

// Attributes on subs are applied at compile time by the attributes
// module's import: in the package of a named sub's glob, in the current
// package for an anonymous sub.
TEST_F(Use, SubAttributesCallTheAttributesModule)
{
    ASSERT_TRUE(started()) << err_text();
    // A require imported for every package.
    sub_define_xs(gcb, "CORE::GLOBAL::require", fake_require, __FILE__);
    gv_body(gv_fetch_by_name(gcb, "CORE::GLOBAL::require", 0, SVt_PVCV))->gvflags |= GVf_IMPORT_CV;
    sub_define_xs(gcb, "attributes::import", fake_attributes_import, __FILE__);
    struct Case {
        const char* program;
        const char* calls;
    } cases[] = {
        {"sub at1 : method { 1 } at1()", "require(attributes)attributes(main,CODE,method)"},
        {"package P; sub at2 : method locked { 1 } 1", "require(attributes)attributes(P,CODE,method,locked)"},
        {"package P; sub Q::at3 : method { 1 } 1", "require(attributes)attributes(Q,CODE,method)"},
        {"package P; my $c = sub : method { 1 }; $c->()", "require(attributes)attributes(P,CODE,method)"},
        // Attributes without a body go to the declared sub.
        {"sub at4; sub at4 : method; 1", "require(attributes)attributes(main,CODE,method)"},
    };
    for (const auto& c : cases) {
        calls.clear();
        prxtest::EvalResult r = run_case(c.program);
        EXPECT_EQ(r.value, "1") << c.program << "\n$@: " << r.error;
        EXPECT_EQ(calls, c.calls) << c.program;
    }
}

}  // namespace
