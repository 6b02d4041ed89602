// The value and magic dumps on the captured standard output of a
// constructed interpreter: whole dumps of a string, numbers, a reference,
// an array, a hash and the magic of %ENV, written out with the addresses
// put in; the quoted display of bytes; the one-line description; the magic
// record lines of hand-made records.
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "ds/src/prxav.h"
#include "ds/src/prxcall.h"
#include "ds/src/prxdump.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxpool.h"
#include "ds/src/prxsv.h"
#include "support/eval_fixture.h"

namespace {

// An address as the dump's "%lx" shows it: its low 32 bits in hex.
std::string hex(const void* p)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)));
    return buf;
}

// The text with each {name} replaced.
std::string fill(std::string text, const std::map<std::string, std::string>& vars)
{
    for (const auto& [name, value] : vars) {
        std::string key = "{" + name + "}";
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    }
    return text;
}

class DumpSv : public prxtest::EvalTest {
protected:
    void SetUp() override
    {
        EvalTest::SetUp();
        ASSERT_TRUE(started());
        clear_captures();
    }
    // What a dump wrote to the captured standard output; cleared.
    std::string dumped()
    {
        std::string text = out_text();
        gcb->out.len = 0;
        return text;
    }
    std::string dump(SV* sv)
    {
        dump_value(gcb, sv);
        return dumped();
    }
    SV* temp(SV* sv) { return sv_make_temporary(gcb, sv); }
    std::string quote(const std::string& bytes, uint64_t len, uint64_t limit)
    {
        SV* dest = temp(sv_new_from_bytes(gcb, nullptr, 0));
        return dump_quote_string(gcb, dest, bytes.data(), bytes.size(), len, limit);
    }
    MAGIC* magic(char type)
    {
        MAGIC* mg = static_cast<MAGIC*>(pool_malloc(gcb, sizeof(MAGIC)));
        std::memset(mg, 0, sizeof *mg);
        mg->type = type;
        made.push_back(mg);
        return mg;
    }
    void TearDown() override
    {
        for (MAGIC* mg : made)
            pool_free(gcb, mg);
        EvalTest::TearDown();
    }
    std::vector<MAGIC*> made;
};

TEST_F(DumpSv, AString)
{
    SV* sv = temp(sv_new_from_cstring(gcb, "abc", 0));
    EXPECT_EQ(dump(sv), fill("SV = PV(0x{body}) at 0x{head}\n"
                             "  REFCNT = 1\n"
                             "  FLAGS = (TEMP,POK,pPOK)\n"
                             "  PV = 0x{pv} \"abc\"\\0\n"
                             "  CUR = 3\n"
                             "  LEN = 4\n",
                             {{"body", hex(sv->any)}, {"head", hex(sv)}, {"pv", hex(sv_pv(sv))}}));
}

TEST_F(DumpSv, Numbers)
{
    SV* iv = temp(sv_new_from_int(gcb, -42));
    EXPECT_EQ(dump(iv), fill("SV = IV(0x{body}) at 0x{head}\n"
                             "  REFCNT = 1\n"
                             "  FLAGS = (TEMP,IOK,pIOK)\n"
                             "  IV = -42\n",
                             {{"body", hex(iv->any)}, {"head", hex(iv)}}));
    SV* nv = temp(sv_new_from_double(gcb, 0.1));
    EXPECT_EQ(dump(nv), fill("SV = NV(0x{body}) at 0x{head}\n"
                             "  REFCNT = 1\n"
                             "  FLAGS = (TEMP,NOK,pNOK)\n"
                             "  NV = 0.1\n",
                             {{"body", hex(nv->any)}, {"head", hex(nv)}}));
    // A number that was also read as a string.
    SV* both = temp(sv_new_from_int(gcb, 7));
    uint64_t len = 0;
    sv_to_string(gcb, both, &len);
    EXPECT_EQ(dump(both), fill("SV = PVIV(0x{body}) at 0x{head}\n"
                               "  REFCNT = 1\n"
                               "  FLAGS = (TEMP,IOK,POK,pIOK,pPOK)\n"
                               "  IV = 7\n"
                               "  PV = 0x{pv} \"7\"\\0\n"
                               "  CUR = 1\n"
                               "  LEN = {len}\n",
                               {{"body", hex(both->any)},
                                {"head", hex(both)},
                                {"pv", hex(sv_pv(both))},
                                {"len", std::to_string(sv_len(both))}}));
    EXPECT_EQ(dump(nullptr), "SV = 0\n");
}

