// The array and hash dereferences, list assignment and print, run directly.
#include "runtime/agg_ops_fixture.h"

#include "ds/src/prxio.h"
#include "ds/src/prxlibc.h"

namespace {

using runtime::Ops;

class Assign : public Ops {
protected:
    // Runs aassign on the right-hand values and left-hand lvalues.
    std::vector<SV*> assign(OP* o, const std::vector<SV*>& right, const std::vector<SV*>& left)
    {
        return call_two_lists(o, right, left);
    }
    AV* array(std::initializer_list<SV*> items)
    {
        AV* av = av_new_empty(gcb);
        for (SV* sv : items)
            av_append(gcb, av, sv);
        return av;
    }
};

TEST_F(Assign, CommonVariablesAreCopiedFirst)
{
    SV* a = pv("A");
    SV* b = pv("B");
    assign(op(OP_AASSIGN, OPf_WANT_VOID, OPpASSIGN_COMMON), {b, a}, {a, b});
    EXPECT_EQ(str(a), "B");
    EXPECT_EQ(str(b), "A");
    EXPECT_EQ(gcb->arg_sp, gcb->arg_base);
}

TEST_F(Assign, ArrayTakesTheRest)
{
    AV* av = array({pv("old")});
    SV* s = pv("keep?");
    std::vector<SV*> r = assign(op(OP_AASSIGN, OPf_WANT_LIST), {iv(1), iv(2)}, {as_sv(av), s});
    EXPECT_EQ(elements(av), "1,2");
    EXPECT_FALSE(sv_ok(s));
    EXPECT_EQ(texts(r), "1,2");
    EXPECT_EQ(r[0], av_body(av)->array[0]);
    // Scalar context counts the right-hand values, not the lvalues.
    OP* scalar = op(OP_AASSIGN, OPf_WANT_SCALAR);
    SV* x = undef();
    SV* y = undef();
    r = assign(scalar, {iv(7), iv(8), iv(9)}, {x, y});
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], targ(scalar));
    EXPECT_EQ(str(r[0]), "3");
    EXPECT_EQ(str(x), "7");
    EXPECT_EQ(str(y), "8");
}

TEST_F(Assign, ListResultWithoutAggregates)
{
    SV* x = undef();
    SV* y = undef();
    SV* z = undef();
    // Fewer values than lvalues: the rest of the result are the lvalues.
    std::vector<SV*> r = assign(op(OP_AASSIGN, OPf_WANT_LIST), {iv(1)}, {x, y, z});
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], x);
    EXPECT_EQ(r[1], y);
    EXPECT_EQ(r[2], z);
    EXPECT_FALSE(sv_ok(y));
    // The immortal undef only takes its value away.
    r = assign(op(OP_AASSIGN, OPf_WANT_VOID), {iv(1), iv(2)}, {&gcb->sv_undef, x});
    EXPECT_EQ(str(x), "2");
}

TEST_F(Assign, HashPairsAndTheOddElement)
{
    warnings_all();
    HV* hv = hv_new_empty(gcb);
    hv_store_str(gcb, hv, "gone", 4, iv(0), 0);
    assign(op(OP_AASSIGN, OPf_WANT_VOID), {pv("a"), iv(1), pv("b"), iv(2)}, {as_sv(hv)});
    EXPECT_EQ(hv_body(hv)->keys, 2);
    EXPECT_EQ(str(*hv_fetch_str(gcb, hv, "b", 1, 0)), "2");
    EXPECT_FALSE(hv_fetch_str(gcb, hv, "gone", 4, 0));
    EXPECT_EQ(err_text(), "");

    assign(op(OP_AASSIGN, OPf_WANT_VOID), {iv(1)}, {as_sv(hv)});
    EXPECT_EQ(err_text(), "Odd number of elements in hash assignment.\n");
    SV** v = hv_fetch_str(gcb, hv, "1", 1, 0);
    ASSERT_TRUE(v);
    EXPECT_FALSE(sv_ok(*v));

    gcb->err.len = 0;
    SV* ref = sv_new_reference(gcb, as_sv(av_new_empty(gcb)));
    assign(op(OP_AASSIGN, OPf_WANT_VOID), {ref}, {as_sv(hv)});
    EXPECT_EQ(err_text(), "Reference found where even-sized list expected.\n");
    EXPECT_EQ(hv_body(hv)->keys, 1);

    gcb->err.len = 0;
    warnings_none();
    assign(op(OP_AASSIGN, OPf_WANT_VOID), {pv("a"), iv(1), pv("odd")}, {as_sv(hv)});
    EXPECT_EQ(hv_body(hv)->keys, 2);
    EXPECT_EQ(err_text(), "");
}

