// Transliteration: the byte-table engines (simple, count, complex with the
// c, d and s flags) on byte and UTF-8 strings, the swash engines over a
// swash made by hand, the entry checks, and pp_trans with its operand or $_.
#include "runtime/strop_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxio.h"
#include "ds/src/prxmg.h"

namespace {

constexpr uint8_t FROM_UTF8 = 0x01, TO_UTF8 = 0x02, IDENTICAL = 0x04, SQUASH = 0x08, DELETE = 0x10,
                  COMPLEMENT = 0x20, GROWS = 0x40;

class Trans : public runtime::OpCall {
protected:
    // A tr/from/to/ op over byte texts (ranges already spelled out), with
    // the c, d and s flags; its table is built as the compiler builds it.
    OP* tr(const std::string& from, const std::string& to, uint8_t flags = 0)
    {
        int16_t* table = static_cast<int16_t*>(pool_malloc(gcb, 256 * sizeof(int16_t)));
        OP* o = op_new_string(gcb, OP_TRANS, OPf_STACKED, reinterpret_cast<char*>(table));
        o->op_private = flags;
        o->op_next = &after;
        return op_trans_tables(gcb, o, op_new_value(gcb, OP_CONST, 0, bytes(from)),
                               op_new_value(gcb, OP_CONST, 0, bytes(to)));
    }
    // A UTF-8 tr op over a swash made by hand: map gives the look-up result
    // of each listed character, every other one looks up as none.
    OP* tr_utf8(const std::map<uint32_t, uint32_t>& map, uint32_t none, uint8_t flags,
                const std::vector<uint32_t>& also, int64_t final_cp = -1)
    {
        SV* sw = swash(map, none, also);
        HV* hv = sv_as<HV>(sv_rv(sw));
        hv_store_str(gcb, hv, "NONE", 4, sv_new_from_uint(gcb, none), 0);
        if (final_cp >= 0)
            hv_store_str(gcb, hv, "FINAL", 5, sv_new_from_uint(gcb, static_cast<uint64_t>(final_cp)), 0);
        OP* o = op_new_string(gcb, OP_TRANS, OPf_STACKED, reinterpret_cast<char*>(sw));
        o->op_private = static_cast<uint8_t>(flags | FROM_UTF8 | TO_UTF8);
        o->op_next = &after;
        return o;
    }
    // Runs the op on the value through pp_trans; the count it pushed.
    int64_t apply(OP* o, SV* sv)
    {
        Outcome out = call(o, {sv});
        EXPECT_EQ(out.next, &after);
        SV* r = one(out);
        EXPECT_TRUE(r->flags & SVs_TEMP);
        return sv_to_int(gcb, r);
    }
    static std::string alphabet() { return "abcdefghijklmnopqrstuvwxyz"; }
    static std::string upper() { return "ABCDEFGHIJKLMNOPQRSTUVWXYZ"; }
};

TEST_F(Trans, ByteTables)
{
    struct Case {
        std::string from, to;
        uint8_t flags;
        std::string in, out;
        int64_t count;
    } cases[] = {
        {alphabet(), upper(), 0, "hello", "HELLO", 5},
        {alphabet(), upper(), 0, "Hello, World", "HELLO, WORLD", 8},
        {alphabet(), "", 0, "hello world", "hello world", 10},
        {alphabet() + upper(), "", COMPLEMENT, "hello, world", "hello, world", 2},
        {alphabet(), "_", COMPLEMENT, "a1b2", "a_b_", 2},
        {"abc", "", DELETE, "abcabcx", "x", 6},
        {"abc", "X", DELETE, "aabbcc", "XX", 6},
        {alphabet(), "", SQUASH, "aabbccdd", "abcd", 8},
        {alphabet(), "", SQUASH, "aab1bcc", "ab1bc", 6},
        {"a", "a", SQUASH, "aaXaa", "aXa", 4},
        {"aX", "a", DELETE | SQUASH, "aaXaa", "a", 5},
        {"ab", "x", SQUASH, "abab", "x", 4},
        {alphabet(), "", COMPLEMENT | DELETE, "a1-b2", "ab", 3},
        {"0123456789", "", COMPLEMENT | SQUASH, "a12bb3", "a12b3", 3},
        {alphabet(), upper(), 0, "", "", 0},
    };
    for (const Case& c : cases) {
        SV* sv = bytes(c.in);
        EXPECT_EQ(apply(tr(c.from, c.to, c.flags), sv), c.count) << c.from << "/" << c.to << " " << c.in;
        EXPECT_EQ(str(sv), c.out) << c.from << "/" << c.to << " " << c.in;
    }
}

TEST_F(Trans, ByteTablesOnUtf8Strings)
{
    // Characters above 255 pass through every byte engine and do not count.
    SV* sv = utf8("\xe2\x98\xba" "a\xe2\x98\xba");
    EXPECT_EQ(apply(tr("a", "b"), sv), 1);
    EXPECT_EQ(hex(str(sv)), hex("\xe2\x98\xba" "b\xe2\x98\xba"));
    EXPECT_TRUE(sv->flags & SVf_UTF8);
    sv = utf8("\xe2\x98\xba\xe2\x98\xba");
    EXPECT_EQ(apply(tr(alphabet(), upper()), sv), 0);
    EXPECT_EQ(apply(tr(alphabet(), "", DELETE), sv), 0);
    EXPECT_EQ(hex(str(sv)), "e298bae298ba");

    // A character below 256 written as two bytes is translated by value.
    sv = utf8("caf\xc3\xa9");
    EXPECT_EQ(apply(tr("\xe9", "e"), sv), 1);
    EXPECT_EQ(str(sv), "cafe");
    // A replacement above 127 grows the string: GROWS makes room.
    sv = utf8("aaa");
    OP* grows = tr("a", "\xe9");
    EXPECT_TRUE(grows->op_private & GROWS);
    EXPECT_EQ(apply(grows, sv), 3);
    EXPECT_EQ(hex(str(sv)), "c3a9c3a9c3a9");
    // Counting and the complex engine read characters too.
    sv = utf8("\xc3\xa9\xc3\xa9x\xe2\x98\xba");
    EXPECT_EQ(apply(tr("\xe9", ""), sv), 2);
    EXPECT_EQ(apply(tr("\xe9", "", SQUASH), sv), 2);
    EXPECT_EQ(hex(str(sv)), "c3a978e298ba");
    EXPECT_EQ(apply(tr("x", "", DELETE), sv), 1);
    EXPECT_EQ(hex(str(sv)), "c3a9e298ba");
}

TEST_F(Trans, ValuesBecomeStrings)
{
    SV* n = sv_new_from_int(gcb, 111);
    EXPECT_EQ(apply(tr("1", "2"), n), 3);
    EXPECT_EQ(str(n), "222");
    EXPECT_EQ(n->flags & (SVf_IOK | SVp_IOK | SVf_POK), SVf_POK);
    // Counting leaves a number as it was.
    SV* m = sv_new_from_int(gcb, 121);
    EXPECT_EQ(apply(tr("1", ""), m), 2);
    EXPECT_TRUE(m->flags & SVf_IOK);
}

TEST_F(Trans, ReadOnlyValues)
{
    SV* ro = bytes("abc");
    ro->flags |= SVf_READONLY;
    // Counting is allowed.
    EXPECT_EQ(apply(tr("ab", ""), ro), 2);
    EXPECT_EQ(str(ro), "abc");
    Outcome out = call(tr("a", "b"), {ro});
    EXPECT_EQ(out.code, 2);
    EXPECT_EQ(err_text(), "Modification of a read-only value attempted.\n");
    clear_err();
    // Even an empty read-only string is refused unless the op only counts.
    SV* empty = bytes("");
    empty->flags |= SVf_READONLY;
    out = call(tr("a", "b"), {empty});
    EXPECT_EQ(out.code, 2);
    clear_err();
    EXPECT_EQ(apply(tr("a", ""), empty), 0);
}

TEST_F(Trans, EmptyStringCallsNoMagic)
{
    SV* sv = bytes("");
    sv_upgrade_body(gcb, sv, SVt_PVMG);
    sv_add_magic(gcb, sv, nullptr, 'f', nullptr, 0);
    sv->flags |= SVf_COMPILED;
    EXPECT_EQ(apply(tr("a", "b"), sv), 0);
    // The 'f' magic's set method would have cleared the compiled flag.
    EXPECT_TRUE(sv->flags & SVf_COMPILED);
    sv_set_bytes(gcb, sv, "a", 1);
    sv->flags |= SVf_COMPILED;
    EXPECT_EQ(apply(tr("a", "b"), sv), 1);
    EXPECT_FALSE(sv->flags & SVf_COMPILED);
}

TEST_F(Trans, DefaultVariable)
{
    GV* underscore = gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PV);
    SV* dollar = gv_gp(underscore)->gp_sv;
    sv_set_bytes(gcb, dollar, "hello", 5);
    OP* o = tr(alphabet(), upper());
    o->op_flags = OPf_WANT_SCALAR;
    Outcome out = call(o, {});
    EXPECT_EQ(sv_to_int(gcb, one(out)), 5);
    EXPECT_EQ(str(dollar), "HELLO");
}