TEST_F(DumpSv, AReferenceAndItsReferentByNesting)
{
    // The reference holds the one count of the referent beside the
    // temporaries stack.
    SV* target = sv_new_from_int(gcb, 3);
    SV* ref = temp(sv_new_reference(gcb, target));
    sv_release(gcb, target);
    std::string head = fill("SV = RV(0x{body}) at 0x{head}\n"
                            "  REFCNT = 1\n"
                            "  FLAGS = (TEMP,ROK)\n"
                            "  RV = 0x{target}\n",
                            {{"body", hex(ref->any)}, {"head", hex(ref)}, {"target", hex(target)}});
    // dump_value follows no reference.
    EXPECT_EQ(dump(ref), head);
    dump_value_full(gcb, 0, PRX_STDOUT, ref, 0, 1, 0, 0);
    EXPECT_EQ(dumped(), head + fill("    SV = IV(0x{body}) at 0x{head}\n"
                                    "      REFCNT = 1\n"
                                    "      FLAGS = (IOK,pIOK)\n"
                                    "      IV = 3\n",
                                    {{"body", hex(target->any)}, {"head", hex(target)}}));
}

TEST_F(DumpSv, AnArrayAndItsElements)
{
    AV* av = av_new_empty(gcb);
    sv_make_temporary(gcb, as_sv(av));
    av_append(gcb, av, sv_new_from_int(gcb, 7));
    av_append(gcb, av, nullptr);
    av_append(gcb, av, sv_new_from_cstring(gcb, "x", 0));
    PVAV* b = av_body(av);
    std::string head = fill("SV = PVAV(0x{body}) at 0x{head}\n"
                            "  REFCNT = 1\n"
                            "  FLAGS = (TEMP)\n"
                            "  IV = 0\n"
                            "  NV = 0\n"
                            "  ARRAY = 0x{array}\n"
                            "  FILL = 2\n"
                            "  MAX = {max}\n"
                            "  ARYLEN = 0x0\n"
                            "  FLAGS = (REAL)\n",
                            {{"body", hex(b)}, {"head", hex(av)}, {"array", hex(b->array)},
                             {"max", std::to_string(b->max)}});
    EXPECT_EQ(dump(as_sv(av)), head);
    // Two levels: the first two elements (one of them missing).
    dump_value_full(gcb, 0, PRX_STDOUT, as_sv(av), 0, 2, 0, 0);
    SV* e0 = b->array[0];
    EXPECT_EQ(dumped(), head + fill("    Elt No. 0\n"
                                    "    SV = IV(0x{body}) at 0x{head}\n"
                                    "      REFCNT = 1\n"
                                    "      FLAGS = (IOK,pIOK)\n"
                                    "      IV = 7\n"
                                    "    Elt No. 1\n",
                                    {{"body", hex(e0->any)}, {"head", hex(e0)}}));
}