namespace {
PERLGCB* uid_gcb = nullptr;
int32_t note_uid_change(int64_t, SV*)
{
    uid_gcb->delayed_ids |= 0x01;
    return 0;
}
}  // namespace

TEST_F(Assign, DelayedIdChanges)
{
    // A variable whose set magic records a user-id change, as $< does.
    uid_gcb = gcb;
    magic_uvar_record rec{nullptr, note_uid_change, 0};
    SV* uid = undef();
    sv_add_magic(gcb, uid, nullptr, 'U', reinterpret_cast<const char*>(&rec), sizeof rec);
    gcb->uid = gcb->euid = 7;
    host->messages.clear();
    assign(op(OP_AASSIGN, OPf_WANT_VOID), {iv(0)}, {uid});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(gcb->delayed_ids, 0);
    ASSERT_EQ(host->messages.size(), 1u);
    EXPECT_EQ(host->messages[0].args[0], "SETUID");
    EXPECT_EQ(gcb->uid, 0);
    EXPECT_EQ(gcb->euid, 0);

    gcb->uid = 1;
    gcb->euid = 2;
    gcb->err.len = 0;
    assign(op(OP_AASSIGN, OPf_WANT_VOID), {iv(0)}, {uid});
    // The delay ends even when the change fails.
    EXPECT_EQ(gcb->delayed_ids, 0);
    EXPECT_TRUE(died_with("No setreuid available")) << err_text();
}

TEST_F(Assign, ArrayDereference)
{
    AV* av = array({iv(1), pv("two")});
    SV* ref = sv_new_reference(gcb, as_sv(av));
    EXPECT_EQ(texts(call(op(OP_RV2AV, OPf_WANT_LIST), {ref})), "1,two");
    OP* count = op(OP_RV2AV, OPf_WANT_SCALAR);
    SV* r = call1(count, {ref});
    EXPECT_EQ(r, targ(count));
    EXPECT_EQ(str(r), "2");
    EXPECT_EQ(call1(op(OP_RV2AV, OPf_WANT_SCALAR | OPf_REF), {ref}), as_sv(av));
    // A hole reads as undef.
    av_store_element(gcb, av, 3, iv(4));
    EXPECT_EQ(texts(call(op(OP_RV2AV, OPf_WANT_LIST), {as_sv(av)})), "1,two,undef,4");
    // By name: the glob's array, made when missing.
    SV* name = pv("main::list");
    call1(op(OP_RV2AV, OPf_WANT_SCALAR), {name});
    GV* gv = gv_fetch_by_name(gcb, "main::list", 0, SVt_PVAV);
    ASSERT_TRUE(gv);
    EXPECT_TRUE(gv_gp(gv)->gp_av);
    // A name looked up without creating it.
    EXPECT_TRUE(call(op(OP_RV2AV, OPf_WANT_LIST | OPf_SPECIAL), {pv("main::nothing")}).empty());
    EXPECT_FALSE(gv_fetch_by_name(gcb, "main::nothing", 0, SVt_PVAV));
}

TEST_F(Assign, UndefinedDereference)
{
    warnings_all();
    EXPECT_TRUE(call(op(OP_RV2AV, OPf_WANT_LIST), {undef()}).empty());
    EXPECT_EQ(err_text(), "Use of uninitialized value in array dereference.\n");
    EXPECT_EQ(call1(op(OP_RV2HV, OPf_WANT_SCALAR), {undef()}), &gcb->sv_undef);
    gcb->err.len = 0;
    call(op(OP_RV2AV, OPf_WANT_LIST, OPpHINT_STRICT_REFS), {undef()});
    EXPECT_TRUE(died_with("Can't use an undefined value as an ARRAY reference")) << err_text();
    gcb->err.len = 0;
    call(op(OP_RV2HV, OPf_WANT_LIST, OPpHINT_STRICT_REFS), {pv("name")});
    EXPECT_TRUE(died_with("Can't use string (\"name\") as a HASH ref while \"strict refs\" in use")) << err_text();
    gcb->err.len = 0;
    call(op(OP_RV2AV, OPf_WANT_LIST), {sv_new_reference(gcb, iv(1))});
    EXPECT_TRUE(died_with("Not an ARRAY reference")) << err_text();
}