TEST_F(Trans, MissingTables)
{
    struct Case {
        uint8_t flags;
        const char* message;
    } cases[] = {
        {0, "panic: do_trans_simple.\n"},
        {IDENTICAL, "panic: do_trans_count.\n"},
        {SQUASH, "panic: do_trans_complex.\n"},
    };
    for (const Case& c : cases) {
        clear_err();
        OP* o = op_new_string(gcb, OP_TRANS, OPf_STACKED, nullptr);
        o->op_private = c.flags;
        Outcome out = call(o, {bytes("x")});
        EXPECT_EQ(out.code, 2);
        EXPECT_EQ(err_text(), c.message);
    }
}

TEST_F(Trans, SimpleSwashEngine)
{
    // a-c to A-C; NONE is one past the highest replacement.
    OP* o = tr_utf8({{'a', 'A'}, {'b', 'B'}, {'c', 'C'}}, 'D', 0, {0x263A, 0xE9});
    SV* sv = utf8("abc\xe2\x98\xba" "d");
    EXPECT_EQ(apply(o, sv), 3);
    EXPECT_EQ(hex(str(sv)), hex("ABC\xe2\x98\xba" "d"));
    EXPECT_TRUE(sv->flags & SVf_UTF8);

    // A 7-bit byte string is worked on directly and left without the flag.
    sv = bytes("cab");
    EXPECT_EQ(apply(o, sv), 3);
    EXPECT_EQ(str(sv), "CAB");
    EXPECT_FALSE(sv->flags & SVf_UTF8);
    // ... unless the UTF-8 hint is in force.
    gcb->compile_hints |= HINT_UTF8;
    sv = bytes("a");
    apply(o, sv);
    EXPECT_TRUE(sv->flags & SVf_UTF8);
    gcb->compile_hints &= ~HINT_UTF8;

    // A byte string with high bytes is upgraded for the work, then brought back.
    sv = bytes("\xe9" "a");
    EXPECT_EQ(apply(o, sv), 1);
    EXPECT_EQ(hex(str(sv)), "e941");
    EXPECT_FALSE(sv->flags & SVf_UTF8);
}

