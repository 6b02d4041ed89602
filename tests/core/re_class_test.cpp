// The class nodes alike in the three places that test them: a single
// node, a repeat of it and the start-class scan; the named classes of a
// byte class alike when compiled and when tested under locale.
#include <string>
#include <utility>
#include <vector>

#include "re_fixture.h"
#include "ds/src/prxregmatch.h"

namespace prxtest {
namespace {

class Classes : public Engine {
protected:
    void SetUp() override
    {
        Engine::SetUp();
        // Latin-1 members in the host table, so that the plain and locale
        // forms part ways on the high bytes.
        saved[0] = h->cclass[0xE9];
        saved[1] = h->cclass[0xB2];
        saved[2] = h->cclass[0xA0];
        h->cclass[0xE9] = HC_LOWER;
        h->cclass[0xB2] = HC_DIGIT;
        h->cclass[0xA0] = HC_SPACE;
    }
    void TearDown() override
    {
        h->cclass[0xE9] = saved[0];
        h->cclass[0xB2] = saved[1];
        h->cclass[0xA0] = saved[2];
        Engine::TearDown();
    }

    // The first node of the given type in the program, looking into the
    // operand of a simple repeat.
    static re_program_node* find_node(re_compiled* rx, uint8_t type)
    {
        auto* n = reinterpret_cast<re_program_node*>(rx->program + 1);
        for (; n; n = re_next_in_program(n)) {
            if (n->type == type)
                return n;
            if ((n->type == RE_PLUS || n->type == RE_STAR) && re_after(n)->type == type)
                return re_after(n);
            if (n->type == RE_END)
                break;
        }
        return nullptr;
    }

    // Compiles text, whose class node has the type base, and turns that node
    // into op.
    re_compiled* compile_as(const std::string& text, const char* flags, uint8_t base, uint8_t op)
    {
        re_compiled* rx = compile(text, flags);
        EXPECT_NE(rx, nullptr) << text << ": " << err_text();
        if (!rx)
            return nullptr;
        re_program_node* n = find_node(rx, base);
        EXPECT_NE(n, nullptr) << text;
        if (!n) {
            pregfree(gcb, rx);
            return nullptr;
        }
        n->type = op;
        return rx;
    }

    // Sets the match state the counter and the scan read, for subject.
    void enter(re_compiled* rx, const std::string& subject, bool utf8)
    {
        subj = subject;
        gcb->re_subject_begin = subj.data();
        gcb->re_subject_end = subj.data() + subj.size();
        gcb->re_input = subj.data();
        gcb->re_data = rx->data;
        gcb->re_match_flags = utf8 ? uint32_t{RF_UTF8} : 0u;
    }
    // The start-class scan of node over subject in check-only mode: whether
    // it stops at the first position.
    bool scan_accepts(re_compiled* rx, re_program_node* node, const std::string& subject, bool utf8)
    {
        enter(rx, subject, utf8);
        const char* at = nullptr;
        int32_t code = guarded([&] {
            at = re_scan_start_class(gcb, rx, node, subj.data(), subj.data() + subj.size(), subj.data(), 1);
        });
        EXPECT_EQ(code, 0) << err_text();
        return at == subj.data();
    }
    // The repeat counter of node over subject: the count, and the bytes it
    // moved over.
    std::pair<int32_t, int32_t> count(re_compiled* rx, re_program_node* node, const std::string& subject, bool utf8)
    {
        enter(rx, subject, utf8);
        int32_t n = -1;
        int32_t code = guarded([&] { n = re_count_simple(gcb, node, RE_INFTY); });
        EXPECT_EQ(code, 0) << err_text();
        return {n, static_cast<int32_t>(gcb->re_input - subj.data())};
    }

    struct Outcome {
        bool single;
        bool repeat;
        bool scan;
        int32_t single_end;
        int32_t repeat_end;
    };