TEST_F(Assign, HashDereferenceInScalarContext)
{
    HV* hv = hv_new_empty(gcb);
    SV* ref = sv_new_reference(gcb, as_sv(hv));
    OP* o = op(OP_RV2HV, OPf_WANT_SCALAR);
    SV* r = call1(o, {ref});
    EXPECT_EQ(r, targ(o));
    EXPECT_TRUE(r->flags & SVf_IOK);
    EXPECT_EQ(str(r), "0");
    hv_store_str(gcb, hv, "k", 1, iv(1), 0);
    r = call1(o, {ref});
    EXPECT_EQ(str(r), "1/" + std::to_string(hv_body(hv)->max + 1));
}

class Print : public Ops {
protected:
    GV* out = nullptr;
    void SetUp() override
    {
        Ops::SetUp();
        out = handle("STDOUT", 0, PRX_STDOUT);
        gcb->default_output_glob = out;
    }
    GV* handle(const char* name, PrxStream in, PrxStream output)
    {
        GV* gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVIO);
        gv_ensure_handle(gcb, gv);
        io_body(gv_gp(gv)->gp_io)->ifp = in;
        io_body(gv_gp(gv)->gp_io)->ofp = output;
        return gv;
    }
    std::string out_text() const
    {
        bool error = false;
        return hostsim::Host::decode_lines(std::string(gcb->out.buf ? gcb->out.buf : "", gcb->out.len), &error);
    }
};

TEST_F(Print, EveryItemAndSeparatorIsWritten)
{
    host->messages.clear();
    SV* r = call1(op(OP_PRINT), {pv("a"), pv("b")}, true);
    EXPECT_EQ(r, &gcb->sv_yes);
    EXPECT_EQ(out_text(), "ab");
    EXPECT_TRUE(host->messages.empty());

    char ofs[] = ",";
    char ors[] = "\n";
    gcb->output_field_sep = ofs;
    gcb->output_field_sep_len = 1;
    gcb->output_record_sep = ors;
    gcb->output_record_sep_len = 1;
    r = call1(op(OP_PRINT), {iv(1), pv(""), nv(2.5)}, true);
    EXPECT_EQ(r, &gcb->sv_yes);
    EXPECT_EQ(out_text(), "ab1,,2.5\n");
    EXPECT_TRUE(host->messages.empty());
    gcb->output_field_sep = gcb->output_record_sep = nullptr;
}

TEST_F(Print, ToAHandleGivenFirst)
{
    GV* err = handle("STDERR", 0, PRX_STDERR);
    SV* r = call1(op(OP_PRINT, OPf_WANT_SCALAR | OPf_STACKED), {as_sv(err), pv("oops\n")}, true);
    EXPECT_EQ(r, &gcb->sv_yes);
    EXPECT_EQ(err_text(), "oops\n");
    EXPECT_EQ(out_text(), "");
}

TEST_F(Print, StreamErrorQuery)
{
    host->messages.clear();
    EXPECT_EQ(prx_ferror(PRX_STDOUT), 0);
    EXPECT_EQ(prx_ferror(PRX_STDERR), 0);
    EXPECT_TRUE(host->messages.empty());
    EXPECT_EQ(prx_ferror(0), -1);
    ASSERT_EQ(host->messages.size(), 1u);
    EXPECT_EQ(host->messages[0].args[0], "FERROR");
}

