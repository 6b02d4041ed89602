// The string buffer: growth, offset start, insertion, appending, character
// offsets and comparison.
#include "fixture.h"

namespace {

using prxtest::Interp;
using SvBuf = Interp;

TEST_F(SvBuf, AppendingTheOwnBufferToItself)
{
    SV* sv = sv_new_from_bytes(gcb, "abc", 3);
    ASSERT_EQ(sv_len(sv), 4u);   // must grow
    sv_append_bytes(gcb, sv, sv_pv(sv), sv_cur(sv));
    EXPECT_EQ(str(sv), "abcabc");
    // A piece from the middle of the own buffer follows the buffer when it moves.
    SV* t = sv_new_from_bytes(gcb, "0123456789", 10);
    for (int i = 0; i < 6; i++)
        sv_append_bytes(gcb, t, sv_pv(t) + 3, 4);
    EXPECT_EQ(str(t), "0123456789345634563456345634563456");
    // An offset start that is undone moves the bytes too.
    SV* o = sv_new_from_bytes(gcb, "xxhello", 7);
    sv_chop_front(gcb, o, sv_pv(o) + 2);
    sv_append_bytes(gcb, o, sv_pv(o) + 1, 3);
    EXPECT_EQ(str(o), "helloell");
    EXPECT_FALSE(o->flags & SVf_OOK);
}

TEST_F(SvBuf, AppendCStringAndFlags)
{
    SV* sv = sv_new_from_int(gcb, 5);
    sv_set_bytes(gcb, sv, "n=", 2);
    sv->flags |= SVf_IOK | SVp_IOK;
    sv_append_cstring(gcb, sv, "12");
    sv_append_cstring(gcb, sv, nullptr);
    EXPECT_EQ(str(sv), "n=12");
    EXPECT_EQ(sv->flags & (SVf_IOK | SVp_IOK | SVf_POK | SVp_POK), SVf_POK | SVp_POK);
    EXPECT_EQ(sv_pv(sv)[4], 0);
}

TEST_F(SvBuf, InsertReplacesRanges)
{
    struct Case {
        const char* start;
        uint64_t offset, len;
        const char* little;
        std::string want;
        bool ook;
    } cases[] = {
        {"abcdef", 2, 1, "XYZ", "abXYZdef", false},
        {"abcdef", 1, 3, "Q", "aQef", true},              // head shorter than tail: the start moves
        {"abcdef", 3, 2, "", "abcf", false},              // head longer: the tail moves down
        {"abcdef", 0, 2, "Z", "Zcdef", true},             // empty head
        {"abcdef", 0, 3, "", "def", true},
        {"abcdef", 2, 2, "WV", "abWVef", false},
        {"ab", 5, 0, "X", std::string("ab\0\0\0X", 6), false},
    };
    for (const Case& c : cases) {
        SV* sv = sv_new_from_bytes(gcb, c.start, std::strlen(c.start));
        sv_insert(gcb, sv, c.offset, c.len, c.little, std::strlen(c.little));
        EXPECT_EQ(str(sv), c.want) << c.start << " @" << c.offset;
        EXPECT_EQ(sv_cur(sv), c.want.size());
        EXPECT_EQ(sv_pv(sv)[sv_cur(sv)], 0);
        EXPECT_EQ((sv->flags & SVf_OOK) != 0, c.ook) << c.start << " @" << c.offset;
    }
}

// A string built by appends, insertions at its end or vec grows its buffer
// by half at a time, not by the bytes each piece asks for: a million bytes
// in pieces of one take a few dozen buffers, not a million.
TEST_F(SvBuf, StringsBuiltPieceByPieceGrowGeometrically)
{
    struct Case {
        const char* what;
        void (*add)(PERLGCB* gcb, SV* sv, uint64_t i);
    } cases[] = {
        {"append", [](PERLGCB* gcb, SV* sv, uint64_t) { sv_append_bytes(gcb, sv, "x", 1); }},
        {"append C string", [](PERLGCB* gcb, SV* sv, uint64_t) { sv_append_cstring(gcb, sv, "y"); }},
        {"insert at the end", [](PERLGCB* gcb, SV* sv, uint64_t i) { sv_insert(gcb, sv, i + 2, 0, "z", 1); }},
    };
    for (const Case& c : cases) {
        SV* sv = sv_new_from_bytes(gcb, "ab", 2);
        int buffers = 0;
        uint64_t last = sv_len(sv);
        for (uint64_t i = 0; i < 1000000; i++) {
            c.add(gcb, sv, i);
            if (sv_len(sv) != last) {
                buffers++;
                last = sv_len(sv);
            }
        }
        EXPECT_EQ(sv_cur(sv), 1000002u) << c.what;
        EXPECT_LT(buffers, 60) << c.what;
        EXPECT_LT(sv_len(sv), 3000000u) << c.what;
        sv_release(gcb, sv);
    }
}

TEST_F(SvBuf, GrowthOfAnOffsetStringAddsTenTimesTheRequest)
{
    SV* sv = sv_new_head(gcb);
    sv_upgrade_body(gcb, sv, SVt_PV);
    sv_grow_buffer(gcb, sv, 12);
    sv_set_bytes(gcb, sv, "X0123456789", 11);
    ASSERT_EQ(sv_len(sv), 12u);
    sv_chop_front(gcb, sv, sv_pv(sv) + 1);
    EXPECT_EQ(sv_iv(sv), 1);
    EXPECT_EQ(sv_len(sv), 11u);
    sv_grow_buffer(gcb, sv, 20);
    EXPECT_EQ(sv_len(sv), 120u);
    EXPECT_EQ(str(sv), "0123456789");
    // Without an offset sizes are used exactly.
    SV* plain = sv_new_from_bytes(gcb, "ab", 2);
    sv_grow_buffer(gcb, plain, 20);
    EXPECT_EQ(sv_len(plain), 20u);
    sv_grow_buffer(gcb, plain, 10);
    EXPECT_EQ(sv_len(plain), 20u);
}

TEST_F(SvBuf, ChopFrontOfABorrowedBuffer)
{
    static char borrowed[] = "abcdef";
    SV* sv = sv_new_head(gcb);
    sv_upgrade_body(gcb, sv, SVt_PV);
    sv_pv(sv) = borrowed;
    sv_cur(sv) = 6;
    sv_len(sv) = 0;
    sv->flags |= SVf_POK | SVp_POK;
    sv_chop_front(gcb, sv, borrowed + 2);
    EXPECT_EQ(str(sv), "cdef");
    EXPECT_NE(sv_pv(sv), borrowed + 2);
    EXPECT_STREQ(borrowed, "abcdef");
}

TEST_F(SvBuf, CompareStrings)
{
    struct Case {
        const char* a;
        const char* b;   // null: no value
        int32_t cmp;
        int32_t eq;
    } cases[] = {
        {"", "", 0, 1},   {"", "a", -1, 0},   {"a", "", 1, 0},    {"ab", "abc", -1, 0},
        {"abc", "ab", 1, 0}, {"\x80", "a", 1, 0}, {"abc", "abd", -1, 0}, {"same", "same", 0, 1},
        {"", nullptr, 0, 1}, {"x", nullptr, 1, 0},
    };
    for (const Case& c : cases) {
        SV* a = sv_new_from_bytes(gcb, c.a, std::strlen(c.a));
        SV* b = c.b ? sv_new_from_bytes(gcb, c.b, std::strlen(c.b)) : nullptr;
        EXPECT_EQ(sv_compare_strings(gcb, a, b), c.cmp) << c.a << " vs " << (c.b ? c.b : "(none)");
        EXPECT_EQ(sv_strings_equal(gcb, a, b), c.eq) << c.a << " vs " << (c.b ? c.b : "(none)");
    }
    EXPECT_EQ(sv_compare_strings(gcb, nullptr, nullptr), 0);
    EXPECT_EQ(sv_strings_equal(gcb, nullptr, sv_new_from_bytes(gcb, "", 0)), 1);
}

TEST_F(SvBuf, CharacterOffsetsToBytes)
{
    SV* sv = sv_new_from_bytes(gcb, "a\xC3\xA9" "b\xE2\x82\xAC" "c", 8);
    sv->flags |= SVf_UTF8;
    struct Case {
        int32_t off, len, want_off, want_len;
    } cases[] = {{0, 1, 0, 1}, {1, 2, 1, 3}, {2, 2, 3, 4}, {4, 5, 7, 1}, {9, 3, 8, 0}};
    for (const Case& c : cases) {
        int32_t off = c.off, len = c.len;
        sv_pos_char_to_byte(gcb, sv, &off, &len);
        EXPECT_EQ(off, c.want_off) << c.off;
        EXPECT_EQ(len, c.want_len) << c.off;
    }
    int32_t off = 3;
    sv_pos_char_to_byte(gcb, sv, &off, nullptr);
    EXPECT_EQ(off, 4);
}

}  // namespace