TEST_F(DumpSv, AHashAndItsEntries)
{
    HV* hv = hv_new_empty(gcb);
    sv_make_temporary(gcb, as_sv(hv));
    SV* one = sv_new_from_int(gcb, 1);
    hv_store_str(gcb, hv, "k", 1, one, 0);
    PVHV* b = hv_body(hv);
    std::string head = fill("SV = PVHV(0x{body}) at 0x{head}\n"
                            "  REFCNT = 1\n"
                            "  FLAGS = (TEMP,SHAREKEYS)\n"
                            "  IV = 1\n"
                            "  NV = 0\n"
                            "  ARRAY = 0x{array}  (0:7, 1:1)\n"
                            "  hash quality = 150.0%\n"
                            "  KEYS = 1\n"
                            "  FILL = 1\n"
                            "  MAX = 7\n"
                            "  RITER = -1\n"
                            "  EITER = 0x0\n",
                            {{"body", hex(b)}, {"head", hex(hv)}, {"array", hex(b->array)}});
    EXPECT_EQ(dump(as_sv(hv)), head);
    dump_value_full(gcb, 0, PRX_STDOUT, as_sv(hv), 0, 1, 0, 0);
    EXPECT_EQ(dumped(), head + fill("    Elt \"k\" HASH = 0x{hash}\n"
                                    "    SV = IV(0x{body}) at 0x{head}\n"
                                    "      REFCNT = 1\n"
                                    "      FLAGS = (IOK,pIOK)\n"
                                    "      IV = 1\n",
                                    {{"hash", hex(reinterpret_cast<void*>(static_cast<uintptr_t>(
                                                  hv_key_hash("k", 1))))},
                                     {"body", hex(one->any)},
                                     {"head", hex(one)}}));
    // The walk leaves the iterator as it found it.
    EXPECT_EQ(b->riter, -1);
    EXPECT_EQ(b->eiter, nullptr);
}

TEST_F(DumpSv, ALongBucketChainCountsAsTheLast)
{
    // 250 entries in one bucket of an otherwise empty table.
    HV* hv = hv_new_empty(gcb);
    sv_make_temporary(gcb, as_sv(hv));
    PVHV* b = hv_body(hv);
    std::vector<hash_entry> chain(250);
    for (size_t i = 0; i + 1 < chain.size(); i++)
        chain[i].next = &chain[i + 1];
    hash_entry* buckets[4] = {nullptr, &chain[0], nullptr, nullptr};
    hash_entry** saved_array = b->array;
    uint64_t saved_max = b->max;
    b->array = buckets;
    b->max = 3;
    b->keys = 250;
    dump_value(gcb, as_sv(hv));
    b->array = saved_array;
    b->max = saved_max;
    b->keys = 0;
    std::string text = dumped();
    EXPECT_NE(text.find("  (0:3, 199+:1)\n"), std::string::npos) << text;
    // 250 + 250 * 250 / 256 expected against 199 * 199 counted.
    EXPECT_NE(text.find("  hash quality = 1.2%\n"), std::string::npos) << text;
}

TEST_F(DumpSv, TheMagicOfTheEnvironmentHash)
{
    GV* env = gv_fetch_by_name(gcb, "ENV", 0, SVt_PVHV);
    ASSERT_NE(env, nullptr);
    HV* hv = gv_gp(env)->gp_hv;
    MAGIC* mg = sv_magic_chain(as_sv(hv));
    ASSERT_NE(mg, nullptr);
    dump_magic_chain_debug(gcb, mg);
    EXPECT_EQ(dumped(), fill("  MAGIC = 0x{mg}\n"
                             "    MG_VIRTUAL = &PL_vtbl_env\n"
                             "    MG_TYPE = 'E'\n"
                             "    MG_OBJ = 0x{obj}\n",
                             {{"mg", hex(mg)}, {"obj", hex(env)}}));
    // Inside the value dump the chain stands after the number lines.
    EXPECT_EQ(dump(as_sv(hv)), fill("SV = PVHV(0x{body}) at 0x{head}\n"
                                    "  REFCNT = {refcnt}\n"
                                    "  FLAGS = (SMG,RMG,SHAREKEYS)\n"
                                    "  IV = 0\n"
                                    "  NV = 0\n"
                                    "  MAGIC = 0x{mg}\n"
                                    "    MG_VIRTUAL = &PL_vtbl_env\n"
                                    "    MG_TYPE = 'E'\n"
                                    "    MG_OBJ = 0x{obj}\n"
                                    "  ARRAY = 0x{array}\n"
                                    "  KEYS = 0\n"
                                    "  FILL = 0\n"
                                    "  MAX = 7\n"
                                    "  RITER = -1\n"
                                    "  EITER = 0x0\n",
                                    {{"body", hex(hv->any)},
                                     {"head", hex(hv)},
                                     {"refcnt", std::to_string(hv->refcnt)},
                                     {"mg", hex(mg)},
                                     {"obj", hex(env)},
                                     {"array", hex(hv_body(hv)->array)}}));
}