TEST_F(Print, ValuesByKind)
{
    warnings_all();
    gcb->op = op(OP_PRINT);
    EXPECT_EQ(do_print_value(gcb, nullptr, PRX_STDOUT), 1);
    EXPECT_EQ(do_print_value(gcb, undef(), PRX_STDOUT), 1);
    EXPECT_EQ(err_text(), "Use of uninitialized value in print.\n");
    EXPECT_EQ(do_print_value(gcb, iv(int64_t{1} << 40), PRX_STDOUT), 1);
    EXPECT_EQ(do_print_value(gcb, pv("|"), PRX_STDOUT), 1);
    EXPECT_EQ(do_print_value(gcb, iv(-5), PRX_STDOUT), 1);
    EXPECT_EQ(do_print_value(gcb, pv("|"), PRX_STDOUT), 1);
    EXPECT_EQ(do_print_value(gcb, uv(UINT64_MAX), PRX_STDOUT), 1);
    EXPECT_EQ(do_print_value(gcb, pv(""), PRX_STDOUT), 1);
    EXPECT_EQ(out_text(), "1099511627776|-5|18446744073709551615");
    // A stream that is not captured takes nothing.
    EXPECT_EQ(do_print_value(gcb, pv("x"), 7), 0);
}

TEST_F(Print, NumberFormat)
{
    char fmt[] = "%.2f";
    gcb->number_format = fmt;
    call(op(OP_PRINT), {nv(3.14159), pv("|"), iv(0), pv("|"), pv("0"), pv("|"), iv(2), pv("|"), pv("2.5"), pv("|"), pv("2.5x")}, true);
    EXPECT_EQ(out_text(), "3.14|0|0|2.00|2.50|2.5x");
    gcb->number_format = nullptr;
}

TEST_F(Print, HandlesThatCannotTakeOutput)
{
    warnings_all();
    GV* in = handle("IN", 3, 0);
    SV* r = call1(op(OP_PRINT, OPf_WANT_SCALAR | OPf_STACKED), {as_sv(in), pv("x")}, true);
    EXPECT_EQ(r, &gcb->sv_undef);
    EXPECT_EQ(gcb->errno_cell, 2);
    EXPECT_EQ(err_text(), "Filehandle IN opened only for input.\n");

    gcb->err.len = 0;
    gcb->errno_cell = 0;
    GV* none = gv_fetch_by_name(gcb, "NOPE", GV_ADD, SVt_PV);
    r = call1(op(OP_PRINT, OPf_WANT_SCALAR | OPf_STACKED), {as_sv(none), pv("x")}, true);
    EXPECT_EQ(r, &gcb->sv_undef);
    EXPECT_EQ(gcb->errno_cell, 2);
    EXPECT_EQ(err_text(), "print() on unopened filehandle NOPE.\n");
    EXPECT_EQ(out_text(), "");
}

namespace tied {
std::vector<std::string> printed;
void print_method(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    std::string line;
    for (int32_t i = 1; i < f.items; i++) {
        uint64_t len = 0;
        const char* p = sv_text(gcb, xs_arg(gcb, f, i), &len);
        line += std::string(p, len) + ";";
    }
    printed.push_back(line);
    xs_arg(gcb, f, 0) = sv_make_temporary(gcb, sv_new_from_cstring(gcb, "printed", 0));
    xs_return(gcb, f, 1);
}
}  // namespace tied

TEST_F(Print, TiedHandlesGetPrint)
{
    tied::printed.clear();
    sub_define_xs(gcb, "TiedFh::PRINT", tied::print_method, "test");
    GV* t = handle("TIED", 0, 0);
    sv_add_magic(gcb, as_sv(t), tie_object_in("TiedFh"), 'q', nullptr, 0);
    std::vector<SV*> first = call(op(OP_PRINT, OPf_WANT_SCALAR | OPf_STACKED), {as_sv(t), pv("x"), iv(1)}, true);
    ASSERT_EQ(code, 0) << err_text();
    ASSERT_EQ(first.size(), 1u);
    SV* r = first[0];
    EXPECT_EQ(str(r), "printed");
    // The default handle tied: the items move up to make room for the object.
    gcb->default_output_glob = t;
    r = call1(op(OP_PRINT), {pv("a"), pv("b")}, true);
    EXPECT_EQ(str(r), "printed");
    ASSERT_EQ(tied::printed.size(), 2u);
    EXPECT_EQ(tied::printed[0], "x;1;");
    EXPECT_EQ(tied::printed[1], "a;b;");
    EXPECT_EQ(out_text(), "");
}

}  // namespace
