// The op-tree dump and the name lines: the TYPE line with sequence numbers,
// the FLAGS and PRIVATE names by type, the fields by type, the pattern
// block, and the glob and hash name lines.
#include "optree/optree_fixture.h"

#include <cstring>
#include <functional>

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxpool.h"

namespace optree {
namespace {

class Dump : public Compile {
public:
    // A bare record of the shape, for the dump alone.
    OP* bare(uint16_t type, uint8_t flags, uint8_t priv, size_t size = sizeof(op_pattern))
    {
        OP* o = static_cast<OP*>(pool_malloc(gcb, size));
        std::memset(o, 0, size);
        op_set_type(gcb, o, type);
        o->op_flags = flags;
        o->op_private = priv;
        made.push_back(o);
        return o;
    }
    void TearDown() override
    {
        for (OP* o : made)
            pool_free(gcb, o);
        Compile::TearDown();
    }
    // The text that the printer writes at the end of the debug stream.
    std::string written(const std::function<void()>& write)
    {
        uint32_t before = gcb->out.len;
        write();
        bool error = false;
        return hostsim::Host::decode_lines(std::string(gcb->out.buf + before, gcb->out.len - before), &error);
    }
    std::vector<OP*> made;
};

TEST_F(Dump, TypeLineAndSequenceNumbers)
{
    OP* target = bare(OP_STUB, 0, 0);
    target->op_seq = 7;
    OP* o = bare(OP_STUB, 0, 0);
    o->op_next = target;
    EXPECT_EQ(dump(o), "{\n    TYPE = stub  ===> (7)\n}\n");
    o->op_seq = 12;
    EXPECT_EQ(dump(o), "{\n12  TYPE = stub  ===> 7\n}\n");
    o->op_next = nullptr;
    EXPECT_EQ(dump(o), "{\n12  TYPE = stub  ===> DONE\n}\n");
}

TEST_F(Dump, FlagAndPrivateNames)
{
    struct Case {
        uint16_t type;
        uint8_t flags;
        uint8_t priv;
        uint32_t targ;
        const char* lines;  // the lines after the TYPE line
    };
    const Case cases[] = {
        {OP_NULL, 0, 0, OP_CONST, "      (was const)\n"},
        {OP_STUB, 0x06, 0, 0, "    FLAGS = (SCALAR,KIDS)\n"},
        {OP_STUB, 0x04, 0, 0, "    FLAGS = (UNKNOWN,KIDS)\n"},
        {OP_STUB, 0xFF, 0, 0, "    FLAGS = (LIST,KIDS,PARENS,STACKED,REF,MOD,SPECIAL)\n"},
        {OP_RV2CV, OPf_MOD, 0x80, 0, "    FLAGS = (UNKNOWN,MOD)\n    PRIVATE = (INTRO,INTRO)\n"},
        {OP_ENTERSUB, 0, 0x10, 0, "    PRIVATE = (DB,OUR_INTRO)\n"},
        {OP_AELEM, 0, 0x30, 0, "    PRIVATE = (AV,LVAL_DEFER)\n"},
        {OP_HELEM, 0, 0x02, 0, ""},
        {OP_STUB, 0, 0x01, 0, ""},
        {OP_TRANS, 0, 0x38, 0, "    PRIVATE = (SQUASH,DELETE,COMPLEMENT)\n"},
        {OP_AASSIGN, 0, 0x60, 0, "    PRIVATE = (COMMON,HASH)\n"},
        {OP_ADD, 0, 0x10, 3, "    TARG = 3\n    PRIVATE = (TARGET_MY)\n"},
        {OP_LEAVE, 0, 0x40, 2, "    TARG = 2\n    REFCNT = 2\n"},
        {OP_LEAVE, 0, 0x00, 2, "    TARG = 2\n"},
    };
    for (const Case& c : cases) {
        OP* o = bare(c.type, c.flags & ~OPf_KIDS, c.priv);
        o->op_flags = c.flags;  // KIDS without kids: the dump only names it
        OP* saved_first = op_first_kid(o);
        if (c.flags & OPf_KIDS)
            op_first_kid(o) = nullptr;
        o->op_targ = c.targ;
        o->op_next = nullptr;
        std::string head = std::string("{\n    TYPE = ") + gcb->op_name_table[c.type] + "  ===> DONE\n";
        EXPECT_EQ(dump(o), head + c.lines + "}\n") << gcb->op_name_table[c.type];
        op_first_kid(o) = saved_first;
    }
}

TEST_F(Dump, FieldsByType)
{
    OP* k = konst(1);
    k->op_next = nullptr;
    EXPECT_EQ(dump(k), "{\n    TYPE = const  ===> DONE\n    FLAGS = (SCALAR)\n    SV = \n}\n");
    op_free_tree(gcb, k);

    OP* gv = bare(OP_GV, 0, 0);
    EXPECT_EQ(dump(gv), "{\n    TYPE = gv  ===> DONE\n    GV = NULL\n}\n");
    op_value_sv(gv) = as_sv(gv_fetch_by_name(gcb, "Pkg::name", GV_ADD, SVt_PV));
    EXPECT_EQ(dump(gv), "{\n    TYPE = gv  ===> DONE\n    GV = Pkg::name\n}\n");

    OP* stop = bare(OP_STUB, 0, 0);
    stop->op_seq = 9;
    op_loop* loop = reinterpret_cast<op_loop*>(bare(OP_ENTERLOOP, 0, 0));
    loop->op_redoop = stop;
    loop->op_nextop = stop;
    EXPECT_EQ(dump(&loop->op),
              "{\n    TYPE = enterloop  ===> DONE\n    REDO ===> 9\n    NEXT ===> 9\n    LAST ===> DONE\n}\n");
    op_logical* logic = reinterpret_cast<op_logical*>(bare(OP_AND, 0, 0));
    logic->op_other = stop;
    EXPECT_EQ(dump(&logic->op), "{\n    TYPE = and  ===> DONE\n    OTHER ===> 9\n}\n");
}

TEST_F(Dump, PatternBlock)
{
    op_pattern* pm = reinterpret_cast<op_pattern*>(bare(OP_MATCH, 0, 0));
    EXPECT_EQ(dump(&pm->op),
              "{\n    TYPE = match  ===> DONE\n    {\n        PMf_PRE (RUNTIME)\n    }\n}\n");
    // A flag word without names still shows the line, empty.
    pm->op_pmflags = 0x0004;
    EXPECT_EQ(dump(&pm->op),
              "{\n    TYPE = match  ===> DONE\n    {\n        PMf_PRE (RUNTIME)\n        PMFLAGS = ()\n    }\n}\n");
    pm->op_pmflags = 0x0002 | 0x0100 | 0x0001;
    pm->op_pmdynflags = 0x01;
    EXPECT_EQ(dump(&pm->op), "{\n    TYPE = match  ===> DONE\n    {\n        PMf_PRE (RUNTIME)\n"
                             "        PMFLAGS = (USED,ONCE,GLOBAL,RETAINT)\n    }\n}\n");
    // A pushre never shows a replacement; a subst does, as a tree of its own.
    OP* repl = bare(OP_STUB, 0, 0);
    op_pattern* push = reinterpret_cast<op_pattern*>(bare(OP_PUSHRE, 0, 0));
    push->op_pmreplroot = repl;
    EXPECT_EQ(dump(&push->op), "{\n    TYPE = pushre  ===> DONE\n    {\n        PMf_PRE (RUNTIME)\n    }\n}\n");
    op_pattern* subst = reinterpret_cast<op_pattern*>(bare(OP_SUBST, 0, 0));
    subst->op_pmreplroot = repl;
    EXPECT_EQ(dump(&subst->op), "{\n    TYPE = subst  ===> DONE\n    {\n        PMf_PRE (RUNTIME)\n"
                                "        PMf_REPL = {\n    TYPE = stub  ===> DONE\n}\n    }\n}\n");
    EXPECT_EQ(written([&] { dump_pattern_op_debug(gcb, nullptr); }), "{}\n");
}

TEST_F(Dump, NameLines)
{
    GV* gv = gv_fetch_by_name(gcb, "x", GV_ADD, SVt_PV);
    std::string line = written([&] { dump_glob_name_line(gcb, 1, PRX_STDOUT, "  GVGV::GV", gv); });
    EXPECT_EQ(line.substr(0, 19), "      GVGV::GV = 0x");
    EXPECT_EQ(line.substr(line.size() - 15), "\t\"main\" :: \"x\"\n");
    line = written([&] { dump_glob_short_name_line(gcb, 3, PRX_STDOUT, "TOP_GV", gv); });
    EXPECT_EQ(line.substr(0, 21), "            TOP_GV = ");
    EXPECT_EQ(line.substr(line.size() - 5), "\t\"x\"\n");
    EXPECT_EQ(written([&] { dump_hash_name_line(gcb, 0, PRX_STDOUT, "STASH", nullptr); }), "STASH = 0x0\n");
    line = written([&] { dump_hash_name_line(gcb, 0, PRX_STDOUT, "STASH", gcb->main_stash); });
    EXPECT_EQ(line.substr(line.size() - 8), "\t\"main\"\n");
    EXPECT_EQ(written([&] { dump_glob_name_line(gcb, 0, PRX_STDOUT, "GV", nullptr); }), "GV = 0x0\n");
}

TEST_F(Dump, SubsOfPackagesAndTheProgram)
{
    // A native sub in main and a sub with a body in a nested package.
    GV* f = gv_fetch_by_name(gcb, "f", GV_ADD, SVt_PVCV);
    CV* native = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(native), SVt_PVCV);
    cv_body(native)->xsub = reinterpret_cast<void*>(0x1234);
    cv_body(native)->xsubany = 5;
    gv_gp(f)->gp_cv = native;
    GV* g = gv_fetch_by_name(gcb, "Inner::g", GV_ADD, SVt_PVCV);
    CV* sub = sv_as<CV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(sub), SVt_PVCV);
    OP* body = bare(OP_STUB, 0, 0);
    cv_body(sub)->root = body;
    gv_gp(g)->gp_cv = sub;
    host->clear_records();
    std::string out = written([&] { dump_program(gcb); });
    EXPECT_NE(out.find("\nSUB main::f = (xsub 0x1234 5)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("\nSUB Inner::g = {\n    TYPE = stub  ===> DONE\n}\n"), std::string::npos) << out;
    // Line buffering of the debug stream is not available: reported, and the dump goes on.
    ASSERT_EQ(host->messages.size(), 1u);
    EXPECT_EQ(host->messages[0].number, 304);
    EXPECT_EQ(host->messages[0].args, std::vector<std::string>{"SETVBUF"});
    gv_gp(f)->gp_cv = nullptr;
    gv_gp(g)->gp_cv = nullptr;
}

}  // namespace
}  // namespace optree