TEST_F(Trans, SimpleSwashEngineMakesRoomBeforeItWrites)
{
    // a to U+263A (three bytes) without GROWS: in place the output would
    // overtake the unread source; it moves to a block of its own first.
    OP* o = tr_utf8({{'a', 0x263A}}, 0x263B, 0, {'x'});
    SV* sv = utf8("aaaax");
    EXPECT_EQ(apply(o, sv), 4);
    EXPECT_EQ(hex(str(sv)), "e298bae298bae298bae298ba78");
    SV* longer = utf8(std::string(200, 'a'));
    EXPECT_EQ(apply(o, longer), 200);
    std::string expect;
    for (int i = 0; i < 200; i++)
        expect += "\xe2\x98\xba";
    EXPECT_EQ(str(longer), expect);
    // With GROWS the block is made at once and grown as needed.
    OP* g = tr_utf8({{'a', 0x10FFFF}}, 0x110000, GROWS, {'x'});
    SV* many = utf8(std::string(100, 'a'));
    EXPECT_EQ(apply(g, many), 100);
    EXPECT_EQ(sv_cur(many), 400u);
}

TEST_F(Trans, SimpleSwashEngineExtraValues)
{
    // d looks up as the extra value (NONE + 1): it counts and writes FINAL;
    // e looks up above it: skipped and not counted.
    OP* o = tr_utf8({{'a', 'A'}, {'d', 'C'}, {'e', 'D'}}, 'B', 0, {}, 'Z');
    SV* sv = utf8("ade");
    EXPECT_EQ(apply(o, sv), 2);
    EXPECT_EQ(str(sv), "AZ");
}

TEST_F(Trans, CountSwashEngine)
{
    OP* o = tr_utf8({{'a', 'a'}, {0x263A, 0x263A}}, 0x263B, IDENTICAL, {0xE9});
    SV* sv = utf8("a\xe2\x98\xba" "ba");
    sv->flags |= SVf_READONLY;
    EXPECT_EQ(apply(o, sv), 3);
    EXPECT_EQ(hex(str(sv)), hex("a\xe2\x98\xba" "ba"));
    SV* high = bytes("\xe9" "aa");
    EXPECT_EQ(apply(o, high), 2);
    EXPECT_EQ(hex(str(high)), "e96161");
}

TEST_F(Trans, ComplexSwashEngine)
{
    // Deleting: b looks up as the extra value under d.
    OP* del = tr_utf8({{'a', 'A'}, {'b', 'C'}}, 'B', DELETE, {0x263A});
    SV* sv = utf8("abab\xe2\x98\xba");
    EXPECT_EQ(apply(del, sv), 4);
    EXPECT_EQ(hex(str(sv)), hex("AA\xe2\x98\xba"));

    // Squashing runs of the same translation; a copy ends a run.
    OP* sq = tr_utf8({{'a', 'A'}, {'b', 'A'}}, 'B', SQUASH, {0x263A});
    sv = utf8("aab\xe2\x98\xba" "ba");
    EXPECT_EQ(apply(sq, sv), 5);
    EXPECT_EQ(hex(str(sv)), hex("A\xe2\x98\xba" "A"));

    // Characters beyond the replacement list write FINAL once per run.
    OP* fin = tr_utf8({{'a', 'X'}, {'b', 'Z'}, {'c', 'Z'}}, 'Y', SQUASH, {}, 'X');
    sv = utf8("abcc");
    EXPECT_EQ(apply(fin, sv), 4);
    EXPECT_EQ(str(sv), "X");

    // Growth without GROWS takes a block of its own here too.
    OP* wide = tr_utf8({{'a', 0x263A}}, 0x263B, SQUASH, {'x'});
    sv = utf8("axaxa");
    EXPECT_EQ(apply(wide, sv), 3);
    EXPECT_EQ(hex(str(sv)), "e298ba78e298ba78e298ba");
}

}  // namespace
