// Lexical pads: slots, declaration and visibility by statement sequence
// number, scopes of blocks, the outer look-up of closures, and the
// declaration warnings and errors.
#include "optree/optree_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxlex.h"

namespace optree {
namespace {

class Pads : public Compile {
public:
    void SetUp() override
    {
        Compile::SetUp();
        compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    }
    // A statement as the grammar ends one: its op makes pending names visible.
    void statement() { op_free_tree(gcb, op_new_statement(gcb, 0, nullptr, nullptr)); }
    SV* name_at(uint32_t slot) { return av_body(names)->array[slot]; }
    // A code value with a pad list of its own (name pad and one value pad).
    CV* code(CV* outside, uint16_t cvflags, std::initializer_list<const char*> lexicals = {})
    {
        CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
        sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
        AV* list = av_new_empty(gcb);
        AV* cvnames = av_new_empty(gcb);
        AV* cvpad = av_new_empty(gcb);
        av_store_element(gcb, cvpad, 0, sv_new_undef(gcb, 0));
        int32_t slot = 1;
        for (const char* n : lexicals) {
            SV* name = sv_new_from_cstring(gcb, n, 0);
            sv_upgrade_body(gcb, name, SVt_PVNV);
            sv_iv(name) = PAD_MAX;
            sv_nv(name) = 0;
            av_store_element(gcb, cvnames, slot, name);
            av_store_element(gcb, cvpad, slot, sv_new_from_int(gcb, 40 + slot));
            slot++;
        }
        av_store_element(gcb, list, 0, as_sv(cvnames));
        av_store_element(gcb, list, 1, as_sv(cvpad));
        cv_body(cv)->padlist = list;
        cv_body(cv)->outside = outside;
        cv_body(cv)->cvflags = cvflags;
        return cv;
    }
};

TEST_F(Pads, TemporaryAndLexicalSlots)
{
    uint32_t t1 = pad_alloc(gcb, 0, PAD_KIND_TMP);
    uint32_t m1 = pad_alloc(gcb, 0, PAD_KIND_MY);
    uint32_t t2 = pad_alloc(gcb, 0, PAD_KIND_TMP);
    EXPECT_EQ(t1, 1u);
    EXPECT_EQ(m1, 2u);
    EXPECT_EQ(t2, 3u);  // a lexical's slot is never a temporary's
    EXPECT_TRUE(gcb->curpad[t1]->flags & SVs_PADTMP);
    EXPECT_TRUE(gcb->curpad[m1]->flags & SVs_PADMY);
    // A pad pointer that is not the compile pad's is an internal fault.
    SV* other[4] = {};
    gcb->curpad = other;
    EXPECT_EQ(run([&] { pad_alloc(gcb, 0, PAD_KIND_TMP); }), 2);
    EXPECT_EQ(warnings(), "panic: pad_alloc.\n");
    gcb->curpad = av_body(pad)->array;
}

TEST_F(Pads, VisibilityFollowsStatementsAndBlocks)
{
    uint32_t x = pad_declare_my(gcb, "$x");
    EXPECT_EQ(pad_find_lexical(gcb, "$x"), PAD_NOT_FOUND);  // pending: not yet visible
    uint32_t seq = gcb->cop_seqmax;
    OP* st = op_new_statement(gcb, 0, nullptr, nullptr);
    EXPECT_EQ(reinterpret_cast<COP*>(st)->cop_seq, seq);
    EXPECT_EQ(gcb->cop_seqmax, seq + 1);
    op_free_tree(gcb, st);
    EXPECT_EQ(pad_find_lexical(gcb, "$x"), x);
    EXPECT_EQ(sv_iv(name_at(x)), PAD_MAX);

    int32_t floor = op_open_block(gcb, 0);
    uint32_t y = pad_declare_my(gcb, "@y");
    EXPECT_EQ(sv_type(gcb->curpad[y]), SVt_PVAV);  // an array slot holds an array
    statement();
    EXPECT_EQ(pad_find_lexical(gcb, "@y"), y);
    uint32_t end = gcb->cop_seqmax;
    op_free_tree(gcb, op_close_block(gcb, floor, nullptr));
    EXPECT_EQ(sv_iv(name_at(y)), static_cast<int64_t>(end));
    EXPECT_EQ(pad_find_lexical(gcb, "@y"), PAD_NOT_FOUND);
    EXPECT_EQ(pad_find_lexical(gcb, "$x"), x);
    EXPECT_EQ(pad_find_lexical(gcb, "$nothing"), PAD_NOT_FOUND);
    EXPECT_EQ(warnings(), "");
}

TEST_F(Pads, MaskingAndRedeclarationWarnings)
{
    pad_declare_my(gcb, "$x");
    statement();
    pad_declare_my(gcb, "$x");           // the first one is in scope
    pad_declare_my(gcb, "$x");           // the second one is still pending
    statement();
    gcb->declaring = DECLARING_OUR;
    pad_declare_my(gcb, "$o");
    statement();
    int32_t floor = op_open_block(gcb, 0);
    pad_declare_my(gcb, "$o");           // an our of the same package outside the block
    statement();
    op_free_tree(gcb, op_close_block(gcb, floor, nullptr));
    gcb->declaring = 0;
    EXPECT_EQ(warnings(),
              "\"my\" variable $x masks earlier declaration in same scope.\n"
              "\"my\" variable $x masks earlier declaration in same statement.\n"
              "\"our\" variable $o redeclared.\n"
              "\t(Did you mean \"local\" instead of \"our\"?)\n");
}

TEST_F(Pads, NamesThatCannotBeDeclared)
{
    struct Case {
        const char* name;
        const char* error;  // null: accepted
    } cases[] = {
        {"$x", nullptr},
        {"$_x", nullptr},
        {"$_", "Can't use global $_ in \"my\""},
        {"$1", "Can't use global $1 in \"my\""},
        {"$\x01" "bc", "Can't use global $^Abc in \"my\""},
        {"$\tq", "Can't use global $^Iq in \"my\""},
    };
    for (const Case& c : cases) {
        compile_errors.clear();
        uint32_t slot = pad_declare_my(gcb, c.name);
        EXPECT_EQ(pad_name(slot), c.name);  // declared all the same
        if (c.error)
            EXPECT_EQ(compile_errors, std::vector<std::string>{c.error}) << c.name;
        else
            EXPECT_TRUE(compile_errors.empty()) << c.name;
    }
    // A class on an array declaration.
    compile_errors.clear();
    gcb->declaring_package = stash("Dog");
    uint32_t slot = pad_declare_my(gcb, "@dogs");
    gcb->declaring_package = nullptr;
    EXPECT_EQ(compile_errors, std::vector<std::string>{"Can't declare class for non-scalar @dogs in \"my\""});
    EXPECT_TRUE(name_at(slot)->flags & SVpad_TYPED);
}

TEST_F(Pads, NameNeverIntroducedWarnsAtBlockEnd)
{
    int32_t floor = op_open_block(gcb, 0);
    pad_declare_my(gcb, "$lost");
    op_free_tree(gcb, op_close_block(gcb, floor, nullptr));
    EXPECT_EQ(warnings(), "$lost never introduced.\n");
    // A name pending around a block (my $x = do { 1 }) is the enclosing
    // statement's to introduce: no warning at the block's end.
    uint32_t x = pad_declare_my(gcb, "$x");
    floor = op_open_block(gcb, 0);
    op_free_tree(gcb, op_close_block(gcb, floor, nullptr));
    statement();
    EXPECT_EQ(warnings(), "$lost never introduced.\n");
    EXPECT_EQ(pad_find_lexical(gcb, "$x"), x);
}

TEST_F(Pads, ClosureFindsOuterLexical)
{
    CV* outer = code(nullptr, 0, {"$x", "$y"});
    CV* anon = code(outer, CVf_ANON);
    gcb->compile_cv = anon;
    gcb->comppad_name = sv_as<AV>(av_body(cv_body(anon)->padlist)->array[0]);
    gcb->comppad = sv_as<AV>(av_body(cv_body(anon)->padlist)->array[1]);
    gcb->curpad = av_body(gcb->comppad)->array;

    uint32_t slot = pad_find_lexical(gcb, "$y");
    ASSERT_NE(slot, PAD_NOT_FOUND);
    SV* name = av_body(gcb->comppad_name)->array[slot];
    EXPECT_STREQ(sv_pv(name), "$y");
    EXPECT_TRUE(name->flags & SVpad_CAPTURED);
    EXPECT_EQ(sv_iv(name), PAD_MAX);
    EXPECT_TRUE(cv_body(anon)->cvflags & CVf_CLONE);  // cloned when taken
    EXPECT_EQ(gcb->curpad[slot], nullptr);            // the clone fills the slot
    EXPECT_EQ(pad_find_lexical(gcb, "$y"), slot);     // found in its own pad now

    // A named sub that uses a lexical of an enclosing named sub.
    CV* named = code(outer, 0);
    gcb->compile_cv = named;
    gcb->comppad_name = sv_as<AV>(av_body(cv_body(named)->padlist)->array[0]);
    gcb->comppad = sv_as<AV>(av_body(cv_body(named)->padlist)->array[1]);
    gcb->curpad = av_body(gcb->comppad)->array;
    gcb->current_statement->cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL);
    uint32_t shared = pad_find_lexical(gcb, "$x");
    ASSERT_NE(shared, PAD_NOT_FOUND);
    EXPECT_EQ(sv_iv(gcb->curpad[shared]), 41);  // the outer value, shared
    EXPECT_EQ(warnings(), "Variable \"$x\" will not stay shared.\n");

    gcb->compile_cv = nullptr;
    gcb->comppad_name = names;
    gcb->comppad = pad;
    gcb->curpad = av_body(pad)->array;
}

}  // namespace
}  // namespace optree
