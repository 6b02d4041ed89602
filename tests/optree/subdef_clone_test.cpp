// Closure prototypes and their clones: captured lexicals bound to the
// variables live in the running outer sub, fresh own lexicals, the shared
// op tree, and a closure inside a closure.
#include "optree/optree_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxgv.h"

namespace optree {
namespace {

class Clone : public Compile {
public:
    // sub make { my $n; [my $own;] sub { $n; [sub { $n }] } } compiled the
    // way the parser drives it.
    CV* compile_make(bool nested, bool own)
    {
        int32_t outer_floor = start_sub_compile(gcb, 0, 0);
        int32_t outer_block = op_open_block(gcb, 1);
        OP* seq = op_new_statement(gcb, 0, nullptr, op_declare_my(gcb, my_scalar("$n")));
        int32_t anon_floor = start_sub_compile(gcb, 0, CVf_ANON);
        int32_t anon_block = op_open_block(gcb, 1);
        OP* body = op_new_statement(gcb, 0, nullptr, lexical("$n"));
        if (own)
            body = op_list_append(gcb, OP_LINESEQ, body,
                                  op_new_statement(gcb, 0, nullptr, op_declare_my(gcb, my_scalar("$own"))));
        if (nested) {
            int32_t inner_floor = start_sub_compile(gcb, 0, CVf_ANON);
            int32_t inner_block = op_open_block(gcb, 1);
            OP* inner = op_close_block(gcb, inner_block, op_new_statement(gcb, 0, nullptr, lexical("$n")));
            body = op_list_append(gcb, OP_LINESEQ, body,
                                  op_new_statement(gcb, 0, nullptr,
                                                   op_new_anon_sub(gcb, inner_floor, nullptr, nullptr, inner)));
        }
        body = op_close_block(gcb, anon_block, body);
        OP* anon = op_new_anon_sub(gcb, anon_floor, nullptr, nullptr, body);
        seq = op_list_append(gcb, OP_LINESEQ, seq, op_new_statement(gcb, 0, nullptr, anon));
        seq = op_close_block(gcb, outer_block, seq);
        return sub_define(gcb, outer_floor, kstr("make"), nullptr, nullptr, seq);
    }
    OP* lexical(const char* name)
    {
        OP* o = op_new_base(gcb, OP_PADSV, 0);
        o->op_targ = pad_find_lexical(gcb, name);
        EXPECT_NE(o->op_targ, PAD_NOT_FOUND) << name;
        return o;
    }
    static AV* names_of(CV* cv) { return sv_as<AV>(av_body(cv_body(cv)->padlist)->array[0]); }
    static AV* pad_of(CV* cv, int32_t depth = 1)
    {
        return sv_as<AV>(av_body(cv_body(cv)->padlist)->array[depth]);
    }
    // The slot of a name in a sub's name pad, or -1.
    static int32_t slot_of(CV* cv, const char* name)
    {
        AV* names = names_of(cv);
        for (int32_t i = av_body(names)->fill; i > 0; i--) {
            SV* n = av_body(names)->array[i];
            if (n && sv_type(n) >= SVt_PV && (n->flags & SVf_POK) && std::strcmp(sv_pv(n), name) == 0)
                return i;
        }
        return -1;
    }
    static SV* slot_value(CV* cv, const char* name) { return av_body(pad_of(cv))->array[slot_of(cv, name)]; }
};

TEST_F(Clone, TwoCallsGiveTwoBindings)
{
    CV* make = compile_make(false, true);
    ASSERT_NE(make, nullptr);
    CV* proto = sv_as<CV>(slot_value(make, "&"));
    ASSERT_EQ(sv_type(as_sv(proto)), SVt_PVCV);
    EXPECT_EQ(cv_body(proto)->cvflags & (CVf_CLONE | CVf_ANON), CVf_CLONE | CVf_ANON);
    EXPECT_EQ(cv_body(proto)->outside, make);

    // The first call of make: its $n is live in its pad at depth 1.
    cv_body(make)->depth = 1;
    SV* first_n = slot_value(make, "$n");
    CV* c1 = cv_clone(gcb, proto);
    // Between calls the lexical is renewed, as a scope exit does for one
    // that a closure holds.
    int32_t n_slot = slot_of(make, "$n");
    SV* second_n = sv_new_undef(gcb, 0);
    second_n->flags |= SVs_PADMY | SVs_PADBUSY;
    SV** slots = av_body(pad_of(make))->array;
    SV* old = slots[n_slot];
    slots[n_slot] = second_n;
    sv_release(gcb, old);
    CV* c2 = cv_clone(gcb, proto);
    cv_body(make)->depth = 0;

    EXPECT_EQ(slot_value(c1, "$n"), first_n);
    EXPECT_EQ(slot_value(c2, "$n"), second_n);
    EXPECT_NE(slot_value(c1, "$own"), slot_value(c2, "$own"));
    EXPECT_TRUE(slot_value(c1, "$own")->flags & SVs_PADMY);
    for (CV* c : {c1, c2}) {
        PVCV* b = cv_body(c);
        EXPECT_EQ(b->cvflags & (CVf_CLONE | CVf_CLONED), CVf_CLONED);
        EXPECT_EQ(b->root, cv_body(proto)->root);
        EXPECT_EQ(b->start, cv_body(proto)->start);
        EXPECT_EQ(b->outside, make);
        // Slot 0 is a fresh argument array.
        AV* args = sv_as<AV>(av_body(pad_of(c))->array[0]);
        EXPECT_EQ(av_body(args)->avflags, AVf_REIFY);
        // The names are shared with the prototype.
        EXPECT_EQ(names_of(c) == names_of(proto), false);
        EXPECT_EQ(av_body(names_of(c))->array[slot_of(c, "$n")], av_body(names_of(proto))->array[slot_of(proto, "$n")]);
    }
    // The tree counts its holders: the prototype and both clones.
    EXPECT_EQ(cv_body(proto)->root->op_targ, 3u);
    sv_release(gcb, as_sv(c1));
    EXPECT_EQ(cv_body(proto)->root->op_targ, 2u);
    sv_release(gcb, as_sv(c2));
    EXPECT_EQ(cv_body(proto)->root->op_targ, 1u);
}

TEST_F(Clone, ClosureInsideAClosure)
{
    CV* make = compile_make(true, false);
    CV* proto = sv_as<CV>(slot_value(make, "&"));
    CV* inner_proto = sv_as<CV>(slot_value(proto, "&"));
    ASSERT_EQ(sv_type(as_sv(inner_proto)), SVt_PVCV);
    EXPECT_TRUE(cv_body(inner_proto)->cvflags & CVf_CLONE);
    // The middle sub captured $n too, so that the inner one can reach it.
    EXPECT_GT(slot_of(proto, "$n"), 0);

    cv_body(make)->depth = 1;
    CV* c = cv_clone(gcb, proto);
    cv_body(make)->depth = 0;
    CV* inner = sv_as<CV>(slot_value(c, "&"));
    ASSERT_NE(inner, inner_proto);
    EXPECT_EQ(cv_body(inner)->cvflags & (CVf_CLONE | CVf_CLONED), CVf_CLONE | CVf_CLONED);
    EXPECT_EQ(cv_body(inner)->outside, c);
    EXPECT_EQ(slot_value(inner, "$n"), slot_value(make, "$n"));
    sv_release(gcb, as_sv(c));
}

TEST_F(Clone, NotFoundSharesThePrototypeValue)
{
    // No outer call is running: the captured slot shares the prototype's.
    CV* make = compile_make(false, false);
    CV* proto = sv_as<CV>(slot_value(make, "&"));
    CV* c = cv_clone(gcb, proto);
    EXPECT_EQ(slot_value(c, "$n"), slot_value(proto, "$n"));
    sv_release(gcb, as_sv(c));
}

}  // namespace
}  // namespace optree
