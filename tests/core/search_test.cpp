// String search: delimiter copy, plain substring search, the Boyer-Moore
// compile and search with tail-marked strings, the study-table search and
// the case-blind comparison.
#include <string>
#include <vector>

#include "ds/src/prxbridge.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxsearch.h"
#include "ds/src/prxmg.h"
#include "ds/src/prxsv.h"
#include "fixture.h"

namespace {

using prxtest::Interp;

class Search : public Interp {
protected:
    // A compiled search string of text with the given compile flags.
    SV* compiled(const std::string& text, uint32_t flags = 0)
    {
        SV* sv = sv_new_from_bytes(gcb, text.data(), text.size());
        boyer_moore_prepare(gcb, sv, flags);
        return sv;
    }
    // Offset of the match in hay, -1 for none.
    int64_t bm(const std::string& hay, SV* little, uint32_t flags = 0)
    {
        buffer.assign(hay.begin(), hay.end());
        buffer.push_back('\0');
        char* found = boyer_moore_search(gcb, buffer.data(), buffer.data() + hay.size(), little, flags);
        return found ? found - buffer.data() : -1;
    }
    const uint8_t* table(SV* sv) { return reinterpret_cast<const uint8_t*>(sv_pv(sv) + sv_cur(sv) + 2); }
    std::vector<char> buffer;
};

TEST_F(Search, CopyToDelimiter)
{
    const std::string src = "a\\/b/c";
    char dst[16];
    int32_t count = -1;
    const char* at = copy_to_delimiter(gcb, dst, dst + sizeof dst, src.data(), src.data() + src.size(), '/', &count);
    EXPECT_STREQ(dst, "a/b");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(at - src.data(), 4);

    // Two bytes of room: "a/" and no terminator, and still a count of 3.
    char small[3] = {'x', 'x', 'x'};
    at = copy_to_delimiter(gcb, small, small + 2, src.data(), src.data() + src.size(), '/', &count);
    EXPECT_EQ(std::string(small, 3), "a/x");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(at - src.data(), 4);

    // Other escapes are copied whole; no delimiter ends at the source end.
    const std::string esc = "x\\ny";
    at = copy_to_delimiter(gcb, dst, dst + sizeof dst, esc.data(), esc.data() + esc.size(), '/', &count);
    EXPECT_STREQ(dst, "x\\ny");
    EXPECT_EQ(count, 4);
    EXPECT_EQ(at, esc.data() + esc.size());

    // A backslash as the last byte is copied and the walk stops at the end.
    const std::string trail = "ab\\";
    at = copy_to_delimiter(gcb, dst, dst + sizeof dst, trail.data(), trail.data() + 3, '/', &count);
    EXPECT_STREQ(dst, "ab\\");
    EXPECT_EQ(count, 3);
    EXPECT_EQ(at, trail.data() + 3);
}

TEST_F(Search, PlainSubstringSearch)
{
    const char* hay = "abcabc";
    EXPECT_EQ(str_find(gcb, hay, "cab"), hay + 2);
    EXPECT_EQ(str_find(gcb, hay, ""), hay);
    EXPECT_EQ(str_find(gcb, hay, nullptr), hay);
    EXPECT_EQ(str_find(gcb, hay, "bcd"), nullptr);
    EXPECT_EQ(str_find(gcb, hay, "abcabcd"), nullptr);

    const std::string h = "abcabc";
    const char* b = h.data();
    const char* e = b + h.size();
    struct Case {
        std::string needle;
        int64_t first, last;
    } cases[] = {
        {"", 0, 6}, {"abc", 0, 3}, {"c", 2, 5}, {"ca", 2, 2}, {"abcabc", 0, 0}, {"abcabca", -1, -1}, {"x", -1, -1},
    };
    for (const Case& c : cases) {
        const char* n = c.needle.data();
        const char* f = mem_find(gcb, b, e, n, n + c.needle.size());
        const char* l = mem_find_last(gcb, b, e, n, n + c.needle.size());
        EXPECT_EQ(f ? f - b : -1, c.first) << c.needle;
        EXPECT_EQ(l ? l - b : -1, c.last) << c.needle;
    }
}

TEST_F(Search, PrepareBuildsTheSkipTableAndRareByte)
{
    SV* sv = compiled("abcab");
    EXPECT_EQ(sv_type(sv), SVt_PVBM);
    EXPECT_TRUE(sv->flags & SVf_VALID);
    EXPECT_FALSE(sv->flags & SVf_TAIL);
    EXPECT_EQ(sv_cur(sv), 5u);
    EXPECT_EQ(sv_pv(sv)[5], '\0');
    EXPECT_EQ(sv_pv(sv)[6], '\0');  // the flag byte
    const uint8_t* t = table(sv);
    EXPECT_EQ(t[uint8_t{'a'}], 1);
    EXPECT_EQ(t[uint8_t{'b'}], 0);
    EXPECT_EQ(t[uint8_t{'c'}], 2);
    for (int c : {0, int{'d'}, int{'x'}, 0xFF})
        EXPECT_EQ(t[c], 5) << c;
    EXPECT_NE(mg_find_by_type(gcb, sv, 'B'), nullptr);
    // Frequency entries: 'a' 248, 'b' 227, 'c' 244.
    auto* body = static_cast<PVBM*>(sv->any);
    EXPECT_EQ(body->rare, 'b');
    EXPECT_EQ(body->previous, 1);
    EXPECT_EQ(body->useful, 100);

    // 'e' and the blank share the entry 255: the earliest one wins.
    struct Case {
        const char* text;
        uint8_t rare;
        uint16_t at;
    } cases[] = {{"e e", 'e', 0}, {" ee", ' ', 0}, {"xqxq", 'q', 1}};
    for (const Case& c : cases) {
        auto* b = static_cast<PVBM*>(compiled(c.text)->any);
        EXPECT_EQ(b->rare, c.rare) << c.text;
        EXPECT_EQ(b->previous, c.at) << c.text;
    }
}

TEST_F(Search, PrepareLimitsTheTableToTheLast255Bytes)
{
    std::string text = "Z" + std::string(299, 'a');
    text[299 - 254] = 'Q';  // within the last 255 bytes
    SV* sv = compiled(text);
    const uint8_t* t = table(sv);
    EXPECT_EQ(t[uint8_t{'a'}], 0);
    EXPECT_EQ(t[uint8_t{'Q'}], 254);
    EXPECT_EQ(t[uint8_t{'Z'}], 255);  // only in the first bytes: not in the table
    EXPECT_EQ(t[uint8_t{'b'}], 255);
}

TEST_F(Search, PrepareOfShortAndEmptyStrings)
{
    SV* empty = compiled("");
    EXPECT_EQ(sv_type(empty), SVt_PVBM);
    EXPECT_FALSE(empty->flags & SVf_VALID);
    EXPECT_EQ(mg_find_by_type(gcb, empty, 'B'), nullptr);

    SV* two = compiled("ab");
    EXPECT_TRUE(two->flags & SVf_VALID);
    EXPECT_EQ(static_cast<PVBM*>(two->any)->useful, 100);

    SV* tail = compiled("abc", 1);
    EXPECT_EQ(str(tail), "abc\n");
    EXPECT_TRUE(tail->flags & SVf_TAIL);
    EXPECT_EQ(sv_pv(tail)[5], 1);  // flag byte after the terminator
}

TEST_F(Search, PrepareTracesTheRareByteUnderTheDebugBit)
{
    gcb->debug_flags = 0x200;
    compiled("hello");
    EXPECT_EQ(std::string(gcb->out.buf, gcb->out.len), "rarest char h at 0%n");
}

TEST_F(Search, BoyerMooreSearch)
{
    SV* abc = compiled("abc");
    SV* tail_abc = compiled("abc", 1);
    SV* plain_tail = sv_new_from_bytes(gcb, "abc\n", 4);  // TAIL but not compiled
    plain_tail->flags |= SVf_TAIL;
    SV* tail1 = compiled("", 1);   // "\n"
    SV* tail2 = compiled("a", 1);  // "a\n"
    SV* two = compiled("ab");
    SV* one = compiled("b");
    SV* empty = compiled("");
    struct Case {
        const char* what;
        SV* little;
        std::string hay;
        uint32_t flags;
        int64_t want;
    } cases[] = {
        {"plain", abc, "xxabcxabc", 0, 2},
        {"none", abc, "ababab", 0, -1},
        {"at end", abc, "xxxxabc", 0, 4},
        {"short hay", abc, "ab", 0, -1},
        {"empty needle", empty, "xyz", 0, 0},
        {"one byte", one, "aab", 0, 2},
        {"one byte absent", one, "aaa", 0, -1},
        {"two bytes", two, "xaxab", 0, 3},
        {"two bytes at odd offset", two, "xab", 0, 1},
        {"two bytes at start", two, "abab", 0, 0},
        {"two bytes absent", two, "aaaa", 0, -1},
        // Tail-compiled "abc" (stored with its newline), anchored.
        {"tail, no final newline", tail_abc, "xxabc", 0, 2},
        {"tail, final newline", tail_abc, "xxabc\n", 0, 2},
        {"tail, not at end", tail_abc, "abcx", 0, -1},
        {"tail, hay of L-1 bytes", tail_abc, "abc", 0, 0},
        // Multi-line: the newline may be inside; the end still matches.
        {"tail multi-line inside", tail_abc, "abc\nxyz", 1, 0},
        {"tail multi-line at end", tail_abc, "xxabc", 1, 2},
        {"tail multi-line none", tail_abc, "xxabd", 1, -1},
        // Long subjects where the needle's rarest byte (its newline) runs out.
        {"tail multi-line long, at end", tail_abc, std::string(5000, 'x') + "abc", 1, 5000},
        {"tail multi-line long, none", tail_abc, std::string(5000, 'x') + "abd", 1, -1},
        {"tail multi-line long, newline early", tail_abc, "xxxx\n" + std::string(5000, 'x') + "abc", 1, 5005},
        {"uncompiled tail at end", plain_tail, "xxabc", 1, 2},
        {"uncompiled tail inside", plain_tail, "abc\nx", 1, 0},
        // A lone newline: the end of the string, before a final newline.
        {"dollar", tail1, "ab", 0, 2},
        {"dollar before newline", tail1, "ab\n", 0, 2},
        {"dollar multi-line", tail1, "a\nb", 1, 1},
        {"dollar multi-line none", tail1, "ab", 1, 2},
        {"a dollar", tail2, "ba\n", 0, 1},
        {"a dollar no newline", tail2, "ba", 0, 1},
        {"a dollar none", tail2, "ab", 0, -1},
        {"a dollar multi-line", tail2, "a\nb", 1, 0},
        {"a dollar multi-line end", tail2, "ba", 1, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bm(c.hay, c.little, c.flags), c.want) << c.what;
}

TEST_F(Search, BoyerMooreAgreesWithPlainSearch)
{
    // Every needle of up to 4 bytes over a small alphabet against a fixed
    // haystack: the compiled search finds what mem_find finds.
    const std::string hay = "abacabadabacabaeabacabadabacabaf";
    const char alpha[] = "abcdef";
    for (int len = 3; len <= 4; len++) {
        int total = 1;
        for (int i = 0; i < len; i++)
            total *= 6;
        for (int code = 0; code < total; code++) {
            std::string n;
            for (int i = 0, k = code; i < len; i++, k /= 6)
                n += alpha[k % 6];
            SV* little = compiled(n);
            const char* want = mem_find(gcb, hay.data(), hay.data() + hay.size(), n.data(), n.data() + n.size());
            ASSERT_EQ(bm(hay, little), want ? want - hay.data() : -1) << n;
            sv_release(gcb, little);
        }
    }
}

TEST_F(Search, BoyerMooreOverLongSubjectsWhateverTheRareByte)
{
    // Long subjects where the needle's rarest byte is common (the search
    // leaves the byte scan for the skip loop part-way) or absent until the
    // match: the result is always the leftmost match.
    struct Case {
        std::string hay;
        std::string needle;
    };
    std::vector<Case> cases;
    uint32_t seed = 12345;
    auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int i = 0; i < 40; i++) {
        std::string hay;
        for (int k = 0; k < 3000; k++)
            hay += "ab"[next() % 2];
        std::string needle;
        int len = 3 + i % 8;
        for (int k = 0; k < len; k++)
            needle += "ab"[next() % 2];
        cases.push_back({hay, needle});
    }
    cases.push_back({std::string(5000, 'e') + "eeeeq" + std::string(10, 'e'), "eeeeq"});
    cases.push_back({std::string(5000, 'x') + "Holmes", "Holmes"});
    cases.push_back({std::string(5000, 'x'), "Holmes"});
    std::string spaced;
    for (int k = 0; k < 400; k++)
        spaced += "kk k ";
    cases.push_back({spaced + "kkkq", "kkkq"});
    for (const Case& c : cases) {
        SV* little = compiled(c.needle);
        const char* want = mem_find(gcb, c.hay.data(), c.hay.data() + c.hay.size(), c.needle.data(),
                                    c.needle.data() + c.needle.size());
        ASSERT_EQ(bm(c.hay, little), want ? want - c.hay.data() : -1) << c.needle;
        sv_release(gcb, little);
    }
}

class StudySearch : public Search {
protected:
    // Builds the study tables of text as the study op does.
    SV* study(const std::string& text)
    {
        SV* sv = sv_new_from_bytes(gcb, text.data(), text.size());
        first.assign(256, -1);
        next.assign(text.size() + 1, 0);
        for (int64_t i = static_cast<int64_t>(text.size()) - 1; i >= 0; i--) {
            uint8_t c = static_cast<uint8_t>(text[i]);
            next[i] = first[c] >= 0 ? first[c] - static_cast<int32_t>(i) : -static_cast<int32_t>(i);
            first[c] = static_cast<int32_t>(i);
        }
        gcb->study_first = first.data();
        gcb->study_next = next.data();
        return sv;
    }
    int64_t find(SV* big, SV* little, int32_t start_shift, int32_t end_shift, int32_t* pos, int32_t last)
    {
        char* m = study_find(gcb, big, little, start_shift, end_shift, pos, last);
        return m ? m - sv_pv(big) : -1;
    }
    std::vector<int32_t> first, next;
};

TEST_F(StudySearch, WalksTheRareBytesChain)
{
    SV* big = study("xyzabcxxabcxabd");
    SV* little = compiled("abc");  // rare byte 'b' at 1
    int32_t pos = -1;
    EXPECT_EQ(find(big, little, 0, 0, &pos, 0), 3);
    EXPECT_EQ(pos, 4);  // the chain position of the rare byte
    EXPECT_EQ(find(big, little, 0, 0, &pos, 0), 8);
    EXPECT_EQ(pos, 9);
    EXPECT_EQ(find(big, little, 0, 0, &pos, 0), -1);

    // The last flag returns the last match.
    pos = -1;
    EXPECT_EQ(find(big, little, 0, 0, &pos, 1), 8);
    // A start shift skips the early positions; an end shift the late ones.
    pos = -1;
    EXPECT_EQ(find(big, little, 4, 0, &pos, 0), 8);
    pos = -1;
    EXPECT_EQ(find(big, little, 0, 5, &pos, 0), 3);
    // The rare byte absent.
    SV* q = compiled("qqq");
    pos = -1;
    EXPECT_EQ(find(big, q, 0, 0, &pos, 0), -1);
}

TEST_F(StudySearch, TailCheckAtTheEnd)
{
    SV* big = study("xxabc");
    SV* little = compiled("abc", 1);  // "abc\n", rare byte 'b'
    int32_t pos = -1;
    EXPECT_EQ(find(big, little, 0, 0, &pos, 0), 2);
    // With a positive end shift the tail does not count.
    pos = -1;
    EXPECT_EQ(find(big, little, 0, 1, &pos, 0), -1);

    // A lone newline whose byte does not occur: the end of the string.
    SV* dollar = compiled("", 1);
    EXPECT_EQ(static_cast<PVBM*>(dollar->any)->rare, '\n');
    SV* ab = study("ab");
    pos = -1;
    EXPECT_EQ(find(ab, dollar, 0, 0, &pos, 0), 2);
}

TEST_F(Search, CaseBlindComparison)
{
    gcb->fold_table = static_cast<uint8_t*>(pool_malloc(gcb, 256));
    rexhost_build_fold(gcb);
    EXPECT_EQ(mem_casecmp(gcb, "Hello", "hELLO", 5), 0);
    EXPECT_EQ(mem_casecmp(gcb, "Hello", "hELLx", 5), 1);
    EXPECT_EQ(mem_casecmp(gcb, "x", "y", 0), 0);
    // Only b's byte is folded: with a fold table that maps 'b' to 'A' but
    // 'A' to itself, the comparison is not symmetric.
    uint8_t fold[256];
    for (int i = 0; i < 256; i++)
        fold[i] = static_cast<uint8_t>(i);
    fold[uint8_t{'b'}] = 'A';
    gcb->fold_table = fold;
    EXPECT_EQ(mem_casecmp(gcb, "A", "b", 1), 0);
    EXPECT_EQ(mem_casecmp(gcb, "b", "A", 1), 1);
}

}  // namespace
