// Reset by letters, the code value a value stands for, the uninitialized
// warning, and the string accessors of the programming interface.
#include <string>
#include <vector>

#include "run_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxmg.h"
#include "ds/src/prxop.h"

namespace {

using prxtest::Stacks;

class Reset : public Stacks {
protected:
    void SetUp() override
    {
        Stacks::SetUp();
        stash = gv_stash_by_name(gcb, "R", 1);
    }
    GV* var(const char* name)
    {
        std::string full = std::string("R::") + name;
        return gv_fetch_by_name(gcb, full.c_str(), GV_ADD, SVt_PV);
    }
    SV* scalar(const char* name) { return gv_gp(var(name))->gp_sv; }
    AV* array(const char* name) { return gv_gp(gv_ensure_array(gcb, var(name)))->gp_av; }
    HV* hash(const char* name) { return gv_gp(gv_ensure_hash(gcb, var(name)))->gp_hv; }
    // Gives each name a string scalar, a one-element array and a one-key hash.
    void fill(std::initializer_list<const char*> names)
    {
        for (const char* n : names) {
            sv_set_cstring(gcb, scalar(n), "value");
            av_append(gcb, array(n), pv("e"));
            hv_store_str(gcb, hash(n), "k", 1, pv("v"), 0);
        }
    }
    bool is_reset(const char* n)
    {
        return !sv_ok(scalar(n)) && av_body(array(n))->fill == -1 && hv_body(hash(n))->keys == 0;
    }
    HV* stash = nullptr;
};

TEST_F(Reset, LettersAndRanges)
{
    struct Case {
        const char* letters;
        std::vector<const char*> reset, kept;
    } cases[] = {
        {"a-c", {"apple", "berry", "cherry"}, {"date", "Apple"}},
        {"ca", {"apple", "cherry"}, {"berry", "date"}},
        {"c-a", {}, {"apple", "berry", "cherry", "date"}},
        {"d-", {"date"}, {"apple"}},  // a '-' before the end is a letter of its own
        {"A-Z", {"Apple"}, {"apple"}},
    };
    for (const Case& c : cases) {
        fill({"apple", "berry", "cherry", "date", "Apple"});
        sv_reset_by_letters(gcb, c.letters, stash);
        for (const char* n : c.reset)
            EXPECT_TRUE(is_reset(n)) << c.letters << " " << n;
        for (const char* n : c.kept)
            EXPECT_FALSE(is_reset(n)) << c.letters << " " << n;
    }
}

TEST_F(Reset, ResetStringKeepsItsBuffer)
{
    fill({"s"});
    SV* s = scalar("s");
    char* buf = sv_pv(s);
    sv_reset_by_letters(gcb, "s", stash);
    EXPECT_EQ(sv_pv(s), buf);
    EXPECT_EQ(sv_cur(s), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(s->flags & SV_VALUE_FLAGS, 0u);
}

TEST_F(Reset, SpecialScalarsKeepTheirValueButNotTheirAggregates)
{
    fill({"ref", "ro", "wide"});
    SV* target = pv("target");
    SV* rv = sv_new_reference(gcb, target);
    sv_assign(gcb, scalar("ref"), rv);
    sv_release(gcb, rv);
    EXPECT_EQ(target->refcnt, 2u);
    scalar("ro")->flags |= SVf_READONLY;
    scalar("wide")->flags |= SVf_UTF8;
    sv_reset_by_letters(gcb, "rw", stash);
    // The reference is dropped.
    EXPECT_FALSE(scalar("ref")->flags & SVf_ROK);
    EXPECT_EQ(target->refcnt, 1u);
    // Read-only and UTF-8 scalars are left as they are.
    EXPECT_EQ(str(scalar("ro")), "value");
    EXPECT_EQ(str(scalar("wide")), "value");
    // The arrays and hashes of the same names are reset all the same.
    for (const char* n : {"ref", "ro", "wide"}) {
        EXPECT_EQ(av_body(array(n))->fill, -1) << n;
        EXPECT_EQ(hv_body(hash(n))->keys, 0) << n;
    }
}

TEST_F(Reset, StashesAreNotEmptied)
{
    HV* inner = gv_stash_by_name(gcb, "R::sub", 1);
    hv_store_str(gcb, inner, "x", 1, pv("1"), 0);
    sv_reset_by_letters(gcb, "s", stash);
    EXPECT_EQ(hv_body(inner)->keys, 1);
}

TEST_F(Reset, NoStashAndTheEmptyLetters)
{
    sv_reset_by_letters(gcb, "a", nullptr);  // nothing at all
    op_pattern p1{}, p2{};
    p1.op_pmdynflags = 0x01 | 0x02;
    p2.op_pmdynflags = 0x01;
    p1.op_pmnext = &p2;
    hv_body(stash)->pmroot = reinterpret_cast<OP*>(&p1);
    fill({"a"});
    sv_reset_by_letters(gcb, "", stash);
    EXPECT_EQ(p1.op_pmdynflags, 0x02);
    EXPECT_EQ(p2.op_pmdynflags, 0x00);
    EXPECT_FALSE(is_reset("a"));
    hv_body(stash)->pmroot = nullptr;
}

TEST_F(Reset, CodeValueOfAValue)
{
    HV* st = reinterpret_cast<HV*>(0x1);  // stays as it is where nothing is found
    GV* gv = reinterpret_cast<GV*>(0x1);
    EXPECT_EQ(sv_to_code(gcb, nullptr, &st, &gv, 0), nullptr);
    EXPECT_EQ(gv, nullptr);
    EXPECT_EQ(st, reinterpret_cast<HV*>(0x1));
    EXPECT_EQ(sv_to_code(gcb, as_sv(av_new_empty(gcb)), &st, &gv, 0), nullptr);
    EXPECT_EQ(sv_to_code(gcb, as_sv(hv_new_empty(gcb)), &st, &gv, 0), nullptr);

    // A name: no glob, a glob without code, a glob with code.
    EXPECT_EQ(sv_to_code(gcb, pv("R::none"), &st, &gv, 0), nullptr);
    EXPECT_EQ(gv, nullptr);
    GV* f = gv_fetch_by_name(gcb, "R::f", GV_ADD, SVt_PVCV);
    EXPECT_EQ(sv_to_code(gcb, pv("R::f"), &st, &gv, 0), nullptr);
    EXPECT_EQ(gv, f);
    EXPECT_EQ(st, stash);
    SV* code = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, code, SVt_PVCV);
    static_cast<PVCV*>(code->any)->comp_stash = stash;
    gv_gp(f)->gp_cv = sv_as<CV>(code);
    EXPECT_EQ(sv_to_code(gcb, pv("R::f"), &st, &gv, 0), sv_as<CV>(code));
    EXPECT_EQ(sv_to_code(gcb, as_sv(f), &st, &gv, 0), sv_as<CV>(code));
    // A reference to code and a reference to the glob.
    st = nullptr;
    EXPECT_EQ(sv_to_code(gcb, sv_new_reference(gcb, code), &st, &gv, 0), sv_as<CV>(code));
    EXPECT_EQ(gv, nullptr);
    EXPECT_EQ(st, stash);
    EXPECT_EQ(sv_to_code(gcb, sv_new_reference(gcb, as_sv(f)), &st, &gv, 0), sv_as<CV>(code));
    EXPECT_EQ(gv, f);
    // A cached method entry is no code of the glob.
    gv_gp(f)->gp_cvgen = 5;
    EXPECT_EQ(sv_to_code(gcb, pv("R::f"), &st, &gv, 0), nullptr);
    gv_gp(f)->gp_cvgen = 0;
    // A reference to anything else.
    EXPECT_EQ(run([&] { sv_to_code(gcb, sv_new_reference(gcb, pv("x")), &st, &gv, 0); }), 2);
    EXPECT_EQ(err_text(), "Not a subroutine reference.\n");
}

TEST_F(Reset, UninitializedWarningNamesTheCurrentOp)
{
    warn_uninitialized(gcb);
    EXPECT_EQ(err_text(), "Use of uninitialized value.\n");
    gcb->err.len = 0;
    set_op(62, "add", "addition (+)");
    warn_uninitialized(gcb);
    EXPECT_EQ(err_text(), "Use of uninitialized value in addition (+).\n");
    // Made fatal by the statement: the warning ends the run.
    gcb->err.len = 0;
    warnings_bits({41}, {41});
    EXPECT_EQ(run([&] { warn_uninitialized(gcb); }), 2);
    EXPECT_EQ(err_text(), "Use of uninitialized value in addition (+).\n");
}

TEST_F(Reset, StringAccessors)
{
    SV* s = pv("text");
    uint64_t len = 0;
    EXPECT_EQ(sv_string_value(gcb, s), sv_pv(s));
    EXPECT_EQ(sv_string_value_b(gcb, s), sv_pv(s));
    for (auto fn : {sv_string_value_len, sv_string_value_len_b, sv_string_value_len_c}) {
        len = 0;
        EXPECT_EQ(fn(gcb, s, &len), sv_pv(s));
        EXPECT_EQ(len, 4u);
    }
    SV* n = sv_new_from_int(gcb, 42);
    EXPECT_STREQ(sv_string_value_len(gcb, n, &len), "42");
    EXPECT_EQ(len, 2u);
    EXPECT_TRUE(n->flags & SVf_POK);

}

int g_get_calls = 0;
int32_t count_get(PERLGCB*, SV*, MAGIC*)
{
    g_get_calls++;
    return 0;
}
constinit magic_method_table counting_table = {count_get, nullptr, nullptr, nullptr, nullptr};

TEST_F(Reset, StringAccessorsOfAStringRunNoGetMagic)
{
    SV* s = pv("text");
    sv_upgrade_body(gcb, s, SVt_PVMG);
    MAGIC* mg = static_cast<MAGIC*>(pool_malloc(gcb, sizeof(MAGIC)));
    std::memset(mg, 0, sizeof *mg);
    mg->type = '~';
    mg->virt = &counting_table;
    sv_magic_chain(s) = mg;
    s->flags |= SVs_GMG;
    g_get_calls = 0;
    uint64_t len = 0;
    EXPECT_EQ(sv_string_value_len(gcb, s, &len), sv_pv(s));
    EXPECT_EQ(len, 4u);
    EXPECT_EQ(sv_string_value(gcb, s), sv_pv(s));
    EXPECT_EQ(g_get_calls, 0);
    // Without POK the conversion runs the get magic.
    s->flags &= ~(SVf_POK | SVp_POK);
    sv_string_value_len(gcb, s, &len);
    EXPECT_EQ(g_get_calls, 1);
}

TEST_F(Reset, Utf8StringAccessors)
{
    SV* e9 = pv("\xE9");
    uint64_t len = 0;
    char* u = nullptr;
    int32_t code = run([&] { u = sv_utf8_string_value_len(gcb, e9, &len); });
    ASSERT_EQ(code, 0) << err_text();
    EXPECT_EQ(std::string(u, len), "\xC3\xA9");
    EXPECT_TRUE(e9->flags & SVf_UTF8);
    SV* five = sv_new_from_int(gcb, 5);
    EXPECT_STREQ(sv_utf8_string_value(gcb, five), "5");
    EXPECT_FALSE(five->flags & SVf_UTF8);
}

}  // namespace