TEST_F(DumpSv, MagicRecordLines)
{
    MAGIC* plain = magic('E');
    plain->virt = &gcb->magic_vtbl[1];
    dump_magic_chain_debug(gcb, plain);
    EXPECT_EQ(dumped(), fill("  MAGIC = 0x{mg}\n    MG_VIRTUAL = &PL_vtbl_env\n    MG_TYPE = 'E'\n", {{"mg", hex(plain)}}));
    dump_magic_chain_debug(gcb, nullptr);
    EXPECT_EQ(dumped(), "");

    struct Case {
        char type;
        int32_t table;   // row of this interpreter's tables, -1 none
        uint16_t priv;
        uint8_t flags;
        int32_t len;
        const char* bytes;
        uint64_t limit;
        const char* want;  // the lines after the MAGIC line
    };
    const Case cases[] = {
        {'\0', -1, 0, 0, 0, nullptr, 0, "    MG_VIRTUAL = 0\n    MG_TYPE = '\\0'\n"},
        {'\x9f', -1, 0, 0, 0, nullptr, 0, "    MG_VIRTUAL = 0\n    MG_TYPE = '\\237'\n"},
        // The table of an ISA element has no name.
        {'i', 9, 0, 0, 0, nullptr, 0, "    MG_VIRTUAL = 0x{t9}\n    MG_TYPE = 'i'\n"},
        {'P', 5, 7, 0x03, 0, nullptr, 0,
         "    MG_VIRTUAL = &PL_vtbl_pack\n    MG_PRIVATE = 7\n    MG_TYPE = 'P'\n    MG_FLAGS = 0x03\n"
         "      TAINTEDDIR\n      REFCOUNTED\n      MINMATCH\n"},
        {'~', -1, 0, 0x08, 0, nullptr, 0, "    MG_VIRTUAL = 0\n    MG_TYPE = '~'\n    MG_FLAGS = 0x08\n"},
        {'~', -1, 0, 0, 3, "abc", 0, "    MG_VIRTUAL = 0\n    MG_TYPE = '~'\n    MG_LEN = 3\n    MG_PTR = 0x{ptr} \"abc\"\n"},
        {'~', -1, 0, 0, 3, "abc", 2, "    MG_VIRTUAL = 0\n    MG_TYPE = '~'\n    MG_LEN = 3\n    MG_PTR = 0x{ptr} \"a\"...\n"},
        {'~', -1, 0, 0, 0, "abc", 0, "    MG_VIRTUAL = 0\n    MG_TYPE = '~'\n    MG_PTR = 0x{ptr} \"\"\n"},
        {'~', -1, 0, 0, -1, "abc", 0,
         "    MG_VIRTUAL = 0\n    MG_TYPE = '~'\n    MG_LEN = -1\n    MG_PTR = 0x{ptr} ???? - please notify VANTLE\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.want);
        MAGIC* mg = magic(c.type);
        if (c.table >= 0)
            mg->virt = &gcb->magic_vtbl[c.table];
        mg->priv = c.priv;
        mg->mgflags = c.flags;
        mg->len = c.len;
        mg->ptr = const_cast<char*>(c.bytes);
        dump_magic_chain(gcb, 0, PRX_STDOUT, mg, 0, 0, 0, c.limit);
        EXPECT_EQ(dumped(), fill(std::string("  MAGIC = 0x{mg}\n") + c.want,
                                 {{"mg", hex(mg)}, {"t9", hex(&gcb->magic_vtbl[9])}, {"ptr", hex(c.bytes)}}));
    }
}

TEST_F(DumpSv, MagicRecordsThatHoldValues)
{
    SV* obj = temp(sv_new_from_int(gcb, 5));
    MAGIC* loose = magic('~');
    loose->obj = obj;
    MAGIC* counted = magic('~');
    counted->obj = obj;
    counted->mgflags = 0x02;
    MAGIC* key = magic('~');
    key->len = -2;
    key->ptr = reinterpret_cast<char*>(obj);
    // The chain in order; the held values two levels deeper.
    loose->next = counted;
    counted->next = key;
    dump_magic_chain(gcb, 1, PRX_STDOUT, loose, 0, 0, 0, 0);
    std::string value = fill("            SV = IV(0x{body}) at 0x{head}\n"
                             "              REFCNT = 1\n"
                             "              FLAGS = (TEMP,IOK,pIOK)\n"
                             "              IV = 5\n",
                             {{"body", hex(obj->any)}, {"head", hex(obj)}});
    EXPECT_EQ(dumped(), fill("      MAGIC = 0x{a}\n"
                             "        MG_VIRTUAL = 0\n"
                             "        MG_TYPE = '~'\n"
                             "        MG_OBJ = 0x{obj}\n"
                             "      MAGIC = 0x{b}\n"
                             "        MG_VIRTUAL = 0\n"
                             "        MG_TYPE = '~'\n"
                             "        MG_FLAGS = 0x02\n"
                             "          REFCOUNTED\n"
                             "        MG_OBJ = 0x{obj}\n",
                             {{"a", hex(loose)}, {"b", hex(counted)}, {"obj", hex(obj)}}) +
                            value +
                            fill("      MAGIC = 0x{c}\n"
                                 "        MG_VIRTUAL = 0\n"
                                 "        MG_TYPE = '~'\n"
                                 "        MG_LEN = -2\n"
                                 "        MG_PTR = 0x{obj} => HEf_SVKEY\n",
                                 {{"c", hex(key)}, {"obj", hex(obj)}}) +
                            value);
}

TEST_F(DumpSv, QuotedDisplay)
{
    std::string two_hundred(200, 'a');
    std::string shown = quote(two_hundred, 0, 127);
    EXPECT_EQ(shown, "\"" + std::string(126, 'a') + "\"...");
    EXPECT_EQ(quote(two_hundred, 0, 0), "\"" + two_hundred + "\"");
    struct Case {
        std::string bytes;
        uint64_t len;
        const char* want;
    };
    const Case cases[] = {
        {std::string("\x01" "7", 2), 0, "\"\\0017\""},
        {std::string("\x01" "a", 2), 0, "\"\\1a\""},
        {std::string("a\"b\\c", 5), 0, "\"a\\\"b\\\\c\""},
        // The stand-in host's class table does not count the control bytes
        // of white space as printable: they show in octal.
        {std::string("a\tb\n", 4), 0, "\"a\\11b\\12\""},
        {std::string("\xff", 1), 0, "\"\\377\""},
        {std::string("", 0), 0, "\"\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(quote(c.bytes, c.len, 0), c.want) << c.want;
    // A NUL after the bytes, inside the allocated size, is shown.
    SV* sv = temp(sv_new_from_cstring(gcb, "hi", 0));
    SV* dest = temp(sv_new_from_bytes(gcb, nullptr, 0));
    EXPECT_STREQ(dump_quote_string(gcb, dest, sv_pv(sv), sv_cur(sv), sv_len(sv), 0), "\"hi\"\\0");
    EXPECT_STREQ(dump_quote_string(gcb, dest, sv_pv(sv), sv_cur(sv), sv_cur(sv), 0), "\"hi\"");
}

TEST_F(DumpSv, BriefDescriptions)
{
    EXPECT_STREQ(dump_value_brief(gcb, nullptr), "VOID");
    EXPECT_STREQ(dump_value_brief(gcb, &gcb->sv_undef), "SV_UNDEF");
    EXPECT_STREQ(dump_value_brief(gcb, &gcb->sv_no), "SV_NO");
    EXPECT_STREQ(dump_value_brief(gcb, &gcb->sv_yes), "SV_YES");
    EXPECT_STREQ(dump_value_brief(gcb, temp(sv_new_undef(gcb, 0))), "UNDEF");
    EXPECT_STREQ(dump_value_brief(gcb, temp(sv_new_from_int(gcb, -5))), "IV(-5)");
    EXPECT_STREQ(dump_value_brief(gcb, temp(sv_new_from_uint(gcb, 4000000000u))), "IV(4000000000)");
    EXPECT_STREQ(dump_value_brief(gcb, temp(sv_new_from_double(gcb, 2.5))), "NV(2.5)");
    EXPECT_STREQ(dump_value_brief(gcb, temp(sv_new_from_cstring(gcb, "ab", 0))), "PV(\"ab\"\\0)");
    SV* three = temp(sv_new_from_int(gcb, 3));
    EXPECT_STREQ(dump_value_brief(gcb, temp(sv_new_reference(gcb, three))), "\\IV(3)");
    EXPECT_STREQ(dump_value_brief(gcb, temp(sv_new_reference(gcb, as_sv(av_new_empty(gcb))))), "\\AV()");

    // A reference to a reference to ... stops once the text and the open
    // parentheses pass 10 bytes.
    SV* chain = three;
    for (int i = 0; i < 12; i++)
        chain = temp(sv_new_reference(gcb, chain));
    EXPECT_STREQ(dump_value_brief(gcb, chain), "\\\\\\...");

    // A value no one holds is shown in parentheses.
    SV* loose = temp(sv_new_from_int(gcb, 9));
    loose->refcnt = 0;
    EXPECT_STREQ(dump_value_brief(gcb, loose), "(IV(9))");
    loose->refcnt = 1;

    // An immortal whose flags changed is named and then described.
    uint32_t saved = gcb->sv_yes.flags;
    gcb->sv_yes.flags &= ~SVf_NOK;
    EXPECT_STREQ(dump_value_brief(gcb, &gcb->sv_yes), "SV_YES:PVNV(\"1\"\\0)");
    gcb->sv_yes.flags = saved;
}

}  // namespace

namespace {

class DumpSvBodies : public DumpSv {
protected:
    // Whether each line stands in the text, in this order.
    void expect_lines(const std::string& text, const std::vector<std::string>& lines)
    {
        size_t at = 0;
        for (const std::string& line : lines) {
            size_t found = text.find(line, at);
            EXPECT_NE(found, std::string::npos) << "missing: " << line << "\nin:\n" << text;
            if (found != std::string::npos)
                at = found + line.size();
        }
    }
};

TEST_F(DumpSvBodies, AGlobAndItsSub)
{
    prxtest::EvalResult r = eval("sub dumped_sub { 42 } 1");
    ASSERT_EQ(r.error, "");
    GV* gv = gv_fetch_by_name(gcb, "main::dumped_sub", 0, SVt_PVCV);
    ASSERT_NE(gv, nullptr);
    CV* cv = gv_gp(gv)->gp_cv;
    ASSERT_NE(cv, nullptr);
    std::string text = dump(as_sv(gv));
    expect_lines(text, {"SV = PVGV(0x" + hex(gv->any) + ") at 0x" + hex(gv) + "\n",
                        "  NAME = \"dumped_sub\"\n",
                        "  NAMELEN = 10\n",
                        "  GvSTASH = 0x" + hex(gcb->main_stash) + "\t\"main\"\n",
                        "  GP = 0x" + hex(gv_gp(gv)) + "\n",
                        "    FORM = 0x0  \n",
                        "    CV = 0x" + hex(cv) + "\n",
                        "    EGV = 0x" + hex(gv) + "\t\"dumped_sub\"\n"});
    text = dump(as_sv(cv));
    expect_lines(text, {"SV = PVCV(0x" + hex(cv->any) + ") at 0x" + hex(cv) + "\n",
                        "  COMP_STASH = 0x" + hex(gcb->main_stash) + "\t\"main\"\n",
                        "  ROOT = 0x" + hex(static_cast<PVCV*>(cv->any)->root) + "\n",
                        "  GVGV::GV = 0x" + hex(gv) + "\t\"main\" :: \"dumped_sub\"\n",
                        "  DEPTH = 0\n",
                        "  OUTSIDE = 0x" + hex(static_cast<PVCV*>(cv->any)->outside) + " (UNIQUE)\n"});
    // Defined inside a string eval: its outer code is the eval's.
    // The op tree comes only when asked for.
    EXPECT_EQ(text.find("TYPE = leavesub"), std::string::npos);
    dump_value_full(gcb, 0, PRX_STDOUT, as_sv(cv), 0, 0, 1, 0);
    EXPECT_NE(dumped().find("    TYPE = leavesub  ===> DONE\n"), std::string::npos);
}

TEST_F(DumpSvBodies, AHandle)
{
    GV* gv = gv_fetch_by_name(gcb, "STDERR", 0, SVt_PVIO);
    ASSERT_NE(gv, nullptr);
    IO* io = gv_gp(gv)->gp_io;
    ASSERT_NE(io, nullptr);
    expect_lines(dump(as_sv(io)), {"SV = PVIO(0x" + hex(io->any) + ") at 0x" + hex(io) + "\n", "  IFP = 0x",
                                   "  OFP = 0x2\n", "  DIRP = 0x0\n", "  LINES = 0\n", "  PAGE_LEN = 60\n",
                                   "  TOP_GV = 0x0\n", "  FMT_GV = 0x0\n", "  BOTTOM_GV = 0x0\n",
                                   "  SUBPROCESS = 0\n", "  TYPE = '\\0'\n", "  FLAGS = 0x"});
}

TEST_F(DumpSvBodies, AnLvalueShowsItsTargetWhateverTheLimit)
{
    SV* target = temp(sv_new_from_cstring(gcb, "hello", 0));
    SV* lv = temp(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, lv, SVt_PVLV);
    PVLV* b = static_cast<PVLV*>(lv->any);
    b->type = 'x';
    b->targoff = 1;
    b->targlen = 3;
    b->targ = target;
    std::string text = dump(lv);
    b->targ = nullptr;
    expect_lines(text, {"SV = PVLV(0x" + hex(lv->any) + ") at 0x" + hex(lv) + "\n", "  TYPE = x\n",
                        "  TARGOFF = 1\n", "  TARGLEN = 3\n", "  TARG = 0x" + hex(target) + "\n",
                        "SV = PV(0x" + hex(target->any) + ") at 0x" + hex(target) + "\n", "  PV = 0x",
                        " \"hello\"\\0\n"});
}

TEST_F(DumpSvBodies, AStringWithAnOffset)
{
    SV* sv = temp(sv_new_from_cstring(gcb, "abcdef", 0));
    sv_chop_front(gcb, sv, sv_pv(sv) + 2);
    std::string text = dump(sv);
    expect_lines(text, {"  FLAGS = (TEMP,POK,OOK,pPOK)\n", "  IV = 2  (OFFSET)\n",
                        "  PV = 0x" + hex(sv_pv(sv)) + " ( \"ab\" . ) \"cdef\"\\0\n", "  CUR = 4\n"});
    EXPECT_STREQ(dump_value_brief(gcb, sv), "PVIV([\"ab\"]\"cdef\"\\0)");
}

}  // namespace