    // The node op, made from text whose node has type base, on the
    // character ch: a single node in a match, the repeat counter over three
    // copies of ch, and a scan for it.
    Outcome run(const std::string& text, const char* flags, uint8_t base, uint8_t op, const std::string& ch)
    {
        Outcome o{};
        bool utf8 = std::string(flags).find('u') != std::string::npos;
        if (re_compiled* rx = compile_as("^" + text, flags, base, op)) {
            o.single = match(rx, ch) == 1;
            o.single_end = o.single ? rx->end_offsets[0] : -1;
            pregfree(gcb, rx);
        }
        if (re_compiled* rx = compile_as(text, flags, base, op)) {
            auto [n, moved] = count(rx, find_node(rx, op), ch + ch + ch, utf8);
            o.repeat = n == 3;
            o.repeat_end = n == 3 ? moved : n == 0 && moved == 0 ? -1 : -2;
            pregfree(gcb, rx);
        }
        if (re_compiled* rx = compile_as(text, flags, base, op)) {
            o.scan = scan_accepts(rx, find_node(rx, op), ch, utf8);
            pregfree(gcb, rx);
        }
        return o;
    }

    uint8_t saved[3] = {};
};

const std::vector<std::string> byte_chars = {"a", "Z", "_", "5", " ", "\t", "\v", "\n", "!",
                                             std::string(1, '\0'), "\xE9", "\xB2", "\xA0", "\xFF"};
// The UTF-8 forms on ASCII characters and on the characters from 0x80 to
// 0xFF that the locale forms settle without the Unicode tables; the tables
// behind the other characters come from an interpreter-level package that
// this fixture does not load.
const std::vector<std::string> utf8_ascii = {"a", "_", "5", " ", "\v", "\n", "!"};
const std::vector<std::string> utf8_latin1 = {"a", "_", "5", " ", "\v", "\n", "!", "\xC3\xA9", "\xC2\xB2", "\xC2\xA0"};

struct NodeRow {
    const char* text;
    const char* flags;
    uint8_t base;  // the type the compiler gives text's node (a UTF-8 \\w would
                   // load the Unicode tables when compiled, so the UTF-8
                   // forms are made from a dot)
    uint8_t op;    // the type it is turned into
};

const NodeRow node_rows[] = {
    {"[b-d5]", "", RE_ANYOF, RE_ANYOF},
    {"[^\\s]", "", RE_ANYOF, RE_ANYOF},
#define BYTE_ROW(name) {"\\w", "", RE_ALNUM, RE_##name},
#define UTF8_ROW(name) {".", "u", RE_ANYUTF8, RE_##name},
    BYTE_ROW(ALNUM) BYTE_ROW(ALNUML) BYTE_ROW(NALNUM) BYTE_ROW(NALNUML) BYTE_ROW(SPACE) BYTE_ROW(SPACEL)
    BYTE_ROW(NSPACE) BYTE_ROW(NSPACEL) BYTE_ROW(DIGIT) BYTE_ROW(DIGITL) BYTE_ROW(NDIGIT) BYTE_ROW(NDIGITL)
    UTF8_ROW(ALNUMUTF8) UTF8_ROW(ALNUMLUTF8) UTF8_ROW(NALNUMUTF8) UTF8_ROW(NALNUMLUTF8) UTF8_ROW(SPACEUTF8)
    UTF8_ROW(SPACELUTF8) UTF8_ROW(NSPACEUTF8) UTF8_ROW(NSPACELUTF8) UTF8_ROW(DIGITUTF8) UTF8_ROW(DIGITLUTF8)
    UTF8_ROW(NDIGITUTF8) UTF8_ROW(NDIGITLUTF8)
#undef BYTE_ROW
#undef UTF8_ROW
};

TEST_F(Classes, EveryClassNodeAlikeInMatchRepeatAndScan)
{
    for (const NodeRow& row : node_rows) {
        bool utf8 = std::string(row.flags).find('u') != std::string::npos;
        const std::vector<std::string>& chars =
            !utf8 ? byte_chars : re_class_locale(row.op) ? utf8_latin1 : utf8_ascii;
        for (const std::string& ch : chars) {
            SCOPED_TRACE(testing::Message() << re_node_names[row.op] << " from /" << row.text << "/" << row.flags
                                            << " on " << testing::PrintToString(ch));
            Outcome o = run(row.text, row.flags, row.base, row.op, ch);
            EXPECT_EQ(o.single, o.repeat);
            EXPECT_EQ(o.single, o.scan);
            if (!o.single) {
                EXPECT_EQ(o.repeat_end, -1);  // a count of 0 moves nowhere
            } else {
                // A byte node steps one byte, a UTF-8 node the whole character.
                int32_t step = utf8 ? static_cast<int32_t>(ch.size()) : 1;
                EXPECT_EQ(o.single_end, step);
                EXPECT_EQ(o.repeat_end, 3 * step);
            }
        }
    }
}

// What the forms say of the characters where they part ways.
TEST_F(Classes, PlainLocaleAndUtf8FormsOnTheirCharacters)
{
    struct Case {
        uint8_t op;
        const char* ch;
        bool accepts;
    };
    const Case cases[] = {
        {RE_ALNUM, "\xE9", true},          {RE_ALNUML, "\xE9", false},       {RE_NALNUML, "\xE9", true},
        {RE_NALNUM, "\xE9", false},        {RE_DIGIT, "\xB2", true},         {RE_DIGITL, "\xB2", false},
        {RE_NDIGITL, "\xB2", true},        {RE_DIGITL, "7", true},           {RE_SPACE, "\xA0", true},
        {RE_SPACEL, "\xA0", false},        {RE_NSPACEL, "\xA0", true},       {RE_ALNUM, "_", true},
        {RE_ALNUM, "", false},             {RE_NALNUM, "", false},           {RE_SPACE, "\v", true},
        {RE_ALNUMUTF8, "_", true},         {RE_ALNUMLUTF8, "\xC3\xA9", false}, {RE_NALNUMLUTF8, "\xC3\xA9", true},
        {RE_SPACEUTF8, "\v", true},        {RE_SPACELUTF8, "\xC2\xA0", false}, {RE_DIGITLUTF8, "\xC2\xB2", false},
        {RE_NDIGITLUTF8, "5", false},      {RE_NDIGITUTF8, "!", true},
    };
    for (const Case& c : cases) {
        bool utf8 = c.op >= RE_ALNUM && ((c.op - RE_ALNUM) & 1);
        SCOPED_TRACE(testing::Message() << re_node_names[c.op] << " on " << testing::PrintToString(std::string(c.ch)));
        re_compiled* rx = utf8 ? compile_as("^.", "u", RE_ANYUTF8, c.op) : compile_as("^\\w", "", RE_ALNUM, c.op);
        ASSERT_NE(rx, nullptr);
        EXPECT_EQ(match(rx, c.ch), c.accepts ? 1 : 0);
        pregfree(gcb, rx);
    }
}

// A locale form taints the match, in each of the three places, and a plain
// form does not.
TEST_F(Classes, LocaleFormsTaint)
{
    for (uint8_t op : {RE_ALNUML, RE_NSPACEL, RE_DIGITL, RE_ALNUM}) {
        SCOPED_TRACE(re_node_names[op]);
        bool tainting = op != RE_ALNUM;
        for (const char* text : {"^\\w", "^\\w+", "\\w"}) {
            re_compiled* rx = compile_as(text, "", RE_ALNUM, op);
            ASSERT_NE(rx, nullptr);
            match(rx, "1a ");
            EXPECT_EQ((rx->analysis_flags & REA_TAINTED) != 0, tainting) << text;
            pregfree(gcb, rx);
        }
    }
}

// The named classes of a byte class: a class compiled without locale holds
// what a locale class holds at match time on every ASCII byte; on the high
// bytes the locale class keeps only the every-byte classes (ascii's
// negation, xdigit, space, blank) and the negations, while digit stays
// ASCII in both.
TEST_F(Classes, CompiledAndLocaleNamedClassesAgree)
{
    const char* texts[30] = {"[\\w]", "[\\W]", "[\\s]", "[\\S]", "[\\d]", "[\\D]"};
    const char* names[] = {"alnum", "alpha", "ascii", "cntrl", "graph", "lower", "print",
                           "punct", "upper", "xdigit", "space", "blank"};
    std::vector<std::string> owned;
    for (const char* name : names) {
        owned.push_back(std::string("[[:") + name + ":]]");
        owned.push_back(std::string("[[:^") + name + ":]]");
    }
    for (size_t i = 0; i < owned.size(); i++)
        texts[6 + i] = owned[i].c_str();

    for (int32_t cc = 0; cc < 30; cc++) {
        SCOPED_TRACE(texts[cc]);
        re_compiled* rx = compile(texts[cc]);
        ASSERT_NE(rx, nullptr) << err_text();
        auto* compiled = reinterpret_cast<re_class_node*>(find_node(rx, RE_ANYOF));
        ASSERT_NE(compiled, nullptr);
        re_class_node locale{};
        locale.type = RE_ANYOF;
        locale.flags = RE_CLASS_LOCALE | RE_CLASS_NAMED;
        locale.classes[cc >> 3] = static_cast<uint8_t>(1u << (cc & 7));
        for (uint32_t c = 0; c < 0x80; c++)
            EXPECT_EQ(re_bitmap_test(compiled->bitmap, static_cast<uint8_t>(c)),
                      re_in_class(gcb, &locale, static_cast<uint8_t>(c)) != 0)
                << "byte " << c;
        pregfree(gcb, rx);
    }

    struct High {
        const char* text;
        int32_t cc;
        uint8_t byte;
        bool compiled;
        bool locale;
    };
    const High high[] = {
        {"[\\w]", 0, 0xE9, true, false},      {"[\\W]", 1, 0xE9, false, true},
        {"[\\d]", 4, 0xB2, false, false},     {"[\\D]", 5, 0xB2, true, true},
        {"[\\s]", 2, 0xA0, true, false},      {"[[:space:]]", 26, 0xA0, true, true},
        {"[[:lower:]]", 16, 0xE9, true, false}, {"[[:^ascii:]]", 11, 0xFF, true, true},
        {"[[:blank:]]", 28, 0xA0, false, false},
    };
    for (const High& c : high) {
        SCOPED_TRACE(c.text);
        re_compiled* rx = compile(c.text);
        ASSERT_NE(rx, nullptr) << err_text();
        auto* compiled = reinterpret_cast<re_class_node*>(find_node(rx, RE_ANYOF));
        ASSERT_NE(compiled, nullptr);
        EXPECT_EQ(re_bitmap_test(compiled->bitmap, c.byte), c.compiled);
        re_class_node locale{};
        locale.type = RE_ANYOF;
        locale.flags = RE_CLASS_LOCALE | RE_CLASS_NAMED;
        locale.classes[c.cc >> 3] = static_cast<uint8_t>(1u << (c.cc & 7));
        EXPECT_EQ(re_in_class(gcb, &locale, c.byte) != 0, c.locale);
        pregfree(gcb, rx);
    }
}

// A \d start class holds wherever the node does, so the scan finds a digit
// the host table has beyond ASCII.
TEST_F(Classes, DigitStartClassHoldsWhereTheNodeDoes)
{
    re_compiled* rx = compile("x?\\d");
    ASSERT_NE(rx, nullptr) << err_text();
    EXPECT_EQ(match(rx, "ab\xB2"), 1);
    EXPECT_EQ(rx->start_offsets[0], 2);
    pregfree(gcb, rx);
}

}  // namespace
}  // namespace prxtest
