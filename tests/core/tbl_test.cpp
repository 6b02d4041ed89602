// The per-interpreter table block and the op table data it copies.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "ds/src/prxmg.h"
#include "ds/src/prxop.h"
#include "ds/src/prxtbl.h"
#include "hostsim/hostsim.h"

extern "C" int64_t mcn_main(host_vector* hv, void* handle);

namespace {

PERLGCB* fresh_interp(hostsim::Host& h)
{
    mcn_main(&h.vec, nullptr);
    return interp_alloc();
}

TEST(TableBlock, CopiesHoldTheTables)
{
    hostsim::Host& h = hostsim::reset();
    PERLGCB* gcb = fresh_interp(h);
    ASSERT_NE(gcb, nullptr);
    ASSERT_EQ(init_table_block(gcb), 0u);

    EXPECT_STREQ(gcb->op_name_table[0], "null");
    EXPECT_STREQ(gcb->op_desc_table[0], "null operation");
    EXPECT_STREQ(gcb->op_name_table[OP_METHOD_NAMED], "method_named");
    EXPECT_STREQ(gcb->signal_name_table[26], "CLD");
    EXPECT_EQ(gcb->signal_number_table[26], 20u);
    EXPECT_EQ(gcb->signal_number_table[20], 20u);
    EXPECT_STREQ(gcb->signal_name_table[20], "CHLD");
    EXPECT_EQ(gcb->signal_name_table[27], nullptr);
    EXPECT_EQ(gcb->signal_number_table[27], 0u);

    // Case swap: letters swap, everything else maps to itself.
    EXPECT_EQ(gcb->fold_table[uint8_t{'A'}], 'a');
    EXPECT_EQ(gcb->fold_table[uint8_t{'z'}], 'Z');
    EXPECT_EQ(gcb->fold_table[uint8_t{'5'}], '5');
    EXPECT_EQ(gcb->fold_table[0xC4], 0xC4);

    // The magic method tables are copied into the block of the interpreter.
    EXPECT_EQ(gcb->magic_vtbl[PL_vtbl_sv].get, &magic_special_get);
    EXPECT_EQ(gcb->magic_vtbl[PL_vtbl_backref].free, &magic_killbackrefs);
    interp_free(gcb);
}

// One allocation of 13228 bytes holds every part: each part is a copy of its
// image, the parts lie inside the block and none overlaps another.
TEST(TableBlock, PartsAreDisjointCopiesInsideOneBlock)
{
    hostsim::Host& h = hostsim::reset();
    PERLGCB* gcb = fresh_interp(h);
    ASSERT_NE(gcb, nullptr);
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    uint64_t bytes = pool->live_bytes, blocks = pool->allocations;
    ASSERT_EQ(init_table_block(gcb), 0u);
    EXPECT_EQ(pool->live_bytes - bytes, 13228u);
    EXPECT_EQ(pool->allocations - blocks, 1u);

    struct Part {
        const char* name;
        const void* copy;
        const void* image;
        size_t bytes;
    } parts[] = {
        {"run-time functions", gcb->op_run_function_table, op_run_function_image, sizeof op_run_function_image},
        {"check routines", gcb->op_check_table, op_check_image, sizeof op_check_image},
        {"names", gcb->op_name_table, op_name_image, sizeof op_name_image},
        {"descriptions", gcb->op_desc_table, op_desc_image, sizeof op_desc_image},
        {"signal names", gcb->signal_name_table, signal_name_image, sizeof signal_name_image},
        {"argument classes", gcb->op_args_table, op_args_image, sizeof op_args_image},
        {"signal numbers", gcb->signal_number_table, signal_number_image, sizeof signal_number_image},
        {"case swap", gcb->fold_table, case_swap_image, sizeof case_swap_image},
    };
    auto* start = static_cast<const uint8_t*>(parts[0].copy);
    for (const Part& p : parts) {
        SCOPED_TRACE(p.name);
        auto* at = static_cast<const uint8_t*>(p.copy);
        EXPECT_NE(p.copy, p.image);
        EXPECT_EQ(std::memcmp(p.copy, p.image, p.bytes), 0);
        EXPECT_GE(at, start);
        EXPECT_LE(at + p.bytes, start + 13228);
        for (const Part& q : parts) {
            auto* other = static_cast<const uint8_t*>(q.copy);
            if (&q != &p) {
                EXPECT_TRUE(at + p.bytes <= other || other + q.bytes <= at) << "overlaps " << q.name;
            }
        }
    }
    EXPECT_EQ(std::memcmp(gcb->magic_vtbl, magic_table_image, sizeof magic_table_image), 0);
    interp_free(gcb);
}

TEST(TableBlock, NoMemoryLeavesEveryFieldUnset)
{
    hostsim::Host& h = hostsim::reset();
    PERLGCB* gcb = fresh_interp(h);
    ASSERT_NE(gcb, nullptr);
    h.fail.fail_next = true;
    EXPECT_EQ(init_table_block(gcb), 1u);
    EXPECT_EQ(gcb->op_run_function_table, nullptr);
    EXPECT_EQ(gcb->op_name_table, nullptr);
    EXPECT_EQ(gcb->signal_name_table, nullptr);
    EXPECT_EQ(gcb->fold_table, nullptr);
    EXPECT_EQ(gcb->magic_vtbl[PL_vtbl_sv].get, nullptr);
    interp_free(gcb);
}

TEST(TableBlock, EachInterpreterOwnsItsCopies)
{
    hostsim::Host& h = hostsim::reset();
    mcn_main(&h.vec, nullptr);
    PERLGCB* a = interp_alloc();
    ASSERT_EQ(init_table_block(a), 0u);
    hostsim::Task* t2 = h.add_task("second");
    h.make_current(t2);
    PERLGCB* b = interp_alloc();
    ASSERT_NE(b, a);
    ASSERT_EQ(init_table_block(b), 0u);
    a->op_check_table[OP_CONST] = &ck_null;
    EXPECT_EQ(b->op_check_table[OP_CONST], &ck_const);
    EXPECT_EQ(op_check_image[OP_CONST], &ck_const);
    interp_free(b);
    h.make_current(h.main_task());
    interp_free(a);
}

// The rows that the op table's readers rely on, with their description,
// check routine and argument-class word.
TEST(OpTable, TellingRows)
{
    struct Row {
        int type;
        const char* name;
        const char* desc;
        op_check_fn check;
        uint32_t args;
    } rows[] = {
        {0, "null", "null operation", &ck_null, 0x0},
        {1, "stub", "stub", &ck_null, 0x0},
        {2, "scalar", "scalar", &ck_scalar, 0x3604},
        {3, "pushmark", "pushmark", &ck_null, 0x4},
        {5, "const", "constant item", &ck_const, 0xc04},
        {7, "gv", "glob value", &ck_null, 0xc44},
        {9, "padsv", "private variable", &ck_null, 0x44},
        {15, "rv2sv", "scalar dereference", &ck_rv2gv, 0x244},
        {26, "readline", "<HANDLE>", &ck_null, 0x1608},
        {31, "match", "pattern match (m//)", &ck_match, 0xa40},
        {32, "qr", "pattern quote (qr//)", &ck_match, 0xa04},
        {33, "subst", "substitution (s///)", &ck_null, 0x2a54},
        {35, "trans", "transliteration (tr///)", &ck_null, 0x3014},
        {36, "sassign", "scalar assignment", &ck_sassign, 0x4},
        {37, "aassign", "list assignment", &ck_null, 0x44408},
        {62, "add", "addition (+)", &ck_null, 0x2252e},
        {63, "i_add", "integer addition (+)", &ck_null, 0x2251e},
        {111, "substr", "substr", &ck_substr, 0x1322280c},
        {141, "list", "list", &ck_null, 0x4801},
        {159, "and", "logical and (&&)", &ck_null, 0x600},
        {162, "cond_expr", "conditional expression", &ck_null, 0x640},
        {166, "entersub", "subroutine entry", &ck_entersub, 0x4249},
        {173, "lineseq", "line sequence", &ck_null, 0x800},
        {174, "nextstate", "next statement", &ck_null, 0x1404},
        {179, "scope", "block", &ck_null, 0x800},
        {180, "enteriter", "foreach loop entry", &ck_null, 0x1240},
        {185, "last", "last", &ck_null, 0x1a44},
        {207, "leavewrite", "write exit", &ck_null, 0x200},
        {234, "lstat", "lstat", &ck_lstat, 0xd880},
        {236, "ftrread", "-R", &ck_lstat, 0xd894},
        {262, "ftbinary", "-B", &ck_lstat, 0xd894},
        {310, "dofile", "do \"file\"", &ck_scalar, 0x2240},
        {311, "entereval", "eval \"string\"", &ck_entereval, 0x3640},
        {312, "leaveeval", "eval \"string\" exit", &ck_null, 0x2200},
        {350, "method_named", "method with known name", &ck_null, 0xc40},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        EXPECT_STREQ(op_name_image[r.type], r.name);
        EXPECT_STREQ(op_desc_image[r.type], r.desc);
        EXPECT_EQ(op_check_image[r.type], r.check);
        EXPECT_EQ(op_args_image[r.type], r.args);
    }
}

// Shared run-time functions: the groups the op table names, and no others.
TEST(OpTable, SharedRunTimeFunctions)
{
    const std::set<std::set<std::string>> groups = {
        {"null", "scalar", "regcmaybe", "lineseq", "scope"},
        {"const", "gv"},
        {"values", "keys"},
        {"preinc", "i_preinc"},
        {"predec", "i_predec"},
        {"postinc", "i_postinc"},
        {"postdec", "i_postdec"},
        {"untie", "dbmclose"},
        {"read", "sysread", "recv"},
        {"sysseek", "seek"},
        {"fcntl", "ioctl"},
        {"lstat", "stat"},
        {"ftsock", "ftchr", "ftblk", "ftfile", "ftdir", "ftpipe"},
        {"unlink", "chmod", "utime"},
        {"localtime", "gmtime"},
        {"shmget", "shmctl", "shmread", "shmwrite", "msgget", "msgctl", "msgsnd", "msgrcv", "semget", "semctl",
         "semop"},
    };
    std::set<std::set<std::string>> found;
    std::set<op_run_fn> fns;
    for (int i = 0; i < OP_max; i++) {
        fns.insert(op_run_function_image[i]);
        std::set<std::string> g;
        for (int j = 0; j < OP_max; j++)
            if (op_run_function_image[j] == op_run_function_image[i])
                g.insert(op_name_image[j]);
        if (g.size() > 1)
            found.insert(g);
    }
    EXPECT_EQ(found, groups);
    EXPECT_EQ(fns.size(), 317u);
    EXPECT_EQ(op_run_function_image[OP_SCALAR], &pp_null);
    EXPECT_EQ(op_run_function_image[OP_GV], &pp_const);
    EXPECT_EQ(op_run_function_image[OP_SEEK], &pp_sysseek);
}

// The check column: 40 routines, with the counts of the check table.
TEST(OpTable, CheckRoutineCounts)
{
    std::map<op_check_fn, int> count;
    for (int i = 0; i < OP_max; i++)
        count[op_check_image[i]]++;
    EXPECT_EQ(count.size(), 40u);
    EXPECT_EQ(count[&ck_scalar], 131);
    EXPECT_EQ(count[&ck_null], 117);
    EXPECT_EQ(count[&ck_lstat], 29);
    EXPECT_EQ(count[&ck_undef], 10);
    EXPECT_EQ(count[&ck_left_shift], 6);
    EXPECT_EQ(count[&ck_rv2gv], 5);
    EXPECT_EQ(count[&ck_slt], 5);
    EXPECT_EQ(count[&ck_sprintf], 5);
    EXPECT_EQ(count[&ck_refgen], 3);
    EXPECT_EQ(op_check_image[OP_COMPLEMENT], &ck_left_shift);
    EXPECT_EQ(op_check_image[OP_POS], &ck_undef);
    EXPECT_EQ(op_check_image[OP_EOF], &ck_getc);
}

// Every description differs from the name only where the table says so.
TEST(OpTable, DescriptionsDefaultToTheName)
{
    int differ = 0;
    for (int i = 0; i < OP_max; i++)
        if (std::strcmp(op_name_image[i], op_desc_image[i]) != 0)
            differ++;
    EXPECT_EQ(differ, 203);
    EXPECT_STREQ(op_desc_image[OP_BACKTICK], "quoted execution (``, qx)");
    EXPECT_STREQ(op_desc_image[OP_OPEN_DIR], "opendir");
    EXPECT_STREQ(op_desc_image[OP_SORT], "sort");
}

// Magic letters and their rows.
TEST(MagicTables, LettersMapToTheirRows)
{
    struct Case {
        char letter;
        int32_t row;
    } cases[] = {
        {'\0', PL_vtbl_sv}, {'E', PL_vtbl_env}, {'e', PL_vtbl_envelem}, {'S', PL_vtbl_sig}, {'s', PL_vtbl_sigelem},
        {'P', PL_vtbl_pack}, {'p', PL_vtbl_packelem}, {'q', PL_vtbl_packelem}, {'l', PL_vtbl_dbline}, {'I', PL_vtbl_isa},
        {'i', PL_vtbl_isaitem}, {'#', PL_vtbl_arylen}, {'*', PL_vtbl_glob}, {'g', PL_vtbl_mglob}, {'k', PL_vtbl_nkeys},
        {'t', PL_vtbl_taint}, {'x', PL_vtbl_substr}, {'v', PL_vtbl_vec}, {'.', PL_vtbl_pos}, {'B', PL_vtbl_bm},
        {'f', PL_vtbl_fm}, {'U', PL_vtbl_uvar}, {'y', PL_vtbl_defelem}, {'r', PL_vtbl_pattern}, {'D', PL_vtbl_matchoffsets},
        {'d', PL_vtbl_matchoffsetitem}, {'A', PL_vtbl_amagic}, {'a', PL_vtbl_amagicelem}, {'<', PL_vtbl_backref},
        {'L', MG_ROW_NONE}, {'~', MG_ROW_NONE}, {'c', MG_ROW_NONE},
        {'Q', MG_ROW_UNKNOWN}, {'z', MG_ROW_UNKNOWN}, {'!', MG_ROW_UNKNOWN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mg_table_row_for_type(c.letter), c.row) << "letter " << int(c.letter);
    EXPECT_EQ(PL_vtbl_backref, 27);
    EXPECT_STREQ(mg_table_dump_name(PL_vtbl_sv), "sv");
    EXPECT_STREQ(mg_table_dump_name(PL_vtbl_amagicelem), "amagicelem");
    for (int32_t unnamed : {PL_vtbl_isaitem, PL_vtbl_pattern, PL_vtbl_matchoffsets, PL_vtbl_matchoffsetitem})
        EXPECT_EQ(mg_table_dump_name(unnamed), nullptr);
}

TEST(MagicTables, SlotsOfTheTelltaleRows)
{
    const magic_method_table* t = magic_table_image;
    // %SIG as a whole has no methods; its elements act.
    EXPECT_EQ(t[PL_vtbl_sig].get, nullptr);
    EXPECT_EQ(t[PL_vtbl_sig].set, nullptr);
    EXPECT_EQ(t[PL_vtbl_sig].len, nullptr);
    EXPECT_EQ(t[PL_vtbl_sig].clear, nullptr);
    EXPECT_EQ(t[PL_vtbl_sig].free, nullptr);
    EXPECT_EQ(t[PL_vtbl_env].clear, &magic_nothing);
    EXPECT_EQ(t[PL_vtbl_isa].set, &magic_isa_set);
    EXPECT_EQ(t[PL_vtbl_isa].clear, &magic_isa_set);
    EXPECT_EQ(t[PL_vtbl_amagic].free, &magic_amagic_set);
    EXPECT_EQ(t[PL_vtbl_pack].len, &magic_pack_len);
    EXPECT_EQ(t[PL_vtbl_packelem].get, &magic_call_tie_method);
    EXPECT_EQ(t[PL_vtbl_matchoffsets].len, &magic_matchoffsets_len);
    EXPECT_EQ(t[PL_vtbl_pattern].free, &magic_pattern_free);
}

}  // namespace
